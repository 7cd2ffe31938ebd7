// A row image with its modified flags, as a session sends it over the wire
// and a published-updates log stores it, loaded into the values of a fixed
// table (every kind of stored datum and a computed column), then every value
// read and the image saved again.
//
// Input: a mode byte (bit 0 flags, bit 1 computed columns evaluate, bit 2
// truncation errors), then the image. With BRN_FUZZ_SEEDS=<folder> in the
// environment the target first writes its seeds into that folder.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "storage_fuzz_support.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// Row values whose BLOB reads answer 16 zero bytes, as a BLOB file answers
// the data its chain holds whatever length the image claims (the chain
// itself is the table-files target's concern).
class FuzzRowValues : public TBRNRowValues {
 public:
  FuzzRowValues(TBRNColumns* columns, RowEvaluator* evaluator, bool evaluateComputed)
      : TBRNRowValues(columns, evaluateComputed), Evaluator(evaluator) {}
  RowEvaluator* Evaluator;
  TBRNEvaluationContext Context;

  void ReadBlob(int32_t, TBRNMemoryStream& Stream, bool) override { Stream.SetSize(16); }
  void WriteBlob(int32_t, int32_t& BlockRef, TBRNMemoryStream& Stream, int32_t,
                 int32_t& StoredLength) override {
    if (BlockRef == 0) BlockRef = 1;
    StoredLength = int32_t(Stream.GetSize());
  }
  void ComputeColumn(TBRNExprToken* ExpressionRoot) override {
    EvaluateWithRow(*Evaluator, Context, ExpressionRoot, *this);
  }
};

struct Table {
  ColumnList List;
  RowEvaluator Evaluator;
  Table() { AddRowColumns(List); }
};

// One seed per mode: a full row (and one with NULLs), with and without flags.
void WriteSeeds(const std::string& folder) {
  Table table;
  for (int full = 0; full < 2; ++full) {
    FuzzRowValues row(&table.List.Columns, &table.Evaluator, true);
    TBRNMemoryStream buffer;
    buffer.SetSize(table.List.Columns.RowSize);
    row.SetBuffer(&buffer);
    row.GetItem(0)->SetAsInteger(21);
    if (full != 0) {
      row.GetItem(1)->SetAsString("Ada");
      row.GetItem(2)->SetAsString("XY");
      row.GetItem(3)->SetAsBytes(TBRNBytes{1, 2, 3});
      row.GetItem(4)->SetAsBytes(TBRNBytes{9, 8, 7, 6, 5});
      row.GetItem(5)->SetAsString("12.35");
      row.GetItem(6)->SetAsString("2024-02-29 13:14:15");
      row.SaveBlobs(3);
    }
    for (uint8_t mode : {uint8_t(3), uint8_t(4)}) {
      TBRNMemoryStream image;
      row.SaveRowImage(image, (mode & 1) != 0);
      std::string seed(1, char(mode));
      seed += StreamText(image);
      std::ofstream(folder + "/" + (full != 0 ? "full" : "nulls") + (mode & 1 ? "_flags" : ""),
                    std::ios::binary)
          << seed;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* folder = std::getenv("BRN_FUZZ_SEEDS")) WriteSeeds(folder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Table table;
  Input in(data, size);
  uint8_t mode = in.Byte();
  bool withFlags = (mode & 1) != 0;
  bool evaluate = (mode & 2) != 0;
  std::string_view image = in.Rest();

  FuzzRowValues row(&table.List.Columns, &table.Evaluator, evaluate);
  row.TruncationErrors = (mode & 4) != 0;
  TBRNMemoryStream buffer;
  buffer.SetSize(table.List.Columns.RowSize);
  row.SetBuffer(&buffer);
  TBRNMemoryStream source;
  FillStream(source, image);
  if (!Try([&] { row.LoadRowImage(source, withFlags); })) return 0;

  ReadEveryValue(row);
  for (int32_t i = 0; i < row.GetCount(); ++i) {
    TBRNRowValue* value = row.GetRowValue(i);
    Try([&] { (void)value->GetAsBytes(); });
    Try([&] {
      if (TBRNMemoryStream* stream = value->GetBlobStream()) (void)stream->GetSize();
    });
  }
  Try([&] { row.LoadBlobs(); });
  Try([&] { (void)row.Compare(row, 0, false); });

  // Reading changes no byte: the image saved again is the one loaded.
  TBRNMemoryStream saved;
  row.SaveRowImage(saved, false);
  size_t imageSize = size_t(table.List.Columns.RowSize - 17);
  if (size_t(saved.GetSize()) != imageSize ||
      std::memcmp(saved.GetMemory(), image.data(), imageSize) != 0) {
    Fail("reading the values changed the row image");
  }
  // A second row takes the values over and reads them the same way.
  FuzzRowValues copy(&table.List.Columns, &table.Evaluator, evaluate);
  TBRNMemoryStream copyBuffer;
  copyBuffer.SetSize(table.List.Columns.RowSize);
  copy.SetBuffer(&copyBuffer);
  Try([&] { copy.Assign(row); });
  ReadEveryValue(copy);
  return 0;
}
