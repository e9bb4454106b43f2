#pragma once
// Records: a document converted one element at a time. Each record is the
// JSON value the whole-document conversion gives that element, as compact
// text on a line of its own (JSON Lines); what lies outside the records is
// read and dropped, so memory does not grow with the document.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessaly/core.hpp"

namespace tessaly::core {

// Where a stream of records reads its document when it is not a file path:
// a byte stream read once, in order (a decompressor, say).
class InputStream {
public:
    virtual ~InputStream() = default;
    // Up to `capacity` bytes; 0 at the end. On failure, the reason's text.
    virtual std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) = 0;
};

// The records whose start tag begins at an offset in [start, end).
struct ByteRange {
    std::uint64_t start = 0;
    std::uint64_t end = UINT64_MAX;
};

struct RecordOptions {
    std::size_t window_size = 8 * 1024 * 1024;
    InterruptCheck interrupt;
    // A file path and a full record path only.
    std::optional<ByteRange> byte_range;
    // A path to a regular file, without a byte range, only: from this many
    // bytes on, the XML is read on a second thread, ahead of the records.
    // They are the same either way.
    std::uint64_t read_ahead_from = 1024 * 1024;
};

// Whether `record` names records: "a/b/c", local names from the document
// element down, or "c", every element of that local name that is not
// inside another record. Names are non-empty and hold no white space, '/',
// '<', '>' or ':'.
bool is_record_path(std::string_view record);

class RecordStream {
public:
    static Result<std::unique_ptr<RecordStream>> open_file(std::string_view xml_path, const schema::SchemaModel& model,
                                                           std::string_view record, Convention convention,
                                                           const RecordOptions& options = {});
    // The stream is read through; it must outlive the RecordStream.
    static Result<std::unique_ptr<RecordStream>> open_stream(InputStream& input, const schema::SchemaModel& model,
                                                             std::string_view record, Convention convention,
                                                             const RecordOptions& options = {});
    ~RecordStream();
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    // Appends the next records to `out`, each ending in "\n", until at least
    // `min_bytes` were appended or the records end, and pushes where each
    // record ends in `out` onto `ends`. False once there are no more records
    // (nothing was appended then). After an error, what was appended before
    // it stays; the stream should not be read again.
    Result<bool> read(std::string& out, std::vector<std::size_t>& ends, std::size_t min_bytes);

    // Writes every remaining record to `output_path` (created before anything
    // is read) and returns how many there were. The text goes to a new file
    // beside the output that takes the output's name once everything was
    // written: on failure, whatever `output_path` named is left as it was and
    // nothing partial remains.
    Result<std::uint64_t> write_to_file(std::string_view output_path);

    struct Impl;

private:
    explicit RecordStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaly::core
