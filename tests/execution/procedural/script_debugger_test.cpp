// Script handles and the script debugger: breakpoints, pausing, stepping,
// stopping, errors, variable inspection, the end of a paused run when its
// handle, database or session goes, and the session lock during a run.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "execution/handles/local_script_manager.h"
#include "execution/queries/query_test_support.h"
#include "foundation/text/string_list.h"
#include "sql/tree/expr_token.h"

namespace brn::testing {
namespace {

using namespace std::chrono_literals;
using Rows = std::vector<std::vector<std::string>>;

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
  bool AtStatement;
  bool operator==(const Pause&) const = default;
};

struct ScriptDebuggerTest : QueryTest {
  void SetUp() override {
    CreateTable("Items", {{"ID", dtInteger}});
    Session->Events.OnScriptPause = [this](int32_t line, const std::exception* error,
                                           bool atStatement) {
      const auto* engineError = dynamic_cast<const EBRNException*>(error);
      std::lock_guard<std::mutex> guard(mutex_);
      Pauses.push_back({line,
                        error == nullptr         ? 0
                        : engineError != nullptr ? engineError->ErrorCode
                                                 : -1,
                        atStatement});
      changed_.notify_all();
    };
    Session->Events.OnScriptEnd = [this](int32_t stopped, int32_t) {
      std::lock_guard<std::mutex> guard(mutex_);
      Ends.push_back(stopped);
      changed_.notify_all();
    };
  }

  TBRNLocalScriptManager* PrepareScript(const std::string& text) {
    return static_cast<TBRNLocalScriptManager*>(Shop->PrepareScript(text));
  }

  // Waits (10 s at most) until count pauses were reported.
  bool WaitForPauses(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return Pauses.size() >= count; });
  }
  bool WaitForEnds(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return Ends.size() >= count; });
  }
  Pause LastPause() {
    std::lock_guard<std::mutex> guard(mutex_);
    return Pauses.back();
  }
  std::vector<int32_t> EndFlags() {
    std::lock_guard<std::mutex> guard(mutex_);
    return Ends;
  }
  std::vector<Pause> AllPauses() {
    std::lock_guard<std::mutex> guard(mutex_);
    return Pauses;
  }

  std::vector<Pause> Pauses;
  std::vector<int32_t> Ends;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

TEST_F(ScriptDebuggerTest, BreakpointsMarkTheFirstPointOfTheirLine) {
  TBRNLocalScriptManager* script = PrepareScript(kFourInserts);
  struct Case {
    const char* Call;
    std::function<bool()> Run;
    bool Expected;
  };
  const std::vector<Case> cases = {
      {"set 3", [&] { return script->SetBreakpoint(3); }, true},
      {"set 7", [&] { return script->SetBreakpoint(7); }, true},
      {"set 5 (empty line)", [&] { return script->SetBreakpoint(5); }, false},
      {"set 2 (declaration only)", [&] { return script->SetBreakpoint(2); }, false},
      {"has 3", [&] { return script->HasBreakpoint(3); }, true},
      {"has 4", [&] { return script->HasBreakpoint(4); }, false},
      {"remove 5", [&] { return script->RemoveBreakpoint(5); }, false},
      {"remove 7", [&] { return script->RemoveBreakpoint(7); }, true},
      {"has 7 after remove", [&] { return script->HasBreakpoint(7); }, false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.Run(), c.Expected) << c.Call;
  TBRNLocalScriptManager::FreeScript(script);
}

TEST_F(ScriptDebuggerTest, ABreakpointOnAnIfLineMarksItsCondition) {
  TBRNLocalScriptManager* script = PrepareScript(
      "SCRIPT ()\n"
      "BEGIN DECLARE n INTEGER DEFAULT 5;\n"
      "  IF n > 3 THEN\n"
      "    EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (1)';\n"
      "  END IF;\n"
      "END");
  EXPECT_TRUE(script->SetBreakpoint(3));
  EXPECT_TRUE(script->SetBreakpoint(4));
  TBRNExprToken* statement = script->Script->Root->Argument(5)->Argument(1)->Argument(0);
  TBRNExprToken* condition = statement->Argument(0)->Argument(0);
  TBRNExprToken* branch = statement->Argument(1)->Argument(0)->Argument(1)->Argument(0);
  EXPECT_FALSE(statement->Breakpoint);
  EXPECT_TRUE(condition->Breakpoint);
  EXPECT_TRUE(branch->Breakpoint);
  TBRNLocalScriptManager::FreeScript(script);
}

TEST_F(ScriptDebuggerTest, PausesAtBreakpointsStepsAndResumesToTheEnd) {
  TBRNLocalScriptManager* script = PrepareScript(kFourInserts);
  script->SetBreakpoint(3);
  script->SetBreakpoint(7);
  script->DebugScript();
  ASSERT_TRUE(WaitForPauses(1));
  EXPECT_EQ(LastPause(), (Pause{3, 0, true}));
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), (Rows{{"0"}}))
      << "the session may read while the run is paused";

  TBRNVariableData data;
  script->GetVariableData("N", data);
  EXPECT_EQ(data.Kind, 0);
  EXPECT_EQ(data.Value, "5");
  EXPECT_EQ(data.TypeName, "INTEGER");
  EXPECT_EQ(data.Line, 2);
  script->GetVariableData("Missing", data);
  EXPECT_EQ(data.Kind, -1);
  TBRNStringsList names;
  script->GetVariableNames(names);
  ASSERT_EQ(names.GetCount(), 1);
  EXPECT_EQ(names.GetItem(0), "n");

  script->StepOver();
  ASSERT_TRUE(WaitForPauses(2));
  EXPECT_EQ(LastPause(), (Pause{4, 0, true}));
  script->Resume();
  ASSERT_TRUE(WaitForPauses(3));
  EXPECT_EQ(LastPause(), (Pause{7, 0, true}));
  script->Resume();
  ASSERT_TRUE(WaitForEnds(1));
  EXPECT_EQ(EndFlags(), std::vector<int32_t>{0});
  EXPECT_EQ(AllPauses().size(), 3u);
  EXPECT_EQ(Query("SELECT ID FROM Items ORDER BY ID"), (Rows{{"1"}, {"2"}, {"3"}, {"4"}}));

  // A run that ended leaves the debugger inactive.
  script->GetVariableData("n", data);
  EXPECT_EQ(data.Kind, -1);
  EXPECT_EQ(Outcome([&] { script->Resume(); }).first, kBRNDebuggerErrorCode);
  TBRNLocalScriptManager::FreeScript(script);
}

TEST_F(ScriptDebuggerTest, VariableDataShowsEachKindOfDeclaredItem) {
  Insert("Items", {{int64_t(7)}});
  // The CR LF inside the statement text counts as a line end: IF is on 8.
  TBRNLocalScriptManager* script = PrepareScript(
      "SCRIPT ()\n"
      "BEGIN DECLARE n INTEGER DEFAULT 5; DECLARE a INTEGER ARRAY[3]; DECLARE s STATEMENT; "
      "DECLARE c SENSITIVE CURSOR FOR q; DECLARE r CURSOR FOR u;\n"
      "  SET a[1] = 1;\n"
      "  SET a[3] = 3;\n"
      "  PREPARE q FROM 'SELECT ID FROM Items';\n"
      "  PREPARE s FROM 'INSERT INTO Items (ID)\r\nVALUES (2)';\n"
      "  IF n > 3 THEN\n"
      "    OPEN c;\n"
      "  END IF;\n"
      "  EXECUTE s;\n"
      "END");
  ASSERT_TRUE(script->SetBreakpoint(8));
  script->DebugScript();
  ASSERT_TRUE(WaitForPauses(1));
  EXPECT_EQ(LastPause(), (Pause{8, 0, true})) << "the IF condition pauses";

  TBRNStringsList names;
  script->GetVariableNames(names);
  EXPECT_EQ(names.GetItems(), (std::vector<std::string>{"n", "a", "s", "c", "q", "r", "u"}));

  struct Expected {
    const char* Name;
    int32_t Kind;
    std::string TypeName;
    int32_t Count;
    std::string Value;
  };
  auto check = [&](const std::vector<Expected>& cases) {
    for (const Expected& e : cases) {
      TBRNVariableData data;
      script->GetVariableData(e.Name, data);
      EXPECT_EQ(data.Kind, e.Kind) << e.Name;
      EXPECT_EQ(data.TypeName, e.TypeName) << e.Name;
      EXPECT_EQ(data.Count, e.Count) << e.Name;
      EXPECT_EQ(data.Value, e.Value) << e.Name;
      EXPECT_EQ(data.Line, 2) << e.Name;
    }
  };
  check({
      {"n", 0, "INTEGER", 0, "5"},
      {"a", 1, "INTEGER", 3, "[1, NULL, 3]"},
      {"s", 4, "", 0, "INSERT INTO Items (ID) VALUES (2)"},
      {"c", 3, "", 0, "Not Open"},
      {"q", 4, "", 0, "SELECT ID FROM Items"},
      {"r", 3, "", 0, "Not Prepared"},
      {"u", 4, "", 0, "Not Prepared"},
  });

  script->StepOver();
  ASSERT_TRUE(WaitForPauses(2));
  EXPECT_EQ(LastPause(), (Pause{9, 0, true}));
  script->StepOver();
  ASSERT_TRUE(WaitForPauses(3));
  EXPECT_EQ(LastPause(), (Pause{11, 0, true}));
  check({{"c", 3, "", 1, "Sensitive=TRUE, BOF=TRUE, EOF=FALSE"}});

  script->Resume();
  ASSERT_TRUE(WaitForEnds(1));
  EXPECT_EQ(EndFlags(), std::vector<int32_t>{0});
  EXPECT_EQ(Query("SELECT ID FROM Items ORDER BY ID"), (Rows{{"2"}, {"7"}}));
  TBRNLocalScriptManager::FreeScript(script);
}

TEST_F(ScriptDebuggerTest, StopEndsAPausedRunAndANewRunStartsAfresh) {
  TBRNLocalScriptManager* script = PrepareScript(kFourInserts);
  script->SetBreakpoint(6);
  script->DebugScript();
  ASSERT_TRUE(WaitForPauses(1));
  script->Stop();
  EXPECT_EQ(EndFlags(), std::vector<int32_t>{1}) << "Stop returns after the end";
  EXPECT_EQ(Query("SELECT ID FROM Items ORDER BY ID"), (Rows{{"1"}, {"2"}}));

  Query("DELETE FROM Items");
  script->RemoveBreakpoint(6);
  script->DebugScript();
  ASSERT_TRUE(WaitForEnds(2));
  EXPECT_EQ(EndFlags(), (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), (Rows{{"4"}}));
  TBRNLocalScriptManager::FreeScript(script);
}

TEST_F(ScriptDebuggerTest, AnErrorPausesWithBreakOnErrorAndIsReportedOnceWithout) {
  const char* text =
      "SCRIPT ()\n"
      "BEGIN\n"
      "  EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (1)';\n"
      "  EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (1)';\n"
      "  EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (2)';\n"
      "END";
  for (bool breakOnError : {true, false}) {
    SCOPED_TRACE(breakOnError ? "BreakOnError" : "no BreakOnError");
    Query("DELETE FROM Items");
    Pauses.clear();
    Ends.clear();
    TBRNLocalScriptManager* script = PrepareScript(text);
    script->BreakOnError = breakOnError;
    script->DebugScript();
    ASSERT_TRUE(WaitForPauses(1));
    const Pause pause = LastPause();
    EXPECT_NE(pause.Code, 0);
    EXPECT_EQ(pause.AtStatement, breakOnError);
    if (breakOnError) {
      EXPECT_EQ(pause.Line, 4);
      script->Resume();
    }
    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_EQ(EndFlags(), std::vector<int32_t>{1});
    EXPECT_EQ(AllPauses().size(), 1u);
    EXPECT_EQ(Query("SELECT ID FROM Items"), (Rows{{"1"}}));
    TBRNLocalScriptManager::FreeScript(script);
  }
}

TEST_F(ScriptDebuggerTest, WithoutAPauseCallbackARunGoesToItsEnd) {
  Session->Events.OnScriptPause = nullptr;
  TBRNLocalScriptManager* script = PrepareScript(kFourInserts);
  script->SetBreakpoint(3);
  script->DebugScript();
  ASSERT_TRUE(WaitForEnds(1));
  EXPECT_EQ(EndFlags(), std::vector<int32_t>{0});
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), (Rows{{"4"}}));
  TBRNLocalScriptManager::FreeScript(script);
}

TEST_F(ScriptDebuggerTest, ExecuteScriptIgnoresBreakpoints) {
  TBRNLocalScriptManager* script = PrepareScript(kFourInserts);
  script->SetBreakpoint(3);
  EXPECT_EQ(script->ExecuteScript(), nullptr);
  EXPECT_TRUE(AllPauses().empty());
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), (Rows{{"4"}}));
  TBRNLocalScriptManager::FreeScript(script);
}

TEST_F(ScriptDebuggerTest, DebuggerOperationsOfAnInactiveHandleRaise701) {
  TBRNLocalScriptManager* script = PrepareScript(kFourInserts);
  TBRNStringsList names;
  const std::vector<std::pair<const char*, std::function<void()>>> operations = {
      {"Pause", [&] { script->Pause(); }},
      {"StepOver", [&] { script->StepOver(); }},
      {"StepInto", [&] { script->StepInto(); }},
      {"Resume", [&] { script->Resume(); }},
      {"Stop", [&] { script->Stop(); }},
      {"GetVariableNames", [&] { script->GetVariableNames(names); }},
  };
  for (const auto& [name, operation] : operations) {
    auto outcome = Outcome(operation);
    EXPECT_EQ(outcome.first, kBRNDebuggerErrorCode) << name;
    EXPECT_EQ(outcome.second, "Debugger error (Debugger not active)") << name;
  }
  TBRNVariableData data;
  data.Kind = 0;
  script->GetVariableData("n", data);
  EXPECT_EQ(data.Kind, -1);
  TBRNLocalScriptManager::FreeScript(script);
}

TEST_F(ScriptDebuggerTest, FreeingOrClosingWhilePausedEndsTheRun) {
  const std::vector<std::pair<const char*, std::function<void(TBRNLocalScriptManager*&)>>> closers =
      {
          {"free the handle",
           [](TBRNLocalScriptManager*& script) { TBRNLocalScriptManager::FreeScript(script); }},
          {"close the database",
           [this](TBRNLocalScriptManager*&) {
             TBRNDatabaseManager* shop = Shop;
             Shop = nullptr;
             Session->CloseDatabase(shop);
           }},
          {"close the session",
           [this](TBRNLocalScriptManager*&) {
             Shop = nullptr;
             Session->CloseSession();
           }},
      };
  for (const auto& [name, close] : closers) {
    SCOPED_TRACE(name);
    if (Shop == nullptr)
      Shop = static_cast<TBRNLocalDatabaseManager*>(Session->OpenDatabase("Shop", kBRNLockShared));
    Pauses.clear();
    Ends.clear();
    TBRNLocalScriptManager* script = PrepareScript(kFourInserts);
    script->SetBreakpoint(4);
    script->DebugScript();
    ASSERT_TRUE(WaitForPauses(1));
    const auto started = std::chrono::steady_clock::now();
    close(script);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(EndFlags(), std::vector<int32_t>{1});
  }
}

TEST_F(ScriptDebuggerTest, TheSessionWaitsForARunningScriptAndGets506) {
  TBRNLocalStatementManager* statement = Prepare("INSERT INTO Items (ID) VALUES (99)");
  std::mutex mutex;
  std::condition_variable changed;
  bool running = false;
  bool tried = false;
  // The starting status text comes from the script's thread while the run
  // holds the session.
  Session->Events.OnStatusMessage = [&](const std::string& text) {
    if (text != "Executing the script...") return;
    std::unique_lock<std::mutex> lock(mutex);
    running = true;
    changed.notify_all();
    changed.wait_for(lock, 10s, [&] { return tried; });
  };
  TBRNLocalScriptManager* script = PrepareScript(kFourInserts);
  script->DebugScript();
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return running; }));
  }
  auto outcome = Outcome([&] { statement->ExecuteStatement(); });
  {
    std::lock_guard<std::mutex> lock(mutex);
    tried = true;
    changed.notify_all();
  }
  EXPECT_EQ(outcome.first, 506);
  EXPECT_EQ(outcome.second.rfind("Cannot lock the session manager (ID: ", 0), 0u) << outcome.second;
  ASSERT_TRUE(WaitForEnds(1));
  EXPECT_EQ(EndFlags(), std::vector<int32_t>{0});
  Session->Events.OnStatusMessage = nullptr;
  EXPECT_EQ(Query("SELECT ID FROM Items ORDER BY ID"), (Rows{{"1"}, {"2"}, {"3"}, {"4"}}));
  statement->ExecuteStatement();  // the session is free again
  Free(statement);
  TBRNLocalScriptManager::FreeScript(script);
}

}  // namespace
}  // namespace brn::testing
