#pragma once

#include <cstdint>
#include <string>

#include "foundation/types/data_types.h"

namespace brn {

// The calendar of the engine. A DATE is a day number in the proleptic
// Gregorian calendar with 0001-01-01 as day 1 (day 0 and below are not
// dates); a TIME is milliseconds since midnight; a TIMESTAMP is a signed
// count of milliseconds: day number times 86400000 plus the time.
// Year-month intervals are months (int32), day-time intervals milliseconds
// (int64); their qualifier only says which fields they show.

inline constexpr int64_t MSecsPerDay = 86400000;
inline constexpr int32_t MaxDayNumber = 3652059;    // 9999-12-31
inline constexpr int32_t DateTimeBaseDay = 693594;  // 1899-12-30, day 0 of the platform date

struct TBRNDateParts {
  int32_t Year = 0;
  int32_t Month = 0;
  int32_t Day = 0;
};

struct TBRNTimeParts {
  int32_t Hour = 0;
  int32_t Minute = 0;
  int32_t Second = 0;
  int32_t MSecond = 0;
};

struct TBRNTimestampParts {
  int32_t Year = 0;
  int32_t Month = 0;
  int32_t Day = 0;
  int32_t Hour = 0;
  int32_t Minute = 0;
  int32_t Second = 0;
  int32_t MSecond = 0;
};

struct TBRNYearMonthParts {
  int32_t Years = 0;
  int32_t Months = 0;
};

// Every field is 64 bits wide: an interval of 2^62 ms has more than 2^31 days.
struct TBRNDayTimeParts {
  int64_t Days = 0;
  int64_t Hours = 0;
  int64_t Minutes = 0;
  int64_t Seconds = 0;
  int64_t MSeconds = 0;
};

// The platform's floating-point date: days since 1899-12-30, the fraction the
// time of day (subtracted from a negative whole number of days).
using TDateTime = double;

bool IsLeapYear(int32_t Year);
int32_t DaysInMonth(int32_t Year, int32_t Month);

// Conversions between forms.
int64_t DateToTimestamp(int32_t Day);
int64_t TimeToTimestamp(int32_t Time);
// The date part (division toward zero); 0 when it does not fit a day number.
int32_t TimestampToDate(int64_t TS);
int32_t TimestampToTime(int64_t TS);
int32_t DateToMonthNumber(int32_t Day);

// Day <= 0 decodes to all-zero parts.
void DecodeDayNumber(int32_t Day, TBRNDateParts& Parts);
void DecodeTimeOfDay(int32_t Time, TBRNTimeParts& Parts);
void DecodeTimestamp(int64_t TS, TBRNTimestampParts& Parts);
// The encoders return false with a result of 0 for invalid parts; ClampDay
// turns a day beyond the month's end into the month's last day.
bool EncodeDayNumber(const TBRNDateParts& Parts, int32_t& Day, bool ClampDay);
bool EncodeTimeOfDay(const TBRNTimeParts& Parts, int32_t& Time);
bool EncodeTimestamp(const TBRNTimestampParts& Parts, int64_t& TS, bool ClampDay);

// Splitting: the leading field of the qualifier takes the whole amount in its
// unit, each further field the remainder; fields outside the qualifier are 0
// (all of them under an invalid qualifier). Division truncates toward zero.
void SplitYearMonthInterval(int32_t Months, TBRNIntervalFields Qualifier,
                            TBRNYearMonthParts& Parts);
void SplitDayTimeInterval(TBRNIntervalFields Qualifier, TBRNDayTimeParts& Parts, int64_t MS);
// Joining; false (and 0) when the amount does not fit its integer.
bool CombineYearMonthInterval(const TBRNYearMonthParts& Parts, int32_t& Months);
bool CombineDayTimeInterval(const TBRNDayTimeParts& Parts, int64_t& MS);
// Split and combine under one qualifier: drops the part below its last field.
int32_t RequalifyYearMonthInterval(int32_t Months, TBRNIntervalFields Qualifier);
int64_t RequalifyDayTimeInterval(int64_t MS, TBRNIntervalFields Qualifier);

// Bring the fields of parts back into range after signed amounts were added
// (months and days into the calendar, time fields carried into days).
// NormalizeTimeParts neither wraps hours nor carries them into days.
void NormalizeDateParts(TBRNDateParts& Parts, bool ClampDay);
void NormalizeTimestampParts(TBRNTimestampParts& Parts, bool ClampDay);
void NormalizeTimeParts(TBRNTimeParts& Parts);

// The platform date. Non-finite numbers and numbers beyond the timestamp
// range convert to 0.
int64_t DateTimeToTimestampMs(TDateTime DateTime);
int32_t DateTimeToDayNumber(TDateTime DateTime);
int32_t DateTimeToTimeOfDay(TDateTime DateTime);
TDateTime TimestampMsToDateTime(int64_t TS);
TDateTime DayNumberToDateTime(int32_t Day);
TDateTime TimeOfDayToDateTime(int32_t Time);

// Arithmetic. Interval arguments are the stored amount with its qualifier.
// A DATE or TIMESTAMP result outside 0001-01-01..9999-12-31 (or a date
// operand that is not a date) raises the conversion error 1011, as does an
// interval result that does not fit its integer. TIME arithmetic wraps
// around midnight: a time of day is a position on a 24-hour clock.
int32_t AddYearMonthIntervalToDate(int32_t Day, int32_t Months, TBRNIntervalFields Qualifier);
int32_t SubtractYearMonthIntervalFromDate(int32_t Day, int32_t Months,
                                          TBRNIntervalFields Qualifier);
int64_t AddYearMonthIntervalToTimestamp(int32_t Months, TBRNIntervalFields Qualifier, int64_t TS);
int64_t SubtractYearMonthIntervalFromTimestamp(int32_t Months, TBRNIntervalFields Qualifier,
                                               int64_t TS);
int32_t AddDayTimeIntervalToTime(int32_t Time, TBRNIntervalFields Qualifier, int64_t MS);
int32_t SubtractDayTimeIntervalFromTime(int32_t Time, TBRNIntervalFields Qualifier, int64_t MS);
int64_t AddDayTimeIntervalToTimestamp(TBRNIntervalFields Qualifier, int64_t MS, int64_t TS);
int64_t SubtractDayTimeIntervalFromTimestamp(TBRNIntervalFields Qualifier, int64_t MS, int64_t TS);
int64_t DateDifferenceDayTime(int32_t Day1, int32_t Day2, TBRNIntervalFields Qualifier);
int32_t DateDifferenceYearMonth(int32_t Day1, int32_t Day2, TBRNIntervalFields Qualifier);
int64_t TimeDifference(int32_t Time1, int32_t Time2, TBRNIntervalFields Qualifier);
int64_t TimestampDifference(TBRNIntervalFields Qualifier, int64_t TS1, int64_t TS2);
// Scaling applies to the single field of the qualifier; Divisor is never 0.
int32_t MultiplyYearMonthInterval(int32_t Months, TBRNIntervalFields Qualifier, int64_t Factor);
int32_t DivideYearMonthInterval(int32_t Months, TBRNIntervalFields Qualifier, int64_t Divisor);
int64_t MultiplyDayTimeInterval(TBRNIntervalFields Qualifier, int64_t MS, int64_t Factor);
int64_t DivideDayTimeInterval(TBRNIntervalFields Qualifier, int64_t MS, int64_t Divisor);

// The system clock, in UTC when asked, else in local time.
int32_t CurrentDate(bool UTC);
int32_t CurrentTime(bool UTC);
int64_t CurrentTimestamp(bool UTC);
int32_t CurrentLocalYear();

// Calendar helpers for job schedules and date functions.
int32_t WeekdayOfDate(int32_t Day);  // 1 Monday .. 7 Sunday
int32_t DayOfYearNumber(int32_t Day);
int32_t LastDayOfMonth(int32_t Day);
int32_t ISOWeekOneStart(int32_t Year);  // the Monday of the week holding January 4
int32_t ISOWeekNumber(int32_t Day);
// N 1..4: the Nth Weekday of Day's month; N 5: the last one.
bool IsNthWeekdayOfMonth(int32_t Day, int32_t N, int32_t Weekday);
int64_t ElapsedSeconds(int64_t TS1, int64_t TS2);
// "1 Day, 1 Hour, 1 Minute, 1 Second " for 90061.
std::string FormatElapsedTime(int64_t Seconds);

}  // namespace brn
