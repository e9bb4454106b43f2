#pragma once
// Qualified names as documents write them.

#include <string_view>

namespace tessaly::xml {

// The part of `name` after its first colon, or all of it ("a:b:c" gives "b:c").
// Elements are matched, and keyed in JSON, by this part alone.
inline std::string_view local_name(std::string_view name) noexcept {
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

}  // namespace tessaly::xml
