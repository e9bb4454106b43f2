#pragma once
// A declaration in force, seen through lazy resolution.
//
// Loading a schema leaves every element declaration as written; a use of a
// named type is not copied in. A view pairs a raw declaration with the type in
// force and the set of named types whose resolution is in progress on the way
// down to it. Walking views from a global element (or from a type chosen by
// xsi:type) gives, declaration by declaration, exactly what copying each named
// type into each place that uses it, stopping at a type already in progress,
// would give, without ever building those copies.

#include <string_view>

#include "converter/names.hpp"
#include "json/arena.hpp"
#include "schema/model.hpp"

namespace tessaly::converter {

// An in-progress set: a persistent list of type-name ids, shared by a view and
// the views below it. It only grows by names not yet in it, so its length is
// bounded by the number of named types.
struct InProgress {
    schema::TypeNameId id;
    const InProgress* next;
};

inline bool in_progress_contains(const InProgress* set, schema::TypeNameId id) {
    for (; set; set = set->next)
        if (set->id == id) return true;
    return false;
}

struct DeclView {
    const schema::ElementDef* decl = nullptr;  // null: no declaration
    const schema::TypeDef* type = nullptr;     // the type in force
    const InProgress* in_progress = nullptr;
    bool active = true;  // false: below here everything stands as written

    explicit operator bool() const { return decl != nullptr; }
};

// The view of a global element declaration.
inline DeclView global_view(const schema::ElementDef& e) {
    return {&e, e.named_type_def ? e.named_type_def : &e.type_def, nullptr, true};
}

// The view of child declaration `c` of the active or inactive view `parent`.
inline DeclView child_view(const DeclView& parent, const schema::ElementDef& c, json::Arena& arena) {
    if (!parent.active || c.named_type == schema::kNoTypeName)
        return {&c, &c.type_def, parent.in_progress, parent.active};
    const schema::TypeDef* type = c.named_type_def ? c.named_type_def : &c.type_def;
    if (in_progress_contains(parent.in_progress, c.named_type)) return {&c, type, parent.in_progress, false};
    auto* node = arena.allocate_array<InProgress>(1);
    *node = {c.named_type, parent.in_progress};
    return {&c, type, node, true};
}

// The first child declaration of `parent` named `local`, as a view; an empty
// view when the parent's type is simple or declares no such child.
inline DeclView find_child(const DeclView& parent, std::string_view local, json::Arena& arena) {
    if (!parent.type->is_complex()) return {};
    const schema::ElementDef* found = nullptr;
    schema::visit_content(parent.type->complex, [&](const schema::ComplexTypeDef& part) {
        for (const auto& c : part.children)
            if (same_name(c.name.local, local)) {
                found = &c;
                return true;
            }
        return false;
    });
    return found ? child_view(parent, *found, arena) : DeclView{};
}

// The view of `decl` (or, when null, of the model's anonymous declaration)
// switched by xsi:type to the named type `type` whose name has id `id`.
inline DeclView xsi_type_view(const schema::SchemaModel& model, const schema::ElementDef* decl,
                              const schema::TypeDef& type, schema::TypeNameId id, json::Arena& arena) {
    auto* node = arena.allocate_array<InProgress>(1);
    *node = {id, nullptr};
    return {decl ? decl : &model.anonymous, &type, node, true};
}

}  // namespace tessaly::converter
