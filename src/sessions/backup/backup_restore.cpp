// BACKUP DATABASE and RESTORE DATABASE of a local database: the backup file
// as a whole (sessions/backup/backup_file.h), the table-level copies through
// the table file managers' backup streams, and the checks and put-backs of
// a restore.
#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/files/file_manager.h"
#include "foundation/files/path_helpers.h"
#include "foundation/locks/lockable.h"
#include "foundation/runtime/clean_up_steps.h"
#include "foundation/text/collation.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "foundation/types/date_time.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/views.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/privileges.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "sessions/backup/backup_file.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/ddl/ddl_lookups.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/progress_scope.h"
#include "sessions/stores/local_store_manager.h"
#include "storage/rows/published_updates_file.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

const std::string kTemporaryExtension = ".Tmp";

// A table of the backup list with where its data lies in the backup file.
struct TBackupTable {
  TBRNBaseTable* Table = nullptr;
  int64_t Offset = 0;
  int64_t End = 0;
  int64_t Size = 0;
};

// The backup table list: every base table (names empty) or the named base
// tables visible to the current user (401 for a missing one), by ID
// without repeats.
std::vector<TBackupTable> buildBackupTables(TBRNLocalDatabaseManager& database,
                                            const TBRNStringsList& names) {
  std::vector<TBRNBaseTable*> tables;
  TBRNBaseTables& all = *database.Catalog->DefaultSchema->BaseTables;
  if (names.GetCount() == 0) {
    for (int32_t i = 0; i < all.Count(); ++i)
      tables.push_back(static_cast<TBRNBaseTable*>(all.GetItem(i)));
  } else {
    for (const std::string& name : names.GetItems())
      tables.push_back(FindStoredTable(database, name));
  }
  std::sort(tables.begin(), tables.end(),
            [](const TBRNBaseTable* a, const TBRNBaseTable* b) { return a->ID < b->ID; });
  tables.erase(std::unique(tables.begin(), tables.end()), tables.end());
  std::vector<TBackupTable> list;
  for (TBRNBaseTable* table : tables) list.push_back(TBackupTable{table});
  return list;
}

// A table manager opened for a copy: the table's foreign-key links are not
// opened (its in-backup state) and, for a restore, files it does not find
// are made without the warning of a recreated file. Closed by the
// destructor when Close was not called (errors then dropped).
class TCopyOpen {
 public:
  TCopyOpen(TBRNLocalDatabaseManager& database, TBRNBaseTable* table, bool restoring)
      : database_(database), manager_(TableManagerOf(database, table)) {
    manager_.SuppressReferences = true;
    manager_.SetCreatingFiles(restoring);
    try {
      database_.TableManagers->OpenManager(table, kBRNLockTypeShared);
    } catch (...) {
      // A failed open frees a manager left without users.
      if (table->ManagerHandle != 0) {
        auto* kept = dynamic_cast<TBRNTableManager*>(database_.TableManagers->GetManager(table));
        if (kept != nullptr) {
          kept->SuppressReferences = false;
          kept->SetCreatingFiles(false);
        }
      }
      throw;
    }
    open_ = true;
    manager_.SetCreatingFiles(false);
  }
  ~TCopyOpen() {
    if (open_) {
      try {
        manager_.Close(true, true);
      } catch (...) {
      }
    }
    reset();
  }
  TCopyOpen(const TCopyOpen&) = delete;
  TCopyOpen& operator=(const TCopyOpen&) = delete;

  TBRNTableManager& Manager() { return manager_; }
  void Close() {
    open_ = false;
    manager_.Close(false, true);
  }

 private:
  void reset() {
    manager_.SuppressReferences = false;
    manager_.SetCreatingFiles(false);
  }
  TBRNLocalDatabaseManager& database_;
  TBRNTableManager& manager_;
  bool open_ = false;
};

TBRNTableFileManager* publishedUpdatesFileOf(TBRNTableManager& manager) {
  return manager.GetPublishedUpdatesManager();
}

// The table's files in the order rows, indexes, BLOBs, published updates;
// the published-updates file without its data unless included. False when
// the user stopped the copy.
bool writeTableBackup(TBRNTableManager& manager, TBRNStream& stream, int64_t& done, int64_t total,
                      int32_t compression, bool includePublishedUpdates) {
  TBRNTableFileManager* published = publishedUpdatesFileOf(manager);
  for (TBRNTableFileManager* file : manager.GetFiles()) {
    const bool leaveOut = file == published && !includePublishedUpdates;
    if (!file->WriteBackup(stream, done, total, compression, leaveOut)) return false;
  }
  return true;
}

// Reads the files back in the same order. The bytes written may not pass
// the table's recorded size (a damaged backup would otherwise fill the
// disk). A published-updates file left empty gets a valid header.
bool readTableBackup(TBRNTableManager& manager, TBRNStream& stream, int64_t& done, int64_t total,
                     int32_t compression, int64_t size) {
  TBRNTableFileManager* published = publishedUpdatesFileOf(manager);
  const int64_t start = done;
  for (TBRNTableFileManager* file : manager.GetFiles()) {
    const int64_t before = done;
    if (!file->ReadBackup(stream, done, total, compression)) return false;
    if (done - start > size) file->RaiseRestoreReadError();
    if (file == published && done == before) {
      file->SetHeaderModified();
      file->Flush(true);
    }
  }
  // The headers held were those of the empty files the open made.
  manager.ReloadFileHeaders();
  return true;
}

// The files of the table that exist on disk, as a file selection.
uint8_t existingFiles(TBRNLocalDatabaseManager& database, TBRNBaseTable* table) {
  uint8_t existing = 0;
  for (auto [kind, bit] : {std::pair{TBRNTableFileKind::Rows, kTableFileRows},
                           std::pair{TBRNTableFileKind::Indexes, kTableFileIndexes},
                           std::pair{TBRNTableFileKind::Blobs, kTableFileBlobs},
                           std::pair{TBRNTableFileKind::PublishedUpdates,
                                     kTableFilePublishedUpdates}}) {
    if (database.FileManager->FileExists(database.GetSchemaFolder("") + table->Name +
                                         database.GetFileExtension(kind)))
      existing = uint8_t(existing | bit);
  }
  return existing;
}

// A restored table with the files it had before, kept as ".Old" copies.
struct TRestoredTable {
  TBRNBaseTable* Table = nullptr;
  uint8_t Previous = 0;
};

// Closes the table's manager (when open), deletes the restored files and
// puts the ".Old" copies back.
void putBackTable(TBRNLocalDatabaseManager& database, const TRestoredTable& restored) {
  TBRNTableManager& manager = TableManagerOf(database, restored.Table);
  if (manager.GetOpen()) manager.Close(true, true);
  manager.DeleteFiles();
  if (restored.Previous != 0) manager.RestoreOldCopies(true, restored.Previous);
}

// The bytes moved per store transfer call when a backup is carried to or
// from a store that is reached only forward.
constexpr int32_t kSpoolChunkSize = 1 << 20;

// Where the backup file is written or read at any position. A store that
// holds the file on this machine lends its transfer stream; a store of
// another server is reached only forward, so the backup is assembled in a
// temporary file of this machine and carried over in one pass once it is
// complete, and a restore first fetches the whole file and checks it
// before anything changes. The temporary file goes with this object.
//
// Begin the store's transfer first. Used by the session's thread only.
class TBackupMedium {
 public:
  TBackupMedium(TBRNLocalDatabaseManager& database, TBRNStoreManager& store)
      : database_(database), store_(store), direct_(store.GetTransferStream()) {}
  TBackupMedium(const TBackupMedium&) = delete;
  TBackupMedium& operator=(const TBackupMedium&) = delete;

  TBRNStream& Stream() {
    if (direct_ != nullptr) return *direct_;
    if (!spool_) openSpool();
    return *spool_;
  }

  // Backup: writes the assembled file through the store's transfer
  // (nothing for a direct stream). The store's own errors pass on.
  void CarryToStore(const std::string& fileName) {
    if (direct_ != nullptr) return;
    TBRNStream& spool = Stream();
    const int64_t size = spool.GetSize();
    spool.SetPosition(0);
    TBRNMemoryStream chunk;
    for (int64_t done = 0; done < size;) {
      const int32_t count = int32_t(std::min<int64_t>(size - done, kSpoolChunkSize));
      chunk.SetSize(count);
      if (spool.Read(chunk.GetMemory(), count) != count)
        database_.RaiseBackupError(FormatText("Error reading the file %s", {spoolName_}));
      chunk.SetPosition(0);
      while (chunk.GetPosition() < count) {
        // Every byte the call moved past must have been written: a store
        // that took fewer would leave a hole in the file.
        const int64_t before = chunk.GetPosition();
        const uint32_t written = store_.WriteFile(chunk, uint32_t(count - before));
        if (written == 0 || int64_t(written) != chunk.GetPosition() - before)
          database_.RaiseBackupError(FormatText("Error writing the file %s", {fileName}));
      }
      done += count;
    }
  }

  // Restore: fetches the whole file of the store's read transfer (size
  // bytes, as its begin answered) and ends the transfer; a file that ends
  // early is damaged (1301). Nothing for a direct stream.
  void FetchFromStore(const std::string& fileName, int64_t size) {
    if (direct_ != nullptr) return;
    TBRNStream& spool = Stream();
    TBRNMemoryStream chunk;
    for (int64_t done = 0; done < size;) {
      const int32_t count = int32_t(std::min<int64_t>(size - done, kSpoolChunkSize));
      chunk.SetSize(0);
      chunk.SetPosition(0);
      while (chunk.GetPosition() < count) {
        if (store_.ReadFile(chunk, uint32_t(count - chunk.GetPosition())) == 0)
          database_.RaiseRestoreError(FormatText("Error reading the file %s", {fileName}));
      }
      if (spool.Write(chunk.GetMemory(), count) != count)
        database_.RaiseRestoreError(FormatText("Error writing the file %s", {spoolName_}));
      done += count;
    }
    store_.EndReadFile();
    spool.SetPosition(0);
  }

 private:
  void openSpool() {
    static std::atomic<uint32_t> next{0};
    TBRNLocalSessionManager& session = *database_.Session;
    std::string folder = session.SessionSettings->GetTempTablesPath();
    if (folder.empty()) folder = session.Engine->Environment->GetTempPath();
    spoolName_ = AddTrailingBackslash(folder) + "Backup" +
                 BigIntToString(int64_t(session.Engine->Environment->GetProcessId())) + "_" +
                 BigIntToString(int64_t(next.fetch_add(1))) + kTemporaryExtension;
    // A temporary file: it is deleted when its stream goes.
    spool_ = session.FileManager->CreateFile(spoolName_, true, true, false);
  }

  TBRNLocalDatabaseManager& database_;
  TBRNStoreManager& store_;
  TBRNStream* direct_;
  std::string spoolName_;
  std::unique_ptr<TBRNFileStream> spool_;
};

// Writes the header length and the header at the start of stream.
void writeHeader(TBRNLocalDatabaseManager& database, TBRNStream& stream,
                 const TBRNBackupHeader& header) {
  TBRNMemoryStream bytes;
  header.Write(bytes);
  const int32_t length = int32_t(bytes.GetSize());
  stream.Seek(0, 0);
  if (stream.WriteLongInt(length) != 4 || stream.Write(bytes.GetMemory(), length) != length)
    database.RaiseBackupError("Error writing the header to the backup");
}

// Frees the managers of the stored objects (tables, views, routines) of
// the Default schema: loading another catalog may free the objects they
// name. The session's cursors and statements on the database are
// unprepared first. Temporary tables keep theirs.
void releaseStoredManagers(TBRNLocalDatabaseManager& database) {
  database.UnprepareAllHandles();
  TBRNSchema& schema = *database.Catalog->DefaultSchema;
  for (int32_t i = 0; i < schema.BaseTables->Count(); ++i)
    database.TableManagers->ReleaseManager(
        static_cast<TBRNPrivilegedSchemaObject*>(schema.BaseTables->GetItem(i)));
  for (int32_t i = 0; i < schema.Views->Count(); ++i)
    database.ViewManagers->ReleaseManager(
        static_cast<TBRNPrivilegedSchemaObject*>(schema.Views->GetItem(i)));
  for (TBRNConfigObjects* routines :
       {static_cast<TBRNConfigObjects*>(schema.Procedures.get()),
        static_cast<TBRNConfigObjects*>(schema.Functions.get())}) {
    for (int32_t i = 0; i < routines->Count(); ++i)
      database.RoutineManagers->ReleaseManager(
          static_cast<TBRNPrivilegedSchemaObject*>(routines->GetItem(i)));
  }
}

// Every lock range of the stored objects lies in their lock file: a lock
// number of a damaged catalog would otherwise fail the first lock of the
// object (std::out_of_range) after the catalog was committed.
void checkLockRanges(TBRNLocalDatabaseManager& database) {
  TBRNSchema& schema = *database.Catalog->DefaultSchema;
  for (const TBRNConfigObjects* list :
       {static_cast<const TBRNConfigObjects*>(schema.BaseTables.get()),
        static_cast<const TBRNConfigObjects*>(schema.Views.get()),
        static_cast<const TBRNConfigObjects*>(schema.Procedures.get()),
        static_cast<const TBRNConfigObjects*>(schema.Functions.get())}) {
    for (int32_t i = 0; i < list->Count(); ++i) {
      auto* lockable = dynamic_cast<const TBRNLockable*>(list->GetItem(i));
      if (lockable == nullptr) continue;
      for (uint8_t lockType = 1; lockType <= 5; ++lockType) lockable->GetLockOffset(lockType);
    }
  }
}

// Loads the catalog from its stored form as a read of the catalog file
// does; a damaged form is the backup's damage (1301).
void loadCatalog(TBRNLocalDatabaseManager& database, const std::string& bytes, bool fromBackup) {
  releaseStoredManagers(database);
  TBRNMemoryStream stream;
  stream.Write(bytes.data(), int32_t(bytes.size()));
  stream.SetPosition(0);
  try {
    if (database.CatalogManager->OnBeforeLoad)
      database.CatalogManager->OnBeforeLoad(database.Catalog.get());
    database.Catalog->LoadFromStream(stream);
    database.Catalog->Validate();
    if (fromBackup) checkLockRanges(database);
  } catch (const EBRNException& error) {
    if (!fromBackup) throw;
    database.RaiseRestoreError(error.ErrorMessage);
  } catch (const std::out_of_range&) {
    if (!fromBackup) throw;
    database.RaiseRestoreError("Error reading the header from the backup");
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// BACKUP DATABASE

bool TBRNLocalDatabaseManager::BackupDatabase(const std::string& backupName,
                                              const std::string& storeName,
                                              const TBRNStringsList& tableNames,
                                              const std::string& description, int32_t compression,
                                              bool includeCatalog, bool catalogOnly,
                                              bool includePublishedUpdates) {
  const std::string statement = FormatText("BACKUP DATABASE %s", {Database->Name});
  Session->CheckPrivilege(Database, pkBackup, statement);
  RequireNoTransaction(statement);
  compression = std::clamp(compression, 0, 9);
  includeCatalog = includeCatalog || catalogOnly;

  OpenDatabase(kBRNLockShared);
  bool result = false;
  bool locked = false;
  TBRNStoreManager* storeHandle = nullptr;
  std::exception_ptr failure;
  try {
    {
      TBRNCatalogReadBracket read(*this);
      BuildTransactionTables(tableNames);
      // A table whose files were never made makes them at its first open,
      // under its own Transaction lock: that open comes before this
      // session holds the Transaction locks of the copy.
      if (!catalogOnly) {
        for (const TBackupTable& entry : buildBackupTables(*this, tableNames)) {
          if (TableManagerOf(*this, entry.Table).FilesExist()) continue;
          TCopyOpen open(*this, entry.Table, false);
          open.Close();
        }
      }
    }
    // Writers of other sessions and processes wait until the copy is done;
    // a transaction already running makes the backup wait for it.
    LockTransactionTables(kBRNLockTypeTransaction, -1);
    locked = true;

    std::vector<TBackupTable> tables;
    TBRNBackupHeader header;
    {
      TBRNCatalogReadBracket read(*this);
      if (!catalogOnly) tables = buildBackupTables(*this, tableNames);
      if (includeCatalog) {
        StampCatalogVersion();
        TBRNMemoryStream catalog;
        Catalog->SaveToStream(catalog, false);
        header.Catalog.assign(reinterpret_cast<const char*>(catalog.GetMemory()),
                              size_t(catalog.GetSize()));
      }
    }
    header.BackupTime = CurrentTimestamp(false);
    storeHandle = Session->OpenStore(storeName, kBRNLockShared, false);
    auto* store = static_cast<TBRNStore*>(Session->Config->Stores->FindByName(storeName, true));
    // Writing a file into a store is creating one there, as COPY FILE is.
    Session->CheckPrivilege(store, pkCreate, statement);
    TBRNStoreManager& target = *storeHandle;

    header.Signature.Assign(GetSignatureDigest());
    header.Description = description;
    header.DatabaseName = Database->Name;
    header.DatabasePath = Database->System ? std::string() : Database->Path;
    header.UserName = GetCurrentUser() != nullptr ? GetCurrentUser()->Name : std::string();
    header.Compression = compression;
    header.IncludesCatalog = includeCatalog;
    int64_t total = 0;
    for (TBackupTable& entry : tables) {
      TCopyOpen open(*this, entry.Table, false);
      entry.Size = open.Manager().GetFilesSize(includePublishedUpdates && entry.Table->Published);
      open.Close();
      total += entry.Size;
      header.Tables.push_back(
          TBRNBackupTableEntry{entry.Table->Name, entry.Table->StructureChecksum, 0, entry.Size});
    }

    const std::string temporaryName = backupName + kTemporaryExtension;
    const std::string finalName = backupName + Session->SessionSettings->GetBackupExtension();
    target.BeginWriteFile(temporaryName);
    try {
      TBackupMedium medium(*this, target);
      TBRNStream& stream = medium.Stream();
      header.CatalogLengthWritten = false;
      writeHeader(*this, stream, header);
      bool proceed = true;
      {
        TBRNProgressScope progress(*this);
        int64_t done = 0;
        for (size_t i = 0; i < tables.size() && proceed; ++i) {
          TCopyOpen open(*this, tables[i].Table, false);
          header.Tables[i].Offset = stream.GetPosition();
          proceed = writeTableBackup(open.Manager(), stream, done, total, compression,
                                     includePublishedUpdates);
          open.Close();
        }
      }
      if (!proceed) {
        target.CancelWriteFile();
        result = false;
      } else {
        header.CatalogLengthWritten = true;
        writeHeader(*this, stream, header);
        medium.CarryToStore(temporaryName);
        target.EndWriteFile();
        target.DeleteFile(finalName);
        target.RenameFile(temporaryName, finalName);
        result = true;
      }
    } catch (...) {
      // Nothing of an unfinished backup stays: the file being written, or
      // the finished ".Tmp" file whose rename failed.
      try {
        target.CancelWriteFile();
        target.DeleteFile(temporaryName);
      } catch (...) {
      }
      throw;
    }
  } catch (...) {
    failure = std::current_exception();
  }

  TBRNCleanUpSteps steps;
  if (storeHandle != nullptr) steps.Run([&] { Session->CloseStore(storeHandle); });
  if (locked) steps.Run([&] { UnlockTransactionTables(kBRNLockTypeTransaction); });
  steps.Run([&] { ClearTransactionTables(); });
  steps.Run([&] { CloseDatabase(false); });
  if (failure) std::rethrow_exception(failure);
  steps.RaiseFirst();
  return result;
}

// ---------------------------------------------------------------------------
// RESTORE DATABASE

bool TBRNLocalDatabaseManager::RestoreDatabase(const std::string& backupName,
                                               const std::string& storeName,
                                               const TBRNStringsList& tableNames,
                                               bool includeCatalog, bool catalogOnly,
                                               bool resetPublished) {
  const std::string statement = FormatText("RESTORE DATABASE %s", {Database->Name});
  Session->CheckPrivilege(Database, pkRestore, statement);
  RequireNoTransaction(statement);
  includeCatalog = includeCatalog || catalogOnly;
  if (tableNames.GetCount() > 0 && includeCatalog) {
    RaiseRestoreError(
        "Restoration of individual tables is not permitted when also restoring the database "
        "catalog");
  }

  // Nobody else may have the database open.
  OpenDatabase(kBRNLockExclusive);
  bool result = false;
  TBRNStoreManager* storeHandle = nullptr;
  std::exception_ptr failure;
  try {
    storeHandle = Session->OpenStore(storeName, kBRNLockShared, false);
    TBRNStoreManager& source = *storeHandle;
    const std::string fileName = backupName + Session->SessionSettings->GetBackupExtension();
    const int64_t fileSize = source.BeginReadFile(fileName);
    TBackupMedium medium(*this, source);
    medium.FetchFromStore(fileName, fileSize);
    TBRNStream& stream = medium.Stream();

    TBRNBackupHeader header;
    const TBRNBackupHeaderStatus status = ReadBackupHeader(stream, GetSignatureDigest(), header);
    if (status == TBRNBackupHeaderStatus::Unreadable)
      RaiseRestoreError("Error reading the header from the backup");
    if (status == TBRNBackupHeaderStatus::InvalidSignature)
      RaiseRestoreError("Invalid backup header signature");
    if (includeCatalog && !header.IncludesCatalog)
      RaiseRestoreError("Cannot restore the catalog, the backup does not contain a catalog");

    // The tables to restore and their places, every entry checked before
    // anything changes.
    int64_t total = 0;
    auto matchDirectory = [&]() {
      std::vector<TBackupTable> tables = buildBackupTables(*this, tableNames);
      for (const TBRNBackupTableEntry& entry : header.Tables) {
        auto found = std::find_if(tables.begin(), tables.end(), [&](const TBackupTable& table) {
          return TextEqualsIgnoreCase(table.Table->Name, entry.Name);
        });
        if (found == tables.end()) continue;
        if (found->Table->StructureChecksum != entry.StructureChecksum) {
          RaiseRestoreError(FormatText(
              "The %s %s version in the backup does not match the version in the database catalog",
              {found->Table->GetObjectTypeName(), found->Table->Name}));
        }
        // A name listed twice is damage: the second place would be read over
        // the first.
        if (found->Size != 0) RaiseRestoreError("Error reading the header from the backup");
        found->Offset = entry.Offset;
        found->End = entry.End;
        found->Size = entry.Size;
        total += entry.Size;
      }
      return tables;
    };

    std::vector<TBackupTable> tables;
    std::string previousCatalog;
    bool catalogRestored = false;
    if (includeCatalog) {
      TBRNCatalogUpdateBracket update(*this);
      {
        TBRNMemoryStream previous;
        Catalog->SaveToStream(previous, false);
        previousCatalog.assign(reinterpret_cast<const char*>(previous.GetMemory()),
                               size_t(previous.GetSize()));
      }
      loadCatalog(*this, header.Catalog, true);
      if (resetPublished) {
        TBRNBaseTables& all = *Catalog->DefaultSchema->BaseTables;
        for (int32_t i = 0; i < all.Count(); ++i) {
          auto* table = static_cast<TBRNBaseTable*>(all.GetItem(i));
          if (table->Published) table->RenewPublishID();
        }
      }
      if (!catalogOnly) tables = matchDirectory();
      Catalog->SetModified(true);
      update.Commit();
      catalogRestored = true;
      InvalidateInformationTables();
    } else if (!catalogOnly) {
      TBRNCatalogReadBracket read(*this);
      tables = matchDirectory();
    }

    // After the catalog commit a failure or stop puts back the catalog and
    // the files of every table restored, so that they match again.
    std::vector<TRestoredTable> restored;
    auto putBackAll = [&]() {
      if (!catalogRestored) return;
      TBRNCleanUpSteps steps;
      for (auto it = restored.rbegin(); it != restored.rend(); ++it)
        steps.Run([&] { putBackTable(*this, *it); });
      steps.Run([&] {
        TBRNCatalogUpdateBracket update(*this);
        loadCatalog(*this, previousCatalog, false);
        Catalog->SetModified(true);
        update.Commit();
        InvalidateInformationTables();
      });
      steps.RaiseFirst();
    };

    bool proceed = true;
    try {
      TBRNProgressScope progress(*this);
      int64_t done = 0;
      for (const TBackupTable& entry : tables) {
        if (entry.Size == 0) continue;
        TRestoredTable current{entry.Table, existingFiles(*this, entry.Table)};
        TBRNTableManager& manager = TableManagerOf(*this, entry.Table);
        if (manager.GetOpen() && manager.GetUserCount() == 0) manager.Close(true, true);
        // The open makes the files the table lacks; those it had are kept
        // as ".Old" copies. From then on the table holds no half-read data:
        // a failure or a stop puts its previous files back.
        bool copied = false;
        try {
          TCopyOpen open(*this, entry.Table, true);
          if (current.Previous != 0) open.Manager().MakeOldCopies(false, current.Previous);
          copied = true;
          TBRNStreamWindow window(stream, entry.Offset, entry.End);
          proceed = readTableBackup(open.Manager(), window, done, total, header.Compression,
                                    entry.Size);
          open.Close();
        } catch (...) {
          // Before the copies stand the files are as they were.
          if (copied) {
            try {
              putBackTable(*this, current);
            } catch (...) {
            }
          }
          throw;
        }
        if (!proceed) {
          putBackTable(*this, current);
          break;
        }
        restored.push_back(current);
      }
    } catch (...) {
      try {
        putBackAll();
      } catch (...) {
      }
      throw;
    }
    if (!proceed) putBackAll();
    result = proceed;
  } catch (...) {
    failure = std::current_exception();
  }

  TBRNCleanUpSteps steps;
  if (storeHandle != nullptr) steps.Run([&] { Session->CloseStore(storeHandle); });
  steps.Run([&] { CloseDatabase(false); });
  if (failure) std::rethrow_exception(failure);
  steps.RaiseFirst();
  return result;
}

}  // namespace brn
