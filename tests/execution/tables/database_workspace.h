// A session logged in as Administrator on an engine whose files live in
// fault-injecting memory, with the store Files and the open database D
// whose tables are made through the database manager; statements run on D
// through statement handles and table contents are read through local
// cursors.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "execution/cursors/local_cursor_factory.h"
#include "execution/execution_test_support.h"
#include "execution/handles/local_statement_manager.h"
#include "execution/import_export/table_transfer.h"
#include "foundation/types/data_types.h"
#include "metadata/catalog/columns.h"
#include "metadata/config/databases.h"
#include "metadata/config/stores.h"
#include "sessions/ddl/view_routine_test_support.h"
#include "storage/cursors/cursor.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/table_test_support.h"

namespace brn::testing {

// One column of a test table.
struct WorkspaceColumn {
  const char* Name;
  TBRNDataTypeCode Type;
  int32_t Length = 0;
  int32_t Scale = 0;
  TBRNDataSubType SubType = stDefault;
};

// The text of a value as the tests compare it; NULL is "<null>".
inline std::string ValueText(const TBRNValue& value) {
  return value.GetNull() ? std::string("<null>") : value.GetAsString();
}

struct DatabaseWorkspace {
  DatabaseWorkspace() {
    InstallDataExecution();
    SetTableObjectFactory(&Factory);
    Session->Login("Administrator", "GlenHarbor");
    Session->SetProgressTimeInterval(0);
    AddStore("Files", FilesPath);
    Database = AddOpenDatabase("D");
  }
  ~DatabaseWorkspace() { SetTableObjectFactory(nullptr); }

  void AddStore(const std::string& name, const std::string& path) {
    TBRNStore* store = Session->BeginCreateStore(name);
    store->SetStoreType(kLocalStore);
    store->SetPath(path);
    Session->EndCreateStore(store);
  }
  // The handle of the configured database name in session.
  static TBRNLocalDatabaseManager* DatabaseOf(TBRNLocalSessionManager& session,
                                              const std::string& name) {
    return session.GetDatabaseManager(
        static_cast<TBRNDatabaseContainer*>(session.Config->Databases->FindByName(name, true)));
  }
  // A new configured database name (folder /config/<name>), opened Shared.
  TBRNLocalDatabaseManager* AddOpenDatabase(const std::string& name) {
    TBRNDatabaseContainer* created = Session->BeginCreateDatabase(name);
    created->Path = "/config/" + name;
    Session->EndCreateDatabase(created);
    TBRNLocalDatabaseManager* database = DatabaseOf(*Session, name);
    database->OpenDatabase(kBRNLockShared);
    return database;
  }

  // A base table of the Default schema of database (D when nullptr) as
  // CREATE TABLE makes one: the internal "__RowID" first, then the columns,
  // and a primary key on column key, or else the internal one.
  TBRNBaseTable* CreateTable(const std::string& name, const std::vector<WorkspaceColumn>& columns,
                             TBRNLocalDatabaseManager* database = nullptr,
                             const char* key = nullptr) {
    TBRNLocalDatabaseManager& db = database != nullptr ? *database : *Database;
    TBRNBaseTable* table = db.CreateTable(name);
    try {
      table->AddRowIDColumn();
      for (const WorkspaceColumn& shape : columns) {
        auto column = std::make_unique<TBRNColumn>(db.Catalog.get());
        column->Name = shape.Name;
        column->SetDataType(shape.Type);
        if (shape.SubType != stDefault) column->SetSubType(shape.SubType);
        if (shape.Length != 0) column->SetLength(shape.Length);
        if (shape.Scale != 0) column->SetScale(shape.Scale);
        table->Columns->AddObject(column.get());
        column.release();
      }
      if (key != nullptr) AddTableKey(table, "PK_" + name, kConstraintPrimaryKey, {key});
      table->EnsurePrimaryKey();
      db.CommitCreateTable(table);
    } catch (...) {
      db.RollbackCreateTable(table);
      throw;
    }
    return table;
  }

  // Prepares sql on database (D when nullptr), executes and frees it;
  // answers the statement's result (VERIFY, REPAIR).
  bool Exec(const std::string& sql, TBRNLocalDatabaseManager* database = nullptr) {
    TBRNLocalDatabaseManager& db = database != nullptr ? *database : *Database;
    auto* handle = static_cast<TBRNLocalStatementManager*>(db.PrepareStatement(sql));
    bool result = false;
    try {
      handle->ExecuteStatement();
      result = handle->ExecutionResult;
    } catch (...) {
      TBRNLocalStatementManager::FreeStatement(handle);
      throw;
    }
    TBRNLocalStatementManager::FreeStatement(handle);
    return result;
  }

  // A cursor of database on table, freed at the end of its scope.
  struct CursorScope {
    CursorScope(TBRNLocalDatabaseManager& database, const std::string& table, bool readOnly)
        : Database(database), Cursor(database.OpenTableCursor("", table, readOnly)) {}
    ~CursorScope() {
      Database.Cursors.RemoveObject(Cursor, false);
      delete Cursor;
    }
    CursorScope(const CursorScope&) = delete;
    CursorScope& operator=(const CursorScope&) = delete;
    TBRNLocalDatabaseManager& Database;
    TBRNCursor* Cursor;
  };

  // Every row of the table in row order, each as the texts of its visible
  // columns' values.
  std::vector<std::vector<std::string>> Rows(const std::string& table,
                                             TBRNLocalDatabaseManager* database = nullptr) {
    CursorScope scope(database != nullptr ? *database : *Database, table, true);
    TBRNCursor& cursor = *scope.Cursor;
    std::vector<std::vector<std::string>> rows;
    auto row = cursor.CreateRow();
    for (cursor.FirstRow(); !cursor.GetEof(); cursor.NextRow()) {
      cursor.ReadRow(*row);
      std::vector<std::string> values;
      TBRNCursorColumns& columns = cursor.GetCursorColumns();
      for (int32_t i = 0; i < columns.Count(); ++i)
        values.push_back(
            ValueText(*row->Values.GetItem(columns.GetColumn(i)->GetTableColumn()->Index)));
      rows.push_back(values);
    }
    return rows;
  }

  std::string FilePath(const std::string& name) const { return FilesPath + "/" + name; }
  void WriteFile(const std::string& name, const std::string& bytes) {
    std::unique_ptr<TBRNFileStream> stream =
        Engine.Faults->CreateFile(FilePath(name), true, false, false);
    stream->Write(bytes.data(), int32_t(bytes.size()));
  }
  std::string ReadFile(const std::string& name) {
    return FileBytes(*Engine.Faults, FilePath(name));
  }

  ExecutionInstaller Installer;
  TBRNLocalCursorFactory Factory;
  FaultEngine Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session = [this] {
    auto session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    session->OpenSession("host", "Tester", "");
    return session;
  }();
  std::string FilesPath = "/config/files";
  TBRNLocalDatabaseManager* Database = nullptr;
};

}  // namespace brn::testing
