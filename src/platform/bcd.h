#pragma once

#include <cstdint>

namespace brn {

// The platform's BCD record: Precision digits packed two to a byte (high
// nibble first) in Fraction, of which the last Places (bits 0-5 of
// SignSpecialPlaces) are decimals; bit 7 of SignSpecialPlaces is the sign.
struct TBcd {
  uint8_t Precision = 0;
  uint8_t SignSpecialPlaces = 0;
  uint8_t Fraction[32] = {};
};

inline constexpr int32_t MaxBcdPrecision = 64;

// A decimal (int64 scaled by 10000) as a BCD of the given precision
// (1..64) and decimals (0..4; the value is rounded half away from zero to
// them). false when the digits do not fit the precision.
bool CurrencyToBcd(int64_t scaled, TBcd& bcd, int32_t precision, int32_t decimals);
// The BCD as a decimal scaled by 10000, decimals beyond 4 rounded half away
// from zero. false for a malformed record (precision beyond 64, places beyond
// the precision, a nibble above 9) or a value beyond the int64 range.
bool BcdToCurrency(const TBcd& bcd, int64_t& scaled);

}  // namespace brn
