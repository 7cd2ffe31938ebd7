#include "storage/cursors/cursor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/values/contained_value.h"
#include "storage/cursors/cursor_test_support.h"

namespace brn {
namespace {

using testing::AddStandardColumns;
using testing::CaughtError;
using testing::StubCursor;
using testing::TestCursor;

constexpr int32_t kCaseInsensitive = 1 << CaseInsensitiveBit;

// Table column positions of the standard columns and of the two LOB columns
// the stream tests add.
constexpr int32_t kRowID = 0;
constexpr int32_t kName = 1;
constexpr int32_t kAmount = 2;
constexpr int32_t kData = 3;
constexpr int32_t kCode = 4;
constexpr int32_t kNotes = 5;
constexpr int32_t kPicture = 6;

// A cursor over rows kept in memory, with the columns and indexes of a
// TestCursor shape and BLOBs in a map by block number. Moves step as a row
// set does: a step past either end leaves the cursor on the last row it
// stood on and sets Bof or Eof. ReadRow notes each row number it reads.
class MemoryCursor : public StubCursor {
 public:
  using StubCursor::StubCursor;

  std::vector<std::unique_ptr<TBRNCursorRow>> Rows;
  int32_t Position = -1;
  std::map<int32_t, TBRNBytes> Blobs;
  int32_t NextBlock = 1;
  int32_t BlobReads = 0;
  std::vector<int32_t> RowsRead;

  // A stored row: its values set by fill, BLOBs saved, nothing modified.
  TBRNCursorRow& AddRow(const std::function<void(TBRNCursorRowValues&)>& fill) {
    auto row = CreateRow();
    row->RowNumber = int32_t(Rows.size()) + 1;
    row->RowStatus = 1;
    row->RowVersion = 100 + row->RowNumber;
    row->UpdateCounter = 7;
    row->RowReserved = 9;
    row->Values.GetItem(kRowID)->SetAsInteger(row->RowNumber);
    fill(row->Values);
    row->Values.SaveBlobs(row->RowVersion);
    row->Values.ClearModified();
    Rows.push_back(std::move(row));
    return *Rows.back();
  }
  void StandOn(int32_t rowNumber) {
    Position = rowNumber - 1;
    SetBof(false);
    SetEof(false);
  }

  int32_t GetRowNumber() override {
    return Position >= 0 && Position < int32_t(Rows.size()) ? Rows[size_t(Position)]->RowNumber : 0;
  }
  int32_t GetRowCount() override { return int32_t(Rows.size()); }
  int32_t GetTotalRowCount() override { return int32_t(Rows.size()); }
  void ReadRow(TBRNCursorRow& row) override {
    row.Assign(*Rows.at(size_t(Position)));
    RowsRead.push_back(row.RowNumber);
  }
  void StepNext() override {
    if (Position + 1 < int32_t(Rows.size())) {
      ++Position;
      SetBof(false);
    } else {
      SetEof(true);
    }
  }
  void StepPrior() override {
    if (Position > 0) {
      --Position;
      SetEof(false);
    } else {
      SetBof(true);
    }
  }
  void ReadBlob(int32_t, int32_t blockRef, TBRNMemoryStream& stream, bool) override {
    ++BlobReads;
    const TBRNBytes& data = Blobs.at(blockRef);
    stream.SetSize(int64_t(data.size()));
    if (!data.empty()) std::memcpy(stream.GetMemory(), data.data(), data.size());
  }
  void WriteBlob(int32_t, int32_t& blockRef, TBRNMemoryStream& stream, int32_t,
                 int32_t& storedLength) override {
    if (blockRef == 0) blockRef = NextBlock++;
    const uint8_t* data = stream.GetMemory();
    Blobs[blockRef] = TBRNBytes(data, data + stream.GetSize());
    storedLength = int32_t(stream.GetSize());
  }
};

// The standard columns plus NOTES CLOB and PICTURE BLOB, so a row has three
// LOB columns: DATA, NOTES, PICTURE.
void AddLobColumns(TestCursor& shape) {
  AddStandardColumns(shape);
  shape.AddTableColumn("NOTES", 15, dtLob, 0, 0, 0, stClob);
  shape.AddTableColumn("PICTURE", 16, dtLob);
}

TBRNBytes BytesOf(const std::string& text) {
  return TBRNBytes(text.begin(), text.end());
}

std::string BlobText(TBRNRowValues& values, int32_t index) {
  TBRNMemoryStream* stream = values.GetRowValue(index)->GetBlobStream();
  return std::string(reinterpret_cast<const char*>(stream->GetMemory()), size_t(stream->GetSize()));
}

std::string ImageOf(TBRNCursorRow& row) {
  TBRNMemoryStream& buffer = row.GetBuffer();
  return std::string(reinterpret_cast<const char*>(buffer.GetMemory()) + kRowHeaderSize,
                     size_t(buffer.GetSize() - kRowHeaderSize));
}

void FillOrder(TBRNCursorRowValues& values, const std::string& name) {
  values.GetItem(kName)->SetAsString(name);
  values.GetItem(kAmount)->SetAsString("12.5");
  values.GetItem(kCode)->SetAsString("C-" + name);
}

TEST(CursorRowStream, RowOfATableWithoutColumnsIsTheFiveHeaderFields) {
  TestCursor shape;
  MemoryCursor cursor(shape);
  auto row = cursor.CreateRow();
  row->RowNumber = 0x01020304;
  row->RowStatus = 5;
  row->RowVersion = -2;
  row->UpdateCounter = 0x0A0B0C0D;
  row->RowReserved = 6;
  TBRNMemoryStream stream;
  row->SaveToStream(stream);
  EXPECT_EQ(testing::StreamBytes(stream),
            (std::vector<uint8_t>{4, 3, 2, 1, 5, 0xFE, 0xFF, 0xFF, 0xFF, 0x0D, 0x0C, 0x0B, 0x0A, 6,
                                  0, 0, 0}));

  auto copy = cursor.CreateRow();
  stream.SetPosition(0);
  copy->LoadFromStream(stream);
  EXPECT_EQ(copy->RowNumber, 0x01020304);
  EXPECT_EQ(copy->RowStatus, 5);
  EXPECT_EQ(copy->RowVersion, -2);
  EXPECT_EQ(copy->UpdateCounter, 0x0A0B0C0D);
  EXPECT_EQ(copy->RowReserved, 6);
  EXPECT_EQ(stream.GetPosition(), 17);
}

// A stored row whose DATA and PICTURE were changed and whose NOTES was not.
struct ChangedRow {
  TestCursor Shape;
  std::unique_ptr<MemoryCursor> Cursor;
  std::unique_ptr<TBRNCursorRow> Row;

  ChangedRow() {
    AddLobColumns(Shape);
    Cursor = std::make_unique<MemoryCursor>(Shape);
    Cursor->AddRow([](TBRNCursorRowValues& values) {
      FillOrder(values, "Ada");
      values.GetItem(kData)->SetAsBytes(BytesOf("old data"));
      values.GetItem(kNotes)->SetAsString("stored notes");
      values.GetItem(kPicture)->SetAsBytes(BytesOf("old picture"));
    });
    Cursor->StandOn(1);
    Row = Cursor->CreateRow();
    Cursor->GetCurrentRow(*Row, true);
    Row->Values.GetItem(kData)->SetAsBytes(BytesOf("new data!"));
    Row->Values.GetItem(kPicture)->SetAsBytes(BytesOf(""));
    Row->Values.GetItem(kAmount)->SetAsString("99.25");
  }
};

TEST(CursorRowStream, BlobListCarriesTheModifiedLobsOnly) {
  ChangedRow source;
  TBRNMemoryStream stream;
  source.Row->SaveToStreamWithBlobs(stream, true, true);

  const int32_t imageSize = source.Cursor->GetTableColumns().RowSize - kRowHeaderSize;
  const int32_t columnCount = source.Cursor->GetTableColumns().Count();
  stream.SetPosition(kRowHeaderSize + imageSize);
  std::vector<bool> flags;
  for (int32_t i = 0; i < columnCount; ++i) flags.push_back(stream.ReadBoolean());
  EXPECT_EQ(flags, (std::vector<bool>{false, false, true, true, false, false, true}));
  EXPECT_EQ(stream.ReadInteger(), 2);
  EXPECT_EQ(stream.ReadInteger(), kData);
  EXPECT_EQ(stream.ReadInteger(), 9);
  std::string data;
  stream.ReadFixedString(data, 9);
  EXPECT_EQ(data, "new data!");
  EXPECT_EQ(stream.ReadInteger(), kPicture);
  EXPECT_EQ(stream.ReadInteger(), 0);
  EXPECT_EQ(stream.GetRemaining(), 0);
}

TEST(CursorRowStream, EveryFormRoundTrips) {
  struct Form {
    std::string name;
    bool withFlags;
    bool withBlobs;
    bool plain;  // SaveToStream / LoadFromStream
  };
  const std::vector<Form> forms = {
      {"plain", false, false, true},          {"neither", false, false, false},
      {"flags", true, false, false},          {"blobs", false, true, false},
      {"flags and blobs", true, true, false},
  };
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    ChangedRow source;
    MemoryCursor& cursor = *source.Cursor;
    TBRNMemoryStream stream;
    if (form.plain) {
      source.Row->SaveToStream(stream);
    } else {
      source.Row->SaveToStreamWithBlobs(stream, form.withFlags, form.withBlobs);
    }

    auto copy = cursor.CreateRow();
    stream.SetPosition(0);
    cursor.BlobReads = 0;
    if (form.plain) {
      copy->LoadFromStream(stream);
    } else {
      copy->LoadFromStreamWithBlobs(stream, form.withFlags, form.withBlobs);
    }
    EXPECT_EQ(stream.GetRemaining(), 0);
    EXPECT_EQ(copy->RowNumber, 1);
    EXPECT_EQ(copy->RowStatus, 1);
    EXPECT_EQ(copy->RowVersion, 101);
    EXPECT_EQ(copy->UpdateCounter, 7);
    EXPECT_EQ(copy->RowReserved, 9);
    EXPECT_EQ(ImageOf(*copy), ImageOf(*source.Row));
    for (int32_t i = 0; i < copy->Values.GetCount(); ++i) {
      EXPECT_EQ(copy->Values.GetRowValue(i)->Modified,
                form.withFlags && source.Row->Values.GetRowValue(i)->Modified)
          << i;
    }
    EXPECT_EQ(copy->Values.GetItem(kAmount)->GetAsString(), "99.25");
    if (form.withBlobs) {
      // The sent BLOBs arrive loaded, so reading them asks the cursor for
      // nothing; the unchanged NOTES is read from the cursor on first use.
      auto* data = static_cast<TBRNStaticRowValue*>(copy->Values.GetRowValue(kData));
      EXPECT_TRUE(data->GetBlobLoaded());
      EXPECT_EQ(BlobText(copy->Values, kData), "new data!");
      EXPECT_EQ(BlobText(copy->Values, kPicture), "");
      EXPECT_EQ(cursor.BlobReads, 0);
      EXPECT_EQ(BlobText(copy->Values, kNotes), "stored notes");
      EXPECT_EQ(cursor.BlobReads, 1);
    }

    // What was loaded is sent again byte for byte.
    TBRNMemoryStream again;
    if (form.plain) {
      copy->SaveToStream(again);
    } else {
      copy->SaveToStreamWithBlobs(again, form.withFlags, form.withBlobs);
    }
    if (form.withFlags || !form.withBlobs) {
      EXPECT_EQ(testing::StreamBytes(again), testing::StreamBytes(stream));
    }
  }

  // The BLOB list alone.
  ChangedRow source;
  TBRNMemoryStream list;
  source.Row->SaveBlobsToStream(list);
  auto copy = source.Cursor->CreateRow();
  copy->Assign(*source.Row);
  list.SetPosition(0);
  copy->LoadBlobsFromStream(list);
  EXPECT_EQ(list.GetRemaining(), 0);
  EXPECT_EQ(BlobText(copy->Values, kData), "new data!");
  EXPECT_FALSE(copy->Values.GetRowValue(kData)->Modified);
}

TEST(CursorRowStream, DamagedStreamsRaiseTheEngineErrorAndLeaveTheRowAlone) {
  ChangedRow source;
  const int32_t imageSize = source.Cursor->GetTableColumns().RowSize - kRowHeaderSize;
  const int32_t columnCount = source.Cursor->GetTableColumns().Count();
  TBRNMemoryStream head;
  source.Row->SaveToStreamWithBlobs(head, true, false);

  struct Damage {
    std::string name;
    std::vector<int32_t> list;  // the BLOB list's int32 words
    int32_t cut = 0;            // bytes cut off the end of the stream
    std::string tail;           // bytes after the words
  };
  const std::vector<Damage> cases = {
      {"count above the LOB columns", {4, kData, 0, kNotes, 0, kPicture, 0, kPicture, 0}, 0, ""},
      {"count above the column count", {columnCount + 1}, 0, ""},
      {"negative count", {-1}, 0, ""},
      {"count the bytes cannot hold", {2, kData, 0}, 0, ""},
      {"index of a column that is not a LOB", {1, kName, 0}, 0, ""},
      {"index beyond the columns", {1, columnCount, 0}, 0, ""},
      {"negative index", {1, -1, 0}, 0, ""},
      {"index twice", {2, kData, 0, kData, 0}, 0, ""},
      {"indexes out of column order", {2, kPicture, 0, kData, 0}, 0, ""},
      {"length past the bytes left", {1, kData, 5}, 0, "abcd"},
      {"huge length", {1, kData, 0x7FFFFFFF}, 0, "abcd"},
      {"negative length", {1, kData, -3}, 0, "abcd"},
      {"no count", {}, 0, ""},
      {"row image cut short", {0}, 5 + columnCount, ""},
      {"flags cut short", {0}, 5, ""},
  };
  for (const Damage& damage : cases) {
    SCOPED_TRACE(damage.name);
    TBRNMemoryStream stream;
    head.SaveToStream(stream, 0);
    stream.SetPosition(stream.GetSize());
    for (int32_t word : damage.list) stream.WriteInteger(word);
    stream.WriteFixedString(damage.tail, int32_t(damage.tail.size()));
    stream.SetSize(stream.GetSize() - damage.cut);
    stream.SetPosition(0);

    auto row = source.Cursor->CreateRow();
    row->Assign(*source.Row);
    const std::string before = ImageOf(*row);
    row->RowNumber = 55;
    const auto error = CaughtError([&] { row->LoadFromStreamWithBlobs(stream, true, true); });
    EXPECT_EQ(error.ErrorCode, kConversionErrorCode);
    EXPECT_EQ(row->RowNumber, 55);
    EXPECT_EQ(ImageOf(*row), before);
    EXPECT_EQ(stream.GetPosition(), 0);
  }

  // The plain form needs the whole image; the list alone its own bytes.
  auto row = source.Cursor->CreateRow();
  TBRNMemoryStream shortImage;
  shortImage.SetSize(kRowHeaderSize + imageSize - 1);
  EXPECT_EQ(CaughtError([&] { row->LoadFromStream(shortImage); }).ErrorCode, kConversionErrorCode);
  TBRNMemoryStream list;
  for (int32_t word : {1, kData, 100}) list.WriteInteger(word);
  list.SetPosition(0);
  EXPECT_EQ(CaughtError([&] { row->LoadBlobsFromStream(list); }).ErrorCode, kConversionErrorCode);
}

TEST(Cursor, CopyCurrentRowIsANewRowWithEveryValueAndItsBlobs) {
  TestCursor shape;
  AddLobColumns(shape);
  MemoryCursor cursor(shape);
  cursor.AddRow([](TBRNCursorRowValues& values) {
    FillOrder(values, "Ada");
    values.GetItem(kData)->SetAsBytes(BytesOf("blob bytes"));
  });
  cursor.StandOn(1);
  auto row = cursor.CreateRow();
  cursor.CopyCurrentRow(*row);
  EXPECT_EQ(row->RowNumber, 0);
  EXPECT_EQ(row->UpdateCounter, 0);
  EXPECT_EQ(row->Values.GetItem(kRowID)->GetAsInteger(), 0);
  EXPECT_EQ(row->Values.GetItem(kName)->GetAsString(), "Ada");
  for (int32_t index : {kData, kNotes, kPicture}) {
    EXPECT_TRUE(static_cast<TBRNStaticRowValue*>(row->Values.GetRowValue(index))->GetBlobLoaded())
        << index;
    // The copy shares no chain with the source row.
    EXPECT_EQ(row->Values.GetRowValue(index)->GetBlobBlock(), 0) << index;
  }
  const int32_t reads = cursor.BlobReads;
  EXPECT_EQ(BlobText(row->Values, kData), "blob bytes");
  EXPECT_EQ(cursor.BlobReads, reads);
  for (int32_t i = 0; i < row->Values.GetCount(); ++i)
    EXPECT_TRUE(row->Values.GetRowValue(i)->Modified) << i;
  EXPECT_TRUE(row->Values.RowModified);
}

TEST(Cursor, SetActiveIndexSwitchesOnlyToAnotherValidIndex) {
  TestCursor shape;
  AddStandardColumns(shape);
  shape.AddIndex("BY_ID", kIndexPrimaryKey, {{10}});
  shape.AddIndex("BY_NAME", kIndexUnique, {{11}, {14}});
  MemoryCursor cursor(shape);
  cursor.SetRowFilter([](void*, bool&) {}, nullptr);
  EXPECT_EQ(cursor.GetActiveIndex(), -1);
  EXPECT_EQ(cursor.GetCursorActiveIndex(), nullptr);

  cursor.SetActiveIndex(1);
  EXPECT_EQ(cursor.GetActiveIndexName(), "BY_NAME");
  EXPECT_EQ(cursor.GetActiveIndex(), 1);
  EXPECT_TRUE(cursor.GetBookmarkHasRowID());
  ASSERT_EQ(cursor.GetBookmarkColumns().Count(), 2);
  EXPECT_EQ(cursor.GetBookmarkColumns().GetColumn(1)->GetColumn(),
            cursor.GetTableColumns().GetItem(kCode));
  TBRNCursorRow& filterRow = *cursor.GetFilterRow();
  ASSERT_EQ(filterRow.Bookmark.GetCount(), 2);
  EXPECT_EQ(filterRow.Bookmark.GetItem(0), filterRow.Values.GetItem(kName));
  EXPECT_EQ(filterRow.Bookmark.GetItem(1), filterRow.Values.GetItem(kCode));

  for (int32_t ignored : {-1, 2, 1}) {
    SCOPED_TRACE(ignored);
    cursor.GetBookmarkColumns().GetColumn(0)->Descending = true;  // a marker
    cursor.SetActiveIndex(ignored);
    EXPECT_EQ(cursor.GetActiveIndexName(), "BY_NAME");
    EXPECT_TRUE(cursor.GetBookmarkColumns().GetColumn(0)->Descending);
    EXPECT_TRUE(cursor.GetBookmarkHasRowID());
  }

  cursor.SetActiveIndex(0);
  EXPECT_EQ(cursor.GetActiveIndexName(), "BY_ID");
  EXPECT_FALSE(cursor.GetBookmarkHasRowID());
  ASSERT_EQ(filterRow.Bookmark.GetCount(), 1);
  EXPECT_EQ(filterRow.Bookmark.GetItem(0), filterRow.Values.GetItem(kRowID));
}

TEST(Cursor, FindIndexForColumnsSkipsTextIndexesAndMatchesCase) {
  TestCursor shape;
  AddStandardColumns(shape);
  shape.AddIndex("WORDS", kIndexText, {{11}});
  shape.AddIndex("BY_NAME_CI", kIndexOrdinary,
                 {{11, false, kCaseInsensitive}, {14, false, kCaseInsensitive}});
  shape.AddIndex("BY_NAME", kIndexOrdinary, {{11}});
  shape.AddIndex("BY_ID", kIndexPrimaryKey, {{10}});
  shape.AddIndex("BY_CODE", kIndexUnique, {{14}, {12}});
  MemoryCursor cursor(shape);

  struct Case {
    std::string columns;
    bool caseInsensitive;
    std::string expected;  // "" for none
  };
  const std::vector<Case> cases = {
      {"NAME", false, "BY_NAME"},    // the text index on NAME comes first
      {"NAME", true, "BY_NAME_CI"},  // the CHAR column's case decides
      {"NAME;CODE", true, "BY_NAME_CI"},
      {"NAME;CODE", false, ""},  // BY_NAME has too few columns
      {"ROWID", true, "BY_ID"},  // case does not matter for other types
      {"CODE;AMOUNT", false, "BY_CODE"},
      {"CODE;AMOUNT", true, ""},
      {"AMOUNT", false, ""},  // not a leading column
      {"AMOUNT;CODE", false, ""},
      {"", false, "BY_NAME_CI"},  // no columns: the first index that is not a text index
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.columns + (c.caseInsensitive ? " CI" : ""));
    auto columns = cursor.CreateMappedColumns(c.columns);
    TBRNIndex* found = cursor.FindIndexForColumns(*columns, c.caseInsensitive);
    EXPECT_EQ(found != nullptr ? found->Name : "", c.expected);
  }

  TestCursor textOnly;
  AddStandardColumns(textOnly);
  textOnly.AddIndex("WORDS", kIndexText, {{11}});
  MemoryCursor words(textOnly);
  EXPECT_EQ(words.FindIndexForColumns(*words.CreateMappedColumns("NAME"), false), nullptr);
}

TEST(Cursor, ErrorsCarryTheirCodesAndTexts) {
  TestCursor shape;
  MemoryCursor readOnly(shape, true);
  MemoryCursor writable(shape, false);
  struct Case {
    std::string name;
    std::function<void()> action;
    int32_t code;
    std::string message;
  };
  const std::string readOnlyText =
      "An error occurred with the cursor Orders (An attempt was made to update a read-only "
      "cursor)";
  const std::vector<Case> cases = {
      {"read-only error", [&] { writable.RaiseReadOnlyError(); }, 1000, readOnlyText},
      {"read-only check", [&] { readOnly.CheckReadOnly(); }, 1000, readOnlyText},
      {"empty a read-only cursor", [&] { readOnly.EmptyCursor(false); }, 1000, readOnlyText},
      {"cursor error", [&] { writable.RaiseCursorError("The row is gone"); }, 1000,
       "An error occurred with the cursor Orders (The row is gone)"},
      {"filter error", [&] { writable.RaiseFilterError("Unknown column X"); }, 1001,
       "A filter error occurred (Unknown column X)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EBRNException error = CaughtError(c.action);
    EXPECT_EQ(error.ErrorCode, c.code);
    EXPECT_EQ(error.ErrorMessage, c.message);
  }
  EXPECT_NO_THROW(writable.CheckReadOnly());
}

TEST(Cursor, ApplyRowFilterWalksToTheNearestAcceptedRow) {
  TestCursor shape;
  AddStandardColumns(shape);
  struct Case {
    std::string name;
    int32_t start;
    TBRNDirection direction;
    std::set<int32_t> accepted;
    bool result;
    int32_t end;
    std::vector<int32_t> read;
  };
  const std::vector<Case> cases = {
      {"forward, first row taken", 2, kDirectionForward, {2}, true, 2, {2}},
      {"forward", 2, kDirectionForward, {4}, false, 4, {2, 3, 4}},
      {"forward, then back", 4, kDirectionForward, {2}, false, 2, {4, 5, 5, 4, 3, 2}},
      {"in place counts as forward", 4, kDirectionNone, {5}, false, 5, {4, 5}},
      {"backward, first row taken", 3, kDirectionBackward, {3}, true, 3, {3}},
      {"backward", 3, kDirectionBackward, {2}, false, 2, {3, 2}},
      {"backward, then on", 2, kDirectionBackward, {4}, false, 4, {2, 1, 1, 2, 3, 4}},
      {"none taken", 2, kDirectionForward, {}, false, 1, {2, 3, 4, 5, 5, 4, 3, 2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryCursor cursor(shape);
    for (const char* name : {"A", "B", "C", "D", "E"})
      cursor.AddRow([&](TBRNCursorRowValues& values) { FillOrder(values, name); });
    std::set<int32_t> accepted = c.accepted;
    cursor.SetRowFilter(
        [&cursor](void* data, bool& accept) {
          auto& wanted = *static_cast<std::set<int32_t>*>(data);
          accept = wanted.count(cursor.GetFilterRow()->RowNumber) != 0;
        },
        &accepted);
    cursor.StandOn(c.start);
    EXPECT_EQ(cursor.ApplyRowFilter(c.direction), c.result);
    EXPECT_EQ(cursor.GetRowNumber(), c.end);
    EXPECT_EQ(cursor.RowsRead, c.read);
    if (!c.accepted.empty()) {
      EXPECT_EQ(cursor.GetFilterRow()->Values.GetItem(kRowID)->GetAsInteger(), c.end);
    }
  }

  // Without a filter or without rows nothing is read.
  MemoryCursor plain(shape);
  plain.AddRow([](TBRNCursorRowValues&) {});
  plain.StandOn(1);
  EXPECT_TRUE(plain.ApplyRowFilter(kDirectionForward));
  MemoryCursor empty(shape);
  empty.SetRowFilter([](void*, bool& accept) { accept = false; }, nullptr);
  EXPECT_TRUE(empty.ApplyRowFilter(kDirectionBackward));
  EXPECT_TRUE(plain.RowsRead.empty());
  EXPECT_TRUE(empty.RowsRead.empty());
  EXPECT_TRUE(plain.RowFilterAccepts());
}

TEST(Cursor, KeyValuesOfARowAndThePartialKeyLength) {
  TestCursor shape;
  AddStandardColumns(shape);
  shape.AddIndex("BY_NAME", kIndexOrdinary, {{11}, {12}});
  shape.AddIndex("BY_CODE", kIndexOrdinary, {{14}});
  MemoryCursor cursor(shape);
  cursor.AddRow([](TBRNCursorRowValues& values) { FillOrder(values, "Ada"); });
  cursor.StandOn(1);
  auto row = cursor.CreateRow();
  cursor.GetCurrentRow(*row, false);

  // Without an active index: no key values, no partial length.
  row->KeyValues.Add(row->Values.GetItem(0));
  EXPECT_EQ(cursor.FillKeyValues(*row), 0);
  EXPECT_EQ(row->KeyValues.GetCount(), 0);

  cursor.SetActiveIndex(0);
  struct FillCase {
    int32_t count;
    int32_t expected;
  };
  for (const FillCase& c : std::vector<FillCase>{{-1, 2}, {0, 0}, {1, 1}, {2, 2}, {5, 2}}) {
    SCOPED_TRACE(c.count);
    EXPECT_EQ(cursor.FillKeyValues(*row, c.count), c.expected);
    ASSERT_EQ(row->KeyValues.GetCount(), c.expected);
    if (c.expected > 0) {
      EXPECT_EQ(row->KeyValues.GetItem(0), row->Values.GetItem(kName));
    }
    if (c.expected > 1) {
      EXPECT_EQ(row->KeyValues.GetItem(1), row->Values.GetItem(kAmount));
    }
  }

  // The partial length is the text length of a last key value on a CHAR
  // column.
  auto keyOf = [](std::initializer_list<std::string> texts) {
    auto key = std::make_unique<TBRNValues>();
    for (const std::string& text : texts) {
      auto value = std::make_unique<TBRNContainedValue>();
      value->SetDataType(dtChar);
      value->SetAsString(text);
      key->Add(value.release());
    }
    return key;
  };
  EXPECT_EQ(cursor.GetPartialKeyLength(*keyOf({"Ad"})), 2);
  EXPECT_EQ(cursor.GetPartialKeyLength(*keyOf({"Ad", "12"})), 0);  // AMOUNT is no CHAR
  EXPECT_EQ(cursor.GetPartialKeyLength(*keyOf({})), 0);
  EXPECT_EQ(cursor.GetPartialKeyLength(*keyOf({"Ad", "12", "x"})), 0);

  // The current row against keys, whole and partial.
  TBRNIndexColumns& columns = *cursor.GetCursorActiveIndex()->Columns;
  EXPECT_TRUE(cursor.CurrentRowMatchesKey(columns, *keyOf({"Ada"}), 0, false));
  EXPECT_FALSE(cursor.CurrentRowMatchesKey(columns, *keyOf({"Ad"}), 0, false));
  EXPECT_TRUE(cursor.CurrentRowMatchesKey(columns, *keyOf({"Ad"}), 2, false));
  EXPECT_FALSE(cursor.CurrentRowMatchesKey(columns, *keyOf({"ADA"}), 0, false));
  EXPECT_TRUE(cursor.CurrentRowMatchesKey(columns, *keyOf({"ADA"}), 0, true));

  cursor.SetActiveIndex(1);  // CODE is a fixed CHAR
  EXPECT_EQ(cursor.GetPartialKeyLength(*keyOf({"C-A"})), 3);
  EXPECT_EQ(cursor.FillKeyValues(*row), 1);
  EXPECT_EQ(row->KeyValues.GetItem(0), row->Values.GetItem(kCode));

  MemoryCursor empty(shape);
  EXPECT_FALSE(empty.CurrentRowMatchesKey(columns, *keyOf({"Ada"}), 0, false));
  EXPECT_TRUE(empty.RowsRead.empty());
}

TEST(Cursor, ColumnsAndTheirSelections) {
  TestCursor shape;
  AddStandardColumns(shape);
  TBRNColumn* amount = shape.TableColumns.GetItem(kAmount);
  amount->Internal = true;
  TBRNColumn* code = shape.TableColumns.GetItem(kCode);
  code->Description = "order code";
  code->ReadOnly = true;
  shape.AddIndex("BY_CODE", kIndexUnique, {{14}, {10}});
  MemoryCursor cursor(shape);

  TBRNCursorColumns& columns = cursor.GetCursorColumns();
  ASSERT_EQ(columns.Count(), 4);  // AMOUNT is internal
  std::vector<std::string> names;
  for (int32_t i = 0; i < columns.Count(); ++i) names.push_back(columns.GetColumn(i)->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"ROWID", "NAME", "DATA", "CODE"}));
  TBRNCursorColumn* shown = columns.GetColumn(3);
  EXPECT_EQ(shown->ID, 14);
  EXPECT_EQ(shown->TableColumnID, 14);
  EXPECT_EQ(shown->Description, "order code");
  EXPECT_TRUE(shown->ReadOnly);
  EXPECT_EQ(shown->GetTableColumn(), cursor.GetTableColumns().GetItem(kCode));

  auto mapped = cursor.CreateMappedColumns("CODE;  name;;ROWID");
  ASSERT_EQ(mapped->Count(), 3);
  EXPECT_EQ(mapped->GetColumn(0), shown);
  EXPECT_EQ(mapped->GetColumn(1)->Name, "NAME");
  EXPECT_EQ(mapped->GetColumn(2)->Name, "ROWID");
  EXPECT_EQ(CaughtError([&] { cursor.CreateMappedColumns("NAME;AMOUNT"); }).ErrorCode, 401);

  EXPECT_EQ(cursor.CreateActiveIndexColumns()->Count(), 0);
  auto byCode = cursor.CreateIndexColumns(0);
  ASSERT_EQ(byCode->Count(), 2);
  EXPECT_EQ(byCode->GetColumn(0), shown);
  EXPECT_EQ(byCode->GetColumn(1)->Name, "ROWID");
  cursor.SetActiveIndex(0);
  EXPECT_EQ(cursor.CreateActiveIndexColumns()->Count(), 2);
  EXPECT_THROW(cursor.CreateIndexColumns(1), std::out_of_range);
}

TEST(Cursor, RowLocksAreHeldByTheCursor) {
  TestCursor shape;
  AddStandardColumns(shape);
  MemoryCursor cursor(shape);
  for (int32_t i = 0; i < 3; ++i) cursor.AddRow([](TBRNCursorRowValues&) {});
  cursor.StandOn(2);
  EXPECT_FALSE(cursor.IsRowLocked());
  TBRNCursorRow& second = *cursor.Rows[1];
  cursor.LockRow(second);
  cursor.LockRow(*cursor.Rows[2], 4, 5);
  EXPECT_TRUE(cursor.IsRowLocked());
  TBRNRowLock* lock = cursor.GetRowLocks().FindLock(2);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(lock->Holder, &cursor);
  EXPECT_EQ(lock->Value, 1);
  cursor.UnlockRow(second);
  EXPECT_FALSE(cursor.IsRowLocked());
  EXPECT_EQ(cursor.GetRowLocks().Count(), 1);
  cursor.UnlockAllRows();
  EXPECT_EQ(cursor.GetRowLocks().Count(), 0);

  // InitializeRow empties a row.
  auto row = cursor.CreateRow();
  cursor.GetCurrentRow(*row, false);
  cursor.InitializeRow(*row);
  EXPECT_TRUE(row->Values.GetItem(kRowID)->GetNull());
}

}  // namespace
}  // namespace brn
