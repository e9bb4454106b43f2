"""Type checkers see the installed packages: mypy and pyright check a typed
example that calls every function, and flag each misuse below (proof that
nothing is silently Any)."""

import importlib.util
import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "typed_usage.py"

# Each line is a mistake a checker must report.
MISUSES = """
def misuses(schema: tessaly.Schema) -> None:
    tessaly.convert(b"a.xml", "a.xsd")  # type: ignore[arg-type]
    tessaly.Schema.from_file(Path("a.xsd"))  # type: ignore[arg-type]
    tessaly.convert_with_schema("a.xml", schema, 1)  # type: ignore[arg-type]
    n: int = tessaly.convert_bytes(b"", b"")  # type: ignore[assignment]
    tessaly_tools.convert_many("a.xml", schema, "out", 2)  # type: ignore[arg-type]
    tessaly_tools.convert_many(["a.xml"], schema, "out", progress=print, workers="2")  # type: ignore[arg-type]
    tessaly_tools.iter_records("a.xml", schema, "r", byte_range=(0,))  # type: ignore[arg-type]
    tessaly_tools.load_schema("a.xsd", resolution="deep")  # type: ignore[arg-type]
    c: str = tessaly_tools.convert_records_to_file("a.xml", schema, "r", "o")  # type: ignore[assignment]
"""


@pytest.fixture
def checked(tmp_path):
    source = tmp_path / "typed_usage.py"
    source.write_text(EXAMPLE.read_text() + MISUSES)
    return source, [i + 1 for i, line in enumerate(source.read_text().splitlines()) if "# type: ignore" in line]


needs_mypy = pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")


@needs_mypy
def test_stubs_match_the_runtime(tmp_path):
    done = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "tessaly", "tessaly_tools"], cwd=tmp_path, capture_output=True, text=True
    )
    assert done.returncode == 0, done.stdout + done.stderr


@needs_mypy
def test_mypy(checked):
    source, _ = checked
    # From the file's own directory, so only the installed packages are found.
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--warn-unused-ignores", "--no-incremental", source.name],
        cwd=source.parent, capture_output=True, text=True,
    )
    assert done.returncode == 0, done.stdout + done.stderr


def test_pyright(checked):
    pyright = shutil.which("pyright")
    try:
        # Without node on the machine, pyright's wrapper tries to fetch one.
        runs = pyright is not None and subprocess.run([pyright, "--version"], capture_output=True, timeout=120).returncode == 0
    except subprocess.TimeoutExpired:
        runs = False
    if not runs:
        pytest.skip("pyright is not installed, or cannot run")
    source, expected = checked
    (source.parent / "pyrightconfig.json").write_text(
        json.dumps({"typeCheckingMode": "strict", "enableTypeIgnoreComments": False, "pythonPath": sys.executable})
    )
    done = subprocess.run([pyright, "--outputjson", source.name], cwd=source.parent, capture_output=True, text=True)
    found = json.loads(done.stdout)["generalDiagnostics"]
    errors = sorted({d["range"]["start"]["line"] + 1 for d in found if d["severity"] == "error"})
    assert errors == expected, json.dumps(found, indent=1)
