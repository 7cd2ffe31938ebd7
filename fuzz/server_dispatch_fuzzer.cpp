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
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "metadata/config/stores.h"
#include "server_fuzz_support.h"
#include "sessions/local/local_session_manager.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

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

  // Whole frames, whatever their codes.
  ReplyCodes(fixture->server, fixture->compression, Serve(fixture->server, wire));
  if (fixture->server.GetConnectedSessionCount() != 0) Fail("a session still attached");
  RemoveServerSessions(fixture->server);
  return 0;
}
