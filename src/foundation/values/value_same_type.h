#pragma once

// The same-type operations of TBRNValue, written once for any static value
// type: instantiated for TBRNValue (virtual raw access) and for
// TBRNContainedValue (final raw access, so the calls are direct). Included
// only by the value sources.

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "foundation/values/value.h"

namespace brn {

namespace value_detail {

template <typename T>
int32_t CompareOrdered(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace value_detail

// Inlined into each Compare: a comparison is mostly this switch.
template <typename V>
[[gnu::always_inline]] inline int32_t TBRNValue::CompareSameType(const V& Value, const V& Other,
                                                                 int32_t PartialLength,
                                                                 bool IgnoreCase,
                                                                 int32_t Collation) {
  using value_detail::CompareOrdered;
  switch (Value.DataType) {
    case dtChar:
    case dtLob:
      if (Value.DataType == dtChar || Value.SubType == stClob) {
        int32_t length = 0;
        int32_t otherLength = 0;
        const char* text = Value.GetStringBuffer(length);
        const char* otherText = Other.GetStringBuffer(otherLength);
        return CompareCollatedChars(Collation, text, length, otherText, otherLength, IgnoreCase,
                                    PartialLength);
      }
      [[fallthrough]];
    case dtBytes: {
      int32_t length = 0;
      int32_t otherLength = 0;
      const uint8_t* bytes = Value.GetBytesBuffer(length);
      const uint8_t* otherBytes = Other.GetBytesBuffer(otherLength);
      return CompareByteBuffers(bytes, length, otherBytes, otherLength);
    }
    case dtBoolean:
      return CompareOrdered(Value.GetBooleanData(), Other.GetBooleanData());
    case dtSmallInt:
      return CompareOrdered(Value.GetSmallIntData(), Other.GetSmallIntData());
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      return CompareOrdered(Value.GetInt32Data(), Other.GetInt32Data());
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
      return CompareOrdered(Value.GetInt64Data(), Other.GetInt64Data());
    case dtFloat:
      return CompareOrdered(Value.GetFloatData(), Other.GetFloatData());
    case dtDecimal:
      return CompareOrdered(Value.GetDecimalData(), Other.GetDecimalData());
    default:
      return 0;
  }
}

template <typename V>
void TBRNValue::SaveDataToStream(const V& Value, TBRNMemoryStream& Stream) {
  switch (Value.DataType) {
    case dtLob:
      if (const TBRNMemoryStream* lob = Value.GetStreamData()) {
        // Read in place: the LOB's own stream is not moved.
        int32_t size = int32_t(lob->GetSize());
        Stream.WriteInteger(size);
        if (size > 0) Stream.Write(lob->GetMemory(), size);
        break;
      }
      // A LOB without a stream writes its buffer as text or bytes do.
      [[fallthrough]];
    case dtChar:
    case dtBytes: {
      // A fixed-length value writes its whole declared length.
      int32_t length = 0;
      const void* data = Value.IsTextType()
                             ? static_cast<const void*>(Value.GetStringBuffer(length))
                             : static_cast<const void*>(Value.GetBytesBuffer(length));
      Stream.WriteInteger(length);
      if (length > 0) Stream.Write(data, length);
      break;
    }
    case dtBoolean:
      Stream.WriteBoolean(Value.GetBooleanData());
      break;
    case dtSmallInt:
      Stream.WriteSmallInt(Value.GetSmallIntData());
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      Stream.WriteInteger(Value.GetInt32Data());
      break;
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
      Stream.WriteInt64(Value.GetInt64Data());
      break;
    case dtFloat:
      Stream.WriteDouble(Value.GetFloatData());
      break;
    case dtDecimal:
      Stream.WriteCurrency(Value.GetDecimalData());
      break;
    default:
      break;
  }
}

template <typename V>
void TBRNValue::LoadDataFromStream(V& Value, TBRNMemoryStream& Stream) {
  const TBRNValue& base = Value;
  switch (Value.DataType) {
    case dtChar:
    case dtBytes:
    case dtLob: {
      // A count is checked against the bytes that remain before anything is
      // sized by it: a damaged or hostile stream must not make us allocate.
      int32_t count = Stream.ReadInteger();
      if (Value.DataType == dtLob && count <= 0) {
        Value.SetStreamData(nullptr, 0);
        break;
      }
      if (count < 0 || count > Stream.GetRemaining())
        base.FailConversion(IntegerToString(count), false);
      if (Value.DataType == dtLob) {
        Value.SetStreamData(&Stream, count);
        break;
      }
      // The data is taken in place; with no bytes there is no place to point
      // at (the position may lie beyond the end).
      const uint8_t* data = count > 0 ? Stream.GetMemory() + Stream.GetPosition() : nullptr;
      if (Value.DataType == dtChar)
        Value.SetStringData(std::string_view(reinterpret_cast<const char*>(data), size_t(count)));
      else
        Value.SetBytesData(std::span(data, size_t(count)));
      Stream.Seek(1, count);
      break;
    }
    case dtBoolean:
      Value.SetBooleanData(Stream.ReadBoolean());
      break;
    case dtSmallInt:
      Value.SetSmallIntData(Stream.ReadSmallInt());
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      Value.SetInt32Data(Stream.ReadInteger());
      break;
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
      Value.SetInt64Data(Stream.ReadInt64());
      break;
    case dtFloat:
      Value.SetFloatData(Stream.ReadDouble());
      break;
    case dtDecimal:
      Value.SetDecimalData(base.RoundToScale(Stream.ReadCurrency()));
      break;
    default:
      break;
  }
}

}  // namespace brn
