#pragma once
// The event loop shared by the in-memory and the file conversion: one pull
// loop over the reader's events, one frame per open element, each element
// turned into its JSON value as soon as it closes.

#include <optional>

#include "converter/convention.hpp"
#include "converter/convert.hpp"
#include "tessaly/error.hpp"
#include "storage/arena.hpp"
#include "storage/key_table.hpp"
#include "storage/value.hpp"
#include "messages.hpp"  // the texts of the walk's errors
#include "schema/model.hpp"
#include "xml/reader.hpp"

namespace tessaly::converter {

// Walks the whole document. The result is the document's value, or nothing
// when no top-level element was completed; every value lives in `arena`, and
// every key of its objects is in `keys`.
// `in_place`: the reader's event bytes outlive the walk and are valid UTF-8
// (a document in memory), so they are used without copying.
// `interrupt` is asked every kInterruptStride events.
inline constexpr unsigned kInterruptStride = 1u << 16;
Result<std::optional<storage::Value>> walk_document(xml::Reader& reader, bool in_place, const schema::SchemaModel& model,
                                                 Convention convention, storage::Arena& arena, storage::KeyTable& keys,
                                                 InterruptCheck interrupt = {});

}  // namespace tessaly::converter
