#include "sessions/local/local_session_manager.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "foundation/files/file_manager.h"
#include "foundation/files/path_helpers.h"
#include "foundation/locks/compression.h"
#include "foundation/runtime/clean_up_steps.h"
#include "foundation/text/collation.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/lockable_config_object.h"
#include "metadata/core/type_lists.h"
#include "metadata/modules/module.h"
#include "metadata/modules/text_filters.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/config_lock_manager.h"
#include "sessions/local/config_manager.h"
#include "sessions/local/evaluator_factory.h"
#include "sessions/local/local_log_manager.h"
#include "sessions/stores/local_store_manager.h"
#include "sql/builder/sql_builder.h"
#include "sql/parser/expr_parser.h"
#include "sql/validator/expr_validator.h"

namespace brn {

namespace {

struct BuiltInDataType {
  const char* Name;
  const char* Description;
  TBRNDataTypeCode Type;
  TBRNDataSubType SubType;
};

// In the order of the DataTypes table.
constexpr BuiltInDataType kBuiltInDataTypes[] = {
    {"Char", "Fixed-length character type", dtChar, 130},
    {"VarChar", "Variable-length character type", dtChar, 0},
    {"GUID", "GUID type", dtChar, 140},
    {"Byte", "Fixed-length binary type", dtBytes, 130},
    {"VarByte", "Variable-length binary type", dtBytes, 0},
    {"BLOB", "Large variable-length binary object type", dtLob, 0},
    {"CLOB", "Large variable-length character object type", dtLob, 150},
    {"Boolean", "Boolean type", dtBoolean, 0},
    {"SmallInt", "Signed 16-bit integer type", dtSmallInt, 0},
    {"Integer", "Signed 32-bit integer type", dtInteger, 0},
    {"BigInt", "Signed 64-bit integer type", dtBigInt, 0},
    {"Float", "Double-precision floating point type", dtFloat, 0},
    {"Decimal", "Fixed-point numeric type with a maximum scale of 4", dtDecimal, 0},
    {"Date", "Date type", dtDate, 0},
    {"Time", "Time type", dtTime, 0},
    {"Timestamp", "Date and time type", dtTimestamp, 0},
    {"Interval Year", "Interval between two dates in years", dtYearMonthInterval, 4},
    {"Interval Year To Month", "Interval between two dates in years and months",
     dtYearMonthInterval, 6},
    {"Interval Month", "Interval between two dates in months", dtYearMonthInterval, 2},
    {"Interval Day", "Interval between two dates in days", dtDayTimeInterval, 128},
    {"Interval Day To Hour", "Interval between two dates in days and hours", dtDayTimeInterval,
     192},
    {"Interval Day To Minute", "Interval between two dates in days, hours, and minutes",
     dtDayTimeInterval, 224},
    {"Interval Day To Second", "Interval between two dates in days, hours, minutes, and seconds",
     dtDayTimeInterval, 240},
    {"Interval Day To MSecond",
     "Interval between two dates in days, hours, minutes, seconds, and milliseconds",
     dtDayTimeInterval, 248},
    {"Interval Hour", "Interval between two dates and/or times in hours", dtDayTimeInterval, 64},
    {"Interval Hour To Minute", "Interval between two dates and/or times in hours and minutes",
     dtDayTimeInterval, 96},
    {"Interval Hour To Second",
     "Interval between two dates and/or times in hours, minutes, and seconds", dtDayTimeInterval,
     112},
    {"Interval Hour To MSecond",
     "Interval between two dates and/or times in hours, minutes, seconds, and milliseconds",
     dtDayTimeInterval, 120},
    {"Interval Minute", "Interval between two dates and/or times in minutes", dtDayTimeInterval,
     32},
    {"Interval Minute To Second", "Interval between two dates and/or times in minutes and seconds",
     dtDayTimeInterval, 48},
    {"Interval Minute To MSecond",
     "Interval between two dates and/or times in minutes, seconds, and milliseconds",
     dtDayTimeInterval, 56},
    {"Interval Second", "Interval between two dates and/or times in seconds", dtDayTimeInterval,
     16},
    {"Interval Second To MSecond",
     "Interval between two dates and/or times in seconds and milliseconds", dtDayTimeInterval, 24},
    {"Interval MSecond", "Interval between two dates and/or times in milliseconds",
     dtDayTimeInterval, 8},
};

// The buffer protocol of the module requests that answer a text.
void answerText(const std::string& text, int32_t* size, char* buffer) {
  if (size == nullptr) return;
  const int32_t length = int32_t(text.size());
  if (buffer == nullptr) {
    *size = length;
    return;
  }
  if (*size >= length) std::memcpy(buffer, text.data(), size_t(length));
}

std::string requestText(const int32_t* size, const char* buffer) {
  if (size == nullptr || buffer == nullptr || *size <= 0) return std::string();
  return std::string(buffer, size_t(*size));
}

}  // namespace

// ---- Construction

TBRNLocalSessionManager::TBRNLocalSessionManager(TBRNEngineManager* engine, bool locked,
                                                 bool registerTables, bool serverSession)
    : TBRNEngineSessionManager(engine, locked, serverSession),
      SessionSettings(std::make_unique<TBRNLocalSessionEngineManagerSettings>(
          engine, this, engine->Settings->GetTempTablesPath())),
      RegisterTables(registerTables) {
  SessionSettings->Assign(engine->Settings.get());
  PublishSessionInfo(this, SessionInfo);
}

TBRNLocalSessionManager::~TBRNLocalSessionManager() {
  WithdrawSessionInfo(this);
  try {
    CloseSession();
  } catch (...) {
    // A destructor cannot report; CloseSession ran every step regardless.
  }
  SessionSettings.reset();
}

// ---- Errors and checks of the session

void TBRNLocalSessionManager::RaiseLoginError(const std::string& detail) {
  throw EBRNException(501, FormatText("Login failed (%s)", {detail}));
}

void TBRNLocalSessionManager::RaiseNotLoggedInError(const std::string& statement) {
  throw EBRNException(
      500,
      FormatText("A user must be logged in in order to perform this operation (%s)", {statement}));
}

bool TBRNLocalSessionManager::IsLoggedIn() {
  return CurrentUser != nullptr;
}

void TBRNLocalSessionManager::RequireLogin(const std::string& statement) {
  if (!IsLoggedIn()) RaiseNotLoggedInError(statement);
}

void TBRNLocalSessionManager::RaiseConfigurationError(const std::string& message) {
  throw EBRNException(409, message);
}

std::unique_ptr<TBRNConfigLockManager> TBRNLocalSessionManager::CreateConfigLockManager() {
  return std::make_unique<TBRNConfigLockManager>(Config.get(), this, FileManager);
}

void TBRNLocalSessionManager::CheckConfigPath() {
  if (!SessionSettings->GetConfigMemory() && SessionSettings->GetConfigPath().empty())
    RaiseConfigurationError("The configuration path is empty");
}

void TBRNLocalSessionManager::RaiseAdminRequiredError(const std::string& statement) {
  throw EBRNException(
      502, FormatText("Administrator privileges are required to perform this operation (%s)",
                      {statement}));
}

void TBRNLocalSessionManager::RaiseConfigReadOnlyError(const std::string& statement) {
  throw EBRNException(
      403, FormatText("The %s %s is read-only and this operation cannot be performed (%s)",
                      {Config->GetObjectTypeName(), Config->GetName(), statement}));
}

void TBRNLocalSessionManager::RaisePrivilegeError(const std::string& statement) {
  throw EBRNException(
      503,
      FormatText(
          "The current user does not have the proper privileges to perform this operation (%s)",
          {statement}));
}

void TBRNLocalSessionManager::DisconnectSession(int32_t) {}

void TBRNLocalSessionManager::RemoveSession(int32_t) {}

std::unique_ptr<TBRNStoreManager> TBRNLocalSessionManager::CreateStoreManager(TBRNStore* store) {
  // A plain local session gives every store a local handle, a remote one
  // too (it takes the store's lock and touches no folder); sessions that
  // reach other servers override this to give remote stores their own.
  return std::make_unique<TBRNLocalStoreManager>(store, FileManager, this);
}

void TBRNLocalSessionManager::RaiseObjectError(TBRNConfigObject* object,
                                               const std::string& message) {
  throw EBRNException(202, FormatText("An error occurred with the %s %s (%s)",
                                      {object->GetObjectTypeName(), object->GetName(), message}));
}

// ---- Tools and configuration objects

void TBRNLocalSessionManager::OpenConfiguration() {
  if (ToolsBuilt) return;
  CheckConfigPath();
  try {
    Evaluator = CreateSessionEvaluator(*this);
    CompressionManager = std::make_unique<TBRNCompressionManager>();
    Parser = std::make_unique<TBRNExprParser>();
    Validator = std::make_unique<TBRNExprValidator>(SessionSettings->GetStandardNullBehavior());
    Builder = std::make_unique<TBRNExprBuilder>();

    Config = std::make_unique<TBRNConfig>();
    Config->SetName(SessionSettings->GetConfigName());
    Config->Path = SessionSettings->GetConfigPath();
    Config->Parser = Parser.get();
    Config->Validator = Validator.get();
    setConfigHooks();

    FileManager = Engine->GetFileManager(SessionSettings->GetConfigMemory(),
                                         SessionSettings->GetLargeFileSupport());
    registerDataTypes();
    registerCollations();

    ConfigLockManager = CreateConfigLockManager();
    ConfigLockManager->SetLockFileName(SessionSettings->GetConfigName() +
                                       SessionSettings->GetLockExtension());

    ConfigManager = std::make_unique<TBRNConfigManager>(Config.get(), this, FileManager,
                                                        ConfigLockManager.get());
    ConfigManager->FileName =
        SessionSettings->GetConfigName() + SessionSettings->GetConfigExtension();
    ConfigManager->BackupFileName = ConfigManager->FileName + SessionSettings->GetOldExtension();
    ConfigManager->InitializeHeader();
    ConfigManager->OnLoadedOrSaved = [this](TBRNLockableConfigObject*) { configLoadedOrSaved(); };
    ConfigManager->OnBeforeSave = [this](TBRNLockableConfigObject*) {
      Config->SetVersion(Engine->MetadataVersion);
    };

    Log = std::make_unique<TBRNLog>(Config.get());
    Log->SetName(SessionSettings->GetConfigName());
    LogManager = std::make_unique<TBRNLocalLogManager>(Log.get(), this, ConfigLockManager.get(),
                                                       FileManager);
    LogManager->LogFileName = SessionSettings->GetConfigName() + SessionSettings->GetLogExtension();
    LogManager->MaxSize = SessionSettings->GetMaxLogFileSize();
    LogManager->OnChange = [this](TBRNLockable*) { logChanged(); };

    LogEvent = TBRNLogEvent();
    BackupsStore.clear();
    FilesStore.clear();
    UpdatesStore.clear();
    Migrator.clear();
    ToolsBuilt = true;
  } catch (...) {
    CloseConfiguration();
    throw;
  }
}

void TBRNLocalSessionManager::CloseConfiguration() {
  LogEvent = TBRNLogEvent();
  LogManager.reset();
  Log.reset();
  ConfigManager.reset();
  ConfigLockManager.reset();
  // Nothing may still name a user of the configuration that goes now.
  CurrentUser = nullptr;
  UserID = 0;
  UserStack.clear();
  CurrentUserName.clear();
  Config.reset();
  FileManager = nullptr;
  Builder.reset();
  Validator.reset();
  Parser.reset();
  CompressionManager.reset();
  Evaluator.reset();
  ToolsBuilt = false;
}

void TBRNLocalSessionManager::setConfigHooks() {
  TBRNConfigHooks& hooks = Config->Hooks;
  hooks.OnCatalogReadBegin = [this](TBRNDatabaseContainer* database) {
    beginCatalogRead(database);
  };
  hooks.OnCatalogReadEnd = [this](TBRNDatabaseContainer* database) { endCatalogRead(database); };
  hooks.OnCatalogUpdateBegin = [this](TBRNDatabaseContainer* database) {
    beginCatalogUpdate(database);
  };
  hooks.OnCatalogUpdateCancel = [this](TBRNDatabaseContainer* database) {
    cancelCatalogUpdate(database);
  };
  hooks.OnCatalogUpdateCommit = [this](TBRNDatabaseContainer* database) {
    commitCatalogUpdate(database);
  };
  hooks.OnObjectUnloaded = [this](TBRNConfigObject* object) { ReleaseObjectHandles(object); };
  hooks.OnModuleLoading = [this](TBRNModule* module) { lockModule(module); };
  hooks.OnModuleLoadFailed = [this](TBRNModule* module, const EBRNException& error) {
    moduleLoadFailed(module, error);
  };
  hooks.OnModuleUnloaded = [this](TBRNModule* module) { unlockModule(module); };
  hooks.OnModuleCallback = [this](TBRNModule* module, int32_t request, int32_t* size,
                                  char* buffer) { ModuleCallback(module, request, size, buffer); };
  hooks.GetCollationName = [this](int32_t collationId, std::string& name) {
    GetCollationName(collationId, name);
  };
}

void TBRNLocalSessionManager::registerDataTypes() {
  for (const BuiltInDataType& entry : kBuiltInDataTypes) {
    auto dataType = std::make_unique<TBRNDataType>(Config.get());
    dataType->SetName(entry.Name);
    dataType->SetDescription(entry.Description);
    dataType->DataType = entry.Type;
    dataType->DataSubType = entry.SubType;
    Config->DataTypes->AddObject(dataType.get());
    dataType.release();
  }
}

void TBRNLocalSessionManager::registerCollations() {
  for (const TBRNLocale& locale : Engine->Environment->Locales) {
    if (Config->Collations->FindByName(locale.Abbreviation, false) != nullptr) continue;
    auto collation = std::make_unique<TBRNCollation>(Config.get());
    collation->SetID(locale.Id);
    collation->SetName(locale.Abbreviation);
    collation->SetDescription(locale.Name);
    Config->Collations->AddObject(collation.get());
    collation.release();
  }
}

// ---- File placement

std::string TBRNLocalSessionManager::GetSessionFolder() const {
  return AddTrailingBackslash(Identity) + AddTrailingBackslash(IntegerToString(Handle)) +
         AddTrailingBackslash(SessionName);
}

std::string TBRNLocalSessionManager::GetConfigFileName(const std::string& name) const {
  if (!SessionSettings->GetConfigMemory())
    return AddTrailingBackslash(SessionSettings->GetConfigPath()) + name;
  if (SessionSettings->GetConfigPrivate()) return GetSessionFolder() + name;
  return name;
}

// ---- Open and close

void TBRNLocalSessionManager::OpenSession(const std::string& identity,
                                          const std::string& sessionName,
                                          const std::string& description) {
  if (Opened) return;
  try {
    OpenConfiguration();
    TBRNEngineSessionManager::OpenSession(identity, sessionName, description);
    PublishSessionFields();
    OpenConfigurationFiles();
  } catch (...) {
    try {
      CloseConfigurationFiles();
    } catch (...) {
      // The open's failure is the one to report.
    }
    Opened = false;
    CloseConfiguration();
    throw;
  }
}

void TBRNLocalSessionManager::CloseSession() {
  TBRNCleanUpSteps steps;
  if (Opened) {
    steps.Run([&] { Logout(); });
    steps.Run([&] { CloseConfigurationFiles(); });
    Opened = false;
  }
  CloseConfiguration();
  steps.RaiseFirst();
}

void TBRNLocalSessionManager::OpenConfigurationFiles() {
  ConfigLockManager->Open();
  ConfigManager->Open();
  LogManager->Open();
  TBRNDatabaseContainer* configuration = Config->ConfigurationDatabase;
  configuration->Path = GetSessionFolder() + configuration->Name;
  ConfigurationDatabase = GetDatabaseManager(configuration);
  ConfigurationDatabase->OpenDatabase(kBRNLockShared);
  if (RegisterTables) {
    TBRNSystemUserScope asSystem(*this);
    RegisteringTables = true;
    struct Clear {
      bool& Flag;
      ~Clear() { Flag = false; }
    } clear{RegisteringTables};
    RegisterSystemTables();
  }
}

void TBRNLocalSessionManager::RegisterSystemTables() {
  TBRNDatabaseContainer* entry = Config->ConfigurationDatabase;
  const bool readOnly = entry->ReadOnly;
  entry->ReadOnly = false;
  try {
    RegisterConfigurationTables(*this);
  } catch (...) {
    entry->ReadOnly = readOnly;
    throw;
  }
  entry->ReadOnly = readOnly;
}

void TBRNLocalSessionManager::CloseConfigurationFiles() {
  TBRNCleanUpSteps steps;
  if (Config) {
    for (int32_t i = 0; i < Config->TextFilters->Count(); ++i)
      steps.Run([&] { static_cast<TBRNTextFilter*>(Config->TextFilters->GetItem(i))->Close(); });
    for (int32_t i = 0; i < Config->WordGenerators->Count(); ++i)
      steps.Run(
          [&] { static_cast<TBRNWordGenerator*>(Config->WordGenerators->GetItem(i))->Close(); });
  }
  int32_t position = 0;
  TBRNHandleObject* object = nullptr;
  while (Databases.NextObject(position, object)) {
    auto* database = static_cast<TBRNLocalDatabaseManager*>(object);
    steps.Run([&] { database->UnprepareAllHandles(); });
  }
  closeDatabaseHandles();
  closeStoreHandles();
  // The caches go after the cursors that used them (freed with the handles).
  steps.Run([&] { CachedUpdates.reset(); });
  if (ConfigurationDatabase != nullptr) {
    TBRNLocalDatabaseManager* configuration = ConfigurationDatabase;
    steps.Run([&] {
      TBRNDatabaseManager* handle = configuration;
      TBRNSessionManager::CloseDatabase(handle);
      configuration->CloseDatabase(true);
    });
    steps.Run([&] {
      TBRNSystemUserScope asSystem(*this);
      DroppingConfiguration = true;
      struct Clear {
        bool& Flag;
        ~Clear() { Flag = false; }
      } clear{DroppingConfiguration};
      configuration->DropDatabase(false);
    });
  }
  ConfigurationDatabase = nullptr;
  Databases.Clear();
  Stores.Clear();
  databaseHandles_.clear();
  storeHandles_.clear();

  const bool deleteFiles =
      SessionSettings->GetConfigMemory() && SessionSettings->GetConfigPrivate();
  if (ConfigManager) {
    steps.Run([&] {
      if (deleteFiles && ConfigManager->Opened) {
        ConfigManager->DeleteFile();
      } else {
        ConfigManager->Close();
        // A file whose creation failed is open without the manager being so.
        ConfigManager->CloseFile();
      }
    });
  }
  if (LogManager) {
    steps.Run([&] {
      if (deleteFiles && LogManager->Opened)
        LogManager->CloseAndDelete();
      else
        LogManager->Close();
    });
  }
  if (ConfigLockManager) {
    steps.Run([&] {
      if (deleteFiles && ConfigLockManager->Opened)
        ConfigLockManager->CloseAndDelete();
      else
        ConfigLockManager->Close();
    });
  }
  steps.RaiseFirst();
}

void TBRNLocalSessionManager::closeDatabaseHandles() {
  int32_t position = 0;
  TBRNHandleObject* object = nullptr;
  while (Databases.NextObject(position, object)) {
    auto* database = static_cast<TBRNLocalDatabaseManager*>(object);
    if (database == ConfigurationDatabase) continue;
    try {
      TBRNDatabaseManager* handle = database;
      TBRNSessionManager::CloseDatabase(handle);  // drops the session-wide handles first
      database->CloseDatabase(true);
    } catch (...) {
      // A forced close releases what it holds also when it fails; the
      // handle is freed below regardless.
    }
  }
}

void TBRNLocalSessionManager::closeStoreHandles() {
  int32_t position = 0;
  TBRNHandleObject* object = nullptr;
  while (Stores.NextObject(position, object)) {
    try {
      static_cast<TBRNStoreManager*>(object)->CloseStore(true);
    } catch (...) {
      // As for databases: the handle goes regardless.
    }
  }
}

int32_t TBRNLocalSessionManager::GetTicks() {
  return Engine->Environment->GetTickCount();
}

int32_t TBRNLocalSessionManager::GetElapsedTicks(int32_t startTicks, int32_t stopTicks) {
  return Engine->Environment->GetElapsedTicks(startTicks, stopTicks);
}

void TBRNLocalSessionManager::GetCollationName(int32_t collationId, std::string& name) {
  Engine->BuildCollationName(collationId, name);
}

void TBRNLocalSessionManager::CloseDatabase(TBRNDatabaseManager*& database) {
  TBRNSessionManager::CloseDatabase(database);
  database = nullptr;
}

void TBRNLocalSessionManager::CloseStore(TBRNStoreManager*& store) {
  TBRNSessionManager::CloseStore(store);
  store = nullptr;
}



// ---- Login and the current user

void TBRNLocalSessionManager::Login(const std::string& userName, const std::string& password) {
  if (!Opened) throw std::logic_error("Login on a session that is not open");
  try {
    ConfigManager->BeginRead();
    struct EndRead {
      TBRNConfigManager& Manager;
      ~EndRead() { Manager.EndRead(); }
    } endRead{*ConfigManager};
    std::string name = userName;
    std::string secret = password;
    bool have = !name.empty() && !secret.empty();
    bool proceed = true;
    int32_t failures = 0;
    while (CurrentUser == nullptr) {
      if (!have) have = PromptLogin(name, secret, proceed);
      if (!have) RaiseLoginError("The user name or password is incorrect");
      if (!proceed) RaiseLoginError("Login aborted");
      auto* user = static_cast<TBRNUser*>(Config->Users->FindByName(name, false));
      if (user != nullptr && user->CheckPassword(secret)) {
        // The lock first: a user who cannot be locked is not logged in.
        ConfigLockManager->LockObject(user, ltShared, -1);
        CurrentUser = user;
        UserID = user->ID;
        refreshUserName();
        WriteLogEvent(lcInformation, kBRNOperationLogin, 0, std::string());
        break;
      }
      UserID = 0;
      name.clear();
      secret.clear();
      if (++failures > 2) RaiseLoginError("The maximum number of login attempts has been exceeded");
      have = false;
    }
  } catch (const std::exception& error) {
    LogOperationError(error, kBRNOperationLogin);
    throw;
  }
}

void TBRNLocalSessionManager::Logout() {
  if (CurrentUser == nullptr && UserStack.empty()) return;
  TBRNUser* user = UserStack.empty() ? CurrentUser : UserStack.front();
  if (user == nullptr) return;
  try {
    ConfigLockManager->UnlockObject(user, ltShared);
    WriteLogEvent(lcInformation, kBRNOperationLogout, 0, std::string());
    CurrentUser = nullptr;
    UserID = 0;
    UserStack.clear();
    refreshUserName();
  } catch (const std::exception& error) {
    LogOperationError(error, kBRNOperationLogout);
    throw;
  }
}

void TBRNLocalSessionManager::GetUserName(std::string& name) {
  if (UserStack.empty()) {
    name = CurrentUserName;
    return;
  }
  TBRNUser* user = UserStack.front();
  name = user != nullptr ? user->GetName() : std::string();
}

void TBRNLocalSessionManager::refreshUserName() {
  CurrentUserName = CurrentUser != nullptr ? CurrentUser->GetName() : std::string();
  std::string loggedIn;
  GetUserName(loggedIn);
  if (loggedIn != loggedInName_) {
    loggedInName_ = loggedIn;
    PublishSessionFields();
  }
}

void TBRNLocalSessionManager::PublishSessionFields() {
  SessionInfo->Update([this](TBRNSessionInfo& info) {
    info.Name = SessionName;
    info.Description = SessionDescription;
    info.Identity = Identity;
    info.UserName = loggedInName_;
  });
}

void TBRNLocalSessionManager::PushCurrentUser() {
  UserStack.push_back(CurrentUser);
  refreshUserName();
}

void TBRNLocalSessionManager::PopCurrentUser() {
  if (UserStack.empty()) return;
  CurrentUser = UserStack.back();
  UserStack.pop_back();
  refreshUserName();
}

void TBRNLocalSessionManager::SetCurrentUser(TBRNUser* user) {
  CurrentUser = user;
  refreshUserName();
}

TBRNUser* TBRNLocalSessionManager::GetCallingUser() const {
  return UserStack.empty() ? nullptr : UserStack.back();
}

bool TBRNLocalSessionManager::IsSystemUser(TBRNUser* user) const {
  TBRNUser* subject = user != nullptr ? user : CurrentUser;
  return Config != nullptr && subject != nullptr && subject == Config->SystemUser;
}

bool TBRNLocalSessionManager::IsAdministratorUser(TBRNUser* user) const {
  TBRNUser* subject = user != nullptr ? user : CurrentUser;
  return Config != nullptr && subject != nullptr && Config->IsAdministrator(subject);
}

void TBRNLocalSessionManager::RequireAdministrator(const std::string& statement) {
  if (!IsAdministratorUser()) RaiseAdminRequiredError(statement);
}

void TBRNLocalSessionManager::RequireWritableConfig(const std::string& statement) {
  if (!Config) throw std::logic_error("The session has no configuration");
  if (Config->GetReadOnly()) RaiseConfigReadOnlyError(statement);
}

void TBRNLocalSessionManager::CheckPrivilege(TBRNPrivilegedConfigObject* object, int32_t kind,
                                             const std::string& statement) {
  if (CurrentUser == nullptr || !object->HasPrivilege(CurrentUser, kind))
    RaisePrivilegeError(statement);
}

void TBRNLocalSessionManager::LogOperationError(const std::exception& error, int32_t operation) {
  try {
    if (const auto* engineError = dynamic_cast<const EBRNException*>(&error))
      WriteLogEvent(lcError, operation, engineError->ErrorCode, engineError->ErrorMessage);
    else
      WriteLogEvent(lcError, operation, kBRNUnknownErrorCode, error.what());
  } catch (...) {
    // The failure being logged is the one to report.
  }
}

TBRNSystemUserScope::TBRNSystemUserScope(TBRNLocalSessionManager& session) : session_(session) {
  session_.PushCurrentUser();
  session_.SetCurrentUser(session_.Config->SystemUser);
}

TBRNSystemUserScope::~TBRNSystemUserScope() {
  session_.PopCurrentUser();
}

// ---- Database and store handles

TBRNLocalDatabaseManager* TBRNLocalSessionManager::GetDatabaseManager(
    TBRNDatabaseContainer* container) {
  auto found = databaseHandles_.find(container);
  if (found != databaseHandles_.end()) {
    if (TBRNHandleObject* object = Databases.FindObject(found->second))
      return static_cast<TBRNLocalDatabaseManager*>(object);
    databaseHandles_.erase(found);
  }
  const bool notCursorCache = !TextEqualsIgnoreCase(container->GetName(), kCursorCacheDatabaseName);
  TBRNFileManager* fileManager = Engine->GetDatabaseFileManager(
      container->GetName(), container->InMemory, SessionSettings->GetLargeFileSupport());
  auto manager =
      std::make_unique<TBRNLocalDatabaseManager>(container, fileManager, this, notCursorCache);
  Databases.AddObject(manager.get(), false);
  TBRNLocalDatabaseManager* result = manager.release();
  databaseHandles_[container] = result->Handle;
  return result;
}

TBRNStoreManager* TBRNLocalSessionManager::GetStoreManager(TBRNStore* store) {
  auto found = storeHandles_.find(store);
  if (found != storeHandles_.end()) {
    if (TBRNHandleObject* object = Stores.FindObject(found->second))
      return static_cast<TBRNStoreManager*>(object);
    storeHandles_.erase(found);
  }
  std::unique_ptr<TBRNStoreManager> manager = CreateStoreManager(store);
  Stores.AddObject(manager.get(), false);
  TBRNStoreManager* result = manager.release();
  storeHandles_[store] = result->Handle;
  return result;
}

int32_t TBRNLocalSessionManager::GetDatabaseHandle(const TBRNDatabaseContainer* container) const {
  auto found = databaseHandles_.find(container);
  return found != databaseHandles_.end() && Databases.IsHandleUsed(found->second) ? found->second
                                                                                  : 0;
}

int32_t TBRNLocalSessionManager::GetStoreHandle(const TBRNStore* store) const {
  auto found = storeHandles_.find(store);
  return found != storeHandles_.end() && Stores.IsHandleUsed(found->second) ? found->second : 0;
}

void TBRNLocalSessionManager::ReleaseObjectHandles(TBRNConfigObject* object) {
  if (auto* container = dynamic_cast<TBRNDatabaseContainer*>(object)) {
    const int32_t handle = GetDatabaseHandle(container);
    databaseHandles_.erase(container);
    if (handle == 0) return;
    auto* database = static_cast<TBRNLocalDatabaseManager*>(Databases.FindObject(handle));
    if (database == ConfigurationDatabase) ConfigurationDatabase = nullptr;
    TBRNCleanUpSteps steps;
    steps.Run([&] {
      TBRNDatabaseManager* view = database;
      TBRNSessionManager::CloseDatabase(view);
      database->CloseDatabase(true);
    });
    Databases.RemoveObject(database, false);
    delete database;
    steps.RaiseFirst();
    return;
  }
  if (auto* store = dynamic_cast<TBRNStore*>(object)) {
    const int32_t handle = GetStoreHandle(store);
    storeHandles_.erase(store);
    if (handle == 0) return;
    TBRNHandleObject* manager = Stores.FindObject(handle);
    TBRNCleanUpSteps steps;
    steps.Run([&] { static_cast<TBRNStoreManager*>(manager)->CloseStore(true); });
    Stores.RemoveObject(manager, false);
    delete manager;
    steps.RaiseFirst();
    return;
  }
  if (auto* schemaObject = dynamic_cast<TBRNPrivilegedSchemaObject*>(object)) {
    int32_t position = 0;
    TBRNHandleObject* entry = nullptr;
    while (Databases.NextObject(position, entry)) {
      auto* database = static_cast<TBRNLocalDatabaseManager*>(entry);
      for (TBRNSchemaObjectManagers* list :
           {static_cast<TBRNSchemaObjectManagers*>(database->TableManagers.get()),
            static_cast<TBRNSchemaObjectManagers*>(database->ViewManagers.get()),
            static_cast<TBRNSchemaObjectManagers*>(database->RoutineManagers.get())}) {
        if (list == nullptr) continue;
        int32_t managerPosition = 0;
        TBRNSchemaObjectManager* manager = nullptr;
        while (list->NextManager(managerPosition, manager)) {
          if (manager->GetCatalogObject() == schemaObject) manager->ForceClose();
        }
      }
    }
  }
}

// ---- Configuration hooks

void TBRNLocalSessionManager::beginCatalogRead(TBRNDatabaseContainer* database) {
  TBRNLocalDatabaseManager* manager = GetDatabaseManager(database);
  manager->OpenDatabase(kBRNLockShared);
  try {
    manager->CatalogManager->BeginRead();
  } catch (...) {
    manager->CloseDatabase(false);
    throw;
  }
}

void TBRNLocalSessionManager::endCatalogRead(TBRNDatabaseContainer* database) {
  TBRNLocalDatabaseManager* manager = GetDatabaseManager(database);
  TBRNCleanUpSteps steps;
  steps.Run([&] { manager->CatalogManager->EndRead(); });
  steps.Run([&] { manager->CloseDatabase(false); });
  steps.RaiseFirst();
}

void TBRNLocalSessionManager::beginCatalogUpdate(TBRNDatabaseContainer* database) {
  TBRNLocalDatabaseManager* manager = GetDatabaseManager(database);
  manager->OpenDatabase(kBRNLockShared);
  try {
    manager->CatalogManager->BeginUpdate();
  } catch (...) {
    manager->CloseDatabase(false);
    throw;
  }
}

void TBRNLocalSessionManager::cancelCatalogUpdate(TBRNDatabaseContainer* database) {
  TBRNLocalDatabaseManager* manager = GetDatabaseManager(database);
  TBRNCleanUpSteps steps;
  steps.Run([&] { manager->CatalogManager->CancelUpdate(); });
  steps.Run([&] { manager->CloseDatabase(false); });
  steps.RaiseFirst();
}

void TBRNLocalSessionManager::commitCatalogUpdate(TBRNDatabaseContainer* database) {
  TBRNLocalDatabaseManager* manager = GetDatabaseManager(database);
  TBRNCleanUpSteps steps;
  steps.Run([&] { manager->CatalogManager->CommitUpdate(); });
  steps.Run([&] { manager->CloseDatabase(false); });
  steps.RaiseFirst();
}

void TBRNLocalSessionManager::lockModule(TBRNModule* module) {
  if (module->GetTransient()) return;
  ConfigLockManager->LockObject(module, ltShared, -1);
}

void TBRNLocalSessionManager::unlockModule(TBRNModule* module) {
  if (module->GetTransient() || !ConfigLockManager) return;
  ConfigLockManager->UnlockObject(module, ltShared);
}

void TBRNLocalSessionManager::moduleLoadFailed(TBRNModule* module, const EBRNException& error) {
  if (module->GetTransient()) return;
  try {
    ConfigLockManager->UnlockObject(module, ltShared);
  } catch (...) {
    // The load error is the one the caller is about to raise.
  }
  LogOperationError(error, kBRNOperationConnect);
}

void TBRNLocalSessionManager::configLoadedOrSaved() {
  // The system information tables rebuild from the configuration at their
  // next use.
  if (ConfigurationDatabase == nullptr || !IsLoggedIn()) return;
  ConfigurationDatabase->SystemTables.Invalidate(TBRNSystemTableKind::Configuration);
}

void TBRNLocalSessionManager::logChanged() {
  if (ConfigurationDatabase == nullptr || !IsLoggedIn()) return;
  ConfigurationDatabase->SystemTables.Invalidate(TBRNSystemTableKind::Configuration, "LogEvents");
}

void TBRNLocalSessionManager::ModuleCallback(TBRNModule*, int32_t request, int32_t* size,
                                             char* buffer) {
  switch (request) {
    case 1:
      answerText(SessionSettings->GetConfigPath(), size, buffer);
      break;
    case 2:
      answerText(SessionSettings->GetTempTablesPath(), size, buffer);
      break;
    case 3: {
      if (size == nullptr) return;
      const bool proceed = ForceProgress(*size);
      *size = proceed ? 1 : 0;
      break;
    }
    case 4:
      StatusMessage(requestText(size, buffer), true);
      break;
    case 5:
      LogMessage(requestText(size, buffer));
      break;
    default:
      break;
  }
}

}  // namespace brn
