#pragma once

#include <cstdint>

namespace brn {

// How a job repeats: the ScheduleType of a job and the Variant of a job
// statement's schedule clause. Job records store the codes, so they never
// change.
enum TBRNJobScheduleKind : uint8_t {
  jsOnce = 0,           // ONCE
  jsDaily = 1,          // DAILY [ON days]
  jsWeekly = 2,         // WEEKLY ON days
  jsMonthly = 3,        // MONTHLY ON (DAY n | [ordinal] weekday) OF months
  jsEveryXDays = 4,     // EVERY n DAYS
  jsEveryXWeeks = 5,    // EVERY n WEEKS ON days
  jsHourly = 6,         // HOURLY [ON days]
  jsEveryXHours = 7,    // EVERY n HOURS [ON days]
  jsEveryXMinutes = 8,  // EVERY n MINUTES [ON days]
};

}  // namespace brn
