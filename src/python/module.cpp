// The importable module `tessaly`: multi-phase initialisation with a single
// execution slot that adds the two classes and the six functions, each name
// appended to __all__ before the attribute is set.

#include "python/args.hpp"
#include "python/convention.hpp"
#include "python/errors.hpp"
#include "python/functions.hpp"
#include "python/py.hpp"
#include "python/schema_object.hpp"

namespace tessaly::python {

namespace {

// The module's __all__, made empty when the module has none yet; a new reference.
PyObject* all_list(PyObject* module) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all) {
        if (PyList_Check(all)) return all;
        raise_not_instance(all, "list");
        Py_DECREF(all);
        return nullptr;
    }
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
    PyErr_Clear();
    all = PyList_New(0);
    if (all && PyModule_AddObjectRef(module, "__all__", all) != 0) {
        Py_DECREF(all);
        return nullptr;
    }
    return all;
}

// Steals `value`.
bool add(PyObject* module, PyObject* all, const char* name, PyObject* value) {
    Ref owned(value);
    if (!owned) return false;
    Ref key(PyUnicode_FromString(name));
    return key && PyList_Append(all, key.get()) == 0 && PyModule_AddObjectRef(module, name, owned.get()) == 0;
}

int populate(PyObject* module) {
    if (!PyModule_Check(module)) {
        raise_not_instance(module, "module");
        return -1;
    }
    Ref all(all_list(module));
    if (!all) return -1;
    if (!add(module, all.get(), "Schema", schema_type())) return -1;
    if (!add(module, all.get(), "Convention", convention_type())) return -1;
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef& def : module_functions()) {
        if (!add(module, all.get(), def.ml_name, PyCFunction_NewEx(&def, module, module_name.get()))) return -1;
    }
    return 0;
}

int exec_module(PyObject* module) noexcept {
    try {
        return populate(module);
    } catch (...) {
        raise_internal_fault();
        return -1;
    }
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "tessaly",
    "",  // the module docstring is empty
    0,
    nullptr,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace tessaly::python

PyMODINIT_FUNC PyInit_tessaly() { return PyModuleDef_Init(&tessaly::python::kModule); }
