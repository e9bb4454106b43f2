"""The benchmark inputs: the order-feed generator and its schema."""

import json
import subprocess
import sys
import types
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

import tessaly

BENCH = Path(__file__).resolve().parents[2] / "bench"
SIZE = 200_000
NS = "{urn:example:tessaly:orders}"


def _load(name):
    """Imports bench/<name>.py under a private name: bench/ is a folder of scripts, not a package."""
    path = BENCH / f"{name}.py"
    module = types.ModuleType(f"bench_{name}")
    module.__file__ = str(path)
    sys.modules[module.__name__] = module  # dataclasses look their module up here
    exec(compile(path.read_text(encoding="utf-8"), str(path), "exec"), module.__dict__)
    return module


generate = _load("generate")


@pytest.fixture(scope="module")
def feed():
    return generate.feed_bytes(SIZE, seed=7)


@pytest.fixture(scope="module")
def tree(feed):
    return ET.fromstring(feed)


def test_same_seed_gives_the_same_bytes_and_another_seed_other_bytes(feed, tmp_path):
    assert generate.feed_bytes(SIZE, seed=7) == feed
    assert generate.feed_bytes(SIZE, seed=8) != feed
    # The streamed file writer produces the same document as the in-memory form.
    path = tmp_path / "feed.xml"
    assert generate.write_feed(path, SIZE, seed=7) == len(feed)
    assert path.read_bytes() == feed


@pytest.mark.parametrize("target", [1, 50_000, 3 * 1024 * 1024 + 17])
def test_feed_is_at_least_the_requested_size_and_at_most_one_order_more(target):
    size = sum(len(chunk) for chunk in generate.iter_feed(target, seed=1))
    assert target <= size < target + 8_000


def test_feed_is_well_formed_and_carries_the_hard_parts_of_real_text(feed, tree):
    assert tree.tag == NS + "feed"
    assert len(tree.findall(NS + "order")) > 50
    text = feed.decode("utf-8")
    for needle in ("<![CDATA[", "&amp;", "&lt;", "&quot;", "&apos;", "&#x", "&#2", 'xsi:type="o:'):
        assert needle in text, needle
    assert any(ord(c) > 0x7F for c in text)
    assert all(ord(c) <= 0xFFFF for c in text)  # kept inside the BMP, see the generator's docstring
    assert "\n    <line " in text  # indented


def _orders(parsed):
    orders = parsed["feed"]["order"]
    assert isinstance(orders, list)
    return orders


@pytest.mark.parametrize("load", ["from_bytes", "from_file"])
def test_schema_loads_and_types_the_feed(load, feed, tree, tmp_path):
    xsd = generate.schema_path(tmp_path)
    schema = (
        tessaly.Schema.from_bytes(xsd.read_bytes()) if load == "from_bytes" else tessaly.Schema.from_file(str(xsd))
    )
    parsed = json.loads(tessaly.convert_bytes_with_schema(feed, schema))
    orders = _orders(parsed)
    xml_orders = tree.findall(NS + "order")
    assert len(orders) == len(xml_orders)

    assert parsed["feed"]["@version"] == 3
    assert parsed["feed"]["header"]["batch"] == 9_000_000_007
    for order, xml_order in zip(orders, xml_orders):
        assert order["@id"] == int(xml_order.get("id"))
        assert isinstance(order["paid"], bool)
        assert order["customer"]["@id"] == int(xml_order.find(NS + "customer").get("id"))
        lines = order["line"]
        xml_lines = xml_order.findall(NS + "line")
        # A single line is still an array: line repeats in the schema.
        assert isinstance(lines, list) and len(lines) == len(xml_lines)
        for line, xml_line in zip(lines, xml_lines):
            # quantity's type derives from xs:int through two named simple types
            assert line["quantity"] == int(xml_line.find(NS + "quantity").text)
            assert line["unitPrice"]["$"] == float(xml_line.find(NS + "unitPrice").text)
            assert line["unitPrice"]["@currency"] == xml_line.find(NS + "unitPrice").get("currency")
            assert line["description"] == xml_line.find(NS + "description").text
        assert order["total"]["$"] == float(xml_order.find(NS + "total").text)


def test_xmlschema_accepts_the_feed_as_valid(feed, tmp_path):
    # The xmlschema peer validates while it converts: an invalid feed would
    # measure its error path instead of its conversion.
    xmlschema = pytest.importorskip("xmlschema")
    schema = xmlschema.XMLSchema(str(generate.schema_path(tmp_path)))
    schema.validate(feed.decode("utf-8"))


@pytest.mark.parametrize(
    "case, pair",
    [
        ("tessaly.convert_bytes_with_schema", False),
        ("tessaly.convert_with_schema", False),
        ("tessaly.convert_to_file_with_schema", False),
        ("tessaly.convert_to_file_pair_2threads", True),
    ],
)
def test_timed_calls_are_checked_against_the_reference_output(case, pair, tmp_path):
    xsd = generate.schema_path(tmp_path)
    paths = []
    for seed in (1, 2) if pair else (1,):
        paths.append(tmp_path / f"feed{seed}.xml")
        generate.write_feed(paths[-1], 30_000, seed)
    schema = tessaly.Schema.from_file(str(xsd))
    cases = _load("cases")
    good = [cases.digest_text(tessaly.convert_bytes_with_schema(p.read_bytes(), schema)) for p in paths]

    def worker(reference):
        job = {"case": case, "inputs": [str(p) for p in paths], "xsd": str(xsd), "repeat": 2,
               "reference": reference, "out_dir": str(tmp_path / "scratch")}
        return subprocess.run([sys.executable, str(BENCH / "cases.py"), json.dumps(job)],
                              capture_output=True, text=True)

    ok = worker(good)
    assert ok.returncode == 0, ok.stderr
    assert json.loads(ok.stdout)["runs"] == 2
    bad = worker(good[:-1] + ["0" * 64])
    assert bad.returncode == 3
    assert "OUTPUT MISMATCH" in bad.stderr


report = _load("report")
corpus = _load("corpus")
MIB = 1 << 20


def _feed_input(tmp_path, size):
    path = tmp_path / "feed.xml"
    path.write_bytes(b"x" * size)
    return report.Input("feed-50", "feed", [path], path)


def _rows(size, **seconds_and_peaks):
    rows = []
    for case, (seconds, peak_mib) in seconds_and_peaks.items():
        rows.append(report.Row(case.replace("__", "."), seconds, 1, size, int(peak_mib * 1024)))
    return rows


@pytest.mark.parametrize(
    "cbws, pugixml, xmltodict, streamed_peak, one, two, load_ms, met",
    [
        # seconds for the same input: lower is faster
        (1.0, 0.5, 80.0, 32.0 + 10, 2.0, 1.0, 19.9, [True, True, True, True, True]),
        (1.0, 0.49, 79.9, 32.0 + 10.1, 2.0, 1.2, 20.0, [False, False, False, False, False]),
    ],
)
def test_targets_are_judged_at_their_thresholds(tmp_path, cbws, pugixml, xmltodict, streamed_peak, one, two,
                                                load_ms, met):
    size = 10 * MIB  # the RSS limit is then 10 + 32 MiB
    feed = _feed_input(tmp_path, size)
    rows = _rows(
        size,
        tessaly__convert_bytes_with_schema=(cbws, 50),
        pugixml=(pugixml, 20),
        xmltodict=(xmltodict, 90),
        tessaly__convert_to_file_with_schema=(1.0, streamed_peak),
    )
    rows += [report.Row("tessaly.convert_to_file_pair_1thread", one, 1, 2 * size, 1),
             report.Row("tessaly.convert_to_file_pair_2threads", two, 1, 2 * size, 1)]
    loads = [report.SchemaLoad("big", Path("big.xsd"), 3, 2_000_000, load_ms / 1000),
             report.SchemaLoad("small", Path("small.xsd"), 1, 1_000, 50.0)]
    assert [t.met for t in report.targets(feed, rows, loads)] == met


def test_targets_without_measurements_are_neither_met_nor_missed():
    assert [t.met for t in report.targets(None, [], [])] == [None] * 5


def test_schema_walk_joins_locations_to_the_entry_folder_and_skips_missing_files(tmp_path):
    (tmp_path / "sub").mkdir()
    xs = 'xmlns:xs="http://www.w3.org/2001/XMLSchema"'
    (tmp_path / "main.xsd").write_text(
        f'<xs:schema {xs}><xs:include schemaLocation="sub/a.xsd"/>'
        f"<xs:import namespace='n' schemaLocation='gone.xsd'/></xs:schema>")
    # b.xsd is named from inside sub/, but resolves next to main.xsd; a cycle back to main is read once.
    (tmp_path / "sub" / "a.xsd").write_text(f'<xs:schema {xs}><xs:include schemaLocation="b.xsd"/></xs:schema>')
    (tmp_path / "sub" / "b.xsd").write_text(f"<xs:schema {xs}/>")
    (tmp_path / "b.xsd").write_text(f'<xs:schema {xs}><xs:include schemaLocation="main.xsd"/></xs:schema>')
    found = sorted(p.relative_to(tmp_path.resolve()).as_posix() for p in corpus.reachable_documents(tmp_path / "main.xsd"))
    assert found == ["b.xsd", "main.xsd", "sub/a.xsd"]
