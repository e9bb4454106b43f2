#pragma once
// The six conversion functions, in the order the module adds them.

#include <span>

#include "python/py.hpp"

namespace tessaly::python {

std::span<PyMethodDef> module_functions();

}  // namespace tessaly::python
