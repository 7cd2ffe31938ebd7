// Ordering of values: same-type comparison on the data in place, converting
// comparison otherwise.
#include <string>

#include "foundation/values/value_same_type.h"

namespace brn {

namespace {

using value_detail::CompareOrdered;

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
  return CompareSameType(*this, Other, PartialLength, IgnoreCase, Collation);
}

int32_t TBRNValue::CompareConverting(const TBRNValue& Other, int32_t PartialLength, bool IgnoreCase,
                                     int32_t Collation) const {
  TBRNDataTypeCode otherType = Other.DataType;
  switch (DataType) {
    case dtChar:
    case dtLob:
      if (IsTextType()) {
        // The other side's text on the stack: a const comparison writes
        // nothing the value keeps, so threads may compare one value at once.
        std::string otherText = Other.GetAsString();
        return CompareCollated(Collation, TextView(), otherText, IgnoreCase, PartialLength);
      }
      [[fallthrough]];
    case dtBytes: {
      int32_t length = 0;
      const uint8_t* bytes = GetBytesBuffer(length);
      TBRNBytes otherBytes = Other.GetAsBytes();
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
