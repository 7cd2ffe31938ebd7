#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "metadata/config/authorization_root.h"
#include "metadata/config/databases.h"
#include "metadata/core/config_root.h"
#include "metadata/core/lockable_config_object.h"
#include "metadata/modules/module_host.h"

namespace brn {

class EBRNException;
class TBRNCollations;
class TBRNDataTypes;
class TBRNExprParser;
class TBRNExprValidator;
class TBRNJobs;
class TBRNMigrators;
class TBRNModule;
class TBRNModules;
class TBRNStores;
class TBRNTextFilters;
class TBRNWordGenerator;
class TBRNWordGenerators;

// Names, descriptions and the password of the built-in objects of a new
// configuration.
inline constexpr const char* kAdministratorUserName = "Administrator";
inline constexpr const char* kDefaultAdministratorPassword = "GlenHarbor";
inline constexpr const char* kConfigurationDatabaseName = "Configuration";
inline constexpr const char* kCursorCacheDatabaseName = "__Cursor__Cache";

// What a catalog that may hold grants to users and roles must answer before
// a user or role is renamed. A rename changes every reference to the old
// name or none: a catalog that keeps grants to the old name while the
// configuration takes the new one would hand those grants to the next user
// or role created under the old name.
//
// The session implements it (it opens the database's catalog and begins an
// update of its file); the root asks it for every database before anything
// changes, commits all of them when the rename went through, and cancels all
// of them otherwise. Used by the thread that owns the root.
class TBRNRenameCatalogs {
 public:
  virtual ~TBRNRenameCatalogs() = default;

  // Makes the catalog of database ready to change: after a normal return
  // database->Catalog is set and changes to it can be committed or
  // cancelled. Raises when the catalog cannot be opened or updated.
  virtual void BeginCatalogRename(TBRNDatabaseContainer* database) = 0;
  // Writes the changed catalog; may raise (the rename then fails, and the
  // remaining catalogs are cancelled).
  virtual void CommitCatalogRename(TBRNDatabaseContainer* database) = 0;
  // Throws the catalog's changes away; must not raise.
  virtual void CancelCatalogRename(TBRNDatabaseContainer* database) noexcept = 0;
};

// The hooks through which the owning session follows the configuration. Each
// is called only when assigned.
struct TBRNConfigHooks {
  // A database's reference walks through its catalog (see TBRNCatalogHooks).
  std::function<void(TBRNDatabaseContainer*)> OnCatalogReadBegin;
  std::function<void(TBRNDatabaseContainer*)> OnCatalogReadEnd;
  std::function<void(TBRNDatabaseContainer*)> OnCatalogUpdateBegin;
  std::function<void(TBRNDatabaseContainer*)> OnCatalogUpdateCancel;
  std::function<void(TBRNDatabaseContainer*)> OnCatalogUpdateCommit;
  // A merge-load is about to free an object that the stream no longer holds.
  std::function<void(TBRNConfigObject*)> OnObjectUnloaded;
  // Module events (see TBRNModuleHost).
  std::function<void(TBRNModule*)> OnModuleLoading;
  std::function<void(TBRNModule*, const EBRNException&)> OnModuleLoadFailed;
  std::function<void(TBRNModule*, int32_t, int32_t*, char*)> OnModuleCallback;
  std::function<void(TBRNModule*)> OnModuleUnloaded;
  // The name of a collation ID for DDL texts.
  std::function<void(int32_t, std::string&)> GetCollationName;
  // Asked by RenameAuthorization; without it no catalog can be asked, and a
  // rename with databases whose catalogs may hold grants fails.
  TBRNRenameCatalogs* RenameCatalogs = nullptr;
};

// The root of a session's configuration: it owns every collection of
// configuration objects, makes the built-in users, roles, databases and word
// generator, hands out object IDs and lock numbers, keeps the stored format
// version and the modified flag, and writes and reads the configuration
// stream (the body of the configuration file).
//
// Lock ranges in the configuration lock file: Read and Write at 4097 (4096
// bytes), Transaction at 4096 (one byte).
//
// Stream: Version (int64), NextID (int32), then the text filters, word
// generators, migrators (format above 1.02), users, roles, databases, jobs,
// stores (format 2.00 on) and modules (format 2.04 on), each as a
// collection. The root's own record, data types, collations and the
// authorizations list are never stored, nor are System objects.
//
// Owned by one session and used by its thread only.
class TBRNConfig : public TBRNConfigRoot,
                   public TBRNLockableConfigObject,
                   public TBRNAuthorizationRoot,
                   public TBRNCatalogHooks,
                   public TBRNModuleHost {
 public:
  // A new configuration with its built-in objects, in the newest format.
  TBRNConfig();
  ~TBRNConfig() override;

  int32_t NextID = 2;
  int64_t Version = kNewestFormatVersion;
  std::string Path;  // the configuration folder
  // The built-in objects; each is nullptr once a load dropped it (only the
  // Administrator user, which is not System, can be dropped).
  TBRNWordGenerator* DefaultWordGenerator = nullptr;
  TBRNUser* SystemUser = nullptr;
  TBRNUser* AdministratorUser = nullptr;
  TBRNRole* AdministratorsRole = nullptr;
  TBRNRole* PublicRole = nullptr;
  TBRNDatabaseContainer* ConfigurationDatabase = nullptr;
  TBRNDatabaseContainer* CursorCacheDatabase = nullptr;
  std::unique_ptr<TBRNUsers> Users;
  std::unique_ptr<TBRNRoles> Roles;
  std::unique_ptr<TBRNDataTypes> DataTypes;
  std::unique_ptr<TBRNCollations> Collations;
  std::unique_ptr<TBRNModules> Modules;
  std::unique_ptr<TBRNTextFilters> TextFilters;
  std::unique_ptr<TBRNWordGenerators> WordGenerators;
  std::unique_ptr<TBRNMigrators> Migrators;
  std::unique_ptr<TBRNAuthorizations> Authorizations;
  std::unique_ptr<TBRNDatabaseContainers> Databases;
  std::unique_ptr<TBRNJobs> Jobs;
  std::unique_ptr<TBRNStores> Stores;
  // The session's SQL parser and validator (not owned), which compile the
  // expressions of configuration and catalog objects.
  TBRNExprParser* Parser = nullptr;
  TBRNExprValidator* Validator = nullptr;
  TBRNConfigHooks Hooks;
  bool Modified = false;

  // Version; setting a different one marks the configuration modified.
  int64_t GetVersion() const override;
  void SetVersion(int64_t value);
  bool GetModified() const override;
  void SetModified(bool value) override;

  // The smallest lock number from 1 up that no user (job, store, module)
  // holds.
  int32_t NextUserLockNumber() const;
  int32_t NextJobLockNumber() const;
  int32_t NextStoreLockNumber() const;
  int32_t NextModuleLockNumber() const;
  // true for the System user and for users granted "Administrators".
  bool IsAdministrator(const TBRNUser* user) const;
  // The name of a collation ID through the hook; empty without it.
  std::string GetCollationName(int32_t collationID) const;

  // Renames a user or role and every reference to it, in the configuration
  // and in the catalog of every database other than the two built-in ones,
  // or changes nothing: each such catalog is first made ready through
  // Hooks.RenameCatalogs; when one cannot be (or the hook is missing), or a
  // commit fails, every catalog is cancelled, the configuration is put back
  // as it was and the error passes on. Checks the new name first (400 when
  // a user or role has it, 406 when it is no identifier, 200 for a System
  // object).
  void RenameAuthorization(TBRNAuthorization* authorization, const std::string& newName);

  // TBRNConfigRoot.
  int64_t GetFormatVersion() const override;
  bool GetRootModified() const override;
  void SetRootModified(bool value) override;
  // NextID advanced (restarting at 1 after 2147483647); marks modified.
  int32_t NextObjectID() override;
  void OnObjectUnloaded(TBRNConfigObject* object) override;

  // TBRNAuthorizationRoot.
  TBRNUsers* GetUsers() override;
  TBRNRoles* GetRoles() override;
  TBRNAuthorizations* GetAuthorizations() override;
  TBRNUser* GetSystemUser() override;
  TBRNRole* GetAdministratorsRole() override;
  TBRNRole* GetPublicRole() override;
  void RebuildAuthorizations() override;
  void CollectAuthorizationHolders(std::vector<TBRNConfigObjects*>& holders) override;

  // TBRNCatalogHooks: forwarded to Hooks.
  void OnCatalogReadBegin(TBRNDatabaseContainer* database) override;
  void OnCatalogReadEnd(TBRNDatabaseContainer* database) override;
  void OnCatalogUpdateBegin(TBRNDatabaseContainer* database) override;
  void OnCatalogUpdateCancel(TBRNDatabaseContainer* database) override;
  void OnCatalogUpdateCommit(TBRNDatabaseContainer* database) override;

  // TBRNModuleHost: Path, the lists, and the module events forwarded to
  // Hooks.
  std::string GetConfigFolder() const override;
  TBRNModules* GetModules() override;
  TBRNTextFilters* GetTextFilters() override;
  TBRNWordGenerators* GetWordGenerators() override;
  TBRNMigrators* GetMigrators() override;
  TBRNConfigObjects* GetDatabaseEntries() override;
  void BeforeModuleLoad(TBRNModule* module) override;
  void ModuleLoadFailed(TBRNModule* module, const EBRNException& error) override;
  void AfterModuleUnload(TBRNModule* module) override;
  void ModuleCallback(TBRNModule* module, int32_t request, int32_t* size, char* buffer) override;

  // The object base.
  std::string GetObjectTypeName() const override;
  bool HasName() const override;
  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;
  void Validate() override;
  void ResetAllLinks() override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  // Copies Version and NextID and the members of every stored collection
  // (the two roots never share a member).
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  // The configuration stream; clears Modified.
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  // Reads the configuration stream of the version it carries (a version
  // above the newest raises 100 after Version was set); clears Modified.
  void LoadFromStream(TBRNMemoryStream& stream) override;

 private:
  // The stored collections in stream order.
  std::vector<TBRNConfigObjects*> storedCollections() const;
  void makeBuiltInObjects();
  template <typename Item>
  Item* addBuiltIn(TBRNConfigObjects& list, Item* item);
  // Every database other than the two built-in ones.
  std::vector<TBRNDatabaseContainer*> renameDatabases() const;

  // Set while RenameAuthorization holds the catalogs: their update hooks
  // are then answered by the rename itself.
  bool inRename_ = false;
  bool renameCatalogFailed_ = false;
};

}  // namespace brn
