"""tessaly_tools.load_schema in both profiles: one small schema and document
per rule of the complete profile, with what each profile makes of it; the
literal profile is Schema.from_file exactly; describe() reports the load."""

import json
import re
from pathlib import Path

import pytest
import tessaly
import tessaly_tools

XS = 'xmlns:xs="http://www.w3.org/2001/XMLSchema"'


def schema_text(body, root=f"<xs:schema {XS}>"):
    return f'<?xml version="1.0"?>{root}{body}</xs:schema>'.encode()


def convert(xsd_bytes, xml, resolution):
    schema = tessaly_tools.load_schema(xsd_bytes, resolution=resolution)
    return tessaly.convert_bytes_with_schema(xml.encode(), schema)


# (rule, schema body, document, literal profile's value, complete profile's value)
RULES = [
    (
        "element ref takes the global declaration, anonymous type and bounds",
        '<xs:element name="suite"><xs:complexType><xs:sequence>'
        '<xs:element ref="case" maxOccurs="unbounded"/></xs:sequence></xs:complexType></xs:element>'
        '<xs:element name="case"><xs:complexType><xs:attribute name="time" type="xs:double"/>'
        "</xs:complexType></xs:element>",
        '<suite><case time="1.5"/></suite>',
        {"suite": {"case": [None]}},
        {"suite": {"case": [{"@time": 1.5}]}},
    ),
    (
        "named types at every depth",
        '<xs:complexType name="Node"><xs:sequence><xs:element name="node" type="Node" minOccurs="0"/>'
        '</xs:sequence><xs:attribute name="n" type="xs:int"/></xs:complexType>'
        '<xs:element name="node" type="Node"/>',
        '<node n="1"><node n="2"><node n="3"><node n="4"/></node></node></node>',
        {"node": {"@n": 1, "node": {"@n": 2, "node": {"@n": 3, "node": None}}}},
        {"node": {"@n": 1, "node": {"@n": 2, "node": {"@n": 3, "node": {"@n": 4}}}}},
    ),
    (
        "group and attribute group references bring their content",
        '<xs:group name="G"><xs:sequence><xs:element name="q" type="xs:int"/></xs:sequence></xs:group>'
        '<xs:attributeGroup name="A"><xs:attributeGroup ref="B"/></xs:attributeGroup>'
        '<xs:attributeGroup name="B"><xs:attribute name="k" type="xs:boolean"/></xs:attributeGroup>'
        '<xs:element name="r"><xs:complexType><xs:group ref="G"/><xs:attributeGroup ref="A"/>'
        "</xs:complexType></xs:element>",
        '<r k="true"><q>5</q></r>',
        {"r": {"@k": "true", "q": "5"}},
        {"r": {"@k": True, "q": 5}},
    ),
    (
        "attribute ref takes the global attribute's type",
        '<xs:attribute name="v" type="xs:int"/>'
        '<xs:element name="r"><xs:complexType><xs:attribute ref="v"/></xs:complexType></xs:element>',
        '<r v="3"/>',
        {"r": {"@v": "3"}},
        {"r": {"@v": 3}},
    ),
    (
        "attribute types through named simple types; lists stay strings",
        '<xs:simpleType name="Lat"><xs:restriction base="xs:double"><xs:minInclusive value="-90"/>'
        '</xs:restriction></xs:simpleType><xs:simpleType name="Lat2"><xs:restriction base="Lat"/></xs:simpleType>'
        '<xs:simpleType name="L"><xs:list itemType="xs:int"/></xs:simpleType>'
        '<xs:element name="pt"><xs:complexType><xs:attribute name="lat" type="Lat2"/>'
        '<xs:attribute name="l" type="L"/><xs:attribute name="x">'
        '<xs:simpleType><xs:restriction base="xs:int"/></xs:simpleType></xs:attribute></xs:complexType></xs:element>',
        '<pt lat="47.5" l="1 2" x="7"/>',
        {"pt": {"@lat": "47.5", "@l": "1 2", "@x": "7"}},
        {"pt": {"@lat": 47.5, "@l": "1 2", "@x": 7}},
    ),
    (
        "a union of numbers is a number; with a string member it stays a string",
        '<xs:simpleType name="real"><xs:union memberTypes="xs:decimal xs:double"/></xs:simpleType>'
        '<xs:simpleType name="Code"><xs:restriction base="xs:token"/></xs:simpleType>'
        '<xs:simpleType name="IntOrCode"><xs:union memberTypes="Code"><xs:simpleType>'
        '<xs:restriction base="xs:int"/></xs:simpleType></xs:union></xs:simpleType>'
        '<xs:simpleType name="Ints"><xs:union memberTypes="xs:int xs:long"/></xs:simpleType>'
        '<xs:element name="q"><xs:complexType><xs:attribute name="v" type="real"/>'
        '<xs:attribute name="c" type="IntOrCode"/><xs:attribute name="i" type="Ints"/></xs:complexType></xs:element>',
        '<q v="1.5" c="7" i="99999999999999999999"/>',
        {"q": {"@v": "1.5", "@c": "7", "@i": "99999999999999999999"}},
        {"q": {"@v": 1.5, "@c": "7", "@i": 99999999999999999999}},
    ),
    (
        "text kind inherited through named bases",
        '<xs:complexType name="Amt"><xs:simpleContent><xs:extension base="xs:double">'
        '<xs:attribute name="cur" type="xs:string"/></xs:extension></xs:simpleContent></xs:complexType>'
        '<xs:complexType name="Price"><xs:simpleContent><xs:restriction base="Amt"/></xs:simpleContent>'
        '</xs:complexType><xs:element name="p" type="Price"/>',
        '<p cur="EUR">18.5</p>',
        {"p": {"$": "18.5", "@cur": "EUR"}},
        {"p": {"$": 18.5, "@cur": "EUR"}},
    ),
    (
        "a repeating compositor or group reference makes arrays",
        '<xs:group name="G"><xs:sequence><xs:element name="g" type="xs:int"/></xs:sequence></xs:group>'
        '<xs:element name="r"><xs:complexType><xs:sequence><xs:choice maxOccurs="unbounded">'
        '<xs:element name="a" type="xs:int"/><xs:element name="b" type="xs:int"/></xs:choice>'
        '<xs:group ref="G" maxOccurs="3"/></xs:sequence></xs:complexType></xs:element>',
        "<r><a>1</a><g>2</g></r>",
        {"r": {"a": 1, "g": "2"}},
        {"r": {"a": [1], "g": [2]}},
    ),
    (
        "substitution group members stand in for their head",
        '<xs:complexType name="Shape"><xs:attribute name="id" type="xs:int"/></xs:complexType>'
        '<xs:element name="shape" type="Shape" abstract="true"/>'
        '<xs:element name="circle" substitutionGroup="shape"><xs:complexType><xs:complexContent>'
        '<xs:extension base="Shape"><xs:attribute name="r" type="xs:double"/></xs:extension>'
        "</xs:complexContent></xs:complexType></xs:element>"
        '<xs:element name="square" substitutionGroup="shape"/><xs:element name="disc" substitutionGroup="circle"/>'
        '<xs:element name="label" substitutionGroup="shape" type="xs:string"/>'
        '<xs:element name="pic"><xs:complexType><xs:sequence><xs:element ref="shape" maxOccurs="unbounded"/>'
        "</xs:sequence></xs:complexType></xs:element>",
        '<pic><circle id="1" r="2"/><square id="3"/><disc r="1.5"/><label id="4">x</label></pic>',
        {"pic": {"circle": None, "square": None, "disc": None, "label": "x"}},
        {"pic": {"circle": [{"@id": 1, "@r": 2.0}], "square": [{"@id": 3}], "disc": [{"@r": 1.5}],
                 "label": [{"$": "x", "@id": "4"}]}},
    ),
    (
        "undeclared and simple-typed elements keep their attributes as strings",
        '<xs:element name="r"><xs:complexType><xs:sequence><xs:element name="v" type="xs:int"/>'
        "</xs:sequence></xs:complexType></xs:element>",
        '<r><v unit="cm">4</v><x k="1">t</x></r>',
        {"r": {"v": 4, "x": "t"}},
        {"r": {"v": {"$": 4, "@unit": "cm"}, "x": {"$": "t", "@k": "1"}}},
    ),
]


@pytest.mark.parametrize("rule,body,xml,literal,complete", RULES, ids=[r[0] for r in RULES])
def test_rule_in_both_profiles(rule, body, xml, literal, complete):
    xsd = schema_text(body)
    assert json.loads(convert(xsd, xml, "literal")) == literal
    assert json.loads(convert(xsd, xml, "complete")) == complete


def test_unprefixed_builtin_names_where_the_xsd_namespace_is_the_default():
    xsd = b'<schema xmlns="http://www.w3.org/2001/XMLSchema"><element name="n" type="int"/></schema>'
    assert json.loads(convert(xsd, "<n>5</n>", "literal")) == {"n": "5"}
    assert json.loads(convert(xsd, "<n>5</n>", "complete")) == {"n": 5}


# (type, text, literal profile's JSON token, complete profile's JSON token)
NUMBERS = [
    ("xs:decimal", "12312", "12312.0", "12312"),
    ("xs:decimal", "12345678901234567.89", "1.2345678901234568e16", "12345678901234567.89"),
    ("xs:decimal", "+0018.150", "18.15", "18.15"),
    ("xs:decimal", "-007.50", "-7.5", "-7.5"),
    ("xs:decimal", "-.5", "-0.5", "-0.5"),
    ("xs:decimal", "-0.0", "-0.0", "0"),
    ("xs:decimal", "5.", "5.0", "5"),
    ("xs:decimal", "1e3", "1000.0", '"1e3"'),
    ("xs:unsignedLong", "18446744073709551615", '"18446744073709551615"', "18446744073709551615"),
    ("xs:integer", "-000123456789012345678901234567890", '"-000123456789012345678901234567890"',
     "-123456789012345678901234567890"),
    ("xs:integer", "-0", "0", "0"),
    ("xs:integer", "1.0", '"1.0"', '"1.0"'),
]


@pytest.mark.parametrize("type_name,text,literal,complete", NUMBERS)
@pytest.mark.parametrize("place", ["element", "attribute"])
def test_exact_numbers(type_name, text, literal, complete, place):
    if place == "element":
        body, xml = f'<xs:element name="v" type="{type_name}"/>', f"<v>{text}</v>"
    else:
        body = f'<xs:element name="v"><xs:complexType><xs:attribute name="a" type="{type_name}"/></xs:complexType></xs:element>'
        xml = f'<v a="{text}"/>'
    key = '"v"' if place == "element" else '"@a"'
    for resolution, token in (("literal", literal), ("complete", complete)):
        out = convert(schema_text(body), xml, resolution)
        if token.endswith("e16"):  # the float writer's own exponent form
            v = json.loads(out)["v"]
            assert (v if place == "element" else v["@a"]) == float(token)
            continue
        assert re.search(key + r": (.*)\n", out).group(1).rstrip(",") == token, (resolution, out)


CORPUS = Path(__file__).resolve().parents[3] / "shared" / "corpus"


def corpus_rows(limit_per_set=3):
    rows = []
    for manifest in sorted(CORPUS.glob("*/MANIFEST.tsv")):
        lines = manifest.read_text().splitlines()
        head = lines[0].split("\t")
        picked = 0
        for line in lines[1:]:
            r = dict(zip(head, line.split("\t")))
            if r.get("entry_xsd") and int(r["bytes"]) < 2_000_000 and picked < limit_per_set:
                rows.append((manifest.parent / r["path"], manifest.parent / r["entry_xsd"]))
                picked += 1
    return rows


@pytest.mark.skipif(not CORPUS.exists(), reason="the corpus is not here")
@pytest.mark.parametrize("xml,xsd", corpus_rows(), ids=lambda p: p.parent.name if p.suffix == ".xsd" else p.name)
def test_literal_profile_is_schema_from_file(xml, xsd):
    literal = tessaly_tools.load_schema(xsd, resolution="literal")
    assert tessaly.convert_with_schema(str(xml), literal) == tessaly.convert_with_schema(
        str(xml), tessaly.Schema.from_file(str(xsd))
    )


def test_describe_reports_what_the_load_did(tmp_path):
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "t.xsd").write_bytes(schema_text('<xs:element name="t" type="Missing"/>'))
    main = tmp_path / "main.xsd"
    main.write_bytes(
        schema_text(
            '<xs:include schemaLocation="sub/t.xsd"/><xs:include schemaLocation="none.xsd"/>'
            '<xs:element name="r"><xs:complexType><xs:sequence><xs:element ref="gone"/><xs:group ref="G"/>'
            '</xs:sequence><xs:attribute ref="a"/><xs:attributeGroup ref="AG"/></xs:complexType></xs:element>'
        )
    )
    report = tessaly_tools.describe(tessaly_tools.load_schema(main))
    assert report == {
        "resolution": "complete",
        "documents": [str(main), str(tmp_path / "sub/t.xsd")],
        "skipped": [{"location": "none.xsd", "document": str(main), "reason": "not found"}],
        "unresolved": {
            "types": ["Missing"],
            "elements": ["gone"],
            "groups": ["G"],
            "attribute_groups": ["AG"],
            "attributes": ["a"],
        },
        "global_elements": 2,
        "named_types": 0,
    }
    refused = tessaly_tools.describe(tessaly_tools.load_schema(main, allowed_dirs=[tmp_path / "elsewhere"]))
    assert [s["reason"] for s in refused["skipped"]] == ["refused", "not found"]
    from_bytes = tessaly_tools.describe(tessaly.Schema.from_bytes(schema_text("")))
    assert (from_bytes["resolution"], from_bytes["documents"]) == ("literal", ["<bytes>"])


def test_bytes_resolve_against_base_dir(tmp_path):
    (tmp_path / "t.xsd").write_bytes(schema_text('<xs:element name="t" type="xs:int"/>'))
    xsd = schema_text('<xs:include schemaLocation="t.xsd"/>')
    schema = tessaly_tools.load_schema(xsd, base_dir=tmp_path)
    assert json.loads(tessaly.convert_bytes_with_schema(b"<t>1</t>", schema)) == {"t": 1}


@pytest.mark.parametrize(
    "kwargs,error",
    [
        ({"resolution": "full"}, ValueError),
        ({"base_dir": 3}, TypeError),
        ({"allowed_dirs": [None]}, TypeError),
        ({"allowed_dirs": "schemas"}, TypeError),
    ],
)
def test_argument_errors(kwargs, error):
    with pytest.raises(error):
        tessaly_tools.load_schema(schema_text(""), **kwargs)


def test_cycles_among_groups_heads_and_bases_end():
    body = (
        '<xs:group name="G"><xs:sequence><xs:group ref="H"/><xs:element name="x" type="xs:int"/></xs:sequence></xs:group>'
        '<xs:group name="H"><xs:choice><xs:group ref="G"/></xs:choice></xs:group>'
        '<xs:attributeGroup name="A"><xs:attributeGroup ref="A"/><xs:attribute name="k" type="xs:int"/></xs:attributeGroup>'
        '<xs:complexType name="T"><xs:complexContent><xs:extension base="T">'
        '<xs:group ref="G"/><xs:attributeGroup ref="A"/></xs:extension></xs:complexContent></xs:complexType>'
        '<xs:element name="a" substitutionGroup="b" type="T"/><xs:element name="b" substitutionGroup="a" type="T"/>'
    )
    out = json.loads(convert(schema_text(body), '<a k="1"><x>2</x><b k="3"/></a>', "complete"))
    assert out == {"a": {"@k": 1, "x": 2, "b": {"@k": 3}}}


def corpus_value(set_name, xsd, xml, resolution):
    schema = tessaly_tools.load_schema(CORPUS / set_name / xsd, resolution=resolution)
    return json.loads(tessaly.convert_with_schema(str(CORPUS / set_name / xml), schema))


JUNIT_XSD = "xunit-plugin/src/main/resources/org/jenkinsci/plugins/xunit/types/model/xsd/junit-10.xsd"
CDA_XSD = "CDA-core-2.0/schema/extensions/SDTC/infrastructure/cda/CDA_SDTC.xsd"

# (set, schema, document, where to look, literal profile's value, complete profile's value)
PINNED = [
    (
        "ubl-2.1", "xsd/maindoc/UBL-CreditNote-2.1.xsd", "xml/UBL-CreditNote-2.0-Example.xml",
        lambda v: v["CreditNote"]["LegalMonetaryTotal"]["PayableAmount"],
        {"$": "107.50", "@currencyID": "GBP"}, {"$": 107.5, "@currencyID": "GBP"},
    ),
    (
        "hl7-cda", CDA_XSD, "C-CDA-Examples/Documents/CCD/CCD_2/CCD.xml",
        lambda v: (v["ClinicalDocument"]["id"], v["ClinicalDocument"]["effectiveTime"]),
        ({"@extension": "EHRVersion2.0", "@root": "be84a8e4-a22e-4210-a4a6-b3c48273e84c"},
         {"@value": "20141015103026-0500"}),
        ({"@extension": "EHRVersion2.0", "@root": "be84a8e4-a22e-4210-a4a6-b3c48273e84c"},
         {"@value": "20141015103026-0500"}),
    ),
    (
        "junit-reports", JUNIT_XSD, "xunit-plugin/src/test/resources/org/jenkinsci/plugins/xunit/types/cppunit/testcase7/result.xml",
        lambda v: v["testsuite"]["testcase"],
        [None, None],
        [{"@classname": "TestCase", "@name": "FirmwareupdateResponceTest", "@time": "0"},
         {"@classname": "TestCase", "@name": "FirmwareUpdateFailTest", "@time": "0"}],
    ),
    (
        "iso20022", "genkgo-camt/assets/camt.052.001.01.xsd", "genkgo-camt/test/data/camt052.v1.xml",
        # An xs:decimal sequence number: a float literally, the exact integer completely.
        lambda v: (v["Document"]["BkToCstmrAcctRptV01"]["Rpt"][0]["Ntry"][0]["Amt"],
                   repr(v["Document"]["BkToCstmrAcctRptV01"]["Rpt"][0]["ElctrncSeqNb"])),
        ({"$": "200000", "@Ccy": "SEK"}, "12312.0"), ({"$": 200000, "@Ccy": "SEK"}, "12312"),
    ),
]


@pytest.mark.skipif(not CORPUS.exists(), reason="the corpus is not here")
@pytest.mark.parametrize("set_name,xsd,xml,where,literal,complete", PINNED, ids=[p[0] for p in PINNED])
def test_corpus_documents_pinned(set_name, xsd, xml, where, literal, complete):
    assert where(corpus_value(set_name, xsd, xml, "literal")) == literal
    assert where(corpus_value(set_name, xsd, xml, "complete")) == complete
