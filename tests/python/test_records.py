"""Records: each record equals the whole-document value of its element, in
document order; byte ranges concatenate to the sequential output; streams,
errors and the output file."""

import csv
import gzip
import io
import json
import os
import sys
from pathlib import Path

import pytest
import tessaly
import tessaly_tools
from tessaly_tools import convert_records_to_file, iter_records

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))
import generate  # noqa: E402

CONVENTIONS = [tessaly.Convention.BADGERFISH, tessaly.Convention.PARKER, tessaly.Convention.ABDERA]
CORPUS = ROOT.parent / "shared" / "corpus"


def values_at(whole, path, conv):
    """The values of the elements at a full `path` inside a whole-document value, in document order."""
    nodes = [whole] if conv == tessaly.Convention.PARKER else [whole.get(path[0])] if path[0] in whole else []
    for step in path[1:]:
        found = []
        for n in nodes:
            box = n.get("children") if conv == tessaly.Convention.ABDERA and isinstance(n, dict) else n
            if isinstance(box, dict) and step in box:
                v = box[step]
                found.extend(v if isinstance(v, list) else [v])
        nodes = found
    return nodes


def records(source, schema, record, conv=tessaly.Convention.BADGERFISH, **kw):
    return [json.loads(r) for r in iter_records(source, schema, record, conv, **kw)]


@pytest.fixture(scope="module")
def feed(tmp_path_factory):
    d = tmp_path_factory.mktemp("feed")
    xml = d / "feed.xml"
    generate.write_feed(xml, 60_000, seed=7)
    return xml, tessaly.Schema.from_file(str(generate.write_schema(d / "orders.xsd")))


@pytest.mark.parametrize("conv", CONVENTIONS, ids=str)
@pytest.mark.parametrize("record", ["feed/order", "feed/order/line", "feed/header", "feed", "feed/nothing"])
def test_records_equal_the_whole_document_values(feed, conv, record):
    xml, schema = feed
    whole = json.loads(tessaly.convert_with_schema(str(xml), schema, conv))
    got = records(xml, schema, record, conv)
    assert got == values_at(whole, record.split("/"), conv)
    if "/" in record and record != "feed/nothing":
        assert got and records(xml, schema, record.rsplit("/", 1)[1], conv) == got


def test_compact_text_and_bare_names_take_the_outermost_match(tmp_path):
    xml = tmp_path / "n.xml"
    xml.write_text('<r><a k="1"><a>in</a><b> x &amp; y </b></a><c><a><![CDATA[<z>]]></a></c><a/></r>')
    schema = tessaly.Schema.from_bytes(b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>')
    assert list(iter_records(xml, schema, "a")) == ['{"a":"in","b":"x & y"}', '"<z>"', "null"]
    assert list(iter_records(xml, schema, "r/c/a", tessaly.Convention.ABDERA)) == ['"<z>"']


def cuts_agree(xml, schema, record, cuts):
    size = xml.stat().st_size
    bounds = [0, *cuts, size]
    parts = [list(iter_records(xml, schema, record, byte_range=(a, b))) for a, b in zip(bounds, bounds[1:])]
    return [r for p in parts for r in p]


def test_every_cut_of_a_file_concatenates_to_the_sequential_records(feed, tmp_path):
    xml, schema = feed
    # A small document: every byte offset is a cut (inside tags, text, at '<', inside end tags).
    small = tmp_path / "small.xml"
    data = xml.read_bytes()
    end = data.index(b"</order>", data.index(b"</order>") + 1) + len(b"</order>")
    small.write_bytes(data[:end] + b"\n</feed>\n")
    want = list(iter_records(small, schema, "feed/order"))
    assert len(want) == 2
    for cut in range(0, small.stat().st_size + 1):
        assert cuts_agree(small, schema, "feed/order", [cut]) == want, cut
    # The whole feed in uneven thirds, and lines split the same way.
    size = xml.stat().st_size
    for rec in ("feed/order", "feed/order/line"):
        whole = list(iter_records(xml, schema, rec))
        assert cuts_agree(xml, schema, rec, [size // 7, size // 2, size - 5]) == whole


def test_a_gzip_stream_gives_the_records_of_the_file(feed, tmp_path):
    xml, schema = feed
    gz = tmp_path / "feed.xml.gz"
    gz.write_bytes(gzip.compress(xml.read_bytes()))
    with gzip.open(gz, "rb") as f:
        streamed = list(iter_records(f, schema, "feed/order"))
    assert streamed == list(iter_records(xml, schema, "feed/order"))
    out = tmp_path / "o.ndjson"
    with gzip.open(gz, "rb") as f:
        assert convert_records_to_file(f, schema, "order", out) == len(streamed)
    assert out.read_text() == "".join(r + "\n" for r in streamed)


BAD = "<r>\n<a>1</a>\n<a>2</a>\n<a>3</b>\n<a>4</a></r>"


def test_a_read_error_comes_after_the_records_before_it(tmp_path):
    xml = tmp_path / "bad.xml"
    xml.write_text(BAD)
    schema = tessaly.Schema.from_bytes(b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>')
    got = []
    with pytest.raises(RuntimeError) as seq:
        got.extend(iter_records(xml, schema, "r/a"))
    assert got == ['"1"', '"2"']
    assert str(seq.value) == "Conversion error: XML read error: mismatched end tag: expected </a>, found </b> at line 4, column 5"
    # From the middle of the file the position is still counted from its start.
    with pytest.raises(RuntimeError) as ranged:
        list(iter_records(xml, schema, "r/a", byte_range=(BAD.index("<a>3"), len(BAD))))
    assert str(ranged.value) == str(seq.value)


def test_a_range_that_starts_inside_a_nested_namesake_is_refused(tmp_path):
    xml = tmp_path / "nest.xml"
    xml.write_text("<r><a><x><a>1</a></x></a><a>2</a></r>")
    schema = tessaly.Schema.from_bytes(b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>')
    with pytest.raises(RuntimeError, match=r"end tag </x> at byte 17 closes an element the record path has as <r>"):
        list(iter_records(xml, schema, "r/a", byte_range=(4, 100)))


def test_the_output_file_is_replaced_only_on_success(tmp_path):
    schema = tessaly.Schema.from_bytes(b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>')
    out = tmp_path / "out.ndjson"
    out.write_text("before\n")
    bad = tmp_path / "bad.xml"
    bad.write_text(BAD)
    with pytest.raises(RuntimeError, match="mismatched end tag"):
        convert_records_to_file(bad, schema, "a", out)
    assert out.read_text() == "before\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bad.xml", "out.ndjson"]
    good = tmp_path / "good.xml"
    good.write_text("<r><a>1</a><a>2</a></r>")
    assert convert_records_to_file(good, schema, "none", out) == 0
    assert out.read_text() == ""
    assert convert_records_to_file(str(good), schema, "a", out, byte_range=(0, 7)) == 1
    assert out.read_text() == '"1"\n'


@pytest.mark.parametrize(
    "args, kwargs, error, text",
    [
        ((42, "S", "a"), {}, TypeError, "source must be a path or a binary file object, not int"),
        ((io.StringIO("<a/>"), "S", "a"), {}, TypeError, "source must be a binary file object"),
        (("x.xml", None, "a"), {}, TypeError, "schema must be a tessaly.Schema, not NoneType"),
        (("x.xml", "S", "a//b"), {}, ValueError, "record must be local names separated by '/'"),
        (("x.xml", "S", "p:a"), {}, ValueError, "record must be local names"),
        (("x.xml", "S", "a", 0), {}, TypeError, "convention must be a tessaly.Convention, not int"),
        (("x.xml", "S", "a/b"), {"byte_range": (5, 2)}, ValueError, "0 <= start <= end"),
        (("x.xml", "S", "b"), {"byte_range": (5, 9)}, ValueError, "needs a full record path"),
        ((io.BytesIO(b"<a/>"), "S", "a"), {"byte_range": (0, 9)}, ValueError, "needs a source that is a path"),
        (("missing.xml", "S", "a"), {}, RuntimeError, "IO error: Failed to open missing.xml: No such file"),
    ],
)
def test_bad_arguments(args, kwargs, error, text):
    schema = tessaly.Schema.from_bytes(b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>')
    args = tuple(schema if a == "S" else a for a in args)
    with pytest.raises(error, match=text.replace("(", r"\(")):
        iter_records(*args, **kwargs)


def corpus_documents(per_set=4):
    for manifest in sorted(CORPUS.glob("*/MANIFEST.tsv")):
        rows = [r for r in csv.DictReader(manifest.open(), delimiter="\t") if r.get("entry_xsd")]
        for row in rows[:per_set]:
            yield pytest.param(manifest.parent / row["path"], manifest.parent / row["entry_xsd"], id=row["path"][-50:])


@pytest.mark.skipif(not CORPUS.is_dir(), reason="the corpus is not next to the repository")
@pytest.mark.parametrize("xml, xsd", list(corpus_documents()) if CORPUS.is_dir() else [])
def test_corpus_documents(xml, xsd):
    schema = tessaly.Schema.from_file(str(xsd))
    for conv in CONVENTIONS:
        whole = json.loads(tessaly.convert_with_schema(str(xml), schema, conv))
        top = next(iter(records(xml, schema, "*" if False else _root(xml), conv)), None)
        assert top == values_at(whole, [_root(xml)], conv)[0]


def _root(xml):
    import xml.etree.ElementTree as ET

    return ET.parse(xml).getroot().tag.rsplit("}", 1)[-1]


def test_the_output_takes_the_mode_of_a_new_file_and_a_fifo_is_written_in_place(tmp_path):
    import stat
    import threading

    schema = tessaly.Schema.from_bytes(b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>')
    good = tmp_path / "good.xml"
    good.write_text("<r><a>1</a></r>")
    plain = tmp_path / "plain"
    plain.write_text("")
    out = tmp_path / "new.ndjson"
    convert_records_to_file(good, schema, "a", out)
    assert stat.S_IMODE(out.stat().st_mode) == stat.S_IMODE(plain.stat().st_mode)
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(fifo.read_text()))
    reader.start()
    assert convert_records_to_file(good, schema, "a", fifo) == 1
    reader.join(10)
    assert got == ['"1"\n'] and stat.S_ISFIFO(fifo.stat().st_mode)


# Generated documents over two schemas: names repeat at several depths,
# with attributes, typed and untyped text, CDATA, references and xsi:type.
from hypothesis import given, settings, strategies as st  # noqa: E402

TYPED_XSD = b"""<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="a" type="T"/>
  <xs:complexType name="T"><xs:sequence>
    <xs:element name="b" type="xs:int" maxOccurs="unbounded"/>
    <xs:element name="c" type="T" minOccurs="0"/>
  </xs:sequence><xs:attribute name="x" type="xs:boolean"/></xs:complexType>
  <xs:complexType name="U"><xs:sequence><xs:element name="b" type="xs:double"/></xs:sequence></xs:complexType>
</xs:schema>"""
SCHEMAS = [tessaly.Schema.from_bytes(b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>'),
           tessaly.Schema.from_bytes(TYPED_XSD)]
XSI = ' xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"'
TEXTS = st.sampled_from(["", "7", " 2.5 ", "true", "x &amp; y", "<![CDATA[<b>1</b>]]>", "&#65;", "-0"])


@st.composite
def documents(draw, depth=0):
    name = draw(st.sampled_from("abc"))
    attrs = draw(st.sampled_from(["", ' x="true"', ' x="1" y="z"', ' xsi:type="U"']))
    kids = draw(st.lists(documents(depth + 1), max_size=3)) if depth < 3 else []
    return f"<{name}{attrs}>{draw(TEXTS)}{''.join(kids)}</{name}>"


def element_paths(xml):
    import xml.etree.ElementTree as ET

    out, stack = set(), [(ET.fromstring(xml), "")]
    while stack:
        e, prefix = stack.pop()
        path = f"{prefix}/{e.tag}" if prefix else e.tag
        out.add(path)
        stack.extend((k, path) for k in e)
    return sorted(out)


@settings(max_examples=60, deadline=None)
@given(doc=documents(), which=st.integers(0, 1), conv=st.sampled_from(CONVENTIONS), pick=st.integers(0, 99))
def test_generated_documents(tmp_path_factory, doc, which, conv, pick):
    doc = doc.replace(">", XSI + ">", 1) if "xsi:type" in doc else doc
    xml = tmp_path_factory.mktemp("gen") / "d.xml"
    xml.write_text(doc)
    schema = SCHEMAS[which]
    whole = json.loads(tessaly.convert_with_schema(str(xml), schema, conv))
    paths = element_paths(doc)
    path = paths[pick % len(paths)]
    assert records(xml, schema, path, conv) == values_at(whole, path.split("/"), conv)
    # A bare name takes the outermost elements of that name: the same values as their full paths.
    name = path.rsplit("/", 1)[-1]
    outermost = [p for p in paths if p.endswith("/" + name) or p == name]
    outermost = [p for p in outermost if name not in p.split("/")[:-1]]
    expected = [v for p in outermost for v in values_at(whole, p.split("/"), conv)]
    key = lambda v: json.dumps(v, sort_keys=True)  # noqa: E731
    assert sorted(map(key, records(xml, schema, name, conv))) == sorted(map(key, expected))
