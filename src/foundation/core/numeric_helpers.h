#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "foundation/core/bytes.h"

namespace brn {

inline int32_t MinInteger(int32_t a, int32_t b) {
  return a < b ? a : b;
}
inline int32_t MaxInteger(int32_t a, int32_t b) {
  return a > b ? a : b;
}
inline int64_t MinInt64(int64_t a, int64_t b) {
  return a < b ? a : b;
}
// true when the double converts to int64 without leaving its range (false
// for NaN): checked before every float-to-integer conversion.
inline bool FloatFitsBigInt(double x) {
  return x >= -9223372036854775808.0 && x < 9223372036854775808.0;
}

inline int64_t MaxInt64(int64_t a, int64_t b) {
  return a > b ? a : b;
}

// Floating-point helpers behind the SQL numeric functions, in extended
// precision.
long double FloatArcCos(long double x);
long double FloatArcSin(long double x);
// The angle of the point (x, y) in radians, by quadrant.
long double FloatArcTan2(long double y, long double x);
long double FloatTangent(long double x);
// 1 / tangent; throws std::domain_error where the tangent is zero (COT turns
// that into NULL).
long double FloatCotangent(long double x);
long double RadiansToDegrees(long double x);
long double DegreesToRadians(long double x);
long double FloatLog10(long double x);
long double FloatPower(long double base, long double exponent);
// Smallest / largest int32 not below / above x; throws std::out_of_range
// when that integer does not fit (or x is NaN).
int32_t FloatCeiling(long double x);
int32_t FloatFloor(long double x);
// x rounded half away from zero / cut toward zero to decimals places
// (0..20; fewer counts as 0, more as 20).
long double RoundFloat(long double x, int32_t decimals);
long double TruncateFloat(long double x, int32_t decimals);
// A decimal held as value x 10000, rounded half away from zero / cut toward
// zero to decimals places; 4 and more leave it unchanged. A result beyond the
// decimal range throws std::overflow_error.
int64_t RoundCurrency(int64_t value, int32_t decimals);
int64_t TruncateCurrency(int64_t value, int32_t decimals);

// Frees an owned object; the reference is cleared before the object is
// destroyed, so code running during the destruction already sees nullptr.
template <typename T>
void DisposeAndNil(T*& ref) {
  T* object = ref;
  ref = nullptr;
  delete object;
}

inline int32_t BytesLength(const TBRNBytes& bytes) {
  return int32_t(bytes.size());
}
// Unsigned byte order over the common length, then the shorter range first:
// -1, 0 or 1.
int32_t CompareByteBuffers(const void* a, int32_t lengthA, const void* b, int32_t lengthB);
int32_t CompareBytes(const TBRNBytes& a, const TBRNBytes& b);
// Copies count bytes from source + sourceOffset into dest from destOffset;
// nothing when count <= 0 or dest is empty. The target range must lie inside
// dest (else std::out_of_range).
void CopyBytes(const void* source, int32_t sourceOffset, TBRNBytes& dest, int32_t count,
               int32_t destOffset);
// Zero count elements from index; nothing when count <= 0 or the array is
// empty. The range must lie inside the array (else std::out_of_range).
void ZeroBytes(uint8_t* bytes, size_t length, int32_t index, int32_t count);
void ZeroBytes(TBRNBytes& bytes, int32_t index, int32_t count);
void ZeroWords(uint16_t* words, size_t length, int32_t index, int32_t count);
void ZeroLongWords(uint32_t* longWords, size_t length, int32_t index, int32_t count);

// Every capacity in the engine grows in fixed steps: value rounded up to a
// multiple of step (value >= 0, step > 0).
inline int32_t RoundUpToMultiple(int32_t value, int32_t step) {
  if (value < 0 || step <= 0) throw std::invalid_argument("RoundUpToMultiple: invalid argument");
  int64_t rest = value % step;
  int64_t rounded = rest == 0 ? value : int64_t(value) - rest + step;
  if (rounded > INT32_MAX) throw std::length_error("RoundUpToMultiple: capacity too large");
  return int32_t(rounded);
}

// The 32-bit hash of the block cache: MurmurHash2 of the four little-endian
// bytes of key.
uint32_t HashInteger(int32_t key);

}  // namespace brn
