#pragma once
// Records from Python: a reader that hands out compact JSON texts in
// batches, and a whole stream of records written to an NDJSON file.

#include "python/py.hpp"

namespace tessaly::tools {

// The record reader class, made once per module; a new reference.
PyObject* make_record_reader_type(PyObject* module);

// open_records(source, schema, record, convention, byte_range) -> reader
PyObject* open_records(PyObject* module, PyObject* args);
// convert_records_to_file(source, schema, record, output_path, convention, byte_range) -> int
PyObject* convert_records_to_file(PyObject* module, PyObject* args);

}  // namespace tessaly::tools
