// Cached updates: edits made through the cache cursor stay out of the
// table until applied, apply all at once or not at all, cancel drops them,
// the stream of update records round-trips and refuses damage, the keys a
// cache needs, and the private session's database going with its owner.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "execution/cursors/cached_updates.h"
#include "execution/cursors/local_cursor.h"
#include "execution/queries/query_test_support.h"
#include "foundation/core/memory_stream.h"
#include "foundation/files/file_manager.h"
#include "foundation/text/exception.h"

namespace brn::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

struct CachedUpdatesTest : QueryTest {
  void SetUp() override {
    CreateTable("Items", {{"Id", dtInteger}, {"Name", dtChar, 20}, {"Qty", dtInteger}});
    Insert("Items", {{int64_t(1), std::string("one"), int64_t(10)},
                     {int64_t(2), std::string("two"), int64_t(20)},
                     {int64_t(3), std::string("three"), int64_t(30)}});
  }

  // A plain cursor on a table of Shop; the cursor gives its manager back
  // when it is freed.
  std::unique_ptr<TBRNLocalCursor> OpenCursor(const std::string& table) {
    TBRNTableManager& manager = OpenTable(table);
    std::unique_ptr<TBRNCursor> cursor = manager.CreateCursor("Edit" + table, false, false, false);
    auto* local = dynamic_cast<TBRNLocalCursor*>(cursor.get());
    if (local == nullptr) throw std::logic_error("not a local cursor");
    cursor.release();
    return std::unique_ptr<TBRNLocalCursor>(local);
  }

  Rows Table() { return Query("SELECT Id, Name, Qty FROM Items ORDER BY Id"); }

  // Edits through cursor (positioned by a walk, as a client would).
  static bool Seek(TBRNCursor& cursor, TBRNCursorRow& row, int32_t id) {
    for (bool on = cursor.FirstRow(); on && !cursor.GetEof(); on = cursor.NextRow()) {
      cursor.ReadRow(row);
      if (!row.Values.GetItem(1)->GetNull() && row.Values.GetItem(1)->GetAsInteger() == id)
        return true;
    }
    return false;
  }
  static void Update(TBRNCursor& cursor, int32_t id, int32_t qty) {
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    ASSERT_TRUE(Seek(cursor, *row, id)) << id;
    cursor.GetCurrentRow(*row, true);
    row->Values.GetItem(3)->SetAsInteger(qty);
    ASSERT_TRUE(cursor.UpdateRow(*row));
  }
  static void Insert(TBRNCursor& cursor, int32_t id, const std::string& name, int32_t qty) {
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    cursor.InitializeRow(*row);
    row->Values.GetItem(1)->SetAsInteger(id);
    row->Values.GetItem(2)->SetAsString(name);
    row->Values.GetItem(3)->SetAsInteger(qty);
    ASSERT_TRUE(cursor.InsertRow(*row));
  }
  static void Delete(TBRNCursor& cursor, int32_t id) {
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    ASSERT_TRUE(Seek(cursor, *row, id)) << id;
    ASSERT_TRUE(cursor.DeleteRow(*row));
  }
  using QueryWorkspace::Insert;

  static int32_t ErrorOf(const std::function<void()>& work) {
    try {
      work();
    } catch (const EBRNException& error) {
      return error.ErrorCode;
    }
    return 0;
  }

  const Rows initial = {{"1", "one", "10"}, {"2", "two", "20"}, {"3", "three", "30"}};
};

TEST_F(CachedUpdatesTest, EditsStayInTheCacheUntilAppliedThenAllArrive) {
  std::unique_ptr<TBRNLocalCursor> cursor = OpenCursor("Items");
  TBRNCursor* cache = cursor->StartCachedUpdates();
  ASSERT_NE(cache, nullptr);
  EXPECT_EQ(cursor->StartCachedUpdates(), cache) << "one cache cursor per cursor";
  EXPECT_EQ(CursorRows(*cache), CursorRows(*cursor)) << "the cache starts as a copy";

  Update(*cache, 2, 22);
  Insert(*cache, 4, "four", 40);
  Delete(*cache, 1);
  EXPECT_EQ(Table(), initial) << "nothing reaches the table before the apply";
  EXPECT_EQ(cache->GetRowCount(), 3);

  cursor->ApplyCachedUpdates(false);
  const Rows applied = {{"2", "two", "22"}, {"3", "three", "30"}, {"4", "four", "40"}};
  EXPECT_EQ(Table(), applied);
  EXPECT_EQ(cursor->GetRowCount(), 3) << "the cursor caught up with the applied rows";

  // The log was emptied: a second apply changes nothing, and the cache
  // takes further edits.
  cursor->ApplyCachedUpdates(false);
  EXPECT_EQ(Table(), applied);
  Update(*cache, 3, 33);
  cursor->ApplyCachedUpdates(false);
  EXPECT_EQ(Table().at(1), (std::vector<std::string>{"3", "three", "33"}));
}

TEST_F(CachedUpdatesTest, AFailingRecordRollsBackTheWholeApplyAndKeepsTheCache) {
  std::unique_ptr<TBRNLocalCursor> cursor = OpenCursor("Items");
  TBRNCursor* cache = cursor->StartCachedUpdates();
  Update(*cache, 1, 11);
  Insert(*cache, 5, "five", 50);  // will collide with a row added below
  Delete(*cache, 3);
  Insert("Items", {{int64_t(5), std::string("other"), int64_t(0)}});
  const Rows before = Table();

  EXPECT_EQ(ErrorOf([&] { cursor->ApplyCachedUpdates(false); }), 1305);
  EXPECT_EQ(Table(), before) << "the edit before the failing record was rolled back too";

  // The edits are still there for a retry once the conflict is gone.
  EXPECT_EQ(Query("DELETE FROM Items WHERE Id = 5"), Rows{});
  cursor->ApplyCachedUpdates(false);
  EXPECT_EQ(Table(), (Rows{{"1", "one", "11"}, {"2", "two", "20"}, {"5", "five", "50"}}));
}

TEST_F(CachedUpdatesTest, CancelAndASecondStartDropTheEdits) {
  std::unique_ptr<TBRNLocalCursor> cursor = OpenCursor("Items");
  TBRNCursor* cache = cursor->StartCachedUpdates();
  Update(*cache, 1, 99);
  cursor->CancelCachedUpdates();
  EXPECT_EQ(cache->GetRowCount(), 3) << "the cache keeps its rows";
  cursor->ApplyCachedUpdates(false);
  EXPECT_EQ(Table(), initial) << "cancel then apply applies nothing";

  // A second start copies the table again over edits not applied.
  Delete(*cache, 2);
  EXPECT_EQ(cursor->StartCachedUpdates(), cache);
  EXPECT_EQ(CursorRows(*cache), CursorRows(*cursor));
  cursor->ApplyCachedUpdates(false);
  EXPECT_EQ(Table(), initial);
}

TEST_F(CachedUpdatesTest, UsageWithoutACacheIsMisuse) {
  std::unique_ptr<TBRNLocalCursor> cursor = OpenCursor("Items");
  EXPECT_THROW(cursor->ApplyCachedUpdates(false), std::logic_error);
  EXPECT_THROW(cursor->CancelCachedUpdates(), std::logic_error);
}

TEST_F(CachedUpdatesTest, ACacheNeedsAPrimaryKeyOtherThanTheRowIdentifier) {
  struct Case {
    const char* Table;
    std::function<void(TBRNBaseTable*)> Key;
    int32_t Error;
  };
  const std::vector<Case> cases = {
      {"NoIndex", [](TBRNBaseTable*) {}, 1307},
      {"RowIdKey", [](TBRNBaseTable* table) { table->AddPrimaryKey(false); }, 1307},
      {"SecondFirst",
       [](TBRNBaseTable* table) {
         AddTableKey(table, "PK", kConstraintPrimaryKey, {"B", "A"});
       },
       0},
  };
  for (const Case& c : cases) {
    TBRNBaseTable* table = Shop->CreateTable(c.Table);
    try {
      table->AddRowIDColumn();
      for (const char* name : {"A", "B"}) {
        auto column = std::make_unique<TBRNColumn>(Shop->Catalog.get());
        column->Name = name;
        column->SetDataType(dtInteger);
        table->Columns->AddObject(column.release());
      }
      c.Key(table);
      Shop->CommitCreateTable(table);
    } catch (...) {
      Shop->RollbackCreateTable(table);
      throw;
    }
    std::unique_ptr<TBRNLocalCursor> cursor = OpenCursor(c.Table);
    std::string message;
    int32_t error = 0;
    try {
      cursor->StartCachedUpdates();
    } catch (const EBRNException& failure) {
      error = failure.ErrorCode;
      message = failure.ErrorMessage;
    }
    EXPECT_EQ(error, c.Error) << c.Table;
    if (c.Error != 0) {
      EXPECT_EQ(message, "Error caching updates for the cursor Edit" + std::string(c.Table) +
                             " (Cursor does not have access to a primary key for the underlying "
                             "table, view, or query)");
    }
  }
}

TEST_F(CachedUpdatesTest, TheStreamOfUpdatesRoundTripsThroughAnotherCursor) {
  std::unique_ptr<TBRNLocalCursor> cursor = OpenCursor("Items");
  auto* cache = dynamic_cast<TBRNLocalCursor*>(cursor->StartCachedUpdates());
  ASSERT_NE(cache, nullptr);
  Update(*cache, 2, 25);
  Insert(*cache, 7, "seven", 70);
  Delete(*cache, 3);
  TBRNCachedUpdatesManager& manager = TBRNCachedUpdatesManager::Get(*Session);
  TBRNMemoryStream stream;
  manager.SaveCachedUpdates(*cache, stream, false);
  ASSERT_GT(stream.GetSize(), 0);

  // Another cursor of the table (as a server applies a remote client's
  // records) takes the same stream.
  std::unique_ptr<TBRNLocalCursor> other = OpenCursor("Items");
  stream.SetPosition(0);
  other->ApplyUpdatesStream(stream, stream.GetSize(), false);
  EXPECT_EQ(Table(), (Rows{{"1", "one", "10"}, {"2", "two", "25"}, {"7", "seven", "70"}}));
  EXPECT_EQ(other->GetRowCount(), 3);
}

TEST_F(CachedUpdatesTest, DamagedStreamsApplyNothing) {
  std::unique_ptr<TBRNLocalCursor> cursor = OpenCursor("Items");
  auto* cache = dynamic_cast<TBRNLocalCursor*>(cursor->StartCachedUpdates());
  Update(*cache, 1, 15);
  Update(*cache, 2, 25);
  TBRNMemoryStream good;
  TBRNCachedUpdatesManager::Get(*Session).SaveCachedUpdates(*cache, good, false);
  const std::string bytes(reinterpret_cast<const char*>(good.GetMemory()), size_t(good.GetSize()));
  int32_t firstLength = 0;
  std::memcpy(&firstLength, bytes.data(), 4);

  auto overwrite = [&](size_t at, int32_t value) {
    std::string damaged = bytes;
    std::memcpy(damaged.data() + at, &value, 4);
    return damaged;
  };
  struct Case {
    const char* What;
    std::string Bytes;
    int64_t Length;
  };
  const std::vector<Case> cases = {
      {"the second record cut short", bytes.substr(0, bytes.size() - 3), -1},
      {"a length past the bytes given", bytes, int64_t(bytes.size()) - 2},
      {"a negative record length", overwrite(size_t(4 + firstLength), -8), -1},
      {"a huge record length", overwrite(size_t(4 + firstLength), 0x7fffffff), -1},
      {"a site count beyond the record", overwrite(4, 0x40000000), -1},
      {"a length field alone", std::string("\x10\0\0", 3), -1},
  };
  for (const Case& c : cases) {
    TBRNMemoryStream stream;
    stream.Write(reinterpret_cast<const uint8_t*>(c.Bytes.data()), int32_t(c.Bytes.size()));
    stream.SetPosition(0);
    const int64_t length = c.Length < 0 ? stream.GetSize() : c.Length;
    EXPECT_NE(ErrorOf([&] { cursor->ApplyUpdatesStream(stream, length, false); }), 0) << c.What;
    EXPECT_EQ(Table(), initial) << c.What;
  }
}

TEST_F(CachedUpdatesTest, ThePrivateDatabaseGoesWithItsOwnerSession) {
  std::unique_ptr<TBRNLocalSessionManager> owner = Env.OpenSession("Owner");
  owner->Login("Administrator", "GlenHarbor");
  auto* shop = static_cast<TBRNLocalDatabaseManager*>(owner->OpenDatabase("Shop", kBRNLockShared));
  std::string catalogFile;
  {
    std::unique_ptr<TBRNLocalCursor> cursor;
    {
      TBRNTableManager& manager = OpenTable(*shop, "Items");
      cursor.reset(dynamic_cast<TBRNLocalCursor*>(
          manager.CreateCursor("Mine", false, false, false).release()));
    }
    TBRNCursor* cache = cursor->StartCachedUpdates();
    Update(*cache, 3, 31);
    TBRNCachedUpdatesSessionManager& cacheSession =
        TBRNCachedUpdatesManager::Get(*owner).GetPrivateSession();
    ASSERT_NE(cacheSession.CacheDatabase, nullptr);
    catalogFile = cacheSession.CacheDatabase->GetCatalogFileName();
    EXPECT_TRUE(Env.Engine.InternalFileManager->FileExists(catalogFile)) << catalogFile;
    EXPECT_NE(cacheSession.Handle, owner->Handle) << "the cache has a session of its own";
    cursor->ApplyCachedUpdates(false);
  }
  EXPECT_EQ(Table().at(2), (std::vector<std::string>{"3", "three", "31"}));
  owner->CloseSession();
  EXPECT_FALSE(Env.Engine.InternalFileManager->FileExists(catalogFile));
}

// Cursors their creator keeps, one with pending cached updates, outlive
// their session: the session's close closes them (the pending edits are
// dropped), and freeing them afterwards touches nothing of the session.
TEST_F(CachedUpdatesTest, CursorsFreedAfterTheirSessionClosedAreHarmless) {
  std::unique_ptr<TBRNLocalSessionManager> owner = Env.OpenSession("Owner");
  owner->Login("Administrator", "GlenHarbor");
  auto* shop = static_cast<TBRNLocalDatabaseManager*>(owner->OpenDatabase("Shop", kBRNLockShared));
  const auto open = [&] {
    TBRNTableManager& manager = OpenTable(*shop, "Items");
    return std::unique_ptr<TBRNLocalCursor>(dynamic_cast<TBRNLocalCursor*>(
        manager.CreateCursor("Kept", false, false, false).release()));
  };
  std::unique_ptr<TBRNLocalCursor> plain = open();
  std::unique_ptr<TBRNLocalCursor> cached = open();
  ASSERT_TRUE(plain && cached);
  EXPECT_TRUE(plain->FirstRow());
  Update(*cached->StartCachedUpdates(), 2, 99);

  owner->CloseSession();
  owner.reset();
  plain.reset();
  cached.reset();
  EXPECT_EQ(Table().at(1), (std::vector<std::string>{"2", "two", "20"}));
}

}  // namespace
}  // namespace brn::testing
