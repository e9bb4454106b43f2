#include "converter/convert.hpp"
#include "converter/walker.hpp"
#include "json/writer.hpp"
#include "messages.hpp"
#include "xml/read_ahead.hpp"
#include "xml/reader.hpp"

namespace tessaly::converter {

Result<Text> convert_to_string(std::string_view xml, const schema::SchemaModel& model, Convention convention,
                               const ConvertOptions& options) {
    storage::Arena arena;
    storage::KeyTable keys;
    // A long document is read on a second thread while this one converts:
    // reading the tags and their attributes is a fifth to a quarter of the
    // work.
    const bool two_threads = xml.size() >= options.read_ahead_from;
    auto root = [&] {
        if (two_threads) {
            xml::ReadAhead reader(xml);
            return walk_document(reader, model, convention, arena, keys, options.interrupt);
        }
        xml::Reader reader(xml);
        return walk_document(reader, nullptr, model, convention, arena, keys, options.interrupt);
    }();
    if (!root) return fail(std::move(root.error()));
    Text out;
    if (!*root) return out;
    // Mapped for three times the input at first: pretty text of markup-dense
    // input runs to several times its size, and the rest grows by remapping.
    json::TextSink sink(out, xml.size() * 3 + 4096);
    // The text is UTF-8 by construction from UTF-8 input (the fuzz targets
    // hold it to that), so it is not read over again here: on dense input
    // it runs to several times the input's size.
    // The second thread, done reading, writes half of the text.
    if (auto w = json::write_json(**root, keys, sink, options.compact, two_threads); !w)
        return fail(messages::json_write_error(w.error()));
    return out;
}

}  // namespace tessaly::converter
