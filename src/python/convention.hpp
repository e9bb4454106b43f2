#pragma once
// The Python `Convention` enumeration: three members, each created once.

#include "tessaly/convention.hpp"
#include "python/py.hpp"

namespace tessaly::python {

// The type object, created with its members on first use, once per process;
// a new reference, or nullptr with the exception set.
PyObject* convention_type();

// Only after convention_type() has succeeded.
bool is_convention(PyObject* obj);
Convention convention_value(PyObject* member);

}  // namespace tessaly::python
