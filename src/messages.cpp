#include "messages.hpp"

#include <cstring>

#include "xml/reader.hpp"
#include "xml/utf8.hpp"

namespace tessaly::messages {

namespace {

std::string joined(std::string_view a, std::string_view b) {
    std::string out;
    out.reserve(a.size() + b.size());
    out.append(a).append(b);
    return out;
}

// "<what> <path>: <reason>"
std::string about_path(std::string_view what, std::string_view path, std::string_view reason) {
    std::string out;
    out.reserve(what.size() + path.size() + reason.size() + 3);
    out.append(what).append(" ").append(path).append(": ").append(reason);
    return out;
}

}  // namespace

std::string_view kind_prefix(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Io: return "IO error: ";
        case ErrorKind::XsdParse: return "XSD parse error: ";
        case ErrorKind::Conversion: return "Conversion error: ";
        case ErrorKind::Interrupted: return "Interrupted: ";
    }
    return {};
}

std::string os_error(int errnum) {
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* desc = strerror_r(errnum, buf, sizeof buf);
    std::string out(desc ? desc : "Unknown error");
    out += " (os error ";
    out += std::to_string(errnum);
    out += ')';
    return out;
}

std::string schema_documents_too_large(std::size_t limit) {
    return "schema documents exceed " + std::to_string(limit) + " bytes in total";
}

std::string utf8_error(const xml::Utf8Error& error) {
    if (error.error_len == 0) return "incomplete utf-8 byte sequence from index " + std::to_string(error.valid_up_to);
    return "invalid utf-8 sequence of " + std::to_string(error.error_len) + " bytes from index " +
           std::to_string(error.valid_up_to);
}

std::string read_error(const xml::ReadError& error) {
    if (error.kind == xml::ReadError::Kind::Input) return joined("failed to read the input: ", error.what);
    std::string out = error.what;
    out += " at line ";
    out += std::to_string(error.line);
    out += ", column ";
    out += std::to_string(error.column);
    return out;
}

TessalyError failed_to_read(std::string_view path, std::string_view reason) {
    return TessalyError::io(about_path("Failed to read", path, reason));
}

TessalyError failed_to_open(std::string_view path, std::string_view reason) {
    return TessalyError::io(about_path("Failed to open", path, reason));
}

TessalyError failed_to_create(std::string_view path, std::string_view reason) {
    return TessalyError::io(about_path("Failed to create", path, reason));
}

TessalyError failed_to_write_temp_xsd(std::string_view reason) {
    return TessalyError::io(joined("Failed to write temp XSD: ", reason));
}

TessalyError flush_error(std::string_view reason) { return TessalyError::io(joined("Flush error: ", reason)); }

TessalyError xsd_not_utf8(const xml::Utf8Error& error) {
    return TessalyError::io(joined("XSD is not valid UTF-8: ", utf8_error(error)));
}

TessalyError xml_not_utf8(const xml::Utf8Error& error) {
    return TessalyError::io(joined("XML is not valid UTF-8: ", utf8_error(error)));
}

TessalyError xml_parse_error(const xml::ReadError& error) {
    return TessalyError::xsd_parse(joined("XML parse error: ", read_error(error)));
}

TessalyError xml_read_error(const xml::ReadError& error) {
    return TessalyError::conversion(joined("XML read error: ", read_error(error)));
}

TessalyError json_write_error(std::string_view reason) {
    return TessalyError::conversion(joined("JSON write error: ", reason));
}

TessalyError record_path_mismatch(std::string_view found, std::string_view expected, std::uint64_t offset) {
    std::string detail = joined("XML read error: end tag </", found);
    detail += joined("> at byte ", std::to_string(offset));
    detail += joined(" closes an element the record path has as <", expected);
    detail += ">: the byte range did not start at a record of that path";
    return TessalyError::conversion(std::move(detail));
}

TessalyError invalid_record_path(std::string_view record) {
    return TessalyError::conversion(joined("invalid record path: ", record));
}

TessalyError invalid_byte_range(std::string_view why) { return TessalyError::conversion(joined("invalid byte range: ", why)); }

std::string internal_error(std::string_view what) { return joined("internal error: ", what); }

}  // namespace tessaly::messages
