"""Schemas loaded under a chosen resolution profile, and what a load did."""

from __future__ import annotations

import os
from typing import Iterable, Literal, TypedDict, Union

import tessaly
from tessaly_tools import _args, _native

# Spelled as a Union of Literals, which is what stubtest expects to find at run time.
Resolution = Union[Literal["literal"], Literal["complete"]]


class SkippedLocation(TypedDict):
    location: str
    document: str
    reason: Literal["not found", "refused"]


class UnresolvedNames(TypedDict):
    types: list[str]
    elements: list[str]
    groups: list[str]
    attribute_groups: list[str]
    attributes: list[str]


class SchemaReport(TypedDict):
    resolution: Resolution
    documents: list[str]
    skipped: list[SkippedLocation]
    unresolved: UnresolvedNames
    global_elements: int
    named_types: int


def load_schema(
    source: Union[str, bytes, os.PathLike[str]],
    *,
    resolution: Resolution = "complete",
    base_dir: Union[str, os.PathLike[str], None] = None,
    allowed_dirs: Union[Iterable[Union[str, os.PathLike[str]]], None] = None,
) -> tessaly.Schema:
    """Load an XSD (a path, or its bytes) into a `tessaly.Schema` that every
    `*_with_schema` function accepts.

    resolution="complete" follows the XSD standard: element, group, attribute
    and attribute group references, substitution groups, named types at every
    depth, text kinds and attribute types through named bases, repeating
    compositors as arrays, exact decimals; every attribute is kept (those of
    undeclared or simple-typed elements as strings). resolution="literal" gives
    exactly `tessaly.Schema.from_file` / `from_bytes`.

    base_dir: where the relative schemaLocation values of `source` resolve (for
    bytes: else the temporary directory). allowed_dirs: when given, a followed
    location counts only when it names a file under one of these directories;
    others are skipped and reported as refused by `describe`.
    """
    if resolution not in ("literal", "complete"):
        raise ValueError(f"resolution must be 'literal' or 'complete', not {resolution!r}")
    if isinstance(source, (bytes, bytearray, memoryview)):
        src: Union[str, bytes] = bytes(source)
    else:
        src = _args.path(source, "source")
    base = "" if base_dir is None else _args.path(base_dir, "base_dir")
    if isinstance(allowed_dirs, (str, bytes, os.PathLike)):
        # One path would be taken for its characters.
        raise TypeError("allowed_dirs must be an iterable of paths, not a single path")
    allowed = () if allowed_dirs is None else tuple(_args.path(d, "allowed_dirs item") for d in allowed_dirs)
    return _native.load_schema(src, resolution == "complete", base, allowed)


def describe(schema: tessaly.Schema) -> SchemaReport:
    """What the load of `schema` did: the documents read, the locations skipped
    (nothing found there, or refused), the names that resolved to nothing, the
    counts of global elements and named types, and the resolution profile."""
    _args.schema(schema)
    complete, documents, skipped, unresolved, global_elements, named_types = _native.schema_report(schema)
    types, elements, groups, attribute_groups, attributes = unresolved
    return {
        "resolution": "complete" if complete else "literal",
        "documents": documents,
        "skipped": [
            {"location": loc, "document": doc, "reason": "refused" if refused else "not found"}
            for loc, doc, refused in skipped
        ],
        "unresolved": {
            "types": types,
            "elements": elements,
            "groups": groups,
            "attribute_groups": attribute_groups,
            "attributes": attributes,
        },
        "global_elements": global_elements,
        "named_types": named_types,
    }
