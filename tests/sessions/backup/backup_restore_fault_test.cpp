// BACKUP DATABASE and RESTORE DATABASE when a write fails: each write of the
// operation fails in turn. A failed backup leaves neither the backup file
// nor its ".Tmp" file (an earlier backup of the name stays); a failed
// restore leaves no half-read table, and with the catalog leaves catalog
// and files as they were.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sessions/backup/backup_test_support.h"

namespace brn::testing {
namespace {

using Ids = std::vector<int32_t>;

Ids Range(int32_t first, int32_t last) {
  Ids ids;
  for (int32_t i = first; i <= last; ++i) ids.push_back(i);
  return ids;
}

TEST_F(BackupTest, AFailedWriteOfABackupLeavesNoFile) {
  Db& database = MakeDatabase("D", 400, 2);
  ASSERT_TRUE(Backup(database, "Nightly"));
  const std::string earlier = FileBytes(*Engine.Faults, StoreFile("Nightly.BRNBkp"));
  Insert(database, "T1", {401});
  const auto before = Files(database);

  int32_t failures = 0;
  for (int32_t nth = 1; nth < 1000; ++nth) {
    SCOPED_TRACE(nth);
    const int32_t injected = Engine.Faults->InjectedCount();
    Engine.Faults->Arm({TBRNFaultAction::FailWrite, nth, false, ENOSPC, 0, ""});
    auto [code, text] = Outcome([&] { Backup(database, "Nightly"); });
    Engine.Faults->Disarm();
    if (Engine.Faults->InjectedCount() == injected) {
      EXPECT_EQ(code, 0) << text;
      break;
    }
    ++failures;
    EXPECT_NE(code, 0);
    EXPECT_FALSE(StoreFileExists("Nightly.Tmp"));
    EXPECT_EQ(FileBytes(*Engine.Faults, StoreFile("Nightly.BRNBkp")), earlier);
    EXPECT_EQ(Files(database), before);
    EXPECT_EQ(database.OpenCount, 1);
  }
  EXPECT_GT(failures, 10);
  // The backup that finally ran holds the new row.
  database.CloseDatabase(false);
  ASSERT_TRUE(Restore(database, "Nightly"));
  EXPECT_EQ(Rows(database, "T1"), Range(1, 401));
}

// Without the catalog each table ends wholly as before or wholly as in the
// backup (the one being read gets its files back); with it, catalog and
// every table end as before.
TEST_F(BackupTest, AFailedWriteOfARestoreLeavesNoHalfReadTable) {
  Db& database = MakeDatabase("D", 400, 300);
  ASSERT_TRUE(Backup(database, "Full", {}, 6, true));
  Insert(database, "T1", {9001});
  Insert(database, "T2", {9002});
  ASSERT_TRUE(Backup(database, "Changed", {}, 6, true));
  database.CloseDatabase(false);
  Ids t1Changed = Range(1, 400), t2Changed = Range(101, 400);
  t1Changed.push_back(9001);
  t2Changed.push_back(9002);

  for (bool withCatalog : {false, true}) {
    int32_t failures = 0;
    for (int32_t nth = 1; nth < 1000; ++nth) {
      SCOPED_TRACE(::testing::Message() << "catalog " << withCatalog << " write " << nth);
      ASSERT_TRUE(Restore(database, "Changed", {}, true));
      const auto before = Files(database);
      const int32_t injected = Engine.Faults->InjectedCount();
      Engine.Faults->Arm({TBRNFaultAction::FailWrite, nth, false, ENOSPC, 0, ""});
      auto [code, text] = Outcome([&] { Restore(database, "Full", {}, withCatalog); });
      Engine.Faults->Disarm();
      if (Engine.Faults->InjectedCount() == injected) {
        EXPECT_EQ(code, 0) << text;
        EXPECT_EQ(Rows(database, "T1"), Range(1, 400));
        break;
      }
      ++failures;
      EXPECT_NE(code, 0);
      EXPECT_EQ(database.OpenCount, 0);
      const Ids t1 = Rows(database, "T1");
      const Ids t2 = Rows(database, "T2");
      EXPECT_TRUE(t1 == t1Changed || t1 == Range(1, 400)) << t1.size();
      EXPECT_TRUE(t2 == t2Changed || t2 == Range(101, 400)) << t2.size();
      if (withCatalog) {
        EXPECT_EQ(t1, t1Changed);
        EXPECT_EQ(t2, t2Changed);
        EXPECT_EQ(Files(database), before);
      }
    }
    EXPECT_GT(failures, 5);
  }
}

}  // namespace
}  // namespace brn::testing
