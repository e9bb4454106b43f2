// The JSON writer, float text and object ordering, checked byte for byte.

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "storage/arena.hpp"
#include "storage/key_table.hpp"
#include "storage/packed.hpp"
#include "storage/value.hpp"
#include "json/writer.hpp"
#include "schema_test_util.hpp"

namespace tessaly::json {
namespace {

using namespace storage;

using namespace std::string_literals;

// Values, their storage and their keys for one test.
struct Build {
    Arena arena;
    KeyTable keys;

    Value str(std::string_view s) { return Value::string(arena.copy(s)); }
    Value arr(std::span<const Value> items) {
        packed::RecordPacker r(arena, items.size(), packed::kMaxValue);
        for (const Value& v : items) r.value(v);
        return r.finish(Kind::Array);
    }
    Value arr(std::initializer_list<Value> items) { return arr(std::span<const Value>(items.begin(), items.size())); }
    // Members in any order, a repeated key replacing the earlier one.
    Value obj(std::initializer_list<std::pair<std::string_view, Value>> members) {
        std::vector<Member> m;
        for (const auto& [k, v] : members) m.push_back({keys.intern(k), v});
        std::size_t n = order_members(m.data(), m.size(), keys);
        return packed::pack_object({m.data(), n}, arena);
    }
    std::string write(const Value& v) {
        std::string out;
        StringSink sink(out);
        auto r = write_pretty(v, keys, sink);
        EXPECT_TRUE(r.has_value());
        return out;
    }
};

// A value without objects.
std::string write(const Value& v) { return Build().write(v); }

std::string fmt(double d) {
    char buf[32];
    return std::string(buf, format_float(d, buf));
}

// A plain byte-by-byte escaper to hold the writer's word-at-a-time scan to.
std::string reference_text(std::string_view s) {
    std::string o = "\"";
    for (unsigned char c : s) {
        const char* named[] = {"\\\"", "\\\\", "\\b", "\\t", "\\n", "\\f", "\\r"};
        const std::size_t k = std::string_view("\"\\\b\t\n\f\r").find(static_cast<char>(c));
        if (k != std::string_view::npos) {
            o += named[k];
        } else if (c < 0x20) {
            char h[8];
            std::snprintf(h, sizeof h, "\\u%04x", c);
            o += h;
        } else {
            o += static_cast<char>(c);
        }
    }
    return o + "\"";
}

TEST(JsonWriter, LayoutAndScalars) {
    Build b;
    const std::string long_key(40, 'k');
    // Strings far from the record, before and after it in other allocations,
    // and near it, next to integers around the varint steps.
    const std::string far_before(300, 'f'), far_after(70000, 'g');
    const Value packed = b.arr({Value::uinteger(127), Value::uinteger(128), Value::integer(-128), Value::string(far_before),
                                b.str("near \xc3\xa9"), Value::string(far_after), Value::floating(5e-324)});
    const std::string packed_text = "[\n  127,\n  128,\n  -128,\n  \"" + far_before + "\",\n  \"near \xc3\xa9\",\n  \"" +
                                    far_after + "\",\n  5e-324\n]";
    const struct {
        const char* name;
        Value value;
        std::string text;
    } cases[] = {
        {"example", b.obj({{"b", b.arr({Value::uinteger(1), b.str("x")})}, {"a", b.obj({})}, {"c", b.arr({})}}),
         "{\n  \"a\": {},\n  \"b\": [\n    1,\n    \"x\"\n  ],\n  \"c\": []\n}"},
        {"upper, underscore, lower", b.obj({{"a", Value::null()}, {"B", Value::null()}, {"_", Value::null()}}),
         "{\n  \"B\": null,\n  \"_\": null,\n  \"a\": null\n}"},
        {"convention keys",
         b.obj({{"item", Value::boolean(true)}, {"Title", Value::boolean(false)}, {"@lang", Value::null()},
                {"$", b.str("")}}),
         "{\n  \"$\": \"\",\n  \"@lang\": null,\n  \"Title\": false,\n  \"item\": true\n}"},
        {"nested empties", b.arr({b.arr({}), b.obj({}), b.arr({b.obj({})})}), "[\n  [],\n  {},\n  [\n    {}\n  ]\n]"},
        {"three levels", b.obj({{"a", b.arr({b.obj({{"b", b.arr({Value::integer(-1)})}})})}}),
         "{\n  \"a\": [\n    {\n      \"b\": [\n        -1\n      ]\n    }\n  ]\n}"},
        {"top-level empty array", b.arr({}), "[]"},
        {"top-level empty object", b.obj({}), "{}"},
        {"top-level string", b.str("x"), "\"x\""},
        {"null", Value::null(), "null"},
        {"true", Value::boolean(true), "true"},
        {"false", Value::boolean(false), "false"},
        {"zero", Value::uinteger(0), "0"},
        {"one and two digits either side of the short path",
         b.arr({Value::uinteger(9), Value::uinteger(10), Value::uinteger(99), Value::uinteger(100)}),
         "[\n  9,\n  10,\n  99,\n  100\n]"},
        {"minus 42", Value::integer(-42), "-42"},
        {"u64 max", Value::uinteger(UINT64_MAX), "18446744073709551615"},
        {"i64 min", Value::integer(INT64_MIN), "-9223372036854775808"},
        {"float whole", Value::floating(5.0), "5.0"},
        {"float in array", b.arr({Value::floating(-0.0), Value::floating(1e16)}), "[\n  -0.0,\n  1e+16\n]"},
        {"escaped key", b.obj({{"a\"b\n", b.str("/")}}), "{\n  \"a\\\"b\\n\": \"/\"\n}"},
        {"packed values", packed, packed_text},
        {"key longer than one copy, then a short one",
         b.obj({{long_key, Value::uinteger(7)}, {"z", b.str("v\"")}, {"n", Value::number_text(b.arena.copy("1.50"))}}),
         "{\n  \"" + long_key + "\": 7,\n  \"n\": 1.50,\n  \"z\": \"v\\\"\"\n}"},
    };
    for (const auto& c : cases) EXPECT_TRUE(b.write(c.value) == c.text) << c.name;

    // Scalars indented past the run a line break is copied from.
    Value deep = b.arr({Value::uinteger(1), b.str("x"), Value::boolean(true)});
    std::string want = "[\n" + std::string(2 * 40, ' ') + "1,\n" + std::string(2 * 40, ' ') + "\"x\",\n" +
                       std::string(2 * 40, ' ') + "true\n" + std::string(2 * 39, ' ') + "]";
    for (std::size_t k = 39; k-- > 0;) {
        deep = b.arr({deep});
        want = "[\n" + std::string(2 * (k + 1), ' ') + want + "\n" + std::string(2 * k, ' ') + "]";
    }
    EXPECT_TRUE(b.write(deep) == want);
}

// The scan looks at eight bytes at a time: besides a table, each special
// byte at every position of strings longer than a word, among bytes that
// nearly match, and random strings, against the plain escaper.
TEST(JsonWriter, StringEscapes) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"\t\x01\xc3\xa9", "\"\\t\\u0001\xc3\xa9\""},
        {"\"\\\b\f\n\r\t", "\"\\\"\\\\\\b\\f\\n\\r\\t\""},
        {"\x0b\x1f"s + '\0', "\"\\u000b\\u001f\\u0000\""},
        // Written raw: solidus, DEL, U+2028, U+2029, and bytes one bit away
        // from the escaped ones (0xA2 = 0x80|'"', 0xDC = 0x80|'\\').
        {"/\x7f\xe2\x80\xa8\xe2\x80\xa9\xc2\xa2\xc3\x9c", "\"/\x7f\xe2\x80\xa8\xe2\x80\xa9\xc2\xa2\xc3\x9c\""},
        {"", "\"\""},
    };
    for (const auto& c : cases) EXPECT_EQ(write(Value::string(c.in)), c.out);
    for (int ch = 0; ch < 0x20; ++ch) EXPECT_EQ(write(Value::string(std::string(1, char(ch)))), reference_text(std::string(1, char(ch))));
    for (char sp : "\"\\\n\x01\x1f"s + '\0') {
        for (std::size_t len = 1; len <= 40; ++len) {
            for (std::size_t at = 0; at < len; ++at) {
                std::string s(len, '\xa2');
                for (std::size_t i = 0; i < len; i += 3) s[i] = '!';  // 0x21, just past controls
                s[at] = sp;
                ASSERT_EQ(write(Value::string(s)), reference_text(s)) << int(sp) << " " << len << " " << at;
                Build b;  // as an entry, written in place when short
                ASSERT_EQ(b.write(b.arr({Value::string(s)})), "[\n  " + reference_text(s) + "\n]") << len << " " << at;
            }
        }
    }
    std::mt19937_64 rng(7);
    const std::string alphabet = "ab\"\\\n\t\x01\x1f\x20\x21\x5b\x5d\x7f\x80\xa2\xdc\xff"s + '\0';
    for (int round = 0; round < 3000; ++round) {
        std::string s(rng() % 200, ' ');
        for (char& c : s) c = alphabet[rng() % alphabet.size()];
        ASSERT_EQ(write(Value::string(s)), reference_text(s)) << round;
    }
}

TEST(FloatText, Table) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double v;
        const char* text;
    } cases[] = {
        {5.0, "5.0"}, {0.1, "0.1"}, {1e16, "1e+16"}, {1e-7, "1e-7"}, {123456.789, "123456.789"},
        {1e15, "1000000000000000.0"}, {1e-5, "0.00001"}, {1.5e-7, "1.5e-7"}, {1e-6, "1e-6"}, {1.23e-5, "0.0000123"},
        {DBL_MAX, "1.7976931348623157e+308"}, {-DBL_MAX, "-1.7976931348623157e+308"},
        {std::numeric_limits<double>::denorm_min(), "5e-324"}, {DBL_MIN, "2.2250738585072014e-308"},
        {0.0, "0.0"}, {-0.0, "-0.0"}, {3.25, "3.25"}, {-1.5, "-1.5"}, {0.001, "0.001"},
        {9007199254740992.0, "9007199254740992.0"}, {9999999999999998.0, "9999999999999998.0"},
        {1.2345e20, "1.2345e+20"}, {1e100, "1e+100"}, {1e-100, "1e-100"}, {0.3, "0.3"},
        {2.0 / 3.0, "0.6666666666666666"}, {1234567890123456.7, "1234567890123456.8"},
        {0.000012345678901234567, "0.000012345678901234568"}, {78.26, "78.26"}, {391.30, "391.3"}, {100.0, "100.0"},
        {0.1 + 0.2, "0.30000000000000004"}, {999999999999999.0, "999999999999999.0"}, {0.00001234, "0.00001234"},
        {0.000001234, "1.234e-6"}, {123456789.123456, "123456789.123456"},
        {inf, "null"}, {-inf, "null"}, {std::numeric_limits<double>::quiet_NaN(), "null"},
    };
    for (const auto& c : cases) EXPECT_EQ(fmt(c.v), c.text) << c.text;
}

// The canonical text from the shortest round-trip digits of std::to_chars:
// positional for decimal exponents -5 to 15 ("x.0" when whole), scientific
// with a signed exponent otherwise.
std::string canonical(double v) {
    char buf[64];
    const std::string sci(buf, std::to_chars(buf, buf + 64, std::fabs(v), std::chars_format::scientific).ptr);
    const std::size_t e = sci.find('e');
    std::string digits = sci.substr(0, e);
    if (digits.size() > 1) digits.erase(1, 1);
    const int exp = std::atoi(sci.c_str() + e + 1);
    const std::string sign = std::signbit(v) ? "-" : "";
    if (exp < -5 || exp > 15)
        return sign + digits[0] + (digits.size() > 1 ? "." + digits.substr(1) : "") + "e" + (exp < 0 ? "-" : "+") +
               std::to_string(std::abs(exp));
    if (exp < 0) return sign + "0." + std::string(-exp - 1, '0') + digits;
    const std::size_t whole = static_cast<std::size_t>(exp) + 1;
    if (digits.size() <= whole) return sign + digits + std::string(whole - digits.size(), '0') + ".0";
    return sign + digits.substr(0, whole) + "." + digits.substr(whole);
}

TEST(FloatText, ShortestCanonicalAgainstToChars) {
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> decade(-9.0, 19.0);
    for (int i = 0; i < 300000; ++i) {
        double v;
        switch (i % 6) {
            case 0: v = std::bit_cast<double>(rng()); break;  // every exponent
            case 1: v = std::pow(10.0, decade(rng)); break;    // around the layout switch
            case 2: v = static_cast<double>(rng() >> (rng() % 64)); break;  // whole numbers
            case 3: v = static_cast<double>(rng() % 100000) / std::pow(10.0, static_cast<int>(rng() % 12)); break;
            case 4: {  // short decimal texts as a document holds them, up to 17 digits
                std::string t = std::to_string(rng() % 1000000000000000000ull);
                t.resize(1 + rng() % t.size());
                t.insert(rng() % (t.size() + 1), ".");
                v = std::strtod(t.c_str(), nullptr);
                break;
            }
            default: v = 0.1 * static_cast<double>(rng() % 1000) + 0.2;  // sums that are not short decimals
        }
        if (!std::isfinite(v) || v == 0) continue;
        if (rng() & 1) v = -v;
        char buf[64];
        const std::size_t n = format_float(v, buf);
        ASSERT_LE(n, 32u);
        ASSERT_EQ(std::string(buf, n), canonical(v));
    }
}

// Against an ordered map with assignment (std::string orders bytes unsigned):
// the order, and the last of repeated keys, at sizes on both sides of the
// switch to std::stable_sort.
TEST(OrderMembers, MatchesOrderedMap) {
    std::mt19937_64 rng(99);
    const std::string alphabet = "aAb_\x7f\x80\xc3\xff";
    for (std::size_t n : {0u, 1u, 2u, 5u, 15u, 16u, 17u, 40u, 1000u, 20000u}) {
        for (int round = 0; round < 20; ++round) {
            std::vector<std::string> keys(n);
            for (auto& k : keys) {
                k.resize(rng() % 4);
                for (char& c : k) c = alphabet[rng() % alphabet.size()];
            }
            Build b;
            std::vector<Member> m;
            std::map<std::string, std::uint64_t> ref;
            for (std::size_t i = 0; i < n; ++i) {
                m.push_back({b.keys.intern(keys[i]), Value::uinteger(i)});
                ref[keys[i]] = i;
            }
            ASSERT_EQ(order_members(m.data(), n, b.keys), ref.size());
            auto it = ref.begin();
            for (std::size_t i = 0; i < ref.size(); ++i, ++it) {
                ASSERT_EQ(b.keys.text(m[i].key), it->first);
                ASSERT_EQ(m[i].value.as_uint(), it->second);
            }
        }
    }
}

TEST(JsonWriter, DeepNestingOnSmallStack) {
    // Arrays nested this deep around an empty one: the pretty text grows with
    // the square of the depth (level k costs 4k+6 bytes), about 50 MB.
    constexpr std::size_t kDepth = 5000;
    Build b;
    Value root = b.arr({});
    for (std::size_t k = 0; k < kDepth; ++k) root = b.arr({root});
    std::string want;
    for (std::size_t k = 0; k < kDepth; ++k) want += "[\n" + std::string(2 * (k + 1), ' ');
    want += "[]";
    for (std::size_t k = kDepth; k-- > 0;) want += "\n" + std::string(2 * k, ' ') + "]";
    std::string out;
    bool ok = false;
    schema::testing::run_with_stack(128 * 1024, [&] {
        StringSink sink(out);
        ok = write_pretty(root, b.keys, sink).has_value();
    });
    ASSERT_TRUE(ok);
    EXPECT_TRUE(out == want);
}

// Takes whole writes, or lends room of its own as a file's buffer does,
// until `limit` bytes (writes) or loans would be passed; then fails, as a
// full disk does, and counts any call that comes after the failure.
class FailingSink final : public Sink {
public:
    FailingSink(std::size_t limit, bool lends) : limit_(limit), lends_(lends) {}
    std::expected<void, std::string> write(std::string_view bytes) override {
        if (lends_ || failed) ++calls_after_failure;  // a lender is never written to
        if (failed || got.size() + bytes.size() > limit_) return fail();
        got.append(bytes);
        return {};
    }
    std::expected<char*, std::string> lend(std::size_t n) override {
        if (!lends_) return nullptr;
        if (failed) ++calls_after_failure;
        if (limit_-- == 0) return std::unexpected(fail().error());
        lent_at_ = got.size();
        got.resize(lent_at_ + n);
        return got.data() + lent_at_;
    }
    void commit(std::size_t n) override {
        if (failed) ++calls_after_failure;
        got.resize(lent_at_ + n);
    }
    std::string got;
    bool failed = false;
    int calls_after_failure = 0;

private:
    std::expected<void, std::string> fail() {
        failed = true;
        return std::unexpected("No space left on device (os error 28)"s);
    }
    std::size_t limit_;
    bool lends_;
    std::size_t lent_at_ = 0;
};

TEST(JsonWriter, StopsAtFirstFailedWriteOrLoan) {
    // Short strings only, so every write is one full staging buffer.
    std::vector<std::string> texts(60000);
    std::vector<Value> items;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        texts[i] = "item number " + std::to_string(i) + (i % 7 ? "" : "\t\"");
        items.push_back(Value::string(texts[i]));
    }
    Build b;
    const Value root = b.arr(items);
    const std::string full = b.write(root);
    const std::size_t S = kStagingBytes, loans = full.size() / S + 1;
    ASSERT_GT(full.size(), 10 * S);
    // (lends, limit, bytes written before the failure; all of them when none)
    const std::tuple<bool, std::size_t, std::size_t> cases[] = {
        {false, 0, 0}, {false, 1, 0}, {false, S - 1, 0}, {false, S, S}, {false, S + 1, S}, {false, 5 * S + 7, 5 * S},
        {false, full.size() - 1, full.size() / S * S}, {false, full.size(), full.size()},
        {true, 0, 0}, {true, 1, S}, {true, 5, 5 * S}, {true, loans - 1, (loans - 1) * S}, {true, loans, full.size()},
    };
    for (const auto& [lends, limit, kept] : cases) {
        FailingSink sink(limit, lends);
        auto r = write_pretty(root, b.keys, sink);
        EXPECT_EQ(sink.calls_after_failure, 0) << lends << " " << limit;
        EXPECT_EQ(r.has_value(), kept == full.size()) << lends << " " << limit;
        if (!r) EXPECT_EQ(r.error(), "No space left on device (os error 28)");
        // Every loan but the failed one was filled to the brim and committed.
        EXPECT_TRUE(sink.got == full.substr(0, kept)) << lends << " " << limit;
    }
    // A failure while a long string goes over in one piece.
    std::string big(3 * S, 'q');
    FailingSink sink(S, false);
    ASSERT_FALSE(write_pretty(Value::string(big), b.keys, sink).has_value());
    EXPECT_EQ(sink.got, "\"" + big.substr(0, S - 1));
    EXPECT_EQ(sink.calls_after_failure, 0);
}

class ChunkSink final : public Sink {
public:
    std::expected<void, std::string> write(std::string_view bytes) override {
        chunks.push_back(bytes.size());
        out.append(bytes);
        return {};
    }
    std::vector<std::size_t> chunks;
    std::string out;
};

// Strings around the staging size, with and without escapes, starting at
// different fill levels of the buffer; also strings near the largest size
// whose worst case is reserved up front, made of bytes that all expand 6x.
TEST(JsonWriter, ChunksAroundStagingSize) {
    const std::size_t S = kStagingBytes;
    const std::size_t R = (S - 2) / 6;
    struct Shape {
        std::size_t len;
        char fill;
        std::size_t escape_every;  // 0: none
    };
    const Shape shapes[] = {
        {S - 1, 'a', 0}, {S, 'a', 0}, {S + 1, 'a', 0}, {3 * S, 'a', 0}, {3 * S, 'a', 1000},
        {S + 1, '\n', 0}, {R - 1, '\x01', 0}, {R, '\x01', 0}, {R + 1, '\x01', 0}, {2 * R, '"', 0},
    };
    for (const Shape& sh : shapes) {
        std::string s(sh.len, sh.fill);
        if (sh.escape_every)
            for (std::size_t i = 0; i < s.size(); i += sh.escape_every) s[i] = '\\';
        for (std::size_t lead : {std::size_t{0}, std::size_t{1}, std::size_t{100}, S / 2, S - 9, S - 8, S - 5}) {
            std::string filler(lead, 'f');
            Build b;
            Value root = b.arr({Value::string(filler), Value::string(s), Value::uinteger(7)});
            ChunkSink sink;
            ASSERT_TRUE(write_pretty(root, b.keys, sink).has_value());
            const std::string want = "[\n  " + reference_text(filler) + ",\n  " + reference_text(s) + ",\n  7\n]";
            ASSERT_TRUE(sink.out == want) << sh.len << " " << int(sh.fill) << " " << lead;
            // A string sink lends its own memory instead: the same text, with
            // whatever it held before kept in front.
            std::string lent = "before";
            StringSink lending(lent);
            ASSERT_TRUE(write_pretty(root, b.keys, lending).has_value());
            ASSERT_TRUE(lent == "before" + want) << sh.len << " " << int(sh.fill) << " " << lead;
            for (std::size_t i = 0; i + 1 < sink.chunks.size(); ++i)
                ASSERT_GE(sink.chunks[i], S) << sh.len << " " << lead << " chunk " << i;
            ASSERT_GT(sink.chunks.back(), 0u);
        }
    }
}

// A Text grows by remapping, several times over from a small first mapping,
// and keeps every byte written before; moving it hands the mapping over.
TEST(JsonWriter, TextGrowsWithoutLosingBytes) {
    Build b;
    std::vector<Value> items;
    for (int i = 0; i < 600000; ++i) items.push_back(Value::uinteger(static_cast<std::uint64_t>(i) * 7919));
    const Value root = b.arr(std::span<const Value>(items));
    const std::string want = b.write(root);
    ASSERT_GT(want.size(), 4u * 1024 * 1024);
    Text text;
    TextSink sink(text, 0);
    ASSERT_TRUE(write_pretty(root, b.keys, sink).has_value());
    Text moved = std::move(text);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(moved.view(), want);
}

// Written on two threads, the text is the same byte for byte, in either
// layout and into any sink, wherever the wide container is; and a sink that
// fails stops both threads with the same bytes written.
TEST(JsonWriter, TwoThreadsWriteTheSameText) {
    Build b;
    const auto wide = [&](std::size_t n, auto entry) {
        std::vector<Value> items;
        for (std::size_t i = 0; i < n; ++i) items.push_back(entry(i));
        return b.arr(std::span<const Value>(items));
    };
    const auto scalar = [&](std::size_t i) {
        const Value kinds[] = {Value::uinteger(i), Value::floating(0.5 * i), b.str("s\"\n" + std::to_string(i)),
                               Value::null(), b.arr({})};
        return kinds[i % 5];
    };
    const auto order = [&](std::size_t i) {
        return b.obj({{"n", Value::uinteger(i)}, {"s", b.str("x\ty")}, {"items", b.arr({scalar(i), b.obj({})})}});
    };
    const std::string big(70000, 'q');
    Value deep = wide(300, scalar);
    for (int i = 0; i < 20; ++i) deep = b.obj({{"d", deep}});
    std::vector<Member> members;
    for (std::size_t i = 0; i < 300; ++i) members.push_back({b.keys.intern("k" + std::to_string(i)), order(i)});
    const std::size_t kept = order_members(members.data(), members.size(), b.keys);
    const Value roots[] = {
        wide(1000, scalar),
        b.obj({{"feed", b.obj({{"@id", Value::uinteger(1)}, {"order", wide(500, order)}, {"tail", b.str("t")}})}}),
        wide(127, scalar),
        wide(128, order),
        wide(200, [&](std::size_t) { return Value::string(big); }),
        deep,
        packed::pack_object({members.data(), kept}, b.arena),
        b.obj({{"a", b.arr({})}}),
        Value::uinteger(7),
    };
    for (const Value& root : roots) {
        for (bool compact : {false, true}) {
            std::string one, two;
            StringSink s1(one), s2(two);
            ASSERT_TRUE(write_json(root, b.keys, s1, compact, false).has_value());
            ASSERT_TRUE(write_json(root, b.keys, s2, compact, true).has_value());
            EXPECT_TRUE(one == two) << one.size() << " " << two.size();
            ChunkSink chunks;
            ASSERT_TRUE(write_json(root, b.keys, chunks, compact, true).has_value());
            EXPECT_TRUE(chunks.out == one);
        }
    }
    const Value root = roots[1];
    const std::string full = b.write(root);
    for (std::size_t limit : {std::size_t{0}, full.size() / 3, full.size() - 1}) {
        FailingSink sink(limit, false);
        EXPECT_FALSE(write_pretty(root, b.keys, sink, true).has_value());
        EXPECT_EQ(sink.calls_after_failure, 0);
        EXPECT_TRUE(full.starts_with(sink.got) && sink.got.size() + kStagingBytes > limit);
    }
}

// Growth past many names: the 100,000 attributes of tests/python/test_hostile.py.
TEST(KeyTable, OneNumberPerText) {
    KeyTable keys;
    const KeyId a = keys.intern("a");
    // However the text is split into prefix and name, it is the same key.
    const KeyId at_a = keys.intern("a", '@');
    EXPECT_NE(at_a, a);
    EXPECT_EQ(keys.intern("@a"), at_a);
    EXPECT_EQ(keys.text(at_a), "@a");
    EXPECT_EQ(keys.intern(""), keys.intern(std::string_view()));
    EXPECT_EQ(keys.intern("", '@'), keys.intern("@"));
}

// Keys are compared by their places in key order once enough ordering work
// was charged; keys added afterwards have none yet. Every comparison must
// still be the byte order of the texts, before, between and after the
// re-rankings.
TEST(KeyTable, OrderStaysByteOrderAcrossRankings) {
    KeyTable keys;
    std::mt19937_64 rng(7);
    const std::string alphabet = "aAb_\x7f\x80\xc3\xff";
    std::vector<std::string> texts;
    std::vector<KeyId> ids;
    for (int round = 0; round < 40; ++round) {
        for (int k = 0; k < 1 + round % 5; ++k) {
            std::string t(rng() % 5, 'a');
            for (char& c : t) c = alphabet[rng() % alphabet.size()];
            KeyId id = keys.intern(t);
            if (id == ids.size()) {
                texts.push_back(t);
                ids.push_back(id);
            }
        }
        keys.charge_unranked(100);
        for (int c = 0; c < 400; ++c) {
            std::size_t i = rng() % ids.size(), j = rng() % ids.size();
            ASSERT_EQ(keys.less(ids[i], ids[j]), texts[i] < texts[j]) << round << " " << texts[i] << " " << texts[j];
        }
    }
}

TEST(Arena, TruncateFreesOnlyWithinTheLatestBlock) {
    Arena a;
    a.allocate(10, 1);
    const char* m = a.mark();
    const std::size_t used = a.bytes_used();
    a.allocate(100, 1);
    a.truncate_to(m);
    EXPECT_EQ(a.bytes_used(), used);
    EXPECT_EQ(static_cast<const void*>(a.allocate(1, 1)), static_cast<const void*>(m));
    // Once a new block was begun, an older mark frees nothing.
    const char* old = a.mark();
    a.allocate(10 * 1024 * 1024, 1);
    const std::size_t big = a.bytes_used();
    a.truncate_to(old);
    EXPECT_EQ(a.bytes_used(), big);
}

TEST(Arena, HonoursAlignment) {
    Arena a;
    for (std::size_t align : {1u, 2u, 8u, 16u, 64u, 256u, 4096u}) {
        a.allocate(3, 1);  // leave the position odd
        void* p = a.allocate(24, align);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % align, 0u) << align;
        std::memset(p, 0xAB, 24);
    }
}

}  // namespace
}  // namespace tessaly::json
