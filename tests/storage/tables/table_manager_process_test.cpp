// Table managers of several processes on one database: the forked children
// are sessions of their own, with their own lock manager and files.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/os_file_manager.h"
#include "storage/tables/child_process.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

// Makes the Items table's files as the engine does, with one row.
void CreateItemsWithOneRow(TestDatabaseFiles& database) {
  TestSession session(database);
  TBRNBaseTable* table = session.Environment.AddItemsTable("Items", true);
  session.Manager(table)->SetCreatingFiles(true);
  InsertRawRow(*session.Open(table), 1);
}

TEST(TableManagerProcess, TwoProcessesRecreateRemovedFilesOnce) {
  TestDatabaseFiles database;
  CreateItemsWithOneRow(database);
  for (const char* ext : {".BRNTbl", ".BRNIdx", ".BRNBlb"}) {
    ASSERT_EQ(std::remove(database.PathOf(std::string("Items") + ext).c_str()), 0);
  }
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  // Each child waits for the start, opens the table and answers the number
  // of warnings it wrote (10 + count, so that a failure stays apart).
  auto child = [&] {
    close(go[1]);
    char byte;
    if (read(go[0], &byte, 1) < 0) return 98;
    TestSession session(database);
    TBRNBaseTable* table = session.Environment.AddItemsTable("Items", true);
    TBRNTableManager* manager = session.Open(table);
    if (manager->GetRowCount() != 0) return 97;
    return 10 + int(session.Environment.Warnings.size());
  };
  pid_t first = Fork(child);
  pid_t second = Fork(child);
  close(go[0]);
  close(go[1]);  // both start now
  int warnings = (Wait(first) - 10) + (Wait(second) - 10);
  EXPECT_EQ(warnings, 3) << "one process made the three files, the other opened them";
  for (const char* ext : {".BRNTbl", ".BRNIdx", ".BRNBlb"}) {
    EXPECT_TRUE(database.Exists(std::string("Items") + ext)) << ext;
  }
}

TEST(TableManagerProcess, AFlushCutByKillNeedsRepairOnReopen) {
  TestDatabaseFiles database;
  CreateItemsWithOneRow(database);
  pid_t pid = Fork([&] {
    KillingFiles files(&database.Environment);
    TestSession session(database);
    session.Environment.TableFiles = &files;
    TBRNBaseTable* table = session.Environment.AddItemsTable("Items", true);
    TBRNTableManager* manager = session.Open(table);
    files.WritesLeft = 2;  // the second header of the flush bracket
    InsertRawRow(*manager, 2);
    return 0;
  });
  EXPECT_EQ(Wait(pid), -1) << "the child died inside the flush";

  TestSession session(database);
  TBRNBaseTable* table = session.Environment.AddItemsTable("Items", true);
  try {
    session.Open(table);
    ADD_FAILURE() << "the table opened";
  } catch (const EBRNException& error) {
    EXPECT_EQ(error.ErrorCode, 100);
    EXPECT_EQ(error.ErrorMessage,
              "There is an error in the metadata for the table Items (A write operation did not "
              "complete and a repair is required)");
  }
  EXPECT_TRUE(session.Environment.LockByteFree(table, ltShared));
  EXPECT_TRUE(session.Environment.LockByteFree(table, ltRead));
}

TEST(TableManagerProcess, AnotherProcessesFlushIsNoticedOnce) {
  TestDatabaseFiles database;
  CreateItemsWithOneRow(database);
  TestSession session(database);
  TBRNBaseTable* items = session.Environment.AddItemsTable("Items", true);
  TBRNBaseTable* other = session.Environment.AddItemsTable("Other", false);
  TBRNTableManager* a = session.Open(items);
  TBRNTableManager* unchanged = session.Open(other);
  InsertRawRow(*a, 2);
  InsertRawRow(*unchanged, 1);
  ASSERT_GT(a->GetIndexManager()->GetBufferCount(), 0);

  // B adds a row without a key: only the row file changes.
  pid_t writer = Fork([&] {
    TestSession b(database);
    TBRNBaseTable* table = b.Environment.AddItemsTable("Items", true);
    InsertRawRow(*b.Open(table), 3, false);
    return 0;
  });
  ASSERT_EQ(Wait(writer), 0);

  EXPECT_TRUE(a->HasChanged(true));
  EXPECT_EQ(a->GetRowsetManager()->GetBufferCount(), 0);
  EXPECT_GT(a->GetIndexManager()->GetBufferCount(), 0);
  EXPECT_EQ(a->GetRowCount(), 3);
  EXPECT_FALSE(a->HasChanged(true));
  EXPECT_FALSE(unchanged->HasChanged(true));
  EXPECT_GT(unchanged->GetRowsetManager()->GetBufferCount(), 0);

  // No Read byte left behind: another process can take it.
  int64_t offset = items->GetLockOffset(ltRead) + session.Environment.Locks->Slot - 1;
  std::string lockFile = session.Environment.Locks->GetLockFileName();
  pid_t probe = Fork([&] {
    TBRNOSFileManager files(&database.Environment);
    auto stream = files.OpenFile(lockFile, false, false, true);
    return stream->SetRangeLock(true, offset, 1) ? 0 : 1;
  });
  EXPECT_EQ(Wait(probe), 0);
}

}  // namespace
}  // namespace brn::testing
