#pragma once
// The reader's byte source over an open file.

#include <cstddef>
#include <expected>
#include <string>

#include "io/file.hpp"
#include "xml/reader.hpp"

namespace tessaly::io {

class FileSource final : public xml::ByteSource {
public:
    explicit FileSource(File& f) : file_(f) {}
    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) override {
        return file_.read(dst, capacity);
    }

private:
    File& file_;
};

}  // namespace tessaly::io
