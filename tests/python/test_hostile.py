"""Hostile inputs (the generators of bench/hostile.py) at sizes a test run affords: each has one exact result."""

import importlib.util
import json
import os
import re
import socket
import subprocess
import sys
from pathlib import Path

import pytest
import tessaly
from conftest import EXAMPLES, SMALL_XSD, loads


def _load_bench():
    path = Path(__file__).resolve().parents[2] / "bench" / "hostile.py"
    found = importlib.util.spec_from_file_location("bench_hostile", path)
    module = importlib.util.module_from_spec(found)
    sys.modules[found.name] = module  # dataclasses look their module up here
    found.loader.exec_module(module)
    return module


hostile = _load_bench()
XS = hostile.XS
LIMIT = 256
TOTAL_LIMIT = 256 << 20


def run_child(code, *args, timeout=120):
    """Runs `code` in its own interpreter: a crash or a hang fails the test instead of taking pytest down."""
    proc = subprocess.run([sys.executable, "-c", code, *map(str, args)], capture_output=True, text=True,
                          timeout=timeout)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


def start_tag_at(doc, n):
    """Line and column of the '<' of the n-th start tag."""
    offset = [m.start() for m in re.finditer(rb"<[^/?!]", doc)][n - 1]
    return doc.count(b"\n", 0, offset) + 1, offset - doc.rfind(b"\n", 0, offset)


def nested_doc(depth):
    return b'<?xml version="1.0"?>\n<r>\n' + b"<a>" * (depth - 1) + b"</a>" * (depth - 1) + b"\n</r>\n"


CALLS = {
    "convert": lambda xml, xsd, out: tessaly.convert(str(xml), str(xsd)),
    "convert_bytes": lambda xml, xsd, out: tessaly.convert_bytes(xml.read_bytes(), xsd.read_bytes()),
    "convert_with_schema": lambda xml, xsd, out: tessaly.convert_with_schema(
        str(xml), tessaly.Schema.from_file(str(xsd))),
    "convert_bytes_with_schema": lambda xml, xsd, out: tessaly.convert_bytes_with_schema(
        xml.read_bytes(), tessaly.Schema.from_file(str(xsd))),
    "convert_to_file": lambda xml, xsd, out: tessaly.convert_to_file(str(xml), str(xsd), str(out))
    or out.read_text(),
    "convert_to_file_with_schema": lambda xml, xsd, out: tessaly.convert_to_file_with_schema(
        str(xml), tessaly.Schema.from_file(str(xsd)), str(out)) or out.read_text(),
}


@pytest.mark.parametrize("name", CALLS)
@pytest.mark.parametrize("depth", [LIMIT, LIMIT + 1])
def test_xml_nesting_limit_in_every_entry_point(tmp_path, name, depth):
    doc = nested_doc(depth)
    xml, xsd, out = tmp_path / "in.xml", tmp_path / "in.xsd", tmp_path / "out.json"
    xml.write_bytes(doc)
    xsd.write_bytes(SMALL_XSD)
    if depth <= LIMIT:
        expected = None
        for _ in range(depth - 1):
            expected = {"a": expected}
        assert loads(CALLS[name](xml, xsd, out)) == {"r": expected}
        return
    out.write_text("previous")
    with pytest.raises(RuntimeError) as info:
        CALLS[name](xml, xsd, out)
    line, column = start_tag_at(doc, LIMIT + 1)
    assert info.value.args == ("Conversion error: XML read error: elements nested deeper than 256 levels "
                               f"at line {line}, column {column}",)
    if "file" in name:
        assert out.read_text() == "previous"


@pytest.mark.parametrize("load", [
    lambda path: tessaly.Schema.from_file(str(path)),
    lambda path: tessaly.Schema.from_bytes(path.read_bytes()),
], ids=["from_file", "from_bytes"])
@pytest.mark.parametrize("depth", [LIMIT, LIMIT + 1])
def test_xsd_nesting_limit(tmp_path, load, depth):
    path = hostile.nested_xsd(tmp_path, depth)
    if depth <= LIMIT:
        assert loads(tessaly.convert_bytes_with_schema(b"<r><v>1</v></r>", load(path))) == {"r": {"v": 1}}
        return
    line, column = start_tag_at(path.read_bytes(), LIMIT + 1)
    with pytest.raises(RuntimeError) as info:
        load(path)
    assert info.value.args == ("XSD parse error: XML parse error: elements nested deeper than 256 levels "
                               f"at line {line}, column {column}",)


def _attributes(n):
    return {"r": {"@a0": 1, **{f"@a{i}": "1" for i in range(1, n)}}}  # only a0 is declared, as an int


@pytest.mark.parametrize("generate, size, expected", [
    (hostile.many_attributes, 100_000, _attributes(100_000)),
    (hostile.long_text, 10 * 10**6, {"t": ("lorem & ipsum dolor sit amet, " * (10 * 10**6 // 34)).rstrip()}),
    (hostile.long_name, 10**6, {"n" * 10**6: "1"}),
    # Nothing declared in a DOCTYPE is expanded: the reference stays as written.
    (lambda folder, _: hostile.laughs(folder), 0, {"t": "&e10;"}),
], ids=["attributes", "text", "name", "laughs"])
def test_oversized_documents_convert_whole(tmp_path, generate, size, expected):
    xsd = hostile.small_schema(tmp_path).read_bytes()
    assert loads(tessaly.convert_bytes(generate(tmp_path, size).read_bytes(), xsd)) == expected


def test_every_prefix_converts_whole_or_not_at_all():
    schema = tessaly.Schema.from_file(str(EXAMPLES / "order.xsd"))
    data = (EXAMPLES / "order.xml").read_bytes()
    whole = tessaly.convert_bytes_with_schema(data, schema)
    root_closed = data.rindex(b">") + 1
    for end in range(len(data) + 1):
        try:
            out = tessaly.convert_bytes_with_schema(data[:end], schema)
        except RuntimeError as e:
            assert str(e).startswith("Conversion error: XML read error: "), (end, e)
            continue
        # A document whose root never closes yields no output, never part of one.
        assert out == (whole if end >= root_closed else ""), end


LOAD_AND_CONVERT = """
import json, sys, tessaly
schema = tessaly.Schema.from_file(sys.argv[1])
print(json.dumps([json.loads(tessaly.convert_bytes_with_schema(doc.encode(), schema)) for doc in sys.argv[2:]]))
"""


@pytest.mark.parametrize("build, n, docs, expected", [
    (hostile.self_including, 1000, ["<v>7</v>"], [{"v": 7}]),
    (hostile.named_types, 100_000, ["<r><v>7</v></r>"], [{"r": {"v": 7}}]),
    (hostile.extension_chain, 10_000, ["<r><c0>1</c0><c9999>2</c9999></r>"], [{"r": {"c0": 1, "c9999": 2}}]),
    (hostile.restriction_chain, 10_000, ["<v>42</v>"], [{"v": 42}]),
    (hostile.inline_children, 100_000, ["<r><c0><v>1</v></c0><c99999><v>2</v></c99999></r>"],
     [{"r": {"c0": {"v": 1}, "c99999": {"v": 2}}}]),
    # Every global element of a 10,000-file include chain, loaded without recursion per file.
    (hostile.include_chain, 10_000, [f"<e{i}>{i}</e{i}>" for i in range(0, 10_000, 1111)] + ["<e9999>1</e9999>"],
     [{f"e{i}": i} for i in range(0, 10_000, 1111)] + [{"e9999": 1}]),
], ids=["self-including", "named-types", "extension-chain", "restriction-chain", "inline-children",
        "include-chain"])
def test_big_schema_sets_load_and_type(tmp_path, build, n, docs, expected):
    entry = build(tmp_path, n)
    assert json.loads(run_child(LOAD_AND_CONVERT, entry, *docs)) == expected


NOT_FILES = ["missing", "directory", "/dev/zero", "fifo", "socket"]


@pytest.mark.parametrize("directive", ['<xs:include schemaLocation="{}"/>',
                                       '<xs:import namespace="urn:other" schemaLocation="{}"/>'],
                         ids=["include", "import"])
@pytest.mark.parametrize("kind", NOT_FILES)
def test_locations_that_name_no_file_are_skipped(tmp_path, directive, kind):
    location = {"directory": "dir", "/dev/zero": "/dev/zero"}.get(kind, kind)
    if kind == "directory":
        (tmp_path / "dir").mkdir()
    elif kind == "fifo":
        os.mkfifo(tmp_path / "fifo")  # nobody writes to it: opening it for reading would block
    (tmp_path / "other.xsd").write_text(f'<xs:schema {XS}><xs:element name="o" type="xs:int"/></xs:schema>')
    (tmp_path / "main.xsd").write_text(
        f'<xs:schema {XS}>{directive.format(location)}<xs:include schemaLocation="other.xsd"/>'
        '<xs:element name="m" type="xs:int"/></xs:schema>')
    with socket.socket(socket.AF_UNIX) as sock:
        if kind == "socket":
            sock.bind(str(tmp_path / "socket"))
        out = run_child(LOAD_AND_CONVERT, tmp_path / "main.xsd", "<m>1</m>", "<o>2</o>", timeout=60)
    assert json.loads(out) == [{"m": 1}, {"o": 2}]


@pytest.mark.parametrize("over", [0, 1])
def test_schema_documents_together_capped_at_256_mib(tmp_path, over):
    main = tmp_path / "main.xsd"
    main.write_text(f'<xs:schema {XS}><xs:include schemaLocation="big.xsd"/></xs:schema>')
    big, size = tmp_path / "big.xsd", TOTAL_LIMIT - main.stat().st_size + over
    head, tail = f"<xs:schema {XS}>".encode(), b'<xs:element name="b" type="xs:int"/></xs:schema>'
    if over:  # a sparse file: it must be refused before a byte of it is read
        big.write_bytes(head)
        os.truncate(big, size)
        with pytest.raises(RuntimeError) as info:
            tessaly.Schema.from_file(str(main))
        message = str(info.value)
        assert message.startswith("IO error: Failed to read "), message
        assert message.endswith(": schema documents exceed 268435456 bytes in total"), message
        return
    with open(big, "wb") as f:  # exactly at the cap: whitespace, so it must really be written
        f.write(head)
        pad = size - len(head) - len(tail)
        for start in range(0, pad, 1 << 24):
            f.write(b" " * min(1 << 24, pad - start))
        f.write(tail)
    schema = tessaly.Schema.from_file(str(main))
    big.unlink()  # 256 MiB that pytest would otherwise keep with its last runs
    assert loads(tessaly.convert_bytes_with_schema(b"<b>5</b>", schema)) == {"b": 5}
