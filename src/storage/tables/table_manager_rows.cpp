// The row locks, row state and row access of the table manager.
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "foundation/text/exception.h"
#include "metadata/catalog/tables.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/rows/row_locks.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// Answers of CheckRowState.
constexpr int32_t kRowCurrent = 0;
constexpr int32_t kRowReplaced = 1;
constexpr int32_t kRowModified = 3;

}  // namespace

void TBRNTableManager::requireFiles(const char* Operation) const {
  if (!rowsetFile || !rowNavigator) {
    throw std::logic_error(std::string(Operation) + " on a closed table manager");
  }
}

// ---------------------------------------------------------------------------
// Row locks

bool TBRNTableManager::LockRow(TBRNHandleObject* Holder, int32_t Row, int32_t Keep) {
  if (HoldsExclusiveLock()) return true;
  requireFiles("LockRow");
  if (GetBaseTable()->IsInTransaction()) {
    // A row kept for the transaction: its byte is held already.
    std::unique_ptr<TBRNRowLock> kept(transactionRowLocks->DetachLock(Row));
    if (kept) {
      if (Keep != 0) kept->Value = Keep;
      try {
        rowLocks->PutLock(Row, kept.release());
      } catch (...) {
        // The record is gone: its byte must not outlive it.
        rowsetFile->UnlockRow(Row);
        throw;
      }
      return true;
    }
  }
  if (Row < 1) return false;
  const TBRNTableSettings& settings = GetEnvironment().GetTableSettings();
  int32_t failures = 0;
  while (!rowsetFile->LockRow(Row)) {
    if (++failures > settings.RecordLockRetryCount) return false;
    if (settings.RecordLockWaitTime > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(settings.RecordLockWaitTime));
    }
  }
  try {
    rowLocks->AddLock(Holder, Row, Keep);
  } catch (...) {
    rowsetFile->UnlockRow(Row);
    throw;
  }
  return true;
}

bool TBRNTableManager::ReleaseRowLock(int32_t Row) {
  std::unique_ptr<TBRNRowLock> lock(rowLocks ? rowLocks->DetachLock(Row) : nullptr);
  if (!lock) return HoldsExclusiveLock();
  if (lock->Value != 0 && GetBaseTable()->IsInTransaction()) {
    // Kept until the transaction ends, byte and all.
    transactionRowLocks->PutLock(Row, lock.release());
    return true;
  }
  return rowsetFile->UnlockRow(Row);
}

void TBRNTableManager::releaseRowLockQuietly(int32_t Row) noexcept {
  try {
    ReleaseRowLock(Row);
  } catch (...) {
    // Called while another error unwinds: that error is the one reported.
  }
}

bool TBRNTableManager::IsRowLocked(int32_t Row, bool WithTransaction) {
  if (!rowLocks) return false;
  if (rowLocks->IsLocked(Row)) return true;
  return WithTransaction && GetBaseTable()->IsInTransaction() && transactionRowLocks->IsLocked(Row);
}

bool TBRNTableManager::ReleaseHandleRowLocks(TBRNHandleObject* Holder) {
  if (!rowLocks) return true;
  int32_t row = 0;
  TBRNRowLock* lock = nullptr;
  while (rowLocks->NextLock(row, lock)) {
    if (Holder != nullptr && lock->Holder != Holder) continue;
    if (!ReleaseRowLock(row)) return false;
  }
  return true;
}

bool TBRNTableManager::ReleaseTransactionRowLocks() {
  if (!transactionRowLocks) return true;
  bool released = true;
  int32_t row = 0;
  while (transactionRowLocks->NextLockedRow(row)) {
    transactionRowLocks->RemoveLock(row);
    if (!rowsetFile->UnlockRow(row)) released = false;
  }
  return released;
}

bool TBRNTableManager::releaseAllRowLocks() {
  bool released = true;
  for (TBRNRowLocks* locks : {rowLocks.get(), transactionRowLocks.get()}) {
    if (locks == nullptr) continue;
    int32_t row = 0;
    while (locks->NextLockedRow(row)) {
      locks->RemoveLock(row);
      if (!HoldsExclusiveLock() && !rowsetFile->UnlockRow(row)) released = false;
    }
  }
  if (referencedKeyLocks) referencedKeyLocks->Clear();
  return released;
}

// ---------------------------------------------------------------------------
// Row state

int32_t TBRNTableManager::CheckRowState(int32_t Row, int32_t RowVersion, int32_t UpdateCounter,
                                        bool SkipDetection, bool ForceDetection) {
  requireFiles("CheckRowState");
  HasChanged(false);
  if (!gotoRow(Row)) return kRowReplaced;
  const TBRNRowsetRow* stored = rowNavigator->GetCurrentRow();
  if (stored->Status == kRowDeleted || stored->Version != RowVersion) return kRowReplaced;
  bool detect = ForceDetection || GetEnvironment().GetTableSettings().RecordChangeDetection;
  if (!SkipDetection && detect && stored->UpdateCounter != UpdateCounter) return kRowModified;
  return kRowCurrent;
}

void TBRNTableManager::CheckRowCurrent(int32_t Row, int32_t RowVersion, int32_t UpdateCounter,
                                       bool SkipDetection, bool ForceDetection) {
  int32_t state = CheckRowState(Row, RowVersion, UpdateCounter, SkipDetection, ForceDetection);
  if (state == kRowReplaced) RaiseRowDeleted();
  if (state == kRowModified) RaiseRowModified();
}

bool TBRNTableManager::LockRowForUpdate(TBRNHandleObject* Holder, int32_t Row, int32_t RowVersion,
                                        int32_t UpdateCounter, bool SkipDetection,
                                        bool ForceDetection, int32_t Keep) {
  requireFiles("LockRowForUpdate");
  if (const TBRNRowLock* held = rowLocks->FindLock(Row)) {
    if (held->Holder != Holder) RaiseCannotLockRow();
    return false;
  }
  if (!LockRow(Holder, Row, Keep)) RaiseCannotLockRow();
  int32_t state = kRowCurrent;
  try {
    state = CheckRowState(Row, RowVersion, UpdateCounter, SkipDetection, ForceDetection);
  } catch (...) {
    releaseRowLockQuietly(Row);
    throw;
  }
  if (state == kRowCurrent) return true;
  ReleaseRowLock(Row);
  if (state == kRowReplaced) RaiseRowDeleted();
  RaiseRowModified();
  // An override that returned broke its contract.
  throw std::logic_error("RaiseRowModified returned");
}

void TBRNTableManager::CheckRowVisible(int32_t Row, int32_t VisibleRow) {
  if (Row == VisibleRow) return;
  ReleaseRowLock(Row);
  RaiseRowNotVisible();
}

void TBRNTableManager::UnlockRow(int32_t Row) {
  if (!ReleaseRowLock(Row)) RaiseCannotUnlockRow();
}

void TBRNTableManager::UnlockRows(TBRNHandleObject* Holder) {
  if (!rowLocks) return;
  bool inTransaction = GetBaseTable()->IsInTransaction();
  bool released = true;
  if (Holder == nullptr && (!inTransaction || GetClosing())) {
    released = releaseAllRowLocks();
  } else if (inTransaction) {
    if (Holder == nullptr) released = ReleaseTransactionRowLocks();
  } else {
    released = ReleaseHandleRowLocks(Holder);
  }
  if (!released) RaiseCannotUnlockRow();
}

// ---------------------------------------------------------------------------
// Row access

bool TBRNTableManager::gotoRow(int32_t Row) {
  for (;;) {
    bool restart = false;
    bool inside = rowNavigator->GotoRowNumber(Row, kDirectionForward, restart);
    // A restart emptied the cache: the next read sees the other writer's rows.
    if (!restart) return inside;
  }
}

void TBRNTableManager::copyCurrentRow(TBRNRowValues& Target) {
  auto* rowValues = dynamic_cast<TBRNRowsetRowValues*>(&Target);
  if (rowValues != nullptr && rowValues->GetRow() != nullptr &&
      rowValues->GetRow()->Owner == rowsetFile.get() && rowValues->GetRow()->CacheIndex < 0) {
    // A detached row of this file takes the header too: the row version
    // names the owner of the row's BLOB chains.
    TBRNRowsetRow* row = rowValues->GetRow();
    row->AssignRow(*rowNavigator->GetCurrentRow());
    rowValues->SetRow(row);
    return;
  }
  Target.Assign(rowNavigator->GetCurrentValues());
}

void TBRNTableManager::GotoRowNumber(int32_t Row) {
  requireFiles("GotoRowNumber");
  gotoRow(Row);
}

bool TBRNTableManager::ReadRowByNumber(int32_t Row, TBRNRowValues& Target) {
  requireFiles("ReadRowByNumber");
  if (Row < 1 || Row > rowsetFile->GetBlockCount()) return false;
  if (!gotoRow(Row)) return false;
  copyCurrentRow(Target);
  return true;
}

bool TBRNTableManager::FirstRowByIndex(TBRNRowValues& Target, int32_t Index) {
  requireFiles("FirstRowByIndex");
  TBRNIndexNavigator* navigator = GetIndexNavigator(Index);
  bool restart = false;
  do {
    navigator->First(restart);
  } while (restart);
  int32_t row = navigator->GetRowNumber();
  return row != 0 && ReadRowByNumber(row, Target);
}

bool TBRNTableManager::NextRowByIndex(TBRNRowValues& Target, int32_t Index) {
  requireFiles("NextRowByIndex");
  TBRNIndexNavigator* navigator = GetIndexNavigator(Index);
  bool restart = false;
  bool moved = false;
  do {
    moved = navigator->Next(restart);
  } while (restart);
  return moved && ReadRowByNumber(navigator->GetRowNumber(), Target);
}

void TBRNTableManager::ReadIndexRow(TBRNRowValues& Target, int32_t Index) {
  requireFiles("ReadIndexRow");
  int32_t row = GetIndexNavigator(Index)->GetRowNumber();
  if (row == 0) throw std::logic_error("ReadIndexRow without a current key");
  ReadRowByNumber(row, Target);
}

bool TBRNTableManager::FindRowByKey(TBRNRowValues& Target, const TBRNRowValues& Values,
                                    int32_t Index, bool CopyRow) {
  requireFiles("FindRowByKey");
  BuildIndexKey(Values, Index, false);
  TBRNIndexNavigator* navigator = GetIndexNavigator(Index);
  bool restart = false;
  int32_t found = 1;
  do {
    found = navigator->FindKey(*GetIndexKey(Index), 0, restart, false);
  } while (restart);
  if (found != 0) return false;
  if (CopyRow) ReadRowByNumber(navigator->GetRowNumber(), Target);
  return true;
}

}  // namespace brn
