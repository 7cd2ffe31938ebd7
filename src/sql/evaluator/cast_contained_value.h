#pragma once

#include "foundation/values/contained_value.h"

namespace brn {

// The run-time value of a CAST whose target type has a declared length:
// character and byte data assigned to it is held to that length (cut
// silently when the owner clears RaiseOnTruncation, as the evaluator does).
// Threads: as TBRNContainedValue.
class TBRNCastContainedValue final : public TBRNContainedValue {
 public:
  bool EnforcesDeclaredLength() const override { return true; }
};

}  // namespace brn
