#pragma once

#include <cstdint>

#include <gtest/gtest.h>

#include "foundation/types/date_time.h"

namespace brn::testing {

// The day number of a date the test knows to be valid; an invalid one fails
// the test.
inline int32_t D(int32_t year, int32_t month, int32_t day) {
  int32_t result = 0;
  EXPECT_TRUE(EncodeDayNumber({year, month, day}, result, false))
      << year << "-" << month << "-" << day;
  return result;
}

// The time of day of valid parts, in milliseconds.
inline int32_t T(int32_t hour, int32_t minute, int32_t second = 0, int32_t ms = 0) {
  int32_t result = 0;
  EXPECT_TRUE(EncodeTimeOfDay({hour, minute, second, ms}, result))
      << hour << ":" << minute << ":" << second << "." << ms;
  return result;
}

}  // namespace brn::testing
