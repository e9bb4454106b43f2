"""Records (NDJSON) against the whole-document file conversion and the peers' streaming modes.

Each row runs in a fresh interpreter, so its peak RSS (VmHWM) is its own; the
interpreter's own size with tessaly and tessaly_tools imported is measured the
same way and subtracted. Every tessaly row's output is hashed and compared
before its time counts: the ranged rows must give the bytes of the sequential one.

    python bench/records.py                      # 50 MB throughput, 200 MB ranges, 20 MB and 2 GB memory
    python bench/records.py --sizes 5 --range-mb 20 --memory-mb 5,50 --repeat 1   # a quick look

It writes bench/records.md and prints the table with the targets.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import generate  # noqa: E402
from cases import digest_file, peak_rss_kib  # noqa: E402

RECORD = "feed/order"

# One row of work, run as `python records.py --case NAME XML XSD OUT`: prints a JSON line.
CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


@case
def baseline(xml, xsd, out):
    import tessaly  # noqa: F401
    import tessaly_tools  # noqa: F401

    return None


@case
def whole_to_file(xml, xsd, out):
    import tessaly

    schema = tessaly.Schema.from_file(xsd)
    tessaly.convert_to_file_with_schema(xml, schema, out)
    return out


@case
def records_to_file(xml, xsd, out):
    import tessaly
    import tessaly_tools

    schema = tessaly.Schema.from_file(xsd)
    tessaly_tools.convert_records_to_file(xml, schema, RECORD, out)
    return out


@case
def iter_records(xml, xsd, out):
    import tessaly
    import tessaly_tools

    schema = tessaly.Schema.from_file(xsd)
    with open(out, "w") as f:
        for r in tessaly_tools.iter_records(xml, schema, RECORD):
            f.write(r)
            f.write("\n")
    return out


def _ranges(xml, xsd, out, threads):
    from concurrent.futures import ThreadPoolExecutor

    import tessaly
    import tessaly_tools

    schema = tessaly.Schema.from_file(xsd)
    size = os.path.getsize(xml)
    bounds = [size * i // threads for i in range(threads + 1)]
    parts = [f"{out}.{i}" for i in range(threads)]

    def one(i):
        return tessaly_tools.convert_records_to_file(xml, schema, RECORD, parts[i], byte_range=(bounds[i], bounds[i + 1]))

    with ThreadPoolExecutor(threads) as pool:
        list(pool.map(one, range(threads)))
    with open(out, "wb") as f:
        for p in parts:
            with open(p, "rb") as part:
                while chunk := part.read(1 << 20):
                    f.write(chunk)
            os.remove(p)
    return out


@case
def ranges_1_thread(xml, xsd, out):
    return _ranges(xml, xsd, out, 1)


@case
def ranges_2_threads(xml, xsd, out):
    return _ranges(xml, xsd, out, 2)


@case
def xmltodict_stream(xml, xsd, out):
    import xmltodict

    with open(out, "w") as f:

        def on_item(path, item):
            if path[-1][0] == "order":
                f.write(json.dumps(item, ensure_ascii=False, separators=(",", ":")))
                f.write("\n")
            return True

        with open(xml, "rb") as src:
            xmltodict.parse(src, item_depth=2, item_callback=on_item)
    return None


@case
def lxml_iterparse(xml, xsd, out):
    from lxml import etree

    tag = "{%s}order" % generate.NAMESPACE
    with open(out, "w") as f:
        for _, elem in etree.iterparse(xml, events=("end",), tag=tag):
            # The text of every leaf under its tag: the least a record needs.
            f.write(json.dumps({e.tag: e.text for e in elem.iter() if len(e) == 0}, separators=(",", ":")))
            f.write("\n")
            elem.clear()
            while elem.getprevious() is not None:
                del elem.getparent()[0]
    return None


def run_case(name, xml, xsd, out):
    # Every row writes a new file: replacing an existing one costs the
    # renaming rows a flush that ext4 forces on a rename over a file.
    if os.path.exists(out):
        os.remove(out)
    t0 = time.perf_counter()
    produced = CASES[name](xml, xsd, out)
    seconds = time.perf_counter() - t0
    digest = digest_file(Path(produced)) if produced else None
    print(json.dumps({"seconds": seconds, "peak_kib": peak_rss_kib(), "digest": digest}))


def measure(name, xml, xsd, out, repeat):
    best = None
    for _ in range(repeat):
        proc = subprocess.run(
            [sys.executable, __file__, "--case", name, str(xml), str(xsd), str(out)],
            capture_output=True, text=True,
        )
        if proc.returncode:
            raise SystemExit(f"{name} failed:\n{proc.stderr}")
        r = json.loads(proc.stdout.strip().splitlines()[-1])
        if best is None or r["seconds"] < best["seconds"]:
            best = r
    if Path(out).exists():
        Path(out).unlink()
    return best


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--case", nargs=4, metavar=("NAME", "XML", "XSD", "OUT"), help=argparse.SUPPRESS)
    p.add_argument("--sizes", default="50", help="feed sizes in MB for the throughput rows (default 50)")
    p.add_argument("--range-mb", type=float, default=200, help="feed size for the two-thread ranges (default 200)")
    p.add_argument("--memory-mb", default="20,2000", help="small and large feed sizes for the memory rows")
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--out", type=Path, default=HERE / "out")
    p.add_argument("--no-peers", action="store_true")
    a = p.parse_args(argv)
    if a.case:
        run_case(*a.case)
        return 0

    xsd = generate.schema_path(a.out)
    out = a.out / "records-out.json"
    base = measure("baseline", xsd, xsd, out, 1)["peak_kib"]
    rows, failures = [], []

    def row(label, name, xml, repeat, reference=None):
        r = measure(name, xml, xsd, out, repeat)
        if reference and r["digest"] and r["digest"] != reference:
            raise SystemExit(f"OUTPUT MISMATCH: {label}")
        mb = xml.stat().st_size / 1e6
        rows.append((label, mb, r["seconds"], mb / r["seconds"], (r["peak_kib"] - base) / 1024))
        return r

    for size in [float(s) for s in a.sizes.split(",")]:
        xml = generate.ensure_feed(a.out, size)
        whole = row("`convert_to_file_with_schema` (whole document)", "whole_to_file", xml, a.repeat)
        rec = row("`convert_records_to_file`", "records_to_file", xml, a.repeat)
        row("`iter_records`, each written to a file", "iter_records", xml, a.repeat, rec["digest"])
        if whole["seconds"] < rec["seconds"]:
            failures.append(f"records slower than the whole-document conversion on {size:g} MB")
        if not a.no_peers:
            row("xmltodict `parse(item_depth=2, item_callback=json.dumps)`", "xmltodict_stream", xml, a.repeat)
            row("lxml `iterparse` + `clear()`, leaf texts dumped", "lxml_iterparse", xml, a.repeat)

    xml = generate.ensure_feed(a.out, a.range_mb)
    one = row("byte ranges, 1 thread", "ranges_1_thread", xml, a.repeat)
    two = row("byte ranges, 2 threads", "ranges_2_threads", xml, a.repeat, one["digest"])
    scaling = one["seconds"] / two["seconds"]

    small_mb, large_mb = [float(s) for s in a.memory_mb.split(",")]
    small = row("`convert_records_to_file`, memory (small)", "records_to_file", generate.ensure_feed(a.out, small_mb), 1)
    large = row("`convert_records_to_file`, memory (large)", "records_to_file", generate.ensure_feed(a.out, large_mb), 1)
    above, growth = (large["peak_kib"] - base) / 1024, (large["peak_kib"] - small["peak_kib"]) / 1024
    if above > 48:
        failures.append(f"{above:.1f} MiB above the interpreter on {large_mb:g} MB (target 48)")
    if growth > 8:
        failures.append(f"{growth:.1f} MiB more on {large_mb:g} MB than on {small_mb:g} MB (target 8)")
    if scaling < 1.7:
        failures.append(f"two ranges on two threads {scaling:.2f}x one thread (target 1.7x)")

    lines = [
        "| row | input MB | seconds | MB/s | peak RSS above the interpreter, MiB |",
        "|---|---:|---:|---:|---:|",
        *[f"| {l} | {mb:,.0f} | {s:.3f} | {rate:,.0f} | {mem:.1f} |" for l, mb, s, rate, mem in rows],
        "",
        f"Two ranges on two threads: {scaling:.2f}x one thread. Interpreter with both packages imported: {base / 1024:.1f} MiB.",
        f"Large feed: {above:.1f} MiB above the interpreter, {growth:+.1f} MiB against the small one.",
        f"Machine: {os.cpu_count()} cores. Targets missed: {', '.join(failures) if failures else 'none'}.",
    ]
    text = "\n".join(lines) + "\n"
    (HERE / "records.md").write_text("# Records: throughput and memory\n\n" + text)
    print(text)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
