#pragma once
// The two schemas the conversion targets convert under, loaded once per
// process from text written to the private directory. The first input byte
// picks the convention (byte % 3) and the schema ((byte / 3) % 2), so that
// the digits '0' to '5' name the six pairs: '0' to '2' the empty schema,
// '3' to '5' the typed one, in BadgerFish, Parker, Abdera order. Bytes whose
// (byte / 6) is odd ('6' to ';', say) load the schema in the complete
// resolution profile instead.

#include <cstdint>
#include <string_view>

#include "common.hpp"
#include "converter/convention.hpp"
#include "schema/loader.hpp"
#include "schema/model.hpp"

namespace fuzz {

inline constexpr std::string_view kEmptyXsd = R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>)";

// Typed leaves and attributes, arrays by maxOccurs, a named type extended by
// another (an xsi:type target), simple content with an attribute, simple
// types restricting built-ins, mixed content and a recursive reference.
inline constexpr std::string_view kTypedXsd = R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:simpleType name="Code">
    <xs:restriction base="xs:int"><xs:minInclusive value="0"/></xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="Ratio"><xs:restriction base="xs:double"/></xs:simpleType>
  <xs:simpleType name="Level"><xs:restriction base="Code"/></xs:simpleType>
  <xs:complexType name="Base">
    <xs:sequence>
      <xs:element name="id" type="xs:int"/>
      <xs:element name="tag" type="xs:string" maxOccurs="unbounded"/>
    </xs:sequence>
    <xs:attribute name="flag" type="xs:boolean"/>
  </xs:complexType>
  <xs:complexType name="Derived">
    <xs:complexContent>
      <xs:extension base="Base">
        <xs:sequence>
          <xs:element name="score" type="xs:double" maxOccurs="3"/>
          <xs:element name="code" type="Code"/>
          <xs:element name="level" type="Level"/>
        </xs:sequence>
        <xs:attribute name="n" type="xs:int"/>
      </xs:extension>
    </xs:complexContent>
  </xs:complexType>
  <xs:complexType name="Amount">
    <xs:simpleContent>
      <xs:extension base="xs:decimal">
        <xs:attribute name="currency" type="xs:string"/>
        <xs:attribute name="exact" type="xs:boolean"/>
      </xs:extension>
    </xs:simpleContent>
  </xs:complexType>
  <xs:complexType name="Note" mixed="true">
    <xs:sequence>
      <xs:element name="b" type="xs:string" minOccurs="0" maxOccurs="unbounded"/>
      <xs:element name="n" type="xs:int" minOccurs="0"/>
    </xs:sequence>
  </xs:complexType>
  <xs:element name="root">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="item" type="Base" maxOccurs="unbounded"/>
        <xs:element name="amount" type="Amount" minOccurs="0" maxOccurs="2"/>
        <xs:element name="ok" type="xs:boolean"/>
        <xs:element name="ratio" type="Ratio"/>
        <xs:element name="note" type="Note"/>
        <xs:element ref="root" minOccurs="0"/>
        <xs:group ref="Extra" minOccurs="0" maxOccurs="unbounded"/>
      </xs:sequence>
      <xs:attribute name="version" type="xs:int"/>
      <xs:attribute name="weight" type="xs:double"/>
      <xs:attributeGroup ref="Stamps"/>
    </xs:complexType>
  </xs:element>
  <xs:element name="item" type="Derived"/>
  <xs:group name="Extra">
    <xs:choice>
      <xs:element ref="shape"/>
      <xs:element name="big" type="xs:integer"/>
      <xs:group ref="Extra"/>
    </xs:choice>
  </xs:group>
  <xs:attributeGroup name="Stamps">
    <xs:attribute ref="when"/>
    <xs:attribute name="real"><xs:simpleType><xs:union memberTypes="xs:decimal xs:double"/></xs:simpleType></xs:attribute>
  </xs:attributeGroup>
  <xs:attribute name="when" type="Level"/>
  <xs:element name="shape" type="Base" abstract="true"/>
  <xs:element name="circle" substitutionGroup="shape"/>
</xs:schema>
)";

inline tessaly::schema::SchemaModel load_schema(std::string_view file, std::string_view text,
                                               tessaly::Resolution resolution = tessaly::Resolution::Literal) {
    std::string path = private_path(file);
    write_file(path, text);
    auto model = tessaly::schema::parse_xsd(path, {.resolution = resolution});
    if (!model) harness_failure("cannot load " + std::string(file) + ": " + model.error().display());
    return std::move(*model);
}

struct Choice {
    const tessaly::schema::SchemaModel* model;
    tessaly::converter::Convention convention;
};

inline Choice choose(std::uint8_t byte) {
    static const tessaly::schema::SchemaModel empty = load_schema("empty.xsd", kEmptyXsd);
    static const tessaly::schema::SchemaModel typed = load_schema("typed.xsd", kTypedXsd);
    static const tessaly::schema::SchemaModel empty_complete =
        load_schema("empty.xsd", kEmptyXsd, tessaly::Resolution::Complete);
    static const tessaly::schema::SchemaModel typed_complete =
        load_schema("typed.xsd", kTypedXsd, tessaly::Resolution::Complete);
    const bool complete = (byte / 6) % 2;
    const tessaly::schema::SchemaModel* model =
        (byte / 3) % 2 ? (complete ? &typed_complete : &typed) : (complete ? &empty_complete : &empty);
    return {model, static_cast<tessaly::converter::Convention>(byte % 3)};
}

}  // namespace fuzz
