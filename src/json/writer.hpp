#pragma once
// The JSON text of a value, byte for byte: two-space indentation, one member
// or element per line, empty arrays and objects on one line, no line break
// at the end. Writing never recurses per level of nesting.

#include <expected>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace tessaly::json {

// Where the text goes. The writer stages small pieces itself and hands the
// sink large runs, so a sink may be as simple as an append.
class Sink {
public:
    virtual ~Sink() = default;
    // On failure, the I/O error's text; writing stops at the first failure.
    virtual std::expected<void, std::string> write(std::string_view bytes) = 0;
};

class StringSink final : public Sink {
public:
    explicit StringSink(std::string& out) : out_(out) {}
    std::expected<void, std::string> write(std::string_view bytes) override {
        out_.append(bytes);
        return {};
    }

private:
    std::string& out_;
};

// `keys` holds the keys of every object within `value`.
std::expected<void, std::string> write_pretty(const Value& value, const KeyTable& keys, Sink& sink);

// The writer collects output in a buffer of this size and hands it over when
// full. Runs of string bytes that do not fit go to the sink directly, so every
// write but the last carries at least this many bytes.
inline constexpr std::size_t kStagingBytes = 64 * 1024;

// Float text: shortest round-trip digits, positional for decimal exponents
// -5 to 15 ("5.0", "0.001"), scientific otherwise ("1e+16", "1.5e-7").
// Writes at most 32 bytes into `out` and returns the count.
std::size_t format_float(double v, char* out);

}  // namespace tessaly::json
