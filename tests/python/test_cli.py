"""The `tessaly` command and convert_many: outputs, exit statuses, failures
reported per input, no partial output, the progress bar only on a terminal."""

import bz2
import fcntl
import gzip
import json
import lzma
import os
import pty
import struct
import subprocess
import sys
import termios
from pathlib import Path

import pytest
import tessaly
import tessaly_tools
from tessaly_tools import _cli, _records

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))
import generate  # noqa: E402

ORDER = ROOT / "examples" / "order.xml"
ORDER_XSD = str(ROOT / "examples" / "order.xsd")


@pytest.fixture(scope="module")
def feed(tmp_path_factory):
    d = tmp_path_factory.mktemp("feed")
    generate.write_feed(d / "feed.xml", 200_000, seed=3)
    data = (d / "feed.xml").read_bytes()
    for ext, pack in [(".gz", gzip.compress), (".bz2", bz2.compress), (".xz", lzma.compress)]:
        (d / f"feed.xml{ext}").write_bytes(pack(data))
    xsd = str(generate.write_schema(d / "orders.xsd"))
    expected = "".join(t + "\n" for t in tessaly_tools.iter_records(d / "feed.xml", tessaly_tools.load_schema(xsd), "order"))
    return d, xsd, expected


def run(capsysbinary, *argv):
    status = _cli.main([str(a) for a in argv])
    out, err = capsysbinary.readouterr()
    return status, out.decode(), err.decode()


def test_convert_one_input_to_stdout_or_a_file(tmp_path, capsysbinary):
    pretty = tessaly.convert(str(ORDER), ORDER_XSD)
    assert run(capsysbinary, "convert", ORDER, "--xsd", ORDER_XSD, "--resolution", "literal") == (0, pretty, "")
    status, compact, _ = run(capsysbinary, "convert", ORDER, "--xsd", ORDER_XSD, "--compact", "--convention", "parker")
    assert status == 0 and json.loads(compact) == json.loads(tessaly.convert(str(ORDER), ORDER_XSD, tessaly.Convention.PARKER))
    assert "\n" not in compact
    assert run(capsysbinary, "convert", ORDER, "--xsd", ORDER_XSD, "-o", tmp_path / "o.json")[0] == 0
    assert (tmp_path / "o.json").read_text() == pretty


@pytest.mark.parametrize("jobs", ["1", "3"])
def test_a_batch_keeps_relative_paths_and_reports_each_failure(tmp_path, capsysbinary, monkeypatch, jobs):
    monkeypatch.chdir(tmp_path)
    for rel in ["in/a.xml", "in/x/b.XML", "in/x/y/c.xml", "loose.xml"]:
        Path(rel).parent.mkdir(parents=True, exist_ok=True)
        Path(rel).write_bytes(ORDER.read_bytes())
    Path("in/x/bad.xml").write_text("<order><line></order>")
    Path("in/notes.txt").write_text("not xml")
    status, out, err = run(capsysbinary, "convert", "in", "loose.xml", "missing.xml", "--xsd", ORDER_XSD, "--out-dir", "out", "-j", jobs)
    assert status == 1 and out == ""
    assert sorted(err.splitlines()) == [
        "in/x/bad.xml: Conversion error: XML read error: mismatched end tag: expected </line>, found </order> at line 1, column 14",
        "missing.xml: IO error: Failed to open missing.xml: No such file or directory (os error 2)",
    ]
    made = sorted(str(p.relative_to("out")) for p in Path("out").rglob("*") if p.is_file())
    assert made == ["a.json", "loose.json", "x/b.json", "x/y/c.json"]
    assert Path("out/x/y/c.json").read_text() == tessaly.convert(str(ORDER), ORDER_XSD)


def test_convert_many_result_and_progress(tmp_path):
    (tmp_path / "a.xml").write_bytes(ORDER.read_bytes())
    (tmp_path / "b.xml").write_text("<order><line></order>")
    schema = tessaly.Schema.from_file(ORDER_XSD)
    with pytest.raises(ValueError, match="would both be converted to"):
        tessaly_tools.convert_many([tmp_path / "b.xml", tmp_path], schema, tmp_path / "out")
    seen = []
    result = tessaly_tools.convert_many(
        [tmp_path], schema, tmp_path / "out", workers=2,
        progress=lambda path, size, error: seen.append((Path(path).name, size, type(error).__name__)),
    )
    assert result.converted == [(str(tmp_path / "a.xml"), str(tmp_path / "out" / "a.json"))]
    assert [(p, type(e)) for p, e in result.failed] == [(str(tmp_path / "b.xml"), RuntimeError)]
    assert sorted(seen) == [("a.xml", ORDER.stat().st_size, "NoneType"), ("b.xml", 21, "RuntimeError")]
    assert not (tmp_path / "out" / "b.json").exists()


@pytest.mark.parametrize(
    "argv, text",
    [
        (["convert", "a.xml", "b.xml", "--xsd", "s.xsd"], "several inputs or a directory need --out-dir DIR"),
        (["convert", ".", "--xsd", "s.xsd"], "several inputs or a directory need --out-dir DIR"),
        (["convert", "a.xml", "--xsd", "s.xsd", "-o", "x", "--out-dir", "d"], "not allowed with argument"),
        (["convert", "a.xml", "--xsd", "s.xsd", "-j", "0"], "must be a positive integer"),
        (["records", "f.xml.gz", "--xsd", "s.xsd", "--record", "a/b", "-j", "2"], "-j needs an uncompressed input"),
        (["records", "f.xml", "--xsd", "s.xsd", "--record", "b", "-j", "2"], "-j needs a full record path"),
    ],
)
def test_usage_errors_exit_2(capsys, argv, text):
    with pytest.raises(SystemExit) as e:
        _cli.main(argv)
    assert e.value.code == 2 and text in capsys.readouterr().err


@pytest.mark.parametrize(
    "name, extra",
    [("feed.xml", []), ("feed.xml", ["-j", "3"]), ("feed.xml.gz", []), ("feed.xml.bz2", []), ("feed.xml.xz", [])],
)
def test_records_to_stdout_and_to_a_file(feed, tmp_path, capsysbinary, monkeypatch, name, extra):
    d, xsd, expected = feed
    monkeypatch.setattr(_cli, "RANGE_BYTES", 30_000)  # several ranges per worker
    source = d / name
    assert run(capsysbinary, "records", source, "--xsd", xsd, "--record", "feed/order", *extra) == (0, expected, "")
    out = tmp_path / "r.ndjson"
    assert run(capsysbinary, "records", source, "--xsd", xsd, "--record", "feed/order", "-o", out, *extra)[0] == 0
    assert out.read_text() == expected and os.listdir(tmp_path) == ["r.ndjson"]
    umask = os.umask(0)
    os.umask(umask)
    assert out.stat().st_mode & 0o777 == 0o666 & ~umask  # a new file's mode, as without -j


@pytest.mark.parametrize("fault", ["error", "interrupt"])
def test_a_failed_or_interrupted_range_leaves_the_output_as_it_was(feed, tmp_path, capsysbinary, monkeypatch, fault):
    d, xsd, _ = feed
    monkeypatch.setattr(_cli, "RANGE_BYTES", 30_000)
    real = _records.to_file

    def failing(*args):
        if args[5][0] > 100_000:  # the byte range
            raise RuntimeError("Conversion error: boom") if fault == "error" else KeyboardInterrupt
        return real(*args)

    monkeypatch.setattr(_records, "to_file", failing)
    out = tmp_path / "r.ndjson"
    out.write_text("kept")
    status, _, err = run(capsysbinary, "records", d / "feed.xml", "--xsd", xsd, "--record", "feed/order", "-j", "2", "-o", out)
    assert (status, err) == ((1, f"{d / 'feed.xml'}: Conversion error: boom\n") if fault == "error" else (130, "tessaly: interrupted\n"))
    assert out.read_text() == "kept" and os.listdir(tmp_path) == ["r.ndjson"]


def test_schema_report(capsysbinary):
    status, out, _ = run(capsysbinary, "schema", ORDER_XSD, "--json", "--resolution", "literal")
    assert status == 0 and json.loads(out) == tessaly_tools.describe(tessaly_tools.load_schema(ORDER_XSD, resolution="literal"))
    status, out, _ = run(capsysbinary, "schema", ORDER_XSD)
    assert status == 0 and out.splitlines()[:3] == ["resolution: complete", "documents read: 1", f"  {ORDER_XSD}"]
    assert run(capsysbinary, "schema", "missing.xsd")[0] == 1


def on_a_terminal(*argv):
    """Runs `python -m tessaly_tools` with stderr on a terminal; its status, stdout and stderr."""
    main, sub = pty.openpty()
    fcntl.ioctl(sub, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    p = subprocess.run([sys.executable, "-m", "tessaly_tools", *map(str, argv)], stdout=subprocess.PIPE, stderr=sub)
    os.close(sub)
    err = b""
    while True:
        try:
            chunk = os.read(main, 1 << 16)
        except OSError:
            break
        if not chunk:
            break
        err += chunk
    os.close(main)
    return p.returncode, p.stdout.decode(), err.decode()


def test_progress_bar_only_on_a_terminal_and_not_with_q(feed):
    d, xsd, expected = feed
    status, out, err = on_a_terminal("records", d / "feed.xml", "--xsd", xsd, "--record", "feed/order")
    assert (status, out) == (0, expected) and "100%" in err and "B/s" in err
    assert on_a_terminal("records", d / "feed.xml", "--xsd", xsd, "--record", "feed/order", "-q") == (0, expected, "")
