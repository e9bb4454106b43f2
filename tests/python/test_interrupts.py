"""Ctrl-C, memory exhaustion and the interpreter lock, each in a child
interpreter so that a signal, an address-space limit or a hang (a deadlock
that the timeout turns into a failure) stays there."""

import os
import subprocess
import sys
import textwrap

import pytest
import tessaly
from conftest import SMALL_XML, SMALL_XSD

# Shared set-up of every child: a schema, a document large enough that its
# conversion takes seconds, and an output file holding earlier content.
PRELUDE = textwrap.dedent(f"""
    import os, resource, signal, subprocess, sys, threading, tessaly
    signal.signal(signal.SIGINT, signal.default_int_handler)  # also when started with SIGINT ignored
    schema = tessaly.Schema.from_bytes({SMALL_XSD!r})
    work = sys.argv[1]
    xsd, xml, out = (os.path.join(work, n) for n in ("s.xsd", "big.xml", "out.json"))
    doc = b"<r>" + b"<n>12345</n>" * 10_000_000 + b"</r>"
    for path, data in ((xsd, {SMALL_XSD!r}), (xml, doc), (out, b"earlier")):
        with open(path, "wb") as f:
            f.write(data)
""")

CALLS = {
    "convert_bytes_with_schema": "tessaly.convert_bytes_with_schema(doc, schema)",
    "convert_with_schema": "tessaly.convert_with_schema(xml, schema)",
    "convert_bytes": "tessaly.convert_bytes(doc, open(xsd, 'rb').read())",
    "convert_to_file_with_schema": "tessaly.convert_to_file_with_schema(xml, schema, out)",
    "convert_to_file": "tessaly.convert_to_file(xml, xsd, out)",
}


def run_child(tmp_path, body):
    script = PRELUDE + textwrap.dedent(body)
    run = subprocess.run([sys.executable, "-c", script, str(tmp_path)], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    return run.stdout.strip()


@pytest.mark.parametrize("name", CALLS)
def test_ctrl_c_stops_a_conversion_and_leaves_the_output_as_it_was(tmp_path, name):
    # The lock-holding calls see the signal while they walk the input; the
    # one that releases the lock sees it once it has it back. A process of
    # its own sends it, since no Python thread runs while the lock is held.
    out = run_child(tmp_path, f"""
        subprocess.Popen(["sh", "-c", "sleep 0.2; kill -INT {{}}".format(os.getpid())])
        try:
            {CALLS[name]}
            print("finished")
        except KeyboardInterrupt:
            print("interrupted")
        print(open(out, "rb").read(7))
    """)
    written = "b'{\\n  \"r\"'" if name == "convert_to_file" else "b'earlier'"
    assert out.splitlines() == ["interrupted", written]


@pytest.mark.parametrize("name", ["convert_bytes_with_schema", "convert_to_file_with_schema", "convert_to_file"])
def test_exhausted_memory_is_a_memory_error(tmp_path, name):
    out = run_child(tmp_path, f"""
        vm = next(int(l.split()[1]) * 1024 for l in open("/proc/self/status") if l.startswith("VmSize"))
        resource.setrlimit(resource.RLIMIT_AS, (vm + 64 * 2**20,) * 2)
        try:
            {CALLS[name]}
            print("finished")
        except MemoryError:
            print("MemoryError")
        print(open(out, "rb").read(7))
    """)
    assert out.splitlines() == ["MemoryError", "b'earlier'"]


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs named pipes")
def test_schema_from_file_keeps_the_lock(tmp_path):
    # The schema is read from a pipe that a Python thread of the same process
    # writes: a load that let other threads run would finish; one that keeps
    # the lock waits for the writer for good.
    fifo = str(tmp_path / "s.fifo")
    os.mkfifo(fifo)
    script = textwrap.dedent(f"""
        import threading, tessaly
        def write():
            with open({fifo!r}, "wb") as f:
                f.write({SMALL_XSD!r})
        threading.Thread(target=write, daemon=True).start()
        tessaly.Schema.from_file({fifo!r})
    """)
    with pytest.raises(subprocess.TimeoutExpired):
        subprocess.run([sys.executable, "-c", script], capture_output=True, timeout=3)


# The worker's convert_to_file reads both of its inputs from named pipes,
# which only this (main) thread writes, after the call has begun. Opening a
# pipe blocks until the other end is opened, so the call can finish only if
# it lets the main thread run during the schema load and again during the
# conversion. Holding the interpreter lock instead deadlocks, which the
# subprocess timeout turns into a failure rather than a hung test run.
LOCK_SCRIPT = textwrap.dedent("""
    import sys, threading, tessaly
    xsd_fifo, xml_fifo, out, xsd, xml = sys.argv[1:6]
    errors = []
    def work():
        try:
            tessaly.convert_to_file(xml_fifo, xsd_fifo, out)
        except BaseException as e:
            errors.append(e)
    t = threading.Thread(target=work)
    t.start()
    with open(xsd_fifo, "wb") as f:
        f.write(open(xsd, "rb").read())
    with open(xml_fifo, "wb") as f:
        f.write(open(xml, "rb").read())
    t.join()
    if errors:
        raise errors[0]
    print("ok")
""")


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs named pipes")
def test_convert_to_file_releases_the_lock_for_schema_load_and_conversion(small):
    d = small["dir"]
    xsd_fifo, xml_fifo = str(d / "xsd.fifo"), str(d / "xml.fifo")
    os.mkfifo(xsd_fifo)
    os.mkfifo(xml_fifo)
    run = subprocess.run(
        [sys.executable, "-c", LOCK_SCRIPT, xsd_fifo, xml_fifo, small["out"], small["xsd"], small["xml"]],
        capture_output=True, text=True, timeout=120,
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "ok"
    with open(small["out"]) as f:
        assert f.read() == tessaly.convert_bytes(SMALL_XML, SMALL_XSD)
