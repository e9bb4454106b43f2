// The C++ core's conversion alone, without Python: for profiling with perf or
// callgrind, and for telling the core's time from the cost of building the
// Python string. Prints MB/s of input for each run and the output size.
//
// Build it with symbols, then run:
//   cmake -S . -B build/prof -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g -DTESSALY_BENCH=ON
//   cmake --build build/prof --target convert_core
//   build/prof/convert_core FEED.xml SCHEMA.xsd [runs] [memory|file|records] [RECORD] [OUT]
// (records: every RECORD element, feed/order by default, as NDJSON; the
// output goes to OUT, /dev/null by default, in every mode)
//   valgrind --tool=callgrind build/prof/convert_core bench/out/orders-5MB-seed1-*.xml bench/out/orders.xsd 1
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "converter/convert.hpp"
#include "schema/loader.hpp"
#include "tessaly/records.hpp"

using namespace tessaly;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FEED.xml SCHEMA.xsd [runs] [memory|file|records] [RECORD] [OUT]\n", argv[0]);
        return 2;
    }
    auto model = schema::parse_xsd(argv[2]);
    if (!model) {
        std::fprintf(stderr, "schema: %s\n", model.error().display().c_str());
        return 1;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    const char* mode = argc > 4 ? argv[4] : "memory";
    const bool file = std::strcmp(mode, "file") == 0;
    const bool records = std::strcmp(mode, "records") == 0;
    const char* record = argc > 5 ? argv[5] : "feed/order";
    const char* out_path = argc > 6 ? argv[6] : "/dev/null";
    std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
    std::string xml(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(xml.data(), static_cast<std::streamsize>(xml.size()));
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        std::size_t out_bytes = 0;
        if (records) {
            auto stream = core::RecordStream::open_file(argv[1], *model, record, Convention::BadgerFish);
            auto r = stream ? (*stream)->write_to_file(out_path) : Result<std::uint64_t>(std::unexpected(stream.error()));
            if (!r) {
                std::fprintf(stderr, "%s\n", r.error().display().c_str());
                return 1;
            }
        } else if (file) {
            auto r = converter::convert_file(argv[1], *model, out_path, converter::Convention::BadgerFish);
            if (!r) {
                std::fprintf(stderr, "%s\n", r.error().display().c_str());
                return 1;
            }
        } else {
            auto r = converter::convert_to_string(xml, *model, converter::Convention::BadgerFish);
            if (!r) {
                std::fprintf(stderr, "%s\n", r.error().display().c_str());
                return 1;
            }
            out_bytes = r->size();
            if (argc > 6) std::ofstream(out_path, std::ios::binary).write(r->data(), static_cast<std::streamsize>(r->size()));
        }
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s: %.1f MB/s, %zu bytes out\n", mode, xml.size() / 1e6 / s, out_bytes);
    }
}
