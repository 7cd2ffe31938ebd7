#include "foundation/values/contained_value.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "foundation/core/byte_order.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/literal_text.h"
#include "foundation/values/value_same_type.h"

namespace brn {

namespace {

bool IsFixedSubType(TBRNDataSubType subType) {
  return subType == stFixed || subType == stGuid;
}

}  // namespace

TBRNContainedValue::TBRNContainedValue() {
  IsContained = true;
}

TBRNContainedValue::~TBRNContainedValue() = default;

bool TBRNContainedValue::IsVariableText() const {
  return (DataType == dtChar || DataType == dtBytes) && !IsFixedSubType(SubType);
}

bool TBRNContainedValue::IsFixedText() const {
  return (DataType == dtChar || DataType == dtBytes) && IsFixedSubType(SubType);
}

int32_t TBRNContainedValue::GetDeclaredLength() const {
  return EnforcesDeclaredLength() ? DeclaredLength : 0;
}

void TBRNContainedValue::AddLengthPrefix(int32_t& Size) const {
  if (IsVariableText()) Size += 4;
}

void TBRNContainedValue::SetDataType(TBRNDataTypeCode Code) {
  if (Code == DataType) return;
  TBRNDataTypeCode oldType = DataType;
  int32_t length = GetLength();
  int32_t size = GetDataSize();
  NormalizeDataType(Code, DataType, SubType, length, size, Scale, Collation);
  SwitchStorage(oldType);
  if (GetLength() != length) {
    SetLength(length);
  } else {
    AddLengthPrefix(size);
    if (size != GetDataSize()) SetDataSize(size);
  }
}

void TBRNContainedValue::SetDataSubType(TBRNDataSubType NewSubType) {
  if (NewSubType == SubType) return;
  int32_t length = DeclaredLength;
  int32_t size = GetDataSize();
  NormalizeDataSubType(DataType, NewSubType, SubType, length, size, Scale, Collation);
  // Text and bytes change between a prefixed and a fixed buffer: size it
  // again for the declared length (which a GUID subtype sets).
  if (DataType == dtChar || DataType == dtBytes) SetLength(length);
}

void TBRNContainedValue::SetScale(int32_t NewScale) {
  NormalizeScale(DataType, SubType, NewScale, Scale);
}

void TBRNContainedValue::SetCollation(int32_t NewCollation) {
  NormalizeCollation(DataType, SubType, NewCollation, Collation);
}

void TBRNContainedValue::SwitchStorage(TBRNDataTypeCode OldType) {
  bool wasInline = IsInlineType(OldType);
  if (wasInline == IsInlineType(DataType)) return;
  if (wasInline) {
    InlineSize = 0;
    std::memset(InlineData, 0, sizeof(InlineData));
  } else {
    Stream.SetSize(0);  // frees the buffer
  }
}

int32_t TBRNContainedValue::GetDataSize() const {
  if (IsInlineType(DataType)) return InlineSize;
  return int32_t(Stream.TBRNMemoryStream::GetSize());
}

void TBRNContainedValue::SetDataSize(int32_t Size) {
  if (!IsInlineType(DataType)) {
    Stream.SetSize(Size);
    return;
  }
  if (Size < 0) throw std::invalid_argument("A value's data size cannot be negative");
  auto size = uint8_t(std::min<int32_t>(Size, sizeof(InlineData)));
  if (size < InlineSize) std::memset(InlineData + size, 0, InlineSize - size);
  InlineSize = size;
}

int32_t TBRNContainedValue::GetLength() const {
  switch (DataType) {
    case dtChar:
    case dtBytes: {
      if (IsFixedSubType(SubType)) return DeclaredLength;
      int32_t count = 0;
      GetBytesBuffer(count);
      return count;
    }
    case dtLob:
      return int32_t(Stream.TBRNMemoryStream::GetSize());
    default:
      return 0;
  }
}

void TBRNContainedValue::SetLength(int32_t Length) {
  int32_t size = GetDataSize();
  NormalizeDataLength(DataType, SubType, Length, false, size, DeclaredLength);
  if (IsVariableText()) {
    // Sized by what it holds: the count and the data already there, cut to
    // a shorter declared length. The declared length is only a limit; it
    // comes from statement text and may be anything up to 2^31 - 1.
    int32_t count = 0;
    GetBytesBuffer(count);
    count = std::min(count, std::max(DeclaredLength, 0));
    size = count + 4;
    if (size > GetDataSize()) SetDataSize(size);
    StoreLittleEndian(Stream.GetMemory(), count);
  }
  if (size != GetDataSize()) SetDataSize(size);
}

void TBRNContainedValue::SetDeclaredLengthOnly(int32_t Length) {
  int32_t size = GetDataSize();
  NormalizeDataLength(DataType, SubType, Length, false, size, DeclaredLength);
}

// The numeric raw access reads the inline datum, or the stream of a
// fixed-length bytes value read raw as a number.
template <typename T>
T TBRNContainedValue::ReadRaw() const {
  if (IsInlineType(DataType)) {
    if (InlineSize < sizeof(T)) return T{};
    return LoadLittleEndian<T>(InlineData);
  }
  if (Stream.TBRNMemoryStream::GetSize() < int64_t(sizeof(T))) return T{};
  return LoadLittleEndian<T>(Stream.GetMemory());
}

template <typename T>
void TBRNContainedValue::WriteRaw(T value) {
  static_assert(sizeof(T) <= sizeof(InlineData));
  if (IsInlineType(DataType)) {
    if (InlineSize < sizeof(T)) InlineSize = uint8_t(sizeof(T));
    StoreLittleEndian(InlineData, value);
    return;
  }
  if (Stream.TBRNMemoryStream::GetSize() < int64_t(sizeof(T))) Stream.SetSize(sizeof(T));
  StoreLittleEndian(Stream.GetMemory(), value);
}

const uint8_t* TBRNContainedValue::GetBytesBuffer(int32_t& Length) const {
  const uint8_t* memory = Stream.GetMemory();
  int32_t size = int32_t(Stream.TBRNMemoryStream::GetSize());
  switch (DataType) {
    case dtChar:
    case dtBytes:
      if (IsFixedSubType(SubType)) {
        Length = std::clamp(DeclaredLength, 0, size);
        return memory;
      }
      if (size < 4) {
        Length = 0;
        return memory;
      }
      // The count never reaches beyond the buffer, whatever was stored.
      Length = std::clamp(LoadLittleEndian<int32_t>(memory), 0, size - 4);
      return memory + 4;
    case dtLob:
      Length = size;
      return memory;
    default:
      Length = 0;
      return nullptr;
  }
}

const char* TBRNContainedValue::GetStringBuffer(int32_t& Length) const {
  return reinterpret_cast<const char*>(GetBytesBuffer(Length));
}

void TBRNContainedValue::GetStringData(std::string& Text) const {
  if (DataType != dtChar && DataType != dtLob) return;
  int32_t length = 0;
  const char* text = GetStringBuffer(length);
  Text.assign(text == nullptr ? "" : text, size_t(length));
}

void TBRNContainedValue::GetBytesData(TBRNBytes& Bytes) const {
  if (DataType != dtBytes && DataType != dtLob) return;
  int32_t length = 0;
  const uint8_t* bytes = GetBytesBuffer(length);
  Bytes.assign(bytes, bytes + length);
}

bool TBRNContainedValue::GetBooleanData() const {
  return ReadRaw<uint8_t>() != 0;
}

int16_t TBRNContainedValue::GetSmallIntData() const {
  return ReadRaw<int16_t>();
}

int32_t TBRNContainedValue::GetInt32Data() const {
  return ReadRaw<int32_t>();
}

int64_t TBRNContainedValue::GetInt64Data() const {
  return ReadRaw<int64_t>();
}

int64_t TBRNContainedValue::GetDecimalData() const {
  return ReadRaw<int64_t>();
}

double TBRNContainedValue::GetFloatData() const {
  return ReadRaw<double>();
}

void TBRNContainedValue::WritePrefixedData(const void* data, int32_t count) {
  if (Stream.TBRNMemoryStream::GetSize() < int64_t(count) + 4) Stream.SetSize(int64_t(count) + 4);
  uint8_t* memory = Stream.GetMemory();
  StoreLittleEndian(memory, count);
  if (count > 0) std::memcpy(memory + 4, data, size_t(count));
}

void TBRNContainedValue::SetStringData(std::string_view Text) {
  if (DataType == dtBytes) return;
  StoreData(std::span(reinterpret_cast<const uint8_t*>(Text.data()), Text.size()));
}

void TBRNContainedValue::SetBytesData(std::span<const uint8_t> Bytes) {
  if (DataType == dtChar) return;
  StoreData(Bytes);
}

void TBRNContainedValue::StoreData(std::span<const uint8_t> Bytes) {
  if (DataType == dtLob) {
    Stream.SetSize(int64_t(Bytes.size()));
    if (!Bytes.empty()) std::memcpy(Stream.GetMemory(), Bytes.data(), Bytes.size());
    return;
  }
  if (DataType != dtChar && DataType != dtBytes) return;
  bool isText = DataType == dtChar;
  if (IsFixedSubType(SubType)) {
    // Exactly the declared length: cut, or padded with blanks or zeros.
    int32_t width = std::max(DeclaredLength, 0);
    if (Stream.TBRNMemoryStream::GetSize() < width) Stream.SetSize(width);
    uint8_t* memory = Stream.GetMemory();
    size_t copied = std::min(Bytes.size(), size_t(width));
    if (copied > 0) std::memcpy(memory, Bytes.data(), copied);
    if (size_t(width) > copied) std::memset(memory + copied, isText ? ' ' : 0, width - copied);
    return;
  }
  if (Bytes.size() > size_t(INT32_MAX - 4)) throw std::length_error("Value data too large");
  int32_t count = int32_t(Bytes.size());
  if (EnforcesDeclaredLength() && DeclaredLength > 0) {
    // Trailing blanks beyond the declared length are dropped silently; any
    // other excess is an error unless the owner asked for silent cutting.
    int32_t significant =
        isText ? TrimmedCount(reinterpret_cast<const char*>(Bytes.data()), count) : count;
    if (RaiseOnTruncation && significant > DeclaredLength) {
      if (isText)
        RaiseTruncationError(
            std::string_view(reinterpret_cast<const char*>(Bytes.data()), Bytes.size()), true);
      RaiseTruncationError(FormatBytesLiteral(Bytes), true);
    }
    count = std::min(count, DeclaredLength);
  }
  WritePrefixedData(Bytes.data(), count);
}

void TBRNContainedValue::SetStreamData(TBRNStream* Source, int32_t Count) {
  if (Count < 0) Count = 0;
  Stream.SetSize(Count);
  if (Source != nullptr && Count > 0) Stream.LoadFromStream(*Source, Count);
}

void TBRNContainedValue::SetBooleanData(bool Value) {
  WriteRaw<uint8_t>(Value ? 1 : 0);
}

void TBRNContainedValue::SetSmallIntData(int16_t Value) {
  WriteRaw(Value);
}

void TBRNContainedValue::SetInt32Data(int32_t Value) {
  WriteRaw(Value);
}

void TBRNContainedValue::SetInt64Data(int64_t Value) {
  WriteRaw(Value);
}

void TBRNContainedValue::SetDecimalData(int64_t Value) {
  WriteRaw(Value);
}

void TBRNContainedValue::SetFloatData(double Value) {
  WriteRaw(Value);
}

int32_t TBRNContainedValue::GetMemorySize() const {
  return TBRNValue::GetMemorySize() + int32_t(sizeof(TBRNContainedValue) - sizeof(TBRNValue)) +
         Stream.GetCapacity();
}

int32_t TBRNContainedValue::Compare(const TBRNValue& Other, int32_t PartialLength, bool IgnoreCase,
                                    int32_t Collation) const {
  if (!Other.IsContained) return TBRNValue::Compare(Other, PartialLength, IgnoreCase, Collation);
  const auto& other = static_cast<const TBRNContainedValue&>(Other);
  if (NullFlag || other.NullFlag) return NullFlag == other.NullFlag ? 0 : (NullFlag ? -1 : 1);
  if (other.DataType != DataType)
    return CompareConverting(Other, PartialLength, IgnoreCase, Collation);
  return CompareSameType(*this, other, PartialLength, IgnoreCase, Collation);
}

void TBRNContainedValue::SaveToStream(TBRNMemoryStream& Stream) const {
  Stream.WriteBoolean(NullFlag);
  if (!NullFlag) SaveDataToStream(*this, Stream);
}

void TBRNContainedValue::LoadFromStream(TBRNMemoryStream& Stream) {
  bool null = Stream.ReadBoolean();
  if (null != NullFlag) {
    // As SetNull: a value becoming NULL is cleared first.
    if (null) Clear();
    NullFlag = null;
  }
  if (!null) LoadDataFromStream(*this, Stream);
}

// Reference values: every raw access goes to the referenced value.

bool TBRNReferenceValue::GetNull() const {
  return GetReferencedValue()->GetNull();
}
void TBRNReferenceValue::SetNullFlag(bool Value) {
  GetReferencedValue()->SetNullFlag(Value);
}
int32_t TBRNReferenceValue::GetDataSize() const {
  return GetReferencedValue()->GetDataSize();
}
void TBRNReferenceValue::SetDataSize(int32_t Size) {
  GetReferencedValue()->SetDataSize(Size);
}
int32_t TBRNReferenceValue::GetLength() const {
  return GetReferencedValue()->GetLength();
}
void TBRNReferenceValue::SetLength(int32_t Length) {
  GetReferencedValue()->SetLength(Length);
}
const TBRNMemoryStream* TBRNReferenceValue::GetStreamData() const {
  return GetReferencedValue()->GetStreamData();
}
void TBRNReferenceValue::GetStringData(std::string& Text) const {
  GetReferencedValue()->GetStringData(Text);
}
const char* TBRNReferenceValue::GetStringBuffer(int32_t& Length) const {
  return GetReferencedValue()->GetStringBuffer(Length);
}
void TBRNReferenceValue::GetBytesData(TBRNBytes& Bytes) const {
  GetReferencedValue()->GetBytesData(Bytes);
}
const uint8_t* TBRNReferenceValue::GetBytesBuffer(int32_t& Length) const {
  return GetReferencedValue()->GetBytesBuffer(Length);
}
bool TBRNReferenceValue::GetBooleanData() const {
  return GetReferencedValue()->GetBooleanData();
}
int16_t TBRNReferenceValue::GetSmallIntData() const {
  return GetReferencedValue()->GetSmallIntData();
}
int32_t TBRNReferenceValue::GetInt32Data() const {
  return GetReferencedValue()->GetInt32Data();
}
int64_t TBRNReferenceValue::GetInt64Data() const {
  return GetReferencedValue()->GetInt64Data();
}
int64_t TBRNReferenceValue::GetDecimalData() const {
  return GetReferencedValue()->GetDecimalData();
}
double TBRNReferenceValue::GetFloatData() const {
  return GetReferencedValue()->GetFloatData();
}
void TBRNReferenceValue::SetStringData(std::string_view Text) {
  GetReferencedValue()->SetStringData(Text);
}
void TBRNReferenceValue::SetBytesData(std::span<const uint8_t> Bytes) {
  GetReferencedValue()->SetBytesData(Bytes);
}
void TBRNReferenceValue::SetStreamData(TBRNStream* Source, int32_t Count) {
  GetReferencedValue()->SetStreamData(Source, Count);
}
void TBRNReferenceValue::SetBooleanData(bool Value) {
  GetReferencedValue()->SetBooleanData(Value);
}
void TBRNReferenceValue::SetSmallIntData(int16_t Value) {
  GetReferencedValue()->SetSmallIntData(Value);
}
void TBRNReferenceValue::SetInt32Data(int32_t Value) {
  GetReferencedValue()->SetInt32Data(Value);
}
void TBRNReferenceValue::SetInt64Data(int64_t Value) {
  GetReferencedValue()->SetInt64Data(Value);
}
void TBRNReferenceValue::SetDecimalData(int64_t Value) {
  GetReferencedValue()->SetDecimalData(Value);
}
void TBRNReferenceValue::SetFloatData(double Value) {
  GetReferencedValue()->SetFloatData(Value);
}

}  // namespace brn
