#pragma once

#include <string>

#include "metadata/config/config_file.h"

namespace brn {

class TBRNCatalog;
class TBRNDatabaseLockManager;
class TBRNFileManager;
class TBRNLocalDatabaseManager;

// The catalog file of one database ("BRNDatabase.BRNCat"), with its safety
// copy (the same name + ".Old", always in the database folder). The file
// names come from the database manager; the signature and encryption
// digests from the session's engine settings; whether the file is encrypted
// from the database entry.
//
// Used by the thread of the session that owns the database manager.
class TBRNCatalogManager : public TBRNConfigObjectManager {
 public:
  // None is owned; all outlive the catalog manager.
  TBRNCatalogManager(TBRNCatalog* catalog, TBRNDatabaseLockManager* lockManager,
                     TBRNFileManager* fileManager, TBRNLocalDatabaseManager* databaseManager);

  std::string GetFileName() const override;
  std::string GetBackupFileName() const override;
  // The digest of the session's engine signature.
  void GetSignatureDigest(TBRNDigest& digest) override;
  // The digest matches the configured or the default signature.
  bool IsSignatureValid(const TBRNDigest& digest) override;
  // The database entry's encrypted-catalog flag.
  bool IsEncrypted() override;
  // The digest of the session's engine encryption password.
  void GetEncryptionDigest(TBRNDigest& digest) override;

  TBRNLocalDatabaseManager* DatabaseManager;
  TBRNCatalog* Catalog;
};

}  // namespace brn
