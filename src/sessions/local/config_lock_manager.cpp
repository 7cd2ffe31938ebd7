#include "sessions/local/config_lock_manager.h"

#include "metadata/config/config.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

TBRNConfigLockManager::TBRNConfigLockManager(TBRNConfig* config, TBRNLocalSessionManager* session,
                                             TBRNFileManager* fileManager)
    : TBRNLockManager(config, fileManager), Session(session) {}

std::string TBRNConfigLockManager::GetLockFileName() {
  return Session->GetConfigFileName(LockFileName);
}

int32_t TBRNConfigLockManager::GetMaxSessionSlots() {
  return kBRNMaxConfigSessionSlots;
}

}  // namespace brn
