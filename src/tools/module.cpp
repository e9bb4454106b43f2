// The companion package's native part, `tessaly_tools._native`: the core's
// entry points beyond the module `tessaly`, bound without checks of their
// own (the Python layer of the package checks the arguments first).

#include "python/errors.hpp"
#include "python/py.hpp"
#include "tools/cancel.hpp"
#include "tools/documents.hpp"
#include "tools/records.hpp"
#include "tools/schema_access.hpp"
#include "tools/schema_functions.hpp"

namespace tessaly::tools {

namespace {

template <PyObject* (*F)(PyObject*, PyObject*)>
PyObject* guarded(PyObject* module, PyObject* args) noexcept {
    try {
        return F(module, args);
    } catch (...) {
        python::raise_internal_fault();
        return nullptr;
    }
}

PyMethodDef kFunctions[] = {
    {"open_records", guarded<open_records>, METH_VARARGS,
     "open_records(source, schema, record, convention, byte_range, cancel)\n--\n\nA reader of the records of a document."},
    {"convert_records_to_file", guarded<convert_records_to_file>, METH_VARARGS,
     "convert_records_to_file(source, schema, record, output_path, convention, byte_range, cancel)\n--\n\n"
     "Writes the records of a document to an NDJSON file; returns their number."},
    {"convert_to_file", guarded<convert_to_file>, METH_VARARGS,
     "convert_to_file(xml_path, schema, output_path, convention, compact, cancel, read_ahead)\n--\n\n"
     "Converts an XML file to a JSON file without the interpreter lock."},
    {"load_schema", guarded<load_schema>, METH_VARARGS,
     "load_schema(source, complete, base_dir, allowed_dirs)\n--\n\nA tessaly.Schema loaded under the given options."},
    {"schema_report", guarded<schema_report>, METH_VARARGS,
     "schema_report(schema)\n--\n\nWhat the load of a schema read, skipped and could not resolve."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) noexcept {
    ModuleState& st = state_of(module);
    python::Ref tessaly(PyImport_ImportModule("tessaly"));
    if (!tessaly) return -1;
    st.schema_type = PyObject_GetAttrString(tessaly.get(), "Schema");
    if (!st.schema_type) return -1;
    st.record_reader_type = make_record_reader_type(module);
    if (!st.record_reader_type) return -1;
    st.cancel_type = make_cancel_type();
    if (!st.cancel_type || PyModule_AddObjectRef(module, "Cancel", st.cancel_type) != 0) return -1;
    return 0;
}

int traverse(PyObject* module, visitproc visit, void* arg) {
    ModuleState* st = static_cast<ModuleState*>(PyModule_GetState(module));
    if (st) {
        Py_VISIT(st->schema_type);
        Py_VISIT(st->record_reader_type);
        Py_VISIT(st->cancel_type);
    }
    return 0;
}

int clear(PyObject* module) {
    ModuleState* st = static_cast<ModuleState*>(PyModule_GetState(module));
    if (st) {
        Py_CLEAR(st->schema_type);
        Py_CLEAR(st->record_reader_type);
        Py_CLEAR(st->cancel_type);
    }
    return 0;
}

void free_module(void* module) { clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "tessaly_tools._native", "The native part of tessaly_tools.", sizeof(ModuleState),
    kFunctions,            kSlots,                  traverse,                             clear,
    free_module,
};

}  // namespace

}  // namespace tessaly::tools

PyMODINIT_FUNC PyInit__native() { return PyModuleDef_Init(&tessaly::tools::kModule); }
