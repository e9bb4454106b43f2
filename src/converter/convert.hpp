#pragma once
// The two ways into the converter: a document held in memory to a string,
// and a file to a file through fixed buffers. Both produce the same text.

#include <string>
#include <string_view>

#include "converter/convention.hpp"
#include "error.hpp"
#include "schema/model.hpp"

namespace tessaly::converter {

// `xml` is the whole document; callers pass text already checked to be UTF-8.
Result<std::string> convert_to_string(std::string_view xml, const schema::SchemaModel& model, Convention convention);

// Reads `xml_path` through an 8 MiB window and writes the JSON text to
// `output_path` through an 8 MiB buffer.
Status convert_file(std::string_view xml_path, const schema::SchemaModel& model, std::string_view output_path,
                    Convention convention);

}  // namespace tessaly::converter
