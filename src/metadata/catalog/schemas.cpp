#include "metadata/catalog/schemas.h"

#include <array>
#include <initializer_list>
#include <set>
#include <utility>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/table_differences.h"

namespace brn {

namespace {

// The schema that owns a member list (nullptr for a list without one).
TBRNSchema* SchemaOf(const TBRNConfigObjects* list) {
  return dynamic_cast<TBRNSchema*>(list->Owner);
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNBaseTables (the members that need the schema)

void TBRNBaseTables::CheckDuplicate(TBRNConfigObject* object) {
  TBRNSchema* schema = SchemaOf(this);
  if (schema == nullptr || this != schema->BaseTables.get()) {
    TBRNPrivilegedCatalogObjects::CheckDuplicate(object);
    return;
  }
  schema->CheckTableName(object);
  schema->CheckTableRoom(object);
}

void TBRNBaseTables::Changed() {
  TBRNSchema* schema = SchemaOf(this);
  if (schema != nullptr && this == schema->BaseTables.get()) schema->RebuildAllTables();
}

// ---------------------------------------------------------------------------
// TBRNVirtualTables

TBRNVirtualTables::TBRNVirtualTables(TBRNCatalog* catalog) : TBRNReferenceList(catalog) {}

std::string TBRNVirtualTables::GetObjectTypeName() const {
  return "table or view";
}

int32_t TBRNVirtualTables::GetMaxCount() const {
  return kMaxSchemaTables;
}

// ---------------------------------------------------------------------------
// TBRNTemporaryTables

TBRNTemporaryTables::TBRNTemporaryTables(TBRNCatalog* catalog) : TBRNCollection(catalog) {}

TBRNBaseTable* TBRNTemporaryTables::GetTable(int32_t index) const {
  return static_cast<TBRNBaseTable*>(GetItem(index));
}

TBRNConfigObject* TBRNTemporaryTables::CreateItemOwnedBy(TBRNUser* owner) {
  return new TBRNBaseTable(Catalog, owner);
}

std::string TBRNTemporaryTables::GetObjectTypeName() const {
  return "temporary table";
}

void TBRNTemporaryTables::SetModified(bool) {}

void TBRNTemporaryTables::CheckDuplicate(TBRNConfigObject* object) {
  auto* table = dynamic_cast<TBRNBaseTable*>(object);
  if (table != nullptr && table->IsWorkingCopy()) return;
  TBRNSchema* schema = SchemaOf(this);
  if (schema == nullptr) {
    TBRNPrivilegedCatalogObjects::CheckDuplicate(object);
  } else {
    schema->CheckTableName(object);
  }
}

// ---------------------------------------------------------------------------
// TBRNSchema

TBRNSchema::TBRNSchema(TBRNCatalog* catalog) : TBRNPrivilegedCatalogObject(catalog) {
  createLists();
}

TBRNSchema::TBRNSchema(TBRNCatalog* catalog, TBRNUser* owner)
    : TBRNPrivilegedCatalogObject(catalog, owner) {
  createLists();
}

TBRNSchema::~TBRNSchema() {
  closing_ = true;
  // The lists that only point at members go before the lists that own them
  // (the difference frees the objects of its CREATE entries).
  SchemaDifference.reset();
  SchemaObjects.reset();
  AllTables.reset();
  AllRoutines.reset();
  OperationTables.reset();
  TransactionTables.reset();
  Functions.reset();
  Procedures.reset();
  TemporaryViews.reset();
  Views.reset();
  TemporaryTables.reset();
  BaseTables.reset();
}

void TBRNSchema::createLists() {
  AllTables = std::make_unique<TBRNVirtualTables>(Catalog);
  BaseTables = std::make_unique<TBRNBaseTables>(Catalog);
  TemporaryTables = std::make_unique<TBRNTemporaryTables>(Catalog);
  OperationTables = std::make_unique<TBRNReferencedTables>(Catalog);
  TransactionTables = std::make_unique<TBRNReferencedTables>(Catalog);
  Views = std::make_unique<TBRNViews>(Catalog);
  TemporaryViews = std::make_unique<TBRNTemporaryViews>(Catalog);
  AllRoutines = std::make_unique<TBRNRoutines>(Catalog);
  Procedures = std::make_unique<TBRNProcedures>(Catalog);
  Functions = std::make_unique<TBRNFunctions>(Catalog);
  for (TBRNConfigObjects* list : {static_cast<TBRNConfigObjects*>(AllTables.get()),
                                  static_cast<TBRNConfigObjects*>(BaseTables.get()),
                                  static_cast<TBRNConfigObjects*>(TemporaryTables.get()),
                                  static_cast<TBRNConfigObjects*>(OperationTables.get()),
                                  static_cast<TBRNConfigObjects*>(TransactionTables.get()),
                                  static_cast<TBRNConfigObjects*>(AllRoutines.get()),
                                  static_cast<TBRNConfigObjects*>(Views.get()),
                                  static_cast<TBRNConfigObjects*>(TemporaryViews.get()),
                                  static_cast<TBRNConfigObjects*>(Procedures.get()),
                                  static_cast<TBRNConfigObjects*>(Functions.get())})
    list->Owner = this;
  SchemaObjects = TBRNSchemaObjects::CreateForSchema(this);
  SchemaDifference = std::make_unique<TBRNSchemaDifference>(Config);
  SchemaDifference->Owner = this;
  // Temporary tables live only in memory.
  TemporaryTables->SetTemporary(true);
}

void TBRNSchema::RebuildAllTables() {
  if (closing_ || AllTables == nullptr || BaseTables == nullptr || Views == nullptr) return;
  AllTables->Clear();
  for (TBRNConfigObjects* list : {static_cast<TBRNConfigObjects*>(BaseTables.get()),
                                  static_cast<TBRNConfigObjects*>(Views.get())}) {
    for (int32_t i = 0; i < list->Count(); ++i) AllTables->AddObject(list->GetItem(i));
  }
  if (AllTables->Count() >= AllTables->GetMaxCount()) AllTables->RaiseMaximumReached();
}

void TBRNSchema::CheckTableName(TBRNConfigObject* object) {
  // The plain check of each list: it reports the clashing member under its
  // own list's kind word and never calls back into the schema.
  for (TBRNConfigObjects* list : {static_cast<TBRNConfigObjects*>(BaseTables.get()),
                                  static_cast<TBRNConfigObjects*>(TemporaryTables.get()),
                                  static_cast<TBRNConfigObjects*>(Views.get()),
                                  static_cast<TBRNConfigObjects*>(TemporaryViews.get())}) {
    if (list != nullptr) list->TBRNConfigObjects::CheckDuplicate(object);
  }
}

void TBRNSchema::CheckTableRoom(const TBRNConfigObject* object) const {
  int32_t count = 0;
  bool member = false;
  for (const TBRNConfigObjects* list : {static_cast<const TBRNConfigObjects*>(BaseTables.get()),
                                        static_cast<const TBRNConfigObjects*>(Views.get())}) {
    if (list == nullptr) continue;
    count += list->Count();
    for (int32_t i = 0; i < list->Count() && !member; ++i) member = list->GetItem(i) == object;
  }
  if (!member && count + 1 >= AllTables->GetMaxCount()) AllTables->RaiseMaximumReached();
}

void TBRNSchema::RebuildAllRoutines() {
  if (closing_ || AllRoutines == nullptr) return;
  AllRoutines->Rebuild(Functions.get(), Procedures.get());
}

TBRNConfigObjects* TBRNSchema::GetProcedureList() {
  return Procedures.get();
}

TBRNConfigObjects* TBRNSchema::GetFunctionList() {
  return Functions.get();
}

TBRNRoutines* TBRNSchema::GetAllRoutines() {
  return closing_ ? nullptr : AllRoutines.get();
}

TBRNPrivilegedCatalogObject* TBRNSchema::CreateOwnedInCatalog(TBRNCatalog* catalog,
                                                              TBRNUser* owner) const {
  return new TBRNSchema(catalog, owner);
}

TBRNPrivilegedCatalogObject* TBRNSchema::CreateInCatalog(TBRNCatalog* catalog) const {
  return new TBRNSchema(catalog);
}

std::string TBRNSchema::GetObjectTypeName() const {
  return "schema";
}

std::array<TBRNPrivilegedCatalogObjects*, 4> TBRNSchema::storedLists() const {
  return {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()};
}

void TBRNSchema::SetSystem(bool value) {
  TBRNPrivilegedCatalogObject::SetSystem(value);
  for (TBRNPrivilegedCatalogObjects* list : storedLists()) list->SetSystem(value);
}

void TBRNSchema::SetTransient(bool value) {
  TBRNPrivilegedCatalogObject::SetTransient(value);
  for (TBRNPrivilegedCatalogObjects* list : storedLists()) list->SetTransient(value);
}

void TBRNSchema::SetTemporary(bool value) {
  TBRNPrivilegedCatalogObject::SetTemporary(value);
  for (TBRNPrivilegedCatalogObjects* list : storedLists()) list->SetTemporary(value);
}

void TBRNSchema::ResetLinks() {
  TBRNPrivilegedCatalogObject::ResetLinks();
  if (SchemaObjects) SchemaObjects->Clear();
}

void TBRNSchema::ResetAllLinks() {
  TBRNPrivilegedCatalogObject::ResetAllLinks();
  for (TBRNPrivilegedCatalogObjects* list : storedLists()) list->ResetAllLinks();
}

void TBRNSchema::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNPrivilegedCatalogObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNSchema*>(source);
  if (other == nullptr || other == this) return;
  std::array<TBRNPrivilegedCatalogObjects*, 4> mine = storedLists();
  std::array<TBRNPrivilegedCatalogObjects*, 4> theirs = other->storedLists();
  for (size_t i = 0; i < mine.size(); ++i) mine[i]->Assign(theirs[i], copyState);
  // The derived lists follow the copied members.
  RebuildAllTables();
  RebuildAllRoutines();
}

bool TBRNSchema::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (!TBRNPrivilegedCatalogObject::IsEqual(other, compareIDs)) return false;
  auto* schema = dynamic_cast<const TBRNSchema*>(other);
  if (schema == nullptr) return false;
  std::array<TBRNPrivilegedCatalogObjects*, 4> mine = storedLists();
  std::array<TBRNPrivilegedCatalogObjects*, 4> theirs = schema->storedLists();
  for (size_t i = 0; i < mine.size(); ++i) {
    if (!mine[i]->IsEqual(theirs[i], compareIDs)) return false;
  }
  return true;
}

void TBRNSchema::Validate() {
  TBRNPrivilegedCatalogObject::Validate();
  for (TBRNPrivilegedCatalogObjects* list : storedLists()) list->Validate();
}

void TBRNSchema::Uncompile() {
  for (TBRNPrivilegedCatalogObjects* list : storedLists()) list->Uncompile();
}

void TBRNSchema::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNPrivilegedCatalogObject::SaveToStream(stream, structureOnly);
  for (TBRNPrivilegedCatalogObjects* list : storedLists())
    list->SaveToStream(stream, structureOnly);
}

void TBRNSchema::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNPrivilegedCatalogObject::LoadFromStream(stream);
  for (TBRNPrivilegedCatalogObjects* list : storedLists()) list->LoadFromStream(stream);
  checkStoredNames();
  RebuildAllTables();
  RebuildAllRoutines();
}

void TBRNSchema::checkStoredNames() const {
  // Each namespace once: tables with views, procedures with functions.
  auto checkNames = [this](std::initializer_list<const TBRNConfigObjects*> lists) {
    std::set<std::string> names;
    for (const TBRNConfigObjects* list : lists) {
      for (int32_t i = 0; i < list->Count(); ++i) {
        std::string name = list->GetItem(i)->GetName();
        if (!names.insert(UpperCaseText(name)).second)
          RaiseMetadataError(FormatText("The name %s is stored twice", {name}));
      }
    }
  };
  checkNames({BaseTables.get(), Views.get()});
  checkNames({Procedures.get(), Functions.get()});
}

int64_t TBRNSchema::GetMemorySize() const {
  int64_t size = TBRNPrivilegedCatalogObject::GetMemorySize() + sizeof(TBRNSchema) -
                 sizeof(TBRNPrivilegedCatalogObject);
  for (const TBRNConfigObjects* list : allLists()) size += list->GetMemorySize();
  return size + SchemaObjects->GetMemorySize() + SchemaDifference->GetMemorySize();
}

int32_t TBRNSchema::GetObjectCount() const {
  int32_t count = TBRNPrivilegedCatalogObject::GetObjectCount();
  for (const TBRNConfigObjects* list : allLists()) {
    if (list != OperationTables.get() && list != TransactionTables.get())
      count += list->GetObjectCount();
  }
  return count;
}

std::array<const TBRNConfigObjects*, 10> TBRNSchema::allLists() const {
  return {AllTables.get(),       AllRoutines.get(),       BaseTables.get(), TemporaryTables.get(),
          OperationTables.get(), TransactionTables.get(), Views.get(),      TemporaryViews.get(),
          Procedures.get(),      Functions.get()};
}

void TBRNSchema::RegisterReferenceTo(TBRNConfigObject* target) {
  TBRNPrivilegedCatalogObject::RegisterReferenceTo(target);
  for (TBRNPrivilegedCatalogObjects* list : storedLists()) list->RegisterReferenceTo(target);
}

void TBRNSchema::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  TBRNPrivilegedCatalogObject::ReplaceReferencedName(target, newName);
  for (TBRNPrivilegedCatalogObjects* list : storedLists())
    list->ReplaceReferencedName(target, newName);
}

// ---------------------------------------------------------------------------
// TBRNSchemas

TBRNSchemas::TBRNSchemas(TBRNCatalog* catalog) : TBRNCollection(catalog) {}

TBRNSchema* TBRNSchemas::GetSchema(int32_t index) const {
  return static_cast<TBRNSchema*>(GetItem(index));
}

TBRNConfigObject* TBRNSchemas::CreateItemOwnedBy(TBRNUser* owner) {
  return new TBRNSchema(Catalog, owner);
}

std::string TBRNSchemas::GetObjectTypeName() const {
  return "schema";
}

std::string TBRNSchemas::GetSystemTableName() const {
  return "Schemas";
}

}  // namespace brn
