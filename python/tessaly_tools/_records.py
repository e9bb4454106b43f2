"""Records: one compact JSON text per record element, in document order."""

from __future__ import annotations

import io
import os
import re
from collections.abc import Iterator
from typing import Any, BinaryIO, Union

import tessaly
from tessaly_tools import _args, _native

Source = Union[str, "os.PathLike[str]", "os.PathLike[bytes]", bytes, BinaryIO]
PathArg = Union[str, "os.PathLike[str]", "os.PathLike[bytes]", bytes]

# A step is a local name: no white space, '/', '<', '>' or ':'.
_RECORD_PATH = re.compile(r"[^\s/<>:\x00]+(?:/[^\s/<>:\x00]+)*")


def _source(source: object) -> object:
    if isinstance(source, (str, bytes, os.PathLike)):
        return _args.path(source, "source")
    if isinstance(source, io.TextIOBase):
        raise TypeError("source must be a binary file object (opened with 'rb'), not a text one")
    if hasattr(source, "readinto") or hasattr(source, "read"):
        return source
    raise TypeError(f"source must be a path or a binary file object, not {type(source).__name__}")


def _request(
    source: object, schema: Any, record: object, convention: object, byte_range: Any
) -> tuple[object, tessaly.Schema, str, int, tuple[int, int] | None]:
    src = _source(source)
    _args.schema(schema)
    if not isinstance(record, str):
        raise TypeError(f"record must be a str, not {type(record).__name__}")
    if not _RECORD_PATH.fullmatch(record):
        raise ValueError(f"record must be local names separated by '/' (like 'a/b/c') or one local name: {record!r}")
    conv = _args.convention(convention)
    if byte_range is not None:
        try:
            start, end = (int(byte_range[0]), int(byte_range[1])) if len(byte_range) == 2 else (None, None)
        except TypeError:
            start = end = None
        if start is None or end is None or isinstance(byte_range, (str, bytes)):
            raise TypeError("byte_range must be a pair of integers (start, end)")
        if start < 0 or end < start:
            raise ValueError(f"byte_range must satisfy 0 <= start <= end: {byte_range!r}")
        if not isinstance(src, str):
            raise ValueError("byte_range needs a source that is a path")
        if start > 0 and "/" not in record:
            raise ValueError("byte_range starting past 0 needs a full record path ('a/b/c'), not a bare name")
        byte_range = (start, end)
    return src, schema, record, conv, byte_range


def iter_records(
    source: Source,
    schema: tessaly.Schema,
    record: str,
    convention: tessaly.Convention = tessaly.Convention.BADGERFISH,
    *,
    byte_range: tuple[int, int] | None = None,
) -> Iterator[str]:
    """Yield one compact JSON text per record element, in document order.

    `record` is "a/b/c" (local names from the document element down) or "c"
    (every element of that local name not inside another record). A record's
    value is the value the whole-document conversion gives that element.
    `byte_range=(start, end)` yields the records whose start tag begins in
    [start, end) of the file at `source`. The file is opened (and a bad
    argument reported) before the first record is asked for.
    """
    reader = _native.open_records(*_request(source, schema, record, convention, byte_range), None)
    return _drain(reader)


def _drain(reader: _native.RecordReader) -> Iterator[str]:
    while True:
        batch = reader.read()
        if not batch:
            return
        yield from batch


def convert_records_to_file(
    source: Source,
    schema: tessaly.Schema,
    record: str,
    output_path: PathArg,
    convention: tessaly.Convention = tessaly.Convention.BADGERFISH,
    *,
    byte_range: tuple[int, int] | None = None,
) -> int:
    """Write the records as NDJSON (one compact JSON text per line) and return their number.

    The interpreter lock is released while the work goes on. The text goes to
    a new file beside `output_path` that takes its name on success: on failure
    an existing output is left as it was and no partial file remains.
    """
    return to_file(source, schema, record, output_path, convention, byte_range, None)


def to_file(
    source: Source,
    schema: tessaly.Schema,
    record: str,
    output_path: PathArg,
    convention: tessaly.Convention,
    byte_range: tuple[int, int] | None,
    cancel: _native.Cancel | None,
) -> int:
    """convert_records_to_file, stopped early (KeyboardInterrupt) once `cancel` is set from another thread."""
    src, schema, record, conv, rng = _request(source, schema, record, convention, byte_range)
    output = _args.path(output_path, "output_path")
    return _native.convert_records_to_file(src, schema, record, output, conv, rng, cancel)
