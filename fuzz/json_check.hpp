#pragma once
// An independent reading of the converter's output: one JSON value and
// nothing but whitespace around it, strings free of raw control bytes, and
// the keys of every object in strictly ascending unsigned byte order of their
// decoded text. Iterative, so that the deepest document the reader accepts
// needs no deep stack here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

class JsonCheck {
public:
    // Empty when the text is well-formed, else what is wrong and where.
    static std::string problem(std::string_view text) {
        JsonCheck c(text);
        return c.run() ? std::string() : c.why_ + " at byte " + std::to_string(c.pos_);
    }

private:
    struct Frame {
        explicit Frame(bool is_object) : object(is_object) {}
        bool object;
        bool has_key = false;
        std::string last_key;
    };

    explicit JsonCheck(std::string_view text) : t_(text) {}

    bool run() {
        enum class Want { Value, AfterValue } want = Want::Value;
        for (;;) {
            skip_space();
            if (want == Want::Value) {
                if (at_end()) return fail("value expected");
                char c = t_[pos_];
                if (c == '{' || c == '[') {
                    ++pos_;
                    stack_.emplace_back(c == '{');
                    skip_space();
                    if (!at_end() && t_[pos_] == (c == '{' ? '}' : ']')) {
                        ++pos_;
                        stack_.pop_back();
                        want = Want::AfterValue;
                    } else if (c == '{') {
                        if (!member_key()) return false;
                    }
                    continue;
                }
                if (c == '"') {
                    std::string ignored;
                    if (!string(ignored)) return false;
                } else if (c == '-' || (c >= '0' && c <= '9')) {
                    if (!number()) return false;
                } else if (!literal("true") && !literal("false") && !literal("null")) {
                    return fail("no value starts here");
                }
                want = Want::AfterValue;
                continue;
            }
            if (stack_.empty()) return at_end() || fail("text after the value");
            if (at_end()) return fail("unclosed container");
            char c = t_[pos_++];
            Frame& top = stack_.back();
            if (c == ',') {
                if (top.object && !member_key()) return false;
                want = Want::Value;
            } else if (c == (top.object ? '}' : ']')) {
                stack_.pop_back();
            } else {
                --pos_;
                return fail("',' or a closing bracket expected");
            }
        }
    }

    // A key, its ':' and the check of its order against the one before.
    bool member_key() {
        skip_space();
        if (at_end() || t_[pos_] != '"') return fail("key expected");
        std::string key;
        if (!string(key)) return false;
        Frame& top = stack_.back();
        if (top.has_key && !(std::string_view(top.last_key) < std::string_view(key)))
            return fail("key \"" + key + "\" not after \"" + top.last_key + "\"");
        top.has_key = true;
        top.last_key = std::move(key);
        skip_space();
        if (at_end() || t_[pos_] != ':') return fail("':' expected");
        ++pos_;
        return true;
    }

    bool string(std::string& out) {
        ++pos_;
        for (;;) {
            if (at_end()) return fail("unterminated string");
            auto c = static_cast<unsigned char>(t_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return fail("raw control byte in a string");
            if (c != '\\') {
                out.push_back(static_cast<char>(c));
                continue;
            }
            if (at_end()) return fail("unterminated escape");
            switch (t_[pos_++]) {
                case '"': out.push_back('"'); break;
                case '\\': out.push_back('\\'); break;
                case '/': out.push_back('/'); break;
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case 'u': {
                    std::uint32_t cp = 0;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xD800 && cp < 0xDC00 && t_.substr(pos_, 2) == "\\u") {
                        std::size_t save = pos_;
                        pos_ += 2;
                        std::uint32_t low = 0;
                        if (!hex4(low)) return false;
                        if (low >= 0xDC00 && low < 0xE000)
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        else
                            pos_ = save;
                    }
                    append_utf8(out, cp);
                    break;
                }
                default: --pos_; return fail("unknown escape");
            }
        }
    }

    bool hex4(std::uint32_t& cp) {
        if (t_.size() - pos_ < 4) return fail("short \\u escape");
        for (int i = 0; i < 4; ++i) {
            char h = t_[pos_++];
            int v = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
            if (v < 0) return fail("bad hex digit");
            cp = cp * 16 + static_cast<std::uint32_t>(v);
        }
        return true;
    }

    static void append_utf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool number() {
        if (t_[pos_] == '-') ++pos_;
        if (at_end() || !digit()) return fail("digit expected");
        if (t_[pos_] == '0') {
            ++pos_;
        } else {
            while (!at_end() && digit()) ++pos_;
        }
        if (!at_end() && t_[pos_] == '.') {
            ++pos_;
            if (at_end() || !digit()) return fail("digit expected after '.'");
            while (!at_end() && digit()) ++pos_;
        }
        if (!at_end() && (t_[pos_] == 'e' || t_[pos_] == 'E')) {
            ++pos_;
            if (!at_end() && (t_[pos_] == '+' || t_[pos_] == '-')) ++pos_;
            if (at_end() || !digit()) return fail("digit expected in the exponent");
            while (!at_end() && digit()) ++pos_;
        }
        return true;
    }

    bool literal(std::string_view word) {
        if (t_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool digit() const { return t_[pos_] >= '0' && t_[pos_] <= '9'; }
    bool at_end() const { return pos_ >= t_.size(); }
    void skip_space() {
        while (!at_end() && (t_[pos_] == ' ' || t_[pos_] == '\n' || t_[pos_] == '\r' || t_[pos_] == '\t')) ++pos_;
    }
    bool fail(std::string why) {
        why_ = std::move(why);
        return false;
    }

    std::string_view t_;
    std::size_t pos_ = 0;
    std::vector<Frame> stack_;
    std::string why_;
};

}  // namespace fuzz
