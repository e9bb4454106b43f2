#pragma once
// Work done without the interpreter lock.

#include <exception>

#include "python/py.hpp"

namespace tessaly::tools {

// Runs `work` without the interpreter lock; a C++ exception it throws is
// thrown again once the lock is back. `work` must touch no Python object.
template <class Work>
void unlocked(Work&& work) {
    std::exception_ptr thrown;
    Py_BEGIN_ALLOW_THREADS
    try {
        work();
    } catch (...) {
        thrown = std::current_exception();
    }
    Py_END_ALLOW_THREADS
    if (thrown) std::rethrow_exception(thrown);
}

}  // namespace tessaly::tools
