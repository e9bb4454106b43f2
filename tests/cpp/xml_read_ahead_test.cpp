// Reading ahead on a second thread (xml/read_ahead.hpp), over a document in
// memory or through a window, must give exactly the events and the error
// that reading in turn gives, across many blocks, and end promptly when
// dropped while the thread waits; a conversion must give the same text or
// error either way.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "converter/convert.hpp"
#include "schema/loader.hpp"
#include "tessaly/records.hpp"
#include "xml/read_ahead.hpp"

namespace tessaly {
namespace {

// Tens of thousands of events of every kind, so that they fill many blocks.
std::string long_document(unsigned seed) {
    std::mt19937 rng(seed);
    std::string s = "<?xml version=\"1.0\"?>\n<!DOCTYPE r>\n<r v=\"2\">";
    for (int i = 0; i < 6000; ++i) {
        switch (rng() % 5) {
            case 0: s += "<p n=\"" + std::to_string(i) + "\" s='true'>" + std::to_string(rng() % 100) + "</p>"; break;
            case 1: s += "<q/><!-- c --><q a=\"x&amp;y\"/>"; break;
            case 2: s += "<t>a &lt; b &#x3A9; <![CDATA[<raw>]]> c</t>"; break;
            case 3: s += "<?pi data?>\n  "; break;
            default: s += "<g><p n=\"1\">7</p><p n=\"2\"/></g>"; break;
        }
        if (i % 1500 == 0) {  // more attributes than a block holds, and then many at once
            for (int k : {3000, 100}) {
                s += "<w";
                for (int j = 0; j < k; ++j) s += " a" + std::to_string(j) + "=\"" + std::to_string(j) + "\"";
                s += " a7='again'/>";
            }
        }
    }
    return s + "</r>";
}

template <class Walk>
std::string listed(Walk walk) {
    std::string s;
    for (xml::Attribute a; walk.next(a);) s += " " + std::string(a.name) + "=" + std::string(a.value);
    return s;
}

// The attributes of the tag just given out, as the walker takes them.
std::string attributes_of(xml::Reader&, const xml::Event& ev) { return listed(xml::AttributeReader(ev.body)); }
std::string attributes_of(xml::ReadAhead& reader, const xml::Event& ev) {
    const xml::ReadAttributes* read = reader.attributes();
    return read ? listed(xml::AttributeList(*read)) : "(from the text)" + listed(xml::AttributeReader(ev.body));
}

// The next event into `out`, from either reader.
std::expected<void, xml::ReadError> read(xml::Reader& reader, xml::Event& out) { return reader.next(out); }
std::expected<void, xml::ReadError> read(xml::ReadAhead& reader, xml::Event& out) {
    auto got = reader.next();
    if (!got) return std::unexpected(std::move(got.error()));
    out = **got;
    return {};
}

int taken_from_text = 0;  // tags whose attributes the read-ahead left to the caller

// A document handed over a few bytes at a time.
class Trickle final : public xml::ByteSource {
public:
    explicit Trickle(std::string_view text) : rest_(text) {}
    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) override {
        const std::size_t n = std::min({capacity, rest_.size(), std::size_t{997}});
        std::memcpy(dst, rest_.data(), n);
        rest_.remove_prefix(n);
        return n;
    }

private:
    std::string_view rest_;
};

// `where`: each event's views told by where they point (a document in
// memory, whose events are given where they lie), else by their bytes.
template <class Reader>
std::vector<std::string> trace(Reader& reader, bool where = true) {
    std::vector<std::string> out;
    xml::Event ev;
    int after_end = 0;
    while (after_end < 3) {
        if (auto got = read(reader, ev); !got) {
            const xml::ReadError& e = got.error();
            out.push_back("error " + e.what + " " + std::to_string(e.offset) + ":" + std::to_string(e.line) + ":" +
                          std::to_string(e.column));
            ++after_end;
            continue;
        }
        if (where)
            out.push_back(std::to_string(int(ev.kind)) + " " + std::to_string(std::uintptr_t(ev.name.data())) + "+" +
                          std::to_string(ev.name.size()) + " " + std::to_string(std::uintptr_t(ev.body.data())) + "+" +
                          std::to_string(ev.body.size()));
        else
            out.push_back(std::to_string(int(ev.kind)) + " " + std::string(ev.name) + " " + std::string(ev.body));
        if (ev.kind == xml::EventKind::StartTag || ev.kind == xml::EventKind::EmptyTag) {
            std::string attributes = attributes_of(reader, ev);
            if (attributes.starts_with("(from the text)")) {
                ++taken_from_text;
                attributes.erase(0, 15);
            }
            out.back() += attributes;
        }
        if (ev.kind == xml::EventKind::EndOfInput) ++after_end;
    }
    return out;
}

TEST(XmlReadAhead, GivesTheReadersEventsAndError) {
    const std::string doc = long_document(7);
    const std::size_t mid = doc.rfind('<', doc.size() / 2);
    const std::string cases[] = {
        doc,
        doc.substr(0, mid) + "</nope>" + doc.substr(mid),                        // a wrong end tag mid-way
        doc.substr(0, doc.size() - 40),                                          // elements left open
        doc.substr(0, doc.size() / 3) + "<a b=\"unclosed",                       // a tag cut short
        "<",                                                                     // an error at once
        "",
    };
    for (const std::string& text : cases) {
        xml::Reader in_turn(text);
        xml::ReadAhead ahead(text);
        const auto expected = trace(in_turn);
        EXPECT_GT(expected.size(), 2u);
        EXPECT_EQ(trace(ahead), expected) << text.size() << " bytes";
    }
    EXPECT_GT(taken_from_text, 0);  // the 3000-attribute tags
}

TEST(XmlReadAhead, ThroughAWindowGivesTheReadersEventsAndError) {
    const std::string doc = long_document(5);
    const std::size_t mid = doc.rfind('<', doc.size() / 2);
    // Events longer than a window; more of them than a block's copies hold;
    // longer than a block copies (handed over in the window).
    std::string long_text;
    for (int i = 0; i < 10; ++i) long_text += "<t>" + std::string(60000, 'a' + i) + "</t>";
    long_text += "<t>" + std::string(300000, 'x') + "</t><t>" + std::string(70000, 'y') + "</t>";
    const std::string cases[] = {
        doc,
        doc.substr(0, mid) + long_text + "<!--" + std::string(100000, 'c') + "-->" + doc.substr(mid),
        doc.substr(0, mid) + long_text + "</nope>" + doc.substr(mid),
        doc.substr(0, doc.size() / 3) + "<a b=\"unclosed",
        "",
    };
    const bool valid = true;
    for (const std::string& text : cases) {
        Trickle a(text), b(text);
        xml::Reader in_turn(a, 4096);
        xml::WindowedReadAhead ahead(b, 4096, &valid);
        EXPECT_EQ(trace(ahead, false), trace(in_turn, false)) << text.size() << " bytes";
    }
}

TEST(XmlReadAhead, EndsPromptlyWhenDroppedEarly) {
    const std::string doc = long_document(11);
    for (int taken : {0, 1, 5000}) {  // before the first event, while the thread waits for room, mid-way
        xml::ReadAhead ahead(doc);
        for (int i = 0; i < taken; ++i) ASSERT_TRUE(ahead.next().has_value());
        // Through a window, and with the thread waiting on an event it lent.
        const std::string lent = doc + "<t>" + std::string(100000, 'x') + "</t>" + doc;
        Trickle source(lent);
        const bool valid = true;
        xml::WindowedReadAhead windowed(source, 4096, &valid);
        for (int i = 0; i < taken * 3; ++i) ASSERT_TRUE(windowed.next().has_value());
    }  // each destructor must return
}

TEST(XmlReadAhead, ConversionIsTheSameEitherWay) {
    auto model = schema::parse_xsd_text(
        "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
        "<xs:element name=\"r\"><xs:complexType><xs:sequence>"
        "<xs:element name=\"p\" maxOccurs=\"unbounded\"><xs:complexType><xs:simpleContent>"
        "<xs:extension base=\"xs:int\"><xs:attribute name=\"n\" type=\"xs:int\"/>"
        "<xs:attribute name=\"s\" type=\"xs:boolean\"/></xs:extension></xs:simpleContent></xs:complexType></xs:element>"
        "</xs:sequence><xs:attribute name=\"v\" type=\"xs:int\"/></xs:complexType></xs:element></xs:schema>",
        "inline.xsd", {});
    ASSERT_TRUE(model.has_value());
    const std::string doc = long_document(3);
    const std::string cases[] = {doc, doc.substr(0, doc.rfind('<', doc.size() / 2)) + "</nope>"};
    for (const std::string& text : cases) {
        auto in_turn = converter::convert_to_string(text, *model, Convention::BadgerFish, {.read_ahead_from = SIZE_MAX});
        auto ahead = converter::convert_to_string(text, *model, Convention::BadgerFish, {.read_ahead_from = 0});
        ASSERT_EQ(in_turn.has_value(), &text == &cases[0]);
        ASSERT_EQ(in_turn.has_value(), ahead.has_value());
        if (in_turn) {
            EXPECT_EQ(in_turn->view(), ahead->view());
        } else {
            EXPECT_EQ(in_turn.error().display(), ahead.error().display());
        }
    }
}

// Through a file, as a whole and as records, with bytes that are not UTF-8
// early (so the source never vouches again) and late (so it vouches for the
// first blocks only).
TEST(XmlReadAhead, FileConversionIsTheSameEitherWay) {
    auto model = schema::parse_xsd_text(
        "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
        "<xs:element name=\"r\"><xs:complexType><xs:sequence>"
        "<xs:element name=\"p\" type=\"xs:string\" maxOccurs=\"unbounded\"/>"
        "</xs:sequence></xs:complexType></xs:element></xs:schema>",
        "inline.xsd", {});
    ASSERT_TRUE(model.has_value());
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::string in = (dir / "tessaly_read_ahead_in.xml").string();
    const std::string out = (dir / "tessaly_read_ahead_out.json").string();
    const auto slurp = [](const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    std::string body;
    for (int i = 0; i < 20000; ++i) body += "<p a=\"" + std::to_string(i) + "\">v" + std::to_string(i) + "</p>";
    const std::string bad = "<p>\xC3(\xFF" + std::string(80000, 'z') + "\xE2\x82</p>";
    for (const std::string& text : {"<r>" + body + "</r>", "<r>" + bad + body + "</r>", "<r>" + body + bad + "</r>",
                                    "<r>" + body + "<p>cut"}) {
        std::ofstream(in, std::ios::binary) << text;
        std::string results[2];
        for (int ahead : {0, 1}) {
            const std::uint64_t from = ahead ? 0 : UINT64_MAX;
            auto done = converter::convert_file(in, *model, out, Convention::BadgerFish,
                                                {.window_size = 1000, .read_ahead_from = from});
            results[ahead] = done ? slurp(out) : done.error().display();
            auto records = core::RecordStream::open_file(in, *model, "p", Convention::BadgerFish,
                                                         {.window_size = 1000, .read_ahead_from = from});
            ASSERT_TRUE(records.has_value());
            std::string lines;
            std::vector<std::size_t> ends;
            Result<bool> more = true;
            while (more && *more) more = (*records)->read(lines, ends, 1 << 16);
            results[ahead] += lines + (more ? "" : more.error().display());
        }
        EXPECT_TRUE(results[0] == results[1]) << text.size() << " bytes";
        EXPECT_EQ(results[0].find("\xEF\xBF\xBD") != std::string::npos, text.find('\xFF') != std::string::npos);
    }
    std::filesystem::remove(in);
    std::filesystem::remove(out);
}

}  // namespace
}  // namespace tessaly
