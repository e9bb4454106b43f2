"""Every function of tessaly and tessaly_tools, with the types a checker sees.

    python examples/typed_usage.py        # runs it
    mypy --strict examples/typed_usage.py # checks it (tests/python/test_typing.py does, with pyright too)
"""

from __future__ import annotations

import sys
import tempfile
from collections.abc import Iterator
from pathlib import Path

import tessaly
import tessaly_tools
from tessaly import Convention, Schema
from tessaly_tools import BatchResult

HERE = Path(__file__).resolve().parent
XML, XSD = str(HERE / "order.xml"), str(HERE / "order.xsd")


def module(out: Path) -> list[str]:
    schema: Schema = Schema.from_file(XSD)
    same: Schema = Schema.from_bytes(Path(XSD).read_bytes())
    texts = [
        tessaly.convert(XML, XSD),
        tessaly.convert_bytes(Path(XML).read_bytes(), Path(XSD).read_bytes(), Convention.PARKER),
        tessaly.convert_with_schema(XML, schema, convention=Convention.ABDERA),
        tessaly.convert_bytes_with_schema(b"<order/>", same),
    ]
    tessaly.convert_to_file(XML, XSD, str(out / "a.json"))
    tessaly.convert_to_file_with_schema(XML, schema, str(out / "b.json"), Convention.BADGERFISH)
    code: int = int(Convention.PARKER)
    assert Convention.PARKER == code and tessaly.__all__[0] == "Schema"
    return texts


def tools(out: Path) -> tuple[int, BatchResult, list[str]]:
    schema: Schema = tessaly_tools.load_schema(XSD, resolution="complete")
    literal: Schema = tessaly_tools.load_schema(Path(XSD).read_bytes(), resolution="literal", base_dir=HERE)
    documents: list[str] = tessaly_tools.describe(schema)["documents"]
    tessaly_tools.convert_to_file(Path(XML), literal, out / "c.json", compact=True)
    lines: Iterator[str] = tessaly_tools.iter_records(XML, schema, "order/line", byte_range=(0, 10_000))
    first: list[str] = list(lines)
    with open(XML, "rb") as f:
        count: int = tessaly_tools.convert_records_to_file(f, schema, "line", out / "lines.ndjson")

    def progress(path: str, size: int, error: Exception | None) -> None:
        print(f"{path}: {size} bytes, {'failed: ' + str(error) if error else 'done'}", file=sys.stderr)

    batch: BatchResult = tessaly_tools.convert_many([HERE], schema, out / "many", workers=2, progress=progress)
    failed: list[tuple[str, Exception]] = batch.failed
    version: str = tessaly_tools.__version__
    assert count == len(first) == 1 and not failed and version
    return count, batch, documents


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as d:
        print(module(Path(d))[0])
        print(tools(Path(d))[2])
