#pragma once
// Reading a whole file as UTF-8 text, with the error texts users see.

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "io/file.hpp"

namespace tessaly::io {

// The file's bytes, checked to be UTF-8. On failure, the I/O error text:
// an operating-system error ("... (os error N)"), the NUL-in-path text, or
// "stream did not contain valid UTF-8".
std::expected<std::string, std::string> read_utf8_file(std::string_view path);

// The rest of the open `file`, checked to be UTF-8. A file of more than
// `max_bytes` bytes is not read beyond them and fails with `too_large`.
std::expected<std::string, std::string> read_utf8(File& file, std::size_t max_bytes, std::string_view too_large);

// The same without the UTF-8 check, for a caller that makes it later (and
// fails with the same text, messages::kInvalidUtf8Stream).
std::expected<std::string, std::string> read_unchecked(File& file, std::size_t max_bytes, std::string_view too_large);

}  // namespace tessaly::io
