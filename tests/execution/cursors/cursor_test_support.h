// Local cursors over the Items table of test sessions (ID INTEGER primary
// key "PK", Name CHAR(20) indexed by "ByName"), with rows written straight
// through a manager's files as another session or process would.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "execution/cursors/local_cursor.h"
#include "execution/cursors/local_cursor_factory.h"
#include "storage/tables/child_process.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {

// Registers the local cursor factory for the life of a test.
struct CursorFactoryScope {
  TBRNLocalCursorFactory Factory;
  CursorFactoryScope() { SetTableObjectFactory(&Factory); }
  ~CursorFactoryScope() { SetTableObjectFactory(nullptr); }
};

// Deletes stored row Row with its keys, flushed as a change outside a
// transaction is.
inline void DeleteRawRow(TBRNTableManager& manager, int32_t row) {
  manager.HasChanged(false);
  auto buffer = manager.NewRowBuffer();
  TBRNRowsetRowValues values(manager.GetColumns(), &manager);
  values.SetRow(buffer.get());
  if (!manager.ReadRowByNumber(row, values)) throw std::runtime_error("no row to delete");
  {
    TBRNTableOperation operation(manager.GetRowsetManager());
    for (int32_t i = 0; i < manager.GetIndexes()->Count(); ++i) manager.DeleteKey(values, row, i);
    int32_t counter = 0;
    manager.GetRowNavigator()->DeleteRow(row, counter);
    operation.Commit();
  }
  manager.FlushFiles(true);
}

// Inserts row id with both its keys (InsertRawRow writes only the primary
// key); answers the row number.
inline int32_t InsertItem(TBRNTableManager& manager, int32_t id) {
  manager.HasChanged(false);
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
    for (int32_t i = 0; i < manager.GetIndexes()->Count(); ++i) manager.InsertKey(values, row, i);
    operation.Commit();
  }
  manager.FlushFiles(true);
  return row;
}

// One session with the Items table, its manager open and a local cursor
// made through the manager's CreateCursor (the cursor takes the manager's
// user over).
struct CursorSession {
  explicit CursorSession(TestDatabaseFiles& database, TBRNFileManager* files = nullptr)
      : Session(database) {
    Session.Environment.TableFiles = files;
    Table = Session.Environment.AddItemsTable("Items", false);
  }

  TBRNTableManager* Open() {
    Manager = Session.Open(Table);
    return Manager;
  }
  TBRNLocalCursor& MakeCursor(bool indexed = false) {
    auto made = Manager->CreateCursor("Items", false, false, indexed);
    Cursor.reset(dynamic_cast<TBRNLocalCursor*>(made.release()));
    if (!Cursor) throw std::logic_error("not a local cursor");
    return *Cursor;
  }
  // The ID of the current row (0 when none).
  int32_t CurrentID() {
    if (Cursor->GetRowNumber() == 0) return 0;
    auto row = Cursor->CreateRow();
    Cursor->ReadRow(*row);
    return row->Values.GetItem(0)->GetAsInteger();
  }
  // The IDs met walking forward from the first row.
  std::vector<int32_t> WalkForward() {
    std::vector<int32_t> ids;
    for (bool on = Cursor->FirstRow(); on && !Cursor->GetEof(); on = Cursor->NextRow()) {
      ids.push_back(CurrentID());
    }
    return ids;
  }
  std::vector<int32_t> WalkBackward() {
    std::vector<int32_t> ids;
    for (bool on = Cursor->LastRow(); on && !Cursor->GetBof(); on = Cursor->PriorRow()) {
      ids.push_back(CurrentID());
    }
    return ids;
  }
  bool ReadFree() { return Session.Environment.LockByteFree(Table, ltRead); }

  TestSession Session;
  TBRNBaseTable* Table = nullptr;
  TBRNTableManager* Manager = nullptr;
  // Destroyed before the session.
  std::unique_ptr<TBRNLocalCursor> Cursor;
};

// Creates the files of Items with a row for each of ids, through a session
// that closes again (files: its file manager, nullptr for the plain one).
inline void CreateItemRows(TestDatabaseFiles& database, const std::vector<int32_t>& ids,
                           TBRNFileManager* files = nullptr) {
  CursorSession maker(database, files);
  maker.Session.Manager(maker.Table)->SetCreatingFiles(true);
  TBRNTableManager* manager = maker.Open();
  for (int32_t id : ids) InsertItem(*manager, id);
}

// Items with rows 1..count.
inline void CreateItems(TestDatabaseFiles& database, int32_t count,
                        TBRNFileManager* files = nullptr) {
  std::vector<int32_t> ids;
  for (int32_t id = 1; id <= count; ++id) ids.push_back(id);
  CreateItemRows(database, ids, files);
}

}  // namespace brn::testing
