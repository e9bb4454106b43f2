// The record driver: a file or a stream read through a window, a walk that
// hands out one record at a time, and the compact writer. Each record is
// written as soon as it closes and its storage cleared at once.

#include "tessaly/records.hpp"

#include "converter/record_start.hpp"
#include "converter/walker.hpp"
#include "io/file.hpp"
#include "io/file_sink.hpp"
#include "io/file_source.hpp"
#include "io/temp_file.hpp"
#include "json/writer.hpp"
#include "messages.hpp"
#include "xml/read_ahead.hpp"
#include "xml/reader.hpp"

#include <utility>

namespace tessaly::core {

namespace {

bool is_name(std::string_view step) {
    if (step.empty()) return false;
    for (char c : step)
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '<' || c == '>' || c == ':' || c == '/' ||
            c == '\0')
            return false;
    return true;
}

converter::RecordSelector selector_of(std::string_view record) {
    converter::RecordSelector s;
    std::size_t from = 0;
    while (true) {
        std::size_t slash = record.find('/', from);
        s.path.emplace_back(record.substr(from, slash == std::string_view::npos ? record.npos : slash - from));
        if (slash == std::string_view::npos) break;
        from = slash + 1;
    }
    s.anywhere = s.path.size() == 1;
    return s;
}

class StreamSource final : public xml::ByteSource {
public:
    explicit StreamSource(InputStream& in) : in_(in) {}
    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) override {
        return in_.read(dst, capacity);
    }

private:
    InputStream& in_;
};

}  // namespace

bool is_record_path(std::string_view record) {
    if (record.empty()) return false;
    for (const std::string& step : selector_of(record).path)
        if (!is_name(step)) return false;
    return true;
}

struct RecordStream::Impl {
    Impl(const schema::SchemaModel& model, Convention convention, std::string_view record,
         const RecordOptions& options)
        : selector(selector_of(record)), interrupt(options.interrupt), model(model), convention(convention) {}

    // Reads `source` from where it stands: ahead, on a second thread, when
    // `ahead`.
    void read_through(bool ahead, std::size_t window_size) {
        checked.attach(*source);
        if (ahead) {
            read_ahead = std::make_unique<xml::WindowedReadAhead>(checked, window_size, checked.all_valid_flag());
            walker = std::make_unique<converter::RecordWalker>(model, convention, arena, keys, selector,
                                                               read_ahead->all_valid());
        } else {
            reader = std::make_unique<xml::Reader>(checked, window_size);
            walker = std::make_unique<converter::RecordWalker>(model, convention, arena, keys, selector,
                                                               checked.all_valid_flag());
        }
    }

    // The next record's value, or nothing at the end; the arena holds only it.
    Result<std::optional<storage::Value>> next() {
        arena.clear();
        if (done) return std::nullopt;
        auto r = read_ahead ? walker->next(*read_ahead, interrupt) : walker->next(*reader, interrupt, stop_at);
        if (!r || !*r) done = true;
        return r;
    }

    converter::RecordSelector selector;
    InterruptCheck interrupt;
    storage::Arena arena;
    storage::KeyTable keys;
    const schema::SchemaModel& model;
    Convention convention;
    converter::CheckedSource checked;  // reads from `source`
    std::optional<io::File> file;  // the input, when it is a path
    std::unique_ptr<xml::ByteSource> source;
    // One of the two, read by the walker (which is made with it); the thread
    // of a ReadAhead stops before the source and the file are closed.
    std::unique_ptr<xml::Reader> reader;
    std::unique_ptr<xml::WindowedReadAhead> read_ahead;
    std::unique_ptr<converter::RecordWalker> walker;
    std::uint64_t stop_at = UINT64_MAX;  // relative to where the reader starts
    bool done = false;
    std::optional<TessalyError> error;  // met after records that were still handed out
};

RecordStream::RecordStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RecordStream::~RecordStream() = default;

Result<std::unique_ptr<RecordStream>> RecordStream::open_file(std::string_view xml_path,
                                                              const schema::SchemaModel& model, std::string_view record,
                                                              Convention convention, const RecordOptions& options) {
    if (!is_record_path(record)) return fail(messages::invalid_record_path(record));
    auto impl = std::make_unique<Impl>(model, convention, record, options);
    if (options.byte_range) {
        const ByteRange range = *options.byte_range;
        if (range.end < range.start) return fail(messages::invalid_byte_range("its end comes before its start"));
        if (impl->selector.anywhere && range.start > 0)
            return fail(messages::invalid_byte_range("a range that does not start at 0 needs a full record path"));
    }
    auto in = io::File::open_for_reading(xml_path);
    if (!in) return fail(messages::failed_to_open(xml_path, in.error()));
    impl->file.emplace(std::move(*in));
    io::File& file = *impl->file;

    std::uint64_t origin = 0;
    if (options.byte_range) {
        const ByteRange range = *options.byte_range;
        if (range.start > 0) {
            auto found = converter::find_record_start(file, range.start, impl->selector.path.back());
            if (!found) return fail(messages::failed_to_read(xml_path, found.error()));
            if (!*found || **found >= range.end) {
                impl->done = true;
                return std::unique_ptr<RecordStream>(new RecordStream(std::move(impl)));
            }
            origin = **found;
            if (auto s = file.seek(origin); !s) return fail(messages::failed_to_read(xml_path, s.error()));
        }
        impl->stop_at = range.end - origin;
    }
    impl->source = std::make_unique<io::FileSource>(file);
    // A range has its end told by the reader's position, which a reader
    // reading ahead does not keep; a pipe is read in turn, as by convert_file.
    impl->read_through(!options.byte_range && file.regular_size().value_or(0) >= options.read_ahead_from,
                       options.window_size);
    if (origin > 0) {
        impl->reader->accept_end_tags_of_outer_elements();
        // A position in the document is found by counting its lines, only when an error needs one.
        io::File* f = &file;
        impl->walker->open_ancestors(origin, [f, origin](xml::ReadError& e) {
            if (e.kind != xml::ReadError::Kind::Syntax) return;
            auto before = converter::count_lines_before(*f, origin);
            if (!before) return;
            if (e.line == 1) e.column += origin - before->line_start;
            e.line += before->lines;
            e.offset += origin;
        });
    }
    return std::unique_ptr<RecordStream>(new RecordStream(std::move(impl)));
}

Result<std::unique_ptr<RecordStream>> RecordStream::open_stream(InputStream& input, const schema::SchemaModel& model,
                                                                std::string_view record, Convention convention,
                                                                const RecordOptions& options) {
    if (!is_record_path(record)) return fail(messages::invalid_record_path(record));
    if (options.byte_range) return fail(messages::invalid_byte_range("a byte range needs a file path"));
    auto impl = std::make_unique<Impl>(model, convention, record, options);
    impl->source = std::make_unique<StreamSource>(input);
    // The stream may need the caller's thread (a Python file object), so it
    // is read on it.
    impl->read_through(false, options.window_size);
    return std::unique_ptr<RecordStream>(new RecordStream(std::move(impl)));
}

Result<bool> RecordStream::read(std::string& out, std::vector<std::size_t>& ends, std::size_t min_bytes) {
    if (impl_->error) return fail(std::move(*std::exchange(impl_->error, std::nullopt)));
    const std::size_t begin = out.size();
    json::StringSink sink(out);
    json::LineWriter writer(sink);
    bool any = false;
    while (writer.produced() < min_bytes) {
        auto r = impl_->next();
        if (!r) {
            // The records read before the error are handed out first.
            impl_->error = std::move(r.error());
            break;
        }
        if (!*r) break;
        writer.write_line(**r, impl_->keys);
        ends.push_back(begin + writer.produced());
        any = true;
    }
    if (auto f = writer.finish(); !f) return fail(messages::json_write_error(f.error()));
    if (!any && impl_->error) return fail(std::move(*std::exchange(impl_->error, std::nullopt)));
    return any;
}

Result<std::uint64_t> RecordStream::write_to_file(std::string_view output_path) {
    auto pending = io::PendingFile::create(output_path);
    if (!pending) return fail(messages::failed_to_create(output_path, pending.error()));
    io::FileSink sink(pending->file());
    json::LineWriter writer(sink);
    std::uint64_t count = 0;
    while (true) {
        auto r = impl_->next();
        if (!r) return fail(std::move(r.error()));
        if (!*r) break;
        writer.write_line(**r, impl_->keys);
        ++count;
    }
    if (auto f = writer.finish(); !f) return fail(messages::json_write_error(f.error()));
    if (auto f = sink.flush(); !f) return fail(messages::flush_error(f.error()));
    if (auto c = pending->commit(); !c) return fail(messages::flush_error(c.error()));
    return count;
}

}  // namespace tessaly::core
