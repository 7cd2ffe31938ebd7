// The transport under the client/server protocol, each case beside its plain
// reference in the same run: round trips of a 100-byte message over loopback
// through the socket wrappers and worker threads against the same bytes
// echoed through a plain TCP socket pair; pack and unpack of messages against
// zlib and memcpy.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/listening_socket.h"
#include "clientserver/transport/socket.h"
#include "clientserver/transport/socket_owner.h"
#include "clientserver/transport/socket_thread.h"
#include "foundation/core/memory_stream.h"
#include "foundation/locks/compression.h"
#include "foundation/text/environment.h"
#include "sessions/engine_settings.h"

namespace {

using brn::TBRNClientSocket;
using brn::TBRNMemoryStream;
using brn::TBRNServerClientSocketWrapper;
using brn::TBRNServerClientThread;
using brn::TBRNServerSocket;
using brn::TBRNServerSocketWrapper;
using brn::TBRNSocketWrapper;

// --- sockets: loopback round trips ---

constexpr int32_t kMessageBytes = 100;
constexpr int32_t kWaitMs = 5000;

bool sendAll(TBRNSocketWrapper& socket, TBRNMemoryStream& stream) {
  while (stream.GetPosition() < stream.GetSize()) {
    if (socket.SendBuffer(stream, int32_t(stream.GetSize() - stream.GetPosition())) <= 0) return false;
  }
  return true;
}

bool receiveAll(TBRNSocketWrapper& socket, TBRNMemoryStream& stream) {
  while (stream.GetPosition() < stream.GetSize()) {
    if (!socket.WaitForReadable(kWaitMs)) return false;
    if (socket.ReceiveBuffer(stream, int32_t(stream.GetSize() - stream.GetPosition())) <= 0) return false;
  }
  return true;
}

// Echoes whole messages of kMessageBytes, waiting before each receive as the
// message layer does.
class EchoThread : public TBRNServerClientThread {
 public:
  explicit EchoThread(std::unique_ptr<TBRNServerClientSocketWrapper> connection)
      : TBRNServerClientThread(std::move(connection)) {}
  ~EchoThread() override { TerminateAndWait(); }

 protected:
  void ServeConnection() override {
    TBRNServerClientSocketWrapper& connection = *GetConnection();
    TBRNMemoryStream buffer;
    buffer.SetSize(kMessageBytes);
    while (!Terminated) {
      buffer.SetPosition(0);
      if (!receiveAll(connection, buffer)) return;
      buffer.SetPosition(0);
      if (!sendAll(connection, buffer)) return;
    }
  }
};

void BM_LoopbackRoundTripBrindle(benchmark::State& state) {
  TBRNServerSocket server;
  server.SetAddress("127.0.0.1");
  server.SetGetThreadCallback([](TBRNServerSocketWrapper*,
                                 std::unique_ptr<TBRNServerClientSocketWrapper>& connection,
                                 TBRNServerClientThread*& thread) {
    thread = new EchoThread(std::move(connection));
  });
  server.Open();
  TBRNClientSocket client;
  client.SetAddress("127.0.0.1");
  client.SetPort(ntohs(server.GetWrapper().GetLocalAddress().Port));
  client.Open();
  TBRNMemoryStream out;
  out.SetSize(kMessageBytes);
  std::memset(out.GetMemory(), 'x', kMessageBytes);
  TBRNMemoryStream in;
  in.SetSize(kMessageBytes);
  for (auto _ : state) {
    out.SetPosition(0);
    in.SetPosition(0);
    if (!sendAll(client.GetWrapper(), out) || !receiveAll(client.GetWrapper(), in)) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  client.Close();
  server.Close();
}

bool plainSend(int fd, const char* data, int32_t count) {
  while (count > 0) {
    ssize_t sent = ::send(fd, data, size_t(count), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    count -= int32_t(sent);
  }
  return true;
}

bool plainReceive(int fd, char* data, int32_t count) {
  while (count > 0) {
    ssize_t received = ::recv(fd, data, size_t(count), 0);
    if (received <= 0) return false;
    data += received;
    count -= int32_t(received);
  }
  return true;
}

void BM_LoopbackRoundTripPlainSocketPair(benchmark::State& state) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  int one = 1;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    state.SkipWithError("listen failed");
    ::close(listener);
    return;
  }
  std::thread echo([listener, one] {
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    char buffer[kMessageBytes];
    while (plainReceive(fd, buffer, kMessageBytes) && plainSend(fd, buffer, kMessageBytes)) {
    }
    ::close(fd);
  });
  int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    state.SkipWithError("connect failed");
  } else {
    char out[kMessageBytes];
    char in[kMessageBytes];
    std::memset(out, 'x', sizeof(out));
    for (auto _ : state) {
      if (!plainSend(client, out, kMessageBytes) || !plainReceive(client, in, kMessageBytes)) {
        state.SkipWithError("round trip failed");
        break;
      }
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  ::shutdown(client, SHUT_RDWR);
  ::close(client);
  // Wakes an echo thread still waiting in accept after a failed connect.
  ::shutdown(listener, SHUT_RDWR);
  echo.join();
  ::close(listener);
}

BENCHMARK(BM_LoopbackRoundTripBrindle)->UseRealTime();
BENCHMARK(BM_LoopbackRoundTripPlainSocketPair)->UseRealTime();

// --- end sockets ---

// --- wire: pack/unpack ---

// Row-like bytes, as the cursor replies carry them.
const std::string& wirePayload(int64_t size) {
  static std::string data;
  if (int64_t(data.size()) < size) {
    std::mt19937 random(7);
    data.clear();
    while (int64_t(data.size()) < size) {
      data += "ROW" + std::to_string(random() % 100000) + "|Customer " + char('A' + random() % 26) +
              "|2024-0" + std::to_string(1 + random() % 9) + "-1" + std::to_string(random() % 10) +
              '\0';
    }
  }
  return data;
}

// The owner's side of a transport; events are not expected outside sockets.
class BenchTransport : public brn::TBRNCommsManager {
 public:
  BenchTransport(brn::TBRNEnvironment& environment, brn::TBRNCompressionManager& compression,
                 const brn::TBRNEngineManagerSettings& settings)
      : TBRNCommsManager(environment, compression, settings) {}
  void DoReceiveTimeout(bool& continueReceiving) override { continueReceiving = false; }
  void DoSendProgress(int32_t, int32_t) override {}
  void DoReceiveProgress(int32_t, int32_t) override {}
  void DoConnectionError(const std::string& message) override { throw std::runtime_error(message); }
};

struct WireOwner {
  WireOwner() : Settings(nullptr, "/tmp") {}
  brn::TBRNEnvironment Environment;
  brn::TBRNCompressionManager Compression;
  brn::TBRNEngineManagerSettings Settings;
};

WireOwner& wireOwner() {
  static WireOwner owner;
  return owner;
}

// Arguments: payload bytes, compression level, encrypted (0/1).
std::unique_ptr<BenchTransport> wireTransport(const benchmark::State& state) {
  WireOwner& owner = wireOwner();
  auto transport = std::make_unique<BenchTransport>(owner.Environment, owner.Compression, owner.Settings);
  transport->CompressionLevel = int32_t(state.range(1));
  transport->Encrypted = state.range(2) != 0;
  transport->MaxMessageSize = 64 << 20;
  return transport;
}

void packInto(BenchTransport& transport, brn::TBRNCommsRequest& request, const std::string& data,
              int32_t size) {
  transport.BeginRequest(request, 7);
  transport.RequestStream(request).Write(data.data(), size);
  transport.PackRequest(request);
}

void BM_WirePack(benchmark::State& state) {
  int32_t size = int32_t(state.range(0));
  const std::string& data = wirePayload(size);
  std::unique_ptr<BenchTransport> transport = wireTransport(state);
  std::unique_ptr<brn::TBRNCommsRequest> request = transport->AcquireRequest();
  for (auto _ : state) {
    packInto(*transport, *request, data, size);
    benchmark::DoNotOptimize(request->Outgoing.GetMemory());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
  state.counters["wire_bytes"] = double(request->Outgoing.GetSize());
}

// The bytes of a received message land in the incoming buffer (one copy, as
// the socket reads do), then the header check and the unpacking.
void BM_WireUnpack(benchmark::State& state) {
  int32_t size = int32_t(state.range(0));
  const std::string& data = wirePayload(size);
  std::unique_ptr<BenchTransport> transport = wireTransport(state);
  std::unique_ptr<brn::TBRNCommsRequest> request = transport->AcquireRequest();
  packInto(*transport, *request, data, size);
  std::string wire(reinterpret_cast<const char*>(request->Outgoing.GetMemory()),
                   size_t(request->Outgoing.GetSize()));
  for (auto _ : state) {
    brn::TBRNCommsMemoryStream& message = request->Incoming;
    message.Reset();
    message.SetPosition(0);
    message.Write(wire.data(), brn::kBRNCommsHeaderSize);
    message.ReadHeader();
    std::memcpy(message.GetMemory() + brn::kBRNCommsHeaderSize, wire.data() + brn::kBRNCommsHeaderSize,
                wire.size() - size_t(brn::kBRNCommsHeaderSize));
    transport->UnpackReply(*request);
    benchmark::DoNotOptimize(message.GetMemory());
  }
  if (request->Incoming.GetSize() != size + brn::kBRNCommsHeaderSize ||
      std::memcmp(request->Incoming.GetMemory() + brn::kBRNCommsHeaderSize, data.data(), size_t(size)) != 0) {
    state.SkipWithError("the payload did not come back");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
}

// The reference: the payload copied into a buffer, then compress2 at the
// level (nothing more at level 0).
void BM_ZlibCompress2Memcpy(benchmark::State& state) {
  int32_t size = int32_t(state.range(0));
  int level = int(state.range(1));
  const std::string& data = wirePayload(size);
  std::string buffer(size_t(size), '\0');
  std::string out(compressBound(uLong(size)), '\0');
  for (auto _ : state) {
    std::memcpy(buffer.data(), data.data(), size_t(size));
    if (level != 0) {
      uLongf length = uLongf(out.size());
      compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                reinterpret_cast<const Bytef*>(buffer.data()), uLong(size), level);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
}

// The reference: the received bytes copied into a buffer, then uncompress
// (nothing more at level 0).
void BM_ZlibUncompressMemcpy(benchmark::State& state) {
  int32_t size = int32_t(state.range(0));
  int level = int(state.range(1));
  const std::string& data = wirePayload(size);
  std::string packed(compressBound(uLong(size)), '\0');
  uLongf packedLength = uLongf(packed.size());
  compress2(reinterpret_cast<Bytef*>(packed.data()), &packedLength,
            reinterpret_cast<const Bytef*>(data.data()), uLong(size), level == 0 ? 1 : level);
  if (level == 0) {
    packed.assign(data.data(), size_t(size));
    packedLength = uLongf(size);
  }
  std::string received(size_t(packedLength), '\0');
  std::string out(size_t(size), '\0');
  for (auto _ : state) {
    std::memcpy(received.data(), packed.data(), size_t(packedLength));
    if (level != 0) {
      uLongf length = uLongf(size);
      uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                 reinterpret_cast<const Bytef*>(received.data()), packedLength);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::DoNotOptimize(received.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
}

void wireArguments(benchmark::internal::Benchmark* bench, bool withEncryption) {
  for (int64_t size : {int64_t(64) << 10, int64_t(4) << 20}) {
    for (int64_t level : {0, 1, 6}) {
      bench->Args({size, level, 0});
      if (withEncryption) bench->Args({size, level, 1});
    }
  }
}

BENCHMARK(BM_WirePack)->Apply([](benchmark::internal::Benchmark* b) { wireArguments(b, true); });
BENCHMARK(BM_ZlibCompress2Memcpy)->Apply([](benchmark::internal::Benchmark* b) { wireArguments(b, false); });
BENCHMARK(BM_WireUnpack)->Apply([](benchmark::internal::Benchmark* b) { wireArguments(b, true); });
BENCHMARK(BM_ZlibUncompressMemcpy)->Apply([](benchmark::internal::Benchmark* b) { wireArguments(b, false); });

// --- end wire ---

}  // namespace
