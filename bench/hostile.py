"""Hostile inputs: what one tessaly call costs on input built to hurt it.

    python bench/hostile.py [--quick] [--timeout 300] [--out bench/hostile.md]

Every input is generated here, deterministically, into a temporary folder.
Each case then runs in a fresh interpreter, so a crash or a runaway allocation
stays in that child: the time is the tessaly call alone (inputs are read
before the clock starts), the peak RSS is the child's VmHWM (interpreter and
input bytes included), and the outcome is `ok`, the exception type with the
start of its message, a crash signal or a timeout. Cases with a schema load
and a conversion give one row per step, from the same child; the second
row's peak includes the first.

`--quick` divides every size by 10. The table goes to bench/hostile.md and to
standard output.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import resource
import signal
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable, Iterable
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent
EXAMPLES = HERE.parent / "examples"
XS = 'xmlns:xs="http://www.w3.org/2001/XMLSchema"'
_CHUNK = 1 << 20


# ---------------------------------------------------------------- generators
# Each writes its input under `folder` and returns the path a call starts from.

def write_chunks(path: Path, chunks: Iterable[str | bytes]) -> Path:
    """Writes the pieces in batches of about a MiB, so no input is ever whole in memory here."""
    with open(path, "wb") as f:
        batch, size = [], 0
        for chunk in chunks:
            data = chunk.encode() if isinstance(chunk, str) else chunk
            batch.append(data)
            size += len(data)
            if size >= _CHUNK:
                f.write(b"".join(batch))
                batch, size = [], 0
        f.write(b"".join(batch))
    return path


def schema_doc(body: str) -> str:
    return f'<?xml version="1.0"?>\n<xs:schema {XS}>\n{body}</xs:schema>\n'


def small_schema(folder: Path) -> Path:
    """`r` with a typed attribute `a0` and int children `n`; `t` a string; `v` an int."""
    path = folder / "small.xsd"
    path.write_text(schema_doc(
        '<xs:element name="r"><xs:complexType><xs:sequence>'
        '<xs:element name="n" type="xs:int" minOccurs="0" maxOccurs="unbounded"/>'
        '</xs:sequence><xs:attribute name="a0" type="xs:int"/></xs:complexType></xs:element>\n'
        '<xs:element name="t" type="xs:string"/>\n<xs:element name="v" type="xs:int"/>\n'))
    return path


def many_attributes(folder: Path, n: int) -> Path:
    return write_chunks(folder / "attributes.xml", ["<r", *(f' a{i}="1"' for i in range(n)), "/>"])


def long_text(folder: Path, size: int) -> Path:
    piece = "lorem &amp; ipsum dolor sit amet, "  # one entity reference every 34 bytes
    count = size // len(piece)
    return write_chunks(folder / "text.xml", ["<t>", *(piece for _ in range(count)), "</t>"])


def long_name(folder: Path, size: int) -> Path:
    name = "n" * size
    return write_chunks(folder / "name.xml", ["<", name, ">1</", name, ">"])


def laughs(folder: Path, levels: int = 10, fanout: int = 10) -> Path:
    """Entities that each reference the one before `fanout` times; the body uses the last one."""
    decls = ['<!ENTITY e0 "lol">']
    decls += [f'<!ENTITY e{i} "{f"&e{i - 1};" * fanout}">' for i in range(1, levels + 1)]
    path = folder / "laughs.xml"
    path.write_text(f'<?xml version="1.0"?>\n<!DOCTYPE t [\n{chr(10).join(decls)}\n]>\n<t>&e{levels};</t>\n')
    return path


def nested_xml(folder: Path, depth: int) -> Path:
    return write_chunks(folder / "nested.xml", ["<r>", "<a>" * (depth - 1), "</a>" * (depth - 1), "</r>"])


def nested_xsd(folder: Path, depth: int) -> Path:
    """xs:sequence and xs:choice alternating until the document is `depth` elements deep."""
    inner = max(depth - 4, 0)  # xs:schema, xs:element, xs:complexType ... xs:element
    opens = ("<xs:sequence>" if i % 2 == 0 else "<xs:choice>" for i in range(inner))
    closes = ("</xs:sequence>" if i % 2 == 0 else "</xs:choice>" for i in reversed(range(inner)))
    return write_chunks(folder / "nested.xsd", [
        f'<xs:schema {XS}><xs:element name="r"><xs:complexType>', *opens,
        '<xs:element name="v" type="xs:int"/>', *closes, "</xs:complexType></xs:element></xs:schema>"])


def self_including(folder: Path, n: int) -> Path:
    """a.xsd includes itself `n` times, each through a different relative spelling."""
    (folder / "sub").mkdir(exist_ok=True)
    spellings = ("./" * (1 + i % 50) + "sub/../" * (i // 50) + "a.xsd" for i in range(n))
    path = folder / "a.xsd"
    write_chunks(path, [f'<xs:schema {XS}>\n',
                        *(f'<xs:include schemaLocation="{s}"/>\n' for s in spellings),
                        '<xs:element name="v" type="xs:int"/>\n</xs:schema>\n'])
    return path


def include_chain(folder: Path, n: int) -> Path:
    """x0.xsd includes x1.xsd ... x{n-1}.xsd; each declares the int element e<i>."""
    for i in range(n):
        include = f'<xs:include schemaLocation="x{i + 1}.xsd"/>' if i + 1 < n else ""
        (folder / f"x{i}.xsd").write_text(f'<xs:schema {XS}>{include}<xs:element name="e{i}" type="xs:int"/></xs:schema>\n')
    return folder / "x0.xsd"


def named_types(folder: Path, n: int) -> Path:
    """n named complex types; `r` has the last one, whose child `v` is an int."""
    return write_chunks(folder / "types.xsd", [
        f'<xs:schema {XS}>\n',
        *(f'<xs:complexType name="T{i}"><xs:sequence><xs:element name="v" type="xs:int"/></xs:sequence>'
          "</xs:complexType>\n" for i in range(n)),
        f'<xs:element name="r" type="T{n - 1}"/>\n</xs:schema>\n'])


def extension_chain(folder: Path, n: int) -> Path:
    """T0 has the int child c0; each T<i> extends T<i-1> with the int child c<i>; `r` has type T<n-1>."""
    first = '<xs:complexType name="T0"><xs:sequence><xs:element name="c0" type="xs:int"/></xs:sequence></xs:complexType>\n'
    rest = (f'<xs:complexType name="T{i}"><xs:complexContent><xs:extension base="T{i - 1}"><xs:sequence>'
            f'<xs:element name="c{i}" type="xs:int"/></xs:sequence></xs:extension></xs:complexContent>'
            "</xs:complexType>\n" for i in range(1, n))
    return write_chunks(folder / "extension.xsd", [
        f'<xs:schema {XS}>\n', first, *rest, f'<xs:element name="r" type="T{n - 1}"/>\n</xs:schema>\n'])


def restriction_chain(folder: Path, n: int) -> Path:
    """S0 restricts xs:int, each S<i> restricts S<i-1>; `v` has type S<n-1>."""
    return write_chunks(folder / "restriction.xsd", [
        f'<xs:schema {XS}>\n',
        *(f'<xs:simpleType name="S{i}"><xs:restriction base="{"xs:int" if i == 0 else f"S{i - 1}"}"/>'
          "</xs:simpleType>\n" for i in range(n)),
        f'<xs:element name="v" type="S{n - 1}"/>\n</xs:schema>\n'])


def inline_children(folder: Path, n: int) -> Path:
    """`r` declares n children c<i>, each with an anonymous complex type holding the int `v`."""
    return write_chunks(folder / "inline.xsd", [
        f'<xs:schema {XS}>\n<xs:element name="r"><xs:complexType><xs:sequence>\n',
        *(f'<xs:element name="c{i}"><xs:complexType><xs:sequence><xs:element name="v" type="xs:int"/>'
          "</xs:sequence></xs:complexType></xs:element>\n" for i in range(n)),
        "</xs:sequence></xs:complexType></xs:element>\n</xs:schema>\n"])


# ---------------------------------------------------------------- the cases

@dataclass
class Step:
    label: str
    code: str  # runs in the child's namespace, timed; may set `result` and `note`
    check: str | None = None  # evaluated afterwards, untimed: a false value marks the output wrong


@dataclass
class Case:
    name: str
    build: Callable[[Path, int], list[Path]]  # writes the inputs; returns the files that count as input size
    size: int  # the generator's size argument at full scale
    setup: str  # untimed code for the child; `folder` names the input folder
    steps: list[Step]
    scales: bool = True  # whether --quick shrinks it


LOAD_SMALL = "small = open(folder + '/small.xsd', 'rb').read()\n"


def _bytes_case(name: str, gen: Callable[[Path, int], Path], size: int, check: str | None,
                scales: bool = True) -> Case:
    """convert_bytes of the generated document under small.xsd."""
    def build(folder: Path, n: int) -> list[Path]:
        small_schema(folder)
        return [gen(folder, n)]

    return Case(name, build, size, LOAD_SMALL + "data = open(folder + '/' + input_name, 'rb').read()\n",
                [Step("convert_bytes", "result = tessaly.convert_bytes(data, small)", check)], scales)


def one(gen: Callable[[Path, int], Path]) -> Callable[[Path, int], list[Path]]:
    return lambda folder, n: [gen(folder, n)]


def _chain(folder: Path, n: int) -> list[Path]:
    include_chain(folder, n)
    return [folder / f"x{i}.xsd" for i in range(n)]  # x0.xsd first: the load starts there


def _schema_case(name: str, build: Callable[[Path, int], list[Path]], size: int, document: str,
                 expected: str) -> Case:
    """Schema.from_file of the first input, then convert_bytes_with_schema of `document`."""
    return Case(name, build, size, f"document = {document}\n", [
        Step("Schema.from_file", "schema = tessaly.Schema.from_file(folder + '/' + input_name)"),
        Step("convert one document", "result = json.loads(tessaly.convert_bytes_with_schema(document, schema))",
             f"result == {expected}"),
    ])


def _prefixes(folder: Path, _n: int) -> list[Path]:
    for name in ("order.xml", "order.xsd"):
        (folder / name).write_bytes((EXAMPLES / name).read_bytes())
    return [folder / "order.xml"]


PREFIX_STEP = Step("all prefixes, total", """
counts = {}
for end in range(len(data) + 1):
    try:
        kind = "convert" if tessaly.convert_bytes_with_schema(data[:end], schema) else "convert to ''"
    except RuntimeError:
        kind = "raise RuntimeError"
    counts[kind] = counts.get(kind, 0) + 1
note = f"{len(data) + 1} prefixes: " + ", ".join(f"{v} {k}" for k, v in sorted(counts.items()))
""")


def cases() -> list[Case]:
    return [
        _bytes_case("10^6 attributes on one tag", many_attributes, 10**6,
                    "result.count('\"@a') == size and '\"@a0\": 1,' in result"),
        _bytes_case("one 100 MB text node", long_text, 100 * 10**6,
                    "json.loads(result) == {'t': ('lorem & ipsum dolor sit amet, ' * (size // 34)).rstrip()}"),
        _bytes_case("a 10 MB element name", long_name, 10 * 10**6,
                    "result == '{\\n  \"' + 'n' * size + '\": \"1\"\\n}'"),
        _bytes_case("entities 10 deep, 10 references each (billion laughs)", lambda f, n: laughs(f), 0,
                    "len(result) < 1000", scales=False),
        Case("every prefix of examples/order.xml", _prefixes, 0,
             "schema = tessaly.Schema.from_file(folder + '/order.xsd')\n"
             "data = open(folder + '/order.xml', 'rb').read()\n", [PREFIX_STEP], scales=False),
        _bytes_case("XML nested 100,000 deep", nested_xml, 100_000, None),
        Case("XSD nested 100,000 deep", one(nested_xsd), 100_000, "",
             [Step("Schema.from_file", "schema = tessaly.Schema.from_file(folder + '/' + input_name)")]),
        _schema_case("XSD including itself 1,000 times", one(self_including), 1000, "b'<v>7</v>'", "{'v': 7}"),
        _schema_case("chain of 10,000 included files", _chain, 10_000,
                     "b'<e%d>7</e%d>' % (size - 1, size - 1)", "{f'e{size - 1}': 7}"),
        _schema_case("100,000 named complex types", one(named_types), 100_000, "b'<r><v>7</v></r>'",
                     "{'r': {'v': 7}}"),
        _schema_case("10,000-type extension chain", one(extension_chain), 10_000,
                     "b'<r><c0>1</c0><c%d>2</c%d></r>' % (size - 1, size - 1)",
                     "{'r': {'c0': 1, f'c{size - 1}': 2}}"),
        _schema_case("10,000-type simple restriction chain", one(restriction_chain), 10_000, "b'<v>42</v>'",
                     "{'v': 42}"),
        _schema_case("100,000 children with inline complex types", one(inline_children), 100_000,
                     "b'<r><c0><v>1</v></c0><c%d><v>2</v></c%d></r>' % (size - 1, size - 1)",
                     "{'r': {'c0': {'v': 1}, f'c{size - 1}': {'v': 2}}}"),
    ]


# ---------------------------------------------------------------- the child

CHILD = r"""
import json, os, sys, time, tessaly

def hwm_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0

job = json.loads(sys.argv[1])
ns = {"tessaly": tessaly, "json": json, "os": os, "folder": job["folder"], "input_name": job["input_name"],
      "size": job["size"]}
exec(job["setup"], ns)
for label, code, check in job["steps"]:
    compiled = compile(code, label, "exec")
    ns.pop("note", None)
    start = time.perf_counter()
    try:
        exec(compiled, ns)
        outcome = "ok"
    except Exception as e:
        outcome = type(e).__name__ + (f": {str(e)[:100]}" if str(e) else "")
    seconds = time.perf_counter() - start
    peak = hwm_kib()  # before the check, which may build big values of its own
    if outcome == "ok" and check and not eval(check, ns):
        outcome = "wrong output: " + repr(ns.get("result"))[:100]
    if outcome == "ok" and ns.get("note"):
        outcome += f" ({ns['note']})"
    print(json.dumps({"label": label, "seconds": seconds, "hwm_kib": peak, "outcome": outcome}), flush=True)
    if not outcome.startswith("ok"):
        break
"""


@dataclass
class Row:
    case: str
    input_bytes: int
    files: int
    seconds: float | None
    peak_mib: float | None
    outcome: str


def run_case(case: Case, folder: Path, scale: int, timeout: float, memory_gib: float) -> list[Row]:
    size = case.size // scale if case.scales else case.size
    inputs = case.build(folder, size)
    input_bytes = sum(p.stat().st_size for p in inputs)
    job = {"folder": str(folder), "input_name": inputs[0].name, "size": size, "setup": case.setup,
           "steps": [(s.label, s.code, s.check) for s in case.steps]}
    name = case.name if scale == 1 or not case.scales else f"{case.name} (÷{scale}: {size:,})"
    started = time.perf_counter()
    limit = int(memory_gib * (1 << 30))

    def cap_memory() -> None:  # a runaway case fails in its child instead of starving the machine
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

    proc = subprocess.Popen([sys.executable, "-c", CHILD, json.dumps(job)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, preexec_fn=cap_memory)
    try:
        out, err = proc.communicate(timeout=timeout)
        failure = None
        if proc.returncode < 0:
            failure = f"crashed: {signal.Signals(-proc.returncode).name}"
        elif proc.returncode:
            failure = f"child exited with status {proc.returncode}: {err.strip().splitlines()[-1][:100] if err.strip() else ''}"
    except subprocess.TimeoutExpired:
        proc.kill()
        out, _ = proc.communicate()
        failure = f"timed out after {timeout:g} s"
    wall = time.perf_counter() - started
    reported = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
    rows = []
    for i, step in enumerate(case.steps):
        label = name if len(case.steps) == 1 else f"{name}: {step.label}"
        files = len(inputs)
        if i < len(reported):
            r = reported[i]
            rows.append(Row(label, input_bytes, files, r["seconds"], r["hwm_kib"] / 1024, r["outcome"]))
        elif i == len(reported) and failure:
            rows.append(Row(label, input_bytes, files, wall, None, failure))  # whole child's wall time
        else:
            rows.append(Row(label, input_bytes, files, None, None, "not run: an earlier step failed"))
    return rows


# ---------------------------------------------------------------- the table

def _size(n: int, files: int) -> str:
    text = f"{n / 1e6:,.1f} MB" if n >= 10**6 else f"{n / 1e3:,.1f} kB" if n >= 10**3 else f"{n} B"
    return f"{text} in {files:,} files" if files > 1 else text


def _cell(text: str) -> str:
    return text.replace("|", "\\|").replace("\n", " ")


def _tree() -> str:
    done = subprocess.run(["git", "-C", str(HERE), "describe", "--always", "--dirty"], capture_output=True, text=True)
    return done.stdout.strip() or "unknown"


def _module() -> str:
    done = subprocess.run([sys.executable, "-c", "import tessaly; print(tessaly.__file__)"],
                          capture_output=True, text=True)
    return done.stdout.strip() or "not importable"


def table(rows: list[Row], command: str, timeout: float, memory_gib: float) -> str:
    date = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    lines = [
        "# tessaly on hostile inputs",
        "",
        f"Produced by `{command}` on {date}. Machine: {len(os.sched_getaffinity(0))} cores (nproc), "
        f"Python {platform.python_version()}, {platform.system()} {platform.release()}; "
        f"source tree {_tree()}, module `{_module()}`.",
        "",
        "Each case runs in a fresh interpreter. Time: the tessaly call alone (inputs read beforehand; "
        "for a crash or timeout, the child's whole life). Peak RSS: the child's VmHWM, interpreter and "
        f"input bytes included; a second step's peak includes the first. A child may run {timeout:g} s "
        f"and map {memory_gib:g} GiB of address space.",
        "",
        "| case | input size | time s | peak RSS MiB | outcome |",
        "|---|---:|---:|---:|---|",
    ]
    for r in rows:
        seconds = "–" if r.seconds is None else f"{r.seconds:.3f}"
        peak = "–" if r.peak_mib is None else f"{r.peak_mib:,.1f}"
        lines.append(f"| {_cell(r.case)} | {_size(r.input_bytes, r.files)} | {seconds} | {peak} | {_cell(r.outcome)} |")
    return "\n".join(lines) + "\n"


def main(argv: list[str] | None = None) -> int:
    p = argparse.ArgumentParser(description="tessaly on hostile inputs")
    p.add_argument("--quick", action="store_true", help="every size divided by 10")
    p.add_argument("--timeout", type=float, default=300.0, help="seconds a case may take before it is killed")
    p.add_argument("--out", type=Path, default=HERE / "hostile.md")
    p.add_argument("--memory", type=float, default=8.0, help="GiB of address space a case may map")
    p.add_argument("-k", dest="only", default="", help="run only the cases whose name holds this text")
    args = p.parse_args(argv)
    scale = 10 if args.quick else 1
    rows = []
    for case in (c for c in cases() if args.only in c.name):
        with tempfile.TemporaryDirectory(prefix="tessaly-hostile-") as tmp:
            print(f"{case.name} ...", end=" ", flush=True)
            found = run_case(case, Path(tmp), scale, args.timeout, args.memory)
            print("; ".join(f"{r.outcome[:60]}" for r in found), flush=True)
            rows += found
    command = "python bench/hostile.py " + " ".join(argv if argv is not None else sys.argv[1:])
    text = table(rows, command, args.timeout, args.memory)
    args.out.write_text(text, encoding="utf-8")
    print()
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
