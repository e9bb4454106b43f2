"""Schema-driven conversion end to end, from real XSD text."""

import json
from pathlib import Path

import pytest

import tessaly
from tessaly import Convention, Schema

XS = 'xmlns:xs="http://www.w3.org/2001/XMLSchema"'


def xsd(body, extra=""):
    return f'<xs:schema {XS} {extra}>{body}</xs:schema>'.encode()


def convert(xml, schema_text, convention=Convention.BADGERFISH):
    out = tessaly.convert_bytes(xml.encode(), schema_text, convention)
    return json.loads(out) if out else ""


LIBRARY = xsd("""
  <xs:element name="library"><xs:complexType><xs:sequence>
    <xs:element name="name" type="xs:string"/>
    <xs:element name="book" maxOccurs="unbounded"><xs:complexType>
      <xs:sequence><xs:element name="title" type="xs:string"/><xs:element name="price" type="xs:decimal"/>
        <xs:element name="instock" type="xs:boolean"/></xs:sequence>
      <xs:attribute name="id" type="xs:int"/>
    </xs:complexType></xs:element>
  </xs:sequence></xs:complexType></xs:element>
  <xs:element name="price"><xs:complexType><xs:simpleContent>
    <xs:extension base="xs:decimal"><xs:attribute name="currency" type="xs:string"/></xs:extension>
  </xs:simpleContent></xs:complexType></xs:element>""")

MIXED = "<p>Hello <b>x</b> world</p>"  # BadgerFish: tests/python/test_conversion.py
LIBRARY_XML = """<library>
  <name>City</name>
  <book id="1"><title>Dune</title><price>9.5</price><instock>true</instock></book>
</library>"""


@pytest.mark.parametrize(
    "convention, xml, expected",
    [
        (Convention.BADGERFISH, LIBRARY_XML,
         {"library": {"book": [{"@id": 1, "instock": True, "price": 9.5, "title": "Dune"}], "name": "City"}}),
        (Convention.PARKER, LIBRARY_XML, {"book": [{"instock": True, "price": 9.5, "title": "Dune"}], "name": "City"}),
        (Convention.ABDERA, LIBRARY_XML,
         {"library": {"children": {"book": [{"attributes": {"id": 1},
                                             "children": {"instock": True, "price": 9.5, "title": "Dune"}}],
                                   "name": "City"}}}),
        (Convention.BADGERFISH, '<price currency="EUR">9.5</price>', {"price": {"$": 9.5, "@currency": "EUR"}}),
        (Convention.PARKER, '<price currency="EUR">9.5</price>', 9.5),
        (Convention.ABDERA, '<price currency="EUR">9.5</price>',
         {"price": {"attributes": {"currency": "EUR"}, "children": 9.5}}),
        (Convention.BADGERFISH, '<price currency="X"/>', {"price": {"@currency": "X"}}),
        (Convention.PARKER, '<price currency="X"/>', None),
        (Convention.ABDERA, '<price currency="X"/>', {"price": {"attributes": {"currency": "X"}}}),
        (Convention.PARKER, MIXED, {"b": "x"}),
        (Convention.ABDERA, MIXED, {"p": {"children": {"b": "x"}}}),
    ],
)
def test_library_in_each_convention(convention, xml, expected):
    assert convert(xml, LIBRARY, convention) == expected


ORDER = xsd("""
  <xs:element name="order"><xs:complexType>
    <xs:sequence><xs:element name="qty" type="xs:int"/></xs:sequence>
    <xs:attribute name="id" type="xs:int"/>
  </xs:complexType></xs:element>
  <xs:element name="qty" type="xs:int"/>
  <xs:element name="note" type="xs:int"/>
  <xs:element name="val" type="xs:string"/>
  <xs:element name="item" type="A"/>
  <xs:element name="s"><xs:complexType><xs:sequence>
    <xs:element name="one"/><xs:element name="many" maxOccurs="2"/><xs:element name="zero" maxOccurs="0"/>
  </xs:sequence></xs:complexType></xs:element>
  <xs:simpleType name="Num"><xs:restriction base="xs:int"/></xs:simpleType>
  <xs:complexType name="A"><xs:sequence><xs:element name="a" type="xs:int"/></xs:sequence></xs:complexType>
  <xs:complexType name="B"><xs:attribute name="n" type="xs:int"/></xs:complexType>""")


@pytest.mark.parametrize(
    "xml, expected",
    [
        ('<order id="7"><qty>3</qty></order>', {"order": {"@id": 7, "qty": 3}}),
        ('<order id="abc"/>', {"order": {"@id": "abc"}}),
        ('<order note="n"/>', {"order": {"@note": "n"}}),
        ('<ns:order xmlns:ns="urn:x"><qty>3</qty></ns:order>', {"order": {"@xmlns:ns": "urn:x", "qty": 3}}),
        ("<wrapper><qty>5</qty></wrapper>", {"wrapper": {"qty": 5}}),
        ("<order><note>5</note></order>", {"order": {"note": "5"}}),
        ('<qty unit="kg">4</qty>', {"qty": 4}),
        ('<val xsi:type="Num">4</val>', {"val": 4}),
        ('<item xsi:type="p:B" n="2"/>', {"item": {"@n": 2, "@xsi:type": "p:B"}}),
        ('<item xsi:type="Missing"><a>1</a></item>', {"item": {"@xsi:type": "Missing", "a": 1}}),
        ('<item i:type="B" n="2"><a>1</a></item>', {"item": {"@i:type": "B", "@n": "2", "a": 1}}),
        ('<order id="1" id="2" p:id="7"><qty> &#52;2\n </qty></order>', {"order": {"@id": 1, "@p:id": "7", "qty": 42}}),
        ("<qty><note>5</note></qty>", {"qty": {"note": 5}}),  # below a simple type the globals apply again
        ('<item xsi:type="Missing" xsi:type="B" n="2"/>', {"item": {"@n": "2", "@xsi:type": "Missing"}}),
        ('<r><u xsi:type="Num">7</u><v xsi:type="B" n="3"/></r>', {"r": {"u": 7, "v": {"@n": 3, "@xsi:type": "B"}}}),
        ("<s><many>1</many><one>x</one><zero>z</zero></s>", {"s": {"many": ["1"], "one": "x", "zero": "z"}}),
        ("<s><one>1</one><one>2</one></s>", {"s": {"one": ["1", "2"]}}),
    ],
)
def test_lookup_attributes_and_xsi_type(xml, expected):
    assert convert(xml, ORDER) == expected


REPEATED_NAMES = xsd("""
  <xs:element name="r"><xs:complexType><xs:sequence>
    <xs:element name="a" type="xs:int"/><xs:element name="b" type="xs:boolean"/>
    <xs:element name="a" type="xs:string" maxOccurs="unbounded"/><xs:element name="c" type="xs:double"/>
  </xs:sequence></xs:complexType></xs:element>""")


# Children are looked up where the previous one matched first; whatever the
# order they come in, the first declaration of a name must be the one used.
@pytest.mark.parametrize(
    "xml, expected",
    [
        ("<r><a>1</a><b>1</b><a>2</a><c>3</c></r>", {"r": {"a": [1, 2], "b": True, "c": 3.0}}),
        ("<r><b>0</b><a>7</a><a>8</a></r>", {"r": {"a": [7, 8], "b": False}}),
        ("<r><c>1</c><b>true</b><a>x</a><c>2</c><a>5</a></r>", {"r": {"a": ["x", 5], "b": True, "c": [1.0, 2.0]}}),
        ("<r><a>1</a><a>2</a><a>3</a><d>4</d><a>z</a></r>", {"r": {"a": [1, 2, 3, "z"], "d": "4"}}),
    ],
)
def test_first_declaration_of_a_name_wins_in_any_order(xml, expected):
    assert convert(xml, REPEATED_NAMES) == expected


def test_recursive_type_resolves_two_levels_below_a_global_element():
    # The global's own type is resolved, its recursive child once more, and
    # below that the declarations stand as written (the child's type unresolved).
    schema = xsd("""
      <xs:element name="root" type="Node"/>
      <xs:complexType name="Node"><xs:sequence>
        <xs:element name="v" type="xs:int"/>
        <xs:element name="node" type="Node" maxOccurs="unbounded"/>
      </xs:sequence></xs:complexType>""")
    xml = "<root><v>1</v><node><v>2</v><node><v>3</v><node><v>4</v></node></node></node></root>"
    assert convert(xml, schema) == {
        "root": {"v": 1, "node": [{"v": 2, "node": [{"v": 3, "node": [{"v": "4"}]}]}]}
    }


# ---- the real schema sets ------------------------------------------------------

CORPUS = Path(__file__).resolve().parents[3] / "shared" / "corpus"


def corpus_rows():
    if not CORPUS.is_dir():
        return []
    rows = []
    for manifest in sorted(CORPUS.glob("*/MANIFEST.tsv")):
        lines = manifest.read_text().splitlines()
        head = lines[0].split("\t")
        for line in lines[1:]:
            row = dict(zip(head, line.split("\t")))
            if row.get("entry_xsd") and int(row["bytes"]) < 4_000_000:
                rows.append((manifest.parent, row["path"], row["entry_xsd"]))
    return rows


@pytest.mark.skipif(not CORPUS.is_dir(), reason="the shared corpus is not beside the checkout")
def test_every_corpus_document_converts(tmp_path):
    schemas = {}
    failures = []
    for folder, path, entry in corpus_rows():
        key = folder / entry
        if key not in schemas:
            schemas[key] = Schema.from_file(str(key))
        xml = folder / path
        data = xml.read_bytes()
        try:
            data.decode("utf-8")
        except UnicodeDecodeError:
            with pytest.raises(RuntimeError, match="stream did not contain valid UTF-8"):
                tessaly.convert_with_schema(str(xml), schemas[key])
            continue
        try:
            text = tessaly.convert_with_schema(str(xml), schemas[key])
            out = tmp_path / "out.json"
            tessaly.convert_to_file_with_schema(str(xml), schemas[key], str(out))
            if out.read_text(encoding="utf-8") != text:
                failures.append((str(xml), "file output differs"))
            json.loads(text)
        except Exception as e:  # collected so one run reports them all
            failures.append((str(xml), repr(e)))
    assert len(schemas) > 20
    assert failures == []


def test_types_that_all_contain_each_other_resolve_as_deep_copies_would():
    # 24 named types, each with a typed leaf v and an element of every type:
    # copying every type into every place that uses it would never end in
    # practice, yet the result is fixed. Along the path e0 > e1 > ... > e23 > e0
    # each element is resolved (the global e0 starts with no type in progress,
    # so T0 is still free at the inner e0); below it, e5 meets a type already
    # in progress and keeps T5 as written, so its e7 is an untyped placeholder.
    n = 24
    types = "".join(
        f'<xs:complexType name="T{i}"><xs:sequence><xs:element name="v" type="xs:int"/>'
        + "".join(f'<xs:element name="e{j}" type="T{j}"/>' for j in range(n))
        + "</xs:sequence></xs:complexType>"
        for i in range(n)
    )
    schema = Schema.from_bytes(xsd('<xs:element name="e0" type="T0"/>' + types))
    path = [f"e{i}" for i in range(n)] + ["e0", "e5", "e7"]
    xml = "".join(f"<{p}><v>1</v>" for p in path) + "".join(f"</{p}>" for p in reversed(path))
    got = json.loads(tessaly.convert_bytes_with_schema(xml.encode(), schema))
    node = got["e0"]
    for name in path[1:-1]:
        assert node["v"] == 1
        node = node[name]
    assert node["v"] == 1  # e5: its own leaf keeps its declared type
    assert node["e7"] == {"v": "1"}
