"""Many documents under one shared Schema, converted on worker threads."""

from __future__ import annotations

import os
import queue
import threading
from collections.abc import Callable, Iterable, Sequence
from dataclasses import dataclass, field
from functools import partial

import tessaly
from tessaly_tools import _args
from tessaly_tools import _native
from tessaly_tools._documents import convert
from tessaly_tools._records import PathArg

#: Called once per input, on the calling thread, as each one finishes: its
#: path, its size in bytes and the error it failed with (None on success).
Progress = Callable[[str, int, "Exception | None"], object]


@dataclass
class BatchResult:
    """What `convert_many` did: (input, output) pairs converted, (input, error) pairs that failed."""

    converted: list[tuple[str, str]] = field(default_factory=list)
    failed: list[tuple[str, Exception]] = field(default_factory=list)


def plan(inputs: Iterable[PathArg], out_dir: PathArg) -> list[tuple[str, str]]:
    """The (input, output) pairs of a batch, outputs under `out_dir`.

    A directory stands for its `*.xml` files at any depth, each output at its
    path relative to the directory; a file given by a relative path inside the
    working directory keeps that path, any other file its bare name. Two
    inputs that would share an output are an error, found before any work.
    """
    if isinstance(inputs, (str, bytes, os.PathLike)):
        raise TypeError("inputs must be an iterable of paths, not a single path")
    root = _args.path(out_dir, "out_dir")
    pairs: list[tuple[str, str]] = []
    for item in inputs:
        source = _args.path(item, "input")
        if os.path.isdir(source):
            found = []
            for top, dirs, files in os.walk(source):
                dirs.sort()
                found += [os.path.join(top, f) for f in sorted(files) if f.lower().endswith(".xml")]
            pairs += [(f, _output(root, os.path.relpath(f, source))) for f in found]
        else:
            rel = os.path.normpath(source)
            if os.path.isabs(rel) or rel == os.pardir or rel.startswith(os.pardir + os.sep):
                rel = os.path.basename(rel)
            pairs.append((source, _output(root, rel)))
    seen: dict[str, str] = {}
    for source, out in pairs:
        if out in seen:
            raise ValueError(f"{seen[out]} and {source} would both be converted to {out}")
        seen[out] = source
    return pairs


def _output(root: str, rel: str) -> str:
    stem, ext = os.path.splitext(rel)
    return os.path.join(root, (stem if ext.lower() == ".xml" else rel) + ".json")


def _one(
    source: str,
    out: str,
    schema: tessaly.Schema,
    convention: tessaly.Convention,
    compact: bool,
    folders: dict[str, OSError | None],
    read_ahead: bool,
    cancel: _native.Cancel,
) -> None:
    error = folders.get(os.path.dirname(out))
    if error is not None:
        raise error
    convert(source, schema, out, convention, compact, cancel, read_ahead)


def _make_folders(pairs: list[tuple[str, str]]) -> dict[str, OSError | None]:
    """The output folders, made once each before the work (not once per file,
    which would hold the interpreter lock for nothing); a folder that cannot
    be made fails the inputs that would go there."""
    folders: dict[str, OSError | None] = {}
    for _, out in pairs:
        parent = os.path.dirname(out)
        if parent not in folders:
            try:
                if parent:
                    os.makedirs(parent, exist_ok=True)
                folders[parent] = None
            except OSError as e:
                folders[parent] = e
    return folders


def each(
    jobs: Sequence[Callable[[_native.Cancel], object]],
    workers: int,
    finished: Callable[[int, Exception | None], object],
    *,
    stop_on_error: bool = False,
) -> None:
    """Run `jobs` on up to `workers` threads; `finished(i, error)` is called
    on the calling thread as job i ends. Each job is given the batch's stop
    token. With `stop_on_error`, the first error is raised at once and stops
    the jobs under way (their outputs left as they were); so does Ctrl-C."""
    cancel = _native.Cancel()
    if workers == 1 or len(jobs) <= 1:
        # On the calling thread, where Ctrl-C reaches the conversion itself.
        for i, job in enumerate(jobs):
            try:
                job(cancel)
            except Exception as e:  # noqa: BLE001 - collected per job
                if stop_on_error:
                    raise
                finished(i, e)
            else:
                finished(i, None)
        return
    # Plain threads that take the next job from a queue, and one queue of
    # outcomes: for thousands of small files, futures and wait() (which walks
    # every pending future each time) would cost more of the interpreter lock
    # than the conversions themselves leave free.
    todo: queue.SimpleQueue[int] = queue.SimpleQueue()
    for i in range(len(jobs)):
        todo.put(i)
    outcomes: queue.SimpleQueue[tuple[int, BaseException | None]] = queue.SimpleQueue()
    stop = threading.Event()

    def work() -> None:
        while not stop.is_set():
            try:
                i = todo.get_nowait()
            except queue.Empty:
                return
            try:
                jobs[i](cancel)
            except BaseException as e:  # noqa: BLE001 - handed to the calling thread
                outcomes.put((i, e))
            else:
                outcomes.put((i, None))

    threads = [threading.Thread(target=work, name=f"tessaly-{k}") for k in range(min(workers, len(jobs)))]
    for thread in threads:
        thread.start()
    try:
        for _ in range(len(jobs)):
            i, error = outcomes.get()
            if error is not None and (stop_on_error or not isinstance(error, Exception)):
                raise error
            finished(i, error if isinstance(error, Exception) else None)
    finally:
        # On Ctrl-C or a stop nothing new starts, and the conversions under
        # way stop at their next check (within 65,536 events), each leaving
        # its output as it was. After the last job this stops nothing.
        stop.set()
        cancel.set()
        for thread in threads:
            thread.join()


def _size(path: str) -> int:
    try:
        return os.stat(path).st_size
    except OSError:
        return 0


def run(
    pairs: list[tuple[str, str]],
    schema: tessaly.Schema,
    convention: tessaly.Convention = tessaly.Convention.BADGERFISH,
    *,
    compact: bool = False,
    workers: int | None = None,
    progress: Progress | None = None,
) -> BatchResult:
    """Convert each (input, output) pair; see `convert_many`."""
    _args.schema(schema)
    _args.convention(convention)
    if workers is None:
        # The cores this process may run on (a container's share), not the machine's.
        workers = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1
    if isinstance(workers, bool) or not isinstance(workers, int) or workers < 1:
        raise ValueError(f"workers must be a positive int, not {workers!r}")
    result = BatchResult()
    outcome: dict[int, Exception | None] = {}

    def finished(i: int, error: Exception | None) -> None:
        outcome[i] = error
        if progress is not None:
            progress(pairs[i][0], _size(pairs[i][0]), error)

    folders = _make_folders(pairs)
    # One file on each worker keeps the cores busy: no thread reads ahead.
    read_ahead = workers == 1 or len(pairs) == 1
    jobs = [partial(_one, source, out, schema, convention, compact, folders, read_ahead) for source, out in pairs]
    each(jobs, workers, finished)
    for i, (source, out) in enumerate(pairs):
        error = outcome[i]
        if error is None:
            result.converted.append((source, out))
        else:
            result.failed.append((source, error))
    return result


def convert_many(
    inputs: Iterable[PathArg],
    schema: tessaly.Schema,
    out_dir: PathArg,
    convention: tessaly.Convention = tessaly.Convention.BADGERFISH,
    *,
    compact: bool = False,
    workers: int | None = None,
    progress: Progress | None = None,
) -> BatchResult:
    """Convert many XML files to JSON files under `out_dir` on `workers` threads (default: the cores).

    `inputs` are files and directories (a directory stands for its `*.xml`
    files at any depth); outputs keep the inputs' relative paths with `.json`
    for `.xml`. Every conversion uses the one `schema` and releases the
    interpreter lock (`convert_to_file`). A failed input is collected with its
    error and leaves no output; the others go on. `progress(path, size, error)`
    is called on the calling thread as each input finishes.
    """
    _args.schema(schema)
    return run(
        plan(inputs, out_dir), schema, convention, compact=compact, workers=workers, progress=progress
    )
