// The attribute walk over the text of one tag. It never fails: whatever does
// not read as name="value" or name='value' is stepped over, and the walk picks
// up again at the next thing that looks like an attribute name.

#include <algorithm>
#include <bit>
#include <iterator>

#include "xml/char_class.hpp"
#include "xml/reader.hpp"

namespace tessaly::xml {

namespace {

using detail::is_space;
using detail::kAttrNameStop;

bool is_quote(char c) { return c == '"' || c == '\''; }

}  // namespace

#if defined(__SSE2__)
namespace {

// The bytes of one block the walk tells apart, a bit per byte.
struct BlockClasses {
    unsigned space = 0;  // ' ', '\t', '\r', '\n'
    unsigned equals = 0;
    unsigned double_quotes = 0;
    unsigned single_quotes = 0;
};

// Each class is moved out of the vector unit alone; the stops of a name are
// joined from the masks, once for the whole text.
inline BlockClasses classify(__m128i v) {
    auto bits = [](__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); };
    auto is = [v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    BlockClasses c;
    c.space = bits(_mm_or_si128(_mm_or_si128(is(' '), is('\n')), _mm_or_si128(is('\t'), is('\r'))));
    c.equals = bits(is('='));
    c.double_quotes = bits(is('"'));
    c.single_quotes = bits(is('\''));
    return c;
}

}  // namespace
#endif

AttributeReader::AttributeReader(std::string_view attribute_text, bool skip_repeated)
    : begin_(attribute_text.data()),
      pos_(attribute_text.data()),
      end_(attribute_text.data() + attribute_text.size()),
      skip_repeated_(skip_repeated) {
#if defined(__SSE2__)
    const std::size_t n = attribute_text.size();
    if (n == 0 || n > 64) return;
    std::uint64_t space = 0;
    std::uint64_t equals = 0;
    std::uint64_t double_quotes = 0;
    std::uint64_t single_quotes = 0;
    auto add = [&](const BlockClasses& c, std::size_t at) {
        space |= std::uint64_t{c.space} << at;
        equals |= std::uint64_t{c.equals} << at;
        double_quotes |= std::uint64_t{c.double_quotes} << at;
        single_quotes |= std::uint64_t{c.single_quotes} << at;
    };
    if (n < 16) {
        add(classify(detail::load_short(begin_, n)), 0);
    } else {
        // Blocks at 0, 16 and 32 as far as they fit, and the one that ends
        // at the end of the text, overlapping those before it: the bytes two
        // blocks share set the same bits.
        add(classify(detail::load16(begin_)), 0);
        if (n > 32) add(classify(detail::load16(begin_ + 16)), 16);
        if (n > 48) add(classify(detail::load16(begin_ + 32)), 32);
        if (n > 16) add(classify(detail::load16(end_ - 16)), n - 16);
    }
    const std::uint64_t all = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
    unread_ = ~space & all;
    name_stops_ = space | equals | double_quotes | single_quotes;
    double_quotes_ = double_quotes;
    single_quotes_ = single_quotes;
    masked_ = true;
#endif
}

namespace {

// Bits 0 to k, for k from 0 to 63.
inline std::uint64_t up_to_bit(std::size_t k) { return (std::uint64_t{2} << k) - 1; }

}  // namespace

// The name that begins at bit `at` of the masks: up to the first stop after it.
std::string_view AttributeReader::name_from(std::size_t at) const {
    const std::uint64_t stops = name_stops_ & ~(up_to_bit(at) >> 1);
    return std::string_view(begin_ + at, static_cast<std::size_t>(std::countr_zero(stops)) - at);
}

inline bool AttributeReader::seen_before(std::string_view name) const {
    return (name_bits_ & name_bit(name)) != 0 && seen_among(name);
}

bool AttributeReader::seen_among(std::string_view name) const {
    if (masked_) {
        for (std::uint64_t rest = named_; rest != 0; rest &= rest - 1) {
            const std::string_view seen = name_from(static_cast<std::size_t>(std::countr_zero(rest)));
            if (seen.size() == name.size() && detail::equal_bytes(seen.data(), name.data(), name.size())) return true;
        }
        return false;
    }
    const std::size_t in_place = std::min(name_count_, std::size(first_names_));
    for (std::size_t i = 0; i < in_place; ++i) {
        const Name& seen = first_names_[i];
        if (seen.size == name.size() && detail::equal_bytes(seen.data, name.data(), name.size())) return true;
    }
    return more_names_.has_value() && more_names_->contains(name);
}

inline void AttributeReader::remember(std::string_view name) {
    name_bits_ |= name_bit(name);
    if (masked_) {
        named_ |= std::uint64_t{1} << (name.data() - begin_);
        return;
    }
    if (name_count_ < std::size(first_names_)) {
        first_names_[name_count_++] = Name{name.data(), name.size()};
    } else {
        remember_in_set(name);
    }
}

void AttributeReader::remember_in_set(std::string_view name) {
    if (!more_names_) more_names_.emplace();
    more_names_->insert(name);
    ++name_count_;
}

// Every case next() leaves: the same walk over the masks, with names
// compared and remembered in full, and the byte walk for the rest.
bool AttributeReader::next_in_full(Attribute& out) {
    if (!masked_) return walk_bytes(pos_, out);
    while (unread_ != 0) {
        const std::size_t start = static_cast<std::size_t>(std::countr_zero(unread_));
        // Only name="value" and name='value' are read here; whatever else
        // starts at `start` is left to the byte walk, which reads it from
        // there as it would have from the white space before.
        const std::uint64_t stops = name_stops_ & ~(up_to_bit(start) >> 1);
        if (stops == 0 || (stops & (std::uint64_t{1} << start)) != 0) break;
        const std::size_t eq = static_cast<std::size_t>(std::countr_zero(stops));
        if (begin_[eq] != '=') break;
        std::uint64_t quotes;
        if (((double_quotes_ >> eq) & 2) != 0) {
            quotes = double_quotes_;
        } else if (((single_quotes_ >> eq) & 2) != 0) {
            quotes = single_quotes_;
        } else {
            break;
        }
        // eq + 1 is at most 63 here, as a quote follows the '='.
        const std::uint64_t closes = quotes & ~up_to_bit(eq + 1);
        if (closes == 0) break;
        const std::size_t close = static_cast<std::size_t>(std::countr_zero(closes));
        unread_ &= ~up_to_bit(close);
        const std::string_view name(begin_ + start, eq - start);
        if (skip_repeated_) {
            if (seen_before(name)) continue;
            remember(name);
        }
        out = Attribute{name, std::string_view(begin_ + eq + 2, close - (eq + 2))};
        return true;
    }
    masked_ = false;
    if (unread_ == 0) {
        pos_ = end_;
        return false;
    }
    // The byte walk keeps its names in place and in the set.
    if (skip_repeated_) {
        for (std::uint64_t rest = named_; rest != 0; rest &= rest - 1) {
            remember(name_from(static_cast<std::size_t>(std::countr_zero(rest))));
        }
    }
    return walk_bytes(begin_ + std::countr_zero(unread_), out);
}

bool AttributeReader::walk_bytes(const char* p, Attribute& out) {
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
