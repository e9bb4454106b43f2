// The schema loader on two documents: the input up to the first "\n----\n"
// is a.xsd, the rest b.xsd (absent when there is no separator), both in the
// private directory; a.xsd is loaded, and reaches b.xsd through include or
// import. A loaded model is walked whole.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "common.hpp"
#include "schema/loader.hpp"
#include "schema_walk.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string a_path = fuzz::private_path("a.xsd");
    static const std::string b_path = fuzz::private_path("b.xsd");
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view separator = "\n----\n";
    const std::size_t cut = input.find(separator);
    fuzz::write_file(a_path, input.substr(0, cut));
    if (cut == std::string_view::npos)
        std::remove(b_path.c_str());
    else
        fuzz::write_file(b_path, input.substr(cut + separator.size()));
    auto model = tessaly::schema::parse_xsd(a_path);
    if (model) {
        volatile std::size_t sink = fuzz::walk_schema(*model);
        (void)sink;
    }
    return 0;
}
