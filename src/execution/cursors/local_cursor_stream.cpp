// The cursor stream: a cursor's rows with their column names in signed
// blocks, read back by another cursor of any table that has those columns.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "execution/cursors/local_cursor.h"
#include "foundation/core/digest.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "storage/cursors/cursor.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

namespace {

constexpr int32_t kStreamErrorCode = 1003;
// A writer closes a row block after the row that takes it past this size.
constexpr int32_t kRowBlockTarget = 65536;
// The largest signature or column block a reader takes.
constexpr int32_t kHeaderBlockLimit = 262144;
// Format version 2.14, scaled by 10000.
constexpr int64_t kStreamVersion = 21400;
constexpr int32_t kSignatureBlockSize = 24;

constexpr const char* kWriteFailed = "The stream data could not be written";
constexpr const char* kTruncated = "The stream data is truncated or invalid";

}  // namespace

void TBRNLocalCursor::RaiseStreamError(const std::string& Reason) {
  throw EBRNException(kStreamErrorCode,
                      FormatText("An error occurred in the cursor stream (%s)", {Reason}));
}

void TBRNLocalCursor::SaveToStream(TBRNMemoryStream& Stream) {
  SaveToStream(Stream, false);
}

void TBRNLocalCursor::LoadFromStream(TBRNMemoryStream& Stream) {
  LoadFromStream(Stream, 0);
}

void TBRNLocalCursor::SaveToStream(TBRNStream& Target, bool WithLength) {
  if (closed_ || closing_) throw std::logic_error("operation on a closed cursor");
  try {
    TBRNMemoryStream block;
    // Values are appended a few bytes at a time: grow a block in steps of
    // its target size rather than by each value.
    block.SetBlockSize(kRowBlockTarget);
    int64_t total = 0;
    auto writeBlock = [&] {
      const int32_t size = int32_t(block.GetSize());
      if (Target.WriteLongInt(size) != 4) RaiseStreamError(kWriteFailed);
      if (size > 0 && Target.Write(block.GetMemory(), size) != size) RaiseStreamError(kWriteFailed);
      block.Clear();
      total += int64_t(size) + 4;
    };
    const int64_t start = Target.GetPosition();
    if (WithLength && Target.WriteLongInt(0) != 4) RaiseStreamError(kWriteFailed);

    block.Write(tableManager_.GetEnvironment().GetSignatureDigest().Digest.data(), 16);
    block.WriteCurrency(kStreamVersion);
    writeBlock();

    TBRNColumns& columns = *tableManager_.GetColumns();
    block.WriteInteger(columns.Count() - 1);
    for (int32_t i = 1; i < columns.Count(); ++i) block.WriteString(columns.GetItem(i)->Name);
    writeBlock();

    std::unique_ptr<TBRNCursorRow> row = CreateRow();
    FirstRow();
    while (!GetEof()) {
      while (block.GetSize() <= kRowBlockTarget && !GetEof()) {
        ReadRow(*row);
        for (int32_t i = 1; i < columns.Count(); ++i)
          row->Values.GetItem(columns.GetItem(i)->Index)->SaveToStream(block);
        NextRow();
      }
      writeBlock();
    }

    if (WithLength) {
      const int64_t end = Target.GetPosition();
      Target.SetPosition(start);
      if (Target.WriteLongInt(int32_t(total)) != 4) RaiseStreamError(kWriteFailed);
      Target.SetPosition(end);
    }
  } catch (const EBRNException& error) {
    logFailure(kOpSaveCursorToStream, error);
    throw;
  }
  afterMove(kDirectionNone);
}

void TBRNLocalCursor::LoadFromStream(TBRNStream& Source, int64_t Length) {
  if (closed_ || closing_) throw std::logic_error("operation on a closed cursor");
  const int64_t available = std::max<int64_t>(Source.GetSize() - Source.GetPosition(), 0);
  if (Length <= 0) Length = available;
  int64_t consumed = 0;
  TBRNMemoryStream block;
  // The next block into block; false at the end of the data. Every length
  // is checked against the bytes that remain (as stated and as present)
  // before the block is sized for it.
  auto readBlock = [&](bool header) -> bool {
    if (consumed >= Length) {
      if (header) RaiseStreamError(kTruncated);
      return false;
    }
    int32_t size = 0;
    if (Length - consumed < 4 || Source.ReadLongInt(size) != 4) RaiseStreamError(kTruncated);
    consumed += 4;
    const int64_t remaining =
        std::min(Length - consumed, std::max<int64_t>(Source.GetSize() - Source.GetPosition(), 0));
    if (size < 0 || size > remaining || (header && size > kHeaderBlockLimit))
      RaiseStreamError(kTruncated);
    block.Clear();
    block.SetSize(size);
    block.SetPosition(0);
    if (size > 0 && Source.Read(block.GetMemory(), size) != size) RaiseStreamError(kTruncated);
    consumed += size;
    return true;
  };

  bool started = false;
  try {
    StartTableTransaction();
    started = true;

    readBlock(true);
    if (block.GetSize() < kSignatureBlockSize) RaiseStreamError(kTruncated);
    TBRNDigest digest;
    digest.LoadFromStream(block);
    if (!tableManager_.GetEnvironment().IsValidSignature(digest))
      RaiseStreamError("The stream signature is invalid");
    block.ReadCurrency();  // the version is not checked

    readBlock(true);
    const int32_t count = block.ReadInteger();
    if (count < 1) RaiseStreamError("The stream column count is invalid");
    // Each name takes at least its 4-byte length.
    if (count > (block.GetSize() - block.GetPosition()) / 4) RaiseStreamError(kTruncated);
    TBRNColumns& columns = *tableManager_.GetColumns();
    std::vector<int32_t> positions;
    positions.reserve(size_t(count));
    for (int32_t i = 0; i < count; ++i) {
      std::string name;
      block.ReadString(name);
      auto* column = static_cast<TBRNColumn*>(columns.FindByName(name, true));
      positions.push_back(column->Index);
    }

    std::unique_ptr<TBRNCursorRow> row = CreateRow();
    while (readBlock(false)) {
      while (block.GetPosition() < block.GetSize()) {
        row->Clear();
        for (int32_t position : positions) {
          // A row cut off by the end of its block: a value without its
          // NULL flag, or a non-NULL one whose data is missing (the short
          // reads of the stream leave the position behind the flag).
          const int64_t before = block.GetPosition();
          if (before >= block.GetSize()) RaiseStreamError(kTruncated);
          TBRNValue* value = row->Values.GetItem(position);
          value->LoadFromStream(block);
          if (!value->GetNull() && block.GetPosition() <= before + 1) RaiseStreamError(kTruncated);
        }
        InsertRow(*row);
      }
    }
    RestorePosition();
    started = false;
    CommitTableTransaction();
  } catch (const EBRNException& error) {
    if (started) {
      try {
        RollbackTableTransaction();
      } catch (...) {
        // The load's own error is the one reported.
      }
    }
    logFailure(kOpLoadCursorFromStream, error);
    throw;
  } catch (...) {
    if (started) {
      try {
        RollbackTableTransaction();
      } catch (...) {
        // The load's own error is the one reported.
      }
    }
    throw;
  }
  afterMove(kDirectionNone);
}

}  // namespace brn
