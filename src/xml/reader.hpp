#pragma once
// A pull tokenizer for XML, over a document held in memory or over a file
// read through a fixed window. It reports references as events of their own
// instead of expanding them, accepts several top-level elements and elements
// left open at end of input, and checks that every end tag closes the
// innermost open element. It knows nothing of schemas or JSON.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tessaly::xml {

enum class EventKind : std::uint8_t {
    StartTag,               // <name attrs>
    EndTag,                 // </name>
    EmptyTag,               // <name attrs/>: one event, never split into start and end
    Text,                   // character data, raw and untrimmed, up to the next '<' or '&'
    CData,                  // <![CDATA[...]]>: the raw content
    Comment,                // <!--...-->
    Declaration,            // <?xml ...?>
    ProcessingInstruction,  // <?target ...?>
    DocType,                // <!DOCTYPE ...>
    GeneralRef,             // &name; in character data
    EndOfInput,
};

// The deepest nesting of elements a document may have. Past it, the start
// tag (or empty-element tag) that would open one more level is an error.
// Real documents stay far below it (the deepest of the real document sets we
// test with is 18); JSON made from deeper ones would be more than a thousand
// levels deep in some shapes, which common JSON readers (Python's json among
// them) refuse; libxml2 stops at the same depth by default; and pretty output
// grows with the square of the depth, so a bound keeps a small input from
// asking for gigabytes of indentation.
inline constexpr std::size_t kMaxDepth = 256;

// Filled in by Reader::next(); a reader is read event by event into one of
// these, so it has no initial values to write over each time.
struct Event {
    EventKind kind;
    // StartTag, EmptyTag, EndTag: the qualified name as written.
    // GeneralRef: the bytes between '&' and ';'.
    std::string_view name;
    // StartTag, EmptyTag: the attribute text between the name and '>' or "/>".
    // Text, CData, Comment, Declaration, ProcessingInstruction, DocType: the content.
    std::string_view body;
};

struct Attribute {
    std::string_view name;   // as written, prefix included
    std::string_view value;  // between the quotes, references not expanded
};

// Walks the attributes of one tag. Malformed attributes are skipped and the
// walk goes on with the next one; with `skip_repeated`, a second occurrence of
// a name is skipped too, so the first occurrence wins.
class AttributeReader {
public:
    explicit AttributeReader(std::string_view attribute_text, bool skip_repeated = true);
    bool next(Attribute& out);

private:
    // The bit for a name in the filter of names seen.
    static std::uint64_t name_bit(std::string_view name) {
        return std::uint64_t{1} << ((static_cast<unsigned char>(name[0]) + 5 * name.size()) % 64);
    }
    const char* begin_;
    const char* pos_;
    const char* end_;
    bool skip_repeated_;
    // For a text of at most 64 bytes (nearly every tag's), a bit per byte:
    // name="value" is then read from these masks alone. Anything else in the
    // text, and any longer text, is read byte by byte, with the same result;
    // once that has happened for a text, the rest of it is read so too.
    bool masked_ = false;
    std::uint64_t unread_ = 0;          // bytes not yet walked over that are not white space
    std::uint64_t name_stops_ = 0;      // white space, '=', '"', '\''
    std::uint64_t double_quotes_ = 0;   // '"'
    std::uint64_t single_quotes_ = 0;   // '\''
    // Where the names handed out so far begin, while the walk is on the
    // masks (and with `skip_repeated`): each runs to the '=' after it.
    std::uint64_t named_ = 0;
    // Names handed out so far once the walk is on the bytes (only kept with
    // `skip_repeated`): the first few in place, where a scan is cheapest, the
    // rest in a set, so that a tag with a great many attributes still takes
    // linear time. A reader is made for every tag, so neither is set up
    // before it is needed: the array is left uninitialized (only the first
    // `name_count_` entries are ever read) and the set is made on the
    // seventeenth name.
    struct Name {
        const char* data;
        std::size_t size;
    };
    Name first_names_[16];
    std::size_t name_count_ = 0;
    // A bit for each (length, first byte) pair, folded to 64, of the names
    // handed out so far: a name whose bit is clear cannot be a repeat, and
    // needs no comparing. The first byte tells apart most of the one- and
    // two-letter names that markup-dense documents use.
    std::uint64_t name_bits_ = 0;
    std::optional<std::unordered_set<std::string_view>> more_names_;
    std::string_view name_from(std::size_t at) const;
    bool seen_before(std::string_view name) const;
    [[gnu::noinline]] bool seen_among(std::string_view name) const;
    void remember(std::string_view name);
    [[gnu::noinline]] void remember_in_set(std::string_view name);
    [[gnu::noinline]] bool next_in_full(Attribute& out);
    bool walk_bytes(const char* p, Attribute& out);
};

// The common case alone, inline in the caller's loop, with every other one
// handed to next_in_full(): an attribute written name="value" or
// name='value', read from the masks, whose first byte and length match none
// of the names handed out so far. It changes nothing before it knows it can
// finish.
inline bool AttributeReader::next(Attribute& out) {
    if (!masked_) return walk_bytes(pos_, out);
    if (unread_ == 0) return false;
    // Each step is on the lowest bit of a mask, so no shift depends on a
    // position; -(b << 1) is every bit above b, and nothing when b is bit 63.
    const std::uint64_t start = unread_ & (0 - unread_);
    const std::uint64_t stops = name_stops_ & (0 - start);
    const std::uint64_t eq = stops & (0 - stops);
    const std::uint64_t opening = eq << 1;
    const std::size_t eq_at = static_cast<std::size_t>(std::countr_zero(eq));
    if ((eq & ~start) == 0 || begin_[eq_at] != '=') return next_in_full(out);
    std::uint64_t quotes = double_quotes_;
    if ((quotes & opening) == 0) {
        quotes = single_quotes_;
        if ((quotes & opening) == 0) return next_in_full(out);
    }
    const std::uint64_t closes = quotes & (0 - (opening << 1));
    if (closes == 0) return next_in_full(out);
    const std::uint64_t close = closes & (0 - closes);
    const std::size_t name_at = static_cast<std::size_t>(std::countr_zero(start));
    const std::string_view name(begin_ + name_at, eq_at - name_at);
    if (skip_repeated_) {
        const std::uint64_t bit = name_bit(name);
        if ((name_bits_ & bit) != 0) return next_in_full(out);
        name_bits_ |= bit;
        named_ |= start;
    }
    unread_ &= 0 - (close << 1);
    const char* value = begin_ + eq_at + 2;
    out = Attribute{name, std::string_view(value, static_cast<std::size_t>(begin_ + std::countr_zero(close) - value))};
    return true;
}

// Why the reader stopped. A syntax error carries its description and where
// it was found; the text with the position is made by the one who shows it.
struct ReadError {
    enum class Kind : std::uint8_t {
        Syntax,  // `what` describes the markup at the position
        Input,   // the bytes could not be had: `what` is the source's reason; no position
    };
    Kind kind = Kind::Syntax;
    std::string what;
    std::uint64_t line = 0;    // from 1
    std::uint64_t column = 0;  // from 1, in bytes, after a byte-order mark on line 1
    std::uint64_t offset = 0;  // bytes from the start of the input, byte-order mark included

    bool operator==(const ReadError&) const = default;
};

// Where a windowed reader gets its bytes from (a file, in practice).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `capacity` bytes into `dst`; 0 means end of input.
    // On failure, the I/O error text.
    virtual std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) = 0;
};

class Reader {
public:
    // Over a whole document in memory; the views of every event point into it.
    explicit Reader(std::string_view document);
    // Over a source, through a window of `window_size` bytes. An event that
    // straddles the end of the window is completed after a refill; one longer
    // than the window grows it. Views stay valid until the next call of next().
    Reader(ByteSource& source, std::size_t window_size);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Reads the next event into `out`, or says why there is none (`out` is
    // then left as it was). After an error or EndOfInput, the reader keeps
    // giving the same. The caller owns the event, so that one is filled in
    // place call after call instead of a result being built for each.
    std::expected<void, ReadError> next(Event& out) {
        if (advance(out)) [[likely]] return {};
        return std::unexpected(error());
    }

    // Bytes of the input before the next event (a byte-order mark included).
    std::uint64_t position() const;

    // For a reader that starts inside a document: an end tag met while
    // nothing opened since the start is open closes an element opened
    // before it, and is reported as an event instead of an error.
    void accept_end_tags_of_outer_elements();

private:
    // next() without the result: false when there is no event but an error,
    // which error() then holds.
    bool advance(Event& out);
    const ReadError& error() const;

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaly::xml
