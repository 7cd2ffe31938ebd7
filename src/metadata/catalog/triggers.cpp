#include "metadata/catalog/triggers.h"

#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/table_holder.h"
#include "metadata/core/ddl_text.h"
#include "metadata/core/referrer_helpers.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

TBRNColumns* columnsOf(TBRNConfigObject* table) {
  auto* holder = dynamic_cast<TBRNColumnsHolder*>(table);
  return holder != nullptr ? holder->GetColumns() : nullptr;
}

// The text after its first line (after the first CR LF); empty without one.
std::string withoutFirstLine(const std::string& text) {
  const size_t at = text.find("\r\n");
  return at == std::string::npos ? std::string() : text.substr(at + 2);
}

// Binds a qualified column reference of the trigger's condition or body:
// OldRow and NewRow become row-qualified references bound to the row the
// event has (in rowList); one the event lacks stays unbound, so the
// validator refuses it. Answers false for any other qualifier.
bool bindTriggerRow(const TBRNTrigger& trigger, const TBRNExprToken* rowList, TBRNExprToken* node) {
  const bool oldRow = TextEqualsIgnoreCase(node->SchemaName, "OldRow");
  const bool newRow = TextEqualsIgnoreCase(node->SchemaName, "NewRow");
  if (!oldRow && !newRow) return false;
  node->Kind = tkRowColumnReference;
  node->Operation = opNone;
  node->Link = nullptr;
  const bool accepted = oldRow ? trigger.HasOldRow() : trigger.HasNewRow();
  if (!accepted || rowList == nullptr) return true;
  const int32_t wanted = oldRow ? 0 : 1;
  for (TBRNExprToken* row : rowList->Arguments()) {
    if (row != nullptr && row->Kind == tkRowVariable && row->Variant == wanted) node->Link = row;
  }
  return true;
}

const TBRNExprToken* rowListOf(const TBRNExprToken* root) {
  return root != nullptr && root->ArgumentCount() > 1 ? root->Argument(1) : nullptr;
}

void addRowColumn(TBRNTrigger& trigger, const TBRNExprToken* node) {
  if (node == nullptr || node->Kind != tkRowColumnReference || node->Link == nullptr) return;
  TBRNColumns* columns = trigger.GetTableColumns();
  if (columns == nullptr || node->Index < 0 || node->Index >= columns->Count()) return;
  TBRNSelectedColumns* list =
      node->Link->Variant == 0 ? trigger.OldRowColumns.get() : trigger.NewRowColumns.get();
  if (list != nullptr) list->AddObject(columns->GetItem(node->Index));
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNTriggerColumn

TBRNTriggerColumn::TBRNTriggerColumn(TBRNCatalog* catalog) : TBRNColumnReference(catalog) {}

TBRNTrigger* TBRNTriggerColumn::GetTrigger() const {
  return Owner != nullptr ? dynamic_cast<TBRNTrigger*>(Owner->Owner) : nullptr;
}

TBRNColumns* TBRNTriggerColumn::lookupColumns() const {
  TBRNTrigger* trigger = GetTrigger();
  return trigger != nullptr ? trigger->GetTableColumns() : nullptr;
}

TBRNConfigObject* TBRNTriggerColumn::holderObject() const {
  return GetTrigger();
}

bool TBRNTriggerColumn::isSameKind(const TBRNColumnReference& other) const {
  return dynamic_cast<const TBRNTriggerColumn*>(&other) != nullptr;
}

std::string TBRNTriggerColumn::GetObjectTypeName() const {
  return "trigger column";
}

TBRNTriggerColumn* TBRNTriggerColumns::GetItem(int32_t index) const {
  return static_cast<TBRNTriggerColumn*>(TBRNCatalogObjects::GetItem(index));
}

std::string TBRNTriggerColumns::GetObjectTypeName() const {
  return "trigger column";
}

// ---------------------------------------------------------------------------
// TBRNTriggerExpr

TBRNTriggerExpr::TBRNTriggerExpr(TBRNTrigger* trigger)
    : TBRNCatalogExpr(trigger), Trigger(trigger) {
  SetCatalog(trigger->Catalog);
}

std::string TBRNTriggerExpr::GetKindName() const {
  return Trigger->Name + " trigger condition";
}

TBRNConfigObject* TBRNTriggerExpr::GetOwnerTable() const {
  return Trigger->GetTable();
}

TBRNParseFlags TBRNTriggerExpr::GetParseFlags() const {
  TBRNParseFlags flags = kCatalogExprFlags;
  if (Trigger->ActionTime == kTriggerError) flags |= pcExceptionHandling;
  return flags;
}

TBRNExprToken* TBRNTriggerExpr::Parse() {
  // The rows the condition names are the body's.
  Trigger->Definition->Compile();
  return TBRNCatalogExpr::Parse();
}

void TBRNTriggerExpr::GetContextTableName(const TBRNExprToken*, std::string& Name) {
  TBRNConfigObject* table = Trigger->GetTable();
  Name = table != nullptr ? table->Name : std::string();
}

void TBRNTriggerExpr::ResolveRowIdentifier(TBRNExprToken* Node) {
  if (!bindTriggerRow(*Trigger, rowListOf(Trigger->Definition->Root), Node))
    TBRNCatalogExpr::ResolveRowIdentifier(Node);
}

void TBRNTriggerExpr::AddColumnDependency(TBRNExprToken* Node) {
  addRowColumn(*Trigger, Node);
}

void TBRNTriggerExpr::GetExpectedType(int32_t& dataType, int32_t& subType) const {
  dataType = dtBoolean;
  subType = 0;
}

// ---------------------------------------------------------------------------
// TBRNTriggerRoutine

TBRNTriggerRoutine::TBRNTriggerRoutine(TBRNTrigger* trigger)
    : TBRNCatalogRoutine(trigger), Trigger(trigger) {
  SetCatalog(trigger->Catalog);
}

int64_t TBRNTriggerRoutine::GetVersionStamp() const {
  return Trigger->VersionStamp;
}

std::string TBRNTriggerRoutine::GetKindName() const {
  return Trigger->Name + " trigger";
}

TBRNConfigObject* TBRNTriggerRoutine::GetOwnerTable() const {
  return Trigger->GetTable();
}

TBRNParseFlags TBRNTriggerRoutine::GetParseFlags() const {
  TBRNParseFlags flags =
      Trigger->ActionTime == kTriggerError ? kErrorTriggerRoutineFlags : kTriggerRoutineFlags;
  const int64_t stamp = GetVersionStamp();
  if (stamp != 0 && stamp < kRoutineSyntaxVersion) flags |= pcLiteralNames;
  return flags;
}

TBRNExprToken* TBRNTriggerRoutine::ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) {
  TBRNExprToken* root = parser.ParseTriggerRoutine(flags);
  // The text names no event: the trigger gives it, as a CREATE TRIGGER
  // statement would have.
  if (root != nullptr) root->Operation = TBRNExprOperation(Trigger->GetEventOperation());
  return root;
}

void TBRNTriggerRoutine::GetContextTableName(const TBRNExprToken*, std::string& Name) {
  TBRNConfigObject* table = Trigger->GetTable();
  Name = table != nullptr ? table->Name : std::string();
}

void TBRNTriggerRoutine::ResolveRowIdentifier(TBRNExprToken* Node) {
  if (!bindTriggerRow(*Trigger, rowListOf(Root), Node)) TBRNCatalogExpr::ResolveRowIdentifier(Node);
}

void TBRNTriggerRoutine::AddColumnDependency(TBRNExprToken* Node) {
  addRowColumn(*Trigger, Node);
}

void TBRNTriggerRoutine::AddFunctionDependency(TBRNExprToken* Node) {
  if (Node == nullptr || Node->Operation != opUserFunction || !Trigger->ReferencedFunctions) return;
  TBRNCatalog* catalog = Trigger->Catalog;
  if (catalog == nullptr || catalog->DefaultSchema == nullptr) return;
  Trigger->ReferencedFunctions->AddObject(
      catalog->DefaultSchema->Functions->FindByName(Node->Name, true));
}

void TBRNTriggerRoutine::AddProcedureDependency(TBRNExprToken* Node) {
  if (Node == nullptr || !Trigger->ReferencedProcedures) return;
  TBRNCatalog* catalog = Trigger->Catalog;
  if (catalog == nullptr || catalog->DefaultSchema == nullptr) return;
  Trigger->ReferencedProcedures->AddObject(
      catalog->DefaultSchema->Procedures->FindByName(Node->Name, true));
}

void TBRNTriggerRoutine::AfterCompile() {
  SortUniqueByID(Trigger->OldRowColumns.get());
  SortUniqueByID(Trigger->NewRowColumns.get());
  SortUniqueByID(Trigger->ReferencedFunctions.get());
  SortUniqueByID(Trigger->ReferencedProcedures.get());
}

void TBRNTriggerRoutine::AfterUncompile() {
  Trigger->OldRowColumns->Clear();
  Trigger->NewRowColumns->Clear();
  Trigger->ReferencedFunctions->Clear();
  Trigger->ReferencedProcedures->Clear();
}

// ---------------------------------------------------------------------------
// TBRNTrigger

TBRNTrigger::TBRNTrigger(TBRNCatalog* catalog)
    : TBRNCatalogObject(catalog),
      TriggerColumns(std::make_unique<TBRNTriggerColumns>(catalog)),
      OldRowColumns(std::make_unique<TBRNSelectedColumns>(Config)),
      NewRowColumns(std::make_unique<TBRNSelectedColumns>(Config)),
      ReferencedFunctions(std::make_unique<TBRNSelectedConfigObjects>(Config)),
      ReferencedProcedures(std::make_unique<TBRNSelectedConfigObjects>(Config)) {
  TriggerColumns->Owner = this;
  Condition = std::make_unique<TBRNTriggerExpr>(this);
  Definition = std::make_unique<TBRNTriggerRoutine>(this);
  VersionStamp = CurrentFormatVersion();
}

TBRNTrigger::~TBRNTrigger() {
  // The texts empty the dependency lists when they let go of their trees.
  Condition.reset();
  Definition.reset();
}

void TBRNTrigger::RaiseInvalidActionTime() const {
  RaiseMetadataError("The trigger action time is invalid");
}

void TBRNTrigger::RaiseInvalidActionType() const {
  RaiseMetadataError("The trigger action type is invalid");
}

std::string TBRNTrigger::GetActionTimeName(int32_t time) {
  switch (time) {
    case kTriggerBefore:
      return "Before";
    case kTriggerAfter:
      return "After";
    case kTriggerError:
      return "Error";
    default:
      return std::string();
  }
}

std::string TBRNTrigger::GetActionTypeName(int32_t type) {
  switch (type) {
    case kTriggerInsert:
      return "Insert";
    case kTriggerUpdate:
      return "Update";
    case kTriggerDelete:
      return "Delete";
    case kTriggerAll:
      return "All";
    case kTriggerLoadUpdate:
      return "Load Update";
    default:
      return std::string();
  }
}

TBRNTriggers* TBRNTrigger::GetTriggers() const {
  return dynamic_cast<TBRNTriggers*>(Owner);
}

TBRNConfigObject* TBRNTrigger::GetTable() const {
  TBRNTriggers* triggers = GetTriggers();
  return triggers != nullptr ? triggers->Owner : nullptr;
}

TBRNColumns* TBRNTrigger::GetTableColumns() const {
  return columnsOf(GetTable());
}

int64_t TBRNTrigger::CurrentFormatVersion() const {
  const int64_t version = GetVersion();
  return version != 0 ? version : kNewestFormatVersion;
}

int32_t TBRNTrigger::GetEventOperation() const {
  static constexpr TBRNExprOperation kEvents[3][5] = {
      {opBeforeInsert, opBeforeUpdate, opBeforeDelete, opBeforeAll, opBeforeLoadUpdate},
      {opAfterInsert, opAfterUpdate, opAfterDelete, opAfterAll, opAfterLoadUpdate},
      {opErrorInsert, opErrorUpdate, opErrorDelete, opErrorAll, opErrorLoadUpdate}};
  if (ActionTime < kTriggerBefore || ActionTime > kTriggerError || ActionType < kTriggerInsert ||
      ActionType > kTriggerLoadUpdate)
    return opNone;
  return kEvents[ActionTime - 1][ActionType - 1];
}

bool TBRNTrigger::HasOldRow() const {
  return ActionType != kTriggerInsert;
}

bool TBRNTrigger::HasNewRow() const {
  return ActionType != kTriggerDelete;
}

void TBRNTrigger::SetActionTime(int32_t value) {
  if (ActionTime == value) return;
  ActionTime = value;
  SetModified(true);
}

void TBRNTrigger::SetActionType(int32_t value) {
  if (ActionType == value) return;
  ActionType = value;
  SetModified(true);
}

std::string TBRNTrigger::BuildDefinition(bool includeDescription) {
  static constexpr const char* kTypeWords[] = {"INSERT", "UPDATE", "DELETE", "ALL", "LOAD UPDATE"};
  std::string text =
      "TRIGGER " + QuoteString(Name, '"') + " " + UpperCaseText(GetActionTimeName(ActionTime)) +
      " " +
      (ActionType >= kTriggerInsert && ActionType <= kTriggerLoadUpdate ? kTypeWords[ActionType - 1]
                                                                        : "");
  if (ActionType == kTriggerUpdate && TriggerColumns->Count() > 0)
    text += " OF " + TriggerColumns->GetCreateSQL(false, false);
  TBRNConfigObject* table = GetTable();
  text += " ON " + QuoteString(table != nullptr ? table->Name : std::string(), '"');
  const std::string condition = TrimTrailingBlanks(Condition->SQL);
  if (!condition.empty()) text += "\r\nWHEN " + condition;
  text += "\r\n" + withoutFirstLine(TrimTrailingBlanks(Definition->SQL));
  if (includeDescription && !Description.empty())
    text += "\r\nDESCRIPTION " + QuoteString(TrimTrailingBlanks(Description), '\'');
  return text;
}

void TBRNTrigger::SetModified(bool value) {
  if (value) VersionStamp = CurrentFormatVersion();
  TBRNCatalogObject::SetModified(value);
}

void TBRNTrigger::SetSystem(bool value) {
  TBRNCatalogObject::SetSystem(value);
  TriggerColumns->SetSystem(value);
}

void TBRNTrigger::SetTransient(bool value) {
  TBRNCatalogObject::SetTransient(value);
  TriggerColumns->SetTransient(value);
}

void TBRNTrigger::SetTemporary(bool value) {
  TBRNCatalogObject::SetTemporary(value);
  TriggerColumns->SetTemporary(value);
}

std::string TBRNTrigger::GetObjectTypeName() const {
  return "trigger";
}

TBRNConfigObject* TBRNTrigger::GetRootObject() {
  TBRNConfigObject* table = GetTable();
  return table != nullptr ? table : this;
}

void TBRNTrigger::RegisterReferenceTo(TBRNConfigObject* target) {
  if (target == nullptr) return;
  Compile();
  if (dynamic_cast<TBRNColumn*>(target) != nullptr) {
    TriggerColumns->RegisterReferenceTo(target);
    if (SelectionHolds(OldRowColumns.get(), target) || SelectionHolds(NewRowColumns.get(), target))
      AddReferrerOnce(target, this);
    return;
  }
  if (SelectionHolds(ReferencedFunctions.get(), target) ||
      SelectionHolds(ReferencedProcedures.get(), target))
    AddReferrerOnce(target, this);
}

void TBRNTrigger::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  if (target == nullptr) return;
  Compile();
  TriggerColumns->ReplaceReferencedID(target, newID);
  OldRowColumns->ReplaceReferencedID(target, newID);
  NewRowColumns->ReplaceReferencedID(target, newID);
  ReferencedFunctions->ReplaceReferencedID(target, newID);
  ReferencedProcedures->ReplaceReferencedID(target, newID);
}

void TBRNTrigger::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  if (target == nullptr) return;
  Compile();
  TBRNExprTokenKind kind;
  if (SelectionHolds(OldRowColumns.get(), target) || SelectionHolds(NewRowColumns.get(), target)) {
    kind = tkRowColumnReference;
  } else if (SelectionHolds(ReferencedFunctions.get(), target)) {
    kind = tkFunction;
  } else if (SelectionHolds(ReferencedProcedures.get(), target)) {
    kind = tkRoutineCall;
  } else {
    return;
  }
  const std::string oldName = target->GetName();
  if (!Condition->SQL.empty()) Condition->RenameInText(kind, oldName, newName);
  Definition->RenameInText(kind, oldName, newName);
  SetModified(true);
}

void TBRNTrigger::ComputeDifference(int32_t kind, TBRNConfigObject* other, char) {
  AlterSQL.clear();
  if (CreateOrDropDifference(*this, kind, AlterSQL)) return;
  auto* trigger = dynamic_cast<TBRNTrigger*>(other);
  if (trigger == nullptr || IsEqual(trigger, false)) return;
  AlterSQL = "ALTER " + trigger->BuildDefinition(false);
  if (Description != trigger->Description)
    AlterSQL += "\r\nDESCRIPTION " + QuoteString(TrimTrailingBlanks(trigger->Description), '\'');
}

int64_t TBRNTrigger::GetMemorySize() const {
  return TBRNCatalogObject::GetMemorySize() +
         int64_t(sizeof(TBRNTrigger) - sizeof(TBRNCatalogObject)) +
         TriggerColumns->GetMemorySize() + Condition->MemorySize() + Definition->MemorySize() +
         OldRowColumns->GetMemorySize() + NewRowColumns->GetMemorySize() +
         ReferencedFunctions->GetMemorySize() + ReferencedProcedures->GetMemorySize() +
         int64_t(AlterSQL.size());
}

int32_t TBRNTrigger::GetObjectCount() const {
  return TBRNCatalogObject::GetObjectCount() + TriggerColumns->GetObjectCount();
}

void TBRNTrigger::ResetAllLinks() {
  TBRNCatalogObject::ResetAllLinks();
  TriggerColumns->ResetAllLinks();
}

void TBRNTrigger::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNCatalogObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNTrigger*>(source);
  if (other == nullptr) return;
  ActionTime = other->ActionTime;
  ActionType = other->ActionType;
  TriggerColumns->Assign(other->TriggerColumns.get(), copyState);
  Condition->Assign(other->Condition.get(), copyState);
  Definition->Assign(other->Definition.get(), copyState);
  if (copyState) {
    OldRowColumns->Assign(other->OldRowColumns.get(), true);
    NewRowColumns->Assign(other->NewRowColumns.get(), true);
    ReferencedFunctions->Assign(other->ReferencedFunctions.get(), true);
    ReferencedProcedures->Assign(other->ReferencedProcedures.get(), true);
  }
  VersionStamp = other->VersionStamp;
}

bool TBRNTrigger::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* trigger = dynamic_cast<const TBRNTrigger*>(other);
  return trigger != nullptr && TBRNCatalogObject::IsEqual(other, compareIDs) &&
         ActionTime == trigger->ActionTime && ActionType == trigger->ActionType &&
         TriggerColumns->IsEqual(trigger->TriggerColumns.get(), compareIDs) &&
         Condition->Equals(trigger->Condition.get()) &&
         Definition->Equals(trigger->Definition.get());
}

int64_t TBRNTrigger::storedVersion() const {
  if (auto* triggers = dynamic_cast<const TBRNCatalogObjects*>(Owner))
    return triggers->GetCollectionVersion();
  return GetVersion();
}

void TBRNTrigger::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNCatalogObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(ActionTime);
  stream.WriteInteger(ActionType);
  if (ActionType == kTriggerUpdate) TriggerColumns->SaveToStream(stream, structureOnly);
  Condition->WriteToStream(stream);
  Definition->WriteToStream(stream);
  const int64_t version = storedVersion();
  if (version == 0 || version >= kFormatVersion204) stream.WriteInt64(VersionStamp);
}

void TBRNTrigger::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNCatalogObject::LoadFromStream(stream);
  ActionTime = readStoredInteger(stream);
  ActionType = readStoredInteger(stream);
  if (ActionType == kTriggerUpdate) {
    TriggerColumns->LoadFromStream(stream);
  } else {
    TriggerColumns->Clear();
  }
  Condition->SetText(readStoredString(stream));
  Definition->SetText(readStoredString(stream));
  const int64_t version = storedVersion();
  if (version == 0 || version >= kFormatVersion204) {
    VersionStamp = readStoredInt64(stream);
    CheckVersion(VersionStamp);
  } else {
    VersionStamp = version;
  }
}

void TBRNTrigger::Validate() {
  TBRNCatalogObject::Validate();
  if (ActionTime < kTriggerBefore || ActionTime > kTriggerError) RaiseInvalidActionTime();
  if (ActionType < kTriggerInsert || ActionType > kTriggerLoadUpdate) RaiseInvalidActionType();
}

void TBRNTrigger::Compile() {
  Definition->Compile();
  if (!Condition->SQL.empty()) Condition->Compile();
}

void TBRNTrigger::Uncompile() {
  Condition->Uncompile();
  Definition->Uncompile();
}

std::string TBRNTrigger::GetCreateSQL(bool, bool) {
  return "CREATE " + BuildDefinition(true);
}

std::string TBRNTrigger::GetAlterSQL() {
  return AlterSQL;
}

std::string TBRNTrigger::GetDropSQL(bool, bool) {
  TBRNConfigObject* table = GetTable();
  return "DROP TRIGGER " + QuoteString(Name, '"') + " FROM " +
         QuoteString(table != nullptr ? table->Name : GetParentName(), '"');
}

// ---------------------------------------------------------------------------
// Collections

TBRNReferencedTriggers::TBRNReferencedTriggers(TBRNCatalog* catalog) : TBRNReferenceList(catalog) {}

TBRNTrigger* TBRNReferencedTriggers::GetItem(int32_t index) const {
  return static_cast<TBRNTrigger*>(TBRNCatalogObjects::GetItem(index));
}

void TBRNReferencedTriggers::SetModified(bool) {}

void TBRNReferencedTriggers::Changed() {}

TBRNTriggers::TBRNTriggers(TBRNCatalog* catalog) : TBRNCollection(catalog) {}

TBRNTriggers::~TBRNTriggers() {
  // The event lists only point at members: empty them before the members go.
  for (auto& list : eventLists_) list.reset();
}

TBRNTrigger* TBRNTriggers::GetItem(int32_t index) const {
  return static_cast<TBRNTrigger*>(TBRNCatalogObjects::GetItem(index));
}

namespace {

// Whether trigger fires at time (1-3) for event (0 insert, 1 update,
// 2 delete, 3 load).
bool firesFor(const TBRNTrigger* trigger, int32_t time, int32_t event) {
  if (trigger->ActionTime != time) return false;
  const int32_t type = trigger->ActionType;
  if (type == kTriggerAll) return true;
  return event == 3 ? type == kTriggerLoadUpdate : type == event + 1;
}

}  // namespace

void TBRNTriggers::fillEventList(size_t slot) {
  TBRNReferencedTriggers* list = eventLists_[slot].get();
  list->Clear();
  const int32_t event = int32_t(slot / 3);
  const int32_t time = int32_t(slot % 3) + 1;
  for (int32_t i = 0; i < Count(); ++i) {
    if (firesFor(GetItem(i), time, event)) list->AddObject(GetItem(i));
  }
}

TBRNReferencedTriggers* TBRNTriggers::GetEventTriggers(int32_t time, int32_t event) {
  if (time < kTriggerBefore || time > kTriggerError || event < 0 || event > 3)
    throw std::out_of_range("TBRNTriggers::GetEventTriggers: no such event");
  const size_t slot = size_t(event * 3 + time - 1);
  if (!eventLists_[slot]) {
    eventLists_[slot] = std::make_unique<TBRNReferencedTriggers>(Catalog);
    fillEventList(slot);
  }
  return eventLists_[slot].get();
}

TBRNReferencedTriggers* TBRNTriggers::GetBeforeInsertTriggers() {
  return GetEventTriggers(1, 0);
}
TBRNReferencedTriggers* TBRNTriggers::GetAfterInsertTriggers() {
  return GetEventTriggers(2, 0);
}
TBRNReferencedTriggers* TBRNTriggers::GetErrorInsertTriggers() {
  return GetEventTriggers(3, 0);
}
TBRNReferencedTriggers* TBRNTriggers::GetBeforeUpdateTriggers() {
  return GetEventTriggers(1, 1);
}
TBRNReferencedTriggers* TBRNTriggers::GetAfterUpdateTriggers() {
  return GetEventTriggers(2, 1);
}
TBRNReferencedTriggers* TBRNTriggers::GetErrorUpdateTriggers() {
  return GetEventTriggers(3, 1);
}
TBRNReferencedTriggers* TBRNTriggers::GetBeforeDeleteTriggers() {
  return GetEventTriggers(1, 2);
}
TBRNReferencedTriggers* TBRNTriggers::GetAfterDeleteTriggers() {
  return GetEventTriggers(2, 2);
}
TBRNReferencedTriggers* TBRNTriggers::GetErrorDeleteTriggers() {
  return GetEventTriggers(3, 2);
}
TBRNReferencedTriggers* TBRNTriggers::GetBeforeLoadTriggers() {
  return GetEventTriggers(1, 3);
}
TBRNReferencedTriggers* TBRNTriggers::GetAfterLoadTriggers() {
  return GetEventTriggers(2, 3);
}
TBRNReferencedTriggers* TBRNTriggers::GetErrorLoadTriggers() {
  return GetEventTriggers(3, 3);
}

void TBRNTriggers::RebuildEventLists() {
  // The lists stay the same objects (the table manager keeps them).
  for (size_t slot = 0; slot < eventLists_.size(); ++slot) {
    if (eventLists_[slot]) fillEventList(slot);
  }
}

std::string TBRNTriggers::GetObjectTypeName() const {
  return "trigger";
}

void TBRNTriggers::Changed() {
  TBRNCatalogObjects::Changed();
  RebuildEventLists();
}

int64_t TBRNTriggers::GetMemorySize() const {
  int64_t size = TBRNCatalogObjects::GetMemorySize();
  for (const auto& list : eventLists_) {
    if (list) size += list->GetMemorySize();
  }
  return size;
}

}  // namespace brn
