#include "sessions/local/local_log_manager.h"

#include "metadata/core/lockable_config_object.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

TBRNLocalLogManager::TBRNLocalLogManager(TBRNLog* log, TBRNLocalSessionManager* session,
                                         TBRNLockManager* lockManager, TBRNFileManager* fileManager)
    : TBRNLogManager(log, lockManager, fileManager), Session(session) {}

std::string TBRNLocalLogManager::GetLogFileName() {
  return Session->GetConfigFileName(LogFileName);
}

}  // namespace brn
