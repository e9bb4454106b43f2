"""Tables, targets, machine description and chart of one benchmark run."""

from __future__ import annotations

import datetime
import os
import platform
import subprocess
from dataclasses import dataclass, field
from pathlib import Path

MB = 1_000_000
MIB = 1 << 20
BASELINE = "tessaly.convert_bytes_with_schema"

LABELS = {
    "tessaly.convert_bytes_with_schema": "tessaly `convert_bytes_with_schema`",
    "tessaly.convert_with_schema": "tessaly `convert_with_schema`",
    "tessaly.convert_to_file_with_schema": "tessaly `convert_to_file_with_schema`",
    "tessaly.convert_to_file_pair_1thread": "tessaly `convert_to_file`, 2 files, 1 thread",
    "tessaly.convert_to_file_pair_2threads": "tessaly `convert_to_file`, 2 files, 2 threads",
    "xmltodict": "xmltodict `parse` + `json.dumps`",
    "xmlschema": "xmlschema `to_dict` (BadgerFish) + `json.dumps`",
    "lxml": "lxml `etree.fromstring` (parse only)",
    "pugixml": "pugixml `parse_default` (C++, parse only)",
}


@dataclass
class Input:
    key: str
    title: str
    paths: list[Path]
    xsd: Path
    pair: list[Path] | None = None  # two files for the threaded file cases
    peers_capped: set[str] = field(default_factory=set)  # cases skipped to keep the run short
    ceiling: float | None = None  # speed-up of two independent native processes on `pair`

    @property
    def size(self) -> int:
        return sum(p.stat().st_size for p in self.paths)


@dataclass
class Row:
    case: str
    seconds: float | None = None
    runs: int = 0
    size: int = 0
    peak_kib: int | None = None
    baseline_kib: int | None = None
    note: str = ""

    @property
    def mbps(self) -> float | None:
        return self.size / MB / self.seconds if self.seconds else None

    @property
    def peak_mib(self) -> float | None:
        return self.peak_kib / 1024 if self.peak_kib is not None else None


@dataclass
class SchemaLoad:
    set_name: str
    xsd: Path
    files: int
    bytes: int
    seconds: float | None
    error: str = ""


@dataclass
class Target:
    text: str
    measured: str
    met: bool | None  # None: not measured in this run


def load_average() -> str:
    return " ".join(f"{v:.2f}" for v in os.getloadavg()) + " (1, 5, 15 min)"


def machine_info() -> dict[str, str]:
    cpu = platform.processor() or "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    try:
        commit = subprocess.run(
            ["git", "-C", str(Path(__file__).resolve().parents[1]), "describe", "--always", "--dirty"],
            capture_output=True, text=True, check=False,
        ).stdout.strip()
    except OSError:
        commit = ""
    return {
        "CPU": cpu,
        "cores": f"{os.cpu_count()} ({len(os.sched_getaffinity(0))} usable)",
        "Python": platform.python_version(),
        "OS": f"{platform.system()} {platform.release()}",
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "load average at start": load_average(),
        "source tree at run time": commit or "unknown",
    }


def _num(value: float | None, digits: int = 1) -> str:
    return "–" if value is None else f"{value:,.{digits}f}"


def _ratio(value: float | None, base: float | None) -> str:
    if value is None or not base:
        return "–"
    r = value / base
    return f"{r:.3f}×" if r < 0.1 else f"{r:.2f}×"


def input_table(inp: Input, rows: list[Row]) -> str:
    base = next((r for r in rows if r.case == BASELINE and r.seconds), None)
    files = f"{len(inp.paths)} file" + ("s" if len(inp.paths) != 1 else "")
    lines = [
        f"### {inp.title}",
        "",
        f"{inp.size:,} bytes in {files}; schema `{inp.xsd.name}`. "
        "Ratios are to `convert_bytes_with_schema` on the same input in this run.",
        "",
        "| implementation | MB/s | × | peak RSS MiB | × | runs | note |",
        "|---|---:|---:|---:|---:|---:|---|",
    ]
    for r in rows:
        lines.append(
            f"| {LABELS[r.case]} | {_num(r.mbps)} | {_ratio(r.mbps, base and base.mbps)} "
            f"| {_num(r.peak_mib)} | {_ratio(r.peak_mib, base and base.peak_mib)} "
            f"| {r.runs or '–'} | {r.note} |"
        )
    return "\n".join(lines)


def schema_table(loads: list[SchemaLoad]) -> str:
    lines = [
        "| set | entry XSDs | largest entry | files read | XSD bytes | load ms (best) | slowest entry ms |",
        "|---|---:|---|---:|---:|---:|---:|",
    ]
    by_set: dict[str, list[SchemaLoad]] = {}
    for load in loads:
        by_set.setdefault(load.set_name, []).append(load)
    for set_name, group in sorted(by_set.items()):
        largest = max(group, key=lambda l: l.bytes)
        timed = [l.seconds for l in group if l.seconds is not None]
        errors = [l for l in group if l.error]
        ms = _num(largest.seconds * 1000, 2) if largest.seconds is not None else f"error: {largest.error}"
        slowest = _num(max(timed) * 1000, 2) if timed else "–"
        if errors:
            slowest += f" ({len(errors)} failed)"
        lines.append(
            f"| {set_name} | {len(group)} | `{largest.xsd.name}` | {largest.files} | {largest.bytes:,} "
            f"| {ms} | {slowest} |"
        )
    return "\n".join(lines)


def _row(rows: list[Row], case: str) -> Row | None:
    return next((r for r in rows if r.case == case and r.seconds), None)


def targets(feed: Input | None, rows: list[Row], loads: list[SchemaLoad]) -> list[Target]:
    out: list[Target] = []
    name = feed.title if feed else "order feed"
    base = _row(rows, BASELINE) if feed else None
    for case, factor in (("pugixml", 0.5), ("xmltodict", 80.0)):
        peer = _row(rows, case) if feed else None
        text = f"`convert_bytes_with_schema` ≥ {factor:g}× {case} throughput ({name})"
        if base and peer:
            r = base.mbps / peer.mbps
            out.append(Target(text, f"{r:.2f}× ({base.mbps:.1f} vs {peer.mbps:.1f} MB/s)", r >= factor))
        else:
            out.append(Target(text, "not measured", None))
    streamed = _row(rows, "tessaly.convert_to_file_with_schema") if feed else None
    text = f"`convert_to_file_with_schema` peak RSS ≤ input + 32 MiB ({name})"
    if streamed and feed:
        limit = feed.size / MIB + 32
        out.append(Target(text, f"{streamed.peak_mib:.1f} MiB (limit {limit:.1f} MiB)", streamed.peak_mib <= limit))
    else:
        out.append(Target(text, "not measured", None))
    one, two = (_row(rows, f"tessaly.convert_to_file_pair_{t}") if feed else None for t in ("1thread", "2threads"))
    text = f"`convert_to_file` 2 threads on 2 files ≥ 1.7× 1 thread ({name})"
    if one and two:
        r = two.mbps / one.mbps
        measured = f"{r:.2f}× ({two.mbps:.1f} vs {one.mbps:.1f} MB/s)"
        if feed and feed.ceiling:
            measured += f"; ceiling now: {feed.ceiling:.2f}× for 2 independent pugixml processes"
        out.append(Target(text, measured, r >= 1.7))
    else:
        out.append(Target(text, "not measured", None))
    measured = [l for l in loads if l.seconds is not None]
    if measured:
        largest = max(loads, key=lambda l: l.bytes)
        text = f"schema load of the largest corpus set < 20 ms (`{largest.xsd.name}`, {largest.bytes:,} bytes)"
        if largest.seconds is None:
            out.append(Target(text, f"failed: {largest.error}", False))
        else:
            ms = largest.seconds * 1000
            out.append(Target(text, f"{ms:.2f} ms", ms < 20))
    else:
        out.append(Target("schema load of the largest corpus set < 20 ms", "not measured", None))
    return out


def targets_table(items: list[Target]) -> str:
    lines = ["| target | measured | met |", "|---|---|---|"]
    for t in items:
        met = "–" if t.met is None else ("yes" if t.met else "**no**")
        lines.append(f"| {t.text} | {t.measured} | {met} |")
    return "\n".join(lines)


def document(
    machine: dict[str, str], command: str, sections: list[str], loads: str, goals: str, notes: list[str]
) -> str:
    parts = [
        "# tessaly benchmark results",
        "",
        f"Produced by `{command}`. MB = 10^6 bytes of XML input; RSS in MiB; "
        "time is the best of the runs shown, each measurement in a fresh interpreter.",
        "",
        "| machine | |",
        "|---|---|",
        *(f"| {k} | {v} |" for k, v in machine.items()),
        "",
        "## Targets",
        "",
        goals,
        "",
        "## Throughput and memory",
        "",
        "\n\n".join(sections),
        "",
        "## Schema load (`Schema.from_file`)",
        "",
        loads,
        "",
    ]
    if notes:
        parts += ["## Notes", "", *(f"- {n}" for n in notes), ""]
    return "\n".join(parts)


def chart(path: Path, inputs: list[Input], rows: dict[str, list[Row]]) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    cases = [c for c in LABELS if any(_row(rows[i.key], c) for i in inputs)]
    fig, ax = plt.subplots(figsize=(max(8, 2.6 * len(inputs)), 5.5))
    width = 0.8 / max(1, len(cases))
    colors = plt.get_cmap("tab10")
    for n, case in enumerate(cases):
        xs, ys = [], []
        for g, inp in enumerate(inputs):
            row = _row(rows[inp.key], case)
            if row:
                xs.append(g + (n - (len(cases) - 1) / 2) * width)
                ys.append(row.mbps)
        bars = ax.bar(xs, ys, width, label=LABELS[case].replace("`", ""), color=colors(n % 10))
        for bar, y in zip(bars, ys):
            ax.annotate(f"{y:.0f}" if y >= 10 else f"{y:.1f}", (bar.get_x() + bar.get_width() / 2, y),
                        ha="center", va="bottom", fontsize=6, rotation=90, xytext=(0, 2),
                        textcoords="offset points")
    ax.set_yscale("log")
    ax.set_ylabel("throughput, MB of XML per second (log scale)")
    ax.set_xticks(range(len(inputs)))
    ax.set_xticklabels([i.title for i in inputs], fontsize=8)
    ax.set_title("tessaly and peers, same inputs, one run")
    ax.grid(axis="y", which="both", alpha=0.3)
    ax.legend(fontsize=7, loc="upper center", bbox_to_anchor=(0.5, -0.12), ncol=2, frameon=False)
    fig.tight_layout()
    fig.savefig(path, dpi=130)
    plt.close(fig)
