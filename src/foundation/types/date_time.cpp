#include "foundation/types/date_time.h"

#include <cmath>
#include <stdexcept>

#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "platform/system_info.h"

namespace brn {

namespace {

constexpr int64_t msPerHour = 3600000;
constexpr int64_t msPerMinute = 60000;
constexpr int64_t msPerSecond = 1000;
constexpr int32_t minYear = 1;
constexpr int32_t maxYear = 9999;

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// The remainder with the sign of b. Taken from the truncating remainder, so
// that no product of the quotient can overflow near the int64 limits.
int64_t FloorMod(int64_t a, int64_t b) {
  int64_t r = a % b;
  return (r != 0 && ((r < 0) != (b < 0))) ? r + b : r;
}

// A date whose fields may lie anywhere, for the calendar arithmetic.
struct WideDate {
  int64_t year = 0;
  int64_t month = 0;
  int64_t day = 0;
};

// Day number (0001-01-01 = 1) of a proleptic Gregorian date; month 1..12, the
// day is added linearly, so it may lie outside its month. Constant time for
// any year: the calendar repeats every 400 years (146097 days), counted here
// in years that start on March 1 so that the leap day ends the year.
int64_t DayNumberOf(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  int64_t era = FloorDiv(year, 400);
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 305;
}

WideDate DateOfDayNumber(int64_t dayNumber) {
  int64_t z = dayNumber + 305;
  int64_t era = FloorDiv(z, 146097);
  int64_t dayOfEra = z - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  WideDate date;
  date.day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  date.month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

bool IsLeapYearWide(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t DaysInMonthWide(int64_t year, int64_t month) {
  static constexpr int8_t lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYearWide(year)) return 29;
  return lengths[month - 1];
}

// Months into range (year carried), then days: before the month's start or
// past its end they run into the neighbouring months, or are clamped to the
// month's last day when clampDay is set.
void NormalizeWide(WideDate& date, bool clampDay) {
  int64_t months = date.year * 12 + (date.month - 1);
  date.year = FloorDiv(months, 12);
  date.month = FloorMod(months, 12) + 1;
  int64_t length = DaysInMonthWide(date.year, date.month);
  if (date.day > length && clampDay) {
    date.day = length;
  } else if (date.day < 1 || date.day > length) {
    date = DateOfDayNumber(DayNumberOf(date.year, date.month, 1) + date.day - 1);
  }
}

bool FitsInt32(int64_t value) {
  return value >= INT32_MIN && value <= INT32_MAX;
}

bool StoreWide(const WideDate& date, TBRNDateParts& parts) {
  if (!FitsInt32(date.year)) {
    parts = TBRNDateParts();
    return false;
  }
  parts.Year = int32_t(date.year);
  parts.Month = int32_t(date.month);
  parts.Day = int32_t(date.day);
  return true;
}

// The day-time fields from the largest unit down, with their parts.
struct DayTimeField {
  TBRNIntervalFields flag;
  int64_t unit;
  int64_t TBRNDayTimeParts::*part;
};
constexpr DayTimeField dayTimeFields[] = {{ifDay, MSecsPerDay, &TBRNDayTimeParts::Days},
                                          {ifHour, msPerHour, &TBRNDayTimeParts::Hours},
                                          {ifMinute, msPerMinute, &TBRNDayTimeParts::Minutes},
                                          {ifSecond, msPerSecond, &TBRNDayTimeParts::Seconds},
                                          {ifMSecond, 1, &TBRNDayTimeParts::MSeconds}};

// The unit of the last field of a valid qualifier (0 for an invalid one).
int64_t TrailingUnit(TBRNIntervalFields qualifier) {
  if (!IsValidDayTimeQualifier(qualifier)) return 0;
  if (qualifier & ifMSecond) return 1;
  if (qualifier & ifSecond) return msPerSecond;
  if (qualifier & ifMinute) return msPerMinute;
  if (qualifier & ifHour) return msPerHour;
  return MSecsPerDay;
}

int64_t TrailingMonthUnit(TBRNIntervalFields qualifier) {
  if (!IsValidYearMonthQualifier(qualifier)) return 0;
  return (qualifier & ifMonth) ? 1 : 12;
}

[[noreturn]] void RaiseRangeError(TBRNDataTypeCode dataType, TBRNDataSubType subType) {
  std::string name = DataTypeName(dataType, subType);
  RaiseConversionFailure(
      "value", name,
      FormatText("The value is out of the range of permissible values for the %s type", {name}));
}

// The decoded date of a day number that must be a date (day 1 or later).
WideDate OperandDate(int64_t day, TBRNDataTypeCode dataType) {
  if (day < 1) RaiseRangeError(dataType, 0);
  return DateOfDayNumber(day);
}

int32_t CheckedDayNumber(const WideDate& date, TBRNDataTypeCode dataType) {
  if (date.year < minYear || date.year > maxYear) RaiseRangeError(dataType, 0);
  return int32_t(DayNumberOf(date.year, date.month, date.day));
}

int32_t ShiftDateByMonths(int64_t day, int64_t months, TBRNDataTypeCode dataType) {
  WideDate date = OperandDate(day, dataType);
  date.month += months;
  NormalizeWide(date, true);
  return CheckedDayNumber(date, dataType);
}

int64_t ShiftTimestampByMonths(int64_t ts, int64_t months) {
  int64_t day = FloorDiv(ts, MSecsPerDay);
  int32_t shifted = ShiftDateByMonths(day, months, dtTimestamp);
  return DateToTimestamp(shifted) + FloorMod(ts, MSecsPerDay);
}

int64_t ShiftTimestampByMs(int64_t ts, int64_t ms, bool subtract) {
  if (FloorDiv(ts, MSecsPerDay) < 1) RaiseRangeError(dtTimestamp, 0);
  int64_t result = 0;
  bool overflow =
      subtract ? __builtin_sub_overflow(ts, ms, &result) : __builtin_add_overflow(ts, ms, &result);
  if (overflow || result < MSecsPerDay || result >= (int64_t(MaxDayNumber) + 1) * MSecsPerDay)
    RaiseRangeError(dtTimestamp, 0);
  return result;
}

// A time of day has no range to leave: it moves around a 24-hour clock. The
// day part of the interval is a whole number of turns and changes nothing.
int32_t ShiftTimeByMs(int32_t time, TBRNIntervalFields qualifier, int64_t ms, bool subtract) {
  int64_t offset = RequalifyDayTimeInterval(ms, qualifier) % MSecsPerDay;
  return int32_t(FloorMod(int64_t(time) + (subtract ? -offset : offset), MSecsPerDay));
}

int32_t CheckedMonths(int64_t months, TBRNIntervalFields qualifier) {
  if (!FitsInt32(months)) RaiseRangeError(dtYearMonthInterval, qualifier);
  return int32_t(months);
}

}  // namespace

bool IsLeapYear(int32_t Year) {
  return IsLeapYearWide(Year);
}

int32_t DaysInMonth(int32_t Year, int32_t Month) {
  if (Month < 1 || Month > 12) return 0;
  return int32_t(DaysInMonthWide(Year, Month));
}

int64_t DateToTimestamp(int32_t Day) {
  return int64_t(Day) * MSecsPerDay;
}

int64_t TimeToTimestamp(int32_t Time) {
  return Time;
}

int32_t TimestampToDate(int64_t TS) {
  int64_t day = TS / MSecsPerDay;
  return FitsInt32(day) ? int32_t(day) : 0;
}

int32_t TimestampToTime(int64_t TS) {
  return int32_t(TS % MSecsPerDay);
}

int32_t DateToMonthNumber(int32_t Day) {
  TBRNDateParts parts;
  DecodeDayNumber(Day, parts);
  return parts.Year * 12 + parts.Month - 1;
}

void DecodeDayNumber(int32_t Day, TBRNDateParts& Parts) {
  if (Day <= 0) {
    Parts = TBRNDateParts();
    return;
  }
  StoreWide(DateOfDayNumber(Day), Parts);
}

void DecodeTimeOfDay(int32_t Time, TBRNTimeParts& Parts) {
  Parts.Hour = Time / int32_t(msPerHour);
  Parts.Minute = Time / int32_t(msPerMinute) % 60;
  Parts.Second = Time % int32_t(msPerMinute) / 1000;
  Parts.MSecond = Time % 1000;
}

void DecodeTimestamp(int64_t TS, TBRNTimestampParts& Parts) {
  TBRNDateParts date;
  TBRNTimeParts time;
  DecodeDayNumber(TimestampToDate(TS), date);
  DecodeTimeOfDay(TimestampToTime(TS), time);
  Parts = {date.Year, date.Month, date.Day, time.Hour, time.Minute, time.Second, time.MSecond};
}

bool EncodeDayNumber(const TBRNDateParts& Parts, int32_t& Day, bool ClampDay) {
  Day = 0;
  if (Parts.Day <= 0 || Parts.Month <= 0 || Parts.Month > 12 || Parts.Year < minYear ||
      Parts.Year > maxYear)
    return false;
  int32_t day = Parts.Day;
  int32_t length = DaysInMonth(Parts.Year, Parts.Month);
  if (day > length) {
    if (!ClampDay) return false;
    day = length;
  }
  Day = int32_t(DayNumberOf(Parts.Year, Parts.Month, day));
  return true;
}

bool EncodeTimeOfDay(const TBRNTimeParts& Parts, int32_t& Time) {
  Time = 0;
  if (Parts.Hour < 0 || Parts.Hour > 23 || Parts.Minute < 0 || Parts.Minute > 59 ||
      Parts.Second < 0 || Parts.Second > 59 || Parts.MSecond < 0 || Parts.MSecond > 999)
    return false;
  Time = Parts.Hour * int32_t(msPerHour) + Parts.Minute * int32_t(msPerMinute) +
         Parts.Second * 1000 + Parts.MSecond;
  return true;
}

bool EncodeTimestamp(const TBRNTimestampParts& Parts, int64_t& TS, bool ClampDay) {
  TS = 0;
  int32_t day = 0;
  int32_t time = 0;
  if (!EncodeDayNumber({Parts.Year, Parts.Month, Parts.Day}, day, ClampDay)) return false;
  if (!EncodeTimeOfDay({Parts.Hour, Parts.Minute, Parts.Second, Parts.MSecond}, time)) return false;
  TS = DateToTimestamp(day) + time;
  return true;
}

void SplitYearMonthInterval(int32_t Months, TBRNIntervalFields Qualifier,
                            TBRNYearMonthParts& Parts) {
  Parts = TBRNYearMonthParts();
  switch (Qualifier) {
    case ifMonth:
      Parts.Months = Months;
      break;
    case ifYear:
      Parts.Years = Months / 12;
      break;
    case ifYear | ifMonth:
      Parts.Years = Months / 12;
      Parts.Months = Months % 12;
      break;
    default:
      break;
  }
}

void SplitDayTimeInterval(TBRNIntervalFields Qualifier, TBRNDayTimeParts& Parts, int64_t MS) {
  Parts = TBRNDayTimeParts();
  if (!IsValidDayTimeQualifier(Qualifier)) return;
  // The first field of the qualifier takes the whole amount, the later ones
  // what is left of it.
  int64_t rest = MS;
  for (const DayTimeField& field : dayTimeFields) {
    if (!(Qualifier & field.flag)) continue;
    Parts.*field.part = rest / field.unit;
    rest %= field.unit;
  }
}

bool CombineYearMonthInterval(const TBRNYearMonthParts& Parts, int32_t& Months) {
  int64_t months = int64_t(Parts.Years) * 12 + Parts.Months;
  Months = FitsInt32(months) ? int32_t(months) : 0;
  return FitsInt32(months);
}

bool CombineDayTimeInterval(const TBRNDayTimeParts& Parts, int64_t& MS) {
  MS = 0;
  int64_t total = 0;
  for (const DayTimeField& field : dayTimeFields) {
    int64_t product = 0;
    if (__builtin_mul_overflow(Parts.*field.part, field.unit, &product) ||
        __builtin_add_overflow(total, product, &total))
      return false;
  }
  MS = total;
  return true;
}

int32_t RequalifyYearMonthInterval(int32_t Months, TBRNIntervalFields Qualifier) {
  int64_t unit = TrailingMonthUnit(Qualifier);
  return unit == 0 ? 0 : int32_t(Months / unit * unit);
}

int64_t RequalifyDayTimeInterval(int64_t MS, TBRNIntervalFields Qualifier) {
  // Splitting and joining again drops exactly the part below the last field.
  int64_t unit = TrailingUnit(Qualifier);
  return unit == 0 ? 0 : MS / unit * unit;
}

void NormalizeDateParts(TBRNDateParts& Parts, bool ClampDay) {
  WideDate date{Parts.Year, Parts.Month, Parts.Day};
  NormalizeWide(date, ClampDay);
  StoreWide(date, Parts);
}

void NormalizeTimestampParts(TBRNTimestampParts& Parts, bool ClampDay) {
  int64_t time = Parts.Hour * msPerHour + Parts.Minute * msPerMinute + Parts.Second * msPerSecond +
                 int64_t(Parts.MSecond);
  WideDate date{Parts.Year, Parts.Month, int64_t(Parts.Day) + FloorDiv(time, MSecsPerDay)};
  NormalizeWide(date, ClampDay);
  TBRNDateParts dateParts;
  TBRNTimeParts timeParts;
  if (!StoreWide(date, dateParts)) {
    Parts = TBRNTimestampParts();
    return;
  }
  DecodeTimeOfDay(int32_t(FloorMod(time, MSecsPerDay)), timeParts);
  Parts = {dateParts.Year,   dateParts.Month,  dateParts.Day,    timeParts.Hour,
           timeParts.Minute, timeParts.Second, timeParts.MSecond};
}

void NormalizeTimeParts(TBRNTimeParts& Parts) {
  // Carries below the hour; the hour takes whatever is carried into it.
  int64_t belowHour =
      Parts.Minute * msPerMinute + Parts.Second * msPerSecond + int64_t(Parts.MSecond);
  int64_t hour = Parts.Hour + FloorDiv(belowHour, msPerHour);
  int64_t rest = FloorMod(belowHour, msPerHour);
  Parts.Hour = FitsInt32(hour) ? int32_t(hour) : (hour < 0 ? INT32_MIN : INT32_MAX);
  Parts.Minute = int32_t(rest / msPerMinute);
  Parts.Second = int32_t(rest % msPerMinute / msPerSecond);
  Parts.MSecond = int32_t(rest % msPerSecond);
}

int64_t DateTimeToTimestampMs(TDateTime DateTime) {
  // Far beyond every date, yet small enough that the products below fit.
  constexpr double limit = 1e9;
  if (!std::isfinite(DateTime) || DateTime >= limit || DateTime <= -limit) return 0;
  double whole = std::trunc(DateTime);
  // The fraction is the time of day on both sides of day 0.
  int64_t ms = std::llround(std::fabs(DateTime - whole) * double(MSecsPerDay));
  return (int64_t(whole) + DateTimeBaseDay) * MSecsPerDay + ms;
}

int32_t DateTimeToDayNumber(TDateTime DateTime) {
  return int32_t(FloorDiv(DateTimeToTimestampMs(DateTime), MSecsPerDay));
}

int32_t DateTimeToTimeOfDay(TDateTime DateTime) {
  return int32_t(FloorMod(DateTimeToTimestampMs(DateTime), MSecsPerDay));
}

TDateTime TimestampMsToDateTime(int64_t TS) {
  int64_t day = FloorDiv(TS, MSecsPerDay);
  double fraction = double(FloorMod(TS, MSecsPerDay)) / double(MSecsPerDay);
  // Day 0 is no date: its time is placed on the platform's day 0.
  if (day == 0) return fraction;
  double days = double(day - DateTimeBaseDay);
  return days >= 0 ? days + fraction : days - fraction;
}

TDateTime DayNumberToDateTime(int32_t Day) {
  return Day == 0 ? 0.0 : double(int64_t(Day) - DateTimeBaseDay);
}

TDateTime TimeOfDayToDateTime(int32_t Time) {
  return double(Time) / double(MSecsPerDay);
}

int32_t AddYearMonthIntervalToDate(int32_t Day, int32_t Months, TBRNIntervalFields Qualifier) {
  return ShiftDateByMonths(Day, RequalifyYearMonthInterval(Months, Qualifier), dtDate);
}

int32_t SubtractYearMonthIntervalFromDate(int32_t Day, int32_t Months,
                                          TBRNIntervalFields Qualifier) {
  return ShiftDateByMonths(Day, -int64_t(RequalifyYearMonthInterval(Months, Qualifier)), dtDate);
}

int64_t AddYearMonthIntervalToTimestamp(int32_t Months, TBRNIntervalFields Qualifier, int64_t TS) {
  return ShiftTimestampByMonths(TS, RequalifyYearMonthInterval(Months, Qualifier));
}

int64_t SubtractYearMonthIntervalFromTimestamp(int32_t Months, TBRNIntervalFields Qualifier,
                                               int64_t TS) {
  return ShiftTimestampByMonths(TS, -int64_t(RequalifyYearMonthInterval(Months, Qualifier)));
}

int32_t AddDayTimeIntervalToTime(int32_t Time, TBRNIntervalFields Qualifier, int64_t MS) {
  return ShiftTimeByMs(Time, Qualifier, MS, false);
}

int32_t SubtractDayTimeIntervalFromTime(int32_t Time, TBRNIntervalFields Qualifier, int64_t MS) {
  return ShiftTimeByMs(Time, Qualifier, MS, true);
}

int64_t AddDayTimeIntervalToTimestamp(TBRNIntervalFields Qualifier, int64_t MS, int64_t TS) {
  return ShiftTimestampByMs(TS, RequalifyDayTimeInterval(MS, Qualifier), false);
}

int64_t SubtractDayTimeIntervalFromTimestamp(TBRNIntervalFields Qualifier, int64_t MS, int64_t TS) {
  return ShiftTimestampByMs(TS, RequalifyDayTimeInterval(MS, Qualifier), true);
}

int64_t DateDifferenceDayTime(int32_t Day1, int32_t Day2, TBRNIntervalFields Qualifier) {
  return RequalifyDayTimeInterval((int64_t(Day1) - Day2) * MSecsPerDay, Qualifier);
}

int32_t DateDifferenceYearMonth(int32_t Day1, int32_t Day2, TBRNIntervalFields Qualifier) {
  int64_t months = int64_t(DateToMonthNumber(Day1)) - DateToMonthNumber(Day2);
  return RequalifyYearMonthInterval(CheckedMonths(months, Qualifier), Qualifier);
}

int64_t TimeDifference(int32_t Time1, int32_t Time2, TBRNIntervalFields Qualifier) {
  return RequalifyDayTimeInterval(int64_t(Time1) - Time2, Qualifier);
}

int64_t TimestampDifference(TBRNIntervalFields Qualifier, int64_t TS1, int64_t TS2) {
  int64_t difference = 0;
  if (__builtin_sub_overflow(TS1, TS2, &difference)) RaiseRangeError(dtDayTimeInterval, Qualifier);
  return RequalifyDayTimeInterval(difference, Qualifier);
}

// Scaling works on the amount counted in the qualifier's last field, which
// for the single-field qualifiers the validator admits is that one field.
int32_t MultiplyYearMonthInterval(int32_t Months, TBRNIntervalFields Qualifier, int64_t Factor) {
  int64_t product = 0;
  if (__builtin_mul_overflow(int64_t(RequalifyYearMonthInterval(Months, Qualifier)), Factor,
                             &product))
    RaiseRangeError(dtYearMonthInterval, Qualifier);
  return CheckedMonths(product, Qualifier);
}

int32_t DivideYearMonthInterval(int32_t Months, TBRNIntervalFields Qualifier, int64_t Divisor) {
  if (Divisor == 0) throw std::invalid_argument("DivideYearMonthInterval: divisor 0");
  int64_t unit = TrailingMonthUnit(Qualifier);
  if (unit == 0) return 0;
  return CheckedMonths(Months / unit / Divisor * unit, Qualifier);
}

int64_t MultiplyDayTimeInterval(TBRNIntervalFields Qualifier, int64_t MS, int64_t Factor) {
  int64_t product = 0;
  if (__builtin_mul_overflow(RequalifyDayTimeInterval(MS, Qualifier), Factor, &product))
    RaiseRangeError(dtDayTimeInterval, Qualifier);
  return product;
}

int64_t DivideDayTimeInterval(TBRNIntervalFields Qualifier, int64_t MS, int64_t Divisor) {
  if (Divisor == 0) throw std::invalid_argument("DivideDayTimeInterval: divisor 0");
  int64_t unit = TrailingUnit(Qualifier);
  if (unit == 0) return 0;
  int64_t count = MS / unit;
  if (count == INT64_MIN && Divisor == -1) RaiseRangeError(dtDayTimeInterval, Qualifier);
  return count / Divisor * unit;
}

int64_t CurrentTimestamp(bool UTC) {
  SystemTime now = UTC ? SystemUTCTime() : SystemLocalTime();
  // A leap second counts as the last second of its minute.
  int32_t second = now.Second > 59 ? 59 : now.Second;
  int64_t ts = 0;
  EncodeTimestamp({now.Year, now.Month, now.Day, now.Hour, now.Minute, second, now.Milliseconds},
                  ts, false);
  return ts;
}

int32_t CurrentDate(bool UTC) {
  return int32_t(CurrentTimestamp(UTC) / MSecsPerDay);
}

int32_t CurrentTime(bool UTC) {
  return int32_t(CurrentTimestamp(UTC) % MSecsPerDay);
}

int32_t CurrentLocalYear() {
  TBRNDateParts parts;
  DecodeDayNumber(CurrentDate(false), parts);
  return parts.Year;
}

int32_t WeekdayOfDate(int32_t Day) {
  return int32_t(FloorMod(int64_t(Day) - 1, 7) + 1);
}

int32_t DayOfYearNumber(int32_t Day) {
  if (Day < 1) return 0;
  return int32_t(Day - DayNumberOf(DateOfDayNumber(Day).year, 1, 1) + 1);
}

int32_t LastDayOfMonth(int32_t Day) {
  if (Day < 1) return 0;
  // Counted within the month, so December 9999 needs no date after it.
  WideDate date = DateOfDayNumber(Day);
  return int32_t(Day - date.day + DaysInMonthWide(date.year, date.month));
}

int32_t ISOWeekOneStart(int32_t Year) {
  int64_t january1 = DayNumberOf(Year, 1, 1);
  int64_t monday = january1 + FloorMod(8 - WeekdayOfDate(int32_t(january1)), 7);
  if (monday > january1 + 3) monday -= 7;
  return int32_t(monday);
}

int32_t ISOWeekNumber(int32_t Day) {
  if (Day < 1) return 0;
  int32_t year = int32_t(DateOfDayNumber(Day).year);
  int32_t start = ISOWeekOneStart(year);
  int32_t base = start;
  int32_t next = ISOWeekOneStart(year + 1);
  if (Day >= next) {
    base = next;
  } else if (Day < start) {
    base = ISOWeekOneStart(year - 1);
  }
  int32_t f = Day - base + 1;
  return f / 7 + (f % 7 != 0 ? 1 : 0);
}

bool IsNthWeekdayOfMonth(int32_t Day, int32_t N, int32_t Weekday) {
  if (Day < 1 || N < 1 || N > 5 || Weekday < 1 || Weekday > 7) return false;
  WideDate date = DateOfDayNumber(Day);
  int64_t target;
  if (N == 5) {
    int64_t last = Day - date.day + DaysInMonthWide(date.year, date.month);
    target = last - FloorMod(WeekdayOfDate(int32_t(last)) - Weekday, 7);
  } else {
    int64_t first = Day - date.day + 1;
    target = first + FloorMod(Weekday - WeekdayOfDate(int32_t(first)), 7) + 7 * (N - 1);
  }
  return Day == target;
}

int64_t ElapsedSeconds(int64_t TS1, int64_t TS2) {
  return int64_t(uint64_t(TS1) - uint64_t(TS2)) / 1000;
}

std::string FormatElapsedTime(int64_t Seconds) {
  struct Unit {
    const char* word;
    int64_t seconds;
  };
  static constexpr Unit units[] = {{"Month", 2678400}, {"Week", 604800}, {"Day", 86400},
                                   {"Hour", 3600},     {"Minute", 60},   {"Second", 1}};
  std::string text;
  int64_t rest = Seconds;
  bool written = false;
  for (const Unit& unit : units) {
    int64_t count = rest / unit.seconds;
    rest %= unit.seconds;
    if (count == 0 && !written) continue;
    written = true;
    text += BigIntToString(count);
    text += ' ';
    text += unit.word;
    if (count != 1) text += 's';
    if (unit.seconds != 1) text += ',';
    text += ' ';
  }
  return text;
}

}  // namespace brn
