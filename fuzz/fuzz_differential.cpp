// One document, converted three ways: in memory, file to file through a
// window that takes the whole input at once, and file to file through a
// window of 1 to 64 bytes. The first byte picks the schema and the convention
// (schemas.hpp), the second the small window's size; the rest is the
// document. All three must give the same bytes, or the same error. Input
// that is not UTF-8 is repaired first, since memory input must be UTF-8; the
// raw bytes then also go through both file conversions, which must agree.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "common.hpp"
#include "converter/convert.hpp"
#include "schemas.hpp"

namespace {

using tessaly::Result;
using tessaly::converter::ConvertOptions;

struct Job {
    std::string_view xml;
    fuzz::Choice choice;
    std::size_t small_window;
};

Result<std::string> in_memory(const Job& job) {
    return tessaly::converter::convert_to_string(job.xml, *job.choice.model, job.choice.convention);
}

Result<std::string> through_files(const Job& job, const ConvertOptions& options) {
    static const std::string in = fuzz::private_path("in.xml");
    static const std::string out = fuzz::private_path("out.json");
    fuzz::write_file(in, job.xml);
    std::remove(out.c_str());
    auto done = tessaly::converter::convert_file(in, *job.choice.model, out, job.choice.convention, options);
    if (!done) return tessaly::fail(std::move(done.error()));
    return fuzz::read_file(out);
}

// Larger than any input the fuzzer makes and than the writer's staging, so the
// input is read in one piece and the output is written as with the default
// 8 MiB, which ASan makes a few times slower to allocate.
constexpr std::size_t kWholeWindow = 128 * 1024;

Result<std::string> files_whole(const Job& job) { return through_files(job, {.window_size = kWholeWindow}); }

Result<std::string> files_small(const Job& job) { return through_files(job, {.window_size = job.small_window}); }

struct Way {
    const char* name;
    Result<std::string> (*run)(const Job&);
};

constexpr Way kWays[] = {
    {"in memory", in_memory},
    {"files, one window", files_whole},
    {"files, small window", files_small},
};

void same(const char* what, const Result<std::string>& a, const Result<std::string>& b) {
    if (a && b) {
        fuzz::check(*a == *b, what, *a, *b);
    } else {
        fuzz::check(!a && !b, what, a ? *a : a.error().display(), b ? *b : b.error().display());
        fuzz::check(a.error().kind == b.error().kind && a.error().detail == b.error().detail, what,
                    a.error().display(), b.error().display());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string_view raw(reinterpret_cast<const char*>(data) + 2, size - 2);
    const fuzz::Utf8Input input(raw);
    const Job job{input.text(), fuzz::choose(data[0]), 1 + data[1] % 64u};

    const Result<std::string> first = kWays[0].run(job);
    for (const Way& way : std::span(kWays).subspan(1)) {
        std::string what = std::string(kWays[0].name) + " vs " + way.name;
        same(what.c_str(), first, way.run(job));
    }

    if (!input.was_utf8()) {
        const Job raw_job{raw, job.choice, job.small_window};
        same("raw bytes: files, one window vs small buffers", files_whole(raw_job), files_small(raw_job));
    }
    return 0;
}
