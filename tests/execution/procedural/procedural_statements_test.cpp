// Procedural statements run inside stored functions and procedures over a
// real database: control flow, cursor and dynamic statements, parameter
// transfer, routine calls (recursion, nesting bound, owner's rights) and
// the errors they report with their positions.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/queries/query_test_support.h"
#include "metadata/catalog/catalog_expr.h"
#include "metadata/catalog/routines.h"
#include "sessions/ddl/routine_manager.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn::testing {
namespace {

class ProceduralTest : public ::testing::Test, public QueryWorkspace {
 protected:
  void SetUp() override {
    Run("CREATE TABLE N (n INTEGER NOT NULL PRIMARY KEY, word VARCHAR(10))");
    Run("INSERT INTO N VALUES (1, 'one'), (2, 'two'), (3, 'three'), (4, 'four'), (5, 'five'), "
        "(6, 'six')");
  }

  void Run(const std::string& sql) {
    TBRNLocalStatementManager* statement = Prepare(sql);
    try {
      statement->ExecuteStatement();
    } catch (...) {
      Free(statement);
      throw;
    }
    Free(statement);
  }

  // The single value of a query as text ("NULL" for NULL).
  std::string Value(const std::string& sql) { return Query(sql).at(0).at(0); }

  // Creates function f with the body and answers SELECT f() (the engine
  // error's code and message when it raised, code 0 otherwise).
  struct Answer {
    int32_t Code = 0;
    std::string Text;
  };
  Answer CallFunction(const std::string& returns, const std::string& body) {
    Run("CREATE FUNCTION f() RETURNS " + returns + " BEGIN " + body + " END");
    StoredText = RoutineText("f");
    Answer answer;
    try {
      answer.Text = Value("SELECT f()");
    } catch (const EBRNException& error) {
      answer.Code = error.ErrorCode;
      answer.Text = error.ErrorMessage;
    }
    Run("DROP FUNCTION f");
    return answer;
  }

  // The text the routine is stored and compiled from (error positions
  // count in it).
  std::string RoutineText(const std::string& name) {
    TBRNSchemaObjectManager* manager = Shop->OpenRoutineManager("", name);
    const std::string text =
        dynamic_cast<TBRNRoutineManager&>(*manager).GetRoutine()->Definition->SQL;
    manager->Close(false, true);
    return text;
  }
  // "at line 1 and column <n>" of part's first occurrence in StoredText.
  std::string At(const std::string& part) const {
    return "at line 1 and column " + std::to_string(StoredText.find(part) + 1);
  }
  std::string StoredText;

  TBRNLocalExprEvaluator& Evaluator() {
    return dynamic_cast<TBRNLocalExprEvaluator&>(*Session->Evaluator);
  }

  // Runs procedure name's body directly in context (whose database fields
  // are set to Shop here).
  void RunProcedure(const std::string& name, TBRNEvaluatorContext& context) {
    TBRNSchemaObjectManager* manager = Shop->OpenRoutineManager("", name);
    struct Close {
      TBRNSchemaObjectManager* Manager;
      ~Close() { Manager->Close(false, true); }
    } close{manager};
    TBRNRoutine* routine = dynamic_cast<TBRNRoutineManager&>(*manager).GetRoutine();
    context.SetDatabaseManager(Shop);
    TBRNEvaluationScope scope(Evaluator(), context);
    Evaluator().ExecuteRoutine(routine->Definition->Root);
  }
};

struct FunctionCase {
  const char* name;
  std::string body;
  std::string expected;
};

// A cursor over N in key order, opened; the case's moves follow.
const std::string kCursor =
    "DECLARE v INTEGER; DECLARE c CURSOR FOR s; PREPARE s FROM 'SELECT n FROM N ORDER BY n'; "
    "OPEN c; ";

TEST_F(ProceduralTest, ControlFlowAndCursorMoves) {
  const FunctionCase cases[] = {
      {"FetchWithoutOrientationReadsTheCurrentRow", kCursor + "FETCH FROM c INTO v; RETURN v;",
       "1"},
      {"FetchNext", kCursor + "FETCH NEXT FROM c INTO v; FETCH NEXT FROM c INTO v; RETURN v;", "3"},
      {"FetchPrior", kCursor + "FETCH LAST FROM c INTO v; FETCH PRIOR FROM c INTO v; RETURN v;",
       "5"},
      {"FetchFirst", kCursor + "FETCH LAST FROM c INTO v; FETCH FIRST FROM c INTO v; RETURN v;",
       "1"},
      {"FetchLast", kCursor + "FETCH LAST FROM c INTO v; RETURN v;", "6"},
      {"FetchAbsolute", kCursor + "FETCH ABSOLUTE 4 FROM c INTO v; RETURN v;", "4"},
      {"FetchRelativeBackFromTheThirdRow",
       kCursor + "FETCH ABSOLUTE 3 FROM c INTO v; FETCH RELATIVE (-2) FROM c INTO v; RETURN v;", "1"},
      // Past the end the cursor stops at its EOF, still on the last row.
      {"FetchRelativeStopsAtTheEnd",
       kCursor + "FETCH ABSOLUTE 4 FROM c INTO v; FETCH RELATIVE 5 FROM c INTO v; "
                 "IF EOF(c) THEN RETURN v; ELSE RETURN -1; END IF;",
       "6"},
      {"LoopLeave",
       "DECLARE x INTEGER DEFAULT 0; LOOP SET x = x + 1; IF x >= 5 THEN LEAVE; END IF; END LOOP; "
       "RETURN x;",
       "5"},
      {"LabelledLeaveEndsTheOuterLoop",
       "DECLARE x INTEGER DEFAULT 0; outer: LOOP LOOP SET x = x + 1; IF x = 3 THEN LEAVE outer; "
       "END IF; END LOOP; END LOOP outer; RETURN x;",
       "3"},
      // The ITERATE goes to the test without evaluating UNTIL: its value
      // is still unknown, so the loop goes on until a pass reaches UNTIL.
      {"RepeatIterateSkipsUntil",
       "DECLARE x INTEGER DEFAULT 0; REPEAT SET x = x + 1; IF x < 3 THEN ITERATE; END IF; "
       "UNTIL x >= 1 END REPEAT; RETURN x;",
       "3"},
      // After the ITERATE the body runs again without the condition being
      // evaluated; the loop ends after a pass that completes normally.
      {"WhileIterateRunsTheBodyAgain",
       "DECLARE x INTEGER DEFAULT 0; WHILE x < 3 DO SET x = x + 1; IF x = 3 THEN ITERATE; END IF; "
       "END WHILE; RETURN x;",
       "4"},
      {"IfWithoutATrueBranchRunsNothing",
       "DECLARE x INTEGER DEFAULT 7; IF x = 1 THEN SET x = 10; ELSEIF x = 2 THEN SET x = 20; "
       "END IF; RETURN x;",
       "7"},
      {"SimpleCase",
       "DECLARE x INTEGER DEFAULT 7; DECLARE y INTEGER; CASE x WHEN 1 THEN SET y = 10; "
       "WHEN 7 THEN SET y = 70; ELSE SET y = 0; END CASE; RETURN y;",
       "70"},
      {"SearchedCaseElse",
       "DECLARE y INTEGER; CASE WHEN 1 = 2 THEN SET y = 1; ELSE SET y = 2; END CASE; RETURN y;",
       "2"},
      {"ExecuteWithUsing",
       "DECLARE v INTEGER; DECLARE c CURSOR FOR s; PREPARE s FROM 'SELECT n * 10 FROM N WHERE n = ?'; "
       "OPEN c USING 5; FETCH FROM c INTO v; RETURN v;",
       "50"},
      {"ExceptionBlockCatchesAConstraintError",
       "DECLARE r INTEGER DEFAULT 0; BEGIN EXECUTE IMMEDIATE 'INSERT INTO N VALUES (1, ''x'')'; "
       "EXCEPTION SET r = 1; END; RETURN r;",
       "1"},
      {"FactorialKeepsTheCallersParameters",
       "RETURN Fact(10);", "3628800"},
      // Columns named in the list are looked up by name, whatever their order.
      {"FetchNamedColumns",
       "DECLARE v INTEGER; DECLARE w VARCHAR(10); DECLARE c CURSOR FOR s; "
       "PREPARE s FROM 'SELECT n, word FROM N ORDER BY n'; OPEN c; "
       "FETCH ABSOLUTE 2 FROM c ('word', 'n') INTO w, v; RETURN v * 100 + CHAR_LENGTH(w);",
       "203"},
      // RETURN only sets the result: the function goes on, and the last
      // RETURN reached gives the value.
      {"ReturnGoesOnToTheNextStatement",
       "DECLARE x INTEGER DEFAULT 0; IF x = 0 THEN RETURN 10; END IF; RETURN 20;", "20"},
      {"ReturnInABranchStaysWhenNoneFollows",
       "DECLARE x INTEGER DEFAULT 0; IF x = 0 THEN RETURN 10; END IF; SET x = 1;", "10"},
  };
  Run("CREATE FUNCTION Fact(IN n BIGINT) RETURNS BIGINT BEGIN IF n <= 1 THEN RETURN 1; "
      "ELSE RETURN n * Fact(n - 1); END IF; END");
  for (const FunctionCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Answer answer = CallFunction("BIGINT", c.body);
    EXPECT_EQ(answer.Code, 0) << answer.Text;
    EXPECT_EQ(answer.Text, c.expected);
  }
}

struct ErrorCase {
  const char* name;
  std::string body;
  int32_t code;
  std::vector<std::string> texts;  // each must be part of the message
};

TEST_F(ProceduralTest, ErrorsNameTheirCodeAndPosition) {
  int32_t duplicateCode = 0;
  try {
    Run("INSERT INTO N VALUES (1, 'x')");
  } catch (const EBRNException& error) {
    duplicateCode = error.ErrorCode;
  }
  ASSERT_NE(duplicateCode, 0);
  int32_t syntaxCode = 0;
  std::string syntaxMessage;
  try {
    Run("INSERT INTO");
  } catch (const EBRNException& error) {
    syntaxCode = error.ErrorCode;
    syntaxMessage = error.ErrorMessage;
  }
  ASSERT_NE(syntaxCode, 0);

  Run("CREATE PROCEDURE Fail2() BEGIN BEGIN EXECUTE IMMEDIATE 'INSERT INTO N VALUES (1, ''x'')'; "
      "EXCEPTION RAISE ERROR CODE 12345 MESSAGE 'deep trouble'; END; END");
  Run("CREATE PROCEDURE Endless() BEGIN CALL Endless(); END");

  const std::string neverPrepared = "DECLARE s STATEMENT; EXECUTE s; RETURN 1;";
  const std::string unopened = "DECLARE v INTEGER; DECLARE c CURSOR FOR s; FETCH FROM c INTO v; "
                               "RETURN 1;";
  const std::string tooManyTargets =
      "DECLARE v INTEGER; DECLARE w INTEGER; DECLARE c CURSOR FOR s; "
      "PREPARE s FROM 'SELECT n FROM N'; OPEN c; FETCH FROM c INTO v, w; RETURN 1;";
  const std::string failingCall = "CALL Fail2(); RETURN 1;";
  const std::string duplicate = "EXECUTE IMMEDIATE 'INSERT INTO N VALUES (1, ''x'')'; RETURN 1;";
  const std::string syntax = "EXECUTE IMMEDIATE 'INSERT INTO'; RETURN 1;";
  const ErrorCase cases[] = {
      {"ExecuteOfANeverPreparedStatement", neverPrepared, 900,
       {"An attempt was made to execute the unprepared statement s",
        "@s; RETURN"}},
      {"FetchFromAnUnopenedCursor", unopened, 1000,
       {"An attempt was made to access a closed cursor",        "@c INTO"}},
      {"FetchWithMoreTargetsThanColumns", tooManyTargets, 1000,
       {"does not match the source or target values for the FETCH"}},
      {"ErrorInsideACalledProcedure", failingCall, 12345,
       {"deep trouble", "Fail2 routine ", "@Fail2()"}},
      {"ExecuteImmediateViolatingAConstraint", duplicate, duplicateCode,
       {"An error occurred with the statement ", "@'INSERT"}},
      {"SyntaxErrorInExecuteImmediate", syntax, syntaxCode, {}},
      {"RaiseWithCode",
       "BEGIN EXECUTE IMMEDIATE 'INSERT INTO N VALUES (1, ''x'')'; EXCEPTION "
       "RAISE ERROR CODE 777 MESSAGE 'own words'; END; RETURN 1;",
       777, {"own words"}},
      {"ReRaiseInsideAHandler",
       "BEGIN EXECUTE IMMEDIATE 'INSERT INTO N VALUES (1, ''x'')'; EXCEPTION RAISE; END; "
       "RETURN 1;",
       duplicateCode, {"An error occurred with the statement"}},
      {"EndlessRecursionMeetsTheNestingBound", "CALL Endless(); RETURN 1;", 901,
       {"Routines cannot be nested more than 64 levels deep"}},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Answer answer = CallFunction("INTEGER", c.body);
    EXPECT_EQ(answer.Code, c.code) << answer.Text;
    // "@part": the position of part in the stored text.
    for (const std::string& text : c.texts) {
      const std::string wanted = text.front() == '@' ? At(text.substr(1)) : text;
      EXPECT_NE(answer.Text.find(wanted), std::string::npos) << wanted << " in " << answer.Text;
    }
  }
}

// A FETCH column without a target is refused when the routine is created,
// so the run never meets it.
TEST_F(ProceduralTest, FetchWithMoreColumnsThanTargetsIsRefusedAtCreation) {
  try {
    Run("CREATE FUNCTION f() RETURNS INTEGER BEGIN DECLARE v INTEGER; DECLARE c CURSOR FOR s; "
        "PREPARE s FROM 'SELECT n, word FROM N'; OPEN c; FETCH FROM c ('n', 'word') INTO v; "
        "RETURN v; END");
    FAIL() << "the FETCH was accepted";
  } catch (const EBRNException& error) {
    EXPECT_EQ(error.ErrorCode, kSQLTextErrorCode);
    EXPECT_NE(error.ErrorMessage.find("the number of FETCH target variables does not match the "
                                      "number of columns"),
              std::string::npos)
        << error.ErrorMessage;
  }
}

TEST_F(ProceduralTest, SyntaxErrorOfExecuteImmediateKeepsTheParsersMessage) {
  const Answer answer = CallFunction("INTEGER", "EXECUTE IMMEDIATE 'INSERT INTO'; RETURN 1;");
  EXPECT_EQ(answer.Text.find("An error occurred with the statement"), std::string::npos)
      << answer.Text;
}

TEST_F(ProceduralTest, UsingListsShorterThanTheParametersLeaveTheRestNull) {
  Run("CREATE TABLE P (a INTEGER, b INTEGER)");
  const Answer answer =
      CallFunction("INTEGER", "EXECUTE IMMEDIATE 'INSERT INTO P VALUES (?, ?)' USING 9; RETURN 0;");
  EXPECT_EQ(answer.Code, 0) << answer.Text;
  EXPECT_EQ(Query("SELECT a, b FROM P"), (std::vector<std::vector<std::string>>{{"9", "NULL"}}));
}

TEST_F(ProceduralTest, ATriggerChangingItsOwnTableMeetsTheNestingBound) {
  Run("CREATE TABLE Grow (n INTEGER)");
  Run("CREATE TRIGGER Again AFTER INSERT ON Grow BEGIN "
      "EXECUTE IMMEDIATE 'INSERT INTO Grow VALUES (1)'; END");
  try {
    Run("INSERT INTO Grow VALUES (0)");
    FAIL() << "the trigger nested without end";
  } catch (const EBRNException& error) {
    EXPECT_EQ(error.ErrorCode, 901) << error.ErrorMessage;
    EXPECT_NE(error.ErrorMessage.find("nested more than"), std::string::npos)
        << error.ErrorMessage;
  }
}

TEST_F(ProceduralTest, TheNestingBoundIsASetting) {
  const int32_t before = GetMaxRoutineNesting();
  SetMaxRoutineNesting(5);
  Run("CREATE FUNCTION Depth(IN n INTEGER) RETURNS INTEGER BEGIN IF n <= 1 THEN RETURN 1; "
      "ELSE RETURN 1 + Depth(n - 1); END IF; END");
  EXPECT_EQ(Value("SELECT Depth(5)"), "5");
  int32_t code = 0;
  try {
    Value("SELECT Depth(6)");
  } catch (const EBRNException& error) {
    code = error.ErrorCode;
  }
  SetMaxRoutineNesting(before);
  EXPECT_EQ(code, 901);
}

TEST_F(ProceduralTest, ProgressAndStatusReportToTheContext) {
  Run("CREATE PROCEDURE Report() BEGIN SET STATUS MESSAGE TO 'busy'; SET PROGRESS TO 50; "
      "END");
  std::vector<std::string> status;
  std::vector<int32_t> progress;
  TBRNEvaluatorContext context;
  context.OnStatusMessage = [&](const std::string& text) { status.push_back(text); };
  context.OnProgress = [&](int32_t percent) {
    progress.push_back(percent);
    return false;  // the user stops
  };
  RunProcedure("Report", context);
  EXPECT_EQ(status, std::vector<std::string>{"busy"});
  EXPECT_EQ(progress, std::vector<int32_t>{50});
  EXPECT_TRUE(context.Aborted);
}

TEST_F(ProceduralTest, RoutinesRunWithTheirOwnersRights) {
  Run("CREATE USER Victim PASSWORD 'v'");
  Execute(*Session, "CREATE USER U PASSWORD 'u'");
  Execute(*Session, "GRANT ALL PRIVILEGES ON DATABASE Shop TO U");
  // The administrator's procedure, wrapped in a function U may execute.
  Run("CREATE PROCEDURE DropVictim() BEGIN EXECUTE IMMEDIATE 'DROP USER Victim'; END");
  Run("CREATE FUNCTION AdminDrop() RETURNS INTEGER BEGIN CALL DropVictim(); RETURN 1; END");
  Run("GRANT EXECUTE ON FUNCTION AdminDrop TO U");

  std::unique_ptr<TBRNLocalSessionManager> other = OtherSession("U", "u");
  auto* shop = static_cast<TBRNLocalDatabaseManager*>(other->OpenDatabase("Shop", kBRNLockShared));
  const auto run = [&](const std::string& sql) {
    auto* statement = static_cast<TBRNLocalStatementManager*>(shop->PrepareStatement(sql));
    std::vector<std::vector<std::string>> rows;
    try {
      if (TBRNCursor* cursor = statement->ExecuteStatement())
        rows = QueryWorkspace::CursorRows(*cursor);
    } catch (...) {
      TBRNLocalStatementManager::FreeStatement(statement);
      throw;
    }
    TBRNLocalStatementManager::FreeStatement(statement);
    return rows;
  };
  // U's own procedure gains nothing by being a procedure.
  run("CREATE PROCEDURE MyDrop() BEGIN EXECUTE IMMEDIATE 'DROP USER Victim'; END");
  run("CREATE FUNCTION MyCall() RETURNS INTEGER BEGIN CALL MyDrop(); RETURN 1; END");
  int32_t code = 0;
  try {
    run("SELECT MyCall()");
  } catch (const EBRNException& error) {
    code = error.ErrorCode;
  }
  EXPECT_EQ(code, 502);
  EXPECT_EQ(run("SELECT AdminDrop()"), (std::vector<std::vector<std::string>>{{"1"}}));
  TBRNDatabaseManager* opened = shop;
  other->CloseDatabase(opened);
}

}  // namespace
}  // namespace brn::testing
