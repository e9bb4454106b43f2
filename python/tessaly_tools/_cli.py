"""The `tessaly` command: convert documents, write records as NDJSON, report on a schema.

Exit status: 0 when every input converted, 1 when some failed (each reported
on stderr as `path: message`), 2 for usage errors, 130 after Ctrl-C. No
output file is left for a failed input, and none is ever partial.
"""

from __future__ import annotations

import argparse
import bz2
import gzip
import io
import json
import lzma
import os
import shutil
import sys
import tempfile
from collections.abc import Callable, Sequence
from functools import partial
from typing import IO, Any, cast

import tessaly
import tessaly_tools
from tessaly_tools import _batch, _records

CONVENTIONS = {
    "badgerfish": tessaly.Convention.BADGERFISH,
    "parker": tessaly.Convention.PARKER,
    "abdera": tessaly.Convention.ABDERA,
}
OPENERS: dict[str, Callable[[IO[bytes]], io.BufferedIOBase]] = {
    ".gz": lambda f: gzip.GzipFile(fileobj=f, mode="rb"),
    ".bz2": lambda f: bz2.BZ2File(f, "rb"),
    ".xz": lambda f: lzma.LZMAFile(f, "rb"),
}
# A byte range is the unit of parallel records work: small enough that Ctrl-C
# (which waits for the ranges under way) stays prompt, large enough that the
# scan for a range's first record costs nothing.
RANGE_BYTES = 16 * 1024 * 1024


class Failed(Exception):
    """An input that did not convert: `path: message` on stderr, exit status 1."""

    def __init__(self, path: str, error: BaseException) -> None:
        super().__init__(f"{path}: {error}")


def _jobs(text: str) -> int:
    try:
        n = int(text)
    except ValueError:
        n = 0
    if n < 1:
        raise argparse.ArgumentTypeError(f"must be a positive integer, not {text!r}")
    return n


def parser() -> argparse.ArgumentParser:
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("-q", "--quiet", action="store_true", help="no progress bar")
    typed = argparse.ArgumentParser(add_help=False)
    typed.add_argument("--xsd", required=True, metavar="S.xsd", help="the schema")
    typed.add_argument("--convention", choices=CONVENTIONS, default="badgerfish")
    typed.add_argument(
        "--resolution",
        choices=["literal", "complete"],
        default="complete",
        help="how the schema is read: complete (the XSD standard, the default) or literal (tessaly.Schema's rules)",
    )

    p = argparse.ArgumentParser(prog="tessaly", description="XML to JSON, typed by an XML Schema.")
    p.add_argument("--version", action="version", version=f"%(prog)s {tessaly_tools.__version__}")
    sub = p.add_subparsers(dest="command", required=True, metavar="{convert,records,schema}")

    c = sub.add_parser(
        "convert",
        parents=[common, typed],
        help="XML documents to JSON",
        description="One input to stdout or -o; several files or directories (their *.xml at any depth) "
        "to one .json each under --out-dir, at the inputs' relative paths.",
    )
    c.set_defaults(run=convert, parser=c)
    c.add_argument("inputs", nargs="+", metavar="INPUT")
    out = c.add_mutually_exclusive_group()
    out.add_argument("-o", "--output", metavar="OUT", help="the JSON file (one input only)")
    out.add_argument("--out-dir", metavar="DIR", help="where the .json files go")
    c.add_argument("--compact", action="store_true", help="no white space between tokens")
    c.add_argument("-j", "--jobs", type=_jobs, metavar="N", help="worker threads (default: the cores)")

    r = sub.add_parser(
        "records",
        parents=[common, typed],
        help="one JSON line per record element (NDJSON)",
        description="Records to stdout or -o as NDJSON. .gz, .bz2 and .xz inputs are decompressed as they are read.",
    )
    r.set_defaults(run=records, parser=r)
    r.add_argument("input", metavar="INPUT")
    r.add_argument("--record", required=True, metavar="PATH", help="'a/b/c' from the document element, or a bare name")
    r.add_argument("-o", "--output", metavar="OUT.ndjson")
    r.add_argument(
        "-j", "--jobs", type=_jobs, default=1, metavar="N",
        help="convert byte ranges on N threads (an uncompressed file and a full record path)",
    )

    s = sub.add_parser("schema", parents=[common], help="what loading a schema read, skipped and left unresolved")
    s.set_defaults(run=schema, parser=s)
    s.add_argument("xsd", metavar="S.xsd")
    s.add_argument("--resolution", choices=["literal", "complete"], default="complete")
    s.add_argument("--json", action="store_true", help="the report as JSON")
    return p


def _load(xsd: str, resolution: str) -> tessaly.Schema:
    try:
        return tessaly_tools.load_schema(xsd, resolution=resolution)  # type: ignore[arg-type]
    except Exception as e:
        raise Failed(xsd, e) from None


class _Bar:
    """A tqdm bar of bytes and inputs on stderr, when stderr is a terminal and -q is not given."""

    def __init__(self, total_bytes: int, inputs: int, quiet: bool) -> None:
        self.bar: Any = None
        self.inputs, self.done = inputs, 0
        if not quiet and sys.stderr.isatty():
            from tqdm import tqdm  # type: ignore[import-untyped]

            self.bar = tqdm(
                total=total_bytes, unit="B", unit_scale=True, unit_divisor=1024, file=sys.stderr, dynamic_ncols=True
            )
            self._postfix()

    def _postfix(self) -> None:
        if self.inputs > 1:
            self.bar.set_postfix_str(f"{self.done}/{self.inputs} files", refresh=False)

    def advance(self, nbytes: int, finished_input: bool = False) -> None:
        if self.bar is not None:
            self.done += finished_input
            self._postfix()
            self.bar.update(nbytes)

    def say(self, text: str) -> None:
        if self.bar is not None:
            self.bar.write(text, file=sys.stderr)
        else:
            print(text, file=sys.stderr, flush=True)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def _copy_out(path: str, dst: IO[bytes]) -> None:
    with open(path, "rb") as f:
        shutil.copyfileobj(f, dst, 1 << 20)
    dst.flush()


def _temp_path(directory: str | None, name: str) -> str:
    fd, path = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=directory)
    os.close(fd)
    return path


def convert(args: argparse.Namespace, p: argparse.ArgumentParser) -> int:
    if args.out_dir is None and (len(args.inputs) > 1 or os.path.isdir(args.inputs[0])):
        p.error("several inputs or a directory need --out-dir DIR")
    schema = _load(args.xsd, args.resolution)
    conv = CONVENTIONS[args.convention]
    if args.out_dir is not None:
        try:
            pairs = _batch.plan(args.inputs, args.out_dir)
        except ValueError as e:
            p.error(str(e))
    else:
        # Standard output gets the text only once the whole input converted.
        target = args.output or _temp_path(None, "tessaly-stdout")
        pairs = [(args.inputs[0], target)]
    bar = _Bar(sum(_batch._size(i) for i, _ in pairs), len(pairs), args.quiet)

    def finished(path: str, size: int, error: Exception | None) -> None:
        if error is not None:
            bar.say(f"{path}: {error}")
        bar.advance(size, True)

    try:
        result = _batch.run(pairs, schema, conv, compact=args.compact, workers=args.jobs, progress=finished)
        if args.out_dir is None and args.output is None and result.converted:
            _copy_out(pairs[0][1], sys.stdout.buffer)
    finally:
        bar.close()
        if args.out_dir is None and args.output is None and os.path.exists(pairs[0][1]):
            os.unlink(pairs[0][1])
    return 1 if result.failed else 0


class _Counting(io.RawIOBase):
    """A file read through, counting its bytes for the progress bar."""

    def __init__(self, raw: io.RawIOBase | io.BufferedReader, seen: Callable[[int], object]) -> None:
        self.raw, self.seen = raw, seen

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Any) -> int:
        n = self.raw.readinto(buffer)
        if n:
            self.seen(n)
        return n or 0


def _write_records(args: argparse.Namespace, schema: tessaly.Schema, source: Any) -> None:
    conv = CONVENTIONS[args.convention]
    if args.output is not None:
        tessaly_tools.convert_records_to_file(source, schema, args.record, args.output, conv)
        return
    out = sys.stdout.buffer
    # Lines go out as they are read: a pipe sees records at once, and a
    # failure stops them after a whole line (exit status 1).
    for text in tessaly_tools.iter_records(source, schema, args.record, conv):
        out.write(text.encode())
        out.write(b"\n")
    out.flush()


def _records_in_ranges(args: argparse.Namespace, schema: tessaly.Schema, size: int, bar: _Bar) -> None:
    conv = CONVENTIONS[args.convention]
    count = max(args.jobs, -(-size // RANGE_BYTES))
    cuts = [size * i // count for i in range(count)] + [size]
    target = args.output
    in_place = target is not None and os.path.exists(target) and not os.path.isfile(target)
    # Beside the output, so that the joined parts can take its name by a rename.
    parts_dir = tempfile.mkdtemp(prefix=".tessaly-parts.", dir=None if target is None else os.path.dirname(target) or ".")
    try:
        parts = [os.path.join(parts_dir, f"{i:06d}.ndjson") for i in range(count)]
        jobs = [
            partial(_records.to_file, args.input, schema, args.record, parts[i], conv, (cuts[i], cuts[i + 1]))
            for i in range(count)
        ]
        _batch.each(jobs, args.jobs, lambda i, _: bar.advance(cuts[i + 1] - cuts[i]), stop_on_error=True)
        if target is None:
            for part in parts:
                _copy_out(part, sys.stdout.buffer)
            return
        if in_place:
            with open(target, "wb") as dst:
                for part in parts:
                    _copy_out(part, dst)
            return
        # The first part (a new file, with a new file's mode) takes the rest and then the output's name.
        with open(parts[0], "ab") as dst:
            for part in parts[1:]:
                _copy_out(part, dst)
        os.replace(parts[0], target)
    finally:
        shutil.rmtree(parts_dir, ignore_errors=True)


def records(args: argparse.Namespace, p: argparse.ArgumentParser) -> int:
    opener = OPENERS.get(os.path.splitext(args.input)[1].lower())
    if args.jobs > 1 and opener is not None:
        p.error("-j needs an uncompressed input: a compressed stream is read from its start")
    if args.jobs > 1 and "/" not in args.record:
        p.error("-j needs a full record path ('a/b/c'): a range that starts mid-file cannot see the ancestors")
    schema = _load(args.xsd, args.resolution)
    try:
        size = os.stat(args.input).st_size
    except OSError as e:
        raise Failed(args.input, e) from None
    bar = _Bar(size, 1, args.quiet)
    raw = None
    try:
        if args.jobs > 1:
            _records_in_ranges(args, schema, size, bar)
        elif opener is None and bar.bar is None:
            _write_records(args, schema, args.input)
        else:
            # Read through here, to count the (compressed) bytes for the bar.
            raw = open(args.input, "rb")
            source: Any = _Counting(raw, bar.advance)
            _write_records(args, schema, source if opener is None else opener(source))
    except BrokenPipeError:
        raise
    except (RuntimeError, OSError, EOFError, lzma.LZMAError) as e:
        raise Failed(args.input, e) from None
    finally:
        bar.close()
        if raw is not None:
            raw.close()
    return 0


def schema(args: argparse.Namespace, p: argparse.ArgumentParser) -> int:
    report = tessaly_tools.describe(_load(args.xsd, args.resolution))
    if args.json:
        print(json.dumps(report, indent=2))
        return 0
    lines = [f"resolution: {report['resolution']}", f"documents read: {len(report['documents'])}"]
    lines += [f"  {d}" for d in report["documents"]]
    lines.append(f"locations skipped: {len(report['skipped'])}")
    lines += [f"  {s['location']} (in {s['document']}): {s['reason']}" for s in report["skipped"]]
    by_kind = cast("dict[str, list[str]]", report["unresolved"])
    unresolved = {kind: names for kind, names in by_kind.items() if names}
    lines.append(f"names that resolve to nothing: {sum(len(n) for n in unresolved.values())}")
    lines += [f"  {kind.replace('_', ' ')}: {', '.join(names)}" for kind, names in unresolved.items()]
    lines.append(f"global elements: {report['global_elements']}")
    lines.append(f"named types: {report['named_types']}")
    print("\n".join(lines))
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    args = parser().parse_args(argv)
    try:
        return int(args.run(args, args.parser))
    except Failed as e:
        print(e, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("tessaly: interrupted", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # The reader went away (`| head`): stop quietly, as other tools do.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
