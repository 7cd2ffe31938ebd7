#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/bcd.h"
#include "platform/variant.h"

namespace brn {
namespace {

TEST(Bcd, DecimalsRoundTripThroughTheRecord) {
  const int64_t values[] = {0,
                            1,
                            -1,
                            12345,
                            -987654321,
                            std::numeric_limits<int64_t>::max(),
                            std::numeric_limits<int64_t>::min()};
  for (int64_t value : values) {
    TBcd bcd;
    ASSERT_TRUE(CurrencyToBcd(value, bcd, 32, 4)) << value;
    int64_t back = 0;
    ASSERT_TRUE(BcdToCurrency(bcd, back)) << value;
    EXPECT_EQ(back, value);
  }
}

TEST(Bcd, RecordLayout) {
  TBcd bcd;
  ASSERT_TRUE(CurrencyToBcd(-12550, bcd, 5, 2));  // -1.255 to 2 places: -1.26
  EXPECT_EQ(bcd.Precision, 5);
  EXPECT_EQ(bcd.SignSpecialPlaces, 0x82);
  EXPECT_EQ(bcd.Fraction[0], 0x00);
  EXPECT_EQ(bcd.Fraction[1], 0x12);
  EXPECT_EQ(bcd.Fraction[2], 0x60);                 // the fifth digit, then an unused nibble
  EXPECT_FALSE(CurrencyToBcd(1000000, bcd, 4, 2));  // 100.00 needs 5 digits
}

TEST(Bcd, RecordsToDecimals) {
  struct Case {
    uint8_t Precision;
    uint8_t SignPlaces;
    uint8_t Digits[4];
    bool Ok;
    int64_t Expected;
  };
  const Case cases[] = {
      {4, 2, {0x12, 0x34}, true, 123400},          // 12.34
      {6, 6, {0x12, 0x34, 0x45}, true, 1234},      // 0.123445: the fifth decimal decides
      {6, 0x86, {0x12, 0x34, 0x45}, true, -1234},  // the same, negative
      {6, 6, {0x12, 0x34, 0x50}, true, 1235},
      {2, 0, {0x1A}, false, 0},         // no BCD digit
      {2, 3, {0x12}, false, 0},         // more places than digits
      {20, 0, {0x99, 0x99}, false, 0},  // beyond the int64 range
  };
  for (const Case& c : cases) {
    TBcd bcd;
    bcd.Precision = c.Precision;
    bcd.SignSpecialPlaces = c.SignPlaces;
    for (int i = 0; i < 4; ++i) bcd.Fraction[i] = c.Digits[i];
    if (c.Precision == 20)
      for (int i = 0; i < 10; ++i) bcd.Fraction[i] = 0x99;
    int64_t scaled = 0;
    EXPECT_EQ(BcdToCurrency(bcd, scaled), c.Ok) << int(c.Precision);
    EXPECT_EQ(scaled, c.Expected) << int(c.Precision);
  }
}

TEST(Variant, ReadersRefuseAnotherType) {
  TVariant v = TVariant::FromInteger(5);
  EXPECT_EQ(v.AsInteger(), 5);
  EXPECT_THROW(v.AsDouble(), std::logic_error);
  EXPECT_EQ(WideToAnsi(u"\u20ac\u4e00"), "\x80?");
}

}  // namespace
}  // namespace brn
