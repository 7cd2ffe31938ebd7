// The constraint checks of the row changes: NOT NULL, primary and unique
// keys, foreign keys in both directions, check conditions, the locks of
// referenced keys, and the row pass that EMPTY TABLE, OPTIMIZE and ALTER
// run over the stored rows.
#include <exception>
#include <stdexcept>
#include <string>

#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "storage/files/table_file_guards.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/execution_seam.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/rows/row_locks.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

constexpr int32_t kCheckInsert = 0;
constexpr int32_t kCheckUpdate = 1;
constexpr int32_t kCheckDelete = 2;
constexpr int32_t kCheckStoredRow = 4;

constexpr int32_t kConstraintViolationCode = 1004;
constexpr int32_t kCannotLockCode = 1005;
constexpr int32_t kCannotUnlockCode = 1006;
constexpr int32_t kNotOpenCode = 402;
constexpr const char* kViolationPattern = "The %s %s for the %s %s has been violated (%s)";

// The values of a key joined with ",", as rows and keys are named in
// messages; a NULL value is empty.
std::string keyText(const TBRNValues& key) {
  std::string text;
  for (int32_t i = 0; i < key.GetCount(); ++i) {
    if (i > 0) text += ",";
    const TBRNValue* value = key.GetItem(i);
    if (!value->GetNull()) text += value->GetAsString();
  }
  return text;
}

// The position of a key constraint's enforcing index among its table's
// indexes; a key without one is broken metadata.
int32_t indexPositionOf(TBRNConstraint* constraint) {
  TBRNIndex* index = constraint->GetEnforcingIndex();
  if (index == nullptr) {
    throw std::logic_error("the constraint " + constraint->Name + " has no enforcing index");
  }
  return index->Index;
}

// The open manager of table in self's session (self for its own table);
// nullptr when the table is not open there.
TBRNTableManager* openManagerOf(TBRNTableManager& self, TBRNBaseTable* table) {
  if (table == self.GetBaseTable()) return &self;
  TBRNSchemaObjectManagers* managers = self.GetEnvironment().GetTableManagers();
  if (managers == nullptr) return nullptr;
  auto* manager = dynamic_cast<TBRNTableManager*>(managers->GetManager(table));
  if (manager == nullptr || !manager->GetOpen() || manager->GetRowsetManager() == nullptr) {
    return nullptr;
  }
  return manager;
}

std::string violationText(TBRNConstraint* constraint, const TBRNTableManager& table,
                          const std::string& detail) {
  return FormatText(kViolationPattern,
                    {TBRNConstraint::GetConstraintKindName(constraint->ConstraintType),
                     constraint->Name, table.GetTableKindName(), table.GetTableName(), detail});
}

}  // namespace

// ---------------------------------------------------------------------------
// Errors

void TBRNTableManager::RaiseColumnNotNull(TBRNColumn* Column) {
  if (Column->NotNullErrorCode != 0 || !Column->NotNullErrorMessage.empty()) {
    throw EBRNException(
        Column->NotNullErrorCode != 0 ? Column->NotNullErrorCode : kConstraintViolationCode,
        Column->NotNullErrorMessage);
  }
  throw EBRNException(
      kConstraintViolationCode,
      FormatText("The %s %s in the %s %s cannot be NULL",
                 {Column->GetObjectTypeName(), Column->Name, GetTableKindName(), GetTableName()}));
}

void TBRNTableManager::RaiseConstraintViolation(TBRNConstraint* Constraint,
                                                const std::string& Detail) {
  if (Constraint->ErrorCode != 0 || !Constraint->ErrorMessage.empty()) {
    throw EBRNException(
        Constraint->ErrorCode != 0 ? Constraint->ErrorCode : kConstraintViolationCode,
        Constraint->ErrorMessage);
  }
  throw EBRNException(kConstraintViolationCode, violationText(Constraint, *this, Detail));
}

void TBRNTableManager::raiseDuplicateBuildKey(int32_t Index) {
  const TBRNIndexLayoutKeyValues& key = *GetIndexKey(Index);
  const std::string detail = FormatText("Duplicate key %s found", {keyText(key)});
  TBRNIndex* index = layouts.at(size_t(Index))->GetIndex();
  auto* constraint =
      index != nullptr ? dynamic_cast<TBRNConstraint*>(index->GetOwnerConstraint()) : nullptr;
  if (constraint != nullptr) RaiseConstraintViolation(constraint, detail);
  throw EBRNException(kConstraintViolationCode, detail);
}

void TBRNTableManager::RaiseReferencedTableNotOpen(TBRNBaseTable* Table) {
  throw EBRNException(kNotOpenCode,
                      FormatText("The %s %s must be open in order to perform this operation (%s)",
                                 {Table->GetObjectTypeName(), Table->Name, "CHECK CONSTRAINT"}));
}

// ---------------------------------------------------------------------------
// Checks

void TBRNTableManager::CheckRowConstraints(TBRNRowValues& Values, int32_t Row, int32_t Type,
                                           bool ForeignKeysOnly) {
  try {
    TBRNColumns* columns = GetColumns();
    if (columns->HasRequiredColumns()) {
      TBRNSelectedColumns* required = columns->GetRequiredColumns();
      for (int32_t i = 0; i < required->Count(); ++i) {
        TBRNColumn* column = required->GetItem(i);
        if (Values.GetItem(column->Index)->GetNull()) RaiseColumnNotNull(column);
      }
    }
    TBRNConstraints* constraints = GetBaseTable()->Constraints.get();
    for (int32_t i = 0; i < constraints->Count(); ++i) {
      CheckConstraint(constraints->GetItem(i), Values, Row, Type, ForeignKeysOnly);
    }
  } catch (...) {
    try {
      ReleaseReferencedKeyLocks();
    } catch (...) {
      // The check's error is the one reported.
    }
    throw;
  }
}

// ForeignKeysOnly (the row pass) skips the row's own key and its check
// condition but keeps both directions of the foreign keys: a
// delete pass must still see the rows of other tables that refer to a row,
// or EMPTY TABLE would orphan them. References inside the table itself are
// ignored by a delete pass, which removes every row together.
void TBRNTableManager::CheckConstraint(TBRNConstraint* Constraint, TBRNRowValues& Values,
                                       int32_t Row, int32_t Type, bool ForeignKeysOnly) {
  if (Constraint->Internal) return;
  switch (Constraint->ConstraintType) {
    case kConstraintPrimaryKey:
    case kConstraintUnique: {
      const int32_t index = indexPositionOf(Constraint);
      const bool keyChanged = Type == kCheckUpdate && IndexKeyChanged(Values, index);
      if (!ForeignKeysOnly && (Type == kCheckInsert || Type == kCheckStoredRow || keyChanged)) {
        BuildIndexKey(Values, index, false);
        TBRNIndexLayoutKeyValues& key = *GetIndexKey(index);
        bool test = true;
        if (Constraint->ConstraintType == kConstraintPrimaryKey) {
          if (KeyHasNull(index)) {
            RaiseConstraintViolation(Constraint, "NULL values are not allowed in a primary key");
          }
        } else {
          // Keys with every value NULL are never duplicates.
          test = !KeyAllNull(index);
        }
        if (test && KeyExists(key, index, Type == kCheckStoredRow ? Row : 0)) {
          RaiseConstraintViolation(Constraint,
                                   FormatText("Duplicate key %s found", {keyText(key)}));
        }
      }
      if (Type != kCheckDelete && !keyChanged) return;
      if (!Constraint->SourceConstraints || Constraint->SourceConstraints->Count() == 0) return;
      // The key the stored row holds, which rows may refer to. A key with a
      // NULL value is referred to by no row: such a foreign key is not
      // checked when it is written.
      BuildIndexKey(rowNavigator->GetCurrentValues(), index, false);
      if (KeyHasNull(index)) return;
      TBRNIndexLayoutKeyValues& oldKey = *GetIndexKey(index);
      const std::string detail =
          FormatText("Foreign keys exist which refer to the primary or unique key %s in the %s %s",
                     {keyText(oldKey), GetTableKindName(), GetTableName()});
      TBRNSourceConstraints* sources = Constraint->SourceConstraints.get();
      for (int32_t i = 0; i < sources->Count(); ++i) {
        TBRNSourceConstraint* source = sources->GetItem(i);
        TBRNConstraint* foreignKey = source->GetSourceConstraint();
        auto* referring = static_cast<TBRNBaseTable*>(source->GetSourceTable());
        const int32_t foreignIndex = indexPositionOf(foreignKey);
        if (referring == GetBaseTable()) {
          if (ForeignKeysOnly && Type == kCheckDelete) continue;
          if (Type == kCheckUpdate) {
            // The row refers to itself and would keep the key it gives up.
            BuildIndexKey(Values, foreignIndex, false);
            if (GetIndexKey(foreignIndex)->Compare(oldKey, 0, false) == 0) {
              RaiseConstraintViolation(foreignKey, detail);
            }
          }
          if (KeyExists(oldKey, foreignIndex, Row)) RaiseConstraintViolation(foreignKey, detail);
          continue;
        }
        TBRNTableManager* other = openManagerOf(*this, referring);
        if (other == nullptr) RaiseReferencedTableNotOpen(referring);
        other->HasChanged(false);
        if (other->KeyExists(oldKey, foreignIndex, 0)) {
          other->RaiseConstraintViolation(foreignKey, detail);
        }
      }
      return;
    }
    case kConstraintForeignKey: {
      const int32_t index = indexPositionOf(Constraint);
      if (Type != kCheckInsert && !(Type == kCheckUpdate && IndexKeyChanged(Values, index))) return;
      BuildIndexKey(Values, index, false);
      if (KeyHasNull(index)) return;
      TBRNIndexLayoutKeyValues& key = *GetIndexKey(index);
      auto* target = static_cast<TBRNBaseTable*>(Constraint->GetTargetTable());
      TBRNConstraint* targetKey = Constraint->GetTargetConstraint();
      if (target == nullptr || targetKey == nullptr) {
        RaiseMetadataError("The foreign key " + Constraint->Name + " has no target key");
      }
      const int32_t targetIndex = indexPositionOf(targetKey);
      TBRNTableManager* owner = this;
      if (target == GetBaseTable()) {
        // A row that refers to itself needs no other row.
        BuildIndexKey(Values, targetIndex, false);
        if (GetIndexKey(targetIndex)->Compare(key, 0, false) == 0) return;
      } else {
        owner = openManagerOf(*this, target);
        if (owner == nullptr) RaiseReferencedTableNotOpen(target);
        owner->HasChanged(false);
      }
      if (!owner->KeyExists(key, targetIndex, 0)) {
        RaiseConstraintViolation(
            Constraint, FormatText("The foreign key %s does not match any existing primary or "
                                   "unique key in the %s %s",
                                   {keyText(key), target->GetObjectTypeName(), target->Name}));
      }
      if (!owner->LockReferencedKey(targetIndex)) {
        throw EBRNException(
            kCannotLockCode,
            violationText(Constraint, *this,
                          FormatText("Cannot lock the matching primary or unique key %s in the "
                                     "%s %s",
                                     {keyText(key), target->GetObjectTypeName(), target->Name})));
      }
      return;
    }
    case kConstraintCheck: {
      if (ForeignKeysOnly || !Constraint->CheckExpr) return;
      if (!Constraint->CheckExpr->Compiled) Constraint->CheckExpr->Compile();
      TBRNExprToken* root = Constraint->CheckExpr->Root;
      if (root == nullptr) return;
      EvaluateWithRow(GetEvaluator(), GetContext(), root, Values);
      // NULL passes: only a definite False violates.
      const TBRNValue* result = root->Value;
      if (result != nullptr && !result->GetNull() && !result->GetAsBoolean()) {
        RaiseConstraintViolation(Constraint, "Check expression evaluated to False");
      }
      return;
    }
    default:
      return;
  }
}

// ---------------------------------------------------------------------------
// Locks of referenced keys

// The row of the index navigator's current key, as KeyExists left it.
bool TBRNTableManager::LockReferencedKey(int32_t Index) {
  if (HoldsExclusiveLock() || HoldsTransactionLock()) return true;
  const int32_t row = GetIndexNavigator(Index)->GetRowNumber();
  if (IsRowLocked(row, true)) return true;
  // Kept (1): inside a database transaction the referenced row stays locked
  // until the referring row is committed.
  if (!LockRow(this, row, 1)) return false;
  referencedKeyLocks->AddLock(this, row, 0);
  return true;
}

// Every target table gives up every lock it took for this table's checks,
// also after a failing unlock; the first failure is raised at the end.
void TBRNTableManager::ReleaseReferencedKeyLocks() {
  TBRNConstraints* constraints = GetBaseTable()->Constraints.get();
  std::exception_ptr first;
  for (int32_t i = 0; i < constraints->Count(); ++i) {
    TBRNConstraint* foreignKey = constraints->GetItem(i);
    if (foreignKey->ConstraintType != kConstraintForeignKey) continue;
    auto* target = static_cast<TBRNBaseTable*>(foreignKey->GetTargetTable());
    if (target == nullptr) continue;
    TBRNTableManager* owner = openManagerOf(*this, target);
    if (owner == nullptr || !owner->referencedKeyLocks) continue;
    TBRNRowLocks& locks = *owner->referencedKeyLocks;
    int32_t row = 0;
    while (locks.NextLockedRow(row)) {
      locks.RemoveLock(row);
      bool released = false;
      try {
        released = owner->ReleaseRowLock(row);
      } catch (...) {
        if (!first) first = std::current_exception();
        continue;
      }
      if (released || first) continue;
      TBRNConstraint* targetKey = foreignKey->GetTargetConstraint();
      first = std::make_exception_ptr(EBRNException(
          kCannotUnlockCode,
          violationText(foreignKey, *this,
                        FormatText("Cannot unlock a primary or unique key %s in the %s %s",
                                   {targetKey != nullptr ? targetKey->Name : std::string(),
                                    target->GetObjectTypeName(), target->Name}))));
    }
  }
  if (first) std::rethrow_exception(first);
}

// ---------------------------------------------------------------------------
// The row pass

bool TBRNTableManager::CheckConstraintsPass(int32_t Mode, const std::string& Detail,
                                            const std::string& ErrorPattern) {
  if (!rowsetFile) throw std::logic_error("CheckConstraintsPass on a closed table manager");
  GetEnvironment().ReportStatus(Detail);
  TableProgressBracket progress(this);
  // The primary key names the row in the log; without one its row ID.
  int32_t keyIndex = -1;
  TBRNConstraints* constraints = GetBaseTable()->Constraints.get();
  for (int32_t i = 0; i < constraints->Count() && keyIndex < 0; ++i) {
    TBRNConstraint* constraint = constraints->GetItem(i);
    if (constraint->ConstraintType == kConstraintPrimaryKey && constraint->HasEnforcingIndex()) {
      keyIndex = indexPositionOf(constraint);
    }
  }
  const int32_t count = rowsetFile->GetBlockCount();
  TBRNRowsetRowValues& stored = rowNavigator->GetCurrentValues();
  for (int32_t row = 1; row <= count; ++row) {
    if (!rowNavigator->GotoRowNumber(row)) continue;
    if (rowNavigator->GetCurrentRow()->Status == kRowDeleted) continue;
    try {
      CheckRowConstraints(stored, row, Mode, true);
      ReleaseReferencedKeyLocks();
    } catch (...) {
      std::string message;
      try {
        throw;
      } catch (const EBRNException& error) {
        message = error.ErrorMessage;
      } catch (const std::exception& error) {
        message = error.what();
      }
      try {
        std::string name;
        if (keyIndex >= 0) {
          BuildIndexKey(stored, keyIndex, false);
          name = keyText(*GetIndexKey(keyIndex));
        } else {
          name = stored.GetItem(0)->GetAsString();
        }
        LogMessage(FormatText(ErrorPattern, {name, message}));
      } catch (...) {
        // The row's error is the one reported.
      }
      throw;
    }
    if (!UpdateProgress(int32_t(int64_t(row) * 100 / count))) return false;
  }
  return true;
}

}  // namespace brn
