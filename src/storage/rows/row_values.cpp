#include "storage/rows/row_values.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <typeinfo>

#include "foundation/core/byte_order.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/literal_text.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

bool isFixedSubType(TBRNDataSubType subType) {
  return subType == stFixed || subType == stGuid;
}

// Sets the stream's Loading flag for the life of the guard, so that the
// value's own filling and emptying of its stream marks nothing.
class TLoadingGuard {
 public:
  explicit TLoadingGuard(TBRNStaticRowValueBlobMemoryStream& stream)
      : stream_(stream), previous_(stream.Loading) {
    stream_.Loading = true;
  }
  ~TLoadingGuard() { stream_.Loading = previous_; }
  TLoadingGuard(const TLoadingGuard&) = delete;
  TLoadingGuard& operator=(const TLoadingGuard&) = delete;

 private:
  TBRNStaticRowValueBlobMemoryStream& stream_;
  bool previous_;
};

// Sets a flag for the life of the guard (re-entry guards).
class TFlagGuard {
 public:
  explicit TFlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~TFlagGuard() { flag_ = false; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& flag_;
};

// The position of Column's value in Values: the column's list index when
// it matches, else a search; -1 when the column has no value there.
int32_t valueIndexOf(const TBRNRowValues& Values, const TBRNColumn* Column) {
  int32_t index = Column->Index;
  if (index >= 0 && index < Values.GetCount() && Values.GetRowValue(index) != nullptr &&
      &Values.GetRowValue(index)->GetColumn() == Column)
    return index;
  for (int32_t i = 0; i < Values.GetCount(); ++i) {
    TBRNRowValue* value = Values.GetRowValue(i);
    if (value != nullptr && &value->GetColumn() == Column) return i;
  }
  return -1;
}

bool isTextValue(const TBRNValue& value) {
  return IsTextDataType(value.GetDataType(), value.GetSubType());
}

}  // namespace

// TBRNRowValue ---------------------------------------------------------------

TBRNRowValue::TBRNRowValue(TBRNRowValues& Owner, TBRNColumn& Column)
    : Owner(Owner), Column(Column) {
  DataType = Column.DataType;
  SubType = Column.SubType;
  Scale = Column.Scale;
  Collation = Column.Collation;
}

TBRNRowValue::~TBRNRowValue() = default;

void TBRNRowValue::SetModified(bool Flag) {
  if (SettingModified) return;
  TFlagGuard guard(SettingModified);
  PreviousModified = Modified;
  Modified = Flag;
  if (!Flag) return;
  if (Column.HasDependentColumns()) {
    TBRNSelectedColumns* dependents = Column.GetDependentColumns();
    for (int32_t i = 0; i < dependents->Count(); ++i) {
      int32_t index = valueIndexOf(Owner, dependents->GetItem(i));
      if (index >= 0) Owner.GetRowValue(index)->SetModified(true);
    }
  }
  Owner.RowModified = true;
}

int32_t TBRNRowValue::GetBlobBlock() const {
  return 0;
}

void TBRNRowValue::SetBlobBlock(int32_t) {}

int32_t TBRNRowValue::GetBlobLength() const {
  return 0;
}

void TBRNRowValue::SetBlobLength(int32_t) {}

void TBRNRowValue::ClearModified() {
  Modified = false;
  UnloadBlob();
}

void TBRNRowValue::LoadBlob() {}

void TBRNRowValue::SaveBlob(int32_t) {}

void TBRNRowValue::UnloadBlob() {}

void TBRNRowValue::RaiseTruncationError(std::string_view Text, bool IncludeText) const {
  RaiseConversionFailure("column", Column.Name, TruncationDetail(Text, IncludeText));
}

void TBRNRowValue::RaiseOutOfRangeError(std::string_view Text, bool IncludeText) const {
  RaiseConversionFailure("column", Column.Name, OutOfRangeDetail(Text, IncludeText));
}

void TBRNRowValue::RaiseConversionError(std::string_view Text, bool IncludeText) const {
  RaiseConversionFailure("column", Column.Name, ConversionDetail(Text, IncludeText));
}

// TBRNStaticRowValueBlobMemoryStream ------------------------------------------

TBRNStaticRowValueBlobMemoryStream::TBRNStaticRowValueBlobMemoryStream(TBRNStaticRowValue& Value)
    : Value(Value) {}

void TBRNStaticRowValueBlobMemoryStream::SetSize(int64_t size) {
  TBRNMemoryStream::SetSize(size);
  changed();
}

int32_t TBRNStaticRowValueBlobMemoryStream::Write(const void* buffer, int32_t count) {
  int32_t written = 0;
  {
    // A growing write sizes the stream first: the value hears of the write
    // once, when the data is in.
    TLoadingGuard quiet(*this);
    written = TBRNMemoryStream::Write(buffer, count);
  }
  changed();
  return written;
}

int32_t TBRNStaticRowValueBlobMemoryStream::WriteFromArray(const TBRNBytes& bytes, int32_t offset,
                                                           int32_t count) {
  int32_t written = 0;
  {
    TLoadingGuard quiet(*this);
    written = TBRNMemoryStream::WriteFromArray(bytes, offset, count);
  }
  changed();
  return written;
}

void TBRNStaticRowValueBlobMemoryStream::changed() {
  if (!Loading) Value.streamChanged();
}

// TBRNStaticRowValue ---------------------------------------------------------

TBRNStaticRowValue::TBRNStaticRowValue(TBRNRowValues& Owner, TBRNColumn& Column)
    : TBRNRowValue(Owner, Column),
      // Computed columns take no room in the row image: a static value of
      // one (computed columns not evaluated) has no bytes of its own.
      Width(Column.Computed ? 0 : Column.GetRowSize()) {
  if (hasStream()) BlobStream = std::make_unique<TBRNStaticRowValueBlobMemoryStream>(*this);
}

TBRNStaticRowValue::~TBRNStaticRowValue() = default;

bool TBRNStaticRowValue::isFixedWidth() const {
  return isFixedSubType(SubType);
}

const uint8_t* TBRNStaticRowValue::columnBytes() const {
  const TBRNMemoryStream* buffer = Owner.Buffer;
  if (buffer == nullptr || Width <= 0 || Column.RowOffset < 0) return nullptr;
  if (int64_t(Column.RowOffset) + Width > buffer->GetSize()) return nullptr;
  return buffer->GetMemory() + Column.RowOffset;
}

uint8_t* TBRNStaticRowValue::writableColumnBytes() {
  TBRNMemoryStream* buffer = Owner.Buffer;
  if (buffer == nullptr) throw std::logic_error("Row values are not bound to a row buffer");
  if (Width <= 0 || Column.RowOffset < 0) return nullptr;
  int64_t end = int64_t(Column.RowOffset) + Width;
  if (end > buffer->GetSize()) buffer->SetSize(end);
  return buffer->GetMemory() + Column.RowOffset;
}

int32_t TBRNStaticRowValue::dataCapacity() const {
  // The stored size holds the 2-byte prefix of variable data; the declared
  // length bounds it as well, so a column whose two disagree never writes
  // beyond its own bytes.
  int32_t room = Width - 1;
  if (!isFixedWidth()) room -= 2;
  return std::max(0, std::min(room, Column.Length));
}

const uint8_t* TBRNStaticRowValue::imageData(int32_t& Length) const {
  Length = 0;
  const uint8_t* bytes = columnBytes();
  if (bytes == nullptr || (DataType != dtChar && DataType != dtBytes)) return nullptr;
  if (isFixedWidth()) {
    Length = dataCapacity();
    return bytes + 1;
  }
  Length = std::min<int32_t>(LoadLittleEndian<uint16_t>(bytes + 1), dataCapacity());
  return bytes + 3;
}

void TBRNStaticRowValue::markWritten() {
  if (uint8_t* bytes = writableColumnBytes()) bytes[0] = 1;
  SetModified(true);
}

void TBRNStaticRowValue::ensureLoaded() const {
  if (!BlobLoaded) const_cast<TBRNStaticRowValue*>(this)->LoadBlob();
}

template <typename T>
T TBRNStaticRowValue::readScalar() const {
  const uint8_t* bytes = columnBytes();
  if (bytes == nullptr || int32_t(sizeof(T)) > Width - 1) return T{};
  return LoadLittleEndian<T>(bytes + 1);
}

template <typename T>
void TBRNStaticRowValue::writeScalar(T Value) {
  if (Width <= 0) return;
  if (int32_t(sizeof(T)) > Width - 1)
    throw std::logic_error("A row value's datum is wider than its column");
  uint8_t* bytes = writableColumnBytes();
  StoreLittleEndian(bytes + 1, Value);
  markWritten();
}

// Raw access ------------------------------------------------------------------

bool TBRNStaticRowValue::GetNull() const {
  const uint8_t* bytes = columnBytes();
  return bytes == nullptr || bytes[0] == 0;
}

void TBRNStaticRowValue::SetNullFlag(bool Value) {
  uint8_t* bytes = writableColumnBytes();
  if (bytes == nullptr) return;
  bytes[0] = Value ? 0 : 1;
  SetModified(true);
}

int32_t TBRNStaticRowValue::GetDataSize() const {
  if (isLob()) {
    ensureLoaded();
    return int32_t(BlobStream->GetSize());
  }
  return Column.Size;
}

void TBRNStaticRowValue::SetDataSize(int32_t Size) {
  if (isLob()) SetStreamData(nullptr, Size);
}

int32_t TBRNStaticRowValue::GetLength() const {
  if (isLob()) {
    ensureLoaded();
    return int32_t(BlobStream->GetSize());
  }
  if (DataType != dtChar && DataType != dtBytes) return 0;
  if (isFixedWidth()) return Column.Length;
  int32_t length = 0;
  imageData(length);
  return length;
}

void TBRNStaticRowValue::SetLength(int32_t Length) {
  if (isLob()) {
    SetStreamData(nullptr, Length);
    return;
  }
  if (DataType != dtChar && DataType != dtBytes) return;
  if (isFixedWidth() || Width <= 0) return;
  int32_t newLength = std::clamp(Length, 0, dataCapacity());
  int32_t oldLength = 0;
  imageData(oldLength);
  uint8_t* bytes = writableColumnBytes();
  if (newLength > oldLength)
    std::memset(bytes + 3 + oldLength, DataType == dtChar ? ' ' : 0, size_t(newLength - oldLength));
  StoreLittleEndian(bytes + 1, uint16_t(newLength));
  ForgetBlob();
  markWritten();
}

const TBRNMemoryStream* TBRNStaticRowValue::GetStreamData() const {
  if (!hasStream()) return nullptr;
  ensureLoaded();
  return BlobStream.get();
}

TBRNMemoryStream* TBRNStaticRowValue::GetBlobStream() {
  if (!hasStream()) return nullptr;
  LoadBlob();
  return BlobStream.get();
}

void TBRNStaticRowValue::GetStringData(std::string& Text) const {
  int32_t length = 0;
  const char* text = GetStringBuffer(length);
  Text.assign(text == nullptr ? "" : text, text == nullptr ? 0 : size_t(length));
}

const char* TBRNStaticRowValue::GetStringBuffer(int32_t& Length) const {
  return reinterpret_cast<const char*>(GetBytesBuffer(Length));
}

void TBRNStaticRowValue::GetBytesData(TBRNBytes& Bytes) const {
  int32_t length = 0;
  const uint8_t* bytes = GetBytesBuffer(length);
  Bytes.assign(bytes, bytes + (bytes == nullptr ? 0 : length));
}

const uint8_t* TBRNStaticRowValue::GetBytesBuffer(int32_t& Length) const {
  Length = 0;
  if (isLob()) {
    ensureLoaded();
    Length = int32_t(BlobStream->GetSize());
    return BlobStream->GetMemory();
  }
  return imageData(Length);
}

bool TBRNStaticRowValue::GetBooleanData() const {
  return readScalar<uint8_t>() != 0;
}

int16_t TBRNStaticRowValue::GetSmallIntData() const {
  return readScalar<int16_t>();
}

int32_t TBRNStaticRowValue::GetInt32Data() const {
  return readScalar<int32_t>();
}

int64_t TBRNStaticRowValue::GetInt64Data() const {
  return readScalar<int64_t>();
}

int64_t TBRNStaticRowValue::GetDecimalData() const {
  return readScalar<int64_t>();
}

double TBRNStaticRowValue::GetFloatData() const {
  return readScalar<double>();
}

void TBRNStaticRowValue::storeData(std::span<const uint8_t> Bytes, bool IsText) {
  if (Width <= 0) return;
  if (isLob()) {
    {
      TLoadingGuard loading(*BlobStream);
      BlobStream->SetSize(0);
      BlobStream->SetSize(int64_t(Bytes.size()));
      if (!Bytes.empty()) std::memcpy(BlobStream->GetMemory(), Bytes.data(), Bytes.size());
      BlobStream->SetPosition(0);
      BlobLoaded = true;
    }
    uint8_t* bytes = writableColumnBytes();
    StoreLittleEndian(bytes + 5, int32_t(Bytes.size()));
    markWritten();
    return;
  }
  if (DataType != dtChar && DataType != dtBytes) return;
  uint8_t pad = DataType == dtChar ? ' ' : 0;
  int32_t capacity = dataCapacity();
  int32_t count = int32_t(std::min<size_t>(Bytes.size(), size_t(INT32_MAX)));
  if (!isFixedWidth() && Owner.TruncationErrors) {
    // Blanks beyond the declared length are dropped silently; anything
    // else that does not fit is refused before the image changes.
    int32_t significant =
        IsText ? TrimmedCount(reinterpret_cast<const char*>(Bytes.data()), count) : count;
    if (significant > Column.Length || significant > capacity) {
      if (IsText)
        RaiseTruncationError(
            std::string_view(reinterpret_cast<const char*>(Bytes.data()), Bytes.size()), true);
      RaiseTruncationError(FormatBytesLiteral(Bytes), true);
    }
  }
  uint8_t* bytes = writableColumnBytes();
  int32_t stored = std::min(count, capacity);
  uint8_t* data = bytes + 1;
  if (!isFixedWidth()) {
    StoreLittleEndian(bytes + 1, uint16_t(stored));
    data = bytes + 3;
  }
  if (stored > 0) std::memmove(data, Bytes.data(), size_t(stored));
  // The rest of the column's room: padding of a fixed value, zeros behind a
  // variable one (so equal values give equal images).
  int32_t room = Width - int32_t(data - bytes);
  if (room > stored) std::memset(data + stored, isFixedWidth() ? pad : 0, size_t(room - stored));
  ForgetBlob();
  markWritten();
}

void TBRNStaticRowValue::SetStringData(std::string_view Text) {
  storeData(std::span(reinterpret_cast<const uint8_t*>(Text.data()), Text.size()), true);
}

void TBRNStaticRowValue::SetBytesData(std::span<const uint8_t> Bytes) {
  storeData(Bytes, DataType == dtChar || (DataType == dtLob && SubType == stClob));
}

void TBRNStaticRowValue::SetStreamData(TBRNStream* Source, int32_t Count) {
  if (Count < 0) Count = 0;
  if (!hasStream() || Width <= 0) return;
  if (!isLob()) {
    TBRNBytes data(size_t(Count), 0);
    int32_t read = 0;
    if (Source != nullptr && Count > 0) read = Source->Read(data.data(), Count);
    if (Source != nullptr) data.resize(size_t(std::max(read, 0)));
    storeData(data, DataType == dtChar);
    return;
  }
  {
    // Without a source the data keeps its first Count bytes, so it must be
    // there; with one it is replaced entirely and need not be read.
    if (Source == nullptr && Count > 0) LoadBlob();
    TLoadingGuard loading(*BlobStream);
    if (Source != nullptr) BlobStream->SetSize(0);
    BlobStream->SetSize(Count);
    if (Source != nullptr && Count > 0) {
      int32_t read = Source->Read(BlobStream->GetMemory(), Count);
      if (read < Count) BlobStream->SetSize(std::max(read, 0));
    }
    BlobStream->SetPosition(0);
    BlobLoaded = true;
  }
  uint8_t* bytes = writableColumnBytes();
  StoreLittleEndian(bytes + 5, int32_t(BlobStream->GetSize()));
  markWritten();
}

void TBRNStaticRowValue::SetBooleanData(bool Value) {
  writeScalar<uint8_t>(Value ? 1 : 0);
}

void TBRNStaticRowValue::SetSmallIntData(int16_t Value) {
  writeScalar(Value);
}

void TBRNStaticRowValue::SetInt32Data(int32_t Value) {
  writeScalar(Value);
}

void TBRNStaticRowValue::SetInt64Data(int64_t Value) {
  writeScalar(Value);
}

void TBRNStaticRowValue::SetDecimalData(int64_t Value) {
  writeScalar(Value);
}

void TBRNStaticRowValue::SetFloatData(double Value) {
  writeScalar(Value);
}

int32_t TBRNStaticRowValue::GetMemorySize() const {
  int32_t size = int32_t(sizeof(TBRNStaticRowValue));
  if (BlobStream)
    size += int32_t(sizeof(TBRNStaticRowValueBlobMemoryStream)) + BlobStream->GetCapacity();
  return size;
}

void TBRNStaticRowValue::Assign(const TBRNValue& Source) {
  TBRNValue::Assign(Source);
  SetModified(true);
}

// BLOB life cycle ---------------------------------------------------------------

int32_t TBRNStaticRowValue::GetBlobBlock() const {
  const uint8_t* bytes = isLob() ? columnBytes() : nullptr;
  return bytes == nullptr ? 0 : LoadLittleEndian<int32_t>(bytes + 1);
}

void TBRNStaticRowValue::SetBlobBlock(int32_t Block) {
  if (!isLob()) return;
  if (uint8_t* bytes = writableColumnBytes()) StoreLittleEndian(bytes + 1, Block);
}

int32_t TBRNStaticRowValue::GetBlobLength() const {
  const uint8_t* bytes = isLob() ? columnBytes() : nullptr;
  return bytes == nullptr ? 0 : LoadLittleEndian<int32_t>(bytes + 5);
}

void TBRNStaticRowValue::SetBlobLength(int32_t Length) {
  if (!isLob()) return;
  if (uint8_t* bytes = writableColumnBytes()) StoreLittleEndian(bytes + 5, Length);
}

void TBRNStaticRowValue::LoadBlob() {
  if (BlobLoaded || !BlobStream) return;
  TLoadingGuard loading(*BlobStream);
  try {
    BlobStream->SetSize(0);
    if (isLob()) {
      const uint8_t* bytes = columnBytes();
      if (bytes != nullptr && bytes[0] != 0) {
        int32_t block = LoadLittleEndian<int32_t>(bytes + 1);
        int32_t length = LoadLittleEndian<int32_t>(bytes + 5);
        // The length comes from untrusted row bytes: the reader sizes the
        // stream to what the chain holds, never to this word.
        if (block > 0 && length > 0) {
          Owner.ReadBlob(block, *BlobStream, Column.BlobCompression > 0);
        }
      }
    } else if (!GetNull()) {
      int32_t length = 0;
      const uint8_t* data = imageData(length);
      BlobStream->SetSize(length);
      if (length > 0) std::memcpy(BlobStream->GetMemory(), data, size_t(length));
    }
  } catch (...) {
    BlobStream->SetSize(0);
    throw;
  }
  BlobStream->SetPosition(0);
  BlobLoaded = true;
}

void TBRNStaticRowValue::SaveBlob(int32_t RowVersion) {
  if (!isLob() || !BlobLoaded || !Modified || Width <= 0) return;
  int32_t block = GetBlobBlock();
  int32_t storedLength = 0;
  {
    TLoadingGuard loading(*BlobStream);
    BlobStream->SetPosition(0);
    Owner.WriteBlob(RowVersion, block, *BlobStream, Column.BlobCompression, storedLength);
    BlobStream->SetPosition(0);
  }
  SetBlobBlock(block);
  SetBlobLength(storedLength);
}

void TBRNStaticRowValue::UnloadBlob() {
  if (!BlobStream || !BlobLoaded || Modified || Column.ID <= 0) return;
  ForgetBlob();
}

void TBRNStaticRowValue::ForgetBlob() {
  if (!BlobStream) return;
  TLoadingGuard loading(*BlobStream);
  BlobLoaded = false;
  BlobStream->SetSize(0);
}

void TBRNStaticRowValue::streamChanged() {
  if (Width <= 0) return;
  if (isLob()) {
    // What the caller wrote is the value's data now.
    BlobLoaded = true;
    uint8_t* bytes = writableColumnBytes();
    StoreLittleEndian(bytes + 5, int32_t(BlobStream->GetSize()));
    markWritten();
    return;
  }
  // A CHAR or BYTE value's stream is a copy of its bytes: a write into it is
  // written back into the image under the same rules as the setters. The
  // copy stays as written (the caller may go on writing); when the image
  // refuses it, the copy is dropped and reads the image again.
  int32_t capacity = dataCapacity();
  int32_t count = int32_t(BlobStream->GetSize());
  const uint8_t* data = BlobStream->GetMemory();
  if (!isFixedWidth() && Owner.TruncationErrors) {
    int32_t significant =
        DataType == dtChar ? TrimmedCount(reinterpret_cast<const char*>(data), count) : count;
    if (significant > capacity) {
      std::string text = DataType == dtChar
                             ? std::string(reinterpret_cast<const char*>(data), size_t(count))
                             : FormatBytesLiteral(std::span(data, size_t(count)));
      ForgetBlob();
      RaiseTruncationError(text, true);
    }
  }
  uint8_t* bytes = writableColumnBytes();
  int32_t stored = std::min(count, capacity);
  uint8_t* target = bytes + 1;
  if (!isFixedWidth()) {
    StoreLittleEndian(bytes + 1, uint16_t(stored));
    target = bytes + 3;
  }
  if (stored > 0) std::memmove(target, data, size_t(stored));
  int32_t room = Width - int32_t(target - bytes);
  if (room > stored)
    std::memset(target + stored, isFixedWidth() && DataType == dtChar ? ' ' : 0,
                size_t(room - stored));
  markWritten();
}

// TBRNComputedRowValueExpr -------------------------------------------------------

TBRNComputedRowValueExpr::TBRNComputedRowValueExpr(TBRNColumn& Column) : Column(Column) {}

TBRNComputedRowValueExpr::~TBRNComputedRowValueExpr() {
  // The tree is the column's: only forget it.
  Root = nullptr;
}

std::string TBRNComputedRowValueExpr::GetKindName() const {
  if (Column.ComputedExpr) return Column.ComputedExpr->GetKindName();
  return TBRNExpr::GetKindName();
}

// TBRNComputedRowValue -----------------------------------------------------------

TBRNComputedRowValue::TBRNComputedRowValue(TBRNRowValues& Owner, TBRNColumn& Column)
    : TBRNRowValue(Owner, Column), Expr(Column) {
  Result.SetDataType(Column.DataType);
  Result.SetDataSubType(Column.SubType);
  Result.SetDeclaredLengthOnly(Column.Length);
  Result.SetScale(Column.Scale);
  Result.SetCollation(Column.Collation);
}

TBRNComputedRowValue::~TBRNComputedRowValue() = default;

void TBRNComputedRowValue::Evaluate(bool Wanted) {
  if (Busy || Wanted == Evaluated) return;
  TFlagGuard busy(Busy);
  if (Wanted) {
    // The column's tree as it is now (a recompiled column has a new one).
    Expr.Root = Column.ComputedExpr ? Column.ComputedExpr->Root : nullptr;
    if (Expr.Root == nullptr) {
      Result.SetNull(true);
    } else {
      Owner.ComputeColumn(Expr.Root);
      Result.SetRaiseOnTruncation(Owner.TruncationErrors);
      if (Expr.Root->Value != nullptr)
        Result.Assign(*Expr.Root->Value);
      else
        Result.SetNull(true);
    }
    StreamRewound = false;
  }
  Evaluated = Wanted;
}

const TBRNContainedRowExprValue& TBRNComputedRowValue::result() const {
  const_cast<TBRNComputedRowValue*>(this)->Evaluate(true);
  return Result;
}

TBRNMemoryStream* TBRNComputedRowValue::GetBlobStream() {
  return const_cast<TBRNMemoryStream*>(GetStreamData());
}

void TBRNComputedRowValue::SetModified(bool Flag) {
  Evaluate(false);
  TBRNRowValue::SetModified(Flag);
}

void TBRNComputedRowValue::ClearModified() {
  Evaluate(false);
  TBRNRowValue::ClearModified();
}

bool TBRNComputedRowValue::GetNull() const {
  return result().GetNull();
}

void TBRNComputedRowValue::SetNullFlag(bool) {}

int32_t TBRNComputedRowValue::GetDataSize() const {
  return result().GetDataSize();
}

void TBRNComputedRowValue::SetDataSize(int32_t) {}

int32_t TBRNComputedRowValue::GetLength() const {
  return result().GetLength();
}

void TBRNComputedRowValue::SetLength(int32_t) {}

const TBRNMemoryStream* TBRNComputedRowValue::GetStreamData() const {
  const TBRNMemoryStream* stream = result().GetStreamData();
  if (!StreamRewound && stream != nullptr) {
    // The result is this value's own; only its position moves.
    const_cast<TBRNMemoryStream*>(stream)->SetPosition(0);
    StreamRewound = true;
  }
  return stream;
}

void TBRNComputedRowValue::GetStringData(std::string& Text) const {
  result().GetStringData(Text);
}

const char* TBRNComputedRowValue::GetStringBuffer(int32_t& Length) const {
  return result().GetStringBuffer(Length);
}

void TBRNComputedRowValue::GetBytesData(TBRNBytes& Bytes) const {
  result().GetBytesData(Bytes);
}

const uint8_t* TBRNComputedRowValue::GetBytesBuffer(int32_t& Length) const {
  return result().GetBytesBuffer(Length);
}

bool TBRNComputedRowValue::GetBooleanData() const {
  return result().GetBooleanData();
}

int16_t TBRNComputedRowValue::GetSmallIntData() const {
  return result().GetSmallIntData();
}

int32_t TBRNComputedRowValue::GetInt32Data() const {
  return result().GetInt32Data();
}

int64_t TBRNComputedRowValue::GetInt64Data() const {
  return result().GetInt64Data();
}

int64_t TBRNComputedRowValue::GetDecimalData() const {
  return result().GetDecimalData();
}

double TBRNComputedRowValue::GetFloatData() const {
  return result().GetFloatData();
}

void TBRNComputedRowValue::SetStringData(std::string_view) {}
void TBRNComputedRowValue::SetBytesData(std::span<const uint8_t>) {}
void TBRNComputedRowValue::SetStreamData(TBRNStream*, int32_t) {}
void TBRNComputedRowValue::SetBooleanData(bool) {}
void TBRNComputedRowValue::SetSmallIntData(int16_t) {}
void TBRNComputedRowValue::SetInt32Data(int32_t) {}
void TBRNComputedRowValue::SetInt64Data(int64_t) {}
void TBRNComputedRowValue::SetDecimalData(int64_t) {}
void TBRNComputedRowValue::SetFloatData(double) {}
void TBRNComputedRowValue::Assign(const TBRNValue&) {}
void TBRNComputedRowValue::SaveToStream(TBRNMemoryStream&) const {}
void TBRNComputedRowValue::LoadFromStream(TBRNMemoryStream&) {}

int32_t TBRNComputedRowValue::GetMemorySize() const {
  return int32_t(sizeof(TBRNComputedRowValue)) - int32_t(sizeof(TBRNContainedRowExprValue)) +
         Result.GetMemorySize();
}

// TBRNRowValues ------------------------------------------------------------------

TBRNRowValues::TBRNRowValues(TBRNColumns* Columns, bool EvaluateComputed)
    : EvaluateComputed(EvaluateComputed), Columns(Columns) {
  if (Columns == nullptr) throw std::invalid_argument("Row values need a column list");
  CreateColumnValues();
}

TBRNRowValues::~TBRNRowValues() = default;

void TBRNRowValues::SetBuffer(TBRNMemoryStream* NewBuffer) {
  Buffer = NewBuffer;
  forgetLoadedData();
  ClearModified();
}

TBRNRowValue* TBRNRowValues::GetRowValue(int32_t Index) const {
  return static_cast<TBRNRowValue*>(GetItem(Index));
}

void TBRNRowValues::CreateColumnValues() {
  int32_t count = Columns->Count();
  SetCapacity(count);
  BlobIndexes.clear();
  StreamValues.clear();
  for (int32_t i = 0; i < count; ++i) {
    TBRNValue* value = CreateValue(i);
    Add(value);
    if (Columns->GetItem(i)->DataType == dtLob) BlobIndexes.push_back(i);
    auto* staticValue = dynamic_cast<TBRNStaticRowValue*>(value);
    if (staticValue != nullptr && staticValue->keepsStream()) StreamValues.push_back(staticValue);
  }
  CompareCells.clear();
  CompareCells.reserve(size_t(Count));
  for (int32_t i = 0; i < Count; ++i) CompareCells.push_back(makeCompareCell(i));
  // Numbers are never reused, so a reader that kept the cells of an earlier
  // layout (of these values or of a list that lived at the same address)
  // notices the change.
  static std::atomic<uint64_t> layouts{0};
  ImageLayout = ++layouts;
}

TBRNRowImage TBRNRowValues::GetRowImage() const {
  TBRNRowImage image;
  image.Layout = ImageLayout;
  if (Buffer != nullptr) {
    image.Bytes = Buffer->GetMemory();
    image.Size = Buffer->GetSize();
  }
  return image;
}

bool TBRNRowValues::GetImageCell(int32_t Index, TBRNImageCell& Cell) const {
  if (Index < 0 || size_t(Index) >= CompareCells.size()) return false;
  const TCompareCell& cell = CompareCells[size_t(Index)];
  if (cell.Kind == TCellKind::Generic || Items[size_t(Index)] != cell.Value) return false;
  static constexpr TBRNImageCellKind kinds[] = {
      TBRNImageCellKind::None,          TBRNImageCellKind::Boolean,
      TBRNImageCellKind::SmallInt,      TBRNImageCellKind::Int32,
      TBRNImageCellKind::Int64,         TBRNImageCellKind::Float,
      TBRNImageCellKind::Decimal,       TBRNImageCellKind::FixedChars,
      TBRNImageCellKind::VariableChars, TBRNImageCellKind::FixedBytes,
      TBRNImageCellKind::VariableBytes,
  };
  Cell.Value = cell.Value;
  Cell.Offset = cell.Offset;
  Cell.Width = cell.Width;
  Cell.Capacity = cell.Capacity;
  Cell.Kind = kinds[size_t(cell.Kind)];
  return true;
}

TBRNRowValues::TCompareCell TBRNRowValues::makeCompareCell(int32_t Index) const {
  TCompareCell cell;
  TBRNRowValue* value = GetRowValue(Index);
  cell.Value = value;
  if (value == nullptr) return cell;
  cell.Internal = value->GetColumn().Internal;
  auto* staticValue = dynamic_cast<TBRNStaticRowValue*>(value);
  if (staticValue == nullptr || staticValue->Width <= 0 || staticValue->Column.RowOffset < 0)
    return cell;
  int32_t dataWidth = staticValue->Width - 1;
  auto scalar = [&](TCellKind kind, int32_t size) {
    // A column too narrow for its datum reads as zero: left to the value.
    return dataWidth >= size ? kind : TCellKind::Generic;
  };
  bool fixed = staticValue->isFixedWidth();
  switch (staticValue->DataType) {
    case dtBoolean:
      cell.Kind = scalar(TCellKind::Boolean, 1);
      break;
    case dtSmallInt:
      cell.Kind = scalar(TCellKind::SmallInt, 2);
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      cell.Kind = scalar(TCellKind::Int32, 4);
      break;
    case dtBigInt:
    case dtTimestamp:
    case dtDayTimeInterval:
      cell.Kind = scalar(TCellKind::Int64, 8);
      break;
    case dtFloat:
      cell.Kind = scalar(TCellKind::Float, 8);
      break;
    case dtDecimal:
      cell.Kind = scalar(TCellKind::Decimal, 8);
      break;
    case dtChar:
      cell.Kind = fixed ? TCellKind::FixedChars : scalar(TCellKind::VariableChars, 2);
      break;
    case dtBytes:
      cell.Kind = fixed ? TCellKind::FixedBytes : scalar(TCellKind::VariableBytes, 2);
      break;
    default:
      break;
  }
  if (cell.Kind == TCellKind::Generic) return cell;
  cell.Offset = staticValue->Column.RowOffset;
  cell.Width = staticValue->Width;
  cell.Capacity = staticValue->dataCapacity();
  cell.DataType = staticValue->DataType;
  cell.Text = isTextValue(*staticValue);
  return cell;
}

TBRNValue* TBRNRowValues::CreateValue(int32_t Index) {
  TBRNColumn* column = Columns->GetItem(Index);
  if (column->Computed && EvaluateComputed) return new TBRNComputedRowValue(*this, *column);
  return new TBRNStaticRowValue(*this, *column);
}

int32_t TBRNRowValues::CompareWithKey(const TBRNValues& KeyValues, int32_t PartialLength,
                                      bool CaseInsensitive, TBRNIndexColumns& IndexColumns) const {
  int32_t count = std::min(IndexColumns.Count(), KeyValues.GetCount());
  for (int32_t k = 0; k < count; ++k) {
    TBRNIndexColumn* indexColumn = IndexColumns.GetItem(k);
    TBRNColumn* column = indexColumn->GetColumn();
    int32_t index = column == nullptr ? -1 : valueIndexOf(*this, column);
    const TBRNValue* key = KeyValues.GetItem(k);
    if (index < 0 || key == nullptr)
      throw std::logic_error("An index column has no value in the row or the key");
    const TBRNValue& value = *GetItem(index);
    bool text = isTextValue(value);
    // Keys are ordered under the index column's collation.
    int32_t result =
        value.Compare(*key, text && k == KeyValues.GetCount() - 1 ? PartialLength : 0,
                      CaseInsensitive, text ? indexColumn->Collation : value.GetCollation());
    if (result != 0) return result;
  }
  return 0;
}

void TBRNRowValues::SaveRowImage(TBRNMemoryStream& Target, bool WithFlags) const {
  if (Buffer != nullptr && Buffer->GetSize() > kRowHeaderSize)
    Target.Write(Buffer->GetMemory() + kRowHeaderSize, int32_t(Buffer->GetSize()) - kRowHeaderSize);
  if (!WithFlags) return;
  for (int32_t i = 0; i < Count; ++i) Target.WriteBoolean(GetRowValue(i)->Modified);
}

void TBRNRowValues::LoadRowImage(TBRNMemoryStream& Source, bool WithFlags) {
  if (Buffer == nullptr) throw std::logic_error("Row values are not bound to a row buffer");
  int32_t imageSize = std::max<int32_t>(int32_t(Buffer->GetSize()) - kRowHeaderSize, 0);
  int64_t needed = int64_t(imageSize) + (WithFlags ? Count : 0);
  if (Source.GetRemaining() < needed)
    RaiseConversionFailure("value", IntegerToString(Source.GetRemaining()),
                           TBRNValue::ConversionDetail("", false));
  ClearModified();
  forgetLoadedData();
  if (imageSize > 0) Source.Read(Buffer->GetMemory() + kRowHeaderSize, imageSize);
  if (!WithFlags) return;
  for (int32_t i = 0; i < Count; ++i) {
    bool flag = Source.ReadBoolean();
    TBRNRowValue* value = GetRowValue(i);
    const TBRNColumn& column = value->GetColumn();
    // Computed and generated values follow their inputs, never the sender.
    if (column.Computed || column.Generated) continue;
    value->SetModified(flag);
  }
}

void TBRNRowValues::LoadBlobs() {
  for (int32_t index : BlobIndexes) GetRowValue(index)->LoadBlob();
}

void TBRNRowValues::SaveBlobs(int32_t RowVersion) {
  for (int32_t index : BlobIndexes) GetRowValue(index)->SaveBlob(RowVersion);
}

void TBRNRowValues::UnloadBlobs() {
  for (int32_t i = 0; i < Count; ++i) GetRowValue(i)->UnloadBlob();
}

void TBRNRowValues::ClearModified() {
  for (int32_t i = 0; i < Count; ++i) GetRowValue(i)->ClearModified();
  RowModified = false;
}

void TBRNRowValues::SetAllModified(bool Flag) {
  for (int32_t i = 0; i < Count; ++i) GetRowValue(i)->SetModified(Flag);
  RowModified = Flag;
}

void TBRNRowValues::CopyBlobReferences(const TBRNRowValues& Other) {
  for (int32_t index : BlobIndexes) {
    if (index < Other.GetCount())
      GetRowValue(index)->SetBlobBlock(Other.GetRowValue(index)->GetBlobBlock());
  }
}

void TBRNRowValues::ClearBlobReferences() {
  for (int32_t index : BlobIndexes) GetRowValue(index)->SetBlobBlock(0);
}

void TBRNRowValues::SetAllNull() {
  if (Buffer != nullptr && Buffer->GetSize() > 0)
    std::memset(Buffer->GetMemory(), 0, size_t(Buffer->GetSize()));
  forgetLoadedData();
  ClearModified();
}

void TBRNRowValues::Assign(const TBRNValues& Source) {
  if (&Source == this) return;
  const auto* other = dynamic_cast<const TBRNRowValues*>(&Source);
  if (other == nullptr) {
    TBRNValues::Assign(Source);
    return;
  }
  ClearModified();
  forgetLoadedData();
  if (Buffer == nullptr || other->Buffer == nullptr) return;
  int64_t count = std::min(Buffer->GetSize(), other->Buffer->GetSize()) - kRowHeaderSize;
  if (count > 0)
    std::memmove(Buffer->GetMemory() + kRowHeaderSize, other->Buffer->GetMemory() + kRowHeaderSize,
                 size_t(count));
}

int32_t TBRNRowValues::Compare(const TBRNValues& Other, int32_t PartialLength,
                               bool CaseInsensitive) const {
  // Whether Other is row values: the dynamic type last found to be one is
  // remembered, so a scan comparing against one kind of row pays the
  // dynamic_cast once. (A type_info object names exactly one type.)
  const TBRNRowValues* otherRow = nullptr;
  const std::type_info* otherType = &typeid(Other);
  if (otherType == KnownRowType) {
    otherRow = static_cast<const TBRNRowValues*>(&Other);
  } else if ((otherRow = dynamic_cast<const TBRNRowValues*>(&Other)) != nullptr) {
    KnownRowType = otherType;
  }
  if (otherRow != nullptr) {
    int32_t count = std::min(Count, otherRow->Count);
    if (int32_t(CompareCells.size()) >= count && int32_t(otherRow->CompareCells.size()) >= count)
      return compareCells(*otherRow, PartialLength, CaseInsensitive);
  }
  int32_t count = std::min(Count, Other.GetCount());
  for (int32_t i = 0; i < count; ++i) {
    const TBRNRowValue* value = GetRowValue(i);
    if (value->GetColumn().Internal) continue;
    const TBRNValue* other = Other.GetItem(i);
    if (other == nullptr) continue;
    int32_t partial = isTextValue(*value) && i == Other.GetCount() - 1 ? PartialLength : 0;
    int32_t result = value->Compare(*other, partial, CaseInsensitive, value->GetCollation());
    if (result != 0) return result;
  }
  return 0;
}

namespace {

// The column's bytes in a row buffer of Size bytes at Memory, or nullptr
// where the buffer does not hold them (the value then reads as NULL).
inline const uint8_t* cellBytes(const uint8_t* Memory, int64_t Size, int32_t Offset,
                                int32_t Width) {
  if (Memory == nullptr || int64_t(Offset) + Width > Size) return nullptr;
  return Memory + Offset;
}

template <typename T>
inline int32_t orderedCompare(T A, T B) {
  return A < B ? -1 : (B < A ? 1 : 0);
}

template <typename T>
inline int32_t compareCellScalars(const uint8_t* Bytes, const uint8_t* OtherBytes) {
  return orderedCompare(LoadLittleEndian<T>(Bytes + 1), LoadLittleEndian<T>(OtherBytes + 1));
}

}  // namespace

int32_t TBRNRowValues::compareCells(const TBRNRowValues& Other, int32_t PartialLength,
                                    bool CaseInsensitive) const {
  const int32_t count = std::min(Count, Other.Count);
  const int32_t lastOther = Other.Count - 1;
  const uint8_t* memory = Buffer != nullptr ? Buffer->GetMemory() : nullptr;
  const int64_t size = Buffer != nullptr ? Buffer->GetSize() : 0;
  const uint8_t* otherMemory = Other.Buffer != nullptr ? Other.Buffer->GetMemory() : nullptr;
  const int64_t otherSize = Other.Buffer != nullptr ? Other.Buffer->GetSize() : 0;
  const TCompareCell* cells = CompareCells.data();
  const TCompareCell* otherCells = Other.CompareCells.data();
  for (int32_t i = 0; i < count; ++i) {
    const TCompareCell& cell = cells[i];
    const TCompareCell& otherCell = otherCells[i];
    if (Items[i] != cell.Value || Other.Items[i] != otherCell.Value || !cell.SameShape(otherCell)) {
      // The value-by-value step (the cells do not describe these values, or
      // the two columns are not read alike).
      const TBRNRowValue* value = GetRowValue(i);
      if (value->GetColumn().Internal) continue;
      const TBRNValue* other = Other.Items[i];
      if (other == nullptr) continue;
      int32_t partial = isTextValue(*value) && i == lastOther ? PartialLength : 0;
      int32_t result = value->Compare(*other, partial, CaseInsensitive, value->GetCollation());
      if (result != 0) return result;
      continue;
    }
    if (cell.Internal) continue;
    const uint8_t* bytes = cellBytes(memory, size, cell.Offset, cell.Width);
    const uint8_t* otherBytes = cellBytes(otherMemory, otherSize, cell.Offset, cell.Width);
    bool null = bytes == nullptr || bytes[0] == 0;
    bool otherNull = otherBytes == nullptr || otherBytes[0] == 0;
    if (null || otherNull) {
      if (null != otherNull) return null ? -1 : 1;
      continue;
    }
    int32_t result = 0;
    switch (cell.Kind) {
      case TCellKind::Boolean:
        result = orderedCompare(bytes[1] != 0, otherBytes[1] != 0);
        break;
      case TCellKind::SmallInt:
        result = compareCellScalars<int16_t>(bytes, otherBytes);
        break;
      case TCellKind::Int32:
        result = compareCellScalars<int32_t>(bytes, otherBytes);
        break;
      case TCellKind::Int64:
      case TCellKind::Decimal:
        result = compareCellScalars<int64_t>(bytes, otherBytes);
        break;
      case TCellKind::Float:
        result = compareCellScalars<double>(bytes, otherBytes);
        break;
      case TCellKind::FixedChars:
      case TCellKind::VariableChars:
      case TCellKind::FixedBytes:
      case TCellKind::VariableBytes: {
        const bool fixed = cell.Kind == TCellKind::FixedChars || cell.Kind == TCellKind::FixedBytes;
        int32_t length = cell.Capacity;
        int32_t otherLength = cell.Capacity;
        const uint8_t* data = bytes + 1;
        const uint8_t* otherData = otherBytes + 1;
        if (!fixed) {
          length = std::min<int32_t>(LoadLittleEndian<uint16_t>(bytes + 1), cell.Capacity);
          otherLength =
              std::min<int32_t>(LoadLittleEndian<uint16_t>(otherBytes + 1), cell.Capacity);
          data += 2;
          otherData += 2;
        }
        if (cell.Kind == TCellKind::FixedChars || cell.Kind == TCellKind::VariableChars)
          result = CompareCollatedChars(
              cell.Value->GetCollation(), reinterpret_cast<const char*>(data), length,
              reinterpret_cast<const char*>(otherData), otherLength, CaseInsensitive,
              cell.Text && i == lastOther ? PartialLength : 0);
        else
          result = CompareByteBuffers(data, length, otherData, otherLength);
        break;
      }
      case TCellKind::Generic:
        break;
    }
    if (result != 0) return result;
  }
  return 0;
}

void TBRNRowValues::forgetLoadedData() {
  for (TBRNStaticRowValue* value : StreamValues) {
    if (value->GetBlobLoaded()) value->ForgetBlob();
  }
}

}  // namespace brn
