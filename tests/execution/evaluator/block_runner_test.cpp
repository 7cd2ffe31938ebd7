// The block runner over routines compiled by the parser and validator:
// declarations and their defaults, RETURN, transfers of control, FINALLY
// and EXCEPTION sections, RAISE, and the contexts routines run in.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "execution/evaluator/evaluator_test_support.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/execution_test_support.h"
#include "sql/validator/statement_fixture.h"

namespace brn::testing {
namespace {

// What SET STATUS MESSAGE TO statements of the bodies reported, in order.
std::vector<std::string>& trace() {
  static std::vector<std::string> lines;
  return lines;
}

// The procedural statements the bodies use, as their handlers behave: SET
// assigns, SET STATUS MESSAGE TO reports, LEAVE, ITERATE, RETRY and RAISE
// answer themselves as the pending transfer. SET LOG MESSAGE fails with an
// error that is not the engine's.
TBRNExprToken* setHandler(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  for (TBRNExprToken* pair : node->Arguments()) {
    evaluator.Evaluate(pair->Right());
    evaluator.Evaluate(pair->Left());
    pair->Left()->Value->Assign(*pair->Right()->Value);
  }
  return nullptr;
}

TBRNExprToken* statusHandler(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  evaluator.Evaluate(node->Argument(0));
  const TBRNValue& text = *node->Argument(0)->Value;
  trace().push_back(text.GetNull() ? "NULL" : text.GetAsString());
  return nullptr;
}

TBRNExprToken* transferHandler(TBRNLocalExprEvaluator&, TBRNExprToken* node) { return node; }

TBRNExprToken* foreignFailureHandler(TBRNLocalExprEvaluator&, TBRNExprToken*) {
  throw std::runtime_error("not an engine error");
}

void fillBlockHandlers(TBRNStatementHandlers& handlers) {
  handlers.SetStatement(opSetVariable, setHandler);
  handlers.SetStatement(opSetStatusMessage, statusHandler);
  handlers.SetStatement(opSetLogMessage, foreignFailureHandler);
  for (TBRNExprOperation transfer : {opLeave, opIterate, opRetry, opRaise})
    handlers.SetStatement(transfer, transferHandler);
}

// One routine compiled from its CREATE statement; Root is the routine's
// root node.
struct CompiledRoutine {
  explicit CompiledRoutine(const std::string& text) : Run(text) {
    EXPECT_EQ(Run.Error, "") << text;
    Root = NodeAt(Run.Owner.Root, "0");
  }
  StatementRun Run;
  TBRNExprToken* Root = nullptr;
};

std::string function(const std::string& body) {
  return "CREATE FUNCTION f () RETURNS INTEGER BEGIN " + body + " END";
}

std::string errorTrigger(const std::string& body) {
  return "CREATE TRIGGER t ERROR INSERT ON U BEGIN " + body + " END";
}

class BlockRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { trace().clear(); }

  // Runs the routine in the test's evaluator context; the engine error
  // code it raised (0 when none) and the function's result ("NULL" when
  // NULL or not set).
  struct Outcome {
    int32_t Code = 0;
    std::string Message;
    std::string Result;
  };
  Outcome Run(CompiledRoutine& routine) {
    Outcome outcome;
    {
      TBRNEvaluationScope scope(evaluator, context);
      auto [code, message] =
          testing::Outcome([&] { evaluator.ExecuteRoutine(routine.Root); });
      outcome.Code = code;
      outcome.Message = message;
    }
    TBRNExprToken* result = NodeAt(routine.Root, "2.0");
    outcome.Result = result == nullptr || result->Value == nullptr || result->Value->GetNull()
                         ? "NULL"
                         : result->Value->GetAsString();
    EXPECT_EQ(evaluator.SavedValueCount(), 0);
    return outcome;
  }

  TBRNLocalExprEvaluator evaluator{true, nullptr, fillBlockHandlers};
  TBRNEvaluatorContext context;
};

struct BlockCase {
  const char* name;
  std::string body;
  std::vector<std::string> trace;
  int32_t code;  // the engine error that leaves the routine; 0 when none
  std::string result;
};

TEST_F(BlockRunnerTest, FunctionBodies) {
  const BlockCase cases[] = {
      {"defaults and RETURN",
       "DECLARE a INTEGER DEFAULT 40; DECLARE b, c INTEGER DEFAULT 1; RETURN a + b + c;",
       {},
       0,
       "42"},
      {"a variable without DEFAULT is NULL",
       "DECLARE a INTEGER; SET STATUS MESSAGE TO CAST(a AS VARCHAR(4)); RETURN COALESCE(a, 7);",
       {"NULL"},
       0,
       "7"},
      {"an inner declaration hides the outer one until its block ends",
       "DECLARE a INTEGER DEFAULT 1; BEGIN DECLARE a INTEGER DEFAULT 2; "
       "SET STATUS MESSAGE TO CAST(a AS VARCHAR(4)); END; RETURN a;",
       {"2"},
       0,
       "1"},
      {"SET assigns declared variables",
       "DECLARE a INTEGER DEFAULT 1; SET a = a + 5; RETURN a;",
       {},
       0,
       "6"},
      {"LEAVE ends its own block only",
       "BEGIN SET STATUS MESSAGE TO 'in'; LEAVE; SET STATUS MESSAGE TO 'skipped'; END; "
       "SET STATUS MESSAGE TO 'out'; RETURN 1;",
       {"in", "out"},
       0,
       "1"},
      {"LEAVE of an outer label ends every block up to it",
       "outer: BEGIN BEGIN LEAVE outer; END; SET STATUS MESSAGE TO 'skipped'; END; "
       "SET STATUS MESSAGE TO 'out'; RETURN 2;",
       {"out"},
       0,
       "2"},
      {"RAISE with a code",
       "SET STATUS MESSAGE TO 'before'; RAISE ERROR CODE 10001 MESSAGE 'Mine'; "
       "SET STATUS MESSAGE TO 'after';",
       {"before"},
       10001,
       "NULL"},
      {"FINALLY runs after a failing RETURN and the error passes on",
       "SET STATUS MESSAGE TO 'body'; RETURN CAST('x' AS INTEGER); FINALLY SET STATUS MESSAGE TO 'finally';",
       {"body", "finally"},
       kConversionErrorCode,
       "NULL"},
      {"FINALLY runs after a failing DEFAULT",
       "BEGIN DECLARE x INTEGER DEFAULT CAST('x' AS INTEGER); SET STATUS MESSAGE TO 'skipped'; END; "
       "FINALLY SET STATUS MESSAGE TO 'finally';",
       {"finally"},
       kConversionErrorCode,
       "NULL"},
      {"FINALLY runs after a normal end",
       "RETURN 3; FINALLY SET STATUS MESSAGE TO 'finally';",
       {"finally"},
       0,
       "3"},
      {"EXCEPTION handles an engine error and sees its code and message",
       "BEGIN DECLARE x INTEGER DEFAULT CAST('x' AS INTEGER); END; RETURN 1; EXCEPTION "
       "SET STATUS MESSAGE TO CAST(ERRORCODE AS VARCHAR(5)); SET STATUS MESSAGE TO 'handled';",
       {"1011", "handled"},
       0,
       "NULL"},
      {"RAISE without code in EXCEPTION raises the handled error again",
       "RAISE ERROR CODE 10002 MESSAGE 'Again'; EXCEPTION SET STATUS MESSAGE TO ERRORMSG; RAISE;",
       {"Again"},
       10002,
       "NULL"},
      {"a nested handler's RAISE without code re-raises its own error",
       "RAISE ERROR CODE 10003 MESSAGE 'Outer'; EXCEPTION "
       "BEGIN RAISE ERROR CODE 10004 MESSAGE 'Inner'; EXCEPTION "
       "SET STATUS MESSAGE TO CAST(ERRORCODE AS VARCHAR(5)); END; "
       "SET STATUS MESSAGE TO CAST(ERRORCODE AS VARCHAR(5)); RAISE;",
       {"10004", "10003"},
       10003,
       "NULL"},
      {"an error inside EXCEPTION passes on",
       "RAISE ERROR CODE 10005 MESSAGE 'First'; EXCEPTION "
       "RAISE ERROR CODE 10006 MESSAGE 'Second';",
       {},
       10006,
       "NULL"},
      {"FINALLY of an inner block runs before the outer handler",
       "BEGIN RAISE ERROR CODE 10007 MESSAGE 'x'; FINALLY SET STATUS MESSAGE TO 'finally'; END; "
       "EXCEPTION SET STATUS MESSAGE TO 'handled';",
       {"finally", "handled"},
       0,
       "NULL"},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    trace().clear();
    CompiledRoutine routine(function(c.body));
    ASSERT_NE(routine.Root, nullptr);
    const Outcome outcome = Run(routine);
    EXPECT_EQ(outcome.Code, c.code) << outcome.Message;
    EXPECT_EQ(trace(), c.trace);
    EXPECT_EQ(outcome.Result, c.result);
    EXPECT_EQ(context.CurrentError, nullptr);
  }
}

// A RAISE's message reaches the caller as written.
TEST_F(BlockRunnerTest, RaiseCarriesItsMessage) {
  CompiledRoutine routine(function("RAISE ERROR CODE 10010 MESSAGE 'Stock ' || 'low';"));
  const Outcome outcome = Run(routine);
  EXPECT_EQ(outcome.Code, 10010);
  EXPECT_EQ(outcome.Message, "Stock low");
}

// Only engine errors are handled: any other exception leaves through the
// EXCEPTION section untouched, after FINALLY sections and undeclaration.
TEST_F(BlockRunnerTest, OtherExceptionsAreNeverHandled) {
  CompiledRoutine routine(
      function("DECLARE a INTEGER DEFAULT 1; BEGIN DECLARE b INTEGER; SET LOG MESSAGE TO 'x'; "
               "FINALLY SET STATUS MESSAGE TO 'finally'; END; EXCEPTION "
               "SET STATUS MESSAGE TO 'handled';"));
  TBRNEvaluationScope scope(evaluator, context);
  EXPECT_THROW(evaluator.ExecuteRoutine(routine.Root), std::runtime_error);
  EXPECT_EQ(trace(), std::vector<std::string>{"finally"});
  EXPECT_EQ(evaluator.SavedValueCount(), 0);
}

// In an ERROR trigger's body (where RAISE without code and ERRORCODE may
// stand anywhere): outside any handler a RAISE without code ends the body
// quietly, and ERRORCODE and ERRORMSG answer 0 and empty text once the
// section that handled an error has ended.
TEST_F(BlockRunnerTest, ErrorStateOutsideHandlers) {
  CompiledRoutine quiet(errorTrigger(
      "SET STATUS MESSAGE TO 'a'; BEGIN RAISE; SET STATUS MESSAGE TO 'skipped'; END; "
      "SET STATUS MESSAGE TO 'skipped';"));
  EXPECT_EQ(Run(quiet).Code, 0);
  EXPECT_EQ(trace(), std::vector<std::string>{"a"});

  trace().clear();
  CompiledRoutine after(errorTrigger(
      "BEGIN RAISE ERROR CODE 10020 MESSAGE 'Gone'; EXCEPTION "
      "SET STATUS MESSAGE TO CAST(ERRORCODE AS VARCHAR(5)) || ERRORMSG; END; "
      "SET STATUS MESSAGE TO CAST(ERRORCODE AS VARCHAR(5)) || '[' || ERRORMSG || ']';"));
  EXPECT_EQ(Run(after).Code, 0);
  EXPECT_EQ(trace(), (std::vector<std::string>{"10020Gone", "0[]"}));
}

// A trigger's or job's body runs in the table manager's plain context: it
// reads that context's rows and operation, and RETRY and the body's end
// come back through the plain context's trigger fields.
TEST_F(BlockRunnerTest, PlainContextsGetTheirAnswersBack) {
  CompiledRoutine retrying(errorTrigger(
      "SET STATUS MESSAGE TO OPERATION; RETRY; SET STATUS MESSAGE TO 'skipped';"));
  TBRNEvaluationContext plain;
  plain.TriggerOperation = 1;
  {
    TBRNEvaluationScope scope(evaluator, plain);
    evaluator.ExecuteRoutine(NodeAt(retrying.Root, "5"));
    EXPECT_EQ(evaluator.GetContext(), &plain);
  }
  EXPECT_TRUE(plain.TriggerRetry);
  EXPECT_FALSE(plain.TriggerAbort);
  EXPECT_EQ(trace(), std::vector<std::string>{"Update"});

  // An evaluator context reports RETRY as RetryRequested; the next routine
  // clears it.
  trace().clear();
  EXPECT_EQ(Run(retrying).Code, 0);
  EXPECT_TRUE(context.RetryRequested);
  CompiledRoutine plainEnd(errorTrigger("SET STATUS MESSAGE TO 'x';"));
  Run(plainEnd);
  EXPECT_FALSE(context.RetryRequested);
}

// A block declaring a cursor WITH RETURN, entered again while it runs
// (a recursive routine): when the outermost activation ends, its own
// statement value stays on the node for the handle to take.
TEST_F(BlockRunnerTest, OutermostResultCursorStays) {
  CompiledRoutine routine("CREATE PROCEDURE p () BEGIN DECLARE c CURSOR WITH RETURN FOR s; "
                          "SET STATUS MESSAGE TO 'x'; END");
  ASSERT_NE(routine.Root, nullptr);
  TBRNExprToken* body = NodeAt(routine.Root, "5");
  TBRNExprToken* statement = NodeAt(body, "0.0.0.0.1");
  ASSERT_NE(statement, nullptr);
  ASSERT_EQ(statement->Kind, tkStatementName);

  // The status handler enters the body once more from inside itself and
  // records the statement value each activation saw.
  static std::vector<const TBRNValue*> seen;
  static int32_t depth = 0;
  seen.clear();
  depth = 0;
  TBRNLocalExprEvaluator recursive{
      true, nullptr, [](TBRNStatementHandlers& handlers) {
        handlers.SetStatement(opSetStatusMessage,
                              [](TBRNLocalExprEvaluator& e, TBRNExprToken* node) -> TBRNExprToken* {
                                TBRNExprToken* block = node->Parent->Parent;
                                seen.push_back(NodeAt(block, "0.0.0.0.1")->GetOwnValue());
                                if (depth++ == 0) e.ExecuteBlock(block);
                                return nullptr;
                              });
      }};
  TBRNEvaluatorContext own;
  {
    TBRNEvaluationScope scope(recursive, own);
    recursive.ExecuteRoutine(routine.Root);
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0], nullptr);
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_EQ(statement->GetOwnValue(), seen[0]);
  EXPECT_EQ(recursive.SavedValueCount(), 0);
}

}  // namespace
}  // namespace brn::testing
