#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "converter/convert.hpp"
#include "converter/walker.hpp"
#include "io/file_source.hpp"
#include "io/os_error.hpp"
#include "json/writer.hpp"
#include "xml/reader.hpp"

namespace tessaly::converter {

namespace {

// The output file behind a buffer, which the writer fills in place.
// Texts larger than the buffer go out in buffer-sized pieces.
class FileSink final : public json::Sink {
public:
    FileSink(const io::File& f, std::size_t size) : file_(f), buf_(new char[size]), size_(size) {}

    std::expected<void, std::string> write(std::string_view bytes) override {
        if (!error_.empty()) return std::unexpected(error_);
        while (!bytes.empty()) {
            std::size_t room = size_ - len_;
            std::size_t n = bytes.size() < room ? bytes.size() : room;
            std::memcpy(buf_.get() + len_, bytes.data(), n);
            len_ += n;
            bytes.remove_prefix(n);
            if (len_ == size_)
                if (auto r = drain(); !r) return r;
        }
        return {};
    }

    // A failed write while making room is kept and reported by the next
    // write, which the writer then makes into its own buffer.
    char* lend(std::size_t n) override {
        if (!error_.empty() || n > size_) return nullptr;
        if (size_ - len_ < n)
            if (auto r = drain(); !r) {
                error_ = std::move(r.error());
                return nullptr;
            }
        return buf_.get() + len_;
    }
    void commit(std::size_t n) override { len_ += n; }

    std::expected<void, std::string> drain() {
        if (!error_.empty()) return std::unexpected(error_);
        auto r = io::write_all(file_, {buf_.get(), len_});
        len_ = 0;
        return r;
    }

private:
    const io::File& file_;
    std::unique_ptr<char[]> buf_;
    std::size_t size_;
    std::size_t len_ = 0;
    std::string error_;
};

}  // namespace

Status convert_file(std::string_view xml_path, const schema::SchemaModel& model, std::string_view output_path,
                    Convention convention, const ConvertOptions& options) {
    auto in = io::open_for_reading(xml_path);
    if (!in) return fail(TessalyError::io("Failed to open " + std::string(xml_path) + ": " + in.error()));
    io::FileSource source(*in);
    xml::Reader reader(source, options.buffer_size);

    // The output is opened (and created) before anything is read, so that an
    // unwritable output is reported first, but it is truncated only once the
    // whole input has been read: a malformed input leaves an existing file as it was.
    auto out = io::open_for_writing(output_path);
    if (!out) return fail(TessalyError::io("Failed to create " + std::string(output_path) + ": " + out.error()));

    json::Arena arena;
    json::KeyTable keys(arena);
    auto root = walk_document(reader, false, model, convention, arena, keys, options.interrupt);
    if (!root) return fail(std::move(root.error()));
    in->close();

    // Pipes and devices cannot be truncated and need not be; nor need an empty file.
    struct stat st;
    if (::fstat(out->fd(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && ::ftruncate(out->fd(), 0) != 0)
        return fail(TessalyError::conversion("JSON write error: " + io::os_error_text(errno)));
    if (!*root) return {};
    FileSink sink(*out, options.buffer_size);
    if (auto w = json::write_pretty(**root, keys, sink); !w) return fail(TessalyError::conversion("JSON write error: " + w.error()));
    if (auto f = sink.drain(); !f) return fail(TessalyError::io("Flush error: " + f.error()));
    return {};
}

}  // namespace tessaly::converter
