#pragma once
// Where a byte range's first record begins: the first start tag at or after
// an offset whose local name is the record's. Comments, CDATA sections,
// processing instructions, declarations and the insides of tags that begin
// after the offset are stepped over; one that begins before it cannot be
// told from character data, so a start tag inside it looks like any other
// (the README says so).

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "io/file.hpp"

namespace tessaly::converter {

// The offset of the first "<name" or "<prefix:name" at or after `from` that
// is followed by white space, '>' or '/' and stands in character data as far
// as the bytes from `from` on show; nothing when there is none before the
// end of the file. Reads `file` from `from` on.
std::expected<std::optional<std::uint64_t>, std::string> find_record_start(io::File& file, std::uint64_t from,
                                                                           std::string_view local);

// Lines before `offset` in `file` (from the start), and the offset at which
// the line holding `offset` begins: what turns a position counted from
// `offset` into one counted from the start of the file.
struct LinesBefore {
    std::uint64_t lines = 0;
    std::uint64_t line_start = 0;
};
std::expected<LinesBefore, std::string> count_lines_before(io::File& file, std::uint64_t offset);

}  // namespace tessaly::converter
