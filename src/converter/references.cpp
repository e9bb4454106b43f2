#include "converter/references.hpp"

#include <cstdint>
#include <optional>

namespace tessaly::converter {

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code point of "#x41" or "#65", when it is a Unicode scalar value other than 0.
std::optional<std::uint32_t> char_ref_value(std::string_view name) {
    if (name.size() < 2 || name[0] != '#') return std::nullopt;
    bool hex = name[1] == 'x';
    std::size_t i = hex ? 2 : 1;
    if (i == name.size()) return std::nullopt;
    std::uint64_t v = 0;
    for (; i < name.size(); ++i) {
        int d = hex ? hex_value(name[i]) : (name[i] >= '0' && name[i] <= '9' ? name[i] - '0' : -1);
        if (d < 0) return std::nullopt;
        v = v * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
        if (v > 0xFFFFFFFFu) return std::nullopt;
    }
    if (v == 0 || (v >= 0xD800 && v <= 0xDFFF) || v > 0x10FFFF) return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

std::size_t encode_utf8(std::uint32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace

std::string_view resolve_general_ref(std::string_view name, RefBuffer& buf, bool& passthrough) {
    passthrough = false;
    if (auto cp = char_ref_value(name)) return {buf.bytes, encode_utf8(*cp, buf.bytes)};
    if (name == "lt") return "<";
    if (name == "gt") return ">";
    if (name == "amp") return "&";
    if (name == "apos") return "'";
    if (name == "quot") return "\"";
    passthrough = true;
    return {};
}

}  // namespace tessaly::converter
