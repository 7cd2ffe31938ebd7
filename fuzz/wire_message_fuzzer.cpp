// Framed messages as a receiving transport meets them: hostile headers
// (signature, padded and real size, compression code) and payloads
// (encrypted, compressed or neither).
//
// Input: the bytes off the wire. The first 32 go through ReadHeader; when it
// accepts them and the input holds the whole padded message, UnpackReply
// decrypts, trims and inflates it. The receiver adopts the peer's level and
// caps messages at 1 MiB. Properties: a refused header allocates nothing and
// leaves the message reset; the only failures are the frame errors and the
// decompression error 1201; an unpacked message lies within the cap, is
// positioned after its header and leaves the scratch buffer empty, and a
// plain one keeps the received payload bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "clientserver/transport/comms_manager.h"
#include "foundation/locks/compression.h"
#include "foundation/text/environment.h"
#include "fuzz_support.h"
#include "sessions/engine_settings.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// Events never happen without a socket; any call is a broken property.
class ReceivingTransport : public TBRNCommsManager {
 public:
  using TBRNCommsManager::TBRNCommsManager;
  void DoReceiveTimeout(bool&) override { Fail("time-out without a socket"); }
  void DoSendProgress(int32_t, int32_t) override { Fail("send progress"); }
  void DoReceiveProgress(int32_t, int32_t) override { Fail("receive progress"); }
  void DoConnectionError(const std::string&) override { Fail("connection error without a socket"); }
};

constexpr int32_t kCap = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TBRNEnvironment environment;
  static TBRNCompressionManager compression;
  static TBRNEngineManagerSettings settings(nullptr, "/tmp");
  static ReceivingTransport transport(environment, compression, settings);
  transport.AdoptPeerLevel = true;
  transport.MaxMessageSize = kCap;

  // A pooled request, as a connection reuses them.
  std::unique_ptr<TBRNCommsRequest> request = transport.AcquireRequest();
  TBRNCommsMemoryStream& message = request->Incoming;
  message.Reset();
  if (size < size_t(kBRNCommsHeaderSize)) {
    transport.ReleaseRequest(std::move(request));
    return 0;
  }
  message.SetPosition(0);
  message.Write(data, kBRNCommsHeaderSize);
  try {
    message.ReadHeader();
  } catch (const EBRNCommsException&) {
    if (message.GetSize() != kBRNCommsHeaderSize || message.GetCapacity() != kBRNCommsBlockSize)
      Fail("a refused header changed the message");
    message.Reset();
    transport.ReleaseRequest(std::move(request));
    return 0;
  }
  if (message.GetSize() > kCap || message.GetSize() != message.PaddedSize)
    Fail("accepted a padded size beyond the cap");
  size_t rest = size_t(message.GetSize()) - size_t(kBRNCommsHeaderSize);
  if (size - size_t(kBRNCommsHeaderSize) < rest) {
    transport.ReleaseRequest(std::move(request));
    return 0;
  }
  message.SetPosition(kBRNCommsHeaderSize);
  if (rest > 0) message.Write(data + kBRNCommsHeaderSize, int32_t(rest));
  if (message.GetSize() != message.PaddedSize) Fail("the payload changed the size");

  bool plain = message.CompressionCode % 10 == 0 && !transport.IsEncryptedCode(message.Code);
  int32_t realSize = message.RealSize;
  try {
    transport.UnpackReply(*request);
    if (message.GetPosition() != kBRNCommsHeaderSize) Fail("not positioned after the header");
    if (message.GetSize() < kBRNCommsHeaderSize || message.GetSize() > kCap)
      Fail("unpacked beyond the cap");
    if (request->Level < 0 || request->Level > 9) Fail("adopted a level outside 0-9");
    if (plain && (message.GetSize() != realSize ||
                  std::memcmp(message.GetMemory() + kBRNCommsHeaderSize, data + kBRNCommsHeaderSize,
                              size_t(realSize - kBRNCommsHeaderSize)) != 0))
      Fail("a plain payload changed");
  } catch (const EBRNException& e) {
    if (e.ErrorCode != 1201) Fail("an engine error other than 1201");
  }
  if (request->Scratch.GetSize() != 0 || request->Scratch.GetCapacity() != 0)
    Fail("the scratch buffer was not emptied");
  transport.ReleaseRequest(std::move(request));
  return 0;
}
