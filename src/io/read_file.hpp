#pragma once
// Reading a whole file as UTF-8 text, with the error texts users see.

#include <expected>
#include <string>
#include <string_view>

namespace tessaly::io {

// The file's bytes, checked to be UTF-8. On failure, the I/O error text:
// an operating-system error ("... (os error N)"), the NUL-in-path text, or
// "stream did not contain valid UTF-8".
std::expected<std::string, std::string> read_utf8_file(std::string_view path);

// True when `path` holds a NUL byte: handed to the C library it would be
// cut short at the NUL and name another file, so such paths are refused.
bool has_nul(std::string_view path);

}  // namespace tessaly::io
