#pragma once
// The event loop shared by the in-memory and the file conversion: one pull
// loop over the reader's events, one frame per open element, each element
// turned into its JSON value as soon as it closes.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "converter/convention.hpp"
#include "converter/convert.hpp"
#include "tessaly/error.hpp"
#include "storage/arena.hpp"
#include "storage/key_table.hpp"
#include "storage/value.hpp"
#include "messages.hpp"  // the texts of the walk's errors
#include "schema/model.hpp"
#include "converter/checked_source.hpp"
#include "xml/read_ahead.hpp"
#include "xml/reader.hpp"

namespace tessaly::converter {

// Walks the whole document. The result is the document's value, or nothing
// when no top-level element was completed; every value lives in `arena`, and
// every key of its objects is in `keys`.
// `window`: null when the reader's event bytes outlive the walk and are valid
// UTF-8 (a document in memory), so they are used without copying; else the
// checking source that the reader's window is filled from.
// `interrupt` is asked every kInterruptStride events.
inline constexpr unsigned kInterruptStride = 1u << 16;
Result<std::optional<storage::Value>> walk_document(xml::Reader& reader, const CheckedSource* window,
                                                    const schema::SchemaModel& model, Convention convention,
                                                    storage::Arena& arena, storage::KeyTable& keys,
                                                    InterruptCheck interrupt = {});
// The same over a reader reading on a second thread: the same value, or the
// same error. Over a window, its bytes are checked as the window's are.
Result<std::optional<storage::Value>> walk_document(xml::ReadAhead& reader, const schema::SchemaModel& model,
                                                    Convention convention, storage::Arena& arena,
                                                    storage::KeyTable& keys, InterruptCheck interrupt = {});
Result<std::optional<storage::Value>> walk_document(xml::WindowedReadAhead& reader, const schema::SchemaModel& model,
                                                    Convention convention, storage::Arena& arena,
                                                    storage::KeyTable& keys, InterruptCheck interrupt = {});

}  // namespace tessaly::converter

namespace tessaly::converter {

// Which elements are records: those at a path of local names from the
// document element down, or (`anywhere`, a path of one name) every element
// of that local name that is not inside another record.
struct RecordSelector {
    std::vector<std::string> path;
    bool anywhere = false;
};

// A walk that hands out records one by one. A record's value is exactly the
// value the whole-document walk gives that element. What lies outside the
// records is read and dropped; the caller may clear the arena after each
// record, since nothing outside the record just handed out lives there.
class RecordWalker {
public:
    // `window_valid`: whether every byte the reader's window has been filled
    // with is valid UTF-8 (CheckedSource::all_valid_flag(), or
    // WindowedReadAhead::all_valid()).
    RecordWalker(const schema::SchemaModel& model, Convention convention, storage::Arena& arena,
                 storage::KeyTable& keys, const RecordSelector& records, const bool* window_valid);
    ~RecordWalker();
    RecordWalker(const RecordWalker&) = delete;
    RecordWalker& operator=(const RecordWalker&) = delete;

    // For a reader that starts at a record's start tag in the middle of a
    // document (a full path only): the elements of the path above the record
    // count as open, their declarations found from the schema alone. An end
    // tag that closes one of them has to carry its name. The reader starts
    // at offset `origin` of the document; `place_error` turns the position of
    // a read error, counted from there, into one counted from the start.
    void open_ancestors(std::uint64_t origin, std::function<void(xml::ReadError&)> place_error);

    // The next record's value, valid until the arena is cleared or the next
    // call; nothing at the end of the input, or once the reader is at or past
    // `stop_at` outside any record.
    Result<std::optional<storage::Value>> next(xml::Reader& reader, InterruptCheck interrupt,
                                               std::uint64_t stop_at = UINT64_MAX);
    // The same over a reader reading ahead over a window, from the start of
    // the document on.
    Result<std::optional<storage::Value>> next(xml::WindowedReadAhead& reader, InterruptCheck interrupt);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaly::converter
