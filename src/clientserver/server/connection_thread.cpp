#include "clientserver/server/connection_thread.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "clientserver/server/server_engine_manager.h"
#include "clientserver/transport/comms_request.h"
#include "clientserver/transport/wire_message.h"
#include "foundation/core/byte_order.h"
#include "foundation/core/digest.h"
#include "foundation/locks/log_manager.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "sessions/engine_manager.h"

namespace brn {

namespace {

constexpr int32_t kSessionLockTries = 3000;
constexpr int32_t kSessionLockWaitMs = 10;
// Client versions (x 10000) from which the connect request carries the ODBC
// version.
constexpr int64_t kOdbcVersionClientVersion = 20100;
// Connect fields 9-15: three Booleans, a byte, two int32 and a uint32.
constexpr int32_t kConnectSettingsSize = 3 * 1 + 1 + 2 * 4 + 4;

constexpr const char* kEncryptedRequiredMessage = "An encrypted connection is required";
constexpr const char* kAddressBlockedMessage = "The IP address %s is blocked";
constexpr const char* kSessionNotPresentMessage =
    "The session ID %s is no longer present on the server";
constexpr const char* kConnectionLostMessage = "The client connection has been lost ('%s')";
constexpr const char* kConnectTooSlowMessage = "The client did not connect in time";
constexpr int32_t kEncryptedRequiredCode = 1105;
constexpr int32_t kAddressBlockedCode = 1104;
constexpr int32_t kSessionNotPresentCode = 1107;
constexpr int32_t kConnectionLostCode = 1102;
// Replies above this size are not kept; the request repeated after a
// reconnect is refused instead of being run a second time.
constexpr int64_t kBRNMaxKeptReplySize = 1024 * 1024;
constexpr int32_t kBRNKeptReplyTooLargeCode = 1101;
constexpr const char* kKeptReplyTooLargeMessage =
    "The reply to the repeated request is too large to be sent again";

// The digest of a request as received: its code and every byte after the
// header.
std::vector<uint8_t> RequestDigest(const TBRNCommsMemoryStream& message) {
  TBRNDigest digest;
  const int32_t code = message.Code;
  digest.Update(&code, sizeof(code));
  const int64_t size = message.GetSize() - kBRNCommsHeaderSize;
  if (size > 0) digest.Update(message.GetMemory() + kBRNCommsHeaderSize, size_t(size));
  digest.Finalize();
  return std::vector<uint8_t>(digest.Digest.begin(), digest.Digest.end());
}

// The connection thread running on this OS thread while it serves a
// connection: callbacks fired on any other thread do not reach a client.
thread_local TBRNServerThread* servingThread = nullptr;

struct ServingThreadScope {
  explicit ServingThreadScope(TBRNServerThread* thread) { servingThread = thread; }
  ~ServingThreadScope() { servingThread = nullptr; }
  ServingThreadScope(const ServingThreadScope&) = delete;
  ServingThreadScope& operator=(const ServingThreadScope&) = delete;
};

// The thread serving session on this OS thread, or nullptr when the caller
// is another thread (the sweep, a statement of another session) or the
// session is attached elsewhere.
TBRNServerThread* callbackThread(TBRNServerSessionManager& session) {
  TBRNServerThread* thread = servingThread;
  if (thread == nullptr) {
    // A debugged script's own thread: it may use the connection while the
    // connection's thread waits for it to pause or end.
    auto* waiting = dynamic_cast<TBRNServerThread*>(session.GetConnectionThread());
    return waiting != nullptr && waiting->IsWaitingForDebugger() ? waiting : nullptr;
  }
  if (!session.IsAttachedTo(thread)) return nullptr;
  return thread;
}

// Every connection thread alive, so that a stopping engine can end them all
// at once. A thread leaves it first thing in its destructor.
std::mutex liveThreadsLock;
std::vector<TBRNServerThread*> liveThreads;

}  // namespace

// Bytes queued from which a held connection gets its worker even when its
// first message is not whole yet: well within every socket buffer, so that a
// large first message cannot stall half-received; far above a real Connect.
constexpr int32_t kFirstMessageHandOverBytes = 4096;

bool IsFirstMessageQueued(TBRNServerClientSocketWrapper& connection, int32_t maxMessageSize) {
  uint8_t header[kBRNCommsHeaderSize];
  if (connection.PeekBuffer(header, kBRNCommsHeaderSize) < kBRNCommsHeaderSize) return false;
  int32_t paddedSize = LoadLittleEndian<int32_t>(header + 16);
  int32_t realSize = LoadLittleEndian<int32_t>(header + 20);
  int32_t compressionCode = LoadLittleEndian<int32_t>(header + 24);
  if (!IsValidCommsHeader(paddedSize, realSize, compressionCode, maxMessageSize)) return true;
  int32_t queued = connection.GetQueuedCount();
  return queued >= paddedSize || queued >= kFirstMessageHandOverBytes;
}

void StopServerThreads(const TBRNServerEngineManager* engine) {
  std::lock_guard<std::mutex> guard(liveThreadsLock);
  for (TBRNServerThread* thread : liveThreads) {
    if (&thread->GetEngine() == engine) thread->Terminate();
  }
}

// --- transport

TBRNServerCommsManager::TBRNServerCommsManager(TBRNEnvironment& environment,
                                               TBRNServerThread& thread,
                                               TBRNCompressionManager& compressionManager,
                                               const TBRNEngineManagerSettings& settings)
    : TBRNCommsManager(environment, compressionManager, settings), thread_(&thread) {}

void TBRNServerCommsManager::DoReceiveTimeout(bool& continueReceiving) {
  thread_->DoReceiveTimeout(continueReceiving);
}

void TBRNServerCommsManager::DoSendProgress(int32_t bytes, int32_t percent) {
  thread_->DoSendProgress(bytes, percent);
}

void TBRNServerCommsManager::DoReceiveProgress(int32_t bytes, int32_t percent) {
  thread_->DoReceiveProgress(bytes, percent);
}

void TBRNServerCommsManager::DoConnectionError(const std::string& message) {
  thread_->DoConnectionLost(message);
}

// --- thread

TBRNServerThread::TBRNServerThread(TBRNServerEngineManager* engine,
                                   std::unique_ptr<TBRNServerClientSocketWrapper> connection)
    : TBRNServerClientThread(std::move(connection)), engine_(engine) {
  if (engine_ == nullptr) throw std::invalid_argument("A connection thread needs its engine");
  compressionManager_ = std::make_unique<TBRNCompressionManager>();
  transport_ = std::make_unique<TBRNServerCommsManager>(*engine_->Environment, *this,
                                                        *compressionManager_, *engine_->Settings);
  transport_->ReceiveTimeout = engine_->ServerSessionTimeout;
  transport_->AdoptPeerLevel = true;
  std::lock_guard<std::mutex> guard(liveThreadsLock);
  liveThreads.push_back(this);
}

TBRNServerThread::~TBRNServerThread() {
  {
    std::lock_guard<std::mutex> guard(liveThreadsLock);
    liveThreads.erase(std::find(liveThreads.begin(), liveThreads.end(), this));
  }
  // Execute uses the members below: it must end before they go.
  TerminateAndWait();
}

void TBRNServerThread::Terminate() {
  debuggerEvent_.Signal();
  TBRNServerClientThread::Terminate();
  CloseConnection();
}

void TBRNServerThread::CloseConnection() {
  std::lock_guard<std::mutex> guard(connectionLock_);
  if (liveConnection_ == nullptr || !liveConnection_->GetOpen()) return;
  try {
    liveConnection_->Close();
  } catch (...) {
    // Closing is best effort: the loop ends either way.
  }
}

bool TBRNServerThread::GetConnectionOpen() {
  std::lock_guard<std::mutex> guard(connectionLock_);
  return liveConnection_ != nullptr && liveConnection_->GetOpen();
}

void TBRNServerThread::DoReceiveTimeout(bool& continueReceiving) {
  continueReceiving = false;
}

void TBRNServerThread::DoSendProgress(int32_t, int32_t) {}

void TBRNServerThread::DoReceiveProgress(int32_t, int32_t) {
  // A client that trickles its first message in small pieces still gets
  // only the connect time.
  if (!firstMessageDone_ && connectTimeLeft() == 0) {
    throw EBRNCommsException(kConnectTooSlowMessage);
  }
}

void TBRNServerThread::DoConnectionLost(const std::string& message) {
  throw EBRNException(kConnectionLostCode, FormatText(kConnectionLostMessage, {message}));
}

int32_t TBRNServerThread::connectTimeLeft() const {
  TBRNEnvironment& environment = *engine_->Environment;
  int64_t limit = int64_t(std::max(0, engine_->ServerConnectTimeout)) * 1000;
  int64_t elapsed = environment.GetElapsedTicks(connectionStartTicks_, environment.GetTickCount());
  return elapsed >= limit ? 0 : int32_t(limit - elapsed);
}

void TBRNServerThread::BeginConnection() {
  TBRNServerClientSocketWrapper* connection = GetConnection();
  {
    std::lock_guard<std::mutex> guard(connectionLock_);
    liveConnection_ = connection;
  }
  transport_->Handshake = true;
  transport_->Encrypted = false;
  transport_->ReceiveTimeout = engine_->ServerSessionTimeout;
  transport_->MaxMessageSize = engine_->ServerMaxLoginMessageSize;
  transport_->AttachSocket(connection);
  SetSessionID(0);
  closeAfterReply_ = false;
  firstMessageDone_ = false;
  // The connect time runs from the accept: the listener may have held the
  // connection until its first bytes came.
  int64_t heldMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - connection->GetAcceptTime())
                       .count();
  uint32_t now = uint32_t(engine_->Environment->GetTickCount());
  connectionStartTicks_ = int32_t(now - uint32_t(std::max<int64_t>(0, heldMs)));
  try {
    peerAddress_ = connection->GetPeerAddress();
  } catch (...) {
    peerAddress_.clear();
  }
  clientVersion_ = 0;
  clientBuild_ = 0;
  clientEdition_.clear();
  identity_.clear();
  sessionName_.clear();
  sessionDescription_.clear();
  clientThreadId_ = 0;
  encryptionRequested_ = false;
}

void TBRNServerThread::EndConnection() {
  transport_->Handshake = false;
  closeAfterReply_ = false;
  int32_t sessionId = GetSessionID();
  // Only a session still attached to this thread is detached: after a
  // takeover the session belongs to the new connection.
  if (sessionId != 0) engine_->DisconnectServerSession(sessionId, this);
  SetSessionID(0);
  CloseConnection();
  transport_->DetachSocket();
  std::lock_guard<std::mutex> guard(connectionLock_);
  liveConnection_ = nullptr;
}

bool TBRNServerThread::receiveRequest(std::unique_ptr<TBRNCommsRequest>& request) {
  bool continueReceiving = true;
  if (!firstMessageDone_) {
    // The first message must be whole within the connect time: wait for its
    // start within what is left, then give each wait at most that much.
    int32_t left = connectTimeLeft();
    TBRNServerClientSocketWrapper* connection = GetConnection();
    if (left == 0 || connection == nullptr || !connection->WaitForReadable(left)) {
      CloseConnection();
      return false;
    }
    transport_->ReceiveTimeout = std::max(1, (connectTimeLeft() + 999) / 1000);
  }
  transport_->ReceiveCommsMessage(request, continueReceiving);
  if (!continueReceiving || !GetConnectionOpen()) {
    CloseConnection();
    return false;
  }
  if (!firstMessageDone_ && connectTimeLeft() == 0) {
    CloseConnection();
    return false;
  }
  return true;
}

void TBRNServerThread::ServeConnection() {
  TBRNServerClientSocketWrapper* connection = GetConnection();
  // A connection accepted while the engine stops is not served.
  if (Terminated || connection == nullptr || !connection->GetOpen() || engine_->IsStopping())
    return;
  ServingThreadScope scope(this);
  try {
    BeginConnection();
    while (!Terminated && GetConnectionOpen()) {
      std::unique_ptr<TBRNCommsRequest> request = transport_->AcquireRequest();
      try {
        if (receiveRequest(request) && !Terminated) ProcessRequest(*request);
      } catch (...) {
        CloseConnection();
      }
      transport_->ReleaseRequest(std::move(request));
    }
  } catch (...) {
    CloseConnection();
  }
  try {
    EndConnection();
  } catch (...) {
    // Nothing leaves the thread.
  }
}

void TBRNServerThread::ProcessRequest(TBRNCommsRequest& request) {
  transport_->UnpackReply(request);
  bool sendReply = DispatchRequest(request, false);
  if (sendReply && !Terminated && GetConnectionOpen()) transport_->SendCommsMessage(request);
  if (closeAfterReply_) CloseConnection();
  transport_->Handshake = false;
}

bool TBRNServerThread::DispatchRequest(TBRNCommsRequest& request, bool nested) {
  TBRNServerRequest served(*this, request);
  int32_t code = served.GetCode();
  int32_t outerCode = currentRequestCode_;
  currentRequestCode_ = code;
  bool sendReply = true;
  try {
    if (code == kBRNPingServerCode) {
      sendReply = false;
      forgetKeptReply(nested);
    } else if (code == kBRNConnectSessionCode || code == kBRNReconnectSessionCode) {
      if (nested || firstMessageDone_) {
        // Valid only as the first message of a connection.
        SendInvalidRequestReply(served);
      } else {
        firstMessageDone_ = true;
        bool attached =
            code == kBRNConnectSessionCode ? connectSession(served) : reconnectSession(served);
        if (!attached) closeAfterReply_ = true;
        else transport_->ReceiveTimeout = engine_->ServerSessionTimeout;
      }
    } else if (!firstMessageDone_) {
      // Anything else before a connect: refused, and the connection closed.
      firstMessageDone_ = true;
      engine_->LogServerEvent(lcError, code, kBRNInvalidRequestCode, kBRNInvalidRequestMessage);
      SendInvalidRequestReply(served);
      closeAfterReply_ = true;
    } else if (nested && code == kBRNLogoutSessionCode) {
      // The outer request still works on the session: a logout now would
      // free it under that request. Logout has no reply anyway.
      engine_->LogServerEvent(lcWarning, code, 506,
                              "A logout sent while the server waits for a callback answer "
                              "was ignored");
      sendReply = false;
    } else {
      dispatchSessionRequest(served, nested);
    }
  } catch (const EBRNInvalidRequest&) {
    SendInvalidRequestReply(served);
  } catch (const std::exception& error) {
    SendErrorReply(served, error);
  }
  currentRequestCode_ = nested ? outerCode : code;
  if (!sendReply) return false;
  if (!served.GetReplyBegun()) served.BeginReply();
  transport_->PackRequest(request);
  return true;
}

void TBRNServerThread::dispatchSessionRequest(TBRNServerRequest& request, bool nested) {
  int32_t code = request.GetCode();
  int32_t sessionId = GetSessionID();
  if (nested && !IsNestableRequest(code)) engine_->RaiseSessionLockError(sessionId);
  TBRNEngineSessionManager* found = nullptr;
  if (sessionId == 0 || !engine_->FindSession(sessionId, found, !nested, kSessionLockTries,
                                              kSessionLockWaitMs, false)) {
    SendInvalidRequestReply(request);
    return;
  }
  auto* session = dynamic_cast<TBRNServerSessionManager*>(found);
  // Taken over by another connection between the lookup of the ID and the
  // lock: not this thread's session any more.
  if (session == nullptr || !session->IsAttachedTo(this)) {
    if (!nested) engine_->UnlockSessionEntry(found);
    SendInvalidRequestReply(request);
    return;
  }
  // While a debugged script runs (not paused) only the debugger's own
  // requests reach the session.
  if (session->RequestState.ScriptRunning && (code < 365 || code > 374)) {
    if (!nested) engine_->UnlockSessionEntry(session);
    try {
      engine_->RaiseSessionLockError(sessionId);
    } catch (const EBRNException& busy) {
      SendErrorReply(request, busy);
    }
    return;
  }
  const bool firstAfterReconnect = !nested && firstRequestAfterReconnect_;
  if (!nested) firstRequestAfterReconnect_ = false;
  std::vector<uint8_t> digest;
  if (!nested && code != kBRNLogoutSessionCode) digest = RequestDigest(request.Input());
  if (firstAfterReconnect && replayKeptReply(request, *session, digest)) {
    engine_->UnlockSessionEntry(session);
    return;
  }
  try {
    TBRNServerRequestHandler handler = GetServerRequestTable().Find(code);
    if (handler == nullptr) {
      SendInvalidRequestReply(request);
    } else {
      handler(request, *session);
    }
  } catch (const EBRNInvalidRequest&) {
    SendInvalidRequestReply(request);
  } catch (const std::exception& error) {
    SendErrorReply(request, error);
  }
  if (request.SessionFreed) return;
  if (!digest.empty()) keepReply(request, *session, std::move(digest));
  try {
    updateMessageCap(session->IsLoggedIn());
  } catch (...) {
    updateMessageCap(false);
  }
  if (!nested) engine_->UnlockSessionEntry(session);
}


bool TBRNServerThread::replayKeptReply(TBRNServerRequest& request,
                                       TBRNServerSessionManager& session,
                                       const std::vector<uint8_t>& digest) {
  TBRNServerRequestState& kept = session.RequestState;
  if (digest.empty() || kept.LastRequestDigest != digest) return false;
  if (kept.LastReplyTooLarge) {
    SendErrorReply(request, EBRNException(kBRNKeptReplyTooLargeCode, kKeptReplyTooLargeMessage));
    return true;
  }
  TBRNCommsRequest& comms = request.GetComms();
  transport_->BeginRequest(comms, kept.LastReplyCode);
  TBRNCommsMemoryStream& out = transport_->RequestStream(comms);
  if (!kept.LastReply.empty()) out.Write(kept.LastReply.data(), int32_t(kept.LastReply.size()));
  request.replyBegun_ = true;
  return true;
}

void TBRNServerThread::keepReply(TBRNServerRequest& request, TBRNServerSessionManager& session,
                                 std::vector<uint8_t> digest) {
  TBRNServerRequestState& kept = session.RequestState;
  kept.ForgetLastRequest();
  if (!request.GetReplyBegun()) request.BeginReply();
  const TBRNCommsMemoryStream& out = request.GetComms().Outgoing;
  const int64_t size = out.GetSize() - kBRNCommsHeaderSize;
  kept.LastRequestDigest = std::move(digest);
  kept.LastReplyCode = out.Code;
  if (size > kBRNMaxKeptReplySize) {
    kept.LastReplyTooLarge = true;
    return;
  }
  if (size > 0)
    kept.LastReply.assign(out.GetMemory() + kBRNCommsHeaderSize,
                          out.GetMemory() + kBRNCommsHeaderSize + size);
}

void TBRNServerThread::forgetKeptReply(bool nested) {
  const int32_t sessionId = GetSessionID();
  TBRNEngineSessionManager* found = nullptr;
  if (sessionId == 0 || !engine_->FindSession(sessionId, found, !nested, kSessionLockTries,
                                              kSessionLockWaitMs, false))
    return;
  auto* session = dynamic_cast<TBRNServerSessionManager*>(found);
  if (session != nullptr && session->IsAttachedTo(this)) session->RequestState.ForgetLastRequest();
  if (!nested) engine_->UnlockSessionEntry(found);
}


void TBRNServerThread::updateMessageCap(bool loggedIn) {
  transport_->MaxMessageSize =
      loggedIn ? engine_->ServerMaxMessageSize : engine_->ServerMaxLoginMessageSize;
}

void TBRNServerThread::SendErrorReply(TBRNServerRequest& request, const std::exception& error) {
  int32_t code = kBRNNonEngineErrorCode;
  std::string message = error.what();
  int32_t line = 0;
  int32_t column = 0;
  if (const auto* engineError = dynamic_cast<const EBRNException*>(&error)) {
    code = engineError->ErrorCode;
    message = engineError->ErrorMessage;
    line = engineError->ErrorLine;
    column = engineError->ErrorColumn;
  }
  TBRNCommsRequest& comms = request.GetComms();
  transport_->BeginRequest(comms, code);
  TBRNCommsMemoryStream& out = transport_->RequestStream(comms);
  out.WriteString(message);
  if (clientVersion_ >= kBRNErrorPositionVersion) {
    out.WriteInteger(line);
    out.WriteInteger(column);
  }
  request.replyBegun_ = true;
}

void TBRNServerThread::SendInvalidRequestReply(TBRNServerRequest& request) {
  SendErrorReply(request, EBRNException(kBRNInvalidRequestCode, kBRNInvalidRequestMessage));
}

void TBRNServerThread::logServerError(int32_t operation, const std::exception& error) {
  int32_t code = kBRNNonEngineErrorCode;
  std::string message = error.what();
  if (const auto* engineError = dynamic_cast<const EBRNException*>(&error)) {
    code = engineError->ErrorCode;
    message = engineError->ErrorMessage;
  } else if (dynamic_cast<const EBRNInvalidRequest*>(&error) != nullptr) {
    code = kBRNInvalidRequestCode;
  }
  engine_->LogServerEvent(lcError, operation, code, message);
}

// --- connect and reconnect

void TBRNServerThread::readClientFields(TBRNServerRequest& request, bool reconnect) {
  clientVersion_ = request.ReadInt64();
  clientBuild_ = request.ReadInt32();
  clientEdition_ = request.ReadString();
  encryptionRequested_ = request.ReadBoolean();
  identity_ = request.ReadString();
  sessionName_ = request.ReadString();
  if (!reconnect) sessionDescription_ = request.ReadString();
  clientThreadId_ = request.ReadUInt32();
  transport_->Encrypted = encryptionRequested_;
}

void TBRNServerThread::refuse(TBRNServerRequest& request, int32_t operation, int32_t code,
                              const std::string& message) {
  engine_->LogServerEvent(lcError, operation, code, message);
  SendErrorReply(request, EBRNException(code, message));
}

bool TBRNServerThread::refuseClient(TBRNServerRequest& request, int32_t operation) {
  if (engine_->ServerEncryptedOnly && !encryptionRequested_) {
    refuse(request, operation, kEncryptedRequiredCode, kEncryptedRequiredMessage);
    return true;
  }
  if (!engine_->IsAddressAllowed(peerAddress_)) {
    refuse(request, operation, kAddressBlockedCode,
           FormatText(kAddressBlockedMessage, {peerAddress_}));
    return true;
  }
  return false;
}

bool TBRNServerThread::connectSession(TBRNServerRequest& request) {
  try {
    readClientFields(request, false);
    if (refuseClient(request, kBRNConnectSessionCode)) return false;
    request.Require(kConnectSettingsSize +
                    (clientVersion_ >= kOdbcVersionClientVersion ? 4 : 0));
    TBRNServerSessionManager* session = engine_->CreateServerSession(request.Input(), this);
    // Created locked: unlocked once the reply is written, whatever happens.
    struct Unlock {
      TBRNServerEngineManager* engine;
      TBRNServerSessionManager* session;
      ~Unlock() { engine->UnlockSessionEntry(session); }
    } unlock{engine_, session};
    TBRNCommsMemoryStream& out = request.BeginReply();
    out.WriteInt64(kBRNEngineVersion);
    out.WriteInteger(kBRNEngineBuild);
    out.WriteString(kBRNServerEdition);
    out.WriteInteger(session->Handle);
    return true;
  } catch (const std::exception& error) {
    logServerError(kBRNConnectSessionCode, error);
    if (dynamic_cast<const EBRNInvalidRequest*>(&error) != nullptr) {
      SendInvalidRequestReply(request);
    } else {
      SendErrorReply(request, error);
    }
    return false;
  }
}

bool TBRNServerThread::reconnectSession(TBRNServerRequest& request) {
  try {
    readClientFields(request, true);
    int32_t sessionId = request.ReadInt32();
    if (refuseClient(request, kBRNReconnectSessionCode)) return false;
    if (!engine_->ReconnectServerSession(this, sessionId)) {
      refuse(request, kBRNReconnectSessionCode, kSessionNotPresentCode,
             FormatText(kSessionNotPresentMessage, {IntegerToString(sessionId)}));
      return false;
    }
    request.BeginReply();
    firstRequestAfterReconnect_ = true;
    // A session that has a user logged in gets the full message size at once.
    TBRNEngineSessionManager* found = nullptr;
    if (engine_->FindSession(GetSessionID(), found, true, kSessionLockTries, kSessionLockWaitMs,
                             false)) {
      auto* session = dynamic_cast<TBRNServerSessionManager*>(found);
      bool loggedIn = false;
      try {
        loggedIn = session != nullptr && session->IsAttachedTo(this) && session->IsLoggedIn();
      } catch (...) {
        loggedIn = false;
      }
      engine_->UnlockSessionEntry(found);
      updateMessageCap(loggedIn);
    }
    return true;
  } catch (const std::exception& error) {
    logServerError(kBRNReconnectSessionCode, error);
    if (dynamic_cast<const EBRNInvalidRequest*>(&error) != nullptr) {
      SendInvalidRequestReply(request);
    } else {
      SendErrorReply(request, error);
    }
    return false;
  }
}

// --- callbacks

bool TBRNServerThread::WaitForClientReply(std::unique_ptr<TBRNCommsRequest>& request) {
  try {
    while (!Terminated && GetConnectionOpen()) {
      bool continueReceiving = true;
      transport_->ReceiveCommsMessage(request, continueReceiving);
      if (!continueReceiving || !GetConnectionOpen()) break;
      transport_->UnpackReply(*request);
      int32_t code = request->Incoming.Code;
      if (code == kBRNLoginPromptAnswer || code == kBRNCallbackAnswer) return true;
      if (DispatchRequest(*request, true) && GetConnectionOpen()) {
        transport_->SendCommsMessage(*request);
      }
    }
  } catch (...) {
    // Falls through: no answer.
  }
  CloseConnection();
  return false;
}

bool TBRNServerThread::callBack(std::unique_ptr<TBRNCommsRequest>& request) {
  transport_->PackRequest(*request);
  transport_->SendCommsMessage(*request);
  return WaitForClientReply(request);
}

namespace {

// A request of the transport's pool for one callback, back in the pool at
// the end.
struct CallbackRequest {
  explicit CallbackRequest(TBRNCommsManager& transport)
      : transport(transport), request(transport.AcquireRequest()) {}
  ~CallbackRequest() { transport.ReleaseRequest(std::move(request)); }
  CallbackRequest(const CallbackRequest&) = delete;
  CallbackRequest& operator=(const CallbackRequest&) = delete;

  TBRNCommsMemoryStream& Begin(int32_t code) {
    transport.BeginRequest(*request, code);
    return transport.RequestStream(*request);
  }

  TBRNCommsManager& transport;
  std::unique_ptr<TBRNCommsRequest> request;
};

}  // namespace

void TBRNServerThread::SendLoginPrompt(bool& handled, std::string& userName,
                                       std::string& password, bool& proceed) {
  handled = false;
  try {
    CallbackRequest callback(*transport_);
    TBRNCommsMemoryStream& out = callback.Begin(kBRNLoginPromptCallback);
    out.WriteString(userName);
    out.WriteString(password);
    out.WriteBoolean(proceed);
    if (!callBack(callback.request)) return;
    TBRNServerRequest answer(*this, *callback.request);
    bool answerHandled = answer.ReadBoolean();
    std::string answerUser = answer.ReadString();
    std::string answerPassword = answer.ReadString();
    bool answerProceed = answer.ReadBoolean();
    handled = answerHandled;
    userName = std::move(answerUser);
    password = std::move(answerPassword);
    proceed = answerProceed;
  } catch (...) {
    handled = false;
    proceed = false;
  }
}

void TBRNServerThread::SendProgress(int32_t percentDone, bool& proceed) {
  try {
    CallbackRequest callback(*transport_);
    callback.Begin(kBRNProgressCallback).WriteInteger(percentDone);
    if (!callBack(callback.request)) {
      proceed = false;
      return;
    }
    TBRNServerRequest answer(*this, *callback.request);
    proceed = answer.ReadBoolean();
  } catch (...) {
    proceed = false;
  }
}

void TBRNServerThread::SendStatusMessage(const std::string& text) {
  try {
    CallbackRequest callback(*transport_);
    callback.Begin(kBRNStatusMessageCallback).WriteString(text);
    callBack(callback.request);
  } catch (...) {
    // The client's answer carries nothing.
  }
}

void TBRNServerThread::SendLogMessage(const std::string& text) {
  try {
    CallbackRequest callback(*transport_);
    callback.Begin(kBRNLogMessageCallback).WriteString(text);
    callBack(callback.request);
  } catch (...) {
    // The client's answer carries nothing.
  }
}

namespace {

// Stops a long operation once its client has gone.
void installProgressCheck(TBRNServerSessionManager& session) {
  TBRNServerSessionManager* target = &session;
  session.Events.OnProgress = [target](int32_t, bool& proceed) {
    TBRNServerThread* thread = callbackThread(*target);
    if (thread != nullptr && !thread->GetConnectionOpen()) proceed = false;
  };
}

}  // namespace

void TBRNServerThread::InstallLoginPrompt(TBRNServerSessionManager& session) {
  TBRNServerSessionManager* target = &session;
  session.Events.OnLogin = [target](bool& handled, std::string& userName, std::string& password,
                                    bool& proceed) {
    TBRNServerThread* thread = callbackThread(*target);
    if (thread == nullptr) {
      handled = false;
      return;
    }
    thread->SendLoginPrompt(handled, userName, password, proceed);
  };
  installProgressCheck(session);
}

void TBRNServerThread::InstallOperationCallbacks(TBRNServerSessionManager& session,
                                                 bool reportProgress, bool reportStatus,
                                                 bool reportLog) {
  TBRNServerSessionManager* target = &session;
  if (reportProgress) {
    session.Events.OnProgress = [target](int32_t percentDone, bool& proceed) {
      if (TBRNServerThread* thread = callbackThread(*target)) {
        thread->SendProgress(percentDone, proceed);
      }
    };
  } else {
    installProgressCheck(session);
  }
  session.Events.OnStatusMessage = nullptr;
  if (reportStatus) {
    session.Events.OnStatusMessage = [target](const std::string& text) {
      if (TBRNServerThread* thread = callbackThread(*target)) thread->SendStatusMessage(text);
    };
  }
  session.Events.OnLogMessage = nullptr;
  if (reportLog) {
    session.Events.OnLogMessage = [target](const std::string& text) {
      if (TBRNServerThread* thread = callbackThread(*target)) thread->SendLogMessage(text);
    };
  }
}


void TBRNServerThread::SendScriptNotification(int32_t line, const std::exception* error, bool,
                                              bool send) {
  if (send && IsWaitingForDebugger()) {
    try {
      CallbackRequest callback(*transport_);
      TBRNCommsMemoryStream& out = callback.Begin(kBRNScriptPauseCallback);
      out.WriteInteger(line);
      if (error == nullptr) {
        out.WriteInteger(0);
      } else if (const auto* engineError = dynamic_cast<const EBRNException*>(error)) {
        out.WriteInteger(engineError->ErrorCode != 0 ? engineError->ErrorCode
                                                     : kBRNNonEngineErrorCode);
        out.WriteString(engineError->ErrorMessage);
        out.WriteInteger(engineError->ErrorLine);
        out.WriteInteger(engineError->ErrorColumn);
      } else {
        out.WriteInteger(kBRNNonEngineErrorCode);
        out.WriteString(error->what());
        out.WriteInteger(0);
        out.WriteInteger(0);
      }
      callBack(callback.request);
    } catch (...) {
      // The answer carries nothing; a lost client leaves the script paused.
    }
  }
}

void TBRNServerThread::SendScriptState(bool stoppedOrFailed, bool send) {
  if (send && IsWaitingForDebugger()) {
    try {
      CallbackRequest callback(*transport_);
      callback.Begin(kBRNScriptStateCallback).WriteBoolean(stoppedOrFailed);
      callBack(callback.request);
    } catch (...) {
      // As above.
    }
  }
}

void TBRNServerThread::ResetDebugger() {
  while (debuggerEvent_.WaitFor(0)) {
  }
  debuggerWaiting_.store(true, std::memory_order_release);
}

void TBRNServerThread::WaitForDebugger() {
  if (!Terminated) debuggerEvent_.WaitFor(-1);
  debuggerWaiting_.store(false, std::memory_order_release);
}

void TBRNServerThread::WakeDebugger() {
  debuggerEvent_.Signal();
}

void TBRNServerThread::CancelDebugger() {
  debuggerWaiting_.store(false, std::memory_order_release);
}

void TBRNServerThread::InstallDebuggerCallbacks(TBRNServerSessionManager& session, bool report) {
  TBRNServerSessionManager* target = &session;
  // The callbacks fire on the script's thread: the connection is the one
  // attached at that moment, whose thread waits for them. A client that
  // does not hear of pauses cannot continue one: without report the run
  // has no pause callback and so never pauses; its end still wakes the
  // request.
  session.Events.OnScriptPause = nullptr;
  if (report) {
    session.Events.OnScriptPause = [target](int32_t line, const std::exception* error,
                                            bool atStatement) {
      if (atStatement) target->RequestState.ScriptRunning = false;
      if (auto* thread = dynamic_cast<TBRNServerThread*>(target->GetConnectionThread()))
        thread->SendScriptNotification(line, error, atStatement, true);
    };
  }
  session.Events.OnScriptEnd = [target, report](int32_t stoppedOrFailed, int32_t) {
    target->RequestState.ScriptRunning = false;
    target->RequestState.ScriptActive = false;
    if (auto* thread = dynamic_cast<TBRNServerThread*>(target->GetConnectionThread()))
      thread->SendScriptState(stoppedOrFailed != 0, report);
  };
}

void TBRNServerThread::ClearDebuggerCallbacks(TBRNServerSessionManager& session) {
  session.Events.OnScriptPause = nullptr;
  session.Events.OnScriptEnd = nullptr;
}


void TBRNServerThread::InstallClientCallbacks(TBRNServerSessionManager& session, bool) {
  InstallLoginPrompt(session);
}

}  // namespace brn
