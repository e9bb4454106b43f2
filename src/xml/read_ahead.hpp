#pragma once
// A reader that reads on a second thread, ahead of its caller: the
// tokenizer's work and the caller's overlap. The caller is given the same
// events, and the same error at the same place, as a Reader over the same
// input would give it, call after call.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <string_view>

#include "xml/names.hpp"
#include "xml/reader.hpp"

namespace tessaly::xml {

// The attributes of a start or empty-element tag as read ahead: what an
// AttributeReader over its text gives, in order.
struct ReadAttributes {
    const Attribute* begin;
    const Attribute* end;
};

// Walks read attributes as an AttributeReader walks a tag's text.
class AttributeList {
public:
    explicit AttributeList(ReadAttributes r) : p_(r.begin), end_(r.end) {}
    bool next(Attribute& out) {
        if (p_ == end_) return false;
        out = *p_++;
        return true;
    }

private:
    const Attribute* p_;
    const Attribute* end_;
};

class ReadAhead {
public:
    // Over `document`, which must outlive the reader. Without a thread to be
    // had, it reads as it is asked.
    explicit ReadAhead(std::string_view document);
    // Stops the thread, wherever it is.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // As Reader::next(), the event given where it lies, valid until the
    // next call. An exception thrown while reading ahead (out of memory) is
    // thrown here, where the caller would have met it.
    std::expected<const Event*, ReadError> next() {
        if (index_ < count_) [[likely]] {
            // The events were written on the other core: asked for a few
            // ahead, they are here by the time they are read.
            __builtin_prefetch(events_ + index_ + kPrefetchAhead);
            __builtin_prefetch(places_ + index_ + kPrefetchAhead);
            return &events_[index_++];
        }
        return next_block();
    }

    // The local name of the start or empty-element tag given out last.
    std::string_view local_name(const Event& tag) const {
        if (!places_) return xml::local_name(tag.name);
        const std::uint32_t at = places_[index_ - 1].local;
        return {tag.name.data() + at, tag.name.size() - at};
    }

    // The attributes of the start or empty-element tag given out last, as
    // read ahead; null when they were not (a tag with more attributes than
    // a block holds), and then they are to be read from its text.
    const ReadAttributes* attributes() {
        if (!places_) return nullptr;  // read as asked, without a thread
        const Place& p = places_[index_ - 1];
        if (p.count == kUnread) return nullptr;
        read_ = {attributes_ + p.first, attributes_ + p.first + p.count};
        __builtin_prefetch(read_.end + kPrefetchAhead);
        return &read_;
    }

    // What was found in a start or empty-element tag beyond the event:
    // where its local name begins, and where its attributes are in its
    // block's list.
    struct Place {
        std::uint32_t local;
        std::uint32_t first;
        std::uint32_t count;
    };
    static constexpr std::uint32_t kUnread = UINT32_MAX;

protected:
    ReadAhead(ByteSource& source, std::size_t window_size, const bool* source_valid);
    bool valid_ = true;  // over a window: see WindowedReadAhead::all_valid()

private:
    static constexpr std::uint32_t kPrefetchAhead = 8;
    struct Shared;
    void start();
    std::expected<const Event*, ReadError> next_block();

    // The block being read: its events, how many, and how many given out;
    // where each event's attributes are, and the attributes.
    const Place* places_ = nullptr;
    const Attribute* attributes_ = nullptr;
    ReadAttributes read_{};
    Event own_{};  // the event given out when reading without a thread
    const Event* events_ = nullptr;
    std::uint32_t count_ = 0;
    std::uint32_t index_ = 0;
    std::unique_ptr<Shared> shared_;
};

// A ReadAhead over `source` through a window of `window_size` bytes, as a
// Reader reads it; the source must outlive the reader. A window's bytes are
// overwritten at its refill, so each event's bytes are copied beside it; an
// event too long for that is handed over where it lies, and the thread reads
// on only once the caller has gone past it. A type of its own, so that a walk
// over a document in memory is compiled without what a window's bytes need.
class WindowedReadAhead : public ReadAhead {
public:
    // `source_valid` is read on the reading thread: whether every byte the
    // source has given so far is valid UTF-8.
    WindowedReadAhead(ByteSource& source, std::size_t window_size, const bool* source_valid)
        : ReadAhead(source, window_size, source_valid) {}

    // Whether every byte read up to the end of the event given out last is
    // valid UTF-8, as the source said; to be read through the pointer at
    // any time.
    const bool* all_valid() const { return &valid_; }
};

}  // namespace tessaly::xml
