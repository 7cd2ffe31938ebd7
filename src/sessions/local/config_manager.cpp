#include "sessions/local/config_manager.h"

#include "metadata/config/config.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

TBRNConfigManager::TBRNConfigManager(TBRNConfig* config, TBRNLocalSessionManager* session,
                                     TBRNFileManager* fileManager, TBRNLockManager* lockManager)
    : TBRNConfigObjectManager(config, lockManager, fileManager), Session(session) {}

std::string TBRNConfigManager::GetFileName() const {
  return Session->GetConfigFileName(FileName);
}

std::string TBRNConfigManager::GetBackupFileName() const {
  return Session->GetConfigFileName(BackupFileName);
}

void TBRNConfigManager::GetSignatureDigest(TBRNDigest& digest) {
  digest.Assign(Session->SessionSettings->GetSignatureDigest());
}

bool TBRNConfigManager::IsSignatureValid(const TBRNDigest& digest) {
  return Session->SessionSettings->IsValidSignature(digest);
}

void TBRNConfigManager::GetEncryptionDigest(TBRNDigest& digest) {
  digest.Assign(Session->SessionSettings->GetEncryptionDigest());
}

}  // namespace brn
