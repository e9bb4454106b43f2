#pragma once
// The shape of the JSON: how one closed element becomes one value under
// each convention, and how the document element becomes the document.

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "converter/convention.hpp"
#include "converter/frame.hpp"
#include "converter/name_table.hpp"
#include "json/arena.hpp"
#include "json/value.hpp"

namespace tessaly::converter {

// A closed element, ready to be shaped: its frame, its attributes, its
// finalised text and its finished children in document order (reordered in
// place by the shaping).
struct ClosedElement {
    const BuildFrame& frame;
    std::span<const json::Member> attributes;
    std::optional<std::string_view> text;
    std::span<ChildSlot> children;
};

// Reusable buffers of one conversion, so shaping allocates nothing per element
// beyond the arena.
struct ShapeScratch {
    std::vector<json::Member> members;
    NameTable* names;  // where "@name" keys are kept
};

// The kind the element's text is coerced with.
schema::JsonType text_kind(const DeclView& def);

json::Value frame_to_json(const ClosedElement& e, Convention convention, json::Arena& arena, ShapeScratch& scratch);

// The document's value: Parker's value of the document element itself; for
// BadgerFish and Abdera an object holding it under the element's name.
json::Value serialize_root(const ClosedElement& e, Convention convention, json::Arena& arena, ShapeScratch& scratch);

}  // namespace tessaly::converter
