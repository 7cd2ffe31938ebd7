#include "platform/bcd.h"

#include <cstdint>

namespace brn {

namespace {

constexpr uint8_t SignBit = 0x80;
constexpr uint8_t PlacesMask = 0x3F;

uint8_t Nibble(const TBcd& bcd, int32_t index) {
  uint8_t b = bcd.Fraction[index / 2];
  return (index % 2 == 0) ? uint8_t(b >> 4) : uint8_t(b & 0x0F);
}

void SetNibble(TBcd& bcd, int32_t index, uint8_t digit) {
  uint8_t& b = bcd.Fraction[index / 2];
  b = (index % 2 == 0) ? uint8_t((b & 0x0F) | (digit << 4)) : uint8_t((b & 0xF0) | digit);
}

}  // namespace

bool CurrencyToBcd(int64_t scaled, TBcd& bcd, int32_t precision, int32_t decimals) {
  if (precision < 1 || precision > MaxBcdPrecision || decimals < 0 || decimals > 4 ||
      decimals > precision)
    return false;
  bool negative = scaled < 0;
  // The magnitude in unsigned arithmetic, so that the smallest int64 has one.
  uint64_t magnitude = negative ? 0 - uint64_t(scaled) : uint64_t(scaled);
  uint64_t unit = 1;
  for (int32_t i = decimals; i < 4; ++i) unit *= 10;
  uint64_t digits = magnitude / unit;
  if (unit > 1 && magnitude % unit >= unit / 2) ++digits;
  bcd = TBcd{};
  bcd.Precision = uint8_t(precision);
  bcd.SignSpecialPlaces = uint8_t(decimals);
  if (negative && digits != 0) bcd.SignSpecialPlaces |= SignBit;
  for (int32_t index = precision - 1; index >= 0; --index) {
    SetNibble(bcd, index, uint8_t(digits % 10));
    digits /= 10;
  }
  return digits == 0;
}

bool BcdToCurrency(const TBcd& bcd, int64_t& scaled) {
  scaled = 0;
  int32_t precision = bcd.Precision;
  int32_t places = bcd.SignSpecialPlaces & PlacesMask;
  if (precision > MaxBcdPrecision || places > precision) return false;
  bool negative = (bcd.SignSpecialPlaces & SignBit) != 0;
  // The largest magnitude that still fits: 2^63 for a negative value.
  const uint64_t limit = negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
  uint64_t magnitude = 0;
  int32_t wholeDigits = precision - places;
  // Digits down to the fourth decimal, each multiplying what came before.
  int32_t lastDigit = wholeDigits + 4;
  for (int32_t index = 0; index < lastDigit; ++index) {
    uint8_t digit = 0;
    if (index < precision) {
      digit = Nibble(bcd, index);
      if (digit > 9) return false;
    }
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  for (int32_t index = lastDigit; index < precision; ++index)
    if (Nibble(bcd, index) > 9) return false;
  // A fifth decimal of 5 or more rounds the magnitude up: half away from zero.
  if (lastDigit < precision && Nibble(bcd, lastDigit) >= 5) {
    if (magnitude == limit) return false;
    ++magnitude;
  }
  scaled = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
  return true;
}

}  // namespace brn
