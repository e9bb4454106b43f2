#pragma once
// The state of one schema load: the model under construction and the side
// tables that resolution reads once every document has been parsed. One
// context per load; every document of the load is parsed into it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "tessaly/error.hpp"
#include "tessaly/load.hpp"
#include "schema/model.hpp"

namespace tessaly::schema {

// One document's namespace bindings, from its root element: what the
// complete profile resolves that document's type names by.
struct Bindings {
    StringMap<std::string> prefixes;
    std::optional<std::string> default_namespace;
};

// The members of a union type (complete profile): the kinds of the built-in
// ones and the names of the named ones, resolved once every document is read.
struct UnionMembers {
    std::vector<JsonType> kinds;
    std::vector<std::string> names;
};

// The kind of a union whose members have `kinds`: an integer when all are
// integers, a number when all are numbers (exact when none is a float or
// double), a boolean when all are booleans, else a string.
JsonType union_kind(const std::vector<JsonType>& kinds) noexcept;

struct ParseContext {
    // Directory that schemaLocation values are joined to when nothing is
    // found beside the document that names them: the main document's.
    std::string base_dir;
    Resolution resolution = Resolution::Literal;
    // Canonical directories a followed location must lie under; empty: anywhere.
    std::vector<std::string> allowed_dirs;
    SchemaModel model;
    // Element name -> local part of its non-built-in `type`, for every named
    // element declaration, global or local; a later declaration replaces.
    StringMap<std::string> element_types;
    // Named complexType -> local part of its non-built-in derivation base.
    StringMap<std::string> complex_bases;
    // Named simpleType -> local part of its non-built-in derivation base.
    StringMap<std::string> simple_bases;
    // Canonical paths of the documents already read.
    std::unordered_set<std::string, StringHash, std::equal_to<>> visited;
    // Bytes of schema text read so far by this load.
    std::uint64_t bytes_read = 0;
    // Prefix -> namespace URI, from the xmlns: attributes of document roots.
    StringMap<std::string> prefixes;
    // The first targetNamespace seen on a document root.
    std::optional<std::string> target_namespace;
    // Complete profile: the bindings of the document being parsed.
    const Bindings* bindings = nullptr;
    // Complete profile: entries copied from a base into a type of the same
    // local name (parser.cpp, store_named_type), at most kMaxMergedEntries.
    std::size_t merged_entries = 0;
    // Complete profile: named unions with named members.
    StringMap<UnionMembers> unions;
};

inline constexpr std::size_t kMaxMergedEntries = std::size_t{1} << 20;

// Reads the main document at `path` (as given) into `context`, and every
// document it names through include and import, depth-first, each where it
// is named. A location is joined to the directory of the document that
// names it and, when no regular file is there, to base_dir; one that names
// no regular file either way (nothing at all, a directory, a device, a FIFO)
// is skipped, and so is a document already read. Skipped locations and the
// documents read are recorded in the model's report.
Status parse_schema_file(ParseContext& context, std::string_view path);

// The same with the main document's text in hand instead of a file; its
// locations resolve against base_dir.
Status parse_schema_text(ParseContext& context, std::string text, std::string_view name);

// What one load may read in total, over all its documents: far more than
// any real schema set (the largest we know of is a few megabytes), and a
// clear error instead of memory without end when a location names
// something huge.
inline constexpr std::uint64_t kMaxSchemaBytes = 256ull * 1024 * 1024;

}  // namespace tessaly::schema
