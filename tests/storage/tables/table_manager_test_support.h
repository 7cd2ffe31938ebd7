// Table managers of test sessions, and row changes made straight through a
// manager's files (the row writes of the table manager come later).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/files/table_file_set.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/blob_file.h"
#include "storage/rows/published_updates_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/table_test_support.h"

namespace brn::testing {

// One session of the test database with its table managers.
struct TestSession {
  explicit TestSession(TestDatabaseFiles& database) : Environment(database) {
    Environment.TableManagers = &Managers;
  }

  TestTableEnvironment Environment;
  TBRNTableManagers Managers{Environment};

  // The manager of table, opened with the Shared lock.
  TBRNTableManager* Open(TBRNBaseTable* table) {
    return static_cast<TBRNTableManager*>(Managers.OpenManager(table, kBRNLockTypeShared));
  }
  TBRNTableManager* Manager(TBRNBaseTable* table) {
    return static_cast<TBRNTableManager*>(Managers.GetManager(table));
  }
};

// Inserts row id (name "name<id>") into the row file and, with the index,
// its key into index 0 (the ID primary key), as one operation, then flushes
// as a row change outside a transaction does. Answers the row number.
inline int32_t InsertRawRow(TBRNTableManager& manager, int32_t id, bool withKey = true) {
  auto buffer = manager.NewRowBuffer();
  TBRNRowsetRowValues values(manager.GetColumns(), &manager);
  values.SetRow(buffer.get());
  values.SetAllNull();
  values.GetItem(0)->SetAsInteger(id);
  values.GetItem(1)->SetAsString("name" + std::to_string(id));
  int32_t row = 0;
  {
    TBRNTableOperation operation(manager.GetRowsetManager());
    int32_t counter = 0;
    manager.GetRowNavigator()->InsertRow(manager.GetRowsetManager()->NextVersion(), values, row,
                                         counter);
    if (withKey) {
      TBRNContainedIndexKeyValues key(*manager.GetIndexLayout(0));
      key.GetItem(0)->SetAsInteger(id);
      key.SetRowID(id);
      manager.GetIndexNavigator(0)->InsertKey(key, row);
    }
    operation.Commit();
  }
  manager.FlushFiles(true);
  return row;
}

// The first column (an INTEGER ID) of every row of the open manager, by
// row number.
inline std::vector<int32_t> ReadRowIDs(TBRNTableManager& manager) {
  std::vector<int32_t> ids;
  auto buffer = manager.NewRowBuffer();
  TBRNRowsetRowValues values(manager.GetColumns(), &manager);
  values.SetRow(buffer.get());
  for (int32_t n = 1; n <= manager.GetRowsetManager()->GetBlockCount(); ++n) {
    if (manager.ReadRowByNumber(n, values)) ids.push_back(values.GetItem(0)->GetAsInteger());
  }
  return ids;
}

}  // namespace brn::testing
