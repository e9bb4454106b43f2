#include "schema/loader.hpp"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

#include "io/read_file.hpp"
#include "schema/load_steps.hpp"
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

bool can_examine(const std::string& path) {
    if (io::has_nul(path)) return false;
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

Status parse_schema_file(ParseContext& context, std::string_view path) {
    std::string canonical = canonical_or_given(path);
    for (const auto& seen : context.visited)
        if (seen == canonical) return {};
    // Recorded before reading, so a document reached again through its own
    // includes is not read a second time.
    context.visited.push_back(std::move(canonical));

    auto text = io::read_utf8_file(path);
    if (!text) return fail(TessalyError::io("Failed to read " + std::string(path) + ": " + text.error()));
    return parse_schema_text(context, *text);
}

Status follow_schema_location(ParseContext& context, std::string_view location) {
    std::string joined = join_location(context.base_dir, location);
    if (!can_examine(joined)) return {};
    return parse_schema_file(context, joined);
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
