#include "sessions/local/session_snapshots.h"

#include <cstdint>
#include <limits>
#include <unordered_map>
#include <utility>

#include "foundation/locks/lockable.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/views.h"
#include "storage/files/table_file.h"
#include "storage/indexes/index_file.h"
#include "storage/rows/blob_file.h"
#include "storage/rows/published_updates_file.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_locks.h"
#include "storage/tables/schema_object_manager.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// The registry of the published session infos (PublishSessionInfo).
struct SessionInfoTable {
  std::mutex Lock;
  std::unordered_map<const TBRNEngineSessionManager*, std::shared_ptr<TBRNSessionInfoGuard>> Guards;
};

SessionInfoTable& sessionInfoTable() {
  static SessionInfoTable table;
  return table;
}

constexpr const char* kInformationSchemaName = "Information";

// Held-lock bit and the lock entry type it gives, in listing order.
constexpr uint8_t kListedLockTypes[] = {ltShared, ltExclusive, ltRead, ltWrite, ltTransaction};

void addCollectionLocks(TBRNLockList& list, const std::string& databaseName,
                        const TBRNConfigObjects* objects) {
  if (objects == nullptr) return;
  for (int32_t i = 0; i < objects->Count(); ++i) {
    const auto* lockable = dynamic_cast<const TBRNLockable*>(objects->GetItem(i));
    if (lockable != nullptr) AddObjectLocks(list, databaseName, *lockable);
  }
}

void addRowEntries(TBRNLockList& list, const std::string& databaseName, const TBRNBaseTable& table,
                   const TBRNRowLocks* rows) {
  if (rows == nullptr) return;
  std::string typeName = CapitalizeWords(table.GetObjectTypeName());
  int32_t row = 0;
  while (rows->NextLockedRow(row)) {
    list.Add({databaseName, table.Name, typeName, kBRNLockEntryRow, row});
  }
}

// Block size times blocks, held at the int32 maximum (a cache that grew
// past its capacity in a long transaction may pass it).
int32_t bufferBytes(int32_t blockSize, int32_t blocks) {
  int64_t bytes = int64_t(blockSize) * blocks;
  return bytes > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                     : int32_t(bytes);
}

void addFileStatistics(TBRNStatisticsList& list, const std::string& databaseName,
                       const std::string& tableName, const char* bufferManager,
                       const TBRNTableFileManager* file) {
  if (file == nullptr) return;
  TBRNStatistics entry;
  entry.DatabaseName = databaseName;
  entry.TableName = tableName;
  entry.BufferManager = bufferManager;
  entry.MaxBufferSize = bufferBytes(file->GetBlockSize(), file->GetCapacity());
  entry.CurrentBufferSize = bufferBytes(file->GetBlockSize(), file->GetBufferCount());
  entry.Hits = file->CacheHits;
  entry.Misses = file->CacheMisses;
  entry.HitRatio = BufferHitRatio(file->CacheHits, file->CacheMisses);
  entry.Reads = file->DiskReads;
  entry.BytesRead = file->BytesRead;
  entry.Writes = file->DiskWrites;
  entry.BytesWritten = file->BytesWritten;
  list.Add(std::move(entry));
}

// The files of a listed table in listing order: rows, indexes, BLOBs,
// published updates (those not in use are nullptr).
struct ListedFiles {
  TBRNTableFileManager* Files[4];
};
constexpr const char* kBufferManagerNames[4] = {"Rows", "Indexes", "BLOBs", "Published Updates"};

ListedFiles listedFiles(TBRNTableManager& manager) {
  return {{manager.GetRowsetManager(), manager.GetIndexManager(),
           manager.UsesBlobFile() ? manager.GetBlobManager() : nullptr,
           manager.UsesPublishedUpdatesFile() ? manager.GetPublishedUpdatesManager() : nullptr}};
}

}  // namespace

int64_t BufferHitRatio(int64_t hits, int64_t misses) {
  if (hits <= 0 && misses <= 0) return 0;
  if (hits < 0) hits = 0;
  if (misses < 0) misses = 0;
  // Percent rounded half up, computed in integers: (200 h + t) / 2t. Huge
  // counters are halved together until the products fit.
  uint64_t h = uint64_t(hits);
  uint64_t t = uint64_t(hits) + uint64_t(misses);
  while (t > std::numeric_limits<uint64_t>::max() / 256) {
    h >>= 1;
    t >>= 1;
  }
  uint64_t percent = (200 * h + t) / (2 * t);
  return int64_t(percent) * 100;
}

void AddObjectLocks(TBRNLockList& list, const std::string& databaseName,
                    const TBRNLockable& object) {
  uint8_t held = object.GetHeldLocks();
  if (held == 0) return;
  std::string typeName = CapitalizeWords(object.GetObjectTypeName());
  std::string name = object.GetName();
  for (uint8_t lockType : kListedLockTypes) {
    if ((held & LockTypeBit(lockType)) != 0) list.Add({databaseName, name, typeName, lockType, 0});
  }
}

TBRNTableManager* ListedTableManager(TBRNSchemaObjectManager* manager) {
  auto* tableManager = dynamic_cast<TBRNTableManager*>(manager);
  if (tableManager == nullptr || !tableManager->GetOpen()) return nullptr;
  TBRNBaseTable* table = tableManager->GetBaseTable();
  if (table == nullptr || table->Transient) return nullptr;
  TBRNSchema* schema = table->GetSchema();
  if (schema != nullptr && TextEqualsIgnoreCase(schema->Name, kInformationSchemaName)) {
    return nullptr;
  }
  return tableManager;
}

void AddDatabaseLocks(TBRNLockList& list, const std::string& databaseName,
                      const TBRNLockable* container, const TBRNCatalog& catalog,
                      const TBRNSchemaObjectManagers* tableManagers) {
  AddObjectLocks(list, databaseName, catalog);
  if (container != nullptr) AddObjectLocks(list, databaseName, *container);
  if (const TBRNSchema* schema = catalog.DefaultSchema; schema != nullptr) {
    addCollectionLocks(list, databaseName, schema->BaseTables.get());
    addCollectionLocks(list, databaseName, schema->Views.get());
    addCollectionLocks(list, databaseName, schema->TemporaryTables.get());
    addCollectionLocks(list, databaseName, schema->Functions.get());
    addCollectionLocks(list, databaseName, schema->Procedures.get());
  }
  if (tableManagers == nullptr) return;
  int32_t handle = 0;
  TBRNSchemaObjectManager* manager = nullptr;
  while (tableManagers->NextManager(handle, manager)) {
    TBRNTableManager* tableManager = ListedTableManager(manager);
    if (tableManager == nullptr) continue;
    const TBRNBaseTable& table = *tableManager->GetBaseTable();
    addRowEntries(list, databaseName, table, tableManager->GetRowLocks());
    if ((table.GetHeldLocks() & LockTypeBit(ltTransaction)) != 0) {
      addRowEntries(list, databaseName, table, tableManager->GetTransactionRowLocks());
    }
  }
}

void AddDatabaseStatistics(TBRNStatisticsList& list, const std::string& databaseName,
                           const TBRNSchemaObjectManagers* tableManagers) {
  if (tableManagers == nullptr) return;
  int32_t handle = 0;
  TBRNSchemaObjectManager* manager = nullptr;
  while (tableManagers->NextManager(handle, manager)) {
    TBRNTableManager* tableManager = ListedTableManager(manager);
    if (tableManager == nullptr) continue;
    const std::string& tableName = tableManager->GetBaseTable()->Name;
    ListedFiles files = listedFiles(*tableManager);
    for (int32_t i = 0; i < 4; ++i) {
      addFileStatistics(list, databaseName, tableName, kBufferManagerNames[i], files.Files[i]);
    }
  }
}

void ResetDatabaseStatistics(const TBRNSchemaObjectManagers* tableManagers) {
  if (tableManagers == nullptr) return;
  int32_t handle = 0;
  TBRNSchemaObjectManager* manager = nullptr;
  while (tableManagers->NextManager(handle, manager)) {
    TBRNTableManager* tableManager = ListedTableManager(manager);
    if (tableManager == nullptr) continue;
    for (TBRNTableFileManager* file : listedFiles(*tableManager).Files) {
      if (file != nullptr) file->ClearStatistics();
    }
  }
}

// ---------------------------------------------------------------------------
// Session info

TBRNSessionInfo TBRNSessionInfoGuard::Get() const {
  std::lock_guard<std::mutex> guard(lock_);
  return info_;
}

void TBRNSessionInfoGuard::Update(const std::function<void(TBRNSessionInfo&)>& change) {
  std::lock_guard<std::mutex> guard(lock_);
  change(info_);
}

void PublishSessionInfo(const TBRNEngineSessionManager* session,
                        std::shared_ptr<TBRNSessionInfoGuard> guard) {
  SessionInfoTable& table = sessionInfoTable();
  std::lock_guard<std::mutex> lock(table.Lock);
  table.Guards[session] = std::move(guard);
}

void WithdrawSessionInfo(const TBRNEngineSessionManager* session) {
  SessionInfoTable& table = sessionInfoTable();
  std::lock_guard<std::mutex> lock(table.Lock);
  table.Guards.erase(session);
}

std::shared_ptr<TBRNSessionInfoGuard> FindSessionInfo(const TBRNEngineSessionManager* session) {
  SessionInfoTable& table = sessionInfoTable();
  std::lock_guard<std::mutex> lock(table.Lock);
  auto found = table.Guards.find(session);
  return found == table.Guards.end() ? nullptr : found->second;
}

}  // namespace brn
