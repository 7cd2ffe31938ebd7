#pragma once

#include <string>

#include "foundation/locks/log_manager.h"

namespace brn {

class TBRNFileManager;
class TBRNLockManager;
class TBRNLocalSessionManager;
class TBRNLog;

// The log file of a session. LogFileName is the bare name; the full name
// follows the session's file placement rule, asked at every use.
//
// Used by the owning session's thread only.
class TBRNLocalLogManager : public TBRNLogManager {
 public:
  // None of the arguments is owned; each outlives the manager.
  TBRNLocalLogManager(TBRNLog* log, TBRNLocalSessionManager* session, TBRNLockManager* lockManager,
                      TBRNFileManager* fileManager);

  std::string GetLogFileName() override;

  TBRNLocalSessionManager* Session;
};

}  // namespace brn
