#include "tools/python_input.hpp"

#include <cstring>

// The stable ABI of 3.10 has PyMemoryView_FromMemory but names its flags
// only from 3.11 on; the values are part of that ABI all the same.
#ifndef PyBUF_WRITE
#define PyBUF_WRITE 0x200
#endif

namespace tessaly::tools {

namespace {

// The exception's type and text, for an error that travels up as a value
// and is raised again as the system's error; the exception is cleared.
std::string describe_pending() {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    std::string text = "reading the file object failed";
    auto append = [](std::string& out, PyObject* s) {
        Py_ssize_t n = 0;
        if (const char* u = s ? PyUnicode_AsUTF8AndSize(s, &n) : nullptr) out.append(u, static_cast<std::size_t>(n));
        Py_XDECREF(s);
    };
    if (type) {
        text.clear();
        append(text, PyObject_GetAttrString(type, "__name__"));
        if (value) {
            std::string message;
            append(message, PyObject_Str(value));
            if (!message.empty()) text += ": " + message;
        }
    }
    PyErr_Clear();
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return text;
}

bool interrupted(void*) {
    PyGILState_STATE g = PyGILState_Ensure();
    const bool stop = PyErr_CheckSignals() != 0;
    PyGILState_Release(g);
    return stop;
}

}  // namespace

std::expected<std::size_t, std::string> FileObjectStream::read(char* dst, std::size_t capacity) {
    PyGILState_STATE g = PyGILState_Ensure();
    std::expected<std::size_t, std::string> result = 0;
    if (PyObject* view = PyMemoryView_FromMemory(dst, static_cast<Py_ssize_t>(capacity), PyBUF_WRITE)) {
        PyObject* got = PyObject_CallMethod(file_, "readinto", "O", view);
        if (!got && PyErr_ExceptionMatches(PyExc_AttributeError)) {
            // No readinto: read() and copy.
            PyErr_Clear();
            got = nullptr;
            if (PyObject* bytes = PyObject_CallMethod(file_, "read", "n", static_cast<Py_ssize_t>(capacity))) {
                char* data = nullptr;
                Py_ssize_t n = 0;
                if (PyBytes_AsStringAndSize(bytes, &data, &n) == 0 && static_cast<std::size_t>(n) <= capacity) {
                    std::memcpy(dst, data, static_cast<std::size_t>(n));
                    got = PyLong_FromSsize_t(n);
                } else if (!PyErr_Occurred()) {
                    PyErr_SetString(PyExc_ValueError, "read() returned more bytes than asked for");
                }
                Py_DECREF(bytes);
            }
        }
        Py_DECREF(view);
        if (got) {
            // None: a non-blocking stream with nothing at hand; asked again.
            Py_ssize_t n = got == Py_None ? 0 : PyLong_AsSsize_t(got);
            Py_DECREF(got);
            if (got == Py_None) n = -2;
            if (n >= 0 && static_cast<std::size_t>(n) <= capacity) result = static_cast<std::size_t>(n);
            else if (n == -2) result = std::unexpected(std::string("the file object is non-blocking and had no data"));
            else if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "readinto() returned a bad count");
        }
    }
    if (PyErr_Occurred()) result = std::unexpected(describe_pending());
    PyGILState_Release(g);
    return result;
}

core::InterruptCheck signal_check() { return {interrupted, nullptr}; }

}  // namespace tessaly::tools
