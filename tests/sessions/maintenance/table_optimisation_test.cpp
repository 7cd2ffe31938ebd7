#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "metadata/config/users_roles.h"
#include "sessions/config/config_command_test_support.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/maintenance/maintenance_fixture.h"
#include "sessions/maintenance/maintenance_test_support.h"
#include "storage/rows/published_updates_file.h"

namespace brn {
namespace {

using testing::ErrorCodeOf;
using testing::MaintenanceTest;
using testing::ReadFileBytes;
using testing::StoredRow;

TEST_F(MaintenanceTest, OptimizeKeepsLiveRowsInIndexOrderWithTheirIdsAndCounters) {
  TBRNBaseTable* table = CreateTable("T");
  testing::InsertNames(*Db, table, {"n9", "n8", "n7", "n6", "n5", "n4", "n3", "n2", "n1", "n0"});
  testing::DeleteRows(*Db, table, {2, 5, 9});

  ASSERT_TRUE(Db->OptimizeTable("T", "NameIdx"));

  std::vector<StoredRow> rows = testing::ReadRows(*Db, table);
  std::vector<StoredRow> expected = {{1, false, 10, "n0"}, {2, false, 8, "n2"}, {3, false, 7, "n3"},
                                     {4, false, 6, "n4"},  {5, false, 4, "n6"}, {6, false, 3, "n7"},
                                     {7, false, 1, "n9"}};
  EXPECT_EQ(rows, expected);
  EXPECT_TRUE(Logged("Optimization of the table T started at")) << ::testing::PrintToString(Log);
  EXPECT_TRUE(Logged("Optimization of the table T ended at"));
  // The previous files stay as safety copies; no file of the working copy
  // is left.
  EXPECT_EQ(Names(FolderFiles()),
            (std::vector<std::string>{"BRNDatabase.BRNCat", "BRNDatabase.BRNCat.Old",
                                      "BRNDatabase.BRNLck", "T.BRNIdx", "T.BRNIdx.Old", "T.BRNTbl",
                                      "T.BRNTbl.Old"}));
  // The last row ID is kept: the next row takes 11, not 8.
  testing::InsertNames(*Db, table, {"n10"});
  EXPECT_EQ(testing::ReadRows(*Db, table).back().ID, 11);
  // Both indexes still find every row.
  EXPECT_EQ(testing::NamesByIndex(*Db, table, 1),
            (std::vector<std::string>{"n0", "n10", "n2", "n3", "n4", "n6", "n7", "n9"}));
  EXPECT_EQ(testing::NamesByIndex(*Db, table, 0).size(), 8u);
}

TEST_F(MaintenanceTest, OptimizeWithoutUsingOrdersByThePrimaryKey) {
  TBRNBaseTable* table = CreateTable("T", false);
  testing::InsertNames(*Db, table, {"c", "b", "a"});
  testing::DeleteRows(*Db, table, {1});
  ASSERT_TRUE(Db->OptimizeTable("T", ""));
  EXPECT_EQ(testing::ReadRows(*Db, table),
            (std::vector<StoredRow>{{1, false, 2, "b"}, {2, false, 3, "a"}}));
}

TEST_F(MaintenanceTest, OptimizeUsingAMissingIndexFailsBeforeCopying) {
  TBRNBaseTable* table = CreateTable("T");
  testing::InsertNames(*Db, table, {"a", "b"});
  const auto before = FolderFiles();
  EXPECT_THROW(Db->OptimizeTable("T", "Nope"), EBRNException);
  EXPECT_TRUE(Changed(before, FolderFiles()).empty());
  EXPECT_EQ(testing::ReadRows(*Db, table).size(), 2u);
}

TEST_F(MaintenanceTest, OptimizeCancelledLeavesTheFilesAsTheyWere) {
  TBRNBaseTable* table = CreateTable("T");
  testing::InsertNames(*Db, table, {"a", "b", "c", "d"});
  testing::DeleteRows(*Db, table, {2});
  const auto before = FolderFiles();
  Session->Progress->TimeInterval = 0;
  Session->Events.OnProgress = [](int32_t, bool& proceed) { proceed = false; };
  EXPECT_FALSE(Db->OptimizeTable("T", "NameIdx"));
  Session->Events.OnProgress = nullptr;
  EXPECT_EQ(Changed(before, FolderFiles()), std::vector<std::string>{});
  EXPECT_EQ(testing::ReadRows(*Db, table).size(), 4u);
}

TEST_F(MaintenanceTest, OptimizeNeedsMaintainAndNoTransaction) {
  CreateTable("T");
  Db->StartTransaction(TBRNStringsList(), 0);
  EXPECT_EQ(ErrorCodeOf([&] { Db->OptimizeTable("T", ""); }), 404);
  Db->Rollback();

  TBRNUser* user = Session->BeginCreateUser("Clerk");
  user->SetPassword("pw");
  Session->EndCreateUser(user);
  std::unique_ptr<TBRNLocalSessionManager> other = Env.OpenSession("Other");
  other->Login("Clerk", "pw");
  TBRNLocalDatabaseManager* otherDb = other->GetDatabaseManager(
      static_cast<TBRNDatabaseContainer*>(other->Config->Databases->FindByName("Shop", true)));
  otherDb->OpenDatabase(kBRNLockShared);
  EXPECT_EQ(ErrorCodeOf([&] { otherDb->OptimizeTable("T", ""); }), 503);
}

}  // namespace
}  // namespace brn

namespace brn {
namespace {

// The published-update records of an open manager, in order.
std::vector<std::string> PublishedRecords(TBRNTableManager& manager) {
  std::vector<std::string> records;
  const int32_t count = manager.GetPublishedUpdatesManager()->GetBlockCount();
  int32_t block = 1;
  while (block >= 1 && block <= count) {
    const int32_t at = block;
    TBRNMemoryStream record;
    manager.ReadPublishedUpdate(block, record, false);
    records.emplace_back(reinterpret_cast<const char*>(record.GetMemory()),
                         size_t(record.GetSize()));
    if (block <= at) break;
  }
  return records;
}

TEST_F(MaintenanceTest, OptimizeKeepsThePendingPublishedUpdates) {
  TBRNBaseTable* table = Db->CreateTable("P");
  testing::DefineTable(*Db->Catalog, table, false);
  table->SetPublished(true);
  Db->CommitCreateTable(table);
  testing::InsertNames(*Db, table, {"a", "b", "c"});
  testing::DeleteRows(*Db, table, {2});
  std::vector<std::string> before;
  {
    TBRNTableManager& manager = testing::OpenShared(*Db, table);
    for (const std::string text : {"first update", "second update"}) {
      TBRNMemoryStream record;
      record.Write(text.data(), int32_t(text.size()));
      manager.AppendPublishedUpdate(record, 0);
    }
    manager.Flush();
    before = PublishedRecords(manager);
    manager.Close(false, true);
  }
  // Three inserts and a delete logged by the row changes, then the two
  // appended by hand: the copy of the rows adds none of its own.
  ASSERT_EQ(before.size(), 6u);
  EXPECT_EQ(before[5], "second update");
  ASSERT_TRUE(Db->OptimizeTable("P", ""));
  TBRNTableManager& manager = testing::OpenShared(*Db, table);
  EXPECT_EQ(PublishedRecords(manager), before);
  manager.Close(false, true);
  EXPECT_EQ(testing::ReadRows(*Db, table).size(), 2u);
}

}  // namespace
}  // namespace brn
