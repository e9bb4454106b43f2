#pragma once
// Loading a schema: the main XSD file and every document reached through
// include and import, resolved into one immutable model.

#include <string_view>

#include "tessaly/error.hpp"
#include "schema/model.hpp"

namespace tessaly::schema {

// `path` names the main XSD file, relative to the current directory or absolute.
Result<SchemaModel> parse_xsd(std::string_view path);

}  // namespace tessaly::schema
