// The row writes of the table manager (insert, update, delete) and EMPTY
// TABLE. Each row change holds the table's Transaction lock from its first
// to its last step, and everything it does to the files (counters, the row,
// every index key, the published-update record) is one operation over the
// table's file set: a change that fails undoes exactly itself, inside a
// transaction as well, and the transaction goes on.
#include <exception>
#include <stdexcept>
#include <string>

#include "foundation/text/exception.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "storage/files/table_file_set.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/rows/row_locks.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

constexpr int32_t kPublishInsert = 0;
constexpr int32_t kPublishUpdate = 1;
constexpr int32_t kPublishDelete = 2;

void requireOpen(const TBRNTableManager& manager, const char* operation) {
  if (manager.GetFiles().empty()) {
    throw std::logic_error(std::string(operation) + " on a closed table manager");
  }
}

// Puts the row navigator on stored row Row; a row beyond the file or
// deleted raises 1007.
void positionOnStoredRow(TBRNTableManager& manager, int32_t Row) {
  TBRNRowsetNavigator& navigator = *manager.GetRowNavigator();
  navigator.GotoRowNumber(Row);
  if (navigator.GetRowNumber() != Row || navigator.GetCurrentRow()->Status == kRowDeleted) {
    manager.RaiseRowDeleted();
  }
}

void unlockTransaction(TBRNTableManager& manager) {
  manager.GetEnvironment().UnlockObject(manager.GetBaseTable(), kBRNLockTypeTransaction);
}

// The end of a change that failed: the navigators stand on nothing (the
// blocks they copied may have been put back by the operation's rollback),
// the referenced keys and the Transaction lock are released. Called while
// the change's error unwinds, so later failures are dropped.
void abandonRowChange(TBRNTableManager& manager) noexcept {
  try {
    manager.GetRowNavigator()->ClearCurrentRow();
    for (int32_t i = 0; i < manager.GetIndexCount(); ++i) {
      manager.GetIndexNavigator(i)->ClearCurrentRow();
    }
  } catch (...) {
    // The change's error is the one reported.
  }
  try {
    manager.ReleaseReferencedKeyLocks();
  } catch (...) {
    // The change's error is the one reported.
  }
  try {
    unlockTransaction(manager);
  } catch (...) {
    // The change's error is the one reported.
  }
}

// The end of a change that succeeded. The referenced rows stay locked until
// the change is flushed: a session deleting one of them then sees the
// referring row.
void finishRowChange(TBRNTableManager& manager) {
  try {
    manager.ReleaseReferencedKeyLocks();
  } catch (...) {
    try {
      unlockTransaction(manager);
    } catch (...) {
      // The release's error is the one reported.
    }
    throw;
  }
  unlockTransaction(manager);
}

}  // namespace

void TBRNTableManager::InsertRow(TBRNRowValues& Values, int32_t& RowNumber, int32_t& RowVersion,
                                 int32_t& UpdateCounter, bool Copying) {
  requireOpen(*this, "InsertRow");
  lock(kBRNLockTypeTransaction);
  try {
    RefreshFilesIfShared();
    TBRNIndexes* indexes = GetIndexes();
    int32_t row = 0;
    int32_t version = 0;
    int32_t counter = 0;
    {
      TBRNTableOperation operation(rowsetFile.get());
      version = rowsetFile->NextVersion();
      if (!Copying) Values.GetItem(0)->SetAsInteger(rowsetFile->NextRowID());
      // Generated columns come before DEFAULT values: a DEFAULT never sees a
      // generated column's value of the row being inserted as NULL.
      AssignIdentityValues(Values);
      ComputeGeneratedColumns(Values, true);
      ComputeColumns(Values);
      CheckRowConstraints(Values, RowNumber, 0, false);
      if (!Copying && UsesPublishedUpdatesFile()) WritePublishedUpdate(kPublishInsert, Values);
      rowNavigator->InsertRow(version, Values, row, counter);
      for (int32_t i = 0; i < indexes->Count(); ++i) {
        if (indexes->GetItem(i)->IsTextIndex()) {
          InsertTextKeys(Values, row, i);
        } else {
          InsertKey(Values, row, i);
        }
      }
      // A row this transaction wrote stays locked until it ends.
      if (GetBaseTable()->IsInTransaction() && !transactionRowLocks->IsLocked(row)) {
        if (!LockRow(this, row, 1)) RaiseCannotLockRow();
        ReleaseRowLock(row);
      }
      operation.Commit();
    }
    RowNumber = row;
    RowVersion = version;
    UpdateCounter = counter;
    Values.SetAllModified(false);
    if (!HoldsExclusiveLock()) FlushFiles(GetEnvironment().GetTableSettings().ForceBufferFlush);
  } catch (...) {
    abandonRowChange(*this);
    throw;
  }
  finishRowChange(*this);
}

void TBRNTableManager::UpdateRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter) {
  requireOpen(*this, "UpdateRow");
  lock(kBRNLockTypeTransaction);
  try {
    RefreshFilesIfShared();
    // The stored row as it stands under the lock: index keys are deleted
    // and compared by its values.
    positionOnStoredRow(*this, RowNumber);
    TBRNIndexes* indexes = GetIndexes();
    int32_t counter = 0;
    {
      TBRNTableOperation operation(rowsetFile.get());
      ComputeGeneratedColumns(Values, false);
      CheckRowConstraints(Values, RowNumber, 1, false);
      if (UsesPublishedUpdatesFile() && RowChanged(Values)) {
        WritePublishedUpdate(kPublishUpdate, Values);
      }
      for (int32_t i = 0; i < indexes->Count(); ++i) {
        if (indexes->GetItem(i)->IsTextIndex()) {
          UpdateTextKeys(Values, RowNumber, i);
        } else {
          UpdateKey(Values, RowNumber, i);
        }
      }
      rowNavigator->UpdateRow(Values, RowNumber, counter);
      operation.Commit();
    }
    UpdateCounter = counter;
    Values.SetAllModified(false);
    if (!HoldsExclusiveLock()) FlushFiles(GetEnvironment().GetTableSettings().ForceBufferFlush);
  } catch (...) {
    abandonRowChange(*this);
    throw;
  }
  finishRowChange(*this);
}

// The keys deleted are those of the stored row, whatever Values hold.
void TBRNTableManager::DeleteRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter) {
  requireOpen(*this, "DeleteRow");
  lock(kBRNLockTypeTransaction);
  try {
    RefreshFilesIfShared();
    positionOnStoredRow(*this, RowNumber);
    TBRNRowValues& stored = rowNavigator->GetCurrentValues();
    TBRNIndexes* indexes = GetIndexes();
    int32_t counter = 0;
    {
      TBRNTableOperation operation(rowsetFile.get());
      CheckRowConstraints(Values, RowNumber, 2, false);
      if (UsesPublishedUpdatesFile()) WritePublishedUpdate(kPublishDelete, Values);
      for (int32_t i = 0; i < indexes->Count(); ++i) {
        if (indexes->GetItem(i)->IsTextIndex()) {
          DeleteTextKeys(stored, RowNumber, i);
        } else {
          DeleteKey(stored, RowNumber, i);
        }
      }
      rowNavigator->DeleteRow(RowNumber, counter);
      operation.Commit();
    }
    rowNavigator->ClearCurrentRow();
    UpdateCounter = counter;
    Values.SetAllModified(false);
    if (!HoldsExclusiveLock()) FlushFiles(GetEnvironment().GetTableSettings().ForceBufferFlush);
  } catch (...) {
    abandonRowChange(*this);
    throw;
  }
  finishRowChange(*this);
}

// ---------------------------------------------------------------------------
// Appending in batches

TBRNRowAppender::TBRNRowAppender(TBRNTableManager& Table) : table_(Table) {
  requireOpen(table_, "TBRNRowAppender");
  if (!table_.inFileTransaction() && !table_.HoldsExclusiveLock())
    throw std::logic_error("rows appended in batches to a table neither in a transaction nor held");
}

TBRNRowAppender::~TBRNRowAppender() {
  try {
    EndBatch();
  } catch (...) {
    // Only a batch in which a change failed refuses to commit; it is
    // rolled back then, and that change's error is the one reported.
  }
}

int32_t TBRNRowAppender::Append(TBRNRowValues& Values) {
  TBRNTableFileSet& set = table_.GetFileSet();
  int32_t row = 0;
  int32_t version = 0;
  int32_t counter = 0;
  if (!open_ && set.InBatch()) {
    // Another appender's batch is open on the table: the row folds into
    // that one, whose owner answers for it.
    table_.InsertRow(Values, row, version, counter, false);
    return row;
  }
  if (!open_) {
    set.BeginBatch();
    open_ = true;
    rowsInBatch_ = 0;
  }
  try {
    table_.InsertRow(Values, row, version, counter, false);
  } catch (...) {
    rollBackBatch();
    throw;
  }
  if (++rowsInBatch_ >= kRowsPerBatch) EndBatch();
  return row;
}

void TBRNRowAppender::EndBatch() {
  if (!open_) return;
  open_ = false;
  try {
    // A change of the caller's that failed inside the batch makes this
    // roll the batch back and raise.
    table_.GetFileSet().CommitOperation();
  } catch (...) {
    clearNavigators();
    throw;
  }
}

void TBRNRowAppender::rollBackBatch() noexcept {
  if (!open_) return;
  open_ = false;
  try {
    table_.GetFileSet().RollbackOperation();
  } catch (...) {
    // The failure that ends the batch is the one reported.
  }
  clearNavigators();
}

void TBRNRowAppender::clearNavigators() noexcept {
  // The navigators may hold copies of blocks the rollback put back.
  try {
    table_.GetRowNavigator()->ClearCurrentRow();
    for (int32_t i = 0; i < table_.GetIndexCount(); ++i)
      table_.GetIndexNavigator(i)->ClearCurrentRow();
  } catch (...) {
    // The failure that ends the batch is the one reported.
  }
}

bool TBRNTableManager::EmptyTable(bool SkipScan) {
  requireOpen(*this, "EmptyTable");
  lock(kBRNLockTypeTransaction);
  try {
    RefreshFilesIfShared();
    if (!SkipScan && !CheckConstraintsPass(
                         2, "Checking constraints",
                         "The empty could not complete due to an error with the row %s (%s)")) {
      unlock(kBRNLockTypeTransaction);
      return false;
    }
    rowNavigator->ClearCurrentRow();
    for (auto& navigator : indexNavigators) navigator->ClearCurrentRow();
    rowsetFile->Empty();
    for (TBRNTableFileManager* file : files) {
      if (file != rowsetFile.get()) file->Empty();
    }
    if (!HoldsExclusiveLock()) FlushFiles(GetEnvironment().GetTableSettings().ForceBufferFlush);
  } catch (...) {
    unlockQuietly(kBRNLockTypeTransaction);
    throw;
  }
  unlock(kBRNLockTypeTransaction);
  return true;
}

}  // namespace brn
