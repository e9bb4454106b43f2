import pytest
import tessaly
from conftest import EXAMPLES, SMALL_XSD

C = tessaly.Convention
ORDER_XML = str(EXAMPLES / "order.xml")
ORDER_XSD = str(EXAMPLES / "order.xsd")


@pytest.mark.parametrize("args", [(), (SMALL_XSD,)])
def test_not_constructible(args):
    with pytest.raises(TypeError, match=r"^cannot create 'tessaly.Schema' instances$"):
        tessaly.Schema(*args)


@pytest.mark.parametrize("convention", [C.BADGERFISH, C.PARKER, C.ABDERA])
def test_reused_schema_matches_a_fresh_parse_call_after_call(convention, tmp_path):
    expected = tessaly.convert(ORDER_XML, ORDER_XSD, convention)
    with open(ORDER_XSD, "rb") as f:
        xsd_bytes = f.read()
    with open(ORDER_XML, "rb") as f:
        xml_bytes = f.read()
    out = tmp_path / "out.json"
    for schema in (tessaly.Schema.from_file(ORDER_XSD), tessaly.Schema.from_bytes(xsd_bytes)):
        for _ in range(3):
            assert tessaly.convert_with_schema(ORDER_XML, schema, convention) == expected
            assert tessaly.convert_bytes_with_schema(xml_bytes, schema, convention) == expected
            assert tessaly.convert_to_file_with_schema(ORDER_XML, schema, str(out), convention) is None
            assert out.read_text() == expected
    assert tessaly.convert_bytes(xml_bytes, xsd_bytes, convention) == expected
