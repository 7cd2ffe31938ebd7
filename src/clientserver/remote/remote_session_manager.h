#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/session_request_codes.h"
#include "sessions/engine_manager.h"
#include "sessions/engine_settings.h"

namespace brn {

class TBRNCachedUpdatesManager;
class TBRNClientSocket;
class TBRNCompressionManager;
class TBRNExprBuilder;
class TBRNExprParser;
class TBRNExprValidator;
class TBRNMemoryStream;
class TBRNRemoteExprEvaluator;
class TBRNRemoteSessionManager;
class TBRNThreadTimer;

// Callback codes the remote session answers itself (the session request
// codes it sends are in session_request_codes.h).
inline constexpr int32_t kBRNProgressCallbackCode = 9001;
inline constexpr int32_t kBRNStatusMessageCallbackCode = 9002;
inline constexpr int32_t kBRNLogMessageCallbackCode = 9003;
inline constexpr int32_t kBRNScriptStepCallbackCode = 9004;
inline constexpr int32_t kBRNScriptStateCallbackCode = 9005;
inline constexpr int32_t kBRNCallbackAnswerCode = 9999;

// The version, build and edition tag this client announces.
inline constexpr int64_t kBRNClientVersion = 21400;
inline constexpr int32_t kBRNClientBuild = 5;
inline constexpr const char* kBRNClientEdition = "BRNMZTRAQEL";

inline constexpr int32_t kBRNCannotConnectCode = 1100;
inline constexpr int32_t kBRNConnectionLostCode = 1101;
inline constexpr const char* kBRNReceiveTimedOut = "Timed out while receiving stream";
inline constexpr const char* kBRNReconnectionCancelled = "The reconnection was cancelled";

// One traced message. A request record has ReplyCode -1; a reply record
// keeps the RequestCode of the last request record.
class TBRNRemoteSessionTrace {
 public:
  virtual ~TBRNRemoteSessionTrace() = default;

  virtual void Assign(const TBRNRemoteSessionTrace& other);
  // Compares the numeric fields (the text is not compared).
  virtual bool IsEqual(const TBRNRemoteSessionTrace& other) const;
  // int64 Time, int32 Duration, Compression, RequestCode, ReplyCode, Size,
  // then Text with an int32 length prefix.
  virtual void SaveToStream(TBRNMemoryStream& stream) const;
  virtual void LoadFromStream(TBRNMemoryStream& stream);

  int64_t Time = 0;  // local timestamp in ms
  int32_t Duration = 0;
  int32_t Compression = 0;
  int32_t RequestCode = 0;
  int32_t ReplyCode = -1;
  int32_t Size = 0;
  std::string Text;
};

// The owner's handlers. They run on the thread of the operation (the ping
// timer's thread for a ping) with the session lock held.
using TBRNRemoteTimeoutEvent =
    std::function<void(TBRNRemoteSessionManager& sender, bool& stayConnected)>;
using TBRNRemoteProgressEvent =
    std::function<void(TBRNRemoteSessionManager& sender, int32_t numBytes, int32_t percentDone)>;
using TBRNRemoteTraceEvent =
    std::function<void(TBRNRemoteSessionManager& sender, const TBRNRemoteSessionTrace& trace)>;
using TBRNRemoteReconnectEvent =
    std::function<void(TBRNRemoteSessionManager& sender, bool& continueReconnect, bool& stopAsking)>;

// The session's own signature and encryption password (a copy of the
// engine's when created); they change only while the session is closed.
class TBRNRemoteSessionEngineManagerSettings : public TBRNLocalSessionEngineManagerSettings {
 public:
  using TBRNLocalSessionEngineManagerSettings::TBRNLocalSessionEngineManagerSettings;
};

// The transport of a remote session: time-outs, progress and broken
// connections go to the session.
class TBRNRemoteCommsManager : public TBRNCommsManager {
 public:
  TBRNRemoteCommsManager(TBRNEnvironment& environment, TBRNRemoteSessionManager& session,
                         TBRNCompressionManager& compressionManager,
                         const TBRNEngineManagerSettings& settings);

  void DoReceiveTimeout(bool& continueReceiving) override;
  void DoSendProgress(int32_t bytes, int32_t percent) override;
  void DoReceiveProgress(int32_t bytes, int32_t percent) override;
  // 1100 during the handshake; otherwise the session disconnects and 1101.
  void DoConnectionError(const std::string& message) override;

  TBRNRemoteSessionManager& Session;
};

// The client side of a session on a server: every session operation is one
// request on the session's connection. A lost connection is re-attached to
// the same server session (reconnect with the kept session ID), so the
// proxies' server handles stay valid.
//
// Threads: the operations run on the thread that uses the session; the ping
// runs on the ping timer's thread. Both take the session lock of the engine's
// session table first (the ping tries once and skips a busy session), so the
// messages of the one connection never interleave. The lock is not
// re-entrant: a TBRNRemoteCall must not be started while another is alive on
// the same thread.
class TBRNRemoteSessionManager : public TBRNEngineSessionManager {
 public:
  explicit TBRNRemoteSessionManager(TBRNEngineManager* engine);
  ~TBRNRemoteSessionManager() override;

  // Hooks called by the transport and by the operations.
  virtual void DoRemoteTimeout(bool& stayConnected);
  virtual void DoRemoteSendProgress(int32_t numBytes, int32_t percentDone);
  virtual void DoRemoteReceiveProgress(int32_t numBytes, int32_t percentDone);
  virtual void DoRemoteTrace(const TBRNRemoteSessionTrace& trace);
  // True when a handler answered.
  virtual bool DoRemoteReconnect(bool& continueReconnect, bool& stopAsking);
  // 1100 "A connection to the server at '<server>' cannot be established ('<message>')".
  [[noreturn]] virtual void RaiseCannotConnect(const std::string& message);
  // Silent: an EBRNAbortException with the text; otherwise the connection is
  // closed and 1101 "The connection to the server at '<server>' has been
  // lost ('<message>')".
  [[noreturn]] virtual void RaiseConnectionLost(const std::string& message, bool silent);
  virtual void OpenConnection();
  virtual void CloseConnection();

  void GetUserName(std::string& name) override;
  int32_t GetTicks() override;
  int32_t GetElapsedTicks(int32_t startTicks, int32_t stopTicks) override;
  void OpenSession(const std::string& identity, const std::string& sessionName,
                   const std::string& description) override;
  void CloseSession() override;
  void Login(const std::string& userName, const std::string& password) override;
  // Never raises.
  void Logout() override;
  void GetCollationName(int32_t collationId, std::string& name) override;
  TBRNDatabaseManager* OpenDatabase(const std::string& databaseName, uint8_t lockType) override;
  // Never raises; the proxy is freed and database cleared in every case.
  void CloseDatabase(TBRNDatabaseManager*& database) override;
  TBRNStoreManager* OpenStore(const std::string& storeName, uint8_t lockType,
                              bool localOnly) override;
  // Never raises; the proxy is freed and store cleared in every case.
  void CloseStore(TBRNStoreManager*& store) override;

  // The cached updates of this session's remote cursors, which live in a
  // private local session of the client: made and started at the first use
  // (a session whose cursors never cache pays nothing for it), stopped when
  // the connection closes. Session's thread only.
  TBRNCachedUpdatesManager& GetCachedUpdatesManager();

  // The tools that compile and evaluate the column expressions of this
  // session's remote cursors on the client. They live from CreateResources
  // to FreeResources, which runs only after every cursor of the session was
  // freed; calling them outside that span is misuse (std::logic_error).
  // Session's thread only.
  TBRNExprParser& GetExprParser() const;
  TBRNExprValidator& GetExprValidator() const;
  TBRNExprBuilder& GetExprBuilder() const;
  TBRNRemoteExprEvaluator& GetExprEvaluator() const;

  // Reconnects when the connection was lost (asking the reconnect handler,
  // unless pinging), and then pings, so that the server forgets the last
  // reply it kept: a request sent now is a new one.
  void EnsureConnected();

  // Connection settings (set before OpenSession).
  std::string RemoteAddress = "127.0.0.1";
  std::string RemoteHost;
  int32_t RemotePort = 12010;
  std::string RemoteService;
  // Ignored while connected.
  void SetRemoteEncryption(bool value);
  bool GetRemoteEncryption() const { return RemoteEncryption; }
  // 0-9; takes effect with the next message.
  void SetRemoteCompression(int32_t value);
  int32_t GetRemoteCompression() const { return RemoteCompression; }
  // Seconds; takes effect with the next message.
  void SetRemoteTimeout(int32_t value);
  int32_t GetRemoteTimeout() const { return RemoteTimeout; }
  void SetRemotePing(bool value);
  bool GetRemotePing() const { return RemotePing; }
  // Seconds.
  void SetRemotePingInterval(int32_t value);
  int32_t GetRemotePingInterval() const { return RemotePingInterval; }
  // Read by the ping thread as well; may be switched from any thread.
  std::atomic<bool> RemoteTrace{false};

  TBRNRemoteTimeoutEvent OnRemoteTimeout;
  TBRNRemoteProgressEvent OnRemoteSendProgress;
  TBRNRemoteProgressEvent OnRemoteReceiveProgress;
  TBRNRemoteTraceEvent OnRemoteTrace;
  TBRNRemoteReconnectEvent OnRemoteReconnect;

  int64_t GetServerVersion() const { return ServerVersion; }
  int32_t GetSessionID() const { return SessionID; }
  int32_t GetLockTries() const { return LockTries; }
  bool IsConnected() const { return Connected.load(); }
  bool IsLoggedIn() const { return LoggedIn.load(); }
  // The server name of the error texts: RemoteHost, else RemoteAddress.
  std::string GetServerName() const;
  // Lock tries for a reply time-out in seconds: 19 for 180 s.
  static int32_t ComputeLockTries(int32_t remoteTimeout);

  std::unique_ptr<TBRNRemoteSessionEngineManagerSettings> SessionSettings;

 protected:
  friend class TBRNRemoteCall;
  friend class TBRNRemoteCommsManager;

  void CreateResources();
  void FreeResources();
  void ConnectToServer();
  void ReconnectToServer();
  void DisconnectFromServer();
  void ReconnectIfAllowed();
  // Sends request, waits for the reply while answering callbacks; one
  // reconnect and resend when the connection broke. The reply is received
  // into reply (acquired when null), so that request stays intact for the
  // resend: the transport drops a request whose receive failed.
  void SendRequestAndWait(TBRNCommsRequest& request, std::unique_ptr<TBRNCommsRequest>& reply,
                          const std::string& text);
  void SendRequest(TBRNCommsRequest& request, const std::string& text);
  // Sends a message of code whose payload write fills, and waits for no
  // reply (ping, callback answers).
  void SendWithoutReply(int32_t code, const std::function<void(TBRNMemoryStream&)>& write);
  // False: the wait was given up.
  bool ReceiveReply(std::unique_ptr<TBRNCommsRequest>& request);
  void AnswerCallback(TBRNCommsRequest& request);
  // Raises the error of a non-zero reply.
  void CheckReply(TBRNCommsRequest& request);
  void TraceRequest(TBRNCommsRequest& request, const std::string& text);
  void TraceReply(TBRNCommsRequest& request);
  void Ping();
  void StartPingTimer();
  void StopPingTimer();
  // Writes the connect (or reconnect) fields and handles the reply.
  void Handshake(bool reconnect);

  bool RemoteEncryption = false;
  int32_t RemoteCompression = 0;
  int32_t RemoteTimeout = 180;
  bool RemotePing = true;
  int32_t RemotePingInterval = 60;

  bool ResourcesCreated = false;
  int32_t LockTries = 19;
  int32_t SessionID = 0;
  int64_t ServerVersion = 0;
  std::atomic<bool> Connected{false};
  std::atomic<bool> LoggedIn{false};
  bool StopAsking = false;
  std::atomic<bool> Pinging{false};
  std::string UserName;

  std::unique_ptr<TBRNRemoteSessionTrace> Trace;
  std::unique_ptr<TBRNClientSocket> Socket;
  std::unique_ptr<TBRNCompressionManager> CompressionManager;
  std::unique_ptr<TBRNRemoteCommsManager> CommsManager;
  std::unique_ptr<TBRNThreadTimer> PingTimer;
  std::unique_ptr<TBRNCachedUpdatesManager> CachedUpdates;
  std::unique_ptr<TBRNExprParser> ExprParser;
  std::unique_ptr<TBRNExprValidator> ExprValidator;
  std::unique_ptr<TBRNExprBuilder> ExprBuilder;
  std::unique_ptr<TBRNRemoteExprEvaluator> ExprEvaluator;
};

// One remote operation: the session locked (LockTries tries of 10 ms, else
// 506), connected, a request of code begun; Execute sends it and checks the
// reply. The destructor returns the request and unlocks, however the
// operation ends. Used on the session's thread only.
class TBRNRemoteCall {
 public:
  // ensureConnected false: the connection is not re-established first
  // (the login, which follows the connect at once).
  TBRNRemoteCall(TBRNRemoteSessionManager& session, int32_t code, bool ensureConnected = true);
  ~TBRNRemoteCall();
  TBRNRemoteCall(const TBRNRemoteCall&) = delete;
  TBRNRemoteCall& operator=(const TBRNRemoteCall&) = delete;

  // The payload of the request, positioned after the header.
  TBRNMemoryStream& Request();
  // Packs and sends the request, waits for its reply (answering the
  // server's callbacks), raises the error of a non-zero reply and returns
  // the reply's payload. text: what the trace shows of the request.
  TBRNMemoryStream& Execute(const std::string& text = std::string());
  // The payload of the reply (after Execute).
  TBRNMemoryStream& Reply();
  int64_t ServerVersion() const { return session_.ServerVersion; }
  TBRNRemoteSessionManager& Session() const { return session_; }

 private:
  TBRNRemoteSessionManager& session_;
  std::unique_ptr<TBRNCommsRequest> request_;
  std::unique_ptr<TBRNCommsRequest> reply_;
  bool locked_ = false;
};

}  // namespace brn
