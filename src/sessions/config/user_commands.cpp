// The configuration commands on users, roles and grants.
#include <exception>
#include <functional>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/privileges.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "sessions/config/config_command_frame.h"
#include "sessions/config/config_object_lock.h"
#include "sessions/local/config_lock_manager.h"
#include "sessions/local/config_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

namespace {

// The catalog updates that a drop of a user or role makes through the
// database containers, held open until the drop has gone through: every
// catalog changes or none does. A container whose catalog cannot be updated
// swallows the error (it only cancels that catalog); here it is kept and
// raised by RaiseIfFailed, so that the drop fails instead of leaving grants
// to the name behind for the next user or role created under it.
//
// While it lives, the configuration's update hooks are its own: a begin
// begins the catalog update for real and remembers the database, a commit
// is put off to Commit, a cancel records the error being handled. The
// built-in databases pass straight through. Used by the session's thread.
class TBRNDeferredCatalogChanges {
 public:
  explicit TBRNDeferredCatalogChanges(TBRNConfig& config)
      : config_(config), saved_(config.Hooks) {
    TBRNConfigHooks& hooks = config_.Hooks;
    hooks.OnCatalogUpdateBegin = [this](TBRNDatabaseContainer* database) {
      if (database->SessionPrivate) return callSaved(saved_.OnCatalogUpdateBegin, database);
      if (isBegun(database)) return;
      callSaved(saved_.OnCatalogUpdateBegin, database);
      begun_.push_back(database);
    };
    hooks.OnCatalogUpdateCommit = [this](TBRNDatabaseContainer* database) {
      if (database->SessionPrivate) callSaved(saved_.OnCatalogUpdateCommit, database);
    };
    hooks.OnCatalogUpdateCancel = [this](TBRNDatabaseContainer* database) {
      if (database->SessionPrivate) return callSaved(saved_.OnCatalogUpdateCancel, database);
      // Called from the container's handler of the catalog's error.
      if (!failure_) failure_ = std::current_exception();
    };
  }

  ~TBRNDeferredCatalogChanges() {
    restoreHooks();
    for (TBRNDatabaseContainer* database : begun_) cancelQuietly(database);
  }

  TBRNDeferredCatalogChanges(const TBRNDeferredCatalogChanges&) = delete;
  TBRNDeferredCatalogChanges& operator=(const TBRNDeferredCatalogChanges&) = delete;

  void RaiseIfFailed() const {
    if (failure_) std::rethrow_exception(failure_);
  }

  // Writes every changed catalog; the first failed commit raises and the
  // catalogs not committed yet are cancelled by the destructor.
  void Commit() {
    restoreHooks();
    while (!begun_.empty()) {
      TBRNDatabaseContainer* database = begun_.front();
      begun_.erase(begun_.begin());
      try {
        callSaved(saved_.OnCatalogUpdateCommit, database);
      } catch (...) {
        cancelQuietly(database);
        throw;
      }
    }
  }

 private:
  using Hook = std::function<void(TBRNDatabaseContainer*)>;

  static void callSaved(const Hook& hook, TBRNDatabaseContainer* database) {
    if (hook) hook(database);
  }

  bool isBegun(const TBRNDatabaseContainer* database) const {
    for (const TBRNDatabaseContainer* begun : begun_)
      if (begun == database) return true;
    return false;
  }

  void cancelQuietly(TBRNDatabaseContainer* database) noexcept {
    try {
      callSaved(saved_.OnCatalogUpdateCancel, database);
    } catch (...) {
      // The error that ends the drop is the one to report.
    }
  }

  void restoreHooks() {
    if (restored_) return;
    config_.Hooks.OnCatalogUpdateBegin = saved_.OnCatalogUpdateBegin;
    config_.Hooks.OnCatalogUpdateCommit = saved_.OnCatalogUpdateCommit;
    config_.Hooks.OnCatalogUpdateCancel = saved_.OnCatalogUpdateCancel;
    restored_ = true;
  }

  TBRNConfig& config_;
  TBRNConfigHooks saved_;
  std::vector<TBRNDatabaseContainer*> begun_;
  std::exception_ptr failure_;
  bool restored_ = false;
};

// The catalogs of a rename of a user or role, answered through the
// session's catalog update hooks (the database is opened and its catalog
// file update begun; commit and cancel end both).
class TBRNSessionRenameCatalogs : public TBRNRenameCatalogs {
 public:
  explicit TBRNSessionRenameCatalogs(TBRNConfig& config)
      : config_(config), previous_(config.Hooks.RenameCatalogs), hooks_(config.Hooks) {
    config_.Hooks.RenameCatalogs = this;
  }
  ~TBRNSessionRenameCatalogs() override { config_.Hooks.RenameCatalogs = previous_; }
  TBRNSessionRenameCatalogs(const TBRNSessionRenameCatalogs&) = delete;
  TBRNSessionRenameCatalogs& operator=(const TBRNSessionRenameCatalogs&) = delete;

  void BeginCatalogRename(TBRNDatabaseContainer* database) override {
    if (hooks_.OnCatalogUpdateBegin) hooks_.OnCatalogUpdateBegin(database);
  }
  void CommitCatalogRename(TBRNDatabaseContainer* database) override {
    if (hooks_.OnCatalogUpdateCommit) hooks_.OnCatalogUpdateCommit(database);
  }
  void CancelCatalogRename(TBRNDatabaseContainer* database) noexcept override {
    try {
      if (hooks_.OnCatalogUpdateCancel) hooks_.OnCatalogUpdateCancel(database);
    } catch (...) {
      // Nothing more can be undone; the rename's own error is reported.
    }
  }

 private:
  TBRNConfig& config_;
  TBRNRenameCatalogs* previous_;
  TBRNConfigHooks hooks_;
};

TBRNUser* findUser(TBRNConfig& config, const std::string& name) {
  return static_cast<TBRNUser*>(config.Users->FindByName(name, true));
}

TBRNRole* findRole(TBRNConfig& config, const std::string& name) {
  return static_cast<TBRNRole*>(config.Roles->FindByName(name, true));
}

// Drops an authorization (user or role) that was found: NotifyDropped and
// the still-referenced check with every catalog change held until both
// passed, then the object leaves its collection. Returns the detached
// object; the caller frees it after the configuration commit.
std::unique_ptr<TBRNConfigObject> dropAuthorization(TBRNConfig& config,
                                                    TBRNConfigObjects& collection,
                                                    TBRNConfigObject* object) {
  {
    TBRNDeferredCatalogChanges catalogs(config);
    object->NotifyDropped();
    catalogs.RaiseIfFailed();
    object->CheckNotReferenced("dropped");
    catalogs.Commit();
  }
  collection.Detach(object);
  return std::unique_ptr<TBRNConfigObject>(object);
}

}  // namespace

// ---- Users

TBRNUser* TBRNLocalSessionManager::BeginCreateUser(const std::string& name) {
  TBRNConfig* config = Config.get();
  return static_cast<TBRNUser*>(
      BeginCreateObject(*this, ConfigStatementText("CREATE USER %s", name), [&] {
        std::unique_ptr<TBRNConfigObject> user(config->Users->NewItem());
        user->SetName(name);
        static_cast<TBRNUser*>(user.get())->SetLockNumber(config->NextUserLockNumber());
        return user;
      }));
}

void TBRNLocalSessionManager::EndCreateUser(TBRNUser* user) {
  Config->Users->AddObject(user);
  // Every user is a member of Public from the start.
  if (TBRNRole* publicRole = Config->PublicRole; publicRole != nullptr)
    user->GrantRole(CurrentUser, publicRole);
  CommitConfigUpdate(*this);
  ReportCreateStatus(osCompleted, user);
}

void TBRNLocalSessionManager::CancelCreateUser(TBRNUser* user) {
  CancelCreateObject(*this, *Config->Users, user);
}

TBRNUser* TBRNLocalSessionManager::BeginAlterUser(const std::string& name) {
  const std::string statement = ConfigStatementText("ALTER USER %s", name);
  RequireLogin(statement);
  // Every user may alter himself (his password, for instance).
  const bool self = CurrentUser != nullptr && TextEqualsIgnoreCase(name, CurrentUser->Name);
  if (!self) RequireAdministrator(statement);
  RequireWritableConfig(statement);
  return static_cast<TBRNUser*>(BeginAlterConfigObject(
      *this, [&] { return findUser(*Config, name); },
      [&](TBRNConfigObject* object) {
        auto* user = static_cast<TBRNUser*>(object);
        user->CheckNotSystem();
        if (user != CurrentUser) ConfigLockManager->LockObject(user, ltExclusive, -1);
      }));
}

void TBRNLocalSessionManager::EndAlterUser(TBRNUser* user) {
  if (user != CurrentUser) ConfigLockManager->UnlockObject(user, ltExclusive);
  EndAlterObject(*this, user);
}

void TBRNLocalSessionManager::CancelAlterUser(TBRNUser* user) {
  if (user != nullptr && user != CurrentUser) {
    try {
      ConfigLockManager->UnlockObject(user, ltExclusive);
    } catch (...) {
      // The cancel goes on; the reload below is what matters.
    }
  }
  CancelAlterObject(*this, user);
}

void TBRNLocalSessionManager::DropUser(const std::string& name) {
  const std::string statement = ConfigStatementText("DROP USER %s", name);
  RunConfigChecks(*this, kConfigChecksChange, statement);
  std::unique_ptr<TBRNConfigObject> dropped;
  TBRNConfigUpdateBracket update(*this);
  TBRNUser* user = findUser(*Config, name);
  TBRNStatusStages stages(ReportDrop(*this, user));
  if (!IsSystemUser()) user->CheckNotSystem();
  {
    TBRNConfigObjectLock lock(*ConfigLockManager, user, ltExclusive);
    dropped = dropAuthorization(*Config, *Config->Users, user);
  }
  update.Commit();
  stages.Complete();
}

void TBRNLocalSessionManager::RenameUser(const std::string& name, const std::string& newName) {
  const std::string statement = ConfigStatementText("RENAME USER %s TO %s", name, newName);
  RunConfigChecks(*this, kConfigChecksChange, statement);
  TBRNConfigUpdateBracket update(*this);
  TBRNUser* user = findUser(*Config, name);
  TBRNStatusStages stages(ReportRename(*this, user));
  if (!IsSystemUser()) user->CheckNotSystem();
  Config->Users->CheckNewName(user, newName);
  {
    TBRNConfigObjectLock lock(*ConfigLockManager, user, ltExclusive);
    TBRNSessionRenameCatalogs catalogs(*Config);
    Config->RenameAuthorization(user, newName);
  }
  update.Commit();
  stages.Complete();
}

// ---- Roles

TBRNRole* TBRNLocalSessionManager::BeginCreateRole(const std::string& name) {
  TBRNConfig* config = Config.get();
  return static_cast<TBRNRole*>(
      BeginCreateObject(*this, ConfigStatementText("CREATE ROLE %s", name), [&] {
        std::unique_ptr<TBRNConfigObject> role(config->Roles->NewItem());
        role->SetName(name);
        return role;
      }));
}

void TBRNLocalSessionManager::EndCreateRole(TBRNRole* role) {
  EndCreateObject(*this, *Config->Roles, role);
}

void TBRNLocalSessionManager::CancelCreateRole(TBRNRole* role) {
  CancelCreateObject(*this, *Config->Roles, role);
}

TBRNRole* TBRNLocalSessionManager::BeginAlterRole(const std::string& name) {
  RunConfigChecks(*this, kConfigChecksChange, ConfigStatementText("ALTER ROLE %s", name));
  return static_cast<TBRNRole*>(BeginAlterConfigObject(
      *this, [&] { return findRole(*Config, name); },
      [](TBRNConfigObject* role) { role->CheckNotSystem(); }));
}

void TBRNLocalSessionManager::EndAlterRole(TBRNRole* role) {
  EndAlterObject(*this, role);
}

void TBRNLocalSessionManager::CancelAlterRole(TBRNRole* role) {
  CancelAlterObject(*this, role);
}

void TBRNLocalSessionManager::DropRole(const std::string& name) {
  RunConfigChecks(*this, kConfigChecksChange, ConfigStatementText("DROP ROLE %s", name));
  std::unique_ptr<TBRNConfigObject> dropped;
  TBRNConfigUpdateBracket update(*this);
  TBRNRole* role = findRole(*Config, name);
  TBRNStatusStages stages(ReportDrop(*this, role));
  if (!IsSystemUser()) role->CheckNotSystem();
  dropped = dropAuthorization(*Config, *Config->Roles, role);
  update.Commit();
  stages.Complete();
}

void TBRNLocalSessionManager::RenameRole(const std::string& name, const std::string& newName) {
  RunConfigChecks(*this, kConfigChecksChange,
                  ConfigStatementText("RENAME ROLE %s TO %s", name, newName));
  TBRNConfigUpdateBracket update(*this);
  TBRNRole* role = findRole(*Config, name);
  TBRNStatusStages stages(ReportRename(*this, role));
  if (!IsSystemUser()) role->CheckNotSystem();
  Config->Roles->CheckNewName(role, newName);
  {
    TBRNSessionRenameCatalogs catalogs(*Config);
    Config->RenameAuthorization(role, newName);
  }
  update.Commit();
  stages.Complete();
}

// ---- Grants of roles

void TBRNLocalSessionManager::GrantRole(const std::string& roleName, const std::string& userName) {
  RunConfigChecks(*this, kConfigChecksChange,
                  ConfigStatementText("GRANT %s TO %s", roleName, userName));
  TBRNConfigUpdateBracket update(*this);
  TBRNUser* user = findUser(*Config, userName);
  if (!IsSystemUser()) user->CheckNotSystem();
  TBRNRole* role = findRole(*Config, roleName);
  TBRNStatusStages stages(
      [this, role, user](TBRNOperationStage stage) { ReportGrantRoleStatus(stage, role, user); });
  user->GrantRole(CurrentUser, role);
  update.Commit();
  stages.Complete();
}

void TBRNLocalSessionManager::RevokeRole(const std::string& roleName,
                                         const std::string& userName) {
  RunConfigChecks(*this, kConfigChecksChange,
                  ConfigStatementText("REVOKE %s FROM %s", roleName, userName));
  TBRNConfigUpdateBracket update(*this);
  TBRNUser* user = findUser(*Config, userName);
  if (!IsSystemUser()) user->CheckNotSystem();
  TBRNRole* role = findRole(*Config, roleName);
  TBRNStatusStages stages(
      [this, role, user](TBRNOperationStage stage) { ReportRevokeRoleStatus(stage, role, user); });
  user->RevokeRole(role);
  update.Commit();
  stages.Complete();
}

// ---- Grants of privileges

namespace {

// The grantee and the object of a privilege statement. objectKind 0 is a
// database, 1 a store.
struct TBRNPrivilegeTarget {
  TBRNAuthorization* Grantee;
  TBRNPrivilegedConfigObject* Object;
};

TBRNPrivilegeTarget findPrivilegeTarget(TBRNConfig& config, const std::string& granteeName,
                                        const std::string& objectName, int32_t objectKind) {
  auto* grantee =
      static_cast<TBRNAuthorization*>(config.Authorizations->FindByName(granteeName, true));
  TBRNConfigObjects* objects = nullptr;
  if (objectKind == 0)
    objects = config.Databases.get();
  else if (objectKind == 1)
    objects = config.Stores.get();
  else
    throw std::invalid_argument("Privileges are granted on databases (0) and stores (1) only");
  auto* object = static_cast<TBRNPrivilegedConfigObject*>(objects->FindByName(objectName, true));
  return {grantee, object};
}

}  // namespace

void TBRNLocalSessionManager::GrantPrivilege(const std::string& granteeName,
                                             const std::string& objectName, int32_t objectKind,
                                             int32_t privilegeKind) {
  const std::string privilegeName = PrivilegeName(privilegeKind);
  RunConfigChecks(*this, kConfigChecksChange,
                  FormatText("GRANT %s ON %s TO %s", {privilegeName, objectName, granteeName}));
  TBRNConfigUpdateBracket update(*this);
  TBRNPrivilegeTarget target = findPrivilegeTarget(*Config, granteeName, objectName, objectKind);
  TBRNStatusStages stages([this, &target, &privilegeName](TBRNOperationStage stage) {
    ReportGrantPrivilegeStatus(stage, target.Object, privilegeName);
  });
  if (!IsSystemUser()) target.Object->CheckNotSystem();
  if (privilegeKind == pkAll)
    target.Object->GrantAll(CurrentUser, target.Grantee);
  else
    target.Object->Grant(CurrentUser, target.Grantee, privilegeKind);
  update.Commit();
  stages.Complete();
}

void TBRNLocalSessionManager::RevokePrivilege(const std::string& granteeName,
                                              const std::string& objectName, int32_t objectKind,
                                              int32_t privilegeKind) {
  const std::string privilegeName = PrivilegeName(privilegeKind);
  RunConfigChecks(*this, kConfigChecksChange,
                  FormatText("REVOKE %s ON %s FROM %s", {privilegeName, objectName, granteeName}));
  TBRNConfigUpdateBracket update(*this);
  TBRNPrivilegeTarget target = findPrivilegeTarget(*Config, granteeName, objectName, objectKind);
  TBRNStatusStages stages([this, &target, &privilegeName](TBRNOperationStage stage) {
    ReportRevokePrivilegeStatus(stage, target.Object, privilegeName);
  });
  if (!IsSystemUser()) target.Object->CheckNotSystem();
  if (privilegeKind == pkAll)
    target.Object->RevokeAll(target.Grantee);
  else
    target.Object->Revoke(target.Grantee, privilegeKind);
  update.Commit();
  stages.Complete();
}

}  // namespace brn
