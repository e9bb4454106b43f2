#pragma once
// Operating-system error texts in the form users of the module see them:
// the system's description, then " (os error N)".

#include <string>
#include <string_view>

namespace tessaly::io {

std::string os_error_text(int errnum);

// The text for a path that holds a NUL byte: such a path is never cut short.
inline constexpr std::string_view kNulInPathText = "file name contained an unexpected NUL byte";

// The text for a file whose bytes are not UTF-8 when UTF-8 text was asked for.
inline constexpr std::string_view kInvalidUtf8StreamText = "stream did not contain valid UTF-8";

}  // namespace tessaly::io
