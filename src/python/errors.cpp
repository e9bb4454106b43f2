#include "python/errors.hpp"

#include <exception>
#include <new>
#include <string>


namespace tessaly::python {

namespace {

// Messages may hold any text a caller gave (a path with a NUL, say), so they
// are handed over with their length, never as C strings.
void set_runtime_error(const std::string& message) {
    Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(PyExc_RuntimeError, text.get());
}

}  // namespace

PyObject* raise_error(const TessalyError& error) {
    // An interrupted call already carries the exception that stopped it.
    if (error.kind == ErrorKind::Interrupted && PyErr_Occurred()) return nullptr;
    set_runtime_error(error.display());
    return nullptr;
}

void raise_internal_fault() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        try {
            set_runtime_error(internal_error_text(e.what()));
        } catch (...) {
            PyErr_NoMemory();
        }
    } catch (...) {
        try {
            set_runtime_error(internal_error_text("unknown exception"));
        } catch (...) {
            PyErr_NoMemory();
        }
    }
}

}  // namespace tessaly::python
