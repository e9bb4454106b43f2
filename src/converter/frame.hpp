#pragma once
// One open element while a document is walked: its declaration in force, its
// name, its typed attributes, its character data and where its finished
// children begin on the walker's child stack.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "converter/automaton.hpp"
#include "converter/text.hpp"
#include "storage/arena.hpp"
#include "storage/value.hpp"

namespace tessaly::converter {

// Character data of one element, gathered piece by piece in document order
// and joined only when the element closes. White space that arrives before
// any other text is dropped at once: trimming would remove it anyway, and
// container elements of indented documents receive little else.
class ElementText {
public:
    // `piece` must outlive the frame (a view of the input or of the arena).
    void append(std::string_view piece, storage::Arena& arena);
    // The same for a piece known to matter: not empty, and not all white
    // space unless content arrived before.
    void append_content(std::string_view piece, storage::Arena& arena);
    // The joined text trimmed of White_Space at both ends; absent when
    // nothing remains. Inline: it is asked of every element that closes,
    // and most have no text or a single piece.
    std::optional<std::string_view> finalize(storage::Arena& arena) const {
        if (first_.empty()) return std::nullopt;
        std::string_view trimmed = trim_white_space(more_head_ ? joined(arena) : first_);
        if (trimmed.empty()) return std::nullopt;
        return trimmed;
    }
    bool has_content() const { return !first_.empty(); }

private:
    // The pieces copied one after another into the arena.
    std::string_view joined(storage::Arena& arena) const;

    struct Piece {
        std::string_view text;
        Piece* next;
    };
    std::string_view first_;  // empty until a piece with content arrives
    Piece* more_head_ = nullptr;
    Piece* more_tail_ = nullptr;
};

// The arena's allocations for one open element's text: everything handed
// out after its start tag has been dealt with (the lookups, the xsi:type
// switch and the attribute values all allocate before the region starts)
// until it closes. While the element has no children, nothing else
// allocates there: key texts and automaton states have storage of their own.
// So the region can be given back whole when such an element closes with
// text that became a number, a boolean or nothing.
class TextRegion {
public:
    explicit TextRegion(storage::Arena& arena) : start_(arena.mark()) {}
    void give_back(storage::Arena& arena) const { arena.truncate_to(start_); }

private:
    const char* start_;
};

struct BuildFrame {
    // Every field set at once: a frame is made for every element, and
    // clearing it first as a block costs more than the frame's own work.
    BuildFrame(StateId s, storage::KeyId k, std::size_t attributes, std::size_t children, TextRegion region)
        : state(s), key(k), attributes_begin(attributes), children_begin(children), text_region(region) {}

    StateId state;  // its declaration in force
    storage::KeyId key;  // its local name: the JSON key in the parent
    // Where its attributes (keys, typed values, document order) and its
    // finished children begin on the walker's stacks. Both are needed only
    // until the element closes, so they never take room in the arena.
    std::size_t attributes_begin;
    ElementText text;
    std::size_t children_begin;
    TextRegion text_region;
};

// One finished child waiting for its parent to close.
struct ChildSlot {
    storage::KeyId key;
    bool always_array;
    storage::Value value;
};

}  // namespace tessaly::converter
