#include "foundation/types/literal_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace brn {
namespace {

constexpr int64_t Hour = 3600000, Minute = 60000, Second = 1000;
// Day numbers worked out by hand, independent of the calendar code.
constexpr int32_t Day20240229 = 738945;
constexpr int32_t Day20200105 = 737429;
constexpr int32_t Day99991231 = 3652059;

// A refused text answers false from the reader and from its predicate, and
// leaves the output zero or empty.
template <typename T, typename Parse, typename Is>
void ExpectRefused(Parse parse, Is is, std::initializer_list<const char*> texts) {
  for (const char* text : texts) {
    T value = T(1);
    EXPECT_FALSE(parse(text, value)) << text;
    EXPECT_EQ(value, T{}) << text;
    EXPECT_FALSE(is(text)) << text;
  }
}

bool NoPredicate(std::string_view) {
  return false;
}

TEST(LiteralText, BigIntAndInteger) {
  int64_t value = 7;
  EXPECT_TRUE(ParseBigIntLiteral("-9223372036854775808", value));
  EXPECT_EQ(value, INT64_MIN);
  EXPECT_TRUE(ParseBigIntLiteral("007", value));
  EXPECT_EQ(value, 7);
  ExpectRefused<int64_t>(ParseBigIntLiteral, IsBigIntLiteral,
                         {"9223372036854775808", "+1", "", "-", "1 ", " 1", "1.0", "0x1"});
  struct Case {
    const char* text;
    bool allowNegative, accepted;
  };
  const Case cases[] = {
      {"2147483647", false, true},  {"2147483648", true, false}, {"-2147483648", true, true},
      {"-2147483649", true, false}, {"-1", false, false},        {"0", false, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsIntegerLiteral(c.text, c.allowNegative), c.accepted) << c.text;
}

TEST(LiteralText, Bytes) {
  const uint8_t bytes[] = {0, 171, 255};
  EXPECT_EQ(FormatBytesLiteral(bytes), "00ABFF");
  EXPECT_EQ(FormatBytesLiteral({}), "");
  TBRNBytes read{1};
  EXPECT_TRUE(ParseBytesLiteral("00abFF", read));
  EXPECT_EQ(read, TBRNBytes(std::begin(bytes), std::end(bytes)));
  EXPECT_TRUE(ParseBytesLiteral("", read));
  EXPECT_TRUE(read.empty());
  ExpectRefused<TBRNBytes>(ParseBytesLiteral, NoPredicate,
                           {"abc", "GG", "0G", "G0", " 00", "0x00"});
}

TEST(LiteralText, DateRoundTrips) {
  struct Case {
    int32_t day;
    const char* text;
  };
  const Case cases[] = {
      {1, "0001-01-01"},           {693594, "1899-12-30"},      {Day20200105, "2020-01-05"},
      {Day20240229, "2024-02-29"}, {Day99991231, "9999-12-31"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatDateLiteral(c.day), c.text);
    int32_t day = 0;
    EXPECT_TRUE(ParseDateLiteral(c.text, day)) << c.text;
    EXPECT_EQ(day, c.day) << c.text;
  }
  EXPECT_EQ(FormatDateLiteral(0), "0000-00-00");
}

TEST(LiteralText, DateReader) {
  for (const char* text : {" 2020-01-05 ", "2020-1-5", "02020-001-05", "\t2020-01-05\n"}) {
    int32_t day = 0;
    EXPECT_TRUE(ParseDateLiteral(text, day)) << text;
    EXPECT_EQ(day, Day20200105) << text;
  }
  ExpectRefused<int32_t>(
      ParseDateLiteral, IsDateLiteral,
      {"2021-02-29", "2023-04-31", "0000-01-01", "10000-01-01", "2020-13-01", "2020-00-10",
       "2020-01-00", "2020-01", "2020", "2020/01/05", "", "2020--05", "2020-01-05-", "2020-+1-05",
       "2020-1- 5", "2020-01-05 10:00", "-2020-01-05", "2020-01-99999999999"});
}

TEST(LiteralText, TimeRoundTrips) {
  struct Case {
    int32_t ms;
    bool use24Hour;
    const char* text;
  };
  const Case cases[] = {
      {0, true, "00:00"},
      {0, false, "12:00 AM"},
      {int32_t(13 * Hour + 5 * Minute + 250), true, "13:05:00.250"},
      {int32_t(13 * Hour + 5 * Minute + 7 * Second), true, "13:05:07"},
      {int32_t(13 * Hour + 5 * Minute + 7 * Second), false, "01:05:07 PM"},
      {int32_t(12 * Hour + 30 * Minute), false, "00:30 PM"},  // hours 12-23 write as 0-11
      {int32_t(11 * Hour + 59 * Minute), false, "11:59 AM"},
      {5, true, "00:00:00.005"},
      {86399999, true, "23:59:59.999"},
      {86399999, false, "11:59:59.999 PM"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatTimeLiteral(c.ms, c.use24Hour), c.text);
    int32_t ms = -1;
    EXPECT_TRUE(ParseTimeLiteral(c.text, ms)) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
}

TEST(LiteralText, TimeReader) {
  struct Case {
    const char* text;
    int64_t ms;
  };
  const Case accepted[] = {
      {"1:5 pm", 13 * Hour + 5 * Minute},
      {"12:00 am", 0},
      {"12:00 PM", 12 * Hour},
      {" 7:08:09.5 ", 7 * Hour + 8 * Minute + 9 * Second + 5},  // the digits count milliseconds
      {"7:08:09.500", 7 * Hour + 8 * Minute + 9 * Second + 500},
      {"7:8:9 AM", 7 * Hour + 8 * Minute + 9 * Second},
      {"23:59", 23 * Hour + 59 * Minute},
  };
  for (const Case& c : accepted) {
    int32_t ms = -1;
    EXPECT_TRUE(ParseTimeLiteral(c.text, ms)) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
  ExpectRefused<int32_t>(ParseTimeLiteral, IsTimeLiteral,
                         {"24:00", "10:60", "10:00:60", "10:00:00.1000", "13:00 PM", "10:00 XM",
                          "10:00PM", "-1:00", "a:00", "10:0a", "10:00:00 AM PM", "", "   ",
                          "99999999999:00", "10:00:+5", "2147483647:00 PM", "24:00 AM"});
}

TEST(LiteralText, TimestampRoundTrips) {
  struct Case {
    int64_t value;
    bool use24Hour;
    const char* text;
  };
  const int64_t leapDay = Day20240229 * 86400000LL;
  const Case cases[] = {
      {leapDay + 13 * Hour + 5 * Minute + 7 * Second + 250, true, "2024-02-29 13:05:07.250"},
      {leapDay + 13 * Hour + 5 * Minute + 7 * Second + 250, false, "2024-02-29 01:05:07.250 PM"},
      {86400000, true, "0001-01-01 00:00"},
      {Day99991231 * 86400000LL + 86399999, true, "9999-12-31 23:59:59.999"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatTimestampLiteral(c.use24Hour, c.value), c.text);
    int64_t value = -1;
    EXPECT_TRUE(ParseTimestampLiteral(c.text, value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  int64_t value = -1;
  EXPECT_TRUE(ParseTimestampLiteral("2020-01-05", value));
  EXPECT_EQ(value, Day20200105 * 86400000LL);
  EXPECT_TRUE(ParseTimestampLiteral("  2020-1-5   1:5 pm ", value));
  EXPECT_EQ(value, Day20200105 * 86400000LL + 13 * Hour + 5 * Minute);
  ExpectRefused<int64_t>(
      ParseTimestampLiteral, IsTimestampLiteral,
      {"2021-02-29 10:00", "2020-01-05 24:00", " 10:00", "", "2020-01-05 x", "10:00 2020-01-05"});
}

TEST(LiteralText, YearMonthIntervalRoundTrips) {
  struct Case {
    int32_t months;
    TBRNIntervalFields qualifier;
    const char* text;
  };
  const Case cases[] = {
      {14, ifYear | ifMonth, "1-02"},
      {-14, ifYear | ifMonth, "-1-02"},
      {0, ifYear | ifMonth, "0-00"},
      {-6, ifYear | ifMonth, "-0-06"},  // the sign survives a zero leading field
      {INT32_MIN, ifYear | ifMonth, "-178956970-08"},
      {24, ifYear, "2"},
      {-36, ifYear, "-3"},
      {7, ifMonth, "7"},
      {-7, ifMonth, "-7"},
      {INT32_MAX, ifMonth, "2147483647"},
      {INT32_MIN, ifMonth, "-2147483648"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatYearMonthIntervalLiteral(c.months, c.qualifier), c.text);
    int32_t months = -99;
    EXPECT_TRUE(ParseYearMonthIntervalLiteral(c.text, c.qualifier, months)) << c.text;
    EXPECT_EQ(months, c.months) << c.text;
  }
  // A Year interval shows whole years only.
  EXPECT_EQ(FormatYearMonthIntervalLiteral(30, ifYear), "2");
  EXPECT_EQ(FormatYearMonthIntervalLiteral(-6, ifYear), "0");

  int32_t months = 0;
  EXPECT_TRUE(ParseYearMonthIntervalLiteral(" 1-2 ", ifYear | ifMonth, months));
  EXPECT_EQ(months, 14);
  EXPECT_TRUE(ParseYearMonthIntervalLiteral("1-14", ifYear | ifMonth, months));
  EXPECT_EQ(months, 26);
  struct Refused {
    const char* text;
    TBRNIntervalFields qualifier;
  };
  const Refused refused[] = {
      {"1-02", ifMonth},
      {"1-02", ifYear},
      {"1", ifYear | ifMonth},
      {"1--2", ifYear | ifMonth},
      {"--1-2", ifYear | ifMonth},
      {"+1", ifMonth},
      {"", ifMonth},
      {"-", ifYear},
      {"1", ifSecond},
      {"2147483648", ifMonth},
      {"178956971", ifYear},
      {"178956970-08", ifYear | ifMonth},
      {"1 year", ifYear},
  };
  for (const Refused& r : refused) {
    ExpectRefused<int32_t>(
        [&](std::string_view t, int32_t& v) {
          return ParseYearMonthIntervalLiteral(t, r.qualifier, v);
        },
        [&](std::string_view t) { return IsYearMonthIntervalLiteral(t, r.qualifier); }, {r.text});
  }
}

TEST(LiteralText, DayTimeIntervalOfEveryQualifier) {
  // One span, 1 day 5:07:09.123, cut to each qualifier's last field.
  struct Case {
    TBRNIntervalFields qualifier;
    int64_t ms;
    const char* text;
  };
  const Case cases[] = {
      {ifMSecond, 104829123, "104829123"},
      {ifSecond, 104829000, "104829"},
      {ifSecond | ifMSecond, 104829123, "104829.123"},
      {ifMinute, 104820000, "1747"},
      {ifMinute | ifSecond, 104829000, "1747:09"},
      {ifMinute | ifSecond | ifMSecond, 104829123, "1747:09.123"},
      {ifHour, 104400000, "29"},
      {ifHour | ifMinute, 104820000, "29:07"},
      {ifHour | ifMinute | ifSecond, 104829000, "29:07:09"},
      {ifHour | ifMinute | ifSecond | ifMSecond, 104829123, "29:07:09.123"},
      {ifDay, 86400000, "1"},
      {ifDay | ifHour, 104400000, "1 5"},
      {ifDay | ifHour | ifMinute, 104820000, "1 5:07"},
      {ifDay | ifHour | ifMinute | ifSecond, 104829000, "1 5:07:09"},
      {ifDay | ifHour | ifMinute | ifSecond | ifMSecond, 104829123, "1 5:07:09.123"},
  };
  for (const Case& c : cases) {
    for (int sign : {1, -1}) {
      std::string text = sign < 0 ? std::string("-") + c.text : c.text;
      EXPECT_EQ(FormatDayTimeIntervalLiteral(c.qualifier, sign * c.ms), text);
      int64_t ms = 0;
      EXPECT_TRUE(ParseDayTimeIntervalLiteral(text, c.qualifier, ms)) << text;
      EXPECT_EQ(ms, sign * c.ms) << text;
    }
  }
}

TEST(LiteralText, DayTimeIntervalEdges) {
  struct Case {
    TBRNIntervalFields qualifier;
    int64_t ms;
    const char* text;
  };
  const Case roundTrips[] = {
      // The sign survives a zero leading field.
      {ifHour | ifMinute, -30 * Minute, "-0:30"},
      {ifSecond | ifMSecond, -5, "-0.005"},
      {ifDay | ifHour | ifMinute | ifSecond, -Second, "-0 0:00:01"},
      {ifDay | ifHour, 0, "0 0"},
      {ifMSecond, INT64_MIN, "-9223372036854775808"},
      {ifMSecond, INT64_MAX, "9223372036854775807"},
      {ifDay | ifHour | ifMinute | ifSecond | ifMSecond, INT64_MAX, "106751991167 7:12:55.807"},
  };
  for (const Case& c : roundTrips) {
    EXPECT_EQ(FormatDayTimeIntervalLiteral(c.qualifier, c.ms), c.text);
    int64_t ms = 0;
    EXPECT_TRUE(ParseDayTimeIntervalLiteral(c.text, c.qualifier, ms)) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
  EXPECT_EQ(FormatDayTimeIntervalLiteral(ifHour, 5400000), "1");  // below the last field: dropped

  const Case accepted[] = {
      {ifHour | ifMinute, 2 * Hour + 15 * Minute, "1:75"},  // later fields have no limit
      {ifDay | ifHour | ifMinute | ifSecond, 104829000, " 1 5:7:9 "},
      {ifDay | ifHour | ifMinute | ifSecond, 104829000, "1 05:07:09"},
      {ifSecond | ifMSecond, 1005, "1.5"},  // the digits count milliseconds
      {ifMinute, -90 * Minute, "-090"},
  };
  for (const Case& c : accepted) {
    int64_t ms = 0;
    EXPECT_TRUE(ParseDayTimeIntervalLiteral(c.text, c.qualifier, ms)) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
  struct Refused {
    const char* text;
    TBRNIntervalFields qualifier;
  };
  const Refused refused[] = {
      {"1:75", ifDay | ifHour | ifMinute | ifSecond},
      {"1 5:07", ifDay | ifHour | ifMinute | ifSecond},
      {"1 5:07:09", ifDay | ifHour | ifMinute},
      {"1:-5", ifHour | ifMinute},
      {"-1:-5", ifHour | ifMinute},
      {"--1", ifHour},
      {"+1", ifHour},
      {"", ifHour},
      {"1.5", ifSecond},
      {"1:30", ifHour | ifSecond},  // not a valid qualifier
      {"1", 0},
      {"1", ifYear},
      {"9223372036854775808", ifMSecond},
      {"-9223372036854775809", ifMSecond},
      {"106751991168", ifDay},
      {"106751991167 7:12:55.808", ifDay | ifHour | ifMinute | ifSecond | ifMSecond},
      {"1 5", ifDay | ifHour | ifMinute},
  };
  for (const Refused& r : refused) {
    ExpectRefused<int64_t>(
        [&](std::string_view t, int64_t& v) {
          return ParseDayTimeIntervalLiteral(t, r.qualifier, v);
        },
        [&](std::string_view t) { return IsDayTimeIntervalLiteral(t, r.qualifier); }, {r.text});
  }
}

TEST(LiteralText, Boolean) {
  EXPECT_EQ(FormatBooleanLiteral(true), "TRUE");
  EXPECT_EQ(FormatBooleanLiteral(false), "FALSE");
  bool value = false;
  EXPECT_TRUE(ParseBooleanLiteral("true", value));
  EXPECT_TRUE(value);
  EXPECT_TRUE(ParseBooleanLiteral("False  ", value));
  EXPECT_FALSE(value);
  ExpectRefused<bool>(ParseBooleanLiteral, NoPredicate, {" TRUE", "T", "1", "", "TRUEX", "yes"});
}

TEST(LiteralText, Float) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {1.5, "1.5"}, {-0.25, "-0.25"}, {1e20, "1E20"}, {1.5e-7, "1.5E-7"}, {0.0, "0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatFloatLiteral(c.value), c.text);
    double value = -1;
    EXPECT_TRUE(ParseFloatLiteral(c.text, value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  const Case accepted[] = {
      {1e5, "1e5"}, {0.5, ".5"}, {5.0, "5."}, {-1.5e-3, "-1.5e-3"}, {100.0, "1E+2"}, {0.0, "-0"},
  };
  for (const Case& c : accepted) {
    double value = -1;
    EXPECT_TRUE(ParseFloatLiteral(c.text, value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  ExpectRefused<double>(ParseFloatLiteral, IsFloatLiteral,
                        {"+1", " 1", "1 ", "-", ".", "1e", "1e+", "1.2.3", "1e5.5", "inf", "nan",
                         "1e400", "", "0x10", "1,5", "e5", "-.e1"});
}

// Every finite double writes a text that reads back as a finite double within
// the rounding of 15 digits, and that text is stable: what it reads writes
// the same text again.
TEST(LiteralText, FloatTextReadsBack) {
  std::mt19937_64 random(20240229);
  std::vector<double> values = {DBL_MAX, -DBL_MAX, std::nextafter(DBL_MAX, 0.0), DBL_MIN,
                                DBL_TRUE_MIN};
  while (values.size() < 20000) {
    uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isfinite(value)) values.push_back(value);
  }
  for (double value : values) {
    std::string text = FormatFloatLiteral(value);
    double read = 0;
    ASSERT_TRUE(ParseFloatLiteral(text, read)) << text;
    ASSERT_LE(std::fabs(read - value), std::fabs(value) * 1e-14) << text;
    ASSERT_EQ(FormatFloatLiteral(read), text);
  }
}

TEST(LiteralText, Decimal) {
  struct Case {
    int64_t value;
    int32_t scale;
    const char* text;
  };
  const Case cases[] = {
      {15000, 3, "1.500"},  {20000, 2, "2.00"},
      {12345, 2, "1.2345"},  // longer fraction kept
      {-5000, 0, "-0.5"},   {0, 4, "0.0000"},
      {-20000, 0, "-2"},    {INT64_MIN, 4, "-922337203685477.5808"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatDecimalLiteral(c.scale, c.value), c.text);
    int64_t value = -1;
    EXPECT_TRUE(ParseDecimalLiteral(c.text, value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  int64_t value = 0;
  EXPECT_TRUE(ParseDecimalLiteral("1.23456", value));
  EXPECT_EQ(value, 12346);
  EXPECT_TRUE(ParseDecimalLiteral(".5", value));
  EXPECT_EQ(value, 5000);
  ExpectRefused<int64_t>(ParseDecimalLiteral, NoPredicate,
                         {"1.2.3", "+1", "", "-", ".", "1e3", " 1", "922337203685477.5808", "1,5"});
}

TEST(LiteralText, CharCode) {
  char c = 0;
  EXPECT_TRUE(ParseCharCodeLiteral("#65", c));
  EXPECT_EQ(c, 'A');
  EXPECT_TRUE(ParseCharCodeLiteral("#321", c));  // the low byte
  EXPECT_EQ(c, 'A');
  ExpectRefused<char>(ParseCharCodeLiteral, NoPredicate, {"65", "#", "", "#x", "##65"});
  struct Case {
    const char* text;
    bool accepted;
  };
  const Case cases[] = {{"65", true},   {"#255", true}, {"#0", true}, {"256", false},
                        {"#-1", false}, {"#", false},   {"", false}};
  for (const Case& k : cases) EXPECT_EQ(IsCharCodeLiteral(k.text), k.accepted) << k.text;
}

}  // namespace
}  // namespace brn
