#pragma once
// What the writer (writer.cpp) and the second thread that writes part of
// a long text (split_writer.cpp) share: the rendered keys, where a text is
// cut, and the calls each makes into the other.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/escape.hpp"
#include "json/writer.hpp"
#include "storage/packed.hpp"

namespace tessaly::json::detail {

using storage::KeyId;
using storage::Kind;

// Every key as it is written before its value, quotes and colon included
// (and a space after the colon in pretty text), rendered once: a document
// has few distinct keys and writes each of them over and over. A stream of
// records renders the keys interned since its last record as it goes.
class RenderedKeys {
public:
    explicit RenderedKeys(bool pretty) : pretty_(pretty) { text_.append(kReadAhead, '\0'); }

    // Renders the keys of `keys` not rendered yet.
    void extend(const KeyTable& keys) {
        if (rendered() == keys.size()) return;
        text_.resize(text_.size() - kReadAhead);
        bounds_.reserve(keys.size() + 1);
        for (KeyId id = static_cast<KeyId>(rendered()); id < keys.size(); ++id) {
            std::string_view k = keys.text(id);
            std::size_t at = text_.size();
            text_.resize(at + escape::kMaxEscape * k.size() + 4);
            char* o = text_.data() + at;
            *o++ = '"';
            o = escape::copy_escaped(o, k.data(), k.data() + k.size());
            *o++ = '"';
            *o++ = ':';
            if (pretty_) *o++ = ' ';
            text_.resize(static_cast<std::size_t>(o - text_.data()));
            bounds_.push_back(text_.size());
        }
        text_.append(kReadAhead, '\0');
    }

    // Every key can be read as kReadAhead bytes from its start.
    static constexpr std::size_t kReadAhead = 32;
    std::string_view operator[](KeyId id) const {
        return {text_.data() + bounds_[id], bounds_[id + 1] - bounds_[id]};
    }

private:
    std::size_t rendered() const { return bounds_.size() - 1; }

    bool pretty_;
    std::string text_;
    std::vector<std::size_t> bounds_{0};  // where each key begins, and then where the last ends
};

// A value's text cut for two threads: the entries of one container with
// many, in segments of about equal count. The even segments are written in
// their place, the odd ones on a second thread and spliced in as they come.
struct Split {
    bool object = false;
    std::size_t indent = 0;  // of the container's entries, in pretty text
    // Where each segment's first entry is packed, then where the last ends;
    // and how many entries each segment has.
    std::vector<const std::uint8_t*> bounds;
    std::vector<std::size_t> counts;
    std::size_t size = 0;  // entries in all
};

// Where the odd segments of a split come from, written elsewhere (on a
// second thread: split_writer.cpp).
class Segments {
public:
    virtual ~Segments() = default;
    // The text of odd segment 2k + 1, once written.
    virtual const std::string& take(std::size_t k) = 0;
    // The text taken last is spliced in: its room may be written again.
    virtual void give_back() = 0;
};

// The text of `count` entries of a container from its packed entry at
// `p`, as they come after an entry already written (their own lines
// indented by `indent` spaces in pretty text), without the container's end,
// appended to `out`.
void write_entries(bool pretty, const RenderedKeys& keys, const std::uint8_t* p, std::size_t count, bool object,
                   std::size_t indent, std::string& out);

// Where to cut `root`'s text for two threads, if anywhere.
std::optional<Split> find_split(const Value& root);

// Starts a second thread writing the odd segments of `split`; null when no
// thread can be had. `split` and `keys` outlive what it returns, which
// stops the thread when dropped.
std::unique_ptr<Segments> write_odd_segments(const Split& split, const RenderedKeys& keys, bool pretty);

}  // namespace tessaly::json::detail
