// Ordering of values: same-type comparison on the data in place, converting
// comparison otherwise.
#include "foundation/text/collation.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/values/value.h"

namespace brn {

namespace {

template <typename T>
int32_t CompareOrdered(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

bool IsIntegerCode(TBRNDataTypeCode type) {
  return type == dtSmallInt || type == dtInteger || type == dtBigInt;
}

// An integer against a decimal's scaled integer, exactly: the integer times
// 10000 may not fit 64 bits.
int32_t CompareIntegerWithDecimal(int64_t integer, int64_t scaled) {
  return CompareOrdered(__int128(integer) * DecimalScaleFactor, __int128(scaled));
}

}  // namespace

int32_t TBRNValue::Compare(const TBRNValue& Other, int32_t PartialLength, bool IgnoreCase,
                           int32_t Collation) const {
  bool null = GetNull();
  bool otherNull = Other.GetNull();
  if (null || otherNull) return null == otherNull ? 0 : (null ? -1 : 1);
  if (Other.DataType != DataType)
    return CompareConverting(Other, PartialLength, IgnoreCase, Collation);
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (DataType == dtChar || SubType == stClob) {
        int32_t length = 0;
        int32_t otherLength = 0;
        const char* text = GetStringBuffer(length);
        const char* otherText = Other.GetStringBuffer(otherLength);
        return CompareCollatedChars(Collation, text, length, otherText, otherLength, IgnoreCase,
                                    PartialLength);
      }
      [[fallthrough]];
    case dtBytes: {
      int32_t length = 0;
      int32_t otherLength = 0;
      const uint8_t* bytes = GetBytesBuffer(length);
      const uint8_t* otherBytes = Other.GetBytesBuffer(otherLength);
      return CompareByteBuffers(bytes, length, otherBytes, otherLength);
    }
    case dtBoolean:
      return CompareOrdered(GetBooleanData(), Other.GetBooleanData());
    case dtSmallInt:
      return CompareOrdered(GetSmallIntData(), Other.GetSmallIntData());
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      return CompareOrdered(GetInt32Data(), Other.GetInt32Data());
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
      return CompareOrdered(GetInt64Data(), Other.GetInt64Data());
    case dtFloat:
      return CompareOrdered(GetFloatData(), Other.GetFloatData());
    case dtDecimal:
      return CompareOrdered(GetDecimalData(), Other.GetDecimalData());
    default:
      return 0;
  }
}

int32_t TBRNValue::CompareConverting(const TBRNValue& Other, int32_t PartialLength, bool IgnoreCase,
                                     int32_t Collation) const {
  TBRNDataTypeCode otherType = Other.DataType;
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (IsTextType()) {
        std::string& otherText = Scratch().Text[1];
        otherText = Other.GetAsString();
        return CompareCollated(Collation, TextView(), otherText, IgnoreCase, PartialLength);
      }
      [[fallthrough]];
    case dtBytes: {
      int32_t length = 0;
      const uint8_t* bytes = GetBytesBuffer(length);
      TBRNBytes& otherBytes = Scratch().Bytes[1];
      otherBytes = Other.GetAsBytes();
      return CompareByteBuffers(bytes, length, otherBytes.data(), int32_t(otherBytes.size()));
    }
    case dtBoolean:
      return CompareOrdered(GetBooleanData(), Other.GetAsBoolean());
    case dtSmallInt:
    case dtInteger:
    case dtBigInt: {
      int64_t value = GetAsBigInt();
      if (IsIntegerCode(otherType)) return CompareOrdered(value, Other.GetAsBigInt());
      if (otherType == dtFloat) return CompareOrdered(double(value), Other.GetFloatData());
      if (otherType == dtDecimal) return CompareIntegerWithDecimal(value, Other.GetDecimalData());
      // A Boolean takes the integer's truth value, as the Boolean side does.
      if (otherType == dtBoolean) return CompareOrdered(value != 0, Other.GetBooleanData());
      return 0;
    }
    case dtFloat:
      if (otherType == dtBoolean)
        return CompareOrdered(GetFloatData() != 0, Other.GetBooleanData());
      return CompareOrdered(GetFloatData(), Other.GetAsFloat());
    case dtDecimal:
      // Against integers and floats exactly as those compare against a
      // decimal, so that both orders agree (and no range error interferes).
      if (otherType == dtBoolean)
        return CompareOrdered(GetDecimalData() != 0, Other.GetBooleanData());
      if (IsIntegerCode(otherType))
        return -CompareIntegerWithDecimal(Other.GetAsBigInt(), GetDecimalData());
      if (otherType == dtFloat)
        return CompareOrdered(double(GetDecimalData()) / double(DecimalScaleFactor),
                              Other.GetFloatData());
      return CompareOrdered(GetDecimalData(), Other.GetAsDecimal());
    case dtDate:
      return CompareOrdered(GetInt32Data(), Other.GetAsDate());
    case dtTime:
      return CompareOrdered(GetInt32Data(), Other.GetAsTime());
    case dtTimestamp:
      return CompareOrdered(GetInt64Data(), Other.GetAsTimestamp());
    case dtYearMonthInterval:
      return CompareOrdered(GetInt32Data(), Other.GetAsQualifiedYearMonthInterval(SubType));
    case dtDayTimeInterval:
      return CompareOrdered(GetInt64Data(), Other.GetAsQualifiedDayTimeInterval(SubType));
    default:
      return 0;
  }
}

}  // namespace brn
