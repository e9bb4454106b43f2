#pragma once
// How failures leave the module: the system's own errors as RuntimeError,
// and any C++ exception stopped at the boundary, never reaching the interpreter.

#include "tessaly/error.hpp"
#include "python/py.hpp"

namespace tessaly::python {

// Sets RuntimeError with the error's display text; returns nullptr.
PyObject* raise_error(const TessalyError& error);

// Sets the Python exception for the C++ exception in flight: MemoryError for
// an allocation failure, RuntimeError otherwise. Call only inside a catch.
void raise_internal_fault() noexcept;

// Wraps a function so that no C++ exception escapes it.
template <FastFunction F>
PyObject* guarded(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    try {
        return F(self, args, nargs, kwnames);
    } catch (...) {
        raise_internal_fault();
        return nullptr;
    }
}

// The table entry for a METH_FASTCALL | METH_KEYWORDS function, guarded.
template <FastFunction F>
PyCFunction fast_entry() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<F>));
}

}  // namespace tessaly::python
