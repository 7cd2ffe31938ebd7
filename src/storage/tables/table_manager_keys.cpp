// Index keys of rows, index upkeep on row changes, and index maintenance
// (add, clear, rebuild, drop) of the table manager.
#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/files/file_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/word_list.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "storage/files/table_file_set.h"
#include "storage/indexes/index_file.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

constexpr int32_t kCorruptCode = 601;

// The position of an index column's value among the row's values.
int32_t valuePosition(TBRNIndexColumn* indexColumn) {
  TBRNColumn* column = indexColumn->GetColumn();
  if (column == nullptr) throw std::logic_error("an index column without its table column");
  return column->Index;
}

// The row identifier: the first column as an integer, 0 when NULL.
int32_t rowIDOf(const TBRNValues& values) {
  const TBRNValue* id = values.GetCount() > 0 ? values.GetItem(0) : nullptr;
  return id != nullptr && !id->GetNull() ? id->GetAsInteger() : 0;
}

bool carriesRowID(int32_t indexType) {
  return indexType == kIndexOrdinary || indexType == kIndexForeignKey || indexType == kIndexUnique;
}

// Whether a modified value differs from the stored one under Collation.
bool changedValue(const TBRNRowValue& value, const TBRNValue& stored, int32_t collation) {
  return value.Modified && value.Compare(stored, 0, false, collation) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Keys

void TBRNTableManager::BuildIndexKey(const TBRNRowValues& Values, int32_t Index, bool WithRowID) {
  requireFiles("BuildIndexKey");
  const TBRNIndexKeyLayout& layout = *layouts.at(size_t(Index));
  if (layout.IsTextIndex()) throw std::logic_error("a text index is keyed by its words");
  TBRNIndex* index = layout.GetIndex();
  TBRNIndexLayoutKeyValues* key = GetIndexKey(Index);
  key->Clear();
  for (int32_t k = 0; k < index->Columns->Count(); ++k) {
    key->Add(Values.GetItem(valuePosition(index->Columns->GetItem(k))));
  }
  key->SetRowID(WithRowID && carriesRowID(layout.GetIndexType()) ? rowIDOf(Values) : 0);
}

bool TBRNTableManager::KeyHasNull(int32_t Index) {
  const TBRNIndexLayoutKeyValues* key = GetIndexKey(Index);
  for (int32_t k = 0; k < key->GetCount(); ++k) {
    if (key->GetItem(k)->GetNull()) return true;
  }
  return false;
}

bool TBRNTableManager::KeyAllNull(int32_t Index) {
  const TBRNIndexLayoutKeyValues* key = GetIndexKey(Index);
  for (int32_t k = 0; k < key->GetCount(); ++k) {
    if (!key->GetItem(k)->GetNull()) return false;
  }
  return true;
}

bool TBRNTableManager::IndexKeyChanged(const TBRNRowValues& Values, int32_t Index) {
  requireFiles("IndexKeyChanged");
  const TBRNIndexKeyLayout& layout = *layouts.at(size_t(Index));
  TBRNIndex* index = layout.GetIndex();
  const TBRNRowValues& stored = rowNavigator->GetCurrentValues();
  int32_t count =
      layout.IsTextIndex() ? std::min(1, index->Columns->Count()) : index->Columns->Count();
  for (int32_t k = 0; k < count; ++k) {
    TBRNIndexColumn* indexColumn = index->Columns->GetItem(k);
    int32_t position = valuePosition(indexColumn);
    const TBRNRowValue* value = Values.GetRowValue(position);
    bool text = IsTextDataType(value->GetDataType(), value->GetSubType());
    int32_t collation = text ? indexColumn->Collation : value->GetCollation();
    if (changedValue(*value, *stored.GetItem(position), collation)) return true;
  }
  return false;
}

bool TBRNTableManager::RowChanged(const TBRNRowValues& Values) {
  requireFiles("RowChanged");
  const TBRNRowValues& stored = rowNavigator->GetCurrentValues();
  for (int32_t i = 0; i < Values.GetCount(); ++i) {
    const TBRNRowValue* value = Values.GetRowValue(i);
    // A computed value has no stored bytes; it follows its sources.
    if (value->GetColumn().Computed) continue;
    if (changedValue(*value, *stored.GetItem(i), value->GetCollation())) return true;
  }
  return false;
}

std::unique_ptr<TBRNWordList> TBRNTableManager::wordListOf(const TBRNValues& Values,
                                                           int32_t Index) {
  const TBRNIndexKeyLayout& layout = *layouts.at(size_t(Index));
  if (!layout.IsTextIndex()) throw std::logic_error("only a text index has words");
  TBRNIndex* index = layout.GetIndex();
  const TBRNValue* value = Values.GetItem(valuePosition(index->Columns->GetItem(0)));
  std::string text = value->GetNull() ? std::string() : value->GetAsString();
  if (index->FilterTypeColumnID != 0) {
    TBRNColumn* filterColumn = index->GetFilterTypeColumn();
    const TBRNValue* filterType =
        filterColumn != nullptr ? Values.GetItem(filterColumn->Index) : nullptr;
    if (filterType != nullptr && !filterType->GetNull()) {
      text = index->FilterText(filterType->GetAsString(), text);
    }
  }
  return index->BuildWordList(text, false);
}

std::vector<std::string> TBRNTableManager::TextIndexWords(const TBRNRowValues& Values,
                                                          int32_t Index) {
  std::unique_ptr<TBRNWordList> words = wordListOf(Values, Index);
  std::vector<std::string> texts;
  texts.reserve(size_t(words->GetCount()));
  for (const TBRNWord& word : words->GetWords()) texts.push_back(word.GetText());
  return texts;
}

// ---------------------------------------------------------------------------
// Index upkeep

void TBRNTableManager::InsertKey(const TBRNRowValues& Values, int32_t Row, int32_t Index) {
  BuildIndexKey(Values, Index, true);
  GetIndexNavigator(Index)->InsertKey(*GetIndexKey(Index), Row);
}

void TBRNTableManager::DeleteKey(const TBRNRowValues& Values, int32_t /*Row*/, int32_t Index) {
  // The key and its row ID name the entry; a tree item holds the row.
  BuildIndexKey(Values, Index, true);
  GetIndexNavigator(Index)->DeleteKey(*GetIndexKey(Index));
}

void TBRNTableManager::changeTextKeys(const TBRNWordList& Words, int32_t RowID, int32_t Row,
                                      int32_t Index, bool Insert) {
  TBRNIndexLayoutKeyValues* key = GetIndexKey(Index);
  TBRNIndexNavigator* navigator = GetIndexNavigator(Index);
  key->SetRowID(RowID);
  for (const TBRNWord& word : Words.GetWords()) {
    key->GetItem(0)->SetAsString(word.GetText());
    if (Insert) {
      navigator->InsertKey(*key, Row);
    } else {
      navigator->DeleteKey(*key);
    }
  }
}

void TBRNTableManager::InsertTextKeys(const TBRNRowValues& Values, int32_t Row, int32_t Index) {
  requireFiles("InsertTextKeys");
  std::unique_ptr<TBRNWordList> words = wordListOf(Values, Index);
  TBRNTableOperation operation(indexFile.get());
  changeTextKeys(*words, rowIDOf(Values), Row, Index, true);
  operation.Commit();
}

void TBRNTableManager::DeleteTextKeys(const TBRNRowValues& Values, int32_t Row, int32_t Index) {
  requireFiles("DeleteTextKeys");
  std::unique_ptr<TBRNWordList> words = wordListOf(Values, Index);
  TBRNTableOperation operation(indexFile.get());
  changeTextKeys(*words, rowIDOf(Values), Row, Index, false);
  operation.Commit();
}

void TBRNTableManager::UpdateKey(const TBRNRowValues& Values, int32_t Row, int32_t Index) {
  if (!IndexKeyChanged(Values, Index)) return;
  TBRNTableOperation operation(indexFile.get());
  DeleteKey(rowNavigator->GetCurrentValues(), rowNavigator->GetRowNumber(), Index);
  InsertKey(Values, Row, Index);
  operation.Commit();
}

bool TBRNTableManager::textSourceModified(const TBRNRowValues& Values, int32_t Index) {
  TBRNIndex* index = layouts.at(size_t(Index))->GetIndex();
  if (Values.GetRowValue(valuePosition(index->Columns->GetItem(0)))->Modified) return true;
  // The filter type decides the words as much as the text does.
  TBRNColumn* filterColumn =
      index->FilterTypeColumnID != 0 ? index->GetFilterTypeColumn() : nullptr;
  return filterColumn != nullptr && Values.GetRowValue(filterColumn->Index)->Modified;
}

void TBRNTableManager::UpdateTextKeys(const TBRNRowValues& Values, int32_t Row, int32_t Index) {
  requireFiles("UpdateTextKeys");
  if (!textSourceModified(Values, Index)) return;
  const TBRNRowValues& stored = rowNavigator->GetCurrentValues();
  std::unique_ptr<TBRNWordList> oldWords = wordListOf(stored, Index);
  std::unique_ptr<TBRNWordList> newWords = wordListOf(Values, Index);
  int32_t oldID = rowIDOf(stored);
  int32_t newID = rowIDOf(Values);
  // Only the words that differ change; a new row identifier renames them all.
  TBRNWordList gone(oldWords->GetCollation());
  TBRNWordList added(newWords->GetCollation());
  for (const TBRNWord& word : oldWords->GetWords()) {
    if (oldID != newID || !newWords->Contains(word.GetText(), 0)) gone.Add(word.GetText());
  }
  for (const TBRNWord& word : newWords->GetWords()) {
    if (oldID != newID || !oldWords->Contains(word.GetText(), 0)) added.Add(word.GetText());
  }
  if (gone.GetCount() == 0 && added.GetCount() == 0) return;
  TBRNTableOperation operation(indexFile.get());
  changeTextKeys(gone, oldID, rowNavigator->GetRowNumber(), Index, false);
  changeTextKeys(added, newID, Row, Index, true);
  operation.Commit();
}

bool TBRNTableManager::HasRowKey(const TBRNRowValues& Values, int32_t Row, int32_t Index) {
  BuildIndexKey(Values, Index, true);
  return GetIndexNavigator(Index)->HasKey(*GetIndexKey(Index), Row);
}

bool TBRNTableManager::HasRowTextKeys(const TBRNRowValues& Values, int32_t Row, int32_t Index) {
  requireFiles("HasRowTextKeys");
  std::unique_ptr<TBRNWordList> words = wordListOf(Values, Index);
  TBRNIndexLayoutKeyValues* key = GetIndexKey(Index);
  TBRNIndexNavigator* navigator = GetIndexNavigator(Index);
  key->SetRowID(rowIDOf(Values));
  for (const TBRNWord& word : words->GetWords()) {
    key->GetItem(0)->SetAsString(word.GetText());
    if (!navigator->HasKey(*key, Row)) return false;
  }
  return true;
}

bool TBRNTableManager::KeyExists(TBRNIndexLayoutKeyValues& Key, int32_t Index, int32_t ExceptRow) {
  requireFiles("KeyExists");
  TBRNIndexNavigator* navigator = GetIndexNavigator(Index);
  for (;;) {
    bool restart = false;
    int32_t found = navigator->FindKey(Key, 0, restart, false);
    if (restart) continue;
    if (found != 0) return false;
    if (ExceptRow == 0 || navigator->GetRowNumber() != ExceptRow) return true;
    // The row's own key: another row may hold the same key right after it.
    bool moved = navigator->Next(restart);
    if (restart) continue;
    return moved && navigator->GetCurrentKey().Compare(Key, 0, false) == 0;
  }
}

// ---------------------------------------------------------------------------
// Index maintenance

int32_t TBRNTableManager::indexPosition(TBRNIndex* Index) const {
  TBRNIndexes* indexes = GetBaseTable()->Indexes.get();
  for (int32_t i = 0; i < indexes->Count(); ++i) {
    if (indexes->GetItem(i) == Index) return i;
  }
  throw std::invalid_argument("the index is not one of the table's indexes");
}

void TBRNTableManager::makeIndexMembers(int32_t i) {
  const TBRNIndexKeyLayout& layout = *layouts.at(size_t(i));
  auto navigator = std::make_unique<TBRNIndexNavigator>(indexFile.get(), i);
  std::unique_ptr<TBRNIndexLayoutKeyValues> key;
  if (layout.IsTextIndex()) {
    key = std::make_unique<TBRNContainedIndexKeyValues>(layout);
  } else {
    key = std::make_unique<TBRNIndexKeyValues>(layout);
  }
  if (size_t(i) == indexNavigators.size()) {
    indexNavigators.reserve(indexNavigators.size() + 1);
    indexKeys.reserve(indexKeys.size() + 1);
    indexNavigators.push_back(std::move(navigator));
    indexKeys.push_back(std::move(key));
  } else {
    indexNavigators.at(size_t(i)) = std::move(navigator);
    indexKeys.at(size_t(i)) = std::move(key);
  }
}

void TBRNTableManager::retireLayout(std::unique_ptr<TBRNIndexKeyLayout> Layout) {
  retiredLayouts_.push_back(std::move(Layout));
}

void TBRNTableManager::BackupIndexFile() {
  requireFiles("BackupIndexFile");
  backupLayouts_.reset();
  if (!inFileTransaction()) FlushFiles(true);
  try {
    std::vector<const TBRNIndexKeyLayout*> inForce;
    inForce.reserve(layouts.size());
    for (const auto& layout : layouts) inForce.push_back(layout.get());
    indexFile->MakeOldCopy(false);
    backupLayouts_ = std::move(inForce);
  } catch (...) {
    // A copy cut short must not be put back later.
    try {
      TBRNFileManager* manager = GetFileManager();
      if (manager->FileExists(indexFile->GetOldFileName())) {
        manager->DeleteFile(indexFile->GetOldFileName());
      }
    } catch (...) {
      // The copy's error is the one reported.
    }
    throw;
  }
}

void TBRNTableManager::putBackBackupLayouts() {
  const std::vector<const TBRNIndexKeyLayout*>& inForce = backupLayouts_.value();
  bool same = inForce.size() == layouts.size();
  for (size_t i = 0; same && i < layouts.size(); ++i) same = layouts[i].get() == inForce[i];
  if (same) return;
  // The lookups and reservations come first, so that only the allocation
  // of the new navigators can fail after the swap. The reserve comes before
  // any pointer into the retired layouts is taken.
  retiredLayouts_.reserve(retiredLayouts_.size() + layouts.size());
  std::vector<std::unique_ptr<TBRNIndexKeyLayout>*> sources;
  sources.reserve(inForce.size());
  for (const TBRNIndexKeyLayout* wanted : inForce) {
    auto holds = [wanted](const std::unique_ptr<TBRNIndexKeyLayout>& layout) {
      return layout.get() == wanted;
    };
    auto found = std::find_if(layouts.begin(), layouts.end(), holds);
    if (found == layouts.end()) {
      found = std::find_if(retiredLayouts_.begin(), retiredLayouts_.end(), holds);
      if (found == retiredLayouts_.end()) {
        throw std::logic_error("a layout of the index file's copy is no longer kept");
      }
    }
    sources.push_back(&*found);
  }
  std::vector<std::unique_ptr<TBRNIndexKeyLayout>> restored;
  restored.reserve(sources.size());
  indexNavigators.reserve(sources.size());
  indexKeys.reserve(sources.size());
  for (std::unique_ptr<TBRNIndexKeyLayout>* source : sources) {
    restored.push_back(std::move(*source));
  }
  // Layouts in force now that the copy does not list stay alive: pages
  // still cached may name them.
  for (auto& layout : layouts) {
    if (layout != nullptr) retiredLayouts_.push_back(std::move(layout));
  }
  std::erase(retiredLayouts_, nullptr);
  layouts = std::move(restored);
  // Navigators read their layout from the manager: they follow the swap.
  indexNavigators.clear();
  indexKeys.clear();
  for (size_t i = 0; i < layouts.size(); ++i) makeIndexMembers(int32_t(i));
}

void TBRNTableManager::RestoreIndexFile() {
  requireFiles("RestoreIndexFile");
  std::string oldName = indexFile->GetOldFileName();
  TBRNFileManager* manager = GetFileManager();
  // The copy's header lists the indexes of the backup: it is read under
  // their layouts.
  if (manager->FileExists(oldName)) {
    if (backupLayouts_) putBackBackupLayouts();
    indexFile->FitHeadersToIndexes();
  }
  indexFile->RestoreOldCopy(false);
  backupLayouts_.reset();
  // Deleted by name: the file's own DeleteOldCopy starts a fresh header,
  // which an open file must not.
  if (manager->FileExists(oldName)) manager->DeleteFile(oldName);
  for (TBRNTableFileManager* file : files) {
    if (file != indexFile.get()) file->DiscardChanges();
  }
}

void TBRNTableManager::restoreIndexFileQuietly() noexcept {
  try {
    RestoreIndexFile();
  } catch (...) {
    // Called while another error unwinds: that error is the one reported.
  }
}

bool TBRNTableManager::AddIndex(TBRNIndex* Index, bool LeaveEmpty) {
  requireFiles("AddIndex");
  int32_t i = indexPosition(Index);
  // The new index is the table's last one; a manager opened after it was
  // defined knows it already.
  bool known = size_t(i) + 1 == layouts.size();
  if (!known && size_t(i) != layouts.size()) {
    throw std::logic_error("AddIndex of an index that is not the table's last one");
  }
  BackupIndexFile();
  auto forget = [&] {
    if (known) return;
    if (indexNavigators.size() > size_t(i)) indexNavigators.resize(size_t(i));
    if (indexKeys.size() > size_t(i)) indexKeys.resize(size_t(i));
    if (layouts.size() > size_t(i)) {
      std::unique_ptr<TBRNIndexKeyLayout> layout = std::move(layouts.back());
      layouts.pop_back();
      retireLayout(std::move(layout));
    }
  };
  bool built = false;
  try {
    retiredLayouts_.reserve(retiredLayouts_.size() + 1);
    if (!known) layouts.push_back(std::make_unique<TBRNIndexKeyLayout>(*Index));
    makeIndexMembers(i);
    indexFile->AddIndex(i);
    built = LeaveEmpty || BuildIndex(i, true, false);
  } catch (...) {
    forget();
    restoreIndexFileQuietly();
    throw;
  }
  if (!built) {
    forget();
    RestoreIndexFile();
    return false;
  }
  MarkFilesChanged();
  return true;
}

void TBRNTableManager::ClearIndex(TBRNIndex* Index) {
  requireFiles("ClearIndex");
  int32_t i = indexPosition(Index);
  BackupIndexFile();
  try {
    indexFile->EmptyIndex(i);
    makeIndexMembers(i);
  } catch (...) {
    restoreIndexFileQuietly();
    throw;
  }
  MarkFilesChanged();
}

void TBRNTableManager::RebuildIndex(TBRNIndex* Index, bool Repair) {
  requireFiles("RebuildIndex");
  int32_t i = indexPosition(Index);
  try {
    // The definition may have changed since the index was cleared.
    retiredLayouts_.reserve(retiredLayouts_.size() + 1);
    auto layout = std::make_unique<TBRNIndexKeyLayout>(*Index);
    std::swap(layouts.at(size_t(i)), layout);
    retireLayout(std::move(layout));
    makeIndexMembers(i);
    BuildIndex(i, false, Repair);
  } catch (...) {
    restoreIndexFileQuietly();
    throw;
  }
  MarkFilesChanged();
}

void TBRNTableManager::CancelIndexChange() {
  RestoreIndexFile();
}

bool TBRNTableManager::DropIndex(TBRNIndex* Index, bool WithBackup) {
  requireFiles("DropIndex");
  int32_t i = indexPosition(Index);
  if (size_t(i) >= layouts.size()) throw std::logic_error("DropIndex of an index not in the files");
  if (WithBackup) BackupIndexFile();
  bool dropped = false;
  try {
    retiredLayouts_.reserve(retiredLayouts_.size() + 1);
    dropped = indexFile->DropIndex(i);
  } catch (...) {
    if (WithBackup) restoreIndexFileQuietly();
    throw;
  }
  if (!dropped) {
    if (WithBackup) RestoreIndexFile();
    return false;
  }
  // The indexes after it move up one place: their navigators are made anew
  // for their new numbers.
  std::unique_ptr<TBRNIndexKeyLayout> layout = std::move(layouts.at(size_t(i)));
  layouts.erase(layouts.begin() + i);
  std::vector<std::unique_ptr<TBRNIndexNavigator>> renumbered;
  try {
    renumbered.reserve(layouts.size() - size_t(i));
    for (size_t j = size_t(i); j < layouts.size(); ++j) {
      renumbered.push_back(std::make_unique<TBRNIndexNavigator>(indexFile.get(), int32_t(j)));
    }
  } catch (...) {
    layouts.insert(layouts.begin() + i, std::move(layout));
    if (WithBackup) restoreIndexFileQuietly();
    throw;
  }
  retireLayout(std::move(layout));
  indexNavigators.resize(size_t(i));
  for (auto& navigator : renumbered) indexNavigators.push_back(std::move(navigator));
  indexKeys.erase(indexKeys.begin() + i);
  MarkFilesChanged();
  return true;
}

void TBRNTableManager::deleteRowForRepair(const TBRNRowValues& Values, int32_t Row, int32_t Index) {
  // The row leaves every index that already holds it, so that no tree names
  // a deleted row.
  TBRNTableOperation operation(rowsetFile.get());
  for (int32_t j = 0; j < int32_t(layouts.size()); ++j) {
    if (j == Index) continue;
    if (layouts[size_t(j)]->IsTextIndex()) {
      DeleteTextKeys(Values, Row, j);
    } else if (HasRowKey(Values, Row, j)) {
      DeleteKey(Values, Row, j);
    }
  }
  int32_t counter = 0;
  rowNavigator->DeleteRow(Row, counter);
  operation.Commit();
}

bool TBRNTableManager::BuildIndex(int32_t Index, bool StopOnCancel, bool Repair) {
  requireFiles("BuildIndex");
  BeginProgress();
  bool completed = false;
  try {
    completed = buildIndexRows(Index, StopOnCancel, Repair);
  } catch (...) {
    try {
      EndProgress();
    } catch (...) {
      // The build's error is the one reported.
    }
    throw;
  }
  EndProgress();
  return completed;
}

bool TBRNTableManager::buildIndexRows(int32_t Index, bool StopOnCancel, bool Repair) {
  const TBRNIndexKeyLayout& layout = *layouts.at(size_t(Index));
  const bool text = layout.IsTextIndex();
  // A key index refuses a duplicate itself; a unique tree would only report
  // it as damage, and a unique index keyed with row IDs would take it.
  const bool unique = layout.GetIndexType() == kIndexUnique;
  const bool refusesDuplicates = !Repair && (unique || layout.GetIndexType() == kIndexPrimaryKey);
  std::unique_ptr<TBRNRowsetRow> copy = rowsetFile->NewRowBuffer();
  TBRNRowsetRowValues values(GetColumns(), this);
  const int32_t last = rowsetFile->GetBlockCount();
  int32_t reported = -1;
  for (int32_t n = 1; n <= last; ++n) {
    // A copy, so that no block stays pinned while the keys change.
    for (;;) {
      bool restart = false;
      TBRNRowsetRow* row =
          rowsetFile->GetRowChecked(n, true, 1, rowsetFile->GetReadAheadCount(), restart);
      if (row != nullptr) {
        copy->AssignRow(*row);
        rowsetFile->ReleaseRow(row);
        break;
      }
      if (!restart) throw std::logic_error("a row read answered no row without a restart");
    }
    values.SetRow(copy.get());
    if (copy->Status != kRowDeleted) {
      if (text) {
        InsertTextKeys(values, n, Index);
      } else {
        if (refusesDuplicates) {
          BuildIndexKey(values, Index, false);
          // Keys with every value NULL are never duplicates of a unique index.
          if (!(unique && KeyAllNull(Index)) && KeyExists(*GetIndexKey(Index), Index, 0)) {
            raiseDuplicateBuildKey(Index);
          }
        }
        try {
          InsertKey(values, n, Index);
        } catch (const EBRNException& error) {
          // A key the tree refuses (in a repair, a duplicate in a unique
          // tree above all): the row stays out of the index, where
          // verification finds it, or a repair deletes it.
          if (error.ErrorCode != kCorruptCode) throw;
          if (Repair) {
            deleteRowForRepair(values, n, Index);
            RebuildDeletedRows = true;
          }
        }
      }
    }
    int32_t percent = int32_t(int64_t(n) * 100 / last);
    if (percent != reported) {
      reported = percent;
      if (!UpdateProgress(percent) && StopOnCancel) return false;
    }
  }
  return true;
}

}  // namespace brn
