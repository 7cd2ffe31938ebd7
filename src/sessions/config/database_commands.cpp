// The database commands of the local session: CREATE, ALTER, OPEN, DROP
// and RENAME DATABASE, and the frame of the database-wide commands.
#include <memory>
#include <stdexcept>
#include <string>

#include "foundation/files/file_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "sessions/config/config_command_frame.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

namespace {

constexpr int32_t kOperationOpenDatabase = 33;

constexpr TBRNTableFileKind kTableFileKinds[] = {
    TBRNTableFileKind::Rows, TBRNTableFileKind::Indexes, TBRNTableFileKind::Blobs,
    TBRNTableFileKind::PublishedUpdates};

// Copies a new definition into the configured entry, which keeps its place
// and identity in the collection whatever the definition object carries.
void copyDefinition(TBRNDatabaseContainer* database, const TBRNDatabaseContainer* definition) {
  const int32_t index = database->Index;
  const int32_t id = database->ID;
  database->Assign(definition, false);
  database->Index = index;
  database->ID = id;
}

// Whether two definitions place the catalog in the same spot.
bool samePlace(const TBRNDatabaseContainer* a, const TBRNDatabaseContainer* b) {
  return a->InMemory == b->InMemory && TextEqualsIgnoreCase(a->Path, b->Path);
}

// Under an update of the handle's catalog file: change (which may alter
// the entry's encryption), then the header made again from the entry's
// settings, and the whole catalog written. A failure cancels the catalog
// update and passes on.
template <typename Change>
void rewriteCatalog(TBRNLocalDatabaseManager& handle, Change&& change) {
  TBRNCatalogManager& catalogFile = *handle.CatalogManager;
  catalogFile.BeginUpdate();
  try {
    change();
    handle.Catalog->SetModified(true);
    catalogFile.InitializeHeader();
    catalogFile.CommitUpdate();
  } catch (...) {
    try {
      catalogFile.CancelUpdate();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
}

// A new place for a database's catalog is only usable when its folder
// already holds every table file the old place holds: the files are not
// moved, and a catalog naming tables without files would be broken. 401
// naming the first missing file.
void requireTableFilesAt(TBRNLocalDatabaseManager& from, TBRNLocalDatabaseManager& to) {
  TBRNConfigObjects& tables = *from.Catalog->DefaultSchema->BaseTables;
  const std::string fromFolder = from.GetSchemaFolder("");
  const std::string toFolder = to.GetSchemaFolder("");
  for (int32_t i = 0; i < tables.Count(); ++i) {
    const std::string& name = tables.GetItem(i)->Name;
    for (TBRNTableFileKind kind : kTableFileKinds) {
      const std::string extension = from.GetFileExtension(kind);
      if (!from.FileManager->FileExists(fromFolder + name + extension)) continue;
      const std::string target = toFolder + name + extension;
      if (!to.FileManager->FileExists(target)) to.RaisePathNotFoundError(target);
    }
  }
}

}  // namespace

// ---- CREATE DATABASE

TBRNDatabaseContainer* TBRNLocalSessionManager::BeginCreateDatabase(const std::string& name) {
  TBRNConfigObject* created =
      BeginCreateObject(*this, ConfigStatementText("CREATE DATABASE %s", name), [&] {
        std::unique_ptr<TBRNConfigObject> object(Config->Databases->NewItemOwnedBy(CurrentUser));
        auto* database = static_cast<TBRNDatabaseContainer*>(object.get());
        database->Name = name;
        database->ApplyDefaultGrants();
        return object;
      });
  return static_cast<TBRNDatabaseContainer*>(created);
}

void TBRNLocalSessionManager::EndCreateDatabase(TBRNDatabaseContainer* database) {
  EndCreateObject(*this, *Config->Databases, database);
}

void TBRNLocalSessionManager::CancelCreateDatabase(TBRNDatabaseContainer* database) {
  CancelCreateObject(*this, *Config->Databases, database);
}

// ---- ALTER DATABASE

TBRNDatabaseContainer* TBRNLocalSessionManager::BeginAlterDatabase(const std::string& name) {
  RunConfigChecks(*this, kConfigChecksChange, ConfigStatementText("ALTER DATABASE %s", name));
  TBRNConfigUpdateBracket update(*this);
  auto* database = static_cast<TBRNDatabaseContainer*>(Config->Databases->FindByName(name, true));
  TBRNStatusStages stages(ReportAlter(*this, database));
  database->CheckNotSystem();
  // Stage 2 or 1 and the end of the update come with End or Cancel.
  stages.Release();
  update.Release();
  return database;
}

void TBRNLocalSessionManager::EndAlterDatabase(TBRNDatabaseContainer* database,
                                               TBRNDatabaseContainer* newDefinition) {
  if (database == nullptr || newDefinition == nullptr)
    throw std::invalid_argument("EndAlterDatabase needs the database and its new definition");
  TBRNLocalDatabaseManager* handle = GetDatabaseManager(database);
  if (!handle->FileManager->DirectoryExists(handle->GetDatabasePath())) {
    copyDefinition(database, newDefinition);
  } else if (samePlace(database, newDefinition)) {
    // Exclusive: the change fails while any session has the database open.
    handle->OpenDatabase(kBRNLockExclusive);
    try {
      if (database->EncryptedCatalog == newDefinition->EncryptedCatalog)
        copyDefinition(database, newDefinition);
      else
        rewriteCatalog(*handle, [&] { copyDefinition(database, newDefinition); });
    } catch (...) {
      try {
        handle->CloseDatabase(false);
      } catch (...) {
        // The first failure is the one to report.
      }
      throw;
    }
    handle->CloseDatabase(false);
  } else {
    handle->OpenDatabase(kBRNLockExclusive);
    try {
      // The new place gets a handle of its own, made for the definition
      // object, which takes the catalog as it stands.
      TBRNLocalDatabaseManager* target = GetDatabaseManager(newDefinition);
      try {
        requireTableFilesAt(*handle, *target);
        target->OpenDatabase(kBRNLockExclusive);
        rewriteCatalog(*target, [&] { target->Catalog->Assign(handle->Catalog.get(), false); });
      } catch (...) {
        ReleaseObjectHandles(newDefinition);
        throw;
      }
      ReleaseObjectHandles(newDefinition);
      handle->CloseDatabase(false);
    } catch (...) {
      try {
        if (handle->Opened) handle->CloseDatabase(false);
      } catch (...) {
        // The first failure is the one to report.
      }
      throw;
    }
    // The handle's files were those of the old place: the entry changes
    // only once it is gone, and the next use makes a handle for the new one.
    ReleaseObjectHandles(database);
    copyDefinition(database, newDefinition);
  }
  delete newDefinition;
  EndAlterObject(*this, database);
}

void TBRNLocalSessionManager::CancelAlterDatabase(TBRNDatabaseContainer* database,
                                                  TBRNDatabaseContainer* newDefinition) {
  delete newDefinition;
  CancelAlterObject(*this, database);
}

// ---- OPEN DATABASE

TBRNDatabaseManager* TBRNLocalSessionManager::OpenDatabase(const std::string& databaseName,
                                                           uint8_t lockType) {
  try {
    RequireLogin(ConfigStatementText("OPEN DATABASE %s", databaseName));
    TBRNConfigReadBracket read(*this);
    auto* database = static_cast<TBRNDatabaseContainer*>(
        Config->Databases->FindByNameForUser(databaseName, CurrentUser, true));
    TBRNLocalDatabaseManager* handle = GetDatabaseManager(database);
    handle->OpenDatabase(lockType);
    return handle;
  } catch (const std::exception& error) {
    LogOperationError(error, kOperationOpenDatabase);
    throw;
  }
}

// ---- DROP and RENAME DATABASE

void TBRNLocalSessionManager::DropDatabase(const std::string& name, bool keepContents) {
  RunConfigChecks(*this, kConfigChecksChange, ConfigStatementText("DROP DATABASE %s", name));
  TBRNConfigUpdateBracket update(*this);
  auto* database = static_cast<TBRNDatabaseContainer*>(Config->Databases->FindByName(name, true));
  // Freed after the status of a failure was reported (it names the
  // database), before the update is cancelled.
  std::unique_ptr<TBRNDatabaseContainer> detached;
  TBRNStatusStages stages(ReportDrop(*this, database));
  if (!IsSystemUser()) database->CheckNotSystem();
  GetDatabaseManager(database)->DropDatabase(keepContents);
  ReleaseObjectHandles(database);
  Config->Databases->Detach(database);
  detached.reset(database);
  update.Commit();
  stages.Complete();
}

void TBRNLocalSessionManager::RenameDatabase(const std::string& name, const std::string& newName) {
  RunConfigChecks(*this, kConfigChecksChange,
                  ConfigStatementText("RENAME DATABASE %s TO %s", name, newName));
  TBRNConfigUpdateBracket update(*this);
  auto* database = static_cast<TBRNDatabaseContainer*>(Config->Databases->FindByName(name, true));
  TBRNStatusStages stages(ReportRename(*this, database));
  if (!IsSystemUser()) database->CheckNotSystem();
  Config->Databases->CheckNewName(database, newName);
  // Through the handle: renaming needs the database closed everywhere.
  GetDatabaseManager(database)->RenameDatabase(newName);
  database->SetName(newName);
  database->LoadedName = newName;
  update.Commit();
  stages.Complete();
}

// ---- The database-wide commands

bool TBRNLocalSessionManager::RunDatabaseCommand(const std::string& statement, bool checkWritable,
                                                 const std::string& databaseName,
                                                 TBRNDatabaseStatusReporter reporter,
                                                 const TBRNDatabaseOperation& operation) {
  RunConfigChecks(*this, kConfigCheckLogin | (checkWritable ? kConfigCheckWritable : 0), statement);
  TBRNConfigReadBracket read(*this);
  auto* database =
      static_cast<TBRNDatabaseContainer*>(Config->Databases->FindByName(databaseName, true));
  TBRNStatusStages stages(
      [this, reporter, database](TBRNOperationStage stage) { (this->*reporter)(stage, database); });
  database->CheckNotSystem();
  if (!operation(*GetDatabaseManager(database))) return false;
  stages.Complete();
  return true;
}

bool TBRNLocalSessionManager::RunDatabasePairCommand(const std::string& statement,
                                                     const std::string& databaseName,
                                                     const std::string& otherName,
                                                     const TBRNDatabasePairOperation& operation) {
  RunConfigChecks(*this, kConfigCheckLogin, statement);
  TBRNConfigReadBracket read(*this);
  auto* database =
      static_cast<TBRNDatabaseContainer*>(Config->Databases->FindByName(databaseName, true));
  auto* other = static_cast<TBRNDatabaseContainer*>(Config->Databases->FindByName(otherName, true));
  TBRNStatusStages stages([this, database, other](TBRNOperationStage stage) {
    ReportCompareStatus(stage, database, other);
  });
  database->CheckNotSystem();
  other->CheckNotSystem();
  if (!operation(*GetDatabaseManager(database), *GetDatabaseManager(other))) return false;
  stages.Complete();
  return true;
}

}  // namespace brn
