#include "converter/complete_policy.hpp"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "converter/names.hpp"
#include "xml/names.hpp"

namespace tessaly::converter {

namespace {

using schema::AttributeDef;
using schema::ComplexTypeDef;
using schema::ElementDef;
using schema::TypeDef;

// At most this many heads are followed up from a substitution group
// member: far more than any real schema nests, and a bound on a cycle.
constexpr std::size_t kMaxHeads = 32;

// Prefixes whose attributes are never matched by their local name alone:
// namespace declarations and the schema instance's own attributes.
bool matched_by_local_name(std::string_view prefix) { return prefix != "xmlns" && prefix != "xsi"; }

}  // namespace

CompletePolicy::CompletePolicy(const schema::SchemaModel& model) : model_(model) {
    for (std::size_t k = 0; k < simple_content_.size(); ++k) {
        simple_content_[k] = TypeDef::complex_of(ComplexTypeDef{});
        simple_content_[k].complex.text_type = static_cast<schema::JsonType>(k);
    }
    undeclared_.max_occurs = schema::MaxOccurs::bounded(1);
}

const TypeDef* CompletePolicy::type_of(const ElementDef& e) const {
    const TypeDef* named = model_.find_type(e.declared_type);
    return named ? named : &e.type_def;
}

const TypeDef* CompletePolicy::as_complex(const TypeDef* t) const {
    if (t->is_complex()) return t;
    auto code = static_cast<std::size_t>(t->simple);
    return &simple_content_[code < simple_content_.size() ? code : 0];
}

DeclState CompletePolicy::global(std::string_view local) const {
    const ElementDef* e = model_.find_element(local);
    if (!e) return {.decl = &undeclared_, .type = as_complex(&undeclared_.type_def)};
    return {.decl = e, .type = as_complex(type_of(*e))};
}

const ElementDef* CompletePolicy::typed_head(const ElementDef& member) const {
    const ElementDef* e = &member;
    for (std::size_t step = 0; e && step <= kMaxHeads; ++step) {
        if (e->has_type) return e;
        e = e->substitution_head.empty() ? nullptr : model_.find_element(e->substitution_head);
    }
    return nullptr;
}

CompletePolicy::Found CompletePolicy::find_particle(const ComplexTypeDef& type, std::string_view local) const {
    // The heads `local` may stand in for: its substitution group's head,
    // that one's, and so on.
    std::array<std::string_view, kMaxHeads> heads;
    std::size_t n_heads = 0;
    for (const ElementDef* g = model_.find_element(local); g && !g->substitution_head.empty() && n_heads < kMaxHeads;) {
        std::string_view head = g->substitution_head;
        if (head == local || std::find(heads.begin(), heads.begin() + n_heads, head) != heads.begin() + n_heads) break;
        heads[n_heads++] = head;
        g = model_.find_element(head);
    }
    auto is_head = [&](std::string_view name) {
        for (std::size_t i = 0; i < n_heads; ++i)
            if (same_name(heads[i], name)) return true;
        return false;
    };

    // Particles in schema order, groups entered where they are referenced,
    // each group once: an explicit stack, so nesting and cycles among
    // groups cost one visit per group.
    struct Open {
        const ElementDef* next;
        const ElementDef* end;
        bool repeats;
    };
    std::vector<Open> open;
    std::unordered_set<const ComplexTypeDef*> entered;
    Found found;
    model_.visit_content(type, [&](const ComplexTypeDef& part) {
        open.push_back({part.children.data(), part.children.data() + part.children.size(), false});
        while (!open.empty()) {
            if (open.back().next == open.back().end) {
                open.pop_back();
                continue;
            }
            const ElementDef& p = *open.back().next++;
            const bool repeats = open.back().repeats;
            switch (p.particle) {
                case ElementDef::Particle::Element:
                    if (same_name(p.name.local, local)) found = {&p, nullptr, repeats};
                    break;
                case ElementDef::Particle::ElementRef:
                    if (same_name(p.name.local, local))
                        found = {&p, nullptr, repeats};
                    else if (n_heads && is_head(p.name.local))
                        found = {&p, model_.find_element(local), repeats};
                    break;
                case ElementDef::Particle::GroupRef: {
                    auto g = model_.groups.find(p.name.local);
                    if (g == model_.groups.end() || !entered.insert(&g->second).second) break;
                    const auto& kids = g->second.children;
                    open.push_back({kids.data(), kids.data() + kids.size(), repeats || p.max_occurs.always_array()});
                    break;
                }
            }
            if (found.particle) return true;
        }
        return false;
    });
    return found;
}

DeclState CompletePolicy::child(const DeclState* parent, std::string_view local, InProgressSets&) const {
    if (!parent || parent->decl == &undeclared_ ||
        (parent->type->complex.children.empty() && parent->type->complex.inherited_count == 0))
        return global(local);
    const Found f = find_particle(parent->type->complex, local);
    if (!f.particle) return global(local);
    const ElementDef& p = *f.particle;
    const TypeDef* type = &p.type_def;
    if (p.particle == ElementDef::Particle::Element) {
        type = type_of(p);
    } else if (const ElementDef* typed = f.member ? typed_head(*f.member) : nullptr) {
        type = type_of(*typed);
    } else if (const ElementDef* referenced = model_.find_element(p.name.local)) {
        type = type_of(*referenced);
    }
    return {.decl = &p, .type = as_complex(type), .repeats = f.repeats};
}

std::optional<DeclState> CompletePolicy::switch_type(const DeclState& found, std::string_view type_local,
                                                     InProgressSets&) const {
    const TypeDef* type = model_.find_type(type_local);
    if (!type) return std::nullopt;
    return DeclState{.decl = found.decl ? found.decl : &undeclared_, .type = as_complex(type), .repeats = found.repeats};
}

const AttributeDef* CompletePolicy::attribute(const DeclState& state, std::string_view name) const {
    std::string_view local;
    if (std::size_t colon = name.find(':'); colon != std::string_view::npos && matched_by_local_name(name.substr(0, colon)))
        local = xml::local_name(name);
    const AttributeDef* by_local = nullptr;
    const AttributeDef* exact = nullptr;
    std::vector<const std::vector<AttributeDef>*> open;
    std::unordered_set<const ComplexTypeDef*> entered;
    model_.visit_content(state.type->complex, [&](const ComplexTypeDef& part) {
        open.push_back(&part.attributes);
        while (!open.empty()) {
            const std::vector<AttributeDef>* list = open.back();
            open.pop_back();
            for (const AttributeDef& a : *list) {
                if (a.kind == AttributeDef::Kind::GroupRef) {
                    auto g = model_.attribute_groups.find(a.name);
                    if (g != model_.attribute_groups.end() && entered.insert(&g->second).second)
                        open.push_back(&g->second.attributes);
                    continue;
                }
                if (same_name(a.name, name)) {
                    exact = &a;
                    return true;
                }
                if (!by_local && !local.empty() && same_name(a.name, local)) by_local = &a;
            }
        }
        return false;
    });
    return exact ? exact : by_local;
}

}  // namespace tessaly::converter
