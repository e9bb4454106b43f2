// Lossy UTF-8 decoding: one U+FFFD per maximal invalid subpart, agreeing with
// the byte counts of the strict error texts.

#include <gtest/gtest.h>

#include <string>

#include "messages.hpp"
#include "xml/utf8.hpp"

namespace tessaly::xml {
namespace {

const std::string R = "\xEF\xBF\xBD";

TEST(Lossy, ReplacesEachMaximalSubpartOnce) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain ascii text", "plain ascii text"}, {"caf\xC3\xA9", "caf\xC3\xA9"}, {"\xFF", R},
        {"a\xFF\xFE" "b", "a" + R + R + "b"},
        {"\xC0\xAF", R + R},                  // overlong: each byte on its own
        {"\xED\xA0\x80", R + R + R},          // surrogate
        {"\xF0\x9F\x98" "A", R + "A"},        // truncated 4-byte sequence: one subpart
        {"\xE2\x82" "x", R + "x"}, {"\xF4\x90\x80\x80", R + R + R + R},
        {"x\xE2\x82", "x" + R},               // cut off by the end
        {"\xF0\x9F\x98\x80\x80", "\xF0\x9F\x98\x80" + R},
        {std::string("0123456789abcdef\xC3") + "0123456789", "0123456789abcdef" + R + "0123456789"},
    };
    for (const auto& c : cases) {
        std::string out = "pre:";
        append_utf8_lossy(out, c.in);
        EXPECT_EQ(out, "pre:" + c.out);
        EXPECT_TRUE(is_utf8(out));
    }
}

TEST(Strict, ErrorPositionsAndLengths) {
    struct {
        std::string in;
        std::string text;
    } cases[] = {
        {"\xFF", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"abc\xF0\x9F\x98" "A", "invalid utf-8 sequence of 3 bytes from index 3"},
        {"abcdefghijklmnop\xE2\x82", "incomplete utf-8 byte sequence from index 16"},
        {"\xE0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
    };
    for (const auto& c : cases) {
        auto e = find_utf8_error(c.in);
        ASSERT_TRUE(e.has_value()) << c.text;
        EXPECT_EQ(messages::utf8_error(*e), c.text);
    }
    EXPECT_FALSE(find_utf8_error("\xF4\x8F\xBF\xBF plain").has_value());
}

// ASCII is skipped many bytes at a time: a bad byte or a valid sequence at
// every place of runs around those steps must still be found exactly.
TEST(Strict, FindsEveryPositionInAsciiRuns) {
    for (std::size_t n = 1; n <= 48; ++n)
        for (std::size_t at = 0; at < n; ++at) {
            std::string bad(n, 'a');
            bad[at] = '\xFF';
            auto e = find_utf8_error(bad);
            ASSERT_TRUE(e.has_value()) << n << " " << at;
            EXPECT_EQ(e->valid_up_to, at) << n;
            std::string good(n, 'a');
            good.replace(at, 1, "\xC3\xA9");
            EXPECT_FALSE(find_utf8_error(good).has_value()) << n << " " << at;
            good += "\xC3";
            e = find_utf8_error(good);
            ASSERT_TRUE(e.has_value());
            EXPECT_EQ(e->valid_up_to, n + 1);
            EXPECT_EQ(e->error_len, 0u);
        }
}

}  // namespace
}  // namespace tessaly::xml
