#pragma once
// The schema model: what remains of an XSD once it has been read. Immutable
// after loading; conversions only read it, from any number of threads.
//
// Plain records, with no pointers into one another: a model can be copied
// and moved freely. Named types are not copied into the declarations that use
// them. Instead every element declaration carries the number of the type name
// that its name resolves to (`named_type`), and the converter's declaration
// automaton (converter/automaton.hpp) follows those numbers, giving exactly
// the declarations a full deep copy would give.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tessaly/load.hpp"

namespace tessaly::schema {

// Kind of simple content. Codes are fixed; 5 stands for "absent" where the
// model holds an optional kind, and every code other than 1 to 3 reads as String.
enum class JsonType : std::uint8_t { String = 0, Integer = 1, Float = 2, Boolean = 3, Absent = 5,
    // The complete profile's own kinds, never in a literal model (where
    // codes 4 and 6 and up still read as String): a decimal written exactly
    // from its digits, and an integer of any size.
    ExactDecimal = 8, ExactInteger = 9 };

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

// The number of a type name (SchemaModel::type_names).
using TypeNameId = std::int32_t;
inline constexpr TypeNameId kNoTypeName = -1;

struct AttributeDef {
    // What an entry of an attribute list stands for. Literal models hold
    // declarations only; the complete profile also keeps references to a
    // global attribute and to an attribute group, named by `name`.
    enum class Kind : std::uint8_t { Declared, Ref, GroupRef };
    std::string name;  // empty for a declaration by `ref` (literal)
    bool required = false;
    JsonType json_type = JsonType::String;
    Kind kind = Kind::Declared;
    // Complete profile: the named simple type (local part) that `json_type`
    // comes from, once resolved.
    std::string type_name;
};

struct ComplexTypeDef {
    std::vector<ElementDef> children;  // own, flat, in schema order; lookups take the first match
    std::vector<AttributeDef> attributes;  // own
    bool mixed = false;
    JsonType text_type = JsonType::Absent;
    // Children and attributes inherited through named bases: the own content
    // of `inherited_count` complex types, the first named `base`, each next
    // one named by the previous one's `base`. Shared with the bases, never
    // copied; SchemaModel::visit_content visits the whole content.
    TypeNameId base = kNoTypeName;
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
    // Complete profile: the derivation base (local part) when it is not
    // built in, for anonymous types as well as named ones.
    std::string base_name;

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

struct ElementDef {
    // What an entry of a children list stands for. Literal models hold
    // declarations and references (by the referenced name) alike as
    // Element; the complete profile tells references to a global element
    // and to a group (both named by `name.local`) apart.
    enum class Particle : std::uint8_t { Element, ElementRef, GroupRef };
    QName name;
    std::uint64_t min_occurs = 1;
    MaxOccurs max_occurs;
    // The type as written: an inline type, or a built-in type's kind; String
    // when neither was given. A named type is not written here: see below.
    TypeDef type_def;
    // The number of the type name that the last declaration with this name
    // gave as its `type` (element types are resolved by element name), or
    // kNoTypeName when none did. Filled once the whole schema has been read.
    TypeNameId named_type = kNoTypeName;

    // Complete profile only. In it, `max_occurs` is unbounded when a
    // compositor around the particle (within its type or group) repeats.
    Particle particle = Particle::Element;
    std::string type_name;                   // this declaration's own named type, as written (local part)
    TypeNameId declared_type = kNoTypeName;  // its number, once resolved
    std::string substitution_head;           // a global element's substitutionGroup (local part)
    bool has_type = false;                   // a type attribute or an anonymous type was given
};

struct StringHash {
    using is_transparent = void;
    // Not noexcept, on purpose: libstdc++ then keeps each key's hash in its
    // node (as it does for std::hash<std::string>), so that walking a bucket
    // and rehashing never hash a stored key again. Where the entries go, and
    // so the order of iteration, is the same either way.
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
template <class V>
using StringMap = std::unordered_map<std::string, V, StringHash, std::equal_to<>>;

struct SchemaModel {
    StringMap<ElementDef> elements;  // global declarations, by name
    StringMap<TypeDef> types;        // named simple and complex types, by name
    std::optional<std::string> target_namespace;

    // Every type name a declaration may resolve to (keys of `types` and
    // targets of element-name-to-type links), numbered both ways.
    std::vector<std::string> type_names;
    StringMap<TypeNameId> type_name_ids;
    // The declaration used when `xsi:type` names a type for an undeclared
    // element: empty name, min 1, max 1.
    ElementDef anonymous;

    // Complete profile only: global attributes, top-level model groups (their
    // particles as children) and attribute groups (their attributes).
    StringMap<AttributeDef> global_attributes;
    StringMap<ComplexTypeDef> groups;
    StringMap<ComplexTypeDef> attribute_groups;

    // The rules the names were resolved by; conversions pick theirs by it.
    Resolution resolution = Resolution::Literal;
    // What the load read, skipped and could not resolve.
    SchemaReport report;

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
    // The type named by number `id`, or null when no type has that name.
    const TypeDef* find_type(TypeNameId id) const {
        return id == kNoTypeName ? nullptr : find_type(type_names[static_cast<std::size_t>(id)]);
    }

    // Calls `visit` with the own content of each complex type that `type`
    // inherits from, nearest base first, then with `type` itself, until a
    // call returns true. That is the order in which a type's children and
    // attributes are looked up.
    template <class Visit>
    bool visit_content(const ComplexTypeDef& type, Visit&& visit) const {
        TypeNameId b = type.base;
        for (std::uint32_t i = 0; i < type.inherited_count; ++i) {
            const ComplexTypeDef& base = find_type(b)->complex;
            if (visit(base)) return true;
            b = base.base;
        }
        return visit(type);
    }
};

}  // namespace tessaly::schema
