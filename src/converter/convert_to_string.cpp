#include "converter/convert.hpp"
#include "converter/walker.hpp"
#include "json/writer.hpp"
#include "messages.hpp"
#include "xml/reader.hpp"
#include "xml/utf8.hpp"

namespace tessaly::converter {

Result<Text> convert_to_string(std::string_view xml, const schema::SchemaModel& model, Convention convention,
                               const ConvertOptions& options) {
    storage::Arena arena;
    storage::KeyTable keys;
    xml::Reader reader(xml);
    auto root = walk_document(reader, nullptr, model, convention, arena, keys, options.interrupt);
    if (!root) return fail(std::move(root.error()));
    Text out;
    if (!*root) return out;
    // Mapped for three times the input at first: pretty text of markup-dense
    // input runs to several times its size, and the rest grows by remapping.
    json::TextSink sink(out, xml.size() * 3 + 4096);
    if (auto w = json::write_json(**root, keys, sink, options.compact); !w) return fail(messages::json_write_error(w.error()));
    // Reached only if the input broke its promise of being UTF-8.
    if (auto bad = xml::find_utf8_error(out.view())) return fail(messages::output_not_utf8(*bad));
    return out;
}

}  // namespace tessaly::converter
