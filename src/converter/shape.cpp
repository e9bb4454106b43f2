#include "converter/shape.hpp"

#include <algorithm>
#include <cstring>

#include "converter/coerce.hpp"
#include "converter/names.hpp"

namespace tessaly::converter {

namespace {

using json::Member;
using json::Value;

bool name_less(const ChildSlot& a, const ChildSlot& b) { return name_before(a.name, b.name); }

// Groups children by name, keeping document order within a name. Children
// of one element are few or mostly of one name, so the common cases are an
// already ordered run and a short insertion sort.
void group_children(std::span<ChildSlot> c) {
    if (std::is_sorted(c.begin(), c.end(), name_less)) return;
    if (c.size() <= 16) {
        for (std::size_t i = 1; i < c.size(); ++i) {
            ChildSlot x = c[i];
            std::size_t j = i;
            for (; j > 0 && name_before(x.name, c[j - 1].name); --j) c[j] = c[j - 1];
            c[j] = x;
        }
        return;
    }
    std::stable_sort(c.begin(), c.end(), name_less);
}

// Appends one member per child name: the single value, or an array of all
// values of that name when there are several or the first was declared to repeat.
void append_children(std::span<ChildSlot> c, json::Arena& arena, std::vector<Member>& out) {
    group_children(c);
    for (std::size_t i = 0; i < c.size();) {
        std::size_t j = i + 1;
        while (j < c.size() && same_name(c[j].name, c[i].name)) ++j;
        if (j - i == 1 && !c[i].always_array) {
            out.push_back({c[i].name, c[i].value});
        } else {
            Value* items = arena.allocate_array<Value>(j - i);
            for (std::size_t k = i; k < j; ++k) items[k - i] = c[k].value;
            out.push_back({c[i].name, Value::array(items, j - i)});
        }
        i = j;
    }
}

// The members of `out` from index `from` on, moved into the arena as an
// object. `ordered`: they are known to be in key order with unique keys
// already, as the grouped children of an element are.
Value take_object(std::vector<Member>& out, std::size_t from, json::Arena& arena, bool ordered = false) {
    std::size_t n = out.size() - from;
    Member* m = arena.allocate_array<Member>(n);
    std::copy(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(), m);
    out.resize(from);
    return ordered ? Value::object(m, n) : json::make_object(m, n);
}

Value text_value(const ClosedElement& e) {
    if (!e.text) return Value::null();
    return coerce_value(*e.text, text_kind(e.frame.def));
}

Value badgerfish(const ClosedElement& e, json::Arena& arena, std::vector<Member>& out, NameTable& names) {
    std::size_t from = out.size();
    for (const Member& a : e.attributes) out.push_back({names.intern(a.key, '@'), a.value});
    if (e.text) out.push_back({"$", text_value(e)});
    bool ordered = out.size() == from;
    append_children(e.children, arena, out);
    return take_object(out, from, arena, ordered);
}

Value parker(const ClosedElement& e, json::Arena& arena, std::vector<Member>& out) {
    if (e.children.empty()) return text_value(e);
    std::size_t from = out.size();
    append_children(e.children, arena, out);
    return take_object(out, from, arena, true);
}

Value abdera(const ClosedElement& e, json::Arena& arena, std::vector<Member>& out) {
    std::size_t from = out.size();
    Member fields[2];
    std::size_t n = 0;
    if (!e.attributes.empty()) {
        out.insert(out.end(), e.attributes.begin(), e.attributes.end());
        fields[n++] = {"attributes", take_object(out, from, arena)};
    }
    if (!e.children.empty()) {
        append_children(e.children, arena, out);
        fields[n++] = {"children", take_object(out, from, arena, true)};
    } else if (e.text) {
        fields[n++] = {"children", text_value(e)};
    }
    Member* m = arena.allocate_array<Member>(n);
    std::copy(fields, fields + n, m);
    return Value::object(m, n);  // "attributes" sorts before "children"
}

}  // namespace

schema::JsonType text_kind(const DeclView& def) {
    if (!def) return schema::JsonType::String;
    if (def.type->is_complex()) return def.type->complex.text_type;
    return def.type->simple;
}

json::Value frame_to_json(const ClosedElement& e, Convention convention, json::Arena& arena, ShapeScratch& scratch) {
    if (convention == Convention::Parker) return parker(e, arena, scratch.members);
    if (e.children.empty() && e.attributes.empty()) return text_value(e);
    if (convention == Convention::Abdera) return abdera(e, arena, scratch.members);
    return badgerfish(e, arena, scratch.members, *scratch.names);
}

json::Value serialize_root(const ClosedElement& e, Convention convention, json::Arena& arena, ShapeScratch& scratch) {
    Value v = frame_to_json(e, convention, arena, scratch);
    if (convention == Convention::Parker) return v;
    Member* m = arena.allocate_array<Member>(1);
    *m = {e.frame.name, v};
    return Value::object(m, 1);
}

}  // namespace tessaly::converter
