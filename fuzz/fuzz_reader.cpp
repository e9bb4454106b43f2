// The XML reader alone. The first byte sets the window (1 to 64 bytes) of a
// second reader fed through a source that hands out a few bytes at a time;
// the rest is the document. Both readers must report the same events (kind,
// name, body) and the same error text. Every tag's attributes are walked
// twice: every occurrence, and first occurrences only, which must be exactly
// the first occurrences of the full walk.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common.hpp"
#include "messages.hpp"
#include "xml/reader.hpp"

namespace {

using tessaly::xml::Attribute;
using tessaly::xml::AttributeReader;
using tessaly::xml::ByteSource;
using tessaly::xml::Event;
using tessaly::xml::EventKind;
using tessaly::xml::Reader;

// Chunks of 1 to 13 bytes in a fixed pattern, never more than asked for.
class TrickleSource final : public ByteSource {
public:
    TrickleSource(std::string_view bytes, unsigned phase) : rest_(bytes), step_(phase) {}
    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) override {
        std::size_t n = 1 + (step_++ * 7) % 13;
        if (n > capacity) n = capacity;
        if (n > rest_.size()) n = rest_.size();
        std::memcpy(dst, rest_.data(), n);
        rest_.remove_prefix(n);
        return n;
    }

private:
    std::string_view rest_;
    unsigned step_;
};

bool within(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void walk_attributes(std::string_view body) {
    std::vector<Attribute> every;
    AttributeReader all(body, /*skip_repeated=*/false);
    for (Attribute a; all.next(a);) {
        fuzz::check(within(a.name, body) && within(a.value, body), "attribute outside its tag", a.name, body);
        every.push_back(a);
    }
    AttributeReader firsts(body, /*skip_repeated=*/true);
    std::unordered_set<std::string_view> seen;
    Attribute got;
    for (const Attribute& a : every) {
        if (!seen.insert(a.name).second) continue;
        fuzz::check(firsts.next(got), "first occurrence missing", a.name);
        fuzz::check(got.name == a.name && got.value == a.value, "first occurrences differ", a.name, got.name);
    }
    fuzz::check(!firsts.next(got), "extra attribute among first occurrences", got.name);
}

const char* kind_name(EventKind k) {
    static const char* const names[] = {"StartTag", "EndTag", "EmptyTag", "Text", "CData", "Comment",
                                        "Declaration", "ProcessingInstruction", "DocType", "GeneralRef", "EndOfInput"};
    return names[static_cast<int>(k)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t window = 1 + data[0] % 64;
    const std::string_view doc(reinterpret_cast<const char*>(data) + 1, size - 1);

    Reader whole(doc);
    TrickleSource source(doc, data[0] / 64);
    Reader windowed(source, window);
    Event a;
    Event b;
    for (;;) {
        auto read_a = whole.next(a);
        auto read_b = windowed.next(b);
        if (!read_a || !read_b) {
            auto text = [](const auto& r, const Event& e) {
                return r ? std::string(kind_name(e.kind)) : tessaly::messages::read_error(r.error());
            };
            fuzz::check(!read_a && !read_b, "one reader failed", text(read_a, a), text(read_b, b));
            fuzz::check(read_a.error() == read_b.error(), "errors differ", text(read_a, a), text(read_b, b));
            auto again = whole.next(a);
            fuzz::check(!again && again.error() == read_a.error(), "error not repeated", text(read_a, a));
            return 0;
        }
        fuzz::check(a.kind == b.kind, "event kinds differ", kind_name(a.kind), kind_name(b.kind));
        fuzz::check(a.name == b.name, "event names differ", a.name, b.name);
        fuzz::check(a.body == b.body, "event bodies differ", a.body, b.body);
        fuzz::check(within(a.name, doc) && within(a.body, doc), "event outside the document");
        if (a.kind == EventKind::StartTag || a.kind == EventKind::EmptyTag) walk_attributes(a.body);
        if (a.kind == EventKind::EndOfInput) {
            a.kind = EventKind::Text;
            auto again = whole.next(a);
            fuzz::check(again && a.kind == EventKind::EndOfInput, "end of input not repeated");
            return 0;
        }
    }
}
