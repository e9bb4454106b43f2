// The "fastest native parse" floor of the benchmarks: read XML files into
// memory, then build a pugixml DOM of each with the library's default options,
// and nothing else. Only the parse is timed, over a fresh copy of the bytes,
// so the figure is comparable with an in-memory conversion of bytes that a
// caller already holds.
//
//   pugixml_parse [--repeat N] FILE...
//
// Prints one line: the best total parse time over N rounds in seconds, the
// number of elements of all documents, the input bytes and the peak RSS in KiB
// (VmHWM: getrusage would report the parent's high-water mark across exec).
// Build: g++ -O2 -std=c++17 pugixml_parse.cpp -lpugixml -o pugixml_parse

#include <pugixml.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool read_file(const char* path, std::vector<char>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Counts elements without recursion: a document's depth is the input's business.
long peak_rss_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

std::size_t count_elements(const pugi::xml_document& doc) {
    std::size_t count = 0;
    pugi::xml_node node = doc.first_child();
    while (node) {
        if (node.type() == pugi::node_element) ++count;
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && !node.next_sibling()) node = node.parent();
        if (node) node = node.next_sibling();
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 1;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::atoi(argv[++i]);
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.empty() || repeat < 1) {
        std::fprintf(stderr, "usage: %s [--repeat N] FILE...\n", argv[0]);
        return 2;
    }

    std::vector<std::vector<char>> inputs(paths.size());
    std::size_t total_bytes = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!read_file(paths[i], inputs[i])) {
            std::fprintf(stderr, "cannot read %s\n", paths[i]);
            return 1;
        }
        total_bytes += inputs[i].size();
    }

    double best = 0;
    std::size_t elements = 0;
    std::vector<char> scratch;
    for (int round = 0; round < repeat; ++round) {
        double seconds = 0;
        elements = 0;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            scratch = inputs[i];  // in-place parsing consumes its buffer
            pugi::xml_document doc;
            auto start = std::chrono::steady_clock::now();
            pugi::xml_parse_result result =
                doc.load_buffer_inplace(scratch.data(), scratch.size(), pugi::parse_default);
            auto stop = std::chrono::steady_clock::now();
            if (!result) {
                std::fprintf(stderr, "%s: %s at offset %td\n", paths[i], result.description(),
                             result.offset);
                return 1;
            }
            seconds += std::chrono::duration<double>(stop - start).count();
            elements += count_elements(doc);
        }
        if (round == 0 || seconds < best) best = seconds;
    }

    std::printf("%.9f %zu %zu %ld\n", best, elements, total_bytes, peak_rss_kib());
    return 0;
}
