#pragma once
// The XSD component parser: turns the tags of one schema document into model
// entries and side tables. A stack machine driven by start and end tags; it
// recognises a small fixed set of XSD element names by their local names and
// reads through every other element as if it were not there.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tessaly/error.hpp"
#include "schema/model.hpp"
#include "schema/parse_context.hpp"
#include "schema/tags.hpp"
#include "xml/names.hpp"
#include "xml/reader.hpp"

namespace tessaly::schema {

// The namespace name of the XML Schema vocabulary (2001 edition).
inline constexpr std::string_view kXsdNamespace = "http://www.w3.org/2001/XMLSchema";

namespace frame {
// Where a declaration went (the complete profile gives an anonymous type to
// exactly the declaration it stands in): a global one, a dropped one, or
// entry `index` of the ComplexType frame at stack position `owner`.
// Names held by frames are views into the texts the context keeps.
inline constexpr std::size_t kGlobal = SIZE_MAX;
inline constexpr std::size_t kDropped = SIZE_MAX - 1;

struct SchemaRoot {};
struct ComplexType {
    // What the frame collects for: a complex type, or (complete profile) a
    // top-level group or attribute group definition.
    enum class Definition : std::uint8_t { Type, Group, AttributeGroup };
    Definition definition = Definition::Type;
    std::string base_name;  // complete profile: a derivation base not built in
    std::optional<std::string_view> name;
    std::vector<ElementDef> children;
    // The first of `children` of each name, for the first `indexed` of them.
    StringMap<std::size_t> first_child;
    std::size_t indexed = 0;
    std::vector<AttributeDef> attributes;
    bool mixed = false;
    JsonType text_type = JsonType::Absent;
};
struct SimpleType {
    std::optional<std::string_view> name;
    JsonType base_kind = JsonType::Absent;
    std::string base_name;  // complete profile: a derivation base not built in
    // Complete profile: a union, the kinds of its built-in members and the
    // names of its named ones.
    bool is_union = false;
    UnionMembers members;
};
struct Element {
    std::string_view name;
    std::size_t owner = kGlobal;  // complete profile: where the declaration went
    std::size_t index = 0;
};
struct Compositor {
    bool repeats = false;  // complete profile: its maxOccurs allows more than one
};
struct Derivation {};
// Complete profile only: an attribute declaration (for its anonymous simple
// type), and a group or attribute group reference (for its end tag).
struct Attribute {
    std::string_view name;
    std::size_t owner = kGlobal;
    std::size_t index = 0;
};
struct Reference {};
}  // namespace frame

// One open XSD construct that the parser recognises.
using XsdStackFrame = std::variant<frame::SchemaRoot, frame::ComplexType, frame::SimpleType, frame::Element,
                                   frame::Compositor, frame::Derivation, frame::Attribute, frame::Reference>;
using XsdStack = std::vector<XsdStackFrame>;

using xml::local_name;

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
// element; also, when `own` is given, the root's bindings alone, the
// default namespace included. Reader errors stop the scan without a word.
void prescan_root(ParseContext& context, std::string_view text, Bindings* own = nullptr);

// What is known of a document's text being UTF-8.
enum class Utf8 : std::uint8_t {
    Checked,  // it is: no value taken from it needs checking again
    Unknown,  // text in hand, not a file's: values not UTF-8 are decoded with replacement
    // A file's text not checked yet, to be read ahead: the parser checks it
    // while the tags are read, and fails before the first tag as reading the
    // file would have.
    Deferred,
};

// Parses one schema document held in memory: the bindings of its root
// first, then every tag. It stops at each include or import that names a
// location, so that the loader reads the document named there before this
// one goes on: documents are read depth-first, each where it is named, and
// no call nests per document, however long a chain of includes is. A long
// document's tags are read ahead on a second thread (schema/tags.hpp).
class DocumentParser {
public:
    // The text is kept in the context until the load ends. `path`: the
    // file's, for the error of a Deferred check.
    DocumentParser(ParseContext& context, std::string text, Utf8 utf8, std::string_view path = {});
    ~DocumentParser();
    DocumentParser(const DocumentParser&) = delete;
    DocumentParser& operator=(const DocumentParser&) = delete;

    // Whether a document of `size` bytes read next would be read ahead, on
    // its own thread (if one can be had): a long one, when no other document
    // of the load is being read ahead. A document that one names is read in
    // turn meanwhile, the other thread still reading ahead: so that two
    // threads never wait for a third.
    static bool reads_ahead(const ParseContext& context, std::size_t size) noexcept {
        return size >= context.read_ahead_bytes && !context.reading_ahead;
    }

    // The schemaLocation of the next include or import, or nothing once the
    // document has ended. Reader errors become "XML parse error: ...".
    Result<std::optional<std::string>> next_location();

private:
    ParseContext& context_;
    std::string_view text_;  // in context_.texts; the reader's events point into it
    std::string path_;       // for the error of a Deferred check
    bool utf8_;              // text_ is UTF-8 throughout (unless not_utf8_)
    bool not_utf8_ = false;  // a Deferred check found it is not
    Bindings bindings_;      // complete profile: this document's own
    XsdStack stack_;
    // Lists of children no frame holds now, for the next frames to fill.
    std::vector<std::vector<ElementDef>> spare_children_;
    // Last: its thread, when it has one, reads text_ and nothing else.
    TagReader tags_;
};

}  // namespace tessaly::schema
