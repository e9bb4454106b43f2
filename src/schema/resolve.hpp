#pragma once
// Completing a model once every document of a load has been read.
//
// Derived simple types take the kind of their base chain, and named complex
// types take the members of their bases. Uses of named types are not copied
// into the declarations that use them: each declaration holds the number of
// the type name its name resolves to, and the converter's declaration
// automaton (converter/automaton.hpp) follows those numbers as if the copies
// had been made.

#include "schema/parse_context.hpp"

namespace tessaly::schema {

// Numbers every type name that a declaration may resolve to (the names of
// `types` and the targets of `element_types`). Comes first: the passes
// below record type names by number.
void number_type_names(ParseContext& context);

// Its two halves: the numbers in the context's tables, which the passes
// below read; then the model's list and map of the names. The second may
// run beside the passes below (none of them reads it).
void index_type_names(ParseContext& context);
void publish_type_names(ParseContext& context);

// Kinds of named simple types whose base is another named simple type.
void resolve_simple_kinds(ParseContext& context);

// Children and attributes that named complex types inherit from their bases.
void inherit_complex_bases(ParseContext& context);

// Gives every element declaration of the model the number of the type name
// that its name resolves to, and sets the anonymous declaration used by
// xsi:type.
void link_named_types(ParseContext& context);

// Lists in the model's report the type and base names that name no type,
// sorted, each once.
void record_unresolved_types(ParseContext& context);

// All of the above, in order.
void resolve(ParseContext& context);

}  // namespace tessaly::schema
