"""The benchmark harness refuses a timed call whose output differs from the reference."""

import json
import subprocess
import sys
import types
from pathlib import Path

import pytest

import tessaly

BENCH = Path(__file__).resolve().parents[2] / "bench"


def _load(name):
    """Imports bench/<name>.py under a private name: bench/ is a folder of scripts, not a package."""
    path = BENCH / f"{name}.py"
    module = types.ModuleType(f"bench_{name}")
    module.__file__ = str(path)
    sys.modules[module.__name__] = module  # dataclasses look their module up here
    exec(compile(path.read_text(encoding="utf-8"), str(path), "exec"), module.__dict__)
    return module


@pytest.mark.parametrize("case, pair", [("tessaly.convert_bytes_with_schema", False),
                                        ("tessaly.convert_to_file_with_schema", False),
                                        ("tessaly.convert_to_file_pair_2threads", True)])
def test_timed_calls_are_checked_against_the_reference_output(case, pair, tmp_path):
    generate, cases = _load("generate"), _load("cases")
    xsd = generate.schema_path(tmp_path)
    paths = [tmp_path / f"feed{seed}.xml" for seed in ((1, 2) if pair else (1,))]
    for seed, path in enumerate(paths, 1):
        generate.write_feed(path, 30_000, seed)
    schema = tessaly.Schema.from_file(str(xsd))
    good = [cases.digest_text(tessaly.convert_bytes_with_schema(p.read_bytes(), schema)) for p in paths]

    def worker(reference):
        job = {"case": case, "inputs": [str(p) for p in paths], "xsd": str(xsd), "repeat": 2,
               "reference": reference, "out_dir": str(tmp_path / "scratch")}
        return subprocess.run([sys.executable, str(BENCH / "cases.py"), json.dumps(job)],
                              capture_output=True, text=True)

    ok = worker(good)
    assert ok.returncode == 0, ok.stderr
    assert json.loads(ok.stdout)["runs"] == 2
    bad = worker(good[:-1] + ["0" * 64])
    assert bad.returncode == 3
    assert "OUTPUT MISMATCH" in bad.stderr
