#pragma once
// Whole documents from the companion package: a file conversion with a
// shared Schema that releases the interpreter lock.

#include "python/py.hpp"

namespace tessaly::tools {

// convert_to_file(xml_path, schema, output_path, convention, compact) -> None
PyObject* convert_to_file(PyObject* module, PyObject* args);

}  // namespace tessaly::tools
