#pragma once
// Turning XML text into a typed JSON value. Never fails: text that does not
// fit its kind stays a string holding the text unchanged.

#include <string_view>

#include "storage/arena.hpp"
#include "storage/value.hpp"
#include "schema/model.hpp"

namespace tessaly::converter {

// The string result, when there is one, is a view of `text`, which must
// outlive the value; so is an exact number's text, unless its normal form
// is not a piece of `text` (".5", "-007.5"): then it is written into
// `arena`, and without one the text stays a string.
storage::Value coerce_value(std::string_view text, schema::JsonType kind, storage::Arena* arena = nullptr);

}  // namespace tessaly::converter
