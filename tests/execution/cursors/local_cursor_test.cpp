// The local cursor over a table: navigation in row order, the operation
// frame (Read lock released and the failure logged on every path), the
// fixed row set of DML statements and refreshing after other processes
// changed the table.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "execution/cursors/cursor_test_support.h"
#include "foundation/files/fault_file_manager.h"
#include "foundation/text/exception.h"

namespace brn::testing {
namespace {

using Ids = std::vector<int32_t>;

struct LocalCursorTest : ::testing::Test {
  CursorFactoryScope Factory;
  TestDatabaseFiles Database;

  void CreateItems(int32_t count, TBRNFileManager* files = nullptr) {
    testing::CreateItems(Database, count, files);
  }
};

TEST_F(LocalCursorTest, WalksTheLiveRowsInRowOrderBothWays) {
  CreateItems(6);
  CursorSession a(Database);
  TBRNTableManager* manager = a.Open();
  DeleteRawRow(*manager, 1);
  DeleteRawRow(*manager, 4);
  DeleteRawRow(*manager, 6);
  TBRNLocalCursor& cursor = a.MakeCursor();

  EXPECT_EQ(a.WalkForward(), (Ids{2, 3, 5})) << "deleted blocks are never shown";
  EXPECT_EQ(a.WalkBackward(), (Ids{5, 3, 2}));
  EXPECT_EQ(cursor.GetRowCount(), 3);
  EXPECT_EQ(cursor.GetTotalRowCount(), 3);
  EXPECT_FALSE(cursor.GetFiltered());

  // Next on the last row keeps it, with EOF; Prior on the first likewise
  // with BOF.
  ASSERT_TRUE(cursor.LastRow());
  EXPECT_EQ(a.CurrentID(), 5);
  cursor.NextRow();
  EXPECT_TRUE(cursor.GetEof());
  EXPECT_EQ(a.CurrentID(), 5);
  ASSERT_TRUE(cursor.FirstRow());
  cursor.PriorRow();
  EXPECT_TRUE(cursor.GetBof());
  EXPECT_EQ(a.CurrentID(), 2);

  // Positioning on row values finds the stored row; values nobody has
  // answer false.
  auto probe = cursor.CreateRow();
  probe->Values.SetAllNull();
  probe->Values.GetItem(0)->SetAsInteger(3);
  probe->Values.GetItem(1)->SetAsString("name3");
  EXPECT_TRUE(cursor.SetToRowValues(*probe));
  EXPECT_EQ(a.CurrentID(), 3);
  probe->Values.GetItem(0)->SetAsInteger(4);
  probe->Values.GetItem(1)->SetAsString("name4");
  EXPECT_FALSE(cursor.SetToRowValues(*probe)) << "a deleted row is not found";

  EXPECT_TRUE(cursor.SetToRowNumber(5));
  EXPECT_EQ(cursor.GetRowNumber(), 5);

  // Sequence numbers count the rows shown, from the first.
  for (auto [sequence, id] : std::vector<std::pair<int32_t, int32_t>>{{1, 2}, {2, 3}, {3, 5}}) {
    cursor.SetToSequenceNumber(sequence);
    EXPECT_EQ(a.CurrentID(), id) << sequence;
  }
  cursor.SetToSequenceNumber(9);
  EXPECT_EQ(a.CurrentID(), 5);
  EXPECT_TRUE(cursor.GetEof());
  EXPECT_TRUE(a.ReadFree());
}

TEST_F(LocalCursorTest, AnEmptyTableGivesBofAndEofWithNoRow) {
  CreateItems(0);
  CursorSession a(Database);
  a.Open();
  TBRNLocalCursor& cursor = a.MakeCursor();
  for (auto move :
       std::vector<std::function<void()>>{[&] { cursor.FirstRow(); }, [&] { cursor.LastRow(); },
                                          [&] { cursor.NextRow(); }, [&] { cursor.PriorRow(); }}) {
    move();
    EXPECT_TRUE(cursor.GetBof());
    EXPECT_TRUE(cursor.GetEof());
    EXPECT_EQ(cursor.GetRowNumber(), 0);
  }
  auto row = cursor.CreateRow();
  row->RowNumber = 7;
  cursor.ReadRow(*row);
  EXPECT_EQ(row->RowNumber, 0);
  EXPECT_EQ(cursor.GetRowCount(), 0);
}

TEST_F(LocalCursorTest, ClosingGivesTheManagersUserBackOnce) {
  CreateItems(2);
  CursorSession a(Database);
  TBRNTableManager* manager = a.Open();
  ASSERT_EQ(manager->GetUserCount(), 1);
  TBRNLocalCursor& cursor = a.MakeCursor();
  cursor.CloseCursor();
  EXPECT_TRUE(cursor.GetClosed());
  EXPECT_EQ(manager->GetUserCount(), 0);
  cursor.CloseCursor();
  a.Cursor.reset();
  EXPECT_EQ(manager->GetUserCount(), 0) << "destroying a closed cursor closes nothing more";
}

// Another session's changes: the cursor rebuilds and keeps its row while
// the row exists; a fixed row set shows exactly the rows it began with.
TEST_F(LocalCursorTest, FixedRowSetIgnoresRowsOthersAdd) {
  CreateItems(3);
  CursorSession a(Database);
  a.Open();
  TBRNLocalCursor& cursor = a.MakeCursor();
  CursorSession b(Database);
  TBRNTableManager* other = b.Open();

  cursor.SetFixedRowSet(true);
  EXPECT_TRUE(cursor.GetFiltered());
  EXPECT_EQ(cursor.GetRowCount(), 3);
  InsertItem(*other, 10);
  InsertItem(*other, 11);
  EXPECT_EQ(a.WalkForward(), (Ids{1, 2, 3}));
  EXPECT_EQ(a.WalkBackward(), (Ids{3, 2, 1}));
  EXPECT_EQ(cursor.GetRowCount(), 3) << "nothing was rebuilt";

  // FindKey passes over a matching row outside the set.
  auto probe = cursor.CreateRow();
  probe->Values.SetAllNull();
  probe->Values.GetItem(0)->SetAsInteger(10);
  probe->Values.GetItem(1)->SetAsString("name10");
  EXPECT_FALSE(cursor.SetToRowValues(*probe));
  EXPECT_NE(a.CurrentID(), 10);

  // Freed, the cursor catches up with the table.
  cursor.SetFixedRowSet(false);
  EXPECT_TRUE(cursor.RefreshCursor() || true);
  EXPECT_EQ(a.WalkForward(), (Ids{1, 2, 3, 10, 11}));
  EXPECT_TRUE(a.ReadFree());
}

TEST_F(LocalCursorTest, AFixedSetOfAnEmptyTableShowsNoRow) {
  CreateItems(0);
  CursorSession a(Database);
  a.Open();
  TBRNLocalCursor& cursor = a.MakeCursor();
  CursorSession b(Database);
  TBRNTableManager* other = b.Open();
  cursor.SetFixedRowSet(true);
  InsertItem(*other, 1);
  cursor.FirstRow();
  EXPECT_TRUE(cursor.GetBof());
  EXPECT_TRUE(cursor.GetEof());
  EXPECT_EQ(cursor.GetRowNumber(), 0);
  cursor.LastRow();
  EXPECT_EQ(cursor.GetRowNumber(), 0);
  EXPECT_EQ(cursor.GetRowCount(), 0);
}

// B, a forked process, inserts and deletes; A's refresh answers true, its
// counts follow and its row stays while it exists.
TEST_F(LocalCursorTest, RefreshAcrossForkedProcesses) {
  CreateItems(5);
  CursorSession a(Database);
  a.Open();
  TBRNLocalCursor& cursor = a.MakeCursor();
  ASSERT_TRUE(cursor.SetToRowNumber(3));
  EXPECT_FALSE(cursor.RefreshCursor()) << "nothing changed yet";

  auto change = [&](std::function<void(TBRNTableManager&)> work) {
    pid_t pid = Fork([&] {
      CursorSession b(Database);
      work(*b.Open());
      return 0;
    });
    ASSERT_EQ(Wait(pid), 0);
  };
  change([](TBRNTableManager& m) {
    InsertItem(m, 6);
    DeleteRawRow(m, 2);
  });
  EXPECT_TRUE(cursor.RefreshCursor());
  EXPECT_EQ(cursor.GetRowNumber(), 3) << "the row still exists";
  EXPECT_EQ(a.CurrentID(), 3);
  EXPECT_EQ(cursor.GetRowCount(), 5);
  EXPECT_EQ(a.WalkForward(), (Ids{1, 3, 4, 5, 6}));
  EXPECT_FALSE(cursor.RefreshCursor());

  // The current row deleted: the cursor moves on to the next it shows.
  ASSERT_TRUE(cursor.SetToRowNumber(4));
  change([](TBRNTableManager& m) { DeleteRawRow(m, 4); });
  EXPECT_TRUE(cursor.RefreshCursor());
  EXPECT_EQ(a.CurrentID(), 5);
  EXPECT_EQ(cursor.GetRowCount(), 4);

  // Fixed: B's new rows are not visited.
  cursor.SetFixedRowSet(true);
  change([](TBRNTableManager& m) { InsertItem(m, 7); });
  EXPECT_TRUE(cursor.RefreshCursor());
  EXPECT_EQ(a.WalkForward(), (Ids{1, 3, 5, 6}));
  EXPECT_EQ(cursor.GetRowCount(), 4);
  EXPECT_TRUE(a.ReadFree());
}

// A read failure injected into each positioning and range operation in turn: the
// failure is logged with the operation's code, no Read byte stays held and
// another process's flush proceeds at once. The table files are memory
// files shared by the sessions of this process (a fork gets a copy of
// them); the lock file is a real one.
TEST_F(LocalCursorTest, AFailedReadLeavesNoReadLockAndIsLogged) {
  TBRNFaultFileManager faults(&Database.Environment);
  CreateItems(40, &faults);
  struct Case {
    const char* Name;
    TBRNOperationCode Code;
    std::function<void(TBRNLocalCursor&, TBRNCursorRow&)> Operation;
    bool Indexed = false;
    // Run before the other session's change.
    std::function<void(TBRNLocalCursor&)> Prepare = nullptr;
  };
  auto setRange = [](TBRNLocalCursor& c, int32_t from, int32_t to) {
    TBRNContainedCursorKeyValues start(&c);
    TBRNContainedCursorKeyValues end(&c);
    start.GetItem(0)->SetAsInteger(from);
    end.GetItem(0)->SetAsInteger(to);
    c.SetRange(start, end);
  };
  const std::vector<Case> cases = {
      {"FirstRow", kOpFirstRow, [](TBRNLocalCursor& c, TBRNCursorRow&) { c.FirstRow(); }},
      {"LastRow", kOpLastRow, [](TBRNLocalCursor& c, TBRNCursorRow&) { c.LastRow(); }},
      {"StepNext", kOpStepNext, [](TBRNLocalCursor& c, TBRNCursorRow&) { c.StepNext(); }},
      {"StepPrior", kOpStepPrior, [](TBRNLocalCursor& c, TBRNCursorRow&) { c.StepPrior(); }},
      {"SetToRowNumber", kOpSetToRowNumber,
       [](TBRNLocalCursor& c, TBRNCursorRow&) { c.SetToRowNumber(30); }},
      {"SetToRowValues", kOpSetToRowValues,
       [](TBRNLocalCursor& c, TBRNCursorRow& probe) { c.SetToRowValues(probe); }},
      {"RefreshCursor", kOpRefreshCursor,
       [](TBRNLocalCursor& c, TBRNCursorRow&) { c.RefreshCursor(); }},
      {"Indexed FirstRow", kOpFirstRow, [](TBRNLocalCursor& c, TBRNCursorRow&) { c.FirstRow(); },
       true},
      {"Indexed StepNext", kOpStepNext, [](TBRNLocalCursor& c, TBRNCursorRow&) { c.StepNext(); },
       true},
      {"SetToBookmark", kOpSetToBookmark,
       [](TBRNLocalCursor& c, TBRNCursorRow&) {
         TBRNContainedBookmarkValues bookmark(&c);
         bookmark.GetItem(0)->SetAsInteger(33);
         c.SetToBookmark(bookmark);
       },
       true},
      {"SetActiveIndex", kOpSetActiveIndex,
       [](TBRNLocalCursor& c, TBRNCursorRow&) { c.SetActiveIndex(1); }, true},
      {"SetRange", kOpSetRange, [&](TBRNLocalCursor& c, TBRNCursorRow&) { setRange(c, 5, 25); },
       true},
      {"CancelRange", kOpCancelRange, [](TBRNLocalCursor& c, TBRNCursorRow&) { c.CancelRange(); },
       true, [&](TBRNLocalCursor& c) { setRange(c, 5, 25); }},
      {"SetSequenceRange", kOpSetSequenceRange,
       [](TBRNLocalCursor& c, TBRNCursorRow&) { c.SetSequenceRange(3, 9); }, true},
      {"CancelSequenceRange", kOpCancelSequenceRange,
       [](TBRNLocalCursor& c, TBRNCursorRow&) { c.CancelSequenceRange(); }, true,
       [](TBRNLocalCursor& c) { c.SetSequenceRange(3, 9); }},
  };
  int32_t nextID = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    CursorSession a(Database, &faults);
    a.Open();
    TBRNLocalCursor& cursor = a.MakeCursor(c.Indexed);
    ASSERT_TRUE(cursor.SetToRowNumber(20));
    if (c.Prepare) c.Prepare(cursor);
    auto probe = cursor.CreateRow();
    probe->Values.SetAllNull();
    probe->Values.GetItem(0)->SetAsInteger(35);
    probe->Values.GetItem(1)->SetAsString("name35");

    // Another session's flush: once A notices it, A's cached rows are gone
    // and the operation reads the file (the refresh notices it itself).
    {
      CursorSession b(Database, &faults);
      InsertItem(*b.Open(), nextID++);
    }
    if (c.Code != kOpRefreshCursor) {
      ASSERT_TRUE(a.Manager->HasChanged(false));
    }
    faults.FailRead(1);
    bool failed = false;
    try {
      c.Operation(cursor, *probe);
    } catch (const EBRNException&) {
      failed = true;
    }
    faults.Disarm();
    ASSERT_TRUE(failed) << "the injected read failure must surface";
    auto& logged = a.Session.Environment.FailedOperations;
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back().OperationCode, c.Code);
    EXPECT_TRUE(a.ReadFree());

    // A forked process flushes the table at once: its Write lock waits for
    // no Read byte.
    auto started = std::chrono::steady_clock::now();
    pid_t pid = Fork([&] {
      CursorSession b(Database, &faults);
      b.Session.Environment.LockTimeout = 0;
      InsertItem(*b.Open(), 1000);
      return 0;
    });
    EXPECT_EQ(Wait(pid), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  }
}

TEST_F(LocalCursorTest, ViewsNestSixDeep) {
  CreateItems(1);
  CursorSession a(Database);
  a.Open();
  TBRNLocalCursor& cursor = a.MakeCursor();
  // The cursor closes the views it records: here the table's own manager
  // stands in for each view, one user per record.
  TBRNTableManager* view = a.Manager;
  for (int32_t i = 0; i < kMaxReferencedViews; ++i) {
    view->Open(false);
    cursor.AddReferencedView(view);
  }
  view->Open(false);
  try {
    cursor.AddReferencedView(view);
    ADD_FAILURE() << "a seventh view was accepted";
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 902);
    EXPECT_EQ(e.ErrorMessage,
              "An error occurred with the view Items (Views cannot be nested more than 6 levels "
              "deep)");
  }
  view->Close(false, true);
  a.Cursor.reset();
  EXPECT_EQ(view->GetUserCount(), 0);
}

}  // namespace
}  // namespace brn::testing
