#pragma once
// Obtaining a schema model from what a caller hands over: a path, or XSD
// text already checked to be UTF-8. Plain C++: runs without the interpreter
// lock where a caller releases it.

#include <string_view>

#include "error.hpp"
#include "schema/model.hpp"

namespace tessaly::python {

// parse_xsd on `path`; a path holding a NUL byte fails as an unreadable one,
// never cut short at the NUL.
Result<schema::SchemaModel> load_schema(std::string_view path);

// Writes `xsd` to a fresh file of its own in the temporary directory, parses
// it there (so relative schemaLocation values resolve against that
// directory), and removes it again whatever the parse gave.
Result<schema::SchemaModel> load_schema_text(std::string_view xsd);

}  // namespace tessaly::python
