#pragma once
// A temporary file that belongs to one call alone.
//
// A fixed name in a shared temporary directory races between processes, and
// lets another user plant a symbolic link that a create-and-truncate would
// follow. So every file gets a fresh random name and is created exclusively
// (a link, or any file already there, is never opened), readable by its owner
// only, and removed when the object goes, on every path.

#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "io/file.hpp"

namespace tessaly::io {

// TMPDIR when it is set and not empty, else "/tmp".
std::string temp_dir();

class TempFile {
public:
    // Creates "<dir>/<prefix><random><suffix>" holding `contents`. On failure,
    // the I/O error text; nothing is left behind.
    static std::expected<TempFile, std::string> create(std::string_view dir, std::string_view prefix,
                                                       std::string_view suffix, std::string_view contents);

    TempFile(TempFile&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
    TempFile& operator=(TempFile&&) = delete;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile();

    const std::string& path() const { return path_; }

private:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

// An output written under a temporary name beside its final path and given
// that path only once it is complete: until then, whatever the final path
// named is left as it was, and a pending file that is not committed is removed.
// A path that names a device or a FIFO (/dev/stdout, a pipe) is written
// directly instead: it cannot be replaced, and keeps nothing to protect.
class PendingFile {
public:
    // Creates "<dir of path>/.<name of path>.<random>.part" exclusively.
    static std::expected<PendingFile, std::string> create(std::string_view final_path);
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&&) = delete;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    File& file() { return *file_; }
    // Closes the file and renames it to the final path.
    std::expected<void, std::string> commit();

private:
    PendingFile(std::unique_ptr<File> file, std::string path, std::string final_path);
    std::unique_ptr<File> file_;
    std::string path_;  // empty once committed or moved from
    std::string final_path_;
};

}  // namespace tessaly::io
