#pragma once
// A byte source that checks, as it reads, whether everything read so far is
// UTF-8. A file read through a window is not checked beforehand, and the
// walker turns invalid bytes into U+FFFD in what it keeps; while the source
// vouches for every byte read, it keeps text without checking each piece
// again. A piece the walker keeps ends at an ASCII delimiter or where the
// reader's bytes end, so within valid text it never splits a sequence, and
// the reader never hands out a piece that runs into a sequence whose end has
// not been read yet (it asks for more bytes first, and this source reads
// them, and judges the sequence, before the reader sees them).

#include <cstddef>
#include <expected>
#include <string>

#include "xml/reader.hpp"

namespace tessaly::converter {

class CheckedSource final : public xml::ByteSource {
public:
    CheckedSource() = default;
    explicit CheckedSource(xml::ByteSource& inner) : inner_(&inner) {}
    void attach(xml::ByteSource& inner) { inner_ = &inner; }

    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) override;

    // No byte read so far is outside a valid sequence, and the source has
    // not ended inside one.
    bool all_valid() const { return valid_; }
    // The same, to be read through the pointer as reading goes on.
    const bool* all_valid_flag() const { return &valid_; }

private:
    void check(const char* p, std::size_t n);

    xml::ByteSource* inner_ = nullptr;
    bool valid_ = true;
    // The start of a sequence cut by the end of the last read, and the
    // length its first byte announces.
    char carry_[4] = {};
    std::size_t carried_ = 0;
    std::size_t expected_ = 0;
};

}  // namespace tessaly::converter
