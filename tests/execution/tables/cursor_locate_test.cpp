// Locating rows by column values (through an index with the right case
// rule, else in the cursor's order), finding keys of the active index
// exactly or nearest, and the server's position sync to a bookmark.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "execution/tables/cursor_editing_test_support.h"

namespace brn::testing {
namespace {

struct CursorLocateTest : ::testing::Test {
  CursorFactoryRegistration Factory;
  TempFolder Folder;
  std::unique_ptr<EditSession> A;

  // Row order and key orders differ: in "ByName" (binary) Apple, Pear,
  // apple, apricot, banana; in "ByCode" (case-insensitive) A7, b1, B2, b3,
  // x9.
  void SetUp() override {
    A = std::make_unique<EditSession>(Folder.Path);
    CreateParts(*A);
    std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor();
    PartRow row(*cursor);
    struct Part {
      int32_t ID;
      const char* Name;
      const char* Code;
      int32_t Qty;
    };
    for (const Part& p :
         {Part{10, "Pear", "x9", 30}, Part{20, "apricot", "B2", 20}, Part{30, "Apple", "b1", 20},
          Part{40, "apple", "A7", 10}, Part{50, "banana", "b3", 20}}) {
      ASSERT_TRUE(cursor->InsertRow(*row.New(p.ID, p.Name, p.Code).Set("Qty", p.Qty).Row));
    }
  }
};

TEST_F(CursorLocateTest, LocateFindsTheFirstMatchInTheOrderItSearches) {
  struct Case {
    const char* Column;
    std::string Text;  // empty: the integer Number
    int32_t Number;
    int32_t PartialLength;
    bool CaseInsensitive;
    int32_t Expected;  // 0: not found
  };
  const std::vector<Case> cases = {
      // "ByName" fits: its first match, not the row order's (20).
      {"Name", "ap", 0, 2, false, 40},
      {"Name", "apple", 0, 0, false, 40},
      // "ByName" compares case: the rows are scanned in the cursor's order.
      {"Name", "AP", 0, 2, true, 20},
      {"Name", "APPLE", 0, 0, true, 30},
      // "ByCode" ignores case: its order (b1 before B2) decides.
      {"Code", "b", 0, 1, true, 30},
      {"Code", "B", 0, 1, false, 20},
      {"Qty", "", 20, 0, false, 20},
      {"Name", "cherry", 0, 0, false, 0},
      {"Qty", "", 99, 0, false, 0},
  };
  for (bool indexed : {false, true}) {
    std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(indexed);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(indexed ? "key order, " : "row order, ") + c.Column + " " +
                   (c.Text.empty() ? std::to_string(c.Number) : c.Text));
      cursor->FirstRow();
      std::unique_ptr<TBRNMappedCursorColumns> columns = cursor->CreateMappedColumns(c.Column);
      TBRNContainedCursorColumnValues values(*columns);
      if (c.Text.empty()) {
        values.GetItem(0)->SetAsInteger(c.Number);
      } else {
        values.GetItem(0)->SetAsString(c.Text);
      }
      const bool found = cursor->LocateRow(*columns, values, c.PartialLength, c.CaseInsensitive);
      EXPECT_EQ(found, c.Expected != 0);
      if (c.Expected == 0) continue;
      EXPECT_EQ(CurrentID(*cursor), c.Expected);
      // The cursor's own order goes on from the row found.
      if (indexed && c.Expected < 50) {
        cursor->NextRow();
        EXPECT_EQ(CurrentID(*cursor), c.Expected + 10);
      }
    }
  }
}

TEST_F(CursorLocateTest, FindRowByKeyExactOrNearest) {
  std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(true);
  struct Case {
    int32_t ID;
    bool Nearest;
    bool Found;
    int32_t StandsOn;  // 0: no row
  };
  for (const Case& c :
       {Case{30, false, true, 30}, Case{35, false, false, 0}, Case{35, true, false, 40},
        Case{30, true, true, 30}, Case{5, true, false, 10}}) {
    SCOPED_TRACE(std::to_string(c.ID) + (c.Nearest ? " nearest" : " exact"));
    cursor->FirstRow();
    EXPECT_EQ(FindID(*cursor, c.ID, c.Nearest), c.Found);
    EXPECT_EQ(CurrentID(*cursor), c.StandsOn);
  }

  // Within a key range: a key before the range finds its first key, one
  // after it its last.
  TBRNContainedCursorKeyValues from(cursor.get());
  TBRNContainedCursorKeyValues to(cursor.get());
  from.GetItem(0)->SetAsInteger(20);
  to.GetItem(0)->SetAsInteger(40);
  cursor->SetRange(from, to);
  for (const Case& c :
       {Case{30, true, true, 30}, Case{35, true, false, 40}, Case{5, true, false, 20},
        Case{45, true, false, 40}, Case{30, false, true, 30}, Case{10, false, false, 0}}) {
    SCOPED_TRACE(std::to_string(c.ID) + (c.Nearest ? " nearest in range" : " exact in range"));
    cursor->FirstRow();
    EXPECT_EQ(FindID(*cursor, c.ID, c.Nearest), c.Found);
    EXPECT_EQ(CurrentID(*cursor), c.StandsOn);
  }
  cursor->CancelRange();

  // Text keys: nearest takes the last value as a prefix of its length.
  cursor->SetActiveIndex(1);  // "ByName"
  struct TextCase {
    const char* Key;
    bool Nearest;
    bool Found;
    int32_t StandsOn;
  };
  for (const TextCase& c : {TextCase{"ap", true, true, 40}, TextCase{"app", false, false, 0},
                            TextCase{"b", true, true, 50}, TextCase{"apricot", false, true, 20}}) {
    SCOPED_TRACE(c.Key);
    TBRNContainedCursorKeyValues key(cursor.get());
    key.GetItem(0)->SetAsString(c.Key);
    EXPECT_EQ(cursor->FindRowByKey(key, c.Nearest, false), c.Found);
    EXPECT_EQ(CurrentID(*cursor), c.StandsOn);
  }

  // Without an index order there is nothing to search.
  std::unique_ptr<TBRNLocalCursor> plain = A->Cursor(false);
  ASSERT_TRUE(plain->LastRow());
  TBRNContainedCursorKeyValues none(plain.get());
  EXPECT_FALSE(plain->FindRowByKey(none, true, false));
  EXPECT_EQ(CurrentID(*plain), 50);
}

TEST_F(CursorLocateTest, SyncToBookmarkPlacesTheClientsPosition) {
  std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(true);
  EXPECT_TRUE(cursor->GetPositionSynced()) << "an indexed cursor starts in sync";
  auto sync = [&](int32_t id, bool bof, bool eof) {
    TBRNContainedBookmarkValues bookmark(cursor.get());
    bookmark.GetItem(0)->SetAsInteger(id);
    cursor->SetPositionSynced(false);
    cursor->SyncToBookmark(bookmark, bof, eof);
    EXPECT_TRUE(cursor->GetPositionSynced());
  };
  cursor->FirstRow();
  sync(30, false, false);
  EXPECT_EQ(CurrentID(*cursor), 30);
  EXPECT_FALSE(cursor->GetBof() || cursor->GetEof());

  // In sync: nothing moves.
  TBRNContainedBookmarkValues other(cursor.get());
  other.GetItem(0)->SetAsInteger(50);
  cursor->SyncToBookmark(other, false, false);
  EXPECT_EQ(CurrentID(*cursor), 30);

  // The client's BOF and EOF hold only where no row lies beyond.
  struct Case {
    int32_t ID;
    bool Bof, Eof;
    bool ExpectBof, ExpectEof;
  };
  for (const Case& c : {Case{10, true, false, true, false}, Case{40, true, true, false, false},
                        Case{50, false, true, false, true}}) {
    SCOPED_TRACE(c.ID);
    sync(c.ID, c.Bof, c.Eof);
    EXPECT_EQ(CurrentID(*cursor), c.ID);
    EXPECT_EQ(cursor->GetBof(), c.ExpectBof);
    EXPECT_EQ(cursor->GetEof(), c.ExpectEof);
  }

  // A bookmark whose row was deleted: the next key.
  ASSERT_TRUE(FindID(*cursor, 30));
  PartRow row(*cursor);
  ASSERT_TRUE(cursor->DeleteRow(*row.Current().Row));
  cursor->FirstRow();
  sync(30, false, false);
  EXPECT_EQ(CurrentID(*cursor), 40);

  // A plain cursor is not positioned that way.
  std::unique_ptr<TBRNLocalCursor> plain = A->Cursor(false);
  ASSERT_TRUE(plain->FirstRow());
  TBRNContainedBookmarkValues bookmark(plain.get());
  plain->SetPositionSynced(false);
  plain->SyncToBookmark(bookmark, false, false);
  EXPECT_TRUE(plain->GetPositionSynced());
  EXPECT_EQ(CurrentID(*plain), 10);
}

}  // namespace
}  // namespace brn::testing
