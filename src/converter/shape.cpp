#include "converter/shape.hpp"

#include <algorithm>
#include <cstring>

#include "storage/key_order.hpp"
#include "storage/packed.hpp"

namespace tessaly::converter {

namespace {

using storage::Member;
using storage::Value;

// Appends one member per child name: the single value, or an array of all
// values of that name when there are several or the first was declared to repeat.
void append_children(std::span<ChildSlot> c, storage::Arena& arena, ShapeScratch& s) {
    // Grouped by name, document order kept within a name.
    storage::sort_by_key(c.data(), c.size(), s.keys, [](const ChildSlot& x) { return x.key; });
    for (std::size_t i = 0; i < c.size();) {
        std::size_t j = i + 1;
        while (j < c.size() && c[j].key == c[i].key) ++j;
        if (j - i == 1 && !c[i].always_array) {
            storage::append_member(s.members, c[i].key, c[i].value);
        } else {
            storage::packed::RecordPacker array(arena, j - i, storage::packed::kMaxValue);
            for (std::size_t k = i; k < j; ++k) array.value(c[k].value);
            storage::append_member(s.members, c[i].key, array.finish(storage::Kind::Array));
        }
        i = j;
    }
}

// The members of the scratch from index `from` on, packed as an object and
// taken off the scratch. `ordered`: they are known to be in key order with
// unique keys already, as the grouped children of an element are.
Value take_object(ShapeScratch& s, std::size_t from, storage::Arena& arena, bool ordered = false) {
    Member* m = s.members.data() + from;
    std::size_t n = s.members.size() - from;
    if (!ordered) n = storage::order_members(m, n, s.keys);
    Value v = storage::packed::pack_object({m, n}, arena);
    s.members.resize(from);
    return v;
}

Value text_value(const ClosedElement& e) { return e.text ? *e.text : Value::null(); }

// Whether `attrs` are in key order with no key twice, and all come after `first`
// when there is one.
bool strictly_ordered(const storage::KeyTable& keys, const Member* first, std::span<const Member> attrs) {
    if (first && !attrs.empty() && !keys.less(first->key, attrs.front().key)) return false;
    for (std::size_t i = 1; i < attrs.size(); ++i)
        if (!keys.less(attrs[i - 1].key, attrs[i].key)) return false;
    return true;
}

Value badgerfish(const ClosedElement& e, storage::Arena& arena, ShapeScratch& s) {
    // A leaf whose attributes are written in key order, the text's key
    // before them: packed straight from where the members are.
    if (e.children.empty()) {
        const Member text{s.text_key, e.text ? *e.text : Value::null()};
        if (strictly_ordered(s.keys, e.text ? &text : nullptr, e.attributes))
            return storage::packed::pack_object(e.text ? &text : nullptr, e.attributes, arena);
    }
    std::size_t from = s.members.size();
    // The text's key sorts before every attribute's ("$" before "@"), so
    // put first it leaves attributes written in order needing no sort.
    const bool text_first = e.text && (e.attributes.empty() || s.keys.less(s.text_key, e.attributes.front().key));
    if (text_first) storage::append_member(s.members, s.text_key, *e.text);
    s.members.insert(s.members.end(), e.attributes.begin(), e.attributes.end());
    if (e.text && !text_first) storage::append_member(s.members, s.text_key, *e.text);
    bool ordered = s.members.size() == from;
    append_children(e.children, arena, s);
    return take_object(s, from, arena, ordered);
}

Value parker(const ClosedElement& e, storage::Arena& arena, ShapeScratch& s) {
    if (e.children.empty()) return text_value(e);
    std::size_t from = s.members.size();
    append_children(e.children, arena, s);
    return take_object(s, from, arena, true);
}

Value abdera(const ClosedElement& e, storage::Arena& arena, ShapeScratch& s) {
    std::size_t from = s.members.size();
    Member fields[2];
    std::size_t n = 0;
    if (!e.attributes.empty()) {
        s.members.insert(s.members.end(), e.attributes.begin(), e.attributes.end());
        fields[n++] = {s.attributes_key, take_object(s, from, arena)};
    }
    if (!e.children.empty()) {
        append_children(e.children, arena, s);
        fields[n++] = {s.children_key, take_object(s, from, arena, true)};
    } else if (e.text) {
        fields[n++] = {s.children_key, text_value(e)};
    }
    return storage::packed::pack_object({fields, n}, arena);  // "attributes" sorts before "children"
}

}  // namespace

storage::Value frame_to_json(const ClosedElement& e, Convention convention, storage::Arena& arena, ShapeScratch& scratch) {
    if (convention == Convention::Parker) return parker(e, arena, scratch);
    if (e.children.empty() && e.attributes.empty()) return text_value(e);
    if (convention == Convention::Abdera) return abdera(e, arena, scratch);
    return badgerfish(e, arena, scratch);
}

storage::Value serialize_root(const ClosedElement& e, Convention convention, storage::Arena& arena, ShapeScratch& scratch) {
    Value v = frame_to_json(e, convention, arena, scratch);
    if (convention == Convention::Parker) return v;
    Member root{e.frame.key, v};
    return storage::packed::pack_object({&root, 1}, arena);
}

}  // namespace tessaly::converter
