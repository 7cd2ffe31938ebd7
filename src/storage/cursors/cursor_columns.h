#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/values/value_list.h"
#include "metadata/catalog/catalog_object.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/core/object_link.h"
#include "storage/cursors/key_values.h"

namespace brn {

class TBRNCursorColumns;
class TBRNMappedCursorColumns;

// What the column, index and key classes of a cursor need of the cursor: its
// own copy of the table columns, its column list and its active index. The
// cursor implements it; the lists and keys bound to a cursor keep a pointer to
// it and must not outlive it. The cursor, and every list, column, key and
// value list in this file and in key_values.h bound to it, are used by one
// thread at a time (the one using the cursor).
class TBRNCursorShape {
 public:
  virtual ~TBRNCursorShape() = default;

  // The cursor's copy of the source's columns (nullptr while it has none).
  virtual TBRNColumns* GetCursorTableColumns() const = 0;
  // The cursor's own column objects (nullptr while it has none).
  virtual TBRNCursorColumns* GetCursorColumnList() const = 0;
  // The index the cursor is ordered by; nullptr when none is active.
  virtual TBRNIndex* GetCursorActiveIndex() const = 0;
};

// A list of table columns that refers to columns owned elsewhere. It keeps
// the derived lists (BLOB, required, generated... columns) of its selection
// but never changes the columns themselves: their row offsets and dependency
// lists stay those of the list that owns them (RowSize is not maintained).
class TBRNMappedColumns : public TBRNReferenceList<TBRNColumns> {
 public:
  explicit TBRNMappedColumns(TBRNCatalog* catalog = nullptr);

  // From a TBRNMappedCursorColumns: the table column of each cursor column, in
  // its order (resolving may raise the column list's not-found error; the list
  // is then empty). From any other list: the column-list assignment (the
  // source's columns are referred to, not copied).
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  void Changed() override;
  void Validate() override;

 private:
  void rebuildDerivedLists();
};

// One column of a cursor: shows the table column whose catalog ID it keeps.
// The table column is looked up by ID in the cursor's table columns on first
// use and cached until ResetLinks.
//
// Stored record: the base record, then int32 TableColumnID.
class TBRNCursorColumn : public TBRNCatalogObject {
 public:
  explicit TBRNCursorColumn(TBRNCatalog* catalog);

  int32_t TableColumnID = 0;

  // The cursor whose column list holds this column (nullptr outside one).
  TBRNCursorShape* GetCursor() const;
  // The table column: cached, else looked up by ID in the cursor's table
  // columns, raising their not-found error (401) when it is gone; nullptr
  // outside a cursor or while the cursor has no table columns.
  TBRNColumn* GetTableColumn();
  // Links column and takes its ID (0 for nullptr).
  void SetTableColumn(TBRNColumn* column);

  std::string GetObjectTypeName() const override;
  void ResetLinks() override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;

 private:
  TBRNObjectLink tableColumn_;
};

// The columns of a cursor, bound to it.
class TBRNCursorColumns : public TBRNCollection<TBRNCursorColumn, TBRNCatalogObjects> {
 public:
  explicit TBRNCursorColumns(TBRNCursorShape* cursor, TBRNCatalog* catalog = nullptr);

  TBRNCursorShape* GetCursor() const { return Cursor; }
  // The column at index (0 <= index < Count, else std::out_of_range).
  TBRNCursorColumn* GetColumn(int32_t index) const;

  std::string GetObjectTypeName() const override;

 protected:
  TBRNCursorShape* Cursor;
};

// A caller-chosen selection of the cursor's own column objects; refers to
// them without owning them.
//
// Stream form: int32 count, then for each column the int32 position of that
// column in the cursor's column list. Loading reads from untrusted bytes: a
// count the bytes cannot hold or a position outside the cursor's column list
// raises the metadata error (100) and leaves the list empty.
class TBRNMappedCursorColumns : public TBRNReferenceList<TBRNCursorColumns> {
 public:
  explicit TBRNMappedCursorColumns(TBRNCursorShape* cursor, TBRNCatalog* catalog = nullptr);

  // A column that is not in the cursor's column list throws std::logic_error.
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;

  // 100 "There is an error in the metadata for the selected cursor columns
  // (%s)": the list has no name of its own to report.
  using TBRNCursorColumns::RaiseMetadataError;
  [[noreturn]] void RaiseMetadataError(const std::string& message, int32_t line,
                                       int32_t column) const override;
};

// The indexes of a cursor: their columns resolve against the cursor's table
// columns.
class TBRNCursorIndexes : public TBRNIndexes {
 public:
  explicit TBRNCursorIndexes(TBRNCursorShape* cursor, TBRNCatalog* catalog = nullptr);

  TBRNCursorShape* GetCursor() const { return Cursor; }
  TBRNColumns* GetColumns() const override;

 private:
  TBRNCursorShape* Cursor;
};

// A column of a cursor's bookmark: an index column that resolves in the
// cursor's table columns through its TBRNBookmarkColumns.
class TBRNBookmarkColumn : public TBRNIndexColumn {
 public:
  explicit TBRNBookmarkColumn(TBRNCatalog* catalog);

  std::string GetObjectTypeName() const override;
  // The index-column assignment; from an index column it also takes that
  // column's resolved table column.
  void Assign(const TBRNConfigObject* source, bool copyState) override;

 protected:
  TBRNColumns* lookupColumns() const override;
};

// The bookmark columns of a cursor, bound to its table columns.
class TBRNBookmarkColumns : public TBRNCollection<TBRNBookmarkColumn, TBRNIndexColumns> {
 public:
  explicit TBRNBookmarkColumns(TBRNCursorShape* cursor, TBRNCatalog* catalog = nullptr);

  TBRNCursorShape* GetCursor() const { return Cursor; }
  TBRNBookmarkColumn* GetColumn(int32_t index) const;

  std::string GetObjectTypeName() const override;

 private:
  TBRNCursorShape* Cursor;
};

// Owned values for the columns of a TBRNMappedCursorColumns: one
// TBRNContainedValue per column, typed from its table column (type, subtype,
// declared length, scale, collation). Construction resolves the table
// columns (their not-found error passes on).
class TBRNContainedCursorColumnValues : public TBRNValues {
 public:
  explicit TBRNContainedCursorColumnValues(TBRNMappedCursorColumns& MappedColumns);

  // A value typed for column Index (a stream that refills a list cut shorter
  // by an earlier load).
  TBRNValue* CreateValue(int32_t Index) override;

 protected:
  int32_t GetMaxStreamCount() const override { return int32_t(Types.size()); }

 private:
  std::vector<TBRNColumnValueType> Types;
};

}  // namespace brn
