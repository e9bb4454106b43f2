#include "io/read_file.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "messages.hpp"
#include "xml/utf8.hpp"

namespace tessaly::io {

std::expected<std::string, std::string> read_utf8_file(std::string_view path) {
    auto file = File::open_for_reading(path);
    if (!file) return std::unexpected(std::move(file.error()));
    return read_utf8(*file, SIZE_MAX, {});
}

std::expected<std::string, std::string> read_utf8(File& file, std::size_t max_bytes, std::string_view too_large) {
    auto data = read_unchecked(file, max_bytes, too_large);
    if (data && !xml::is_utf8(*data)) return std::unexpected(std::string(messages::kInvalidUtf8Stream));
    return data;
}

std::expected<std::string, std::string> read_unchecked(File& file, std::size_t max_bytes,
                                                       std::string_view too_large) {
    // Read into a buffer one byte larger than the file, so that end of file
    // is seen without growing it; files of unknown size grow by doubling.
    // One byte past the limit is asked for, to tell a file of exactly the
    // limit from a longer one.
    const std::size_t cap = max_bytes == SIZE_MAX ? SIZE_MAX : max_bytes + 1;
    std::string data;
    const auto size = file.regular_size();
    if (size && *size > max_bytes) return std::unexpected(std::string(too_large));
    std::size_t len = 0;
    std::optional<std::string> error;
    // The buffer grows without being filled with zeros first: only the bytes
    // read are kept, the rest is cut off.
    auto read_into = [&](char* p, std::size_t n) {
        while (len < n) {
            auto got = file.read(p + len, n - len);
            if (!got) {
                error = std::move(got.error());
                break;
            }
            if (*got == 0) break;
            len += *got;
        }
        return len;
    };
    std::size_t want = std::min(cap, size ? static_cast<std::size_t>(*size) + 1 : std::size_t{65536});
    while (true) {
        data.resize_and_overwrite(want, read_into);
        if (error) return std::unexpected(std::move(*error));
        if (len < want) break;  // end of file
        if (len >= cap) return std::unexpected(std::string(too_large));
        want = std::min(cap, want * 2);
    }
    if (len > max_bytes) return std::unexpected(std::string(too_large));
    return data;
}

}  // namespace tessaly::io
