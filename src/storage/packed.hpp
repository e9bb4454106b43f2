#pragma once
// Packed arrays and objects. A whole document is held between its first
// element and its last, so the form it is held in decides a conversion's
// memory. A record is its entries, one after another, in as few bytes as
// they allow:
//
//   entry of an array:   value
//   entry of an object:  key number (varint), value
//   value:               tag byte, then
//                          null, false, true:  nothing
//                          unsigned integer:   varint
//                          negative integer:   varint of its complement
//                          float:              8 bytes
//                          string:             distance to its bytes (signed varint), length (varint)
//                          array, object:      distance to its record (signed varint)
//
// Distances count from the tag byte. Records are written when their element
// closes, after the records of its children, and text is mostly copied just
// before, so most distances take one or two bytes; strings left in the input
// document take a few more. A Value of an array or object says how many
// entries its record has.

#include <cstdint>
#include <cstring>
#include <span>

#include "storage/arena.hpp"
#include "storage/value.hpp"

namespace tessaly::storage::packed {

inline constexpr std::size_t kMaxVarint = 10;
inline constexpr std::size_t kMaxValue = 1 + 2 * kMaxVarint;
inline constexpr std::size_t kMaxMember = kMaxVarint + kMaxValue;

inline std::uint8_t* put_varint(std::uint8_t* o, std::uint64_t v) {
    while (v >= 0x80) {
        *o++ = static_cast<std::uint8_t>(v | 0x80);
        v >>= 7;
    }
    *o++ = static_cast<std::uint8_t>(v);
    return o;
}

inline std::uint64_t get_varint(const std::uint8_t*& p) {
    std::uint64_t v = *p++;
    if (v < 0x80) return v;
    v &= 0x7F;
    for (unsigned shift = 7;; shift += 7) {
        std::uint64_t b = *p++;
        v |= (b & 0x7F) << shift;
        if (b < 0x80) return v;
    }
}

// Distances between unrelated addresses, as integers: either sign is possible.
inline std::uint64_t distance(const void* from, const void* to) {
    std::uint64_t d = reinterpret_cast<std::uintptr_t>(to) - reinterpret_cast<std::uintptr_t>(from);
    return (d << 1) ^ (0 - (d >> 63));  // zigzag: small of either sign stays small
}
template <class T>
inline const T* at_distance(const void* from, std::uint64_t zigzag) {
    std::uint64_t d = (zigzag >> 1) ^ (0 - (zigzag & 1));
    return reinterpret_cast<const T*>(reinterpret_cast<std::uintptr_t>(from) + d);
}

// Writes `v` at `o`, at most kMaxValue bytes; returns the end.
inline std::uint8_t* put_value(std::uint8_t* o, const Value& v) {
    std::uint8_t* tag = o;
    *o++ = static_cast<std::uint8_t>(v.kind());
    switch (v.kind()) {
        case Kind::Null:
        case Kind::False:
        case Kind::True: return o;
        case Kind::UInt: return put_varint(o, v.as_uint());
        case Kind::Int: return put_varint(o, ~static_cast<std::uint64_t>(v.as_int()));
        case Kind::Float: {
            double f = v.as_float();
            std::memcpy(o, &f, sizeof f);
            return o + sizeof f;
        }
        case Kind::String:
        case Kind::NumberText: {
            std::string_view s = v.as_string();
            // An empty string's data may be null; it is never read.
            o = put_varint(o, s.empty() ? 0 : distance(tag, s.data()));
            return put_varint(o, s.size());
        }
        case Kind::Array:
        case Kind::Object: return put_varint(o, distance(tag, v.record()));
    }
    return o;
}

// Reads the value at `p` and moves `p` past it. `p` must be where a value
// was written.
inline Value get_value(const std::uint8_t*& p) {
    const std::uint8_t* tag = p;
    Kind k = static_cast<Kind>(*p++);
    switch (k) {
        case Kind::Null: return Value::null();
        case Kind::False: return Value::boolean(false);
        case Kind::True: return Value::boolean(true);
        case Kind::UInt: return Value::uinteger(get_varint(p));
        case Kind::Int: return Value::integer(static_cast<std::int64_t>(~get_varint(p)));
        case Kind::Float: {
            double f;
            std::memcpy(&f, p, sizeof f);
            p += sizeof f;
            return Value::floating(f);
        }
        case Kind::String:
        case Kind::NumberText: {
            std::uint64_t d = get_varint(p);
            std::size_t n = static_cast<std::size_t>(get_varint(p));
            std::string_view s{n ? at_distance<char>(tag, d) : "", n};
            return k == Kind::String ? Value::string(s) : Value::number_text(s);
        }
        case Kind::Array:
        case Kind::Object: {
            const std::uint8_t* record = at_distance<std::uint8_t>(tag, get_varint(p));
            const std::uint8_t* count = record;
            return Value::packed(k, record, static_cast<std::size_t>(get_varint(count)));
        }
    }
    return Value::null();
}

// Writes one record into the arena: room for the worst case is taken first
// and the unused end handed back, so nothing is measured twice.
class RecordPacker {
public:
    RecordPacker(Arena& arena, std::size_t n, std::size_t max_entry) : arena_(arena), n_(n) {
        begin_ = static_cast<std::uint8_t*>(arena.allocate(kMaxVarint + n * max_entry, 1));
        o_ = put_varint(begin_, n);
    }
    void key(KeyId k) { o_ = put_varint(o_, k); }
    void value(const Value& v) { o_ = put_value(o_, v); }
    Value finish(Kind k) {
        arena_.truncate_to(reinterpret_cast<const char*>(o_));
        return Value::packed(k, begin_, n_);
    }

private:
    Arena& arena_;
    std::size_t n_;
    std::uint8_t* begin_;
    std::uint8_t* o_;
};

// The object of `members`, which must be in key order with unique keys.
inline Value pack_object(std::span<const Member> members, Arena& arena) {
    RecordPacker r(arena, members.size(), kMaxMember);
    for (const Member& m : members) {
        r.key(m.key);
        r.value(m.value);
    }
    return r.finish(Kind::Object);
}

}  // namespace tessaly::storage::packed
