#include "storage/cursors/cursor_columns.h"

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
using testing::StreamBytes;
using testing::TestCursor;

std::unique_ptr<TBRNMemoryStream> streamOf(const std::vector<int32_t>& integers) {
  auto stream = std::make_unique<TBRNMemoryStream>();
  for (int32_t value : integers) stream->WriteInteger(value);
  stream->SetPosition(0);
  return stream;
}

TEST(CursorColumn, ResolvesItsTableColumnInTheCursorsOwnCopy) {
  TestCursor a, b;
  AddStandardColumns(a);
  AddStandardColumns(b);
  // Same IDs, different objects: each cursor column finds its own cursor's.
  for (int32_t i = 0; i < a.CursorColumns.Count(); ++i) {
    TBRNCursorColumn* column = a.CursorColumns.GetColumn(i);
    EXPECT_EQ(column->GetCursor(), &a);
    EXPECT_EQ(column->GetTableColumn(), a.TableColumns.FindByID(column->TableColumnID, false));
    EXPECT_NE(column->GetTableColumn(), b.TableColumns.FindByID(column->TableColumnID, false));
  }
  EXPECT_THROW(a.CursorColumns.GetColumn(5), std::out_of_range);

  // The table column is gone: the column list's not-found error, every time.
  delete a.TableColumns.RemoveObject(0);  // ROWID, shown by cursor column 1
  TBRNCursorColumn* rowID = a.CursorColumns.GetColumn(1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      rowID->GetTableColumn();
      ADD_FAILURE() << "no error";
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 401);
      EXPECT_NE(e.ErrorMessage.find("does not exist"), std::string::npos) << e.ErrorMessage;
    }
  }

  // Outside a cursor there is nothing to resolve against.
  TBRNCursorColumn loose(nullptr);
  loose.TableColumnID = 11;
  EXPECT_EQ(loose.GetTableColumn(), nullptr);
  EXPECT_EQ(loose.GetCursor(), nullptr);
}

TEST(CursorColumn, StoredRecordCarriesTheTableColumnID) {
  TestCursor a, b;
  AddStandardColumns(a);
  b.TableColumns.Assign(&a.TableColumns, true);
  ASSERT_EQ(b.TableColumns.Count(), a.TableColumns.Count());

  TBRNMemoryStream stream;
  a.CursorColumns.SaveToStream(stream, false);
  const std::vector<uint8_t> record = StreamBytes(stream);
  stream.SetPosition(0);
  b.CursorColumns.LoadFromStream(stream);
  ASSERT_EQ(b.CursorColumns.Count(), 5);
  EXPECT_TRUE(b.CursorColumns.IsEqual(&a.CursorColumns, true));
  for (int32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(b.CursorColumns.GetColumn(i)->TableColumnID,
              a.CursorColumns.GetColumn(i)->TableColumnID);
    EXPECT_EQ(b.CursorColumns.GetColumn(i)->GetTableColumn()->Name,
              a.CursorColumns.GetColumn(i)->GetTableColumn()->Name);
  }

  // The ID takes part in equality and assignment.
  b.CursorColumns.GetColumn(2)->TableColumnID = 99;
  EXPECT_FALSE(b.CursorColumns.GetColumn(2)->IsEqual(a.CursorColumns.GetColumn(2), true));
  EXPECT_FALSE(b.CursorColumns.IsEqual(&a.CursorColumns, true));
  b.CursorColumns.GetColumn(2)->Assign(a.CursorColumns.GetColumn(2), false);
  EXPECT_EQ(b.CursorColumns.GetColumn(2)->TableColumnID, 14);
  EXPECT_EQ(b.CursorColumns.GetColumn(2)->GetTableColumn(), b.TableColumns.FindByID(14, false));

  // Every cut of the record is refused with the metadata error.
  for (size_t cut = 0; cut < record.size(); ++cut) {
    TestCursor c;
    TBRNMemoryStream part;
    if (cut > 0) part.Write(record.data(), int32_t(cut));
    part.SetPosition(0);
    EXPECT_EQ(CaughtError([&] { c.CursorColumns.LoadFromStream(part); }).ErrorCode, 100)
        << "cut at " << cut << " of " << record.size();
  }
}

TEST(MappedCursorColumns, StreamedAndLoadedReferToTheSamePositions) {
  TestCursor client, server;
  AddStandardColumns(client);
  AddStandardColumns(server);
  TBRNMappedCursorColumns sent(&client);
  const std::vector<int32_t> positions = {3, 0, 4, 0};  // a column may be chosen twice
  for (int32_t p : positions) sent.AddObject(client.CursorColumns.GetColumn(p));

  TBRNMemoryStream stream;
  sent.SaveToStream(stream, false);
  // int32 count, then the positions.
  EXPECT_EQ(StreamBytes(stream), StreamBytes(*streamOf({4, 3, 0, 4, 0})));

  TBRNMappedCursorColumns received(&server);
  received.AddObject(server.CursorColumns.GetColumn(1));  // replaced by the load
  stream.SetPosition(0);
  received.LoadFromStream(stream);
  ASSERT_EQ(received.Count(), 4);
  for (int32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(received.GetColumn(i), server.CursorColumns.GetColumn(positions[size_t(i)]));
    EXPECT_EQ(received.GetColumn(i)->TableColumnID, sent.GetColumn(i)->TableColumnID);
  }
  EXPECT_EQ(stream.GetRemaining(), 0);
  // The selection owns nothing: the cursor's columns survive it.
  EXPECT_FALSE(received.OwnsItems());
}

TEST(MappedCursorColumns, UntrustedStreamsAreRefusedAndLeaveTheListEmpty) {
  struct BadStream {
    std::string name;
    std::vector<int32_t> integers;
    std::string messagePart;
  };
  const std::vector<BadStream> cases = {
      {"no count", {}, ""},
      {"negative count", {-1}, ""},
      {"count beyond the bytes", {3, 0, 1}, ""},
      {"huge count", {0x7fffffff, 0}, ""},
      {"negative position", {2, 0, -1}, "position -1"},
      {"position past the last column", {2, 1, 5}, "position 5"},
      {"far position", {1, 0x7fffffff}, "position 2147483647"},
  };
  TestCursor cursor;
  AddStandardColumns(cursor);
  for (const BadStream& c : cases) {
    SCOPED_TRACE(c.name);
    TBRNMappedCursorColumns mapped(&cursor);
    mapped.AddObject(cursor.CursorColumns.GetColumn(2));
    auto stream = streamOf(c.integers);
    try {
      mapped.LoadFromStream(*stream);
      ADD_FAILURE() << "no error";
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 100);
      EXPECT_NE(e.ErrorMessage.find(c.messagePart), std::string::npos) << e.ErrorMessage;
      EXPECT_NE(e.ErrorMessage.find("selected cursor columns"), std::string::npos);
    }
    EXPECT_EQ(mapped.Count(), 0);
  }

  // A cursor without columns accepts only the empty selection.
  TestCursor empty;
  TBRNMappedCursorColumns mapped(&empty);
  mapped.LoadFromStream(*streamOf({0}));
  EXPECT_EQ(mapped.Count(), 0);
  EXPECT_EQ(CaughtError([&] { mapped.LoadFromStream(*streamOf({1, 0})); }).ErrorCode, 100);
}

TEST(MappedCursorColumns, SavingAColumnOfAnotherCursorIsAMisuse) {
  TestCursor a, b;
  AddStandardColumns(a);
  AddStandardColumns(b);
  TBRNMappedCursorColumns mapped(&a);
  mapped.AddObject(a.CursorColumns.GetColumn(0));
  mapped.AddObject(b.CursorColumns.GetColumn(1));
  TBRNMemoryStream stream;
  EXPECT_THROW(mapped.SaveToStream(stream, false), std::logic_error);
  EXPECT_EQ(stream.GetSize(), 0);
}

TEST(MappedColumns, MapsCursorColumnsWithoutChangingTheTableColumns) {
  TestCursor cursor;
  AddStandardColumns(cursor);
  TBRNColumns& table = cursor.TableColumns;
  // AMOUNT is used by a computed column elsewhere in the list (NAME stands in).
  TBRNColumn* amount = table.GetItem(2);
  TBRNColumn* name = table.GetItem(1);
  amount->GetDependentColumns()->AddObject(name);
  std::vector<int32_t> offsets;
  for (int32_t i = 0; i < table.Count(); ++i) offsets.push_back(table.GetItem(i)->RowOffset);
  const int32_t rowSize = table.RowSize;

  TBRNMappedCursorColumns chosen(&cursor);
  for (int32_t p : {4, 3}) chosen.AddObject(cursor.CursorColumns.GetColumn(p));  // DATA, AMOUNT
  TBRNMappedColumns mapped;
  mapped.Assign(&chosen, false);
  ASSERT_EQ(mapped.Count(), 2);
  EXPECT_EQ(mapped.GetItem(0), table.GetItem(3));
  EXPECT_EQ(mapped.GetItem(1), amount);
  EXPECT_EQ(mapped.GetBlobColumns()->Count(), 1);
  EXPECT_EQ(mapped.GetBlobColumns()->TBRNConfigObjects::GetItem(0), table.GetItem(3));

  // The plain assignment from another column list refers to the same columns.
  TBRNMappedColumns copy;
  copy.Assign(&mapped, false);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.GetItem(0), table.GetItem(3));
  EXPECT_EQ(copy.GetBlobColumns()->Count(), 1);

  // Neither assignment laid the columns out anew nor pruned their
  // dependencies on columns outside the selection.
  for (int32_t i = 0; i < table.Count(); ++i)
    EXPECT_EQ(table.GetItem(i)->RowOffset, offsets[size_t(i)]) << table.GetItem(i)->Name;
  EXPECT_EQ(table.RowSize, rowSize);
  ASSERT_TRUE(amount->HasDependentColumns());
  EXPECT_EQ(amount->DependentColumns->TBRNConfigObjects::GetItem(0), name);

  // A cursor column whose table column is gone: its error, and an empty list.
  copy.Clear();
  delete table.RemoveObject(amount->Index);
  EXPECT_EQ(CaughtError([&] { mapped.Assign(&chosen, false); }).ErrorCode, 401);
  EXPECT_EQ(mapped.Count(), 0);
  EXPECT_EQ(mapped.GetBlobColumns()->Count(), 0);
}

TEST(CursorIndexes, IndexAndBookmarkColumnsResolveInTheCursorsTableColumns) {
  TestCursor a, b;
  AddStandardColumns(a);
  AddStandardColumns(b);
  const int32_t caseInsensitive = 1 << 20;
  TBRNIndex* index = a.AddIndex("BY_NAME", kIndexOrdinary, {{11, true, caseInsensitive}, {12}});
  b.AddIndex("BY_NAME", kIndexOrdinary, {{11}, {12}});
  EXPECT_EQ(a.Indexes.GetColumns(), &a.TableColumns);
  EXPECT_EQ(index->Columns->GetItem(0)->GetColumn(), a.TableColumns.FindByID(11, false));
  EXPECT_EQ(b.Indexes.GetItem(0)->Columns->GetItem(1)->GetColumn(),
            b.TableColumns.FindByID(12, false));
  // Key size from the cursor's columns: NAME 20 + 1 (prefix counted by Size),
  // AMOUNT 8 + 1.
  EXPECT_EQ(index->Columns->KeySize,
            a.TableColumns.GetItem(1)->GetKeySize() + a.TableColumns.GetItem(2)->GetKeySize());

  TBRNBookmarkColumns bookmark(&a);
  EXPECT_EQ(bookmark.GetObjectTypeName(), "bookmark column");
  for (int32_t i = 0; i < index->Columns->Count(); ++i) {
    TBRNConfigObject* column = bookmark.NewItem();
    column->Assign(index->Columns->GetItem(i), false);
    bookmark.AddObject(column);
  }
  ASSERT_EQ(bookmark.Count(), 2);
  TBRNBookmarkColumn* first = bookmark.GetColumn(0);
  EXPECT_EQ(first->GetObjectTypeName(), "bookmark column");
  EXPECT_EQ(first->ColumnID, 11);
  EXPECT_TRUE(first->Descending);
  EXPECT_EQ(first->Collation, caseInsensitive);
  EXPECT_EQ(first->GetColumn(), a.TableColumns.FindByID(11, false));
  EXPECT_EQ(bookmark.GetColumn(1)->GetColumn(), a.TableColumns.FindByID(12, false));
  EXPECT_THROW(bookmark.GetColumn(2), std::out_of_range);

  // A bookmark column whose table column is gone raises the not-found error.
  bookmark.GetColumn(1)->ColumnID = 77;
  bookmark.GetColumn(1)->ResetLinks();
  EXPECT_EQ(CaughtError([&] { bookmark.GetColumn(1)->GetColumn(); }).ErrorCode, 401);
}

TEST(ContainedCursorColumnValues, TypedFromTheTableColumnsAndBoundedOnLoad) {
  TestCursor cursor;
  const int32_t caseInsensitive = 1 << 20;
  cursor.AddTableColumn("ROWID", 10, dtInteger);
  cursor.AddTableColumn("NAME", 11, dtChar, 20, 0, caseInsensitive);
  cursor.AddTableColumn("AMOUNT", 12, dtDecimal, 0, 2);
  cursor.AddTableColumn("DATA", 13, dtLob);
  cursor.AddTableColumn("CODE", 14, dtChar, 8, 0, 0, stFixed);
  for (int32_t id : {11, 12, 14, 13}) cursor.AddCursorColumn(id);
  TBRNMappedCursorColumns mapped(&cursor);
  for (int32_t p : {0, 1, 2, 3}) mapped.AddObject(cursor.CursorColumns.GetColumn(p));

  TBRNContainedCursorColumnValues values(mapped);
  ASSERT_EQ(values.GetCount(), 4);
  EXPECT_TRUE(values.GetOwnsValues());
  struct Expected {
    TBRNDataTypeCode type;
    TBRNDataSubType subType;
    int32_t scale, collation;
  };
  const std::vector<Expected> expected = {
      {dtChar, stDefault, 0, caseInsensitive},
      {dtDecimal, stDefault, 2, 0},
      {dtChar, stFixed, 0, 0},
      {dtLob, stDefault, 0, 0},
  };
  for (int32_t i = 0; i < 4; ++i) {
    const TBRNValue* value = values.GetItem(i);
    EXPECT_EQ(value->GetDataType(), expected[size_t(i)].type) << i;
    EXPECT_EQ(value->GetSubType(), expected[size_t(i)].subType) << i;
    EXPECT_EQ(value->GetScale(), expected[size_t(i)].scale) << i;
    EXPECT_EQ(value->GetCollation(), expected[size_t(i)].collation) << i;
    EXPECT_TRUE(value->GetNull()) << i;
  }
  EXPECT_EQ(values.GetItem(2)->GetLength(), 8);  // the declared length of CHAR(8)

  values.GetItem(0)->SetAsString("Smith");
  values.GetItem(1)->SetAsString("12.345");
  values.GetItem(2)->SetAsString("AB");
  TBRNMemoryStream stream;
  values.SaveToStream(stream);
  TBRNContainedCursorColumnValues other(mapped);
  stream.SetPosition(0);
  other.LoadFromStream(stream);
  EXPECT_EQ(other.Compare(values, 0, false), 0);
  EXPECT_EQ(other.GetItem(1)->GetAsString(), "12.35");  // rounded to the column's scale
  EXPECT_TRUE(other.GetItem(3)->GetNull());

  // A stream announcing more values than there are columns is refused.
  TBRNMemoryStream tooMany;
  tooMany.WriteInteger(5);
  for (int i = 0; i < 5; ++i) tooMany.WriteByte(1);
  tooMany.SetPosition(0);
  EXPECT_EQ(CaughtError([&] { other.LoadFromStream(tooMany); }).ErrorCode, 1011);

  // A shorter stream cuts the list; the full one refills it with typed values.
  TBRNMemoryStream shorter;
  shorter.WriteInteger(1);
  shorter.WriteByte(1);
  shorter.SetPosition(0);
  other.LoadFromStream(shorter);
  EXPECT_EQ(other.GetCount(), 1);
  stream.SetPosition(0);
  other.LoadFromStream(stream);
  ASSERT_EQ(other.GetCount(), 4);
  EXPECT_EQ(other.GetItem(1)->GetScale(), 2);
  EXPECT_EQ(other.GetItem(2)->GetLength(), 8);
  EXPECT_EQ(other.Compare(values, 0, false), 0);
}

}  // namespace
}  // namespace brn
