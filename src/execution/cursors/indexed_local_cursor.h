#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "execution/cursors/local_cursor.h"
#include "storage/indexes/index_keys.h"

namespace brn {

// The local cursor in the key order of an active index: every move goes
// through that index's navigator and then places the row navigator on the
// key's row, so reading rows works as in row order. Bookmarks are index
// keys; a key range (SetRange) and a range of sequence numbers
// (SetSequenceRange) narrow the visible rows.
//
// Moving while no index is active, or with an index the table no longer
// has, is a misuse (std::logic_error).
//
// Threads: as the local cursor.
class TBRNIndexedLocalCursor : public TBRNLocalCursor {
 public:
  TBRNIndexedLocalCursor(TBRNVirtualTableManager& TableManager, bool Flag, bool ReadOnly,
                         const std::string& Name);
  ~TBRNIndexedLocalCursor() override;

  int32_t GetActiveIndex() const override { return activeIndex_; }
  // 200: another index (-1 for none) becomes the order; the key range of
  // the top level is cancelled. The same index changes nothing. An index
  // outside the cursor's indexes is a misuse (std::out_of_range).
  void SetActiveIndex(int32_t Index) override;
  bool GetRanged() override;
  // The bounds of the top level's combined range in the active index's
  // columns; nullptr without a range. Each call makes the answer anew: it
  // is valid until the next call of either.
  TBRNContainedCursorKeyValues* GetRangeStartValues() override;
  TBRNContainedCursorKeyValues* GetRangeEndValues() override;
  bool GetBof() override;
  bool GetEof() override;
  int32_t GetRowNumber() override;
  bool FirstRow() override;   // 210
  bool LastRow() override;    // 211
  void StepNext() override;   // 212
  void StepPrior() override;  // 213
  // 215: the row in row order; the index navigator then stands on its key.
  bool SetToRowNumber(int32_t RowNumber) override;
  bool SetToSequenceNumber(int32_t Sequence) override;  // 214
  bool SetToRowValues(TBRNCursorRow& Row) override;     // 216
  // 217: true when the bookmark's exact key is present; the cursor then
  // stands on its row, else on the nearest key.
  bool SetToBookmark(TBRNContainedBookmarkValues& Bookmark) override;
  // 220: the visible keys from the first not below StartValues to the last
  // not after EndValues.
  bool SetRange(TBRNContainedCursorKeyValues& StartValues,
                TBRNContainedCursorKeyValues& EndValues) override;
  bool CancelRange() override;  // 221
  // 226: the Start-th to the End-th visible row in key order (1-based).
  bool SetSequenceRange(int32_t Start, int32_t End) override;
  bool CancelSequenceRange() override;  // 227

  // ---- Row editing
  // 219 on the active index: with Partial the first key not below
  // KeyValues (the last value a prefix of its own length), else only a key
  // equal to them. True when the cursor then stands on a row whose key
  // matches; without Partial a missing key leaves the cursor on no row.
  bool FindRowByKey(TBRNContainedCursorKeyValues& KeyValues, bool Partial,
                    bool CaseInsensitive) override;

  void RestorePosition() override;
  int32_t GetOrderReadAhead(int32_t Row, TBRNDirection Direction, int32_t Default) override;
  void FillSequenceRange(TBRNSeqRangeFilter& Filter, int32_t IndexNo) override;

  // The active index's navigator (std::logic_error without one).
  TBRNCursorIndexNavigator& GetActiveNavigator() const;

 protected:
  // The active index follows its index; a dropped one leaves none.
  void indexesReloaded(const std::vector<int32_t>& Moved) override;

 private:
  // The key of Values on index Index, with its row ID, in the cursor's own
  // buffer of that index.
  TBRNContainedIndexKeyValues& fillIndexKey(const TBRNRowValues& Values, int32_t Index);
  // One index move, then the row navigator follows it; a restart of the
  // positioning repeats only the positioning.
  void moveAndPosition(TBRNDirection Direction, const std::function<void(bool&)>& Move);
  // A key that GotoKey found may lie outside the range or belong to a row
  // the cursor does not show: the navigator then moves on to the nearest
  // visible key. Answers whether the key found was visible.
  bool settleOnVisibleKey(TBRNCursorIndexNavigator& Navigator, bool& Restart);
  // Target's values converted from Source's leading values (the rest
  // NULL), row ID 0.
  void copyKey(TBRNKeyValues& Target, const TBRNKeyValues& Source);

  TBRNContainedCursorKeyValues* rangeBound(bool Start);

  // A filter set much smaller than the table leaves long runs of keys
  // whose rows the cursor does not show. A step then goes straight to the
  // next (Forward) or previous visible key in the order of the visible
  // rows' keys instead of weighing every key in between; answers false
  // where it does not apply (the caller steps as usual): no current key,
  // no visible key beyond it, a search window, or keys that do not order
  // strictly. Restart as the navigator's moves.
  bool jumpToVisibleKey(bool Forward, bool& Restart);
  // The visible rows' keys on the active index in key order, made again
  // whenever the filter set, the table or the active index changed;
  // nullptr when they do not order strictly (equal keys of a unique index).
  struct TVisibleKey {
    std::unique_ptr<TBRNContainedIndexKeyValues> Key;  // with its row ID
    int32_t Row = 0;
  };
  const std::vector<TVisibleKey>* visibleOrder();

  int32_t activeIndex_ = -1;
  std::unique_ptr<TBRNContainedCursorKeyValues> rangeStart_;
  std::unique_ptr<TBRNContainedCursorKeyValues> rangeEnd_;
  std::vector<std::unique_ptr<TBRNContainedIndexKeyValues>> indexKeys_;
  std::vector<TVisibleKey> visibleOrder_;
  bool visibleOrderBuilt_ = false;
  bool visibleOrderStrict_ = false;
  uint64_t visibleOrderGeneration_ = 0;
  int64_t visibleOrderChangeCount_ = 0;
  const TBRNIndex* visibleOrderIndex_ = nullptr;
  // The key a jump left, to go back to when the key it found was not the
  // one expected.
  std::unique_ptr<TBRNContainedIndexKeyValues> jumpFrom_;
};

}  // namespace brn
