#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "clientserver/transport/listening_socket.h"
#include "clientserver/transport/socket.h"
#include "clientserver/transport/socket_thread.h"
#include "foundation/wait_test_support.h"
#include "foundation/core/memory_stream.h"

namespace brn::testing {

// Every wait in the transport tests is bounded by this.
inline constexpr int32_t kTestWaitMs = 5000;

// The port a socket is bound to, in host byte order.
inline uint16_t BoundPort(TBRNSocketWrapper& socket) {
  return ntohs(socket.GetLocalAddress().Port);
}

// Polls until done() or the time runs out; the last value of done().
inline bool WaitUntil(const std::function<bool()>& done, int32_t ms = kTestWaitMs) {
  return testing::WaitUntil(done, ms);
}

// Sends the stream's bytes from its position to its end in pieces of at most
// piece bytes, as the message layer does; false when the socket stopped
// taking them.
inline bool SendAll(TBRNSocketWrapper& socket, TBRNMemoryStream& stream, int32_t piece = 65536) {
  while (stream.GetPosition() < stream.GetSize()) {
    int32_t count = int32_t(std::min<int64_t>(piece, stream.GetSize() - stream.GetPosition()));
    if (socket.SendBuffer(stream, count) <= 0) return false;
  }
  return true;
}

// Receives until the stream is full from its position to its end; false on
// the peer's close or a time-out.
inline bool ReceiveAll(TBRNSocketWrapper& socket, TBRNMemoryStream& stream) {
  while (stream.GetPosition() < stream.GetSize()) {
    if (!socket.WaitForReadable(kTestWaitMs)) return false;
    if (socket.ReceiveBuffer(stream, int32_t(stream.GetSize() - stream.GetPosition())) <= 0) {
      return false;
    }
  }
  return true;
}

// A worker that echoes what its connection sends until the peer closes, the
// listener shuts the connection down, or nothing comes for kTestWaitMs.
class TEchoThread : public TBRNServerClientThread {
 public:
  explicit TEchoThread(std::unique_ptr<TBRNServerClientSocketWrapper> connection,
                       std::function<void(TEchoThread*)> onServe = nullptr)
      : TBRNServerClientThread(std::move(connection)), onServe_(std::move(onServe)) {}
  ~TEchoThread() override { TerminateAndWait(); }

  std::atomic<int32_t> Served{0};

 protected:
  void ServeConnection() override {
    ++Served;
    if (onServe_) onServe_(this);
    TBRNServerClientSocketWrapper* connection = GetConnection();
    TBRNMemoryStream buffer;
    buffer.SetSize(65536);
    while (!Terminated && connection->WaitForReadable(kTestWaitMs)) {
      buffer.SetPosition(0);
      int32_t received = connection->ReceiveBuffer(buffer, 65536);
      if (received <= 0) return;
      buffer.SetSize(received);
      buffer.SetPosition(0);
      if (!SendAll(*connection, buffer)) return;
      buffer.SetSize(65536);
    }
  }

 private:
  std::function<void(TEchoThread*)> onServe_;
};

// Makes the listener hand every connection that finds no idle worker to a new
// echo worker.
inline void UseEchoWorkers(TBRNServerSocketWrapper& listener,
                           std::function<void(TEchoThread*)> onServe = nullptr) {
  listener.OnGetThread = [onServe](TBRNServerSocketWrapper*,
                                   std::unique_ptr<TBRNServerClientSocketWrapper>& connection,
                                   TBRNServerClientThread*& thread) {
    thread = new TEchoThread(std::move(connection), onServe);
  };
}

// A client connected to 127.0.0.1 at the port, with TCP_NODELAY.
inline std::unique_ptr<TBRNClientSocketWrapper> ConnectClient(uint16_t port) {
  auto client = std::make_unique<TBRNClientSocketWrapper>();
  client->Connect("", "127.0.0.1", true, port, "");
  return client;
}

// Sends the bytes and expects them back.
inline bool RoundTrip(TBRNSocketWrapper& socket, const std::string& text) {
  TBRNMemoryStream out;
  out.Write(text.data(), int32_t(text.size()));
  out.SetPosition(0);
  if (!SendAll(socket, out)) return false;
  TBRNMemoryStream in;
  in.SetSize(int64_t(text.size()));
  if (!ReceiveAll(socket, in)) return false;
  return std::string(reinterpret_cast<const char*>(in.GetMemory()), text.size()) == text;
}

}  // namespace brn::testing
