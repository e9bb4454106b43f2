// Schema load times: two synthetic worst cases for named-type resolution and
// every entry schema of the shared corpus. Each load is checked before it is
// timed; the figures are the fastest and the median of repeated loads.
//
// Built and run by bench/schema_load.py, or by CMake with -DTESSALY_BENCH=ON
// (target schema_load); by hand:
//   g++ -std=c++23 -O2 -pthread -Isrc bench/schema_load.cpp src/error.cpp src/io/*.cpp src/xml/*.cpp src/schema/*.cpp -o schema_load
//   ./schema_load [corpus-dir]   (default ../shared/corpus: run it from the repo root)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "schema/loader.hpp"

namespace fs = std::filesystem;
using tessaly::schema::parse_xsd;

namespace {

std::string schema_text(const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n" + body +
           "</xs:schema>\n";
}

// Named types `levels` deep: each type holds `fan_out` children of the next
// type, so copying every use in place would need fan_out^levels copies.
std::string deep_named_types(int levels, int fan_out) {
    std::string body;
    body += "<xs:element name=\"root\" type=\"T0\"/>\n";
    for (int k = 0; k < levels; ++k) {
        body += "<xs:complexType name=\"T" + std::to_string(k) + "\"><xs:sequence>";
        for (int j = 0; j < fan_out; ++j)
            body += "<xs:element name=\"l" + std::to_string(k) + "_" + std::to_string(j) + "\" type=\"T" +
                    std::to_string(k + 1) + "\" maxOccurs=\"unbounded\"/>";
        body += "</xs:sequence><xs:attribute name=\"n\" type=\"xs:int\"/></xs:complexType>\n";
    }
    body += "<xs:simpleType name=\"T" + std::to_string(levels) + "\"><xs:restriction base=\"xs:int\"/></xs:simpleType>\n";
    return schema_text(body);
}

// `n` named types, each holding one element of every one of the `n` types.
std::string all_contain_all(int n) {
    std::string body = "<xs:element name=\"e0\" type=\"T0\"/>\n";
    for (int i = 0; i < n; ++i) {
        body += "<xs:complexType name=\"T" + std::to_string(i) + "\"><xs:sequence>";
        for (int j = 0; j < n; ++j)
            body += "<xs:element name=\"e" + std::to_string(j) + "\" type=\"T" + std::to_string(j) +
                    "\" minOccurs=\"0\"/>";
        body += "</xs:sequence></xs:complexType>\n";
    }
    return schema_text(body);
}

struct Entry {
    std::string label;
    std::string path;
    double limit_ms;
    tessaly::Resolution resolution = tessaly::Resolution::Literal;
};

struct Figures {
    bool ok = false;
    std::string error;
    std::size_t elements = 0, types = 0;
    double min_ms = 0, median_ms = 0;
    int runs = 0;
};

Figures measure(const std::string& path, tessaly::Resolution resolution) {
    tessaly::LoadOptions options;
    options.resolution = resolution;
    Figures f;
    auto first = parse_xsd(path, options);
    if (!first) {
        f.error = first.error().display();
        return f;
    }
    f.ok = true;
    f.elements = first->elements.size();
    f.types = first->types.size();
    std::vector<double> times;
    double total = 0;
    while (times.size() < 5 || (total < 500.0 && times.size() < 200)) {
        auto t0 = std::chrono::steady_clock::now();
        auto m = parse_xsd(path, options);
        auto t1 = std::chrono::steady_clock::now();
        if (!m || m->types.size() != f.types) {
            f.ok = false;
            f.error = "a repeated load differs from the first";
            return f;
        }
        double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
        times.push_back(ms);
        total += ms;
    }
    std::sort(times.begin(), times.end());
    f.min_ms = times.front();
    f.median_ms = times[times.size() / 2];
    f.runs = static_cast<int>(times.size());
    return f;
}

void add_dir(std::vector<Entry>& out, const fs::path& corpus, const std::string& rel, const std::string& prefix,
             double limit) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& d : fs::directory_iterator(corpus / rel, ec))
        if (d.path().extension() == ".xsd") names.push_back(d.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const auto& n : names) out.push_back({prefix + n, (corpus / rel / n).string(), limit});
}

}  // namespace

int main(int argc, char** argv) {
    fs::path corpus = argc > 1 ? fs::path(argv[1]) : fs::path("../shared/corpus");
    fs::path tmp = fs::temp_directory_path() / ("tessaly_schema_bench_" + std::to_string(::getpid()));
    fs::create_directories(tmp);
    std::ofstream(tmp / "deep_12x4.xsd") << deep_named_types(12, 4);
    std::ofstream(tmp / "all_24.xsd") << all_contain_all(24);

    std::vector<Entry> entries = {
        {"synthetic: named types 12 deep, fan-out 4", (tmp / "deep_12x4.xsd").string(), 10},
        {"synthetic: 24 types each containing all 24", (tmp / "all_24.xsd").string(), 10},
    };
    const bool have_corpus = fs::is_directory(corpus);
    if (have_corpus) {
        const std::string invoice = (corpus / "ubl-2.1/xsd/maindoc/UBL-Invoice-2.1.xsd").string();
        entries.push_back({"ubl-2.1 Invoice", invoice, 100});
        entries.push_back({"ubl-2.1 Invoice, complete profile", invoice, 100, tessaly::Resolution::Complete});
    }
    else
        std::printf("note: no corpus at %s; its rows are skipped\n", corpus.string().c_str());
    const std::pair<const char*, const char*> singles[] = {
        {"maven-pom", "maven-pom/maven-site/content/resources/xsd/maven-4.0.0.xsd"},
        {"junit-10", "junit-reports/xunit-plugin/src/main/resources/org/jenkinsci/plugins/xunit/types/model/xsd/junit-10.xsd"},
        {"surefire", "junit-reports/maven-surefire/maven-surefire-plugin/src/site/resources/xsd/surefire-test-report.xsd"},
        {"nunit-2.x", "junit-reports/xunit-plugin/src/main/resources/org/jenkinsci/plugins/xunit/types/nunit-2.x.xsd"},
        {"phpunit-4.0", "junit-reports/xunit-plugin/src/main/resources/org/jenkinsci/plugins/xunit/types/phpunit-4.0.xsd"},
        {"boosttest-1.5.0", "junit-reports/xunit-plugin/src/main/resources/org/jenkinsci/plugins/xunit/types/boosttest-1.5.0.xsd"},
        {"cppunit-1.0", "junit-reports/xunit-plugin/src/main/resources/org/jenkinsci/plugins/xunit/types/cppunit-1.0.xsd"},
        {"aunit-2.0", "junit-reports/xunit-plugin/src/main/resources/org/jenkinsci/plugins/xunit/types/aunit-2.0.xsd"},
        {"gpx 1.1", "gpx/logiqx-gpx-ideas/docs/xmlschemas/topografix/gpx/1/1/gpx.xsd"},
        {"gpx 1.0", "gpx/logiqx-gpx-ideas/docs/xmlschemas/topografix/gpx/1/0/gpx.xsd"},
        {"gpx garmin TrackPointExtension v1", "gpx/logiqx-gpx-ideas/docs/xmlschemas/garmin/TrackPointExtension/TrackPointExtensionv1.xsd"},
        {"gpx garmin TrackPointExtension v2", "gpx/logiqx-gpx-ideas/docs/xmlschemas/garmin/TrackPointExtension/TrackPointExtensionv2.xsd"},
        {"gpx garmin GpxExtensions v3", "gpx/logiqx-gpx-ideas/docs/garmin/GpxExtensionsv3.xsd"},
        {"docbook5", "docbook5/schema/xsd/5.0/docbook.xsd"},
        {"hl7-cda CDA_SDTC", "hl7-cda/CDA-core-2.0/schema/extensions/SDTC/infrastructure/cda/CDA_SDTC.xsd"},
        {"large osm", "large/osm/osm_schema.xsd"},
        {"large kanjidic2 draft", "large/kanjidic2/kanjidic2-draft-2000-10.xsd"},
    };
    if (have_corpus) {
        for (const auto& [label, rel] : singles) entries.push_back({label, (corpus / rel).string(), 100});
        add_dir(entries, corpus, "iso20022/genkgo-camt/assets", "iso20022 ", 100);
        add_dir(entries, corpus, "iso20022/sepa_king/lib/schema", "iso20022 ", 100);
        add_dir(entries, corpus, "ubl-2.1/xsd/maindoc", "ubl-2.1 maindoc ", 100);
    }

    int over = 0, failed = 0;
    std::printf("%-52s %8s %6s %10s %10s %5s\n", "schema", "elements", "types", "min ms", "median ms", "runs");
    for (const Entry& e : entries) {
        Figures f = measure(e.path, e.resolution);
        if (!f.ok) {
            ++failed;
            std::printf("%-52s FAILED: %s\n", e.label.c_str(), f.error.c_str());
            continue;
        }
        bool slow = f.median_ms > e.limit_ms;
        over += slow;
        std::printf("%-52s %8zu %6zu %10.3f %10.3f %5d%s\n", e.label.c_str(), f.elements, f.types, f.min_ms,
                    f.median_ms, f.runs, slow ? "  over target" : "");
    }
    std::printf("%zu schemas, %d failed to load, %d over their target (10 ms synthetic, 100 ms corpus)\n",
                entries.size(), failed, over);
    std::error_code ec;
    fs::remove_all(tmp, ec);
    return failed || over ? 1 : 0;
}
