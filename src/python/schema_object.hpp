#pragma once
// The Python `Schema` class: an immutable holder of one parsed schema model,
// read in place by any number of conversions at once.

#include "python/py.hpp"
#include "tessaly/core.hpp"

namespace tessaly::python {

// The type object, created on first use, once per process; a new reference,
// or nullptr with the exception set.
PyObject* schema_type();

// Only after schema_type() has succeeded.
bool is_schema(PyObject* obj);
const schema::SchemaModel& schema_model(PyObject* schema);

}  // namespace tessaly::python
