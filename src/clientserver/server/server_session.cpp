#include "clientserver/server/server_session.h"

#include <exception>
#include <utility>

#include "clientserver/server/server_engine_manager.h"
#include "foundation/locks/log_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/config/config.h"
#include "metadata/config/users_roles.h"
#include "sessions/local/config_manager.h"
#include "sessions/local/session_snapshots.h"

namespace brn {

namespace {

// The configuration's read lock for the lifetime of the object.
class TConfigReadScope {
 public:
  explicit TConfigReadScope(TBRNConfigManager& manager) : manager_(manager) { manager_.BeginRead(); }
  ~TConfigReadScope() { manager_.EndRead(); }
  TConfigReadScope(const TConfigReadScope&) = delete;
  TConfigReadScope& operator=(const TConfigReadScope&) = delete;

 private:
  TBRNConfigManager& manager_;
};

}  // namespace

// ---- Server session

TBRNServerSessionManager::TBRNServerSessionManager(TBRNServerEngineManager* engine)
    : TBRNMixedSessionManager(engine, true, true, true), serverEngine_(engine) {
  CreationTime = engine->Now();
  LastConnectTime = CreationTime;
  SessionInfo->Update([&](TBRNSessionInfo& info) {
    info.Created = CreationTime;
    info.LastConnected = LastConnectTime;
  });
}

TBRNServerSessionManager::~TBRNServerSessionManager() {
  // Leave the table first: a lookup may call DropConnection from another
  // thread until then.
  UnregisterFromEngine();
  {
    std::lock_guard<std::mutex> guard(threadMutex_);
    connectionThread_ = nullptr;
  }
  // A session freed while still open (the engine's stop frees every one)
  // closes here, not in the base destructor, so that the host hears seClose
  // for it as for any other session that goes.
  try {
    CloseSession();
  } catch (...) {
    // A destructor cannot report; the base destructor finishes the close.
  }
}

void TBRNServerSessionManager::OpenSession(const std::string& identity,
                                           const std::string& sessionName,
                                           const std::string& description) {
  if (Opened) return;
  TBRNLocalSessionManager::OpenSession(identity, sessionName, description);
  serverEngine_->DoServerSessionEvent(seOpen, this);
}

void TBRNServerSessionManager::RegisterSystemTables() {
  if (serverEngine_->IsStopping()) RaiseAbortException("The server is stopping");
  TBRNLocalSessionManager::RegisterSystemTables();
}

void TBRNServerSessionManager::CloseSession() {
  if (!Opened) return;
  try {
    TBRNLocalSessionManager::CloseSession();
  } catch (...) {
    serverEngine_->DoServerSessionEvent(seClose, this);
    throw;
  }
  serverEngine_->DoServerSessionEvent(seClose, this);
}

void TBRNServerSessionManager::Login(const std::string& userName, const std::string& password) {
  TBRNLocalSessionManager::Login(userName, password);
  serverEngine_->DoServerSessionEvent(seLogin, this);
}

void TBRNServerSessionManager::Logout() {
  if (!IsLoggedIn()) return;
  TBRNLocalSessionManager::Logout();
  serverEngine_->DoServerSessionEvent(seLogout, this);
}

void TBRNServerSessionManager::DropConnection() {
  std::lock_guard<std::mutex> guard(threadMutex_);
  if (connectionThread_ != nullptr) connectionThread_->CloseConnection();
}

void TBRNServerSessionManager::DoScriptPause(int32_t line, const std::exception* error,
                                             bool atStatement) {
  TBRNLocalSessionManager::DoScriptPause(line, error, atStatement);
  if (!atStatement) return;
  std::lock_guard<std::mutex> guard(threadMutex_);
  if (connectionThread_ != nullptr) connectionThread_->WakeDebugger();
}

void TBRNServerSessionManager::DoScriptEnd(int32_t first, int32_t second) {
  TBRNLocalSessionManager::DoScriptEnd(first, second);
  std::lock_guard<std::mutex> guard(threadMutex_);
  if (connectionThread_ != nullptr) connectionThread_->WakeDebugger();
}

void TBRNServerSessionManager::FillLogEvent() {
  TBRNLocalSessionManager::FillLogEvent();
  if (LogEvent.Function == kBRNOperationConnectSession ||
      LogEvent.Function == kBRNOperationReconnectSession ||
      LogEvent.Function == kBRNOperationDisconnectSession) {
    LogEvent.Version = ClientVersion;
    LogEvent.Build = ClientBuild;
  }
  LogEvent.ThreadID = int32_t(GetClientThreadID());
  LogEvent.IPAddress = ClientAddress;
  LogEvent.Encrypted = Encrypted;
}

std::unique_ptr<TBRNConfigLockManager> TBRNServerSessionManager::CreateConfigLockManager() {
  return std::make_unique<TBRNServerConfigLockManager>(Config.get(), this, FileManager);
}

void TBRNServerSessionManager::DisconnectSession(int32_t sessionId) {
  if (sessionId == Handle) RaiseCannotDisconnectCurrent(sessionId);
  if (!serverEngine_->DisconnectServerSession(sessionId)) RaiseSessionNotPresent(sessionId);
}

void TBRNServerSessionManager::RemoveSession(int32_t sessionId) {
  if (sessionId == Handle) RaiseCannotDisconnectCurrent(sessionId);
  if (!serverEngine_->RemoveServerSession(sessionId)) RaiseSessionNotPresent(sessionId);
}

void TBRNServerSessionManager::RaiseSessionNotPresent(int32_t sessionId) {
  throw EBRNException(1107, FormatText("The session ID %s is no longer present on the server",
                                       {IntegerToString(sessionId)}));
}

void TBRNServerSessionManager::RaiseCannotDisconnectCurrent(int32_t sessionId) {
  throw EBRNException(1108,
                      FormatText("The current session ID %s cannot be disconnected or removed",
                                 {IntegerToString(sessionId)}));
}

void TBRNServerSessionManager::AttachThread(TBRNServerSessionThread* thread) {
  TBRNServerSessionThread* previous = nullptr;
  {
    std::lock_guard<std::mutex> guard(threadMutex_);
    if (connectionThread_ == thread) return;
    previous = connectionThread_;
    connectionThread_ = thread;
    // The connection taken over no longer carries this session: its end
    // leaves the session to its new connection.
    if (previous != nullptr) {
      previous->SetSessionID(0);
      previous->CloseConnection();
    }
  }
  thread->SetSessionID(Handle);
  ClientAddress = thread->GetPeerAddress();
  ClientVersion = thread->GetClientVersion();
  ClientBuild = thread->GetClientBuild();
  SetClientThreadID(thread->GetClientThreadID());
  Encrypted = thread->GetEncryptionRequested();
  LastConnectTime = serverEngine_->Now();
  SessionInfo->Update([&](TBRNSessionInfo& info) {
    info.IPAddress = ClientAddress;
    info.LastConnected = LastConnectTime;
    info.Connected = true;
    info.Encrypted = Encrypted;
  });
  if (eventsParked_) {
    eventsParked_ = false;
    ResumeEvents();
  }
  WriteLogEvent(lcInformation, kBRNOperationConnectSession, 0, std::string());
  serverEngine_->DoServerSessionEvent(seConnect, this);
}

void TBRNServerSessionManager::DetachThread() {
  TBRNServerSessionThread* thread = nullptr;
  {
    std::lock_guard<std::mutex> guard(threadMutex_);
    thread = connectionThread_;
  }
  if (thread == nullptr) return;
  // A failed log write still detaches: the connection is going either way.
  std::exception_ptr logFailure;
  try {
    WriteLogEvent(lcInformation, kBRNOperationDisconnectSession, 0, std::string());
  } catch (...) {
    logFailure = std::current_exception();
  }
  if (!eventsParked_) {
    eventsParked_ = true;
    SuspendEvents();
  }
  {
    std::lock_guard<std::mutex> guard(threadMutex_);
    thread->CloseConnection();
    connectionThread_ = nullptr;
  }
  LastConnectTime = serverEngine_->Now();
  thread->SetSessionID(0);
  Encrypted = false;
  SessionInfo->Update([&](TBRNSessionInfo& info) {
    info.LastConnected = LastConnectTime;
    info.Connected = false;
    info.Encrypted = false;
  });
  serverEngine_->DoServerSessionEvent(seDisconnect, this);
  if (logFailure) std::rethrow_exception(logFailure);
}

void* TBRNServerSessionManager::GetUserObject() const {
  std::lock_guard<std::mutex> guard(userObjectMutex_);
  return userObject_;
}

void TBRNServerSessionManager::SetUserObject(void* value) {
  std::lock_guard<std::mutex> guard(userObjectMutex_);
  userObject_ = value;
}

bool TBRNServerSessionManager::IsConnected() const {
  std::lock_guard<std::mutex> guard(threadMutex_);
  return connectionThread_ != nullptr;
}

bool TBRNServerSessionManager::IsAttachedTo(const TBRNServerSessionThread* thread) const {
  std::lock_guard<std::mutex> guard(threadMutex_);
  return connectionThread_ == thread;
}

TBRNServerSessionThread* TBRNServerSessionManager::GetConnectionThread() const {
  std::lock_guard<std::mutex> guard(threadMutex_);
  return connectionThread_;
}

// ---- System session

TBRNServerSystemSessionManager::TBRNServerSystemSessionManager(TBRNServerEngineManager* engine,
                                                               bool registerTables, bool locked)
    : TBRNMixedSessionManager(engine, locked, registerTables) {}

std::unique_ptr<TBRNConfigLockManager> TBRNServerSystemSessionManager::CreateConfigLockManager() {
  return std::make_unique<TBRNServerConfigLockManager>(Config.get(), this, FileManager);
}

bool TBRNServerSystemSessionManager::DoProgress(int32_t percentDone) {
  if (stopRequested_.load()) return false;
  return TBRNLocalSessionManager::DoProgress(percentDone);
}

void TBRNServerSystemSessionManager::BecomeSystemUser() {
  TConfigReadScope read(*ConfigManager);
  SetCurrentUser(Config->SystemUser);
}

void TBRNServerSystemSessionManager::SetCurrentUserByName(const std::string& userName) {
  TConfigReadScope read(*ConfigManager);
  SetCurrentUser(static_cast<TBRNUser*>(Config->Users->FindByName(userName, true)));
}

void TBRNServerSystemSessionManager::ClearCurrentUser() {
  SetCurrentUser(nullptr);
}

}  // namespace brn
