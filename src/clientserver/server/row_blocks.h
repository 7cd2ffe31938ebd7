#pragma once

#include <cstdint>

namespace brn {

class TBRNCursor;
class TBRNCursorRow;
class TBRNMemoryStream;
struct TBRNServerCursorState;

// Rows per block a client may ask for; a request outside is clamped, so that
// no request makes the server read more rows for one reply than this.
inline constexpr int32_t kBRNMinRowsPerBlock = 1;
inline constexpr int32_t kBRNMaxRowsPerBlock = 65536;

int32_t ClampRowsPerBlock(int32_t rowsPerBlock);

// The cursor state of every reply that moves or changes a cursor: active
// index, filtered, filter time, ranged, row count, total row count.
void WriteCursorState(TBRNMemoryStream& out, TBRNCursor& cursor);

// The rows of the block before they are written. ForUpdateRow, when given,
// is the row the first entry is read into with GetCurrentRow for update (it
// carries the number, version and update counter the client holds); every
// other entry is read without.
struct TBRNRowBlockRequest {
  int32_t RowsPerBlock = 1;
  // Last Row and Prior Row: the block ends with the current row.
  bool Backward = false;
  TBRNCursorRow* ForUpdateRow = nullptr;
};

// Writes the row block after an operation: BOF and EOF as the operation
// left them, the block size S, S bytes of entries (int32 row number, then
// the row's stream form), then the offset of the current row's entry. The
// cursor is moved by the read-ahead and left out of step with the client's
// position. state is refilled with the rows of this block and their BLOB
// references. A cursor without a current row gives an empty block.
void WriteRowBlock(TBRNMemoryStream& out, TBRNCursor& cursor, TBRNServerCursorState& state,
                   const TBRNRowBlockRequest& block);

// Adds row (a row of the cursor the client now holds) to what the client
// was shown: its number and the BLOB references of its values.
void RememberShownRow(TBRNServerCursorState& state, TBRNCursorRow& row);

}  // namespace brn
