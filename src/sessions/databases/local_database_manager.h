#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sessions/databases/catalog_manager.h"
#include "sessions/databases/database_lock_manager.h"
#include "sessions/ddl/routine_manager.h"
#include "sessions/ddl/view_manager.h"
#include "sessions/manager_interfaces.h"
#include "sessions/system_tables/system_tables.h"
#include "storage/tables/schema_object_manager.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

class TBRNBaseTable;
class TBRNCatalog;
class TBRNDatabaseContainer;
class TBRNFileManager;
class TBRNIndex;
class TBRNLocalSessionManager;
class TBRNSchema;
class TBRNTrigger;

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
  // Handles and the database transaction: see "Transactions and handles"
  // below. START TRANSACTION locks the tables in ascending lock number (the
  // database entry when every table takes part) with the Transaction lock;
  // COMMIT writes every open table's changes under the Write lock (each
  // table all or nothing or marked for repair; not atomic across tables)
  // and, unless flushOnly, ends the transaction; a failed COMMIT leaves it
  // active. ROLLBACK drops the changes and ends it. Without a transaction
  // COMMIT and ROLLBACK raise 404, inside one START TRANSACTION does.
  TBRNCursor* OpenTable(const std::string& schemaName, const std::string& tableName, bool exclusive,
                        bool readOnly) override;
  TBRNStatementManager* PrepareStatement(const std::string& sql) override;
  TBRNProcedureManager* PrepareProcedure(const std::string& procedureName) override;
  TBRNScriptManager* PrepareScript(const std::string& script) override;
  void StartTransaction(const TBRNStringsList& tables, int32_t lockWaitMs) override;
  void Commit(bool forceFlush, bool flushOnly) override;
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
  // Cursors kept by their creators register here; a close closes each one
  // still registered after the database's own handles went, before the
  // managers they read through.
  void AddDependent(TBRNEnvironmentDependent& dependent) override;
  void RemoveDependent(TBRNEnvironmentDependent& dependent) noexcept override;
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
  // System information tables: those of SystemTables. A fill does nothing
  // while the session registers its tables or runs another fill (the table
  // then stays unfilled); the reload reads the log file for "LogEvents",
  // the configuration file for the other Configuration tables and the
  // catalog file for Information tables, whose callbacks mark the tables
  // stale.
  TBRNSystemTableKind GetSystemTableKind(TBRNConfigObject* table) override;
  bool IsSystemTableFilled(TBRNConfigObject* table) override;
  void SetSystemTableFilled(TBRNConfigObject* table, bool filled) override;
  bool IsSystemTableRefreshable(TBRNConfigObject* table) override;
  void FillSystemTable(TBRNVirtualTableManager& manager) override;
  void ReloadSystemSource(TBRNConfigObject* table) override;

  // ---- Transactions and handles
  // Handles of a database (RequireOpen first; a failure is logged with the
  // operation code and passes on). OpenTable and OpenTableCursor make their
  // cursor through the process's table object factory (SQL execution
  // registers it); the cursor takes over the manager's user: it closes the
  // manager when it is freed. A failure frees what was made and closes the
  // manager again. The handle is registered in Cursors, which owns it.
  // PrepareStatement and PrepareStatementEx (operation 250, checked with
  // "PREPARE STATEMENT <sql>") make the handle through the installed
  // statement handle factory; without one they raise 9999. PrepareProcedure
  // (operation 260, "PREPARE PROCEDURE <name>") and PrepareScript (360,
  // "PREPARE SCRIPT <text>") do the same with their factories.
  // lineOffset and columnOffset are handed to the factory.
  TBRNStatementManager* PrepareStatementEx(const std::string& sql, int32_t lineOffset,
                                           int32_t columnOffset);
  // Makes, registers and prepares the statement handle of sql on database;
  // a failure leaves no handle behind and passes on. SQL execution installs
  // it (SetStatementHandleFactory).
  using TBRNStatementHandleFactory = std::function<TBRNStatementManager*(
      TBRNLocalDatabaseManager& database, const std::string& sql, int32_t lineOffset,
      int32_t columnOffset)>;
  // Installs factory for every database manager and answers the previous
  // one; an empty factory removes it. May be called from any thread.
  static TBRNStatementHandleFactory SetStatementHandleFactory(TBRNStatementHandleFactory factory);
  // Make, register and prepare the procedure handle of a procedure name, or
  // the script handle of a script text, on database; a failure leaves no
  // handle behind and passes on. SQL execution installs them; without one
  // PrepareProcedure and PrepareScript raise 9999. Each setter answers the
  // previous factory; an empty one removes it. May be called from any thread.
  using TBRNProcedureHandleFactory = std::function<TBRNProcedureManager*(
      TBRNLocalDatabaseManager& database, const std::string& procedureName)>;
  using TBRNScriptHandleFactory = std::function<TBRNScriptManager*(
      TBRNLocalDatabaseManager& database, const std::string& script)>;
  static TBRNProcedureHandleFactory SetProcedureHandleFactory(TBRNProcedureHandleFactory factory);
  static TBRNScriptHandleFactory SetScriptHandleFactory(TBRNScriptHandleFactory factory);
  // As OpenTable, never exclusive, with a plain (not indexed) cursor.
  TBRNCursor* OpenTableCursor(const std::string& schemaName, const std::string& tableName,
                              bool readOnly);
  // The Default schema for "", else the named schema (not found raises).
  TBRNSchema* FindSchema(const std::string& schemaName);
  // Inside a catalog read bracket: the open manager (one user counted) of
  // the table or view name of the schema visible to the current user,
  // temporary objects first; Shared lock, Exclusive when exclusive. A
  // working copy of ALTER or OPTIMIZE is opened without a lock. Then, except
  // for Transient views, HasChanged(true) drops what another session
  // changed; when it fails the manager is closed again.
  TBRNSchemaObjectManager* OpenSchemaObjectManager(const std::string& schemaName,
                                                   const std::string& name, bool exclusive);
  // Inside a catalog read bracket: the open manager (Shared) of the routine.
  TBRNSchemaObjectManager* OpenRoutineManager(const std::string& schemaName,
                                              const std::string& routineName);

  // The tables of a database transaction: the Default schema's
  // TransactionTables, sorted by lock number without duplicates. Names
  // empty: every base table. A missing or invisible name raises the
  // catalog's not-found error and leaves the list empty.
  void BuildTransactionTables(const TBRNStringsList& names);
  void ClearTransactionTables();
  // Whether the list covers every base table (then the database entry is
  // locked instead of the tables).
  bool TransactionCoversDatabase() const;
  // Locks the database entry (the list covers every table) or each table
  // in list order; a failure releases the locks already taken, last first,
  // and passes on.
  void LockTransactionTables(uint8_t lockType, int32_t waitMs);
  // The entry when it holds the Transaction lock, else every table of the
  // list, last first.
  void UnlockTransactionTables(uint8_t lockType);

  // ---- Catalog DDL executors: tables, temporary tables, indexes, triggers, EMPTY TABLE, grants
  // Catalog statements on tables, indexes and triggers (sessions/ddl). Each
  // checks the database and the current user's rights with its statement
  // text, changes the catalog inside a catalog update that is committed
  // (the catalog file rewritten) or cancelled (the catalog reloaded, so the
  // catalog in memory equals the file again), and reports status stages
  // 0, 1 and 2. A begin step (CreateTable, CreateIndex, ...) leaves the
  // update open and returns the new or found object for the caller to
  // fill; exactly one of its commit or rollback steps must follow, and
  // both take ownership of a new object not yet added. Temporary tables
  // and the indexes of one never enter the catalog file.
  TBRNBaseTable* CreateTable(const std::string& name);
  // Adds the table, computes its structure checksum, keeps files of that
  // name as ".Old" copies (so the first open makes fresh files) and
  // commits; on failure the ".Old" copies are put back and the error
  // passes on (call RollbackCreateTable).
  void CommitCreateTable(TBRNBaseTable* table);
  void RollbackCreateTable(TBRNBaseTable* table);
  // checked: a user's CREATE TEMPORARY TABLE (flag Temporary, the given
  // name, status texts); else a working table (flag Transient, a unique
  // name from the given prefix, no texts). No catalog update.
  TBRNBaseTable* CreateTemporaryTable(const std::string& name, bool checked);
  void CommitCreateTemporaryTable(TBRNBaseTable* table);
  void RollbackCreateTemporaryTable(TBRNBaseTable* table);
  // Takes a temporary table (or working copy) out of the temporary tables
  // and frees it; its files are left alone.
  void DropTemporaryTable(TBRNBaseTable* table);
  // Refused (300, nothing changed) while another session has the table
  // open. A base table's files are deleted only once the catalog file no
  // longer lists it.
  void DropTable(const std::string& name);
  // A base table's files are renamed before the commit and renamed back
  // when the commit fails.
  void RenameTable(const std::string& name, const std::string& newName);
  void EmptyTable(const std::string& name, bool skipConstraintCheck);

  TBRNIndex* CreateIndex(const std::string& tableName, TBRNBaseTable*& table,
                         const std::string& indexName);
  // Adds the index, builds it and commits. A build the user cancelled puts
  // the index file back, rolls the statement back itself and answers
  // false; an error (1004 for duplicate keys of a unique index, a failed
  // catalog write) puts the index file back and passes on: call
  // RollbackCreateIndex then.
  bool CommitCreateIndex(TBRNBaseTable* table, TBRNIndex* index);
  void RollbackCreateIndex(TBRNBaseTable* table, TBRNIndex* index);
  TBRNIndex* AlterIndex(const std::string& tableName, TBRNBaseTable*& table,
                        const std::string& indexName);
  void CommitAlterIndex(TBRNBaseTable* table, TBRNIndex* index);
  void RollbackAlterIndex(TBRNBaseTable* table, TBRNIndex* index);
  void DropIndex(const std::string& tableName, const std::string& indexName);
  void RenameIndex(const std::string& tableName, const std::string& indexName,
                   const std::string& newName);

  // The table stays locked Exclusive from the begin to the commit or
  // rollback. position: where the trigger goes (negative counts as 0, at
  // or past the end appends); kKeepTriggerPosition appends a new trigger
  // and leaves an altered one where it is.
  static constexpr int32_t kKeepTriggerPosition = INT32_MIN;
  TBRNTrigger* CreateTrigger(const std::string& tableName, TBRNBaseTable*& table,
                             const std::string& triggerName);
  void CommitCreateTrigger(TBRNBaseTable* table, TBRNTrigger* trigger,
                           int32_t position = kKeepTriggerPosition);
  void RollbackCreateTrigger(TBRNBaseTable* table, TBRNTrigger* trigger);
  TBRNTrigger* AlterTrigger(const std::string& tableName, TBRNBaseTable*& table,
                            const std::string& triggerName);
  void CommitAlterTrigger(TBRNBaseTable* table, TBRNTrigger* trigger,
                          int32_t position = kKeepTriggerPosition);
  void RollbackAlterTrigger(TBRNBaseTable* table, TBRNTrigger* trigger);
  void DropTrigger(const std::string& tableName, const std::string& triggerName);
  void RenameTrigger(const std::string& tableName, const std::string& triggerName,
                     const std::string& newName);
  // In this session's catalog only: the catalog file is not changed, and
  // the next reload of the catalog from the file undoes it.
  void EnableTrigger(const std::string& tableName, const std::string& triggerName);
  void EnableTriggers(const std::string& tableName);
  void DisableTrigger(const std::string& tableName, const std::string& triggerName);
  void DisableTriggers(const std::string& tableName);

  // objectKind 0 table, 1 view, 2 procedure, 3 function; privilege a
  // privilege kind 0 to 10 or 11 (All). The current user must be an
  // administrator.
  void GrantPrivilege(const std::string& grantee, const std::string& objectName,
                      int32_t objectKind, int32_t privilege);
  void RevokePrivilege(const std::string& grantee, const std::string& objectName,
                       int32_t objectKind, int32_t privilege);

  // ---- Catalog DDL executors: views and routines; view and routine managers
  // Catalog statements on views, procedures and functions (sessions/ddl),
  // in the frame of the table statements above: checks with the statement
  // text, a catalog update committed or cancelled (the catalog in memory
  // then equals the file again), status stages 0, 1 and 2. A begin step
  // leaves the update open and returns the new or found object for the
  // caller to fill (query or routine text); exactly one of its commit or
  // rollback steps must follow. A rollback frees a new object not yet
  // added; an ALTER keeps the object locked Exclusive from its begin to its
  // commit or rollback. Temporary views are not found by name here.
  TBRNView* CreateView(const std::string& name);
  void CommitCreateView(TBRNView* view);
  void RollbackCreateView(TBRNView* view);
  TBRNView* AlterView(const std::string& name);
  void CommitAlterView(TBRNView* view);
  void RollbackAlterView(TBRNView* view);
  // Refused (300, nothing changed) while another session has the view open.
  void DropView(const std::string& name);
  // Changes only the catalog; the views and routines that name the view
  // rewrite their text to the new name.
  void RenameView(const std::string& name, const std::string& newName);
  // 405 once the functions and procedures together reach the maximum of
  // the schema's routine list (4096).
  TBRNFunction* CreateFunction(const std::string& name);
  void CommitCreateFunction(TBRNFunction* function);
  void RollbackCreateFunction(TBRNFunction* function);
  TBRNProcedure* CreateProcedure(const std::string& name);
  void CommitCreateProcedure(TBRNProcedure* procedure);
  void RollbackCreateProcedure(TBRNProcedure* procedure);
  TBRNFunction* AlterFunction(const std::string& name);
  void CommitAlterFunction(TBRNFunction* function);
  void RollbackAlterFunction(TBRNFunction* function);
  TBRNProcedure* AlterProcedure(const std::string& name);
  void CommitAlterProcedure(TBRNProcedure* procedure);
  void RollbackAlterProcedure(TBRNProcedure* procedure);
  void DropFunction(const std::string& name);
  void DropProcedure(const std::string& name);
  // Referrers rewrite their text to the new name, and so does the
  // routine's own definition.
  void RenameFunction(const std::string& name, const std::string& newName);
  void RenameProcedure(const std::string& name, const std::string& newName);

  // The Information schema's TemporaryViews table, its rows to be rebuilt
  // at next use; nullptr when the table is not registered.
  TBRNBaseTable* GetTemporaryViewsTable();
  // Drops the temporary view unless its manager is in use (a cursor is
  // open on it): the manager is released, the view taken out of the
  // temporary views and freed, and TemporaryViews invalidated. Answers
  // whether it was dropped. An in-use view is dropped at the latest when
  // the database closes.
  bool DropTemporaryViewIfUnused(TBRNView* view);

  // ---- Backup and restore, comparison, migration, import and export
  // Defined in sessions/backup. Each answers false when the user stopped it
  // through the progress callback (not an error) and true when it ran to
  // the end; errors pass on after the clean-up each describes.
  //
  // BACKUP DATABASE: the Backup privilege on the entry and the Create
  // privilege on the store; the database open Shared and the tables' Transaction
  // locks (writers of other sessions and processes wait) for the whole copy;
  // the file written as "<backupName>.Tmp" and renamed to its final name
  // only when complete. A stopped or failed backup leaves no ".Tmp" file
  // and an earlier backup of that name as it was. tableNames empty: every
  // base table.
  bool BackupDatabase(const std::string& backupName, const std::string& storeName,
                      const TBRNStringsList& tableNames, const std::string& description,
                      int32_t compression, bool includeCatalog, bool catalogOnly,
                      bool includePublishedUpdates);
  // RESTORE DATABASE: the Restore privilege, the database open Exclusive
  // (300 while any other session or process has it open). Every check of
  // the backup (1301) happens before anything changes; a table whose
  // restore fails or is stopped gets its previous files back, and with
  // includeCatalog so does every table restored before it, together with
  // the previous catalog. Restoring the catalog unprepares this session's
  // handles on the database and frees the managers of its stored objects.
  bool RestoreDatabase(const std::string& backupName, const std::string& storeName,
                       const TBRNStringsList& tableNames, bool includeCatalog, bool catalogOnly,
                       bool resetPublished);
  // COMPARE DATABASE: fills this database's schema difference with the
  // statements that turn this schema into target's. Every object of the
  // difference belongs to this catalog. Both databases are closed again,
  // also on failure.
  bool CompareDatabases(TBRNLocalDatabaseManager& target, char terminator);
  // Prepares, executes and frees one statement of this database (through
  // the registered data execution when there is one).
  void RunStatement(const std::string& sql);

  // ---- Publishing and update files
  // PUBLISH and UNPUBLISH DATABASE (sessions/publishing): the Maintain
  // privilege and no transaction (statement "PUBLISH DATABASE <name>" or
  // "UNPUBLISH DATABASE <name>"), the database opened and a catalog update
  // around the work. tables: names, empty = every base table of the Default
  // schema. A Temporary table raises 1302 (1303) with "Cannot publish the
  // %s %s"; PUBLISH refuses a table without a declared primary key (1302
  // with "No primary key constraint present in the %s %s"). A failure
  // cancels the catalog update and puts the tables already done back as
  // they were. Answer true.
  bool PublishDatabase(const TBRNStringsList& tables, int32_t columnMode);
  bool UnpublishDatabase(const TBRNStringsList& tables);
  // SAVE UPDATES: the logs of the tables into the update file
  // updateName + ".BRNUpd" of the store (written as updateName + ".Tmp" and
  // renamed when complete), needing Maintain on the database and Create on
  // the store. The logs are emptied only once the file is complete and
  // renamed; a failure or a cancel leaves no file and every log intact.
  // With skipWhenEmpty and no record nothing is written. Answers false when
  // the user cancelled.
  bool SaveUpdates(const std::string& updateName, const std::string& storeName,
                   const TBRNStringsList& tables, const std::string& description,
                   int32_t compression, bool skipWhenEmpty);
  // LOAD UPDATES: the records of the update file applied by primary key in
  // timestamp order across the tables (a parent before its child on equal
  // timestamps), in one database transaction that a failure or a cancel
  // rolls back (a cancel answers false). The file is untrusted: header,
  // directory and records are checked against the bytes the file holds.
  bool LoadUpdates(const std::string& updateName, const std::string& storeName,
                   const TBRNStringsList& tables, bool ignoreMissing);
  // The records of the update file as rows of updatesTable (open, and in
  // no transaction), one row per record, in timestamp order.
  void ReadUpdateFile(const std::string& updateName, const std::string& storeName,
                      const TBRNStringsList& tables, TBRNVirtualTableManager& updatesTable);
  // 1302 "Error publishing the %s %s (%s)", 1303 "Error unpublishing the
  // %s %s (%s)", 1304 and 1305: the database's kind and name, then detail.
  [[noreturn]] void RaisePublishError(const std::string& detail);
  [[noreturn]] void RaiseUnpublishError(const std::string& detail);
  [[noreturn]] void RaiseSaveUpdatesError(const std::string& detail) override;
  [[noreturn]] void RaiseLoadUpdatesError(const std::string& detail) override;
  int64_t NextTimestamp() override;

  // ---- Table maintenance executors: verification and repair
  // REPAIR TABLE and VERIFY TABLE [STRUCTURE ONLY] of a base table visible
  // to the current user: refused outside an open, writable database (402,
  // 403), inside a database transaction (404) and without the Maintain
  // privilege on the database (503). The table's files verify themselves
  // and, unless structureOnly, every row is checked; the findings go to the
  // session's log output and the answer is whether there were any. VERIFY
  // shares the table with readers (Shared, with the Read lock held
  // throughout, so no writer commits meanwhile) and changes no file; REPAIR
  // holds it Exclusive, opens files whose last flush was cut short, mends
  // what it finds and flushes. Status texts of the verify family: start,
  // then "verified", or the failure text when the user cancelled or an
  // error passes on. An idle manager of the table kept open by this session
  // is closed first, and the manager is closed at the end (forced, unless a
  // cursor of this session uses it).
  bool RepairTable(const std::string& tableName, bool structureOnly);
  bool VerifyTable(const std::string& tableName, bool structureOnly);

  // ---- Table maintenance executors: optimisation and alteration
  // OPTIMIZE TABLE and ALTER TABLE (sessions/databases). Both build new
  // files through a working copy and swap them in, keeping the table's
  // previous files as ".Old" copies; the table is held Exclusive while its
  // files change. A crash at any point leaves the table opening with its
  // old or its new definition and files (see
  // TBRNTableManager::RecoverInterruptedSwap).
  //
  // A copy of table among the temporary tables under a unique name, with
  // the stored table's definition and structure checksum, each column
  // taking its own position's value; the table is marked BeingAltered.
  TBRNBaseTable* CreateWorkingCopy(TBRNBaseTable* table);
  // The live rows of the table rewritten in the order of indexName (the
  // primary key's index when empty; without a primary key the first
  // index, without any index the row order). A missing index fails before
  // anything is copied. Answers false when the user cancelled: the table's
  // files are then untouched and the copy's files gone.
  bool OptimizeTable(const std::string& tableName, const std::string& indexName);
  // The three calls of ALTER TABLE: BeginAlterTable opens a catalog update
  // and answers the table; the caller makes the working copy, changes it,
  // sets its AlterationFlags and calls AlterTable, or RollbackAlterTable
  // when anything fails (AlterTable's errors included). AlterTable answers
  // false when the user cancelled (it has rolled back itself); both free
  // the copy and set it to nullptr. The new structure checksum is in every
  // file before the catalog commits, and a failed commit puts the previous
  // files back.
  TBRNBaseTable* BeginAlterTable(const std::string& tableName);
  bool AlterTable(TBRNBaseTable* table, TBRNBaseTable*& copy);
  void RollbackAlterTable(TBRNBaseTable* table, TBRNBaseTable*& copy);

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
  // The system tables registered in this catalog.
  TBRNSystemTableRegistry SystemTables;
  // Set by a successful CREATE TABLE, cleared by a failed one; not owned.
  TBRNBaseTable* LastCreatedTable = nullptr;

 protected:
  // Registers the Information schema's tables once per manager, at the
  // first open; the cursor cache database gets none.
  virtual void RegisterInformationTables();

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
  // Registered dependents, in registration order.
  std::vector<TBRNEnvironmentDependent*> dependents_;
};

}  // namespace brn
