#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/locks/log_manager.h"
#include "platform/component.h"
#include "platform/float_date.h"

namespace brn {

class TBRNDatabase;
class TBRNEngine;
class TBRNQuery;
class TBRNRemoteSessionManager;
class TBRNRemoteSessionTrace;
class TBRNSessionManager;
class TParams;

enum TBRNSessionType : uint8_t { stLocal = 0, stRemote = 1 };
enum TBRNRecordLockProtocol : uint8_t { lpPessimistic = 0, lpOptimistic = 1 };

// One traced message of a remote session, as an application sees it.
struct TBRNRemoteTrace {
  TDateTime TraceTime = 0;
  int32_t Duration = 0;
  int32_t Compression = 0;
  int32_t RequestCode = 0;
  std::string RequestName;
  // -1 for a sent request.
  int32_t ReplyCode = -1;
  int32_t Size = 0;
  // The request's text (table name, SQL text, procedure name); empty for a
  // reply.
  std::string Text;
};

// The session component's events; the engine layer has handler types of
// the same purpose without a Sender, hence the distinct names.
using TBRNSessionNotifyEvent = std::function<void(TComponent* sender)>;
using TBRNSessionLoginEvent = std::function<void(TComponent* sender, std::string& userName,
                                                 std::string& password, bool& proceed)>;
using TBRNSessionProgressEvent =
    std::function<void(TComponent* sender, int32_t percentDone, bool& proceed)>;
using TBRNSessionMessageEvent =
    std::function<void(TComponent* sender, const std::string& message)>;
using TBRNSessionRemoteTimeoutEvent =
    std::function<void(TComponent* sender, bool& stayConnected)>;
using TBRNSessionRemoteReconnectEvent =
    std::function<void(TComponent* sender, bool& proceed, bool& stopAsking)>;
using TBRNSessionRemoteProgressEvent =
    std::function<void(TComponent* sender, int32_t numBytes, int32_t percentDone)>;
using TBRNSessionRemoteTraceEvent =
    std::function<void(TComponent* sender, const TBRNRemoteTrace& trace)>;

inline constexpr const char* kBRNOpenSessionMessage =
    "Cannot perform this operation on an open session";

// The component through which an application opens one engine session: a
// local session of this process (which also reaches stores on other
// servers) or a remote session on a database server. Database, dataset and
// query components find it by its SessionName in the engine's registry.
//
// Settings marked "refused while connected": a different value raises
// EDatabaseError "Cannot perform this operation on an open session" while
// connected, else it is stored. The five remote settings allowed while
// connected (compression, trace, time-out, ping, ping interval) reach a
// connected remote session at once.
//
// Ownership: owns its session manager while connected and the temporary
// database components it creates (as their owner).
//
// Threads: one thread (the application's) uses a session component. The
// remote session calls the remote dispatchers on that thread while a
// request is pending; with RemoteTrace on, the traces of pings reach
// OnRemoteTrace on the ping timer's thread.
class TBRNSession : public TComponent {
 public:
  // std::logic_error when no engine component exists. "This auto-session
  // already exists" when the owner already holds a session with
  // AutoSessionName set. Defaults of the Local and Remote settings are the
  // engine's at this moment.
  explicit TBRNSession(TComponent* owner);
  // Disconnects (errors dropped), gives an automatic session number back,
  // leaves the registry; owned components are freed after.
  ~TBRNSession() override;

  std::string GetEngineVersion() const;

  bool GetConnected() const { return sessionManager_ != nullptr; }
  // While loading, only recorded (applied in Loaded).
  virtual void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }
  // The session manager, connecting first when disconnected.
  TBRNSessionManager& GetSessionManager();
  // nullptr while disconnected.
  TBRNSessionManager* SessionManager() const { return sessionManager_.get(); }

  bool GetAutoSessionName() const { return autoSessionName_; }
  // On: refused while connected; "The open auto-session can be the only open
  // session" when the owner holds another session; takes a session number
  // and names the session <component name>_<number + 1>.
  void SetAutoSessionName(bool value);
  const std::string& GetSessionName() const { return sessionName_; }
  // Nothing when unchanged (exactly). "Cannot perform this operation on the
  // open auto-session" under AutoSessionName; refused while connected;
  // "Session name '<name>' already exists" when another registered session
  // has it (ignoring case).
  void SetSessionName(const std::string& value);
  // Renaming the component renames an automatic session.
  void SetName(const std::string& name) override;

  const std::string& GetSessionDescription() const { return sessionDescription_; }
  void SetSessionDescription(const std::string& value);
  TBRNSessionType GetSessionType() const { return sessionType_; }
  void SetSessionType(TBRNSessionType value);
  bool KeepConnections = true;
  bool GetKeepTablesOpen() const { return keepTablesOpen_; }
  void SetKeepTablesOpen(bool value);
  bool GetForceBufferFlush() const { return forceBufferFlush_; }
  void SetForceBufferFlush(bool value);
  TBRNRecordLockProtocol GetRecordLockProtocol() const { return recordLockProtocol_; }
  void SetRecordLockProtocol(TBRNRecordLockProtocol value);
  // Negative values become 0.
  int32_t GetRecordLockRetryCount() const { return recordLockRetryCount_; }
  void SetRecordLockRetryCount(int32_t value);
  // Milliseconds; negative values become 0.
  int32_t GetRecordLockWaitTime() const { return recordLockWaitTime_; }
  void SetRecordLockWaitTime(int32_t value);
  bool GetRecordChangeDetection() const { return recordChangeDetection_; }
  void SetRecordChangeDetection(bool value);
  // Milliseconds; values below 100 become 100.
  int32_t GetProgressTimeInterval() const { return progressTimeInterval_; }
  void SetProgressTimeInterval(int32_t value);
  const std::string& GetLoginUser() const { return loginUser_; }
  void SetLoginUser(const std::string& value);
  const std::string& GetLoginPassword() const { return loginPassword_; }
  void SetLoginPassword(const std::string& value);

  // The settings a local session uses instead of the engine's when the
  // engine's UseLocalSessionEngineSettings is on. Strings compare exactly
  // (signature, password) or ignoring case (paths, names, extensions); no
  // point is added to extensions and no minimum applies here.
  const std::string& GetLocalSignature() const { return local_.Signature; }
  void SetLocalSignature(const std::string& value);
  const std::string& GetLocalEncryptionPassword() const { return local_.EncryptionPassword; }
  void SetLocalEncryptionPassword(const std::string& value);
  bool GetLocalLargeFileSupport() const { return local_.LargeFileSupport; }
  void SetLocalLargeFileSupport(bool value);
  bool GetLocalStandardNullBehavior() const { return local_.StandardNullBehavior; }
  void SetLocalStandardNullBehavior(bool value);
  bool GetLocalConfigMemory() const { return local_.ConfigMemory; }
  void SetLocalConfigMemory(bool value);
  const std::string& GetLocalConfigPath() const { return local_.ConfigPath; }
  void SetLocalConfigPath(const std::string& value);
  const std::string& GetLocalConfigName() const { return local_.ConfigName; }
  void SetLocalConfigName(const std::string& value);
  const std::string& GetLocalConfigExtension() const { return local_.ConfigExtension; }
  void SetLocalConfigExtension(const std::string& value);
  const std::string& GetLocalLockExtension() const { return local_.LockExtension; }
  void SetLocalLockExtension(const std::string& value);
  const std::string& GetLocalLogExtension() const { return local_.LogExtension; }
  void SetLocalLogExtension(const std::string& value);
  int32_t GetLocalMaxLogFileSize() const { return local_.MaxLogFileSize; }
  void SetLocalMaxLogFileSize(int32_t value);
  TBRNLogCategories GetLocalLogCategories() const { return local_.LogCategories; }
  void SetLocalLogCategories(TBRNLogCategories value);
  const std::string& GetLocalCatalogName() const { return local_.CatalogName; }
  void SetLocalCatalogName(const std::string& value);
  const std::string& GetLocalCatalogExtension() const { return local_.CatalogExtension; }
  void SetLocalCatalogExtension(const std::string& value);
  const std::string& GetLocalBackupExtension() const { return local_.BackupExtension; }
  void SetLocalBackupExtension(const std::string& value);
  const std::string& GetLocalUpdateExtension() const { return local_.UpdateExtension; }
  void SetLocalUpdateExtension(const std::string& value);
  const std::string& GetLocalTableExtension() const { return local_.TableExtension; }
  void SetLocalTableExtension(const std::string& value);
  const std::string& GetLocalTableIndexExtension() const { return local_.TableIndexExtension; }
  void SetLocalTableIndexExtension(const std::string& value);
  const std::string& GetLocalTableBlobExtension() const { return local_.TableBlobExtension; }
  void SetLocalTableBlobExtension(const std::string& value);
  const std::string& GetLocalTablePublishExtension() const { return local_.TablePublishExtension; }
  void SetLocalTablePublishExtension(const std::string& value);
  const std::string& GetLocalTempTablesPath() const { return local_.TempTablesPath; }
  void SetLocalTempTablesPath(const std::string& value);
  bool GetLocalShowUserPasswords() const { return local_.ShowUserPasswords; }
  void SetLocalShowUserPasswords(bool value);
  bool GetLocalShowDatabaseCatalogVersions() const { return local_.ShowDatabaseCatalogVersions; }
  void SetLocalShowDatabaseCatalogVersions(bool value);

  // Connection settings of a remote session.
  const std::string& GetRemoteSignature() const { return remoteSignature_; }
  void SetRemoteSignature(const std::string& value);
  const std::string& GetRemoteEncryptionPassword() const { return remoteEncryptionPassword_; }
  void SetRemoteEncryptionPassword(const std::string& value);
  bool GetRemoteEncryption() const { return remoteEncryption_; }
  void SetRemoteEncryption(bool value);
  const std::string& GetRemoteHost() const { return remoteHost_; }
  void SetRemoteHost(const std::string& value);
  const std::string& GetRemoteAddress() const { return remoteAddress_; }
  void SetRemoteAddress(const std::string& value);
  int32_t GetRemotePort() const { return remotePort_; }
  void SetRemotePort(int32_t value);
  const std::string& GetRemoteService() const { return remoteService_; }
  void SetRemoteService(const std::string& value);
  // 0-9 (outside values become the nearer bound); allowed while connected.
  int32_t GetRemoteCompression() const { return remoteCompression_; }
  void SetRemoteCompression(int32_t value);
  bool GetRemoteTrace() const { return remoteTrace_; }
  void SetRemoteTrace(bool value);
  // Seconds, at least 60; allowed while connected.
  int32_t GetRemoteTimeout() const { return remoteTimeout_; }
  void SetRemoteTimeout(int32_t value);
  bool GetRemotePing() const { return remotePing_; }
  void SetRemotePing(bool value);
  // Seconds, at least 30; allowed while connected.
  int32_t GetRemotePingInterval() const { return remotePingInterval_; }
  void SetRemotePingInterval(int32_t value);

  // Events: plain fields, called with this session as Sender.
  TBRNSessionLoginEvent OnLogin;
  TBRNSessionNotifyEvent BeforeConnect;
  TBRNSessionNotifyEvent AfterConnect;
  TBRNSessionNotifyEvent BeforeDisconnect;
  TBRNSessionNotifyEvent AfterDisconnect;
  TBRNSessionProgressEvent OnProgress;
  TBRNSessionMessageEvent OnStatusMessage;
  TBRNSessionMessageEvent OnLogMessage;
  TBRNSessionRemoteTimeoutEvent OnRemoteTimeout;
  TBRNSessionRemoteReconnectEvent OnRemoteReconnect;
  TBRNSessionRemoteProgressEvent OnRemoteSendProgress;
  TBRNSessionRemoteProgressEvent OnRemoteReceiveProgress;
  TBRNSessionRemoteTraceEvent OnRemoteTrace;

  // Dispatchers: each calls its event when assigned.
  virtual void DoBeforeConnect();
  virtual void DoAfterConnect();
  virtual void DoBeforeDisconnect();
  virtual void DoAfterDisconnect();
  // Without a handler the session does not stay connected.
  virtual void DoRemoteTimeout(bool& stayConnected);
  // handled is set only when a handler is assigned.
  virtual void DoRemoteReconnect(bool& handled, bool& proceed, bool& stopAsking);
  virtual void DoRemoteSendProgress(int32_t numBytes, int32_t percentDone);
  virtual void DoRemoteReceiveProgress(int32_t numBytes, int32_t percentDone);
  // May run on the remote session's ping timer thread.
  virtual void DoRemoteTrace(const TBRNRemoteSessionTrace& trace);
  virtual void DoProgress(int32_t percentDone, bool& proceed);
  virtual void DoStatusMessage(const std::string& message);
  virtual void DoLogMessage(const std::string& message);

  // The session manager's login prompt: OnLogin when assigned (handled),
  // else not handled (no login dialog is built); the names are written back.
  void LoginCallback(bool& handled, std::string& userName, std::string& password, bool& proceed);

  // Databases bound to the session (maintained by the database components).
  void AddDatabase(TBRNDatabase* database);
  void RemoveDatabase(TBRNDatabase* database);
  int32_t GetDatabaseCount() const { return int32_t(databases_.size()); }
  TBRNDatabase* GetDatabase(int32_t index) const { return databases_.at(size_t(index)); }

  // The database and query side (built with the database components).
  TBRNDatabase* OpenDatabase(const std::string& databaseName);
  void CloseDatabase(TBRNDatabase* database);
  TBRNDatabase* FindDatabase(const std::string& databaseName);
  int32_t Execute(const std::string& sql, TParams* params = nullptr, TBRNQuery* query = nullptr);
  // Gives every dataset and database component of the owner this session's
  // name.
  void BindOwnerComponents();

 protected:
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  // The Local settings, copied from the engine when the session is created.
  struct TLocalSettings {
    std::string Signature;
    std::string EncryptionPassword;
    bool LargeFileSupport = false;
    bool StandardNullBehavior = true;
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
    std::string TableExtension;
    std::string TableIndexExtension;
    std::string TableBlobExtension;
    std::string TablePublishExtension;
    std::string TempTablesPath;
    bool ShowUserPasswords = true;
    bool ShowDatabaseCatalogVersions = true;
  };

  void connect();
  void disconnect();
  void createSessionManager();
  void checkNotConnected() const;
  // Refused-while-connected assignment (exact comparison).
  template <typename T>
  void setGuarded(T& field, const T& value);
  void setGuardedText(std::string& field, const std::string& value);
  TBRNRemoteSessionManager* remoteManager() const;
  void checkAutoSessionOwner(bool anySession) const;
  void updateAutoSessionName();
  void releaseSessionNumber();
  // Defined with the database components.
  void bindInsertedComponent(TComponent* component);
  void releaseDatabases();

  std::unique_ptr<TBRNSessionManager> sessionManager_;
  std::vector<TBRNDatabase*> databases_;
  bool activeOnLoad_ = false;
  int32_t sessionNumber_ = -1;
  bool settingOwnName_ = false;
  TBRNRemoteTrace trace_;

  bool autoSessionName_ = false;
  std::string sessionName_;
  std::string sessionDescription_;
  TBRNSessionType sessionType_ = stLocal;
  bool keepTablesOpen_ = false;
  bool forceBufferFlush_ = false;
  TBRNRecordLockProtocol recordLockProtocol_ = lpPessimistic;
  int32_t recordLockRetryCount_ = 15;
  int32_t recordLockWaitTime_ = 100;
  bool recordChangeDetection_ = false;
  int32_t progressTimeInterval_ = 1000;
  std::string loginUser_;
  std::string loginPassword_;
  TLocalSettings local_;
  std::string remoteSignature_;
  std::string remoteEncryptionPassword_;
  bool remoteEncryption_ = false;
  std::string remoteHost_;
  std::string remoteAddress_ = "127.0.0.1";
  int32_t remotePort_ = 12010;
  std::string remoteService_;
  int32_t remoteCompression_ = 0;
  bool remoteTrace_ = false;
  int32_t remoteTimeout_ = 180;
  bool remotePing_ = true;
  int32_t remotePingInterval_ = 60;
};

// The process's own engine component and the session "Default" on it,
// which an application creates once at start-up and frees at its end (the
// last engine component going frees every session still registered).
// Not thread-safe: the controlling thread only.
void StartComponents();
void EndComponents();
// nullptr outside StartComponents .. EndComponents.
TBRNEngine* GetGlobalEngine();
TBRNSession* GetDefaultSession();

// The auto-session among owner's components (nullptr without one or without
// owner). Database and dataset components created with that owner bind to
// it in their constructors: the session cannot recognise a component that
// is still being constructed when it is told of its insertion.
TBRNSession* FindOwnerAutoSession(TComponent* owner);

}  // namespace brn
