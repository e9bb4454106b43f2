"""Tools beyond the tessaly module: records (NDJSON) from documents of any size,
and file conversions with a shared Schema that release the interpreter lock."""

from tessaly_tools._documents import convert_to_file
from tessaly_tools._records import convert_records_to_file, iter_records

__all__ = ["convert_records_to_file", "convert_to_file", "iter_records"]
