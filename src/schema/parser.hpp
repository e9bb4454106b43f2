#pragma once
// The XSD component parser: turns the tags of one schema document into model
// entries and side tables. A stack machine driven by start and end tags; it
// recognises a small fixed set of XSD element names by their local names and
// reads through every other element as if it were not there.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "error.hpp"
#include "schema/model.hpp"
#include "schema/parse_context.hpp"
#include "xml/reader.hpp"

namespace tessaly::schema {

// The namespace name of the XML Schema vocabulary (2001 edition).
inline constexpr std::string_view kXsdNamespace = "http://www.w3.org/2001/XMLSchema";

namespace frame {
struct SchemaRoot {};
struct ComplexType {
    std::optional<std::string> name;
    std::vector<ElementDef> children;
    std::vector<AttributeDef> attributes;
    bool mixed = false;
    JsonType text_type = JsonType::Absent;
};
struct SimpleType {
    std::optional<std::string> name;
    JsonType base_kind = JsonType::Absent;
};
struct Element {
    std::string name;
};
struct Compositor {};
struct Derivation {};
}  // namespace frame

// One open XSD construct that the parser recognises.
using XsdStackFrame = std::variant<frame::SchemaRoot, frame::ComplexType, frame::SimpleType, frame::Element,
                                   frame::Compositor, frame::Derivation>;
using XsdStack = std::vector<XsdStackFrame>;

// The part of `name` after its first colon, or all of it.
std::string_view local_name(std::string_view name) noexcept;

struct PrefixedName {
    std::optional<std::string_view> namespace_uri;  // views into the context
    std::string_view local;                          // a view into the argument
};

// Resolves a type, ref or base value: a prefix through the prefixes recorded
// from document roots, no prefix through the target namespace.
PrefixedName resolve_prefixed_name(const ParseContext& context, std::string_view name) noexcept;

// An occurrence number: an optional '+' and one or more ASCII digits that fit
// in 64 bits; anything else is not a number.
std::optional<std::uint64_t> parse_occurrence_number(std::string_view text) noexcept;
std::uint64_t min_occurs_of(std::optional<std::string_view> attribute) noexcept;
MaxOccurs max_occurs_of(std::optional<std::string_view> attribute) noexcept;

// Records targetNamespace and the xmlns: bindings of the document's root
// element. Reader errors stop the scan without a word.
void prescan_root(ParseContext& context, std::string_view text);

// Handles one start tag (or the start of an empty-element tag). Fails only
// when a document followed through include or import fails.
Status handle_start_element(ParseContext& context, const xml::Event& tag, XsdStack& stack);

// Handles one end tag (or the end of an empty-element tag) by its local name.
void handle_end_element(ParseContext& context, std::string_view local, XsdStack& stack);

// Gives an anonymous type to the declaration of the innermost open element:
// a global declaration of that name first, else the first child of that name
// in the open complex types, innermost first; dropped when neither exists.
void attach_inline_type(ParseContext& context, TypeDef type, XsdStack& stack);

// Parses one whole document held in memory: root pre-scan, then every tag.
// Reader errors become "XML parse error: ..."; errors of followed documents
// are returned unchanged.
Status parse_schema_text(ParseContext& context, std::string_view text);

}  // namespace tessaly::schema
