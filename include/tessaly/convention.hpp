#pragma once
// The output shape. Codes are shared with the Python `Convention` members.

#include <cstdint>

namespace tessaly {

enum class Convention : std::uint8_t { BadgerFish = 0, Parker = 1, Abdera = 2 };

}  // namespace tessaly
