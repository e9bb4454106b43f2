"""Tools beyond the tessaly module: records (NDJSON) from documents of any size,
file conversions with a shared Schema that release the interpreter lock,
batches of files converted on worker threads, and schemas resolved as the XSD
standard says (load_schema, describe)."""

from importlib.metadata import version as _version

from tessaly_tools._batch import BatchResult, convert_many
from tessaly_tools._documents import convert_to_file
from tessaly_tools._records import convert_records_to_file, iter_records
from tessaly_tools._schema import describe, load_schema

__all__ = [
    "BatchResult",
    "convert_many",
    "convert_records_to_file",
    "convert_to_file",
    "describe",
    "iter_records",
    "load_schema",
]

__version__: str = _version("tessaly")
