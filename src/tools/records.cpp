#include "tools/records.hpp"

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "python/errors.hpp"
#include "tessaly/records.hpp"
#include "tools/cancel.hpp"
#include "tools/python_input.hpp"
#include "tools/schema_access.hpp"
#include "tools/unlocked.hpp"

namespace tessaly::tools {

using python::Ref;

namespace {

// A batch of records is at least this much text (or the rest): few calls
// into the core, and a first record handed out soon.
constexpr std::size_t kBatchBytes = 256 * 1024;

// The arguments shared by both entry points, checked by the Python layer
// before they get here.
struct Request {
    PyObject* source;       // a str path, or a binary file object
    std::string_view path;  // the path's text; empty for a file object
    PyObject* schema;
    std::string_view record;
    Convention convention;
    core::RecordOptions options;
};

bool view_of(PyObject* str, std::string_view& out) {
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(str, &n);
    if (!s) return false;
    out = {s, static_cast<std::size_t>(n)};
    return true;
}

bool parse_range(PyObject* range, core::RecordOptions& options) {
    if (range == Py_None) return true;
    unsigned long long start = 0, end = 0;
    if (!PyArg_ParseTuple(range, "KK", &start, &end)) return false;
    options.byte_range = core::ByteRange{start, end};
    return true;
}

// The stream over a path or a file object (`stream` must outlive it). Runs
// without the interpreter lock: it touches no Python object but through
// the file object stream, which takes the lock itself.
Result<std::unique_ptr<core::RecordStream>> open(const Request& r, std::unique_ptr<FileObjectStream>& stream,
                                                 const schema::SchemaModel& model) {
    if (!r.path.empty()) return core::RecordStream::open_file(r.path, model, r.record, r.convention, r.options);
    stream = std::make_unique<FileObjectStream>(r.source);
    return core::RecordStream::open_stream(*stream, model, r.record, r.convention, r.options);
}

struct ReaderObject {
    PyObject_HEAD
    PyObject* schema;  // keeps the model alive
    PyObject* source;
    PyObject* cancel;  // keeps the stop token the interrupt check reads alive
    std::unique_ptr<FileObjectStream>* stream;
    std::unique_ptr<core::RecordStream>* records;
    bool busy;
};

void reader_dealloc(PyObject* self) {
    auto* r = reinterpret_cast<ReaderObject*>(self);
    delete r->records;
    delete r->stream;
    Py_XDECREF(r->schema);
    Py_XDECREF(r->source);
    Py_XDECREF(r->cancel);
    PyTypeObject* tp = Py_TYPE(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(self);
    Py_DECREF(tp);
}

// read() -> list[str]: the next batch of records, empty at the end.
PyObject* reader_read(PyObject* self, PyObject*) {
    auto* r = reinterpret_cast<ReaderObject*>(self);
    if (r->busy) {
        PyErr_SetString(PyExc_RuntimeError, "the records are being read by another thread");
        return nullptr;
    }
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    if (!*r->records) return list.release();
    std::string text;
    std::vector<std::size_t> ends;
    r->busy = true;
    Result<bool> got = false;
    try {
        unlocked([&] { got = (*r->records)->read(text, ends, kBatchBytes); });
    } catch (...) {
        r->busy = false;
        throw;
    }
    r->busy = false;
    std::size_t begin = 0;
    for (std::size_t end : ends) {
        // Without its line feed.
        Ref s(PyUnicode_DecodeUTF8(text.data() + begin, static_cast<Py_ssize_t>(end - 1 - begin), "strict"));
        if (!s || PyList_Append(list.get(), s.get()) != 0) return nullptr;
        begin = end;
    }
    if (!got) {
        r->records->reset();
        return raise_conversion_error(got.error());
    }
    if (!*got) r->records->reset();
    return list.release();
}

PyObject* guarded_read(PyObject* self, PyObject* args) noexcept {
    try {
        return reader_read(self, args);
    } catch (...) {
        python::raise_internal_fault();
        return nullptr;
    }
}

PyMethodDef kReaderMethods[] = {
    {"read", guarded_read, METH_NOARGS, "read()\n--\n\nThe next records as compact JSON texts; empty at the end."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kReaderSlots[] = {
    {Py_tp_doc, const_cast<char*>("Records of one document, read in batches.")},
    {Py_tp_methods, kReaderMethods},
    {Py_tp_dealloc, reinterpret_cast<void*>(reader_dealloc)},
    {0, nullptr},
};

PyType_Spec kReaderSpec = {
    "tessaly_tools._native.RecordReader",
    sizeof(ReaderObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    kReaderSlots,
};

bool parse_request(PyObject* module, PyObject* source, PyObject* schema, PyObject* record, int convention,
                   PyObject* range, PyObject* cancel, Request& r, const schema::SchemaModel*& model) {
    model = model_of(module, schema);
    if (!model || !view_of(record, r.record) || !parse_range(range, r.options)) return false;
    r.source = source;
    if (PyUnicode_Check(source)) {
        if (!view_of(source, r.path)) return false;
        if (r.path.empty()) {
            PyErr_SetString(PyExc_ValueError, "source is an empty path");
            return false;
        }
    }
    r.schema = schema;
    r.convention = static_cast<Convention>(convention);
    if (!interrupt_check(module, cancel, r.options.interrupt)) return false;
    return true;
}

}  // namespace

PyObject* make_record_reader_type(PyObject*) { return PyType_FromSpec(&kReaderSpec); }

PyObject* open_records(PyObject* module, PyObject* args) {
    PyObject *source, *schema, *record, *range, *cancel;
    int convention;
    if (!PyArg_ParseTuple(args, "OOUiOO", &source, &schema, &record, &convention, &range, &cancel)) return nullptr;
    Request req;
    const schema::SchemaModel* model = nullptr;
    if (!parse_request(module, source, schema, record, convention, range, cancel, req, model)) return nullptr;

    auto stream = std::make_unique<std::unique_ptr<FileObjectStream>>();
    Result<std::unique_ptr<core::RecordStream>> records = nullptr;
    unlocked([&] { records = open(req, *stream, *model); });
    if (!records) return raise_conversion_error(records.error());

    auto* type = reinterpret_cast<PyTypeObject*>(state_of(module).record_reader_type);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* obj = alloc(type, 0);
    if (!obj) return nullptr;
    auto* r = reinterpret_cast<ReaderObject*>(obj);
    r->schema = Py_NewRef(schema);
    r->source = Py_NewRef(source);
    r->cancel = Py_NewRef(cancel);
    r->stream = stream.release();
    r->records = new std::unique_ptr<core::RecordStream>(std::move(*records));
    r->busy = false;
    return obj;
}

PyObject* convert_records_to_file(PyObject* module, PyObject* args) {
    PyObject *source, *schema, *record, *output, *range, *cancel;
    int convention;
    if (!PyArg_ParseTuple(args, "OOUUiOO", &source, &schema, &record, &output, &convention, &range, &cancel))
        return nullptr;
    Request req;
    const schema::SchemaModel* model = nullptr;
    std::string_view output_path;
    if (!parse_request(module, source, schema, record, convention, range, cancel, req, model) ||
        !view_of(output, output_path))
        return nullptr;
    std::unique_ptr<FileObjectStream> stream;
    Result<std::uint64_t> count = 0;
    // The schema object, the source and the output path are held by the
    // caller's arguments for the whole call.
    unlocked([&] {
        auto records = open(req, stream, *model);
        if (!records) count = fail(std::move(records.error()));
        else count = (*records)->write_to_file(output_path);
    });
    if (!count) return raise_conversion_error(count.error());
    if (PyErr_CheckSignals() != 0) return nullptr;
    return PyLong_FromUnsignedLongLong(*count);
}

}  // namespace tessaly::tools
