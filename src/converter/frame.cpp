#include "converter/frame.hpp"

#include <cstring>

#include "converter/text.hpp"

namespace tessaly::converter {

void ElementText::append(std::string_view piece, storage::Arena& arena) {
    if (piece.empty() || (first_.empty() && is_all_white_space(piece))) return;
    append_content(piece, arena);
}

void ElementText::append_content(std::string_view piece, storage::Arena& arena) {
    if (first_.empty()) {
        first_ = piece;
        return;
    }
    auto* p = arena.allocate_array<Piece>(1);
    *p = {piece, nullptr};
    if (more_tail_) more_tail_->next = p;
    else more_head_ = p;
    more_tail_ = p;
}

std::string_view ElementText::joined(storage::Arena& arena) const {
    // Measured here rather than kept: few elements get their text in pieces,
    // and a frame one word smaller is a power of two.
    std::size_t length = first_.size();
    for (const Piece* p = more_head_; p; p = p->next) length += p->text.size();
    char* d = static_cast<char*>(arena.allocate(length, 1));
    std::memcpy(d, first_.data(), first_.size());
    std::size_t w = first_.size();
    for (const Piece* p = more_head_; p; p = p->next) {
        std::memcpy(d + w, p->text.data(), p->text.size());
        w += p->text.size();
    }
    return {d, w};
}

}  // namespace tessaly::converter
