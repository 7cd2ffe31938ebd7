#include "foundation/text/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace brn {

namespace {

[[noreturn]] void RaiseConvertError(std::string_view text, const char* kind) {
  throw EConvertError("'" + std::string(text) + "' is not a valid " + kind + " value");
}

// Strips one leading sign: "-" always, "+" when allowed.
bool TakeSign(std::string_view& text, bool allowPlus, bool& negative) {
  negative = false;
  if (text.empty()) return true;
  if (text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  } else if (text.front() == '+') {
    if (!allowPlus) return false;
    text.remove_prefix(1);
  }
  return true;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string IntegerToString(int32_t value) {
  return BigIntToString(value);
}

std::string BigIntToString(int64_t value) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;
  return std::string(buffer, end);
}

std::string ByteToHex(uint8_t value) {
  return std::string{HexDigits[value >> 4], HexDigits[value & 15]};
}

std::string IntegerToHex(int32_t value) {
  uint32_t bits = uint32_t(value);
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, bits >>= 4) text[i] = HexDigits[bits & 15];
  return text;
}

void AppendZeroPadded(std::string& text, uint64_t value, size_t width) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  (void)ec;
  size_t length = size_t(end - digits);
  if (length < width) text.append(width - length, '0');
  text.append(digits, length);
}

bool SignedFromMagnitude(bool negative, uint64_t magnitude, int64_t& value) {
  if (magnitude > (negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX))) return false;
  value = negative ? int64_t(uint64_t(0) - magnitude) : int64_t(magnitude);
  return true;
}

std::string CurrencyToString(int64_t value) {
  uint64_t magnitude = UnsignedMagnitude(value);
  std::string text = value < 0 ? "-" : "";
  AppendZeroPadded(text, magnitude / 10000, 1);
  if (uint64_t fraction = magnitude % 10000; fraction != 0) {
    text.push_back('.');
    AppendZeroPadded(text, fraction, 4);
    while (text.back() == '0') text.pop_back();
  }
  return text;
}

std::string FloatToString(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  // The correctly rounded 15 significant digits and the decimal exponent; the
  // layout is ours. Rounded to 15 digits, the doubles above the largest
  // 15-digit number below the double range would read back as an overflow:
  // those are written rounded toward zero instead.
  constexpr double largestFifteenDigits = 1.79769313486231e308;
  bool negative = std::signbit(value);
  std::string digits;
  int exponent = 308;
  if (std::fabs(value) > largestFifteenDigits) {
    digits = "179769313486231";
  } else {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                   std::chars_format::scientific, 14);
    (void)ec;
    std::string_view scientific(buffer, size_t(end - buffer));
    size_t ePos = scientific.find('e');
    for (char c : scientific.substr(0, ePos))
      if (c != '.') digits.push_back(c);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    exponent = std::atoi(std::string(scientific.substr(ePos + 1)).c_str());
  }

  std::string text;
  if (negative) text.push_back('-');
  if (exponent >= 15 || exponent < -5) {
    text.push_back(digits[0]);
    if (digits.size() > 1) {
      text.push_back('.');
      text.append(digits, 1);
    }
    text.push_back('E');
    text.append(std::to_string(exponent));
  } else if (exponent >= 0) {
    size_t integerDigits = size_t(exponent) + 1;
    if (digits.size() <= integerDigits) {
      text.append(digits);
      text.append(integerDigits - digits.size(), '0');
    } else {
      text.append(digits, 0, integerDigits);
      text.push_back('.');
      text.append(digits, integerDigits);
    }
  } else {
    text.append("0.");
    text.append(size_t(-exponent - 1), '0');
    text.append(digits);
  }
  return text;
}

std::string FormatByteSize(int64_t count) {
  if (count < 1024) return BigIntToString(count) + "B";
  int64_t unit;
  const char* suffix;
  if (count < 1048576) {
    unit = 1024;
    suffix = "KB";
  } else if (count < 1073741824) {
    unit = 1048576;
    suffix = "MB";
  } else if (count >= (int64_t(1) << 40)) {
    unit = int64_t(1) << 40;
    suffix = "TB";
  } else {
    unit = 1073741824;
    suffix = "GB";
  }
  // Hundredths of the unit, rounded half away from zero, without overflow:
  // the quotient is at most 2^23 and the remainder times 100 stays far below
  // the int64 range.
  int64_t hundredths = count / unit * 100 + (count % unit * 100 + unit / 2) / unit;
  return CurrencyToString(hundredths * 100) + suffix;
}

bool TryTextToBigInt(std::string_view text, bool allowPlus, int64_t& value) {
  value = 0;
  if (allowPlus && !text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  int64_t result = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  value = result;
  return true;
}

bool TryTextToCurrency(std::string_view text, bool allowPlus, int64_t& value) {
  value = 0;
  bool negative;
  if (!TakeSign(text, allowPlus, negative)) return false;
  uint64_t integerPart = 0;
  uint64_t fraction = 0;  // the first 4 decimals
  int fractionDigits = 0;
  bool roundUp = false, anyDigit = false, afterPoint = false;
  for (char c : text) {
    if (c == '.') {
      if (afterPoint) return false;
      afterPoint = true;
    } else if (IsDigit(c)) {
      anyDigit = true;
      unsigned digit = unsigned(c - '0');
      if (!afterPoint) {
        if (__builtin_mul_overflow(integerPart, 10u, &integerPart) ||
            __builtin_add_overflow(integerPart, digit, &integerPart))
          return false;
      } else if (fractionDigits < 4) {
        fraction = fraction * 10 + digit;
        ++fractionDigits;
      } else if (fractionDigits == 4) {
        roundUp = digit >= 5;
        ++fractionDigits;
      }
    } else {
      return false;
    }
  }
  if (!anyDigit) return false;
  for (; fractionDigits < 4; ++fractionDigits) fraction *= 10;
  uint64_t magnitude;
  if (__builtin_mul_overflow(integerPart, 10000u, &magnitude) ||
      __builtin_add_overflow(magnitude, fraction + (roundUp ? 1 : 0), &magnitude))
    return false;
  return SignedFromMagnitude(negative, magnitude, value);
}

bool TryTextToFloat(std::string_view text, bool allowPlus, double& value) {
  value = 0;
  std::string_view body = text;
  bool negative;
  if (!TakeSign(body, allowPlus, negative)) return false;
  // Checked by hand: the runtime parser would also take "inf", "nan" and
  // forms the engine does not write. On the way the decimal magnitude is
  // estimated, to tell an underflow from an overflow.
  size_t i = 0, mantissaDigits = 0;
  int64_t magnitude = 0;  // decimal exponent of the first significant digit
  bool point = false, significant = false;
  for (; i < body.size(); ++i) {
    char c = body[i];
    if (IsDigit(c)) {
      ++mantissaDigits;
      if (c != '0' && !significant) significant = true;
      if (significant && !point) ++magnitude;
      if (!significant && point) --magnitude;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return false;
  if (i < body.size()) {
    if (body[i] != 'E' && body[i] != 'e') return false;
    ++i;
    bool negativeExponent = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) negativeExponent = body[i++] == '-';
    size_t exponentStart = i;
    int64_t exponent = 0;
    for (; i < body.size() && IsDigit(body[i]); ++i)
      if (exponent < 100000) exponent = exponent * 10 + (body[i] - '0');
    if (i == exponentStart || i != body.size()) return false;
    magnitude += negativeExponent ? -exponent : exponent;
  }
  double result = 0;
  auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), result);
  if (end != body.data() + body.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Too small a magnitude reads as zero; too large a one is refused.
    if (magnitude > 0) return false;
    result = 0;
  } else if (ec != std::errc() || !std::isfinite(result)) {
    return false;
  }
  value = negative ? -result : result;
  return true;
}

int32_t StringToInteger(std::string_view text) {
  int64_t value;
  if (!TryTextToBigInt(text, true, value) || value < INT32_MIN || value > INT32_MAX)
    RaiseConvertError(text, "integer");
  return int32_t(value);
}

int64_t StringToBigInt(std::string_view text) {
  int64_t value;
  if (!TryTextToBigInt(text, true, value)) RaiseConvertError(text, "integer");
  return value;
}

int64_t StringToCurrency(std::string_view text) {
  int64_t value;
  if (!TryTextToCurrency(text, true, value)) RaiseConvertError(text, "floating point");
  return value;
}

double StringToFloat(std::string_view text) {
  double value;
  if (!TryTextToFloat(text, true, value)) RaiseConvertError(text, "floating point");
  return value;
}

namespace {

std::string ReplacePoint(std::string text, char decimalChar) {
  size_t point = text.find('.');
  if (point != std::string::npos) text[point] = decimalChar;
  return text;
}

}  // namespace

std::string FormatFloatWithSeparator(char decimalChar, double value) {
  return ReplacePoint(FloatToString(value), decimalChar);
}

std::string FormatDecimalWithSeparator(char decimalChar, int64_t value) {
  return ReplacePoint(CurrencyToString(value), decimalChar);
}

}  // namespace brn
