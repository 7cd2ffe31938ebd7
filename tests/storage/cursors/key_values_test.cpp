#include "storage/cursors/key_values.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/text/exception.h"
#include "foundation/values/contained_value.h"
#include "storage/cursors/cursor_test_support.h"

namespace brn {
namespace {

using testing::AddStandardColumns;
using testing::CaughtError;
using testing::TestCursor;

constexpr int32_t kCaseInsensitiveKey = 1 << 20;

// A cursor row's values in table column order: ROWID, NAME, AMOUNT, DATA,
// CODE.
struct RowValues {
  TBRNValues Values;

  RowValues(int32_t rowID, const std::string& name, const std::string& amount) {
    for (TBRNDataTypeCode type : {dtInteger, dtChar, dtDecimal, dtLob, dtChar}) {
      auto value = std::make_unique<TBRNContainedValue>();
      value->SetDataType(type);
      Values.Add(value.release());
    }
    Values.GetItem(0)->SetAsInteger(rowID);
    Values.GetItem(1)->SetAsString(name);
    Values.GetItem(2)->SetAsString(amount);
  }
};

// The key of row on the cursor's active index (NAME, AMOUNT).
void fillKey(TBRNCursorKeyValues& key, const RowValues& row) {
  key.SetRowValues(&row.Values);
  key.Add(row.Values.GetItem(1));
  key.Add(row.Values.GetItem(2));
}

TEST(CursorKeyValues, RowIDIsTheRowIdentifierExceptOnPrimaryKeyAndTextIndexes) {
  TestCursor cursor;
  AddStandardColumns(cursor);
  struct RowIDCase {
    std::string name;
    int32_t indexType;  // -1: no active index
    int32_t expected;
  };
  const std::vector<RowIDCase> cases = {
      {"ordinary", kIndexOrdinary, 77},
      {"primary key", kIndexPrimaryKey, 0},
      {"foreign key", kIndexForeignKey, 77},
      {"unique", kIndexUnique, 77},
      {"text", kIndexText, 0},
      {"no active index", -1, 77},
  };
  for (const RowIDCase& c : cases) {
    if (c.indexType >= 0) cursor.AddIndex("I" + c.name.substr(0, 3), c.indexType, {{11}});
  }
  RowValues row(77, "abc", "1.5");
  for (size_t i = 0; i < cases.size(); ++i) {
    const RowIDCase& c = cases[i];
    SCOPED_TRACE(c.name);
    cursor.ActiveIndex = c.indexType >= 0 ? int32_t(i) : -1;
    TBRNCursorKeyValues key(&cursor, &row.Values);
    TBRNBookmarkValues bookmark(&cursor, &row.Values);
    EXPECT_EQ(key.GetRowID(), c.expected);
    EXPECT_EQ(bookmark.GetRowID(), c.expected);
    EXPECT_EQ(IndexKeyHasRowID(c.indexType), c.expected != 0);
    // The row ID belongs to the row: setting it on the key changes nothing.
    key.SetRowID(5);
    EXPECT_EQ(key.GetRowID(), c.expected);
    // It travels with the key: list, then int32 row ID.
    TBRNMemoryStream stream;
    key.SaveToStream(stream);
    stream.SetPosition(stream.GetSize() - 4);
    EXPECT_EQ(stream.ReadInteger(), c.expected);
  }

  // Without row values, or with a NULL row identifier, there is no row ID.
  cursor.ActiveIndex = 0;
  TBRNCursorKeyValues unbound(&cursor);
  EXPECT_EQ(unbound.GetRowID(), 0);
  row.Values.GetItem(0)->SetNull(true);
  TBRNCursorKeyValues nullID(&cursor, &row.Values);
  EXPECT_EQ(nullID.GetRowID(), 0);
}

TEST(CursorKeyValues, ColumnOrderComesFromTheActiveIndex) {
  TestCursor cursor;
  AddStandardColumns(cursor);
  cursor.AddIndex("BY_NAME_DESC", kIndexOrdinary, {{11, true, kCaseInsensitiveKey}, {12}});
  cursor.AddIndex("BY_NAME", kIndexUnique, {{11}, {12, true}});
  RowValues abc(1, "abc", "5"), abd(2, "ABD", "5"), abcHigher(3, "ABC", "7");
  TBRNCursorKeyValues a(&cursor), b(&cursor), c(&cursor);
  fillKey(a, abc);
  fillKey(b, abd);
  fillKey(c, abcHigher);

  struct OrderCase {
    std::string name;
    int32_t activeIndex;
    int32_t collation0;
    bool descending0, descending1;
    int32_t aVersusB, aVersusC;
  };
  const std::vector<OrderCase> cases = {
      // NAME descending and case-insensitive: "abc" after "ABD", equal to
      // "ABC"; then AMOUNT ascending.
      {"descending, case-insensitive", 0, kCaseInsensitiveKey, true, false, 1, -1},
      // NAME binary ascending: "abc" after both upper-case names.
      {"binary ascending", 1, 0, false, true, 1, 1},
      // No active index: binary, ascending everywhere.
      {"no active index", -1, 0, false, false, 1, 1},
  };
  for (const OrderCase& o : cases) {
    SCOPED_TRACE(o.name);
    cursor.ActiveIndex = o.activeIndex;
    EXPECT_EQ(a.GetColumnCollation(0), o.collation0);
    EXPECT_EQ(a.GetColumnDescending(0), o.descending0);
    EXPECT_EQ(a.GetColumnDescending(1), o.descending1);
    // Beyond the index's columns: binary and ascending.
    EXPECT_EQ(a.GetColumnCollation(2), 0);
    EXPECT_FALSE(a.GetColumnDescending(-1));
    EXPECT_EQ(a.Compare(b, 0, false), o.aVersusB);
    EXPECT_EQ(b.Compare(a, 0, false), -o.aVersusB);
    EXPECT_EQ(a.Compare(c, 0, false), o.aVersusC);
  }
}

TEST(ContainedCursorKeyValues, TypedFromTheActiveIndexAtCreation) {
  TestCursor cursor;
  AddStandardColumns(cursor);
  cursor.AddIndex("BY_NAME", kIndexOrdinary, {{11, true, kCaseInsensitiveKey}, {14}, {12}});
  cursor.AddIndex("BY_ID", kIndexPrimaryKey, {{10}});
  cursor.ActiveIndex = 0;

  TBRNContainedCursorKeyValues bound(&cursor);
  ASSERT_EQ(bound.GetCount(), 3);
  EXPECT_EQ(bound.GetKeyColumnCount(), 3);
  EXPECT_TRUE(bound.GetOwnsValues());
  EXPECT_EQ(bound.GetItem(0)->GetDataType(), dtChar);
  EXPECT_EQ(bound.GetItem(0)->GetCollation(), kCaseInsensitiveKey);  // the index column's
  EXPECT_EQ(bound.GetItem(1)->GetSubType(), stFixed);
  EXPECT_EQ(bound.GetItem(1)->GetLength(), 8);
  EXPECT_EQ(bound.GetItem(2)->GetDataType(), dtDecimal);
  EXPECT_EQ(bound.GetItem(2)->GetScale(), 2);
  for (int32_t i = 0; i < 3; ++i) EXPECT_TRUE(bound.GetItem(i)->GetNull());

  // A range bound compared with a row's key under the index's order.
  bound.GetItem(0)->SetAsString("ABC");
  bound.GetItem(1)->SetAsString("X");
  bound.GetItem(2)->SetAsString("5");
  bound.SetRowID(42);
  EXPECT_EQ(bound.GetRowID(), 42);
  RowValues row(1, "abc", "5");
  row.Values.GetItem(4)->SetAsString("X");
  TBRNCursorKeyValues key(&cursor, &row.Values);
  for (int32_t column : {1, 4, 2}) key.Add(row.Values.GetItem(column));
  EXPECT_EQ(key.Compare(bound, 0, false), 0);
  // A partial key (a range on the leading column only) matches as well.
  TBRNContainedValue leading;
  leading.SetDataType(dtChar);
  leading.SetAsString("AB");
  TBRNCursorKeyValues partial(&cursor);
  partial.Add(&leading);
  EXPECT_EQ(key.Compare(partial, 2, false), 0);
  EXPECT_EQ(key.Compare(partial, 0, false), -1);  // whole "abc" after "AB", descending

  // Stream form: the values, then the row ID.
  TBRNMemoryStream stream;
  bound.SaveToStream(stream);
  TBRNContainedCursorKeyValues copy(&cursor);
  stream.SetPosition(0);
  copy.LoadFromStream(stream);
  EXPECT_EQ(copy.Compare(bound, 0, false), 0);
  EXPECT_EQ(copy.GetRowID(), 42);
  EXPECT_EQ(copy.GetItem(2)->GetAsString(), "5.00");

  // Never more values than the index had columns; a short key is refilled
  // with typed values.
  TBRNMemoryStream tooMany;
  tooMany.WriteInteger(4);
  for (int i = 0; i < 4; ++i) tooMany.WriteByte(1);
  tooMany.WriteInteger(0);
  tooMany.SetPosition(0);
  EXPECT_EQ(CaughtError([&] { copy.LoadFromStream(tooMany); }).ErrorCode, 1011);
  TBRNMemoryStream shorter;
  shorter.WriteInteger(1);
  shorter.WriteByte(1);
  shorter.WriteInteger(0);
  shorter.SetPosition(0);
  copy.LoadFromStream(shorter);
  EXPECT_EQ(copy.GetCount(), 1);
  stream.SetPosition(0);
  copy.LoadFromStream(stream);
  ASSERT_EQ(copy.GetCount(), 3);
  EXPECT_EQ(copy.GetItem(2)->GetScale(), 2);
  EXPECT_EQ(copy.Compare(bound, 0, false), 0);

  // Built for the index active at creation: the primary key has one column.
  cursor.ActiveIndex = 1;
  TBRNContainedBookmarkValues byID(&cursor);
  EXPECT_EQ(byID.GetCount(), 1);
  EXPECT_EQ(byID.GetItem(0)->GetDataType(), dtInteger);
  cursor.ActiveIndex = -1;
  TBRNContainedCursorKeyValues none(&cursor);
  EXPECT_EQ(none.GetCount(), 0);
}

TEST(ContainedCursorKeyValues, AKeyColumnWithoutItsTableColumnIsRefused) {
  TestCursor cursor;
  AddStandardColumns(cursor);
  cursor.AddIndex("BY_NAME", kIndexOrdinary, {{11}, {12}});
  cursor.ActiveIndex = 0;
  delete cursor.TableColumns.RemoveObject(2);  // AMOUNT
  EXPECT_EQ(CaughtError([&] { TBRNContainedCursorKeyValues key(&cursor); }).ErrorCode, 401);
}

}  // namespace
}  // namespace brn
