// The remote cursor against a scripted server: what it sends to and reads
// from servers of older versions (the server announces each version and
// answers with the forms of that version while it records every request),
// and damaged replies, which it refuses keeping the block it had.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/remote/remote_cursor.h"
#include "clientserver/remote/remote_managers.h"
#include "clientserver/remote/remote_session_manager.h"
#include "clientserver/remote/remote_test_support.h"
#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/comms_request.h"
#include "clientserver/transport/socket.h"
#include "foundation/core/memory_stream.h"
#include "foundation/locks/compression.h"
#include "foundation/text/exception.h"
#include "foundation/text/environment.h"
#include "sessions/engine_settings.h"

namespace brn {
namespace {

// One request as the scripted server received it.
struct Received {
  int32_t Code = 0;
  std::string Payload;
};

// Answers one request: fills out and returns the reply code; -1 sends no
// reply.
using Script = std::function<int32_t(int32_t code, TBRNMemoryStream& in, TBRNMemoryStream& out)>;

// A server of 127.0.0.1 that speaks the framing of the wire but answers
// every request from a script, one connection at a time, and records what
// it received. Stops (and joins its thread) in the destructor.
class ScriptedServer {
 public:
  explicit ScriptedServer(Script script)
      : script_(std::move(script)), settings_(nullptr, "/tmp") {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("scripted server: cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptedServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
  }

  uint16_t Port() const { return port_; }
  std::vector<Received> Requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
  }

 private:
  class Transport : public TBRNCommsManager {
   public:
    using TBRNCommsManager::TBRNCommsManager;
    void DoReceiveTimeout(bool& continueReceiving) override { continueReceiving = false; }
    void DoSendProgress(int32_t, int32_t) override {}
    void DoReceiveProgress(int32_t, int32_t) override {}
    void DoConnectionError(const std::string& message) override {
      throw std::runtime_error(message);
    }
  };

  void run() {
    while (!stopping_) {
      pollfd entry{listener_, POLLIN, 0};
      if (::poll(&entry, 1, 50) <= 0) continue;
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      TBRNSocketWrapper socket(fd);
      Transport transport(environment_, compression_, settings_);
      transport.ReceiveTimeout = 1;
      transport.AdoptPeerLevel = true;
      transport.AttachSocket(&socket);
      transport.Handshake = true;
      try {
        serve(transport);
      } catch (const std::exception&) {
        // The client went away.
      }
      transport.DetachSocket();
    }
  }

  void serve(Transport& transport) {
    while (!stopping_) {
      std::unique_ptr<TBRNCommsRequest> request;
      bool go = true;
      transport.ReceiveCommsMessage(request, go);
      if (!go) {
        transport.ReleaseRequest(std::move(request));
        continue;
      }
      transport.UnpackReply(*request);
      TBRNCommsMemoryStream& in = request->Incoming;
      const int32_t code = in.Code;
      {
        std::lock_guard<std::mutex> guard(lock_);
        const int64_t at = in.GetPosition();
        received_.push_back({code, std::string(reinterpret_cast<const char*>(in.GetMemory()) + at,
                                               size_t(in.GetSize() - at))});
      }
      TBRNMemoryStream payload;
      const int32_t replyCode = script_(code, in, payload);
      transport.Handshake = false;
      if (replyCode >= 0) {
        transport.BeginRequest(*request, replyCode);
        TBRNMemoryStream& out = transport.RequestStream(*request);
        if (payload.GetSize() > 0) out.Write(payload.GetMemory(), int32_t(payload.GetSize()));
        transport.PackRequest(*request);
        transport.SendCommsMessage(*request);
      }
      transport.ReleaseRequest(std::move(request));
    }
  }

  Script script_;
  TBRNEnvironment environment_;
  TBRNCompressionManager compression_;
  TBRNEngineManagerSettings settings_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex lock_;
  std::vector<Received> received_;
  std::thread thread_;
};

constexpr int32_t kOpenDatabaseCode = 33;
constexpr int32_t kOpenTableCode = 123;
constexpr int32_t kConnectCode = 2;
constexpr int32_t kLogoutCode = 4;

class RemoteCursorScriptedTest : public test::RemoteTest {
 protected:
  // The descriptor lists and one stored row of Items, taken from a cursor
  // of the real server.
  void SetUp() override {
    RemoteTest::SetUp();
    TBRNDatabaseManager* db = OpenTestDatabase();
    Exec(db, "CREATE TABLE Items (ID INTEGER PRIMARY KEY, Name VARCHAR(20))");
    Exec(db, "INSERT INTO Items VALUES (41, 'forty-one')");
    TBRNCursor* cursor = db->OpenTable("", "Items", false, false);
    cursor->GetTableColumns().SaveToStream(columns, false);
    cursor->GetCursorColumns().SaveToStream(cursorColumns, false);
    cursor->GetIndexes().SaveToStream(indexes, false);
    cursor->FirstRow();
    std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
    cursor->GetCurrentRow(*row, false);
    row->SaveToStream(plainRow);
    row->SaveToStreamWithBlobs(flaggedRow, true, false);
    row->SaveToStreamWithBlobs(flaggedBlobRow, true, true);
    // What a client row sends without modified flags, with its BLOB list.
    row->SaveToStreamWithBlobs(clientPlainRow, false, true);
  }

  static void Append(TBRNMemoryStream& out, const TBRNMemoryStream& part) {
    out.Write(part.GetMemory(), int32_t(part.GetSize()));
  }
  static void State(TBRNMemoryStream& out) {
    out.WriteInteger(-1);
    out.WriteBoolean(false);
    out.WriteDouble(0);
    out.WriteBoolean(false);
    out.WriteInteger(1);
    out.WriteInteger(1);
  }
  // One entry: the row, current, with BOF and EOF clear.
  void Block(TBRNMemoryStream& out) {
    out.WriteBoolean(false);
    out.WriteBoolean(false);
    out.WriteInteger(int32_t(plainRow.GetSize()) + 4);
    out.WriteInteger(1);
    Append(out, plainRow);
    out.WriteInteger(0);
  }

  // The replies of a server of version.
  Script ServerOf(int64_t version) {
    return [this, version](int32_t code, TBRNMemoryStream&, TBRNMemoryStream& out) -> int32_t {
      switch (code) {
        case kConnectCode:
          out.WriteInt64(version);
          out.WriteInteger(5);
          out.WriteString("BRNMZTRAQEL");
          out.WriteInteger(1);
          return 0;
        case kOpenDatabaseCode:
          out.WriteInteger(7);
          return 0;
        case kOpenTableCode:
          out.WriteInteger(9);
          if (version >= 10600) out.WriteBoolean(false);
          Append(out, columns);
          if (version >= 20300) Append(out, cursorColumns);
          Append(out, indexes);
          State(out);
          return 0;
        case kOpFirstRow:
          if (auto damage = GetDamage()) {
            damage(out);
          } else {
            State(out);
            Block(out);
          }
          return 0;
        case kOpRefreshCursor:
          if (version >= 20100) out.WriteBoolean(true);
          State(out);
          Block(out);
          return 0;
        case kOpInitializeRow:
          Append(out, version < 20500 ? plainRow : version < 20700 ? flaggedRow : flaggedBlobRow);
          return 0;
        case kLogoutCode:
          return -1;
        default:
          return 0;
      }
    };
  }

  // When set, writes the reply of First Row instead of the good one. Set by
  // the test's thread, read by the server's.
  using Writer = std::function<void(TBRNMemoryStream&)>;
  void SetDamage(Writer writer) {
    std::lock_guard<std::mutex> guard(damageLock);
    damage = std::move(writer);
  }
  Writer GetDamage() {
    std::lock_guard<std::mutex> guard(damageLock);
    return damage;
  }
  std::mutex damageLock;
  Writer damage;
  TBRNMemoryStream columns, cursorColumns, indexes;
  TBRNMemoryStream plainRow, flaggedRow, flaggedBlobRow, clientPlainRow;
};

TEST_F(RemoteCursorScriptedTest, FieldsFollowTheServerVersion) {
  for (int64_t version : {10200, 10300, 10400, 10600, 10900, 20100, 20200, 20300, 20400, 20500,
                          20700, 20800, 21400}) {
    SCOPED_TRACE("server version " + std::to_string(version));
    ScriptedServer server(ServerOf(version));
    std::unique_ptr<TBRNRemoteSessionManager> session = NewSession(false, false);
    session->RemotePort = server.Port();
    session->OpenSession("scripted:1", "scripted", "");
    session->Login(test::kRemoteAdministrator, test::kRemoteAdministratorPassword);
    TBRNDatabaseManager* db = session->OpenDatabase("Scripted", kBRNLockShared);
    ASSERT_NE(db, nullptr);
    auto* cursor = dynamic_cast<TBRNRemoteCursor*>(db->OpenTable("", "Items", false, false));
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(cursor->GetCursorColumns().Count(), cursor->GetTableColumns().Count() - 1)
        << "cursor columns, sent or built";

    cursor->FirstRow();
    std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
    cursor->GetCurrentRow(*row, false);
    EXPECT_EQ(row->Values.GetItem(1)->GetAsInteger(), 41);
    cursor->LockRow(*row, 3, 4);
    cursor->CancelRow(*row);
    cursor->InitializeRow(*row);
    EXPECT_EQ(row->Values.GetItem(1)->GetNull(), version < 10300)
        << "the server's initialised row, or only cleared";
    EXPECT_EQ(cursor->RefreshCursor(), version >= 20100);
    EXPECT_EQ(cursor->GetRowNumber(), 1) << "the state and block behind the flag were read";

    std::vector<int32_t> codes;
    std::string lockPayload;
    for (const Received& request : server.Requests()) {
      if (request.Code < 180 || request.Code > 243) continue;
      codes.push_back(request.Code);
      if (request.Code == kOpLockRow) lockPayload = request.Payload;
    }
    std::vector<int32_t> expected = {kOpFirstRow, kOpLockRow};
    expected.push_back(version >= 10400 ? kOpCancelRow : kOpUnlockRow);
    if (version >= 10300) expected.push_back(kOpInitializeRow);
    expected.push_back(kOpRefreshCursor);
    EXPECT_EQ(codes, expected);

    // Lock Row: the handle, the row without modified flags, and from 2.04
    // the two lock arguments.
    const size_t base = 4 + size_t(clientPlainRow.GetSize());
    ASSERT_EQ(lockPayload.size(), base + (version >= 20400 ? 8 : 0));
    if (version >= 20400) {
      int32_t options[2];
      std::memcpy(options, lockPayload.data() + base, 8);
      EXPECT_EQ(options[0], 3);
      EXPECT_EQ(options[1], 4);
    }
    session->CloseSession();
  }
}

TEST_F(RemoteCursorScriptedTest, DamagedBlocksAreRefusedAndTheOldBlockKept) {
  const int32_t entry = int32_t(plainRow.GetSize()) + 4;
  // A block with size bytes announced, the row entry repeated as far as
  // present bytes go (at most present), and offset.
  auto block = [this](int32_t size, int32_t present, int32_t offset) {
    return [this, size, present, offset](TBRNMemoryStream& out) {
      State(out);
      out.WriteBoolean(false);
      out.WriteBoolean(false);
      out.WriteInteger(size);
      for (int32_t written = 0; written < present;) {
        out.WriteInteger(2);
        Append(out, plainRow);
        written += int32_t(plainRow.GetSize()) + 4;
      }
      out.WriteInteger(offset);
    };
  };
  struct Case {
    const char* name;
    std::function<void(TBRNMemoryStream&)> reply;
  };
  const std::vector<Case> cases = {
      {"a size that is no whole number of entries", block(entry + 1, 2 * entry, 0)},
      {"a size beyond the reply", block(100 * entry, entry, 0)},
      {"a negative size", block(-entry, 0, 0)},
      {"an offset behind the block", block(2 * entry, 2 * entry, 2 * entry)},
      {"an offset inside an entry", block(2 * entry, 2 * entry, 3)},
      {"a negative offset", block(entry, entry, -entry)},
      {"a reply cut inside the state", [](TBRNMemoryStream& out) { out.WriteInteger(-1); }},
  };
  ScriptedServer server(ServerOf(21400));
  std::unique_ptr<TBRNRemoteSessionManager> session = NewSession(false, false);
  session->RemotePort = server.Port();
  session->OpenSession("scripted:1", "scripted", "");
  session->Login(test::kRemoteAdministrator, test::kRemoteAdministratorPassword);
  TBRNDatabaseManager* db = session->OpenDatabase("Scripted", kBRNLockShared);
  TBRNCursor* cursor = db->OpenTable("", "Items", false, false);
  cursor->FirstRow();
  std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SetDamage(test.reply);
    try {
      cursor->FirstRow();
      ADD_FAILURE() << "the damaged reply was taken";
    } catch (const EBRNException& error) {
      EXPECT_EQ(error.ErrorCode, kCursorErrorCode) << error.what();
    }
    SetDamage(nullptr);
    EXPECT_EQ(cursor->GetRowNumber(), 1);
    cursor->GetCurrentRow(*row, false);
    EXPECT_EQ(row->Values.GetItem(1)->GetAsInteger(), 41);
  }
  session->CloseSession();
}

}  // namespace
}  // namespace brn
