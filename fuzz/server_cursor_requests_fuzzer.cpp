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
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "server_fuzz_support.h"
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

// The result codes of what the server answered to wire.
std::vector<int32_t> served(Fixture& fixture, const std::string& wire) {
  return ReplyCodes(fixture.server, fixture.compression, Serve(fixture.server, wire));
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
    const bool started = startServed(served(fixture, wire));
    RemoveServerSessions(fixture.server);
    if (started) return handle;
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

  if (!startServed(served(*fixture, wire))) Fail("the start was refused");
  if (fixture->server.GetConnectedSessionCount() != 0) Fail("a session still attached");
  RemoveServerSessions(fixture->server);
  return 0;
}
