// The converter's pieces through hand-built schema models: coercion,
// references, trimming, declaration lookup, xsi:type, attributes and the
// three conventions, checked byte for byte on the JSON text.

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <random>
#include <string>

#include "converter/coerce.hpp"
#include "converter/convert.hpp"
#include "converter/references.hpp"
#include "converter/text.hpp"
#include "json/writer.hpp"

namespace tessaly::converter {
namespace {

using schema::AttributeDef;
using schema::ComplexTypeDef;
using schema::ElementDef;
using schema::JsonType;
using schema::MaxOccurs;
using schema::SchemaModel;
using schema::TypeDef;

std::string json_of(const storage::Value& v) {
    std::string out;
    json::StringSink sink(out);
    storage::Arena arena;
    storage::KeyTable no_keys;  // a coerced value is never an object
    EXPECT_TRUE(json::write_pretty(v, no_keys, sink).has_value());
    return out;
}

// ---- coercion -------------------------------------------------------------

struct CoerceCase {
    JsonType kind;
    const char* text;
    const char* json;  // the written value
};

class Coerce : public ::testing::TestWithParam<CoerceCase> {};

TEST_P(Coerce, WritesExpectedValue) {
    const auto& c = GetParam();
    EXPECT_EQ(json_of(coerce_value(c.text, c.kind)), c.json) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Coerce,
    ::testing::Values(CoerceCase{JsonType::Integer, "42", "42"}, CoerceCase{JsonType::Integer, "-17", "-17"},
                      CoerceCase{JsonType::Integer, "+8", "8"}, CoerceCase{JsonType::Integer, "-0", "0"},
                      CoerceCase{JsonType::Integer, "007", "7"}, CoerceCase{JsonType::Integer, "3.0", "\"3.0\""},
                      CoerceCase{JsonType::Integer, "1e3", "\"1e3\""}, CoerceCase{JsonType::Integer, "+", "\"+\""},
                      CoerceCase{JsonType::Integer, "-", "\"-\""}, CoerceCase{JsonType::Integer, "", "\"\""},
                      CoerceCase{JsonType::Integer, " 1", "\" 1\""}, CoerceCase{JsonType::Integer, "1_0", "\"1_0\""},
                      CoerceCase{JsonType::Integer, "9223372036854775807", "9223372036854775807"},
                      CoerceCase{JsonType::Integer, "9223372036854775808", "\"9223372036854775808\""},
                      CoerceCase{JsonType::Integer, "-9223372036854775808", "-9223372036854775808"},
                      CoerceCase{JsonType::Integer, "-9223372036854775809", "\"-9223372036854775809\""},
                      CoerceCase{JsonType::Integer, "18446744073709551615", "\"18446744073709551615\""},
                      CoerceCase{JsonType::Integer, "99999999999999999999999", "\"99999999999999999999999\""},
                      CoerceCase{JsonType::Float, "3.14", "3.14"}, CoerceCase{JsonType::Float, "5", "5.0"},
                      CoerceCase{JsonType::Float, ".5", "0.5"}, CoerceCase{JsonType::Float, "5.", "5.0"},
                      CoerceCase{JsonType::Float, "+2.5", "2.5"}, CoerceCase{JsonType::Float, "1E-3", "0.001"},
                      CoerceCase{JsonType::Float, "-0", "-0.0"}, CoerceCase{JsonType::Float, "1e-400", "0.0"},
                      CoerceCase{JsonType::Float, "-1e-400", "-0.0"}, CoerceCase{JsonType::Float, "1e999", "\"1e999\""},
                      CoerceCase{JsonType::Float, "-1e999", "\"-1e999\""}, CoerceCase{JsonType::Float, "NaN", "\"NaN\""},
                      CoerceCase{JsonType::Float, "inf", "\"inf\""},
                      CoerceCase{JsonType::Float, "-Infinity", "\"-Infinity\""},
                      CoerceCase{JsonType::Float, "1,5", "\"1,5\""}, CoerceCase{JsonType::Float, ".", "\".\""},
                      CoerceCase{JsonType::Float, "1e", "\"1e\""}, CoerceCase{JsonType::Float, "0x10", "\"0x10\""},
                      CoerceCase{JsonType::Float, " 1.0", "\" 1.0\""},
                      CoerceCase{JsonType::Float, "0e99999999999999999999", "0.0"},
                      CoerceCase{JsonType::Float, "5e-324", "5e-324"},
                      CoerceCase{JsonType::Boolean, "true", "true"}, CoerceCase{JsonType::Boolean, "1", "true"},
                      CoerceCase{JsonType::Boolean, "false", "false"}, CoerceCase{JsonType::Boolean, "0", "false"},
                      CoerceCase{JsonType::Boolean, "True", "\"True\""}, CoerceCase{JsonType::Boolean, "yes", "\"yes\""},
                      CoerceCase{JsonType::Boolean, "true ", "\"true \""}, CoerceCase{JsonType::Boolean, "2", "\"2\""},
                      CoerceCase{JsonType::String, "42", "\"42\""}, CoerceCase{JsonType::Absent, "42", "\"42\""},
                      CoerceCase{static_cast<JsonType>(4), "42", "\"42\""}));

// Decimal texts of 1 to 18 digits, signed or not, with the point anywhere or
// nowhere: short ones take a quicker route to their double, which must be
// the very double that full parsing gives.
TEST(Coerce, DecimalsParseToTheNearestDouble) {
    std::mt19937_64 rng(5);
    for (int i = 0; i < 200000; ++i) {
        std::string digits = std::to_string(rng());
        digits.resize(1 + rng() % std::min<std::size_t>(18, digits.size()));
        if (rng() % 4 == 0) digits[0] = '0';
        std::string t = digits;
        if (rng() % 3) t.insert(rng() % (t.size() + 1), ".");
        const char* sign = rng() % 3 == 0 ? "-" : (rng() % 5 == 0 ? "+" : "");
        t = sign + t;
        storage::Value v = coerce_value(t, JsonType::Float);
        ASSERT_EQ(v.kind(), storage::Kind::Float) << t;
        double want = 0;
        const char* first = t.data() + (t[0] == '+' ? 1 : 0);
        ASSERT_EQ(std::from_chars(first, t.data() + t.size(), want).ec, std::errc()) << t;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(v.as_float()), std::bit_cast<std::uint64_t>(want)) << t;
    }
}

// ---- references -----------------------------------------------------------

struct RefCase {
    const char* name;
    const char* text;  // what the reference stands for; null: passes through
};

class Reference : public ::testing::TestWithParam<RefCase> {};

TEST_P(Reference, Resolves) {
    RefBuffer buf;
    bool passthrough = false;
    std::string_view got = resolve_general_ref(GetParam().name, buf, passthrough);
    if (GetParam().text) {
        EXPECT_FALSE(passthrough);
        EXPECT_EQ(got, GetParam().text);
    } else {
        EXPECT_TRUE(passthrough) << GetParam().name;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Reference,
                         ::testing::Values(RefCase{"lt", "<"}, RefCase{"gt", ">"}, RefCase{"amp", "&"},
                                           RefCase{"apos", "'"}, RefCase{"quot", "\""}, RefCase{"#65", "A"},
                                           RefCase{"#x41", "A"}, RefCase{"#x1F600", "\xF0\x9F\x98\x80"},
                                           RefCase{"#xE9", "\xC3\xA9"}, RefCase{"#x10FFFF", "\xF4\x8F\xBF\xBF"},
                                           RefCase{"#X41", nullptr}, RefCase{"#0", nullptr}, RefCase{"#x0", nullptr},
                                           RefCase{"#xD800", nullptr}, RefCase{"#x110000", nullptr},
                                           RefCase{"#x100000000", nullptr}, RefCase{"#", nullptr},
                                           RefCase{"#x", nullptr}, RefCase{"#-1", nullptr}, RefCase{"#+65", nullptr},
                                           RefCase{"#6a", nullptr}, RefCase{"nbsp", nullptr}, RefCase{"AMP", nullptr},
                                           RefCase{"", nullptr}));

// ---- trimming and line ends -------------------------------------------------

TEST(Text, TrimsExactlyTheWhiteSpaceCharacters) {
    struct {
        std::string in, out;
    } cases[] = {
        {" \t\n\x0B\x0C\r x y \r\n", "x y"},
        {"\xC2\x85\xC2\xA0x\xE1\x9A\x80", "x"},
        {"\xE2\x80\x80\xE2\x80\x8A x \xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80", "x"},
        {"\xE2\x80\x8Bx\xE2\x80\x8B", "\xE2\x80\x8Bx\xE2\x80\x8B"},  // U+200B is not White_Space
        {"\xC2\xA9", "\xC2\xA9"},                                      // nor is U+00A9
        {"\xE3\x80\x81x", "\xE3\x80\x81x"},                            // nor U+3001
        {"   ", ""},
        // Indentation runs of every length around the eight-byte steps,
        // ending in text, in nothing, or in a non-ASCII space.
        {"\n" + std::string(7, ' ') + "x", "x"},
        {"\n" + std::string(8, ' ') + "x", "x"},
        {"\n" + std::string(9, ' ') + "x", "x"},
        {std::string(16, ' ') + "\xC2\xA0x", "x"},
        {std::string(17, ' ') + "\xC2\xA9", "\xC2\xA9"},
        {"\n" + std::string(24, ' '), ""},
        {"\n\n" + std::string(8, ' ') + "\tx", "x"},
        {std::string(8, ' ') + "\x01", "\x01"},  // a control character that is not White_Space
    };
    for (const auto& c : cases) EXPECT_EQ(trim_white_space(c.in), c.out) << c.in;
    for (const auto& c : cases) EXPECT_EQ(is_all_white_space(c.in), c.out.empty()) << c.in;
}

// Every length up to 40 with one odd byte at every place, and without one.
TEST(Text, AsciiSpaceRunsOfEveryLength) {
    const std::string spaces = " \t\n\x0B\x0C\r";
    for (std::size_t n = 0; n <= 40; ++n) {
        std::string run;
        for (std::size_t i = 0; i < n; ++i) run += spaces[(i * 7 + n) % spaces.size()];
        // Bordered by non-space bytes that must never be read as part of it.
        std::string framed = "x" + run + "x";
        std::string_view view(framed.data() + 1, n);
        EXPECT_TRUE(all_ascii_space(view)) << n;
        EXPECT_TRUE(is_all_white_space(view)) << n;
        for (std::size_t at = 0; at < n; ++at)
            for (char odd : {'a', '\x08', '\x0E', '\x1F', '!', '\xC2'}) {
                std::string t = run;
                t[at] = odd;
                EXPECT_FALSE(all_ascii_space(t)) << n << " " << at << " " << int(odd);
                EXPECT_FALSE(is_all_white_space(t)) << n << " " << at << " " << int(odd);
            }
    }
    EXPECT_FALSE(all_ascii_space("  \xC2\xA0"));
    EXPECT_TRUE(is_all_white_space("  \xC2\xA0"));  // a non-ASCII space: the exact test decides
}

TEST(Text, NormalizesLineEnds) {
    struct {
        std::string in, out;
    } cases[] = {{"a\r\nb", "a\nb"}, {"a\rb", "a\nb"}, {"\r\r\n\n", "\n\n\n"}, {"\r", "\n"}, {"ab", "ab"}};
    for (const auto& c : cases) {
        std::string buf(c.in.size(), '\0');
        buf.resize(normalize_line_ends(c.in, buf.data()));
        EXPECT_EQ(buf, c.out);
    }
}

// ---- hand-built models --------------------------------------------------------

ElementDef elem(std::string name, TypeDef type, MaxOccurs max = MaxOccurs::bounded(1)) {
    ElementDef e;
    e.name.local = std::move(name);
    e.max_occurs = max;
    e.type_def = std::move(type);
    return e;
}

TypeDef simple(JsonType t) { return TypeDef::simple_of(t); }

TypeDef complex_type(std::vector<ElementDef> children, std::vector<AttributeDef> attributes = {},
                     JsonType text = JsonType::Absent) {
    ComplexTypeDef c;
    c.children = std::move(children);
    c.attributes = std::move(attributes);
    c.text_type = text;
    return TypeDef::complex_of(std::move(c));
}

void add_type(SchemaModel& m, const std::string& name, TypeDef t) {
    m.types.emplace(name, std::move(t));
    m.type_name_ids.emplace(name, static_cast<schema::TypeNameId>(m.type_name_ids.size()));
}

// Compact one-line JSON of the pretty text, for readable expectations.
std::string compact(const std::string& pretty) {
    std::string out;
    bool in_string = false;
    for (std::size_t i = 0; i < pretty.size(); ++i) {
        char c = pretty[i];
        if (in_string) {
            out += c;
            if (c == '\\') out += pretty[++i];
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
            out += c;
        } else if (c != '\n' && c != ' ') {
            out += c;
        }
    }
    return out;
}

std::string convert(const SchemaModel& m, const std::string& xml, Convention c = Convention::BadgerFish) {
    auto r = convert_to_string(xml, m, c);
    if (!r) return "ERROR " + r.error().display();
    return compact(*r);
}

SchemaModel order_model() {
    SchemaModel m;
    m.elements.emplace("order", elem("order", complex_type({elem("qty", simple(JsonType::Integer))},
                                                           {{"id", false, JsonType::Integer}})));
    return m;
}

struct DocCase {
    const char* xml;
    const char* json;
};

class OrderLookup : public ::testing::TestWithParam<DocCase> {};

TEST_P(OrderLookup, Converts) { EXPECT_EQ(convert(order_model(), GetParam().xml), GetParam().json); }

INSTANTIATE_TEST_SUITE_P(
    Table, OrderLookup,
    ::testing::Values(DocCase{"<order id=\"7\"><qty>3</qty></order>", R"({"order":{"@id":7,"qty":3}})"},
                      DocCase{"<order id=\"abc\"/>", R"({"order":{"@id":"abc"}})"},
                      DocCase{"<order note=\"x\" id=\"1\"/>", R"({"order":{"@id":1,"@note":"x"}})"},
                      DocCase{"<ns:order xmlns:ns=\"urn:x\"><qty>3</qty></ns:order>",
                              R"({"order":{"@xmlns:ns":"urn:x","qty":3}})"},
                      DocCase{"<order p:id=\"7\"/>", R"({"order":{"@p:id":"7"}})"},
                      DocCase{"<order id=\"1\" id=\"2\"/>", R"({"order":{"@id":1}})"},
                      DocCase{"<order><qty> 42\n </qty></order>", R"({"order":{"qty":42}})"},
                      DocCase{"<order><qty>&#52;&#50;</qty></order>", R"({"order":{"qty":42}})"}));

TEST(Lookup, GlobalsAreFoundBelowUndeclaredElementsOnly) {
    SchemaModel m;
    m.elements.emplace("qty", elem("qty", simple(JsonType::Integer)));
    m.elements.emplace("note", elem("note", simple(JsonType::Integer)));
    m.elements.emplace("order", elem("order", complex_type({elem("qty", simple(JsonType::Integer))})));
    EXPECT_EQ(convert(m, "<wrapper><qty>5</qty></wrapper>"), R"({"wrapper":{"qty":5}})");
    EXPECT_EQ(convert(m, "<order><note>5</note></order>"), R"({"order":{"note":"5"}})");
    // Below a simple-typed element the globals apply again.
    EXPECT_EQ(convert(m, "<qty><note>5</note></qty>"), R"({"qty":{"note":5}})");
}

TEST(Lookup, AttributesOfSimpleElementsAreDropped) {
    SchemaModel m;
    m.elements.emplace("val", elem("val", simple(JsonType::Integer)));
    EXPECT_EQ(convert(m, "<val unit=\"kg\">4</val>"), R"({"val":4})");
}

SchemaModel xsi_model() {
    SchemaModel m;
    m.elements.emplace("val", elem("val", simple(JsonType::String)));
    m.elements.emplace("item", elem("item", complex_type({elem("a", simple(JsonType::Integer))})));
    add_type(m, "Num", simple(JsonType::Integer));
    add_type(m, "B", complex_type({elem("b", simple(JsonType::Boolean))}, {{"n", false, JsonType::Integer}}));
    return m;
}

class XsiType : public ::testing::TestWithParam<DocCase> {};

TEST_P(XsiType, Switches) { EXPECT_EQ(convert(xsi_model(), GetParam().xml), GetParam().json); }

INSTANTIATE_TEST_SUITE_P(
    Table, XsiType,
    ::testing::Values(
        DocCase{"<val xsi:type=\"Num\">4</val>", R"({"val":4})"},
        DocCase{"<item xsi:type=\"p:B\" n=\"2\"><b>1</b></item>", R"({"item":{"@n":2,"@xsi:type":"p:B","b":true}})"},
        DocCase{"<item xsi:type=\"Missing\"><a>1</a></item>", R"({"item":{"@xsi:type":"Missing","a":1}})"},
        DocCase{"<item i:type=\"B\" n=\"2\"/>", R"({"item":{"@i:type":"B","@n":"2"}})"},
        DocCase{"<item xsi:type=\"Missing\" xsi:type=\"B\" n=\"2\"/>", R"({"item":{"@n":"2","@xsi:type":"Missing"}})"},
        // An undeclared element can be given a type too; it then has a declaration that does not repeat.
        DocCase{"<r><u xsi:type=\"Num\">7</u></r>", R"({"r":{"u":7}})"},
        DocCase{"<r><u xsi:type=\"B\" n=\"3\"/></r>", R"({"r":{"u":{"@n":3,"@xsi:type":"B"}}})"}));

// The library example in all three conventions.
SchemaModel library_model() {
    SchemaModel m;
    TypeDef book = complex_type({elem("title", simple(JsonType::String)), elem("price", simple(JsonType::Float)),
                                 elem("instock", simple(JsonType::Boolean))},
                                {{"id", false, JsonType::Integer}});
    m.elements.emplace("library",
                       elem("library", complex_type({elem("name", simple(JsonType::String)),
                                                     elem("book", std::move(book), MaxOccurs::unbounded_value())})));
    m.elements.emplace("price",
                       elem("price", complex_type({}, {{"currency", false, JsonType::String}}, JsonType::Float)));
    return m;
}

struct ConventionCase {
    Convention convention;
    const char* xml;
    const char* json;
};

class Shapes : public ::testing::TestWithParam<ConventionCase> {};

TEST_P(Shapes, Convert) {
    EXPECT_EQ(convert(library_model(), GetParam().xml, GetParam().convention), GetParam().json);
}

constexpr const char* kLibrary =
    "<library>\n  <name>City</name>\n  <book id=\"1\">\n    <title>Dune</title>\n    <price>9.5</price>\n"
    "    <instock>true</instock>\n  </book>\n</library>";
constexpr const char* kPrice = "<price currency=\"EUR\">9.5</price>";
constexpr const char* kMixed = "<p>Hello <b>x</b> world</p>";

INSTANTIATE_TEST_SUITE_P(
    Table, Shapes,
    ::testing::Values(
        ConventionCase{Convention::BadgerFish, kLibrary,
                       R"({"library":{"book":[{"@id":1,"instock":true,"price":9.5,"title":"Dune"}],"name":"City"}})"},
        ConventionCase{Convention::Parker, kLibrary,
                       R"({"book":[{"instock":true,"price":9.5,"title":"Dune"}],"name":"City"})"},
        ConventionCase{Convention::Abdera, kLibrary,
                       R"({"library":{"children":{"book":[{"attributes":{"id":1},"children":{"instock":true,"price":9.5,"title":"Dune"}}],"name":"City"}}})"},
        ConventionCase{Convention::BadgerFish, kPrice, R"({"price":{"$":9.5,"@currency":"EUR"}})"},
        ConventionCase{Convention::Parker, kPrice, "9.5"},
        ConventionCase{Convention::Abdera, kPrice, R"({"price":{"attributes":{"currency":"EUR"},"children":9.5}})"},
        ConventionCase{Convention::BadgerFish, kMixed, R"({"p":{"$":"Hello  world","b":"x"}})"},
        ConventionCase{Convention::Parker, kMixed, R"({"b":"x"})"},
        ConventionCase{Convention::Abdera, kMixed, R"({"p":{"children":{"b":"x"}}})"},
        ConventionCase{Convention::BadgerFish, "<e/>", R"({"e":null})"},
        ConventionCase{Convention::Parker, "<e></e>", "null"},
        ConventionCase{Convention::Abdera, "<e> </e>", R"({"e":null})"},
        ConventionCase{Convention::Parker, "<a>5</a>", R"("5")"},
        ConventionCase{Convention::BadgerFish, "<price currency=\"X\"/>", R"({"price":{"@currency":"X"}})"},
        ConventionCase{Convention::Abdera, "<price currency=\"X\"/>", R"({"price":{"attributes":{"currency":"X"}}})"},
        ConventionCase{Convention::Parker, "<price currency=\"X\"/>", "null"},
        ConventionCase{Convention::BadgerFish, "<r><Zeta/><alpha/><_x/></r>", R"({"r":{"Zeta":null,"_x":null,"alpha":null}})"}));

TEST(Arrays, FirstSiblingFixesTheFlag) {
    SchemaModel m;
    m.elements.emplace("a", elem("a", complex_type({elem("one", simple(JsonType::String)),
                                                    elem("many", simple(JsonType::String), MaxOccurs::bounded(2)),
                                                    elem("zero", simple(JsonType::String), MaxOccurs::bounded(0))})));
    EXPECT_EQ(convert(m, "<a><many>1</many><one>x</one><zero>z</zero></a>"),
              R"({"a":{"many":["1"],"one":"x","zero":"z"}})");
    EXPECT_EQ(convert(m, "<a><one>1</one><one>2</one></a>"), R"({"a":{"one":["1","2"]}})");
    // p:item and q:item share one entry.
    EXPECT_EQ(convert(m, "<r><p:item>1</p:item><q:item>2</q:item></r>"), R"({"r":{"item":["1","2"]}})");
}

TEST(Document, RootRulesAndIgnoredEvents) {
    SchemaModel m;
    struct {
        const char* xml;
        const char* json;
    } cases[] = {
        {"", ""},
        {"<?xml version=\"1.0\"?><!-- c --><?pi x?>", ""},
        {"<a><b>1</b>", ""},
        {"<a/><b>", R"({"a":null})"},
        {"<a>1</a><b>2</b>", R"({"b":"2"})"},
        {"text<a>1</a>tail", R"({"a":"1"})"},
        {"<a:b:c/>", R"({"b:c":null})"},
        {"<a>x<!--c-->y</a>", R"({"a":"xy"})"},
        {"<a><![CDATA[  ]]></a>", R"({"a":null})"},
        {"<a><![CDATA[a &amp; b]]></a>", R"({"a":"a &amp; b"})"},
        {"<a>a &amp; b</a>", R"({"a":"a & b"})"},
        {"<a>AT&T rocks;</a>", R"({"a":"AT&T rocks;"})"},
        {"<a>1\r\n2\r3</a>", R"({"a":"1\n2\n3"})"},
        {"<a><![CDATA[1\r\n2]]></a>", R"({"a":"1\r\n2"})"},
        {"<a> <b/> </a>", R"({"a":{"b":null}})"},
        {"<a>x<b/>y</a>", R"({"a":{"$":"xy","b":null}})"},
    };
    for (const auto& c : cases) EXPECT_EQ(convert(m, c.xml), c.json) << c.xml;
}

TEST(Document, ReaderErrorsAreConversionErrors) {
    SchemaModel m;
    auto r = convert_to_string("<a>AT&T</a>", m, Convention::BadgerFish);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, ErrorKind::Conversion);
    EXPECT_EQ(r.error().detail.rfind("XML read error: ", 0), 0u) << r.error().detail;
}

}  // namespace
}  // namespace tessaly::converter
