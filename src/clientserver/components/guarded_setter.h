#pragma once

#include <cstdint>
#include <string>

#include "foundation/text/collation.h"

namespace brn {

// The frame of the component setters whose value may not change while the
// component is active: an equal value changes nothing; otherwise check (which
// raises while the change is refused) runs first, then the value is stored.

template <typename T, typename Check>
void SetGuarded(T& field, const T& value, Check&& check) {
  if (field == value) return;
  check();
  field = value;
}

// Names compared ignoring case.
template <typename Check>
void SetGuardedText(std::string& field, const std::string& value, Check&& check) {
  if (TextEqualsIgnoreCase(field, value)) return;
  check();
  field = value;
}

// The value as given is compared; it is stored raised to minimum.
template <typename Check>
void SetGuardedAtLeast(int32_t& field, int32_t value, int32_t minimum, Check&& check) {
  if (field == value) return;
  check();
  field = value < minimum ? minimum : value;
}

}  // namespace brn
