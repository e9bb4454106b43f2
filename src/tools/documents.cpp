#include "tools/documents.hpp"

#include "tools/cancel.hpp"
#include "tools/schema_access.hpp"
#include "tools/unlocked.hpp"

namespace tessaly::tools {

PyObject* convert_to_file(PyObject* module, PyObject* args) {
    PyObject *schema, *xml, *output, *cancel;
    int convention, compact, read_ahead;
    if (!PyArg_ParseTuple(args, "UOUipOp", &xml, &schema, &output, &convention, &compact, &cancel, &read_ahead))
        return nullptr;
    const schema::SchemaModel* model = model_of(module, schema);
    if (!model) return nullptr;
    Py_ssize_t xml_n = 0, out_n = 0;
    const char* xml_path = PyUnicode_AsUTF8AndSize(xml, &xml_n);
    const char* output_path = xml_path ? PyUnicode_AsUTF8AndSize(output, &out_n) : nullptr;
    if (!output_path) return nullptr;
    // Without the second thread when every core already converts a file of its own.
    core::ConvertOptions options{.compact = compact != 0, .replace_on_success = true};
    if (!read_ahead) options.read_ahead_from = UINT64_MAX;
    if (!interrupt_check(module, cancel, options.interrupt)) return nullptr;
    Status done;
    unlocked([&] {
        done = core::convert_file({xml_path, static_cast<std::size_t>(xml_n)}, *model,
                                  {output_path, static_cast<std::size_t>(out_n)}, static_cast<Convention>(convention),
                                  options);
    });
    if (!done) return raise_conversion_error(done.error());
    if (PyErr_CheckSignals() != 0) return nullptr;
    Py_RETURN_NONE;
}

}  // namespace tessaly::tools
