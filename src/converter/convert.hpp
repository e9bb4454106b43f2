#pragma once
// The two ways into the converter: a document held in memory to a string,
// and a file to a file through fixed buffers. Both produce the same text.

#include <cstddef>
#include <string>
#include <string_view>

#include "converter/convention.hpp"
#include "tessaly/core.hpp"
#include "tessaly/error.hpp"
#include "schema/model.hpp"

namespace tessaly::converter {

using core::ConvertOptions;
using core::InterruptCheck;

// `xml` is the whole document; callers pass text already checked to be UTF-8.
Result<Text> convert_to_string(std::string_view xml, const schema::SchemaModel& model, Convention convention,
                               const ConvertOptions& options = {});

// Reads `xml_path` through a window of `options.window_size` bytes and
// writes the JSON text to `output_path` through a buffer of its own.
Status convert_file(std::string_view xml_path, const schema::SchemaModel& model, std::string_view output_path,
                    Convention convention, const ConvertOptions& options = {});

}  // namespace tessaly::converter
