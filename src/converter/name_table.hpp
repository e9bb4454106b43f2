#pragma once
// Element and attribute names repeat throughout a document. Where a name must
// be copied to outlive its event, one copy per distinct name is kept here, so
// a document of millions of elements holds each of its few names once.

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "json/arena.hpp"

namespace tessaly::converter {

class NameTable {
public:
    explicit NameTable(json::Arena& arena) : arena_(arena), slots_(64) {}

    // The kept copy of `prefix` followed by `name`.
    std::string_view intern(std::string_view name, char prefix = '\0') {
        std::size_t len = name.size() + (prefix ? 1 : 0);
        std::uint64_t h = hash(name, prefix);
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (!s.text.data()) return insert(i, h, name, prefix, len);
            if (s.hash == h && s.text.size() == len && matches(s.text, name, prefix)) return s.text;
        }
    }

private:
    struct Slot {
        std::string_view text;
        std::uint64_t hash = 0;
    };

    static std::uint64_t hash(std::string_view name, char prefix) {
        std::uint64_t h = 1469598103934665603ULL ^ static_cast<unsigned char>(prefix);
        for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        return h;
    }
    static bool matches(std::string_view kept, std::string_view name, char prefix) {
        if (prefix) {
            if (kept[0] != prefix) return false;
            kept.remove_prefix(1);
        }
        return std::memcmp(kept.data(), name.data(), name.size()) == 0;
    }

    std::string_view insert(std::size_t i, std::uint64_t h, std::string_view name, char prefix, std::size_t len) {
        char* d = static_cast<char*>(arena_.allocate(len + 1, 1));  // never empty, so never null
        std::size_t w = 0;
        if (prefix) d[w++] = prefix;
        if (!name.empty()) std::memcpy(d + w, name.data(), name.size());
        slots_[i] = {{d, len}, h};
        if (++count_ * 2 > slots_.size()) grow();
        return {d, len};
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        std::size_t mask = slots_.size() - 1;
        for (const Slot& s : old) {
            if (!s.text.data()) continue;
            std::size_t i = s.hash & mask;
            while (slots_[i].text.data()) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }

    json::Arena& arena_;
    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

}  // namespace tessaly::converter
