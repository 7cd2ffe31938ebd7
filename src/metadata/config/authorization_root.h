#pragma once

#include <vector>

namespace brn {

class TBRNConfigObjects;
class TBRNUser;
class TBRNUsers;
class TBRNRole;
class TBRNRoles;
class TBRNAuthorizations;

// Names of the built-in authorizations that the configuration root makes.
inline constexpr const char* kSystemUserName = "System";
inline constexpr const char* kAdministratorsRoleName = "Administrators";
inline constexpr const char* kPublicRoleName = "Public";

// What users, roles, grants and privileged objects need of the configuration
// root beyond TBRNConfigRoot: its user and role lists and the built-in
// authorizations. The root implements it next to TBRNConfigRoot; objects find
// it by a dynamic_cast of their Config. A catalog root implements it by
// answering for the configuration of its session, so that the owners and
// grants of catalog objects find their users and roles; an object whose root
// does not implement it resolves no authorizations.
//
// Every answer may be nullptr while the root is being built or torn down.
// Used by the thread that owns the root.
class TBRNAuthorizationRoot {
 public:
  virtual ~TBRNAuthorizationRoot() = default;

  virtual TBRNUsers* GetUsers() = 0;
  virtual TBRNRoles* GetRoles() = 0;
  // Every user, then every role (not owning).
  virtual TBRNAuthorizations* GetAuthorizations() = 0;
  virtual TBRNUser* GetSystemUser() = 0;
  virtual TBRNRole* GetAdministratorsRole() = 0;
  virtual TBRNRole* GetPublicRole() = 0;
  // Refills the authorizations list from the users and roles; the two lists
  // call it whenever their membership changes.
  virtual void RebuildAuthorizations() = 0;
  // Appends every collection whose members may refer to a user or role by
  // name or ID: the users, the roles, and the databases, jobs and stores.
  virtual void CollectAuthorizationHolders(std::vector<TBRNConfigObjects*>& holders) = 0;
};

}  // namespace brn
