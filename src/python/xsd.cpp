#include "python/xsd.hpp"

#include "io/temp_file.hpp"
#include "messages.hpp"
#include "schema/loader.hpp"

namespace tessaly::python {

Result<schema::SchemaModel> load_schema(std::string_view path) { return schema::parse_xsd(path); }

Result<schema::SchemaModel> load_schema_text(std::string_view xsd) {
    auto file = io::TempFile::create(io::temp_dir(), "_tessaly_", ".xsd", xsd);
    if (!file) return fail(messages::failed_to_write_temp_xsd(file.error()));
    return schema::parse_xsd(file->path());
}

}  // namespace tessaly::python
