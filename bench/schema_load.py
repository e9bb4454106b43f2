#!/usr/bin/env python3
"""Schema load times of the C++ core.

Builds bench/schema_load.cpp with CMake (into build/bench/) and
runs it: two synthetic worst cases for named-type resolution and every entry
schema of the shared corpus, each checked, then timed over repeated loads.

    python3 bench/schema_load.py [corpus-dir]

The corpus defaults to <repo root>/../shared/corpus; without it only the
synthetic cases run.
"""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build_target(name):
    """The core's bench program `name`, built with CMake into build/bench; its path."""
    build = os.path.join(ROOT, "build", "bench")
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DTESSALY_BENCH=ON", "-DTESSALY_PYTHON=OFF"], check=True, capture_output=True)
    subprocess.run(["cmake", "--build", build, "--target", name], check=True, capture_output=True)
    return os.path.join(build, name)


def main():
    exe = build_target("schema_load")
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(ROOT), "shared", "corpus")
    return subprocess.run([exe, corpus]).returncode


if __name__ == "__main__":
    sys.exit(main())
