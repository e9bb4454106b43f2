#include "io/read_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/os_error.hpp"
#include "xml/utf8.hpp"

namespace tessaly::io {

bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

std::expected<std::string, std::string> read_utf8_file(std::string_view path) {
    auto file = open_for_reading(path);
    if (!file) return std::unexpected(std::move(file.error()));
    return read_utf8(*file, SIZE_MAX, {});
}

std::expected<std::string, std::string> read_utf8(const File& file, std::size_t max_bytes,
                                                  std::string_view too_large) {
    // Read into a buffer one byte larger than the file, so that end of file
    // is seen without growing it; files of unknown size grow by doubling.
    // One byte past the limit is asked for, to tell a file of exactly the
    // limit from a longer one.
    const std::size_t cap = max_bytes == SIZE_MAX ? SIZE_MAX : max_bytes + 1;
    std::string data;
    struct stat st;
    bool sized = ::fstat(file.fd(), &st) == 0 && S_ISREG(st.st_mode);
    if (sized && static_cast<std::uint64_t>(st.st_size) > max_bytes) return std::unexpected(std::string(too_large));
    data.resize(std::min(cap, sized ? static_cast<std::size_t>(st.st_size) + 1 : std::size_t{65536}));
    std::size_t len = 0;
    while (true) {
        if (len == data.size()) {
            if (len >= cap) return std::unexpected(std::string(too_large));
            data.resize(std::min(cap, data.size() * 2));
        }
        ssize_t got = ::read(file.fd(), data.data() + len, data.size() - len);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(os_error_text(errno));
        }
        if (got == 0) break;
        len += static_cast<std::size_t>(got);
    }
    if (len > max_bytes) return std::unexpected(std::string(too_large));
    data.resize(len);
    if (!xml::is_utf8(data)) return std::unexpected(std::string(kInvalidUtf8StreamText));
    return data;
}

std::expected<std::optional<File>, std::string> open_regular_file(std::string_view path) {
    if (has_nul(path)) return std::optional<File>();
    std::string cpath(path);
    int fd;
    do {
        fd = ::open(cpath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // Only a regular file that is there but cannot be opened is an error.
        const int err = errno;
        struct stat st;
        if (::stat(cpath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::optional<File>();
        return std::unexpected(os_error_text(err));
    }
    File file(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::optional<File>();
    return std::optional<File>(std::move(file));
}

}  // namespace tessaly::io
