import ast
import inspect
from pathlib import Path

import pytest
import tessaly

NAMES = [
    "Schema",
    "Convention",
    "convert",
    "convert_to_file",
    "convert_bytes",
    "convert_with_schema",
    "convert_to_file_with_schema",
    "convert_bytes_with_schema",
]

DOCS = [
    (tessaly.convert, "(xml_path, xsd_path, convention=...)",
     "Convert an XML file to JSON using an XSD schema, returning the JSON as a string."),
    (tessaly.convert_bytes, "(xml_bytes, xsd_bytes, convention=...)",
     "Convert XML bytes + XSD bytes to a JSON string (fully in-memory)."),
    (tessaly.convert_to_file, "(xml_path, xsd_path, output_path, convention=...)",
     "Convert an XML file to a JSON file using an XSD schema. Streaming, low memory."),
    (tessaly.convert_with_schema, "(xml_path, schema, convention=...)",
     "Convert an XML file to JSON using a pre-parsed Schema, returning the JSON as a string."),
    (tessaly.convert_bytes_with_schema, "(xml_bytes, schema, convention=...)",
     "Convert XML bytes to a JSON string using a pre-parsed Schema (fully in-memory)."),
    (tessaly.convert_to_file_with_schema, "(xml_path, schema, output_path, convention=...)",
     "Convert an XML file to a JSON file using a pre-parsed Schema. Streaming, low memory."),
    (tessaly.Schema.from_file, "(xsd_path)", "Parse an XSD file into a reusable Schema object."),
    (tessaly.Schema.from_bytes, "(xsd_bytes)", "Parse XSD bytes into a reusable Schema object."),
]

CONVENTION_DOC = (
    "Selects which XML-to-JSON convention the converter follows.\n\n"
    "- `BadgerFish`: attributes prefixed with `@`, mixed-content text under `$`.\n"
    "- `Parker`: attributes dropped; simple elements collapse to their value; the\n"
    "  root element name is stripped.\n"
    "- `Abdera`: attributes nested under an `attributes` object; mixed-content\n"
    "  text under a `children` key.\n\n"
    "Across all three, schema-driven type coercion and array detection\n"
    "(`maxOccurs > 1` \u2192 always array) are preserved."
)


def test_all_lists_the_eight_names_in_order():
    assert tessaly.__all__ == NAMES
    assert all(hasattr(tessaly, name) for name in NAMES)
    assert tessaly.__doc__ == ""


@pytest.mark.parametrize("fn, signature, description", DOCS, ids=lambda v: getattr(v, "__qualname__", None))
def test_docstring_and_text_signature(fn, signature, description):
    assert fn.__doc__ == description
    assert fn.__text_signature__ == signature
    params = inspect.signature(fn).parameters.values()
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in params)


def test_class_docstrings_and_names():
    assert tessaly.Convention.__doc__ == CONVENTION_DOC
    assert tessaly.Schema.__doc__ == "A parsed XSD schema that can be reused across multiple conversions."
    for cls in (tessaly.Schema, tessaly.Convention):
        assert cls.__module__ == "tessaly"
        assert cls.__bases__ == (object,)


def test_stub_matches_the_module():
    """The installed .pyi names every function and method with the runtime parameters."""
    stub = Path(tessaly.__file__).with_name("tessaly.pyi")
    tree = ast.parse(stub.read_text())

    def params(node):
        return [a.arg for a in node.args.args]

    funcs = {n.name: params(n) for n in tree.body if isinstance(n, ast.FunctionDef)}
    classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
    runtime = {name: list(inspect.signature(getattr(tessaly, name)).parameters) for name in NAMES[2:]}
    assert funcs == runtime
    assert set(classes) == {"Schema", "Convention"}
    methods = {n.name: params(n) for n in classes["Schema"].body if isinstance(n, ast.FunctionDef)}
    assert methods == {"from_file": ["xsd_path"], "from_bytes": ["xsd_bytes"]}
    body = classes["Convention"].body
    members = {t.target.id for t in body if isinstance(t, ast.AnnAssign) and not t.target.id.startswith("__")}
    assert members == {k for k, v in vars(tessaly.Convention).items() if isinstance(v, tessaly.Convention)}
