#include "literal_resolution.hpp"

#include <string>
#include <vector>

namespace tessaly::schema::testing {

namespace {

std::size_t declarations_in(const TypeDef& t) {
    std::size_t n = 0;
    std::vector<const TypeDef*> todo{&t};
    while (!todo.empty()) {
        const TypeDef* cur = todo.back();
        todo.pop_back();
        if (!cur->is_complex()) continue;
        n += cur->complex.children.size();
        for (const auto& c : cur->complex.children) todo.push_back(&c.type_def);
    }
    return n;
}

class Copier {
public:
    Copier(const StringMap<TypeDef>& snapshot, const ViewMap<std::string_view>& element_types, std::size_t budget)
        : snapshot_(snapshot), element_types_(element_types), budget_(budget) {}

    // Gives the children of `type` their named types. Recursion is bounded:
    // each level either adds a name to the in-progress set or descends into
    // an inline type, and the budget caps the whole.
    bool resolve_children_types(TypeDef& type, std::vector<std::string>& in_progress) {
        if (!type.is_complex() || type.complex.children.empty() || element_types_.empty()) return true;
        for (ElementDef& child : type.complex.children) {
            auto named = element_types_.find(child.name.local);
            if (named == element_types_.end()) {
                if (!resolve_children_types(child.type_def, in_progress)) return false;
                continue;
            }
            const std::string t(named->second);
            auto found = snapshot_.find(t);
            if (found != snapshot_.end()) {
                std::size_t cost = 1 + declarations_in(found->second);
                if (cost > budget_) return false;
                budget_ -= cost;
                child.type_def = found->second;
            }
            bool busy = false;
            for (const auto& n : in_progress) busy = busy || n == t;
            if (busy) continue;
            in_progress.push_back(t);
            if (!resolve_children_types(child.type_def, in_progress)) return false;
            in_progress.pop_back();
        }
        return true;
    }

private:
    const StringMap<TypeDef>& snapshot_;
    const ViewMap<std::string_view>& element_types_;
    std::size_t budget_;
};

}  // namespace

std::optional<SchemaModel> literal_model(ParseContext ctx, std::size_t budget) {
    SchemaModel& model = ctx.model;

    // Inherited content copied into each type: gathered first, since the
    // chains read the bases' own content.
    std::vector<std::pair<ComplexTypeDef*, ComplexTypeDef>> flat;
    for (auto& [name, type] : model.types) {
        if (!type.is_complex() || type.complex.inherited_count == 0) continue;
        ComplexTypeDef c;
        model.visit_content(type.complex, [&](const ComplexTypeDef& part) {
            c.children.insert(c.children.end(), part.children.begin(), part.children.end());
            c.attributes.insert(c.attributes.end(), part.attributes.begin(), part.attributes.end());
            return false;
        });
        c.mixed = type.complex.mixed;
        c.text_type = type.complex.text_type;
        flat.emplace_back(&type.complex, std::move(c));
    }
    for (auto& [target, c] : flat) *target = std::move(c);

    // Global elements take a copy of their named type, as it stands after
    // inheritance.
    for (const auto& [element, type] : ctx.element_types) {
        auto t = model.types.find(type);
        auto e = model.elements.find(element);
        if (t != model.types.end() && e != model.elements.end()) e->second.type_def = t->second;
    }

    const StringMap<TypeDef> snapshot = model.types;
    Copier copier(snapshot, ctx.element_types, budget);
    std::vector<std::string> in_progress;
    for (auto& [name, type] : model.types) {
        in_progress.assign(1, name);
        if (!copier.resolve_children_types(type, in_progress)) return std::nullopt;
    }
    for (auto& [name, e] : model.elements) {
        in_progress.clear();
        if (!copier.resolve_children_types(e.type_def, in_progress)) return std::nullopt;
    }

    model.target_namespace = ctx.target_namespace;
    model.type_name_ids.clear();
    model.type_names.clear();
    model.anonymous = ElementDef{};
    return std::move(model);
}

}  // namespace tessaly::schema::testing
