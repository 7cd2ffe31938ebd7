#include "metadata/config/config.h"

#include <exception>
#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/locks/lockable.h"
#include "foundation/runtime/interlocked.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/config/jobs.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/type_lists.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module.h"
#include "metadata/modules/text_filters.h"

namespace brn {

namespace {

// The smallest number from 1 up that no member holds: whenever a member holds
// the candidate, the next candidate is checked against every member again.
template <typename Members, typename LockNumberOf>
int32_t smallestFreeLockNumber(const Members* members, LockNumberOf lockNumberOf) {
  int32_t candidate = 1;
  if (members == nullptr) return candidate;
  bool taken = true;
  while (taken) {
    taken = false;
    for (int32_t i = 0; i < members->Count(); ++i) {
      if (lockNumberOf(members, i) == candidate) {
        ++candidate;
        taken = true;
        break;
      }
    }
  }
  return candidate;
}

}  // namespace

TBRNConfig::TBRNConfig() : TBRNLockableConfigObject(nullptr) {
  ID = 1;
  DataTypes = std::make_unique<TBRNDataTypes>(this);
  Collations = std::make_unique<TBRNCollations>(this);
  Modules = std::make_unique<TBRNModules>(this);
  TextFilters = std::make_unique<TBRNTextFilters>(this);
  WordGenerators = std::make_unique<TBRNWordGenerators>(this);
  Migrators = std::make_unique<TBRNMigrators>(this);
  Authorizations = std::make_unique<TBRNAuthorizations>(this);
  Users = std::make_unique<TBRNUsers>(this);
  Roles = std::make_unique<TBRNRoles>(this);
  Databases = std::make_unique<TBRNDatabaseContainers>(this);
  Jobs = std::make_unique<TBRNJobs>(this);
  Stores = std::make_unique<TBRNStores>(this);
  for (TBRNConfigObject* list : std::vector<TBRNConfigObject*>{
           DataTypes.get(), Collations.get(), Modules.get(), TextFilters.get(),
           WordGenerators.get(), Migrators.get(), Authorizations.get(), Users.get(), Roles.get(),
           Databases.get(), Jobs.get(), Stores.get()}) {
    list->Owner = this;
  }
  makeBuiltInObjects();
}

TBRNConfig::~TBRNConfig() {
  // The lists that only point at members go first, then the objects that
  // refer to users and roles, then the users and roles themselves.
  if (Authorizations != nullptr) Authorizations->Clear();
  Stores.reset();
  Jobs.reset();
  Databases.reset();
  Users.reset();
  Roles.reset();
  Authorizations.reset();
  Migrators.reset();
  WordGenerators.reset();
  TextFilters.reset();
  Modules.reset();
  Collations.reset();
  DataTypes.reset();
}

template <typename Item>
Item* TBRNConfig::addBuiltIn(TBRNConfigObjects& list, Item* item) {
  try {
    list.AddObject(item);
  } catch (...) {
    delete item;
    throw;
  }
  return item;
}

void TBRNConfig::makeBuiltInObjects() {
  auto* generator = new TBRNWordGenerator(this);
  generator->SetSystem(true);
  generator->Name = kDefaultWordGeneratorName;
  generator->Description = "Default Word Generator";
  DefaultWordGenerator = addBuiltIn(*WordGenerators, generator);

  auto* system = new TBRNUser(this);
  system->SetSystem(true);
  system->Name = kSystemUserName;
  system->Description = "System User";
  system->LockNumber = NextUserLockNumber();
  SystemUser = addBuiltIn(*Users, system);

  auto* administrators = new TBRNRole(this);
  administrators->SetSystem(true);
  administrators->Name = kAdministratorsRoleName;
  administrators->Description = "Administrators Role";
  AdministratorsRole = addBuiltIn(*Roles, administrators);

  auto* everyone = new TBRNRole(this);
  everyone->SetSystem(true);
  everyone->Name = kPublicRoleName;
  everyone->Description = "Public Role";
  PublicRole = addBuiltIn(*Roles, everyone);

  auto* administrator = new TBRNUser(this);
  try {
    administrator->Name = kAdministratorUserName;
    administrator->Description = "Administrator User";
    administrator->SetPassword(kDefaultAdministratorPassword);
    administrator->LockNumber = NextUserLockNumber();
  } catch (...) {
    delete administrator;
    throw;
  }
  AdministratorUser = addBuiltIn(*Users, administrator);
  AdministratorUser->GrantRole(SystemUser, AdministratorsRole);

  auto* configuration = TBRNDatabaseContainer::CreateOwned(this, SystemUser);
  configuration->SetSystem(true);
  configuration->ReadOnly = true;
  configuration->Name = kConfigurationDatabaseName;
  configuration->Description = "Configuration Database";
  ConfigurationDatabase = addBuiltIn(*Databases, configuration);
  ConfigurationDatabase->ApplyDefaultGrants();
  ConfigurationDatabase->Grant(SystemUser, PublicRole, pkSelect);
  ConfigurationDatabase->SessionPrivate = true;

  auto* cursorCache = TBRNDatabaseContainer::CreateOwned(this, SystemUser);
  cursorCache->SetSystem(true);
  cursorCache->Name = kCursorCacheDatabaseName;
  cursorCache->Description = "Cached Cursors Database";
  CursorCacheDatabase = addBuiltIn(*Databases, cursorCache);
  CursorCacheDatabase->ApplyDefaultGrants();
  CursorCacheDatabase->GrantAll(SystemUser, PublicRole);
  CursorCacheDatabase->SessionPrivate = true;
}

// ---------------------------------------------------------------------------
// Version, modified flag, IDs and lock numbers

int64_t TBRNConfig::GetVersion() const {
  return Version;
}

void TBRNConfig::SetVersion(int64_t value) {
  if (value == Version) return;
  Version = value;
  Modified = true;
}

bool TBRNConfig::GetModified() const {
  return Modified;
}

void TBRNConfig::SetModified(bool value) {
  Modified = value;
}

int64_t TBRNConfig::GetFormatVersion() const {
  return Version;
}

bool TBRNConfig::GetRootModified() const {
  return Modified;
}

void TBRNConfig::SetRootModified(bool value) {
  Modified = value;
}

int32_t TBRNConfig::NextObjectID() {
  int32_t id = IncrementCounter(NextID, 1);
  Modified = true;
  return id;
}

void TBRNConfig::OnObjectUnloaded(TBRNConfigObject* object) {
  if (object == AdministratorUser) AdministratorUser = nullptr;
  if (Hooks.OnObjectUnloaded) Hooks.OnObjectUnloaded(object);
}

int32_t TBRNConfig::NextUserLockNumber() const {
  return smallestFreeLockNumber(
      Users.get(), [](const TBRNUsers* users, int32_t i) { return users->GetUser(i)->LockNumber; });
}

int32_t TBRNConfig::NextJobLockNumber() const {
  return smallestFreeLockNumber(
      Jobs.get(), [](const TBRNJobs* jobs, int32_t i) { return jobs->GetJob(i)->LockNumber; });
}

int32_t TBRNConfig::NextStoreLockNumber() const {
  return smallestFreeLockNumber(Stores.get(), [](const TBRNStores* stores, int32_t i) {
    return stores->GetStore(i)->LockNumber;
  });
}

int32_t TBRNConfig::NextModuleLockNumber() const {
  return smallestFreeLockNumber(Modules.get(), [](const TBRNModules* modules, int32_t i) {
    return modules->GetModule(i)->LockNumber;
  });
}

bool TBRNConfig::IsAdministrator(const TBRNUser* user) const {
  if (user == nullptr) return false;
  if (user == SystemUser) return true;
  return AdministratorsRole != nullptr && user->HasRole(AdministratorsRole);
}

std::string TBRNConfig::GetCollationName(int32_t collationID) const {
  std::string name;
  if (Hooks.GetCollationName) Hooks.GetCollationName(collationID, name);
  return name;
}

// ---------------------------------------------------------------------------
// Renaming users and roles

std::vector<TBRNDatabaseContainer*> TBRNConfig::renameDatabases() const {
  std::vector<TBRNDatabaseContainer*> databases;
  for (int32_t i = 0; i < Databases->Count(); ++i) {
    TBRNDatabaseContainer* database = Databases->GetDatabase(i);
    // The built-in databases have no catalog file of their own.
    if (!database->SessionPrivate) databases.push_back(database);
  }
  return databases;
}

void TBRNConfig::RenameAuthorization(TBRNAuthorization* authorization, const std::string& newName) {
  if (authorization == nullptr) throw std::invalid_argument("Rename of no authorization");
  if (inRename_) throw std::logic_error("A rename is already running");
  authorization->CheckNotSystem();
  // A user may not bear a role's name and a role not a user's.
  Users->CheckNewName(authorization, newName);
  Roles->CheckNewName(authorization, newName);
  if (authorization->Name == newName) return;

  std::vector<TBRNDatabaseContainer*> databases = renameDatabases();
  TBRNRenameCatalogs* catalogs = Hooks.RenameCatalogs;
  if (!databases.empty() && catalogs == nullptr) {
    RaiseMetadataError(FormatText(
        "The %s %s cannot be renamed because the catalog of the database %s cannot be updated",
        {authorization->GetObjectTypeName(), authorization->GetName(), databases[0]->GetName()}));
  }

  // Every catalog is made ready before anything changes.
  size_t begun = 0;
  try {
    for (; begun < databases.size(); ++begun) {
      catalogs->BeginCatalogRename(databases[begun]);
      if (databases[begun]->Catalog == nullptr) databases[begun]->RaiseCatalogNotRead();
    }
  } catch (...) {
    for (size_t i = 0; i < begun; ++i) catalogs->CancelCatalogRename(databases[i]);
    throw;
  }

  // The configuration as it was, to put back when the rename fails later.
  TBRNMemoryStream snapshot;
  bool wasModified = Modified;
  SaveToStream(snapshot, false);
  Modified = wasModified;
  size_t committed = 0;
  inRename_ = true;
  renameCatalogFailed_ = false;
  try {
    authorization->NotifyRenamed(newName);
    if (renameCatalogFailed_) {
      RaiseMetadataError(
          FormatText("The %s %s cannot be renamed because a catalog could not be updated",
                     {authorization->GetObjectTypeName(), authorization->GetName()}));
    }
    authorization->SetName(newName);
    inRename_ = false;
    for (; committed < databases.size(); ++committed) {
      catalogs->CommitCatalogRename(databases[committed]);
    }
  } catch (...) {
    inRename_ = false;
    // The catalog whose commit failed is cancelled with those not reached;
    // the ones committed before it keep the new name.
    for (size_t i = committed; i < databases.size(); ++i) {
      catalogs->CancelCatalogRename(databases[i]);
    }
    snapshot.SetPosition(0);
    LoadFromStream(snapshot);
    Modified = wasModified;
    ResetAllLinks();
    AdvanceChangeEpoch();
    throw;
  }
  Modified = true;
}

// ---------------------------------------------------------------------------
// TBRNAuthorizationRoot

TBRNUsers* TBRNConfig::GetUsers() {
  return Users.get();
}

TBRNRoles* TBRNConfig::GetRoles() {
  return Roles.get();
}

TBRNAuthorizations* TBRNConfig::GetAuthorizations() {
  return Authorizations.get();
}

TBRNUser* TBRNConfig::GetSystemUser() {
  return SystemUser;
}

TBRNRole* TBRNConfig::GetAdministratorsRole() {
  return AdministratorsRole;
}

TBRNRole* TBRNConfig::GetPublicRole() {
  return PublicRole;
}

void TBRNConfig::RebuildAuthorizations() {
  if (Authorizations == nullptr) return;
  Authorizations->Clear();
  if (Users != nullptr) {
    for (int32_t i = 0; i < Users->Count(); ++i) Authorizations->AddObject(Users->GetItem(i));
  }
  if (Roles != nullptr) {
    for (int32_t i = 0; i < Roles->Count(); ++i) Authorizations->AddObject(Roles->GetItem(i));
  }
}

void TBRNConfig::CollectAuthorizationHolders(std::vector<TBRNConfigObjects*>& holders) {
  for (TBRNConfigObjects* list : std::vector<TBRNConfigObjects*>{
           Users.get(), Roles.get(), Databases.get(), Jobs.get(), Stores.get()}) {
    if (list != nullptr) holders.push_back(list);
  }
}

// ---------------------------------------------------------------------------
// Hooks

void TBRNConfig::OnCatalogReadBegin(TBRNDatabaseContainer* database) {
  if (Hooks.OnCatalogReadBegin) Hooks.OnCatalogReadBegin(database);
}

void TBRNConfig::OnCatalogReadEnd(TBRNDatabaseContainer* database) {
  if (Hooks.OnCatalogReadEnd) Hooks.OnCatalogReadEnd(database);
}

// During a rename the catalogs are already held by RenameAuthorization,
// which commits or cancels them all at the end.
void TBRNConfig::OnCatalogUpdateBegin(TBRNDatabaseContainer* database) {
  if (inRename_) return;
  if (Hooks.OnCatalogUpdateBegin) Hooks.OnCatalogUpdateBegin(database);
}

void TBRNConfig::OnCatalogUpdateCancel(TBRNDatabaseContainer* database) {
  if (inRename_) {
    if (!database->SessionPrivate) renameCatalogFailed_ = true;
    return;
  }
  if (Hooks.OnCatalogUpdateCancel) Hooks.OnCatalogUpdateCancel(database);
}

void TBRNConfig::OnCatalogUpdateCommit(TBRNDatabaseContainer* database) {
  if (inRename_) return;
  if (Hooks.OnCatalogUpdateCommit) Hooks.OnCatalogUpdateCommit(database);
}

std::string TBRNConfig::GetConfigFolder() const {
  return Path;
}

TBRNModules* TBRNConfig::GetModules() {
  return Modules.get();
}

TBRNTextFilters* TBRNConfig::GetTextFilters() {
  return TextFilters.get();
}

TBRNWordGenerators* TBRNConfig::GetWordGenerators() {
  return WordGenerators.get();
}

TBRNMigrators* TBRNConfig::GetMigrators() {
  return Migrators.get();
}

TBRNConfigObjects* TBRNConfig::GetDatabaseEntries() {
  return Databases.get();
}

void TBRNConfig::BeforeModuleLoad(TBRNModule* module) {
  if (Hooks.OnModuleLoading) Hooks.OnModuleLoading(module);
}

void TBRNConfig::ModuleLoadFailed(TBRNModule* module, const EBRNException& error) {
  if (Hooks.OnModuleLoadFailed) Hooks.OnModuleLoadFailed(module, error);
}

void TBRNConfig::AfterModuleUnload(TBRNModule* module) {
  if (Hooks.OnModuleUnloaded) Hooks.OnModuleUnloaded(module);
}

void TBRNConfig::ModuleCallback(TBRNModule* module, int32_t request, int32_t* size, char* buffer) {
  if (Hooks.OnModuleCallback) Hooks.OnModuleCallback(module, request, size, buffer);
}

// ---------------------------------------------------------------------------
// The object base

std::string TBRNConfig::GetObjectTypeName() const {
  return "configuration";
}

bool TBRNConfig::HasName() const {
  return false;
}

int32_t TBRNConfig::GetLockOffset(uint8_t lockType) const {
  switch (lockType) {
    case ltRead:
    case ltWrite:
      return kConfigReadLockOffset;
    case ltTransaction:
      return kConfigTransactionLockOffset;
    default:
      return 0;
  }
}

int32_t TBRNConfig::GetLockLength(uint8_t lockType) const {
  switch (lockType) {
    case ltRead:
    case ltWrite:
      return kLockRangeLength;
    case ltTransaction:
      return kConfigTransactionLockLength;
    default:
      return 0;
  }
}

void TBRNConfig::Validate() {
  TBRNLockableConfigObject::Validate();
  Users->Validate();
  Roles->Validate();
  Databases->Validate();
  Jobs->Validate();
  Stores->Validate();
  Modules->Validate();
}

void TBRNConfig::ResetAllLinks() {
  TBRNLockableConfigObject::ResetAllLinks();
  TextFilters->ResetAllLinks();
  WordGenerators->ResetAllLinks();
  Users->ResetAllLinks();
  Roles->ResetAllLinks();
  Databases->ResetAllLinks();
  Jobs->ResetAllLinks();
  Stores->ResetAllLinks();
  Modules->ResetAllLinks();
}

int64_t TBRNConfig::GetMemorySize() const {
  int64_t size = TBRNLockableConfigObject::GetMemorySize() + int64_t(sizeof(TBRNConfig)) -
                 int64_t(sizeof(TBRNLockableConfigObject)) + StringMemSize(Path);
  for (const TBRNConfigObjects* list : std::vector<const TBRNConfigObjects*>{
           DataTypes.get(), Collations.get(), Modules.get(), TextFilters.get(),
           WordGenerators.get(), Migrators.get(), Authorizations.get(), Users.get(), Roles.get(),
           Databases.get(), Jobs.get(), Stores.get()}) {
    size += list->GetMemorySize();
  }
  return size;
}

int32_t TBRNConfig::GetObjectCount() const {
  int32_t count = TBRNLockableConfigObject::GetObjectCount();
  for (const TBRNConfigObjects* list : std::vector<const TBRNConfigObjects*>{
           DataTypes.get(), Collations.get(), Modules.get(), TextFilters.get(),
           WordGenerators.get(), Migrators.get(), Authorizations.get(), Users.get(), Roles.get(),
           Databases.get(), Jobs.get(), Stores.get()}) {
    count += list->GetObjectCount();
  }
  return count;
}

std::vector<TBRNConfigObjects*> TBRNConfig::storedCollections() const {
  return {TextFilters.get(), WordGenerators.get(), Migrators.get(), Users.get(),  Roles.get(),
          Databases.get(),   Jobs.get(),           Stores.get(),    Modules.get()};
}

void TBRNConfig::Assign(const TBRNConfigObject* source, bool copyState) {
  auto* other = dynamic_cast<const TBRNConfig*>(source);
  if (other == nullptr || other == this) return;
  Version = other->Version;
  NextID = other->NextID;
  std::vector<TBRNConfigObjects*> mine = storedCollections();
  std::vector<TBRNConfigObjects*> theirs = other->storedCollections();
  for (size_t i = 0; i < mine.size(); ++i) mine[i]->Assign(theirs[i], copyState);
  Modified = true;
  ResetAllLinks();
  AdvanceChangeEpoch();
}

void TBRNConfig::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  stream.WriteInt64(Version);
  stream.WriteInteger(NextID);
  for (TBRNConfigObjects* list : storedCollections()) list->SaveToStream(stream, structureOnly);
  Modified = false;
}

void TBRNConfig::LoadFromStream(TBRNMemoryStream& stream) {
  // The members' version gates consult Version while they load.
  Version = readStoredInt64(stream);
  CheckVersion(Version);
  NextID = readStoredInteger(stream);
  TextFilters->LoadFromStream(stream);
  WordGenerators->LoadFromStream(stream);
  if (Version > kFormatVersion102) Migrators->LoadFromStream(stream);
  Users->LoadFromStream(stream);
  Roles->LoadFromStream(stream);
  Databases->LoadFromStream(stream);
  Jobs->LoadFromStream(stream);
  if (Version >= kFormatVersion200) Stores->LoadFromStream(stream);
  if (Version >= kFormatVersion204) Modules->LoadFromStream(stream);
  Loaded = true;
  AdvanceChangeEpoch();
  Modified = false;
}

}  // namespace brn
