#include "clientserver/server/server_engine_manager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/server/server_session.h"
#include "clientserver/server/wire_client.h"
#include "foundation/file_test_support.h"
#include "foundation/locks/log_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "foundation/wait_test_support.h"
#include "sessions/engine_settings.h"
#include "sessions/local/local_log_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {
namespace {

using test::WireClient;

constexpr int32_t kGetServerNameRequest = 300;
constexpr int32_t kCloseDatabaseRequest = 34;

using testing::WaitUntil;

// A connection thread stand-in for the engine's session operations, with
// the client fields a reconnect is matched on.
class FakeThread : public TBRNServerSessionThread {
 public:
  int32_t GetSessionID() const override { return sessionId.load(); }
  void SetSessionID(int32_t value) override { sessionId.store(value); }
  void CloseConnection() override { closed.store(true); }
  const std::string& GetPeerAddress() const override { return address; }
  int64_t GetClientVersion() const override { return 21400; }
  int32_t GetClientBuild() const override { return 5; }
  uint32_t GetClientThreadID() const override { return threadId; }
  bool GetEncryptionRequested() const override { return false; }
  const std::string& GetClientIdentity() const override { return identity; }
  const std::string& GetClientSessionName() const override { return name; }
  const std::string& GetClientSessionDescription() const override { return name; }

  std::atomic<int32_t> sessionId{0};
  std::atomic<bool> closed{false};
  std::string address = "127.0.0.1";
  // WireConnectFields' defaults.
  std::string identity = "testhost:4242";
  std::string name = "wire";
  uint32_t threadId = 7;
};

// A started server on an ephemeral port of 127.0.0.1 with its configuration
// in a fresh folder, its clock injected and its timers off (the tests call
// the sweep themselves).
class ServerEngineManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.Settings->SetConfigPath(folder.Path);
    engine.ServerAddress = "127.0.0.1";
    engine.ServerPort = 0;
    engine.ServerAuthorizedAddresses->Add("*");
    engine.JobTimerInterval = 0;
    engine.SweepTimerEnabled = false;
    engine.Clock = [this] { return now.load(); };
    engine.OnServerSessionEvent = [this](TBRNServerSessionEventType type,
                                         TBRNServerSessionManager* session) {
      std::lock_guard<std::mutex> guard(eventsLock);
      events.push_back({type, session->Handle});
    };
    engine.Start();
    port = engine.GetListeningPort();
    ASSERT_NE(port, 0);
  }

  void TearDown() override { engine.Stop(); }

  bool SessionExists(int32_t id) {
    TBRNEngineSessionManager* session = nullptr;
    return engine.FindSession(id, session, false, 1, 0, false);
  }

  bool SessionIsDead(int32_t id) {
    TBRNEngineSessionManager* found = nullptr;
    if (!engine.FindSession(id, found, true, 100, 10, false)) return false;
    bool dead = !static_cast<TBRNServerSessionManager*>(found)->IsConnected();
    engine.UnlockSessionEntry(found);
    return dead;
  }

  // A logged-in session whose connection was cut: it stays dead.
  int32_t DeadSession(const test::WireConnectFields& fields = {}) {
    WireClient client;
    int32_t id = client.OpenAndLogin(port, fields);
    client.Close();
    EXPECT_TRUE(WaitUntil([&] { return SessionIsDead(id); })) << id;
    return id;
  }

  std::vector<TBRNServerSessionEventType> EventsOf(int32_t id) {
    std::lock_guard<std::mutex> guard(eventsLock);
    std::vector<TBRNServerSessionEventType> result;
    for (auto& [type, session] : events)
      if (session == id) result.push_back(type);
    return result;
  }

  brn::testing::TempDirectory folder;
  TBRNServerEngineManager engine;
  std::atomic<int64_t> now{1'000'000'000};
  uint16_t port = 0;
  std::mutex eventsLock;
  std::vector<std::pair<TBRNServerSessionEventType, int32_t>> events;
};

TEST_F(ServerEngineManagerTest, CutConnectionKeepsOnlyLoggedInSessions) {
  WireClient anonymous;
  anonymous.Open(port);
  auto reply = anonymous.ConnectSession();
  ASSERT_EQ(reply.Code, 0);
  anonymous.Close();
  EXPECT_TRUE(WaitUntil([&] { return !SessionExists(reply.SessionID); }));
  EXPECT_EQ(EventsOf(reply.SessionID),
            (std::vector<TBRNServerSessionEventType>{seOpen, seConnect, seDisconnect, seClose}));
  {
    // The freed session's ID is given out again.
    std::lock_guard<std::mutex> guard(eventsLock);
    events.clear();
  }

  int32_t id = DeadSession();
  EXPECT_TRUE(SessionExists(id));
  EXPECT_EQ(EventsOf(id), (std::vector<TBRNServerSessionEventType>{seOpen, seConnect, seLogin,
                                                                   seDisconnect}));
  EXPECT_EQ(engine.GetConnectedSessionCount(), 0);
}

TEST_F(ServerEngineManagerTest, ReconnectReattachesTheDeadSessionWithItsHandles) {
  int32_t id = 0;
  int32_t database = 0;
  {
    WireClient first;
    id = first.OpenAndLogin(port);
    database = first.OpenDatabase("Configuration");
    first.Close();
  }
  ASSERT_TRUE(WaitUntil([&] { return SessionIsDead(id); }));

  WireClient second;
  second.Open(port);
  ASSERT_EQ(second.ReconnectSession(id), 0);
  EXPECT_EQ(engine.GetConnectedSessionCount(), 1);
  second.Begin(kCloseDatabaseRequest);
  second.Int32(database);
  EXPECT_EQ(second.Call(), 0);
  EXPECT_EQ(second.Simple(kGetServerNameRequest), 0);
  EXPECT_EQ(second.ReadStr(), "BRNSrvr");
  EXPECT_EQ(EventsOf(id), (std::vector<TBRNServerSessionEventType>{
                              seOpen, seConnect, seLogin, seDisconnect, seConnect}));
}

TEST_F(ServerEngineManagerTest, AttachingTheAttachedThreadAgainChangesNothing) {
  WireClient client;
  int32_t id = client.OpenAndLogin(port);
  TBRNEngineSessionManager* found = nullptr;
  ASSERT_TRUE(engine.FindSession(id, found, true, 300, 10, false));
  auto* session = static_cast<TBRNServerSessionManager*>(found);
  session->AttachThread(session->GetConnectionThread());
  engine.UnlockSessionEntry(session);
  EXPECT_EQ(EventsOf(id),
            (std::vector<TBRNServerSessionEventType>{seOpen, seConnect, seLogin}));
  EXPECT_EQ(client.Simple(kGetServerNameRequest), 0);
}

TEST_F(ServerEngineManagerTest, ADeadSessionParksItsCallbacksUntilReconnect) {
  auto hasLoginPrompt = [this](int32_t id) {
    TBRNEngineSessionManager* found = nullptr;
    EXPECT_TRUE(engine.FindSession(id, found, true, 300, 10, false));
    bool assigned = static_cast<bool>(found->Events.OnLogin);
    engine.UnlockSessionEntry(found);
    return assigned;
  };
  WireClient first;
  int32_t id = first.OpenAndLogin(port);
  ASSERT_TRUE(hasLoginPrompt(id));
  first.Close();
  ASSERT_TRUE(WaitUntil([&] { return SessionIsDead(id); }));
  EXPECT_FALSE(hasLoginPrompt(id));
  WireClient second;
  second.Open(port);
  ASSERT_EQ(second.ReconnectSession(id), 0);
  EXPECT_TRUE(hasLoginPrompt(id));
}

TEST_F(ServerEngineManagerTest, ReconnectRefusals) {
  int32_t id = DeadSession();
  struct Case {
    const char* what;
    std::function<void(FakeThread&)> change;
  };
  const Case cases[] = {
      {"another address", [](FakeThread& t) { t.address = "127.0.0.2"; }},
      {"another identity", [](FakeThread& t) { t.identity = "otherhost:1"; }},
      {"another session name", [](FakeThread& t) { t.name = "other"; }},
      {"another client thread", [](FakeThread& t) { t.threadId = 8; }},
  };
  for (const Case& c : cases) {
    FakeThread thread;
    c.change(thread);
    EXPECT_FALSE(engine.ReconnectServerSession(&thread, id)) << c.what;
    EXPECT_EQ(thread.GetSessionID(), 0) << c.what;
    EXPECT_TRUE(SessionIsDead(id)) << c.what;
  }
  FakeThread thread;
  EXPECT_FALSE(engine.ReconnectServerSession(&thread, 0));
  EXPECT_FALSE(engine.ReconnectServerSession(&thread, id + 100));

  WireClient client;
  client.Open(port);
  std::string message;
  EXPECT_EQ(client.ReconnectSession(id + 100, {}, &message), 1107);
  EXPECT_EQ(message,
            "The session ID " + std::to_string(id + 100) + " is no longer present on the server");
  EXPECT_TRUE(client.ClosedWithin(2000));
}

TEST_F(ServerEngineManagerTest, TakeoverClosesTheOldConnectionAndSurvivesItsEnd) {
  WireClient first;
  int32_t id = first.OpenAndLogin(port);
  // The first client is still connected (a half-open connection as seen
  // from a client that lost it).
  WireClient second;
  second.Open(port);
  ASSERT_EQ(second.ReconnectSession(id), 0);
  EXPECT_TRUE(first.ClosedWithin(2000));
  // The old thread has ended by now or ends later; either way the session
  // stays with the new connection.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(second.Simple(kGetServerNameRequest), 0);
  EXPECT_EQ(engine.GetConnectedSessionCount(), 1);
  EXPECT_FALSE(SessionIsDead(id));
}

TEST_F(ServerEngineManagerTest, SweepRemovesDeadSessionsBeyondTheMaximumInTableOrder) {
  engine.ServerMaxDeadSessions = 1;
  int32_t first = DeadSession();
  int32_t second = DeadSession();
  int32_t third = DeadSession();
  ASSERT_LT(first, second);
  ASSERT_LT(second, third);
  engine.SweepDeadSessions();
  EXPECT_TRUE(SessionExists(first));
  EXPECT_FALSE(SessionExists(second));
  EXPECT_FALSE(SessionExists(third));
  EXPECT_EQ(EventsOf(third), (std::vector<TBRNServerSessionEventType>{
                                 seOpen, seConnect, seLogin, seDisconnect, seLogout, seClose}));
}

TEST_F(ServerEngineManagerTest, SweepRemovesBySecondsSinceTheLastDisconnect) {
  engine.ServerDeadSessionExpiration = 300;
  struct Case {
    int64_t ageMs;
    bool kept;
  };
  const Case cases[] = {{300'000, true}, {300'999, true}, {301'000, false}};
  for (const Case& c : cases) {
    int64_t disconnectedAt = now.load();
    int32_t id = DeadSession();
    now.store(disconnectedAt + c.ageMs);
    engine.SweepDeadSessions();
    EXPECT_EQ(SessionExists(id), c.kept) << c.ageMs;
    engine.RemoveServerSession(id);
  }
}

TEST_F(ServerEngineManagerTest, ZeroExpirationKeepsDeadSessionsWhateverTheirAge) {
  engine.ServerDeadSessionExpiration = 0;
  int32_t id = DeadSession();
  now.store(now.load() + 10LL * 365 * 24 * 3600 * 1000);
  engine.SweepDeadSessions();
  EXPECT_TRUE(SessionExists(id));
}

TEST_F(ServerEngineManagerTest, DisconnectAndRemoveStatementsOfASession) {
  int32_t other = DeadSession();
  WireClient client;
  int32_t own = client.OpenAndLogin(port);

  TBRNEngineSessionManager* found = nullptr;
  ASSERT_TRUE(engine.FindSession(own, found, true, 300, 10, false));
  auto* session = static_cast<TBRNServerSessionManager*>(found);
  struct Case {
    int32_t id;
    int32_t code;
    std::string message;
  };
  const Case cases[] = {
      {own, 1108,
       "The current session ID " + std::to_string(own) + " cannot be disconnected or removed"},
      {own + 1000, 1107,
       "The session ID " + std::to_string(own + 1000) + " is no longer present on the server"},
  };
  for (const Case& c : cases) {
    for (bool remove : {false, true}) {
      try {
        if (remove) {
          session->RemoveSession(c.id);
        } else {
          session->DisconnectSession(c.id);
        }
        ADD_FAILURE() << c.id;
      } catch (const EBRNException& error) {
        EXPECT_EQ(error.ErrorCode, c.code);
        EXPECT_EQ(error.ErrorMessage, c.message);
      }
    }
  }
  // Disconnecting a dead logged-in session leaves it; removing frees it.
  EXPECT_NO_THROW(session->DisconnectSession(other));
  EXPECT_TRUE(SessionExists(other));
  EXPECT_NO_THROW(session->RemoveSession(other));
  EXPECT_FALSE(SessionExists(other));
  engine.UnlockSessionEntry(session);
  EXPECT_EQ(client.Simple(kGetServerNameRequest), 0);
}

TEST_F(ServerEngineManagerTest, RemoveDropsTheConnectionOfAnAttachedSession) {
  WireClient client;
  int32_t id = client.OpenAndLogin(port);
  EXPECT_TRUE(engine.RemoveServerSession(id));
  EXPECT_FALSE(SessionExists(id));
  EXPECT_TRUE(client.ClosedWithin(2000));
  EXPECT_EQ(EventsOf(id), (std::vector<TBRNServerSessionEventType>{
                              seOpen, seConnect, seLogin, seLogout, seDisconnect, seClose}));
}

TEST_F(ServerEngineManagerTest, StopEndsConnectionsAndFreesEverySessionQuickly) {
  std::vector<std::unique_ptr<WireClient>> clients;
  for (int i = 0; i < 5; ++i) {
    clients.push_back(std::make_unique<WireClient>());
    clients.back()->OpenAndLogin(port);
  }
  DeadSession();
  EXPECT_EQ(engine.GetUpTime(), 0);
  auto started = std::chrono::steady_clock::now();
  engine.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(engine.GetSessionCount(), 0);
  EXPECT_EQ(engine.GetUpTime(), -1);
  for (auto& client : clients) EXPECT_TRUE(client->ClosedWithin(2000));
}

TEST_F(ServerEngineManagerTest, ConnectGets507WhenAnotherProcessHoldsEverySlot) {
  int ready[2];
  int done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  std::string lockFile = folder.Path + "/BRNConfig.BRNLck";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only async-signal-safe calls: the parent has threads.
    int fd = open(lockFile.c_str(), O_RDWR);
    for (off_t byte = 0; fd >= 0 && byte < 4096; ++byte) {
      struct flock range {};
      range.l_type = F_WRLCK;
      range.l_whence = SEEK_SET;
      range.l_start = byte;
      range.l_len = 1;
      fcntl(fd, F_OFD_SETLK, &range);
    }
    char byte = fd >= 0 ? 1 : 0;
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    if (read(done[0], &byte, 1) < 0) _exit(1);
    _exit(0);
  }
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  EXPECT_EQ(held, 1);

  WireClient refused;
  refused.Open(port);
  auto reply = refused.ConnectSession();
  EXPECT_EQ(reply.Code, 507);
  EXPECT_NE(reply.Message.find("4096"), std::string::npos) << reply.Message;
  EXPECT_TRUE(refused.ClosedWithin(2000));

  char byte = 1;
  EXPECT_EQ(write(done[1], &byte, 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);

  WireClient accepted;
  accepted.Open(port);
  EXPECT_EQ(accepted.ConnectSession().Code, 0);
}

TEST_F(ServerEngineManagerTest, StartWithTheDefaultEncryptionPasswordLogsAWarning) {
  auto warnings = [this] {
    TBRNLocalSessionManager reader(&engine, false, false);
    reader.OpenSession("test:1", "reader", "log reader");
    int count = 0;
    reader.LogManager->BeginRead();
    TBRNLogEvent event;
    for (bool more = reader.LogManager->ReadFirstEvent(event); more;
         more = reader.LogManager->ReadNextEvent(event)) {
      if (event.Category == lcWarning && event.Function == kBRNOperationStartServer) ++count;
    }
    reader.LogManager->EndRead();
    reader.CloseSession();
    return count;
  };
  EXPECT_EQ(warnings(), 1);
  // A configuration of its own: the password encrypts the configuration.
  brn::testing::TempDirectory otherFolder;
  engine.Stop();
  engine.Settings->SetConfigPath(otherFolder.Path);
  engine.Settings->SetEncryptionPassword("a private secret");
  engine.Start();
  EXPECT_EQ(warnings(), 0);
  engine.Stop();
}

}  // namespace
}  // namespace brn
