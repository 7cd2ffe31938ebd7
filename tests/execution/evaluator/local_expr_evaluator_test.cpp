// The local evaluator's contexts, handler dispatch, step notification and
// saved values.

#include "execution/evaluator/local_expr_evaluator.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "execution/evaluator/evaluator_test_support.h"
#include "execution/evaluator/holding_values.h"
#include "execution/execution_test_support.h"
#include "foundation/text/exception.h"
#include "foundation/values/contained_value.h"

namespace brn::testing {
namespace {

// What the test handlers saw, in order: the operation code of each node
// they ran.
std::vector<int32_t>& handled() {
  static std::vector<int32_t> calls;
  return calls;
}

// Runs the handler of a node by what the test asks for.
TBRNExprToken* recordingHandler(TBRNLocalExprEvaluator&, TBRNExprToken* node) {
  handled().push_back(node->Operation);
  return nullptr;
}

TBRNExprToken* raisingHandler(TBRNLocalExprEvaluator&, TBRNExprToken* node) {
  handled().push_back(node->Operation);
  throw EBRNException(1011, "The statement failed");
}

// CASE, IF and WHILE: report the condition (argument 0) as their step.
TBRNExprToken* conditionHandler(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  handled().push_back(node->Operation);
  if (node->ArgumentCount() > 0) evaluator.EvaluateStepExpression(node->Argument(0));
  return nullptr;
}

TBRNExprToken* verbHandler(TBRNLocalExprEvaluator&, TBRNExprToken* node) {
  handled().push_back(1000 * int32_t(node->Operation) + node->Variant);
  return nullptr;
}

void fillTestHandlers(TBRNStatementHandlers& handlers) {
  handlers.SetStatement(opSetVariable, recordingHandler);
  handlers.SetStatement(opLeave, recordingHandler);
  handlers.SetStatement(opRaise, raisingHandler);
  handlers.SetStatement(opCommit, raisingHandler);
  handlers.SetStatement(opCaseStatement, conditionHandler);
  handlers.SetStatement(opIfStatement, conditionHandler);
  handlers.SetStatement(opWhile, conditionHandler);
  handlers.SetStatement(opBackup, recordingHandler);
  handlers.SetVerb(ovCreate, okUser, verbHandler);
  handlers.SetVerb(ovReset, okServerSessionStatistics, verbHandler);
  // A filler cannot take the verb codes: the evaluator's dispatchers win.
  handlers.SetStatement(opDrop, recordingHandler);
}

class LocalEvaluatorTest : public ::testing::Test {
 protected:
  void SetUp() override { handled().clear(); }

  TBRNLocalExprEvaluator evaluator{true, nullptr, fillTestHandlers};
};

TEST(StatementHandlers, EntriesOfCodesAndVerbs) {
  EXPECT_EQ(TBRNStatementHandlers::StatementEntry(182), 0);
  EXPECT_EQ(TBRNStatementHandlers::StatementEntry(255), 73);
  EXPECT_EQ(TBRNStatementHandlers::StatementEntry(181), -1);
  EXPECT_EQ(TBRNStatementHandlers::StatementEntry(256), -1);
  EXPECT_EQ(TBRNStatementHandlers::VerbEntry(ovCreate, 1), 74);
  EXPECT_EQ(TBRNStatementHandlers::VerbEntry(ovReset, 17), 192);
  EXPECT_EQ(TBRNStatementHandlers::VerbEntry(ovAlter, 0), -1);
  EXPECT_EQ(TBRNStatementHandlers::VerbEntry(ovAlter, 18), -1);
  EXPECT_EQ(TBRNStatementHandlers::EntryCount, 193);
  TBRNStatementHandlers handlers;
  EXPECT_THROW(handlers.SetStatement(opUnique, recordingHandler), std::out_of_range);
  EXPECT_THROW(handlers.SetVerb(ovDrop, okNone, recordingHandler), std::out_of_range);
  const struct {
    TBRNExprOperation code;
    TBRNObjectVerb verb;
  } verbs[] = {{opCreate, ovCreate}, {opAlter, ovAlter},   {opDrop, ovDrop},
               {opRename, ovRename}, {opEnable, ovEnable}, {opDisable, ovDisable},
               {opReset, ovReset}};
  for (const auto& entry : verbs) {
    TBRNObjectVerb verb = ovReset;
    ASSERT_TRUE(TBRNStatementHandlers::VerbOfCode(entry.code, verb)) << entry.code;
    EXPECT_EQ(verb, entry.verb);
  }
  TBRNObjectVerb verb = ovCreate;
  EXPECT_FALSE(TBRNStatementHandlers::VerbOfCode(opGrant, verb));
}

// Every context change goes through a scope; a failure at any depth leaves
// each level's previous context current as the exception passes up.
TEST_F(LocalEvaluatorTest, FailureAtAnyDepthLeavesThePreviousContextCurrent) {
  TBRNEvaluatorContext contexts[4];
  // The failing evaluation: it reads a variable whose declaration has no
  // value.
  Tree declared(declaration("v", dtInteger, 0));
  Tree failing(typed(node(tkOperator, opAdd), dtInteger));
  failing->SetLeft(reference(tkVariableReference, declaredName(declared.get())));
  failing->SetRight(integerConstant(1));
  for (int32_t failDepth = 0; failDepth < 4; ++failDepth) {
    SCOPED_TRACE(failDepth);
    std::vector<TBRNEvaluationContext*> seenAfterFailure;
    std::function<void(int32_t)> nest = [&](int32_t depth) {
      TBRNEvaluationContext* outer = evaluator.GetContext();
      try {
        TBRNEvaluationScope scope(evaluator, contexts[depth]);
        EXPECT_EQ(evaluator.GetEvaluatorContext(), &contexts[depth]);
        EXPECT_EQ(evaluator.CurrentRows, &contexts[depth].CurrentRows);
        if (depth == failDepth) evaluator.EvaluateExpression(failing.get());
        nest(depth + 1);
      } catch (const EBRNException&) {
        seenAfterFailure.push_back(evaluator.GetContext());
        EXPECT_EQ(evaluator.GetContext(), outer);
        throw;
      }
    };
    EXPECT_THROW(nest(0), EBRNException);
    EXPECT_EQ(int32_t(seenAfterFailure.size()), failDepth + 1);
    EXPECT_EQ(evaluator.GetContext(), nullptr);
    EXPECT_EQ(evaluator.CurrentRows, nullptr);
  }
}

// A plain storage context is current like any other but carries no session
// state.
TEST_F(LocalEvaluatorTest, PlainStorageContextHasNoEvaluatorState) {
  TBRNEvaluatorContext outer;
  TBRNEvaluationContext plain;
  TBRNEvaluationScope outerScope(evaluator, outer);
  {
    TBRNEvaluationScope scope(evaluator, plain);
    EXPECT_EQ(evaluator.GetContext(), &plain);
    EXPECT_EQ(evaluator.GetEvaluatorContext(), nullptr);
  }
  EXPECT_EQ(evaluator.GetEvaluatorContext(), &outer);
}

TEST_F(LocalEvaluatorTest, StoppedContextSkipsStatementsButNotCaseIfWhile) {
  TBRNEvaluatorContext context;
  std::vector<std::pair<int32_t, bool>> steps;
  context.OnStep = [&](TBRNExprToken* node, const std::exception* error) {
    steps.emplace_back(node->Operation, error != nullptr);
  };
  context.RunState = kBRNRunStateStopped;
  TBRNEvaluationScope scope(evaluator, context);

  Tree set(node(tkRoutineStatement, opSetVariable));
  Tree leave(node(tkRoutineStatement, opLeave));
  EXPECT_EQ(evaluator.ExecuteProceduralStatement(set.get()), nullptr);
  EXPECT_EQ(evaluator.ExecuteProceduralStatement(leave.get()), nullptr);
  EXPECT_TRUE(handled().empty());

  for (TBRNExprOperation code : {opCaseStatement, opIfStatement, opWhile}) {
    SCOPED_TRACE(code);
    handled().clear();
    steps.clear();
    Tree statement(node(tkRoutineStatement, code));
    TBRNExprToken* condition = typed(node(tkConstant), dtBoolean);
    condition->Text = "TRUE";
    statement->AddArgument(condition);
    EXPECT_EQ(evaluator.ExecuteProceduralStatement(statement.get()), nullptr);
    EXPECT_EQ(handled(), std::vector<int32_t>{code});
    // The condition is reported but not evaluated.
    EXPECT_EQ(condition->Value, nullptr);
    EXPECT_EQ(steps, (std::vector<std::pair<int32_t, bool>>{{int32_t(opNone), false}}));
  }

  // Running again, the same statement executes.
  context.RunState = kBRNRunStateRunning;
  handled().clear();
  EXPECT_EQ(evaluator.ExecuteProceduralStatement(set.get()), nullptr);
  EXPECT_EQ(handled(), std::vector<int32_t>{opSetVariable});
}

TEST_F(LocalEvaluatorTest, RaisingStatementReachesOnStepTwice) {
  TBRNEvaluatorContext context;
  std::vector<std::string> steps;
  context.OnStep = [&](TBRNExprToken* node, const std::exception* error) {
    steps.push_back(std::to_string(node->Operation) +
                    (error ? std::string(" ") + error->what() : ""));
  };
  TBRNEvaluationScope scope(evaluator, context);

  Tree raise(node(tkRoutineStatement, opRaise));
  try {
    evaluator.ExecuteProceduralStatement(raise.get());
    FAIL() << "no exception";
  } catch (const EBRNException& error) {
    EXPECT_EQ(error.ErrorCode, 1011);
    EXPECT_EQ(error.ErrorMessage, "The statement failed");
  }
  EXPECT_EQ(steps,
            (std::vector<std::string>{"200", "200 Brindle Error #1011 The statement failed"}));

  // A condition that fails is reported twice as well: it reads a variable
  // whose declaration has no value.
  steps.clear();
  Tree declared(declaration("v", dtInteger, 0));
  Tree condition(typed(node(tkOperator, opEqual), dtBoolean));
  condition->SetLeft(reference(tkVariableReference, declaredName(declared.get())));
  condition->SetRight(integerConstant(1));
  EXPECT_THROW(evaluator.EvaluateStepExpression(condition.get()), EBRNException);
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0], std::to_string(opEqual));
  EXPECT_EQ(steps[1].rfind(std::to_string(opEqual) + " Brindle Error #1011 ", 0), 0u) << steps[1];

  // The statement handle's entry notifies nothing and checks no RunState.
  steps.clear();
  context.RunState = kBRNRunStateStopped;
  Tree backup(node(tkStatement, opBackup));
  evaluator.ExecuteStatement(backup.get());
  EXPECT_EQ(handled().back(), opBackup);
  EXPECT_TRUE(steps.empty());
}

TEST_F(LocalEvaluatorTest, MissingHandlersRaiseTheInternalError) {
  const struct {
    TBRNExprOperation code;
    int32_t kind;
  } cases[] = {{opSelect, 0},    {opInsert, 0}, {opDeclare, 0}, {opCreate, okTable},
               {opDrop, okUser}, {opReset, 0},  {opAlter, 18}};
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.code);
    Tree statement(node(tkStatement, entry.code));
    statement->Variant = entry.kind;
    try {
      evaluator.ExecuteStatement(statement.get());
      FAIL() << "no exception";
    } catch (const EBRNException& error) {
      EXPECT_EQ(error.ErrorCode, 9999);
    }
  }
  EXPECT_TRUE(handled().empty());
}

TEST_F(LocalEvaluatorTest, VerbsDispatchByObjectKind) {
  Tree create(node(tkStatement, opCreate));
  create->Variant = okUser;
  Tree reset(node(tkStatement, opReset));
  reset->Variant = okServerSessionStatistics;
  evaluator.ExecuteStatement(create.get());
  evaluator.ExecuteStatement(reset.get());
  EXPECT_EQ(handled(), (std::vector<int32_t>{1000 * opCreate + okUser,
                                             1000 * opReset + okServerSessionStatistics}));
  EXPECT_NE(evaluator.GetHandlers().Statement(opDrop), recordingHandler);
}

// Storage evaluates a catalog expression with its row as row source 0 of
// the current context, and a row-qualified reference reads the trigger row.
TEST_F(LocalEvaluatorTest, ExpressionsReadTheCurrentContextsRows) {
  TBRNValues row;
  auto* cell = new TBRNContainedValue();
  cell->SetDataType(dtInteger);
  cell->SetAsInteger(40);
  row.Add(cell);
  Tree sum(typed(node(tkOperator, opAdd), dtInteger));
  TBRNExprToken* column = typed(node(tkColumnReference, opNone, "X"), dtInteger);
  column->Index = 0;
  sum->SetLeft(column);
  sum->SetRight(integerConstant(2));
  TBRNEvaluatorContext context;
  context.CurrentRows = {&row};
  {
    TBRNEvaluationScope scope(evaluator, context);
    evaluator.EvaluateExpression(sum.get());
    EXPECT_EQ(sum->Value->GetAsInteger(), 42);
    cell->SetAsInteger(1);
    evaluator.EvaluateExpression(sum.get());
    EXPECT_EQ(sum->Value->GetAsInteger(), 3);
  }
  // An empty routine body runs in the same context and leaves it current.
  Tree body(node(tkBlock));
  TBRNEvaluationScope scope(evaluator, context);
  EXPECT_EQ(Outcome([&] { evaluator.ExecuteRoutine(body.get()); }).first, 0);
  EXPECT_EQ(evaluator.GetContext(), &context);
}

// The installed factory gives every new session a local evaluator bound to
// it, under the session's NULL behaviour.
TEST(SessionEvaluator, SessionsGetTheLocalEvaluator) {
  StatementWorkspace workspace;
  auto* evaluator = dynamic_cast<TBRNLocalExprEvaluator*>(workspace.Session->Evaluator.get());
  ASSERT_NE(evaluator, nullptr);
  EXPECT_EQ(evaluator->GetSession(), workspace.Session.get());
  EXPECT_EQ(evaluator->StandardNullBehavior,
            workspace.Session->SessionSettings->GetStandardNullBehavior());
  EXPECT_EQ(evaluator->GetContext(), nullptr);
  TBRNEvaluatorContext& own = evaluator->SessionContext();
  EXPECT_TRUE(own.OnProgress && own.OnStatusMessage && own.OnLogMessage);
  EXPECT_FALSE(own.OnStep);
  EXPECT_TRUE(own.OnProgress(50));
}

// Going back to the default database closes the other one once; the
// default itself is never closed.
TEST(EvaluatorContext, RestoreDefaultDatabaseClosesTheOtherOnce) {
  StatementWorkspace workspace;
  TBRNLocalSessionManager& session = *workspace.Session;
  TBRNLocalDatabaseManager* other =
      session.GetDatabaseManager(AddDatabase(session, "Other", workspace.Env.Folder.Path + "O"));
  other->OpenDatabase(kBRNLockShared);
  other->OpenDatabase(kBRNLockShared);
  ASSERT_EQ(other->OpenCount, 2);
  TBRNLocalDatabaseManager* home = session.ConfigurationDatabase;
  const int32_t homeCount = home->OpenCount;

  TBRNEvaluatorContext context;
  context.SetDatabaseManager(home);
  EXPECT_EQ(context.DefaultDatabase, home);
  EXPECT_EQ(context.CurrentDatabase, home);
  context.RestoreDefaultDatabase();
  EXPECT_EQ(home->OpenCount, homeCount);

  context.SetCurrentDatabase(other);
  EXPECT_EQ(context.DefaultDatabase, home);
  context.RestoreDefaultDatabase();
  EXPECT_EQ(context.CurrentDatabase, home);
  EXPECT_EQ(other->OpenCount, 1);
  context.RestoreDefaultDatabase();
  EXPECT_EQ(other->OpenCount, 1);
  EXPECT_EQ(home->OpenCount, homeCount);
}

// Entering a block saves each declared node's value and gives it a fresh
// one; leaving restores them in reverse order. Twice, recursively.
TEST_F(LocalEvaluatorTest, RecursiveBlockEntryRestoresEveryDeclaredValue) {
  Tree text(declaration("t", dtChar, 10));
  Tree number(declaration("n", dtInteger, 0));
  Tree array(declaration("a", dtInteger, 0, 3));
  TBRNExprToken* declared[] = {declaredName(text.get()), declaredName(number.get()),
                               declaredName(array.get())};
  auto enter = [&] {
    for (TBRNExprToken* name : declared) {
      evaluator.SaveTokenValue(name);
      EXPECT_EQ(name->Value, nullptr);
      evaluator.CreateTokenValue(name);
    }
  };
  auto leave = [&] {
    for (int32_t i = 2; i >= 0; --i) evaluator.RestoreTokenValue(declared[i]);
  };
  auto set = [&](const std::string& word, int32_t value) {
    declared[0]->Value->SetAsString(word);
    declared[1]->Value->SetAsInteger(value);
    TBRNContainedValue number;
    number.SetDataType(dtInteger);
    number.SetAsInteger(value);
    declared[2]->Value->Assign(number);  // every element
  };
  auto expect = [&](const std::string& word, int32_t value) {
    EXPECT_EQ(declared[0]->Value->GetAsString(), word);
    EXPECT_EQ(declared[1]->Value->GetAsInteger(), value);
    auto* values = dynamic_cast<TBRNArrayValuesValue*>(declared[2]->Value);
    ASSERT_NE(values, nullptr);
    for (int32_t i = 1; i <= 3; ++i) EXPECT_EQ(values->GetElement(i)->GetAsInteger(), value);
  };

  for (TBRNExprToken* name : declared) evaluator.CreateTokenValue(name);
  set("outside", 1);
  TBRNValue* outsideValue = declared[1]->Value;
  enter();
  set("first", 2);
  enter();
  set("second", 3);
  EXPECT_EQ(evaluator.SavedValueCount(), 6);
  leave();
  expect("first", 2);
  leave();
  expect("outside", 1);
  EXPECT_EQ(declared[1]->Value, outsideValue);
  EXPECT_EQ(evaluator.SavedValueCount(), 0);

  // With nothing saved, a restore leaves the value in place.
  evaluator.RestoreTokenValue(declared[1]);
  EXPECT_EQ(declared[1]->Value, outsideValue);

  // Values still saved when the evaluator goes are freed with it (the
  // sanitizer build reports a leak otherwise).
  {
    TBRNLocalExprEvaluator scratch(true, nullptr, nullptr);
    scratch.SaveTokenValue(declared[0]);
    EXPECT_EQ(scratch.SavedValueCount(), 1);
  }
}

}  // namespace
}  // namespace brn::testing
