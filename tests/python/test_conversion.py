"""End-to-end conversion of documents held in memory."""

import json
import threading

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import tessaly
from tessaly import Convention

EMPTY_XSD = b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>'
CONVENTIONS = [Convention.BADGERFISH, Convention.PARKER, Convention.ABDERA]


def convert(xml, convention=Convention.BADGERFISH, xsd=EMPTY_XSD):
    if isinstance(xml, str):
        xml = xml.encode()
    return tessaly.convert_bytes(xml, xsd, convention)


def test_repeated_undeclared_siblings_make_the_documented_54_bytes():
    out = convert(b"<a><b>1</b><b>2</b></a>")
    assert out == '{\n  "a": {\n    "b": [\n      "1",\n      "2"\n    ]\n  }\n}'
    assert len(out.encode()) == 54


@pytest.mark.parametrize(
    "xml, expected",
    [
        ("", ""),
        ("<?xml version='1.0'?><!--c--><?pi x?>", ""),
        ("<a><b>1</b>", ""),
        ("<a/><b>", {"a": None}),
        ("<a>1</a><b>2</b>", {"b": "2"}),
        ("<x:item/>", {"item": None}),
        ("<a:b:c/>", {"b:c": None}),
        ("<a>x&amp;y</a>", {"a": "x&y"}),
        ("<a>AT&T rocks;</a>", {"a": "AT&T rocks;"}),
        ("<a>&#x1F600;&#X41;&#0;&nbsp;&AMP;</a>", {"a": "\U0001F600&#X41;&#0;&nbsp;&AMP;"}),
        ("<a>1\r\n2\r3</a>", {"a": "1\n2\n3"}),
        ("<a><![CDATA[1\r\n2]]></a>", {"a": "1\r\n2"}),
        ("<a><![CDATA[ a &amp; b ]]></a>", {"a": "a &amp; b"}),
        ("<a><![CDATA[   ]]></a>", {"a": None}),
        ("<a>x<!--c-->y</a>", {"a": "xy"}),
        ("pre<a>1</a>post", {"a": "1"}),
        ("\ufeff<a>1</a>", {"a": "1"}),
        ("<a>\u00a0\u3000x\u2028</a>", {"a": "x"}),
        ("<a>\u200bx</a>", {"a": "\u200bx"}),
        ("<p>Hello <b>x</b> world</p>", {"p": {"$": "Hello  world", "b": "x"}}),
        ("<r><p:item>1</p:item><q:item>2</q:item></r>", {"r": {"item": ["1", "2"]}}),
        ("<r a='1' b=\"2\"/>", {"r": None}),  # attributes of undeclared elements are dropped
    ],
)
def test_documents_without_declarations(xml, expected):
    out = convert(xml)
    assert (json.loads(out) if out else "") == expected


@pytest.mark.parametrize(
    "convention, expected",
    [
        (Convention.BADGERFISH, '{\n  "e": null\n}'),
        (Convention.PARKER, "null"),
        (Convention.ABDERA, '{\n  "e": null\n}'),
    ],
)
def test_empty_root_in_each_convention(convention, expected):
    assert convert("<e/>", convention) == expected
    assert convert("<e></e>", convention) == expected


def test_parker_root_text_is_a_bare_string():
    assert convert("<a>5</a>", Convention.PARKER) == '"5"'


def nested(depth):
    return b"<a>" * depth + b"x" + b"</a>" * depth


def nested_json(keys):
    head = "".join("{\n" + "  " * (i + 1) + f'"{k}": ' for i, k in enumerate(keys))
    tail = "".join("\n" + "  " * i + "}" for i in reversed(range(len(keys))))
    return head + '"x"' + tail


DEPTH = 256  # the deepest nesting a document may have
NESTED_KEYS = {  # by convention code: members are unhashable
    0: ["a"] * DEPTH,
    1: ["a"] * (DEPTH - 1),
    2: ["a"] + ["children", "a"] * (DEPTH - 1),
}


@pytest.mark.parametrize("convention", CONVENTIONS)
def test_deep_document_converts_on_a_small_thread_stack(convention):
    results = {}

    def work():
        try:
            results["out"] = convert(nested(DEPTH), convention)
        except BaseException as e:  # pragma: no cover - reported below
            results["error"] = e

    old = threading.stack_size(128 * 1024)
    try:
        t = threading.Thread(target=work)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    assert "error" not in results
    assert results["out"] == nested_json(NESTED_KEYS[int(convention)])


# ---- properties -----------------------------------------------------------

names = st.sampled_from(["a", "b", "c", "B", "_x", "p:item", "item", "\u00e9l"])
texts = st.text(
    alphabet=st.characters(blacklist_categories=("Cs",), blacklist_characters="\x00\r"),
    max_size=8,
).map(lambda s: "".join(ch for ch in s if ch in "\t\n" or ord(ch) >= 0x20 and ord(ch) not in (0xFFFE, 0xFFFF)))


def escape(s):
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


@st.composite
def elements(draw, depth=0):
    name = draw(names)
    if depth >= 4 or draw(st.booleans()):
        return ("leaf", name, draw(texts))
    kids = draw(st.lists(elements(depth=depth + 1), max_size=4))
    return ("node", name, kids)


def render(el):
    kind, name, body = el
    inner = escape(body) if kind == "leaf" else "".join(render(k) for k in body)
    return f"<{name}>{inner}</{name}>"


def keys_sorted(value):
    stack = [value]
    while stack:
        v = stack.pop()
        if isinstance(v, dict):
            keys = [k.encode() for k in v]
            if keys != sorted(keys):
                return False
            stack.extend(v.values())
        elif isinstance(v, list):
            stack.extend(v)
    return True


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(elements(), st.sampled_from(CONVENTIONS))
def test_any_document_converts_with_sorted_keys(el, convention):
    out = convert(render(el), convention)
    assert keys_sorted(json.loads(out))


# Attributes and children out of key order, repeated until the key table has
# ranked its keys; every other element has a child whose name sorts before the
# attributes' "@". Every object comes out in key order with nothing lost.
ITEMS_XSD = b"""<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="r"><xs:complexType><xs:sequence>
    <xs:element name="e" maxOccurs="unbounded"><xs:complexType mixed="true">
      <xs:sequence><xs:any processContents="lax" minOccurs="0" maxOccurs="unbounded"/></xs:sequence>
      <xs:attribute name="z"/><xs:attribute name="m"/><xs:attribute name="a"/>
      <xs:attribute name="q"/><xs:attribute name="b"/>
    </xs:complexType></xs:element>
  </xs:sequence></xs:complexType></xs:element>
</xs:schema>"""
ITEM = '<e z="1" m="2" a="3" q="4" b="5">t<y>1</y>{}<c>3</c><y>4</y><k>5</k></e>'
ITEMS = '<r xmlns:p="urn:p">' + (ITEM.format("<p:1x>2</p:1x>") + ITEM.format("")) * 20 + "</r>"
ITEM_ATTRIBUTES = {"a": "3", "b": "5", "m": "2", "q": "4", "z": "1"}


def item_json(code, odd_child):
    children = {**({"1x": "2"} if odd_child else {}), "c": "3", "k": "5", "y": ["1", "4"]}
    if code == 0:
        return {"$": "t", **{"@" + k: v for k, v in ITEM_ATTRIBUTES.items()}, **children}
    return children if code == 1 else {"attributes": ITEM_ATTRIBUTES, "children": children}


@pytest.mark.parametrize("convention", CONVENTIONS)
def test_members_out_of_key_order_come_out_sorted(convention):
    out = json.loads(convert(ITEMS, convention, ITEMS_XSD))
    code = int(convention)
    items = [item_json(code, odd) for odd in (True, False)] * 20
    expected = [{"r": {"@xmlns:p": "urn:p", "e": items}}, {"e": items},
                {"r": {"attributes": {"xmlns:p": "urn:p"}, "children": {"e": items}}}][code]
    assert out == expected
    assert keys_sorted(out)
