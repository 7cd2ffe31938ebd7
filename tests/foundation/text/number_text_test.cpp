#include "foundation/text/number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

namespace brn {
namespace {

TEST(NumberText, HexDigits) {
  EXPECT_EQ(ByteToHex(0), "00");
  EXPECT_EQ(ByteToHex(171), "AB");
  EXPECT_EQ(ByteToHex(255), "FF");
  EXPECT_EQ(IntegerToHex(0x1A2B), "00001A2B");
  EXPECT_EQ(IntegerToHex(-1), "FFFFFFFF");
  EXPECT_EQ(IntegerToHex(INT32_MIN), "80000000");
}

TEST(NumberText, IntegerExtremes) {
  EXPECT_EQ(IntegerToString(INT32_MIN), "-2147483648");
  EXPECT_EQ(BigIntToString(INT64_MIN), "-9223372036854775808");
}

TEST(NumberText, CurrencyTextRoundTrips) {
  struct Case {
    int64_t value;
    const char* text;
  };
  const Case cases[] = {
      {0, "0"},
      {10000, "1"},
      {15000, "1.5"},
      {-5, "-0.0005"},
      {-15000, "-1.5"},
      {12345678, "1234.5678"},
      {1230000, "123"},
      {INT64_MAX, "922337203685477.5807"},
      {INT64_MIN, "-922337203685477.5808"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CurrencyToString(c.value), c.text) << c.value;
    EXPECT_EQ(StringToCurrency(c.text), c.value) << c.text;
  }
}

TEST(NumberText, FloatTextHasFifteenSignificantDigits) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0"},
      {1.5, "1.5"},
      {-2.25, "-2.25"},
      {100.0, "100"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.3"},  // the 17-digit neighbour of 0.3 shows as 0.3
      {1.0 / 3, "0.333333333333333"},
      {-2.0 / 3, "-0.666666666666667"},  // rounded, not cut
      {123456789012345.0, "123456789012345"},
      {1234567890123456.0, "1.23456789012346E15"},
      {999999999999999.9, "1E15"},  // rounding carries into the exponent
      {1e15, "1E15"},
      {-1e20, "-1E20"},
      {1.25e-5, "0.0000125"},
      {1e-5, "0.00001"},
      {1.5e-6, "1.5E-6"},
      {DBL_MAX, "1.79769313486231E308"},  // rounded toward zero: still a double
      {-DBL_MAX, "-1.79769313486231E308"},
      {5e-324, "4.94065645841247E-324"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToString(c.value), c.text);
    // The text reads back, and what it reads writes the same text again.
    EXPECT_EQ(FloatToString(StringToFloat(c.text)), c.text);
  }
  EXPECT_EQ(FloatToString(-0.0), "0");
}

TEST(NumberText, ByteSize) {
  struct Case {
    int64_t count;
    const char* text;
  };
  const Case cases[] = {
      {0, "0B"},
      {-5, "-5B"},
      {1023, "1023B"},
      {1024, "1KB"},
      {1536, "1.5KB"},
      {1034, "1.01KB"},     // 1.0097 rounds up
      {1029, "1KB"},        // 1.0049 rounds down
      {1048575, "1024KB"},  // just below the next unit, rounded
      {1048576, "1MB"},
      {1073741824, "1GB"},
      {1342177280, "1.25GB"},
      {(int64_t(1) << 40) - 1, "1024GB"},
      {int64_t(1) << 40, "1TB"},
      {INT64_MAX, "8388608TB"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatByteSize(c.count), c.text) << c.count;
}

TEST(NumberText, RawConversionsAcceptTrustedText) {
  EXPECT_EQ(StringToInteger("+42"), 42);
  EXPECT_EQ(StringToInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(StringToBigInt("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StringToCurrency("1.23456"), 12346);    // rounded half away from zero
  EXPECT_EQ(StringToCurrency("-1.23455"), -12346);  // away from zero on the negative side
  EXPECT_EQ(StringToCurrency(".5"), 5000);
  EXPECT_EQ(StringToFloat("+1.5e3"), 1500.0);
  EXPECT_EQ(StringToFloat("1e-400"), 0.0);  // underflow reads as zero
  EXPECT_EQ(StringToFloat("12345e-330"), 0.0);
  EXPECT_EQ(StringToFloat("0.001e310"), 1e307);
}

TEST(NumberText, RawConversionsRaiseOnBadText) {
  const char* integers[] = {"", "-", "+", "1.5", " 1", "1 ", "2147483648", "+-1", "0x10"};
  for (const char* text : integers) EXPECT_THROW(StringToInteger(text), EConvertError) << text;
  EXPECT_THROW(StringToBigInt("9223372036854775808"), EConvertError);
  const char* currencies[] = {"", ".", "-", "1.2.3", "1e5", "922337203685478", "abc"};
  for (const char* text : currencies) EXPECT_THROW(StringToCurrency(text), EConvertError) << text;
  const char* floats[] = {"",      ".",    "-",     "1e",       "1e+",
                          "inf",   "nan",  "1e400", "1000e306", "1e99999999999999999999",
                          "1.2.3", "0x1p3"};
  for (const char* text : floats) EXPECT_THROW(StringToFloat(text), EConvertError) << text;
}

TEST(NumberText, SeparatorReplacement) {
  EXPECT_EQ(FormatFloatWithSeparator(',', 1.5), "1,5");
  EXPECT_EQ(FormatFloatWithSeparator(',', 1.5e-7), "1,5E-7");
  EXPECT_EQ(FormatDecimalWithSeparator(',', -15000), "-1,5");
  EXPECT_EQ(FormatDecimalWithSeparator(',', 20000), "2");
}

}  // namespace
}  // namespace brn
