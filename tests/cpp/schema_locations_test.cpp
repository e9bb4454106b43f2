// Where followed locations are looked for, in nested folders, and what the
// load's report says about them; through the core's public interface.
#include <string>

#include <gtest/gtest.h>

#include "schema_test_util.hpp"
#include "tessaly/core.hpp"

namespace tessaly::schema {
namespace {

using testing::TempDir;
using testing::xsd;

std::string include(const std::string& location) { return "<xs:include schemaLocation=\"" + location + "\"/>"; }
std::string bool_element(const std::string& name) { return R"(<xs:element name=")" + name + R"(" type="xs:boolean"/>)"; }

JsonType kind_of(const SchemaModel& m, const std::string& name) {
    const ElementDef* e = m.find_element(name);
    return e ? e->type_def.simple : JsonType::Absent;
}

// The layout of HL7 CDA: the main document includes a file in a sibling
// folder, which includes its neighbour by bare name; a name found only
// beside the main document still resolves there.
struct Layout {
    TempDir dir;
    std::string main;
    Layout() {
        main = dir.write("cda/main.xsd", xsd(include("../dt/voc.xsd") + include("missing.xsd")));
        dir.write("dt/voc.xsd", xsd(include("datatypes.xsd") + include("beside_main.xsd")));
        dir.write("dt/datatypes.xsd", xsd(bool_element("nested") + R"(<xs:element name="u" type="Nowhere"/>)"));
        dir.write("cda/beside_main.xsd", xsd(bool_element("fallback")));
    }
};

TEST(Locations, NestedFirstThenTheMainDocumentsDirectoryInBothProfiles) {
    Layout l;
    for (Resolution r : {Resolution::Literal, Resolution::Complete}) {
        auto m = core::load_schema(l.main, LoadOptions{.resolution = r});
        ASSERT_TRUE(m) << m.error().display();
        EXPECT_EQ(kind_of(**m, "nested"), JsonType::Boolean);
        EXPECT_EQ(kind_of(**m, "fallback"), JsonType::Boolean);
        SchemaReport rep = core::schema_report(**m);
        EXPECT_EQ(rep.resolution, r);
        EXPECT_EQ(rep.documents, (std::vector<std::string>{l.main, l.dir.path("cda/../dt/voc.xsd"),
                                                           l.dir.path("cda/../dt/datatypes.xsd"),
                                                           l.dir.path("cda/beside_main.xsd")}));
        ASSERT_EQ(rep.skipped.size(), 1u);
        EXPECT_EQ(rep.skipped[0].location, "missing.xsd");
        EXPECT_EQ(rep.skipped[0].document, l.main);
        EXPECT_FALSE(rep.skipped[0].refused);
        EXPECT_EQ(rep.global_elements, 3u);
        EXPECT_EQ(rep.unresolved.types, std::vector<std::string>{"Nowhere"});
    }
}

TEST(Locations, FilesOutsideTheAllowedDirectoriesAreRefusedAndReported) {
    Layout l;
    auto m = core::load_schema(l.main, LoadOptions{.allowed_dirs = {l.dir.path("cda")}});
    ASSERT_TRUE(m) << m.error().display();
    EXPECT_EQ(kind_of(**m, "nested"), JsonType::Absent);
    SchemaReport rep = core::schema_report(**m);
    ASSERT_EQ(rep.skipped.size(), 2u);
    EXPECT_EQ(rep.skipped[0].location, "../dt/voc.xsd");
    EXPECT_TRUE(rep.skipped[0].refused);
    EXPECT_FALSE(rep.skipped[1].refused);
}

TEST(Locations, BytesWithABaseDirectoryResolveThere) {
    Layout l;
    std::string text = xsd(include("../dt/voc.xsd"));
    auto m = core::load_schema_bytes(text, LoadOptions{.base_dir = l.dir.path("cda")});
    ASSERT_TRUE(m) << m.error().display();
    EXPECT_EQ(kind_of(**m, "nested"), JsonType::Boolean);
    EXPECT_EQ(kind_of(**m, "fallback"), JsonType::Boolean);
    EXPECT_EQ(core::schema_report(**m).documents.front(), "<bytes>");
}

}  // namespace
}  // namespace tessaly::schema
