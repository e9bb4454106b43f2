#pragma once
// Schemas from the companion package: a load under chosen options (the
// complete profile, a base directory for bytes, allowed directories) and
// what a load did.

#include "python/py.hpp"

namespace tessaly::tools {

// load_schema(source, complete, base_dir, allowed_dirs) -> tessaly.Schema
// `source` is a path (str) or XSD bytes; `base_dir` "" for none;
// `allowed_dirs` a tuple of str, empty for anywhere.
PyObject* load_schema(PyObject* module, PyObject* args);

// schema_report(schema) -> (complete, documents, skipped, unresolved, global_elements, named_types)
// `skipped` is a list of (location, document, refused); `unresolved` a
// tuple of five lists: types, elements, groups, attribute groups, attributes.
PyObject* schema_report(PyObject* module, PyObject* args);

}  // namespace tessaly::tools
