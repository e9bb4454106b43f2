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
        length_ = piece.size();
        return;
    }
    auto* p = arena.allocate_array<Piece>(1);
    *p = {piece, nullptr};
    if (more_tail_) more_tail_->next = p;
    else more_head_ = p;
    more_tail_ = p;
    length_ += piece.size();
}

std::string_view ElementText::joined(storage::Arena& arena) const {
    char* d = static_cast<char*>(arena.allocate(length_, 1));
    std::memcpy(d, first_.data(), first_.size());
    std::size_t w = first_.size();
    for (const Piece* p = more_head_; p; p = p->next) {
        std::memcpy(d + w, p->text.data(), p->text.size());
        w += p->text.size();
    }
    return {d, w};
}

}  // namespace tessaly::converter
