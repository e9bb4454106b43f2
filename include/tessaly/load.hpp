#pragma once
// How a schema is loaded, and what a load did: the options a caller picks
// and the report a loaded schema keeps.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

// The rules a schema's names are resolved by.
enum class Resolution : std::uint8_t {
    // The module's rules: references are not followed, named types are
    // resolved to a bounded depth, top-level groups are dropped.
    Literal,
    // The XSD standard's: element, group, attribute and attribute group
    // references followed, named types at every depth, substitution groups,
    // attribute types through named simple types, repeating compositors,
    // exact decimals.
    Complete,
};

struct LoadOptions {
    Resolution resolution = Resolution::Literal;
    // The directory the main document's relative schemaLocation values are
    // joined to. Empty: the main file's own directory, or for bytes the
    // temporary directory they are parsed from.
    std::string base_dir;
    // When not empty, a followed location counts only when it names a file
    // under one of these directories; any other is skipped like a missing
    // file, and reported as refused. The main document is not checked.
    std::vector<std::string> allowed_dirs;
};

// Names that were asked for and not found, by what they name.
struct UnresolvedNames {
    std::vector<std::string> types;             // element and attribute types, derivation bases
    std::vector<std::string> elements;          // element references, substitution group heads
    std::vector<std::string> groups;            // group references
    std::vector<std::string> attribute_groups;  // attribute group references
    std::vector<std::string> attributes;        // attribute references
};

struct SkippedLocation {
    std::string location;  // as written
    std::string document;  // the document that names it
    bool refused = false;  // a file is there, outside the allowed directories
};

// What one load read and what it could not resolve. Names are listed once
// each, sorted.
struct SchemaReport {
    Resolution resolution = Resolution::Literal;
    std::vector<std::string> documents;  // paths read, in reading order
    std::vector<SkippedLocation> skipped;
    UnresolvedNames unresolved;
    std::size_t global_elements = 0;
    std::size_t named_types = 0;
};

}  // namespace tessaly
