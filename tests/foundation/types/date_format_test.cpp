#include "foundation/types/date_format.h"

#include <gtest/gtest.h>

#include "foundation/date_test_support.h"
#include "foundation/text/exception.h"
#include "foundation/types/date_time.h"

namespace brn {
namespace {

using testing::D;
using testing::T;

TBRNDateFormat DateFormat(const char* format) {
  TBRNDateFormat compiled;
  ParseDateFormat(format, compiled);
  return compiled;
}

TBRNTimeFormat TimeFormat(const char* format, const char* am = "AM", const char* pm = "PM") {
  TBRNTimeFormat compiled;
  ParseTimeFormat(format, am, pm, compiled);
  return compiled;
}

TEST(DateFormat, CompiledComponentsAndTemplate) {
  TBRNDateFormat packed = DateFormat("yyyymmdd");
  EXPECT_EQ(packed.Component1, "YYYY");
  EXPECT_EQ(packed.Component2, "MM");
  EXPECT_EQ(packed.Component3, "DD");
  EXPECT_EQ(packed.Template, "%Y%M%D");
  EXPECT_FALSE(packed.HasSeparators);

  TBRNDateFormat slashed = DateFormat("d/M.yy");
  EXPECT_EQ(slashed.Component1, "D");
  EXPECT_EQ(slashed.Component2, "M");
  EXPECT_EQ(slashed.Component3, "YY");
  EXPECT_EQ(slashed.Template, "%D/%M.%Y");
  EXPECT_TRUE(slashed.HasSeparators);

  TBRNTimeFormat time = TimeFormat("hh:mm:ss.zzz n", "am", "pm");
  EXPECT_EQ(time.Component1 + time.Component2 + time.Component3 + time.Component4 + time.Component5,
            "HHMMSSZZZN");
  EXPECT_EQ(time.Template, "%H:%M:%S.%Z %N");
  EXPECT_EQ(time.AMText + time.PMText, "ampm");
  EXPECT_EQ(TimeFormat("hh:mm").Component3, "");
}

// Texts that format and parse back alike.
TEST(DateFormat, DatesBothWays) {
  struct Case {
    const char* format;
    int32_t day;
    const char* text;
  };
  const Case cases[] = {
      {"yyyy-mm-dd", D(2024, 2, 29), "2024-02-29"},
      {"dd/mm/yyyy", D(2024, 3, 5), "05/03/2024"},
      {"d/m/yyyy", D(2024, 3, 5), "5/3/2024"},
      {"d.m.yyyy", D(2024, 12, 25), "25.12.2024"},
      {"yyyymmdd", D(2024, 2, 29), "20240229"},
      {"MM-DD-YYYY", D(1999, 1, 9), "01-09-1999"},
      {"yyyy-mm-dd", D(1, 1, 1), "0001-01-01"},  // four letters write four digits
      {"yyyymmdd", D(61, 4, 20), "00610420"},
      {"yyyy-mmdd", D(2024, 2, 29), "2024-0229"},    // a run ends where the next one starts
      {"yyyy%mm%dd", D(2024, 2, 29), "2024%02%29"},  // a "%" separator stays literal
      {"[yyyy] mm dd", D(9999, 12, 31), "[9999] 12 31"},
  };
  for (const Case& c : cases) {
    TBRNDateFormat format = DateFormat(c.format);
    EXPECT_EQ(FormatDateByFormat(c.day, format), c.text) << c.format;
    int32_t day = -1;
    EXPECT_TRUE(ParseDateByFormat(c.text, format, day)) << c.format << " " << c.text;
    EXPECT_EQ(day, c.day) << c.format << " " << c.text;
  }
}

TEST(DateFormat, ReadingDates) {
  struct Case {
    const char* format;
    const char* text;
    int32_t day;  // 0: refused
  };
  const Case cases[] = {
      {"yyyymmdd", "2024022", D(2024, 2, 2)},  // each component reads at most its length
      {"yyyymmdd", "20240229", D(2024, 2, 29)},
      {"dd/mm/yyyy", "5/3/2024", D(2024, 3, 5)},
      {"dd/mm/yyyy", "05/03/002024", D(2024, 3, 5)},
      {"yyyy-mm-dd", "2024-01-01xyz", D(2024, 1, 1)},
      {"yyyy-mm-dd", "2021-02-29", 0},
      {"yyyy-mm-dd", "2024/01/01", 0},
      {"yyyy-mm-dd", "2024-01", 0},
      {"yyyy-mm-dd", "", 0},
      {"yyyy-mm-dd", "abcd-01-01", 0},
      {"yyyy-mm-dd", "-2024-01-01", 0},
      {"yyyy-mm-dd", "10000-01-01", 0},
      {"yyyy-mm-dd", "99999999999999999999-01-01", 0},
  };
  for (const Case& c : cases) {
    int32_t day = -1;
    EXPECT_EQ(ParseDateByFormat(c.text, DateFormat(c.format), day), c.day != 0)
        << c.format << " " << c.text;
    EXPECT_EQ(day, c.day) << c.format << " " << c.text;
  }
}

TEST(DateFormat, TwoDigitYearsFallInTheWindowAroundTheCurrentYear) {
  // The window runs from 50 years before the current year to 49 after it.
  int32_t first = CurrentLocalYear() - 50;
  TBRNDateFormat format = DateFormat("dd/mm/yy");
  for (int32_t year : {first, first + 1, first + 99}) {
    std::string digits = std::to_string(year % 100);
    if (digits.size() < 2) digits = "0" + digits;
    int32_t day = 0;
    ASSERT_TRUE(ParseDateByFormat("01/06/" + digits, format, day));
    EXPECT_EQ(day, D(year, 6, 1)) << digits;
    EXPECT_EQ(FormatDateByFormat(day, format), "01/06/" + digits);
  }
}

TEST(TimeFormat, TimesBothWays) {
  struct Case {
    const char* format;
    int32_t time;
    const char* text;
  };
  const Case cases[] = {
      {"hh:mm:ss.zzz", T(13, 5, 9, 45), "13:05:09.045"},
      {"hh:mm:ss", T(0, 0, 0), "00:00:00"},
      {"h:m:s:z", T(1, 2, 3, 4), "1:2:3:4"},
      {"hhmmss", T(10, 30, 45), "103045"},
      {"hh:mm n", T(0, 5), "12:05 AM"},
      {"hh:mm n", T(13, 5), "01:05 PM"},
      {"hh:mm n", T(12, 0), "12:00 PM"},
      {"hh:mm n", T(11, 59), "11:59 AM"},
      {"h:mm n", T(9, 5), "9:05 AM"},
      {"h:mm n", T(23, 59), "11:59 PM"},
      {"nhh:mm", T(21, 15), "PM09:15"},
      // The marker counts wherever it stands, also before the hour.
      {"n hh:mm", T(15, 0), "PM 03:00"},
      {"n hh:mm", T(0, 30), "AM 12:30"},
      {"n hh:mm", T(12, 30), "PM 12:30"},
      {"hhmm:ss", T(9, 5, 7), "0905:07"},
  };
  for (const Case& c : cases) {
    TBRNTimeFormat format = TimeFormat(c.format);
    EXPECT_EQ(FormatTimeByFormat(c.time, format), c.text) << c.format;
    int32_t time = -1;
    EXPECT_TRUE(ParseTimeByFormat(c.text, format, time)) << c.format << " " << c.text;
    EXPECT_EQ(time, c.time) << c.format << " " << c.text;
  }
  // An empty word is written, and read, also at the end of the text.
  const Case emptyWords[] = {
      {"hh:mm n", T(0, 12), "12:12 "},
      {"hh:mm n", T(12, 12), "12:12 pm"},
      {"hh:mmn", T(0, 12), "12:12"},
  };
  for (const Case& c : emptyWords) {
    TBRNTimeFormat format = TimeFormat(c.format, "", "pm");
    EXPECT_EQ(FormatTimeByFormat(c.time, format), c.text) << c.format;
    int32_t time = -1;
    EXPECT_TRUE(ParseTimeByFormat(c.text, format, time)) << c.format << " " << c.text;
    EXPECT_EQ(time, c.time) << c.format << " " << c.text;
  }
}

TEST(TimeFormat, ReadingTimes) {
  struct Case {
    const char* format;
    const char* text;
    int32_t time;
    bool ok;
  };
  const Case cases[] = {
      {"hh:mm n", "12:30 AM", T(0, 30), true},  {"hh:mm n", "12:30 am", T(0, 30), true},
      {"hh:mm n", "12:30 PM", T(12, 30), true}, {"hh:mm n", "01:05 pm", T(13, 5), true},
      {"hh:mm n", "13:05 PM", T(13, 5), true},  {"hh:mm n", "01:05 XM", 0, false},
      {"hh:mm n", "01:05 AMP", 0, false},       {"hhmmss", "103045", T(10, 30, 45), true},
      {"hh:mm:ss", "10:30", T(10, 30), true},  // text ended early
      {"hh:mm:ss", "24:00:00", 0, false},       {"hh:mm", "24:00", 0, false},
      {"hh:mm:ss", "10:60:00", 0, false},       {"hh:mm:ss.zzz", "10:00:00.1000", 0, false},
      {"hh:mm:ss", "10-30-00", 0, false},       {"hh:mm:ss", "ab:30:00", 0, false},
  };
  for (const Case& c : cases) {
    int32_t time = -1;
    EXPECT_EQ(ParseTimeByFormat(c.text, TimeFormat(c.format), time), c.ok)
        << c.format << " " << c.text;
    EXPECT_EQ(time, c.time) << c.format << " " << c.text;
  }
}

TEST(TimeFormat, Timestamps) {
  TBRNDateFormat date = DateFormat("dd.mm.yyyy");
  TBRNTimeFormat time = TimeFormat("h:mm n", "am", "pm");
  int64_t ts = DateToTimestamp(D(2024, 2, 29)) + T(18, 7);
  EXPECT_EQ(FormatTimestampByFormat(date, time, ts), "29.02.2024 6:07 pm");
  int64_t back = -1;
  EXPECT_TRUE(ParseTimestampByFormat("29.02.2024 6:07 PM", date, time, back));
  EXPECT_EQ(back, ts);
  for (const char* bad : {"29.02.2024T6:07 pm", "30.02.2024 6:07 pm", "29.02.2024 6:07 xm"}) {
    EXPECT_FALSE(ParseTimestampByFormat(bad, date, time, back)) << bad;
    EXPECT_EQ(back, 0) << bad;
  }
}

TEST(FormatStrings, BadFormatsRaiseError1400) {
  struct Case {
    bool time;
    const char* format;
    const char* reason;  // nullptr: accepted
  };
  const Case cases[] = {
      {false, "d/m/y", "Invalid year (y) component"},
      {false, "yyyyy-mm-dd", "Invalid year (y) component"},
      {false, "ddd/mm/yyyy", "Invalid day (d) component"},
      {false, "dd/mmm/yyyy", "Invalid month (m) component"},
      {false, "yyyy-mm", "Missing year (y), month (m), or day (d) component"},
      {false, "", "Missing year (y), month (m), or day (d) component"},
      {false, "yyyy-mm-dd-yy", "Too many date components"},
      {false, "Dd/mm/yyyy", "Too many date components"},  // a change of case starts one
      // Formats that could never read back what they write.
      {false, "dd-dd-dd", "Missing year (y), month (m), or day (d) component"},
      {false, "d/d/d", "Missing year (y), month (m), or day (d) component"},
      {false, "yyyy/mm/mm", "Missing year (y), month (m), or day (d) component"},
      {false, "yyy-mm-dd", "Invalid year (y) component"},
      {true, "mm:ss", "Missing hour (h) or minute (m) component"},
      {true, "hh:ss:zzz", "Missing hour (h) or minute (m) component"},
      {true, "n mm:ss", "Missing hour (h) or minute (m) component"},
      {false, "yy.mm.dd", nullptr},
      {true, "hh", "Missing hour (h) or minute (m) component"},
      {true, "h:m:s:z:n:h", "Too many time components"},
      {true, "h:m:s:z:n:x", nullptr},
      {true, "hhh:mm", "Invalid hour (h) component"},
      {true, "hh:mmm", "Invalid minute (m) component"},
      {true, "hh:mm:sss", "Invalid second (s) component"},
      {true, "hh:mm:ss.zz", "Invalid millisecond (z) component"},
      {true, "hh:mm:ss.z", nullptr},
      {true, "hh:mm nn", "Invalid 12-hour (a) component"},
  };
  for (const Case& c : cases) {
    try {
      if (c.time) {
        TimeFormat(c.format);
      } else {
        DateFormat(c.format);
      }
      EXPECT_EQ(c.reason, nullptr) << c.format << " was accepted";
    } catch (const EBRNException& e) {
      ASSERT_NE(c.reason, nullptr) << c.format << ": " << e.what();
      EXPECT_EQ(e.ErrorCode, 1400);
      EXPECT_EQ(e.ErrorMessage,
                std::string("Error in the format string ") + c.format + " (" + c.reason + ")");
    }
  }
}

TEST(FormatStrings, NumbersAndBooleansWithUserSymbols) {
  const std::tuple<const char*, char, bool, double> floats[] = {
      {"1,5", ',', true, 1.5}, {"-1,5E3", ',', true, -1500.0}, {"2.25", '.', true, 2.25},
      {"1;5", ';', true, 1.5}, {"1,5", '.', false, 0.0},       {"abc", ',', false, 0.0},
      {"", ',', false, 0.0},
  };
  for (const auto& [text, separator, ok, expected] : floats) {
    double x = -1;
    EXPECT_EQ(ParseFloatWithSeparator(text, separator, x), ok) << text;
    EXPECT_DOUBLE_EQ(x, expected) << text;
  }
  const std::tuple<const char*, char, bool, int64_t> decimals[] = {
      {"12,34567", ',', true, 123457}, {"-0,00005", ',', true, -1}, {"7", ',', true, 70000},
      {"1.234,5", ',', false, 0},      {"x", ',', false, 0},
  };
  for (const auto& [text, separator, ok, expected] : decimals) {
    int64_t d = -1;
    EXPECT_EQ(ParseDecimalWithSeparator(text, separator, d), ok) << text;
    EXPECT_EQ(d, expected) << text;
  }
  bool b = false;
  EXPECT_TRUE(ParseBooleanByWords("JA", "ja", "nein", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(ParseBooleanByWords("Nein", "ja", "nein", b));
  EXPECT_FALSE(b);
  b = true;
  EXPECT_FALSE(ParseBooleanByWords("vielleicht", "ja", "nein", b));
  EXPECT_TRUE(b);
}

}  // namespace
}  // namespace brn
