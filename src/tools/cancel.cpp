#include "tools/cancel.hpp"

#include "python/errors.hpp"
#include "tools/python_input.hpp"
#include "tools/schema_access.hpp"

namespace tessaly::tools {

namespace {

struct CancelObject {
    PyObject_HEAD
    std::atomic<bool> set;  // zero-filled by the allocator: not set
};

std::atomic<bool>& flag(PyObject* self) { return reinterpret_cast<CancelObject*>(self)->set; }

PyObject* cancel_new(PyTypeObject* type, PyObject*, PyObject*) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    return alloc(type, 0);
}

PyObject* cancel_set(PyObject* self, PyObject*) {
    flag(self).store(true, std::memory_order_relaxed);
    Py_RETURN_NONE;
}

PyObject* cancel_is_set(PyObject* self, PyObject*) { return PyBool_FromLong(flag(self).load(std::memory_order_relaxed)); }

void cancel_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(self);
    Py_DECREF(tp);
}

PyMethodDef kMethods[] = {
    {"set", cancel_set, METH_NOARGS, "set($self, /)\n--\n\nAsk every conversion holding this token to stop."},
    {"is_set", cancel_is_set, METH_NOARGS, "is_set($self, /)\n--\n\nWhether a stop was asked."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("A stop shared by conversions on several threads.")},
    {Py_tp_new, reinterpret_cast<void*>(cancel_new)},
    {Py_tp_methods, kMethods},
    {Py_tp_dealloc, reinterpret_cast<void*>(cancel_dealloc)},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "tessaly_tools._native.Cancel", sizeof(CancelObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, kSlots,
};

bool stop_requested(void* token) {
    if (token && static_cast<std::atomic<bool>*>(token)->load(std::memory_order_relaxed)) return true;
    return signal_check().requested(nullptr);
}

}  // namespace

PyObject* make_cancel_type() { return PyType_FromSpec(&kSpec); }

bool interrupt_check(PyObject* module, PyObject* token, core::InterruptCheck& out) {
    if (token == Py_None) {
        out = signal_check();
        return true;
    }
    if (!PyObject_TypeCheck(token, reinterpret_cast<PyTypeObject*>(state_of(module).cancel_type))) {
        PyErr_SetString(PyExc_TypeError, "cancel must be a Cancel or None");
        return false;
    }
    out = {stop_requested, &flag(token)};
    return true;
}

PyObject* raise_conversion_error(const TessalyError& error) {
    if (error.kind == ErrorKind::Interrupted && !PyErr_Occurred()) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        return nullptr;
    }
    return python::raise_error(error);
}

}  // namespace tessaly::tools
