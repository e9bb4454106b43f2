// Completing the model: kinds of derived simple types and inheritance of
// named complex types. Where declarations lead, through the links to named
// types, is held to literal copying in schema_equivalence_test.cpp.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "schema/loader.hpp"
#include "schema_test_util.hpp"

namespace tessaly::schema {
namespace {

using testing::xsd;
using J = JsonType;

SchemaModel load(const std::string& body) { return testing::load_text(xsd(body)); }

std::string simple_type(const std::string& name, const std::string& base) {
    return "<xs:simpleType name=\"" + name + "\"><xs:restriction base=\"" + base + "\"/></xs:simpleType>";
}

// The kinds of the named simple types `names` (space-separated), as dumped.
std::string kinds(const SchemaModel& m, const std::string& names) {
    std::istringstream in(names);
    std::string out;
    for (std::string n; in >> n;) {
        const TypeDef* t = m.find_type(n);
        out += (out.empty() ? "" : " ") + (t ? testing::dump(*t) : "none");
    }
    return out;
}

TEST(SimpleKinds, ChainTakesTheBuiltInKindInEveryDeclarationOrder) {
    testing::for_each_order({simple_type("A", "xs:integer"), simple_type("B", "A"), simple_type("C", "B")},
                            [](const std::string& body) { EXPECT_EQ(kinds(load(body), "A B C"), "int int int"); });
}

TEST(SimpleKinds, ChainsLongerThanTheLinkLimitStillEndWithTheBuiltInKind) {
    // T0 restricts T1, ..., T59 restricts xs:boolean; declared in an order
    // unrelated to the chain.
    std::string body, names, want;
    for (int i = 0; i < 60; ++i) {
        int k = (i * 37) % 60;
        body += simple_type("T" + std::to_string(k), k == 59 ? "xs:boolean" : "T" + std::to_string(k + 1));
        names += "T" + std::to_string(i) + " ";
        want += i ? " bool" : "bool";
    }
    EXPECT_EQ(kinds(load(body), names), want);
}

TEST(SimpleKinds, UnresolvableBasesKeepTheirKind) {
    SchemaModel m = load(simple_type("Unknown", "Nowhere") + simple_type("OnComplex", "Cx") +
                         "<xs:complexType name=\"Cx\"><xs:simpleContent><xs:extension base=\"xs:int\"/>"
                         "</xs:simpleContent></xs:complexType>" +
                         simple_type("A", "B") + simple_type("B", "A") + simple_type("Self", "Self") +
                         simple_type("IntoCycle", "A"));
    EXPECT_EQ(kinds(m, "Unknown OnComplex A B Self IntoCycle"), "str str str str str str");
}

TEST(SimpleKinds, CycleMembersKeepTheirOwnKindWhateverTheOrder) {
    // A also has a built-in base of its own: inside the cycle each member
    // keeps what it had, and a type leading into the cycle takes the kind of
    // the member it reaches.
    const std::string a = "<xs:simpleType name=\"A\"><xs:restriction base=\"xs:int\"/><xs:restriction base=\"B\"/>"
                          "</xs:simpleType>";
    testing::for_each_order({a, simple_type("B", "A"), simple_type("ToA", "A"), simple_type("ToB", "B")},
                            [](const std::string& body) { EXPECT_EQ(kinds(load(body), "A B ToA ToB"), "int str int str"); });
}

// S restricts N1, ..., each Nk restricts N(k+1) but is then redefined as a
// complex type, so a walk from S passes through them to the simple N(n+1).
std::string chain_through_complex_types(int n) {
    std::string body = simple_type("S", "N1");
    for (int k = 1; k <= n; ++k) {
        std::string name = "N" + std::to_string(k);
        body += simple_type(name, "N" + std::to_string(k + 1));
        body += "<xs:complexType name=\"" + name + "\"/>";
    }
    body += simple_type("N" + std::to_string(n + 1), "xs:double");
    return body;
}

TEST(SimpleKinds, OneWalkFollowsAtMostTwentyLinks) {
    EXPECT_EQ(kinds(load(chain_through_complex_types(19)), "S"), "float");  // the simple type is link 20
    SchemaModel beyond = load(chain_through_complex_types(20));               // link 21
    EXPECT_EQ(kinds(beyond, "S"), "str");
    // The later complex definitions stand: the pass only changes simple types.
    EXPECT_TRUE(beyond.find_type("N1")->is_complex());
    EXPECT_TRUE(beyond.find_type("N20")->is_complex());
}

std::string complex_type(const std::string& name, const std::string& base, const std::string& own,
                         const char* how = "extension") {
    std::string members = "<xs:sequence><xs:element name=\"" + own + "\"/></xs:sequence><xs:attribute name=\"@" +
                          own + "\"/>";
    if (base.empty()) return "<xs:complexType name=\"" + name + "\">" + members + "</xs:complexType>";
    return "<xs:complexType name=\"" + name + "\"><xs:complexContent><xs:" + how + " base=\"" + base + "\">" +
           members + "</xs:" + how + "></xs:complexContent></xs:complexType>";
}

const TypeDef& complex_of(const SchemaModel& m, const std::string& name) {
    const TypeDef* t = m.find_type(name);
    static const TypeDef none;
    EXPECT_TRUE(t && t->is_complex()) << name;
    return t ? *t : none;
}

TEST(Inheritance, MembersOfEachBaseComeBeforeTheTypesOwnNearestBaseFirst) {
    testing::for_each_order(
        {complex_type("A", "", "a"), complex_type("B", "A", "b"), complex_type("C", "B", "c", "restriction")},
        [](const std::string& body) {
            SchemaModel m = load(body);
            EXPECT_EQ(testing::child_names(complex_of(m, "A"), &m), "a");
            EXPECT_EQ(testing::child_names(complex_of(m, "B"), &m), "a,b");
            EXPECT_EQ(testing::child_names(complex_of(m, "C"), &m), "b,a,c");
            EXPECT_EQ(testing::attribute_names(complex_of(m, "C"), &m), "@b,@a,@c");
        });
}

TEST(Inheritance, CyclesUnknownAndSimpleBases) {
    // S is named as a complex base but ends as a simple type: it contributes
    // nothing, yet the walk goes on through its own base.
    SchemaModel m = load(complex_type("X", "Y", "x") + complex_type("Y", "X", "y") +
                         complex_type("Lost", "Nowhere", "l") + complex_type("A", "", "a") +
                         complex_type("S", "A", "s") + simple_type("S", "xs:int") + complex_type("C", "S", "c") +
                         complex_type("Self", "Self", "self"));
    EXPECT_EQ(testing::child_names(complex_of(m, "X"), &m), "y,x");
    EXPECT_EQ(testing::child_names(complex_of(m, "Y"), &m), "x,y");
    EXPECT_EQ(testing::child_names(complex_of(m, "Lost"), &m), "l");
    EXPECT_EQ(testing::child_names(complex_of(m, "C"), &m), "a,c");
    EXPECT_EQ(testing::child_names(complex_of(m, "Self"), &m), "self");
}

TEST(Inheritance, MixedAndTextKindStayTheTypesOwn) {
    SchemaModel m = load(R"(
  <xs:complexType name="Amount" mixed="true">
    <xs:simpleContent><xs:extension base="xs:decimal"><xs:attribute name="ccy"/></xs:extension></xs:simpleContent>
  </xs:complexType>
  <xs:complexType name="Price">
    <xs:simpleContent><xs:extension base="Amount"><xs:attribute name="unit"/></xs:extension></xs:simpleContent>
  </xs:complexType>
  <xs:element name="anon">
    <xs:complexType><xs:complexContent><xs:extension base="Amount"/></xs:complexContent></xs:complexType>
  </xs:element>)");
    const TypeDef& price = complex_of(m, "Price");
    EXPECT_EQ(testing::attribute_names(price, &m), "ccy,unit");
    EXPECT_EQ(price.complex.text_type, J::Absent);
    EXPECT_FALSE(price.complex.mixed);
    EXPECT_TRUE(m.find_element("anon")->type_def.complex.attributes.empty()) << "anonymous types inherit nothing";
}

}  // namespace
}  // namespace tessaly::schema
