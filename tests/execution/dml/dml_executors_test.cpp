// INSERT, UPDATE and DELETE through statement handles: the counts they
// report, that a failing row leaves the table as it was, output parameters
// and the plan.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "execution/queries/query_test_support.h"
#include "foundation/text/exception.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/constraints.h"

namespace brn::testing {
namespace {

// T(ID INTEGER primary key, Qty INTEGER CHECK Qty >= 0), C(TID INTEGER)
// whose foreign key refers to T's key, and a keyless L(N INTEGER).
struct DmlTest : QueryTest {
  DmlTest() {
    TBRNBaseTable* t = Shop->CreateTable("T");
    try {
      t->AddRowIDColumn();
      for (const char* name : {"ID", "Qty"}) {
        auto column = std::make_unique<TBRNColumn>(Shop->Catalog.get());
        column->Name = name;
        column->SetDataType(dtInteger);
        t->Columns->AddObject(column.get());
        column.release();
      }
      key = AddTableKey(t, "PK", kConstraintPrimaryKey, {"ID"});
      TBRNConstraint* check = AddTableConstraint(t, "QtyCheck", kConstraintCheck, {});
      check->CheckExpr->SetText("Qty >= 0");
      Shop->CommitCreateTable(t);
    } catch (...) {
      Shop->RollbackCreateTable(t);
      throw;
    }
    CreateTable("L", {{"N", dtInteger}}, false);
    TBRNBaseTable* c = Shop->CreateTable("C");
    try {
      c->AddRowIDColumn();
      auto column = std::make_unique<TBRNColumn>(Shop->Catalog.get());
      column->Name = "TID";
      column->SetDataType(dtInteger);
      c->Columns->AddObject(column.get());
      column.release();
      AddTableForeignKey(c, "ToT", {"TID"}, t, key);
      Shop->CommitCreateTable(c);
    } catch (...) {
      Shop->RollbackCreateTable(c);
      throw;
    }
  }

  TBRNConstraint* key = nullptr;

  // Rows ID 1..count with Qty = ID.
  void FillT(int32_t count) {
    std::vector<CellRow> rows;
    for (int32_t i = 1; i <= count; ++i) rows.push_back({int64_t(i), int64_t(i)});
    Insert("T", rows);
  }

  // Executes sql; the rows it reports.
  int32_t Run(const std::string& sql, std::string* plan = nullptr) {
    TBRNLocalStatementManager* statement = Prepare(sql);
    int32_t rows = 0;
    try {
      statement->RequestPlan = plan != nullptr;
      statement->ExecuteStatement();
      rows = statement->GetRowsAffected();
      if (plan != nullptr) statement->GetPlan(*plan);
    } catch (...) {
      Free(statement);
      throw;
    }
    Free(statement);
    return rows;
  }

  std::string Scalar(const std::string& sql) { return Query(sql).at(0).at(0); }
  // Count, sum of IDs and sum of Qty of T: what a rolled-back statement
  // must leave unchanged.
  std::string Summary(const std::string& table = "T") {
    const auto row = Query("SELECT COUNT(*), SUM(ID), SUM(Qty) FROM " + table).at(0);
    return row.at(0) + "/" + row.at(1) + "/" + row.at(2);
  }
};

TEST_F(DmlTest, CountsOfEachStatement) {
  FillT(10);
  struct Case {
    const char* Sql;
    int32_t Rows;
    const char* After;  // count/sum(ID)/sum(Qty)
  };
  const std::vector<Case> cases = {
      {"INSERT INTO T VALUES (11, 0)", 1, "11/66/55"},
      {"INSERT INTO T (Qty, ID) VALUES (1, 12), (2, 13)", 2, "13/91/58"},
      {"UPDATE T SET Qty = Qty + 1", 13, "13/91/71"},
      {"UPDATE T SET Qty = 0 WHERE ID > 10", 3, "13/91/65"},
      {"DELETE FROM T WHERE ID > 100", 0, "13/91/65"},
      {"DELETE FROM T WHERE Qty = 0", 3, "10/55/65"},
      {"INSERT INTO T SELECT ID + 100, Qty FROM T WHERE ID <= 5", 5, "15/570/85"},
      {"DELETE FROM T", 15, "0/NULL/NULL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    EXPECT_EQ(Run(c.Sql), c.Rows);
    EXPECT_EQ(Summary(), c.After);
  }
}

TEST_F(DmlTest, InsertSelectFromTheTargetDoublesOnce) {
  std::vector<CellRow> rows;
  for (int32_t i = 0; i < 10000; ++i) rows.push_back({int64_t(i % 7)});
  Insert("L", rows);
  EXPECT_EQ(Run("INSERT INTO L SELECT * FROM L"), 10000);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM L"), "20000");
}

// A row failing its CHECK in the middle of a statement: nothing of the
// statement stays, and the table takes the next statement.
TEST_F(DmlTest, FailingRowLeavesTheTableAsItWas) {
  FillT(1000);
  Insert("C", {{int64_t(500)}});
  const std::string before = Summary();
  const std::vector<std::string> statements = {
      // Row 501 would get Qty -1.
      "UPDATE T SET Qty = 500 - ID",
      "INSERT INTO T SELECT ID + 1000, 500 - ID FROM T",
      "INSERT INTO T VALUES (2001, 1), (2002, 2), (2003, -3), (2004, 4)",
      // A key that exists already, at the third row.
      "INSERT INTO T VALUES (3001, 1), (3002, 2), (5, 3)",
      // Row 500 is referred to by C.
      "DELETE FROM T WHERE ID > 1",
  };
  for (const std::string& sql : statements) {
    SCOPED_TRACE(sql);
    EXPECT_THROW(Run(sql), EBRNException);
    EXPECT_EQ(Summary(), before);
  }
  EXPECT_EQ(Run("UPDATE T SET Qty = Qty + 1 WHERE ID <= 10"), 10);
  EXPECT_EQ(Run("DELETE FROM T WHERE ID > 990"), 10);
  EXPECT_EQ(Summary(), "990/490545/490555");
}

TEST_F(DmlTest, OutputParameterGetsTheStoredIdentity) {
  TBRNBaseTable* ids = Shop->CreateTable("Ids");
  try {
    ids->AddRowIDColumn();
    auto column = std::make_unique<TBRNColumn>(Shop->Catalog.get());
    column->Name = "N";
    column->SetDataType(dtInteger);
    column->Identity = true;
    column->IdentitySeed = 100;
    ids->Columns->AddObject(column.get());
    column.release();
    Shop->CommitCreateTable(ids);
  } catch (...) {
    Shop->RollbackCreateTable(ids);
    throw;
  }
  TBRNLocalStatementManager* statement = Prepare("INSERT INTO Ids VALUES (?)");
  std::vector<std::string> returned;
  try {
    for (int i = 0; i < 2; ++i) {
      statement->Params->GetItem(0)->SetNull(true);
      statement->ExecuteStatement();
      returned.push_back(CellText(*statement->Params->GetItem(0)));
    }
  } catch (...) {
    Free(statement);
    throw;
  }
  Free(statement);
  const auto stored = Query("SELECT MIN(N), MAX(N), COUNT(*) FROM Ids").at(0);
  EXPECT_EQ(stored.at(2), "2");
  EXPECT_EQ(returned, (std::vector<std::string>{stored.at(0), stored.at(1)}));
  EXPECT_NE(returned[0], "NULL");
}

// A DELETE stopped halfway through the progress callback keeps what it
// deleted, answers not completed and says so in the plan.
TEST_F(DmlTest, CancelledDeleteKeepsTheRowsDeletedSoFar) {
  FillT(1000);
  std::vector<int32_t> reports;
  Session->SetProgressTimeInterval(0);
  Session->Events.OnProgress = [&](int32_t percent, bool& proceed) {
    reports.push_back(percent);
    if (percent >= 50) proceed = false;
  };
  TBRNLocalStatementManager* statement = Prepare("DELETE FROM T");
  statement->RequestPlan = true;
  std::string plan;
  try {
    statement->ExecuteStatement();
    statement->GetPlan(plan);
  } catch (...) {
    Session->Events.OnProgress = nullptr;
    Free(statement);
    throw;
  }
  Session->Events.OnProgress = nullptr;
  EXPECT_FALSE(statement->GetExecutionResult());
  const int32_t deleted = statement->GetRowsAffected();
  Free(statement);
  EXPECT_GT(deleted, 0);
  EXPECT_LT(deleted, 1000);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM T"), std::to_string(1000 - deleted));
  EXPECT_NE(plan.find("The execution was aborted, " + std::to_string(deleted) +
                      " row(s) deleted in "),
            std::string::npos)
      << plan;
  ASSERT_FALSE(reports.empty());
  for (size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i], reports[i - 1]);
}

TEST_F(DmlTest, PlanNamesTheTargetAndTheCount) {
  FillT(3);
  std::string plan;
  EXPECT_EQ(Run("DELETE FROM T WHERE ID = 2", &plan), 1);
  for (const char* part : {"Target Table", "T: 3 rows", "Filtering", "1 row(s) deleted in"})
    EXPECT_NE(plan.find(part), std::string::npos) << part << "\n" << plan;
}

}  // namespace
}  // namespace brn::testing
