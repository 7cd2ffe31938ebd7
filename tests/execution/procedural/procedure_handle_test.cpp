// Procedure handles: parameters, the returned cursor, status texts, the
// log events of failures and a handle whose procedure is gone.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "execution/handles/local_procedure_manager.h"
#include "execution/queries/query_test_support.h"
#include "foundation/values/param_value.h"

namespace brn::testing {
namespace {

struct ProcedureHandleTest : QueryTest {
  void SetUp() override {
    CreateTable("Items", {{"ID", dtInteger}});
    Session->Events.OnStatusMessage = [this](const std::string& text) { Status.push_back(text); };
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

  TBRNLocalProcedureManager* PrepareProcedure(const std::string& name) {
    return static_cast<TBRNLocalProcedureManager*>(Shop->PrepareProcedure(name));
  }

  static int32_t Count(const TBRNHandleObjects& table) {
    int32_t count = 0;
    int32_t handle = 0;
    TBRNHandleObject* object = nullptr;
    while (table.NextObject(handle, object)) ++count;
    return count;
  }
  int32_t Registered() { return Count(Shop->Procedures); }
  int32_t RegisteredCursors() { return Count(Shop->Cursors); }

  std::vector<std::string> Status;
};

TEST_F(ProcedureHandleTest, ParametersComeInDeclarationOrderAndReachTheBody) {
  Run("CREATE PROCEDURE AddItems (IN First INTEGER, IN Second INTEGER) BEGIN "
      "EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (?)' USING First; "
      "EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (?)' USING Second; "
      "END");
  TBRNLocalProcedureManager* procedure = PrepareProcedure("AddItems");
  EXPECT_EQ(Registered(), 1);
  EXPECT_EQ(Session->Procedures.GetCount(), 1);
  ASSERT_EQ(procedure->Params->GetCount(), 2);
  std::vector<std::string> names;
  for (int32_t i = 0; i < procedure->Params->GetCount(); ++i)
    names.push_back(static_cast<TBRNParamValue*>(procedure->Params->GetItem(i))->GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"First", "Second"}));

  procedure->Params->GetItem(0)->SetAsInteger(7);
  procedure->Params->GetItem(1)->SetAsInteger(9);
  EXPECT_EQ(procedure->ExecuteProcedure(), nullptr);
  // Executed again with other values: the handle stays prepared.
  procedure->Params->GetItem(0)->SetAsInteger(1);
  procedure->Params->GetItem(1)->SetAsInteger(2);
  procedure->ExecuteProcedure();
  EXPECT_EQ(Query("SELECT ID FROM Items ORDER BY ID"),
            (std::vector<std::vector<std::string>>{{"1"}, {"2"}, {"7"}, {"9"}}));

  ASSERT_GE(Status.size(), 2u);
  EXPECT_EQ(Status[Status.size() - 2], "Executing the AddItems procedure...");
  EXPECT_EQ(Status.back().rfind("The AddItems procedure was executed successfully in ", 0), 0u)
      << Status.back();

  TBRNLocalProcedureManager::FreeProcedure(procedure);
  EXPECT_EQ(Registered(), 0);
  EXPECT_EQ(Session->Procedures.GetCount(), 0);
}

TEST_F(ProcedureHandleTest, TheReturnedCursorIsTheOpenResultCursorOrNone) {
  Insert("Items", {{int64_t(3)}, {int64_t(4)}});
  Run("CREATE PROCEDURE ListItems (IN Opened BOOLEAN) "
      "BEGIN DECLARE c CURSOR WITH RETURN FOR q; "
      "PREPARE q FROM 'SELECT ID FROM Items ORDER BY ID'; "
      "IF Opened THEN OPEN c; END IF; END");
  TBRNLocalProcedureManager* procedure = PrepareProcedure("ListItems");
  procedure->Params->GetItem(0)->SetAsBoolean(true);
  TBRNCursor* cursor = procedure->ExecuteProcedure();
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(CursorRows(*cursor), (std::vector<std::vector<std::string>>{{"3"}, {"4"}}));

  // The next execution closes the cursor of the last one.
  EXPECT_EQ(RegisteredCursors(), 1);
  procedure->Params->GetItem(0)->SetAsBoolean(false);
  EXPECT_EQ(procedure->ExecuteProcedure(), nullptr);
  EXPECT_EQ(RegisteredCursors(), 0);
  procedure->Params->GetItem(0)->SetAsBoolean(true);
  ASSERT_NE(procedure->ExecuteProcedure(), nullptr);
  TBRNLocalProcedureManager::FreeProcedure(procedure);
  EXPECT_EQ(RegisteredCursors(), 0);

  TBRNLocalProcedureManager* discarding = PrepareProcedure("ListItems");
  discarding->DiscardResult = true;
  discarding->Params->GetItem(0)->SetAsBoolean(true);
  EXPECT_EQ(discarding->ExecuteProcedure(), nullptr);
  TBRNLocalProcedureManager::FreeProcedure(discarding);
}

TEST_F(ProcedureHandleTest, ANestedExecutionReportsNothing) {
  Run("CREATE PROCEDURE AddOne () "
      "BEGIN EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (1)'; END");
  TBRNLocalProcedureManager* procedure = PrepareProcedure("AddOne");
  procedure->Nested = true;
  Status.clear();
  procedure->ExecuteProcedure();
  EXPECT_TRUE(Status.empty());
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), (std::vector<std::vector<std::string>>{{"1"}}));
  TBRNLocalProcedureManager::FreeProcedure(procedure);
}

TEST_F(ProcedureHandleTest, AFailingBodyReportsStage1Logs261AndLeavesTheUserAsItWas) {
  Run("CREATE PROCEDURE Twice () "
      "BEGIN EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (5)'; "
      "EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (5)'; END");
  TBRNLocalProcedureManager* procedure = PrepareProcedure("Twice");
  TBRNUser* user = Session->CurrentUser;
  const size_t logged = ReadLog(*Session).size();
  Status.clear();
  auto outcome = Outcome([&] { procedure->ExecuteProcedure(); });
  EXPECT_NE(outcome.first, 0);
  EXPECT_EQ(Session->CurrentUser, user);
  ASSERT_FALSE(Status.empty());
  EXPECT_EQ(Status.back().rfind("The execution of the Twice procedure did not complete and was "
                                "stopped at ",
                                0),
            0u)
      << Status.back();
  std::vector<TBRNLogEvent> errors = ErrorsAfter(*Session, logged);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back().Function, kBRNOperationExecuteProcedure);
  EXPECT_EQ(errors.back().ErrorCode, outcome.first);
  TBRNLocalProcedureManager::FreeProcedure(procedure);
}

TEST_F(ProcedureHandleTest, AMissingProcedureLogs260AndLeavesNoHandle) {
  const size_t logged = ReadLog(*Session).size();
  auto outcome = Outcome([&] { PrepareProcedure("Nowhere"); });
  EXPECT_NE(outcome.first, 0);
  EXPECT_NE(outcome.second.find("Nowhere"), std::string::npos) << outcome.second;
  std::vector<TBRNLogEvent> errors = ErrorsAfter(*Session, logged);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Function, kBRNOperationPrepareProcedure);
  EXPECT_EQ(Registered(), 0);
  EXPECT_EQ(Session->Procedures.GetCount(), 0);
}

TEST_F(ProcedureHandleTest, AHandleWhoseProcedureWasUnpreparedRaises901) {
  Run("CREATE PROCEDURE AddOne () "
      "BEGIN EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (1)'; END");
  TBRNLocalProcedureManager* procedure = PrepareProcedure("AddOne");
  // What the database's close does to a handle before it goes.
  procedure->Unprepare();
  auto outcome = Outcome([&] { procedure->ExecuteProcedure(); });
  EXPECT_EQ(outcome.first, kBRNProcedureNotPreparedCode);
  EXPECT_EQ(outcome.second, "An attempt was made to execute the unprepared procedure AddOne");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), (std::vector<std::vector<std::string>>{{"0"}}));
  TBRNLocalProcedureManager::FreeProcedure(procedure);
}

TEST_F(ProcedureHandleTest, ClosingTheDatabaseFreesItsProcedureHandles) {
  Run("CREATE PROCEDURE AddOne () "
      "BEGIN EXECUTE IMMEDIATE 'INSERT INTO Items (ID) VALUES (1)'; END");
  PrepareProcedure("AddOne");
  PrepareProcedure("AddOne");
  EXPECT_EQ(Session->Procedures.GetCount(), 2);
  TBRNDatabaseManager* shop = Shop;
  Shop = nullptr;
  Session->CloseDatabase(shop);
  EXPECT_EQ(Session->Procedures.GetCount(), 0);
}

}  // namespace
}  // namespace brn::testing
