#pragma once
// Character data helpers: trimming by the Unicode White_Space property and
// XML end-of-line normalisation.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tessaly::converter {

// Bytes of White_Space characters at the start / end of UTF-8 `s`: tab, line
// feed, vertical tab, form feed, carriage return, space, U+0085, U+00A0,
// U+1680, U+2000 to U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
std::size_t trailing_white_space(std::string_view s);

// The general case of leading_white_space, from byte `i` on.
std::size_t leading_white_space_from(std::string_view s, std::size_t i);

inline std::size_t leading_white_space(std::string_view s) {
    // Most text that starts with white space is the indentation between
    // tags: a line feed, then spaces, which go eight at a time.
    const char* p = s.data();
    std::size_t n = s.size(), i = 0;
    if (n != 0 && p[0] == '\n') i = 1;
    constexpr std::uint64_t kEightSpaces = 0x2020202020202020ull;
    for (std::uint64_t w; i + 8 <= n; i += 8) {
        std::memcpy(&w, p + i, 8);
        if (w != kEightSpaces) break;
    }
    for (; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == ' ' || (c >= 0x09 && c <= 0x0D)) continue;
        return c < 0x80 ? i : leading_white_space_from(s, i);
    }
    return n;
}

inline std::string_view trim_white_space(std::string_view s) {
    std::size_t lead = leading_white_space(s);
    if (lead == s.size()) return {};
    s.remove_prefix(lead);
    s.remove_suffix(trailing_white_space(s));
    return s;
}

inline bool is_all_white_space(std::string_view s) { return leading_white_space(s) == s.size(); }

// Copies `s` to `out` with each CR LF pair and each lone CR turned into LF;
// returns the bytes written (at most s.size()).
std::size_t normalize_line_ends(std::string_view s, char* out);

}  // namespace tessaly::converter
