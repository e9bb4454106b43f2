#pragma once
// Strict UTF-8 validation with exact error positions, and lossy decoding.
// Both follow the Unicode "maximal subpart" practice: an invalid sequence is
// as long as the longest prefix that could still have begun a valid one.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessaly::xml {

struct Utf8Error {
    std::size_t valid_up_to;  // every byte before this index is valid UTF-8
    std::size_t error_len;    // 1 to 3; 0 when the input ends inside a sequence
};

// The first error in `bytes`, or nothing when all of it is UTF-8.
std::optional<Utf8Error> find_utf8_error(std::string_view bytes);

inline bool is_utf8(std::string_view bytes) { return !find_utf8_error(bytes).has_value(); }

// Appends `bytes` to `out`, each maximal invalid subpart replaced by U+FFFD.
void append_utf8_lossy(std::string& out, std::string_view bytes);

}  // namespace tessaly::xml
