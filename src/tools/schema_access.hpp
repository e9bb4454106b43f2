#pragma once
// `tessaly.Schema` objects seen from the companion package: the model of one
// read in place, and new ones made of models loaded here.

#include "python/py.hpp"
#include "tessaly/core.hpp"

namespace tessaly::tools {

// What the module keeps: the class `tessaly.Schema` (imported once) and
// the module's own classes.
struct ModuleState {
    PyObject* schema_type;
    PyObject* record_reader_type;
    PyObject* cancel_type;
};
ModuleState& state_of(PyObject* module);

// The model of `obj` when it is a `tessaly.Schema`; else null with TypeError set.
const schema::SchemaModel* model_of(PyObject* module, PyObject* obj);

// A new `tessaly.Schema` owning `model`.
PyObject* wrap_model(PyObject* module, core::SchemaModelPtr model);

}  // namespace tessaly::tools
