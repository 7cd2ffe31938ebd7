#include "sessions/databases/catalog_manager.h"

#include "metadata/catalog/catalog.h"
#include "metadata/config/databases.h"
#include "sessions/databases/database_lock_manager.h"
#include "sessions/databases/local_database_manager.h"

namespace brn {

TBRNCatalogManager::TBRNCatalogManager(TBRNCatalog* catalog, TBRNDatabaseLockManager* lockManager,
                                       TBRNFileManager* fileManager,
                                       TBRNLocalDatabaseManager* databaseManager)
    : TBRNConfigObjectManager(catalog, lockManager, fileManager),
      DatabaseManager(databaseManager),
      Catalog(catalog) {}

std::string TBRNCatalogManager::GetFileName() const {
  return DatabaseManager->GetCatalogFileName();
}

std::string TBRNCatalogManager::GetBackupFileName() const {
  return DatabaseManager->GetCatalogBackupFileName();
}

void TBRNCatalogManager::GetSignatureDigest(TBRNDigest& digest) {
  digest.Assign(DatabaseManager->GetSignatureDigest());
}

bool TBRNCatalogManager::IsSignatureValid(const TBRNDigest& digest) {
  return DatabaseManager->IsValidSignature(digest);
}

bool TBRNCatalogManager::IsEncrypted() {
  return DatabaseManager->Database->EncryptedCatalog;
}

void TBRNCatalogManager::GetEncryptionDigest(TBRNDigest& digest) {
  digest.Assign(DatabaseManager->GetEncryptionDigest());
}

}  // namespace brn
