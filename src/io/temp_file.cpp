#include "io/temp_file.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "io/os_error.hpp"
#include "io/read_file.hpp"

namespace tessaly::io {

namespace {

// Names are guessable only by reading the kernel's random source; should it
// fail, the clock still gives a name that differs from try to try, and the
// exclusive create keeps even a guessed name safe.
std::uint64_t random_word() {
    std::uint64_t w = 0;
    if (::getrandom(&w, sizeof w, 0) == static_cast<ssize_t>(sizeof w)) return w;
    auto t = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (t * 0x9E3779B97F4A7C15ULL) ^ static_cast<std::uint64_t>(::getpid());
}

std::string random_name(std::string_view prefix, std::string_view suffix) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string name(prefix);
    std::uint64_t w = random_word();
    for (int i = 0; i < 12; ++i) {
        name += kDigits[w % 36];
        w /= 36;
    }
    name += suffix;
    return name;
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::string temp_dir() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? std::string(dir) : std::string("/tmp");
}

std::expected<TempFile, std::string> TempFile::create(std::string_view dir, std::string_view prefix,
                                                      std::string_view suffix, std::string_view contents) {
    if (has_nul(dir)) return std::unexpected(std::string(kNulInPathText));
    std::string base(dir);
    if (!base.empty() && base.back() != '/') base += '/';

    // A name already taken (by chance, or planted) is skipped, never opened.
    constexpr int kTries = 64;
    int err = EEXIST;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        std::string path = base + random_name(prefix, suffix);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            err = errno;
            if (err == EEXIST || err == EINTR) continue;
            break;
        }
        TempFile file(std::move(path));  // from here on the file is removed on every path
        bool written = write_all(fd, contents);
        int write_err = errno;
        if (::close(fd) != 0 && written) {
            written = false;
            write_err = errno;
        }
        if (!written) return std::unexpected(os_error_text(write_err));
        return file;
    }
    return std::unexpected(os_error_text(err));
}

TempFile::~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace tessaly::io
