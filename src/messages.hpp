#pragma once
// Every text the system shows a user, in one place: the prefix of each kind
// of error and the wording of each detail. Call sites hand over the parts (a
// path, the system's reason, a position) and never assemble a message
// themselves, so each wording is written once and changed in one place.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tessaly/error.hpp"

namespace tessaly::xml {
struct ReadError;
struct Utf8Error;
}  // namespace tessaly::xml

namespace tessaly::messages {

// "IO error: ", "XSD parse error: ", "Conversion error: ".
std::string_view kind_prefix(ErrorKind kind);

// ---- reasons: why a file could not be used --------------------------------

// The system's description of `errnum`, then " (os error N)".
std::string os_error(int errnum);
// A path that holds a NUL byte: handed to the system it would name another file.
inline constexpr std::string_view kNulInPath = "file name contained an unexpected NUL byte";
// A file whose bytes are not UTF-8 where UTF-8 text was asked for.
inline constexpr std::string_view kInvalidUtf8Stream = "stream did not contain valid UTF-8";
// The schema documents of one load went past `limit` bytes together.
std::string schema_documents_too_large(std::size_t limit);

// What stands for XSD bytes parsed in memory where a report lists documents.
inline constexpr std::string_view kXsdBytesName = "<bytes>";

// ---- descriptions of what was found in the input --------------------------

// "invalid utf-8 sequence of N bytes from index I", or
// "incomplete utf-8 byte sequence from index I".
std::string utf8_error(const xml::Utf8Error& error);
// The reader's description with its position ("... at line L, column C"), or
// "failed to read the input: " and the source's reason.
std::string read_error(const xml::ReadError& error);

// ---- the errors ------------------------------------------------------------

TessalyError failed_to_read(std::string_view path, std::string_view reason);
TessalyError failed_to_open(std::string_view path, std::string_view reason);
TessalyError failed_to_create(std::string_view path, std::string_view reason);
TessalyError failed_to_write_temp_xsd(std::string_view reason);
TessalyError flush_error(std::string_view reason);
TessalyError xsd_not_utf8(const xml::Utf8Error& error);
TessalyError xml_not_utf8(const xml::Utf8Error& error);
// A schema document the reader could not read through.
TessalyError xml_parse_error(const xml::ReadError& error);
// A document being converted that the reader could not read through.
TessalyError xml_read_error(const xml::ReadError& error);
TessalyError json_write_error(std::string_view reason);
// A walk begun at a record in the middle of a document met an end tag that
// does not close the element the record path names there.
TessalyError record_path_mismatch(std::string_view found, std::string_view expected, std::uint64_t offset);
// A record path that names no element: empty, or with an empty or malformed step.
TessalyError invalid_record_path(std::string_view record);
// A byte range asked of a stream, of a bare name, or with its end before its start.
TessalyError invalid_byte_range(std::string_view why);

// A C++ exception stopped at the Python boundary, with its what() when it has one.
std::string internal_error(std::string_view what);
inline constexpr char kUnknownInternalError[] = "internal error: unknown exception";

}  // namespace tessaly::messages
