// Row editing, row locks, locate and find of the local cursor, its table
// transactions and the server's position sync.
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "execution/cursors/indexed_local_cursor.h"
#include "execution/cursors/local_cursor.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "storage/rows/row_file.h"
#include "storage/tables/table_environment.h"

namespace brn {

namespace {

constexpr int32_t kConstraintErrorCode = 1009;
constexpr int32_t kLocateErrorCode = 1002;

bool pessimistic(TBRNVirtualTableManager& Manager) {
  return Manager.GetEnvironment().GetTableSettings().RecordLockProtocol ==
         kBRNRecordLockPessimistic;
}

int32_t indexPosition(TBRNIndexes& Indexes, const TBRNIndex* Index) {
  for (int32_t i = 0; i < Indexes.Count(); ++i) {
    if (Indexes.GetItem(i) == Index) return i;
  }
  throw std::logic_error("the index is not one of the cursor's indexes");
}

// The chosen columns as key columns, each compared under its own
// collation.
void fillKeyColumns(TBRNBookmarkColumns& Target, TBRNMappedCursorColumns& Columns) {
  for (int32_t k = 0; k < Columns.Count(); ++k) {
    TBRNColumn* column = Columns.GetColumn(k)->GetTableColumn();
    std::unique_ptr<TBRNConfigObject> item(Target.NewItem());
    auto* keyColumn = static_cast<TBRNBookmarkColumn*>(item.get());
    keyColumn->SetColumn(column);
    if (column != nullptr) keyColumn->SetCollation(column->Collation);
    Target.AddObject(item.get());
    item.release();
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Row locks

void TBRNLocalCursor::lockCursorRow(TBRNCursorRow& Row, bool Keep) {
  const int32_t row = Row.RowNumber;
  TBRNRowLocks& locks = GetRowLocks();
  if (locks.IsLocked(row)) return;
  if (Keep && row < 1) throw std::out_of_range("LockRow: the row is not stored");
  // The edit lock is kept until a database transaction ends; an explicit
  // lock goes with UnlockRow, transaction or not.
  const bool took = tableManager_.LockRowForUpdate(this, row, Row.RowVersion, Row.UpdateCounter,
                                                   false, false, Keep ? 0 : 1);
  if (!Keep) {
    if (took) editLocks_.push_back(row);
    return;
  }
  try {
    locks.AddLock(this, row, 1);
  } catch (...) {
    if (took) {
      try {
        tableManager_.UnlockRow(row);
      } catch (...) {  // the first failure is the one reported
      }
    }
    throw;
  }
  // The lock of an edit in progress is explicit from now on: ending the
  // edit must not release it.
  editLocks_.erase(std::remove(editLocks_.begin(), editLocks_.end(), row), editLocks_.end());
}

void TBRNLocalCursor::releaseCursorRow(int32_t Row, bool Kept) {
  TBRNRowLocks& locks = GetRowLocks();
  if (Kept) {
    if (!locks.IsLocked(Row)) return;
    tableManager_.UnlockRow(Row);
    locks.RemoveLock(Row);
    return;
  }
  if (locks.IsLocked(Row)) return;
  // Only a lock this cursor's edit took is released: a row read for an
  // edit under another protocol, or never locked, holds none.
  auto edit = std::find(editLocks_.begin(), editLocks_.end(), Row);
  if (edit == editLocks_.end()) return;
  editLocks_.erase(edit);
  tableManager_.UnlockRow(Row);
}

void TBRNLocalCursor::LockRow(TBRNCursorRow& Row, int32_t, int32_t) {
  runOperation(kOpLockRow, [&] { lockCursorRow(Row, true); });
}

void TBRNLocalCursor::UnlockRow(TBRNCursorRow& Row) {
  runOperation(kOpUnlockRow, [&] { releaseCursorRow(Row.RowNumber, true); });
}

void TBRNLocalCursor::UnlockAllRows() {
  auto body = [&] {
    TBRNRowLocks& locks = GetRowLocks();
    int32_t row = 0;
    while (locks.NextLockedRow(row)) {
      try {
        tableManager_.UnlockRow(row);
      } catch (...) {
        locks.RemoveLock(row);
        throw;
      }
      locks.RemoveLock(row);
    }
    editLocks_.clear();
    tableManager_.UnlockRows(this);
  };
  // CloseCursor calls this while closing, outside the operation frame.
  if (closing_) {
    body();
  } else {
    runOperation(kOpUnlockAllRows, body);
  }
}

// ---------------------------------------------------------------------------
// Reading and writing rows

void TBRNLocalCursor::InitializeRow(TBRNCursorRow& Row) {
  runOperation(kOpInitializeRow, [&] {
    Row.Clear();
    tableManager_.ComputeColumns(Row.Values);
  });
}

void TBRNLocalCursor::GetCurrentRow(TBRNCursorRow& Row, bool ForUpdate) {
  runOperation(kOpGetCurrentRow, [&] {
    if (!ForUpdate) {
      ReadRow(Row);
      return;
    }
    const int32_t row = Row.RowNumber;
    if (pessimistic(tableManager_)) {
      lockCursorRow(Row, false);
    } else {
      tableManager_.CheckRowCurrent(row, Row.RowVersion, Row.UpdateCounter, false, false);
    }
    if (CheckTableChanged()) RestorePosition();
    ReadRow(Row);
    try {
      tableManager_.CheckRowVisible(row, Row.RowNumber);
    } catch (...) {
      // The table manager released the row's lock with its failure: the
      // cursor forgets it too, explicit or not.
      editLocks_.erase(std::remove(editLocks_.begin(), editLocks_.end(), row), editLocks_.end());
      if (row >= 1) GetRowLocks().RemoveLock(row);
      throw;
    }
  });
  if (!ForUpdate) afterMove(kDirectionNone);
}

void TBRNLocalCursor::checkConstraint(const TBRNRowValues& Values) {
  if (constrained_ && !RowPassesFilters(Values)) RaiseConstraintError();
}

void TBRNLocalCursor::loadWrittenRow(int32_t Row) {
  untilSettled([&](bool& restart) { rowNavigator_->GotoRowNumber(Row, kDirectionNone, restart); });
}

bool TBRNLocalCursor::InsertRow(TBRNCursorRow& Row) {
  const bool inserted = runOperation(kOpInsertRow, [&] {
    CheckReadOnly();
    checkConstraint(Row.Values);
    int32_t rowNumber = 0;
    int32_t version = 0;
    int32_t counter = 0;
    if (!tableManager_.InsertRowWithTriggers(Row.Values, rowNumber, version, counter)) return false;
    // The cursor's own write: its filters follow it row by row below
    // instead of being rebuilt.
    lastChangeCount_ = tableManager_.GetChangeCount();
    loadWrittenRow(rowNumber);
    Row.RowNumber = rowNumber;
    Row.RowStatus = 0;
    Row.RowVersion = version;
    Row.UpdateCounter = counter;
    UpdateFiltersForRow(rowNumber, 0, Row.Values);
    RestorePosition();
    return true;
  });
  afterMove(kDirectionNone);
  return inserted;
}

bool TBRNLocalCursor::UpdateRow(TBRNCursorRow& Row) {
  const bool written = runOperation(kOpUpdateRow, [&] {
    CheckReadOnly();
    // A refused row keeps its edit open: the caller may correct it.
    checkConstraint(Row.Values);
    int32_t counter = Row.UpdateCounter;
    bool done = false;
    // Written or not, the edit ends here. Only the pessimistic protocol
    // takes edit locks; the cursor releases just the one its edit took.
    try {
      done = tableManager_.UpdateRowWithTriggers(this, Row.Values, Row.RowNumber, Row.RowVersion,
                                                 counter);
    } catch (...) {
      try {
        releaseCursorRow(Row.RowNumber, false);
      } catch (...) {  // the update's failure is the one reported
      }
      throw;
    }
    releaseCursorRow(Row.RowNumber, false);
    if (!done) return false;
    lastChangeCount_ = tableManager_.GetChangeCount();
    loadWrittenRow(Row.RowNumber);
    Row.UpdateCounter = counter;
    UpdateFiltersForRow(Row.RowNumber, Row.RowStatus, Row.Values);
    RestorePosition();
    return true;
  });
  afterMove(kDirectionNone);
  return written;
}

bool TBRNLocalCursor::DeleteRow(TBRNCursorRow& Row) {
  const bool deleted = runOperation(kOpDeleteRow, [&] {
    CheckReadOnly();
    int32_t counter = Row.UpdateCounter;
    const bool done = tableManager_.DeleteRowWithTriggers(this, Row.Values, Row.RowNumber,
                                                          Row.RowVersion, counter);
    releaseCursorRow(Row.RowNumber, true);
    // A delete also ends an edit of the row: a lock byte left on a freed
    // block would refuse edits of whatever row reuses it.
    releaseCursorRow(Row.RowNumber, false);
    if (!done) return false;
    lastChangeCount_ = tableManager_.GetChangeCount();
    loadWrittenRow(Row.RowNumber);
    Row.RowStatus = kRowDeleted;
    Row.UpdateCounter = counter;
    UpdateFiltersForRow(Row.RowNumber, kRowDeleted, Row.Values);
    RestorePosition();
    return true;
  });
  afterMove(kDirectionNone);
  return deleted;
}

void TBRNLocalCursor::CancelRow(TBRNCursorRow& Row) {
  runOperation(kOpCancelRow, [&] {
    releaseCursorRow(Row.RowNumber, false);
    Row.Values.SetAllModified(false);
  });
}

void TBRNLocalCursor::FlushCursor() {
  runOperation(kOpFlushCursor, [&] { tableManager_.Flush(); });
}

void TBRNLocalCursor::EmptyCursor(bool SkipScan) {
  runOperation(kOpEmptyCursor, [&] {
    CheckReadOnly();
    if (!tableManager_.EmptyTable(SkipScan)) return;
    // The rows the filters and the position referred to are gone.
    CheckTableChanged(true);
    RestorePosition();
  });
  afterMove(kDirectionNone);
}

void TBRNLocalCursor::UpdateFiltersForRow(int32_t Row, uint8_t Status,
                                          const TBRNRowValues& Values) {
  if (fixedRowSet_) return;
  sizeFilterSet();
  if (filtered_) {
    for (auto& level : levels_) {
      for (TBRNLocalFilters* list : {level->QueryFilters.get(), level->UserFilters.get()}) {
        if (Status == kRowDeleted) {
          list->RemoveRowAll(Row);
        } else {
          list->UpdateRowAll(Row, Values);
        }
      }
    }
  }
  BuildFilterSet();
}

void TBRNLocalCursor::RaiseConstraintError() {
  throw EBRNException(kConstraintErrorCode,
                      "The cursor is constrained and this row violates the current cursor "
                      "constraint condition(s)");
}

void TBRNLocalCursor::RaiseLocateError(const std::string& Reason) {
  throw EBRNException(kLocateErrorCode, FormatText("A locate error occurred (%s)", {Reason}));
}

// ---------------------------------------------------------------------------
// Table transactions

void TBRNLocalCursor::StartTableTransaction() {
  CheckReadOnly();
  tableManager_.StartTransaction();
  CheckTableChanged();
}

void TBRNLocalCursor::FlushTableTransaction() {
  tableManager_.FlushTransaction();
}

void TBRNLocalCursor::CommitTableTransaction() {
  tableManager_.CommitTransaction();
}

void TBRNLocalCursor::RollbackTableTransaction() {
  tableManager_.RollbackTransaction();
  CheckTableChanged();
}

// ---------------------------------------------------------------------------
// The search window, locate and find

bool TBRNLocalCursor::SearchKeyActiveFor(int32_t IndexNumber) const {
  return searchWindow_ != nullptr && searchWindow_->IndexNumber == IndexNumber;
}

int32_t TBRNLocalCursor::CompareWithSearchKey(const TBRNKeyValues& Key) const {
  if (searchWindow_ == nullptr) return 0;
  const auto* stored = dynamic_cast<const TBRNIndexKey*>(&Key);
  if (stored == nullptr || !stored->IsPositioned()) return -1;
  return searchWindow_->Search.CompareStored(stored->GetKeyBytes());
}

void TBRNLocalCursor::setSearchKey(int32_t IndexNumber, const TBRNValues& Values,
                                   bool CaseInsensitive, int32_t PartialLength) {
  const TBRNIndexKeyLayout& layout = GetIndexNavigator(IndexNumber).GetLayout();
  auto window = std::make_unique<TSearchWindow>();
  window->IndexNumber = IndexNumber;
  const auto* keys = dynamic_cast<const TBRNKeyValues*>(&Values);
  if (keys == nullptr) {
    window->Keys = std::make_unique<TBRNIndexKeyValues>(layout);
    const int32_t count = std::min(Values.GetCount(), layout.GetColumnCount());
    for (int32_t i = 0; i < count; ++i) window->Keys->Add(Values.GetItem(i));
    keys = window->Keys.get();
  }
  window->Search.Prepare(layout, *keys, PartialLength, CaseInsensitive);
  searchWindow_ = std::move(window);
}

void TBRNLocalCursor::clearSearchKey() noexcept {
  searchWindow_.reset();
}

bool TBRNLocalCursor::findThroughIndex(int32_t IndexNumber, const TBRNValues& Values,
                                       int32_t PartialLength, bool CaseInsensitive, bool Window) {
  TBRNCursorIndexNavigator& navigator = GetIndexNavigator(IndexNumber);
  bool matched = false;
  untilSettled([&](bool& restart) {
    if (Window) setSearchKey(IndexNumber, Values, CaseInsensitive, PartialLength);
    try {
      matched = navigator.FindKey(Values, PartialLength, restart, CaseInsensitive) == 0;
    } catch (...) {
      clearSearchKey();
      throw;
    }
    clearSearchKey();
    if (restart) return;
    PositionOnRow(navigator.GetRowNumber(), kDirectionNone, restart);
  });
  return matched;
}

bool TBRNLocalCursor::currentRowMatches(TBRNMappedCursorColumns& Columns, const TBRNValues& Values,
                                        int32_t PartialLength, bool CaseInsensitive) {
  TBRNBookmarkColumns keyColumns(this);
  fillKeyColumns(keyColumns, Columns);
  return CurrentRowMatchesKey(keyColumns, Values, PartialLength, CaseInsensitive);
}

bool TBRNLocalCursor::LocateRow(TBRNMappedCursorColumns& Columns, TBRNValues& KeyValues,
                                int32_t PartialLength, bool CaseInsensitive) {
  const bool found = runOperation(kOpLocateRow, [&] {
    bool matched = false;
    if (TBRNIndex* index = FindIndexForColumns(Columns, CaseInsensitive)) {
      CheckTableChanged();
      matched = findThroughIndex(indexPosition(GetIndexes(), index), KeyValues, PartialLength,
                                 CaseInsensitive, true);
    } else {
      TBRNBookmarkColumns keyColumns(this);
      fillKeyColumns(keyColumns, Columns);
      std::unique_ptr<TBRNCursorRow> scratch = CreateRow();
      // The cursor's own order: the first match met is the one wanted.
      FirstRow();
      while (!GetEof()) {
        ReadRow(*scratch);
        if (scratch->Values.CompareWithKey(KeyValues, PartialLength, CaseInsensitive, keyColumns) ==
            0) {
          matched = true;
          break;
        }
        NextRow();
      }
    }
    RestorePosition();
    return matched;
  });
  const bool accepted = afterMove(kDirectionNone);
  if (found || !accepted)
    return currentRowMatches(Columns, KeyValues, PartialLength, CaseInsensitive);
  return false;
}

bool TBRNLocalCursor::FindRowByKey(TBRNContainedCursorKeyValues&, bool, bool) {
  return false;
}

bool TBRNIndexedLocalCursor::FindRowByKey(TBRNContainedCursorKeyValues& KeyValues, bool Partial,
                                          bool CaseInsensitive) {
  const int32_t partialLength = Partial ? GetPartialKeyLength(KeyValues) : 0;
  const bool found = runOperation(kOpFindRowByKey, [&] {
    TBRNCursorIndexNavigator& navigator = GetActiveNavigator();
    navigator.SelectIndex();
    CheckTableChanged();
    // Nearest: the first key not below the values; else only equal keys.
    return findThroughIndex(activeIndex_, KeyValues, partialLength, CaseInsensitive, !Partial);
  });
  if (afterMove(kDirectionNone)) return found;
  TBRNIndex* index = GetCursorActiveIndex();
  return index != nullptr &&
         CurrentRowMatchesKey(*index->Columns, KeyValues, partialLength, CaseInsensitive);
}

// ---------------------------------------------------------------------------
// The server's position

void TBRNLocalCursor::SyncToBookmark(TBRNContainedBookmarkValues& Bookmark, bool ClientBof,
                                     bool ClientEof) {
  if (positionSynced_) return;
  struct TSynced {
    bool& flag;
    ~TSynced() { flag = true; }
  } synced{positionSynced_};
  const int32_t index = GetActiveIndex();
  if (index < 0) return;
  if (closed_ || closing_) throw std::logic_error("operation on a closed cursor");
  TBRNCursorIndexNavigator& navigator = GetIndexNavigator(index);
  CheckTableChanged();
  untilSettled([&](bool& restart) {
    navigator.GotoKey(Bookmark, restart);
    if (restart) return;
    // A key gone, outside the range or of a row the cursor does not show:
    // the nearest visible key (before the range the first, after it the
    // last).
    bool stop = false;
    if (navigator.GetRowNumber() == 0 ||
        !navigator.AcceptRow(navigator.GetRowNumber(), kDirectionForward, stop)) {
      navigator.SeekAcceptedRow(kDirectionForward, restart);
      if (restart) return;
    }
    navigator.Resynchronize(ClientBof, ClientEof, restart);
    if (restart) return;
    PositionOnRow(navigator.GetRowNumber(), kDirectionNone, restart);
  });
  UpdateBofEof();
}

}  // namespace brn
