"""Tools beyond the tessaly module: records (NDJSON) from documents of any size."""

from tessaly_tools._records import convert_records_to_file, iter_records

__all__ = ["convert_records_to_file", "iter_records"]
