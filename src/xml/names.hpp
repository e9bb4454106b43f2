#pragma once
// Qualified names as documents write them.

#include <string_view>

namespace tessaly::xml {

// The part of `name` after its first colon, or all of it ("a:b:c" gives "b:c").
// Elements are matched, and keyed in JSON, by this part alone.
inline std::string_view local_name(std::string_view name) noexcept {
    // Names are short: a loop in place costs less than a call to memchr.
    for (std::size_t i = 0; i < name.size(); ++i)
        if (name[i] == ':') return name.substr(i + 1);
    return name;
}

}  // namespace tessaly::xml
