#include "metadata/config/privileges.h"

#include <stdexcept>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/config/authorization_root.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/object_selections.h"

namespace brn {

namespace {

const char* const kPrivilegeNames[] = {"Select", "Insert",  "Update",  "Delete",
                                       "Create", "Alter",   "Drop",    "Maintain",
                                       "Backup", "Restore", "Execute", "All"};

bool isSameName(const TBRNConfigObject* object, const std::string& name) {
  return TextEqualsIgnoreCase(object->GetName(), name);
}

void addReferrer(TBRNConfigObject* target, TBRNConfigObject* referrer) {
  if (referrer != nullptr) target->GetReferrers()->AddObject(referrer);
}

}  // namespace

std::string PrivilegeName(int32_t kind) {
  return kind >= pkSelect && kind <= pkAll ? kPrivilegeNames[kind] : "";
}

TBRNPrivilegeKind PrivilegeFromName(std::string_view name) {
  for (int32_t kind = pkSelect; kind <= pkAll; ++kind) {
    if (TextEqualsIgnoreCase(name, kPrivilegeNames[kind])) return kind;
  }
  return -1;
}

TBRNAuthorizationRoot* AuthorizationRootOf(const TBRNConfigObject* object) {
  return object != nullptr ? dynamic_cast<TBRNAuthorizationRoot*>(object->Config) : nullptr;
}

TBRNUser* SystemUserOf(const TBRNConfigObject* object) {
  TBRNAuthorizationRoot* root = AuthorizationRootOf(object);
  return root != nullptr ? root->GetSystemUser() : nullptr;
}

std::string SystemUserNameOf(const TBRNConfigObject* object) {
  TBRNUser* system = SystemUserOf(object);
  return system != nullptr ? system->GetName() : std::string(kSystemUserName);
}

TBRNUser* FindUserByName(const TBRNConfigObject* object, const std::string& name) {
  TBRNAuthorizationRoot* root = AuthorizationRootOf(object);
  if (root == nullptr || root->GetUsers() == nullptr) return nullptr;
  return static_cast<TBRNUser*>(root->GetUsers()->FindByName(name, false));
}

bool StoredVersionAtLeast(const TBRNConfigObject* object, int64_t version) {
  int64_t stored = object->GetVersion();
  return stored == 0 || stored >= version;
}

// ---------------------------------------------------------------------------
// TBRNPrivilege

TBRNPrivilege::TBRNPrivilege(TBRNConfigRoot* config) : TBRNConfigObject(config) {}

TBRNAuthorization* TBRNPrivilege::GetGrantee() {
  if (auto* cached = granteeLink_.Get(Config)) return static_cast<TBRNAuthorization*>(cached);
  TBRNAuthorizationRoot* root = AuthorizationRootOf(this);
  if (root == nullptr || root->GetAuthorizations() == nullptr) return nullptr;
  auto* grantee =
      static_cast<TBRNAuthorization*>(root->GetAuthorizations()->FindByName(GranteeName, false));
  if (grantee != nullptr) granteeLink_.Set(grantee, Config);
  return grantee;
}

void TBRNPrivilege::SetGrantee(TBRNAuthorization* grantee) {
  granteeLink_.Set(grantee, Config);
  if (grantee != nullptr && !TextEqualsIgnoreCase(grantee->GetName(), GranteeName)) {
    GranteeName = grantee->GetName();
    SetModified(true);
  }
}

TBRNUser* TBRNPrivilege::GetGrantor() {
  if (auto* cached = grantorLink_.Get(Config)) return static_cast<TBRNUser*>(cached);
  TBRNUser* grantor = FindUserByName(this, GrantorName);
  if (grantor == nullptr) grantor = SystemUserOf(this);
  if (grantor != nullptr) grantorLink_.Set(grantor, Config);
  return grantor;
}

void TBRNPrivilege::SetGrantor(TBRNUser* grantor) {
  grantorLink_.Set(grantor, Config);
  if (grantor != nullptr && !TextEqualsIgnoreCase(grantor->GetName(), GrantorName)) {
    GrantorName = grantor->GetName();
    SetModified(true);
  }
}

void TBRNPrivilege::SetKind(int32_t kind) {
  if (kind == Kind) return;
  Kind = kind;
  SetModified(true);
}

TBRNConfigObject* TBRNPrivilege::GetPrivilegedObject() const {
  return Owner != nullptr ? Owner->Owner : nullptr;
}

bool TBRNPrivilege::HasName() const {
  return false;
}

std::string TBRNPrivilege::GetName() const {
  return PrivilegeName(Kind);
}

std::string TBRNPrivilege::GetObjectTypeName() const {
  return "privilege";
}

void TBRNPrivilege::ResetLinks() {
  granteeLink_.Reset();
  grantorLink_.Reset();
  TBRNConfigObject::ResetLinks();
}

void TBRNPrivilege::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNConfigObject::Assign(source, copyState);
  if (auto* privilege = dynamic_cast<const TBRNPrivilege*>(source)) {
    Kind = privilege->Kind;
    GranteeName = privilege->GranteeName;
    GrantorName = privilege->GrantorName;
    ResetLinks();
  }
}

bool TBRNPrivilege::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (!TBRNConfigObject::IsEqual(other, compareIDs)) return false;
  auto* privilege = dynamic_cast<const TBRNPrivilege*>(other);
  return privilege != nullptr && privilege->Kind == Kind &&
         TextEqualsIgnoreCase(privilege->GranteeName, GranteeName) &&
         TextEqualsIgnoreCase(privilege->GrantorName, GrantorName);
}

void TBRNPrivilege::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNConfigObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(Kind);
  stream.WriteString(GranteeName);
  stream.WriteString(GrantorName);
}

void TBRNPrivilege::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNConfigObject::LoadFromStream(stream);
  int32_t kind = readStoredInteger(stream);
  // The kind indexes the bits of a privilege set: anything else would
  // shift out of it.
  if (!IsGrantableKind(kind)) {
    RaiseMetadataError(FormatText("Invalid privilege kind %s", {IntegerToString(kind)}));
  }
  Kind = kind;
  GranteeName = readStoredString(stream);
  GrantorName = readStoredString(stream);
  ResetLinks();
}

void TBRNPrivilege::RegisterReferenceTo(TBRNConfigObject* target) {
  if (dynamic_cast<TBRNAuthorization*>(target) == nullptr) return;
  if (isSameName(target, GranteeName) || isSameName(target, GrantorName)) {
    addReferrer(target, GetPrivilegedObject());
  }
}

void TBRNPrivilege::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  if (dynamic_cast<TBRNAuthorization*>(target) == nullptr) return;
  if (isSameName(target, GranteeName)) {
    GranteeName = newName;
    SetModified(true);
  }
  if (isSameName(target, GrantorName)) {
    GrantorName = newName;
    SetModified(true);
  }
}

void TBRNPrivilege::RemoveReferenceTo(TBRNConfigObject* target) {
  if (dynamic_cast<TBRNUser*>(target) == nullptr) return;
  if (isSameName(target, GrantorName)) {
    GrantorName = SystemUserNameOf(this);
    grantorLink_.Reset();
    SetModified(true);
  }
}

int64_t TBRNPrivilege::GetMemorySize() const {
  return TBRNConfigObject::GetMemorySize() + int64_t(sizeof(TBRNPrivilege)) -
         int64_t(sizeof(TBRNConfigObject)) + StringMemSize(GranteeName) +
         StringMemSize(GrantorName);
}

// ---------------------------------------------------------------------------
// TBRNPrivileges

TBRNPrivileges::TBRNPrivileges(TBRNConfigRoot* config) : TBRNCollection(config) {}

TBRNPrivilege* TBRNPrivileges::GetPrivilege(int32_t index) const {
  return static_cast<TBRNPrivilege*>(GetItem(index));
}

bool TBRNPrivileges::SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const {
  auto* pa = dynamic_cast<const TBRNPrivilege*>(a);
  auto* pb = dynamic_cast<const TBRNPrivilege*>(b);
  if (pa == nullptr || pb == nullptr) return TBRNConfigObjects::SameKey(a, b);
  return pa->Kind == pb->Kind && TextEqualsIgnoreCase(pa->GranteeName, pb->GranteeName);
}

std::string TBRNPrivileges::GetObjectTypeName() const {
  return "privilege";
}

bool TBRNPrivileges::GetModified() const {
  return Owner != nullptr ? Owner->GetModified() : TBRNConfigObjects::GetModified();
}

void TBRNPrivileges::SetModified(bool value) {
  if (Owner != nullptr) {
    Owner->SetModified(true);
  } else {
    TBRNConfigObjects::SetModified(value);
  }
}

// ---------------------------------------------------------------------------
// TBRNPrivilegedConfigObject

TBRNPrivilegedConfigObject::TBRNPrivilegedConfigObject(TBRNConfigRoot* config)
    : TBRNPrivilegedConfigObject(config, nullptr) {}

TBRNPrivilegedConfigObject::TBRNPrivilegedConfigObject(TBRNConfigRoot* config, TBRNUser* owner)
    : TBRNLockableConfigObject(config), Privileges(std::make_unique<TBRNPrivileges>(config)) {
  Privileges->Owner = this;
  if (owner != nullptr) OwnerName = owner->GetName();
  if (OwnerName.empty()) OwnerName = SystemUserNameOf(this);
}

TBRNPrivilegedConfigObject::~TBRNPrivilegedConfigObject() = default;

TBRNUser* TBRNPrivilegedConfigObject::GetOwner() {
  if (auto* cached = ownerLink_.Get(Config)) return static_cast<TBRNUser*>(cached);
  TBRNAuthorizationRoot* root = AuthorizationRootOf(this);
  if (root == nullptr || root->GetUsers() == nullptr) return nullptr;
  TBRNUsers* users = root->GetUsers();
  TBRNUser* owner;
  if (!OwnerName.empty()) {
    owner = static_cast<TBRNUser*>(users->FindByName(OwnerName, true));
  } else {
    owner = static_cast<TBRNUser*>(users->FindByID(OwnerID, true));
    OwnerName = owner->GetName();
  }
  ownerLink_.Set(owner, Config);
  return owner;
}

void TBRNPrivilegedConfigObject::CompleteDefinition() {
  DefinitionComplete = true;
}

void TBRNPrivilegedConfigObject::EnsureDefinition() {
  if (DefinedOnDemand && !DefinitionComplete) CompleteDefinition();
}

int32_t TBRNPrivilegedConfigObject::FindGrant(const TBRNAuthorization* grantee,
                                              int32_t kind) const {
  if (grantee == nullptr) return -1;
  std::string name = grantee->GetName();
  for (int32_t i = 0; i < Privileges->Count(); ++i) {
    TBRNPrivilege* privilege = Privileges->GetPrivilege(i);
    if (privilege->Kind == kind && TextEqualsIgnoreCase(privilege->GranteeName, name)) return i;
  }
  return -1;
}

void TBRNPrivilegedConfigObject::Grant(TBRNUser* grantor, TBRNAuthorization* grantee,
                                       int32_t kind) {
  if (!IsGrantableKind(kind)) throw std::out_of_range("Grant of a privilege kind outside 0..10");
  if (grantee == nullptr) throw std::invalid_argument("Grant without a grantee");
  if (FindGrant(grantee, kind) >= 0) return;
  auto* privilege = new TBRNPrivilege(Config);
  try {
    privilege->Kind = kind;
    privilege->SetGrantee(grantee);
    privilege->SetGrantor(grantor != nullptr ? grantor : SystemUserOf(this));
    if (privilege->GrantorName.empty()) privilege->GrantorName = SystemUserNameOf(this);
    Privileges->AddObject(privilege);
  } catch (...) {
    DisposeAndNil(privilege);
    throw;
  }
  ResetPrivilegeCache();
}

void TBRNPrivilegedConfigObject::Revoke(const TBRNAuthorization* grantee, int32_t kind) {
  int32_t index = FindGrant(grantee, kind);
  if (index < 0) return;
  TBRNConfigObject* privilege = Privileges->RemoveObject(index);
  DisposeAndNil(privilege);
  ResetPrivilegeCache();
}

void TBRNPrivilegedConfigObject::RevokeAll(const TBRNAuthorization* grantee) {
  for (int32_t kind = pkSelect; kind <= pkExecute; ++kind) Revoke(grantee, kind);
}

void TBRNPrivilegedConfigObject::grantSet(TBRNUser* grantor, TBRNAuthorization* grantee,
                                          int32_t privilegeSet) {
  for (int32_t kind = pkSelect; kind <= pkExecute; ++kind) {
    if (IsBitSet(privilegeSet, kind)) Grant(grantor, grantee, kind);
  }
}

void TBRNPrivilegedConfigObject::GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) {
  grantSet(grantor, grantee, kFullPrivileges);
}

void TBRNPrivilegedConfigObject::GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) {
  grantSet(grantor, grantee, kDefaultPrivileges);
}

void TBRNPrivilegedConfigObject::ApplyDefaultGrants() {
  TBRNAuthorizationRoot* root = AuthorizationRootOf(this);
  if (root == nullptr) return;
  TBRNUser* system = root->GetSystemUser();
  TBRNRole* administrators = root->GetAdministratorsRole();
  TBRNRole* publicRole = root->GetPublicRole();
  if (System) {
    if (system != nullptr) GrantAll(system, system);
    if (administrators != nullptr) GrantDefault(system, administrators);
  } else {
    TBRNUser* owner = GetOwner();
    if (system != nullptr && owner != system) GrantAll(system, system);
    if (administrators != nullptr) GrantAll(system, administrators);
    if (owner != nullptr) GrantAll(system, owner);
  }
  if (publicRole != nullptr) GrantDefault(system, publicRole);
}

void TBRNPrivilegedConfigObject::GrantOwnerAll() {
  GrantAll(SystemUserOf(this), GetOwner());
}

void TBRNPrivilegedConfigObject::ResetPrivilegeCache() {
  cachedUserID_ = 0;
  cacheValid_ = false;
  cachedPrivileges_ = 0;
  cacheEpoch_ = 0;
}

int32_t TBRNPrivilegedConfigObject::GetEffectivePrivileges(TBRNUser* user) {
  if (user == nullptr) return 0;
  uint64_t epoch = Config != nullptr ? Config->GetChangeEpoch() : 0;
  if (cacheValid_ && cachedUserID_ == user->ID && cacheEpoch_ == epoch) return cachedPrivileges_;
  int32_t privileges = 0;
  for (int32_t i = 0; i < Privileges->Count(); ++i) {
    TBRNPrivilege* privilege = Privileges->GetPrivilege(i);
    if (!IsGrantableKind(privilege->Kind)) continue;
    TBRNAuthorization* grantee = privilege->GetGrantee();
    if (grantee == nullptr) continue;
    bool counts;
    if (auto* granteeUser = dynamic_cast<TBRNUser*>(grantee)) {
      counts = granteeUser->ID == user->ID;
    } else if (auto* granteeRole = dynamic_cast<TBRNRole*>(grantee)) {
      counts = user->HasRole(granteeRole);
    } else {
      counts = false;
    }
    if (counts) IncludeBit(privileges, privilege->Kind);
  }
  cacheEpoch_ = epoch;
  cachedUserID_ = user->ID;
  cachedPrivileges_ = privileges;
  cacheValid_ = true;
  return privileges;
}

bool TBRNPrivilegedConfigObject::IsVisibleTo(TBRNUser* user) {
  int32_t privileges = GetEffectivePrivileges(user);
  return IsBitSet(privileges, pkSelect) || IsBitSet(privileges, pkExecute);
}

bool TBRNPrivilegedConfigObject::HasPrivilege(TBRNUser* user, int32_t kind) {
  return IsGrantableKind(kind) && IsBitSet(GetEffectivePrivileges(user), kind);
}

void TBRNPrivilegedConfigObject::SetInTransaction() {
  StateBits |= kInTransaction;
}
void TBRNPrivilegedConfigObject::ClearInTransaction() {
  StateBits &= uint8_t(~kInTransaction);
}
void TBRNPrivilegedConfigObject::SetTransactionOwner() {
  StateBits |= kTransactionOwner;
}
void TBRNPrivilegedConfigObject::ClearTransactionOwner() {
  StateBits &= uint8_t(~kTransactionOwner);
}
void TBRNPrivilegedConfigObject::SetSkipWriteCheck() {
  StateBits |= kSkipWriteCheck;
}
void TBRNPrivilegedConfigObject::ClearSkipWriteCheck() {
  StateBits &= uint8_t(~kSkipWriteCheck);
}
void TBRNPrivilegedConfigObject::SetSkipStructureCheck() {
  StateBits |= kSkipStructureCheck;
}
void TBRNPrivilegedConfigObject::ClearSkipStructureCheck() {
  StateBits &= uint8_t(~kSkipStructureCheck);
}

bool TBRNPrivilegedConfigObject::HasAttributes() const {
  return true;
}

std::string TBRNPrivilegedConfigObject::GetObjectTypeName() const {
  return "privileged object";
}

void TBRNPrivilegedConfigObject::SetSystem(bool value) {
  TBRNLockableConfigObject::SetSystem(value);
  Privileges->SetSystem(value);
}

void TBRNPrivilegedConfigObject::SetTransient(bool value) {
  TBRNLockableConfigObject::SetTransient(value);
  Privileges->SetTransient(value);
}

void TBRNPrivilegedConfigObject::SetTemporary(bool value) {
  TBRNLockableConfigObject::SetTemporary(value);
  Privileges->SetTemporary(value);
}

void TBRNPrivilegedConfigObject::ResetLinks() {
  ResetPrivilegeCache();
  ownerLink_.Reset();
  TBRNLockableConfigObject::ResetLinks();
}

void TBRNPrivilegedConfigObject::ResetAllLinks() {
  TBRNLockableConfigObject::ResetAllLinks();
  Privileges->ResetAllLinks();
}

void TBRNPrivilegedConfigObject::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNLockableConfigObject::Assign(source, copyState);
  if (auto* privileged = dynamic_cast<const TBRNPrivilegedConfigObject*>(source)) {
    OwnerName = privileged->OwnerName;
    OwnerID = privileged->OwnerID;
    Privileges->Assign(privileged->Privileges.get(), copyState);
    ResetLinks();
  }
}

void TBRNPrivilegedConfigObject::Validate() {
  TBRNLockableConfigObject::Validate();
  Privileges->Validate();
}

void TBRNPrivilegedConfigObject::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNLockableConfigObject::SaveToStream(stream, structureOnly);
  if (structureOnly) return;
  if (StoredVersionAtLeast(this, kFormatVersion200)) {
    if (OwnerName.empty()) {
      if (TBRNUser* owner = GetOwner()) OwnerName = owner->GetName();
    }
    stream.WriteString(OwnerName);
  } else {
    // Saving never fails for want of an owner: the stored ID stays when the
    // name finds no user.
    TBRNUser* owner = FindUserByName(this, OwnerName);
    stream.WriteInteger(owner != nullptr ? owner->ID : OwnerID);
  }
  Privileges->SaveToStream(stream, false);
}

void TBRNPrivilegedConfigObject::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNLockableConfigObject::LoadFromStream(stream);
  if (StoredVersionAtLeast(this, kFormatVersion200)) {
    OwnerName = readStoredString(stream);
    OwnerID = 0;
  } else {
    // The owner of an older record is known by ID; its name is taken as soon
    // as the user can be found (GetOwner finds it later otherwise).
    OwnerID = readStoredInteger(stream);
    OwnerName.clear();
    TBRNAuthorizationRoot* root = AuthorizationRootOf(this);
    if (root != nullptr && root->GetUsers() != nullptr) {
      if (auto* owner = root->GetUsers()->FindByID(OwnerID, false)) OwnerName = owner->GetName();
    }
  }
  Privileges->LoadFromStream(stream);
  ResetLinks();
}

void TBRNPrivilegedConfigObject::RegisterReferenceTo(TBRNConfigObject* target) {
  if (dynamic_cast<TBRNAuthorization*>(target) == nullptr) return;
  if (isSameName(target, OwnerName)) addReferrer(target, this);
  Privileges->RegisterReferenceTo(target);
}

void TBRNPrivilegedConfigObject::ReplaceReferencedName(TBRNConfigObject* target,
                                                       const std::string& newName) {
  if (dynamic_cast<TBRNAuthorization*>(target) == nullptr) return;
  if (isSameName(target, OwnerName)) {
    OwnerName = newName;
    SetModified(true);
  }
  Privileges->ReplaceReferencedName(target, newName);
}

void TBRNPrivilegedConfigObject::RemoveReferenceTo(TBRNConfigObject* target) {
  if (dynamic_cast<TBRNAuthorization*>(target) == nullptr) return;
  if (isSameName(target, OwnerName)) {
    OwnerName = SystemUserNameOf(this);
    OwnerID = 0;
    ownerLink_.Reset();
    SetModified(true);
  }
  std::string name = target->GetName();
  for (int32_t i = Privileges->Count() - 1; i >= 0; --i) {
    TBRNPrivilege* privilege = Privileges->GetPrivilege(i);
    if (TextEqualsIgnoreCase(privilege->GranteeName, name)) {
      TBRNConfigObject* removed = Privileges->RemoveObject(i);
      DisposeAndNil(removed);
    } else {
      privilege->RemoveReferenceTo(target);
    }
  }
  ResetPrivilegeCache();
}

int64_t TBRNPrivilegedConfigObject::GetMemorySize() const {
  return TBRNLockableConfigObject::GetMemorySize() + int64_t(sizeof(TBRNPrivilegedConfigObject)) -
         int64_t(sizeof(TBRNLockableConfigObject)) + StringMemSize(OwnerName) +
         Privileges->GetMemorySize();
}

int32_t TBRNPrivilegedConfigObject::GetObjectCount() const {
  return TBRNLockableConfigObject::GetObjectCount() + Privileges->GetObjectCount();
}

// ---------------------------------------------------------------------------
// TBRNPrivilegedConfigObjects

TBRNConfigObject* TBRNPrivilegedConfigObjects::CreateItemOwnedBy(TBRNUser* owner) {
  TBRNConfigObject* item = CreateItem();
  auto* privileged = dynamic_cast<TBRNPrivilegedConfigObject*>(item);
  if (privileged != nullptr && owner != nullptr && !owner->GetName().empty()) {
    privileged->OwnerName = owner->GetName();
  }
  return item;
}

TBRNConfigObject* TBRNPrivilegedConfigObjects::NewItemOwnedBy(TBRNUser* owner) {
  TBRNConfigObject* item = CreateItemOwnedBy(owner);
  if (item == nullptr) return nullptr;
  item->Owner = this;
  item->SetSystem(System);
  item->SetTransient(Transient);
  item->SetTemporary(Temporary);
  return item;
}

TBRNPrivilegedConfigObject* TBRNPrivilegedConfigObjects::prepareFound(TBRNConfigObject* found) {
  auto* object = dynamic_cast<TBRNPrivilegedConfigObject*>(found);
  if (object != nullptr) object->EnsureDefinition();
  return object;
}

bool TBRNPrivilegedConfigObjects::isHiddenFrom(TBRNPrivilegedConfigObject* object, TBRNUser* user,
                                               bool raiseIfMissing) {
  return object != nullptr && user != nullptr && raiseIfMissing && !object->IsVisibleTo(user);
}

TBRNPrivilegedConfigObject* TBRNPrivilegedConfigObjects::FindByIDForUser(int32_t id, TBRNUser* user,
                                                                         bool raiseIfMissing) {
  TBRNPrivilegedConfigObject* object = prepareFound(FindByID(id, raiseIfMissing));
  if (isHiddenFrom(object, user, raiseIfMissing)) RaiseNotFoundByID(id);
  return object;
}

TBRNPrivilegedConfigObject* TBRNPrivilegedConfigObjects::FindByNameForUser(const std::string& name,
                                                                           TBRNUser* user,
                                                                           bool raiseIfMissing) {
  TBRNPrivilegedConfigObject* object = prepareFound(FindByName(name, raiseIfMissing));
  if (isHiddenFrom(object, user, raiseIfMissing)) RaiseNotFoundByName(name);
  return object;
}

TBRNPrivilegedConfigObject* TBRNPrivilegedConfigObjects::FindByLoadedNameForUser(
    const std::string& name, TBRNUser* user, bool raiseIfMissing) {
  TBRNPrivilegedConfigObject* object = prepareFound(FindByLoadedName(name, raiseIfMissing));
  if (isHiddenFrom(object, user, raiseIfMissing)) RaiseNotFoundByName(name);
  return object;
}

// ---------------------------------------------------------------------------
// TBRNAuthorization

bool TBRNAuthorization::HasAttributes() const {
  return true;
}

std::string TBRNAuthorization::GetObjectTypeName() const {
  return "authorization";
}

namespace {

std::vector<TBRNConfigObjects*> authorizationHolders(const TBRNConfigObject* object) {
  std::vector<TBRNConfigObjects*> holders;
  if (TBRNAuthorizationRoot* root = AuthorizationRootOf(object)) {
    root->CollectAuthorizationHolders(holders);
  }
  return holders;
}

}  // namespace

void TBRNAuthorization::CollectReferrers() {
  for (TBRNConfigObjects* holder : authorizationHolders(this)) holder->RegisterReferenceTo(this);
}

void TBRNAuthorization::PropagateRename(const std::string& newName) {
  for (TBRNConfigObjects* holder : authorizationHolders(this)) {
    holder->ReplaceReferencedName(this, newName);
  }
}

void TBRNAuthorization::PropagateDrop() {
  for (TBRNConfigObjects* holder : authorizationHolders(this)) holder->RemoveReferenceTo(this);
}

std::string TBRNAuthorization::descriptionAndAttributesSQL() const {
  std::string text;
  std::string description = TrimTrailingBlanks(Description);
  if (!description.empty()) text += "\r\nDESCRIPTION " + QuoteString(description, '\'');
  std::string attributes = TrimTrailingBlanks(Attributes);
  if (!attributes.empty()) text += "\r\nATTRIBUTES " + QuoteString(attributes, '\'');
  return text;
}

// ---------------------------------------------------------------------------
// TBRNAuthorizations

TBRNAuthorizations::TBRNAuthorizations(TBRNConfigRoot* config) : TBRNReferenceList(config) {}

std::string TBRNAuthorizations::GetObjectTypeName() const {
  return "authorization";
}

std::string TBRNAuthorizations::GetSystemTableName() const {
  return "Authorizations";
}

}  // namespace brn
