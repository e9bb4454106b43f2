#include "schema/model.hpp"

#include <utility>

namespace tessaly::schema {

namespace {

// A copy of `e` without the children of its type.
ElementDef shallow_copy(const ElementDef& e) {
    ElementDef d;
    d.name = e.name;
    d.min_occurs = e.min_occurs;
    d.max_occurs = e.max_occurs;
    d.type_def.kind = e.type_def.kind;
    d.type_def.simple = e.type_def.simple;
    d.type_def.complex.attributes = e.type_def.complex.attributes;
    d.type_def.complex.mixed = e.type_def.complex.mixed;
    d.type_def.complex.text_type = e.type_def.complex.text_type;
    d.type_def.complex.base = e.type_def.complex.base;
    d.type_def.complex.inherited_count = e.type_def.complex.inherited_count;
    d.type_def.base_name = e.type_def.base_name;
    d.named_type = e.named_type;
    d.particle = e.particle;
    d.type_name = e.type_name;
    d.declared_type = e.declared_type;
    d.substitution_head = e.substitution_head;
    d.has_type = e.has_type;
    return d;
}

bool has_grandchildren(const std::vector<ElementDef>& children) {
    for (const auto& c : children)
        if (!c.type_def.complex.children.empty()) return true;
    return false;
}

}  // namespace

ComplexTypeDef::ComplexTypeDef() = default;
ComplexTypeDef::ComplexTypeDef(ComplexTypeDef&&) noexcept = default;
ComplexTypeDef& ComplexTypeDef::operator=(ComplexTypeDef&&) noexcept = default;

ComplexTypeDef::ComplexTypeDef(const ComplexTypeDef& other)
    : attributes(other.attributes),
      mixed(other.mixed),
      text_type(other.text_type),
      base(other.base),
      inherited_count(other.inherited_count) {
    struct Job {
        const std::vector<ElementDef>* from;
        std::vector<ElementDef>* to;
    };
    std::vector<Job> jobs{{&other.children, &children}};
    while (!jobs.empty()) {
        Job job = jobs.back();
        jobs.pop_back();
        // Reserved up front: the jobs queued below point into this vector.
        job.to->reserve(job.from->size());
        for (const ElementDef& e : *job.from) {
            ElementDef& d = job.to->emplace_back(shallow_copy(e));
            if (!e.type_def.complex.children.empty())
                jobs.push_back({&e.type_def.complex.children, &d.type_def.complex.children});
        }
    }
}

ComplexTypeDef& ComplexTypeDef::operator=(const ComplexTypeDef& other) {
    if (this != &other) *this = ComplexTypeDef(other);
    return *this;
}

ComplexTypeDef::~ComplexTypeDef() {
    // The common case, children without children of their own, needs no
    // work list: destroying them recurses one level only.
    if (!has_grandchildren(children)) return;
    // Detach every level before it is destroyed, so that each destructor
    // called below finds no children and returns at once.
    std::vector<std::vector<ElementDef>> pending;
    pending.push_back(std::move(children));
    while (!pending.empty()) {
        std::vector<ElementDef> level = std::move(pending.back());
        pending.pop_back();
        for (ElementDef& e : level)
            if (!e.type_def.complex.children.empty()) pending.push_back(std::move(e.type_def.complex.children));
    }
}

}  // namespace tessaly::schema
