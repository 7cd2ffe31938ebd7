#include "foundation/number_text.h"

#include <charconv>

namespace brn {

std::string IntegerToString(int32_t value) { return BigIntToString(value); }

std::string BigIntToString(int64_t value) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;
  return std::string(buffer, end);
}

}  // namespace brn
