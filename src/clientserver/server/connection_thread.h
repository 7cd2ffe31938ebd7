#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clientserver/server/request_dispatch.h"
#include "clientserver/server/server_session.h"
#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/socket_thread.h"
#include "foundation/locks/compression.h"
#include "foundation/runtime/event.h"

namespace brn {

class TBRNServerEngineManager;
class TBRNServerSessionManager;
class TBRNServerThread;

// A transport cap below which every connection works until its session has
// a logged-in user: a client that has not proven who it is cannot make the
// server allocate more.
inline constexpr int32_t kBRNPreLoginMessageSize = 64 * 1024;

// Callback codes of the server and the codes of the client's answers.
inline constexpr int32_t kBRNLoginPromptCallback = 9000;
inline constexpr int32_t kBRNProgressCallback = 9001;
inline constexpr int32_t kBRNStatusMessageCallback = 9002;
inline constexpr int32_t kBRNLogMessageCallback = 9003;
inline constexpr int32_t kBRNScriptPauseCallback = 9004;
inline constexpr int32_t kBRNScriptStateCallback = 9005;
inline constexpr int32_t kBRNLoginPromptAnswer = 9998;
inline constexpr int32_t kBRNCallbackAnswer = 9999;

// The transport of a connection thread: the engine's settings (signature and
// encryption password), its events forwarded to the thread.
class TBRNServerCommsManager : public TBRNCommsManager {
 public:
  TBRNServerCommsManager(TBRNEnvironment& environment, TBRNServerThread& thread,
                         TBRNCompressionManager& compressionManager,
                         const TBRNEngineManagerSettings& settings);

  void DoReceiveTimeout(bool& continueReceiving) override;
  void DoSendProgress(int32_t bytes, int32_t percent) override;
  void DoReceiveProgress(int32_t bytes, int32_t percent) override;
  void DoConnectionError(const std::string& message) override;

 private:
  TBRNServerThread* thread_;
};

// Serves one client connection at a time: receives each request, dispatches
// it to its handler under the session lock, sends the reply, and sends
// callbacks to the client while an operation runs, serving the client's
// further requests until their answer comes.
//
// Threads: the connection loop, the dispatch, the callbacks and the client
// fields belong to the thread itself (the session's handlers run on it).
// GetSessionID, SetSessionID, CloseConnection, GetConnectionOpen and
// Terminate may be called from any thread: the session that the thread is
// attached to, a reconnect that takes the session over and the engine's
// sweep call them while the thread serves.
class TBRNServerThread : public TBRNServerClientThread, public TBRNServerSessionThread {
 public:
  // Built suspended over its first connection; the engine must outlive it.
  // The receive time-out is the engine's ServerSessionTimeout now.
  TBRNServerThread(TBRNServerEngineManager* engine,
                   std::unique_ptr<TBRNServerClientSocketWrapper> connection);
  ~TBRNServerThread() override;

  // Also closes the connection, so that a thread blocked on its client ends
  // at once.
  void Terminate() override;

  TBRNServerEngineManager& GetEngine() const { return *engine_; }
  TBRNServerCommsManager& GetTransport() { return *transport_; }

  // The ID of the attached session, 0 when none. Set by the session when it
  // attaches or detaches this thread (possibly from another thread, when a
  // reconnect takes the session over).
  int32_t GetSessionID() const override { return sessionId_.load(std::memory_order_acquire); }
  void SetSessionID(int32_t value) override {
    sessionId_.store(value, std::memory_order_release);
  }

  // The client, as the connect or reconnect request described it; the peer
  // address from the socket. Read on the thread itself, or by the session
  // while the thread waits in AttachThread.
  int64_t GetClientVersion() const override { return clientVersion_; }
  int32_t GetClientBuild() const override { return clientBuild_; }
  const std::string& GetClientEdition() const { return clientEdition_; }
  const std::string& GetPeerAddress() const override { return peerAddress_; }
  const std::string& GetClientIdentity() const override { return identity_; }
  const std::string& GetClientSessionName() const override { return sessionName_; }
  const std::string& GetClientSessionDescription() const override { return sessionDescription_; }
  uint32_t GetClientThreadID() const override { return clientThreadId_; }
  bool GetEncryptionRequested() const override { return encryptionRequested_; }
  // The code of the request being served.
  int32_t GetCurrentRequestCode() const { return currentRequestCode_; }

  // Closes the connection when it is still open (errors ignored); the
  // thread's loop then ends and detaches its session. Any thread.
  void CloseConnection() override;
  // The connection is still open. Any thread.
  bool GetConnectionOpen();

  // Serves one received request (unpacked): the handler of its code under
  // the session's lock (not taken when nested, since the outer request holds
  // it). The reply is left packed in the request's outgoing message; returns
  // whether it is to be sent (not for a Ping, nor for an ignored nested
  // Logout).
  bool DispatchRequest(TBRNCommsRequest& request, bool nested);
  // Replace whatever reply the request has begun (not packed yet).
  void SendErrorReply(TBRNServerRequest& request, const std::exception& error);
  void SendInvalidRequestReply(TBRNServerRequest& request);

  // Callbacks to the client; each sends its message and serves the client's
  // requests until the answer comes (see WaitForClientReply). Called on the
  // thread while it serves a request of the session.
  void SendLoginPrompt(bool& handled, std::string& userName, std::string& password,
                       bool& proceed);
  void SendProgress(int32_t percentDone, bool& proceed);
  void SendStatusMessage(const std::string& text);
  void SendLogMessage(const std::string& text);
  // Receives into request until an answer (9998 or 9999) arrives; other
  // messages are served as nested requests. False when the connection
  // ended or timed out first.
  bool WaitForClientReply(std::unique_ptr<TBRNCommsRequest>& request);

  // The callbacks below go to the client of whichever thread the session
  // has attached when they fire, and only when they fire on that thread
  // (work done in the session by another thread reaches no client).
  // Precondition for both: the caller holds the session (its request runs).
  //
  // Login: the login prompt (9000) goes to the client; progress becomes a
  // check that stops a long operation once the client has gone.
  static void InstallLoginPrompt(TBRNServerSessionManager& session);
  // Before an operation: progress reports (9001), status (9002) and log
  // messages (9003) go to the client when it asked for them; unasked,
  // progress is the check above and the messages go nowhere.
  static void InstallOperationCallbacks(TBRNServerSessionManager& session, bool reportProgress,
                                        bool reportStatus, bool reportLog);
  // Same as InstallLoginPrompt (the flag is ignored).
  static void InstallClientCallbacks(TBRNServerSessionManager& session, bool withProgress);

  // The debugger's callbacks: they are called on the script's own thread
  // while this thread waits in WaitForDebugger for the request that
  // started or continued the script. Each sends its message (9004 pause or
  // error, 9005 end) to the client when send is set and waits for the
  // answer; the session wakes this thread afterwards (WakeDebugger).
  // Nothing is sent unless this thread waits for the debugger (a run that
  // pauses or ends while its session is dead, or while this thread serves
  // another request, reaches no client).
  void SendScriptNotification(int32_t line, const std::exception* error, bool atStatement,
                              bool send);
  void SendScriptState(bool stoppedOrFailed, bool send);
  // Before a request starts or continues a script: forgets a wake-up left
  // from before and lends the connection to the script's callbacks until
  // WaitForDebugger returns or CancelDebugger is called (this thread does
  // not use the connection meanwhile). Called on this thread.
  void ResetDebugger();
  // Waits without time-out until the script paused or ended, or the thread
  // is terminated. Called on this thread, inside the request.
  void WaitForDebugger();
  // Takes the connection back when the request fails before it waits.
  void CancelDebugger();
  // Ends WaitForDebugger. Any thread.
  void WakeDebugger() override;
  // Whether the connection is lent to a script's callbacks. Any thread.
  bool IsWaitingForDebugger() const { return debuggerWaiting_.load(std::memory_order_acquire); }
  // The session's script-pause and script-end callbacks wake whichever
  // thread is attached then. With report the client hears of both; without
  // it the run gets no pause callback, so it never pauses, and its end
  // only wakes the request. Precondition: the caller holds the session.
  static void InstallDebuggerCallbacks(TBRNServerSessionManager& session, bool report);
  static void ClearDebuggerCallbacks(TBRNServerSessionManager& session);

  // For the fuzz target and tests: serves one whole received request as the
  // connection loop does (unpack, dispatch, send the reply).
  void ProcessRequest(TBRNCommsRequest& request);

 protected:
  void ServeConnection() override;

  virtual void DoReceiveTimeout(bool& continueReceiving);
  virtual void DoSendProgress(int32_t bytes, int32_t percent);
  virtual void DoReceiveProgress(int32_t bytes, int32_t percent);
  // Raises 1102 "The client connection has been lost ('<message>')".
  [[noreturn]] virtual void DoConnectionLost(const std::string& message);
  virtual void BeginConnection();
  virtual void EndConnection();

 private:
  friend class TBRNServerCommsManager;
  friend class TBRNServerRequest;

  // Connect and Reconnect: true when the session is attached.
  bool connectSession(TBRNServerRequest& request);
  bool reconnectSession(TBRNServerRequest& request);
  // Reads the fields of the connect and reconnect requests that describe
  // the client.
  void readClientFields(TBRNServerRequest& request, bool reconnect);
  // The refusals of both (1105, 1104); true when one was replied.
  bool refuseClient(TBRNServerRequest& request, int32_t operation);
  void refuse(TBRNServerRequest& request, int32_t operation, int32_t code,
              const std::string& message);
  void dispatchSessionRequest(TBRNServerRequest& request, bool nested);
  // Sends a callback message with code and waits for its answer; the answer
  // is left in request. False without an answer.
  bool callBack(std::unique_ptr<TBRNCommsRequest>& request);
  void logServerError(int32_t operation, const std::exception& error);
  // The transport cap for the session's login state.
  void updateMessageCap(bool loggedIn);
  // Milliseconds left for the first message; 0 once they are over.
  int32_t connectTimeLeft() const;
  // Receives the next message into request; false (and the connection
  // closed) when none came.
  bool receiveRequest(std::unique_ptr<TBRNCommsRequest>& request);

  TBRNServerEngineManager* engine_;
  std::atomic<int32_t> sessionId_{0};
  TBRNEvent debuggerEvent_;
  std::atomic<bool> debuggerWaiting_{false};
  std::unique_ptr<TBRNCompressionManager> compressionManager_;
  std::unique_ptr<TBRNServerCommsManager> transport_;
  // Guards the socket pointer that other threads may close.
  std::mutex connectionLock_;
  TBRNServerClientSocketWrapper* liveConnection_ = nullptr;
  bool closeAfterReply_ = false;
  // The first message has been served (connect, reconnect or a refusal).
  bool firstMessageDone_ = false;
  int64_t clientVersion_ = 0;
  int32_t clientBuild_ = 0;
  std::string clientEdition_;
  std::string peerAddress_;
  std::string identity_;
  std::string sessionName_;
  std::string sessionDescription_;
  uint32_t clientThreadId_ = 0;
  bool encryptionRequested_ = false;
  int32_t currentRequestCode_ = 0;
  // Tick count when the connection began: the first message (Connect or
  // Reconnect) must be complete within the engine's ServerConnectTimeout.
  int32_t connectionStartTicks_ = 0;
  // Set by a successful reconnect until the next request of the session:
  // that request may be the one whose reply the client lost.
  bool firstRequestAfterReconnect_ = false;
  // The kept reply is sent instead of running request again when it is
  // the request the session served last; true when it was.
  bool replayKeptReply(TBRNServerRequest& request, TBRNServerSessionManager& session,
                       const std::vector<uint8_t>& digest);
  // Keeps the reply of request (begun or not) as the session's last.
  void keepReply(TBRNServerRequest& request, TBRNServerSessionManager& session,
                 std::vector<uint8_t> digest);
  // A Ping: what the session kept is forgotten, so that a request the
  // client repeats on purpose runs again.
  void forgetKeptReply(bool nested);
};

// Whether a connection that has no worker yet has its first message in:
// the whole of it, or a header the transport refuses (the worker answers
// that), or so many bytes that the rest might not fit the socket's buffer.
// Peeks only; for the listener's hold (see TBRNServerSocketWrapper), on the
// accept thread.
bool IsFirstMessageQueued(TBRNServerClientSocketWrapper& connection, int32_t maxMessageSize);

// Asks every connection thread of engine to end and closes its connection,
// so that they all wind down at once and a listener's Close only has to join
// them. Threads created afterwards are not affected. Any thread.
void StopServerThreads(const TBRNServerEngineManager* engine);

}  // namespace brn
