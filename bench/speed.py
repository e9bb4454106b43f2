"""Throughput against a pugixml parse on both generated feeds, in one run.

    python bench/speed.py [--mb 50] [--repeat 5]

For the order feed and the markup-dense telemetry feed, each of --mb
megabytes, measures in fresh processes, every case in turn in each of
--repeat rounds, the best of each:
  - a pugixml DOM parse of the bytes in memory (the floor every ratio is to);
  - the C++ core alone converting the bytes in memory (bench/convert_core.cpp,
    built here with CMake into build/bench);
  - `convert_bytes_with_schema`, and apart from it the cost of building the
    Python str: decoding the same JSON text's UTF-8 bytes into a str, which
    is what the module does with the text the core hands it, and the time to
    fill as many bytes of fresh memory as the str holds; the three again with
    glibc backing large allocations with huge pages (GLIBC_TUNABLES);
  - records to NDJSON (`tessaly_tools.convert_records_to_file`) against
    `convert_to_file_with_schema`, and the latter's peak RSS above the
    interpreter's with the module loaded, each with its processor time;
and the load of the UBL 2.1 invoice schema in both profiles. Every tessaly
row is checked against the first conversion's text before it is timed.
Writes bench/speed.md.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))

import corpus  # noqa: E402
import dense  # noqa: E402
import generate  # noqa: E402
from run import build_pugixml  # noqa: E402
from schema_load import build_target  # noqa: E402

UBL = corpus.CORPUS / "ubl-2.1" / "xsd" / "maindoc" / "UBL-Invoice-2.1.xsd"
RECORD = {"orders": "feed/order", "telemetry": "telemetry/site"}


def best(call, repeat: int) -> float:
    # The clock stops when the call returns, and what it returned is dropped
    # after: freeing a result is the caller's business, as it is for the
    # pugixml parse, whose document is dropped outside its clock.
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        result = call()
        times.append(time.perf_counter() - t)
        del result
    return min(times)


def file_digest(path: Path) -> str:
    h = hashlib.sha256()
    with path.open("rb") as f:
        while chunk := f.read(1 << 20):
            h.update(chunk)
    return h.hexdigest()


def timed(call) -> tuple[float, float]:
    """Wall and processor seconds (every thread of the process) of one call."""
    t, c = time.perf_counter(), time.process_time()
    call()
    return time.perf_counter() - t, time.process_time() - c


def peak_kib() -> int:
    for line in Path("/proc/self/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    return -1


# ---- cases, each run in a fresh interpreter: python speed.py --case NAME JSON


def case_python(xml: str, xsd: str, out: str, repeat: int) -> dict:
    import tessaly

    schema = tessaly.Schema.from_file(xsd)
    data = Path(xml).read_bytes()
    text = tessaly.convert_bytes_with_schema(data, schema)
    digest = hashlib.sha256(text.encode()).hexdigest()
    encoded = text.encode()
    str_bytes = sys.getsizeof(text)
    del text
    seconds = best(lambda: tessaly.convert_bytes_with_schema(data, schema), repeat)
    return {"seconds": seconds, "str_seconds": best(lambda: encoded.decode("utf-8"), repeat),
            "str_bytes": str_bytes, "fill_seconds": best(lambda: b"\x01" * str_bytes, repeat), "digest": digest}


def case_whole_file(xml: str, xsd: str, out: str, repeat: int) -> dict:
    import tessaly

    schema = tessaly.Schema.from_file(xsd)
    base = peak_kib()
    runs = []
    for i in range(repeat):
        target = f"{out}.{i}"  # a new file each time: a rename over an old one flushes
        runs.append(timed(lambda: tessaly.convert_to_file_with_schema(xml, schema, target)))
        if i:
            os.remove(target)
    peak = peak_kib() - base  # before the output is read back for its digest
    digest = file_digest(Path(f"{out}.0"))
    os.remove(f"{out}.0")
    wall, cpu = min(runs)
    return {"seconds": wall, "cpu_seconds": cpu, "peak_above_kib": peak, "digest": digest}


def case_records(xml: str, xsd: str, out: str, repeat: int, record: str) -> dict:
    import tessaly
    import tessaly_tools

    schema = tessaly.Schema.from_file(xsd)
    runs = []
    for i in range(repeat):
        target = f"{out}.{i}"
        runs.append(timed(lambda: tessaly_tools.convert_records_to_file(xml, schema, record, target)))
        os.remove(target)
    wall, cpu = min(runs)
    return {"seconds": wall, "cpu_seconds": cpu}


def case_schema_load(repeat: int) -> dict:
    import tessaly
    import tessaly_tools

    path = str(UBL)
    return {
        "literal": best(lambda: tessaly.Schema.from_file(path), repeat),
        "complete": best(lambda: tessaly_tools.load_schema(path), repeat),
    }


CASES = {"python": case_python, "whole_file": case_whole_file, "records": case_records,
         "schema_load": case_schema_load}


# glibc (2.35 on) backs its large allocations with transparent huge pages,
# the str's among them, when the process starts with this (README, Performance).
HUGE_PAGES = {"GLIBC_TUNABLES": "glibc.malloc.hugetlb=1"}


# Every case runs this many times in a round, in a fresh process, and there
# are --repeat rounds: a slow spell of a shared machine then costs every case
# alike, not just the one that happened to run in it.
PER_ROUND = 2


def best_of(results: list[dict]) -> dict:
    """The fastest run's figures; every other time at its own best, a peak at its highest."""
    best = dict(min(results, key=lambda r: r["seconds"]))
    for key in ("str_seconds", "fill_seconds"):
        if key in best:
            best[key] = min(r[key] for r in results)
    if "peak_above_kib" in best:
        best["peak_above_kib"] = max(r["peak_above_kib"] for r in results)
    return best


def run_case(name: str, *args, env: dict | None = None) -> dict:
    cmd = [sys.executable, str(Path(__file__).resolve()), "--case", name, json.dumps(args)]
    done = subprocess.run(cmd, capture_output=True, text=True, env={**os.environ, **(env or {})})
    if done.returncode:
        raise SystemExit(f"case {name} failed:\n{done.stderr}")
    return json.loads(done.stdout.strip().splitlines()[-1])


# ---- native programs


def build_core() -> Path:
    return Path(build_target("convert_core"))


def check_core(binary: Path, xml: Path, xsd: Path, digest: str) -> None:
    check = xml.parent / "speed-core.json"
    subprocess.run([str(binary), str(xml), str(xsd), "1", "memory", "-", str(check)], check=True, capture_output=True)
    same = file_digest(check) == digest
    check.unlink()
    if not same:
        raise SystemExit(f"the core's text differs from the module's on {xml.name}")


def core_seconds(binary: Path, xml: Path, xsd: Path, repeat: int) -> float:
    done = subprocess.run([str(binary), str(xml), str(xsd), str(repeat), "memory"], check=True,
                          capture_output=True, text=True)
    rates = [float(line.split()[1]) for line in done.stdout.splitlines() if line.startswith("memory:")]
    return xml.stat().st_size / 1e6 / max(rates)


def pugixml_seconds(binary: Path, xml: Path, repeat: int) -> float:
    done = subprocess.run([str(binary), "--repeat", str(repeat), str(xml)], check=True, capture_output=True, text=True)
    return float(done.stdout.split()[0])


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--mb", type=float, default=50)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--out", type=Path, default=HERE / "out")
    ap.add_argument("--case", help=argparse.SUPPRESS)
    ap.add_argument("args", nargs="?", help=argparse.SUPPRESS)
    a = ap.parse_args(argv)
    if a.case:
        print(json.dumps(CASES[a.case](*json.loads(a.args))))
        return 0

    pugixml, core = build_pugixml(a.out), build_core()
    feeds = {
        "orders": (generate.ensure_feed(a.out, a.mb), generate.schema_path(a.out)),
        "telemetry": (dense.ensure_feed(a.out, a.mb), dense.schema_path(a.out)),
    }
    lines = [f"# Speed against a pugixml parse, {a.mb:g} MB feeds, best of {a.repeat} rounds of {PER_ROUND} runs\n",
             f"Load at start: {os.getloadavg()[0]:.2f}. Ratios are pugixml's time over tessaly's (higher is faster).\n",
             "| feed | pugixml parse | core in memory | `convert_bytes_with_schema` | of which str build "
             "| records to NDJSON | `convert_to_file_with_schema` | records ÷ file | file-mode peak above input |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    floors = ["\nWhat bounds two of the ratios: the str's size and the time to fill as many bytes of fresh "
              "memory (no str can be built faster); the same three with Python started with "
              f"`GLIBC_TUNABLES={HUGE_PAGES['GLIBC_TUNABLES']}`; and the processor time of the best runs, every "
              f"thread counted (on {os.cpu_count()} cores a run takes at least its processor time over the cores).\n",
              "| feed | str size | str build | filling as many fresh bytes "
              "| `convert_bytes_with_schema`, str build, filling, with glibc's huge pages "
              "| records: wall / processor | file: wall / processor |",
              "|---|---:|---:|---:|---:|---:|---:|"]
    for name, (xml, xsd) in feeds.items():
        out = str(a.out / f"speed-{name}.json")
        rounds = []
        for _ in range(a.repeat):
            r = {
                "pug": {"seconds": pugixml_seconds(pugixml, xml, PER_ROUND)},
                "py": run_case("python", str(xml), str(xsd), out, PER_ROUND),
                "huge": run_case("python", str(xml), str(xsd), out, PER_ROUND, env=HUGE_PAGES),
                "whole": run_case("whole_file", str(xml), str(xsd), out, PER_ROUND),
                "rec": run_case("records", str(xml), str(xsd), out, PER_ROUND, RECORD[name]),
            }
            if r["whole"]["digest"] != r["py"]["digest"]:
                raise SystemExit(f"the file conversion's text differs from the str on {name}")
            if not rounds:
                check_core(core, xml, xsd, r["py"]["digest"])
            r["core"] = {"seconds": core_seconds(core, xml, xsd, PER_ROUND)}
            rounds.append(r)
        pug, cor = (best_of([r[k] for r in rounds])["seconds"] for k in ("pug", "core"))
        py, huge, whole, rec = (best_of([r[k] for r in rounds]) for k in ("py", "huge", "whole", "rec"))
        mib = xml.stat().st_size / 2**20
        above = whole["peak_above_kib"] / 1024 - mib
        lines.append(
            f"| {name} | {pug:.3f} s | {cor:.3f} s ({pug / cor:.2f}x) | {py['seconds']:.3f} s ({pug / py['seconds']:.2f}x) "
            f"| {py['str_seconds']:.3f} s | {rec['seconds']:.3f} s | {whole['seconds']:.3f} s "
            f"| {whole['seconds'] / rec['seconds']:.2f}x | {above:+.1f} MiB |")
        floors.append(
            f"| {name} | {py['str_bytes'] / 2**20:.0f} MiB | {py['str_seconds']:.3f} s | {py['fill_seconds']:.3f} s "
            f"| {huge['seconds']:.3f} s ({pug / huge['seconds']:.2f}x), {huge['str_seconds']:.3f} s, {huge['fill_seconds']:.3f} s "
            f"| {rec['seconds']:.3f} / {rec['cpu_seconds']:.3f} s | {whole['seconds']:.3f} / {whole['cpu_seconds']:.3f} s |")
    lines += floors
    loads = run_case("schema_load", max(a.repeat, 15))
    lines.append(f"\nUBL 2.1 invoice schema load, best of {max(a.repeat, 15)}: literal {loads['literal'] * 1e3:.2f} ms, "
                 f"complete {loads['complete'] * 1e3:.2f} ms.")
    lines.append(f"\nLoad at end: {os.getloadavg()[0]:.2f}.")
    text = "\n".join(lines) + "\n"
    (HERE / "speed.md").write_text(text)
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
