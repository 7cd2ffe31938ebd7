#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/columns.h"
#include "sql/builder/sql_builder.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"
#include "sql/validator/expr_validator.h"
#include "storage/rows/execution_seam.h"
#include "storage/rows/row_evaluator_support.h"
#include "storage/rows/row_values.h"

namespace brn::testing {

// Row values over an in-memory BLOB store and the row evaluator; counts
// every call of the hooks.
class TestRowValues : public TBRNRowValues {
 public:
  TestRowValues(TBRNColumns* Columns, RowEvaluator* Evaluator, bool EvaluateComputed = true)
      : TBRNRowValues(Columns, EvaluateComputed), Evaluator(Evaluator) {}

  RowEvaluator* Evaluator;
  TBRNEvaluationContext Context;
  std::map<int32_t, TBRNBytes>* Blobs = &OwnBlobs;
  std::map<int32_t, TBRNBytes> OwnBlobs;
  int32_t NextBlock = 100;
  int32_t Reads = 0;
  int32_t Writes = 0;
  int32_t Computations = 0;
  int32_t LastRowVersion = 0;
  bool LastCompressed = false;

  void ReadBlob(int32_t BlockRef, TBRNMemoryStream& Stream, bool Compressed) override {
    ++Reads;
    LastCompressed = Compressed;
    const TBRNBytes& data = Blobs->at(BlockRef);
    Stream.SetSize(0);
    Stream.Write(data.data(), int32_t(data.size()));
  }
  void WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                 int32_t /*Compression*/, int32_t& StoredLength) override {
    ++Writes;
    LastRowVersion = RowVersion;
    if (BlockRef == 0) BlockRef = NextBlock++;
    const uint8_t* memory = Stream.GetMemory();
    (*Blobs)[BlockRef] = TBRNBytes(memory, memory + Stream.GetSize());
    StoredLength = int32_t(Stream.GetSize());
  }
  void ComputeColumn(TBRNExprToken* ExpressionRoot) override {
    ++Computations;
    EvaluateWithRow(*Evaluator, Context, ExpressionRoot, *this);
  }
};

}  // namespace brn::testing
