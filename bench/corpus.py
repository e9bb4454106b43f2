"""The real document sets of the shared corpus, as benchmark inputs.

Each set folder has a MANIFEST.tsv naming, for every XML instance, its entry
XSD relative to the set folder. From it come the inputs that are converted
(the large OpenStreetMap extract, the UBL invoices) and the list of entry
XSDs whose load time is measured.

The corpus lives beside the checkout, in <repo root>/../shared/corpus. When
that folder is absent, every function here finds nothing and says so once.
"""

from __future__ import annotations

import csv
import re
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
CORPUS = REPO.parent / "shared" / "corpus"

_LOCATION = re.compile(
    rb"<(?:[\w.-]+:)?(?:include|import)\b[^>]*?\bschemaLocation\s*=\s*(?:\"([^\"]*)\"|'([^']*)')", re.S
)


@dataclass(frozen=True)
class EntrySchema:
    set_name: str
    path: Path
    files: int  # XSD documents a load reads
    bytes: int  # their total size


_noted: set[Path] = set()


def present(root: Path | None = None) -> bool:
    """Whether the corpus folder exists; prints a note the first time it does not."""
    root = root or CORPUS
    if root.is_dir():
        return True
    if root not in _noted:
        _noted.add(root)
        print(f"note: no corpus at {root}; its rows are skipped", flush=True)
    return False


def manifest_rows(root: Path | None = None) -> list[tuple[str, dict]]:
    root = root or CORPUS
    rows: list[tuple[str, dict]] = []
    if not present(root):
        return rows
    for manifest in sorted(root.glob("*/MANIFEST.tsv")):
        with open(manifest, newline="", encoding="utf-8") as f:
            for row in csv.DictReader(f, delimiter="\t"):
                rows.append((manifest.parent.name, row))
    return rows


def reachable_documents(entry: Path) -> list[Path]:
    """The XSD documents a load of `entry` reads.

    Locations are joined to the entry document's own directory, also inside
    included documents, and missing files are skipped: the loader's rule.
    """
    base = entry.parent
    seen: dict[Path, None] = {}
    pending = [entry]
    while pending:
        path = pending.pop()
        key = path.resolve()
        if key in seen or not path.is_file():
            continue
        seen[key] = None
        for match in _LOCATION.finditer(path.read_bytes()):
            location = (match.group(1) or match.group(2)).decode("utf-8", "replace")
            pending.append(base / location)
    return list(seen)


def entry_schemas(root: Path | None = None) -> list[EntrySchema]:
    root = root or CORPUS
    found: dict[Path, str] = {}
    for set_name, row in manifest_rows(root):
        if row.get("entry_xsd"):
            found.setdefault(root / set_name / row["entry_xsd"], set_name)
    entries = []
    for path, set_name in sorted(found.items(), key=lambda item: (item[1], str(item[0]))):
        docs = reachable_documents(path)
        entries.append(EntrySchema(set_name, path, len(docs), sum(d.stat().st_size for d in docs)))
    return entries


def instances(set_name: str, entry_xsd: str, root: Path | None = None) -> list[Path]:
    """The instances of one set that belong to `entry_xsd`, well-formed only, in manifest order."""
    root = root or CORPUS
    return [
        root / name / row["path"]
        for name, row in manifest_rows(root)
        if name == set_name and row["entry_xsd"] == entry_xsd and row.get("well_formed", "yes") == "yes"
    ]
