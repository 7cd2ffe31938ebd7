// Calendar arithmetic against step-by-step references: decoding a day number
// by walking 400-year cycles and months, and adding a day-time interval by
// carrying one unit at a time.
#include <benchmark/benchmark.h>

#include "foundation/types/date_time.h"

namespace {

using namespace brn;

int MonthLength(int year, int month) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : lengths[month - 1];
}

TBRNDateParts ReferenceDecode(int32_t day) {
  int32_t n = day - 1;
  int32_t year = 1;
  while (n > 146096) {
    year += 400;
    n -= 146097;
  }
  int32_t c = n / 36524;
  n %= 36524;
  if (c == 4) {
    c = 3;
    n += 36524;
  }
  year += 100 * c;
  year += 4 * (n / 1461);
  n %= 1461;
  int32_t y = n / 365;
  n %= 365;
  if (y == 4) {
    y = 3;
    n += 365;
  }
  year += y;
  int32_t month = 1;
  while (n >= MonthLength(year, month)) n -= MonthLength(year, month++);
  return {year, month, n + 1};
}

// Adds the fields one by one and carries with loops, one unit per step.
int64_t ReferenceAddMs(int64_t ts, int64_t ms) {
  TBRNTimestampParts p;
  DecodeTimestamp(ts, p);
  int64_t msecond = p.MSecond + ms;
  int64_t second = p.Second, minute = p.Minute, hour = p.Hour, day = p.Day;
  int32_t month = p.Month, year = p.Year;
  while (msecond > 999) msecond -= 1000, ++second;
  while (second > 59) second -= 60, ++minute;
  while (minute > 59) minute -= 60, ++hour;
  while (hour > 23) hour -= 24, ++day;
  while (day > MonthLength(year, month)) {
    day -= MonthLength(year, month);
    if (++month > 12) month = 1, ++year;
  }
  int64_t result = 0;
  EncodeTimestamp({year, month, int32_t(day), int32_t(hour), int32_t(minute), int32_t(second),
                   int32_t(msecond)},
                  result, true);
  return result;
}

void BM_DecodeDayNumber(benchmark::State& state) {
  int32_t day = 1;
  for (auto _ : state) {
    TBRNDateParts parts;
    DecodeDayNumber(day, parts);
    benchmark::DoNotOptimize(parts);
    day = day % MaxDayNumber + 7919;
  }
}
BENCHMARK(BM_DecodeDayNumber);

void BM_DecodeDayNumberReference(benchmark::State& state) {
  int32_t day = 1;
  for (auto _ : state) {
    TBRNDateParts parts = ReferenceDecode(day);
    benchmark::DoNotOptimize(parts);
    day = day % MaxDayNumber + 7919;
  }
}
BENCHMARK(BM_DecodeDayNumberReference);

// Arg: the interval in milliseconds (2 hours, 36 hours, 1000 days).
void BM_AddDayTimeInterval(benchmark::State& state) {
  int64_t ts = DateToTimestamp(738945) + 3600000;
  for (auto _ : state)
    benchmark::DoNotOptimize(AddDayTimeIntervalToTimestamp(ifMSecond, state.range(0), ts));
}
BENCHMARK(BM_AddDayTimeInterval)->Arg(7200000)->Arg(129600000)->Arg(86400000000);

void BM_AddDayTimeIntervalReference(benchmark::State& state) {
  int64_t ts = DateToTimestamp(738945) + 3600000;
  for (auto _ : state) benchmark::DoNotOptimize(ReferenceAddMs(ts, state.range(0)));
}
BENCHMARK(BM_AddDayTimeIntervalReference)->Arg(7200000)->Arg(129600000)->Arg(86400000000);

}  // namespace
