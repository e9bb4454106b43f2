#!/usr/bin/env python3
"""Schema load times of the C++ core.

Builds bench/schema_load.cpp against the core's sources (into bench/out/) and
runs it: two synthetic worst cases for named-type resolution and every entry
schema of the shared corpus, each checked, then timed over repeated loads.

    python3 bench/schema_load.py [corpus-dir]

The corpus defaults to <repo root>/../shared/corpus; without it only the
synthetic cases run.
"""
import glob
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build(out):
    sources = [os.path.join(ROOT, "bench", "schema_load.cpp"), os.path.join(ROOT, "src", "error.cpp")]
    for folder in ("io", "xml", "schema"):
        sources += sorted(glob.glob(os.path.join(ROOT, "src", folder, "*.cpp")))
    newest = max(os.path.getmtime(s) for s in sources + glob.glob(os.path.join(ROOT, "src", "*", "*.hpp")))
    if os.path.exists(out) and os.path.getmtime(out) >= newest:
        return
    cxx = os.environ.get("CXX", "g++")
    cmd = [cxx, "-std=c++23", "-O2", "-DNDEBUG", "-pthread", "-I" + os.path.join(ROOT, "src"), *sources, "-o", out]
    subprocess.run(cmd, check=True)


def main():
    out_dir = os.path.join(ROOT, "bench", "out")
    os.makedirs(out_dir, exist_ok=True)
    exe = os.path.join(out_dir, "schema_load")
    build(exe)
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(ROOT), "shared", "corpus")
    return subprocess.run([exe, corpus]).returncode


if __name__ == "__main__":
    sys.exit(main())
