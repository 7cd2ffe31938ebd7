// Row locks and row state of table managers in two processes: the forked
// child is a session of its own, with its own lock manager and files.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/rows/row_locks.h"
#include "storage/tables/child_process.h"
#include "storage/tables/row_lock_test_support.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

struct RowLockHolder : TBRNHandleObject {};

// The Items table with rows 1 to 6, made as the engine makes it.
void CreateItemsWithSixRows(TestDatabaseFiles& database) {
  TestSession session(database);
  TBRNBaseTable* table = session.Environment.AddItemsTable("Items", false);
  session.Manager(table)->SetCreatingFiles(true);
  TBRNTableManager* manager = session.Open(table);
  for (int32_t id = 1; id <= 6; ++id) InsertRawRow(*manager, id);
}

void Seen(TBRNTableManager& manager, int32_t row, int32_t& version, int32_t& counter) {
  manager.HasChanged(false);
  manager.GotoRowNumber(row);
  version = manager.GetRowNavigator()->GetCurrentRow()->Version;
  counter = manager.GetRowNavigator()->GetCurrentRow()->UpdateCounter;
}

TEST(TableManagerRowsProcess, ALockedRowIsTriedAsOftenAsSetAndFreedWhenItsHolderIsKilled) {
  TestDatabaseFiles database;
  CreateItemsWithSixRows(database);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t owner = Fork([&] {
    close(ready[0]);
    TestSession session(database);
    TBRNBaseTable* table = session.Environment.AddItemsTable("Items", false);
    TBRNTableManager* manager = session.Open(table);
    RowLockHolder holder;
    if (!manager->LockRow(&holder, 5, 0)) return 1;
    if (write(ready[1], "x", 1) != 1) return 2;
    for (;;) pause();
  });
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the child locked row 5";
  close(ready[0]);

  RowLockCountingFiles counting(&database.Environment);
  TestSession session(database);
  session.Environment.TableFiles = &counting;
  TBRNBaseTable* table = session.Environment.AddItemsTable("Items", false);
  TBRNTableManager* manager = session.Open(table);
  RowLockHolder holder;
  struct Case {
    int32_t RetryCount;
    int32_t WaitTime;
    int32_t Tries;
    int64_t AtLeastMs;
    int64_t BelowMs;
  };
  const std::vector<Case> cases = {
      {3, 40, 4, 120, 60000}, {0, 5000, 1, 0, 2500},  // no sleep after the only try
  };
  for (const Case& c : cases) {
    session.Environment.Settings.RecordLockRetryCount = c.RetryCount;
    session.Environment.Settings.RecordLockWaitTime = c.WaitTime;
    counting.LockCalls = 0;
    auto start = std::chrono::steady_clock::now();
    EBRNException error =
        CaughtError([&] { manager->LockRowForUpdate(&holder, 5, 0, 0, false, false, 0); });
    int64_t elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    EXPECT_EQ(error.ErrorCode, 1005) << c.RetryCount;
    EXPECT_EQ(counting.LockCalls, c.Tries) << c.RetryCount;
    EXPECT_GE(elapsed, c.AtLeastMs) << c.RetryCount;
    EXPECT_LT(elapsed, c.BelowMs) << c.RetryCount;
    EXPECT_EQ(manager->GetRowLocks()->Count(), 0);
  }

  kill(owner, SIGKILL);
  EXPECT_EQ(Wait(owner), -1);
  session.Environment.Settings.RecordLockRetryCount = 0;
  counting.LockCalls = 0;
  int32_t version = 0;
  int32_t counter = 0;
  Seen(*manager, 5, version, counter);
  EXPECT_TRUE(manager->LockRowForUpdate(&holder, 5, version, counter, false, false, 0));
  EXPECT_EQ(counting.LockCalls, 1) << "the first try took it";
  manager->UnlockRow(5);
  manager->ForceClose();  // its files go before the counting manager
}

TEST(TableManagerRowsProcess, AnotherProcessesChangeIsSeenOnlyWhenDetectionIsAsked) {
  TestDatabaseFiles database;
  CreateItemsWithSixRows(database);
  TestSession session(database);
  TBRNBaseTable* table = session.Environment.AddItemsTable("Items", false);
  TBRNTableManager* manager = session.Open(table);
  int32_t version = 0;
  int32_t counter = 0;
  Seen(*manager, 3, version, counter);

  pid_t writer = Fork([&] {
    TestSession other(database);
    TBRNTableManager* changer = other.Open(other.Environment.AddItemsTable("Items", false));
    auto buffer = changer->NewRowBuffer();
    TBRNRowsetRowValues values(changer->GetColumns(), changer);
    values.SetRow(buffer.get());
    if (!changer->ReadRowByNumber(3, values)) return 1;
    values.GetItem(1)->SetAsString("changed");
    {
      TBRNTableOperation operation(changer->GetRowsetManager());
      int32_t updates = 0;
      changer->GetRowNavigator()->UpdateRow(values, 3, updates);
      operation.Commit();
    }
    changer->FlushFiles(true);
    return 0;
  });
  ASSERT_EQ(Wait(writer), 0);

  ASSERT_FALSE(session.Environment.Settings.RecordChangeDetection);
  EXPECT_NO_THROW(manager->CheckRowCurrent(3, version, counter, false, false));
  EXPECT_EQ(
      CaughtError([&] { manager->CheckRowCurrent(3, version, counter, false, true); }).ErrorCode,
      1008);
}

}  // namespace
}  // namespace brn::testing
