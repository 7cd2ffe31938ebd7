// Sessions of one process each (their own engine over a shared
// configuration folder) on the database D with the table Parts, and local
// cursors over it:
//   "__RowID", ID INTEGER NOT NULL (primary key "PK"), Name CHAR(20) NOT
//   NULL (index "ByName", case-sensitive), Code CHAR(10) (index "ByCode",
//   case-insensitive), Qty INTEGER DEFAULT 5 with CHECK "QtyCheck" Qty >= 0.
#pragma once

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "execution/cursors/indexed_local_cursor.h"
#include "execution/cursors/local_cursor.h"
#include "execution/cursors/local_cursor_factory.h"
#include "execution/execution_test_support.h"
#include "foundation/text/collation.h"
#include "metadata/catalog/constraints.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/databases/local_database_manager.h"
#include "storage/tables/child_process.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/table_test_support.h"

namespace brn::testing {

// Registers the local cursor factory for the life of a test (forked
// children inherit it).
struct CursorFactoryRegistration {
  TBRNLocalCursorFactory Factory;
  CursorFactoryRegistration() { SetTableObjectFactory(&Factory); }
  ~CursorFactoryRegistration() { SetTableObjectFactory(nullptr); }
};

// One session, logged in as Administrator, with D open shared. Every
// process makes its own.
struct EditSession {
  explicit EditSession(const std::string& configPath) {
    InstallExecution();
    Engine.Settings->SetConfigPath(configPath);
    Session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    Session->OpenSession("host", "Tester", "");
    Session->Login("Administrator", "GlenHarbor");
    Session->RecordLockRetryCount = 2;
    Session->RecordLockWaitTime = 10;
    TBRNDatabaseContainer* database = AddDatabase(*Session, "D", configPath + "D");
    database->ApplyDefaultGrants();
    Db = Session->GetDatabaseManager(database);
    Db->OpenDatabase(kBRNLockShared);
  }

  TBRNBaseTable* Parts() const {
    return static_cast<TBRNBaseTable*>(
        Db->Catalog->DefaultSchema->BaseTables->FindByName("Parts", true));
  }

  // A cursor on Parts holding a user of the table's manager of its own;
  // indexed: in the order of "PK".
  std::unique_ptr<TBRNLocalCursor> Cursor(bool indexed = false, bool readOnly = false) {
    TBRNSchemaObjectManager* manager = Db->TableManagers->OpenManager(Parts(), kBRNLockTypeShared);
    auto made = static_cast<TBRNVirtualTableManager*>(manager)->CreateCursor("Parts", readOnly,
                                                                             false, indexed);
    std::unique_ptr<TBRNLocalCursor> cursor(dynamic_cast<TBRNLocalCursor*>(made.release()));
    if (!cursor) throw std::logic_error("not a local cursor");
    return cursor;
  }

  TBRNEngineManager Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Db = nullptr;
};

// Makes Parts in the database of session.
inline void CreateParts(EditSession& session) {
  TBRNLocalDatabaseManager& db = *session.Db;
  TBRNBaseTable* table = db.CreateTable("Parts");
  try {
    table->AddRowIDColumn();
    auto add = [&](const char* name, TBRNDataTypeCode type, int32_t length, bool notNull,
                   int32_t collation) {
      auto column = std::make_unique<TBRNColumn>(db.Catalog.get());
      column->Name = name;
      column->SetDataType(type);
      if (length != 0) column->SetLength(length);
      column->SetNotNull(notNull);
      if (collation != BinaryCollation) column->SetCollation(collation);
      table->Columns->AddObject(column.get());
      return column.release();
    };
    int32_t caseInsensitive = BinaryCollation;
    IncludeBit(caseInsensitive, CaseInsensitiveBit);
    add("ID", dtInteger, 0, true, BinaryCollation);
    add("Name", dtChar, 20, true, BinaryCollation);
    add("Code", dtChar, 10, false, caseInsensitive);
    TBRNColumn* qty = add("Qty", dtInteger, 0, false, BinaryCollation);
    qty->SetHasDefault(true);
    qty->DefaultExpr->SetText("5");
    AddTableKey(table, "PK", kConstraintPrimaryKey, {"ID"});
    TBRNConstraint* check = AddTableConstraint(table, "QtyCheck", kConstraintCheck, {});
    check->CheckExpr->SetText("Qty >= 0");
    AddTableIndex(table, "ByName", {"Name"}, kIndexOrdinary);
    TBRNIndex* byCode = AddTableIndex(table, "ByCode", {"Code"}, kIndexOrdinary);
    byCode->Columns->GetItem(0)->SetCollation(caseInsensitive);
    db.CommitCreateTable(table);
  } catch (...) {
    db.RollbackCreateTable(table);
    throw;
  }
}

// A row of a cursor of Parts, set and read by column name.
struct PartRow {
  explicit PartRow(TBRNLocalCursor& cursor) : Cursor(cursor), Row(cursor.CreateRow()) {}

  int32_t IndexOf(const std::string& name) const {
    TBRNColumns& columns = Cursor.GetTableColumns();
    for (int32_t i = 0; i < columns.Count(); ++i)
      if (columns.GetItem(i)->Name == name) return i;
    throw std::invalid_argument("no column " + name);
  }
  TBRNValue* Value(const std::string& name) const { return Row->Values.GetItem(IndexOf(name)); }
  bool Modified(const std::string& name) const {
    return Row->Values.GetRowValue(IndexOf(name))->Modified;
  }
  int32_t Get(const std::string& name) const { return Value(name)->GetAsInteger(); }
  std::string Text(const std::string& name) const { return Value(name)->GetAsString(); }
  PartRow& Set(const std::string& name, int32_t value) {
    Value(name)->SetAsInteger(value);
    return *this;
  }
  PartRow& Set(const std::string& name, const std::string& value) {
    Value(name)->SetAsString(value);
    return *this;
  }
  // A new row: InitializeRow, then ID, Name, Code and Qty.
  PartRow& New(int32_t id, const std::string& name, const std::string& code = "c") {
    Cursor.InitializeRow(*Row);
    Set("ID", id).Set("Name", name);
    if (!code.empty()) Set("Code", code);
    return *this;
  }
  // The current row, read (for an edit when forUpdate: Row must carry
  // the row read before, as a client's row buffer does).
  PartRow& Current(bool forUpdate = false) {
    Cursor.GetCurrentRow(*Row, forUpdate);
    return *this;
  }
  // The current row read, then read again for an edit.
  PartRow& Edit() { return Current().Current(true); }

  TBRNLocalCursor& Cursor;
  std::unique_ptr<TBRNCursorRow> Row;
};

// The ID of the row the cursor stands on, 0 when none.
inline int32_t CurrentID(TBRNLocalCursor& cursor) {
  if (cursor.GetRowNumber() == 0) return 0;
  PartRow row(cursor);
  cursor.ReadRow(*row.Row);
  return row.Get("ID");
}

// A primary-key search value of an indexed cursor of Parts.
inline bool FindID(TBRNLocalCursor& cursor, int32_t id, bool nearest = false) {
  TBRNContainedCursorKeyValues key(&cursor);
  key.GetItem(0)->SetAsInteger(id);
  return cursor.FindRowByKey(key, nearest, false);
}

// One byte through a pipe, to step two processes in turn. Wait gives up
// after 30 s (the other process failed before sending).
struct Signal {
  Signal() {
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
  }
  ~Signal() {
    close(fds[0]);
    close(fds[1]);
  }
  void Send() {
    char b = 1;
    if (write(fds[1], &b, 1) != 1) throw std::runtime_error("signal write");
  }
  void Wait() {
    pollfd ready{fds[0], POLLIN, 0};
    char b = 0;
    if (poll(&ready, 1, 30000) != 1 || read(fds[0], &b, 1) != 1)
      throw std::runtime_error("no signal");
  }
  int fds[2] = {-1, -1};
};

// The engine code of what call raised; 0 when it passed.
inline int32_t CodeOf(const std::function<void()>& call) {
  return Outcome(call).first;
}

}  // namespace brn::testing
