// The handler table: which entries exist, and that each statement reaches
// its own handler, which logs its failures with the statement's code.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "execution/execution_test_support.h"
#include "metadata/config/config.h"

namespace brn::testing {
namespace {

bool HasEntry(TBRNObjectVerb verb, int32_t kind) {
  switch (verb) {
    case ovCreate:
    case ovAlter:
      return kind >= 1 && kind <= 16;
    case ovDrop:
    case ovRename:
      return kind >= 1 && kind <= 16 && kind != okTextIndex;
    case ovEnable:
    case ovDisable:
      return kind == okJob || kind == okTrigger;
    case ovReset:
      return kind == okJob || kind == okServerSessionStatistics;
  }
  return false;
}

TEST(StatementDispatch, EveryStatementCodeAndKindHasItsEntryAndNoOther) {
  TBRNLocalExprEvaluator evaluator(true, nullptr, &FillStatementHandlers);
  const TBRNStatementHandlers& handlers = evaluator.GetHandlers();
  // Codes that never reach a handler: DECLARE and RETURN (the block
  // runner's), DML and SELECT (the statement handle's executors), the bare
  // GRANT, REVOKE and SET codes the parser refines, and the unused 192.
  const std::set<int32_t> without = {opDeclare, 192,      opReturn, opDelete, opGrant,
                                     opInsert,  opRevoke, opSelect, opSet,    opUpdate};
  for (int32_t code = 182; code <= 255; ++code)
    EXPECT_EQ(handlers.Statement(code) != nullptr, without.count(code) == 0) << "code " << code;
  for (int32_t verb = ovCreate; verb <= ovReset; ++verb)
    for (int32_t kind = 1; kind <= 17; ++kind)
      EXPECT_EQ(handlers.Verb(TBRNObjectVerb(verb), kind) != nullptr,
                HasEntry(TBRNObjectVerb(verb), kind))
          << "verb " << verb << " kind " << kind;
}

// Each statement, run by a user without administrator rights, reaches its
// handler: the failure it gets is logged once with the statement's own
// operation code (none where the statement logs nothing).
struct DispatchCase {
  std::string Sql;
  int32_t ErrorCode;  // 0: the statement succeeds
  int32_t Operation;  // 0: nothing is logged
};

struct StatementDispatchTest : StatementTest {};

TEST_F(StatementDispatchTest, EachStatementReachesItsHandlerAndLogsItsOperation) {
  Execute(*Session, "CREATE USER Clerk PASSWORD 'pw'");
  Execute(*Session, "CREATE STORE Files AS LOCAL PATH 'files'");
  std::unique_ptr<TBRNLocalSessionManager> clerk = OtherSession("Clerk", "pw");
  const int32_t other = clerk->Handle + 1000;
  const std::vector<DispatchCase> cases = {
      {"CREATE DATABASE D IN MEMORY", 502, 30},
      {"ALTER DATABASE D IN MEMORY", 502, 31},
      {"DROP DATABASE D", 502, 32},
      {"RENAME DATABASE D TO E", 502, 35},
      {"CREATE USER U PASSWORD 'x'", 502, 60},
      {"ALTER USER Administrator PASSWORD 'x'", 502, 61},
      {"DROP USER U", 502, 62},
      {"RENAME USER U TO V", 502, 63},
      {"CREATE ROLE R", 502, 70},
      {"ALTER ROLE R", 502, 71},
      {"DROP ROLE R", 502, 72},
      {"RENAME ROLE R TO S", 502, 73},
      {"CREATE MODULE M PATH 'm.so'", 502, 20},
      {"ALTER MODULE M PATH 'm.so'", 502, 21},
      {"DROP MODULE M", 502, 22},
      {"RENAME MODULE M TO N", 502, 23},
      {"CREATE TEXT FILTER F TYPE 'pdf' MODULE M", 502, 100},
      {"ALTER TEXT FILTER F", 502, 101},
      {"DROP TEXT FILTER F", 502, 102},
      {"RENAME TEXT FILTER F TO G", 502, 103},
      {"CREATE WORD GENERATOR W MODULE M", 502, 110},
      {"ALTER WORD GENERATOR W", 502, 111},
      {"DROP WORD GENERATOR W", 502, 112},
      {"RENAME WORD GENERATOR W TO X", 502, 113},
      {"CREATE MIGRATOR G MODULE M", 502, 114},
      {"ALTER MIGRATOR G", 502, 115},
      {"DROP MIGRATOR G", 502, 116},
      {"RENAME MIGRATOR G TO H", 502, 117},
      {"CREATE STORE S AS LOCAL PATH 's'", 502, 420},
      {"ALTER STORE S AS LOCAL PATH 's'", 502, 421},
      {"DROP STORE S", 502, 422},
      {"RENAME STORE S TO T", 502, 423},
      {"DROP JOB J", 502, 92},
      {"RENAME JOB J TO K", 502, 95},
      {"RESET JOB J", 502, 98},
      {"GRANT SELECT ON DATABASE Configuration TO Clerk", 502, 80},
      {"REVOKE SELECT ON DATABASE Configuration FROM Clerk", 502, 81},
      {"GRANT Administrators TO Clerk", 502, 82},
      {"REVOKE Administrators FROM Clerk", 502, 83},
      {"SET BACKUPS STORE TO Nowhere", 401, 52},
      {"SET FILES STORE TO Nowhere", 401, 400},
      {"SET UPDATES STORE TO Nowhere", 401, 58},
      {"SET MIGRATOR TO Nowhere", 401, 50},
      {"COPY FILE a IN STORE Files TO b", 503, 410},
      {"RENAME FILE a IN STORE Files TO b", 503, 411},
      {"DELETE FILE a FROM STORE Files", 503, 412},
      {"ENABLE JOBS", 0, 0},
      {"DISABLE JOB J", 0, 0},
      {"DISCONNECT SERVER SESSION 1", 0, 0},
      {"REMOVE SERVER SESSION 1", 0, 0},
      {"RESET SERVER SESSION STATISTICS " + std::to_string(other), 1107, 0},
      // The database operations reach the database: the Configuration
      // database is read-only.
      {"EMPTY TABLE T", 403, 129},
      // Catalog statements: the Configuration database refuses changes of
      // its catalog as read-only; ENABLE TRIGGERS changes only the session's
      // catalog and finds no table. Each is logged with its own code.
      {"CREATE TABLE T (A INTEGER)", 403, 120},
      {"DROP VIEW V", 403, 132},
      {"RENAME TRIGGER Tr ON T TO Tr2", 403, 154},
      {"ENABLE TRIGGERS ON T", 401, 155},
      {"DROP INDEX I FROM T", 403, 142},
  };
  for (const DispatchCase& c : cases) {
    SCOPED_TRACE(c.Sql);
    const size_t before = ReadLog(*clerk).size();
    auto outcome = Outcome([&] { Execute(*clerk, c.Sql); });
    EXPECT_EQ(outcome.first, c.ErrorCode) << outcome.second;
    if (c.ErrorCode == 9999) {
      EXPECT_EQ(outcome.second.rfind("This statement cannot be executed by this engine yet (", 0),
                0u)
          << outcome.second;
    }
    if (c.Sql == "DROP VIEW V") {
      EXPECT_EQ(outcome.second,
                "The database Configuration is read-only and this operation cannot be performed "
                "(DROP VIEW V)");
    }
    std::vector<TBRNLogEvent> errors = ErrorsAfter(*clerk, before);
    if (c.Operation == 0) {
      EXPECT_TRUE(errors.empty());
    } else {
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_EQ(errors[0].Function, c.Operation);
      EXPECT_EQ(errors[0].ErrorCode, c.ErrorCode);
    }
  }
}

}  // namespace
}  // namespace brn::testing
