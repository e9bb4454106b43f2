"""tessaly_tools.convert_to_file: the module's text (or its compact form), and the output replaced only on success."""

import pytest
import tessaly
from tessaly_tools import convert_to_file

CONVENTIONS = [tessaly.Convention.BADGERFISH, tessaly.Convention.PARKER, tessaly.Convention.ABDERA]


def minified(pretty):
    out, in_string, escaped = [], False, False
    for c in pretty:
        if in_string:
            out.append(c)
            in_string = escaped or c != '"'
            escaped = not escaped and c == "\\"
        elif c not in " \n":
            out.append(c)
            in_string = c == '"'
    return "".join(out)


@pytest.mark.parametrize("conv", CONVENTIONS, ids=str)
def test_pretty_and_compact_text(tmp_path, conv):
    xml = tmp_path / "d.xml"
    xml.write_text('<r a="1"><n>1</n><n>2</n><s> x "y" \\ </s><e/></r>')
    schema = tessaly.Schema.from_bytes(
        b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"><xs:element name="r"><xs:complexType>'
        b'<xs:sequence><xs:element name="n" type="xs:int" maxOccurs="unbounded"/></xs:sequence>'
        b'<xs:attribute name="a" type="xs:double"/></xs:complexType></xs:element></xs:schema>'
    )
    pretty = tessaly.convert_with_schema(str(xml), schema, conv)
    out = tmp_path / "o.json"
    convert_to_file(xml, schema, out, conv)
    assert out.read_text() == pretty
    convert_to_file(str(xml), schema, str(out), conv, compact=True)
    assert out.read_text() == minified(pretty)


def test_a_failure_keeps_the_output(tmp_path):
    bad = tmp_path / "bad.xml"
    bad.write_text("<r><a></b></r>")
    out = tmp_path / "o.json"
    out.write_text("kept")
    schema = tessaly.Schema.from_bytes(b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>')
    with pytest.raises(RuntimeError, match="^Conversion error: XML read error: mismatched end tag"):
        convert_to_file(bad, schema, out)
    assert out.read_text() == "kept" and sorted(p.name for p in tmp_path.iterdir()) == ["bad.xml", "o.json"]


def test_a_set_stop_token_stops_a_conversion_and_keeps_the_output(tmp_path):
    from tessaly_tools import _documents, _native, _records

    xml = tmp_path / "d.xml"
    xml.write_text("<r>" + "<a>1</a>" * 200_000 + "</r>")
    out = tmp_path / "o.json"
    out.write_text("kept")
    schema = tessaly.Schema.from_bytes(b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"/>')
    cancel = _native.Cancel()
    cancel.set()
    with pytest.raises(KeyboardInterrupt):
        _documents.convert(xml, schema, out, tessaly.Convention.BADGERFISH, False, cancel, True)
    with pytest.raises(KeyboardInterrupt):
        _records.to_file(xml, schema, "a", out, tessaly.Convention.BADGERFISH, None, cancel)
    assert out.read_text() == "kept" and sorted(p.name for p in tmp_path.iterdir()) == ["d.xml", "o.json"]


def test_a_failed_batch_stops_the_jobs_under_way():
    import threading

    from tessaly_tools import _batch

    started, tokens = threading.Event(), []

    def slow(cancel):
        tokens.append(cancel)
        started.set()
        while not cancel.is_set():
            threading.Event().wait(0.01)

    def failing(cancel):
        started.wait(10)
        raise ValueError("no")

    with pytest.raises(ValueError, match="no"):
        _batch.each([slow, failing], 2, lambda i, e: None, stop_on_error=True)
    assert tokens and tokens[0].is_set()
