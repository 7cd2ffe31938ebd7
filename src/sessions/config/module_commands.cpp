// The configuration commands on modules, text filters, word generators and
// migrators, and SET MIGRATOR.
//
// The four kinds share one family of operations; they differ only in the
// steps that a kind's traits switch on (see TBRNModuleFamilyTraits).
#include <memory>
#include <string>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module.h"
#include "metadata/modules/text_filters.h"
#include "sessions/config/config_command_frame.h"
#include "sessions/config/config_object_lock.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/config_lock_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

namespace {

// What sets one kind of the family apart.
struct TBRNModuleFamilyTraits {
  const char* Keyword;  // "MODULE", "TEXT FILTER", ...
  // Modules are numbered objects of the lock file: a lock number at
  // CREATE, and an Exclusive lock during ALTER, DROP and RENAME.
  bool Locks;
  bool NotifyOnDrop;        // pass the drop on to the objects that refer to it
  bool CheckReferenced;     // refuse the drop of a referenced object (201)
  bool NotifyOnRename;      // the objects that name it follow a rename
};

constexpr TBRNModuleFamilyTraits kModuleTraits{"MODULE", true, true, true, true};
constexpr TBRNModuleFamilyTraits kTextFilterTraits{"TEXT FILTER", false, false, true, false};
constexpr TBRNModuleFamilyTraits kWordGeneratorTraits{"WORD GENERATOR", false, true, false, true};
constexpr TBRNModuleFamilyTraits kMigratorTraits{"MIGRATOR", false, false, true, false};

std::string statementText(const char* verb, const TBRNModuleFamilyTraits& traits,
                          const std::string& name) {
  return ConfigStatementText(std::string(verb) + " " + traits.Keyword + " %s", name);
}

// Lockable members only (modules); nullptr for the others.
TBRNLockableConfigObject* lockable(TBRNConfigObject* object, const TBRNModuleFamilyTraits& traits) {
  return traits.Locks ? static_cast<TBRNLockableConfigObject*>(static_cast<TBRNModule*>(object))
                      : nullptr;
}

// The operations of one kind over its collection, for a session.
class TBRNModuleFamily {
 public:
  TBRNModuleFamily(TBRNLocalSessionManager& session, TBRNConfigObjects& collection,
                   const TBRNModuleFamilyTraits& traits)
      : session_(session), collection_(collection), traits_(traits) {}

  TBRNConfigObject* BeginCreate(const std::string& name) {
    return BeginCreateObject(session_, statementText("CREATE", traits_, name), [&] {
      std::unique_ptr<TBRNConfigObject> object(collection_.NewItem());
      object->SetName(name);
      if (traits_.Locks)
        static_cast<TBRNModule*>(object.get())
            ->SetLockNumber(session_.Config->NextModuleLockNumber());
      return object;
    });
  }

  void EndCreate(TBRNConfigObject* object) { EndCreateObject(session_, collection_, object); }
  void CancelCreate(TBRNConfigObject* object) {
    CancelCreateObject(session_, collection_, object);
  }

  // ALTER makes no system check.
  TBRNConfigObject* BeginAlter(const std::string& name) {
    RunConfigChecks(session_, kConfigChecksChange, statementText("ALTER", traits_, name));
    return BeginAlterConfigObject(
        session_, [&] { return collection_.FindByName(name, true); },
        [this](TBRNConfigObject* object) {
          if (TBRNLockableConfigObject* locked = lockable(object, traits_))
            session_.ConfigLockManager->LockObject(locked, ltExclusive, -1);
        });
  }

  void EndAlter(TBRNConfigObject* object) {
    if (TBRNLockableConfigObject* locked = lockable(object, traits_))
      session_.ConfigLockManager->UnlockObject(locked, ltExclusive);
    EndAlterObject(session_, object);
  }

  void CancelAlter(TBRNConfigObject* object) {
    if (object != nullptr) {
      if (TBRNLockableConfigObject* locked = lockable(object, traits_)) {
        try {
          session_.ConfigLockManager->UnlockObject(locked, ltExclusive);
        } catch (...) {
          // The cancel goes on; the reload is what matters.
        }
      }
    }
    CancelAlterObject(session_, object);
  }

  // The built-in objects (the "Default" word generator) are refused for
  // every user, the System user included.
  void Drop(const std::string& name) {
    RunConfigChecks(session_, kConfigChecksChange, statementText("DROP", traits_, name));
    std::unique_ptr<TBRNConfigObject> dropped;
    TBRNConfigUpdateBracket update(session_);
    TBRNConfigObject* object = collection_.FindByName(name, true);
    TBRNStatusStages stages(ReportDrop(session_, object));
    object->CheckNotSystem();
    {
      std::unique_ptr<TBRNConfigObjectLock> lock;
      if (TBRNLockableConfigObject* locked = lockable(object, traits_))
        lock = std::make_unique<TBRNConfigObjectLock>(*session_.ConfigLockManager, locked,
                                                      ltExclusive);
      if (traits_.NotifyOnDrop) object->NotifyDropped();
      if (traits_.CheckReferenced) object->CheckNotReferenced("dropped");
    }
    collection_.Detach(object);
    dropped.reset(object);
    update.Commit();
    stages.Complete();
  }

  void Rename(const std::string& name, const std::string& newName) {
    RunConfigChecks(session_, kConfigChecksChange,
                    ConfigStatementText(std::string("RENAME ") + traits_.Keyword + " %s TO %s",
                                        name, newName));
    TBRNConfigUpdateBracket update(session_);
    TBRNConfigObject* object = collection_.FindByName(name, true);
    TBRNStatusStages stages(ReportRename(session_, object));
    object->CheckNotSystem();
    collection_.CheckNewName(object, newName);
    {
      std::unique_ptr<TBRNConfigObjectLock> lock;
      if (TBRNLockableConfigObject* locked = lockable(object, traits_))
        lock = std::make_unique<TBRNConfigObjectLock>(*session_.ConfigLockManager, locked,
                                                      ltExclusive);
      if (traits_.NotifyOnRename) object->NotifyRenamed(newName);
      object->SetName(newName);
    }
    update.Commit();
    stages.Complete();
  }

 private:
  TBRNLocalSessionManager& session_;
  TBRNConfigObjects& collection_;
  const TBRNModuleFamilyTraits& traits_;
};

TBRNModuleFamily modules(TBRNLocalSessionManager& session) {
  return TBRNModuleFamily(session, *session.Config->Modules, kModuleTraits);
}

TBRNModuleFamily textFilters(TBRNLocalSessionManager& session) {
  return TBRNModuleFamily(session, *session.Config->TextFilters, kTextFilterTraits);
}

TBRNModuleFamily wordGenerators(TBRNLocalSessionManager& session) {
  return TBRNModuleFamily(session, *session.Config->WordGenerators, kWordGeneratorTraits);
}

TBRNModuleFamily migrators(TBRNLocalSessionManager& session) {
  return TBRNModuleFamily(session, *session.Config->Migrators, kMigratorTraits);
}

// The information tables that list the chosen migrator's objects.
constexpr const char* kMigratorTables[] = {"MigratorParams", "MigratorTables", "MigratorViews",
                                           "MigratorFunctions", "MigratorProcedures"};

}  // namespace

// ---- Modules

TBRNModule* TBRNLocalSessionManager::BeginCreateModule(const std::string& name) {
  return static_cast<TBRNModule*>(modules(*this).BeginCreate(name));
}
void TBRNLocalSessionManager::EndCreateModule(TBRNModule* module) {
  modules(*this).EndCreate(module);
}
void TBRNLocalSessionManager::CancelCreateModule(TBRNModule* module) {
  modules(*this).CancelCreate(module);
}
TBRNModule* TBRNLocalSessionManager::BeginAlterModule(const std::string& name) {
  return static_cast<TBRNModule*>(modules(*this).BeginAlter(name));
}
void TBRNLocalSessionManager::EndAlterModule(TBRNModule* module) {
  modules(*this).EndAlter(module);
}
void TBRNLocalSessionManager::CancelAlterModule(TBRNModule* module) {
  modules(*this).CancelAlter(module);
}
void TBRNLocalSessionManager::DropModule(const std::string& name) {
  modules(*this).Drop(name);
}
void TBRNLocalSessionManager::RenameModule(const std::string& name, const std::string& newName) {
  modules(*this).Rename(name, newName);
}

// ---- Text filters

TBRNTextFilter* TBRNLocalSessionManager::BeginCreateTextFilter(const std::string& name) {
  return static_cast<TBRNTextFilter*>(textFilters(*this).BeginCreate(name));
}
void TBRNLocalSessionManager::EndCreateTextFilter(TBRNTextFilter* filter) {
  textFilters(*this).EndCreate(filter);
}
void TBRNLocalSessionManager::CancelCreateTextFilter(TBRNTextFilter* filter) {
  textFilters(*this).CancelCreate(filter);
}
TBRNTextFilter* TBRNLocalSessionManager::BeginAlterTextFilter(const std::string& name) {
  return static_cast<TBRNTextFilter*>(textFilters(*this).BeginAlter(name));
}
void TBRNLocalSessionManager::EndAlterTextFilter(TBRNTextFilter* filter) {
  textFilters(*this).EndAlter(filter);
}
void TBRNLocalSessionManager::CancelAlterTextFilter(TBRNTextFilter* filter) {
  textFilters(*this).CancelAlter(filter);
}
void TBRNLocalSessionManager::DropTextFilter(const std::string& name) {
  textFilters(*this).Drop(name);
}
void TBRNLocalSessionManager::RenameTextFilter(const std::string& name,
                                               const std::string& newName) {
  textFilters(*this).Rename(name, newName);
}

// ---- Word generators

TBRNWordGenerator* TBRNLocalSessionManager::BeginCreateWordGenerator(const std::string& name) {
  return static_cast<TBRNWordGenerator*>(wordGenerators(*this).BeginCreate(name));
}
void TBRNLocalSessionManager::EndCreateWordGenerator(TBRNWordGenerator* generator) {
  wordGenerators(*this).EndCreate(generator);
}
void TBRNLocalSessionManager::CancelCreateWordGenerator(TBRNWordGenerator* generator) {
  wordGenerators(*this).CancelCreate(generator);
}
TBRNWordGenerator* TBRNLocalSessionManager::BeginAlterWordGenerator(const std::string& name) {
  return static_cast<TBRNWordGenerator*>(wordGenerators(*this).BeginAlter(name));
}
void TBRNLocalSessionManager::EndAlterWordGenerator(TBRNWordGenerator* generator) {
  wordGenerators(*this).EndAlter(generator);
}
void TBRNLocalSessionManager::CancelAlterWordGenerator(TBRNWordGenerator* generator) {
  wordGenerators(*this).CancelAlter(generator);
}
void TBRNLocalSessionManager::DropWordGenerator(const std::string& name) {
  wordGenerators(*this).Drop(name);
}
void TBRNLocalSessionManager::RenameWordGenerator(const std::string& name,
                                                  const std::string& newName) {
  wordGenerators(*this).Rename(name, newName);
}

// ---- Migrators

TBRNMigrator* TBRNLocalSessionManager::BeginCreateMigrator(const std::string& name) {
  return static_cast<TBRNMigrator*>(migrators(*this).BeginCreate(name));
}
void TBRNLocalSessionManager::EndCreateMigrator(TBRNMigrator* migrator) {
  migrators(*this).EndCreate(migrator);
}
void TBRNLocalSessionManager::CancelCreateMigrator(TBRNMigrator* migrator) {
  migrators(*this).CancelCreate(migrator);
}
TBRNMigrator* TBRNLocalSessionManager::BeginAlterMigrator(const std::string& name) {
  return static_cast<TBRNMigrator*>(migrators(*this).BeginAlter(name));
}
void TBRNLocalSessionManager::EndAlterMigrator(TBRNMigrator* migrator) {
  migrators(*this).EndAlter(migrator);
}
void TBRNLocalSessionManager::CancelAlterMigrator(TBRNMigrator* migrator) {
  migrators(*this).CancelAlter(migrator);
}
void TBRNLocalSessionManager::DropMigrator(const std::string& name) {
  migrators(*this).Drop(name);
}
void TBRNLocalSessionManager::RenameMigrator(const std::string& name,
                                             const std::string& newName) {
  migrators(*this).Rename(name, newName);
}

void TBRNLocalSessionManager::SetMigrator(const std::string& name) {
  {
    TBRNConfigReadBracket read(*this);
    TBRNConfigObject* migrator =
        name.empty() ? nullptr : Config->Migrators->FindByName(name, true);
    Migrator = migrator != nullptr ? migrator->Name : std::string();
  }
  for (const char* tableName : kMigratorTables) MarkSystemTableNotFilled(tableName);
  ReportSettingSet("migrator");
}

}  // namespace brn
