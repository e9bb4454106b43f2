#include "tessaly/error.hpp"

#include "messages.hpp"

namespace tessaly {

std::string TessalyError::display() const {
    const std::string_view prefix = messages::kind_prefix(kind);
    std::string out;
    out.reserve(prefix.size() + detail.size());
    out.append(prefix).append(detail);
    return out;
}

std::string internal_error_text(std::string_view what) { return messages::internal_error(what); }

}  // namespace tessaly
