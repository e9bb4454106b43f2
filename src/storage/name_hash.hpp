#pragma once
// The hash of a short name (an element or attribute name, a key): a few
// word loads and multiplications, never a loop per byte.

#include <cstdint>
#include <cstring>
#include <string_view>

namespace tessaly::storage {

inline std::uint64_t mix_word(std::uint64_t h, std::uint64_t w) {
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    return h ^ (h >> 32);
}

inline std::uint64_t hash_name(std::string_view s, std::uint64_t seed = 0) {
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = (s.size() + seed) * kMul;
    const char* p = s.data();
    std::size_t n = s.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = mix_word(h, w);
    }
    if (n) {
        std::uint64_t w = 0;
        std::memcpy(&w, p, n);
        h = mix_word(h, w);
    }
    return h ^ (h >> 29);
}

}  // namespace tessaly::storage
