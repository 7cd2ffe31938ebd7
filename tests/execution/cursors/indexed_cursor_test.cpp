// The indexed local cursor: key order, key and sequence ranges, bookmarks,
// changing the active index, and a step whose positioning restarted.

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "execution/cursors/cursor_test_support.h"
#include "execution/cursors/indexed_local_cursor.h"
#include "foundation/text/exception.h"

namespace brn::testing {
namespace {

using Ids = std::vector<int32_t>;

constexpr int32_t kPrimaryKey = 0;  // "PK" on ID
constexpr int32_t kByName = 1;      // "ByName" on Name ("name<id>")

struct IndexedCursorTest : ::testing::Test {
  CursorFactoryScope Factory;
  TestDatabaseFiles Database;
  CursorSession A{Database};
  TBRNIndexedLocalCursor* Cursor = nullptr;

  // Items with the given IDs in physical order, and an indexed cursor on
  // the primary key.
  void Make(const Ids& ids) {
    A.Session.Manager(A.Table)->SetCreatingFiles(true);
    TBRNTableManager* manager = A.Open();
    for (int32_t id : ids) InsertItem(*manager, id);
    Cursor = dynamic_cast<TBRNIndexedLocalCursor*>(&A.MakeCursor(true));
    ASSERT_NE(Cursor, nullptr);
    ASSERT_EQ(Cursor->GetActiveIndex(), kPrimaryKey);
  }
  static Ids Range(int32_t from, int32_t to) {
    Ids ids;
    for (int32_t id = from; id <= to; ++id) ids.push_back(id);
    return ids;
  }
  bool SetRange(int32_t from, int32_t to) {
    TBRNContainedCursorKeyValues start(Cursor);
    TBRNContainedCursorKeyValues end(Cursor);
    start.GetItem(0)->SetAsInteger(from);
    end.GetItem(0)->SetAsInteger(to);
    return Cursor->SetRange(start, end);
  }
  bool GoToBookmark(int32_t id) {
    TBRNContainedBookmarkValues bookmark(Cursor);
    bookmark.GetItem(0)->SetAsInteger(id);
    return Cursor->SetToBookmark(bookmark);
  }
};

TEST_F(IndexedCursorTest, WalksInKeyOrder) {
  Make({5, 3, 9, 1, 7});
  EXPECT_EQ(A.WalkForward(), (Ids{1, 3, 5, 7, 9}));
  EXPECT_EQ(A.WalkBackward(), (Ids{9, 7, 5, 3, 1}));
  // Next on the last key keeps its row, with EOF.
  Cursor->LastRow();
  Cursor->NextRow();
  EXPECT_TRUE(Cursor->GetEof());
  EXPECT_EQ(A.CurrentID(), 9);
  EXPECT_TRUE(Cursor->SetToSequenceNumber(2));
  EXPECT_EQ(A.CurrentID(), 3);
  // A row number puts the index on that row's key.
  EXPECT_TRUE(Cursor->SetToRowNumber(1));
  EXPECT_EQ(A.CurrentID(), 5);
  Cursor->NextRow();
  EXPECT_EQ(A.CurrentID(), 7);
  EXPECT_TRUE(A.ReadFree());
}

TEST_F(IndexedCursorTest, KeyRangeShowsItsKeysAndFollowsTheActiveIndex) {
  Ids ids;
  for (int32_t id = 30; id >= 1; --id) ids.push_back(id);
  Make(ids);
  EXPECT_EQ(Cursor->GetRangeStartValues(), nullptr);
  SetRange(10, 20);
  EXPECT_TRUE(Cursor->GetRanged());
  ASSERT_NE(Cursor->GetRangeStartValues(), nullptr);
  EXPECT_EQ(Cursor->GetRangeStartValues()->GetItem(0)->GetAsInteger(), 10);
  EXPECT_EQ(Cursor->GetRangeEndValues()->GetItem(0)->GetAsInteger(), 20);
  EXPECT_EQ(Cursor->GetRowCount(), 11);
  EXPECT_EQ(A.WalkForward(), Range(10, 20));
  EXPECT_EQ(A.WalkBackward().size(), 11u);

  Cursor->SetActiveIndex(kPrimaryKey);
  EXPECT_TRUE(Cursor->GetRanged()) << "the same index keeps the range";
  EXPECT_EQ(A.WalkForward(), Range(10, 20));

  Cursor->SetActiveIndex(kByName);
  EXPECT_FALSE(Cursor->GetRanged()) << "another index cancels it";
  EXPECT_EQ(Cursor->GetRowCount(), 30);
  EXPECT_EQ(A.WalkForward().size(), 30u);
  EXPECT_EQ(A.WalkForward().front(), 1) << "\"name1\" sorts first";

  Cursor->SetActiveIndex(kPrimaryKey);
  SetRange(25, 40);
  EXPECT_EQ(A.WalkForward(), Range(25, 30));
  Cursor->CancelRange();
  EXPECT_FALSE(Cursor->GetFiltered());
  EXPECT_EQ(A.WalkForward(), Range(1, 30));
  EXPECT_TRUE(A.ReadFree());
}

// The range bounds are prepared as search keys once per range, not per key
// weighed; a new range (also one written into the same filters) is used at
// once.
TEST_F(IndexedCursorTest, ARangeWalkPreparesItsBoundsOnce) {
  Ids ids;
  for (int32_t id = 30; id >= 1; --id) ids.push_back(id);
  Make(ids);
  TBRNCursorIndexNavigator& navigator = Cursor->GetIndexNavigator(kPrimaryKey);
  SetRange(10, 20);
  const int64_t before = navigator.RangeKeysPrepared;
  EXPECT_EQ(A.WalkForward(), Range(10, 20));
  EXPECT_EQ(A.WalkBackward().size(), 11u);
  EXPECT_LE(navigator.RangeKeysPrepared - before, 1);

  struct Case {
    int32_t From, To;
    Ids Expected;
  };
  for (const Case& c : std::vector<Case>{{12, 14, Range(12, 14)},
                                         {25, 40, Range(25, 30)},
                                         {12, 14, Range(12, 14)},
                                         {31, 40, {}}}) {
    SCOPED_TRACE(std::to_string(c.From) + ".." + std::to_string(c.To));
    SetRange(c.From, c.To);
    const int64_t prepared = navigator.RangeKeysPrepared;
    EXPECT_EQ(A.WalkForward(), c.Expected);
    EXPECT_EQ(A.WalkForward(), c.Expected);
    EXPECT_LE(navigator.RangeKeysPrepared - prepared, 1);
  }
  Cursor->CancelRange();
  EXPECT_EQ(A.WalkForward(), Range(1, 30));
}

// A move takes the Read byte once, also when it steps onto another index
// page: the page read and the row read nest in the move's own bracket. A
// move that finds its pages and row in the cache takes none.
TEST_F(IndexedCursorTest, AWalkOverManyIndexPagesTakesTheReadByteOncePerMove) {
  constexpr int32_t kRows = 1000;
  Make(Range(1, kRows));
  SetRange(100, 950);
  int32_t& taken = A.Session.Environment.ReadLocksTaken;
  auto dropCaches = [&] {
    A.Manager->GetRowsetManager()->DropCache(false);
    A.Manager->GetIndexManager()->DropCache(false);
  };
  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward ? "forward" : "backward");
    // Every move reads the files: one lock call each.
    Ids walked;
    dropCaches();
    taken = 0;
    int32_t moves = 1;
    for (bool on = forward ? Cursor->FirstRow() : Cursor->LastRow();
         on && !(forward ? Cursor->GetEof() : Cursor->GetBof());
         on = forward ? Cursor->NextRow() : Cursor->PriorRow()) {
      walked.push_back(A.CurrentID());
      dropCaches();
      ++moves;
    }
    ASSERT_EQ(walked.size(), 851u);
    EXPECT_EQ(walked.front(), forward ? 100 : 950);
    EXPECT_EQ(taken, moves);
    EXPECT_TRUE(A.ReadFree());

    // The same walk again: only the moves whose rows left the cache (it
    // holds fewer rows than the table) call the lock.
    ASSERT_EQ(forward ? A.WalkForward() : A.WalkBackward(), walked);
    taken = 0;
    EXPECT_EQ(forward ? A.WalkForward() : A.WalkBackward(), walked);
    EXPECT_LT(taken * 20, moves);
    EXPECT_TRUE(A.ReadFree());
  }
}

TEST_F(IndexedCursorTest, BookmarksFindTheirKeysOnly) {
  Make({4, 2, 6, 8});
  EXPECT_TRUE(GoToBookmark(6));
  EXPECT_EQ(A.CurrentID(), 6);

  CursorSession b(Database);
  DeleteRawRow(*b.Open(), 3);  // the row of 6
  EXPECT_TRUE(Cursor->RefreshCursor());
  EXPECT_FALSE(GoToBookmark(6)) << "a deleted key";
  EXPECT_FALSE(GoToBookmark(5)) << "a key never stored";
  EXPECT_TRUE(GoToBookmark(8));
  EXPECT_EQ(A.CurrentID(), 8);
}

TEST_F(IndexedCursorTest, SequenceRangeBeyondTheRowsShowsThemAll) {
  Make({3, 1, 5, 2, 4});
  EXPECT_TRUE(Cursor->SetSequenceRange(1, 10) || true);
  EXPECT_TRUE(Cursor->GetFiltered());
  EXPECT_EQ(Cursor->GetRowCount(), 5);
  EXPECT_EQ(A.WalkForward(), (Ids{1, 2, 3, 4, 5}));
  ASSERT_TRUE(Cursor->GetCombinedRange().RangeEnd);
  EXPECT_EQ(Cursor->GetCombinedRange().RangeEnd->GetItem(0)->GetAsInteger(), 5)
      << "the end bound is the last key";

  Cursor->SetSequenceRange(2, 3);
  EXPECT_EQ(A.WalkForward(), (Ids{2, 3}));
  Cursor->CancelSequenceRange();
  EXPECT_FALSE(Cursor->GetFiltered());
  EXPECT_EQ(Cursor->GetRowCount(), 5);
  EXPECT_EQ(A.WalkForward(), (Ids{1, 2, 3, 4, 5}));
  // Nothing to cancel: only the row filter runs.
  EXPECT_TRUE(Cursor->CancelSequenceRange());
}

TEST_F(IndexedCursorTest, NoActiveIndexOrAMissingIndexIsAMisuse) {
  Make({1, 2});
  Cursor->SetActiveIndex(-1);
  EXPECT_THROW(Cursor->FirstRow(), std::logic_error);
  EXPECT_THROW(Cursor->StepNext(), std::logic_error);
  EXPECT_THROW(Cursor->GetIndexNavigator(7), std::logic_error);
  EXPECT_THROW(Cursor->SetActiveIndex(7), std::out_of_range);
  EXPECT_TRUE(A.ReadFree());
}

// Indexes added or dropped through the manager: the cursor's next
// operation takes the new list, its active index follows its index (ranges
// taken on the old list are cancelled), and a key navigator of an index that
// went is a misuse.
TEST_F(IndexedCursorTest, FollowsTheTablesIndexes) {
  Make({3, 1, 2});
  TBRNIndex* again = A.Session.Environment.AddIndex(A.Table, "Again", {"ID"});
  ASSERT_TRUE(A.Manager->AddIndex(again, false));
  Cursor->FirstRow();
  Cursor->SetActiveIndex(2);
  EXPECT_EQ(A.WalkForward(), (Ids{1, 2, 3}));
  SetRange(2, 3);
  EXPECT_EQ(A.WalkForward(), (Ids{2, 3}));

  TBRNIndex* byName = A.Table->Indexes->GetItem(kByName);
  ASSERT_TRUE(A.Manager->DropIndex(byName, false));
  std::unique_ptr<TBRNConfigObject> gone(A.Table->Indexes->RemoveObject(byName->Index));
  EXPECT_EQ(A.WalkForward(), (Ids{1, 2, 3})) << "ranges are cancelled";
  EXPECT_FALSE(Cursor->GetRanged());
  EXPECT_EQ(Cursor->GetActiveIndex(), 1) << "\"Again\" moved up";
  EXPECT_THROW(Cursor->GetIndexNavigator(2), std::logic_error);
  SetRange(1, 2);
  EXPECT_EQ(A.WalkForward(), (Ids{1, 2}));
}

// A table manager whose next cache miss reports another writer's change,
// once armed: the read that misses asks the caller to restart.
class RestartingTableManager : public TBRNTableManager {
 public:
  using TBRNTableManager::TBRNTableManager;
  int32_t Restarts = 0;
  bool Armed = false;
  bool TableHasChanged() override {
    if (Armed) {
      Armed = false;
      ++Restarts;
      return true;
    }
    return TBRNTableManager::TableHasChanged();
  }
};

TEST_F(IndexedCursorTest, AStepWhosePositioningRestartedMovesOneRow) {
  Ids ids;
  for (int32_t id = 50; id >= 1; --id) ids.push_back(id);
  CreateItemRows(Database, ids);
  RestartingTableManager manager(A.Session.Environment, A.Table);
  manager.LockObject(ltShared);
  manager.Open(false);
  {
    std::unique_ptr<TBRNCursor> cursor = manager.CreateCursor("Items", false, false, true);
    ASSERT_TRUE(cursor->FirstRow());
    auto row = cursor->CreateRow();
    cursor->ReadRow(*row);
    ASSERT_EQ(row->Values.GetItem(0)->GetAsInteger(), 1);
    // Key 2's row lies before key 1's in the file: reading it misses the
    // cache, and that read restarts.
    manager.Armed = true;
    cursor->StepNext();
    EXPECT_EQ(manager.Restarts, 1);
    cursor->ReadRow(*row);
    EXPECT_EQ(row->Values.GetItem(0)->GetAsInteger(), 2);
    cursor->StepNext();
    cursor->ReadRow(*row);
    EXPECT_EQ(row->Values.GetItem(0)->GetAsInteger(), 3);
  }
  EXPECT_EQ(manager.GetUserCount(), 0) << "the cursor gave its user back";
}

}  // namespace
}  // namespace brn::testing
