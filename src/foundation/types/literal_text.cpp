#include "foundation/types/literal_text.h"

#include <charconv>

#include "foundation/text/collation.h"
#include "foundation/types/date_time.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

// head = the text before the first separator, text = the text after it;
// false (and head = text, text empty) when there is no separator.
bool SplitAt(std::string_view& text, char separator, std::string_view& head) {
  size_t pos = text.find(separator);
  if (pos == std::string_view::npos) {
    head = text;
    text = {};
    return false;
  }
  head = text.substr(0, pos);
  text.remove_prefix(pos + 1);
  return true;
}

// An unsigned integer text: one or more digits, no sign.
bool DigitsPart(std::string_view text, uint64_t& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// An unsigned integer part that must fit an int32 field of the parts records.
bool Int32Part(std::string_view text, int32_t& value) {
  uint64_t v;
  if (!DigitsPart(text, v) || v > INT32_MAX) return false;
  value = int32_t(v);
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The fields of a day-time qualifier, from the leading one down.
struct DayTimeField {
  TBRNIntervalFields field;
  uint64_t unit;
};
constexpr DayTimeField dayTimeFields[] = {
    {ifDay, 86400000}, {ifHour, 3600000}, {ifMinute, 60000}, {ifSecond, 1000}, {ifMSecond, 1}};

char SeparatorBefore(TBRNIntervalFields field) {
  if (field == ifHour) return ' ';
  if (field == ifMSecond) return '.';
  return ':';
}

}  // namespace

// --- BigInt ---

bool ParseBigIntLiteral(std::string_view text, int64_t& value) {
  return TryTextToBigInt(text, false, value);
}

bool IsBigIntLiteral(std::string_view text) {
  int64_t value;
  return ParseBigIntLiteral(text, value);
}

bool IsIntegerLiteral(std::string_view text, bool allowNegative) {
  int64_t value;
  return ParseBigIntLiteral(text, value) && value <= INT32_MAX &&
         value >= (allowNegative ? int64_t(INT32_MIN) : 0);
}

// --- Bytes ---

std::string FormatBytesLiteral(std::span<const uint8_t> bytes) {
  std::string text(bytes.size() * 2, '0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    text[2 * i] = HexDigits[bytes[i] >> 4];
    text[2 * i + 1] = HexDigits[bytes[i] & 15];
  }
  return text;
}

bool ParseBytesLiteral(std::string_view text, TBRNBytes& bytes) {
  bytes.clear();
  if (text.size() % 2 != 0) return false;
  TBRNBytes result(text.size() / 2);
  for (size_t i = 0; i < result.size(); ++i) {
    int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    result[i] = uint8_t(high << 4 | low);
  }
  bytes = std::move(result);
  return true;
}

// --- Date ---

std::string FormatDateLiteral(int32_t day) {
  TBRNDateParts parts;
  DecodeDayNumber(day, parts);
  std::string text;
  AppendZeroPadded(text, uint32_t(parts.Year), 4);
  text.push_back('-');
  AppendZeroPadded(text, uint32_t(parts.Month), 2);
  text.push_back('-');
  AppendZeroPadded(text, uint32_t(parts.Day), 2);
  return text;
}

bool ParseDateLiteral(std::string_view text, int32_t& day) {
  day = 0;
  std::string_view rest = TrimBlanksView(text), year, month;
  if (!SplitAt(rest, '-', year) || !SplitAt(rest, '-', month)) return false;
  TBRNDateParts parts;
  if (!Int32Part(year, parts.Year) || !Int32Part(month, parts.Month) || !Int32Part(rest, parts.Day))
    return false;
  return EncodeDayNumber(parts, day, false);
}

bool IsDateLiteral(std::string_view text) {
  int32_t day;
  return ParseDateLiteral(text, day);
}

// --- Time ---

std::string FormatTimeLiteral(int32_t ms, bool use24Hour) {
  TBRNTimeParts parts;
  DecodeTimeOfDay(ms < 0 ? 0 : ms, parts);
  bool pm = parts.Hour >= 12;
  int32_t hour = parts.Hour;
  if (!use24Hour) hour = hour == 0 ? 12 : (pm ? hour - 12 : hour);
  std::string text;
  AppendZeroPadded(text, uint32_t(hour), 2);
  text.push_back(':');
  AppendZeroPadded(text, uint32_t(parts.Minute), 2);
  if (parts.Second != 0 || parts.MSecond != 0) {
    text.push_back(':');
    AppendZeroPadded(text, uint32_t(parts.Second), 2);
    if (parts.MSecond != 0) {
      text.push_back('.');
      AppendZeroPadded(text, uint32_t(parts.MSecond), 3);
    }
  }
  if (!use24Hour) text.append(pm ? " PM" : " AM");
  return text;
}

bool ParseTimeLiteral(std::string_view text, int32_t& ms) {
  ms = 0;
  std::string_view rest = TrimBlanksView(text), hours, minutes, seconds, mseconds;
  // Missing parts count as 0, but a text without any part is no time.
  if (rest.empty()) return false;
  SplitAt(rest, ':', hours);
  if (rest.find(':') == std::string_view::npos) {
    SplitAt(rest, ' ', minutes);
  } else {
    SplitAt(rest, ':', minutes);
    if (rest.find('.') != std::string_view::npos) {
      SplitAt(rest, '.', seconds);
      SplitAt(rest, ' ', mseconds);
    } else {
      SplitAt(rest, ' ', seconds);
    }
  }
  // The digits after the point are a count of milliseconds.
  TBRNTimeParts parts;
  if ((!hours.empty() && !Int32Part(hours, parts.Hour)) ||
      (!minutes.empty() && !Int32Part(minutes, parts.Minute)) ||
      (!seconds.empty() && !Int32Part(seconds, parts.Second)) ||
      (!mseconds.empty() && !Int32Part(mseconds, parts.MSecond)))
    return false;
  // No hour beyond 23 becomes valid through AM or PM, and adding 12 to a
  // larger one would overflow.
  if (parts.Hour > 23) return false;
  if (TextEqualsIgnoreCase(rest, "AM")) {
    if (parts.Hour == 12) parts.Hour = 0;
  } else if (TextEqualsIgnoreCase(rest, "PM")) {
    if (parts.Hour != 12) parts.Hour += 12;
  } else if (!rest.empty()) {
    return false;
  }
  return EncodeTimeOfDay(parts, ms);
}

bool IsTimeLiteral(std::string_view text) {
  int32_t ms;
  return ParseTimeLiteral(text, ms);
}

// --- Timestamp ---

std::string FormatTimestampLiteral(bool use24Hour, int64_t value) {
  return FormatDateLiteral(TimestampToDate(value)) + " " +
         FormatTimeLiteral(TimestampToTime(value), use24Hour);
}

bool ParseTimestampLiteral(std::string_view text, int64_t& value) {
  value = 0;
  std::string_view rest = TrimBlanksView(text), datePart;
  SplitAt(rest, ' ', datePart);
  int32_t day, time = 0;
  if (datePart.empty() || !ParseDateLiteral(datePart, day)) return false;
  if (!rest.empty() && !ParseTimeLiteral(rest, time)) return false;
  value = DateToTimestamp(day) + time;
  return true;
}

bool IsTimestampLiteral(std::string_view text) {
  int64_t value;
  return ParseTimestampLiteral(text, value);
}

// --- Year-month interval ---

// A negative amount is written with "-" in front even when its leading field
// is 0 (minus 6 months is -0-06): without it the sign would be lost.
std::string FormatYearMonthIntervalLiteral(int32_t months, TBRNIntervalFields qualifier) {
  uint64_t magnitude = UnsignedMagnitude(months);
  std::string text = months < 0 ? "-" : "";
  switch (qualifier) {
    case ifMonth:
      AppendZeroPadded(text, magnitude, 1);
      break;
    case ifYear:
      if (magnitude < 12) text.clear();  // no whole year: 0, without a sign
      AppendZeroPadded(text, magnitude / 12, 1);
      break;
    case ifYear | ifMonth:
      AppendZeroPadded(text, magnitude / 12, 1);
      text.push_back('-');
      AppendZeroPadded(text, magnitude % 12, 2);
      break;
    default:
      text.clear();
  }
  return text;
}

bool ParseYearMonthIntervalLiteral(std::string_view text, TBRNIntervalFields qualifier,
                                   int32_t& months) {
  months = 0;
  std::string_view rest = TrimBlanksView(text);
  // The sign is taken from the text, so that -0-06 keeps its sign.
  bool negative = !rest.empty() && rest.front() == '-';
  if (negative) rest.remove_prefix(1);
  uint64_t magnitude;
  switch (qualifier) {
    case ifMonth:
      if (!DigitsPart(rest, magnitude)) return false;
      break;
    case ifYear:
      if (!DigitsPart(rest, magnitude) || magnitude > uint64_t(INT32_MAX) + 1) return false;
      magnitude *= 12;
      break;
    case ifYear | ifMonth: {
      std::string_view years;
      uint64_t y, m;
      if (!SplitAt(rest, '-', years) || !DigitsPart(years, y) || !DigitsPart(rest, m) ||
          y > uint64_t(INT32_MAX) + 1 || m > uint64_t(INT32_MAX) + 1)
        return false;
      magnitude = y * 12 + m;
      break;
    }
    default:
      return false;
  }
  if (magnitude > (negative ? uint64_t(INT32_MAX) + 1 : uint64_t(INT32_MAX))) return false;
  months = negative ? int32_t(int64_t(0) - int64_t(magnitude)) : int32_t(magnitude);
  return true;
}

bool IsYearMonthIntervalLiteral(std::string_view text, TBRNIntervalFields qualifier) {
  int32_t months;
  return ParseYearMonthIntervalLiteral(text, qualifier, months);
}

// --- Day-time interval ---

// A negative amount is written with "-" in front even when its leading field
// is 0 (minus 30 minutes as Hour To Minute is -0:30).
std::string FormatDayTimeIntervalLiteral(TBRNIntervalFields qualifier, int64_t ms) {
  if (!IsValidDayTimeQualifier(qualifier)) return {};
  uint64_t rest = UnsignedMagnitude(ms);
  std::string text = ms < 0 ? "-" : "";
  bool leading = true;
  TBRNIntervalFields previous = 0;
  for (const DayTimeField& f : dayTimeFields) {
    if (!(qualifier & f.field)) continue;
    uint64_t count = rest / f.unit;
    rest %= f.unit;
    if (leading) {
      AppendZeroPadded(text, count, 1);
      leading = false;
    } else {
      text.push_back(SeparatorBefore(f.field));
      AppendZeroPadded(text, count, f.field == ifMSecond ? 3 : (previous == ifDay ? 1 : 2));
    }
    previous = f.field;
  }
  return text;
}

bool ParseDayTimeIntervalLiteral(std::string_view text, TBRNIntervalFields qualifier, int64_t& ms) {
  ms = 0;
  if (!IsValidDayTimeQualifier(qualifier)) return false;
  std::string_view rest = TrimBlanksView(text);
  bool negative = !rest.empty() && rest.front() == '-';
  if (negative) rest.remove_prefix(1);
  // Each part is the text up to the separator of the next field.
  const DayTimeField* fields[5];
  int count = 0;
  for (const DayTimeField& f : dayTimeFields)
    if (qualifier & f.field) fields[count++] = &f;
  uint64_t magnitude = 0;
  for (int i = 0; i < count; ++i) {
    std::string_view part = rest;
    if (i + 1 < count && !SplitAt(rest, SeparatorBefore(fields[i + 1]->field), part)) return false;
    uint64_t value, amount;
    if (!DigitsPart(part, value) || __builtin_mul_overflow(value, fields[i]->unit, &amount) ||
        __builtin_add_overflow(magnitude, amount, &magnitude))
      return false;
  }
  return SignedFromMagnitude(negative, magnitude, ms);
}

bool IsDayTimeIntervalLiteral(std::string_view text, TBRNIntervalFields qualifier) {
  int64_t ms;
  return ParseDayTimeIntervalLiteral(text, qualifier, ms);
}

// --- Boolean ---

std::string FormatBooleanLiteral(bool value) {
  return value ? "TRUE" : "FALSE";
}

bool ParseBooleanLiteral(std::string_view text, bool& value) {
  value = TextEqualsIgnoreCase(text, "TRUE");
  return value || TextEqualsIgnoreCase(text, "FALSE");
}

// --- Float ---

std::string FormatFloatLiteral(double value) {
  return FloatToString(value);
}

bool ParseFloatLiteral(std::string_view text, double& value) {
  return TryTextToFloat(text, false, value);
}

bool IsFloatLiteral(std::string_view text) {
  double value;
  return ParseFloatLiteral(text, value);
}

// --- Decimal ---

std::string FormatDecimalLiteral(int32_t scale, int64_t value) {
  std::string text = CurrencyToString(value);
  if (scale > 0) {
    size_t point = text.find('.');
    if (point == std::string::npos) {
      point = text.size();
      text.push_back('.');
    }
    size_t decimals = text.size() - point - 1;
    if (decimals < size_t(scale)) text.append(size_t(scale) - decimals, '0');
  }
  return text;
}

bool ParseDecimalLiteral(std::string_view text, int64_t& value) {
  return TryTextToCurrency(text, false, value);
}

// --- Character code ---

bool ParseCharCodeLiteral(std::string_view text, char& value) {
  value = 0;
  int64_t code;
  if (text.empty() || text.front() != '#' || !ParseBigIntLiteral(text.substr(1), code))
    return false;
  value = char(uint8_t(uint64_t(code) & 0xFF));
  return true;
}

bool IsCharCodeLiteral(std::string_view text) {
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  int64_t code;
  return ParseBigIntLiteral(text, code) && code >= 0 && code <= 255;
}

}  // namespace brn
