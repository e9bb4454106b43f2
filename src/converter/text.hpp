#pragma once
// Character data helpers: trimming by the Unicode White_Space property and
// XML end-of-line normalisation.

#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "storage/loads.hpp"

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
    for (; i + 8 <= n; i += 8) {
        if (storage::load_u64(p + i) != kEightSpaces) break;
    }
    for (; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == ' ' || (c >= 0x09 && c <= 0x0D)) continue;
        return c < 0x80 ? i : leading_white_space_from(s, i);
    }
    return n;
}

inline std::string_view trim_white_space(std::string_view s) {
    if (s.empty()) return {};
    // Text mostly starts with a character that is plainly not white space:
    // a printable ASCII one.
    unsigned char first = static_cast<unsigned char>(s.front());
    if (first <= ' ' || first >= 0x80) {
        std::size_t lead = leading_white_space(s);
        if (lead == s.size()) return {};
        s.remove_prefix(lead);
    }
    // Text mostly ends in a character that is plainly not white space.
    unsigned char last = static_cast<unsigned char>(s.back());
    if (last >= 0x80 || last == ' ' || (last >= 0x09 && last <= 0x0D)) s.remove_suffix(trailing_white_space(s));
    return s;
}

// Whether every byte of `s` is an ASCII White_Space character (tab, line
// feed, vertical tab, form feed, carriage return, space). Indentation between
// tags is a handful of such bytes, so they are tested a few at a time with
// loads that overlap rather than one by one, never reading outside `s`.
inline bool all_ascii_space(std::string_view s) {
    const char* p = s.data();
    std::size_t n = s.size();
#if defined(__SSE2__)
    auto mask = [](__m128i b) {
        __m128i space = _mm_cmpeq_epi8(b, _mm_set1_epi8(' '));
        __m128i from_tab = _mm_sub_epi8(b, _mm_set1_epi8(0x09));  // 0x09 to 0x0D become 0 to 4
        __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(from_tab, _mm_set1_epi8(4)), _mm_set1_epi8(4));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(space, control)));
    };
    auto load8 = [](const char* q) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)); };
    auto load4 = [](const char* q) { return _mm_cvtsi32_si128(static_cast<int>(storage::load_u32(q))); };
    if (n >= 16) {
        const char* last = p + n - 16;
        for (; p < last; p += 16)
            if (mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) != 0xFFFF) return false;
        return mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(last))) == 0xFFFF;
    }
    if (n >= 8) return (mask(load8(p)) & mask(load8(p + n - 8)) & 0xFF) == 0xFF;
    if (n >= 4) return (mask(load4(p)) & mask(load4(p + n - 4)) & 0xF) == 0xF;
#endif
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (!(c == ' ' || (c >= 0x09 && c <= 0x0D))) return false;
    }
    return true;
}

inline bool is_all_white_space(std::string_view s) {
    // Text that is not white space mostly shows it in its first byte.
    if (!s.empty() && static_cast<unsigned char>(s[0]) > ' ' && static_cast<unsigned char>(s[0]) < 0x80) return false;
    return all_ascii_space(s) || leading_white_space(s) == s.size();
}

// Copies `s` to `out` with each CR LF pair and each lone CR turned into LF;
// returns the bytes written (at most s.size()).
std::size_t normalize_line_ends(std::string_view s, char* out);

}  // namespace tessaly::converter
