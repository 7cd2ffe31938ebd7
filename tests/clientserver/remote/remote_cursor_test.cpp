// The remote cursor against a real server: rows and BLOBs written through
// it, the block of rows that serves moves without requests, the requests
// each operation costs (counted in the session's trace), and a 1 MB BLOB
// through the cursor stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "clientserver/remote/remote_cursor.h"
#include "clientserver/remote/remote_managers.h"
#include "clientserver/remote/remote_session_manager.h"
#include "clientserver/remote/remote_test_support.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "storage/cursors/cursor_columns.h"

namespace brn {
namespace {

// The BLOB of row id: long enough to take a chain of blocks, different per
// row.
std::string BlobOf(int32_t id) {
  std::string text = "blob " + std::to_string(id) + ":";
  while (text.size() < 3000) text += char('a' + id % 26);
  return text;
}

void SetBlob(TBRNValue& value, const std::string& data) {
  value.SetAsBytes(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
}

std::string BlobText(TBRNValue& value) {
  TBRNBytes bytes = value.GetAsBytes();
  return std::string(bytes.begin(), bytes.end());
}

class RemoteCursorTest : public test::RemoteTest {
 protected:
  void SetUp() override {
    RemoteTest::SetUp();
    Db = OpenTestDatabase();
    ASSERT_NE(Db, nullptr);
  }

  // A cursor on table, ordered by its primary key.
  TBRNRemoteCursor& Open(const std::string& table) {
    TBRNCursor* cursor = Db->OpenTable("", table, false, false);
    auto* remote = dynamic_cast<TBRNRemoteCursor*>(cursor);
    if (remote == nullptr) throw std::logic_error("not a remote cursor");
    TBRNCursorIndexes& indexes = remote->GetIndexes();
    for (int32_t i = 0; i < indexes.Count(); ++i)
      if (indexes.GetItem(i)->IndexType == kIndexPrimaryKey) remote->SetActiveIndex(i);
    return *remote;
  }

  static int32_t ColumnOf(TBRNCursor& cursor, const std::string& name) {
    TBRNColumns& columns = cursor.GetTableColumns();
    for (int32_t i = 0; i < columns.Count(); ++i)
      if (columns.GetItem(i)->Name == name) return i;
    throw std::invalid_argument("no column " + name);
  }
  static TBRNValue& Value(TBRNCursorRow& row, const std::string& name) {
    return *row.Values.GetItem(ColumnOf(row.GetCursor(), name));
  }

  // Items (ID primary key, Name, Data BLOB) with rows 1..count inserted
  // through a remote cursor.
  void MakeItems(int32_t count) {
    Exec(Db, "CREATE TABLE Items (ID INTEGER PRIMARY KEY, Name VARCHAR(20), Data BLOB)");
    TBRNRemoteCursor& cursor = Open("Items");
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    for (int32_t id = 1; id <= count; ++id) {
      cursor.InitializeRow(*row);
      Value(*row, "ID").SetAsInteger(id);
      Value(*row, "Name").SetAsString("item " + std::to_string(id));
      SetBlob(Value(*row, "Data"), BlobOf(id));
      ASSERT_TRUE(cursor.InsertRow(*row)) << id;
    }
    delete &cursor;
  }

  // Requests of the codes sent since the last Mark.
  void Mark() { marks = Traces().size(); }
  int32_t SentSinceMark(std::initializer_list<int32_t> codes) {
    std::vector<TBRNRemoteSessionTrace> traces = Traces();
    int32_t count = 0;
    for (size_t i = marks; i < traces.size(); ++i) {
      if (traces[i].ReplyCode != -1) continue;
      for (int32_t code : codes)
        if (traces[i].RequestCode == code) ++count;
    }
    return count;
  }
  int32_t AnySentSinceMark() {
    std::vector<TBRNRemoteSessionTrace> traces = Traces();
    int32_t count = 0;
    for (size_t i = marks; i < traces.size(); ++i)
      if (traces[i].ReplyCode == -1) ++count;
    return count;
  }

  TBRNDatabaseManager* Db = nullptr;
  size_t marks = 0;
};

TEST_F(RemoteCursorTest, ThousandRowsWithBlobsComeBackInElevenFetches) {
  MakeItems(1000);
  TBRNRemoteCursor& cursor = Open("Items");
  cursor.RowsPerBlock = 100;
  std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();

  Mark();
  int32_t expected = 1;
  for (cursor.FirstRow(); !cursor.GetEof(); cursor.NextRow()) {
    cursor.GetCurrentRow(*row, false);
    ASSERT_EQ(Value(*row, "ID").GetAsInteger(), expected);
    ASSERT_EQ(Value(*row, "Name").GetAsString(), "item " + std::to_string(expected));
    ++expected;
  }
  EXPECT_EQ(expected, 1001);
  // First Row, nine Next Rows at the end of each block and the one that
  // finds the end.
  EXPECT_LE(SentSinceMark({kOpFirstRow, kOpStepNext, kOpStepPrior, kOpLastRow}), 11);
  EXPECT_EQ(SentSinceMark({kOpReadBlob}), 0) << "BLOBs are read only when asked for";

  // Every BLOB comes back whole through Read BLOB.
  for (int32_t id : {1, 2, 100, 101, 999, 1000}) {
    TBRNContainedCursorKeyValues key(&cursor);
    key.GetItem(0)->SetAsInteger(id);
    ASSERT_TRUE(cursor.FindRowByKey(key, false, false)) << id;
    cursor.GetCurrentRow(*row, false);
    EXPECT_EQ(BlobText(Value(*row, "Data")), BlobOf(id)) << id;
  }
}

TEST_F(RemoteCursorTest, MovesInsideTheBlockSendNothing) {
  MakeItems(30);
  struct Case {
    const char* name;
    int32_t rowsPerBlock;
    // What the case does after LastRow, and the ID it lands on.
    std::function<void(TBRNRemoteCursor&)> move;
    int32_t id;
    int32_t requests;
  };
  const std::vector<Case> cases = {
      {"PriorRow after LastRow, 10 per block", 10, [](TBRNRemoteCursor& c) { c.PriorRow(); }, 29,
       0},
      {"PriorRow after LastRow, 1 per block", 1, [](TBRNRemoteCursor& c) { c.PriorRow(); }, 29, 1},
      {"nine PriorRows after LastRow, 10 per block", 10,
       [](TBRNRemoteCursor& c) {
         for (int i = 0; i < 9; ++i) c.PriorRow();
       },
       21, 0},
      {"the tenth PriorRow leaves the block", 10,
       [](TBRNRemoteCursor& c) {
         for (int i = 0; i < 10; ++i) c.PriorRow();
       },
       20, 1},
      {"GetCurrentRow without ForUpdate", 1,
       [](TBRNRemoteCursor& c) {
         std::unique_ptr<TBRNCursorRow> row = c.CreateRow();
         c.GetCurrentRow(*row, false);
       },
       30, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TBRNRemoteCursor& cursor = Open("Items");
    cursor.RowsPerBlock = test.rowsPerBlock;
    cursor.LastRow();
    Mark();
    test.move(cursor);
    EXPECT_EQ(AnySentSinceMark(), test.requests);
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    cursor.ReadRow(*row);
    EXPECT_EQ(Value(*row, "ID").GetAsInteger(), test.id);
    delete &cursor;
  }
}

TEST_F(RemoteCursorTest, StepsWithoutReadingContinueFromTheRowTheCursorStandsOn) {
  // A caller that moves without reading each row (counting, skipping) must
  // not make the next block start from an older row.
  MakeItems(250);
  TBRNRemoteCursor& cursor = Open("Items");
  cursor.RowsPerBlock = 100;
  cursor.FirstRow();
  for (int i = 0; i < 150; ++i) cursor.NextRow();
  std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
  cursor.GetCurrentRow(*row, false);
  EXPECT_EQ(Value(*row, "ID").GetAsInteger(), 151);
  for (int i = 0; i < 120; ++i) cursor.PriorRow();
  cursor.GetCurrentRow(*row, false);
  EXPECT_EQ(Value(*row, "ID").GetAsInteger(), 31);
}

TEST_F(RemoteCursorTest, EditingTheCurrentRow) {
  MakeItems(5);
  TBRNRemoteCursor& cursor = Open("Items");
  std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
  TBRNContainedCursorKeyValues key(&cursor);
  key.GetItem(0)->SetAsInteger(3);
  ASSERT_TRUE(cursor.FindRowByKey(key, false, false));

  // Read for an edit: one request, which locks the row on the server.
  cursor.GetCurrentRow(*row, false);
  Mark();
  cursor.GetCurrentRow(*row, true);
  EXPECT_EQ(SentSinceMark({kOpGetCurrentRow}), 1);
  Value(*row, "Name").SetAsString("renamed");
  ASSERT_TRUE(cursor.UpdateRow(*row));
  EXPECT_EQ(Value(*row, "Name").GetAsString(), "renamed");
  EXPECT_EQ(BlobText(Value(*row, "Data")), BlobOf(3)) << "an unchanged BLOB stays";

  cursor.GetCurrentRow(*row, true);
  ASSERT_TRUE(cursor.DeleteRow(*row));
  EXPECT_EQ(cursor.GetRowCount(), 4);
  EXPECT_EQ(Exec(Db, "UPDATE Items SET Name = Name WHERE Name = 'renamed'"), 0);
}

// A row object never read before still gets the row the cursor stands on
// for update: the request names that row, not the empty one passed in.
TEST_F(RemoteCursorTest, ReadingForUpdateIntoAFreshRowTakesTheCurrentRow) {
  MakeItems(3);
  TBRNRemoteCursor& cursor = Open("Items");
  ASSERT_TRUE(cursor.FirstRow());
  cursor.NextRow();
  std::unique_ptr<TBRNCursorRow> fresh = cursor.CreateRow();
  cursor.GetCurrentRow(*fresh, true);
  EXPECT_EQ(Value(*fresh, "ID").GetAsInteger(), 2);
  Value(*fresh, "Name").SetAsString("fresh");
  ASSERT_TRUE(cursor.UpdateRow(*fresh));
  EXPECT_EQ(Exec(Db, "UPDATE Items SET Name = Name WHERE ID = 2 AND Name = 'fresh'"), 1);
}

TEST_F(RemoteCursorTest, RangesFiltersAndSearchesLandWhereTheServerPutsThem) {
  MakeItems(40);
  TBRNRemoteCursor& cursor = Open("Items");
  cursor.RowsPerBlock = 10;
  std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
  auto currentID = [&] {
    cursor.GetCurrentRow(*row, false);
    return Value(*row, "ID").GetAsInteger();
  };
  TBRNFilterHandle filter = 0;
  struct Case {
    const char* name;
    std::function<void()> operation;
    // The ID the cursor stands on afterwards, the rows it shows, and its
    // ranged and filtered flags (a range filters too).
    int32_t id;
    int32_t rows;
    bool ranged;
    bool filtered;
  };
  const std::vector<Case> cases = {
      {"range 10 to 20",
       [&] {
         TBRNContainedCursorKeyValues start(&cursor), end(&cursor);
         start.GetItem(0)->SetAsInteger(10);
         end.GetItem(0)->SetAsInteger(20);
         cursor.SetRange(start, end);
         EXPECT_EQ(cursor.GetRangeStartValues()->GetItem(0)->GetAsInteger(), 10);
         cursor.LastRow();
       },
       20, 11, true, true},
      {"range cancelled",
       [&] {
         cursor.CancelRange();
         EXPECT_TRUE(cursor.GetRangeEndValues()->GetItem(0)->GetNull());
         cursor.FirstRow();
       },
       1, 40, false, false},
      {"filter ID > 35 activated",
       [&] {
         filter = cursor.CreateFilter("ID > 35", false, false, false);
         cursor.ActivateFilter(filter);
         cursor.FirstRow();
       },
       36, 5, false, true},
      {"filter deactivated and dropped",
       [&] {
         cursor.DeactivateFilter(filter);
         cursor.DropFilter(filter);
         cursor.LastRow();
       },
       40, 40, false, false},
      {"locate by name",
       [&] {
         std::unique_ptr<TBRNMappedCursorColumns> columns = cursor.CreateMappedColumns("Name");
         TBRNContainedCursorColumnValues values(*columns);
         values.GetItem(0)->SetAsString("item 17");
         EXPECT_TRUE(cursor.LocateRow(*columns, values, 0, false));
       },
       17, 40, false, false},
      {"row number of another row",
       [&] {
         cursor.FirstRow();
         const int32_t number = cursor.GetRowNumber();
         cursor.LastRow();
         cursor.SetToRowNumber(number);
       },
       1, 40, false, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    test.operation();
    EXPECT_EQ(currentID(), test.id);
    EXPECT_EQ(cursor.GetRowCount(), test.rows);
    EXPECT_EQ(cursor.GetRanged(), test.ranged);
    EXPECT_EQ(cursor.GetFiltered(), test.filtered);
  }
  EXPECT_THROW(cursor.DropFilter(filter), EBRNException) << "a dropped filter is gone";

  cursor.EmptyCursor(false);
  EXPECT_EQ(cursor.GetRowCount(), 0);
  EXPECT_TRUE(cursor.FirstRow());
  EXPECT_TRUE(cursor.GetBof() && cursor.GetEof());
}

TEST_F(RemoteCursorTest, FiltersUnknownToTheCursorAreRefusedBeforeAnyRequest) {
  MakeItems(1);
  TBRNRemoteCursor& cursor = Open("Items");
  Mark();
  for (auto operation : {&TBRNCursor::DropFilter, &TBRNCursor::ActivateFilter,
                         &TBRNCursor::DeactivateFilter}) {
    try {
      (cursor.*operation)(7);
      ADD_FAILURE() << "an unknown filter was taken";
    } catch (const EBRNException& error) {
      EXPECT_EQ(error.ErrorCode, kFilterErrorCode);
      EXPECT_NE(std::string(error.what()).find("Filter not found"), std::string::npos);
    }
  }
  EXPECT_EQ(AnySentSinceMark(), 0);
}

TEST_F(RemoteCursorTest, MegabyteBlobRowSurvivesTheCursorStream) {
  Exec(Db, "CREATE TABLE Big (ID INTEGER PRIMARY KEY, Data BLOB)");
  Exec(Db, "CREATE TABLE Copy (ID INTEGER PRIMARY KEY, Data BLOB)");
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char((i * 7919) >> 5);

  TBRNRemoteCursor& source = Open("Big");
  std::unique_ptr<TBRNCursorRow> row = source.CreateRow();
  source.InitializeRow(*row);
  Value(*row, "ID").SetAsInteger(1);
  SetBlob(Value(*row, "Data"), big);
  ASSERT_TRUE(source.InsertRow(*row));

  TBRNMemoryStream stream;
  stream.WriteInteger(-1);  // the stream goes behind what is there
  source.SaveToStream(stream);
  EXPECT_GT(stream.GetSize(), int64_t(1 << 20));

  TBRNRemoteCursor& target = Open("Copy");
  stream.SetPosition(4);
  target.LoadFromStream(stream);
  EXPECT_EQ(stream.GetPosition(), stream.GetSize());
  EXPECT_EQ(target.GetRowCount(), 1);
  std::unique_ptr<TBRNCursorRow> copy = target.CreateRow();
  target.FirstRow();
  target.GetCurrentRow(*copy, false);
  EXPECT_EQ(Value(*copy, "ID").GetAsInteger(), 1);
  EXPECT_TRUE(BlobText(Value(*copy, "Data")) == big) << "the BLOB differs";
}

}  // namespace
}  // namespace brn
