#include "xml/read_ahead.hpp"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>

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
    // 120 KiB a block, under 1 MiB in all, whatever the document's length;
    // over a window, 256 KiB more a block for the events' bytes.
    static constexpr std::uint32_t kBlockEvents = 1024;
    static constexpr std::uint32_t kBlockAttributes = 2048;
    static constexpr std::size_t kBlockBytes = 256 * 1024;
    // An event with more bytes than this is not copied but handed over
    // where it lies in the window.
    static constexpr std::size_t kLongEvent = kBlockBytes / 4;
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
        // Over a window: what the source said of the bytes read so far, when
        // the block was handed over.
        bool valid;
        Event events[kBlockEvents];
        Place places[kBlockEvents];  // of start and empty-element tags only
        Attribute attributes[kBlockAttributes];
    };
    struct Free {
        void operator()(void* p) const noexcept { std::free(p); }
    };

    explicit Shared(std::string_view document) : reader(document) {}
    Shared(ByteSource& source, std::size_t window_size, const bool* valid)
        : reader(source, window_size),
          source_valid(valid),
          bytes(static_cast<char*>(std::malloc(kBlockBytes * kBlocks))) {}

    Reader reader;
    // Over a window: the source's verdict, and each block's copies of its
    // events' bytes.
    const bool* source_valid = nullptr;
    std::unique_ptr<char, Free> bytes;
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

    bool ready() const { return blocks && (!source_valid || bytes); }
    void read();
    bool wait_for_released(std::uint32_t want);

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

    // The event's bytes copied to `to`, and its views moved there. A tag's
    // attribute text follows its name in the window, and every other event
    // has one of the two, so that is one copy.
    static void copy(Event& e, char* to) {
        const std::size_t name = e.name.size();
        if (name != 0 && !e.body.empty() && e.body.data() != e.name.data() + name) [[unlikely]] {
            copy_bytes(to, e.name.data(), name);
            copy_bytes(to + name, e.body.data(), e.body.size());
        } else {
            copy_bytes(to, name != 0 ? e.name.data() : e.body.data(), name + e.body.size());
        }
        e.name = {to, name};
        e.body = {to + name, e.body.size()};
    }

    // Most events are a few dozen bytes: those are copied inline, by two
    // overlapping loads of a fixed width, not through a call.
    static void copy_bytes(char* to, const char* from, std::size_t n) {
        const auto two = [&]<std::size_t W>(std::integral_constant<std::size_t, W>) {
            char head[W], tail[W];
            std::memcpy(head, from, W);
            std::memcpy(tail, from + n - W, W);
            std::memcpy(to, head, W);
            std::memcpy(to + n - W, tail, W);
        };
        if (n > 32) std::memcpy(to, from, n);
        else if (n >= 16) two(std::integral_constant<std::size_t, 16>{});
        else if (n >= 8) two(std::integral_constant<std::size_t, 8>{});
        else if (n >= 4) two(std::integral_constant<std::size_t, 4>{});
        else if (n > 0) {
            to[0] = from[0];
            to[n / 2] = from[n / 2];
            to[n - 1] = from[n - 1];
        }
    }
};

ReadAhead::ReadAhead(std::string_view document) : shared_(std::make_unique<Shared>(document)) { start(); }

ReadAhead::ReadAhead(ByteSource& source, std::size_t window_size, const bool* source_valid)
    : shared_(std::make_unique<Shared>(source, window_size, source_valid)) {
    start();
}

void ReadAhead::start() {
    Shared& s = *shared_;
    if (!s.ready()) return;
    try {
        s.thread = std::thread([&s] { s.read(); });
    } catch (const std::system_error&) {
        // No thread to be had: read as the caller asks.
    }
}

ReadAhead::~ReadAhead() {
    Shared& s = *shared_;
    if (!s.thread.joinable()) return;
    // Woken if it waits; it stops before its next block.
    s.stop.store(true, std::memory_order_release);
    s.released.fetch_add(Shared::kBlocks, std::memory_order_release);
    s.released.notify_one();
    s.thread.join();
}

// Waits until `want` blocks have been given back; false when the caller
// wants no more.
bool ReadAhead::Shared::wait_for_released(std::uint32_t want) {
    // Either the caller sees this, or this sees its count (both
    // sequentially consistent): a waking is never lost.
    wake_at.store(want, std::memory_order_seq_cst);
    for (std::uint32_t r = released.load(std::memory_order_seq_cst); before(r, want);
         r = released.load(std::memory_order_seq_cst)) {
        if (stop.load(std::memory_order_acquire)) return false;
        released.wait(r, std::memory_order_seq_cst);
    }
    return !stop.load(std::memory_order_acquire);
}

void ReadAhead::Shared::read() {
    // Over a window, an event read that did not fit in the last block's
    // bytes: it begins the next one. Its bytes stay in the window, since
    // the reader is not asked for more meanwhile.
    Event held{};
    bool holding = false;
    for (std::uint32_t n = 0;; ++n) {
        // Room for block n once block n - kBlocks has been given back; when
        // there is none, it waits until half the ring is free.
        if (n - released.load(std::memory_order_acquire) >= kBlocks && !wait_for_released(n - kBlocks / 2)) return;
        if (stop.load(std::memory_order_acquire)) return;
        Block& b = blocks.get()[n % kBlocks];
        b.count = 0;
        b.last = false;
        char* const room = source_valid ? bytes.get() + (n % kBlocks) * kBlockBytes : nullptr;
        std::size_t used = 0;
        // Over a window: an event left where it lies, the block's last.
        bool lent = false;
        // The first blocks are short, so that the walk starts at once; then
        // full ones, handed over seldom.
        const std::uint32_t size = n < 4 ? kBlockEvents >> (4 - n) : kBlockEvents;
        std::uint32_t attributes = 0;
        do {
            Event& e = b.events[b.count];
            try {
                if (holding) {
                    e = held;
                    holding = false;
                } else if (auto got = reader.next(e); !got) {
                    error = std::move(got.error());
                    b.last = true;
                    break;
                }
                if (room) {
                    const std::size_t need = e.name.size() + e.body.size();
                    if (need > kLongEvent) {
                        lent = true;
                    } else if (used + need > kBlockBytes) {
                        held = e;
                        holding = true;
                        break;
                    } else {
                        copy(e, room + used);
                        used += need;
                    }
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
        } while (!b.last && !lent && b.count < size && attributes <= kBlockAttributes - kTagRoom);
        b.valid = source_valid && *source_valid;
        filled.store(n + 1, std::memory_order_release);
        filled.notify_one();
        if (b.last) return;
        // The window is not refilled until the caller is done with the event lent.
        if (lent && !wait_for_released(n + 1)) return;
    }
}

std::expected<const Event*, ReadError> ReadAhead::next_block() {
    Shared& s = *shared_;
    if (!s.thread.joinable()) {
        if (auto read = s.reader.next(own_); !read) return std::unexpected(std::move(read.error()));
        valid_ = s.source_valid && *s.source_valid;
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
    valid_ = s.current->valid;
    index_ = 0;
    if (count_ == 0) return next_block();  // ended at once: by an error or an exception
    return &events_[index_++];
}

}  // namespace tessaly::xml
