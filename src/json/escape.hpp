#pragma once
// String escaping for the writer: which bytes need an escape, where the next
// one is, and what is written for it. Everything not listed here (solidus,
// DEL, every non-ASCII byte, hence U+2028 and U+2029) is written unchanged.

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "storage/loads.hpp"

namespace tessaly::json::escape {

// 1 for the bytes that are never written as themselves:
//   0x00-0x1F  control characters
//   0x22       "
//   0x5C       backslash
inline constexpr std::array<std::uint8_t, 256> kNeedsEscape = [] {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = 1;
    t['"'] = 1;
    t['\\'] = 1;
    return t;
}();

// Bit i of the result is set when byte i of the 16 at `p` needs an escape.
#if defined(__SSE2__)
inline unsigned block_hits(const char* p) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Unsigned x <= 0x1F exactly when max(x, 0x1F) is 0x1F.
    __m128i ctrl = _mm_cmpeq_epi8(_mm_max_epu8(x, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
    __m128i quote = _mm_cmpeq_epi8(x, _mm_set1_epi8('"'));
    __m128i slash = _mm_cmpeq_epi8(x, _mm_set1_epi8('\\'));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(ctrl, _mm_or_si128(quote, slash))));
}
inline constexpr std::ptrdiff_t kBlock = 16;
#else
// Eight bytes at a time: in each mask below, the lowest set high bit marks
// the first matching byte exactly (a borrow can only give false hits above a
// true one), so the lowest bit of their union is the first byte to escape.
// The result has bit 8i+7 set for byte i; only its lowest bit is meaningful.
inline std::uint64_t block_hits(const char* p) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    std::uint64_t x = storage::load_u64(p);
    // Borrows run towards the high end, so the first byte in memory must be
    // the low one.
    if constexpr (std::endian::native == std::endian::big) x = std::byteswap(x);
    std::uint64_t quote = x ^ (kOnes * '"');
    std::uint64_t slash = x ^ (kOnes * '\\');
    std::uint64_t hits = ((x - kOnes * 0x20) & ~x) | ((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash);
    return hits & 0x8080808080808080ull;
}
inline constexpr std::ptrdiff_t kBlock = 8;
#endif

// The position within a block of its first byte to escape; `hits` is not 0.
template <class Hits>
inline std::ptrdiff_t first_hit(Hits hits) {
    return kBlock == 16 ? std::countr_zero(hits) : std::countr_zero(hits) >> 3;
}

// The first byte in [p, end) that needs an escape, or end.
inline const char* find(const char* p, const char* end) {
    while (end - p >= kBlock) {
        auto hits = block_hits(p);
        if (hits != 0) return p + first_hit(hits);
        p += kBlock;
    }
    while (p < end && !kNeedsEscape[static_cast<unsigned char>(*p)]) ++p;
    return p;
}

// Whether any of the first `width` bytes (4 or 8, the rest zero) of `x`, in
// memory order, needs an escape. Without a byte below 0x20 no borrow runs
// between the bytes, so the test is exact.
inline bool word_needs_escape(std::uint64_t x, std::size_t width) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    const std::uint64_t used = width == 8 ? ~std::uint64_t{0} : 0xFFFFFFFFull;
    const std::uint64_t ones = kOnes & used, highs = 0x8080808080808080ull & used;
    if constexpr (std::endian::native == std::endian::big) x >>= 64 - 8 * width;  // the bytes to the low end
    std::uint64_t quote = x ^ (ones * '"');
    std::uint64_t slash = x ^ (ones * '\\');
    std::uint64_t hits = ((x - ones * 0x20) & ~x) | ((quote - ones) & ~quote) | ((slash - ones) & ~slash);
    return (hits & highs) != 0;
}

// The longest escape, \u00XX.
inline constexpr std::size_t kMaxEscape = 6;

// Writes the escape of `c` (a byte with kNeedsEscape set) at `o`; returns the
// end of what was written.
inline char* write(char* o, unsigned char c) {
    char short_form = 0;
    switch (c) {
        case '"': short_form = '"'; break;
        case '\\': short_form = '\\'; break;
        case '\b': short_form = 'b'; break;
        case '\t': short_form = 't'; break;
        case '\n': short_form = 'n'; break;
        case '\f': short_form = 'f'; break;
        case '\r': short_form = 'r'; break;
        default: break;
    }
    o[0] = '\\';
    if (short_form != 0) {
        o[1] = short_form;
        return o + 2;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    o[1] = 'u';
    o[2] = '0';
    o[3] = '0';
    o[4] = kHex[c >> 4];
    o[5] = kHex[c & 0xF];
    return o + 6;
}

// Writes the escaped text of [p, end) at `o` and returns its end. The caller
// guarantees room for the worst case, kMaxEscape bytes per input byte, which
// leaves room to store whole blocks ahead of what is finally kept, so plain
// runs cost one load and one store per block.
inline char* copy_escaped(char* o, const char* p, const char* end) {
    while (end - p >= kBlock) {
        std::memcpy(o, p, kBlock);
        auto hits = block_hits(p);
        if (hits == 0) {
            p += kBlock;
            o += kBlock;
            continue;
        }
        std::ptrdiff_t k = first_hit(hits);
        o = write(o + k, static_cast<unsigned char>(p[k]));
        p += k + 1;
    }
    // Fewer than a block left, as with most strings of a document: when no
    // byte of the rest needs an escape, two overlapping loads cover it and
    // two overlapping stores copy it.
    const std::size_t n = static_cast<std::size_t>(end - p);
    if (n >= 4) {
        std::uint64_t head, tail;
        const std::size_t w = n >= 8 ? 8 : 4;
        head = tail = 0;
        std::memcpy(&head, p, w);
        std::memcpy(&tail, end - w, w);
        if (!word_needs_escape(head, w) && !word_needs_escape(tail, w)) {
            std::memcpy(o, &head, w);
            std::memcpy(o + n - w, &tail, w);
            return o + n;
        }
    }
    for (; p < end; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (kNeedsEscape[c]) {
            o = write(o, c);
        } else {
            *o++ = static_cast<char>(c);
        }
    }
    return o;
}

}  // namespace tessaly::json::escape
