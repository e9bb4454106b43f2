#pragma once
// The JSON text of a value, byte for byte: two-space indentation, one member
// or element per line, empty arrays and objects on one line, no line break
// at the end; or the same compact, one value per line. Writing never
// recurses per level of nesting.

#include <cstdint>
#include <cstring>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "storage/value.hpp"
#include "tessaly/text.hpp"

namespace tessaly::json {

// The values written, and their keys, live in the per-call storage.
using storage::KeyTable;
using storage::Value;

// Where the text goes. The writer stages small pieces itself and hands the
// sink large runs, so a sink may be as simple as an append.
class Sink {
public:
    virtual ~Sink() = default;
    // On failure, the I/O error's text; writing stops at the first failure.
    virtual std::expected<void, std::string> write(std::string_view bytes) = 0;
    // A sink that keeps the text in memory of its own may lend the writer room
    // for `n` more bytes, so that the text is written there in place instead
    // of being staged and copied. The writer then says how many of them it
    // filled with commit(), before it writes or borrows again. Null: no loan,
    // the bytes come through write(). A sink that has to pass bytes on to
    // make room fails like write() when that fails.
    virtual std::expected<char*, std::string> lend(std::size_t n) {
        (void)n;
        return nullptr;
    }
    virtual void commit(std::size_t n) { (void)n; }
};

class StringSink final : public Sink {
public:
    explicit StringSink(std::string& out) : out_(out) {}
    std::expected<void, std::string> write(std::string_view bytes) override {
        out_.append(bytes);
        return {};
    }
    std::expected<char*, std::string> lend(std::size_t n) override {
        lent_at_ = out_.size();
        // The room is not filled here: the writer fills it before anything reads it.
        out_.resize_and_overwrite(lent_at_ + n, [](char*, std::size_t size) { return size; });
        return out_.data() + lent_at_;
    }
    void commit(std::size_t n) override { out_.resize(lent_at_ + n); }

private:
    std::string& out_;
    std::size_t lent_at_ = 0;
};

// Writes into a Text, lending the writer room in its own pages. `hint` is
// how large the text is expected to grow: mapped at the first loan, so that
// most texts never remap.
class TextSink final : public Sink {
public:
    TextSink(Text& out, std::size_t hint) : out_(out), hint_(hint) {}
    std::expected<void, std::string> write(std::string_view bytes) override {
        auto room = out_.room(bytes.size(), hint_);
        if (!room) return std::unexpected(std::move(room.error()));
        std::memcpy(*room, bytes.data(), bytes.size());
        out_.extend(bytes.size());
        return {};
    }
    std::expected<char*, std::string> lend(std::size_t n) override { return out_.room(n, hint_); }
    void commit(std::size_t n) override { out_.extend(n); }

private:
    Text& out_;
    std::size_t hint_;
};

// `keys` holds the keys of every object within `value`. With `two_threads`,
// a second thread writes half of the entries of a container that has many
// (the first with 128 or more, going down into the widest entry), in
// segments that are spliced into the text in their place: the same text.
std::expected<void, std::string> write_pretty(const Value& value, const KeyTable& keys, Sink& sink,
                                              bool two_threads = false);
// The same value as compact text: no white space between tokens.
std::expected<void, std::string> write_compact(const Value& value, const KeyTable& keys, Sink& sink,
                                               bool two_threads = false);
// Either, as `compact` says.
inline std::expected<void, std::string> write_json(const Value& value, const KeyTable& keys, Sink& sink, bool compact,
                                                   bool two_threads = false) {
    return compact ? write_compact(value, keys, sink, two_threads) : write_pretty(value, keys, sink, two_threads);
}

// Values one after another as compact text (no white space between tokens;
// escaping, numbers and key order as in the pretty text), each followed by a
// line feed: JSON Lines. The text is staged and handed to the sink in large
// pieces; finish() hands over the rest.
class LineWriter {
public:
    explicit LineWriter(Sink& sink);
    ~LineWriter();
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // `keys` holds the keys of every object within `value`; it may have
    // grown since the last line, never changed otherwise. A failure of the
    // sink stops the writing; finish() reports it.
    void write_line(const Value& value, const KeyTable& keys);
    // Bytes written so far, staged or handed over.
    std::uint64_t produced() const;
    // Hands over everything staged; the sink's first failure, if any.
    std::expected<void, std::string> finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The writer collects output in a buffer of this size (its own, or one lent
// by the sink) and hands it over when full. Runs of string bytes that do not
// fit go to a sink that lends nothing directly, so every write but the last
// carries at least this many bytes.
inline constexpr std::size_t kStagingBytes = 64 * 1024;

// Float text: shortest round-trip digits, positional for decimal exponents
// -5 to 15 ("5.0", "0.001"), scientific otherwise ("1e+16", "1.5e-7").
// Writes at most 32 bytes into `out` and returns the count.
std::size_t format_float(double v, char* out);

}  // namespace tessaly::json
