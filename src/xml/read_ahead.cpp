#include "xml/read_ahead.hpp"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>

namespace tessaly::xml {

namespace {
// Whether count `a` comes before count `b`, should the counts ever wrap.
bool before(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b) < 0; }
}  // namespace

// The second thread and what it hands over: events in blocks, in a ring the
// caller empties as the thread fills it. Each block is written by the thread
// alone until it is handed over (`filled`), then read by the caller alone
// until it is given back (`released`); the counters only grow.
struct ReadAhead::Shared {
    // 120 KiB a block, under 1 MiB in all, whatever the document's length.
    static constexpr std::uint32_t kBlockEvents = 1024;
    static constexpr std::uint32_t kBlockAttributes = 2048;
    // A block is handed over early rather than begin a tag with less room
    // than this for its attributes; a tag with more than the room left has
    // its attributes read by the caller.
    static constexpr std::uint32_t kTagRoom = 64;
    static constexpr std::uint32_t kBlocks = 8;
    struct Block {
        std::uint32_t count;
        // The events end with this block: with EndOfInput, its last event,
        // or with the error or exception below.
        bool last;
        Event events[kBlockEvents];
        Place places[kBlockEvents];  // of start and empty-element tags only
        Attribute attributes[kBlockAttributes];
    };
    struct Free {
        void operator()(Block* b) const noexcept { std::free(b); }
    };

    explicit Shared(std::string_view document) : reader(document) {}

    Reader reader;
    // Storage alone: each block's fields are written before they are read.
    std::unique_ptr<Block, Free> blocks{static_cast<Block*>(std::malloc(sizeof(Block) * kBlocks))};
    std::atomic<std::uint32_t> filled{0};    // blocks handed over by the thread
    std::atomic<std::uint32_t> released{0};  // blocks given back by the caller
    std::atomic<bool> stop{false};           // the caller wants no more
    // While the thread waits for room: the count of blocks given back that
    // wakes it, half the ring, so that it is woken once for every few
    // blocks rather than for each. The thread is ahead most of the time,
    // and each waking is a system call on the caller's side.
    std::atomic<std::uint32_t> wake_at{0};
    std::optional<ReadError> error;
    std::exception_ptr exception;
    std::thread thread;

    // The caller's place: blocks taken so far, and the last one taken.
    std::uint32_t taken = 0;
    const Block* current = nullptr;

    void read();

    // The attributes of a tag with attribute text `text`, put in `list`
    // from `used` on, as the walk over the text gives them.
    static Place read_attributes(std::string_view text, Attribute* list, std::uint32_t& used) {
        const std::uint32_t first = used;
        if (text.empty()) return {0, first, 0};
        AttributeReader walk(text);
        for (Attribute a; walk.next(a); list[used++] = a)
            if (used == kBlockAttributes) {
                used = first;
                return {0, first, kUnread};
            }
        return {0, first, used - first};
    }
};

ReadAhead::ReadAhead(std::string_view document) : shared_(std::make_unique<Shared>(document)) {
    Shared& s = *shared_;
    if (!s.blocks) return;
    try {
        s.thread = std::thread([&s] { s.read(); });
    } catch (const std::system_error&) {
        // No thread to be had: read as the caller asks.
    }
}

ReadAhead::~ReadAhead() {
    Shared& s = *shared_;
    if (!s.thread.joinable()) return;
    // Woken if it waits for room; it stops before its next block.
    s.stop.store(true, std::memory_order_release);
    s.released.fetch_add(Shared::kBlocks, std::memory_order_release);
    s.released.notify_one();
    s.thread.join();
}

void ReadAhead::Shared::read() {
    for (std::uint32_t n = 0;; ++n) {
        // Room for block n once block n - kBlocks has been given back; when
        // there is none, it waits until half the ring is free.
        if (n - released.load(std::memory_order_acquire) >= kBlocks) {
            const std::uint32_t want = n - kBlocks / 2;
            // Either the caller sees this, or this sees its count (both
            // sequentially consistent): a waking is never lost.
            wake_at.store(want, std::memory_order_seq_cst);
            for (std::uint32_t r = released.load(std::memory_order_seq_cst); before(r, want);
                 r = released.load(std::memory_order_seq_cst)) {
                if (stop.load(std::memory_order_acquire)) return;
                released.wait(r, std::memory_order_seq_cst);
            }
        }
        if (stop.load(std::memory_order_acquire)) return;
        Block& b = blocks.get()[n % kBlocks];
        b.count = 0;
        b.last = false;
        // The first blocks are short, so that the walk starts at once; then
        // full ones, handed over seldom.
        const std::uint32_t size = n < 4 ? kBlockEvents >> (4 - n) : kBlockEvents;
        std::uint32_t attributes = 0;
        do {
            Event& e = b.events[b.count];
            try {
                if (auto got = reader.next(e); !got) {
                    error = std::move(got.error());
                    b.last = true;
                    break;
                }
                if (e.kind == EventKind::StartTag || e.kind == EventKind::EmptyTag) {
                    Place& place = b.places[b.count];
                    place = read_attributes(e.body, b.attributes, attributes);
                    place.local = static_cast<std::uint32_t>(xml::local_name(e.name).data() - e.name.data());
                }
            } catch (...) {
                exception = std::current_exception();
                b.last = true;
                break;
            }
            ++b.count;
            b.last = e.kind == EventKind::EndOfInput;
        } while (!b.last && b.count < size && attributes <= kBlockAttributes - kTagRoom);
        filled.store(n + 1, std::memory_order_release);
        filled.notify_one();
        if (b.last) return;
    }
}

std::expected<const Event*, ReadError> ReadAhead::next_block() {
    Shared& s = *shared_;
    if (!s.thread.joinable()) {
        if (auto read = s.reader.next(own_); !read) return std::unexpected(std::move(read.error()));
        return &own_;
    }
    if (s.current && s.current->last) {
        // Every event is given out: the same end again, as a reader gives.
        if (s.exception) std::rethrow_exception(s.exception);
        if (s.error) return std::unexpected(*s.error);
        return &s.current->events[s.current->count - 1];
    }
    if (s.current) {
        s.released.store(s.taken, std::memory_order_seq_cst);
        if (s.taken == s.wake_at.load(std::memory_order_seq_cst)) s.released.notify_one();
    }
    for (std::uint32_t f = s.filled.load(std::memory_order_acquire); f == s.taken;
         f = s.filled.load(std::memory_order_acquire))
        s.filled.wait(f, std::memory_order_acquire);
    s.current = &s.blocks.get()[s.taken % Shared::kBlocks];
    ++s.taken;
    events_ = s.current->events;
    places_ = s.current->places;
    attributes_ = s.current->attributes;
    count_ = s.current->count;
    index_ = 0;
    if (count_ == 0) return next_block();  // ended at once: by an error or an exception
    return &events_[index_++];
}

}  // namespace tessaly::xml
