// Loading a schema spread over several files: include and import, paths,
// documents read once, and the errors that end a load. Each case writes its
// files ("{dir}" stands for the folder they are written to; a text "-> x" is
// a symbolic link to x, an empty one is not written) and loads the first: the global elements and their
// kinds, the target namespace, or the error.
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "schema/loader.hpp"
#include "schema_test_util.hpp"

namespace tessaly::schema {
namespace {

using testing::xsd;

std::string include(const std::string& location, const char* tag = "include") {
    return "<xs:" + std::string(tag) + " schemaLocation=\"" + location + "\"/>";
}

std::string element(const std::string& name, const char* type) {
    return "<xs:element name=\"" + name + "\" type=\"xs:" + type + "\"/>";
}

std::string replace_dir(std::string s, const std::string& dir) {
    for (std::size_t at; (at = s.find("{dir}")) != std::string::npos;) s.replace(at, 5, dir);
    return s;
}

std::string load(const std::vector<std::pair<std::string, std::string>>& files, bool from_the_folder) {
    testing::TempDir dir;
    for (const auto& [path, text] : files) {
        if (text.empty()) continue;  // named, never written
        if (text.starts_with("-> "))
            EXPECT_EQ(::symlink(dir.path(text.substr(3)).c_str(), dir.path(path).c_str()), 0);
        else
            dir.write(path, replace_dir(text, dir.path()));
    }
    std::optional<testing::ChangeDir> cd;
    if (from_the_folder) cd.emplace(dir.path());
    auto m = parse_xsd(from_the_folder ? files[0].first : dir.path(files[0].first));
    if (!m) {
        std::string e = m.error().display();
        for (std::size_t at; (at = e.find(dir.path())) != std::string::npos;) e.replace(at, dir.path().size(), "{dir}");
        return e;
    }
    std::map<std::string, std::string> globals;
    for (const auto& [name, e] : m->elements) globals[name] = testing::kind_text(e.type_def.simple);
    std::string s;
    for (const auto& [name, kind] : globals) s += name + "=" + kind + " ";
    return s + (m->target_namespace ? "tns=" + *m->target_namespace : "");
}

TEST(Loader, Table) {
    const std::string a_malformed = xsd("<xs:element name=\"e\"></xs:elem>");
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        std::string want;
        bool from_the_folder = false;
    } cases[] = {
        {"a bare main file name resolves in the current directory",
         {{"main.xsd", xsd(include("b.xsd"))}, {"b.xsd", xsd(element("fromb", "int"))}}, "fromb=int ", true},
        {"beside the document that names it first",
         {{"d/a.xsd", xsd(include("sub/b.xsd"))}, {"d/sub/b.xsd", xsd(include("c.xsd", "import"))},
          {"d/c.xsd", xsd(element("c", "boolean"))}, {"d/sub/c.xsd", xsd(element("c", "int"))}},
         "c=int "},
        {"an absolute location replaces the directory",
         {{"d/a.xsd", xsd(include("{dir}/x/abs.xsd"))}, {"x/abs.xsd", xsd(element("abs", "int"))}}, "abs=int "},
        // Were a.xsd read again from b.xsd, its x would end as int again.
        {"mutual includes are each read once",
         {{"a.xsd", xsd(element("x", "int") + include("b.xsd") + include("a.xsd"))},
          {"b.xsd", xsd(element("x", "boolean") + include("a.xsd") + include("./b.xsd"))}},
         "x=bool "},
        {"a document reached through a symbolic link is read once",
         {{"a.xsd", xsd(include("b.xsd") + element("x", "int") + include("link.xsd"))},
          {"b.xsd", xsd(element("x", "boolean"))}, {"link.xsd", "-> b.xsd"}},
         "x=int "},
        {"locations naming nothing are skipped",
         {{"a.xsd", xsd(include("missing.xsd") + include("http://example.com/s.xsd", "import") +
                        include("gone/../missing2.xsd") + "<xs:include/><xs:import namespace=\"urn:x\"/>" +
                        element("after", "int"))}},
         "after=int "},
        {"included documents add to the same model in reading order",
         {{"a.xsd", xsd(element("e", "int") + include("b.xsd") + element("f", "int"))},
          {"b.xsd", xsd(element("e", "boolean") + element("f", "boolean"))}},
         "e=bool f=int "},
        {"the target namespace of the first document that declares one",
         {{"p.xsd", xsd(include("t1.xsd") + include("t2.xsd"))}, {"t1.xsd", xsd("", "targetNamespace=\"urn:one\"")},
          {"t2.xsd", xsd("", "targetNamespace=\"urn:two\"")}},
         "tns=urn:one"},
        {"the main document's own first",
         {{"q.xsd", xsd(include("t2.xsd"), "targetNamespace=\"urn:q\"")}, {"t2.xsd", xsd("", "targetNamespace=\"urn:two\"")}},
         "tns=urn:q"},
        {"an included root rebinds prefixes for the rest of the load",
         {{"a.xsd", xsd(element("before", "int") + include("b.xsd") + element("after", "int"))},
          {"b.xsd", "<s:schema xmlns:s=\"" + std::string(testing::kXsdNs) + "\" xmlns:xs=\"urn:not-xsd\"/>"}},
         "after=str before=int "},
        {"a missing main file", {{"nope.xsd", ""}}, "IO error: Failed to read nope.xsd: No such file or directory (os error 2)", true},
        {"a main file not in UTF-8", {{"bad.xsd", "<xs:schema>\xff</xs:schema>"}},
         "IO error: Failed to read {dir}/bad.xsd: stream did not contain valid UTF-8"},
        {"a malformed main file", {{"bad.xsd", a_malformed}},
         "XSD parse error: XML parse error: mismatched end tag: expected </xs:element>, found </xs:elem> at line 3, "
         "column 22"},
        // Two includes deep, with a well-formed include still to come.
        {"a malformed include fails the whole load",
         {{"a.xsd", xsd(include("sub/b.xsd") + include("ok.xsd"))}, {"sub/b.xsd", xsd(include("c.xsd"))},
          {"sub/c.xsd", "<xs:schema><xs:element></xs:schema>"}, {"ok.xsd", xsd("")}},
         "XSD parse error: XML parse error: mismatched end tag: expected </xs:element>, found </xs:schema> at line 1, "
         "column 24"},
        {"an unreadable include names the joined path",
         {{"d/a.xsd", xsd(include("sub/bad.xsd"))}, {"d/sub/bad.xsd", "\xc3("}},
         "IO error: Failed to read {dir}/d/sub/bad.xsd: stream did not contain valid UTF-8"},
    };
    for (const auto& c : cases) EXPECT_EQ(load(c.files, c.from_the_folder), c.want) << c.what;
}

}  // namespace
}  // namespace tessaly::schema
