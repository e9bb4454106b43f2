#pragma once
// The one way the system touches files. Every call into the operating system
// for a file (open, read, write, fstat, ftruncate, close, unlink) is made
// here: each is retried when a signal interrupts it, and each failure comes
// back as the system's error text ("No such file or directory (os error 2)").
// A path holding a NUL byte is refused with its own text, never cut short.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace tessaly::io {

// An owned file descriptor, closed when the object goes.
class File {
public:
    File() = default;
    ~File() { close_quietly(); }
    File(File&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    File& operator=(File&& o) noexcept {
        if (this != &o) {
            close_quietly();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    static std::expected<File, std::string> open_for_reading(std::string_view path);
    // Created when missing (mode 0666 before the umask), never truncated here.
    static std::expected<File, std::string> open_for_writing(std::string_view path);
    // Created with mode 0600, only when nothing is at `path`: not a file, not
    // a symbolic link (which is never followed). Nothing when the name is taken.
    static std::expected<std::optional<File>, std::string> create_exclusive(std::string_view path);
    // Opened for reading when `path` names a regular file; nothing when it
    // names anything else (a directory, a device, a FIFO, a socket), nothing
    // at all, or holds a NUL byte. The open never blocks (a FIFO without a
    // writer), and the kind is checked on the open descriptor, so no other
    // file can take the path's place between the check and the read. A
    // regular file that cannot be opened gives its error text.
    static std::expected<std::optional<File>, std::string> open_regular(std::string_view path);

    // Up to `capacity` bytes; 0 at end of file.
    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity);
    std::expected<void, std::string> write_all(std::string_view bytes);
    // Gives the file the permissions that opening `path` for writing would
    // give it: those of the file there now, or those of a new file (0666
    // less the process's umask).
    void take_permissions_of(std::string_view path);
    // Moves the read position to `offset` bytes from the start.
    std::expected<void, std::string> seek(std::uint64_t offset);
    // The size, when this is a regular file.
    std::optional<std::uint64_t> regular_size() const;
    // Empties a regular file that holds something. Pipes and devices cannot
    // be truncated and need not be, nor need an empty file: those are left.
    std::expected<void, std::string> empty_if_regular();
    // Reports what the final close says (a delayed write error, say). The
    // descriptor is gone afterwards, whatever the outcome.
    std::expected<void, std::string> close();

private:
    explicit File(int fd) : fd_(fd) {}
    void close_quietly() noexcept;

    int fd_ = -1;
};

// Removes the file at `path`, if it can.
void remove_file(const std::string& path);
// True when `path` names something other than a regular file (a device, a
// FIFO, /dev/stdout), following symbolic links.
bool names_special_file(std::string_view path);
// Gives the file at `from` the name `to`, replacing what `to` named.
std::expected<void, std::string> rename_file(const std::string& from, const std::string& to);

// True when `path` holds a NUL byte: handed to the C library it would be
// cut short at the NUL and name another file, so such paths are refused.
bool has_nul(std::string_view path);

}  // namespace tessaly::io
