#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "clientserver/mixed/mixed_session_manager.h"
#include "clientserver/server/request_state.h"
#include "sessions/local/config_lock_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

class TBRNServerEngineManager;

// Operation codes of the server's log events.
inline constexpr int32_t kBRNOperationConnectSession = 2;
inline constexpr int32_t kBRNOperationReconnectSession = 5;
inline constexpr int32_t kBRNOperationDisconnectSession = 6;
inline constexpr int32_t kBRNOperationCloseSession = 7;
inline constexpr int32_t kBRNOperationExecuteJob = 94;
inline constexpr int32_t kBRNOperationStartServer = 305;
inline constexpr int32_t kBRNOperationStopServer = 306;
inline constexpr int32_t kBRNOperationCheckDeadSessions = 307;

// What a server session needs of the connection thread that serves it. The
// connection thread implements it.
//
// Threads: GetSessionID, SetSessionID and CloseConnection may be called from
// any thread (a reconnect on another connection takes the session over, a
// lookup drops the connection of a busy session); CloseConnection then only
// shuts the socket so that the thread's own loop ends. The client fields are
// read by the thread that holds the session's lock while the connection
// thread is inside a request of that session (connect or reconnect).
class TBRNServerSessionThread {
 public:
  virtual ~TBRNServerSessionThread() = default;

  virtual int32_t GetSessionID() const = 0;
  virtual void SetSessionID(int32_t sessionId) = 0;
  // Closes the client socket when still connected; errors are ignored.
  virtual void CloseConnection() = 0;
  // Wakes the request that waits for a debugged script of the session to
  // pause or end. Called on the script's thread.
  virtual void WakeDebugger() {}

  // From the connect or reconnect request.
  virtual const std::string& GetPeerAddress() const = 0;
  virtual int64_t GetClientVersion() const = 0;
  virtual int32_t GetClientBuild() const = 0;
  virtual uint32_t GetClientThreadID() const = 0;
  virtual bool GetEncryptionRequested() const = 0;
  virtual const std::string& GetClientIdentity() const = 0;
  virtual const std::string& GetClientSessionName() const = 0;
  virtual const std::string& GetClientSessionDescription() const = 0;
};

// The configuration lock manager of server and system sessions: it takes the
// lowest free slot from 1 upward; with all 4096 held the open fails with 507.
class TBRNServerConfigLockManager : public TBRNConfigLockManager {
 public:
  using TBRNConfigLockManager::TBRNConfigLockManager;
};

// The session of one remote client. It outlives its connection: detached, it
// stays in the engine's session table as a dead session until the client
// reconnects or the engine removes it.
//
// Threads: used under the session lock by whoever holds it (its connection
// thread, a reconnecting thread, the sweep, the thread that stops the engine);
// DropConnection and IsConnected may be called from any thread.
class TBRNServerSessionManager : public TBRNMixedSessionManager {
 public:
  // Registered locked (the connect request unlocks it after its reply).
  explicit TBRNServerSessionManager(TBRNServerEngineManager* engine);
  ~TBRNServerSessionManager() override;

  // seOpen after the open.
  void OpenSession(const std::string& identity, const std::string& sessionName,
                   const std::string& description) override;
  // seClose after the close, also when the close raises.
  void CloseSession() override;
  // seLogin after a successful login.
  void Login(const std::string& userName, const std::string& password) override;
  // seLogout when a user was logged in.
  void Logout() override;
  // Closes the attached connection so that its thread ends and detaches.
  void DropConnection() override;
  // While a debug run of its script runs (not paused) its thread holds the
  // session. Any thread.
  bool HeldByLongRun() const override { return RequestState.ScriptRunning.load(); }
  // A debugged script's pause at a statement and its end wake the request
  // of the attached connection that waits for them, only once the callback
  // has returned and the session's callbacks are back in place: the
  // requests served next may change them. Called on the script's thread.
  void DoScriptPause(int32_t line, const std::exception* error, bool atStatement) override;
  void DoScriptEnd(int32_t first, int32_t second) override;
  // Client version and build for Connect/Disconnect log events, and the
  // client's thread ID, address and encrypted flag for every event.
  void FillLogEvent() override;
  std::unique_ptr<TBRNConfigLockManager> CreateConfigLockManager() override;
  // 1108 for the own ID, 1107 when the engine has no such session.
  void DisconnectSession(int32_t sessionId) override;
  void RemoveSession(int32_t sessionId) override;
  // The own ID resets this session's counters; another session's
  // (administrators only, 502) are reset under that session's lock; 1107
  // when there is no such session. Defined with the session requests.
  void ResetSessionStatistics(int32_t sessionId) override;

  // 1107 "The session ID <id> is no longer present on the server".
  [[noreturn]] virtual void RaiseSessionNotPresent(int32_t sessionId);
  // 1108 "The current session ID <id> cannot be disconnected or removed".
  [[noreturn]] virtual void RaiseCannotDisconnectCurrent(int32_t sessionId);
  // Makes thread the session's connection: nothing when it is already.
  // A connection attached before is taken over: it is closed and no longer
  // carries the session ID (its end then leaves this session alone). Copies
  // the client fields, resumes the event callbacks, logs operation 2 and
  // sends seConnect.
  virtual void AttachThread(TBRNServerSessionThread* thread);
  // Nothing when no thread is attached. Logs operation 6, parks the event
  // callbacks, closes the connection, then seDisconnect. A failed log write
  // is raised after the detach is complete.
  virtual void DetachThread();

  // The application's object for this session (not owned; null at first).
  // Any thread: each session-event handler reads it and leaves its value.
  void* GetUserObject() const;
  void SetUserObject(void* value);

  bool IsConnected() const;
  // Whether thread is the connection attached now.
  bool IsAttachedTo(const TBRNServerSessionThread* thread) const;
  TBRNServerSessionThread* GetConnectionThread() const;

  TBRNServerEngineManager* GetServerEngine() const { return serverEngine_; }

 protected:
  // Refused (a silent abort) once the engine stops: a session still being
  // opened then is closed again at once instead of making the stop wait for
  // its tables.
  void RegisterSystemTables() override;

 public:
  // Milliseconds of the engine clock.
  int64_t CreationTime = 0;
  int64_t LastConnectTime = 0;
  std::string ClientAddress;
  int64_t ClientVersion = 0;
  int32_t ClientBuild = 0;
  bool Encrypted = false;
  // How often the client has opened each database and store handle and not
  // closed it yet. A handle is the client's only while its count is above
  // zero: the session may hold the same database for itself, and a client
  // closing more often than it opened must not close that hold. Used under
  // the session lock.
  std::map<int32_t, int32_t> ClientDatabaseOpens;
  std::map<int32_t, int32_t> ClientStoreOpens;
  // What the request handlers keep between requests (cursors shown to the
  // client, the last reply). Used under the session lock.
  TBRNServerRequestState RequestState;

 private:
  TBRNServerEngineManager* serverEngine_;
  // Guards connectionThread_ against DropConnection from other threads.
  mutable std::mutex threadMutex_;
  TBRNServerSessionThread* connectionThread_ = nullptr;
  // The event callbacks are parked while no connection is attached.
  bool eventsParked_ = false;
  mutable std::mutex userObjectMutex_;
  void* userObject_ = nullptr;
};

// An internal session of the server (log, job manager, one per running job).
// It never logs in; it works as whichever user its owner sets.
//
// Threads: used by its owner's thread only; RequestStop from any thread.
class TBRNServerSystemSessionManager : public TBRNMixedSessionManager {
 public:
  TBRNServerSystemSessionManager(TBRNServerEngineManager* engine, bool registerTables, bool locked);

  std::unique_ptr<TBRNConfigLockManager> CreateConfigLockManager() override;
  // Answers "stop" once RequestStop was called, so that a running job ends.
  bool DoProgress(int32_t percentDone) override;

  // Under the configuration's read lock.
  void BecomeSystemUser();
  void SetCurrentUserByName(const std::string& userName);
  void ClearCurrentUser();
  void RequestStop() { stopRequested_.store(true); }
  bool StopRequested() const { return stopRequested_.load(); }

 private:
  std::atomic<bool> stopRequested_{false};
};

}  // namespace brn
