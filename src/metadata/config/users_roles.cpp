#include "metadata/config/users_roles.h"

#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "metadata/config/authorization_root.h"
#include "metadata/core/object_selections.h"

namespace brn {

namespace {

void rebuildAuthorizationsOf(const TBRNConfigObject* object) {
  if (TBRNAuthorizationRoot* root = AuthorizationRootOf(object)) root->RebuildAuthorizations();
}

// true when a lock number gives a range inside the lock file.
bool isValidLockNumber(int32_t lockNumber) {
  try {
    NumberedLockOffset(kUserLockBase, lockNumber);
    return true;
  } catch (const std::out_of_range&) {
    return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNUser

TBRNUser::TBRNUser(TBRNConfigRoot* config)
    : TBRNAuthorization(config), Roles(std::make_unique<TBRNUserRoles>(config)) {
  Roles->Owner = this;
}

TBRNUser::~TBRNUser() = default;

void TBRNUser::SetPassword(const std::string& text) {
  if (text.empty()) RaiseMetadataError("The user password cannot be blank");
  if (text == Password) return;
  Password = text;
  PasswordChanged = CurrentTimestamp(false);
  SetModified(true);
}

void TBRNUser::SetLockNumber(int32_t lockNumber) {
  if (lockNumber == LockNumber) return;
  LockNumber = lockNumber;
  SetModified(true);
}

bool TBRNUser::CheckPassword(const std::string& text) const {
  TBRNUser* system = SystemUserOf(this);
  bool isSystem =
      system != nullptr ? system == this : System && TextEqualsIgnoreCase(Name, kSystemUserName);
  return !isSystem && !PasswordLoginRefused && TextEqualsExact(text, Password);
}

bool TBRNUser::HasRole(const TBRNRole* role) const {
  if (role == nullptr) return false;
  std::string name = role->GetName();
  for (int32_t i = 0; i < Roles->Count(); ++i) {
    TBRNRole* held = Roles->GetUserRole(i)->FindRole();
    if (held != nullptr && TextEqualsIgnoreCase(held->GetName(), name)) return true;
  }
  return false;
}

void TBRNUser::GrantRole(TBRNUser* grantor, TBRNRole* role) {
  if (role == nullptr) throw std::invalid_argument("Grant of no role");
  if (HasRole(role)) return;
  auto* userRole = new TBRNUserRole(Config);
  try {
    userRole->SetRole(role);
    userRole->SetGrantor(grantor != nullptr ? grantor : SystemUserOf(this));
    if (userRole->GrantorName.empty()) userRole->GrantorName = SystemUserNameOf(this);
    Roles->AddObject(userRole);
  } catch (...) {
    DisposeAndNil(userRole);
    throw;
  }
  // Privilege sets cached on objects counted the user's roles as they were.
  if (Config != nullptr) Config->AdvanceChangeEpoch();
}

void TBRNUser::RevokeRole(const TBRNRole* role) {
  if (role == nullptr) return;
  for (int32_t i = Roles->Count() - 1; i >= 0; --i) {
    TBRNUserRole* userRole = Roles->GetUserRole(i);
    if (userRole->RoleID == role->ID || userRole->FindRole() == role) {
      TBRNConfigObject* removed = Roles->RemoveObject(i);
      DisposeAndNil(removed);
      if (Config != nullptr) Config->AdvanceChangeEpoch();
      return;
    }
  }
}

std::string TBRNUser::GetObjectTypeName() const {
  return "user";
}

void TBRNUser::SetSystem(bool value) {
  TBRNAuthorization::SetSystem(value);
  Roles->SetSystem(value);
}

void TBRNUser::SetTransient(bool value) {
  TBRNAuthorization::SetTransient(value);
  Roles->SetTransient(value);
}

void TBRNUser::SetTemporary(bool value) {
  TBRNAuthorization::SetTemporary(value);
  Roles->SetTemporary(value);
}

int32_t TBRNUser::GetLockOffset(uint8_t lockType) const {
  if (lockType != ltShared && lockType != ltExclusive) return 0;
  return NumberedLockOffset(kUserLockBase, LockNumber);
}

int32_t TBRNUser::GetLockLength(uint8_t lockType) const {
  return lockType == ltShared || lockType == ltExclusive ? kLockRangeLength : 0;
}

void TBRNUser::ResetAllLinks() {
  TBRNAuthorization::ResetAllLinks();
  Roles->ResetAllLinks();
}

void TBRNUser::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNAuthorization::Assign(source, copyState);
  auto* user = dynamic_cast<const TBRNUser*>(source);
  if (user == nullptr || user == this) return;
  Password = user->Password;
  PasswordChanged = user->PasswordChanged;
  PasswordLoginRefused = user->PasswordLoginRefused;
  ReservedNumber = user->ReservedNumber;
  Roles->Assign(user->Roles.get(), copyState);
}

void TBRNUser::Validate() {
  TBRNAuthorization::Validate();
  Roles->Validate();
}

void TBRNUser::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNAuthorization::SaveToStream(stream, structureOnly);
  stream.WriteString(Password);
  if (StoredVersionAtLeast(this, kFormatVersion204)) stream.WriteInt64(PasswordChanged);
  stream.WriteBoolean(PasswordLoginRefused);
  stream.WriteInteger(LockNumber);
  stream.WriteInteger(ReservedNumber);
  Roles->SaveToStream(stream, structureOnly);
}

void TBRNUser::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNAuthorization::LoadFromStream(stream);
  Password = readStoredString(stream);
  PasswordChanged = StoredVersionAtLeast(this, kFormatVersion204) ? readStoredInt64(stream) : 0;
  PasswordLoginRefused = readStoredBoolean(stream);
  int32_t lockNumber = readStoredInteger(stream);
  // The lock manager turns the number into a range of the lock file: a
  // number whose range cannot exist there is damage, not a lock.
  if (!isValidLockNumber(lockNumber)) {
    RaiseMetadataError(FormatText("Invalid lock number %s", {IntegerToString(lockNumber)}));
  }
  LockNumber = lockNumber;
  ReservedNumber = readStoredInteger(stream);
  Roles->LoadFromStream(stream);
}

void TBRNUser::RegisterReferenceTo(TBRNConfigObject* target) {
  Roles->RegisterReferenceTo(target);
}

void TBRNUser::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  Roles->ReplaceReferencedName(target, newName);
}

void TBRNUser::RemoveReferenceTo(TBRNConfigObject* target) {
  // A role that is being dropped leaves every user that holds it, as a
  // dropped grantee loses its grants; a membership left behind would keep
  // the role referenced and name a role that no longer exists.
  if (auto* role = dynamic_cast<TBRNRole*>(target)) RevokeRole(role);
  Roles->RemoveReferenceTo(target);
}

int64_t TBRNUser::GetMemorySize() const {
  return TBRNAuthorization::GetMemorySize() + int64_t(sizeof(TBRNUser)) -
         int64_t(sizeof(TBRNAuthorization)) + StringMemSize(Password) + Roles->GetMemorySize();
}

int32_t TBRNUser::GetObjectCount() const {
  return TBRNAuthorization::GetObjectCount() + Roles->GetObjectCount();
}

std::string TBRNUser::GetCreateSQL(bool, bool) {
  return "CREATE USER " + QuoteString(Name, '"') + "\r\nPASSWORD " +
         QuoteString("<Password>", '\'') + descriptionAndAttributesSQL();
}

std::string TBRNUser::GetDropSQL(bool, bool) {
  return "DROP USER " + QuoteString(Name, '"');
}

// ---------------------------------------------------------------------------
// TBRNRole

std::string TBRNRole::GetObjectTypeName() const {
  return "role";
}

std::string TBRNRole::GetCreateSQL(bool, bool) {
  return "CREATE ROLE " + QuoteString(Name, '"') + descriptionAndAttributesSQL();
}

std::string TBRNRole::GetDropSQL(bool, bool) {
  return "DROP ROLE " + QuoteString(Name, '"');
}

// ---------------------------------------------------------------------------
// TBRNUserRole

TBRNUserRole::TBRNUserRole(TBRNConfigRoot* config) : TBRNConfigObject(config) {}

TBRNRole* TBRNUserRole::FindRole() const {
  if (auto* cached = roleLink_.Get(Config)) return static_cast<TBRNRole*>(cached);
  TBRNAuthorizationRoot* root = AuthorizationRootOf(this);
  if (root == nullptr || root->GetRoles() == nullptr) return nullptr;
  auto* role = static_cast<TBRNRole*>(root->GetRoles()->FindByID(RoleID, false));
  if (role != nullptr) roleLink_.Set(role, Config);
  return role;
}

TBRNRole* TBRNUserRole::GetRole() const {
  if (TBRNRole* role = FindRole()) return role;
  TBRNAuthorizationRoot* root = AuthorizationRootOf(this);
  if (root != nullptr && root->GetRoles() != nullptr) root->GetRoles()->RaiseNotFoundByID(RoleID);
  throw EBRNException(401, FormatText("The role %s does not exist", {IntegerToString(RoleID)}));
}

void TBRNUserRole::SetRole(TBRNRole* role) {
  roleLink_.Set(role, Config);
  if (role != nullptr && role->ID != RoleID) {
    RoleID = role->ID;
    SetModified(true);
  }
}

TBRNUser* TBRNUserRole::GetGrantor() {
  if (auto* cached = grantorLink_.Get(Config)) return static_cast<TBRNUser*>(cached);
  TBRNUser* grantor = FindUserByName(this, GrantorName);
  if (grantor == nullptr) grantor = SystemUserOf(this);
  if (grantor != nullptr) grantorLink_.Set(grantor, Config);
  return grantor;
}

void TBRNUserRole::SetGrantor(TBRNUser* grantor) {
  grantorLink_.Set(grantor, Config);
  if (grantor != nullptr && !TextEqualsIgnoreCase(grantor->GetName(), GrantorName)) {
    GrantorName = grantor->GetName();
    SetModified(true);
  }
}

TBRNUser* TBRNUserRole::GetUser() const {
  return Owner != nullptr ? dynamic_cast<TBRNUser*>(Owner->Owner) : nullptr;
}

bool TBRNUserRole::HasName() const {
  return false;
}

std::string TBRNUserRole::GetName() const {
  return GetRole()->GetName();
}

std::string TBRNUserRole::GetObjectTypeName() const {
  return "granted role";
}

void TBRNUserRole::ResetLinks() {
  roleLink_.Reset();
  grantorLink_.Reset();
  TBRNConfigObject::ResetLinks();
}

void TBRNUserRole::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNConfigObject::Assign(source, copyState);
  if (auto* userRole = dynamic_cast<const TBRNUserRole*>(source)) {
    RoleID = userRole->RoleID;
    GrantorName = userRole->GrantorName;
    ResetLinks();
  }
}

bool TBRNUserRole::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  // Compared by stored keys: the role's name is not needed, and a role that
  // no longer exists must not make a comparison raise.
  auto* userRole = dynamic_cast<const TBRNUserRole*>(other);
  if (userRole == nullptr) return false;
  if (compareIDs && ID != userRole->ID) return false;
  return RoleID == userRole->RoleID && TextEqualsIgnoreCase(GrantorName, userRole->GrantorName);
}

void TBRNUserRole::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNConfigObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(RoleID);
  stream.WriteString(GrantorName);
}

void TBRNUserRole::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNConfigObject::LoadFromStream(stream);
  RoleID = readStoredInteger(stream);
  GrantorName = readStoredString(stream);
  ResetLinks();
}

void TBRNUserRole::RegisterReferenceTo(TBRNConfigObject* target) {
  bool refers = false;
  if (auto* role = dynamic_cast<TBRNRole*>(target)) {
    refers = role->ID == RoleID;
  } else if (dynamic_cast<TBRNUser*>(target) != nullptr) {
    refers = TextEqualsIgnoreCase(target->GetName(), GrantorName);
  }
  TBRNUser* user = GetUser();
  if (refers && user != nullptr) target->GetReferrers()->AddObject(user);
}

void TBRNUserRole::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  if (dynamic_cast<TBRNUser*>(target) == nullptr) return;
  if (TextEqualsIgnoreCase(target->GetName(), GrantorName)) {
    GrantorName = newName;
    SetModified(true);
  }
}

void TBRNUserRole::RemoveReferenceTo(TBRNConfigObject* target) {
  if (dynamic_cast<TBRNUser*>(target) == nullptr) return;
  if (TextEqualsIgnoreCase(target->GetName(), GrantorName)) {
    GrantorName = SystemUserNameOf(this);
    grantorLink_.Reset();
    SetModified(true);
  }
}

int64_t TBRNUserRole::GetMemorySize() const {
  return TBRNConfigObject::GetMemorySize() + int64_t(sizeof(TBRNUserRole)) -
         int64_t(sizeof(TBRNConfigObject)) + StringMemSize(GrantorName);
}

std::string TBRNUserRole::GetCreateSQL(bool, bool) {
  TBRNUser* user = GetUser();
  return "GRANT " + QuoteString(GetName(), '"') + " TO " +
         QuoteString(user != nullptr ? user->GetName() : std::string(), '"');
}

std::string TBRNUserRole::GetDropSQL(bool, bool) {
  TBRNUser* user = GetUser();
  return "REVOKE " + QuoteString(GetName(), '"') + " FROM " +
         QuoteString(user != nullptr ? user->GetName() : std::string(), '"');
}

// ---------------------------------------------------------------------------
// Collections

TBRNUsers::TBRNUsers(TBRNConfigRoot* config) : TBRNCollection(config) {}

TBRNUser* TBRNUsers::GetUser(int32_t index) const {
  return static_cast<TBRNUser*>(GetItem(index));
}

void TBRNUsers::CheckDuplicate(TBRNConfigObject* object) {
  if (inDuplicateCheck_) return;
  inDuplicateCheck_ = true;
  try {
    TBRNConfigObjects::CheckDuplicate(object);
    TBRNAuthorizationRoot* root = AuthorizationRootOf(this);
    if (root != nullptr && root->GetRoles() != nullptr) root->GetRoles()->CheckDuplicate(object);
  } catch (...) {
    inDuplicateCheck_ = false;
    throw;
  }
  inDuplicateCheck_ = false;
}

std::string TBRNUsers::GetObjectTypeName() const {
  return "user";
}

std::string TBRNUsers::GetSystemTableName() const {
  return "Users";
}

void TBRNUsers::Changed() {
  TBRNConfigObjects::Changed();
  rebuildAuthorizationsOf(this);
}

TBRNRoles::TBRNRoles(TBRNConfigRoot* config) : TBRNCollection(config) {}

TBRNRole* TBRNRoles::GetRole(int32_t index) const {
  return static_cast<TBRNRole*>(GetItem(index));
}

void TBRNRoles::CheckDuplicate(TBRNConfigObject* object) {
  if (inDuplicateCheck_) return;
  inDuplicateCheck_ = true;
  try {
    TBRNConfigObjects::CheckDuplicate(object);
    TBRNAuthorizationRoot* root = AuthorizationRootOf(this);
    if (root != nullptr && root->GetUsers() != nullptr) root->GetUsers()->CheckDuplicate(object);
  } catch (...) {
    inDuplicateCheck_ = false;
    throw;
  }
  inDuplicateCheck_ = false;
}

std::string TBRNRoles::GetObjectTypeName() const {
  return "role";
}

std::string TBRNRoles::GetSystemTableName() const {
  return "Roles";
}

void TBRNRoles::Changed() {
  TBRNConfigObjects::Changed();
  rebuildAuthorizationsOf(this);
}

TBRNUserRoles::TBRNUserRoles(TBRNConfigRoot* config) : TBRNCollection(config) {}

TBRNUserRole* TBRNUserRoles::GetUserRole(int32_t index) const {
  return static_cast<TBRNUserRole*>(GetItem(index));
}

bool TBRNUserRoles::SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const {
  auto* ra = dynamic_cast<const TBRNUserRole*>(a);
  auto* rb = dynamic_cast<const TBRNUserRole*>(b);
  if (ra == nullptr || rb == nullptr) return false;
  return ra->RoleID == rb->RoleID;
}

std::string TBRNUserRoles::GetObjectTypeName() const {
  return "granted role";
}

std::string TBRNUserRoles::GetSystemTableName() const {
  return "UserRoles";
}

}  // namespace brn
