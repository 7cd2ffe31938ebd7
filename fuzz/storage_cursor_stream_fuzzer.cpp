// The streams a cursor receives from a client or keeps in a file: the
// selection of cursor columns (positions in the cursor's list), the values
// typed from those columns, keys and bookmarks on the active index, the
// stored record of the cursor's own column list, and cursor rows in each of
// their stream forms (the row image with or without modified flags and BLOB
// list, and the BLOB list alone). With BRN_FUZZ_SEEDS=<folder> in the
// environment the target first writes its seeds into that folder.
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "foundation/text/collation.h"
#include "fuzz_support.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/cursors/cursor_test_support.h"
#include "storage/cursors/key_values.h"

using namespace brn;
using namespace brn::fuzz;
using brn::testing::StubCursor;
using brn::testing::TestCursor;

namespace {

constexpr int32_t kCaseInsensitive = 1 << CaseInsensitiveBit;

// ROWID INTEGER, NAME VARCHAR(20), AMOUNT DECIMAL(2), DATA BLOB, CODE CHAR(8)
// with an index of each kind.
struct Cursor {
  TestCursor Shape;
  Cursor() {
    brn::testing::AddStandardColumns(Shape);
    Shape.AddIndex("BY_NAME", kIndexOrdinary, {{11, true, kCaseInsensitive}, {14}, {12}});
    Shape.AddIndex("BY_ID", kIndexPrimaryKey, {{10}});
    Shape.AddIndex("BY_CODE", kIndexUnique, {{14}, {12}});
    Shape.AddIndex("WORDS", kIndexText, {{11}});
  }
};

// The standard columns and a CLOB and a BLOB more, so that a row has three
// LOB columns (table positions 3, 5 and 6); BLOB reads answer empty data.
struct RowCursor {
  TestCursor Shape;
  std::unique_ptr<StubCursor> Cursor;
  RowCursor() {
    brn::testing::AddStandardColumns(Shape);
    Shape.AddTableColumn("NOTES", 15, dtLob, 0, 0, 0, stClob);
    Shape.AddTableColumn("PICTURE", 16, dtLob);
    Cursor = std::make_unique<StubCursor>(Shape);
  }
};

// The four ways a cursor row is sent whole: (flags, BLOB list).
constexpr bool kRowForms[4][2] = {{false, false}, {true, false}, {false, true}, {true, true}};

// A row loaded from hostile bytes is sent again, and what it sends loads into
// another row that sends the very same bytes.
void RowRoundTrip(StubCursor& cursor, TBRNCursorRow& row, bool withFlags, bool withBlobs,
                  const char* what) {
  TBRNMemoryStream saved;
  if (!Try([&] { row.SaveToStreamWithBlobs(saved, withFlags, withBlobs); })) return;
  saved.SetPosition(0);
  auto copy = cursor.CreateRow();
  if (!Try([&] { copy->LoadFromStreamWithBlobs(saved, withFlags, withBlobs); }))
    Fail(what, "its own stream form was refused");
  if (saved.GetRemaining() != 0) Fail(what, "its own stream form was not read to its end");
  TBRNMemoryStream again;
  if (!Try([&] { copy->SaveToStreamWithBlobs(again, withFlags, withBlobs); }))
    Fail(what, "a row loaded from its own stream form could not be sent");
  if (StreamText(again) != StreamText(saved)) Fail(what, "stream form changed on its way back");
}

// Every way a cursor row is loaded, each from the whole input.
void FeedCursorRows(RowCursor& rows, std::string_view bytes) {
  StubCursor& cursor = *rows.Cursor;
  {
    auto row = cursor.CreateRow();
    TBRNMemoryStream stream;
    FillStream(stream, bytes);
    if (Try([&] { row->LoadFromStream(stream); })) {
      // The plain form is the bytes themselves.
      TBRNMemoryStream saved;
      row->SaveToStream(saved);
      if (StreamText(saved) != std::string(bytes.substr(0, size_t(stream.GetPosition()))))
        Fail("cursor row", "plain stream form changed on its way back");
      for (int32_t i = 0; i < row->Values.GetCount(); ++i)
        Try([&] { (void)row->Values.GetItem(i)->GetAsString(); });
    }
  }
  for (const auto& form : kRowForms) {
    auto row = cursor.CreateRow();
    TBRNMemoryStream stream;
    FillStream(stream, bytes);
    const int64_t untouched = row->GetBuffer().GetSize();
    if (Try([&] { row->LoadFromStreamWithBlobs(stream, form[0], form[1]); })) {
      RowRoundTrip(cursor, *row, form[0], form[1], "cursor row with blobs");
    } else if (stream.GetPosition() != 0 || row->RowNumber != 0) {
      Fail("a refused cursor row stream changed the row or moved the stream");
    }
    if (row->GetBuffer().GetSize() != untouched) Fail("a cursor row's buffer changed size");
  }
  {
    auto row = cursor.CreateRow();
    TBRNMemoryStream stream;
    FillStream(stream, bytes);
    if (Try([&] { row->LoadBlobsFromStream(stream); })) {
      TBRNMemoryStream saved;
      row->Values.SetAllModified(true);
      Try([&] { row->SaveBlobsToStream(saved); });
    }
  }
}

template <typename Values>
void RoundTrip(Values& values, const char* what, Values& copy) {
  TBRNMemoryStream saved;
  values.SaveToStream(saved);
  saved.SetPosition(0);
  if (!Try([&] { copy.LoadFromStream(saved); })) Fail(what, "its own stream form was refused");
  TBRNMemoryStream again;
  copy.SaveToStream(again);
  if (StreamText(again) != StreamText(saved)) Fail(what, "stream form changed on its way back");
  Try([&] { (void)values.Compare(copy, 0, false); });
  Try([&] { (void)copy.Compare(values, 1, true); });
}

void WriteSeed(const std::string& folder, const std::string& name, uint8_t shape,
               const TBRNMemoryStream& stream) {
  std::ofstream(folder + "/" + name, std::ios::binary) << char(shape) << StreamText(stream);
}

// A selection followed by its values; a key of each index kind; the stored
// column list.
void WriteSeeds(const std::string& folder) {
  Cursor cursor;
  TBRNMappedCursorColumns mapped(&cursor.Shape, nullptr);
  for (int32_t position : {2, 0, 3, 4})
    mapped.AddObject(cursor.Shape.CursorColumns.GetColumn(position));
  TBRNMemoryStream selection;
  mapped.SaveToStream(selection, false);
  TBRNContainedCursorColumnValues values(mapped);
  values.GetItem(0)->SetAsString("CODE1");
  values.GetItem(1)->SetAsString("a name");
  values.GetItem(2)->SetAsString("3.25");
  values.GetItem(3)->SetAsBytes(TBRNBytes{1, 2, 3});
  values.SaveToStream(selection);
  WriteSeed(folder, "selection_and_values", 0, selection);

  for (int32_t index = 0; index < 4; ++index) {
    cursor.Shape.ActiveIndex = index;
    TBRNContainedCursorKeyValues key(&cursor.Shape);
    for (int32_t i = 0; i < key.GetCount(); ++i)
      key.GetItem(i)->SetAsString(std::to_string(40 + i));
    key.SetRowID(42);
    TBRNMemoryStream stream;
    key.SaveToStream(stream);
    WriteSeed(folder, "key_on_index_" + std::to_string(index), uint8_t(index + 1), stream);
  }
  TBRNMemoryStream list;
  cursor.Shape.CursorColumns.SaveToStream(list, false);
  WriteSeed(folder, "column_list", 0, list);

  // A stored row whose DATA and NOTES were changed, sent with its flags and
  // BLOB list, and the same row sent plain.
  RowCursor rows;
  auto row = rows.Cursor->CreateRow();
  row->RowNumber = 3;
  row->RowVersion = 17;
  row->UpdateCounter = 2;
  row->Values.GetItem(0)->SetAsInteger(3);
  row->Values.GetItem(1)->SetAsString("Ada");
  row->Values.GetItem(2)->SetAsString("12.5");
  row->Values.GetItem(4)->SetAsString("C1");
  row->Values.ClearModified();
  row->Values.GetItem(3)->SetAsBytes(TBRNBytes{1, 2, 3, 4});
  row->Values.GetItem(5)->SetAsString("notes");
  TBRNMemoryStream withBlobs;
  row->SaveToStreamWithBlobs(withBlobs, true, true);
  WriteSeed(folder, "cursor_row_with_blobs", 0, withBlobs);
  TBRNMemoryStream plain;
  row->SaveToStream(plain);
  WriteSeed(folder, "cursor_row", 0, plain);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* folder = std::getenv("BRN_FUZZ_SEEDS")) WriteSeeds(folder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Cursor cursor;
  static RowCursor rows;
  Input in(data, size);
  uint8_t shape = in.Byte();
  cursor.Shape.ActiveIndex = int32_t(shape % 5) - 1;
  std::string_view bytes = in.Rest();

  // The column selection, then the values of its columns from the same bytes
  // that follow it.
  TBRNMappedCursorColumns mapped(&cursor.Shape);
  TBRNMemoryStream stream;
  FillStream(stream, bytes);
  if (Try([&] { mapped.LoadFromStream(stream); })) {
    for (int32_t i = 0; i < mapped.Count(); ++i) {
      if (mapped.GetColumn(i)->GetCursor() != &cursor.Shape)
        Fail("a mapped column of another cursor");
    }
    TBRNMemoryStream saved;
    mapped.SaveToStream(saved, false);
    int64_t used = stream.GetPosition();
    if (StreamText(saved) != std::string(bytes.substr(0, size_t(used))))
      Fail("mapped columns stream form changed on its way back");
    TBRNMappedColumns tableColumns;
    Try([&] { tableColumns.Assign(&mapped, false); });
    Try([&] {
      TBRNContainedCursorColumnValues values(mapped);
      if (Try([&] { values.LoadFromStream(stream); })) {
        TBRNContainedCursorColumnValues copy(mapped);
        RoundTrip(values, "column values", copy);
      }
    });
  } else if (mapped.Count() != 0) {
    Fail("a refused selection left columns in the list");
  }

  // A key and a bookmark on the active index, from the whole input.
  TBRNContainedCursorKeyValues key(&cursor.Shape);
  TBRNMemoryStream keyStream;
  FillStream(keyStream, bytes);
  if (Try([&] { key.LoadFromStream(keyStream); })) {
    if (key.GetCount() > key.GetKeyColumnCount()) Fail("more key values than key columns");
    TBRNContainedCursorKeyValues copy(&cursor.Shape);
    RoundTrip(key, "key values", copy);
  }
  TBRNContainedBookmarkValues bookmark(&cursor.Shape);
  TBRNMemoryStream bookmarkStream;
  FillStream(bookmarkStream, bytes);
  if (Try([&] { bookmark.LoadFromStream(bookmarkStream); })) {
    TBRNContainedBookmarkValues copy(&cursor.Shape);
    RoundTrip(bookmark, "bookmark values", copy);
  }

  // The cursor's own column list as stored.
  TestCursor other;
  other.TableColumns.Assign(&cursor.Shape.TableColumns, true);
  TBRNMemoryStream listStream;
  FillStream(listStream, bytes);
  if (Try([&] { other.CursorColumns.LoadFromStream(listStream); })) {
    for (int32_t i = 0; i < other.CursorColumns.Count(); ++i) {
      Try([&] { (void)other.CursorColumns.GetColumn(i)->GetTableColumn(); });
    }
    TBRNMemoryStream saved;
    other.CursorColumns.SaveToStream(saved, false);
  }

  FeedCursorRows(rows, bytes);
  return 0;
}
