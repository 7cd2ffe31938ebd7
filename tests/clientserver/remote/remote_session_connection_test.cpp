#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/remote/remote_test_support.h"
#include "clientserver/server/server_session.h"
#include "foundation/text/exception.h"
#include "foundation/values/param_value.h"

namespace brn {
namespace {

constexpr int32_t kUserRequest = 10000;

// The server's side of the user-defined request drives the cases: "sleep N"
// takes N ms before it answers, "cut" closes the connection it was received
// on before it answers (the first time only); every call is counted.
class RemoteSessionConnectionTest : public test::RemoteTest {
 public:
  void SetUp() override {
    test::RemoteTest::SetUp();
    InstallProcedure();
  }

  void InstallProcedure() {
    Server->OnServerProcedure = [this](TBRNServerEngineManagerProcedure& procedure) {
      const int32_t call = ++calls;
      if (procedure.Name.rfind("sleep ", 0) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(procedure.Name.substr(6))));
      } else if (procedure.Name == "cut" && call == 1) {
        TBRNEngineSessionManager* found = nullptr;
        if (Server->FindSession(cutSessionID, found, false, 1, 0, false)) {
          auto* session = dynamic_cast<TBRNServerSessionManager*>(found);
          if (session != nullptr && session->GetConnectionThread() != nullptr)
            session->GetConnectionThread()->CloseConnection();
        }
      }
    };
  }

  // Sends the user-defined request name on session and waits for its reply.
  static void Call(TBRNRemoteSessionManager& session, const std::string& name) {
    TBRNRemoteCall call(session, kUserRequest);
    call.Request().WriteString(name);
    TBRNParamValues none;
    none.SaveToStream(call.Request());
    call.Execute();
  }

  // The codes of the requests session traced, in order.
  std::vector<int32_t> RequestCodes() {
    std::vector<int32_t> codes;
    for (const TBRNRemoteSessionTrace& trace : Traces())
      if (trace.ReplyCode == -1) codes.push_back(trace.RequestCode);
    return codes;
  }

  // Restarts the server on the same port: a server that lost every session.
  void RestartServer() {
    StopServer();
    StartServer();
    InstallProcedure();
  }

  std::atomic<int32_t> calls{0};
  std::atomic<int32_t> timeouts{0};
  std::atomic<int32_t> reconnectQuestions{0};
  int32_t cutSessionID = 0;
};

// What a case expects of the operation it makes fail.
struct ConnectionCase {
  const char* Name;
  // Prepares the session and makes one operation; its exception is
  // compared with the expected code (0: none).
  std::function<void(RemoteSessionConnectionTest&, TBRNRemoteSessionManager&)> Act;
  int32_t ErrorCode;
  const char* MessagePart;
  // Checks after the operation.
  std::function<void(RemoteSessionConnectionTest&, TBRNRemoteSessionManager&)> Then;
};

TEST_F(RemoteSessionConnectionTest, ConnectionHandlingCases) {
  using Test = RemoteSessionConnectionTest;
  using Session = TBRNRemoteSessionManager;
  const std::vector<ConnectionCase> cases = {
      {"time-out without handler: 1101, then a reconnect with the same ID and a ping first",
       [](Test&, Session& s) {
         s.SetRemoteTimeout(1);
         Call(s, "sleep 1600");
       },
       kBRNConnectionLostCode, "Timed out while receiving stream",
       [](Test& t, Session& s) {
         EXPECT_FALSE(s.IsConnected());
         const int32_t id = s.GetSessionID();
         std::this_thread::sleep_for(std::chrono::milliseconds(800));
         t.ClearTraces();
         Call(s, "echo");
         EXPECT_EQ(s.GetSessionID(), id);
         EXPECT_EQ(t.RequestCodes(), (std::vector<int32_t>{5, 800, kUserRequest}));
       }},
      {"a time-out handler that stays connected keeps waiting",
       [](Test& t, Session& s) {
         s.SetRemoteTimeout(1);
         s.OnRemoteTimeout = [&t](Session&, bool& stay) {
           ++t.timeouts;
           stay = true;
         };
         Call(s, "sleep 2500");
       },
       0, "",
       [](Test& t, Session& s) {
         EXPECT_GE(t.timeouts.load(), 2);
         EXPECT_TRUE(s.IsConnected());
         EXPECT_EQ(t.CountRequests(5), 0);
       }},
      {"a cut during a pending request: one reconnect, the request sent again",
       [](Test& t, Session& s) {
         t.cutSessionID = s.GetSessionID();
         Call(s, "cut");
       },
       0, "",
       [](Test& t, Session& s) {
         EXPECT_TRUE(s.IsConnected());
         EXPECT_EQ(t.CountRequests(5), 1);
         EXPECT_EQ(t.CountRequests(kUserRequest), 2);
         // The server ran it once: the second send got the reply it kept.
         EXPECT_EQ(t.calls.load(), 1);
       }},
      {"a connection closed while idle: the next request reconnects, pings, and runs",
       [](Test& t, Session& s) {
         t.Server->DisconnectServerSession(s.GetSessionID());
         std::this_thread::sleep_for(std::chrono::milliseconds(100));
         Call(s, "echo");
       },
       0, "",
       [](Test& t, Session&) {
         EXPECT_EQ(t.RequestCodes(), (std::vector<int32_t>{5, 800, kUserRequest}));
         EXPECT_EQ(t.calls.load(), 1);
       }},
      {"a failing reconnect: 1100",
       [](Test& t, Session& s) {
         t.StopServer();
         Call(s, "echo");
       },
       kBRNCannotConnectCode, "cannot be established", nullptr},
      {"a reconnect handler saying no: 1101, and with StopAsking silent from then on",
       [](Test& t, Session& s) {
         s.OnRemoteReconnect = [&t](Session&, bool& proceed, bool& stopAsking) {
           ++t.reconnectQuestions;
           proceed = false;
           stopAsking = true;
         };
         t.Server->DisconnectServerSession(s.GetSessionID());
         Call(s, "echo");
       },
       kBRNConnectionLostCode, "The reconnection was cancelled",
       [](Test& t, Session& s) {
         EXPECT_THROW(Call(s, "echo"), EBRNAbortException);
         EXPECT_THROW(Call(s, "echo"), EBRNAbortException);
         EXPECT_EQ(t.reconnectQuestions.load(), 1);
       }},
      {"a server that lost the session: 1107",
       [](Test& t, Session& s) {
         t.RestartServer();
         Call(s, "echo");
       },
       1107, "is no longer present on the server", nullptr},
      {"Logout never raises, even without a server",
       [](Test& t, Session& s) {
         t.StopServer();
         s.Logout();
       },
       0, "",
       [](Test&, Session& s) {
         EXPECT_FALSE(s.IsConnected());
         s.CloseSession();
       }},
  };
  for (const ConnectionCase& c : cases) {
    SCOPED_TRACE(c.Name);
    if (!Server) StartServer();
    InstallProcedure();
    calls = 0;
    timeouts = 0;
    reconnectQuestions = 0;
    std::unique_ptr<TBRNRemoteSessionManager> session = NewSession();
    RecordTraces(*session);
    ClearTraces();
    int32_t code = 0;
    std::string message;
    try {
      c.Act(*this, *session);
    } catch (const EBRNException& e) {
      code = e.ErrorCode;
      message = e.ErrorMessage;
    }
    EXPECT_EQ(code, c.ErrorCode) << message;
    EXPECT_NE(message.find(c.MessagePart), std::string::npos) << message;
    if (c.Then) c.Then(*this, *session);
    session->Logout();
    session.reset();
  }
}

TEST_F(RemoteSessionConnectionTest, LogoutSendsItsCodeAndClosesWithoutAReply) {
  ClearTraces();
  Session->Logout();
  EXPECT_FALSE(Session->IsConnected());
  EXPECT_FALSE(Session->IsLoggedIn());
  EXPECT_EQ(RequestCodes(), (std::vector<int32_t>{4}));
  // A second logout has nothing to do.
  Session->Logout();
  EXPECT_EQ(RequestCodes().size(), 1u);
}

TEST(RemoteSessionLockTries, FollowTheReplyTimeOut) {
  EXPECT_EQ(TBRNRemoteSessionManager::ComputeLockTries(180), 19);
  EXPECT_EQ(TBRNRemoteSessionManager::ComputeLockTries(60), 6);
  EXPECT_EQ(TBRNRemoteSessionManager::ComputeLockTries(10), 1);
}

TEST_F(RemoteSessionConnectionTest, LockTriesComeFromTheTimeOutWhenTheSessionOpens) {
  std::unique_ptr<TBRNRemoteSessionManager> session = NewSession(false, false);
  session->SetRemoteTimeout(180);
  session->OpenSession("testhost:1", "locktries", "");
  EXPECT_EQ(session->GetLockTries(), 19);
}

TEST_F(RemoteSessionConnectionTest, PingIsSkippedWhileARequestHoldsTheSession) {
  std::unique_ptr<TBRNRemoteSessionManager> session = NewSession(false);
  RecordTraces(*session);
  session->SetRemotePingInterval(1);
  session->SetRemotePing(true);
  session->Login(test::kRemoteAdministrator, test::kRemoteAdministratorPassword);
  ClearTraces();
  Call(*session, "sleep 2500");
  // Nothing between the request and its reply: the ping found the session busy.
  std::vector<TBRNRemoteSessionTrace> traces = Traces();
  ASSERT_GE(traces.size(), 2u);
  EXPECT_EQ(traces[0].RequestCode, kUserRequest);
  EXPECT_EQ(traces[1].ReplyCode, 0);
  // The next tick pings.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (CountRequests(800) == 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_GE(CountRequests(800), 1);
  session->Logout();
}

}  // namespace
}  // namespace brn
