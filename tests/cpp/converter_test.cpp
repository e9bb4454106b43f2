// The converter's text rules, checked where a fault shows first: coercion of
// text to its kind, references, trimming and line ends. Declaration lookup,
// xsi:type and the conventions are checked end to end from real XSD text in
// tests/python/test_schema_conversion.py.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <random>
#include <string>

#include "converter/checked_source.hpp"
#include "converter/coerce.hpp"
#include "converter/references.hpp"
#include "converter/text.hpp"
#include "json/writer.hpp"
#include "xml/utf8.hpp"

namespace tessaly::converter {
namespace {

using schema::JsonType;

std::string json_of(const storage::Value& v) {
    std::string out;
    json::StringSink sink(out);
    storage::KeyTable no_keys;  // a coerced value is never an object
    EXPECT_TRUE(json::write_pretty(v, no_keys, sink).has_value());
    return out;
}

TEST(Coerce, Table) {
    constexpr JsonType I = JsonType::Integer, F = JsonType::Float, B = JsonType::Boolean;
    const struct {
        JsonType kind;
        const char* text;
        const char* json;
    } cases[] = {
        {I, "42", "42"}, {I, "-17", "-17"}, {I, "+8", "8"}, {I, "-0", "0"}, {I, "007", "7"},
        {I, "3.0", "\"3.0\""}, {I, "1e3", "\"1e3\""}, {I, "+", "\"+\""}, {I, "-", "\"-\""}, {I, "", "\"\""},
        {I, " 1", "\" 1\""}, {I, "1_0", "\"1_0\""},
        {I, "9223372036854775807", "9223372036854775807"}, {I, "9223372036854775808", "\"9223372036854775808\""},
        {I, "-9223372036854775808", "-9223372036854775808"},
        {I, "-9223372036854775809", "\"-9223372036854775809\""},
        {I, "18446744073709551615", "\"18446744073709551615\""},
        {I, "99999999999999999999999", "\"99999999999999999999999\""},
        {F, "3.14", "3.14"}, {F, "5", "5.0"}, {F, ".5", "0.5"}, {F, "5.", "5.0"}, {F, "+2.5", "2.5"},
        {F, "1E-3", "0.001"}, {F, "-0", "-0.0"}, {F, "1e-400", "0.0"}, {F, "-1e-400", "-0.0"},
        {F, "1e999", "\"1e999\""}, {F, "-1e999", "\"-1e999\""}, {F, "NaN", "\"NaN\""}, {F, "inf", "\"inf\""},
        {F, "-Infinity", "\"-Infinity\""}, {F, "1,5", "\"1,5\""}, {F, ".", "\".\""}, {F, "1e", "\"1e\""},
        {F, "0x10", "\"0x10\""}, {F, " 1.0", "\" 1.0\""}, {F, "0e99999999999999999999", "0.0"},
        {F, "5e-324", "5e-324"},
        {B, "true", "true"}, {B, "1", "true"}, {B, "false", "false"}, {B, "0", "false"}, {B, "True", "\"True\""},
        {B, "yes", "\"yes\""}, {B, "true ", "\"true \""}, {B, "2", "\"2\""},
        {JsonType::String, "42", "\"42\""}, {JsonType::Absent, "42", "\"42\""},
        {static_cast<JsonType>(4), "42", "\"42\""},
    };
    for (const auto& c : cases) EXPECT_EQ(json_of(coerce_value(c.text, c.kind)), c.json) << c.text;
}

// Decimal texts of 1 to 18 digits, signed or not, with the point anywhere or
// nowhere: short ones take a quicker route to their double, which must be
// the very double that full parsing gives.
TEST(Coerce, DecimalsParseToTheNearestDouble) {
    std::mt19937_64 rng(5);
    for (int i = 0; i < 200000; ++i) {
        std::string digits = std::to_string(rng());
        digits.resize(1 + rng() % std::min<std::size_t>(18, digits.size()));
        if (rng() % 4 == 0) digits[0] = '0';
        std::string t = digits;
        if (rng() % 3) t.insert(rng() % (t.size() + 1), ".");
        t = (rng() % 3 == 0 ? "-" : (rng() % 5 == 0 ? "+" : "")) + t;
        storage::Value v = coerce_value(t, JsonType::Float);
        ASSERT_EQ(v.kind(), storage::Kind::Float) << t;
        double want = 0;
        const char* first = t.data() + (t[0] == '+' ? 1 : 0);
        ASSERT_EQ(std::from_chars(first, t.data() + t.size(), want).ec, std::errc()) << t;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(v.as_float()), std::bit_cast<std::uint64_t>(want)) << t;
    }
}

TEST(Reference, Table) {
    const struct {
        const char* name;
        const char* text;  // what the reference stands for; null: passes through
    } cases[] = {
        {"lt", "<"}, {"gt", ">"}, {"amp", "&"}, {"apos", "'"}, {"quot", "\""}, {"#65", "A"}, {"#x41", "A"},
        {"#x1F600", "\xF0\x9F\x98\x80"}, {"#xE9", "\xC3\xA9"}, {"#x10FFFF", "\xF4\x8F\xBF\xBF"},
        {"#X41", nullptr}, {"#0", nullptr}, {"#x0", nullptr}, {"#xD800", nullptr}, {"#x110000", nullptr},
        {"#x100000000", nullptr}, {"#", nullptr}, {"#x", nullptr}, {"#-1", nullptr}, {"#+65", nullptr},
        {"#6a", nullptr}, {"nbsp", nullptr}, {"AMP", nullptr}, {"", nullptr},
    };
    for (const auto& c : cases) {
        RefBuffer buf;
        bool passthrough = false;
        std::string_view got = resolve_general_ref(c.name, buf, passthrough);
        EXPECT_EQ(passthrough, c.text == nullptr) << c.name;
        if (c.text) EXPECT_EQ(got, c.text) << c.name;
    }
}

TEST(Text, TrimsExactlyTheWhiteSpaceCharacters) {
    struct {
        std::string in, out;
    } cases[] = {
        {" \t\n\x0B\x0C\r x y \r\n", "x y"},
        {"\xC2\x85\xC2\xA0x\xE1\x9A\x80", "x"},
        {"\xE2\x80\x80\xE2\x80\x8A x \xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80", "x"},
        {"\xE2\x80\x8Bx\xE2\x80\x8B", "\xE2\x80\x8Bx\xE2\x80\x8B"},  // U+200B is not White_Space
        {"\xC2\xA9", "\xC2\xA9"},                                      // nor is U+00A9
        {"\xE3\x80\x81x", "\xE3\x80\x81x"},                            // nor U+3001
        {"\xE2\x82\xACx\xE2\x82\xAC", "\xE2\x82\xACx\xE2\x82\xAC"},        // nor U+20AC
        {"   ", ""},
        // Indentation runs of every length around the eight-byte steps,
        // ending in text, in nothing, or in a non-ASCII space.
        {"\n" + std::string(7, ' ') + "x", "x"},
        {"\n" + std::string(8, ' ') + "x", "x"},
        {"\n" + std::string(9, ' ') + "x", "x"},
        {std::string(16, ' ') + "\xC2\xA0x", "x"},
        {std::string(17, ' ') + "\xC2\xA9", "\xC2\xA9"},
        {"\n" + std::string(24, ' '), ""},
        {"\n\n" + std::string(8, ' ') + "\tx", "x"},
        {std::string(8, ' ') + "\x01", "\x01"},  // a control character that is not White_Space
    };
    for (const auto& c : cases) EXPECT_EQ(trim_white_space(c.in), c.out) << c.in;
    for (const auto& c : cases) EXPECT_EQ(is_all_white_space(c.in), c.out.empty()) << c.in;
}

// Every length up to 40 with one odd byte at every place, and without one.
TEST(Text, AsciiSpaceRunsOfEveryLength) {
    const std::string spaces = " \t\n\x0B\x0C\r";
    for (std::size_t n = 0; n <= 40; ++n) {
        std::string run;
        for (std::size_t i = 0; i < n; ++i) run += spaces[(i * 7 + n) % spaces.size()];
        // Bordered by non-space bytes that must never be read as part of it.
        std::string framed = "x" + run + "x";
        std::string_view view(framed.data() + 1, n);
        EXPECT_TRUE(all_ascii_space(view) && is_all_white_space(view)) << n;
        for (std::size_t at = 0; at < n; ++at)
            for (char odd : {'a', '\x08', '\x0E', '\x1F', '!', '\xC2'}) {
                std::string t = run;
                t[at] = odd;
                EXPECT_FALSE(all_ascii_space(t) || is_all_white_space(t)) << n << " " << at << " " << int(odd);
            }
    }
    EXPECT_FALSE(all_ascii_space("  \xC2\xA0"));
    EXPECT_TRUE(is_all_white_space("  \xC2\xA0"));  // a non-ASCII space: the exact test decides
}

TEST(Text, NormalizesLineEnds) {
    struct {
        std::string in, out;
    } cases[] = {{"a\r\nb", "a\nb"}, {"a\rb", "a\nb"}, {"\r\r\n\n", "\n\n\n"}, {"\r", "\n"}, {"ab", "ab"}};
    for (const auto& c : cases) {
        std::string buf(c.in.size(), '\0');
        buf.resize(normalize_line_ends(c.in, buf.data()));
        EXPECT_EQ(buf, c.out);
    }
}

}  // namespace
}  // namespace tessaly::converter

namespace tessaly::converter {

namespace {
// Hands out a text `chunk` bytes at a time.
class ChunkSource final : public xml::ByteSource {
public:
    ChunkSource(std::string_view text, std::size_t chunk) : rest_(text), chunk_(chunk) {}
    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) override {
        const std::size_t n = std::min({chunk_, capacity, rest_.size()});
        std::memcpy(dst, rest_.data(), n);
        rest_.remove_prefix(n);
        return n;
    }

private:
    std::string_view rest_;
    std::size_t chunk_;
};
}  // namespace

// Whatever the cuts between reads, the source vouches for its bytes exactly
// while they are a valid text or one cut inside its last sequence.
TEST(CheckedSource, VouchesExactlyForValidText) {
    const std::string texts[] = {
        "plain", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\xFF", "a\xC3", "a\xE2\x82" "b",
        "\xED\xA0\x80", "\xF0\x9F\x98" "A", "\xC0\xAF", "\xF4\x90\x80\x80", "\xF0\x9F\x98\x80\xE2\x82",
    };
    for (const std::string& text : texts) {
        for (std::size_t chunk = 1; chunk <= text.size(); ++chunk) {
            ChunkSource inner(text, chunk);
            CheckedSource checked(inner);
            char buf[64];
            std::size_t read = 0;
            while (true) {
                auto got = checked.read(buf, sizeof buf);
                ASSERT_TRUE(got);
                if (*got == 0) break;
                read += *got;
                const auto bad = xml::find_utf8_error(std::string_view(text).substr(0, read));
                EXPECT_EQ(checked.all_valid(), !bad || bad->error_len == 0) << text << " / " << chunk;
            }
            EXPECT_EQ(checked.all_valid(), xml::is_utf8(text)) << text << " / " << chunk;
        }
    }
}

}  // namespace tessaly::converter
