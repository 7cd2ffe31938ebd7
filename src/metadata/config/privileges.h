#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "metadata/core/config_objects.h"
#include "metadata/core/lockable_config_object.h"
#include "metadata/core/object_link.h"

namespace brn {

class TBRNAuthorization;
class TBRNAuthorizationRoot;
class TBRNUser;

// Privilege kinds. A privilege set is an int32 with bit (1 << kind) per kind
// held (tested and set with IsBitSet / IncludeBit). pkAll is never stored as
// a grant: granting everything stores one grant per kind of the object's
// full set.
using TBRNPrivilegeKind = int32_t;
inline constexpr int32_t pkSelect = 0;
inline constexpr int32_t pkInsert = 1;
inline constexpr int32_t pkUpdate = 2;
inline constexpr int32_t pkDelete = 3;
inline constexpr int32_t pkCreate = 4;
inline constexpr int32_t pkAlter = 5;
inline constexpr int32_t pkDrop = 6;
inline constexpr int32_t pkMaintain = 7;
inline constexpr int32_t pkBackup = 8;
inline constexpr int32_t pkRestore = 9;
inline constexpr int32_t pkExecute = 10;
inline constexpr int32_t pkAll = 11;

// "Select" .. "All"; empty for a kind outside 0 to 11.
std::string PrivilegeName(int32_t kind);
// The kind of a name, ignoring case; -1 for any other name.
TBRNPrivilegeKind PrivilegeFromName(std::string_view name);
// true for the kinds a grant may store (0 to 10).
inline bool IsGrantableKind(int32_t kind) {
  return kind >= pkSelect && kind <= pkExecute;
}

// The authorization root of an object's configuration, or nullptr.
TBRNAuthorizationRoot* AuthorizationRootOf(const TBRNConfigObject* object);
// The root's System user (nullptr without an authorization root) and its
// name ("System" without one).
TBRNUser* SystemUserOf(const TBRNConfigObject* object);
std::string SystemUserNameOf(const TBRNConfigObject* object);
// The user of that name among the root's users, or nullptr.
TBRNUser* FindUserByName(const TBRNConfigObject* object, const std::string& name);
// Whether the object's stored format version is at least version. Records
// written without a root (version 0) carry every field of the newest format.
bool StoredVersionAtLeast(const TBRNConfigObject* object, int64_t version);

// One grant: a privilege kind on the privileged object that owns the grant
// list, held by a user or role (the grantee) and given by a user (the
// grantor). Grantee and grantor are kept by name; the objects are cached
// links that are looked up again after the root's change epoch moved.
//
// Stored record: the base part (ID, Internal, ReadOnly; no name), int32
// Kind, string GranteeName, string GrantorName.
class TBRNPrivilege : public TBRNConfigObject {
 public:
  explicit TBRNPrivilege(TBRNConfigRoot* config);

  int32_t Kind = pkSelect;
  std::string GranteeName;
  std::string GrantorName;

  // The member of the root's authorizations named GranteeName; nullptr when
  // there is none (such a grant counts for nobody).
  TBRNAuthorization* GetGrantee();
  void SetGrantee(TBRNAuthorization* grantee);
  // The user named GrantorName, else the System user.
  TBRNUser* GetGrantor();
  void SetGrantor(TBRNUser* grantor);
  void SetKind(int32_t kind);
  // The privileged object whose grant list holds this grant, or nullptr.
  TBRNConfigObject* GetPrivilegedObject() const;

  bool HasName() const override;
  std::string GetName() const override;
  std::string GetObjectTypeName() const override;
  void ResetLinks() override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  // A kind outside 0 to 10 is refused with the metadata error.
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void RemoveReferenceTo(TBRNConfigObject* target) override;
  int64_t GetMemorySize() const override;

 private:
  TBRNObjectLink granteeLink_;
  TBRNObjectLink grantorLink_;
};

// The grant list of one privileged object, which is its Owner. A grantee
// holds each kind at most once (the key is Kind plus GranteeName, ignoring
// case). Its modified flag is the owner's.
class TBRNPrivileges : public TBRNCollection<TBRNPrivilege> {
 public:
  explicit TBRNPrivileges(TBRNConfigRoot* config);

  TBRNPrivilege* GetPrivilege(int32_t index) const;

  bool SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const override;
  std::string GetObjectTypeName() const override;
  bool GetModified() const override;
  void SetModified(bool value) override;
};

// A database, store, schema, table, view or routine: an object with an owner
// user, a grant list, a cached privilege set of one user, and four
// transaction and maintenance state bits.
//
// Stored record: the lockable part; in the full mode then OwnerName (format
// 2.00 on) or the int32 OwnerID (older), then the grant list (int32 count and
// one grant record each). The structure-only record is the lockable part.
class TBRNPrivilegedConfigObject : public TBRNLockableConfigObject {
 public:
  // State bits.
  static constexpr uint8_t kInTransaction = 1;
  static constexpr uint8_t kTransactionOwner = 2;
  static constexpr uint8_t kSkipWriteCheck = 4;
  static constexpr uint8_t kSkipStructureCheck = 8;

  // The owner is the System user.
  explicit TBRNPrivilegedConfigObject(TBRNConfigRoot* config);
  // The owner is the given user (the System user when owner is nullptr or
  // has no name).
  TBRNPrivilegedConfigObject(TBRNConfigRoot* config, TBRNUser* owner);
  ~TBRNPrivilegedConfigObject() override;

  bool DefinedOnDemand = false;
  bool DefinitionComplete = false;
  int32_t OwnerID = 0;    // owner of records older than format 2.00
  std::string OwnerName;  // the System user's name by default
  std::unique_ptr<TBRNPrivileges> Privileges;
  uint8_t StateBits = 0;

  // The owner user, by OwnerName, else by OwnerID (whose name then becomes
  // OwnerName); raises 401 through the users collection when it is missing.
  TBRNUser* GetOwner();

  // Builds the definition of objects defined on demand; sets
  // DefinitionComplete.
  virtual void CompleteDefinition();
  void EnsureDefinition();

  // The position of the grant of kind to grantee, or -1.
  int32_t FindGrant(const TBRNAuthorization* grantee, int32_t kind) const;
  // Adds the grant unless it exists. kind must be 0 to 10
  // (std::out_of_range otherwise); a failing addition frees the new grant
  // and passes the error on.
  void Grant(TBRNUser* grantor, TBRNAuthorization* grantee, int32_t kind);
  void Revoke(const TBRNAuthorization* grantee, int32_t kind);
  void RevokeAll(const TBRNAuthorization* grantee);
  // Grant for every kind of the object kind's full / default set.
  virtual void GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee);
  virtual void GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee);
  // The grants of a new object, all given by the System user: for a System
  // object everything to System and the default set to "Administrators";
  // else everything to System (unless System owns it), to "Administrators"
  // and to the owner; in both cases the default set to "Public".
  void ApplyDefaultGrants();
  void GrantOwnerAll();

  void ResetPrivilegeCache();
  // The privileges user holds here directly and through his roles. The set
  // is cached for one user at a time and recomputed when another user asks,
  // after a grant or revoke, and whenever the root's change epoch moved
  // (reload, role granted or revoked).
  int32_t GetEffectivePrivileges(TBRNUser* user);
  // The effective set holds Select or Execute.
  bool IsVisibleTo(TBRNUser* user);
  bool HasPrivilege(TBRNUser* user, int32_t kind);

  virtual void SetInTransaction();
  virtual void ClearInTransaction();
  virtual void SetTransactionOwner();
  virtual void ClearTransactionOwner();
  virtual void SetSkipWriteCheck();
  virtual void ClearSkipWriteCheck();
  virtual void SetSkipStructureCheck();
  virtual void ClearSkipStructureCheck();
  bool IsInTransaction() const { return (StateBits & kInTransaction) != 0; }
  bool IsTransactionOwner() const { return (StateBits & kTransactionOwner) != 0; }
  bool GetSkipWriteCheck() const { return (StateBits & kSkipWriteCheck) != 0; }
  bool GetSkipStructureCheck() const { return (StateBits & kSkipStructureCheck) != 0; }

  bool HasAttributes() const override;
  std::string GetObjectTypeName() const override;
  void SetSystem(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  void ResetLinks() override;
  void ResetAllLinks() override;
  // The lockable copy, then OwnerName and the grant list.
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  void Validate() override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void RemoveReferenceTo(TBRNConfigObject* target) override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;

 protected:
  // The kinds of GrantAll and GrantDefault of the base: Select to Execute,
  // and Select, Insert, Update, Delete.
  static constexpr int32_t kFullPrivileges = 0x7FF;
  static constexpr int32_t kDefaultPrivileges = 0x00F;
  // Grant for every kind whose bit is set.
  void grantSet(TBRNUser* grantor, TBRNAuthorization* grantee, int32_t privilegeSet);

 private:
  TBRNObjectLink ownerLink_;
  int32_t cachedUserID_ = 0;
  bool cacheValid_ = false;
  int32_t cachedPrivileges_ = 0;
  uint64_t cacheEpoch_ = 0;
};

// A collection of privileged objects that finds its members on behalf of a
// user: an object the user may not see is reported as missing, so a user
// cannot tell an invisible object from one that does not exist.
class TBRNPrivilegedConfigObjects : public TBRNConfigObjects {
 public:
  using TBRNConfigObjects::TBRNConfigObjects;

  // Factory with an owner; the base makes CreateItem and, for a privileged
  // object, names owner as its owner. The caller owns the result.
  virtual TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner);
  // CreateItemOwnedBy with Owner = the collection and its System, Transient
  // and Temporary flags; not added.
  virtual TBRNConfigObject* NewItemOwnedBy(TBRNUser* owner);
  // The lookups with the visibility check: when user is given, raiseIfMissing
  // is set and the object is not visible to user, 401 as for a missing one.
  // With raiseIfMissing false an invisible object is returned.
  virtual TBRNPrivilegedConfigObject* FindByIDForUser(int32_t id, TBRNUser* user,
                                                      bool raiseIfMissing);
  virtual TBRNPrivilegedConfigObject* FindByNameForUser(const std::string& name, TBRNUser* user,
                                                        bool raiseIfMissing);
  virtual TBRNPrivilegedConfigObject* FindByLoadedNameForUser(const std::string& name,
                                                              TBRNUser* user, bool raiseIfMissing);

 private:
  // The found member with its definition built (nullptr for none).
  static TBRNPrivilegedConfigObject* prepareFound(TBRNConfigObject* found);
  static bool isHiddenFrom(TBRNPrivilegedConfigObject* object, TBRNUser* user, bool raiseIfMissing);
};

// The common base of users and roles: finds and updates every object that
// refers to it (through the root's users, roles, databases, jobs and stores).
class TBRNAuthorization : public TBRNLockableConfigObject {
 public:
  using TBRNLockableConfigObject::TBRNLockableConfigObject;

  bool HasAttributes() const override;
  std::string GetObjectTypeName() const override;
  void CollectReferrers() override;
  void PropagateRename(const std::string& newName) override;
  void PropagateDrop() override;

 protected:
  // "DESCRIPTION" and "ATTRIBUTES" lines of the CREATE text (each starting
  // with CR LF), for the texts that are not empty without trailing blanks.
  std::string descriptionAndAttributesSQL() const;
};

// Every user and then every role of the configuration (not owning); the
// root refills it whenever its users or roles change.
class TBRNAuthorizations : public TBRNReferenceList<TBRNConfigObjects> {
 public:
  explicit TBRNAuthorizations(TBRNConfigRoot* config);

  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
};

}  // namespace brn
