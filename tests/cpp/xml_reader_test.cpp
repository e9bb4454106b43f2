// The XML pull tokenizer: its events, its errors with their positions, the
// attribute walk, and the window mode, which must give exactly the events and
// errors of the memory mode whatever the window size and the source's chunks.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "messages.hpp"
#include "xml/char_class.hpp"
#include "xml/names.hpp"
#include "xml/reader.hpp"

namespace tessaly::xml {
namespace {

const char* kind_name(EventKind kind) {
    switch (kind) {
        case EventKind::StartTag: return "start";
        case EventKind::EndTag: return "end";
        case EventKind::EmptyTag: return "empty";
        case EventKind::Text: return "text";
        case EventKind::CData: return "cdata";
        case EventKind::Comment: return "comment";
        case EventKind::Declaration: return "decl";
        case EventKind::ProcessingInstruction: return "pi";
        case EventKind::DocType: return "doctype";
        case EventKind::GeneralRef: return "ref";
        case EventKind::EndOfInput: return "eoi";
    }
    return "?";
}

// Every event as "kind name|body", up to and including the end of input or
// the error ("error: message").
std::vector<std::string> events(Reader& reader) {
    std::vector<std::string> out;
    Event ev;
    while (true) {
        if (auto read = reader.next(ev); !read) {
            out.push_back("error: " + messages::read_error(read.error()));
            return out;
        }
        std::string line = kind_name(ev.kind);
        if (!ev.name.empty()) line += " " + std::string(ev.name);
        if (!ev.body.empty()) line += "|" + std::string(ev.body);
        out.push_back(line);
        if (ev.kind == EventKind::EndOfInput) return out;
    }
}

// A copy of `bytes` in a heap block of exactly its size, so that a scan that
// reads one byte too far is caught by AddressSanitizer.
struct ExactBuffer {
    explicit ExactBuffer(std::string_view bytes)
        : data(std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(bytes.size(), 1))), size(bytes.size()) {
        std::copy(bytes.begin(), bytes.end(), data.get());
    }
    std::string_view view() const { return {data.get(), size}; }
    std::unique_ptr<char[]> data;
    std::size_t size;
};

std::vector<std::string> memory_events(std::string_view doc) {
    const ExactBuffer copy(doc);
    Reader reader(copy.view());
    return events(reader);
}

// Hands out an in-memory document in chunks: of a fixed size, or of random
// sizes from 1 to 9 when `chunk` is 0. With `fail_at`, the read that would
// go past that offset fails instead (bytes before it are handed out first),
// once: asked again, it pretends the input ended, so a reader that went on
// after a failure would see a clean end instead of the error.
class ChunkSource : public ByteSource {
public:
    ChunkSource(std::string_view doc, std::size_t chunk, std::size_t fail_at = SIZE_MAX)
        : doc_(doc), chunk_(chunk), fail_at_(fail_at) {}

    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) override {
        if (pos_ >= fail_at_) {
            if (failed_) return 0;
            failed_ = true;
            return std::unexpected(std::string("disk on fire"));
        }
        std::size_t n = chunk_ != 0 ? chunk_ : std::uniform_int_distribution<std::size_t>(1, 9)(rng_);
        n = std::min({n, capacity, doc_.size() - pos_, fail_at_ - pos_});
        std::copy_n(doc_.data() + pos_, n, dst);
        pos_ += n;
        return n;
    }

private:
    std::string_view doc_;
    std::size_t chunk_;
    std::size_t fail_at_;
    std::size_t pos_ = 0;
    bool failed_ = false;
    std::mt19937 rng_{12345};
};

std::vector<std::string> window_events(std::string_view doc, std::size_t window, std::size_t chunk) {
    ChunkSource source(doc, chunk);
    Reader reader(source, window);
    return events(reader);
}

using Events = std::vector<std::string>;

struct EventCase {
    std::string doc;
    Events expected;
};

// ---- events ---------------------------------------------------------------

TEST(XmlReader, Events) {
    const std::vector<EventCase> cases = {
        {"", {"eoi"}}, {"<a x=\"1\">hi</a>", {"start a| x=\"1\"", "text|hi", "end a", "eoi"}},
        {"<a/>", {"empty a", "eoi"}}, {"<a />", {"empty a| ", "eoi"}},
        {"<a\tb='2'\n/>", {"empty a|\tb='2'\n", "eoi"}},
        // '>' and the other quote inside quoted values do not end the tag.
        {"<a b=\"x>y\"/>", {"empty a| b=\"x>y\"", "eoi"}}, {"<a b='x\">y'>", {"start a| b='x\">y'", "eoi"}},
        // '/' only ends the name where it ends the tag.
        {"<a/b>", {"start a/b", "eoi"}}, {"<x:a></x:a>", {"start x:a", "end x:a", "eoi"}},
        {"<a><a></a></a>", {"start a", "start a", "end a", "end a", "eoi"}},
        // Text is raw and untrimmed; white space between tags is text.
        {"<a>  \n <b/>\r\n</a>", {"start a", "text|  \n ", "empty b", "text|\r\n", "end a", "eoi"}},
        {"<a>x > y</a>", {"start a", "text|x > y", "end a", "eoi"}}, {"<a></a \n\t>", {"start a", "end a", "eoi"}},
        {"<?xml version=\"1.0\"?><r/>", {"decl|xml version=\"1.0\"", "empty r", "eoi"}},
        {"<?xml?>", {"decl|xml", "eoi"}}, {"<?xml-stylesheet href=\"s\"?>", {"pi|xml-stylesheet href=\"s\"", "eoi"}},
        {"<?XML x?>", {"pi|XML x", "eoi"}}, {"<?p a > b ?>", {"pi|p a > b ", "eoi"}},
        {"<?" "?>", {"pi", "eoi"}},  // split: "??>" is a trigraph
        {"<!-- a -- b -->", {"comment| a -- b ", "eoi"}}, {"<!---->", {"comment", "eoi"}},
        {"<!-- a --->", {"comment| a -", "eoi"}}, {"<![CDATA[<x>&y;]]]>", {"cdata|<x>&y;]", "eoi"}},
        {"<![CDATA[]]>", {"cdata", "eoi"}}, {"<!DOCTYPE r>", {"doctype| r", "eoi"}},
        {"<!doctype html>", {"doctype| html", "eoi"}},
        {"<!DOCTYPE r SYSTEM \"a>b\"><r/>", {"doctype| r SYSTEM \"a>b\"", "empty r", "eoi"}},
        {"<!DOCTYPE r [<!ENTITY e \"a>b\"><!-- ' ] > --><?p > ?>]><r/>",
         {"doctype| r [<!ENTITY e \"a>b\"><!-- ' ] > --><?p > ?>]", "empty r", "eoi"}},
        // References: the name is whatever lies between '&' and ';'.
        {"<a>AT&T rocks;</a>", {"start a", "text|AT", "ref T rocks", "end a", "eoi"}},
        {"<a>x&amp;y&#65;&nbsp;&;</a>",
         {"start a", "text|x", "ref amp", "text|y", "ref #65", "ref nbsp", "ref", "end a", "eoi"}},
        // Not errors: several top-level elements, text outside them, and
        // elements still open at the end.
        {"<a/><b>t</b>", {"empty a", "start b", "text|t", "end b", "eoi"}},
        {"pre<a/>post", {"text|pre", "empty a", "text|post", "eoi"}}, {"<a><b>", {"start a", "start b", "eoi"}},
        {"<a>text", {"start a", "text|text", "eoi"}},
        // A byte-order mark is skipped at the very start only.
        {"\xEF\xBB\xBFhi<a/>", {"text|hi", "empty a", "eoi"}},
        {"<a/>\xEF\xBB\xBF", {"empty a", "text|\xEF\xBB\xBF", "eoi"}}, {"\xEF\xBB", {"text|\xEF\xBB", "eoi"}},
    };
    for (const auto& c : cases) EXPECT_EQ(memory_events(c.doc), c.expected) << c.doc;
}

TEST(XmlReader, StaysAtTheEnd) {
    Reader done("<a/>");
    Event ev;
    ASSERT_TRUE(done.next(ev));
    ASSERT_EQ(ev.kind, EventKind::EmptyTag);
    for (int i = 0; i < 3; ++i) {
        ev.kind = EventKind::Text;
        ASSERT_TRUE(done.next(ev));
        EXPECT_EQ(ev.kind, EventKind::EndOfInput);
    }

    Reader failed("</a><b/>");
    for (int i = 0; i < 3; ++i) {
        auto read = failed.next(ev);
        ASSERT_FALSE(read);
        EXPECT_EQ(messages::read_error(read.error()), "end tag </a> with no open element at line 1, column 1");
    }
}

// ---- errors ---------------------------------------------------------------

std::string repeat(std::string_view piece, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += piece;
    return out;
}

struct ErrorCase {
    std::string doc;
    std::string message;
};

TEST(XmlReader, Errors) {
    const std::vector<ErrorCase> cases = {
        {"<a>1</b>", "mismatched end tag: expected </a>, found </b> at line 1, column 5"},
        {"<r>\n  <a>\n  </b>", "mismatched end tag: expected </a>, found </b> at line 3, column 3"},
        {"<a>\r\n</b>", "mismatched end tag: expected </a>, found </b> at line 2, column 1"},
        {"<a><b></a>", "mismatched end tag: expected </b>, found </a> at line 1, column 7"},
        {"<a></a b>", "mismatched end tag: expected </a>, found </a b> at line 1, column 4"},
        {"<a></A>", "mismatched end tag: expected </a>, found </A> at line 1, column 4"},
        {"<a>\xFF</\xFF>", "mismatched end tag: expected </a>, found </\xEF\xBF\xBD> at line 1, column 5"},
        // Columns count bytes, from the first byte after a byte-order mark.
        {"\xEF\xBB\xBF<a></b>", "mismatched end tag: expected </a>, found </b> at line 1, column 4"},
        {"<a>\xC3\xA9</b>", "mismatched end tag: expected </a>, found </b> at line 1, column 6"},
        {"</a>", "end tag </a> with no open element at line 1, column 1"},
        {"<a></a></a>", "end tag </a> with no open element at line 1, column 8"},
        {"<a></ >", "end tag without a name at line 1, column 4"},
        {"<>", "start tag without a name at line 1, column 1"},
        {"x\n < a>", "start tag without a name at line 2, column 2"},
        {"<a>AT&T</a>", "'&' without a terminating ';' at line 1, column 6"},
        {"<a>x&y&z;</a>", "'&' without a terminating ';' at line 1, column 5"},
        {"x&y", "'&' without a terminating ';' at line 1, column 2"},
        {"<", "unclosed start tag starting at line 1, column 1"},
        {"<a", "unclosed start tag starting at line 1, column 1"},
        {"<a b=\">\"", "unclosed start tag starting at line 1, column 1"},
        {"<a b='x>", "unclosed start tag starting at line 1, column 1"},
        {"<a></a", "unclosed end tag starting at line 1, column 4"},
        {"\n\n<!-- x", "unclosed comment starting at line 3, column 1"},
        {"<!--->", "unclosed comment starting at line 1, column 1"},
        {"<![CDATA[x]]", "unclosed CDATA section starting at line 1, column 1"},
        {"<?p x", "unclosed processing instruction starting at line 1, column 1"},
        {"<?>", "unclosed processing instruction starting at line 1, column 1"},
        {"<?xml version", "unclosed XML declaration starting at line 1, column 1"},
        {"<!DOCTYPE r", "unclosed DOCTYPE starting at line 1, column 1"},
        {"<!DOCTYPE r [ <!ENTITY e \"]>\"> ", "unclosed DOCTYPE starting at line 1, column 1"},
        {"<!DOCTYPE r [ <!-- ]> -->", "unclosed DOCTYPE starting at line 1, column 1"},
        {"<!DOCTYPE r SYSTEM 'x>", "unclosed DOCTYPE starting at line 1, column 1"},
        {"<!", "unclosed '<!' markup starting at line 1, column 1"},
        {"<a><!-", "unclosed '<!' markup starting at line 1, column 4"},
        {"<![CDA", "unclosed '<!' markup starting at line 1, column 1"},
        {"<!FOO>", "unknown '<!' markup at line 1, column 1"}, {"<!-x->", "unknown '<!' markup at line 1, column 1"},
        {"<![cdata[x]]>", "unknown '<!' markup at line 1, column 1"},
        // The start or empty-element tag that would open one level too many.
        {repeat("<a>", kMaxDepth) + "\n <b>", "elements nested deeper than 256 levels at line 2, column 2"},
        {repeat("<a>", kMaxDepth) + "<b/>", "elements nested deeper than 256 levels at line 1, column 769"},
    };
    for (const auto& c : cases) {
        Events got = memory_events(c.doc);
        EXPECT_EQ(got.back(), "error: " + c.message) << c.doc;
    }
}

// ---- attributes -----------------------------------------------------------

struct AttrCase {
    std::string text;
    bool skip_repeated;
    std::vector<std::string> expected;  // "name=value"
};

std::vector<std::string> attributes(std::string_view text, bool skip_repeated) {
    const ExactBuffer copy(text);
    AttributeReader reader(copy.view(), skip_repeated);
    std::vector<std::string> out;
    Attribute a;
    while (reader.next(a)) out.push_back(std::string(a.name) + "=" + std::string(a.value));
    return out;
}

TEST(AttributeReader, Walk) {
    const std::vector<AttrCase> cases = {
        {"", true, {}}, {" a=\"1\" b='2'", true, {"a=1", "b=2"}},
        {" a = \"1\"\tb\n=\n'2' ", true, {"a=1", "b=2"}},
        {" a=\"x>y\" b='say \"hi\"' c=\"it's\"", true, {"a=x>y", "b=say \"hi\"", "c=it's"}},
        {" a=\"\" xmlns:x=\"urn:x\" x:b='&amp;'", true, {"a=", "xmlns:x=urn:x", "x:b=&amp;"}},
        {" a=\"1\"b=\"2\"", true, {"a=1", "b=2"}},
        // Malformed attributes are stepped over.
        {" disabled a=\"1\"", true, {"a=1"}}, {" a b=\"2\"", true, {"b=2"}},
        {" a=1 b=\"2\"", true, {"b=2"}}, {" a=x\"y z\" b=\"2\"", true, {"b=2"}},
        {" a= b=\"2\"", true, {"b=2"}}, {" a=", true, {}},
        {" a='", true, {}}, {" a=''", true, {"a="}},
        {" a=\"1\"=\"2\" b=\"3\"", true, {"a=1", "b=3"}}, {" a", true, {}},
        {" \"q\" b=\"2\"", true, {"b=2"}}, {" 'x b=\"2\"' c=\"3\"", true, {"c=3"}},
        {" a\"b c\"=\"1\" d=\"4\"", true, {"d=4"}}, {" =\"1\" b=\"2\"", true, {"b=2"}},
        {" b=\"0\" a=\"1", true, {"b=0"}},
        // Repeated names: the first wins, or every one is taken.
        {" a=\"1\" b=\"2\" a=\"3\"", true, {"a=1", "b=2"}},
        {" a=\"1\" b=\"2\" a=\"3\"", false, {"a=1", "b=2", "a=3"}},
        // A repeat after a malformed attribute, read byte by byte.
        {" a=\"1\" x b=\"2\" a=\"3\"", true, {"a=1", "b=2"}},
        // A malformed first occurrence does not hide a later good one.
        {" a=1 a=\"2\" a=\"3\"", true, {"a=2"}},
        // Names are compared as written.
        {" x:a=\"1\" a=\"2\" A=\"3\"", true, {"x:a=1", "a=2", "A=3"}},
    };
    for (const auto& c : cases) EXPECT_EQ(attributes(c.text, c.skip_repeated), c.expected) << c.text;
}

TEST(AttributeReader, RepeatsAmongManyAttributes) {
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; i < 20; ++i) {
        text += " n" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
        expected.push_back("n" + std::to_string(i) + "=" + std::to_string(i));
    }
    std::vector<std::string> all = expected;
    for (int i : {3, 15, 0, 19}) {
        text += " n" + std::to_string(i) + "=\"again\"";
        all.push_back("n" + std::to_string(i) + "=again");
    }
    EXPECT_EQ(attributes(text, true), expected);
    EXPECT_EQ(attributes(text, false), all);
}

TEST(AttributeReader, RepeatsAmongNamesOfCollidingLengths) {
    // Names of one first byte whose lengths differ by 64 share their bit in
    // the filter; names of one length that differ only in their last byte
    // are different names.
    const std::string a1 = "a", a65(65, 'a'), b65 = std::string(64, 'a') + "b", a129(129, 'a');
    std::string text;
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {a65, "1"}, {a1, "2"}, {b65, "3"}, {a129, "4"}, {a65, "5"}, {b65, "6"}, {a1, "7"}, {a129, "8"}}) {
        text += " " + name + "=\"" + value + "\"";
    }
    EXPECT_EQ(attributes(text, true), (std::vector<std::string>{a65 + "=1", a1 + "=2", b65 + "=3", a129 + "=4"}));
    EXPECT_EQ(attributes(text, false).size(), 8u);
}

// Texts either side of 64 bytes, the most the walk reads from bit masks, with
// a repeat after a long value.
TEST(AttributeReader, TextsAroundSixtyFourBytes) {
    for (std::size_t n = 55; n <= 75; ++n) {
        const std::string value(n - 19, 'v');
        const std::string text = " a=\"1\" b='" + value + "' a=\"2\" c";
        EXPECT_EQ(attributes(text, true), (std::vector<std::string>{"a=1", "b=" + value})) << n;
        EXPECT_EQ(attributes(text, false), (std::vector<std::string>{"a=1", "b=" + value, "a=2"})) << n;
    }
}

// ---- scans near the ends of the bytes -------------------------------------

// Filler that stops none of the scans but comes close: bytes >= 0x80 (0xBC
// and 0xA6 are '<' and '&' with the top bit set), and neighbours of the stops.
constexpr char kFiller[] = "a\xBC\xA6=;\xBE\xA2\xA7\xA0\x89\x8D\x8A!\x1F\x80\xFF/?";

std::string filler(std::size_t n, std::size_t seed) {
    std::string s(n, 'x');
    for (std::size_t i = 0; i < n; ++i) s[i] = kFiller[(i + seed) % (sizeof kFiller - 1)];
    return s;
}

struct ScanCase {
    const char* name;
    std::string_view stops;
    const char* (*scan)(const char* p, const char* end);
};

TEST(XmlScan, FindsEveryStopAtEveryPositionAndNothingBeyond) {
    const std::vector<ScanCase> cases = {
        {"text", "<&", detail::find_text_stop},
        {"tag", ">\"'", detail::find_tag_stop},
        {"byte", ">", [](const char* p, const char* e) { return detail::find_byte_near(p, e, '>'); }},
        {"space", " \t\r\n", [](const char* p, const char* e) { return detail::find_space(p, e, e); }},
    };
    for (const auto& c : cases) {
        for (std::size_t n = 0; n <= 40; ++n) {
            for (std::size_t from = 0; from <= std::min<std::size_t>(n, 17); ++from) {
                // at == n: no stop at all; a second stop after the first must not win.
                for (std::size_t at = from; at <= n; ++at) {
                    for (char stop : c.stops) {
                        std::string bytes = filler(n, at);
                        if (at < n) bytes[at] = stop;
                        if (at + 1 < n) bytes[at + 1 + (n - at - 2) / 2] = c.stops[0];
                        const ExactBuffer buf(bytes);
                        const char* b = buf.data.get();
                        EXPECT_EQ(c.scan(b + from, b + n) - b, static_cast<std::ptrdiff_t>(at))
                            << c.name << " n=" << n << " from=" << from << " stop=" << int(stop);
                    }
                }
            }
        }
    }
}

TEST(XmlScan, SpaceWithinALimitAndLineFeedsAcrossLaneRounds) {
    const std::string bytes = filler(40, 0) + " ";
    for (std::size_t limit = 0; limit <= 40; ++limit) {
        std::string with_space = bytes;
        with_space[limit / 2] = '\t';
        for (const std::string& s : {bytes, with_space}) {
            const ExactBuffer buf(s);
            const char* b = buf.data.get();
            const std::size_t want = s == bytes ? limit : limit == 0 ? 0 : limit / 2;
            EXPECT_EQ(detail::find_space(b, b + limit, b + s.size()) - b, static_cast<std::ptrdiff_t>(want)) << limit;
        }
    }
    // 255 blocks of 16 bytes fill a lane; sizes around 4080 cross a round.
    std::mt19937 rng(7);
    for (std::size_t n : {0, 1, 15, 16, 17, 4079, 4080, 4081, 4096, 9000}) {
        for (int density : {0, 1, 16}) {  // none, every byte, one in 16
            std::string s(n, 'x');
            for (char& c : s)
                if (density == 1 || (density == 16 && rng() % 16 == 0)) c = '\n';
            const ExactBuffer buf(s);
            EXPECT_EQ(detail::count_line_feeds(buf.data.get(), buf.data.get() + n),
                      static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')))
                << n << " " << density;
        }
    }
}

// Documents whose names and values have every length from 1 to 40, ending
// exactly at the end of the bytes or well before it, so that each 16-byte
// scan meets the end at every offset: the whole element, the element cut
// one byte short, the empty-element tag, and end tags that match the open
// name, or come within a byte of it. Events, or the error's column.
struct SweepCase {
    std::string doc;
    Events expected;  // empty: an error at `column`
    std::size_t column = 0;
};

std::vector<SweepCase> length_sweep() {
    std::vector<SweepCase> out;
    for (std::size_t n = 1; n <= 40; ++n) {
        const std::string name = "n" + filler(n - 1, n), value = filler(n - 1, 2 * n);
        const std::string start = "<" + name + " k=\"" + value + "\">", attrs = "start " + name + "| k=\"" + value + "\"";
        const std::string doc = start + "t</" + name + ">";
        out.push_back({doc, {attrs, "text|t", "end " + name, "eoi"}});
        out.push_back({doc.substr(0, doc.size() - 1), {}, start.size() + 2});
        out.push_back({start.substr(0, start.size() - 1) + "/>", {"empty" + attrs.substr(5), "eoi"}});
        const std::string tag_name = filler(n, n).replace(0, 1, "n");  // never ends in '/'
        std::vector<std::pair<std::string, bool>> tags = {  // the end tag, and whether it closes the element
            {"</" + tag_name + ">", true}, {"</" + tag_name + " >", true}, {"</" + tag_name + "\t\r\n>", true},
            {"</" + tag_name + "x>", false}, {"</" + tag_name + tag_name + ">", false}, {"</" + tag_name + " x>", false},
            {"</" + tag_name.substr(0, n - 1) + ">", false}, {"</ " + tag_name + ">", false},
        };
        for (std::size_t at = 0; at < n; ++at) {
            std::string other = tag_name;
            other[at] = static_cast<char>(other[at] ^ 0x20);
            tags.push_back({"</" + other + ">", false});
        }
        for (const auto& [tag, closes] : tags) {
            for (const std::string pad : {"", "                    "}) {
                SweepCase c{"<" + tag_name + ">" + tag + pad, {}, n + 3};
                if (closes) c.expected = {"start " + tag_name, "end " + tag_name};
                if (closes && !pad.empty()) c.expected.push_back("text|" + pad);
                if (closes) c.expected.push_back("eoi");
                out.push_back(c);
            }
        }
    }
    return out;
}

TEST(XmlReader, NamesValuesAndEndTagsOfEveryLength) {
    for (const SweepCase& c : length_sweep()) {
        const Events got = memory_events(c.doc);
        if (!c.expected.empty()) {
            EXPECT_EQ(got, c.expected) << c.doc;
        } else {
            ASSERT_TRUE(got.back().starts_with("error: ")) << c.doc;
            EXPECT_TRUE(got.back().ends_with(" at line 1, column " + std::to_string(c.column))) << c.doc << got.back();
        }
    }
    for (std::size_t n = 0; n <= 40; ++n) {  // a value that ends at the end of the bytes
        const std::string value = filler(n, 2 * n);
        EXPECT_EQ(attributes(" k=\"" + value + "\"", true), (std::vector<std::string>{"k=" + value})) << n;
    }
    // Quoted '>' and quotes of the other kind at every offset of a block.
    for (std::size_t pad = 0; pad < 40; ++pad) {
        const std::string name = "t" + std::string(pad, 'x');
        for (const std::string attrs : {" a='\">' b=\"'>\"", " a=\"1\" b='>' c=\">>\"", " a=\"x\"\"y>\""}) {
            const std::string doc = "<" + name + attrs + ">z</" + name + ">";
            EXPECT_EQ(memory_events(doc), (Events{"start " + name + "|" + attrs, "text|z", "end " + name, "eoi"}))
                << doc;
        }
    }
    // A name may hold a '>' (after a quote); the end tag then ends at that '>'.
    EXPECT_EQ(memory_events("<a\">\"b></a\">\"b>                    ").back(),
              "error: mismatched end tag: expected </a\">\"b>, found </a\"> at line 1, column 8");
}

// The stack of open names grows well past its first size, with names short
// and long, and each end tag is checked against its own start tag.
TEST(XmlReader, DeepNestingOfNamesOfEveryLength) {
    std::string doc;
    Events expected;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kMaxDepth; ++i) {
        names.push_back("e" + std::string(i % 41, static_cast<char>('a' + i % 26)));
        doc += "<" + names.back() + ">";
        expected.push_back("start " + names.back());
    }
    std::string closing;
    for (std::size_t i = names.size(); i-- > 0;) {
        closing += "</" + names[i] + ">";
        expected.push_back("end " + names[i]);
    }
    expected.push_back("eoi");
    const ExactBuffer whole(doc + closing);
    Reader reader(whole.view());
    EXPECT_EQ(events(reader), expected);
    EXPECT_EQ(window_events(whole.view(), 16, 0), expected);

    // Closing the outer names first fails at the first end tag, naming the
    // innermost open element.
    const std::string wrong = doc + "</" + names[0] + ">";
    Reader wrong_reader(wrong);
    EXPECT_EQ(events(wrong_reader).back(), "error: mismatched end tag: expected </" + names.back() + ">, found </" +
                                               names[0] + "> at line 1, column " + std::to_string(doc.size() + 1));
}

// ---- window mode ----------------------------------------------------------

// Documents holding every construct, including ones whose bytes are long
// enough to straddle several small windows.
const std::vector<std::string> kWindowDocs = {
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<!DOCTYPE r [\n  <!ENTITY e \"a>b\">\n  <!-- ' ] > -->\n  <?p > ?>\n  <!-- ]> --><?q ]> ?>\n]>\n"
    "<r xmlns:x=\"urn:x\" a='1>2' b=\"q'q\">\r\n"
    "  <x:item id=\"7\"/>text \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 more&amp;&#x1F600;&undefined entity;\r\n"
    "  <!-- c -- c --><![CDATA[ <raw> & ]] ]]><?pi data?>\n"
    "  <deep><deeper>\r\n</deeper></deep>\n</r>\n<second/>tail",
    "<a>1</b>",
    "<r>\n<a>\n</a>\n</r>\n</r>",
    "<r>AT&T</r>",
    "<r><!DOCTYPE oops [ <!-- ]> --> ",
    "<r>x</r><!FOO>",
    "<a b='never closed>",
};

// Every prefix of each document, and each document shifted by 0 to 64 bytes
// so that a window boundary falls at every offset of every construct.
TEST(XmlReaderWindow, SameEventsAsMemoryAtEveryCutAndAlignment) {
    for (const auto& full : kWindowDocs) {
        for (std::size_t cut = 0; cut <= full.size(); ++cut) {
            const std::string_view doc(full.data(), cut);
            const Events expected = memory_events(doc);
            for (std::size_t window : {1, 3, 8, 16, 64})
                for (std::size_t chunk : {1, 2, 3, 7, 0})
                    EXPECT_EQ(window_events(doc, window, chunk), expected) << cut << " " << window << " " << chunk;
        }
        for (std::size_t shift = 0; shift <= 64; ++shift) {
            const std::string doc = std::string(shift, ' ') + full;
            const Events expected = memory_events(doc);
            for (std::size_t window : {8, 16, 64})
                EXPECT_EQ(window_events(doc, window, 0), expected) << "shift " << shift << ", window " << window;
        }
    }
}

TEST(XmlReaderWindow, LinesCountedAcrossSlides) {
    std::string doc = "<r>\n";
    for (int i = 0; i < 100; ++i) doc += "<a>x</a>\r\n";
    doc += "  </b>";
    const std::string message = "error: mismatched end tag: expected </r>, found </b> at line 102, column 3";
    EXPECT_EQ(memory_events(doc).back(), message);
    EXPECT_EQ(window_events(doc, 16, 0).back(), message);

    // The position as data, offset included, counts the bytes slid out of the window.
    auto error_of = [](Reader& reader) {
        Event ev;
        auto read = reader.next(ev);
        while (read) read = reader.next(ev);
        return read.error();
    };
    Reader whole(doc);
    ChunkSource source(doc, 0);
    Reader windowed(source, 16);
    const ReadError want{ReadError::Kind::Syntax, "mismatched end tag: expected </r>, found </b>", 102, 3,
                         doc.size() - 4};
    EXPECT_EQ(error_of(whole), want);
    EXPECT_EQ(error_of(windowed), want);
}

TEST(XmlReaderWindow, ReadFailure) {
    const std::string doc = "<a>hello</a><b/>";
    // The failure comes after the bytes that did arrive were read as far as
    // they go: "</" is all there is of the next tag.
    ChunkSource source(doc, 3, 10);
    Reader reader(source, 64);
    EXPECT_EQ(events(reader), (Events{"start a", "text|hello", "error: failed to read the input: disk on fire"}));
    Event ev;
    EXPECT_EQ(messages::read_error(reader.next(ev).error()), "failed to read the input: disk on fire");

    ChunkSource at_once(doc, 3, 0);
    Reader first(at_once, 64);
    EXPECT_EQ(events(first), (Events{"error: failed to read the input: disk on fire"}));

    // Wherever the failure strikes, what comes before it is what memory mode
    // gives, and then the error.
    const Events whole = memory_events(doc);
    for (std::size_t fail_at = 0; fail_at <= doc.size(); ++fail_at) {
        for (std::size_t window : {4, 64}) {
            ChunkSource failing(doc, 2, fail_at);
            Reader r(failing, window);
            Events got = events(r);
            ASSERT_EQ(got.back(), "error: failed to read the input: disk on fire") << fail_at;
            got.pop_back();
            ASSERT_LE(got.size(), whole.size());
            EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin())) << fail_at;
        }
    }
}

}  // namespace
}  // namespace tessaly::xml

namespace tessaly::xml {
namespace {

// Every length through the in-place ranges and past them, the byte at every
// place, once or twice, and high bytes that must not pass for it.
TEST(PositionOf, AgreesWithFind) {
    for (std::size_t n = 0; n <= 40; ++n) {
        for (std::size_t at = 0; at <= n; ++at) {
            std::string s(n, '\xBA');
            if (at < n) s[at] = ':';
            if (at + 3 < n) s[at + 3] = ':';
            EXPECT_EQ(position_of(s, ':'), s.find(':')) << n << " " << at;
            EXPECT_EQ(local_name(s), at < n ? std::string_view(s).substr(at + 1) : std::string_view(s));
        }
    }
}

}  // namespace
}  // namespace tessaly::xml
