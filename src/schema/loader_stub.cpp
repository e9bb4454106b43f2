// Placeholder until the XSD parser lands: checks the file is readable and
// returns an empty model.
#include "io/read_file.hpp"
#include "schema/loader.hpp"

namespace tessaly::schema {

Result<SchemaModel> parse_xsd(std::string_view path) {
    auto text = io::read_utf8_file(path);
    if (!text) return fail(TessalyError::io("Failed to read " + std::string(path) + ": " + text.error()));
    return SchemaModel{};
}

}  // namespace tessaly::schema
