#pragma once

#include <cstdint>
#include <stdexcept>

namespace brn {

inline int32_t MinInteger(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t MaxInteger(int32_t a, int32_t b) { return a > b ? a : b; }
inline int64_t MinInt64(int64_t a, int64_t b) { return a < b ? a : b; }
inline int64_t MaxInt64(int64_t a, int64_t b) { return a > b ? a : b; }

// Frees an owned object; the reference is cleared before the object is
// destroyed, so code running during the destruction already sees nil.
template <typename T>
void DisposeAndNil(T*& ref) {
  T* object = ref;
  ref = nullptr;
  delete object;
}

// Every capacity in the engine grows in fixed steps: value rounded up to a
// multiple of step (value >= 0, step > 0).
inline int32_t RoundUpToMultiple(int32_t value, int32_t step) {
  if (value < 0 || step <= 0) throw std::invalid_argument("RoundUpToMultiple: invalid argument");
  int64_t rest = value % step;
  int64_t rounded = rest == 0 ? value : int64_t(value) - rest + step;
  if (rounded > INT32_MAX) throw std::length_error("RoundUpToMultiple: capacity too large");
  return int32_t(rounded);
}

}  // namespace brn
