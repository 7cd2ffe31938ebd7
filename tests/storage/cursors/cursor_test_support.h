#pragma once

#include <memory>
#include <string>
#include <vector>

#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "storage/cursors/cursor.h"
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

// A cursor with the columns and indexes of a TestCursor shape that answers
// every operation with nothing: no rows, no ranges or filters, empty BLOBs.
// Tests and fuzz targets derive the cursors they need from it.
class StubCursor : public TBRNCursor {
 public:
  explicit StubCursor(const TestCursor& shape, bool readOnly = false)
      : TBRNCursor("Orders", readOnly, false) {
    GetTableColumns().Assign(&shape.TableColumns, true);
    GetIndexes().Assign(&shape.Indexes, true);
    BuildColumns();
    SetBof(true);
    SetEof(true);
  }

  // The index named by the last SetActiveIndex.
  int32_t GetActiveIndex() const override {
    auto* index = GetIndexes().FindByName(GetActiveIndexName(), false);
    return index != nullptr ? index->Index : -1;
  }
  bool GetRanged() override { return false; }
  TBRNContainedCursorKeyValues* GetRangeStartValues() override { return nullptr; }
  TBRNContainedCursorKeyValues* GetRangeEndValues() override { return nullptr; }
  bool GetFiltered() override { return false; }
  double GetFilterTime() override { return 0; }
  int32_t GetRowNumber() override { return 0; }
  bool SetToRowNumber(int32_t) override { return false; }
  int32_t GetRowCount() override { return 0; }
  int32_t GetTotalRowCount() override { return 0; }
  void ReadRow(TBRNCursorRow& row) override { row.Clear(); }
  void StepNext() override { SetEof(true); }
  void StepPrior() override { SetBof(true); }
  void ReadBlob(int32_t, int32_t, TBRNMemoryStream& stream, bool) override { stream.SetSize(0); }
  void WriteBlob(int32_t, int32_t& blockRef, TBRNMemoryStream& stream, int32_t,
                 int32_t& storedLength) override {
    if (blockRef == 0) blockRef = 1;
    storedLength = int32_t(stream.GetSize());
  }
  void ComputeColumn(TBRNExprToken*, TBRNRowValues&) override {}
  bool FirstRow() override { return false; }
  bool NextRow() override { return false; }
  bool PriorRow() override { return false; }
  bool LastRow() override { return false; }
  bool RefreshCursor() override { return false; }
  void GetCurrentRow(TBRNCursorRow& row, bool) override { ReadRow(row); }
  bool InsertRow(TBRNCursorRow&) override { return false; }
  bool UpdateRow(TBRNCursorRow&) override { return false; }
  bool DeleteRow(TBRNCursorRow&) override { return false; }
  void CancelRow(TBRNCursorRow&) override {}
  void FlushCursor() override {}
  bool SetToBookmark(TBRNContainedBookmarkValues&) override { return false; }
  bool SetToSequenceNumber(int32_t) override { return false; }
  bool SetToRowValues(TBRNCursorRow&) override { return false; }
  bool LocateRow(TBRNMappedCursorColumns&, TBRNValues&, int32_t, bool) override { return false; }
  bool FindRowByKey(TBRNContainedCursorKeyValues&, bool, bool) override { return false; }
  bool SetRange(TBRNContainedCursorKeyValues&, TBRNContainedCursorKeyValues&) override {
    return false;
  }
  bool CancelRange() override { return false; }
  bool SetSequenceRange(int32_t, int32_t) override { return false; }
  bool CancelSequenceRange() override { return false; }
  TBRNFilterHandle CreateFilter(const std::string&, bool, bool, bool) override { return 0; }
  bool DropFilter(TBRNFilterHandle) override { return false; }
  bool ActivateFilter(TBRNFilterHandle) override { return false; }
  bool DeactivateFilter(TBRNFilterHandle) override { return false; }
  void LoadFromStream(TBRNMemoryStream&) override {}
  void SaveToStream(TBRNMemoryStream&) override {}
  bool RefilterCurrentRow() override { return false; }
  void EmptyCursor(bool) override { CheckReadOnly(); }
  TBRNCursor* StartCachedUpdates() override { return nullptr; }
  void ApplyCachedUpdates(bool) override {}
  void CancelCachedUpdates() override {}
};

}  // namespace brn::testing
