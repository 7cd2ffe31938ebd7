#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "foundation/locks/lock_manager.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

const std::string kWriteIncompleteMessage =
    "There is an error in the metadata for the table Items (A write operation did not complete "
    "and a repair is required)";

// Two sessions on one database in this process: their lock managers share
// the lock file, so they contend as two processes would.
struct TableManagerTest : ::testing::Test {
  TestDatabaseFiles Database;
  TestSession A{Database};
  TestSession B{Database};
  TBRNBaseTable* TableA = A.Environment.AddItemsTable("Items", true);
  TBRNBaseTable* TableB = B.Environment.AddItemsTable("Items", true);

  bool Exists(const std::string& extension) { return Database.Exists("Items" + extension); }
  // Whether another session could take A's byte of lockType on the table.
  bool ByteFreeForOthers(uint8_t lockType) { return A.Environment.LockByteFree(TableA, lockType); }
  // Whether B could take the table's Transaction lock now.
  bool TransactionFreeForB() {
    auto stream =
        Database.Files.OpenFile(A.Environment.Locks->GetLockFileName(), false, false, true);
    int64_t offset = TableA->GetLockOffset(ltTransaction);
    int64_t length = TableA->GetLockLength(ltTransaction);
    if (!stream->SetRangeLock(true, offset, length)) return false;
    stream->SetRangeLock(false, offset, length);
    return true;
  }
};

TEST_F(TableManagerTest, OnlyTheFilesInUseExist) {
  struct Case {
    bool Blob;
    bool Published;
    std::vector<std::string> Present;
    std::vector<std::string> Absent;
  };
  const std::vector<Case> cases = {
      {false, false, {".BRNTbl", ".BRNIdx"}, {".BRNBlb", ".BRNPbl"}},
      {true, false, {".BRNTbl", ".BRNIdx", ".BRNBlb"}, {".BRNPbl"}},
      {false, true, {".BRNTbl", ".BRNIdx", ".BRNPbl"}, {".BRNBlb"}},
  };
  int32_t n = 0;
  for (const Case& c : cases) {
    std::string name = "T" + std::to_string(++n);
    TBRNBaseTable* table = A.Environment.AddItemsTable(name, c.Blob);
    if (c.Published) table->Published = true;
    TBRNTableManager* manager = A.Open(table);
    EXPECT_EQ(manager->GetBlobManager() != nullptr, c.Blob) << name;
    EXPECT_EQ(manager->GetPublishedUpdatesManager() != nullptr, c.Published) << name;
    for (const std::string& ext : c.Present) EXPECT_TRUE(Database.Exists(name + ext)) << name + ext;
    for (const std::string& ext : c.Absent) EXPECT_FALSE(Database.Exists(name + ext)) << name + ext;
    manager->Close(false, true);
  }
}

TEST_F(TableManagerTest, FilesRemovedByHandAreRecreatedWithOneWarning) {
  TBRNTableManager* manager = A.Manager(TableA);
  manager->SetCreatingFiles(true);
  A.Open(TableA)->Close(false, true);
  manager->SetCreatingFiles(false);
  EXPECT_TRUE(A.Environment.Warnings.empty()) << "the engine's own creation is not reported";

  std::remove(Database.PathOf("Items.BRNIdx").c_str());
  A.Open(TableA);
  ASSERT_EQ(A.Environment.Warnings.size(), 1u);
  EXPECT_EQ(A.Environment.Warnings[0],
            "The table file " + Database.PathOf("Items.BRNIdx") +
                " was not present on disk and was automatically created");
  // Another session opening it now finds every file.
  B.Open(TableB);
  EXPECT_TRUE(B.Environment.Warnings.empty());
  EXPECT_TRUE(Exists(".BRNIdx"));
}

TEST_F(TableManagerTest, AFileWithAnOldCopyIsNeverRecreatedEmpty) {
  TBRNTableManager* manager = A.Open(TableA);
  InsertRawRow(*manager, 1);
  manager->ForceClose();
  manager->MakeOldCopies(true, kTableFileRows);
  ASSERT_TRUE(Exists(".BRNTbl.Old"));
  ASSERT_FALSE(Exists(".BRNTbl"));

  EBRNException error = CaughtError([&] { A.Open(TableA); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_EQ(error.ErrorMessage.rfind("There is an error in the metadata for the table Items (", 0),
            0u)
      << error.ErrorMessage;
  EXPECT_FALSE(Exists(".BRNTbl"));
  EXPECT_TRUE(ByteFreeForOthers(ltShared)) << "a failed open keeps no lock";
  EXPECT_TRUE(TransactionFreeForB());

  // Once the copy is back the table opens with its row (the failed open
  // released the manager).
  A.Manager(TableA)->RestoreOldCopies(true, kTableFileRows);
  EXPECT_EQ(A.Open(TableA)->GetRowCount(), 1);
}

TEST_F(TableManagerTest, HasChangedDropsOnlyTheChangedFilesCaches) {
  TBRNTableManager* a = A.Open(TableA);
  InsertRawRow(*a, 1);
  TBRNBaseTable* otherA = A.Environment.AddItemsTable("Other", false);
  B.Environment.AddItemsTable("Other", false);
  TBRNTableManager* other = A.Open(otherA);
  InsertRawRow(*other, 1);
  ASSERT_FALSE(a->HasChanged(false));
  ASSERT_GT(a->GetRowsetManager()->GetBufferCount(), 0);
  ASSERT_GT(a->GetIndexManager()->GetBufferCount(), 0);

  // B adds a row without a key: only the row file changes.
  TBRNTableManager* b = B.Open(TableB);
  InsertRawRow(*b, 2, false);

  EXPECT_TRUE(a->HasChanged(true));
  EXPECT_EQ(a->GetRowsetManager()->GetBufferCount(), 0);
  EXPECT_GT(a->GetIndexManager()->GetBufferCount(), 0);
  EXPECT_EQ(a->GetRowCount(), 2);
  EXPECT_FALSE(a->HasChanged(true)) << "a change is reported once";
  EXPECT_FALSE(other->HasChanged(true));
  EXPECT_GT(other->GetRowsetManager()->GetBufferCount(), 0);
  EXPECT_TRUE(ByteFreeForOthers(ltRead));
}

TEST_F(TableManagerTest, HasChangedReleasesItsReadLockOnFailure) {
  TBRNTableManager* a = A.Open(TableA);
  InsertRawRow(*a, 1);
  // A flush cut short elsewhere: the row file's write-in-progress flag.
  {
    auto stream = Database.Files.OpenFile(Database.PathOf("Items.BRNTbl"), false, false, false);
    uint8_t flag = 1;
    stream->Seek(0, 53);
    stream->Write(&flag, 1);
  }
  EBRNException error = CaughtError([&] { a->HasChanged(false); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_EQ(error.ErrorMessage, kWriteIncompleteMessage);
  EXPECT_TRUE(ByteFreeForOthers(ltRead));
  EXPECT_EQ(TableA->GetHeldLocks() & LockTypeBit(ltRead), 0);
}

TEST_F(TableManagerTest, FlushInATransactionWritesNothingButMovesTheCounters) {
  TBRNTableManager* a = A.Open(TableA);
  a->StartTransaction();
  InsertRawRow(*a, 1);  // its FlushFiles is the one inside the transaction
  std::vector<std::vector<uint8_t>> before;
  for (const char* ext : {".BRNTbl", ".BRNIdx", ".BRNBlb"}) {
    before.push_back(RawFile(Database.Files, Database.PathOf(std::string("Items") + ext)));
  }
  int32_t rows = a->GetRowsetManager()->ChangeCounter;
  int32_t keys = a->GetIndexManager()->ChangeCounter;
  int32_t blobs = a->GetBlobManager()->ChangeCounter;
  a->FlushFiles(true);
  EXPECT_EQ(a->GetRowsetManager()->ChangeCounter, rows + 1);
  EXPECT_EQ(a->GetIndexManager()->ChangeCounter, keys + 1);
  EXPECT_EQ(a->GetBlobManager()->ChangeCounter, blobs) << "no change of its own";
  int32_t i = 0;
  for (const char* ext : {".BRNTbl", ".BRNIdx", ".BRNBlb"}) {
    EXPECT_EQ(RawFile(Database.Files, Database.PathOf(std::string("Items") + ext)), before[i++])
        << ext;
  }
  EXPECT_FALSE(TransactionFreeForB());
  a->CommitTransaction();
  EXPECT_TRUE(TransactionFreeForB());
  EXPECT_EQ(B.Open(TableB)->GetRowCount(), 1);
}

TEST_F(TableManagerTest, ATableOpenedInADatabaseTransactionJoinsIt) {
  A.Environment.Settings.KeepTablesOpen = false;
  TableA->SetInTransaction();  // the database's transaction
  TBRNTableManager* a = A.Open(TableA);
  auto joined = [&] {
    return a->GetRowsetManager() != nullptr &&
           a->GetRowsetManager()->GetAccessMode() == TBRNTableFileAccess::InTransaction;
  };
  EXPECT_TRUE(joined());
  EXPECT_TRUE(a->GetKeepOpenFlag());
  a->Close(false, true);  // kept open while the transaction runs
  EXPECT_TRUE(a->GetOpen());
  A.Open(TableA);
  EXPECT_TRUE(joined());
  a->ForceClose();
  A.Open(TableA);
  EXPECT_TRUE(joined()) << "reopened after a close";

  A.Managers.CommitDatabaseTransaction();
  TableA->ClearInTransaction();
  EXPECT_FALSE(joined());
  EXPECT_FALSE(a->GetKeepOpenFlag());
}

TEST_F(TableManagerTest, AFailedStartTransactionLeavesNoTrace) {
  TBRNFaultFileManager faults(&Database.Environment);
  A.Environment.TableFiles = &faults;
  TBRNTableManager* a = A.Open(TableA);
  ASSERT_FALSE(a->GetKeepOpenFlag());
  faults.FailRead(1);
  EXPECT_THROW(a->StartTransaction(), EBRNException);
  EXPECT_EQ(TableA->StateBits, 0);
  EXPECT_EQ(TableA->TransactionLockCount, 0);
  EXPECT_TRUE(TransactionFreeForB());
  EXPECT_FALSE(a->GetKeepOpenFlag());
  EXPECT_EQ(a->GetRowsetManager()->GetAccessMode(), TBRNTableFileAccess::Shared);

  faults.Disarm();
  a->StartTransaction();
  EXPECT_TRUE(TableA->IsTransactionOwner());
  a->RollbackTransaction();
  EXPECT_EQ(TableA->StateBits, 0);
  EXPECT_TRUE(TransactionFreeForB());
}

TEST_F(TableManagerTest, AKeptOpenManagerKeepsItsFilesAndIsRefreshedOnReopen) {
  A.Environment.Settings.KeepTablesOpen = true;
  TBRNTableManager* a = A.Open(TableA);
  a->Close(false, true);
  EXPECT_TRUE(a->GetOpen());
  EXPECT_EQ(a->GetUserCount(), 0);
  EXPECT_NE(a->GetRowsetManager(), nullptr);
  EXPECT_FALSE(ByteFreeForOthers(ltShared)) << "the Shared lock stays";

  InsertRawRow(*B.Open(TableB), 7);
  EXPECT_EQ(a->GetRowCount(), 0);
  A.Open(TableA);
  EXPECT_EQ(a->GetRowCount(), 1) << "the re-open refreshed the headers";

  a->ForceClose();
  EXPECT_TRUE(ByteFreeForOthers(ltShared));
}

TEST_F(TableManagerTest, GetChangeCountSumsWithoutOverflow) {
  struct Case {
    int32_t Rows, Indexes, Blobs;
    int64_t Sum;
  };
  const std::vector<Case> cases = {
      {INT32_MAX, INT32_MAX, INT32_MAX, 3 * int64_t(INT32_MAX)},
      {INT32_MAX, 1, 0, int64_t(INT32_MAX) + 1},
      {0, 0, 0, 0},
  };
  TBRNTableManager* a = A.Open(TableA);
  for (const Case& c : cases) {
    a->GetRowsetManager()->ChangeCounter = c.Rows;
    a->GetIndexManager()->ChangeCounter = c.Indexes;
    a->GetBlobManager()->ChangeCounter = c.Blobs;
    EXPECT_EQ(a->GetChangeCount(), c.Sum);
  }
  // A counter at the limit wraps as the files count, the sum follows.
  a->GetRowsetManager()->ChangeCounter = INT32_MAX;
  a->GetIndexManager()->ChangeCounter = 0;
  a->GetBlobManager()->ChangeCounter = 0;
  InsertRawRow(*a, 1);
  EXPECT_GE(a->GetChangeCount(), 0);
  EXPECT_LT(a->GetChangeCount(), int64_t(INT32_MAX));
}

TEST_F(TableManagerTest, BlobsAreStoredCompressedOnlyWhenAsked) {
  TBRNTableManager* a = A.Open(TableA);
  TBRNMemoryStream value;
  std::string text(5000, 'x');
  value.Write(text.data(), int32_t(text.size()));
  for (int32_t level : {0, 6}) {
    int32_t block = 0;
    int32_t stored = 0;
    a->WriteBlob(5, block, value, level, stored);
    if (level == 0) {
      EXPECT_EQ(stored, 5000);
    } else {
      EXPECT_LT(stored, 5000);
    }
    TBRNMemoryStream back;
    a->ReadBlob(5, block, back, level != 0);
    ASSERT_EQ(back.GetSize(), 5000) << level;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.GetMemory()), 5000), text);
  }
}

TEST_F(TableManagerTest, DestroyingTheManagerOfATemporaryTableDeletesItsFiles) {
  TBRNBaseTable* scratch = A.Environment.AddItemsTable("Scratch", true);
  scratch->Temporary = true;
  A.Open(scratch)->Close(false, true);
  EXPECT_TRUE(Database.Exists("Scratch.BRNTbl"));
  A.Managers.ReleaseManager(scratch);
  for (const char* ext : {".BRNTbl", ".BRNIdx", ".BRNBlb"}) {
    EXPECT_FALSE(Database.Exists(std::string("Scratch") + ext)) << ext;
  }
}

}  // namespace
}  // namespace brn::testing
