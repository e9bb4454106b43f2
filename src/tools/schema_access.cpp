#include "tools/schema_access.hpp"

#include "python/schema_layout.hpp"

namespace tessaly::tools {

ModuleState& state_of(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

const schema::SchemaModel* model_of(PyObject* module, PyObject* obj) {
    PyObject* type = state_of(module).schema_type;
    if (!PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(type))) {
        PyErr_SetString(PyExc_TypeError, "schema must be a tessaly.Schema");
        return nullptr;
    }
    return reinterpret_cast<python::SchemaObject*>(obj)->model;
}

PyObject* wrap_model(PyObject* module, core::SchemaModelPtr model) {
    auto* type = reinterpret_cast<PyTypeObject*>(state_of(module).schema_type);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* obj = alloc(type, 0);
    if (!obj) return nullptr;
    reinterpret_cast<python::SchemaObject*>(obj)->model = model.release();
    return obj;
}

}  // namespace tessaly::tools
