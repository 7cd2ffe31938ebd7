// The lock and statistics snapshots of one database, over real table
// managers with their files and lock file.
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/locks/lockable.h"
#include "foundation/runtime/handle_objects.h"
#include "metadata/config/databases.h"
#include "sessions/local/session_snapshots.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

struct Holder : TBRNHandleObject {};

using LockRow = std::tuple<std::string, std::string, std::string, int32_t, int32_t>;

std::vector<LockRow> rowsOf(const TBRNLockList& list) {
  std::vector<LockRow> rows;
  for (const TBRNLock& lock : list) {
    rows.emplace_back(lock.DatabaseName, lock.ObjectName, lock.ObjectType, lock.LockType,
                      lock.RowNumber);
  }
  return rows;
}

// One session on the database "Shop", which it holds open with the Shared
// database lock: "Items" (no BLOB columns) and "Docs" (a CLOB column,
// published), both with rows.
struct SessionSnapshotsTest : ::testing::Test {
  TestDatabaseFiles Database;
  TestSession Session{Database};
  TBRNDatabaseContainer Container{&Session.Environment.Config};
  TBRNBaseTable* Items = Session.Environment.AddItemsTable("Items", false);
  TBRNBaseTable* Docs = nullptr;
  TBRNTableManager* items = nullptr;
  TBRNTableManager* docs = nullptr;
  Holder Cursor;

  void SetUp() override {
    Container.Name = "Shop";
    ASSERT_TRUE(Session.Environment.Locks->LockObject(&Container, ltShared, 2000));
    Docs = Session.Environment.AddTable(
        "Docs", {{"ID", dtInteger}, {"Name", dtChar, 20}, {"Body", dtLob, 0, stClob}});
    Session.Environment.AddPrimaryKey(Docs, "PK", {"ID"});
    Docs->SetPublished(true);
    Session.Environment.Finish(Docs);
    items = Session.Open(Items);
    docs = Session.Open(Docs);
    for (int32_t id = 1; id <= 3; ++id) InsertRawRow(*items, id);
    InsertRawRow(*docs, 1);
  }
  void TearDown() override { Session.Managers.Clear(); }

  std::vector<LockRow> Locks() {
    TBRNLockList list;
    AddDatabaseLocks(list, "Shop", &Container, *Session.Environment.Catalog, &Session.Managers);
    return rowsOf(list);
  }
  TBRNStatisticsList Statistics() {
    TBRNStatisticsList list;
    AddDatabaseStatistics(list, "Shop", &Session.Managers);
    return list;
  }
};

TEST_F(SessionSnapshotsTest,
       LockListHasObjectLocksThenRowsAndKeptTransactionRowsOnlyInTransaction) {
  const LockRow shopShared{"Shop", "Shop", "Database", ltShared, 0};
  const LockRow itemsShared{"Shop", "Items", "Table", ltShared, 0};
  const LockRow docsShared{"Shop", "Docs", "Table", ltShared, 0};
  auto row = [](int32_t number) { return LockRow{"Shop", "Items", "Table", 6, number}; };

  // Outside a transaction: the row locks of the manager, in row order.
  ASSERT_TRUE(items->LockRow(&Cursor, 3, 0));
  ASSERT_TRUE(items->LockRow(&Cursor, 2, 0));
  EXPECT_EQ(Locks(), (std::vector<LockRow>{shopShared, itemsShared, docsShared, row(2), row(3)}));
  items->UnlockRows(nullptr);

  // In a transaction the table holds its Transaction lock, and a row
  // released there stays locked for the transaction: it is listed after
  // the rows still locked.
  items->StartTransaction();
  ASSERT_TRUE(items->LockRow(&Cursor, 1, 1));
  ASSERT_TRUE(items->ReleaseRowLock(1));
  ASSERT_TRUE(items->LockRow(&Cursor, 3, 0));
  const LockRow itemsTransaction{"Shop", "Items", "Table", ltTransaction, 0};
  EXPECT_EQ(Locks(), (std::vector<LockRow>{shopShared, itemsShared, itemsTransaction, docsShared,
                                           row(3), row(1)}));
  items->RollbackTransaction();
  items->UnlockRows(nullptr);

  // Closed managers list nothing; the database lock stays.
  Session.Managers.CloseAllManagers();
  EXPECT_EQ(Locks(), (std::vector<LockRow>{shopShared}));
}

TEST_F(SessionSnapshotsTest, LockListLeavesOutInformationTables) {
  auto system = std::make_unique<TBRNBaseTable>(Session.Environment.Catalog.get());
  system->Name = "Tables";
  auto column = std::make_unique<TBRNColumn>(Session.Environment.Catalog.get());
  column->Name = "Name";
  column->SetDataType(dtChar);
  column->SetLength(40);
  system->Columns->AddObject(column.release());
  system->SetLockNumber(Session.Environment.Catalog->NextTableLockNumber());
  Session.Environment.Catalog->InformationSchema->BaseTables->AddObject(system.get());
  TBRNBaseTable* table = system.release();
  Session.Environment.Finish(table);
  TBRNTableManager* manager = Session.Open(table);
  ASSERT_TRUE(manager->LockRow(&Cursor, 1, 0));

  TBRNStatisticsList statistics = Statistics();
  for (const TBRNStatistics& entry : statistics) EXPECT_NE(entry.TableName, "Tables");
  for (const LockRow& entry : Locks()) EXPECT_NE(std::get<3>(entry), 6);
}

TEST_F(SessionSnapshotsTest, StatisticsListTwoFilesWithoutBlobsAndFourForAPublishedTableWithBlobs) {
  TBRNStatisticsList list = Statistics();
  ASSERT_EQ(list.Count(), 6);
  struct Expected {
    std::string Table;
    std::string BufferManager;
    TBRNTableFileManager* File;
  };
  const std::vector<Expected> expected{
      {"Items", "Rows", items->GetRowsetManager()},
      {"Items", "Indexes", items->GetIndexManager()},
      {"Docs", "Rows", docs->GetRowsetManager()},
      {"Docs", "Indexes", docs->GetIndexManager()},
      {"Docs", "BLOBs", docs->GetBlobManager()},
      {"Docs", "Published Updates", docs->GetPublishedUpdatesManager()},
  };
  for (int32_t i = 0; i < list.Count(); ++i) {
    SCOPED_TRACE(i);
    const TBRNStatistics& entry = list[i];
    const TBRNTableFileManager& file = *expected[size_t(i)].File;
    EXPECT_EQ(entry.DatabaseName, "Shop");
    EXPECT_EQ(entry.TableName, expected[size_t(i)].Table);
    EXPECT_EQ(entry.BufferManager, expected[size_t(i)].BufferManager);
    EXPECT_EQ(entry.MaxBufferSize, file.GetBlockSize() * file.GetCapacity());
    EXPECT_EQ(entry.CurrentBufferSize, file.GetBlockSize() * file.GetBufferCount());
    EXPECT_EQ(entry.Hits, file.CacheHits);
    EXPECT_EQ(entry.Misses, file.CacheMisses);
    EXPECT_EQ(entry.HitRatio, BufferHitRatio(file.CacheHits, file.CacheMisses));
    EXPECT_EQ(entry.Reads, file.DiskReads);
    EXPECT_EQ(entry.BytesRead, file.BytesRead);
    EXPECT_EQ(entry.Writes, file.DiskWrites);
    EXPECT_EQ(entry.BytesWritten, file.BytesWritten);
  }
  // The rows written show in the row files' counters.
  EXPECT_GT(list[0].Writes, 0);
  EXPECT_GT(list[0].BytesWritten, 0);
  EXPECT_GT(list[0].CurrentBufferSize, 0);
}

TEST_F(SessionSnapshotsTest, ResetZeroesTheCountersOfListedFilesAndKeepsTheirCaches) {
  ResetDatabaseStatistics(&Session.Managers);
  TBRNStatisticsList list = Statistics();
  ASSERT_EQ(list.Count(), 6);
  for (const TBRNStatistics& entry : list) {
    SCOPED_TRACE(entry.TableName + " " + entry.BufferManager);
    EXPECT_EQ(std::make_tuple(entry.Hits, entry.Misses, entry.HitRatio, entry.Reads,
                              entry.BytesRead, entry.Writes, entry.BytesWritten),
              std::make_tuple(0, 0, 0, 0, 0, 0, 0));
  }
  EXPECT_GT(list[0].CurrentBufferSize, 0);
}

TEST(BufferHitRatioTest, RoundsToTwoDecimalsHalfAwayFromZero) {
  struct Case {
    int64_t Hits;
    int64_t Misses;
    int64_t Ratio;
  };
  const Case cases[] = {
      {0, 0, 0},
      {0, 5, 0},
      {5, 0, 10000},
      {1, 2, 3300},
      {2, 1, 6700},
      {1, 7, 1300},
      {7, 1, 8800},
      {1, 199, 100},
      {1, 201, 0},
      {199, 1, 10000},
      {201, 1, 10000},
      {3, 997, 0},
      {int64_t(1) << 62, int64_t(1) << 62, 5000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BufferHitRatio(c.Hits, c.Misses), c.Ratio) << c.Hits << "/" << c.Misses;
  }
}

TEST(SnapshotListTest, GrowsBy256EntriesAndClearGivesTheMemoryBack) {
  TBRNLockList list;
  for (int32_t i = 1; i <= 257; ++i) list.Add({"Shop", "Items", "Table", 6, i});
  EXPECT_EQ(list.Count(), 257);
  EXPECT_EQ(list.Capacity(), 512u);
  EXPECT_EQ(list[256].RowNumber, 257);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0u);
}

}  // namespace
}  // namespace brn::testing
