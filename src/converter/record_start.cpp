#include "converter/record_start.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

namespace tessaly::converter {

namespace {

constexpr std::size_t kChunk = 1 << 20;
// A tag name longer than this is not taken for a record's.
constexpr std::size_t kLongestName = 1024;

bool ends_name(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>' || c == '/'; }

}  // namespace

std::expected<std::optional<std::uint64_t>, std::string> find_record_start(io::File& file, std::uint64_t from,
                                                                           std::string_view local) {
    if (auto s = file.seek(from); !s) return std::unexpected(std::move(s.error()));
    auto buf = std::make_unique_for_overwrite<char[]>(kChunk + kLongestName + 2);
    std::size_t have = 0;      // bytes in buf
    std::uint64_t base = from;  // the file offset of buf[0]
    bool eof = false;
    while (true) {
        while (!eof && have < kChunk) {
            auto got = file.read(buf.get() + have, kChunk + kLongestName + 2 - have);
            if (!got) return std::unexpected(std::move(got.error()));
            if (*got == 0) eof = true;
            have += *got;
        }
        // A '<' is judged once the longest name and its end can be seen, or at the end.
        std::size_t i = 0;
        while (true) {
            const void* lt = i < have ? std::memchr(buf.get() + i, '<', have - i) : nullptr;
            if (!lt) {
                i = have;
                break;
            }
            i = static_cast<std::size_t>(static_cast<const char*>(lt) - buf.get());
            if (!eof && have - i < kLongestName + 2) break;
            std::size_t j = i + 1;
            while (j < have && j - i <= kLongestName + 1 && !ends_name(buf[j])) ++j;
            if (j < have && j > i + 1) {
                std::string_view name(buf.get() + i + 1, j - i - 1);
                std::size_t colon = name.rfind(':');
                std::string_view l = colon == std::string_view::npos ? name : name.substr(colon + 1);
                const char first = name.front();
                if (l == local && first != '/' && first != '!' && first != '?') return base + i;
            }
            ++i;
        }
        if (eof && i >= have) return std::nullopt;
        std::memmove(buf.get(), buf.get() + i, have - i);
        base += i;
        have -= i;
    }
}

std::expected<LinesBefore, std::string> count_lines_before(io::File& file, std::uint64_t offset) {
    if (auto s = file.seek(0); !s) return std::unexpected(std::move(s.error()));
    auto buf = std::make_unique_for_overwrite<char[]>(kChunk);
    LinesBefore r;
    std::uint64_t at = 0;
    while (at < offset) {
        auto got = file.read(buf.get(), static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, offset - at)));
        if (!got) return std::unexpected(std::move(got.error()));
        if (*got == 0) break;
        // Columns of the first line count from after a byte-order mark.
        if (at == 0 && *got >= 3 && std::memcmp(buf.get(), "\xEF\xBB\xBF", 3) == 0) r.line_start = 3;
        for (std::size_t k = 0; k < *got; ++k) {
            if (buf[k] == '\n') {
                ++r.lines;
                r.line_start = at + k + 1;
            }
        }
        at += *got;
    }
    return r;
}

}  // namespace tessaly::converter
