#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "metadata/config/privileges.h"

namespace brn {

class TBRNRole;
class TBRNUserRoles;

// Users may number at most this many.
inline constexpr int32_t kMaxUserCount = 4096;
// The ReservedNumber of every new user.
inline constexpr int32_t kDefaultReservedNumber = 4096;

// A login of the configuration. Its Shared and Exclusive lock range starts at
// LockNumber x 4096 + 8194 in the configuration lock file and is 4096 bytes
// long; a logged-in user holds it Shared. The root gives every user a lock
// number from 1 up before it is locked: asking a user with lock number 0 for
// its range throws std::out_of_range.
//
// Stored record, after the lockable part (also in the structure-only mode):
// Password (string), PasswordChanged (int64, format 2.04 on),
// PasswordLoginRefused (one byte), LockNumber, ReservedNumber (int32 each),
// then the granted roles (int32 count and one record each). The password is
// stored in plain text; the configuration file as a whole is encrypted.
class TBRNUser : public TBRNAuthorization {
 public:
  explicit TBRNUser(TBRNConfigRoot* config);
  ~TBRNUser() override;

  std::string Password;         // compared with case
  int64_t PasswordChanged = 0;  // local timestamp of the last SetPassword
  bool PasswordLoginRefused = false;
  int32_t LockNumber = 0;
  int32_t ReservedNumber = kDefaultReservedNumber;  // stored and copied only
  std::unique_ptr<TBRNUserRoles> Roles;

  // An empty text raises 100 "The user password cannot be blank"; a
  // different text is stored with the current local time.
  void SetPassword(const std::string& text);
  void SetLockNumber(int32_t lockNumber);
  // true only for a user other than the System user whose password login is
  // not refused and whose password equals text (case counts, trailing blanks
  // do not).
  bool CheckPassword(const std::string& text) const;
  // true when one of the user's granted roles is role. A granted role whose
  // role no longer exists counts for nothing.
  bool HasRole(const TBRNRole* role) const;
  // Adds the role unless the user holds it; a failing addition frees the new
  // granted role and passes the error on.
  void GrantRole(TBRNUser* grantor, TBRNRole* role);
  // Takes the role out of the user's granted roles; nothing when not held.
  void RevokeRole(const TBRNRole* role);

  std::string GetObjectTypeName() const override;
  void SetSystem(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;
  void ResetAllLinks() override;
  // Copies everything but LockNumber.
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  void Validate() override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  // A lock number whose range does not fit in the lock file is refused with
  // the metadata error.
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  // Also drops the user's membership of a role that is being removed.
  void RemoveReferenceTo(TBRNConfigObject* target) override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;
};

// A collection of privileges that users receive by being granted the role.
// Its stored record is the lockable part alone.
class TBRNRole : public TBRNAuthorization {
 public:
  using TBRNAuthorization::TBRNAuthorization;

  std::string GetObjectTypeName() const override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;
};

// A role granted to a user, held in the user's own list (whose Owner is the
// user). The role is kept by ID and the grantor by name; both objects are
// cached links that are looked up again after the root's change epoch moved.
//
// Stored record: the base part (ID, Internal, ReadOnly; no name), int32
// RoleID, string GrantorName.
class TBRNUserRole : public TBRNConfigObject {
 public:
  explicit TBRNUserRole(TBRNConfigRoot* config);

  int32_t RoleID = 0;
  std::string GrantorName;

  // The role with RoleID; raises 401 through the roles collection when it is
  // missing.
  TBRNRole* GetRole() const;
  // As GetRole, but nullptr for a missing role.
  TBRNRole* FindRole() const;
  void SetRole(TBRNRole* role);
  // The user named GrantorName, else the System user.
  TBRNUser* GetGrantor();
  void SetGrantor(TBRNUser* grantor);
  // The user that holds this granted role, or nullptr.
  TBRNUser* GetUser() const;

  bool HasName() const override;
  // The role's name (401 when the role is missing).
  std::string GetName() const override;
  std::string GetObjectTypeName() const override;
  void ResetLinks() override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void RemoveReferenceTo(TBRNConfigObject* target) override;
  int64_t GetMemorySize() const override;
  // "GRANT role TO user" / "REVOKE role FROM user".
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;

 private:
  // The cache of a lookup, not part of the object's value.
  mutable TBRNObjectLink roleLink_;
  TBRNObjectLink grantorLink_;
};

// The users of the configuration (at most 4096). A user may not bear the
// name of a role: the duplicate check also asks the roles.
class TBRNUsers : public TBRNCollection<TBRNUser, TBRNConfigObjects, kMaxUserCount> {
 public:
  explicit TBRNUsers(TBRNConfigRoot* config);

  TBRNUser* GetUser(int32_t index) const;

  void CheckDuplicate(TBRNConfigObject* object) override;
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
  // Makes the root rebuild its authorizations list.
  void Changed() override;

 private:
  bool inDuplicateCheck_ = false;
};

// The roles of the configuration. A role may not bear the name of a user.
class TBRNRoles : public TBRNCollection<TBRNRole> {
 public:
  explicit TBRNRoles(TBRNConfigRoot* config);

  TBRNRole* GetRole(int32_t index) const;

  void CheckDuplicate(TBRNConfigObject* object) override;
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
  void Changed() override;

 private:
  bool inDuplicateCheck_ = false;
};

// The roles granted to one user (its Owner); the key is the role ID.
class TBRNUserRoles : public TBRNCollection<TBRNUserRole> {
 public:
  explicit TBRNUserRoles(TBRNConfigRoot* config);

  TBRNUserRole* GetUserRole(int32_t index) const;

  bool SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const override;
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
};

}  // namespace brn
