#pragma once
// Byte classes of the tokenizer and the scanning loops built on them. One
// 256-entry table holds a bit per class, so every "run until one of these
// bytes" loop is a table lookup per byte; the two loops that carry most of a
// document (character data and tag bodies) look at 16 bytes at a time where
// SSE2 is available. No scan ever reads past the end it is given.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessaly::xml::detail {

enum CharClass : std::uint8_t {
    // ' ' '\t' '\r' '\n': XML white space. Ends a tag name, separates
    // attributes, and is trimmed after the name of an end tag.
    kSpace = 1 << 0,
    // '<' '&': ends a run of character data.
    kTextStop = 1 << 1,
    // '>' '"' '\'': what matters while looking for the end of a start tag,
    // whose quoted attribute values may hold '>'.
    kTagStop = 1 << 2,
    // ';' '<' '&': ends a reference; only ';' ends it well.
    kRefStop = 1 << 3,
    // ' ' '\t' '\r' '\n' '=' '"' '\'': ends an attribute name.
    kAttrNameStop = 1 << 4,
    // '>' '"' '\'' '[' ']' '<': what matters inside a DOCTYPE, whose internal
    // subset and quoted literals may hold '>'.
    kDoctypeStop = 1 << 5,
};

constexpr std::array<std::uint8_t, 256> make_char_classes() {
    std::array<std::uint8_t, 256> t{};
    auto add = [&t](const char* chars, std::uint8_t cls) {
        for (const char* c = chars; *c != '\0'; ++c) t[static_cast<unsigned char>(*c)] |= cls;
    };
    add(" \t\r\n", kSpace);
    add("<&", kTextStop);
    add(">\"'", kTagStop);
    add(";<&", kRefStop);
    add(" \t\r\n=\"'", kAttrNameStop);
    add(">\"'[]<", kDoctypeStop);
    return t;
}

inline constexpr std::array<std::uint8_t, 256> kCharClasses = make_char_classes();

inline bool is_class(char c, std::uint8_t cls) {
    return (kCharClasses[static_cast<unsigned char>(c)] & cls) != 0;
}

inline bool is_space(char c) { return is_class(c, kSpace); }

// The first byte in [p, end) of class `Cls`, or `end`.
template <std::uint8_t Cls>
inline const char* scan_to(const char* p, const char* end) {
    while (end - p >= 4) {
        if (is_class(p[0], Cls)) return p;
        if (is_class(p[1], Cls)) return p + 1;
        if (is_class(p[2], Cls)) return p + 2;
        if (is_class(p[3], Cls)) return p + 3;
        p += 4;
    }
    while (p < end && !is_class(*p, Cls)) ++p;
    return p;
}

// The first byte in [p, end) that is not white space, or `end`.
inline const char* skip_space(const char* p, const char* end) {
    while (p < end && is_space(*p)) ++p;
    return p;
}

// The first '<' or '&' in [p, end), or `end`.
inline const char* find_text_stop(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i amp = _mm_set1_epi8('&');
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, amp)));
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    return scan_to<kTextStop>(p, end);
}

// The first '>', '"' or '\'' in [p, end), or `end`.
inline const char* find_tag_stop(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i gt = _mm_set1_epi8('>');
    const __m128i dq = _mm_set1_epi8('"');
    const __m128i sq = _mm_set1_epi8('\'');
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, gt),
                                   _mm_or_si128(_mm_cmpeq_epi8(v, dq), _mm_cmpeq_epi8(v, sq)));
        int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    return scan_to<kTagStop>(p, end);
}

// The number of line feeds in [p, end).
inline std::size_t count_line_feeds(const char* p, const char* end) {
    std::size_t n = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        n += static_cast<std::size_t>(__builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))));
        p += 16;
    }
#endif
    for (; p < end; ++p) n += *p == '\n';
    return n;
}

// The first `c` in [p, end), or `end`.
inline const char* find_byte(const char* p, const char* end, char c) {
    if (p >= end) return end;
    const void* hit = std::memchr(p, c, static_cast<std::size_t>(end - p));
    return hit != nullptr ? static_cast<const char*>(hit) : end;
}

// The first occurrence in [p, end) of a terminator that ends in '>' and is
// preceded by `lead` (e.g. "--" for "-->"), or `end`. Returns the position of
// the '>'. The lead bytes must lie inside [p, end) themselves, so an opener
// such as "<!--" can never lend its dashes to the terminator.
inline const char* find_terminator(const char* p, const char* end, const char* lead, std::size_t lead_len) {
    const char* q = p + lead_len;
    while (true) {
        const char* gt = find_byte(q, end, '>');
        if (gt == end) return end;
        if (std::memcmp(gt - lead_len, lead, lead_len) == 0) return gt;
        q = gt + 1;
    }
}

}  // namespace tessaly::xml::detail
