#pragma once
// The shape of the JSON: how one closed element becomes one value under
// each convention, and how the document element becomes the document.

#include <span>
#include <string_view>
#include <vector>

#include "converter/convention.hpp"
#include "converter/frame.hpp"
#include "storage/arena.hpp"
#include "storage/key_table.hpp"
#include "storage/value.hpp"

namespace tessaly::converter {

// A closed element, ready to be shaped: its frame, its attributes (keyed as
// the convention writes them), its text (finalised and coerced to the kind
// of its declaration) and its finished children in document order. The
// shaping reorders the attributes and the children in place and overwrites
// the children: both are dropped once the element's value is made.
struct ClosedElement {
    const BuildFrame& frame;
    std::span<storage::Member> attributes;
    const storage::Value* text;  // null: no text
    std::span<ChildSlot> children;
};

// The keys and reusable buffers of one conversion, so shaping allocates
// nothing per element beyond the arena.
struct ShapeScratch {
    explicit ShapeScratch(storage::KeyTable& k)
        : keys(k), text_key(k.intern("$")), attributes_key(k.intern("attributes")), children_key(k.intern("children")) {}

    storage::KeyTable& keys;
    storage::KeyId text_key;
    storage::KeyId attributes_key;
    storage::KeyId children_key;
    std::vector<storage::Member> members;
};

// How attribute names become keys: "@name" in BadgerFish, the name itself in
// Abdera. Parker writes no attributes, so they are not collected at all.
inline bool keeps_attributes(Convention c) { return c != Convention::Parker; }
inline char attribute_key_prefix(Convention c) { return c == Convention::BadgerFish ? '@' : '\0'; }

storage::Value frame_to_json(const ClosedElement& e, Convention convention, storage::Arena& arena, ShapeScratch& scratch);

// The document's value: Parker's value of the document element itself; for
// BadgerFish and Abdera an object holding it under the element's name.
storage::Value serialize_root(const ClosedElement& e, Convention convention, storage::Arena& arena, ShapeScratch& scratch);

}  // namespace tessaly::converter
