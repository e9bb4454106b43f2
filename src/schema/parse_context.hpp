#pragma once
// The state of one schema load: the model under construction and the side
// tables that resolution reads once every document has been parsed. One
// context per load; every document of the load is parsed into it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "schema/model.hpp"

namespace tessaly::schema {

struct ParseContext {
    // Directory that schemaLocation values are joined to: the main document's,
    // for every document of the load.
    std::string base_dir;
    SchemaModel model;
    // Element name -> local part of its non-built-in `type`, for every named
    // element declaration, global or local; a later declaration replaces.
    StringMap<std::string> element_types;
    // Named complexType -> local part of its non-built-in derivation base.
    StringMap<std::string> complex_bases;
    // Named simpleType -> local part of its non-built-in derivation base.
    StringMap<std::string> simple_bases;
    // Canonical paths of the documents already read.
    std::vector<std::string> visited;
    // Prefix -> namespace URI, from the xmlns: attributes of document roots.
    StringMap<std::string> prefixes;
    // The first targetNamespace seen on a document root.
    std::optional<std::string> target_namespace;
};

// Reads the document at `path` (as given) into `context`, unless a document
// of the same canonical path was read already. Documents named by include and
// import are read at once, depth-first, into the same context.
Status parse_schema_file(ParseContext& context, std::string_view path);

// Follows the schemaLocation of an include or import: joined to base_dir, and
// skipped without a word when nothing can be examined at the joined path.
Status follow_schema_location(ParseContext& context, std::string_view location);

}  // namespace tessaly::schema
