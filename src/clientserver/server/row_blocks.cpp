#include "clientserver/server/row_blocks.h"

#include <algorithm>
#include <memory>

#include "clientserver/server/request_state.h"
#include "execution/cursors/local_cursor.h"
#include "foundation/core/memory_stream.h"
#include "storage/cursors/cursor.h"

namespace brn {

int32_t ClampRowsPerBlock(int32_t rowsPerBlock) {
  return std::clamp(rowsPerBlock, kBRNMinRowsPerBlock, kBRNMaxRowsPerBlock);
}

void WriteCursorState(TBRNMemoryStream& out, TBRNCursor& cursor) {
  out.WriteInteger(cursor.GetActiveIndex());
  out.WriteBoolean(cursor.GetFiltered());
  out.WriteDouble(cursor.GetFilterTime());
  out.WriteBoolean(cursor.GetRanged());
  out.WriteInteger(cursor.GetRowCount());
  out.WriteInteger(cursor.GetTotalRowCount());
}

void RememberShownRow(TBRNServerCursorState& state, TBRNCursorRow& row) {
  if (row.RowNumber == 0) return;
  state.ShownRows.insert(row.RowNumber);
  // Every value answers a block (0 for all but BLOB and CLOB values): a
  // reference of 0 reads an empty BLOB, so allowing it costs nothing.
  for (int32_t i = 0; i < row.Values.GetCount(); ++i) {
    if (TBRNRowValue* value = row.Values.GetRowValue(i)) {
      state.BlobRefs.emplace(row.RowVersion, value->GetBlobBlock());
    }
  }
}

void WriteRowBlock(TBRNMemoryStream& out, TBRNCursor& cursor, TBRNServerCursorState& state,
                   const TBRNRowBlockRequest& block) {
  const int32_t rowsPerBlock = ClampRowsPerBlock(block.RowsPerBlock);
  const bool bof = cursor.GetBof();
  const bool eof = cursor.GetEof();
  // Filled aside: a block that fails half-way is not sent, and the client
  // keeps (and may edit) the rows of its previous block.
  TBRNServerCursorState shown;

  TBRNMemoryStream entries;
  int32_t entryLength = 0;
  int32_t count = 0;
  if (cursor.GetRowNumber() != 0) {
    int32_t wanted = rowsPerBlock;
    if (block.Backward) {
      wanted = 1;
      while (!cursor.GetBof() && wanted < rowsPerBlock) {
        cursor.PriorRow();
        if (!cursor.GetBof()) ++wanted;
      }
    }
    std::unique_ptr<TBRNCursorRow> own;
    while (count < wanted) {
      TBRNCursorRow* row = nullptr;
      if (count == 0 && block.ForUpdateRow != nullptr) {
        row = block.ForUpdateRow;
        entries.WriteInteger(cursor.GetRowNumber());
        cursor.GetCurrentRow(*row, true);
      } else {
        if (!own) own = cursor.CreateRow();
        row = own.get();
        entries.WriteInteger(cursor.GetRowNumber());
        cursor.GetCurrentRow(*row, false);
      }
      const int64_t start = entries.GetPosition();
      row->SaveToStream(entries);
      entryLength = 4 + int32_t(entries.GetPosition() - start);
      RememberShownRow(shown, *row);
      ++count;
      cursor.NextRow();
      if (cursor.GetEof()) break;
    }
  }
  // The client's position is the current entry now, not the row the
  // read-ahead left the cursor on: the next request's bookmark finds it.
  if (auto* local = dynamic_cast<TBRNLocalCursor*>(&cursor)) local->SetPositionSynced(false);
  state.ShownRows = std::move(shown.ShownRows);
  state.BlobRefs = std::move(shown.BlobRefs);

  const int32_t size = int32_t(entries.GetSize());
  out.WriteBoolean(bof);
  out.WriteBoolean(eof);
  out.WriteInteger(size);
  if (size > 0) out.Write(entries.GetMemory(), size);
  out.WriteInteger(block.Backward && count > 0 ? size - entryLength : 0);
}

}  // namespace brn
