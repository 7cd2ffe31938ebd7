#include "metadata/config/stores.h"

#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/locks/lockable.h"
#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

// Select, Create, Alter, Drop.
constexpr int32_t kStoreFullPrivileges =
    (1 << pkSelect) | (1 << pkCreate) | (1 << pkAlter) | (1 << pkDrop);
constexpr int32_t kStoreDefaultPrivileges = 1 << pkSelect;

// Lock number 0 is a store that was never given one; any other number must
// give a range inside the lock file.
bool isValidLockNumber(int32_t lockNumber) {
  if (lockNumber == 0) return true;
  try {
    NumberedLockOffset(kStoreLockBase, lockNumber);
    return true;
  } catch (const std::out_of_range&) {
    return false;
  }
}

// A setter body for text compared ignoring case.
template <typename Object>
void setText(Object* object, std::string& field, const std::string& value) {
  if (TextEqualsIgnoreCase(field, value)) return;
  field = value;
  object->SetModified(true);
}

template <typename Object, typename T>
void setValue(Object* object, T& field, T value) {
  if (field == value) return;
  field = value;
  object->SetModified(true);
}

}  // namespace

std::string StoreTypeName(int32_t storeType) {
  switch (storeType) {
    case kLocalStore:
      return "Local";
    case kRemoteStore:
      return "Remote";
    default:
      return "";
  }
}

// ---------------------------------------------------------------------------
// TBRNStore

TBRNStore::TBRNStore(TBRNConfigRoot* config) : TBRNPrivilegedConfigObject(config) {}

TBRNStore::TBRNStore(TBRNConfigRoot* config, TBRNUser* owner)
    : TBRNPrivilegedConfigObject(config, owner),
      Address(kDefaultStoreAddress),
      Port(kDefaultStorePort),
      Signature(kDefaultStoreSignature),
      EncryptionPassword(kDefaultStoreEncryptionPassword),
      Compression(kDefaultStoreCompression),
      Timeout(kDefaultStoreTimeout),
      Ping(true),
      PingInterval(kDefaultStorePingInterval) {}

TBRNStore* TBRNStore::CreateOwned(TBRNConfigRoot* config, TBRNUser* owner) {
  return new TBRNStore(config, owner);
}

void TBRNStore::SetStoreType(int32_t value) {
  setValue(this, StoreType, value);
}
void TBRNStore::SetPath(const std::string& value) {
  if (value == Path) return;
  Path = value;
  SetModified(true);
}
void TBRNStore::SetReservedFlag(bool value) {
  setValue(this, ReservedFlag, value);
}
void TBRNStore::SetAddress(const std::string& value) {
  setText(this, Address, value);
}
void TBRNStore::SetHost(const std::string& value) {
  setText(this, Host, value);
}
void TBRNStore::SetPort(int32_t value) {
  setValue(this, Port, value);
}
void TBRNStore::SetService(const std::string& value) {
  setText(this, Service, value);
}
void TBRNStore::SetSignature(const std::string& value) {
  setText(this, Signature, value);
}
void TBRNStore::SetEncrypted(bool value) {
  setValue(this, Encrypted, value);
}
void TBRNStore::SetEncryptionPassword(const std::string& value) {
  setText(this, EncryptionPassword, value);
}
void TBRNStore::SetCompression(int32_t value) {
  setValue(this, Compression, value);
}
void TBRNStore::SetTimeout(int32_t value) {
  setValue(this, Timeout, value);
}
void TBRNStore::SetPing(bool value) {
  setValue(this, Ping, value);
}
void TBRNStore::SetPingInterval(int32_t value) {
  setValue(this, PingInterval, value);
}
void TBRNStore::SetUserName(const std::string& value) {
  setText(this, UserName, value);
}
void TBRNStore::SetPassword(const std::string& value) {
  setText(this, Password, value);
}
void TBRNStore::SetRemoteStore(const std::string& value) {
  setText(this, RemoteStore, value);
}
void TBRNStore::SetLockNumber(int32_t value) {
  setValue(this, LockNumber, value);
}

void TBRNStore::GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) {
  grantSet(grantor, grantee, kStoreFullPrivileges);
}

void TBRNStore::GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) {
  grantSet(grantor, grantee, kStoreDefaultPrivileges);
}

std::string TBRNStore::GetObjectTypeName() const {
  return "store";
}

int32_t TBRNStore::GetLockOffset(uint8_t lockType) const {
  if (lockType != ltShared && lockType != ltExclusive) return 0;
  return NumberedLockOffset(kStoreLockBase, LockNumber);
}

int32_t TBRNStore::GetLockLength(uint8_t lockType) const {
  return lockType == ltShared || lockType == ltExclusive ? kLockRangeLength : 0;
}

void TBRNStore::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNPrivilegedConfigObject::Assign(source, copyState);
  auto* store = dynamic_cast<const TBRNStore*>(source);
  if (store == nullptr || store == this) return;
  StoreType = store->StoreType;
  Path = store->Path;
  ReservedFlag = store->ReservedFlag;
  Address = store->Address;
  Host = store->Host;
  Port = store->Port;
  Service = store->Service;
  Signature = store->Signature;
  Encrypted = store->Encrypted;
  EncryptionPassword = store->EncryptionPassword;
  Compression = store->Compression;
  Timeout = store->Timeout;
  Ping = store->Ping;
  PingInterval = store->PingInterval;
  UserName = store->UserName;
  Password = store->Password;
  RemoteStore = store->RemoteStore;
  LockNumber = store->LockNumber;
}

bool TBRNStore::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (!TBRNPrivilegedConfigObject::IsEqual(other, compareIDs)) return false;
  auto* store = dynamic_cast<const TBRNStore*>(other);
  return store != nullptr && store->StoreType == StoreType && store->Path == Path &&
         store->ReservedFlag == ReservedFlag && TextEqualsIgnoreCase(store->Address, Address) &&
         TextEqualsIgnoreCase(store->Host, Host) && store->Port == Port &&
         TextEqualsIgnoreCase(store->Service, Service) &&
         TextEqualsIgnoreCase(store->Signature, Signature) && store->Encrypted == Encrypted &&
         TextEqualsIgnoreCase(store->EncryptionPassword, EncryptionPassword) &&
         store->Compression == Compression && store->Timeout == Timeout && store->Ping == Ping &&
         store->PingInterval == PingInterval && TextEqualsIgnoreCase(store->UserName, UserName) &&
         TextEqualsIgnoreCase(store->Password, Password) &&
         TextEqualsIgnoreCase(store->RemoteStore, RemoteStore) && store->LockNumber == LockNumber;
}

void TBRNStore::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNPrivilegedConfigObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(StoreType);
  stream.WriteString(Path);
  stream.WriteBoolean(ReservedFlag);
  stream.WriteString(Address);
  stream.WriteString(Host);
  stream.WriteInteger(Port);
  stream.WriteString(Service);
  stream.WriteString(Signature);
  stream.WriteBoolean(Encrypted);
  stream.WriteString(EncryptionPassword);
  stream.WriteInteger(Compression);
  stream.WriteInteger(Timeout);
  stream.WriteBoolean(Ping);
  stream.WriteInteger(PingInterval);
  stream.WriteString(UserName);
  stream.WriteString(Password);
  stream.WriteString(RemoteStore);
  stream.WriteInteger(LockNumber);
}

void TBRNStore::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNPrivilegedConfigObject::LoadFromStream(stream);
  StoreType = readStoredInteger(stream);
  Path = readStoredString(stream);
  ReservedFlag = readStoredBoolean(stream);
  Address = readStoredString(stream);
  Host = readStoredString(stream);
  Port = readStoredInteger(stream);
  Service = readStoredString(stream);
  Signature = readStoredString(stream);
  Encrypted = readStoredBoolean(stream);
  EncryptionPassword = readStoredString(stream);
  Compression = readStoredInteger(stream);
  Timeout = readStoredInteger(stream);
  Ping = readStoredBoolean(stream);
  PingInterval = readStoredInteger(stream);
  UserName = readStoredString(stream);
  Password = readStoredString(stream);
  RemoteStore = readStoredString(stream);
  int32_t lockNumber = readStoredInteger(stream);
  if (!isValidLockNumber(lockNumber)) {
    RaiseMetadataError(FormatText("Invalid lock number %s", {IntegerToString(lockNumber)}));
  }
  LockNumber = lockNumber;
}

int64_t TBRNStore::GetMemorySize() const {
  return TBRNPrivilegedConfigObject::GetMemorySize() + int64_t(sizeof(TBRNStore)) -
         int64_t(sizeof(TBRNPrivilegedConfigObject)) + StringMemSize(Path);
}

std::string TBRNStore::GetCreateSQL(bool, bool) {
  std::string text = "CREATE STORE " + QuoteString(Name, '"') + " AS";
  if (StoreType == kLocalStore) {
    text += "\r\nLOCAL PATH " + QuoteString(Path, '\'');
  } else if (StoreType == kRemoteStore) {
    text += !Address.empty() ? "\r\nREMOTE ADDRESS " + QuoteString(Address, '\'')
                             : "\r\nREMOTE HOST " + QuoteString(Host, '\'');
    text += Port != 0 ? "\r\nPORT " + IntegerToString(Port)
                      : "\r\nSERVICE " + QuoteString(Service, '\'');
    // The remote user is a name in the statement, like the remote store.
    text += "\r\nUSER " + QuoteString(UserName, '"');
    text += "\r\nPASSWORD " + QuoteString(Password, '\'');
    text += "\r\nSTORE " + QuoteString(RemoteStore, '"');
    if (!Signature.empty() && !TextEqualsIgnoreCase(Signature, kDefaultStoreSignature)) {
      text += "\r\nSIGNATURE " + QuoteString(Signature, '\'');
    }
    // Without the clause the statement makes an unencrypted store, so the
    // clause follows the flag, whatever the password.
    if (Encrypted) text += "\r\nENCRYPTED WITH PASSWORD " + QuoteString(EncryptionPassword, '\'');
    if (Compression != kDefaultStoreCompression) {
      text += "\r\nCOMPRESSION " + IntegerToString(Compression);
    }
    if (Timeout != kDefaultStoreTimeout) text += "\r\nTIMEOUT " + IntegerToString(Timeout);
    if (Ping && PingInterval != kDefaultStorePingInterval) {
      text += "\r\nPING " + IntegerToString(PingInterval);
    }
  }
  std::string description = TrimTrailingBlanks(Description);
  if (!description.empty()) text += "\r\nDESCRIPTION " + QuoteString(description, '\'');
  std::string attributes = TrimTrailingBlanks(Attributes);
  if (!attributes.empty()) text += "\r\nATTRIBUTES " + QuoteString(attributes, '\'');
  return text;
}

std::string TBRNStore::GetDropSQL(bool, bool) {
  return "DROP STORE " + QuoteString(Name, '"');
}

// ---------------------------------------------------------------------------
// Collections

TBRNStores::TBRNStores(TBRNConfigRoot* config) : TBRNCollection(config) {}

TBRNStore* TBRNStores::GetStore(int32_t index) const {
  return static_cast<TBRNStore*>(GetItem(index));
}

TBRNConfigObject* TBRNStores::CreateItemOwnedBy(TBRNUser* owner) {
  return TBRNStore::CreateOwned(Config, owner);
}

std::string TBRNStores::GetObjectTypeName() const {
  return "store";
}

std::string TBRNStores::GetSystemTableName() const {
  return "Stores";
}

std::string TBRNStoreFiles::GetObjectTypeName() const {
  return "file";
}

std::string TBRNStoreFiles::GetSystemTableName() const {
  return "Files";
}

}  // namespace brn
