#include "error.hpp"

namespace tessaly {

std::string TessalyError::display() const {
    std::string_view prefix;
    switch (kind) {
        case ErrorKind::Io: prefix = "IO error: "; break;
        case ErrorKind::XsdParse: prefix = "XSD parse error: "; break;
        case ErrorKind::Conversion: prefix = "Conversion error: "; break;
        case ErrorKind::Interrupted: prefix = "Interrupted: "; break;
    }
    std::string out;
    out.reserve(prefix.size() + detail.size());
    out.append(prefix).append(detail);
    return out;
}

}  // namespace tessaly
