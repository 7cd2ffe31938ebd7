#include "clientserver/remote/remote_session_manager.h"

#include <unistd.h>

#include <exception>
#include <functional>
#include <stdexcept>
#include <utility>

#include "clientserver/remote/remote_expr_evaluator.h"
#include "clientserver/remote/remote_managers.h"
#include "clientserver/server/session_requests.h"
#include "clientserver/transport/socket_owner.h"
#include "execution/cursors/cached_updates.h"
#include "execution/engine_execution.h"
#include "foundation/core/memory_stream.h"
#include "foundation/locks/compression.h"
#include "foundation/runtime/thread_timer.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "sql/builder/sql_builder.h"
#include "sql/parser/expr_parser.h"
#include "sql/validator/expr_validator.h"

namespace brn {

namespace {

constexpr int32_t kLockWaitMs = 10;
constexpr int32_t kLoginFailedCode = 501;
constexpr const char* kConnectionClosed = "The connection is closed";

uint32_t CurrentThreadID() {
  return uint32_t(::gettid());
}

}  // namespace

// --- trace record

void TBRNRemoteSessionTrace::Assign(const TBRNRemoteSessionTrace& other) {
  Time = other.Time;
  Duration = other.Duration;
  Compression = other.Compression;
  RequestCode = other.RequestCode;
  ReplyCode = other.ReplyCode;
  Size = other.Size;
  Text = other.Text;
}

bool TBRNRemoteSessionTrace::IsEqual(const TBRNRemoteSessionTrace& other) const {
  return Time == other.Time && Duration == other.Duration && Compression == other.Compression &&
         RequestCode == other.RequestCode && ReplyCode == other.ReplyCode && Size == other.Size;
}

void TBRNRemoteSessionTrace::SaveToStream(TBRNMemoryStream& stream) const {
  stream.WriteInt64(Time);
  stream.WriteInteger(Duration);
  stream.WriteInteger(Compression);
  stream.WriteInteger(RequestCode);
  stream.WriteInteger(ReplyCode);
  stream.WriteInteger(Size);
  stream.WriteString(Text);
}

void TBRNRemoteSessionTrace::LoadFromStream(TBRNMemoryStream& stream) {
  Time = stream.ReadInt64();
  Duration = stream.ReadInteger();
  Compression = stream.ReadInteger();
  RequestCode = stream.ReadInteger();
  ReplyCode = stream.ReadInteger();
  Size = stream.ReadInteger();
  stream.ReadString(Text);
}

// --- transport

TBRNRemoteCommsManager::TBRNRemoteCommsManager(TBRNEnvironment& environment,
                                               TBRNRemoteSessionManager& session,
                                               TBRNCompressionManager& compressionManager,
                                               const TBRNEngineManagerSettings& settings)
    : TBRNCommsManager(environment, compressionManager, settings), Session(session) {}

void TBRNRemoteCommsManager::DoReceiveTimeout(bool& continueReceiving) {
  continueReceiving = false;
  // The handshake is bounded by one time-out: nobody is asked.
  if (Handshake) return;
  Session.DoRemoteTimeout(continueReceiving);
}

void TBRNRemoteCommsManager::DoSendProgress(int32_t bytes, int32_t percent) {
  Session.DoRemoteSendProgress(bytes, percent);
}

void TBRNRemoteCommsManager::DoReceiveProgress(int32_t bytes, int32_t percent) {
  Session.DoRemoteReceiveProgress(bytes, percent);
}

void TBRNRemoteCommsManager::DoConnectionError(const std::string& message) {
  if (Handshake) Session.RaiseCannotConnect(message);
  Session.RaiseConnectionLost(message, false);
}

// --- session

TBRNRemoteSessionManager::TBRNRemoteSessionManager(TBRNEngineManager* engine)
    : TBRNEngineSessionManager(engine, false) {
  SessionSettings = std::make_unique<TBRNRemoteSessionEngineManagerSettings>(
      engine, this, engine->Settings->GetTempTablesPath());
  SessionSettings->Assign(engine->Settings.get());
}

TBRNRemoteSessionManager::~TBRNRemoteSessionManager() {
  try {
    CloseSession();
  } catch (const std::exception&) {
    // CloseSession swallows its own failures; nothing can be reported here.
  }
  // The ping thread reaches the session through the engine's table: leave it
  // before the members go.
  UnregisterFromEngine();
}

std::string TBRNRemoteSessionManager::GetServerName() const {
  return RemoteHost.empty() ? RemoteAddress : RemoteHost;
}

int32_t TBRNRemoteSessionManager::ComputeLockTries(int32_t remoteTimeout) {
  return (remoteTimeout + remoteTimeout / 10) / 10;
}

void TBRNRemoteSessionManager::SetRemoteEncryption(bool value) {
  if (Connected) return;
  RemoteEncryption = value;
}

void TBRNRemoteSessionManager::SetRemoteCompression(int32_t value) {
  if (value < 0 || value > 9) throw std::invalid_argument("RemoteCompression must be 0-9");
  RemoteCompression = value;
  if (CommsManager) CommsManager->CompressionLevel = value;
}

void TBRNRemoteSessionManager::SetRemoteTimeout(int32_t value) {
  if (value <= 0) throw std::invalid_argument("RemoteTimeout must be positive");
  RemoteTimeout = value;
  if (CommsManager) CommsManager->ReceiveTimeout = value;
}

void TBRNRemoteSessionManager::SetRemotePing(bool value) {
  if (RemotePing == value) return;
  if (value) {
    RemotePing = true;
    StartPingTimer();
  } else {
    StopPingTimer();
    RemotePing = false;
  }
}

void TBRNRemoteSessionManager::SetRemotePingInterval(int32_t value) {
  if (value <= 0) throw std::invalid_argument("RemotePingInterval must be positive");
  if (RemotePingInterval == value) return;
  StopPingTimer();
  RemotePingInterval = value;
  StartPingTimer();
}

// --- handlers

void TBRNRemoteSessionManager::DoRemoteTimeout(bool& stayConnected) {
  stayConnected = false;
  if (OnRemoteTimeout) OnRemoteTimeout(*this, stayConnected);
}

void TBRNRemoteSessionManager::DoRemoteSendProgress(int32_t numBytes, int32_t percentDone) {
  if (!Pinging && OnRemoteSendProgress) OnRemoteSendProgress(*this, numBytes, percentDone);
}

void TBRNRemoteSessionManager::DoRemoteReceiveProgress(int32_t numBytes, int32_t percentDone) {
  if (!Pinging && OnRemoteReceiveProgress) OnRemoteReceiveProgress(*this, numBytes, percentDone);
}

void TBRNRemoteSessionManager::DoRemoteTrace(const TBRNRemoteSessionTrace& trace) {
  if (OnRemoteTrace) OnRemoteTrace(*this, trace);
}

bool TBRNRemoteSessionManager::DoRemoteReconnect(bool& continueReconnect, bool& stopAsking) {
  if (!OnRemoteReconnect) return false;
  OnRemoteReconnect(*this, continueReconnect, stopAsking);
  return true;
}

void TBRNRemoteSessionManager::RaiseCannotConnect(const std::string& message) {
  throw EBRNException(
      kBRNCannotConnectCode,
      FormatText("A connection to the server at '%s' cannot be established ('%s')",
                 {GetServerName(), message}));
}

void TBRNRemoteSessionManager::RaiseConnectionLost(const std::string& message, bool silent) {
  const std::string text = FormatText("The connection to the server at '%s' has been lost ('%s')",
                                      {GetServerName(), message});
  if (silent) throw EBRNAbortException(text);
  DisconnectFromServer();
  throw EBRNException(kBRNConnectionLostCode, text);
}

// --- answered locally

void TBRNRemoteSessionManager::GetUserName(std::string& name) {
  name = LoggedIn ? UserName : std::string();
}

int32_t TBRNRemoteSessionManager::GetTicks() {
  return Engine->Environment->GetTickCount();
}

int32_t TBRNRemoteSessionManager::GetElapsedTicks(int32_t startTicks, int32_t stopTicks) {
  return Engine->Environment->GetElapsedTicks(startTicks, stopTicks);
}

void TBRNRemoteSessionManager::GetCollationName(int32_t collationId, std::string& name) {
  Engine->BuildCollationName(collationId, name);
}

// --- open and close

void TBRNRemoteSessionManager::OpenSession(const std::string& identity,
                                           const std::string& sessionName,
                                           const std::string& description) {
  TBRNEngineSessionManager::OpenSession(identity, sessionName, description);
  try {
    CreateResources();
    OpenConnection();
  } catch (...) {
    try {
      CloseConnection();
    } catch (const std::exception&) {
    }
    TBRNEngineSessionManager::CloseSession();
    FreeResources();
    throw;
  }
}

void TBRNRemoteSessionManager::CloseSession() {
  if (!ResourcesCreated && !Opened) return;
  // The proxies send their own free requests while the connection is there.
  int32_t position = 0;
  TBRNHandleObject* object = nullptr;
  while (Databases.NextObject(position, object)) {
    auto* database = static_cast<TBRNDatabaseManager*>(object);
    CloseDatabase(database);
  }
  position = 0;
  while (Stores.NextObject(position, object)) {
    auto* store = static_cast<TBRNStoreManager*>(object);
    CloseStore(store);
  }
  TBRNEngineSessionManager::CloseSession();
  try {
    CloseConnection();
  } catch (const std::exception&) {
    // A session closes whatever the server says.
  }
  FreeResources();
}

void TBRNRemoteSessionManager::OpenConnection() {
  ConnectToServer();
}

void TBRNRemoteSessionManager::CloseConnection() {
  StopPingTimer();
  try {
    if (CachedUpdates) CachedUpdates->StopSession();
  } catch (...) {
    DisconnectFromServer();
    throw;
  }
  DisconnectFromServer();
}

TBRNCachedUpdatesManager& TBRNRemoteSessionManager::GetCachedUpdatesManager() {
  if (!ResourcesCreated) throw std::logic_error("The remote session is not open");
  if (!CachedUpdates) {
    // The cache cursors are local cursors of this process.
    InstallExecution();
    CachedUpdates = std::make_unique<TBRNCachedUpdatesManager>(Engine, *this);
  }
  CachedUpdates->StartSession();
  return *CachedUpdates;
}

void TBRNRemoteSessionManager::CreateResources() {
  if (ResourcesCreated) return;
  try {
    SetClientThreadID(CurrentThreadID());
    LockTries = ComputeLockTries(RemoteTimeout);
    Trace = std::make_unique<TBRNRemoteSessionTrace>();
    Socket = std::make_unique<TBRNClientSocket>();
    CompressionManager = std::make_unique<TBRNCompressionManager>();
    CommsManager = std::make_unique<TBRNRemoteCommsManager>(*Engine->Environment, *this,
                                                            *CompressionManager, *SessionSettings);
    CommsManager->Encrypted = RemoteEncryption;
    CommsManager->CompressionLevel = RemoteCompression;
    CommsManager->ReceiveTimeout = RemoteTimeout;
    const bool standardNulls = SessionSettings->GetStandardNullBehavior();
    ExprParser = std::make_unique<TBRNExprParser>();
    ExprValidator = std::make_unique<TBRNExprValidator>(standardNulls);
    ExprBuilder = std::make_unique<TBRNExprBuilder>();
    ExprEvaluator = std::make_unique<TBRNRemoteExprEvaluator>(standardNulls);
    PingTimer = std::make_unique<TBRNThreadTimer>();
    ResourcesCreated = true;
  } catch (...) {
    FreeResources();
    throw;
  }
}

void TBRNRemoteSessionManager::FreeResources() {
  // The timer first: its thread may be inside a ping.
  PingTimer.reset();
  CachedUpdates.reset();
  if (CommsManager) CommsManager->DetachSocket();
  CommsManager.reset();
  CompressionManager.reset();
  Socket.reset();
  Trace.reset();
  ExprEvaluator.reset();
  ExprBuilder.reset();
  ExprValidator.reset();
  ExprParser.reset();
  Connected = false;
  ResourcesCreated = false;
}

namespace {

template <typename T>
T& existing(const std::unique_ptr<T>& tool) {
  if (!tool) throw std::logic_error("The remote session is not open");
  return *tool;
}

}  // namespace

TBRNExprParser& TBRNRemoteSessionManager::GetExprParser() const {
  return existing(ExprParser);
}

TBRNExprValidator& TBRNRemoteSessionManager::GetExprValidator() const {
  return existing(ExprValidator);
}

TBRNExprBuilder& TBRNRemoteSessionManager::GetExprBuilder() const {
  return existing(ExprBuilder);
}

TBRNRemoteExprEvaluator& TBRNRemoteSessionManager::GetExprEvaluator() const {
  return existing(ExprEvaluator);
}

// --- connection

void TBRNRemoteSessionManager::Handshake(bool reconnect) {
  try {
    Socket->SetPort(uint16_t(RemotePort));
    Socket->SetHost(RemoteHost);
    Socket->SetAddress(RemoteAddress);
    Socket->SetService(RemoteService);
    Socket->Open();
  } catch (const EBRNException&) {
    throw;
  } catch (const std::exception& e) {
    RaiseCannotConnect(e.what());
  }
  std::unique_ptr<TBRNCommsRequest> request;
  std::unique_ptr<TBRNCommsRequest> reply;
  struct HandshakeFlag {
    TBRNCommsManager& Comms;
    ~HandshakeFlag() { Comms.Handshake = false; }
  } clearHandshake{*CommsManager};
  try {
    CommsManager->AttachSocket(&Socket->GetWrapper());
    Connected = true;
    CommsManager->Handshake = true;
    CommsManager->Encrypted = RemoteEncryption;
    request = CommsManager->AcquireRequest();
    CommsManager->BeginRequest(*request,
                               reconnect ? kBRNReconnectSessionCode : kBRNConnectSessionCode);
    TBRNMemoryStream& out = CommsManager->RequestStream(*request);
    out.WriteInt64(kBRNClientVersion);
    out.WriteInteger(kBRNClientBuild);
    out.WriteString(kBRNClientEdition);
    out.WriteBoolean(RemoteEncryption);
    out.WriteString(Identity);
    out.WriteString(SessionName);
    if (reconnect) {
      out.WriteCardinal(GetClientThreadID());
      out.WriteInteger(SessionID);
    } else {
      out.WriteString(SessionDescription);
      out.WriteCardinal(GetClientThreadID());
      out.WriteBoolean(KeepTablesOpen);
      out.WriteByte(RecordLockProtocol);
      out.WriteInteger(RecordLockRetryCount);
      out.WriteInteger(RecordLockWaitTime);
      out.WriteBoolean(RecordChangeDetection);
      out.WriteBoolean(ForceBufferFlush);
      out.WriteCardinal(uint32_t(GetProgressTimeInterval()));
      out.WriteInteger(GetODBCVersion());
    }
    CommsManager->PackRequest(*request);
    SendRequest(*request, std::string());
    if (!ReceiveReply(reply)) RaiseConnectionLost(kBRNReceiveTimedOut, false);
    CheckReply(*reply);
    if (!reconnect) {
      TBRNMemoryStream& in = reply->Incoming;
      ServerVersion = in.ReadInt64();
      in.ReadInteger();  // server build
      std::string edition;
      in.ReadString(edition);
      SessionID = in.ReadInteger();
    }
    CommsManager->ReleaseRequest(std::move(request));
    CommsManager->ReleaseRequest(std::move(reply));
  } catch (...) {
    if (CommsManager) {
      CommsManager->ReleaseRequest(std::move(request));
      CommsManager->ReleaseRequest(std::move(reply));
    }
    DisconnectFromServer();
    throw;
  }
}

void TBRNRemoteSessionManager::ConnectToServer() {
  if (Connected) return;
  StopAsking = false;
  SessionID = 0;
  Handshake(false);
}

void TBRNRemoteSessionManager::ReconnectToServer() {
  if (Connected) return;
  Handshake(true);
}

void TBRNRemoteSessionManager::DisconnectFromServer() {
  if (!Connected) return;
  if (CommsManager) CommsManager->DetachSocket();
  try {
    if (Socket) Socket->Close();
  } catch (const std::exception&) {
    // The connection is gone either way.
  }
  Connected = false;
}

void TBRNRemoteSessionManager::ReconnectIfAllowed() {
  if (StopAsking) RaiseConnectionLost(kBRNReconnectionCancelled, true);
  bool continueReconnect = true;
  if (!Pinging) {
    bool stopAsking = StopAsking;
    const bool answered = DoRemoteReconnect(continueReconnect, stopAsking);
    if (answered) {
      StopAsking = continueReconnect ? false : stopAsking;
      if (!continueReconnect) RaiseConnectionLost(kBRNReconnectionCancelled, false);
    }
  }
  ReconnectToServer();
}

void TBRNRemoteSessionManager::EnsureConnected() {
  // Between requests the server sends nothing: a connection with something
  // to read now was closed (or broken) while idle. Found here, before the
  // request goes, it is reconnected with the ping below, so that the
  // request counts as new; found only by the request's own receive, the
  // resend would be taken for the repeat of the previous request.
  if (Connected && Socket && Socket->GetWrapper().WaitForReadable(0)) DisconnectFromServer();
  if (Connected) return;
  ReconnectIfAllowed();
  // A new request follows: the server must not take it for the repeat of
  // the one whose reply it kept when the connection broke.
  SendWithoutReply(kBRNPingServerCode, [](TBRNMemoryStream&) {});
}

void TBRNRemoteSessionManager::SendWithoutReply(
    int32_t code, const std::function<void(TBRNMemoryStream&)>& write) {
  // A request of its own, so that a pending request stays intact for a
  // resend.
  std::unique_ptr<TBRNCommsRequest> request = CommsManager->AcquireRequest();
  struct Release {
    TBRNCommsManager& Comms;
    std::unique_ptr<TBRNCommsRequest>& Request;
    ~Release() { Comms.ReleaseRequest(std::move(Request)); }
  } release{*CommsManager, request};
  CommsManager->BeginRequest(*request, code);
  write(CommsManager->RequestStream(*request));
  CommsManager->PackRequest(*request);
  SendRequest(*request, std::string());
}

// --- messages

void TBRNRemoteSessionManager::SendRequest(TBRNCommsRequest& request, const std::string& text) {
  // The transport sends nothing without a connection: that is a lost one.
  if (!Connected) RaiseConnectionLost(kConnectionClosed, false);
  CommsManager->SendCommsMessage(request);
  TraceRequest(request, text);
}

bool TBRNRemoteSessionManager::ReceiveReply(std::unique_ptr<TBRNCommsRequest>& request) {
  for (;;) {
    bool continueReceiving = true;
    CommsManager->ReceiveCommsMessage(request, continueReceiving);
    if (!continueReceiving) return false;
    if (!Connected) RaiseConnectionLost(kConnectionClosed, false);
    CommsManager->UnpackReply(*request);
    TraceReply(*request);
    const int32_t code = request->Incoming.Code;
    if (code < kBRNCommsLoginPromptCode || code > kBRNScriptStateCallbackCode) return true;
    AnswerCallback(*request);
  }
}

void TBRNRemoteSessionManager::SendRequestAndWait(TBRNCommsRequest& request,
                                                  std::unique_ptr<TBRNCommsRequest>& reply,
                                                  const std::string& text) {
  bool retried = false;
  for (;;) {
    try {
      SendRequest(request, text);
      if (ReceiveReply(reply)) return;
    } catch (const EBRNException&) {
      // Only a broken connection is worth a second try; an error raised by
      // a callback handler is the caller's.
      if (retried || Connected) throw;
      ReconnectIfAllowed();
      retried = true;
      continue;
    }
    RaiseConnectionLost(kBRNReceiveTimedOut, false);
  }
}

void TBRNRemoteSessionManager::AnswerCallback(TBRNCommsRequest& request) {
  TBRNCommsMemoryStream& in = request.Incoming;
  const int32_t code = in.Code;

  // The handler runs with the session unlocked, so that it may make requests
  // of its own; the lock is taken back before the answer goes, also when the
  // handler raises.
  auto unlocked = [this](auto&& handler) {
    UnlockSession();
    try {
      handler();
    } catch (...) {
      LockSession(uint32_t(LockTries), kLockWaitMs);
      throw;
    }
    LockSession(uint32_t(LockTries), kLockWaitMs);
  };
  // Every callback but the login prompt is answered with one Boolean.
  auto answer = [this](bool value) {
    SendWithoutReply(kBRNCallbackAnswerCode,
                     [value](TBRNMemoryStream& out) { out.WriteBoolean(value); });
  };

  switch (code) {
    case kBRNCommsLoginPromptCode: {
      std::string user;
      std::string password;
      in.ReadString(user);
      in.ReadString(password);
      bool flag = in.ReadBoolean();
      bool handled = false;
      unlocked([&] { handled = PromptLogin(user, password, flag); });
      UserName = user;
      SendWithoutReply(kBRNCommsLoginAnswerCode, [&](TBRNMemoryStream& out) {
        out.WriteBoolean(handled);
        out.WriteString(user);
        out.WriteString(password);
        out.WriteBoolean(flag);
      });
      break;
    }
    case kBRNProgressCallbackCode: {
      const int32_t percent = in.ReadInteger();
      bool proceed = true;
      unlocked([&] { proceed = DoProgress(percent); });
      answer(proceed);
      break;
    }
    case kBRNStatusMessageCallbackCode:
    case kBRNLogMessageCallbackCode: {
      std::string text;
      in.ReadString(text);
      unlocked([&] {
        if (code == kBRNStatusMessageCallbackCode)
          DoStatusMessage(text);
        else
          DoLogMessage(text);
      });
      answer(true);
      break;
    }
    case kBRNScriptStepCallbackCode: {
      const int32_t line = in.ReadInteger();
      const int32_t errorCode = in.ReadInteger();
      std::unique_ptr<EBRNException> error;
      if (errorCode != 0) {
        std::string message;
        in.ReadString(message);
        const int32_t errorLine = in.ReadInteger();
        const int32_t errorColumn = in.ReadInteger();
        error = std::make_unique<EBRNException>(errorCode, message, errorLine, errorColumn);
      }
      unlocked([&] { DoScriptPause(line, error.get(), false); });
      answer(true);
      break;
    }
    default: {  // kBRNScriptStateCallbackCode
      const bool flag = in.ReadBoolean();
      unlocked([&] { DoScriptEnd(flag ? 1 : 0, 0); });
      answer(true);
      break;
    }
  }
}

void TBRNRemoteSessionManager::CheckReply(TBRNCommsRequest& request) {
  TBRNMemoryStream& in = request.Incoming;
  const int32_t code = request.Incoming.Code;
  if (code == 0) return;
  // An encrypted session that gets a refusal says no more than that: the
  // reply of a wrong password may not decrypt into anything useful.
  if (code == kLoginFailedCode && RemoteEncryption) {
    throw EBRNException(code, FormatText("Login failed (%s)",
                                         {"The user name or password is incorrect"}),
                        0, 0);
  }
  std::string message;
  in.ReadString(message);
  int32_t line = 0;
  int32_t column = 0;
  if (ServerVersion >= 10900) {
    line = in.ReadInteger();
    column = in.ReadInteger();
  }
  throw EBRNException(code, message, line, column);
}

void TBRNRemoteSessionManager::TraceRequest(TBRNCommsRequest& request, const std::string& text) {
  if (!RemoteTrace || !Trace) return;
  const TBRNCommsMemoryStream& message = request.Outgoing;
  Trace->Time = CurrentTimestamp(false);
  Trace->Duration = request.SendTime;
  Trace->Compression = message.CompressionCode;
  Trace->RequestCode = message.Code;
  Trace->ReplyCode = -1;
  Trace->Size = message.PaddedSize;
  Trace->Text = text;
  DoRemoteTrace(*Trace);
}

void TBRNRemoteSessionManager::TraceReply(TBRNCommsRequest& request) {
  if (!RemoteTrace || !Trace) return;
  const TBRNCommsMemoryStream& message = request.Incoming;
  Trace->Time = CurrentTimestamp(false);
  Trace->Duration = request.ReceiveTime;
  Trace->Compression = message.CompressionCode;
  Trace->ReplyCode = message.Code;
  Trace->Size = message.PaddedSize;
  Trace->Text.clear();
  DoRemoteTrace(*Trace);
}

// --- login, logout, ping

void TBRNRemoteSessionManager::Login(const std::string& userName, const std::string& password) {
  {
    TBRNRemoteCall call(*this, kBRNLoginSessionCode, false);
    TBRNMemoryStream& out = call.Request();
    out.WriteString(userName);
    out.WriteString(password);
    UserName = userName;
    call.Execute();
    LoggedIn = true;
  }
  StartPingTimer();
}

void TBRNRemoteSessionManager::Logout() {
  if (!LoggedIn || !ResourcesCreated) return;
  StopPingTimer();
  try {
    LockSession(uint32_t(LockTries), kLockWaitMs);
  } catch (const std::exception&) {
    return;
  }
  std::unique_ptr<TBRNCommsRequest> request;
  try {
    EnsureConnected();
    request = CommsManager->AcquireRequest();
    CommsManager->BeginRequest(*request, kBRNLogoutSessionCode);
    CommsManager->PackRequest(*request);
    try {
      SendRequest(*request, std::string());
    } catch (const EBRNException&) {
      ReconnectIfAllowed();
      SendRequest(*request, std::string());
    }
    LoggedIn = false;
  } catch (...) {
    // A logout that cannot reach the server leaves the session to the
    // server's sweep: the caller is never told.
  }
  try {
    DisconnectFromServer();
    if (CommsManager) CommsManager->ReleaseRequest(std::move(request));
    UnlockSession();
  } catch (...) {
  }
}

void TBRNRemoteSessionManager::Ping() {
  if (!TryLockSession(1, 0)) return;
  Pinging = true;
  try {
    if (!Connected) ReconnectIfAllowed();
    SendWithoutReply(kBRNPingServerCode, [](TBRNMemoryStream&) {});
  } catch (...) {
    // A failed ping is found again by the next operation.
  }
  Pinging = false;
  UnlockSession();
}

void TBRNRemoteSessionManager::StartPingTimer() {
  if (!LoggedIn || !RemotePing || !PingTimer) return;
  PingTimer->SetOnTimer([this](TBRNThreadTimer*) { Ping(); });
  PingTimer->SetInterval(RemotePingInterval * 1000);
  PingTimer->SetEnabled(true);
}

void TBRNRemoteSessionManager::StopPingTimer() {
  if (PingTimer) PingTimer->SetEnabled(false);
}

// --- databases and stores

TBRNDatabaseManager* TBRNRemoteSessionManager::OpenDatabase(const std::string& databaseName,
                                                            uint8_t lockType) {
  int32_t handle = 0;
  {
    TBRNRemoteCall call(*this, kBRNOpenDatabaseCode);
    call.Request().WriteString(databaseName);
    call.Request().WriteByte(lockType);
    handle = call.Execute().ReadInteger();
  }
  auto database = std::make_unique<TBRNRemoteDatabaseManager>(this, handle);
  database->OpenDatabase(lockType);
  Databases.AddObject(database.get(), false);
  return database.release();
}

void TBRNRemoteSessionManager::CloseDatabase(TBRNDatabaseManager*& database) {
  if (database == nullptr) return;
  auto* remote = static_cast<TBRNRemoteDatabaseManager*>(database);
  database = nullptr;
  try {
    TBRNDatabaseManager* base = remote;
    TBRNEngineSessionManager::CloseDatabase(base);
  } catch (...) {
  }
  if (ResourcesCreated) {
    try {
      TBRNRemoteCall call(*this, kBRNCloseDatabaseCode);
      call.Request().WriteInteger(remote->ServerHandle);
      call.Execute();
    } catch (...) {
      // The server closes what its session still holds when the session ends.
    }
  }
  Databases.RemoveObject(remote, false);
  delete remote;
}

TBRNStoreManager* TBRNRemoteSessionManager::OpenStore(const std::string& storeName,
                                                      uint8_t lockType, bool) {
  int32_t handle = 0;
  {
    TBRNRemoteCall call(*this, kBRNOpenStoreCode);
    call.Request().WriteString(storeName);
    call.Request().WriteByte(lockType);
    handle = call.Execute().ReadInteger();
  }
  auto store = std::make_unique<TBRNRemoteStoreManager>(this, handle);
  store->OpenStore(lockType);
  Stores.AddObject(store.get(), false);
  return store.release();
}

void TBRNRemoteSessionManager::CloseStore(TBRNStoreManager*& store) {
  if (store == nullptr) return;
  auto* remote = static_cast<TBRNRemoteStoreManager*>(store);
  store = nullptr;
  try {
    remote->CloseStore(false);
  } catch (...) {
  }
  if (ResourcesCreated) {
    try {
      TBRNRemoteCall call(*this, kBRNCloseStoreCode);
      call.Request().WriteInteger(remote->ServerHandle);
      call.Execute();
    } catch (...) {
    }
  }
  Stores.RemoveObject(remote, false);
  delete remote;
}

// --- one remote operation

TBRNRemoteCall::TBRNRemoteCall(TBRNRemoteSessionManager& session, int32_t code,
                               bool ensureConnected)
    : session_(session) {
  if (!session.ResourcesCreated) throw std::logic_error("The remote session is not open");
  session.LockSession(uint32_t(session.LockTries), kLockWaitMs);
  locked_ = true;
  try {
    if (ensureConnected) session.EnsureConnected();
    request_ = session.CommsManager->AcquireRequest();
    session.CommsManager->BeginRequest(*request_, code);
  } catch (...) {
    if (request_) session.CommsManager->ReleaseRequest(std::move(request_));
    session.UnlockSession();
    locked_ = false;
    throw;
  }
}

TBRNRemoteCall::~TBRNRemoteCall() {
  if (session_.CommsManager) {
    session_.CommsManager->ReleaseRequest(std::move(request_));
    session_.CommsManager->ReleaseRequest(std::move(reply_));
  }
  if (locked_) session_.UnlockSession();
}

TBRNMemoryStream& TBRNRemoteCall::Request() {
  return session_.CommsManager->RequestStream(*request_);
}

TBRNMemoryStream& TBRNRemoteCall::Execute(const std::string& text) {
  session_.CommsManager->PackRequest(*request_);
  session_.SendRequestAndWait(*request_, reply_, text);
  session_.CheckReply(*reply_);
  return reply_->Incoming;
}

TBRNMemoryStream& TBRNRemoteCall::Reply() {
  if (!reply_) throw std::logic_error("TBRNRemoteCall: no reply yet");
  return reply_->Incoming;
}

}  // namespace brn
