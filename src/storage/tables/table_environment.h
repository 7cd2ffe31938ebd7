#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "storage/files/table_file_host.h"

namespace brn {

class EBRNException;
class TBRNCatalog;
class TBRNConfigObject;
class TBRNEvaluationContext;
class TBRNExpressionEvaluator;
class TBRNFileManager;
class TBRNLockable;
class TBRNPrivilegedConfigObject;
class TBRNSchemaObjectManagers;
class TBRNUser;
class TBRNVirtualTableManager;

// Lock types of catalog objects in a database's lock file.
inline constexpr uint8_t kBRNLockNone = 0;
inline constexpr uint8_t kBRNLockTypeShared = 1;
inline constexpr uint8_t kBRNLockTypeExclusive = 2;
inline constexpr uint8_t kBRNLockTypeRead = 3;
inline constexpr uint8_t kBRNLockTypeWrite = 4;
inline constexpr uint8_t kBRNLockTypeTransaction = 5;

// Record lock protocols of a session.
inline constexpr uint8_t kBRNRecordLockPessimistic = 0;
inline constexpr uint8_t kBRNRecordLockOptimistic = 1;

// The session settings that steer row access, copied by the session.
struct TBRNTableSettings {
  bool KeepTablesOpen = false;
  uint8_t RecordLockProtocol = kBRNRecordLockPessimistic;
  int32_t RecordLockRetryCount = 15;
  int32_t RecordLockWaitTime = 100;  // ms
  bool RecordChangeDetection = false;
  bool ForceBufferFlush = false;
};

// The kind of a system information table, whose rows the engine produces
// instead of storing them.
enum class TBRNSystemTableKind : uint8_t {
  None,           // an ordinary table
  Configuration,  // a table of the session's "Configuration" database
  Information     // a table of a database's "Information" schema
};

// An object its creator owns that reads through the managers of an
// environment (a cursor kept outside the database's handle table): the
// environment closes it before its managers go, so that the object's later
// free touches nothing of them.
class TBRNEnvironmentDependent {
 public:
  // Releases whatever the object holds of the environment and forgets the
  // environment; the object stays to be freed by its owner. Called once.
  virtual void EnvironmentClosing() noexcept = 0;

 protected:
  ~TBRNEnvironmentDependent() = default;
};

// What the schema-object managers of one database need of that database and
// of its session: the catalog and its lock file, the files of each schema,
// the settings, the evaluator, privileges, the current-user stack, the log
// and progress, and the engine facts every table file asks for. The local
// database manager implements it (the sessions subsystem sits above
// storage); tests implement it over a real lock file.
//
// Used by the session's thread only. Every object it answers (catalog, file
// managers, evaluator) outlives the managers that use it.
class TBRNTableEnvironment {
 public:
  virtual ~TBRNTableEnvironment() = default;

  // The database: its catalog, its name, and the folder of a schema's table
  // files (ending with a separator). The "Default" schema (or an empty name)
  // is the database's own folder; "Information" is the Configuration
  // database's.
  virtual TBRNCatalog* GetCatalog() = 0;
  virtual std::string GetDatabaseName() const = 0;
  virtual std::string GetSchemaFolder(const std::string& schemaName) = 0;
  // The file manager through which a schema's table files are opened.
  virtual TBRNFileManager* GetSchemaFileManager(const std::string& schemaName) = 0;
  // Dependents register themselves while they are open and leave when
  // they close; an environment that tracks them closes every one still
  // registered when it closes. The default tracks none.
  virtual void AddDependent(TBRNEnvironmentDependent&) {}
  virtual void RemoveDependent(TBRNEnvironmentDependent&) noexcept {}
  // The database's list of table managers (a table manager opens and
  // closes the tables its foreign keys reference through it), nullptr
  // while the database has none.
  virtual TBRNSchemaObjectManagers* GetTableManagers() { return nullptr; }

  // Catalog-object locks in the database lock file, with the object's retry
  // bounds and the default wait. LockObject answers whether a lock was
  // taken (false when none was needed) and raises the object's lock error
  // (300) when it cannot be had; UnlockObject raises 301 when a held lock
  // cannot be released.
  virtual bool LockObject(TBRNLockable* object, uint8_t lockType) = 0;
  virtual void UnlockObject(TBRNLockable* object, uint8_t lockType) = 0;

  // The session's settings of row access.
  virtual const TBRNTableSettings& GetTableSettings() const = 0;

  // The session's evaluator, and a new evaluation context of this database
  // (the evaluator's own context class, bound to the database).
  virtual TBRNExpressionEvaluator& GetEvaluator() = 0;
  virtual std::unique_ptr<TBRNEvaluationContext> CreateEvaluationContext() = 0;

  // Raises the privilege error (code of the session's privilege check)
  // unless the current user holds kind on object; statementName names the
  // statement in the message.
  virtual void CheckPrivilege(TBRNPrivilegedConfigObject* object, int32_t kind,
                              const std::string& statementName) = 0;
  // The current-user stack: PushUser makes user current (the System user for
  // nullptr) and PopUser puts the previous one back. Every push is matched by
  // one pop, also when the work between them throws.
  virtual void PushUser(TBRNUser* user) = 0;
  virtual void PopUser() = 0;
  virtual TBRNUser* GetCurrentUser() = 0;
  // The owner of a catalog object as a user of the session's configuration
  // (trigger bodies run as their table's owner).
  virtual TBRNUser* GetObjectOwner(TBRNPrivilegedConfigObject* object) = 0;

  // The log: an event for a failed operation (operationCode as on the wire),
  // a warning event, and a line of the session's log output.
  virtual void LogFailedOperation(int32_t operationCode, const EBRNException& error) = 0;
  virtual void WriteWarningEvent(const std::string& text) = 0;
  virtual void LogMessage(const std::string& text) = 0;
  // Progress of a long operation in percent; false: the user cancelled.
  virtual bool UpdateProgress(int32_t percent) = 0;
  virtual void BeginProgress() {}
  virtual void EndProgress() {}
  virtual void ReportStatus(const std::string&) {}
  [[noreturn]] virtual void RaiseBackupError(const std::string& text) = 0;
  [[noreturn]] virtual void RaiseRestoreError(const std::string& text) = 0;

  // The engine facts of table files: digests, extensions, timestamps.
  virtual const TBRNDigest& GetSignatureDigest() const = 0;
  virtual bool IsValidSignature(const TBRNDigest& digest) const = 0;
  virtual const TBRNDigest& GetEncryptionDigest() const = 0;
  virtual std::string GetFileExtension(TBRNTableFileKind kind) const = 0;
  virtual void AdvanceTimestamp(int64_t) {}

  // ---- Publishing and update files (BEGIN)
  // The engine's next timestamp: strictly increasing across the process.
  // The default keeps its own process-wide sequence; a session answers its
  // engine's. May be called from several threads.
  virtual int64_t NextTimestamp();
  // 1304 "Error saving updates for the %s %s (%s)" and 1305 "Error loading
  // the updates for the %s %s (%s)": the database's kind and name, then
  // detail.
  [[noreturn]] virtual void RaiseSaveUpdatesError(const std::string& detail);
  [[noreturn]] virtual void RaiseLoadUpdatesError(const std::string& detail);
  // ---- Publishing and update files (END)

  // System information tables. GetSystemTableKind says whether table is
  // one; FillSystemTable produces its rows into manager (which is open and
  // inside a table transaction, its rows emptied) as the System user;
  // ReloadSystemSource lets the configuration file manager (the log manager
  // for the log-events table) or the catalog file manager re-read its file.
  // The filled and refreshable marks live with the table's definition and are
  // answered here too.
  virtual TBRNSystemTableKind GetSystemTableKind(TBRNConfigObject*) {
    return TBRNSystemTableKind::None;
  }
  virtual bool IsSystemTableFilled(TBRNConfigObject*) { return true; }
  virtual void SetSystemTableFilled(TBRNConfigObject*, bool) {}
  virtual bool IsSystemTableRefreshable(TBRNConfigObject*) { return false; }
  virtual void FillSystemTable(TBRNVirtualTableManager&) {}
  virtual void ReloadSystemSource(TBRNConfigObject*) {}
};

}  // namespace brn
