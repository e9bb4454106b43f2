#pragma once
// How bytes taken from a reader event are kept past the event.
//
// A document held in memory has been checked to be UTF-8 by the caller and
// outlives the conversion, so its bytes are used in place. A file is read
// through a sliding window and is not checked beforehand, so whatever is kept
// is copied into the arena, with each invalid UTF-8 sequence replaced by U+FFFD;
// while the window's source vouches for every byte read so far (through a
// flag that the source, or a reader reading ahead of the walk, keeps), no
// piece is checked on its own.

#include <string>
#include <string_view>

#include "storage/arena.hpp"
#include "xml/utf8.hpp"

namespace tessaly::converter {

class InputText {
public:
    // `window_valid`: over a window, whether every byte read so far is
    // valid UTF-8, as the checking source says; null for a document in memory.
    InputText(const bool* window_valid, storage::Arena& arena)
        : in_place_(window_valid == nullptr), window_valid_(window_valid), arena_(arena) {}

    bool in_place() const { return in_place_; }
    storage::Arena& arena() { return arena_; }

    // `bytes` as UTF-8 text that lives as long as the arena.
    std::string_view keep(std::string_view bytes) {
        if (in_place_) return bytes;
        if (*window_valid_ || xml::is_utf8(bytes)) return arena_.copy(bytes);
        scratch_.clear();
        xml::append_utf8_lossy(scratch_, bytes);
        return arena_.copy(scratch_);
    }

    // `bytes` as UTF-8 text valid until the next call; never copied when the
    // bytes are already valid.
    std::string_view peek(std::string_view bytes) {
        if (in_place_ || *window_valid_ || xml::is_utf8(bytes)) return bytes;
        scratch_.clear();
        xml::append_utf8_lossy(scratch_, bytes);
        return scratch_;
    }

private:
    bool in_place_;
    const bool* window_valid_;
    storage::Arena& arena_;
    std::string scratch_;
};

}  // namespace tessaly::converter
