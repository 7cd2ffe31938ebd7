// Local sessions of one engine whose configuration lives in a temporary
// folder, with databases added to a session's configuration in memory and
// tables added to a database's catalog.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/files/table_file_test_support.h"

namespace brn::testing {

// An engine whose configuration folder is a fresh temporary folder; the
// databases of the tests lie in it too.
struct TestEngine {
  TestEngine() { Engine.Settings->SetConfigPath(Folder.Path); }

  // An open local session named name.
  std::unique_ptr<TBRNLocalSessionManager> OpenSession(const std::string& name = "Tester") {
    auto session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    session->OpenSession("host", name, "");
    return session;
  }

  TempFolder Folder;
  TBRNEngineManager Engine;
};

// Adds the database name at path (relative to the configuration folder when
// relative) to the session's configuration, in memory only.
inline TBRNDatabaseContainer* AddDatabase(TBRNLocalSessionManager& session, const std::string& name,
                                          const std::string& path) {
  TBRNConfig* config = session.Config.get();
  std::unique_ptr<TBRNDatabaseContainer> database(
      TBRNDatabaseContainer::CreateOwned(config, config->SystemUser));
  database->Name = name;
  database->Path = path;
  config->Databases->AddObject(database.get());
  return database.release();
}

// A table with the columns ID INTEGER and Name CHAR(20) and no index, as a
// base table or a temporary table of the Default schema.
inline TBRNBaseTable* AddTable(TBRNCatalog& catalog, const std::string& name, bool temporary) {
  auto table = std::make_unique<TBRNBaseTable>(&catalog);
  table->Name = name;
  for (auto [columnName, type, length] :
       {std::tuple{"ID", dtInteger, 0}, std::tuple{"Name", dtChar, 20}}) {
    auto column = std::make_unique<TBRNColumn>(&catalog);
    column->Name = columnName;
    column->SetDataType(type);
    if (length != 0) column->SetLength(length);
    table->Columns->AddObject(column.get());
    column.release();
  }
  TBRNSchema* schema = catalog.DefaultSchema;
  if (temporary) {
    table->SetTemporary(true);
    schema->TemporaryTables->AddObject(table.get());
  } else {
    table->SetLockNumber(catalog.NextTableLockNumber());
    schema->BaseTables->AddObject(table.get());
  }
  TBRNBaseTable* added = table.release();
  added->Validate();
  added->UpdateStructureChecksum();
  return added;
}

inline bool PathExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

}  // namespace brn::testing
