#include "io/temp_file.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <utility>
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

namespace {

// A new file under a fresh random name in `dir`, created exclusively: a name
// already taken (by chance, or planted) is skipped, never opened.
std::expected<std::pair<File, std::string>, std::string> create_unique(std::string_view dir, std::string_view prefix,
                                                                      std::string_view suffix) {
    std::string base(dir);
    if (!base.empty() && base.back() != '/') base += '/';
    constexpr int kTries = 64;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        std::string path = base + random_name(prefix, suffix);
        auto file = File::create_exclusive(path);
        if (!file) return std::unexpected(std::move(file.error()));
        if (*file) return std::pair{std::move(**file), std::move(path)};
    }
    return std::unexpected(messages::os_error(EEXIST));
}

}  // namespace

std::expected<TempFile, std::string> TempFile::create(std::string_view dir, std::string_view prefix,
                                                      std::string_view suffix, std::string_view contents) {
    auto made = create_unique(dir, prefix, suffix);
    if (!made) return std::unexpected(std::move(made.error()));
    TempFile temp(std::move(made->second));  // from here on the file is removed on every path
    auto written = made->first.write_all(contents);
    auto closed = made->first.close();
    if (!written) return std::unexpected(std::move(written.error()));
    if (!closed) return std::unexpected(std::move(closed.error()));
    return temp;
}

TempFile::~TempFile() {
    if (!path_.empty()) remove_file(path_);
}

}  // namespace tessaly::io

namespace tessaly::io {

PendingFile::PendingFile(std::unique_ptr<File> file, std::string path, std::string final_path)
    : file_(std::move(file)), path_(std::move(path)), final_path_(std::move(final_path)) {}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : file_(std::move(other.file_)), path_(std::move(other.path_)), final_path_(std::move(other.final_path_)) {
    other.path_.clear();
}

std::expected<PendingFile, std::string> PendingFile::create(std::string_view final_path) {
    if (has_nul(final_path)) return std::unexpected(std::string(messages::kNulInPath));
    if (names_special_file(final_path)) {
        auto direct = File::open_for_writing(final_path);
        if (!direct) return std::unexpected(std::move(direct.error()));
        return PendingFile(std::make_unique<File>(std::move(*direct)), std::string(), std::string());
    }
    const std::size_t slash = final_path.rfind('/');
    std::string_view dir = slash == std::string_view::npos ? std::string_view(".") : final_path.substr(0, slash + 1);
    std::string_view name = slash == std::string_view::npos ? final_path : final_path.substr(slash + 1);
    std::string prefix = "." + std::string(name) + ".";
    auto made = create_unique(dir, prefix, ".part");
    if (!made) return std::unexpected(std::move(made.error()));
    made->first.take_permissions_of(final_path);
    return PendingFile(std::make_unique<File>(std::move(made->first)), std::move(made->second), std::string(final_path));
}

std::expected<void, std::string> PendingFile::commit() {
    if (auto closed = file_->close(); !closed) return closed;
    if (path_.empty()) return {};  // written in place
    if (auto moved = rename_file(path_, final_path_); !moved) return moved;
    path_.clear();
    return {};
}

PendingFile::~PendingFile() {
    if (!path_.empty()) remove_file(path_);
}

}  // namespace tessaly::io
