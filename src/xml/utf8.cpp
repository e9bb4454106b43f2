#include "xml/utf8.hpp"

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "storage/loads.hpp"

namespace tessaly::xml {

namespace {

inline bool is_cont(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the valid sequence starting at s[i] (1 to 4), or, when it is
// invalid, the negated length of its maximal invalid subpart; 0 when the input
// ends inside a sequence that was valid so far.
inline long sequence_at(const unsigned char* s, std::size_t n, std::size_t i) {
    unsigned char b = s[i];
    if (b < 0x80) return 1;
    std::size_t width;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        width = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        width = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        width = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return -1;
    }
    if (i + 1 >= n) return 0;
    if (s[i + 1] < lo || s[i + 1] > hi) return -1;
    for (std::size_t k = 2; k < width; ++k) {
        if (i + k >= n) return 0;
        if (!is_cont(s[i + k])) return -static_cast<long>(k);
    }
    return static_cast<long>(width);
}

// Skips a run of ASCII bytes, sixty-four, sixteen or eight at a time, landing
// on the first byte that is not ASCII. A whole document is checked this way
// before it is converted, and so is the whole output: the wide step keeps that
// near a quarter of an instruction per byte.
inline std::size_t skip_ascii(const unsigned char* s, std::size_t n, std::size_t i) {
#if defined(__SSE2__)
    auto load = [s](std::size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at)); };
    while (i + 64 <= n) {
        const __m128i any = _mm_or_si128(_mm_or_si128(load(i), load(i + 16)), _mm_or_si128(load(i + 32), load(i + 48)));
        if (_mm_movemask_epi8(any) != 0) break;
        i += 64;
    }
    while (i + 16 <= n) {
        unsigned high = static_cast<unsigned>(_mm_movemask_epi8(load(i)));
        if (high != 0) return i + static_cast<std::size_t>(std::countr_zero(high));
        i += 16;
    }
    if (i < n && n >= 16) {
        // The block that ends at n, the bytes before i shifted out.
        const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(load(n - 16))) >> (i - (n - 16));
        return high != 0 ? i + static_cast<std::size_t>(std::countr_zero(high)) : n;
    }
#endif
    while (i + 8 <= n) {
        std::uint64_t high = storage::load_u64(s + i) & 0x8080808080808080ULL;
        if (high != 0) {
            // On a little-endian machine the first byte in memory is the lowest.
            if constexpr (std::endian::native == std::endian::little)
                return i + static_cast<std::size_t>(std::countr_zero(high) >> 3);
            break;
        }
        i += 8;
    }
    while (i < n && s[i] < 0x80) ++i;
    return i;
}

}  // namespace

std::optional<Utf8Error> find_utf8_error(std::string_view bytes) {
    auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    std::size_t i = 0;
    while (true) {
        i = skip_ascii(s, n, i);
        if (i >= n) return std::nullopt;
        long len = sequence_at(s, n, i);
        if (len <= 0) return Utf8Error{i, static_cast<std::size_t>(-len)};
        i += static_cast<std::size_t>(len);
    }
}

void append_utf8_lossy(std::string& out, std::string_view bytes) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    std::size_t i = 0;
    std::size_t run = 0;  // start of the pending run of valid bytes
    while (true) {
        i = skip_ascii(s, n, i);
        if (i >= n) break;
        long len = sequence_at(s, n, i);
        if (len > 0) {
            i += static_cast<std::size_t>(len);
            continue;
        }
        out.append(bytes.data() + run, i - run);
        out.append(kReplacement, 3);
        if (len == 0) {  // the input ends inside a sequence: one replacement for the rest
            run = i = n;
            break;
        }
        i += static_cast<std::size_t>(-len);
        run = i;
    }
    out.append(bytes.data() + run, n - run);
}

}  // namespace tessaly::xml
