// When a query's result is reused, rebuilt, extended or live: the rebuild
// decisions seen through the result table's file writes, other processes'
// changes, RANGE and cancelling through the progress callback.
#include <algorithm>
#include <string>
#include <vector>

#include "execution/queries/query_manager.h"
#include "execution/queries/query_test_support.h"
#include "foundation/values/param_value.h"
#include "storage/files/table_file.h"

namespace brn::testing {
namespace {

using ResultRows = std::vector<std::vector<std::string>>;

struct ReuseTest : QueryTest {
  ReuseTest() {
    CreateTable("Items", {{"ID", dtInteger}, {"Qty", dtInteger}});
    std::vector<CellRow> rows;
    for (int64_t id = 1; id <= 40; ++id) rows.push_back({id, id % 7});
    Insert("Items", rows);
  }
  ~ReuseTest() override {
    for (TBRNLocalStatementManager*& statement : statements_) {
      try {
        Free(statement);
      } catch (...) {
      }
    }
  }

  TBRNLocalStatementManager* Statement(const std::string& sql, bool sensitive = false) {
    TBRNLocalStatementManager* statement = Prepare(sql);
    statements_.push_back(statement);
    statement->RequestSensitive = sensitive;
    statement->RequestPlan = true;
    return statement;
  }
  static ResultRows Run(TBRNLocalStatementManager* statement) {
    TBRNCursor* cursor = statement->ExecuteStatement();
    return cursor != nullptr ? CursorRows(*cursor) : ResultRows{};
  }
  // The writes of the result table's files so far.
  static int64_t ResultWrites(TBRNLocalStatementManager* statement) {
    auto* table = dynamic_cast<TBRNTableManager*>(statement->Query->ResultTable);
    int64_t writes = 0;
    for (TBRNTableFileManager* file : table->GetFiles()) writes += file->DiskWrites;
    return writes;
  }
  static std::string Plan(TBRNLocalStatementManager* statement) {
    std::string plan;
    statement->GetPlan(plan);
    return plan;
  }
  // Sets the statement's parameter at position (the n-th "?").
  static void SetParam(TBRNLocalStatementManager* statement, int32_t position, int32_t value) {
    ASSERT_EQ(statement->Params->GetCount(), 2);
    statement->Params->GetItem(position)->SetAsInteger(value);
  }
  static ResultRows Ids(int32_t first, int32_t last) {
    ResultRows rows;
    for (int32_t id = first; id <= last; ++id) rows.push_back({std::to_string(id)});
    return rows;
  }

 private:
  std::vector<TBRNLocalStatementManager*> statements_;
};

TEST_F(ReuseTest, AnUnchangedSourceIsNotReadAgainAndAChangeOfAnotherProcessRebuilds) {
  TBRNLocalStatementManager* statement =
      Statement("SELECT ID FROM Items WHERE Qty = 3 ORDER BY ID DESC");
  const ResultRows first = Run(statement);
  EXPECT_EQ(first, (ResultRows{{"38"}, {"31"}, {"24"}, {"17"}, {"10"}, {"3"}}));
  const int64_t writes = ResultWrites(statement);
  const std::string plan = Plan(statement);

  EXPECT_EQ(Run(statement), first);
  EXPECT_EQ(ResultWrites(statement), writes) << "a reused result writes nothing";
  EXPECT_EQ(Plan(statement), plan);

  ASSERT_EQ(InsertFromChild("Items", {{int64_t(45), int64_t(3)}}), 0);
  EXPECT_EQ(Run(statement).front(), std::vector<std::string>{"45"});
  EXPECT_GT(ResultWrites(statement), writes);
}

TEST_F(ReuseTest, ALiveResultShowsAnotherProcesssRowAfterARefresh) {
  TBRNLocalStatementManager* statement = Statement("SELECT ID, Qty FROM Items WHERE Qty = 3", true);
  TBRNCursor* cursor = statement->ExecuteStatement();
  ASSERT_NE(cursor, nullptr);
  EXPECT_TRUE(statement->GetSensitive());
  EXPECT_EQ(cursor->GetRowCount(), 6);
  ASSERT_EQ(InsertFromChild("Items", {{int64_t(46), int64_t(3)}, {int64_t(47), int64_t(4)}}), 0);
  EXPECT_TRUE(cursor->RefreshCursor());
  EXPECT_EQ(cursor->GetRowCount(), 7);
}

// A live result of a few rows of a larger table, stored out of key order:
// its cursor walks them in primary key order both ways, stopping at the
// ends.
TEST_F(ReuseTest, ALiveResultOfAFewRowsWalksTheKeyOrderBothWays) {
  CreateTable("Wide", {{"ID", dtInteger}, {"Qty", dtInteger}});
  std::vector<CellRow> rows;
  for (int64_t id = 400; id >= 1; --id) rows.push_back({id, int64_t(id % 100 == 0 ? 0 : 1)});
  Insert("Wide", rows);
  TBRNLocalStatementManager* statement = Statement("SELECT ID FROM Wide WHERE Qty = 0", true);
  TBRNCursor* cursor = statement->ExecuteStatement();
  ASSERT_NE(cursor, nullptr);
  EXPECT_TRUE(statement->GetSensitive());
  auto id = [&] {
    std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
    cursor->ReadRow(*row);
    return row->Values.GetItem(cursor->GetCursorColumns().GetColumn(0)->GetTableColumn()->Index)
        ->GetAsInteger();
  };
  std::vector<int32_t> forward;
  for (bool on = cursor->FirstRow(); on && !cursor->GetEof(); on = cursor->NextRow())
    forward.push_back(id());
  EXPECT_EQ(forward, (std::vector<int32_t>{100, 200, 300, 400}));
  EXPECT_EQ(id(), 400) << "the end keeps the last row";
  std::vector<int32_t> backward;
  for (bool on = cursor->LastRow(); on && !cursor->GetBof(); on = cursor->PriorRow())
    backward.push_back(id());
  EXPECT_EQ(backward, (std::vector<int32_t>{400, 300, 200, 100}));
  EXPECT_EQ(id(), 100);
}

TEST_F(ReuseTest, ResultsThatCannotBeLiveAreReadOnlyCopies) {
  CreateTable("Other", {{"ID", dtInteger}});
  Insert("Other", {{int64_t(1)}});
  for (const char* sql : {
           "SELECT DISTINCT Qty FROM Items WHERE ID > 1",
           "SELECT Qty, COUNT(*) FROM Items WHERE ID > 1 GROUP BY Qty",
           "SELECT MAX(ID) FROM Items WHERE ID > 1",
           "SELECT ID FROM Items WHERE ID > 1 ORDER BY Qty",
           "SELECT Items.ID FROM Items, Other WHERE Items.ID = Other.ID",
           "SELECT ID FROM Items WHERE ID > 1 UNION SELECT ID FROM Other",
       }) {
    SCOPED_TRACE(sql);
    TBRNLocalStatementManager* statement = Statement(sql, true);
    TBRNCursor* cursor = statement->ExecuteStatement();
    ASSERT_NE(cursor, nullptr);
    EXPECT_FALSE(statement->GetSensitive());
    EXPECT_TRUE(cursor->ReadOnly);
    EXPECT_EQ(Outcome([&] { cursor->CheckReadOnly(); }).first, 1000);
  }
}

TEST_F(ReuseTest, ALargerRangeExtendsTheResultAndASmallerOneReusesIt) {
  TBRNLocalStatementManager* statement = Statement("SELECT ID FROM Items RANGE ? TO ?");
  auto table = [&] { return dynamic_cast<TBRNTableManager*>(statement->Query->ResultTable); };
  SetParam(statement, 0, 1);
  SetParam(statement, 1, 10);
  EXPECT_EQ(Run(statement), Ids(1, 10));
  EXPECT_EQ(table()->GetRowCount(), 10) << "without ORDER BY the build stops at the range end";

  SetParam(statement, 1, 20);
  EXPECT_EQ(Run(statement), Ids(1, 20));
  EXPECT_EQ(table()->GetRowCount(), 20);
  EXPECT_EQ(Plan(statement).rfind("=====", 0), 0u);
  EXPECT_NE(Plan(statement).find("Cached Execution Plan:"), std::string::npos);

  const int64_t writes = ResultWrites(statement);
  SetParam(statement, 1, 5);
  EXPECT_EQ(Run(statement), Ids(1, 5));
  EXPECT_EQ(ResultWrites(statement), writes);

  SetParam(statement, 0, 0);
  EXPECT_EQ(Run(statement), Ids(1, 5)) << "a range starts at row 1 at the earliest";

  SetParam(statement, 0, 38);
  SetParam(statement, 1, 100);
  EXPECT_EQ(Run(statement), Ids(38, 40));

  // The last row alone: the key walk starts on the last key.
  SetParam(statement, 0, 40);
  SetParam(statement, 1, 40);
  EXPECT_EQ(Run(statement), Ids(40, 40));
}

TEST_F(ReuseTest, ARangeOfAnOrderedQueryIsTakenFromTheWholeOrder) {
  TBRNLocalStatementManager* statement =
      Statement("SELECT ID FROM Items ORDER BY ID DESC RANGE 2 TO 4");
  EXPECT_EQ(Run(statement), (ResultRows{{"39"}, {"38"}, {"37"}}));
  // Every row is read, but only those up to the range end are kept.
  EXPECT_EQ(dynamic_cast<TBRNTableManager*>(statement->Query->ResultTable)->GetRowCount(), 4);
}

TEST_F(ReuseTest, AnOrderedRangeKeepsItsFirstRowsUntilAWiderRangeNeedsMore) {
  TBRNLocalStatementManager* statement =
      Statement("SELECT ID, Qty FROM Items ORDER BY Qty DESC RANGE ? TO ?");
  auto table = [&] { return dynamic_cast<TBRNTableManager*>(statement->Query->ResultTable); };
  // Qty descending; rows with equal Qty in the order they are read.
  auto order = [](int64_t lastID) {
    ResultRows rows;
    for (int64_t qty = 6; qty >= 0; --qty)
      for (int64_t id = 1; id <= lastID; ++id)
        if (id % 7 == qty) rows.push_back({std::to_string(id), std::to_string(qty)});
    return rows;
  };
  auto slice = [](const ResultRows& rows, size_t first, size_t last) {
    return ResultRows(rows.begin() + std::ptrdiff_t(first - 1),
                      rows.begin() + std::ptrdiff_t(std::min(last, rows.size())));
  };
  auto runAndClose = [&] {
    TBRNCursor* cursor = statement->ExecuteStatement();
    ResultRows rows = CursorRows(*cursor);
    Shop->Cursors.RemoveObject(cursor, false);
    delete cursor;
    return rows;
  };
  const ResultRows all = order(40);
  SetParam(statement, 0, 1);
  SetParam(statement, 1, 10);
  EXPECT_EQ(runAndClose(), slice(all, 1, 10));
  EXPECT_EQ(table()->GetRowCount(), 10);

  SetParam(statement, 1, 20);
  EXPECT_EQ(runAndClose(), slice(all, 1, 20)) << "a wider range builds again";
  EXPECT_EQ(table()->GetRowCount(), 20);

  const int64_t writes = ResultWrites(statement);
  const std::string plan = Plan(statement);
  SetParam(statement, 0, 3);
  SetParam(statement, 1, 5);
  EXPECT_EQ(runAndClose(), slice(all, 3, 5));
  EXPECT_EQ(ResultWrites(statement), writes) << "a narrower range reuses the kept rows";
  EXPECT_EQ(Plan(statement), plan);

  // A cursor left open shows its own range: while it is open, builds keep
  // every row, and its refresh shows the new first rows.
  SetParam(statement, 0, 1);
  SetParam(statement, 1, 4);
  TBRNCursor* open = statement->ExecuteStatement();
  EXPECT_EQ(CursorRows(*open), slice(all, 1, 4));
  ASSERT_EQ(InsertFromChild("Items", {{int64_t(41), int64_t(7)}, {int64_t(0), int64_t(7)}}), 0);
  ResultRows more = {{"41", "7"}, {"0", "7"}};
  more.insert(more.end(), all.begin(), all.end());
  EXPECT_TRUE(open->RefreshCursor());
  EXPECT_EQ(CursorRows(*open), slice(more, 1, 4));
  EXPECT_EQ(table()->GetRowCount(), 42);
  SetParam(statement, 1, 100);
  EXPECT_EQ(runAndClose(), more);
  EXPECT_EQ(CursorRows(*open), slice(more, 1, 4));
}

TEST_F(ReuseTest, ACancelledBuildKeepsItsRowsAndTheNextExecutionRebuilds) {
  std::vector<int32_t> reports;
  Session->SetProgressTimeInterval(0);
  Session->Events.OnProgress = [&](int32_t percent, bool& proceed) {
    reports.push_back(percent);
    if (percent >= 50) proceed = false;
  };
  TBRNLocalStatementManager* statement =
      Statement("SELECT ID FROM Items WHERE ID > 0 ORDER BY Qty");
  const ResultRows partial = Run(statement);
  EXPECT_GT(partial.size(), 10u);
  EXPECT_LT(partial.size(), 40u);
  EXPECT_NE(Plan(statement).find("The execution was aborted, "), std::string::npos)
      << Plan(statement);
  ASSERT_FALSE(reports.empty());
  for (size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i], reports[i - 1]);

  Session->Events.OnProgress = nullptr;
  EXPECT_EQ(Run(statement).size(), 40u);
}

}  // namespace
}  // namespace brn::testing

namespace brn::testing {
namespace {

TEST_F(QueryTest, ARunningSumStartsAgainAtEveryBuild) {
  CreateTable("Items", {{"ID", dtInteger}, {"Qty", dtInteger}});
  Insert("Items", {{int64_t(1), int64_t(2)}, {int64_t(2), int64_t(3)}});
  TBRNLocalStatementManager* statement =
      Prepare("SELECT ID, RUNSUM(Qty) FROM Items WHERE ID > 0 GROUP BY ID ORDER BY ID");
  statement->RequestSensitive = false;
  TBRNCursor* cursor = statement->ExecuteStatement();
  EXPECT_EQ(CursorRows(*cursor), (std::vector<std::vector<std::string>>{{"1", "2"}, {"2", "5"}}));
  Insert("Items", {{int64_t(3), int64_t(4)}});
  cursor = statement->ExecuteStatement();
  EXPECT_EQ(CursorRows(*cursor),
            (std::vector<std::vector<std::string>>{{"1", "2"}, {"2", "5"}, {"3", "9"}}));
  Free(statement);
}

}  // namespace
}  // namespace brn::testing
