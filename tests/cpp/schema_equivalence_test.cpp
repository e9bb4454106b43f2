// The loader's lazy links against literal copying: for many small generated
// schemas, walking the declaration automaton over the loaded model down every
// path gives declaration for declaration what a model with every named type
// copied into every use holds, and converting documents through either model
// gives the same text.
#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "converter/convert.hpp"
#include "converter/automaton.hpp"
#include "converter/literal_policy.hpp"
#include "storage/arena.hpp"
#include "literal_resolution.hpp"
#include "schema/loader.hpp"
#include "schema/resolve.hpp"
#include "schema_test_util.hpp"

namespace tessaly::schema {
namespace {

using converter::DeclAutomaton;
using converter::StateId;
using testing::TempDir;
using testing::xsd;

constexpr std::size_t kLiteralBudget = 200000;

struct Models {
    SchemaModel lazy;
    std::optional<SchemaModel> literal;  // absent when copying exceeded the budget
};

Models load_both(const std::string& text) {
    TempDir dir;
    std::string path = dir.write("s.xsd", text);
    Models m;
    auto lazy = parse_xsd(path);
    EXPECT_TRUE(lazy.has_value());
    if (lazy) m.lazy = std::move(*lazy);
    auto ctx = read_schema_documents(path);
    EXPECT_TRUE(ctx.has_value());
    if (ctx) {
        number_type_names(*ctx);
        resolve_simple_kinds(*ctx);
        inherit_complex_bases(*ctx);
        m.literal = testing::literal_model(std::move(*ctx), kLiteralBudget);
    }
    return m;
}

// Everything a conversion can learn from a declaration in force.
std::string signature(const ElementDef& decl, const TypeDef& type, const SchemaModel& model) {
    std::string s = decl.name.local + " min=" + std::to_string(decl.min_occurs) + " max=" +
                    (decl.max_occurs.unbounded ? "*" : std::to_string(decl.max_occurs.count));
    if (!type.is_complex()) return s + " simple=" + std::to_string(int(type.simple));
    const ComplexTypeDef& c = type.complex;
    s += " complex text=" + std::to_string(int(c.text_type)) + (c.mixed ? " mixed" : "") + " attrs=[";
    for (const AttributeDef* a : testing::all_attributes(c, &model))
        s += a->name + ":" + std::to_string(int(a->json_type)) + (a->required ? "!" : "") + " ";
    s += "] children=[";
    for (const ElementDef* ch : testing::all_children(c, &model)) s += ch->name.local + " ";
    return s + "]";
}

class Walker {
public:
    Walker(const SchemaModel& lazy, const SchemaModel& literal, int max_depth, std::size_t max_nodes)
        : lazy_(lazy),
          literal_(literal),
          policy_(lazy),
          automaton_(policy_, keys_, '@'),
          max_depth_(max_depth),
          max_nodes_(max_nodes) {}

    // Compares the automaton's state with the literal declaration, then the
    // children the converter can reach: the first of each name.
    void compare(StateId lazy, const ElementDef& lit_decl, const TypeDef& lit_type, const std::string& path,
                 int depth) {
        if (++nodes_ > max_nodes_ || ::testing::Test::HasFailure()) return;
        const converter::DeclState& s = automaton_.state(lazy);
        ASSERT_TRUE(s.decl) << path;
        ASSERT_EQ(signature(*s.decl, *s.type, lazy_), signature(lit_decl, lit_type, literal_)) << path;
        if (depth >= max_depth_ || !lit_type.is_complex()) return;
        std::vector<std::string> seen;
        for (const ElementDef& c : lit_type.complex.children) {
            if (std::find(seen.begin(), seen.end(), c.name.local) != seen.end()) continue;
            seen.push_back(c.name.local);
            compare(automaton_.open(lazy, c.name.local).state, c, c.type_def, path + "/" + c.name.local, depth + 1);
        }
    }

    DeclAutomaton& automaton() { return automaton_; }
    std::size_t nodes() const { return nodes_; }

private:
    const SchemaModel& lazy_;
    const SchemaModel& literal_;
    storage::Arena arena_;
    storage::KeyTable keys_;
    converter::LiteralPolicy policy_;
    DeclAutomaton automaton_;
    int max_depth_;
    std::size_t max_nodes_;
    std::size_t nodes_ = 0;
};

// Walks every global element and every named type chosen by xsi:type, with
// and without a declaration, in both models.
std::size_t compare_models(const SchemaModel& lazy, const SchemaModel& lit, int depth) {
    Walker w(lazy, lit, depth, 200000);
    DeclAutomaton& a = w.automaton();
    EXPECT_EQ(lazy.elements.size(), lit.elements.size());
    EXPECT_EQ(lazy.types.size(), lit.types.size());
    for (const auto& [name, e] : lazy.elements) {
        const ElementDef* le = lit.find_element(name);
        if (!le) {
            ADD_FAILURE() << "missing global " << name;
            continue;
        }
        w.compare(a.open(DeclAutomaton::kTop, name).state, *le, le->type_def, name, 0);
    }
    const StateId undeclared = a.open(DeclAutomaton::kTop, "\x01").state;
    for (const auto& [name, t] : lazy.types) {
        const TypeDef* lt = lit.find_type(name);
        if (!lt) {
            ADD_FAILURE() << "missing type " << name;
            continue;
        }
        w.compare(a.switch_type(undeclared, name), lit.anonymous, *lt, "xsi:" + name, 0);
        for (const auto& [ename, e] : lazy.elements) {
            w.compare(a.switch_type(a.open(DeclAutomaton::kTop, ename).state, name), *lit.find_element(ename), *lt,
                      ename + "[xsi:" + name + "]", 0);
        }
    }
    return w.nodes();
}

// ---- hand-written schemas -------------------------------------------------

// Where the copies stop is held end to end in tests/python/test_schema_conversion.py.
TEST(Equivalence, RecursiveTypeStopsWhereTheCopiesStop) {
    Models m = load_both(xsd(R"(
  <xs:element name="node" type="Node"/>
  <xs:complexType name="Node"><xs:sequence>
    <xs:element name="child" type="Node" minOccurs="0" maxOccurs="unbounded"/>
    <xs:element name="v" type="xs:int"/>
  </xs:sequence></xs:complexType>)"));
    ASSERT_TRUE(m.literal);
    compare_models(m.lazy, *m.literal, 8);
}

TEST(Equivalence, HandWrittenShapes) {
    const char* bodies[] = {
        // mutual recursion through refs and same-named children
        R"(<xs:element name="a" type="A"/><xs:element name="b" type="B"/>
           <xs:complexType name="A"><xs:sequence><xs:element ref="b"/><xs:element name="id" type="xs:int"/></xs:sequence></xs:complexType>
           <xs:complexType name="B"><xs:sequence><xs:element ref="a" maxOccurs="unbounded"/><xs:element name="id" type="Id"/></xs:sequence></xs:complexType>
           <xs:simpleType name="Id"><xs:restriction base="xs:boolean"/></xs:simpleType>)",
        // an inline type whose child is named like a typed element elsewhere
        R"(<xs:element name="root"><xs:complexType><xs:sequence>
             <xs:element name="wrap"><xs:complexType><xs:sequence><xs:element name="x" type="xs:int"/></xs:sequence></xs:complexType></xs:element>
           </xs:sequence></xs:complexType></xs:element>
           <xs:complexType name="Other"><xs:sequence><xs:element name="x" type="X"/></xs:sequence></xs:complexType>
           <xs:complexType name="X" mixed="true"><xs:sequence><xs:element name="wrap"/><xs:element name="x"/></xs:sequence></xs:complexType>)",
        // extension chain with attributes, and a type of unknown name
        R"(<xs:element name="e" type="C"/>
           <xs:complexType name="A"><xs:sequence><xs:element name="e" type="Missing"/></xs:sequence><xs:attribute name="n" type="xs:int"/></xs:complexType>
           <xs:complexType name="B"><xs:complexContent><xs:extension base="A"><xs:sequence><xs:element name="f" type="C"/></xs:sequence></xs:extension></xs:complexContent></xs:complexType>
           <xs:complexType name="C"><xs:complexContent><xs:restriction base="B"><xs:sequence><xs:element name="g" type="A"/></xs:sequence></xs:restriction></xs:complexContent></xs:complexType>)",
        // every type containing every type
        R"(<xs:element name="t0" type="T0"/>
           <xs:complexType name="T0"><xs:sequence><xs:element name="t0" type="T0"/><xs:element name="t1" type="T1"/><xs:element name="t2" type="T2"/></xs:sequence></xs:complexType>
           <xs:complexType name="T1"><xs:sequence><xs:element name="t0" type="T0"/><xs:element name="t1" type="T1"/><xs:element name="t2" type="T2"/></xs:sequence></xs:complexType>
           <xs:complexType name="T2"><xs:sequence><xs:element name="t0" type="T0"/><xs:element name="t1" type="T1"/><xs:element name="t2" type="T2"/></xs:sequence></xs:complexType>)",
    };
    for (const char* body : bodies) {
        Models m = load_both(xsd(body));
        ASSERT_TRUE(m.literal);
        compare_models(m.lazy, *m.literal, 10);
    }
}

// ---- generated schemas ----------------------------------------------------

class SchemaGenerator {
public:
    explicit SchemaGenerator(unsigned seed) : rng_(seed) {}

    std::string generate() {
        complex_count_ = 1 + pick(4);
        simple_count_ = pick(3);
        std::string body;
        for (int i = 0; i < complex_count_; ++i) body += named_complex(i);
        for (int i = 0; i < simple_count_; ++i) body += named_simple(i);
        int globals = 1 + pick(3);
        for (int i = 0; i < globals; ++i) body += element(0, true);
        if (pick(4) == 0) body += "<xs:group name=\"g\"><xs:sequence>" + element(1, false) + "</xs:sequence></xs:group>";
        return xsd(body);
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    std::string name() {
        static const char* names[] = {"a", "b", "c", "id", "item", "node"};
        return names[pick(6)];
    }
    std::string complex_name() { return "C" + std::to_string(pick(complex_count_)); }
    std::string type_ref() {
        switch (pick(9)) {
            case 0: return "xs:int";
            case 1: return "xs:boolean";
            case 2:
            case 3: return complex_name();
            case 4: return "tns:" + complex_name();
            case 5: return simple_count_ ? "S" + std::to_string(pick(simple_count_)) : "xs:double";
            case 6: return "Missing";
            default: return "";
        }
    }
    std::string occurs() {
        switch (pick(4)) {
            case 0: return " maxOccurs=\"unbounded\"";
            case 1: return " minOccurs=\"0\" maxOccurs=\"2\"";
            default: return "";
        }
    }
    std::string attributes() {
        static const char* types[] = {"xs:int", "xs:boolean", "S0", "xs:decimal"};
        std::string s;
        for (int i = pick(3); i > 0; --i)
            s += "<xs:attribute name=\"" + std::string(pick(2) ? "x" : "y") + "\" type=\"" + types[pick(4)] +
                 "\"" + (pick(2) ? " use=\"required\"" : "") + "/>";
        return s;
    }
    std::string content(int depth) {
        std::string s = "<xs:sequence>";
        for (int i = pick(4); i > 0; --i) s += element(depth, false);
        if (pick(3) == 0) s += "<xs:choice>" + element(depth, false) + element(depth, false) + "</xs:choice>";
        return s + "</xs:sequence>" + attributes();
    }
    std::string element(int depth, bool global) {
        if (!global && pick(8) == 0) return "<xs:element ref=\"" + name() + "\"" + occurs() + "/>";
        std::string s = "<xs:element name=\"" + name() + "\"" + (global ? "" : occurs());
        std::string t = type_ref();
        if (!t.empty()) s += " type=\"" + t + "\"";
        if (depth < 2 && pick(4) == 0)
            return s + "><xs:complexType" + (pick(3) == 0 ? " mixed=\"true\"" : "") + ">" + content(depth + 1) +
                   "</xs:complexType></xs:element>";
        if (pick(8) == 0) return s + "><xs:simpleType><xs:restriction base=\"xs:float\"/></xs:simpleType></xs:element>";
        return s + "/>";
    }
    std::string named_complex(int i) {
        std::string open = "<xs:complexType name=\"C" + std::to_string(i) + "\"" + (pick(4) == 0 ? " mixed=\"true\"" : "") + ">";
        switch (pick(5)) {
            case 0:
                return open + "<xs:complexContent><xs:extension base=\"" + complex_name() + "\">" + content(0) +
                       "</xs:extension></xs:complexContent></xs:complexType>";
            case 1:
                return open + "<xs:complexContent><xs:restriction base=\"" + complex_name() + "\">" + content(0) +
                       "</xs:restriction></xs:complexContent></xs:complexType>";
            case 2:
                return open + "<xs:simpleContent><xs:extension base=\"xs:int\">" + attributes() +
                       "</xs:extension></xs:simpleContent></xs:complexType>";
            default: return open + content(0) + "</xs:complexType>";
        }
    }
    std::string named_simple(int i) {
        static const char* bases[] = {"xs:int", "S0", "S1", "Missing", "C0", "xs:boolean"};
        return "<xs:simpleType name=\"S" + std::to_string(i) + "\"><xs:restriction base=\"" + bases[pick(6)] +
               "\"/></xs:simpleType>";
    }

    std::mt19937 rng_;
    int complex_count_ = 1;
    int simple_count_ = 0;
};

// A document that follows the literal model's declarations, with now and
// then an undeclared element, an undeclared attribute or an xsi:type.
class DocumentGenerator {
public:
    DocumentGenerator(const SchemaModel& model, unsigned seed) : model_(model), rng_(seed) {
        for (const auto& [name, t] : model.types) type_names_.push_back(name);
        std::sort(type_names_.begin(), type_names_.end());
    }

    std::string generate(const std::string& root) {
        out_ = "<?xml version=\"1.0\"?>\n";
        const ElementDef* e = model_.find_element(root);
        emit(root, e ? &e->type_def : nullptr, 0, true);
        return out_;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    void emit(const std::string& name, const TypeDef* type, int depth, bool root) {
        out_ += "<" + name;
        if (root) out_ += " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
        if (!type_names_.empty() && pick(6) == 0) {
            const std::string& x = type_names_[pick(int(type_names_.size()))];
            out_ += " xsi:type=\"" + std::string(pick(2) ? "p:" : "") + x + "\"";
            type = model_.find_type(x);
        }
        static const char* values[] = {"5", "true", "1.5", "x", "-3", "0"};
        if (type && type->is_complex())
            for (const AttributeDef* a : testing::all_attributes(type->complex, &model_))
                if (pick(2)) out_ += " " + a->name + "=\"" + values[pick(6)] + "\"";
        if (pick(5) == 0) out_ += " other=\"7\"";
        out_ += ">";
        const auto children = type && type->is_complex() ? testing::all_children(type->complex, &model_)
                                                         : std::vector<const ElementDef*>{};
        if (pick(3) == 0 || children.empty()) out_ += values[pick(6)];
        if (depth < 6 && type && type->is_complex()) {
            for (const ElementDef* c : children) {
                int times = pick(3);
                for (int k = 0; k < times; ++k) emit(c->name.local, &c->type_def, depth + 1, false);
            }
            if (pick(6) == 0) emit("item", nullptr, depth + 1, false);
        }
        out_ += "</" + name + ">";
    }

    const SchemaModel& model_;
    std::mt19937 rng_;
    std::vector<std::string> type_names_;
    std::string out_;
};

TEST(Equivalence, GeneratedSchemasAgreeDeclarationForDeclaration) {
    int compared = 0;
    std::size_t nodes = 0;
    for (unsigned seed = 1; seed <= 400; ++seed) {
        std::string text = SchemaGenerator(seed).generate();
        Models m = load_both(text);
        if (!m.literal) continue;
        ++compared;
        nodes += compare_models(m.lazy, *m.literal, 7);
        if (HasFailure()) {
            ADD_FAILURE() << "seed " << seed << ":\n" << text;
            return;
        }
    }
    EXPECT_GE(compared, 380);
    EXPECT_GT(nodes, 10000u);
}

TEST(Equivalence, GeneratedDocumentsConvertAlike) {
    int documents = 0;
    for (unsigned seed = 1; seed <= 200; ++seed) {
        std::string text = SchemaGenerator(seed).generate();
        Models m = load_both(text);
        if (!m.literal) continue;
        std::vector<std::string> roots;
        for (const auto& [name, e] : m.literal->elements) roots.push_back(name);
        std::sort(roots.begin(), roots.end());
        roots.push_back("undeclared");
        DocumentGenerator docs(*m.literal, seed);
        for (const auto& root : roots) {
            std::string doc = docs.generate(root);
            for (auto conv : {converter::Convention::BadgerFish, converter::Convention::Parker,
                              converter::Convention::Abdera}) {
                auto a = converter::convert_to_string(doc, m.lazy, conv);
                auto b = converter::convert_to_string(doc, *m.literal, conv);
                ASSERT_TRUE(a && b) << doc;
                ASSERT_EQ(a->view(), b->view()) << "seed " << seed << "\n" << text << "\n" << doc;
            }
            ++documents;
        }
    }
    EXPECT_GT(documents, 300);
}

}  // namespace
}  // namespace tessaly::schema
