#include "metadata/catalog/table_differences.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "foundation/core/numeric_helpers.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/triggers.h"
#include "metadata/core/ddl_text.h"

namespace brn {

namespace {

// Columns and constraints are clauses of one ALTER TABLE statement; indexes
// and triggers are statements of their own.
bool isTableClause(TBRNConfigObject* entry) {
  return dynamic_cast<TBRNColumn*>(entry) != nullptr ||
         dynamic_cast<TBRNConstraint*>(entry) != nullptr;
}

void separateStatement(std::string& text, char terminator) {
  if (!text.empty()) text += std::string(1, terminator) + "\r\n\r\n";
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNBaseTableObjects

std::unique_ptr<TBRNBaseTableObjects> TBRNBaseTableObjects::CreateForTable(TBRNConfigRoot* config,
                                                                           TBRNBaseTable* table) {
  return std::make_unique<TBRNBaseTableObjects>(config, table);
}

TBRNBaseTableObjects::TBRNBaseTableObjects(TBRNConfigRoot* config, TBRNBaseTable* table)
    : TBRNSelectedConfigObjects(config), Table(table) {
  Owner = table;
}

void TBRNBaseTableObjects::CollectObjects() {
  TBRNConfigObjects* lists[] = {Table->Columns.get(), Table->Constraints.get(),
                                Table->Indexes.get(), Table->Triggers.get()};
  for (TBRNConfigObjects* list : lists) {
    for (int32_t i = 0; i < list->Count(); ++i) list->GetItem(i)->AddToSelection(this);
  }
}

TBRNConfigObject* TBRNBaseTableObjects::NewItemLike(TBRNConfigObject* object) {
  TBRNConfigObjects* list = nullptr;
  if (dynamic_cast<TBRNColumn*>(object) != nullptr)
    list = Table->Columns.get();
  else if (dynamic_cast<TBRNConstraint*>(object) != nullptr)
    list = Table->Constraints.get();
  else if (dynamic_cast<TBRNIndex*>(object) != nullptr)
    list = Table->Indexes.get();
  else if (dynamic_cast<TBRNTrigger*>(object) != nullptr)
    list = Table->Triggers.get();
  if (list == nullptr) return nullptr;
  TBRNConfigObject* item = list->CreateItem();
  item->Owner = list;
  return item;
}

// ---------------------------------------------------------------------------
// TBRNBaseTable: differences

TBRNBaseTableObjects* TBRNBaseTable::GetObjects() {
  if (!objects_) objects_ = TBRNBaseTableObjects::CreateForTable(Config, this);
  return objects_.get();
}

TBRNBaseTableDifference* TBRNBaseTable::GetDifference() {
  if (!difference_) difference_ = std::make_unique<TBRNBaseTableDifference>(Config);
  return difference_.get();
}

void TBRNBaseTable::ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator) {
  AlterSQL.clear();
  if (kind == kDifferenceCreate) {
    AlterSQL = GetCreateSQL(true, false);
    for (int32_t i = 0; i < Indexes->Count(); ++i) {
      const std::string text = Indexes->GetItem(i)->GetCreateSQL(true, false);
      if (!text.empty()) AlterSQL += std::string(1, terminator) + "\r\n\r\n" + text;
    }
    for (int32_t i = 0; i < Triggers->Count(); ++i)
      AlterSQL +=
          std::string(1, terminator) + "\r\n\r\n" + Triggers->GetItem(i)->GetCreateSQL(true, false);
    return;
  }
  if (kind == kDifferenceDrop) {
    AlterSQL = GetDropSQL(false, false);
    return;
  }
  auto* newTable = dynamic_cast<TBRNBaseTable*>(other);
  if (newTable == nullptr) return;

  TBRNBaseTableObjects* oldObjects = GetObjects();
  TBRNBaseTableObjects* newObjects = newTable->GetObjects();
  oldObjects->Sorted = false;
  newObjects->Sorted = false;
  TBRNBaseTableDifference* difference = GetDifference();
  difference->CompareSelections(oldObjects, newObjects, terminator);

  const std::string opening = "ALTER TABLE " + QuotedName(Name);
  bool inStatement = false;
  for (int32_t i = 0; i < difference->Count(); ++i) {
    TBRNConfigObject* entry = difference->GetItem(i);
    if (isTableClause(entry)) {
      if (inStatement) {
        AlterSQL += ",";
      } else {
        separateStatement(AlterSQL, terminator);
        AlterSQL += opening;
        inStatement = true;
      }
      AlterSQL += "\r\n" + entry->GetAlterSQL();
    } else {
      separateStatement(AlterSQL, terminator);
      AlterSQL += entry->GetAlterSQL();
      inStatement = false;
    }
  }
  const std::string clauses = BuildAlterClauses(newTable);
  if (!clauses.empty()) {
    if (!inStatement) {
      separateStatement(AlterSQL, terminator);
      AlterSQL += opening;
    }
    AlterSQL += clauses;
  }
  if (!AlterSQL.empty()) AlterSQL += terminator;
}

std::string TBRNBaseTable::BuildAlterClauses(TBRNBaseTable* newTable) {
  std::string text;
  if (Description != newTable->Description)
    text += "\r\nDESCRIPTION " + QuotedText(newTable->Description);
  if (Version != newTable->Version) text += "\r\nVERSION " + VersionText(newTable->Version);
  if (ReadOnly != newTable->ReadOnly) text += newTable->ReadOnly ? "\r\nREADONLY" : "\r\nREADWRITE";
  if (Encrypted != newTable->Encrypted)
    text += newTable->Encrypted ? "\r\nENCRYPTED" : "\r\nUNENCRYPTED";
  const std::tuple<const char*, int32_t, int32_t> sizes[] = {
      {"INDEX PAGE SIZE ", IndexPageSize, newTable->IndexPageSize},
      {"BLOB BLOCK SIZE ", BlobBlockSize, newTable->BlobBlockSize},
      {"PUBLISH BLOCK SIZE ", PublishBlockSize, newTable->PublishBlockSize},
      {"PUBLISH COMPRESSION ", PublishCompression, newTable->PublishCompression},
      {"MAX ROW BUFFER SIZE ", MaxRowBufferSize, newTable->MaxRowBufferSize},
      {"MAX INDEX BUFFER SIZE ", MaxIndexBufferSize, newTable->MaxIndexBufferSize},
      {"MAX BLOB BUFFER SIZE ", MaxBlobBufferSize, newTable->MaxBlobBufferSize},
      {"MAX PUBLISH BUFFER SIZE ", MaxPublishBufferSize, newTable->MaxPublishBufferSize},
  };
  for (const auto& [clause, oldValue, newValue] : sizes) {
    if (oldValue != newValue) text += "\r\n" + std::string(clause) + IntegerToString(newValue);
  }
  if (Attributes != newTable->Attributes)
    text += "\r\nATTRIBUTES " + QuotedText(newTable->Attributes);
  return text;
}

int32_t TBRNBaseTable::GetPhysicalChanges(TBRNBaseTable* oldTable) {
  if (Encrypted != oldTable->Encrypted) return kAlterEncryption;
  int32_t changes = 0;
  for (int32_t i = 0; i < Indexes->Count(); ++i) {
    if (Indexes->GetItem(i)->IsQueryResultIndex()) changes |= kAlterQueryResultIndex;
  }
  if (IndexPageSize != oldTable->IndexPageSize) changes |= kAlterIndexPageSize;
  if (BlobBlockSize != oldTable->BlobBlockSize) changes |= kAlterBlobBlockSize;
  if (PublishBlockSize != oldTable->PublishBlockSize ||
      PublishCompression != oldTable->PublishCompression)
    changes |= kAlterPublishing;
  return changes;
}

TBRNConstraint* TBRNBaseTable::FindCandidateKey(TBRNConstraintColumns* targetColumns) {
  const int32_t count = targetColumns != nullptr ? targetColumns->Count() : 0;
  for (int32_t i = 0; i < Constraints->Count(); ++i) {
    TBRNConstraint* key = Constraints->GetItem(i);
    if (key->ConstraintType != kConstraintPrimaryKey && key->ConstraintType != kConstraintUnique)
      continue;
    if (key->Columns == nullptr || key->Columns->Count() != count || count == 0) continue;
    bool same = true;
    for (int32_t j = 0; j < count && same; ++j) {
      TBRNConstraintColumn* mine = key->Columns->GetItem(j);
      TBRNConstraintColumn* theirs = targetColumns->GetItem(j);
      TBRNColumn* myColumn = mine->GetColumn();
      TBRNColumn* theirColumn = theirs->GetColumn();
      same = mine->ColumnID == theirs->ColumnID && myColumn != nullptr && theirColumn != nullptr &&
             myColumn->DataType == theirColumn->DataType;
    }
    if (same) return key;
  }
  std::string names;
  for (int32_t j = 0; j < count; ++j) {
    if (j > 0) names += ",";
    names += targetColumns->GetItem(j)->GetName();
  }
  RaiseNoCandidateKey(names);
  throw std::logic_error("RaiseNoCandidateKey returned");
}

void TBRNBaseTable::RaiseIndexPageSizeToFit(TBRNIndex* index) {
  const int32_t needed = RoundUpToMultiple(index->Columns->PageSize, 4096);
  SetIndexPageSize(std::max(IndexPageSize, needed));
}

void TBRNBaseTable::SyncIndexCollations(TBRNColumn* column) {
  for (int32_t i = 0; i < Indexes->Count(); ++i) {
    TBRNIndex* index = Indexes->GetItem(i);
    if (!index->IsConstraintIndex()) continue;
    for (int32_t j = 0; j < index->Columns->Count(); ++j) {
      TBRNIndexColumn* entry = index->Columns->GetItem(j);
      if (entry->ColumnID == column->ID) entry->SetCollation(column->Collation);
    }
  }
}

// ---------------------------------------------------------------------------
// TBRNBaseTable: links

bool TBRNBaseTable::HasReferencedTables() const {
  return ReferencedTables && ReferencedTables->Count() > 0;
}

TBRNReferencedTables* TBRNBaseTable::GetReferencedTables() {
  if (!ReferencedTables) ReferencedTables = std::make_unique<TBRNReferencedTables>(Catalog);
  return ReferencedTables.get();
}

void TBRNBaseTable::RebuildReferencedTables() {
  if (referencesRebuild_) return;
  referencesRebuild_ = true;
  struct Guard {
    bool& Flag;
    ~Guard() { Flag = false; }
  } guard{referencesRebuild_};
  TBRNReferencedTables* list = GetReferencedTables();
  list->Clear();
  HasReferencingForeignKeys = false;
  for (int32_t i = 0; i < Constraints->Count(); ++i) {
    TBRNConstraint* constraint = Constraints->GetItem(i);
    constraint->ResetLinks();
    if (constraint->ConstraintType == kConstraintPrimaryKey ||
        constraint->ConstraintType == kConstraintUnique) {
      if (constraint->SourceConstraints == nullptr) continue;
      if (constraint->SourceConstraints->Count() > 0) HasReferencingForeignKeys = true;
      for (int32_t j = 0; j < constraint->SourceConstraints->Count(); ++j) {
        TBRNSourceConstraint* source = constraint->SourceConstraints->GetItem(j);
        source->ResetLinks();
        if (TBRNConstraint* foreignKey = source->GetSourceConstraint()) foreignKey->ResetLinks();
        if (TBRNConfigObject* table = source->GetSourceTable()) list->AddObject(table);
      }
    } else if (constraint->ConstraintType == kConstraintForeignKey) {
      if (TBRNConfigObject* table = constraint->GetTargetTable()) list->AddObject(table);
    }
  }
  list->SortByLockNumber();
  // Duplicates are neighbours only when equal lock numbers mean equal
  // tables; sort by ID within the lock order's duplicates first.
  list->SortByID();
  list->RemoveDuplicates();
  list->SortByLockNumber();
}

void TBRNBaseTable::ResetReferencedTables() {
  if (referencesRebuild_) return;
  if (ReferencedTables) ReferencedTables->Clear();
  HasReferencingForeignKeys = false;
  for (int32_t i = 0; i < Constraints->Count(); ++i) {
    TBRNConstraint* constraint = Constraints->GetItem(i);
    constraint->ResetLinks();
    if ((constraint->ConstraintType == kConstraintPrimaryKey ||
         constraint->ConstraintType == kConstraintUnique) &&
        constraint->SourceConstraints != nullptr) {
      for (int32_t j = 0; j < constraint->SourceConstraints->Count(); ++j)
        constraint->SourceConstraints->GetItem(j)->ResetLinks();
    }
  }
}

void TBRNBaseTable::DetachForeignKeys() {
  for (int32_t i = 0; i < Constraints->Count(); ++i) {
    TBRNConstraint* foreignKey = Constraints->GetItem(i);
    if (foreignKey->ConstraintType != kConstraintForeignKey) continue;
    if (auto* target = dynamic_cast<TBRNBaseTable*>(foreignKey->GetTargetTable()))
      target->ReferencesChanged = true;
    TBRNConstraint* key = foreignKey->GetTargetConstraint();
    if (key != nullptr && key->SourceConstraints != nullptr)
      key->RemoveSourceConstraint(foreignKey);
  }
}

TBRNReferencedTables::TBRNReferencedTables(TBRNCatalog* catalog) : TBRNReferenceList(catalog) {}

void TBRNReferencedTables::SortByLockNumber() {
  std::stable_sort(Items.begin(), Items.end(), [](TBRNConfigObject* a, TBRNConfigObject* b) {
    return static_cast<TBRNBaseTable*>(a)->LockNumber < static_cast<TBRNBaseTable*>(b)->LockNumber;
  });
}

void TBRNReferencedTables::SortByID() {
  std::stable_sort(Items.begin(), Items.end(),
                   [](TBRNConfigObject* a, TBRNConfigObject* b) { return a->ID < b->ID; });
}

void TBRNReferencedTables::RemoveDuplicates() {
  auto last = std::unique(Items.begin(), Items.end(),
                          [](TBRNConfigObject* a, TBRNConfigObject* b) { return a->ID == b->ID; });
  Items.erase(last, Items.end());
}

void TBRNReferencedTables::SortByUpdateSequence() {
  const size_t count = Items.size();
  std::vector<TBRNBaseTable*> tables(count);
  for (size_t i = 0; i < count; ++i) tables[i] = static_cast<TBRNBaseTable*>(Items[i]);

  // Level of a table: 0 when it references no other member, else one more
  // than the highest level among the members it references. A member that
  // is still being visited (a cycle) adds nothing.
  enum : uint8_t { kNew, kVisiting, kDone };
  std::vector<uint8_t> state(count, kNew);
  std::vector<int32_t> level(count, 0);
  std::function<void(size_t)> visit = [&](size_t i) {
    state[i] = kVisiting;
    int32_t highest = -1;
    for (size_t j = 0; j < count; ++j) {
      if (j == i || tables[j] == tables[i] || state[j] == kVisiting) continue;
      if (!tables[i]->ReferencesTable(tables[j])) continue;
      if (state[j] == kNew) visit(j);
      highest = std::max(highest, level[j]);
    }
    level[i] = highest + 1;
    state[i] = kDone;
  };
  for (size_t i = 0; i < count; ++i) {
    if (state[i] == kNew) visit(i);
  }

  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const TBRNBaseTable* x = tables[a];
    const TBRNBaseTable* y = tables[b];
    if (x->PendingUpdatePosition != y->PendingUpdatePosition)
      return x->PendingUpdatePosition < y->PendingUpdatePosition;
    if (level[a] != level[b]) return level[a] < level[b];
    if (x->ID != y->ID) return x->ID < y->ID;
    return a < b;
  });
  for (size_t i = 0; i < count; ++i) Items[i] = tables[order[i]];
}

std::string TBRNReferencedTables::GetObjectTypeName() const {
  return "referenced table";
}

void TBRNReferencedTables::SetModified(bool) {}

void TBRNReferencedTables::Changed() {}

}  // namespace brn
