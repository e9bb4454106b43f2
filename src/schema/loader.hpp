#pragma once
// Loading a schema: the main XSD file and every document reached through
// include and import, resolved into one immutable model.

#include <string_view>

#include "tessaly/error.hpp"
#include "schema/model.hpp"
#include "schema/parse_context.hpp"

namespace tessaly::schema {

// `path` names the main XSD file, relative to the current directory or absolute.
Result<SchemaModel> parse_xsd(std::string_view path);

// The first step of parse_xsd alone: the main document at `path` and every
// document it reaches, read into a fresh context, nothing resolved yet.
Result<ParseContext> read_schema_documents(std::string_view path);

}  // namespace tessaly::schema
