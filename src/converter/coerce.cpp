#include "converter/coerce.hpp"

#include <charconv>
#include <cstring>
#include <cstdint>
#include <limits>
#include <system_error>

namespace tessaly::converter {

namespace {

using storage::Value;

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// An optional sign and one or more digits, within the signed 64-bit range.
Value coerce_integer(std::string_view t) {
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    if (i == t.size()) return Value::string(t);
    constexpr std::uint64_t kMaxMagnitude = std::uint64_t{1} << 63;  // |INT64_MIN|
    std::uint64_t limit = negative ? kMaxMagnitude : kMaxMagnitude - 1;
    std::uint64_t v = 0;
    // Eighteen digits never pass the limit: only longer numbers need checks
    // on the way, and they are rare.
    const bool checked = t.size() - i > 18;
    for (; i < t.size(); ++i) {
        const std::uint64_t d = static_cast<unsigned char>(t[i]) - std::uint64_t{'0'};
        if (d > 9) return Value::string(t);
        if (!checked) {
            v = v * 10 + d;
        } else if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, d, &v) || v > limit) {
            return Value::string(t);
        }
    }
    if (!negative || v == 0) return Value::uinteger(v);
    // Two's complement of the magnitude: exact for INT64_MIN too.
    return Value::integer(static_cast<std::int64_t>(~v + 1));
}

// The decimal literal syntax we accept: [sign] (digits [. [digits]] | . digits)
// [(e|E) [sign] digits], over the whole text. On success, `magnitude` is the
// decimal exponent of the first significant digit (or 0 when every digit is
// zero), which tells an overflow from an underflow when parsing reports that
// the value is out of range.
bool float_syntax(std::string_view t, long long& magnitude) {
    std::size_t i = 0, n = t.size();
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t int_start = i;
    while (i < n && is_digit(t[i])) ++i;
    std::size_t int_digits = i - int_start;
    std::size_t frac_start = i, frac_digits = 0;
    if (i < n && t[i] == '.') {
        frac_start = ++i;
        while (i < n && is_digit(t[i])) ++i;
        frac_digits = i - frac_start;
    }
    if (int_digits == 0 && frac_digits == 0) return false;
    long long exponent = 0;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        bool neg = false;
        if (i < n && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
        if (i == n || !is_digit(t[i])) return false;
        for (; i < n && is_digit(t[i]); ++i)
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (t[i] - '0');
        if (neg) exponent = -exponent;
    }
    if (i != n) return false;

    magnitude = 0;
    for (std::size_t k = 0; k < int_digits; ++k)
        if (t[int_start + k] != '0') {
            magnitude = static_cast<long long>(int_digits - k - 1) + exponent;
            return true;
        }
    for (std::size_t k = 0; k < frac_digits; ++k)
        if (t[frac_start + k] != '0') {
            magnitude = -static_cast<long long>(k + 1) + exponent;
            return true;
        }
    return true;
}

// Exact powers of ten as doubles.
constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A plain decimal of at most 15 digits ([sign] digits [. digits], or with
// the point first or last), the common case. Its digits as a whole number
// and the power of ten are both exact doubles, so their quotient is the
// correctly rounded value of the text, which is what parsing gives.
bool short_decimal(std::string_view t, double& out) {
    std::size_t i = 0, n = t.size();
    bool negative = false;
    if (i < n && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    std::uint64_t m = 0;
    int digits = 0, after_point = -1;
    for (; i < n; ++i) {
        char c = t[i];
        if (is_digit(c)) {
            if (++digits > 15) return false;
            m = m * 10 + static_cast<std::uint64_t>(c - '0');
            if (after_point >= 0) ++after_point;
        } else if (c == '.' && after_point < 0) {
            after_point = 0;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    double v = static_cast<double>(m) / kPow10[after_point < 0 ? 0 : after_point];
    out = negative ? -v : v;
    return true;
}

// Everything but a short decimal: out of line, so that the common cases
// need no registers saved for it.
[[gnu::noinline]] Value coerce_long_float(std::string_view t) {
    // The words inf, infinity and nan would parse, but never to a finite
    // number, so they are left out of the syntax and stay strings.
    long long magnitude = 0;
    if (!float_syntax(t, magnitude)) return Value::string(t);
    bool negative = t[0] == '-';
    const char* first = t.data() + (t[0] == '+' ? 1 : 0);
    double d = 0;
    auto r = std::from_chars(first, t.data() + t.size(), d);
    if (r.ec == std::errc::result_out_of_range) {
        if (magnitude >= 0) return Value::string(t);  // overflow to infinity
        return Value::floating(negative ? -0.0 : 0.0);  // underflow to zero
    }
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return Value::string(t);
    if (!(d - d == 0)) return Value::string(t);  // not finite
    return Value::floating(d);
}

inline Value coerce_float(std::string_view t) {
    if (double d; short_decimal(t, d)) return Value::floating(d);
    return coerce_long_float(t);
}

// An exact integer from its significant digits t[first, end) (none: zero),
// negative or not: a 64-bit number when it fits, else its text.
Value exact_integer(std::string_view t, bool negative, std::size_t first, std::size_t end, storage::Arena* arena) {
    if (first == end) return Value::uinteger(0);
    if (end - first <= 20) {
        std::uint64_t v = 0;
        auto r = std::from_chars(t.data() + first, t.data() + end, v);
        if (r.ec == std::errc() && r.ptr == t.data() + end) {
            if (!negative) return Value::uinteger(v);
            constexpr std::uint64_t kMaxMagnitude = std::uint64_t{1} << 63;
            if (v <= kMaxMagnitude) return Value::integer(static_cast<std::int64_t>(~v + 1));
        }
    }
    if (!negative) return Value::number_text(t.substr(first, end - first));
    if (t[first - 1] == '-') return Value::number_text(t.substr(first - 1, end - first + 1));
    if (!arena) return Value::string(t);
    char* d = static_cast<char*>(arena->allocate(end - first + 1, 1));
    d[0] = '-';
    std::memcpy(d + 1, t.data() + first, end - first);
    return Value::number_text({d, end - first + 1});
}

// [sign] digits, any number of them.
[[gnu::noinline]] Value coerce_exact_integer(std::string_view t, storage::Arena* arena) {
    std::size_t i = 0, n = t.size();
    bool negative = false;
    if (i < n && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    if (i == n) return Value::string(t);
    std::size_t first = i;
    for (std::size_t k = i; k < n; ++k)
        if (!is_digit(t[k])) return Value::string(t);
    while (first < n && t[first] == '0') ++first;
    return exact_integer(t, negative, first, n, arena);
}

// The decimal syntax: [sign] (digits [. [digits]] | . digits). Written in
// its normal form (no '+', no leading zeros but one before the point, no
// trailing zeros after it, no point without digits after it, no sign on
// zero), from its own digits: never through a double.
[[gnu::noinline]] Value coerce_exact_decimal(std::string_view t, storage::Arena* arena) {
    std::size_t i = 0, n = t.size();
    bool negative = false;
    if (i < n && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    const std::size_t int_begin = i;
    while (i < n && is_digit(t[i])) ++i;
    const std::size_t int_end = i;
    std::size_t frac_begin = i, frac_end = i;
    if (i < n && t[i] == '.') {
        frac_begin = ++i;
        while (i < n && is_digit(t[i])) ++i;
        frac_end = i;
    }
    if (i != n || (int_end == int_begin && frac_end == frac_begin)) return Value::string(t);
    std::size_t lead = int_begin;
    while (lead < int_end && t[lead] == '0') ++lead;
    std::size_t last = frac_end;
    while (last > frac_begin && t[last - 1] == '0') --last;
    if (last == frac_begin) return exact_integer(t, negative, lead, int_end, arena);
    // The integer part as written from `start`, or a zero written for it.
    const bool has_int = int_end > int_begin;
    const std::size_t start = lead < int_end ? lead : int_end - (has_int ? 1 : 0);
    if (has_int && (!negative || t[start - 1] == '-')) {
        const std::size_t from = negative ? start - 1 : start;
        return Value::number_text(t.substr(from, last - from));
    }
    if (!arena) return Value::string(t);
    // "-007.5", ".5", "-.5": a sign, "0" for a missing integer part, and the rest.
    const std::size_t int_size = lead < int_end ? int_end - lead : 1;
    const std::size_t size = (negative ? 1 : 0) + int_size + (last - frac_begin + 1);
    char* d = static_cast<char*>(arena->allocate(size, 1));
    char* o = d;
    if (negative) *o++ = '-';
    if (lead < int_end) {
        std::memcpy(o, t.data() + lead, int_size);
    } else {
        *o = '0';
    }
    o += int_size;
    std::memcpy(o, t.data() + frac_begin - 1, last - frac_begin + 1);
    return Value::number_text({d, size});
}

Value coerce_boolean(std::string_view t) {
    switch (t.size()) {
        case 1:
            if (t[0] == '1' || t[0] == '0') return Value::boolean(t[0] == '1');
            break;
        case 4:
            if (std::memcmp(t.data(), "true", 4) == 0) return Value::boolean(true);
            break;
        case 5:
            if (std::memcmp(t.data(), "false", 5) == 0) return Value::boolean(false);
            break;
    }
    return Value::string(t);
}

}  // namespace

storage::Value coerce_value(std::string_view text, schema::JsonType kind, storage::Arena* arena) {
    switch (kind) {
        case schema::JsonType::Integer: return coerce_integer(text);
        case schema::JsonType::ExactInteger: return coerce_exact_integer(text, arena);
        case schema::JsonType::ExactDecimal: return coerce_exact_decimal(text, arena);
        case schema::JsonType::Float: return coerce_float(text);
        case schema::JsonType::Boolean: return coerce_boolean(text);
        default: return Value::string(text);
    }
}

}  // namespace tessaly::converter
