// The JSON writer, float text and object ordering, checked byte for byte.

#include <gtest/gtest.h>
#include <pthread.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "storage/arena.hpp"
#include "storage/key_table.hpp"
#include "storage/packed.hpp"
#include "storage/value.hpp"
#include "json/writer.hpp"

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
    Value obj(std::span<const std::pair<std::string_view, Value>> members) {
        std::vector<Member> m;
        for (const auto& [k, v] : members) m.push_back({keys.intern(k), v});
        std::size_t n = order_members(m.data(), m.size(), keys);
        return packed::pack_object({m.data(), n}, arena);
    }
    Value obj(std::initializer_list<std::pair<std::string_view, Value>> members) {
        return obj(std::span<const std::pair<std::string_view, Value>>(members.begin(), members.size()));
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
        switch (c) {
            case '"': o += "\\\""; break;
            case '\\': o += "\\\\"; break;
            case '\b': o += "\\b"; break;
            case '\t': o += "\\t"; break;
            case '\n': o += "\\n"; break;
            case '\f': o += "\\f"; break;
            case '\r': o += "\\r"; break;
            default:
                if (c < 0x20) {
                    char h[8];
                    std::snprintf(h, sizeof h, "\\u%04x", c);
                    o += h;
                } else {
                    o += static_cast<char>(c);
                }
        }
    }
    return o + "\"";
}

TEST(JsonWriter, LayoutAndScalars) {
    Build b;
    const Value example = b.obj({{"b", b.arr({Value::uinteger(1), b.str("x")})},
                                 {"a", b.obj({})},
                                 {"c", b.arr({})}});
    struct Case {
        const char* name;
        Value value;
        std::string text;
    };
    const Case cases[] = {
        {"example", example, "{\n  \"a\": {},\n  \"b\": [\n    1,\n    \"x\"\n  ],\n  \"c\": []\n}"},
        {"upper, underscore, lower", b.obj({{"a", Value::null()}, {"B", Value::null()}, {"_", Value::null()}}),
         "{\n  \"B\": null,\n  \"_\": null,\n  \"a\": null\n}"},
        {"convention keys",
         b.obj({{"item", Value::boolean(true)}, {"Title", Value::boolean(false)}, {"@lang", Value::null()},
                {"$", b.str("")}}),
         "{\n  \"$\": \"\",\n  \"@lang\": null,\n  \"Title\": false,\n  \"item\": true\n}"},
        {"nested empties", b.arr({b.arr({}), b.obj({}), b.arr({b.obj({})})}),
         "[\n  [],\n  {},\n  [\n    {}\n  ]\n]"},
        {"three levels", b.obj({{"a", b.arr({b.obj({{"b", b.arr({Value::integer(-1)})}})})}}),
         "{\n  \"a\": [\n    {\n      \"b\": [\n        -1\n      ]\n    }\n  ]\n}"},
        {"top-level empty array", b.arr({}), "[]"},
        {"top-level empty object", b.obj({}), "{}"},
        {"top-level string", b.str("x"), "\"x\""},
        {"null", Value::null(), "null"},
        {"true", Value::boolean(true), "true"},
        {"false", Value::boolean(false), "false"},
        {"zero", Value::uinteger(0), "0"},
        {"minus 42", Value::integer(-42), "-42"},
        {"u64 max", Value::uinteger(UINT64_MAX), "18446744073709551615"},
        {"i64 min", Value::integer(INT64_MIN), "-9223372036854775808"},
        {"float whole", Value::floating(5.0), "5.0"},
        {"float in array", b.arr({Value::floating(-0.0), Value::floating(1e16)}), "[\n  -0.0,\n  1e+16\n]"},
        {"escaped key", b.obj({{"a\"b\n", b.str("/")}}), "{\n  \"a\\\"b\\n\": \"/\"\n}"},
    };
    for (const Case& c : cases) EXPECT_EQ(b.write(c.value), c.text) << c.name;
    EXPECT_EQ(b.write(example).size(), 53u);
}

TEST(JsonWriter, StringEscapes) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"\t\x01\xc3\xa9", "\"\\t\\u0001\xc3\xa9\""},
        {"\"\\\b\f\n\r\t", "\"\\\"\\\\\\b\\f\\n\\r\\t\""},
        {"\x0b\x1f"s + '\0', "\"\\u000b\\u001f\\u0000\""},
        // Written raw: solidus, DEL, U+2028, U+2029, and bytes one bit away
        // from the escaped ones (0xA2 = 0x80|'"', 0xDC = 0x80|'\\').
        {"/\x7f\xe2\x80\xa8\xe2\x80\xa9\xc2\xa2\xc3\x9c", "\"/\x7f\xe2\x80\xa8\xe2\x80\xa9\xc2\xa2\xc3\x9c\""},
        {"", "\"\""},
    };
    for (const Case& c : cases) EXPECT_EQ(write(Value::string(c.in)), c.out);
    for (int ch = 0; ch < 0x20; ++ch) {
        std::string s(1, static_cast<char>(ch));
        EXPECT_EQ(write(Value::string(s)), reference_text(s)) << ch;
    }
}

// The scan looks at eight bytes at a time: put each special byte at every
// position of strings longer than a word, among bytes that nearly match.
TEST(JsonWriter, EscapeAtEveryOffset) {
    const std::string specials = "\"\\\n\x01\x1f"s + '\0';
    for (char sp : specials) {
        for (std::size_t len = 1; len <= 40; ++len) {
            for (std::size_t at = 0; at < len; ++at) {
                std::string s(len, '\xa2');
                for (std::size_t i = 0; i < len; i += 3) s[i] = '!';  // 0x21, just past controls
                s[at] = sp;
                ASSERT_EQ(write(Value::string(s)), reference_text(s)) << int(sp) << " " << len << " " << at;
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
    struct Case {
        double v;
        const char* text;
    };
    const Case cases[] = {
        {5.0, "5.0"},
        {0.1, "0.1"},
        {1e16, "1e+16"},
        {1e-7, "1e-7"},
        {123456.789, "123456.789"},
        {1e15, "1000000000000000.0"},
        {1e-5, "0.00001"},
        {1.5e-7, "1.5e-7"},
        {1e-6, "1e-6"},
        {1.23e-5, "0.0000123"},
        {DBL_MAX, "1.7976931348623157e+308"},
        {-DBL_MAX, "-1.7976931348623157e+308"},
        {std::numeric_limits<double>::denorm_min(), "5e-324"},
        {DBL_MIN, "2.2250738585072014e-308"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {3.25, "3.25"},
        {-1.5, "-1.5"},
        {0.001, "0.001"},
        {9007199254740992.0, "9007199254740992.0"},
        {9999999999999998.0, "9999999999999998.0"},
        {1.2345e20, "1.2345e+20"},
        {1e100, "1e+100"},
        {1e-100, "1e-100"},
        {0.3, "0.3"},
        {2.0 / 3.0, "0.6666666666666666"},
        {1234567890123456.7, "1234567890123456.8"},
        {0.000012345678901234567, "0.000012345678901234568"},
        {78.26, "78.26"},
        {391.30, "391.3"},
        {100.0, "100.0"},
        {0.1 + 0.2, "0.30000000000000004"},
        {999999999999999.0, "999999999999999.0"},
        {0.00001234, "0.00001234"},
        {0.000001234, "1.234e-6"},
        {123456789.123456, "123456789.123456"},
        {std::numeric_limits<double>::infinity(), "null"},
        {-std::numeric_limits<double>::infinity(), "null"},
        {std::numeric_limits<double>::quiet_NaN(), "null"},
    };
    for (const Case& c : cases) EXPECT_EQ(fmt(c.v), c.text) << c.text;
}

// The digits of a decimal text and the exponent of its first digit, when the
// text is in the canonical layout: positional exactly for exponents -5 to 15,
// "x.0" for whole numbers, no superfluous zeros, an explicit exponent sign.
struct Decimal {
    std::string digits;
    int exp;
};

std::optional<Decimal> parse_canonical(std::string_view t) {
    auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!t.empty() && t[0] == '-') t.remove_prefix(1);
    std::size_t epos = t.find('e');
    std::string_view mant = t.substr(0, epos);
    int exp_part = 0;
    if (epos != std::string_view::npos) {
        std::string_view ex = t.substr(epos + 1);
        if (ex.size() < 2 || (ex[0] != '+' && ex[0] != '-') || ex[1] == '0') return std::nullopt;
        for (char c : ex.substr(1)) {
            if (!is_digit(c)) return std::nullopt;
            exp_part = exp_part * 10 + (c - '0');
        }
        if (ex[0] == '-') exp_part = -exp_part;
        if (mant.empty() || mant[0] < '1' || mant[0] > '9') return std::nullopt;
        if (mant.size() == 2 || (mant.size() > 2 && (mant[1] != '.' || mant.back() == '0'))) return std::nullopt;
    } else {
        std::size_t dot = mant.find('.');
        if (dot == std::string_view::npos || dot == 0 || dot + 1 == mant.size()) return std::nullopt;
        if (mant[0] == '0' && dot != 1) return std::nullopt;
        std::string_view frac = mant.substr(dot + 1);
        if (frac != "0" && frac.back() == '0') return std::nullopt;
    }
    std::string all;
    int point = -1;
    for (std::size_t i = 0; i < mant.size(); ++i) {
        if (mant[i] == '.') {
            point = static_cast<int>(i);
        } else if (is_digit(mant[i])) {
            all += mant[i];
        } else {
            return std::nullopt;
        }
    }
    if (point < 0) point = static_cast<int>(mant.size());
    std::size_t first = all.find_first_not_of('0');
    if (first == std::string::npos) return std::nullopt;
    std::size_t last = all.find_last_not_of('0');
    Decimal d{all.substr(first, last - first + 1), point - 1 - static_cast<int>(first) + exp_part};
    bool positional = epos == std::string_view::npos;
    if (positional != (d.exp >= -5 && d.exp <= 15)) return std::nullopt;
    return d;
}

TEST(FloatText, RoundTripShortestCanonical) {
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
        std::size_t n = format_float(v, buf);
        ASSERT_LE(n, 32u);
        std::string text(buf, n);
        double back = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v)) << text;

        auto d = parse_canonical(text);
        ASSERT_TRUE(d.has_value()) << text;
        // The same digits as the shortest scientific form of std::to_chars.
        char ref[64];
        std::string sci(ref, std::to_chars(ref, ref + 64, std::fabs(v), std::chars_format::scientific).ptr);
        std::size_t e = sci.find('e');
        std::string ref_digits = sci.substr(0, e);
        if (ref_digits.size() > 1) ref_digits.erase(1, 1);
        ASSERT_EQ(d->digits, ref_digits) << text;
        ASSERT_EQ(d->exp, std::atoi(sci.c_str() + e + 1)) << text;

        // One digit fewer, correctly rounded, must no longer read back as v.
        if (d->digits.size() > 1) {
            char shorter[64];
            std::snprintf(shorter, sizeof shorter, "%.*e", static_cast<int>(d->digits.size()) - 2, v);
            ASSERT_NE(std::strtod(shorter, nullptr), v) << text << " vs " << shorter;
        }
    }
}

TEST(OrderMembers, OrderAndLastWins) {
    struct Case {
        const char* name;
        std::vector<std::string> keys;  // value of member i is i
        std::vector<std::pair<std::string, int>> want;
    };
    const Case cases[] = {
        {"sorted", {"a", "b", "c"}, {{"a", 0}, {"b", 1}, {"c", 2}}},
        {"reversed", {"c", "b", "a"}, {{"a", 2}, {"b", 1}, {"c", 0}}},
        {"prefixes", {"ab", "a", "", "abc"}, {{"", 2}, {"a", 1}, {"ab", 0}, {"abc", 3}}},
        {"bytes above ASCII after it", {"\xc3\xa9", "z", "\x7f", "\xe2\x82\xac", "Z"},
         {{"Z", 4}, {"z", 1}, {"\x7f", 2}, {"\xc3\xa9", 0}, {"\xe2\x82\xac", 3}}},
        {"duplicate keeps last", {"b", "a", "b"}, {{"a", 1}, {"b", 2}}},
        {"duplicate in sorted input", {"a", "a", "b"}, {{"a", 1}, {"b", 2}}},
        {"all the same", {"k", "k", "k", "k"}, {{"k", 3}}},
        {"one", {"x"}, {{"x", 0}}},
        {"none", {}, {}},
    };
    for (const Case& c : cases) {
        Build b;
        std::vector<Member> m;
        for (std::size_t i = 0; i < c.keys.size(); ++i) m.push_back({b.keys.intern(c.keys[i]), Value::uinteger(i)});
        std::size_t n = order_members(m.data(), m.size(), b.keys);
        std::vector<std::pair<std::string, int>> got;
        for (std::size_t i = 0; i < n; ++i)
            got.emplace_back(b.keys.text(m[i].key), static_cast<int>(m[i].value.as_uint()));
        EXPECT_EQ(got, c.want) << c.name;
    }
}

// Against an ordered map with assignment (std::string orders bytes unsigned),
// at sizes on both sides of the switch to std::stable_sort.
TEST(OrderMembers, MatchesOrderedMap) {
    std::mt19937_64 rng(99);
    const std::string alphabet = "aAb_\x7f\x80\xc3\xff";
    for (std::size_t n : {2u, 5u, 15u, 16u, 17u, 40u, 1000u, 20000u}) {
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

// Arrays nested `depth` deep around an empty one, and their exact text.
Value nested_arrays(Build& b, std::size_t depth) {
    Value v = b.arr({});
    for (std::size_t k = depth; k-- > 0;) v = b.arr({v});
    return v;
}

std::string nested_text(std::size_t depth) {
    std::string t;
    for (std::size_t k = 0; k < depth; ++k) t += "[\n" + std::string(2 * (k + 1), ' ');
    t += "[]";
    for (std::size_t k = depth; k-- > 0;) t += "\n" + std::string(2 * k, ' ') + "]";
    return t;
}

TEST(JsonWriter, DeepNestingOnSmallStack) {
    // Pretty text grows with the square of the depth: level k costs 4k+6
    // bytes, about 50 MB at this depth.
    constexpr std::size_t kDepth = 5000;
    Build b;
    const Value root = nested_arrays(b, kDepth);
    struct Job {
        const Value* root;
        const KeyTable* keys;
        std::string out;
        bool ok = false;
    } job{&root, &b.keys, {}};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 128 * 1024);
    pthread_t t;
    auto body = [](void* p) -> void* {
        auto* j = static_cast<Job*>(p);
        StringSink sink(j->out);
        j->ok = write_pretty(*j->root, *j->keys, sink).has_value();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&t, &attr, body, &job), 0);
    pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
    ASSERT_TRUE(job.ok);
    EXPECT_EQ(job.out.size(), 2 * kDepth * (kDepth - 1) + 6 * kDepth + 2);
    EXPECT_TRUE(job.out == nested_text(kDepth));
}

TEST(JsonWriter, WideObjectAndArray) {
    constexpr std::size_t kN = 1000000;
    std::vector<std::string> keys(kN);
    std::vector<std::pair<std::string_view, Value>> members(kN);
    std::vector<Value> items(kN);
    // Members given in reverse, so the object has to be sorted.
    for (std::size_t i = 0; i < kN; ++i) {
        char k[16];
        std::snprintf(k, sizeof k, "k%07zu", kN - 1 - i);
        keys[i] = k;
        members[i] = {keys[i], Value::uinteger(kN - 1 - i)};
        items[i] = Value::string(keys[i]);
    }
    Build b;
    std::string want_obj = "{", want_arr = "[";
    for (std::size_t i = 0; i < kN; ++i) {
        char k[16];
        std::snprintf(k, sizeof k, "k%07zu", i);
        want_obj += (i ? ",\n  \"" : "\n  \"") + std::string(k) + "\": " + std::to_string(i);
        want_arr += (i ? ",\n  \"" : "\n  \"") + keys[i] + "\"";
    }
    want_obj += "\n}";
    want_arr += "\n]";
    EXPECT_TRUE(b.write(b.obj(members)) == want_obj);
    EXPECT_TRUE(b.write(b.arr(items)) == want_arr);
}

// Accepts whole writes until `limit` bytes would be passed, then fails.
class FailingSink final : public Sink {
public:
    explicit FailingSink(std::size_t limit) : limit_(limit) {}
    std::expected<void, std::string> write(std::string_view bytes) override {
        if (failed) {
            ++calls_after_failure;
            return std::unexpected("again"s);
        }
        if (got.size() + bytes.size() > limit_) {
            failed = true;
            return std::unexpected("No space left on device (os error 28)"s);
        }
        got.append(bytes);
        return {};
    }
    std::string got;
    bool failed = false;
    int calls_after_failure = 0;

private:
    std::size_t limit_;
};

TEST(JsonWriter, StopsAtFirstFailedWrite) {
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
    ASSERT_GT(full.size(), 10 * kStagingBytes);

    const std::size_t S = kStagingBytes;
    for (std::size_t limit : {std::size_t{0}, std::size_t{1}, S - 1, S, S + 1, 5 * S + 7, full.size() - 1,
                              full.size(), full.size() + 1}) {
        FailingSink sink(limit);
        auto r = write_pretty(root, b.keys, sink);
        EXPECT_EQ(sink.calls_after_failure, 0) << limit;
        if (limit >= full.size()) {
            EXPECT_TRUE(r.has_value()) << limit;
            EXPECT_TRUE(sink.got == full) << limit;
            continue;
        }
        ASSERT_FALSE(r.has_value()) << limit;
        EXPECT_EQ(r.error(), "No space left on device (os error 28)");
        EXPECT_EQ(sink.got.size(), limit / S * S) << limit;
        EXPECT_TRUE(full.compare(0, sink.got.size(), sink.got) == 0) << limit;
    }

    // A failure while a long string goes over in one piece.
    std::string big(3 * S, 'q');
    FailingSink sink(S);
    auto r = write_pretty(Value::string(big), b.keys, sink);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(sink.got, "\"" + big.substr(0, S - 1));
    EXPECT_EQ(sink.calls_after_failure, 0);
}

// Lends room of its own, as a file's buffer does, and fails the loan after
// `loans` of them, as a file does that cannot take the bytes making room.
class FailingLender final : public Sink {
public:
    explicit FailingLender(std::size_t loans) : loans_(loans) {}
    std::expected<void, std::string> write(std::string_view) override {
        ++calls_after_failure;  // never wanted: every loan is granted or fails
        return {};
    }
    std::expected<char*, std::string> lend(std::size_t n) override {
        if (failed) ++calls_after_failure;
        if (loans_-- == 0) {
            failed = true;
            return std::unexpected("No space left on device (os error 28)"s);
        }
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
    std::size_t loans_;
    std::size_t lent_at_ = 0;
};

TEST(JsonWriter, FailedLoanIsReportedAtOnce) {
    std::vector<std::string> texts(60000);
    std::vector<Value> items;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        texts[i] = "item " + std::to_string(i);
        items.push_back(Value::string(texts[i]));
    }
    Build b;
    const Value root = b.arr(items);
    const std::string full = b.write(root);
    const std::size_t loans_needed = full.size() / kStagingBytes + 1;
    ASSERT_GT(loans_needed, 5u);
    for (std::size_t loans : {std::size_t{0}, std::size_t{1}, std::size_t{5}, loans_needed - 1, loans_needed}) {
        FailingLender sink(loans);
        auto r = write_pretty(root, b.keys, sink);
        EXPECT_EQ(sink.calls_after_failure, 0) << loans;
        if (loans == loans_needed) {
            EXPECT_TRUE(r.has_value()) << loans;
            EXPECT_TRUE(sink.got == full);
            continue;
        }
        ASSERT_FALSE(r.has_value()) << loans;
        EXPECT_EQ(r.error(), "No space left on device (os error 28)");
        // Every loan but the failed one was filled to the brim and committed.
        EXPECT_TRUE(sink.got == full.substr(0, loans * kStagingBytes)) << loans;
    }
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
            ASSERT_FALSE(sink.chunks.empty());
            for (std::size_t i = 0; i + 1 < sink.chunks.size(); ++i)
                ASSERT_GE(sink.chunks[i], S) << sh.len << " " << lead << " chunk " << i;
            ASSERT_GT(sink.chunks.back(), 0u);
        }
    }
}

// Every kind of value through a packed array and back, with strings before
// and after the record, near it and far from it (in another allocation).
TEST(Packed, ValuesRoundTrip) {
    Build b;
    const std::string far_before(300, 'f');
    const Value near = b.str("near \xc3\xa9");
    const Value inner = b.obj({{"k", Value::uinteger(1)}});
    const std::vector<Value> values = {
        Value::null(), Value::boolean(false), Value::boolean(true), Value::uinteger(0), Value::uinteger(127),
        Value::uinteger(128), Value::uinteger(UINT64_MAX), Value::integer(-1), Value::integer(-128),
        Value::integer(INT64_MIN), Value::floating(-0.0), Value::floating(5e-324), Value::floating(DBL_MAX),
        Value::string({}), Value::string(far_before), near, inner, b.arr({}), b.obj({}),
    };
    const Value arr = b.arr(std::span<const Value>(values));
    const std::string far_after(70000, 'g');
    const Value outer = b.arr({arr, Value::string(far_after)});

    const std::uint8_t* p = outer.record();
    ASSERT_EQ(packed::get_varint(p), 2u);
    Value got_arr = packed::get_value(p);
    Value got_after = packed::get_value(p);
    ASSERT_EQ(got_arr.kind(), Kind::Array);
    ASSERT_EQ(got_arr.size(), values.size());
    EXPECT_EQ(got_arr.record(), arr.record());
    EXPECT_EQ(got_after.as_string().data(), far_after.data());

    const std::uint8_t* q = got_arr.record();
    ASSERT_EQ(packed::get_varint(q), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Value& want = values[i];
        Value got = packed::get_value(q);
        ASSERT_EQ(got.kind(), want.kind()) << i;
        switch (want.kind()) {
            case Kind::UInt: EXPECT_EQ(got.as_uint(), want.as_uint()) << i; break;
            case Kind::Int: EXPECT_EQ(got.as_int(), want.as_int()) << i; break;
            case Kind::Float:
                EXPECT_EQ(std::bit_cast<std::uint64_t>(got.as_float()), std::bit_cast<std::uint64_t>(want.as_float()));
                break;
            case Kind::String:
                EXPECT_EQ(got.as_string(), want.as_string()) << i;
                if (!want.as_string().empty()) EXPECT_EQ(got.as_string().data(), want.as_string().data()) << i;
                break;
            case Kind::Array:
            case Kind::Object:
                EXPECT_EQ(got.record(), want.record()) << i;
                EXPECT_EQ(got.size(), want.size()) << i;
                break;
            default: break;
        }
    }
    EXPECT_EQ(b.write(b.arr({inner, near})), "[\n  {\n    \"k\": 1\n  },\n  \"near \xc3\xa9\"\n]");
}

TEST(KeyTable, OneNumberPerText) {
    KeyTable keys;
    const KeyId a = keys.intern("a");
    EXPECT_EQ(keys.intern("a"), a);
    // However the text is split into prefix and name, it is the same key.
    const KeyId at_a = keys.intern("a", '@');
    EXPECT_NE(at_a, a);
    EXPECT_EQ(keys.intern("@a"), at_a);
    EXPECT_EQ(keys.text(at_a), "@a");
    EXPECT_EQ(keys.intern(""), keys.intern(std::string_view()));
    EXPECT_EQ(keys.intern("", '@'), keys.intern("@"));
    // Names that share their first words, across many table growths.
    std::vector<std::string> names;
    for (int i = 0; i < 5000; ++i) names.push_back("longer-name-with-shared-start-" + std::to_string(i * 7919 % 10007));
    std::vector<KeyId> ids;
    for (const auto& n : names) ids.push_back(keys.intern(n));
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ(keys.intern(names[i]), ids[i]);
        ASSERT_EQ(keys.text(ids[i]), names[i]);
    }
    EXPECT_EQ(keys.size(), names.size() + 4);
    EXPECT_TRUE(keys.less(keys.intern("$"), at_a));
    EXPECT_TRUE(keys.less(a, keys.intern("ab")));
    EXPECT_FALSE(keys.less(a, a));
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
