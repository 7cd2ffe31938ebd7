#pragma once

// What the storage targets share: the tests' stand-in table host with fixed,
// permissive answers, a column list compiled without catalog,
// the SQL evaluator behind the computed-column seam, and the way a table file
// is given fuzzer bytes as its blocks.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/core/digest.h"
#include "foundation/files/file_manager.h"
#include "foundation/text/exception.h"
#include "fuzz_support.h"
#include "metadata/catalog/columns.h"
#include "sql/builder/sql_builder.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"
#include "sql/validator/expr_validator.h"
#include "storage/files/table_file.h"
#include "storage/files/fake_table_host.h"
#include "storage/files/table_file_host.h"
#include "storage/rows/execution_seam.h"
#include "storage/rows/row_evaluator_support.h"
#include "storage/rows/row_values.h"

namespace brn::fuzz {

using testing::ColumnList;
using testing::RowEvaluator;

// One table in /mem/db/ held exclusively: no change checks between calls
// (no file is registered with the host), no locks.
class FuzzHost : public testing::FakeHost {
 public:
  explicit FuzzHost(std::string extension) : FakeHost("/mem/db/", "Fuzz", std::move(extension)) {
    SkipStructure = true;
    CreatedByEngine = true;
    ExclusiveLock = true;
    Password = testing::DigestOf("fuzz");
  }
};

// Header record offsets every table file shares.
inline constexpr int32_t kFreeListHeadOffset = 45;
inline constexpr int32_t kNextBlockOffset = 49;

// Lets the input change a few header bytes of the closed file of manager
// from the free-list head on (counts, roots, timestamps of the descendants),
// then replaces its blocks by the rest of the input (whole blocks only, at
// most maxBlocks) and sets the header's block count to match. The file stays
// a valid header followed by hostile blocks, so the target gets past the
// header checks.
inline void PlantBlocks(TBRNTableFileManager& manager, Input& in, int32_t maxBlocks) {
  int32_t blockSize = manager.GetBlockSize();
  auto stream = manager.GetFileManager()->OpenFile(manager.GetFileName(), false, false, false);
  int32_t recordSize = manager.GetHeaderRecordSize();
  std::vector<uint8_t> header(static_cast<size_t>(recordSize));
  stream->Seek(0, 0);
  stream->Read(header.data(), recordSize);
  for (int32_t patches = in.Byte() % 6; patches > 0; --patches) {
    int32_t at = kFreeListHeadOffset + in.Byte() % (recordSize - kFreeListHeadOffset);
    uint8_t value = in.Byte();
    // The block count follows the blocks; the write-in-progress flag only
    // makes the open refuse the file.
    if (at < kNextBlockOffset || at > kNextBlockOffset + 4) header[size_t(at)] = value;
  }
  std::string_view blocks = in.Rest();
  int32_t count = std::min<int32_t>(int32_t(blocks.size() / size_t(blockSize)), maxBlocks);
  uint32_t next = uint32_t(count + 1);
  for (int i = 0; i < 4; ++i) header[size_t(kNextBlockOffset + i)] = uint8_t(next >> (8 * i));
  stream->Seek(0, 0);
  stream->Write(header.data(), recordSize);
  stream->SetSize(int64_t(manager.GetHeaderAreaSize()) + int64_t(count) * blockSize);
  stream->Seek(0, manager.GetHeaderAreaSize());
  if (count > 0) stream->Write(blocks.data(), count * blockSize);
}

// The fixed columns of the row targets: every kind of stored datum and one
// computed column.
inline void AddRowColumns(ColumnList& list) {
  list.Add("ID", dtInteger);
  list.Add("Name", dtChar, 12);
  list.Add("Code", dtChar, 4, stFixed);
  list.Add("Raw", dtBytes, 6);
  list.Add("Doc", dtLob);
  list.Add("Amount", dtDecimal, 0, stDefault, 2);
  list.Add("Stamp", dtTimestamp);
  list.AddComputed("Twice", dtInteger, "ID * 2");
  list.Finish();
}

// Reads every value of a row the ways a session does; engine errors are an
// allowed answer for hostile bytes.
inline void ReadEveryValue(TBRNValues& values) {
  for (int32_t i = 0; i < values.GetCount(); ++i) {
    TBRNValue* value = values.GetItem(i);
    Try([&] { (void)value->GetNull(); });
    Try([&] { (void)value->GetAsString(); });
    Try([&] { (void)value->GetDataSize(); });
    Try([&] { (void)value->GetLength(); });
    Try([&] {
      TBRNMemoryStream saved;
      value->SaveToStream(saved);
    });
  }
}

}  // namespace brn::fuzz
