"""Deterministic generator of a markup-dense feed: telemetry from racks of devices.

Where the order feed (generate.py) is text-heavy, this one is nearly all
markup: under 8 bytes of text per element on average, two to four typed
attributes on most elements, nesting 7 levels deep, no indentation. It uses
the same schema features: named complex types, simple content with
attributes, an extension chosen by xsi:type, derived simple types, unbounded
lists, typed leaves and attributes, entity and character references, CDATA.

    python bench/dense.py --sizes 5,50 [--seed 1] [--out bench/out]
"""

from __future__ import annotations

import argparse
import hashlib
import random
import sys
from collections.abc import Iterator
from pathlib import Path

MB = 1_000_000
NAMESPACE = "urn:example:tessaly:telemetry"
DEFAULT_OUT = Path(__file__).resolve().parent / "out"
_CHUNK = 1 << 20

SCHEMA = f"""<?xml version="1.0" encoding="UTF-8"?>
<!-- Markup-dense telemetry feed used by the benchmarks. -->
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"
           xmlns:t="{NAMESPACE}"
           targetNamespace="{NAMESPACE}"
           elementFormDefault="qualified">

  <xs:element name="telemetry" type="t:TelemetryType"/>

  <xs:simpleType name="LevelType">
    <xs:restriction base="xs:int"><xs:minInclusive value="0"/></xs:restriction>
  </xs:simpleType>

  <xs:complexType name="TelemetryType">
    <xs:sequence>
      <xs:element name="site" type="t:SiteType" maxOccurs="unbounded"/>
    </xs:sequence>
    <xs:attribute name="v" type="xs:int"/>
  </xs:complexType>

  <xs:complexType name="SiteType">
    <xs:sequence>
      <xs:element name="rack" type="t:RackType" maxOccurs="unbounded"/>
    </xs:sequence>
    <xs:attribute name="id" type="xs:int"/>
    <xs:attribute name="lat" type="xs:decimal"/>
    <xs:attribute name="lon" type="xs:decimal"/>
    <xs:attribute name="on" type="xs:boolean"/>
  </xs:complexType>

  <xs:complexType name="RackType">
    <xs:sequence>
      <xs:element name="unit" type="t:UnitType" maxOccurs="unbounded"/>
    </xs:sequence>
    <xs:attribute name="n" type="xs:int"/>
    <xs:attribute name="t" type="xs:double"/>
  </xs:complexType>

  <xs:complexType name="UnitType">
    <xs:sequence>
      <xs:element name="board" type="t:BoardType" maxOccurs="unbounded"/>
    </xs:sequence>
    <xs:attribute name="n" type="xs:int"/>
    <xs:attribute name="k" type="xs:string"/>
    <xs:attribute name="ok" type="xs:boolean"/>
  </xs:complexType>

  <xs:complexType name="ManagedUnitType">
    <xs:complexContent>
      <xs:extension base="t:UnitType">
        <xs:sequence>
          <xs:element name="note" type="xs:string" minOccurs="0"/>
        </xs:sequence>
        <xs:attribute name="fw" type="xs:int"/>
      </xs:extension>
    </xs:complexContent>
  </xs:complexType>

  <xs:complexType name="BoardType">
    <xs:sequence>
      <xs:element name="chip" type="t:ChipType" maxOccurs="unbounded"/>
    </xs:sequence>
    <xs:attribute name="rev" type="t:LevelType"/>
    <xs:attribute name="hot" type="xs:boolean"/>
  </xs:complexType>

  <xs:complexType name="ChipType">
    <xs:sequence>
      <xs:element name="p" type="t:PinType" maxOccurs="unbounded"/>
      <xs:element name="st" type="xs:string"/>
    </xs:sequence>
    <xs:attribute name="id" type="xs:int"/>
    <xs:attribute name="v" type="xs:decimal"/>
    <xs:attribute name="f" type="xs:int"/>
  </xs:complexType>

  <xs:complexType name="PinType">
    <xs:simpleContent>
      <xs:extension base="xs:int">
        <xs:attribute name="n" type="xs:int"/>
        <xs:attribute name="s" type="xs:boolean"/>
      </xs:extension>
    </xs:simpleContent>
  </xs:complexType>
</xs:schema>
"""

_STATES = ["ok", "hi", "lo", "a&amp;b", "&#x3B1;", "Ω", "off"]


def _chip(rng: random.Random, cid: int) -> str:
    pins = "".join(
        f'<p n="{i}" s="{"true" if rng.random() < 0.5 else "false"}">{rng.randrange(100)}</p>'
        for i in range(rng.randrange(2, 6))
    )
    return (f'<chip id="{cid}" v="{rng.randrange(100, 400) / 100}" f="{rng.randrange(8)}">'
            f"{pins}<st>{rng.choice(_STATES)}</st></chip>")


def _unit(rng: random.Random, n: int, ids: list[int]) -> str:
    boards = []
    for rev in range(rng.randrange(1, 3)):
        chips = []
        for _ in range(rng.randrange(2, 5)):
            ids[0] += 1
            chips.append(_chip(rng, ids[0]))
        boards.append(f'<board rev="{rev}" hot="{"true" if rng.random() < 0.1 else "false"}">{"".join(chips)}</board>')
    ok = "true" if rng.random() < 0.9 else "false"
    if rng.random() < 0.2:
        note = "<note><![CDATA[<ok>]]></note>" if rng.random() < 0.5 else ""
        return (f'<unit xsi:type="t:ManagedUnitType" n="{n}" k="m" ok="{ok}" fw="{rng.randrange(9)}">'
                f'{"".join(boards)}{note}</unit>')
    return f'<unit n="{n}" k="{rng.choice("abc")}" ok="{ok}">{"".join(boards)}</unit>'


def _site(rng: random.Random, sid: int, ids: list[int]) -> str:
    racks = "".join(
        f'<rack n="{r}" t="{rng.randrange(150, 300) / 10}">'
        + "".join(_unit(rng, u, ids) for u in range(rng.randrange(2, 5)))
        + "</rack>\n"
        for r in range(rng.randrange(1, 4))
    )
    return (f'<site id="{sid}" lat="{rng.randrange(-9000, 9000) / 100}" lon="{rng.randrange(-18000, 18000) / 100}" '
            f'on="true">\n{racks}</site>\n')


def iter_feed(target_bytes: int, seed: int = 1) -> Iterator[bytes]:
    """Yields the UTF-8 bytes of one feed of at least `target_bytes` (one site more at most)."""
    rng = random.Random(seed)
    head = (f'<?xml version="1.0" encoding="UTF-8"?>\n<telemetry xmlns="{NAMESPACE}" xmlns:t="{NAMESPACE}" '
            'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" v="2">\n')
    tail = b"</telemetry>\n"
    pending, size, written, sid, ids = [head.encode()], len(head), 0, 0, [seed * 10_000_000]
    while written + size + len(tail) < target_bytes:
        piece = _site(rng, sid, ids).encode()
        sid += 1
        pending.append(piece)
        size += len(piece)
        if size >= _CHUNK:
            yield b"".join(pending)
            written += size
            pending, size = [], 0
    pending.append(tail)
    yield b"".join(pending)


def _generator_tag() -> str:
    return hashlib.sha256(Path(__file__).read_bytes()).hexdigest()[:8]


def ensure_feed(out_dir: Path, size_mb: float, seed: int = 1) -> Path:
    """Returns the cached dense feed of `size_mb` MB for `seed`, generating it (through a temporary name) when missing."""
    label = f"{size_mb:g}".replace(".", "_")
    path = out_dir / f"telemetry-{label}MB-seed{seed}-{_generator_tag()}.xml"
    if not path.exists():
        out_dir.mkdir(parents=True, exist_ok=True)
        partial = path.with_name(path.name + ".partial")
        with open(partial, "wb") as out:
            for chunk in iter_feed(int(size_mb * MB), seed):
                out.write(chunk)
        partial.replace(path)
    return path


def schema_path(out_dir: Path) -> Path:
    path = out_dir / "telemetry.xsd"
    out_dir.mkdir(parents=True, exist_ok=True)
    if not path.exists() or path.read_text() != SCHEMA:
        path.write_text(SCHEMA)
    return path


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="5,50", help="comma-separated sizes in MB (10**6 bytes)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", type=Path, default=DEFAULT_OUT)
    args = parser.parse_args(argv)
    print(schema_path(args.out))
    for size in (float(s) for s in args.sizes.split(",") if s):
        path = ensure_feed(args.out, size, args.seed)
        data = path.read_bytes()
        elements = data.count(b"<") - data.count(b"</") - data.count(b"<?") - data.count(b"<!")
        text = sum(len(t) for t in __import__("re").findall(rb">([^<]+)<", data))
        print(f"{path}  {len(data):,} bytes, {elements:,} elements, {text / elements:.1f} text bytes per element")
    return 0


if __name__ == "__main__":
    sys.exit(main())
