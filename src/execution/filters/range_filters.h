#pragma once

#include <cstdint>
#include <memory>

#include "execution/filters/local_filter.h"

namespace brn {

// The rows whose key of index IndexNo lies between RangeStart and RangeEnd
// (both inclusive; fewer values than key columns compare the leading
// columns). Kind 0, Level 2. The key buffers exist from the first Prepare
// until Unprepare.
class TBRNRangeFilter : public TBRNLocalFilter {
 public:
  explicit TBRNRangeFilter(TBRNFilterCursor& Cursor);
  ~TBRNRangeFilter() override;

  void SetActive(bool Value) override;
  void Prepare(int32_t IndexNo) override;
  void Unprepare() override;
  void MergeRange(TBRNLocalFilter* Filter) override;
  void Build(int32_t Mode, int32_t IndexNo) override;
  bool RowPasses(const TBRNRowValues& RowValues) override;
  void AddRow(int32_t RowNo, const TBRNRowValues& RowValues) override;

  // A stamp of the bounds as they stand: it changes whenever the filter
  // activates, deactivates, allocates, frees or rewrites its bounds, and no
  // two filters of the process ever hand out the same stamp. Whoever
  // writes into RangeStart or RangeEnd directly calls BoundsChanged
  // afterwards, so that what a reader derived from the bounds (an index
  // navigator's prepared search keys) is derived again.
  uint64_t GetBoundsStamp() const { return boundsStamp_; }
  void BoundsChanged();

  bool KeysAllocated = false;
  int32_t IndexNo = -1;
  bool Merged = false;
  std::unique_ptr<TBRNContainedIndexKeyValues> RangeStart;
  std::unique_ptr<TBRNContainedIndexKeyValues> RangeEnd;

 private:
  uint64_t boundsStamp_ = 0;
};

// A range derived from a set the cursor gives it: Build keeps Rows and sets
// the bounds to the lowest and highest key of its rows. Kind 2, Level 0.
class TBRNExprRangeFilter : public TBRNRangeFilter {
 public:
  explicit TBRNExprRangeFilter(TBRNFilterCursor& Cursor);
  void Build(int32_t Mode, int32_t IndexNo) override;
};

// The rows between two sequence numbers in index order; the cursor fills
// the set and the bounds. Kind 3, Level 2.
class TBRNSeqRangeFilter : public TBRNRangeFilter {
 public:
  explicit TBRNSeqRangeFilter(TBRNFilterCursor& Cursor);
  void Build(int32_t Mode, int32_t IndexNo) override;

  int32_t SeqStart = 0;
  int32_t SeqEnd = 0;
};

}  // namespace brn
