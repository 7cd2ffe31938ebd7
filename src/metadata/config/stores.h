#pragma once

#include <cstdint>
#include <string>

#include "metadata/config/privileges.h"

namespace brn {

// Stores may number at most this many.
inline constexpr int32_t kMaxStoreCount = 4096;

// Store types.
inline constexpr int32_t kLocalStore = 1;
inline constexpr int32_t kRemoteStore = 2;

// The engine's default signature and encryption password: a remote store's
// settings equal to them are left out of its CREATE text.
inline constexpr const char* kDefaultStoreSignature = "brn_watermark";
inline constexpr const char* kDefaultStoreEncryptionPassword = "quillharbor";

// Defaults of a new store's remote settings.
inline constexpr const char* kDefaultStoreAddress = "127.0.0.1";
inline constexpr int32_t kDefaultStorePort = 12010;
inline constexpr int32_t kDefaultStoreCompression = 6;
inline constexpr int32_t kDefaultStoreTimeout = 180;
inline constexpr int32_t kDefaultStorePingInterval = 60;
// The shortest ping interval a store may ask for, in seconds.
inline constexpr int32_t kMinStorePingInterval = 30;

// "Local", "Remote"; empty for any other type.
std::string StoreTypeName(int32_t storeType);

// A named place for backup and update files: a local folder, or a store of
// another server reached over the client/server protocol.
//
// Its Shared and Exclusive lock range starts at LockNumber x 4096 + 33562626
// in the configuration lock file and is 4096 bytes long; the root gives every
// new store the smallest free lock number. Asking a store with lock number 0
// for its range throws std::out_of_range.
//
// Stored record, after the privileged part, with no version gate (the
// configuration stores stores from format 2.00 on): StoreType, Path,
// ReservedFlag, Address, Host, Port, Service, Signature, Encrypted,
// EncryptionPassword, Compression, Timeout, Ping, PingInterval, UserName,
// Password, RemoteStore, LockNumber (int32, strings with an int32 length,
// Booleans one byte). Passwords are stored in plain text; the configuration
// file as a whole is encrypted.
class TBRNStore : public TBRNPrivilegedConfigObject {
 public:
  // Owned by the System user, every field empty or 0: a store about to be
  // read from its record.
  explicit TBRNStore(TBRNConfigRoot* config);
  // Owned by owner, with the defaults of a new store.
  TBRNStore(TBRNConfigRoot* config, TBRNUser* owner);
  static TBRNStore* CreateOwned(TBRNConfigRoot* config, TBRNUser* owner);

  int32_t StoreType = 0;  // 1 local, 2 remote
  std::string Path;
  bool ReservedFlag = false;  // stored and copied only
  std::string Address;
  std::string Host;
  int32_t Port = 0;
  std::string Service;
  std::string Signature;
  bool Encrypted = false;
  std::string EncryptionPassword;
  int32_t Compression = 0;
  int32_t Timeout = 0;
  bool Ping = false;
  int32_t PingInterval = 0;
  std::string UserName;
  std::string Password;
  std::string RemoteStore;
  int32_t LockNumber = 0;

  // Setters assign and mark modified only when the value differs; texts are
  // compared ignoring case, except the path.
  void SetStoreType(int32_t value);
  void SetPath(const std::string& value);
  void SetReservedFlag(bool value);
  void SetAddress(const std::string& value);
  void SetHost(const std::string& value);
  void SetPort(int32_t value);
  void SetService(const std::string& value);
  void SetSignature(const std::string& value);
  void SetEncrypted(bool value);
  void SetEncryptionPassword(const std::string& value);
  void SetCompression(int32_t value);
  void SetTimeout(int32_t value);
  void SetPing(bool value);
  void SetPingInterval(int32_t value);
  void SetUserName(const std::string& value);
  void SetPassword(const std::string& value);
  void SetRemoteStore(const std::string& value);
  void SetLockNumber(int32_t value);

  // Select, Create, Alter, Drop; default Select.
  void GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) override;
  void GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) override;

  std::string GetObjectTypeName() const override;
  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  // A lock number whose range does not fit in the lock file is refused with
  // the metadata error.
  void LoadFromStream(TBRNMemoryStream& stream) override;
  int64_t GetMemorySize() const override;
  // The CREATE text names the remote settings that differ from their
  // defaults; ENCRYPTED WITH PASSWORD appears exactly when the store is
  // encrypted, so that the text makes the same store again.
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;
};

// The stores of the configuration (at most 4096; system table "Stores").
class TBRNStores : public TBRNCollection<TBRNStore, TBRNPrivilegedConfigObjects, kMaxStoreCount> {
 public:
  explicit TBRNStores(TBRNConfigRoot* config);

  TBRNStore* GetStore(int32_t index) const;

  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override;
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
};

// Names and defines the "Files" system table that lists the files of a
// store.
class TBRNStoreFiles : public TBRNPrivilegedConfigObjects {
 public:
  using TBRNPrivilegedConfigObjects::TBRNPrivilegedConfigObjects;

  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
};

}  // namespace brn
