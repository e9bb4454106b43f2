#pragma once
// A test-only reference for how named types reach the declarations that use
// them: every use gets its own deep copy of the named type, recursively,
// stopping at a type whose copying is already in progress. The loader never
// builds these copies (their number grows with the paths through the type
// graph); the tests compare its lazy links against this model.

#include <cstddef>
#include <optional>

#include "schema/parse_context.hpp"

namespace tessaly::schema::testing {

// Completes `context` (read, with simple kinds and inheritance already
// resolved) into a model where every named type is copied into place:
// global elements take their named types, then the children of every named
// type and of every global element are resolved by copying. No declaration
// carries a link, so the model's declaration views see the tree exactly as it
// stands. Null when more than `budget` declarations would be copied.
std::optional<SchemaModel> literal_model(ParseContext context, std::size_t budget);

}  // namespace tessaly::schema::testing
