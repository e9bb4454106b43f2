#pragma once
// Preparing a new element: its declaration, any xsi:type switch, and its
// typed attributes. Namespaces play no part: elements match by local name,
// attributes by their written name, xsi:type by its literal written name.

#include <span>
#include <string_view>
#include <vector>

#include "converter/decl_view.hpp"
#include "converter/frame.hpp"
#include "converter/input_text.hpp"
#include "converter/decl_keys.hpp"
#include "schema/model.hpp"

namespace tessaly::converter {

// The declaration of element `local` below the innermost open frame (or at
// the top when none is open). Below a declared complex element only its
// declared children are recognised; below anything else, the globals.
DeclView find_elem_def(std::string_view local, std::span<const BuildFrame> open, const schema::SchemaModel& model,
                       json::Arena& arena);

// `found`, switched to the named type that an "xsi:type" attribute of the
// tag names, when the schema has such a type.
DeclView override_with_xsi_type(std::string_view attribute_text, DeclView found, const schema::SchemaModel& model,
                                InputText& input);

// Whether a tag could carry an xsi:type that switches its type: most tags
// carry none, and then the attribute walk is not needed at all.
inline bool may_switch_type(std::string_view attribute_text, const schema::SchemaModel& model) {
    return !model.types.empty() && attribute_text.find("xsi:type") != std::string_view::npos;
}

// The tag's attributes as members in document order, keyed through `keys`
// by their written names, typed by the attribute declarations of a complex
// declaration in force; none at all when the declaration is absent or
// simple. Appends to `out`.
void collect_attributes(std::string_view attribute_text, const DeclView& def, InputText& input,
                        DeclKeys<schema::AttributeDef>& keys, std::vector<json::Member>& out);

}  // namespace tessaly::converter
