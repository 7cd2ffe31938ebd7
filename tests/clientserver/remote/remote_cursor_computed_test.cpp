// Computed columns of a remote cursor are compiled and computed on the
// client: they read what a local cursor of the server's own engine reads on
// the same rows, NULLs included, and computing them sends nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "clientserver/remote/remote_cursor.h"
#include "clientserver/remote/remote_managers.h"
#include "clientserver/remote/remote_session_manager.h"
#include "clientserver/remote/remote_test_support.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/cursors/cursor_columns.h"

namespace brn {
namespace {

// A table whose computed columns cover arithmetic on integers and decimals,
// a string function, a comparison and a CASE on NULL, and rows that give
// each of them NULL operands.
constexpr const char* kCreateCalc =
    "CREATE TABLE Calc (ID INTEGER PRIMARY KEY, N INTEGER, Label VARCHAR(20), "
    "Price DECIMAL(10,2), "
    "Doubled INTEGER COMPUTED ALWAYS AS (N * 2), "
    "Shout VARCHAR(30) COMPUTED ALWAYS AS (UPPER(Label) || '!'), "
    "Total DECIMAL(12,2) COMPUTED ALWAYS AS (Price * N), "
    "Big BOOLEAN COMPUTED ALWAYS AS (N > 10), "
    "Described VARCHAR(20) COMPUTED ALWAYS AS "
    "(CASE WHEN Label IS NULL THEN 'none' ELSE Label END))";

const char* const kComputed[] = {"Doubled", "Shout", "Total", "Big", "Described"};

// Each value of a row as text, "NULL" for NULL.
struct RowView {
  std::vector<std::string> Values;
  bool operator==(const RowView&) const = default;
};

void PrintTo(const RowView& view, std::ostream* out) {
  for (const std::string& value : view.Values) *out << value << " | ";
}

using test::ColumnOf;

std::string Text(TBRNCursorRow& row, const std::string& name) {
  TBRNValue& value = *row.Values.GetItem(ColumnOf(row.GetCursor(), name));
  return value.GetNull() ? "NULL" : value.GetAsString();
}

// Every row of the cursor in primary-key order, the computed columns only.
std::vector<RowView> ReadAll(TBRNCursor& cursor) {
  TBRNCursorIndexes& indexes = cursor.GetIndexes();
  for (int32_t i = 0; i < indexes.Count(); ++i)
    if (indexes.GetItem(i)->IndexType == kIndexPrimaryKey) cursor.SetActiveIndex(i);
  std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
  std::vector<RowView> rows;
  for (cursor.FirstRow(); !cursor.GetEof(); cursor.NextRow()) {
    cursor.GetCurrentRow(*row, false);
    RowView view;
    view.Values.push_back(Text(*row, "ID"));
    for (const char* name : kComputed) view.Values.push_back(Text(*row, name));
    rows.push_back(view);
  }
  return rows;
}

class RemoteComputedColumnsTest : public test::RemoteTest {
 protected:
  void SetUp() override {
    RemoteTest::SetUp();
    Db = OpenTestDatabase();
    ASSERT_NE(Db, nullptr);
    Exec(Db, kCreateCalc);
    Exec(Db,
         "INSERT INTO Calc (ID, N, Label, Price) VALUES (1, 5, 'apple', 1.25), "
         "(2, NULL, NULL, NULL), (3, 20, 'Pear', 0.50), (4, -3, '', 2.00)");
    OpenLocalTwin();
  }

  void TearDown() override {
    CloseLocalTwin();
    RemoteTest::TearDown();
  }

  TBRNDatabaseManager* Db = nullptr;
};

TEST_F(RemoteComputedColumnsTest, ReadTheValuesOfALocalCursor) {
  for (int32_t rowsPerBlock : {1, 3}) {
    SCOPED_TRACE(rowsPerBlock);
    std::unique_ptr<TBRNCursor> remote(Db->OpenTable("", "Calc", false, false));
    static_cast<TBRNRemoteCursor&>(*remote).RowsPerBlock = rowsPerBlock;
    // The local database's cursor table owns its cursors and frees them
    // when the database closes.
    TBRNCursor* local = LocalDatabase->OpenTable("", "Calc", false, false);
    const std::vector<RowView> remoteRows = ReadAll(*remote);
    const std::vector<RowView> localRows = ReadAll(*local);
    ASSERT_EQ(remoteRows.size(), 4u);
    EXPECT_EQ(remoteRows, localRows);
    // Not merely equal: computed at all, and NULL where an operand is.
    EXPECT_EQ(remoteRows[0].Values[1], "10");
    EXPECT_EQ(remoteRows[0].Values[2], "APPLE!");
    EXPECT_EQ(remoteRows[1], (RowView{{"2", "NULL", "NULL", "NULL", "NULL", "none"}}));
  }
}

TEST_F(RemoteComputedColumnsTest, ComputingSendsNoRequest) {
  std::unique_ptr<TBRNCursor> cursor(Db->OpenTable("", "Calc", false, false));
  ASSERT_TRUE(cursor->FirstRow());
  std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
  cursor->GetCurrentRow(*row, false);
  const size_t before = Traces().size();
  ASSERT_GT(before, 0u) << "the session's requests are traced";
  for (const char* name : kComputed) Text(*row, name);
  // A change made on the client is computed on the client: the value of a
  // column that a computed column reads is its new operand.
  row->Values.GetItem(ColumnOf(*cursor, "N"))->SetAsInteger(7);
  EXPECT_EQ(Text(*row, "Doubled"), "14");
  EXPECT_EQ(Traces().size(), before);
}

}  // namespace
}  // namespace brn
