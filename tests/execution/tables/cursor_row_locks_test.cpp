// Row locks of local cursors, seen from a second process where it matters:
// the pessimistic edit lock, the optimistic currency check, explicit locks
// taken once however often asked for, kept across an edit and dropped by a
// delete, and no lock left by an edit of a row that left the view.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "execution/tables/cursor_editing_test_support.h"

namespace brn::testing {
namespace {

constexpr int32_t kCannotLockRow = 1005;
constexpr int32_t kRowModified = 1008;
constexpr int32_t kRowNotVisible = 1010;

struct CursorRowLocksTest : ::testing::Test {
  CursorFactoryRegistration Factory;
  TempFolder Folder;
  std::unique_ptr<EditSession> A;

  // Parts with rows 1..3, Qty 5.
  void SetUp() override {
    A = std::make_unique<EditSession>(Folder.Path);
    CreateParts(*A);
    std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor();
    PartRow row(*cursor);
    for (int32_t id = 1; id <= 3; ++id) ASSERT_TRUE(cursor->InsertRow(*row.New(id, "p").Row));
  }

  // The engine code of B's try, in a forked process, to read row id for an
  // edit (0: it got the row; it then cancels the edit).
  int32_t TryEditInOtherProcess(int32_t id) {
    const std::string path = Folder.Path;
    pid_t pid = Fork([&] {
      alarm(30);  // a hang ends the child and fails the test
      EditSession b(path);
      std::unique_ptr<TBRNLocalCursor> cursor = b.Cursor(true);
      if (!FindID(*cursor, id)) return 90;
      PartRow row(*cursor);
      row.Current();
      int32_t code = CodeOf([&] { row.Current(true); });
      if (code == 0) cursor->CancelRow(*row.Row);
      return code == 0 ? 0 : code == kCannotLockRow ? 1 : 2;
    });
    const int rc = Wait(pid);
    return rc == 0 ? 0 : rc == 1 ? kCannotLockRow : -rc;
  }

  static TBRNTableManager& Manager(TBRNLocalCursor& cursor) {
    return static_cast<TBRNTableManager&>(cursor.GetTableManager());
  }
};

// While A edits row 2, B's read for update fails after its retries; B,
// waiting with the row it read before, gets it once A has posted and sees
// A's value.
TEST_F(CursorRowLocksTest, PessimisticEditLockHoldsUntilThePost) {
  std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(true);
  ASSERT_TRUE(FindID(*cursor, 2));
  PartRow row(*cursor);
  row.Edit().Set("Qty", 7);

  Signal tried;
  Signal posted;
  const std::string path = Folder.Path;
  pid_t pid = Fork([&] {
    alarm(30);
    EditSession b(path);
    std::unique_ptr<TBRNLocalCursor> other = b.Cursor(true);
    if (!FindID(*other, 2)) return 90;
    PartRow mine(*other);
    mine.Current();
    int32_t first = CodeOf([&] { mine.Current(true); });
    tried.Send();
    posted.Wait();
    int32_t second = CodeOf([&] { mine.Current(true); });
    if (first != kCannotLockRow) return 10;
    if (second != 0) return 11;
    if (mine.Get("Qty") != 7) return 12;
    mine.Set("Qty", 8);
    return other->UpdateRow(*mine.Row) ? 0 : 13;
  });
  tried.Wait();
  ASSERT_TRUE(cursor->UpdateRow(*row.Row));
  EXPECT_FALSE(Manager(*cursor).IsRowLocked(row.Row->RowNumber, true))
      << "the post ended the edit lock";
  posted.Send();
  EXPECT_EQ(Wait(pid), 0);

  ASSERT_TRUE(cursor->RefreshCursor());
  EXPECT_EQ(row.Current().Get("Qty"), 8);
}

// B reads row 2 for an edit, A changes it meanwhile: B's post fails with
// the table manager's row-modified error and A's value stays.
TEST_F(CursorRowLocksTest, OptimisticPostOfARowChangedMeanwhileFails) {
  A->Session->RecordLockProtocol = kBRNLockOptimistic;
  Signal read;
  Signal changed;
  const std::string path = Folder.Path;
  pid_t pid = Fork([&] {
    alarm(30);
    EditSession b(path);
    b.Session->RecordLockProtocol = kBRNLockOptimistic;
    std::unique_ptr<TBRNLocalCursor> other = b.Cursor(true);
    if (!FindID(*other, 2)) return 90;
    PartRow mine(*other);
    mine.Current();
    if (CodeOf([&] { mine.Current(true); }) != 0) return 10;
    read.Send();
    changed.Wait();
    mine.Set("Qty", 9);
    return CodeOf([&] { other->UpdateRow(*mine.Row); }) == kRowModified ? 0 : 11;
  });
  read.Wait();
  std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(true);
  ASSERT_TRUE(FindID(*cursor, 2));
  PartRow row(*cursor);
  row.Edit().Set("Qty", 6);
  EXPECT_FALSE(Manager(*cursor).IsRowLocked(row.Row->RowNumber, true))
      << "optimistic reads lock nothing";
  ASSERT_TRUE(cursor->UpdateRow(*row.Row));
  changed.Send();
  EXPECT_EQ(Wait(pid), 0);
  cursor->RefreshCursor();
  EXPECT_EQ(row.Current().Get("Qty"), 6);
}

TEST_F(CursorRowLocksTest, AnExplicitLockIsTakenOnceAndOutlivesAnEdit) {
  std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(true);
  ASSERT_TRUE(FindID(*cursor, 2));
  PartRow row(*cursor);
  row.Current();
  const int32_t stored = row.Row->RowNumber;

  cursor->LockRow(*row.Row);
  cursor->LockRow(*row.Row);
  EXPECT_EQ(cursor->GetRowLocks().Count(), 1);
  EXPECT_EQ(Manager(*cursor).GetRowLocks()->Count(), 1);
  EXPECT_TRUE(cursor->IsRowLocked());
  EXPECT_EQ(TryEditInOtherProcess(2), kCannotLockRow);

  // An edit (posted, then cancelled) of the locked row keeps the lock.
  row.Edit().Set("Qty", 11);
  ASSERT_TRUE(cursor->UpdateRow(*row.Row));
  row.Edit().Set("Qty", 12);
  cursor->CancelRow(*row.Row);
  EXPECT_FALSE(row.Modified("Qty"));
  EXPECT_TRUE(Manager(*cursor).IsRowLocked(stored, false));
  EXPECT_EQ(TryEditInOtherProcess(2), kCannotLockRow);

  cursor->UnlockRow(*row.Row);
  EXPECT_EQ(cursor->GetRowLocks().Count(), 0);
  EXPECT_FALSE(Manager(*cursor).IsRowLocked(stored, true));
  EXPECT_EQ(TryEditInOtherProcess(2), 0);

  // UnlockAllRows (as closing does) releases explicit and edit locks.
  cursor->LockRow(*row.Row);
  ASSERT_TRUE(FindID(*cursor, 3));
  PartRow third(*cursor);
  third.Edit();
  EXPECT_EQ(Manager(*cursor).GetRowLocks()->Count(), 2);
  cursor->UnlockAllRows();
  EXPECT_EQ(cursor->GetRowLocks().Count(), 0);
  EXPECT_EQ(Manager(*cursor).GetRowLocks()->Count(), 0);
}

// A delete releases the row's explicit lock, and ends an edit lock of it
// too: no lock byte stays on the freed block.
TEST_F(CursorRowLocksTest, DeleteRowDropsTheRowsLock) {
  const std::vector<std::pair<const char*, std::function<void(TBRNLocalCursor&, PartRow&)>>> cases =
      {
          {"explicit", [](TBRNLocalCursor& c, PartRow& r) { c.LockRow(*r.Current().Row); }},
          {"edit", [](TBRNLocalCursor&, PartRow& r) { r.Edit(); }},
      };
  int32_t id = 1;
  for (const auto& [name, lock] : cases) {
    SCOPED_TRACE(name);
    std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(true);
    ASSERT_TRUE(FindID(*cursor, id));
    PartRow row(*cursor);
    lock(*cursor, row);
    const int32_t stored = row.Row->RowNumber;
    ASSERT_TRUE(Manager(*cursor).IsRowLocked(stored, true));
    ASSERT_TRUE(cursor->DeleteRow(*row.Row));
    EXPECT_EQ(cursor->GetRowLocks().Count(), 0);
    EXPECT_FALSE(Manager(*cursor).IsRowLocked(stored, true));
    ++id;
  }
}

// A row read before a change moved it out of a filtered cursor's view:
// the edit fails, and no lock of the row stays, whether the edit took it
// (another cursor changed the row) or the cursor held it explicitly (and
// changed the row itself).
TEST_F(CursorRowLocksTest, AnEditOfARowThatLeftTheViewLeavesNoLock) {
  std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor();
  cursor->ActivateFilter(cursor->CreateFilter("Qty < 10", false, false, false));
  std::unique_ptr<TBRNLocalCursor> other = A->Cursor(true);
  // Qty 50 for the row `by` stands on.
  auto moveOut = [](TBRNLocalCursor& by) {
    PartRow change(by);
    change.Edit().Set("Qty", 50);
    if (!by.UpdateRow(*change.Row)) throw std::logic_error("not written");
  };
  for (bool explicitLock : {false, true}) {
    SCOPED_TRACE(explicitLock ? "explicit" : "edit");
    ASSERT_TRUE(cursor->SetToSequenceNumber(2));
    PartRow row(*cursor);
    row.Current();
    const int32_t stored = row.Row->RowNumber;
    if (explicitLock) {
      cursor->LockRow(*row.Row);
      moveOut(*cursor);
    } else {
      ASSERT_TRUE(FindID(*other, row.Get("ID")));
      moveOut(*other);
    }
    EXPECT_EQ(CodeOf([&] { row.Current(true); }), kRowNotVisible);
    EXPECT_EQ(cursor->GetRowLocks().Count(), 0);
    EXPECT_FALSE(Manager(*cursor).IsRowLocked(stored, true));
  }
}

}  // namespace
}  // namespace brn::testing
