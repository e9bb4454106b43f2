import os

import pytest
import tessaly
from conftest import IS_ROOT, SMALL_XML, SMALL_XSD

C = tessaly.Convention
NOT_FOUND = "No such file or directory (os error 2)"
NUL = "file name contained an unexpected NUL byte"


def bad_path(kind, d):
    """A path of the given kind inside `d`, and the I/O error text it gives."""
    if kind == "missing":
        return str(d / "missing" / "f"), NOT_FOUND
    if kind == "directory":
        return str(d), "Is a directory (os error 21)"
    if kind == "under a file":
        (d / "plain").write_text("x")
        return str(d / "plain" / "f"), "Not a directory (os error 20)"
    if kind == "nul":
        # handed to the OS it would be cut short and name d itself
        return str(d) + "\0/ignored", NUL
    if kind == "unreadable":
        if IS_ROOT:
            pytest.skip("root reads any file")
        f = d / "locked"
        f.write_bytes(SMALL_XSD)
        f.chmod(0)
        return str(f), "Permission denied (os error 13)"
    raise AssertionError(kind)


# (label, call with the bad path p, message prefix, kinds that do not apply)
PATH_CASES = [
    ("convert xml", lambda p, s: tessaly.convert(p, s["xsd"]), "Failed to read", ()),
    ("convert xsd", lambda p, s: tessaly.convert(s["xml"], p), "Failed to read", ()),
    ("with_schema xml", lambda p, s: tessaly.convert_with_schema(p, s["schema"]), "Failed to read", ()),
    ("from_file", lambda p, s: tessaly.Schema.from_file(p), "Failed to read", ()),
    ("to_file xsd", lambda p, s: tessaly.convert_to_file(s["xml"], p, s["out"]), "Failed to read", ()),
    # a directory opens for reading; it fails later, while being read
    ("to_file xml", lambda p, s: tessaly.convert_to_file(p, s["xsd"], s["out"]), "Failed to open", ("directory",)),
    ("to_file_with_schema xml", lambda p, s: tessaly.convert_to_file_with_schema(p, s["schema"], s["out"]),
     "Failed to open", ("directory",)),
    ("to_file output", lambda p, s: tessaly.convert_to_file(s["xml"], s["xsd"], p), "Failed to create", ("unreadable",)),
    ("to_file_with_schema output", lambda p, s: tessaly.convert_to_file_with_schema(s["xml"], s["schema"], p),
     "Failed to create", ("unreadable",)),
]


@pytest.mark.parametrize("kind", ["missing", "directory", "under a file", "nul", "unreadable"])
@pytest.mark.parametrize("label, call, prefix, skip", PATH_CASES, ids=[c[0] for c in PATH_CASES])
def test_unusable_paths(small, schema, tmp_path, kind, label, call, prefix, skip):
    if kind in skip:
        pytest.skip("does not apply")
    d = tmp_path / "bad"
    d.mkdir()
    path, text = bad_path(kind, d)
    with pytest.raises(RuntimeError) as info:
        call(path, dict(small, schema=schema))
    assert type(info.value) is RuntimeError
    assert info.value.args == (f"IO error: {prefix} {path}: {text}",)
    assert not os.path.exists(small["out"])


def test_schema_is_checked_before_the_xml(tmp_path):
    xml, xsd, out = (str(tmp_path / n) for n in ("none.xml", "none.xsd", "out.json"))
    for call in (lambda: tessaly.convert(xml, xsd), lambda: tessaly.convert_to_file(xml, xsd, out)):
        with pytest.raises(RuntimeError) as info:
            call()
        assert str(info.value) == f"IO error: Failed to read {xsd}: {NOT_FOUND}"
    assert not os.path.exists(out)


@pytest.mark.parametrize("label, call", [
    ("convert xml", lambda p, s: tessaly.convert(p, s["xsd"])),
    ("convert xsd", lambda p, s: tessaly.convert(s["xml"], p)),
    ("with_schema xml", lambda p, s: tessaly.convert_with_schema(p, s["schema"])),
    ("from_file", lambda p, s: tessaly.Schema.from_file(p)),
])
def test_files_that_are_not_utf8(small, schema, tmp_path, label, call):
    bad = tmp_path / "latin1.xml"
    bad.write_bytes("<r>caf\u00e9</r>".encode("latin-1"))
    with pytest.raises(RuntimeError) as info:
        call(str(bad), dict(small, schema=schema))
    assert str(info.value) == f"IO error: Failed to read {bad}: stream did not contain valid UTF-8"


DECODING = [
    (b"\xff", "invalid utf-8 sequence of 1 bytes from index 0"),
    (b"<r>\xc0\xaf</r>", "invalid utf-8 sequence of 1 bytes from index 3"),  # overlong
    (b"<r>\xed\xa0\x80</r>", "invalid utf-8 sequence of 1 bytes from index 3"),  # surrogate
    (b"<r>\xf0\x9f\x98A</r>", "invalid utf-8 sequence of 3 bytes from index 3"),
    (b"<r>\xe2\x82</r>", "invalid utf-8 sequence of 2 bytes from index 3"),
    (b"<r>\xc3\xa9</r>\xe2\x82", "incomplete utf-8 byte sequence from index 9"),
]


@pytest.mark.parametrize("data, text", DECODING)
def test_bytes_that_are_not_utf8(schema, tmpdir_env, data, text):
    cases = [
        (lambda: tessaly.convert_bytes(data, SMALL_XSD), "XML"),
        (lambda: tessaly.convert_bytes_with_schema(data, schema), "XML"),
        (lambda: tessaly.convert_bytes(SMALL_XML, data), "XSD"),
        (lambda: tessaly.Schema.from_bytes(data), "XSD"),
        (lambda: tessaly.convert_bytes(data, data), "XSD"),  # the schema is checked first
    ]
    for call, what in cases:
        with pytest.raises(RuntimeError) as info:
            call()
        assert info.value.args == (f"IO error: {what} is not valid UTF-8: {text}",)
    assert os.listdir(tmpdir_env) == []
