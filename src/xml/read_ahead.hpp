#pragma once
// A reader over a whole document in memory that reads on a second thread,
// ahead of its caller: the tokenizer's work and the caller's overlap. The
// caller is given the same events, and the same error at the same place,
// as a Reader over the same document would give it, call after call.

#include <cstdint>
#include <expected>
#include <memory>
#include <string_view>

#include "xml/reader.hpp"

namespace tessaly::xml {

class ReadAhead {
public:
    // Over `document`, which must outlive the reader. Without a thread to be
    // had, it reads as it is asked.
    explicit ReadAhead(std::string_view document);
    // Stops the thread, wherever it is.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // As Reader::next(). An exception thrown while reading ahead (out of
    // memory) is thrown here, where the caller would have met it.
    std::expected<void, ReadError> next(Event& out) {
        if (index_ < count_) [[likely]] {
            // The events were written on the other core: asked for a few
            // ahead, they are here by the time they are read.
            __builtin_prefetch(events_ + index_ + kPrefetchAhead);
            out = events_[index_++];
            return {};
        }
        return next_block(out);
    }

private:
    static constexpr std::uint32_t kPrefetchAhead = 8;
    struct Shared;
    std::expected<void, ReadError> next_block(Event& out);

    // The block being read: its events, how many, and how many given out.
    const Event* events_ = nullptr;
    std::uint32_t count_ = 0;
    std::uint32_t index_ = 0;
    std::unique_ptr<Shared> shared_;
};

}  // namespace tessaly::xml
