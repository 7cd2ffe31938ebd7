#include "storage/cursors/key_values.h"

#include <memory>
#include <stdexcept>

#include "foundation/values/contained_value.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "storage/cursors/cursor_columns.h"

namespace brn {

namespace {

TBRNIndex* activeIndexOf(const TBRNCursorShape* cursor) {
  return cursor != nullptr ? cursor->GetCursorActiveIndex() : nullptr;
}

// Key column Index of the cursor's active index; nullptr beyond its columns or
// without an active index.
TBRNIndexColumn* activeKeyColumn(const TBRNCursorShape* cursor, int32_t index) {
  TBRNIndex* active = activeIndexOf(cursor);
  if (active == nullptr || active->Columns == nullptr) return nullptr;
  if (index < 0 || index >= active->Columns->Count()) return nullptr;
  return active->Columns->GetItem(index);
}

int32_t activeCollation(const TBRNCursorShape* cursor, int32_t index) {
  TBRNIndexColumn* column = activeKeyColumn(cursor, index);
  return column != nullptr ? column->Collation : 0;
}

bool activeDescending(const TBRNCursorShape* cursor, int32_t index) {
  TBRNIndexColumn* column = activeKeyColumn(cursor, index);
  return column != nullptr && column->Descending;
}

}  // namespace

TBRNColumnValueType TBRNColumnValueType::Of(const TBRNColumn& Column, int32_t Collation) {
  TBRNColumnValueType type;
  type.DataType = Column.DataType;
  type.SubType = Column.SubType;
  type.Length = Column.Length;
  type.Scale = Column.Scale;
  type.Collation = Collation;
  return type;
}

TBRNContainedValue* TBRNColumnValueType::CreateValue() const {
  auto value = std::make_unique<TBRNContainedValue>();
  value->SetDataType(DataType);
  value->SetDataSubType(SubType);
  // The declared length only: a key or row value of a long column allocates
  // nothing until data arrives.
  value->SetDeclaredLengthOnly(Length);
  value->SetScale(Scale);
  value->SetCollation(Collation);
  value->SetNull(true);
  return value.release();
}

bool IndexKeyHasRowID(int32_t IndexType) {
  return IndexType != kIndexPrimaryKey && IndexType != kIndexText;
}

// ---------------------------------------------------------------------------

TBRNCursorKeyValues::TBRNCursorKeyValues(TBRNCursorShape* Cursor, const TBRNValues* RowValues)
    : Cursor(Cursor), RowValues(RowValues) {}

int32_t TBRNCursorKeyValues::GetColumnCollation(int32_t Index) const {
  return activeCollation(Cursor, Index);
}

bool TBRNCursorKeyValues::GetColumnDescending(int32_t Index) const {
  return activeDescending(Cursor, Index);
}

int32_t TBRNCursorKeyValues::GetRowID() const {
  TBRNIndex* active = activeIndexOf(Cursor);
  if (active != nullptr && !IndexKeyHasRowID(active->IndexType)) return 0;
  if (RowValues == nullptr || RowValues->GetCount() == 0) return 0;
  const TBRNValue* rowID = RowValues->GetItem(0);
  if (rowID == nullptr || rowID->GetNull()) return 0;
  return rowID->GetAsInteger();
}

void TBRNCursorKeyValues::SetRowID(int32_t /*ID*/) {}

// ---------------------------------------------------------------------------

TBRNContainedCursorKeyValues::TBRNContainedCursorKeyValues(TBRNCursorShape* Cursor)
    : Cursor(Cursor) {
  TBRNIndex* active = activeIndexOf(Cursor);
  if (active == nullptr || active->Columns == nullptr) return;
  const int32_t n = active->Columns->Count();
  Types.reserve(size_t(n));
  for (int32_t i = 0; i < n; ++i) {
    TBRNIndexColumn* keyColumn = active->Columns->GetItem(i);
    // The table column is looked up in the cursor's table columns; a key
    // column whose table column is gone raises the list's not-found error.
    TBRNColumn* column = keyColumn->GetColumn();
    if (column == nullptr) throw std::logic_error("a cursor key needs the cursor's table columns");
    Types.push_back(TBRNColumnValueType::Of(*column, keyColumn->Collation));
  }
  SetCapacity(n);
  for (int32_t i = 0; i < n; ++i) {
    std::unique_ptr<TBRNValue> value(CreateValue(i));
    Add(value.get());
    value.release();
  }
}

TBRNValue* TBRNContainedCursorKeyValues::CreateValue(int32_t Index) {
  if (Index < 0 || Index >= GetKeyColumnCount()) return nullptr;
  return Types[size_t(Index)].CreateValue();
}

int32_t TBRNContainedCursorKeyValues::GetColumnCollation(int32_t Index) const {
  return activeCollation(Cursor, Index);
}

bool TBRNContainedCursorKeyValues::GetColumnDescending(int32_t Index) const {
  return activeDescending(Cursor, Index);
}

}  // namespace brn
