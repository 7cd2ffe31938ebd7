#pragma once

#include <string>

#include "metadata/config/config_file.h"

namespace brn {

class TBRNConfig;
class TBRNFileManager;
class TBRNLockManager;
class TBRNLocalSessionManager;

// The configuration file of a session. The file is always encrypted with
// the session's encryption digest and signed with its signature digest; a
// file signed with the session's current or the default signature is
// accepted. Its name and that of its safety copy follow the session's file
// placement rule, asked at every use.
//
// Used by the owning session's thread only.
class TBRNConfigManager : public TBRNConfigObjectManager {
 public:
  // None of the arguments is owned; each outlives the manager. FileName and
  // BackupFileName are the bare names (without folder).
  TBRNConfigManager(TBRNConfig* config, TBRNLocalSessionManager* session,
                    TBRNFileManager* fileManager, TBRNLockManager* lockManager);

  std::string GetFileName() const override;
  std::string GetBackupFileName() const override;
  void GetSignatureDigest(TBRNDigest& digest) override;
  bool IsSignatureValid(const TBRNDigest& digest) override;
  bool IsEncrypted() override { return true; }
  void GetEncryptionDigest(TBRNDigest& digest) override;

  TBRNLocalSessionManager* Session;
};

}  // namespace brn
