#include "storage/arena.hpp"

#include <algorithm>
#include <new>
#include <sys/mman.h>

namespace tessaly::storage {

namespace {
constexpr std::size_t kFirstBlock = 64 * 1024;
constexpr std::size_t kMaxBlock = 64 * 1024 * 1024;
// Blocks from this size on are mapped directly and offered huge pages: a
// large conversion touches every page of its arena once, and with 4 KiB
// pages the faults alone cost a tenth of the time.
constexpr std::size_t kMappedBlock = 4 * 1024 * 1024;
}  // namespace

void advise_huge_pages(void* p, std::size_t n) {
    constexpr std::uintptr_t kPage = 4096;
    constexpr std::size_t kWorthIt = 4 * 1024 * 1024;
    if (n < kWorthIt) return;
    std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(p) + kPage - 1) & ~(kPage - 1);
    std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(kPage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void Arena::release() {
    for (const Block& b : blocks_) {
        if (b.mapped) ::munmap(b.data, b.size);
        else delete[] b.data;
    }
    blocks_.clear();
}

void Arena::clear() {
    if (blocks_.size() <= 1) {  // the usual case between records: nothing to free
        pos_ = 0;
        return;
    }
    auto largest = std::max_element(blocks_.begin(), blocks_.end(),
                                    [](const Block& a, const Block& b) { return a.size < b.size; });
    Block keep = *largest;
    blocks_.erase(largest);
    release();
    blocks_.push_back(keep);
    block_ = keep.data;
    cap_ = keep.size;
    pos_ = 0;
    reserved_ = keep.size;
}

void* Arena::allocate_slow(std::size_t size, std::size_t align) {
    // Blocks double up to a limit, so small conversions stay small and large
    // ones make few allocations; a request larger than a block gets its own.
    std::size_t next = cap_ == 0 ? kFirstBlock : std::min(cap_ * 2, kMaxBlock);
    std::size_t need = size + align;
    if (need > next) next = need;
    // Room for the record first, so that a block is never allocated and then lost.
    if (blocks_.size() == blocks_.capacity()) blocks_.reserve(blocks_.size() * 2 + 8);
    char* data = nullptr;
    bool mapped = false;
    if (next >= kMappedBlock) {
        void* m = ::mmap(nullptr, next, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) throw std::bad_alloc();
        advise_huge_pages(m, next);
        data = static_cast<char*>(m);
        mapped = true;
    } else {
        data = new char[next];
    }
    blocks_.push_back({data, next, mapped});
    block_ = data;
    cap_ = next;
    reserved_ += next;
    std::size_t p = (reinterpret_cast<std::uintptr_t>(block_) + align - 1) & ~(align - 1);
    p -= reinterpret_cast<std::uintptr_t>(block_);
    pos_ = p + size;
    return block_ + p;
}

}  // namespace tessaly::storage
