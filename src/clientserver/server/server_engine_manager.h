#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "foundation/values/param_value.h"
#include "sessions/engine_manager.h"

namespace brn {

class TBRNCommsMemoryStream;
class TBRNServerSocket;
class TBRNServerSessionManager;
class TBRNServerSessionThread;
class TBRNServerSystemSessionManager;
class TBRNServerJobThread;
class TBRNStringsList;
class TBRNThreadTimer;

enum TBRNServerSessionEventType : uint8_t {
  seOpen = 0,
  seConnect = 1,
  seLogin = 2,
  seLogout = 3,
  seDisconnect = 4,
  seClose = 5
};

// A user-defined request (10000): its name and values, read and written back
// by the host's procedure callback.
struct TBRNServerEngineManagerProcedure {
  std::string Name;
  TBRNParamValues Params;
};

using TBRNServerSessionCallback =
    std::function<void(TBRNServerSessionEventType eventType, TBRNServerSessionManager* session)>;
using TBRNServerSessionLoginCallback = std::function<void(
    const std::string& userName, const std::string& userPassword, const std::string& processName,
    int32_t threadId, int64_t releaseNumber, int32_t buildNumber, bool& allowLogin)>;
using TBRNServerProcedureCallback =
    std::function<void(TBRNServerEngineManagerProcedure& procedure)>;

// The engine of a database server: the engine plus the listener, the server
// settings, the "LogManager" and "JobManager" system sessions, the
// dead-session sweep and the job scheduler.
//
// Threads: the settings below and the callbacks are set before Start and not
// changed while started. CreateServerSession, ReconnectServerSession,
// DisconnectServerSession, RemoveServerSession, IsAddressAllowed, GetUpTime,
// GetConnectedSessionCount, LogServerEvent, Now, the Do* callbacks, the job
// switches, SweepDeadSessions and ScheduleJobs may be called from several
// threads at once (connection threads, timer threads, the host's thread).
class TBRNServerEngineManager : public TBRNEngineManager {
 public:
  TBRNServerEngineManager();
  // Stops the engine first.
  ~TBRNServerEngineManager() override;

  // Log session, listener (505 when it cannot start), sweep timer, job
  // session, job timer. A start with the public default encryption password
  // logs a Warning.
  void DoStart() override;
  // Job timer off; running jobs are told to stop (through their session's
  // progress check) and joined; sweep off; listener closed (every
  // connection thread joined); job and log sessions freed; every session
  // freed. Every step runs; the first failure is raised at the end.
  void DoStop() override;
  // Under the job session's lock (506 when it cannot be had in time).
  void EnableJob(const std::string& name) override;
  void EnableAllJobs() override;
  void DisableJob(const std::string& name) override;
  void DisableAllJobs() override;
  bool IsJobEnabled(const std::string& name) override;

  virtual void DoServerSessionEvent(TBRNServerSessionEventType eventType,
                                    TBRNServerSessionManager* session);
  virtual void DoServerSessionLogin(const std::string& userName, const std::string& userPassword,
                                    const std::string& processName, int32_t threadId,
                                    int64_t releaseNumber, int32_t buildNumber, bool& allowLogin);
  virtual void DoServerProcedure(TBRNServerEngineManagerProcedure& procedure);

  // Creates, opens and attaches the session of a connect request whose first
  // eight fields the caller has read (request positioned at field 9). The
  // session is returned locked; on failure it is freed and the error passes.
  TBRNServerSessionManager* CreateServerSession(TBRNCommsMemoryStream& request,
                                                TBRNServerSessionThread* thread);
  // Takes a dead (or busy, then dropped) session over for thread: it must
  // match the thread's identity, session name, client thread ID and peer
  // address. Logs the takeover. false when no such session.
  bool ReconnectServerSession(TBRNServerSessionThread* thread, int32_t sessionId);
  // At the end of a connection: detaches the session when it is still
  // attached to thread (any thread when thread is null), then frees it
  // when nobody logged in. Never raises (errors are logged, operation 6).
  bool DisconnectServerSession(int32_t sessionId, TBRNServerSessionThread* thread = nullptr);
  // Logout, detach, close and free. Never raises (errors logged, operation 7).
  bool RemoveServerSession(int32_t sessionId);
  // At least one authorized pattern matches and no blocked one ("*" any run
  // of characters, case-insensitive); an empty authorized list allows nothing.
  bool IsAddressAllowed(const std::string& address) const;
  // Seconds since the listener started; -1 while not listening.
  int64_t GetUpTime();
  int32_t GetConnectedSessionCount();
  // The port the listener is bound to (the real one when ServerPort is 0);
  // 0 while not listening.
  uint16_t GetListeningPort();
  // One pass of the dead-session sweep (the sweep timer calls it).
  void SweepDeadSessions();
  // One pass of the job scheduler (the job timer calls it).
  void ScheduleJobs();
  // Writes an event through the "LogManager" session; nothing while there is
  // none. Never raises.
  void LogServerEvent(int32_t category, int32_t operation, int32_t errorCode,
                      const std::string& message);
  // Milliseconds of the injected clock (Clock), else of the system clock.
  int64_t Now() const;
  // From the start of DoStop to its end: no new connection is served, no
  // new session is created, and a session still being opened is closed
  // again before its tables are registered, so that Stop waits only for
  // work already under way. Any thread.
  bool IsStopping() const { return stopping_.load(std::memory_order_acquire); }

  std::string ServerName = "BRNSrvr";
  std::string ServerDescription = "Brindle Server";
  std::string ServerAddress;
  int32_t ServerPort = 12010;
  int32_t ServerThreadCacheSize = 10;
  int32_t ServerSessionTimeout = 180;
  int32_t ServerDeadSessionInterval = 30;
  int32_t ServerDeadSessionExpiration = 300;
  int32_t ServerMaxDeadSessions = 64;
  std::unique_ptr<TBRNStringsList> ServerAuthorizedAddresses;
  std::unique_ptr<TBRNStringsList> ServerBlockedAddresses;
  bool ServerEncryptedOnly = false;
  std::string ServerJobCategory;
  // Off: the scheduler starts nothing.
  bool ServerRunJobs = true;
  // Transport cap of a message before and after login.
  int32_t ServerMaxLoginMessageSize = 64 * 1024;
  int32_t ServerMaxMessageSize = 256 * 1024 * 1024;
  // Seconds a new connection has to send a complete Connect or Reconnect.
  int32_t ServerConnectTimeout = 10;
  // Milliseconds between scheduler passes; 0 stops the timer (tests call
  // ScheduleJobs themselves).
  int32_t JobTimerInterval = 60000;
  // Whether the sweep timer runs (tests call SweepDeadSessions themselves).
  bool SweepTimerEnabled = true;
  // Milliseconds since the epoch; unset: the system clock.
  std::function<int64_t()> Clock;

  TBRNServerSessionCallback OnServerSessionEvent;
  TBRNServerSessionLoginCallback OnServerSessionLogin;
  TBRNServerProcedureCallback OnServerProcedure;

  TBRNServerSystemSessionManager* GetLogSession() const { return logSession_.get(); }
  TBRNServerSystemSessionManager* GetJobSession() const { return jobSession_.get(); }

 private:
  friend class TBRNServerJobThread;

  // The job's key in the running and unpreparable sets.
  static std::string jobKey(const std::string& name);
  void jobEnded(const std::string& name, bool unpreparable);
  // Runs work on the job session under its lock (506 when it stays busy);
  // nothing when the engine is not started.
  template <typename TWork>
  void withJobSession(TWork work);
  std::unique_ptr<TBRNServerSystemSessionManager> openSystemSession(const std::string& name,
                                                                    const std::string& description);
  void startListener();
  void stopListener();
  void stopJobs();
  void reapJobThreads(bool all);
  // Logout and close (errors logged, operation 7), then frees the session,
  // which the caller holds locked.
  void freeServerSession(TBRNServerSessionManager* session, bool detach);

  std::atomic<bool> stopping_{false};
  std::unique_ptr<TBRNServerSocket> listener_;
  std::atomic<int64_t> listenerStartTime_{0};
  std::atomic<bool> listening_{false};
  std::unique_ptr<TBRNThreadTimer> sweepTimer_;
  std::unique_ptr<TBRNThreadTimer> jobTimer_;
  std::unique_ptr<TBRNServerSystemSessionManager> logSession_;
  std::mutex logMutex_;
  // Guards jobSession_ (the pointer): the scheduler and the job switches
  // hold it briefly; Stop takes it only to free the session, never while it
  // waits for job threads.
  std::mutex jobSessionMutex_;
  std::unique_ptr<TBRNServerSystemSessionManager> jobSession_;
  // Job threads, joined by the scheduler once finished and all at stop, and
  // the jobs' marks by upper-case name; under jobThreadsMutex_.
  std::mutex jobThreadsMutex_;
  std::vector<std::unique_ptr<TBRNServerJobThread>> jobThreads_;
  std::set<std::string> runningJobs_;
  std::set<std::string> unpreparableJobs_;
  std::mutex sweepMutex_;
};

}  // namespace brn
