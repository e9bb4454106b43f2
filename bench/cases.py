"""One measurement, run in a fresh interpreter so that its peak RSS is its own.

    python bench/cases.py '<job as JSON>'

The job names a case, the input files, the XSD, how often to repeat and, for
tessaly cases, the SHA-256 of the reference output of every input. Prints one
JSON object: the best time over the runs, the number of runs, the input bytes,
the peak RSS (VmHWM) and the RSS before the first timed call. A tessaly case whose
output differs from the reference by a single byte exits with status 3.

Only the work itself is timed: reading input bytes that the call takes as
`bytes`, hashing outputs and starting threads' bookkeeping happen outside the
clock. Each result is dropped before the next run, so one run's output never
inflates the next run's peak.
"""

from __future__ import annotations

import hashlib
import json
import sys
import threading
import time
from collections.abc import Callable
from pathlib import Path

_HASH_CHUNK = 1 << 20


class OutputMismatch(Exception):
    pass


def digest_text(text: str) -> str:
    # Encoded piecewise: a whole-string encode would double the peak RSS being measured.
    h = hashlib.sha256()
    for start in range(0, len(text), _HASH_CHUNK):
        h.update(text[start : start + _HASH_CHUNK].encode("utf-8", "surrogatepass"))
    return h.hexdigest()


def digest_file(path: Path) -> str:
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(_HASH_CHUNK):
            h.update(chunk)
    return h.hexdigest()


def _status_kib(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    return 0


def rss_now_kib() -> int:
    return _status_kib("VmRSS:")


def peak_rss_kib() -> int:
    # VmHWM belongs to this address space alone. getrusage's ru_maxrss would
    # also carry the parent's high-water mark across fork and exec, which
    # swamps small measurements.
    return _status_kib("VmHWM:")


class Job:
    def __init__(self, fields: dict):
        self.case: str = fields["case"]
        self.inputs = [Path(p) for p in fields["inputs"]]
        self.xsd = Path(fields["xsd"]) if fields.get("xsd") else None
        self.repeat: int = fields.get("repeat", 3)
        self.budget: float = fields.get("budget", 20.0)
        self.reference: list[str] | None = fields.get("reference")
        self.out_dir = Path(fields.get("out_dir", "."))

    def check(self, index: int, digest: str) -> None:
        if self.reference is not None and self.reference[index] != digest:
            raise OutputMismatch(
                f"{self.case}: output for {self.inputs[index]} differs from the reference "
                f"(sha256 {digest} != {self.reference[index]})"
            )

    def out_path(self, index: int) -> Path:
        return self.out_dir / f"{self.case}-{index}.json"


def repeat_timed(job: Job, one_round: Callable[[], float]) -> tuple[float, int]:
    """Runs rounds until `repeat` are done or the budget is spent (at least one); returns the best."""
    best = float("inf")
    runs = 0
    spent = 0.0
    while runs < job.repeat and (runs == 0 or spent < job.budget):
        seconds = one_round()
        best = min(best, seconds)
        spent += seconds
        runs += 1
    return best, runs


def _per_file(job: Job, call: Callable[[int], object], digest: Callable[[int, object], str] | None):
    def one_round() -> float:
        total = 0.0
        for index in range(len(job.inputs)):
            start = time.perf_counter()
            result = call(index)
            total += time.perf_counter() - start
            if digest is not None:
                job.check(index, digest(index, result))
            del result
        return total

    return one_round


def _read_all(job: Job) -> list[bytes]:
    return [p.read_bytes() for p in job.inputs]


def prepare(job: Job) -> Callable[[], float]:
    """Imports what the case needs and returns its timed round."""
    case = job.case
    if case.startswith("tessaly."):
        import tessaly

        if case == "tessaly.convert_to_file_pair_1thread":
            return _file_pair(job, tessaly, threads=False)
        if case == "tessaly.convert_to_file_pair_2threads":
            return _file_pair(job, tessaly, threads=True)
        schema = tessaly.Schema.from_file(str(job.xsd))
        if case == "tessaly.convert_bytes_with_schema":
            data = _read_all(job)
            return _per_file(
                job, lambda i: tessaly.convert_bytes_with_schema(data[i], schema), lambda i, r: digest_text(r)
            )
        if case == "tessaly.convert_with_schema":
            paths = [str(p) for p in job.inputs]
            return _per_file(
                job, lambda i: tessaly.convert_with_schema(paths[i], schema), lambda i, r: digest_text(r)
            )
        if case == "tessaly.convert_to_file_with_schema":
            paths = [str(p) for p in job.inputs]
            outs = [str(job.out_path(i)) for i in range(len(paths))]
            return _per_file(
                job,
                lambda i: tessaly.convert_to_file_with_schema(paths[i], schema, outs[i]),
                lambda i, r: digest_file(Path(outs[i])),
            )
    if case == "xmltodict":
        import xmltodict

        data = _read_all(job)
        return _per_file(
            job,
            lambda i: json.dumps(xmltodict.parse(data[i]), indent=2, sort_keys=True, ensure_ascii=False),
            None,
        )
    if case == "xmlschema":
        import xmlschema

        schema = xmlschema.XMLSchema(str(job.xsd))
        paths = [str(p) for p in job.inputs]

        def convert(i: int) -> str:
            # Lax: keep going on the few real-world files a strict validator rejects.
            obj, _errors = schema.to_dict(
                paths[i], converter=xmlschema.BadgerFishConverter, decimal_type=float, validation="lax"
            )
            return json.dumps(obj, indent=2, sort_keys=True, ensure_ascii=False)

        return _per_file(job, convert, None)
    if case == "lxml":
        from lxml import etree

        data = _read_all(job)
        return _per_file(job, lambda i: etree.fromstring(data[i]), None)
    raise SystemExit(f"unknown case {case!r}")


def _file_pair(job: Job, tessaly, threads: bool) -> Callable[[], float]:
    """Two files converted with `convert_to_file`, one after the other or on two threads at once."""
    xsd = str(job.xsd)
    paths = [str(p) for p in job.inputs]
    outs = [str(job.out_path(i)) for i in range(len(paths))]

    def one_round() -> float:
        errors: list[BaseException] = []

        def work(i: int) -> None:
            try:
                tessaly.convert_to_file(paths[i], xsd, outs[i])
            except BaseException as e:  # re-raised on the main thread
                errors.append(e)

        if threads:
            workers = [threading.Thread(target=work, args=(i,)) for i in range(len(paths))]
            start = time.perf_counter()
            for w in workers:
                w.start()
            for w in workers:
                w.join()
            seconds = time.perf_counter() - start
        else:
            start = time.perf_counter()
            for i in range(len(paths)):
                work(i)
            seconds = time.perf_counter() - start
        if errors:
            raise errors[0]
        for i in range(len(paths)):
            job.check(i, digest_file(Path(outs[i])))
        return seconds

    return one_round


def reference_digests(job: Job) -> list[str]:
    """The untimed reference: `convert_bytes_with_schema` once per input."""
    import tessaly

    schema = tessaly.Schema.from_file(str(job.xsd))
    return [digest_text(tessaly.convert_bytes_with_schema(p.read_bytes(), schema)) for p in job.inputs]


def schema_loads(job: Job) -> list[dict]:
    """Best `Schema.from_file` time of each XSD in `inputs`."""
    import tessaly

    results = []
    for path in job.inputs:
        entry: dict = {"xsd": str(path)}
        try:
            tessaly.Schema.from_file(str(path))  # warm the page cache
            best = float("inf")
            runs = 0
            spent = 0.0
            while runs < job.repeat and (runs < 3 or spent < job.budget):
                start = time.perf_counter()
                tessaly.Schema.from_file(str(path))
                seconds = time.perf_counter() - start
                best = min(best, seconds)
                spent += seconds
                runs += 1
            entry.update(best=best, runs=runs)
        except RuntimeError as e:
            entry["error"] = str(e)
        results.append(entry)
    return results


def main() -> int:
    job = Job(json.loads(sys.argv[1]))
    if job.case == "reference":
        print(json.dumps({"digests": reference_digests(job)}))
        return 0
    if job.case == "schema_load":
        print(json.dumps({"loads": schema_loads(job)}))
        return 0
    job.out_dir.mkdir(parents=True, exist_ok=True)
    one_round = prepare(job)
    baseline = rss_now_kib()
    try:
        best, runs = repeat_timed(job, one_round)
    except OutputMismatch as e:
        print(f"OUTPUT MISMATCH: {e}", file=sys.stderr)
        return 3
    finally:
        for i in range(len(job.inputs)):
            job.out_path(i).unlink(missing_ok=True)
    peak = peak_rss_kib()
    size = sum(p.stat().st_size for p in job.inputs)
    print(json.dumps({"best": best, "runs": runs, "bytes": size, "peak_kib": peak, "baseline_kib": baseline}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
