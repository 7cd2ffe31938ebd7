#include "clientserver/components/engine_component.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "clientserver/components/component_error.h"
#include "clientserver/components/guarded_setter.h"
#include "clientserver/components/param_conversion.h"
#include "clientserver/components/session_component.h"
#include "clientserver/server/server_session.h"
#include "execution/engine_execution.h"
#include "foundation/text/collation.h"
#include "foundation/text/environment.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "sessions/engine_manager.h"
#include "sessions/engine_settings.h"

namespace brn {

namespace {

// The process's instance and the number of engine components over it. Only
// the controlling thread creates and frees engine components; server
// threads may read the instance pointer.
std::atomic<TBRNEngineInstance*> gInstance{nullptr};
std::atomic<int32_t> gEngineCount{0};

constexpr int32_t kMinMaxLogFileSize = 262144;
constexpr TBRNLogCategories kAllLogCategories = TBRNLogCategories(
    LogCategoryBit(lcInformation) | LogCategoryBit(lcWarning) | LogCategoryBit(lcError));
constexpr const char* kDefaultSessionName = "Default";
// Milliseconds since 1970 to the platform date (whose day 25569 is
// 1970-01-01).
constexpr double kUnixEpochDay = 25569.0;
constexpr double kMsPerDay = 86400000.0;

TDateTime unixMsToDateTime(int64_t ms) {
  return kUnixEpochDay + double(ms) / kMsPerDay;
}

std::string trimTrailingBlanks(const std::string& text) {
  return TrimTrailingChar(text, ' ');
}

bool namesEqual(const std::string& a, const std::string& b) {
  return TextEqualsIgnoreCase(trimTrailingBlanks(a), trimTrailingBlanks(b));
}

void copyList(const TStringList& from, TBRNStringsList& to) {
  to.Clear();
  for (const std::string& line : from.Items()) to.Add(line);
}

}  // namespace

// ---- The instance

TBRNEngineInstance::TBRNEngineInstance() : engineManager_(std::make_unique<TBRNEngineManager>()) {
  // Whichever engine the application makes, its sessions run statements.
  InstallExecution();
  ResetSettings();
}

TBRNEngineInstance::~TBRNEngineInstance() {
  try {
    SetActive(false);
  } catch (...) {
    // Nowhere to report a failed stop while the instance goes; the engine
    // manager's own destructor stops what is left.
  }
  std::lock_guard<std::recursive_mutex> guard(registryLock_);
  // Last first; each leaves the registry before it is freed (it no longer
  // finds this instance to leave it itself).
  while (!sessions_.empty()) {
    TBRNSession* session = sessions_.back();
    sessions_.pop_back();
    delete session;
  }
}

TBRNEngineInstance* TBRNEngineInstance::Get() {
  return gInstance.load();
}

bool TBRNEngineInstance::GetActive() const {
  return engineManager_->Active.load();
}

TBRNServerEngineManager* TBRNEngineInstance::GetServerEngineManager() const {
  return EngineType == etServer ? static_cast<TBRNServerEngineManager*>(engineManager_.get())
                                : nullptr;
}

void TBRNEngineInstance::CheckNotStarted() const {
  if (GetActive()) DatabaseError(kBRNEngineStartedMessage);
}

void TBRNEngineInstance::CheckStarted() const {
  if (!GetActive()) DatabaseError(kBRNEngineNotStartedMessage);
}

void TBRNEngineInstance::ResetSettings() {
  SetEngineType(etClient);
  UseLocalSessionEngineSettings = false;
  StoreActive = true;
  Signature = kBRNDefaultSignature;
  EncryptionPassword = kBRNDefaultEncryptionPassword;
  LargeFileSupport = false;
  ExclusiveFileAccess = false;
  StandardNullBehavior = true;
  ConfigMemory = false;
  ConfigPath.clear();
  ConfigName = "BRNConfig";
  ConfigExtension = ".BRNCfg";
  LockExtension = ".BRNLck";
  LogExtension = ".BRNLog";
  MaxLogFileSize = 1048576;
  LogCategories = kAllLogCategories;
  CatalogName = "BRNDatabase";
  CatalogExtension = ".BRNCat";
  BackupExtension = ".BRNBkp";
  UpdateExtension = ".BRNUpd";
  TableExtension = ".BRNTbl";
  TableIndexExtension = ".BRNIdx";
  TableBlobExtension = ".BRNBlb";
  TablePublishExtension = ".BRNPbl";
  TempTablesPath = engineManager_->Environment->GetTempPath();
  ShowUserPasswords = true;
  ShowDatabaseCatalogVersions = true;
  ServerName = "BRNSrvr";
  ServerDescription = "Brindle Server";
  ServerAddress.clear();
  ServerPort = 12010;
  ServerThreadCacheSize = 10;
  ServerEncryptedOnly = false;
  ServerSessionTimeout = 180;
  ServerDeadSessionInterval = 30;
  ServerDeadSessionExpiration = 300;
  ServerMaxDeadSessions = 64;
  ServerAuthorizedAddresses.Assign(std::vector<std::string>{"*"});
  ServerBlockedAddresses.Clear();
  ServerRunJobs = true;
  ServerJobCategory.clear();
  BeforeStart = {};
  BeforeStop = {};
  AfterStart = {};
  AfterStop = {};
  OnServerSessionEvent = {};
}

void TBRNEngineInstance::SetEngineType(TBRNEngineType value) {
  if (value == EngineType && engineManager_ != nullptr) return;
  CheckNotStarted();
  engineManager_.reset();
  EngineType = value;
  if (value == etServer) {
    auto server = std::make_unique<TBRNServerEngineManager>();
    server->OnServerSessionEvent = [this](TBRNServerSessionEventType eventType,
                                          TBRNServerSessionManager* session) {
      serverSessionEvent(eventType, session);
    };
    server->OnServerSessionLogin =
        [this](const std::string& userName, const std::string& userPassword,
               const std::string& processName, int32_t threadId, int64_t releaseNumber,
               int32_t buildNumber, bool& allowLogin) {
          serverSessionLogin(userName, userPassword, processName, threadId, releaseNumber,
                             buildNumber, allowLogin);
        };
    server->OnServerProcedure = [this](TBRNServerEngineManagerProcedure& request) {
      serverProcedure(request);
    };
    engineManager_ = std::move(server);
  } else {
    engineManager_ = std::make_unique<TBRNEngineManager>();
  }
}

void TBRNEngineInstance::SetActive(bool value) {
  if (value == GetActive()) return;
  if (value) {
    start();
  } else {
    stop();
  }
}

void TBRNEngineInstance::notify(const TBRNEngineEvent<TNotifyEvent>& event) {
  if (event) event.Handler(event.Sender);
}

void TBRNEngineInstance::copySettings() {
  TBRNEngineManagerSettings& settings = *engineManager_->Settings;
  settings.SetSignature(Signature);
  settings.SetEncryptionPassword(EncryptionPassword);
  settings.SetLargeFileSupport(LargeFileSupport);
  settings.SetExclusiveFileAccess(ExclusiveFileAccess);
  settings.SetStandardNullBehavior(StandardNullBehavior);
  settings.SetConfigMemory(ConfigMemory);
  settings.SetConfigPath(ConfigPath);
  settings.SetConfigName(ConfigName);
  settings.SetConfigExtension(ConfigExtension);
  settings.SetLockExtension(LockExtension);
  settings.SetLogExtension(LogExtension);
  settings.SetMaxLogFileSize(MaxLogFileSize);
  settings.SetLogCategories(LogCategories);
  settings.SetCatalogName(CatalogName);
  settings.SetCatalogExtension(CatalogExtension);
  settings.SetBackupExtension(BackupExtension);
  settings.SetUpdateExtension(UpdateExtension);
  settings.SetTableExtension(TableExtension);
  settings.SetTableIndexExtension(TableIndexExtension);
  settings.SetTableBlobExtension(TableBlobExtension);
  settings.SetTablePublishExtension(TablePublishExtension);
  settings.SetTempTablesPath(TempTablesPath);
  settings.SetShowUserPasswords(ShowUserPasswords);
  settings.SetShowDatabaseCatalogVersions(ShowDatabaseCatalogVersions);
  TBRNServerEngineManager* server = GetServerEngineManager();
  if (server == nullptr) return;
  server->ServerName = ServerName;
  server->ServerDescription = ServerDescription;
  server->ServerSessionTimeout = ServerSessionTimeout;
  server->ServerDeadSessionInterval = ServerDeadSessionInterval;
  server->ServerDeadSessionExpiration = ServerDeadSessionExpiration;
  server->ServerMaxDeadSessions = ServerMaxDeadSessions;
  copyList(ServerAuthorizedAddresses, *server->ServerAuthorizedAddresses);
  copyList(ServerBlockedAddresses, *server->ServerBlockedAddresses);
  server->ServerRunJobs = ServerRunJobs;
  server->ServerJobCategory = ServerJobCategory;
  server->ServerAddress = ServerAddress;
  server->ServerPort = ServerPort;
  server->ServerThreadCacheSize = ServerThreadCacheSize;
  server->ServerEncryptedOnly = ServerEncryptedOnly;
}

void TBRNEngineInstance::start() {
  notify(BeforeStart);
  try {
    copySettings();
    engineManager_->Start();
    notify(AfterStart);
  } catch (const std::exception& error) {
    EBRNError failure(error);
    notify(BeforeStop);
    notify(AfterStop);
    throw failure;
  }
}

void TBRNEngineInstance::stop() {
  notify(BeforeStop);
  {
    std::lock_guard<std::recursive_mutex> guard(registryLock_);
    // A copy: a session may leave the registry while it disconnects.
    std::vector<TBRNSession*> sessions = sessions_;
    for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) (*it)->SetConnected(false);
  }
  engineManager_->Stop();
  notify(AfterStop);
}

void TBRNEngineInstance::serverSessionEvent(TBRNServerSessionEventType eventType,
                                            TBRNServerSessionManager* session) {
  if (!OnServerSessionEvent) return;
  // A record of this call's own: handlers run on many server threads.
  TBRNServerSession record;
  record.SessionID = session->Handle;
  record.SessionName = session->SessionName;
  record.SessionDescription = session->SessionDescription;
  record.CreatedOn = unixMsToDateTime(session->CreationTime);
  record.LastStateChangeOn = unixMsToDateTime(session->LastConnectTime);
  record.Connected = session->IsConnected();
  record.Encrypted = session->Encrypted;
  record.ClientAddress = session->ClientAddress;
  session->GetUserName(record.UserName);
  record.ProcessName = session->Identity;
  void* userObject = session->GetUserObject();
  OnServerSessionEvent.Handler(OnServerSessionEvent.Sender, eventType, record, userObject);
  session->SetUserObject(userObject);
}

void TBRNEngineInstance::serverSessionLogin(const std::string& userName,
                                            const std::string& userPassword,
                                            const std::string& processName, int32_t threadId,
                                            int64_t releaseNumber, int32_t buildNumber,
                                            bool& allowLogin) {
  allowLogin = true;
  if (OnServerSessionLogin) {
    OnServerSessionLogin.Handler(OnServerSessionLogin.Sender, userName, userPassword, processName,
                                 threadId, releaseNumber, buildNumber, allowLogin);
  }
}

void TBRNEngineInstance::serverProcedure(TBRNServerEngineManagerProcedure& request) {
  if (!OnServerProcedure) return;
  TBRNServerProcedure procedure(request);
  OnServerProcedure.Handler(OnServerProcedure.Sender, procedure);
  procedure.UpdateRequest();
}

void TBRNEngineInstance::forgetSender(TComponent* sender) {
  auto forget = [sender](auto& event) {
    if (event.Sender == sender) event.Sender = nullptr;
  };
  forget(BeforeStart);
  forget(BeforeStop);
  forget(AfterStart);
  forget(AfterStop);
  forget(OnServerSessionEvent);
  forget(OnServerSessionLogin);
  forget(OnServerProcedure);
}

// ---- Session registry

void TBRNEngineInstance::AddSession(TBRNSession* session) {
  std::lock_guard<std::recursive_mutex> guard(registryLock_);
  sessions_.push_back(session);
}

void TBRNEngineInstance::RemoveSession(TBRNSession* session) {
  std::lock_guard<std::recursive_mutex> guard(registryLock_);
  auto found = std::find(sessions_.begin(), sessions_.end(), session);
  if (found != sessions_.end()) sessions_.erase(found);
}

TBRNSession* TBRNEngineInstance::FindSession(const std::string& name) {
  const std::string wanted = trimTrailingBlanks(name).empty() ? kDefaultSessionName : name;
  std::lock_guard<std::recursive_mutex> guard(registryLock_);
  for (TBRNSession* session : sessions_)
    if (namesEqual(session->GetSessionName(), wanted)) return session;
  return nullptr;
}

TBRNSession* TBRNEngineInstance::GetSession(const std::string& name) {
  TBRNSession* session = FindSession(name);
  if (session == nullptr) DatabaseError(FormatText("Session name '%s' is not valid", {name}));
  return session;
}

int32_t TBRNEngineInstance::AllocateSessionNumber() {
  std::lock_guard<std::recursive_mutex> guard(registryLock_);
  int32_t number = sessionNumbers_.OpenBit();
  sessionNumbers_.Set(number, true);
  return number;
}

void TBRNEngineInstance::ReleaseSessionNumber(int32_t number) {
  if (number < 0) return;
  std::lock_guard<std::recursive_mutex> guard(registryLock_);
  sessionNumbers_.Set(number, false);
}

int32_t TBRNEngineInstance::GetSessionCount() {
  std::lock_guard<std::recursive_mutex> guard(registryLock_);
  return int32_t(sessions_.size());
}

// ---- The component

namespace {

// The setters' shared rules: equality first, then the started check, then
// the value stored (raised to its minimum where one is given).
void setBool(TBRNEngineInstance& instance, bool& field, bool value) {
  SetGuarded(field, value, [&] { instance.CheckNotStarted(); });
}

void setInteger(TBRNEngineInstance& instance, int32_t& field, int32_t value,
                int32_t minimum = INT32_MIN) {
  SetGuardedAtLeast(field, value, minimum, [&] { instance.CheckNotStarted(); });
}

void setExact(TBRNEngineInstance& instance, std::string& field, const std::string& value) {
  SetGuarded(field, value, [&] { instance.CheckNotStarted(); });
}

void setIgnoringCase(TBRNEngineInstance& instance, std::string& field, const std::string& value) {
  SetGuardedText(field, value, [&] { instance.CheckNotStarted(); });
}

void setExtension(TBRNEngineInstance& instance, std::string& field, const std::string& value,
                  const char* defaultValue) {
  if (TextEqualsIgnoreCase(field, value)) return;
  instance.CheckNotStarted();
  if (value.empty()) {
    field = defaultValue;
  } else {
    field = value[0] == '.' ? value : "." + value;
  }
}

}  // namespace

TBRNEngine::TBRNEngine(TComponent* owner) : TComponent(owner) {
  TBRNEngineInstance* instance = gInstance.load();
  if (instance == nullptr) {
    gInstance.store(new TBRNEngineInstance());
  } else if (IsDesigning() && gEngineCount.load() == 1) {
    instance->SetActive(false);
    instance->ResetSettings();
  }
  gEngineCount.fetch_add(1);
}

TBRNEngine::~TBRNEngine() {
  if (gEngineCount.fetch_sub(1) == 1) {
    TBRNEngineInstance* instance = gInstance.load();
    // Cleared first: the sessions freed with the instance no longer find it.
    gInstance.store(nullptr);
    delete instance;
  } else if (TBRNEngineInstance* instance = gInstance.load()) {
    instance->forgetSender(this);
  }
}

TBRNEngineInstance& TBRNEngine::GetInstance() const {
  return *gInstance.load();
}

int32_t TBRNEngine::GetEngineCount() {
  return gEngineCount.load();
}

bool TBRNEngine::GetActive() const {
  return GetInstance().GetActive();
}

void TBRNEngine::SetActive(bool value) {
  if (IsLoading()) {
    activeOnLoad_ = value;
    return;
  }
  GetInstance().SetActive(value);
}

void TBRNEngine::Loaded() {
  TComponent::Loaded();
  try {
    SetActive(activeOnLoad_);
  } catch (const std::exception& error) {
    if (!IsDesigning()) throw;
    HandleApplicationException(error);
    return;
  }
  activeOnLoad_ = false;
}

std::string TBRNEngine::GetEngineVersion() const {
  const TBRNEngineManager& manager = GetInstance().GetEngineManager();
  const int64_t version = manager.EngineVersion;
  std::string minor = IntegerToString(int32_t(version % 10000 / 100));
  if (minor.size() < 2) minor = "0" + minor;
  return IntegerToString(int32_t(version / 10000)) + "." + minor + " Build " +
         IntegerToString(manager.EngineBuild);
}

TBRNEngineType TBRNEngine::GetEngineType() const {
  return GetInstance().EngineType;
}
void TBRNEngine::SetEngineType(TBRNEngineType value) {
  GetInstance().SetEngineType(value);
}
bool TBRNEngine::GetUseLocalSessionEngineSettings() const {
  return GetInstance().UseLocalSessionEngineSettings;
}
void TBRNEngine::SetUseLocalSessionEngineSettings(bool value) {
  setBool(GetInstance(), GetInstance().UseLocalSessionEngineSettings, value);
}
bool TBRNEngine::GetStoreActive() const {
  return GetInstance().StoreActive;
}
void TBRNEngine::SetStoreActive(bool value) {
  GetInstance().StoreActive = value;
}

const std::string& TBRNEngine::GetSignature() const {
  return GetInstance().Signature;
}
void TBRNEngine::SetSignature(const std::string& value) {
  setExact(GetInstance(), GetInstance().Signature, value);
}
const std::string& TBRNEngine::GetEncryptionPassword() const {
  return GetInstance().EncryptionPassword;
}
void TBRNEngine::SetEncryptionPassword(const std::string& value) {
  setExact(GetInstance(), GetInstance().EncryptionPassword, value);
}
bool TBRNEngine::GetLargeFileSupport() const {
  return GetInstance().LargeFileSupport;
}
void TBRNEngine::SetLargeFileSupport(bool value) {
  setBool(GetInstance(), GetInstance().LargeFileSupport, value);
}
bool TBRNEngine::GetExclusiveFileAccess() const {
  return GetInstance().ExclusiveFileAccess;
}
void TBRNEngine::SetExclusiveFileAccess(bool value) {
  setBool(GetInstance(), GetInstance().ExclusiveFileAccess, value);
}
bool TBRNEngine::GetStandardNullBehavior() const {
  return GetInstance().StandardNullBehavior;
}
void TBRNEngine::SetStandardNullBehavior(bool value) {
  setBool(GetInstance(), GetInstance().StandardNullBehavior, value);
}
bool TBRNEngine::GetConfigMemory() const {
  return GetInstance().ConfigMemory;
}
void TBRNEngine::SetConfigMemory(bool value) {
  setBool(GetInstance(), GetInstance().ConfigMemory, value);
}
const std::string& TBRNEngine::GetConfigPath() const {
  return GetInstance().ConfigPath;
}
void TBRNEngine::SetConfigPath(const std::string& value) {
  setIgnoringCase(GetInstance(), GetInstance().ConfigPath, value);
}
const std::string& TBRNEngine::GetConfigName() const {
  return GetInstance().ConfigName;
}
void TBRNEngine::SetConfigName(const std::string& value) {
  setIgnoringCase(GetInstance(), GetInstance().ConfigName, value);
}
const std::string& TBRNEngine::GetConfigExtension() const {
  return GetInstance().ConfigExtension;
}
void TBRNEngine::SetConfigExtension(const std::string& value) {
  setExtension(GetInstance(), GetInstance().ConfigExtension, value, ".BRNCfg");
}
const std::string& TBRNEngine::GetLockExtension() const {
  return GetInstance().LockExtension;
}
void TBRNEngine::SetLockExtension(const std::string& value) {
  setExtension(GetInstance(), GetInstance().LockExtension, value, ".BRNLck");
}
const std::string& TBRNEngine::GetLogExtension() const {
  return GetInstance().LogExtension;
}
void TBRNEngine::SetLogExtension(const std::string& value) {
  setExtension(GetInstance(), GetInstance().LogExtension, value, ".BRNLog");
}
int32_t TBRNEngine::GetMaxLogFileSize() const {
  return GetInstance().MaxLogFileSize;
}
void TBRNEngine::SetMaxLogFileSize(int32_t value) {
  setInteger(GetInstance(), GetInstance().MaxLogFileSize, value, kMinMaxLogFileSize);
}
TBRNLogCategories TBRNEngine::GetLogCategories() const {
  return GetInstance().LogCategories;
}
void TBRNEngine::SetLogCategories(TBRNLogCategories value) {
  TBRNEngineInstance& instance = GetInstance();
  if (instance.LogCategories == value) return;
  instance.CheckNotStarted();
  instance.LogCategories = value;
}
const std::string& TBRNEngine::GetCatalogName() const {
  return GetInstance().CatalogName;
}
void TBRNEngine::SetCatalogName(const std::string& value) {
  setIgnoringCase(GetInstance(), GetInstance().CatalogName, value);
}
const std::string& TBRNEngine::GetCatalogExtension() const {
  return GetInstance().CatalogExtension;
}
void TBRNEngine::SetCatalogExtension(const std::string& value) {
  setExtension(GetInstance(), GetInstance().CatalogExtension, value, ".BRNCat");
}
const std::string& TBRNEngine::GetBackupExtension() const {
  return GetInstance().BackupExtension;
}
void TBRNEngine::SetBackupExtension(const std::string& value) {
  setExtension(GetInstance(), GetInstance().BackupExtension, value, ".BRNBkp");
}
const std::string& TBRNEngine::GetUpdateExtension() const {
  return GetInstance().UpdateExtension;
}
void TBRNEngine::SetUpdateExtension(const std::string& value) {
  setExtension(GetInstance(), GetInstance().UpdateExtension, value, ".BRNUpd");
}
const std::string& TBRNEngine::GetTableExtension() const {
  return GetInstance().TableExtension;
}
void TBRNEngine::SetTableExtension(const std::string& value) {
  setExtension(GetInstance(), GetInstance().TableExtension, value, ".BRNTbl");
}
const std::string& TBRNEngine::GetTableIndexExtension() const {
  return GetInstance().TableIndexExtension;
}
void TBRNEngine::SetTableIndexExtension(const std::string& value) {
  setExtension(GetInstance(), GetInstance().TableIndexExtension, value, ".BRNIdx");
}
const std::string& TBRNEngine::GetTableBlobExtension() const {
  return GetInstance().TableBlobExtension;
}
void TBRNEngine::SetTableBlobExtension(const std::string& value) {
  setExtension(GetInstance(), GetInstance().TableBlobExtension, value, ".BRNBlb");
}
const std::string& TBRNEngine::GetTablePublishExtension() const {
  return GetInstance().TablePublishExtension;
}
void TBRNEngine::SetTablePublishExtension(const std::string& value) {
  setExtension(GetInstance(), GetInstance().TablePublishExtension, value, ".BRNPbl");
}
const std::string& TBRNEngine::GetTempTablesPath() const {
  return GetInstance().TempTablesPath;
}
void TBRNEngine::SetTempTablesPath(const std::string& value) {
  setIgnoringCase(GetInstance(), GetInstance().TempTablesPath, value);
}
bool TBRNEngine::GetShowUserPasswords() const {
  return GetInstance().ShowUserPasswords;
}
void TBRNEngine::SetShowUserPasswords(bool value) {
  setBool(GetInstance(), GetInstance().ShowUserPasswords, value);
}
bool TBRNEngine::GetShowDatabaseCatalogVersions() const {
  return GetInstance().ShowDatabaseCatalogVersions;
}
void TBRNEngine::SetShowDatabaseCatalogVersions(bool value) {
  setBool(GetInstance(), GetInstance().ShowDatabaseCatalogVersions, value);
}

const std::string& TBRNEngine::GetServerName() const {
  return GetInstance().ServerName;
}
void TBRNEngine::SetServerName(const std::string& value) {
  setExact(GetInstance(), GetInstance().ServerName, value);
}
const std::string& TBRNEngine::GetServerDescription() const {
  return GetInstance().ServerDescription;
}
void TBRNEngine::SetServerDescription(const std::string& value) {
  setExact(GetInstance(), GetInstance().ServerDescription, value);
}
const std::string& TBRNEngine::GetServerAddress() const {
  return GetInstance().ServerAddress;
}
void TBRNEngine::SetServerAddress(const std::string& value) {
  setExact(GetInstance(), GetInstance().ServerAddress, value);
}
int32_t TBRNEngine::GetServerPort() const {
  return GetInstance().ServerPort;
}
void TBRNEngine::SetServerPort(int32_t value) {
  setInteger(GetInstance(), GetInstance().ServerPort, value);
}
int32_t TBRNEngine::GetServerThreadCacheSize() const {
  return GetInstance().ServerThreadCacheSize;
}
void TBRNEngine::SetServerThreadCacheSize(int32_t value) {
  setInteger(GetInstance(), GetInstance().ServerThreadCacheSize, value, 1);
}
bool TBRNEngine::GetServerEncryptedOnly() const {
  return GetInstance().ServerEncryptedOnly;
}
void TBRNEngine::SetServerEncryptedOnly(bool value) {
  setBool(GetInstance(), GetInstance().ServerEncryptedOnly, value);
}
int32_t TBRNEngine::GetServerSessionTimeout() const {
  return GetInstance().ServerSessionTimeout;
}
void TBRNEngine::SetServerSessionTimeout(int32_t value) {
  setInteger(GetInstance(), GetInstance().ServerSessionTimeout, value, 60);
}
int32_t TBRNEngine::GetServerDeadSessionInterval() const {
  return GetInstance().ServerDeadSessionInterval;
}
void TBRNEngine::SetServerDeadSessionInterval(int32_t value) {
  setInteger(GetInstance(), GetInstance().ServerDeadSessionInterval, value, 30);
}
int32_t TBRNEngine::GetServerDeadSessionExpiration() const {
  return GetInstance().ServerDeadSessionExpiration;
}
void TBRNEngine::SetServerDeadSessionExpiration(int32_t value) {
  setInteger(GetInstance(), GetInstance().ServerDeadSessionExpiration, value, 10);
}
int32_t TBRNEngine::GetServerMaxDeadSessions() const {
  return GetInstance().ServerMaxDeadSessions;
}
void TBRNEngine::SetServerMaxDeadSessions(int32_t value) {
  setInteger(GetInstance(), GetInstance().ServerMaxDeadSessions, value, 1);
}
const TStringList& TBRNEngine::GetServerAuthorizedAddresses() const {
  return GetInstance().ServerAuthorizedAddresses;
}
void TBRNEngine::SetServerAuthorizedAddresses(const TStringList& value) {
  GetInstance().CheckNotStarted();
  GetInstance().ServerAuthorizedAddresses.Assign(value);
}
const TStringList& TBRNEngine::GetServerBlockedAddresses() const {
  return GetInstance().ServerBlockedAddresses;
}
void TBRNEngine::SetServerBlockedAddresses(const TStringList& value) {
  GetInstance().CheckNotStarted();
  GetInstance().ServerBlockedAddresses.Assign(value);
}
bool TBRNEngine::GetServerRunJobs() const {
  return GetInstance().ServerRunJobs;
}
void TBRNEngine::SetServerRunJobs(bool value) {
  setBool(GetInstance(), GetInstance().ServerRunJobs, value);
}
const std::string& TBRNEngine::GetServerJobCategory() const {
  return GetInstance().ServerJobCategory;
}
void TBRNEngine::SetServerJobCategory(const std::string& value) {
  setIgnoringCase(GetInstance(), GetInstance().ServerJobCategory, value);
}

void TBRNEngine::SetBeforeStart(TNotifyEvent handler) {
  GetInstance().BeforeStart = {std::move(handler), this};
}
void TBRNEngine::SetBeforeStop(TNotifyEvent handler) {
  GetInstance().BeforeStop = {std::move(handler), this};
}
void TBRNEngine::SetAfterStart(TNotifyEvent handler) {
  GetInstance().AfterStart = {std::move(handler), this};
}
void TBRNEngine::SetAfterStop(TNotifyEvent handler) {
  GetInstance().AfterStop = {std::move(handler), this};
}
void TBRNEngine::SetOnServerSessionEvent(TBRNServerSessionEvent handler) {
  GetInstance().OnServerSessionEvent = {std::move(handler), this};
}
void TBRNEngine::SetOnServerSessionLogin(TBRNServerSessionLoginEvent handler) {
  GetInstance().OnServerSessionLogin = {std::move(handler), this};
}
void TBRNEngine::SetOnServerProcedure(TBRNServerProcedureEvent handler) {
  GetInstance().OnServerProcedure = {std::move(handler), this};
}

void TBRNEngine::AddSession(TBRNSession* session) {
  GetInstance().AddSession(session);
}
void TBRNEngine::RemoveSession(TBRNSession* session) {
  GetInstance().RemoveSession(session);
}
TBRNSession* TBRNEngine::GetSession(const std::string& name) {
  return GetInstance().GetSession(name);
}
TBRNSession* TBRNEngine::FindSession(const std::string& name) {
  return GetInstance().FindSession(name);
}
int32_t TBRNEngine::AllocateSessionNumber() {
  return GetInstance().AllocateSessionNumber();
}
void TBRNEngine::ReleaseSessionNumber(int32_t number) {
  GetInstance().ReleaseSessionNumber(number);
}
std::string TBRNEngine::GetDefaultTempTablesPath() const {
  return GetInstance().GetEngineManager().Environment->GetTempPath();
}

int64_t TBRNEngine::GetServerUpTime() {
  GetInstance().CheckStarted();
  TBRNServerEngineManager* server = GetInstance().GetServerEngineManager();
  return server != nullptr ? server->GetUpTime() : -1;
}

int32_t TBRNEngine::GetServerConnectedSessionCount() {
  GetInstance().CheckStarted();
  TBRNServerEngineManager* server = GetInstance().GetServerEngineManager();
  return server != nullptr ? server->GetConnectedSessionCount() : 0;
}

bool TBRNEngine::DisconnectServerSession(int32_t sessionId) {
  GetInstance().CheckStarted();
  TBRNServerEngineManager* server = GetInstance().GetServerEngineManager();
  return server != nullptr && server->DisconnectServerSession(sessionId);
}

bool TBRNEngine::RemoveServerSession(int32_t sessionId) {
  GetInstance().CheckStarted();
  TBRNServerEngineManager* server = GetInstance().GetServerEngineManager();
  return server != nullptr && server->RemoveServerSession(sessionId);
}

TBRNEngineManager& TBRNEngine::GetEngineManager() const {
  return GetInstance().GetEngineManager();
}

}  // namespace brn
