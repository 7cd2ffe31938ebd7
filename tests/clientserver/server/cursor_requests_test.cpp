#include "clientserver/server/cursor_requests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clientserver/server/request_dispatch.h"
#include "clientserver/server/row_blocks.h"
#include "clientserver/server/wire_database.h"
#include "foundation/text/number_text.h"

namespace brn {
namespace {

using test::WireClient;
using test::WireCursorShape;
using test::WireRowBlock;

// A table of ten rows (IDs 1-10) with a CLOB: row 4's is empty, the others
// hold a text; the cursor is open on it through Open Table.
class CursorRequestsTest : public test::WireDatabaseTest {
 protected:
  void SetUp() override {
    WireDatabaseTest::SetUp();
    Exec(client, database, "CREATE TABLE T (ID INTEGER PRIMARY KEY, Data CLOB)");
    for (int32_t id = 1; id <= 10; ++id) {
      const std::string data = id == 4 ? "" : "blob " + IntegerToString(id);
      Exec(client, database,
           "INSERT INTO T VALUES (" + IntegerToString(id) + ", '" + data + "')");
    }
    cursor = OpenTable(client, database, "T", shape);
    ASSERT_GT(cursor, 0);
    ASSERT_EQ(shape.ActiveIndex, 0) << "the primary key orders an opened table";
  }

  const TBRNColumn& Column(const std::string& name) {
    return *static_cast<TBRNColumn*>(shape.Columns().FindByName(name, true));
  }

  // The IDs of a block's rows.
  std::vector<int32_t> Ids(const WireRowBlock& block) {
    std::vector<int32_t> ids;
    for (const auto& entry : block.Entries) ids.push_back(entry.Int32Cell(Column("ID")));
    return ids;
  }

  // Sends a move: code, the cursor, its own fields (written by fields), P
  // for the row with ID position when position > 0, and R.
  WireRowBlock Move(int32_t code, int32_t rows, int32_t position = 0,
                    const std::vector<int32_t>& fields = {}) {
    client.Begin(code);
    client.Int32(cursor);
    for (int32_t field : fields) client.Int32(field);
    if (position > 0) WritePosition(client, shape, position);
    client.Int32(rows);
    const int32_t reply = client.Call();
    EXPECT_EQ(reply, 0) << (reply != 0 ? client.ReadError().Message : "");
    if (reply != 0) return {};
    ReadState(client);
    return ReadBlock(client, shape);
  }

  // Read BLOB of a reference; the reply code (the length and bytes read
  // into data when 0).
  int32_t ReadBlob(int32_t version, int32_t block, std::string& data) {
    client.Begin(190);
    client.Int32(cursor);
    client.Int32(version);
    client.Int32(block);
    client.Bool(false);
    const int32_t code = client.Call();
    if (code != 0) return code;
    const int32_t length = client.ReadInt32();
    data = client.ReadRaw(length);
    EXPECT_EQ(client.ReplyRemaining(), 0);
    return code;
  }


  // The row of an entry as an edit request carries it: the stream form,
  // with the modified flags (every value modified) when withFlags, then an
  // empty BLOB list.
  void WriteRow(const test::WireRowEntry& entry, bool withFlags) {
    client.Raw(entry.Row.data(), int32_t(entry.Row.size()));
    if (withFlags) {
      for (int32_t i = 0; i < shape.Columns().Count(); ++i) client.Bool(true);
    }
    client.Int32(0);
  }

  // The IDs of every row of the table, read through a second cursor.
  std::vector<int32_t> TableIds() {
    WireCursorShape other;
    const int32_t handle = OpenTable(client, database, "T", other);
    client.Begin(210);
    client.Int32(handle);
    client.Int32(100);
    EXPECT_EQ(client.Call(), 0);
    ReadState(client);
    WireRowBlock block = ReadBlock(client, other);
    client.Begin(184);
    client.Int32(handle);
    EXPECT_EQ(client.Call(), 0);
    std::vector<int32_t> ids;
    const TBRNColumn& id = *static_cast<TBRNColumn*>(other.Columns().FindByName("ID", true));
    for (const auto& entry : block.Entries) ids.push_back(entry.Int32Cell(id));
    return ids;
  }

  WireCursorShape shape;
  int32_t cursor = 0;
};

// The blocks the moves give, as one table: which rows in which order, the
// current entry, and BOF and EOF as the move left them.
TEST_F(CursorRequestsTest, RowBlocksOfTheMoves) {
  struct Case {
    const char* name;
    int32_t code;
    std::vector<int32_t> fields;
    int32_t position;  // P for the row with this ID (0: none sent)
    int32_t rows;
    std::vector<int32_t> ids;
    int32_t current;  // index of the current entry
    bool bof;
    bool eof;
  };
  const std::vector<Case> cases = {
      {"First Row", 210, {}, 0, 4, {1, 2, 3, 4}, 0, true, false},
      // Fewer rows than asked near the end; EOF is as before the read-ahead.
      {"Set to Row # near the end", 215, {8}, 0, 5, {8, 9, 10}, 0, false, false},
      {"Next Row from row 8", 212, {}, 8, 5, {9, 10}, 0, false, false},
      {"Next Row from the last row", 212, {}, 10, 5, {10}, 0, false, true},
      // Backward: the block ends with the current row, offset at its entry.
      {"Prior Row onto the third row", 213, {}, 4, 10, {1, 2, 3}, 2, false, false},
      {"Last Row", 211, {}, 0, 4, {7, 8, 9, 10}, 3, false, true},
      {"Last Row, one per block", 211, {}, 0, 1, {10}, 0, false, true},
      {"Prior Row from the first row", 213, {}, 1, 3, {1}, 0, true, false},
      // Rows per block below 1 are taken as 1.
      {"First Row, zero per block", 210, {}, 0, 0, {1}, 0, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WireRowBlock block = Move(c.code, c.rows, c.position, c.fields);
    EXPECT_EQ(Ids(block), c.ids);
    EXPECT_EQ(block.CurrentIndex, c.current);
    EXPECT_EQ(block.Offset, c.current * shape.EntryLength());
    EXPECT_EQ(block.Bof, c.bof);
    EXPECT_EQ(block.Eof, c.eof);
    EXPECT_EQ(client.ReplyRemaining(), 0);
  }
}

TEST_F(CursorRequestsTest, RowsPerBlockAreClamped) {
  EXPECT_EQ(ClampRowsPerBlock(-5), 1);
  EXPECT_EQ(ClampRowsPerBlock(0), 1);
  EXPECT_EQ(ClampRowsPerBlock(100), 100);
  EXPECT_EQ(ClampRowsPerBlock(70000), 65536);
  // A huge request reads what the table has and no more.
  WireRowBlock block = Move(210, 0x7fffffff);
  EXPECT_EQ(block.Entries.size(), 10u);
}

// Read BLOB serves the references of the rows the client was shown: the
// data of a shown BLOB, length 0 for an empty one; a reference the client
// was not shown, or that no row holds, gets 1103 and no bytes.
TEST_F(CursorRequestsTest, ReadBlobServesOnlyReferencesTheClientWasShown) {
  WireRowBlock first = Move(210, 5);
  ASSERT_EQ(first.Entries.size(), 5u);
  const TBRNColumn& data = Column("Data");
  std::string bytes;
  ASSERT_EQ(ReadBlob(first.Entries[1].Version(), first.Entries[1].Int32Cell(data), bytes), 0);
  EXPECT_EQ(bytes, "blob 2");
  bytes = "x";
  ASSERT_EQ(ReadBlob(first.Entries[3].Version(), first.Entries[3].Int32Cell(data), bytes), 0);
  EXPECT_EQ(bytes, "") << "row 4's BLOB is empty";

  // Row 2's BLOB once the client holds another block.
  const int32_t version = first.Entries[1].Version();
  const int32_t block = first.Entries[1].Int32Cell(data);
  Move(211, 2);
  for (auto [v, b] : {std::pair{version, block}, std::pair{version, block + 1000},
                      std::pair{version + 77, block}}) {
    ASSERT_EQ(ReadBlob(v, b, bytes), kBRNInvalidRequestCode);
    EXPECT_EQ(client.ReadError().Message, kBRNInvalidRequestMessage);
    EXPECT_EQ(client.ReplyRemaining(), 0) << "no bytes";
  }
}

TEST_F(CursorRequestsTest, UnknownAndFreedCursorHandlesAre1103) {
  for (int32_t handle : {0, -1, cursor + 1, 99999}) {
    client.Begin(210);
    client.Int32(handle);
    client.Int32(1);
    EXPECT_EQ(client.Call(), kBRNInvalidRequestCode) << handle;
  }
  client.Begin(184);
  client.Int32(cursor);
  ASSERT_EQ(client.Call(), 0);
  for (int32_t code : {184, 210, 190}) {
    client.Begin(code);
    client.Int32(cursor);
    client.Int32(1);
    client.Int32(1);
    client.Bool(false);
    EXPECT_EQ(client.Call(), kBRNInvalidRequestCode) << code;
  }
  // The codes of cursor operations no request carries.
  for (int32_t code : {182, 191, 242, 244}) {
    client.Begin(code);
    client.Int32(cursor);
    EXPECT_EQ(client.Call(), kBRNInvalidRequestCode) << code;
  }
}

// An edit names its row by the number, version and update counter the
// client sends: a row the cursor's last block did not show (outside its
// filter, or a number the client made up) is refused with the cursor's
// missing-row error and stays as it was.
TEST_F(CursorRequestsTest, EditsReachOnlyRowsTheCursorShows) {
  constexpr int32_t kRowNotVisible = 1010;
  WireRowBlock all = Move(210, 10);
  ASSERT_EQ(all.Entries.size(), 10u);
  const test::WireRowEntry row2 = all.Entries[1];

  // A filter that leaves rows 6-10; the client now holds the block of 6-8.
  client.Begin(222);
  client.Int32(cursor);
  client.Str("ID > 5");
  client.Bool(false);
  client.Bool(false);
  client.Bool(true);
  ASSERT_EQ(client.Call(), 0);
  const int32_t filter = client.ReadInt32();
  ASSERT_EQ(Ids(Move(224, 3, 10, {filter})), (std::vector<int32_t>{10}));
  ASSERT_EQ(Ids(Move(210, 3)), (std::vector<int32_t>{6, 7, 8}));

  struct Case {
    const char* name;
    int32_t code;
    bool withFlags;
    bool positioned;
  };
  const std::vector<Case> cases = {
      {"Lock Row", 230, false, false},
      {"Get Current Row", 234, false, true},
      {"Update Row", 236, true, true},
      {"Delete Row", 237, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    client.Begin(c.code);
    client.Int32(cursor);
    WriteRow(row2, c.withFlags);
    if (c.code == 230) {
      client.Int32(-1);
      client.Int32(-1);
    }
    if (c.positioned) {
      WritePosition(client, shape, 6);
      client.Int32(3);
    }
    ASSERT_EQ(client.Call(), kRowNotVisible);
  }
  EXPECT_EQ(TableIds(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

  // A row of the block is deleted; the block after it starts at its
  // neighbour.
  WireRowBlock shown = Move(210, 3);
  client.Begin(237);
  client.Int32(cursor);
  WriteRow(shown.Entries[1], false);
  WritePosition(client, shape, 7);
  client.Int32(2);
  ASSERT_EQ(client.Call(), 0) << client.ReadError().Message;
  ReadState(client);
  EXPECT_EQ(Ids(ReadBlock(client, shape)), (std::vector<int32_t>{8, 9}));
  EXPECT_EQ(TableIds(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 8, 9, 10}));
}

// The embedded streams of Load From Stream and Apply Cached Updates are
// checked against the bytes that arrived before anything is applied.
TEST_F(CursorRequestsTest, EmbeddedStreamLengthsAreCheckedFirst) {
  // A stream of the table's rows (with its length), saved over the wire.
  client.Begin(241);
  client.Int32(cursor);
  WritePosition(client, shape, 1);
  client.Int32(1);
  ASSERT_EQ(client.Call(), 0);
  const int32_t length = client.ReadInt32();
  const std::string stream = client.ReadRaw(length);
  ReadState(client);
  ReadBlock(client, shape);

  Exec(client, database, "CREATE TABLE U (ID INTEGER PRIMARY KEY, Data CLOB)");
  WireCursorShape target;
  const int32_t u = OpenTable(client, database, "U", target);
  struct Case {
    const char* name;
    int32_t code;
    int32_t statedLength;
    int32_t sentBytes;
    bool withPosition;
  };
  const int32_t n = int32_t(stream.size());
  const std::vector<Case> cases = {
      {"Load, length beyond the message", 240, n + 1, n, true},
      {"Load, negative length", 240, -1, n, true},
      {"Load, P and R missing", 240, n, n, false},
      {"Apply, length beyond the message", 243, n + 1, n, true},
      {"Apply, P and R missing", 243, n, n, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    client.Begin(c.code);
    client.Int32(u);
    if (c.code == 243) client.Bool(false);
    client.Int32(c.statedLength);
    client.Raw(stream.data(), c.sentBytes);
    if (c.withPosition && c.statedLength <= c.sentBytes) {
      WritePosition(client, target, 1);
      client.Int32(1);
    }
    EXPECT_EQ(client.Call(), kBRNInvalidRequestCode);
  }
  // An empty stream is the stream's own error.
  client.Begin(240);
  client.Int32(u);
  client.Int32(0);
  WritePosition(client, target, 1);
  client.Int32(1);
  EXPECT_EQ(client.Call(), 1003);
  client.Begin(210);
  client.Int32(u);
  client.Int32(10);
  ASSERT_EQ(client.Call(), 0);
  EXPECT_EQ(ReadState(client).RowCount, 0) << "nothing was applied";

  // The whole stream loads; the block shows the first row after the load.
  client.Begin(240);
  client.Int32(u);
  client.Int32(n);
  client.Raw(stream.data(), n);
  WritePosition(client, target, 1);
  client.Int32(2);
  ASSERT_EQ(client.Call(), 0) << client.ReadError().Message;
  EXPECT_EQ(ReadState(client).RowCount, 10);
}

// A row with a 1 MB CLOB travels in one cursor stream from one table to
// another: the message cap bounds it, not the size of a stream block.
TEST_F(CursorRequestsTest, AMegabyteClobSurvivesSaveAndLoad) {
  const std::string big(1024 * 1024, 'm');
  Exec(client, database, "DELETE FROM T");
  Exec(client, database, "INSERT INTO T VALUES (1, '" + big + "')");
  Move(210, 1);
  client.Begin(241);
  client.Int32(cursor);
  WritePosition(client, shape, 1);
  client.Int32(1);
  ASSERT_EQ(client.Call(), 0) << client.ReadError().Message;
  const int32_t length = client.ReadInt32();
  ASSERT_GT(length, int32_t(big.size()));
  const std::string stream = client.ReadRaw(length);

  Exec(client, database, "CREATE TABLE U (ID INTEGER PRIMARY KEY, Data CLOB)");
  WireCursorShape target;
  const int32_t u = OpenTable(client, database, "U", target);
  client.Begin(240);
  client.Int32(u);
  client.Int32(length);
  client.Raw(stream.data(), length);
  WritePosition(client, target, 1);
  client.Int32(1);
  ASSERT_EQ(client.Call(), 0) << client.ReadError().Message;
  ReadState(client);
  WireRowBlock block = ReadBlock(client, target);
  ASSERT_EQ(block.Entries.size(), 1u);
  const TBRNColumn& data = *static_cast<TBRNColumn*>(target.Columns().FindByName("Data", true));
  cursor = u;  // ReadBlob's cursor
  std::string bytes;
  ASSERT_EQ(ReadBlob(block.Entries[0].Version(), block.Entries[0].Int32Cell(data), bytes), 0);
  EXPECT_EQ(bytes, big);
}

}  // namespace
}  // namespace brn
