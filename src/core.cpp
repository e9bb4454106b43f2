// The public interface, over the loader, the converter and the file layer.

#include "tessaly/core.hpp"

#include "converter/convert.hpp"
#include "io/read_file.hpp"
#include "io/temp_file.hpp"
#include "messages.hpp"
#include "schema/loader.hpp"
#include "schema/model.hpp"
#include "xml/utf8.hpp"

namespace tessaly::core {

namespace {

Result<SchemaModelPtr> own(Result<schema::SchemaModel> model) {
    if (!model) return fail(std::move(model.error()));
    return SchemaModelPtr(new schema::SchemaModel(std::move(*model)));
}

}  // namespace

void SchemaModelDelete::operator()(const schema::SchemaModel* model) const noexcept { delete model; }

Result<SchemaModelPtr> load_schema(std::string_view xsd_path) { return load_schema(xsd_path, LoadOptions{}); }

Result<SchemaModelPtr> load_schema_bytes(std::string_view xsd) { return load_schema_bytes(xsd, LoadOptions{}); }

Result<SchemaModelPtr> load_schema(std::string_view xsd_path, const LoadOptions& options) {
    return own(schema::parse_xsd(xsd_path, options));
}

Result<SchemaModelPtr> load_schema_bytes(std::string_view xsd, const LoadOptions& options) {
    if (!options.base_dir.empty()) return own(schema::parse_xsd_text(std::string(xsd), messages::kXsdBytesName, options));
    auto file = io::TempFile::create(io::temp_dir(), "_tessaly_", ".xsd", xsd);
    if (!file) return fail(messages::failed_to_write_temp_xsd(file.error()));
    auto model = schema::parse_xsd(file->path(), options);
    // The temporary file is gone once the load returns: the report names
    // the bytes instead.
    if (model) {
        SchemaReport& report = model->report;
        if (!report.documents.empty()) report.documents.front() = messages::kXsdBytesName;
        for (SkippedLocation& s : report.skipped)
            if (s.document == file->path()) s.document = messages::kXsdBytesName;
    }
    return own(std::move(model));
}

SchemaReport schema_report(const schema::SchemaModel& model) { return model.report; }

Status check_xsd_bytes(std::string_view xsd) {
    if (auto bad = xml::find_utf8_error(xsd)) return fail(messages::xsd_not_utf8(*bad));
    return {};
}

Status check_xml_bytes(std::string_view xml) {
    if (auto bad = xml::find_utf8_error(xml)) return fail(messages::xml_not_utf8(*bad));
    return {};
}

Result<std::string> read_xml_file(std::string_view path) {
    auto text = io::read_utf8_file(path);
    if (!text) return fail(messages::failed_to_read(path, text.error()));
    return std::move(*text);
}

Result<Text> convert_to_string(std::string_view xml, const schema::SchemaModel& model, Convention convention,
                               const ConvertOptions& options) {
    return converter::convert_to_string(xml, model, convention, options);
}

Status convert_file(std::string_view xml_path, const schema::SchemaModel& model, std::string_view output_path,
                    Convention convention, const ConvertOptions& options) {
    return converter::convert_file(xml_path, model, output_path, convention, options);
}

}  // namespace tessaly::core
