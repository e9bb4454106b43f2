#include "json/arena.hpp"

#include <algorithm>

namespace tessaly::json {

namespace {
constexpr std::size_t kFirstBlock = 64 * 1024;
constexpr std::size_t kMaxBlock = 64 * 1024 * 1024;
}  // namespace

void* Arena::allocate_slow(std::size_t size, std::size_t align) {
    // Blocks double up to a limit, so small conversions stay small and large
    // ones make few allocations; a request larger than a block gets its own.
    std::size_t next = cap_ == 0 ? kFirstBlock : std::min(cap_ * 2, kMaxBlock);
    std::size_t need = size + align;
    if (need > next) next = need;
    blocks_.push_back(std::unique_ptr<char[]>(new char[next]));
    block_ = blocks_.back().get();
    cap_ = next;
    reserved_ += next;
    std::size_t p = (reinterpret_cast<std::uintptr_t>(block_) + align - 1) & ~(align - 1);
    p -= reinterpret_cast<std::uintptr_t>(block_);
    pos_ = p + size;
    return block_ + p;
}

std::string_view Arena::append(std::string_view s, std::string_view more) {
    if (more.empty()) return s;
    if (s.empty()) return copy(more);
    char* end = const_cast<char*>(s.data()) + s.size();
    if (end == block_ + pos_ && pos_ + more.size() <= cap_) {
        std::memcpy(end, more.data(), more.size());
        pos_ += more.size();
        return {s.data(), s.size() + more.size()};
    }
    char* d = static_cast<char*>(allocate(s.size() + more.size(), 1));
    std::memcpy(d, s.data(), s.size());
    std::memcpy(d + s.size(), more.data(), more.size());
    return {d, s.size() + more.size()};
}

}  // namespace tessaly::json
