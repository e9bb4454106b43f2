#pragma once
// Comparing element and attribute names. Names are short, and comparing them
// is the inner step of every child and attribute lookup, so the common cases
// avoid a library call.

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

}  // namespace tessaly::converter
