#include "metadata/config/databases.h"

#include <exception>

#include "foundation/core/memory_stream.h"
#include "foundation/locks/lockable.h"
#include "foundation/text/string_helpers.h"
#include "metadata/config/users_roles.h"

namespace brn {

namespace {

// Select, Create, Alter, Drop, Maintain, Backup, Restore.
constexpr int32_t kDatabaseFullPrivileges = (1 << pkSelect) | (1 << pkCreate) | (1 << pkAlter) |
                                            (1 << pkDrop) | (1 << pkMaintain) | (1 << pkBackup) |
                                            (1 << pkRestore);
constexpr int32_t kDatabaseDefaultPrivileges = 1 << pkSelect;

bool passesToTables(uint8_t lockType) {
  return lockType == ltWrite || lockType == ltTransaction;
}

// EncryptedCatalog came after format 1.06.
bool storesEncryptedCatalog(const TBRNConfigObject* object) {
  int64_t version = object->GetVersion();
  return version == 0 || version > kFormatVersion106;
}

std::string descriptionAndAttributesSQL(const std::string& description,
                                        const std::string& attributes) {
  std::string text;
  std::string trimmed = TrimTrailingBlanks(description);
  if (!trimmed.empty()) text += "\r\nDESCRIPTION " + QuoteString(trimmed, '\'');
  trimmed = TrimTrailingBlanks(attributes);
  if (!trimmed.empty()) text += "\r\nATTRIBUTES " + QuoteString(trimmed, '\'');
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNDatabaseContainer

TBRNDatabaseContainer::TBRNDatabaseContainer(TBRNConfigRoot* config)
    : TBRNPrivilegedConfigObject(config) {}

TBRNDatabaseContainer::TBRNDatabaseContainer(TBRNConfigRoot* config, TBRNUser* owner)
    : TBRNPrivilegedConfigObject(config, owner), ReservedNumber(kDatabaseReservedNumber) {}

TBRNDatabaseContainer* TBRNDatabaseContainer::CreateOwned(TBRNConfigRoot* config, TBRNUser* owner) {
  return new TBRNDatabaseContainer(config, owner);
}

void TBRNDatabaseContainer::SetPath(const std::string& text) {
  if (text == Path) return;
  Path = text;
  SetModified(true);
}

void TBRNDatabaseContainer::SetInMemory(bool value) {
  if (value == InMemory) return;
  InMemory = value;
  SetModified(true);
}

void TBRNDatabaseContainer::SetEncryptedCatalog(bool value) {
  if (value == EncryptedCatalog) return;
  EncryptedCatalog = value;
  SetModified(true);
}

void TBRNDatabaseContainer::SetDefaultCollation(int32_t value) {
  if (value == DefaultCollation) return;
  DefaultCollation = value;
  SetModified(true);
}

void TBRNDatabaseContainer::RaiseCatalogNotRead() const {
  RaiseMetadataError("The catalog was not read properly");
}

void TBRNDatabaseContainer::GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) {
  grantSet(grantor, grantee, kDatabaseFullPrivileges);
}

void TBRNDatabaseContainer::GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) {
  grantSet(grantor, grantee, kDatabaseDefaultPrivileges);
}

std::string TBRNDatabaseContainer::GetObjectTypeName() const {
  return "database";
}

std::string TBRNDatabaseContainer::GetParentName() const {
  return "";
}

std::string TBRNDatabaseContainer::GetParentTypeName() const {
  return "";
}

int32_t TBRNDatabaseContainer::GetLockOffset(uint8_t lockType) const {
  switch (lockType) {
    case ltShared:
    case ltExclusive:
      return kDatabaseSharedLockOffset;
    case ltRead:
    case ltWrite:
      return kDatabaseReadLockOffset;
    case ltTransaction:
      return kDatabaseTransactionLockOffset;
    default:
      return 0;
  }
}

int32_t TBRNDatabaseContainer::GetLockLength(uint8_t lockType) const {
  switch (lockType) {
    case ltShared:
    case ltExclusive:
    case ltTransaction:
      return kLockRangeLength;
    case ltRead:
    case ltWrite:
      return kDatabaseReadLockLength;
    default:
      return 0;
  }
}

std::vector<TBRNPrivilegedConfigObject*> TBRNDatabaseContainer::transactionTables() const {
  std::vector<TBRNPrivilegedConfigObject*> tables;
  if (Catalog != nullptr) Catalog->CollectTransactionTables(tables);
  return tables;
}

void TBRNDatabaseContainer::MarkLocked(uint8_t lockType) {
  TBRNPrivilegedConfigObject::MarkLocked(lockType);
  if (!passesToTables(lockType)) return;
  for (TBRNPrivilegedConfigObject* table : transactionTables()) table->MarkLocked(lockType);
}

void TBRNDatabaseContainer::MarkUnlocked(uint8_t lockType) {
  TBRNPrivilegedConfigObject::MarkUnlocked(lockType);
  if (!passesToTables(lockType)) return;
  for (TBRNPrivilegedConfigObject* table : transactionTables()) table->MarkUnlocked(lockType);
}

void TBRNDatabaseContainer::IncTransactionLockCount() {
  TBRNPrivilegedConfigObject::IncTransactionLockCount();
  for (TBRNPrivilegedConfigObject* table : transactionTables()) table->IncTransactionLockCount();
}

void TBRNDatabaseContainer::DecTransactionLockCount() {
  TBRNPrivilegedConfigObject::DecTransactionLockCount();
  for (TBRNPrivilegedConfigObject* table : transactionTables()) table->DecTransactionLockCount();
}

void TBRNDatabaseContainer::SetInTransaction() {
  TBRNPrivilegedConfigObject::SetInTransaction();
  for (TBRNPrivilegedConfigObject* table : transactionTables()) table->SetInTransaction();
}

void TBRNDatabaseContainer::ClearInTransaction() {
  for (TBRNPrivilegedConfigObject* table : transactionTables()) table->ClearInTransaction();
  TBRNPrivilegedConfigObject::ClearInTransaction();
}

void TBRNDatabaseContainer::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNPrivilegedConfigObject::Assign(source, copyState);
  auto* database = dynamic_cast<const TBRNDatabaseContainer*>(source);
  if (database == nullptr || database == this) return;
  Path = database->Path;
  InMemory = database->InMemory;
  EncryptedCatalog = database->EncryptedCatalog;
  ReservedNumber = database->ReservedNumber;
  DefaultCollation = database->DefaultCollation;
}

bool TBRNDatabaseContainer::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (!TBRNPrivilegedConfigObject::IsEqual(other, compareIDs)) return false;
  auto* database = dynamic_cast<const TBRNDatabaseContainer*>(other);
  return database != nullptr && database->Path == Path && database->InMemory == InMemory &&
         database->EncryptedCatalog == EncryptedCatalog &&
         database->ReservedNumber == ReservedNumber &&
         database->DefaultCollation == DefaultCollation;
}

void TBRNDatabaseContainer::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNPrivilegedConfigObject::SaveToStream(stream, structureOnly);
  stream.WriteString(Path);
  stream.WriteBoolean(InMemory);
  if (storesEncryptedCatalog(this)) stream.WriteBoolean(EncryptedCatalog);
  stream.WriteInteger(ReservedNumber);
  if (StoredVersionAtLeast(this, kFormatVersion204)) stream.WriteInteger(DefaultCollation);
}

void TBRNDatabaseContainer::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNPrivilegedConfigObject::LoadFromStream(stream);
  Path = readStoredString(stream);
  InMemory = readStoredBoolean(stream);
  EncryptedCatalog = storesEncryptedCatalog(this) ? readStoredBoolean(stream) : false;
  ReservedNumber = readStoredInteger(stream);
  DefaultCollation = StoredVersionAtLeast(this, kFormatVersion204) ? readStoredInteger(stream) : 0;
}

TBRNCatalogHooks* TBRNDatabaseContainer::hooks() const {
  return dynamic_cast<TBRNCatalogHooks*>(Config);
}

void TBRNDatabaseContainer::RegisterReferenceTo(TBRNConfigObject* target) {
  TBRNPrivilegedConfigObject::RegisterReferenceTo(target);
  if (dynamic_cast<TBRNAuthorization*>(target) == nullptr) return;
  TBRNCatalogHooks* catalogHooks = hooks();
  if (catalogHooks != nullptr) catalogHooks->OnCatalogReadBegin(this);
  try {
    if (Catalog == nullptr) RaiseCatalogNotRead();
    std::vector<TBRNConfigObjects*> holders;
    Catalog->CollectAuthorizationHolders(holders);
    for (TBRNConfigObjects* holder : holders) holder->RegisterReferenceTo(target);
  } catch (...) {
    if (catalogHooks != nullptr) catalogHooks->OnCatalogReadEnd(this);
    throw;
  }
  if (catalogHooks != nullptr) catalogHooks->OnCatalogReadEnd(this);
}

template <typename Change>
void TBRNDatabaseContainer::updateCatalog(Change&& change) {
  TBRNCatalogHooks* catalogHooks = hooks();
  try {
    if (catalogHooks != nullptr) catalogHooks->OnCatalogUpdateBegin(this);
    if (Catalog == nullptr) RaiseCatalogNotRead();
    std::vector<TBRNConfigObjects*> holders;
    Catalog->CollectAuthorizationHolders(holders);
    for (TBRNConfigObjects* holder : holders) change(holder);
    if (catalogHooks != nullptr) catalogHooks->OnCatalogUpdateCommit(this);
  } catch (const std::exception&) {
    // A catalog that cannot be updated keeps its old names; the change of
    // the configuration goes on without it.
    if (catalogHooks != nullptr) {
      try {
        catalogHooks->OnCatalogUpdateCancel(this);
      } catch (const std::exception&) {
        // Nothing more can be undone here.
      }
    }
  }
}

void TBRNDatabaseContainer::ReplaceReferencedName(TBRNConfigObject* target,
                                                  const std::string& newName) {
  TBRNPrivilegedConfigObject::ReplaceReferencedName(target, newName);
  if (dynamic_cast<TBRNAuthorization*>(target) == nullptr) return;
  updateCatalog([&](TBRNConfigObjects* holder) { holder->ReplaceReferencedName(target, newName); });
}

void TBRNDatabaseContainer::RemoveReferenceTo(TBRNConfigObject* target) {
  TBRNPrivilegedConfigObject::RemoveReferenceTo(target);
  if (dynamic_cast<TBRNAuthorization*>(target) == nullptr) return;
  updateCatalog([&](TBRNConfigObjects* holder) { holder->RemoveReferenceTo(target); });
}

int64_t TBRNDatabaseContainer::GetMemorySize() const {
  int64_t size = TBRNPrivilegedConfigObject::GetMemorySize() +
                 int64_t(sizeof(TBRNDatabaseContainer)) -
                 int64_t(sizeof(TBRNPrivilegedConfigObject)) + StringMemSize(Path);
  if (Catalog != nullptr) size += Catalog->GetCatalogMemorySize();
  return size;
}

int32_t TBRNDatabaseContainer::GetObjectCount() const {
  int32_t count = TBRNPrivilegedConfigObject::GetObjectCount();
  if (Catalog != nullptr) count += Catalog->GetCatalogObjectCount();
  return count;
}

std::string TBRNDatabaseContainer::GetCreateSQL(bool, bool) {
  std::string text = "CREATE DATABASE " + QuoteString(Name, '"');
  text += InMemory ? "\r\nIN MEMORY" : "\r\nPATH " + QuoteString(Path, '\'');
  text += EncryptedCatalog ? "\r\nENCRYPTED CATALOG" : "\r\nUNENCRYPTED CATALOG";
  return text + descriptionAndAttributesSQL(Description, Attributes);
}

std::string TBRNDatabaseContainer::GetDropSQL(bool, bool) {
  return "DROP DATABASE " + QuoteString(Name, '"');
}

// ---------------------------------------------------------------------------
// TBRNDatabaseContainers

TBRNDatabaseContainers::TBRNDatabaseContainers(TBRNConfigRoot* config) : TBRNCollection(config) {}

TBRNDatabaseContainer* TBRNDatabaseContainers::GetDatabase(int32_t index) const {
  return static_cast<TBRNDatabaseContainer*>(GetItem(index));
}

TBRNConfigObject* TBRNDatabaseContainers::CreateItemOwnedBy(TBRNUser* owner) {
  return TBRNDatabaseContainer::CreateOwned(Config, owner);
}

std::string TBRNDatabaseContainers::GetObjectTypeName() const {
  return "database";
}

std::string TBRNDatabaseContainers::GetParentName() const {
  return "";
}

std::string TBRNDatabaseContainers::GetParentTypeName() const {
  return "";
}

std::string TBRNDatabaseContainers::GetSystemTableName() const {
  return "Databases";
}

}  // namespace brn
