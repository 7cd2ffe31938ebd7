#include "foundation/core/numeric_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brn {
namespace {

TEST(NumericHelpersTest, RoundAndTruncateFloat) {
  struct Case {
    long double x;
    int32_t decimals;
    long double rounded;
    long double truncated;
  };
  const Case cases[] = {
      {2.5L, 0, 3, 2},
      {-2.5L, 0, -3, -2},
      {1.005, 2, 1.00L, 1.00L},  // the stored double lies just below 1.005
      {2.789L, 2, 2.79L, 2.78L},
      {-2.789L, 2, -2.79L, -2.78L},
      {2.789L, 0, 3, 2},
      {2.789L, -3, 3, 2},  // no negative rounding positions
      {0, 5, 0, 0},
      {1e300L, 2, 1e300L, 1e300L},  // beyond every integer type: no conversion
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(double(RoundFloat(c.x, c.decimals)), double(c.rounded), 1e-12)
        << double(c.x) << " " << c.decimals;
    EXPECT_NEAR(double(TruncateFloat(c.x, c.decimals)), double(c.truncated), 1e-12)
        << double(c.x) << " " << c.decimals;
  }
  EXPECT_EQ(RoundFloat(0.125L, 40), 0.125L);  // more than 20 decimals counts as 20
}

TEST(NumericHelpersTest, RoundAndTruncateCurrency) {
  struct Case {
    int64_t value;  // times 10000
    int32_t decimals;
    int64_t rounded;
    int64_t truncated;
  };
  const Case cases[] = {
      {25000, 0, 30000, 20000},
      {-25000, 0, -30000, -20000},
      {12345, 3, 12350, 12340},
      {-12345, 3, -12350, -12340},
      {12399, 2, 12400, 12300},
      {-12399, 2, -12400, -12300},
      {12345, 4, 12345, 12345},
      {12345, 9, 12345, 12345},
      {14999, 0, 10000, 10000},
      {15000, -2, 20000, 10000},
      {0, 1, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundCurrency(c.value, c.decimals), c.rounded) << c.value << " " << c.decimals;
    EXPECT_EQ(TruncateCurrency(c.value, c.decimals), c.truncated) << c.value << " " << c.decimals;
  }
  // The extremes: rounding up past the decimal range overflows, never wraps.
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  EXPECT_THROW(RoundCurrency(kMax, 0), std::overflow_error);
  EXPECT_THROW(RoundCurrency(kMin, 0), std::overflow_error);
  EXPECT_EQ(TruncateCurrency(kMax, 0), kMax / 10000 * 10000);
  EXPECT_EQ(RoundCurrency(kMax - 9000, 0), kMax / 10000 * 10000);
}

TEST(NumericHelpersTest, CeilingAndFloorStayInRange) {
  EXPECT_EQ(FloatCeiling(2.1L), 3);
  EXPECT_EQ(FloatCeiling(-2.9L), -2);
  EXPECT_EQ(FloatFloor(-2.1L), -3);
  EXPECT_EQ(FloatFloor(2147483647.5L), 2147483647);
  EXPECT_EQ(FloatCeiling(-2147483648.5L), -2147483648);
  EXPECT_THROW(FloatCeiling(2147483647.5L), std::out_of_range);
  EXPECT_THROW(FloatFloor(-2147483648.5L), std::out_of_range);
  EXPECT_THROW(FloatFloor(std::nanl("")), std::out_of_range);
  EXPECT_THROW(FloatCotangent(0), std::domain_error);
  EXPECT_NEAR(double(FloatCotangent(0.5L)), 1 / std::tan(0.5), 1e-15);
  EXPECT_NEAR(double(RadiansToDegrees(DegreesToRadians(123.0L))), 123.0, 1e-12);
}

TEST(NumericHelpersTest, CompareByteBuffers) {
  struct Case {
    TBRNBytes a, b;
    int32_t expected;
  };
  const Case cases[] = {
      {{1, 2}, {1, 2, 3}, -1},   {{2}, {1, 0xFF}, 1},    {{}, {}, 0},
      {{0x80}, {0x7F}, 1},  // unsigned
      {{1, 2, 3}, {1, 2, 3}, 0}, {{1, 2, 3}, {1, 2}, 1}, {{}, {0}, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareBytes(c.a, c.b), c.expected);
    EXPECT_EQ(CompareBytes(c.b, c.a), -c.expected);
  }
}

TEST(NumericHelpersTest, CopyAndZeroStayInsideTheArray) {
  const uint8_t source[] = {9, 8, 7, 6};
  TBRNBytes dest(5, 1);
  CopyBytes(source, 1, dest, 3, 2);
  EXPECT_EQ(dest, (TBRNBytes{1, 1, 8, 7, 6}));
  EXPECT_THROW(CopyBytes(source, 0, dest, 3, 3), std::out_of_range);
  TBRNBytes empty;
  CopyBytes(source, 0, empty, 3, 0);  // nothing for an empty target
  EXPECT_TRUE(empty.empty());

  ZeroBytes(dest, 1, 2);
  EXPECT_EQ(dest, (TBRNBytes{1, 0, 0, 7, 6}));
  ZeroBytes(dest, 0, -1);
  EXPECT_THROW(ZeroBytes(dest, 4, 2), std::out_of_range);
  uint32_t words[3] = {5, 5, 5};
  ZeroLongWords(words, 3, 1, 2);
  EXPECT_EQ(words[0], 5u);
  EXPECT_EQ(words[2], 0u);
  EXPECT_THROW(ZeroLongWords(words, 3, -1, 1), std::out_of_range);
}

TEST(NumericHelpersTest, HashIntegerValues) {
  EXPECT_EQ(HashInteger(0), 0xADDF6EF3u);
  EXPECT_EQ(HashInteger(1), 0x7882D4B9u);
  EXPECT_EQ(HashInteger(1000), 0x6C4EC4E9u);
}

TEST(NumericHelpersTest, RoundUpToMultiple) {
  EXPECT_EQ(RoundUpToMultiple(17, 8), 24);
  EXPECT_EQ(RoundUpToMultiple(16, 8), 16);
  EXPECT_EQ(RoundUpToMultiple(0, 8), 0);
  EXPECT_THROW(RoundUpToMultiple(INT32_MAX, 8), std::length_error);
}

TEST(NumericHelpersTest, DisposeAndNilClearsBeforeFreeing) {
  struct Probe {
    Probe** owner;
    bool* sawNil;
    ~Probe() { *sawNil = *owner == nullptr; }
  };
  Probe* ref = nullptr;
  DisposeAndNil(ref);  // nil: nothing happens
  bool sawNil = false;
  ref = new Probe{&ref, &sawNil};
  DisposeAndNil(ref);
  EXPECT_EQ(ref, nullptr);
  EXPECT_TRUE(sawNil);
}

}  // namespace
}  // namespace brn
