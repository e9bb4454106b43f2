#include "storage/value.hpp"

#include "storage/key_order.hpp"

namespace tessaly::storage {

std::size_t order_members(Member* members, std::size_t n, KeyTable& keys) {
    // Already in order with no key twice: the common case, left as it is.
    std::size_t i = 1;
    while (i < n && keys.less(members[i - 1].key, members[i].key)) ++i;
    if (i >= n) return n;
    sort_by_key(members, n, keys, [](const Member& m) { return m.key; }, i);
    // Equal keys now sit together in insertion order; keep the last of each run.
    std::size_t out = 0;
    for (i = 0; i < n; ++i) {
        if (i + 1 < n && members[i].key == members[i + 1].key) continue;
        members[out++] = members[i];
    }
    return out;
}

}  // namespace tessaly::storage
