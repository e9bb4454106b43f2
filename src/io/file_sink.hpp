#pragma once
// The JSON text into an open file, through a buffer of the sink's own that
// the writer fills in place. Texts larger than the buffer go out in
// buffer-sized pieces.

#include <cstddef>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "io/file.hpp"
#include "json/writer.hpp"

namespace tessaly::io {

// Output goes to the system in pieces of this size: few calls, and a
// bounded amount of memory whatever the size of the text.
inline constexpr std::size_t kOutputBufferBytes = 8 * 1024 * 1024;

class FileSink final : public json::Sink {
public:
    explicit FileSink(File& file, std::size_t buffer_size = kOutputBufferBytes)
        : file_(file), buf_(std::make_unique_for_overwrite<char[]>(buffer_size)), size_(buffer_size) {}

    std::expected<void, std::string> write(std::string_view bytes) override;
    std::expected<char*, std::string> lend(std::size_t n) override;
    void commit(std::size_t n) override { len_ += n; }

    // Writes out what the buffer holds.
    std::expected<void, std::string> flush();

private:
    File& file_;
    std::unique_ptr<char[]> buf_;
    std::size_t size_;
    std::size_t len_ = 0;
};

}  // namespace tessaly::io
