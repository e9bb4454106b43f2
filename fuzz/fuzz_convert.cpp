// The in-memory conversion. The first byte picks the schema and the
// convention (schemas.hpp); the rest is the document, repaired to UTF-8 as
// callers guarantee. Output must be UTF-8 and well-formed JSON with sorted
// keys; a failure must be an XML read error, never one of the core's own
// checks on the text it produced.

#include <cstddef>
#include <cstdint>

#include "common.hpp"
#include "converter/convert.hpp"
#include "json_check.hpp"
#include "schemas.hpp"
#include "xml/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const fuzz::Choice choice = fuzz::choose(data[0]);
    const fuzz::Utf8Input input({reinterpret_cast<const char*>(data) + 1, size - 1});

    auto out = tessaly::converter::convert_to_string(input.text(), *choice.model, choice.convention);
    if (!out) {
        const auto& e = out.error();
        fuzz::check(e.kind == tessaly::ErrorKind::Conversion && e.detail.starts_with("XML read error: "),
                    "unexpected error", e.display());
        return 0;
    }
    fuzz::check(tessaly::xml::is_utf8(out->view()), "output is not UTF-8", out->view());
    if (out->empty()) return 0;
    std::string problem = fuzz::JsonCheck::problem(out->view());
    fuzz::check(problem.empty(), "output is not well-formed JSON", problem, out->view());
    return 0;
}
