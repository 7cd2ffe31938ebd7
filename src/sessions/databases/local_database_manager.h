#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sessions/databases/catalog_manager.h"
#include "sessions/databases/database_lock_manager.h"
#include "sessions/manager_interfaces.h"
#include "storage/tables/schema_object_manager.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

class TBRNBaseTable;
class TBRNCatalog;
class TBRNDatabaseContainer;
class TBRNFileManager;
class TBRNLocalSessionManager;

// The open view managers of one database. Views are not opened through a
// database yet: the list stays empty, and making a manager is a
// std::logic_error.
class TBRNViewManagers : public TBRNSchemaObjectManagers {
 public:
  using TBRNSchemaObjectManagers::TBRNSchemaObjectManagers;
  std::unique_ptr<TBRNSchemaObjectManager> CreateManager(
      TBRNPrivilegedSchemaObject* catalogObject) override;
};

// The open routine managers of one database; as TBRNViewManagers, empty
// for now.
class TBRNRoutineManagers : public TBRNSchemaObjectManagers {
 public:
  using TBRNSchemaObjectManagers::TBRNSchemaObjectManagers;
  std::unique_ptr<TBRNSchemaObjectManager> CreateManager(
      TBRNPrivilegedSchemaObject* catalogObject) override;
};

// One database of a local session: the catalog (owned), its catalog file
// and lock file managers, the lists of open schema-object managers, and the
// handle tables of the cursors, statements, procedures and scripts opened
// in it (the base's tables, which own those objects; the session only
// indexes them). It is the table environment of its table managers.
//
// Open and close count: OpenDatabase takes the database lock (Shared 1 or
// Exclusive 2) on every call and counts; CloseDatabase counts down and
// closes for real at 0 or when forced. The lock file and the catalog file
// are open exactly while the database is open (and briefly during
// DropDatabase, RenameDatabase and GetCatalogVersion on a closed database).
// Other sessions and processes are kept out only through the lock file.
//
// Used by the thread of the owning session only.
class TBRNLocalDatabaseManager : public TBRNDatabaseManager, public TBRNTableEnvironment {
 public:
  // None of the arguments is owned; each outlives the manager. The catalog
  // is made here, named after and linked to database. notCursorCache is
  // false only for the configuration's "__Cursor__Cache" database.
  TBRNLocalDatabaseManager(TBRNDatabaseContainer* database, TBRNFileManager* fileManager,
                           TBRNLocalSessionManager* session, bool notCursorCache);
  // Closes with force (errors are dropped: a destructor cannot report
  // them), then frees the manager lists, the catalog and lock managers and
  // the catalog, and unlinks the catalog from the database entry.
  ~TBRNLocalDatabaseManager() override;

  // ---- The database interface
  // lockType 1 (Shared) or 2 (Exclusive). Creates a missing folder (401 when
  // that fails), opens the lock file and the catalog file (creating an empty
  // catalog when there is none) and takes the database lock; another
  // session's incompatible lock raises the entry's lock error (300). The
  // count moves only after a fully successful open; a failed first open
  // leaves both files closed.
  void OpenDatabase(uint8_t lockType) override;
  // Counts one close down; at 0, or with force, rolls back a database
  // transaction, unprepares and frees every handle, closes every manager,
  // deletes the temporary tables (files included) and views, releases the
  // database lock and closes the catalog and lock files. The release and
  // the closes happen also when an earlier step fails; the failure is
  // logged as operation 34 and passes on.
  void CloseDatabase(bool force) override;
  // Not available yet (std::logic_error).
  TBRNCursor* OpenTable(const std::string& schemaName, const std::string& tableName, bool exclusive,
                        bool readOnly) override;
  TBRNStatementManager* PrepareStatement(const std::string& sql) override;
  TBRNProcedureManager* PrepareProcedure(const std::string& procedureName) override;
  TBRNScriptManager* PrepareScript(const std::string& script) override;
  void StartTransaction(const TBRNStringsList& tables, int32_t lockWaitMs) override;
  void Commit(bool forceFlush, bool flushOnly) override;
  // Rolls the database transaction back through the table managers and
  // ends it (no-op without one).
  void Rollback() override;

  // ---- Error raisers: code and text as the engine defines them; the entry
  // is named as "database <name>".
  // 402 "The database <name> must be open in order to perform this operation (<operation>)".
  [[noreturn]] virtual void RaiseNotOpenError(const std::string& operation);
  // 403 "The database <name> is read-only and this operation cannot be performed (<operation>)".
  [[noreturn]] virtual void RaiseReadOnlyError(const std::string& operation);
  // 401 "The path specified for the database <name> does not exist (<path>)".
  [[noreturn]] virtual void RaisePathNotFoundError(const std::string& path);
  // 404 "Transaction error: <detail>".
  [[noreturn]] virtual void RaiseTransactionError(const std::string& detail);
  // 404 with "This operation cannot be performed while the database <name>
  // has an active transaction (<operation>)".
  [[noreturn]] virtual void RaiseTransactionActiveError(const std::string& operation);
  // 404 with "This operation cannot be performed without an active
  // transaction on the database <name> (<operation>)".
  [[noreturn]] virtual void RaiseNoTransactionError(const std::string& operation);
  // 1300 "Error backing up the database <name> (<operation>)"; 1301 the same
  // with "restoring". Also the table managers' backup and restore errors.
  [[noreturn]] void RaiseBackupError(const std::string& operation) override;
  [[noreturn]] void RaiseRestoreError(const std::string& operation) override;

  // Deletes the database from disk unless keepContents: every base table's
  // files, the catalog file, the lock file, and the folder when nothing else
  // is left in it (it is never removed with contents it does not know).
  // Needs the Exclusive database lock: when another session has the
  // database open, 300 and nothing is deleted. Nothing happens when the
  // folder does not exist. Precondition: this manager has the database
  // closed (std::logic_error otherwise).
  virtual void DropDatabase(bool keepContents);
  // Renames the configuration entry (and the catalog) under the Exclusive
  // database lock (300 when another session has it open, the name then
  // unchanged); folder and files keep their names. Nothing happens when the
  // folder does not exist.
  virtual void RenameDatabase(const std::string& newName);

  // The catalog's format version (x10000), read from the file when the
  // database is closed; 0 when it cannot be read or the folder is missing.
  int64_t GetCatalogVersion();
  // The entry's path; a relative path is taken relative to the session's
  // configuration path. Ends without a separator.
  std::string GetDatabasePath() const;
  // Full names of the lock file, the catalog file and its safety copy for
  // this database and file manager (in-memory built-in databases are named
  // per session).
  std::string GetLockFileName() const;
  std::string GetCatalogFileName() const;
  std::string GetCatalogBackupFileName() const;

  // Unprepares every script, procedure and statement and closes every
  // cursor; the handles stay allocated. Re-entry does nothing.
  void UnprepareAllHandles();
  // The database lock (Shared 1 or Exclusive 2) without a time limit; lock
  // type 0 does nothing.
  void LockDatabase(uint8_t lockType);
  void UnlockDatabase(uint8_t lockType);
  // The entry is in a database transaction (its state bit 1).
  bool InTransaction() const;

  // Guards: raise with operation as the text of the statement.
  void RequireOpen(const std::string& operation);
  void RequireWritable(const std::string& operation);
  void RequireNoTransaction(const std::string& operation);
  void RequireTransaction(const std::string& operation);

  // Catalog callbacks: after each load every Information table is marked for
  // a rebuild; before each write the catalog gets the engine's format
  // version.
  void InvalidateInformationTables();
  void StampCatalogVersion();

  // ---- TBRNTableEnvironment
  TBRNCatalog* GetCatalog() override { return Catalog.get(); }
  std::string GetDatabaseName() const override;
  std::string GetSchemaFolder(const std::string& schemaName) override;
  // This database's file manager for "" and "Default"; the Configuration
  // database's for "Information"; nullptr otherwise.
  TBRNFileManager* GetSchemaFileManager(const std::string& schemaName) override;
  TBRNSchemaObjectManagers* GetTableManagers() override { return TableManagers.get(); }
  bool LockObject(TBRNLockable* object, uint8_t lockType) override;
  void UnlockObject(TBRNLockable* object, uint8_t lockType) override;
  const TBRNTableSettings& GetTableSettings() const override;
  TBRNExpressionEvaluator& GetEvaluator() override;
  std::unique_ptr<TBRNEvaluationContext> CreateEvaluationContext() override;
  void CheckPrivilege(TBRNPrivilegedConfigObject* object, int32_t kind,
                      const std::string& statementName) override;
  void PushUser(TBRNUser* user) override;
  void PopUser() override;
  TBRNUser* GetCurrentUser() override;
  TBRNUser* GetObjectOwner(TBRNPrivilegedConfigObject* object) override;
  void LogFailedOperation(int32_t operationCode, const EBRNException& error) override;
  void WriteWarningEvent(const std::string& text) override;
  void LogMessage(const std::string& text) override;
  bool UpdateProgress(int32_t percent) override;
  void BeginProgress() override;
  void EndProgress() override;
  void ReportStatus(const std::string& text) override;
  const TBRNDigest& GetSignatureDigest() const override;
  bool IsValidSignature(const TBRNDigest& digest) const override;
  const TBRNDigest& GetEncryptionDigest() const override;
  std::string GetFileExtension(TBRNTableFileKind kind) const override;
  void AdvanceTimestamp(int64_t value) override;

  TBRNLocalSessionManager* Session;
  TBRNDatabaseContainer* Database;
  std::unique_ptr<TBRNCatalog> Catalog;
  int32_t OpenCount = 0;
  bool Closing = false;
  bool UnpreparingHandles = false;
  bool NotCursorCache;
  std::unique_ptr<TBRNCatalogManager> CatalogManager;
  std::unique_ptr<TBRNDatabaseLockManager> LockManager;
  TBRNFileManager* FileManager;
  std::unique_ptr<TBRNTableManagers> TableManagers;
  std::unique_ptr<TBRNViewManagers> ViewManagers;
  std::unique_ptr<TBRNRoutineManagers> RoutineManagers;
  bool InformationRegistered = false;
  // Set by a successful CREATE TABLE, cleared by a failed one; not owned.
  TBRNBaseTable* LastCreatedTable = nullptr;

 protected:
  // Registers the Information schema's tables once per manager, at the
  // first open. Nothing is registered yet.
  virtual void RegisterInformationTables() {}

 private:
  // Whether this database lives in memory as one of the configuration's
  // built-in databases, whose files each session keeps to itself.
  bool isSessionPrivateInMemory() const;
  // The folder prefix (ending in a separator) of the lock and catalog files.
  std::string fileFolder() const;
  // The engine keeps the configuration in memory shared by every session.
  bool configInSharedMemory() const;
  // Steps 2 and 3 of a close: rollback, handles, managers, temporary objects.
  void releaseContents();
  // Closes every manager of the list, forced where users remain.
  void closeAllManagers(TBRNSchemaObjectManagers& managers);
  void dropTemporaryObjects();
  // Steps 4 and 5 of a close: the database lock and the two files.
  void closeFiles();
  // Opens the lock file and the catalog file of a closed database for a
  // short operation, and closes them again.
  void openFilesBriefly();
  void closeFilesBriefly();

  mutable TBRNTableSettings tableSettings_;
};

}  // namespace brn
