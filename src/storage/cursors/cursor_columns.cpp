#include "storage/cursors/cursor_columns.h"

#include <memory>
#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/contained_value.h"

namespace brn {

// ---------------------------------------------------------------------------
// TBRNMappedColumns

TBRNMappedColumns::TBRNMappedColumns(TBRNCatalog* catalog) : TBRNReferenceList(catalog) {}

void TBRNMappedColumns::Changed() {
  // Only the collection's own hook: the column list's pruning of dependency
  // lists would strip the referenced columns of their dependencies on columns
  // this selection leaves out.
  TBRNCatalogObjects::Changed();
}

void TBRNMappedColumns::Validate() {
  TBRNCatalogObjects::Validate();
  rebuildDerivedLists();
}

void TBRNMappedColumns::Assign(const TBRNConfigObject* source, bool copyState) {
  auto* mapped = dynamic_cast<const TBRNMappedCursorColumns*>(source);
  if (mapped == nullptr) {
    // The column-list assignment without the row layout: the referenced
    // columns keep the row offsets of the list that owns them.
    TBRNCatalogObjects::Assign(source, copyState);
    Changed();
    rebuildDerivedLists();
    return;
  }
  Clear();
  try {
    for (int32_t i = 0; i < mapped->Count(); ++i) {
      TBRNColumn* column = mapped->GetColumn(i)->GetTableColumn();
      if (column == nullptr)
        throw std::logic_error("a mapped cursor column has no cursor table columns");
      AddObject(column);
    }
  } catch (...) {
    Clear();
    rebuildDerivedLists();
    throw;
  }
  rebuildDerivedLists();
}

void TBRNMappedColumns::rebuildDerivedLists() {
  for (auto* list : {&BlobColumns, &RequiredColumns, &GeneratedColumns, &IdentityColumns,
                     &ComputedColumns, &DefaultColumns}) {
    if (*list) (*list)->Clear();
  }
  for (int32_t i = 0; i < Count(); ++i) {
    TBRNColumn* column = GetItem(i);
    if (column->DataType == dtLob) GetBlobColumns()->AddObject(column);
    if (column->NotNull) GetRequiredColumns()->AddObject(column);
    if (column->Generated) GetGeneratedColumns()->AddObject(column);
    if (column->Identity) GetIdentityColumns()->AddObject(column);
    if (column->Computed) GetComputedColumns()->AddObject(column);
    if (column->HasDefault) GetDefaultColumns()->AddObject(column);
  }
}

// ---------------------------------------------------------------------------
// TBRNCursorColumn

TBRNCursorColumn::TBRNCursorColumn(TBRNCatalog* catalog) : TBRNCatalogObject(catalog) {}

TBRNCursorShape* TBRNCursorColumn::GetCursor() const {
  auto* list = dynamic_cast<TBRNCursorColumns*>(Owner);
  return list != nullptr ? list->GetCursor() : nullptr;
}

TBRNColumn* TBRNCursorColumn::GetTableColumn() {
  if (auto* cached = tableColumn_.Get(Config)) return static_cast<TBRNColumn*>(cached);
  TBRNCursorShape* cursor = GetCursor();
  TBRNColumns* columns = cursor != nullptr ? cursor->GetCursorTableColumns() : nullptr;
  if (columns == nullptr) return nullptr;
  auto* column = static_cast<TBRNColumn*>(columns->FindByID(TableColumnID, true));
  tableColumn_.Set(column, Config);
  return column;
}

void TBRNCursorColumn::SetTableColumn(TBRNColumn* column) {
  tableColumn_.Set(column, Config);
  TableColumnID = column != nullptr ? column->ID : 0;
}

std::string TBRNCursorColumn::GetObjectTypeName() const {
  return "column";
}

void TBRNCursorColumn::ResetLinks() {
  tableColumn_.Reset();
  TBRNCatalogObject::ResetLinks();
}

void TBRNCursorColumn::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNCatalogObject::Assign(source, copyState);
  if (auto* other = dynamic_cast<const TBRNCursorColumn*>(source)) {
    TableColumnID = other->TableColumnID;
    tableColumn_.Reset();
  }
}

bool TBRNCursorColumn::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* column = dynamic_cast<const TBRNCursorColumn*>(other);
  return column != nullptr && TBRNCatalogObject::IsEqual(other, compareIDs) &&
         TableColumnID == column->TableColumnID;
}

void TBRNCursorColumn::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNCatalogObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(TableColumnID);
}

void TBRNCursorColumn::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNCatalogObject::LoadFromStream(stream);
  TableColumnID = readStoredInteger(stream);
  tableColumn_.Reset();
}

// ---------------------------------------------------------------------------
// TBRNCursorColumns

TBRNCursorColumns::TBRNCursorColumns(TBRNCursorShape* cursor, TBRNCatalog* catalog)
    : TBRNCollection(catalog), Cursor(cursor) {}

TBRNCursorColumn* TBRNCursorColumns::GetColumn(int32_t index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("GetColumn: index out of range");
  return static_cast<TBRNCursorColumn*>(GetItem(index));
}

std::string TBRNCursorColumns::GetObjectTypeName() const {
  return "column";
}

// ---------------------------------------------------------------------------
// TBRNMappedCursorColumns

TBRNMappedCursorColumns::TBRNMappedCursorColumns(TBRNCursorShape* cursor, TBRNCatalog* catalog)
    : TBRNReferenceList(cursor, catalog) {}

void TBRNMappedCursorColumns::SaveToStream(TBRNMemoryStream& stream, bool /*structureOnly*/) {
  TBRNCursorColumns* own = Cursor != nullptr ? Cursor->GetCursorColumnList() : nullptr;
  // Positions first, so that a column outside the cursor's list writes nothing.
  std::vector<int32_t> positions;
  positions.reserve(size_t(Count()));
  for (int32_t i = 0; i < Count(); ++i) {
    TBRNConfigObject* column = GetItem(i);
    int32_t position = -1;
    if (own != nullptr) {
      // A member of the owning list carries its position as Index.
      if (column->Index >= 0 && column->Index < own->Count() &&
          own->GetItem(column->Index) == column)
        position = column->Index;
      for (int32_t j = 0; position < 0 && j < own->Count(); ++j) {
        if (own->GetItem(j) == column) position = j;
      }
    }
    if (position < 0)
      throw std::logic_error("a mapped cursor column is not a column of its cursor");
    positions.push_back(position);
  }
  stream.WriteInteger(int32_t(positions.size()));
  for (int32_t position : positions) stream.WriteInteger(position);
}

void TBRNMappedCursorColumns::LoadFromStream(TBRNMemoryStream& stream) {
  Clear();
  TBRNCursorColumns* own = Cursor != nullptr ? Cursor->GetCursorColumnList() : nullptr;
  const int32_t available = own != nullptr ? own->Count() : 0;
  const int32_t count = readStoredCount(stream, kUnlimitedCount, 4);
  // All positions are checked before the first column is added: a bad stream
  // leaves the list empty.
  std::vector<int32_t> positions;
  positions.reserve(size_t(count));
  for (int32_t i = 0; i < count; ++i) {
    const int32_t position = readStoredInteger(stream);
    if (position < 0 || position >= available)
      RaiseMetadataError(FormatText("The column position %s is outside the cursor's %s columns",
                                    {IntegerToString(position), IntegerToString(available)}));
    positions.push_back(position);
  }
  for (int32_t position : positions) AddObject(own->GetItem(position));
}

void TBRNMappedCursorColumns::RaiseMetadataError(const std::string& message, int32_t line,
                                                 int32_t column) const {
  constexpr int32_t kMetadataError = 100;
  throw EBRNException(kMetadataError,
                      FormatText("There is an error in the metadata for the %s (%s)",
                                 {"selected cursor columns", message}),
                      line, column);
}

// ---------------------------------------------------------------------------
// TBRNCursorIndexes

TBRNCursorIndexes::TBRNCursorIndexes(TBRNCursorShape* cursor, TBRNCatalog* catalog)
    : TBRNIndexes(catalog), Cursor(cursor) {}

TBRNColumns* TBRNCursorIndexes::GetColumns() const {
  return Cursor != nullptr ? Cursor->GetCursorTableColumns() : nullptr;
}

// ---------------------------------------------------------------------------
// TBRNBookmarkColumn(s)

TBRNBookmarkColumn::TBRNBookmarkColumn(TBRNCatalog* catalog) : TBRNIndexColumn(catalog) {}

std::string TBRNBookmarkColumn::GetObjectTypeName() const {
  return "bookmark column";
}

void TBRNBookmarkColumn::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNIndexColumn::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNIndexColumn*>(source);
  if (other == nullptr || other == this) return;
  // The source resolves in its own index's columns (the cursor's table
  // columns for a cursor index); its column is the one this bookmark shows.
  TBRNColumn* column = const_cast<TBRNIndexColumn*>(other)->GetColumn();
  if (column != nullptr) column_.Set(column, Config);
}

TBRNColumns* TBRNBookmarkColumn::lookupColumns() const {
  auto* list = dynamic_cast<TBRNBookmarkColumns*>(Owner);
  TBRNCursorShape* cursor = list != nullptr ? list->GetCursor() : nullptr;
  return cursor != nullptr ? cursor->GetCursorTableColumns() : nullptr;
}

TBRNBookmarkColumns::TBRNBookmarkColumns(TBRNCursorShape* cursor, TBRNCatalog* catalog)
    : TBRNCollection(catalog), Cursor(cursor) {}

TBRNBookmarkColumn* TBRNBookmarkColumns::GetColumn(int32_t index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("GetColumn: index out of range");
  return static_cast<TBRNBookmarkColumn*>(TBRNConfigObjects::GetItem(index));
}

std::string TBRNBookmarkColumns::GetObjectTypeName() const {
  return "bookmark column";
}

// ---------------------------------------------------------------------------
// TBRNContainedCursorColumnValues

TBRNContainedCursorColumnValues::TBRNContainedCursorColumnValues(
    TBRNMappedCursorColumns& MappedColumns) {
  const int32_t n = MappedColumns.Count();
  Types.reserve(size_t(n));
  for (int32_t i = 0; i < n; ++i) {
    TBRNColumn* column = MappedColumns.GetColumn(i)->GetTableColumn();
    if (column == nullptr)
      throw std::logic_error("cursor column values need the cursor's table columns");
    Types.push_back(TBRNColumnValueType::Of(*column, column->Collation));
  }
  SetCapacity(n);
  for (int32_t i = 0; i < n; ++i) {
    std::unique_ptr<TBRNValue> value(CreateValue(i));
    Add(value.get());
    value.release();
  }
}

TBRNValue* TBRNContainedCursorColumnValues::CreateValue(int32_t Index) {
  if (Index < 0 || Index >= int32_t(Types.size())) return nullptr;
  return Types[size_t(Index)].CreateValue();
}

}  // namespace brn
