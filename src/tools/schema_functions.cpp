#include "tools/schema_functions.hpp"

#include <optional>
#include <string>
#include <vector>

#include "python/errors.hpp"
#include "tools/schema_access.hpp"
#include "tools/unlocked.hpp"

namespace tessaly::tools {

namespace {

PyObject* text(std::string_view s) { return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace"); }

// A new list of the texts, or null with the error set.
PyObject* text_list(const std::vector<std::string>& items) {
    python::Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* t = text(items[i]);
        if (!t) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), t);  // steals t
    }
    return list.release();
}

}  // namespace

PyObject* load_schema(PyObject* module, PyObject* args) {
    PyObject *source, *allowed;
    int complete;
    const char* base;
    Py_ssize_t base_n;
    if (!PyArg_ParseTuple(args, "Ops#O!", &source, &complete, &base, &base_n, &PyTuple_Type, &allowed)) return nullptr;
    LoadOptions options{.resolution = complete ? Resolution::Complete : Resolution::Literal,
                        .base_dir = std::string(base, static_cast<std::size_t>(base_n))};
    for (Py_ssize_t i = 0, n = PyTuple_Size(allowed); i < n; ++i) {
        Py_ssize_t size = 0;
        const char* dir = PyUnicode_AsUTF8AndSize(PyTuple_GetItem(allowed, i), &size);
        if (!dir) return nullptr;
        options.allowed_dirs.emplace_back(dir, static_cast<std::size_t>(size));
    }
    std::optional<Result<core::SchemaModelPtr>> model;
    if (PyBytes_Check(source)) {
        char* bytes;
        Py_ssize_t n;
        if (PyBytes_AsStringAndSize(source, &bytes, &n) != 0) return nullptr;
        std::string_view xsd(bytes, static_cast<std::size_t>(n));
        if (auto ok = core::check_xsd_bytes(xsd); !ok) return python::raise_error(ok.error());
        unlocked([&] { model.emplace(core::load_schema_bytes(xsd, options)); });
    } else {
        Py_ssize_t n = 0;
        const char* path = PyUnicode_AsUTF8AndSize(source, &n);
        if (!path) return nullptr;
        unlocked([&] { model.emplace(core::load_schema({path, static_cast<std::size_t>(n)}, options)); });
    }
    if (!*model) return python::raise_error(model->error());
    return wrap_model(module, std::move(**model));
}

PyObject* schema_report(PyObject* module, PyObject* args) {
    PyObject* obj;
    if (!PyArg_ParseTuple(args, "O", &obj)) return nullptr;
    const schema::SchemaModel* model = model_of(module, obj);
    if (!model) return nullptr;
    const SchemaReport r = core::schema_report(*model);

    python::Ref skipped(PyList_New(static_cast<Py_ssize_t>(r.skipped.size())));
    if (!skipped) return nullptr;
    for (std::size_t i = 0; i < r.skipped.size(); ++i) {
        const SkippedLocation& s = r.skipped[i];
        PyObject* entry = Py_BuildValue("(NNO)", text(s.location), text(s.document), s.refused ? Py_True : Py_False);
        if (!entry) return nullptr;
        PyList_SetItem(skipped.get(), static_cast<Py_ssize_t>(i), entry);
    }
    const UnresolvedNames& u = r.unresolved;
    return Py_BuildValue("(ONN(NNNNN)nn)", r.resolution == Resolution::Complete ? Py_True : Py_False,
                         text_list(r.documents), skipped.release(), text_list(u.types), text_list(u.elements),
                         text_list(u.groups), text_list(u.attribute_groups), text_list(u.attributes),
                         static_cast<Py_ssize_t>(r.global_elements), static_cast<Py_ssize_t>(r.named_types));
}

}  // namespace tessaly::tools
