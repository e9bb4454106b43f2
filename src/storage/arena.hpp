#pragma once
// A bump allocator owned by one conversion. Everything a conversion builds
// (values, members, copied strings) lives here and is freed at once, never
// value by value and never recursively.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace tessaly::storage {

// Asks the kernel to back the whole pages of [p, p + n) with huge pages where
// it can: a conversion writes megabytes into fresh memory once, and taking
// it 4 KiB at a time costs a page fault each. Only advice; nothing changes
// when it is not taken.
void advise_huge_pages(void* p, std::size_t n);

class Arena {
public:
    Arena() = default;
    ~Arena() { release(); }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    void* allocate(std::size_t size, std::size_t align = alignof(std::max_align_t)) {
        // Align the address, not the offset: a block is only as aligned as
        // operator new makes it, which is less than some types ask for.
        std::uintptr_t base = reinterpret_cast<std::uintptr_t>(block_);
        std::size_t p = ((base + pos_ + align - 1) & ~(align - 1)) - base;
        if (p > cap_ || size > cap_ - p) return allocate_slow(size, align);
        pos_ = p + size;
        return block_ + p;
    }

    template <class T>
    T* allocate_array(std::size_t n) {
        return static_cast<T*>(allocate(sizeof(T) * n, alignof(T)));
    }

    // A copy of `s` that lives as long as the arena.
    std::string_view copy(std::string_view s) {
        if (s.empty()) return {};
        char* d = static_cast<char*>(allocate(s.size(), 1));
        std::memcpy(d, s.data(), s.size());
        return {d, s.size()};
    }

    // Where the next allocation would begin. Handing it to truncate_to later
    // frees everything allocated since, as long as that all went into the
    // same block; otherwise truncate_to does nothing.
    const char* mark() const { return block_ + pos_; }
    void truncate_to(const char* mark) {
        auto m = reinterpret_cast<std::uintptr_t>(mark), b = reinterpret_cast<std::uintptr_t>(block_);
        if (m >= b && m <= b + pos_) pos_ = static_cast<std::size_t>(m - b);
    }

    // Frees everything allocated so far but keeps the largest block for what
    // comes next: a stream of records reuses one block sized by the largest
    // record instead of growing with the stream.
    void clear();

    std::size_t bytes_reserved() const { return reserved_; }
    // Reserved bytes less the unused tail of the current block.
    std::size_t bytes_used() const { return reserved_ - (cap_ - pos_); }

private:
    void* allocate_slow(std::size_t size, std::size_t align);

    struct Block {
        char* data;
        std::size_t size;
        bool mapped;  // from mmap rather than new[]
    };
    void release();

    std::vector<Block> blocks_;
    char* block_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t cap_ = 0;
    std::size_t reserved_ = 0;
};

}  // namespace tessaly::storage
