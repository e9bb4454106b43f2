#pragma once
// Reads every declaration of a loaded schema once, through the type-name
// numbers that resolution left in declarations and inheriting types, so that
// a number naming nothing, or ASan, shows a broken link.

#include <cstddef>
#include <unordered_set>
#include <vector>

#include "schema/model.hpp"

namespace fuzz {

inline std::size_t walk_schema(const tessaly::schema::SchemaModel& model) {
    using tessaly::schema::ElementDef;
    using tessaly::schema::TypeDef;
    std::vector<const TypeDef*> todo;
    std::unordered_set<const TypeDef*> seen;
    std::size_t sum = 0;
    auto visit = [&](const ElementDef& e) {
        sum += e.name.local.size() + e.min_occurs + e.max_occurs.count + static_cast<std::size_t>(e.named_type);
        todo.push_back(&e.type_def);
        if (const TypeDef* named = model.find_type(e.named_type)) todo.push_back(named);
        if (const TypeDef* declared = model.find_type(e.declared_type)) todo.push_back(declared);
    };
    for (const auto& [name, e] : model.elements) visit(e);
    for (const auto& [name, t] : model.types) todo.push_back(&t);
    visit(model.anonymous);
    for (const auto& [name, g] : model.groups)
        for (const ElementDef& c : g.children) visit(c);
    while (!todo.empty()) {
        const TypeDef* t = todo.back();
        todo.pop_back();
        if (!seen.insert(t).second) continue;
        sum += static_cast<std::size_t>(t->simple) + static_cast<std::size_t>(t->complex.text_type);
        model.visit_content(t->complex, [&](const tessaly::schema::ComplexTypeDef& part) {
            for (const auto& a : part.attributes) sum += a.name.size() + static_cast<std::size_t>(a.json_type);
            for (const ElementDef& c : part.children) visit(c);
            return false;
        });
    }
    return sum;
}

}  // namespace fuzz
