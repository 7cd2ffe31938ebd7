#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/bitmap.h"
#include "foundation/runtime/handle_objects.h"
#include "sessions/manager_interfaces.h"

namespace brn {

class TBRNSessionManager;
class TBRNStream;

// Row lock protocols of a session.
inline constexpr uint8_t kBRNLockPessimistic = 0;
inline constexpr uint8_t kBRNLockOptimistic = 1;

// The progress bracket of a session: reports through the session.
class TBRNSessionProgress : public TBRNProgress {
 public:
  explicit TBRNSessionProgress(TBRNSessionManager* session);

  int32_t GetTicks() override;
  int32_t GetElapsedTicks(int32_t startTicks, int32_t stopTicks) override;
  bool DoProgress() override;
  void DoStatusMessage(const std::string& text) override;
  void DoLogMessage(const std::string& text) override;

  TBRNSessionManager* Session;
};

// The engine's ways of talking back to the application. They run on the
// thread that performs the operation.
using TBRNLoginEvent =
    std::function<void(bool& handled, std::string& userName, std::string& password, bool& proceed)>;
using TBRNProgressEvent = std::function<void(int32_t percentDone, bool& proceed)>;
using TBRNMessageEvent = std::function<void(const std::string& text)>;
using TBRNScriptPauseEvent =
    std::function<void(int32_t line, const std::exception* error, bool atStatement)>;
using TBRNScriptEndEvent = std::function<void(int32_t first, int32_t second)>;

struct TBRNSessionEvents {
  TBRNLoginEvent OnLogin;
  TBRNProgressEvent OnProgress;
  TBRNMessageEvent OnStatusMessage;
  TBRNMessageEvent OnLogMessage;
  TBRNScriptPauseEvent OnScriptPause;
  TBRNScriptEndEvent OnScriptEnd;
};

// Where a session-wide handle leads: an object registered in one of
// Database's handle tables under Handle.
struct TBRNSessionHandleTarget {
  TBRNDatabaseManager* Database = nullptr;
  int32_t Handle = 0;
};

// The session's index of one kind of database object (cursors, statements,
// procedures or scripts) across all of its databases, by session-wide handle:
// the handles a server gives its client, which name no database. The index
// owns nothing: the database's table that Table names owns each object, and
// an entry only says where to find it.
//
// The rule that keeps the index true: an object with a session-wide handle
// leaves its database's table only after Remove dropped that handle, or
// when its database closes, which drops all of the database's handles
// (TBRNSessionManager::CloseDatabase). Used by the session's thread only.
class TBRNSessionHandleIndex {
 public:
  using TTable = TBRNHandleObjects TBRNDatabaseManager::*;

  // Handles run from 1 to capacity (at least 1).
  TBRNSessionHandleIndex(int32_t capacity, TTable table);
  TBRNSessionHandleIndex(const TBRNSessionHandleIndex&) = delete;
  TBRNSessionHandleIndex& operator=(const TBRNSessionHandleIndex&) = delete;

  // Gives the object registered under handle in database's table the lowest
  // free session-wide handle and returns it. std::logic_error when no object
  // is registered there or the object has a session-wide handle already;
  // std::runtime_error when every handle is in use. The index is unchanged
  // on failure.
  int32_t Add(TBRNDatabaseManager* database, int32_t handle);
  // The object behind a session-wide handle; nullptr for a free handle.
  TBRNHandleObject* Find(int32_t sessionHandle) const;
  // The database and handle behind a session-wide handle; a target with no
  // database for a free handle.
  TBRNSessionHandleTarget GetTarget(int32_t sessionHandle) const;
  // Frees the session-wide handle (the object stays in its database) and
  // returns where it led; a target with no database when it was free.
  TBRNSessionHandleTarget Remove(int32_t sessionHandle);
  // Frees the session-wide handles of every object of database.
  void RemoveDatabase(const TBRNDatabaseManager* database);
  int32_t GetCount() const { return count_; }

 private:
  bool IsUsed(int32_t sessionHandle) const;

  TTable table_;
  TBRNBitmap used_;
  std::vector<TBRNSessionHandleTarget> targets_;  // by session-wide handle - 1
  int32_t count_ = 0;
};

// The abstract session: owns its databases and stores (and frees what is
// still open), its progress bracket and its callbacks. What a database opens
// belongs to that database's handle tables; the session only indexes it by
// session-wide handle. One session is used by one thread at a time; a server
// serialises the requests of a session with LockSession and UnlockSession.
class TBRNSessionManager : public TBRNHandleObject {
 public:
  TBRNSessionManager();
  ~TBRNSessionManager() override;

  // Returns whether a login callback handled the prompt (false without one,
  // the arguments then unchanged).
  virtual bool PromptLogin(std::string& userName, std::string& password, bool& proceed);
  // False: the user asked to stop.
  virtual bool DoProgress(int32_t percentDone);
  virtual void DoStatusMessage(const std::string& text);
  virtual void DoLogMessage(const std::string& text);
  virtual void GetUserName(std::string& name) = 0;
  virtual int32_t GetTicks() = 0;
  virtual int32_t GetElapsedTicks(int32_t startTicks, int32_t stopTicks) = 0;
  // 1306 "Error with the store <name> (<message>)".
  [[noreturn]] virtual void RaiseStoreError(const std::string& storeName,
                                            const std::string& message);
  [[noreturn]] virtual void RaiseFileReadError(const std::string& storeName,
                                               const std::string& fileName);
  [[noreturn]] virtual void RaiseFileWriteError(const std::string& storeName,
                                                const std::string& fileName);
  [[noreturn]] virtual void RaiseStreamReadError(const std::string& storeName,
                                                 const std::string& fileName);
  [[noreturn]] virtual void RaiseStreamWriteError(const std::string& storeName,
                                                  const std::string& fileName);
  virtual void LockSession(uint32_t tries, int32_t waitMs) = 0;
  virtual bool TryLockSession(uint32_t tries, int32_t waitMs) = 0;
  virtual void UnlockSession() = 0;
  virtual void OpenSession(const std::string& identity, const std::string& sessionName,
                           const std::string& description);
  virtual void CloseSession();
  virtual void Login(const std::string& userName, const std::string& password) = 0;
  virtual void Logout() = 0;
  virtual void GetCollationName(int32_t collationId, std::string& name) = 0;
  virtual TBRNDatabaseManager* OpenDatabase(const std::string& databaseName, uint8_t lockType) = 0;
  // Closes the database, which frees every object it opened, and drops the
  // session-wide handles of those objects; the objects of other databases
  // keep theirs.
  virtual void CloseDatabase(TBRNDatabaseManager*& database);
  virtual TBRNStoreManager* OpenStore(const std::string& storeName, uint8_t lockType,
                                      bool localOnly) = 0;
  virtual void CloseStore(TBRNStoreManager*& store);
  virtual void BeginProgress();
  virtual bool UpdateProgress(int32_t percentDone);
  virtual bool CheckProgress();
  virtual bool ForceProgress(int32_t percentDone);
  virtual void DropConnection() {}
  virtual void EndProgress();
  virtual void StatusMessage(const std::string& text, bool insideOutermost);
  virtual void LogMessage(const std::string& text);
  // Runs the pause callback with every callback suspended, so that nothing
  // the application does while paused reaches it again.
  virtual void DoScriptPause(int32_t line, const std::exception* error, bool atStatement);
  virtual void DoScriptEnd(int32_t first, int32_t second);
  // Copy a store file into a stream and back in chunks of 64 KB. A user who
  // stops the progress ends the copy after the current chunk without error.
  virtual void SaveStoreFileToStream(const std::string& storeName, const std::string& fileName,
                                     TBRNStream& target);
  virtual void SaveStreamToStoreFile(const std::string& storeName, const std::string& fileName,
                                     TBRNStream& source);

  // Moves the callbacks aside (nothing then reaches the application) and
  // puts them back; pairs nest.
  void SuspendEvents();
  void ResumeEvents();
  int32_t GetElapsedTime() { return Progress->GetElapsedTime(); }
  // Status texts of a store file copy at stage 0, 1 or 2.
  void ReportStoreFileCopy(int32_t stage, const std::string& storeName,
                           const std::string& fileName);

  int32_t GetProgressTimeInterval() const { return Progress->TimeInterval; }
  void SetProgressTimeInterval(int32_t value) { Progress->TimeInterval = value; }
  int32_t GetODBCVersion() const { return ODBCVersion; }
  void SetODBCVersion(int32_t value) { ODBCVersion = value; }

  bool Opened = false;
  TBRNHandleObjects Databases{4096, false};
  TBRNHandleObjects Stores{4096, false};
  // Session-wide handles of the objects the databases' tables own (see
  // TBRNSessionHandleIndex for the rule that keeps them true).
  TBRNSessionHandleIndex Cursors{16384, &TBRNDatabaseManager::Cursors};
  TBRNSessionHandleIndex Statements{8192, &TBRNDatabaseManager::Statements};
  TBRNSessionHandleIndex Procedures{4096, &TBRNDatabaseManager::Procedures};
  TBRNSessionHandleIndex Scripts{8192, &TBRNDatabaseManager::Scripts};
  std::string SessionName;
  std::string SessionDescription;
  std::string Identity;
  bool KeepTablesOpen = false;
  uint8_t RecordLockProtocol = kBRNLockPessimistic;
  int32_t RecordLockRetryCount = 15;
  int32_t RecordLockWaitTime = 100;
  bool RecordChangeDetection = false;
  bool ForceBufferFlush = false;
  int32_t ODBCVersion = 3;
  std::unique_ptr<TBRNSessionProgress> Progress;
  TBRNSessionEvents Events;

 private:
  TBRNSessionEvents SavedEvents;
  int32_t SuspendDepth = 0;
};

}  // namespace brn
