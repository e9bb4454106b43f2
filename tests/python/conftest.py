import json
import os
from pathlib import Path

import pytest
import tessaly

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"

# One always-array element of a typed kind: enough to tell whether a schema
# reached the converter ({"n": [1]}) or not ({"n": "1"}).
SMALL_XSD = b"""<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="r"><xs:complexType><xs:sequence>
    <xs:element name="n" type="xs:int" maxOccurs="unbounded"/>
  </xs:sequence></xs:complexType></xs:element>
</xs:schema>"""
SMALL_XML = b"<r><n>1</n></r>"
SMALL_JSON = {"r": {"n": [1]}}

IS_ROOT = hasattr(os, "geteuid") and os.geteuid() == 0


@pytest.fixture
def small(tmp_path):
    """Paths of the small schema and document, and an output path."""
    xsd = tmp_path / "small.xsd"
    xml = tmp_path / "small.xml"
    xsd.write_bytes(SMALL_XSD)
    xml.write_bytes(SMALL_XML)
    return {"xml": str(xml), "xsd": str(xsd), "out": str(tmp_path / "out.json"), "dir": tmp_path}


@pytest.fixture
def schema():
    return tessaly.Schema.from_bytes(SMALL_XSD)


@pytest.fixture
def tmpdir_env(tmp_path, monkeypatch):
    """A private, empty temporary directory named by TMPDIR."""
    d = tmp_path / "tmpdir"
    d.mkdir()
    monkeypatch.setenv("TMPDIR", str(d))
    return d


def loads(text):
    return json.loads(text)
