#include "json/value.hpp"

#include <algorithm>

namespace tessaly::json {

namespace {

// Most objects built from XML elements have a handful of members, often
// already in order; insertion sort does no allocation and is linear then.
constexpr std::size_t kInsertionSortMax = 16;

void insertion_sort(Member* m, std::size_t n, const KeyTable& keys) {
    for (std::size_t i = 1; i < n; ++i) {
        if (!keys.less(m[i].key, m[i - 1].key)) continue;
        Member moving = m[i];
        std::size_t j = i;
        // Strictly less: an equal key stays behind its earlier twin, so the
        // sort is stable and "last one wins" below stays right.
        do {
            m[j] = m[j - 1];
            --j;
        } while (j > 0 && keys.less(moving.key, m[j - 1].key));
        m[j] = moving;
    }
}

bool strictly_increasing(const Member* m, std::size_t n, const KeyTable& keys) {
    for (std::size_t i = 1; i < n; ++i)
        if (!keys.less(m[i - 1].key, m[i].key)) return false;
    return true;
}

}  // namespace

std::size_t order_members(Member* members, std::size_t n, const KeyTable& keys) {
    if (n < 2 || strictly_increasing(members, n, keys)) return n;

    if (n <= kInsertionSortMax) {
        insertion_sort(members, n, keys);
    } else {
        std::stable_sort(members, members + n,
                         [&keys](const Member& a, const Member& b) { return keys.less(a.key, b.key); });
    }

    // Equal keys now sit together in insertion order; keep the last of each run.
    std::size_t out = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i + 1 < n && members[i].key == members[i + 1].key) continue;
        members[out++] = members[i];
    }
    return out;
}

}  // namespace tessaly::json
