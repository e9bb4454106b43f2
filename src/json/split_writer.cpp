// A value's text written on two threads: one container with many entries
// is cut into segments, and a second thread writes every other one.

#include <algorithm>
#include <atomic>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "json/value_writer.hpp"
#include "json/writer.hpp"
#include "storage/packed.hpp"

namespace tessaly::json {

namespace detail {

namespace {

namespace packed = storage::packed;

// The container to cut: going down from the root, each time into the entry
// with the most entries, the first with kSplitFrom entries or more. Its
// segments are small enough that the ring of the second thread's texts
// stays small (about 4 MiB for 300 MB of text).
constexpr std::size_t kSplitFrom = 128;
constexpr std::size_t kSegments = 256;
constexpr std::size_t kSplitDepth = 16;

bool is_container(const Value& v) { return v.kind() == Kind::Array || v.kind() == Kind::Object; }

// The entry packed at `p` (its value; an object's key is passed over), and
// `p` moved past it.
Value next_entry(const std::uint8_t*& p, bool object) {
    if (object) packed::get_varint(p);
    return packed::get_value(p);
}

}  // namespace

std::optional<Split> find_split(const Value& root) {
    Value v = root;
    for (std::size_t indent = 2; indent < 2 * kSplitDepth; indent += 2) {
        if (!is_container(v) || v.size() == 0) return std::nullopt;
        const bool object = v.kind() == Kind::Object;
        const std::uint8_t* p = v.record();
        packed::get_varint(p);  // the count, which v holds already
        if (v.size() >= kSplitFrom) {
            Split split{object, indent, {}, {}, v.size()};
            const std::size_t per = (v.size() + kSegments - 1) / kSegments;
            for (std::size_t done = 0; done < v.size(); done += split.counts.back()) {
                split.bounds.push_back(p);
                split.counts.push_back(std::min(per, v.size() - done));
                for (std::size_t i = 0; i < split.counts.back(); ++i) next_entry(p, object);
            }
            split.bounds.push_back(p);
            return split;
        }
        std::optional<Value> widest;
        for (std::size_t i = 0; i < v.size(); ++i)
            if (const Value c = next_entry(p, object); is_container(c) && (!widest || c.size() > widest->size()))
                widest = c;
        if (!widest) return std::nullopt;
        v = *widest;
    }
    return std::nullopt;
}

namespace {

// Writes the odd segments of a split on a second thread, into a ring of
// buffers that the writer of the whole takes in order and gives back.
class SegmentWriter final : public Segments {
public:
    SegmentWriter(const Split& split, const RenderedKeys& keys, bool pretty) {
        try {
            thread_ = std::thread([this, &split, &keys, pretty] { write_all(split, keys, pretty); });
        } catch (const std::system_error&) {
            // No thread to be had: the writer of the whole writes every segment.
        }
    }
    ~SegmentWriter() {
        if (!thread_.joinable()) return;
        stop_.store(true, std::memory_order_release);
        taken_.fetch_add(kRing, std::memory_order_release);
        taken_.notify_one();
        thread_.join();
    }
    SegmentWriter(const SegmentWriter&) = delete;
    SegmentWriter& operator=(const SegmentWriter&) = delete;

    bool running() const { return thread_.joinable(); }

    // The text of odd segment 2k + 1, once written; what the thread threw,
    // thrown here.
    const std::string& take(std::size_t k) override {
        std::size_t w = written_.load(std::memory_order_acquire);
        for (; w != kFailed && w <= k; w = written_.load(std::memory_order_acquire))
            written_.wait(w, std::memory_order_acquire);
        if (w == kFailed) std::rethrow_exception(exception_);
        return buffers_[k % kRing];
    }
    // The text taken last is spliced in: its buffer may be written again.
    void give_back() override {
        taken_.fetch_add(1, std::memory_order_release);
        taken_.notify_one();
    }

private:
    static constexpr std::size_t kRing = 4;
    static constexpr std::size_t kFailed = SIZE_MAX;

    void write_all(const Split& split, const RenderedKeys& keys, bool pretty) {
        for (std::size_t k = 0; 2 * k + 1 < split.counts.size(); ++k) {
            for (std::size_t t = taken_.load(std::memory_order_acquire); k - t >= kRing && !stopped();
                 t = taken_.load(std::memory_order_acquire))
                taken_.wait(t, std::memory_order_acquire);
            if (stopped()) return;
            std::string& out = buffers_[k % kRing];
            out.clear();
            try {
                write_entries(pretty, keys, split.bounds[2 * k + 1], split.counts[2 * k + 1], split.object,
                              split.indent, out);
            } catch (...) {
                exception_ = std::current_exception();
                written_.store(kFailed, std::memory_order_release);
                written_.notify_one();
                return;
            }
            written_.store(k + 1, std::memory_order_release);
            written_.notify_one();
        }
    }
    bool stopped() const { return stop_.load(std::memory_order_acquire); }

    std::string buffers_[kRing];
    std::atomic<std::size_t> written_{0};  // odd segments written, or kFailed
    std::atomic<std::size_t> taken_{0};    // odd segments spliced in
    std::atomic<bool> stop_{false};
    std::exception_ptr exception_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<Segments> write_odd_segments(const Split& split, const RenderedKeys& keys, bool pretty) {
    auto segments = std::make_unique<SegmentWriter>(split, keys, pretty);
    if (!segments->running()) return nullptr;
    return segments;
}

}  // namespace detail

}  // namespace tessaly::json
