#pragma once
// How bytes taken from a reader event are kept past the event.
//
// A document held in memory has been checked to be UTF-8 by the caller and
// outlives the conversion, so its bytes are used in place. A file is read
// through a sliding window and is not checked beforehand, so whatever is kept
// is copied into the arena, with each invalid UTF-8 sequence replaced by U+FFFD;
// while the window's source vouches for every byte read so far, no piece is
// checked on its own.

#include <string>
#include <string_view>

#include "converter/checked_source.hpp"
#include "storage/arena.hpp"
#include "xml/utf8.hpp"

namespace tessaly::converter {

class InputText {
public:
    // `window`: the checking source of a reader over a window; null for a
    // document in memory.
    InputText(const CheckedSource* window, storage::Arena& arena)
        : in_place_(window == nullptr), window_(window), arena_(arena) {}

    bool in_place() const { return in_place_; }
    storage::Arena& arena() { return arena_; }

    // `bytes` as UTF-8 text that lives as long as the arena.
    std::string_view keep(std::string_view bytes) {
        if (in_place_) return bytes;
        if (window_->all_valid() || xml::is_utf8(bytes)) return arena_.copy(bytes);
        scratch_.clear();
        xml::append_utf8_lossy(scratch_, bytes);
        return arena_.copy(scratch_);
    }

    // `bytes` as UTF-8 text valid until the next call; never copied when the
    // bytes are already valid.
    std::string_view peek(std::string_view bytes) {
        if (in_place_ || window_->all_valid() || xml::is_utf8(bytes)) return bytes;
        scratch_.clear();
        xml::append_utf8_lossy(scratch_, bytes);
        return scratch_;
    }

private:
    bool in_place_;
    const CheckedSource* window_;
    storage::Arena& arena_;
    std::string scratch_;
};

}  // namespace tessaly::converter
