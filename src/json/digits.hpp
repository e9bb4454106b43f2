#pragma once
// Decimal digits of whole numbers, two at a time from a table.

#include <array>
#include <cstdint>
#include <cstring>

namespace tessaly::json {

// "00" to "99".
inline constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> a{};
    for (int i = 0; i < 100; ++i) {
        a[2 * i] = static_cast<char>('0' + i / 10);
        a[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return a;
}();

// Writes the digits of `v` so that they end just before `end` (at most 20
// bytes before it) and returns where they start.
inline char* digits_before(char* end, std::uint64_t v) {
    while (v >= 100) {
        const std::uint64_t pair = v % 100;
        v /= 100;
        end -= 2;
        std::memcpy(end, kDigitPairs.data() + 2 * pair, 2);
    }
    if (v >= 10) {
        end -= 2;
        std::memcpy(end, kDigitPairs.data() + 2 * v, 2);
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return end;
}

}  // namespace tessaly::json
