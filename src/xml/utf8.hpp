#pragma once
// Strict UTF-8 validation with exact error positions, and lossy decoding.
// Both follow the Unicode "maximal subpart" practice: an invalid sequence is
// as long as the longest prefix that could still have begun a valid one.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "storage/loads.hpp"

namespace tessaly::xml {

struct Utf8Error {
    std::size_t valid_up_to;  // every byte before this index is valid UTF-8
    std::size_t error_len;    // 1 to 3; 0 when the input ends inside a sequence
};

// The first error in `bytes`, or nothing when all of it is UTF-8.
std::optional<Utf8Error> find_utf8_error(std::string_view bytes);

namespace detail {

// Whether the n <= 16 bytes at p are all ASCII, by loads that overlap
// instead of going past p + n: the names, values and short texts a
// conversion checks one by one are nearly always this, and are settled here
// without a call.
inline bool is_short_ascii(const char* p, std::size_t n) {
    using storage::load_u32;
    using storage::load_u64;
    if (n >= 8) return ((load_u64(p) | load_u64(p + n - 8)) & 0x8080808080808080ULL) == 0;
    if (n >= 4) return ((load_u32(p) | load_u32(p + n - 4)) & 0x80808080U) == 0;
    if (n == 0) return true;
    return ((static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[n / 2]) |
             static_cast<unsigned char>(p[n - 1])) & 0x80U) == 0;
}

}  // namespace detail

inline bool is_utf8(std::string_view bytes) {
    if (bytes.size() <= 16 && detail::is_short_ascii(bytes.data(), bytes.size())) return true;
    return !find_utf8_error(bytes).has_value();
}

// Appends `bytes` to `out`, each maximal invalid subpart replaced by U+FFFD.
void append_utf8_lossy(std::string& out, std::string_view bytes);

}  // namespace tessaly::xml
