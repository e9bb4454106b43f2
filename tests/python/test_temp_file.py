import os
import subprocess
import sys
import textwrap

import pytest
import tessaly
from conftest import IS_ROOT, SMALL_JSON, SMALL_XML, SMALL_XSD, loads

FACTORIES = [
    ("convert_bytes", lambda xsd: tessaly.convert_bytes(SMALL_XML, xsd)),
    ("Schema.from_bytes", lambda xsd: tessaly.Schema.from_bytes(xsd)),
]
IDS = [f[0] for f in FACTORIES]


@pytest.mark.parametrize("name, call", FACTORIES, ids=IDS)
@pytest.mark.parametrize("xsd, error", [
    (SMALL_XSD, None),
    (b"<xs:schema><unclosed></xs:schema>", "XSD parse error: XML parse error: "),
])
def test_nothing_is_left_behind(tmpdir_env, name, call, xsd, error):
    for _ in range(3):
        if error:
            with pytest.raises(RuntimeError, match="^" + error):
                call(xsd)
        else:
            call(xsd)
        assert os.listdir(tmpdir_env) == []


@pytest.mark.parametrize("name, call", FACTORIES, ids=IDS)
def test_unusable_temporary_directory(tmp_path, monkeypatch, name, call):
    (tmp_path / "file").write_text("x")
    readonly = tmp_path / "readonly"
    readonly.mkdir(mode=0o500)
    cases = [
        (tmp_path / "missing", "No such file or directory (os error 2)"),
        (tmp_path / "file", "Not a directory (os error 20)"),
    ]
    if not IS_ROOT:
        cases.append((readonly, "Permission denied (os error 13)"))
    for tmpdir, text in cases:
        monkeypatch.setenv("TMPDIR", str(tmpdir))
        with pytest.raises(RuntimeError) as info:
            call(SMALL_XSD)
        assert info.value.args == (f"IO error: Failed to write temp XSD: {text}",)


@pytest.mark.parametrize("name, call", FACTORIES, ids=IDS)
def test_planted_links_are_never_followed(tmpdir_env, tmp_path, name, call):
    victim = tmp_path / "victim.txt"
    victim.write_text("precious")
    planted = {
        "_tessaly_temp.xsd": victim,  # the old fixed name
        "_tessaly_.xsd": tmp_path / "would-be-created",  # dangling: must not be created
    }
    for link, target in planted.items():
        os.symlink(target, tmpdir_env / link)
    call(SMALL_XSD)
    assert victim.read_text() == "precious"
    assert not (tmp_path / "would-be-created").exists()
    assert {n: os.readlink(tmpdir_env / n) for n in os.listdir(tmpdir_env)} == {k: str(v) for k, v in planted.items()}


def test_relative_schema_locations_resolve_against_the_temporary_directory(tmpdir_env):
    (tmpdir_env / "common.xsd").write_bytes(SMALL_XSD)
    xsd = (b'<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">'
           b'<xs:include schemaLocation="common.xsd"/></xs:schema>')
    assert loads(tessaly.convert_bytes(SMALL_XML, xsd)) == SMALL_JSON
    assert loads(tessaly.convert_bytes_with_schema(SMALL_XML, tessaly.Schema.from_bytes(xsd))) == SMALL_JSON
    assert os.listdir(tmpdir_env) == ["common.xsd"]


def test_processes_sharing_a_temporary_directory_keep_their_own_schema(tmpdir_env):
    # Each process converts the same document under its own schema; a name
    # shared between them would hand some calls the other process's schema.
    script = textwrap.dedent("""
        import sys, tessaly
        kind = sys.argv[1]
        xsd = ('<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">'
               '<xs:element name="v" type="xs:%s"/></xs:schema>' % kind).encode()
        want = {"int": '{\\n  "v": 7\\n}', "string": '{\\n  "v": "7"\\n}'}[kind]
        bad = sum(tessaly.convert_bytes(b"<v>7</v>", xsd) != want for _ in range(300))
        print(bad)
    """)
    procs = [subprocess.Popen([sys.executable, "-c", script, kind], stdout=subprocess.PIPE, text=True)
             for kind in ("int", "string", "int", "string")]
    outputs = [p.communicate(timeout=120)[0].strip() for p in procs]
    assert [p.returncode for p in procs] == [0] * 4
    assert outputs == ["0"] * 4
    assert os.listdir(tmpdir_env) == []
