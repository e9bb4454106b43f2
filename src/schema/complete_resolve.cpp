#include "schema/complete_resolve.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace tessaly::schema {

namespace {

// At most this many bases are followed to find where a text kind comes
// from: far more than any real chain, and a bound on a cycle's cost.
constexpr int kMaxTextLinks = 64;

// Names that resolved to nothing are listed once each, sorted.
void settle(std::vector<std::string>& list) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
}

// The kind of text a type derived from `base` holds: the kind of the first
// simple type, or complex type with a known text kind, along its bases.
JsonType inherited_text_kind(const SchemaModel& model, const std::string& base) {
    const std::string* name = &base;
    for (int link = 0; link < kMaxTextLinks; ++link) {
        const TypeDef* t = model.find_type(*name);
        if (!t) return JsonType::Absent;
        if (!t->is_complex()) return t->simple;
        if (t->complex.text_type != JsonType::Absent) return t->complex.text_type;
        if (t->base_name.empty()) return JsonType::Absent;
        name = &t->base_name;
    }
    return JsonType::Absent;
}

class Completer {
public:
    explicit Completer(ParseContext& ctx)
        : ctx_(ctx), model_(ctx.model), unions_(ctx.unions), unresolved_(ctx.model.report.unresolved) {}

    void run() {
        unions();
        // Every type of the model at any depth, without recursion: inline
        // types nest as deep as the schema text does.
        std::vector<TypeDef*> todo;
        for (auto& [name, type] : model_.types) {
            named_type(type);
            todo.push_back(&type);
        }
        for (auto& [name, e] : model_.elements) {
            element(e, true);
            todo.push_back(&e.type_def);
        }
        for (auto& [name, group] : model_.groups) children(group, todo);
        while (!todo.empty()) {
            TypeDef* t = todo.back();
            todo.pop_back();
            if (!t->is_complex()) continue;
            children(t->complex, todo);
            attributes(t->complex.attributes);
        }
        for (auto& [name, a] : model_.global_attributes) attribute_type(a);
        for (auto& [name, group] : model_.attribute_groups) attributes(group.attributes);
        // References take their global attribute's kind once every global
        // one has its own.
        for (AttributeDef* a : refs_) {
            auto g = model_.global_attributes.find(a->name);
            if (g == model_.global_attributes.end())
                unresolved_.attributes.push_back(a->name);
            else
                a->json_type = g->second.json_type;
        }
        for (auto* list : {&unresolved_.types, &unresolved_.elements, &unresolved_.groups,
                           &unresolved_.attribute_groups, &unresolved_.attributes})
            settle(*list);
    }

private:
    // Unions with named members take a kind from all their members' kinds.
    // Twice over, so that a union of unions read in any order gets one too.
    void unions() {
        for (int round = 0; round < 2; ++round)
            for (const auto& [name, members] : unions_) {
                auto self = model_.types.find(name);
                if (self == model_.types.end() || self->second.is_complex()) continue;
                std::vector<JsonType> kinds = members.kinds;
                for (const std::string& m : members.names) {
                    const TypeDef* t = model_.find_type(m);
                    if (!t && round == 0) unresolved_.types.push_back(m);
                    kinds.push_back(t && !t->is_complex() ? t->simple : JsonType::String);
                }
                self->second.simple = union_kind(kinds);
            }
    }

    // A named type: its text kind through its bases (inheritance of content
    // was settled by the literal passes).
    void named_type(TypeDef& t) {
        if (t.is_complex() && t.complex.text_type == JsonType::Absent && !t.base_name.empty())
            t.complex.text_type = inherited_text_kind(model_, t.base_name);
    }

    // An anonymous type with a named base: its kind, or its inherited
    // content and text kind.
    void anonymous_type(TypeDef& t) {
        if (t.base_name.empty()) return;
        const auto [base_id, base] = numbered(t.base_name);
        if (!base) {
            unresolved_.types.push_back(t.base_name);
            return;
        }
        if (!t.is_complex()) {
            if (!base->is_complex()) t.simple = base->simple;
            return;
        }
        if (base->is_complex()) {
            t.complex.base = base_id;
            t.complex.inherited_count = 1 + base->complex.inherited_count;
        }
        if (t.complex.text_type == JsonType::Absent) t.complex.text_type = inherited_text_kind(model_, t.base_name);
    }

    void element(ElementDef& e, bool global) {
        switch (e.particle) {
            case ElementDef::Particle::ElementRef:
                if (!model_.find_element(e.name.local)) unresolved_.elements.push_back(e.name.local);
                return;
            case ElementDef::Particle::GroupRef:
                if (!model_.groups.contains(e.name.local)) unresolved_.groups.push_back(e.name.local);
                return;
            case ElementDef::Particle::Element: break;
        }
        if (!e.type_name.empty()) {
            if (const auto [id, type] = numbered(e.type_name); type)
                e.declared_type = id;
            else
                unresolved_.types.push_back(e.type_name);
        }
        if (global && !e.substitution_head.empty() && !model_.find_element(e.substitution_head))
            unresolved_.elements.push_back(e.substitution_head);
        anonymous_type(e.type_def);
    }

    void children(ComplexTypeDef& c, std::vector<TypeDef*>& todo) {
        for (ElementDef& e : c.children) {
            element(e, false);
            todo.push_back(&e.type_def);
        }
    }

    void attribute_type(AttributeDef& a) {
        if (a.type_name.empty()) return;
        const TypeDef* t = model_.find_type(a.type_name);
        if (!t || t->is_complex())
            unresolved_.types.push_back(a.type_name);
        else
            a.json_type = t->simple;
    }

    void attributes(std::vector<AttributeDef>& list) {
        for (AttributeDef& a : list) {
            switch (a.kind) {
                case AttributeDef::Kind::Declared: attribute_type(a); break;
                case AttributeDef::Kind::Ref: refs_.push_back(&a); break;
                case AttributeDef::Kind::GroupRef:
                    if (!model_.attribute_groups.contains(a.name)) unresolved_.attribute_groups.push_back(a.name);
                    break;
            }
        }
    }

    // The number of a type name and the type it names, when `types` has
    // one by that name: from the context's tables, not the model's list of
    // names, which may be being filled meanwhile (loader.cpp).
    std::pair<TypeNameId, const TypeDef*> numbered(std::string_view name) const {
        auto found = ctx_.type_ids.find(name);
        if (found == ctx_.type_ids.end()) return {kNoTypeName, nullptr};
        return {found->second, ctx_.types_by_id[static_cast<std::size_t>(found->second)]};
    }

    const ParseContext& ctx_;
    SchemaModel& model_;
    const StringMap<UnionMembers>& unions_;
    UnresolvedNames& unresolved_;
    std::vector<AttributeDef*> refs_;
};

}  // namespace

void resolve_complete(ParseContext& context) {
    if (context.resolution != Resolution::Complete) return;
    Completer(context).run();
}

}  // namespace tessaly::schema
