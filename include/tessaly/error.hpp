#pragma once
// The one error type of the system. Errors travel up as values; only the
// Python surface turns them into exceptions.

#include <expected>
#include <string>
#include <string_view>

namespace tessaly {

// Interrupted: the caller asked the work to stop (its own error, such as a
// pending KeyboardInterrupt, says why); never shown to a user as text.
enum class ErrorKind : unsigned char { Io, XsdParse, Conversion, Interrupted };

struct TessalyError {
    ErrorKind kind;
    std::string detail;

    static TessalyError io(std::string detail) { return {ErrorKind::Io, std::move(detail)}; }
    static TessalyError xsd_parse(std::string detail) { return {ErrorKind::XsdParse, std::move(detail)}; }
    static TessalyError conversion(std::string detail) { return {ErrorKind::Conversion, std::move(detail)}; }
    static TessalyError interrupted() { return {ErrorKind::Interrupted, "interrupted"}; }

    // The whole user-visible message: the kind's prefix followed by the detail.
    std::string display() const;
};

// The text shown for a C++ exception stopped at a surface: "internal error: "
// and its description.
std::string internal_error_text(std::string_view what);

template <class T>
using Result = std::expected<T, TessalyError>;
using Status = std::expected<void, TessalyError>;

inline std::unexpected<TessalyError> fail(TessalyError e) { return std::unexpected(std::move(e)); }

}  // namespace tessaly
