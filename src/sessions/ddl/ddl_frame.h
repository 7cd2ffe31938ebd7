// The common frame of the catalog statements of one database (CREATE,
// ALTER, DROP, RENAME of tables, indexes, triggers, views and routines,
// EMPTY TABLE, GRANT and REVOKE on schema objects).
//
// Each statement is made of these steps, in the order its executor gives:
//   - checks with the statement text: RequireOpenAndWritable,
//     RequireNoTransaction of the database manager, CheckDdlPrivilege,
//     CheckNotSystemUnlessSystemUser;
//   - the catalog update (TBRNCatalogUpdateBracket): the catalog file's
//     transaction lock and a reload of other sessions' changes; committed
//     (the catalog file rewritten with a safety copy) or cancelled (the
//     catalog reloaded from the file, so memory equals the file again);
//   - status stages (TBRNStatusStages of the configuration-command frame
//     with one of the reporters below): stage 0 before the work, stage 2
//     after the commit, stage 1 when anything fails;
//   - an object lock (TBRNObjectLockScope) where the statement takes one.
//
// Declare the stages after the catalog bracket, so that stage 1 is
// reported before the update is cancelled.
//
// Three-call statements (CREATE TABLE, CREATE INDEX, ...) keep the update
// open between their begin and their commit or rollback: the begin
// Releases its bracket, and the commit or rollback step ends the update
// with CommitCatalogUpdate or CancelCatalogUpdate.
//
// Everything here is used by the thread of the session that owns the
// database manager.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "sessions/config/config_command_frame.h"

namespace brn {

class TBRNConfigObject;
class TBRNLocalDatabaseManager;
class TBRNLockable;
class TBRNPrivilegedConfigObject;

// ---- Statement texts

// pattern with each "%s" replaced, in order, by the next of args.
std::string DdlStatementText(const std::string& pattern,
                             std::initializer_list<std::string> args);

// ---- Checks (each raises with statement in its text)

// RequireOpen (402), then RequireWritable (403).
void RequireOpenAndWritable(TBRNLocalDatabaseManager& database, const std::string& statement);
// The session's privilege check of the current user on object.
void CheckDdlPrivilege(TBRNLocalDatabaseManager& database, TBRNPrivilegedConfigObject* object,
                       int32_t kind, const std::string& statement);
// CheckNotSystem of object, unless the current user is the System user.
void CheckNotSystemUnlessSystemUser(TBRNLocalDatabaseManager& database,
                                    const TBRNConfigObject* object);

// ---- The catalog update

// BeginUpdate of the catalog file: the transaction lock and a reload of
// the changes of other sessions. A begin while an update is open does
// nothing (the open one goes on).
void BeginCatalogUpdate(TBRNLocalDatabaseManager& database);
// Rewrites the catalog file when the catalog was modified, and ends the
// update. A failed write puts the previous file back and leaves the update
// open (for a cancel); the error passes on.
void CommitCatalogUpdate(TBRNLocalDatabaseManager& database);
// Ends the update without writing and reloads the catalog from the file,
// so every in-memory change to stored objects since the begin is undone;
// objects kept by ID stay the same objects. Temporary tables and views are
// not in the file and are left as they are. Nothing without an open
// update.
void CancelCatalogUpdate(TBRNLocalDatabaseManager& database);
// Whether the catalog is in an update.
bool InCatalogUpdate(const TBRNLocalDatabaseManager& database);

// A catalog update for the enclosing scope: begun by the constructor;
// Commit ends it; a destructor that finds it open cancels it (errors of
// that cancel are dropped: the error leaving the scope is the one to
// report). Cancel ends it at once (a temporary table's change lives in the
// session's catalog only); Release hands it to a later commit or rollback
// step.
class TBRNCatalogUpdateBracket {
 public:
  explicit TBRNCatalogUpdateBracket(TBRNLocalDatabaseManager& database);
  ~TBRNCatalogUpdateBracket();
  TBRNCatalogUpdateBracket(const TBRNCatalogUpdateBracket&) = delete;
  TBRNCatalogUpdateBracket& operator=(const TBRNCatalogUpdateBracket&) = delete;

  // CommitCatalogUpdate; when it raises, the bracket stays open and the
  // destructor cancels. Nothing after Cancel or Release.
  void Commit();
  // CancelCatalogUpdate now; errors pass on.
  void Cancel();
  void Release();
  bool IsOpen() const { return open_; }

 private:
  TBRNLocalDatabaseManager& database_;
  bool open_ = true;
};

// A read of the catalog for the enclosing scope (BeginRead of the catalog
// file in the constructor, which reloads the catalog when another session
// changed the file; EndRead in the destructor, whose failure is dropped).
class TBRNCatalogReadBracket {
 public:
  explicit TBRNCatalogReadBracket(TBRNLocalDatabaseManager& database);
  ~TBRNCatalogReadBracket();
  TBRNCatalogReadBracket(const TBRNCatalogReadBracket&) = delete;
  TBRNCatalogReadBracket& operator=(const TBRNCatalogReadBracket&) = delete;

 private:
  TBRNLocalDatabaseManager& database_;
};

// ---- Object locks

// A lock of the database lock file on object for the enclosing scope:
// taken by the constructor (the lock manager's error when it cannot be had
// within the retry count), released by the destructor (errors dropped) or
// by Unlock. Release keeps the lock held past the scope (a begin step
// whose commit or rollback releases it).
class TBRNObjectLockScope {
 public:
  TBRNObjectLockScope(TBRNLocalDatabaseManager& database, TBRNLockable* object,
                      uint8_t lockType);
  ~TBRNObjectLockScope();
  TBRNObjectLockScope(const TBRNObjectLockScope&) = delete;
  TBRNObjectLockScope& operator=(const TBRNObjectLockScope&) = delete;

  void Unlock();
  void Release() { held_ = false; }

 private:
  TBRNLocalDatabaseManager& database_;
  TBRNLockable* object_;
  uint8_t lockType_;
  bool held_ = false;
};

// ---- Status stages of the catalog statements (with TBRNStatusStages;
// ReportCreate, ReportAlter, ReportDrop and ReportRename come from the
// configuration-command frame)

TBRNStageReporter ReportDdlCreate(TBRNLocalDatabaseManager& database,
                                  const TBRNConfigObject* object);
TBRNStageReporter ReportDdlAlter(TBRNLocalDatabaseManager& database,
                                 const TBRNConfigObject* object);
TBRNStageReporter ReportDdlDrop(TBRNLocalDatabaseManager& database,
                                const TBRNConfigObject* object);
TBRNStageReporter ReportDdlRename(TBRNLocalDatabaseManager& database,
                                  const TBRNConfigObject* object);
TBRNStageReporter ReportDdlEmpty(TBRNLocalDatabaseManager& database,
                                 const TBRNConfigObject* object);
TBRNStageReporter ReportDdlGrant(TBRNLocalDatabaseManager& database,
                                 const TBRNConfigObject* object,
                                 const std::string& privilegeName);
TBRNStageReporter ReportDdlRevoke(TBRNLocalDatabaseManager& database,
                                  const TBRNConfigObject* object,
                                  const std::string& privilegeName);

// Reports one stage now, dropping a failure of the status text (used on
// failure paths, where the error being raised is the one to report).
void ReportStageQuietly(const TBRNStageReporter& reporter, TBRNOperationStage stage) noexcept;

}  // namespace brn
