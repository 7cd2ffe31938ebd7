#pragma once

namespace brn {

// The platform's floating-point date: the whole part counts days from
// 1899-12-30 (day 0), the fraction is the time of day. Before day 0 the
// fraction is still a positive time, subtracted from the negative whole
// number: -1.25 is 1899-12-29 06:00. The engine's conversions to and from its
// own day numbers and timestamps are in foundation/date_time.h.
using TDateTime = double;

}  // namespace brn
