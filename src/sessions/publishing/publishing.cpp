// PUBLISH DATABASE and UNPUBLISH DATABASE, the database's publishing and
// update-file errors, and the session's commands that run them.
#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/databases.h"
#include "metadata/config/privileges.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/publishing/publishing_tables.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// Whether table has a primary key of its own, not only the internal one
// on the row identifier.
bool hasDeclaredPrimaryKey(TBRNBaseTable* table) {
  for (int32_t i = 0; i < table->Indexes->Count(); ++i) {
    TBRNIndex* index = table->Indexes->GetItem(i);
    if (index->IndexType == kIndexPrimaryKey &&
        !(index->Internal && index->Name == kInternalPrimaryKeyName)) {
      return true;
    }
  }
  return false;
}

// The manager of table, closed (a kept-open idle manager is closed
// completely), for PublishTable or UnpublishTable.
TBRNTableManager& closedManager(TBRNLocalDatabaseManager& database, TBRNBaseTable* table) {
  auto* manager = static_cast<TBRNTableManager*>(database.TableManagers->GetManager(table));
  if (!manager->GetFiles().empty() && manager->GetUserCount() == 0) manager->ForceClose();
  return *manager;
}

}  // namespace

// ---------------------------------------------------------------------------
// The table lists

TOpenDatabase::TOpenDatabase(TBRNLocalDatabaseManager& database) : database_(database) {
  database_.OpenDatabase(kBRNLockShared);
}

TOpenDatabase::~TOpenDatabase() {
  try {
    database_.CloseDatabase(false);
  } catch (...) {
    // The command's own error (if any) is the one reported.
  }
}

std::vector<TBRNBaseTable*> PublishingTables(TBRNLocalDatabaseManager& database,
                                             const TBRNStringsList& names,
                                             const std::function<void(TBRNBaseTable*)>& temporary) {
  TBRNSchema* schema = database.Catalog->DefaultSchema;
  std::vector<TBRNBaseTable*> tables;
  if (names.GetCount() == 0) {
    for (int32_t i = 0; i < schema->BaseTables->Count(); ++i) {
      tables.push_back(static_cast<TBRNBaseTable*>(schema->BaseTables->GetItem(i)));
    }
  } else {
    for (const std::string& name : names.GetItems()) {
      auto* table = static_cast<TBRNBaseTable*>(schema->TemporaryTables->FindByName(name, false));
      if (table != nullptr) {
        if (temporary) temporary(table);
        continue;
      }
      table = static_cast<TBRNBaseTable*>(schema->BaseTables->FindByName(name, true));
      if (std::find(tables.begin(), tables.end(), table) == tables.end()) tables.push_back(table);
    }
  }
  std::sort(tables.begin(), tables.end(),
            [](const TBRNBaseTable* a, const TBRNBaseTable* b) { return a->ID < b->ID; });
  return tables;
}

// ---------------------------------------------------------------------------
// Errors

void TBRNLocalDatabaseManager::RaisePublishError(const std::string& detail) {
  throw EBRNException(1302, FormatText("Error publishing the %s %s (%s)",
                                       {Database->GetObjectTypeName(), Database->Name, detail}));
}

void TBRNLocalDatabaseManager::RaiseUnpublishError(const std::string& detail) {
  throw EBRNException(1303, FormatText("Error unpublishing the %s %s (%s)",
                                       {Database->GetObjectTypeName(), Database->Name, detail}));
}

void TBRNLocalDatabaseManager::RaiseSaveUpdatesError(const std::string& detail) {
  throw EBRNException(1304, FormatText("Error saving updates for the %s %s (%s)",
                                       {Database->GetObjectTypeName(), Database->Name, detail}));
}

void TBRNLocalDatabaseManager::RaiseLoadUpdatesError(const std::string& detail) {
  throw EBRNException(1305, FormatText("Error loading the updates for the %s %s (%s)",
                                       {Database->GetObjectTypeName(), Database->Name, detail}));
}

int64_t TBRNLocalDatabaseManager::NextTimestamp() {
  return Session->Engine->NextTimestamp();
}

// ---------------------------------------------------------------------------
// PUBLISH and UNPUBLISH DATABASE

bool TBRNLocalDatabaseManager::PublishDatabase(const TBRNStringsList& tables, int32_t columnMode) {
  const std::string statement = FormatText("PUBLISH DATABASE %s", {Database->Name});
  Session->CheckPrivilege(Database, pkMaintain, statement);
  RequireNoTransaction(statement);
  TOpenDatabase open(*this);
  TBRNCatalogUpdateBracket update(*this);
  std::vector<TBRNBaseTable*> list =
      PublishingTables(*this, tables, [this](TBRNBaseTable* table) {
        RaisePublishError(FormatText("Cannot publish the %s %s",
                                     {table->GetObjectTypeName(), table->Name}));
      });
  // A table published here gets new file headers (its structure checksum
  // counts the publishing state): when a later step fails, it is
  // unpublished again, so that its files match the catalog that the
  // cancelled update reloads.
  std::vector<TBRNBaseTable*> done;
  try {
    for (TBRNBaseTable* table : list) {
      if (table->Published) continue;
      // Records are applied by primary key; the row identifier names a row
      // only inside this table's files.
      if (!hasDeclaredPrimaryKey(table)) {
        RaisePublishError(FormatText("No primary key constraint present in the %s %s",
                                     {table->GetObjectTypeName(), table->Name}));
      }
      TBRNTableManager& manager = closedManager(*this, table);
      TBRNObjectLockScope lock(*this, table, kBRNLockTypeExclusive);
      manager.PublishTable(columnMode);
      done.push_back(table);
    }
    update.Commit();
  } catch (...) {
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
      try {
        TBRNTableManager& manager = closedManager(*this, *it);
        TBRNObjectLockScope lock(*this, *it, kBRNLockTypeExclusive);
        manager.UnpublishTable();
      } catch (...) {
        // The publishing error is the one reported.
      }
    }
    throw;
  }
  return true;
}

bool TBRNLocalDatabaseManager::UnpublishDatabase(const TBRNStringsList& tables) {
  const std::string statement = FormatText("UNPUBLISH DATABASE %s", {Database->Name});
  Session->CheckPrivilege(Database, pkMaintain, statement);
  RequireNoTransaction(statement);
  TOpenDatabase open(*this);
  TBRNCatalogUpdateBracket update(*this);
  std::vector<TBRNBaseTable*> list =
      PublishingTables(*this, tables, [this](TBRNBaseTable* table) {
        RaiseUnpublishError(FormatText("Cannot publish the %s %s",
                                       {table->GetObjectTypeName(), table->Name}));
      });
  for (TBRNBaseTable* table : list) {
    if (!table->Published) continue;
    TBRNTableManager& manager = closedManager(*this, table);
    TBRNObjectLockScope lock(*this, table, kBRNLockTypeExclusive);
    manager.UnpublishTable();
  }
  update.Commit();
  return true;
}

// ---------------------------------------------------------------------------
// The session's commands

bool TBRNLocalSessionManager::PublishDatabase(const std::string& databaseName,
                                              const TBRNStringsList& tables, int32_t columnMode) {
  return RunDatabaseCommand(
      FormatText("PUBLISH DATABASE %s", {databaseName}), false, databaseName,
      &TBRNLocalSessionManager::ReportPublishStatus,
      [&](TBRNLocalDatabaseManager& database) { return database.PublishDatabase(tables, columnMode); });
}

bool TBRNLocalSessionManager::UnpublishDatabase(const std::string& databaseName,
                                                const TBRNStringsList& tables) {
  return RunDatabaseCommand(
      FormatText("UNPUBLISH DATABASE %s", {databaseName}), false, databaseName,
      &TBRNLocalSessionManager::ReportUnpublishStatus,
      [&](TBRNLocalDatabaseManager& database) { return database.UnpublishDatabase(tables); });
}

bool TBRNLocalSessionManager::SaveUpdates(const std::string& databaseName,
                                          const std::string& updateName,
                                          const std::string& storeName,
                                          const TBRNStringsList& tables,
                                          const std::string& description, int32_t compression,
                                          bool skipWhenEmpty) {
  return RunDatabaseCommand(FormatText("SAVE UPDATES TO DATABASE %s", {databaseName}), false,
                            databaseName, &TBRNLocalSessionManager::ReportSaveUpdatesStatus,
                            [&](TBRNLocalDatabaseManager& database) {
                              return database.SaveUpdates(updateName, storeName, tables,
                                                          description, compression, skipWhenEmpty);
                            });
}

bool TBRNLocalSessionManager::LoadUpdates(const std::string& databaseName,
                                          const std::string& updateName,
                                          const std::string& storeName,
                                          const TBRNStringsList& tables, bool ignoreMissing) {
  return RunDatabaseCommand(FormatText("LOAD UPDATES FOR DATABASE %s", {databaseName}), false,
                            databaseName, &TBRNLocalSessionManager::ReportLoadUpdatesStatus,
                            [&](TBRNLocalDatabaseManager& database) {
                              return database.LoadUpdates(updateName, storeName, tables,
                                                          ignoreMissing);
                            });
}

}  // namespace brn
