#pragma once

#include <cstdint>
#include <string>

#include "foundation/locks/lock_manager.h"

namespace brn {

class TBRNDatabaseContainer;
class TBRNFileManager;
class TBRNLocalDatabaseManager;

// The lock file of one database ("BRNDatabase.BRNLck" in its folder): the
// session slots, the Shared and Exclusive database locks and the locks of
// the catalog and its objects. The owner is the database entry, so the
// entry receives the held-lock bits (and the read-only flag when the lock
// file is read-only). The slot number is kept here: the database manager
// sets it to the session's configuration slot, or leaves it to Open to
// take a slot of its own.
//
// Used by the thread of the session that owns the database manager.
class TBRNDatabaseLockManager : public TBRNLockManager {
 public:
  // None is owned; all outlive the lock manager.
  TBRNDatabaseLockManager(TBRNDatabaseContainer* owner, TBRNFileManager* fileManager,
                          TBRNLocalDatabaseManager* databaseManager);

  // The full name the database manager gives the lock file.
  std::string GetLockFileName() override;
  int32_t GetSessionSlot() override { return sessionSlot_; }
  void SetSessionSlot(int32_t slot) override { sessionSlot_ = slot; }

  TBRNLocalDatabaseManager* DatabaseManager;

 private:
  int32_t sessionSlot_ = 0;
};

}  // namespace brn
