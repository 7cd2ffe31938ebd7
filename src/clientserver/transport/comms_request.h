#pragma once

#include <cstdint>
#include <memory>

#include "clientserver/transport/wire_message.h"
#include "foundation/core/memory_stream.h"
#include "foundation/runtime/object_stack.h"

namespace brn {

class TBRNCommsManager;

// One exchange slot of a transport: the outgoing message, the incoming
// message (received into the same object after sending) and a scratch
// buffer for compression. Requests are pooled by their transport and keep
// their buffers (shrunk back to 8192 bytes on reset) and their Level.
// Used by one thread at a time.
class TBRNCommsRequest {
 public:
  // The transport must outlive the request.
  explicit TBRNCommsRequest(TBRNCommsManager& transport);
  TBRNCommsRequest(const TBRNCommsRequest&) = delete;
  TBRNCommsRequest& operator=(const TBRNCommsRequest&) = delete;

  TBRNCommsManager& GetTransport() const { return *transport_; }
  // The message selected by the transport (outgoing after BeginRequest,
  // incoming after a receive).
  TBRNCommsMemoryStream& Current() { return IncomingSelected ? Incoming : Outgoing; }

  // false: the outgoing message is current; true: the incoming one.
  bool IncomingSelected = false;
  // The compression level requested for the next outgoing message (0-9);
  // a transport with AdoptPeerLevel takes it from every message received.
  int32_t Level = 0;
  TBRNCommsMemoryStream Outgoing;
  TBRNCommsMemoryStream Incoming;
  // Empty (and holding no memory) between uses.
  TBRNMemoryStream Scratch;
  // Milliseconds of the last send and of the last receive.
  int32_t SendTime = 0;
  int32_t ReceiveTime = 0;

 private:
  TBRNCommsManager* transport_;
};

// The idle requests of a transport. Pop gives nullptr when empty; what is
// still held is freed with the stack. Used by one thread at a time.
class TBRNCommsRequestStack {
 public:
  void Push(std::unique_ptr<TBRNCommsRequest> request) { stack_.Push(std::move(request)); }
  std::unique_ptr<TBRNCommsRequest> Pop() { return stack_.Pop(); }
  int32_t GetCount() const { return stack_.Count; }

 private:
  TBRNObjectStack<TBRNCommsRequest> stack_;
};

}  // namespace brn
