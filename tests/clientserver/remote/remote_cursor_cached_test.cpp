// Cached updates through a remote cursor: the cache lives on the client,
// its edits reach the server's table in one Apply Cached Updates request,
// all or nothing, and another session sees none of them before.
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
#include "execution/cursors/cached_updates.h"
#include "execution/cursors/local_cursor.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "storage/cursors/cursor_columns.h"

namespace brn {
namespace {

using Rows = std::vector<std::string>;

using test::ColumnOf;

TBRNValue& Value(TBRNCursorRow& row, const std::string& name) {
  return *row.Values.GetItem(ColumnOf(row.GetCursor(), name));
}

int32_t ErrorOf(const std::function<void()>& work) {
  try {
    work();
  } catch (const EBRNException& error) {
    return error.ErrorCode;
  }
  return 0;
}

class RemoteCachedUpdatesTest : public test::RemoteTest {
 protected:
  void SetUp() override {
    RemoteTest::SetUp();
    Db = OpenTestDatabase();
    Exec(Db, "CREATE TABLE Items (ID INTEGER PRIMARY KEY, Name VARCHAR(20), Qty INTEGER)");
    Exec(Db, "INSERT INTO Items VALUES (1, 'one', 10), (2, 'two', 20), (3, 'three', 30)");
    Other = NewSession();
    OtherDb = Other->OpenDatabase("RemoteTest", kBRNLockShared);
  }

  void TearDown() override {
    if (Other) {
      Other->CloseDatabase(OtherDb);
      Other->Logout();
      Other.reset();
    }
    RemoteTest::TearDown();
  }

  // A cursor of Session on table, ordered by its primary key; the
  // database's cursor table owns it.
  TBRNRemoteCursor& Open(TBRNDatabaseManager* database, const std::string& table) {
    auto* remote = dynamic_cast<TBRNRemoteCursor*>(database->OpenTable("", table, false, false));
    if (remote == nullptr) throw std::logic_error("not a remote cursor");
    TBRNCursorIndexes& indexes = remote->GetIndexes();
    for (int32_t i = 0; i < indexes.Count(); ++i)
      if (indexes.GetItem(i)->IndexType == kIndexPrimaryKey) remote->SetActiveIndex(i);
    return *remote;
  }

  // Items as the other session sees it, "id name qty" in key order.
  Rows SeenByOther() {
    TBRNRemoteCursor& cursor = Open(OtherDb, "Items");
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    Rows rows;
    for (cursor.FirstRow(); !cursor.GetEof(); cursor.NextRow()) {
      cursor.GetCurrentRow(*row, false);
      rows.push_back(Value(*row, "ID").GetAsString() + " " + Value(*row, "Name").GetAsString() +
                     " " + Value(*row, "Qty").GetAsString());
    }
    delete &cursor;
    return rows;
  }

  // Edits of the cache cursor, found by a walk as a client would.
  static bool Seek(TBRNCursor& cursor, TBRNCursorRow& row, int32_t id) {
    for (bool on = cursor.FirstRow(); on && !cursor.GetEof(); on = cursor.NextRow()) {
      cursor.ReadRow(row);
      if (Value(row, "ID").GetAsInteger() == id) return true;
    }
    return false;
  }
  static void Update(TBRNCursor& cursor, int32_t id, int32_t qty) {
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    ASSERT_TRUE(Seek(cursor, *row, id)) << id;
    cursor.GetCurrentRow(*row, true);
    Value(*row, "Qty").SetAsInteger(qty);
    ASSERT_TRUE(cursor.UpdateRow(*row));
  }
  static void Insert(TBRNCursor& cursor, int32_t id, const std::string& name, int32_t qty) {
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    cursor.InitializeRow(*row);
    Value(*row, "ID").SetAsInteger(id);
    Value(*row, "Name").SetAsString(name);
    Value(*row, "Qty").SetAsInteger(qty);
    ASSERT_TRUE(cursor.InsertRow(*row));
  }
  static void Delete(TBRNCursor& cursor, int32_t id) {
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    ASSERT_TRUE(Seek(cursor, *row, id)) << id;
    ASSERT_TRUE(cursor.DeleteRow(*row));
  }

  TBRNDatabaseManager* Db = nullptr;
  std::unique_ptr<TBRNRemoteSessionManager> Other;
  TBRNDatabaseManager* OtherDb = nullptr;
  const Rows initial = {"1 one 10", "2 two 20", "3 three 30"};
};

TEST_F(RemoteCachedUpdatesTest, EditsReachOtherSessionsOnlyWhenApplied) {
  TBRNRemoteCursor& cursor = Open(Db, "Items");
  TBRNCursor* cache = cursor.StartCachedUpdates();
  ASSERT_NE(cache, nullptr);
  EXPECT_EQ(cache->GetRowCount(), 3) << "the cache starts as a copy of the server's rows";

  ClearTraces();
  Update(*cache, 2, 22);
  Insert(*cache, 4, "four", 40);
  Delete(*cache, 1);
  EXPECT_EQ(CountRequests(kOpInsertRow) + CountRequests(kOpUpdateRow) +
                CountRequests(kOpDeleteRow),
            0)
      << "edits of the cache stay on the client";
  EXPECT_EQ(SeenByOther(), initial);

  cursor.ApplyCachedUpdates(false);
  EXPECT_EQ(CountRequests(kOpApplyCachedUpdates), 1);
  const Rows applied = {"2 two 22", "3 three 30", "4 four 40"};
  EXPECT_EQ(SeenByOther(), applied);
  EXPECT_EQ(cursor.GetRowCount(), 3) << "the reply's state follows the apply";

  // Cancel drops the edits since the last apply; the cache stays usable.
  Update(*cache, 3, 33);
  cursor.CancelCachedUpdates();
  cursor.ApplyCachedUpdates(false);
  EXPECT_EQ(SeenByOther(), applied) << "cancel then apply applies nothing";
  Update(*cache, 3, 34);
  cursor.ApplyCachedUpdates(false);
  EXPECT_EQ(SeenByOther().at(1), "3 three 34");
}

TEST_F(RemoteCachedUpdatesTest, AFailingEditAppliesNothingAndKeepsTheCache) {
  TBRNRemoteCursor& cursor = Open(Db, "Items");
  TBRNCursor* cache = cursor.StartCachedUpdates();
  Update(*cache, 1, 11);
  Insert(*cache, 5, "five", 50);
  Exec(OtherDb, "INSERT INTO Items VALUES (5, 'other', 0)");
  const Rows before = SeenByOther();

  EXPECT_NE(ErrorOf([&] { cursor.ApplyCachedUpdates(false); }), 0);
  EXPECT_EQ(SeenByOther(), before) << "the update before the failing insert was undone";

  // The edits wait in the cache for a retry once the conflict is gone.
  Exec(OtherDb, "DELETE FROM Items WHERE ID = 5");
  cursor.ApplyCachedUpdates(false);
  EXPECT_EQ(SeenByOther(), (Rows{"1 one 11", "2 two 20", "3 three 30", "5 five 50"}));
}

TEST_F(RemoteCachedUpdatesTest, UsageWithoutACacheIsMisuse) {
  TBRNRemoteCursor& cursor = Open(Db, "Items");
  EXPECT_THROW(cursor.ApplyCachedUpdates(false), std::logic_error);
  EXPECT_THROW(cursor.CancelCachedUpdates(), std::logic_error);
}

// The message cap bounds what one apply carries, not a reader's block size.
TEST_F(RemoteCachedUpdatesTest, AMegabyteBlobRowSurvivesTheApply) {
  Exec(Db, "CREATE TABLE Big (ID INTEGER PRIMARY KEY, Data BLOB)");
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char((i * 7919) >> 5);

  TBRNRemoteCursor& cursor = Open(Db, "Big");
  TBRNCursor* cache = cursor.StartCachedUpdates();
  std::unique_ptr<TBRNCursorRow> row = cache->CreateRow();
  cache->InitializeRow(*row);
  Value(*row, "ID").SetAsInteger(1);
  Value(*row, "Data").SetAsBytes(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(big.data()), big.size()));
  ASSERT_TRUE(cache->InsertRow(*row));
  cursor.ApplyCachedUpdates(false);

  TBRNRemoteCursor& seen = Open(OtherDb, "Big");
  std::unique_ptr<TBRNCursorRow> copy = seen.CreateRow();
  ASSERT_TRUE(seen.FirstRow());
  seen.GetCurrentRow(*copy, false);
  TBRNBytes bytes = Value(*copy, "Data").GetAsBytes();
  EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == big) << "the BLOB differs";
  delete &seen;
}

// Requests whose update stream does not fit the bytes that arrived are
// refused before anything is applied.
TEST_F(RemoteCachedUpdatesTest, AStreamLongerThanTheRequestIsRefused) {
  TBRNRemoteCursor& cursor = Open(Db, "Items");
  auto* cache = dynamic_cast<TBRNLocalCursor*>(cursor.StartCachedUpdates());
  ASSERT_NE(cache, nullptr);
  Update(*cache, 2, 99);
  TBRNMemoryStream updates;
  Session->GetCachedUpdatesManager().SaveCachedUpdates(*cache, updates, false);
  const auto size = int32_t(updates.GetSize());
  ASSERT_GT(size, 0);

  struct Case {
    const char* Name;
    int32_t Length;
    bool WithPosition;
  };
  for (const Case& c : {Case{"beyond the end", size + 1000, true},
                        Case{"position missing", size, false}, Case{"negative", -1, true}}) {
    SCOPED_TRACE(c.Name);
    const int32_t error = ErrorOf([&] {
      TBRNRemoteCall call(*Session, kOpApplyCachedUpdates);
      TBRNMemoryStream& out = call.Request();
      out.WriteInteger(cursor.GetServerHandle());
      out.WriteBoolean(false);
      out.WriteInteger(c.Length);
      out.Write(updates.GetMemory(), size);
      if (c.WithPosition) {
        TBRNContainedBookmarkValues(&cursor).SaveToStream(out);
        out.WriteBoolean(false);
        out.WriteBoolean(false);
        out.WriteInteger(1);
      }
      call.Execute();
    });
    EXPECT_EQ(error, 1103);
    EXPECT_EQ(SeenByOther(), initial);
  }
  cursor.ApplyCachedUpdates(false);
  EXPECT_EQ(SeenByOther().at(1), "2 two 99");
}

}  // namespace
}  // namespace brn
