#pragma once
// The map from XSD built-in simple type names to the JSON value kinds that
// conversion gives their text.

#include <string_view>

#include "schema/model.hpp"

namespace tessaly::schema {

// The kind of the built-in type whose local name is `local` (the prefix
// already resolved to the XML Schema namespace by the caller), or
// JsonType::Absent when `local` is not one of the 45 built-in names the
// system knows. Exact, case-sensitive comparison; allocates nothing.
JsonType xsd_builtin_to_json(std::string_view local) noexcept;

// The complete profile's map: the same names, with decimal written exactly
// and every integer type at any size.
inline JsonType xsd_builtin_to_json_complete(std::string_view local) noexcept {
    JsonType k = xsd_builtin_to_json(local);
    if (k == JsonType::Integer) return JsonType::ExactInteger;
    if (local == "decimal") return JsonType::ExactDecimal;
    return k;
}

}  // namespace tessaly::schema
