#pragma once
// The steps of a schema load, for callers that need the context between
// them (tests that resolve the same documents another way).

#include <string_view>

#include "tessaly/error.hpp"
#include "schema/parse_context.hpp"

namespace tessaly::schema {

// Reads the main document at `path` and every document it reaches into a
// fresh context, without resolving anything.
Result<ParseContext> read_schema_documents(std::string_view path);

}  // namespace tessaly::schema
