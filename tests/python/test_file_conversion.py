"""File-to-file conversion: same text as in memory, fixed windows, what the
output file holds on every path, threads and open files."""

import json
import os
import re
import threading

import pytest

import tessaly
import tessaly_tools
from tessaly import Convention, Schema

CONVENTIONS = [Convention.BADGERFISH, Convention.PARKER, Convention.ABDERA]
WINDOW = 8 * 1024 * 1024

XSD = b"""<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="feed"><xs:complexType><xs:sequence>
    <xs:element name="item" maxOccurs="unbounded"><xs:complexType>
      <xs:sequence><xs:element name="n" type="xs:int"/><xs:element name="p" type="xs:decimal"/>
        <xs:element name="t" type="xs:string"/></xs:sequence>
      <xs:attribute name="id" type="xs:int"/>
    </xs:complexType></xs:element>
  </xs:sequence></xs:complexType></xs:element>
</xs:schema>"""


@pytest.fixture(scope="module")
def schema():
    return Schema.from_bytes(XSD)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return str(path)


def file_output(tmp_path, xml, schema, convention=Convention.BADGERFISH):
    src = write(tmp_path / "in.xml", xml)
    dst = str(tmp_path / "out.json")
    assert tessaly.convert_to_file_with_schema(src, schema, dst, convention) is None
    with open(dst, "rb") as f:
        return f.read()


def memory_output(xml, schema, convention=Convention.BADGERFISH):
    return tessaly.convert_bytes_with_schema(xml, schema, convention).encode()


DOCUMENTS = [
    b"",
    b"<feed/>",
    b'<feed><item id="1"><n>7</n><p>9.5</p><t>a &amp; b</t></item></feed>',
    b'<?xml version="1.0"?>\n<!DOCTYPE feed [<!ENTITY x "y">]>\n<feed>\r\n <item id="x"><n>q</n></item>\r\n</feed>',
    b"<feed><item><t><![CDATA[<raw>\r\n]]></t></item><other>\xc3\xa9&#233;&unknown;</other></feed>",
    b"<a>1</a><b>2</b>",
    b"<a><b>never closed",
    # Typed leaves whose text is freed once it became a number, next to text
    # that failed its kind and must stay, in one piece and in several.
    b'<feed><item id="2"><n>1&#50;</n><p>x&#49;</p><t>k</t></item><item><n> 4 </n><p><![CDATA[5]]>.5</p></item></feed>',
]


def test_texts_of_typed_leaves_survive_their_neighbours(tmp_path, schema):
    xml = b'<feed><item id="2"><n>1&#50;</n><p>x&#49;</p><t>k</t></item><item><n>q</n><p>7</p><t>z</t></item></feed>'
    want = {"feed": {"item": [{"@id": 2, "n": 12, "p": "x1", "t": "k"}, {"n": "q", "p": 7, "t": "z"}]}}
    assert json.loads(file_output(tmp_path, xml, schema)) == want
    assert json.loads(memory_output(xml, schema)) == want


@pytest.mark.parametrize("convention", CONVENTIONS)
@pytest.mark.parametrize("xml", DOCUMENTS)
def test_file_output_equals_memory_output(tmp_path, schema, xml, convention):
    assert file_output(tmp_path, xml, schema, convention) == memory_output(xml, schema, convention)


# ---- constructs cut by the end of the 8 MiB window ----------------------------

CONSTRUCTS = {
    "tag": b'<item id="5"><n>1</n></item>',
    "attribute": b'<item id="12345"/>',
    "comment": b"<item><!-- a comment -- with dashes --></item>",
    "cdata": b"<item><t><![CDATA[x]]>y<![CDATA[]]]]></t></item>",
    "reference": b"<item><t>&amp;&#x1F600;&lt;</t></item>",
    "utf8": "<item><t>\u00e9\u20ac\U0001F600</t></item>".encode(),
    "crlf": b"<item><t>a\r\nb\r\n</t></item>",
    "pi": b"<item><?target some data?></item>",
}


@pytest.mark.parametrize("name", sorted(CONSTRUCTS))
def test_constructs_cut_by_the_window_boundary(tmp_path, schema, name):
    construct = CONSTRUCTS[name]
    head = b"<feed>"
    for shift in range(len(construct) + 1):
        pad = WINDOW - len(head) - shift
        xml = head + b"<f>" + b"x" * (pad - 7) + b"</f>" + construct + b"</feed>"
        assert xml.index(construct) == WINDOW - shift
        assert file_output(tmp_path, xml, schema) == memory_output(xml, schema), (name, shift)


@pytest.mark.parametrize(
    "xml",
    [
        b"<feed><t>" + b"y" * (WINDOW + 12345) + b"</t></feed>",
        b'<feed><item id="' + b"9" * (WINDOW * 2 + 3) + b'"/></feed>',
    ],
    ids=["long-text", "long-attribute"],
)
def test_events_longer_than_the_window(tmp_path, schema, xml):
    assert file_output(tmp_path, xml, schema) == memory_output(xml, schema)


def test_output_larger_than_the_write_buffer(tmp_path, schema):
    xml = b"<feed>" + b'<item id="1"><n>1</n><p>2.5</p><t>text</t></item>' * 200_000 + b"</feed>"
    out = file_output(tmp_path, xml, schema)
    assert len(out) > WINDOW
    assert out == memory_output(xml, schema)


# ---- what the output file holds ------------------------------------------------

@pytest.mark.parametrize("xml, before, error, after", [
    (b"<a><b>", b"old", None, b""),  # no root: an empty file
    (None, b"keep", "IO error: Failed to open {src}: No such file or directory (os error 2)", b"keep"),
    (b"<a></b>", b"previous result", "Conversion error: XML read error: mismatched end tag", b"previous result"),
    (b"<a>&x</a>", None, "Conversion error: XML read error: ", b""),
], ids=["no-root", "missing-input-existing-output", "malformed-existing-output",
        "malformed-new-output"])
def test_output_file_after_each_outcome(tmp_path, schema, xml, before, error, after):
    src = write(tmp_path / "in.xml", xml) if xml is not None else str(tmp_path / "missing.xml")
    dst = tmp_path / "out.json"
    if before is not None:
        dst.write_bytes(before)
    if error:
        with pytest.raises(RuntimeError, match="^" + re.escape(error.format(src=src))):
            tessaly.convert_to_file_with_schema(src, schema, str(dst))
    else:
        tessaly.convert_to_file_with_schema(src, schema, str(dst))
    assert (dst.read_bytes() if dst.exists() else None) == after


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize(
    "repeat, prefix",
    [(1, "IO error: Flush error: "), (400_000, "Conversion error: JSON write error: ")],
    ids=["small-output", "output-beyond-the-buffer"],
)
def test_failed_writes(tmp_path, schema, repeat, prefix):
    src = write(tmp_path / "in.xml", b"<feed>" + b'<item id="1"><t>abc</t></item>' * repeat + b"</feed>")
    with pytest.raises(RuntimeError) as err:
        tessaly.convert_to_file_with_schema(src, schema, "/dev/full")
    assert str(err.value) == prefix + "No space left on device (os error 28)"


def test_new_output_file_mode_follows_the_umask(tmp_path, schema):
    old = os.umask(0o022)
    try:
        dst = tmp_path / "out.json"
        tessaly.convert_to_file_with_schema(write(tmp_path / "in.xml", b"<a/>"), schema, str(dst))
    finally:
        os.umask(old)
    assert dst.stat().st_mode & 0o777 == 0o644


def test_invalid_utf8_text_in_files_is_replaced_not_dropped(tmp_path, schema):
    out = file_output(tmp_path, b"<a><b>x\xffy</b><c><![CDATA[\xfe]]></c><d\xff/></a>", schema)
    assert out.decode() == '{\n  "a": {\n    "b": "x\ufffdy",\n    "c": "\ufffd",\n    "d\ufffd": null\n  }\n}'


# A typed attribute whose text stays text is copied out of the window after
# it was converted where it lay: the same characters, repaired or not.
@pytest.mark.parametrize("xml, want", [
    (b'<feed><item id="1\xff2"/></feed>', "1\ufffd2"),
    (b'<feed><t>\xff</t><item id="x7"/></feed>', "x7"),
])
def test_typed_attributes_that_stay_text_in_files(tmp_path, schema, xml, want):
    assert json.loads(file_output(tmp_path, xml, schema))["feed"]["item"][0]["@id"] == want


def test_exact_numbers_in_attributes_through_a_window(tmp_path):
    # Numbers kept as written are pieces of the attribute's text, cut past a sign and zeros.
    exact = tessaly_tools.load_schema(
        b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"><xs:element name="a"><xs:complexType>'
        b'<xs:attribute name="d" type="xs:decimal"/><xs:attribute name="i" type="xs:integer"/>'
        b"</xs:complexType></xs:element></xs:schema>")
    xml = b'<a d="+001.50" i="+0012345678901234567890123"/>'
    out = file_output(tmp_path, xml, exact)
    assert out == memory_output(xml, exact)
    assert b'"@d": 1.5' in out and b'"@i": 12345678901234567890123' in out


def open_fds():
    return len(os.listdir("/proc/self/fd"))


@pytest.mark.skipif(not os.path.isdir("/proc/self/fd"), reason="needs /proc")
def test_no_file_descriptor_leaks_on_failure_paths(tmp_path, schema):
    good = write(tmp_path / "good.xml", b"<feed/>")
    bad = write(tmp_path / "bad.xml", b"<a></b>")
    xsd = write(tmp_path / "s.xsd", XSD)
    calls = [
        lambda: tessaly.convert_to_file_with_schema(str(tmp_path / "missing.xml"), schema, str(tmp_path / "o")),
        lambda: tessaly.convert_to_file_with_schema(good, schema, str(tmp_path / "no" / "o")),
        lambda: tessaly.convert_to_file_with_schema(bad, schema, str(tmp_path / "o")),
        lambda: tessaly.convert_to_file(bad, xsd, str(tmp_path / "o")),
        lambda: tessaly.convert_to_file(good, str(tmp_path / "missing.xsd"), str(tmp_path / "o")),
        lambda: tessaly.convert_to_file_with_schema(good, schema, "/dev/full"),
        lambda: tessaly.convert(bad, xsd),
        lambda: tessaly.convert_with_schema(str(tmp_path), schema),
    ]
    before = open_fds()
    for call in calls:
        with pytest.raises(RuntimeError):
            call()
        assert open_fds() == before


# ---- threads ---------------------------------------------------------------

def big_feed(items):
    return b"<feed>" + b"".join(b'<item id="%d"><n>%d</n><p>1.5</p><t>t</t></item>' % (i, i) for i in range(items)) + b"</feed>"


def test_threads_share_one_schema(tmp_path, schema):
    xml = big_feed(2000)
    src = write(tmp_path / "in.xml", xml)
    expected = tessaly.convert_with_schema(src, schema)
    results, errors = [], []

    def work(k):
        try:
            for _ in range(5):
                results.append(tessaly.convert_with_schema(src, schema))
                dst = str(tmp_path / f"out{k}.json")
                tessaly.convert_to_file_with_schema(src, schema, dst)
                with open(dst, encoding="utf-8") as f:
                    results.append(f.read())
        except BaseException as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert len(results) == 80 and all(r == expected for r in results)
