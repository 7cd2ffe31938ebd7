// Jobs run their real procedural bodies: EXECUTE JOB of a body that writes
// through dynamic SQL changes the database, and a failing body is logged.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/queries/query_test_support.h"
#include "metadata/config/jobs.h"

namespace brn::testing {
namespace {

struct JobBodyTest : ::testing::Test, QueryWorkspace {
  void CreateJob(const std::string& name, const std::string& body) {
    Execute(*Session, "CREATE JOB " + name +
                          " RUN AS Administrator FROM DATE '2026-01-01' TO DATE '2026-12-31' "
                          "DAILY BETWEEN TIME '01:00:00' AND TIME '02:00:00' BEGIN " +
                          body + " END");
  }
  void RunJob(const std::string& name) {
    TBRNJob* job = Session->PrepareJob(name);
    ASSERT_NE(job, nullptr);
    Session->ExecuteJob(job);
  }
};

TEST_F(JobBodyTest, ABodyInsertingThroughDynamicSqlAddsOneRow) {
  TBRNLocalStatementManager* create = Prepare("CREATE TABLE Ticks (n INTEGER)");
  create->ExecuteStatement();
  Free(create);
  CreateJob("Tick", "USE Shop; EXECUTE IMMEDIATE 'INSERT INTO Ticks VALUES (1)';");
  const size_t logged = ReadLog(*Session).size();
  RunJob("Tick");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Ticks"), (std::vector<std::vector<std::string>>{{"1"}}));
  EXPECT_TRUE(ErrorsAfter(*Session, logged).empty());
}

TEST_F(JobBodyTest, AFailingBodyIsLoggedAsTheJobsExecution) {
  CreateJob("Broken", "USE Shop; EXECUTE IMMEDIATE 'INSERT INTO Missing VALUES (1)';");
  const size_t logged = ReadLog(*Session).size();
  RunJob("Broken");
  bool found = false;
  for (const TBRNLogEvent& event : ErrorsAfter(*Session, logged))
    if (event.Function == 94) found = true;
  EXPECT_TRUE(found);
}

// USE with the default database's own name opens nothing: the default
// database stays current and is not closed when the body ends.
TEST_F(JobBodyTest, UseOfTheDefaultDatabasesNameKeepsIt) {
  CreateJob("Stay", "USE Shop; SET STATUS MESSAGE TO CURRENT_DATABASE();");
  TBRNJob* job = Session->PrepareJob("Stay");
  ASSERT_NE(job, nullptr);
  std::vector<std::string> reported;
  TBRNEvaluatorContext context;
  context.SetDatabaseManager(Shop);
  context.OnStatusMessage = [&](const std::string& text) { reported.push_back(text); };
  auto& evaluator = dynamic_cast<TBRNLocalExprEvaluator&>(*Session->Evaluator);
  {
    TBRNEvaluationScope scope(evaluator, context);
    evaluator.ExecuteRoutine(job->Body->Root);
  }
  EXPECT_EQ(reported, std::vector<std::string>{"Shop"});
  EXPECT_EQ(context.CurrentDatabase, Shop);
  EXPECT_EQ(Query("SELECT 1"), (std::vector<std::vector<std::string>>{{"1"}}));
}

}  // namespace
}  // namespace brn::testing
