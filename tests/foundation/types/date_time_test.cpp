#include "foundation/types/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "foundation/date_test_support.h"
#include "foundation/test_support.h"
#include "foundation/text/exception.h"

namespace brn {
namespace {

constexpr int64_t hourMs = 3600000;
constexpr int64_t minuteMs = 60000;

using testing::D;
using testing::T;

int64_t TS(int32_t year, int32_t month, int32_t day, int32_t hour = 0, int32_t minute = 0,
           int32_t second = 0, int32_t ms = 0) {
  return DateToTimestamp(D(year, month, day)) + T(hour, minute, second, ms);
}

void ExpectRangeError(const std::function<void()>& operation, const char* what) {
  SCOPED_TRACE(what);
  EBRNException e = testing::CaughtError(operation);
  EXPECT_EQ(e.ErrorCode, 1011);
  EXPECT_NE(e.ErrorMessage.find("out of the range"), std::string::npos);
}

bool TestLeapYear(int year) {
  return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

int TestMonthLength(int year, int month) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && TestLeapYear(year) ? 29 : lengths[month - 1];
}

// Walks the calendar one day at a time, counting weekdays and ISO weeks by
// hand: a Monday between December 29 and January 4 starts week 1.
TEST(Calendar, EveryDayFromYear1To9999) {
  int year = 1, month = 1, day = 1, weekday = 1, dayOfYear = 1, isoWeek = 1;
  int failures = 0;
  auto fail = [&](int32_t n, const char* what) {
    ADD_FAILURE() << what << " wrong for day " << n << " (" << year << "-" << month << "-" << day
                  << ")";
    return ++failures > 10;
  };
  for (int32_t n = 1;; ++n) {
    if (weekday == 1) {
      bool weekOne = (month == 12 && day >= 29) || (month == 1 && day <= 4);
      isoWeek = weekOne ? 1 : isoWeek + 1;
    }
    TBRNDateParts parts;
    DecodeDayNumber(n, parts);
    int32_t encoded = 0;
    int length = TestMonthLength(year, month);
    if (parts.Year != year || parts.Month != month || parts.Day != day) {
      if (fail(n, "decoding")) break;
    } else if (!EncodeDayNumber({year, month, day}, encoded, false) || encoded != n) {
      if (fail(n, "encoding")) break;
    } else if (WeekdayOfDate(n) != weekday) {
      if (fail(n, "weekday")) break;
    } else if (ISOWeekNumber(n) != isoWeek) {
      if (fail(n, "ISO week")) break;
    } else if (DayOfYearNumber(n) != dayOfYear) {
      if (fail(n, "day of year")) break;
    } else if (LastDayOfMonth(n) != n - day + length) {
      if (fail(n, "last day of month")) break;
    } else if (DateToMonthNumber(n) != year * 12 + month - 1) {
      if (fail(n, "month number")) break;
    }
    if (year == 9999 && month == 12 && day == 31) {
      EXPECT_EQ(n, MaxDayNumber);
      break;
    }
    weekday = weekday % 7 + 1;
    ++dayOfYear;
    if (++day > length) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
        dayOfYear = 1;
      }
    }
  }
}

TEST(Calendar, KnownDaysAndRefusedParts) {
  EXPECT_EQ(D(2024, 2, 29), 738945);
  EXPECT_EQ(D(1899, 12, 30), DateTimeBaseDay);
  EXPECT_EQ(WeekdayOfDate(D(2024, 1, 1)), 1);
  EXPECT_EQ(ISOWeekNumber(D(2021, 1, 3)), 53);
  EXPECT_EQ(ISOWeekNumber(D(2024, 12, 30)), 1);
  EXPECT_EQ(ISOWeekOneStart(2021), D(2021, 1, 4));
  EXPECT_EQ(ISOWeekOneStart(2026), D(2025, 12, 29));

  for (int32_t notADate : {0, -5, INT32_MIN}) {
    TBRNDateParts parts{1, 1, 1};
    DecodeDayNumber(notADate, parts);
    EXPECT_EQ(parts.Year + parts.Month + parts.Day, 0) << notADate;
  }

  struct Case {
    TBRNDateParts parts;
    bool clamp;
    int32_t expected;  // 0: refused
  };
  const Case cases[] = {
      {{2023, 2, 29}, false, 0},
      {{2023, 2, 29}, true, D(2023, 2, 28)},
      {{2021, 2, 29}, false, 0},
      {{2024, 4, 31}, true, D(2024, 4, 30)},
      {{2024, 1, 99}, true, D(2024, 1, 31)},
      {{10000, 1, 1}, false, 0},
      {{0, 1, 1}, false, 0},
      {{2024, 0, 1}, true, 0},
      {{2024, 13, 1}, true, 0},
      {{2024, 1, 0}, true, 0},
      {{1900, 2, 29}, false, 0},
      {{2000, 2, 29}, false, D(2000, 2, 29)},
  };
  for (const Case& c : cases) {
    int32_t day = -1;
    EXPECT_EQ(EncodeDayNumber(c.parts, day, c.clamp), c.expected != 0)
        << c.parts.Year << "-" << c.parts.Month << "-" << c.parts.Day;
    EXPECT_EQ(day, c.expected);
  }

  const TBRNTimeParts badTimes[] = {{24, 0, 0, 0}, {-1, 0, 0, 0},   {0, 60, 0, 0},
                                    {0, 0, 60, 0}, {0, 0, 0, 1000}, {0, 0, 0, -1}};
  for (const TBRNTimeParts& p : badTimes) {
    int32_t time = -1;
    EXPECT_FALSE(EncodeTimeOfDay(p, time)) << p.Hour << ":" << p.Minute << ":" << p.Second;
    EXPECT_EQ(time, 0);
  }
  EXPECT_EQ(T(23, 59, 59, 999), 86399999);
  int64_t ts = -1;
  EXPECT_FALSE(EncodeTimestamp({2024, 2, 30, 10, 0, 0, 0}, ts, false));
  EXPECT_EQ(ts, 0);
  EXPECT_FALSE(EncodeTimestamp({2024, 2, 1, 24, 0, 0, 0}, ts, true));
  EXPECT_TRUE(EncodeTimestamp({2024, 2, 30, 10, 0, 0, 0}, ts, true));
  EXPECT_EQ(ts, TS(2024, 2, 29, 10));
  TBRNTimestampParts back;
  DecodeTimestamp(TS(9999, 12, 31, 23, 59, 59, 999), back);
  EXPECT_EQ(back.Year * 10000 + back.Month * 100 + back.Day, 99991231);
  EXPECT_EQ(back.Hour * 10000000 + back.Minute * 100000 + back.Second * 1000 + back.MSecond,
            235959999);
}

TEST(Intervals, SplittingByEveryQualifier) {
  // 1 day 2 hours 3 minutes 4 seconds 5 milliseconds.
  const int64_t amount = 93784005;
  struct Case {
    TBRNIntervalFields qualifier;
    TBRNDayTimeParts parts;
  };
  const Case cases[] = {
      {8, {0, 0, 0, 0, 93784005}}, {16, {0, 0, 0, 93784, 0}}, {24, {0, 0, 0, 93784, 5}},
      {32, {0, 0, 1563, 0, 0}},    {48, {0, 0, 1563, 4, 0}},  {56, {0, 0, 1563, 4, 5}},
      {64, {0, 26, 0, 0, 0}},      {96, {0, 26, 3, 0, 0}},    {112, {0, 26, 3, 4, 0}},
      {120, {0, 26, 3, 4, 5}},     {128, {1, 0, 0, 0, 0}},    {192, {1, 2, 0, 0, 0}},
      {224, {1, 2, 3, 0, 0}},      {240, {1, 2, 3, 4, 0}},    {248, {1, 2, 3, 4, 5}},
      {40, {0, 0, 0, 0, 0}},       {0, {0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    for (int sign : {1, -1}) {
      TBRNDayTimeParts p;
      SplitDayTimeInterval(c.qualifier, p, sign * amount);
      EXPECT_EQ(p.Days, sign * c.parts.Days) << c.qualifier;
      EXPECT_EQ(p.Hours, sign * c.parts.Hours) << c.qualifier;
      EXPECT_EQ(p.Minutes, sign * c.parts.Minutes) << c.qualifier;
      EXPECT_EQ(p.Seconds, sign * c.parts.Seconds) << c.qualifier;
      EXPECT_EQ(p.MSeconds, sign * c.parts.MSeconds) << c.qualifier;
      int64_t joined = -1;
      EXPECT_TRUE(CombineDayTimeInterval(p, joined));
      EXPECT_EQ(joined, RequalifyDayTimeInterval(sign * amount, c.qualifier)) << c.qualifier;
    }
  }
  EXPECT_EQ(RequalifyDayTimeInterval(5400000, ifHour), 3600000);
  EXPECT_EQ(RequalifyDayTimeInterval(-5400000, ifHour), -3600000);

  // The day count of the largest amounts does not fit 32 bits.
  TBRNDayTimeParts huge;
  SplitDayTimeInterval(ifDay | ifHour, huge, INT64_MAX);
  EXPECT_EQ(huge.Days, INT64_MAX / 86400000);
  EXPECT_EQ(huge.Hours, INT64_MAX % 86400000 / hourMs);
  int64_t ms = -1;
  EXPECT_FALSE(CombineDayTimeInterval({INT64_MAX / 86400000 + 1, 0, 0, 0, 0}, ms));
  EXPECT_EQ(ms, 0);

  const std::tuple<int32_t, TBRNIntervalFields, int32_t, int32_t> yearMonth[] = {
      {14, ifMonth, 0, 14},
      {14, ifYear, 1, 0},
      {14, ifYear | ifMonth, 1, 2},
      {-14, ifYear | ifMonth, -1, -2},
      {14, 8, 0, 0}};
  for (const auto& [months, qualifier, years, rest] : yearMonth) {
    TBRNYearMonthParts p;
    SplitYearMonthInterval(months, qualifier, p);
    EXPECT_EQ(p.Years, years) << months << "/" << qualifier;
    EXPECT_EQ(p.Months, rest) << months << "/" << qualifier;
  }
  int32_t months = -1;
  EXPECT_FALSE(CombineYearMonthInterval({INT32_MAX / 12 + 1, 0}, months));
  EXPECT_TRUE(CombineYearMonthInterval({-2, -3}, months));
  EXPECT_EQ(months, -27);
}

TEST(Arithmetic, YearMonthIntervalsClampToTheMonthEnd) {
  const int32_t M = ifMonth, Y = ifYear, YM = ifYear | ifMonth;
  struct Case {
    int32_t day;
    int32_t months;
    TBRNIntervalFields qualifier;
    bool subtract;
    int32_t expected;
  };
  const Case cases[] = {
      {D(2024, 1, 31), 1, M, false, D(2024, 2, 29)},
      {D(2023, 3, 31), 1, M, true, D(2023, 2, 28)},
      {D(2024, 2, 29), 12, Y, false, D(2025, 2, 28)},
      {D(2024, 2, 29), 14, Y, false, D(2025, 2, 28)},  // whole years only
      {D(2024, 2, 29), 14, YM, false, D(2025, 4, 29)},
      {D(2024, 1, 15), -13, M, false, D(2022, 12, 15)},
      {D(2024, 1, 15), 13, M, true, D(2022, 12, 15)},
      {D(2024, 5, 31), 0, M, false, D(2024, 5, 31)},
      {D(1, 2, 28), 1, M, true, D(1, 1, 28)},
      {D(9999, 11, 30), 1, M, false, D(9999, 12, 30)},
  };
  for (const Case& c : cases) {
    int32_t result = c.subtract ? SubtractYearMonthIntervalFromDate(c.day, c.months, c.qualifier)
                                : AddYearMonthIntervalToDate(c.day, c.months, c.qualifier);
    EXPECT_EQ(result, c.expected) << c.day << (c.subtract ? " - " : " + ") << c.months;
  }
  EXPECT_EQ(AddYearMonthIntervalToTimestamp(1, M, TS(2024, 1, 31, 10)), TS(2024, 2, 29, 10));
  EXPECT_EQ(SubtractYearMonthIntervalFromTimestamp(12, Y, TS(2024, 2, 29, 23, 59, 59, 999)),
            TS(2023, 2, 28, 23, 59, 59, 999));
}

TEST(Arithmetic, DayTimeIntervalsOnTimestamps) {
  struct Case {
    int64_t ts;
    int64_t ms;
    TBRNIntervalFields qualifier;
    bool subtract;
    int64_t expected;
  };
  const Case cases[] = {
      {TS(2024, 2, 28, 23), 2 * hourMs, ifHour, false, TS(2024, 2, 29, 1)},
      {TS(2024, 12, 31, 23, 59, 59, 999), 1, ifMSecond, false, TS(2025, 1, 1)},
      {TS(2024, 3, 1), 1, ifMSecond, true, TS(2024, 2, 29, 23, 59, 59, 999)},
      {TS(2024, 3, 1), 5400000, ifHour, false, TS(2024, 3, 1, 1)},  // below the hour dropped
      {TS(2000, 1, 1), 36524LL * 86400000, ifDay, false, TS(2099, 12, 31)},
      {TS(2024, 1, 1, 12), -(36 * hourMs), ifDay | ifHour, false, TS(2023, 12, 31)},
      {TS(2024, 1, 1, 12), -(36 * hourMs), ifDay | ifHour, true, TS(2024, 1, 3)},
  };
  for (const Case& c : cases) {
    int64_t result = c.subtract ? SubtractDayTimeIntervalFromTimestamp(c.qualifier, c.ms, c.ts)
                                : AddDayTimeIntervalToTimestamp(c.qualifier, c.ms, c.ts);
    EXPECT_EQ(result, c.expected) << c.ts << (c.subtract ? " - " : " + ") << c.ms;
  }
}

TEST(Arithmetic, LeavingTheDateRangeRaisesTheConversionError) {
  // Amounts as large as the types allow must fail at once, not walk there.
  ExpectRangeError([] { AddYearMonthIntervalToDate(D(9999, 12, 31), 1, ifMonth); }, "date+1m");
  ExpectRangeError([] { SubtractYearMonthIntervalFromDate(D(1, 1, 31), 1, ifMonth); }, "date-1m");
  ExpectRangeError([] { AddYearMonthIntervalToDate(D(2024, 1, 1), INT32_MAX, ifMonth); }, "max");
  ExpectRangeError([] { SubtractYearMonthIntervalFromDate(D(2024, 1, 1), INT32_MIN, ifMonth); },
                   "min");
  ExpectRangeError([] { AddYearMonthIntervalToDate(0, 1, ifMonth); }, "day 0");
  ExpectRangeError([] { AddYearMonthIntervalToTimestamp(12, ifYear, TS(9999, 3, 1)); }, "ts+1y");
  ExpectRangeError(
      [] { AddDayTimeIntervalToTimestamp(ifMSecond, 1, TS(9999, 12, 31, 23, 59, 59, 999)); },
      "ts+1ms");
  ExpectRangeError([] { SubtractDayTimeIntervalFromTimestamp(ifMSecond, 1, TS(1, 1, 1)); },
                   "ts-1ms");
  ExpectRangeError([] { AddDayTimeIntervalToTimestamp(ifMSecond, INT64_MAX, TS(2024, 1, 1)); },
                   "ts+max");
  ExpectRangeError(
      [] { SubtractDayTimeIntervalFromTimestamp(ifMSecond, INT64_MIN, TS(2024, 1, 1)); }, "ts-min");
  ExpectRangeError([] { AddDayTimeIntervalToTimestamp(ifDay, 86400000, 0); }, "timestamp 0");
  ExpectRangeError([] { MultiplyDayTimeInterval(ifHour, 3 * hourMs, INT64_MAX); }, "ms*max");
  ExpectRangeError([] { MultiplyYearMonthInterval(INT32_MAX, ifMonth, 2); }, "months*2");
  ExpectRangeError([] { DivideDayTimeInterval(ifMSecond, INT64_MIN, -1); }, "min/-1");
  ExpectRangeError([] { TimestampDifference(ifMSecond, INT64_MAX, -1); }, "difference");
}

// A time of day moves around the clock: past midnight it wraps.
TEST(Arithmetic, TimeWrapsAroundMidnight) {
  struct Case {
    int32_t time;
    int64_t ms;
    TBRNIntervalFields qualifier;
    bool subtract;
    int32_t expected;
  };
  const Case cases[] = {
      {T(23, 0), 2 * hourMs, ifHour, false, T(1, 0)},
      {T(10, 0), 26 * hourMs, ifDay | ifHour, false, T(12, 0)},
      {T(0, 30), hourMs, ifHour, true, T(23, 30)},
      {T(0, 0), 1, ifMSecond, true, T(23, 59, 59, 999)},
      {T(12, 0), 90 * minuteMs + 1234, ifMinute, false, T(13, 30)},
      {T(12, 0), 10 * 86400000LL, ifDay, false, T(12, 0)},
      {T(12, 0), INT64_MAX, ifMSecond, false,
       int32_t((12 * hourMs + INT64_MAX % 86400000) % 86400000)},
      {T(12, 0), INT64_MIN, ifMSecond, true,
       int32_t((12 * hourMs + INT64_MAX % 86400000 + 1) % 86400000)},
  };
  for (const Case& c : cases) {
    int32_t result = c.subtract ? SubtractDayTimeIntervalFromTime(c.time, c.qualifier, c.ms)
                                : AddDayTimeIntervalToTime(c.time, c.qualifier, c.ms);
    EXPECT_EQ(result, c.expected) << c.time << (c.subtract ? " - " : " + ") << c.ms;
  }
}

TEST(Arithmetic, DifferencesAndScaling) {
  EXPECT_EQ(DateDifferenceDayTime(D(2024, 3, 1), D(2024, 2, 28), ifDay), 2 * 86400000LL);
  EXPECT_EQ(DateDifferenceDayTime(D(1, 1, 1), D(9999, 12, 31), ifDay),
            -int64_t(MaxDayNumber - 1) * 86400000);
  EXPECT_EQ(DateDifferenceYearMonth(D(2024, 1, 1), D(2023, 12, 31), ifMonth), 1);
  EXPECT_EQ(DateDifferenceYearMonth(D(2025, 1, 1), D(2023, 12, 31), ifYear), 12);
  EXPECT_EQ(DateDifferenceYearMonth(D(2023, 12, 31), D(2025, 1, 1), ifYear | ifMonth), -13);
  EXPECT_EQ(TimeDifference(T(10, 0), T(12, 30), ifHour), -2 * hourMs);
  EXPECT_EQ(TimeDifference(T(10, 0), T(12, 30), ifHour | ifMinute), -150 * minuteMs);
  EXPECT_EQ(TimestampDifference(ifDay | ifHour, TS(2024, 3, 1, 1, 30), TS(2024, 2, 28)),
            49 * hourMs);

  struct Scale {
    TBRNIntervalFields qualifier;
    int64_t ms;
    int64_t factor;
    bool divide;
    int64_t expected;
  };
  const Scale dayTime[] = {
      {ifHour, 3 * hourMs, 2, false, 6 * hourMs},
      {ifMinute, 90 * minuteMs, 4, true, 22 * minuteMs},
      {ifDay, 3 * 86400000LL, 2, true, 86400000},
      {ifDay, -3 * 86400000LL, 2, true, -86400000},
      {ifDay, 86400000, 3000000000LL, false, 3000000000LL * 86400000},  // beyond 32 bits
      {ifSecond, 1500, 3, false, 3000},
  };
  for (const Scale& s : dayTime) {
    int64_t result = s.divide ? DivideDayTimeInterval(s.qualifier, s.ms, s.factor)
                              : MultiplyDayTimeInterval(s.qualifier, s.ms, s.factor);
    EXPECT_EQ(result, s.expected) << s.qualifier << " " << s.ms << " by " << s.factor;
  }
  EXPECT_EQ(MultiplyYearMonthInterval(24, ifYear, 3), 72);
  EXPECT_EQ(MultiplyYearMonthInterval(5, ifMonth, -2), -10);
  EXPECT_EQ(DivideYearMonthInterval(36, ifYear, 2), 12);
  EXPECT_EQ(DivideYearMonthInterval(7, ifMonth, 2), 3);
}

TEST(Calendar, NormalisingPartsCarriesWithoutWalking) {
  struct Case {
    TBRNTimestampParts in;
    bool clamp;
    TBRNTimestampParts out;
  };
  const Case cases[] = {
      {{2024, 12, 31, 23, 59, 59, 1000}, false, {2025, 1, 1, 0, 0, 0, 0}},
      {{2024, 1, 1, 0, 0, 0, -1}, false, {2023, 12, 31, 23, 59, 59, 999}},
      {{2024, 0, 15, 0, 0, 0, 0}, false, {2023, 12, 15, 0, 0, 0, 0}},
      {{2024, 14, 31, 0, 0, 0, 0}, true, {2025, 2, 28, 0, 0, 0, 0}},
      {{2024, 14, 31, 0, 0, 0, 0}, false, {2025, 3, 3, 0, 0, 0, 0}},
      {{2024, 3, 0, 0, 0, 0, 0}, true, {2024, 2, 29, 0, 0, 0, 0}},
      {{2024, 1, 1, 48, 0, 0, 0}, false, {2024, 1, 3, 0, 0, 0, 0}},
      {{2000, 1, 1, 0, 0, 0, 0}, false, {2000, 1, 1, 0, 0, 0, 0}},
      {{1, 1, 1, 0, 0, 0, 0}, false, {1, 1, 1, 0, 0, 0, 0}},
      {{2000, 1, 1000000000, 0, 0, 0, 0}, false, {2739907, 1, 3, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    TBRNTimestampParts p = c.in;
    NormalizeTimestampParts(p, c.clamp);
    EXPECT_EQ(std::tie(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.MSecond),
              std::tie(c.out.Year, c.out.Month, c.out.Day, c.out.Hour, c.out.Minute, c.out.Second,
                       c.out.MSecond))
        << c.in.Year << "-" << c.in.Month << "-" << c.in.Day;
  }
  TBRNDateParts date{2024, -1, 31};
  NormalizeDateParts(date, true);
  EXPECT_EQ(std::tie(date.Year, date.Month, date.Day), std::make_tuple(2023, 11, 30));
  // Time parts alone: hours are neither wrapped nor carried into days.
  TBRNTimeParts time{23, 120, -1, 0};
  NormalizeTimeParts(time);
  EXPECT_EQ(std::tie(time.Hour, time.Minute, time.Second, time.MSecond),
            std::make_tuple(24, 59, 59, 0));
  time = {0, 0, 0, -1};
  NormalizeTimeParts(time);
  EXPECT_EQ(std::tie(time.Hour, time.Minute, time.Second, time.MSecond),
            std::make_tuple(-1, 59, 59, 999));
}

TEST(PlatformDate, BothDirections) {
  struct Case {
    int64_t ts;
    double dateTime;
  };
  const Case cases[] = {
      {TS(1899, 12, 30), 0.0},         {TS(1899, 12, 30, 12), 0.5}, {TS(1899, 12, 29, 6), -1.25},
      {TS(2024, 2, 29, 18), 45351.75}, {TS(1, 1, 1), -693593.0},    {TS(1, 1, 1, 12), -693593.5},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(TimestampMsToDateTime(c.ts), c.dateTime) << c.ts;
    EXPECT_EQ(DateTimeToTimestampMs(c.dateTime), c.ts) << c.dateTime;
    EXPECT_EQ(DateTimeToDayNumber(c.dateTime), TimestampToDate(c.ts)) << c.dateTime;
    EXPECT_EQ(DateTimeToTimeOfDay(c.dateTime), TimestampToTime(c.ts)) << c.dateTime;
  }
  EXPECT_DOUBLE_EQ(DayNumberToDateTime(D(2024, 2, 29)), 45351.0);
  EXPECT_DOUBLE_EQ(TimeOfDayToDateTime(T(6, 0)), 0.25);
  // Day 0 is not a date: a time on it lands on the platform's day 0.
  EXPECT_DOUBLE_EQ(TimestampMsToDateTime(T(6, 0)), 0.25);
  EXPECT_DOUBLE_EQ(DayNumberToDateTime(0), 0.0);
  // A fraction that rounds up to midnight belongs to the next day.
  EXPECT_EQ(DateTimeToTimestampMs(0.9999999999), TS(1899, 12, 31));
  for (double bad : {double(NAN), double(INFINITY), -double(INFINITY), 1e300})
    EXPECT_EQ(DateTimeToTimestampMs(bad), 0);
}

// Any 8-byte timestamp a stream may carry converts, down to the int64 limits,
// without overflowing: the day is floored and the time of day lies after it.
TEST(PlatformDate, TimestampsNearTheInt64LimitsConvert) {
  const int64_t cases[] = {INT64_MIN, INT64_MIN + 1, INT64_MIN + MSecsPerDay - 1,
                           INT64_MIN + MSecsPerDay, INT64_MAX};
  for (int64_t ts : cases) {
    int64_t day = ts / MSecsPerDay - (ts % MSecsPerDay < 0 ? 1 : 0);
    double days = double(day - DateTimeBaseDay);
    double dateTime = TimestampMsToDateTime(ts);
    if (days >= 0) {
      EXPECT_GE(dateTime, days) << ts;
      EXPECT_LT(dateTime, days + 1) << ts;
    } else {
      EXPECT_LE(dateTime, days) << ts;
      EXPECT_GT(dateTime, days - 1) << ts;
    }
  }
}

TEST(Clock, CurrentDateAndTimeAreConsistent) {
  int64_t before = CurrentTimestamp(true);
  int32_t date = CurrentDate(true);
  int32_t time = CurrentTime(true);
  int64_t after = CurrentTimestamp(true);
  EXPECT_GE(date, D(2024, 1, 1));
  EXPECT_LE(before, after);
  EXPECT_GE(DateToTimestamp(date) + time, before);
  EXPECT_LE(DateToTimestamp(date) + time, after);
  // Local time lies within a day of UTC.
  EXPECT_LE(std::llabs(CurrentTimestamp(false) - CurrentTimestamp(true)), 86400000);
  EXPECT_GE(CurrentLocalYear(), 2024);
}

TEST(Calendar, ScheduleHelpers) {
  const std::tuple<int32_t, int32_t, int32_t, bool> nth[] = {
      {D(2024, 5, 13), 2, 1, true},  {D(2024, 5, 13), 1, 1, false}, {D(2024, 5, 6), 1, 1, true},
      {D(2024, 5, 27), 5, 1, true},  {D(2024, 5, 27), 4, 1, true},  {D(2024, 5, 20), 5, 1, false},
      {D(2024, 5, 31), 5, 5, true},  {D(2024, 5, 1), 1, 3, true},   {D(2024, 5, 13), 0, 1, false},
      {D(2024, 5, 13), 6, 1, false}, {D(2024, 5, 13), 2, 8, false},
  };
  for (const auto& [day, n, weekday, expected] : nth)
    EXPECT_EQ(IsNthWeekdayOfMonth(day, n, weekday), expected) << day << " " << n << " " << weekday;

  EXPECT_EQ(LastDayOfMonth(D(9999, 12, 15)), MaxDayNumber);
  EXPECT_EQ(ElapsedSeconds(TS(2024, 1, 1, 0, 1, 1, 999), TS(2024, 1, 1)), 61);

  const std::pair<int64_t, const char*> elapsed[] = {
      {90061, "1 Day, 1 Hour, 1 Minute, 1 Second "},
      {60, "1 Minute, 0 Seconds "},
      {0, ""},
      {1, "1 Second "},
      {2678400, "1 Month, 0 Weeks, 0 Days, 0 Hours, 0 Minutes, 0 Seconds "},
      {2 * 2678400 + 2 * 604800 + 3, "2 Months, 2 Weeks, 0 Days, 0 Hours, 0 Minutes, 3 Seconds "},
  };
  for (const auto& [seconds, text] : elapsed) EXPECT_EQ(FormatElapsedTime(seconds), text);
}

}  // namespace
}  // namespace brn
