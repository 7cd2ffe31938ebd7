#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "metadata/config/authorization_root.h"
#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/config_root.h"

namespace brn::testing {

// A privileged object with the database's privilege sets: everything is
// Select, Create, Alter, Drop, Maintain, Backup and Restore; the default is
// Select.
class TestDatabase : public TBRNPrivilegedConfigObject {
 public:
  using TBRNPrivilegedConfigObject::TBRNPrivilegedConfigObject;
  static constexpr int32_t kFull = 0x3F1;
  std::string GetObjectTypeName() const override { return "database"; }
  void GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) override {
    grantSet(grantor, grantee, kFull);
  }
  void GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) override {
    grantSet(grantor, grantee, 1 << pkSelect);
  }
};

class TestDatabases : public TBRNPrivilegedConfigObjects {
 public:
  using TBRNPrivilegedConfigObjects::TBRNPrivilegedConfigObjects;
  TBRNConfigObject* CreateItem() override { return new TestDatabase(Config); }
  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override {
    return new TestDatabase(Config, owner);
  }
  std::string GetObjectTypeName() const override { return "database"; }
};

// The part of a configuration root that authorizations need: users, roles,
// the authorizations list, one collection of privileged objects, and the
// built-in System user, Administrators and Public roles and Administrator
// user, made as the configuration makes them.
class TestConfig : public TBRNLockableConfigObject,
                   public TBRNConfigRoot,
                   public TBRNAuthorizationRoot {
 public:
  explicit TestConfig(int64_t version = kNewestFormatVersion)
      : TBRNLockableConfigObject(nullptr), Version(version) {
    ID = 1;
    Authorizations = std::make_unique<TBRNAuthorizations>(this);
    Users = std::make_unique<TBRNUsers>(this);
    Roles = std::make_unique<TBRNRoles>(this);
    Databases = std::make_unique<TestDatabases>(this);
    for (TBRNConfigObject* list : std::vector<TBRNConfigObject*>{Authorizations.get(), Users.get(),
                                                                 Roles.get(), Databases.get()}) {
      list->Owner = this;
    }
    SystemUser = AddUser(kSystemUserName, 0, true);
    SystemUser->Description = "System User";
    AdministratorsRole = AddRole(kAdministratorsRoleName, true);
    PublicRole = AddRole(kPublicRoleName, true);
    AdministratorUser = AddUser("Administrator", 0, false);
    AdministratorUser->SetPassword("GlenHarbor");
    AdministratorUser->GrantRole(SystemUser, AdministratorsRole);
    Modified = false;
  }

  ~TestConfig() override {
    // Lists that point at users and roles go first.
    Authorizations->Clear();
    Databases.reset();
    Users.reset();
    Roles.reset();
    Authorizations.reset();
  }

  int64_t Version;
  bool Modified = false;
  int32_t NextID = 1;
  std::vector<std::string> Unloaded;  // names reported by merge-loads

  std::unique_ptr<TBRNAuthorizations> Authorizations;
  std::unique_ptr<TBRNUsers> Users;
  std::unique_ptr<TBRNRoles> Roles;
  std::unique_ptr<TestDatabases> Databases;
  TBRNUser* SystemUser = nullptr;
  TBRNUser* AdministratorUser = nullptr;
  TBRNRole* AdministratorsRole = nullptr;
  TBRNRole* PublicRole = nullptr;

  // A user with the next free lock number (lockNumber 0) or the given one.
  TBRNUser* AddUser(const std::string& name, int32_t lockNumber = 0, bool system = false) {
    auto* user = new TBRNUser(this);
    user->Name = name;
    user->SetSystem(system);
    user->LockNumber = lockNumber != 0 ? lockNumber : NextUserLockNumber();
    try {
      Users->AddObject(user);
    } catch (...) {
      delete user;
      throw;
    }
    return user;
  }

  TBRNRole* AddRole(const std::string& name, bool system = false) {
    auto* role = new TBRNRole(this);
    role->Name = name;
    role->SetSystem(system);
    try {
      Roles->AddObject(role);
    } catch (...) {
      delete role;
      throw;
    }
    return role;
  }

  TestDatabase* AddDatabase(const std::string& name, TBRNUser* owner, bool system = false) {
    auto* database = new TestDatabase(this, owner);
    database->Name = name;
    database->SetSystem(system);
    try {
      Databases->AddObject(database);
    } catch (...) {
      delete database;
      throw;
    }
    database->ApplyDefaultGrants();
    return database;
  }

  int32_t NextUserLockNumber() const {
    int32_t candidate = 1;
    for (int32_t i = 0; Users && i < Users->Count(); ++i) {
      if (Users->GetUser(i)->LockNumber == candidate) {
        ++candidate;
        i = -1;
      }
    }
    return candidate;
  }

  // The stored lists in the configuration's order.
  void Save(TBRNMemoryStream& stream) {
    Users->SaveToStream(stream, false);
    Roles->SaveToStream(stream, false);
    Databases->SaveToStream(stream, false);
  }
  void Load(TBRNMemoryStream& stream) {
    stream.SetPosition(0);
    Users->LoadFromStream(stream);
    Roles->LoadFromStream(stream);
    Databases->LoadFromStream(stream);
    AdvanceChangeEpoch();
  }

  // The root.
  std::string GetObjectTypeName() const override { return "configuration"; }
  bool HasName() const override { return false; }
  int64_t GetFormatVersion() const override { return Version; }
  bool GetRootModified() const override { return Modified; }
  void SetRootModified(bool value) override { Modified = value; }
  int32_t NextObjectID() override {
    Modified = true;
    return ++NextID;
  }
  void OnObjectUnloaded(TBRNConfigObject* object) override { Unloaded.push_back(object->Name); }

  // The authorization root.
  TBRNUsers* GetUsers() override { return Users.get(); }
  TBRNRoles* GetRoles() override { return Roles.get(); }
  TBRNAuthorizations* GetAuthorizations() override { return Authorizations.get(); }
  TBRNUser* GetSystemUser() override { return SystemUser; }
  TBRNRole* GetAdministratorsRole() override { return AdministratorsRole; }
  TBRNRole* GetPublicRole() override { return PublicRole; }
  void RebuildAuthorizations() override {
    if (!Authorizations) return;
    Authorizations->Clear();
    for (int32_t i = 0; Users && i < Users->Count(); ++i) {
      Authorizations->AddObject(Users->GetItem(i));
    }
    for (int32_t i = 0; Roles && i < Roles->Count(); ++i) {
      Authorizations->AddObject(Roles->GetItem(i));
    }
  }
  void CollectAuthorizationHolders(std::vector<TBRNConfigObjects*>& holders) override {
    for (TBRNConfigObjects* list :
         std::vector<TBRNConfigObjects*>{Users.get(), Roles.get(), Databases.get()}) {
      if (list != nullptr) holders.push_back(list);
    }
  }
};

// The privilege set with the given kinds.
inline int32_t PrivilegeSet(std::initializer_list<int32_t> kinds) {
  int32_t set = 0;
  for (int32_t kind : kinds) set |= 1 << kind;
  return set;
}

}  // namespace brn::testing
