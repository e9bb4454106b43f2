// Loading a schema spread over several files: include and import, paths,
// documents read once, and the errors that end a load.
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "schema/loader.hpp"
#include "schema_test_util.hpp"

namespace tessaly::schema {
namespace {

using testing::ChangeDir;
using testing::TempDir;
using testing::xsd;
using J = JsonType;

std::string include(const std::string& location, const char* tag = "include") {
    return "<xs:" + std::string(tag) + " schemaLocation=\"" + location + "\"/>";
}

JsonType global_kind(const SchemaModel& m, const std::string& name) {
    const ElementDef* e = m.find_element(name);
    EXPECT_NE(e, nullptr) << name;
    return e ? e->type_def.simple : J::Absent;
}

TEST(Loader, BareMainFileNameResolvesIncludesInTheCurrentDirectory) {
    TempDir dir;
    dir.write("main.xsd", xsd(include("b.xsd")));
    dir.write("b.xsd", xsd(R"(<xs:element name="fromb" type="xs:int"/>)"));
    ChangeDir cd(dir.path());
    auto m = parse_xsd("main.xsd");
    ASSERT_TRUE(m) << m.error().display();
    EXPECT_EQ(global_kind(*m, "fromb"), J::Integer);
}

TEST(Loader, LocationsResolveBesideTheDocumentThatNamesThemFirst) {
    TempDir dir;
    std::string main = dir.write("d/a.xsd", xsd(include("sub/b.xsd")));
    dir.write("d/sub/b.xsd", xsd(include("c.xsd", "import")));
    dir.write("d/c.xsd", xsd(R"(<xs:element name="c" type="xs:boolean"/>)"));
    dir.write("d/sub/c.xsd", xsd(R"(<xs:element name="c" type="xs:int"/>)"));
    auto m = parse_xsd(main);
    ASSERT_TRUE(m) << m.error().display();
    EXPECT_EQ(global_kind(*m, "c"), J::Integer);
}

TEST(Loader, AbsoluteLocationReplacesTheDirectory) {
    TempDir dir;
    std::string elsewhere = dir.write("x/abs.xsd", xsd(R"(<xs:element name="abs" type="xs:int"/>)"));
    std::string main = dir.write("d/a.xsd", xsd(include(elsewhere)));
    auto m = parse_xsd(main);
    ASSERT_TRUE(m) << m.error().display();
    EXPECT_EQ(global_kind(*m, "abs"), J::Integer);
}

TEST(Loader, MutualIncludesAreEachReadOnce) {
    // Were a.xsd read again from b.xsd, its x would end as int again.
    TempDir dir;
    std::string a = dir.write("a.xsd", xsd(R"(<xs:element name="x" type="xs:int"/>)" + include("b.xsd") +
                                           include("a.xsd")));
    dir.write("b.xsd", xsd(R"(<xs:element name="x" type="xs:boolean"/>)" + include("a.xsd") + include("./b.xsd")));
    auto ctx = read_schema_documents(a);
    ASSERT_TRUE(ctx) << ctx.error().display();
    EXPECT_EQ(ctx->visited.size(), 2u);
    EXPECT_EQ(ctx->model.elements.at("x").type_def.simple, J::Boolean);
}

TEST(Loader, ADocumentReachedThroughASymbolicLinkIsReadOnce) {
    TempDir dir;
    std::string main = dir.write("a.xsd", xsd(include("b.xsd") + R"(<xs:element name="x" type="xs:int"/>)" +
                                              include("link.xsd")));
    dir.write("b.xsd", xsd(R"(<xs:element name="x" type="xs:boolean"/>)"));
    ASSERT_EQ(::symlink(dir.path("b.xsd").c_str(), dir.path("link.xsd").c_str()), 0);
    auto m = parse_xsd(main);
    ASSERT_TRUE(m) << m.error().display();
    EXPECT_EQ(global_kind(*m, "x"), J::Integer);
}

TEST(Loader, LocationsNamingNothingAreSkipped) {
    TempDir dir;
    std::string main = dir.write(
        "a.xsd", xsd(include("missing.xsd") + include("http://example.com/s.xsd", "import") +
                     include("gone/../missing2.xsd") + "<xs:include/><xs:import namespace=\"urn:x\"/>" +
                     R"(<xs:element name="after" type="xs:int"/>)"));
    auto m = parse_xsd(main);
    ASSERT_TRUE(m) << m.error().display();
    EXPECT_EQ(global_kind(*m, "after"), J::Integer);
}

TEST(Loader, IncludedDocumentsAddToTheSameModelInReadingOrder) {
    TempDir dir;
    std::string main = dir.write("a.xsd", xsd(R"(<xs:element name="e" type="xs:int"/>)" + include("b.xsd") +
                                              R"(<xs:element name="f" type="xs:int"/>)"));
    dir.write("b.xsd", xsd(R"(<xs:element name="e" type="xs:boolean"/><xs:element name="f" type="xs:boolean"/>)"));
    auto m = parse_xsd(main);
    ASSERT_TRUE(m) << m.error().display();
    EXPECT_EQ(global_kind(*m, "e"), J::Boolean);
    EXPECT_EQ(global_kind(*m, "f"), J::Integer);
}

TEST(Loader, TargetNamespaceOfTheFirstDocumentThatDeclaresOne) {
    TempDir dir;
    std::string plain = dir.write("p.xsd", xsd(include("t1.xsd") + include("t2.xsd")));
    dir.write("t1.xsd", xsd("", "targetNamespace=\"urn:one\""));
    dir.write("t2.xsd", xsd("", "targetNamespace=\"urn:two\""));
    auto m = parse_xsd(plain);
    ASSERT_TRUE(m) << m.error().display();
    EXPECT_EQ(m->target_namespace, std::optional<std::string>("urn:one"));

    std::string declared = dir.write("q.xsd", xsd(include("t2.xsd"), "targetNamespace=\"urn:q\""));
    auto n = parse_xsd(declared);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->target_namespace, std::optional<std::string>("urn:q"));

    std::string none = dir.write("n.xsd", xsd(include("missing.xsd")));
    auto o = parse_xsd(none);
    ASSERT_TRUE(o);
    EXPECT_FALSE(o->target_namespace.has_value());
}

TEST(Loader, AnIncludedRootRebindsPrefixesForTheRestOfTheLoad) {
    TempDir dir;
    std::string main = dir.write("a.xsd", xsd(R"(<xs:element name="before" type="xs:int"/>)" + include("b.xsd") +
                                              R"(<xs:element name="after" type="xs:int"/>)"));
    dir.write("b.xsd", "<s:schema xmlns:s=\"" + std::string(testing::kXsdNs) + "\" xmlns:xs=\"urn:not-xsd\"/>");
    auto m = parse_xsd(main);
    ASSERT_TRUE(m) << m.error().display();
    EXPECT_EQ(global_kind(*m, "before"), J::Integer);
    EXPECT_EQ(global_kind(*m, "after"), J::String);
}

TEST(LoaderErrors, MissingMainFile) {
    TempDir dir;
    ChangeDir cd(dir.path());
    auto m = parse_xsd("nope.xsd");
    ASSERT_FALSE(m);
    EXPECT_EQ(m.error().kind, ErrorKind::Io);
    EXPECT_EQ(m.error().detail, "Failed to read nope.xsd: No such file or directory (os error 2)");
}

TEST(LoaderErrors, MainFileNotUtf8) {
    TempDir dir;
    std::string main = dir.write("bad.xsd", "<xs:schema>\xff</xs:schema>");
    auto m = parse_xsd(main);
    ASSERT_FALSE(m);
    EXPECT_EQ(m.error().kind, ErrorKind::Io);
    EXPECT_EQ(m.error().detail, "Failed to read " + main + ": stream did not contain valid UTF-8");
}

TEST(LoaderErrors, MalformedMainFile) {
    TempDir dir;
    std::string main = dir.write("bad.xsd", xsd("<xs:element name=\"e\"></xs:elem>"));
    auto m = parse_xsd(main);
    ASSERT_FALSE(m);
    EXPECT_EQ(m.error().kind, ErrorKind::XsdParse);
    EXPECT_TRUE(m.error().detail.starts_with("XML parse error: ")) << m.error().detail;
    EXPECT_GT(m.error().detail.size(), std::string("XML parse error: ").size());
}

TEST(LoaderErrors, MalformedIncludeFailsTheWholeLoad) {
    TempDir dir;
    // Two includes deep, with a well-formed include still to come.
    std::string main = dir.write("a.xsd", xsd(include("sub/b.xsd") + include("ok.xsd")));
    dir.write("sub/b.xsd", xsd(include("c.xsd")));
    dir.write("c.xsd", "<xs:schema><xs:element></xs:schema>");
    dir.write("ok.xsd", xsd(""));
    auto m = parse_xsd(main);
    ASSERT_FALSE(m);
    EXPECT_EQ(m.error().kind, ErrorKind::XsdParse);
    EXPECT_TRUE(m.error().display().starts_with("XSD parse error: XML parse error: ")) << m.error().display();
}

TEST(LoaderErrors, UnreadableIncludeNamesTheJoinedPath) {
    TempDir dir;
    std::string main = dir.write("d/a.xsd", xsd(include("sub/bad.xsd")));
    dir.write("d/sub/bad.xsd", "\xc3(");
    auto m = parse_xsd(main);
    ASSERT_FALSE(m);
    EXPECT_EQ(m.error().kind, ErrorKind::Io);
    EXPECT_EQ(m.error().detail, "Failed to read " + dir.path("d") + "/sub/bad.xsd: stream did not contain valid UTF-8");
}

}  // namespace
}  // namespace tessaly::schema
