#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/socket.h"
#include "foundation/core/memory_stream.h"
#include "foundation/locks/compression.h"
#include "foundation/text/environment.h"
#include "sessions/engine_settings.h"

namespace brn::test {

// A transfer of the wire client failed (socket error, bad frame, the server
// closed the connection).
class WireClientError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The fields of a Connect Session request (code 2), defaulting to what the
// 2.14 client sends.
struct WireConnectFields {
  int64_t Version = 21400;
  int32_t Build = 5;
  std::string Edition = "BRNMZTRAQEL";
  bool Encrypted = false;
  std::string Identity = "testhost:4242";
  std::string SessionName = "wire";
  std::string Description = "wire client";
  int32_t ThreadID = 7;
  bool KeepTablesOpen = false;
  uint8_t RecordLockProtocol = 0;
  int32_t RecordLockRetryCount = 15;
  int32_t RecordLockWaitTime = 100;
  bool RecordChangeDetection = false;
  bool ForceBufferFlush = false;
  uint32_t ProgressTimeInterval = 1000;
  int32_t OdbcVersion = 3;
};

// The reply of a Connect Session request.
struct WireConnectReply {
  int32_t Code = -1;
  int64_t ServerVersion = 0;
  int32_t ServerBuild = 0;
  std::string ServerEdition;
  int32_t SessionID = 0;
  // An error reply: message, and line and column from client version 1.09.
  std::string Message;
};

// An error reply read from the current reply.
struct WireError {
  int32_t Code = 0;
  std::string Message;
  int32_t Line = 0;
  int32_t Column = 0;
};

// A minimal remote client for tests: writes requests field by field over the
// transport (framing, compression, encryption) and reads replies field by
// field. Nothing is interpreted beyond what the helpers below say, so tests
// can send malformed or unusual requests too.
//
// An exchange: Begin(code); Int32(...), Str(...) ...; Send(); Receive();
// then ReplyCode() and ReadInt32(), ReadStr() ... of the reply. Call() is
// Send plus Receive.
//
// Threads: one client is used by one thread at a time; several clients may
// run on several threads.
class WireClient {
 public:
  // settings: signature and encryption password shared with the server;
  // nullptr takes the defaults.
  explicit WireClient(const TBRNEngineManagerSettings* settings = nullptr);
  ~WireClient();
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  // Opens the TCP connection to 127.0.0.1:port.
  void Open(uint16_t port);
  // Closes the connection (nothing when closed).
  void Close();
  bool IsOpen() const;

  // Transport settings of this client: Encrypted, CompressionLevel (the
  // level requested in each message), ReceiveTimeout in seconds (default 10).
  TBRNCommsManager& Transport();
  // The client version the replies are read for (error replies carry line
  // and column from 10900 on); set by ConnectSession.
  int64_t ClientVersion = 21400;

  // Starts a request of code; the fields follow.
  void Begin(int32_t code);
  void Int32(int32_t value);
  void UInt32(uint32_t value);
  void Int64(int64_t value);
  void Bool(bool value);
  void Byte(uint8_t value);
  void Double(double value);
  void Str(const std::string& value);
  void Raw(const void* data, int32_t count);
  // The request's payload stream, for writers such as SaveToStream.
  TBRNMemoryStream& RequestStream();
  // Packs and sends the request.
  void Send();
  // Waits for the next message (at most Transport().ReceiveTimeout
  // seconds) and unpacks it; raises WireClientError when none came or the
  // server closed the connection. Returns its code. While AnswerCallbacks
  // is set, the server's progress, status, log and script callbacks
  // (9001-9005) are answered "continue" (9999, True) and their codes kept
  // in Callbacks; the login prompt (9000) is always returned.
  int32_t Receive();
  bool AnswerCallbacks = true;
  std::vector<int32_t> Callbacks;
  // Send, then Receive.
  int32_t Call();

  // The code of the message last received, and its payload.
  int32_t ReplyCode();
  int32_t ReadInt32();
  uint32_t ReadUInt32();
  int64_t ReadInt64();
  bool ReadBool();
  uint8_t ReadByte();
  double ReadDouble();
  std::string ReadStr();
  // Count bytes of the reply.
  std::string ReadRaw(int32_t count);
  // Bytes of the reply payload not yet read.
  int32_t ReplyRemaining();
  TBRNMemoryStream& ReplyStream();
  // The error fields of the last message (code, message, and line and
  // column when ClientVersion >= 10900).
  WireError ReadError();

  // True when a message arrives within ms milliseconds (it is then
  // received), false when none does.
  bool MessageWithin(int32_t ms);
  // True when the server closes the connection within ms milliseconds
  // (messages that arrive before are dropped).
  bool ClosedWithin(int32_t ms);
  // Sends raw bytes on the socket (a partial header, garbage).
  void SendBytes(const std::string& bytes);

  // Session helpers. ConnectSession sends code 2 and reads the reply; a
  // refusal gives its code and message. Its fields also set ClientVersion.
  WireConnectReply ConnectSession(const WireConnectFields& fields = {});
  // Reconnect Session (code 5) for sessionID; returns the reply code (the
  // message of a refusal in *message when given).
  int32_t ReconnectSession(int32_t sessionID, const WireConnectFields& fields = {},
                           std::string* message = nullptr);
  // Login to Session (code 3); returns the reply code. Login prompts (9000)
  // are answered "not handled, stop".
  int32_t Login(const std::string& user, const std::string& password);
  // Opens and connects, then logs in as Administrator with the default
  // password; raises WireClientError when either fails.
  int32_t OpenAndLogin(uint16_t port, const WireConnectFields& fields = {});
  // Open Database (code 33); returns the handle, or raises WireClientError
  // with the error message.
  int32_t OpenDatabase(const std::string& name, uint8_t lockType = 0);
  // Sends a request without fields and returns the reply code.
  int32_t Simple(int32_t code);

 private:
  class Transport_;

  TBRNEnvironment environment_;
  TBRNCompressionManager compression_;
  TBRNEngineManagerSettings settings_;
  std::unique_ptr<TBRNClientSocketWrapper> socket_;
  std::unique_ptr<Transport_> transport_;
  std::unique_ptr<TBRNCommsRequest> request_;
};

inline constexpr const char* kWireAdministrator = "Administrator";
inline constexpr const char* kWireAdministratorPassword = "GlenHarbor";

}  // namespace brn::test
