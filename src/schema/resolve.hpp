#pragma once
// Completing a model once every document of a load has been read.
//
// Derived simple types take the kind of their base chain, and named complex
// types take the members of their bases. Uses of named types are not copied
// into the declarations that use them: each declaration is linked to the
// named type its name resolves to, and the converter's declaration views
// (converter/decl_view.hpp) walk those links as if the copies had been made.

#include "schema/parse_context.hpp"

namespace tessaly::schema {

// Kinds of named simple types whose base is another named simple type.
void resolve_simple_kinds(ParseContext& context);

// Children and attributes that named complex types inherit from their bases.
void inherit_complex_bases(ParseContext& context);

// Links every element declaration of the model to the named type that its
// name resolves to, numbers the type names, and sets the anonymous
// declaration used by xsi:type. Must come last: the links point into
// `model.types`, which nothing may change afterwards.
void link_named_types(ParseContext& context);

// All of the above, in order.
void resolve(ParseContext& context);

}  // namespace tessaly::schema
