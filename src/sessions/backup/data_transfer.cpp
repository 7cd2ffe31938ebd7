#include "sessions/backup/data_transfer.h"

#include <cmath>
#include <exception>
#include <memory>
#include <string>

#include "foundation/files/file_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/stores.h"
#include "metadata/modules/migrators.h"
#include "sessions/config/config_command_frame.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/progress_scope.h"
#include "sessions/stores/local_store_manager.h"
#include "storage/cursors/cursor.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// The code of an engine failure that no specific error covers.
constexpr int32_t kNotAvailableCode = 9999;

int32_t percentOf(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  return int32_t(std::llround(double(done) * 100.0 / double(total)));
}

TBRNDataExecution& dataExecution(const std::string& statement) {
  TBRNDataExecution* execution = FindDataExecution();
  if (execution == nullptr) {
    throw EBRNException(kNotAvailableCode,
                        FormatText("Data cannot be moved by this engine yet (%s)", {statement}));
  }
  return *execution;
}

// The rows of one new table: one table-level transaction, flushed after
// every row-cache-full of rows and committed at the end, also after a stop
// (the rows so far stay). False when the user stopped it.
bool migrateRows(TBRNLocalDatabaseManager& database, TBRNMigrator& migrator,
                 const std::string& tableName, TBRNBaseTable* table) {
  auto& manager = dynamic_cast<TBRNTableManager&>(*database.TableManagers->GetManager(table));
  // The statement has just made the table: its files come with this open.
  manager.SetCreatingFiles(true);
  try {
    database.TableManagers->OpenManager(table, kBRNLockTypeShared);
  } catch (...) {
    if (table->ManagerHandle != 0) manager.SetCreatingFiles(false);
    throw;
  }
  manager.SetCreatingFiles(false);
  bool proceed = true;
  try {
    TBRNProgressScope progress(database);
    manager.StartTransaction();
    try {
      int32_t count = 0;
      migrator.GetRowsToInsert(tableName, count);
      for (int32_t i = 0; i < count; ++i) {
        std::string text;
        migrator.GetInsertStatement(tableName, text);
        if (text.empty()) break;
        database.RunStatement(text);
        // Read each time: the cache follows the table's settings.
        const int32_t capacity = manager.GetRowCacheCapacity();
        if (capacity > 0 && (i + 1) % capacity == 0) manager.FlushTransaction();
        if (!database.UpdateProgress(percentOf(i + 1, count))) {
          proceed = false;
          break;
        }
      }
      manager.CommitTransaction();
    } catch (...) {
      try {
        manager.RollbackTransaction();
      } catch (...) {
      }
      throw;
    }
  } catch (...) {
    try {
      manager.Close(false, true);
    } catch (...) {
    }
    throw;
  }
  manager.Close(false, true);
  return proceed;
}

// Runs the CREATE statement of a table, then its rows when asked and the
// statement made a table. False when the user stopped the rows.
bool createTable(TBRNLocalDatabaseManager& database, TBRNMigrator& migrator,
                 const std::string& tableName, const std::string& createText, bool migrateData) {
  database.LastCreatedTable = nullptr;
  database.RunStatement(createText);
  TBRNBaseTable* created = database.LastCreatedTable;
  if (!migrateData || created == nullptr) return true;
  return migrateRows(database, migrator, tableName, created);
}

void createIndexesAndTriggers(TBRNLocalDatabaseManager& database, TBRNMigrator& migrator,
                              const std::string& tableName) {
  TBRNStringsList names;
  migrator.GetIndexNames(tableName, names);
  for (const std::string& index : names.GetItems()) {
    std::string text;
    migrator.GetCreateIndexStatement(tableName, index, text);
    database.RunStatement(text);
  }
  migrator.GetTriggerNames(tableName, names);
  for (const std::string& trigger : names.GetItems()) {
    std::string text;
    migrator.GetCreateTriggerStatement(tableName, trigger, text);
    database.RunStatement(text);
  }
}

// Closes the migrator's instance however the scope is left.
class TMigratorScope {
 public:
  explicit TMigratorScope(TBRNMigrator& migrator) : migrator_(migrator) {}
  ~TMigratorScope() {
    try {
      migrator_.Close();
    } catch (...) {
    }
  }
  TMigratorScope(const TMigratorScope&) = delete;
  TMigratorScope& operator=(const TMigratorScope&) = delete;

 private:
  TBRNMigrator& migrator_;
};

bool runMigration(TBRNLocalDatabaseManager& database, TBRNMigrator& migrator,
                  const std::vector<TBRNMigrationParam>& params, bool migrateData) {
  TMigratorScope scope(migrator);
  migrator.Open();
  migrator.LoadParams();
  for (const TBRNMigrationParam& param : params) {
    TBRNParamValue* target = migrator.Params->FindParam(param.Name);
    if (param.Evaluate) param.Evaluate(*target);
  }
  migrator.SaveParams();

  if (migrator.GetModule()->HasObjectNames()) {
    TBRNStringsList objects;
    migrator.GetObjectNames(objects);
    for (int32_t i = 0; i < objects.GetCount(); ++i) {
      const std::string name = objects.GetName(i);
      const std::string kind = objects.GetValue(i);
      std::string text;
      migrator.GetCreateObjectStatement(name, kind, text);
      // The list names every object in creation order, the indexes and
      // triggers of a table included: asking for them per table as well
      // would create them twice.
      if (TextEqualsIgnoreCase(kind, "TABLE")) {
        if (!createTable(database, migrator, name, text, migrateData)) return false;
      } else {
        database.RunStatement(text);
      }
    }
    return true;
  }

  TBRNStringsList tables;
  migrator.GetTableNames(tables);
  for (const std::string& table : tables.GetItems()) {
    std::string text;
    migrator.GetCreateTableStatement(table, text);
    if (!createTable(database, migrator, table, text, migrateData)) return false;
    createIndexesAndTriggers(database, migrator, table);
  }
  using TNames = void (TBRNMigrator::*)(TBRNStringsList&);
  using TCreate = void (TBRNMigrator::*)(const std::string&, std::string&);
  const std::pair<TNames, TCreate> kinds[] = {
      {&TBRNMigrator::GetViewNames, &TBRNMigrator::GetCreateViewStatement},
      {&TBRNMigrator::GetFunctionNames, &TBRNMigrator::GetCreateFunctionStatement},
      {&TBRNMigrator::GetProcedureNames, &TBRNMigrator::GetCreateProcedureStatement}};
  for (const auto& [names, create] : kinds) {
    TBRNStringsList list;
    (migrator.*names)(list);
    for (const std::string& name : list.GetItems()) {
      std::string text;
      (migrator.*create)(name, text);
      database.RunStatement(text);
    }
  }
  return true;
}

// The local store manager of an opened store; a remote store is refused.
TBRNLocalStoreManager& localStore(TBRNLocalSessionManager& session, TBRNStoreManager* handle,
                                  const std::string& storeName) {
  auto* local = dynamic_cast<TBRNLocalStoreManager*>(handle);
  if (local == nullptr) {
    session.RaiseRemoteStoreError(
        static_cast<TBRNStore*>(session.Config->Stores->FindByName(storeName, true)));
  }
  return *local;
}

// A cursor of the database freed (and its manager closed) when the scope
// ends.
class TCursorScope {
 public:
  TCursorScope(TBRNLocalDatabaseManager& database, TBRNCursor* cursor)
      : database_(database), cursor_(cursor) {}
  ~TCursorScope() {
    try {
      database_.Cursors.RemoveObject(cursor_, false);
      delete cursor_;
    } catch (...) {
    }
  }
  TCursorScope(const TCursorScope&) = delete;
  TCursorScope& operator=(const TCursorScope&) = delete;
  TBRNCursor& Get() const { return *cursor_; }

 private:
  TBRNLocalDatabaseManager& database_;
  TBRNCursor* cursor_;
};

// A store opened for the scope and closed at its end.
class TStoreScope {
 public:
  TStoreScope(TBRNLocalSessionManager& session, const std::string& storeName)
      : session_(session), handle_(session.OpenStore(storeName, kBRNLockShared, false)) {}
  ~TStoreScope() {
    try {
      session_.CloseStore(handle_);
    } catch (...) {
    }
  }
  TStoreScope(const TStoreScope&) = delete;
  TStoreScope& operator=(const TStoreScope&) = delete;
  TBRNStoreManager* Handle() const { return handle_; }

 private:
  TBRNLocalSessionManager& session_;
  TBRNStoreManager* handle_;
};

// The table of a transfer, visible to the current user.
TBRNBaseTable* transferTable(TBRNLocalDatabaseManager& database,
                             const TBRNTransferRequest& request) {
  TBRNSchema* schema = database.FindSchema(request.SchemaName);
  auto* table = dynamic_cast<TBRNBaseTable*>(database.Catalog->FindTable(
      schema, request.TableName, database.GetCurrentUser(), true, true));
  if (table == nullptr) schema->BaseTables->RaiseNotFoundByName(request.TableName);
  return table;
}

}  // namespace

bool MigrateDatabase(TBRNLocalDatabaseManager& database, const std::string& migratorName,
                     const std::vector<TBRNMigrationParam>& params, bool migrateData) {
  const std::string statement = FormatText("MIGRATE FROM %s", {migratorName});
  database.RequireOpen(statement);
  database.RequireWritable(statement);
  database.RequireNoTransaction(statement);
  TBRNLocalSessionManager& session = *database.Session;
  TBRNDatabaseContainer* entry = database.Database;
  TBRNStatusStages stages(
      [&session, entry](TBRNOperationStage stage) { session.ReportMigrateStatus(stage, entry); });
  TBRNConfigReadBracket read(session);
  auto* migrator =
      static_cast<TBRNMigrator*>(session.Config->Migrators->FindByName(migratorName, true));
  if (!runMigration(database, *migrator, params, migrateData)) return false;
  stages.Complete();
  return true;
}

bool ImportTable(TBRNLocalDatabaseManager& database, const TBRNTransferRequest& request) {
  const std::string statement = FormatText("IMPORT TABLE %s", {request.TableName});
  TBRNLocalSessionManager& session = *database.Session;
  TStoreScope store(session, request.StoreName);
  TBRNLocalStoreManager& source = localStore(session, store.Handle(), request.StoreName);
  source.BeginReadFile(request.FileName);
  try {
    TCursorScope cursor(database,
                        database.OpenTableCursor(request.SchemaName, request.TableName, false));
    TBRNBaseTable* table = transferTable(database, request);
    // Before a byte of the file is read.
    dynamic_cast<TBRNVirtualTableManager&>(*database.TableManagers->GetManager(table))
        .CheckReadOnly(statement);
    if (!session.IsSystemUser()) table->CheckNotSystem();
    TBRNStatusStages stages(
        [&session, table](TBRNOperationStage stage) { session.ReportImportStatus(stage, table); });
    if (!dataExecution(statement).ImportTable(cursor.Get(), *source.Stream, request.Format)) {
      source.CancelReadFile();
      return false;
    }
    source.EndReadFile();
    stages.Complete();
    return true;
  } catch (...) {
    source.CancelReadFile();
    throw;
  }
}

bool ExportTable(TBRNLocalDatabaseManager& database, const TBRNTransferRequest& request) {
  const std::string statement = FormatText("EXPORT TABLE %s", {request.TableName});
  TBRNLocalSessionManager& session = *database.Session;
  TStoreScope store(session, request.StoreName);
  TBRNLocalStoreManager& target = localStore(session, store.Handle(), request.StoreName);
  target.BeginWriteFile(request.FileName);
  try {
    TCursorScope cursor(database,
                        database.OpenTable(request.SchemaName, request.TableName, false, true));
    TBRNBaseTable* table = transferTable(database, request);
    TBRNStatusStages stages(
        [&session, table](TBRNOperationStage stage) { session.ReportExportStatus(stage, table); });
    if (!dataExecution(statement).ExportTable(cursor.Get(), *target.Stream, request.Format)) {
      // A stopped export leaves no partial file.
      target.CancelWriteFile();
      return false;
    }
    target.EndWriteFile();
    stages.Complete();
    return true;
  } catch (...) {
    target.CancelWriteFile();
    throw;
  }
}

}  // namespace brn
