#pragma once
// What the complete profile resolves beyond the literal passes, once every
// document has been read: each declaration's own named type, the bases of
// anonymous derived types, text kinds inherited through named bases,
// attribute types through named simple types and global attributes, and the
// names that resolve to nothing, listed in the model's report.
//
// References to elements, groups and attribute groups are not copied in
// here: they are followed where a conversion meets them
// (converter/complete_policy.hpp), so a schema whose groups nest or recurse
// costs nothing more to load.

#include "schema/parse_context.hpp"

namespace tessaly::schema {

// Runs after resolve(); does nothing for a literal load.
void resolve_complete(ParseContext& context);

}  // namespace tessaly::schema
