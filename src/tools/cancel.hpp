#pragma once
// A stop that one thread asks of conversions running on others. Ctrl-C
// reaches only the main thread; a batch that runs conversions on worker
// threads sets the token they share, and each stops at its next check, its
// output left as it was.

#include <atomic>

#include "python/py.hpp"
#include "tessaly/core.hpp"

namespace tessaly::tools {

// The Cancel class, made once per module; a new reference.
PyObject* make_cancel_type();

// The check a conversion asks now and then: `token` (a Cancel, or None) set,
// or a signal handler raised. `token` must outlive the conversion.
// False with TypeError set when `token` is neither.
bool interrupt_check(PyObject* module, PyObject* token, core::InterruptCheck& out);

// Raises the error of a conversion; a stop asked through a token (nothing
// pending) is KeyboardInterrupt.
PyObject* raise_conversion_error(const TessalyError& error);

}  // namespace tessaly::tools
