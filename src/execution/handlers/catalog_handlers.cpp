// CREATE, ALTER, DROP and RENAME of tables, views, indexes, text indexes,
// triggers and routines, ENABLE and DISABLE TRIGGER(S), and the helpers
// that apply the definition clauses of a statement node.
//
// Every helper that changes a table ORs its change bits into the table's
// AlterationFlags, which ALTER TABLE resets on its working copy before the
// first clause and the table executor reads; CREATE TABLE clears them
// again once the definition is complete.

#include "execution/handlers/catalog_handlers.h"

#include <cctype>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "execution/handlers/handler_frame.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/triggers.h"
#include "metadata/catalog/views.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/core/type_lists.h"
#include "metadata/modules/text_filters.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/ddl/ddl_lookups.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

std::mutex queryStepMutex;
TBRNCreateTableQueryStep queryStep;

TBRNCreateTableQueryStep currentQueryStep() {
  std::lock_guard<std::mutex> lock(queryStepMutex);
  return queryStep;
}

}  // namespace

TBRNCreateTableQueryStep SetCreateTableQueryStep(TBRNCreateTableQueryStep step) {
  std::lock_guard<std::mutex> lock(queryStepMutex);
  std::swap(queryStep, step);
  return step;
}

namespace handlers {

namespace {

// Change bits of the clauses, as the table executor reads them.
constexpr int32_t kMaskAddColumn = 0x185;
constexpr int32_t kMaskMoveColumn = 0x85;
constexpr int32_t kMaskRenameColumn = 0x280;
constexpr int32_t kMaskDropColumn = 0x485;
constexpr int32_t kMaskColumnKept = 0x280;
constexpr int32_t kMaskColumnRewritten = 0x285;
constexpr int32_t kMaskBlobCompression = 0x5;
constexpr int32_t kMaskNotNullOn = 0x42000;
constexpr int32_t kMaskKeyReferrer = 0xA009;
constexpr int32_t kMaskCheckReferrer = 0x42000;
constexpr int32_t kMaskIndexReferrer = 0x809;
constexpr int32_t kMaskRestart = 0x40;
constexpr int32_t kMaskAddCheck = 0x22000;
constexpr int32_t kMaskAddForeignKeyInline = 0x6000;
constexpr int32_t kMaskAddKey = 0x6009;
constexpr int32_t kMaskInternalKeyRemoved = 0x10000;
constexpr int32_t kMaskIndexFile = 0x9;
constexpr int32_t kMaskRenameConstraint = 0x42000;
constexpr int32_t kMaskDropCheck = 0x82000;
constexpr int32_t kMaskDropKey = 0x12009;
constexpr int32_t kMaskDropPrimaryKey = 0x4000;

// Positions of the clauses in the statement nodes.
constexpr int32_t kColumnCompression = 1;
constexpr int32_t kColumnValue = 2;
constexpr int32_t kColumnNotNull = 3;
constexpr int32_t kColumnConstraints = 4;
constexpr int32_t kColumnDescription = 5;
constexpr int32_t kColumnPosition = 6;
constexpr int32_t kColumnRestart = 7;
constexpr int32_t kConstraintColumns = 0;
constexpr int32_t kConstraintTarget = 1;
constexpr int32_t kConstraintTargetColumns = 2;
constexpr int32_t kConstraintOnUpdate = 3;
constexpr int32_t kConstraintOnDelete = 4;
constexpr int32_t kConstraintError = 5;
constexpr int32_t kConstraintDescription = 6;
constexpr int32_t kTableElements = 3;

// LIKE copy options, in the order of their slots.
enum : int32_t {
  kLikeIdentity = 0,
  kLikeDefaults,
  kLikeGenerated,
  kLikeConstraints,
  kLikeIndexes,
  kLikeTriggers,
};

void orMask(TBRNBaseTable* table, int32_t bits) {
  table->AlterationFlags |= bits;
}

TBRNCatalog& catalogOf(TBRNBaseTable* table) {
  return *static_cast<TBRNCatalog*>(table->Catalog);
}

TBRNColumn* findColumn(TBRNBaseTable* table, const std::string& name) {
  return static_cast<TBRNColumn*>(table->Columns->FindByName(name, true));
}

// The ID of the collation a COLLATE name stands for ("_CI", "_AI", "_KI"
// and "_WI" set their flags); a base name the configuration does not know
// raises its not-found error.
int32_t resolveCollation(TBRNCatalog& catalog, const std::string& name) {
  std::string baseName;
  bool caseInsensitive = false;
  bool accentInsensitive = false;
  bool kanaInsensitive = false;
  bool widthInsensitive = false;
  ParseCollationName(name, baseName, caseInsensitive, accentInsensitive, kanaInsensitive,
                     widthInsensitive);
  TBRNConfig* config = catalog.GetConfiguration();
  if (config == nullptr || !config->Collations)
    throw std::logic_error("The configuration holds no collations");
  int32_t collation = config->Collations->FindByName(baseName, true)->ID;
  if (caseInsensitive) IncludeBit(collation, CaseInsensitiveBit);
  if (accentInsensitive) IncludeBit(collation, AccentInsensitiveBit);
  if (kanaInsensitive) IncludeBit(collation, KanaInsensitiveBit);
  if (widthInsensitive) IncludeBit(collation, WidthInsensitiveBit);
  return collation;
}

// ---- Columns

void applyColumnDefinition(TBRNLocalExprEvaluator& evaluator, TBRNColumn* column,
                           TBRNExprToken* node) {
  column->SetName(node->Name);
  column->SetDataType(node->DataType);
  column->SetSubType(node->SubType);
  column->SetLength(node->Size);
  column->SetScale(node->Scale);
  column->SetCollation(node->Collation);
  if (TBRNExprToken* compression = Child(node, kColumnCompression))
    column->SetBlobCompression(ClauseInteger(evaluator, Child(compression, 0)));
  if (TBRNExprToken* value = Child(node, kColumnValue)) {
    switch (value->Operation) {
      case opComputed:
        column->SetComputed(true);
        column->ComputedExpr->SetText(value->Text);
        column->SetReadOnly(true);
        break;
      case opDefault:
        column->SetHasDefault(true);
        column->DefaultExpr->SetText(value->Text);
        break;
      case opGenerated:
        column->SetGenerated(true);
        column->GeneratedExpr->SetText(value->Text);
        column->SetReadOnly(true);
        break;
      case opGeneratedByDefault:
      case opGeneratedIdentity:
        column->SetIdentity(true);
        if (value->Operation == opGeneratedByDefault)
          column->SetIdentityByDefault(true);
        else
          column->SetReadOnly(true);
        if (TBRNExprToken* seed = Child(value, 0))
          column->SetIdentitySeed(ClauseInteger(evaluator, seed));
        if (TBRNExprToken* increment = Child(value, 1))
          column->SetIdentityIncrement(ClauseInteger(evaluator, increment));
        break;
      default:
        break;
    }
  }
  if (TBRNExprToken* notNull = Child(node, kColumnNotNull)) {
    column->SetNotNull(true);
    if (TBRNExprToken* code = Child(notNull, 0)) {
      column->SetNotNullErrorCode(ClauseInteger(evaluator, code));
      column->SetNotNullErrorMessage(ClauseText(evaluator, Child(notNull, 1)));
    }
  }
  if (TBRNExprToken* description = Child(node, kColumnDescription))
    column->SetDescription(ClauseText(evaluator, description));
}

void applyErrorClause(TBRNLocalExprEvaluator& evaluator, TBRNConstraint* constraint,
                      TBRNExprToken* clause) {
  if (clause == nullptr) return;
  constraint->SetErrorCode(ClauseInteger(evaluator, Child(clause, 0)));
  constraint->SetErrorMessage(ClauseText(evaluator, Child(clause, 1)));
}

void addConstraintColumn(TBRNConstraint* constraint, TBRNColumn* column) {
  std::unique_ptr<TBRNConstraintColumn> entry(
      static_cast<TBRNConstraintColumn*>(constraint->Columns->NewItem()));
  entry->SetColumn(column);
  constraint->Columns->AddObject(entry.get());
  entry.release();
}

int32_t indexTypeOf(int32_t constraintType) {
  switch (constraintType) {
    case kConstraintPrimaryKey:
      return kIndexPrimaryKey;
    case kConstraintForeignKey:
      return kIndexForeignKey;
    default:
      return kIndexUnique;
  }
}

void addIndexColumn(TBRNIndex* index, TBRNColumn* column) {
  std::unique_ptr<TBRNIndexColumn> entry(static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
  entry->SetColumn(column);
  index->Columns->AddObject(entry.get());
  entry.release();
}

// The enforcing index of a key or foreign key, named after the constraint
// (with a number appended when another index bears that name), on the
// constraint's columns. The table executor builds every index of a working
// copy from its rows, so the index is made for ALTER TABLE as well.
void addConstraintIndex(TBRNBaseTable* table, TBRNConstraint* constraint) {
  std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
  index->Name = table->Indexes->FindByName(constraint->Name, false) != nullptr
                    ? table->Indexes->MakeUniqueName(constraint->Name)
                    : constraint->Name;
  index->SetIndexType(indexTypeOf(constraint->ConstraintType));
  for (int32_t i = 0; i < constraint->Columns->Count(); ++i)
    addIndexColumn(index.get(), constraint->Columns->GetItem(i)->GetColumn());
  table->Indexes->AddObject(index.get());
  TBRNIndex* added = index.release();
  added->SetOwnerConstraint(constraint);
  constraint->SetEnforcingIndex(added);
}

// Takes the enforcing index of a constraint out of the table and frees it.
void removeConstraintIndex(TBRNBaseTable* table, TBRNConstraint* constraint) {
  if (!constraint->HasEnforcingIndex()) return;
  TBRNIndex* index = constraint->GetEnforcingIndex();
  if (index == nullptr || index->Index < 0 || index->Index >= table->Indexes->Count() ||
      table->Indexes->GetItem(index->Index) != index)
    return;
  delete table->Indexes->RemoveObject(index->Index);
}

uint32_t referentialAction(const TBRNExprToken* action, uint32_t current) {
  if (action == nullptr) return current;
  switch (action->Operation) {
    case opCascade:
      return kActionCascade;
    case opSetNull:
      return kActionSetNull;
    case opSetColumn:
      return kActionSetDefault;
    case opRestrict:
      return kActionRestrict;
    default:
      return current;
  }
}

// The target of a foreign key: the table itself when the REFERENCES name
// is its own (ownName: the stored name of a working copy), else a table of
// the Default schema visible to the user. The key is registered among the
// referencing constraints of the target's matching candidate key.
void applyForeignKeyTarget(TBRNLocalExprEvaluator& evaluator, TBRNBaseTable* table,
                           const std::string& ownName, TBRNConstraint* constraint,
                           TBRNExprToken* node) {
  const TBRNExprToken* targetName = Child(node, kConstraintTarget);
  if (targetName == nullptr) throw std::logic_error("A foreign key names no referenced table");
  TBRNBaseTable* target = table;
  if (!TextEqualsIgnoreCase(targetName->Name, ownName)) {
    TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
    TBRNCatalog& catalog = *database.Catalog;
    target = static_cast<TBRNBaseTable*>(catalog.FindTable(catalog.DefaultSchema, targetName->Name,
                                                           database.GetCurrentUser(), true, true));
  }
  target->ReferencesChanged = true;
  target->SetModified(true);
  constraint->SetTargetTable(target);
  constraint->TargetTableColumns->Clear();
  if (const TBRNExprToken* columns = Child(node, kConstraintTargetColumns)) {
    for (const TBRNExprToken* name : columns->Arguments()) {
      std::unique_ptr<TBRNTargetTableColumn> entry(
          static_cast<TBRNTargetTableColumn*>(constraint->TargetTableColumns->NewItem()));
      entry->SetColumn(findColumn(target, name->Name));
      constraint->TargetTableColumns->AddObject(entry.get());
      entry.release();
    }
  }
  TBRNConstraint* key = target->FindCandidateKey(constraint->TargetTableColumns.get());
  constraint->SetTargetConstraint(key);
  std::unique_ptr<TBRNSourceConstraint> source(
      static_cast<TBRNSourceConstraint*>(key->SourceConstraints->NewItem()));
  source->SetSourceTable(table);
  source->SetSourceConstraint(constraint);
  key->SourceConstraints->AddObject(source.get());
  source.release();
  constraint->SetUpdateAction(
      referentialAction(Child(node, kConstraintOnUpdate), constraint->UpdateAction));
  constraint->SetDeleteAction(
      referentialAction(Child(node, kConstraintOnDelete), constraint->DeleteAction));
}

// Takes a foreign key out of its target key's list of referencing
// constraints (nothing when it has none yet).
void detachForeignKey(TBRNConstraint* constraint) {
  if (constraint->ConstraintType != kConstraintForeignKey || constraint->TargetTableID == 0) return;
  if (auto* target = dynamic_cast<TBRNBaseTable*>(constraint->GetTargetTable())) {
    target->ReferencesChanged = true;
    target->SetModified(true);
  }
  if (constraint->TargetConstraintID == 0) return;
  if (TBRNConstraint* key = constraint->GetTargetConstraint())
    key->RemoveSourceConstraint(constraint);
}

// The stored name a working copy stands for; the table's own name else.
struct TBRNDefinitionTarget {
  TBRNBaseTable* Table;
  std::string OwnName;
};

// A primary key replaces the internal "__PrimaryKey" (with its index).
void replaceInternalKey(TBRNBaseTable* table, bool altering) {
  if (table->RemoveInternalPrimaryKey(false) && altering)
    orMask(table, kMaskInternalKeyRemoved | kMaskIndexFile);
}

void addColumnConstraints(TBRNLocalExprEvaluator& evaluator, const TBRNDefinitionTarget& target,
                          TBRNColumn* column, bool altering, TBRNExprToken* node) {
  const TBRNExprToken* list = Child(node, kColumnConstraints);
  if (list == nullptr) return;
  TBRNBaseTable* table = target.Table;
  for (TBRNExprToken* item : list->Arguments()) {
    std::unique_ptr<TBRNConstraint> constraint(
        static_cast<TBRNConstraint*>(table->Constraints->NewItem()));
    constraint->Name = item->Name;
    const bool unnamed = item->Name.empty();
    switch (item->Operation) {
      case opCheck:
        constraint->SetConstraintType(kConstraintCheck);
        if (unnamed) constraint->Name = "Check_" + column->Name;
        constraint->CheckExpr->SetText(item->Text);
        break;
      case opForeignKey:
        constraint->SetConstraintType(kConstraintForeignKey);
        if (unnamed) constraint->Name = "ForeignKey_" + column->Name;
        break;
      case opPrimaryKey:
        constraint->SetConstraintType(kConstraintPrimaryKey);
        if (unnamed) constraint->Name = "PrimaryKey";
        replaceInternalKey(table, altering);
        break;
      case opUnique:
        constraint->SetConstraintType(kConstraintUnique);
        if (unnamed) constraint->Name = "UniqueKey_" + column->Name;
        break;
      default:
        throw std::logic_error("Unknown column constraint");
    }
    applyErrorClause(evaluator, constraint.get(), Child(item, kConstraintError));
    if (item->Operation != opCheck) addConstraintColumn(constraint.get(), column);
    table->Constraints->AddObject(constraint.get());
    TBRNConstraint* added = constraint.release();
    if (item->Operation == opCheck) {
      orMask(table, kMaskAddCheck);
      continue;
    }
    orMask(table, kMaskAddForeignKeyInline | kMaskIndexFile);
    addConstraintIndex(table, added);
    if (item->Operation == opForeignKey)
      applyForeignKeyTarget(evaluator, table, target.OwnName, added, item);
  }
}

void addColumn(TBRNLocalExprEvaluator& evaluator, const TBRNDefinitionTarget& target,
               TBRNExprToken* node, bool altering) {
  TBRNBaseTable* table = target.Table;
  std::unique_ptr<TBRNColumn> column(static_cast<TBRNColumn*>(table->Columns->NewItem()));
  applyColumnDefinition(evaluator, column.get(), node);
  const int32_t count = table->Columns->Count();
  int32_t position = count;
  if (TBRNExprToken* at = Child(node, kColumnPosition)) {
    // The row-ID column keeps position 0.
    position = ClauseInteger(evaluator, at);
    if (position > count) position = count;
    if (position < 1) position = 1;
  }
  column->AlterSourcePosition = -1;
  table->Columns->InsertObject(position, column.get());
  TBRNColumn* added = column.release();
  orMask(table, kMaskAddColumn);
  addColumnConstraints(evaluator, target, added, altering, node);
}

bool sameText(const std::unique_ptr<TBRNGeneratedColumnExpr>& a,
              const std::unique_ptr<TBRNGeneratedColumnExpr>& b) {
  if (!a || !b) return !a && !b;
  return TextEqualsIgnoreCase(a->SQL, b->SQL);
}

bool sameText(const std::unique_ptr<TBRNComputedColumnExpr>& a,
              const std::unique_ptr<TBRNComputedColumnExpr>& b) {
  if (!a || !b) return !a && !b;
  return TextEqualsIgnoreCase(a->SQL, b->SQL);
}

bool holdsColumn(TBRNColumnReferences* references, int32_t columnID) {
  for (int32_t i = 0; i < references->Count(); ++i)
    if (static_cast<TBRNColumnReference*>(references->GetItem(i))->ColumnID == columnID)
      return true;
  return false;
}

// Whether the selection holds the column (by identity or ID).
bool selects(TBRNConfigObjects* selection, const TBRNColumn* column) {
  for (int32_t i = 0; i < selection->Count(); ++i)
    if (selection->GetItem(i) == column || selection->GetItem(i)->ID == column->ID) return true;
  return false;
}

// The change bits of a redefined column: whether its rows must be rewritten,
// its NOT NULL checked, and the keys, checks and indexes on it rebuilt.
int32_t columnDifference(TBRNBaseTable* table, TBRNColumn* changed, TBRNColumn* old) {
  const bool sameShape = changed->DataType == old->DataType && changed->SubType == old->SubType &&
                         changed->Length == old->Length && changed->Size == old->Size &&
                         changed->Scale == old->Scale;
  const bool sameValues = changed->Generated == old->Generated &&
                          changed->Computed == old->Computed &&
                          sameText(changed->GeneratedExpr, old->GeneratedExpr) &&
                          sameText(changed->ComputedExpr, old->ComputedExpr);
  int32_t mask = sameShape && sameValues ? kMaskColumnKept : kMaskColumnRewritten;
  if (changed->DataType == dtLob && changed->BlobCompression != old->BlobCompression)
    mask |= kMaskBlobCompression;
  if (changed->NotNull && !old->NotNull) mask |= kMaskNotNullOn;
  if (!sameShape || !sameValues || changed->Collation != old->Collation) {
    for (int32_t i = 0; i < table->Constraints->Count(); ++i) {
      TBRNConstraint* constraint = table->Constraints->GetItem(i);
      if (constraint->ConstraintType == kConstraintCheck) {
        // A condition not compiled yet names no columns: it is checked anew.
        if (!constraint->ReferencedColumns || constraint->ReferencedColumns->Count() == 0 ||
            selects(constraint->ReferencedColumns.get(), old))
          mask |= kMaskCheckReferrer;
      } else if (holdsColumn(constraint->Columns.get(), old->ID)) {
        mask |= kMaskKeyReferrer;
      }
    }
  }
  if (!sameShape || !sameValues) {
    for (int32_t i = 0; i < table->Indexes->Count(); ++i) {
      TBRNIndex* index = table->Indexes->GetItem(i);
      if (index->IsConstraintIndex() || !holdsColumn(index->Columns.get(), old->ID)) continue;
      index->RebuildNeeded = true;
      for (int32_t j = 0; j < index->Columns->Count(); ++j) {
        TBRNIndexColumn* entry = index->Columns->GetItem(j);
        if (entry->ColumnID == old->ID) entry->ColumnTypeChanged(changed);
      }
      mask |= kMaskIndexReferrer;
    }
  }
  if (changed->Generated && old->Generated && !sameText(changed->GeneratedExpr, old->GeneratedExpr))
    changed->AlterSourcePosition = -1;
  else
    changed->AlterSourcePosition = old->AlterSourcePosition;
  return mask;
}

// ALTER COLUMN ... AS: the column takes the new definition, keeping its ID
// and the value it takes from the stored row.
void alterColumn(TBRNLocalExprEvaluator& evaluator, const TBRNDefinitionTarget& target,
                 TBRNColumn* column, TBRNExprToken* node) {
  TBRNBaseTable* table = target.Table;
  std::unique_ptr<TBRNColumn> changed(static_cast<TBRNColumn*>(table->Columns->NewItem()));
  changed->ID = column->ID;
  applyColumnDefinition(evaluator, changed.get(), node);
  orMask(table, columnDifference(table, changed.get(), column));
  const int32_t index = column->Index;
  const int32_t source = changed->AlterSourcePosition;
  column->Assign(changed.get(), false);
  column->Index = index;
  column->AlterSourcePosition = source;
  table->SyncIndexCollations(column);
  addColumnConstraints(evaluator, target, column, false, node);
}

TBRNColumn* findAlterableColumn(TBRNBaseTable* table, const std::string& name) {
  TBRNColumn* column = findColumn(table, name);
  column->CheckNotSystem();
  return column;
}

void renameColumn(TBRNBaseTable* table, TBRNExprToken* node) {
  TBRNColumn* column = findAlterableColumn(table, node->Name);
  const std::string newName = ChildName(node, 0);
  table->Columns->CheckNewName(column, newName);
  column->PropagateRename(newName);
  column->SetName(newName);
  orMask(table, kMaskRenameColumn);
}

// The first object of the table itself that uses the column: a key, a
// check condition, an index, a trigger's column list, or a generated or
// computed column; nullptr when none does.
TBRNConfigObject* tableReferrerOf(TBRNBaseTable* table, TBRNColumn* column) {
  const auto uses = [column](TBRNConfigObjects* list) {
    return list != nullptr && selects(list, column);
  };
  for (int32_t i = 0; i < table->Constraints->Count(); ++i) {
    TBRNConstraint* constraint = table->Constraints->GetItem(i);
    if (constraint->Columns && holdsColumn(constraint->Columns.get(), column->ID))
      return constraint;
    if (uses(constraint->ReferencedColumns.get())) return constraint;
  }
  for (int32_t i = 0; i < table->Indexes->Count(); ++i) {
    TBRNIndex* index = table->Indexes->GetItem(i);
    if (holdsColumn(index->Columns.get(), column->ID)) return index;
  }
  for (int32_t i = 0; i < table->Triggers->Count(); ++i) {
    TBRNTrigger* trigger = table->Triggers->GetItem(i);
    if (holdsColumn(trigger->TriggerColumns.get(), column->ID)) return trigger;
  }
  for (int32_t i = 0; i < table->Columns->Count(); ++i) {
    TBRNColumn* other = table->Columns->GetItem(i);
    if (other != column && uses(other->UsedColumns.get())) return other;
  }
  return nullptr;
}

void dropColumn(TBRNBaseTable* table, TBRNExprToken* node) {
  TBRNColumn* column = findAlterableColumn(table, node->Name);
  // The working copy's own objects are checked here: the catalog's referrer
  // walk sees the stored table, not its copy.
  if (TBRNConfigObject* referrer = tableReferrerOf(table, column))
    column->RaiseStillReferenced(referrer, "dropped");
  column->CheckNotReferenced("dropped");
  delete table->Columns->RemoveObject(column->Index);
  orMask(table, kMaskDropColumn);
}

// MOVE TO n: n limited to the column count and kept at 1 or above, so that
// the row-ID column stays first; the column then stands before the column
// that stood at n (at the end for the count).
void moveColumn(TBRNLocalExprEvaluator& evaluator, TBRNBaseTable* table, TBRNColumn* column,
                TBRNExprToken* node) {
  const int32_t count = table->Columns->Count();
  int32_t position = ClauseInteger(evaluator, Child(node, kColumnPosition));
  if (position > count) position = count;
  if (position < 1) position = 1;
  const int32_t current = column->Index;
  if (position == current) return;
  TBRNConfigObject* taken = table->Columns->RemoveObject(current);
  table->Columns->InsertObject(position < current ? position : position - 1, taken);
  orMask(table, kMaskMoveColumn);
}

void alterColumnAttribute(TBRNLocalExprEvaluator& evaluator, const TBRNDefinitionTarget& target,
                          TBRNExprToken* node) {
  TBRNBaseTable* table = target.Table;
  TBRNColumn* column = findAlterableColumn(table, node->Name);
  switch (node->Operation) {
    case opDropDefault:
      column->SetHasDefault(false);
      break;
    case opMoveTo:
      moveColumn(evaluator, table, column, node);
      break;
    case opRestartWith: {
      const int32_t seed = ClauseInteger(evaluator, Child(node, kColumnRestart));
      if (!column->Identity) column->RaiseRestartNotIdentity();
      column->SetIdentitySeed(seed);
      column->SetRestartIdentity(true);
      orMask(table, kMaskRestart);
      break;
    }
    case opDescription:
      if (TBRNExprToken* description = Child(node, kColumnDescription))
        column->SetDescription(ClauseText(evaluator, description));
      break;
    case opSetColumn:
      column->SetHasDefault(true);
      column->DefaultExpr->SetText(Child(node, kColumnValue)->Text);
      break;
    default:
      alterColumn(evaluator, target, column, node);
      break;
  }
}

// ---- Table constraints

void applyConstraintDefinition(TBRNLocalExprEvaluator& evaluator, TBRNBaseTable* table,
                               TBRNConstraint* constraint, TBRNExprToken* node) {
  int32_t type = kConstraintCheck;
  std::string prefix;
  switch (node->Operation) {
    case opCheck:
      prefix = "Check_";
      break;
    case opForeignKey:
      type = kConstraintForeignKey;
      prefix = "ForeignKey_";
      break;
    case opUnique:
      type = kConstraintUnique;
      prefix = "UniqueKey_";
      break;
    case opPrimaryKey:
      type = kConstraintPrimaryKey;
      break;
    default:
      throw std::logic_error("Unknown table constraint");
  }
  constraint->SetConstraintType(type);
  std::string name = node->Name;
  if (name.empty())
    name = type == kConstraintPrimaryKey ? std::string("PrimaryKey")
                                         : table->Constraints->MakeUniqueName(prefix);
  constraint->SetName(name);
  if (type == kConstraintCheck) {
    constraint->CheckExpr->SetText(node->Text);
  } else {
    constraint->Columns->Clear();
    if (const TBRNExprToken* columns = Child(node, kConstraintColumns))
      for (const TBRNExprToken* column : columns->Arguments())
        addConstraintColumn(constraint, findColumn(table, column->Name));
  }
  applyErrorClause(evaluator, constraint, Child(node, kConstraintError));
  if (TBRNExprToken* description = Child(node, kConstraintDescription))
    constraint->SetDescription(ClauseText(evaluator, description));
}

void addTableConstraint(TBRNLocalExprEvaluator& evaluator, const TBRNDefinitionTarget& target,
                        TBRNExprToken* node, bool altering) {
  TBRNBaseTable* table = target.Table;
  std::unique_ptr<TBRNConstraint> constraint(
      static_cast<TBRNConstraint*>(table->Constraints->NewItem()));
  applyConstraintDefinition(evaluator, table, constraint.get(), node);
  if (constraint->ConstraintType == kConstraintPrimaryKey) replaceInternalKey(table, altering);
  table->Constraints->AddObject(constraint.get());
  TBRNConstraint* added = constraint.release();
  if (added->ConstraintType == kConstraintCheck) {
    if (altering) orMask(table, kMaskAddCheck);
    return;
  }
  if (altering) orMask(table, kMaskAddKey);
  addConstraintIndex(table, added);
  if (added->ConstraintType == kConstraintForeignKey)
    applyForeignKeyTarget(evaluator, table, target.OwnName, added, node);
}

TBRNConstraint* findAlterableConstraint(TBRNBaseTable* table, const std::string& name) {
  auto* constraint = static_cast<TBRNConstraint*>(table->Constraints->FindByName(name, true));
  constraint->CheckNotSystem();
  if (constraint->Internal) constraint->RaiseSystemObject();
  return constraint;
}

// ALTER CONSTRAINT ... AS: the constraint keeps its ID, its enforcing index
// (columns rebuilt) and, for keys, the foreign keys that reference it.
void alterConstraint(TBRNLocalExprEvaluator& evaluator, const TBRNDefinitionTarget& target,
                     TBRNConstraint* constraint, TBRNExprToken* node) {
  TBRNBaseTable* table = target.Table;
  std::unique_ptr<TBRNConstraint> changed(
      static_cast<TBRNConstraint*>(table->Constraints->NewItem()));
  changed->ID = constraint->ID;
  applyConstraintDefinition(evaluator, table, changed.get(), node);
  constraint->CheckTypeUnchanged(changed->ConstraintType);
  orMask(table, constraint->CompareDefinition(changed.get()));
  detachForeignKey(constraint);
  changed->Index = constraint->Index;
  changed->EnforcingIndexID = constraint->EnforcingIndexID;
  if (constraint->IsKey())
    changed->SourceConstraints->Assign(constraint->SourceConstraints.get(), false);
  constraint->Assign(changed.get(), false);
  if (constraint->ConstraintType == kConstraintCheck) return;
  if (TBRNIndex* index = constraint->GetEnforcingIndex()) {
    index->Columns->Clear();
    for (int32_t i = 0; i < constraint->Columns->Count(); ++i)
      addIndexColumn(index, constraint->Columns->GetItem(i)->GetColumn());
    orMask(table, kMaskIndexFile);
  }
  if (constraint->ConstraintType == kConstraintForeignKey)
    applyForeignKeyTarget(evaluator, table, target.OwnName, constraint, node);
}

void renameConstraint(TBRNBaseTable* table, TBRNExprToken* node) {
  TBRNConstraint* constraint = findAlterableConstraint(table, node->Name);
  const std::string newName = ChildName(node, 0);
  table->Constraints->CheckNewName(constraint, newName);
  constraint->SetName(newName);
  orMask(table, kMaskRenameConstraint);
}

// DROP CONSTRAINT: with its enforcing index; a dropped primary key gives
// the table its internal key on "__RowID" again, index included, as a
// table created without a key has it.
void dropConstraint(TBRNBaseTable* table, TBRNExprToken* node) {
  TBRNConstraint* constraint = findAlterableConstraint(table, node->Name);
  // Foreign keys of other tables are listed with the key they reference.
  if (constraint->IsKey() && constraint->SourceConstraints &&
      constraint->SourceConstraints->Count() > 0) {
    TBRNSourceConstraint* source = constraint->SourceConstraints->GetItem(0);
    TBRNConfigObject* referrer = source->GetSourceConstraint();
    constraint->RaiseStillReferenced(referrer != nullptr ? referrer : source, "dropped");
  }
  constraint->CheckNotReferenced("dropped");
  const int32_t type = constraint->ConstraintType;
  orMask(table, type == kConstraintCheck ? kMaskDropCheck : kMaskDropKey);
  if (type == kConstraintPrimaryKey) orMask(table, kMaskDropPrimaryKey);
  detachForeignKey(constraint);
  removeConstraintIndex(table, constraint);
  delete table->Constraints->RemoveObject(constraint->Index);
  if (type == kConstraintPrimaryKey) table->AddPrimaryKey(false);
}

// ---- LIKE

[[noreturn]] void raiseLikeOption(TBRNBaseTable* table, const char* option) {
  table->RaiseMetadataError(FormatText(
      "LIKE ... INCLUDING %s cannot be executed: LIKE copies only the columns", {option}));
}

// Copies the columns of the LIKE source, each a plain column unless the
// INCLUDING option of what it has (identity, default, generation) was given.
void copyLikeColumns(TBRNLocalExprEvaluator& evaluator, TBRNBaseTable* table, TBRNExprToken* like) {
  static constexpr const char* kRefused[] = {"CONSTRAINTS", "INDEXES", "TRIGGERS"};
  for (int32_t option = kLikeConstraints; option <= kLikeTriggers; ++option)
    if (Child(like, option) != nullptr) raiseLikeOption(table, kRefused[option - kLikeConstraints]);
  const bool identity = Child(like, kLikeIdentity) != nullptr;
  const bool defaults = Child(like, kLikeDefaults) != nullptr;
  const bool generated = Child(like, kLikeGenerated) != nullptr;

  TBRNLocalDatabaseManager* database = &DatabaseOf(evaluator);
  bool opened = false;
  if (!like->DatabaseName.empty()) {
    TBRNLocalSessionManager& session = SessionOf(evaluator);
    auto* entry = static_cast<TBRNDatabaseContainer*>(
        session.Config->Databases->FindByName(like->DatabaseName, true));
    database = session.GetDatabaseManager(entry);
    database->OpenDatabase(kBRNLockTypeShared);
    opened = true;
  }
  try {
    TBRNCatalogReadBracket read(*database);
    TBRNSchema* schema = database->FindSchema(like->SchemaName);
    auto* source = static_cast<TBRNVirtualTable*>(
        database->Catalog->FindTable(schema, like->Name, database->GetCurrentUser(), true, true));
    for (int32_t i = 0; i < source->Columns->Count(); ++i) {
      TBRNColumn* original = source->Columns->GetItem(i);
      if (original->Internal) continue;
      std::unique_ptr<TBRNColumn> column(static_cast<TBRNColumn*>(table->Columns->NewItem()));
      column->Assign(original, false);
      column->ID = 0;
      column->Index = -1;
      if (column->Identity && !identity) {
        column->SetIdentity(false);
        column->SetIdentityByDefault(false);
        column->SetIdentitySeed(0);
        column->SetIdentityIncrement(1);
        column->SetReadOnly(false);
      } else if (column->HasDefault && !defaults) {
        column->SetHasDefault(false);
      } else if (column->Generated && !generated) {
        column->SetGenerated(false);
        column->SetReadOnly(false);
      }
      table->Columns->AddObject(column.get());
      column.release();
    }
  } catch (...) {
    if (opened) {
      try {
        database->CloseDatabase(false);
      } catch (...) {
        // The copy's failure is the one to report.
      }
    }
    throw;
  }
  if (opened) database->CloseDatabase(false);
}

// ---- Tables

template <typename TSetter>
void applyIntegerClause(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node, int32_t index,
                        TSetter&& setter) {
  if (TBRNExprToken* clause = Child(node, index)) setter(ClauseInteger(evaluator, clause));
}

// The storage clauses 4-16 of CREATE and ALTER TABLE, in their order.
void applyStorageClauses(TBRNLocalExprEvaluator& evaluator, TBRNBaseTable* table,
                         TBRNExprToken* node) {
  if (TBRNExprToken* description = Child(node, 4))
    table->SetDescription(ClauseText(evaluator, description));
  if (TBRNExprToken* version = Child(node, 5)) table->SetVersion(ClauseDecimal(evaluator, version));
  if (TBRNExprToken* readOnly = Child(node, 6))
    table->SetReadOnly(ClauseBoolean(evaluator, readOnly));
  if (TBRNExprToken* encrypted = Child(node, 7))
    table->SetEncrypted(ClauseBoolean(evaluator, encrypted));
  applyIntegerClause(evaluator, node, 8, [&](int32_t v) { table->SetIndexPageSize(v); });
  applyIntegerClause(evaluator, node, 9, [&](int32_t v) { table->SetBlobBlockSize(v); });
  applyIntegerClause(evaluator, node, 10, [&](int32_t v) { table->SetPublishBlockSize(v); });
  applyIntegerClause(evaluator, node, 11, [&](int32_t v) { table->SetPublishCompression(v); });
  applyIntegerClause(evaluator, node, 12, [&](int32_t v) { table->SetMaxRowBufferSize(v); });
  applyIntegerClause(evaluator, node, 13, [&](int32_t v) { table->SetMaxIndexBufferSize(v); });
  applyIntegerClause(evaluator, node, 14, [&](int32_t v) { table->SetMaxBlobBufferSize(v); });
  applyIntegerClause(evaluator, node, 15, [&](int32_t v) { table->SetMaxPublishBufferSize(v); });
  if (TBRNExprToken* attributes = Child(node, 16))
    table->SetAttributes(ClauseText(evaluator, attributes));
}

// The AS form: the columns of the query, renamed in order (after the
// row-ID column) by the names of the column list when one was given.
void defineResultColumns(TBRNLocalDatabaseManager& database, TBRNBaseTable* table,
                         TBRNExprToken* node) {
  TBRNExprToken* query = Child(Child(node, 1), 0);
  database.Catalog->DefineResultTable(query, table, true, false);
  const TBRNExprToken* elements = Child(node, kTableElements);
  if (elements == nullptr) return;
  for (int32_t i = 0; i < elements->ArgumentCount(); ++i) {
    const TBRNExprToken* element = elements->Argument(i);
    const TBRNExprToken* name = element->ArgumentCount() > 0 ? element->Argument(0) : element;
    if (i + 1 >= table->Columns->Count()) break;
    TBRNColumn* column = table->Columns->GetItem(i + 1);
    table->Columns->CheckNewName(column, name->Name);
    column->SetName(name->Name);
  }
}

void defineTableElements(TBRNLocalExprEvaluator& evaluator, TBRNBaseTable* table,
                         TBRNExprToken* node) {
  table->AddRowIDColumn();
  applyStorageClauses(evaluator, table, node);
  const TBRNDefinitionTarget target{table, table->Name};
  if (const TBRNExprToken* elements = Child(node, kTableElements)) {
    for (const TBRNExprToken* element : elements->Arguments()) {
      TBRNExprToken* item = Child(element, 0);
      if (item == nullptr) continue;
      if (item->Kind == tkColumnName)
        addColumn(evaluator, target, item, false);
      else if (item->Kind == tkConstraintName)
        addTableConstraint(evaluator, target, item, false);
      else
        copyLikeColumns(evaluator, table, item);
    }
  }
  table->Compile();
  table->Uncompile();
  table->EnsurePrimaryKey();
  table->Validate();
}

// Drops a table that CREATE TABLE ... AS committed before its query step
// failed; the step's error is the one reported.
void dropCommittedTable(TBRNLocalDatabaseManager& database, TBRNBaseTable* table, bool temporary) {
  try {
    if (temporary)
      database.DropTemporaryTable(table);
    else
      database.DropTable(table->Name);
  } catch (...) {
    // The query step's failure is the one to report.
  }
}

void createTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  const TBRNExprToken* nameNode = Child(node, 0);
  if (nameNode == nullptr) throw std::logic_error("CREATE TABLE names no table");
  const bool temporary = nameNode->Variant == 1;
  TBRNExprToken* as = Child(node, 1);
  TBRNExprToken* fromUpdates = Child(node, 2);
  TBRNCreateTableQueryStep step;
  if (as != nullptr && Child(as, 1) != nullptr) {
    step = currentQueryStep();
    if (!step)
      throw EBRNException(kBRNUnknownErrorCode,
                          FormatText("This statement cannot be executed by this engine yet (%s)",
                                     {"CREATE TABLE " + nameNode->Name}));
  }

  TBRNBaseTable* table = temporary ? database.CreateTemporaryTable(nameNode->Name, true)
                                   : database.CreateTable(nameNode->Name);
  try {
    if (as != nullptr) {
      defineResultColumns(database, table, node);
    } else if (fromUpdates != nullptr) {
      database.Catalog->DefinePublishedUpdatesTable(table);
    } else {
      defineTableElements(evaluator, table, node);
    }
    table->AlterationFlags = 0;
    if (temporary)
      database.CommitCreateTemporaryTable(table);
    else
      database.CommitCreateTable(table);
  } catch (...) {
    try {
      if (temporary)
        database.RollbackCreateTemporaryTable(table);
      else
        database.RollbackCreateTable(table);
    } catch (...) {
      // The definition's failure is the one to report.
    }
    throw;
  }

  try {
    if (step) {
      step(evaluator, database, table, Child(as, 0));
    } else if (fromUpdates != nullptr) {
      auto& manager = dynamic_cast<TBRNTableManager&>(
          *database.TableManagers->OpenManager(table, kBRNLockTypeShared));
      try {
        database.ReadUpdateFile(ChildName(fromUpdates, 0), ChildName(fromUpdates, 1),
                                TBRNStringsList(), manager);
      } catch (...) {
        try {
          manager.Close(false, true);
        } catch (...) {
          // The read's failure is the one to report.
        }
        throw;
      }
      manager.Close(false, true);
    }
  } catch (...) {
    dropCommittedTable(database, table, temporary);
    throw;
  }
}

// Messages about the working copy name the table the user altered.
[[noreturn]] void raiseForStoredName(const EBRNException& error, const std::string& copyName,
                                     const std::string& storedName) {
  std::string message = error.ErrorMessage;
  const std::string from = "table " + copyName;
  const std::string to = "table " + storedName;
  for (size_t at = message.find(from); at != std::string::npos;
       at = message.find(from, at + to.size())) {
    const size_t end = at + from.size();
    if (end < message.size() &&
        (std::isalnum(static_cast<unsigned char>(message[end])) != 0 || message[end] == '_')) {
      at = end - to.size();
      continue;
    }
    message.replace(at, from.size(), to);
  }
  throw EBRNException(error.ErrorCode, message, error.ErrorLine, error.ErrorColumn);
}

void applyAlteration(TBRNLocalExprEvaluator& evaluator, const TBRNDefinitionTarget& target,
                     TBRNExprToken* alteration) {
  TBRNBaseTable* copy = target.Table;
  TBRNExprToken* item = Child(alteration, 0);
  if (item == nullptr) throw std::logic_error("An alteration names no column or constraint");
  const bool column = item->Kind == tkColumnName;
  switch (alteration->Operation) {
    case opAdd:
      if (column)
        addColumn(evaluator, target, item, true);
      else
        addTableConstraint(evaluator, target, item, true);
      return;
    case opAlter:
      if (column) {
        alterColumnAttribute(evaluator, target, item);
      } else {
        TBRNConstraint* constraint = findAlterableConstraint(copy, item->Name);
        if (item->Operation == opDescription) {
          if (TBRNExprToken* description = Child(item, kConstraintDescription))
            constraint->SetDescription(ClauseText(evaluator, description));
        } else {
          alterConstraint(evaluator, target, constraint, item);
        }
      }
      return;
    case opDrop:
      if (column)
        dropColumn(copy, item);
      else
        dropConstraint(copy, item);
      return;
    case opRename:
      if (column)
        renameColumn(copy, item);
      else
        renameConstraint(copy, item);
      return;
    default:
      throw std::logic_error("Unknown table alteration");
  }
}

void alterTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  TBRNBaseTable* table = database.BeginAlterTable(ChildName(node, 0));
  TBRNBaseTable* copy = nullptr;
  try {
    copy = database.CreateWorkingCopy(table);
    copy->AlterationFlags = 0;
    applyStorageClauses(evaluator, copy, node);
    copy->AlterationFlags = copy->GetPhysicalChanges(table);
    const TBRNDefinitionTarget target{copy, table->Name};
    if (const TBRNExprToken* alterations = Child(node, kTableElements)) {
      try {
        for (TBRNExprToken* alteration : alterations->Arguments())
          applyAlteration(evaluator, target, alteration);
      } catch (const EBRNException& error) {
        raiseForStoredName(error, copy->Name, table->Name);
      }
    }
    copy->Uncompile();
    copy->Compile();
    // The copy's files are built from the stored rows, which the tables its
    // keys reference have already accepted; opening those tables would make
    // them look up keys that only the copy holds yet.
    TableManagerOf(database, copy).SuppressReferences = true;
    database.AlterTable(table, copy);
  } catch (...) {
    try {
      database.RollbackAlterTable(table, copy);
    } catch (...) {
      // The alteration's failure is the one to report.
    }
    throw;
  }
}

void dropTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).DropTable(ChildName(node, 0));
}

void renameTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).RenameTable(ChildName(node, 0), ChildName(node, 1));
}

// ---- Indexes and text indexes: name, ON table, column list, DESCRIPTION;
// a text index then INDEXED WORD LENGTH, FILTER TYPE COLUMN, WORD GENERATOR.

void addIndexColumns(TBRNBaseTable* table, TBRNIndex* index, const TBRNExprToken* columns) {
  index->Columns->Clear();
  if (columns == nullptr) return;
  for (const TBRNExprToken* item : columns->Arguments()) {
    std::unique_ptr<TBRNIndexColumn> entry(
        static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
    entry->SetColumn(findColumn(table, item->Name));
    // Children of an index column: nil, COLLATE, ASC or DESC.
    if (const TBRNExprToken* collate = Child(item, 1)) {
      const TBRNExprToken* name = collate->Kind == tkCollationName ? collate : Child(collate, 0);
      if (name != nullptr) entry->SetCollation(resolveCollation(catalogOf(table), name->Name));
    }
    if (const TBRNExprToken* order = Child(item, 2);
        order != nullptr && order->Operation == opDescending)
      entry->SetDescending(true);
    index->Columns->AddObject(entry.get());
    entry.release();
  }
}

void applyIndexDefinition(TBRNLocalExprEvaluator& evaluator, TBRNBaseTable* table, TBRNIndex* index,
                          TBRNExprToken* node) {
  index->SetIndexType(kIndexOrdinary);
  addIndexColumns(table, index, Child(node, 2));
  if (TBRNExprToken* description = Child(node, 3))
    index->SetDescription(ClauseText(evaluator, description));
}

void applyTextIndexDefinition(TBRNLocalExprEvaluator& evaluator, TBRNBaseTable* table,
                              TBRNIndex* index, TBRNExprToken* node) {
  index->SetIndexType(kIndexText);
  if (TBRNExprToken* length = Child(node, 4))
    index->SetIndexedWordLength(ClauseInteger(evaluator, length));
  addIndexColumns(table, index, Child(node, 2));
  if (TBRNExprToken* description = Child(node, 3))
    index->SetDescription(ClauseText(evaluator, description));
  if (const TBRNExprToken* filter = Child(node, 5))
    index->SetFilterTypeColumn(filter->Name.empty() ? nullptr : findColumn(table, filter->Name));
  if (const TBRNExprToken* generator = Child(node, 6)) {
    TBRNWordGenerator* found = nullptr;
    if (!generator->Name.empty())
      found = static_cast<TBRNWordGenerator*>(
          SessionOf(evaluator).Config->WordGenerators->FindByName(generator->Name, true));
    index->SetWordGenerator(found);
  }
  // The word length and the filter column are checked before the index is
  // built.
  index->Validate();
}

using TBRNIndexDefinition = void (*)(TBRNLocalExprEvaluator&, TBRNBaseTable*, TBRNIndex*,
                                     TBRNExprToken*);

template <TBRNIndexDefinition Apply>
void createIndex(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  TBRNBaseTable* table = nullptr;
  TBRNIndex* index = database.CreateIndex(ChildName(node, 1), table, ChildName(node, 0));
  try {
    Apply(evaluator, table, index, node);
    database.CommitCreateIndex(table, index);
  } catch (...) {
    try {
      database.RollbackCreateIndex(table, index);
    } catch (...) {
      // The definition's failure is the one to report.
    }
    throw;
  }
}

template <TBRNIndexDefinition Apply>
void alterIndex(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  TBRNBaseTable* table = nullptr;
  TBRNIndex* index = database.AlterIndex(ChildName(node, 1), table, ChildName(node, 0));
  try {
    Apply(evaluator, table, index, node);
    database.CommitAlterIndex(table, index);
  } catch (...) {
    try {
      database.RollbackAlterIndex(table, index);
    } catch (...) {
      // The definition's failure is the one to report.
    }
    throw;
  }
}

void dropIndex(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).DropIndex(ChildName(node, 1), ChildName(node, 0));
}

void renameIndex(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).RenameIndex(ChildName(node, 1), ChildName(node, 0), ChildName(node, 2));
}

// ---- Triggers: name (its operation the event), OF columns, ON table, AT
// position, WHEN condition, DESCRIPTION; the node's text is the body.

struct TBRNTriggerEventCode {
  int32_t Code;
  int32_t Time;
  int32_t Type;
};

constexpr TBRNTriggerEventCode kTriggerEvents[] = {
    {opBeforeInsert, kTriggerBefore, kTriggerInsert},
    {opBeforeUpdate, kTriggerBefore, kTriggerUpdate},
    {opBeforeDelete, kTriggerBefore, kTriggerDelete},
    {opBeforeAll, kTriggerBefore, kTriggerAll},
    {opBeforeLoadUpdate, kTriggerBefore, kTriggerLoadUpdate},
    {opAfterInsert, kTriggerAfter, kTriggerInsert},
    {opAfterUpdate, kTriggerAfter, kTriggerUpdate},
    {opAfterDelete, kTriggerAfter, kTriggerDelete},
    {opAfterAll, kTriggerAfter, kTriggerAll},
    {opAfterLoadUpdate, kTriggerAfter, kTriggerLoadUpdate},
    {opErrorInsert, kTriggerError, kTriggerInsert},
    {opErrorUpdate, kTriggerError, kTriggerUpdate},
    {opErrorDelete, kTriggerError, kTriggerDelete},
    {opErrorAll, kTriggerError, kTriggerAll},
    {opErrorLoadUpdate, kTriggerError, kTriggerLoadUpdate},
};

// Applies the definition and answers the position for the commit: the
// index n - 1 of AT n, else where the trigger is kept.
int32_t applyTriggerDefinition(TBRNLocalExprEvaluator& evaluator, TBRNBaseTable* table,
                               TBRNTrigger* trigger, TBRNExprToken* node) {
  const TBRNExprToken* name = Child(node, 0);
  bool known = false;
  for (const TBRNTriggerEventCode& event : kTriggerEvents) {
    if (event.Code != name->Operation) continue;
    trigger->SetActionTime(event.Time);
    trigger->SetActionType(event.Type);
    known = true;
  }
  if (!known) throw std::logic_error("Unknown trigger event");
  trigger->TriggerColumns->Clear();
  if (const TBRNExprToken* columns = Child(node, 1)) {
    for (const TBRNExprToken* item : columns->Arguments()) {
      std::unique_ptr<TBRNTriggerColumn> entry(
          static_cast<TBRNTriggerColumn*>(trigger->TriggerColumns->NewItem()));
      entry->SetColumn(findColumn(table, item->Name));
      trigger->TriggerColumns->AddObject(entry.get());
      entry.release();
    }
  }
  int32_t position = TBRNLocalDatabaseManager::kKeepTriggerPosition;
  if (TBRNExprToken* at = Child(node, 3)) position = ClauseInteger(evaluator, at) - 1;
  const TBRNExprToken* when = Child(node, 4);
  trigger->Condition->SetText(when != nullptr ? when->Text : std::string());
  trigger->Definition->SetText(node->Text);
  if (TBRNExprToken* description = Child(node, 5))
    trigger->SetDescription(ClauseText(evaluator, description));
  trigger->SetModified(true);
  return position;
}

void createTrigger(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  TBRNBaseTable* table = nullptr;
  TBRNTrigger* trigger = database.CreateTrigger(ChildName(node, 2), table, ChildName(node, 0));
  try {
    const int32_t position = applyTriggerDefinition(evaluator, table, trigger, node);
    database.CommitCreateTrigger(table, trigger, position);
  } catch (...) {
    try {
      database.RollbackCreateTrigger(table, trigger);
    } catch (...) {
      // The definition's failure is the one to report.
    }
    throw;
  }
}

void alterTrigger(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  TBRNBaseTable* table = nullptr;
  TBRNTrigger* trigger = database.AlterTrigger(ChildName(node, 2), table, ChildName(node, 0));
  try {
    const int32_t position = applyTriggerDefinition(evaluator, table, trigger, node);
    database.CommitAlterTrigger(table, trigger, position);
  } catch (...) {
    try {
      database.RollbackAlterTrigger(table, trigger);
    } catch (...) {
      // The definition's failure is the one to report.
    }
    throw;
  }
}

void dropTrigger(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).DropTrigger(ChildName(node, 2), ChildName(node, 0));
}

void renameTrigger(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).RenameTrigger(ChildName(node, 2), ChildName(node, 0), ChildName(node, 3));
}

void enableTrigger(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  if (Child(node, 0) != nullptr)
    database.EnableTrigger(ChildName(node, 2), ChildName(node, 0));
  else
    database.EnableTriggers(ChildName(node, 2));
}

void disableTrigger(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  if (Child(node, 0) != nullptr)
    database.DisableTrigger(ChildName(node, 2), ChildName(node, 0));
  else
    database.DisableTriggers(ChildName(node, 2));
}

// ---- Views: name, AS query, WITH CHECK OPTION, DESCRIPTION, VERSION,
// ATTRIBUTES; the node's text is the query's.

void applySchemaObjectClauses(TBRNLocalExprEvaluator& evaluator, TBRNPrivilegedSchemaObject* object,
                              TBRNExprToken* node, int32_t first) {
  if (TBRNExprToken* description = Child(node, first))
    object->SetDescription(ClauseText(evaluator, description));
  if (TBRNExprToken* version = Child(node, first + 1))
    object->SetVersion(ClauseDecimal(evaluator, version));
  if (TBRNExprToken* attributes = Child(node, first + 2))
    object->SetAttributes(ClauseText(evaluator, attributes));
}

void applyViewDefinition(TBRNLocalExprEvaluator& evaluator, TBRNLocalDatabaseManager& database,
                         TBRNView* view, TBRNExprToken* node) {
  view->Columns->Clear();
  view->Indexes->Clear();
  view->Definition->SetText(node->Text);
  TBRNExprToken* query = Child(node, 1);
  int32_t indexPosition = -1;
  if (database.Catalog->CanBeSensitive(query, indexPosition)) {
    database.Catalog->DefineViewColumns(query, view);
    view->SetUpdateable(true);
  } else {
    database.Catalog->DefineResultTable(query, view, false, true);
    view->SetUpdateable(false);
  }
  if (TBRNExprToken* check = Child(node, 2)) view->SetWithCheck(ClauseBoolean(evaluator, check));
  applySchemaObjectClauses(evaluator, view, node, 3);
}

void createView(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  TBRNView* view = database.CreateView(ChildName(node, 0));
  try {
    applyViewDefinition(evaluator, database, view, node);
    database.CommitCreateView(view);
  } catch (...) {
    try {
      database.RollbackCreateView(view);
    } catch (...) {
      // The definition's failure is the one to report.
    }
    throw;
  }
}

void alterView(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  TBRNView* view = database.AlterView(ChildName(node, 0));
  try {
    applyViewDefinition(evaluator, database, view, node);
    database.CommitAlterView(view);
  } catch (...) {
    try {
      database.RollbackAlterView(view);
    } catch (...) {
      // The definition's failure is the one to report.
    }
    throw;
  }
}

void dropView(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).DropView(ChildName(node, 0));
}

void renameView(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).RenameView(ChildName(node, 0), ChildName(node, 1));
}

// ---- Functions and procedures: routine node, DESCRIPTION, VERSION,
// ATTRIBUTES; the node's text is the routine's.

void applyRoutineDefinition(TBRNLocalExprEvaluator& evaluator, TBRNRoutine* routine,
                            TBRNExprToken* node) {
  routine->Definition->SetText(node->Text);
  const TBRNExprToken* root = Child(node, 0);
  routine->DefineParams(root);
  routine->DefineResult(root);
  routine->DefineImplementation(root);
  applySchemaObjectClauses(evaluator, routine, node, 1);
}

template <typename TRoutine, TRoutine* (TBRNLocalDatabaseManager::*Begin)(const std::string&),
          void (TBRNLocalDatabaseManager::*Commit)(TRoutine*),
          void (TBRNLocalDatabaseManager::*Rollback)(TRoutine*)>
void defineRoutine(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
  TRoutine* routine = (database.*Begin)(ChildName(node, 0));
  try {
    applyRoutineDefinition(evaluator, routine, node);
    (database.*Commit)(routine);
  } catch (...) {
    try {
      (database.*Rollback)(routine);
    } catch (...) {
      // The definition's failure is the one to report.
    }
    throw;
  }
}

void createFunction(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  defineRoutine<TBRNFunction, &TBRNLocalDatabaseManager::CreateFunction,
                &TBRNLocalDatabaseManager::CommitCreateFunction,
                &TBRNLocalDatabaseManager::RollbackCreateFunction>(evaluator, node);
}

void alterFunction(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  defineRoutine<TBRNFunction, &TBRNLocalDatabaseManager::AlterFunction,
                &TBRNLocalDatabaseManager::CommitAlterFunction,
                &TBRNLocalDatabaseManager::RollbackAlterFunction>(evaluator, node);
}

void createProcedure(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  defineRoutine<TBRNProcedure, &TBRNLocalDatabaseManager::CreateProcedure,
                &TBRNLocalDatabaseManager::CommitCreateProcedure,
                &TBRNLocalDatabaseManager::RollbackCreateProcedure>(evaluator, node);
}

void alterProcedure(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  defineRoutine<TBRNProcedure, &TBRNLocalDatabaseManager::AlterProcedure,
                &TBRNLocalDatabaseManager::CommitAlterProcedure,
                &TBRNLocalDatabaseManager::RollbackAlterProcedure>(evaluator, node);
}

void dropFunction(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).DropFunction(ChildName(node, 0));
}

void renameFunction(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).RenameFunction(ChildName(node, 0), ChildName(node, 1));
}

void dropProcedure(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).DropProcedure(ChildName(node, 0));
}

void renameProcedure(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).RenameProcedure(ChildName(node, 0), ChildName(node, 1));
}

template <TBRNObjectVerb Verb, TBRNObjectKind Kind, TBRNHandlerBody Body>
void setVerb(TBRNStatementHandlers& handlers) {
  handlers.SetVerb(Verb, Kind, &Logged<VerbFailure(Verb, Kind), Body>);
}

}  // namespace

void FillCatalogObjectHandlers(TBRNStatementHandlers& handlers) {
  setVerb<ovCreate, okTable, createTable>(handlers);
  setVerb<ovAlter, okTable, alterTable>(handlers);
  setVerb<ovDrop, okTable, dropTable>(handlers);
  setVerb<ovRename, okTable, renameTable>(handlers);
  setVerb<ovCreate, okIndex, createIndex<applyIndexDefinition>>(handlers);
  setVerb<ovAlter, okIndex, alterIndex<applyIndexDefinition>>(handlers);
  setVerb<ovDrop, okIndex, dropIndex>(handlers);
  setVerb<ovRename, okIndex, renameIndex>(handlers);
  setVerb<ovCreate, okTextIndex, createIndex<applyTextIndexDefinition>>(handlers);
  setVerb<ovAlter, okTextIndex, alterIndex<applyTextIndexDefinition>>(handlers);
  setVerb<ovCreate, okTrigger, createTrigger>(handlers);
  setVerb<ovAlter, okTrigger, alterTrigger>(handlers);
  setVerb<ovDrop, okTrigger, dropTrigger>(handlers);
  setVerb<ovRename, okTrigger, renameTrigger>(handlers);
  setVerb<ovEnable, okTrigger, enableTrigger>(handlers);
  setVerb<ovDisable, okTrigger, disableTrigger>(handlers);
  setVerb<ovCreate, okView, createView>(handlers);
  setVerb<ovAlter, okView, alterView>(handlers);
  setVerb<ovDrop, okView, dropView>(handlers);
  setVerb<ovRename, okView, renameView>(handlers);
  setVerb<ovCreate, okFunction, createFunction>(handlers);
  setVerb<ovAlter, okFunction, alterFunction>(handlers);
  setVerb<ovDrop, okFunction, dropFunction>(handlers);
  setVerb<ovRename, okFunction, renameFunction>(handlers);
  setVerb<ovCreate, okProcedure, createProcedure>(handlers);
  setVerb<ovAlter, okProcedure, alterProcedure>(handlers);
  setVerb<ovDrop, okProcedure, dropProcedure>(handlers);
  setVerb<ovRename, okProcedure, renameProcedure>(handlers);
}

}  // namespace handlers
}  // namespace brn
