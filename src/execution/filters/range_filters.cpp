#include "execution/filters/range_filters.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>

#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// a against b in the order of layout's index (descending columns reversed),
// over the columns both have.
int32_t compareInIndexOrder(const TBRNKeyValues& a, const TBRNKeyValues& b,
                            const TBRNIndexKeyLayout& layout) {
  const int32_t count = std::min({a.GetCount(), b.GetCount(), layout.GetColumnCount()});
  for (int32_t i = 0; i < count; ++i) {
    const TBRNIndexKeyColumn& column = layout.GetColumn(i);
    int32_t c = a.GetItem(i)->Compare(*b.GetItem(i), 0, false, column.Collation);
    if (column.Descending) c = -c;
    if (c != 0) return c;
  }
  return 0;
}

// Stamps are drawn from one counter for every filter of the process
// (cursors of several sessions draw from several threads), so that a filter
// made where a freed one lived never repeats a stamp a reader cached.
std::atomic<uint64_t> nextBoundsStamp{0};

// The layout of the table's index IndexNo. Taken from the table rather than
// from a key navigator: a range that only holds bounds needs no navigator
// (and no page buffer) of its own. An index the table does not have raises
// std::logic_error.
const TBRNIndexKeyLayout& indexLayoutOf(TBRNTableManager& table, int32_t IndexNo) {
  const TBRNIndexKeyLayout* layout =
      IndexNo >= 0 && IndexNo < table.GetIndexCount() ? table.GetIndexLayout(IndexNo) : nullptr;
  if (layout == nullptr)
    throw std::logic_error("range filter: the table has no index " + std::to_string(IndexNo));
  return *layout;
}

}  // namespace

TBRNRangeFilter::TBRNRangeFilter(TBRNFilterCursor& Cursor) : TBRNLocalFilter(Cursor) {
  Kind = 0;
  Level = 2;
  BoundsChanged();
}

void TBRNRangeFilter::BoundsChanged() {
  boundsStamp_ = nextBoundsStamp.fetch_add(1, std::memory_order_relaxed) + 1;
}

TBRNRangeFilter::~TBRNRangeFilter() {
  Unprepare();
}

void TBRNRangeFilter::SetActive(bool Value) {
  TBRNLocalFilter::SetActive(Value);
  if (!Value) Merged = false;
  BoundsChanged();
}

void TBRNRangeFilter::Prepare(int32_t IndexNo) {
  if (KeysAllocated) return;
  const TBRNIndexKeyLayout& layout = indexLayoutOf(Cursor.GetFilterTable(), IndexNo);
  this->IndexNo = IndexNo;
  RangeStart = std::make_unique<TBRNContainedIndexKeyValues>(layout);
  RangeEnd = std::make_unique<TBRNContainedIndexKeyValues>(layout);
  KeysAllocated = true;
  BoundsChanged();
}

void TBRNRangeFilter::Unprepare() {
  KeysAllocated = false;
  RangeStart.reset();
  RangeEnd.reset();
  BoundsChanged();
}

void TBRNRangeFilter::MergeRange(TBRNLocalFilter* Filter) {
  auto* other = dynamic_cast<TBRNRangeFilter*>(Filter);
  if (other == nullptr || !other->Active || !other->KeysAllocated) return;
  Prepare(other->IndexNo);
  const TBRNIndexKeyLayout& layout = indexLayoutOf(Cursor.GetFilterTable(), IndexNo);
  auto copyKey = [](TBRNKeyValues& target, const TBRNKeyValues& source) {
    for (int32_t i = 0; i < target.GetCount() && i < source.GetCount(); ++i)
      CopyKeyColumnValue(*target.GetItem(i), *source.GetItem(i));
  };
  if (!Merged) {
    copyKey(*RangeStart, *other->RangeStart);
    copyKey(*RangeEnd, *other->RangeEnd);
    Rows->Assign(*other->Rows);
    Merged = true;
    BoundsChanged();
    return;
  }
  if (compareInIndexOrder(*other->RangeStart, *RangeStart, layout) < 0)
    copyKey(*RangeStart, *other->RangeStart);
  if (compareInIndexOrder(*other->RangeEnd, *RangeEnd, layout) > 0)
    copyKey(*RangeEnd, *other->RangeEnd);
  Rows->AndBitmap(*other->Rows);
  BoundsChanged();
}

void TBRNRangeFilter::Build(int32_t, int32_t IndexNo) {
  Prepare(IndexNo);
  TBRNFilterIndexNavigator& navigator = GetKeyNavigator(this->IndexNo);
  const TBRNIndexKeyLayout& layout = navigator.GetLayout();
  for (int32_t attempt = 0;; ++attempt) {
    Rows->ClearAll();
    bool restart = false;
    navigator.FindKey(*RangeStart, 0, restart, false);
    if (!restart) {
      while (navigator.GetRowNumber() > 0 && !navigator.GetEof()) {
        if (compareInIndexOrder(navigator.GetCurrentKey(), *RangeStart, layout) < 0) {
          // FindKey stands on the last key when every key is below the start.
          break;
        }
        if (compareInIndexOrder(navigator.GetCurrentKey(), *RangeEnd, layout) > 0) break;
        navigator.AddCurrentRow(*Rows);
        if (!navigator.Next(restart)) break;
      }
    }
    if (!restart) return;
    if (attempt > 1000) throw std::runtime_error("range build: the index keeps changing");
  }
}

bool TBRNRangeFilter::RowPasses(const TBRNRowValues& RowValues) {
  return Cursor.RowInRange(*this, RowValues, IndexNo);
}

void TBRNRangeFilter::AddRow(int32_t RowNo, const TBRNRowValues& RowValues) {
  TBRNLocalFilter::AddRow(RowNo, RowValues);
  if (!RowPasses(RowValues)) Rows->ClearBit(RowNo, true);
}

TBRNExprRangeFilter::TBRNExprRangeFilter(TBRNFilterCursor& Cursor) : TBRNRangeFilter(Cursor) {
  Kind = 2;
  Level = 0;
}

void TBRNExprRangeFilter::Build(int32_t, int32_t IndexNo) {
  Prepare(IndexNo);
  ComputeKeyBounds(Cursor.GetFilterTable(), *Rows, this->IndexNo, *RangeStart, *RangeEnd);
  BoundsChanged();
}

TBRNSeqRangeFilter::TBRNSeqRangeFilter(TBRNFilterCursor& Cursor) : TBRNRangeFilter(Cursor) {
  Kind = 3;
  Level = 2;
}

void TBRNSeqRangeFilter::Build(int32_t, int32_t IndexNo) {
  Prepare(IndexNo);
  Cursor.FillSequenceRange(*this, this->IndexNo);
  BoundsChanged();
}

}  // namespace brn
