// A database on disk with table T (ID INTEGER, the internal primary key on
// it, Name CHAR(20) with the index NameIdx), rows written through the table
// manager, and the rows read back in physical order.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/file_manager.h"
#include "metadata/catalog/indexes.h"
#include "metadata/config/privileges.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/ddl/ddl_frame.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/rows/row_values.h"
#include "storage/tables/table_manager.h"

namespace brn::testing {

struct StoredRow {
  int32_t Row = 0;
  bool Deleted = false;
  int32_t ID = 0;
  std::string Name;  // "<NULL>" for NULL
  bool operator==(const StoredRow&) const = default;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The columns ID INTEGER and Name CHAR(20), the internal primary key on ID
// and, unless withoutNameIndex, the ordinary index NameIdx on Name.
inline void DefineTable(TBRNCatalog& catalog, TBRNBaseTable* table, bool withNameIndex) {
  for (auto [columnName, type, length] :
       {std::tuple{"ID", dtInteger, 0}, std::tuple{"Name", dtChar, 20}}) {
    auto column = std::make_unique<TBRNColumn>(&catalog);
    column->Name = columnName;
    column->SetDataType(type);
    if (length != 0) column->SetLength(length);
    table->Columns->AddObject(column.get());
    column.release();
  }
  table->EnsurePrimaryKey();
  if (!withNameIndex) return;
  std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
  index->Name = "NameIdx";
  index->SetIndexType(kIndexOrdinary);
  std::unique_ptr<TBRNIndexColumn> entry(static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
  entry->SetColumn(static_cast<TBRNColumn*>(table->Columns->FindByName("Name", true)));
  index->Columns->AddObject(entry.get());
  entry.release();
  table->Indexes->AddObject(index.get());
  index.release();
}

inline TBRNTableManager& OpenShared(TBRNLocalDatabaseManager& db, TBRNBaseTable* table) {
  auto* manager = static_cast<TBRNTableManager*>(db.TableManagers->GetManager(table));
  manager->SetCreatingFiles(true);
  db.TableManagers->OpenManager(table, kBRNLockTypeShared);
  manager->SetCreatingFiles(false);
  return *manager;
}

// Rows named by names (IDs are the row IDs 1, 2, ...).
inline void InsertNames(TBRNLocalDatabaseManager& db, TBRNBaseTable* table,
                        const std::vector<std::string>& names) {
  TBRNTableManager& manager = OpenShared(db, table);
  auto buffer = manager.NewRowBuffer();
  TBRNRowsetRowValues values(manager.GetColumns(), &manager);
  values.SetRow(buffer.get());
  for (const std::string& name : names) {
    values.SetAllNull();
    values.GetItem(1)->SetAsString(name);
    int32_t row = 0, version = 0, counter = 0;
    manager.InsertRow(values, row, version, counter, false);
  }
  manager.Close(false, true);
}

inline void DeleteRows(TBRNLocalDatabaseManager& db, TBRNBaseTable* table,
                       const std::vector<int32_t>& rows) {
  TBRNTableManager& manager = OpenShared(db, table);
  for (int32_t row : rows) {
    manager.GotoRowNumber(row);
    int32_t counter = 0;
    manager.DeleteRow(manager.GetRowNavigator()->GetCurrentValues(), row, counter);
  }
  manager.Close(false, true);
}

// Every row block in physical order.
inline std::vector<StoredRow> ReadRows(TBRNLocalDatabaseManager& db, TBRNBaseTable* table) {
  TBRNTableManager& manager = OpenShared(db, table);
  std::vector<StoredRow> rows;
  const int32_t count = manager.GetRowFileLastBlock();
  for (int32_t row = 1; row <= count; ++row) {
    manager.GotoRowNumber(row);
    TBRNRowsetNavigator* navigator = manager.GetRowNavigator();
    if (navigator->GetRowNumber() != row) continue;
    const TBRNRowsetRowValues& values = navigator->GetCurrentValues();
    StoredRow stored;
    stored.Row = row;
    stored.Deleted = navigator->GetCurrentRow()->Status == kRowDeleted;
    stored.ID = values.GetItem(0)->GetNull() ? -1 : values.GetItem(0)->GetAsInteger();
    stored.Name = values.GetItem(1)->GetNull() ? "<NULL>" : values.GetItem(1)->GetAsString();
    rows.push_back(stored);
  }
  manager.Close(false, true);
  return rows;
}

// The live rows' names in the order of the table's index position index.
inline std::vector<std::string> NamesByIndex(TBRNLocalDatabaseManager& db, TBRNBaseTable* table,
                                             int32_t index) {
  TBRNTableManager& manager = OpenShared(db, table);
  auto buffer = manager.NewRowBuffer();
  TBRNRowsetRowValues values(manager.GetColumns(), &manager);
  values.SetRow(buffer.get());
  std::vector<std::string> names;
  for (bool more = manager.FirstRowByIndex(values, index); more;
       more = manager.NextRowByIndex(values, index)) {
    names.push_back(values.GetItem(1)->GetNull() ? "<NULL>" : values.GetItem(1)->GetAsString());
  }
  manager.Close(false, true);
  return names;
}

// ALTER TABLE T of db: change edits the working copy, flags set on it; the
// alteration is rolled back when it throws.
inline void Alter(TBRNLocalDatabaseManager& db, const std::function<void(TBRNBaseTable*)>& change,
                  int32_t flags) {
  TBRNBaseTable* table = db.BeginAlterTable("T");
  TBRNBaseTable* copy = nullptr;
  try {
    copy = db.CreateWorkingCopy(table);
    change(copy);
    copy->AlterationFlags = flags;
    db.AlterTable(table, copy);
  } catch (...) {
    db.RollbackAlterTable(table, copy);
    throw;
  }
}

}  // namespace brn::testing
