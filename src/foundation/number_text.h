#pragma once

#include <cstdint>
#include <string>

namespace brn {

// Decimal text of integers, independent of the process locale.
std::string IntegerToString(int32_t value);
std::string BigIntToString(int64_t value);

}  // namespace brn
