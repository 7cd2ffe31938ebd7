#include "clientserver/components/query_component.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "clientserver/components/component_error.h"
#include "clientserver/components/database_component.h"
#include "clientserver/datasets/dataset_test_support.h"

namespace brn {
namespace {

using test::ExpectDatabaseError;

// Session "S1" with Items(ID, Name, Qty) of three rows in "Shop", and a
// query of that session and database.
class QueryComponentTest : public test::ComponentSessionTest {
 protected:
  void SetUp() override {
    ComponentSessionTest::SetUp();
    Exec("Shop", "CREATE TABLE Items (ID INTEGER NOT NULL, Name VARCHAR(20), Qty INTEGER, "
                 "PRIMARY KEY (ID))");
    Exec("Shop", "INSERT INTO Items VALUES (1, 'a', 10)");
    Exec("Shop", "INSERT INTO Items VALUES (2, 'b', 20)");
    Exec("Shop", "INSERT INTO Items VALUES (3, 'c', 30)");
    Query = std::make_unique<TBRNQuery>(nullptr);
    Query->SetSessionName("S1");
    Query->SetDatabaseName("Shop");
  }
  void TearDown() override {
    Query.reset();
    ComponentSessionTest::TearDown();
  }

  std::unique_ptr<TBRNQuery> Query;
};

TEST_P(QueryComponentTest, SelectOpensAndUpdateLeavesClosed) {
  Query->SetSQLText("SELECT * FROM Items WHERE Qty >= :Least");
  ASSERT_EQ(Query->Params.Count(), 1);
  EXPECT_EQ(Query->Params.Get(0).Name, "Least");
  Query->Params.Get(0).SetValue(TVariant::FromInteger(20));
  Query->Open();
  EXPECT_TRUE(Query->GetActive());
  EXPECT_TRUE(Query->GetPrepared());
  EXPECT_EQ(Query->FieldByName("ID").GetAsInteger(), 2);
  Query->Close();
  EXPECT_FALSE(Query->GetPrepared());

  Query->SetSQLText("UPDATE Items SET Qty = Qty + 1 WHERE ID <= 2");
  Query->ExecSQL();
  EXPECT_FALSE(Query->GetActive());
  EXPECT_FALSE(Query->GetPrepared());
  EXPECT_EQ(Query->GetRowsAffected(), 2);
  EXPECT_EQ(Query->GetDatabase(), nullptr);
  ExpectDatabaseError([&] { Query->Open(); }, "Error creating table handle");
  EXPECT_FALSE(Query->GetActive());

  Query->SetSQLText("SELECT * FROM Items");
  Query->ExecSQL();
  EXPECT_TRUE(Query->GetActive());
  // Open ran the UPDATE too before it found no cursor.
  EXPECT_EQ(Query->FieldByName("Qty").GetAsInteger(), 12);
}

TEST_P(QueryComponentTest, TextChangesAndParameters) {
  Query->SetSQLText("SELECT * FROM Items WHERE ID = :A");
  Query->Params.Get(0).SetValue(TVariant::FromInteger(3));
  Query->Open();
  // Blanks and line breaks around the text are no change.
  Query->SetSQLText("  SELECT * FROM Items WHERE ID = :A\r\n\n");
  EXPECT_TRUE(Query->GetActive());
  EXPECT_TRUE(Query->GetPrepared());
  // New text naming :A keeps its value; the query closes and unprepares.
  Query->SetSQLText("SELECT Name FROM Items WHERE ID = :A OR ID = :B");
  EXPECT_FALSE(Query->GetActive());
  EXPECT_FALSE(Query->GetPrepared());
  ASSERT_EQ(Query->Params.Count(), 2);
  EXPECT_EQ(Query->Params.Get(0).GetValue().AsInteger(), 3);
  EXPECT_FALSE(Query->Params.Get(1).Bound);
  EXPECT_EQ(Query->GetProcessedText(), "SELECT Name FROM Items WHERE ID = ? OR ID = ?");

  // Without ParamCheck the list stays as it is.
  Query->ParamCheck = false;
  Query->SetSQLText("SELECT * FROM Items");
  EXPECT_EQ(Query->Params.Count(), 2);
}

TEST_P(QueryComponentTest, Errors) {
  ExpectDatabaseError([&] { Query->Open(); }, "No SQL statement specified");
  Query->SetSQLText("-- nothing but a comment");
  EXPECT_THROW(Query->Open(), EDatabaseError);
  EXPECT_FALSE(Query->GetActive());
  Query->SetSQLText("SELECT * FROM NoSuchTable");
  EXPECT_THROW(Query->Open(), EBRNError);
  EXPECT_EQ(Query->GetDatabase(), nullptr);
}

TEST_P(QueryComponentTest, ReadOnlyResultAndProgressDuringExecutionOnly) {
  int32_t calls = 0;
  bool installedInside = true;
  Query->OnProgress = [&](TComponent*, int32_t, bool&) {
    ++calls;
    installedInside = installedInside && Query->ProgressInstalled();
  };
  Query->SetSQLText("SELECT COUNT(*) AS N FROM Items");
  EXPECT_FALSE(Query->ProgressInstalled());
  Query->Open();
  EXPECT_FALSE(Query->ProgressInstalled());
  EXPECT_TRUE(installedInside);
  EXPECT_EQ(Query->FieldByName("N").GetAsInteger(), 3);
  EXPECT_TRUE(Query->GetReadOnly());
  EXPECT_FALSE(Query->GetCanModify());
  ExpectDatabaseError([&] { Query->Edit(); }, "Cannot modify a read-only dataset");
}

TEST_P(QueryComponentTest, ExecuteThroughSessionAndDatabase) {
  EXPECT_EQ(Session->Execute("CREATE DATABASE Other IN MEMORY"), 0);
  // What remains is the temporary database component of "Configuration".
  for (int32_t i = 0; i < Session->GetComponentCount(); ++i)
    EXPECT_EQ(dynamic_cast<TBRNQuery*>(Session->GetComponent(i)), nullptr);

  TBRNDatabase database(nullptr);
  database.SetSessionName("S1");
  database.SetDatabaseName("Main");
  database.SetDatabase("Shop");
  TParams params;
  params.CreateParam(ftInteger, "Q", ptInput).SetValue(TVariant::FromInteger(99));
  EXPECT_EQ(database.Execute("UPDATE Items SET Qty = :Q WHERE ID > 1", &params), 2);
  EXPECT_TRUE(database.GetConnected());
  Query->SetSQLText("SELECT SUM(Qty) AS Total FROM Items");
  Query->Open();
  EXPECT_EQ(Query->FieldByName("Total").GetAsInteger(), 10 + 99 + 99);
}

TEST_P(QueryComponentTest, DetailFollowsTheMaster) {
  Exec("Shop", "CREATE TABLE Orders (OrderNo INTEGER NOT NULL, Cust INTEGER, "
               "PRIMARY KEY (OrderNo))");
  Exec("Shop", "INSERT INTO Orders VALUES (100, 1)");
  Exec("Shop", "INSERT INTO Orders VALUES (101, 1)");
  Exec("Shop", "INSERT INTO Orders VALUES (102, 3)");
  Query->SetSQLText("SELECT ID AS Cust FROM Items ORDER BY ID");
  TDataSource source(nullptr);
  source.SetDataSet(Query.get());

  TBRNQuery detail(nullptr);
  detail.SetSessionName("S1");
  detail.SetDatabaseName("Shop");
  detail.SetSQLText("SELECT COUNT(*) AS N FROM Orders WHERE Cust = :Cust");
  ExpectDatabaseError([&] { Query->SetDataSource(&source); },
                      "Circular data links are not allowed");
  detail.SetDataSource(&source);
  int32_t executions = 0;
  detail.AfterOpen = [&](TDataSet&) { ++executions; };

  Query->Open();
  detail.Open();
  EXPECT_EQ(detail.FieldByName("N").GetAsInteger(), 2);
  executions = 0;
  Query->Next();
  EXPECT_EQ(executions, 1);
  EXPECT_EQ(detail.FieldByName("N").GetAsInteger(), 0);
  Query->Next();
  EXPECT_EQ(detail.FieldByName("N").GetAsInteger(), 1);
  // Taking key values is no move of the master.
  Query->SetKey();
  EXPECT_EQ(executions, 2);
  Query->Cancel();
  detail.Close();
}

INSTANTIATE_TEST_SUITE_P(Sessions, QueryComponentTest, ::testing::Values(stLocal, stRemote),
                         test::SessionTypeName);

}  // namespace
}  // namespace brn
