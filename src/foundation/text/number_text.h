#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace brn {

// The runtime's conversion error, raised by the StringTo... conversions when
// the text is not a number of the expected kind or range.
class EConvertError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Number text of the runtime. Every form uses "." as the decimal point, never
// the process locale, so that text written on one machine reads on any other.

// Decimal text of integers.
std::string IntegerToString(int32_t value);
std::string BigIntToString(int64_t value);

// Upper-case hexadecimal: 2 digits for a byte, 8 digits (two's complement) for
// an int32.
std::string ByteToHex(uint8_t value);
std::string IntegerToHex(int32_t value);
// The upper-case hexadecimal digit of each value 0..15.
inline constexpr char HexDigits[] = "0123456789ABCDEF";

// The decimal digits of value appended to text, with zeros in front up to
// width digits.
void AppendZeroPadded(std::string& text, uint64_t value, size_t width);

// The magnitude of an int64 without a sign; exact for the smallest one too.
inline uint64_t UnsignedMagnitude(int64_t value) {
  return value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
}
// The int64 of a sign and a magnitude; false (value untouched) when it does
// not fit.
bool SignedFromMagnitude(bool negative, uint64_t magnitude, int64_t& value);

// A currency (decimal) is an int64 scaled by 10000; its text has at most 4
// decimals, trailing zeros (and a bare point) dropped: 15000 is "1.5".
std::string CurrencyToString(int64_t value);

// General float text: 15 significant digits (correctly rounded, trailing
// zeros dropped), in exponent form ("1.5E20", "1E-7") when the magnitude is
// 1E15 or more or below 1E-5. Every finite double's text reads back as a
// finite double, and a text read back writes the same text again.
std::string FloatToString(double value);

// A byte count with its unit: "512B", "1.5KB", "2MB", "1.25GB", "3TB"
// (quotient rounded half away from zero to 2 decimals, trailing zeros dropped).
std::string FormatByteSize(int64_t count);

// Raw conversions of trusted text; they raise EConvertError on bad text or a
// value out of range. Integers take an optional sign and digits; currencies
// additionally one "." (decimals beyond 4 are rounded half away from zero);
// floats also take an exponent.
int32_t StringToInteger(std::string_view text);
int64_t StringToBigInt(std::string_view text);
int64_t StringToCurrency(std::string_view text);
double StringToFloat(std::string_view text);

// The non-raising cores of the conversions above, shared with the literal
// readers: false (and value 0) on bad text or a value out of range. A
// leading "+" is taken only when allowPlus is set; a float magnitude too
// small for a double reads as 0.
bool TryTextToBigInt(std::string_view text, bool allowPlus, int64_t& value);
bool TryTextToCurrency(std::string_view text, bool allowPlus, int64_t& value);
bool TryTextToFloat(std::string_view text, bool allowPlus, double& value);

// The runtime text with its decimal point replaced by decimalChar.
std::string FormatFloatWithSeparator(char decimalChar, double value);
std::string FormatDecimalWithSeparator(char decimalChar, int64_t value);

}  // namespace brn
