#pragma once

#include <cstdint>
#include <string>

#include "foundation/core/digest.h"
#include "storage/files/table_file_host.h"

namespace brn {

class TBRNEngineManager;
class TBRNSessionManager;

// Bits of the log category set.
inline constexpr int32_t kBRNLogInformation = 0;
inline constexpr int32_t kBRNLogWarning = 1;
inline constexpr int32_t kBRNLogError = 2;

inline bool IsInSet(uint32_t set, int32_t bit) {
  return (set >> bit) & 1u;
}
inline void IncludeInSet(uint32_t& set, int32_t bit) {
  set |= 1u << bit;
}

inline constexpr const char* kBRNDefaultSignature = "brn_watermark";
inline constexpr const char* kBRNDefaultEncryptionPassword = "quillharbor";
inline constexpr int32_t kBRNMinLogFileSize = 262144;

// The engine's configuration record. No setting may change while its owner
// is open: a setter given a different value, and Assign always, raise 408
// then and leave the settings as they were. Setters compare with the current
// value first (strings without regard to case, the signature and password
// exactly but ignoring trailing blanks) and do nothing when it is equal.
//
// Threads: the owner reads the settings from any thread while it is active,
// when nothing may change them; changes are made while it is inactive, by
// one thread, before sessions start.
class TBRNEngineManagerSettings {
 public:
  // Owner gates changes by its Active flag; tempTablesPath is the default
  // folder of temporary tables (the OS temporary folder).
  TBRNEngineManagerSettings(TBRNEngineManager* owner, std::string tempTablesPath);
  virtual ~TBRNEngineManagerSettings() = default;
  TBRNEngineManagerSettings(const TBRNEngineManagerSettings&) = delete;
  TBRNEngineManagerSettings& operator=(const TBRNEngineManagerSettings&) = delete;

  // Raises 408 naming the operation.
  [[noreturn]] virtual void RaiseOpenError(const std::string& operation) const;
  // Raises 408 while the owner is open.
  virtual void CheckNotOpen(const std::string& operation) const;

  // Copies every setting of other, digests included; nothing for nullptr.
  void Assign(const TBRNEngineManagerSettings* other);
  // The digest of the current or of the default signature.
  bool IsValidSignature(const TBRNDigest& digest) const;

  TBRNEngineManager* GetOwner() const { return Owner; }

  bool GetStandardNullBehavior() const { return StandardNullBehavior; }
  void SetStandardNullBehavior(bool value);
  bool GetLargeFileSupport() const { return LargeFileSupport; }
  void SetLargeFileSupport(bool value);
  bool GetExclusiveFileAccess() const { return ExclusiveFileAccess; }
  void SetExclusiveFileAccess(bool value);
  const std::string& GetSignature() const { return Signature; }
  void SetSignature(const std::string& value);
  const TBRNDigest& GetSignatureDigest() const { return SignatureDigest; }
  const TBRNDigest& GetDefaultSignatureDigest() const { return DefaultSignatureDigest; }
  const std::string& GetEncryptionPassword() const { return EncryptionPassword; }
  void SetEncryptionPassword(const std::string& value);
  const TBRNDigest& GetEncryptionDigest() const { return EncryptionDigest; }
  bool GetConfigMemory() const { return ConfigMemory; }
  void SetConfigMemory(bool value);
  bool GetConfigPrivate() const { return ConfigPrivate; }
  void SetConfigPrivate(bool value);
  const std::string& GetConfigPath() const { return ConfigPath; }
  void SetConfigPath(const std::string& value);
  const std::string& GetConfigName() const { return ConfigName; }
  void SetConfigName(const std::string& value);
  const std::string& GetConfigExtension() const { return ConfigExtension; }
  void SetConfigExtension(const std::string& value);
  const std::string& GetLockExtension() const { return LockExtension; }
  void SetLockExtension(const std::string& value);
  const std::string& GetLogExtension() const { return LogExtension; }
  void SetLogExtension(const std::string& value);
  int32_t GetMaxLogFileSize() const { return MaxLogFileSize; }
  // Values below 262144 are stored as 262144.
  void SetMaxLogFileSize(int32_t value);
  uint32_t GetLogCategories() const { return LogCategories; }
  void SetLogCategories(uint32_t value);
  const std::string& GetCatalogName() const { return CatalogName; }
  void SetCatalogName(const std::string& value);
  const std::string& GetCatalogExtension() const { return CatalogExtension; }
  void SetCatalogExtension(const std::string& value);
  const std::string& GetTableExtension() const { return TableExtension; }
  void SetTableExtension(const std::string& value);
  const std::string& GetTableIndexExtension() const { return TableIndexExtension; }
  void SetTableIndexExtension(const std::string& value);
  const std::string& GetTableBlobExtension() const { return TableBlobExtension; }
  void SetTableBlobExtension(const std::string& value);
  const std::string& GetTablePublishExtension() const { return TablePublishExtension; }
  void SetTablePublishExtension(const std::string& value);
  const std::string& GetOldExtension() const { return OldExtension; }
  const std::string& GetBackupExtension() const { return BackupExtension; }
  void SetBackupExtension(const std::string& value);
  const std::string& GetUpdateExtension() const { return UpdateExtension; }
  void SetUpdateExtension(const std::string& value);
  const std::string& GetTempTablesPath() const { return TempTablesPath; }
  void SetTempTablesPath(const std::string& value);
  bool GetShowUserPasswords() const { return ShowUserPasswords; }
  void SetShowUserPasswords(bool value);
  bool GetShowDatabaseCatalogVersions() const { return ShowDatabaseCatalogVersions; }
  void SetShowDatabaseCatalogVersions(bool value);

  // The extension setting of one kind of table file.
  const std::string& GetTableFileExtension(TBRNTableFileKind kind) const;

 private:
  void setFlag(bool& field, bool value);
  void setText(std::string& field, const std::string& value);

  TBRNEngineManager* Owner;
  bool StandardNullBehavior = true;
  bool LargeFileSupport = false;
  bool ExclusiveFileAccess = false;
  std::string Signature = kBRNDefaultSignature;
  TBRNDigest SignatureDigest;
  TBRNDigest DefaultSignatureDigest;
  std::string EncryptionPassword = kBRNDefaultEncryptionPassword;
  TBRNDigest EncryptionDigest;
  bool ConfigMemory = false;
  bool ConfigPrivate = false;
  std::string ConfigPath;
  std::string ConfigName = "BRNConfig";
  std::string ConfigExtension = ".BRNCfg";
  std::string LockExtension = ".BRNLck";
  std::string LogExtension = ".BRNLog";
  int32_t MaxLogFileSize = 1048576;
  uint32_t LogCategories = 0b111;
  std::string CatalogName = "BRNDatabase";
  std::string CatalogExtension = ".BRNCat";
  std::string TableExtension = ".BRNTbl";
  std::string TableIndexExtension = ".BRNIdx";
  std::string TableBlobExtension = ".BRNBlb";
  std::string TablePublishExtension = ".BRNPbl";
  std::string OldExtension = ".Old";
  std::string BackupExtension = ".BRNBkp";
  std::string UpdateExtension = ".BRNUpd";
  std::string TempTablesPath;
  bool ShowUserPasswords = true;
  bool ShowDatabaseCatalogVersions = true;
};

// A session's own copy of the engine settings, taken when the session is
// created; it may change only while the session is closed.
class TBRNLocalSessionEngineManagerSettings : public TBRNEngineManagerSettings {
 public:
  TBRNLocalSessionEngineManagerSettings(TBRNEngineManager* owner, TBRNSessionManager* session,
                                        std::string tempTablesPath);

  void CheckNotOpen(const std::string& operation) const override;

  TBRNSessionManager* Session;
};

}  // namespace brn
