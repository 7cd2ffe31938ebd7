// VERIFY and REPAIR TABLE in the table manager: the files' own checks, the
// row walk over BLOB references, constraints and index keys, and the
// rebuild of the damaged indexes.
#include "storage/maintenance/table_verification.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "foundation/types/literal_text.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "storage/files/table_file_guards.h"
#include "storage/files/table_file_set.h"
#include "storage/indexes/index_file.h"
#include "storage/indexes/index_keys.h"
#include "storage/rows/blob_file.h"
#include "storage/rows/published_updates_file.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

constexpr int32_t kConstraintViolationCode = 1004;
constexpr int32_t kCorruptCode = 601;
// CheckRowConstraints: the check of a stored row.
constexpr int32_t kCheckStoredRow = 4;

std::string text(int64_t value) {
  return std::to_string(value);
}

std::string localTimestamp() {
  return FormatTimestampLiteral(true, CurrentTimestamp(false));
}

// Every index of the open manager's table, by position.
TBRNIndex* indexAt(TBRNTableManager& manager, int32_t i) {
  return manager.GetIndexLayout(i)->GetIndex();
}

void markEveryIndex(TBRNTableManager& manager) {
  for (int32_t i = 0; i < manager.GetIndexCount(); ++i) indexAt(manager, i)->RebuildNeeded = true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Row names

std::string VerificationRowName(TBRNTableManager& manager, const TBRNRowValues& values) {
  for (int32_t i = 0; i < manager.GetIndexCount(); ++i) {
    if (manager.GetIndexLayout(i)->GetIndexType() != kIndexPrimaryKey) continue;
    manager.BuildIndexKey(values, i, false);
    const TBRNIndexLayoutKeyValues& key = *manager.GetIndexKey(i);
    std::string name;
    for (int32_t k = 0; k < key.GetCount(); ++k) {
      if (k > 0) name += ",";
      const TBRNValue* value = key.GetItem(k);
      if (!value->GetNull()) name += value->GetAsString();
    }
    return name;
  }
  const TBRNValue* id = values.GetCount() > 0 ? values.GetItem(0) : nullptr;
  return id == nullptr || id->GetNull() ? std::string() : id->GetAsString();
}

// ---------------------------------------------------------------------------
// The row walk

TBRNTableRowVerification::TBRNTableRowVerification(TBRNTableManager& manager, bool repair,
                                                   std::vector<bool> treeDamaged)
    : manager_(manager), repair_(repair), treeDamaged_(std::move(treeDamaged)) {
  treeDamaged_.resize(size_t(manager_.GetIndexCount()), false);
  row_ = manager_.NewRowBuffer();
  values_ = std::make_unique<TBRNRowsetRowValues>(manager_.GetColumns(), &manager_);
  values_->Evaluator = &manager_.GetEvaluator();
  values_->Context = &manager_.GetContext();
  TBRNColumns* columns = manager_.GetColumns();
  for (int32_t i = 0; i < columns->Count(); ++i) {
    const TBRNColumn* column = columns->GetItem(i);
    if (column->DataType == dtLob && !column->Computed) blobColumns_.push_back(i);
  }
  TBRNBlobManager* blobs = manager_.GetBlobManager();
  firstBlocks_.Size = blobs != nullptr ? std::max(1, blobs->GetBlockCount()) : 1;
  // A NOT NULL column or a constraint may raise its violation with a code
  // of its own; it is a finding all the same.
  violationCodes_.push_back(kConstraintViolationCode);
  for (int32_t i = 0; i < columns->Count(); ++i) {
    const int32_t code = columns->GetItem(i)->NotNullErrorCode;
    if (code != 0) violationCodes_.push_back(code);
  }
  TBRNConstraints* constraints = manager_.GetBaseTable()->Constraints.get();
  for (int32_t i = 0; i < constraints->Count(); ++i) {
    const int32_t code = constraints->GetItem(i)->ErrorCode;
    if (code != 0) violationCodes_.push_back(code);
  }
}

TBRNTableRowVerification::~TBRNTableRowVerification() {
  values_->SetRow(nullptr);
}

void TBRNTableRowVerification::readRow(int32_t n) {
  TBRNRowsetManager& rows = *manager_.GetRowsetManager();
  for (;;) {
    bool restart = false;
    TBRNRowsetRow* stored = rows.GetRowChecked(n, true, 1, rows.GetReadAheadCount(), restart);
    if (stored != nullptr) {
      row_->AssignRow(*stored);
      rows.ReleaseRow(stored);
      return;
    }
    if (!restart) throw std::logic_error("a row read answered no row without a restart");
  }
}

bool TBRNTableRowVerification::anyTreeDamaged() const {
  return std::find(treeDamaged_.begin(), treeDamaged_.end(), true) != treeDamaged_.end();
}

const std::string& TBRNTableRowVerification::rowName() {
  if (!rowNamed_) {
    rowName_ = VerificationRowName(manager_, *values_);
    rowNamed_ = true;
  }
  return rowName_;
}

bool TBRNTableRowVerification::Run(bool& errorsFound) {
  TBRNRowsetManager& rows = *manager_.GetRowsetManager();
  const int32_t last = rows.GetBlockCount();
  TableProgressBracket progress(&manager_);
  int32_t reported = -1;
  for (int32_t n = 1; n <= last; ++n) {
    readRow(n);
    values_->SetRow(row_.get());
    rowNamed_ = false;
    if (row_->Status != kRowDeleted) {
      bool changed = false;
      checkBlobs(errorsFound, changed);
      if (changed) writeBack(n);
      if (checkConstraints(n, errorsFound)) checkKeys(n, errorsFound);
    }
    values_->SetRow(nullptr);
    int32_t percent = int32_t(int64_t(n) * 100 / last);
    if (percent != reported) {
      reported = percent;
      if (!manager_.UpdateProgress(percent)) return false;
    }
  }
  return true;
}

void TBRNTableRowVerification::checkBlobs(bool& errorsFound, bool& changed) {
  for (int32_t position : blobColumns_) checkBlob(position, errorsFound, changed);
}

void TBRNTableRowVerification::checkBlob(int32_t position, bool& errorsFound, bool& changed) {
  TBRNRowValue* value = values_->GetRowValue(position);
  const int32_t first = value->GetBlobBlock();
  if (first == 0) return;
  TBRNColumn& column = value->GetColumn();
  auto finding = [&](const char* pattern, int64_t detail) {
    manager_.LogVerificationError(FormatText(pattern, {rowName(), text(detail)}),
                                  column.GetObjectTypeName(), column.Name, repair_);
    errorsFound = true;
  };
  // A reference that cannot stand goes with its block number: a NULL value
  // that kept the number would write its next value into the chain it
  // names, which is another row's or none.
  auto dropReference = [&]() {
    if (!repair_) return;
    value->SetNullFlag(true);
    value->SetBlobBlock(0);
    value->SetBlobLength(0);
    changed = true;
  };
  const char* invalidBlock = "Invalid BLOB block number in the row %s (%s)";
  TBRNBlobManager* blobs = manager_.GetBlobManager();
  const int32_t blockCount = blobs != nullptr ? blobs->GetBlockCount() : 0;
  if (first < 1 || first > blockCount) {
    finding(invalidBlock, first);
    dropReference();
    return;
  }
  if (firstBlocks_.IsBitSet(first)) {
    finding(invalidBlock, first);
    dropReference();
    return;
  }
  firstBlocks_.SetBit(first);
  TBRNBlobBlock* block = nullptr;
  for (;;) {
    bool restart = false;
    block = blobs->GetBlockChecked(first, false, 1, restart);
    if (block != nullptr) break;
    if (!restart) throw std::logic_error("a BLOB block read answered no block without a restart");
  }
  struct Release {
    TBRNBlobManager* Blobs;
    TBRNBlobBlock* Block;
    ~Release() { Blobs->ReleaseBlock(Block); }
  } release{blobs, block};
  if (block->BlockType != 1) {
    finding(invalidBlock, block->BlockType);
    dropReference();
    return;
  }
  if (block->TotalLength != value->GetBlobLength()) {
    finding("Invalid BLOB size in the row %s (%s)", block->TotalLength);
    if (repair_) {
      value->SetBlobLength(block->TotalLength);
      changed = true;
    }
  }
  // The BLOB file names the version of the row that wrote a chain (reads
  // give a chain of another version no value), so that is what the owner
  // is compared with.
  const int32_t version = row_->Version;
  if (block->Owner != version) {
    finding("Invalid BLOB row version in the row %s (%s)", block->Owner);
    if (repair_) {
      block->Owner = version;
      block->MarkModified();
    }
  }
}

void TBRNTableRowVerification::writeBack(int32_t n) {
  TBRNRowsetManager& rows = *manager_.GetRowsetManager();
  TBRNTableOperation operation(&rows);
  TBRNRowsetRow* stored = nullptr;
  for (;;) {
    bool restart = false;
    stored = rows.GetRowChecked(n, false, 0, 0, restart);
    if (stored != nullptr) break;
    if (!restart) throw std::logic_error("a row read answered no row without a restart");
  }
  const int32_t size = std::min(stored->GetSize(), row_->GetSize());
  if (size > kRowBlockHeaderSize) {
    std::memcpy(stored->Data() + kRowBlockHeaderSize, row_->Data() + kRowBlockHeaderSize,
                size_t(size - kRowBlockHeaderSize));
  }
  stored->MarkModified();
  rows.ReleaseRow(stored);
  operation.Commit();
}

bool TBRNTableRowVerification::checkConstraints(int32_t n, bool& errorsFound) {
  std::string message;
  try {
    manager_.CheckRowConstraints(*values_, n, kCheckStoredRow, false);
    manager_.ReleaseReferencedKeyLocks();
    return true;
  } catch (const EBRNException& error) {
    // A key constraint cannot be checked against a tree the file
    // verification found damaged; that tree is rebuilt from the rows, and
    // a repairing build deletes the rows whose keys it refuses.
    if (error.ErrorCode == kCorruptCode && anyTreeDamaged()) return true;
    if (std::find(violationCodes_.begin(), violationCodes_.end(), error.ErrorCode) ==
        violationCodes_.end()) {
      throw;
    }
    message = error.ErrorMessage;
  }
  manager_.LogVerificationError(FormatText("Row %s deleted (%s)", {rowName(), message}), "", "",
                                repair_);
  errorsFound = true;
  if (!repair_) return true;
  deleteRow(n);
  manager_.RowsDeleted = true;
  markEveryIndex(manager_);
  return false;
}

void TBRNTableRowVerification::deleteRow(int32_t n) {
  for (int32_t i = 0; i < manager_.GetIndexCount(); ++i) {
    if (treeDamaged_[size_t(i)]) continue;
    // Each key change is an operation of its own: a tree that refuses it
    // is left as it was, and is rebuilt with the others.
    try {
      if (manager_.GetIndexLayout(i)->IsTextIndex()) {
        manager_.DeleteTextKeys(*values_, n, i);
      } else if (manager_.HasRowKey(*values_, n, i)) {
        manager_.DeleteKey(*values_, n, i);
      }
    } catch (const EBRNException& error) {
      if (error.ErrorCode != kCorruptCode) throw;
    }
  }
  int32_t counter = 0;
  manager_.GetRowNavigator()->DeleteRow(n, counter);
}

void TBRNTableRowVerification::checkKeys(int32_t n, bool& errorsFound) {
  for (int32_t i = 0; i < manager_.GetIndexCount(); ++i) {
    TBRNIndex* index = indexAt(manager_, i);
    if (index->RebuildNeeded || treeDamaged_[size_t(i)]) continue;
    bool present = manager_.GetIndexLayout(i)->IsTextIndex()
                       ? manager_.HasRowTextKeys(*values_, n, i)
                       : manager_.HasRowKey(*values_, n, i);
    if (present) continue;
    // Once marked, the index is rebuilt whole: later rows are not looked
    // up in it, and it is reported once.
    manager_.LogVerificationError(FormatText("Missing key for the row %s", {rowName()}),
                                  index->GetObjectTypeName(), index->Name, repair_);
    errorsFound = true;
    index->RebuildNeeded = true;
  }
}

// ---------------------------------------------------------------------------
// The table manager's steps

void TBRNTableManager::LogVerificationError(const std::string& Message,
                                            const std::string& SubObjectKind,
                                            const std::string& SubObjectName, bool Repair) {
  const std::string fixed = GetFixedText(Repair);
  if (SubObjectKind.empty()) {
    LogMessage(FormatText("Verification error for the %s %s (%s) - %s",
                          {GetTableName(), GetTableKindName(), Message, fixed}));
  } else {
    LogMessage(FormatText(
        "Verification error for the %s %s in the %s %s (%s) - %s",
        {SubObjectKind, SubObjectName, GetTableName(), GetTableKindName(), Message, fixed}));
  }
}

void TBRNTableManager::ReportVerifyStatus(const std::string& Detail) {
  GetEnvironment().ReportStatus(
      FormatText("Verifying the %s %s - %s...", {GetTableKindName(), GetTableName(), Detail}));
}

bool TBRNTableManager::VerifyFiles(bool& ErrorsFound, bool Repair) {
  requireFiles("VerifyFiles");
  bool ok = rowsetFile->Verify(ErrorsFound, Repair);
  if (ok) ok = indexFile->Verify(ErrorsFound, Repair);
  if (ok && blobFile) ok = blobFile->Verify(ErrorsFound, Repair);
  if (ok && publishedUpdatesFile) ok = publishedUpdatesFile->Verify(ErrorsFound, Repair);
  return ok;
}

namespace {

// The end of a repair, after the walk: flush the mends, rebuild the marked
// indexes, verify the rows again after deletions, flush again. A rebuild
// that fails (a failed write among them) is done once more for every index
// from an empty index file; a second failure passes on.
bool finishRepair(TBRNTableManager& manager, bool& errorsFound) {
  if (errorsFound) {
    manager.MarkFilesChanged();
    manager.FlushFiles(true);
  }
  bool retried = false;
  for (;;) {
    manager.RebuildDeletedRows = false;
    try {
      for (int32_t i = 0; i < manager.GetIndexCount(); ++i) {
        TBRNIndex* index = indexAt(manager, i);
        if (!index->RebuildNeeded) continue;
        manager.ReportVerifyStatus(FormatText("Rebuilding index %s", {index->Name}));
        manager.ClearIndex(index);
        manager.RebuildIndex(index, true);
        index->RebuildNeeded = false;
      }
      break;
    } catch (const EBRNException&) {
      if (retried) throw;
      retried = true;
      manager.GetIndexManager()->Empty();
      markEveryIndex(manager);
    }
  }
  bool ok = true;
  if (manager.RowsDeleted || manager.RebuildDeletedRows) {
    ok = manager.GetRowsetManager()->Verify(errorsFound, true);
  }
  if (errorsFound) {
    manager.MarkFilesChanged();
    manager.FlushFiles(true);
  }
  return ok;
}

}  // namespace

bool TBRNTableManager::VerifyTable(bool& ErrorsFound, bool Repair, bool StructureOnly) {
  requireFiles("VerifyTable");
  LogMessage(FormatText("Verification of the %s %s started at %s",
                        {GetTableKindName(), GetTableName(), localTimestamp()}));
  auto logEnd = [this]() {
    LogMessage(FormatText("Verification of the %s %s ended at %s",
                          {GetTableKindName(), GetTableName(), localTimestamp()}));
  };
  bool ok = false;
  try {
    RowsDeleted = false;
    RebuildDeletedRows = false;
    // A flush cut short may have left a row and its keys in different
    // flushes: a tree that verifies can still miss a row or name a stale
    // one, so a repair of such a table builds every index again.
    bool interrupted = false;
    for (TBRNTableFileManager* file : files) interrupted = interrupted || file->WriteInProgress;
    for (int32_t i = 0; i < GetIndexCount(); ++i) indexAt(*this, i)->RebuildNeeded = false;
    ok = VerifyFiles(ErrorsFound, Repair);
    std::vector<bool> treeDamaged(size_t(GetIndexCount()), false);
    for (int32_t i = 0; i < GetIndexCount(); ++i) {
      treeDamaged[size_t(i)] = indexAt(*this, i)->RebuildNeeded;
    }
    if (ok && Repair && interrupted) markEveryIndex(*this);
    if (ok && !StructureOnly) {
      ReportVerifyStatus("Verifying table contents (logical)");
      TBRNTableRowVerification walk(*this, Repair, std::move(treeDamaged));
      ok = walk.Run(ErrorsFound);
    }
    if (ok && Repair) ok = finishRepair(*this, ErrorsFound);
  } catch (...) {
    try {
      logEnd();
    } catch (...) {
      // The verification's error is the one reported.
    }
    throw;
  }
  logEnd();
  return ok;
}

}  // namespace brn
