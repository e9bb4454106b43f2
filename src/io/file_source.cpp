#include "io/file_source.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "io/os_error.hpp"
#include "io/read_file.hpp"

namespace tessaly::io {

void File::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

namespace {

std::expected<File, std::string> open_with(std::string_view path, int flags, mode_t mode) {
    if (has_nul(path)) return std::unexpected(std::string(kNulInPathText));
    std::string cpath(path);
    int fd;
    do {
        fd = ::open(cpath.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::unexpected(os_error_text(errno));
    return File(fd);
}

}  // namespace

std::expected<File, std::string> open_for_reading(std::string_view path) { return open_with(path, O_RDONLY, 0); }

std::expected<File, std::string> open_for_writing(std::string_view path) {
    return open_with(path, O_WRONLY | O_CREAT, 0666);
}

std::expected<void, std::string> write_all(const File& f, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(f.fd(), p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(os_error_text(errno));
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return {};
}

std::expected<std::size_t, std::string> FileSource::read(char* dst, std::size_t capacity) {
    while (true) {
        ssize_t n = ::read(file_.fd(), dst, capacity);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return std::unexpected(os_error_text(errno));
    }
}

}  // namespace tessaly::io
