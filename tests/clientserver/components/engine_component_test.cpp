#include "clientserver/components/engine_component.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/components/component_error.h"
#include "clientserver/components/param_conversion.h"
#include "clientserver/components/session_component.h"
#include "clientserver/server/wire_client.h"
#include "foundation/file_test_support.h"
#include "foundation/values/param_value.h"

namespace brn {
namespace {

using test::WireClient;
using test::WireConnectFields;

constexpr int32_t kUserDefinedRequest = 10000;

// Raises when the callable does not raise EDatabaseError with message.
void ExpectDatabaseError(const std::function<void()>& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(std::string(error.what()), message);
  }
}

// Every test starts without engine components (the instance is process-wide)
// and leaves none behind; the engine's files go to a fresh folder.
class EngineComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(TBRNEngine::GetEngineCount(), 0); }
  void TearDown() override { EXPECT_EQ(TBRNEngineInstance::Get(), nullptr); }

  // A server engine on an ephemeral port of 127.0.0.1.
  static void MakeServer(TBRNEngine& engine, const std::string& folder) {
    engine.SetConfigPath(folder);
    engine.SetEngineType(etServer);
    engine.SetServerAddress("127.0.0.1");
    engine.SetServerPort(0);
  }

  static uint16_t ListeningPort(TBRNEngine& engine) {
    return engine.GetInstance().GetServerEngineManager()->GetListeningPort();
  }

  brn::testing::TempDirectory folder;
};

TEST_F(EngineComponentTest, ComponentsShareOneInstance) {
  {
    TBRNEngine first(nullptr);
    auto second = std::make_unique<TBRNEngine>(nullptr);
    EXPECT_EQ(TBRNEngine::GetEngineCount(), 2);
    first.SetConfigPath(folder.Path);
    EXPECT_EQ(second->GetConfigPath(), folder.Path);
    second->SetServerName("Other");
    EXPECT_EQ(first.GetServerName(), "Other");
    EXPECT_EQ(first.GetEngineVersion(), "2.14 Build 5");

    second->SetActive(true);
    EXPECT_TRUE(first.GetActive());
    // The instance outlives the component that started it.
    second.reset();
    EXPECT_TRUE(first.GetActive());
    first.SetActive(false);
    EXPECT_FALSE(first.GetActive());
  }
  EXPECT_EQ(TBRNEngine::GetEngineCount(), 0);
}

// On a started engine each setter raises for a new value and stays silent for
// the current one.
TEST_F(EngineComponentTest, SettersRefuseNewValuesWhileStarted) {
  TBRNEngine engine(nullptr);
  engine.SetConfigPath(folder.Path);
  struct Case {
    const char* name;
    std::function<void(TBRNEngine&)> setNew;
    std::function<void(TBRNEngine&)> setCurrent;
  };
  const std::vector<Case> cases = {
      {"Signature", [](TBRNEngine& e) { e.SetSignature("other"); },
       [](TBRNEngine& e) { e.SetSignature(e.GetSignature()); }},
      {"ConfigPath", [](TBRNEngine& e) { e.SetConfigPath("/elsewhere"); },
       [](TBRNEngine& e) { e.SetConfigPath(e.GetConfigPath()); }},
      {"ConfigName ignores case", [](TBRNEngine& e) { e.SetConfigName("Other"); },
       [](TBRNEngine& e) { e.SetConfigName("brnconfig"); }},
      {"TableExtension", [](TBRNEngine& e) { e.SetTableExtension(".Tab"); },
       [](TBRNEngine& e) { e.SetTableExtension(".brntbl"); }},
      {"MaxLogFileSize", [](TBRNEngine& e) { e.SetMaxLogFileSize(2000000); },
       [](TBRNEngine& e) { e.SetMaxLogFileSize(1048576); }},
      {"LogCategories", [](TBRNEngine& e) { e.SetLogCategories(1); },
       [](TBRNEngine& e) { e.SetLogCategories(e.GetLogCategories()); }},
      {"LargeFileSupport", [](TBRNEngine& e) { e.SetLargeFileSupport(true); },
       [](TBRNEngine& e) { e.SetLargeFileSupport(false); }},
      {"ServerName is exact", [](TBRNEngine& e) { e.SetServerName("brnsrvr"); },
       [](TBRNEngine& e) { e.SetServerName("BRNSrvr"); }},
      {"ServerPort", [](TBRNEngine& e) { e.SetServerPort(1); },
       [](TBRNEngine& e) { e.SetServerPort(12010); }},
      // The equality test comes before the clamp: 30 is not the current 180.
      {"ServerSessionTimeout", [](TBRNEngine& e) { e.SetServerSessionTimeout(30); },
       [](TBRNEngine& e) { e.SetServerSessionTimeout(180); }},
      {"ServerRunJobs", [](TBRNEngine& e) { e.SetServerRunJobs(false); },
       [](TBRNEngine& e) { e.SetServerRunJobs(true); }},
      {"EngineType", [](TBRNEngine& e) { e.SetEngineType(etServer); },
       [](TBRNEngine& e) { e.SetEngineType(etClient); }},
      {"UseLocalSessionEngineSettings",
       [](TBRNEngine& e) { e.SetUseLocalSessionEngineSettings(true); },
       [](TBRNEngine& e) { e.SetUseLocalSessionEngineSettings(false); }},
  };
  engine.SetActive(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectDatabaseError([&] { c.setNew(engine); }, kBRNEngineStartedMessage);
    EXPECT_NO_THROW(c.setCurrent(engine));
  }
  // The address lists are refused even unchanged; StoreActive and the
  // handlers are not.
  TStringList same;
  same.Assign(engine.GetServerAuthorizedAddresses());
  ExpectDatabaseError([&] { engine.SetServerAuthorizedAddresses(same); }, kBRNEngineStartedMessage);
  ExpectDatabaseError([&] { engine.SetServerBlockedAddresses(TStringList()); },
                      kBRNEngineStartedMessage);
  EXPECT_NO_THROW(engine.SetStoreActive(false));
  EXPECT_NO_THROW(engine.SetAfterStop([](TComponent*) {}));
  // 30 would be clamped to the current 60, yet it is a different value.
  engine.SetActive(false);
  engine.SetServerSessionTimeout(60);
  engine.SetActive(true);
  ExpectDatabaseError([&] { engine.SetServerSessionTimeout(30); }, kBRNEngineStartedMessage);
  engine.SetActive(false);
}

TEST_F(EngineComponentTest, StoppedSettersClampAndNormalise) {
  TBRNEngine engine(nullptr);
  struct Case {
    const char* name;
    std::function<void(TBRNEngine&)> set;
    std::function<std::string(TBRNEngine&)> get;
    std::string expected;
  };
  auto number = [](int32_t value) { return std::to_string(value); };
  const std::vector<Case> cases = {
      {"MaxLogFileSize 1000", [](TBRNEngine& e) { e.SetMaxLogFileSize(1000); },
       [&](TBRNEngine& e) { return number(e.GetMaxLogFileSize()); }, "262144"},
      {"ServerDeadSessionExpiration 0", [](TBRNEngine& e) { e.SetServerDeadSessionExpiration(0); },
       [&](TBRNEngine& e) { return number(e.GetServerDeadSessionExpiration()); }, "10"},
      {"ServerThreadCacheSize -5", [](TBRNEngine& e) { e.SetServerThreadCacheSize(-5); },
       [&](TBRNEngine& e) { return number(e.GetServerThreadCacheSize()); }, "1"},
      {"ServerSessionTimeout 30", [](TBRNEngine& e) { e.SetServerSessionTimeout(30); },
       [&](TBRNEngine& e) { return number(e.GetServerSessionTimeout()); }, "60"},
      {"ServerDeadSessionInterval 1", [](TBRNEngine& e) { e.SetServerDeadSessionInterval(1); },
       [&](TBRNEngine& e) { return number(e.GetServerDeadSessionInterval()); }, "30"},
      {"ServerMaxDeadSessions 0", [](TBRNEngine& e) { e.SetServerMaxDeadSessions(0); },
       [&](TBRNEngine& e) { return number(e.GetServerMaxDeadSessions()); }, "1"},
      {"ServerPort is not clamped", [](TBRNEngine& e) { e.SetServerPort(0); },
       [&](TBRNEngine& e) { return number(e.GetServerPort()); }, "0"},
      {"ConfigExtension X", [](TBRNEngine& e) { e.SetConfigExtension("X"); },
       [](TBRNEngine& e) { return e.GetConfigExtension(); }, ".X"},
      {"LockExtension .Y", [](TBRNEngine& e) { e.SetLockExtension(".Y"); },
       [](TBRNEngine& e) { return e.GetLockExtension(); }, ".Y"},
      // An empty extension would let files of different kinds collide.
      {"TableBlobExtension empty", [](TBRNEngine& e) { e.SetTableBlobExtension(""); },
       [](TBRNEngine& e) { return e.GetTableBlobExtension(); }, ".BRNBlb"},
      {"TableIndexExtension empty", [](TBRNEngine& e) { e.SetTableIndexExtension(""); },
       [](TBRNEngine& e) { return e.GetTableIndexExtension(); }, ".BRNIdx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.set(engine);
    EXPECT_EQ(c.get(engine), c.expected);
  }
  // Not started: the server queries refuse; started as a client they answer
  // for no server.
  ExpectDatabaseError([&] { engine.GetServerUpTime(); }, kBRNEngineNotStartedMessage);
  ExpectDatabaseError([&] { engine.RemoveServerSession(1); }, kBRNEngineNotStartedMessage);
  engine.SetConfigPath(folder.Path);
  engine.SetActive(true);
  EXPECT_EQ(engine.GetServerUpTime(), -1);
  EXPECT_EQ(engine.GetServerConnectedSessionCount(), 0);
  EXPECT_FALSE(engine.DisconnectServerSession(1));
  EXPECT_FALSE(engine.RemoveServerSession(1));
  engine.SetActive(false);
}

TEST_F(EngineComponentTest, AFailedStartCallsTheStopEventsAndRaisesTheEngineError) {
  // A port that is taken makes the listener fail.
  int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(blocker, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(blocker, 1), 0);
  socklen_t length = sizeof(address);
  ::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);

  TBRNEngine engine(nullptr);
  MakeServer(engine, folder.Path);
  engine.SetServerPort(ntohs(address.sin_port));
  std::vector<std::string> calls;
  engine.SetBeforeStart([&](TComponent* sender) {
    EXPECT_EQ(sender, &engine);
    calls.push_back("BeforeStart");
  });
  engine.SetAfterStart([&](TComponent*) { calls.push_back("AfterStart"); });
  engine.SetBeforeStop([&](TComponent*) { calls.push_back("BeforeStop"); });
  engine.SetAfterStop([&](TComponent*) { calls.push_back("AfterStop"); });
  try {
    engine.SetActive(true);
    ADD_FAILURE() << "the start did not fail";
  } catch (const EBRNError& error) {
    EXPECT_EQ(error.ErrorCode, 505);
  }
  ::close(blocker);
  EXPECT_EQ(calls, (std::vector<std::string>{"BeforeStart", "BeforeStop", "AfterStop"}));
  EXPECT_FALSE(engine.GetActive());
}

// A session component that records its disconnects.
class RecordingSession : public TBRNSession {
 public:
  RecordingSession(TComponent* owner, std::vector<std::string>& journal)
      : TBRNSession(owner), journal_(journal) {}
  void SetConnected(bool value) override {
    if (!value) journal_.push_back(GetSessionName());
    TBRNSession::SetConnected(value);
  }

 private:
  std::vector<std::string>& journal_;
};

TEST_F(EngineComponentTest, SessionRegistryAndNumbers) {
  std::vector<std::string> disconnected;
  auto* engine = new TBRNEngine(nullptr);
  engine->SetConfigPath(folder.Path);
  auto* first = new RecordingSession(nullptr, disconnected);
  first->SetSessionName("Default");
  auto* second = new RecordingSession(nullptr, disconnected);
  second->SetSessionName("Reports  ");
  EXPECT_EQ(engine->FindSession("default"), first);
  EXPECT_EQ(engine->FindSession(""), first);
  EXPECT_EQ(engine->FindSession("REPORTS"), second);
  EXPECT_EQ(engine->FindSession("none"), nullptr);
  ExpectDatabaseError([&] { engine->GetSession("none"); }, "Session name 'none' is not valid");
  ExpectDatabaseError([&] { second->SetSessionName("default"); },
                      "Session name 'default' already exists");

  EXPECT_EQ(engine->AllocateSessionNumber(), 0);
  EXPECT_EQ(engine->AllocateSessionNumber(), 1);
  EXPECT_EQ(engine->AllocateSessionNumber(), 2);
  engine->ReleaseSessionNumber(1);
  engine->ReleaseSessionNumber(-1);
  EXPECT_EQ(engine->AllocateSessionNumber(), 1);

  // Stop disconnects every session, the last registered first.
  engine->SetActive(true);
  engine->SetActive(false);
  EXPECT_EQ(disconnected, (std::vector<std::string>{"Reports  ", "Default"}));

  // A session freed on its own leaves the registry; the last engine
  // component frees the rest.
  delete second;
  EXPECT_EQ(engine->GetInstance().GetSessionCount(), 1);
  delete engine;
  EXPECT_EQ(TBRNEngineInstance::Get(), nullptr);
}

TEST_F(EngineComponentTest, LoadingDefersActiveUntilLoaded) {
  TBRNEngine engine(nullptr);
  engine.SetConfigPath(folder.Path);
  engine.BeginLoad();
  engine.SetActive(true);
  EXPECT_FALSE(engine.GetActive());
  engine.EndLoad();
  EXPECT_TRUE(engine.GetActive());
  engine.SetActive(false);

  // In design mode a failing start goes to the application's handler.
  TComponent form(nullptr);
  form.SetDesigning(true);
  auto* designed = new TBRNEngine(&form);
  // The first engine component placed in a designer starts from the
  // defaults.
  EXPECT_EQ(engine.GetConfigPath(), "");
  // A configuration folder below a plain file cannot be made.
  { std::ofstream(folder / "plain") << "x"; }
  MakeServer(*designed, folder / "plain/sub");
  std::string handled;
  SetApplicationExceptionHandler([&](const std::exception& error) { handled = error.what(); });
  designed->BeginLoad();
  designed->SetActive(true);
  EXPECT_NO_THROW(designed->EndLoad());
  SetApplicationExceptionHandler(nullptr);
  EXPECT_FALSE(handled.empty());
  EXPECT_FALSE(designed->GetActive());
}

// An application's engine component made a server: its login, session-event
// and procedure handlers serve real clients.
TEST_F(EngineComponentTest, ServerHandlersServeClients) {
  TBRNEngine engine(nullptr);
  MakeServer(engine, folder.Path);
  std::mutex lock;
  std::vector<TBRNServerSessionEventType> events;
  std::vector<void*> seenObjects;
  int tag = 0;
  engine.SetOnServerSessionEvent([&](TComponent* sender, TBRNServerSessionEventType type,
                                     const TBRNServerSession& session, void*& userObject) {
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(sender, &engine);
    EXPECT_EQ(session.SessionName, "wire");
    EXPECT_EQ(session.ProcessName, "testhost:4242");
    events.push_back(type);
    if (type == seOpen) userObject = &tag;
    seenObjects.push_back(userObject);
  });
  std::string refusedUser = "Refused";
  int64_t seenRelease = 0;
  engine.SetOnServerSessionLogin([&](TComponent*, const std::string& userName, const std::string&,
                                     const std::string&, int32_t, int64_t releaseNumber, int32_t,
                                     bool& allowLogin) {
    std::lock_guard<std::mutex> guard(lock);
    seenRelease = releaseNumber;
    if (userName == refusedUser) allowLogin = false;
  });
  engine.SetOnServerProcedure([](TComponent*, TBRNServerProcedure& procedure) {
    TParam* value = procedure.Params->FindParam("Value");
    value->SetValue(TVariant::FromInteger(value->GetValue().AsInteger() * 3));
  });
  engine.SetActive(true);
  const uint16_t port = ListeningPort(engine);
  EXPECT_GE(engine.GetServerUpTime(), 0);
  {
    WireClient refused;
    refused.Open(port);
    ASSERT_EQ(refused.ConnectSession().Code, 0);
    EXPECT_EQ(refused.Login(refusedUser, "x"), 501);
  }
  // The refused session ends on its connection's thread.
  auto closed = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (!events.empty() && events.back() == seClose) break;
      if (std::chrono::steady_clock::now() > closed) {
        ADD_FAILURE() << "the refused session did not close";
        break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  {
    std::lock_guard<std::mutex> guard(lock);
    events.clear();
    seenObjects.clear();
  }
  {
    WireClient client;
    client.OpenAndLogin(port);
    EXPECT_EQ(engine.GetServerConnectedSessionCount(), 1);
    client.Begin(kUserDefinedRequest);
    client.Str("Triple");
    TBRNParamValues params;
    auto* value = new TBRNParamValue();
    value->SetName("Value");
    value->SetDirection(pmInputOutput);
    value->SetDataType(dtInteger);
    value->SetAsInteger(14);
    params.Add(value);
    params.SaveToStream(client.RequestStream());
    ASSERT_EQ(client.Call(), 0);
    params.GetItem(0)->SetAsInteger(0);
    params.LoadOutputParams(client.ReplyStream());
    EXPECT_EQ(params.GetItem(0)->GetAsInteger(), 42);
    client.Begin(4);  // Logout
    client.Send();
    EXPECT_TRUE(client.ClosedWithin(5000));
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (events.size() >= 6 || std::chrono::steady_clock::now() > end) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  engine.SetActive(false);
  EXPECT_EQ(seenRelease, 21400);
  EXPECT_EQ(events, (std::vector<TBRNServerSessionEventType>{seOpen, seConnect, seLogin, seLogout,
                                                             seDisconnect, seClose}));
  ASSERT_FALSE(seenObjects.empty());
  for (void* object : seenObjects) EXPECT_EQ(object, &tag);
}

// Session-event handlers run on many connection threads at once: each call
// sees its own session, and the object it leaves stays with that session.
TEST_F(EngineComponentTest, ConcurrentSessionEventsSeeTheirOwnSession) {
  constexpr int kClients = 32;
  TBRNEngine engine(nullptr);
  MakeServer(engine, folder.Path);
  std::mutex lock;
  std::map<int32_t, std::string> namesById;
  std::atomic<int> mismatches{0};
  engine.SetOnServerSessionEvent([&](TComponent*, TBRNServerSessionEventType type,
                                     const TBRNServerSession& session, void*& userObject) {
    if (type == seOpen) {
      userObject = new std::string(session.SessionName);
      std::lock_guard<std::mutex> guard(lock);
      namesById[session.SessionID] = session.SessionName;
    }
    auto* name = static_cast<std::string*>(userObject);
    if (name == nullptr || *name != session.SessionName || session.ClientAddress != "127.0.0.1")
      ++mismatches;
    if (type == seClose) delete name;
  });
  engine.SetActive(true);
  const uint16_t port = ListeningPort(engine);
  std::vector<std::thread> clients;
  std::vector<int32_t> ids(kClients, 0);
  // Every client stays logged in until all are: session IDs are then
  // distinct.
  std::atomic<int> loggedIn{0};
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      WireConnectFields fields;
      fields.SessionName = "client" + std::to_string(i);
      fields.ThreadID = 100 + i;
      WireClient client;
      client.Transport().ReceiveTimeout = 60;
      try {
        ids[size_t(i)] = client.OpenAndLogin(port, fields);
      } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
      }
      ++loggedIn;
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (loggedIn.load() < kClients && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      client.Begin(4);
      client.Send();
      client.ClosedWithin(10000);
    });
  }
  for (std::thread& client : clients) client.join();
  engine.SetActive(false);
  EXPECT_EQ(mismatches.load(), 0);
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(namesById.size(), size_t(kClients));
  for (int i = 0; i < kClients; ++i)
    EXPECT_EQ(namesById[ids[size_t(i)]], "client" + std::to_string(i));
}

}  // namespace
}  // namespace brn
