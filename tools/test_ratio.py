"""Prints the non-blank lines of tests/ against those of the code we write
(src/, include/, python/, bench/, fuzz/, tools/) and their ratio; exits
with 1 when the ratio passes the limit (0.40 unless given as the argument)."""

import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
CODE = ["src", "include", "python", "bench", "fuzz", "tools"]
SOURCES = {".cpp", ".hpp", ".h", ".py", ".pyi", ".sh"}
SKIP = {"out", "corpus", "__pycache__"}  # generated outputs, seed corpora, caches


def lines(folder):
    total = 0
    for path in (ROOT / folder).rglob("*"):
        if path.suffix in SOURCES and path.is_file() and not SKIP & set(path.relative_to(ROOT).parts):
            total += sum(1 for line in path.read_text(encoding="utf-8").splitlines() if line.strip())
    return total


def main():
    limit = float(sys.argv[1]) if len(sys.argv) > 1 else 0.40
    tests, code = lines("tests"), sum(lines(folder) for folder in CODE)
    ratio = tests / code
    print(f"tests {tests} lines, code {code} lines, ratio {ratio:.3f} (limit {limit:.2f})")
    return 1 if ratio > limit else 0


if __name__ == "__main__":
    sys.exit(main())
