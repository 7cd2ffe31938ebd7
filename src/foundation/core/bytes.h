#pragma once

#include <cstdint>
#include <vector>

namespace brn {

// The engine-wide dynamic array of bytes: length-counted, zero-based.
using TBRNBytes = std::vector<uint8_t>;

}  // namespace brn
