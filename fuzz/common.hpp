#pragma once
// What the fuzz targets share: a private directory for the files they hand
// the core, exact-size copies of inputs (so that ASan sees a read one byte
// past the end), and the way a target stops on a broken invariant.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <stdlib.h>

#include "xml/utf8.hpp"

namespace fuzz {

// Prints both sides of a broken invariant and stops the fuzzer with a crash,
// so that libFuzzer saves the input.
[[noreturn]] inline void mismatch(const char* what, std::string_view a = {}, std::string_view b = {}) {
    std::fprintf(stderr, "\n*** mismatch: %s\n--- first (%zu bytes):\n%.*s\n--- second (%zu bytes):\n%.*s\n", what,
                 a.size(), static_cast<int>(a.size() > 4096 ? 4096 : a.size()), a.data(), b.size(),
                 static_cast<int>(b.size() > 4096 ? 4096 : b.size()), b.data());
    __builtin_trap();
}

inline void check(bool ok, const char* what, std::string_view a = {}, std::string_view b = {}) {
    if (!ok) mismatch(what, a, b);
}

// A failure of the harness itself (the disk is full, say), not of the core.
[[noreturn]] inline void harness_failure(const std::string& what) {
    std::fprintf(stderr, "fuzz harness: %s\n", what.c_str());
    std::abort();
}

// A directory of this process's own, made on first use in TMPDIR (or /tmp)
// and removed at a normal exit. Never freed, so that it outlives the exit
// handler that removes it.
inline const std::string& private_dir() {
    static const std::string* const dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        auto made = new std::string(std::string(tmp && *tmp ? tmp : "/tmp") + "/tessaly-fuzz-XXXXXX");
        if (!::mkdtemp(made->data())) harness_failure("cannot make a directory from " + *made);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(private_dir(), ignored);
        });
        return made;
    }();
    return *dir;
}

inline std::string private_path(std::string_view name) { return private_dir() + "/" + std::string(name); }

inline void write_file(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) harness_failure("cannot write " + path);
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) harness_failure("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return std::move(s).str();
}

// Bytes in a heap block of exactly their size.
class ExactBytes {
public:
    explicit ExactBytes(std::string_view bytes) : data_(new char[bytes.size()]), size_(bytes.size()) {
        if (size_ > 0) std::memcpy(data_.get(), bytes.data(), size_);
    }
    std::string_view view() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_;
};

// The input as UTF-8: itself when it already is, else with every invalid
// sequence replaced by U+FFFD (as file input reads it), in an exact-size copy.
class Utf8Input {
public:
    explicit Utf8Input(std::string_view raw) : raw_(raw), valid_(tessaly::xml::is_utf8(raw)) {
        if (!valid_) {
            std::string repaired;
            tessaly::xml::append_utf8_lossy(repaired, raw);
            repaired_ = std::make_unique<ExactBytes>(repaired);
        }
    }
    std::string_view text() const { return valid_ ? raw_ : repaired_->view(); }
    bool was_utf8() const { return valid_; }

private:
    std::string_view raw_;
    bool valid_;
    std::unique_ptr<ExactBytes> repaired_;
};

}  // namespace fuzz
