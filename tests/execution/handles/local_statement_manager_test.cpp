// Statement handles: registration in the database's table and the
// session's index, failures of prepare, execute and free, and what a
// handle leaves behind.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "execution/execution_test_support.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/users_roles.h"
#include "sessions/local/evaluator_factory.h"

namespace brn::testing {
namespace {

// The objects registered in table.
int32_t Registered(const TBRNHandleObjects& table) {
  int32_t count = 0;
  int32_t handle = 0;
  TBRNHandleObject* object = nullptr;
  while (table.NextObject(handle, object)) ++count;
  return count;
}

struct StatementHandleTest : StatementTest {
  TBRNLocalDatabaseManager& Database() { return *Session->ConfigurationDatabase; }
  int32_t HandleCount() { return Registered(Database().Statements); }
};

TEST_F(StatementHandleTest, ASyntaxErrorReportsItsPositionLogs250AndLeavesNoHandle) {
  const size_t logged = ReadLog(*Session).size();
  const std::string sql = "CREATE ROLE Clerks\n    DESCRIPTON 'Office'";
  try {
    Database().PrepareStatement(sql);
    FAIL() << "the statement was prepared";
  } catch (const EBRNException& error) {
    EXPECT_EQ(error.ErrorCode, kSQLTextErrorCode);
    EXPECT_EQ(error.ErrorLine, 2);
    EXPECT_EQ(error.ErrorColumn, 5);
    EXPECT_NE(error.ErrorMessage.find("line 2 and column 5"), std::string::npos)
        << error.ErrorMessage;
  }
  std::vector<TBRNLogEvent> errors = ErrorsAfter(*Session, logged);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Function, kBRNOperationPrepareStatement);
  EXPECT_EQ(errors[0].ErrorCode, kSQLTextErrorCode);
  EXPECT_EQ(HandleCount(), 0);
  EXPECT_EQ(Session->Statements.GetCount(), 0);
}

TEST_F(StatementHandleTest, AStatementOfALargerTextReportsItsOwnPosition) {
  auto outcome = Outcome([&] { Database().PrepareStatementEx("CREATE ROLE 12", 7, 3); });
  EXPECT_EQ(outcome.first, kSQLTextErrorCode);
  EXPECT_NE(outcome.second.find("line 7 and column 3"), std::string::npos) << outcome.second;
  EXPECT_EQ(HandleCount(), 0);
}

TEST_F(StatementHandleTest, DmlStatementsPrepareRegisterAndRun) {
  Execute(*Session, "CREATE DATABASE Shop PATH 'shop'");
  auto* shop =
      static_cast<TBRNLocalDatabaseManager*>(Session->OpenDatabase("Shop", kBRNLockShared));
  TBRNBaseTable* table = shop->CreateTable("Items");
  auto column = std::make_unique<TBRNColumn>(shop->Catalog.get());
  column->Name = "ID";
  column->SetDataType(dtInteger);
  table->Columns->AddObject(column.get());
  column.release();
  shop->CommitCreateTable(table);
  for (const char* sql :
       {"DELETE FROM Items", "UPDATE Items SET ID = 1", "INSERT INTO Items (ID) VALUES (?)"}) {
    SCOPED_TRACE(sql);
    auto* statement = static_cast<TBRNLocalStatementManager*>(shop->PrepareStatement(sql));
    EXPECT_EQ(Registered(shop->Statements), 1);
    EXPECT_EQ(Session->Statements.GetCount(), 1);
    if (statement->Params->GetCount() > 0) statement->Params->GetItem(0)->SetAsInteger(7);
    auto outcome = Outcome([&] { statement->ExecuteStatement(); });
    EXPECT_EQ(outcome.first, 0) << outcome.second;
    TBRNLocalStatementManager::FreeStatement(statement);
    EXPECT_EQ(Registered(shop->Statements), 0);
  }
  TBRNDatabaseManager* opened = shop;
  Session->CloseDatabase(opened);
}

// Statements left prepared, with the cursors their execution opened, go
// with the database before the tables they read close under them.
TEST_F(StatementHandleTest, ClosingTheDatabaseFreesExecutedStatementsBeforeItsTables) {
  Execute(*Session, "CREATE DATABASE Depot PATH 'depot'");
  auto* depot =
      static_cast<TBRNLocalDatabaseManager*>(Session->OpenDatabase("Depot", kBRNLockShared));
  auto* create = static_cast<TBRNLocalStatementManager*>(
      depot->PrepareStatement("CREATE TABLE Items (ID INTEGER)"));
  create->ExecuteStatement();
  TBRNLocalStatementManager::FreeStatement(create);
  for (const char* sql : {"INSERT INTO Items (ID) VALUES (1)", "UPDATE Items SET ID = 2",
                          "SELECT ID FROM Items WHERE ID > 0", "DELETE FROM Items WHERE ID = 5"}) {
    SCOPED_TRACE(sql);
    auto* statement = static_cast<TBRNLocalStatementManager*>(depot->PrepareStatement(sql));
    auto outcome = Outcome([&] { statement->ExecuteStatement(); });
    EXPECT_EQ(outcome.first, 0) << outcome.second;
  }
  EXPECT_EQ(Registered(depot->Statements), 4);
  TBRNDatabaseManager* opened = depot;
  EXPECT_NO_THROW(Session->CloseDatabase(opened));
  EXPECT_EQ(Session->Statements.GetCount(), 0);
}

TEST_F(StatementHandleTest, AHandleIsInBothTablesUntilItIsFreed) {
  auto* first =
      static_cast<TBRNLocalStatementManager*>(Database().PrepareStatement("CREATE ROLE A"));
  auto* second =
      static_cast<TBRNLocalStatementManager*>(Database().PrepareStatement("CREATE ROLE B"));
  EXPECT_EQ(HandleCount(), 2);
  EXPECT_EQ(Database().Statements.FindObject(first->Handle), first);
  EXPECT_EQ(Session->Statements.Find(second->Registration.GetSessionHandle()), second);
  EXPECT_EQ(first->CursorName, "Query");
  EXPECT_EQ(first->Params->GetCount(), 0);
  TBRNLocalStatementManager::FreeStatement(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(HandleCount(), 1);
  EXPECT_EQ(Session->Statements.GetCount(), 1);
  // The handle still registered goes with the session.
}

TEST_F(StatementHandleTest, ClosingItsDatabaseFreesTheHandle) {
  Execute(*Session, "CREATE DATABASE Sales PATH 'sales'");
  TBRNDatabaseManager* sales = Session->OpenDatabase("Sales", kBRNLockShared);
  sales->PrepareStatement("CREATE ROLE A");
  EXPECT_EQ(Registered(sales->Statements), 1);
  EXPECT_EQ(Session->Statements.GetCount(), 1);
  Session->CloseDatabase(sales);
  EXPECT_EQ(Session->Statements.GetCount(), 0);
  TBRNDatabaseManager* again = Session->OpenDatabase("Sales", kBRNLockShared);
  EXPECT_EQ(Registered(again->Statements), 0);
  Session->CloseDatabase(again);
}

// A session evaluator that cannot run the handle's tree makes its
// un-prepare fail.
struct BrokenEvaluator {
  explicit BrokenEvaluator(TBRNLocalSessionManager& session)
      : session_(session),
        saved_(std::exchange(session.Evaluator, std::make_unique<TBRNSessionStubEvaluator>())) {}
  ~BrokenEvaluator() { session_.Evaluator = std::move(saved_); }
  TBRNLocalSessionManager& session_;
  std::unique_ptr<TBRNExpressionEvaluator> saved_;
};

TEST_F(StatementHandleTest, AFailedFreeIsLoggedAs252AndLeavesNoHandle) {
  auto* statement =
      static_cast<TBRNLocalStatementManager*>(Database().PrepareStatement("CREATE ROLE A"));
  const size_t logged = ReadLog(*Session).size();
  {
    BrokenEvaluator broken(*Session);
    EXPECT_THROW(TBRNLocalStatementManager::FreeStatement(statement), std::exception);
  }
  EXPECT_EQ(statement, nullptr);
  EXPECT_EQ(HandleCount(), 0);
  EXPECT_EQ(Session->Statements.GetCount(), 0);
  std::vector<TBRNLogEvent> errors = ErrorsAfter(*Session, logged);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Function, kBRNOperationFreeStatement);
}

TEST_F(StatementHandleTest, TheDestructorLogsAFailureAndNeverRaises) {
  Execute(*Session, "CREATE DATABASE Sales PATH 'sales'");
  TBRNDatabaseManager* sales = Session->OpenDatabase("Sales", kBRNLockShared);
  sales->PrepareStatement("CREATE ROLE A");
  const size_t logged = ReadLog(*Session).size();
  {
    BrokenEvaluator broken(*Session);
    EXPECT_NO_THROW(Session->CloseDatabase(sales));
  }
  EXPECT_EQ(Session->Statements.GetCount(), 0);
  std::vector<TBRNLogEvent> errors = ErrorsAfter(*Session, logged);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Function, kBRNOperationFreeStatement);
}

TEST_F(StatementHandleTest, ExecutingAgainRunsTheStatementAgain) {
  Execute(*Session, "CREATE ROLE Clerks");
  PreparedStatement drop(*Session, "DROP ROLE Clerks");
  drop->ExecuteStatement();
  EXPECT_EQ(Config().Roles->FindByName("Clerks", false), nullptr);
  auto outcome = Outcome([&] { drop->ExecuteStatement(); });
  EXPECT_EQ(outcome.first, 401) << outcome.second;
  Execute(*Session, "CREATE ROLE Clerks");
  drop->ExecuteStatement();
  EXPECT_EQ(Config().Roles->FindByName("Clerks", false), nullptr);
}

}  // namespace
}  // namespace brn::testing
