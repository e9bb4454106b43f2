#include "io/temp_file.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <sys/random.h>
#include <unistd.h>

#include "io/file.hpp"
#include "messages.hpp"

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

}  // namespace

std::string temp_dir() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? std::string(dir) : std::string("/tmp");
}

std::expected<TempFile, std::string> TempFile::create(std::string_view dir, std::string_view prefix,
                                                      std::string_view suffix, std::string_view contents) {
    std::string base(dir);
    if (!base.empty() && base.back() != '/') base += '/';

    // A name already taken (by chance, or planted) is skipped, never opened.
    constexpr int kTries = 64;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        std::string path = base + random_name(prefix, suffix);
        auto file = File::create_exclusive(path);
        if (!file) return std::unexpected(std::move(file.error()));
        if (!*file) continue;
        TempFile temp(std::move(path));  // from here on the file is removed on every path
        auto written = (*file)->write_all(contents);
        auto closed = (*file)->close();
        if (!written) return std::unexpected(std::move(written.error()));
        if (!closed) return std::unexpected(std::move(closed.error()));
        return temp;
    }
    return std::unexpected(messages::os_error(EEXIST));
}

TempFile::~TempFile() {
    if (!path_.empty()) remove_file(path_);
}

}  // namespace tessaly::io
