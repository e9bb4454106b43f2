#pragma once
// The memory of a `tessaly.Schema` instance. The companion package's native
// part is built from the same sources into the same wheel; it reads the
// models of Schema objects in place, and makes Schema objects of models it
// loads, through this one definition.

#include "python/py.hpp"
#include "tessaly/core.hpp"

namespace tessaly::python {

struct SchemaObject {
    PyObject_HEAD
    // Never null once the object is handed out, and never written again;
    // freed with core::SchemaModelDelete when the object goes.
    const schema::SchemaModel* model;
};

}  // namespace tessaly::python
