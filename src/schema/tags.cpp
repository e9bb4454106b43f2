#include "schema/tags.hpp"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>

namespace tessaly::schema {

// The second thread and what it hands over: tags in blocks, in a ring the
// parser empties as the thread fills it. Each block is written by the thread
// alone until it is handed over (`filled`), then read by the parser alone
// until it is given back (`released`); the counters only grow.
struct TagReader::Ahead {
    // Room for more than 11000 tags (the first blocks are short), the whole
    // of the UBL common aggregate components (about 5600), so that the
    // thread never waits while the parser reads the documents that one
    // names; 384 KiB, whatever the document's length.
    static constexpr std::uint32_t kBlockTags = 1024;
    static constexpr std::uint32_t kBlocks = 16;
    struct Block {
        std::uint32_t count;
        Tag tags[kBlockTags];
    };
    struct Free {
        void operator()(Block* b) const noexcept { std::free(b); }
    };
    // A tag of this kind ends the tags: the reader failed (`error`) or threw
    // (`exception`), written before the block that ends with it is handed over.
    static constexpr auto kFailed = static_cast<xml::EventKind>(0xff);

    // Storage alone: each block's count and tags are written before they
    // are read, so nothing is written up front.
    std::unique_ptr<Block, Free> blocks{static_cast<Block*>(std::malloc(sizeof(Block) * kBlocks))};
    std::atomic<std::uint32_t> filled{0};    // blocks handed over by the thread
    std::atomic<std::uint32_t> released{0};  // blocks given back by the parser
    std::atomic<bool> stop{false};           // the parser wants no more
    std::optional<xml::ReadError> error;
    std::exception_ptr exception;
    std::thread thread;

    // The parser's place: blocks taken so far, and in the last one taken.
    std::uint32_t taken = 0;
    const Block* block = nullptr;
    std::uint32_t index = 0;
    // What the parser was given last, once the tags have ended.
    std::optional<std::expected<Tag, xml::ReadError>> final;
    bool thrown = false;
};

TagReader::TagReader(std::string_view text, bool ahead) : reader_(text) {
    open_.reserve(32);
    if (!ahead) return;
    ahead_ = std::make_unique<Ahead>();
    if (!ahead_->blocks) {
        ahead_.reset();
        return;
    }
    try {
        ahead_->thread = std::thread([this] { read_ahead(); });
    } catch (const std::system_error&) {
        ahead_.reset();  // no thread to be had: read as the parser asks
    }
}

TagReader::~TagReader() {
    if (!ahead_) return;
    // Woken if it waits for room; it stops before its next tag.
    ahead_->stop.store(true, std::memory_order_release);
    ahead_->released.fetch_add(Ahead::kBlocks, std::memory_order_release);
    ahead_->released.notify_one();
    ahead_->thread.join();
}

std::expected<Tag, xml::ReadError> TagReader::read_one() {
    xml::Event ev;
    for (;;) {
        if (auto read = reader_.next(ev); !read) return std::unexpected(std::move(read.error()));
        switch (ev.kind) {
            case xml::EventKind::StartTag: {
                const XsdName name = classify(local_part(ev.name));
                open_.push_back(name);
                if (name != XsdName::Other) return Tag{xml::EventKind::StartTag, name, ev.body};
                break;
            }
            case xml::EventKind::EmptyTag: {
                const XsdName name = classify(local_part(ev.name));
                if (name != XsdName::Other) return Tag{xml::EventKind::EmptyTag, name, ev.body};
                break;
            }
            case xml::EventKind::EndTag: {
                XsdName name;
                if (!open_.empty()) {
                    name = open_.back();
                    open_.pop_back();
                } else {
                    name = classify(local_part(ev.name));
                }
                if (name != XsdName::Other) return Tag{xml::EventKind::EndTag, name, {}};
                break;
            }
            case xml::EventKind::EndOfInput: return Tag{};
            default: break;  // text, comments, declarations and references carry nothing
        }
    }
}

void TagReader::read_ahead() {
    Ahead& a = *ahead_;
    for (std::uint32_t n = 0;; ++n) {
        // Room for block n once block n - kBlocks has been given back.
        for (std::uint32_t r = a.released.load(std::memory_order_acquire); n - r >= Ahead::kBlocks;
             r = a.released.load(std::memory_order_acquire)) {
            if (a.stop.load(std::memory_order_acquire)) return;
            a.released.wait(r, std::memory_order_acquire);
        }
        Ahead::Block& b = a.blocks.get()[n % Ahead::kBlocks];
        b.count = 0;
        // The first blocks are short (16, 32, ... tags), so that the parser
        // starts at once and soon meets an include near the top; then full
        // ones, handed over seldom.
        const std::uint32_t size = n < 6 ? Ahead::kBlockTags >> (6 - n) : Ahead::kBlockTags;
        bool last = false;
        do {
            if (a.stop.load(std::memory_order_relaxed)) return;
            Tag t;
            try {
                auto got = read_one();
                if (got) {
                    t = *got;
                } else {
                    a.error = std::move(got.error());
                    t.kind = Ahead::kFailed;
                }
            } catch (...) {
                a.exception = std::current_exception();
                t.kind = Ahead::kFailed;
            }
            last = t.kind == xml::EventKind::EndOfInput || t.kind == Ahead::kFailed;
            b.tags[b.count++] = t;
        } while (!last && b.count < size);
        a.filled.store(n + 1, std::memory_order_release);
        a.filled.notify_one();
        if (last) return;
    }
}

std::expected<Tag, xml::ReadError> TagReader::next() {
    if (!ahead_) return read_one();
    Ahead& a = *ahead_;
    if (a.final) return *a.final;
    if (a.thrown) std::rethrow_exception(a.exception);
    if (!a.block || a.index == a.block->count) {
        if (a.block) {
            a.released.store(a.taken, std::memory_order_release);
            a.released.notify_one();
        }
        std::uint32_t f = a.filled.load(std::memory_order_acquire);
        while (f == a.taken) {
            a.filled.wait(f, std::memory_order_acquire);
            f = a.filled.load(std::memory_order_acquire);
        }
        a.block = &a.blocks.get()[a.taken % Ahead::kBlocks];
        ++a.taken;
        a.index = 0;
    }
    const Tag& t = a.block->tags[a.index++];
    if (t.kind == xml::EventKind::EndOfInput) {
        a.final = t;
    } else if (t.kind == Ahead::kFailed) {
        if (a.exception) {
            a.thrown = true;
            std::rethrow_exception(a.exception);
        }
        a.final = std::unexpected(*a.error);
    } else {
        return t;
    }
    return *a.final;
}

}  // namespace tessaly::schema
