#include "json/writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <memory>
#include <optional>

#include "json/digits.hpp"
#include "json/escape.hpp"
#include "json/value_writer.hpp"
#include "storage/packed.hpp"

namespace tessaly::json {

namespace detail {

namespace {

namespace packed = storage::packed;

// A line break and the indentation after it come from this one run, so
// most of them are a single copy: ",\n" then spaces; "\n" alone starts at 1.
constexpr std::size_t kBreakRun = 256;
constexpr std::array<char, kBreakRun> kBreak = [] {
    std::array<char, kBreakRun> a{};
    a[0] = ',';
    a[1] = '\n';
    for (std::size_t i = 2; i < kBreakRun; ++i) a[i] = ' ';
    return a;
}();
constexpr const char* kSpaces = kBreak.data() + 2;
// A line break and its indentation are copied as this many bytes of the run,
// from either start, when the indentation fits.
constexpr std::size_t kBreakWidth = 64;
constexpr std::size_t kSpacesRun = kBreakRun - 2;

// Room that a number needs at most: 20 digits and a sign, or a float text.
constexpr std::size_t kNumberRoom = 32;

// Most numbers in documents are small: one or two digits are written
// without a loop. Returns the length written at `o`, which has room for
// kNumberRoom bytes.
inline std::size_t write_uint(char* o, std::uint64_t v) {
    if (v < 10) {
        *o = static_cast<char>('0' + v);
        return 1;
    }
    if (v < 100) {
        std::memcpy(o, kDigitPairs.data() + 2 * v, 2);
        return 2;
    }
    char digits[40];
    const char* first = digits_before(digits + 20, v);
    std::memcpy(o, first, 20);  // one fixed-size copy: the number and what follows it
    return static_cast<std::size_t>(digits + 20 - first);
}

// The longest string whose worst-case escaped text (every byte \u00XX, plus
// quotes) fits in an empty staging buffer.
constexpr std::size_t kReservableString = (kStagingBytes - 2) / escape::kMaxEscape;

// Room for an entry's line break, a key read in one copy, and a number or
// a short string escaped at its worst.
constexpr std::size_t kShortString = 26;
constexpr std::size_t kValueRoom = std::max(kNumberRoom, 2 + escape::kMaxEscape * kShortString);
constexpr std::size_t kEntryRoom = kBreakWidth + RenderedKeys::kReadAhead + kValueRoom;


// Pretty: indented text, one entry per line. Otherwise compact: no white
// space between tokens.
template <bool Pretty>
class Writer {
public:
    Writer(const RenderedKeys& keys, Sink& sink) : keys_(keys), sink_(sink) {
        stack_.reserve(32);
        take_buffer();
    }

    // Writes `root`; after a failure, writes nothing more.
    void write(const Value& root);
    // Writes `count` entries of a container from its packed entry at `p`,
    // as they come after an entry already written, their own lines
    // indented by `indent` spaces, without the container's end.
    void write_entries(const std::uint8_t* p, std::size_t count, bool object, std::size_t indent);
    // While writing the container of `split`, the odd segments of its
    // entries are taken from `other` instead of being written.
    void take_segments_from(const Split& split, Segments& other);
    void put_line_feed() { put_char('\n'); }
    // Hands everything staged to the sink; the first failure, if any.
    std::expected<void, std::string> finish();
    // Bytes written so far, staged or handed over.
    std::uint64_t produced() const { return handed_ + pos_; }

private:
    // One container being written: where its next entry is packed, how many
    // are left, and whether one was written already.
    struct Frame {
        const std::uint8_t* next;
        std::size_t left;
        bool object;
        bool started;
    };

    [[gnu::always_inline]] inline void value(const Value& v);
    void run(Frame cur, std::size_t indent, bool closes);
    std::size_t enter_split();
    std::size_t splice(const std::uint8_t*& p);
    [[gnu::always_inline]] inline void scalar_at(const std::uint8_t*& p);
    [[gnu::always_inline]] inline bool scalar_in_place(char*& o, const std::uint8_t*& p);
    [[gnu::always_inline]] inline void number(Kind kind, std::uint64_t bits);
    void string(std::string_view s);
    void string_in_pieces(std::string_view s);
    [[gnu::always_inline]] inline void line_break(bool comma, std::size_t spaces);

    std::size_t room() const { return kStagingBytes - pos_; }

    void put(const char* p, std::size_t n) {
        if (n <= room()) {
            std::memcpy(buf_ + pos_, p, n);
            pos_ += n;
            return;
        }
        put_overflowing(p, n);
    }
    void put(std::string_view s) { put(s.data(), s.size()); }
    // For short runs with `Width` readable bytes at `p`: one copy of a fixed
    // size, which the compiler turns into a few moves, instead of a call.
    template <std::size_t Width>
    void put_short(const char* p, std::size_t n) {
        if (n <= Width && room() >= Width) {
            std::memcpy(buf_ + pos_, p, Width);
            pos_ += n;
            return;
        }
        put(p, n);
    }
    void put_char(char c) {
        if (pos_ == kStagingBytes) flush();
        buf_[pos_++] = c;
    }
    void put_overflowing(const char* p, std::size_t n);
    void take_buffer();
    void flush();
    void settle();
    void hand_over(const char* p, std::size_t n);
    [[gnu::cold]] void stop(std::string error);

    const RenderedKeys& keys_;
    Sink& sink_;
    char* buf_ = nullptr;  // the staging buffer: own_, or lent by the sink
    bool lent_ = false;
    std::unique_ptr<char[]> own_;
    std::size_t pos_ = 0;
    std::uint64_t handed_ = 0;  // bytes staged and handed over before the current buffer
    bool failed_ = false;
    std::string error_;
    std::vector<Frame> stack_;
    // Written on two threads: the container cut into segments, where the
    // next segment written elsewhere begins, and the next segment.
    const Split* split_ = nullptr;
    Segments* other_ = nullptr;
    const std::uint8_t* split_first_ = nullptr;
    const std::uint8_t* split_at_ = nullptr;
    std::size_t segment_ = 0;
};

template <bool Pretty>
void Writer<Pretty>::stop(std::string error) {
    failed_ = true;
    error_ = std::move(error);
}

template <bool Pretty>
void Writer<Pretty>::hand_over(const char* p, std::size_t n) {
    handed_ += n;
    if (failed_ || n == 0) return;
    auto r = sink_.write(std::string_view(p, n));
    if (!r) stop(std::move(r.error()));
}

// After a failed loan the writer stages in its own buffer, which is then
// dropped at each flush, and never asks the sink again.
template <bool Pretty>
void Writer<Pretty>::take_buffer() {
    auto lent = sink_.lend(kStagingBytes);
    if (lent && *lent) {
        buf_ = *lent;
        lent_ = true;
        return;
    }
    if (!lent) stop(std::move(lent.error()));
    if (!own_) own_.reset(new char[kStagingBytes]);
    buf_ = own_.get();
    lent_ = false;
}

// After a failure the staged bytes are dropped, so the caller can keep
// putting without checks until it next looks at failed_.
template <bool Pretty>
void Writer<Pretty>::flush() {
    if (lent_) {
        settle();
        take_buffer();
    } else {
        hand_over(buf_, pos_);
    }
    pos_ = 0;
}

template <bool Pretty>
void Writer<Pretty>::settle() {
    sink_.commit(pos_);
    handed_ += pos_;
}

// The last flush: a loan is settled and not taken again until more is put.
template <bool Pretty>
std::expected<void, std::string> Writer<Pretty>::finish() {
    if (lent_) {
        // No new loan: the sink's text ends here. Anything put later is
        // staged in the writer's own buffer and handed over.
        settle();
        pos_ = 0;
        if (!own_) own_.reset(new char[kStagingBytes]);
        buf_ = own_.get();
        lent_ = false;
    } else {
        hand_over(buf_, pos_);
        pos_ = 0;
    }
    if (failed_) return std::unexpected(error_);
    return {};
}

// Fills the buffer to the brim before handing it over, so the sink sees
// full chunks; what is left then goes over directly when it is a whole
// buffer or more, instead of being copied once more. Into lent room it is
// copied anyway, one buffer after another, as that is where it has to be.
template <bool Pretty>
void Writer<Pretty>::put_overflowing(const char* p, std::size_t n) {
    std::size_t first = room();
    std::memcpy(buf_ + pos_, p, first);
    pos_ = kStagingBytes;
    flush();
    p += first;
    n -= first;
    if (n >= kStagingBytes && !lent_) {
        hand_over(p, n);
        return;
    }
    for (; n > kStagingBytes; p += kStagingBytes, n -= kStagingBytes) {
        std::memcpy(buf_, p, kStagingBytes);
        pos_ = kStagingBytes;
        flush();
    }
    std::memcpy(buf_, p, n);
    pos_ = n;
}

template <bool Pretty>
inline void Writer<Pretty>::line_break(bool comma, std::size_t spaces) {
    if constexpr (!Pretty) {
        if (comma) put_char(',');
        return;
    }
    const char* run = comma ? kBreak.data() : kBreak.data() + 1;
    std::size_t head = comma ? 2 : 1;
    if (spaces <= kSpacesRun) {
        put_short<kBreakWidth>(run, head + spaces);  // the run holds that much and more from either start
        return;
    }
    put(run, head + kSpacesRun);
    spaces -= kSpacesRun;
    while (spaces > 0) {
        std::size_t n = spaces < kSpacesRun ? spaces : kSpacesRun;
        put(kSpaces, n);
        spaces -= n;
    }
}

template <bool Pretty>
void Writer<Pretty>::string(std::string_view s) {
    const std::size_t n = s.size();
    if (n == 0) {  // its data may be null, which memcpy must never see
        put("\"\"");
        return;
    }
    if (n > kReservableString || escape::kMaxEscape * n + 2 > room()) {
        string_in_pieces(s);
        return;
    }
    // The worst case fits: write straight into the buffer without checks.
    char* o = buf_ + pos_;
    *o++ = '"';
    o = escape::copy_escaped(o, s.data(), s.data() + n);
    *o++ = '"';
    pos_ = static_cast<std::size_t>(o - buf_);
}

template <bool Pretty>
void Writer<Pretty>::string_in_pieces(std::string_view s) {
    put_char('"');
    const char* p = s.data();
    const char* end = p + s.size();
    while (!failed_) {
        const char* q = escape::find(p, end);
        put(p, static_cast<std::size_t>(q - p));
        if (q == end) break;
        char esc[escape::kMaxEscape];
        char* e = escape::write(esc, static_cast<unsigned char>(*q));
        put(esc, static_cast<std::size_t>(e - esc));
        p = q + 1;
    }
    put_char('"');
}

// A number of `kind`, given as its 64 bits (a float's too).
template <bool Pretty>
inline void Writer<Pretty>::number(Kind kind, std::uint64_t bits) {
    char tmp[kNumberRoom];
    const bool direct = room() >= kNumberRoom;
    char* o = direct ? buf_ + pos_ : tmp;
    std::size_t n;
    if (kind == Kind::UInt) {
        n = write_uint(o, bits);
    } else if (kind == Kind::Int) {
        n = static_cast<std::size_t>(std::to_chars(o, o + kNumberRoom, static_cast<std::int64_t>(bits)).ptr - o);
    } else {
        double f;
        std::memcpy(&f, &bits, sizeof f);
        n = format_float(f, o);
    }
    if (direct) {
        pos_ += n;
    } else {
        put(tmp, n);
    }
}

// The packed value at `p`, which is not an array or object, written
// straight from its bytes; moves `p` past it.
template <bool Pretty>
inline void Writer<Pretty>::scalar_at(const std::uint8_t*& p) {
    const std::uint8_t* tag = p;
    const auto kind = static_cast<Kind>(*p++);
    switch (kind) {
        case Kind::Null: put("null"); return;
        case Kind::False: put("false"); return;
        case Kind::True: put("true"); return;
        case Kind::UInt: number(Kind::UInt, packed::get_varint(p)); return;
        case Kind::Int: number(Kind::Int, ~packed::get_varint(p)); return;
        case Kind::Float: {
            std::uint64_t bits;
            std::memcpy(&bits, p, sizeof bits);
            p += sizeof bits;
            number(Kind::Float, bits);
            return;
        }
        case Kind::String:
        case Kind::NumberText: {
            const std::uint64_t d = packed::get_varint(p);
            const auto n = static_cast<std::size_t>(packed::get_varint(p));
            const std::string_view text{n ? packed::at_distance<char>(tag, d) : "", n};
            if (kind == Kind::String) {
                string(text);
            } else {
                put(text);
            }
            return;
        }
        default: return;  // containers are the caller's
    }
}

// The packed value at `p` written at `o`, which has room for kValueRoom
// bytes, when it is a literal, a number or a short string; both then move
// past it. Anything else is left to the caller, untouched. scalar_at() is
// the checked form of the same: written on top of this one, it decoded a
// long text twice and cost up to 0.8% of a conversion.
template <bool Pretty>
inline bool Writer<Pretty>::scalar_in_place(char*& o, const std::uint8_t*& p) {
    const std::uint8_t* q = p + 1;
    switch (static_cast<Kind>(*p)) {
        case Kind::Null: std::memcpy(o, "null", 4); o += 4; break;
        case Kind::False: std::memcpy(o, "false", 5); o += 5; break;
        case Kind::True: std::memcpy(o, "true", 4); o += 4; break;
        case Kind::UInt: o += write_uint(o, packed::get_varint(q)); break;
        case Kind::Int: o = std::to_chars(o, o + kNumberRoom, static_cast<std::int64_t>(~packed::get_varint(q))).ptr; break;
        case Kind::Float: {
            double f;
            std::memcpy(&f, q, sizeof f);
            q += sizeof f;
            o += format_float(f, o);
            break;
        }
        case Kind::String:
        case Kind::NumberText: {
            const std::uint64_t d = packed::get_varint(q);
            const auto n = static_cast<std::size_t>(packed::get_varint(q));
            if (n == 0 || n > kShortString) return false;
            const char* text = packed::at_distance<char>(p, d);
            if (static_cast<Kind>(*p) == Kind::String) {
                *o++ = '"';
                o = escape::copy_escaped(o, text, text + n);
                *o++ = '"';
            } else {
                std::memcpy(o, text, n);
                o += n;
            }
            break;
        }
        default: return false;
    }
    p = q;
    return true;
}

template <bool Pretty>
inline void Writer<Pretty>::value(const Value& v) {
    switch (v.kind()) {
        case Kind::Null: put("null"); return;
        case Kind::False: put("false"); return;
        case Kind::True: put("true"); return;
        case Kind::UInt: number(Kind::UInt, v.as_uint()); return;
        case Kind::Int: number(Kind::Int, static_cast<std::uint64_t>(v.as_int())); return;
        case Kind::Float: {
            std::uint64_t bits;
            const double f = v.as_float();
            std::memcpy(&bits, &f, sizeof bits);
            number(Kind::Float, bits);
            return;
        }
        case Kind::String: string(v.as_string()); return;
        case Kind::NumberText: put(v.as_string()); return;
        case Kind::Array:
        case Kind::Object: {
            const bool object = v.kind() == Kind::Object;
            if (v.size() == 0) {
                put(object ? "{}" : "[]");
                return;
            }
            put_char(object ? '{' : '[');
            const std::uint8_t* entries = v.record();
            packed::get_varint(entries);  // the count, which v holds already
            stack_.push_back({entries, v.size(), object, false});
            return;
        }
    }
}

template <bool Pretty>
void Writer<Pretty>::write(const Value& root) {
    if (failed_) return;
    value(root);
    if (stack_.empty()) return;
    const Frame cur = stack_.back();
    stack_.pop_back();
    run(cur, 2, true);
}

template <bool Pretty>
void Writer<Pretty>::write_entries(const std::uint8_t* p, std::size_t count, bool object, std::size_t indent) {
    if (failed_ || count == 0) return;
    run({p, count, object, true}, indent, false);
}

// `closes`: whether the end of `cur` is written.
template <bool Pretty>
void Writer<Pretty>::run(Frame cur, std::size_t indent, bool closes) {
    // The innermost open container lives in locals; the stack holds the
    // ones around it, each with its place when the walk went down.
    const std::uint8_t* p = cur.next;
    std::size_t left = cur.left;
    bool object = cur.object;
    bool started = cur.started;
    if (p == split_first_) [[unlikely]] left = enter_split();
    while (true) {
        if (left == 0) {
            if (p == split_at_) [[unlikely]] {
                // Where the segments written elsewhere go.
                left = splice(p);
                if (failed_) return;
                if (left != 0) continue;
            }
            if (!closes && stack_.empty()) return;
            const char close = object ? '}' : ']';
            indent -= 2;
            if (Pretty && room() > kBreakWidth && indent < kBreakWidth) [[likely]] {
                char* o = buf_ + pos_;
                std::memcpy(o, kBreak.data() + 1, kBreakWidth);
                o += 1 + indent;
                *o++ = close;
                pos_ = static_cast<std::size_t>(o - buf_);
            } else {
                line_break(false, indent);
                put_char(close);
            }
            if (stack_.empty() || failed_) return;
            const Frame& up = stack_.back();
            p = up.next;
            left = up.left;
            object = up.object;
            started = true;
            stack_.pop_back();
            continue;
        }
        --left;
        if (room() >= kEntryRoom && (!Pretty || indent <= kBreakWidth - 2)) [[likely]] {
            // The entry's line break, a key of up to one copy, and a
            // literal, a number or a short text fit whatever they turn out
            // to be: written through a local cursor, without a check for
            // each piece. Anything else goes the checked way below.
            char* o = buf_ + pos_;
            if constexpr (Pretty) {
                std::memcpy(o, kBreak.data() + (started ? 0 : 1), kBreakWidth);
                o += (started ? 2 : 1) + indent;
            } else if (started) {
                *o++ = ',';
            }
            started = true;
            bool long_key = false;
            if (object) {
                std::string_view key = keys_[static_cast<KeyId>(packed::get_varint(p))];
                if (key.size() <= RenderedKeys::kReadAhead) [[likely]] {
                    std::memcpy(o, key.data(), RenderedKeys::kReadAhead);
                    o += key.size();
                } else {
                    pos_ = static_cast<std::size_t>(o - buf_);
                    put(key);  // the room is spent: the value takes the checked way
                    long_key = true;
                }
            }
            if (!long_key) {
                const bool written = scalar_in_place(o, p);
                pos_ = static_cast<std::size_t>(o - buf_);
                if (written) continue;
            }
        } else {
            line_break(started, indent);
            started = true;
            if (object) {
                std::string_view key = keys_[static_cast<KeyId>(packed::get_varint(p))];
                put_short<RenderedKeys::kReadAhead>(key.data(), key.size());
            }
        }
        const auto kind = static_cast<Kind>(*p);
        if (kind != Kind::Object && kind != Kind::Array) {
            scalar_at(p);
            continue;
        }
        const Value child = packed::get_value(p);
        if (child.size() == 0) {
            put(kind == Kind::Object ? "{}" : "[]");
            continue;
        }
        if (failed_) return;
        put_char(kind == Kind::Object ? '{' : '[');
        stack_.push_back({p, left, object, true});
        p = child.record();
        packed::get_varint(p);  // the count, which the value holds already
        left = child.size();
        if (p == split_first_) [[unlikely]] left = enter_split();
        object = kind == Kind::Object;
        started = false;
        indent += 2;
    }
}


template <bool Pretty>
void Writer<Pretty>::take_segments_from(const Split& split, Segments& other) {
    split_ = &split;
    other_ = &other;
    split_first_ = split.bounds.front();
}

// The split container is reached: its first segment is written here. (Were
// its record to be met again, it would be written whole.)
template <bool Pretty>
std::size_t Writer<Pretty>::enter_split() {
    if (segment_ != 0) return split_->size;
    segment_ = 1;
    split_at_ = split_->counts.size() > 1 ? split_->bounds[1] : nullptr;
    return split_->counts[0];
}

// At the end of an even segment: the odd one after it is spliced in, and
// the next even one begins: its count, or 0 at the container's end.
template <bool Pretty>
std::size_t Writer<Pretty>::splice(const std::uint8_t*& p) {
    const std::size_t segments = split_->counts.size();
    put(other_->take(segment_ / 2));
    other_->give_back();
    p = split_->bounds[++segment_];
    if (segment_ == segments) {
        split_at_ = nullptr;
        return 0;
    }
    const std::size_t count = split_->counts[segment_++];
    split_at_ = segment_ < segments ? split_->bounds[segment_] : nullptr;
    return count;
}

template <bool Pretty>
std::expected<void, std::string> write_value(const Value& value, const KeyTable& keys, Sink& sink, bool two_threads) {
    RenderedKeys rendered(Pretty);
    rendered.extend(keys);
    Writer<Pretty> w(rendered, sink);
    // Both threads only read the value and the keys. Declared after the
    // writer, the second thread ends before it.
    std::optional<Split> split;
    std::unique_ptr<Segments> other;
    if (two_threads && (split = find_split(value)) && (other = write_odd_segments(*split, rendered, Pretty)))
        w.take_segments_from(*split, *other);
    w.write(value);
    return w.finish();
}

}  // namespace

void write_entries(bool pretty, const RenderedKeys& keys, const std::uint8_t* p, std::size_t count, bool object,
                   std::size_t indent, std::string& out) {
    StringSink sink(out);
    auto write = [&](auto&& w) {
        w.write_entries(p, count, object, indent);
        (void)w.finish();  // a string takes everything
    };
    if (pretty) write(Writer<true>(keys, sink));
    else write(Writer<false>(keys, sink));
}

}  // namespace detail

using detail::RenderedKeys;
using detail::Writer;

std::expected<void, std::string> write_pretty(const Value& value, const KeyTable& keys, Sink& sink, bool two_threads) {
    return detail::write_value<true>(value, keys, sink, two_threads);
}

std::expected<void, std::string> write_compact(const Value& value, const KeyTable& keys, Sink& sink,
                                               bool two_threads) {
    return detail::write_value<false>(value, keys, sink, two_threads);
}

struct LineWriter::Impl {
    Impl(Sink& sink) : keys(false), writer(keys, sink) {}
    RenderedKeys keys;
    Writer<false> writer;
};

LineWriter::LineWriter(Sink& sink) : impl_(std::make_unique<Impl>(sink)) {}
LineWriter::~LineWriter() = default;

void LineWriter::write_line(const Value& value, const KeyTable& keys) {
    impl_->keys.extend(keys);
    impl_->writer.write(value);
    impl_->writer.put_line_feed();
}

std::uint64_t LineWriter::produced() const { return impl_->writer.produced(); }

std::expected<void, std::string> LineWriter::finish() { return impl_->writer.finish(); }

}  // namespace tessaly::json
