#pragma once
// Reads every declaration of a loaded schema once, through the links that
// resolution left between declarations and named types, so that ASan sees a
// link into freed or moved memory.

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
        if (e.named_type_def) todo.push_back(e.named_type_def);
    };
    for (const auto& [name, e] : model.elements) visit(e);
    for (const auto& [name, t] : model.types) todo.push_back(&t);
    visit(model.anonymous);
    while (!todo.empty()) {
        const TypeDef* t = todo.back();
        todo.pop_back();
        if (!seen.insert(t).second) continue;
        sum += static_cast<std::size_t>(t->simple) + static_cast<std::size_t>(t->complex.text_type);
        for (const auto& a : t->complex.attributes) sum += a.name.size() + static_cast<std::size_t>(a.json_type);
        for (const ElementDef& c : t->complex.children) visit(c);
    }
    return sum;
}

}  // namespace fuzz
