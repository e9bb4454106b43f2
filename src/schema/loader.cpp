#include "schema/loader.hpp"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "io/file.hpp"
#include "io/read_file.hpp"
#include "messages.hpp"
#include "schema/parser.hpp"
#include "schema/resolve.hpp"

namespace tessaly::schema {

namespace {

// The directory of the main document as written: empty for a bare file name,
// so that relative locations resolve against the current directory; "." when
// the path has no parent at all (empty, or a root alone).
std::string parent_dir(std::string_view path) {
    if (path.empty()) return ".";
    std::filesystem::path p{std::string(path)};
    if (!p.has_relative_path()) return ".";
    return p.parent_path().string();
}

// The canonical form of `path`, or `path` itself when it cannot be had
// (no such file, or a path the C library would cut short at a NUL).
std::string canonical_or_given(std::string_view path) {
    if (io::has_nul(path)) return std::string(path);
    std::string given(path);
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(given.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : given;
}

// A relative location is appended to the directory with a separator; an
// absolute one stands alone. Nothing is unescaped: a URL is just a path that
// names nothing on disk.
std::string join_location(const std::string& base_dir, std::string_view location) {
    if (!location.empty() && location.front() == '/') return std::string(location);
    std::string out = base_dir;
    if (!out.empty() && out.back() != '/') out.push_back('/');
    out.append(location);
    return out;
}

// The text of an open document, counted against what the load may read.
Result<std::string> read_counted(ParseContext& context, io::File& file, std::string_view path) {
    auto text = io::read_utf8(file, kMaxSchemaBytes - context.bytes_read,
                              messages::schema_documents_too_large(kMaxSchemaBytes));
    if (!text) return fail(messages::failed_to_read(path, text.error()));
    context.bytes_read += text->size();
    return std::move(*text);
}

// The text of the document that a location names, or nothing when it names
// no regular file or one already read.
Result<std::optional<std::string>> read_followed(ParseContext& context, std::string_view location) {
    std::string path = join_location(context.base_dir, location);
    auto file = io::File::open_regular(path);
    if (!file) return fail(messages::failed_to_read(path, file.error()));
    if (!*file) return std::nullopt;
    // Recorded before reading, so a document reached again through its own
    // includes is not read a second time.
    if (!context.visited.insert(canonical_or_given(path)).second) return std::nullopt;
    auto text = read_counted(context, **file, path);
    if (!text) return fail(std::move(text.error()));
    return std::move(*text);
}

}  // namespace

Status parse_schema_file(ParseContext& context, std::string_view path) {
    if (!context.visited.insert(canonical_or_given(path)).second) return {};
    auto file = io::File::open_for_reading(path);
    if (!file) return fail(messages::failed_to_read(path, file.error()));
    auto text = read_counted(context, *file, path);
    if (!text) return fail(std::move(text.error()));
    (void)file->close();

    // The documents being read, each paused where it names the next one.
    // An explicit stack: a chain of includes may be as long as the files
    // allow, and the machine stack must not grow with it.
    std::vector<std::unique_ptr<DocumentParser>> open;
    open.push_back(std::make_unique<DocumentParser>(context, std::move(*text)));
    while (!open.empty()) {
        auto location = open.back()->next_location();
        if (!location) return fail(std::move(location.error()));
        if (!*location) {
            open.pop_back();
            continue;
        }
        auto followed = read_followed(context, **location);
        if (!followed) return fail(std::move(followed.error()));
        if (*followed) open.push_back(std::make_unique<DocumentParser>(context, std::move(**followed)));
    }
    return {};
}

Result<ParseContext> read_schema_documents(std::string_view path) {
    ParseContext context;
    context.base_dir = parent_dir(path);
    if (auto s = parse_schema_file(context, path); !s) return fail(std::move(s.error()));
    return context;
}

Result<SchemaModel> parse_xsd(std::string_view path) {
    auto context = read_schema_documents(path);
    if (!context) return fail(std::move(context.error()));
    resolve(*context);
    context->model.target_namespace = context->target_namespace;
    return std::move(context->model);
}

}  // namespace tessaly::schema
