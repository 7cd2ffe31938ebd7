#include "sessions/engine_settings.h"

#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "sessions/engine_manager.h"
#include "sessions/session_manager.h"

namespace brn {

namespace {

const char* const kModifyEngine = "MODIFY ENGINE";

bool sameSecret(const std::string& a, const std::string& b) {
  return TrimTrailingBlanks(a) == TrimTrailingBlanks(b);
}

}  // namespace

TBRNEngineManagerSettings::TBRNEngineManagerSettings(TBRNEngineManager* owner,
                                                     std::string tempTablesPath)
    : Owner(owner), TempTablesPath(std::move(tempTablesPath)) {
  SignatureDigest.DigestString(Signature);
  DefaultSignatureDigest.DigestString(kBRNDefaultSignature);
  EncryptionDigest.DigestString(EncryptionPassword);
}

void TBRNEngineManagerSettings::RaiseOpenError(const std::string& operation) const {
  throw EBRNException(408,
                      FormatText("The %s %s cannot be open when performing this operation (%s)",
                                 {"Brindle", "engine", operation}));
}

void TBRNEngineManagerSettings::CheckNotOpen(const std::string& operation) const {
  if (Owner != nullptr && Owner->Active) RaiseOpenError(operation);
}

void TBRNEngineManagerSettings::Assign(const TBRNEngineManagerSettings* other) {
  if (other == nullptr) return;
  CheckNotOpen(kModifyEngine);
  if (other == this) return;
  StandardNullBehavior = other->StandardNullBehavior;
  LargeFileSupport = other->LargeFileSupport;
  ExclusiveFileAccess = other->ExclusiveFileAccess;
  Signature = other->Signature;
  SignatureDigest.Assign(other->SignatureDigest);
  DefaultSignatureDigest.Assign(other->DefaultSignatureDigest);
  EncryptionPassword = other->EncryptionPassword;
  EncryptionDigest.Assign(other->EncryptionDigest);
  ConfigMemory = other->ConfigMemory;
  ConfigPrivate = other->ConfigPrivate;
  ConfigPath = other->ConfigPath;
  ConfigName = other->ConfigName;
  ConfigExtension = other->ConfigExtension;
  LockExtension = other->LockExtension;
  LogExtension = other->LogExtension;
  MaxLogFileSize = other->MaxLogFileSize;
  LogCategories = other->LogCategories;
  CatalogName = other->CatalogName;
  CatalogExtension = other->CatalogExtension;
  TableExtension = other->TableExtension;
  TableIndexExtension = other->TableIndexExtension;
  TableBlobExtension = other->TableBlobExtension;
  TablePublishExtension = other->TablePublishExtension;
  OldExtension = other->OldExtension;
  BackupExtension = other->BackupExtension;
  UpdateExtension = other->UpdateExtension;
  TempTablesPath = other->TempTablesPath;
  ShowUserPasswords = other->ShowUserPasswords;
  ShowDatabaseCatalogVersions = other->ShowDatabaseCatalogVersions;
}

bool TBRNEngineManagerSettings::IsValidSignature(const TBRNDigest& digest) const {
  return digest.Equals(SignatureDigest) || digest.Equals(DefaultSignatureDigest);
}

void TBRNEngineManagerSettings::setFlag(bool& field, bool value) {
  if (field == value) return;
  CheckNotOpen(kModifyEngine);
  field = value;
}

void TBRNEngineManagerSettings::setText(std::string& field, const std::string& value) {
  if (TextEqualsIgnoreCase(field, value)) return;
  CheckNotOpen(kModifyEngine);
  field = value;
}

void TBRNEngineManagerSettings::SetStandardNullBehavior(bool value) {
  setFlag(StandardNullBehavior, value);
}
void TBRNEngineManagerSettings::SetLargeFileSupport(bool value) {
  setFlag(LargeFileSupport, value);
}
void TBRNEngineManagerSettings::SetExclusiveFileAccess(bool value) {
  setFlag(ExclusiveFileAccess, value);
}

void TBRNEngineManagerSettings::SetSignature(const std::string& value) {
  if (sameSecret(Signature, value)) return;
  CheckNotOpen(kModifyEngine);
  Signature = value;
  SignatureDigest.DigestString(Signature);
}

void TBRNEngineManagerSettings::SetEncryptionPassword(const std::string& value) {
  if (sameSecret(EncryptionPassword, value)) return;
  CheckNotOpen(kModifyEngine);
  EncryptionPassword = value;
  EncryptionDigest.DigestString(EncryptionPassword);
}

void TBRNEngineManagerSettings::SetConfigMemory(bool value) {
  setFlag(ConfigMemory, value);
}
void TBRNEngineManagerSettings::SetConfigPrivate(bool value) {
  setFlag(ConfigPrivate, value);
}
void TBRNEngineManagerSettings::SetConfigPath(const std::string& value) {
  setText(ConfigPath, value);
}
void TBRNEngineManagerSettings::SetConfigName(const std::string& value) {
  setText(ConfigName, value);
}
void TBRNEngineManagerSettings::SetConfigExtension(const std::string& value) {
  setText(ConfigExtension, value);
}
void TBRNEngineManagerSettings::SetLockExtension(const std::string& value) {
  setText(LockExtension, value);
}
void TBRNEngineManagerSettings::SetLogExtension(const std::string& value) {
  setText(LogExtension, value);
}

void TBRNEngineManagerSettings::SetMaxLogFileSize(int32_t value) {
  if (value < kBRNMinLogFileSize) value = kBRNMinLogFileSize;
  if (MaxLogFileSize == value) return;
  CheckNotOpen(kModifyEngine);
  MaxLogFileSize = value;
}

void TBRNEngineManagerSettings::SetLogCategories(uint32_t value) {
  if (LogCategories == value) return;
  CheckNotOpen(kModifyEngine);
  LogCategories = value;
}

void TBRNEngineManagerSettings::SetCatalogName(const std::string& value) {
  setText(CatalogName, value);
}
void TBRNEngineManagerSettings::SetCatalogExtension(const std::string& value) {
  setText(CatalogExtension, value);
}
void TBRNEngineManagerSettings::SetTableExtension(const std::string& value) {
  setText(TableExtension, value);
}
void TBRNEngineManagerSettings::SetTableIndexExtension(const std::string& value) {
  setText(TableIndexExtension, value);
}
void TBRNEngineManagerSettings::SetTableBlobExtension(const std::string& value) {
  setText(TableBlobExtension, value);
}
void TBRNEngineManagerSettings::SetTablePublishExtension(const std::string& value) {
  setText(TablePublishExtension, value);
}
void TBRNEngineManagerSettings::SetBackupExtension(const std::string& value) {
  setText(BackupExtension, value);
}
void TBRNEngineManagerSettings::SetUpdateExtension(const std::string& value) {
  setText(UpdateExtension, value);
}
void TBRNEngineManagerSettings::SetTempTablesPath(const std::string& value) {
  setText(TempTablesPath, value);
}
void TBRNEngineManagerSettings::SetShowUserPasswords(bool value) {
  setFlag(ShowUserPasswords, value);
}
void TBRNEngineManagerSettings::SetShowDatabaseCatalogVersions(bool value) {
  setFlag(ShowDatabaseCatalogVersions, value);
}

const std::string& TBRNEngineManagerSettings::GetTableFileExtension(TBRNTableFileKind kind) const {
  switch (kind) {
    case TBRNTableFileKind::Rows:
      return TableExtension;
    case TBRNTableFileKind::Indexes:
      return TableIndexExtension;
    case TBRNTableFileKind::Blobs:
      return TableBlobExtension;
    case TBRNTableFileKind::PublishedUpdates:
      return TablePublishExtension;
  }
  throw std::invalid_argument("Unknown table file kind");
}

TBRNLocalSessionEngineManagerSettings::TBRNLocalSessionEngineManagerSettings(
    TBRNEngineManager* owner, TBRNSessionManager* session, std::string tempTablesPath)
    : TBRNEngineManagerSettings(owner, std::move(tempTablesPath)), Session(session) {}

void TBRNLocalSessionEngineManagerSettings::CheckNotOpen(const std::string& operation) const {
  if (Session != nullptr && Session->Opened) RaiseOpenError(operation);
}

}  // namespace brn
