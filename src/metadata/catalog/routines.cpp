#include "metadata/catalog/routines.h"

#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/data_types.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/schemas.h"
#include "metadata/config/config.h"
#include "metadata/config/privileges.h"
#include "metadata/core/ddl_text.h"
#include "metadata/core/object_selections.h"
#include "metadata/core/referrer_helpers.h"
#include "metadata/modules/module_host.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

// Text without trailing characters 0-32.
std::string trimTrailingControls(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(0, end);
}

// The routine root of a parsed CREATE statement (argument 0) or the root
// itself.
const TBRNExprToken* routineRoot(const TBRNExprToken* definition) {
  if (definition == nullptr) return nullptr;
  if (definition->Kind == tkFunctionName || definition->Kind == tkProcedureName) return definition;
  const TBRNExprToken* root = definition->ArgumentCount() > 0 ? definition->Argument(0) : nullptr;
  if (root == nullptr || (root->Kind != tkFunctionName && root->Kind != tkProcedureName))
    throw std::invalid_argument("not a parsed routine definition");
  return root;
}

const TBRNExprToken* argumentAt(const TBRNExprToken* node, int32_t index) {
  if (node == nullptr || index < 0 || index >= node->ArgumentCount()) return nullptr;
  return node->Argument(index);
}

// The text of a string literal node without its quotes.
std::string literalText(const TBRNExprToken* node) {
  if (node == nullptr) return std::string();
  const std::string& text = node->Text;
  if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') {
    std::string value;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
      value += text[i];
      if (text[i] == '\'' && i + 2 < text.size() && text[i + 1] == '\'') ++i;
    }
    return value;
  }
  return text;
}

template <class T>
void assignChanged(TBRNConfigObject& object, T& field, const T& value) {
  if (field == value) return;
  field = value;
  object.SetModified(true);
}

TBRNSchema* schemaOfList(const TBRNConfigObjects* list) {
  return list != nullptr ? dynamic_cast<TBRNSchema*>(list->Owner) : nullptr;
}

void rebuildAllRoutines(TBRNConfigObjects* list) {
  auto* holder = list != nullptr ? dynamic_cast<TBRNRoutineListHolder*>(list->Owner) : nullptr;
  if (holder == nullptr) return;
  if (TBRNRoutines* all = holder->GetAllRoutines())
    all->Rebuild(holder->GetFunctionList(), holder->GetProcedureList());
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNRoutineParam

void TBRNRoutineParam::SetMode(int32_t value) {
  assignChanged(*this, Mode, value);
}

void TBRNRoutineParam::SetDataType(int32_t value) {
  TBRNDataTypeCode type = TBRNDataTypeCode(DataType);
  TBRNDataSubType subType = SubType;
  int32_t length = Length, size = Size, scale = Scale, collation = Collation;
  NormalizeDataType(TBRNDataTypeCode(value), type, subType, length, size, scale, collation);
  if (int32_t(type) == DataType && subType == SubType && length == Length && size == Size &&
      scale == Scale && collation == Collation)
    return;
  DataType = int32_t(type);
  SubType = subType;
  Length = length;
  Size = size;
  Scale = scale;
  Collation = collation;
  SetModified(true);
}

void TBRNRoutineParam::SetSubType(int32_t value) {
  TBRNDataSubType subType = SubType;
  int32_t length = Length, size = Size, scale = Scale, collation = Collation;
  NormalizeDataSubType(TBRNDataTypeCode(DataType), TBRNDataSubType(value), subType, length, size,
                       scale, collation);
  if (subType == SubType && length == Length && size == Size && scale == Scale &&
      collation == Collation)
    return;
  SubType = subType;
  Length = length;
  Size = size;
  Scale = scale;
  Collation = collation;
  SetModified(true);
}

void TBRNRoutineParam::SetLength(int32_t value) {
  int32_t size = Size, length = Length;
  NormalizeDataLength(TBRNDataTypeCode(DataType), SubType, value, false, size, length);
  if (size == Size && length == Length) return;
  Size = size;
  Length = length;
  SetModified(true);
}

void TBRNRoutineParam::SetScale(int32_t value) {
  int32_t scale = Scale;
  NormalizeScale(TBRNDataTypeCode(DataType), SubType, value, scale);
  assignChanged(*this, Scale, scale);
}

void TBRNRoutineParam::SetCollation(int32_t value) {
  int32_t collation = Collation;
  NormalizeCollation(TBRNDataTypeCode(DataType), SubType, value, collation);
  assignChanged(*this, Collation, collation);
}

void TBRNRoutineParam::Clear() {
  const bool changed = Mode != 0 || !Name.empty() || DataType != 0 || SubType != 0 || Length != 0 ||
                       Size != 0 || Scale != 0 || Collation != 0;
  Mode = DataType = SubType = Length = Size = Scale = Collation = 0;
  Name.clear();
  if (changed) SetModified(true);
}

std::string TBRNRoutineParam::GetObjectTypeName() const {
  return "routine parameter";
}

void TBRNRoutineParam::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNCatalogObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNRoutineParam*>(source);
  if (other == nullptr) return;
  Mode = other->Mode;
  DataType = other->DataType;
  SubType = other->SubType;
  Length = other->Length;
  Size = other->Size;
  Scale = other->Scale;
  Collation = other->Collation;
}

bool TBRNRoutineParam::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* param = dynamic_cast<const TBRNRoutineParam*>(other);
  return param != nullptr && TBRNCatalogObject::IsEqual(other, compareIDs) && Mode == param->Mode &&
         DataType == param->DataType && SubType == param->SubType && Length == param->Length &&
         Size == param->Size && Scale == param->Scale && Collation == param->Collation;
}

void TBRNRoutineParam::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNCatalogObject::SaveToStream(stream, structureOnly);
  for (int32_t value : {Mode, DataType, SubType, Length, Size, Scale, Collation})
    stream.WriteInteger(value);
}

void TBRNRoutineParam::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNCatalogObject::LoadFromStream(stream);
  for (int32_t* field : {&Mode, &DataType, &SubType, &Length, &Size, &Scale, &Collation})
    *field = readStoredInteger(stream);
  if (Mode < kParamModeNone || Mode > kParamModeResult)
    RaiseMetadataError("The routine parameter mode is invalid");
}

int64_t TBRNRoutineParam::GetMemorySize() const {
  return TBRNCatalogObject::GetMemorySize() +
         int64_t(sizeof(TBRNRoutineParam) - sizeof(TBRNCatalogObject));
}

TBRNRoutineParam* TBRNRoutineParams::GetParam(int32_t index) const {
  return static_cast<TBRNRoutineParam*>(GetItem(index));
}

std::string TBRNRoutineParams::GetObjectTypeName() const {
  return "routine parameter";
}

// ---------------------------------------------------------------------------
// Routine texts

template <class Base>
TBRNRoutineDefinition<Base>::TBRNRoutineDefinition(TBRNRoutine* routine)
    : Base(routine), Routine(routine) {
  this->SetCatalog(routine->Catalog);
}

template <class Base>
int64_t TBRNRoutineDefinition<Base>::GetVersionStamp() const {
  return Routine->VersionStamp;
}

template <class Base>
void TBRNRoutineDefinition<Base>::AddFunctionDependency(TBRNExprToken* Node) {
  if (Node == nullptr || Node->Operation != opUserFunction) return;
  TBRNCatalog* catalog = Routine->Catalog;
  if (catalog == nullptr || catalog->DefaultSchema == nullptr) return;
  TBRNConfigObject* function = catalog->DefaultSchema->Functions->FindByName(Node->Name, true);
  if (function != Routine) Routine->ReferencedFunctions->AddObject(function);
}

template <class Base>
void TBRNRoutineDefinition<Base>::AddProcedureDependency(TBRNExprToken* Node) {
  if (Node == nullptr) return;
  TBRNCatalog* catalog = Routine->Catalog;
  if (catalog == nullptr || catalog->DefaultSchema == nullptr) return;
  TBRNConfigObject* procedure = catalog->DefaultSchema->Procedures->FindByName(Node->Name, true);
  if (procedure != Routine) Routine->ReferencedProcedures->AddObject(procedure);
}

template <class Base>
void TBRNRoutineDefinition<Base>::AfterCompile() {
  SortUniqueByID(Routine->ReferencedFunctions.get());
  SortUniqueByID(Routine->ReferencedProcedures.get());
}

template <class Base>
void TBRNRoutineDefinition<Base>::AfterUncompile() {
  Routine->ReferencedFunctions->Clear();
  Routine->ReferencedProcedures->Clear();
}

template class TBRNRoutineDefinition<TBRNProcedureRoutine>;
template class TBRNRoutineDefinition<TBRNFunctionRoutine>;

// ---------------------------------------------------------------------------
// TBRNRoutine

TBRNRoutine::TBRNRoutine(TBRNCatalog* catalog, TBRNUser* owner)
    : TBRNPrivilegedSchemaObject(catalog, owner),
      Params(std::make_unique<TBRNRoutineParams>(catalog)),
      Result(std::make_unique<TBRNRoutineParam>(catalog)),
      ReferencedFunctions(std::make_unique<TBRNSelectedConfigObjects>(Config)),
      ReferencedProcedures(std::make_unique<TBRNSelectedConfigObjects>(Config)) {
  Params->Owner = this;
  Result->Owner = this;
  VersionStamp = CurrentFormatVersion();
}

TBRNRoutine::~TBRNRoutine() {
  try {
    CloseExternal();
  } catch (...) {
    // Destructors do not report; the instance is forgotten either way.
  }
  // The text empties the reference selections when it lets go of its tree.
  Definition.reset();
}

void TBRNRoutine::Init() {
  Definition = CreateDefinition();
}

int64_t TBRNRoutine::CurrentFormatVersion() const {
  const int64_t version = GetVersion();
  return version != 0 ? version : kNewestFormatVersion;
}

void TBRNRoutine::SetImplementation(int32_t value) {
  assignChanged(*this, Implementation, value);
}

void TBRNRoutine::SetModule(TBRNModule* module) {
  external_.CacheModule(module, this);
  if (module != nullptr && module->Name != ModuleName) {
    ModuleName = module->Name;
    SetModified(true);
  }
}

TBRNModule* TBRNRoutine::GetModule() {
  // The modules belong to the configuration, not to the catalog.
  TBRNConfig* config = Catalog != nullptr ? Catalog->GetConfiguration() : nullptr;
  TBRNModuleHost* host = dynamic_cast<TBRNModuleHost*>(config);
  TBRNModules* modules = host != nullptr ? host->GetModules() : nullptr;
  if (modules == nullptr) {
    TBRNModules none(nullptr);
    none.RaiseNotFoundByName(ModuleName);
  }
  auto* module = static_cast<TBRNModule*>(modules->FindByName(ModuleName, true));
  external_.CacheModule(module, this);
  return module;
}

void TBRNRoutine::SetLockNumber(int32_t value) {
  assignChanged(*this, LockNumber, value);
}

void TBRNRoutine::DefineParams(const TBRNExprToken* definition) {
  const TBRNExprToken* list = argumentAt(routineRoot(definition), 0);
  Params->Clear();
  if (list == nullptr) return;
  for (int32_t i = 0; i < list->ArgumentCount(); ++i) {
    const TBRNExprToken* parsed = list->Argument(i);
    if (parsed == nullptr) continue;
    auto param = std::make_unique<TBRNRoutineParam>(Catalog);
    switch (parsed->Operation) {
      case opParamOut:
        param->SetMode(kParamModeOut);
        break;
      case opParamInOut:
        param->SetMode(kParamModeInOut);
        break;
      default:
        param->SetMode(kParamModeIn);
        break;
    }
    param->Name = parsed->Name;
    if (const TBRNExprToken* type = argumentAt(parsed, 0)) {
      param->SetDataType(type->DataType);
      param->SetSubType(type->SubType);
      param->SetLength(type->Size);
      param->SetScale(type->Scale);
      param->SetCollation(type->Collation);
    }
    if (const TBRNExprToken* description = argumentAt(parsed, 1))
      param->Description = literalText(description);
    Params->AddObject(param.get());
    param.release();
  }
}

void TBRNRoutine::DefineResult(const TBRNExprToken* definition) {
  const TBRNExprToken* result = argumentAt(argumentAt(routineRoot(definition), 2), 0);
  const TBRNExprToken* type = argumentAt(result, 0);
  if (type == nullptr) {
    Result->Clear();
    return;
  }
  Result->SetMode(kParamModeResult);
  Result->Name = "Result";
  Result->SetDataType(type->DataType);
  Result->SetSubType(type->SubType);
  Result->SetLength(type->Size);
  Result->SetScale(type->Scale);
  Result->SetCollation(type->Collation);
}

void TBRNRoutine::DefineImplementation(const TBRNExprToken* definition) {
  const TBRNExprToken* module = argumentAt(routineRoot(definition), 4);
  if (module == nullptr) {
    SetImplementation(kRoutineSQL);
    return;
  }
  const std::string oldName = ModuleName;
  ModuleName = module->Name;
  external_.ResetModule();
  try {
    GetModule()->CheckModuleType(mtExternalRoutines);
  } catch (...) {
    ModuleName = oldName;
    external_.ResetModule();
    throw;
  }
  if (ModuleName != oldName) SetModified(true);
  SetImplementation(kRoutineExternal);
}

int32_t TBRNRoutine::GetInputParamCount() const {
  int32_t count = 0;
  for (int32_t i = 0; i < Params->Count(); ++i) {
    const int32_t mode = Params->GetParam(i)->Mode;
    if (mode == kParamModeIn || mode == kParamModeInOut) ++count;
  }
  return count;
}

int32_t TBRNRoutine::GetOutputParamCount() const {
  int32_t count = 0;
  for (int32_t i = 0; i < Params->Count(); ++i) {
    const int32_t mode = Params->GetParam(i)->Mode;
    if (mode == kParamModeOut || mode == kParamModeInOut) ++count;
  }
  return count;
}

void TBRNRoutine::OpenExternal() {
  if (Implementation != kRoutineExternal || external_.IsOpen()) return;
  GetModule();
  external_.Open(this, ModuleName, mtExternalRoutines);
}

void TBRNRoutine::CloseExternal() {
  external_.Close();
}

void TBRNRoutine::CallExternal(TBRNParamValues& params) {
  if (!external_.IsOpen()) throw std::logic_error("TBRNRoutine::CallExternal: routine not open");
  TBRNModule* module = external_.Open(this, ModuleName, mtExternalRoutines);
  module->CallRoutine(external_.GetInstance(), Name, params);
}

std::string TBRNRoutine::BuildDefinition(bool includeClauses) const {
  std::string text = trimTrailingControls(Definition->SQL);
  if (!includeClauses) return text;
  const std::string description = TrimTrailingBlanks(Description);
  if (!description.empty()) text += "\r\nDESCRIPTION " + QuotedText(description);
  text += "\r\nVERSION " + VersionText(Version);
  if (!TrimTrailingBlanks(Attributes).empty()) text += "\r\nATTRIBUTES " + QuotedText(Attributes);
  return text;
}

void TBRNRoutine::SetModified(bool value) {
  if (value) VersionStamp = CurrentFormatVersion();
  TBRNPrivilegedSchemaObject::SetModified(value);
}

void TBRNRoutine::SetSystem(bool value) {
  TBRNPrivilegedSchemaObject::SetSystem(value);
  Params->SetSystem(value);
  Result->SetSystem(value);
}

void TBRNRoutine::SetTransient(bool value) {
  TBRNPrivilegedSchemaObject::SetTransient(value);
  Params->SetTransient(value);
  Result->SetTransient(value);
}

void TBRNRoutine::SetTemporary(bool value) {
  TBRNPrivilegedSchemaObject::SetTemporary(value);
  Params->SetTemporary(value);
  Result->SetTemporary(value);
}

void TBRNRoutine::GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) {
  Grant(grantor, grantee, pkExecute);
}

void TBRNRoutine::GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) {
  Grant(grantor, grantee, pkExecute);
}

int32_t TBRNRoutine::GetLockOffset(uint8_t lockType) const {
  if ((lockType != 1 && lockType != 2) || LockNumber < 1) return 0;
  const int64_t offset = kRoutineLockBase + (int64_t(LockNumber) - 1) * 4096;
  if (offset > INT32_MAX) throw std::out_of_range("routine lock number out of range");
  return int32_t(offset);
}

int32_t TBRNRoutine::GetLockLength(uint8_t lockType) const {
  return lockType == 1 || lockType == 2 ? 4096 : 0;
}

void TBRNRoutine::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNPrivilegedSchemaObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNRoutine*>(source);
  if (other == nullptr) return;
  Implementation = other->Implementation;
  Reserved = other->Reserved;
  Definition->Assign(other->Definition.get(), copyState);
  if (copyState) {
    ReferencedFunctions->Assign(other->ReferencedFunctions.get(), true);
    ReferencedProcedures->Assign(other->ReferencedProcedures.get(), true);
  }
  if (ModuleName != other->ModuleName) external_.ResetModule();
  ModuleName = other->ModuleName;
  Params->Assign(other->Params.get(), copyState);
  Result->Assign(other->Result.get(), copyState);
  VersionStamp = other->VersionStamp;
}

bool TBRNRoutine::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* routine = dynamic_cast<const TBRNRoutine*>(other);
  return routine != nullptr && TBRNPrivilegedSchemaObject::IsEqual(other, compareIDs) &&
         Implementation == routine->Implementation && Reserved == routine->Reserved &&
         Definition->Equals(routine->Definition.get()) &&
         TextEqualsIgnoreCase(ModuleName, routine->ModuleName) &&
         Params->IsEqual(routine->Params.get(), compareIDs) &&
         Result->IsEqual(routine->Result.get(), compareIDs);
}

void TBRNRoutine::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNPrivilegedSchemaObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(Implementation);
  stream.WriteInteger(Reserved);
  Definition->WriteToStream(stream);
  stream.WriteString(ModuleName);
  Params->SaveToStream(stream, structureOnly);
  Result->SaveToStream(stream, structureOnly);
  const int64_t version = GetVersion();
  if (version == 0 || version >= kFormatVersion204) stream.WriteInt64(VersionStamp);
  stream.WriteInteger(LockNumber);
}

void TBRNRoutine::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNPrivilegedSchemaObject::LoadFromStream(stream);
  Implementation = readStoredInteger(stream);
  if (Implementation != kRoutineSQL && Implementation != kRoutineExternal)
    RaiseMetadataError("The routine implementation is invalid");
  Reserved = readStoredInteger(stream);
  Definition->SetText(readStoredString(stream));
  ModuleName = readStoredString(stream);
  external_.ResetModule();
  Params->LoadFromStream(stream);
  Result->LoadFromStream(stream);
  const int64_t version = GetVersion();
  if (version == 0 || version >= kFormatVersion204) {
    VersionStamp = readStoredInt64(stream);
    CheckVersion(VersionStamp);
  } else {
    VersionStamp = version;
  }
  LockNumber = readStoredInteger(stream);
  if (LockNumber < 0 || LockNumber > (INT32_MAX - kRoutineLockBase) / 4096 + 1)
    RaiseMetadataError("The routine lock number is invalid");
}

void TBRNRoutine::Compile() {
  Definition->Compile();
}

void TBRNRoutine::Uncompile() {
  Definition->Uncompile();
}

void TBRNRoutine::ResetLinks() {
  external_.ResetModule();
  TBRNPrivilegedSchemaObject::ResetLinks();
}

void TBRNRoutine::CollectReferrers() {
  if (Catalog == nullptr || Catalog->DefaultSchema == nullptr) return;
  Catalog->DefaultSchema->BaseTables->RegisterReferenceTo(this);
  Catalog->DefaultSchema->Views->RegisterReferenceTo(this);
  Catalog->DefaultSchema->Functions->RegisterReferenceTo(this);
  Catalog->DefaultSchema->Procedures->RegisterReferenceTo(this);
}

void TBRNRoutine::PropagateRename(const std::string& newName) {
  if (Catalog == nullptr || Catalog->DefaultSchema == nullptr) return;
  Catalog->DefaultSchema->BaseTables->ReplaceReferencedName(this, newName);
  Catalog->DefaultSchema->Views->ReplaceReferencedName(this, newName);
  Catalog->DefaultSchema->Functions->ReplaceReferencedName(this, newName);
  Catalog->DefaultSchema->Procedures->ReplaceReferencedName(this, newName);
}

void TBRNRoutine::RegisterReferenceTo(TBRNConfigObject* target) {
  TBRNPrivilegedSchemaObject::RegisterReferenceTo(target);
  if (target == nullptr) return;
  if (auto* module = dynamic_cast<TBRNModule*>(target)) {
    if (Implementation == kRoutineExternal && TextEqualsIgnoreCase(module->Name, ModuleName))
      AddReferrerOnce(target, this);
    return;
  }
  if (dynamic_cast<TBRNRoutine*>(target) == nullptr || target == this) return;
  Compile();
  if (SelectionHolds(ReferencedFunctions.get(), target) ||
      SelectionHolds(ReferencedProcedures.get(), target))
    AddReferrerOnce(target, this);
}

void TBRNRoutine::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  TBRNPrivilegedSchemaObject::ReplaceReferencedName(target, newName);
  if (target == nullptr) return;
  if (auto* module = dynamic_cast<TBRNModule*>(target)) {
    if (TextEqualsIgnoreCase(module->Name, ModuleName)) {
      ModuleName = newName;
      SetModified(true);
    }
    return;
  }
  if (dynamic_cast<TBRNRoutine*>(target) == nullptr) return;
  Compile();
  const std::string oldName = target->GetName();
  if (dynamic_cast<TBRNFunction*>(target) != nullptr &&
      (target == this || SelectionHolds(ReferencedFunctions.get(), target))) {
    Definition->RenameInText(tkFunction, oldName, newName);
  } else if (dynamic_cast<TBRNProcedure*>(target) != nullptr &&
             (target == this || SelectionHolds(ReferencedProcedures.get(), target))) {
    Definition->RenameInText(tkRoutineCall, oldName, newName);
  } else {
    return;
  }
  // The routine's own name heads its text: renaming the routine renames
  // the head too, so that its recursive calls stay recursive and the text
  // compiles again under the new name.
  if (target == this) Definition->ReplaceRoutineName(newName);
  SetModified(true);
}

std::string TBRNRoutine::GetCreateSQL(bool, bool) {
  return "CREATE " + BuildDefinition(true);
}

std::string TBRNRoutine::GetAlterSQL() {
  return AlterSQL;
}

void TBRNRoutine::ComputeDifference(int32_t kind, TBRNConfigObject* other, char) {
  AlterSQL.clear();
  if (CreateOrDropDifference(*this, kind, AlterSQL)) return;
  auto* routine = dynamic_cast<TBRNRoutine*>(other);
  if (routine == nullptr || IsEqual(routine, false)) return;
  AlterSQL = "ALTER " + routine->BuildDefinition(false);
  if (Description != routine->Description)
    AlterSQL += "\r\nDESCRIPTION " + QuotedText(routine->Description);
  if (Version != routine->Version) AlterSQL += "\r\nVERSION " + VersionText(routine->Version);
  if (Attributes != routine->Attributes)
    AlterSQL += "\r\nATTRIBUTES " + QuotedText(routine->Attributes);
}

int64_t TBRNRoutine::GetMemorySize() const {
  return TBRNPrivilegedSchemaObject::GetMemorySize() +
         int64_t(sizeof(TBRNRoutine) - sizeof(TBRNPrivilegedSchemaObject)) +
         Definition->MemorySize() + int64_t(ModuleName.size()) + Params->GetMemorySize() +
         Result->GetMemorySize() + ReferencedFunctions->GetMemorySize() +
         ReferencedProcedures->GetMemorySize() + int64_t(AlterSQL.size());
}

int32_t TBRNRoutine::GetObjectCount() const {
  return TBRNPrivilegedSchemaObject::GetObjectCount() + Params->GetObjectCount();
}

std::string TBRNRoutine::GetObjectTypeName() const {
  return "routine";
}

// ---------------------------------------------------------------------------
// Procedures and functions

TBRNProcedure::TBRNProcedure(TBRNCatalog* catalog, TBRNUser* owner) : TBRNRoutine(catalog, owner) {
  Init();
}

std::unique_ptr<TBRNCatalogRoutine> TBRNProcedure::CreateDefinition() {
  return std::make_unique<TBRNRoutineDefinition<TBRNProcedureRoutine>>(this);
}

TBRNPrivilegedCatalogObject* TBRNProcedure::CreateOwnedInCatalog(TBRNCatalog* catalog,
                                                                 TBRNUser* owner) const {
  return new TBRNProcedure(catalog, owner);
}

TBRNPrivilegedCatalogObject* TBRNProcedure::CreateInCatalog(TBRNCatalog* catalog) const {
  return new TBRNProcedure(catalog);
}

std::string TBRNProcedure::GetObjectTypeName() const {
  return "procedure";
}

std::string TBRNProcedure::GetDropSQL(bool, bool) {
  return "DROP PROCEDURE " + QuoteString(Name, '"');
}

TBRNFunction::TBRNFunction(TBRNCatalog* catalog, TBRNUser* owner) : TBRNRoutine(catalog, owner) {
  Init();
}

std::unique_ptr<TBRNCatalogRoutine> TBRNFunction::CreateDefinition() {
  return std::make_unique<TBRNRoutineDefinition<TBRNFunctionRoutine>>(this);
}

TBRNPrivilegedCatalogObject* TBRNFunction::CreateOwnedInCatalog(TBRNCatalog* catalog,
                                                                TBRNUser* owner) const {
  return new TBRNFunction(catalog, owner);
}

TBRNPrivilegedCatalogObject* TBRNFunction::CreateInCatalog(TBRNCatalog* catalog) const {
  return new TBRNFunction(catalog);
}

std::string TBRNFunction::GetObjectTypeName() const {
  return "function";
}

std::string TBRNFunction::GetDropSQL(bool, bool) {
  return "DROP FUNCTION " + QuoteString(Name, '"');
}

// ---------------------------------------------------------------------------
// Parameters for the compiler

std::unique_ptr<TBRNExprToken> NewRoutineParamNode(TBRNCatalog* catalog, std::string_view name,
                                                   int32_t index, bool function) {
  if (catalog == nullptr || catalog->DefaultSchema == nullptr || index < 0) return nullptr;
  TBRNSchema* schema = catalog->DefaultSchema;
  TBRNConfigObjects* list = function ? static_cast<TBRNConfigObjects*>(schema->Functions.get())
                                     : static_cast<TBRNConfigObjects*>(schema->Procedures.get());
  auto* routine = static_cast<TBRNRoutine*>(list->FindByName(std::string(name), false));
  if (routine == nullptr || index >= routine->Params->Count()) return nullptr;
  const TBRNRoutineParam* param = routine->Params->GetParam(index);
  auto node = std::make_unique<TBRNExprToken>();
  node->Kind = tkRoutineParam;
  switch (param->Mode) {
    case kParamModeOut:
      node->Operation = opParamOut;
      break;
    case kParamModeInOut:
      node->Operation = opParamInOut;
      break;
    default:
      node->Operation = opParamIn;
      break;
  }
  node->Name = param->Name;
  node->Index = index;
  node->DataType = TBRNDataTypeCode(param->DataType);
  node->SubType = param->SubType;
  node->Size = param->Length;
  node->Scale = param->Scale;
  node->Collation = param->Collation;
  return node;
}

// ---------------------------------------------------------------------------
// Collections

namespace {

// The schema's other routine list (the functions of a procedure list and
// the other way round), when the owner keeps both.
TBRNConfigObjects* siblingList(TBRNConfigObjects* list, bool wantFunctions) {
  auto* holder = list != nullptr ? dynamic_cast<TBRNRoutineListHolder*>(list->Owner) : nullptr;
  if (holder != nullptr)
    return wantFunctions ? holder->GetFunctionList() : holder->GetProcedureList();
  if (TBRNSchema* schema = schemaOfList(list))
    return wantFunctions ? static_cast<TBRNConfigObjects*>(schema->Functions.get())
                         : static_cast<TBRNConfigObjects*>(schema->Procedures.get());
  return nullptr;
}

// Procedures and functions share one set of names: an object entering one
// list is also checked against the other. Only the sibling's own base check
// runs (a qualified call), as its override would come back here.
void checkSiblingDuplicate(TBRNConfigObjects* list, TBRNConfigObject* object, bool wantFunctions) {
  auto* sibling = dynamic_cast<TBRNPrivilegedCatalogObjects*>(siblingList(list, wantFunctions));
  if (sibling != nullptr && sibling != list)
    sibling->TBRNPrivilegedCatalogObjects::CheckDuplicate(object);
}

}  // namespace

TBRNProcedures::TBRNProcedures(TBRNCatalog* catalog) : TBRNCollection(catalog) {}

TBRNProcedure* TBRNProcedures::GetProcedure(int32_t index) const {
  return static_cast<TBRNProcedure*>(GetItem(index));
}

TBRNConfigObject* TBRNProcedures::CreateItemOwnedBy(TBRNUser* owner) {
  return new TBRNProcedure(Catalog, owner);
}

std::string TBRNProcedures::GetObjectTypeName() const {
  return "procedure";
}

std::string TBRNProcedures::GetSystemTableName() const {
  return "Procedures";
}

void TBRNProcedures::CheckDuplicate(TBRNConfigObject* object) {
  TBRNPrivilegedCatalogObjects::CheckDuplicate(object);
  checkSiblingDuplicate(this, object, true);
}

void TBRNProcedures::Changed() {
  TBRNPrivilegedCatalogObjects::Changed();
  rebuildAllRoutines(this);
}

TBRNFunctions::TBRNFunctions(TBRNCatalog* catalog) : TBRNCollection(catalog) {}

TBRNFunction* TBRNFunctions::GetFunction(int32_t index) const {
  return static_cast<TBRNFunction*>(GetItem(index));
}

TBRNConfigObject* TBRNFunctions::CreateItemOwnedBy(TBRNUser* owner) {
  return new TBRNFunction(Catalog, owner);
}

std::string TBRNFunctions::GetObjectTypeName() const {
  return "function";
}

std::string TBRNFunctions::GetSystemTableName() const {
  return "Functions";
}

void TBRNFunctions::CheckDuplicate(TBRNConfigObject* object) {
  TBRNPrivilegedCatalogObjects::CheckDuplicate(object);
  checkSiblingDuplicate(this, object, false);
}

void TBRNFunctions::Changed() {
  TBRNPrivilegedCatalogObjects::Changed();
  rebuildAllRoutines(this);
}

TBRNRoutines::TBRNRoutines(TBRNCatalog* catalog) : TBRNReferenceList(catalog) {}

TBRNRoutine* TBRNRoutines::GetRoutine(int32_t index) const {
  return static_cast<TBRNRoutine*>(GetItem(index));
}

std::string TBRNRoutines::GetObjectTypeName() const {
  return "routine";
}

int32_t TBRNRoutines::GetMaxCount() const {
  return 4096;
}

void TBRNRoutines::Rebuild(TBRNConfigObjects* functions, TBRNConfigObjects* procedures) {
  Clear();
  for (TBRNConfigObjects* list : {functions, procedures}) {
    if (list == nullptr) continue;
    for (int32_t i = 0; i < list->Count(); ++i) AddObject(list->GetItem(i));
  }
}

}  // namespace brn
