#pragma once
// The complete resolution profile: the XSD standard's lookups, so that no
// content of a document is lost and every value the schema types is typed.
//
// - A child is found among the particles of its parent's type (inherited
//   ones first, nearest base first), through group references wherever they
//   stand; an element reference takes the global declaration's type with
//   the referencing particle's bounds; a global element whose substitution
//   group leads to a referenced head stands in for it, with its own type
//   (or the head's, when it declares none).
// - Named types apply at every depth: a state is its declaration and type,
//   so a recursive type gives a finite set of states without any bound.
// - An element found through a group reference that repeats is an array,
//   as is one whose own compositor repeats (folded in when it was read).
// - A child its parent's type does not declare, and an element below an
//   undeclared or simple-typed one, is found among the global declarations,
//   as a lax wildcard would be.
// - Every element keeps its attributes. An undeclared one, or one of a
//   simple type, is treated as a complex type with that simple content and
//   no attribute declarations, so its attributes are strings beside its
//   typed text ({"@unit": "cm", "$": 4} in BadgerFish).
// - An attribute is matched by its written name, then, when it is prefixed
//   (xml:lang, xlink:href), by its local name; references and attribute
//   groups are followed.

#include <array>

#include "converter/automaton.hpp"

namespace tessaly::converter {

class CompletePolicy final : public ResolutionPolicy {
public:
    explicit CompletePolicy(const schema::SchemaModel& model);

    DeclState child(const DeclState* parent, std::string_view local, InProgressSets& sets) const override;
    std::optional<DeclState> switch_type(const DeclState& found, std::string_view type_local,
                                         InProgressSets& sets) const override;
    const schema::AttributeDef* attribute(const DeclState& state, std::string_view name) const override;

private:
    struct Found {
        const schema::ElementDef* particle = nullptr;
        const schema::ElementDef* member = nullptr;  // a substitution group member standing in for the particle's head
        bool repeats = false;
    };
    Found find_particle(const schema::ComplexTypeDef& type, std::string_view local) const;
    const schema::TypeDef* type_of(const schema::ElementDef& e) const;
    // The first of a substitution group member and its heads that declares
    // a type (a member without one takes its head's), or null.
    const schema::ElementDef* typed_head(const schema::ElementDef& member) const;
    // A simple type as the complex type with its simple content.
    const schema::TypeDef* as_complex(const schema::TypeDef* t) const;
    DeclState global(std::string_view local) const;

    const schema::SchemaModel& model_;
    std::array<schema::TypeDef, 10> simple_content_;  // by JsonType code
    schema::ElementDef undeclared_;
};

}  // namespace tessaly::converter
