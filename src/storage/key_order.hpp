#pragma once
// Putting items in key order: the one routine for the members of an object
// and for the children of an element grouped by name.

#include <algorithm>
#include <cstddef>

#include "storage/key_table.hpp"

namespace tessaly::storage {

// Sorts `items` by `key_of(item)` in key order, stably: items of equal keys
// keep their order. Most runs have a handful of items, often already in
// order; those take one pass, or an insertion sort that allocates nothing.
// The caller may vouch that the first `in_order` items are in order already.
template <class T, class KeyOf>
void sort_by_key(T* items, std::size_t n, KeyTable& keys, KeyOf key_of, std::size_t in_order = 1) {
    auto less = [&](const T& a, const T& b) { return keys.less(key_of(a), key_of(b)); };
    std::size_t first_out = in_order < 1 ? 1 : in_order;
    while (first_out < n && !less(items[first_out], items[first_out - 1])) ++first_out;
    if (first_out >= n) return;
    if (!keys.all_ranked()) keys.charge_unranked(n);
    if (n > 16) {
        std::stable_sort(items, items + n, less);
        return;
    }
    if (n >= 4 && keys.all_ranked()) {
        // The places of the keys read once, then compared where they are;
        // for a few items, reading them as they are compared costs less.
        KeyId rank[16];
        for (std::size_t i = 0; i < n; ++i) rank[i] = keys.rank(key_of(items[i]));
        for (std::size_t i = first_out; i < n; ++i) {
            if (rank[i] >= rank[i - 1]) continue;
            T moving = items[i];
            const KeyId r = rank[i];
            std::size_t j = i;
            do {
                items[j] = items[j - 1];
                rank[j] = rank[j - 1];
                --j;
            } while (j > 0 && r < rank[j - 1]);
            items[j] = moving;
            rank[j] = r;
        }
        return;
    }
    for (std::size_t i = first_out; i < n; ++i) {
        if (!less(items[i], items[i - 1])) continue;
        T moving = items[i];
        std::size_t j = i;
        // Strictly less: an equal key stays behind its earlier twin.
        do {
            items[j] = items[j - 1];
            --j;
        } while (j > 0 && less(moving, items[j - 1]));
        items[j] = moving;
    }
}

}  // namespace tessaly::storage
