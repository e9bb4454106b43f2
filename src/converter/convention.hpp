#pragma once

#include "tessaly/convention.hpp"

namespace tessaly::converter {

using tessaly::Convention;

}  // namespace tessaly::converter
