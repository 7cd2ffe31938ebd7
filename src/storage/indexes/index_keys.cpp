#include "storage/indexes/index_keys.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "foundation/core/bitmap.h"
#include "foundation/core/byte_order.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/values/contained_value.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "storage/indexes/index_pages.h"

namespace brn {

namespace {

TBRNIndexKeyKind kindOf(TBRNDataTypeCode type, TBRNDataSubType subType) {
  bool fixed = subType == stFixed || subType == stGuid;
  switch (type) {
    case dtChar:
      return fixed ? TBRNIndexKeyKind::FixedText : TBRNIndexKeyKind::Text;
    case dtBytes:
      return fixed ? TBRNIndexKeyKind::FixedBytes : TBRNIndexKeyKind::Bytes;
    case dtBoolean:
      return TBRNIndexKeyKind::Boolean;
    case dtSmallInt:
      return TBRNIndexKeyKind::Int16;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      return TBRNIndexKeyKind::Int32;
    case dtBigInt:
    case dtDecimal:
    case dtTimestamp:
    case dtDayTimeInterval:
      return TBRNIndexKeyKind::Int64;
    case dtFloat:
      return TBRNIndexKeyKind::Float;
    default:
      throw std::invalid_argument("index key column of a type that cannot be keyed");
  }
}

// Bytes the column needs after its flag byte.
int32_t dataSizeOf(const TBRNIndexKeyColumn& column) {
  switch (column.Kind) {
    case TBRNIndexKeyKind::Text:
    case TBRNIndexKeyKind::Bytes:
      return 2 + column.Length;
    case TBRNIndexKeyKind::FixedText:
    case TBRNIndexKeyKind::FixedBytes:
      return column.Length;
    case TBRNIndexKeyKind::Boolean:
      return 1;
    case TBRNIndexKeyKind::Int16:
      return 2;
    case TBRNIndexKeyKind::Int32:
      return 4;
    case TBRNIndexKeyKind::Int64:
    case TBRNIndexKeyKind::Float:
      return 8;
  }
  return 0;
}

bool isTextKind(TBRNIndexKeyKind kind) {
  return kind == TBRNIndexKeyKind::Text || kind == TBRNIndexKeyKind::FixedText;
}

bool isVariableKind(TBRNIndexKeyKind kind) {
  return kind == TBRNIndexKeyKind::Text || kind == TBRNIndexKeyKind::Bytes;
}

template <typename T>
int32_t compareOrdered(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// The stored length of a variable column, held to its declared length: the
// page bytes are untrusted.
int32_t storedLength(const TBRNIndexKeyColumn& column, const uint8_t* flag) {
  if (!isVariableKind(column.Kind)) return column.Length;
  int32_t n = LoadLittleEndian<uint16_t>(flag + 1);
  return n < column.Length ? n : column.Length;
}

const uint8_t* storedData(const TBRNIndexKeyColumn& column, const uint8_t* flag) {
  return flag + (isVariableKind(column.Kind) ? 3 : 1);
}

// A value's integer datum for a column of that kind, converted when the
// value's type differs from the column's.
int64_t integerFor(const TBRNIndexKeyColumn& column, const TBRNValue& value) {
  bool same = value.GetDataType() == column.DataType;
  switch (column.DataType) {
    case dtBoolean:
      return value.GetAsBoolean() ? 1 : 0;
    case dtSmallInt:
      return same ? value.GetSmallIntData() : value.GetAsSmallInt();
    case dtInteger:
      return same ? value.GetInt32Data() : value.GetAsInteger();
    case dtDate:
      return same ? value.GetInt32Data() : value.GetAsDate();
    case dtTime:
      return same ? value.GetInt32Data() : value.GetAsTime();
    case dtYearMonthInterval:
      return same ? value.GetInt32Data() : value.GetAsQualifiedYearMonthInterval(column.SubType);
    case dtBigInt:
      return same ? value.GetInt64Data() : value.GetAsBigInt();
    case dtDecimal:
      return same ? value.GetDecimalData() : value.GetAsDecimal();
    case dtTimestamp:
      return same ? value.GetInt64Data() : value.GetAsTimestamp();
    case dtDayTimeInterval:
      return same ? value.GetInt64Data() : value.GetAsQualifiedDayTimeInterval(column.SubType);
    default:
      return 0;
  }
}

}  // namespace

// ---- TBRNIndexKeyLayout ----

TBRNIndexKeyLayout::TBRNIndexKeyLayout(TBRNIndex& index)
    : index_(&index), indexName_(index.Name), indexType_(index.IndexType) {
  TBRNIndexColumns& keyColumns = *index.Columns;
  if (index.IsTextIndex()) {
    TBRNIndexKeyColumn word;
    word.DataType = dtChar;
    word.Length = index.IndexedWordLength;
    word.Collation = keyColumns.Count() > 0 ? keyColumns.GetItem(0)->Collation : 0;
    columns_.push_back(word);
  } else {
    for (int32_t i = 0; i < keyColumns.Count(); ++i) {
      TBRNIndexColumn* keyColumn = keyColumns.GetItem(i);
      TBRNColumn* column = keyColumn->GetColumn();
      if (column == nullptr) throw std::invalid_argument("index column without table column");
      TBRNIndexKeyColumn c;
      c.DataType = column->DataType;
      c.SubType = column->SubType;
      c.Scale = column->Scale;
      c.Length = IsTextDataType(column->DataType, column->SubType) || column->DataType == dtBytes
                     ? column->Length
                     : 0;
      c.Collation = keyColumn->Collation;
      c.Descending = keyColumn->Descending;
      // The stored size decides where the next column starts.
      c.KeySize = column->GetKeySize();
      columns_.push_back(c);
    }
  }
  finishColumns();
  if (keyColumns.KeySize > 0) {
    if (keyColumns.KeySize < keyWidth_)
      throw std::invalid_argument("index key columns wider than the recorded key size");
    keyWidth_ = keyColumns.KeySize;
  }
}

TBRNIndexKeyLayout::TBRNIndexKeyLayout(std::string indexName, int32_t indexType,
                                       std::vector<TBRNIndexKeyColumn> columns)
    : indexName_(std::move(indexName)), indexType_(indexType), columns_(std::move(columns)) {
  for (TBRNIndexKeyColumn& c : columns_) c.KeySize = 0;
  finishColumns();
}

void TBRNIndexKeyLayout::finishColumns() {
  unique_ = indexType_ == kIndexPrimaryKey;
  textIndex_ = indexType_ == kIndexText;
  int32_t offset = 0;
  for (TBRNIndexKeyColumn& c : columns_) {
    c.Kind = kindOf(c.DataType, c.SubType);
    if (c.Length < 0 || c.Length > 65535) throw std::invalid_argument("index key column length");
    int32_t needed = 1 + dataSizeOf(c);
    if (c.KeySize == 0) c.KeySize = needed;
    if (c.KeySize < needed) throw std::invalid_argument("index key column smaller than its type");
    c.Offset = offset;
    offset += c.KeySize;
  }
  keyWidth_ = offset;
}

void TBRNIndexKeyLayout::EncodeKey(const TBRNValues& values, uint8_t* key) const {
  std::memset(key, 0, size_t(keyWidth_));
  int32_t count = values.GetCount();
  for (int32_t i = 0; i < GetColumnCount(); ++i) {
    const TBRNIndexKeyColumn& c = columns_[size_t(i)];
    const TBRNValue* value = i < count ? values.GetItem(i) : nullptr;
    uint8_t* at = key + c.Offset;
    if (value == nullptr || value->GetNull()) continue;
    at[0] = 1;
    switch (c.Kind) {
      case TBRNIndexKeyKind::Text:
      case TBRNIndexKeyKind::FixedText:
      case TBRNIndexKeyKind::Bytes:
      case TBRNIndexKeyKind::FixedBytes: {
        bool text = isTextKind(c.Kind);
        std::string converted;
        TBRNBytes convertedBytes;
        const void* data = nullptr;
        int32_t length = 0;
        if (text && value->IsTextType()) {
          data = value->GetStringBuffer(length);
        } else if (!text && value->GetDataType() == dtBytes) {
          data = value->GetBytesBuffer(length);
        } else if (text) {
          converted = value->GetAsString();
          data = converted.data();
          length = int32_t(converted.size());
        } else {
          convertedBytes = value->GetAsBytes();
          data = convertedBytes.data();
          length = int32_t(convertedBytes.size());
        }
        length = std::clamp(length, 0, c.Length);
        uint8_t* target = at + (isVariableKind(c.Kind) ? 3 : 1);
        if (isVariableKind(c.Kind)) StoreLittleEndian<uint16_t>(at + 1, uint16_t(length));
        if (length > 0) std::memcpy(target, data, size_t(length));
        if (c.Kind == TBRNIndexKeyKind::FixedText && length < c.Length)
          std::memset(target + length, ' ', size_t(c.Length - length));
        break;
      }
      case TBRNIndexKeyKind::Boolean:
        at[1] = value->GetAsBoolean() ? 1 : 0;
        break;
      case TBRNIndexKeyKind::Int16:
        StoreLittleEndian<int16_t>(at + 1, int16_t(integerFor(c, *value)));
        break;
      case TBRNIndexKeyKind::Int32:
        StoreLittleEndian<int32_t>(at + 1, int32_t(integerFor(c, *value)));
        break;
      case TBRNIndexKeyKind::Int64:
        StoreLittleEndian<int64_t>(at + 1, integerFor(c, *value));
        break;
      case TBRNIndexKeyKind::Float:
        StoreLittleEndian<double>(
            at + 1, value->GetDataType() == dtFloat ? value->GetFloatData() : value->GetAsFloat());
        break;
    }
  }
}

// ---- TBRNIndexSearchKey ----

void TBRNIndexSearchKey::reserveConverted() {
  // Converted texts are referenced by pointer: room for all of them before
  // the first, so that none moves.
  if (converted_.capacity() < size_t(count_)) converted_.reserve(size_t(count_));
}

void TBRNIndexSearchKey::Prepare(const TBRNIndexKeyLayout& layout, const TBRNKeyValues& values,
                                 int32_t partialLength, bool caseInsensitive) {
  layout_ = &layout;
  count_ = std::min(values.GetCount(), layout.GetColumnCount());
  partialLength_ = partialLength > 0 ? partialLength : 0;
  caseInsensitive_ = caseInsensitive;
  rowID_ = values.GetRowID();
  if (count_ <= kInlineColumns) {
    columns_ = inline_;
  } else {
    heap_.resize(size_t(count_));
    columns_ = heap_.data();
  }
  std::fill(columns_, columns_ + count_, Column());
  converted_.clear();
  for (int32_t i = 0; i < count_; ++i) {
    const TBRNIndexKeyColumn& c = layout.GetColumn(i);
    const TBRNValue* value = values.GetItem(i);
    Column& s = columns_[size_t(i)];
    if (value == nullptr || value->GetNull()) continue;
    s.Null = false;
    switch (c.Kind) {
      case TBRNIndexKeyKind::Text:
      case TBRNIndexKeyKind::FixedText:
        if (value->IsTextType()) {
          s.Data = value->GetStringBuffer(s.Length);
        } else {
          reserveConverted();
          converted_.push_back(value->GetAsString());
          s.Data = converted_.back().data();
          s.Length = int32_t(converted_.back().size());
        }
        break;
      case TBRNIndexKeyKind::Bytes:
      case TBRNIndexKeyKind::FixedBytes:
        if (value->GetDataType() == dtBytes) {
          s.Data = reinterpret_cast<const char*>(value->GetBytesBuffer(s.Length));
        } else {
          TBRNBytes bytes = value->GetAsBytes();
          reserveConverted();
          converted_.emplace_back(bytes.begin(), bytes.end());
          s.Data = converted_.back().data();
          s.Length = int32_t(converted_.back().size());
        }
        break;
      case TBRNIndexKeyKind::Boolean:
        s.Int = value->GetAsBoolean() ? 1 : 0;
        break;
      case TBRNIndexKeyKind::Int16:
      case TBRNIndexKeyKind::Int32:
      case TBRNIndexKeyKind::Int64:
        s.Int = integerFor(c, *value);
        break;
      case TBRNIndexKeyKind::Float:
        s.Float = value->GetDataType() == dtFloat ? value->GetFloatData() : value->GetAsFloat();
        break;
    }
    if (s.Data == nullptr) s.Length = 0;
  }
  linear_ = false;
  if (partialLength_ > 0 && count_ > 0) {
    const TBRNIndexKeyColumn& last = layout.GetColumn(count_ - 1);
    linear_ = isTextKind(last.Kind) && (last.Collation & ~CollationFlagMask) != 0;
  }
}

int32_t TBRNIndexSearchKey::CompareStored(const uint8_t* key) const {
  // An empty search key is below every stored key.
  if (count_ == 0) return 1;
  for (int32_t i = 0; i < count_; ++i) {
    const TBRNIndexKeyColumn& c = layout_->GetColumn(i);
    const Column& s = columns_[size_t(i)];
    const uint8_t* at = key + c.Offset;
    bool null = at[0] == 0;
    int32_t result = 0;
    if (null || s.Null) {
      if (null == s.Null) continue;
      result = null ? -1 : 1;
    } else {
      switch (c.Kind) {
        case TBRNIndexKeyKind::Text:
        case TBRNIndexKeyKind::FixedText:
          result = CompareCollatedChars(
              c.Collation, reinterpret_cast<const char*>(storedData(c, at)), storedLength(c, at),
              s.Data, s.Length, caseInsensitive_, i == count_ - 1 ? partialLength_ : 0);
          break;
        case TBRNIndexKeyKind::Bytes:
        case TBRNIndexKeyKind::FixedBytes:
          result = CompareByteBuffers(storedData(c, at), storedLength(c, at), s.Data, s.Length);
          break;
        case TBRNIndexKeyKind::Boolean:
          result = compareOrdered<int64_t>(at[1] != 0 ? 1 : 0, s.Int);
          break;
        case TBRNIndexKeyKind::Int16:
          result = compareOrdered<int64_t>(LoadLittleEndian<int16_t>(at + 1), s.Int);
          break;
        case TBRNIndexKeyKind::Int32:
          result = compareOrdered<int64_t>(LoadLittleEndian<int32_t>(at + 1), s.Int);
          break;
        case TBRNIndexKeyKind::Int64:
          result = compareOrdered<int64_t>(LoadLittleEndian<int64_t>(at + 1), s.Int);
          break;
        case TBRNIndexKeyKind::Float:
          result = compareOrdered<double>(LoadLittleEndian<double>(at + 1), s.Float);
          break;
      }
    }
    if (result != 0) return c.Descending ? -result : result;
  }
  return 0;
}

int32_t CompareEncodedKeys(const TBRNIndexKeyLayout& layout, const uint8_t* a, const uint8_t* b) {
  for (int32_t i = 0; i < layout.GetColumnCount(); ++i) {
    const TBRNIndexKeyColumn& c = layout.GetColumn(i);
    const uint8_t* x = a + c.Offset;
    const uint8_t* y = b + c.Offset;
    const bool xNull = x[0] == 0;
    const bool yNull = y[0] == 0;
    int32_t result = 0;
    if (xNull || yNull) {
      if (xNull == yNull) continue;
      result = xNull ? -1 : 1;
    } else {
      switch (c.Kind) {
        case TBRNIndexKeyKind::Text:
        case TBRNIndexKeyKind::FixedText:
          result = CompareCollatedChars(
              c.Collation, reinterpret_cast<const char*>(storedData(c, x)), storedLength(c, x),
              reinterpret_cast<const char*>(storedData(c, y)), storedLength(c, y), false, 0);
          break;
        case TBRNIndexKeyKind::Bytes:
        case TBRNIndexKeyKind::FixedBytes:
          result = CompareByteBuffers(storedData(c, x), storedLength(c, x), storedData(c, y),
                                      storedLength(c, y));
          break;
        case TBRNIndexKeyKind::Boolean:
          result = compareOrdered<int64_t>(x[1] != 0 ? 1 : 0, y[1] != 0 ? 1 : 0);
          break;
        case TBRNIndexKeyKind::Int16:
          result = compareOrdered<int64_t>(LoadLittleEndian<int16_t>(x + 1),
                                           LoadLittleEndian<int16_t>(y + 1));
          break;
        case TBRNIndexKeyKind::Int32:
          result = compareOrdered<int64_t>(LoadLittleEndian<int32_t>(x + 1),
                                           LoadLittleEndian<int32_t>(y + 1));
          break;
        case TBRNIndexKeyKind::Int64:
          result = compareOrdered<int64_t>(LoadLittleEndian<int64_t>(x + 1),
                                           LoadLittleEndian<int64_t>(y + 1));
          break;
        case TBRNIndexKeyKind::Float:
          result = compareOrdered<double>(LoadLittleEndian<double>(x + 1),
                                          LoadLittleEndian<double>(y + 1));
          break;
      }
    }
    if (result != 0) return c.Descending ? -result : result;
  }
  return 0;
}

// ---- TBRNIndexKeyValue ----

TBRNIndexKeyValue::TBRNIndexKeyValue(TBRNIndexKey* key, const TBRNIndexKeyColumn& column)
    : key_(key), column_(column) {
  DataType = column.DataType;
  SubType = column.SubType;
  Scale = column.Scale;
  Collation = column.Collation;
}

uint8_t* TBRNIndexKeyValue::at() const {
  if (!key_->IsPositioned()) return nullptr;
  return key_->GetPage()->Data() + key_->GetEntryOffset() + column_.Offset;
}

namespace {

uint8_t* writableAt(uint8_t* at) {
  if (at == nullptr) throw std::logic_error("index key value written while the key stands nowhere");
  return at;
}

}  // namespace

bool TBRNIndexKeyValue::GetNull() const {
  const uint8_t* p = at();
  return p == nullptr || p[0] == 0;
}

void TBRNIndexKeyValue::SetNullFlag(bool Value) {
  writableAt(at())[0] = Value ? 0 : 1;
}

int32_t TBRNIndexKeyValue::GetDataSize() const {
  return column_.KeySize - 1;
}

void TBRNIndexKeyValue::SetDataSize(int32_t) {
  // The size of a key column is fixed by the layout.
}

int32_t TBRNIndexKeyValue::GetLength() const {
  switch (column_.Kind) {
    case TBRNIndexKeyKind::Text:
    case TBRNIndexKeyKind::Bytes: {
      const uint8_t* p = at();
      return p == nullptr ? 0 : storedLength(column_, p);
    }
    case TBRNIndexKeyKind::FixedText:
    case TBRNIndexKeyKind::FixedBytes:
      return column_.Length;
    default:
      return 0;
  }
}

void TBRNIndexKeyValue::SetLength(int32_t Length) {
  if (!isVariableKind(column_.Kind)) return;
  uint8_t* p = writableAt(at());
  StoreLittleEndian<uint16_t>(p + 1, uint16_t(std::clamp(Length, 0, column_.Length)));
}

void TBRNIndexKeyValue::GetStringData(std::string& Text) const {
  int32_t length = 0;
  const char* data = GetStringBuffer(length);
  Text.assign(data == nullptr ? "" : data, size_t(length));
}

const char* TBRNIndexKeyValue::GetStringBuffer(int32_t& Length) const {
  Length = 0;
  const uint8_t* p = at();
  if (p == nullptr || dataSizeOf(column_) == 0 ||
      !(isTextKind(column_.Kind) || column_.Kind == TBRNIndexKeyKind::Bytes ||
        column_.Kind == TBRNIndexKeyKind::FixedBytes))
    return nullptr;
  Length = storedLength(column_, p);
  return reinterpret_cast<const char*>(storedData(column_, p));
}

void TBRNIndexKeyValue::GetBytesData(TBRNBytes& Bytes) const {
  int32_t length = 0;
  const uint8_t* data = GetBytesBuffer(length);
  Bytes.assign(data, data + length);
}

const uint8_t* TBRNIndexKeyValue::GetBytesBuffer(int32_t& Length) const {
  return reinterpret_cast<const uint8_t*>(GetStringBuffer(Length));
}

namespace {

// A stored float read as an integer: the bytes come from the file, so NaN
// reads 0 and values beyond the int64 range saturate (a plain cast of them is
// undefined).
int64_t floatToInteger(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (value < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return int64_t(value);
}

int64_t readInteger(const TBRNIndexKeyColumn& column, const uint8_t* p) {
  if (p == nullptr) return 0;
  switch (column.Kind) {
    case TBRNIndexKeyKind::Boolean:
      return p[1] != 0 ? 1 : 0;
    case TBRNIndexKeyKind::Int16:
      return LoadLittleEndian<int16_t>(p + 1);
    case TBRNIndexKeyKind::Int32:
      return LoadLittleEndian<int32_t>(p + 1);
    case TBRNIndexKeyKind::Int64:
      return LoadLittleEndian<int64_t>(p + 1);
    case TBRNIndexKeyKind::Float:
      return floatToInteger(LoadLittleEndian<double>(p + 1));
    default:
      return 0;
  }
}

void writeInteger(const TBRNIndexKeyColumn& column, uint8_t* p, int64_t value) {
  switch (column.Kind) {
    case TBRNIndexKeyKind::Boolean:
      p[1] = value != 0 ? 1 : 0;
      break;
    case TBRNIndexKeyKind::Int16:
      StoreLittleEndian<int16_t>(p + 1, int16_t(value));
      break;
    case TBRNIndexKeyKind::Int32:
      StoreLittleEndian<int32_t>(p + 1, int32_t(value));
      break;
    case TBRNIndexKeyKind::Int64:
      StoreLittleEndian<int64_t>(p + 1, value);
      break;
    case TBRNIndexKeyKind::Float:
      StoreLittleEndian<double>(p + 1, double(value));
      break;
    default:
      throw std::logic_error("numeric data written to a text key column");
  }
  p[0] = 1;
}

}  // namespace

bool TBRNIndexKeyValue::GetBooleanData() const {
  return readInteger(column_, at()) != 0;
}

int16_t TBRNIndexKeyValue::GetSmallIntData() const {
  return int16_t(readInteger(column_, at()));
}

int32_t TBRNIndexKeyValue::GetInt32Data() const {
  return int32_t(readInteger(column_, at()));
}

int64_t TBRNIndexKeyValue::GetInt64Data() const {
  return readInteger(column_, at());
}

int64_t TBRNIndexKeyValue::GetDecimalData() const {
  return readInteger(column_, at());
}

double TBRNIndexKeyValue::GetFloatData() const {
  const uint8_t* p = at();
  if (p != nullptr && column_.Kind == TBRNIndexKeyKind::Float)
    return LoadLittleEndian<double>(p + 1);
  return double(readInteger(column_, p));
}

void TBRNIndexKeyValue::writeData(const void* data, int32_t count) {
  uint8_t* p = writableAt(at());
  if (dataSizeOf(column_) == 0 ||
      !(isTextKind(column_.Kind) || column_.Kind == TBRNIndexKeyKind::Bytes ||
        column_.Kind == TBRNIndexKeyKind::FixedBytes))
    throw std::logic_error("text data written to a numeric key column");
  int32_t length = std::clamp(count, 0, column_.Length);
  uint8_t* target = p + (isVariableKind(column_.Kind) ? 3 : 1);
  std::memset(target, column_.Kind == TBRNIndexKeyKind::FixedText ? ' ' : 0,
              size_t(column_.Length));
  if (length > 0) std::memcpy(target, data, size_t(length));
  if (isVariableKind(column_.Kind)) StoreLittleEndian<uint16_t>(p + 1, uint16_t(length));
  p[0] = 1;
}

void TBRNIndexKeyValue::SetStringData(std::string_view Text) {
  writeData(Text.data(), int32_t(std::min<size_t>(Text.size(), 65535)));
}

void TBRNIndexKeyValue::SetBytesData(std::span<const uint8_t> Bytes) {
  writeData(Bytes.data(), int32_t(std::min<size_t>(Bytes.size(), 65535)));
}

void TBRNIndexKeyValue::SetStreamData(TBRNStream*, int32_t) {
  throw std::logic_error("index keys hold no BLOB data");
}

void TBRNIndexKeyValue::SetBooleanData(bool Value) {
  writeInteger(column_, writableAt(at()), Value ? 1 : 0);
}

void TBRNIndexKeyValue::SetSmallIntData(int16_t Value) {
  writeInteger(column_, writableAt(at()), Value);
}

void TBRNIndexKeyValue::SetInt32Data(int32_t Value) {
  writeInteger(column_, writableAt(at()), Value);
}

void TBRNIndexKeyValue::SetInt64Data(int64_t Value) {
  writeInteger(column_, writableAt(at()), Value);
}

void TBRNIndexKeyValue::SetDecimalData(int64_t Value) {
  writeInteger(column_, writableAt(at()), Value);
}

void TBRNIndexKeyValue::SetFloatData(double Value) {
  uint8_t* p = writableAt(at());
  if (column_.Kind == TBRNIndexKeyKind::Float) {
    StoreLittleEndian<double>(p + 1, Value);
    p[0] = 1;
  } else {
    writeInteger(column_, p, int64_t(Value));
  }
}

// ---- TBRNIndexKey ----

TBRNIndexKey::TBRNIndexKey(const TBRNIndexKeyLayout& layout) : layout_(&layout) {
  for (int32_t i = 0; i < layout.GetColumnCount(); ++i)
    Add(new TBRNIndexKeyValue(this, layout.GetColumn(i)));
}

void TBRNIndexKey::SetPage(TBRNIndexPage* page) {
  page_ = page;
  First();
}

bool TBRNIndexKey::usable() const {
  return page_ != nullptr && page_->IsBound();
}

bool TBRNIndexKey::IsPositioned() const {
  return page_ != nullptr && page_->IsBound() && entry_ >= 0 && entry_ < page_->EntryCount &&
         duplicate_ >= 0 && duplicate_ < page_->GetItemCount(entry_);
}

const uint8_t* TBRNIndexKey::GetKeyBytes() const {
  return IsPositioned() ? page_->Data() + entryOffset_ : nullptr;
}

int32_t TBRNIndexKey::GetItemNumber() const {
  if (!usable()) return 0;
  if (entry_ >= page_->EntryCount) return page_->ItemTotal;
  return page_->GetFirstItem(entry_) + duplicate_;
}

void TBRNIndexKey::UpdateOffsets() {
  if (!usable() || entry_ < 0 || entry_ > page_->EntryCount) {
    entryOffset_ = 0;
    itemOffset_ = 0;
    return;
  }
  entryOffset_ = page_->GetEntryOffset(entry_);
  if (page_->IsUnique()) {
    itemOffset_ = 0;
  } else {
    int32_t first = entry_ < page_->EntryCount ? page_->GetFirstItem(entry_) : page_->ItemTotal;
    itemOffset_ = page_->GetItemsOffset() + (first + duplicate_) * 8;
  }
}

bool TBRNIndexKey::First() {
  entry_ = 0;
  duplicate_ = 0;
  UpdateOffsets();
  return IsPositioned();
}

bool TBRNIndexKey::Last() {
  if (page_ == nullptr || !page_->IsBound() || page_->EntryCount == 0) return First();
  entry_ = page_->EntryCount - 1;
  duplicate_ = page_->GetItemCount(entry_) - 1;
  UpdateOffsets();
  return true;
}

bool TBRNIndexKey::Next() {
  if (!IsPositioned()) return false;
  if (duplicate_ + 1 < page_->GetItemCount(entry_)) {
    ++duplicate_;
  } else if (entry_ + 1 < page_->EntryCount) {
    ++entry_;
    duplicate_ = 0;
  } else {
    return false;
  }
  UpdateOffsets();
  return true;
}

bool TBRNIndexKey::Prior() {
  if (!IsPositioned()) return false;
  if (duplicate_ > 0) {
    --duplicate_;
  } else if (entry_ > 0) {
    --entry_;
    duplicate_ = page_->GetItemCount(entry_) - 1;
  } else {
    return false;
  }
  UpdateOffsets();
  return true;
}

void TBRNIndexKey::SetEntry(int32_t i) {
  if (!usable() || i < 0 || i >= page_->EntryCount)
    throw std::out_of_range("index key: entry out of range");
  entry_ = i;
  duplicate_ = 0;
  UpdateOffsets();
}

void TBRNIndexKey::SetDuplicate(int32_t j) {
  if (!usable() || entry_ >= page_->EntryCount || j < 0 || j >= page_->GetItemCount(entry_))
    throw std::out_of_range("index key: item out of range");
  duplicate_ = j;
  UpdateOffsets();
}

void TBRNIndexKey::SetItem(int32_t n) {
  if (!usable()) throw std::out_of_range("index key: no page");
  page_->FindItem(n, entry_, duplicate_);
  UpdateOffsets();
}

bool TBRNIndexKey::FindDuplicate(int32_t rowID, bool forInsert) {
  if (!usable() || entry_ >= page_->EntryCount)
    throw std::out_of_range("index key: no entry to search");
  int32_t count = page_->GetItemCount(entry_);
  if (page_->IsUnique()) {
    duplicate_ = 0;
    UpdateOffsets();
    return rowID == 0;
  }
  const uint8_t* items = page_->Data() + page_->GetItemsOffset() + page_->GetFirstItem(entry_) * 8;
  int32_t low = 0;
  int32_t high = count - 1;
  while (low <= high) {
    int32_t middle = (low + high) / 2;
    int32_t id = LoadLittleEndian<int32_t>(items + middle * 8);
    if (id == rowID) {
      duplicate_ = middle;
      UpdateOffsets();
      return true;
    }
    if (id < rowID) {
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  duplicate_ = forInsert || high < 0 ? low : high;
  UpdateOffsets();
  return false;
}

void TBRNIndexKey::CopyPosition(const TBRNIndexKey& source) {
  page_ = source.page_;
  entry_ = source.entry_;
  duplicate_ = source.duplicate_;
  entryOffset_ = source.entryOffset_;
  itemOffset_ = source.itemOffset_;
}

int32_t TBRNIndexKey::GetRowPointer() const {
  if (!IsPositioned()) return 0;
  const uint8_t* data = page_->Data();
  return page_->IsUnique() ? LoadLittleEndian<int32_t>(data + entryOffset_ + GetKeyWidth())
                           : LoadLittleEndian<int32_t>(data + itemOffset_ + 4);
}

void TBRNIndexKey::SetRowPointer(int32_t pointer) {
  if (!IsPositioned()) throw std::logic_error("index key: row pointer written nowhere");
  uint8_t* data = page_->Data();
  if (page_->IsUnique()) {
    StoreLittleEndian<int32_t>(data + entryOffset_ + GetKeyWidth(), pointer);
  } else {
    StoreLittleEndian<int32_t>(data + itemOffset_ + 4, pointer);
  }
}

int32_t TBRNIndexKey::GetDuplicateCount() const {
  if (!IsPositioned()) return 0;
  return page_->GetItemCount(entry_);
}

void TBRNIndexKey::SetDuplicateCount(int32_t count) {
  if (!usable() || entry_ >= page_->EntryCount)
    throw std::logic_error("index key: item count written nowhere");
  if (page_->IsUnique()) return;
  if (count < 1 || count > 65535) throw std::out_of_range("index key: item count");
  StoreLittleEndian<uint16_t>(page_->Data() + entryOffset_ + GetKeyWidth(), uint16_t(count));
}

namespace {

void addRows(const TBRNIndexPage& page, int32_t first, int32_t last, TBRNBitmap& bitmap) {
  for (int32_t n = first; n < last; ++n) {
    const uint8_t* data = page.Data();
    int32_t row =
        page.IsUnique()
            ? LoadLittleEndian<int32_t>(data + page.GetEntryOffset(n) + page.Layout->GetKeyWidth())
            : LoadLittleEndian<int32_t>(data + page.GetItemsOffset() + n * 8 + 4);
    if (row >= 1 && row <= bitmap.Size) bitmap.SetBit(row);
  }
}

}  // namespace

void TBRNIndexKey::AddRowsToBitmap(TBRNBitmap& bitmap) const {
  if (!IsPositioned()) return;
  int32_t first = page_->GetFirstItem(entry_);
  addRows(*page_, first + duplicate_, first + page_->GetItemCount(entry_), bitmap);
}

void TBRNIndexKey::AddPriorRowsToBitmap(TBRNBitmap& bitmap) const {
  if (!IsPositioned()) return;
  int32_t first = page_->GetFirstItem(entry_);
  addRows(*page_, first, first + duplicate_, bitmap);
}

int32_t TBRNIndexKey::GetColumnCollation(int32_t Index) const {
  return layout_->GetColumn(Index).Collation;
}

bool TBRNIndexKey::GetColumnDescending(int32_t Index) const {
  return layout_->GetColumn(Index).Descending;
}

int32_t TBRNIndexKey::GetRowID() const {
  if (!IsPositioned() || page_->IsUnique()) return 0;
  return LoadLittleEndian<int32_t>(page_->Data() + itemOffset_);
}

void TBRNIndexKey::SetRowID(int32_t ID) {
  if (!IsPositioned()) throw std::logic_error("index key: row ID written nowhere");
  if (page_->IsUnique()) return;
  StoreLittleEndian<int32_t>(page_->Data() + itemOffset_, ID);
}

// ---- TBRNIndexLayoutKeyValues ----

TBRNIndexLayoutKeyValues::TBRNIndexLayoutKeyValues(const TBRNIndexKeyLayout& layout)
    : layout_(&layout) {}

int32_t TBRNIndexLayoutKeyValues::GetColumnCollation(int32_t Index) const {
  return Index < layout_->GetColumnCount() ? layout_->GetColumn(Index).Collation : 0;
}

bool TBRNIndexLayoutKeyValues::GetColumnDescending(int32_t Index) const {
  return Index < layout_->GetColumnCount() && layout_->GetColumn(Index).Descending;
}

TBRNContainedIndexKeyValues::TBRNContainedIndexKeyValues(const TBRNIndexKeyLayout& layout)
    : TBRNIndexLayoutKeyValues(layout) {
  for (int32_t i = 0; i < layout.GetColumnCount(); ++i) {
    const TBRNIndexKeyColumn& c = layout.GetColumn(i);
    auto* value = new TBRNContainedValue();
    Add(value);
    value->SetDataType(c.DataType);
    value->SetDataSubType(c.SubType);
    if (c.Length > 0) value->SetDeclaredLengthOnly(c.Length);
    value->SetScale(c.Scale);
    value->SetCollation(c.Collation);
  }
}

}  // namespace brn
