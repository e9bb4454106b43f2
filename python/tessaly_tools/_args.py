"""Argument checks shared by the package's functions: clear errors before any work."""

from __future__ import annotations

import os

import tessaly


def path(value: object, name: str) -> str:
    """`value` as a str path (str, bytes or os.PathLike)."""
    try:
        text = os.fsdecode(os.fspath(value))  # type: ignore[call-overload]
    except TypeError:
        raise TypeError(f"{name} must be a path (str or os.PathLike), not {type(value).__name__}") from None
    if not text:
        raise ValueError(f"{name} is an empty path")
    return text


def schema(value: object) -> tessaly.Schema:
    if not isinstance(value, tessaly.Schema):
        raise TypeError(f"schema must be a tessaly.Schema, not {type(value).__name__}")
    return value


def convention(value: object) -> int:
    if not isinstance(value, tessaly.Convention):
        raise TypeError(f"convention must be a tessaly.Convention, not {type(value).__name__}")
    return int(value)
