#include <charconv>
#include <cmath>
#include <cstring>

#include "json/writer.hpp"

namespace tessaly::json {

namespace {

char* put_zeros(char* o, int count) {
    std::memset(o, '0', static_cast<std::size_t>(count));
    return o + count;
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
        if (e >= n - 1) {
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
