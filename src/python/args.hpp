#pragma once
// Argument binding for the module's functions and the Schema factories:
// positional and keyword arguments matched to parameters, then converted one
// at a time, with the TypeError texts callers see.

#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "tessaly/convention.hpp"
#include "python/py.hpp"

namespace tessaly::schema {
struct SchemaModel;
}

namespace tessaly::python {

// Every parameter may be given by position or by keyword; the first
// `required` are required, the rest optional.
struct Signature {
    const char* name;  // as shown in messages: "convert()", "Schema.from_file()"
    std::initializer_list<const char*> params;
    std::size_t required;
};

inline constexpr std::size_t kMaxParams = 4;

// Fills `out[i]` with the borrowed argument for parameter i, or nullptr when
// an optional one was not given. On a binding error sets TypeError and
// returns false.
bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject* (&out)[kMaxParams]);

// Converters, each for the parameter `param`. On failure they set the
// exception (with the note naming the parameter) and return false.

// A str (or subclass) as its UTF-8 text; the view lives as long as `obj`.
bool arg_str(PyObject* obj, const char* param, std::string_view& out);
// A bytes object (or subclass), read in place; the view lives as long as `obj`.
bool arg_bytes(PyObject* obj, const char* param, std::string_view& out);
// A Schema; the model is borrowed for as long as `obj` lives.
bool arg_schema(PyObject* obj, const char* param, const schema::SchemaModel*& out);
// A Convention; BadgerFish when `obj` is nullptr (the argument was omitted).
bool arg_convention(PyObject* obj, const char* param, Convention& out);

// Sets "'{type}' object is not an instance of '{expected}'" (or the None form).
void raise_not_instance(PyObject* obj, const char* expected);

}  // namespace tessaly::python
