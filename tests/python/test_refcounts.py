import gc
import sys

import pytest
import tessaly
from conftest import SMALL_XML, SMALL_XSD

C = tessaly.Convention
ROUNDS = 200


def make_calls(small, schema):
    """Calls that succeed, fail in the core, and fail in binding, with every argument they pass."""
    xml, xsd, out = (small[k] for k in ("xml", "xsd", "out"))
    missing = xml + ".missing"
    bad = b"\xff" + SMALL_XML
    conv = C.PARKER
    return [
        (tessaly.convert, (xml, xsd, conv)),
        (tessaly.convert, (missing, xsd, conv)),
        (tessaly.convert_bytes, (SMALL_XML, SMALL_XSD, conv)),
        (tessaly.convert_bytes, (bad, SMALL_XSD, conv)),
        (tessaly.convert_to_file, (xml, xsd, out, conv)),
        (tessaly.convert_to_file, (missing, xsd, out, conv)),
        (tessaly.convert_with_schema, (xml, schema, conv)),
        (tessaly.convert_with_schema, (missing, schema, conv)),
        (tessaly.convert_bytes_with_schema, (SMALL_XML, schema, conv)),
        (tessaly.convert_bytes_with_schema, (bad, schema, conv)),
        (tessaly.convert_to_file_with_schema, (xml, schema, out, conv)),
        (tessaly.convert_to_file_with_schema, (missing, schema, out, conv)),
        (tessaly.Schema.from_file, (xsd,)),
        (tessaly.Schema.from_file, (missing,)),
        (tessaly.Schema.from_bytes, (SMALL_XSD,)),
        (tessaly.Schema.from_bytes, (bad,)),
        (tessaly.convert, (xml, schema)),  # wrong type
        (tessaly.convert_bytes, (SMALL_XML, SMALL_XSD, None)),  # None
        (tessaly.convert_with_schema, (xml, schema, conv, conv)),  # too many
    ]


def test_reference_counts_do_not_grow_across_calls(small, schema):
    calls = make_calls(small, schema)
    watched = {id(o): o for _, args in calls for o in args if o is not None}
    watched.update({id(o): o for o in (tessaly.Schema, tessaly.Convention, C.BADGERFISH, C.PARKER, C.ABDERA)})

    def run_all():
        for fn, args in calls:
            for _ in range(ROUNDS):
                try:
                    fn(*args)
                except (TypeError, RuntimeError):
                    pass

    run_all()  # warm up caches (UTF-8 forms of str arguments, interned names)
    gc.collect()
    before = {k: sys.getrefcount(o) for k, o in watched.items()}
    run_all()
    gc.collect()
    after = {k: sys.getrefcount(o) for k, o in watched.items()}
    grown = {repr(watched[k])[:60]: after[k] - before[k] for k in before if after[k] != before[k]}
    assert grown == {}


def test_freed_schemas_release_their_type():
    def make_and_drop():
        for _ in range(ROUNDS):
            tessaly.Schema.from_bytes(SMALL_XSD)
        with pytest.raises(RuntimeError):
            tessaly.Schema.from_bytes(b"<unclosed></wrong>")

    make_and_drop()
    gc.collect()  # tracebacks of the caught errors form cycles
    before = sys.getrefcount(tessaly.Schema)
    make_and_drop()
    gc.collect()
    after = sys.getrefcount(tessaly.Schema)  # outside the assert, which would hold one more
    assert after == before
