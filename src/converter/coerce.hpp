#pragma once
// Turning XML text into a typed JSON value. Never fails: text that does not
// fit its kind stays a string holding the text unchanged.

#include <string_view>

#include "storage/value.hpp"
#include "schema/model.hpp"

namespace tessaly::converter {

// The string result, when there is one, is a view of `text`, which must
// outlive the value.
storage::Value coerce_value(std::string_view text, schema::JsonType kind);

}  // namespace tessaly::converter
