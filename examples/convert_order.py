"""Convert the shipped order example and print its JSON in all three conventions."""

from pathlib import Path

import tessaly

HERE = Path(__file__).resolve().parent
XML = str(HERE / "order.xml")
XSD = str(HERE / "order.xsd")

print(tessaly.convert(XML, XSD))

schema = tessaly.Schema.from_file(XSD)  # parse once, reuse
for convention in (tessaly.Convention.PARKER, tessaly.Convention.ABDERA):
    print(f"\n{convention}:")
    print(tessaly.convert_with_schema(XML, schema, convention))
