"""Whole documents with a shared Schema, converted without the interpreter lock."""

from __future__ import annotations

import tessaly
from tessaly_tools import _args, _native
from tessaly_tools._records import PathArg


def convert_to_file(
    xml_path: PathArg,
    schema: tessaly.Schema,
    output_path: PathArg,
    convention: tessaly.Convention = tessaly.Convention.BADGERFISH,
    *,
    compact: bool = False,
) -> None:
    """Convert an XML file to a JSON file with a pre-parsed Schema, releasing the interpreter lock.

    The text is `tessaly.convert_to_file_with_schema`'s (compact when asked).
    It goes to a new file beside `output_path` that takes its name on success:
    on failure an existing output is left as it was and no partial file remains.
    """
    convert(xml_path, schema, output_path, convention, compact, None, True)


def convert(
    xml_path: PathArg,
    schema: tessaly.Schema,
    output_path: PathArg,
    convention: tessaly.Convention,
    compact: bool,
    cancel: _native.Cancel | None,
    read_ahead: bool,
) -> None:
    """convert_to_file, stopped early (KeyboardInterrupt) once `cancel` is set from another thread.

    With `read_ahead`, a long input is read on a second thread ahead of the
    conversion; a batch that keeps every core busy goes without.
    """
    xml = _args.path(xml_path, "xml_path")
    _args.schema(schema)
    out = _args.path(output_path, "output_path")
    _native.convert_to_file(xml, schema, out, _args.convention(convention), bool(compact), cancel, read_ahead)
