#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/locks/log_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/engine_settings.h"
#include "sessions/local/session_snapshots.h"

namespace brn {

class EBRNException;
class TBRNCompressionManager;
class TBRNConfig;
class TBRNConfigLockManager;
class TBRNConfigManager;
class TBRNConfigObject;
class TBRNDatabaseContainer;
class TBRNExprBuilder;
class TBRNExprParser;
class TBRNExprValidator;
class TBRNExpressionEvaluator;
class TBRNFileManager;
class TBRNLocalDatabaseManager;
class TBRNLocalLogManager;
class TBRNLockableConfigObject;
class TBRNLog;
class TBRNModule;
class TBRNPrivilegedConfigObject;
class TBRNStore;
class TBRNJob;
class TBRNMigrator;
class TBRNRole;
class TBRNTextFilter;
class TBRNUser;
class TBRNWordGenerator;

// Operation codes of the session's own log events.
inline constexpr int32_t kBRNOperationConnect = 1;
inline constexpr int32_t kBRNOperationLogin = 3;
inline constexpr int32_t kBRNOperationLogout = 4;
// The engine error code logged for a failure that is not an EBRNException.
inline constexpr int32_t kBRNUnknownErrorCode = 9999;

// The session of the in-process engine, and the base of the server's
// sessions: it owns a copy of the engine settings, its tools (evaluator,
// compression manager, parser, validator, SQL builder), its own copy of the
// configuration with the configuration lock file (and its slot in it), the
// configuration file and the log file, its "Configuration" database, and the
// database and store handles it created.
//
// Life cycle: constructed closed; OpenSession builds the tools
// (OpenConfiguration) and opens the three files (OpenConfigurationFiles);
// CloseSession logs out, closes every handle and file and frees the tools.
// A failed OpenSession leaves the session closed, its tools freed, no lock
// slot taken and no file open.
//
// Files lie, by the session settings: in ConfigPath (ConfigMemory off); in
// the engine's internal memory files in the session's folder (see
// GetSessionFolder; ConfigMemory and ConfigPrivate on: a configuration of the
// session's own); or under the bare name in the internal memory files
// (ConfigMemory on, ConfigPrivate off: shared by the process's sessions).
//
// Users: the current user is the one whose rights apply now; internal work
// runs as the built-in System user between PushCurrentUser and
// PopCurrentUser (TBRNSystemUserScope), and GetUserName keeps reporting the
// user who logged in meanwhile.
//
// Threads: a session is used by one thread at a time (the engine's session
// lock serialises a server's requests); nothing here is shared with another
// session except through the files and their lock file.
class TBRNLocalSessionManager : public TBRNEngineSessionManager {
 public:
  // Registers the session in the engine (locked at once with locked) and
  // copies the engine's settings. registerTables: register the system
  // information tables of the Configuration database at open; serverSession:
  // the session serves a remote client (the server's sessions).
  TBRNLocalSessionManager(TBRNEngineManager* engine, bool locked, bool registerTables,
                          bool serverSession = false);
  // Withdraws the session's info, CloseSession (errors swallowed), then the
  // settings go and the session leaves the engine.
  ~TBRNLocalSessionManager() override;

  // ---- Status texts, log events, session locks and statistics (BEGIN)

  // Status texts of an operation on object (its type name and name fill
  // them), at stage osStarting ("<Verb> the <type> <name>..."),
  // osNotCompleted ("The <noun> of the <type> <name> did not complete") or
  // osCompleted ("The <type> <name> was <participle> successfully"). Each
  // goes to StatusMessage outside the outermost progress bracket only.
  void ReportCreateStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  // A non-empty detail follows the name as " - <detail>" at osStarting only.
  void ReportAlterStatus(TBRNOperationStage stage, const TBRNConfigObject* object,
                         const std::string& detail = std::string());
  void ReportDropStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportRenameStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportEmptyStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  // A non-empty detail follows the name as " - <detail>" at osStarting only.
  void ReportVerifyStatus(TBRNOperationStage stage, const TBRNConfigObject* object,
                          const std::string& detail = std::string());
  void ReportOptimizeStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportImportStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportExportStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportBackupStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportRestoreStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportMigrateStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportPublishStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportUnpublishStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportSaveUpdatesStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  void ReportLoadUpdatesStatus(TBRNOperationStage stage, const TBRNConfigObject* object);
  // "... the <type> <name> to the <other type> <other name>".
  void ReportCompareStatus(TBRNOperationStage stage, const TBRNConfigObject* object,
                           const TBRNConfigObject* other);
  // "... the file <fileName> in the <store type> <store name>".
  void ReportFileCopyStatus(TBRNOperationStage stage, const TBRNConfigObject* store,
                            const std::string& fileName);
  void ReportFileRenameStatus(TBRNOperationStage stage, const TBRNConfigObject* store,
                              const std::string& fileName);
  void ReportFileDeleteStatus(TBRNOperationStage stage, const TBRNConfigObject* store,
                              const std::string& fileName);
  // "... the privilege <privilegeName> on the <type> <name>".
  void ReportGrantPrivilegeStatus(TBRNOperationStage stage, const TBRNConfigObject* object,
                                  const std::string& privilegeName);
  void ReportRevokePrivilegeStatus(TBRNOperationStage stage, const TBRNConfigObject* object,
                                   const std::string& privilegeName);
  // "... the <role type> <role name> on the <user type> <user name>".
  void ReportGrantRoleStatus(TBRNOperationStage stage, const TBRNConfigObject* role,
                             const TBRNConfigObject* user);
  void ReportRevokeRoleStatus(TBRNOperationStage stage, const TBRNConfigObject* role,
                              const TBRNConfigObject* user);
  // One-shot texts of a completed change.
  void ReportSettingSet(const std::string& name);
  void ReportReset(const TBRNConfigObject* object);
  void ReportEnabled(const TBRNConfigObject* object);
  void ReportDisabled(const TBRNConfigObject* object);
  // "Fixed" or "Not Fixed", the end of a verification finding.
  static std::string GetFixedText(bool fixed);
  // Status texts of a statement's execution; its kind name fills them. With
  // timed, the elapsed milliseconds appear as seconds with up to three
  // decimals; with rowsKnown too, the rows affected.
  void ReportExecutionStatus(TBRNOperationStage stage, const TBRNExpr& statement, bool timed,
                             int64_t elapsedMs, bool rowsKnown, int64_t rowsAffected);

  // Appends an event to the log file: errors 1008 and 1010 are always
  // Warnings; a category not in the session's LogCategories is not written.
  // Nothing is written while LogManager is missing or closed. A failed write
  // raises the log's file error.
  void WriteLogEvent(int32_t category, int32_t operation, int32_t errorCode,
                     const std::string& message);
  // Fills the session's fields of LogEvent: engine version, build and
  // edition tag, user name, identity, calling thread, session ID, name and
  // description. A server session adds its client's fields.
  virtual void FillLogEvent();

  // Snapshots of the session's locks and buffer statistics for the server's
  // monitoring tables, over every open database but the Configuration
  // database. Build appends to the list, Clear empties it and frees its
  // memory. Precondition: the caller is the session's own thread, or holds
  // the session's lock.
  void BuildLockList();
  void ClearLockList();
  void BuildStatistics();
  void ClearStatistics();
  // RESET SERVER SESSION STATISTICS: zeroes the counters of every file that
  // BuildStatistics would list. It takes no session lock: it runs inside a
  // request of this session, which already holds that lock (a server's
  // request) or is the session's only user (in process); waiting for the
  // lock again would never end.
  void ResetStatistics();

  TBRNLockList LockList;
  TBRNStatisticsList StatisticsList;

  // The copy of the session's name, description, identity and logged-in
  // user (and a server session's client fields) that other threads read
  // (see TBRNSessionInfoGuard); published under the session's address for
  // the session's whole life (FindSessionInfo).
  const std::shared_ptr<TBRNSessionInfoGuard> SessionInfo =
      std::make_shared<TBRNSessionInfoGuard>();

  // ---- Status texts, log events, session locks and statistics (END)

  // -- Session errors and configuration.

  // 501 "Login failed (%s)" with detail.
  [[noreturn]] virtual void RaiseLoginError(const std::string& detail);
  // 500 "A user must be logged in in order to perform this operation (%s)".
  [[noreturn]] virtual void RaiseNotLoggedInError(const std::string& statement);
  virtual bool IsLoggedIn();
  // RaiseNotLoggedInError(statement) when nobody is logged in.
  virtual void RequireLogin(const std::string& statement);
  // 409 with message as it is.
  [[noreturn]] virtual void RaiseConfigurationError(const std::string& message);
  // The manager of the configuration lock file; a derived session may make
  // its own kind, but no configuration lock manager has more than 4096
  // slots (see TBRNConfigLockManager).
  virtual std::unique_ptr<TBRNConfigLockManager> CreateConfigLockManager();
  // 409 "The configuration path is empty" without ConfigMemory and
  // ConfigPath.
  virtual void CheckConfigPath();
  // 502 "Administrator privileges are required to perform this operation (%s)".
  [[noreturn]] virtual void RaiseAdminRequiredError(const std::string& statement);
  // 403 "The %s %s is read-only and this operation cannot be performed (%s)"
  // with the configuration's type name and name.
  [[noreturn]] virtual void RaiseConfigReadOnlyError(const std::string& statement);
  // 503 "The current user does not have the proper privileges to perform
  // this operation (%s)".
  [[noreturn]] virtual void RaisePrivilegeError(const std::string& statement);
  // Server-only statements: nothing in a local session.
  virtual void DisconnectSession(int32_t sessionId);
  virtual void RemoveSession(int32_t sessionId);
  // RESET SERVER SESSION STATISTICS: the session's own ID resets its
  // counters; a local session knows no other session and raises 1107 for
  // any other ID, leaving every counter alone.
  virtual void ResetSessionStatistics(int32_t sessionId);
  // The store handle of a configured store: a TBRNLocalStoreManager.
  virtual std::unique_ptr<TBRNStoreManager> CreateStoreManager(TBRNStore* store);
  // Opens the lock file (taking a slot), the configuration file (created with
  // the built-in objects when missing) and the log file, then opens the
  // session's own Configuration database (Shared). Precondition: the tools
  // are built.
  virtual void OpenConfigurationFiles();
  // Closes every handle, the Configuration database (which is dropped, its
  // memory files going with it) and the three files; a private in-memory
  // configuration deletes its files. Runs to the end: the first failure is
  // raised after every step was tried.
  virtual void CloseConfigurationFiles();

  // Builds the tools and the configuration objects (nothing when built);
  // raises 409 through CheckConfigPath first. A failure frees what was built.
  void OpenConfiguration();
  // Frees the tools in the reverse order of building; clears ToolsBuilt.
  void CloseConfiguration();

  // The full name of a configuration file (lock, configuration, log) named
  // name, by the file placement rule above.
  std::string GetConfigFileName(const std::string& name) const;
  // Identity, the session ID and SessionName, each followed by a backslash
  // unless it is empty.
  std::string GetSessionFolder() const;

  // -- Overrides of the session base.

  // Connect: nothing when open. On failure the session is closed again and
  // the error passes on.
  void OpenSession(const std::string& identity, const std::string& sessionName,
                   const std::string& description) override;
  // Disconnect: Logout and CloseConfigurationFiles when open, then
  // CloseConfiguration in every case.
  void CloseSession() override;
  int32_t GetTicks() override;
  int32_t GetElapsedTicks(int32_t startTicks, int32_t stopTicks) override;
  void GetCollationName(int32_t collationId, std::string& name) override;
  // Close the handle (not forced) and clear the reference.
  void CloseDatabase(TBRNDatabaseManager*& database) override;
  void CloseStore(TBRNStoreManager*& store) override;
  // OPEN DATABASE (operation 33): login needed; the database among those
  // the current user may see (an invisible one is reported as missing),
  // opened with lockType (1 Shared, 2 Exclusive) on the session's handle,
  // which is returned. A failure is logged and passes on.
  TBRNDatabaseManager* OpenDatabase(const std::string& databaseName, uint8_t lockType) override;
  // OPEN STORE (operation 38): login needed; the store among those the
  // current user may see, refused (1306) when it is remote and localOnly is
  // set, opened with lockType on the session's handle, which is returned. A
  // failure is logged and passes on. Defined with the store commands.
  TBRNStoreManager* OpenStore(const std::string& storeName, uint8_t lockType,
                              bool localOnly) override;

  // -- Login and privileges.

  // Three attempts at most: the credentials given, then two from the login
  // prompt. Failures raise 501 and are logged (operation 3); a failed login
  // leaves the session open with nobody logged in. Nothing when a user is
  // logged in already. Precondition: the session is open (std::logic_error).
  void Login(const std::string& userName, const std::string& password) override;
  // Nothing when nobody is logged in; otherwise the user's Shared lock goes
  // and a logout event (operation 4) is written.
  void Logout() override;
  // The logged-in user's name also while the session works as another user
  // (entry 1 of the user stack); empty when nobody is logged in.
  void GetUserName(std::string& name) override;
  void PushCurrentUser();
  // Nothing on an empty stack.
  void PopCurrentUser();
  void SetCurrentUser(TBRNUser* user);
  // The user on top of the stack (on whose behalf internal work runs);
  // nullptr on an empty stack.
  TBRNUser* GetCallingUser() const;
  // For nullptr: of the current user. False without a configuration.
  bool IsSystemUser(TBRNUser* user = nullptr) const;
  // The System user or a user granted Administrators; false for no user.
  bool IsAdministratorUser(TBRNUser* user = nullptr) const;
  void RequireAdministrator(const std::string& statement);
  void RequireWritableConfig(const std::string& statement);
  // RaisePrivilegeError unless the current user's effective privileges on
  // object include kind (a TBRNPrivilegeKind value).
  void CheckPrivilege(TBRNPrivilegedConfigObject* object, int32_t kind,
                      const std::string& statement);
  // Writes an Error event for operation with the error's message and engine
  // code (9999 for any other exception). Never raises.
  void LogOperationError(const std::exception& error, int32_t operation);

  // The session's handle of a configured database: created on first use
  // (registered in Databases) and kept until the session closes or the
  // configuration releases the object's handles.
  TBRNLocalDatabaseManager* GetDatabaseManager(TBRNDatabaseContainer* container);
  TBRNStoreManager* GetStoreManager(TBRNStore* store);
  // The handle number of the object in Databases or Stores; 0 for none.
  int32_t GetDatabaseHandle(const TBRNDatabaseContainer* container) const;
  int32_t GetStoreHandle(const TBRNStore* store) const;
  // Closes (forced) and frees the handle of a database or store; for a
  // table, view or routine, force-closes its manager in its database handle.
  // Nothing when the object has no handle.
  void ReleaseObjectHandles(TBRNConfigObject* object);

  // 202 "An error occurred with the %s %s (%s)".
  [[noreturn]] void RaiseObjectError(TBRNConfigObject* object, const std::string& message);

  // What a module's library may ask of the session while one of its
  // routines runs (1 configuration path, 2 temporary tables path, 3 progress,
  // 4 status text, 5 log text). For 1 and 2: with a null buffer the length
  // goes to *size; with a buffer of at least the length, the characters are
  // copied without a terminator; a shorter buffer gets nothing. For 3, *size
  // is the percent done on entry and 1 (continue) or 0 (stop) on return.
  void ModuleCallback(TBRNModule* module, int32_t request, int32_t* size, char* buffer);

  // ---- Configuration commands: frame and databases (BEGIN)
  //
  // The database commands. Each builds its statement text (e.g. "DROP
  // DATABASE <name>"), which every refusal carries; changing commands check
  // login, administrator and a writable configuration, and bracket
  // themselves in a configuration update that a failure cancels, so the
  // configuration file and every session's copy stay as before. Names are
  // found ignoring case. See sessions/config/config_command_frame.h.

  // CREATE DATABASE: Begin returns a new entry owned by the current user,
  // with the default grants, not yet in the configuration (the caller owns
  // it and fills in its definition); End adds it (validating it) and
  // commits; Cancel (after a failed definition or End) frees it and cancels
  // the update. No file is made: the catalog is created at the first open.
  TBRNDatabaseContainer* BeginCreateDatabase(const std::string& name);
  void EndCreateDatabase(TBRNDatabaseContainer* database);
  void CancelCreateDatabase(TBRNDatabaseContainer* database);
  // ALTER DATABASE: Begin returns the configured entry (200 for a built-in
  // database, also for the System user). End takes a separate container
  // with the new definition (End and Cancel free it; it may be nullptr for
  // Cancel). When the database's folder exists, End needs it Exclusive
  // (the lock error while any session has it open); a change of
  // encryption rewrites the catalog file; a new Path or InMemory writes the
  // catalog at the new place, whose folder must already hold every table
  // file the old one holds (401 naming the first missing one) - table files
  // are never moved. A failure of End leaves every handle it opened closed
  // and released; the caller then calls Cancel.
  TBRNDatabaseContainer* BeginAlterDatabase(const std::string& name);
  void EndAlterDatabase(TBRNDatabaseContainer* database, TBRNDatabaseContainer* newDefinition);
  void CancelAlterDatabase(TBRNDatabaseContainer* database, TBRNDatabaseContainer* newDefinition);
  // DROP DATABASE: deletes the tables and the catalog unless keepContents
  // (lock error while any session has it open), then the entry. The
  // System user may drop a built-in database.
  void DropDatabase(const std::string& name, bool keepContents);
  // RENAME DATABASE: the entry only (lock error while any session has it
  // open; 400 when the new name is taken, 406 when it is no identifier);
  // the folder and files keep their names.
  void RenameDatabase(const std::string& name, const std::string& newName);

  // The frame of the database-wide commands (BACKUP, RESTORE, PUBLISH,
  // UNPUBLISH, SAVE UPDATES, LOAD UPDATES): the checks (login, plus a
  // writable configuration with checkWritable), a configuration read for the
  // whole call, the database by name, stage 0 of reporter, 200 for a
  // built-in database (also for the System user), then operation on its
  // handle. operation returns false when the user stopped it: stage 1 and
  // false, no error. An error gives stage 1 and passes on. The privileges
  // the operation needs are checked by the operation.
  using TBRNDatabaseStatusReporter = void (TBRNLocalSessionManager::*)(TBRNOperationStage,
                                                                      const TBRNConfigObject*);
  using TBRNDatabaseOperation = std::function<bool(TBRNLocalDatabaseManager& database)>;
  bool RunDatabaseCommand(const std::string& statement, bool checkWritable,
                          const std::string& databaseName, TBRNDatabaseStatusReporter reporter,
                          const TBRNDatabaseOperation& operation);
  // ---- Publishing and update files (BEGIN)
  // PUBLISH DATABASE, UNPUBLISH DATABASE, SAVE UPDATES and LOAD UPDATES in
  // the frame of RunDatabaseCommand (login, stages of their status
  // reporters, 200 for a built-in database); the database manager's
  // operations of the same names do the work and their own checks.
  bool PublishDatabase(const std::string& databaseName, const TBRNStringsList& tables,
                       int32_t columnMode);
  bool UnpublishDatabase(const std::string& databaseName, const TBRNStringsList& tables);
  bool SaveUpdates(const std::string& databaseName, const std::string& updateName,
                   const std::string& storeName, const TBRNStringsList& tables,
                   const std::string& description, int32_t compression, bool skipWhenEmpty);
  bool LoadUpdates(const std::string& databaseName, const std::string& updateName,
                   const std::string& storeName, const TBRNStringsList& tables,
                   bool ignoreMissing);
  // ---- Publishing and update files (END)
  // COMPARE: the same over two databases, with ReportCompareStatus.
  using TBRNDatabasePairOperation =
      std::function<bool(TBRNLocalDatabaseManager& database, TBRNLocalDatabaseManager& other)>;
  bool RunDatabasePairCommand(const std::string& statement, const std::string& databaseName,
                              const std::string& otherName,
                              const TBRNDatabasePairOperation& operation);
  // ---- Configuration commands: frame and databases (END)

  // ---- Configuration commands: users, roles, grants, jobs, modules, text filters, word generators and migrators (BEGIN)

  // Every operation below checks login, administrator and a writable
  // configuration with its statement text ("CREATE USER %s", ...) unless it
  // says otherwise, and runs in a configuration update that a failure
  // cancels (the configuration is reloaded, undoing the change) after
  // reporting stage 1. The three-call CREATE and ALTER: Begin answers the
  // object with the update open; the caller changes the object, then calls
  // End (adds or keeps it and commits) or, when the definition fails,
  // Cancel with what Begin answered (nullptr when Begin raised is allowed).

  // Users. A new user gets the lowest free lock number and, at End, the
  // "Public" role. ALTER USER of oneself needs no administrator; of another
  // user it takes his Exclusive lock, so it fails (300) while he is logged
  // in anywhere, as DROP USER and RENAME USER do. DROP and RENAME change
  // every database catalog that refers to the user or nothing: a catalog
  // that cannot be updated fails the statement with its error.
  TBRNUser* BeginCreateUser(const std::string& name);
  void EndCreateUser(TBRNUser* user);
  void CancelCreateUser(TBRNUser* user);
  TBRNUser* BeginAlterUser(const std::string& name);
  void EndAlterUser(TBRNUser* user);
  void CancelAlterUser(TBRNUser* user);
  void DropUser(const std::string& name);
  void RenameUser(const std::string& name, const std::string& newName);

  // Roles, as users without lock numbers and locks.
  TBRNRole* BeginCreateRole(const std::string& name);
  void EndCreateRole(TBRNRole* role);
  void CancelCreateRole(TBRNRole* role);
  TBRNRole* BeginAlterRole(const std::string& name);
  void EndAlterRole(TBRNRole* role);
  void CancelAlterRole(TBRNRole* role);
  void DropRole(const std::string& name);
  void RenameRole(const std::string& name, const std::string& newName);

  // GRANT role TO user (nothing changes when he holds it) and REVOKE.
  void GrantRole(const std::string& roleName, const std::string& userName);
  void RevokeRole(const std::string& roleName, const std::string& userName);
  // GRANT privilege ON object TO grantee and REVOKE: objectKind 0 a
  // database, 1 a store; privilegeKind a TBRNPrivilegeKind value, pkAll
  // granting (revoking) every kind of the object's full set one by one.
  void GrantPrivilege(const std::string& granteeName, const std::string& objectName,
                      int32_t objectKind, int32_t privilegeKind);
  void RevokePrivilege(const std::string& granteeName, const std::string& objectName,
                       int32_t objectKind, int32_t privilegeKind);

  // Jobs. A job is locked Exclusive while it runs and while it is altered,
  // dropped, renamed or reset, so those fail (300) on a running job.
  TBRNJob* BeginCreateJob(const std::string& name);
  void EndCreateJob(TBRNJob* job);
  void CancelCreateJob(TBRNJob* job);
  TBRNJob* BeginAlterJob(const std::string& name);
  void EndAlterJob(TBRNJob* job);
  void CancelAlterJob(TBRNJob* job);
  void DropJob(const std::string& name);
  void RenameJob(const std::string& name, const std::string& newName);
  // The in-memory Enabled flag of this session's copy of a job (login and
  // administrator checks, in a configuration read). A server switches the
  // jobs of its scheduler session through these; in any other engine the
  // SQL statements reach only the engine manager, which does nothing.
  void EnableJobByName(const std::string& name);
  void EnableAllJobsInSession();
  void DisableJobByName(const std::string& name);
  void DisableAllJobsInSession();
  // False when no job has the name. No checks.
  bool IsJobEnabledByName(const std::string& name);
  // RESET JOB: the last run goes back to 0, so a Once job is due again.
  void ResetJob(const std::string& name);
  // The job compiled and ready to run, or nullptr after logging the failure
  // (operation 93); never raises. For the job threads of a server.
  TBRNJob* PrepareJob(const std::string& name);
  // Runs a prepared job's body through the session's evaluator under the
  // job's Exclusive lock and then stamps its last run. An Information event
  // (operation 94) precedes the run; a failure is logged as an Error event
  // (operation 94) and not raised, and leaves the last run as it was.
  // Precondition: job is not nullptr (std::invalid_argument).
  void ExecuteJob(TBRNJob* job);
  // The "Jobs" information table of the Configuration database is filled
  // again at its next read.
  void InvalidateJobsTable();

  // Modules, text filters, word generators and migrators. Only modules have
  // lock numbers and are locked Exclusive by ALTER, DROP and RENAME. DROP
  // and RENAME refuse the built-in objects (200) for every user, the System
  // user included.
  TBRNModule* BeginCreateModule(const std::string& name);
  void EndCreateModule(TBRNModule* module);
  void CancelCreateModule(TBRNModule* module);
  TBRNModule* BeginAlterModule(const std::string& name);
  void EndAlterModule(TBRNModule* module);
  void CancelAlterModule(TBRNModule* module);
  void DropModule(const std::string& name);
  void RenameModule(const std::string& name, const std::string& newName);
  TBRNTextFilter* BeginCreateTextFilter(const std::string& name);
  void EndCreateTextFilter(TBRNTextFilter* filter);
  void CancelCreateTextFilter(TBRNTextFilter* filter);
  TBRNTextFilter* BeginAlterTextFilter(const std::string& name);
  void EndAlterTextFilter(TBRNTextFilter* filter);
  void CancelAlterTextFilter(TBRNTextFilter* filter);
  void DropTextFilter(const std::string& name);
  void RenameTextFilter(const std::string& name, const std::string& newName);
  TBRNWordGenerator* BeginCreateWordGenerator(const std::string& name);
  void EndCreateWordGenerator(TBRNWordGenerator* generator);
  void CancelCreateWordGenerator(TBRNWordGenerator* generator);
  TBRNWordGenerator* BeginAlterWordGenerator(const std::string& name);
  void EndAlterWordGenerator(TBRNWordGenerator* generator);
  void CancelAlterWordGenerator(TBRNWordGenerator* generator);
  void DropWordGenerator(const std::string& name);
  void RenameWordGenerator(const std::string& name, const std::string& newName);
  TBRNMigrator* BeginCreateMigrator(const std::string& name);
  void EndCreateMigrator(TBRNMigrator* migrator);
  void CancelCreateMigrator(TBRNMigrator* migrator);
  TBRNMigrator* BeginAlterMigrator(const std::string& name);
  void EndAlterMigrator(TBRNMigrator* migrator);
  void CancelAlterMigrator(TBRNMigrator* migrator);
  void DropMigrator(const std::string& name);
  void RenameMigrator(const std::string& name, const std::string& newName);
  // SET MIGRATOR: the migrator whose tables the Migrator information tables
  // list (empty clears it). An unknown name raises 401 and keeps the
  // previous one. No checks.
  void SetMigrator(const std::string& name);

  // ---- Configuration commands: users, roles, grants, jobs, modules, text filters, word generators and migrators (END)

  // ---- Configuration commands: stores and files (BEGIN)

  // 1306 "Error with the %s %s (%s)" with the store's type name, its name
  // and detail.
  [[noreturn]] virtual void RaiseStoreObjectError(TBRNStore* store, const std::string& detail);
  // ... with "A remote store cannot be the target of a local operation".
  [[noreturn]] virtual void RaiseRemoteStoreError(TBRNStore* store);
  // ... with "Error reading from the file %s" / "Error writing to the file %s".
  [[noreturn]] virtual void RaiseStoreFileReadError(TBRNStore* store, const std::string& fileName);
  [[noreturn]] virtual void RaiseStoreFileWriteError(TBRNStore* store,
                                                     const std::string& fileName);
  // ... with "Invalid file name %s": a store file name is a bare name, never
  // a path ("\", "/" or "..").
  [[noreturn]] virtual void RaiseInvalidStoreFileNameError(TBRNStore* store,
                                                           const std::string& fileName);

  // CREATE STORE and ALTER STORE in three calls (see config_command_frame.h):
  // Begin returns the store (a new one, owned by the caller until End adds
  // it; for ALTER the member, locked Exclusive so that no session has it
  // open), the statement executor fills in its definition, then End or, when
  // that fails, Cancel. Checks: login, administrator, writable configuration.
  TBRNStore* BeginCreateStore(const std::string& name);
  void EndCreateStore(TBRNStore* store);
  void CancelCreateStore(TBRNStore* store);
  TBRNStore* BeginAlterStore(const std::string& name);
  void EndAlterStore(TBRNStore* store);
  // store may be nullptr (the store was not found).
  void CancelAlterStore(TBRNStore* store);
  // DROP STORE: removes the store's files and folder unless keepFiles.
  void DropStore(const std::string& name, bool keepFiles);
  // RENAME STORE: the folder keeps its name; an existing name fails.
  void RenameStore(const std::string& name, const std::string& newName);
  // COPY FILE: within one store (targetStore empty or the same name) with
  // the Create privilege on it; to another store with Create on the target,
  // in 64 KB chunks under the session's progress. A copy stopped through
  // the progress or failed leaves no target file.
  void CopyStoreFile(const std::string& storeName, const std::string& fileName,
                     const std::string& newName, const std::string& targetStore);
  // RENAME FILE (Alter privilege on the store) and DELETE FILE (Drop).
  void RenameStoreFile(const std::string& storeName, const std::string& fileName,
                       const std::string& newName);
  void DeleteStoreFile(const std::string& storeName, const std::string& fileName);
  // SET BACKUPS / UPDATES / FILES STORE: name must be a store the current
  // user may see; empty clears the setting. Marks the matching system table
  // of the Configuration database as to be filled again.
  void SetBackupsStore(const std::string& name);
  void SetUpdatesStore(const std::string& name);
  void SetFilesStore(const std::string& name);
  // Called when the content of a system information table of the
  // Configuration database changed ("Backups", "Updates", "Files"): the
  // table is to be filled again at its next use. Nothing here while the
  // system tables are not registered.
  virtual void MarkSystemTableNotFilled(const std::string& tableName);

  // ---- Configuration commands: stores and files (END)

  // ---- Cached updates (BEGIN)
  // The session's cached-updates manager: SQL execution makes it on the
  // first cached-updates request (execution/cursors/cached_updates.h) and
  // hands it over here. The session frees it in CloseConfigurationFiles,
  // after its database handles closed and with them every cursor whose
  // cache lives in the manager's private session.
  class TBRNCachedUpdatesHolder {
   public:
    virtual ~TBRNCachedUpdatesHolder() = default;
  };
  // False for a session that may keep no cache of its own (the private
  // session that holds other sessions' caches).
  virtual bool KeepsCachedUpdates() const { return true; }
  std::unique_ptr<TBRNCachedUpdatesHolder> CachedUpdates;
  // ---- Cached updates (END)

  // -- Fields.

  std::unique_ptr<TBRNLocalSessionEngineManagerSettings> SessionSettings;
  bool RegisterTables;
  bool ToolsBuilt = false;
  std::unique_ptr<TBRNCompressionManager> CompressionManager;
  std::unique_ptr<TBRNExprParser> Parser;
  std::unique_ptr<TBRNExprValidator> Validator;
  std::unique_ptr<TBRNExprBuilder> Builder;
  std::unique_ptr<TBRNConfig> Config;
  std::unique_ptr<TBRNConfigManager> ConfigManager;
  TBRNFileManager* FileManager = nullptr;  // the engine's
  std::unique_ptr<TBRNConfigLockManager> ConfigLockManager;
  std::unique_ptr<TBRNLog> Log;
  std::unique_ptr<TBRNLocalLogManager> LogManager;
  int32_t UserID = 0;
  // The users saved by PushCurrentUser, the first push at the front: its
  // user is the one GetUserName reports.
  std::vector<TBRNUser*> UserStack;
  TBRNUser* CurrentUser = nullptr;
  std::string CurrentUserName;
  // Owned by Databases; nullptr while closed.
  TBRNLocalDatabaseManager* ConfigurationDatabase = nullptr;
  // Re-entrance guards.
  bool RegisteringTables = false;
  bool DroppingConfiguration = false;
  bool FillingTable = false;
  TBRNLogEvent LogEvent;
  std::string BackupsStore;
  std::string FilesStore;
  std::string UpdatesStore;
  std::string Migrator;
  // Made by the session evaluator factory (sessions/local/evaluator_factory.h).
  std::unique_ptr<TBRNExpressionEvaluator> Evaluator;

 protected:
  // Copies SessionName, SessionDescription, Identity and the logged-in
  // user's name into SessionInfo. A session that changes those fields
  // other than through OpenSession, Login and Logout calls it afterwards.
  void PublishSessionFields();
  // Registers the system information tables of the Configuration database.
  // They are not available yet: nothing is registered.
  virtual void RegisterSystemTables();

 private:
  void refreshUserName();
  void setConfigHooks();
  void lockModule(TBRNModule* module);
  void unlockModule(TBRNModule* module);
  void moduleLoadFailed(TBRNModule* module, const EBRNException& error);
  void beginCatalogRead(TBRNDatabaseContainer* database);
  void endCatalogRead(TBRNDatabaseContainer* database);
  void beginCatalogUpdate(TBRNDatabaseContainer* database);
  void cancelCatalogUpdate(TBRNDatabaseContainer* database);
  void commitCatalogUpdate(TBRNDatabaseContainer* database);
  void configLoadedOrSaved();
  void logChanged();
  void registerDataTypes();
  void registerCollations();
  // Closes every handle in a table with Force True and frees it.
  void closeDatabaseHandles();
  void closeStoreHandles();

  // Handle numbers of this session's database and store handles, by object
  // (the configured objects carry no session state of their own).
  std::unordered_map<const TBRNConfigObject*, int32_t> databaseHandles_;
  std::unordered_map<const TBRNConfigObject*, int32_t> storeHandles_;
  // The logged-in user's name as SessionInfo last received it.
  std::string loggedInName_;
};

// Runs the enclosed work as the System user: pushes the current user, makes
// System current, and pops on destruction (also when the work raised).
class TBRNSystemUserScope {
 public:
  explicit TBRNSystemUserScope(TBRNLocalSessionManager& session);
  ~TBRNSystemUserScope();
  TBRNSystemUserScope(const TBRNSystemUserScope&) = delete;
  TBRNSystemUserScope& operator=(const TBRNSystemUserScope&) = delete;

 private:
  TBRNLocalSessionManager& session_;
};

}  // namespace brn
