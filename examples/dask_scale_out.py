"""Scaling out on Dask distributed: a directory of documents converted across
the workers, and one large file converted in byte ranges into NDJSON parts.

    python examples/dask_scale_out.py --xsd S.xsd --dir IN --out-dir OUT
    python examples/dask_scale_out.py --xsd S.xsd --records BIG.xml --record a/b --out BIG.ndjson
    (--scheduler tcp://host:8786 for a running cluster; else a local one with two worker processes)

Paths are read and written by the workers: on a real cluster they must name
storage that every worker and this process see alike (a shared file system).
"""

from __future__ import annotations

import argparse
import os
import shutil
import tempfile

import tessaly
import tessaly_tools
from distributed import Client, LocalCluster, get_worker

# --- the README's "Scaling out" code starts here


def worker_schema(xsd_path: str) -> tessaly.Schema:
    """This worker's Schema for `xsd_path`, loaded on first use and kept.

    A Schema cannot be pickled, so it never travels with a task: each worker
    process loads each schema once and every task on it shares that one.
    """
    worker = get_worker()
    schemas: dict[str, tessaly.Schema] = worker.__dict__.setdefault("tessaly_schemas", {})
    if xsd_path not in schemas:
        # Two threads of one worker may both load it; one copy is kept.
        schemas.setdefault(xsd_path, tessaly_tools.load_schema(xsd_path))
    return schemas[xsd_path]


def convert_one(xml_path: str, xsd_path: str, out_path: str) -> str | None:
    """Runs on a worker: one document to one JSON file; the error text, or None."""
    try:
        os.makedirs(os.path.dirname(out_path) or ".", exist_ok=True)
        tessaly_tools.convert_to_file(xml_path, worker_schema(xsd_path), out_path)
    except (RuntimeError, OSError) as e:
        return str(e)
    return None


def convert_directory(client: Client, in_dir: str, xsd_path: str, out_dir: str) -> dict[str, str]:
    """Every *.xml under `in_dir` to a .json at the same relative path under
    `out_dir`, one task per document; returns the failures, path: error."""
    inputs = sorted(
        os.path.join(top, name) for top, _, names in os.walk(in_dir) for name in names if name.endswith(".xml")
    )
    outputs = [os.path.join(out_dir, os.path.relpath(p, in_dir))[: -len(".xml")] + ".json" for p in inputs]
    errors = client.gather(client.map(convert_one, inputs, [xsd_path] * len(inputs), outputs, pure=False))
    return {path: error for path, error in zip(inputs, errors) if error is not None}


def convert_range(xml_path: str, xsd_path: str, record: str, part_path: str, start: int, end: int) -> int:
    """Runs on a worker: the records whose start tag begins in [start, end), as NDJSON."""
    schema = worker_schema(xsd_path)
    return tessaly_tools.convert_records_to_file(xml_path, schema, record, part_path, byte_range=(start, end))


def records_in_ranges(client: Client, xml_path: str, xsd_path: str, record: str, out_path: str) -> int:
    """The records of one large file as NDJSON at `out_path`, converted by the
    workers in byte ranges (two per worker thread) and joined in document
    order: the same bytes as one sequential convert_records_to_file. `record`
    must be a full path ("a/b/c"). Returns the number of records."""
    size = os.path.getsize(xml_path)
    count = max(1, 2 * sum(w["nthreads"] for w in client.scheduler_info()["workers"].values()))
    cuts = [size * i // count for i in range(count)] + [size]
    parts_dir = tempfile.mkdtemp(prefix=".parts-", dir=os.path.dirname(os.path.abspath(out_path)))
    try:
        parts = [os.path.join(parts_dir, f"{i:05d}.ndjson") for i in range(count)]
        futures = client.map(
            convert_range, [xml_path] * count, [xsd_path] * count, [record] * count, parts, cuts[:-1], cuts[1:],
            pure=False,
        )
        total = sum(client.gather(futures))
        joined = os.path.join(parts_dir, "joined.ndjson")
        with open(joined, "wb") as out:
            for part in parts:
                with open(part, "rb") as f:
                    shutil.copyfileobj(f, out, 1 << 20)
        os.replace(joined, out_path)  # the output appears whole, or not at all
        return total
    finally:
        shutil.rmtree(parts_dir, ignore_errors=True)


# --- the README's "Scaling out" code ends here


def main(argv: list[str] | None = None) -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--xsd", required=True)
    p.add_argument("--scheduler", help="address of a running scheduler (default: a local cluster)")
    p.add_argument("--dir", help="convert every *.xml under this directory")
    p.add_argument("--out-dir")
    p.add_argument("--records", metavar="XML", help="one large file to convert in byte ranges")
    p.add_argument("--record", help="the record path, a/b/c")
    p.add_argument("--out", help="the NDJSON output")
    args = p.parse_args(argv)
    if bool(args.dir) == bool(args.records) or (args.dir and not args.out_dir) or (args.records and not (args.record and args.out)):
        p.error("give --dir DIR --out-dir OUT, or --records XML --record PATH --out OUT.ndjson")
    cluster = None if args.scheduler else LocalCluster(n_workers=2, threads_per_worker=1, processes=True)
    with Client(args.scheduler or cluster) as client:
        if args.dir:
            failures = convert_directory(client, args.dir, os.path.abspath(args.xsd), args.out_dir)
            for path, error in failures.items():
                print(f"{path}: {error}")
            status = 1 if failures else 0
        else:
            n = records_in_ranges(client, args.records, os.path.abspath(args.xsd), args.record, args.out)
            print(f"{n} records written to {args.out}")
            status = 0
    if cluster is not None:
        cluster.close()
    return status


if __name__ == "__main__":
    raise SystemExit(main())
