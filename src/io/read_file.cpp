#include "io/read_file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/os_error.hpp"
#include "xml/utf8.hpp"

namespace tessaly::io {

bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

std::expected<std::string, std::string> read_utf8_file(std::string_view path) {
    if (has_nul(path)) return std::unexpected(std::string(kNulInPathText));
    std::string cpath(path);
    int fd = ::open(cpath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::unexpected(os_error_text(errno));

    // Read into a buffer one byte larger than the file, so that end of file
    // is seen without growing it; files of unknown size grow by doubling.
    std::string data;
    struct stat st;
    bool sized = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    data.resize(sized ? static_cast<std::size_t>(st.st_size) + 1 : 65536);
    std::size_t len = 0;
    while (true) {
        if (len == data.size()) data.resize(data.size() * 2);
        ssize_t got = ::read(fd, data.data() + len, data.size() - len);
        if (got < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            return std::unexpected(os_error_text(err));
        }
        if (got == 0) break;
        len += static_cast<std::size_t>(got);
    }
    ::close(fd);
    data.resize(len);
    if (!xml::is_utf8(data)) return std::unexpected(std::string(kInvalidUtf8StreamText));
    return data;
}

}  // namespace tessaly::io
