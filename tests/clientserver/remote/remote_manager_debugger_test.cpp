// The script debugger through a remote session: breakpoints, the pause and
// end callbacks, variable records, stepping, and the session around a run.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "clientserver/remote/remote_managers.h"
#include "clientserver/remote/remote_test_support.h"
#include "clientserver/server/server_session.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "storage/cursors/cursor.h"
#include "tools/fault_proxy.h"

namespace brn::test {
namespace {

// Lines 3, 4, 6 and 7 hold statements; 2 only a declaration, 5 nothing.
const char* const kFourInserts =
    "SCRIPT ()\n"
    "BEGIN DECLARE n INTEGER DEFAULT 5;\n"
    "  EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (1)';\n"
    "  EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (2)';\n"
    "\n"
    "  EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (3)';\n"
    "  EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (4)';\n"
    "END";

struct Pause {
  int32_t Line;
  int32_t Code;  // 0 without an error
  bool operator==(const Pause&) const = default;
};

class RemoteDebuggerTest : public RemoteTest {
 protected:
  void SetUp() override {
    RemoteTest::SetUp();
    Database = OpenTestDatabase();
    Exec(Database, "CREATE TABLE Items (ID INTEGER)");
    Session->Events.OnScriptPause = [this](int32_t line, const std::exception* error, bool) {
      const auto* engineError = dynamic_cast<const EBRNException*>(error);
      Pauses.push_back({line, engineError != nullptr ? engineError->ErrorCode : 0});
    };
    Session->Events.OnScriptEnd = [this](int32_t stopped, int32_t) { Ends.push_back(stopped); };
  }

  std::unique_ptr<TBRNRemoteScriptManager> PrepareScript(const std::string& text) {
    auto* script = dynamic_cast<TBRNRemoteScriptManager*>(Database->PrepareScript(text));
    if (script == nullptr) throw std::logic_error("not a remote script");
    script->ReportDebugger = true;
    return std::unique_ptr<TBRNRemoteScriptManager>(script);
  }

  // Callbacks of code that arrived during requests of requestCode.
  int32_t Callbacks(int32_t requestCode, int32_t code) {
    int32_t count = 0;
    for (const TBRNRemoteSessionTrace& trace : Traces())
      if (trace.RequestCode == requestCode && trace.ReplyCode == code) ++count;
    return count;
  }

  // The rows of table; the cursor goes with its statement.
  int32_t Count(const std::string& table = "Items") {
    std::unique_ptr<TBRNStatementManager> statement(
        Database->PrepareStatement("SELECT * FROM " + table));
    return statement->ExecuteStatement()->GetRowCount();
  }

  TBRNDatabaseManager* Database = nullptr;
  std::vector<Pause> Pauses;
  std::vector<int32_t> Ends;
};

TEST_F(RemoteDebuggerTest, BreakpointsPauseStepResumeAndStop) {
  auto script = PrepareScript(kFourInserts);
  EXPECT_TRUE(script->SetBreakpoint(3));
  EXPECT_TRUE(script->SetBreakpoint(7));
  EXPECT_FALSE(script->SetBreakpoint(5));
  EXPECT_TRUE(script->HasBreakpoint(7));
  EXPECT_FALSE(script->HasBreakpoint(4));

  script->DebugScript();
  EXPECT_EQ(Pauses, (std::vector<Pause>{{3, 0}}));
  EXPECT_EQ(Callbacks(363, 9004), 1);

  TBRNStringsList names;
  script->GetVariableNames(names);
  EXPECT_EQ(names.GetItems(), (std::vector<std::string>{"n"}));
  TBRNVariableData data;
  script->GetVariableData("N", data);
  EXPECT_EQ(data.Name, "N");
  EXPECT_EQ(data.Kind, 0);
  EXPECT_EQ(data.Line, 2);
  EXPECT_EQ(data.Column, 15);
  EXPECT_EQ(data.TypeName, "INTEGER");
  EXPECT_EQ(data.Count, 0);
  EXPECT_EQ(data.Value, "5");
  script->GetVariableData("Missing", data);
  EXPECT_EQ(data.Kind, -1);

  // Paused, the script leaves the session free for other requests.
  EXPECT_EQ(Count(), 0);

  script->StepOver();
  EXPECT_EQ(Pauses.back(), (Pause{4, 0}));
  script->Resume();
  EXPECT_EQ(Pauses.back(), (Pause{7, 0}));
  EXPECT_EQ(Count(), 3);
  EXPECT_TRUE(Ends.empty());

  script->Stop();
  EXPECT_EQ(Ends, (std::vector<int32_t>{1}));
  EXPECT_EQ(Callbacks(372, 9005), 1);
  EXPECT_EQ(Pauses.size(), 3u);
  EXPECT_EQ(Count(), 3);
  try {
    script->Resume();
    ADD_FAILURE() << "Resume after the end";
  } catch (const EBRNException& error) {
    EXPECT_EQ(error.ErrorCode, 701);
  }
  // The handle accepts a new run, which without breakpoints completes.
  script->RemoveBreakpoint(3);
  script->RemoveBreakpoint(7);
  script->DebugScript();
  EXPECT_EQ(Ends, (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(Count(), 7);
}


// A client that does not ask for the debugger's callbacks could not go on
// from a pause it never hears of: its run ignores breakpoints, and the
// request returns at the end.
TEST_F(RemoteDebuggerTest, WithoutTheCallbacksARunGoesToItsEnd) {
  auto script = PrepareScript(kFourInserts);
  script->ReportDebugger = false;
  ASSERT_TRUE(script->SetBreakpoint(3));
  script->DebugScript();
  EXPECT_TRUE(Pauses.empty());
  EXPECT_TRUE(Ends.empty());
  EXPECT_EQ(Count(), 4);
  EXPECT_THROW(script->Resume(), EBRNException) << "the run has ended";
}

// While the script runs (not paused) the session serves only the debugger:
// requests made from the client's status handler during the run get 506,
// the breakpoint and variable requests are answered.
TEST_F(RemoteDebuggerTest, WhileTheScriptRunsOnlyTheDebuggerIsServed) {
  auto script = PrepareScript(kFourInserts);
  script->ReportStatus = true;
  std::vector<std::string> seen;
  Session->Events.OnStatusMessage = [&](const std::string&) {
    if (!seen.empty()) return;
    try {
      Database->OpenTable("", "Items", false, false);
      seen.push_back("opened");
    } catch (const EBRNException& error) {
      seen.push_back(std::to_string(error.ErrorCode));
    }
    TBRNStringsList names;
    script->GetVariableNames(names);
    seen.push_back(names.GetCount() == 1 ? names.GetItems()[0] : "?");
    seen.push_back(script->SetBreakpoint(6) ? "set" : "not set");
  };
  script->DebugScript();
  EXPECT_EQ(seen, (std::vector<std::string>{"506", "n", "set"}));
  EXPECT_EQ(Pauses, (std::vector<Pause>{{6, 0}})) << "the breakpoint set during the run holds";
  EXPECT_EQ(Count(), 2);
  script->Stop();
}

// An error ends the run; with the debugger option the run first pauses at
// the failing statement with the error.
TEST_F(RemoteDebuggerTest, ErrorsPauseOnlyWithTheDebuggerOption) {
  Exec(Database, "CREATE TABLE Keyed (ID INTEGER PRIMARY KEY)");
  const char* const failing =
      "SCRIPT ()\n"
      "BEGIN\n"
      "  EXECUTE IMMEDIATE 'INSERT INTO Keyed (ID) VALUES (1)';\n"
      "  EXECUTE IMMEDIATE 'INSERT INTO Keyed (ID) VALUES (1)';\n"
      "  EXECUTE IMMEDIATE 'INSERT INTO Keyed (ID) VALUES (2)';\n"
      "END";
  for (bool breakOnError : {true, false}) {
    SCOPED_TRACE(breakOnError ? "with the option" : "without");
    Exec(Database, "DELETE FROM Keyed");
    Pauses.clear();
    Ends.clear();
    auto script = PrepareScript(failing);
    script->DebuggerOption = breakOnError;
    script->DebugScript();
    ASSERT_EQ(Pauses.size(), 1u);
    EXPECT_NE(Pauses[0].Code, 0);
    if (breakOnError) {
      EXPECT_EQ(Pauses[0].Line, 4);
      EXPECT_TRUE(Ends.empty()) << "paused at the error";
      script->Resume();
    }
    EXPECT_EQ(Ends, (std::vector<int32_t>{1}));
    EXPECT_EQ(Count("Keyed"), 1);
  }
}

// A second client, Other, whose connection runs through a fault proxy, with
// a script paused at line 3 in its session on the server.
class VanishedDebuggerTest : public RemoteDebuggerTest {
 protected:
  void SetUp() override {
    RemoteDebuggerTest::SetUp();
    Proxy = std::make_unique<test::FaultProxy>(Port, 4949);
    Other = NewSession(false, false);
    Other->RemotePort = Proxy->Port();
    Other->OpenSession("proxied:1", "proxied", "debugging through the fault proxy");
    Other->Login(test::kRemoteAdministrator, test::kRemoteAdministratorPassword);
    Other->Events.OnScriptPause = [this](int32_t line, const std::exception*, bool) {
      OtherPauses.push_back(line);
    };
    OtherDatabase = Other->OpenDatabase("RemoteTest", kBRNLockShared);
    Script.reset(static_cast<TBRNRemoteScriptManager*>(OtherDatabase->PrepareScript(kFourInserts)));
    Script->ReportDebugger = true;
    ASSERT_TRUE(Script->SetBreakpoint(3));
    ASSERT_TRUE(Script->SetBreakpoint(7));
    Script->DebugScript();
    ASSERT_EQ(OtherPauses, (std::vector<int32_t>{3}));
    OtherId = Other->GetSessionID();
  }

  void TearDown() override {
    // The proxies and the session of a vanished client go quietly.
    Script.reset();
    if (Other) {
      Other->Logout();
      Other.reset();
    }
    Proxy.reset();
    RemoteDebuggerTest::TearDown();
  }

  // The server's session of Other: 1 attached, 0 dead, -1 gone.
  int32_t OtherState() {
    TBRNEngineSessionManager* found = nullptr;
    if (!Server->FindSession(OtherId, found, false, 1, 0, false)) return -1;
    auto* session = dynamic_cast<TBRNServerSessionManager*>(found);
    return session != nullptr && session->IsConnected() ? 1 : 0;
  }

  // Polls (5 s at most) until OtherState is state.
  bool WaitForOther(int32_t state) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
         std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(20)))
      if (OtherState() == state) return true;
    return OtherState() == state;
  }

  std::unique_ptr<test::FaultProxy> Proxy;
  std::unique_ptr<TBRNRemoteSessionManager> Other;
  TBRNDatabaseManager* OtherDatabase = nullptr;
  std::unique_ptr<TBRNRemoteScriptManager> Script;
  std::vector<int32_t> OtherPauses;
  int32_t OtherId = 0;
};

// A cut connection leaves the run paused; the client reconnects and goes on
// debugging it.
TEST_F(VanishedDebuggerTest, APausedRunWaitsForTheReconnect) {
  Proxy->ResetAll();
  ASSERT_TRUE(WaitForOther(0)) << "the server noticed the cut";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Count(), 0) << "still paused";

  Script->Resume();
  EXPECT_EQ(OtherState(), 1);
  EXPECT_EQ(OtherPauses, (std::vector<int32_t>{3, 7}));
  EXPECT_EQ(Count(), 3);
  Script->Stop();
  EXPECT_EQ(Count(), 3);
}

enum class TEnder { Sweep, Remove, StopServer };

class VanishedDebuggerEndTest : public VanishedDebuggerTest,
                                public ::testing::WithParamInterface<TEnder> {};

// The client vanishes for good: the run stays paused in the dead session
// until the session is freed, which stops the run (nothing after line 3
// runs) and waits for its thread, all within 5 s.
TEST_P(VanishedDebuggerEndTest, FreeingTheDeadSessionStopsThePausedRun) {
  Proxy->Stop();
  ASSERT_TRUE(WaitForOther(0)) << "the server noticed the cut";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Count(), 0) << "still paused";

  const auto start = std::chrono::steady_clock::now();
  switch (GetParam()) {
    case TEnder::Sweep:
      Server->ServerMaxDeadSessions = 0;
      Server->SweepDeadSessions();
      break;
    case TEnder::Remove: {
      TBRNDatabaseManager* configuration = Session->OpenDatabase("Configuration", kBRNLockShared);
      Exec(configuration, "REMOVE SERVER SESSION " + std::to_string(OtherId));
      Session->CloseDatabase(configuration);
      break;
    }
    case TEnder::StopServer:
      Session->CloseDatabase(Database);
      Session->Logout();
      Session.reset();
      StopServer();
      break;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  if (GetParam() == TEnder::StopServer) return;
  EXPECT_EQ(OtherState(), -1);
  EXPECT_EQ(Count(), 0) << "the run was stopped, not resumed";
}

INSTANTIATE_TEST_SUITE_P(Enders, VanishedDebuggerEndTest,
                         ::testing::Values(TEnder::Sweep, TEnder::Remove, TEnder::StopServer),
                         [](const ::testing::TestParamInfo<TEnder>& info) {
                           switch (info.param) {
                             case TEnder::Sweep: return std::string("Sweep");
                             case TEnder::Remove: return std::string("Remove");
                             case TEnder::StopServer: return std::string("StopServer");
                           }
                           return std::string();
                         });

}  // namespace
}  // namespace brn::test
