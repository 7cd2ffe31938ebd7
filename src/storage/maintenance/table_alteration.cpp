// The table manager's steps of ALTER TABLE: rows rewritten into a working
// copy (anew or in place), checks of the stored rows against a changed
// definition, indexes built from rows, identity restarts and the structure
// checksum stamp.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "storage/files/table_file_guards.h"
#include "storage/files/table_file_set.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/maintenance/maintenance_rows.h"
#include "storage/rows/blob_file.h"
#include "storage/rows/published_updates_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

constexpr int32_t kFlagRowsInPlace = 0x4;
constexpr int32_t kFlagConstraintsChanged = 0x2000;
constexpr int32_t kFlagCheckNotNull = 0x20000;
constexpr int32_t kFlagCheckChecks = 0x40000;
constexpr int32_t kConstraintViolationCode = 1004;

void requireOpenFiles(const TBRNTableManager& manager, const char* operation) {
  if (manager.GetFiles().empty()) {
    throw std::logic_error(std::string(operation) + " on a closed table manager");
  }
}

int32_t progressOf(int32_t row, int32_t total) {
  return total > 0 ? int32_t(int64_t(row) * 100 / total) : 100;
}

bool isUniqueIndex(const TBRNIndex* index) {
  return index->IndexType == kIndexPrimaryKey || index->IndexType == kIndexUnique;
}

}  // namespace

bool TBRNTableManager::AlterRowsFull(TBRNTableManager& Target) {
  requireOpenFiles(*this, "AlterRowsFull");
  requireOpenFiles(Target, "AlterRowsFull");
  std::unique_ptr<TBRNRowsetRow> buffer = Target.NewRowBuffer();
  TBRNRowsetRowValues values(Target.GetColumns(), &Target);
  values.SetRow(buffer.get());
  TBRNCopyFill fill(Target, true);
  {
    TableProgressBracket progress(this);
    const int32_t total = rowsetFile->GetBlockCount();
    TBRNRowsetRowValues& source = rowNavigator->GetCurrentValues();
    for (int32_t row = 1; row <= total; ++row) {
      if (!rowNavigator->GotoRowNumber(row)) break;
      if (rowNavigator->GetCurrentRow()->Status != kRowDeleted) {
        values.SetAllNull();
        try {
          CopyAlteredColumns(*this, source, Target, values);
          int32_t newRow = 0;
          int32_t version = 0;
          int32_t counter = 0;
          Target.InsertRow(values, newRow, version, counter, true);
        } catch (...) {
          LogRowError(*this, source, kAlterationRowError);
          rowNavigator->ClearCurrentRow();
          throw;
        }
      }
      if (!UpdateProgress(progressOf(row, total))) {
        rowNavigator->ClearCurrentRow();
        return false;
      }
    }
    rowNavigator->ClearCurrentRow();
  }
  if (!CopyPublishedUpdates(Target)) return false;
  Target.CopyFileHeaders(*this);
  Target.MarkFilesChanged();
  return true;
}

bool TBRNTableManager::AlterRowsInPlace(TBRNTableManager& Target) {
  requireOpenFiles(*this, "AlterRowsInPlace");
  requireOpenFiles(Target, "AlterRowsInPlace");
  TBRNBaseTable* definition = Target.GetBaseTable();
  std::unique_ptr<TBRNRowsetRow> buffer = Target.NewRowBuffer();
  TBRNRowsetRowValues values(Target.GetColumns(), &Target);
  values.SetRow(buffer.get());
  TBRNCopyFill fill(Target, true);
  TBRNRowsetManager* targetRows = Target.rowsetFile.get();
  // Deleted rows hold their row number with a placeholder that is freed
  // once every row is written: freed earlier, the next row would take its
  // block and the row numbers would shift.
  std::vector<int32_t> deleted;
  {
    TableProgressBracket progress(this);
    const int32_t total = rowsetFile->GetBlockCount();
    TBRNRowsetRowValues& source = rowNavigator->GetCurrentValues();
    for (int32_t row = 1; row <= total; ++row) {
      if (!rowNavigator->GotoRowNumber(row)) break;
      const TBRNRowsetRow* stored = rowNavigator->GetCurrentRow();
      const bool live = stored->Status != kRowDeleted;
      const int32_t version = stored->Version;
      values.SetAllNull();
      try {
        CopyAlteredColumns(*this, source, Target, values, live);
        if (live) {
          Target.AssignIdentityValues(values);
          targetRows->RaiseIdentityValues(values);
          Target.ComputeGeneratedColumns(values, true);
          Target.ComputeColumns(values);
          Target.CheckRequiredColumns(definition, values);
          Target.CheckChangedChecks(definition, values);
        }
        TBRNTableOperation operation(targetRows);
        int32_t written = 0;
        int32_t counter = 0;
        Target.rowNavigator->InsertRow(version, values, written, counter);
        operation.Commit();
        if (written != row) throw std::logic_error("a rewritten row changed its row number");
      } catch (...) {
        if (live) LogRowError(*this, source, kAlterationRowError);
        rowNavigator->ClearCurrentRow();
        throw;
      }
      if (!live) deleted.push_back(row);
      if (!UpdateProgress(progressOf(row, total))) {
        rowNavigator->ClearCurrentRow();
        return false;
      }
    }
    rowNavigator->ClearCurrentRow();
  }
  for (int32_t row : deleted) {
    TBRNTableOperation operation(targetRows);
    int32_t counter = 0;
    Target.rowNavigator->DeleteRow(row, counter);
    operation.Commit();
  }
  Target.rowNavigator->ClearCurrentRow();
  targetRows->CopyHeaderFrom(*rowsetFile);
  targetRows->SetRowCount(rowsetFile->RowCount);
  Target.MarkFilesChanged();
  return true;
}

bool TBRNTableManager::CheckAlteredConstraints(TBRNBaseTable* NewDefinition) {
  requireOpenFiles(*this, "CheckAlteredConstraints");
  GetEnvironment().ReportStatus("Altering check constraints");
  TableProgressBracket progress(this);
  const int32_t total = rowsetFile->GetBlockCount();
  TBRNRowsetRowValues& source = rowNavigator->GetCurrentValues();
  for (int32_t row = 1; row <= total; ++row) {
    if (!rowNavigator->GotoRowNumber(row)) break;
    if (rowNavigator->GetCurrentRow()->Status != kRowDeleted) {
      try {
        CheckRequiredColumns(NewDefinition, source);
        CheckChangedChecks(NewDefinition, source);
      } catch (...) {
        LogRowError(*this, source, kAlterationRowError);
        rowNavigator->ClearCurrentRow();
        throw;
      }
    }
    if (!UpdateProgress(progressOf(row, total))) {
      rowNavigator->ClearCurrentRow();
      return false;
    }
  }
  rowNavigator->ClearCurrentRow();
  return true;
}

void TBRNTableManager::CheckRequiredColumns(TBRNBaseTable* Definition, TBRNRowValues& Row) {
  TBRNColumns* columns = Definition->Columns.get();
  for (int32_t i = 0; i < columns->Count() && i < Row.GetCount(); ++i) {
    TBRNColumn* column = columns->GetItem(i);
    if (column->NotNull && Row.GetItem(i)->GetNull()) RaiseColumnNotNull(column);
  }
}

void TBRNTableManager::CheckChangedChecks(TBRNBaseTable* Definition, TBRNRowValues& Row) {
  const int32_t flags = Definition->AlterationFlags;
  if ((flags & kFlagConstraintsChanged) == 0 ||
      (flags & (kFlagCheckNotNull | kFlagCheckChecks)) == 0) {
    return;
  }
  TBRNConstraints* constraints = Definition->Constraints.get();
  for (int32_t i = 0; i < constraints->Count(); ++i) {
    TBRNConstraint* constraint = constraints->GetItem(i);
    if (constraint->ConstraintType != kConstraintCheck || constraint->Internal) continue;
    // Type 4: a stored row, checked for its condition only.
    CheckConstraint(constraint, Row, 0, 4, false);
  }
}

bool TBRNTableManager::BuildIndexFromRows(TBRNTableManager& Source, int32_t Index) {
  requireOpenFiles(*this, "BuildIndexFromRows");
  requireOpenFiles(Source, "BuildIndexFromRows");
  TBRNIndex* index = GetBaseTable()->Indexes->GetItem(Index);
  const bool unique = isUniqueIndex(index);
  TBRNRowsetNavigator& navigator = *Source.rowNavigator;
  TBRNRowsetRowValues& source = navigator.GetCurrentValues();
  TableProgressBracket progress(this);
  const int32_t total = Source.rowsetFile->GetBlockCount();
  for (int32_t row = 1; row <= total; ++row) {
    if (!navigator.GotoRowNumber(row)) break;
    if (navigator.GetCurrentRow()->Status == kRowDeleted) continue;
    try {
      if (index->IsTextIndex()) {
        InsertTextKeys(source, row, Index);
      } else {
        if (unique) {
          BuildIndexKey(source, Index, false);
          if (!KeyAllNull(Index) && KeyExists(*GetIndexKey(Index), Index, 0)) {
            std::string key;
            const TBRNValues& values = *GetIndexKey(Index);
            for (int32_t k = 0; k < values.GetCount(); ++k) {
              if (k > 0) key += ",";
              if (!values.GetItem(k)->GetNull()) key += values.GetItem(k)->GetAsString();
            }
            const std::string detail = FormatText("Duplicate key %s found", {key});
            TBRNConstraints* constraints = GetBaseTable()->Constraints.get();
            for (int32_t c = 0; c < constraints->Count(); ++c) {
              TBRNConstraint* owner = constraints->GetItem(c);
              if (owner->GetEnforcingIndex() == index) RaiseConstraintViolation(owner, detail);
            }
            throw EBRNException(kConstraintViolationCode, detail);
          }
        }
        TBRNTableOperation operation(indexFile.get());
        InsertKey(source, row, Index);
        operation.Commit();
      }
    } catch (...) {
      LogRowError(Source, source, kAlterationRowError);
      navigator.ClearCurrentRow();
      throw;
    }
    if (!UpdateProgress(progressOf(row, total))) {
      navigator.ClearCurrentRow();
      return false;
    }
  }
  navigator.ClearCurrentRow();
  return true;
}

bool TBRNTableManager::RebuildIndexes(TBRNTableManager& Target) {
  requireOpenFiles(*this, "RebuildIndexes");
  requireOpenFiles(Target, "RebuildIndexes");
  TBRNBaseTable* copy = Target.GetBaseTable();
  const int32_t flags = copy->AlterationFlags;
  // The copy's index file is fresh: every index of the copy is built from
  // the rows, whichever of the index flags (every index, the changed ones,
  // the query-result ones dropped, constraints added, altered or dropped)
  // asked for the new file. This also builds the enforcing index of an
  // added or altered key constraint and refuses duplicate keys.
  TBRNTableManager& rowsSource = (flags & kFlagRowsInPlace) != 0 ? Target : *this;
  TBRNIndexes* indexes = copy->Indexes.get();
  for (int32_t i = 0; i < indexes->Count(); ++i) {
    TBRNIndex* index = indexes->GetItem(i);
    GetEnvironment().ReportStatus(
        FormatText("Altering %s %s", {index->GetObjectTypeName(), index->Name}));
    if (!Target.BuildIndexFromRows(rowsSource, i)) return false;
  }
  Target.CopyFileHeaders(*this);
  Target.MarkFilesChanged();
  return true;
}

void TBRNTableManager::ApplyIdentityRestarts(TBRNBaseTable* NewDefinition) {
  requireOpenFiles(*this, "ApplyIdentityRestarts");
  TBRNColumns* stored = GetBaseTable()->Columns.get();
  TBRNColumns* columns = NewDefinition->Columns.get();
  for (int32_t i = 0; i < columns->Count(); ++i) {
    TBRNColumn* column = columns->GetItem(i);
    if (!column->Identity || !column->RestartIdentity) continue;
    for (int32_t j = 0; j < stored->Count(); ++j) {
      if (stored->GetItem(j)->ID != column->ID) continue;
      // The counter holds the last value given: the next one is the seed.
      rowsetFile->SetIdentityValue(j, column->IdentitySeed - column->IdentityIncrement);
      break;
    }
  }
  MarkFilesChanged();
}

void TBRNTableManager::StampStructureChecksum(uint32_t Checksum, uint8_t Selection) {
  requireOpenFiles(*this, "StampStructureChecksum");
  GetBaseTable()->StructureChecksum = Checksum;
  auto mark = [Selection](uint8_t bit, TBRNTableFileManager* file) {
    if ((Selection & bit) != 0 && file != nullptr) file->SetHeaderModified();
  };
  mark(kTableFileRows, rowsetFile.get());
  mark(kTableFileIndexes, indexFile.get());
  mark(kTableFileBlobs, blobFile.get());
  mark(kTableFilePublishedUpdates, publishedUpdatesFile.get());
}

}  // namespace brn
