#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clientserver/server/server_engine_manager.h"
#include "foundation/locks/log_manager.h"
#include "platform/bits.h"
#include "platform/component.h"
#include "platform/float_date.h"
#include "platform/string_list.h"

namespace brn {

class TBRNEngine;
class TBRNEngineManager;
class TBRNServerProcedure;
class TBRNServerSessionManager;
class TBRNSession;

enum TBRNEngineType : uint8_t { etClient = 0, etServer = 1 };

// What a session-event handler learns of a server session; filled afresh
// for every call.
struct TBRNServerSession {
  int32_t SessionID = 0;
  std::string SessionName;
  std::string SessionDescription;
  TDateTime CreatedOn = 0;
  TDateTime LastStateChangeOn = 0;
  bool Connected = false;
  bool Encrypted = false;
  std::string ClientAddress;
  std::string UserName;
  std::string ProcessName;
};

using TNotifyEvent = std::function<void(TComponent* sender)>;
// userObject is the session's application object; the value the handler
// leaves is stored back into the session.
using TBRNServerSessionEvent =
    std::function<void(TComponent* sender, TBRNServerSessionEventType eventType,
                       const TBRNServerSession& session, void*& userObject)>;
// releaseNumber is the client's version in fixed point (2.14 is 21400).
using TBRNServerSessionLoginEvent = std::function<void(
    TComponent* sender, const std::string& userName, const std::string& userPassword,
    const std::string& processName, int32_t threadId, int64_t releaseNumber, int32_t buildNumber,
    bool& allowLogin)>;
using TBRNServerProcedureEvent =
    std::function<void(TComponent* sender, TBRNServerProcedure& serverProcedure)>;

// An event handler and the engine component that assigned it (its Sender).
template <typename THandler>
struct TBRNEngineEvent {
  THandler Handler;
  TComponent* Sender = nullptr;
  explicit operator bool() const { return bool(Handler); }
};

inline constexpr const char* kBRNEngineStartedMessage =
    "Cannot perform this operation when the engine has been started";
inline constexpr const char* kBRNEngineNotStartedMessage =
    "Cannot perform this operation when the engine has not been started";

// The settings, state and events that every engine component of the process
// shares, and the engine manager they start: a client engine or a server.
// It exists while at least one engine component does.
//
// Threads: settings, start, stop and the engine type belong to one
// controlling thread. The session registry and the session numbers may be
// used from any thread (one re-entrant lock guards them). The server's
// callbacks run on server threads and call the application's handlers
// there; each call fills a session record of its own.
class TBRNEngineInstance {
 public:
  TBRNEngineInstance();
  // Stops the engine (events included), then frees every registered session
  // component, last first.
  ~TBRNEngineInstance();

  TBRNEngineInstance(const TBRNEngineInstance&) = delete;
  TBRNEngineInstance& operator=(const TBRNEngineInstance&) = delete;

  // The process's instance; nullptr while no engine component exists.
  static TBRNEngineInstance* Get();

  bool GetActive() const;
  // Start: BeforeStart, settings copied, the manager started, AfterStart; a
  // failure calls BeforeStop and AfterStop and raises EBRNError. Stop:
  // BeforeStop, every session component disconnected, the manager stopped,
  // AfterStop.
  void SetActive(bool value);
  // Refused while started; frees the engine manager and makes the other
  // kind.
  void SetEngineType(TBRNEngineType value);
  // The defaults of every setting; handlers cleared except the login and
  // procedure ones.
  void ResetSettings();
  TBRNEngineManager& GetEngineManager() const { return *engineManager_; }
  // The server engine manager; nullptr for a client engine.
  TBRNServerEngineManager* GetServerEngineManager() const;
  // EDatabaseError "Cannot perform this operation when the engine has been
  // started" while started.
  void CheckNotStarted() const;
  void CheckStarted() const;

  // The session registry (registration order).
  void AddSession(TBRNSession* session);
  void RemoveSession(TBRNSession* session);
  TBRNSession* FindSession(const std::string& name);
  TBRNSession* GetSession(const std::string& name);
  int32_t AllocateSessionNumber();
  void ReleaseSessionNumber(int32_t number);
  int32_t GetSessionCount();

  bool StoreActive = true;
  TBRNEngineType EngineType = etClient;
  bool UseLocalSessionEngineSettings = false;
  std::string Signature;
  std::string EncryptionPassword;
  bool ConfigMemory = false;
  std::string ConfigPath;
  std::string ConfigName;
  std::string ConfigExtension;
  std::string LockExtension;
  std::string LogExtension;
  int32_t MaxLogFileSize = 0;
  TBRNLogCategories LogCategories = 0;
  std::string CatalogName;
  std::string CatalogExtension;
  std::string BackupExtension;
  std::string UpdateExtension;
  bool LargeFileSupport = false;
  bool ExclusiveFileAccess = false;
  bool StandardNullBehavior = true;
  std::string TableExtension;
  std::string TableIndexExtension;
  std::string TableBlobExtension;
  std::string TablePublishExtension;
  std::string TempTablesPath;
  bool ShowUserPasswords = true;
  bool ShowDatabaseCatalogVersions = true;
  std::string ServerName;
  std::string ServerDescription;
  std::string ServerAddress;
  int32_t ServerPort = 0;
  int32_t ServerThreadCacheSize = 0;
  bool ServerEncryptedOnly = false;
  int32_t ServerSessionTimeout = 0;
  int32_t ServerDeadSessionInterval = 0;
  int32_t ServerDeadSessionExpiration = 0;
  int32_t ServerMaxDeadSessions = 0;
  TStringList ServerAuthorizedAddresses;
  TStringList ServerBlockedAddresses;
  bool ServerRunJobs = true;
  std::string ServerJobCategory;

  TBRNEngineEvent<TNotifyEvent> BeforeStart;
  TBRNEngineEvent<TNotifyEvent> BeforeStop;
  TBRNEngineEvent<TNotifyEvent> AfterStart;
  TBRNEngineEvent<TNotifyEvent> AfterStop;
  TBRNEngineEvent<TBRNServerSessionEvent> OnServerSessionEvent;
  TBRNEngineEvent<TBRNServerSessionLoginEvent> OnServerSessionLogin;
  TBRNEngineEvent<TBRNServerProcedureEvent> OnServerProcedure;

 private:
  friend class TBRNEngine;

  void start();
  void stop();
  void copySettings();
  static void notify(const TBRNEngineEvent<TNotifyEvent>& event);
  // The server engine manager's callbacks.
  void serverSessionEvent(TBRNServerSessionEventType eventType, TBRNServerSessionManager* session);
  void serverSessionLogin(const std::string& userName, const std::string& userPassword,
                          const std::string& processName, int32_t threadId, int64_t releaseNumber,
                          int32_t buildNumber, bool& allowLogin);
  void serverProcedure(TBRNServerEngineManagerProcedure& request);
  // An engine component goes: the events it assigned keep their handlers
  // but no longer name it as their Sender.
  void forgetSender(TComponent* sender);

  std::unique_ptr<TBRNEngineManager> engineManager_;
  std::recursive_mutex registryLock_;
  std::vector<TBRNSession*> sessions_;
  TBits sessionNumbers_;
};

// The component through which an application configures, starts and stops
// the engine of its process. Every engine component is a front for the one
// shared TBRNEngineInstance: all read and write the same settings.
//
// Setters: equal to the current value, nothing (strings exactly or ignoring
// case as each notes); on a started engine, EDatabaseError
// "Cannot perform this operation when the engine has been started"; then
// the value is stored (raised to its minimum where one is given).
//
// Threads: as TBRNEngineInstance.
class TBRNEngine : public TComponent {
 public:
  explicit TBRNEngine(TComponent* owner);
  ~TBRNEngine() override;

  TBRNEngineInstance& GetInstance() const;
  // The number of engine components of the process.
  static int32_t GetEngineCount();

  bool GetActive() const;
  // While loading, only recorded (applied in Loaded).
  void SetActive(bool value);
  std::string GetEngineVersion() const;
  TBRNEngineType GetEngineType() const;
  void SetEngineType(TBRNEngineType value);
  bool GetUseLocalSessionEngineSettings() const;
  void SetUseLocalSessionEngineSettings(bool value);
  bool GetStoreActive() const;
  // Allowed while started.
  void SetStoreActive(bool value);

  // Compared exactly.
  const std::string& GetSignature() const;
  void SetSignature(const std::string& value);
  const std::string& GetEncryptionPassword() const;
  void SetEncryptionPassword(const std::string& value);
  bool GetLargeFileSupport() const;
  void SetLargeFileSupport(bool value);
  bool GetExclusiveFileAccess() const;
  void SetExclusiveFileAccess(bool value);
  bool GetStandardNullBehavior() const;
  void SetStandardNullBehavior(bool value);
  bool GetConfigMemory() const;
  void SetConfigMemory(bool value);
  // Compared ignoring case.
  const std::string& GetConfigPath() const;
  void SetConfigPath(const std::string& value);
  const std::string& GetConfigName() const;
  void SetConfigName(const std::string& value);
  // Extensions: compared ignoring case; a value without a leading point gets
  // one; an empty value restores the extension's default (files of
  // different kinds must never share a name).
  const std::string& GetConfigExtension() const;
  void SetConfigExtension(const std::string& value);
  const std::string& GetLockExtension() const;
  void SetLockExtension(const std::string& value);
  const std::string& GetLogExtension() const;
  void SetLogExtension(const std::string& value);
  // At least 262144.
  int32_t GetMaxLogFileSize() const;
  void SetMaxLogFileSize(int32_t value);
  TBRNLogCategories GetLogCategories() const;
  void SetLogCategories(TBRNLogCategories value);
  const std::string& GetCatalogName() const;
  void SetCatalogName(const std::string& value);
  const std::string& GetCatalogExtension() const;
  void SetCatalogExtension(const std::string& value);
  const std::string& GetBackupExtension() const;
  void SetBackupExtension(const std::string& value);
  const std::string& GetUpdateExtension() const;
  void SetUpdateExtension(const std::string& value);
  const std::string& GetTableExtension() const;
  void SetTableExtension(const std::string& value);
  const std::string& GetTableIndexExtension() const;
  void SetTableIndexExtension(const std::string& value);
  const std::string& GetTableBlobExtension() const;
  void SetTableBlobExtension(const std::string& value);
  const std::string& GetTablePublishExtension() const;
  void SetTablePublishExtension(const std::string& value);
  const std::string& GetTempTablesPath() const;
  void SetTempTablesPath(const std::string& value);
  bool GetShowUserPasswords() const;
  void SetShowUserPasswords(bool value);
  bool GetShowDatabaseCatalogVersions() const;
  void SetShowDatabaseCatalogVersions(bool value);

  // Compared exactly.
  const std::string& GetServerName() const;
  void SetServerName(const std::string& value);
  const std::string& GetServerDescription() const;
  void SetServerDescription(const std::string& value);
  const std::string& GetServerAddress() const;
  void SetServerAddress(const std::string& value);
  int32_t GetServerPort() const;
  void SetServerPort(int32_t value);
  // At least 1.
  int32_t GetServerThreadCacheSize() const;
  void SetServerThreadCacheSize(int32_t value);
  bool GetServerEncryptedOnly() const;
  void SetServerEncryptedOnly(bool value);
  // At least 60.
  int32_t GetServerSessionTimeout() const;
  void SetServerSessionTimeout(int32_t value);
  // At least 30.
  int32_t GetServerDeadSessionInterval() const;
  void SetServerDeadSessionInterval(int32_t value);
  // At least 10.
  int32_t GetServerDeadSessionExpiration() const;
  void SetServerDeadSessionExpiration(int32_t value);
  // At least 1.
  int32_t GetServerMaxDeadSessions() const;
  void SetServerMaxDeadSessions(int32_t value);
  // Refused while started even when unchanged.
  const TStringList& GetServerAuthorizedAddresses() const;
  void SetServerAuthorizedAddresses(const TStringList& value);
  const TStringList& GetServerBlockedAddresses() const;
  void SetServerBlockedAddresses(const TStringList& value);
  bool GetServerRunJobs() const;
  void SetServerRunJobs(bool value);
  // Compared ignoring case.
  const std::string& GetServerJobCategory() const;
  void SetServerJobCategory(const std::string& value);

  // Handlers: stored with this component as Sender; allowed while started.
  void SetBeforeStart(TNotifyEvent handler);
  void SetBeforeStop(TNotifyEvent handler);
  void SetAfterStart(TNotifyEvent handler);
  void SetAfterStop(TNotifyEvent handler);
  void SetOnServerSessionEvent(TBRNServerSessionEvent handler);
  void SetOnServerSessionLogin(TBRNServerSessionLoginEvent handler);
  void SetOnServerProcedure(TBRNServerProcedureEvent handler);

  void AddSession(TBRNSession* session);
  void RemoveSession(TBRNSession* session);
  // Empty name: the default session. EDatabaseError
  // "Session name '<name>' is not valid" when there is none.
  TBRNSession* GetSession(const std::string& name);
  // Names compare ignoring case and trailing blanks; nullptr when none.
  TBRNSession* FindSession(const std::string& name);
  int32_t AllocateSessionNumber();
  void ReleaseSessionNumber(int32_t number);
  std::string GetDefaultTempTablesPath() const;
  // The four server queries raise "Cannot perform this operation when the
  // engine has not been started" while stopped. A client engine answers -1,
  // 0, false and false.
  int64_t GetServerUpTime();
  int32_t GetServerConnectedSessionCount();
  bool DisconnectServerSession(int32_t sessionId);
  bool RemoveServerSession(int32_t sessionId);
  TBRNEngineManager& GetEngineManager() const;

 protected:
  void Loaded() override;

 private:
  bool activeOnLoad_ = false;
};

}  // namespace brn
