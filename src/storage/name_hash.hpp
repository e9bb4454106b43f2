#pragma once
// The hash of a short name (an element or attribute name, a key): a few
// word loads and multiplications, never a loop per byte.

#include <cstdint>
#include <string_view>

#include "storage/loads.hpp"

namespace tessaly::storage {

inline std::uint64_t mix_word(std::uint64_t h, std::uint64_t w) {
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    return h ^ (h >> 32);
}

// The last 1 to 7 bytes of a name as one word, with fixed-size loads only:
// a copy of a variable length would be a library call per name. Words of
// equal names are equal; the length is hashed separately.
inline std::uint64_t tail_word(const char* p, std::size_t n) {
    if (n >= 4) {
        const std::uint32_t lo = load_u32(p);
        const std::uint32_t hi = load_u32(p + n - 4);
        return lo | (std::uint64_t{hi} << 32);
    }
    return static_cast<unsigned char>(p[0]) | (std::uint64_t{static_cast<unsigned char>(p[n / 2])} << 8) |
           (std::uint64_t{static_cast<unsigned char>(p[n - 1])} << 16);
}

inline std::uint64_t hash_name(std::string_view s, std::uint64_t seed = 0) {
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = (s.size() + seed) * kMul;
    const char* p = s.data();
    std::size_t n = s.size();
    for (; n >= 8; p += 8, n -= 8) {
        const std::uint64_t w = load_u64(p);
        h = mix_word(h, w);
    }
    if (n) h = mix_word(h, tail_word(p, n));
    return h ^ (h >> 29);
}

}  // namespace tessaly::storage
