// The common frame of the configuration commands: the operations of the
// local session that change the configuration (CREATE, ALTER, DROP, RENAME,
// GRANT, ...) or work on a whole database (BACKUP, ..., LOAD UPDATES).
//
// An operation applies the frame in this order:
//   1. checks with the statement text (RunConfigChecks);
//   2. the configuration bracket: TBRNConfigUpdateBracket for a change,
//      TBRNConfigReadBracket for an operation that only reads it;
//   3. find or create the object;
//   4. system protection (CheckNotSystem of the object);
//   5. the work between status stages (TBRNStatusStages): stage 0 before
//      it, stage 2 after the commit, stage 1 when anything fails.
//
// A single-call operation, sketched:
//
//   const std::string statement = ConfigStatementText("DROP JOB %s", name);
//   RunConfigChecks(session, kConfigChecksChange, statement);
//   TBRNConfigUpdateBracket update(session);
//   TBRNJob* job = ...FindByName(name, true);
//   TBRNStatusStages stages(ReportDrop(session, job));       // stage 0
//   if (!session.IsSystemUser()) job->CheckNotSystem();
//   ...the work...
//   update.Commit();
//   stages.Complete();                                       // stage 2
//   // leaving the scope early through an exception: stage 1, then the
//   // update is cancelled (the configuration reloaded), in that order.
//
// A three-call CREATE: BeginCreateObject / EndCreateObject /
// CancelCreateObject; a three-call ALTER: checks, a TBRNConfigUpdateBracket,
// find, TBRNStatusStages(ReportAlter(...)), CheckNotSystem, then Release of
// both and return the object; later EndAlterObject / CancelAlterObject. Between Begin
// and End (or Cancel) the configuration update stays open in the session's
// configuration manager.
//
// Everything here is used by the session's own thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sessions/local/session_snapshots.h"

namespace brn {

class TBRNConfigObject;
class TBRNConfigObjects;
class TBRNLocalSessionManager;

// ---- Statement texts

// pattern with each "%s" replaced, in order, by the next argument; a "%s"
// without an argument stays as it is.
std::string ConfigStatementText(const std::string& pattern, const std::string& name);
std::string ConfigStatementText(const std::string& pattern, const std::string& name,
                                const std::string& other);

// ---- Checks

// Bits of the checks an operation makes.
inline constexpr uint32_t kConfigCheckLogin = 1;          // RequireLogin (500)
inline constexpr uint32_t kConfigCheckAdministrator = 2;  // RequireAdministrator (502)
inline constexpr uint32_t kConfigCheckWritable = 4;       // RequireWritableConfig (403)
// L A W: the checks of every operation that changes the configuration.
inline constexpr uint32_t kConfigChecksChange =
    kConfigCheckLogin | kConfigCheckAdministrator | kConfigCheckWritable;

// The checks named by checks, in the order login, administrator, writable
// configuration; the first that fails raises with statement in its text.
void RunConfigChecks(TBRNLocalSessionManager& session, uint32_t checks,
                     const std::string& statement);

// ---- The configuration bracket

// BeginUpdate of the configuration file: the transaction lock, and a reload
// of the changes other sessions made. A second begin while one is open
// does nothing (the open one goes on).
void BeginConfigUpdate(TBRNLocalSessionManager& session);
// Rewrites the configuration file when the configuration was modified and
// ends the update. A failed write leaves the update open (for a cancel).
void CommitConfigUpdate(TBRNLocalSessionManager& session);
// Ends the update without writing and reloads the configuration from the
// file, so every in-memory change made since the begin is undone (members
// added since are freed by the reload). Nothing without an open update.
void CancelConfigUpdate(TBRNLocalSessionManager& session);

// A configuration update for the enclosing scope: begun by the
// constructor; Commit ends it; a destructor that finds it still open
// cancels it (errors of that cancel are dropped: the error that left the
// scope is the one to report). Release hands the open update to a later
// CommitConfigUpdate / CancelConfigUpdate (the Begin of a three-call
// operation).
class TBRNConfigUpdateBracket {
 public:
  explicit TBRNConfigUpdateBracket(TBRNLocalSessionManager& session);
  ~TBRNConfigUpdateBracket();
  TBRNConfigUpdateBracket(const TBRNConfigUpdateBracket&) = delete;
  TBRNConfigUpdateBracket& operator=(const TBRNConfigUpdateBracket&) = delete;

  // CommitConfigUpdate; when it raises, the bracket stays open and the
  // destructor cancels.
  void Commit();
  void Release();

 private:
  TBRNLocalSessionManager& session_;
  bool open_ = true;
};

// A read of the configuration file for the enclosing scope (BeginRead in
// the constructor, EndRead in the destructor).
class TBRNConfigReadBracket {
 public:
  explicit TBRNConfigReadBracket(TBRNLocalSessionManager& session);
  ~TBRNConfigReadBracket();
  TBRNConfigReadBracket(const TBRNConfigReadBracket&) = delete;
  TBRNConfigReadBracket& operator=(const TBRNConfigReadBracket&) = delete;

 private:
  TBRNLocalSessionManager& session_;
};

// ---- Status stages

// Reports one stage of an operation on its object: bind one of the
// session's reporters, e.g. ReportDrop(session, object) below or a lambda
// over ReportGrantPrivilegeStatus.
using TBRNStageReporter = std::function<void(TBRNOperationStage)>;

TBRNStageReporter ReportCreate(TBRNLocalSessionManager& session, const TBRNConfigObject* object);
// Stage 0 with detail (none when empty).
TBRNStageReporter ReportAlter(TBRNLocalSessionManager& session, const TBRNConfigObject* object,
                              const std::string& detail = std::string());
TBRNStageReporter ReportDrop(TBRNLocalSessionManager& session, const TBRNConfigObject* object);
TBRNStageReporter ReportRename(TBRNLocalSessionManager& session, const TBRNConfigObject* object);

// The stages of one operation's work: the constructor reports stage 0,
// Complete stage 2; a destructor that finds neither Complete nor Fail called
// reports stage 1 (its errors dropped), so leaving the scope through an
// exception, or returning after a stop by the user, reports stage 1. Declare
// it after the configuration bracket: stage 1 comes before the cancel.
class TBRNStatusStages {
 public:
  explicit TBRNStatusStages(TBRNStageReporter reporter);
  ~TBRNStatusStages();
  TBRNStatusStages(const TBRNStatusStages&) = delete;
  TBRNStatusStages& operator=(const TBRNStatusStages&) = delete;

  void Complete();
  // Stage 1 now (errors pass on).
  void Fail();
  // Reports nothing more: stage 2 or 1 is left to a later call (the Begin
  // of a three-call operation, once stage 0 stands).
  void Release();

 private:
  TBRNStageReporter reporter_;
  bool reported_ = false;
};

// ---- Three-call CREATE and ALTER

// Begin of CREATE: the checks (all three), BeginConfigUpdate, then
// makeObject (the kind's NewItem or NewItemOwnedBy, named, with lock
// number or default grants as the kind needs), then stage 0 of
// ReportCreateStatus. Returns the new object, owned by the caller until
// EndCreateObject adds it. On failure the update is cancelled and the
// error passes on (nothing is left to free).
TBRNConfigObject* BeginCreateObject(
    TBRNLocalSessionManager& session, const std::string& statement,
    const std::function<std::unique_ptr<TBRNConfigObject>()>& makeObject);
// End of CREATE: AddObject to collection (which validates the name and the
// definition), commit, stage 2. On failure the error passes on and the
// caller calls CancelCreateObject.
void EndCreateObject(TBRNLocalSessionManager& session, TBRNConfigObjects& collection,
                     TBRNConfigObject* object);
// Cancel of CREATE: stage 1, object freed unless it is a member of
// collection (a member goes with the reload), update cancelled. object may
// be nullptr.
void CancelCreateObject(TBRNLocalSessionManager& session, TBRNConfigObjects& collection,
                        TBRNConfigObject* object);

// End of ALTER after the object was changed in place: commit, stage 2.
void EndAlterObject(TBRNLocalSessionManager& session, const TBRNConfigObject* object);
// Cancel of ALTER: stage 1, update cancelled (the reload undoes the change).
void CancelAlterObject(TBRNLocalSessionManager& session, const TBRNConfigObject* object);

// Whether object is one of the members of collection (by identity).
bool IsMemberOf(const TBRNConfigObjects& collection, const TBRNConfigObject* object);

}  // namespace brn
