#include "sessions/databases/local_database_manager.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>

#include "foundation/files/file_manager.h"
#include "foundation/files/path_helpers.h"
#include "foundation/locks/lockable.h"
#include "foundation/runtime/clean_up_steps.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/views.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "sessions/local/config_lock_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/rows/execution_seam.h"

namespace brn {

namespace {

constexpr int32_t kOperationCloseDatabase = 34;
constexpr int32_t kOperationOpenTable = 123;

// Frees a catalog object taken out of its collection when the scope ends.
template <typename Collection>
std::unique_ptr<TBRNConfigObject> takeOut(Collection& collection, int32_t index) {
  return std::unique_ptr<TBRNConfigObject>(collection.RemoveObject(index));
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

TBRNLocalDatabaseManager::TBRNLocalDatabaseManager(TBRNDatabaseContainer* database,
                                                   TBRNFileManager* fileManager,
                                                   TBRNLocalSessionManager* session,
                                                   bool notCursorCache)
    : Session(session),
      Database(database),
      NotCursorCache(notCursorCache),
      FileManager(fileManager) {
  if (database == nullptr || fileManager == nullptr || session == nullptr)
    throw std::invalid_argument("A database manager needs its database, file manager and session");
  Catalog = std::make_unique<TBRNCatalog>(database->Config);
  Catalog->Owner = database;
  Catalog->Name = database->Name;
  Catalog->SetSystem(database->System);
  Catalog->SetTransient(database->Transient);
  database->Catalog = Catalog.get();

  LockManager = std::make_unique<TBRNDatabaseLockManager>(database, fileManager, this);
  LockManager->SetLockFileName(GetLockFileName());
  if (!configInSharedMemory() && Session->ConfigLockManager != nullptr)
    LockManager->SetSessionSlot(Session->ConfigLockManager->GetSessionSlot());

  CatalogManager =
      std::make_unique<TBRNCatalogManager>(Catalog.get(), LockManager.get(), fileManager, this);
  CatalogManager->FileName = GetCatalogFileName();
  CatalogManager->BackupFileName = GetCatalogBackupFileName();
  CatalogManager->InitializeHeader();
  CatalogManager->OnLoadedOrSaved = [this](TBRNLockableConfigObject*) {
    InvalidateInformationTables();
  };
  CatalogManager->OnBeforeSave = [this](TBRNLockableConfigObject*) { StampCatalogVersion(); };

  TableManagers = std::make_unique<TBRNTableManagers>(*this);
  ViewManagers = std::make_unique<TBRNViewManagers>(*this);
  RoutineManagers = std::make_unique<TBRNRoutineManagers>(*this);
}

TBRNLocalDatabaseManager::~TBRNLocalDatabaseManager() {
  try {
    CloseDatabase(true);
  } catch (...) {
    // Logged by the close; a destructor has nobody to tell. What the close
    // could not release goes with the objects below.
  }
  // The managers refer to catalog objects, the catalog manager to the lock
  // manager and the catalog: free them before what they refer to.
  RoutineManagers.reset();
  ViewManagers.reset();
  TableManagers.reset();
  // Handles of objects that survived a failed close.
  Scripts.Clear();
  Procedures.Clear();
  Statements.Clear();
  Cursors.Clear();
  CatalogManager.reset();
  LockManager.reset();
  if (Database->Catalog == Catalog.get()) Database->Catalog = nullptr;
  Catalog.reset();
}

// ---------------------------------------------------------------------------
// File names

std::string TBRNLocalDatabaseManager::GetDatabasePath() const {
  std::string path = Database->Path;
  if (IsRelativePath(path))
    path = AddTrailingBackslash(Session->SessionSettings->GetConfigPath()) + path;
  return RemoveTrailingBackslash(path);
}

bool TBRNLocalDatabaseManager::isSessionPrivateInMemory() const {
  return FileManager->GetInMemory() &&
         (Database->SessionPrivate || TextEqualsIgnoreCase(Database->Name, "Configuration") ||
          TextEqualsIgnoreCase(Database->Name, "__Cursor__Cache"));
}

std::string TBRNLocalDatabaseManager::fileFolder() const {
  if (!FileManager->GetInMemory()) return AddTrailingBackslash(GetDatabasePath());
  if (isSessionPrivateInMemory()) return Session->GetSessionFolder() + Database->Name + "\\";
  return Database->Name + "\\";
}

bool TBRNLocalDatabaseManager::configInSharedMemory() const {
  const TBRNLocalSessionEngineManagerSettings& settings = *Session->SessionSettings;
  return settings.GetConfigMemory() && !settings.GetConfigPrivate();
}

std::string TBRNLocalDatabaseManager::GetLockFileName() const {
  const TBRNLocalSessionEngineManagerSettings& settings = *Session->SessionSettings;
  return fileFolder() + settings.GetCatalogName() + settings.GetLockExtension();
}

std::string TBRNLocalDatabaseManager::GetCatalogFileName() const {
  const TBRNLocalSessionEngineManagerSettings& settings = *Session->SessionSettings;
  return fileFolder() + settings.GetCatalogName() + settings.GetCatalogExtension();
}

std::string TBRNLocalDatabaseManager::GetCatalogBackupFileName() const {
  const TBRNLocalSessionEngineManagerSettings& settings = *Session->SessionSettings;
  return AddTrailingBackslash(GetDatabasePath()) + settings.GetCatalogName() +
         settings.GetCatalogExtension() + settings.GetOldExtension();
}

// ---------------------------------------------------------------------------
// Open and close

void TBRNLocalDatabaseManager::RegisterInformationTables() {
  if (NotCursorCache) brn::RegisterInformationTables(*this);
}

void TBRNLocalDatabaseManager::OpenDatabase(uint8_t lockType) {
  std::string path = GetDatabasePath();
  if (!FileManager->DirectoryExists(path) && !FileManager->ForceDirectory(path))
    RaisePathNotFoundError(path);

  // What a failed first open took is given back: the files are open only
  // while the database is.
  auto closeFilesOfFailedOpen = [this] {
    if (OpenCount != 0) return;
    try {
      CatalogManager->Close();
    } catch (...) {
    }
    try {
      LockManager->Close();
    } catch (...) {
    }
  };
  LockManager->Open();
  try {
    CatalogManager->Open();
    LockDatabase(lockType);
  } catch (...) {
    closeFilesOfFailedOpen();
    throw;
  }
  if (!Opened) {
    try {
      if (!Database->ReadOnly && Catalog->ReadOnly) Database->ReadOnly = true;
      if (!InformationRegistered) {
        RegisterInformationTables();
        InformationRegistered = true;
      }
      TBRNDatabaseManager::OpenDatabase(lockType);
    } catch (...) {
      try {
        UnlockDatabase(lockType);
      } catch (...) {
      }
      closeFilesOfFailedOpen();
      throw;
    }
  }
  ++OpenCount;
}

void TBRNLocalDatabaseManager::CloseDatabase(bool force) {
  if (Closing) return;
  Closing = true;
  struct TReset {
    bool& Flag;
    ~TReset() { Flag = false; }
  } reset{Closing};

  if (Opened && OpenCount > 0) --OpenCount;
  if ((!force && OpenCount > 0) || UnpreparingHandles) return;

  TBRNCleanUpSteps steps;
  steps.Run([this] { releaseContents(); });
  steps.Run([this] { closeFiles(); });
  if (steps.Failed()) {
    try {
      steps.RaiseFirst();
    } catch (const std::exception& error) {
      Session->LogOperationError(error, kOperationCloseDatabase);
      throw;
    }
  }
}

void TBRNLocalDatabaseManager::releaseContents() {
  // The session's handles go first: it must never index an object freed
  // here, whoever called the close.
  for (TBRNSessionHandleIndex* index :
       {&Session->Scripts, &Session->Procedures, &Session->Statements, &Session->Cursors})
    index->RemoveDatabase(this);

  TBRNCleanUpSteps steps;
  if (InTransaction()) steps.Run([this] { Rollback(); });
  steps.Run([this] { UnprepareAllHandles(); });
  // The handles go before the managers they read through: a statement's
  // cursors and run-time values release their tables as they are freed.
  steps.Run([this] { TBRNDatabaseManager::CloseDatabase(true); });
  // What their creators still keep, last registered first. One at a time:
  // closing one may free another, which then leaves the list itself.
  steps.Run([this] {
    while (!dependents_.empty()) {
      TBRNEnvironmentDependent* dependent = dependents_.back();
      dependents_.pop_back();
      dependent->EnvironmentClosing();
    }
  });
  for (TBRNSchemaObjectManagers* managers :
       {static_cast<TBRNSchemaObjectManagers*>(RoutineManagers.get()),
        static_cast<TBRNSchemaObjectManagers*>(ViewManagers.get()),
        static_cast<TBRNSchemaObjectManagers*>(TableManagers.get())})
    steps.Run([&] { closeAllManagers(*managers); });
  steps.Run([this] { dropTemporaryObjects(); });
  steps.RaiseFirst();
}

void TBRNLocalDatabaseManager::AddDependent(TBRNEnvironmentDependent& dependent) {
  dependents_.push_back(&dependent);
}

void TBRNLocalDatabaseManager::RemoveDependent(TBRNEnvironmentDependent& dependent) noexcept {
  auto found = std::find(dependents_.begin(), dependents_.end(), &dependent);
  if (found != dependents_.end()) dependents_.erase(found);
}

void TBRNLocalDatabaseManager::closeAllManagers(TBRNSchemaObjectManagers& managers) {
  TBRNCleanUpSteps steps;
  steps.Run([&] { managers.CloseAllManagers(); });
  // A manager that still has users is closed all the same: the lock file
  // its locks live in closes with the database.
  int32_t handle = 0;
  TBRNSchemaObjectManager* manager = nullptr;
  while (managers.NextManager(handle, manager)) {
    if (manager->GetOpen()) steps.Run([&] { manager->ForceClose(); });
  }
  steps.RaiseFirst();
}

void TBRNLocalDatabaseManager::dropTemporaryObjects() {
  TBRNSchema* schema = Catalog->DefaultSchema;
  if (schema == nullptr) return;
  TBRNCleanUpSteps steps;
  TBRNTemporaryViews& views = *schema->TemporaryViews;
  for (int32_t i = views.Count() - 1; i >= 0; --i) {
    steps.Run([&] {
      TBRNView* view = views.GetView(i);
      LockObject(view, kBRNLockTypeExclusive);
      ViewManagers->ReleaseManager(view);
      std::unique_ptr<TBRNConfigObject> owned = takeOut(views, i);
      UnlockObject(view, kBRNLockTypeExclusive);
    });
  }
  TBRNTemporaryTables& tables = *schema->TemporaryTables;
  for (int32_t i = tables.Count() - 1; i >= 0; --i) {
    steps.Run([&] {
      TBRNBaseTable* table = tables.GetTable(i);
      LockObject(table, kBRNLockTypeExclusive);
      auto* manager = dynamic_cast<TBRNTableManager*>(TableManagers->GetManager(table));
      if (manager != nullptr) {
        manager->ForceClose();
        manager->DeleteFiles();
        manager->DeleteOldCopies();
      }
      std::unique_ptr<TBRNConfigObject> owned = takeOut(tables, i);
      UnlockObject(table, kBRNLockTypeExclusive);
      TableManagers->ReleaseManager(table);
    });
  }
  steps.RaiseFirst();
}

void TBRNLocalDatabaseManager::closeFiles() {
  TBRNCleanUpSteps steps;
  if (LockManager->Opened) {
    bool exclusive = (Database->GetHeldLocks() & LockTypeBit(ltExclusive)) != 0;
    steps.Run([&] { UnlockDatabase(exclusive ? kBRNLockExclusive : kBRNLockShared); });
  }
  steps.Run([this] { CatalogManager->Close(); });
  steps.Run([this] {
    if (isSessionPrivateInMemory())
      LockManager->CloseAndDelete();
    else
      LockManager->Close();
  });
  OpenCount = 0;
  Opened = false;
  if (configInSharedMemory()) LockManager->SetSessionSlot(0);
  steps.RaiseFirst();
}

void TBRNLocalDatabaseManager::UnprepareAllHandles() {
  if (UnpreparingHandles) return;
  UnpreparingHandles = true;
  // The handle managers of this engine keep nothing prepared between
  // executions yet: every handle stays as it is until the close frees it.
  UnpreparingHandles = false;
}

void TBRNLocalDatabaseManager::LockDatabase(uint8_t lockType) {
  if (lockType == kBRNLockNone) return;
  uint8_t held = Database->GetHeldLocks();
  // An Exclusive lock implies the Shared one, and a held lock is held.
  if ((held & LockTypeBit(ltExclusive)) != 0) return;
  if (lockType == kBRNLockShared && (held & LockTypeBit(ltShared)) != 0) return;
  LockManager->LockObject(Database, lockType, -1);
}

void TBRNLocalDatabaseManager::UnlockDatabase(uint8_t lockType) {
  if (lockType == kBRNLockNone) return;
  LockManager->UnlockObject(Database, lockType);
}

bool TBRNLocalDatabaseManager::InTransaction() const {
  return Database->IsInTransaction();
}

// ---------------------------------------------------------------------------
// Briefly opened files (drop, rename and catalog version of a closed database)

void TBRNLocalDatabaseManager::openFilesBriefly() {
  if (Opened) return;
  LockManager->Open();
  try {
    CatalogManager->Open();
  } catch (...) {
    try {
      LockManager->Close();
    } catch (...) {
    }
    throw;
  }
}

void TBRNLocalDatabaseManager::closeFilesBriefly() {
  if (Opened) return;
  TBRNCleanUpSteps steps;
  steps.Run([this] { CatalogManager->Close(); });
  steps.Run([this] { LockManager->Close(); });
  steps.RaiseFirst();
}

int64_t TBRNLocalDatabaseManager::GetCatalogVersion() {
  try {
    if (Opened) {
      CatalogManager->BeginRead();
      int64_t version = Catalog->FormatVersion;
      CatalogManager->EndRead();
      return version;
    }
    // A closed database is only read: a missing catalog is not created.
    if (!FileManager->DirectoryExists(GetDatabasePath()) ||
        !FileManager->FileExists(GetCatalogFileName()))
      return 0;
    openFilesBriefly();
    int64_t version = Catalog->FormatVersion;
    closeFilesBriefly();
    return version;
  } catch (...) {
    try {
      closeFilesBriefly();
    } catch (...) {
    }
    return 0;
  }
}

void TBRNLocalDatabaseManager::DropDatabase(bool keepContents) {
  if (Opened) throw std::logic_error("DropDatabase needs the database closed");
  std::string path = GetDatabasePath();
  if (keepContents || !FileManager->DirectoryExists(path)) return;

  TBRNCleanUpSteps steps;
  bool locked = false;
  steps.Run([&] {
    LockManager->Open();
    CatalogManager->Open();
    LockDatabase(kBRNLockExclusive);
    locked = true;
    TBRNSchema* schema = Catalog->DefaultSchema;
    TBRNBaseTables& tables = *schema->BaseTables;
    for (int32_t i = tables.Count() - 1; i >= 0; --i) {
      auto* table = static_cast<TBRNBaseTable*>(tables.GetItem(i));
      auto* manager = dynamic_cast<TBRNTableManager*>(TableManagers->GetManager(table));
      if (manager != nullptr) {
        manager->ForceClose();
        manager->DeleteFiles();
        manager->DeleteOldCopies();
      }
      std::unique_ptr<TBRNConfigObject> owned = takeOut(tables, i);
      TableManagers->ReleaseManager(table);
    }
    for (TBRNConfigObjects* list : {static_cast<TBRNConfigObjects*>(schema->Views.get()),
                                    static_cast<TBRNConfigObjects*>(schema->Procedures.get()),
                                    static_cast<TBRNConfigObjects*>(schema->Functions.get())}) {
      for (int32_t i = list->Count() - 1; i >= 0; --i) takeOut(*list, i);
    }
  });
  if (!locked) {
    // Another session has the database open (or the files cannot be
    // opened): nothing may be deleted under it.
    steps.Run([this] { CatalogManager->Close(); });
    steps.Run([this] { LockManager->Close(); });
    steps.RaiseFirst();
    return;
  }
  steps.Run([this] { UnlockDatabase(kBRNLockExclusive); });
  try {
    if (CatalogManager->Opened) CatalogManager->DeleteFile();
  } catch (...) {
  }
  try {
    CatalogManager->Close();
    CatalogManager->DeleteBackup();
  } catch (...) {
  }
  LockManager->CloseAndDelete();
  // Never recursive: a folder that still holds anything this database does
  // not know of stays, with those files.
  FileManager->RemoveDirectory(path);
  steps.RaiseFirst();
}

void TBRNLocalDatabaseManager::RenameDatabase(const std::string& newName) {
  if (!FileManager->DirectoryExists(GetDatabasePath())) return;
  TBRNCleanUpSteps steps;
  bool wasOpen = Opened;
  bool locked = false;
  steps.Run([&] {
    openFilesBriefly();
    bool held = (Database->GetHeldLocks() & LockTypeBit(ltExclusive)) != 0;
    LockDatabase(kBRNLockExclusive);
    locked = !held;
    Database->SetName(newName);
    Catalog->Name = newName;
  });
  if (locked) steps.Run([this] { UnlockDatabase(kBRNLockExclusive); });
  if (!wasOpen) steps.Run([this] { closeFilesBriefly(); });
  steps.RaiseFirst();
}

// ---------------------------------------------------------------------------
// Errors and guards

void TBRNLocalDatabaseManager::RaiseNotOpenError(const std::string& operation) {
  throw EBRNException(402,
                      FormatText("The %s %s must be open in order to perform this operation (%s)",
                                 {Database->GetObjectTypeName(), Database->Name, operation}));
}

void TBRNLocalDatabaseManager::RaiseReadOnlyError(const std::string& operation) {
  throw EBRNException(
      403, FormatText("The %s %s is read-only and this operation cannot be performed (%s)",
                      {Database->GetObjectTypeName(), Database->Name, operation}));
}

void TBRNLocalDatabaseManager::RaisePathNotFoundError(const std::string& path) {
  throw EBRNException(401, FormatText("The path specified for the %s %s does not exist (%s)",
                                      {Database->GetObjectTypeName(), Database->Name, path}));
}

void TBRNLocalDatabaseManager::RaiseTransactionError(const std::string& detail) {
  throw EBRNException(404, FormatText("Transaction error: %s", {detail}));
}

void TBRNLocalDatabaseManager::RaiseTransactionActiveError(const std::string& operation) {
  RaiseTransactionError(FormatText(
      "This operation cannot be performed while the %s %s has an active transaction (%s)",
      {Database->GetObjectTypeName(), Database->Name, operation}));
  throw std::logic_error("RaiseTransactionError returned");
}

void TBRNLocalDatabaseManager::RaiseNoTransactionError(const std::string& operation) {
  RaiseTransactionError(FormatText(
      "This operation cannot be performed without an active transaction on the %s %s (%s)",
      {Database->GetObjectTypeName(), Database->Name, operation}));
  throw std::logic_error("RaiseTransactionError returned");
}

void TBRNLocalDatabaseManager::RaiseBackupError(const std::string& operation) {
  throw EBRNException(1300, FormatText("Error backing up the %s %s (%s)",
                                       {Database->GetObjectTypeName(), Database->Name, operation}));
}

void TBRNLocalDatabaseManager::RaiseRestoreError(const std::string& operation) {
  throw EBRNException(1301, FormatText("Error restoring the %s %s (%s)",
                                       {Database->GetObjectTypeName(), Database->Name, operation}));
}

void TBRNLocalDatabaseManager::RequireOpen(const std::string& operation) {
  if (!Opened) RaiseNotOpenError(operation);
}

void TBRNLocalDatabaseManager::RequireWritable(const std::string& operation) {
  if (Database->ReadOnly) RaiseReadOnlyError(operation);
}

void TBRNLocalDatabaseManager::RequireNoTransaction(const std::string& operation) {
  if (InTransaction()) RaiseTransactionActiveError(operation);
}

void TBRNLocalDatabaseManager::RequireTransaction(const std::string& operation) {
  if (!InTransaction()) RaiseNoTransactionError(operation);
}

// ---------------------------------------------------------------------------
// Catalog callbacks

void TBRNLocalDatabaseManager::InvalidateInformationTables() {
  TBRNSchema* schema = Catalog->InformationSchema;
  if (schema == nullptr) return;
  for (int32_t i = 0; i < schema->BaseTables->Count(); ++i)
    SetSystemTableFilled(schema->BaseTables->GetItem(i), false);
}

void TBRNLocalDatabaseManager::StampCatalogVersion() {
  Catalog->SetVersion(Session->Engine->MetadataVersion);
}

// ---------------------------------------------------------------------------
// TBRNTableEnvironment

std::string TBRNLocalDatabaseManager::GetDatabaseName() const {
  return Database->Name;
}

std::string TBRNLocalDatabaseManager::GetSchemaFolder(const std::string& schemaName) {
  if (TextEqualsIgnoreCase(schemaName, "Information"))
    return Session->GetSessionFolder() + AddTrailingBackslash(Database->Name) + "Information\\";
  return fileFolder();
}

TBRNFileManager* TBRNLocalDatabaseManager::GetSchemaFileManager(const std::string& schemaName) {
  if (schemaName.empty() || TextEqualsIgnoreCase(schemaName, "Default")) return FileManager;
  if (TextEqualsIgnoreCase(schemaName, "Information"))
    return Session->ConfigurationDatabase != nullptr ? Session->ConfigurationDatabase->FileManager
                                                     : nullptr;
  return nullptr;
}

bool TBRNLocalDatabaseManager::LockObject(TBRNLockable* object, uint8_t lockType) {
  return LockManager->LockObject(object, lockType, -1);
}

void TBRNLocalDatabaseManager::UnlockObject(TBRNLockable* object, uint8_t lockType) {
  LockManager->UnlockObject(object, lockType);
}

const TBRNTableSettings& TBRNLocalDatabaseManager::GetTableSettings() const {
  tableSettings_.KeepTablesOpen = Session->KeepTablesOpen;
  tableSettings_.RecordLockProtocol = Session->RecordLockProtocol;
  tableSettings_.RecordLockRetryCount = Session->RecordLockRetryCount;
  tableSettings_.RecordLockWaitTime = Session->RecordLockWaitTime;
  tableSettings_.RecordChangeDetection = Session->RecordChangeDetection;
  tableSettings_.ForceBufferFlush = Session->ForceBufferFlush;
  return tableSettings_;
}

TBRNExpressionEvaluator& TBRNLocalDatabaseManager::GetEvaluator() {
  if (Session->Evaluator == nullptr) throw std::logic_error("The session has no evaluator");
  return *Session->Evaluator;
}

std::unique_ptr<TBRNEvaluationContext> TBRNLocalDatabaseManager::CreateEvaluationContext() {
  auto context = std::make_unique<TBRNEvaluationContext>();
  context->Environment = this;
  return context;
}

void TBRNLocalDatabaseManager::CheckPrivilege(TBRNPrivilegedConfigObject* object, int32_t kind,
                                              const std::string& statementName) {
  Session->CheckPrivilege(object, kind, statementName);
}

void TBRNLocalDatabaseManager::PushUser(TBRNUser* user) {
  Session->PushCurrentUser();
  try {
    Session->SetCurrentUser(user != nullptr ? user : Session->Config->SystemUser);
  } catch (...) {
    Session->PopCurrentUser();
    throw;
  }
}

void TBRNLocalDatabaseManager::PopUser() {
  Session->PopCurrentUser();
}

TBRNUser* TBRNLocalDatabaseManager::GetCurrentUser() {
  return Session->CurrentUser;
}

TBRNUser* TBRNLocalDatabaseManager::GetObjectOwner(TBRNPrivilegedConfigObject* object) {
  return object->GetOwner();
}

void TBRNLocalDatabaseManager::LogFailedOperation(int32_t operationCode,
                                                  const EBRNException& error) {
  Session->LogOperationError(error, operationCode);
}

void TBRNLocalDatabaseManager::WriteWarningEvent(const std::string& text) {
  // The table managers warn only while opening a table's files.
  Session->WriteLogEvent(lcWarning, kOperationOpenTable, 0, text);
}

void TBRNLocalDatabaseManager::LogMessage(const std::string& text) {
  Session->LogMessage(text);
}

bool TBRNLocalDatabaseManager::UpdateProgress(int32_t percent) {
  return Session->UpdateProgress(percent);
}

void TBRNLocalDatabaseManager::BeginProgress() {
  Session->BeginProgress();
}

void TBRNLocalDatabaseManager::EndProgress() {
  Session->EndProgress();
}

void TBRNLocalDatabaseManager::ReportStatus(const std::string& text) {
  Session->StatusMessage(text, true);
}

const TBRNDigest& TBRNLocalDatabaseManager::GetSignatureDigest() const {
  return Session->SessionSettings->GetSignatureDigest();
}

bool TBRNLocalDatabaseManager::IsValidSignature(const TBRNDigest& digest) const {
  return Session->SessionSettings->IsValidSignature(digest);
}

const TBRNDigest& TBRNLocalDatabaseManager::GetEncryptionDigest() const {
  return Session->SessionSettings->GetEncryptionDigest();
}

std::string TBRNLocalDatabaseManager::GetFileExtension(TBRNTableFileKind kind) const {
  return Session->SessionSettings->GetTableFileExtension(kind);
}

void TBRNLocalDatabaseManager::AdvanceTimestamp(int64_t value) {
  Session->Engine->AdvanceTimestamp(value);
}

}  // namespace brn
