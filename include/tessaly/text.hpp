#pragma once
// A converted document's JSON text, in memory mapped for it alone. It grows
// by remapping, so a text of hundreds of megabytes is never copied to make
// room, and its pages are offered as huge pages, so it is not taken 4 KiB at
// a time either. Move-only; unmapped when dropped.

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace tessaly {

class Text {
public:
    Text() = default;
    ~Text();
    Text(Text&& other) noexcept;
    Text& operator=(Text&& other) noexcept;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string_view view() const { return {data_, size_}; }
    operator std::string_view() const { return view(); }
    bool operator==(std::string_view other) const { return view() == other; }

    // Room for `n` bytes past the text, at least `hint` bytes mapped in all
    // when the mapping has to grow; the text itself does not change. On
    // failure, the system's reason.
    std::expected<char*, std::string> room(std::size_t n, std::size_t hint = 0);
    // The text now ends `n` bytes into the room last asked for.
    void extend(std::size_t n) { size_ += n; }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;  // bytes mapped
};

}  // namespace tessaly
