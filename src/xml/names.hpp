#pragma once
// Qualified names as documents write them.

#include <bit>
#include <cstdint>
#include <string_view>

#include "storage/loads.hpp"

namespace tessaly::xml {

// Where `c` first occurs in `s`, or npos. Names and most texts between tags
// are short: they are looked at in place, a word or two at a time, rather
// than through a call to memchr.
inline std::size_t position_of(std::string_view s, char c) noexcept {
    const char* p = s.data();
    const std::size_t n = s.size();
    const std::uint64_t pattern = 0x0101010101010101ULL * static_cast<unsigned char>(c);
    auto matches = [pattern](const char* at) {  // a high bit at the first match of 8 bytes (later ones may be false)
        const std::uint64_t w = storage::load_u64(at) ^ pattern;
        return (w - 0x0101010101010101ULL) & ~w & 0x8080808080808080ULL;
    };
    if (n >= 8 && n <= 16) {
        if (const std::uint64_t m = matches(p)) return static_cast<std::size_t>(std::countr_zero(m)) / 8;
        if (const std::uint64_t m = matches(p + n - 8)) return n - 8 + static_cast<std::size_t>(std::countr_zero(m)) / 8;
        return std::string_view::npos;
    }
    if (n < 8) {
        for (std::size_t i = 0; i < n; ++i)
            if (p[i] == c) return i;
        return std::string_view::npos;
    }
    return s.find(c);
}

// The part of `name` after its first colon, or all of it ("a:b:c" gives "b:c").
// Elements are matched, and keyed in JSON, by this part alone.
inline std::string_view local_name(std::string_view name) noexcept {
    const std::size_t colon = position_of(name, ':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

}  // namespace tessaly::xml
