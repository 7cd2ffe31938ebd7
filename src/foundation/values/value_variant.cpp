// Exchange of values with the platform's Variant and with the native record
// buffers of the dataset components.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/core/byte_order.h"
#include "foundation/types/literal_text.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/values/value.h"
#include "platform/bcd.h"
#include "platform/variant.h"

namespace brn {

void TBRNValue::GetAsVariant(TVariant& V) const {
  if (GetNull() || DataType <= dtNull || DataType > dtDayTimeInterval) {
    V = TVariant::Null();
    return;
  }
  switch (DataType) {
    case dtChar:
    case dtBytes:
    case dtLob:
      V = IsTextType() ? TVariant::FromString(TextView()) : TVariant::FromByteArray(GetAsBytes());
      break;
    case dtBoolean:
      V = TVariant::FromBoolean(GetBooleanData());
      break;
    case dtSmallInt:
      V = TVariant::FromSmallInt(GetSmallIntData());
      break;
    case dtInteger:
    case dtYearMonthInterval:
      V = TVariant::FromInteger(GetInt32Data());
      break;
    case dtBigInt:
    case dtDayTimeInterval:
      V = TVariant::FromInt64(GetInt64Data());
      break;
    case dtFloat:
      V = TVariant::FromDouble(GetFloatData());
      break;
    case dtDecimal:
      V = TVariant::FromCurrency(GetDecimalData());
      break;
    default:
      V = TVariant::FromDate(GetAsDateTime());
      break;
  }
}

bool TBRNValue::VariantIsArray(const TVariant& V) {
  return V.IsArray();
}

void TBRNValue::SetAsVariant(const TVariant& V) {
  if (V.IsEmptyOrNull()) {
    SetNull(true);
    return;
  }
  SetNull(false);
  bool takesBytes = DataType == dtBytes || (DataType == dtLob && SubType != stClob);
  if (VariantIsArray(V)) {
    if (V.VType() != (varArray | varByte)) FailConversion("", false);
    if (!(takesBytes || DataType == dtLob))
      FailConversion(FormatBytesLiteral(V.AsByteArray()), false);
    SetAsBytes(V.AsByteArray());
    return;
  }
  switch (V.VType()) {
    case varSmallint:
      SetAsSmallInt(V.AsSmallInt());
      break;
    case varByte:
      SetAsSmallInt(V.AsByte());
      break;
    case varInteger:
      SetAsInteger(V.AsInteger());
      break;
    case varWord:
      SetAsInteger(V.AsWord());
      break;
    case varSingle:
      SetAsFloat(V.AsSingle());
      break;
    case varDouble:
      SetAsFloat(V.AsDouble());
      break;
    case varCurrency:
      SetAsDecimal(V.AsCurrency());
      break;
    case varDate:
      SetAsDateTime(V.AsDate());
      break;
    case varOleStr:
    case varStrArg: {
      const std::u16string& text = V.AsWideString();
      if (takesBytes) {
        // The UTF-16 code units, two little-endian bytes each.
        TBRNBytes bytes(text.size() * 2);
        for (size_t i = 0; i < text.size(); ++i)
          StoreLittleEndian(&bytes[i * 2], uint16_t(text[i]));
        SetAsBytes(bytes);
      } else {
        SetAsString(WideToAnsi(text));
      }
      break;
    }
    case varBoolean:
      SetAsBoolean(V.AsBoolean());
      break;
    case varLongWord:
      SetAsBigInt(V.AsLongWord());
      break;
    case varInt64:
      SetAsBigInt(V.AsInt64());
      break;
    case varString: {
      const std::string& text = V.AsString();
      if (takesBytes)
        SetAsBytes(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
      else
        SetAsString(text);
      break;
    }
    default:
      FailConversion("", true);
  }
}

bool TBRNValue::GetAsFieldBuffer(void* Buffer, bool DatasetFormat) const {
  bool null = GetNull();
  if (Buffer == nullptr || null) return !null;
  auto* target = static_cast<uint8_t*>(Buffer);
  switch (DataType) {
    case dtChar: {
      std::string_view text = TextView();
      if (!text.empty()) std::memcpy(target, text.data(), text.size());
      target[text.size()] = 0;
      break;
    }
    case dtBytes: {
      int32_t length = 0;
      const uint8_t* bytes = GetBytesBuffer(length);
      if (length == 0) break;
      if (SubType == stDefault) {
        // The dataset's variable bytes carry a 16-bit length.
        length = length > UINT16_MAX ? UINT16_MAX : length;
        StoreLittleEndian(target, uint16_t(length));
        target += 2;
      }
      std::memcpy(target, bytes, size_t(length));
      break;
    }
    case dtBoolean:
      if (DatasetFormat)
        StoreLittleEndian(target, int16_t(GetBooleanData() ? -1 : 0));
      else
        *target = GetBooleanData() ? 1 : 0;
      break;
    case dtSmallInt:
      StoreLittleEndian(target, GetSmallIntData());
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      StoreLittleEndian(target, GetInt32Data());
      break;
    case dtBigInt:
    case dtDayTimeInterval:
      StoreLittleEndian(target, GetInt64Data());
      break;
    case dtFloat:
      StoreLittleEndian(target, GetFloatData());
      break;
    case dtDecimal:
      if (DatasetFormat) {
        TBcd bcd;
        // 32 digits always hold a decimal.
        CurrencyToBcd(GetDecimalData(), bcd, 32, Scale);
        std::memcpy(target, &bcd, sizeof bcd);
      } else {
        StoreLittleEndian(target, GetDecimalData());
      }
      break;
    case dtTimestamp:
      if (DatasetFormat)
        StoreLittleEndian(target, double(GetInt64Data()));
      else
        StoreLittleEndian(target, GetInt64Data());
      break;
    default:
      break;
  }
  return true;
}

void TBRNValue::SetAsFieldBuffer(const void* Buffer, bool DatasetFormat) {
  if (Buffer == nullptr) {
    SetNull(true);
    return;
  }
  SetNull(false);
  const auto* source = static_cast<const uint8_t*>(Buffer);
  switch (DataType) {
    case dtChar:
      SetStringData(std::string_view(reinterpret_cast<const char*>(source)));
      break;
    case dtBytes:
      if (SubType == stDefault)
        SetBytesData(std::span(source + 2, LoadLittleEndian<uint16_t>(source)));
      else
        SetBytesData(std::span(source, size_t(std::max(GetLength(), 0))));
      break;
    case dtBoolean:
      SetBooleanData(DatasetFormat ? LoadLittleEndian<int16_t>(source) != 0 : *source != 0);
      break;
    case dtSmallInt:
      SetSmallIntData(LoadLittleEndian<int16_t>(source));
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      SetInt32Data(LoadLittleEndian<int32_t>(source));
      break;
    case dtBigInt:
    case dtDayTimeInterval:
      SetInt64Data(LoadLittleEndian<int64_t>(source));
      break;
    case dtFloat:
      SetFloatData(LoadLittleEndian<double>(source));
      break;
    case dtDecimal: {
      int64_t scaled = 0;
      if (DatasetFormat) {
        TBcd bcd;
        std::memcpy(&bcd, source, sizeof bcd);
        if (!BcdToCurrency(bcd, scaled)) FailConversion("", false);
      } else {
        scaled = LoadLittleEndian<int64_t>(source);
      }
      SetDecimalData(RoundToScale(scaled));
      break;
    }
    case dtTimestamp:
      if (DatasetFormat) {
        double ms = LoadLittleEndian<double>(source);
        // Checked before the conversion: the double may be anything.
        if (!FloatFitsBigInt(ms)) FailRange(FormatFloatLiteral(ms), true);
        SetInt64Data(int64_t(ms));
      } else {
        SetInt64Data(LoadLittleEndian<int64_t>(source));
      }
      break;
    default:
      break;
  }
}

}  // namespace brn
