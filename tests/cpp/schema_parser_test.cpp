// The component parser, through real schema text read from files.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "schema/loader.hpp"
#include "xml/reader.hpp"
#include "schema_test_util.hpp"

namespace tessaly::schema {
namespace {

using testing::TempDir;
using testing::xsd;
using J = JsonType;

// Reads one schema document without resolving anything.
ParseContext read(const std::string& text) { return testing::read_text(text); }

const TypeDef& global_type(const ParseContext& ctx, const std::string& name) {
    static const TypeDef none;
    auto it = ctx.model.elements.find(name);
    EXPECT_NE(it, ctx.model.elements.end()) << name;
    return it == ctx.model.elements.end() ? none : it->second.type_def;
}

TEST(Parser, WorkedExample) {
    ParseContext ctx = read(xsd(R"(
  <xs:element name="order">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="id" type="xs:int"/>
        <xs:element name="item" type="Item" maxOccurs="unbounded"/>
      </xs:sequence>
      <xs:attribute name="currency" type="xs:string" use="required"/>
    </xs:complexType>
  </xs:element>
  <xs:complexType name="Item">
    <xs:sequence>
      <xs:element name="label"/>
      <xs:element name="qty" type="xs:integer" minOccurs="0"/>
    </xs:sequence>
  </xs:complexType>)"));

    ASSERT_EQ(ctx.model.elements.size(), 1u);
    const ElementDef& order = ctx.model.elements.at("order");
    EXPECT_EQ(order.name.local, "order");
    EXPECT_FALSE(order.name.namespace_uri.has_value());
    EXPECT_EQ(order.min_occurs, 1u);
    EXPECT_FALSE(order.max_occurs.unbounded);
    EXPECT_EQ(order.max_occurs.count, 1u);
    ASSERT_TRUE(order.type_def.is_complex());
    const ComplexTypeDef& oc = order.type_def.complex;
    ASSERT_EQ(oc.children.size(), 2u);
    EXPECT_EQ(oc.children[0].name.local, "id");
    EXPECT_FALSE(oc.children[0].type_def.is_complex());
    EXPECT_EQ(oc.children[0].type_def.simple, J::Integer);
    EXPECT_EQ(oc.children[0].min_occurs, 1u);
    EXPECT_EQ(oc.children[0].max_occurs.count, 1u);
    EXPECT_FALSE(oc.children[0].max_occurs.unbounded);
    EXPECT_EQ(oc.children[1].name.local, "item");
    EXPECT_FALSE(oc.children[1].type_def.is_complex());
    EXPECT_EQ(oc.children[1].type_def.simple, J::String);
    EXPECT_EQ(oc.children[1].min_occurs, 1u);
    EXPECT_TRUE(oc.children[1].max_occurs.unbounded);
    ASSERT_EQ(oc.attributes.size(), 1u);
    EXPECT_EQ(oc.attributes[0].name, "currency");
    EXPECT_EQ(oc.attributes[0].json_type, J::String);
    EXPECT_TRUE(oc.attributes[0].required);
    EXPECT_FALSE(oc.mixed);
    EXPECT_EQ(oc.text_type, J::Absent);

    ASSERT_EQ(ctx.model.types.size(), 1u);
    const TypeDef& item = ctx.model.types.at("Item");
    ASSERT_TRUE(item.is_complex());
    ASSERT_EQ(item.complex.children.size(), 2u);
    EXPECT_EQ(item.complex.children[0].name.local, "label");
    EXPECT_EQ(item.complex.children[0].type_def.simple, J::String);
    EXPECT_EQ(item.complex.children[0].min_occurs, 1u);
    EXPECT_EQ(item.complex.children[1].name.local, "qty");
    EXPECT_EQ(item.complex.children[1].type_def.simple, J::Integer);
    EXPECT_EQ(item.complex.children[1].min_occurs, 0u);
    EXPECT_EQ(item.complex.children[1].max_occurs.count, 1u);
    EXPECT_TRUE(item.complex.attributes.empty());

    ASSERT_EQ(ctx.element_types.size(), 1u);
    EXPECT_EQ(ctx.element_types.at("item"), "Item");
    EXPECT_TRUE(ctx.complex_bases.empty());
    EXPECT_TRUE(ctx.simple_bases.empty());
    EXPECT_FALSE(ctx.target_namespace.has_value());
}

struct TypeCase {
    const char* what;
    std::string text;
    JsonType kind;        // kind of the global element n
    const char* mapped;   // its element_types entry, or null for none
};

class ElementTypeResolution : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ElementTypeResolution, KindAndNamedTypeEntry) {
    const TypeCase& c = GetParam();
    ParseContext ctx = read(c.text);
    const TypeDef& t = global_type(ctx, "n");
    EXPECT_FALSE(t.is_complex());
    EXPECT_EQ(t.simple, c.kind);
    if (c.mapped) {
        ASSERT_TRUE(ctx.element_types.contains("n"));
        EXPECT_EQ(ctx.element_types.at("n"), c.mapped);
    } else {
        EXPECT_FALSE(ctx.element_types.contains("n"));
    }
}

const std::string kNs = std::string(testing::kXsdNs);

INSTANTIATE_TEST_SUITE_P(
    Cases, ElementTypeResolution,
    ::testing::Values(
        TypeCase{"xsd prefix on the root", "<xsd:schema xmlns:xsd=\"" + kNs +
                                               "\"><xsd:element name=\"n\" type=\"xsd:int\"/></xsd:schema>",
                 J::Integer, nullptr},
        TypeCase{"default namespace is not recorded",
                 "<schema xmlns=\"" + kNs + "\"><element name=\"n\" type=\"int\"/></schema>", J::String, "int"},
        TypeCase{"unprefixed name in a target namespace that is the XSD one",
                 "<schema xmlns=\"" + kNs + "\" targetNamespace=\"" + kNs +
                     "\"><element name=\"n\" type=\"int\"/></schema>",
                 J::Integer, nullptr},
        TypeCase{"prefix bound on a nested element only",
                 "<xs:schema xmlns:xs=\"" + kNs + "\"><xs:element xmlns:q=\"" + kNs +
                     "\" name=\"n\" type=\"q:int\"/></xs:schema>",
                 J::String, "int"},
        TypeCase{"unbound prefix", xsd(R"(<xs:element name="n" type="zz:int"/>)"), J::String, "int"},
        TypeCase{"built-in name the table lacks", xsd(R"(<xs:element name="n" type="xs:anyType"/>)"), J::String,
                 nullptr},
        TypeCase{"no type at all", xsd(R"(<xs:element name="n"/>)"), J::String, nullptr},
        TypeCase{"a second colon stays in the local part", xsd(R"(<xs:element name="n" type="p:a:b"/>)"),
                 J::String, "a:b"},
        TypeCase{"the last binding of a repeated prefix wins",
                 "<xs:schema xmlns:xs=\"urn:other\" xmlns:xs=\"" + kNs +
                     "\"><xs:element name=\"n\" type=\"xs:boolean\"/></xs:schema>",
                 J::Boolean, nullptr},
        TypeCase{"the later binding wins over the XSD namespace too",
                 "<xs:schema xmlns:xs=\"" + kNs +
                     "\" xmlns:xs=\"urn:other\"><xs:element name=\"n\" type=\"xs:boolean\"/></xs:schema>",
                 J::String, "boolean"},
        TypeCase{"tag prefixes are never examined",
                 "<foo:schema xmlns:xs=\"" + kNs + "\"><bar:element name=\"n\" type=\"xs:double\"/></foo:schema>",
                 J::Float, nullptr}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(Parser, OccurrenceNumbers) {
    struct Row {
        const char* min;  // null: attribute absent
        const char* max;
        std::uint64_t want_min;
        bool want_unbounded;
        std::uint64_t want_max;
    };
    const Row rows[] = {
        {nullptr, nullptr, 1, false, 1},
        {"+2", "0", 2, false, 0},
        {"-1", "unbounded", 1, true, 0},
        {" 2", "UNBOUNDED", 1, false, 1},
        {"", "18446744073709551616", 1, false, 1},
        {"+", "18446744073709551615", 1, false, UINT64_MAX},
        {"2 ", "007", 1, false, 7},
        {"0x1", "1e3", 1, false, 1},
        {"++1", "+unbounded", 1, false, 1},
        {"3", "unbounded ", 3, false, 1},
    };
    std::string body = "<xs:complexType name=\"T\"><xs:sequence maxOccurs=\"unbounded\" minOccurs=\"5\">";
    int i = 0;
    for (const Row& r : rows) {
        body += "<xs:element name=\"e" + std::to_string(i++) + "\"";
        if (r.min) body += std::string(" minOccurs=\"") + r.min + "\"";
        if (r.max) body += std::string(" maxOccurs=\"") + r.max + "\"";
        body += "/>";
    }
    body += "</xs:sequence></xs:complexType>";
    ParseContext ctx = read(xsd(body));
    const auto& children = ctx.model.types.at("T").complex.children;
    ASSERT_EQ(children.size(), std::size(rows));
    for (std::size_t k = 0; k < std::size(rows); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(children[k].min_occurs, rows[k].want_min);
        EXPECT_EQ(children[k].max_occurs.unbounded, rows[k].want_unbounded);
        if (!rows[k].want_unbounded) {
            EXPECT_EQ(children[k].max_occurs.count, rows[k].want_max);
        }
    }
}

TEST(Parser, ElementReferences) {
    ParseContext ctx = read(xsd(R"(
  <xs:element ref="top"/>
  <xs:element name="holder">
    <xs:complexType><xs:sequence>
      <xs:element ref="tns:item" name="ignored" type="Ignored" minOccurs="0" maxOccurs="3"/>
      <xs:element ref="plain"/>
      <xs:element/>
    </xs:sequence></xs:complexType>
  </xs:element>)"));
    EXPECT_EQ(ctx.model.elements.size(), 1u) << "a reference directly under schema adds nothing";
    const TypeDef& h = global_type(ctx, "holder");
    EXPECT_EQ(testing::child_names(h), "item,plain");
    EXPECT_EQ(h.complex.children[0].min_occurs, 0u);
    EXPECT_EQ(h.complex.children[0].max_occurs.count, 3u);
    EXPECT_FALSE(h.complex.children[0].type_def.is_complex());
    EXPECT_TRUE(ctx.element_types.empty()) << "name and type of a reference are not used";
}

TEST(Parser, InlineTypeGoesToTheGlobalDeclarationFirst) {
    ParseContext ctx = read(xsd(R"(
  <xs:element name="item" type="xs:int"/>
  <xs:element name="list">
    <xs:complexType><xs:sequence>
      <xs:element name="item">
        <xs:complexType><xs:sequence><xs:element name="x"/></xs:sequence></xs:complexType>
      </xs:element>
    </xs:sequence></xs:complexType>
  </xs:element>)"));
    const TypeDef& global_item = global_type(ctx, "item");
    ASSERT_TRUE(global_item.is_complex());
    EXPECT_EQ(testing::child_names(global_item), "x");
    const ElementDef* local_item = testing::child(global_type(ctx, "list"), "item");
    ASSERT_NE(local_item, nullptr);
    EXPECT_FALSE(local_item->type_def.is_complex());
    EXPECT_EQ(local_item->type_def.simple, J::String);
}

TEST(Parser, InlineTypeOfALocalElementDeclaredBeforeTheGlobalOne) {
    ParseContext ctx = read(xsd(R"(
  <xs:element name="list">
    <xs:complexType><xs:sequence>
      <xs:element name="item"><xs:simpleType><xs:restriction base="xs:float"/></xs:simpleType></xs:element>
      <xs:element name="item" type="xs:int"/>
    </xs:sequence></xs:complexType>
  </xs:element>
  <xs:element name="item"/>)"));
    const TypeDef& list = global_type(ctx, "list");
    ASSERT_EQ(list.complex.children.size(), 2u);
    EXPECT_EQ(list.complex.children[0].type_def.simple, J::Float);
    EXPECT_EQ(list.complex.children[1].type_def.simple, J::Integer);
    EXPECT_EQ(global_type(ctx, "item").simple, J::String);
}

TEST(Parser, InlineTypeFindsTheFirstChildOfTheNameInAnyOpenComplexType) {
    // The open element's declaration was dropped (top-level group), so the
    // anonymous type has nowhere to go.
    ParseContext ctx = read(xsd(R"(
  <xs:group name="g"><xs:sequence>
    <xs:element name="lost"><xs:complexType><xs:sequence><xs:element name="y"/></xs:sequence></xs:complexType></xs:element>
  </xs:sequence></xs:group>
  <xs:element name="outer">
    <xs:complexType><xs:sequence>
      <xs:element name="a"/>
      <xs:element name="mid">
        <xs:complexType><xs:sequence>
          <xs:element name="a"><xs:complexType><xs:sequence><xs:element name="z"/></xs:sequence></xs:complexType></xs:element>
        </xs:sequence></xs:complexType>
      </xs:element>
    </xs:sequence></xs:complexType>
  </xs:element>)"));
    EXPECT_EQ(ctx.model.elements.size(), 1u);
    const TypeDef& outer = global_type(ctx, "outer");
    EXPECT_FALSE(testing::child(outer, "a")->type_def.is_complex());
    const ElementDef* mid = testing::child(outer, "mid");
    ASSERT_NE(mid, nullptr);
    EXPECT_EQ(testing::child_names(testing::child(mid->type_def, "a")->type_def), "z");
}

TEST(Parser, LaterDeclarationsReplaceEarlierOnes) {
    ParseContext ctx = read(xsd(R"(
  <xs:element name="item" type="xs:int"/>
  <xs:element name="item" type="xs:boolean"/>
  <xs:complexType name="T"><xs:sequence><xs:element name="c"/></xs:sequence></xs:complexType>
  <xs:simpleType name="T"><xs:restriction base="xs:double"/></xs:simpleType>
  <xs:simpleType name="U"><xs:restriction base="xs:double"/></xs:simpleType>
  <xs:complexType name="U"/>)"));
    EXPECT_EQ(global_type(ctx, "item").simple, J::Boolean);
    EXPECT_FALSE(ctx.model.types.at("T").is_complex());
    EXPECT_EQ(ctx.model.types.at("T").simple, J::Float);
    EXPECT_TRUE(ctx.model.types.at("U").is_complex());
}

TEST(Parser, CompositorsLeaveNoTrace) {
    ParseContext ctx = read(xsd(R"(
  <xs:element name="a">
    <xs:complexType><xs:sequence>
      <xs:choice maxOccurs="unbounded"><xs:element name="b"/><xs:element name="c"/></xs:choice>
      <xs:all><xs:element name="d"/></xs:all>
      <xs:group ref="g"/>
      <xs:element name="b" type="xs:int"/>
    </xs:sequence></xs:complexType>
  </xs:element>)"));
    const TypeDef& a = global_type(ctx, "a");
    EXPECT_EQ(testing::child_names(a), "b,c,d,b");
    EXPECT_EQ(a.complex.children[1].max_occurs.count, 1u);
}

TEST(Parser, Attributes) {
    ParseContext ctx = read(xsd(R"(
  <xs:attribute name="top" type="xs:int"/>
  <xs:attributeGroup name="ag"><xs:attribute name="grouped"/></xs:attributeGroup>
  <xs:simpleType name="Num"><xs:restriction base="xs:int"/></xs:simpleType>
  <xs:complexType name="Base"/>
  <xs:complexType name="T">
    <xs:complexContent><xs:extension base="Base">
      <xs:attribute name="i" type="xs:int" use="required"/>
      <xs:attribute name="n" type="Num" use="optional"/>
      <xs:attribute name="u" type="xs:anyType" use="REQUIRED"/>
      <xs:attribute ref="xml:lang" use="required"/>
      <xs:attribute name="f" type="xs:decimal"/>
      <xs:attribute name="p:q" type="q:int"/>
    </xs:extension></xs:complexContent>
  </xs:complexType>)"));
    const TypeDef& t = ctx.model.types.at("T");
    ASSERT_EQ(t.complex.attributes.size(), 6u);
    struct Want {
        const char* name;
        bool required;
        JsonType type;
    } want[] = {{"i", true, J::Integer}, {"n", false, J::String}, {"u", false, J::String},
                {"", true, J::String},   {"f", false, J::Float},  {"p:q", false, J::String}};
    for (std::size_t k = 0; k < std::size(want); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(t.complex.attributes[k].name, want[k].name);
        EXPECT_EQ(t.complex.attributes[k].required, want[k].required);
        EXPECT_EQ(t.complex.attributes[k].json_type, want[k].type);
    }
    EXPECT_TRUE(ctx.model.elements.empty());
    EXPECT_TRUE(ctx.model.types.at("Base").complex.attributes.empty());
}

TEST(Parser, MixedIsTrueOnlyForTheWordTrue) {
    ParseContext ctx = read(xsd(R"(
  <xs:complexType name="A" mixed="true"/>
  <xs:complexType name="B" mixed="1"/>
  <xs:complexType name="C" mixed="TRUE"/>
  <xs:complexType name="D"/>)"));
    EXPECT_TRUE(ctx.model.types.at("A").complex.mixed);
    EXPECT_FALSE(ctx.model.types.at("B").complex.mixed);
    EXPECT_FALSE(ctx.model.types.at("C").complex.mixed);
    EXPECT_FALSE(ctx.model.types.at("D").complex.mixed);
}

TEST(Parser, DerivationBases) {
    ParseContext ctx = read(xsd(R"(
  <xs:complexType name="Amount"><xs:simpleContent><xs:extension base="xs:decimal"/></xs:simpleContent></xs:complexType>
  <xs:complexType name="Any"><xs:simpleContent><xs:extension base="xs:anyType"/></xs:simpleContent></xs:complexType>
  <xs:complexType name="Derived"><xs:complexContent><xs:restriction base="tns:Amount"/></xs:complexContent></xs:complexType>
  <xs:complexType name="NoBase"><xs:complexContent><xs:extension/></xs:complexContent></xs:complexType>
  <xs:simpleType name="Code"><xs:restriction base="xs:boolean"/></xs:simpleType>
  <xs:simpleType name="Other"><xs:restriction base="tns:Code"/></xs:simpleType>
  <xs:simpleType name="Listed"><xs:list itemType="xs:int"/></xs:simpleType>
  <xs:element name="anon">
    <xs:complexType><xs:complexContent><xs:extension base="Amount"/></xs:complexContent></xs:complexType>
  </xs:element>
  <xs:element name="anon2"><xs:simpleType><xs:restriction base="Code"/></xs:simpleType></xs:element>
  <xs:element name="inner">
    <xs:complexType><xs:sequence><xs:element name="x"/></xs:sequence>
      <xs:attribute name="a"><xs:simpleType><xs:restriction base="xs:int"/></xs:simpleType></xs:attribute>
    </xs:complexType>
  </xs:element>
  <xs:element name="bare">
    <xs:attribute name="a"><xs:simpleType><xs:restriction base="xs:int"/></xs:simpleType></xs:attribute>
  </xs:element>)"));
    const auto& types = ctx.model.types;
    EXPECT_EQ(types.at("Amount").complex.text_type, J::Float);
    EXPECT_EQ(types.at("Any").complex.text_type, J::Absent);
    EXPECT_EQ(types.at("Derived").complex.text_type, J::Absent);
    EXPECT_EQ(types.at("NoBase").complex.text_type, J::Absent);
    EXPECT_EQ(types.at("Code").simple, J::Boolean);
    EXPECT_EQ(types.at("Other").simple, J::String);
    EXPECT_EQ(types.at("Listed").simple, J::String);
    ASSERT_EQ(ctx.complex_bases.size(), 1u);
    EXPECT_EQ(ctx.complex_bases.at("Derived"), "Amount");
    ASSERT_EQ(ctx.simple_bases.size(), 1u);
    EXPECT_EQ(ctx.simple_bases.at("Other"), "Code");
    EXPECT_TRUE(global_type(ctx, "anon").is_complex());
    EXPECT_FALSE(global_type(ctx, "anon2").is_complex());
    // An attribute's anonymous simple type is handed to the open element;
    // inside a complex type, the complex type replaces it when it closes.
    const TypeDef& inner = global_type(ctx, "inner");
    ASSERT_TRUE(inner.is_complex());
    EXPECT_EQ(testing::child_names(inner), "x");
    EXPECT_EQ(inner.complex.attributes.at(0).json_type, J::String);
    EXPECT_FALSE(global_type(ctx, "bare").is_complex());
    EXPECT_EQ(global_type(ctx, "bare").simple, J::Integer);
}

TEST(Parser, TargetNamespaceComesFromTheRootOnlyAndTheFirstWins) {
    ParseContext a = read(xsd("<xs:element name=\"e\" targetNamespace=\"urn:nested\"/>"));
    EXPECT_FALSE(a.target_namespace.has_value());
    ParseContext b = read(xsd("", "targetNamespace=\"urn:first\" targetNamespace=\"urn:second\""));
    ASSERT_TRUE(b.target_namespace.has_value());
    EXPECT_EQ(*b.target_namespace, "urn:first");
}

TEST(Parser, OnlyTheRootsBindingsAreRecorded) {
    ParseContext ctx = read("<?xml version=\"1.0\"?><!-- c --><s:schema xmlns:s=\"" + kNs +
                            "\" xmlns:t=\"urn:t\" xmlns=\"urn:default\"><s:element name=\"e\" xmlns:u=\"urn:u\"/></s:schema>");
    EXPECT_EQ(ctx.prefixes.size(), 2u);
    EXPECT_EQ(ctx.prefixes.at("s"), kNs);
    EXPECT_EQ(ctx.prefixes.at("t"), "urn:t");
}

TEST(Parser, UnrecognisedElementsAreReadThrough) {
    ParseContext ctx = read(xsd(R"(
  <xs:annotation><xs:documentation><xs:element name="doc"/></xs:documentation></xs:annotation>
  <xs:element name="e">
    <xs:annotation><xs:appinfo>text &amp; more</xs:appinfo></xs:annotation>
    <xs:complexType><xs:sequence><xs:any/><xs:element name="c"/></xs:sequence></xs:complexType>
  </xs:element>
  <xs:Element name="wrongcase"/>
  <a:b:element name="twocolons"/>)"));
    // The annotation is not recognised, so its element still stands directly
    // under schema.
    EXPECT_EQ(ctx.model.elements.size(), 2u);
    EXPECT_TRUE(ctx.model.elements.contains("doc"));
    EXPECT_EQ(testing::child_names(global_type(ctx, "e")), "c");
}

TEST(Parser, AttributeValuesAreRawAndNamesExact) {
    ParseContext ctx = read(xsd(R"(
  <xs:element name=" spaced &amp; " type="A&amp;B"/>
  <xs:element xs:name="prefixed"/>
  <xs:element name="first" name="second"/>)"));
    EXPECT_TRUE(ctx.model.elements.contains(" spaced &amp; "));
    EXPECT_EQ(ctx.element_types.at(" spaced &amp; "), "A&amp;B");
    EXPECT_FALSE(ctx.model.elements.contains("prefixed"));
    EXPECT_TRUE(ctx.model.elements.contains("first"));
    EXPECT_FALSE(ctx.model.elements.contains("second"));
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
    TempDir dir;
    std::string path = dir.write("deep.xsd", xsd(body + "<xs:complexType name=\"T\"/>"));

    int depth = 0;
    bool leaf_linked = false;
    bool copied = false;
    testing::run_with_stack(256 * 1024, [&] {
        auto model = parse_xsd(path);
        if (!model) return;
        const TypeDef* t = &model->elements.at("e0").type_def;
        const ElementDef* last = nullptr;
        while (t->is_complex() && !t->complex.children.empty()) {
            last = &t->complex.children[0];
            t = &last->type_def;
            ++depth;
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
