#include "python/xsd.hpp"

#include <string>

#include "io/os_error.hpp"
#include "io/read_file.hpp"
#include "io/temp_file.hpp"
#include "schema/loader.hpp"

namespace tessaly::python {

Result<schema::SchemaModel> load_schema(std::string_view path) {
    if (io::has_nul(path)) {
        std::string detail = "Failed to read ";
        detail.append(path).append(": ").append(io::kNulInPathText);
        return fail(TessalyError::io(std::move(detail)));
    }
    return schema::parse_xsd(path);
}

Result<schema::SchemaModel> load_schema_text(std::string_view xsd) {
    auto file = io::TempFile::create(io::temp_dir(), "_tessaly_", ".xsd", xsd);
    if (!file) return fail(TessalyError::io("Failed to write temp XSD: " + file.error()));
    return schema::parse_xsd(file->path());
}

}  // namespace tessaly::python
