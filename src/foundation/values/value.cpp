#include "foundation/values/value.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

[[noreturn]] void RaiseValueError(std::string_view name, std::string_view detail) {
  RaiseConversionFailure("value", name, detail);
}

}  // namespace

std::string TBRNValue::TruncationDetail(std::string_view Text, bool IncludeText) {
  if (!IncludeText) return "The value would result in truncation";
  return FormatText("The value %s would result in truncation", {Text});
}

std::string TBRNValue::OutOfRangeDetail(std::string_view Text, bool IncludeText) const {
  std::string typeName = DataTypeName(DataType, SubType);
  if (!IncludeText)
    return FormatText("The value is out of the range of permissible values for the %s type",
                      {typeName});
  return FormatText("The value %s is out of the range of permissible values for the %s type",
                    {Text, typeName});
}

std::string TBRNValue::ConversionDetail(std::string_view Text, bool IncludeText) {
  if (!IncludeText) return "A conversion error occurred with the value";
  return FormatText("A conversion error occurred with the value %s", {Text});
}

void TBRNValue::RaiseTruncationError(std::string_view Text, bool IncludeText) const {
  RaiseValueError(IncludeText ? MessageText() : std::string(Text),
                  TruncationDetail(Text, IncludeText));
}

void TBRNValue::RaiseOutOfRangeError(std::string_view Text, bool IncludeText) const {
  RaiseValueError(IncludeText ? MessageText() : std::string(Text),
                  OutOfRangeDetail(Text, IncludeText));
}

void TBRNValue::RaiseConversionError(std::string_view Text, bool IncludeText) const {
  RaiseValueError(IncludeText ? MessageText() : std::string(Text),
                  ConversionDetail(Text, IncludeText));
}

void TBRNValue::FailConversion(std::string_view Text, bool IncludeText) const {
  RaiseConversionError(Text, IncludeText);
  throw std::logic_error("A value's conversion error returned");
}

void TBRNValue::FailRange(std::string_view Text, bool IncludeText) const {
  RaiseOutOfRangeError(Text, IncludeText);
  throw std::logic_error("A value's range error returned");
}

std::string TBRNValue::MessageText() const {
  if (DataType <= dtNull || DataType > dtDayTimeInterval) return std::string();
  try {
    return GetAsString();
  } catch (const EBRNException&) {
    return std::string();
  }
}

void TBRNValue::SetDataType(TBRNDataTypeCode Code) {
  DataType = Code;
}

void TBRNValue::SetDataSubType(TBRNDataSubType NewSubType) {
  SubType = NewSubType;
}

void TBRNValue::SetScale(int32_t NewScale) {
  Scale = NewScale;
}

void TBRNValue::SetCollation(int32_t NewCollation) {
  Collation = NewCollation;
}

int32_t TBRNValue::GetMemorySize() const {
  return int32_t(sizeof(TBRNValue));
}

bool TBRNValue::IsTextType() const {
  return IsTextDataType(DataType, SubType);
}

std::string_view TBRNValue::TextView() const {
  int32_t length = 0;
  const char* text = GetStringBuffer(length);
  return text == nullptr ? std::string_view() : std::string_view(text, size_t(length));
}

bool TBRNValue::IsRawBytes(int32_t Width) const {
  return DataType == dtBytes && SubType == stFixed && GetLength() == Width;
}

int64_t TBRNValue::RoundToScale(int64_t Scaled) const {
  if (Scale >= 4) return Scaled;
  // Most decimals already fit their scale; only the others need rounding.
  static constexpr int64_t units[] = {10000, 1000, 100, 10};
  if (Scale >= 0 && Scaled % units[Scale] == 0) return Scaled;
  int64_t rounded = 0;
  bool overflow = false;
  try {
    rounded = RoundCurrency(Scaled, Scale);
  } catch (const std::overflow_error&) {
    overflow = true;
  }
  if (overflow) FailRange(BigIntToString(Scaled), true);
  return rounded;
}

void TBRNValue::Clear() {
  switch (DataType) {
    case dtChar:
      SetStringData(std::string_view());
      break;
    case dtBytes:
      SetBytesData(std::span<const uint8_t>());
      break;
    case dtLob:
      SetStreamData(nullptr, 0);
      break;
    case dtBoolean:
      SetBooleanData(false);
      break;
    case dtSmallInt:
      SetSmallIntData(0);
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      SetInt32Data(0);
      break;
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
      SetInt64Data(0);
      break;
    case dtFloat:
      SetFloatData(0.0);
      break;
    case dtDecimal:
      SetDecimalData(0);
      break;
    default:
      break;
  }
}

void TBRNValue::SetNull(bool Null) {
  if (Null == GetNull()) return;
  if (Null) Clear();
  SetNullFlag(Null);
}

namespace {

// A read-only stream over bytes kept elsewhere, so that a LOB is copied
// without moving the source value's own stream.
class TBytesReader final : public TBRNStream {
 public:
  TBytesReader(const uint8_t* bytes, int32_t size) : Bytes(bytes), Size(size) {}

  int64_t GetPosition() const override { return Position; }
  void SetPosition(int64_t position) override { Position = std::clamp<int64_t>(position, 0, Size); }
  int64_t GetSize() const override { return Size; }
  void SetSize(int64_t) override { throw std::logic_error("A bytes reader is read-only"); }
  int64_t Seek(uint8_t origin, int64_t offset) override {
    int64_t base = origin == 0 ? 0 : (origin == 1 ? Position : Size);
    SetPosition(base + offset);
    return Position;
  }
  int32_t ReadIntoArray(TBRNBytes& bytes, int32_t offset, int32_t count) override {
    if (offset < 0 || count < 0 || size_t(offset) + size_t(count) > bytes.size())
      throw std::out_of_range("Bytes reader target range");
    return Read(bytes.data() + offset, count);
  }
  int32_t Read(void* buffer, int32_t count) override {
    int32_t taken = int32_t(std::clamp<int64_t>(Size - Position, 0, std::max(count, 0)));
    if (taken > 0) std::memcpy(buffer, Bytes + Position, size_t(taken));
    Position += taken;
    return taken;
  }
  int32_t WriteFromArray(const TBRNBytes&, int32_t, int32_t) override {
    throw std::logic_error("A bytes reader is read-only");
  }
  int32_t Write(const void*, int32_t) override {
    throw std::logic_error("A bytes reader is read-only");
  }

 private:
  const uint8_t* Bytes;
  int64_t Size;
  int64_t Position = 0;
};

// Replaces the LOB data of target by the whole LOB of source, read in place:
// the source's stream is not moved, as other threads may be reading it.
void CopyLobStream(const TBRNValue& source, TBRNValue& target) {
  int32_t length = 0;
  const uint8_t* bytes = nullptr;
  if (const TBRNMemoryStream* stream = source.GetStreamData()) {
    length = int32_t(stream->GetSize());
    bytes = stream->GetMemory();
  } else {
    bytes = source.GetBytesBuffer(length);
  }
  TBytesReader reader(bytes, length);
  target.SetStreamData(&reader, length);
}

}  // namespace

void TBRNValue::Assign(const TBRNValue& Source) {
  if (&Source == this) return;
  if (Source.GetNull()) {
    SetNull(true);
    return;
  }
  BeginSetting();
  if (Source.GetDataType() != DataType) {
    AssignConverting(Source);
    return;
  }
  switch (DataType) {
    case dtChar:
      SetStringData(Source.TextView());
      break;
    case dtBytes: {
      int32_t length = 0;
      const uint8_t* bytes = Source.GetBytesBuffer(length);
      SetBytesData(std::span(bytes, size_t(length)));
      break;
    }
    case dtLob:
      if (SubType == stClob && Source.GetSubType() == stClob)
        SetStringData(Source.TextView());
      else
        CopyLobStream(Source, *this);
      break;
    case dtBoolean:
      SetBooleanData(Source.GetBooleanData());
      break;
    case dtSmallInt:
      SetSmallIntData(Source.GetSmallIntData());
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      SetInt32Data(Source.GetInt32Data());
      break;
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
      SetInt64Data(Source.GetInt64Data());
      break;
    case dtFloat:
      SetFloatData(Source.GetFloatData());
      break;
    case dtDecimal:
      SetDecimalData(RoundToScale(Source.GetDecimalData()));
      break;
    default:
      break;
  }
}

void TBRNValue::AssignConverting(const TBRNValue& Source) {
  switch (Source.GetDataType()) {
    case dtBytes: {
      int32_t length = 0;
      const uint8_t* bytes = Source.GetBytesBuffer(length);
      SetAsBytes(std::span(bytes, size_t(length)));
      break;
    }
    case dtChar:
      SetAsString(Source.TextView());
      break;
    case dtLob:
      if (Source.GetSubType() == stClob) {
        SetAsString(Source.TextView());
      } else if (DataType == dtChar) {
        // A BLOB's bytes taken as characters.
        int32_t length = 0;
        const uint8_t* bytes = Source.GetBytesBuffer(length);
        SetAsString(std::string_view(reinterpret_cast<const char*>(bytes), size_t(length)));
      } else {
        if (DataType != dtLob) RaiseConversionError(Source.GetAsString(), true);
        BeginSetting();
        CopyLobStream(Source, *this);
      }
      break;
    case dtBoolean:
      SetAsBoolean(Source.GetBooleanData());
      break;
    case dtSmallInt:
      SetAsSmallInt(Source.GetSmallIntData());
      break;
    case dtInteger:
      SetAsInteger(Source.GetInt32Data());
      break;
    case dtBigInt:
      SetAsBigInt(Source.GetInt64Data());
      break;
    case dtFloat:
      SetAsFloat(Source.GetFloatData());
      break;
    case dtDecimal:
      SetAsDecimal(Source.GetDecimalData());
      break;
    case dtDate:
      SetAsDate(Source.GetInt32Data());
      break;
    case dtTime:
      SetAsTime(Source.GetInt32Data());
      break;
    case dtTimestamp:
      SetAsTimestamp(Source.GetInt64Data());
      break;
    case dtYearMonthInterval:
      SetAsQualifiedYearMonthInterval(Source.GetInt32Data(), Source.GetSubType());
      break;
    case dtDayTimeInterval:
      SetAsQualifiedDayTimeInterval(Source.GetSubType(), Source.GetInt64Data());
      break;
    default:
      break;
  }
}

}  // namespace brn
