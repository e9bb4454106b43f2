#include "python/schema_object.hpp"

#include <memory>

#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/schema_layout.hpp"

namespace tessaly::python {

using namespace core;

namespace {

constexpr char kDoc[] = "A parsed XSD schema that can be reused across multiple conversions.";

PyTypeObject* g_type = nullptr;

// A new Schema owning the loaded model; on failure the model goes with the holder.
PyObject* from_model(Result<SchemaModelPtr> model) {
    if (!model) return raise_error(model.error());
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(g_type, Py_tp_alloc));
    PyObject* obj = alloc(g_type, 0);
    if (!obj) return nullptr;
    reinterpret_cast<SchemaObject*>(obj)->model = model->release();
    return obj;
}

PyObject* schema_from_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"Schema.from_file()", {"xsd_path"}, 1};
    PyObject* bound[kMaxParams];
    std::string_view path;
    if (!bind_arguments(sig, args, nargs, kwnames, bound) || !arg_str(bound[0], "xsd_path", path)) return nullptr;
    return from_model(load_schema(path));
}

PyObject* schema_from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"Schema.from_bytes()", {"xsd_bytes"}, 1};
    PyObject* bound[kMaxParams];
    std::string_view xsd;
    if (!bind_arguments(sig, args, nargs, kwnames, bound) || !arg_bytes(bound[0], "xsd_bytes", xsd)) return nullptr;
    if (auto bad = check_xsd_bytes(xsd); !bad) return raise_error(bad.error());
    return from_model(load_schema_bytes(xsd));
}

void schema_dealloc(PyObject* self) {
    SchemaModelDelete{}(reinterpret_cast<SchemaObject*>(self)->model);
    PyTypeObject* tp = Py_TYPE(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(self);
    Py_DECREF(tp);
}

constexpr int kStaticFast = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;

PyMethodDef kMethods[] = {
    {"from_file", fast_entry<schema_from_file>(), kStaticFast,
     "from_file(xsd_path)\n--\n\nParse an XSD file into a reusable Schema object."},
    {"from_bytes", fast_entry<schema_from_bytes>(), kStaticFast,
     "from_bytes(xsd_bytes)\n--\n\nParse XSD bytes into a reusable Schema object."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_methods, kMethods},
    {Py_tp_dealloc, reinterpret_cast<void*>(schema_dealloc)},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "tessaly.Schema",
    sizeof(SchemaObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    kSlots,
};

}  // namespace

PyObject* schema_type() {
    if (!g_type) g_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSpec));
    if (!g_type) return nullptr;
    Py_INCREF(g_type);
    return reinterpret_cast<PyObject*>(g_type);
}

bool is_schema(PyObject* obj) { return g_type && PyObject_TypeCheck(obj, g_type); }

const schema::SchemaModel& schema_model(PyObject* schema) { return *reinterpret_cast<SchemaObject*>(schema)->model; }

}  // namespace tessaly::python
