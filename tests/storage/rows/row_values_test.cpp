#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "foundation/core/byte_order.h"
#include "foundation/text/collation.h"
#include "foundation/values/contained_value.h"
#include "metadata/catalog/indexes.h"
#include "storage/rows/row_values_test_support.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::ColumnList;
using testing::RowEvaluator;
using testing::TestRowValues;

// ID, Name VARCHAR(8), Code CHAR(4), Raw VARBYTE(4), Next INTEGER, Doc CLOB,
// Twice COMPUTED (ID * 2), Stamp GENERATED.
struct OrderRow {
  ColumnList List;
  TBRNColumn* ID = List.Add("ID", dtInteger);
  TBRNColumn* Name = List.Add("Name", dtChar, 8);
  TBRNColumn* Code = List.Add("Code", dtChar, 4, stFixed);
  TBRNColumn* Raw = List.Add("Raw", dtBytes, 4);
  TBRNColumn* Next = List.Add("Next", dtInteger);
  TBRNColumn* Doc = List.Add("Doc", dtLob, 0, stClob);
  TBRNColumn* Twice = List.AddComputed("Twice", dtInteger, "ID * 2");
  TBRNColumn* Stamp = List.Add("Stamp", dtInteger);
  RowEvaluator Evaluator;
  TBRNMemoryStream Buffer;
  std::unique_ptr<TestRowValues> Row;

  OrderRow() {
    Stamp->SetGenerated(true);
    Stamp->GeneratedExpr->SetText("ID + 1");
    List.Finish();
    Row = std::make_unique<TestRowValues>(&List.Columns, &Evaluator);
    Buffer.SetSize(List.Columns.RowSize);
    Row->SetBuffer(&Buffer);
  }

  TBRNRowValue& Value(const TBRNColumn* column) { return *Row->GetRowValue(column->Index); }
  const uint8_t* Bytes(const TBRNColumn* column) const {
    return Buffer.GetMemory() + column->RowOffset;
  }
  std::string Stored(const TBRNColumn* column) const {
    const uint8_t* bytes = Bytes(column);
    uint16_t length = LoadLittleEndian<uint16_t>(bytes + 1);
    return std::string(reinterpret_cast<const char*>(bytes + 3), length);
  }
};

TEST(RowValues, ScalarsAreReadAndWrittenInPlace) {
  struct Case {
    const char* Name;
    TBRNDataTypeCode Type;
    int32_t Scale;
    std::function<void(TBRNValue&)> Set;
    std::vector<uint8_t> Data;
    std::string Text;
  };
  const std::vector<Case> cases = {
      {"Boolean", dtBoolean, 0, [](TBRNValue& v) { v.SetAsBoolean(true); }, {1}, "TRUE"},
      {"SmallInt", dtSmallInt, 0, [](TBRNValue& v) { v.SetAsSmallInt(-2); }, {0xFE, 0xFF}, "-2"},
      {"Integer",
       dtInteger,
       0,
       [](TBRNValue& v) { v.SetAsInteger(0x01020304); },
       {4, 3, 2, 1},
       "16909060"},
      {"BigInt",
       dtBigInt,
       0,
       [](TBRNValue& v) { v.SetAsBigInt(-1); },
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       "-1"},
      {"Float",
       dtFloat,
       0,
       [](TBRNValue& v) { v.SetAsFloat(1.5); },
       {0, 0, 0, 0, 0, 0, 0xF8, 0x3F},
       "1.5"},
      // 12.345 at scale 2 is rounded to 12.35 = 123500 / 10000.
      {"Decimal",
       dtDecimal,
       2,
       [](TBRNValue& v) { v.SetAsDecimal(123450); },
       {0x6C, 0xE2, 0x01, 0, 0, 0, 0, 0},
       "12.35"},
  };
  ColumnList list;
  list.Add("Lead", dtInteger);
  for (const Case& c : cases) {
    TBRNColumn* column = list.Add(c.Name, c.Type);
    if (c.Scale != 0) column->SetScale(c.Scale);
  }
  list.Finish();
  RowEvaluator evaluator;
  TestRowValues row(&list.Columns, &evaluator);
  TBRNMemoryStream first, second;
  first.SetSize(list.Columns.RowSize);
  second.SetSize(list.Columns.RowSize);
  row.SetBuffer(&first);
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    TBRNColumn* column = list.Columns.GetItem(int32_t(i) + 1);
    TBRNValue& value = *row.GetItem(int32_t(i) + 1);
    EXPECT_TRUE(value.GetNull()) << c.Name;
    c.Set(value);
    const uint8_t* bytes = first.GetMemory() + column->RowOffset;
    EXPECT_EQ(bytes[0], 1) << c.Name;
    EXPECT_EQ(std::vector<uint8_t>(bytes + 1, bytes + 1 + c.Data.size()), c.Data) << c.Name;
    EXPECT_EQ(value.GetAsString(), c.Text) << c.Name;
    // The bytes are the value: a change in the buffer is what the value reads.
    std::memcpy(second.GetMemory() + column->RowOffset, bytes, c.Data.size() + 1);
  }
  EXPECT_TRUE(row.GetRowValue(0)->GetNull());
  EXPECT_EQ(first.GetMemory()[list.Columns.GetItem(0)->RowOffset], 0);

  // Rebinding copies nothing: the values read the new buffer and write there.
  row.SetBuffer(&second);
  EXPECT_FALSE(row.RowModified);
  EXPECT_EQ(row.GetItem(3)->GetAsInteger(), 0x01020304);
  row.GetItem(3)->SetAsInteger(7);
  EXPECT_EQ(LoadLittleEndian<int32_t>(second.GetMemory() + list.Columns.GetItem(3)->RowOffset + 1),
            7);
  EXPECT_EQ(LoadLittleEndian<int32_t>(first.GetMemory() + list.Columns.GetItem(3)->RowOffset + 1),
            0x01020304);
  EXPECT_TRUE(row.GetRowValue(3)->Modified);
  EXPECT_TRUE(row.RowModified);
  // NULL is the indicator alone.
  row.GetItem(3)->SetNull(true);
  EXPECT_EQ(second.GetMemory()[list.Columns.GetItem(3)->RowOffset], 0);
  EXPECT_TRUE(row.GetItem(3)->GetNull());
}

// Variable text keeps to its declared length: trailing blanks beyond it go
// silently, anything else is refused (or cut when truncation errors are
// off); fixed text is always cut or padded.
TEST(RowValues, TextKeepsToItsDeclaredLength) {
  struct Case {
    const char* Column;
    std::string Text;
    bool TruncationErrors;
    std::string Stored;  // empty: the error below
    std::string Message;
  };
  const std::vector<Case> cases = {
      {"Name", "ABCDEFGH    ", true, "ABCDEFGH", ""},
      {"Name", "ABC  ", true, "ABC  ", ""},
      {"Name", "ABCDEFGHIJKLM", true, "",
       "An error occurred with the column Name (The value ABCDEFGHIJKLM would result in "
       "truncation)"},
      {"Name", "ABCDEFGHIJKLM", false, "ABCDEFGH", ""},
      {"Name", "ABCDEFGH  X", true, "",
       "An error occurred with the column Name (The value ABCDEFGH  X would result in "
       "truncation)"},
      {"Code", "AB", true, "AB  ", ""},
      {"Code", "ABCDEFG", true, "ABCD", ""},
  };
  for (const Case& c : cases) {
    OrderRow r;
    r.Row->TruncationErrors = c.TruncationErrors;
    TBRNColumn* column = c.Column == std::string("Name") ? r.Name : r.Code;
    TBRNRowValue& value = r.Value(column);
    value.SetAsString("old");
    r.Row->ClearModified();
    std::vector<uint8_t> before(r.Buffer.GetMemory(), r.Buffer.GetMemory() + r.Buffer.GetSize());
    if (c.Stored.empty()) {
      EBRNException e = CaughtError([&] { value.SetAsString(c.Text); });
      EXPECT_EQ(e.ErrorCode, kConversionErrorCode) << c.Text;
      EXPECT_EQ(e.ErrorMessage, c.Message);
      EXPECT_EQ(
          std::vector<uint8_t>(r.Buffer.GetMemory(), r.Buffer.GetMemory() + r.Buffer.GetSize()),
          before)
          << c.Text;
      EXPECT_FALSE(value.Modified);
      continue;
    }
    value.SetAsString(c.Text);
    EXPECT_EQ(value.GetAsString(), c.Stored) << c.Text;
    if (column == r.Name) {
      EXPECT_EQ(r.Stored(column), c.Stored) << c.Text;
    }
    EXPECT_TRUE(value.Modified);
  }
}

// A BYTE value never spills into the next column, whether cut or refused.
TEST(RowValues, BytesNeverWriteIntoTheNextColumn) {
  const std::vector<uint8_t> nine = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  for (bool errors : {false, true}) {
    OrderRow r;
    r.Row->TruncationErrors = errors;
    r.Value(r.Next).SetAsInteger(0x11223344);
    TBRNRowValue& raw = r.Value(r.Raw);
    if (errors) {
      EBRNException e = CaughtError([&] { raw.SetAsBytes(nine); });
      EXPECT_EQ(e.ErrorMessage,
                "An error occurred with the column Raw (The value 010203040506070809 would "
                "result in truncation)");
      EXPECT_TRUE(raw.GetNull());
    } else {
      raw.SetAsBytes(nine);
      EXPECT_EQ(raw.GetAsBytes(), TBRNBytes({1, 2, 3, 4}));
      EXPECT_EQ(raw.GetLength(), 4);
    }
    EXPECT_EQ(r.Value(r.Next).GetAsInteger(), 0x11223344) << errors;
    // Through the stream as well.
    r.Row->TruncationErrors = false;
    TBRNMemoryStream* stream = raw.GetBlobStream();
    stream->SetPosition(0);
    stream->Write(nine.data(), int32_t(nine.size()));
    EXPECT_EQ(raw.GetAsBytes(), TBRNBytes({1, 2, 3, 4}));
    EXPECT_EQ(r.Value(r.Next).GetAsInteger(), 0x11223344) << errors;
  }
}

// A CHAR value's stream is a copy of its text: reading it copies the image,
// writing it writes back.
TEST(RowValues, TextStreamWritesBackIntoTheImage) {
  OrderRow r;
  r.Value(r.Name).SetAsString("abc");
  r.Row->ClearModified();
  TBRNMemoryStream* stream = r.Value(r.Name).GetBlobStream();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->GetSize(), 3);
  stream->SetPosition(3);
  stream->Write("de", 2);
  EXPECT_EQ(r.Stored(r.Name), "abcde");
  EXPECT_TRUE(r.Value(r.Name).Modified);
  // Trailing blanks beyond the length go, as with the setters.
  stream->SetPosition(0);
  stream->Write("ABCDEFGH  ", 10);
  EXPECT_EQ(r.Stored(r.Name), "ABCDEFGH");
  EXPECT_EQ(CaughtError([&] { stream->Write("X", 1); }).ErrorCode, kConversionErrorCode);
  EXPECT_EQ(r.Stored(r.Name), "ABCDEFGH");
  // A setter makes the copy stale: the next stream is the new text.
  r.Value(r.Name).SetAsString("xy");
  EXPECT_EQ(r.Value(r.Name).GetBlobStream()->GetSize(), 2);
}

TEST(RowValues, BlobsLoadOnFirstTouchAndSaveWithTheRowVersion) {
  OrderRow r;
  TBRNRowValue& doc = r.Value(r.Doc);
  uint8_t* ref = r.Buffer.GetMemory() + r.Doc->RowOffset;

  // NULL, and present with block 0: empty, and the BLOB file is not asked.
  for (int32_t block : {-1, 0}) {
    r.Row->SetAllNull();
    if (block == 0) {
      ref[0] = 1;
      StoreLittleEndian(ref + 5, int32_t(50));
    }
    TBRNMemoryStream* stream = doc.GetBlobStream();
    EXPECT_EQ(stream->GetSize(), 0) << block;
    EXPECT_EQ(r.Row->Reads, 0);
    EXPECT_FALSE(doc.Modified);
    // Writing into that stream edits the value.
    stream->Write("hello", 5);
    EXPECT_TRUE(doc.Modified) << block;
    EXPECT_FALSE(doc.GetNull()) << block;
    EXPECT_TRUE(r.Row->RowModified);
    EXPECT_EQ(doc.GetAsString(), "hello");
  }

  // Saving writes the modified BLOB under the row version and stores the
  // reference; ClearModified drops the data.
  r.Row->SaveBlobs(42);
  EXPECT_EQ(r.Row->Writes, 1);
  EXPECT_EQ(r.Row->LastRowVersion, 42);
  EXPECT_EQ(doc.GetBlobBlock(), 100);
  EXPECT_EQ(doc.GetBlobLength(), 5);
  r.Row->ClearModified();
  EXPECT_FALSE(static_cast<TBRNStaticRowValue&>(doc).GetBlobLoaded());
  r.Row->SaveBlobs(43);
  EXPECT_EQ(r.Row->Writes, 1);

  // Reading the row again reads the chain only when the value is used, and
  // once.
  TBRNMemoryStream image;
  r.Row->SaveRowImage(image, false);
  TestRowValues other(&r.List.Columns, &r.Evaluator);
  other.Blobs = r.Row->Blobs;
  TBRNMemoryStream otherBuffer;
  otherBuffer.SetSize(r.List.Columns.RowSize);
  other.SetBuffer(&otherBuffer);
  image.SetPosition(0);
  other.LoadRowImage(image, false);
  EXPECT_EQ(other.Reads, 0);
  EXPECT_EQ(other.GetItem(r.Doc->Index)->GetAsString(), "hello");
  EXPECT_EQ(other.GetItem(r.Doc->Index)->GetLength(), 5);
  EXPECT_EQ(other.Reads, 1);
  EXPECT_FALSE(other.LastCompressed);

  // Replacing the data needs no read; the chain is reused.
  r.Value(r.Doc).SetAsString("a longer text");
  EXPECT_EQ(r.Row->Reads, 0);
  r.Row->SaveBlobs(44);
  EXPECT_EQ(doc.GetBlobBlock(), 100);
  EXPECT_EQ(doc.GetBlobLength(), 13);
  EXPECT_EQ(LoadLittleEndian<int32_t>(ref + 5), 13);

  // References move without touching the lengths.
  other.ClearBlobReferences();
  EXPECT_EQ(other.GetRowValue(r.Doc->Index)->GetBlobBlock(), 0);
  EXPECT_EQ(other.GetRowValue(r.Doc->Index)->GetBlobLength(), 5);
  other.CopyBlobReferences(*r.Row);
  EXPECT_EQ(other.GetRowValue(r.Doc->Index)->GetBlobBlock(), 100);
  EXPECT_EQ(other.GetRowValue(r.Doc->Index)->GetBlobLength(), 5);
}

// The stored length of a BLOB reference comes from untrusted row bytes: the
// reader gets an empty stream and sizes it to what the chain holds, so a
// damaged length is never allocated.
TEST(RowValues, ADamagedBlobLengthIsNeverAllocated) {
  struct Row : TestRowValues {
    using TestRowValues::TestRowValues;
    int64_t SizeAtRead = -1;
    void ReadBlob(int32_t BlockRef, TBRNMemoryStream& Stream, bool Compressed) override {
      SizeAtRead = Stream.GetSize();
      TestRowValues::ReadBlob(BlockRef, Stream, Compressed);
    }
  };
  ColumnList list;
  TBRNColumn* doc = list.Add("Doc", dtLob, 0, stClob);
  list.Finish();
  RowEvaluator evaluator;
  Row row(&list.Columns, &evaluator);
  TBRNMemoryStream buffer;
  buffer.SetSize(list.Columns.RowSize);
  row.SetBuffer(&buffer);
  row.GetItem(0)->SetAsString("abc");
  row.SaveBlobs(1);
  for (int32_t length : {INT32_MAX, 1 << 30, 2}) {
    row.SetBuffer(&buffer);  // forgets the loaded copy
    StoreLittleEndian(buffer.GetMemory() + doc->RowOffset + 5, length);
    EXPECT_EQ(row.GetItem(0)->GetAsString(), "abc") << length;
    EXPECT_EQ(row.SizeAtRead, 0) << length;
  }
}

TEST(RowValues, DataLoadedFromOneBufferNeverShowsInAnother) {
  OrderRow r;
  r.Value(r.Doc).SetAsString("first row");
  r.Value(r.Name).SetAsString("first");
  EXPECT_EQ(r.Value(r.Name).GetBlobStream()->GetSize(), 5);
  TBRNMemoryStream empty;
  empty.SetSize(r.List.Columns.RowSize);
  r.Row->SetBuffer(&empty);
  EXPECT_TRUE(r.Value(r.Doc).GetNull());
  EXPECT_EQ(r.Value(r.Doc).GetBlobStream()->GetSize(), 0);
  EXPECT_EQ(r.Value(r.Name).GetBlobStream()->GetSize(), 0);
}

// The computed column runs through the SQL evaluator behind the seam, once
// per change of the row.
TEST(RowValues, ComputedColumnIsEvaluatedOnceUntilTheRowChanges) {
  OrderRow r;
  TBRNRowValue& twice = r.Value(r.Twice);
  ASSERT_NE(dynamic_cast<TBRNComputedRowValue*>(&twice), nullptr);
  EXPECT_EQ(static_cast<TBRNComputedRowValue&>(twice).GetExpr().GetKindName(),
            r.Twice->ComputedExpr->GetKindName());
  r.Value(r.ID).SetAsInteger(21);
  EXPECT_EQ(r.Row->Computations, 0);
  EXPECT_EQ(twice.GetAsInteger(), 42);
  EXPECT_EQ(twice.GetAsInteger(), 42);
  EXPECT_EQ(r.Row->Computations, 1);
  EXPECT_EQ(r.Evaluator.Current, nullptr);

  // A column the expression does not use changes nothing.
  r.Value(r.Name).SetAsString("x");
  EXPECT_EQ(twice.GetAsInteger(), 42);
  EXPECT_EQ(r.Row->Computations, 1);

  // A used column marks it modified, and the next read computes again.
  r.Value(r.ID).SetAsInteger(5);
  EXPECT_TRUE(twice.Modified);
  EXPECT_EQ(r.Row->Computations, 1);
  EXPECT_EQ(twice.GetAsInteger(), 10);
  EXPECT_EQ(r.Row->Computations, 2);

  // So does ClearModified of the value itself (e.g. after a new image).
  twice.ClearModified();
  EXPECT_EQ(twice.GetAsInteger(), 10);
  EXPECT_EQ(r.Row->Computations, 3);

  // Writes do nothing; the image has no bytes for it.
  twice.SetAsInteger(99);
  EXPECT_EQ(twice.GetAsInteger(), 10);
  EXPECT_EQ(r.Buffer.GetSize(), r.List.Columns.RowSize);

  // Without evaluation the column reads as NULL and takes no writes.
  TestRowValues stored(&r.List.Columns, &r.Evaluator, false);
  stored.SetBuffer(&r.Buffer);
  stored.GetItem(r.Twice->Index)->SetAsInteger(77);
  EXPECT_TRUE(stored.GetItem(r.Twice->Index)->GetNull());
  EXPECT_EQ(stored.GetItem(r.Stamp->Index)->GetNull(), r.Value(r.Stamp).GetNull());
}

TEST(RowValues, RowImageCarriesModifiedFlagsOfStoredColumnsOnly) {
  OrderRow r;
  r.Value(r.ID).SetAsInteger(3);
  r.Value(r.Code).SetAsString("XY");
  r.Value(r.Next).SetAsInteger(8);
  r.Row->ClearModified();
  r.Value(r.Next).SetModified(true);
  TBRNMemoryStream image;
  r.Row->SaveRowImage(image, true);
  int32_t imageSize = r.List.Columns.RowSize - kRowHeaderSize;
  ASSERT_EQ(image.GetSize(), imageSize + r.Row->GetCount());
  // The sender's flags for the computed and generated columns say modified.
  image.GetMemory()[imageSize + r.Twice->Index] = 1;
  image.GetMemory()[imageSize + r.Stamp->Index] = 1;

  OrderRow target;
  target.Value(target.Name).SetAsString("gone");
  image.SetPosition(0);
  target.Row->LoadRowImage(image, true);
  EXPECT_EQ(target.Value(target.ID).GetAsInteger(), 3);
  EXPECT_EQ(target.Value(target.Code).GetAsString(), "XY  ");
  EXPECT_TRUE(target.Value(target.Name).GetNull());
  for (int32_t i = 0; i < target.Row->GetCount(); ++i) {
    EXPECT_EQ(target.Row->GetRowValue(i)->Modified, i == target.Next->Index) << i;
  }
  EXPECT_TRUE(target.Row->RowModified);
  EXPECT_EQ(target.Value(target.Twice).GetAsInteger(), 6);

  // A short image is refused before anything changes.
  TBRNMemoryStream shortImage;
  shortImage.Write(image.GetMemory(), imageSize);
  shortImage.SetPosition(0);
  EBRNException e = CaughtError([&] { target.Row->LoadRowImage(shortImage, true); });
  EXPECT_EQ(e.ErrorCode, kConversionErrorCode);
  EXPECT_TRUE(target.Value(target.Next).Modified);
}

TEST(RowValues, ModifiedFlagsRememberTheirPreviousState) {
  OrderRow r;
  TBRNRowValue& id = r.Value(r.ID);
  id.SetModified(true);
  EXPECT_FALSE(id.PreviousModified);
  id.SetModified(false);
  EXPECT_TRUE(id.PreviousModified);
  EXPECT_FALSE(id.Modified);
  r.Row->SetAllModified(true);
  EXPECT_FALSE(id.PreviousModified);
  EXPECT_TRUE(r.Row->RowModified);
  r.Row->ClearModified();
  EXPECT_FALSE(id.Modified);
  EXPECT_FALSE(r.Row->RowModified);
}

// A setter that fails leaves the row as it was, NULL included: also one
// that reads the value for its message before it raises.
TEST(RowValues, FailingSettersLeaveTheRowAsItWas) {
  OrderRow r;
  std::vector<uint8_t> before(r.Buffer.GetMemory(), r.Buffer.GetMemory() + r.Buffer.GetSize());
  TBRNContainedValue text;
  text.SetDataType(dtChar);
  text.SetAsString("abc");
  const std::vector<std::pair<const char*, std::function<void()>>> failures = {
      {"too long text", [&] { r.Value(r.Name).SetAsString("ABCDEFGHIJ"); }},
      {"text into an integer", [&] { r.Value(r.ID).SetAsString("abc"); }},
      {"too long bytes", [&] { r.Value(r.Raw).SetAsBytes(TBRNBytes(5, 1)); }},
      {"months into an integer", [&] { r.Value(r.ID).SetYearMonthIntervalNumber(5); }},
      {"milliseconds into an integer", [&] { r.Value(r.Next).SetDayTimeIntervalNumber(5); }},
      {"text assigned to an integer", [&] { r.Value(r.ID).Assign(text); }},
  };
  for (const auto& [what, action] : failures) {
    EBRNException e = CaughtError(action);
    EXPECT_EQ(e.ErrorCode, kConversionErrorCode) << what;
    EXPECT_EQ(std::vector<uint8_t>(r.Buffer.GetMemory(), r.Buffer.GetMemory() + r.Buffer.GetSize()),
              before)
        << what;
    EXPECT_FALSE(r.Row->RowModified) << what;
  }
  EXPECT_EQ(
      CaughtError([&] { r.Value(r.ID).SetAsString("abc"); }).ErrorMessage,
      "An error occurred with the column ID (A conversion error occurred with the value abc)");
  EXPECT_TRUE(r.Value(r.Name).GetNull());
  EXPECT_FALSE(r.Value(r.Name).Modified);
}

TEST(RowValues, WholeRowOperationsSpareOrUseTheHeaderAsTheyShould) {
  OrderRow r;
  std::memset(r.Buffer.GetMemory(), 0xAB, kRowHeaderSize);
  r.Value(r.ID).SetAsInteger(9);
  r.Value(r.Name).SetAsString("nine");

  OrderRow copy;
  std::memset(copy.Buffer.GetMemory(), 0xCD, kRowHeaderSize);
  copy.Value(copy.Next).SetAsInteger(1);
  copy.Row->Assign(*r.Row);
  EXPECT_EQ(copy.Buffer.GetMemory()[0], 0xCD);
  EXPECT_EQ(copy.Value(copy.ID).GetAsInteger(), 9);
  EXPECT_EQ(copy.Value(copy.Name).GetAsString(), "nine");
  EXPECT_TRUE(copy.Value(copy.Next).GetNull());
  EXPECT_FALSE(copy.Row->RowModified);
  EXPECT_EQ(copy.Row->Compare(*r.Row, 0, false), 0);

  r.Value(r.Name).SetAsString("nina");
  EXPECT_GT(copy.Row->Compare(*r.Row, 0, false), 0);
  // A partial length applies to the last value compared (Other's last).
  TBRNValues prefix;
  prefix.Add(new TBRNContainedValue());
  prefix.Add(new TBRNContainedValue());
  prefix.GetItem(0)->SetDataType(dtInteger);
  prefix.GetItem(0)->SetAsInteger(9);
  prefix.GetItem(1)->SetDataType(dtChar);
  prefix.GetItem(1)->SetAsString("niXX");
  EXPECT_NE(copy.Row->Compare(prefix, 0, false), 0);
  EXPECT_EQ(copy.Row->Compare(prefix, 2, false), 0);

  r.Row->SetAllNull();
  for (int32_t i = 0; i < r.Buffer.GetSize(); ++i) ASSERT_EQ(r.Buffer.GetMemory()[i], 0) << i;
  EXPECT_FALSE(r.Row->RowModified);
}

// Keys compare against the row in index column order, the partial length
// applying to the key's last value.
TEST(RowValues, RowComparesWithAnIndexKey) {
  OrderRow r;
  r.Value(r.ID).SetAsInteger(4);
  r.Value(r.Name).SetAsString("carrot");
  // An index (Name, ID) of the table.
  struct TableIndexes : TBRNIndexes {
    TableIndexes() : TBRNIndexes(nullptr) {}
    TBRNColumns* Table = nullptr;
    TBRNColumns* GetColumns() const override { return Table; }
  } indexes;
  indexes.Table = &r.List.Columns;
  auto index = std::make_unique<TBRNIndex>(nullptr);
  index->Name = "ByName";
  indexes.AddObject(index.get());
  TBRNIndexColumns& keyColumns = *index.release()->Columns;
  for (TBRNColumn* column : {r.Name, r.ID}) {
    auto indexColumn = std::make_unique<TBRNIndexColumn>(nullptr);
    indexColumn->ColumnID = column->ID;
    keyColumns.AddObject(indexColumn.get());
    indexColumn.release();
  }
  struct Case {
    std::string Name;
    int32_t ID;  // 0: the key holds the name only
    int32_t PartialLength;
    int32_t Expected;
  };
  const std::vector<Case> cases = {
      {"carrot", 4, 0, 0}, {"carrot", 5, 0, -1}, {"carrot", 3, 0, 1},
      {"beet", 9, 0, 1},   {"carx", 0, 0, -1},   {"carx", 0, 3, 0},
  };
  for (const Case& c : cases) {
    TBRNValues key;
    key.Add(new TBRNContainedValue());
    key.GetItem(0)->SetDataType(dtChar);
    key.GetItem(0)->SetAsString(c.Name);
    if (c.ID != 0) {
      key.Add(new TBRNContainedValue());
      key.GetItem(1)->SetDataType(dtInteger);
      key.GetItem(1)->SetAsInteger(c.ID);
    }
    EXPECT_EQ(r.Row->CompareWithKey(key, c.PartialLength, false, keyColumns), c.Expected)
        << c.Name << " " << c.ID;
  }
}

// Rows of the same columns compare column by column in place in their
// buffers; the result must be the value-by-value comparison's, which the
// same row compared with a list of contained values holding the other row's
// data gives. The table is laid out so that text is Other's last column
// (where a partial length applies) and BLOB, CLOB and computed columns sit
// among the stored ones.
TEST(RowValues, RowsOfOneTableCompareAsTheirValuesDo) {
  ColumnList list;
  TBRNColumn* id = list.Add("ID", dtInteger);
  TBRNColumn* hidden = list.Add("Hidden", dtInteger);
  TBRNColumn* name = list.Add("Name", dtChar, 8);
  TBRNColumn* title = list.Add("Title", dtChar, 8);
  TBRNColumn* code = list.Add("Code", dtChar, 4, stFixed);
  TBRNColumn* small = list.Add("Small", dtSmallInt);
  TBRNColumn* big = list.Add("Big", dtBigInt);
  TBRNColumn* ratio = list.Add("Ratio", dtFloat);
  TBRNColumn* price = list.Add("Price", dtDecimal, 0, stDefault, 2);
  TBRNColumn* flag = list.Add("Flag", dtBoolean);
  TBRNColumn* raw = list.Add("Raw", dtBytes, 4);
  TBRNColumn* day = list.Add("Day", dtDate);
  TBRNColumn* doc = list.Add("Doc", dtLob, 0, stClob);
  list.AddComputed("Twice", dtInteger, "ID * 2");
  TBRNColumn* note = list.Add("Note", dtChar, 10);
  hidden->SetInternal(true);
  // German, case-insensitive: 'a' < 'B' here, unlike in byte order.
  title->SetCollation(MakeLocaleId(MakeLanguageId(7, 1), 0) | (1 << CaseInsensitiveBit));
  list.Finish();
  RowEvaluator evaluator;

  using Setter = std::function<void(TBRNRowValues&)>;
  auto text = [](TBRNColumn* column, std::string value) -> Setter {
    return [=](TBRNRowValues& row) { row.GetItem(column->Index)->SetAsString(value); };
  };
  auto null = [](TBRNColumn* column) -> Setter {
    return [=](TBRNRowValues& row) { row.GetItem(column->Index)->SetNull(true); };
  };
  auto bytes = [](TBRNColumn* column, TBRNBytes value) -> Setter {
    return [=](TBRNRowValues& row) { row.GetItem(column->Index)->SetAsBytes(value); };
  };
  auto fill = [&](TBRNRowValues& row) {
    for (const Setter& set :
         {text(id, "7"), text(hidden, "1"), text(name, "pear"), text(title, "apple"),
          text(code, "AB"), text(small, "-3"), text(big, "-9000000000"), text(ratio, "1.5"),
          text(price, "12.34"), text(flag, "TRUE"), bytes(raw, {1, 2}), text(day, "2024-02-29"),
          text(doc, "notes"), text(note, "fig tree")})
      set(row);
  };
  struct Case {
    const char* What;
    Setter Left;  // applied to the left row after fill (nullptr: none)
    Setter Right;
    int32_t PartialLength;
    bool CaseInsensitive;
    int32_t Expected;
  };
  const std::vector<Case> cases = {
      {"equal rows", nullptr, nullptr, 0, false, 0},
      {"NULL sorts first", null(id), nullptr, 0, false, -1},
      {"NULL equals NULL", null(id), null(id), 0, false, 0},
      {"negative integer", text(id, "-8"), nullptr, 0, false, -1},
      {"internal column skipped", text(hidden, "99"), nullptr, 0, false, 0},
      {"equal prefix, longer text", text(name, "pears"), nullptr, 0, false, 1},
      {"trailing blanks do not count", text(name, "pear  "), nullptr, 0, false, 0},
      {"case counts", text(name, "Pear"), nullptr, 0, false, -1},
      {"case ignored on request", text(name, "PEAR"), nullptr, 0, true, 0},
      {"collated column ignores case", text(title, "APPLE"), nullptr, 0, false, 0},
      {"collated order", text(title, "a"), text(title, "B"), 0, false, -1},
      {"fixed text", text(code, "AA"), nullptr, 0, false, -1},
      {"small int", text(small, "-4"), nullptr, 0, false, -1},
      {"big int", text(big, "9000000000"), nullptr, 0, false, 1},
      {"float", text(ratio, "-1.5"), nullptr, 0, false, -1},
      {"decimal", text(price, "12.35"), nullptr, 0, false, 1},
      {"boolean", text(flag, "FALSE"), nullptr, 0, false, -1},
      {"bytes, equal prefix", bytes(raw, {1, 2, 0}), nullptr, 0, false, 1},
      {"date", text(day, "2024-03-01"), nullptr, 0, false, 1},
      {"CLOB", text(doc, "notez"), nullptr, 0, false, 1},
      {"CLOB NULL", nullptr, null(doc), 0, false, 1},
      {"computed column", nullptr, nullptr, 0, false, 0},
      {"last text, whole", text(note, "fig leaf"), nullptr, 0, false, -1},
      {"last text, partial length", text(note, "fig leaf"), nullptr, 4, false, 0},
      {"last text, partial and case", text(note, "FIG leaf"), nullptr, 3, true, 0},
      {"last text, partial beyond", text(note, "fig"), nullptr, 5, false, -1},
      {"partial length only at the last", text(name, "pearl"), nullptr, 4, false, 1},
      {"last text NULL", null(note), nullptr, 4, false, -1},
  };
  for (bool evaluateComputed : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.What) + (evaluateComputed ? "" : ", computed not evaluated"));
      TBRNMemoryStream leftBuffer, rightBuffer;
      leftBuffer.SetSize(list.Columns.RowSize);
      rightBuffer.SetSize(list.Columns.RowSize);
      TestRowValues left(&list.Columns, &evaluator, evaluateComputed);
      TestRowValues right(&list.Columns, &evaluator, evaluateComputed);
      left.SetBuffer(&leftBuffer);
      right.SetBuffer(&rightBuffer);
      fill(left);
      fill(right);
      if (c.Left) c.Left(left);
      if (c.Right) c.Right(right);
      // The same data as contained values, compared value by value.
      auto copyOf = [](const TBRNRowValues& row) {
        auto copy = std::make_unique<TBRNValues>();
        for (int32_t i = 0; i < row.GetCount(); ++i) {
          const TBRNValue& value = *row.GetItem(i);
          auto* contained = new TBRNContainedValue();
          copy->Add(contained);
          contained->SetDataType(value.GetDataType());
          contained->SetDataSubType(value.GetSubType());
          contained->SetScale(value.GetScale());
          contained->SetCollation(value.GetCollation());
          if (value.GetDataType() == dtChar || value.GetDataType() == dtBytes)
            contained->SetLength(value.GetLength());
          // A CLOB's text is taken whole (Assign would read its stream from
          // where it stands).
          if (value.GetDataType() == dtLob && !value.GetNull())
            contained->SetAsString(value.GetAsString());
          else
            contained->Assign(value);
        }
        return copy;
      };
      auto rightValues = copyOf(right);
      auto leftValues = copyOf(left);
      int32_t rows = left.Compare(right, c.PartialLength, c.CaseInsensitive);
      EXPECT_EQ(rows, left.Compare(*rightValues, c.PartialLength, c.CaseInsensitive));
      EXPECT_EQ(rows, c.Expected);
      int32_t reversed = right.Compare(left, c.PartialLength, c.CaseInsensitive);
      EXPECT_EQ(reversed, right.Compare(*leftValues, c.PartialLength, c.CaseInsensitive));
    }
  }
}

// SetNullFlag(false) is a change of its own: a store that fails after it
// leaves the value non-NULL, whether or not the row was read in between.
TEST(RowValues, AFailingStoreKeepsAnEarlierSetNullFlag) {
  for (bool compare : {false, true}) {
    SCOPED_TRACE(compare ? "compared" : "not compared");
    OrderRow r, other;
    r.Value(r.Name).SetAsString("kiwi");
    other.Value(other.Name).SetAsString("kiwi");
    r.Value(r.Name).SetNull(true);
    r.Value(r.Name).SetNullFlag(false);
    if (compare) {
      // The IDs are both NULL, so the names are read (SetNull emptied r's).
      EXPECT_EQ(r.Row->Compare(*other.Row, 0, false), -1);
    }
    EXPECT_EQ(CaughtError([&] { r.Value(r.Name).SetStringData("far too long"); }).ErrorCode, 1011);
    EXPECT_FALSE(r.Value(r.Name).GetNull());
    EXPECT_EQ(r.Value(r.Name).GetAsString(), "");
  }
}

}  // namespace
}  // namespace brn
