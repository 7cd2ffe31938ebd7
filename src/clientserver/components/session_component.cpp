#include "clientserver/components/session_component.h"

#include <stdexcept>

#include "clientserver/components/component_error.h"
#include "clientserver/components/engine_component.h"
#include "clientserver/components/guarded_setter.h"
#include "clientserver/mixed/mixed_session_manager.h"
#include "clientserver/remote/remote_session_manager.h"
#include "foundation/locks/operation_codes.h"
#include "foundation/text/collation.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "sessions/engine_manager.h"

namespace brn {

namespace {

constexpr int32_t kMinProgressTimeInterval = 100;
constexpr int32_t kMaxRemoteCompression = 9;
constexpr int32_t kMinRemoteTimeout = 60;
constexpr int32_t kMinRemotePingInterval = 30;

TBRNEngineInstance& requireInstance() {
  TBRNEngineInstance* instance = TBRNEngineInstance::Get();
  if (instance == nullptr) throw std::logic_error("A session component needs an engine component");
  return *instance;
}

// Engine failures reach the application as EBRNError; an engine abort ends
// the operation silently.
[[noreturn]] void raiseAsComponentError() {
  try {
    throw;
  } catch (const EBRNAbortException&) {
    Abort();
  } catch (const EAbort&) {
    throw;
  } catch (const EBRNError&) {
    throw;
  } catch (const std::exception& error) {
    throw EBRNError(error);
  }
}

// The remote session of a session component: a reconnect counts as answered
// only when the component has a handler, which may be assigned at any time.
class TBRNComponentRemoteSession : public TBRNRemoteSessionManager {
 public:
  TBRNComponentRemoteSession(TBRNEngineManager* engine, TBRNSession& owner)
      : TBRNRemoteSessionManager(engine), owner_(owner) {}

  bool DoRemoteReconnect(bool& continueReconnect, bool& stopAsking) override {
    bool handled = false;
    owner_.DoRemoteReconnect(handled, continueReconnect, stopAsking);
    return handled;
  }

 private:
  TBRNSession& owner_;
};

}  // namespace

// ---- Life

TBRNSession::TBRNSession(TComponent* owner) : TComponent(owner) {
  checkAutoSessionOwner(false);
  TBRNEngineInstance& engine = requireInstance();
  engine.AddSession(this);
  remoteSignature_ = engine.Signature;
  remoteEncryptionPassword_ = engine.EncryptionPassword;
  local_.Signature = engine.Signature;
  local_.EncryptionPassword = engine.EncryptionPassword;
  local_.LargeFileSupport = engine.LargeFileSupport;
  local_.StandardNullBehavior = engine.StandardNullBehavior;
  local_.ConfigMemory = engine.ConfigMemory;
  local_.ConfigPath = engine.ConfigPath;
  local_.ConfigName = engine.ConfigName;
  local_.ConfigExtension = engine.ConfigExtension;
  local_.LockExtension = engine.LockExtension;
  local_.LogExtension = engine.LogExtension;
  local_.MaxLogFileSize = engine.MaxLogFileSize;
  local_.LogCategories = engine.LogCategories;
  local_.CatalogName = engine.CatalogName;
  local_.CatalogExtension = engine.CatalogExtension;
  local_.BackupExtension = engine.BackupExtension;
  local_.UpdateExtension = engine.UpdateExtension;
  local_.TableExtension = engine.TableExtension;
  local_.TableIndexExtension = engine.TableIndexExtension;
  local_.TableBlobExtension = engine.TableBlobExtension;
  local_.TablePublishExtension = engine.TablePublishExtension;
  local_.TempTablesPath = engine.TempTablesPath;
  local_.ShowUserPasswords = engine.ShowUserPasswords;
  local_.ShowDatabaseCatalogVersions = engine.ShowDatabaseCatalogVersions;
}

TBRNSession::~TBRNSession() {
  try {
    SetConnected(false);
  } catch (const std::exception&) {
    // Nowhere to report a failed disconnect while the component goes; the
    // session manager is freed below in any case.
  }
  if (autoSessionName_) releaseSessionNumber();
  if (TBRNEngineInstance* instance = TBRNEngineInstance::Get()) instance->RemoveSession(this);
  // Owned components (temporary databases among them) go while this
  // session's lists still exist: they leave them as they are freed.
  while (GetComponentCount() > 0) delete GetComponent(GetComponentCount() - 1);
  sessionManager_.reset();
}

std::string TBRNSession::GetEngineVersion() const {
  const TBRNEngineManager& manager = requireInstance().GetEngineManager();
  const int64_t version = manager.EngineVersion;
  std::string minor = IntegerToString(int32_t(version % 10000 / 100));
  if (minor.size() < 2) minor = "0" + minor;
  return IntegerToString(int32_t(version / 10000)) + "." + minor + " Build " +
         IntegerToString(manager.EngineBuild);
}

// ---- Connecting

void TBRNSession::SetConnected(bool value) {
  if (IsLoading()) {
    activeOnLoad_ = value;
    return;
  }
  if (value == GetConnected()) return;
  if (value)
    connect();
  else
    disconnect();
}

TBRNSessionManager& TBRNSession::GetSessionManager() {
  if (!GetConnected()) SetConnected(true);
  return *sessionManager_;
}

TBRNRemoteSessionManager* TBRNSession::remoteManager() const {
  return sessionType_ == stRemote ? static_cast<TBRNRemoteSessionManager*>(sessionManager_.get())
                                  : nullptr;
}

void TBRNSession::connect() {
  TBRNEngineInstance& engine = requireInstance();
  if (engine.EngineType == etServer && sessionType_ == stRemote)
    DatabaseError("Cannot connect a remote session with the server engine");
  engine.SetActive(true);
  DoBeforeConnect();
  if (sessionName_.empty()) DatabaseError("Session name is missing");
  try {
    try {
      createSessionManager();
    } catch (...) {
      raiseAsComponentError();
    }
    DoAfterConnect();
  } catch (...) {
    if (sessionManager_) {
      try {
        disconnect();
      } catch (const std::exception&) {
        // The connect failure is the one reported.
      }
    }
    throw;
  }
}

void TBRNSession::createSessionManager() {
  TBRNEngineManager& engine = requireInstance().GetEngineManager();
  if (sessionType_ == stRemote)
    sessionManager_ = std::make_unique<TBRNComponentRemoteSession>(&engine, *this);
  else
    sessionManager_ = std::make_unique<TBRNMixedSessionManager>(&engine, false, true);
  TBRNSessionManager& manager = *sessionManager_;
  manager.KeepTablesOpen = keepTablesOpen_;
  manager.RecordLockProtocol = uint8_t(recordLockProtocol_);
  manager.RecordLockRetryCount = recordLockRetryCount_;
  manager.RecordLockWaitTime = recordLockWaitTime_;
  manager.RecordChangeDetection = recordChangeDetection_;
  manager.ForceBufferFlush = forceBufferFlush_;
  manager.SetProgressTimeInterval(progressTimeInterval_);

  if (sessionType_ == stLocal && requireInstance().UseLocalSessionEngineSettings) {
    // Exclusive file access is the engine's alone: sessions of one process
    // cannot differ on it.
    TBRNEngineManagerSettings& settings =
        *static_cast<TBRNLocalSessionManager&>(manager).SessionSettings;
    settings.SetSignature(local_.Signature);
    settings.SetEncryptionPassword(local_.EncryptionPassword);
    settings.SetLargeFileSupport(local_.LargeFileSupport);
    settings.SetStandardNullBehavior(local_.StandardNullBehavior);
    settings.SetConfigMemory(local_.ConfigMemory);
    settings.SetConfigPath(local_.ConfigPath);
    settings.SetConfigName(local_.ConfigName);
    settings.SetConfigExtension(local_.ConfigExtension);
    settings.SetLockExtension(local_.LockExtension);
    settings.SetLogExtension(local_.LogExtension);
    settings.SetMaxLogFileSize(local_.MaxLogFileSize);
    settings.SetLogCategories(uint32_t(local_.LogCategories));
    settings.SetCatalogName(local_.CatalogName);
    settings.SetCatalogExtension(local_.CatalogExtension);
    settings.SetBackupExtension(local_.BackupExtension);
    settings.SetUpdateExtension(local_.UpdateExtension);
    settings.SetTableExtension(local_.TableExtension);
    settings.SetTableIndexExtension(local_.TableIndexExtension);
    settings.SetTableBlobExtension(local_.TableBlobExtension);
    settings.SetTablePublishExtension(local_.TablePublishExtension);
    settings.SetTempTablesPath(local_.TempTablesPath);
    settings.SetShowUserPasswords(local_.ShowUserPasswords);
    settings.SetShowDatabaseCatalogVersions(local_.ShowDatabaseCatalogVersions);
  }

  if (TBRNRemoteSessionManager* remote = remoteManager()) {
    remote->SetRemoteCompression(remoteCompression_);
    remote->SessionSettings->SetSignature(remoteSignature_);
    remote->SetRemoteEncryption(remoteEncryption_);
    remote->SessionSettings->SetEncryptionPassword(remoteEncryptionPassword_);
    remote->RemoteHost = remoteHost_;
    remote->RemoteAddress = remoteAddress_;
    remote->RemotePort = remotePort_;
    remote->RemoteService = remoteService_;
    remote->RemoteTrace = remoteTrace_;
    remote->SetRemoteTimeout(remoteTimeout_);
    remote->SetRemotePing(remotePing_);
    remote->SetRemotePingInterval(remotePingInterval_);
    remote->OnRemoteSendProgress = [this](TBRNRemoteSessionManager&, int32_t bytes,
                                          int32_t percent) {
      DoRemoteSendProgress(bytes, percent);
    };
    remote->OnRemoteReceiveProgress = [this](TBRNRemoteSessionManager&, int32_t bytes,
                                             int32_t percent) {
      DoRemoteReceiveProgress(bytes, percent);
    };
    remote->OnRemoteTrace = [this](TBRNRemoteSessionManager&, const TBRNRemoteSessionTrace& trace) {
      DoRemoteTrace(trace);
    };
    remote->OnRemoteTimeout = [this](TBRNRemoteSessionManager&, bool& stayConnected) {
      DoRemoteTimeout(stayConnected);
    };
  }

  TBRNEnvironment& environment = *engine.Environment;
  manager.OpenSession(
      environment.GetComputerName() + ":" + IntegerToString(int32_t(environment.GetProcessId())),
      sessionName_, sessionDescription_);
  manager.Events.OnLogin = [this](bool& handled, std::string& userName, std::string& password,
                                  bool& proceed) {
    LoginCallback(handled, userName, password, proceed);
  };
  manager.Login(loginUser_, loginPassword_);
}

void TBRNSession::disconnect() {
  DoBeforeDisconnect();
  releaseDatabases();
  if (sessionManager_) {
    try {
      sessionManager_->Logout();
      sessionManager_->CloseSession();
      sessionManager_.reset();
    } catch (const EBRNAbortException&) {
      // A silent abort: the session stays as it is.
    } catch (...) {
      raiseAsComponentError();
    }
  }
  DoAfterDisconnect();
}

void TBRNSession::LoginCallback(bool& handled, std::string& userName, std::string& password,
                                bool& proceed) {
  if (OnLogin) {
    handled = true;
    OnLogin(this, userName, password, proceed);
  } else {
    handled = false;
  }
}

// ---- Dispatchers

void TBRNSession::DoBeforeConnect() {
  if (BeforeConnect) BeforeConnect(this);
}

void TBRNSession::DoAfterConnect() {
  if (AfterConnect) AfterConnect(this);
}

void TBRNSession::DoBeforeDisconnect() {
  if (BeforeDisconnect) BeforeDisconnect(this);
}

void TBRNSession::DoAfterDisconnect() {
  if (AfterDisconnect) AfterDisconnect(this);
}

void TBRNSession::DoRemoteTimeout(bool& stayConnected) {
  if (OnRemoteTimeout)
    OnRemoteTimeout(this, stayConnected);
  else
    stayConnected = false;
}

void TBRNSession::DoRemoteReconnect(bool& handled, bool& proceed, bool& stopAsking) {
  if (!OnRemoteReconnect) return;
  handled = true;
  OnRemoteReconnect(this, proceed, stopAsking);
}

void TBRNSession::DoRemoteSendProgress(int32_t numBytes, int32_t percentDone) {
  if (OnRemoteSendProgress) OnRemoteSendProgress(this, numBytes, percentDone);
}

void TBRNSession::DoRemoteReceiveProgress(int32_t numBytes, int32_t percentDone) {
  if (OnRemoteReceiveProgress) OnRemoteReceiveProgress(this, numBytes, percentDone);
}

void TBRNSession::DoRemoteTrace(const TBRNRemoteSessionTrace& trace) {
  if (!OnRemoteTrace) return;
  trace_.TraceTime = TimestampMsToDateTime(trace.Time);
  trace_.Duration = trace.Duration;
  trace_.Compression = trace.Compression;
  trace_.RequestCode = trace.RequestCode;
  trace_.RequestName = std::string(OperationName(trace.RequestCode));
  trace_.ReplyCode = trace.ReplyCode;
  trace_.Size = trace.Size;
  trace_.Text = trace.Text;
  OnRemoteTrace(this, trace_);
}

void TBRNSession::DoProgress(int32_t percentDone, bool& proceed) {
  if (OnProgress) OnProgress(this, percentDone, proceed);
}

void TBRNSession::DoStatusMessage(const std::string& message) {
  if (OnStatusMessage) OnStatusMessage(this, message);
}

void TBRNSession::DoLogMessage(const std::string& message) {
  if (OnLogMessage) OnLogMessage(this, message);
}

// ---- Databases

void TBRNSession::AddDatabase(TBRNDatabase* database) {
  databases_.push_back(database);
}

void TBRNSession::RemoveDatabase(TBRNDatabase* database) {
  for (auto it = databases_.begin(); it != databases_.end(); ++it) {
    if (*it == database) {
      databases_.erase(it);
      return;
    }
  }
}

// ---- Loading and names

void TBRNSession::Loaded() {
  TComponent::Loaded();
  try {
    if (autoSessionName_) BindOwnerComponents();
    if (activeOnLoad_) SetConnected(true);
  } catch (const std::exception& error) {
    if (!IsDesigning()) throw;
    HandleApplicationException(error);
    return;
  }
  activeOnLoad_ = false;
}

void TBRNSession::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opInsert && autoSessionName_ && component != this &&
      GetOwner() != nullptr && component->GetOwner() == GetOwner())
    bindInsertedComponent(component);
}

void TBRNSession::SetName(const std::string& name) {
  TComponent::SetName(name);
  if (autoSessionName_) updateAutoSessionName();
}

void TBRNSession::checkAutoSessionOwner(bool anySession) const {
  if (GetOwner() == nullptr) return;
  for (int32_t i = 0; i < GetOwner()->GetComponentCount(); ++i) {
    auto* other = dynamic_cast<TBRNSession*>(GetOwner()->GetComponent(i));
    if (other == nullptr || other == this) continue;
    if (anySession) DatabaseError("The open auto-session can be the only open session");
    if (other->autoSessionName_) DatabaseError("This auto-session already exists");
  }
}

void TBRNSession::SetAutoSessionName(bool value) {
  if (value == autoSessionName_) return;
  if (value) {
    checkNotConnected();
    checkAutoSessionOwner(true);
    sessionNumber_ = requireInstance().AllocateSessionNumber();
    autoSessionName_ = true;
    updateAutoSessionName();
  } else {
    releaseSessionNumber();
    autoSessionName_ = false;
  }
}

void TBRNSession::releaseSessionNumber() {
  if (sessionNumber_ < 0) return;
  if (TBRNEngineInstance* instance = TBRNEngineInstance::Get())
    instance->ReleaseSessionNumber(sessionNumber_);
  sessionNumber_ = -1;
}

void TBRNSession::updateAutoSessionName() {
  struct TOwnName {
    bool& Flag;
    explicit TOwnName(bool& flag) : Flag(flag) { Flag = true; }
    ~TOwnName() { Flag = false; }
  } ownName(settingOwnName_);
  SetSessionName(GetName() + "_" + IntegerToString(sessionNumber_ + 1));
  BindOwnerComponents();
}

void TBRNSession::SetSessionName(const std::string& value) {
  if (value == sessionName_) return;
  if (autoSessionName_ && !settingOwnName_)
    DatabaseError("Cannot perform this operation on the open auto-session");
  checkNotConnected();
  if (!value.empty()) {
    TBRNSession* other = requireInstance().FindSession(value);
    if (other != nullptr && other != this)
      DatabaseError(FormatText("Session name '%s' already exists", {value}));
  }
  sessionName_ = value;
}

// ---- Settings

void TBRNSession::checkNotConnected() const {
  if (GetConnected()) DatabaseError(kBRNOpenSessionMessage);
}

template <typename T>
void TBRNSession::setGuarded(T& field, const T& value) {
  SetGuarded(field, value, [this] { checkNotConnected(); });
}

void TBRNSession::setGuardedText(std::string& field, const std::string& value) {
  SetGuardedText(field, value, [this] { checkNotConnected(); });
}

void TBRNSession::SetSessionDescription(const std::string& value) {
  setGuarded(sessionDescription_, value);
}
void TBRNSession::SetSessionType(TBRNSessionType value) {
  setGuarded(sessionType_, value);
}
void TBRNSession::SetKeepTablesOpen(bool value) {
  setGuarded(keepTablesOpen_, value);
}
void TBRNSession::SetForceBufferFlush(bool value) {
  setGuarded(forceBufferFlush_, value);
}
void TBRNSession::SetRecordLockProtocol(TBRNRecordLockProtocol value) {
  setGuarded(recordLockProtocol_, value);
}
void TBRNSession::SetRecordLockRetryCount(int32_t value) {
  setGuarded(recordLockRetryCount_, value < 0 ? 0 : value);
}
void TBRNSession::SetRecordLockWaitTime(int32_t value) {
  setGuarded(recordLockWaitTime_, value < 0 ? 0 : value);
}
void TBRNSession::SetRecordChangeDetection(bool value) {
  setGuarded(recordChangeDetection_, value);
}
void TBRNSession::SetProgressTimeInterval(int32_t value) {
  setGuarded(progressTimeInterval_,
             value < kMinProgressTimeInterval ? kMinProgressTimeInterval : value);
}
void TBRNSession::SetLoginUser(const std::string& value) {
  setGuarded(loginUser_, value);
}
void TBRNSession::SetLoginPassword(const std::string& value) {
  setGuarded(loginPassword_, value);
}

void TBRNSession::SetLocalSignature(const std::string& value) {
  setGuarded(local_.Signature, value);
}
void TBRNSession::SetLocalEncryptionPassword(const std::string& value) {
  setGuarded(local_.EncryptionPassword, value);
}
void TBRNSession::SetLocalLargeFileSupport(bool value) {
  setGuarded(local_.LargeFileSupport, value);
}
void TBRNSession::SetLocalStandardNullBehavior(bool value) {
  setGuarded(local_.StandardNullBehavior, value);
}
void TBRNSession::SetLocalConfigMemory(bool value) {
  setGuarded(local_.ConfigMemory, value);
}
void TBRNSession::SetLocalConfigPath(const std::string& value) {
  setGuardedText(local_.ConfigPath, value);
}
void TBRNSession::SetLocalConfigName(const std::string& value) {
  setGuardedText(local_.ConfigName, value);
}
void TBRNSession::SetLocalConfigExtension(const std::string& value) {
  setGuardedText(local_.ConfigExtension, value);
}
void TBRNSession::SetLocalLockExtension(const std::string& value) {
  setGuardedText(local_.LockExtension, value);
}
void TBRNSession::SetLocalLogExtension(const std::string& value) {
  setGuardedText(local_.LogExtension, value);
}
void TBRNSession::SetLocalMaxLogFileSize(int32_t value) {
  setGuarded(local_.MaxLogFileSize, value);
}
void TBRNSession::SetLocalLogCategories(TBRNLogCategories value) {
  setGuarded(local_.LogCategories, value);
}
void TBRNSession::SetLocalCatalogName(const std::string& value) {
  setGuardedText(local_.CatalogName, value);
}
void TBRNSession::SetLocalCatalogExtension(const std::string& value) {
  setGuardedText(local_.CatalogExtension, value);
}
void TBRNSession::SetLocalBackupExtension(const std::string& value) {
  setGuardedText(local_.BackupExtension, value);
}
void TBRNSession::SetLocalUpdateExtension(const std::string& value) {
  setGuardedText(local_.UpdateExtension, value);
}
void TBRNSession::SetLocalTableExtension(const std::string& value) {
  setGuardedText(local_.TableExtension, value);
}
void TBRNSession::SetLocalTableIndexExtension(const std::string& value) {
  setGuardedText(local_.TableIndexExtension, value);
}
void TBRNSession::SetLocalTableBlobExtension(const std::string& value) {
  setGuardedText(local_.TableBlobExtension, value);
}
void TBRNSession::SetLocalTablePublishExtension(const std::string& value) {
  setGuardedText(local_.TablePublishExtension, value);
}
void TBRNSession::SetLocalTempTablesPath(const std::string& value) {
  setGuardedText(local_.TempTablesPath, value);
}
void TBRNSession::SetLocalShowUserPasswords(bool value) {
  setGuarded(local_.ShowUserPasswords, value);
}
void TBRNSession::SetLocalShowDatabaseCatalogVersions(bool value) {
  setGuarded(local_.ShowDatabaseCatalogVersions, value);
}

void TBRNSession::SetRemoteSignature(const std::string& value) {
  setGuarded(remoteSignature_, value);
}
void TBRNSession::SetRemoteEncryptionPassword(const std::string& value) {
  setGuarded(remoteEncryptionPassword_, value);
}
void TBRNSession::SetRemoteEncryption(bool value) {
  setGuarded(remoteEncryption_, value);
}
void TBRNSession::SetRemoteHost(const std::string& value) {
  setGuarded(remoteHost_, value);
}
void TBRNSession::SetRemoteAddress(const std::string& value) {
  setGuarded(remoteAddress_, value);
}
void TBRNSession::SetRemotePort(int32_t value) {
  setGuarded(remotePort_, value);
}
void TBRNSession::SetRemoteService(const std::string& value) {
  setGuarded(remoteService_, value);
}

void TBRNSession::SetRemoteCompression(int32_t value) {
  if (value < 0) value = 0;
  if (value > kMaxRemoteCompression) value = kMaxRemoteCompression;
  if (value == remoteCompression_) return;
  remoteCompression_ = value;
  if (TBRNRemoteSessionManager* remote = remoteManager()) remote->SetRemoteCompression(value);
}

void TBRNSession::SetRemoteTrace(bool value) {
  if (value == remoteTrace_) return;
  remoteTrace_ = value;
  if (TBRNRemoteSessionManager* remote = remoteManager()) remote->RemoteTrace = value;
}

void TBRNSession::SetRemoteTimeout(int32_t value) {
  if (value < kMinRemoteTimeout) value = kMinRemoteTimeout;
  if (value == remoteTimeout_) return;
  remoteTimeout_ = value;
  if (TBRNRemoteSessionManager* remote = remoteManager()) remote->SetRemoteTimeout(value);
}

void TBRNSession::SetRemotePing(bool value) {
  if (value == remotePing_) return;
  remotePing_ = value;
  if (TBRNRemoteSessionManager* remote = remoteManager()) remote->SetRemotePing(value);
}

void TBRNSession::SetRemotePingInterval(int32_t value) {
  // The unclamped value is compared: 10 while 30 is stored still applies.
  if (value == remotePingInterval_) return;
  remotePingInterval_ = value < kMinRemotePingInterval ? kMinRemotePingInterval : value;
  if (TBRNRemoteSessionManager* remote = remoteManager())
    remote->SetRemotePingInterval(remotePingInterval_);
}

// ---- The process's components

namespace {

TBRNEngine* gGlobalEngine = nullptr;
TBRNSession* gDefaultSession = nullptr;

}  // namespace

void StartComponents() {
  if (gGlobalEngine != nullptr) throw std::logic_error("The components are already started");
  gGlobalEngine = new TBRNEngine(nullptr);
  gDefaultSession = new TBRNSession(nullptr);
  gDefaultSession->SetSessionName("Default");
  gDefaultSession->SetSessionDescription("Auto-Created Default Session");
}

void EndComponents() {
  TBRNEngine* engine = gGlobalEngine;
  gGlobalEngine = nullptr;
  gDefaultSession = nullptr;
  delete engine;
}

TBRNEngine* GetGlobalEngine() {
  return gGlobalEngine;
}

TBRNSession* GetDefaultSession() {
  return gDefaultSession;
}

}  // namespace brn
