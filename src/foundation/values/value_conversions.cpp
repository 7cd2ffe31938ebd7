// The converting getters and setters of TBRNValue.
#include <cmath>
#include <cstring>

#include "foundation/core/byte_order.h"
#include "foundation/types/date_time.h"
#include "foundation/types/literal_text.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/number_text.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/values/value.h"

namespace brn {

namespace {

constexpr TBRNIntervalFields YearToMonth = ifYear | ifMonth;
constexpr TBRNIntervalFields DayToMSecond = ifDay | ifHour | ifMinute | ifSecond | ifMSecond;

bool IsNumericType(TBRNDataTypeCode type) {
  return type >= dtSmallInt && type <= dtDecimal;
}

// Range checks of a float before it is truncated toward zero: NaN and
// infinities fail every one of them.
bool FloatFitsSmallInt(double x) {
  return x > -32769.0 && x < 32768.0;
}
bool FloatFitsInteger(double x) {
  return x > -2147483649.0 && x < 2147483648.0;
}
bool FitsSmallInt(int64_t n) {
  return n >= INT16_MIN && n <= INT16_MAX;
}
bool FitsInteger(int64_t n) {
  return n >= INT32_MIN && n <= INT32_MAX;
}

// The milliseconds of one unit of a single-field day-time qualifier, 0 for
// any other qualifier.
int64_t DayTimeUnit(TBRNIntervalFields qualifier) {
  switch (qualifier) {
    case ifMSecond:
      return 1;
    case ifSecond:
      return 1000;
    case ifMinute:
      return 60000;
    case ifHour:
      return 3600000;
    case ifDay:
      return MSecsPerDay;
    default:
      return 0;
  }
}

template <typename T>
TBRNBytes RawBytes(T value) {
  TBRNBytes bytes(sizeof(T));
  StoreLittleEndian(bytes.data(), value);
  return bytes;
}

}  // namespace

// Getters.

std::string TBRNValue::GetAsString() const {
  switch (DataType) {
    case dtChar:
      return std::string(TextView());
    case dtBytes:
    case dtLob: {
      if (SubType == stClob && DataType == dtLob) return std::string(TextView());
      int32_t length = 0;
      const uint8_t* bytes = GetBytesBuffer(length);
      return FormatBytesLiteral(std::span(bytes, size_t(length)));
    }
    case dtBoolean:
      return FormatBooleanLiteral(GetBooleanData());
    case dtSmallInt:
      return IntegerToString(GetSmallIntData());
    case dtInteger:
      return IntegerToString(GetInt32Data());
    case dtBigInt:
      return BigIntToString(GetInt64Data());
    case dtFloat:
      return FormatFloatLiteral(GetFloatData());
    case dtDecimal:
      return FormatDecimalLiteral(Scale, GetDecimalData());
    case dtDate:
      return FormatDateLiteral(GetInt32Data());
    case dtTime:
      return FormatTimeLiteral(GetInt32Data(), true);
    case dtTimestamp:
      return FormatTimestampLiteral(true, GetInt64Data());
    case dtYearMonthInterval:
      return FormatYearMonthIntervalLiteral(GetInt32Data(), SubType);
    case dtDayTimeInterval:
      return FormatDayTimeIntervalLiteral(SubType, GetInt64Data());
    default:
      FailConversion("", false);
  }
}

TBRNBytes TBRNValue::GetAsBytes() const {
  switch (DataType) {
    case dtChar:
    case dtBytes:
    case dtLob: {
      // Text is read through the character access, bytes through the byte
      // access: a subclass need not offer the one for the other's types.
      if (IsTextType()) {
        std::string_view text = TextView();
        return TBRNBytes(text.begin(), text.end());
      }
      int32_t length = 0;
      const uint8_t* bytes = GetBytesBuffer(length);
      return TBRNBytes(bytes, bytes + length);
    }
    case dtBoolean:
      return RawBytes<uint8_t>(GetBooleanData() ? 1 : 0);
    case dtSmallInt:
      return RawBytes(GetSmallIntData());
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      return RawBytes(GetInt32Data());
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
      return RawBytes(GetInt64Data());
    case dtFloat:
      return RawBytes(GetFloatData());
    case dtDecimal:
      return RawBytes(GetDecimalData());
    default:
      FailConversion("", false);
  }
}

const TBRNMemoryStream* TBRNValue::GetAsStream() const {
  if (DataType != dtLob) FailConversion(MessageText(), false);
  return GetStreamData();
}

bool TBRNValue::GetAsBoolean() const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      bool value = false;
      if (IsTextType() && ParseBooleanLiteral(TextView(), value)) return value;
      break;
    }
    case dtBytes:
      if (IsRawBytes(1)) return GetBooleanData();
      break;
    case dtBoolean:
      return GetBooleanData();
    case dtSmallInt:
      return GetSmallIntData() != 0;
    case dtInteger:
      return GetInt32Data() != 0;
    case dtBigInt:
      return GetInt64Data() != 0;
    case dtFloat:
      return GetFloatData() != 0.0;
    case dtDecimal:
      return GetDecimalData() != 0;
    default:
      break;
  }
  FailConversion(MessageText(), false);
}

int16_t TBRNValue::GetAsSmallInt() const {
  int64_t n = 0;
  switch (DataType) {
    case dtBytes:
      if (IsRawBytes(2)) return GetSmallIntData();
      FailConversion(MessageText(), false);
    case dtFloat: {
      double x = GetFloatData();
      if (!FloatFitsSmallInt(x)) FailRange(MessageText(), false);
      return int16_t(x);
    }
    case dtBoolean:
      return GetBooleanData() ? 1 : 0;
    case dtSmallInt:
      return GetSmallIntData();
    case dtTimestamp:
      FailConversion(MessageText(), false);
    default:
      // Text, the wider integers, decimals and intervals go through BigInt.
      n = GetAsBigInt();
      break;
  }
  if (!FitsSmallInt(n)) FailRange(MessageText(), false);
  return int16_t(n);
}

int32_t TBRNValue::GetAsInteger() const {
  int64_t n = 0;
  switch (DataType) {
    case dtBytes:
      if (IsRawBytes(4)) return GetInt32Data();
      FailConversion(MessageText(), false);
    case dtFloat: {
      double x = GetFloatData();
      if (!FloatFitsInteger(x)) FailRange(MessageText(), false);
      return int32_t(x);
    }
    case dtInteger:
    case dtDate:
    case dtTime:
      return GetInt32Data();
    case dtYearMonthInterval:
      return GetYearMonthIntervalNumber();
    case dtTimestamp:
      FailConversion(MessageText(), false);
    default:
      n = GetAsBigInt();
      break;
  }
  if (!FitsInteger(n)) FailRange(MessageText(), false);
  return int32_t(n);
}

int64_t TBRNValue::GetAsBigInt() const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      int64_t value = 0;
      if (IsTextType()) {
        std::string_view text = TextView();
        // Digits beyond the int64 range are no BigInt literal either: the
        // conversion error, as for the setters.
        if (ParseBigIntLiteral(text, value)) return value;
      }
      break;
    }
    case dtBytes:
      if (IsRawBytes(8)) return GetInt64Data();
      break;
    case dtBoolean:
      return GetBooleanData() ? 1 : 0;
    case dtSmallInt:
      return GetSmallIntData();
    case dtInteger:
      return GetInt32Data();
    case dtBigInt:
    case dtTimestamp:
      return GetInt64Data();
    case dtFloat: {
      double x = GetFloatData();
      if (!FloatFitsBigInt(x)) FailRange(MessageText(), false);
      return int64_t(x);
    }
    case dtDecimal:
      return GetDecimalData() / DecimalScaleFactor;
    case dtYearMonthInterval:
      return GetYearMonthIntervalNumber();
    case dtDayTimeInterval:
      return GetDayTimeIntervalNumber();
    default:
      break;
  }
  FailConversion(MessageText(), false);
}

int64_t TBRNValue::GetAsDecimal() const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      int64_t value = 0;
      if (IsTextType() && ParseDecimalLiteral(TextView(), value)) return value;
      break;
    }
    case dtBytes:
      if (IsRawBytes(8)) return GetDecimalData();
      break;
    case dtBoolean:
      return GetBooleanData() ? DecimalScaleFactor : 0;
    case dtSmallInt:
    case dtInteger:
    case dtBigInt: {
      int64_t scaled = 0;
      if (__builtin_mul_overflow(GetAsBigInt(), DecimalScaleFactor, &scaled))
        FailRange(MessageText(), false);
      return scaled;
    }
    case dtFloat: {
      double x = GetFloatData() * double(DecimalScaleFactor);
      if (!FloatFitsBigInt(std::round(x))) FailRange(MessageText(), false);
      return int64_t(std::round(x));
    }
    case dtDecimal:
      return GetDecimalData();
    default:
      break;
  }
  FailConversion(MessageText(), false);
}

double TBRNValue::GetAsFloat() const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      double value = 0;
      if (IsTextType() && ParseFloatLiteral(TextView(), value)) return value;
      break;
    }
    case dtBytes:
      if (IsRawBytes(8)) return GetFloatData();
      break;
    case dtBoolean:
      return GetBooleanData() ? 1.0 : 0.0;
    case dtSmallInt:
      return GetSmallIntData();
    case dtInteger:
      return GetInt32Data();
    case dtBigInt:
      return double(GetInt64Data());
    case dtFloat:
      return GetFloatData();
    case dtDecimal:
      return double(GetDecimalData()) / double(DecimalScaleFactor);
    default:
      break;
  }
  FailConversion(MessageText(), false);
}

int32_t TBRNValue::GetAsDate() const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      int32_t value = 0;
      if (IsTextType() && ParseDateLiteral(TextView(), value)) return value;
      break;
    }
    case dtBytes:
      if (IsRawBytes(4)) return GetInt32Data();
      break;
    case dtDate:
      return GetInt32Data();
    case dtTimestamp:
      return TimestampToDate(GetInt64Data());
    default:
      break;
  }
  FailConversion(MessageText(), false);
}

int32_t TBRNValue::GetAsTime() const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      int32_t value = 0;
      if (IsTextType() && ParseTimeLiteral(TextView(), value)) return value;
      break;
    }
    case dtBytes:
      if (IsRawBytes(4)) return GetInt32Data();
      break;
    case dtTime:
      return GetInt32Data();
    case dtTimestamp:
      return TimestampToTime(GetInt64Data());
    default:
      break;
  }
  FailConversion(MessageText(), false);
}

int64_t TBRNValue::GetAsTimestamp() const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      int64_t value = 0;
      if (IsTextType() && ParseTimestampLiteral(TextView(), value)) return value;
      break;
    }
    case dtBytes:
      if (IsRawBytes(8)) return GetInt64Data();
      break;
    case dtDate:
      return DateToTimestamp(GetInt32Data());
    case dtTime:
      return TimeToTimestamp(GetInt32Data());
    case dtTimestamp:
      return GetInt64Data();
    default:
      break;
  }
  FailConversion(MessageText(), false);
}

TDateTime TBRNValue::GetAsDateTime() const {
  switch (DataType) {
    case dtDate:
      return DayNumberToDateTime(GetInt32Data());
    case dtTime:
      return TimeOfDayToDateTime(GetInt32Data());
    default:
      return TimestampMsToDateTime(GetAsTimestamp());
  }
}

int32_t TBRNValue::GetAsYearMonthInterval() const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      int32_t value = 0;
      if (IsTextType() && ParseYearMonthIntervalLiteral(TextView(), YearToMonth, value))
        return value;
      break;
    }
    case dtBytes:
      if (IsRawBytes(4)) return GetInt32Data();
      break;
    case dtYearMonthInterval:
      return GetInt32Data();
    default:
      if (IsNumericType(DataType)) return GetAsInteger();
      break;
  }
  FailConversion(MessageText(), false);
}

int64_t TBRNValue::GetAsDayTimeInterval() const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      int64_t value = 0;
      if (IsTextType() && ParseDayTimeIntervalLiteral(TextView(), DayToMSecond, value))
        return value;
      break;
    }
    case dtBytes:
      if (IsRawBytes(8)) return GetInt64Data();
      break;
    case dtDayTimeInterval:
      return GetInt64Data();
    default:
      if (IsNumericType(DataType)) return int64_t(GetAsInteger()) * MSecsPerDay;
      break;
  }
  FailConversion(MessageText(), false);
}

int32_t TBRNValue::GetAsQualifiedYearMonthInterval(TBRNIntervalFields Qualifier) const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      int32_t value = 0;
      if (IsTextType() && ParseYearMonthIntervalLiteral(TextView(), Qualifier, value)) return value;
      break;
    }
    case dtBytes:
      if (IsRawBytes(4)) return RequalifyYearMonthInterval(GetInt32Data(), Qualifier);
      break;
    case dtYearMonthInterval:
      return RequalifyYearMonthInterval(GetInt32Data(), Qualifier);
    default:
      if (!IsNumericType(DataType)) break;
      if (Qualifier == ifMonth) return GetAsInteger();
      if (Qualifier == ifYear) {
        int32_t months = 0;
        if (__builtin_mul_overflow(GetAsInteger(), 12, &months)) FailRange(MessageText(), false);
        return months;
      }
      break;
  }
  FailConversion(MessageText(), false);
}

int64_t TBRNValue::GetAsQualifiedDayTimeInterval(TBRNIntervalFields Qualifier) const {
  switch (DataType) {
    case dtChar:
    case dtLob: {
      int64_t value = 0;
      if (IsTextType() && ParseDayTimeIntervalLiteral(TextView(), Qualifier, value)) return value;
      break;
    }
    case dtBytes:
      if (IsRawBytes(8)) return RequalifyDayTimeInterval(GetInt64Data(), Qualifier);
      break;
    case dtDayTimeInterval:
      return RequalifyDayTimeInterval(GetInt64Data(), Qualifier);
    default: {
      int64_t unit = DayTimeUnit(Qualifier);
      if (!IsNumericType(DataType) || unit == 0) break;
      int64_t count = Qualifier == ifDay ? GetAsInteger() : GetAsBigInt();
      int64_t ms = 0;
      if (__builtin_mul_overflow(count, unit, &ms)) FailRange(MessageText(), false);
      return ms;
    }
  }
  FailConversion(MessageText(), false);
}

int32_t TBRNValue::GetYearMonthIntervalNumber() const {
  if (DataType == dtYearMonthInterval) {
    int32_t months = GetInt32Data();
    if (SubType == ifMonth) return months;
    if (SubType == ifYear) return months / 12;
  }
  FailConversion(MessageText(), false);
}

int64_t TBRNValue::GetDayTimeIntervalNumber() const {
  if (DataType == dtDayTimeInterval) {
    int64_t unit = DayTimeUnit(SubType);
    if (unit != 0) return GetInt64Data() / unit;
  }
  FailConversion(MessageText(), false);
}

// Setters. Each begins by making the value non-NULL (BeginSetting); a
// failure leaves the data as it was.

void TBRNValue::SetAsString(std::string_view Value) {
  BeginSetting();
  switch (DataType) {
    case dtChar:
      SetStringData(Value);
      return;
    case dtBytes:
    case dtLob: {
      if (IsTextType()) {
        SetStringData(Value);
        return;
      }
      TBRNBytes bytes;
      if (!ParseBytesLiteral(Value, bytes)) break;
      SetBytesData(bytes);
      return;
    }
    case dtBoolean: {
      bool value = false;
      if (!ParseBooleanLiteral(Value, value)) break;
      SetBooleanData(value);
      return;
    }
    case dtSmallInt:
    case dtInteger:
    case dtBigInt: {
      int64_t value = 0;
      if (!ParseBigIntLiteral(Value, value)) break;
      if ((DataType == dtSmallInt && !FitsSmallInt(value)) ||
          (DataType == dtInteger && !FitsInteger(value)))
        FailRange(Value, true);
      if (DataType == dtSmallInt)
        SetSmallIntData(int16_t(value));
      else if (DataType == dtInteger)
        SetInt32Data(int32_t(value));
      else
        SetInt64Data(value);
      return;
    }
    case dtFloat: {
      double value = 0;
      if (!ParseFloatLiteral(Value, value)) break;
      SetFloatData(value);
      return;
    }
    case dtDecimal: {
      int64_t value = 0;
      if (!ParseDecimalLiteral(Value, value)) break;
      SetDecimalData(RoundToScale(value));
      return;
    }
    case dtDate:
    case dtTime: {
      int32_t value = 0;
      if (!(DataType == dtDate ? ParseDateLiteral(Value, value) : ParseTimeLiteral(Value, value)))
        break;
      SetInt32Data(value);
      return;
    }
    case dtTimestamp: {
      int64_t value = 0;
      if (!ParseTimestampLiteral(Value, value)) break;
      SetInt64Data(value);
      return;
    }
    case dtYearMonthInterval: {
      int32_t value = 0;
      if (!ParseYearMonthIntervalLiteral(Value, SubType, value)) break;
      SetInt32Data(value);
      return;
    }
    case dtDayTimeInterval: {
      int64_t value = 0;
      if (!ParseDayTimeIntervalLiteral(Value, SubType, value)) break;
      SetInt64Data(value);
      return;
    }
    default:
      break;
  }
  FailConversion(Value, true);
}

void TBRNValue::SetAsBytes(std::span<const uint8_t> Value) {
  BeginSetting();
  size_t width = 0;
  switch (DataType) {
    case dtChar:
      SetStringData(std::string_view(reinterpret_cast<const char*>(Value.data()), Value.size()));
      return;
    case dtBytes:
      SetBytesData(Value);
      return;
    case dtLob:
      if (SubType == stClob)
        SetStringData(std::string_view(reinterpret_cast<const char*>(Value.data()), Value.size()));
      else
        SetBytesData(Value);
      return;
    case dtBoolean:
      width = 1;
      break;
    case dtSmallInt:
      width = 2;
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      width = 4;
      break;
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
    case dtFloat:
    case dtDecimal:
      width = 8;
      break;
    default:
      break;
  }
  // A number takes the first bytes of its width; fewer bytes are no number.
  if (width == 0 || Value.size() < width) FailConversion(FormatBytesLiteral(Value), true);
  const uint8_t* raw = Value.data();
  switch (DataType) {
    case dtBoolean:
      SetBooleanData(raw[0] != 0);
      break;
    case dtSmallInt:
      SetSmallIntData(LoadLittleEndian<int16_t>(raw));
      break;
    case dtFloat:
      SetFloatData(LoadLittleEndian<double>(raw));
      break;
    case dtDecimal:
      SetDecimalData(RoundToScale(LoadLittleEndian<int64_t>(raw)));
      break;
    default:
      if (width == 4)
        SetInt32Data(LoadLittleEndian<int32_t>(raw));
      else
        SetInt64Data(LoadLittleEndian<int64_t>(raw));
      break;
  }
}

void TBRNValue::SetAsBoolean(bool Value) {
  BeginSetting();
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (!IsTextType()) break;
      SetStringData(FormatBooleanLiteral(Value));
      return;
    case dtBytes:
      if (!IsRawBytes(1)) break;
      SetBooleanData(Value);
      return;
    case dtBoolean:
      SetBooleanData(Value);
      return;
    case dtSmallInt:
      SetSmallIntData(Value ? 1 : 0);
      return;
    case dtInteger:
      SetInt32Data(Value ? 1 : 0);
      return;
    case dtBigInt:
      SetInt64Data(Value ? 1 : 0);
      return;
    case dtFloat:
      SetFloatData(Value ? 1.0 : 0.0);
      return;
    case dtDecimal:
      SetDecimalData(Value ? DecimalScaleFactor : 0);
      return;
    default:
      break;
  }
  FailConversion(FormatBooleanLiteral(Value), true);
}

// The narrower integer setters differ from SetAsBigInt only in the raw width
// of a Byte(n) value and in the date and time types they take.
void TBRNValue::SetAsSmallInt(int16_t Value) {
  switch (DataType) {
    case dtBytes:
      BeginSetting();
      if (!IsRawBytes(2)) FailConversion(IntegerToString(Value), true);
      SetSmallIntData(Value);
      return;
    case dtTimestamp:
      BeginSetting();
      FailConversion(IntegerToString(Value), true);
    default:
      SetAsBigInt(Value);
      return;
  }
}

void TBRNValue::SetAsInteger(int32_t Value) {
  switch (DataType) {
    case dtBytes:
      BeginSetting();
      if (!IsRawBytes(4)) FailConversion(IntegerToString(Value), true);
      SetInt32Data(Value);
      return;
    case dtDate:
    case dtTime:
      BeginSetting();
      SetInt32Data(Value);
      return;
    case dtTimestamp:
      BeginSetting();
      FailConversion(IntegerToString(Value), true);
    default:
      SetAsBigInt(Value);
      return;
  }
}

void TBRNValue::SetAsBigInt(int64_t Value) {
  BeginSetting();
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (!IsTextType()) break;
      SetStringData(BigIntToString(Value));
      return;
    case dtBytes:
      if (!IsRawBytes(8)) break;
      SetInt64Data(Value);
      return;
    case dtBoolean:
      SetBooleanData(Value > 0);
      return;
    case dtSmallInt:
      if (!FitsSmallInt(Value)) FailRange(BigIntToString(Value), true);
      SetSmallIntData(int16_t(Value));
      return;
    case dtInteger:
      if (!FitsInteger(Value)) FailRange(BigIntToString(Value), true);
      SetInt32Data(int32_t(Value));
      return;
    case dtBigInt:
    case dtTimestamp:
      SetInt64Data(Value);
      return;
    case dtFloat:
      SetFloatData(double(Value));
      return;
    case dtDecimal: {
      int64_t scaled = 0;
      if (__builtin_mul_overflow(Value, DecimalScaleFactor, &scaled))
        FailRange(BigIntToString(Value), true);
      SetDecimalData(scaled);
      return;
    }
    case dtYearMonthInterval:
      if (!FitsInteger(Value)) FailRange(BigIntToString(Value), true);
      SetYearMonthIntervalNumber(int32_t(Value));
      return;
    case dtDayTimeInterval:
      SetDayTimeIntervalNumber(Value);
      return;
    default:
      break;
  }
  FailConversion(BigIntToString(Value), true);
}

void TBRNValue::SetAsDecimal(int64_t Value) {
  BeginSetting();
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (!IsTextType()) break;
      SetStringData(FormatDecimalLiteral(0, Value));
      return;
    case dtBytes:
      if (!IsRawBytes(8)) break;
      SetDecimalData(Value);
      return;
    case dtBoolean:
      SetBooleanData(Value > 0);
      return;
    case dtSmallInt:
    case dtInteger:
    case dtBigInt: {
      int64_t whole = Value / DecimalScaleFactor;
      if ((DataType == dtSmallInt && !FitsSmallInt(whole)) ||
          (DataType == dtInteger && !FitsInteger(whole)))
        FailRange(FormatDecimalLiteral(0, Value), true);
      if (DataType == dtSmallInt)
        SetSmallIntData(int16_t(whole));
      else if (DataType == dtInteger)
        SetInt32Data(int32_t(whole));
      else
        SetInt64Data(whole);
      return;
    }
    case dtFloat:
      SetFloatData(double(Value) / double(DecimalScaleFactor));
      return;
    case dtDecimal:
      SetDecimalData(RoundToScale(Value));
      return;
    default:
      break;
  }
  FailConversion(FormatDecimalLiteral(0, Value), true);
}

void TBRNValue::SetAsFloat(double Value) {
  BeginSetting();
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (!IsTextType()) break;
      SetStringData(FormatFloatLiteral(Value));
      return;
    case dtBytes:
      if (!IsRawBytes(8)) break;
      SetFloatData(Value);
      return;
    case dtBoolean:
      SetBooleanData(Value > 0);
      return;
    case dtSmallInt:
      if (!FloatFitsSmallInt(Value)) FailRange(FormatFloatLiteral(Value), true);
      SetSmallIntData(int16_t(Value));
      return;
    case dtInteger:
      if (!FloatFitsInteger(Value)) FailRange(FormatFloatLiteral(Value), true);
      SetInt32Data(int32_t(Value));
      return;
    case dtBigInt:
      if (!FloatFitsBigInt(Value)) FailRange(FormatFloatLiteral(Value), true);
      SetInt64Data(int64_t(Value));
      return;
    case dtFloat:
      SetFloatData(Value);
      return;
    case dtDecimal: {
      // Checked before any rounding: RoundFloat scales by powers of ten.
      if (!FloatFitsBigInt(Value * double(DecimalScaleFactor)))
        FailRange(FormatFloatLiteral(Value), true);
      double scaled = std::round(double(RoundFloat(Value, Scale) * DecimalScaleFactor));
      if (!FloatFitsBigInt(scaled)) FailRange(FormatFloatLiteral(Value), true);
      SetDecimalData(int64_t(scaled));
      return;
    }
    default:
      break;
  }
  FailConversion(FormatFloatLiteral(Value), true);
}

void TBRNValue::SetAsDate(int32_t Day) {
  BeginSetting();
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (!IsTextType()) break;
      SetStringData(FormatDateLiteral(Day));
      return;
    case dtBytes:
      if (!IsRawBytes(4)) break;
      [[fallthrough]];
    case dtDate:
      SetInt32Data(Day);
      return;
    case dtTimestamp:
      SetInt64Data(DateToTimestamp(Day));
      return;
    default:
      break;
  }
  FailConversion(FormatDateLiteral(Day), true);
}

void TBRNValue::SetAsTime(int32_t Time) {
  BeginSetting();
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (!IsTextType()) break;
      SetStringData(FormatTimeLiteral(Time, true));
      return;
    case dtBytes:
      if (!IsRawBytes(4)) break;
      [[fallthrough]];
    case dtTime:
      SetInt32Data(Time);
      return;
    case dtTimestamp:
      SetInt64Data(DateToTimestamp(CurrentDate(false)) + Time);
      return;
    default:
      break;
  }
  FailConversion(FormatTimeLiteral(Time, true), true);
}

void TBRNValue::SetAsTimestamp(int64_t TS) {
  BeginSetting();
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (!IsTextType()) break;
      SetStringData(FormatTimestampLiteral(true, TS));
      return;
    case dtBytes:
      if (!IsRawBytes(8)) break;
      [[fallthrough]];
    case dtTimestamp:
      SetInt64Data(TS);
      return;
    case dtDate:
      SetInt32Data(TimestampToDate(TS));
      return;
    case dtTime:
      SetInt32Data(TimestampToTime(TS));
      return;
    default:
      break;
  }
  FailConversion(FormatTimestampLiteral(true, TS), true);
}

void TBRNValue::SetAsDateTime(TDateTime DateTime) {
  switch (DataType) {
    case dtDate:
      BeginSetting();
      SetInt32Data(DateTimeToDayNumber(DateTime));
      return;
    case dtTime:
      BeginSetting();
      SetInt32Data(DateTimeToTimeOfDay(DateTime));
      return;
    default:
      SetAsTimestamp(DateTimeToTimestampMs(DateTime));
      return;
  }
}

// An unqualified interval is one of the widest qualifier, which no number
// can hold.
void TBRNValue::SetAsYearMonthInterval(int32_t Months) {
  SetAsQualifiedYearMonthInterval(Months, YearToMonth);
}

void TBRNValue::SetAsDayTimeInterval(int64_t MS) {
  SetAsQualifiedDayTimeInterval(DayToMSecond, MS);
}

void TBRNValue::SetAsQualifiedYearMonthInterval(int32_t Months, TBRNIntervalFields Qualifier) {
  BeginSetting();
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (!IsTextType()) break;
      SetStringData(FormatYearMonthIntervalLiteral(Months, Qualifier));
      return;
    case dtBytes:
      if (!IsRawBytes(4)) break;
      [[fallthrough]];
    case dtYearMonthInterval:
      SetInt32Data(Months);
      return;
    default:
      if (!IsNumericType(DataType)) break;
      if (Qualifier == ifMonth) {
        SetAsInteger(Months);
        return;
      }
      if (Qualifier == ifYear) {
        SetAsInteger(Months / 12);
        return;
      }
      break;
  }
  FailConversion(FormatYearMonthIntervalLiteral(Months, Qualifier), true);
}

void TBRNValue::SetAsQualifiedDayTimeInterval(TBRNIntervalFields Qualifier, int64_t MS) {
  BeginSetting();
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (!IsTextType()) break;
      SetStringData(FormatDayTimeIntervalLiteral(Qualifier, MS));
      return;
    case dtBytes:
      if (!IsRawBytes(8)) break;
      [[fallthrough]];
    case dtDayTimeInterval:
      SetInt64Data(MS);
      return;
    default: {
      int64_t unit = DayTimeUnit(Qualifier);
      if (!IsNumericType(DataType) || unit == 0) break;
      int64_t count = MS / unit;
      if (Qualifier != ifDay) {
        SetAsBigInt(count);
        return;
      }
      if (!FitsInteger(count)) FailRange(BigIntToString(count), true);
      SetAsInteger(int32_t(count));
      return;
    }
  }
  FailConversion(FormatDayTimeIntervalLiteral(Qualifier, MS), true);
}

void TBRNValue::SetYearMonthIntervalNumber(int32_t Number) {
  BeginSetting();
  if (DataType == dtYearMonthInterval) {
    if (SubType == ifMonth) {
      SetInt32Data(Number);
      return;
    }
    if (SubType == ifYear) {
      int32_t months = 0;
      if (__builtin_mul_overflow(Number, 12, &months)) FailRange(IntegerToString(Number), true);
      SetInt32Data(months);
      return;
    }
  }
  FailConversion(MessageText(), false);
}

void TBRNValue::SetDayTimeIntervalNumber(int64_t Number) {
  BeginSetting();
  int64_t unit = DataType == dtDayTimeInterval ? DayTimeUnit(SubType) : 0;
  if (unit == 0) FailConversion(MessageText(), false);
  // Days are counted in 32 bits.
  if (SubType == ifDay && !FitsInteger(Number)) FailRange(BigIntToString(Number), true);
  int64_t ms = 0;
  if (__builtin_mul_overflow(Number, unit, &ms)) FailRange(BigIntToString(Number), true);
  SetInt64Data(ms);
}

}  // namespace brn
