#pragma once

#include <cstdint>
#include <string>

#include "foundation/locks/lock_manager.h"

namespace brn {

class TBRNConfig;
class TBRNFileManager;
class TBRNLocalSessionManager;

// The most session slots a configuration lock file can have: its slot bytes
// are 0 to 4095, and the configuration's own ranges start at byte 4096
// (Transaction) and 4097 (Read and Write). A slot beyond 4096 would lock one
// of those bytes and block every other session's configuration update.
inline constexpr int32_t kBRNMaxConfigSessionSlots = 4096;

// The configuration lock file of a session and the session's slot in it.
// The file's name is the session's name for ConfigName + LockExtension by
// the session's file placement rule, asked at every open (the session's ID
// and name are known only once the session opens).
//
// Used by the owning session's thread only.
class TBRNConfigLockManager : public TBRNLockManager {
 public:
  // None of the arguments is owned; each outlives the manager.
  TBRNConfigLockManager(TBRNConfig* config, TBRNLocalSessionManager* session,
                        TBRNFileManager* fileManager);

  std::string GetLockFileName() override;
  int32_t GetSessionSlot() override { return SessionSlot; }
  void SetSessionSlot(int32_t slot) override { SessionSlot = slot; }
  // Fixed at kBRNMaxConfigSessionSlots: a derived manager cannot raise it.
  int32_t GetMaxSessionSlots() final;

  TBRNLocalSessionManager* Session;
  // 0 while no slot is held.
  int32_t SessionSlot = 0;
};

}  // namespace brn
