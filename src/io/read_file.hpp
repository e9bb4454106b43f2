#pragma once
// Reading a whole file as UTF-8 text, with the error texts users see.

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "io/file_source.hpp"

namespace tessaly::io {

// The file's bytes, checked to be UTF-8. On failure, the I/O error text:
// an operating-system error ("... (os error N)"), the NUL-in-path text, or
// "stream did not contain valid UTF-8".
std::expected<std::string, std::string> read_utf8_file(std::string_view path);

// The rest of the open `file`, checked to be UTF-8. A file of more than
// `max_bytes` bytes is not read beyond them and fails with `too_large`.
std::expected<std::string, std::string> read_utf8(const File& file, std::size_t max_bytes,
                                                  std::string_view too_large);

// Opens `path` for reading when it names a regular file, and gives nothing
// when it names anything else (a directory, a device, a FIFO, a socket) or
// nothing at all. The open never blocks (a FIFO without a writer), and the
// kind of file is checked on the open descriptor, so no other file can take
// the path's place between the check and the read. A regular file that
// cannot be opened gives its I/O error text.
std::expected<std::optional<File>, std::string> open_regular_file(std::string_view path);

// True when `path` holds a NUL byte: handed to the C library it would be
// cut short at the NUL and name another file, so such paths are refused.
bool has_nul(std::string_view path);

}  // namespace tessaly::io
