#pragma once
// The JSON value: 16 bytes, trivially copyable, with its strings, elements
// and members held elsewhere (in an Arena, or in the input document).
// Objects keep their members in ascending unsigned byte order of the keys,
// each key once; make_object establishes that order.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "json/arena.hpp"

namespace tessaly::json {

enum class Kind : std::uint8_t { Null, False, True, UInt, Int, Float, String, Array, Object };

struct Member;

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
    static Value array(const Value* items, std::size_t n) {
        Value v(Kind::Array, n);
        v.a_ = items;
        return v;
    }
    // `members` must already be in key order with unique keys.
    static Value object(const Member* members, std::size_t n) {
        Value v(Kind::Object, n);
        v.o_ = members;
        return v;
    }

    Kind kind() const { return static_cast<Kind>(tag_ & 0xFF); }
    std::size_t size() const { return static_cast<std::size_t>(tag_ >> 8); }

    std::uint64_t as_uint() const { return u_; }
    std::int64_t as_int() const { return i_; }
    double as_float() const { return f_; }
    std::string_view as_string() const { return {s_, size()}; }
    std::span<const Value> as_array() const { return {a_, size()}; }
    std::span<const Member> as_object() const;

private:
    Value(Kind k, std::size_t len) : tag_(static_cast<std::uint64_t>(k) | (static_cast<std::uint64_t>(len) << 8)) {}

    std::uint64_t tag_ = 0;  // kind in the low byte, length above it
    union {
        std::uint64_t u_ = 0;
        std::int64_t i_;
        double f_;
        const char* s_;
        const Value* a_;
        const Member* o_;
    };
};

struct Member {
    std::string_view key;
    Value value;
};

inline std::span<const Member> Value::as_object() const { return {o_, size()}; }

// Sorts `members` in place by key bytes and drops earlier members whose key
// is repeated later (inserting a key again replaces its value), then returns
// the object over them. The members must live as long as the value.
Value make_object(Member* members, std::size_t n);

}  // namespace tessaly::json
