#include "clientserver/server/database_requests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clientserver/server/request_dispatch.h"
#include "clientserver/server/wire_database.h"
#include "foundation/text/number_text.h"

namespace brn {
namespace {

using test::WireClient;
using test::WireCursorShape;

// The in-memory database with T (IDs 1-3).
class DatabaseRequestsTest : public test::WireDatabaseTest {
 protected:
  void SetUp() override {
    WireDatabaseTest::SetUp();
    Exec(client, database, "CREATE TABLE T (ID INTEGER PRIMARY KEY, Name VARCHAR(20))");
    for (int32_t id = 1; id <= 3; ++id)
      Exec(client, database, "INSERT INTO T VALUES (" + IntegerToString(id) + ", 'n')");
  }

  int32_t CountRows(WireClient& c, int32_t db) {
    const int32_t statement = Prepare(c, db, "SELECT * FROM T");
    EXPECT_EQ(Execute(c, statement), 0);
    TBRNParamValues output;
    output.LoadOutputParams(c.ReplyStream());
    c.ReadBool();
    c.ReadStr();
    const int32_t rows = c.ReadInt32();
    c.Begin(252);
    c.Int32(statement);
    EXPECT_EQ(c.Call(), 0);
    return rows;
  }

  int32_t Transaction(WireClient& c, int32_t code, bool forceFlush = false,
                      bool flushOnly = false) {
    c.Begin(code);
    c.Int32(database);
    if (code == 40) {
      c.Int32(0);
      if (c.ClientVersion >= 20300) c.Int32(-1);
    }
    if (code == 41) {
      c.Bool(forceFlush);
      c.Bool(flushOnly);
    }
    return c.Call();
  }
};

TEST_F(DatabaseRequestsTest, CommitWithFlushOnlyLeavesTheTransactionOpen) {
  ASSERT_EQ(Transaction(client, 40), 0);
  Exec(client, database, "INSERT INTO T VALUES (4, 'n')");
  ASSERT_EQ(Transaction(client, 41, true, true), 0);
  // Still open: it commits once more, and only then is none open.
  ASSERT_EQ(Transaction(client, 41, false, false), 0) << client.ReadError().Message;
  EXPECT_NE(Transaction(client, 41, false, false), 0) << "no transaction is open any more";
  EXPECT_NE(Transaction(client, 42), 0);
  EXPECT_EQ(CountRows(client, database), 4);
}

// A statement without a cursor ends its reply with 0 where the descriptor
// would start; a query's reply carries the result descriptor, whose handle
// names a server cursor until the statement runs again or is freed.
TEST_F(DatabaseRequestsTest, ExecutionRepliesEndWithTheResultCursor) {
  const int32_t update = Prepare(client, database, "UPDATE T SET Name = 'm' WHERE ID > 1");
  ASSERT_EQ(Execute(client, update), 0);
  TBRNParamValues output;
  output.LoadOutputParams(client.ReplyStream());
  client.ReadBool();
  client.ReadStr();
  EXPECT_EQ(client.ReadInt32(), 2);
  client.ReadInt32();
  EXPECT_TRUE(client.ReadBool()) << "execution result";
  EXPECT_EQ(client.ReadInt32(), 0);
  EXPECT_EQ(client.ReplyRemaining(), 0);

  const int32_t query = Prepare(client, database, "SELECT ID FROM T WHERE ID >= 2");
  std::vector<int32_t> handles;
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(Execute(client, query), 0);
    output.LoadOutputParams(client.ReplyStream());
    client.ReadBool();
    EXPECT_NE(client.ReadStr(), "") << "plan requested";
    EXPECT_EQ(client.ReadInt32(), 2);
    client.ReadInt32();
    client.ReadBool();
    const int32_t handle = client.ReadInt32();
    ASSERT_GT(handle, 0);
    client.ReadStr();
    client.ReadBool();
    client.ReadBool();
    WireCursorShape shape;
    shape.Load(client.ReplyStream(), client.ClientVersion, true);
    EXPECT_EQ(ReadState(client).RowCount, 2);
    EXPECT_EQ(client.ReplyRemaining(), 0);
    client.Begin(210);
    client.Int32(handle);
    client.Int32(5);
    ASSERT_EQ(client.Call(), 0) << client.ReadError().Message;
    ReadState(client);
    EXPECT_EQ(ReadBlock(client, shape).Entries.size(), 2u);
    handles.push_back(handle);
  }
  client.Begin(252);
  client.Int32(query);
  ASSERT_EQ(client.Call(), 0);
  for (int32_t handle : handles) {
    client.Begin(210);
    client.Int32(handle);
    client.Int32(5);
    EXPECT_EQ(client.Call(), kBRNInvalidRequestCode) << "freed with its statement";
  }
}

TEST_F(DatabaseRequestsTest, UnknownHandlesAre1103) {
  const std::vector<int32_t> codes = {40, 41, 42, 123, 250, 251, 252, 261, 262, 361, 362, 364, 365,
                                      366, 367, 373};
  for (int32_t code : codes) {
    SCOPED_TRACE(code);
    client.Begin(code);
    client.Int32(4242);
    client.Int32(0);
    client.Int32(0);
    client.Int32(0);
    client.Int32(0);
    EXPECT_EQ(client.Call(), kBRNInvalidRequestCode);
  }
  // A Start Transaction whose table count the message cannot hold.
  client.Begin(40);
  client.Int32(database);
  client.Int32(1000000);
  EXPECT_EQ(client.Call(), kBRNInvalidRequestCode);
}

// Which fields each request and reply carries, by client version: errors
// with line and column from 1.09, the lock time-out of Start Transaction
// from 2.03, the output parameters of Execute Statement from 1.06 and its
// execution result from 2.08, the read-only flag of an opened table from
// 1.06 and its cursor columns from 2.03, Refresh's result from 2.01, the
// options of Lock Row from 2.04, the forms of Initialize Row (plain before
// 2.05, with modified flags from 2.05, with the BLOB list from 2.07), and
// the plain row form that a 2.07 client sends.
TEST_F(DatabaseRequestsTest, FieldsFollowTheClientVersion) {
  const std::vector<int64_t> versions = {10200, 10300, 10400, 10600, 10900, 20100, 20200,
                                         20300, 20400, 20500, 20700, 20800, 21400};
  for (int64_t version : versions) {
    SCOPED_TRACE(version);
    std::unique_ptr<WireClient> c = Connect(version);
    const int32_t db = c->OpenDatabase("Wire");

    // A compile error: its position from 1.09.
    c->Begin(250);
    c->Int32(db);
    c->Str("SELECT *\nFROM T WHERE");
    ASSERT_NE(c->Call(), 0);
    test::WireError error = c->ReadError();
    EXPECT_EQ(error.Line, version >= 10900 ? 2 : 0);
    EXPECT_EQ(error.Column > 0, version >= 10900);
    EXPECT_EQ(c->ReplyRemaining(), 0);

    ASSERT_EQ(Transaction(*c, 40), 0) << c->ReadError().Message;
    ASSERT_EQ(Transaction(*c, 42), 0);

    const int32_t query = Prepare(*c, db, "SELECT * FROM T");
    ASSERT_EQ(Execute(*c, query), 0);
    TBRNParamValues output;
    if (version >= 10600) output.LoadOutputParams(c->ReplyStream());
    c->ReadBool();
    c->ReadStr();
    EXPECT_EQ(c->ReadInt32(), 3);
    c->ReadInt32();
    if (version >= 20800) c->ReadBool();
    ASSERT_GT(c->ReadInt32(), 0);
    c->ReadStr();
    c->ReadBool();
    c->ReadBool();
    WireCursorShape result;
    result.Load(c->ReplyStream(), version, true);
    EXPECT_EQ(ReadState(*c).RowCount, 3);
    EXPECT_EQ(c->ReplyRemaining(), 0);

    WireCursorShape shape;
    const int32_t cursor = OpenTable(*c, db, "T", shape);
    EXPECT_EQ(c->ReplyRemaining(), 0);
    EXPECT_EQ(shape.Columns().Count(), 3) << "row identifier, ID and Name";

    c->Begin(210);
    c->Int32(cursor);
    c->Int32(1);
    ASSERT_EQ(c->Call(), 0);
    c->Begin(180);
    c->Int32(cursor);
    WritePosition(*c, shape, 1);
    c->Int32(1);
    ASSERT_EQ(c->Call(), 0);
    if (version >= 20100) c->ReadBool();
    ReadState(*c);
    test::WireRowBlock block = ReadBlock(*c, shape);
    ASSERT_EQ(block.Entries.size(), 1u);
    EXPECT_EQ(c->ReplyRemaining(), 0);

    c->Begin(233);
    c->Int32(cursor);
    ASSERT_EQ(c->Call(), 0);
    const int32_t rowLength = shape.EntryLength() - 4;
    const int32_t flags = version >= 20500 ? shape.Columns().Count() : 0;
    const int32_t blobList = version >= 20700 ? 4 : 0;
    EXPECT_EQ(c->ReplyRemaining(), rowLength + flags + blobList);

    // The rows of Lock Row and Unlock Row: plain from a 2.07 client.
    for (int32_t code : {230, 231}) {
      c->Begin(code);
      c->Int32(cursor);
      const std::string& row = block.Entries[0].Row;
      c->Raw(row.data(), int32_t(row.size()));
      if (version != 20700) c->Int32(0);
      if (code == 230 && version >= 20400) {
        c->Int32(-1);
        c->Int32(-1);
      }
      EXPECT_EQ(c->Call(), 0) << code << " " << c->ReadError().Message;
    }
  }
}

// A client that lost the reply to a request sends it again after its
// reconnect: the session sends the reply it kept instead of running the
// request twice. A Ping after the reconnect (what a client sends before a
// request of its own) clears what was kept, so the same request sent on
// purpose runs again. A kept reply above 1 MiB is not kept: the repeat is
// refused with 1101 and not run.
TEST_F(DatabaseRequestsTest, ARequestRepeatedAfterAReconnectRunsOnce) {
  Exec(client, database, "CREATE TABLE Log (N INTEGER, Text CLOB)");
  struct Case {
    const char* name;
    bool pingFirst;
    int32_t rowsAfter;
  };
  const std::vector<Case> cases = {
      {"lost reply, sent again", false, 1},
      {"sent again on purpose", true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exec(client, database, "DELETE FROM Log");
    auto first = std::make_unique<WireClient>();
    first->Open(port);
    const int32_t sessionId = first->ConnectSession().SessionID;
    ASSERT_EQ(first->Login(test::kWireAdministrator, test::kWireAdministratorPassword), 0);
    const int32_t db = first->OpenDatabase("Wire");
    const int32_t insert = Prepare(*first, db, "INSERT INTO Log VALUES (1, 'x')");
    ASSERT_EQ(Execute(*first, insert), 0);
    const std::string reply = first->ReadRaw(first->ReplyRemaining());
    first.reset();

    WireClient second;
    second.Open(port);
    ASSERT_EQ(second.ReconnectSession(sessionId), 0);
    if (c.pingFirst) {
      second.Begin(800);
      second.Send();
    }
    ASSERT_EQ(Execute(second, insert), 0);
    const std::string again = second.ReadRaw(second.ReplyRemaining());
    if (!c.pingFirst) {
      EXPECT_EQ(again, reply) << "the kept reply, byte for byte";
    }
    EXPECT_EQ(Exec(second, db, "SELECT * FROM Log"), c.rowsAfter);
  }

  // A reply above 1 MiB: Read BLOB of a CLOB of 1.2 MB.
  const std::string big(1200 * 1024, 'b');
  Exec(client, database, "INSERT INTO Log VALUES (2, '" + big + "')");
  auto first = std::make_unique<WireClient>();
  first->Open(port);
  const int32_t sessionId = first->ConnectSession().SessionID;
  ASSERT_EQ(first->Login(test::kWireAdministrator, test::kWireAdministratorPassword), 0);
  const int32_t db = first->OpenDatabase("Wire");
  Exec(*first, db, "DELETE FROM Log WHERE N <> 2");
  WireCursorShape shape;
  const int32_t cursor = OpenTable(*first, db, "Log", shape);
  first->Begin(210);
  first->Int32(cursor);
  first->Int32(1);
  ASSERT_EQ(first->Call(), 0);
  ReadState(*first);
  const test::WireRowEntry row = ReadBlock(*first, shape).Entries.at(0);
  const TBRNColumn& text = *static_cast<TBRNColumn*>(shape.Columns().FindByName("Text", true));
  auto readBlob = [&](WireClient& c) {
    c.Begin(190);
    c.Int32(cursor);
    c.Int32(row.Version());
    c.Int32(row.Int32Cell(text));
    c.Bool(false);
    return c.Call();
  };
  ASSERT_EQ(readBlob(*first), 0);
  EXPECT_EQ(first->ReadInt32(), int32_t(big.size()));
  first.reset();
  WireClient second;
  second.Open(port);
  ASSERT_EQ(second.ReconnectSession(sessionId), 0);
  ASSERT_EQ(readBlob(second), 1101);
  // Not a repeat any more: served.
  ASSERT_EQ(readBlob(second), 0);
  EXPECT_EQ(second.ReadInt32(), int32_t(big.size()));
}

}  // namespace
}  // namespace brn
