// Results of more rows than one batch of appended rows: long text and BLOB
// cells, reading in the result's index order, and the rows a cancelled
// build keeps.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "execution/queries/query_manager.h"
#include "execution/queries/query_test_support.h"
#include "storage/tables/table_manager.h"

namespace brn::testing {
namespace {

using BatchedRows = std::vector<std::vector<std::string>>;

constexpr int64_t kBatchedItems = 2 * TBRNRowAppender::kRowsPerBatch + 500;

std::string BatchedNote(int64_t id) {
  return std::string(200, char('a' + id % 26)) + std::to_string(id);
}

// Every seventh row has a CLOB of several thousand bytes, the others NULL.
std::string BatchedData(int64_t id) {
  return id % 7 == 0 ? std::string(3000 + size_t(id % 1000), char('A' + id % 26)) : "NULL";
}

struct BatchedResultTest : QueryTest {
  BatchedResultTest() {
    createItems();
    std::vector<CellRow> rows;
    for (int64_t id = 1; id <= kBatchedItems; ++id) {
      CellRow row{id, (id * 37) % 101, BatchedNote(id)};
      if (id % 7 == 0) row.push_back(BatchedData(id));
      rows.push_back(row);
    }
    Insert("Items", rows);
    // The rows in ORDER BY Qty order: rows of equal Qty in the order read.
    for (int64_t id = 1; id <= kBatchedItems; ++id)
      Ordered.push_back(
          {std::to_string(id), std::to_string((id * 37) % 101), BatchedNote(id), BatchedData(id)});
    std::stable_sort(Ordered.begin(), Ordered.end(), [](const auto& a, const auto& b) {
      return std::stoi(a[1]) < std::stoi(b[1]);
    });
  }
  ~BatchedResultTest() override {
    if (statement_ != nullptr) Free(statement_);
  }

  // The query, built into its result table (no ORDER BY index on Qty).
  TBRNLocalStatementManager* Statement() {
    statement_ = Prepare("SELECT ID, Qty, Note, Data FROM Items WHERE ID > 0 ORDER BY Qty");
    statement_->RequestSensitive = false;
    return statement_;
  }

  BatchedRows Ordered;

 private:
  // Items (ID primary key, Qty, Note CHAR(240), Data CLOB).
  void createItems() {
    TBRNBaseTable* table = Shop->CreateTable("Items");
    try {
      table->AddRowIDColumn();
      const std::vector<ColumnSpec> columns = {
          {"ID", dtInteger}, {"Qty", dtInteger}, {"Note", dtChar, 240}, {"Data", dtLob}};
      for (const ColumnSpec& definition : columns) {
        auto column = std::make_unique<TBRNColumn>(Shop->Catalog.get());
        column->Name = definition.Name;
        column->SetDataType(definition.Type);
        if (definition.Length != 0) column->SetLength(definition.Length);
        if (definition.Type == dtLob) column->SetSubType(stClob);
        table->Columns->AddObject(column.get());
        column.release();
      }
      AddTableKey(table, "PK", kConstraintPrimaryKey, {"ID"});
      Shop->CommitCreateTable(table);
    } catch (...) {
      Shop->RollbackCreateTable(table);
      throw;
    }
  }

  TBRNLocalStatementManager* statement_ = nullptr;
};

TEST_F(BatchedResultTest, AResultOfSeveralBatchesReadsInIndexOrderWithItsLongCells) {
  TBRNLocalStatementManager* statement = Statement();
  TBRNCursor* cursor = statement->ExecuteStatement();
  ASSERT_NE(cursor, nullptr);
  EXPECT_FALSE(statement->Query->Sensitive);
  EXPECT_EQ(CursorRows(*cursor), Ordered);
}

// Cancelled halfway, past the first batch: the rows kept are whole rows
// (every cell as stored) and read in index order; the next execution
// builds all of them.
TEST_F(BatchedResultTest, ACancelledBuildKeepsWholeRowsOfEveryEndedBatch) {
  Session->SetProgressTimeInterval(0);
  Session->Events.OnProgress = [&](int32_t percent, bool& proceed) {
    if (percent >= 60) proceed = false;
  };
  TBRNLocalStatementManager* statement = Statement();
  TBRNCursor* cursor = statement->ExecuteStatement();
  ASSERT_NE(cursor, nullptr);
  const BatchedRows partial = CursorRows(*cursor);
  EXPECT_GT(partial.size(), size_t(TBRNRowAppender::kRowsPerBatch));
  EXPECT_LT(partial.size(), size_t(kBatchedItems));
  for (size_t i = 0; i < partial.size(); ++i) {
    const int64_t id = std::stoll(partial[i][0]);
    EXPECT_EQ(partial[i], (std::vector<std::string>{partial[i][0], std::to_string((id * 37) % 101),
                                                    BatchedNote(id), BatchedData(id)}));
    if (i > 0) {
      EXPECT_LE(std::stoi(partial[i - 1][1]), std::stoi(partial[i][1]));
    }
  }

  Session->Events.OnProgress = nullptr;
  cursor = statement->ExecuteStatement();
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(CursorRows(*cursor), Ordered);
}

}  // namespace
}  // namespace brn::testing
