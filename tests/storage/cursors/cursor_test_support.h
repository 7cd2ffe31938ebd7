#pragma once

#include <memory>
#include <string>
#include <vector>

#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "storage/cursors/cursor_columns.h"

namespace brn::testing {

// A stand-in for the cursor: its own table columns (no catalog, IDs set by
// hand as a copy of a table's columns carries them), cursor columns, indexes
// and an active index by position.
class TestCursor : public TBRNCursorShape {
 public:
  TBRNColumns TableColumns{nullptr};
  TBRNCursorColumns CursorColumns{this};
  TBRNCursorIndexes Indexes{this};
  int32_t ActiveIndex = -1;

  TBRNColumns* GetCursorTableColumns() const override {
    return const_cast<TBRNColumns*>(&TableColumns);
  }
  TBRNCursorColumns* GetCursorColumnList() const override {
    return const_cast<TBRNCursorColumns*>(&CursorColumns);
  }
  TBRNIndex* GetCursorActiveIndex() const override {
    return ActiveIndex >= 0 ? Indexes.GetItem(ActiveIndex) : nullptr;
  }

  TBRNColumn* AddTableColumn(const std::string& name, int32_t id, TBRNDataTypeCode type,
                             int32_t length = 0, int32_t scale = 0, int32_t collation = 0,
                             TBRNDataSubType subType = stDefault) {
    auto column = std::make_unique<TBRNColumn>(nullptr);
    column->Name = name;
    column->ID = id;
    column->SetDataType(type);
    if (subType != stDefault) column->SetSubType(subType);
    if (length != 0) column->SetLength(length);
    if (scale != 0) column->SetScale(scale);
    if (collation != 0) column->SetCollation(collation);
    TableColumns.AddObject(column.get());
    return column.release();
  }

  TBRNCursorColumn* AddCursorColumn(int32_t tableColumnID) {
    auto column = std::make_unique<TBRNCursorColumn>(nullptr);
    column->TableColumnID = tableColumnID;
    auto* shown = static_cast<TBRNColumn*>(TableColumns.FindByID(tableColumnID, false));
    column->Name = shown != nullptr ? shown->Name : "C" + std::to_string(tableColumnID);
    CursorColumns.AddObject(column.get());
    return column.release();
  }

  struct KeyColumn {
    int32_t columnID;
    bool descending = false;
    int32_t collation = 0;
  };

  TBRNIndex* AddIndex(const std::string& name, int32_t type, const std::vector<KeyColumn>& keys) {
    auto index = std::make_unique<TBRNIndex>(nullptr);
    index->Name = name;
    index->IndexType = type;
    Indexes.AddObject(index.get());
    TBRNIndex* added = index.release();
    for (const KeyColumn& key : keys) {
      auto column = std::make_unique<TBRNIndexColumn>(nullptr);
      column->ColumnID = key.columnID;
      column->Descending = key.descending;
      column->Collation = key.collation;
      column->CollationFromColumn = key.collation == 0;
      added->Columns->AddObject(column.get());
      column.release();
    }
    return added;
  }
};

// The columns most tests use: ROWID INTEGER (10), NAME VARCHAR(20) (11),
// AMOUNT DECIMAL(?,2) (12), DATA BLOB (13), CODE CHAR(8) (14); cursor columns
// in the order NAME, ROWID, CODE, AMOUNT, DATA.
inline void AddStandardColumns(TestCursor& cursor) {
  cursor.AddTableColumn("ROWID", 10, dtInteger);
  cursor.AddTableColumn("NAME", 11, dtChar, 20);
  cursor.AddTableColumn("AMOUNT", 12, dtDecimal, 0, 2);
  cursor.AddTableColumn("DATA", 13, dtLob);
  cursor.AddTableColumn("CODE", 14, dtChar, 8, 0, 0, stFixed);
  for (int32_t id : {11, 10, 14, 12, 13}) cursor.AddCursorColumn(id);
}

}  // namespace brn::testing
