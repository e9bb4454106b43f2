# The native part, called only by this package's checked wrappers.

from typing import Any, final, type_check_only

import tessaly

# Not a name of the module: its instances come from open_records only.
@final
@type_check_only
class RecordReader:
    def read(self) -> list[str]: ...

@final
class Cancel:
    def set(self) -> None: ...
    def is_set(self) -> bool: ...

def open_records(
    source: Any,
    schema: tessaly.Schema,
    record: str,
    convention: int,
    byte_range: tuple[int, int] | None,
    cancel: Cancel | None,
) -> RecordReader: ...
def convert_records_to_file(
    source: Any,
    schema: tessaly.Schema,
    record: str,
    output_path: str,
    convention: int,
    byte_range: tuple[int, int] | None,
    cancel: Cancel | None,
) -> int: ...
def convert_to_file(
    xml_path: str,
    schema: tessaly.Schema,
    output_path: str,
    convention: int,
    compact: bool,
    cancel: Cancel | None,
    read_ahead: bool,
) -> None: ...
def load_schema(source: str | bytes, complete: bool, base_dir: str, allowed_dirs: tuple[str, ...]) -> tessaly.Schema: ...
def schema_report(
    schema: tessaly.Schema
) -> tuple[
    bool,
    list[str],
    list[tuple[str, str, bool]],
    tuple[list[str], list[str], list[str], list[str], list[str]],
    int,
    int,
]: ...
