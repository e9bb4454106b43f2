#include "python/convention.hpp"

#include <cstdint>
#include <iterator>

namespace tessaly::python {

namespace {

struct ConventionObject {
    PyObject_HEAD
    std::uint8_t code;
};

struct Member {
    const char* name;
    const char* repr;
};
// Indexed by code.
constexpr Member kMembers[] = {
    {"BADGERFISH", "Convention.BADGERFISH"},
    {"PARKER", "Convention.PARKER"},
    {"ABDERA", "Convention.ABDERA"},
};

constexpr char kDoc[] =
    "Selects which XML-to-JSON convention the converter follows.\n"
    "\n"
    "- `BadgerFish`: attributes prefixed with `@`, mixed-content text under `$`.\n"
    "- `Parker`: attributes dropped; simple elements collapse to their value; the\n"
    "  root element name is stripped.\n"
    "- `Abdera`: attributes nested under an `attributes` object; mixed-content\n"
    "  text under a `children` key.\n"
    "\n"
    "Across all three, schema-driven type coercion and array detection\n"
    "(`maxOccurs > 1` \u2192 always array) are preserved.";

// Set once, when the type is first made; the type lives for the process.
PyTypeObject* g_type = nullptr;

std::uint8_t code_of(PyObject* self) { return reinterpret_cast<ConventionObject*>(self)->code; }

PyObject* convention_repr(PyObject* self) { return PyUnicode_FromString(kMembers[code_of(self)].repr); }

PyObject* convention_int(PyObject* self) { return PyLong_FromLong(code_of(self)); }

// == and != against another member or anything that converts to a 64-bit
// integer; everything else is declined so that Python's defaults apply.
PyObject* convention_richcompare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    long long theirs;
    if (PyObject_TypeCheck(other, g_type)) {
        theirs = code_of(other);
    } else {
        theirs = PyLong_AsLongLong(other);
        if (theirs == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            Py_RETURN_NOTIMPLEMENTED;
        }
    }
    bool equal = theirs == code_of(self);
    return PyBool_FromLong(op == Py_EQ ? equal : !equal);
}

void convention_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(self);
    Py_DECREF(tp);
}

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_repr, reinterpret_cast<void*>(convention_repr)},
    {Py_nb_int, reinterpret_cast<void*>(convention_int)},
    {Py_tp_richcompare, reinterpret_cast<void*>(convention_richcompare)},
    // Equality without a hash: members are unhashable.
    {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
    {Py_tp_dealloc, reinterpret_cast<void*>(convention_dealloc)},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "tessaly.Convention",
    sizeof(ConventionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kSlots,
};

// Makes the type and puts its three members in its dictionary.
PyTypeObject* make_type() {
    Ref type(PyType_FromSpec(&kSpec));
    if (!type) return nullptr;
    auto* tp = reinterpret_cast<PyTypeObject*>(type.get());
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(tp, Py_tp_alloc));
    for (std::uint8_t code = 0; code < std::size(kMembers); ++code) {
        Ref member(alloc(tp, 0));
        if (!member) return nullptr;
        reinterpret_cast<ConventionObject*>(member.get())->code = code;
        if (PyObject_SetAttrString(type.get(), kMembers[code].name, member.get()) != 0) return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace

PyObject* convention_type() {
    if (!g_type) g_type = make_type();
    if (!g_type) return nullptr;
    Py_INCREF(g_type);
    return reinterpret_cast<PyObject*>(g_type);
}

bool is_convention(PyObject* obj) { return g_type && PyObject_TypeCheck(obj, g_type); }

Convention convention_value(PyObject* member) { return static_cast<Convention>(code_of(member)); }

}  // namespace tessaly::python
