"""examples/dask_scale_out.py on a local cluster of two worker processes: a
directory across the workers with one Schema per worker, and one file in byte
ranges whose joined parts are the sequential NDJSON."""

import re
import sys
from pathlib import Path

import pytest
import tessaly
import tessaly_tools

distributed = pytest.importorskip("distributed")
cloudpickle = pytest.importorskip("cloudpickle")

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))
sys.path.insert(0, str(ROOT / "examples"))
import dask_scale_out  # noqa: E402
import generate  # noqa: E402

# The workers get the example's functions by value: they need not find its file.
cloudpickle.register_pickle_by_value(dask_scale_out)


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None, silence_logs=40
    ) as cluster, distributed.Client(cluster) as c:
        yield c


def test_a_directory_across_workers(client, tmp_path):
    xsd = str(generate.write_schema(tmp_path / "orders.xsd"))
    for i, rel in enumerate(["a.xml", "x/b.xml", "x/y/c.xml", "x/d.xml"]):
        generate.write_feed(tmp_path / "in" / rel, 5_000, seed=i)
    (tmp_path / "in" / "x" / "bad.xml").write_text("<feed><order></feed>")
    failures = dask_scale_out.convert_directory(client, str(tmp_path / "in"), xsd, str(tmp_path / "out"))
    assert list(failures) == [str(tmp_path / "in" / "x" / "bad.xml")]
    assert failures[str(tmp_path / "in" / "x" / "bad.xml")].startswith("Conversion error: XML read error: mismatched end tag")
    schema = tessaly_tools.load_schema(xsd)
    outputs = sorted(p.relative_to(tmp_path / "out") for p in (tmp_path / "out").rglob("*.json"))
    assert outputs == [Path("a.json"), Path("x/b.json"), Path("x/d.json"), Path("x/y/c.json")]
    for rel in outputs:
        xml = str((tmp_path / "in" / rel).with_suffix(".xml"))
        assert (tmp_path / "out" / rel).read_text() == tessaly.convert_with_schema(xml, schema)
    cached = client.run(lambda dask_worker: sorted(getattr(dask_worker, "tessaly_schemas", {})))
    assert len(cached) == 2 and [xsd] in cached.values() and all(names in ([], [xsd]) for names in cached.values())


def test_one_file_in_byte_ranges(client, tmp_path):
    xsd = str(generate.write_schema(tmp_path / "orders.xsd"))
    xml = tmp_path / "feed.xml"
    generate.write_feed(xml, 300_000, seed=5)
    expected = tmp_path / "sequential.ndjson"
    count = tessaly_tools.convert_records_to_file(xml, tessaly_tools.load_schema(xsd), "feed/order", expected)
    out = tmp_path / "ranges.ndjson"
    assert dask_scale_out.records_in_ranges(client, str(xml), xsd, "feed/order", str(out)) == count > 10
    assert out.read_bytes() == expected.read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["feed.xml", "orders.xsd", "ranges.ndjson", "sequential.ndjson"]


def test_the_readme_shows_the_example_code():
    example = (ROOT / "examples" / "dask_scale_out.py").read_text()
    code = re.search(r'# --- the README\'s "Scaling out" code starts here\n\n\n(.*?)\n\n\n# --- ', example, re.S)
    readme = (ROOT / "README.md").read_text()
    section = readme[readme.index("## Scaling out") :]
    assert code and "```python\n" + code.group(1) + "\n```" in section
