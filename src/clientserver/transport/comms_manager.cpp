#include "clientserver/transport/comms_manager.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "clientserver/transport/socket.h"
#include "foundation/locks/compression.h"
#include "foundation/text/environment.h"
#include "sessions/engine_settings.h"

namespace brn {

namespace {

constexpr const char* kSendFailedMessage = "There was an error while sending the stream";
constexpr const char* kReceiveFailedMessage = "There was an error while receiving the stream";

// The percentage of done out of total, rounded.
int32_t percentOf(int32_t done, int32_t total) {
  if (total <= 0) return 100;
  return int32_t((int64_t(done) * 100 + total / 2) / total);
}

// Empties a scratch buffer whatever happens; an empty memory stream gives
// its memory back, so no large buffer stays in a pooled request.
struct ScratchEmptier {
  TBRNMemoryStream& stream;
  ~ScratchEmptier() { stream.Clear(); }
};

// A receive time-out in milliseconds, kept where tick arithmetic does not
// wrap; a negative one means no wait at all.
int32_t timeoutMilliseconds(int32_t seconds) {
  return int32_t(std::clamp<int64_t>(int64_t(seconds) * 1000, 0, 0x3FFFFFFF));
}

}  // namespace

TBRNCommsManager::TBRNCommsManager(TBRNEnvironment& environment,
                                   TBRNCompressionManager& compressionManager,
                                   const TBRNEngineManagerSettings& settings)
    : environment_(&environment),
      settings_(&settings),
      compressionManager_(&compressionManager),
      sendProgress_(std::make_unique<TBRNCommsSendProgress>(*this)),
      receiveProgress_(std::make_unique<TBRNCommsReceiveProgress>(*this)),
      requests_(std::make_unique<TBRNCommsRequestStack>()) {}

TBRNCommsManager::~TBRNCommsManager() = default;

void TBRNCommsManager::AttachSocket(TBRNSocketWrapper* wrapper) {
  if (connected_) return;
  socket_ = wrapper;
  connected_ = true;
}

void TBRNCommsManager::DetachSocket() {
  if (!connected_) return;
  socket_ = nullptr;
  connected_ = false;
}

bool TBRNCommsManager::socketOpen() const {
  return socket_ != nullptr && socket_->GetOpen();
}

std::unique_ptr<TBRNCommsRequest> TBRNCommsManager::AcquireRequest() {
  std::unique_ptr<TBRNCommsRequest> request = requests_->Pop();
  if (!request) request = std::make_unique<TBRNCommsRequest>(*this);
  return request;
}

void TBRNCommsManager::ReleaseRequest(std::unique_ptr<TBRNCommsRequest> request) {
  if (request) requests_->Push(std::move(request));
}

void TBRNCommsManager::BeginRequest(TBRNCommsRequest& request, int32_t code) {
  request.IncomingSelected = false;
  TBRNCommsMemoryStream& message = request.Outgoing;
  message.Reset();
  message.Code = code;
  message.SetPosition(kBRNCommsHeaderSize);
}

TBRNCommsMemoryStream& TBRNCommsManager::RequestStream(TBRNCommsRequest& request) {
  return request.Current();
}

bool TBRNCommsManager::IsEncryptedCode(int32_t code) const {
  if (Handshake) return false;
  return Encrypted || code == kBRNCommsLoginCode || code == kBRNCommsLoginPromptCode ||
         code == kBRNCommsLoginAnswerCode;
}

void TBRNCommsManager::PackRequest(TBRNCommsRequest& request) {
  TBRNCommsMemoryStream& message = request.Outgoing;
  if (!AdoptPeerLevel) request.Level = CompressionLevel;
  int32_t requested = request.Level;
  if (requested < 0 || requested > 9) throw std::invalid_argument("A compression level is 0-9");
  int32_t payload = message.GetPayloadSize();
  int32_t used = 0;
  if (requested != 0) used = payload <= 16 ? 0 : payload <= 1024 ? 1 : requested;
  message.CompressionCode = used == requested ? used : used + 10 * requested;
  if (used != 0) compressPayload(request, used);
  message.WriteHeader();
  if (IsEncryptedCode(message.Code)) {
    message.SetPosition(kBRNCommsHeaderSize);
    message.Encrypt(message.PaddedSize - kBRNCommsHeaderSize);
  }
}

void TBRNCommsManager::compressPayload(TBRNCommsRequest& request, int32_t level) {
  TBRNCommsMemoryStream& message = request.Outgoing;
  TBRNMemoryStream& scratch = request.Scratch;
  ScratchEmptier emptier{scratch};
  scratch.Clear();
  scratch.SetCapacity(int32_t(message.GetSize()));
  compressionManager_->SetCompressionLevel(level);
  message.SetPosition(kBRNCommsHeaderSize);
  compressionManager_->CompressStream(message, scratch);
  int32_t compressed = int32_t(scratch.GetSize());
  message.SetSize(int64_t(compressed) + kBRNCommsHeaderSize);
  if (compressed > 0) {
    std::memcpy(message.GetMemory() + kBRNCommsHeaderSize, scratch.GetMemory(), size_t(compressed));
  }
  message.SetPosition(message.GetSize());
}

void TBRNCommsManager::UnpackReply(TBRNCommsRequest& request) {
  request.IncomingSelected = true;
  TBRNCommsMemoryStream& message = request.Incoming;
  // The header was checked on arrival; these hold whatever reached this
  // message, so they are checked against its bytes again.
  if (message.GetSize() < kBRNCommsHeaderSize || message.RealSize < kBRNCommsHeaderSize ||
      message.RealSize > message.GetSize() || message.CompressionCode < 0 ||
      message.CompressionCode > 99) {
    throw EBRNCommsException(kBRNInvalidSizeMessage);
  }
  if (IsEncryptedCode(message.Code)) {
    message.SetPosition(kBRNCommsHeaderSize);
    message.Decrypt(int32_t(message.GetSize()) - kBRNCommsHeaderSize);
  }
  message.SetSize(message.RealSize);
  int32_t code = message.CompressionCode;
  int32_t used = code <= 9 ? code : code % 10;
  if (AdoptPeerLevel) request.Level = code <= 9 ? code : code / 10;
  if (used != 0) inflatePayload(request);
  message.SetPosition(kBRNCommsHeaderSize);
}

void TBRNCommsManager::inflatePayload(TBRNCommsRequest& request) {
  TBRNCommsMemoryStream& message = request.Incoming;
  TBRNMemoryStream& scratch = request.Scratch;
  ScratchEmptier emptier{scratch};
  scratch.Clear();
  scratch.SetCapacity(int32_t(message.GetSize()));
  message.SetPosition(kBRNCommsHeaderSize);
  int32_t limit = std::max(0, std::min(MaxMessageSize, kBRNCommsSizeLimit) - kBRNCommsHeaderSize);
  compressionManager_->DecompressStream(message, scratch, limit);
  int32_t inflated = int32_t(scratch.GetSize());
  message.SetSize(int64_t(inflated) + kBRNCommsHeaderSize);
  if (inflated > 0) {
    std::memcpy(message.GetMemory() + kBRNCommsHeaderSize, scratch.GetMemory(), size_t(inflated));
  }
}

int32_t TBRNCommsManager::SendPiece(TBRNCommsMemoryStream& message) {
  int32_t size = int32_t(message.GetSize());
  int32_t count = std::min(kBRNCommsPieceSize, size - int32_t(message.GetPosition()));
  int32_t sent = socket_->SendBuffer(message, count);
  TBRNCommsProgressInfo& info = sendProgress_->GetInfo();
  info.Bytes = int32_t(message.GetPosition());
  info.PercentDone = percentOf(info.Bytes, size);
  sendProgress_->UpdateProgress();
  return sent;
}

void TBRNCommsManager::SendCommsMessage(TBRNCommsRequest& request) {
  if (!connected_) return;
  TBRNCommsMemoryStream& message = request.Outgoing;
  TBRNCommsSendProgress& progress = *sendProgress_;
  progress.BeginProgress();
  request.SendTime = 0;
  message.SetPosition(0);
  bool failed = false;
  std::string error;
  while (connected_ && socketOpen() && message.GetPosition() < message.GetSize()) {
    int32_t sent = 0;
    try {
      sent = SendPiece(message);
    } catch (const std::exception& e) {
      failed = true;
      error = e.what();
      break;
    }
    if (sent <= 0) break;
  }
  if (!failed && message.GetPosition() != message.GetSize()) {
    failed = true;
    error = kSendFailedMessage;
  }
  // The bracket is closed and the time stored before the failure is
  // reported, since the handler may raise.
  progress.GetInfo().Bytes = int32_t(message.GetSize());
  progress.EndProgress();
  request.SendTime = progress.GetElapsedTime();
  if (failed) DoConnectionError(error);
}

int32_t TBRNCommsManager::WaitForData() {
  try {
    if (socket_ != nullptr && socket_->WaitForReadable(timeoutMilliseconds(ReceiveTimeout))) {
      return kDataWaiting;
    }
  } catch (const std::exception& e) {
    DoConnectionError(e.what());
    return kWaitError;
  }
  // A wrapper that closed while waiting is a failed wait, not a time-out.
  return socketOpen() ? kTimedOut : kWaitError;
}

void TBRNCommsManager::ReceiveHeader(TBRNCommsMemoryStream& message) {
  message.Reset();
  if (socket_ == nullptr) throw EBRNCommsException(kBRNSignatureNotReceivedMessage);
  message.SetPosition(0);
  int32_t deadline = int32_t(uint32_t(environment_->GetTickCount()) +
                             uint32_t(timeoutMilliseconds(ReceiveTimeout)));
  // TCP may deliver the header in parts: read until 32 bytes have come, the
  // peer closes, or the receive time-out ends.
  for (;;) {
    int32_t received =
        socket_->ReceiveBuffer(message, kBRNCommsHeaderSize - int32_t(message.GetPosition()));
    if (received <= 0) throw EBRNCommsException(kBRNSignatureNotReceivedMessage);
    if (message.GetPosition() >= kBRNCommsHeaderSize) break;
    int32_t left = environment_->GetElapsedTicks(environment_->GetTickCount(), deadline);
    if (left <= 0 || !socket_->WaitForReadable(left)) {
      throw EBRNCommsException(kBRNSignatureNotReceivedMessage);
    }
  }
  message.ReadHeader();
}

int32_t TBRNCommsManager::ReceivePiece(TBRNCommsMemoryStream& message) {
  int32_t size = int32_t(message.GetSize());
  int32_t count = std::min(kBRNCommsPieceSize, size - int32_t(message.GetPosition()));
  int32_t received = socket_->ReceiveBuffer(message, count);
  TBRNCommsProgressInfo& info = receiveProgress_->GetInfo();
  info.Bytes = int32_t(message.GetPosition());
  info.PercentDone = percentOf(info.Bytes, size);
  receiveProgress_->UpdateProgress();
  return received;
}

void TBRNCommsManager::endReceive(TBRNCommsRequest& request) {
  receiveProgress_->EndProgress();
  request.ReceiveTime = receiveProgress_->GetElapsedTime();
}

bool TBRNCommsManager::receiveMessage(TBRNCommsMemoryStream& message, bool& continueReceiving,
                                      TBRNCommsRequest& request) {
  TBRNCommsReceiveProgress& progress = *receiveProgress_;
  progress.BeginProgress();
  request.ReceiveTime = 0;
  bool received = false;
  bool failed = false;
  std::string error;
  try {
    try {
      ReceiveHeader(message);
    } catch (const std::exception& e) {
      failed = true;
      error = e.what();
    }
    if (!failed) {
      message.SetPosition(kBRNCommsHeaderSize);
      while (connected_ && socketOpen() && continueReceiving &&
             message.GetPosition() < message.GetSize()) {
        int32_t wait = WaitForData();
        if (wait == kTimedOut) {
          DoReceiveTimeout(continueReceiving);
          continue;
        }
        if (wait == kWaitError) break;
        int32_t got = 0;
        try {
          got = ReceivePiece(message);
        } catch (const std::exception& e) {
          failed = true;
          error = e.what();
          break;
        }
        if (got <= 0) break;
      }
      if (!failed && continueReceiving) {
        if (message.GetPosition() == message.GetSize()) {
          progress.GetInfo().Bytes = int32_t(message.GetSize());
          received = true;
        } else {
          failed = true;
          error = kReceiveFailedMessage;
        }
      }
    }
  } catch (...) {
    // A handler raised: nothing of the message is kept, the bracket closes.
    message.Reset();
    endReceive(request);
    throw;
  }
  // Abandoned after a time-out, or failed: nothing of the message is kept.
  if (!received) message.Reset();
  endReceive(request);
  if (failed) DoConnectionError(error);
  return received;
}

void TBRNCommsManager::ReceiveCommsMessage(std::unique_ptr<TBRNCommsRequest>& request,
                                           bool& continueReceiving) {
  continueReceiving = true;
  if (!connected_) return;
  bool acquired = false;
  if (!request) {
    request = AcquireRequest();
    acquired = true;
  }
  try {
    TBRNCommsMemoryStream& message = request->Incoming;
    request->IncomingSelected = true;
    while (connected_ && continueReceiving && socketOpen()) {
      int32_t wait = WaitForData();
      if (wait == kTimedOut) {
        DoReceiveTimeout(continueReceiving);
        continue;
      }
      if (wait == kWaitError) {
        DoConnectionError(kReceiveFailedMessage);
        continue;
      }
      if (receiveMessage(message, continueReceiving, *request)) return;
    }
  } catch (...) {
    if (acquired) ReleaseRequest(std::move(request));
    request.reset();
    throw;
  }
}

}  // namespace brn
