#include "converter/shape.hpp"

#include <algorithm>
#include <cstring>

#include "storage/key_order.hpp"
#include "storage/packed.hpp"

namespace tessaly::converter {

namespace {

using storage::KeyTable;
using storage::Member;
using storage::Value;

// Sorts `attrs`, of which the first `in_order` are in key order, stably;
// whether no key is there twice.
[[gnu::noinline]] bool sort_attributes(std::span<Member> attrs, KeyTable& keys, std::size_t in_order) {
    if (attrs.size() == 2) {  // the commonest case: the pair swapped, unless it is one key twice
        if (attrs[0].key == attrs[1].key) return false;
        std::swap(attrs[0], attrs[1]);
        return true;
    }
    storage::sort_by_key(attrs.data(), attrs.size(), keys, [](const Member& m) { return m.key; }, in_order);
    for (std::size_t i = 1; i < attrs.size(); ++i)
        if (attrs[i - 1].key == attrs[i].key) return false;
    return true;
}

// Puts `attrs` in key order in place, stably; whether no key is there twice.
// The attributes of elements of one kind mostly come in one order, often
// sorted already: then this is one comparison per pair.
inline bool order_attributes(std::span<Member> attrs, KeyTable& keys) {
    std::size_t i = 1;
    while (i < attrs.size() && keys.less(attrs[i - 1].key, attrs[i].key)) ++i;
    return i >= attrs.size() || sort_attributes(attrs, keys, i);
}

// Groups the children by name, document order kept within a name, and
// writes one entry per name over the front of `c`: the single value, or an
// array of all values of that name when there are several or the first was
// declared to repeat. Returns how many names there are; their entries are
// in key order with no key twice.
std::size_t group_children(std::span<ChildSlot> c, storage::Arena& arena, KeyTable& keys) {
    const std::size_t n = c.size();
    // Mostly in order already, with the repeats of a name next to each other.
    std::size_t i = 1;
    while (i < n && (c[i].key == c[i - 1].key || keys.less(c[i - 1].key, c[i].key))) ++i;
    if (i < n) storage::sort_by_key(c.data(), n, keys, [](const ChildSlot& x) { return x.key; }, i);
    std::size_t names = 0;
    for (i = 0; i < n;) {
        const storage::KeyId key = c[i].key;
        std::size_t j = i + 1;
        while (j < n && c[j].key == key) ++j;
        Value v = c[i].value;
        if (j - i > 1 || c[i].always_array) {
            storage::packed::RecordPacker array(arena, j - i, storage::packed::kMaxValue);
            for (std::size_t k = i; k < j; ++k) array.value(c[k].value);
            v = array.finish(storage::Kind::Array);
        }
        // At or before i: read already.
        c[names].key = key;
        c[names].value = v;
        ++names;
        i = j;
    }
    return names;
}

// The object of `text` (when not null), `attrs` and the grouped children
// `names`, which one after another must be in key order with no key twice:
// packed straight from where they are.
[[gnu::always_inline]] inline Value pack_element(const Member* text, std::span<const Member> attrs, std::span<const ChildSlot> names,
                   storage::Arena& arena) {
    storage::packed::RecordPacker r(arena, (text ? 1 : 0) + attrs.size() + names.size(), storage::packed::kMaxMember);
    if (text) {
        r.key(text->key);
        r.value(text->value);
    }
    for (const Member& m : attrs) {
        r.key(m.key);
        r.value(m.value);
    }
    for (const ChildSlot& c : names) {
        r.key(c.key);
        r.value(c.value);
    }
    return r.finish(storage::Kind::Object);
}

// The members of the scratch from index `from` on, put in key order (the
// last of a repeated key kept), packed as an object and taken off the scratch.
Value take_object(ShapeScratch& s, std::size_t from, storage::Arena& arena) {
    Member* m = s.members.data() + from;
    std::size_t n = storage::order_members(m, s.members.size() - from, s.keys);
    Value v = storage::packed::pack_object({m, n}, arena);
    s.members.resize(from);
    return v;
}

Value text_value(const ClosedElement& e) { return e.text ? *e.text : Value::null(); }

// The members of an element whose runs are not in order one after another,
// or whose attributes repeat a key: put in order in the scratch first.
[[gnu::noinline]] Value badgerfish_reordered(const ClosedElement& e, std::span<const ChildSlot> names,
                                             storage::Arena& arena, ShapeScratch& s) {
    std::size_t from = s.members.size();
    const bool text_first = e.text && (e.attributes.empty() || s.keys.less(s.text_key, e.attributes.front().key));
    if (text_first) storage::append_member(s.members, s.text_key, *e.text);
    s.members.insert(s.members.end(), e.attributes.begin(), e.attributes.end());
    if (e.text && !text_first) storage::append_member(s.members, s.text_key, *e.text);
    for (const ChildSlot& c : names) storage::append_member(s.members, c.key, c.value);
    return take_object(s, from, arena);
}

Value badgerfish(const ClosedElement& e, storage::Arena& arena, ShapeScratch& s) {
    const Member text{s.text_key, text_value(e)};
    const Member* first = e.text ? &text : nullptr;
    bool ordered = order_attributes(e.attributes, s.keys);
    std::span<const ChildSlot> names;
    if (!e.children.empty()) names = e.children.first(group_children(e.children, arena, s.keys));
    // The text's key sorts before every attribute's ("$" before "@") and those
    // before the children's names as a rule: then the three runs, each in
    // order, are in order one after another, which their seams tell.
    const storage::KeyId* last = first ? &first->key : nullptr;
    if (ordered && !e.attributes.empty()) {
        ordered = !last || s.keys.less(*last, e.attributes.front().key);
        last = &e.attributes.back().key;
    }
    if (ordered && !names.empty() && last) ordered = s.keys.less(*last, names.front().key);
    if (ordered) [[likely]] return pack_element(first, e.attributes, names, arena);
    return badgerfish_reordered(e, names, arena, s);
}

Value parker(const ClosedElement& e, storage::Arena& arena, ShapeScratch& s) {
    if (e.children.empty()) return text_value(e);
    return pack_element(nullptr, {}, e.children.first(group_children(e.children, arena, s.keys)), arena);
}

Value abdera(const ClosedElement& e, storage::Arena& arena, ShapeScratch& s) {
    Member fields[2];
    std::size_t n = 0;
    if (!e.attributes.empty()) {
        Value attributes;
        if (order_attributes(e.attributes, s.keys)) {
            attributes = storage::packed::pack_object(e.attributes, arena);
        } else {
            std::size_t from = s.members.size();
            s.members.insert(s.members.end(), e.attributes.begin(), e.attributes.end());
            attributes = take_object(s, from, arena);
        }
        fields[n++] = {s.attributes_key, attributes};
    }
    if (!e.children.empty()) {
        std::span<const ChildSlot> names = e.children.first(group_children(e.children, arena, s.keys));
        fields[n++] = {s.children_key, pack_element(nullptr, {}, names, arena)};
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
