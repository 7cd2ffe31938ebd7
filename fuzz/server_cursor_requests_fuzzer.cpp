// Cursor requests as a server connection thread serves them on a real
// cursor: after a fixed start (connect, login, open the database "Fuzz",
// open its table T, read a first block) every record of the input is one
// cursor request on that cursor with a hostile body: positioning fields,
// bookmarks, keys, column lists, rows with and without modified flags and
// BLOB lists, embedded streams, BLOB references, rows per block.
//
// Input: records of a code selector byte (an index into the cursor request
// codes), a 16-bit body length and that many body bytes (fewer when the
// input ends); the cursor handle is put in front of each body.
//
// Properties: the start is served (replies with code 0); the server answers
// with whole, well-formed frames and nothing else; the connection ends once
// the input does; afterwards no session is attached to a connection.
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
#include "sessions/engine_settings.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/manager_interfaces.h"
#include "storage/cursors/cursor.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

constexpr int32_t kCursorCodes[] = {180, 181, 183, 184, 190, 200, 210, 211, 212, 213,
                                    214, 215, 216, 217, 218, 219, 220, 221, 222, 223,
                                    224, 225, 226, 227, 230, 231, 232, 233, 234, 235,
                                    236, 237, 238, 240, 241, 243};
// The handle a fresh session gives its first cursor; the database handle
// is found once by the fixture.
constexpr int32_t kCursorHandle = 1;
// Replies of the fixed start: connect, login, open database, open table,
// first block.
constexpr int32_t kStartReplies = 5;

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

class FramingTransport : public TBRNCommsManager {
 public:
  using TBRNCommsManager::TBRNCommsManager;
  void DoReceiveTimeout(bool&) override { Fail("time-out without a socket"); }
  void DoSendProgress(int32_t, int32_t) override {}
  void DoReceiveProgress(int32_t, int32_t) override {}
  void DoConnectionError(const std::string&) override { Fail("connection error without a socket"); }
};

void execute(TBRNDatabaseManager& database, const std::string& sql) {
  std::unique_ptr<TBRNStatementManager> statement(database.PrepareStatement(sql));
  statement->ExecuteStatement();
}

struct Fixture {
  Fixture() {
    server.Start();
    // The in-memory database "Fuzz" with T: five rows, two with a CLOB.
    TBRNLocalSessionManager setup(&server, false, false);
    setup.OpenSession("fuzz:1", "Setup", "");
    setup.Login("Administrator", "GlenHarbor");
    TBRNDatabaseManager* configuration = setup.OpenDatabase("Configuration", kBRNLockShared);
    execute(*configuration, "CREATE DATABASE Fuzz IN MEMORY");
    TBRNDatabaseManager* fuzz = setup.OpenDatabase("Fuzz", kBRNLockShared);
    execute(*fuzz, "CREATE TABLE T (ID INTEGER PRIMARY KEY, Name VARCHAR(20), Data CLOB)");
    execute(*fuzz, "INSERT INTO T VALUES (1, 'a', 'first'), (2, 'b', NULL), (3, 'c', ''), "
                   "(4, 'd', 'fourth'), (5, 'e', NULL)");
    setup.CloseDatabase(fuzz);
    setup.CloseDatabase(configuration);
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

// The result codes of the replies in bytes, which must be whole frames one
// after the other.
std::vector<int32_t> replyCodes(Fixture& fixture, const std::string& bytes) {
  FramingTransport reader(*fixture.server.Environment, fixture.compression,
                          *fixture.server.Settings);
  reader.MaxMessageSize = kBRNCommsSizeLimit - 8;
  std::unique_ptr<TBRNCommsRequest> request = reader.AcquireRequest();
  size_t offset = 0;
  std::vector<int32_t> codes;
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
    codes.push_back(message.Code);
    if (bytes.size() - offset < size_t(message.PaddedSize)) Fail("a reply cut in its payload");
    offset += size_t(message.PaddedSize);
  }
  reader.ReleaseRequest(std::move(request));
  return codes;
}

// Serves wire on a new connection thread over a socket pair until the
// server closes the connection; answers every byte it sent back.
std::string serve(Fixture& fixture, const std::string& wire) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) Fail("socketpair");
  std::string replies;
  {
    TBRNServerSocketWrapper listener;
    auto connection = std::make_unique<TBRNServerClientSocketWrapper>(fds[0], &listener);
    auto* thread = new TBRNServerThread(&fixture.server, std::move(connection));
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
  return replies;
}

bool startServed(const std::vector<int32_t>& codes) {
  if (codes.size() < size_t(kStartReplies)) return false;
  for (int32_t i = 0; i < kStartReplies; ++i) {
    if (codes[size_t(i)] != 0) return false;
  }
  return true;
}

// The requests of the start, framed.
void writeStart(FramingTransport& client, TBRNCommsRequest& request, std::string& wire,
                int32_t databaseHandle) {
  auto frame = [&](int32_t code, auto&& fields) {
    client.BeginRequest(request, code);
    fields(client.RequestStream(request));
    client.PackRequest(request);
    TBRNCommsMemoryStream& framed = request.Outgoing;
    wire.append(reinterpret_cast<const char*>(framed.GetMemory()), size_t(framed.GetSize()));
  };
  frame(2, [](TBRNMemoryStream& out) {
    out.WriteInt64(21400);
    out.WriteInteger(5);
    out.WriteString("BRNMZTRAQEL");
    out.WriteBoolean(false);
    out.WriteString("fuzz:2");
    out.WriteString("Fuzz");
    out.WriteString("");
    out.WriteInteger(1);
    out.WriteBoolean(false);  // keep tables open
    out.WriteByte(0);         // pessimistic locking
    out.WriteInteger(1);      // lock retries
    out.WriteInteger(1);      // lock wait
    out.WriteBoolean(false);
    out.WriteBoolean(false);
    out.WriteInteger(0);  // no progress
    out.WriteInteger(3);  // ODBC version
  });
  frame(3, [](TBRNMemoryStream& out) {
    out.WriteString("Administrator");
    out.WriteString("GlenHarbor");
  });
  frame(33, [](TBRNMemoryStream& out) {
    out.WriteString("Fuzz");
    out.WriteByte(kBRNLockShared);
  });
  frame(123, [databaseHandle](TBRNMemoryStream& out) {
    out.WriteInteger(databaseHandle);
    out.WriteString("");
    out.WriteString("T");
    out.WriteBoolean(false);
    out.WriteBoolean(false);
  });
  frame(210, [](TBRNMemoryStream& out) {
    out.WriteInteger(kCursorHandle);
    out.WriteInteger(3);
  });
}

// The handle the session gives the database "Fuzz": the one with which the
// start is served.
int32_t findDatabaseHandle(Fixture& fixture) {
  for (int32_t handle = 1; handle <= 16; ++handle) {
    FramingTransport client(*fixture.server.Environment, fixture.compression,
                            *fixture.server.Settings);
    std::unique_ptr<TBRNCommsRequest> request = client.AcquireRequest();
    std::string wire;
    writeStart(client, *request, wire, handle);
    client.ReleaseRequest(std::move(request));
    const bool served = startServed(replyCodes(fixture, serve(fixture, wire)));
    removeServerSessions(fixture.server);
    if (served) return handle;
  }
  Fail("the start is never served");
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fixture = new Fixture();
  static const int32_t databaseHandle = findDatabaseHandle(*fixture);
  Input input(data, size);

  FramingTransport client(*fixture->server.Environment, fixture->compression,
                          *fixture->server.Settings);
  std::string wire;
  std::unique_ptr<TBRNCommsRequest> request = client.AcquireRequest();
  writeStart(client, *request, wire, databaseHandle);
  for (int32_t count = 0; count < 64 && !input.Rest().empty(); ++count) {
    const int32_t code = kCursorCodes[input.Byte() % std::size(kCursorCodes)];
    uint32_t length = uint32_t(input.Byte()) | (uint32_t(input.Byte()) << 8);
    std::string_view rest = input.Rest();
    std::string body(rest.substr(0, length));
    for (size_t i = 0; i < body.size(); ++i) input.Byte();
    client.BeginRequest(*request, code);
    TBRNCommsMemoryStream& out = client.RequestStream(*request);
    out.WriteInteger(kCursorHandle);
    if (!body.empty()) out.Write(body.data(), int32_t(body.size()));
    client.PackRequest(*request);
    TBRNCommsMemoryStream& framed = request->Outgoing;
    wire.append(reinterpret_cast<const char*>(framed.GetMemory()), size_t(framed.GetSize()));
  }
  client.ReleaseRequest(std::move(request));

  if (!startServed(replyCodes(*fixture, serve(*fixture, wire)))) Fail("the start was refused");
  if (fixture->server.GetConnectedSessionCount() != 0) Fail("a session still attached");
  removeServerSessions(fixture->server);
  return 0;
}
