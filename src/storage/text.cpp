#include "tessaly/text.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <sys/mman.h>
#include <utility>

#include "messages.hpp"
#include "storage/arena.hpp"

namespace tessaly {

namespace {
constexpr std::size_t kHugePage = 2 * 1024 * 1024;
std::size_t round_up(std::size_t n) { return (n + kHugePage - 1) & ~(kHugePage - 1); }
}  // namespace

Text::~Text() {
    if (data_) ::munmap(data_, capacity_);
}

Text::Text(Text&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

Text& Text::operator=(Text&& other) noexcept {
    if (this != &other) {
        if (data_) ::munmap(data_, capacity_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

std::expected<char*, std::string> Text::room(std::size_t n, std::size_t hint) {
    if (capacity_ - size_ >= n) return data_ + size_;
    if (n > SIZE_MAX / 4 - size_) return std::unexpected(messages::os_error(ENOMEM));
    // Doubling keeps the number of remaps logarithmic; pages mapped and
    // never written cost nothing.
    const std::size_t want = round_up(std::max({size_ + n, capacity_ * 2, hint}));
    void* p = data_ ? ::mremap(data_, capacity_, want, MREMAP_MAYMOVE)
                    : ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return std::unexpected(messages::os_error(errno));
    data_ = static_cast<char*>(p);
    capacity_ = want;
    storage::advise_huge_pages(data_, capacity_);
    return data_ + size_;
}

}  // namespace tessaly
