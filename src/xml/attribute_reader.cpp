// The attribute walk over the text of one tag. It never fails: whatever does
// not read as name="value" or name='value' is stepped over, and the walk picks
// up again at the next thing that looks like an attribute name.

#include <algorithm>

#include "xml/char_class.hpp"
#include "xml/reader.hpp"

namespace tessaly::xml {

namespace {

using detail::is_space;
using detail::kAttrNameStop;

bool is_quote(char c) { return c == '"' || c == '\''; }

}  // namespace

AttributeReader::AttributeReader(std::string_view attribute_text, bool skip_repeated)
    : text_(attribute_text), skip_repeated_(skip_repeated) {}

bool AttributeReader::seen_before(std::string_view name) const {
    const auto first_end = first_names_.begin() + static_cast<std::ptrdiff_t>(std::min(name_count_, first_names_.size()));
    if (std::find(first_names_.begin(), first_end, name) != first_end) return true;
    return !more_names_.empty() && more_names_.contains(name);
}

void AttributeReader::remember(std::string_view name) {
    if (name_count_ < first_names_.size()) {
        first_names_[name_count_] = name;
    } else {
        more_names_.insert(name);
    }
    ++name_count_;
}

bool AttributeReader::next(Attribute& out) {
    const std::size_t n = text_.size();
    auto skip_spaces = [&] {
        while (pos_ < n && is_space(text_[pos_])) ++pos_;
    };
    // Steps over a quoted run starting at pos_; an unclosed one takes the rest.
    auto skip_quoted = [&] {
        std::size_t close = text_.find(text_[pos_], pos_ + 1);
        pos_ = close == std::string_view::npos ? n : close + 1;
    };

    while (true) {
        skip_spaces();
        if (pos_ >= n) return false;

        // A quote where a name should start: a stray literal, or a name that
        // begins with a quote. Step over the quoted run as a whole, so that
        // its content is not mistaken for attributes.
        if (is_quote(text_[pos_])) {
            skip_quoted();
            continue;
        }

        const std::size_t name_start = pos_;
        pos_ = static_cast<std::size_t>(
            detail::scan_to<kAttrNameStop>(text_.data() + pos_, text_.data() + n) - text_.data());
        const std::string_view name = text_.substr(name_start, pos_ - name_start);

        skip_spaces();
        if (pos_ >= n) return false;
        if (text_[pos_] != '=') continue;  // a name without '=': go on from what follows it
        ++pos_;
        const std::size_t after_eq = pos_;
        skip_spaces();
        if (pos_ >= n) return false;

        if (!is_quote(text_[pos_])) {
            // "a= b='2'": the '=' has no value, and what follows the white
            // space is the next attribute.
            if (pos_ != after_eq) continue;
            // "a=1": an unquoted value. Step over it up to white space,
            // treating a quoted run inside as part of it, as the tag scan did.
            while (pos_ < n && !is_space(text_[pos_])) {
                if (is_quote(text_[pos_])) {
                    skip_quoted();
                } else {
                    ++pos_;
                }
            }
            continue;
        }

        const char quote = text_[pos_];
        const std::size_t close = text_.find(quote, pos_ + 1);
        if (close == std::string_view::npos) {
            pos_ = n;
            return false;
        }
        const std::string_view value = text_.substr(pos_ + 1, close - pos_ - 1);
        pos_ = close + 1;

        if (name.empty()) continue;  // ="value" with no name
        if (skip_repeated_) {
            if (seen_before(name)) continue;
            remember(name);
        }
        out = Attribute{name, value};
        return true;
    }
}

}  // namespace tessaly::xml
