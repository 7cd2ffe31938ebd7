#include "clientserver/server/connection_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/server/server_engine_manager.h"
#include "clientserver/server/server_session.h"
#include "clientserver/server/wire_client.h"
#include "foundation/file_test_support.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"

namespace brn {
namespace {

using test::WireClient;
using test::WireConnectFields;
using test::WireError;

constexpr int32_t kGetServerName = 300;
constexpr int32_t kOpenDatabase = 33;
constexpr int32_t kCloseDatabase = 34;
constexpr int32_t kUserDefinedRequest = 10000;

// A server engine on an ephemeral port of 127.0.0.1 with its configuration
// in a fresh folder; sweep and job timers off. Each test adjusts the
// settings in Configure and then calls StartServer.
class ConnectionThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.Settings->SetConfigPath(folder.Path);
    engine.ServerAddress = "127.0.0.1";
    engine.ServerPort = 0;
    engine.ServerAuthorizedAddresses->Add("*");
    engine.JobTimerInterval = 0;
    engine.SweepTimerEnabled = false;
    engine.OnServerSessionEvent = [this](TBRNServerSessionEventType type,
                                         TBRNServerSessionManager*) {
      std::lock_guard<std::mutex> guard(eventsLock);
      events.push_back(type);
    };
  }

  void TearDown() override { engine.Stop(); }

  void StartServer() {
    engine.Start();
    port = engine.GetListeningPort();
    ASSERT_NE(port, 0);
  }

  std::vector<TBRNServerSessionEventType> Events() {
    std::lock_guard<std::mutex> guard(eventsLock);
    return events;
  }

  // Every byte the engine has logged so far (the log files of the folder).
  std::string LoggedText() {
    std::string text;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.Path)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream file(entry.path(), std::ios::binary);
      text.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return text;
  }

  // Sends a User-Defined Request without parameters.
  static int32_t CallUserRequest(WireClient& client) {
    client.Begin(kUserDefinedRequest);
    client.Str("Proc");
    TBRNParamValues none;
    none.SaveToStream(client.RequestStream());
    return client.Call();
  }

  brn::testing::TempDirectory folder;
  TBRNServerEngineManager engine;
  uint16_t port = 0;
  std::mutex eventsLock;
  std::vector<TBRNServerSessionEventType> events;
};

TEST_F(ConnectionThreadTest, RefusalsAreAnsweredLoggedAndClosed) {
  struct Case {
    const char* name;
    std::function<void(TBRNServerEngineManager&)> configure;
    // 0: a Connect Session; any other code is sent as the first message.
    int32_t firstCode;
    bool encrypted;
    int32_t expectedCode;
    std::string expectedMessage;
  };
  const std::vector<Case> cases = {
      {"encrypted only, plain client",
       [](TBRNServerEngineManager& e) { e.ServerEncryptedOnly = true; }, 0, false, 1105,
       "An encrypted connection is required"},
      {"blocked pattern",
       [](TBRNServerEngineManager& e) { e.ServerBlockedAddresses->Add("127.0.0.*"); }, 0, false,
       1104, "The IP address 127.0.0.1 is blocked"},
      {"empty authorized list",
       [](TBRNServerEngineManager& e) { e.ServerAuthorizedAddresses->Clear(); }, 0, false, 1104,
       "The IP address 127.0.0.1 is blocked"},
      {"first message not a connect", [](TBRNServerEngineManager&) {}, kGetServerName, false,
       1103, "An invalid or unknown request was sent to the server"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    engine.Stop();
    engine.ServerEncryptedOnly = false;
    engine.ServerBlockedAddresses->Clear();
    engine.ServerAuthorizedAddresses->Clear();
    engine.ServerAuthorizedAddresses->Add("*");
    c.configure(engine);
    StartServer();
    WireClient client;
    client.Open(port);
    if (c.firstCode == 0) {
      WireConnectFields fields;
      fields.Encrypted = c.encrypted;
      test::WireConnectReply reply = client.ConnectSession(fields);
      EXPECT_EQ(reply.Code, c.expectedCode);
      EXPECT_EQ(reply.Message, c.expectedMessage);
    } else {
      EXPECT_EQ(client.Simple(c.firstCode), c.expectedCode);
      EXPECT_EQ(client.ReadError().Message, c.expectedMessage);
    }
    EXPECT_TRUE(client.ClosedWithin(5000));
    EXPECT_NE(LoggedText().find(c.expectedMessage), std::string::npos);
  }
  // The same refusals let the right client in.
  engine.Stop();
  engine.ServerEncryptedOnly = true;
  StartServer();
  WireClient client;
  client.Open(port);
  WireConnectFields fields;
  fields.Encrypted = true;
  EXPECT_EQ(client.ConnectSession(fields).Code, 0);
}

TEST_F(ConnectionThreadTest, ErrorRepliesCarryLineAndColumnFromVersion109) {
  bool engineError = true;
  engine.OnServerProcedure = [&engineError](TBRNServerEngineManagerProcedure&) {
    if (engineError) throw EBRNException(1234, "Bad thing", 3, 7);
    throw std::runtime_error("Not an engine error");
  };
  StartServer();
  struct Case {
    int64_t version;
    bool engineError;
    int32_t code;
    std::string message;
    int32_t line;
    int32_t column;
    // Bytes after the message: line and column from 1.09 on.
    int32_t trailing;
  };
  const std::vector<Case> cases = {
      {10900, true, 1234, "Bad thing", 3, 7, 8},
      {21400, false, 9999, "Not an engine error", 0, 0, 8},
      {10800, true, 1234, "Bad thing", 0, 0, 0},
      {10800, false, 9999, "Not an engine error", 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + (c.engineError ? " engine" : " other"));
    engineError = c.engineError;
    WireClient client;
    client.Open(port);
    WireConnectFields fields;
    fields.Version = c.version;
    ASSERT_EQ(client.ConnectSession(fields).Code, 0);
    ASSERT_EQ(client.Login(test::kWireAdministrator, test::kWireAdministratorPassword), 0);
    ASSERT_EQ(CallUserRequest(client), c.code);
    // Read by hand: the message, then exactly the trailing bytes.
    EXPECT_EQ(client.ReadStr(), c.message);
    ASSERT_EQ(client.ReplyRemaining(), c.trailing);
    if (c.trailing == 8) {
      EXPECT_EQ(client.ReadInt32(), c.line);
      EXPECT_EQ(client.ReadInt32(), c.column);
    }
  }
}

TEST_F(ConnectionThreadTest, InvalidRequestsGet1103AndTheConnectionGoesOn) {
  StartServer();
  WireClient client;
  client.OpenAndLogin(port);
  struct Case {
    const char* name;
    int32_t code;
    std::function<void(WireClient&)> fields;
  };
  const std::vector<Case> cases = {
      {"unknown database handle", kCloseDatabase, [](WireClient& c) { c.Int32(999); }},
      {"negative handle", kCloseDatabase, [](WireClient& c) { c.Int32(-5); }},
      {"handle missing", kCloseDatabase, [](WireClient&) {}},
      {"string longer than the request", kOpenDatabase,
       [](WireClient& c) {
         c.Int32(1000);
         c.Raw("abc", 3);
       }},
      {"negative string length", kOpenDatabase, [](WireClient& c) { c.Int32(-1); }},
      {"unknown code", 12345, [](WireClient&) {}},
      {"operation name, not a request: Open Session", 1, [](WireClient&) {}},
      {"operation name, not a request: Disconnect Session", 6, [](WireClient&) {}},
      {"operation name, not a request: Copy Cursor", 182, [](WireClient&) {}},
      {"operation name, not a request: Start Server", 305, [](WireClient&) {}},
      {"second connect on a connection", 2, [](WireClient&) {}},
      {"reconnect on a connected connection", 5, [](WireClient&) {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    client.Begin(c.code);
    c.fields(client);
    ASSERT_EQ(client.Call(), 1103);
    WireError error = client.ReadError();
    EXPECT_EQ(error.Message, "An invalid or unknown request was sent to the server");
    EXPECT_EQ(client.ReplyRemaining(), 0);
    ASSERT_EQ(client.Simple(kGetServerName), 0);
    EXPECT_EQ(client.ReadStr(), engine.ServerName);
  }
}

TEST_F(ConnectionThreadTest, PingGetsNoReplyBeforeOrAfterConnect) {
  StartServer();
  WireClient client;
  client.Open(port);
  for (int i = 0; i < 3; ++i) {
    client.Begin(800);
    client.Send();
  }
  EXPECT_FALSE(client.MessageWithin(300));
  // Pings are not a first message: the connect that follows is served.
  ASSERT_EQ(client.ConnectSession().Code, 0);
  ASSERT_EQ(client.Login(test::kWireAdministrator, test::kWireAdministratorPassword), 0);

  // A ping takes no session lock: served while another thread holds it.
  TBRNEngineSessionManager* session = nullptr;
  int32_t sessionId = 0;
  for (int32_t id = 1; id < 16 && session == nullptr; ++id) {
    TBRNEngineSessionManager* found = nullptr;
    if (engine.FindSession(id, found, false, 1, 0, false) && found->IsServerSession()) {
      sessionId = id;
      session = found;
    }
  }
  ASSERT_NE(session, nullptr);
  ASSERT_TRUE(engine.FindSession(sessionId, session, true, 100, 10, false));
  client.Begin(800);
  client.Send();
  client.Begin(kGetServerName);
  client.Send();
  // The name waits for the lock; the ping before it did not.
  EXPECT_FALSE(client.MessageWithin(300));
  engine.UnlockSessionEntry(session);
  ASSERT_TRUE(client.MessageWithin(5000));
  EXPECT_EQ(client.ReplyCode(), 0);
  EXPECT_EQ(client.ReadStr(), engine.ServerName);
}

TEST_F(ConnectionThreadTest, ConnectMustBeCompleteWithinTheConnectTime) {
  engine.ServerConnectTimeout = 1;
  StartServer();
  struct Case {
    const char* name;
    std::function<void(WireClient&)> act;
  };
  const std::vector<Case> cases = {
      {"silent", [](WireClient&) {}},
      {"half a header", [](WireClient& c) { c.SendBytes(std::string(16, 'x')); }},
      {"all but one byte of a header",
       [](WireClient& c) { c.SendBytes(std::string(31, '\0')); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WireClient client;
    client.Open(port);
    auto start = std::chrono::steady_clock::now();
    c.act(client);
    EXPECT_TRUE(client.ClosedWithin(4000));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(800));
  }
  // A connected client is not bound by the connect time.
  WireClient client;
  client.Open(port);
  ASSERT_EQ(client.ConnectSession().Code, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(client.Login(test::kWireAdministrator, test::kWireAdministratorPassword), 0);
}

TEST_F(ConnectionThreadTest, MessagesAreCappedUntilLogin) {
  StartServer();
  const std::string bigName(100 * 1024, 'n');
  {
    // Before login a message above 64 KiB ends the connection.
    WireClient client;
    client.Open(port);
    ASSERT_EQ(client.ConnectSession().Code, 0);
    client.Begin(kOpenDatabase);
    client.Str(bigName);
    client.Byte(0);
    try {
      client.Send();
    } catch (const test::WireClientError&) {
      // The server may close before the whole message is out.
    }
    EXPECT_TRUE(client.ClosedWithin(5000));
  }
  // After login it is served (an unknown database: an engine error).
  WireClient client;
  client.OpenAndLogin(port);
  client.Begin(kOpenDatabase);
  client.Str(bigName);
  client.Byte(0);
  int32_t code = client.Call();
  EXPECT_NE(code, 0);
  EXPECT_NE(code, 1103);
  ASSERT_EQ(client.Simple(kGetServerName), 0);
}

// While the server waits for the answer to a login prompt, the client's
// requests are served nested; those that would free or change what the
// outer request uses are refused with 506, a nested logout is ignored.
TEST_F(ConnectionThreadTest, NestedRequestsDuringACallback) {
  StartServer();
  WireClient client;
  client.Open(port);
  test::WireConnectReply reply = client.ConnectSession();
  ASSERT_EQ(reply.Code, 0);
  client.Begin(3);
  client.Str(test::kWireAdministrator);
  client.Str("wrong");
  ASSERT_EQ(client.Call(), 9000);

  const std::string locked =
      "Cannot lock the session manager (ID: " + std::to_string(reply.SessionID) + ")";
  struct Case {
    const char* name;
    int32_t code;
    std::function<void(WireClient&)> fields;
  };
  const std::vector<Case> refused = {
      {"login", 3,
       [](WireClient& c) {
         c.Str(test::kWireAdministrator);
         c.Str(test::kWireAdministratorPassword);
       }},
      {"close database", kCloseDatabase, [](WireClient& c) { c.Int32(1); }},
      {"close store", 39, [](WireClient& c) { c.Int32(1); }},
      {"commit", 41,
       [](WireClient& c) {
         c.Bool(false);
         c.Bool(false);
       }},
      {"free statement", 252, [](WireClient& c) { c.Int32(1); }},
      {"execute script", 361, [](WireClient& c) { c.Int32(1); }},
      {"free cursor", 184, [](WireClient& c) { c.Int32(1); }},
      {"end writing a store file", 409, [](WireClient& c) { c.Int32(1); }},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    client.Begin(c.code);
    c.fields(client);
    ASSERT_EQ(client.Call(), 506);
    EXPECT_EQ(client.ReadError().Message, locked);
  }
  // A nested logout: no reply, nothing freed.
  client.Begin(4);
  client.Send();
  EXPECT_FALSE(client.MessageWithin(300));
  ASSERT_EQ(client.Simple(kGetServerName), 0);
  EXPECT_EQ(client.ReadStr(), engine.ServerName);

  // The answer carries the right password: the outer login succeeds.
  client.Begin(9998);
  client.Bool(true);
  client.Str(test::kWireAdministrator);
  client.Str(test::kWireAdministratorPassword);
  client.Bool(true);
  ASSERT_EQ(client.Call(), 0);
  EXPECT_GT(client.OpenDatabase("Configuration"), 0);
}

// A reconnected session that has a user logged in gets the full message
// size at once, and its handles work on the new connection.
TEST_F(ConnectionThreadTest, ReconnectOfALoggedInSessionLiftsTheCapAtOnce) {
  StartServer();
  int32_t sessionId = 0;
  int32_t handle = 0;
  {
    WireClient old;
    old.Open(port);
    test::WireConnectReply reply = old.ConnectSession();
    ASSERT_EQ(reply.Code, 0);
    sessionId = reply.SessionID;
    ASSERT_EQ(old.Login(test::kWireAdministrator, test::kWireAdministratorPassword), 0);
    handle = old.OpenDatabase("Configuration");
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (engine.GetConnectedSessionCount() != 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  WireClient fresh;
  fresh.Open(port);
  ASSERT_EQ(fresh.ReconnectSession(sessionId), 0);
  fresh.Begin(kOpenDatabase);
  fresh.Str(std::string(100 * 1024, 'n'));
  fresh.Byte(0);
  int32_t code = fresh.Call();
  EXPECT_NE(code, 0);
  EXPECT_NE(code, 1103);
  fresh.Begin(kCloseDatabase);
  fresh.Int32(handle);
  EXPECT_EQ(fresh.Call(), 0);
}

// The threads of this process.
int ProcessThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

// Opens kIdleSockets connections that never complete a connect: half of
// them silent, half stopped inside a frame header.
std::vector<std::unique_ptr<WireClient>> OpenIdleSockets(uint16_t port, int count) {
  std::vector<std::unique_ptr<WireClient>> idle;
  for (int i = 0; i < count; ++i) {
    auto client = std::make_unique<WireClient>();
    client->Open(port);
    if (i % 2 == 1) client->SendBytes(std::string(16, 'h'));
    idle.push_back(std::move(client));
  }
  return idle;
}

// Many short sessions and many idle sockets at once: a logged-in canary is
// still answered within a second, and Stop ends everything.
TEST_F(ConnectionThreadTest, LoadAndIdleSocketsLeaveACanaryServed) {
  StartServer();
  constexpr int kClientThreads = 200;
  std::vector<std::unique_ptr<WireClient>> idle = OpenIdleSockets(port, 1000);
  // Generous: the idle sockets are still being accepted.
  WireClient canary;
  canary.Transport().ReceiveTimeout = 120;
  canary.OpenAndLogin(port);
  canary.Transport().ReceiveTimeout = 10;

  std::atomic<bool> stopping{false};
  std::atomic<int> sessions{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClientThreads; ++i) {
    clients.emplace_back([&] {
      while (!stopping.load()) {
        try {
          WireClient client;
          client.Transport().ReceiveTimeout = 60;
          client.OpenAndLogin(port);
          client.Begin(4);
          client.Send();
          if (client.ClosedWithin(5000)) ++sessions;
        } catch (const std::exception&) {
          // Refused or cut while the server stops. A client pauses before it
          // tries again: these threads share the machine with the server,
          // and a loop of instant refusals would starve the Stop measured.
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      }
    });
  }
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  std::chrono::steady_clock::duration slowest{};
  while (std::chrono::steady_clock::now() < until) {
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(canary.Simple(kGetServerName), 0);
    slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_LT(slowest, std::chrono::seconds(1));

  // Sessions being opened when Stop begins are closed again before their
  // tables are built, and no new connection is served: Stop waits only for
  // the requests already under way and for the sessions their connections
  // leave, which those connections free themselves.
  auto start = std::chrono::steady_clock::now();
  engine.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  stopping = true;
  for (std::thread& client : clients) client.join();
  EXPECT_GT(sessions.load(), 0);
  EXPECT_EQ(engine.GetSessionCount(), 0);
  for (auto& client : idle) EXPECT_TRUE(client->ClosedWithin(1000));
}

// Idle connections cost the server no thread, and Stop ends them and a
// logged-in one within five seconds.
TEST_F(ConnectionThreadTest, StopEndsIdleConnectionsQuickly) {
  StartServer();
  int threadsBefore = ProcessThreadCount();
  std::vector<std::unique_ptr<WireClient>> idle = OpenIdleSockets(port, 1000);
  WireClient client;
  client.Transport().ReceiveTimeout = 120;
  client.OpenAndLogin(port);
  ASSERT_EQ(client.Simple(kGetServerName), 0);
  EXPECT_LT(ProcessThreadCount() - threadsBefore, 20);
  auto start = std::chrono::steady_clock::now();
  engine.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(client.ClosedWithin(1000));
  for (auto& socket : idle) EXPECT_TRUE(socket->ClosedWithin(1000));
}

}  // namespace
}  // namespace brn
