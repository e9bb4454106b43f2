#include "python/functions.hpp"

#include <exception>
#include <optional>
#include <string>

#include "converter/convert.hpp"
#include "io/read_file.hpp"
#include "messages.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/xsd.hpp"
#include "xml/utf8.hpp"

namespace tessaly::python {

namespace {

using converter::Convention;

// While the lock is held, a long conversion looks at pending signals now and
// then, so that Ctrl-C stops it with the KeyboardInterrupt the handler raised.
bool signal_raised(void*) { return PyErr_CheckSignals() != 0; }

const converter::ConvertOptions kWithSignals{.interrupt = {signal_raised, nullptr}};

PyObject* to_str(const std::string& json) {
    return PyUnicode_FromStringAndSize(json.data(), static_cast<Py_ssize_t>(json.size()));
}

PyObject* string_result(const Result<std::string>& json) {
    if (!json) return raise_error(json.error());
    return to_str(*json);
}

PyObject* none_result(const Status& status) {
    if (!status) return raise_error(status.error());
    Py_RETURN_NONE;
}

// The XML file of the in-memory functions, whole, as UTF-8 text.
Result<std::string> read_xml(std::string_view path) {
    auto text = io::read_utf8_file(path);
    if (!text) return fail(messages::failed_to_read(path, text.error()));
    return std::move(*text);
}

// `message` names the input that is not UTF-8.
std::optional<TessalyError> check_utf8(std::string_view bytes, TessalyError (*message)(const xml::Utf8Error&)) {
    auto bad = xml::find_utf8_error(bytes);
    if (!bad) return std::nullopt;
    return message(*bad);
}

PyObject* convert(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"convert()", {"xml_path", "xsd_path", "convention"}, 2};
    PyObject* a[kMaxParams];
    std::string_view xml_path, xsd_path;
    Convention convention;
    if (!bind_arguments(sig, args, nargs, kwnames, a) || !arg_str(a[0], "xml_path", xml_path) ||
        !arg_str(a[1], "xsd_path", xsd_path) || !arg_convention(a[2], "convention", convention))
        return nullptr;
    // The schema comes first: a bad schema is reported even when the XML file is missing.
    auto model = load_schema(xsd_path);
    if (!model) return raise_error(model.error());
    auto xml = read_xml(xml_path);
    if (!xml) return raise_error(xml.error());
    return string_result(converter::convert_to_string(*xml, *model, convention, kWithSignals));
}

PyObject* convert_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"convert_bytes()", {"xml_bytes", "xsd_bytes", "convention"}, 2};
    PyObject* a[kMaxParams];
    std::string_view xml, xsd;
    Convention convention;
    if (!bind_arguments(sig, args, nargs, kwnames, a) || !arg_bytes(a[0], "xml_bytes", xml) ||
        !arg_bytes(a[1], "xsd_bytes", xsd) || !arg_convention(a[2], "convention", convention))
        return nullptr;
    if (auto err = check_utf8(xsd, messages::xsd_not_utf8)) return raise_error(*err);
    if (auto err = check_utf8(xml, messages::xml_not_utf8)) return raise_error(*err);
    auto model = load_schema_text(xsd);
    if (!model) return raise_error(model.error());
    return string_result(converter::convert_to_string(xml, *model, convention, kWithSignals));
}

PyObject* convert_to_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"convert_to_file()", {"xml_path", "xsd_path", "output_path", "convention"}, 3};
    PyObject* a[kMaxParams];
    std::string_view xml_view, xsd_view, out_view;
    Convention convention;
    if (!bind_arguments(sig, args, nargs, kwnames, a) || !arg_str(a[0], "xml_path", xml_view) ||
        !arg_str(a[1], "xsd_path", xsd_view) || !arg_str(a[2], "output_path", out_view) ||
        !arg_convention(a[3], "convention", convention))
        return nullptr;
    // Copied while the lock is held: nothing below touches a Python object.
    const std::string xml_path(xml_view), xsd_path(xsd_view), output_path(out_view);

    Status status;
    std::exception_ptr fault;
    Py_BEGIN_ALLOW_THREADS
    try {
        auto model = load_schema(xsd_path);
        status = model ? converter::convert_file(xml_path, *model, output_path, convention)
                       : Status(fail(std::move(model.error())));
    } catch (...) {
        fault = std::current_exception();  // re-thrown once the lock is back
    }
    Py_END_ALLOW_THREADS
    if (fault) std::rethrow_exception(fault);
    // Signals that came while the lock was released are seen now.
    if (PyErr_CheckSignals() != 0) return nullptr;
    return none_result(status);
}

PyObject* convert_with_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"convert_with_schema()", {"xml_path", "schema", "convention"}, 2};
    PyObject* a[kMaxParams];
    std::string_view xml_path;
    const schema::SchemaModel* model;
    Convention convention;
    if (!bind_arguments(sig, args, nargs, kwnames, a) || !arg_str(a[0], "xml_path", xml_path) ||
        !arg_schema(a[1], "schema", model) || !arg_convention(a[2], "convention", convention))
        return nullptr;
    auto xml = read_xml(xml_path);
    if (!xml) return raise_error(xml.error());
    return string_result(converter::convert_to_string(*xml, *model, convention, kWithSignals));
}

PyObject* convert_to_file_with_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{
        "convert_to_file_with_schema()", {"xml_path", "schema", "output_path", "convention"}, 3};
    PyObject* a[kMaxParams];
    std::string_view xml_path, output_path;
    const schema::SchemaModel* model;
    Convention convention;
    if (!bind_arguments(sig, args, nargs, kwnames, a) || !arg_str(a[0], "xml_path", xml_path) ||
        !arg_schema(a[1], "schema", model) || !arg_str(a[2], "output_path", output_path) ||
        !arg_convention(a[3], "convention", convention))
        return nullptr;
    return none_result(converter::convert_file(xml_path, *model, output_path, convention, kWithSignals));
}

PyObject* convert_bytes_with_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"convert_bytes_with_schema()", {"xml_bytes", "schema", "convention"}, 2};
    PyObject* a[kMaxParams];
    std::string_view xml;
    const schema::SchemaModel* model;
    Convention convention;
    if (!bind_arguments(sig, args, nargs, kwnames, a) || !arg_bytes(a[0], "xml_bytes", xml) ||
        !arg_schema(a[1], "schema", model) || !arg_convention(a[2], "convention", convention))
        return nullptr;
    if (auto err = check_utf8(xml, messages::xml_not_utf8)) return raise_error(*err);
    return string_result(converter::convert_to_string(xml, *model, convention, kWithSignals));
}

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

// The interpreter keeps pointers into this table for as long as the functions live.
PyMethodDef kFunctions[] = {
    {"convert", fast_entry<convert>(), kFast,
     "convert(xml_path, xsd_path, convention=...)\n--\n\n"
     "Convert an XML file to JSON using an XSD schema, returning the JSON as a string."},
    {"convert_to_file", fast_entry<convert_to_file>(), kFast,
     "convert_to_file(xml_path, xsd_path, output_path, convention=...)\n--\n\n"
     "Convert an XML file to a JSON file using an XSD schema. Streaming, low memory."},
    {"convert_bytes", fast_entry<convert_bytes>(), kFast,
     "convert_bytes(xml_bytes, xsd_bytes, convention=...)\n--\n\n"
     "Convert XML bytes + XSD bytes to a JSON string (fully in-memory)."},
    {"convert_with_schema", fast_entry<convert_with_schema>(), kFast,
     "convert_with_schema(xml_path, schema, convention=...)\n--\n\n"
     "Convert an XML file to JSON using a pre-parsed Schema, returning the JSON as a string."},
    {"convert_to_file_with_schema", fast_entry<convert_to_file_with_schema>(), kFast,
     "convert_to_file_with_schema(xml_path, schema, output_path, convention=...)\n--\n\n"
     "Convert an XML file to a JSON file using a pre-parsed Schema. Streaming, low memory."},
    {"convert_bytes_with_schema", fast_entry<convert_bytes_with_schema>(), kFast,
     "convert_bytes_with_schema(xml_bytes, schema, convention=...)\n--\n\n"
     "Convert XML bytes to a JSON string using a pre-parsed Schema (fully in-memory)."},
};

}  // namespace

std::span<PyMethodDef> module_functions() { return kFunctions; }

}  // namespace tessaly::python
