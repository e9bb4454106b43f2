"""Typed stub of the tessaly extension module."""

from typing import Final, final

__all__ = [
    "Schema",
    "Convention",
    "convert",
    "convert_to_file",
    "convert_bytes",
    "convert_with_schema",
    "convert_to_file_with_schema",
    "convert_bytes_with_schema",
]

@final
class Convention:
    """Selects which XML-to-JSON convention the converter follows."""

    BADGERFISH: Final[Convention]
    PARKER: Final[Convention]
    ABDERA: Final[Convention]

    def __int__(self) -> int: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    __hash__: None  # type: ignore[assignment]

@final
class Schema:
    """A parsed XSD schema that can be reused across multiple conversions."""

    @staticmethod
    def from_file(xsd_path: str) -> Schema: ...
    @staticmethod
    def from_bytes(xsd_bytes: bytes) -> Schema: ...

def convert(xml_path: str, xsd_path: str, convention: Convention = ...) -> str: ...
def convert_to_file(xml_path: str, xsd_path: str, output_path: str, convention: Convention = ...) -> None: ...
def convert_bytes(xml_bytes: bytes, xsd_bytes: bytes, convention: Convention = ...) -> str: ...
def convert_with_schema(xml_path: str, schema: Schema, convention: Convention = ...) -> str: ...
def convert_to_file_with_schema(
    xml_path: str, schema: Schema, output_path: str, convention: Convention = ...
) -> None: ...
def convert_bytes_with_schema(xml_bytes: bytes, schema: Schema, convention: Convention = ...) -> str: ...
