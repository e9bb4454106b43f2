#include "io/file.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "messages.hpp"

namespace tessaly::io {

namespace {

// A call that a signal may interrupt before it has done anything, made again
// until it has.
template <class Call>
auto retrying(Call call) {
    auto r = call();
    while (r < 0 && errno == EINTR) r = call();
    return r;
}

std::unexpected<std::string> os_failure(int errnum) { return std::unexpected(messages::os_error(errnum)); }

// Opens `path`; on failure, its errno, so callers can tell the reasons apart.
std::expected<int, int> open_fd(const std::string& path, int flags, mode_t mode) {
    const int fd = retrying([&] { return ::open(path.c_str(), flags | O_CLOEXEC, mode); });
    if (fd < 0) return std::unexpected(errno);
    return fd;
}

bool is_regular(int fd, struct stat& st) {
    return retrying([&] { return ::fstat(fd, &st); }) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

std::expected<File, std::string> File::open_for_reading(std::string_view path) {
    if (has_nul(path)) return std::unexpected(std::string(messages::kNulInPath));
    auto fd = open_fd(std::string(path), O_RDONLY, 0);
    if (!fd) return os_failure(fd.error());
    return File(*fd);
}

std::expected<File, std::string> File::open_for_writing(std::string_view path) {
    if (has_nul(path)) return std::unexpected(std::string(messages::kNulInPath));
    auto fd = open_fd(std::string(path), O_WRONLY | O_CREAT, 0666);
    if (!fd) return os_failure(fd.error());
    return File(*fd);
}

std::expected<std::optional<File>, std::string> File::create_exclusive(std::string_view path) {
    if (has_nul(path)) return std::unexpected(std::string(messages::kNulInPath));
    auto fd = open_fd(std::string(path), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (!fd) {
        if (fd.error() == EEXIST) return std::nullopt;
        return os_failure(fd.error());
    }
    return File(*fd);
}

std::expected<std::optional<File>, std::string> File::open_regular(std::string_view path) {
    if (has_nul(path)) return std::nullopt;
    const std::string cpath(path);
    auto fd = open_fd(cpath, O_RDONLY | O_NONBLOCK, 0);
    struct stat st;
    if (!fd) {
        // Only a regular file that is there but cannot be opened is an error.
        if (::stat(cpath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        return os_failure(fd.error());
    }
    File file(*fd);
    if (!is_regular(file.fd_, st)) return std::nullopt;
    return file;
}

std::expected<std::size_t, std::string> File::read(char* dst, std::size_t capacity) {
    const ssize_t n = retrying([&] { return ::read(fd_, dst, capacity); });
    if (n < 0) return os_failure(errno);
    return static_cast<std::size_t>(n);
}

std::expected<void, std::string> File::write_all(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = retrying([&] { return ::write(fd_, bytes.data(), bytes.size()); });
        if (n < 0) return os_failure(errno);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

std::optional<std::uint64_t> File::regular_size() const {
    struct stat st;
    if (!is_regular(fd_, st)) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

namespace {

// The umask, read without changing it (umask() itself can only be read by
// setting it, which would race with other threads creating files).
mode_t current_umask() {
    mode_t mask = 022;
    if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned m;
            if (std::sscanf(line, "Umask: %o", &m) == 1) {
                mask = static_cast<mode_t>(m);
                break;
            }
        }
        std::fclose(f);
    }
    return mask;
}

}  // namespace

void File::take_permissions_of(std::string_view path) {
    struct stat st;
    const std::string p(path);
    mode_t mode = ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~current_umask());
    (void)retrying([&] { return ::fchmod(fd_, mode); });
}

std::expected<void, std::string> File::seek(std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return os_failure(EINVAL);
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return os_failure(errno);
    return {};
}

std::expected<void, std::string> File::empty_if_regular() {
    struct stat st;
    if (!is_regular(fd_, st) || st.st_size == 0) return {};
    if (retrying([&] { return ::ftruncate(fd_, 0); }) != 0) return os_failure(errno);
    return {};
}

// Never retried: Linux releases the descriptor even when close is
// interrupted, and a second close could hit a descriptor another thread has
// opened since. An interruption therefore counts as closed.
std::expected<void, std::string> File::close() {
    if (fd_ < 0) return {};
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) return os_failure(errno);
    return {};
}

void File::close_quietly() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void remove_file(const std::string& path) { ::unlink(path.c_str()); }

bool names_special_file(std::string_view path) {
    if (has_nul(path)) return false;
    struct stat st;
    const std::string p(path);
    return ::stat(p.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::expected<void, std::string> rename_file(const std::string& from, const std::string& to) {
    if (has_nul(to)) return std::unexpected(std::string(messages::kNulInPath));
    if (::rename(from.c_str(), to.c_str()) != 0) return os_failure(errno);
    return {};
}

}  // namespace tessaly::io
