#pragma once
// The interpreter's side of a long conversion that may run without the
// interpreter lock: a binary file object read as the input, and Ctrl-C
// noticed while the work goes on. Both take the lock for each call, so they
// work whether the caller holds it or has released it.

#include "python/py.hpp"
#include "tessaly/records.hpp"

namespace tessaly::tools {

// Reads with the object's readinto() (or read() when it has none).
class FileObjectStream final : public core::InputStream {
public:
    explicit FileObjectStream(PyObject* file) : file_(file) {}
    std::expected<std::size_t, std::string> read(char* dst, std::size_t capacity) override;

private:
    PyObject* file_;  // borrowed: the caller keeps it alive
};

// Asks the interpreter whether a signal handler raised (Ctrl-C); the
// exception stays set for the caller to raise.
core::InterruptCheck signal_check();

}  // namespace tessaly::tools
