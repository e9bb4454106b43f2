#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "json/digits.hpp"
#include "json/writer.hpp"

namespace tessaly::json {

namespace {

char* put_zeros(char* o, int count) {
    std::memset(o, '0', static_cast<std::size_t>(count));
    return o + count;
}

// The `n` significant digits with the first at decimal exponent `e`, written
// positionally: "5.0", "12.5", "0.001". Returns the end.
char* put_positional(char* o, const char* digits, int n, int e) {
    if (e >= n - 1) {  // a whole number
        std::memcpy(o, digits, static_cast<std::size_t>(n));
        o = put_zeros(o + n, e - n + 1);
        *o++ = '.';
        *o++ = '0';
    } else if (e >= 0) {
        std::memcpy(o, digits, static_cast<std::size_t>(e + 1));
        o += e + 1;
        *o++ = '.';
        std::memcpy(o, digits + e + 1, static_cast<std::size_t>(n - e - 1));
        o += n - e - 1;
    } else {
        *o++ = '0';
        *o++ = '.';
        o = put_zeros(o, -e - 1);
        std::memcpy(o, digits, static_cast<std::size_t>(n));
        o += n;
    }
    return o;
}

// Exact powers of ten as doubles.
constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// Most floats in documents were short decimals: "78.26", "0.5", "1200". For
// positive `v` that is m / 10^k for a whole m below 10^15 and a k below 10,
// writes the text and returns its end; otherwise returns null.
//
// Why the digits of m are the shortest: the division below is correctly
// rounded, so passing the check means the decimal m / 10^k reads back as v.
// Any other decimal of at most 15 significant digits reads back as another
// double (15 digits always survive the trip through a double), so no text
// shorter than m's digits, or as short, reads back as v. With k taken as
// small as possible m has no trailing zero (unless k is 0), as the shortest
// digits have none.
char* format_short_decimal(double v, char* o) {
    for (int k = 0; k < 10; ++k) {
        double t = v * kPow10[k];
        if (!(t < 1e15)) return nullptr;
        // Rounded to the nearest whole number, ties to even as nearbyint
        // rounds, without a call: adding 2^52 leaves no fraction bits for
        // any t below it (t < 1e15 here).
        double m = (t + 0x1p52) - 0x1p52;
        if (m == 0 || m / kPow10[k] != v) continue;
        // The digits of m end at digits + 16; everything is then placed
        // with copies of 16 bytes, which stay within the 32 bytes that
        // `o` (at most one byte into the output) has room for.
        char digits[48];
        char* end = digits + 16;
        const char* d = digits_before(end, static_cast<std::uint64_t>(m));
        const int n = static_cast<int>(end - d);
        const int e = n - 1 - k;  // decimal exponent of the first digit
        if (e < -5) return nullptr;
        if (k == 0) {  // a whole number, with no trailing zeros to add
            std::memcpy(o, d, 16);
            std::memcpy(o + n, ".0", 2);
            return o + n + 2;
        }
        if (e >= 0) {
            std::memcpy(o, d, 16);
            o[e + 1] = '.';
            std::memcpy(o + e + 2, d + e + 1, 16);
            return o + n + 1;
        }
        std::memcpy(o, "0.000000", 8);
        std::memcpy(o + 1 - e, d, 16);
        return o + 1 - e + n;
    }
    return nullptr;
}

}  // namespace

// std::to_chars in scientific form yields the shortest digits that read back
// as the same double (nearest among equally short ones), as "d.ddde+XX"; only
// the layout around those digits is ours.
std::size_t format_float(double v, char* out) {
    if (!std::isfinite(v)) {
        std::memcpy(out, "null", 4);
        return 4;
    }
    char* o = out;
    if (std::signbit(v)) {
        *o++ = '-';
        v = -v;
    }
    if (v == 0.0) {
        std::memcpy(o, "0.0", 3);
        return static_cast<std::size_t>(o + 3 - out);
    }

    if (char* short_end = format_short_decimal(v, o)) return static_cast<std::size_t>(short_end - out);

    char sci[32];
    const char* end = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr;

    // Split "d.ddd" + "e" + sign + exponent into the digits and e.
    char digits[20];
    int n = 0;
    const char* p = sci;
    digits[n++] = *p++;
    if (*p == '.') {
        for (++p; *p != 'e'; ++p) digits[n++] = *p;
    }
    ++p;  // 'e'
    const bool negative_exp = *p++ == '-';
    int e = 0;
    for (; p < end; ++p) e = e * 10 + (*p - '0');
    if (negative_exp) e = -e;

    if (e >= -5 && e <= 15) {
        o = put_positional(o, digits, n, e);
    } else {
        *o++ = digits[0];
        if (n >= 2) {
            *o++ = '.';
            std::memcpy(o, digits + 1, static_cast<std::size_t>(n - 1));
            o += n - 1;
        }
        *o++ = 'e';
        *o++ = e < 0 ? '-' : '+';
        o = std::to_chars(o, o + 3, e < 0 ? -e : e).ptr;
    }
    return static_cast<std::size_t>(o - out);
}

}  // namespace tessaly::json
