#pragma once
// Helpers for the schema tests: XSD files written into a fresh directory.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pthread.h>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "schema/loader.hpp"
#include "schema/model.hpp"
#include "schema/parse_context.hpp"

namespace tessaly::schema::testing {

inline constexpr std::string_view kXsdNs = "http://www.w3.org/2001/XMLSchema";

// A directory that lives as long as the object.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tessaly_schema_XXXXXX";
        if (!::mkdtemp(tmpl.data())) ADD_FAILURE() << "mkdtemp failed";
        root_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(std::string_view rel = {}) const { return rel.empty() ? root_.string() : (root_ / rel).string(); }

    // Writes `text` to `rel`, creating its directories; returns the full path.
    std::string write(std::string_view rel, std::string_view text) const {
        std::filesystem::path p = root_ / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }

private:
    std::filesystem::path root_;
};

// A schema document binding xs to the XSD namespace, around `body`.
inline std::string xsd(std::string_view body, std::string_view root_attributes = {}) {
    std::string s = "<?xml version=\"1.0\"?>\n<xs:schema xmlns:xs=\"";
    s.append(kXsdNs).append("\"");
    if (!root_attributes.empty()) s.append(" ").append(root_attributes);
    s.append(">\n").append(body).append("\n</xs:schema>\n");
    return s;
}

// The loaded model of one schema document holding `text`; an empty model,
// and a test failure, when it does not load.
inline SchemaModel load_text(const std::string& text) {
    TempDir dir;
    auto m = parse_xsd(dir.write("s.xsd", text));
    EXPECT_TRUE(m.has_value()) << (m ? "" : m.error().display());
    return m ? std::move(*m) : SchemaModel{};
}

// The same document read into a context, without any resolution.
inline ParseContext read_text(const std::string& text) {
    TempDir dir;
    auto ctx = read_schema_documents(dir.write("s.xsd", text));
    EXPECT_TRUE(ctx.has_value()) << (ctx ? "" : ctx.error().display());
    return ctx ? std::move(*ctx) : ParseContext{};
}

// Calls `check` with the schema-body declarations `decls` in every order, so
// that results which must not depend on reading order are seen not to.
template <class Check>
void for_each_order(std::vector<std::string> decls, Check check) {
    std::sort(decls.begin(), decls.end());
    do {
        std::string body;
        for (const auto& d : decls) body += d;
        check(body);
    } while (std::next_permutation(decls.begin(), decls.end()));
}

// Changes the working directory for the lifetime of the object.
class ChangeDir {
public:
    explicit ChangeDir(const std::string& to) : from_(std::filesystem::current_path()) {
        std::filesystem::current_path(to);
    }
    ~ChangeDir() { std::filesystem::current_path(from_); }

private:
    std::filesystem::path from_;
};

// Runs `fn` on a thread with a stack of `bytes`, and waits for it.
inline void run_with_stack(std::size_t bytes, std::function<void()> fn) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, bytes);
    pthread_t thread;
    auto trampoline = [](void* p) -> void* {
        (*static_cast<std::function<void()>*>(p))();
        return nullptr;
    };
    if (pthread_create(&thread, &attr, trampoline, &fn) != 0) {
        ADD_FAILURE() << "pthread_create failed";
    } else {
        pthread_join(thread, nullptr);
    }
    pthread_attr_destroy(&attr);
}

// Every child or attribute declaration of a type in lookup order: with the
// model, the inherited ones first; without, its own.
template <class Decl>
std::vector<const Decl*> all_of(const ComplexTypeDef& t, std::vector<Decl> ComplexTypeDef::*list,
                                const SchemaModel* m) {
    std::vector<const Decl*> out;
    auto add = [&](const ComplexTypeDef& part) {
        for (const auto& d : part.*list) out.push_back(&d);
        return false;
    };
    if (m) m->visit_content(t, add);
    else add(t);
    return out;
}

inline std::vector<const ElementDef*> all_children(const ComplexTypeDef& t, const SchemaModel* m = nullptr) {
    return all_of(t, &ComplexTypeDef::children, m);
}

inline std::vector<const AttributeDef*> all_attributes(const ComplexTypeDef& t, const SchemaModel* m = nullptr) {
    return all_of(t, &ComplexTypeDef::attributes, m);
}

inline std::string child_names(const TypeDef& t, const SchemaModel* m = nullptr) {
    std::string s;
    for (const ElementDef* c : all_children(t.complex, m)) s.append(s.empty() ? "" : ",").append(c->name.local);
    return s;
}

inline std::string attribute_names(const TypeDef& t, const SchemaModel* m = nullptr) {
    std::string s;
    for (const AttributeDef* a : all_attributes(t.complex, m)) s.append(s.empty() ? "" : ",").append(a->name);
    return s;
}

inline const char* kind_text(JsonType k) {
    switch (k) {
        case JsonType::Integer: return "int";
        case JsonType::Float: return "float";
        case JsonType::Boolean: return "bool";
        case JsonType::Absent: return "-";
        default: return "str";
    }
}

// A type as written, on one line: its simple kind, or its own children
// (name[min..max] when not exactly once), attributes (@name, ! when
// required), text kind ($kind) and mixed flag in braces.
inline std::string dump(const TypeDef& t);

inline std::string dump(const ElementDef& e) {
    std::string s = e.name.local;
    if (e.min_occurs != 1 || e.max_occurs.unbounded || e.max_occurs.count != 1)
        s += "[" + std::to_string(e.min_occurs) + ".." +
             (e.max_occurs.unbounded ? "*" : std::to_string(e.max_occurs.count)) + "]";
    return s + ":" + dump(e.type_def);
}

inline std::string dump(const TypeDef& t) {
    if (!t.is_complex()) return kind_text(t.simple);
    std::string s;
    for (const ElementDef& c : t.complex.children) s += " " + dump(c);
    for (const AttributeDef& a : t.complex.attributes)
        s += " @" + a.name + (a.required ? "!:" : ":") + kind_text(a.json_type);
    if (t.complex.text_type != JsonType::Absent) s += " $" + std::string(kind_text(t.complex.text_type));
    if (t.complex.mixed) s += " mixed";
    return "{" + (s.empty() ? s : s.substr(1)) + "}";
}

template <class Map, class Text>
void dump_table(std::string& s, const char* tag, char sep, const Map& m, Text text) {
    std::map<std::string, std::string> sorted;
    for (const auto& [k, v] : m) sorted[std::string(k)] = text(v);
    for (const auto& [k, v] : sorted) s += std::string(tag) + " " + k + sep + v + "\n";
}

// Everything one schema document was read into, a line per entry, sorted
// within each table: global elements (E), named types (T), element names
// given a non-built-in type (named), complex and simple derivation bases,
// and the target namespace.
inline std::string dump(const ParseContext& ctx) {
    std::string s;
    dump_table(s, "E", ':', ctx.model.elements, [](const ElementDef& e) { return dump(e.type_def); });
    dump_table(s, "T", ':', ctx.model.types, [](const TypeDef& t) { return dump(t); });
    auto same = [](std::string_view v) { return std::string(v); };
    dump_table(s, "named", '=', ctx.element_types, same);
    dump_table(s, "cbase", '=', ctx.complex_bases, same);
    dump_table(s, "sbase", '=', ctx.simple_bases, same);
    if (ctx.target_namespace) s += "tns " + *ctx.target_namespace + "\n";
    return s;
}

}  // namespace tessaly::schema::testing
