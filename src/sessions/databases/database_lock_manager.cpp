#include "sessions/databases/database_lock_manager.h"

#include "metadata/config/databases.h"
#include "sessions/databases/local_database_manager.h"

namespace brn {

TBRNDatabaseLockManager::TBRNDatabaseLockManager(TBRNDatabaseContainer* owner,
                                                 TBRNFileManager* fileManager,
                                                 TBRNLocalDatabaseManager* databaseManager)
    : TBRNLockManager(owner, fileManager), DatabaseManager(databaseManager) {}

std::string TBRNDatabaseLockManager::GetLockFileName() {
  // While open, the name the file was opened under: a changed path setting
  // must not make the close release locks in another file.
  if (Opened) return LockFileName;
  SetLockFileName(DatabaseManager->GetLockFileName());
  return LockFileName;
}

}  // namespace brn
