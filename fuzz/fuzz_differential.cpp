// One document, converted five ways: in memory, read in turn and read ahead
// on a second thread; file to file through a window that takes the whole
// input at once, and through a window of 1 to 64 bytes, read in turn and
// read ahead. The first byte picks the schema and the convention
// (schemas.hpp), the second the small window's size and whether records are
// read ahead; the rest is the document. All five must give the same bytes,
// or the same error. Input that is not UTF-8 is repaired first, since memory
// input must be UTF-8; the raw bytes then also go through the file
// conversions, which must agree. Then the document's last top-level element,
// taken as a record (its local name, outermost matches only), must be the
// whole conversion's value of it in compact text, or fail with the same
// error.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "common.hpp"
#include "converter/convert.hpp"
#include "tessaly/records.hpp"
#include "xml/names.hpp"
#include "xml/reader.hpp"
#include "schemas.hpp"

namespace {

using tessaly::Result;
using tessaly::converter::ConvertOptions;

struct Job {
    std::string_view xml;
    fuzz::Choice choice;
    std::size_t small_window;
    bool records_ahead;
};

Result<std::string> in_memory_with(const Job& job, const ConvertOptions& options) {
    auto text = tessaly::converter::convert_to_string(job.xml, *job.choice.model, job.choice.convention, options);
    if (!text) return std::unexpected(std::move(text.error()));
    return std::string(text->view());
}

Result<std::string> in_memory(const Job& job) { return in_memory_with(job, {.read_ahead_from = SIZE_MAX}); }

// Read on a second thread, as documents of a megabyte or more are.
Result<std::string> in_memory_read_ahead(const Job& job) { return in_memory_with(job, {.read_ahead_from = 0}); }

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

Result<std::string> files_small(const Job& job) {
    return through_files(job, {.window_size = job.small_window, .read_ahead_from = UINT64_MAX});
}

Result<std::string> files_small_read_ahead(const Job& job) {
    return through_files(job, {.window_size = job.small_window, .read_ahead_from = 0});
}

struct Way {
    const char* name;
    Result<std::string> (*run)(const Job&);
};

constexpr Way kWays[] = {
    {"in memory", in_memory},
    {"in memory, read ahead", in_memory_read_ahead},
    {"files, one window", files_whole},
    {"files, small window", files_small},
    {"files, small window, read ahead", files_small_read_ahead},
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

// The text without white space outside strings: pretty text made compact.
std::string compact(std::string_view pretty) {
    std::string out;
    bool in_string = false;
    for (std::size_t i = 0; i < pretty.size(); ++i) {
        const char c = pretty[i];
        if (in_string) {
            out += c;
            if (c == '\\') out += pretty[++i];
            else if (c == '"') in_string = false;
        } else if (c != ' ' && c != '\n') {
            out += c;
            in_string = c == '"';
        }
    }
    return out;
}

// The local name of the last top-level element, whether every element was
// closed at the end, and whether the reader failed on the way.
struct LastTop {
    std::string name;
    bool all_closed = false;
    bool failed = false;
};

LastTop last_top_level(std::string_view xml) {
    tessaly::xml::Reader reader(xml);
    LastTop top;
    std::size_t depth = 0;
    tessaly::xml::Event ev;
    while (true) {
        if (!reader.next(ev)) {
            top.failed = true;
            return top;
        }
        if (ev.kind == tessaly::xml::EventKind::EndOfInput) break;
        const bool start = ev.kind == tessaly::xml::EventKind::StartTag || ev.kind == tessaly::xml::EventKind::EmptyTag;
        if (start && depth == 0) top.name = tessaly::xml::local_name(ev.name);
        if (ev.kind == tessaly::xml::EventKind::StartTag) ++depth;
        if (ev.kind == tessaly::xml::EventKind::EndTag && depth > 0) --depth;
    }
    top.all_closed = depth == 0;
    return top;
}

// A name written as a JSON key without escapes, and read as one step of a
// record path: the reader takes a name up to white space, so a '/' in it
// would make a path of two steps.
bool plain_key(std::string_view name) {
    for (unsigned char c : name)
        if (c == '"' || c == '\\' || c < 0x20 || c == 0x7F || c == '/') return false;
    return true;
}

void records_agree(const Job& job, const Result<std::string>& whole) {
    LastTop top = last_top_level(job.xml);
    if (top.failed && !tessaly::core::is_record_path(top.name)) top.name = "x";  // the error is compared all the same
    if (!top.failed && (!top.all_closed || top.name.empty() || !tessaly::core::is_record_path(top.name) ||
                        !plain_key(top.name)))
        return;
    const std::string& name = top.name;
    static const std::string in = fuzz::private_path("in.xml");
    fuzz::write_file(in, job.xml);
    auto stream = tessaly::core::RecordStream::open_file(in, *job.choice.model, name, job.choice.convention,
                                                         {.window_size = job.small_window,
                                                          .read_ahead_from = job.records_ahead ? 0 : UINT64_MAX});
    if (!stream) fuzz::harness_failure(stream.error().display());
    std::string text;
    std::vector<std::size_t> ends;
    Result<bool> more = true;
    while (more && *more) more = (*stream)->read(text, ends, 1);
    if (!whole || !more) {
        // A read error stops both at the same place; records handed out before it do not matter here.
        if (!whole && more) fuzz::mismatch("records succeed where the document fails", whole.error().display());
        if (whole && !more) fuzz::mismatch("records fail where the document succeeds", more.error().display());
        fuzz::check(whole.error().detail == more.error().detail, "records vs document: error", whole.error().display(),
                    more.error().display());
        return;
    }
    if (ends.empty()) fuzz::mismatch("no record for the last top-level element", name);
    const std::size_t begin = ends.size() > 1 ? ends[ends.size() - 2] : 0;
    const std::string record = text.substr(begin, ends.back() - begin - 1);
    const std::string expected = job.choice.convention == tessaly::converter::Convention::Parker
                                     ? record
                                     : "{\"" + name + "\":" + record + "}";
    fuzz::check(compact(*whole) == expected, "records vs document: value", compact(*whole), expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string_view raw(reinterpret_cast<const char*>(data) + 2, size - 2);
    const fuzz::Utf8Input input(raw);
    const Job job{input.text(), fuzz::choose(data[0]), 1 + data[1] % 64u, (data[1] & 0x40) != 0};

    const Result<std::string> first = kWays[0].run(job);
    for (const Way& way : std::span(kWays).subspan(1)) {
        std::string what = std::string(kWays[0].name) + " vs " + way.name;
        same(what.c_str(), first, way.run(job));
    }
    records_agree(job, first);

    if (!input.was_utf8()) {
        const Job raw_job{raw, job.choice, job.small_window, job.records_ahead};
        const Result<std::string> whole = files_whole(raw_job);
        same("raw bytes: files, one window vs small buffers", whole, files_small(raw_job));
        same("raw bytes: files, one window vs small buffers read ahead", whole, files_small_read_ahead(raw_job));
    }
    return 0;
}
