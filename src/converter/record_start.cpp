#include "converter/record_start.hpp"

#include <algorithm>
#include <cstring>
#include <string.h>
#include <memory>

namespace tessaly::converter {

namespace {

constexpr std::size_t kChunk = 1 << 20;
// A tag name longer than this is not taken for a record's.
constexpr std::size_t kLongestName = 1024;
// What a '<' needs after it to be told apart: "![CDATA[" or a name and the byte after it.
constexpr std::size_t kLookahead = kLongestName + 2;

bool ends_name(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>' || c == '/'; }

// Where the scan is: in character data, or inside a construct that cannot
// hold a real start tag, skipped to its end.
enum class In : unsigned char { Text, Comment, CData, Instruction, Declaration, Tag, Quoted };

const char* find(const char* p, const char* end, std::string_view what) {
    const void* at = ::memmem(p, static_cast<std::size_t>(end - p), what.data(), what.size());
    return at ? static_cast<const char*>(at) : nullptr;
}

}  // namespace

std::expected<std::optional<std::uint64_t>, std::string> find_record_start(io::File& file, std::uint64_t from,
                                                                           std::string_view local) {
    if (auto s = file.seek(from); !s) return std::unexpected(std::move(s.error()));
    auto buf = std::make_unique_for_overwrite<char[]>(kChunk + kLookahead);
    std::size_t have = 0;       // bytes in buf
    std::uint64_t base = from;  // the file offset of buf[0]
    bool eof = false;
    In in = In::Text;
    char quote = 0;
    while (true) {
        while (!eof && have < kChunk) {
            auto got = file.read(buf.get() + have, kChunk + kLookahead - have);
            if (!got) return std::unexpected(std::move(got.error()));
            if (*got == 0) eof = true;
            have += *got;
        }
        const char* const b = buf.get();
        const char* const end = b + have;
        const char* p = b;
        // Runs until it needs bytes it does not have; `p` is where to go on from.
        while (p < end) {
            if (in == In::Text) {
                const void* lt = std::memchr(p, '<', static_cast<std::size_t>(end - p));
                if (!lt) {
                    p = end;
                    break;
                }
                p = static_cast<const char*>(lt);
                if (!eof && static_cast<std::size_t>(end - p) < kLookahead) break;
                std::string_view at(p, static_cast<std::size_t>(end - p));
                if (at.starts_with("<!--")) in = In::Comment, p += 4;
                else if (at.starts_with("<![CDATA[")) in = In::CData, p += 9;
                else if (at.starts_with("<?")) in = In::Instruction, p += 2;
                else if (at.starts_with("<!")) in = In::Declaration, p += 2;
                else if (at.starts_with("</")) in = In::Tag, p += 2;
                else {
                    const char* q = p + 1;
                    while (q < end && static_cast<std::size_t>(q - p) <= kLongestName + 1 && !ends_name(*q)) ++q;
                    std::string_view name(p + 1, static_cast<std::size_t>(q - p - 1));
                    const std::size_t colon = name.rfind(':');
                    if (q < end && !name.empty() && (colon == name.npos ? name : name.substr(colon + 1)) == local)
                        return base + static_cast<std::uint64_t>(p - b);
                    in = In::Tag;
                    p = q;
                }
                continue;
            }
            std::string_view close = in == In::Comment ? "-->" : in == In::CData ? "]]>" : in == In::Instruction ? "?>" : "";
            if (!close.empty()) {
                const char* c = find(p, end, close);
                if (!c) {
                    // The terminator may straddle the refill: keep its first bytes.
                    p = std::max(p, end - static_cast<std::ptrdiff_t>(close.size() - 1));
                    break;
                }
                p = c + close.size();
                in = In::Text;
                continue;
            }
            if (in == In::Quoted) {
                const void* q = std::memchr(p, quote, static_cast<std::size_t>(end - p));
                p = q ? static_cast<const char*>(q) + 1 : end;
                if (q) in = In::Tag;
                continue;
            }
            // A tag or a declaration: to its '>', stepping over quoted values.
            while (p < end && *p != '>' && *p != '"' && *p != '\'') ++p;
            if (p == end) break;
            if (*p == '>') in = In::Text;
            else quote = *p, in = In::Quoted;
            ++p;
        }
        if (eof) return std::nullopt;
        const std::size_t keep = static_cast<std::size_t>(end - p);
        std::memmove(buf.get(), p, keep);
        base += static_cast<std::uint64_t>(p - b);
        have = keep;
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
