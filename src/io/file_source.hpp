#pragma once
// Files opened by descriptor, closed on every path, with the error texts
// users see.

#include <expected>
#include <string>
#include <string_view>

#include "xml/reader.hpp"

namespace tessaly::io {

// An owned file descriptor.
class File {
public:
    File() = default;
    explicit File(int fd) : fd_(fd) {}
    ~File() { close(); }
    File(File&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    File& operator=(File&& o) noexcept {
        if (this != &o) {
            close();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    int fd() const { return fd_; }
    void close();

private:
    int fd_ = -1;
};

// Opens `path` for reading. On failure, the I/O error text.
std::expected<File, std::string> open_for_reading(std::string_view path);
// Opens `path` for writing, creating it (mode 0666 before the umask) but not
// truncating it. On failure, the I/O error text.
std::expected<File, std::string> open_for_writing(std::string_view path);

// Writes all of `bytes`. On failure, the I/O error text.
std::expected<void, std::string> write_all(const File& f, std::string_view bytes);

// A reader's byte source over a file.
class FileSource final : public xml::ByteSource {
public:
    explicit FileSource(const File& f) : file_(f) {}
    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) override;

private:
    const File& file_;
};

}  // namespace tessaly::io
