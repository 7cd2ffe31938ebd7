#include "metadata/catalog/catalog_object.h"

#include "metadata/catalog/catalog.h"

namespace brn {

TBRNConfigRoot* CatalogRootOf(TBRNCatalog* catalog) {
  return catalog;
}

namespace {

int64_t catalogVersion(const TBRNCatalog* catalog) {
  return catalog != nullptr ? catalog->FormatVersion : 0;
}

bool catalogModified(const TBRNCatalog* catalog) {
  return catalog != nullptr && catalog->Modified;
}

// A change reaches the catalog only from a member of a collection that is
// stored: System, Transient and Temporary objects never mark it.
void markCatalog(TBRNCatalog* catalog, const TBRNConfigObject& object, bool value) {
  if (catalog == nullptr || object.Owner == nullptr || object.System || object.Transient ||
      object.Temporary)
    return;
  catalog->SetModified(value);
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNCatalogObject

TBRNCatalogObject::TBRNCatalogObject(TBRNCatalog* catalog)
    : TBRNConfigObject(CatalogRootOf(catalog)), Catalog(catalog) {}

TBRNCatalogObject* TBRNCatalogObject::CreateInCatalog(TBRNCatalog* catalog) const {
  return new TBRNCatalogObject(catalog);
}

int64_t TBRNCatalogObject::GetVersion() const {
  return catalogVersion(Catalog);
}

bool TBRNCatalogObject::GetModified() const {
  return catalogModified(Catalog);
}

void TBRNCatalogObject::SetModified(bool value) {
  markCatalog(Catalog, *this, value);
}

void TBRNCatalogObject::AssignID() {
  if (Catalog != nullptr && ID == 0) ID = Catalog->NextID();
}

// ---------------------------------------------------------------------------
// TBRNCatalogObjects

TBRNCatalogObjects::TBRNCatalogObjects(TBRNCatalog* catalog)
    : TBRNConfigObjects(CatalogRootOf(catalog)), Catalog(catalog) {}

TBRNCatalogObjects* TBRNCatalogObjects::CreateInCatalog(TBRNCatalog*) const {
  return nullptr;
}

int64_t TBRNCatalogObjects::GetCollectionVersion() const {
  return Catalog != nullptr ? Catalog->FormatVersion : FormatVersion;
}

int64_t TBRNCatalogObjects::GetVersion() const {
  return GetCollectionVersion();
}

bool TBRNCatalogObjects::GetModified() const {
  return catalogModified(Catalog);
}

void TBRNCatalogObjects::SetModified(bool value) {
  markCatalog(Catalog, *this, value);
}

// ---------------------------------------------------------------------------
// TBRNPrivilegedCatalogObject

TBRNPrivilegedCatalogObject::TBRNPrivilegedCatalogObject(TBRNCatalog* catalog)
    : TBRNPrivilegedConfigObject(CatalogRootOf(catalog)), Catalog(catalog) {}

TBRNPrivilegedCatalogObject::TBRNPrivilegedCatalogObject(TBRNCatalog* catalog, TBRNUser* owner)
    : TBRNPrivilegedConfigObject(CatalogRootOf(catalog), owner), Catalog(catalog) {}

TBRNPrivilegedCatalogObject* TBRNPrivilegedCatalogObject::CreateOwnedInCatalog(
    TBRNCatalog* catalog, TBRNUser* owner) const {
  return new TBRNPrivilegedCatalogObject(catalog, owner);
}

TBRNPrivilegedCatalogObject* TBRNPrivilegedCatalogObject::CreateInCatalog(
    TBRNCatalog* catalog) const {
  return new TBRNPrivilegedCatalogObject(catalog);
}

int64_t TBRNPrivilegedCatalogObject::GetVersion() const {
  return catalogVersion(Catalog);
}

bool TBRNPrivilegedCatalogObject::GetModified() const {
  return catalogModified(Catalog);
}

void TBRNPrivilegedCatalogObject::SetModified(bool value) {
  markCatalog(Catalog, *this, value);
}

void TBRNPrivilegedCatalogObject::AssignID() {
  if (Catalog != nullptr && ID == 0) ID = Catalog->NextID();
}

// ---------------------------------------------------------------------------
// TBRNPrivilegedCatalogObjects

TBRNPrivilegedCatalogObjects::TBRNPrivilegedCatalogObjects(TBRNCatalog* catalog)
    : TBRNPrivilegedConfigObjects(CatalogRootOf(catalog)), Catalog(catalog) {}

TBRNPrivilegedCatalogObjects* TBRNPrivilegedCatalogObjects::CreateInCatalog(TBRNCatalog*) const {
  return nullptr;
}

int64_t TBRNPrivilegedCatalogObjects::GetVersion() const {
  return catalogVersion(Catalog);
}

bool TBRNPrivilegedCatalogObjects::GetModified() const {
  return catalogModified(Catalog);
}

void TBRNPrivilegedCatalogObjects::SetModified(bool value) {
  markCatalog(Catalog, *this, value);
}

}  // namespace brn
