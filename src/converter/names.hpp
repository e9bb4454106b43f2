#pragma once
// Comparing element and attribute names. Names are short, and comparing them
// is the inner step of every child lookup and of grouping children, so the
// common cases avoid a library call.

#include <cstring>
#include <string_view>

namespace tessaly::converter {

inline bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a.data() == b.data()) return true;
    if (a.size() > 16) return std::memcmp(a.data(), b.data(), a.size()) == 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Unsigned byte order, a proper prefix first.
inline bool name_before(std::string_view a, std::string_view b) {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
    return a.size() < b.size();
}

}  // namespace tessaly::converter
