#include "clientserver/server/server_engine_manager.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <utility>

#include "clientserver/server/connection_thread.h"
#include "clientserver/server/request_dispatch.h"
#include "clientserver/server/server_session.h"
#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/socket_owner.h"
#include "execution/engine_execution.h"
#include "foundation/locks/log_manager.h"
#include "foundation/runtime/thread.h"
#include "foundation/runtime/thread_timer.h"
#include "foundation/text/collation.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "metadata/config/config.h"
#include "metadata/config/jobs.h"
#include "metadata/config/users_roles.h"
#include "sessions/local/config_manager.h"
#include "sessions/local/session_snapshots.h"

namespace brn {

namespace {

constexpr uint32_t kConnectionTries = 3000;
// A reconnect waits this long (tries of kLockWaitMs, as long as a client
// waits for its own session) for a session whose debugged script runs:
// the run keeps the session until it pauses or ends, which may take any
// time, and the client is better told at once that the session is busy.
constexpr uint32_t kReconnectLongRunTries = 19;
constexpr uint32_t kSweepTries = 100;
constexpr int32_t kLockWaitMs = 10;
// The job switches and the scheduler give up on a busy job session after
// this many tries of kLockWaitMs (506) instead of waiting without limit.
constexpr uint32_t kJobSessionTries = 500;
constexpr uint8_t kBelowNormalPriority = 2;

std::string processIdentity(TBRNEngineManager& engine) {
  return engine.Environment->GetComputerName() + ":" +
         IntegerToString(int32_t(engine.Environment->GetProcessId()));
}

void errorDetails(const std::exception& error, int32_t& code, std::string& message) {
  if (const auto* engineError = dynamic_cast<const EBRNException*>(&error)) {
    code = engineError->ErrorCode;
    message = engineError->ErrorMessage;
  } else {
    code = kBRNUnknownErrorCode;
    message = error.what();
  }
}

std::string trimTrailingBlanks(const std::string& text) {
  return TrimTrailingChar(text, ' ');
}

}  // namespace

// The thread that runs one job in a system session of its own. Owned by the
// engine, which joins it once it has finished (or at stop, after asking it
// to stop through its session's progress check).
//
// Threads: RequestStop may be called from any thread; the rest runs on the
// job thread.
class TBRNServerJobThread : public TBRNThread {
 public:
  TBRNServerJobThread(TBRNServerEngineManager* engine, std::string jobName,
                      std::string description)
      : engine_(engine), jobName_(std::move(jobName)), description_(std::move(description)) {}
  ~TBRNServerJobThread() override { TerminateAndWait(); }

  void RequestStop() {
    std::lock_guard<std::mutex> guard(sessionMutex_);
    stopRequested_ = true;
    if (session_ != nullptr) session_->RequestStop();
  }

 protected:
  void Execute() override {
    bool unpreparable = false;
    try {
      auto session = std::make_unique<TBRNServerSystemSessionManager>(engine_, true, false);
      {
        std::lock_guard<std::mutex> guard(sessionMutex_);
        session_ = session.get();
        if (stopRequested_) session->RequestStop();
      }
      struct ForgetSession {
        TBRNServerJobThread& Thread;
        ~ForgetSession() {
          std::lock_guard<std::mutex> guard(Thread.sessionMutex_);
          Thread.session_ = nullptr;
        }
      } forget{*this};
      session->OpenSession(processIdentity(*engine_), jobName_, description_);
      TBRNUser* user = nullptr;
      {
        session->ConfigManager->BeginRead();
        struct EndRead {
          TBRNConfigManager& Manager;
          ~EndRead() { Manager.EndRead(); }
        } endRead{*session->ConfigManager};
        auto* job = static_cast<TBRNJob*>(session->Config->Jobs->FindByName(jobName_, false));
        if (job != nullptr) user = job->GetRunAsUser();
      }
      if (user == nullptr) {
        unpreparable = true;
      } else {
        session->SetCurrentUser(user);
        TBRNJob* prepared = session->PrepareJob(jobName_);
        if (prepared != nullptr) {
          session->ExecuteJob(prepared);
        } else {
          unpreparable = true;
        }
      }
      session->ClearCurrentUser();
      session->CloseSession();
    } catch (const std::exception& error) {
      int32_t code = 0;
      std::string message;
      errorDetails(error, code, message);
      engine_->LogServerEvent(lcError, kBRNOperationExecuteJob, code, message);
    } catch (...) {
      engine_->LogServerEvent(lcError, kBRNOperationExecuteJob, kBRNUnknownErrorCode,
                              "Unknown error");
    }
    engine_->jobEnded(jobName_, unpreparable);
  }

 private:
  TBRNServerEngineManager* engine_;
  std::string jobName_;
  std::string description_;
  std::mutex sessionMutex_;
  TBRNServerSystemSessionManager* session_ = nullptr;
  bool stopRequested_ = false;
};

// ---- Construction, start and stop

TBRNServerEngineManager::TBRNServerEngineManager()
    : ServerAuthorizedAddresses(std::make_unique<TBRNStringsList>()),
      ServerBlockedAddresses(std::make_unique<TBRNStringsList>()) {
  // Sessions of a server run statements, jobs and triggers.
  InstallExecution();
}

TBRNServerEngineManager::~TBRNServerEngineManager() {
  try {
    Stop();
  } catch (...) {
    // A destructor reports nothing; the stop failure was logged.
  }
}

int64_t TBRNServerEngineManager::Now() const {
  if (Clock) return Clock();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::unique_ptr<TBRNServerSystemSessionManager> TBRNServerEngineManager::openSystemSession(
    const std::string& name, const std::string& description) {
  auto session = std::make_unique<TBRNServerSystemSessionManager>(this, false, false);
  session->OpenSession(processIdentity(*this), name, description);
  session->BecomeSystemUser();
  return session;
}

void TBRNServerEngineManager::DoStart() {
  {
    auto session = openSystemSession("LogManager", "Log Manager Session");
    std::lock_guard<std::mutex> guard(logMutex_);
    logSession_ = std::move(session);
  }
  if (Settings->GetEncryptionPassword() == kBRNDefaultEncryptionPassword) {
    LogServerEvent(lcWarning, kBRNOperationStartServer, 0,
                   "The server uses the public default encryption password");
  }
  startListener();
  sweepTimer_ = std::make_unique<TBRNThreadTimer>();
  sweepTimer_->SetOnTimer([this](TBRNThreadTimer*) {
    try {
      SweepDeadSessions();
    } catch (const std::exception& error) {
      int32_t code = 0;
      std::string message;
      errorDetails(error, code, message);
      LogServerEvent(lcError, kBRNOperationCheckDeadSessions, code, message);
    }
  });
  sweepTimer_->SetInterval(ServerDeadSessionInterval * 1000);
  sweepTimer_->SetEnabled(SweepTimerEnabled);
  {
    auto session = openSystemSession("JobManager", "Job Manager Session");
    std::lock_guard<std::mutex> guard(jobSessionMutex_);
    jobSession_ = std::move(session);
  }
  jobTimer_ = std::make_unique<TBRNThreadTimer>();
  jobTimer_->SetOnTimer([this](TBRNThreadTimer*) {
    try {
      ScheduleJobs();
    } catch (const std::exception& error) {
      int32_t code = 0;
      std::string message;
      errorDetails(error, code, message);
      LogServerEvent(lcError, kBRNOperationExecuteJob, code, message);
    }
  });
  jobTimer_->SetInterval(JobTimerInterval);
  jobTimer_->SetEnabled(JobTimerInterval > 0);
}

void TBRNServerEngineManager::startListener() {
  if (listening_.load()) return;
  try {
    listener_ = std::make_unique<TBRNServerSocket>();
    listener_->SetAddress(ServerAddress);
    listener_->SetPort(uint16_t(ServerPort));
    listener_->SetThreadCacheSize(ServerThreadCacheSize);
    // A connection gets its thread once its first message is in; one that
    // stays silent costs the server no thread and is closed when the connect
    // time is over, as a thread would close it.
    if (ServerConnectTimeout > 0) {
      listener_->GetWrapper().SetConnectionHold(
          int32_t(std::min<int64_t>(int64_t(ServerConnectTimeout) * 1000, INT32_MAX)),
          [maxSize = ServerMaxLoginMessageSize](TBRNServerClientSocketWrapper& connection) {
            return IsFirstMessageQueued(connection, maxSize);
          });
    }
    listener_->SetGetThreadCallback(
        [this](TBRNServerSocketWrapper*, std::unique_ptr<TBRNServerClientSocketWrapper>& connection,
               TBRNServerClientThread*& thread) {
          auto* created = new TBRNServerThread(this, std::move(connection));
          created->SetPriority(kBelowNormalPriority);
          thread = created;
        });
    listener_->Open();
    listenerStartTime_.store(Now());
    listening_.store(true);
    LogServerEvent(lcInformation, kBRNOperationStartServer, 0, std::string());
  } catch (const std::exception& error) {
    int32_t code = 0;
    std::string cause;
    errorDetails(error, code, cause);
    std::string message =
        FormatText("The %s %s cannot be started (%s)", {"Brindle", "server", cause});
    LogServerEvent(lcError, kBRNOperationStartServer, 505, message);
    throw EBRNException(505, message);
  }
}

void TBRNServerEngineManager::stopListener() {
  if (listener_ == nullptr) return;
  try {
    listening_.store(false);
    // Every connection thread is told to end at once, so the listener's
    // close joins threads that are already leaving instead of one by one.
    StopServerThreads(this);
    listener_->Close();
    listener_.reset();
    LogServerEvent(lcInformation, kBRNOperationStopServer, 0, std::string());
  } catch (const std::exception& error) {
    listener_.reset();
    int32_t code = 0;
    std::string cause;
    errorDetails(error, code, cause);
    std::string message =
        FormatText("The %s %s cannot be stopped (%s)", {"Brindle", "server", cause});
    LogServerEvent(lcError, kBRNOperationStopServer, 505, message);
    throw EBRNException(505, message);
  }
}

void TBRNServerEngineManager::DoStop() {
  stopping_.store(true, std::memory_order_release);
  struct StoppingEnds {
    std::atomic<bool>& Flag;
    ~StoppingEnds() { Flag.store(false, std::memory_order_release); }
  } stoppingEnds{stopping_};
  // Every step runs; the first failure is raised at the end.
  std::exception_ptr failure;
  if (jobTimer_ != nullptr) jobTimer_->SetEnabled(false);
  stopJobs();
  if (sweepTimer_ != nullptr) sweepTimer_->SetEnabled(false);
  try {
    stopListener();
  } catch (...) {
    failure = std::current_exception();
  }
  // The system sessions go once no connection works any more: their close
  // then competes with nobody for the configuration's locks, and no job
  // switch of a connection can reach a freed job session.
  std::unique_ptr<TBRNServerSystemSessionManager> jobSession;
  {
    std::lock_guard<std::mutex> guard(jobSessionMutex_);
    jobSession = std::move(jobSession_);
  }
  // A scheduler pass that ran meanwhile on another thread may have started
  // jobs; none can start now.
  stopJobs();
  sweepTimer_.reset();
  jobTimer_.reset();
  std::unique_ptr<TBRNServerSystemSessionManager> logSession;
  {
    std::lock_guard<std::mutex> guard(logMutex_);
    logSession = std::move(logSession_);
  }
  for (auto* session : {jobSession.get(), logSession.get()}) {
    if (session == nullptr) continue;
    try {
      session->ClearCurrentUser();
      session->CloseSession();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  jobSession.reset();
  logSession.reset();
  TBRNEngineManager::DoStop();
  if (failure) std::rethrow_exception(failure);
}

// ---- Callbacks and logging

void TBRNServerEngineManager::DoServerSessionEvent(TBRNServerSessionEventType eventType,
                                                   TBRNServerSessionManager* session) {
  if (OnServerSessionEvent) OnServerSessionEvent(eventType, session);
}

void TBRNServerEngineManager::DoServerSessionLogin(const std::string& userName,
                                                   const std::string& userPassword,
                                                   const std::string& processName,
                                                   int32_t threadId, int64_t releaseNumber,
                                                   int32_t buildNumber, bool& allowLogin) {
  if (OnServerSessionLogin) {
    OnServerSessionLogin(userName, userPassword, processName, threadId, releaseNumber,
                         buildNumber, allowLogin);
  }
}

void TBRNServerEngineManager::DoServerProcedure(TBRNServerEngineManagerProcedure& procedure) {
  if (OnServerProcedure) OnServerProcedure(procedure);
}

void TBRNServerEngineManager::LogServerEvent(int32_t category, int32_t operation,
                                             int32_t errorCode, const std::string& message) {
  std::lock_guard<std::mutex> guard(logMutex_);
  if (logSession_ == nullptr) return;
  try {
    logSession_->WriteLogEvent(category, operation, errorCode, message);
  } catch (...) {
    // The log is the last resort: a failed write has nowhere to go.
  }
}

// ---- Server sessions

TBRNServerSessionManager* TBRNServerEngineManager::CreateServerSession(
    TBRNCommsMemoryStream& request, TBRNServerSessionThread* thread) {
  // A stopping engine takes no new sessions.
  if (IsStopping()) RaiseAbortException("The server is stopping");
  auto session = std::make_unique<TBRNServerSessionManager>(this);
  try {
    // Fields 9 to 15 (16 bytes), then the ODBC version from client 2.01.
    bool withOdbc = thread->GetClientVersion() >= 20100;
    int64_t needed = 16 + (withOdbc ? 4 : 0);
    if (request.GetSize() - request.GetPosition() < needed) throw EBRNInvalidRequest();
    session->KeepTablesOpen = request.ReadBoolean();
    uint8_t protocol = request.ReadByte();
    if (protocol > kBRNLockOptimistic) throw EBRNInvalidRequest();
    session->RecordLockProtocol = protocol;
    session->RecordLockRetryCount = request.ReadInteger();
    session->RecordLockWaitTime = request.ReadInteger();
    session->RecordChangeDetection = request.ReadBoolean();
    session->ForceBufferFlush = request.ReadBoolean();
    session->SetProgressTimeInterval(int32_t(request.ReadCardinal() & 0x7FFFFFFF));
    if (withOdbc) session->SetODBCVersion(request.ReadInteger());
    // Known before the open, so that the open's event names the client.
    session->ClientAddress = thread->GetPeerAddress();
    session->OpenSession(thread->GetClientIdentity(), thread->GetClientSessionName(),
                         thread->GetClientSessionDescription());
    session->AttachThread(thread);
  } catch (...) {
    if (session->GetConnectionThread() == thread) thread->SetSessionID(0);
    session->UnlockOnFree = true;
    throw;
  }
  return session.release();
}

bool TBRNServerEngineManager::ReconnectServerSession(TBRNServerSessionThread* thread,
                                                     int32_t sessionId) {
  if (sessionId == 0) return false;
  TBRNEngineSessionManager* found = nullptr;
  if (!FindSession(sessionId, found, true, kConnectionTries, kLockWaitMs, true,
                   thread->GetClientSessionName(), thread->GetClientIdentity(),
                   thread->GetClientThreadID(), kReconnectLongRunTries)) {
    return false;
  }
  if (!found->IsServerSession()) {
    UnlockSessionEntry(found);
    return false;
  }
  auto* session = static_cast<TBRNServerSessionManager*>(found);
  // The identity fields come from the client; the address does not.
  if (session->ClientAddress != thread->GetPeerAddress()) {
    UnlockSessionEntry(session);
    LogServerEvent(lcError, kBRNOperationReconnectSession, 1107,
                   FormatText("The session ID %s of the address %s cannot be taken over from %s",
                              {IntegerToString(sessionId), session->ClientAddress,
                               thread->GetPeerAddress()}));
    return false;
  }
  try {
    session->WriteLogEvent(
        lcInformation, kBRNOperationReconnectSession, 0,
        FormatText("The session ID %s is taken over by a connection from %s",
                   {IntegerToString(sessionId), thread->GetPeerAddress()}));
    session->AttachThread(thread);
  } catch (...) {
    UnlockSessionEntry(session);
    throw;
  }
  UnlockSessionEntry(session);
  return true;
}

void TBRNServerEngineManager::freeServerSession(TBRNServerSessionManager* session, bool detach) {
  try {
    session->Logout();
  } catch (const std::exception& error) {
    int32_t code = 0;
    std::string message;
    errorDetails(error, code, message);
    LogServerEvent(lcError, kBRNOperationCloseSession, code, message);
  }
  try {
    if (detach) session->DetachThread();
    session->CloseSession();
  } catch (const std::exception& error) {
    int32_t code = 0;
    std::string message;
    errorDetails(error, code, message);
    LogServerEvent(lcError, kBRNOperationCloseSession, code, message);
  }
  session->UnlockOnFree = true;
  delete session;
}

bool TBRNServerEngineManager::DisconnectServerSession(int32_t sessionId,
                                                      TBRNServerSessionThread* thread) {
  if (sessionId == 0) return false;
  TBRNEngineSessionManager* found = nullptr;
  try {
    // The connection's own end never drops a busy session's connection: by
    // then that may be the connection that took the session over.
    if (!FindSession(sessionId, found, true, kConnectionTries, kLockWaitMs, thread == nullptr))
      return false;
  } catch (const std::exception& error) {
    int32_t code = 0;
    std::string message;
    errorDetails(error, code, message);
    LogServerEvent(lcError, kBRNOperationDisconnectSession, code, message);
    return false;
  }
  if (!found->IsServerSession()) {
    UnlockSessionEntry(found);
    return false;
  }
  auto* session = static_cast<TBRNServerSessionManager*>(found);
  if (thread != nullptr && !session->IsAttachedTo(thread)) {
    UnlockSessionEntry(session);
    return true;
  }
  try {
    session->DetachThread();
    // While the engine stops, a session kept here as dead would only be
    // freed by the stopping thread after every connection has ended, one
    // session after another; freed now, the connection threads share that
    // work and Stop does not wait for it twice.
    if (!session->IsLoggedIn() || IsStopping()) {
      session->CloseSession();
      session->UnlockOnFree = true;
      delete session;
      return true;
    }
  } catch (const std::exception& error) {
    int32_t code = 0;
    std::string message;
    errorDetails(error, code, message);
    LogServerEvent(lcError, kBRNOperationDisconnectSession, code, message);
    if (!session->IsLoggedIn() || !session->Opened) {
      session->UnlockOnFree = true;
      delete session;
      return true;
    }
  }
  UnlockSessionEntry(session);
  return true;
}

bool TBRNServerEngineManager::RemoveServerSession(int32_t sessionId) {
  if (sessionId == 0) return false;
  TBRNEngineSessionManager* found = nullptr;
  try {
    if (!FindSession(sessionId, found, true, kConnectionTries, kLockWaitMs, true)) return false;
  } catch (const std::exception& error) {
    int32_t code = 0;
    std::string message;
    errorDetails(error, code, message);
    LogServerEvent(lcError, kBRNOperationCloseSession, code, message);
    return false;
  }
  if (!found->IsServerSession()) {
    UnlockSessionEntry(found);
    return false;
  }
  freeServerSession(static_cast<TBRNServerSessionManager*>(found), true);
  return true;
}

bool TBRNServerEngineManager::IsAddressAllowed(const std::string& address) const {
  return ::brn::IsAddressAllowed(*ServerAuthorizedAddresses, *ServerBlockedAddresses, address);
}

int64_t TBRNServerEngineManager::GetUpTime() {
  if (!listening_.load()) return -1;
  return (Now() - listenerStartTime_.load()) / 1000;
}

uint16_t TBRNServerEngineManager::GetListeningPort() {
  if (!listening_.load() || listener_ == nullptr) return 0;
  return ntohs(listener_->GetWrapper().GetLocalAddress().Port);
}

int32_t TBRNServerEngineManager::GetConnectedSessionCount() {
  // Only the sessions' published info is read: a session found here may be
  // freed by its own thread at any moment.
  int32_t count = 0;
  int32_t position = 0;
  TBRNEngineSessionManager* session = nullptr;
  while (NextServerSession(position, session, 0, false, 1, 0)) {
    auto info = FindSessionInfo(session);
    if (info != nullptr && info->Get().Connected) ++count;
  }
  return count;
}

// ---- Dead-session sweep

void TBRNServerEngineManager::SweepDeadSessions() {
  std::unique_lock<std::mutex> sweeping(sweepMutex_, std::try_to_lock);
  if (!sweeping.owns_lock()) return;
  bool removed = true;
  while (removed) {
    removed = false;
    int32_t position = 0;
    int32_t deadCount = 0;
    for (;;) {
      TBRNEngineSessionManager* found = nullptr;
      try {
        if (!NextServerSession(position, found, 0, true, kSweepTries, kLockWaitMs)) break;
      } catch (const std::exception&) {
        // A session stayed busy: the next tick tries again.
        return;
      }
      if (!found->IsServerSession()) continue;
      auto* session = static_cast<TBRNServerSessionManager*>(found);
      bool remove = false;
      try {
        if (!session->IsConnected()) {
          ++deadCount;
          int64_t idleSeconds = (Now() - session->LastConnectTime) / 1000;
          remove = deadCount > ServerMaxDeadSessions ||
                   (ServerDeadSessionExpiration > 0 && idleSeconds > ServerDeadSessionExpiration);
        }
      } catch (const std::exception& error) {
        int32_t code = 0;
        std::string message;
        errorDetails(error, code, message);
        LogServerEvent(lcError, kBRNOperationCheckDeadSessions, code, message);
      }
      if (remove) {
        freeServerSession(session, false);
        removed = true;
        break;
      }
      UnlockSessionEntry(session);
    }
  }
}

// ---- Jobs

std::string TBRNServerEngineManager::jobKey(const std::string& name) {
  return UpperCaseText(trimTrailingBlanks(name));
}

void TBRNServerEngineManager::jobEnded(const std::string& name, bool unpreparable) {
  std::lock_guard<std::mutex> guard(jobThreadsMutex_);
  runningJobs_.erase(jobKey(name));
  if (unpreparable) unpreparableJobs_.insert(jobKey(name));
}

void TBRNServerEngineManager::reapJobThreads(bool all) {
  std::vector<std::unique_ptr<TBRNServerJobThread>> ended;
  {
    std::lock_guard<std::mutex> guard(jobThreadsMutex_);
    for (auto it = jobThreads_.begin(); it != jobThreads_.end();) {
      if (all || (*it)->Finished.load()) {
        ended.push_back(std::move(*it));
        it = jobThreads_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& thread : ended) thread->WaitFor();
}

void TBRNServerEngineManager::stopJobs() {
  {
    std::lock_guard<std::mutex> guard(jobThreadsMutex_);
    for (auto& thread : jobThreads_) thread->RequestStop();
  }
  reapJobThreads(true);
}

template <typename TWork>
void TBRNServerEngineManager::withJobSession(TWork work) {
  std::lock_guard<std::mutex> guard(jobSessionMutex_);
  if (jobSession_ == nullptr) return;
  LockSessionEntry(jobSession_.get(), kJobSessionTries, kLockWaitMs);
  struct Unlock {
    TBRNServerEngineManager& Engine;
    TBRNServerSystemSessionManager* Session;
    ~Unlock() { Engine.UnlockSessionEntry(Session); }
  } unlock{*this, jobSession_.get()};
  work(*jobSession_);
}

void TBRNServerEngineManager::EnableJob(const std::string& name) {
  withJobSession([&](TBRNServerSystemSessionManager& session) { session.EnableJobByName(name); });
}

void TBRNServerEngineManager::EnableAllJobs() {
  withJobSession([](TBRNServerSystemSessionManager& session) { session.EnableAllJobsInSession(); });
}

void TBRNServerEngineManager::DisableJob(const std::string& name) {
  withJobSession([&](TBRNServerSystemSessionManager& session) { session.DisableJobByName(name); });
}

void TBRNServerEngineManager::DisableAllJobs() {
  withJobSession(
      [](TBRNServerSystemSessionManager& session) { session.DisableAllJobsInSession(); });
}

bool TBRNServerEngineManager::IsJobEnabled(const std::string& name) {
  bool enabled = false;
  withJobSession([&](TBRNServerSystemSessionManager& session) {
    enabled = session.IsJobEnabledByName(name);
  });
  return enabled;
}

void TBRNServerEngineManager::ScheduleJobs() {
  reapJobThreads(false);
  if (!ServerRunJobs) return;
  withJobSession([&](TBRNServerSystemSessionManager& session) {
    session.ConfigManager->BeginRead();
    struct EndRead {
      TBRNConfigManager& Manager;
      ~EndRead() { Manager.EndRead(); }
    } endRead{*session.ConfigManager};
    TBRNJobs& jobs = *session.Config->Jobs;
    std::string category = trimTrailingBlanks(ServerJobCategory);
    for (int32_t index = 0; index < jobs.Count(); ++index) {
      TBRNJob* job = jobs.GetJob(index);
      if (!job->Enabled) continue;
      if (!category.empty() && !TextEqualsIgnoreCase(trimTrailingBlanks(job->Category), category))
        continue;
      std::string key = jobKey(job->Name);
      {
        std::lock_guard<std::mutex> guard(jobThreadsMutex_);
        if (runningJobs_.count(key) != 0 || unpreparableJobs_.count(key) != 0) continue;
      }
      if (!IsJobDue(job)) continue;
      auto thread = std::make_unique<TBRNServerJobThread>(this, job->Name, job->Description);
      thread->SetPriority(kBelowNormalPriority);
      TBRNServerJobThread* started = thread.get();
      {
        std::lock_guard<std::mutex> guard(jobThreadsMutex_);
        runningJobs_.insert(key);
        jobThreads_.push_back(std::move(thread));
      }
      started->Resume();
    }
  });
}

}  // namespace brn
