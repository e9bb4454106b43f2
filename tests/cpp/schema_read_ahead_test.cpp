// Reading a schema document ahead on a second thread (schema/tags.hpp) must
// give the parser exactly what reading it in turn gives: the same model,
// field by field and in the same map order, the same errors, and a prompt
// end when the load fails while the thread is still reading.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "schema/loader.hpp"
#include "schema_test_util.hpp"

namespace tessaly::schema {
namespace {

using testing::TempDir;
using testing::xsd;

constexpr std::size_t kEveryDocument = 0;
constexpr std::size_t kNoDocument = SIZE_MAX;

void text_of(std::string& s, const TypeDef& t, int depth);

void text_of(std::string& s, const AttributeDef& a, int depth) {
    s.append(static_cast<std::size_t>(depth), ' ');
    s += "@" + a.name + " " + std::to_string(a.required) + " " + std::to_string(int(a.json_type)) + " " +
         std::to_string(int(a.kind)) + " " + a.type_name + "\n";
}

void text_of(std::string& s, const ElementDef& e, int depth) {
    s.append(static_cast<std::size_t>(depth), ' ');
    s += e.name.local + " " + (e.name.namespace_uri ? *e.name.namespace_uri : "-") + " " +
         std::to_string(e.min_occurs) + " " + std::to_string(e.max_occurs.unbounded) + " " +
         std::to_string(e.max_occurs.count) + " " + std::to_string(e.named_type) + " " +
         std::to_string(int(e.particle)) + " " + e.type_name + " " + std::to_string(e.declared_type) + " " +
         e.substitution_head + " " + std::to_string(e.has_type) + "\n";
    text_of(s, e.type_def, depth + 1);
}

void text_of(std::string& s, const ComplexTypeDef& c, int depth) {
    s.append(static_cast<std::size_t>(depth), ' ');
    s += "complex " + std::to_string(c.mixed) + " " + std::to_string(int(c.text_type)) + " " +
         std::to_string(c.base) + " " + std::to_string(c.inherited_count) + "\n";
    for (const ElementDef& e : c.children) text_of(s, e, depth + 1);
    for (const AttributeDef& a : c.attributes) text_of(s, a, depth + 1);
}

void text_of(std::string& s, const TypeDef& t, int depth) {
    s.append(static_cast<std::size_t>(depth), ' ');
    s += "type " + std::to_string(int(t.kind)) + " " + std::to_string(int(t.simple)) + " " + t.base_name + "\n";
    text_of(s, t.complex, depth + 1);
}

void list_of(std::string& s, const char* what, const std::vector<std::string>& names) {
    s += what;
    for (const std::string& n : names) s += " " + n;
    s += "\n";
}

// Everything a load gives, maps in their own order: or the error.
std::string model_text(const Result<SchemaModel>& m) {
    if (!m) return "error: " + m.error().display();
    std::string s = "tns " + m->target_namespace.value_or("-") + "\n";
    for (const auto& [name, e] : m->elements) {
        s += "element " + name + "\n";
        text_of(s, e, 1);
    }
    for (const auto& [name, t] : m->types) {
        s += "named type " + name + "\n";
        text_of(s, t, 1);
    }
    list_of(s, "type names", m->type_names);
    for (const std::string& n : m->type_names) s += n + "=" + std::to_string(m->type_name_id(n)) + " ";
    s += "\n";
    text_of(s, m->anonymous, 0);
    for (const auto& [name, a] : m->global_attributes) text_of(s, a, 0);
    for (const auto& [name, g] : m->groups) {
        s += "group " + name + "\n";
        text_of(s, g, 1);
    }
    for (const auto& [name, g] : m->attribute_groups) {
        s += "attribute group " + name + "\n";
        text_of(s, g, 1);
    }
    const SchemaReport& r = m->report;
    list_of(s, "documents", r.documents);
    for (const SkippedLocation& k : r.skipped) s += "skipped " + k.location + " " + k.document + "\n";
    list_of(s, "unresolved types", r.unresolved.types);
    list_of(s, "unresolved elements", r.unresolved.elements);
    list_of(s, "unresolved groups", r.unresolved.groups);
    list_of(s, "unresolved attribute groups", r.unresolved.attribute_groups);
    list_of(s, "unresolved attributes", r.unresolved.attributes);
    s += std::to_string(r.global_elements) + " " + std::to_string(r.named_types) + "\n";
    return s;
}

// Loads `path` in both profiles, every document read ahead and none, and
// expects the same of each; gives the literal load's text.
std::string load_both_ways(const std::string& path) {
    std::string literal;
    for (Resolution r : {Resolution::Literal, Resolution::Complete}) {
        LoadOptions options;
        options.resolution = r;
        const std::string in_turn = model_text(parse_xsd(path, options, kNoDocument));
        const std::string ahead = model_text(parse_xsd(path, options, kEveryDocument));
        EXPECT_EQ(in_turn, ahead) << path;
        if (r == Resolution::Literal) literal = in_turn;
    }
    return literal;
}

// A schema body of `n` named complex types, each with a sequence of element
// declarations (by reference, by name with a named or built-in type, with
// an anonymous type), attributes, annotations and derivations, plus global
// elements, simple types, groups and unions: far more tags than one block
// of the reader's ring holds.
std::string many_declarations(int n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int k) { return static_cast<int>(rng() % static_cast<std::uint32_t>(k)); };
    const char* builtins[] = {"xs:string", "xs:int", "xs:decimal", "xs:boolean", "xs:double", "xs:long"};
    std::string s;
    for (int i = 0; i < n; ++i) {
        const std::string t = "T" + std::to_string(i);
        s += "<xs:element name=\"E" + std::to_string(i) + "\" type=\"" + t + "\"/>\n";
        s += "<xs:complexType name=\"" + t + "\"" + (pick(5) == 0 ? " mixed=\"true\"" : "") + ">";
        s += "<xs:annotation><xs:documentation><p>Type " + t + "</p> &amp; more</xs:documentation></xs:annotation>";
        const bool derived = i > 0 && pick(4) == 0;
        if (derived) s += "<xs:complexContent><xs:extension base=\"T" + std::to_string(pick(i)) + "\">";
        const bool choice = pick(3) == 0;
        s += choice ? "<xs:choice maxOccurs=\"unbounded\">" : "<xs:sequence>";
        for (int c = pick(12); c-- > 0;) {
            const std::string occurs = pick(2) ? " minOccurs=\"0\"" : (pick(2) ? " maxOccurs=\"unbounded\"" : "");
            switch (pick(5)) {
                case 0: s += "<xs:element ref=\"E" + std::to_string(pick(n)) + "\"" + occurs + "/>"; break;
                case 1:
                    s += "<xs:element name=\"c" + std::to_string(pick(40)) + "\" type=\"T" + std::to_string(pick(n)) +
                         "\"" + occurs + "/>";
                    break;
                case 2:
                    s += "<xs:element name=\"c" + std::to_string(pick(40)) + "\" type=\"" + builtins[pick(6)] + "\"" +
                         occurs + "/>";
                    break;
                case 3:
                    s += "<xs:element name=\"c" + std::to_string(pick(40)) + "\"" + occurs +
                         "><xs:complexType><xs:sequence><xs:element name=\"leaf\" type=\"" + builtins[pick(6)] +
                         "\"/></xs:sequence><xs:attribute name=\"a\" type=\"S" + std::to_string(pick(n)) +
                         "\"/></xs:complexType></xs:element>";
                    break;
                default: s += "<xs:group ref=\"G" + std::to_string(pick(n)) + "\"/>"; break;
            }
        }
        s += choice ? "</xs:choice>" : "</xs:sequence>";
        s += "<xs:attribute name=\"id\" type=\"xs:ID\" use=\"required\"/><xs:attributeGroup ref=\"AG" +
             std::to_string(pick(n)) + "\"/>";
        if (derived) s += "</xs:extension></xs:complexContent>";
        s += "</xs:complexType>\n";
        s += "<xs:simpleType name=\"S" + std::to_string(i) + "\"><xs:restriction base=\"" +
             (pick(2) ? std::string(builtins[pick(6)]) : "S" + std::to_string(pick(n))) +
             "\"/></xs:simpleType>\n";
        s += "<xs:simpleType name=\"U" + std::to_string(i) + "\"><xs:union memberTypes=\"xs:int S" +
             std::to_string(pick(n)) + "\"/></xs:simpleType>\n";
        s += "<xs:group name=\"G" + std::to_string(i) + "\"><xs:sequence><xs:element name=\"g\" type=\"xs:int\"/>"
             "</xs:sequence></xs:group>\n";
        s += "<xs:attributeGroup name=\"AG" + std::to_string(i) + "\"><xs:attribute name=\"ag\" type=\"U" +
             std::to_string(pick(n)) + "\"/></xs:attributeGroup>\n";
        s += "<xs:element name=\"H" + std::to_string(i) + "\" substitutionGroup=\"E" + std::to_string(pick(n)) +
             "\" type=\"T" + std::to_string(pick(n)) + "\"/>\n";
    }
    return s;
}

TEST(ReadAhead, GivesTheSameModelsAsReadingInTurn) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        TempDir dir;
        // A main document including a long one, which imports a short one
        // and includes a long one of its own; names shared between them,
        // so that later declarations replace earlier ones.
        dir.write("b.xsd", xsd("<xs:import schemaLocation=\"c.xsd\"/>\n<xs:include schemaLocation=\"d.xsd\"/>\n" +
                               many_declarations(400, seed)));
        dir.write("c.xsd", xsd(many_declarations(5, seed + 10), "xmlns:p=\"urn:p\" targetNamespace=\"urn:p\""));
        dir.write("d.xsd", xsd(many_declarations(300, seed + 20)));
        const std::string main =
            dir.write("a.xsd", xsd("<xs:include schemaLocation=\"b.xsd\"/>\n" + many_declarations(50, seed + 30)));
        const std::string text = load_both_ways(main);
        EXPECT_NE(text.find("element E399"), std::string::npos);
    }
}

TEST(ReadAhead, GivesTheSameErrors) {
    const std::string body = many_declarations(300, 7);
    const std::vector<std::string> broken = {
        "<xs:schema",                                                  // unclosed at once
        xsd(body).substr(0, 2000),                                     // cut off early
        xsd(body).substr(0, xsd(body).size() / 2),                     // cut off within a later block
        xsd(body + "<xs:element name=\"x\"></xs:elemnt>"),             // mismatched end tag near the end
        xsd(body).substr(0, xsd(body).size() - 3),                     // unclosed root
        xsd(body + "<xs:element name=\"x\" type=\"xs:int\"/>") + "<",  // trailing markup
    };
    for (const std::string& text : broken) {
        TempDir dir;
        const std::string path = dir.write("s.xsd", text);
        const std::string got = load_both_ways(path);
        EXPECT_TRUE(got.starts_with("error: ")) << got.substr(0, 200);
    }
    // An error in an included document, while the long one that includes it
    // has an error of its own further on: the included one's is reported.
    TempDir dir;
    dir.write("bad.xsd", "<xs:schema><oops></xs:schema>");
    const std::string path = dir.write(
        "s.xsd", xsd("<xs:include schemaLocation=\"bad.xsd\"/>" + body + "<xs:element name=\"x\"></x>"));
    const std::string got = load_both_ways(path);
    EXPECT_NE(got.find("expected </oops>"), std::string::npos) << got;
}

TEST(ReadAhead, FailsAsReadingDoesOnTextThatIsNotUtf8) {
    const std::string body = many_declarations(50, 5);
    for (std::size_t at : {std::size_t{0}, std::size_t{100}, body.size() / 2}) {
        std::string bad = xsd(body);
        bad.insert(at + 40, "\xC3\x28");  // an invalid sequence
        TempDir dir;
        // As the main document, and as one included after a good one.
        const std::string main = dir.write("main.xsd", bad);
        EXPECT_TRUE(load_both_ways(main).starts_with("error: ")) << at;
        dir.write("good.xsd", xsd(many_declarations(20, 6)));
        dir.write("bad.xsd", bad);
        const std::string outer = dir.write(
            "outer.xsd", xsd("<xs:include schemaLocation=\"good.xsd\"/><xs:include schemaLocation=\"bad.xsd\"/>"));
        const std::string got = load_both_ways(outer);
        EXPECT_NE(got.find("bad.xsd"), std::string::npos) << got;
        EXPECT_NE(got.find("valid UTF-8"), std::string::npos) << got;
    }
}

TEST(ReadAhead, EndsPromptlyWhenTheLoadFailsEarly) {
    // The long document names a missing-but-broken one first: the load
    // fails while the second thread waits for room in its ring.
    TempDir dir;
    dir.write("bad.xsd", "<xs:schema><a></b></xs:schema>");
    const std::string path =
        dir.write("s.xsd", xsd("<xs:include schemaLocation=\"bad.xsd\"/>" + many_declarations(2000, 11)));
    for (int i = 0; i < 20; ++i) {
        auto m = parse_xsd(path, LoadOptions{}, kEveryDocument);
        ASSERT_FALSE(m.has_value());
    }
}

}  // namespace
}  // namespace tessaly::schema
