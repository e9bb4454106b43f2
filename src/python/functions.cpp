#include "python/functions.hpp"

#include <array>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "python/args.hpp"
#include "python/errors.hpp"
#include "tessaly/core.hpp"

namespace tessaly::python {

using namespace core;

namespace {

// The six functions differ only in where the XML and the schema come from
// and where the JSON goes; one table says which, and one routine does them all.
enum class XmlFrom : std::uint8_t { Path, Bytes };
enum class SchemaFrom : std::uint8_t { Path, Bytes, Object };
enum class Output : std::uint8_t { String, File };

struct Function {
    Signature sig;  // parameters: the XML, the schema, [the output path], the convention
    XmlFrom xml;
    SchemaFrom schema;
    Output output;
    const char* name;
    const char* doc;
};

constexpr Function kTable[] = {
    {{"convert()", {"xml_path", "xsd_path", "convention"}, 2}, XmlFrom::Path, SchemaFrom::Path, Output::String,
     "convert",
     "convert(xml_path, xsd_path, convention=...)\n--\n\n"
     "Convert an XML file to JSON using an XSD schema, returning the JSON as a string."},
    {{"convert_to_file()", {"xml_path", "xsd_path", "output_path", "convention"}, 3}, XmlFrom::Path,
     SchemaFrom::Path, Output::File, "convert_to_file",
     "convert_to_file(xml_path, xsd_path, output_path, convention=...)\n--\n\n"
     "Convert an XML file to a JSON file using an XSD schema. Streaming, low memory."},
    {{"convert_bytes()", {"xml_bytes", "xsd_bytes", "convention"}, 2}, XmlFrom::Bytes, SchemaFrom::Bytes,
     Output::String, "convert_bytes",
     "convert_bytes(xml_bytes, xsd_bytes, convention=...)\n--\n\n"
     "Convert XML bytes + XSD bytes to a JSON string (fully in-memory)."},
    {{"convert_with_schema()", {"xml_path", "schema", "convention"}, 2}, XmlFrom::Path, SchemaFrom::Object,
     Output::String, "convert_with_schema",
     "convert_with_schema(xml_path, schema, convention=...)\n--\n\n"
     "Convert an XML file to JSON using a pre-parsed Schema, returning the JSON as a string."},
    {{"convert_to_file_with_schema()", {"xml_path", "schema", "output_path", "convention"}, 3}, XmlFrom::Path,
     SchemaFrom::Object, Output::File, "convert_to_file_with_schema",
     "convert_to_file_with_schema(xml_path, schema, output_path, convention=...)\n--\n\n"
     "Convert an XML file to a JSON file using a pre-parsed Schema. Streaming, low memory."},
    {{"convert_bytes_with_schema()", {"xml_bytes", "schema", "convention"}, 2}, XmlFrom::Bytes, SchemaFrom::Object,
     Output::String, "convert_bytes_with_schema",
     "convert_bytes_with_schema(xml_bytes, schema, convention=...)\n--\n\n"
     "Convert XML bytes to a JSON string using a pre-parsed Schema (fully in-memory)."},
};

// While the lock is held, a long conversion looks at pending signals now and
// then, so that Ctrl-C stops it with the KeyboardInterrupt the handler raised.
bool signal_raised(void*) { return PyErr_CheckSignals() != 0; }

const ConvertOptions kWithSignals{.interrupt = {signal_raised, nullptr}};

PyObject* none_result(const Status& status) {
    if (!status) return raise_error(status.error());
    Py_RETURN_NONE;
}

// convert_to_file: the schema load and the conversion run without the lock,
// on copies of the arguments.
PyObject* convert_to_file_unlocked(std::string_view xml_view, std::string_view xsd_view, std::string_view out_view,
                                   Convention convention) {
    const std::string xml_path(xml_view), xsd_path(xsd_view), output_path(out_view);
    Status status;
    std::exception_ptr fault;
    Py_BEGIN_ALLOW_THREADS
    try {
        auto model = load_schema(xsd_path);
        status = model ? convert_file(xml_path, **model, output_path, convention) : Status(fail(std::move(model.error())));
    } catch (...) {
        fault = std::current_exception();  // re-thrown once the lock is back
    }
    Py_END_ALLOW_THREADS
    if (fault) std::rethrow_exception(fault);
    // Signals that came while the lock was released are seen now.
    if (PyErr_CheckSignals() != 0) return nullptr;
    return none_result(status);
}

PyObject* call(const Function& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[kMaxParams];
    if (!bind_arguments(f.sig, args, nargs, kwnames, a)) return nullptr;
    const char* const* name = f.sig.params.begin();
    std::string_view xml, xsd, output;
    const schema::SchemaModel* model = nullptr;
    Convention convention;
    const std::size_t at_convention = f.output == Output::File ? 3 : 2;
    if (!(f.xml == XmlFrom::Path ? arg_str(a[0], name[0], xml) : arg_bytes(a[0], name[0], xml))) return nullptr;
    if (!(f.schema == SchemaFrom::Path    ? arg_str(a[1], name[1], xsd)
          : f.schema == SchemaFrom::Bytes ? arg_bytes(a[1], name[1], xsd)
                                          : arg_schema(a[1], name[1], model)))
        return nullptr;
    if (f.output == Output::File && !arg_str(a[2], name[2], output)) return nullptr;
    if (!arg_convention(a[at_convention], name[at_convention], convention)) return nullptr;

    if (f.output == Output::File && f.schema == SchemaFrom::Path)
        return convert_to_file_unlocked(xml, xsd, output, convention);
    // Bytes are checked before anything is parsed, the XSD first.
    if (f.schema == SchemaFrom::Bytes)
        if (auto ok = check_xsd_bytes(xsd); !ok) return raise_error(ok.error());
    if (f.xml == XmlFrom::Bytes)
        if (auto ok = check_xml_bytes(xml); !ok) return raise_error(ok.error());
    // The schema comes before the XML file: a bad schema is reported even
    // when the XML file is missing.
    SchemaModelPtr loaded;
    if (f.schema != SchemaFrom::Object) {
        auto m = f.schema == SchemaFrom::Path ? load_schema(xsd) : load_schema_bytes(xsd);
        if (!m) return raise_error(m.error());
        loaded = std::move(*m);
        model = loaded.get();
    }
    if (f.output == Output::File) return none_result(convert_file(xml, *model, output, convention, kWithSignals));
    std::string file_text;
    if (f.xml == XmlFrom::Path) {
        auto text = read_xml_file(xml);
        if (!text) return raise_error(text.error());
        file_text = std::move(*text);
        xml = file_text;
    }
    auto json = convert_to_string(xml, *model, convention, kWithSignals);
    if (!json) return raise_error(json.error());
    return PyUnicode_FromStringAndSize(json->data(), static_cast<Py_ssize_t>(json->size()));
}

template <std::size_t I>
PyObject* entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call(kTable[I], args, nargs, kwnames);
}

template <std::size_t... I>
std::array<PyMethodDef, sizeof...(I)> method_defs(std::index_sequence<I...>) {
    return {{{kTable[I].name, fast_entry<entry<I>>(), METH_FASTCALL | METH_KEYWORDS, kTable[I].doc}...}};
}

// The interpreter keeps pointers into this table for as long as the functions live.
std::array<PyMethodDef, std::size(kTable)> kFunctions = method_defs(std::make_index_sequence<std::size(kTable)>());

}  // namespace

std::span<PyMethodDef> module_functions() { return kFunctions; }

}  // namespace tessaly::python
