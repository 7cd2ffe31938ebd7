#include "execution/cursors/indexed_local_cursor.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>

#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn {

TBRNIndexedLocalCursor::TBRNIndexedLocalCursor(TBRNVirtualTableManager& TableManager, bool Flag,
                                               bool ReadOnly, const std::string& Name)
    : TBRNLocalCursor(TableManager, Flag, ReadOnly, Name) {}

TBRNIndexedLocalCursor::~TBRNIndexedLocalCursor() = default;

TBRNCursorIndexNavigator& TBRNIndexedLocalCursor::GetActiveNavigator() const {
  if (activeIndex_ < 0) throw std::logic_error("the indexed cursor has no active index");
  return GetIndexNavigator(activeIndex_);
}

TBRNContainedIndexKeyValues& TBRNIndexedLocalCursor::fillIndexKey(const TBRNRowValues& Values,
                                                                  int32_t Index) {
  TBRNTableManager& table = GetFilterTable();
  if (Index < 0 || Index >= table.GetIndexCount())
    throw std::logic_error("no key for index " + std::to_string(Index));
  if (indexKeys_.size() < size_t(table.GetIndexCount()))
    indexKeys_.resize(size_t(table.GetIndexCount()));
  auto& key = indexKeys_[size_t(Index)];
  if (!key) key = std::make_unique<TBRNContainedIndexKeyValues>(*table.GetIndexLayout(Index));
  table.BuildIndexKey(Values, Index, true);
  copyKey(*key, *table.GetIndexKey(Index));
  key->SetRowID(table.GetIndexKey(Index)->GetRowID());
  return *key;
}

void TBRNIndexedLocalCursor::copyKey(TBRNKeyValues& Target, const TBRNKeyValues& Source) {
  const int32_t count = std::min(Target.GetCount(), Source.GetCount());
  for (int32_t i = 0; i < count; ++i) CopyKeyColumnValue(*Target.GetItem(i), *Source.GetItem(i));
  for (int32_t i = count; i < Target.GetCount(); ++i) Target.GetItem(i)->SetNull(true);
  Target.SetRowID(0);
}

bool TBRNIndexedLocalCursor::settleOnVisibleKey(TBRNCursorIndexNavigator& Navigator,
                                                bool& Restart) {
  bool stop = false;
  if (Navigator.GetRowNumber() != 0 &&
      Navigator.AcceptRow(Navigator.GetRowNumber(), kDirectionForward, stop))
    return true;
  Navigator.SeekAcceptedRow(kDirectionForward, Restart);
  return false;
}

// ---------------------------------------------------------------------------
// Order and position

void TBRNIndexedLocalCursor::SetActiveIndex(int32_t Index) {
  if (Index == activeIndex_) return;
  if (Index < -1 || Index >= GetIndexes().Count())
    throw std::out_of_range("no index " + std::to_string(Index) + " on the cursor");
  runOperation(kOpSetActiveIndex, [&] {
    TBRNCursor::SetActiveIndex(Index);
    activeIndex_ = Index;
    TFilterLevel& top = topLevel();
    top.LevelIndex = Index;
    top.KeyRange->Unprepare();
    top.ExprRange->Unprepare();
    top.CombinedRange->Unprepare();
    deactivateUserFilter(top.KeyRange->Handle);
  });
  afterMove(kDirectionNone);
}

void TBRNIndexedLocalCursor::indexesReloaded(const std::vector<int32_t>& Moved) {
  if (activeIndex_ >= 0) activeIndex_ = Moved[size_t(activeIndex_)];
  indexKeys_.clear();
}

bool TBRNIndexedLocalCursor::GetRanged() {
  return topLevel().CombinedRange->Active;
}

TBRNContainedCursorKeyValues* TBRNIndexedLocalCursor::rangeBound(bool Start) {
  TBRNRangeFilter& range = *topLevel().CombinedRange;
  if (activeIndex_ < 0 || !range.Active || !range.KeysAllocated) return nullptr;
  auto& bound = Start ? rangeStart_ : rangeEnd_;
  bound = std::make_unique<TBRNContainedCursorKeyValues>(this);
  copyKey(*bound, Start ? *range.RangeStart : *range.RangeEnd);
  return bound.get();
}

TBRNContainedCursorKeyValues* TBRNIndexedLocalCursor::GetRangeStartValues() {
  return rangeBound(true);
}

TBRNContainedCursorKeyValues* TBRNIndexedLocalCursor::GetRangeEndValues() {
  return rangeBound(false);
}

bool TBRNIndexedLocalCursor::GetBof() {
  if (activeIndex_ < 0 || GetClosed()) return TBRNLocalCursor::GetBof();
  return GetActiveNavigator().GetBof();
}

bool TBRNIndexedLocalCursor::GetEof() {
  if (activeIndex_ < 0 || GetClosed()) return TBRNLocalCursor::GetEof();
  return GetActiveNavigator().GetEof();
}

int32_t TBRNIndexedLocalCursor::GetRowNumber() {
  if (activeIndex_ < 0 || GetClosed()) return TBRNLocalCursor::GetRowNumber();
  return GetActiveNavigator().GetRowNumber();
}

int32_t TBRNIndexedLocalCursor::GetOrderReadAhead(int32_t Row, TBRNDirection Direction,
                                                  int32_t Default) {
  if (activeIndex_ < 0) return Default;
  return GetActiveNavigator().GetReadAheadCount(Row, Direction, Default);
}

void TBRNIndexedLocalCursor::moveAndPosition(TBRNDirection Direction,
                                             const std::function<void(bool&)>& Move) {
  // Once the index move went through, a restart of the positioning repeats
  // only the positioning: the cursor moves one step, never two.
  bool moved = false;
  untilSettled([&](bool& restart) {
    if (!moved) {
      Move(restart);
      if (restart) return;
      moved = true;
    }
    PositionOnRow(GetActiveNavigator().GetRowNumber(), Direction, restart);
  });
}

bool TBRNIndexedLocalCursor::FirstRow() {
  runMove(kOpFirstRow, [&] {
    CheckTableChanged();
    GetActiveNavigator();  // a misuse without an active index
    untilSettled([&](bool& restart) {
      GetActiveNavigator().First(restart);
      if (!restart) PositionOnRow(GetActiveNavigator().GetRowNumber(), kDirectionForward, restart);
    });
  });
  return afterMove(kDirectionForward);
}

bool TBRNIndexedLocalCursor::LastRow() {
  runMove(kOpLastRow, [&] {
    CheckTableChanged();
    GetActiveNavigator();  // a misuse without an active index
    untilSettled([&](bool& restart) {
      GetActiveNavigator().Last(restart);
      if (!restart) PositionOnRow(GetActiveNavigator().GetRowNumber(), kDirectionBackward, restart);
    });
  });
  return afterMove(kDirectionBackward);
}

void TBRNIndexedLocalCursor::StepNext() {
  runMove(kOpStepNext, [&] {
    GetActiveNavigator();  // a misuse without an active index
    if (CheckTableChanged()) RestorePosition();
    moveAndPosition(kDirectionForward, [&](bool& restart) {
      if (!jumpToVisibleKey(true, restart)) GetActiveNavigator().Next(restart);
    });
  });
}

void TBRNIndexedLocalCursor::StepPrior() {
  runMove(kOpStepPrior, [&] {
    GetActiveNavigator();  // a misuse without an active index
    if (CheckTableChanged()) RestorePosition();
    moveAndPosition(kDirectionBackward, [&](bool& restart) {
      if (!jumpToVisibleKey(false, restart)) GetActiveNavigator().Prior(restart);
    });
  });
}

namespace {

// A filter set with at most one row in this many of the table's rows is
// walked by jumps: a jump (one descent) costs about as much as weighing a
// few dozen keys.
constexpr int64_t kJumpRowShare = 64;
// The most visible rows whose keys a cursor keeps for jumping.
constexpr int32_t kMaxJumpRows = 1 << 16;
// A visible key among this many next to the current one in the copied leaf
// is reached by plain steps, cheaper than a jump's descent (a key range
// whose rows are all visible never jumps).
constexpr int32_t kStepAheadKeys = 16;

}  // namespace

const std::vector<TBRNIndexedLocalCursor::TVisibleKey>* TBRNIndexedLocalCursor::visibleOrder() {
  auto* table = dynamic_cast<TBRNTableManager*>(&GetTableManager());
  if (table == nullptr || activeIndex_ < 0 || activeIndex_ >= table->GetIndexCount())
    return nullptr;
  const TBRNIndex* index = table->GetIndexes()->GetItem(activeIndex_);
  const int64_t changes = table->GetChangeCount();
  if (!visibleOrderBuilt_ || visibleOrderGeneration_ != GetFilterSetGeneration() ||
      visibleOrderChangeCount_ != changes || visibleOrderIndex_ != index) {
    visibleOrderBuilt_ = false;
    visibleOrder_.clear();
    const TBRNIndexKeyLayout& layout = *table->GetIndexLayout(activeIndex_);
    auto buffer = table->NewRowBuffer();
    TBRNRowsetRowValues values(table->GetColumns(), table);
    values.SetRow(buffer.get());
    const TBRNSparseBitmap& rows = GetFilterSet();
    for (int32_t row = 0; rows.FindNextSet(row);) {
      if (!table->ReadRowByNumber(row, values) || buffer->Status == kRowDeleted) continue;
      table->BuildIndexKey(values, activeIndex_, true);
      const TBRNKeyValues& built = *table->GetIndexKey(activeIndex_);
      TVisibleKey entry;
      entry.Key = std::make_unique<TBRNContainedIndexKeyValues>(layout);
      copyKey(*entry.Key, built);
      entry.Key->SetRowID(built.GetRowID());
      entry.Row = row;
      visibleOrder_.push_back(std::move(entry));
    }
    // Equal values of a unique index stay equal: such keys do not order
    // strictly, and the cursor then steps as usual.
    const bool unique = layout.IsUnique();
    auto compare = [unique](const TVisibleKey& a, const TVisibleKey& b) {
      const int32_t c = a.Key->Compare(*b.Key, 0, false);
      if (c != 0 || unique) return c;
      return a.Key->GetRowID() < b.Key->GetRowID() ? -1 : a.Key->GetRowID() > b.Key->GetRowID();
    };
    std::sort(visibleOrder_.begin(), visibleOrder_.end(),
              [&](const TVisibleKey& a, const TVisibleKey& b) { return compare(a, b) < 0; });
    visibleOrderStrict_ = true;
    for (size_t i = 1; i < visibleOrder_.size() && visibleOrderStrict_; ++i)
      visibleOrderStrict_ = compare(visibleOrder_[i - 1], visibleOrder_[i]) < 0;
    visibleOrderGeneration_ = GetFilterSetGeneration();
    visibleOrderChangeCount_ = changes;
    visibleOrderIndex_ = index;
    visibleOrderBuilt_ = true;
  }
  return visibleOrderStrict_ ? &visibleOrder_ : nullptr;
}

bool TBRNIndexedLocalCursor::jumpToVisibleKey(bool Forward, bool& Restart) {
  Restart = false;
  if (!filtered_ || fixedRowSet_ || searchWindow_ != nullptr || activeIndex_ < 0) return false;
  if (filteredRowCount_ <= 0 || filteredRowCount_ > kMaxJumpRows ||
      int64_t(filteredRowCount_) * kJumpRowShare > int64_t(GetTotalRowCount()))
    return false;
  TBRNCursorIndexNavigator& navigator = GetActiveNavigator();
  if (navigator.GetRowNumber() == 0) return false;
  if (navigator.LeafHasRowAhead(Forward, GetFilterSet(), kStepAheadKeys)) return false;
  const std::vector<TVisibleKey>* order = visibleOrder();
  if (order == nullptr) return false;
  // Where the current key lies against an entry, in the index's order (the
  // row ID decides between equal values of a non-unique index).
  const TBRNIndexKey& current = navigator.GetCurrentKey();
  const bool unique = current.GetLayout().IsUnique();
  auto against = [&](const TVisibleKey& entry) {
    const int32_t c = current.Compare(*entry.Key, 0, false);
    if (c != 0 || unique) return c;
    const int32_t own = current.GetRowID();
    const int32_t other = entry.Key->GetRowID();
    return own < other ? -1 : (own > other ? 1 : 0);
  };
  // Entries not after the current key come first in the order.
  auto beyond = std::partition_point(order->begin(), order->end(),
                                     [&](const TVisibleKey& entry) { return against(entry) >= 0; });
  const TVisibleKey* target = nullptr;
  if (Forward) {
    if (beyond == order->end()) return false;
    target = &*beyond;
  } else {
    auto before = std::partition_point(
        order->begin(), order->end(), [&](const TVisibleKey& entry) { return against(entry) > 0; });
    if (before == order->begin()) return false;
    target = &*(before - 1);
  }
  if (!jumpFrom_ || &jumpFrom_->GetLayout() != &current.GetLayout())
    jumpFrom_ = std::make_unique<TBRNContainedIndexKeyValues>(current.GetLayout());
  copyKey(*jumpFrom_, current);
  jumpFrom_->SetRowID(current.GetRowID());
  const int32_t found = navigator.GotoKey(*target->Key, Restart);
  if (Restart) return true;
  bool stop = false;
  if (found == 0 && navigator.GetRowNumber() == target->Row &&
      navigator.AcceptRow(target->Row, Forward ? kDirectionForward : kDirectionBackward, stop))
    return true;
  // Not the key the order promised: back to where the step began, and the
  // step goes as usual.
  visibleOrderBuilt_ = false;
  navigator.GotoKey(*jumpFrom_, Restart);
  return Restart;
}

bool TBRNIndexedLocalCursor::SetToRowNumber(int32_t RowNumber) {
  if (activeIndex_ < 0) return TBRNLocalCursor::SetToRowNumber(RowNumber);
  runOperation(kOpSetToRowNumber, [&] {
    TBRNCursorRowsetNavigator& rows = GetRowNavigator();
    untilSettled([&](bool& restart) { rows.GotoRowNumber(RowNumber, kDirectionForward, restart); });
    // The index follows the row, found again by its key.
    RestorePosition();
  });
  return afterMove(kDirectionNone);
}

bool TBRNIndexedLocalCursor::SetToSequenceNumber(int32_t Sequence) {
  runOperation(kOpSetToSequenceNumber, [&] {
    CheckTableChanged();
    GetActiveNavigator();  // a misuse without an active index
    untilSettled([&](bool& restart) {
      GetActiveNavigator().GotoSequenceNumber(Sequence);
      PositionOnRow(GetActiveNavigator().GetRowNumber(), kDirectionNone, restart);
    });
  });
  return afterMove(kDirectionNone);
}

bool TBRNIndexedLocalCursor::SetToRowValues(TBRNCursorRow& Row) {
  bool found = runOperation(kOpSetToRowValues, [&] {
    CheckTableChanged();
    GetActiveNavigator();  // a misuse without an active index
    bool matched = false;
    untilSettled([&](bool& restart) {
      TBRNContainedIndexKeyValues& key = fillIndexKey(Row.Values, activeIndex_);
      matched = GetActiveNavigator().GotoKey(key, restart) == 0;
      if (!restart && !settleOnVisibleKey(GetActiveNavigator(), restart)) matched = false;
      if (!restart) PositionOnRow(GetActiveNavigator().GetRowNumber(), kDirectionNone, restart);
    });
    return matched;
  });
  bool accepted = afterMove(kDirectionNone);
  return found && accepted;
}

bool TBRNIndexedLocalCursor::SetToBookmark(TBRNContainedBookmarkValues& Bookmark) {
  bool found = runOperation(kOpSetToBookmark, [&] {
    CheckTableChanged();
    GetActiveNavigator();  // a misuse without an active index
    bool matched = false;
    untilSettled([&](bool& restart) {
      matched = GetActiveNavigator().GotoKey(Bookmark, restart) == 0;
      if (!restart && !settleOnVisibleKey(GetActiveNavigator(), restart)) matched = false;
      if (!restart) PositionOnRow(GetActiveNavigator().GetRowNumber(), kDirectionNone, restart);
    });
    return matched && GetRowNumber() != 0;
  });
  bool accepted = afterMove(kDirectionNone);
  return found && accepted;
}

void TBRNIndexedLocalCursor::RestorePosition() {
  if (activeIndex_ < 0) {
    TBRNLocalCursor::RestorePosition();
    return;
  }
  TBRNCursorRowsetNavigator& rows = GetRowNavigator();
  untilSettled([&](bool& restart) {
    if (rows.GetRowNumber() == 0) {
      GetActiveNavigator().ClearCurrentRow();
      return;
    }
    TBRNContainedIndexKeyValues& key = fillIndexKey(rows.GetCurrentValues(), activeIndex_);
    GetActiveNavigator().GotoKey(key, restart);
    if (!restart) settleOnVisibleKey(GetActiveNavigator(), restart);
    if (!restart) PositionOnRow(GetActiveNavigator().GetRowNumber(), kDirectionNone, restart);
  });
}

// ---------------------------------------------------------------------------
// Ranges

bool TBRNIndexedLocalCursor::SetRange(TBRNContainedCursorKeyValues& StartValues,
                                      TBRNContainedCursorKeyValues& EndValues) {
  runOperation(kOpSetRange, [&] {
    GetActiveNavigator();
    TBRNRangeFilter& range = *topLevel().KeyRange;
    range.Prepare(activeIndex_);
    copyKey(*range.RangeStart, StartValues);
    copyKey(*range.RangeEnd, EndValues);
    range.BoundsChanged();
    activateUserFilter(range.Handle);
  });
  return afterMove(kDirectionNone);
}

bool TBRNIndexedLocalCursor::CancelRange() {
  runOperation(kOpCancelRange, [&] { deactivateUserFilter(topLevel().KeyRange->Handle); });
  return afterMove(kDirectionNone);
}

bool TBRNIndexedLocalCursor::SetSequenceRange(int32_t Start, int32_t End) {
  runOperation(kOpSetSequenceRange, [&] {
    GetActiveNavigator();
    CheckTableChanged();
    TFilterLevel& top = topLevel();
    top.SequenceRangeSet = true;
    top.SequenceRange->Prepare(top.LevelIndex);
    top.SequenceRange->SeqStart = Start;
    top.SequenceRange->SeqEnd = End;
    filtered_ = true;
    sizeFilterSet();
    BuildFilterSet();
    RestorePosition();
  });
  return afterMove(kDirectionNone);
}

bool TBRNIndexedLocalCursor::CancelSequenceRange() {
  TFilterLevel& top = topLevel();
  if (top.SequenceRangeSet) {
    runOperation(kOpCancelSequenceRange, [&] {
      top.SequenceRangeSet = false;
      CheckTableChanged();
      // Off before the flag is recomputed: a range left active would keep
      // the cursor filtered by nothing.
      top.SequenceRange->SetActive(false);
      updateFilteredFlag();
      BuildFilterSet();
      RestorePosition();
    });
  }
  return afterMove(kDirectionNone);
}

void TBRNIndexedLocalCursor::FillSequenceRange(TBRNSeqRangeFilter& Filter, int32_t IndexNo) {
  TBRNCursorIndexNavigator& navigator = GetIndexNavigator(IndexNo);
  for (;;) {
    const int32_t size = Filter.Rows->Size;
    Filter.Rows->ClearAll();
    Filter.Rows->Size = size;
    navigator.GotoSequenceNumber(Filter.SeqStart);
    if (navigator.GetEof() || navigator.GetRowNumber() == 0) {
      Filter.RangeStart->SetAllNull();
      Filter.RangeEnd->SetAllNull();
      return;
    }
    copyKey(*Filter.RangeStart, navigator.GetCurrentKey());
    bool restart = false;
    for (int32_t n = Filter.SeqStart; n <= Filter.SeqEnd && !navigator.GetEof(); ++n) {
      int32_t row = navigator.GetRowNumber();
      if (row >= 1 && row <= Filter.Rows->Size) Filter.Rows->SetBit(row);
      // The end bound is the last key taken: no step past it.
      if (n == Filter.SeqEnd) break;
      if (!navigator.Next(restart) || restart) break;
    }
    if (restart) continue;
    copyKey(*Filter.RangeEnd, navigator.GetCurrentKey());
    return;
  }
}

}  // namespace brn
