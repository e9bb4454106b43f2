#pragma once
// The object keys of one conversion. Element and attribute names repeat
// throughout a document, so each distinct key is kept once and everything
// else refers to it by a small number: a packed object stores that number per
// member, and two keys are the same exactly when their numbers are.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "storage/arena.hpp"
#include "storage/name_hash.hpp"

namespace tessaly::storage {

using KeyId = std::uint32_t;

class KeyTable {
public:
    // Key texts live in the table's own arena, never in the values' arena,
    // whose tail the walker gives back as elements close: a key interned at
    // any moment outlives that.
    KeyTable() : slots_(64) {}

    // The number of `prefix` followed by `name` (no prefix when '\0'),
    // adding it on first sight. Equal texts get the same number however they
    // were split into prefix and name.
    KeyId intern(std::string_view name, char prefix = '\0') {
        if (!prefix) return intern_text(name);
        joined_.assign(1, prefix);
        joined_.append(name);
        return intern_text(joined_);
    }

    // The key's text; it lives as long as the table.
    std::string_view text(KeyId id) const { return texts_[id]; }
    std::size_t size() const { return texts_.size(); }

    // Unsigned byte order of the texts, a proper prefix first: by the keys'
    // places in the sorted table when both have one, else by their texts.
    // A pure comparison, safe inside any sort.
    bool less(KeyId a, KeyId b) const {
        if (a < ranked_ && b < ranked_) return rank_[a] < rank_[b];
        return a != b && less_by_text(a, b);
    }

    // Whether every key has a place in the sorted table.
    bool all_ranked() const { return ranked_ == texts_.size(); }
    // The key's place in key order; only while all_ranked().
    KeyId rank(KeyId id) const { return rank_[id]; }

    // Keys are compared over and over (every object is put in key order), so
    // once the table has settled a comparison is one of two numbers. Callers
    // about to order `count` items while some keys have no place say so
    // here, outside any sort; the table is numbered again once that work has
    // added up to about what numbering costs.
    void charge_unranked(std::size_t count) {
        unranked_work_ += count;
        if (unranked_work_ > 2 * texts_.size() + 64) rank_all();
    }

private:
    static constexpr KeyId kEmpty = ~KeyId{0};

    bool less_by_text(KeyId a, KeyId b) const {
        std::string_view x = texts_[a], y = texts_[b];
        std::size_t n = x.size() < y.size() ? x.size() : y.size();
        int c = n ? std::memcmp(x.data(), y.data(), n) : 0;
        return c != 0 ? c < 0 : x.size() < y.size();
    }

    void rank_all() {
        std::vector<KeyId> order(texts_.size());
        for (KeyId i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [this](KeyId a, KeyId b) { return less_by_text(a, b); });
        rank_.resize(order.size());
        for (KeyId r = 0; r < order.size(); ++r) rank_[order[r]] = r;
        ranked_ = static_cast<KeyId>(order.size());
        unranked_work_ = 0;
    }

    KeyId intern_text(std::string_view text) {
        std::uint64_t h = hash(text);
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.id == kEmpty) return insert(i, h, text);
            if (s.hash == h && texts_[s.id] == text) return s.id;
        }
    }

    struct Slot {
        std::uint64_t hash = 0;
        KeyId id = kEmpty;
    };

    static std::uint64_t hash(std::string_view s) { return hash_name(s); }
    KeyId insert(std::size_t i, std::uint64_t h, std::string_view text) {
        if (texts_.size() >= kEmpty) throw std::bad_alloc();  // more distinct keys than a number holds
        char* d = static_cast<char*>(arena_.allocate(text.size() + 1, 1));  // never empty, so never null
        if (!text.empty()) std::memcpy(d, text.data(), text.size());
        KeyId id = static_cast<KeyId>(texts_.size());
        texts_.emplace_back(d, text.size());
        slots_[i] = {h, id};
        if (texts_.size() * 2 > slots_.size()) grow();
        return id;
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        std::size_t mask = slots_.size() - 1;
        for (const Slot& s : old) {
            if (s.id == kEmpty) continue;
            std::size_t i = s.hash & mask;
            while (slots_[i].id != kEmpty) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }

    Arena arena_;
    std::vector<Slot> slots_;
    std::vector<std::string_view> texts_;
    std::string joined_;  // a prefixed name while it is looked up
    // Places in key order of the keys numbered below ranked_.
    std::vector<KeyId> rank_;
    KeyId ranked_ = 0;
    std::size_t unranked_work_ = 0;
};

}  // namespace tessaly::storage
