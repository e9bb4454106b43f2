#include "converter/checked_source.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "xml/utf8.hpp"

namespace tessaly::converter {

namespace {

// The length of the sequence that a valid first byte begins.
std::size_t sequence_length(unsigned char lead) { return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2; }

}  // namespace

std::expected<std::size_t, std::string> CheckedSource::read(char* dst, std::size_t capacity) {
    auto got = inner_->read(dst, capacity);
    if (got && valid_) {
        if (*got == 0) {
            if (carried_ > 0) valid_ = false;
        } else {
            check(dst, *got);
        }
    }
    return got;
}

void CheckedSource::check(const char* p, std::size_t n) {
    if (carried_ > 0) {
        const std::size_t take = std::min(expected_ - carried_, n);
        std::memcpy(carry_ + carried_, p, take);
        carried_ += take;
        p += take;
        n -= take;
        const auto bad = xml::find_utf8_error(std::string_view(carry_, carried_));
        if (bad && bad->error_len != 0) {
            valid_ = false;
            return;
        }
        if (carried_ < expected_) return;
        carried_ = 0;
    }
    const auto bad = xml::find_utf8_error(std::string_view(p, n));
    if (!bad) return;
    if (bad->error_len != 0) {
        valid_ = false;
        return;
    }
    // Cut by the end of this read: judged once the rest has come.
    carried_ = n - bad->valid_up_to;
    std::memcpy(carry_, p + bad->valid_up_to, carried_);
    expected_ = sequence_length(static_cast<unsigned char>(carry_[0]));
}

}  // namespace tessaly::converter
