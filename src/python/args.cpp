#include "python/args.hpp"

#include <string>

#include "python/convention.hpp"
#include "python/schema_object.hpp"

namespace tessaly::python {

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'"
std::string quoted_list(const char* const* names, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0) {
            if (n > 2) out += ',';
            out += i + 1 == n ? " and " : " ";
        }
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

void raise_missing(const Signature& sig, const char* const* names, std::size_t n) {
    std::string msg = std::string(sig.name) + " missing " + std::to_string(n) + " required positional " +
                      (n == 1 ? "argument" : "arguments") + ": " + quoted_list(names, n);
    PyErr_SetString(PyExc_TypeError, msg.c_str());
}

// One form for every signature, even where both bounds are equal.
void raise_too_many(const Signature& sig, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given", sig.name,
                 sig.required, sig.params.size(), given, given == 1 ? "was" : "were");
}

// The index of the parameter called `name`, or -1.
int find_param(const Signature& sig, PyObject* name) {
    Py_ssize_t len = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name, &len);
    if (!text) {
        PyErr_Clear();  // a name no parameter has; reported as unexpected
        return -1;
    }
    std::string_view wanted(text, static_cast<std::size_t>(len));
    int i = 0;
    for (const char* p : sig.params) {
        if (wanted == p) return i;
        ++i;
    }
    return -1;
}

// Attaches "while processing '{param}'" to the pending exception, where the
// interpreter has exception notes (3.11 on); the exception is kept either way.
void add_param_note(const char* param) {
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (value) {
        if (tb) PyException_SetTraceback(value, tb);
        Ref note(PyUnicode_FromFormat("while processing '%s'", param));
        Ref done(note ? PyObject_CallMethod(value, "add_note", "O", note.get()) : nullptr);
        if (!done) PyErr_Clear();
    }
    PyErr_Restore(type, value, tb);
}

bool fail_not_instance(PyObject* obj, const char* param, const char* expected) {
    raise_not_instance(obj, expected);
    add_param_note(param);
    return false;
}

}  // namespace

bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject* (&out)[kMaxParams]) {
    const std::size_t count = sig.params.size();
    for (auto& slot : out) slot = nullptr;
    if (nargs > static_cast<Py_ssize_t>(count)) {
        raise_too_many(sig, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];

    Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* name = PyTuple_GetItem(kwnames, k);
        if (!name) return false;
        int i = find_param(sig, name);
        if (i < 0) {
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", sig.name, name);
            return false;
        }
        if (out[i]) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'", sig.name, name);
            return false;
        }
        out[i] = args[nargs + k];
    }

    const char* missing[kMaxParams];
    std::size_t n_missing = 0;
    std::size_t i = 0;
    for (const char* p : sig.params) {
        if (i < sig.required && !out[i]) missing[n_missing++] = p;
        ++i;
    }
    if (n_missing) {
        raise_missing(sig, missing, n_missing);
        return false;
    }
    return true;
}

void raise_not_instance(PyObject* obj, const char* expected) {
    if (obj == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    Ref qualname(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
    if (!qualname) return;  // that lookup's own error stands
    PyErr_Format(PyExc_TypeError, "'%S' object is not an instance of '%s'", qualname.get(), expected);
}

bool arg_str(PyObject* obj, const char* param, std::string_view& out) {
    if (!PyUnicode_Check(obj)) return fail_not_instance(obj, param, "str");
    Py_ssize_t len = 0;
    const char* text = PyUnicode_AsUTF8AndSize(obj, &len);
    if (!text) {  // lone surrogates: the interpreter's UnicodeEncodeError
        add_param_note(param);
        return false;
    }
    out = std::string_view(text, static_cast<std::size_t>(len));
    return true;
}

bool arg_bytes(PyObject* obj, const char* param, std::string_view& out) {
    if (!PyBytes_Check(obj)) return fail_not_instance(obj, param, "bytes");
    char* data = nullptr;
    Py_ssize_t len = 0;
    if (PyBytes_AsStringAndSize(obj, &data, &len) != 0) {
        add_param_note(param);
        return false;
    }
    out = std::string_view(data, static_cast<std::size_t>(len));
    return true;
}

bool arg_schema(PyObject* obj, const char* param, const schema::SchemaModel*& out) {
    if (!is_schema(obj)) return fail_not_instance(obj, param, "Schema");
    out = &schema_model(obj);
    return true;
}

bool arg_convention(PyObject* obj, const char* param, Convention& out) {
    if (!obj) {
        out = Convention::BadgerFish;
        return true;
    }
    if (!is_convention(obj)) return fail_not_instance(obj, param, "Convention");
    out = convention_value(obj);
    return true;
}

}  // namespace tessaly::python
