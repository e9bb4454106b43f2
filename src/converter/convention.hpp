#pragma once
#include <cstdint>

namespace tessaly::converter {

// The output shape. Codes are shared with the Python `Convention` members.
enum class Convention : std::uint8_t { BadgerFish = 0, Parker = 1, Abdera = 2 };

}  // namespace tessaly::converter
