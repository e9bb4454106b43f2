#pragma once
// Preparing a new element beyond its declaration: any xsi:type switch, and
// its typed attributes. Namespaces play no part: attributes match by their
// written name, xsi:type by its literal written name.

#include <string_view>
#include <vector>

#include "converter/automaton.hpp"
#include "converter/input_text.hpp"
#include "storage/value.hpp"
#include "schema/model.hpp"

namespace tessaly::converter {

// Whether a tag could carry an xsi:type that switches its type: most tags
// carry none, and then the attribute walk is not needed at all.
inline bool may_switch_type(std::string_view attribute_text, const schema::SchemaModel& model) {
    return !model.types.empty() && attribute_text.find("xsi:type") != std::string_view::npos;
}

// Each function below takes a tag's attributes as `Attributes`: the tag's
// attribute text (std::string_view), walked here, or its attributes as
// read ahead (xml::ReadAttributes), which are the same.

// `found`, switched by the tag's first "xsi:type" attribute, if any.
template <class Attributes>
StateId override_with_xsi_type(Attributes attributes, StateId found, DeclAutomaton& automaton, InputText& input);

// The tag's attributes as members in document order, keyed by their written
// names and typed by the attribute declarations of complex state `state`.
// Appends to `out`.
template <class Attributes>
void collect_attributes(Attributes attributes, StateId state, DeclAutomaton& automaton, InputText& input,
                        std::vector<storage::Member>& out);

// Both in one walk over the tag, for an element of complex state `found`
// whose type an xsi:type may switch: its attributes under the state its
// first xsi:type leads to, which is returned. (Most tags carry none, and
// then the tag is read once.)
template <class Attributes>
StateId collect_attributes_switching(Attributes attributes, StateId found, DeclAutomaton& automaton, InputText& input,
                                     std::vector<storage::Member>& out);

}  // namespace tessaly::converter
