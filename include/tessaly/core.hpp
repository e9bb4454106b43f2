#pragma once
// The core's public interface: loading a schema and converting a document,
// with errors as values. This (with error.hpp and convention.hpp) is all the
// Python surfaces include; everything under src/ is internal to the core.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tessaly/convention.hpp"
#include "tessaly/error.hpp"
#include "tessaly/load.hpp"
#include "tessaly/text.hpp"

namespace tessaly {

namespace schema {
struct SchemaModel;
}

// A namespace of its own, so that argument-dependent lookup inside the core
// never weighs these against the converter's own functions.
namespace core {

// A loaded schema. Never written once loaded: any number of conversions, on
// any threads, may read one at once.
struct SchemaModelDelete {
    void operator()(const schema::SchemaModel* model) const noexcept;
};
using SchemaModelPtr = std::unique_ptr<const schema::SchemaModel, SchemaModelDelete>;

// The XSD file at `xsd_path` and every document it names through include and
// import.
Result<SchemaModelPtr> load_schema(std::string_view xsd_path);

// XSD text, already checked by check_xsd_bytes, parsed from a private
// temporary file (so relative schemaLocation values resolve against the
// temporary directory) that is removed again whatever the parse gives.
Result<SchemaModelPtr> load_schema_bytes(std::string_view xsd);

// The same under `options`. Literal options with no base directory and no
// allowed directories give exactly what the calls above give. Bytes with a
// base directory are parsed in memory, their relative locations joined to it.
Result<SchemaModelPtr> load_schema(std::string_view xsd_path, const LoadOptions& options);
Result<SchemaModelPtr> load_schema_bytes(std::string_view xsd, const LoadOptions& options);

// What the load of `model` read, skipped and could not resolve, and its profile.
SchemaReport schema_report(const schema::SchemaModel& model);

// Whether bytes handed over as XSD or as XML are UTF-8: the error if not.
Status check_xsd_bytes(std::string_view xsd);
Status check_xml_bytes(std::string_view xml);

// The XML file at `path`, whole, as UTF-8 text.
Result<std::string> read_xml_file(std::string_view path);

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
    // Compact text (no white space between tokens) instead of pretty text.
    bool compact = false;
    // convert_file only: write a new file beside the output that takes the
    // output's name once the text is complete, so that a failure leaves
    // neither a partial file nor an emptied one.
    bool replace_on_success = false;
    // From this many bytes of input on (a document in memory or a regular
    // file), the XML is read on a second thread, ahead of the conversion.
    // The text, or the error, is the same either way.
    std::uint64_t read_ahead_from = 1024 * 1024;
};

// `xml` is the whole document, already checked to be UTF-8. The JSON text
// comes in pages of its own (see Text).
Result<Text> convert_to_string(std::string_view xml, const schema::SchemaModel& model, Convention convention,
                               const ConvertOptions& options = {});

// Reads `xml_path` through a window and writes the JSON text to
// `output_path`. The output is created before the input is read and emptied
// only once the whole input has been read.
Status convert_file(std::string_view xml_path, const schema::SchemaModel& model, std::string_view output_path,
                    Convention convention, const ConvertOptions& options = {});

}  // namespace core
}  // namespace tessaly
