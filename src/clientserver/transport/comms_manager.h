#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "clientserver/transport/comms_request.h"
#include "clientserver/transport/transfer_progress.h"
#include "clientserver/transport/wire_message.h"

namespace brn {

class TBRNCompressionManager;
class TBRNEngineManagerSettings;
class TBRNEnvironment;
class TBRNSocketWrapper;

// The transport of one connection: builds, packs, sends, receives and
// unpacks framed messages (see wire_message.h) over an attached socket
// wrapper, in pieces of at most 64 KiB with progress reports and a receive
// time-out.
//
// An exchange: AcquireRequest, BeginRequest(code), write the payload into
// RequestStream, PackRequest, SendCommsMessage, ReceiveCommsMessage into the
// same request, UnpackReply, read the payload, ReleaseRequest (also when
// anything failed).
//
// Packing: a request with Level 0 is never compressed; otherwise a payload
// of up to 16 bytes is not compressed, one of up to 1024 bytes is compressed
// at level 1 and a larger one at Level. A transport without AdoptPeerLevel
// requests its CompressionLevel for every message; one with AdoptPeerLevel
// keeps the level requested by the last message received into the request.
// The payload (and its padding) is encrypted with Blowfish-CBC, zero IV, when
// the transport is not in Handshake and is Encrypted or the code is one of
// the login codes; the receiver decrypts under the same rule.
//
// Failures inside SendCommsMessage and ReceiveCommsMessage (socket errors,
// bad headers, short transfers) go to DoConnectionError as a message, once
// per failed transfer and after its progress bracket has closed; the
// subclass either raises or disconnects (DetachSocket, or closes the
// wrapper), otherwise ReceiveCommsMessage goes on waiting for the next
// message. A receive abandoned inside a message leaves the rest of that
// message in the socket: the owner closes the connection then.
//
// Threads: a transport and its requests are used by one thread at a time;
// the socket wrapper serialises its own reads and writes.
class TBRNCommsManager {
 public:
  // The environment (tick source), compression manager and settings belong
  // to the owner and must outlive the transport.
  TBRNCommsManager(TBRNEnvironment& environment, TBRNCompressionManager& compressionManager,
                   const TBRNEngineManagerSettings& settings);
  virtual ~TBRNCommsManager();
  TBRNCommsManager(const TBRNCommsManager&) = delete;
  TBRNCommsManager& operator=(const TBRNCommsManager&) = delete;

  // A receive waited ReceiveTimeout seconds without data; set
  // continueReceiving to false to abandon the receive.
  virtual void DoReceiveTimeout(bool& continueReceiving) = 0;
  virtual void DoSendProgress(int32_t bytes, int32_t percent) = 0;
  virtual void DoReceiveProgress(int32_t bytes, int32_t percent) = 0;
  // A transfer failed with message; raise, or disconnect.
  virtual void DoConnectionError(const std::string& message) = 0;

  TBRNEnvironment& GetEnvironment() const { return *environment_; }
  const TBRNEngineManagerSettings& GetSettings() const { return *settings_; }
  TBRNCompressionManager& GetCompressionManager() const { return *compressionManager_; }
  TBRNSocketWrapper* GetSocket() const { return socket_; }
  bool GetConnected() const { return connected_; }
  TBRNCommsSendProgress& GetSendProgress() const { return *sendProgress_; }
  TBRNCommsReceiveProgress& GetReceiveProgress() const { return *receiveProgress_; }
  // Idle requests in the pool.
  int32_t GetPooledRequestCount() const { return requests_->GetCount(); }

  // Keeps the wrapper (not owned; it must stay alive while attached) and
  // becomes connected; ignored while connected.
  void AttachSocket(TBRNSocketWrapper* wrapper);
  // Forgets the wrapper and becomes disconnected; ignored while not
  // connected.
  void DetachSocket();

  // An idle request of the pool, or a new one.
  std::unique_ptr<TBRNCommsRequest> AcquireRequest();
  // Back to the pool, buffers and Level kept; nullptr is ignored.
  void ReleaseRequest(std::unique_ptr<TBRNCommsRequest> request);

  // Selects and resets the outgoing message, sets its code and positions it
  // after the header for the payload.
  void BeginRequest(TBRNCommsRequest& request, int32_t code);
  // The current message of the request.
  TBRNCommsMemoryStream& RequestStream(TBRNCommsRequest& request);
  // Compresses, frames and encrypts the outgoing message.
  void PackRequest(TBRNCommsRequest& request);
  // Sends the outgoing message; nothing while not connected.
  void SendCommsMessage(TBRNCommsRequest& request);
  // Waits for one whole message and receives it into the incoming message;
  // a null request is replaced by an acquired one (released again, and the
  // pointer nulled, when an exception leaves). continueReceiving false on
  // return: a time-out handler abandoned the receive and whatever had
  // arrived of the message was dropped. Nothing while not connected.
  void ReceiveCommsMessage(std::unique_ptr<TBRNCommsRequest>& request, bool& continueReceiving);
  // Selects the incoming message, decrypts it, drops the padding, inflates
  // a compressed payload and positions it after the header. Raises
  // EBRNCommsException for header fields that do not fit the message, and
  // the compression manager's error (1201) for a bad payload or one that
  // would inflate beyond MaxMessageSize.
  void UnpackReply(TBRNCommsRequest& request);

  // Results of WaitForData.
  static constexpr int32_t kDataWaiting = 0;
  static constexpr int32_t kTimedOut = 1;
  static constexpr int32_t kWaitError = 2;
  // Waits at most ReceiveTimeout seconds for readable data; on kWaitError
  // the reason has gone to DoConnectionError.
  int32_t WaitForData();
  // Resets the message and receives its 32 header bytes, waiting for the
  // rest while they come in parts, at most ReceiveTimeout seconds; then
  // ReadHeader. Raises "The stream signature was not received" when the
  // peer closes or the time runs out before 32 bytes.
  void ReceiveHeader(TBRNCommsMemoryStream& message);

  // True when a message with this code is encrypted (or decrypted) now.
  bool IsEncryptedCode(int32_t code) const;

  bool Handshake = false;
  bool AdoptPeerLevel = false;
  // 0-9.
  int32_t CompressionLevel = 0;
  bool Encrypted = false;
  // Seconds.
  int32_t ReceiveTimeout = 180;
  // The largest message accepted: its padded size, and the header plus the
  // inflated payload. At most kBRNCommsSizeLimit.
  int32_t MaxMessageSize = kBRNCommsDefaultMaxMessageSize;

 protected:
  // One piece of at most 64 KiB from the message position (send) or into
  // it (receive), then a progress update. Return the bytes moved (<= 0:
  // none, the wrapper closed or failed).
  int32_t SendPiece(TBRNCommsMemoryStream& message);
  int32_t ReceivePiece(TBRNCommsMemoryStream& message);

 private:
  bool socketOpen() const;
  // Compression of the outgoing message at a level other than 0.
  void compressPayload(TBRNCommsRequest& request, int32_t level);
  void inflatePayload(TBRNCommsRequest& request);
  // The receive of one message after WaitForData found data; true when the
  // whole message arrived.
  bool receiveMessage(TBRNCommsMemoryStream& message, bool& continueReceiving,
                      TBRNCommsRequest& request);
  // Closes the receive progress bracket and stores the receive time.
  void endReceive(TBRNCommsRequest& request);

  TBRNEnvironment* environment_;
  const TBRNEngineManagerSettings* settings_;
  TBRNCompressionManager* compressionManager_;
  TBRNSocketWrapper* socket_ = nullptr;
  bool connected_ = false;
  std::unique_ptr<TBRNCommsSendProgress> sendProgress_;
  std::unique_ptr<TBRNCommsReceiveProgress> receiveProgress_;
  std::unique_ptr<TBRNCommsRequestStack> requests_;
};

}  // namespace brn
