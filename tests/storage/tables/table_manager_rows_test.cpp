// Row locks and row state of the table manager between two sessions of one
// process (their lock bytes contend as two processes' would).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/runtime/handle_objects.h"
#include "storage/rows/row_locks.h"
#include "storage/tables/row_lock_test_support.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

// A cursor-like holder of row locks.
struct Holder : TBRNHandleObject {};

struct StoredRow {
  int32_t Version = 0;
  int32_t UpdateCounter = 0;
};

struct TableManagerRowsTest : ::testing::Test {
  TestDatabaseFiles Database;
  TestSession A{Database};
  TestSession B{Database};
  TBRNBaseTable* TableA = A.Environment.AddItemsTable("Items", false);
  TBRNBaseTable* TableB = B.Environment.AddItemsTable("Items", false);
  TBRNTableManager* a = nullptr;
  TBRNTableManager* b = nullptr;
  Holder First;
  Holder Second;

  void SetUp() override {
    a = A.Open(TableA);
    for (int32_t id = 1; id <= 6; ++id) InsertRawRow(*a, id);
    b = B.Open(TableB);
    // A locked row fails at once unless a test says otherwise.
    A.Environment.Settings.RecordLockRetryCount = 0;
    B.Environment.Settings.RecordLockRetryCount = 0;
  }

  bool RowFree(int32_t row) { return RowByteFree(Database, "Items", row); }
  bool ReadFree() { return A.Environment.LockByteFree(TableA, ltRead); }

  // LockRowForUpdate of the row as it is stored now.
  static bool LockCurrent(TBRNTableManager& manager, Holder& holder, int32_t row) {
    StoredRow seen = Stored(manager, row);
    return manager.LockRowForUpdate(&holder, row, seen.Version, seen.UpdateCounter, false, false,
                                    0);
  }

  static StoredRow Stored(TBRNTableManager& manager, int32_t row) {
    manager.HasChanged(false);
    manager.GotoRowNumber(row);
    const TBRNRowsetRow* current = manager.GetRowNavigator()->GetCurrentRow();
    return {current->Version, current->UpdateCounter};
  }

  // Another session's row change, written and flushed.
  static void Rename(TBRNTableManager& manager, int32_t row, const std::string& name) {
    manager.HasChanged(false);
    auto buffer = manager.NewRowBuffer();
    TBRNRowsetRowValues values(manager.GetColumns(), &manager);
    values.SetRow(buffer.get());
    ASSERT_TRUE(manager.ReadRowByNumber(row, values));
    values.GetItem(1)->SetAsString(name);
    {
      TBRNTableOperation operation(manager.GetRowsetManager());
      int32_t counter = 0;
      manager.GetRowNavigator()->UpdateRow(values, row, counter);
      operation.Commit();
    }
    manager.FlushFiles(true);
  }
  static void Delete(TBRNTableManager& manager, int32_t row) {
    manager.HasChanged(false);
    auto buffer = manager.NewRowBuffer();
    TBRNRowsetRowValues values(manager.GetColumns(), &manager);
    values.SetRow(buffer.get());
    ASSERT_TRUE(manager.ReadRowByNumber(row, values));
    {
      TBRNTableOperation operation(manager.GetRowsetManager());
      manager.DeleteKey(values, row, 0);
      int32_t counter = 0;
      manager.GetRowNavigator()->DeleteRow(row, counter);
      operation.Commit();
    }
    manager.FlushFiles(true);
  }
};

TEST_F(TableManagerRowsTest, AHolderOwnsItsRowLockUntilItReleasesIt) {
  EXPECT_TRUE(LockCurrent(*a, First, 3));
  EXPECT_FALSE(RowFree(3));
  EXPECT_FALSE(LockCurrent(*a, First, 3)) << "the holder has it already: this call took nothing";
  EXPECT_EQ(CaughtError([&] { a->LockRowForUpdate(&Second, 3, 0, 0, true, false, 0); }).ErrorCode,
            1005);
  EBRNException other = CaughtError([&] { b->LockRowForUpdate(&Second, 3, 0, 0, true, false, 0); });
  EXPECT_EQ(other.ErrorCode, 1005);
  EXPECT_EQ(other.ErrorMessage, "Cannot lock the row in the table Items");
  EXPECT_EQ(b->GetRowLocks()->Count(), 0) << "a failed lock leaves no record";

  a->UnlockRow(3);
  EXPECT_TRUE(RowFree(3));
  EBRNException again = CaughtError([&] { a->UnlockRow(3); });
  EXPECT_EQ(again.ErrorCode, 1006);
  EXPECT_EQ(again.ErrorMessage, "Cannot unlock the row in the table Items");
}

TEST_F(TableManagerRowsTest, UnlockRowsReleasesOneHolderOrAll) {
  a->LockRow(&First, 1, 0);
  a->LockRow(&First, 4, 0);
  a->LockRow(&Second, 2, 0);
  a->UnlockRows(&First);
  EXPECT_TRUE(RowFree(1));
  EXPECT_TRUE(RowFree(4));
  EXPECT_FALSE(RowFree(2));
  EXPECT_TRUE(a->IsRowLocked(2, false));
  a->UnlockRows(nullptr);
  EXPECT_TRUE(RowFree(2));
  EXPECT_EQ(a->GetRowLocks()->Count(), 0);
}

TEST_F(TableManagerRowsTest, AFailedLockForUpdateLeavesNoLockBehind) {
  struct Case {
    std::string Name;
    std::function<void(StoredRow&)> Change;
    bool Force;
    int32_t Code;
  };
  const std::vector<Case> cases = {
      {"modified", [&](StoredRow&) { Rename(*b, 5, "renamed"); }, true, 1008},
      {"deleted", [&](StoredRow&) { Delete(*b, 5); }, false, 1007},
      {"interrupted flush",
       [&](StoredRow&) {
         auto stream =
             Database.Files.OpenFile(Database.PathOf("Items.BRNTbl"), false, false, false);
         uint8_t flag = 1;
         stream->Seek(0, 53);
         stream->Write(&flag, 1);
       },
       false, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    StoredRow seen = Stored(*a, 5);
    c.Change(seen);
    EXPECT_EQ(CaughtError([&] {
                a->LockRowForUpdate(&First, 5, seen.Version, seen.UpdateCounter, false, c.Force, 0);
              }).ErrorCode,
              c.Code);
    EXPECT_TRUE(RowFree(5));
    EXPECT_EQ(a->GetRowLocks()->Count(), 0);
    EXPECT_TRUE(ReadFree()) << "the change check keeps no Read lock";
  }
}

TEST_F(TableManagerRowsTest, ARowDeletedAndItsNumberReusedIsDeletedNotModified) {
  StoredRow seen = Stored(*a, 5);
  Delete(*b, 5);
  EXPECT_EQ(InsertRawRow(*b, 7), 5) << "the insert took the deleted row's block";
  for (bool force : {false, true}) {
    EBRNException error =
        CaughtError([&] { a->CheckRowCurrent(5, seen.Version, seen.UpdateCounter, false, force); });
    EXPECT_EQ(error.ErrorCode, 1007);
    EXPECT_EQ(error.ErrorMessage, "The row has been deleted since last cached for the table Items");
  }
  EXPECT_EQ(CaughtError([&] { a->CheckRowCurrent(99, seen.Version, 0, false, false); }).ErrorCode,
            1007)
      << "a row beyond the file";
}

TEST_F(TableManagerRowsTest, ChangeDetectionFollowsTheSessionSettingUnlessForcedOrSkipped) {
  struct Case {
    bool Setting;
    bool Skip;
    bool Force;
    int32_t Code;  // 0: accepted
  };
  const std::vector<Case> cases = {
      {false, false, false, 0}, {false, false, true, 1008}, {true, false, false, 1008},
      {true, true, false, 0},   {true, true, true, 0},
  };
  StoredRow seen = Stored(*a, 2);
  Rename(*b, 2, "changed");
  for (const Case& c : cases) {
    A.Environment.Settings.RecordChangeDetection = c.Setting;
    auto check = [&] { a->CheckRowCurrent(2, seen.Version, seen.UpdateCounter, c.Skip, c.Force); };
    if (c.Code == 0) {
      EXPECT_NO_THROW(check()) << c.Setting << c.Skip << c.Force;
    } else {
      EBRNException error = CaughtError(check);
      EXPECT_EQ(error.ErrorCode, c.Code) << c.Setting << c.Skip << c.Force;
      EXPECT_EQ(error.ErrorMessage,
                "The row has been modified since last cached for the table Items");
    }
  }
  EXPECT_TRUE(ReadFree());
}

TEST_F(TableManagerRowsTest, ARowLockKeptForTheTransactionHoldsItsByteUntilTheEnd) {
  RowLockCountingFiles counting(&Database.Environment);
  a->ForceClose();
  A.Environment.TableFiles = &counting;
  a = A.Open(TableA);
  a->StartTransaction();

  // A plain lock goes at once; a kept one stays with the transaction.
  ASSERT_TRUE(a->LockRow(&First, 4, 0));
  ASSERT_TRUE(a->ReleaseRowLock(4));
  EXPECT_TRUE(RowFree(4));
  ASSERT_TRUE(a->LockRow(&First, 5, 1));
  ASSERT_TRUE(a->ReleaseRowLock(5));
  EXPECT_FALSE(a->IsRowLocked(5, false));
  EXPECT_TRUE(a->IsRowLocked(5, true));
  EXPECT_FALSE(RowFree(5));
  EXPECT_EQ(CaughtError([&] { b->LockRowForUpdate(&Second, 5, 0, 0, true, false, 0); }).ErrorCode,
            1005);

  // Taken back without touching the byte; the record keeps its value.
  int32_t locks = counting.LockCalls;
  int32_t unlocks = counting.UnlockCalls;
  ASSERT_TRUE(a->LockRow(&Second, 5, 0));
  EXPECT_EQ(counting.LockCalls, locks);
  EXPECT_EQ(counting.UnlockCalls, unlocks);
  ASSERT_NE(a->GetRowLocks()->FindLock(5), nullptr);
  EXPECT_EQ(a->GetRowLocks()->FindLock(5)->Value, 1);
  EXPECT_FALSE(a->GetTransactionRowLocks()->IsLocked(5));
  a->UnlockRows(&Second);
  EXPECT_TRUE(a->IsRowLocked(5, false)) << "inside a transaction a holder releases nothing";
  a->UnlockRow(5);
  EXPECT_TRUE(a->GetTransactionRowLocks()->IsLocked(5));

  a->CommitTransaction();
  EXPECT_TRUE(RowFree(5));
  EXPECT_EQ(a->GetTransactionRowLocks()->Count(), 0);
  a->ForceClose();  // its files go before the counting manager
  A.Environment.TableFiles = nullptr;
}

TEST_F(TableManagerRowsTest, AVisibilityMismatchReleasesTheRowLock) {
  ASSERT_TRUE(LockCurrent(*a, First, 2));
  EXPECT_NO_THROW(a->CheckRowVisible(2, 2));
  EXPECT_FALSE(RowFree(2));
  EBRNException error = CaughtError([&] { a->CheckRowVisible(2, 3); });
  EXPECT_EQ(error.ErrorCode, 1010);
  EXPECT_EQ(error.ErrorMessage, "The row is no longer visible in the table Items");
  EXPECT_TRUE(RowFree(2));
  EXPECT_FALSE(a->IsRowLocked(2, true));
}

TEST_F(TableManagerRowsTest, ATableHeldExclusivelyTakesNoRowLocks) {
  b->ForceClose();
  a->ForceClose();
  auto* exclusive =
      static_cast<TBRNTableManager*>(A.Managers.OpenManager(TableA, kBRNLockTypeExclusive));
  StoredRow seen = Stored(*exclusive, 3);
  EXPECT_TRUE(
      exclusive->LockRowForUpdate(&First, 3, seen.Version, seen.UpdateCounter, false, false, 0));
  EXPECT_EQ(exclusive->GetRowLocks()->Count(), 0);
  EXPECT_TRUE(RowFree(3));
  EXPECT_NO_THROW(exclusive->UnlockRow(3));
}

TEST_F(TableManagerRowsTest, RowsAreReadByNumberAndByKey) {
  auto buffer = a->NewRowBuffer();
  TBRNRowsetRowValues values(a->GetColumns(), a);
  values.SetRow(buffer.get());
  EXPECT_FALSE(a->ReadRowByNumber(7, values));
  ASSERT_TRUE(a->ReadRowByNumber(4, values));
  EXPECT_EQ(values.GetItem(1)->GetAsString(), "name4");
  EXPECT_EQ(buffer->Version, Stored(*a, 4).Version) << "the row header comes along";

  auto keyBuffer = a->NewRowBuffer();
  TBRNRowsetRowValues key(a->GetColumns(), a);
  key.SetRow(keyBuffer.get());
  key.SetAllNull();
  key.GetItem(0)->SetAsInteger(6);
  ASSERT_TRUE(a->FindRowByKey(values, key, 0, true));
  EXPECT_EQ(values.GetItem(1)->GetAsString(), "name6");
  key.GetItem(0)->SetAsInteger(60);
  EXPECT_FALSE(a->FindRowByKey(values, key, 0, true));

  std::vector<int32_t> ids;
  for (bool more = a->FirstRowByIndex(values, 0); more; more = a->NextRowByIndex(values, 0)) {
    ids.push_back(values.GetItem(0)->GetAsInteger());
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
}

}  // namespace
}  // namespace brn::testing
