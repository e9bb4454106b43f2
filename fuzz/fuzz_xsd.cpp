// The schema loader on one document, read from a file in the private
// directory, in both resolution profiles; a loaded model is walked whole.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common.hpp"
#include "schema/loader.hpp"
#include "schema_walk.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::private_path("main.xsd");
    fuzz::write_file(path, {reinterpret_cast<const char*>(data), size});
    for (auto resolution : {tessaly::Resolution::Literal, tessaly::Resolution::Complete}) {
        auto model = tessaly::schema::parse_xsd(path, {.resolution = resolution});
        if (model) {
            volatile std::size_t sink = fuzz::walk_schema(*model);
            (void)sink;
        }
    }
    return 0;
}
