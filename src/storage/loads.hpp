#pragma once
// A word of 8 or 4 bytes read from any address, for the scans, compares
// and hashes that go a word at a time. memcpy of a fixed size compiles to one
// move, where a cast to a wider pointer would break alignment and aliasing.

#include <cstdint>
#include <cstring>

namespace tessaly::storage {

inline std::uint64_t load_u64(const void* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline std::uint32_t load_u32(const void* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace tessaly::storage
