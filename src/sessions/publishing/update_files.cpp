// SAVE UPDATES, LOAD UPDATES and the reading of an update file as rows.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/files/file_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "foundation/types/date_time.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/privileges.h"
#include "metadata/config/stores.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/engine_settings.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/progress_scope.h"
#include "sessions/publishing/publishing_tables.h"
#include "sessions/publishing/update_file_header.h"
#include "sessions/stores/local_store_manager.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

constexpr const char* kHeaderWriteError = "Error writing the header to the update file";
constexpr const char* kHeaderReadError = "Error reading the header from the update file";
constexpr const char* kHeaderSignatureError = "Invalid update file header signature";
constexpr const char* kTemporarySuffix = ".Tmp";
constexpr int64_t kExhausted = std::numeric_limits<int64_t>::max();

// A store opened (Shared) through the session for one command.
class TOpenStore {
 public:
  TOpenStore(TBRNLocalSessionManager& session, const std::string& name)
      : session_(session), store_(session.OpenStore(name, kBRNLockShared, false)) {}
  ~TOpenStore() {
    try {
      session_.CloseStore(store_);
    } catch (...) {
      // The command's own error (if any) is the one reported.
    }
  }
  TOpenStore(const TOpenStore&) = delete;
  TOpenStore& operator=(const TOpenStore&) = delete;

  TBRNStoreManager& operator*() const { return *store_; }
  TBRNStoreManager* operator->() const { return store_; }

 private:
  TBRNLocalSessionManager& session_;
  TBRNStoreManager* store_;
};

// The managers opened (Shared) for one command, closed again in reverse.
class TOpenManagers {
 public:
  // withoutReferences: the tables linked by foreign keys are not opened.
  TOpenManagers(TBRNLocalDatabaseManager& database, bool withoutReferences)
      : database_(database), withoutReferences_(withoutReferences) {}
  ~TOpenManagers() {
    for (auto it = managers_.rbegin(); it != managers_.rend(); ++it) {
      try {
        (*it)->Close(false, true);
      } catch (...) {
        // The command's own error (if any) is the one reported.
      }
    }
  }
  TOpenManagers(const TOpenManagers&) = delete;
  TOpenManagers& operator=(const TOpenManagers&) = delete;

  TBRNTableManager& Open(TBRNBaseTable* table) {
    auto* manager = static_cast<TBRNTableManager*>(database_.TableManagers->GetManager(table));
    const bool suppressed = manager->SuppressReferences;
    manager->SuppressReferences = withoutReferences_;
    try {
      database_.TableManagers->OpenManager(table, kBRNLockTypeShared);
    } catch (...) {
      manager->SuppressReferences = suppressed;
      throw;
    }
    manager->SuppressReferences = suppressed;
    managers_.push_back(manager);
    return *manager;
  }

 private:
  TBRNLocalDatabaseManager& database_;
  bool withoutReferences_;
  std::vector<TBRNTableManager*> managers_;
};

// Writes all of source through the store; false when the store took less.
bool writeAll(TBRNStoreManager& store, TBRNMemoryStream& source) {
  while (source.GetPosition() < source.GetSize()) {
    const int64_t left = source.GetSize() - source.GetPosition();
    if (store.WriteFile(source, uint32_t(left)) == 0) return false;
  }
  return true;
}

// The names of tables, for the database transaction.
TBRNStringsList namesOf(const std::vector<TBRNBaseTable*>& tables) {
  TBRNStringsList names;
  for (TBRNBaseTable* table : tables) names.Add(table->Name);
  return names;
}

// One table of a load or a read: its section of the file and its next
// record.
struct TLoadTable {
  TBRNBaseTable* Table = nullptr;
  TBRNTableManager* Manager = nullptr;
  int64_t Position = 0;
  int64_t Remaining = 0;
  int64_t Timestamp = kExhausted;
};

}  // namespace

// ---------------------------------------------------------------------------
// SAVE UPDATES

bool TBRNLocalDatabaseManager::SaveUpdates(const std::string& updateName,
                                           const std::string& storeName,
                                           const TBRNStringsList& tables,
                                           const std::string& description, int32_t compression,
                                           bool skipWhenEmpty) {
  const std::string statement = FormatText("SAVE UPDATES TO DATABASE %s", {Database->Name});
  Session->CheckPrivilege(Database, pkMaintain, statement);
  RequireNoTransaction(statement);
  TOpenDatabase open(*this);
  TBRNCatalogReadBracket read(*this);
  const std::vector<TBRNBaseTable*> list = PublishingTables(*this, tables, nullptr);
  TBRNUpdateFileHeader header;
  header.Description = description;
  header.DatabaseName = Database->Name;
  header.DatabasePath = Database->System ? std::string() : GetDatabasePath();
  header.Timestamp = CurrentTimestamp(false);
  Session->GetUserName(header.UserName);
  header.Compression = compression;
  TOpenStore store(*Session, storeName);
  // Writing an update file creates a file in the store.
  auto* storeObject = static_cast<TBRNStore*>(Session->Config->Stores->FindByName(storeName, true));
  Session->CheckPrivilege(storeObject, pkCreate, statement);

  TOpenManagers managers(*this, true);
  std::vector<TBRNTableManager*> tableManagers;
  for (TBRNBaseTable* table : list) tableManagers.push_back(&managers.Open(table));
  // A database transaction over the tables from here to the end: no row
  // change can be logged between writing a table's section and emptying
  // its log, and the logs are emptied together by its commit.
  StartTransaction(namesOf(list), -1);
  struct TTransaction {
    TBRNLocalDatabaseManager& Database;
    bool Open = true;
    ~TTransaction() {
      try {
        if (Open && Database.InTransaction()) Database.Rollback();
      } catch (...) {
        // The command's own error (if any) is the one reported.
      }
    }
  } transaction{*this};
  int64_t total = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    total += tableManagers[i]->GetPublishedUpdatesSize();
    header.Sections.push_back({list[i]->Name, 0, 0});
  }
  if (total == 0 && skipWhenEmpty) return true;

  const std::string finalName = updateName + Session->Engine->Settings->GetUpdateExtension();
  const std::string temporaryName = updateName + kTemporarySuffix;
  store->BeginWriteFile(temporaryName);
  try {
    TBRNMemoryStream headerBytes;
    header.WriteTo(headerBytes, GetSignatureDigest());
    headerBytes.SetPosition(0);
    if (!writeAll(*store, headerBytes)) RaiseSaveUpdatesError(kHeaderWriteError);
    int64_t position = headerBytes.GetSize();
    {
      TBRNProgressScope progress(*this);
      int64_t counter = 0;
      for (size_t i = 0; i < tableManagers.size(); ++i) {
        TBRNUpdateFileSection& section = header.Sections[i];
        section.Offset = position;
        int64_t lastTimestamp = 0;
        const bool completed = tableManagers[i]->WriteUpdateRecords(
            [&](TBRNMemoryStream& record) {
              const int64_t size = record.GetSize();
              if (!writeAll(*store, record)) return false;
              position += size;
              return true;
            },
            counter, total, lastTimestamp, compression);
        if (!completed) {
          store->CancelWriteFile();
          return false;
        }
        section.Length = position - section.Offset;
      }
    }
    // The header again, with the sections' places, over the first one.
    auto* local = dynamic_cast<TBRNLocalStoreManager*>(&*store);
    if (local == nullptr || !local->Stream) RaiseSaveUpdatesError(kHeaderWriteError);
    headerBytes.SetSize(0);
    headerBytes.SetPosition(0);
    header.WriteTo(headerBytes, GetSignatureDigest());
    local->Stream->SetPosition(0);
    if (local->Stream->Write(headerBytes.GetMemory(), int32_t(headerBytes.GetSize())) !=
        int32_t(headerBytes.GetSize())) {
      RaiseSaveUpdatesError(kHeaderWriteError);
    }
    local->Stream->SetPosition(position);
    store->EndWriteFile();
    store->DeleteFile(finalName);
    store->RenameFile(temporaryName, finalName);
  } catch (...) {
    try {
      store->CancelWriteFile();
      store->DeleteFile(temporaryName);
    } catch (...) {
      // The save's error is the one reported.
    }
    throw;
  }
  // Only a complete file takes the records out of the logs: a failure
  // before this point leaves every log as it was.
  // A commit that fails part way leaves the file: a record is never lost,
  // though a table whose log could not be emptied saves it again.
  for (TBRNTableManager* manager : tableManagers) manager->EmptyPublishedUpdates();
  Commit(true, false);
  transaction.Open = false;
  return true;
}

// ---------------------------------------------------------------------------
// LOAD UPDATES and the reading of an update file

namespace {

// What LOAD UPDATES and the reading of an update file share: the file in
// memory, its header and the tables with a section, each with its first
// record read.
class TUpdateFileReader {
 public:
  TUpdateFileReader(TBRNLocalDatabaseManager& database, TBRNStoreManager& store)
      : database_(database), store_(store) {}
  ~TUpdateFileReader() {
    try {
      if (reading_) store_.EndReadFile();
    } catch (...) {
      // The command's own error (if any) is the one reported.
    }
  }
  TUpdateFileReader(const TUpdateFileReader&) = delete;
  TUpdateFileReader& operator=(const TUpdateFileReader&) = delete;

  // Steps 1 to 3: the file read and its header checked before any table
  // opens; the tables of names with a section (none: false).
  bool Read(const std::string& fileName, const TBRNStringsList& names) {
    const int64_t size = store_.BeginReadFile(fileName);
    reading_ = true;
    if (size < 0 || size > std::numeric_limits<int32_t>::max() - 1) {
      database_.RaiseLoadUpdatesError(kHeaderReadError);
    }
    file_.SetSize(size);
    file_.SetPosition(0);
    while (file_.GetPosition() < size) {
      if (store_.ReadFile(file_, uint32_t(size - file_.GetPosition())) == 0) break;
    }
    if (file_.GetPosition() != size) database_.RaiseLoadUpdatesError(kHeaderReadError);
    store_.EndReadFile();
    reading_ = false;
    const TBRNUpdateHeaderResult result =
        ParseUpdateFileHeader(file_, database_.GetSignatureDigest(), Header);
    if (result == TBRNUpdateHeaderResult::BadSignature) {
      database_.RaiseLoadUpdatesError(kHeaderSignatureError);
    }
    if (result != TBRNUpdateHeaderResult::Valid) database_.RaiseLoadUpdatesError(kHeaderReadError);
    std::vector<TBRNBaseTable*> list = PublishingTables(database_, names, nullptr);
    for (const TBRNUpdateFileSection& section : Header.Sections) {
      if (section.Length == 0) continue;
      auto found = std::find_if(list.begin(), list.end(), [&](TBRNBaseTable* table) {
        return TextEqualsIgnoreCase(table->Name, section.TableName);
      });
      if (found == list.end()) continue;
      bool listed = std::any_of(Tables.begin(), Tables.end(),
                                [&](const TLoadTable& load) { return load.Table == *found; });
      if (listed) continue;
      TLoadTable load;
      load.Table = *found;
      load.Position = section.Offset;
      load.Remaining = section.Length;
      Tables.push_back(load);
      totalBytes_ += section.Length;
    }
    return !Tables.empty();
  }

  // Step 4: every table's manager open with its primary key checked and its
  // first record read.
  void OpenTables(TOpenManagers& managers, bool checkPrimaryKey) {
    for (TLoadTable& load : Tables) load.Manager = &managers.Open(load.Table);
    for (TLoadTable& load : Tables) {
      if (checkPrimaryKey) load.Manager->CheckPrimaryKey();
      Next(load);
    }
  }

  // Reads the table's next record, or marks it exhausted.
  void Next(TLoadTable& load) {
    if (load.Remaining <= 0) {
      load.Timestamp = kExhausted;
      return;
    }
    file_.SetPosition(load.Position);
    // The record must lie inside the table's section.
    TBRNMemoryStream section;
    section.AttachMemory(file_.GetMemory() + load.Position, int32_t(load.Remaining));
    int64_t counter = 0;
    const int64_t used = load.Manager->ReadUpdateRecord(section, counter, Header.Compression);
    load.Position += used;
    load.Remaining -= used;
    bytesRead_ += used;
    load.Timestamp = load.Manager->ReadRecordTimestamp();
  }

  // The table whose record comes next: the earliest timestamp, and on
  // equal timestamps a table referenced through foreign keys before the
  // table that references it. nullptr once every table is exhausted.
  TLoadTable* First() {
    TLoadTable* first = nullptr;
    for (TLoadTable& load : Tables) {
      if (load.Timestamp == kExhausted) continue;
      if (first == nullptr || load.Timestamp < first->Timestamp ||
          (load.Timestamp == first->Timestamp && first->Table->ReferencesTable(load.Table) &&
           !load.Table->ReferencesTable(first->Table))) {
        first = &load;
      }
    }
    return first;
  }

  int32_t Percent() const {
    return totalBytes_ > 0 ? int32_t(std::min<int64_t>(100, bytesRead_ * 100 / totalBytes_)) : 100;
  }

  TBRNUpdateFileHeader Header;
  std::vector<TLoadTable> Tables;

 private:
  TBRNLocalDatabaseManager& database_;
  TBRNStoreManager& store_;
  TBRNMemoryStream file_;
  bool reading_ = false;
  int64_t totalBytes_ = 0;
  int64_t bytesRead_ = 0;
};

std::vector<TBRNBaseTable*> tablesOf(const std::vector<TLoadTable>& loads) {
  std::vector<TBRNBaseTable*> tables;
  for (const TLoadTable& load : loads) tables.push_back(load.Table);
  return tables;
}

}  // namespace

bool TBRNLocalDatabaseManager::LoadUpdates(const std::string& updateName,
                                           const std::string& storeName,
                                           const TBRNStringsList& tables, bool ignoreMissing) {
  const std::string statement = FormatText("LOAD UPDATES FOR DATABASE %s", {Database->Name});
  Session->CheckPrivilege(Database, pkMaintain, statement);
  RequireNoTransaction(statement);
  TOpenDatabase open(*this);
  TOpenStore store(*Session, storeName);
  TBRNCatalogReadBracket read(*this);
  TUpdateFileReader reader(*this, *store);
  if (!reader.Read(updateName + Session->Engine->Settings->GetUpdateExtension(), tables)) {
    return true;
  }
  TOpenManagers managers(*this, false);
  reader.OpenTables(managers, true);
  TBRNProgressScope progress(*this);
  StartTransaction(namesOf(tablesOf(reader.Tables)), -1);
  try {
    while (TLoadTable* load = reader.First()) {
      load->Manager->ApplyUpdateRecordSafe(ignoreMissing);
      reader.Next(*load);
      // A cancel takes back what was applied: the file can be loaded again
      // whole, without applying any record twice.
      if (!UpdateProgress(reader.Percent())) {
        Rollback();
        return false;
      }
    }
    Commit(false, false);
  } catch (...) {
    try {
      if (InTransaction()) Rollback();
    } catch (...) {
      // The load's error is the one reported.
    }
    throw;
  }
  AdvanceTimestamp(reader.Header.Timestamp);
  return true;
}

void TBRNLocalDatabaseManager::ReadUpdateFile(const std::string& updateName,
                                              const std::string& storeName,
                                              const TBRNStringsList& tables,
                                              TBRNVirtualTableManager& updatesTable) {
  TOpenDatabase open(*this);
  TOpenStore store(*Session, storeName);
  TBRNCatalogReadBracket read(*this);
  TUpdateFileReader reader(*this, *store);
  if (!reader.Read(updateName + Session->Engine->Settings->GetUpdateExtension(), tables)) return;
  TOpenManagers managers(*this, false);
  reader.OpenTables(managers, false);
  updatesTable.StartTransaction();
  try {
    while (TLoadTable* load = reader.First()) {
      load->Manager->RecordToRow(updatesTable);
      reader.Next(*load);
    }
    updatesTable.CommitTransaction();
  } catch (...) {
    try {
      updatesTable.RollbackTransaction();
    } catch (...) {
      // The read's error is the one reported.
    }
    throw;
  }
}

}  // namespace brn
