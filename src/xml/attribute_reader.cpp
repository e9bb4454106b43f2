// The attribute walk over the text of one tag. It never fails: whatever does
// not read as name="value" or name='value' is stepped over, and the walk picks
// up again at the next thing that looks like an attribute name.

#include <algorithm>
#include <iterator>

#include "xml/char_class.hpp"
#include "xml/reader.hpp"

namespace tessaly::xml {

namespace {

using detail::is_space;
using detail::kAttrNameStop;

bool is_quote(char c) { return c == '"' || c == '\''; }

}  // namespace

AttributeReader::AttributeReader(std::string_view attribute_text, bool skip_repeated)
    : pos_(attribute_text.data()), end_(attribute_text.data() + attribute_text.size()), skip_repeated_(skip_repeated) {}

inline bool AttributeReader::seen_before(std::string_view name) const {
    if ((name_lengths_ & (std::uint64_t{1} << (name.size() % 64))) == 0) return false;
    const std::size_t in_place = std::min(name_count_, std::size(first_names_));
    for (std::size_t i = 0; i < in_place; ++i) {
        const Name& seen = first_names_[i];
        if (seen.size == name.size() && detail::equal_bytes(seen.data, name.data(), name.size())) return true;
    }
    return more_names_.has_value() && more_names_->contains(name);
}

inline void AttributeReader::remember(std::string_view name) {
    name_lengths_ |= std::uint64_t{1} << (name.size() % 64);
    if (name_count_ < std::size(first_names_)) {
        first_names_[name_count_] = Name{name.data(), name.size()};
    } else {
        if (!more_names_) more_names_.emplace();
        more_names_->insert(name);
    }
    ++name_count_;
}

bool AttributeReader::next(Attribute& out) {
    const char* p = pos_;
    const char* const end = end_;
    // Steps over a quoted run starting at p; an unclosed one takes the rest.
    auto skip_quoted = [&] {
        const char* close = detail::find_byte_near(p + 1, end, *p);
        p = close == end ? end : close + 1;
    };

    while (true) {
        p = detail::skip_space(p, end);
        if (p >= end) break;

        // A quote where a name should start: a stray literal, or a name that
        // begins with a quote. Step over the quoted run as a whole, so that
        // its content is not mistaken for attributes.
        if (is_quote(*p)) {
            skip_quoted();
            continue;
        }

        const char* name_start = p;
        p = detail::scan_to<kAttrNameStop>(p, end);
        const std::string_view name(name_start, static_cast<std::size_t>(p - name_start));

        if (end - p >= 2 && p[0] == '=' && is_quote(p[1])) {
            // name="value", as nearly every attribute is written.
            ++p;
        } else {
            p = detail::skip_space(p, end);
            if (p >= end) break;
            if (*p != '=') continue;  // a name without '=': go on from what follows it
            ++p;
            const char* after_eq = p;
            p = detail::skip_space(p, end);
            if (p >= end) break;
            if (!is_quote(*p)) {
                // "a= b='2'": the '=' has no value, and what follows the
                // white space is the next attribute.
                if (p != after_eq) continue;
                // "a=1": an unquoted value. Step over it up to white space,
                // treating a quoted run inside as part of it, as the tag
                // scan did.
                while (p < end && !is_space(*p)) {
                    if (is_quote(*p)) {
                        skip_quoted();
                    } else {
                        ++p;
                    }
                }
                continue;
            }
        }

        const char* close = detail::find_byte_near(p + 1, end, *p);
        if (close == end) {
            p = end;
            break;
        }
        const std::string_view value(p + 1, static_cast<std::size_t>(close - (p + 1)));
        p = close + 1;

        if (name.empty()) continue;  // ="value" with no name
        if (skip_repeated_) {
            if (seen_before(name)) continue;
            remember(name);
        }
        pos_ = p;
        out = Attribute{name, value};
        return true;
    }
    pos_ = p;
    return false;
}

}  // namespace tessaly::xml
