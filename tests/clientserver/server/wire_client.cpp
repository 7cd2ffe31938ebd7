#include "clientserver/server/wire_client.h"

#include <chrono>
#include <thread>

namespace brn::test {

// The client's transport: every failed transfer raises WireClientError, and
// a receive time-out abandons the receive.
class WireClient::Transport_ : public TBRNCommsManager {
 public:
  using TBRNCommsManager::TBRNCommsManager;
  void DoReceiveTimeout(bool& continueReceiving) override { continueReceiving = false; }
  void DoSendProgress(int32_t, int32_t) override {}
  void DoReceiveProgress(int32_t, int32_t) override {}
  void DoConnectionError(const std::string& message) override { throw WireClientError(message); }
};

WireClient::WireClient(const TBRNEngineManagerSettings* settings) : settings_(nullptr, "/tmp") {
  if (settings != nullptr) {
    settings_.SetSignature(settings->GetSignature());
    settings_.SetEncryptionPassword(settings->GetEncryptionPassword());
  }
  transport_ = std::make_unique<Transport_>(environment_, compression_, settings_);
  transport_->ReceiveTimeout = 10;
}

WireClient::~WireClient() {
  if (request_) transport_->ReleaseRequest(std::move(request_));
  Close();
}

void WireClient::Open(uint16_t port) {
  Close();
  socket_ = std::make_unique<TBRNClientSocketWrapper>();
  socket_->Connect("", "127.0.0.1", true, port, "");
  transport_->AttachSocket(socket_.get());
}

void WireClient::Close() {
  transport_->DetachSocket();
  if (socket_) {
    try {
      socket_->Close();
    } catch (const std::exception&) {
    }
    socket_.reset();
  }
}

bool WireClient::IsOpen() const {
  return socket_ && socket_->GetOpen();
}

TBRNCommsManager& WireClient::Transport() {
  return *transport_;
}

void WireClient::Begin(int32_t code) {
  if (!request_) request_ = transport_->AcquireRequest();
  transport_->BeginRequest(*request_, code);
}

TBRNMemoryStream& WireClient::RequestStream() {
  if (!request_) throw std::logic_error("WireClient: Begin first");
  return request_->Outgoing;
}

void WireClient::Int32(int32_t value) {
  RequestStream().WriteInteger(value);
}
void WireClient::UInt32(uint32_t value) {
  RequestStream().WriteCardinal(value);
}
void WireClient::Int64(int64_t value) {
  RequestStream().WriteInt64(value);
}
void WireClient::Bool(bool value) {
  RequestStream().WriteBoolean(value);
}
void WireClient::Byte(uint8_t value) {
  RequestStream().WriteByte(value);
}
void WireClient::Double(double value) {
  RequestStream().WriteDouble(value);
}
void WireClient::Str(const std::string& value) {
  RequestStream().WriteString(value);
}
void WireClient::Raw(const void* data, int32_t count) {
  RequestStream().Write(data, count);
}

void WireClient::Send() {
  if (!IsOpen()) throw WireClientError("WireClient: not connected");
  transport_->PackRequest(*request_);
  transport_->SendCommsMessage(*request_);
}

int32_t WireClient::Receive() {
  while (true) {
    if (!IsOpen()) throw WireClientError("WireClient: not connected");
    bool continueReceiving = true;
    transport_->ReceiveCommsMessage(request_, continueReceiving);
    if (!continueReceiving) throw WireClientError("WireClient: no reply in time");
    transport_->UnpackReply(*request_);
    const int32_t code = ReplyCode();
    if (!AnswerCallbacks || code <= kBRNCommsLoginPromptCode || code > 9005) return code;
    Callbacks.push_back(code);
    Begin(9999);
    Bool(true);
    Send();
  }
}

int32_t WireClient::Call() {
  Send();
  return Receive();
}

TBRNMemoryStream& WireClient::ReplyStream() {
  if (!request_) throw std::logic_error("WireClient: nothing received");
  return request_->Incoming;
}

int32_t WireClient::ReplyCode() {
  if (!request_) throw std::logic_error("WireClient: nothing received");
  return request_->Incoming.Code;
}
int32_t WireClient::ReadInt32() {
  return ReplyStream().ReadInteger();
}
uint32_t WireClient::ReadUInt32() {
  return ReplyStream().ReadCardinal();
}
int64_t WireClient::ReadInt64() {
  return ReplyStream().ReadInt64();
}
bool WireClient::ReadBool() {
  return ReplyStream().ReadBoolean();
}
uint8_t WireClient::ReadByte() {
  return ReplyStream().ReadByte();
}
double WireClient::ReadDouble() {
  return ReplyStream().ReadDouble();
}
std::string WireClient::ReadStr() {
  std::string text;
  ReplyStream().ReadString(text);
  return text;
}
std::string WireClient::ReadRaw(int32_t count) {
  if (count < 0 || count > ReplyRemaining()) throw WireClientError("WireClient: short reply");
  std::string bytes(size_t(count), '\0');
  if (count > 0) ReplyStream().Read(bytes.data(), count);
  return bytes;
}
int32_t WireClient::ReplyRemaining() {
  return int32_t(ReplyStream().GetSize() - ReplyStream().GetPosition());
}

WireError WireClient::ReadError() {
  WireError error;
  error.Code = ReplyCode();
  error.Message = ReadStr();
  if (ClientVersion >= 10900) {
    error.Line = ReadInt32();
    error.Column = ReadInt32();
  }
  return error;
}

bool WireClient::MessageWithin(int32_t ms) {
  if (!IsOpen()) return false;
  if (!socket_->WaitForReadable(ms)) return false;
  Receive();
  return true;
}

bool WireClient::ClosedWithin(int32_t ms) {
  if (!socket_) return true;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  TBRNMemoryStream scratch;
  scratch.SetSize(65536);
  while (std::chrono::steady_clock::now() < end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (!socket_->WaitForReadable(int32_t(left.count()) + 1)) {
      if (!socket_->GetOpen()) return true;
      continue;
    }
    scratch.SetPosition(0);
    int32_t got = 0;
    try {
      got = socket_->ReceiveBuffer(scratch, 65536);
    } catch (const std::exception&) {
      got = -1;
    }
    if (got <= 0) {
      Close();
      return true;
    }
  }
  return false;
}

void WireClient::SendBytes(const std::string& bytes) {
  if (!IsOpen()) throw WireClientError("WireClient: not connected");
  TBRNMemoryStream out;
  out.Write(bytes.data(), int32_t(bytes.size()));
  out.SetPosition(0);
  int32_t done = 0;
  while (done < int32_t(bytes.size())) {
    int32_t sent = socket_->SendBuffer(out, int32_t(bytes.size()) - done);
    if (sent <= 0) throw WireClientError("WireClient: send failed");
    done += sent;
  }
}

WireConnectReply WireClient::ConnectSession(const WireConnectFields& fields) {
  ClientVersion = fields.Version;
  Begin(2);
  Int64(fields.Version);
  Int32(fields.Build);
  Str(fields.Edition);
  Bool(fields.Encrypted);
  Str(fields.Identity);
  Str(fields.SessionName);
  Str(fields.Description);
  Int32(fields.ThreadID);
  Bool(fields.KeepTablesOpen);
  Byte(fields.RecordLockProtocol);
  Int32(fields.RecordLockRetryCount);
  Int32(fields.RecordLockWaitTime);
  Bool(fields.RecordChangeDetection);
  Bool(fields.ForceBufferFlush);
  UInt32(fields.ProgressTimeInterval);
  if (fields.Version >= 20100) Int32(fields.OdbcVersion);
  // The connect message itself is never encrypted; the flag takes effect
  // for the messages after it.
  transport_->Encrypted = false;
  WireConnectReply reply;
  reply.Code = Call();
  if (reply.Code == 0) {
    reply.ServerVersion = ReadInt64();
    reply.ServerBuild = ReadInt32();
    reply.ServerEdition = ReadStr();
    reply.SessionID = ReadInt32();
    transport_->Encrypted = fields.Encrypted;
  } else {
    reply.Message = ReadError().Message;
  }
  return reply;
}

int32_t WireClient::ReconnectSession(int32_t sessionID, const WireConnectFields& fields,
                                     std::string* message) {
  ClientVersion = fields.Version;
  Begin(5);
  Int64(fields.Version);
  Int32(fields.Build);
  Str(fields.Edition);
  Bool(fields.Encrypted);
  Str(fields.Identity);
  Str(fields.SessionName);
  Int32(fields.ThreadID);
  Int32(sessionID);
  transport_->Encrypted = false;
  int32_t code = Call();
  if (code == 0) {
    transport_->Encrypted = fields.Encrypted;
  } else {
    std::string text = ReadError().Message;
    if (message != nullptr) *message = text;
  }
  return code;
}

int32_t WireClient::Login(const std::string& user, const std::string& password) {
  Begin(3);
  Str(user);
  Str(password);
  int32_t code = Call();
  while (code == kBRNCommsLoginPromptCode) {
    Begin(kBRNCommsLoginAnswerCode);
    Bool(false);
    Str(user);
    Str(password);
    Bool(false);
    code = Call();
  }
  return code;
}

int32_t WireClient::OpenAndLogin(uint16_t port, const WireConnectFields& fields) {
  Open(port);
  WireConnectReply reply = ConnectSession(fields);
  if (reply.Code != 0)
    throw WireClientError("connect refused: " + std::to_string(reply.Code) + " " + reply.Message);
  int32_t code = Login(kWireAdministrator, kWireAdministratorPassword);
  if (code != 0) {
    std::string message = ReadError().Message;
    throw WireClientError("login failed: " + std::to_string(code) + " " + message);
  }
  return reply.SessionID;
}

int32_t WireClient::OpenDatabase(const std::string& name, uint8_t lockType) {
  Begin(33);
  Str(name);
  Byte(lockType);
  int32_t code = Call();
  if (code != 0) {
    WireError error = ReadError();
    throw WireClientError("open database failed: " + std::to_string(code) + " " + error.Message);
  }
  return ReadInt32();
}

int32_t WireClient::Simple(int32_t code) {
  Begin(code);
  return Call();
}

}  // namespace brn::test
