#pragma once
// The module's resolution profile. A declaration whose name links to a named
// type takes that type, as if the type had been copied into it, except below
// a type whose resolution is already in progress on the way down: from there
// on everything stands as written. Children and attributes are found by
// name among those a complex type declares (its own, after those inherited
// through its bases), the first match winning; an element below anything
// else is found among the global declarations.

#include "converter/automaton.hpp"

namespace tessaly::converter {

class LiteralPolicy final : public ResolutionPolicy {
public:
    explicit LiteralPolicy(const schema::SchemaModel& model) : model_(model) {}

    DeclState child(const DeclState* parent, std::string_view local, InProgressSets& sets) const override;
    std::optional<DeclState> switch_type(const DeclState& found, std::string_view type_local,
                                         InProgressSets& sets) const override;
    const schema::AttributeDef* attribute(const DeclState& state, std::string_view name) const override;

private:
    const schema::SchemaModel& model_;
};

}  // namespace tessaly::converter
