#include "json/value.hpp"

#include <algorithm>
#include <cstring>

namespace tessaly::json {

namespace {

// Keys compare as unsigned bytes, a proper prefix first; that is code point
// order for UTF-8. memcmp compares unsigned bytes, so this does not depend on
// whether char is signed.
int compare_keys(std::string_view a, std::string_view b) {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    if (n != 0) {
        int c = std::memcmp(a.data(), b.data(), n);
        if (c != 0) return c;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool key_less(const Member& a, const Member& b) { return compare_keys(a.key, b.key) < 0; }

// Most objects built from XML elements have a handful of members, often
// already in order; insertion sort does no allocation and is linear then.
constexpr std::size_t kInsertionSortMax = 16;

void insertion_sort(Member* m, std::size_t n) {
    for (std::size_t i = 1; i < n; ++i) {
        if (!key_less(m[i], m[i - 1])) continue;
        Member moving = m[i];
        std::size_t j = i;
        // Strictly less: an equal key stays behind its earlier twin, so the
        // sort is stable and "last one wins" below stays right.
        do {
            m[j] = m[j - 1];
            --j;
        } while (j > 0 && key_less(moving, m[j - 1]));
        m[j] = moving;
    }
}

bool strictly_increasing(const Member* m, std::size_t n) {
    for (std::size_t i = 1; i < n; ++i) {
        if (compare_keys(m[i - 1].key, m[i].key) >= 0) return false;
    }
    return true;
}

}  // namespace

Value make_object(Member* members, std::size_t n) {
    if (n < 2 || strictly_increasing(members, n)) return Value::object(members, n);

    if (n <= kInsertionSortMax) {
        insertion_sort(members, n);
    } else {
        std::stable_sort(members, members + n, key_less);
    }

    // Equal keys now sit together in insertion order; keep the last of each run.
    std::size_t out = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i + 1 < n && compare_keys(members[i].key, members[i + 1].key) == 0) continue;
        members[out++] = members[i];
    }
    return Value::object(members, out);
}

}  // namespace tessaly::json
