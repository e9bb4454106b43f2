#pragma once
// Byte classes of the tokenizer and the scanning loops built on them. One
// 256-entry table holds a bit per class, so every "run until one of these
// bytes" loop is a table lookup per byte; the loops that carry most of a
// document (character data, tag bodies, names, end tags, attribute values)
// look at 16 bytes at a time where SSE2 is available. No scan ever reads past
// the end it is given.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "storage/loads.hpp"

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

// Equality of n bytes at a and b, as memcmp would find it, inline: names are
// short, and a call to memcmp costs more than comparing them. Loads overlap
// at the end instead of going past it.
inline bool equal_bytes(const char* a, const char* b, std::size_t n) {
    using storage::load_u32;
    using storage::load_u64;
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8) {
            if (load_u64(a + i) != load_u64(b + i)) return false;
        }
        return load_u64(a + n - 8) == load_u64(b + n - 8);
    }
    if (n >= 4) return load_u32(a) == load_u32(b) && load_u32(a + n - 4) == load_u32(b + n - 4);
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

#if defined(__SSE2__)
inline __m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline unsigned mask_of(__m128i v, char c) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
}

// The bytes of v equal to any of `cs`, as a 16-bit mask: the compares are
// joined before the one move out of the vector unit.
template <typename... C>
inline unsigned mask_of_any(__m128i v, C... cs) {
    __m128i m = _mm_setzero_si128();
    ((m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8(cs)))), ...);
    return static_cast<unsigned>(_mm_movemask_epi8(m));
}

inline unsigned mask_of_space(__m128i v) { return mask_of_any(v, ' ', '\n', '\t', '\r'); }

// The first byte in [p, end) that `block` marks in its 16-bit mask of a
// 16-byte block (or `byte` accepts, below 16 bytes), or `end`. Every block
// loaded lies inside [p, end): the last one is the one that ends at `end`,
// overlapping the one before, with the bytes already looked at shifted out.
// So a stop is found in at most two loads wherever it lies near the end, and
// nothing past `end` is touched.
template <typename Block, typename Byte>
inline const char* find_first(const char* p, const char* end, Block block, Byte byte) {
    if (end - p < 16) {
        while (p < end && !byte(*p)) ++p;
        return p;
    }
    const char* const last = end - 16;
    while (p < last) {
        const unsigned m = block(load16(p));
        if (m != 0) return p + __builtin_ctz(m);
        p += 16;
    }
    const unsigned m = block(load16(last)) >> (p - last);
    return m != 0 ? p + __builtin_ctz(m) : end;
}

// The n < 16 bytes at p in the low lanes of a block, zeros above, read with
// loads that stay inside [p, p + n): a short run then costs one block's
// compares, like a long one.
inline __m128i load_short(const char* p, std::size_t n) {
    using storage::load_u32;
    using storage::load_u64;
    std::uint64_t lo = 0;
    std::uint64_t hi = 0;
    if (n >= 8) {
        lo = load_u64(p);
        if (n > 8) hi = load_u64(p + n - 8) >> ((16 - n) * 8);
    } else if (n >= 4) {
        lo = load_u32(p) | std::uint64_t{load_u32(p + n - 4)} << ((n - 4) * 8);
    } else if (n > 0) {
        auto byte = [p](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])} << (i * 8); };
        lo = byte(0) | byte(n / 2) | byte(n - 1);
    }
    return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
}
#endif

// The first '<' or '&' in [p, end), or `end`.
inline const char* find_text_stop(const char* p, const char* end) {
#if defined(__SSE2__)
    return find_first(
        p, end, [](__m128i v) { return mask_of_any(v, '<', '&'); },
        [](char c) { return is_class(c, kTextStop); });
#else
    return scan_to<kTextStop>(p, end);
#endif
}

// The first '>', '"' or '\'' in [p, end), or `end`.
inline const char* find_tag_stop(const char* p, const char* end) {
#if defined(__SSE2__)
    return find_first(
        p, end, [](__m128i v) { return mask_of_any(v, '>', '"', '\''); },
        [](char c) { return is_class(c, kTagStop); });
#else
    return scan_to<kTagStop>(p, end);
#endif
}

// The first `c` in [p, end), or `end`: for stops that are usually near,
// where a call to memchr would cost more than the scan.
inline const char* find_byte_near(const char* p, const char* end, char c) {
#if defined(__SSE2__)
    return find_first(
        p, end, [c](__m128i v) { return mask_of(v, c); }, [c](char x) { return x == c; });
#else
    while (p < end && *p != c) ++p;
    return p;
#endif
}

// The first white space in [p, limit), or `limit`. It may look at the bytes
// up to `end` (limit <= end), so that a short name far from the end of the
// bytes at hand is found in one load.
inline const char* find_space(const char* p, const char* limit, const char* end) {
#if defined(__SSE2__)
    while (p < limit && end - p >= 16) {
        const __m128i v = load16(p);
        const unsigned m = mask_of_space(v);
        if (m != 0) return std::min(p + __builtin_ctz(m), limit);
        p += 16;
    }
#else
    (void)end;
#endif
    while (p < limit && !is_space(*p)) ++p;
    return std::min(p, limit);
}

// The number of line feeds in [p, end). Each byte lane counts up to 255
// blocks before the lanes are summed, so no lane can wrap.
inline std::size_t count_line_feeds(const char* p, const char* end) {
    std::size_t n = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        const std::size_t blocks = std::min<std::size_t>(static_cast<std::size_t>(end - p) / 16, 255);
        __m128i lanes = zero;
        for (std::size_t i = 0; i < blocks; ++i, p += 16) {
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(load16(p), lf));
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        n += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
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
