#include "clientserver/server/session_requests.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/server/server_engine_manager.h"
#include "clientserver/server/server_session.h"
#include "clientserver/server/wire_client.h"
#include "foundation/file_test_support.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "foundation/types/date_time.h"
#include "foundation/values/param_value.h"
#include "metadata/config/users_roles.h"
#include "sessions/engine_settings.h"
#include "sessions/local/local_session_manager.h"

namespace brn {
namespace {

using test::WireClient;
using test::WireConnectFields;
using test::WireError;

constexpr const char* kInvalidRequest = "An invalid or unknown request was sent to the server";

// A server engine listening on an ephemeral port of 127.0.0.1 with its
// configuration in a fresh folder; timers off (tests drive them).
class SessionRequestsTest : public ::testing::Test {
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
    engine.Start();
    port = engine.GetListeningPort();
    ASSERT_NE(port, 0);
  }

  void TearDown() override { engine.Stop(); }

  std::vector<TBRNServerSessionEventType> Events() {
    std::lock_guard<std::mutex> guard(eventsLock);
    return events;
  }

  // Events arrive from connection threads; wait until count have come.
  std::vector<TBRNServerSessionEventType> WaitForEvents(size_t count) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Events().size() < count && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Events();
  }

  brn::testing::TempDirectory folder;
  TBRNServerEngineManager engine;
  uint16_t port = 0;
  std::mutex eventsLock;
  std::vector<TBRNServerSessionEventType> events;
};

TEST_F(SessionRequestsTest, SessionFromConnectToLogout) {
  WireClient client;
  client.Open(port);
  test::WireConnectReply reply = client.ConnectSession();
  ASSERT_EQ(reply.Code, 0) << reply.Message;
  EXPECT_EQ(reply.ServerVersion, 21400);
  EXPECT_EQ(reply.ServerBuild, 5);
  EXPECT_EQ(reply.ServerEdition, "BRNMZTRAQEL");
  EXPECT_GT(reply.SessionID, 0);

  ASSERT_EQ(client.Login(test::kWireAdministrator, test::kWireAdministratorPassword), 0);
  EXPECT_GT(client.OpenDatabase("Configuration"), 0);

  ASSERT_EQ(client.Simple(kBRNGetServerNameCode), 0);
  EXPECT_EQ(client.ReadStr(), engine.ServerName);
  ASSERT_EQ(client.Simple(kBRNGetServerDescriptionCode), 0);
  EXPECT_EQ(client.ReadStr(), engine.ServerDescription);

  // Both clocks are now, as day numbers; they differ by the offset from UTC.
  ASSERT_EQ(client.Simple(kBRNGetServerDateTimeCode), 0);
  const double local = client.ReadDouble();
  ASSERT_EQ(client.Simple(kBRNGetServerUTCDateTimeCode), 0);
  const double utc = client.ReadDouble();
  const double expectedOffset =
      (double(CurrentTimestamp(false)) - double(CurrentTimestamp(true))) / (24.0 * 60 * 60 * 1000);
  EXPECT_NEAR(utc, TimestampMsToDateTime(CurrentTimestamp(true)), 5.0 / 86400);
  EXPECT_NEAR(local - utc, expectedOffset, 5.0 / 86400);

  // A ping gets no reply; the connection stays usable.
  client.Begin(800);
  client.Send();
  EXPECT_FALSE(client.MessageWithin(300));
  ASSERT_EQ(client.Simple(kBRNGetServerNameCode), 0);

  // Logout: no reply, the server closes the connection.
  client.Begin(4);
  client.Send();
  EXPECT_TRUE(client.ClosedWithin(5000));
  EXPECT_EQ(WaitForEvents(6), (std::vector<TBRNServerSessionEventType>{
                                  seOpen, seConnect, seLogin, seLogout, seDisconnect, seClose}));
}

// The wire form of a login field that the length check sees.
TEST_F(SessionRequestsTest, LoginFieldsLongerThanFortyCharactersAreNotAllowed) {
  struct Case {
    std::string user;
    std::string password;
    bool lengthAllowed;
  };
  const Case cases[] = {
      {std::string(40, 'u'), "", true},
      {std::string(41, 'u'), "", false},
      {"Administrator", std::string(40, 'p'), true},
      {"Administrator", std::string(41, 'p'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.user.size()) + "/" + std::to_string(c.password.size()));
    WireClient client;
    client.Open(port);
    ASSERT_EQ(client.ConnectSession().Code, 0);
    ASSERT_EQ(client.Login(c.user, c.password), 501);
    WireError error = client.ReadError();
    if (c.lengthAllowed)
      EXPECT_NE(error.Message, "Login failed (Login not allowed)");
    else
      EXPECT_EQ(error.Message, "Login failed (Login not allowed)");
  }
}

TEST_F(SessionRequestsTest, HostLoginCallbackSeesTheClientAndMayRefuse) {
  std::mutex seenLock;
  std::string seenUser, seenProcess;
  int32_t seenThread = 0;
  int64_t seenRelease = 0;
  int32_t seenBuild = 0;
  bool refuse = true;
  engine.Stop();
  engine.OnServerSessionLogin = [&](const std::string& user, const std::string&,
                                    const std::string& process, int32_t thread, int64_t release,
                                    int32_t build, bool& allow) {
    std::lock_guard<std::mutex> guard(seenLock);
    seenUser = user;
    seenProcess = process;
    seenThread = thread;
    seenRelease = release;
    seenBuild = build;
    if (refuse) allow = false;
  };
  engine.Start();
  port = engine.GetListeningPort();

  WireClient client;
  client.Open(port);
  WireConnectFields fields;
  fields.Identity = "desk7:991";
  fields.ThreadID = 4321;
  ASSERT_EQ(client.ConnectSession(fields).Code, 0);
  ASSERT_EQ(client.Login(test::kWireAdministrator, test::kWireAdministratorPassword), 501);
  EXPECT_EQ(client.ReadError().Message, "Login failed (Login not allowed)");
  {
    std::lock_guard<std::mutex> guard(seenLock);
    EXPECT_EQ(seenUser, test::kWireAdministrator);
    EXPECT_EQ(seenProcess, "desk7:991");
    EXPECT_EQ(seenThread, 4321);
    EXPECT_EQ(seenRelease, 21400);
    EXPECT_EQ(seenBuild, 5);
    refuse = false;
  }
  EXPECT_EQ(client.Login(test::kWireAdministrator, test::kWireAdministratorPassword), 0);
}

TEST_F(SessionRequestsTest, WrongPasswordPromptsAndServesRequestsWhileItWaits) {
  WireClient client;
  client.Open(port);
  ASSERT_EQ(client.ConnectSession().Code, 0);
  client.Begin(3);
  client.Str(test::kWireAdministrator);
  client.Str("wrong");
  ASSERT_EQ(client.Call(), 9000);

  // A request sent while the prompt waits is served first.
  ASSERT_EQ(client.Simple(kBRNGetServerNameCode), 0);
  EXPECT_EQ(client.ReadStr(), engine.ServerName);

  // The answer supplies the right password.
  client.Begin(9998);
  client.Bool(true);
  client.Str(test::kWireAdministrator);
  client.Str(test::kWireAdministratorPassword);
  client.Bool(true);
  ASSERT_EQ(client.Call(), 0);
  EXPECT_GT(client.OpenDatabase("Configuration"), 0);
}

TEST_F(SessionRequestsTest, UnknownHandlesAndUnknownNames) {
  WireClient client;
  client.OpenAndLogin(port);
  struct Case {
    int32_t code;
    int32_t handle;
  };
  for (const Case& c : {Case{34, 77}, Case{39, 1}, Case{405, 3}}) {
    SCOPED_TRACE(c.code);
    client.Begin(c.code);
    client.Int32(c.handle);
    ASSERT_EQ(client.Call(), 1103);
    WireError error = client.ReadError();
    EXPECT_EQ(error.Message, kInvalidRequest);
    EXPECT_EQ(error.Line, 0);
    EXPECT_EQ(error.Column, 0);
  }
  // An engine error keeps its own code.
  client.Begin(kBRNOpenDatabaseCode);
  client.Str("NoSuchDatabase");
  client.Byte(0);
  EXPECT_NE(client.Call(), 0);
  EXPECT_NE(client.ReplyCode(), 1103);
  // A database handle closes, and the database opens again.
  const int32_t handle = client.OpenDatabase("Configuration");
  client.Begin(kBRNCloseDatabaseCode);
  client.Int32(handle);
  EXPECT_EQ(client.Call(), 0);
  EXPECT_GT(client.OpenDatabase("Configuration"), 0);
}

// The client's opens of one database are counted on its handle: each close
// gives back one, the handle stops working with the last, and further
// closes never reach a hold the session has taken for itself.
TEST_F(SessionRequestsTest, DatabaseOpensCountPerHandle) {
  WireClient client;
  const int32_t sessionId = client.OpenAndLogin(port);
  TBRNDatabaseManager* ownHold = nullptr;
  auto withSession = [&](auto work) {
    TBRNEngineSessionManager* found = nullptr;
    ASSERT_TRUE(engine.FindSession(sessionId, found, true, 500, 10, false));
    work(*static_cast<TBRNServerSessionManager*>(found));
    engine.UnlockSessionEntry(found);
  };
  withSession([&](TBRNServerSessionManager& session) {
    ownHold = session.OpenDatabase("Configuration", 0);
  });
  auto closeDatabase = [&](int32_t handle) {
    client.Begin(kBRNCloseDatabaseCode);
    client.Int32(handle);
    return client.Call();
  };
  // Before the client opened it, the session's own hold is not the client's.
  EXPECT_EQ(closeDatabase(ownHold->Handle), 1103);
  const int32_t first = client.OpenDatabase("Configuration");
  const int32_t second = client.OpenDatabase("Configuration");
  ASSERT_EQ(first, second);
  ASSERT_EQ(first, ownHold->Handle);
  EXPECT_EQ(closeDatabase(first), 0);
  EXPECT_EQ(closeDatabase(first), 0);
  EXPECT_EQ(closeDatabase(first), 1103);
  withSession([&](TBRNServerSessionManager&) { EXPECT_TRUE(ownHold->Opened); });
  // Opened again, the handle is the client's once more.
  EXPECT_EQ(client.OpenDatabase("Configuration"), first);
  EXPECT_EQ(closeDatabase(first), 0);
  withSession([&](TBRNServerSessionManager& session) {
    TBRNDatabaseManager* hold = ownHold;
    session.CloseDatabase(hold);
  });
}

// The list of an output, an input/output and an input parameter.
void AddParams(TBRNParamValues& params, const char* outText, const char* inOutText) {
  struct Shape {
    const char* name;
    int32_t direction;
    const char* text;
  };
  for (const Shape& shape : {Shape{"In", pmInput, "1"}, Shape{"Out", pmOutput, outText},
                             Shape{"InOut", pmInputOutput, inOutText}}) {
    auto* param = new TBRNParamValue();
    param->SetName(shape.name);
    param->SetDirection(shape.direction);
    param->SetDataType(dtInteger);
    if (shape.text != nullptr) param->SetAsString(shape.text);
    params.Add(param);
  }
}

std::string OutputBytes(const TBRNParamValues& params) {
  TBRNMemoryStream stream;
  params.SaveOutputParams(stream);
  return std::string(reinterpret_cast<const char*>(stream.GetMemory()), size_t(stream.GetSize()));
}

TEST_F(SessionRequestsTest, UserDefinedRequestEchoesOrGoesToTheHost) {
  TBRNParamValues sent;
  AddParams(sent, "42", "7");
  auto call = [&](WireClient& client) {
    client.Begin(kBRNUserDefinedRequestCode);
    client.Str("Double");
    sent.SaveToStream(client.RequestStream());
    return client.Call();
  };
  {
    WireClient client;
    client.OpenAndLogin(port);
    ASSERT_EQ(call(client), 0);
    EXPECT_EQ(client.ReadRaw(client.ReplyRemaining()), OutputBytes(sent));
  }
  engine.Stop();
  std::string seenName;
  engine.OnServerProcedure = [&seenName](TBRNServerEngineManagerProcedure& procedure) {
    seenName = procedure.Name;
    TBRNParamValue* inOut = procedure.Params.FindParam("InOut");
    inOut->SetAsInteger(inOut->GetAsInteger() * 2);
  };
  engine.Start();
  port = engine.GetListeningPort();
  WireClient client;
  client.OpenAndLogin(port);
  ASSERT_EQ(call(client), 0);
  TBRNParamValues expected;
  AddParams(expected, "42", "14");
  EXPECT_EQ(client.ReadRaw(client.ReplyRemaining()), OutputBytes(expected));
  EXPECT_EQ(seenName, "Double");

  // A parameter list that claims more than the request holds is refused.
  client.Begin(kBRNUserDefinedRequestCode);
  client.Str("Double");
  client.Int32(1000);
  EXPECT_NE(client.Call(), 0);
}

TEST_F(SessionRequestsTest, ResetStatisticsReachesOtherSessionsOfAdministrators) {
  {
    TBRNLocalSessionManager local(&engine, false, false);
    local.OpenSession("host", "Setup", "");
    local.Login(test::kWireAdministrator, test::kWireAdministratorPassword);
    TBRNUser* user = local.BeginCreateUser("Clerk");
    user->SetPassword("counter");
    local.EndCreateUser(user);
    local.Logout();
    local.CloseSession();
  }
  WireClient admin;
  const int32_t adminId = admin.OpenAndLogin(port);
  WireClient clerk;
  clerk.Open(port);
  const int32_t clerkId = clerk.ConnectSession().SessionID;
  ASSERT_EQ(clerk.Login("Clerk", "counter"), 0);

  // Runs the statement's session call as a request of session id does:
  // under that session's lock. Returns the error code, 0 for success.
  auto resetAs = [&](int32_t id, int32_t target) {
    TBRNEngineSessionManager* found = nullptr;
    EXPECT_TRUE(engine.FindSession(id, found, true, 300, 10, false));
    int32_t code = 0;
    try {
      static_cast<TBRNServerSessionManager*>(found)->ResetSessionStatistics(target);
    } catch (const EBRNException& error) {
      code = error.ErrorCode;
    }
    engine.UnlockSessionEntry(found);
    return code;
  };
  struct Case {
    int32_t caller;
    int32_t target;
    int32_t code;
  };
  const Case cases[] = {
      {adminId, adminId, 0},   {adminId, clerkId, 0},          {clerkId, clerkId, 0},
      {clerkId, adminId, 502}, {adminId, clerkId + 100, 1107},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.caller) + " resets " + std::to_string(c.target));
    EXPECT_EQ(resetAs(c.caller, c.target), c.code);
  }
  // Both sessions still serve their clients.
  EXPECT_EQ(admin.Simple(kBRNGetServerNameCode), 0);
  EXPECT_EQ(clerk.Simple(kBRNGetServerNameCode), 0);
}

}  // namespace
}  // namespace brn
