#pragma once
// The two ways into the converter: a document held in memory to a string,
// and a file to a file through fixed buffers. Both produce the same text.

#include <cstddef>
#include <string>
#include <string_view>

#include "converter/convention.hpp"
#include "error.hpp"
#include "schema/model.hpp"

namespace tessaly::converter {

// Asked now and then during a long walk over the input whether to stop (the
// caller saw Ctrl-C, say). A stop ends the call with an Interrupted error
// before any output is written.
struct InterruptCheck {
    bool (*requested)(void* context) = nullptr;
    void* context = nullptr;
};

struct ConvertOptions {
    // The file input's window: the most of the input held at once, unless
    // one event is longer.
    std::size_t window_size = 8 * 1024 * 1024;
    InterruptCheck interrupt;
};

// `xml` is the whole document; callers pass text already checked to be UTF-8.
Result<std::string> convert_to_string(std::string_view xml, const schema::SchemaModel& model, Convention convention,
                                      const ConvertOptions& options = {});

// Reads `xml_path` through a window of `options.window_size` bytes and
// writes the JSON text to `output_path` through a buffer of its own.
Status convert_file(std::string_view xml_path, const schema::SchemaModel& model, std::string_view output_path,
                    Convention convention, const ConvertOptions& options = {});

}  // namespace tessaly::converter
