// The pull tokenizer. One routine, step(), reads the event that starts at the
// current position from the bytes at hand. Over a document in memory every
// byte is at hand and step() always decides. Over a source, step() may find
// that the event runs past the bytes read so far; it then changes nothing and
// asks for more, and the reader slides the window (keeping the bytes from the
// start of that event), reads, and runs step() again on the same event. So an
// event is only ever decided on complete bytes, and the two modes give the
// same events and the same errors for the same document.

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "xml/char_class.hpp"
#include "xml/reader.hpp"
#include "xml/utf8.hpp"

namespace tessaly::xml {

namespace {

using detail::find_byte;
using detail::find_byte_near;
using detail::find_tag_stop;
using detail::find_terminator;
using detail::find_text_stop;
using detail::is_space;
using detail::kDoctypeStop;
using detail::kRefStop;
using detail::kSpace;
using detail::scan_to;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kCommentOpen = "<!--";
constexpr std::string_view kCDataOpen = "<![CDATA[";
constexpr std::string_view kDocTypeOpen = "<!DOCTYPE";

enum class Step : unsigned char {
    Done,      // an event was read, or the end of input reached
    NeedMore,  // the event runs past the bytes at hand; nothing was changed
    Again,     // room was made for the names of open elements; step again
    Failed,    // the error is set
};

std::string_view trim_trailing_space(std::string_view s) {
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// Names go into messages as UTF-8 whatever their bytes, since the messages
// end up as Python strings.
void append_name(std::string& out, std::string_view name) { append_utf8_lossy(out, name); }

// The names of the open elements, concatenated, and where each begins.
// Copied, because in window mode the bytes of a start tag do not outlive the
// window that held them. The buffer keeps 16 bytes to spare past the names,
// so that a short name is copied with one 16-byte load and store instead of
// a call to memcpy, and compared with one block load. It is zeroed when made,
// so such a load never sees bytes that were never written.
class OpenNames {
public:
    bool empty() const { return depth_ == 0; }
    std::size_t depth() const { return depth_; }
    std::string_view innermost() const {
        return {bytes_.get() + begins_[depth_ - 1], size_ - begins_[depth_ - 1]};
    }
    // Where the innermost name begins; 16 bytes may be loaded from there.
    const char* innermost_block() const { return bytes_.get() + begins_[depth_ - 1]; }
    // Whether a name of `size` bytes can be pushed; if not, make_room() first.
    bool has_room(std::size_t size) const { return capacity_ - size_ >= size + 16; }
    void make_room(std::size_t more) {
        const std::size_t capacity = std::max({capacity_ * 2, size_ + more + 16, std::size_t{256}});
        auto bigger = std::make_unique<char[]>(capacity);
        if (size_ > 0) std::memcpy(bigger.get(), bytes_.get(), size_);
        bytes_ = std::move(bigger);
        capacity_ = capacity;
    }
    // `readable` is how many bytes from name.data() on may be loaded: at
    // least name.size(), and up to the end of the bytes at hand.
    void push(std::string_view name, std::size_t readable) {
        char* dst = bytes_.get() + size_;
        bool copied = false;
#if defined(__SSE2__)
        if (name.size() <= 16 && readable >= 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), detail::load16(name.data()));
            copied = true;
        }
#else
        (void)readable;
#endif
        if (!copied) std::memcpy(dst, name.data(), name.size());
        begins_[depth_++] = size_;
        size_ += name.size();
    }
    void pop() { size_ = begins_[--depth_]; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    // The reader opens no element past kMaxDepth, so the starts fit in place.
    std::size_t depth_ = 0;
    std::array<std::size_t, kMaxDepth> begins_;
};

}  // namespace

struct Reader::Impl {
    // The bytes at hand, [data, stop): the whole document, or the filled part
    // of the window. The next event starts at `cursor`.
    const char* data = nullptr;
    const char* cursor = nullptr;
    const char* stop = nullptr;
    bool eof = true;  // no byte will follow stop[-1]

    // Window mode only.
    ByteSource* source = nullptr;
    std::unique_ptr<char[]> window;
    std::size_t capacity = 0;
    bool read_failed = false;  // the source failed after handing over some bytes
    std::string read_error;

    // Line accounting for the bytes slid out of the window: their number, how
    // many line feeds they held, and the absolute offset at which the line
    // that was current at the cut begins. In memory mode nothing is slid out
    // and the line start is 0, or 3 after a byte-order mark.
    std::uint64_t discarded = 0;
    std::uint64_t discarded_lines = 0;
    std::uint64_t line_start = 0;

    OpenNames open;
    bool outer_end_tags = false;  // see Reader::accept_end_tags_of_outer_elements

    // AtStart: the byte-order mark has not been looked for yet (over a
    // source only: a document in memory is looked at when the reader is
    // made). In AtStart and Failed no bytes are at hand and more are to come
    // (cursor == stop, eof false), and Ended is the end of the bytes, so the
    // step's test for the end of the bytes is the only test of the state.
    enum class State : unsigned char { Running, AtStart, Ended, Failed } state = State::AtStart;
    ReadError error;
    // Where step() puts the event it read: the caller's own, so that the
    // event is written once and never copied.
    Event* out = nullptr;

    [[gnu::always_inline]] inline Step step();
    Step skip_bom();
    // Tags are read out of line: the step itself then needs no register
    // saved, and only the start tag's scan, which needs many, saves them.
    // markup() takes whatever else starts with '<'.
    [[gnu::noinline]] Step markup(const char* p, const char* end);
    [[gnu::noinline]] Step start_tag(const char* p, const char* end);
    [[gnu::noinline]] Step end_tag(const char* p, const char* end);
    // Any end tag but the innermost short name written plainly.
    [[gnu::noinline]] Step end_tag_scanned(const char* p, const char* end);
    // Out of line: rare next to tags and text, and kept out of the loop
    // that reads those.
    [[gnu::noinline]] Step processing_instruction(const char* p, const char* end);
    [[gnu::noinline]] Step bang(const char* p, const char* end);
    [[gnu::noinline]] Step doctype(const char* p, const char* end);
    Step reference(const char* p, const char* end);

    [[gnu::noinline]] bool advance_slowly(Step s);
    bool refill();
    void slide_out(std::size_t count);

    Step emit(EventKind kind, std::string_view name, std::string_view body, const char* after) {
        out->kind = kind;
        out->name = name;
        out->body = body;
        cursor = after;
        return Step::Done;
    }
    // The construct starting at `start` is not complete in the bytes at hand.
    Step incomplete(std::string_view what, const char* start) {
        if (!eof) return Step::NeedMore;
        return fail_unclosed(what, start);
    }
    // Out of line, so that the step calls nothing but in its last act.
    [[gnu::noinline]] Step make_room(std::size_t name_size) {
        open.make_room(name_size);
        return Step::Again;
    }
    // The error paths, all out of line and built only when taken.
    [[gnu::cold, gnu::noinline]] Step fail_unclosed(std::string_view what, const char* start);
    [[gnu::cold, gnu::noinline]] Step fail_end_tag(std::string_view name, const char* at);
    [[gnu::cold, gnu::noinline]] Step fail_too_deep(const char* at);
    [[gnu::cold, gnu::noinline]] Step fail(std::string_view message, const char* at);
    [[gnu::cold, gnu::noinline]] void fail_io(std::string_view reason);
};

// ---- the driving loop --------------------------------------------------

// Reading an event from the bytes at hand costs the step and no more: the
// start, the end, errors and refills are handled out of line, in a loop of
// their own.
bool Reader::advance(Event& out) {
    Impl& r = *impl_;
    r.out = &out;
    const Step s = r.step();
    if (s == Step::Done) [[likely]] return true;
    if (s == Step::Failed) return false;
    return r.advance_slowly(s);
}

const ReadError& Reader::error() const { return impl_->error; }

// After a step that asked for `s`: more bytes, or room for a name.
bool Reader::Impl::advance_slowly(Step s) {
    if (state == State::Failed) return false;
    if (state == State::AtStart) {
        while (skip_bom() == Step::NeedMore) {
            if (!refill()) return false;
        }
        s = step();
    }
    while (true) {
        if (s == Step::Done) return true;
        if (s == Step::Failed) return false;
        if (s == Step::NeedMore && !refill()) return false;
        s = step();
    }
}

std::uint64_t Reader::position() const {
    return impl_->discarded + static_cast<std::uint64_t>(impl_->cursor - impl_->data);
}

void Reader::accept_end_tags_of_outer_elements() { impl_->outer_end_tags = true; }

// Keeps the bytes from `cursor` on, moved to the front, and fills the rest of
// the window; a window that is full from `cursor` on is doubled first. Reading
// goes on until the window is full or the source ends, so that an event is
// looked at again only once per window, however small the source's chunks.
bool Reader::Impl::refill() {
    if (read_failed) {
        fail_io(read_error);
        return false;
    }
    char* buf = window.get();
    if (cursor != buf) {
        slide_out(static_cast<std::size_t>(cursor - buf));
        const std::size_t rest = static_cast<std::size_t>(stop - cursor);
        std::memmove(buf, cursor, rest);
        cursor = buf;
        stop = buf + rest;
    }
    std::size_t size = static_cast<std::size_t>(stop - buf);
    if (size == capacity) {
        if (capacity > SIZE_MAX / 2) {
            fail_io("one event is too large to hold in memory");
            return false;
        }
        auto bigger = std::make_unique_for_overwrite<char[]>(capacity * 2);
        std::memcpy(bigger.get(), buf, size);
        window = std::move(bigger);
        buf = window.get();
        capacity *= 2;
        data = cursor = buf;
        stop = buf + size;
    }
    bool got_some = false;
    while (size < capacity) {
        auto got = source->read(buf + size, capacity - size);
        if (!got) {
            if (!got_some) {
                fail_io(got.error());
                return false;
            }
            // Hand out what did arrive first; the failure is reported when
            // the reader needs bytes again.
            read_failed = true;
            read_error = std::move(got.error());
            break;
        }
        if (*got == 0) {
            eof = true;
            break;
        }
        if (*got > capacity - size) {
            fail_io("the source returned more bytes than it was asked for");
            return false;
        }
        size += *got;
        stop = buf + size;
        got_some = true;
    }
    return true;
}

void Reader::Impl::slide_out(std::size_t count) {
    const char* buf = window.get();
    const std::size_t lines = detail::count_line_feeds(buf, buf + count);
    if (lines > 0) {
        std::size_t last = count - 1;
        while (buf[last] != '\n') --last;
        discarded_lines += lines;
        line_start = discarded + last + 1;
    }
    discarded += count;
}

Step Reader::Impl::fail_unclosed(std::string_view what, const char* start) {
    std::string message(what);
    message += " starting";
    return fail(message, start);
}

// An end tag that closes no open element, or not the innermost one.
Step Reader::Impl::fail_end_tag(std::string_view name, const char* at) {
    std::string message;
    if (open.empty()) {
        message = "end tag </";
        append_name(message, name);
        message += "> with no open element";
    } else {
        message = "mismatched end tag: expected </";
        append_name(message, open.innermost());
        message += ">, found </";
        append_name(message, name);
        message += ">";
    }
    return fail(message, at);
}

Step Reader::Impl::fail_too_deep(const char* at) {
    return fail("elements nested deeper than " + std::to_string(kMaxDepth) + " levels", at);
}

Step Reader::Impl::fail(std::string_view what, const char* at) {
    const std::size_t offset = static_cast<std::size_t>(at - data);
    const std::uint64_t lines = detail::count_line_feeds(data, at);
    std::uint64_t start = line_start;
    if (lines > 0) {
        std::size_t last = offset - 1;
        while (data[last] != '\n') --last;
        start = discarded + last + 1;
    }
    error = ReadError{.kind = ReadError::Kind::Syntax,
                      .what = std::string(what),
                      .line = discarded_lines + lines + 1,
                      .column = discarded + offset - start + 1,
                      .offset = discarded + offset};
    state = State::Failed;
    stop = cursor;
    eof = false;
    return Step::Failed;
}

void Reader::Impl::fail_io(std::string_view reason) {
    error = ReadError{.kind = ReadError::Kind::Input, .what = std::string(reason)};
    state = State::Failed;
    stop = cursor;
    eof = false;
}

// ---- one event ---------------------------------------------------------

// Done once the byte-order mark, if any, is stepped over.
Step Reader::Impl::skip_bom() {
    const std::string_view rest(cursor, static_cast<std::size_t>(stop - cursor));
    if (rest.size() < kBom.size() && !eof) return Step::NeedMore;
    state = State::Running;
    if (rest.starts_with(kBom)) {
        cursor += kBom.size();
        line_start = discarded + static_cast<std::uint64_t>(cursor - data);
    }
    return Step::Done;
}

Step Reader::Impl::step() {
    if (cursor == stop) {
        if (!eof) return Step::NeedMore;
        *out = Event{EventKind::EndOfInput, {}, {}};
        state = State::Ended;
        return Step::Done;
    }
    const char* p = cursor;
    const char* end = stop;
    if (*p == '<') {
        // The byte after '<' tells the kind. A tag's name starts with a
        // letter, '_', ':' or a byte of a multibyte character: all but ':'
        // are above '?', and '/', '?' and '!' are not.
        if (end - p >= 2) {
            const unsigned char next = static_cast<unsigned char>(p[1]);
            if (next > '?') return start_tag(p, end);
            if (next == '/') return end_tag(p, end);
        }
        return markup(p, end);
    }
    if (*p == '&') return reference(p, end);
    // Character data runs to the next '<' or '&', and is one event however
    // long it is, so it never ends inside a UTF-8 sequence or a CR LF pair.
    const char* text_end = find_text_stop(p + 1, end);
    if (text_end == end && !eof) return Step::NeedMore;
    return emit(EventKind::Text, {}, std::string_view(p, static_cast<std::size_t>(text_end - p)), text_end);
}

Step Reader::Impl::markup(const char* p, const char* end) {
    if (end - p < 2) return incomplete("unclosed start tag", p);
    switch (p[1]) {
        case '?':
            return processing_instruction(p, end);
        case '!':
            return bang(p, end);
        default:
            return start_tag(p, end);
    }
}

#if defined(__SSE2__)
namespace {

// Bit i set when an odd number of bits 0 to i of m are: with m the quotes of
// a block, the bytes from an opening quote up to its closing one.
inline unsigned prefix_xor16(unsigned m) {
    m ^= m << 1;
    m ^= m << 2;
    m ^= m << 4;
    m ^= m << 8;
    return m & 0xFFFF;
}

}  // namespace
#endif

Step Reader::Impl::start_tag(const char* p, const char* end) {
    // The tag ends at the first '>' outside a quoted attribute value.
    const char* q = p + 1;
    char quote = 0;  // the quote of the value q is inside, if any
    const char* name_end = nullptr;
    const char* name_from = q;  // where white space may yet end the name
#if defined(__SSE2__)
    // Sixteen bytes at a time, as far as they are at hand: each block's '>'
    // and quotes as bit masks, the quotes paired within the mask (with only
    // double quotes, by a prefix XOR; with single ones too, one by one), and
    // the name's end from the first block's white space. Only what is left
    // past the last whole block is scanned as below.
    bool found = false;
    if (end - q >= 16) {
        const unsigned spaces = detail::mask_of_space(detail::load16(q));
        if (spaces != 0) name_end = q + __builtin_ctz(spaces);
        name_from = q + 16;
    }
    for (; end - q >= 16; q += 16) {
        const __m128i v = detail::load16(q);
        const unsigned gts = detail::mask_of(v, '>');
        const unsigned dqs = detail::mask_of(v, '"');
        const unsigned sqs = detail::mask_of(v, '\'');
        if (sqs == 0 && quote != '\'') {
            if (gts == 0) {  // only whether a value is open at the block's end matters
                if (__builtin_parity(dqs)) quote = quote != 0 ? 0 : '"';
                continue;
            }
            // Most blocks of most tags hold no quote at all.
            const unsigned inside =
                dqs == 0 ? (quote != 0 ? 0xFFFFu : 0u) : prefix_xor16(dqs) ^ (quote != 0 ? 0xFFFFu : 0u);
            const unsigned stops = gts & ~inside;
            if (stops != 0) {
                q += __builtin_ctz(stops);
                found = true;
                break;
            }
            quote = (inside & 0x8000u) != 0 ? '"' : 0;
            continue;
        }
        unsigned live = 0xFFFF;  // the bits not yet passed
        while (true) {
            if (quote != 0) {
                const unsigned closes = (quote == '"' ? dqs : sqs) & live;
                if (closes == 0) break;
                live &= ~(closes ^ (closes - 1));
                quote = 0;
            }
            const unsigned stops = (gts | dqs | sqs) & live;
            if (stops == 0) break;
            const unsigned low = stops & (0u - stops);
            if ((low & gts) != 0) {
                q += __builtin_ctz(low);
                found = true;
                break;
            }
            quote = (low & dqs) != 0 ? '"' : '\'';
            live &= ~(low | (low - 1));
        }
        if (found) break;
    }
    if (!found)
#endif
    {
        if (quote != 0) {
            const char* close = find_byte_near(q, end, quote);
            if (close == end) return incomplete("unclosed start tag", p);
            q = close + 1;
        }
        while (true) {
            q = find_tag_stop(q, end);
            if (q == end) return incomplete("unclosed start tag", p);
            if (*q == '>') break;
            const char* close = find_byte_near(q + 1, end, *q);
            if (close == end) return incomplete("unclosed start tag", p);
            q = close + 1;
        }
    }
    const char* const body = p + 1;
    const char* content_end = q;
    EventKind kind = EventKind::StartTag;
    if (content_end > body && content_end[-1] == '/') {
        kind = EventKind::EmptyTag;
        --content_end;
    }
    // The name runs to the first white space of the content. A space seen in
    // the first block is that one, unless the content ends before it; with
    // none seen there, the first block (or the whole tag) is looked at again.
    if (name_end != nullptr) {
        name_end = std::min(name_end, content_end);
    } else {
        name_end = detail::find_space(std::min(name_from, content_end), content_end, end);
    }
    const std::size_t name_len = static_cast<std::size_t>(name_end - body);
    if (name_len == 0) return fail("start tag without a name", p);
    const std::string_view name(body, name_len);
    if (open.depth() >= kMaxDepth) [[unlikely]] return fail_too_deep(p);
    if (kind == EventKind::StartTag) {
        if (!open.has_room(name_len)) [[unlikely]] return make_room(name_len);
        open.push(name, static_cast<std::size_t>(end - name.data()));
    }
    return emit(kind, name, std::string_view(name_end, static_cast<std::size_t>(content_end - name_end)), q + 1);
}

Step Reader::Impl::end_tag(const char* p, const char* end) {
#if defined(__SSE2__)
    // Nearly every end tag is </name> for the innermost open name, and
    // a short one: then one block of the input against one block of the
    // name shows it, without waiting for the '>' to be found first. It is
    // taken only when the first '>' is right after bytes equal to the whole
    // name, which is exactly when the scan below would find the same.
    if (!open.empty() && end - (p + 2) >= 16) {
        const std::string_view expected = open.innermost();
        const std::size_t n = expected.size();
        if (n < 16) {
            const __m128i v = detail::load16(p + 2);
            const unsigned same = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(v, detail::load16(open.innermost_block()))));
            const unsigned gts = detail::mask_of(v, '>');
            const unsigned name_bits = (1u << n) - 1;
            if ((same & name_bits) == name_bits && (gts & (name_bits | (1u << n))) == (1u << n)) {
                open.pop();
                return emit(EventKind::EndTag, std::string_view(p + 2, n), {}, p + 3 + n);
            }
        }
    }
#endif
    return end_tag_scanned(p, end);
}

Step Reader::Impl::end_tag_scanned(const char* p, const char* end) {
    const char* gt = find_byte_near(p + 2, end, '>');
    if (gt == end) return incomplete("unclosed end tag", p);
    const std::string_view name = trim_trailing_space(std::string_view(p + 2, static_cast<std::size_t>(gt - (p + 2))));
    if (name.empty()) return fail("end tag without a name", p);
    if (open.empty()) {
        if (outer_end_tags) return emit(EventKind::EndTag, name, {}, gt + 1);
        return fail_end_tag(name, p);
    }
    const std::string_view expected = open.innermost();
    if (name.size() != expected.size() || !detail::equal_bytes(name.data(), expected.data(), name.size())) {
        return fail_end_tag(name, p);
    }
    open.pop();
    return emit(EventKind::EndTag, name, {}, gt + 1);
}

Step Reader::Impl::processing_instruction(const char* p, const char* end) {
    const char* content = p + 2;
    const char* gt = find_terminator(content, end, "?", 1);
    if (gt == end) {
        if (!eof) return Step::NeedMore;
        const char* target_end = content;
        while (target_end < end && !is_space(*target_end) && *target_end != '?') ++target_end;
        const bool is_decl = std::string_view(content, static_cast<std::size_t>(target_end - content)) == "xml";
        return incomplete(is_decl ? "unclosed XML declaration" : "unclosed processing instruction", p);
    }
    const std::string_view body(content, static_cast<std::size_t>(gt - 1 - content));
    const char* target_end = scan_to<kSpace>(body.data(), body.data() + body.size());
    const bool is_decl = body.substr(0, static_cast<std::size_t>(target_end - body.data())) == "xml";
    return emit(is_decl ? EventKind::Declaration : EventKind::ProcessingInstruction, {}, body, gt + 1);
}

Step Reader::Impl::bang(const char* p, const char* end) {
    const std::string_view have(p, static_cast<std::size_t>(end - p));
    bool partial = false;
    auto opens = [&](std::string_view opener, bool ignore_case) {
        const std::size_t n = std::min(have.size(), opener.size());
        const bool same = ignore_case ? equal_ignoring_ascii_case(have.substr(0, n), opener.substr(0, n))
                                      : have.substr(0, n) == opener.substr(0, n);
        if (same && n < opener.size()) partial = true;
        return same && n == opener.size();
    };
    if (opens(kCommentOpen, false)) {
        const char* content = p + kCommentOpen.size();
        const char* gt = find_terminator(content, end, "--", 2);
        if (gt == end) return incomplete("unclosed comment", p);
        return emit(EventKind::Comment, {}, std::string_view(content, static_cast<std::size_t>(gt - 2 - content)), gt + 1);
    }
    if (opens(kCDataOpen, false)) {
        const char* content = p + kCDataOpen.size();
        const char* gt = find_terminator(content, end, "]]", 2);
        if (gt == end) return incomplete("unclosed CDATA section", p);
        return emit(EventKind::CData, {}, std::string_view(content, static_cast<std::size_t>(gt - 2 - content)), gt + 1);
    }
    if (opens(kDocTypeOpen, true)) return doctype(p, end);
    // Too few bytes to tell which construct this is.
    if (partial) return incomplete("unclosed '<!' markup", p);
    return fail("unknown '<!' markup", p);
}

// The DOCTYPE ends at the first '>' that is outside quoted literals and
// outside the internal subset in [...]. Inside the subset, comments and
// processing instructions are stepped over whole, so a '>', a quote or a
// bracket in them does not count.
Step Reader::Impl::doctype(const char* p, const char* end) {
    const char* content = p + kDocTypeOpen.size();
    const char* q = content;
    std::size_t depth = 0;  // open '[' brackets
    while (true) {
        q = scan_to<kDoctypeStop>(q, end);
        if (q == end) return incomplete("unclosed DOCTYPE", p);
        switch (*q) {
            case '"':
            case '\'': {
                const char* close = find_byte(q + 1, end, *q);
                if (close == end) return incomplete("unclosed DOCTYPE", p);
                q = close + 1;
                break;
            }
            case '[':
                ++depth;
                ++q;
                break;
            case ']':
                if (depth > 0) --depth;
                ++q;
                break;
            case '>':
                if (depth == 0) {
                    return emit(EventKind::DocType, {},
                                std::string_view(content, static_cast<std::size_t>(q - content)), q + 1);
                }
                ++q;
                break;
            default: {  // '<'
                if (depth == 0) {
                    ++q;
                    break;
                }
                // A '<' too near the end to tell what it opens needs no
                // care: stepping over it, the scan runs out of bytes and the
                // whole DOCTYPE is read again once more have come.
                const std::string_view rest(q, static_cast<std::size_t>(end - q));
                if (rest.starts_with(kCommentOpen)) {
                    const char* gt = find_terminator(q + kCommentOpen.size(), end, "--", 2);
                    if (gt == end) return incomplete("unclosed DOCTYPE", p);
                    q = gt + 1;
                } else if (rest.starts_with("<?")) {
                    const char* gt = find_terminator(q + 2, end, "?", 1);
                    if (gt == end) return incomplete("unclosed DOCTYPE", p);
                    q = gt + 1;
                } else {
                    ++q;
                }
                break;
            }
        }
    }
}

Step Reader::Impl::reference(const char* p, const char* end) {
    const char* q = scan_to<kRefStop>(p + 1, end);
    if (q == end && !eof) return Step::NeedMore;
    if (q == end || *q != ';') return fail("'&' without a terminating ';'", p);
    return emit(EventKind::GeneralRef, std::string_view(p + 1, static_cast<std::size_t>(q - (p + 1))), {}, q + 1);
}

// ---- the public face ---------------------------------------------------

Reader::Reader(std::string_view document) : impl_(std::make_unique<Impl>()) {
    impl_->data = impl_->cursor = document.data();
    impl_->stop = document.data() + document.size();
    impl_->skip_bom();
}

Reader::Reader(ByteSource& source, std::size_t window_size) : impl_(std::make_unique<Impl>()) {
    Impl& r = *impl_;
    r.source = &source;
    r.capacity = std::max<std::size_t>(window_size, 1);
    r.window = std::make_unique_for_overwrite<char[]>(r.capacity);
    r.data = r.cursor = r.stop = r.window.get();
    r.eof = false;
}

Reader::~Reader() = default;

}  // namespace tessaly::xml
