#pragma once
// What an entity or character reference in character data stands for.
// Only character references and the five predefined entities expand; every
// other reference passes through as written, since no document type
// declaration is read.

#include <string_view>

namespace tessaly::converter {

// Space for the text of one reference: a character needs at most four bytes.
struct RefBuffer {
    char bytes[4];
};

// `name` is the text between '&' and ';' (valid UTF-8). The result is a view
// of a static string, of `buf`, or, for a reference that passes through,
// empty with `passthrough` set: the caller then appends "&", name and ";".
std::string_view resolve_general_ref(std::string_view name, RefBuffer& buf, bool& passthrough);

}  // namespace tessaly::converter
