#pragma once
// The state of one schema load: the model under construction and the side
// tables that resolution reads once every document has been parsed. One
// context per load; every document of the load is parsed into it.

#include <cstdint>
#include <deque>
#include <memory>
#include <memory_resource>
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

// A map keyed by views: into the texts a ParseContext keeps (below), or into
// keys of the model's maps. Same hash as StringMap, so the same order. Its
// entries come from the context's arena.
template <class V>
using ViewMap = std::pmr::unordered_map<std::string_view, V, StringHash, std::equal_to<>>;

// Documents this long are read ahead on a second thread: the UBL common
// aggregate components (2.4 MB) and DocBook's schema (760 kB) are; a
// document of a few hundred kilobytes is not (starting a thread, and
// handing the tags over, cost about what reading it takes).
inline constexpr std::size_t kReadAheadBytes = std::size_t{512} * 1024;

struct ParseContext {
    ParseContext() = default;
    // Moved (the arena and the texts stay where they are), never copied nor
    // assigned: its side tables view the texts it holds.
    ParseContext(ParseContext&&) = default;
    ParseContext& operator=(ParseContext&&) = delete;
    ParseContext(const ParseContext&) = delete;
    ParseContext& operator=(const ParseContext&) = delete;

    // Where the side tables keep their entries: handed out in bulk and
    // released all at once when the context goes, never one by one.
    std::unique_ptr<std::pmr::monotonic_buffer_resource> arena =
        std::make_unique<std::pmr::monotonic_buffer_resource>(std::size_t{4} * 1024);

    // Directory that schemaLocation values are joined to when nothing is
    // found beside the document that names them: the main document's.
    std::string base_dir;
    Resolution resolution = Resolution::Literal;
    // Documents of at least this many bytes are read ahead on a second
    // thread (schema/tags.hpp); tests lower it to have every one so read.
    std::size_t read_ahead_bytes = kReadAheadBytes;
    // A document of this load is being read ahead now.
    bool reading_ahead = false;
    // Canonical directories a followed location must lie under; empty: anywhere.
    std::vector<std::string> allowed_dirs;
    SchemaModel model;
    // The text of every document read (and values decoded from text that is
    // not UTF-8), kept until the load ends: the tables below view them. A
    // deque, so that a text never moves once it is in.
    std::deque<std::string> texts;
    // Element name -> local part of its non-built-in `type`, for every named
    // element declaration, global or local; a later declaration replaces.
    ViewMap<std::string_view> element_types{arena.get()};
    // Named complexType -> local part of its non-built-in derivation base.
    ViewMap<std::string_view> complex_bases{arena.get()};
    // Named simpleType -> local part of its non-built-in derivation base.
    ViewMap<std::string_view> simple_bases{arena.get()};
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

    // Filled by number_type_names (resolve.hpp) for the passes after it:
    // the number of each type name, the names in their numbers' order, the
    // type each number names (null past the names of `types`), and the
    // number each element name's type resolves to.
    ViewMap<TypeNameId> type_ids{arena.get()};
    std::vector<std::string_view> type_name_order;
    std::vector<TypeDef*> types_by_id;
    ViewMap<TypeNameId> element_links{arena.get()};
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
