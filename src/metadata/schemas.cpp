#include "metadata/schemas.h"

#include <utility>

#include "foundation/core/memory_stream.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog.h"

namespace brn {

// ---------------------------------------------------------------------------
// TBRNSchemaMembers

TBRNSchemaMembers::TBRNSchemaMembers(TBRNCatalog* catalog, std::string kindWord,
                                     std::string tableName)
    : TBRNPrivilegedCatalogObjects(catalog),
      kindWord_(std::move(kindWord)),
      tableName_(std::move(tableName)) {}

std::string TBRNSchemaMembers::GetObjectTypeName() const {
  return kindWord_;
}

std::string TBRNSchemaMembers::GetSystemTableName() const {
  return tableName_;
}

void TBRNSchemaMembers::LoadFromStream(TBRNMemoryStream& stream) {
  int32_t count = readStoredCount(stream, GetMaxCount(), kMinStoredRecordSize);
  if (count != 0) RaiseMetadataError(FormatText("Stored %ss cannot be read yet", {kindWord_}));
  // An empty stored list leaves the members made in memory alone, as the
  // stream holds none of them.
  for (int32_t i = Count() - 1; i >= 0; --i) {
    TBRNConfigObject* member = GetItem(i);
    if (member->System || member->Transient || member->Temporary) continue;
    delete RemoveObject(i);
  }
  Changed();
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

TBRNSchema::~TBRNSchema() = default;

void TBRNSchema::createLists() {
  BaseTables = std::make_unique<TBRNSchemaMembers>(Catalog, "table", "Tables");
  Views = std::make_unique<TBRNSchemaMembers>(Catalog, "view", "Views");
  Procedures = std::make_unique<TBRNSchemaMembers>(Catalog, "procedure", "Procedures");
  Functions = std::make_unique<TBRNSchemaMembers>(Catalog, "function", "Functions");
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->Owner = this;
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

void TBRNSchema::SetSystem(bool value) {
  TBRNPrivilegedCatalogObject::SetSystem(value);
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->SetSystem(value);
}

void TBRNSchema::SetTransient(bool value) {
  TBRNPrivilegedCatalogObject::SetTransient(value);
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->SetTransient(value);
}

void TBRNSchema::SetTemporary(bool value) {
  TBRNPrivilegedCatalogObject::SetTemporary(value);
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->SetTemporary(value);
}

void TBRNSchema::ResetAllLinks() {
  TBRNPrivilegedCatalogObject::ResetAllLinks();
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->ResetAllLinks();
}

void TBRNSchema::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNPrivilegedCatalogObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNSchema*>(source);
  if (other == nullptr || other == this) return;
  BaseTables->Assign(other->BaseTables.get(), copyState);
  Views->Assign(other->Views.get(), copyState);
  Procedures->Assign(other->Procedures.get(), copyState);
  Functions->Assign(other->Functions.get(), copyState);
}

bool TBRNSchema::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (!TBRNPrivilegedCatalogObject::IsEqual(other, compareIDs)) return false;
  auto* schema = dynamic_cast<const TBRNSchema*>(other);
  return schema != nullptr && BaseTables->IsEqual(schema->BaseTables.get(), compareIDs) &&
         Views->IsEqual(schema->Views.get(), compareIDs) &&
         Procedures->IsEqual(schema->Procedures.get(), compareIDs) &&
         Functions->IsEqual(schema->Functions.get(), compareIDs);
}

void TBRNSchema::Validate() {
  TBRNPrivilegedCatalogObject::Validate();
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->Validate();
}

void TBRNSchema::Uncompile() {
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->Uncompile();
}

void TBRNSchema::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNPrivilegedCatalogObject::SaveToStream(stream, structureOnly);
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->SaveToStream(stream, structureOnly);
}

void TBRNSchema::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNPrivilegedCatalogObject::LoadFromStream(stream);
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->LoadFromStream(stream);
}

int64_t TBRNSchema::GetMemorySize() const {
  int64_t size = TBRNPrivilegedCatalogObject::GetMemorySize() + sizeof(TBRNSchema) -
                 sizeof(TBRNPrivilegedCatalogObject);
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    size += list->GetMemorySize();
  return size;
}

int32_t TBRNSchema::GetObjectCount() const {
  int32_t count = TBRNPrivilegedCatalogObject::GetObjectCount();
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    count += list->GetObjectCount();
  return count;
}

void TBRNSchema::RegisterReferenceTo(TBRNConfigObject* target) {
  TBRNPrivilegedCatalogObject::RegisterReferenceTo(target);
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->RegisterReferenceTo(target);
}

void TBRNSchema::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  TBRNPrivilegedCatalogObject::ReplaceReferencedName(target, newName);
  for (TBRNSchemaMembers* list : {BaseTables.get(), Views.get(), Procedures.get(), Functions.get()})
    list->ReplaceReferencedName(target, newName);
}

// ---------------------------------------------------------------------------
// TBRNSchemas

TBRNSchemas::TBRNSchemas(TBRNCatalog* catalog) : TBRNPrivilegedCatalogObjects(catalog) {}

TBRNSchema* TBRNSchemas::GetSchema(int32_t index) const {
  return static_cast<TBRNSchema*>(GetItem(index));
}

TBRNConfigObject* TBRNSchemas::CreateItem() {
  return new TBRNSchema(Catalog);
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
