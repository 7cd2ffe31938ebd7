#include "execution/cursors/cached_updates.h"

#include <stdexcept>
#include <utility>

#include "execution/cursors/local_cursor.h"
#include "foundation/core/memory_stream.h"
#include "foundation/runtime/clean_up_steps.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/manager_interfaces.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// The open strings of the private session.
constexpr const char* kCacheSessionName = "CacheManager";
constexpr const char* kCacheSessionDescription = "Cache Manager Session";

TBRNTableManager& cacheTableOf(TBRNLocalCursor& cache) {
  auto* manager = dynamic_cast<TBRNTableManager*>(&cache.GetTableManager());
  if (manager == nullptr) throw std::logic_error("a cache cursor lies on a base table");
  return *manager;
}

// Switches the cache table's publishing off for the scope, so that
// copying rows in is not logged as edits; on again at its end.
class TUnpublishedScope {
 public:
  explicit TUnpublishedScope(TBRNBaseTable& table) : table_(table) { table_.Published = false; }
  ~TUnpublishedScope() { table_.Published = true; }
  TUnpublishedScope(const TUnpublishedScope&) = delete;
  TUnpublishedScope& operator=(const TUnpublishedScope&) = delete;

 private:
  TBRNBaseTable& table_;
};

}  // namespace

// ---------------------------------------------------------------------------
// The private session

TBRNCachedUpdatesSessionManager::TBRNCachedUpdatesSessionManager(TBRNEngineManager* engine,
                                                                 TBRNSessionManager& owner)
    : TBRNLocalSessionManager(engine, false, false), Owner(owner) {}

TBRNCachedUpdatesSessionManager::~TBRNCachedUpdatesSessionManager() {
  try {
    CloseSession();
  } catch (...) {
    // A destructor cannot report; every closing step ran regardless.
  }
}

void TBRNCachedUpdatesSessionManager::OpenConfigurationFiles() {
  TBRNLocalSessionManager::OpenConfigurationFiles();
  TBRNDatabaseContainer* container = Config->CursorCacheDatabase;
  container->Path = GetSessionFolder() + container->Name;
  CacheDatabase = GetDatabaseManager(container);
  CacheDatabase->OpenDatabase(kBRNLockShared);
}

void TBRNCachedUpdatesSessionManager::CloseConfigurationFiles() {
  TBRNCleanUpSteps steps;
  if (TBRNLocalDatabaseManager* cache = std::exchange(CacheDatabase, nullptr)) {
    steps.Run([&] {
      TBRNDatabaseManager* handle = cache;
      TBRNSessionManager::CloseDatabase(handle);
      cache->CloseDatabase(true);
    });
    steps.Run([&] {
      TBRNSystemUserScope asSystem(*this);
      cache->DropDatabase(false);
    });
  }
  steps.Run([&] { TBRNLocalSessionManager::CloseConfigurationFiles(); });
  steps.RaiseFirst();
}

// ---------------------------------------------------------------------------
// The manager

TBRNCachedUpdatesManager::TBRNCachedUpdatesManager(TBRNEngineManager* engine,
                                                   TBRNSessionManager& session)
    : engine_(engine),
      privateSession_(std::make_unique<TBRNCachedUpdatesSessionManager>(engine, session)) {}

TBRNCachedUpdatesManager::~TBRNCachedUpdatesManager() {
  try {
    StopSession();
  } catch (...) {
    // A destructor cannot report; the private session still closes below.
  }
}

TBRNCachedUpdatesManager& TBRNCachedUpdatesManager::Get(TBRNLocalSessionManager& session) {
  if (!session.KeepsCachedUpdates())
    throw std::logic_error("this session keeps no cached updates of its own");
  if (auto* manager = dynamic_cast<TBRNCachedUpdatesManager*>(session.CachedUpdates.get()))
    return *manager;
  auto manager = std::make_unique<TBRNCachedUpdatesManager>(session.Engine, session);
  manager->StartSession();
  TBRNCachedUpdatesManager& made = *manager;
  session.CachedUpdates = std::move(manager);
  return made;
}

void TBRNCachedUpdatesManager::StartSession() {
  if (started_) return;
  TBRNCachedUpdatesSessionManager& cache = *privateSession_;
  cache.SessionSettings->SetConfigMemory(true);
  cache.SessionSettings->SetConfigPrivate(true);
  cache.SessionSettings->SetLogCategories(0);
  const TBRNEnvironment& environment = *engine_->Environment;
  cache.OpenSession(
      environment.GetComputerName() + ":" + std::to_string(environment.GetProcessId()),
      kCacheSessionName, kCacheSessionDescription);
  cache.SetCurrentUser(cache.Config->SystemUser);
  started_ = true;
}

void TBRNCachedUpdatesManager::StopSession() {
  if (!started_) return;
  started_ = false;
  privateSession_->SetCurrentUser(nullptr);
  privateSession_->CloseSession();
}

void TBRNCachedUpdatesManager::RaiseCacheError(const TBRNCursor& cursor,
                                               const std::string& reason) {
  throw EBRNException(
      kCachedUpdatesErrorCode,
      FormatText("Error caching updates for the cursor %s (%s)", {cursor.Name, reason}));
}

void TBRNCachedUpdatesManager::CheckPrimaryKey(TBRNCursor& cursor) {
  static constexpr const char* kNoKey =
      "Cursor does not have access to a primary key for the underlying table, view, or query";
  TBRNCursorIndexes& indexes = cursor.GetIndexes();
  const int32_t position = indexes.IndexOfType(kIndexPrimaryKey);
  if (position < 0) RaiseCacheError(cursor, kNoKey);
  TBRNIndex* key = indexes.GetItem(position);
  // The internal key on the row identifier names a row only within its own
  // table's files: it cannot find the row again in the source table.
  if (key->Columns->Count() == 1) {
    TBRNColumn* column = key->Columns->GetItem(0)->GetColumn();
    if (column != nullptr && column->Index == 0) RaiseCacheError(cursor, kNoKey);
  }
}

std::unique_ptr<TBRNLocalCursor> TBRNCachedUpdatesManager::BeginCachedUpdates(
    TBRNLocalCursor& cursor) {
  TBRNVirtualTableManager& source = cursor.GetTableManager();
  return BeginCachedUpdates(cursor, *source.GetColumns(), *source.GetIndexes());
}

std::unique_ptr<TBRNLocalCursor> TBRNCachedUpdatesManager::BeginCachedUpdates(
    TBRNCursor& cursor, TBRNColumns& columns, TBRNIndexes& indexes) {
  CheckPrimaryKey(cursor);
  TBRNLocalDatabaseManager& database = *privateSession_->CacheDatabase;
  TBRNBaseTable* table = database.CreateTemporaryTable(cursor.Name, false);
  try {
    table->Columns->Assign(&columns, false);
    table->Indexes->Assign(&indexes, false);
    // Owned by the System user, who edits it through the cache cursor.
    table->ApplyDefaultGrants();
    table->SetPublished(true);
    database.CommitCreateTemporaryTable(table);
  } catch (...) {
    try {
      database.RollbackCreateTemporaryTable(table);
    } catch (...) {
      // The definition's own failure is the one reported.
    }
    throw;
  }
  try {
    const std::string schema =
        table->GetSchema() != nullptr && table->GetSchema() != database.GetCatalog()->DefaultSchema
            ? table->GetSchema()->Name
            : std::string();
    std::unique_ptr<TBRNCursor> opened(database.OpenTable(schema, table->Name, false, false));
    database.Cursors.RemoveObject(opened.get(), false);
    auto* local = dynamic_cast<TBRNLocalCursor*>(opened.get());
    if (local == nullptr) throw std::logic_error("the cache table's cursor is not a local cursor");
    std::unique_ptr<TBRNLocalCursor> cache(local);
    opened.release();
    cache->GetCursorColumns().Assign(&cursor.GetCursorColumns(), false);
    if (cursor.GetActiveIndex() >= 0) cache->SetActiveIndex(cursor.GetActiveIndex());
    return cache;
  } catch (...) {
    try {
      database.DropTemporaryTable(table);
    } catch (...) {
      // The opening's own failure is the one reported.
    }
    throw;
  }
}

void TBRNCachedUpdatesManager::CopyRowsToCache(TBRNCursor& cursor, TBRNLocalCursor& cache) {
  TUnpublishedScope unpublished(*cacheTableOf(cache).GetBaseTable());
  cache.EmptyCursor(false);
  TBRNMemoryStream stream;
  cursor.SaveToStream(stream);
  stream.SetPosition(0);
  cache.LoadFromStream(stream, 0);
}

void TBRNCachedUpdatesManager::SaveCachedUpdates(TBRNLocalCursor& cache, TBRNMemoryStream& stream,
                                                 bool flag) {
  (void)flag;
  int64_t counter = 0;
  int64_t lastTimestamp = 0;
  cacheTableOf(cache).WriteUpdateRecords(
      [&](TBRNMemoryStream& record) {
        const auto size = int32_t(record.GetSize());
        return stream.Write(record.GetMemory(), size) == size;
      },
      counter, 0, lastTimestamp, 0);
}

void TBRNCachedUpdatesManager::ClearCachedUpdates(TBRNLocalCursor& cache) {
  cacheTableOf(cache).EmptyPublishedUpdates();
}

void TBRNCachedUpdatesManager::EndCachedUpdates(std::unique_ptr<TBRNLocalCursor> cache) {
  if (!cache) return;
  TBRNBaseTable* table = cacheTableOf(*cache).GetBaseTable();
  cache.reset();
  if (started_ && privateSession_->CacheDatabase != nullptr)
    privateSession_->CacheDatabase->DropTemporaryTable(table);
}

// ---------------------------------------------------------------------------
// The cached-update operations of a local cursor

namespace {

TBRNLocalSessionManager& sessionOf(TBRNLocalCursor& cursor) {
  auto* database =
      dynamic_cast<TBRNLocalDatabaseManager*>(&cursor.GetTableManager().GetEnvironment());
  if (database == nullptr || database->Session == nullptr)
    throw std::logic_error("cached updates need a cursor of a local database");
  return *database->Session;
}

}  // namespace

TBRNTableManager& TBRNLocalCursor::baseTableManager() {
  auto* manager = dynamic_cast<TBRNTableManager*>(&tableManager_);
  if (manager == nullptr) throw std::logic_error("update records apply to a base table only");
  return *manager;
}

TBRNCursor* TBRNLocalCursor::StartCachedUpdates() {
  return runOperation(kOpStartCachedUpdates, [&]() -> TBRNCursor* {
    TBRNCachedUpdatesManager& manager = TBRNCachedUpdatesManager::Get(sessionOf(*this));
    if (!cachedUpdatesCursor_) cachedUpdatesCursor_ = manager.BeginCachedUpdates(*this);
    manager.CopyRowsToCache(*this, *cachedUpdatesCursor_);
    return cachedUpdatesCursor_.get();
  });
}

void TBRNLocalCursor::ApplyCachedUpdates(bool IgnoreMissing) {
  if (!cachedUpdatesCursor_) throw std::logic_error("ApplyCachedUpdates without a cache");
  runOperation(kOpApplyCachedUpdates, [&] {
    TBRNCachedUpdatesManager& manager = TBRNCachedUpdatesManager::Get(sessionOf(*this));
    TBRNMemoryStream stream;
    manager.SaveCachedUpdates(*cachedUpdatesCursor_, stream, false);
    stream.SetPosition(0);
    applyUpdateRecords(stream, stream.GetSize(), IgnoreMissing);
    // Only once every edit is in the table: a failed apply keeps them.
    manager.ClearCachedUpdates(*cachedUpdatesCursor_);
  });
  afterMove(kDirectionNone);
}

void TBRNLocalCursor::CancelCachedUpdates() {
  if (!cachedUpdatesCursor_) throw std::logic_error("CancelCachedUpdates without a cache");
  runOperation(kOpCancelCachedUpdates, [&] {
    TBRNCachedUpdatesManager::Get(sessionOf(*this)).ClearCachedUpdates(*cachedUpdatesCursor_);
  });
}

void TBRNLocalCursor::ApplyUpdatesStream(TBRNMemoryStream& Stream, int64_t Length,
                                         bool IgnoreMissing) {
  runOperation(kOpApplyCachedUpdates, [&] { applyUpdateRecords(Stream, Length, IgnoreMissing); });
  afterMove(kDirectionNone);
}

void TBRNLocalCursor::applyUpdateRecords(TBRNMemoryStream& Stream, int64_t Length,
                                         bool IgnoreMissing) {
  TBRNTableManager& table = baseTableManager();
  StartTableTransaction();
  try {
    table.CheckPrimaryKey();
    table.ApplyUpdateRecords(Stream, IgnoreMissing, Length);
  } catch (...) {
    try {
      RollbackTableTransaction();
    } catch (...) {
      // The apply's own failure is the one reported.
    }
    throw;
  }
  CommitTableTransaction();
  CheckTableChanged();
  RestorePosition();
}

void TBRNLocalCursor::endCachedUpdates() {
  if (!cachedUpdatesCursor_) return;
  std::unique_ptr<TBRNLocalCursor> cache = std::move(cachedUpdatesCursor_);
  auto* manager = dynamic_cast<TBRNCachedUpdatesManager*>(sessionOf(*this).CachedUpdates.get());
  if (manager != nullptr) manager->EndCachedUpdates(std::move(cache));
}

}  // namespace brn
