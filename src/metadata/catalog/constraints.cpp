#include "metadata/catalog/constraints.h"

#include <stdexcept>
#include <type_traits>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/table_holder.h"
#include "metadata/core/ddl_text.h"
#include "metadata/core/referrer_helpers.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

std::string descriptionClause(const std::string& description) {
  return description.empty() ? std::string() : "\r\nDESCRIPTION " + QuotedText(description);
}

bool isTable(const TBRNConfigObject* object) {
  return dynamic_cast<const TBRNTableHolder*>(object) != nullptr;
}

TBRNColumns* columnsOf(TBRNConfigObject* table) {
  auto* holder = dynamic_cast<TBRNColumnsHolder*>(table);
  return holder != nullptr ? holder->GetColumns() : nullptr;
}

TBRNConstraints* constraintsOf(TBRNConfigObject* table) {
  TBRNTableHolder* holder = TableHolderOf(table);
  return holder != nullptr ? holder->GetConstraints() : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNConstraintColumn

TBRNConstraintColumn::TBRNConstraintColumn(TBRNCatalog* catalog) : TBRNColumnReference(catalog) {}

void TBRNConstraintColumn::RaiseBlobInConstraint() const {
  RaiseMetadataError(FormatText("The BLOB column %s cannot be used in a constraint", {GetName()}));
}

TBRNConstraint* TBRNConstraintColumn::GetConstraint() const {
  return Owner != nullptr ? dynamic_cast<TBRNConstraint*>(Owner->Owner) : nullptr;
}

TBRNColumns* TBRNConstraintColumn::lookupColumns() const {
  TBRNConstraint* constraint = GetConstraint();
  return constraint != nullptr ? columnsOf(constraint->GetTable()) : nullptr;
}

TBRNConfigObject* TBRNConstraintColumn::holderObject() const {
  return GetConstraint();
}

bool TBRNConstraintColumn::isSameKind(const TBRNColumnReference& other) const {
  return dynamic_cast<const TBRNConstraintColumn*>(&other) != nullptr;
}

std::string TBRNConstraintColumn::GetObjectTypeName() const {
  return "constraint column";
}

TBRNConfigObject* TBRNConstraintColumn::GetRootObject() {
  TBRNConstraint* constraint = GetConstraint();
  return constraint != nullptr ? constraint->GetRootObject() : this;
}

void TBRNConstraintColumn::Validate() {
  TBRNCatalogObject::Validate();
  TBRNColumn* column = GetColumn();
  if (column != nullptr && column->DataType == dtLob) RaiseBlobInConstraint();
}

// TBRNTargetTableColumn

TBRNColumns* TBRNTargetTableColumn::lookupColumns() const {
  TBRNConstraint* constraint = GetConstraint();
  return constraint != nullptr ? columnsOf(constraint->GetTargetTable()) : nullptr;
}

void TBRNTargetTableColumn::Validate() {
  TBRNCatalogObject::Validate();
}

void TBRNTargetTableColumn::RegisterReferenceTo(TBRNConfigObject* target) {
  TBRNConstraintColumn::RegisterReferenceTo(target);
}

// ---------------------------------------------------------------------------
// TBRNSourceConstraint

TBRNSourceConstraint::TBRNSourceConstraint(TBRNCatalog* catalog) : TBRNCatalogObject(catalog) {}

TBRNConstraint* TBRNSourceConstraint::GetConstraint() const {
  return Owner != nullptr ? dynamic_cast<TBRNConstraint*>(Owner->Owner) : nullptr;
}

TBRNConfigObject* TBRNSourceConstraint::GetSourceTable() {
  if (auto* cached = table_.Get(Config)) return cached;
  TBRNConstraint* constraint = GetConstraint();
  TBRNConfigObject* own = constraint != nullptr ? constraint->GetTable() : nullptr;
  TBRNConfigObject* found = nullptr;
  if (own != nullptr && own->ID == SourceTableID) {
    found = own;
  } else {
    TBRNSchema* schema = constraint != nullptr ? constraint->GetSchema() : nullptr;
    if (schema == nullptr) return nullptr;
    found = schema->BaseTables->FindByID(SourceTableID, true);
  }
  table_.Set(found, Config);
  return found;
}

TBRNConstraint* TBRNSourceConstraint::GetSourceConstraint() {
  if (auto* cached = constraint_.Get(Config)) return static_cast<TBRNConstraint*>(cached);
  TBRNConstraints* constraints = constraintsOf(GetSourceTable());
  if (constraints == nullptr) return nullptr;
  auto* found = static_cast<TBRNConstraint*>(constraints->FindByID(SourceConstraintID, true));
  constraint_.Set(found, Config);
  return found;
}

void TBRNSourceConstraint::SetSourceTable(TBRNConfigObject* table) {
  table_.Set(table, Config);
  const int32_t id = table != nullptr ? table->ID : 0;
  if (SourceTableID == id) return;
  SourceTableID = id;
  SetModified(true);
}

void TBRNSourceConstraint::SetSourceConstraint(TBRNConstraint* constraint) {
  constraint_.Set(constraint, Config);
  const int32_t id = constraint != nullptr ? constraint->ID : 0;
  if (SourceConstraintID == id) return;
  SourceConstraintID = id;
  SetModified(true);
}

void TBRNSourceConstraint::SetSourceTableID(int32_t id) {
  if (SourceTableID != 0 || id == 0) return;
  SourceTableID = id;
  SetModified(true);
}

std::string TBRNSourceConstraint::GetName() const {
  try {
    TBRNConstraint* constraint = const_cast<TBRNSourceConstraint*>(this)->GetSourceConstraint();
    return constraint != nullptr ? constraint->Name : std::string();
  } catch (const EBRNException&) {
    return std::string();
  }
}

bool TBRNSourceConstraint::HasName() const {
  return false;
}

std::string TBRNSourceConstraint::GetObjectTypeName() const {
  return "source constraint";
}

void TBRNSourceConstraint::ResetLinks() {
  table_.Reset();
  constraint_.Reset();
  TBRNCatalogObject::ResetLinks();
}

void TBRNSourceConstraint::RegisterReferenceTo(TBRNConfigObject* target) {
  // The referenced constraint depends on the table of each of its foreign
  // keys.
  TBRNConstraint* constraint = GetConstraint();
  if (constraint == nullptr || !isTable(target) || target->ID != SourceTableID) return;
  if (target == GetSourceTable()) AddReferrerOnce(target, constraint);
}

void TBRNSourceConstraint::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  if (isTable(target) && target->ID == SourceTableID) {
    SourceTableID = newID;
    table_.Reset();
    SetModified(true);
  } else if (dynamic_cast<TBRNConstraint*>(target) != nullptr && target->ID == SourceConstraintID) {
    SourceConstraintID = newID;
    constraint_.Reset();
    SetModified(true);
  }
}

void TBRNSourceConstraint::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNCatalogObject::Assign(source, copyState);
  if (auto* other = dynamic_cast<const TBRNSourceConstraint*>(source)) {
    SourceTableID = other->SourceTableID;
    SourceConstraintID = other->SourceConstraintID;
  }
  ResetLinks();
}

bool TBRNSourceConstraint::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* entry = dynamic_cast<const TBRNSourceConstraint*>(other);
  if (entry == nullptr) return false;
  if (compareIDs)
    return SourceTableID == entry->SourceTableID && SourceConstraintID == entry->SourceConstraintID;
  auto* self = const_cast<TBRNSourceConstraint*>(this);
  auto* that = const_cast<TBRNSourceConstraint*>(entry);
  auto tableName = [](TBRNSourceConstraint* e) {
    try {
      TBRNConfigObject* table = e->GetSourceTable();
      return table != nullptr ? table->Name : std::string();
    } catch (const EBRNException&) {
      return std::string();
    }
  };
  return TextEqualsIgnoreCase(tableName(self), tableName(that)) &&
         TextEqualsIgnoreCase(GetName(), other->GetName());
}

void TBRNSourceConstraint::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNCatalogObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(SourceTableID);
  stream.WriteInteger(SourceConstraintID);
}

void TBRNSourceConstraint::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNCatalogObject::LoadFromStream(stream);
  SourceTableID = readStoredInteger(stream);
  SourceConstraintID = readStoredInteger(stream);
  ResetLinks();
}

// ---------------------------------------------------------------------------
// Collections

TBRNConstraintColumn* TBRNConstraintColumns::GetItem(int32_t index) const {
  return static_cast<TBRNConstraintColumn*>(TBRNCatalogObjects::GetItem(index));
}

std::string TBRNConstraintColumns::GetObjectTypeName() const {
  return "constraint column";
}

TBRNSourceConstraint* TBRNSourceConstraints::GetItem(int32_t index) const {
  return static_cast<TBRNSourceConstraint*>(TBRNCatalogObjects::GetItem(index));
}

std::string TBRNSourceConstraints::GetObjectTypeName() const {
  return "source constraint";
}

bool TBRNSourceConstraints::SameKey(const TBRNConfigObject*, const TBRNConfigObject*) const {
  return false;
}

std::string TBRNSourceConstraints::GetSQLSeparator() const {
  return ",\r\n";
}

TBRNConstraint* TBRNConstraints::GetItem(int32_t index) const {
  return static_cast<TBRNConstraint*>(TBRNCatalogObjects::GetItem(index));
}

std::string TBRNConstraints::GetObjectTypeName() const {
  return "constraint";
}

bool TBRNConstraints::SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const {
  auto* x = dynamic_cast<const TBRNConstraint*>(a);
  auto* y = dynamic_cast<const TBRNConstraint*>(b);
  if (x != nullptr && y != nullptr && x->ConstraintType == kConstraintPrimaryKey &&
      y->ConstraintType == kConstraintPrimaryKey)
    return true;
  return TextEqualsIgnoreCase(a->GetName(), b->GetName());
}

std::string TBRNConstraints::GetSQLSeparator() const {
  return ",\r\n";
}

void TBRNConstraints::CompleteTableID(int32_t tableID) {
  for (int32_t i = 0; i < Count(); ++i) {
    TBRNConstraint* constraint = GetItem(i);
    if (constraint->ConstraintType == kConstraintForeignKey) constraint->SetTargetTableID(tableID);
    if (constraint->SourceConstraints) {
      for (int32_t j = 0; j < constraint->SourceConstraints->Count(); ++j)
        constraint->SourceConstraints->GetItem(j)->SetSourceTableID(tableID);
    }
  }
}

// ---------------------------------------------------------------------------
// TBRNCheckExpr

TBRNCheckExpr::TBRNCheckExpr(TBRNConstraint* constraint)
    : TBRNCatalogExpr(constraint), Constraint(constraint) {
  SetCatalog(constraint->Catalog);
}

std::string TBRNCheckExpr::GetKindName() const {
  return Constraint->Name + " check constraint expression";
}

TBRNConfigObject* TBRNCheckExpr::GetOwnerTable() const {
  return Constraint->GetTable();
}

void TBRNCheckExpr::GetContextSchemaName(const TBRNExprToken*, std::string& Name) {
  TBRNSchema* schema = Constraint->GetSchema();
  Name = schema != nullptr ? schema->Name : std::string();
}

void TBRNCheckExpr::GetContextTableName(const TBRNExprToken*, std::string& Name) {
  TBRNConfigObject* table = Constraint->GetTable();
  Name = table != nullptr ? table->Name : std::string();
}

void TBRNCheckExpr::AddColumnDependency(TBRNExprToken* Node) {
  // A reference bound to a row of its own names another table's column.
  if (Node == nullptr || Node->Link != nullptr || !Constraint->ReferencedColumns) return;
  TBRNColumns* columns = columnsOf(Constraint->GetTable());
  if (columns == nullptr || Node->Index < 0 || Node->Index >= columns->Count()) return;
  Constraint->ReferencedColumns->AddObject(columns->GetItem(Node->Index));
}

void TBRNCheckExpr::AddFunctionDependency(TBRNExprToken* Node) {
  if (Node == nullptr || Node->Operation != opUserFunction || !Constraint->ReferencedFunctions)
    return;
  TBRNCatalog* catalog = Constraint->Catalog;
  if (catalog == nullptr || catalog->DefaultSchema == nullptr) return;
  TBRNConfigObjects* functions = catalog->DefaultSchema->Functions.get();
  if (Node->Index < 0 || Node->Index >= functions->Count()) return;
  Constraint->ReferencedFunctions->AddObject(functions->GetItem(Node->Index));
}

void TBRNCheckExpr::AfterCompile() {
  SortUniqueByID(Constraint->ReferencedColumns.get());
  SortUniqueByID(Constraint->ReferencedFunctions.get());
}

void TBRNCheckExpr::AfterUncompile() {
  if (Constraint->ReferencedColumns) Constraint->ReferencedColumns->Clear();
  if (Constraint->ReferencedFunctions) Constraint->ReferencedFunctions->Clear();
}

// ---------------------------------------------------------------------------
// TBRNConstraint

TBRNConstraint::TBRNConstraint(TBRNCatalog* catalog) : TBRNCatalogObject(catalog) {}

TBRNConstraint::~TBRNConstraint() {
  // The condition's dependency lists go before the condition that fills them.
  CheckExpr.reset();
}

void TBRNConstraint::RaiseInvalidConstraintType() const {
  RaiseMetadataError("The constraint type is invalid");
}

void TBRNConstraint::RaiseInvalidAction() const {
  RaiseMetadataError("The constraint update or delete action is invalid or not supported");
}

std::string TBRNConstraint::GetActionName(uint32_t action) {
  switch (action) {
    case kActionNoAction:
      return "No Action";
    case kActionCascade:
      return "Cascade";
    case kActionSetNull:
      return "Set Null";
    case kActionSetDefault:
      return "Set Default";
    case kActionRestrict:
      return "Restrict";
    default:
      return std::string();
  }
}

std::string TBRNConstraint::GetTypeName(int32_t type) {
  switch (type) {
    case kConstraintPrimaryKey:
      return "Primary Key";
    case kConstraintForeignKey:
      return "Foreign Key";
    case kConstraintUnique:
      return "Unique";
    case kConstraintCheck:
      return "Check";
    default:
      return std::string();
  }
}

std::string TBRNConstraint::GetConstraintKindName(int32_t type) {
  switch (type) {
    case kConstraintPrimaryKey:
      return "primary key constraint";
    case kConstraintForeignKey:
      return "foreign key constraint";
    case kConstraintUnique:
      return "unique constraint";
    case kConstraintCheck:
      return "check constraint";
    default:
      return std::string();
  }
}

TBRNConstraints* TBRNConstraint::GetConstraints() const {
  return dynamic_cast<TBRNConstraints*>(Owner);
}

TBRNConfigObject* TBRNConstraint::GetTable() const {
  TBRNConstraints* constraints = GetConstraints();
  return constraints != nullptr ? constraints->Owner : nullptr;
}

TBRNTableHolder* TBRNConstraint::GetTableHolder() const {
  return TableHolderOf(GetTable());
}

TBRNSchema* TBRNConstraint::GetSchema() const {
  TBRNConfigObject* table = GetTable();
  if (table != nullptr && table->Owner != nullptr) {
    if (auto* schema = dynamic_cast<TBRNSchema*>(table->Owner->Owner)) return schema;
  }
  return Catalog != nullptr ? Catalog->DefaultSchema : nullptr;
}

void TBRNConstraint::createKindLists(int32_t type) {
  const bool keyed = type >= kConstraintPrimaryKey && type <= kConstraintUnique;
  auto ensure = [this](auto& part) {
    using List = typename std::remove_reference_t<decltype(part)>::element_type;
    if (!part) {
      part = std::make_unique<List>(Catalog);
      part->Owner = this;
      part->System = System;
      part->Transient = Transient;
      part->Temporary = Temporary;
    }
  };
  if (keyed) {
    ensure(Columns);
  } else {
    Columns.reset();
  }
  if (type == kConstraintPrimaryKey || type == kConstraintUnique) {
    ensure(SourceConstraints);
  } else {
    SourceConstraints.reset();
  }
  if (type == kConstraintForeignKey) {
    ensure(TargetTableColumns);
  } else {
    TargetTableColumns.reset();
  }
  if (type == kConstraintCheck) {
    if (!ReferencedColumns) ReferencedColumns = std::make_unique<TBRNSelectedColumns>(Config);
    if (!ReferencedFunctions)
      ReferencedFunctions = std::make_unique<TBRNSelectedConfigObjects>(Config);
    if (!CheckExpr) CheckExpr = std::make_unique<TBRNCheckExpr>(this);
  } else {
    CheckExpr.reset();
    ReferencedColumns.reset();
    ReferencedFunctions.reset();
  }
}

void TBRNConstraint::SetConstraintType(int32_t type) {
  if (ConstraintType == type) return;
  ConstraintType = type;
  createKindLists(type);
  SetModified(true);
}

void TBRNConstraint::SetEnforcingIndex(TBRNIndex* index) {
  enforcingIndex_.Set(index, Config);
  const int32_t id = index != nullptr ? index->ID : 0;
  if (EnforcingIndexID == id) return;
  EnforcingIndexID = id;
  SetModified(true);
}

void TBRNConstraint::SetTargetTable(TBRNConfigObject* table) {
  TBRNConfigObject* own = GetTable();
  if (table != nullptr && own != nullptr && own->Temporary != table->Temporary) {
    TBRNConfigObject* temporary = own->Temporary ? own : table;
    TBRNTableHolder* holder = TableHolderOf(temporary);
    if (holder == nullptr || !holder->IsWorkingCopy())
      RaiseMetadataError(
          "Foreign keys cannot be established between temporary tables and non-temporary tables");
  }
  targetTable_.Set(table, Config);
  SelfReference = table != nullptr && table == own;
  const int32_t id = table != nullptr ? table->ID : 0;
  if (TargetTableID == id) return;
  TargetTableID = id;
  SetModified(true);
}

void TBRNConstraint::SetTargetTableID(int32_t id) {
  if (TargetTableID != 0 || id == 0) return;
  TargetTableID = id;
  SelfReference = false;
  targetTable_.Reset();
  SetModified(true);
}

void TBRNConstraint::SetTargetConstraint(TBRNConstraint* constraint) {
  targetConstraint_.Set(constraint, Config);
  const int32_t id = constraint != nullptr ? constraint->ID : 0;
  if (TargetConstraintID == id) return;
  TargetConstraintID = id;
  SetModified(true);
}

void TBRNConstraint::SetUpdateAction(uint32_t action) {
  if (UpdateAction == action) return;
  UpdateAction = action;
  SetModified(true);
}

void TBRNConstraint::SetDeleteAction(uint32_t action) {
  if (DeleteAction == action) return;
  DeleteAction = action;
  SetModified(true);
}

void TBRNConstraint::SetErrorCode(int32_t code) {
  if (ErrorCode == code) return;
  ErrorCode = code;
  SetModified(true);
}

void TBRNConstraint::SetErrorMessage(const std::string& message) {
  if (ErrorMessage == message) return;
  ErrorMessage = message;
  SetModified(true);
}

TBRNIndex* TBRNConstraint::GetEnforcingIndex() {
  if (EnforcingIndexID == 0) return nullptr;
  if (auto* cached = enforcingIndex_.Get(Config)) return static_cast<TBRNIndex*>(cached);
  TBRNTableHolder* holder = GetTableHolder();
  TBRNIndexes* indexes = holder != nullptr ? holder->GetIndexes() : nullptr;
  if (indexes == nullptr) return nullptr;
  auto* index = static_cast<TBRNIndex*>(indexes->FindByID(EnforcingIndexID, true));
  enforcingIndex_.Set(index, Config);
  return index;
}

TBRNConfigObject* TBRNConstraint::GetTargetTable() {
  if (auto* cached = targetTable_.Get(Config)) return cached;
  TBRNConfigObject* own = GetTable();
  // A self-reference made before the table had an ID.
  if (TargetTableID == 0) return SelfReference ? own : nullptr;
  TBRNConfigObject* found = nullptr;
  if (own != nullptr && own->ID == TargetTableID) {
    found = own;
  } else {
    TBRNSchema* schema = GetSchema();
    if (schema == nullptr) return nullptr;
    found = schema->BaseTables->FindByID(TargetTableID, true);
  }
  targetTable_.Set(found, Config);
  return found;
}

TBRNConstraint* TBRNConstraint::GetTargetConstraint() {
  if (auto* cached = targetConstraint_.Get(Config)) return static_cast<TBRNConstraint*>(cached);
  TBRNConstraints* constraints = constraintsOf(GetTargetTable());
  if (constraints == nullptr || TargetConstraintID == 0) return nullptr;
  auto* found = static_cast<TBRNConstraint*>(constraints->FindByID(TargetConstraintID, true));
  targetConstraint_.Set(found, Config);
  return found;
}

void TBRNConstraint::RemoveSourceConstraint(TBRNConstraint* foreignKey) {
  const int32_t id = foreignKey != nullptr ? foreignKey->ID : 0;
  if (!SourceConstraints) throw std::logic_error("RemoveSourceConstraint: not a key constraint");
  for (int32_t i = 0; i < SourceConstraints->Count(); ++i) {
    if (SourceConstraints->GetItem(i)->SourceConstraintID == id) {
      delete SourceConstraints->RemoveObject(i);
      SetModified(true);
      return;
    }
  }
  SourceConstraints->RaiseNotFoundByID(id);
}

void TBRNConstraint::CheckTypeUnchanged(int32_t newType) const {
  if (newType != ConstraintType) RaiseMetadataError("You cannot alter the constraint type");
}

int32_t TBRNConstraint::CompareDefinition(TBRNConstraint* newConstraint) {
  Compared = true;
  int32_t result = kConstraintCompared;
  if (newConstraint == nullptr) return result;
  switch (ConstraintType) {
    case kConstraintPrimaryKey:
    case kConstraintUnique:
      if (!Columns->IsEqual(newConstraint->Columns.get(), true)) result |= kConstraintKeyChanged;
      break;
    case kConstraintForeignKey:
      if (!Columns->IsEqual(newConstraint->Columns.get(), true)) {
        result |= kConstraintKeyChanged;
      } else if (TargetTableID != newConstraint->TargetTableID ||
                 !TargetTableColumns->IsEqual(newConstraint->TargetTableColumns.get(), true) ||
                 TargetConstraintID != newConstraint->TargetConstraintID ||
                 UpdateAction != newConstraint->UpdateAction ||
                 DeleteAction != newConstraint->DeleteAction) {
        result |= kConstraintReferenceChanged;
      }
      break;
    case kConstraintCheck:
      if (!CheckExpr->Equals(newConstraint->CheckExpr.get())) result |= kConstraintConditionChanged;
      break;
    default:
      break;
  }
  return result;
}

std::string TBRNConstraint::BuildDefinition(bool includeDescription) {
  std::string text = UpperCaseText(GetTypeName(ConstraintType));
  if (Columns) text += " (" + Columns->GetCreateSQL(false, false) + ")";
  if (ConstraintType == kConstraintForeignKey) {
    TBRNConfigObject* target = GetTargetTable();
    text += " REFERENCES " + QuotedName(target != nullptr ? target->Name : std::string()) + " (" +
            TargetTableColumns->GetCreateSQL(false, false) + ")\r\n   ON UPDATE " +
            UpperCaseText(GetActionName(UpdateAction)) + " ON DELETE " +
            UpperCaseText(GetActionName(DeleteAction));
  }
  if (ConstraintType == kConstraintCheck) text += " " + TrimTrailingBlanks(CheckExpr->SQL);
  if (ErrorCode != 0)
    text += "\r\nERROR CODE " + IntegerToString(ErrorCode) + " MESSAGE " + QuotedText(ErrorMessage);
  if (includeDescription) text += descriptionClause(Description);
  return text;
}

void TBRNConstraint::SetInternal(bool value) {
  if (Internal == value) return;
  Internal = value;
  SetModified(true);
}

void TBRNConstraint::SetSystem(bool value) {
  TBRNCatalogObject::SetSystem(value);
  if (Columns) Columns->SetSystem(value);
  if (SourceConstraints) SourceConstraints->SetSystem(value);
  if (TargetTableColumns) TargetTableColumns->SetSystem(value);
}

void TBRNConstraint::SetTransient(bool value) {
  TBRNCatalogObject::SetTransient(value);
  if (Columns) Columns->SetTransient(value);
  if (SourceConstraints) SourceConstraints->SetTransient(value);
  if (TargetTableColumns) TargetTableColumns->SetTransient(value);
}

void TBRNConstraint::SetTemporary(bool value) {
  TBRNCatalogObject::SetTemporary(value);
  if (Columns) Columns->SetTemporary(value);
  if (SourceConstraints) SourceConstraints->SetTemporary(value);
  if (TargetTableColumns) TargetTableColumns->SetTemporary(value);
}

std::string TBRNConstraint::GetObjectTypeName() const {
  return "constraint";
}

void TBRNConstraint::ResetLinks() {
  enforcingIndex_.Reset();
  targetTable_.Reset();
  targetConstraint_.Reset();
  TBRNCatalogObject::ResetLinks();
}

void TBRNConstraint::CollectReferrers() {
  if (Catalog == nullptr || Catalog->DefaultSchema == nullptr) return;
  Catalog->DefaultSchema->BaseTables->RegisterReferenceTo(this);
  Catalog->DefaultSchema->Views->RegisterReferenceTo(this);
}

TBRNConfigObject* TBRNConstraint::GetRootObject() {
  TBRNConfigObject* table = GetTable();
  return table != nullptr ? table : this;
}

void TBRNConstraint::RegisterReferenceTo(TBRNConfigObject* target) {
  if (target == nullptr) return;
  Compile();
  const bool isIndex = dynamic_cast<TBRNIndex*>(target) != nullptr;
  if (Columns != nullptr) {
    if (isIndex && target->ID == EnforcingIndexID && target == GetEnforcingIndex())
      AddReferrerOnce(target, this);
    if (ConstraintType == kConstraintForeignKey) {
      if (isTable(target) && target->ID == TargetTableID && target == GetTargetTable())
        AddReferrerOnce(target, this);
      if (dynamic_cast<TBRNConstraint*>(target) != nullptr && target->ID == TargetConstraintID &&
          target == GetTargetConstraint())
        AddReferrerOnce(target, this);
    }
    Columns->RegisterReferenceTo(target);
    return;
  }
  if (ConstraintType == kConstraintCheck && (SelectionHolds(ReferencedColumns.get(), target) ||
                                             SelectionHolds(ReferencedFunctions.get(), target)))
    AddReferrerOnce(target, this);
}

void TBRNConstraint::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  if (target == nullptr) return;
  Compile();
  auto replace = [&](int32_t& field, TBRNObjectLink& link) {
    field = newID;
    link.Reset();
    SetModified(true);
  };
  switch (ConstraintType) {
    case kConstraintPrimaryKey:
    case kConstraintUnique:
      if (dynamic_cast<TBRNIndex*>(target) != nullptr && target->ID == EnforcingIndexID)
        replace(EnforcingIndexID, enforcingIndex_);
      Columns->ReplaceReferencedID(target, newID);
      SourceConstraints->ReplaceReferencedID(target, newID);
      break;
    case kConstraintForeignKey:
      if (dynamic_cast<TBRNIndex*>(target) != nullptr && target->ID == EnforcingIndexID) {
        replace(EnforcingIndexID, enforcingIndex_);
      } else if (isTable(target) && target->ID == TargetTableID) {
        replace(TargetTableID, targetTable_);
      } else if (dynamic_cast<TBRNConstraint*>(target) != nullptr &&
                 target->ID == TargetConstraintID) {
        replace(TargetConstraintID, targetConstraint_);
      }
      Columns->ReplaceReferencedID(target, newID);
      TargetTableColumns->ReplaceReferencedID(target, newID);
      break;
    case kConstraintCheck:
      ReferencedColumns->ReplaceReferencedID(target, newID);
      ReferencedFunctions->ReplaceReferencedID(target, newID);
      break;
    default:
      break;
  }
}

void TBRNConstraint::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  if (ConstraintType != kConstraintCheck || target == nullptr) return;
  Compile();
  TBRNExprTokenKind kind;
  if (SelectionHolds(ReferencedColumns.get(), target)) {
    kind = tkColumnReference;
  } else if (SelectionHolds(ReferencedFunctions.get(), target)) {
    kind = tkFunction;
  } else {
    return;
  }
  CheckExpr->RenameInText(kind, target->GetName(), newName);
  SetModified(true);
}

void TBRNConstraint::ComputeDifference(int32_t kind, TBRNConfigObject* other, char) {
  AlterSQL.clear();
  if (kind == kDifferenceCreate) {
    AlterSQL = "ADD " + GetCreateSQL(true, false);
    return;
  }
  if (kind == kDifferenceDrop) {
    AlterSQL = GetDropSQL(true, false);
    return;
  }
  auto* constraint = dynamic_cast<TBRNConstraint*>(other);
  if (constraint == nullptr || IsEqual(constraint, false)) return;
  const std::string description =
      Description != constraint->Description ? descriptionClause(constraint->Description) : "";
  const std::string definition = constraint->BuildDefinition(false);
  if (ConstraintType == kConstraintPrimaryKey && !TextEqualsIgnoreCase(Name, constraint->Name)) {
    AlterSQL = "RENAME CONSTRAINT " + QuotedName(Name) + " TO " + QuotedName(constraint->Name) +
               ",\r\nALTER CONSTRAINT " + QuotedName(constraint->Name) + " AS " + definition +
               description;
  } else {
    AlterSQL = "ALTER CONSTRAINT " + QuotedName(Name) + " AS " + definition + description;
  }
}

int64_t TBRNConstraint::GetMemorySize() const {
  int64_t size = TBRNCatalogObject::GetMemorySize() +
                 int64_t(sizeof(TBRNConstraint) - sizeof(TBRNCatalogObject)) +
                 int64_t(ErrorMessage.size() + AlterSQL.size());
  if (Columns) size += Columns->GetMemorySize();
  if (TargetTableColumns) size += TargetTableColumns->GetMemorySize();
  if (SourceConstraints) size += SourceConstraints->GetMemorySize();
  if (CheckExpr) size += CheckExpr->MemorySize();
  return size;
}

int32_t TBRNConstraint::GetObjectCount() const {
  int32_t count = TBRNCatalogObject::GetObjectCount();
  if (Columns) count += Columns->GetObjectCount();
  if (TargetTableColumns) count += TargetTableColumns->GetObjectCount();
  if (SourceConstraints) count += SourceConstraints->GetObjectCount();
  return count;
}

void TBRNConstraint::ResetAllLinks() {
  TBRNCatalogObject::ResetAllLinks();
  if (Columns) Columns->ResetAllLinks();
  if (TargetTableColumns) TargetTableColumns->ResetAllLinks();
  if (SourceConstraints) SourceConstraints->ResetAllLinks();
}

void TBRNConstraint::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNCatalogObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNConstraint*>(source);
  if (other == nullptr) return;
  ConstraintType = other->ConstraintType;
  createKindLists(ConstraintType);
  if (Columns) Columns->Assign(other->Columns.get(), copyState);
  if (TargetTableColumns) TargetTableColumns->Assign(other->TargetTableColumns.get(), copyState);
  if (SourceConstraints) SourceConstraints->Assign(other->SourceConstraints.get(), copyState);
  if (CheckExpr) CheckExpr->Assign(other->CheckExpr.get(), copyState);
  EnforcingIndexID = other->EnforcingIndexID;
  TargetTableID = other->TargetTableID;
  TargetConstraintID = other->TargetConstraintID;
  SelfReference = other->SelfReference;
  UpdateAction = other->UpdateAction;
  DeleteAction = other->DeleteAction;
  ErrorCode = other->ErrorCode;
  ErrorMessage = other->ErrorMessage;
  ResetLinks();
}

bool TBRNConstraint::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* c = dynamic_cast<const TBRNConstraint*>(other);
  if (c == nullptr || !TBRNCatalogObject::IsEqual(other, compareIDs)) return false;
  if (ConstraintType != c->ConstraintType || ErrorCode != c->ErrorCode ||
      !TextEqualsIgnoreCase(ErrorMessage, c->ErrorMessage))
    return false;
  switch (ConstraintType) {
    case kConstraintPrimaryKey:
    case kConstraintUnique:
      return Columns->IsEqual(c->Columns.get(), compareIDs) &&
             (!compareIDs || EnforcingIndexID == c->EnforcingIndexID);
    case kConstraintForeignKey: {
      if (!Columns->IsEqual(c->Columns.get(), compareIDs)) return false;
      if (compareIDs) {
        if (EnforcingIndexID != c->EnforcingIndexID || TargetTableID != c->TargetTableID ||
            TargetConstraintID != c->TargetConstraintID)
          return false;
      } else {
        auto nameOf = [](const TBRNConstraint* k) {
          try {
            TBRNConfigObject* t = const_cast<TBRNConstraint*>(k)->GetTargetTable();
            return t != nullptr ? t->Name : std::string();
          } catch (const EBRNException&) {
            return std::string();
          }
        };
        if (!TextEqualsIgnoreCase(nameOf(this), nameOf(c))) return false;
      }
      return TargetTableColumns->IsEqual(c->TargetTableColumns.get(), compareIDs) &&
             UpdateAction == c->UpdateAction && DeleteAction == c->DeleteAction;
    }
    case kConstraintCheck:
      return CheckExpr->Equals(c->CheckExpr.get());
    default:
      return true;
  }
}

bool TBRNConstraint::IsSameObject(const TBRNConfigObject* other) const {
  auto* c = dynamic_cast<const TBRNConstraint*>(other);
  if (c == nullptr || typeid(*this) != typeid(*other) || ConstraintType != c->ConstraintType)
    return false;
  return ConstraintType == kConstraintPrimaryKey || TextEqualsIgnoreCase(Name, c->Name);
}

int64_t TBRNConstraint::storedVersion() const {
  if (auto* constraints = dynamic_cast<const TBRNCatalogObjects*>(Owner))
    return constraints->GetCollectionVersion();
  return GetVersion();
}

void TBRNConstraint::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNCatalogObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(ConstraintType);
  switch (ConstraintType) {
    case kConstraintPrimaryKey:
    case kConstraintUnique:
      Columns->SaveToStream(stream, structureOnly);
      stream.WriteInteger(EnforcingIndexID);
      SourceConstraints->SaveToStream(stream, structureOnly);
      break;
    case kConstraintForeignKey:
      Columns->SaveToStream(stream, structureOnly);
      stream.WriteInteger(EnforcingIndexID);
      stream.WriteInteger(TargetTableID);
      TargetTableColumns->SaveToStream(stream, structureOnly);
      stream.WriteInteger(TargetConstraintID);
      stream.WriteInteger(int32_t(UpdateAction));
      stream.WriteInteger(int32_t(DeleteAction));
      break;
    case kConstraintCheck:
      CheckExpr->WriteToStream(stream);
      break;
    default:
      break;
  }
  const int64_t version = storedVersion();
  if (version == 0 || version >= kFormatVersion204) {
    stream.WriteInteger(ErrorCode);
    stream.WriteString(ErrorMessage);
  }
}

void TBRNConstraint::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNCatalogObject::LoadFromStream(stream);
  const int32_t type = readStoredInteger(stream);
  if (type < kConstraintPrimaryKey || type > kConstraintCheck)
    RaiseMetadataError(
        FormatText("The stored constraint type %s is invalid", {IntegerToString(type)}));
  ConstraintType = type;
  createKindLists(type);
  EnforcingIndexID = 0;
  TargetTableID = 0;
  TargetConstraintID = 0;
  SelfReference = false;
  UpdateAction = kActionNoAction;
  DeleteAction = kActionNoAction;
  switch (type) {
    case kConstraintPrimaryKey:
    case kConstraintUnique:
      Columns->LoadFromStream(stream);
      EnforcingIndexID = readStoredInteger(stream);
      SourceConstraints->LoadFromStream(stream);
      break;
    case kConstraintForeignKey:
      Columns->LoadFromStream(stream);
      EnforcingIndexID = readStoredInteger(stream);
      TargetTableID = readStoredInteger(stream);
      TargetTableColumns->LoadFromStream(stream);
      TargetConstraintID = readStoredInteger(stream);
      UpdateAction = uint32_t(readStoredInteger(stream));
      DeleteAction = uint32_t(readStoredInteger(stream));
      break;
    default:
      CheckExpr->SetText(readStoredString(stream));
      break;
  }
  ErrorCode = 0;
  ErrorMessage.clear();
  const int64_t version = storedVersion();
  if (version == 0 || version >= kFormatVersion204) {
    ErrorCode = readStoredInteger(stream);
    ErrorMessage = readStoredString(stream);
  }
  ResetLinks();
}

void TBRNConstraint::Validate() {
  TBRNCatalogObject::Validate();
  if (ConstraintType < kConstraintPrimaryKey || ConstraintType > kConstraintCheck)
    RaiseInvalidConstraintType();
  if (ConstraintType == kConstraintForeignKey) {
    auto allowed = [](uint32_t action) {
      return action == kActionNoAction || action == kActionRestrict;
    };
    if (!allowed(UpdateAction) || !allowed(DeleteAction)) RaiseInvalidAction();
  }
}

void TBRNConstraint::Compile() {
  if (CheckExpr) CheckExpr->Compile();
}

void TBRNConstraint::Uncompile() {
  if (CheckExpr) CheckExpr->Uncompile();
}

std::string TBRNConstraint::GetCreateSQL(bool includeForeignKeys, bool asAddClause) {
  const bool foreignKey = ConstraintType == kConstraintForeignKey;
  if (asAddClause) {
    if (!foreignKey) return std::string();
    return "ADD CONSTRAINT " + QuotedName(Name) + " " + BuildDefinition(true);
  }
  if (foreignKey && !includeForeignKeys) return std::string();
  return "CONSTRAINT " + QuotedName(Name) + " " + BuildDefinition(true);
}

std::string TBRNConstraint::GetAlterSQL() {
  return AlterSQL;
}

std::string TBRNConstraint::GetDropSQL(bool includeForeignKeys, bool asDropClause) {
  const bool foreignKey = ConstraintType == kConstraintForeignKey;
  if (asDropClause ? !foreignKey : (foreignKey && !includeForeignKeys)) return std::string();
  return "DROP CONSTRAINT " + QuotedName(Name);
}

}  // namespace brn
