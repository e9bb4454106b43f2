"""How much of the corpus documents each resolution profile keeps and types.

For every set of the shared corpus (`../shared/corpus/*/MANIFEST.tsv`), in both
profiles (the module's literal one, and `tessaly_tools.load_schema`'s complete
one), BadgerFish:

- attributes: the share of the documents' attributes (namespace declarations
  aside) that appear in the output;
- kinds: the share of the leaf values (element text and attributes) that
  xmlschema's typed decoding of the same document (defaults not filled in)
  makes numbers or booleans, and that tessaly makes numbers or booleans too,
  matched by path of local names and count; and the same for strings;
- schema load time of the set's largest entry schema (best of 10).

Documents xmlschema cannot decode (or larger than --max-mb) count for the
attribute share only. The differences of the complete profile (paths where
xmlschema types a value and tessaly does not, or the other way) are listed.

    pip install xmlschema
    python bench/resolution_corpus.py [--per-set 40] [--max-mb 3] [--sets ubl-2.1,gpx]

It writes bench/resolution_corpus.md and prints it.
"""

from __future__ import annotations

import argparse
import collections
import csv
import json
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import tessaly

HERE = Path(__file__).resolve().parent
CORPUS = HERE.parent.parent / "shared" / "corpus"


def local(key: str) -> str:
    return key.rsplit(":", 1)[-1].rsplit("}", 1)[-1]


def kind(v) -> str | None:
    if isinstance(v, bool):
        return "boolean"
    if isinstance(v, (int, float)):
        return "number"
    if isinstance(v, str):
        return "string"
    return None  # null: an empty element, nothing to type


def leaves(value, path=()):
    """(path of local names, kind) of every scalar: element text as path + ('$',), attributes as path + ('@a',)."""
    stack = [(value, path)]
    while stack:
        v, p = stack.pop()
        if isinstance(v, list):
            stack.extend((x, p) for x in v)
        elif isinstance(v, dict):
            for k, x in v.items():
                if k.startswith("@xmlns") or k == "@xmlns":
                    continue
                if k == "$" or (k[:1] == "$" and k[1:].isdigit()):  # "$1", "$2": pieces of mixed content
                    if (kd := kind(x)) is not None:
                        yield p + ("$",), kd
                elif k.startswith("@"):
                    if (kd := kind(x)) is not None:
                        yield p + ("@" + local(k[1:]),), kd
                else:
                    stack.append((x, p + (local(k),)))
        elif (kd := kind(v)) is not None:
            yield p + ("$",), kd


def leaves_counted(value) -> collections.Counter:
    return collections.Counter(leaves(value))


def document_attributes(xml: Path) -> collections.Counter:
    """How many attributes the document has at each path of local names (namespace declarations aside)."""
    paths, stack = collections.Counter(), []
    for event, e in ET.iterparse(xml, events=("start", "end")):
        if event == "end":
            stack.pop()
            continue
        stack.append(local(e.tag))
        for a in e.attrib:
            if not a.startswith("xmlns"):
                paths[(*stack, "@" + local(a))] += 1
    return paths


def typed_agreement(ours: collections.Counter, theirs: collections.Counter):
    """Per kind of xmlschema: how many of its leaves tessaly gives the same kind, at the same path."""
    agree, total = collections.Counter(), collections.Counter()
    for (path, kd), n in theirs.items():
        total[kd] += n
        agree[kd] += min(n, ours.get((path, kd), 0))
    return agree, total


def load(xsd: Path, profile: str):
    if profile == "literal":
        return tessaly.Schema.from_file(str(xsd))
    import tessaly_tools

    return tessaly_tools.load_schema(xsd, resolution="complete")


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--per-set", type=int, default=40, help="documents per set, the first by path (default 40)")
    p.add_argument("--max-mb", type=float, default=3.0, help="larger documents skip xmlschema (default 3)")
    p.add_argument("--sets", default="", help="comma-separated set names (default: all)")
    a = p.parse_args(argv)
    import xmlschema

    try:
        import tessaly_tools

        profiles = ["literal", "complete"] if hasattr(tessaly_tools, "load_schema") else ["literal"]
    except ImportError:
        profiles = ["literal"]
    wanted = {s for s in a.sets.split(",") if s}
    rows, differences = [], collections.defaultdict(collections.Counter)
    for manifest in sorted(CORPUS.glob("*/MANIFEST.tsv")):
        name = manifest.parent.name
        if wanted and name not in wanted:
            continue
        docs = sorted((r for r in csv.DictReader(manifest.open(), delimiter="\t") if r.get("entry_xsd")),
                      key=lambda r: r["path"])[: a.per_set]
        if not docs:
            continue
        schemas = {prof: {} for prof in profiles}
        xs_schemas = {}
        attrs_doc = 0
        attrs_out = collections.Counter()
        agree = {prof: collections.Counter() for prof in profiles}
        total = collections.Counter()
        decoded = 0
        for row in docs:
            xml = manifest.parent / row["path"]
            xsd = manifest.parent / row["entry_xsd"]
            in_doc = document_attributes(xml)
            attrs_doc += sum(in_doc.values())
            outs = {}
            for prof in profiles:
                if xsd not in schemas[prof]:
                    schemas[prof][xsd] = load(xsd, prof)
                out = json.loads(tessaly.convert_with_schema(str(xml), schemas[prof][xsd]))
                outs[prof] = collections.Counter(leaves(out))
                attrs_out[prof] += sum(n for (path, _), n in outs[prof].items() if path[-1].startswith("@"))
            if xml.stat().st_size > a.max_mb * 1e6:
                continue
            try:
                if xsd not in xs_schemas:
                    xs_schemas[xsd] = xmlschema.XMLSchema(str(xsd))
                theirs_value = xs_schemas[xsd].to_dict(
                    str(xml), converter=xmlschema.BadgerFishConverter, decimal_type=float, validation="lax",
                    use_defaults=False,
                )
                if isinstance(theirs_value, tuple):  # lax validation: (data, errors)
                    theirs_value = theirs_value[0]
            except Exception:  # noqa: BLE001 - a document xmlschema cannot decode counts for attributes only
                continue
            # Attributes xmlschema fills in from fixed values are not the document's.
            theirs = collections.Counter({(path, kd): n for (path, kd), n in leaves_counted(theirs_value).items()
                                          if not path[-1].startswith("@") or in_doc[path[1:]] or in_doc[path]})
            decoded += 1
            for prof in profiles:
                g, t = typed_agreement(outs[prof], theirs)
                agree[prof] += g
                if prof == profiles[0]:
                    total += t
                if prof == profiles[-1]:
                    # Values xmlschema types as numbers or booleans that tessaly does not, and the other way.
                    for (path, kd), n in theirs.items():
                        missing = n - min(n, outs[prof].get((path, kd), 0))
                        if missing and kd != "string":
                            differences[name]["/".join(path[-3:]) + f": xmlschema {kd}"] += missing
                    for (path, kd), n in outs[prof].items():
                        extra = n - min(n, theirs.get((path, kd), 0))
                        if extra and kd != "string" and any(p == path for p, _ in theirs):
                            differences[name]["/".join(path[-3:]) + f": tessaly {kd}"] += extra
        load_ms = {}
        biggest = max({manifest.parent / r["entry_xsd"] for r in docs}, key=lambda x: x.stat().st_size)
        for prof in profiles:
            best = float("inf")
            for _ in range(10):
                t0 = time.perf_counter()
                load(biggest, prof)
                best = min(best, time.perf_counter() - t0)
            load_ms[prof] = best * 1000
        rows.append((name, len(docs), decoded, attrs_doc, attrs_out, agree, total, load_ms))

    def pct(n, d):
        return f"{100 * n / d:.1f}%" if d else "–"

    head = "| set | docs (decoded by xmlschema) | attributes kept | numbers/booleans typed | strings agree | schema load ms |"
    lines = [head, "|---|---:|---:|---:|---:|---:|"]
    for name, n, dec, ad, ao, ag, tot, lm in rows:
        typed = tot["number"] + tot["boolean"]
        cells = [
            " / ".join(pct(ao[p], ad) for p in profiles),
            " / ".join(pct(ag[p]["number"] + ag[p]["boolean"], typed) for p in profiles),
            " / ".join(pct(ag[p]["string"], tot["string"]) for p in profiles),
            " / ".join(f"{lm[p]:.1f}" for p in profiles),
        ]
        lines.append(f"| {name} | {n} ({dec}) | " + " | ".join(cells) + " |")
    text = "\n".join(lines) + "\n\nEach cell: " + " / ".join(profiles) + ".\n"
    if differences:
        text += ("\n## Numbers and booleans where the " + profiles[-1] + " profile and xmlschema differ"
                 " (path: who types it, value count; top 8 per set)\n\n")
        for name, diff in differences.items():
            text += f"- **{name}**: " + "; ".join(f"`{k}` {v}" for k, v in diff.most_common(8)) + "\n"
    (HERE / "resolution_corpus.md").write_text("# Resolution profiles on the corpus\n\n" + text)
    print(text)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
