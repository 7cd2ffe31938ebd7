#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "clientserver/remote/remote_test_support.h"
#include "execution/handles/local_statement_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/cursors/cursor.h"

namespace brn {
namespace {

// What one execution shows, remote or local.
struct ExecutionView {
  int32_t ErrorCode = 0;
  std::string Message;
  int32_t Line = 0;
  int32_t Column = 0;
  std::string Plan;
  bool Sensitive = false;
  int32_t RowsAffected = 0;
  int32_t RowCount = -1;  // -1: no cursor
};

// The remote test database with a table Items (ID primary key, Name) of
// 40 rows, and a local session of the server engine on the same database,
// so that a remote execution can be compared with the local one.
class RemoteManagerTest : public test::RemoteTest {
 public:
  void SetUp() override {
    test::RemoteTest::SetUp();
    Database = OpenTestDatabase();
    Exec(Database, "CREATE TABLE Items (ID INTEGER, Name VARCHAR(20), PRIMARY KEY (ID))");
    std::unique_ptr<TBRNStatementManager> insert(
        Database->PrepareStatement("INSERT INTO Items (ID, Name) VALUES (?, ?)"));
    for (int32_t id = 1; id <= 40; ++id) {
      insert->Params->GetItem(0)->SetAsInteger(id);
      insert->Params->GetItem(1)->SetAsString("Item " + std::to_string(id));
      insert->ExecuteStatement();
    }
    OpenLocalTwin();
  }

  void TearDown() override {
    CloseLocalTwin();
    if (Database != nullptr) Session->CloseDatabase(Database);
    test::RemoteTest::TearDown();
  }

  // Prepares and executes sql with the integer parameters params; the plan
  // is asked for.
  static ExecutionView Run(TBRNDatabaseManager* database, const std::string& sql,
                           const std::vector<int32_t>& params, bool requestSensitive,
                           bool remote) {
    ExecutionView view;
    TBRNStatementManager* statement = nullptr;
    try {
      statement = database->PrepareStatement(sql);
      if (remote)
        static_cast<TBRNRemoteStatementManager*>(statement)->RequestPlan = true;
      else
        static_cast<TBRNLocalStatementManager*>(statement)->RequestPlan = true;
      statement->RequestSensitive = requestSensitive;
      for (size_t i = 0; i < params.size(); ++i)
        statement->Params->GetItem(int32_t(i))->SetAsInteger(params[i]);
      TBRNCursor* cursor = statement->ExecuteStatement();
      statement->GetPlan(view.Plan);
      // The time it took is the one line that may differ.
      const size_t timing = view.Plan.find(" returned in ");
      if (timing != std::string::npos)
        view.Plan.erase(timing, view.Plan.find('\r', timing) - timing);
      view.Sensitive = statement->GetSensitive();
      view.RowsAffected = statement->GetRowsAffected();
      if (cursor != nullptr) view.RowCount = cursor->GetRowCount();
    } catch (const EBRNException& e) {
      view.ErrorCode = e.ErrorCode;
      view.Message = e.ErrorMessage;
      view.Line = e.ErrorLine;
      view.Column = e.ErrorColumn;
    }
    Free(statement, remote);
    return view;
  }

  static void Free(TBRNStatementManager* statement, bool remote) {
    if (statement == nullptr) return;
    if (remote) {
      delete statement;
    } else {
      auto* local = static_cast<TBRNLocalStatementManager*>(statement);
      TBRNLocalStatementManager::FreeStatement(local);
    }
  }

  int32_t CountItems(TBRNDatabaseManager* database, bool remote) {
    return Run(database, "SELECT * FROM Items", {}, true, remote).RowCount;
  }

  TBRNDatabaseManager* Database = nullptr;
};

// The remote execution shows what the local one shows: plan text, rows and
// sensitivity, and a compile error's code, message, line and column.
TEST_F(RemoteManagerTest, ExecutionsMatchTheLocalSession) {
  struct Case {
    const char* Sql;
    std::vector<int32_t> Params;
    bool RequestSensitive;
  };
  const std::vector<Case> cases = {
      {"SELECT * FROM Items WHERE ID > ?", {30}, true},
      {"SELECT * FROM Items WHERE ID > ?", {30}, false},
      {"SELECT Name, COUNT(*) AS N FROM Items WHERE ID BETWEEN ? AND ? GROUP BY Name",
       {5, 14},
       true},
      {"SELECT *\nFROM Items\nWHERE Nothing = ?", {1}, true},
      {"SELECT * FROM\n  Missing", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql + std::string(c.RequestSensitive ? " (sensitive)" : ""));
    const ExecutionView remote = Run(Database, c.Sql, c.Params, c.RequestSensitive, true);
    const ExecutionView local = Run(LocalDatabase, c.Sql, c.Params, c.RequestSensitive, false);
    EXPECT_EQ(remote.ErrorCode, local.ErrorCode) << remote.Message;
    EXPECT_EQ(remote.Message, local.Message);
    EXPECT_EQ(remote.Line, local.Line);
    EXPECT_EQ(remote.Column, local.Column);
    EXPECT_EQ(remote.Plan, local.Plan);
    EXPECT_EQ(remote.Sensitive, local.Sensitive);
    EXPECT_EQ(remote.RowCount, local.RowCount);
    EXPECT_EQ(remote.RowsAffected, local.RowsAffected);
  }
  // The error cases did carry a position.
  const ExecutionView error = Run(Database, "SELECT * FROM\n  Missing", {}, true, true);
  EXPECT_NE(error.ErrorCode, 0);
  EXPECT_EQ(error.Line, 2);
  EXPECT_GT(error.Column, 0);
}

TEST_F(RemoteManagerTest, CommitWithFlushOnlyLeavesTheTransactionOpen) {
  TBRNStringsList all;
  Database->StartTransaction(all, -1);
  Exec(Database, "INSERT INTO Items (ID, Name) VALUES (100, 'flushed')");
  Database->Commit(false, true);
  // Still in the transaction: what follows the flush is rolled back, what
  // it wrote stays.
  Exec(Database, "INSERT INTO Items (ID, Name) VALUES (101, 'rolled back')");
  EXPECT_NO_THROW(Database->Rollback());
  EXPECT_EQ(CountItems(Database, true), 41);

  // A whole commit ends the transaction: there is nothing left to roll back.
  Database->StartTransaction(all, -1);
  Exec(Database, "INSERT INTO Items (ID, Name) VALUES (102, 'committed')");
  Database->Commit(false, false);
  EXPECT_THROW(Database->Rollback(), EBRNException);
  EXPECT_EQ(CountItems(Database, true), 42);
  EXPECT_EQ(CountItems(LocalDatabase, false), 42);
}

// Freeing a statement never raises, even when its server is gone.
TEST_F(RemoteManagerTest, FreeingAStatementOfALostServerIsQuiet) {
  std::unique_ptr<TBRNStatementManager> statement(
      Database->PrepareStatement("SELECT * FROM Items"));
  Local->CloseDatabase(LocalDatabase);
  Local->Logout();
  Local->CloseSession();
  Local.reset();
  StopServer();
  EXPECT_NO_THROW(statement.reset());
  EXPECT_NO_THROW(Session->CloseDatabase(Database));
  EXPECT_EQ(Database, nullptr);
}

}  // namespace
}  // namespace brn
