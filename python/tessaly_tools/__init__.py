"""Tools beyond the tessaly module: records (NDJSON) from documents of any size,
file conversions with a shared Schema that release the interpreter lock, and
batches of files converted on worker threads."""

from importlib.metadata import version as _version

from tessaly_tools._batch import BatchResult, convert_many
from tessaly_tools._documents import convert_to_file
from tessaly_tools._records import convert_records_to_file, iter_records

__all__ = [
    "BatchResult",
    "convert_many",
    "convert_records_to_file",
    "convert_to_file",
    "iter_records",
]

__version__: str = _version("tessaly")
