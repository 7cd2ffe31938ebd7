// The cursor's navigators under user filters of a real session: only rows of
// the filter set are visited or found, an empty set shows no row, and the
// filter operations keep the row-filter callback and the logging frame.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "execution/cursors/indexed_local_cursor.h"
#include "execution/cursors/local_cursor_factory.h"
#include "execution/filters/filter_test_support.h"
#include "foundation/text/exception.h"

namespace brn::testing {
namespace {

struct CursorNavigatorTest : FilterTable {
  TBRNLocalCursorFactory Factory;
  std::unique_ptr<TBRNLocalCursor> Cursor;

  void SetUp() override {
    FilterTable::SetUp();
    SetTableObjectFactory(&Factory);
  }
  void TearDown() override {
    Cursor.reset();
    SetTableObjectFactory(nullptr);
    FilterTable::TearDown();
  }
  // A cursor on T with a user of its own on the manager; indexed, in the
  // order of IA.
  TBRNLocalCursor& MakeCursor(bool indexed) {
    Manager->Open(false);
    auto made = Manager->CreateCursor("T", false, false, indexed);
    Cursor.reset(dynamic_cast<TBRNLocalCursor*>(made.release()));
    // T has no primary key: the order is IA (on A).
    if (indexed) Cursor->SetActiveIndex(0);
    return *Cursor;
  }
  int32_t Column(int32_t index) {
    auto row = Cursor->CreateRow();
    Cursor->ReadRow(*row);
    return row->Values.GetItem(index)->GetAsInteger();
  }
  std::vector<int32_t> VisitedIDs() {
    std::vector<int32_t> ids;
    for (bool on = Cursor->FirstRow(); on && !Cursor->GetEof(); on = Cursor->NextRow()) {
      ids.push_back(Column(0));
    }
    return ids;
  }
  TBRNFilterHandle Activate(const std::string& condition) {
    TBRNFilterHandle handle = Cursor->CreateFilter(condition, false, false, true);
    Cursor->ActivateFilter(handle);
    return handle;
  }
};

TEST_F(CursorNavigatorTest, VisitsAndFindsOnlyTheFilterSetsRows) {
  CreateTable(false);
  FillStandard(70);  // B = ID % 7
  Delete(7);
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "key order" : "row order");
    TBRNLocalCursor& cursor = MakeCursor(indexed);
    TBRNFilterHandle filter = Activate("B = 0");
    EXPECT_TRUE(cursor.GetFiltered());
    std::vector<int32_t> expected;
    for (int32_t id = 14; id <= 70; id += 7) expected.push_back(id);
    EXPECT_EQ(VisitedIDs(), expected) << "the deleted row 7 is not in the set";
    EXPECT_EQ(cursor.GetRowCount(), int32_t(expected.size()));

    // Next on the last visible row keeps it, with EOF; Prior on the first
    // keeps it with BOF.
    cursor.LastRow();
    cursor.NextRow();
    EXPECT_TRUE(cursor.GetEof());
    EXPECT_EQ(Column(0), 70);
    cursor.FirstRow();
    cursor.PriorRow();
    EXPECT_TRUE(cursor.GetBof());
    EXPECT_EQ(Column(0), 14);

    // Row 15 (B = 1) matches these values but lies outside the set.
    auto probe = cursor.CreateRow();
    {
      auto copy = Manager->NewRowBuffer();
      TBRNRowsetRow* stored = Manager->GetRow(15, false);
      copy->AssignRow(*stored);
      Manager->ReleaseRow(stored);
      TBRNRowsetRowValues values(Manager->GetColumns(), Manager);
      values.SetRow(copy.get());
      probe->Values.Assign(values);
    }
    cursor.FirstRow();
    EXPECT_FALSE(cursor.SetToRowValues(*probe));
    EXPECT_NE(cursor.GetRowNumber(), 15);

    cursor.DeactivateFilter(filter);
    EXPECT_FALSE(cursor.GetFiltered());
    EXPECT_EQ(cursor.GetRowCount(), 69);
    cursor.DropFilter(filter);
    Cursor.reset();
  }
}

TEST_F(CursorNavigatorTest, AnEmptyFilterSetShowsNoRow) {
  CreateTable(false);
  FillStandard(30);
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "key order" : "row order");
    TBRNLocalCursor& cursor = MakeCursor(indexed);
    Activate("A = 1000");
    EXPECT_EQ(cursor.GetRowCount(), 0);
    cursor.FirstRow();
    EXPECT_TRUE(cursor.GetBof());
    EXPECT_TRUE(cursor.GetEof());
    EXPECT_EQ(cursor.GetRowNumber(), 0);
    cursor.LastRow();
    EXPECT_TRUE(cursor.GetBof() && cursor.GetEof());
    EXPECT_EQ(cursor.GetRowNumber(), 0);
    Cursor.reset();
  }
}

TEST_F(CursorNavigatorTest, AnUnknownFilterIsLoggedWithItsOperation) {
  CreateTable(false);
  FillStandard(5);
  TBRNLocalCursor& cursor = MakeCursor(false);
  TBRNFilterHandle filter = Activate("A > 2");
  EXPECT_EQ(VisitedIDs(), (std::vector<int32_t>{3, 4, 5}));
  for (auto [code, call] : std::vector<std::pair<int32_t, std::function<void()>>>{
           {kOpActivateFilter, [&] { cursor.ActivateFilter(filter + 1); }},
           {kOpDeactivateFilter, [&] { cursor.DeactivateFilter(filter + 1); }},
           {kOpDropFilter, [&] { cursor.DropFilter(filter + 1); }}}) {
    try {
      call();
      ADD_FAILURE() << code;
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 1001);
      EXPECT_EQ(e.ErrorMessage, "A filter error occurred (Filter not found)");
    }
  }
  // A condition that does not compile leaves no filter behind.
  EXPECT_THROW(cursor.CreateFilter("A >", false, false, true), EBRNException);
  EXPECT_EQ(VisitedIDs(), (std::vector<int32_t>{3, 4, 5}));
}

}  // namespace
}  // namespace brn::testing
