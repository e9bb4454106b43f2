"""Builds the core's GoogleTest suite with CMake and runs it, so that one
`python -m pytest` runs the C++ tests too."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
BUILD = ROOT / "build" / "core-tests"
INSTALL_HINT = "GoogleTest is not installed: on Debian or Ubuntu, apt-get install libgtest-dev"
# What CMake's find_package(GTest REQUIRED) prints when it finds neither the
# FindGTest module's files nor a GTest package configuration.
GTEST_MISSING = re.compile(r'Could NOT find GTest\b|package configuration file provided by "GTest"')


def tool(name):
    """The tool installed next to this interpreter (a venv's cmake and ninja), else the one on PATH."""
    local = Path(sys.executable).parent / name
    return str(local) if local.exists() else shutil.which(name)


def on_ci():
    return os.environ.get("CI", "").strip().lower() in {"1", "true", "yes", "on"}


def gtest_missing(configure_output):
    # CMake wraps its messages at 80 columns; join the lines before matching.
    return bool(GTEST_MISSING.search(" ".join(configure_output.split())))


def run(cmd, configure=False):
    proc = subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True)
    output = f"$ {' '.join(cmd)}\n{proc.stdout}{proc.stderr}"
    if proc.returncode and configure and not on_ci() and gtest_missing(output):
        pytest.skip(INSTALL_HINT)
    assert proc.returncode == 0, output
    return output


def test_core_cpp_suite():
    cmake, ninja = tool("cmake"), tool("ninja")
    assert cmake and ninja, "cmake and ninja are needed: pip install '.[test]'"
    run([cmake, "-S", ".", "-B", str(BUILD), "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}",
         "-DTESSALY_TESTS=ON", "-DCMAKE_BUILD_TYPE=Debug"], configure=True)
    run([cmake, "--build", str(BUILD)])
    binary = BUILD / "tessaly_core_tests"
    assert os.access(binary, os.X_OK), f"{binary} was not built"
    output = run([str(binary), "--gtest_brief=1"])
    # Not a single test found would pass silently otherwise.
    assert "[  PASSED  ]" in output and "[  PASSED  ] 0 tests" not in output, output
