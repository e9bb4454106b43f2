#include "schema/loader.hpp"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "io/file.hpp"
#include "io/read_file.hpp"
#include "messages.hpp"
#include "schema/complete_resolve.hpp"
#include "schema/parser.hpp"
#include "schema/resolve.hpp"
#include "xml/utf8.hpp"

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

struct ReadText {
    std::string text;
    // Checked to be UTF-8 already; or, for a document read ahead, checked by
    // its parser while its tags are read, before the first is acted on.
    Utf8 utf8 = Utf8::Checked;
};

// The text of an open document, counted against what the load may read.
// A document that will be read ahead (parser.hpp) is checked to be UTF-8
// while it is read, not here; it fails with the same text either way.
Result<ReadText> read_counted(ParseContext& context, io::File& file, std::string_view path) {
    auto text = io::read_unchecked(file, kMaxSchemaBytes - context.bytes_read,
                                   messages::schema_documents_too_large(kMaxSchemaBytes));
    if (!text) return fail(messages::failed_to_read(path, text.error()));
    ReadText out{std::move(*text)};
    if (DocumentParser::reads_ahead(context, out.text.size())) {
        out.utf8 = Utf8::Deferred;
    } else if (!xml::is_utf8(out.text)) {
        return fail(messages::failed_to_read(path, messages::kInvalidUtf8Stream));
    }
    context.bytes_read += out.text.size();
    return out;
}

// Text already in hand, counted against what the load may read.
Status check_counted(ParseContext& context, std::string_view name, std::size_t size) {
    if (size > kMaxSchemaBytes - context.bytes_read)
        return fail(messages::failed_to_read(name, messages::schema_documents_too_large(kMaxSchemaBytes)));
    context.bytes_read += size;
    return {};
}

// Whether `path` lies under one of the allowed directories (all of them,
// when none is given). Compared canonically, so ".." and links cannot lead out.
bool allowed(const ParseContext& context, const std::string& path) {
    if (context.allowed_dirs.empty()) return true;
    std::string real = canonical_or_given(path);
    for (const std::string& dir : context.allowed_dirs)
        if (real.size() > dir.size() && real.starts_with(dir) && (dir.back() == '/' || real[dir.size()] == '/'))
            return true;
    return false;
}

struct Followed {
    std::string path;  // as joined
    ReadText text;
};

// The document a location names, looked for beside the document that names
// it (`doc_dir`) and then in base_dir: the first regular file that is
// allowed counts. Nothing when neither place has one, or when the one found
// was read already; the location is reported in the first case.
Result<std::optional<Followed>> read_followed(ParseContext& context, const std::string& doc_dir,
                                              std::string_view location, std::string_view from) {
    bool refused = false;
    const std::string* dirs[] = {&doc_dir, &context.base_dir};
    for (const std::string* dir : dirs) {
        if (dir == &context.base_dir && *dir == doc_dir) break;
        std::string path = join_location(*dir, location);
        auto file = io::File::open_regular(path);
        if (!file) return fail(messages::failed_to_read(path, file.error()));
        if (!*file) continue;
        if (!allowed(context, path)) {
            refused = true;
            continue;
        }
        // Recorded before reading, so a document reached again through its
        // own includes is not read a second time.
        if (!context.visited.insert(canonical_or_given(path)).second) return std::nullopt;
        auto text = read_counted(context, **file, path);
        if (!text) return fail(std::move(text.error()));
        context.model.report.documents.push_back(path);
        return Followed{std::move(path), std::move(*text)};
    }
    context.model.report.skipped.push_back({std::string(location), std::string(from), refused});
    return std::nullopt;
}

// The documents being read, each paused where it names the next one. An
// explicit stack: a chain of includes may be as long as the files allow,
// and the machine stack must not grow with it.
Status read_from(ParseContext& context, ReadText text, std::string dir, std::string name) {
    struct Open {
        std::unique_ptr<DocumentParser> parser;
        std::string dir;   // where its relative locations are looked for first
        std::string name;  // its path, for the report
    };
    // Innermost first when a failure drops them all, as when they end.
    struct OpenStack : std::vector<Open> {
        ~OpenStack() {
            while (!empty()) pop_back();
        }
    };
    OpenStack open;
    open.push_back({std::make_unique<DocumentParser>(context, std::move(text.text), text.utf8, name), std::move(dir),
                    std::move(name)});
    while (!open.empty()) {
        auto location = open.back().parser->next_location();
        if (!location) return fail(std::move(location.error()));
        if (!*location) {
            open.pop_back();
            continue;
        }
        auto followed = read_followed(context, open.back().dir, **location, open.back().name);
        if (!followed) return fail(std::move(followed.error()));
        if (*followed) {
            std::string followed_dir = parent_dir((*followed)->path);
            Followed& f = **followed;
            open.push_back({std::make_unique<DocumentParser>(context, std::move(f.text.text), f.text.utf8, f.path),
                            std::move(followed_dir), std::move(f.path)});
        }
    }
    return {};
}

}  // namespace

Status parse_schema_file(ParseContext& context, std::string_view path) {
    if (!context.visited.insert(canonical_or_given(path)).second) return {};
    auto file = io::File::open_for_reading(path);
    if (!file) return fail(messages::failed_to_read(path, file.error()));
    auto text = read_counted(context, *file, path);
    if (!text) return fail(std::move(text.error()));
    (void)file->close();
    context.model.report.documents.emplace_back(path);
    return read_from(context, std::move(*text), context.base_dir, std::string(path));
}

Status parse_schema_text(ParseContext& context, std::string text, std::string_view name) {
    if (auto s = check_counted(context, name, text.size()); !s) return s;
    context.model.report.documents.emplace_back(name);
    return read_from(context, ReadText{std::move(text), Utf8::Unknown}, context.base_dir, std::string(name));
}

namespace {

ParseContext fresh_context(std::string base_dir, const LoadOptions& options) {
    ParseContext context;
    context.base_dir = options.base_dir.empty() ? std::move(base_dir) : options.base_dir;
    context.resolution = options.resolution;
    for (const std::string& dir : options.allowed_dirs) context.allowed_dirs.push_back(canonical_or_given(dir));
    return context;
}

// A model with at least this many named types and element names given a
// type is resolved on two threads (below); a smaller one takes less time
// than starting a thread does.
constexpr std::size_t kResolveApart = 1024;

// resolve() and resolve_complete(), with the model's list of type names and
// the links of every declaration to its type made on a second thread
// meanwhile: they write what no other pass reads or writes (the list and
// map of names, ElementDef::named_type), and read only what none writes.
void resolve_all(ParseContext& context) {
    index_type_names(context);
    std::exception_ptr failed;
    std::thread linking;
    auto names_and_links = [&] {
        publish_type_names(context);
        link_named_types(context);
    };
    if (context.type_name_order.size() + context.element_links.size() < kResolveApart) {
        names_and_links();
        resolve_simple_kinds(context);
        inherit_complex_bases(context);
        record_unresolved_types(context);
        resolve_complete(context);
        return;
    }
    try {
        linking = std::thread([&] {
            try {
                names_and_links();
            } catch (...) {
                failed = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        names_and_links();  // no thread to be had
    }
    struct Join {
        std::thread& thread;
        ~Join() {
            if (thread.joinable()) thread.join();
        }
    } join{linking};
    resolve_simple_kinds(context);
    inherit_complex_bases(context);
    record_unresolved_types(context);
    resolve_complete(context);
    if (linking.joinable()) linking.join();
    if (failed) std::rethrow_exception(failed);
}

SchemaModel finish(ParseContext& context) {
    resolve_all(context);
    SchemaModel& model = context.model;
    model.target_namespace = context.target_namespace;
    model.resolution = context.resolution;
    model.report.resolution = context.resolution;
    model.report.global_elements = model.elements.size();
    model.report.named_types = model.types.size();
    return std::move(model);
}

}  // namespace

Result<ParseContext> read_schema_documents(std::string_view path, const LoadOptions& options) {
    return read_schema_documents(path, options, kReadAheadBytes);
}

Result<ParseContext> read_schema_documents(std::string_view path, const LoadOptions& options,
                                           std::size_t read_ahead_bytes) {
    ParseContext context = fresh_context(parent_dir(path), options);
    context.read_ahead_bytes = read_ahead_bytes;
    if (auto s = parse_schema_file(context, path); !s) return fail(std::move(s.error()));
    return context;
}

Result<SchemaModel> parse_xsd(std::string_view path, const LoadOptions& options) {
    auto context = read_schema_documents(path, options);
    if (!context) return fail(std::move(context.error()));
    return finish(*context);
}

Result<SchemaModel> parse_xsd(std::string_view path, const LoadOptions& options, std::size_t read_ahead_bytes) {
    auto context = read_schema_documents(path, options, read_ahead_bytes);
    if (!context) return fail(std::move(context.error()));
    return finish(*context);
}

Result<SchemaModel> parse_xsd_text(std::string text, std::string_view name, const LoadOptions& options) {
    ParseContext context = fresh_context(".", options);
    if (auto s = parse_schema_text(context, std::move(text), name); !s) return fail(std::move(s.error()));
    return finish(context);
}

}  // namespace tessaly::schema
