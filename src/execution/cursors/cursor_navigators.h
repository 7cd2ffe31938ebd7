#pragma once

#include <cstdint>

#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"

namespace brn {

class TBRNLocalCursor;
class TBRNRangeFilter;

// Walks a local cursor's table in physical row order, visiting only the
// rows the cursor shows: live rows (a deleted row's block is never current
// after a move) that are in the cursor's filter set while the cursor is
// filtered. Filtered moves jump through the filter set instead of reading
// the rows in between, and read ahead only along runs of visible rows.
//
// Restart requests of the row cache reach the caller at once, the
// navigator's position unchanged. Used by the cursor's thread.
class TBRNCursorRowsetNavigator : public TBRNRowsetNavigator {
 public:
  // The cursor outlives the navigator.
  TBRNCursorRowsetNavigator(TBRNLocalCursor& Cursor, TBRNRowsetManager* RowsetManager);

  TBRNLocalCursor& GetCursor() const { return cursor_; }

  // The cursor's row count.
  int32_t GetRowCount() override;
  // A live row that the cursor's filter set holds.
  bool AcceptRow(int32_t Row, TBRNDirection Direction, bool& Stop) override;
  // Unfiltered: the cursor's order read-ahead; filtered: the run of visible
  // rows next to Row in Direction, at most Default (1 without direction).
  int32_t GetReadAheadCount(int32_t Row, TBRNDirection Direction, int32_t Default) override;
  // Filtered: only rows of the filter set are compared; 0 with the matching
  // row current, else 1 with the last row read current and EOF set.
  int32_t FindKey(const TBRNValues& Values, int32_t PartialLength, bool& Restart,
                  bool CaseInsensitive) override;
  bool First(bool& Restart) override;
  bool Next(bool& Restart) override;
  bool Prior(bool& Restart) override;
  bool Last(bool& Restart) override;

 private:
  bool filtered() const;
  // Reads row n in direction and makes it current, leaving the flags to
  // the caller; false on a restart.
  bool readRow(int32_t n, TBRNDirection direction, bool& restart);
  // From row n exclusive, the nearest live row of the filter set in
  // direction, read and current; false when there is none or on a restart.
  bool seekVisible(int32_t n, TBRNDirection direction, bool& restart);

  TBRNLocalCursor& cursor_;
};

// Walks one index of a local cursor's table in key order, visiting only
// keys inside the cursor's range (when this is the cursor's active index)
// whose rows the cursor shows. Used by the cursor's thread.
class TBRNCursorIndexNavigator : public TBRNIndexNavigator {
 public:
  // The cursor outlives the navigator.
  TBRNCursorIndexNavigator(TBRNLocalCursor& Cursor, int32_t IndexNumber,
                           TBRNIndexManager* IndexManager);

  TBRNLocalCursor& GetCursor() const { return cursor_; }

  int32_t GetRowCount() override;
  // The index navigator's own answer (range and search window), then the
  // cursor's filter set.
  bool AcceptRow(int32_t Row, TBRNDirection Direction, bool& Stop) override;
  bool GetRanged() override;
  const TBRNKeyValues* GetRangeStartValues() override;
  const TBRNKeyValues* GetRangeEndValues() override;
  // 0 without a range or when this is not the cursor's active index;
  // otherwise -1 before the range start, 1 after its end, else 0.
  int32_t CompareWithRange(const TBRNKeyValues& Key) override;
  bool GetSearchKeyActive() override;
  int32_t CompareWithSearchKey(const TBRNKeyValues& Key) override;
  // The cursor's filter set while it is filtered.
  const TBRNSparseBitmap* GetAcceptedRows() override;
  void NotePassedKeys(int32_t Count) override { KeysVisited += Count; }

  // Keys weighed by AcceptRow or passed over as outside the filter set
  // since the navigator was made: how far the cursor's moves walked the
  // index (statistics).
  int64_t KeysVisited = 0;
  // Times CompareWithRange prepared the range bounds as search keys:
  // once per range, however many keys a walk weighs against it.
  int64_t RangeKeysPrepared = 0;

 private:
  // The range bounds prepared for comparison with stored keys, valid while
  // the combined range keeps the stamp and the navigator the layout they
  // were prepared with (a changed range, active index or index list changes
  // one of them, or makes the navigator anew).
  void prepareRangeKeys(TBRNRangeFilter& Range);

  TBRNLocalCursor& cursor_;
  uint64_t preparedStamp_ = 0;
  const TBRNIndexKeyLayout* preparedLayout_ = nullptr;
  bool hasRangeStart_ = false;
  bool hasRangeEnd_ = false;
  TBRNIndexSearchKey rangeStartKey_;
  TBRNIndexSearchKey rangeEndKey_;
};

}  // namespace brn
