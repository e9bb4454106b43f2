#pragma once
// The JSON value while a document is built: 16 bytes, trivially copyable.
// Scalars are held whole (a string as a view of bytes held elsewhere, in an
// Arena or in the input document); an array or object is a view of its
// packed record in an Arena (see packed.hpp). Objects keep their members in
// ascending unsigned byte order of the keys, each key once; order_members
// establishes that order.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "storage/arena.hpp"
#include "storage/key_table.hpp"

namespace tessaly::storage {

// NumberText: a number held as its JSON text (an exact decimal, an integer
// beyond 64 bits), kept like a string and written without quotes.
enum class Kind : std::uint8_t { Null, False, True, UInt, Int, Float, String, Array, Object, NumberText };

class Value {
public:
    Value() = default;

    static Value null() { return Value(Kind::Null, 0); }
    static Value boolean(bool b) { return Value(b ? Kind::True : Kind::False, 0); }
    static Value uinteger(std::uint64_t u) {
        Value v(Kind::UInt, 0);
        v.u_ = u;
        return v;
    }
    // For negative values; non-negative integers are unsigned.
    static Value integer(std::int64_t i) {
        Value v(Kind::Int, 0);
        v.i_ = i;
        return v;
    }
    // Must be finite.
    static Value floating(double f) {
        Value v(Kind::Float, 0);
        v.f_ = f;
        return v;
    }
    // The bytes must outlive the value and be UTF-8.
    static Value string(std::string_view s) {
        Value v(Kind::String, s.size());
        v.s_ = s.data();
        return v;
    }
    // `s` must be a JSON number's text; the bytes must outlive the value.
    static Value number_text(std::string_view s) {
        Value v(Kind::NumberText, s.size());
        v.s_ = s.data();
        return v;
    }
    // An array or object of `n` entries whose packed record is at `record`.
    static Value packed(Kind k, const std::uint8_t* record, std::size_t n) {
        Value v(k, n);
        v.p_ = record;
        return v;
    }

    Kind kind() const { return static_cast<Kind>(tag_ & 0xFF); }
    std::size_t size() const { return static_cast<std::size_t>(tag_ >> 8); }

    std::uint64_t as_uint() const { return u_; }
    std::int64_t as_int() const { return i_; }
    double as_float() const { return f_; }
    std::string_view as_string() const { return {s_, size()}; }  // String and NumberText
    // Whether the value views bytes held elsewhere (which must stay).
    bool views_text() const { return kind() == Kind::String || kind() == Kind::NumberText; }
    // Arrays and objects: where their packed record begins.
    const std::uint8_t* record() const { return p_; }

private:
    Value(Kind k, std::size_t len) : tag_(static_cast<std::uint64_t>(k) | (static_cast<std::uint64_t>(len) << 8)) {}

    std::uint64_t tag_ = 0;  // kind in the low byte, length above it
    union {
        std::uint64_t u_ = 0;
        std::int64_t i_;
        double f_;
        const char* s_;
        const std::uint8_t* p_;
    };
};

struct Member {
    KeyId key;
    Value value;
};

// Appends a member field by field. Building it whole and copying it would
// load 16 bytes over the narrower stores just made, which stalls the load;
// members are appended for nearly every element and attribute.
inline void append_member(std::vector<Member>& out, KeyId key, const Value& value) {
    Member& m = out.emplace_back();
    m.key = key;
    m.value = value;
}

// Sorts `members` in place by the bytes of their keys and drops earlier
// members whose key is repeated later (inserting a key again replaces its
// value); returns how many remain at the front.
std::size_t order_members(Member* members, std::size_t n, KeyTable& keys);

}  // namespace tessaly::storage
