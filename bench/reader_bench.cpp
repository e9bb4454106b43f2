// Throughput of the XML pull tokenizer alone, with nothing of the converter:
// every event is read, counted by kind, and every tag's attributes are walked.
//
//   reader_bench [--repeat N] [--window BYTES] [--check-only] FILE...
//
// For each file it runs the reader over the bytes in memory, and in window
// mode through a ByteSource that hands out the same bytes from memory (so the
// figure is the reader's, not the disk's), best of N runs each, and prints
// MB/s (MB = 10^6 bytes). Before timing, an untimed pass hashes every event
// (kind, name and body bytes, every attribute name and value) and the error
// text, if any, in both modes; the two hashes must agree, and the printed
// checksum is what to compare before and after a change of the reader.
// Build: configure with -DTESSALY_BENCH=ON, target reader_bench.

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "messages.hpp"
#include "xml/reader.hpp"

namespace {

using tessaly::xml::Attribute;
using tessaly::xml::AttributeReader;
using tessaly::xml::ByteSource;
using tessaly::xml::Event;
using tessaly::xml::EventKind;
using tessaly::xml::Reader;

constexpr std::size_t kKinds = static_cast<std::size_t>(EventKind::EndOfInput) + 1;
constexpr const char* kKindNames[kKinds] = {"start", "end", "empty", "text", "cdata", "comment",
                                            "decl", "pi", "doctype", "ref", "eoi"};

// Hands out a document held in memory, in reads as large as asked for, as a
// file would.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view doc) : doc_(doc) {}
    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) override {
        const std::size_t n = std::min(capacity, doc_.size() - pos_);
        std::memcpy(dst, doc_.data() + pos_, n);
        pos_ += n;
        return n;
    }

private:
    std::string_view doc_;
    std::size_t pos_ = 0;
};

struct Tally {
    std::uint64_t kinds[kKinds] = {};
    std::uint64_t attributes = 0;
    std::uint64_t lengths = 0;  // name, body, attribute name and value lengths, summed
    bool failed = false;
};

// The timed walk: counts only, so the reader's cost dominates.
Tally walk(Reader& reader) {
    Tally t;
    Event ev;
    while (true) {
        if (auto read = reader.next(ev); !read) {
            t.failed = true;
            return t;
        }
        ++t.kinds[static_cast<std::size_t>(ev.kind)];
        t.lengths += ev.name.size() + ev.body.size();
        if (ev.kind == EventKind::StartTag || ev.kind == EventKind::EmptyTag) {
            AttributeReader attrs(ev.body);
            Attribute a;
            while (attrs.next(a)) {
                ++t.attributes;
                t.lengths += a.name.size() + a.value.size();
            }
        }
        if (ev.kind == EventKind::EndOfInput) return t;
    }
}

// FNV-1a, 64 bits, with each field's length mixed in before its bytes so
// that moving a byte from one field to the next changes the hash.
struct Hash {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    void byte(unsigned char c) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    void field(std::string_view s) {
        for (int i = 0; i < 8; ++i) byte(static_cast<unsigned char>(s.size() >> (8 * i)));
        for (char c : s) byte(static_cast<unsigned char>(c));
    }
};

std::uint64_t checksum(Reader& reader) {
    Hash h;
    Event ev;
    while (true) {
        if (auto read = reader.next(ev); !read) {
            h.byte(0xFF);
            h.field(tessaly::messages::read_error(read.error()));
            return h.h;
        }
        h.byte(static_cast<unsigned char>(ev.kind));
        h.field(ev.name);
        h.field(ev.body);
        if (ev.kind == EventKind::StartTag || ev.kind == EventKind::EmptyTag) {
            AttributeReader attrs(ev.body);
            Attribute a;
            while (attrs.next(a)) {
                h.field(a.name);
                h.field(a.value);
            }
        }
        if (ev.kind == EventKind::EndOfInput) return h.h;
    }
}

// The file's bytes in a heap block of exactly their size, so that under
// AddressSanitizer a read past the end of the document is caught.
struct Document {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    std::string_view view() const { return {bytes.get(), size}; }
};

bool read_file(const char* path, Document& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return false;
    out.bytes = std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(all.size(), 1));
    std::memcpy(out.bytes.get(), all.data(), all.size());
    out.size = all.size();
    return true;
}

template <typename Run>
double best_seconds(int repeat, Run run) {
    double best = 1e300;
    for (int i = 0; i < repeat; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        run();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 5;
    std::size_t window = std::size_t{8} << 20;
    bool check_only = false;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--window") == 0 && i + 1 < argc) {
            window = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--check-only") == 0) {
            check_only = true;
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.empty() || repeat < 1 || window == 0) {
        std::fprintf(stderr, "usage: %s [--repeat N] [--window BYTES] [--check-only] FILE...\n", argv[0]);
        return 2;
    }

    int status = 0;
    for (const char* path : paths) {
        Document file;
        if (!read_file(path, file)) {
            std::fprintf(stderr, "cannot read %s\n", path);
            return 2;
        }
        const std::string_view doc = file.view();
        Reader memory_reader(doc);
        const std::uint64_t sum_memory = checksum(memory_reader);
        MemorySource source(doc);
        Reader window_reader(source, window);
        const std::uint64_t sum_window = checksum(window_reader);
        std::printf("%s: %zu bytes, checksum %016" PRIx64, path, doc.size(), sum_memory);
        if (sum_window != sum_memory) {
            std::printf(" WINDOW MISMATCH %016" PRIx64, sum_window);
            status = 1;
        }
        std::printf("\n");
        if (check_only) continue;

        Tally tally;
        const double t_memory = best_seconds(repeat, [&] {
            Reader reader(doc);
            tally = walk(reader);
        });
        const double t_window = best_seconds(repeat, [&] {
            MemorySource s(doc);
            Reader reader(s, window);
            walk(reader);
        });
        std::printf("  events:");
        for (std::size_t k = 0; k < kKinds; ++k) {
            if (tally.kinds[k] != 0) std::printf(" %s=%" PRIu64, kKindNames[k], tally.kinds[k]);
        }
        std::printf(" attributes=%" PRIu64 " lengths=%" PRIu64 "%s\n", tally.attributes, tally.lengths,
                    tally.failed ? " (ended in an error)" : "");
        const double mb = static_cast<double>(doc.size()) / 1e6;
        std::printf("  memory: %8.1f MB/s   window %zu: %8.1f MB/s   (best of %d)\n", mb / t_memory, window,
                    mb / t_window, repeat);
    }
    return status;
}
