#pragma once
// How bytes taken from a reader event are kept past the event.
//
// A document held in memory has been checked to be UTF-8 by the caller and
// outlives the conversion, so its bytes are used in place. A file is read
// through a sliding window and is not checked beforehand, so whatever is kept
// is copied into the arena, with each invalid UTF-8 sequence replaced by U+FFFD.

#include <string>
#include <string_view>

#include "storage/arena.hpp"
#include "xml/utf8.hpp"

namespace tessaly::converter {

class InputText {
public:
    InputText(bool in_place, storage::Arena& arena) : in_place_(in_place), arena_(arena) {}

    bool in_place() const { return in_place_; }
    storage::Arena& arena() { return arena_; }

    // `bytes` as UTF-8 text that lives as long as the arena.
    std::string_view keep(std::string_view bytes) {
        if (in_place_) return bytes;
        if (xml::is_utf8(bytes)) return arena_.copy(bytes);
        scratch_.clear();
        xml::append_utf8_lossy(scratch_, bytes);
        return arena_.copy(scratch_);
    }

    // `bytes` as UTF-8 text valid until the next call; never copied when the
    // bytes are already valid.
    std::string_view peek(std::string_view bytes) {
        if (in_place_ || xml::is_utf8(bytes)) return bytes;
        scratch_.clear();
        xml::append_utf8_lossy(scratch_, bytes);
        return scratch_;
    }

private:
    bool in_place_;
    storage::Arena& arena_;
    std::string scratch_;
};

}  // namespace tessaly::converter
