// The configuration commands on stores and their files: CREATE, ALTER,
// DROP, RENAME and OPEN STORE; COPY, RENAME and DELETE FILE; SET BACKUPS,
// UPDATES and FILES STORE.

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/config/config.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "sessions/config/config_command_frame.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/config_lock_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/progress_scope.h"
#include "sessions/stores/local_store_manager.h"

namespace brn {

namespace {

constexpr int32_t kOperationOpenStore = 38;

int32_t percentOf(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  return int32_t(std::llround(double(done) / double(total) * 100.0));
}

TBRNStore* findStore(TBRNLocalSessionManager& session, const std::string& name) {
  return static_cast<TBRNStore*>(session.Config->Stores->FindByName(name, true));
}

// A store opened by name for the enclosing scope; closed (not forced) when
// the scope ends, also through an exception (a close error is then dropped:
// the error that left the scope is the one to report).
class TOpenedStore {
 public:
  TOpenedStore(TBRNLocalSessionManager& session, const std::string& name)
      : session_(session), manager_(session.OpenStore(name, kBRNLockShared, false)) {
    Store = findStore(session, name);
  }
  ~TOpenedStore() {
    if (manager_ == nullptr) return;
    try {
      session_.CloseStore(manager_);
    } catch (...) {
    }
  }
  TOpenedStore(const TOpenedStore&) = delete;
  TOpenedStore& operator=(const TOpenedStore&) = delete;

  TBRNStoreManager& Manager() const { return *manager_; }
  // Closes now, so that a failing close reaches the caller.
  void Close() { session_.CloseStore(manager_); }

  TBRNStore* Store = nullptr;

 private:
  TBRNLocalSessionManager& session_;
  TBRNStoreManager* manager_;
};

TBRNStageReporter reportFileStage(TBRNLocalSessionManager& session,
                                  void (TBRNLocalSessionManager::*reporter)(TBRNOperationStage,
                                                                            const TBRNConfigObject*,
                                                                            const std::string&),
                                  const TBRNStore* store, const std::string& fileName) {
  return [&session, reporter, store, fileName](TBRNOperationStage stage) {
    (session.*reporter)(stage, store, fileName);
  };
}

}  // namespace

// ---------------------------------------------------------------------------
// Errors

void TBRNLocalSessionManager::RaiseStoreObjectError(TBRNStore* store, const std::string& detail) {
  throw EBRNException(1306, FormatText("Error with the %s %s (%s)",
                                       {store->GetObjectTypeName(), store->Name, detail}));
}

void TBRNLocalSessionManager::RaiseRemoteStoreError(TBRNStore* store) {
  RaiseStoreObjectError(store, "A remote store cannot be the target of a local operation");
  throw std::logic_error("RaiseStoreObjectError returned");
}

void TBRNLocalSessionManager::RaiseStoreFileReadError(TBRNStore* store,
                                                      const std::string& fileName) {
  RaiseStoreObjectError(store, FormatText("Error reading from the file %s", {fileName}));
  throw std::logic_error("RaiseStoreObjectError returned");
}

void TBRNLocalSessionManager::RaiseStoreFileWriteError(TBRNStore* store,
                                                       const std::string& fileName) {
  RaiseStoreObjectError(store, FormatText("Error writing to the file %s", {fileName}));
  throw std::logic_error("RaiseStoreObjectError returned");
}

void TBRNLocalSessionManager::RaiseInvalidStoreFileNameError(TBRNStore* store,
                                                             const std::string& fileName) {
  RaiseStoreObjectError(store, FormatText("Invalid file name %s", {fileName}));
  throw std::logic_error("RaiseStoreObjectError returned");
}

// ---------------------------------------------------------------------------
// Definition

TBRNStore* TBRNLocalSessionManager::BeginCreateStore(const std::string& name) {
  return static_cast<TBRNStore*>(
      BeginCreateObject(*this, ConfigStatementText("CREATE STORE %s", name), [&] {
        // With the defaults of a new store (port, compression, time-out,
        // ping): a store created through this call alone must be usable.
        // No owner given: the System user owns it.
        std::unique_ptr<TBRNStore> store(
            static_cast<TBRNStore*>(Config->Stores->NewItemOwnedBy(nullptr)));
        store->Name = name;
        store->SetLockNumber(Config->NextStoreLockNumber());
        store->ApplyDefaultGrants();
        return std::unique_ptr<TBRNConfigObject>(store.release());
      }));
}

void TBRNLocalSessionManager::EndCreateStore(TBRNStore* store) {
  EndCreateObject(*this, *Config->Stores, store);
}

void TBRNLocalSessionManager::CancelCreateStore(TBRNStore* store) {
  CancelCreateObject(*this, *Config->Stores, store);
}

TBRNStore* TBRNLocalSessionManager::BeginAlterStore(const std::string& name) {
  RunConfigChecks(*this, kConfigChecksChange, ConfigStatementText("ALTER STORE %s", name));
  TBRNConfigUpdateBracket update(*this);
  TBRNStore* store = findStore(*this, name);
  ReportAlterStatus(osStarting, store);
  try {
    // No session may have the store open while it changes.
    ConfigLockManager->LockObject(store, ltExclusive, -1);
  } catch (...) {
    try {
      ReportAlterStatus(osNotCompleted, store);
    } catch (...) {
    }
    throw;
  }
  update.Release();
  return store;
}

void TBRNLocalSessionManager::EndAlterStore(TBRNStore* store) {
  ConfigLockManager->UnlockObject(store, ltExclusive);
  EndAlterObject(*this, store);
}

void TBRNLocalSessionManager::CancelAlterStore(TBRNStore* store) {
  if (store != nullptr) {
    try {
      ConfigLockManager->UnlockObject(store, ltExclusive);
    } catch (...) {
      // The cancel goes on: the reload must undo the change.
    }
  }
  CancelAlterObject(*this, store);
}

void TBRNLocalSessionManager::DropStore(const std::string& name, bool keepFiles) {
  RunConfigChecks(*this, kConfigChecksChange, ConfigStatementText("DROP STORE %s", name));
  TBRNConfigUpdateBracket update(*this);
  TBRNStore* store = findStore(*this, name);
  // Declared before the stages: a failure reports stage 1 while the store
  // still exists.
  std::unique_ptr<TBRNConfigObject> detached;
  TBRNStatusStages stages(ReportDrop(*this, store));
  if (!IsSystemUser()) store->CheckNotSystem();
  auto* manager = dynamic_cast<TBRNLocalStoreManager*>(GetStoreManager(store));
  if (manager == nullptr) throw std::logic_error("The store has no local store handle");
  manager->DropStore(keepFiles);
  ReleaseObjectHandles(store);
  Config->Stores->Detach(store);
  detached.reset(store);
  update.Commit();
  stages.Complete();
}

void TBRNLocalSessionManager::RenameStore(const std::string& name, const std::string& newName) {
  RunConfigChecks(*this, kConfigChecksChange,
                  ConfigStatementText("RENAME STORE %s TO %s", name, newName));
  TBRNConfigUpdateBracket update(*this);
  TBRNStore* store = findStore(*this, name);
  TBRNStatusStages stages(ReportRename(*this, store));
  if (!IsSystemUser()) store->CheckNotSystem();
  Config->Stores->CheckNewName(store, newName);
  store->Name = newName;
  store->LoadedName = newName;
  store->SetModified(true);
  update.Commit();
  stages.Complete();
}

// ---------------------------------------------------------------------------
// Opening

TBRNStoreManager* TBRNLocalSessionManager::OpenStore(const std::string& storeName, uint8_t lockType,
                                                     bool localOnly) {
  try {
    RequireLogin(ConfigStatementText("OPEN STORE %s", storeName));
    TBRNConfigReadBracket read(*this);
    auto* store =
        static_cast<TBRNStore*>(Config->Stores->FindByNameForUser(storeName, CurrentUser, true));
    if (localOnly && store->StoreType == kRemoteStore) RaiseRemoteStoreError(store);
    TBRNStoreManager* manager = GetStoreManager(store);
    manager->OpenStore(lockType);
    return manager;
  } catch (const std::exception& error) {
    LogOperationError(error, kOperationOpenStore);
    throw;
  }
}

// ---------------------------------------------------------------------------
// Files

void TBRNLocalSessionManager::CopyStoreFile(const std::string& storeName,
                                            const std::string& fileName, const std::string& newName,
                                            const std::string& targetStore) {
  const std::string statement = ConfigStatementText("COPY FILE %s TO %s", fileName, newName);
  TOpenedStore source(*this, storeName);
  if (targetStore.empty() || TextEqualsIgnoreCase(targetStore, storeName)) {
    CheckPrivilege(source.Store, pkCreate, statement);
    source.Manager().CopyFile(fileName, newName);
    source.Close();
    return;
  }

  TOpenedStore target(*this, targetStore);
  CheckPrivilege(target.Store, pkCreate, statement);
  TBRNStatusStages stages(reportFileStage(*this, &TBRNLocalSessionManager::ReportFileCopyStatus,
                                          source.Store, fileName));
  bool proceed = true;
  {
    TBRNProgressScope progress(*this);
    TBRNMemoryStream work;
    work.SetSize(kBRNStoreCopyChunkSize);
    TBRNStoreManager& input = source.Manager();
    TBRNStoreManager& output = target.Manager();
    const int64_t total = input.BeginReadFile(fileName);
    try {
      output.BeginWriteFile(newName);
    } catch (...) {
      try {
        input.CancelReadFile();
      } catch (...) {
      }
      throw;
    }
    try {
      int64_t done = 0;
      while (proceed && done < total) {
        work.SetPosition(0);
        const uint32_t n = input.ReadFile(work, kBRNStoreCopyChunkSize);
        if (n == 0 || n > uint32_t(kBRNStoreCopyChunkSize))
          RaiseStoreFileReadError(source.Store, fileName);
        done += n;
        proceed = UpdateProgress(percentOf(done, total));
        work.SetPosition(0);
        if (output.WriteFile(work, n) != n) RaiseStoreFileWriteError(target.Store, newName);
      }
      if (proceed)
        output.EndWriteFile();
      else
        output.CancelWriteFile();
      input.EndReadFile();
    } catch (...) {
      // A failed copy leaves no partial target, as a stopped one.
      try {
        output.CancelWriteFile();
      } catch (...) {
      }
      try {
        input.CancelReadFile();
      } catch (...) {
      }
      throw;
    }
  }
  target.Close();
  source.Close();
  if (proceed) stages.Complete();
  // A stopped copy leaves through the stages' destructor: stage 1.
}

void TBRNLocalSessionManager::RenameStoreFile(const std::string& storeName,
                                              const std::string& fileName,
                                              const std::string& newName) {
  TOpenedStore store(*this, storeName);
  CheckPrivilege(store.Store, pkAlter,
                 FormatText("RENAME FILE %s IN STORE %s TO %s", {fileName, storeName, newName}));
  {
    TBRNStatusStages stages(reportFileStage(*this, &TBRNLocalSessionManager::ReportFileRenameStatus,
                                            store.Store, fileName));
    store.Manager().RenameFile(fileName, newName);
    stages.Complete();
  }
  store.Close();
}

void TBRNLocalSessionManager::DeleteStoreFile(const std::string& storeName,
                                              const std::string& fileName) {
  TOpenedStore store(*this, storeName);
  CheckPrivilege(store.Store, pkDrop, ConfigStatementText("DELETE FILE %s", fileName));
  {
    TBRNStatusStages stages(reportFileStage(*this, &TBRNLocalSessionManager::ReportFileDeleteStatus,
                                            store.Store, fileName));
    store.Manager().DeleteFile(fileName);
    stages.Complete();
  }
  store.Close();
}

// ---------------------------------------------------------------------------
// Settings

namespace {

void setStoreSetting(TBRNLocalSessionManager& session, const std::string& name,
                     std::string& setting, const std::string& tableName,
                     const std::string& settingName) {
  {
    TBRNConfigReadBracket read(session);
    if (!name.empty()) session.Config->Stores->FindByNameForUser(name, session.CurrentUser, true);
  }
  setting = name;
  session.MarkSystemTableNotFilled(tableName);
  session.ReportSettingSet(settingName);
}

}  // namespace

void TBRNLocalSessionManager::SetBackupsStore(const std::string& name) {
  setStoreSetting(*this, name, BackupsStore, "Backups", "backups store");
}

void TBRNLocalSessionManager::SetUpdatesStore(const std::string& name) {
  setStoreSetting(*this, name, UpdatesStore, "Updates", "updates store");
}

void TBRNLocalSessionManager::SetFilesStore(const std::string& name) {
  setStoreSetting(*this, name, FilesStore, "Files", "files store");
}

void TBRNLocalSessionManager::MarkSystemTableNotFilled(const std::string& tableName) {
  if (ConfigurationDatabase == nullptr) return;
  ConfigurationDatabase->SystemTables.Invalidate(TBRNSystemTableKind::Configuration, tableName);
}

}  // namespace brn
