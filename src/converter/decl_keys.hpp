#pragma once
// Keys of declared names. A declaration found for an element or attribute
// bears its name, so the key can be remembered by the declaration's address:
// most names of a schema-guided document get their key without being hashed.

#include <array>
#include <cstdint>
#include <string_view>

#include "json/key_table.hpp"

namespace tessaly::converter {

template <class Decl>
class DeclKeys {
public:
    // Keys are `prefix` and the name (no prefix when '\0').
    explicit DeclKeys(json::KeyTable& keys, char prefix = '\0') : keys_(keys), prefix_(prefix) {}

    // The key of `name`, whose declaration is `decl` (null: undeclared).
    json::KeyId key(std::string_view name, const Decl* decl) {
        if (!decl) return keys_.intern(name, prefix_);
        std::uintptr_t a = reinterpret_cast<std::uintptr_t>(decl);
        Slot& s = slots_[(a * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
        if (s.decl != decl) s = {decl, keys_.intern(name, prefix_)};
        return s.key;
    }

private:
    static constexpr unsigned kBits = 8;
    struct Slot {
        const Decl* decl = nullptr;
        json::KeyId key = 0;
    };
    json::KeyTable& keys_;
    char prefix_;
    std::array<Slot, std::size_t{1} << kBits> slots_{};
};

}  // namespace tessaly::converter
