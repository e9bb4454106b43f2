#include "io/os_error.hpp"

#include <cstring>

namespace tessaly::io {

std::string os_error_text(int errnum) {
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* desc = strerror_r(errnum, buf, sizeof buf);
    std::string out(desc ? desc : "Unknown error");
    out += " (os error ";
    out += std::to_string(errnum);
    out += ')';
    return out;
}

}  // namespace tessaly::io
