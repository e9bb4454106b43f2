#include "converter/convert.hpp"
#include "converter/walker.hpp"
#include "io/file.hpp"
#include "io/file_sink.hpp"
#include "io/file_source.hpp"
#include "io/temp_file.hpp"
#include "json/writer.hpp"
#include "messages.hpp"
#include "xml/read_ahead.hpp"
#include "xml/reader.hpp"

namespace tessaly::converter {

namespace {

// Whether the file is read on a second thread ahead of the walk, which then
// writes half of the text: for a regular file long enough for that to pay.
// A pipe is read in turn: should the walk stop early, a thread blocked on a
// pipe that is never written again could not be stopped.
bool two_threads(const io::File& in, const ConvertOptions& options) {
    return in.regular_size().value_or(0) >= options.read_ahead_from;
}

// The walk over the file, through the same window either way.
Result<std::optional<storage::Value>> walk_file(bool ahead, CheckedSource& checked, const schema::SchemaModel& model,
                                                Convention convention, storage::Arena& arena, storage::KeyTable& keys,
                                                const ConvertOptions& options) {
    if (ahead) {
        xml::WindowedReadAhead reader(checked, options.window_size, checked.all_valid_flag());
        return walk_document(reader, model, convention, arena, keys, options.interrupt);
    }
    xml::Reader reader(checked, options.window_size);
    return walk_document(reader, &checked, model, convention, arena, keys, options.interrupt);
}

// The text goes to a new file beside the output, renamed over it once complete.
Status convert_file_beside(CheckedSource& checked, io::File& in, const schema::SchemaModel& model,
                           std::string_view output_path, Convention convention, const ConvertOptions& options) {
    auto pending = io::PendingFile::create(output_path);
    if (!pending) return fail(messages::failed_to_create(output_path, pending.error()));
    storage::Arena arena;
    storage::KeyTable keys;
    const bool two = two_threads(in, options);
    auto root = walk_file(two, checked, model, convention, arena, keys, options);
    if (!root) return fail(std::move(root.error()));
    (void)in.close();
    if (*root) {
        io::FileSink sink(pending->file());
        if (auto w = json::write_json(**root, keys, sink, options.compact, two); !w)
            return fail(messages::json_write_error(w.error()));
        if (auto f = sink.flush(); !f) return fail(messages::flush_error(f.error()));
    }
    if (auto c = pending->commit(); !c) return fail(messages::flush_error(c.error()));
    return {};
}

}  // namespace

Status convert_file(std::string_view xml_path, const schema::SchemaModel& model, std::string_view output_path,
                    Convention convention, const ConvertOptions& options) {
    auto in = io::File::open_for_reading(xml_path);
    if (!in) return fail(messages::failed_to_open(xml_path, in.error()));
    io::FileSource source(*in);
    CheckedSource checked(source);

    if (options.replace_on_success) return convert_file_beside(checked, *in, model, output_path, convention, options);

    // The output is opened (and created) before anything is read, so that an
    // unwritable output is reported first, but it is emptied only once the
    // whole input has been read: a malformed input leaves an existing file as it was.
    auto out = io::File::open_for_writing(output_path);
    if (!out) return fail(messages::failed_to_create(output_path, out.error()));

    storage::Arena arena;
    storage::KeyTable keys;
    const bool two = two_threads(*in, options);
    auto root = walk_file(two, checked, model, convention, arena, keys, options);
    if (!root) return fail(std::move(root.error()));
    (void)in->close();  // read to the end: nothing its close could say matters

    if (auto emptied = out->empty_if_regular(); !emptied) return fail(messages::json_write_error(emptied.error()));
    if (!*root) return {};
    io::FileSink sink(*out);
    if (auto w = json::write_json(**root, keys, sink, options.compact, two); !w)
        return fail(messages::json_write_error(w.error()));
    if (auto f = sink.flush(); !f) return fail(messages::flush_error(f.error()));
    return {};
}

}  // namespace tessaly::converter
