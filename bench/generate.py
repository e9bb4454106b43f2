"""Deterministic generator of an order feed: one XSD and documents of any size.

The feed looks like what a shop exports nightly: a header, then orders with a
customer, a shipping address, line items, money amounts with a currency
attribute, flags, optional notes in CDATA and free-form tags. Text carries the
things a converter must get right and a naive one gets slow on: predefined
entity references, decimal and hexadecimal character references, CDATA,
non-ASCII text (all inside the Basic Multilingual Plane, as real shop data
mostly is) and two-space indentation.

The same seed and size always give the same bytes, so a cached file can be
reused and two runs measure the same input.

    python bench/generate.py --sizes 5,50,200 [--seed 1] [--out bench/out]
"""

from __future__ import annotations

import argparse
import hashlib
import random
import sys
from collections.abc import Iterator
from pathlib import Path

MB = 1_000_000
NAMESPACE = "urn:example:tessaly:orders"
DEFAULT_OUT = Path(__file__).resolve().parent / "out"
_CHUNK = 1 << 20

SCHEMA = f"""<?xml version="1.0" encoding="UTF-8"?>
<!-- Order feed used by the benchmarks: named complex types, simple content
     with attributes, an extension of a named type, derived simple types,
     unbounded lists and typed leaves and attributes. -->
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"
           xmlns:o="{NAMESPACE}"
           targetNamespace="{NAMESPACE}"
           elementFormDefault="qualified">

  <xs:element name="feed" type="o:FeedType"/>

  <xs:complexType name="FeedType">
    <xs:sequence>
      <xs:element name="header" type="o:HeaderType"/>
      <xs:element name="order" type="o:OrderType" minOccurs="0" maxOccurs="unbounded"/>
    </xs:sequence>
    <xs:attribute name="version" type="xs:int" use="required"/>
    <xs:attribute name="generated" type="xs:dateTime" use="required"/>
  </xs:complexType>

  <xs:complexType name="HeaderType">
    <xs:sequence>
      <xs:element name="source" type="xs:string"/>
      <xs:element name="batch" type="xs:long"/>
      <xs:element name="created" type="xs:dateTime"/>
      <xs:element name="test" type="xs:boolean"/>
    </xs:sequence>
  </xs:complexType>

  <xs:simpleType name="SkuType">
    <xs:restriction base="xs:string">
      <xs:pattern value="[A-Z]{{3}}-[0-9]{{5}}"/>
    </xs:restriction>
  </xs:simpleType>

  <xs:simpleType name="QuantityType">
    <xs:restriction base="xs:int">
      <xs:minInclusive value="1"/>
    </xs:restriction>
  </xs:simpleType>

  <xs:simpleType name="CountType">
    <xs:restriction base="o:QuantityType">
      <xs:maxInclusive value="1000000"/>
    </xs:restriction>
  </xs:simpleType>

  <xs:complexType name="MoneyType">
    <xs:simpleContent>
      <xs:extension base="xs:decimal">
        <xs:attribute name="currency" type="xs:string" use="required"/>
      </xs:extension>
    </xs:simpleContent>
  </xs:complexType>

  <xs:complexType name="WeightType">
    <xs:simpleContent>
      <xs:extension base="xs:double">
        <xs:attribute name="unit" type="xs:string" use="required"/>
      </xs:extension>
    </xs:simpleContent>
  </xs:complexType>

  <xs:complexType name="AddressType">
    <xs:sequence>
      <xs:element name="street" type="xs:string"/>
      <xs:element name="city" type="xs:string"/>
      <xs:element name="postcode" type="xs:string"/>
      <xs:element name="country" type="xs:string"/>
    </xs:sequence>
  </xs:complexType>

  <xs:complexType name="ShippingAddressType">
    <xs:complexContent>
      <xs:extension base="o:AddressType">
        <xs:sequence>
          <xs:element name="instructions" type="xs:string" minOccurs="0"/>
        </xs:sequence>
        <xs:attribute name="residential" type="xs:boolean"/>
      </xs:extension>
    </xs:complexContent>
  </xs:complexType>

  <xs:complexType name="CustomerType">
    <xs:sequence>
      <xs:element name="name" type="xs:string"/>
      <xs:element name="email" type="xs:string"/>
      <xs:element name="billingAddress" type="o:AddressType"/>
      <xs:element name="loyaltyPoints" type="xs:long"/>
      <xs:element name="vip" type="xs:boolean"/>
    </xs:sequence>
    <xs:attribute name="id" type="xs:long" use="required"/>
  </xs:complexType>

  <xs:complexType name="LineType">
    <xs:sequence>
      <xs:element name="sku" type="o:SkuType"/>
      <xs:element name="description" type="xs:string"/>
      <xs:element name="quantity" type="o:CountType"/>
      <xs:element name="unitPrice" type="o:MoneyType"/>
      <xs:element name="discount" type="xs:decimal" minOccurs="0"/>
      <xs:element name="weight" type="o:WeightType"/>
      <xs:element name="giftWrap" type="xs:boolean"/>
    </xs:sequence>
    <xs:attribute name="no" type="xs:int" use="required"/>
  </xs:complexType>

  <xs:complexType name="OrderType">
    <xs:sequence>
      <xs:element name="placed" type="xs:dateTime"/>
      <xs:element name="customer" type="o:CustomerType"/>
      <xs:element name="shipTo" type="o:ShippingAddressType"/>
      <xs:element name="line" type="o:LineType" maxOccurs="unbounded"/>
      <xs:element name="subtotal" type="o:MoneyType"/>
      <xs:element name="tax" type="o:MoneyType"/>
      <xs:element name="total" type="o:MoneyType"/>
      <xs:element name="paid" type="xs:boolean"/>
      <xs:element name="note" type="xs:string" minOccurs="0"/>
      <xs:element name="tag" type="xs:string" minOccurs="0" maxOccurs="unbounded"/>
    </xs:sequence>
    <xs:attribute name="id" type="xs:long" use="required"/>
    <xs:attribute name="status" type="xs:string" use="required"/>
    <xs:attribute name="priority" type="xs:boolean"/>
    <xs:attribute name="score" type="xs:double"/>
  </xs:complexType>
</xs:schema>
"""

# Text pools. Values are already escaped XML: they carry the references the
# converter has to resolve.
_NAMES = (
    "Ada Lovelace", "Zoë Müller", "José Gonçalves", "Łukasz Wójcik",
    "山田 太郎", "Ελένη Παπαδοπούλου", "Søren Kierkegård", "Иван Петров",
    "Fran&#231;ois Dupont", "Ay&#x15F;e Y&#x131;lmaz", "O&apos;Brien &amp; Sons Ltd",
    "Nguyễn Văn An", "Grace Hopper", "Björk Guðmundsdóttir", "Müller &amp; Töchter GmbH",
)
_STREETS = (
    "Hauptstraße 12", "Rue de l&apos;Église 3", "221B Baker Street", "ul. Floriańska 15",
    "Calle Mayor 7, 2º", "Odos Ermou 45", "Nyhavn 17", "Tverskaya ul. 9",
    "1-2-3 Shibuya", "Avenida Paulista 1578", "Via dei Fori Imperiali 1",
)
_CITIES = (
    ("Köln", "50667", "DE"), ("Zürich", "8001", "CH"), ("Kraków", "31-042", "PL"),
    ("東京", "150-0002", "JP"), ("São Paulo", "01310-200", "BR"), ("Αθήνα", "105 63", "GR"),
    ("Москва", "125009", "RU"), ("Paris", "75004", "FR"), ("København", "1051", "DK"),
    ("Reykjavík", "101", "IS"), ("London", "NW1 6XE", "GB"),
)
_PRODUCTS = (
    "Widget &amp; gadget starter set", "5&quot; screen protector, 2 pcs",
    "T-shirt size &lt;M&gt;", "Crème brûlée torch", "Café au lait mug, 350 ml",
    "Espresso beans &#x2013; dark roast, 1&#160;kg", "USB-C cable (2 m) &#8212; braided",
    "Notebook A5 &#xB7; dotted", "Größenverstellbarer Gürtel", "Чайник электрический",
    "抹茶 (matcha) 100 g", "Kids&apos; rain boots", "Price tag &#x20AC; 9.99 label roll",
    "Plain paper, 500 sheets",
)
_NOTES = (
    "Leave at the door <b>if</b> nobody answers & ring twice",
    "Gift: please remove the price tag </ not a tag >",
    "Customer asked: \"deliver after 18:00\"",
    "Zerbrechlich – vorsichtig behandeln!",
    "配達前に電話してください",
)
_INSTRUCTIONS = ("Ring the bell twice", "Deliver to reception &#x2192; 2nd floor",
                 "Use the side entrance", "Call ahead: +44 20 7946 0958")
_TAGS = ("express", "gift", "b2b", "repeat-customer", "fragile", "promo-&#x00BD;-off", "eco")
_STATUSES = ("new", "paid", "shipped", "delivered", "cancelled", "on-hold")
_SKU_LETTERS = "ABCDEFGHKMNPRSTX"
_CURRENCIES = ("EUR", "EUR", "EUR", "USD", "GBP", "CHF", "JPY", "PLN")
_BASE_EPOCH = 1_704_067_200  # 2024-01-01T00:00:00Z


def _datetime(seconds: int) -> str:
    """Formats seconds after the base epoch as an XSD dateTime (UTC)."""
    days, rest = divmod(seconds, 86_400)
    hour, rest = divmod(rest, 3_600)
    minute, second = divmod(rest, 60)
    # 2024 is a leap year; days past its end roll over month by month.
    months = (31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31)
    year, month = 2024, 0
    while days >= months[month]:
        days -= months[month]
        month += 1
        if month == 12:
            month, year = 0, year + 1
            months = (31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31)
    return f"{year:04d}-{month + 1:02d}-{days + 1:02d}T{hour:02d}:{minute:02d}:{second:02d}Z"


def _cents(value: int) -> str:
    return f"{value // 100}.{value % 100:02d}"


def _address(rng: random.Random, tag: str, indent: str, extra_attr: str = "", extra: str = "") -> str:
    city, postcode, country = rng.choice(_CITIES)
    i = indent + "  "
    return (
        f"{indent}<{tag}{extra_attr}>\n"
        f"{i}<street>{rng.choice(_STREETS)}</street>\n"
        f"{i}<city>{city}</city>\n"
        f"{i}<postcode>{postcode}</postcode>\n"
        f"{i}<country>{country}</country>\n"
        f"{extra}"
        f"{indent}</{tag}>\n"
    )


def _line(rng: random.Random, number: int, currency: str) -> tuple[str, int]:
    quantity = rng.randint(1, 12)
    price = rng.randint(99, 49_999)
    discount = ""
    if rng.random() < 0.25:
        discount = f"      <discount>{rng.choice(('0.05', '0.1', '0.15', '.2', '0.125'))}</discount>\n"
    grams = rng.randint(5, 25_000)
    # Mostly plain decimals, sometimes the exponent form a double allows.
    weight = f"{grams / 1000:g}" if grams % 7 else f"{grams / 1000:.3E}"
    text = (
        f'    <line no="{number}">\n'
        f"      <sku>{rng.choice(_SKU_LETTERS)}{rng.choice(_SKU_LETTERS)}"
        f"{rng.choice(_SKU_LETTERS)}-{rng.randint(0, 99_999):05d}</sku>\n"
        f"      <description>{rng.choice(_PRODUCTS)}</description>\n"
        f"      <quantity>{quantity}</quantity>\n"
        f'      <unitPrice currency="{currency}">{_cents(price)}</unitPrice>\n'
        f"{discount}"
        f'      <weight unit="kg">{weight}</weight>\n'
        f"      <giftWrap>{'true' if rng.random() < 0.1 else 'false'}</giftWrap>\n"
        f"    </line>\n"
    )
    return text, quantity * price


def _order(rng: random.Random, order_id: int) -> str:
    currency = rng.choice(_CURRENCIES)
    placed = _datetime(order_id * 37 % 31_536_000 + rng.randint(0, 3_600))
    customer_id = 5_000_000_000 + rng.randint(0, 999_999_999)
    lines = []
    subtotal = 0
    for number in range(1, rng.choice((1, 1, 2, 2, 3, 3, 4, 5, 8)) + 1):
        text, amount = _line(rng, number, currency)
        lines.append(text)
        subtotal += amount
    tax = subtotal * 19 // 100
    attrs = f' id="{order_id}" status="{rng.choice(_STATUSES)}"'
    if rng.random() < 0.3:
        attrs += f' priority="{rng.choice(("true", "false", "1", "0"))}"'
    if rng.random() < 0.5:
        attrs += f' score="{rng.random() * 100:.4f}"'
    # Some customers bill to an address of the derived type, named by xsi:type.
    if order_id % 8 == 0:
        billing = _address(
            rng, "billingAddress", "      ", ' xsi:type="o:ShippingAddressType" residential="true"',
            f"        <instructions>{rng.choice(_INSTRUCTIONS)}</instructions>\n",
        )
    else:
        billing = _address(rng, "billingAddress", "      ")
    ship_extra = ""
    if rng.random() < 0.4:
        ship_extra = f"      <instructions>{rng.choice(_INSTRUCTIONS)}</instructions>\n"
    ship_attr = f' residential="{"true" if rng.random() < 0.6 else "false"}"'
    note = ""
    if rng.random() < 0.2:
        note = f"    <note><![CDATA[{rng.choice(_NOTES)}]]></note>\n"
    tags = "".join(f"    <tag>{rng.choice(_TAGS)}</tag>\n" for _ in range(rng.choice((0, 0, 1, 2, 3))))
    name = rng.choice(_NAMES)
    return (
        f"  <order{attrs}>\n"
        f"    <placed>{placed}</placed>\n"
        f'    <customer id="{customer_id}">\n'
        f"      <name>{name}</name>\n"
        f"      <email>customer{customer_id}@example.com</email>\n"
        f"{billing}"
        f"      <loyaltyPoints>{rng.randint(0, 3_000_000_000)}</loyaltyPoints>\n"
        f"      <vip>{'true' if rng.random() < 0.05 else 'false'}</vip>\n"
        f"    </customer>\n"
        f"{_address(rng, 'shipTo', '    ', ship_attr, ship_extra)}"
        f"{''.join(lines)}"
        f'    <subtotal currency="{currency}">{_cents(subtotal)}</subtotal>\n'
        f'    <tax currency="{currency}">{_cents(tax)}</tax>\n'
        f'    <total currency="{currency}">{_cents(subtotal + tax)}</total>\n'
        f"    <paid>{'true' if rng.random() < 0.7 else 'false'}</paid>\n"
        f"{note}{tags}"
        f"  </order>\n"
    )


def iter_feed(target_bytes: int, seed: int = 1) -> Iterator[bytes]:
    """Yields the UTF-8 bytes of one feed of at least `target_bytes` (one order more at most)."""
    rng = random.Random(seed)
    head = (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        f'<feed xmlns="{NAMESPACE}" xmlns:o="{NAMESPACE}"\n'
        '      xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"\n'
        f'      version="3" generated="{_datetime(seed % 86_400)}">\n'
        "  <header>\n"
        "    <source>tessaly bench &#x2014; order export</source>\n"
        f"    <batch>{9_000_000_000 + seed}</batch>\n"
        f"    <created>{_datetime(seed % 86_400)}</created>\n"
        "    <test>false</test>\n"
        "  </header>\n"
    )
    tail = b"</feed>\n"
    pending = [head.encode()]
    pending_size = len(pending[0])
    written = 0
    order_id = 100_000 + seed * 10_000_000
    while written + pending_size + len(tail) < target_bytes:
        piece = _order(rng, order_id).encode()
        order_id += 1
        pending.append(piece)
        pending_size += len(piece)
        if pending_size >= _CHUNK:
            yield b"".join(pending)
            written += pending_size
            pending, pending_size = [], 0
    pending.append(tail)
    yield b"".join(pending)


def feed_bytes(target_bytes: int, seed: int = 1) -> bytes:
    return b"".join(iter_feed(target_bytes, seed))


def write_feed(path: Path, target_bytes: int, seed: int = 1) -> int:
    """Writes a feed through a temporary name, so an interrupted run leaves no truncated cache file."""
    path.parent.mkdir(parents=True, exist_ok=True)
    partial = path.with_name(path.name + ".partial")
    size = 0
    with open(partial, "wb") as out:
        for chunk in iter_feed(target_bytes, seed):
            out.write(chunk)
            size += len(chunk)
    partial.replace(path)
    return size


def write_schema(path: Path) -> Path:
    path.parent.mkdir(parents=True, exist_ok=True)
    data = SCHEMA.encode()
    if not path.exists() or path.read_bytes() != data:
        path.write_bytes(data)
    return path


def _generator_tag() -> str:
    # Cached feeds are named after this file's contents: editing the generator
    # can never leave a stale feed in use.
    return hashlib.sha256(Path(__file__).read_bytes()).hexdigest()[:8]


def ensure_feed(out_dir: Path, size_mb: float, seed: int = 1) -> Path:
    """Returns the cached feed of `size_mb` MB (10**6 bytes) for `seed`, generating it when missing."""
    label = f"{size_mb:g}".replace(".", "_")
    path = out_dir / f"orders-{label}MB-seed{seed}-{_generator_tag()}.xml"
    if not path.exists():
        write_feed(path, int(size_mb * MB), seed)
    return path


def schema_path(out_dir: Path) -> Path:
    return write_schema(out_dir / "orders.xsd")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="5,50,200", help="comma-separated sizes in MB (10**6 bytes)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", type=Path, default=DEFAULT_OUT)
    args = parser.parse_args(argv)
    print(schema_path(args.out))
    for size in (float(s) for s in args.sizes.split(",") if s):
        path = ensure_feed(args.out, size, args.seed)
        print(f"{path}  {path.stat().st_size:,} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
