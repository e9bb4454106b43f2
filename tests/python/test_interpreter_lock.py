import os
import subprocess
import sys
import textwrap

import pytest
import tessaly
from conftest import SMALL_XML, SMALL_XSD

# The worker's convert_to_file reads both of its inputs from named pipes,
# which only this (main) thread writes, after the call has begun. Opening a
# pipe blocks until the other end is opened, so the call can finish only if
# it lets the main thread run during the schema load and again during the
# conversion. Holding the interpreter lock instead deadlocks, which the
# subprocess timeout turns into a failure rather than a hung test run.
SCRIPT = textwrap.dedent("""
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
        [sys.executable, "-c", SCRIPT, xsd_fifo, xml_fifo, small["out"], small["xsd"], small["xml"]],
        capture_output=True, text=True, timeout=120,
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "ok"
    with open(small["out"]) as f:
        assert f.read() == tessaly.convert_bytes(SMALL_XML, SMALL_XSD)
