// Requests as a server connection thread serves them: a sequence of framed
// requests with hostile codes and payloads sent over a socket pair to a
// connection thread of a server engine whose files live in memory. The
// first message may or may not be a connect; logins may prompt (the next
// requests are then served nested in the callback); handles, counts and
// lengths are whatever the input says.
//
// Input: one flags byte (bit 0: the client encrypts, bits 1-4: its
// compression level modulo 10), then records of an int32 code, a 16-bit
// payload length and that many payload bytes (fewer when the input ends).
// Each record is framed by a client transport and written to the socket;
// then the client's side is shut for writing and every reply is read until
// the server closes the connection.
//
// Properties: the server answers with whole, well-formed frames and nothing
// else; the connection ends once the input does; afterwards no session is
// attached to a connection.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/server/connection_thread.h"
#include "clientserver/server/server_engine_manager.h"
#include "clientserver/server/server_session.h"
#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/listening_socket.h"
#include "foundation/files/memory_file_manager.h"
#include "foundation/locks/compression.h"
#include "foundation/text/environment.h"
#include "foundation/text/string_list.h"
#include "fuzz_support.h"
#include "metadata/config/stores.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/engine_settings.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// A server engine whose configuration, databases and stores live in its
// own memory; the listener binds an ephemeral port of 127.0.0.1 and is never
// connected to.
class ScratchServer : public TBRNServerEngineManager {
 public:
  ScratchServer() {
    CreateFileManagers();
    Settings->SetConfigPath("/config");
    ServerAddress = "127.0.0.1";
    ServerPort = 0;
    ServerAuthorizedAddresses->Add("*");
    JobTimerInterval = 0;
    SweepTimerEnabled = false;
  }
  std::unique_ptr<TBRNFileManager> CreateFileManager() override {
    return std::make_unique<TBRNMemoryFileManager>(Environment.get());
  }
};

// Frames messages without a socket; events never happen.
class FramingTransport : public TBRNCommsManager {
 public:
  using TBRNCommsManager::TBRNCommsManager;
  void DoReceiveTimeout(bool&) override { Fail("time-out without a socket"); }
  void DoSendProgress(int32_t, int32_t) override {}
  void DoReceiveProgress(int32_t, int32_t) override {}
  void DoConnectionError(const std::string&) override { Fail("connection error without a socket"); }
};

struct Fixture {
  Fixture() {
    server.Start();
    // The store "Files", for the store file requests.
    TBRNLocalSessionManager setup(&server, false, false);
    setup.OpenSession("fuzz:1", "Setup", "");
    setup.Login("Administrator", "GlenHarbor");
    TBRNStore* store = setup.BeginCreateStore("Files");
    store->SetStoreType(kLocalStore);
    store->SetPath("/config/Files");
    setup.EndCreateStore(store);
    setup.Logout();
    setup.CloseSession();
  }

  ScratchServer server;
  TBRNCompressionManager compression;
};

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= size_t(written);
  }
  return true;
}

// Every server session left in the table (logged-in ones stay dead) goes.
void removeServerSessions(TBRNServerEngineManager& server) {
  std::vector<int32_t> ids;
  int32_t position = 0;
  TBRNEngineSessionManager* session = nullptr;
  while (server.NextServerSession(position, session, 0, false, 1, 0)) {
    if (dynamic_cast<TBRNServerSessionManager*>(session) != nullptr) ids.push_back(session->Handle);
    ++position;
  }
  for (int32_t id : ids) server.RemoveServerSession(id);
}

// Checks that bytes are whole frames, one after the other.
void checkReplies(Fixture& fixture, const std::string& bytes) {
  FramingTransport reader(*fixture.server.Environment, fixture.compression,
                          *fixture.server.Settings);
  reader.MaxMessageSize = kBRNCommsSizeLimit - 8;
  std::unique_ptr<TBRNCommsRequest> request = reader.AcquireRequest();
  size_t offset = 0;
  while (offset < bytes.size()) {
    if (bytes.size() - offset < size_t(kBRNCommsHeaderSize)) Fail("a reply cut in its header");
    TBRNCommsMemoryStream& message = request->Incoming;
    message.Reset();
    message.SetPosition(0);
    message.Write(bytes.data() + offset, kBRNCommsHeaderSize);
    try {
      message.ReadHeader();
    } catch (const EBRNCommsException&) {
      Fail("a reply with a bad header");
    }
    if (bytes.size() - offset < size_t(message.PaddedSize)) Fail("a reply cut in its payload");
    offset += size_t(message.PaddedSize);
  }
  reader.ReleaseRequest(std::move(request));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fixture = new Fixture();
  Input input(data, size);
  uint8_t flags = input.Byte();

  FramingTransport client(*fixture->server.Environment, fixture->compression,
                          *fixture->server.Settings);
  client.Encrypted = (flags & 1) != 0;
  client.CompressionLevel = ((flags >> 1) & 15) % 10;
  std::string wire;
  std::unique_ptr<TBRNCommsRequest> request = client.AcquireRequest();
  for (int32_t count = 0; count < 64 && !input.Rest().empty(); ++count) {
    int32_t code = int32_t(input.Word32());
    uint32_t length = uint32_t(input.Byte()) | (uint32_t(input.Byte()) << 8);
    std::string_view rest = input.Rest();
    std::string payload(rest.substr(0, length));
    for (size_t i = 0; i < payload.size(); ++i) input.Byte();
    client.BeginRequest(*request, code);
    if (!payload.empty()) {
      client.RequestStream(*request).Write(payload.data(), int32_t(payload.size()));
    }
    client.PackRequest(*request);
    TBRNCommsMemoryStream& framed = request->Outgoing;
    wire.append(reinterpret_cast<const char*>(framed.GetMemory()), size_t(framed.GetSize()));
  }
  client.ReleaseRequest(std::move(request));

  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) Fail("socketpair");
  std::string replies;
  {
    TBRNServerSocketWrapper listener;
    auto connection = std::make_unique<TBRNServerClientSocketWrapper>(fds[0], &listener);
    auto* thread = new TBRNServerThread(&fixture->server, std::move(connection));
    thread->Resume();
    std::thread drainer([&replies, fd = fds[1]] {
      char buffer[65536];
      for (;;) {
        ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        replies.append(buffer, size_t(got));
      }
    });
    writeAll(fds[1], reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
    ::shutdown(fds[1], SHUT_WR);
    drainer.join();
    // Joins and frees the connection thread.
    listener.Close();
  }
  ::close(fds[1]);
  checkReplies(*fixture, replies);
  if (fixture->server.GetConnectedSessionCount() != 0) Fail("a session still attached");
  removeServerSessions(fixture->server);
  return 0;
}
