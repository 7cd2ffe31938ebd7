// The streams a cursor receives from a client or keeps in a file: the
// selection of cursor columns (positions in the cursor's list), the values
// typed from those columns, keys and bookmarks on the active index, and the
// stored record of the cursor's own column list. With BRN_FUZZ_SEEDS=<folder>
// in the environment the target first writes its seeds into that folder.
#include <cstdlib>
#include <fstream>
#include <string>

#include "foundation/text/collation.h"
#include "fuzz_support.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/cursors/cursor_test_support.h"
#include "storage/cursors/key_values.h"

using namespace brn;
using namespace brn::fuzz;
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
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* folder = std::getenv("BRN_FUZZ_SEEDS")) WriteSeeds(folder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Cursor cursor;
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
  return 0;
}
