#include "execution/cursors/cursor_navigators.h"

#include <vector>

#include "execution/cursors/local_cursor.h"
#include "storage/files/table_file_guards.h"

namespace brn {

// ---------------------------------------------------------------------------
// TBRNCursorRowsetNavigator

TBRNCursorRowsetNavigator::TBRNCursorRowsetNavigator(TBRNLocalCursor& Cursor,
                                                     TBRNRowsetManager* RowsetManager)
    : TBRNRowsetNavigator(RowsetManager), cursor_(Cursor) {}

bool TBRNCursorRowsetNavigator::filtered() const {
  return cursor_.GetFiltered();
}

int32_t TBRNCursorRowsetNavigator::GetRowCount() {
  return cursor_.GetRowCount();
}

bool TBRNCursorRowsetNavigator::AcceptRow(int32_t Row, TBRNDirection Direction, bool& Stop) {
  if (!TBRNRowsetNavigator::AcceptRow(Row, Direction, Stop)) return false;
  // The row file's own walk passes over deleted blocks too; the cursor
  // never shows one.
  if (HasCurrentRow() && GetRowNumber() == Row && GetCurrentRow()->Status == kRowDeleted)
    return false;
  return cursor_.RowInFilterSet(Row);
}

int32_t TBRNCursorRowsetNavigator::GetReadAheadCount(int32_t Row, TBRNDirection Direction,
                                                     int32_t Default) {
  if (!filtered()) return cursor_.GetOrderReadAhead(Row, Direction, Default);
  const TBRNSparseBitmap& set = cursor_.GetFilterSet();
  if (Direction == kDirectionForward) return set.CountNextRun(Row, Default);
  if (Direction == kDirectionBackward) return set.CountPriorRun(Row, Default);
  return 1;
}

bool TBRNCursorRowsetNavigator::readRow(int32_t n, TBRNDirection direction, bool& restart) {
  bool keepBof = Bof;
  bool keepEof = Eof;
  TBRNRowsetNavigator::GotoRowNumber(n, direction, restart);
  Bof = keepBof;
  Eof = keepEof;
  return !restart && GetRowNumber() == n;
}

bool TBRNCursorRowsetNavigator::seekVisible(int32_t n, TBRNDirection direction, bool& restart) {
  const TBRNSparseBitmap& set = cursor_.GetFilterSet();
  int32_t last = GetRowFile()->GetBlockCount();
  for (;;) {
    bool found = direction == kDirectionBackward ? set.FindPriorSet(n) : set.FindNextSet(n);
    if (!found || n > last) return false;
    if (!readRow(n, direction, restart)) return false;
    if (GetCurrentRow()->Status != kRowDeleted) return true;
  }
}

bool TBRNCursorRowsetNavigator::First(bool& Restart) {
  if (!filtered()) return TBRNRowsetNavigator::First(Restart);
  Restart = false;
  TableDeferredReadBracket bracket(GetRowFile()->GetHost());
  if (seekVisible(0, kDirectionForward, Restart)) {
    Bof = true;
    Eof = false;
    return true;
  }
  if (Restart) return false;
  ClearCurrentRow();
  Bof = true;
  Eof = true;
  return false;
}

bool TBRNCursorRowsetNavigator::Last(bool& Restart) {
  if (!filtered()) return TBRNRowsetNavigator::Last(Restart);
  Restart = false;
  TableDeferredReadBracket bracket(GetRowFile()->GetHost());
  const TBRNSparseBitmap& set = cursor_.GetFilterSet();
  int32_t start = set.Size < 2147483647 ? set.Size + 1 : set.Size;
  if (seekVisible(start, kDirectionBackward, Restart)) {
    Bof = false;
    Eof = true;
    return true;
  }
  if (Restart) return false;
  ClearCurrentRow();
  Bof = true;
  Eof = true;
  return false;
}

bool TBRNCursorRowsetNavigator::Next(bool& Restart) {
  if (!filtered()) return TBRNRowsetNavigator::Next(Restart);
  Restart = false;
  TableDeferredReadBracket bracket(GetRowFile()->GetHost());
  if (cursor_.GetFilterSet().Size == 0) {
    ClearCurrentRow();
    Bof = true;
    Eof = true;
    return false;
  }
  // Found or not, a restart leaves the current row as it was: readRow only
  // replaces it with a row that was read.
  int32_t from = GetRowNumber();
  if (seekVisible(from, kDirectionForward, Restart)) {
    Bof = false;
    Eof = false;
    return true;
  }
  if (Restart) return false;
  // Nothing after: the row that was current stays (seekVisible may have read
  // deleted rows on the way).
  if (from > 0 && GetRowNumber() != from) {
    if (!readRow(from, kDirectionNone, Restart)) return false;
  }
  Bof = false;
  Eof = true;
  return false;
}

bool TBRNCursorRowsetNavigator::Prior(bool& Restart) {
  if (!filtered()) return TBRNRowsetNavigator::Prior(Restart);
  Restart = false;
  TableDeferredReadBracket bracket(GetRowFile()->GetHost());
  if (cursor_.GetFilterSet().Size == 0) {
    ClearCurrentRow();
    Bof = true;
    Eof = true;
    return false;
  }
  int32_t from = GetRowNumber();
  if (from == 0 && Eof) from = cursor_.GetFilterSet().Size + 1;
  if (from > 0 && seekVisible(from, kDirectionBackward, Restart)) {
    Bof = false;
    Eof = false;
    return true;
  }
  if (Restart) return false;
  if (from > 0 && GetRowNumber() != from && from <= cursor_.GetFilterSet().Size) {
    if (!readRow(from, kDirectionNone, Restart)) return false;
  }
  Bof = true;
  Eof = false;
  return false;
}

int32_t TBRNCursorRowsetNavigator::FindKey(const TBRNValues& Values, int32_t PartialLength,
                                           bool& Restart, bool CaseInsensitive) {
  if (!filtered())
    return TBRNRowsetNavigator::FindKey(Values, PartialLength, Restart, CaseInsensitive);
  Restart = false;
  TableDeferredReadBracket bracket(GetRowFile()->GetHost());
  if (cursor_.GetFilterSet().Size == 0) {
    ClearCurrentRow();
    Bof = true;
    Eof = true;
    return 1;
  }
  int32_t n = 0;
  bool readAny = false;
  while (seekVisible(n, kDirectionForward, Restart)) {
    readAny = true;
    n = GetRowNumber();
    if (GetCurrentValues().Compare(Values, PartialLength, CaseInsensitive) == 0) {
      Bof = false;
      Eof = false;
      return 0;
    }
  }
  if (Restart) return 1;
  if (!readAny) ClearCurrentRow();
  Bof = !readAny;
  Eof = true;
  return 1;
}

// ---------------------------------------------------------------------------
// TBRNCursorIndexNavigator

TBRNCursorIndexNavigator::TBRNCursorIndexNavigator(TBRNLocalCursor& Cursor, int32_t IndexNumber,
                                                   TBRNIndexManager* IndexManager)
    : TBRNIndexNavigator(IndexManager, IndexNumber), cursor_(Cursor) {}

int32_t TBRNCursorIndexNavigator::GetRowCount() {
  return cursor_.GetRowCount();
}

bool TBRNCursorIndexNavigator::AcceptRow(int32_t Row, TBRNDirection Direction, bool& Stop) {
  ++KeysVisited;
  // A walk over a sparse filter set weighs many keys whose rows the set
  // lacks: the set answers them before the window's key comparisons. Such
  // a key is refused whatever the window says; the walk still ends at the
  // window's edge, as each step weighs the key it moves to against the
  // window.
  if (!cursor_.RowInFilterSet(Row)) {
    Stop = false;
    return false;
  }
  return TBRNIndexNavigator::AcceptRow(Row, Direction, Stop);
}

bool TBRNCursorIndexNavigator::GetRanged() {
  return cursor_.GetActiveIndex() == GetIndexNumber() && cursor_.GetCombinedRange().Active;
}

const TBRNKeyValues* TBRNCursorIndexNavigator::GetRangeStartValues() {
  return GetRanged() ? cursor_.GetCombinedRange().RangeStart.get() : nullptr;
}

const TBRNKeyValues* TBRNCursorIndexNavigator::GetRangeEndValues() {
  return GetRanged() ? cursor_.GetCombinedRange().RangeEnd.get() : nullptr;
}

int32_t TBRNCursorIndexNavigator::CompareWithRange(const TBRNKeyValues& Key) {
  if (!GetRanged()) return 0;
  const uint8_t* bytes = nullptr;
  std::vector<uint8_t> encoded;
  // The navigator's own keys (every key a walk weighs) need no type test.
  const TBRNIndexKey* stored = &Key == &CurrentKey   ? &CurrentKey
                               : &Key == &ScratchKey ? &ScratchKey
                                                     : dynamic_cast<const TBRNIndexKey*>(&Key);
  if (stored != nullptr) {
    if (!stored->IsPositioned()) return -1;
    bytes = stored->GetKeyBytes();
  } else {
    // Search values (a key search placing itself against the range): they
    // lie where the key they make would.
    encoded.resize(size_t(GetLayout().GetKeyWidth()));
    GetLayout().EncodeKey(Key, encoded.data());
    bytes = encoded.data();
  }
  TBRNRangeFilter& range = cursor_.GetCombinedRange();
  prepareRangeKeys(range);
  if (hasRangeStart_ && rangeStartKey_.CompareStored(bytes) < 0) return -1;
  if (hasRangeEnd_ && rangeEndKey_.CompareStored(bytes) > 0) return 1;
  return 0;
}

void TBRNCursorIndexNavigator::prepareRangeKeys(TBRNRangeFilter& Range) {
  const TBRNIndexKeyLayout& layout = GetLayout();
  if (preparedStamp_ == Range.GetBoundsStamp() && preparedLayout_ == &layout) return;
  // Invalid until both bounds are prepared: a failure leaves nothing cached.
  preparedStamp_ = 0;
  preparedLayout_ = nullptr;
  hasRangeStart_ = Range.RangeStart != nullptr;
  hasRangeEnd_ = Range.RangeEnd != nullptr;
  if (hasRangeStart_) rangeStartKey_.Prepare(layout, *Range.RangeStart, 0, false);
  if (hasRangeEnd_) rangeEndKey_.Prepare(layout, *Range.RangeEnd, 0, false);
  ++RangeKeysPrepared;
  preparedStamp_ = Range.GetBoundsStamp();
  preparedLayout_ = &layout;
}

const TBRNSparseBitmap* TBRNCursorIndexNavigator::GetAcceptedRows() {
  return cursor_.GetFiltered() ? &cursor_.GetFilterSet() : nullptr;
}

bool TBRNCursorIndexNavigator::GetSearchKeyActive() {
  return cursor_.SearchKeyActiveFor(GetIndexNumber());
}

int32_t TBRNCursorIndexNavigator::CompareWithSearchKey(const TBRNKeyValues& Key) {
  return cursor_.CompareWithSearchKey(Key);
}

}  // namespace brn
