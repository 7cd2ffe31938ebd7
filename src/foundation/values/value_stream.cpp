// The stream form of a value: a NULL flag byte, then the data of a non-NULL
// value in the layout of its type.
#include "foundation/core/memory_stream.h"
#include "foundation/text/number_text.h"
#include "foundation/values/value.h"

namespace brn {

void TBRNValue::SaveToStream(TBRNMemoryStream& Stream) const {
  bool null = GetNull();
  Stream.WriteBoolean(null);
  if (null) return;
  switch (DataType) {
    case dtLob:
      if (TBRNMemoryStream* lob = GetStreamData()) {
        Stream.WriteInteger(int32_t(lob->GetSize()));
        lob->SaveToStream(Stream, 0);
        break;
      }
      // A LOB without a stream writes its buffer as text or bytes do.
      [[fallthrough]];
    case dtChar:
    case dtBytes: {
      // A fixed-length value writes its whole declared length.
      int32_t length = 0;
      const void* data = IsTextType() ? static_cast<const void*>(GetStringBuffer(length))
                                      : static_cast<const void*>(GetBytesBuffer(length));
      Stream.WriteInteger(length);
      if (length > 0) Stream.Write(data, length);
      break;
    }
    case dtBoolean:
      Stream.WriteBoolean(GetBooleanData());
      break;
    case dtSmallInt:
      Stream.WriteSmallInt(GetSmallIntData());
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      Stream.WriteInteger(GetInt32Data());
      break;
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
      Stream.WriteInt64(GetInt64Data());
      break;
    case dtFloat:
      Stream.WriteDouble(GetFloatData());
      break;
    case dtDecimal:
      Stream.WriteCurrency(GetDecimalData());
      break;
    default:
      break;
  }
}

void TBRNValue::LoadFromStream(TBRNMemoryStream& Stream) {
  bool null = Stream.ReadBoolean();
  SetNull(null);
  if (null) return;
  switch (DataType) {
    case dtChar:
    case dtBytes:
    case dtLob: {
      // A count is checked against the bytes that remain before anything is
      // sized by it: a damaged or hostile stream must not make us allocate.
      int32_t count = Stream.ReadInteger();
      if (DataType == dtLob && count <= 0) {
        SetStreamData(nullptr, 0);
        break;
      }
      if (count < 0 || count > Stream.GetRemaining()) FailConversion(IntegerToString(count), false);
      if (DataType == dtLob) {
        SetStreamData(&Stream, count);
        break;
      }
      // The data is taken in place; with no bytes there is no place to point
      // at (the position may lie beyond the end).
      const uint8_t* data = count > 0 ? Stream.GetMemory() + Stream.GetPosition() : nullptr;
      if (DataType == dtChar)
        SetStringData(std::string_view(reinterpret_cast<const char*>(data), size_t(count)));
      else
        SetBytesData(std::span(data, size_t(count)));
      Stream.Seek(1, count);
      break;
    }
    case dtBoolean:
      SetBooleanData(Stream.ReadBoolean());
      break;
    case dtSmallInt:
      SetSmallIntData(Stream.ReadSmallInt());
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      SetInt32Data(Stream.ReadInteger());
      break;
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
      SetInt64Data(Stream.ReadInt64());
      break;
    case dtFloat:
      SetFloatData(Stream.ReadDouble());
      break;
    case dtDecimal:
      SetDecimalData(RoundToScale(Stream.ReadCurrency()));
      break;
    default:
      break;
  }
}

}  // namespace brn
