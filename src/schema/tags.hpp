#pragma once
// The tags of one schema document that the parser acts on, in document
// order: start, empty-element and end tags of the XSD constructs it knows,
// each with its kind. Every other event (text, comments, the tags of
// annotations and of anything else) is read and passed over here.
//
// A long document is read on a second thread, ahead of the parser: the XML
// reader's work and the parser's then overlap. What the parser is given is
// the same either way, errors included, in the same order.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <memory>
#include <string_view>
#include <vector>

#include "xml/reader.hpp"

namespace tessaly::schema {

// The XSD element names the parser acts on, by local name. Tag names are
// compared raw: replacement only ever puts U+FFFD where bytes were invalid
// and keeps every ':', so a raw local name equals one of these ASCII names
// exactly when its decoded form does.
enum class XsdName : std::uint8_t {
    Schema, Compositor, ComplexType, SimpleType, Derivation, Attribute, Element, Include,
    Group, AttributeGroup, Union,  // acted on by the complete profile only
    Other
};

// The part after the first ':', or all of it.
inline std::string_view local_part(std::string_view name) noexcept {
    for (std::size_t i = 0; i < name.size(); ++i)
        if (name[i] == ':') return name.substr(i + 1);
    return name;
}

namespace detail {
// `local` (of the size of `lit`) equals `lit`.
template <std::size_t N>
inline bool is(std::string_view local, const char (&lit)[N]) noexcept {
    return std::memcmp(local.data(), lit, N - 1) == 0;
}
}  // namespace detail

// Called for the start of every element of every document, most of them
// (annotations) none of these: a switch on the size and the first byte
// rejects those at once.
inline XsdName classify(std::string_view local) noexcept {
    using detail::is;
    if (local.empty()) return XsdName::Other;
    const char c = local.front();
    switch (local.size()) {
        case 3:
            if (c == 'a' && is(local, "all")) return XsdName::Compositor;
            break;
        case 5:
            if (c == 'g' && is(local, "group")) return XsdName::Group;
            if (c == 'u' && is(local, "union")) return XsdName::Union;
            break;
        case 6:
            if (c == 's' && is(local, "schema")) return XsdName::Schema;
            if (c == 'c' && is(local, "choice")) return XsdName::Compositor;
            if (c == 'i' && is(local, "import")) return XsdName::Include;
            break;
        case 7:
            if (c == 'e' && is(local, "element")) return XsdName::Element;
            if (c == 'i' && is(local, "include")) return XsdName::Include;
            break;
        case 8:
            if (c == 's' && is(local, "sequence")) return XsdName::Compositor;
            break;
        case 9:
            if (c == 'e' && is(local, "extension")) return XsdName::Derivation;
            if (c == 'a' && is(local, "attribute")) return XsdName::Attribute;
            break;
        case 10:
            if (c == 's' && is(local, "simpleType")) return XsdName::SimpleType;
            break;
        case 11:
            if (c == 'c' && is(local, "complexType")) return XsdName::ComplexType;
            if (c == 'r' && is(local, "restriction")) return XsdName::Derivation;
            break;
        case 14:
            if (c == 'a' && is(local, "attributeGroup")) return XsdName::AttributeGroup;
            break;
        default: break;
    }
    return XsdName::Other;
}

struct Tag {
    // StartTag, EmptyTag or EndTag; EndOfInput once the document has ended.
    xml::EventKind kind = xml::EventKind::EndOfInput;
    XsdName name = XsdName::Other;
    // Start and empty-element tags: the attribute text (a view into the document).
    std::string_view body;
};

class TagReader {
public:
    // Over `text`, which must outlive the reader; read ahead on a second
    // thread when `ahead` (and a thread can be had).
    TagReader(std::string_view text, bool ahead);
    ~TagReader();
    TagReader(const TagReader&) = delete;
    TagReader& operator=(const TagReader&) = delete;

    // Whether it reads ahead.
    bool ahead() const noexcept { return ahead_ != nullptr; }

    // The next tag the parser acts on, or the reader's error. After the end
    // or an error, the same again. An exception thrown while reading (out of
    // memory) is thrown here, where the parser would have met it.
    std::expected<Tag, xml::ReadError> next();

private:
    struct Ahead;
    std::expected<Tag, xml::ReadError> read_one();
    void read_ahead();

    xml::Reader reader_;
    // The kind of each open element, innermost last. The reader lets an end
    // tag through only when it closes the innermost open element, by the
    // same name: the end tag is of the kind its start tag was.
    std::vector<XsdName> open_;
    std::unique_ptr<Ahead> ahead_;
};

}  // namespace tessaly::schema
