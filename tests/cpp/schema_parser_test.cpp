// The component parser, through real schema text read from files: each
// document's whole reading, as a dump, against the text it must give.
#include <string>

#include <gtest/gtest.h>

#include "schema/loader.hpp"
#include "xml/reader.hpp"
#include "schema_test_util.hpp"

namespace tessaly::schema {
namespace {

using testing::xsd;

const std::string kNs = std::string(testing::kXsdNs);

// One element of type `type` in a schema whose root is written `root`.
std::string typed(const std::string& root, const std::string& type, const std::string& prefix = "xs") {
    return root + "<" + prefix + ":element name=\"n\" type=\"" + type + "\"/></" + prefix + ":schema>";
}

std::string occurrences() {
    const char* rows[][2] = {{nullptr, nullptr}, {"+2", "0"}, {"-1", "unbounded"}, {" 2", "UNBOUNDED"},
                             {"", "18446744073709551616"}, {"+", "18446744073709551615"}, {"2 ", "007"},
                             {"0x1", "1e3"}, {"++1", "+unbounded"}, {"3", "unbounded "}};
    std::string body = "<xs:complexType name=\"T\"><xs:sequence maxOccurs=\"unbounded\" minOccurs=\"5\">";
    int i = 0;
    for (const auto& r : rows) {
        body += "<xs:element name=\"e" + std::to_string(i++) + "\"";
        if (r[0]) body += std::string(" minOccurs=\"") + r[0] + "\" maxOccurs=\"" + r[1] + "\"";
        body += "/>";
    }
    return xsd(body + "</xs:sequence></xs:complexType>");
}

TEST(Parser, Documents) {
    const struct {
        const char* what;
        std::string text, dump;
    } cases[] = {
        {"worked example", xsd(R"(
  <xs:element name="order"><xs:complexType>
    <xs:sequence><xs:element name="id" type="xs:int"/><xs:element name="item" type="Item" maxOccurs="unbounded"/></xs:sequence>
    <xs:attribute name="currency" type="xs:string" use="required"/>
  </xs:complexType></xs:element>
  <xs:complexType name="Item"><xs:sequence>
    <xs:element name="label"/><xs:element name="qty" type="xs:integer" minOccurs="0"/>
  </xs:sequence></xs:complexType>)"),
         "E order:{id:int item[1..*]:str @currency!:str}\nT Item:{label:str qty[0..1]:int}\nnamed item=Item\n"},
        // Type names: the prefix is looked up among the root's bindings.
        {"xsd prefix", typed("<xsd:schema xmlns:xsd=\"" + kNs + "\">", "xsd:int", "xsd"), "E n:int\n"},
        {"default namespace is not recorded", "<schema xmlns=\"" + kNs + "\"><element name=\"n\" type=\"int\"/></schema>",
         "E n:str\nnamed n=int\n"},
        {"unprefixed name, target namespace the XSD one",
         "<schema xmlns=\"" + kNs + "\" targetNamespace=\"" + kNs + "\"><element name=\"n\" type=\"int\"/></schema>",
         "E n:int\ntns " + kNs + "\n"},
        {"unprefixed name, another target namespace", xsd(R"(<xs:element name="n" type="int"/>)", "targetNamespace=\"urn:t\""),
         "E n:str\nnamed n=int\ntns urn:t\n"},
        {"prefix bound on a nested element only",
         "<xs:schema xmlns:xs=\"" + kNs + "\"><xs:element xmlns:q=\"" + kNs + "\" name=\"n\" type=\"q:int\"/></xs:schema>",
         "E n:str\nnamed n=int\n"},
        {"unbound prefix", xsd(R"(<xs:element name="n" type="zz:int"/>)"), "E n:str\nnamed n=int\n"},
        {"built-in the table lacks", xsd(R"(<xs:element name="n" type="xs:anyType"/>)"), "E n:str\n"},
        {"a second colon stays in the local part", xsd(R"(<xs:element name="n" type="p:a:b"/>)"), "E n:str\nnamed n=a:b\n"},
        {"the last binding of a prefix wins",
         typed("<xs:schema xmlns:xs=\"urn:other\" xmlns:xs=\"" + kNs + "\">", "xs:boolean"), "E n:bool\n"},
        {"also over the XSD namespace",
         typed("<xs:schema xmlns:xs=\"" + kNs + "\" xmlns:xs=\"urn:other\">", "xs:boolean"), "E n:str\nnamed n=boolean\n"},
        {"tag prefixes are never examined",
         "<foo:schema xmlns:xs=\"" + kNs + "\"><bar:element name=\"n\" type=\"xs:double\"/></foo:schema>", "E n:float\n"},
        {"occurrence numbers", occurrences(),
         "T T:{e0:str e1[2..0]:str e2[1..*]:str e3:str e4:str e5[1..18446744073709551615]:str e6[1..7]:str e7:str "
         "e8:str e9[3..1]:str}\n"},
        {"references: name, type and a reference under schema unused", xsd(R"(
  <xs:element ref="top"/>
  <xs:element name="holder"><xs:complexType><xs:sequence>
    <xs:element ref="tns:item" name="ignored" type="Ignored" minOccurs="0" maxOccurs="3"/><xs:element ref="plain"/><xs:element/>
  </xs:sequence></xs:complexType></xs:element>)"),
         "E holder:{item[0..3]:str plain:str}\n"},
        {"an inline type goes to the global declaration first", xsd(R"(
  <xs:element name="item" type="xs:int"/>
  <xs:element name="list"><xs:complexType><xs:sequence>
    <xs:element name="item"><xs:complexType><xs:sequence><xs:element name="x"/></xs:sequence></xs:complexType></xs:element>
  </xs:sequence></xs:complexType></xs:element>)"),
         "E item:{x:str}\nE list:{item:str}\n"},
        {"a local element declared before the global one", xsd(R"(
  <xs:element name="list"><xs:complexType><xs:sequence>
    <xs:element name="item"><xs:simpleType><xs:restriction base="xs:float"/></xs:simpleType></xs:element>
    <xs:element name="item" type="xs:int"/>
  </xs:sequence></xs:complexType></xs:element>
  <xs:element name="item"/>)"),
         "E item:str\nE list:{item:float item:int}\n"},
        // The open element's declaration was dropped (top-level group): the
        // first child of the name in any open complex type takes the type.
        {"an inline type in a dropped declaration", xsd(R"(
  <xs:group name="g"><xs:sequence>
    <xs:element name="lost"><xs:complexType><xs:sequence><xs:element name="y"/></xs:sequence></xs:complexType></xs:element>
  </xs:sequence></xs:group>
  <xs:element name="outer"><xs:complexType><xs:sequence>
    <xs:element name="a"/>
    <xs:element name="mid"><xs:complexType><xs:sequence>
      <xs:element name="a"><xs:complexType><xs:sequence><xs:element name="z"/></xs:sequence></xs:complexType></xs:element>
    </xs:sequence></xs:complexType></xs:element>
  </xs:sequence></xs:complexType></xs:element>)"),
         "E outer:{a:str mid:{a:{z:str}}}\n"},
        {"later declarations replace earlier ones", xsd(R"(
  <xs:element name="item" type="xs:int"/><xs:element name="item" type="xs:boolean"/>
  <xs:complexType name="T"><xs:sequence><xs:element name="c"/></xs:sequence></xs:complexType>
  <xs:simpleType name="T"><xs:restriction base="xs:double"/></xs:simpleType>
  <xs:simpleType name="U"><xs:restriction base="xs:double"/></xs:simpleType><xs:complexType name="U"/>)"),
         "E item:bool\nT T:float\nT U:{}\n"},
        {"compositors leave no trace", xsd(R"(
  <xs:element name="a"><xs:complexType><xs:sequence>
    <xs:choice maxOccurs="unbounded"><xs:element name="b"/><xs:element name="c"/></xs:choice>
    <xs:all><xs:element name="d"/></xs:all><xs:group ref="g"/><xs:element name="b" type="xs:int"/>
  </xs:sequence></xs:complexType></xs:element>)"),
         "E a:{b:str c:str d:str b:int}\n"},
        {"attributes", xsd(R"(
  <xs:attribute name="top" type="xs:int"/>
  <xs:attributeGroup name="ag"><xs:attribute name="grouped"/></xs:attributeGroup>
  <xs:simpleType name="Num"><xs:restriction base="xs:int"/></xs:simpleType>
  <xs:complexType name="Base"/>
  <xs:complexType name="T"><xs:complexContent><xs:extension base="Base">
    <xs:attribute name="i" type="xs:int" use="required"/><xs:attribute name="n" type="Num" use="optional"/>
    <xs:attribute name="u" type="xs:anyType" use="REQUIRED"/><xs:attribute ref="xml:lang" use="required"/>
    <xs:attribute name="f" type="xs:decimal"/><xs:attribute name="p:q" type="q:int"/>
  </xs:extension></xs:complexContent></xs:complexType>)"),
         "T Base:{}\nT Num:int\nT T:{@i!:int @n:str @u:str @!:str @f:float @p:q:str}\ncbase T=Base\n"},
        {"mixed only for the word true", xsd(R"(<xs:complexType name="A" mixed="true"/><xs:complexType name="B" mixed="1"/>
  <xs:complexType name="C" mixed="TRUE"/>)"),
         "T A:{mixed}\nT B:{}\nT C:{}\n"},
        // An attribute's anonymous simple type is handed to the open element;
        // inside a complex type, the complex type replaces it when it closes.
        {"derivation bases", xsd(R"(
  <xs:complexType name="Amount"><xs:simpleContent><xs:extension base="xs:decimal"/></xs:simpleContent></xs:complexType>
  <xs:complexType name="Any"><xs:simpleContent><xs:extension base="xs:anyType"/></xs:simpleContent></xs:complexType>
  <xs:complexType name="Derived"><xs:complexContent><xs:restriction base="tns:Amount"/></xs:complexContent></xs:complexType>
  <xs:complexType name="NoBase"><xs:complexContent><xs:extension/></xs:complexContent></xs:complexType>
  <xs:simpleType name="Code"><xs:restriction base="xs:boolean"/></xs:simpleType>
  <xs:simpleType name="Other"><xs:restriction base="tns:Code"/></xs:simpleType>
  <xs:simpleType name="Listed"><xs:list itemType="xs:int"/></xs:simpleType>
  <xs:element name="anon"><xs:complexType><xs:complexContent><xs:extension base="Amount"/></xs:complexContent></xs:complexType></xs:element>
  <xs:element name="anon2"><xs:simpleType><xs:restriction base="Code"/></xs:simpleType></xs:element>
  <xs:element name="inner"><xs:complexType><xs:sequence><xs:element name="x"/></xs:sequence>
    <xs:attribute name="a"><xs:simpleType><xs:restriction base="xs:int"/></xs:simpleType></xs:attribute>
  </xs:complexType></xs:element>
  <xs:element name="bare"><xs:attribute name="a"><xs:simpleType><xs:restriction base="xs:int"/></xs:simpleType></xs:attribute></xs:element>)"),
         "E anon:{}\nE anon2:str\nE bare:int\nE inner:{x:str @a:str}\nT Amount:{$float}\nT Any:{}\nT Code:bool\n"
         "T Derived:{}\nT Listed:str\nT NoBase:{}\nT Other:str\ncbase Derived=Amount\nsbase Other=Code\n"},
        {"target namespace from the root only", xsd(R"(<xs:element name="e" targetNamespace="urn:nested"/>)"), "E e:str\n"},
        {"the first target namespace wins", xsd("", "targetNamespace=\"urn:first\" targetNamespace=\"urn:second\""),
         "tns urn:first\n"},
        // The annotation is not recognised, so its element stands directly under schema.
        {"unrecognised elements are read through", xsd(R"(
  <xs:annotation><xs:documentation><xs:element name="doc"/></xs:documentation></xs:annotation>
  <xs:element name="e"><xs:annotation><xs:appinfo>text &amp; more</xs:appinfo></xs:annotation>
    <xs:complexType><xs:sequence><xs:any/><xs:element name="c"/></xs:sequence></xs:complexType></xs:element>
  <xs:Element name="wrongcase"/><a:b:element name="twocolons"/>)"),
         "E doc:str\nE e:{c:str}\n"},
        {"attribute values are raw and names exact", xsd(R"(
  <xs:element name=" spaced &amp; " type="A&amp;B"/><xs:element xs:name="prefixed"/><xs:element name="first" name="second"/>)"),
         "E  spaced &amp; :str\nE first:str\nnamed  spaced &amp; =A&amp;B\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(testing::dump(testing::read_text(c.text)), c.dump) << c.what;
}

TEST(Parser, DeepestNestingNeedsNoDeepStack) {
    // An element with an anonymous complex type at each level, as deep as a
    // document may nest (three levels each, inside the schema element):
    // loaded, resolved, copied and destroyed on a small stack.
    constexpr int kDepth = (xml::kMaxDepth - 2) / 3;
    std::string body;
    for (int i = 0; i < kDepth; ++i)
        body += "<xs:element name=\"e" + std::to_string(i) + "\"><xs:complexType><xs:sequence>";
    body += "<xs:element name=\"leaf\" type=\"T\"/>";
    for (int i = 0; i < kDepth; ++i) body += "</xs:sequence></xs:complexType></xs:element>";
    testing::TempDir dir;
    std::string path = dir.write("deep.xsd", xsd(body + "<xs:complexType name=\"T\"/>"));

    int depth = 0;
    bool leaf_linked = false, copied = false;
    testing::run_with_stack(256 * 1024, [&] {
        auto model = parse_xsd(path);
        if (!model) return;
        const TypeDef* t = &model->elements.at("e0").type_def;
        const ElementDef* last = nullptr;
        for (; t->is_complex() && !t->complex.children.empty(); ++depth) {
            last = &t->complex.children[0];
            t = &last->type_def;
        }
        leaf_linked = last && last->name.local == "leaf" && model->find_type(last->named_type) == model->find_type("T");
        TypeDef copy = model->elements.at("e0").type_def;
        copied = copy.complex.children.size() == 1;
    });
    EXPECT_EQ(depth, kDepth);
    EXPECT_TRUE(leaf_linked);
    EXPECT_TRUE(copied);
}

}  // namespace
}  // namespace tessaly::schema
