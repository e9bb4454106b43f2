#include "converter/literal_policy.hpp"

#include "converter/names.hpp"

namespace tessaly::converter {

namespace {

// The type a declaration takes while its named type is being resolved: the
// named type when one of that name exists, else the type as written.
const schema::TypeDef* linked_type(const schema::SchemaModel& model, const schema::ElementDef& e) {
    const schema::TypeDef* named = model.find_type(e.named_type);
    return named ? named : &e.type_def;
}

}  // namespace

DeclState LiteralPolicy::child(const DeclState* parent, std::string_view local, InProgressSets& sets) const {
    if (!parent) {
        const schema::ElementDef* e = model_.elements.empty() ? nullptr : model_.find_element(local);
        if (!e) return {};
        return {.decl = e, .type = linked_type(model_, *e), .in_progress = 0, .active = true};
    }
    const schema::ElementDef* c = nullptr;
    model_.visit_content(parent->type->complex, [&](const schema::ComplexTypeDef& part) {
        for (const auto& d : part.children)
            if (same_name(d.name.local, local)) {
                c = &d;
                return true;
            }
        return false;
    });
    if (!c) return {};
    if (!parent->active || c->named_type == schema::kNoTypeName)
        return {.decl = c, .type = &c->type_def, .in_progress = parent->in_progress, .active = parent->active};
    if (sets.contains(parent->in_progress, c->named_type))
        return {.decl = c, .type = linked_type(model_, *c), .in_progress = 0, .active = false};
    return {.decl = c, .type = linked_type(model_, *c), .in_progress = sets.with(parent->in_progress, c->named_type),
            .active = true};
}

std::optional<DeclState> LiteralPolicy::switch_type(const DeclState& found, std::string_view type_local,
                                                    InProgressSets& sets) const {
    const schema::TypeDef* type = model_.find_type(type_local);
    if (!type) return std::nullopt;
    return DeclState{.decl = found.decl ? found.decl : &model_.anonymous,
                     .type = type,
                     .in_progress = sets.with(0, model_.type_name_id(type_local)),
                     .active = true};
}

const schema::AttributeDef* LiteralPolicy::attribute(const DeclState& state, std::string_view name) const {
    const schema::AttributeDef* decl = nullptr;
    model_.visit_content(state.type->complex, [&](const schema::ComplexTypeDef& part) {
        for (const auto& d : part.attributes)
            if (same_name(d.name, name)) {
                decl = &d;
                return true;
            }
        return false;
    });
    return decl;
}

}  // namespace tessaly::converter
