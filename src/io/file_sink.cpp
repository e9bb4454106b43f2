#include "io/file_sink.hpp"

#include <algorithm>
#include <cstring>

namespace tessaly::io {

std::expected<void, std::string> FileSink::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), size_ - len_);
        std::memcpy(buf_.get() + len_, bytes.data(), n);
        len_ += n;
        bytes.remove_prefix(n);
        if (len_ == size_)
            if (auto r = flush(); !r) return r;
    }
    return {};
}

std::expected<char*, std::string> FileSink::lend(std::size_t n) {
    if (n > size_) return nullptr;
    if (size_ - len_ < n)
        if (auto r = flush(); !r) return std::unexpected(std::move(r.error()));
    return buf_.get() + len_;
}

std::expected<void, std::string> FileSink::flush() {
    auto r = file_.write_all({buf_.get(), len_});
    len_ = 0;
    return r;
}

}  // namespace tessaly::io
