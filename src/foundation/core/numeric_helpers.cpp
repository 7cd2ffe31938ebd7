#include "foundation/core/numeric_helpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace brn {

long double FloatArcCos(long double x) {
  return std::acos(x);
}
long double FloatArcSin(long double x) {
  return std::asin(x);
}
long double FloatArcTan2(long double y, long double x) {
  return std::atan2(y, x);
}
long double FloatTangent(long double x) {
  return std::tan(x);
}

long double FloatCotangent(long double x) {
  long double tangent = std::tan(x);
  if (tangent == 0) throw std::domain_error("Cotangent of a zero tangent");
  return 1 / tangent;
}

long double RadiansToDegrees(long double x) {
  return x * 57.295779513082320877L;
}
long double DegreesToRadians(long double x) {
  return x * 0.017453292519943295769L;
}
long double FloatLog10(long double x) {
  return std::log10(x);
}
long double FloatPower(long double base, long double exponent) {
  return std::pow(base, exponent);
}

namespace {

int32_t ToInt32Checked(long double whole) {
  // Also false for NaN.
  if (!(whole >= std::numeric_limits<int32_t>::min() &&
        whole <= std::numeric_limits<int32_t>::max())) {
    throw std::out_of_range("Value out of the INTEGER range");
  }
  return int32_t(whole);
}

// 10^decimals, exact in extended precision for 0..20.
long double PowerOfTen(int32_t decimals) {
  long double power = 1;
  for (int32_t i = 0; i < decimals; ++i) power *= 10;
  return power;
}

}  // namespace

int32_t FloatCeiling(long double x) {
  return ToInt32Checked(std::ceil(x));
}
int32_t FloatFloor(long double x) {
  return ToInt32Checked(std::floor(x));
}

long double RoundFloat(long double x, int32_t decimals) {
  if (x == 0) return 0;
  long double power = PowerOfTen(std::clamp(decimals, 0, 20));
  long double half = x > 0 ? 0.5L : -0.5L;
  return std::trunc(x * power + half) / power;
}

long double TruncateFloat(long double x, int32_t decimals) {
  if (x == 0) return 0;
  long double power = PowerOfTen(std::clamp(decimals, 0, 20));
  return std::trunc(x * power) / power;
}

namespace {

// The unit a decimal is cut or rounded to: 10^(4 - decimals) in stored form.
int64_t CurrencyUnit(int32_t decimals) {
  int64_t unit = 1;
  for (int32_t i = std::max(decimals, 0); i < 4; ++i) unit *= 10;
  return unit;
}

int64_t CheckedCurrency(__int128 value) {
  if (value > std::numeric_limits<int64_t>::max() || value < std::numeric_limits<int64_t>::min()) {
    throw std::overflow_error("Decimal value out of range");
  }
  return int64_t(value);
}

}  // namespace

int64_t RoundCurrency(int64_t value, int32_t decimals) {
  if (value == 0 || decimals > 3) return value;
  int64_t unit = CurrencyUnit(decimals);
  __int128 shifted = __int128(value) + (value > 0 ? unit / 2 : -unit / 2);
  return CheckedCurrency(shifted / unit * unit);
}

int64_t TruncateCurrency(int64_t value, int32_t decimals) {
  if (value == 0 || decimals > 3) return value;
  int64_t unit = CurrencyUnit(decimals);
  return value / unit * unit;
}

int32_t CompareByteBuffers(const void* a, int32_t lengthA, const void* b, int32_t lengthB) {
  int32_t common = std::max(std::min(lengthA, lengthB), 0);
  int result = common > 0 ? std::memcmp(a, b, size_t(common)) : 0;
  if (result != 0) return result < 0 ? -1 : 1;
  return lengthA < lengthB ? -1 : lengthA > lengthB ? 1 : 0;
}

int32_t CompareBytes(const TBRNBytes& a, const TBRNBytes& b) {
  return CompareByteBuffers(a.data(), BytesLength(a), b.data(), BytesLength(b));
}

namespace {

void CheckElementRange(size_t length, int32_t index, int32_t count) {
  if (index < 0 || size_t(index) + size_t(count) > length) {
    throw std::out_of_range("Range beyond the array");
  }
}

template <typename T>
void ZeroElements(T* elements, size_t length, int32_t index, int32_t count) {
  if (count <= 0 || length == 0) return;
  CheckElementRange(length, index, count);
  std::memset(elements + index, 0, size_t(count) * sizeof(T));
}

}  // namespace

void CopyBytes(const void* source, int32_t sourceOffset, TBRNBytes& dest, int32_t count,
               int32_t destOffset) {
  if (count <= 0 || dest.empty()) return;
  CheckElementRange(dest.size(), destOffset, count);
  std::memmove(dest.data() + destOffset, static_cast<const uint8_t*>(source) + sourceOffset,
               size_t(count));
}

void ZeroBytes(uint8_t* bytes, size_t length, int32_t index, int32_t count) {
  ZeroElements(bytes, length, index, count);
}

void ZeroBytes(TBRNBytes& bytes, int32_t index, int32_t count) {
  ZeroElements(bytes.data(), bytes.size(), index, count);
}

void ZeroWords(uint16_t* words, size_t length, int32_t index, int32_t count) {
  ZeroElements(words, length, index, count);
}

void ZeroLongWords(uint32_t* longWords, size_t length, int32_t index, int32_t count) {
  ZeroElements(longWords, length, index, count);
}

uint32_t HashInteger(int32_t key) {
  constexpr uint32_t m = 0x5BD1E995;
  uint32_t k = uint32_t(key) * m;
  k ^= k >> 24;
  k *= m;
  uint32_t h = (0xC58F1A7Fu * m) ^ k;
  h ^= h >> 13;
  h *= m;
  h ^= h >> 15;
  return h;
}

}  // namespace brn
