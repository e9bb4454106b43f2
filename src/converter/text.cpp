#include "converter/text.hpp"

#include <cstring>

namespace tessaly::converter {

namespace {

inline bool ascii_space(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Length of the White_Space character starting at s[i] (valid UTF-8), or 0.
inline std::size_t space_at(const unsigned char* s, std::size_t n, std::size_t i) {
    unsigned char c = s[i];
    if (c < 0x80) return ascii_space(c) ? 1 : 0;
    if (c == 0xC2) return (i + 1 < n && (s[i + 1] == 0x85 || s[i + 1] == 0xA0)) ? 2 : 0;
    if (i + 2 >= n) return 0;
    unsigned char c1 = s[i + 1], c2 = s[i + 2];
    if (c == 0xE1) return (c1 == 0x9A && c2 == 0x80) ? 3 : 0;
    if (c == 0xE2) {
        if (c1 == 0x80) return (c2 <= 0x8A || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF) ? 3 : 0;
        if (c1 == 0x81) return c2 == 0x9F ? 3 : 0;
        return 0;
    }
    if (c == 0xE3) return (c1 == 0x80 && c2 == 0x80) ? 3 : 0;
    return 0;
}

}  // namespace

std::size_t leading_white_space_from(std::string_view sv, std::size_t i) {
    auto* s = reinterpret_cast<const unsigned char*>(sv.data());
    std::size_t n = sv.size();
    while (i < n) {
        std::size_t len = space_at(s, n, i);
        if (!len) break;
        i += len;
    }
    return i;
}

std::size_t trailing_white_space(std::string_view sv) {
    auto* s = reinterpret_cast<const unsigned char*>(sv.data());
    std::size_t end = sv.size();
    while (end > 0) {
        unsigned char c = s[end - 1];
        if (c < 0x80) {
            if (!ascii_space(c)) break;
            --end;
            continue;
        }
        // Step back to the first byte of this character.
        std::size_t start = end - 1;
        while (start > 0 && (s[start] & 0xC0) == 0x80 && end - start < 4) --start;
        if (space_at(s, end, start) != end - start) break;
        end = start;
    }
    return sv.size() - end;
}

std::size_t normalize_line_ends(std::string_view sv, char* out) {
    const char* s = sv.data();
    std::size_t n = sv.size(), w = 0, i = 0;
    while (i < n) {
        const void* cr = std::memchr(s + i, '\r', n - i);
        std::size_t stop = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - s) : n;
        std::memcpy(out + w, s + i, stop - i);
        w += stop - i;
        if (stop == n) break;
        out[w++] = '\n';
        i = stop + 1;
        if (i < n && s[i] == '\n') ++i;
    }
    return w;
}

}  // namespace tessaly::converter
