"""convert_many on threads: 200 UBL invoices under one shared Schema, 2 threads against 1.

The invoices of the shared corpus (a few files) are copied under 200 names.
Before anything is timed, every output of a 2-thread run is compared byte for
byte with convert_with_schema's text. Each row is the best of --repeat runs;
the machine's load average is written beside the figures, since other work on
the machine takes from the threads' speedup first.

    python bench/threads.py                   # both profiles, 7 runs each
    python bench/threads.py --repeat 3 --files 100

It writes bench/threads.md and prints the table with the target (2 threads
at least 1.7x one thread).
"""

from __future__ import annotations

import argparse
import os
import shutil
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

import tessaly
import tessaly_tools

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import corpus  # noqa: E402

ENTRY = "xsd/maindoc/UBL-Invoice-2.1.xsd"
TARGET = 1.7


def batch(directory: Path, count: int) -> list[Path]:
    invoices = corpus.instances("ubl-2.1", ENTRY)
    if not invoices:
        sys.exit("no UBL invoices: the shared corpus is not beside the checkout")
    directory.mkdir(parents=True, exist_ok=True)
    files = []
    for i in range(count):
        path = directory / f"invoice-{i:03d}.xml"
        shutil.copyfile(invoices[i % len(invoices)], path)
        files.append(path)
    return files


def best(runs: int, works: dict[str, Callable[[Path], object]], out: Path) -> dict[str, float]:
    """The shortest of `runs` runs of each work(out_dir), each into a new, empty directory.

    The works take turns, run by run, so that a busy spell of the machine
    falls on all of them alike. Outputs are never replaced: ext4 flushes a
    file renamed or truncated over an existing one (auto_da_alloc), which
    would time the disk, not the work.
    """
    times: dict[str, list[float]] = {name: [] for name in works}
    for i in range(runs):
        for name, work in works.items():
            target = out / f"{name}-{i}"
            start = time.perf_counter()
            work(target)
            times[name].append(time.perf_counter() - start)
            shutil.rmtree(target)
    return {name: min(t) for name, t in times.items()}


def measure(files: list[Path], xsd: Path, resolution: str, out: Path, runs: int) -> dict[str, float]:
    schema = tessaly_tools.load_schema(xsd, resolution=resolution)  # type: ignore[arg-type]
    result = tessaly_tools.convert_many(files, schema, out / "check", workers=2)
    assert not result.failed, result.failed[:3]
    for source, output in result.converted:
        if Path(output).read_text() != tessaly.convert_with_schema(source, schema):
            sys.exit(f"{output} differs from convert_with_schema's text")

    def many(workers: int):
        return lambda target: tessaly_tools.convert_many(files, schema, target, workers=workers)

    def held(target: Path):
        target.mkdir()
        for f in files:
            tessaly.convert_to_file_with_schema(str(f), schema, str(target / (f.stem + ".json")))

    return best(runs, {"1": many(1), "2": many(2), "held": held}, out)


def main(argv: list[str] | None = None) -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--files", type=int, default=200)
    p.add_argument("--repeat", type=int, default=7)
    p.add_argument("--out", type=Path, default=HERE / "threads.md")
    args = p.parse_args(argv)
    xsd = corpus.CORPUS / "ubl-2.1" / ENTRY
    with tempfile.TemporaryDirectory() as d:
        files = batch(Path(d) / "in", args.files)
        size = sum(f.stat().st_size for f in files)
        load_before = os.getloadavg()
        rows = {r: measure(files, xsd, r, Path(d) / "out", args.repeat) for r in ("literal", "complete")}
        load_after = os.getloadavg()
    lines = [
        f"# convert_many on threads: {len(files)} UBL invoices ({size / 1e6:.2f} MB), one shared Schema",
        "",
        f"Best of {args.repeat} runs, {os.cpu_count()} cores; load average before {load_before[0]:.2f}, "
        f"after {load_after[0]:.2f} (other work on the machine takes from the second thread first); "
        f"files in {tempfile.gettempdir()} (TMPDIR: /dev/shm keeps the disk out of the figures).",
        "",
        "| resolution | convert_to_file_with_schema, lock held | convert_many, 1 thread | 2 threads | speedup | target ≥ 1.7× |",
        "|---|---:|---:|---:|---:|---|",
    ]
    for resolution, t in rows.items():
        speedup = t["1"] / t["2"]
        lines.append(
            f"| {resolution} | {t['held'] * 1e3:.1f} ms | {t['1'] * 1e3:.1f} ms | {t['2'] * 1e3:.1f} ms "
            f"| {speedup:.2f}× | {'yes' if speedup >= TARGET else '**no**'} |"
        )
    text = "\n".join(lines) + "\n"
    args.out.write_text(text)
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
