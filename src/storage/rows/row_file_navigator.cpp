#include "storage/rows/row_file_navigator.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "metadata/catalog/columns.h"
#include "storage/files/table_file_guards.h"
#include "storage/files/table_file_set.h"
#include "storage/rows/execution_seam.h"

namespace brn {

// ---- TBRNRowsetRowValues ----

TBRNRowsetRowValues::TBRNRowsetRowValues(TBRNColumns* columns, TBRNRowsetHost* host,
                                         bool evaluateComputed)
    : TBRNRowValues(columns, evaluateComputed), host_(host) {}

void TBRNRowsetRowValues::SetRow(TBRNRowsetRow* row) {
  row_ = row;
  SetBuffer(row != nullptr ? &row->BlockStream : nullptr);
}

int32_t TBRNRowsetRowValues::GetRowVersion() const {
  return row_ != nullptr ? row_->Version : 0;
}

void TBRNRowsetRowValues::ReadBlob(int32_t BlockRef, TBRNMemoryStream& Stream, bool Compressed) {
  if (host_ == nullptr) throw std::logic_error("BLOB read of a row file without its table");
  host_->ReadBlob(GetRowVersion(), BlockRef, Stream, Compressed);
}

void TBRNRowsetRowValues::WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                                    int32_t Compression, int32_t& StoredLength) {
  if (host_ == nullptr) throw std::logic_error("BLOB write of a row file without its table");
  host_->WriteBlob(RowVersion, BlockRef, Stream, Compression, StoredLength);
}

void TBRNRowsetRowValues::ComputeColumn(TBRNExprToken* ExpressionRoot) {
  if (Evaluator == nullptr || Context == nullptr) {
    throw std::logic_error("computed column of a row file without an evaluator");
  }
  EvaluateWithRow(*Evaluator, *Context, ExpressionRoot, *this);
}

// ---- TBRNRowsetNavigator ----

TBRNRowsetNavigator::TBRNRowsetNavigator(TBRNRowsetManager* rowFile) : rowFile_(rowFile) {
  if (rowFile == nullptr) throw std::invalid_argument("row navigator without a row file");
  TBRNColumns* columns = rowFile->GetColumns();
  TBRNRowsetHost* host = rowFile->GetRowsetHost();
  current_ = rowFile->NewRowBuffer();
  currentValues_ = std::make_unique<TBRNRowsetRowValues>(columns, host);
  searchValues_ = std::make_unique<TBRNRowsetRowValues>(columns, host);
  writeValues_ = std::make_unique<TBRNRowsetRowValues>(columns, host);
  currentValues_->SetRow(current_.get());
}

TBRNRowsetNavigator::~TBRNRowsetNavigator() {
  searchValues_->SetRow(nullptr);
  writeValues_->SetRow(nullptr);
  rowFile_->ReleaseRow(walkRow_);
  rowFile_->ReleaseRow(writeRow_);
}

int32_t TBRNRowsetNavigator::GetRowCount() {
  return rowFile_->RowCount;
}

void TBRNRowsetNavigator::ClearCurrentRow() {
  hasCurrent_ = false;
  current_->BlockNumber = 0;
}

int32_t TBRNRowsetNavigator::GetRowNumber() {
  return hasCurrent_ ? current_->BlockNumber : 0;
}

int32_t TBRNRowsetNavigator::GetReadAheadCount(int32_t, TBRNDirection, int32_t Default) {
  return Default;
}

void TBRNRowsetNavigator::SetCurrentRow(TBRNRowsetRow* Row) {
  if (Row == nullptr) {
    ClearCurrentRow();
    return;
  }
  if (hasCurrent_ && current_->BlockNumber == Row->BlockNumber &&
      current_->Version == Row->Version && current_->UpdateCounter == Row->UpdateCounter) {
    return;
  }
  current_->AssignRow(*Row);
  current_->Modified = false;
  hasCurrent_ = true;
  // Rebinding drops the BLOB data loaded from the previous row.
  currentValues_->SetRow(current_.get());
}

void TBRNRowsetNavigator::releaseHeld(TBRNRowsetRow*& row) {
  TBRNRowsetRow* held = row;
  row = nullptr;
  rowFile_->ReleaseRow(held);
}

bool TBRNRowsetNavigator::atEmptyFile() {
  if (rowFile_->GetBlockCount() != 0) return false;
  ClearCurrentRow();
  SetBof(true);
  SetEof(true);
  return true;
}

bool TBRNRowsetNavigator::readCurrent(int32_t n, TBRNDirection direction, bool& restart) {
  int32_t count = GetReadAheadCount(n, direction, rowFile_->GetReadAheadCount());
  walkRow_ = rowFile_->GetRowChecked(n, count > 1, uint8_t(direction), count, restart);
  if (walkRow_ == nullptr) return false;
  try {
    SetCurrentRow(walkRow_);
  } catch (...) {
    releaseHeld(walkRow_);
    throw;
  }
  releaseHeld(walkRow_);
  return true;
}

bool TBRNRowsetNavigator::GotoRowNumber(int32_t Row) {
  bool restart = false;
  return GotoRowNumber(Row, kDirectionForward, restart);
}

bool TBRNRowsetNavigator::GotoRowNumber(int32_t Row, TBRNDirection Direction, bool& Restart) {
  TableDeferredReadBracket operation(rowFile_->GetHost());
  Restart = false;
  if (atEmptyFile()) return false;
  int32_t last = rowFile_->GetBlockCount();
  int32_t n = std::clamp(Row, 1, last);
  if (!readCurrent(n, Direction, Restart)) return false;
  SetBof(Row <= 0);
  SetEof(Row > last);
  return Row >= 1 && Row <= last;
}

bool TBRNRowsetNavigator::GotoSequenceNumber(int32_t) {
  return false;
}

bool TBRNRowsetNavigator::seekEnd(TBRNDirection direction, bool& Restart) {
  TableDeferredReadBracket operation(rowFile_->GetHost());
  Restart = false;
  if (atEmptyFile()) return false;
  bool forward = direction == kDirectionForward;
  if (!readCurrent(forward ? 1 : rowFile_->GetBlockCount(), direction, Restart)) return false;
  SetBof(forward);
  SetEof(!forward);
  SeekAcceptedRow(direction, Restart);
  return !Restart && GetRowNumber() != 0;
}

bool TBRNRowsetNavigator::First(bool& Restart) {
  return seekEnd(kDirectionForward, Restart);
}

bool TBRNRowsetNavigator::Last(bool& Restart) {
  return seekEnd(kDirectionBackward, Restart);
}

bool TBRNRowsetNavigator::Next(bool& Restart) {
  TableDeferredReadBracket operation(rowFile_->GetHost());
  Restart = false;
  if (atEmptyFile()) return false;
  int32_t last = rowFile_->GetBlockCount();
  int32_t current = GetRowNumber();
  if (current >= last) {
    SetEof(true);
    SeekAcceptedRow(kDirectionBackward, Restart);
    return false;
  }
  if (!readCurrent(current + 1, kDirectionForward, Restart)) return false;
  SetBof(false);
  SetEof(false);
  SeekAcceptedRow(kDirectionForward, Restart);
  return !Restart && !GetEof();
}

bool TBRNRowsetNavigator::Prior(bool& Restart) {
  TableDeferredReadBracket operation(rowFile_->GetHost());
  Restart = false;
  if (atEmptyFile()) return false;
  int32_t last = rowFile_->GetBlockCount();
  int32_t current = GetRowNumber();
  if (current <= 1) {
    SetBof(true);
    SeekAcceptedRow(kDirectionForward, Restart);
    return false;
  }
  if (!readCurrent(std::min(current - 1, last), kDirectionBackward, Restart)) return false;
  SetBof(false);
  SetEof(false);
  SeekAcceptedRow(kDirectionBackward, Restart);
  return !Restart && !GetBof();
}

int32_t TBRNRowsetNavigator::FindKey(const TBRNValues& Values, int32_t PartialLength, bool& Restart,
                                     bool CaseInsensitive) {
  TableDeferredReadBracket operation(rowFile_->GetHost());
  Restart = false;
  if (atEmptyFile()) return 1;
  int32_t last = rowFile_->GetBlockCount();
  int32_t count = GetReadAheadCount(1, kDirectionForward, rowFile_->GetReadAheadCount());
  for (int32_t n = 1; n <= last; ++n) {
    walkRow_ = rowFile_->GetRowChecked(n, count > 1, kDirectionForward, count, Restart);
    if (walkRow_ == nullptr) return 1;
    bool match = false;
    try {
      if (walkRow_->Status != kRowDeleted) {
        SetCurrentRow(walkRow_);
        bool stop = false;
        if (AcceptRow(n, kDirectionForward, stop)) {
          searchValues_->SetRow(walkRow_);
          match = searchValues_->Compare(Values, PartialLength, CaseInsensitive) == 0;
          searchValues_->SetRow(nullptr);
        }
      }
      if (match) SetCurrentRow(walkRow_);
    } catch (...) {
      // AcceptRow (a cursor's filter) and the comparison (a BLOB read) may
      // raise: the block is not left pinned.
      searchValues_->SetRow(nullptr);
      releaseHeld(walkRow_);
      throw;
    }
    releaseHeld(walkRow_);
    if (match) {
      SetBof(false);
      SetEof(false);
      return 0;
    }
  }
  if (!readCurrent(last, kDirectionForward, Restart)) return 1;
  SetBof(false);
  SetEof(true);
  return 1;
}

TBRNRowsetRow* TBRNRowsetNavigator::pinForChange(int32_t n) {
  // Block NextBlock would be appended and a number beyond it is no row.
  if (n < 1 || n > rowFile_->GetBlockCount()) {
    rowFile_->RaiseCorrupt("Invalid row number specified for retrieval from cache");
  }
  TBRNRowsetRow* row = rowFile_->GetRow(n, false, 0, 0);
  if (row == nullptr) rowFile_->RaiseCorrupt("Cannot find row during retrieval from cache");
  return row;
}

void TBRNRowsetNavigator::abandonChange() {
  writeValues_->SetRow(nullptr);
  releaseHeld(writeRow_);
}

void TBRNRowsetNavigator::InsertRow(int32_t Version, TBRNRowValues& Values, int32_t& RowNumber,
                                    int32_t& UpdateCounter) {
  TableReadBracket bracket(rowFile_->GetHost());
  TBRNTableOperation operation(rowFile_);
  try {
    writeRow_ = rowFile_->AllocateRow();
    TBRNRowsetRow* row = writeRow_;
    writeValues_->SetRow(row);
    row->SetVersion(Version);
    int32_t counter = row->IncrementUpdateCounter();
    if (row->Status == kRowReused) {
      // The deleted row's BLOB chains are reused by the new row.
      Values.CopyBlobReferences(*writeValues_);
      writeValues_->SetAllNull();
      row->SetStatus(kRowLive);
    } else {
      // Never write into chains that the values refer to from another row.
      Values.ClearBlobReferences();
    }
    Values.SaveBlobs(Version);
    writeValues_->Assign(Values);
    row->MarkModified();
    rowFile_->SetLastRowID(std::max(rowFile_->LastRowID, row->GetRowID()));
    rowFile_->SetLastVersion(row->Version);
    rowFile_->RaiseIdentityValues(Values);
    rowFile_->IncrementRowCount();
    RowNumber = row->BlockNumber;
    UpdateCounter = counter;
  } catch (...) {
    abandonChange();
    throw;
  }
  writeValues_->SetRow(nullptr);
  releaseHeld(writeRow_);
  operation.Commit();
}

void TBRNRowsetNavigator::UpdateRow(TBRNRowValues& Values, int32_t RowNumber,
                                    int32_t& UpdateCounter) {
  TableReadBracket bracket(rowFile_->GetHost());
  TBRNTableOperation operation(rowFile_);
  // A row outside the file is refused before anything changes.
  writeRow_ = pinForChange(RowNumber);
  try {
    TBRNRowsetRow* row = writeRow_;
    int32_t counter = row->IncrementUpdateCounter();
    Values.SaveBlobs(row->Version);
    writeValues_->SetRow(row);
    writeValues_->Assign(Values);
    row->MarkModified();
    UpdateCounter = counter;
  } catch (...) {
    abandonChange();
    throw;
  }
  writeValues_->SetRow(nullptr);
  releaseHeld(writeRow_);
  operation.Commit();
}

void TBRNRowsetNavigator::DeleteRow(int32_t RowNumber, int32_t& UpdateCounter) {
  TableReadBracket bracket(rowFile_->GetHost());
  TBRNTableOperation operation(rowFile_);
  writeRow_ = pinForChange(RowNumber);
  try {
    TBRNRowsetRow* row = writeRow_;
    if (row->Status == kRowDeleted) {
      // Already on the free list: linking it again would make a loop.
      UpdateCounter = row->UpdateCounter;
      releaseHeld(writeRow_);
      operation.Commit();
      return;
    }
    row->SetStatus(kRowDeleted);
    int32_t counter = row->IncrementUpdateCounter();
    rowFile_->FreeRow(row);
    rowFile_->DecrementRowCount();
    UpdateCounter = counter;
  } catch (...) {
    abandonChange();
    throw;
  }
  releaseHeld(writeRow_);
  operation.Commit();
}

}  // namespace brn
