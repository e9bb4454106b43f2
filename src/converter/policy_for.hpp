#pragma once
// Which resolution profile a conversion follows: the one its schema model
// was loaded for. The walker asks here once per conversion.

#include <memory>

#include "converter/automaton.hpp"

namespace tessaly::converter {

std::unique_ptr<ResolutionPolicy> make_policy(const schema::SchemaModel& model);

}  // namespace tessaly::converter
