#pragma once
// The schema model: what remains of an XSD once it has been read. Immutable
// after loading; conversions only read it, from any number of threads.
//
// Named types are not copied into the declarations that use them. Instead
// every element declaration carries the named type that its name resolves to
// (`named_type`, `named_type_def`), and the converter walks declarations
// through views (converter/decl_view.hpp) that give exactly the declarations a
// full deep copy would give, at the cost of a scan per element.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessaly::schema {

// Kind of simple content. Codes are fixed; 5 stands for "absent" where the
// model holds an optional kind, and every code other than 1 to 3 reads as String.
enum class JsonType : std::uint8_t { String = 0, Integer = 1, Float = 2, Boolean = 3, Absent = 5 };

struct QName {
    std::optional<std::string> namespace_uri;  // never set by the loader
    std::string local;
};

struct MaxOccurs {
    bool unbounded = false;
    std::uint64_t count = 1;  // meaningful when bounded; 0 is a valid count

    static MaxOccurs bounded(std::uint64_t n) { return {false, n}; }
    static MaxOccurs unbounded_value() { return {true, 0}; }
    // A child of this bound is an array even when it occurs once.
    bool always_array() const { return unbounded || count > 1; }
};

struct ElementDef;

struct AttributeDef {
    std::string name;  // empty for a declaration by `ref`
    bool required = false;
    JsonType json_type = JsonType::String;
};

struct ComplexTypeDef {
    std::vector<ElementDef> children;  // own, flat, in schema order; lookups take the first match
    std::vector<AttributeDef> attributes;  // own
    bool mixed = false;
    JsonType text_type = JsonType::Absent;
    // Children and attributes inherited through named bases: the own content
    // of `inherited_count` types, the first at `base`, each next one at the
    // previous one's `base`. Shared with the bases, never copied; visit the
    // whole content with `visit_content`.
    const ComplexTypeDef* base = nullptr;
    std::uint32_t inherited_count = 0;

    // Inline types nest as deep as the schema text does, so copying and
    // destroying a declaration tree walk it with explicit stacks instead of
    // recursing once per level.
    // The special members are defined out of line, where ElementDef is
    // complete: a vector of an incomplete type may be named here, not used.
    ComplexTypeDef();
    ComplexTypeDef(const ComplexTypeDef& other);
    ComplexTypeDef(ComplexTypeDef&&) noexcept;
    ComplexTypeDef& operator=(const ComplexTypeDef& other);
    ComplexTypeDef& operator=(ComplexTypeDef&&) noexcept;
    ~ComplexTypeDef();
};

struct TypeDef {
    enum class Kind : std::uint8_t { Simple, Complex };
    Kind kind = Kind::Simple;
    JsonType simple = JsonType::String;  // the Simple case's kind
    ComplexTypeDef complex;              // the Complex case's content; empty when Simple

    static TypeDef simple_of(JsonType t) {
        TypeDef d;
        d.simple = t;
        return d;
    }
    static TypeDef complex_of(ComplexTypeDef c) {
        TypeDef d;
        d.kind = Kind::Complex;
        d.complex = std::move(c);
        return d;
    }
    bool is_complex() const { return kind == Kind::Complex; }
};

// Calls `visit` with the own content of each type `type` inherits from,
// nearest base first, then with `type` itself, until a call returns true.
// That is the order in which a type's children and attributes are looked up.
template <class Visit>
bool visit_content(const ComplexTypeDef& type, Visit&& visit) {
    const ComplexTypeDef* b = type.base;
    for (std::uint32_t i = 0; i < type.inherited_count; ++i, b = b->base)
        if (visit(*b)) return true;
    return visit(type);
}

// Id of a type name in the in-progress sets of lazy resolution.
using TypeNameId = std::int32_t;
inline constexpr TypeNameId kNoTypeName = -1;

struct ElementDef {
    QName name;
    std::uint64_t min_occurs = 1;
    MaxOccurs max_occurs;
    TypeDef type_def;  // as the parser left it (a named type is a Simple String placeholder)

    // Resolution data, filled once the whole schema has been read:
    // the id of the type name that `element_types` gives this element's name,
    // or kNoTypeName when it gives none;
    TypeNameId named_type = kNoTypeName;
    // and that named type as it stands after base inheritance, or null when no
    // type of that name exists.
    const TypeDef* named_type_def = nullptr;
};

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
template <class V>
using StringMap = std::unordered_map<std::string, V, StringHash, std::equal_to<>>;

struct SchemaModel {
    StringMap<ElementDef> elements;  // global declarations, by name
    StringMap<TypeDef> types;        // named simple and complex types, by name
    std::optional<std::string> target_namespace;

    // Every type name that lazy resolution may put in an in-progress set
    // (keys of `types` and targets of element-name-to-type links), by id.
    StringMap<TypeNameId> type_name_ids;
    // The declaration used when `xsi:type` names a type for an undeclared
    // element: empty name, min 1, max 1.
    ElementDef anonymous;

    SchemaModel() = default;
    // Declarations point into the maps' nodes, which a move keeps in place and
    // a copy would not.
    SchemaModel(const SchemaModel&) = delete;
    SchemaModel& operator=(const SchemaModel&) = delete;
    SchemaModel(SchemaModel&&) = default;
    SchemaModel& operator=(SchemaModel&&) = default;

    const ElementDef* find_element(std::string_view name) const {
        auto it = elements.find(name);
        return it == elements.end() ? nullptr : &it->second;
    }
    const TypeDef* find_type(std::string_view name) const {
        auto it = types.find(name);
        return it == types.end() ? nullptr : &it->second;
    }
    TypeNameId type_name_id(std::string_view name) const {
        auto it = type_name_ids.find(name);
        return it == type_name_ids.end() ? kNoTypeName : it->second;
    }
};

}  // namespace tessaly::schema
