#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sessions/local/local_session_manager.h"

namespace brn {

class TBRNColumns;
class TBRNCursor;
class TBRNEngineManager;
class TBRNIndexes;
class TBRNLocalCursor;
class TBRNLocalDatabaseManager;
class TBRNMemoryStream;

// "Error caching updates for the cursor %s (%s)".
inline constexpr int32_t kCachedUpdatesErrorCode = 1307;

// The private session that holds the cached updates of one owning session:
// its configuration lives in memory of its own, nothing is logged, and it
// keeps the configuration's cursor-cache database open, whose files lie in
// memory under this session's folder. The database is dropped when the
// session closes.
//
// Threads: used only on the owning session's thread.
class TBRNCachedUpdatesSessionManager : public TBRNLocalSessionManager {
 public:
  TBRNCachedUpdatesSessionManager(TBRNEngineManager* engine, TBRNSessionManager& owner);
  // Closes the session (its override of CloseConfigurationFiles must run,
  // which the base destructor no longer reaches); failures are dropped.
  ~TBRNCachedUpdatesSessionManager() override;

  // The private session keeps no cache of its own.
  bool KeepsCachedUpdates() const override { return false; }
  // The base opening, then the cache database placed in this session's
  // folder and opened.
  void OpenConfigurationFiles() override;
  // Closes and drops the cache database (as the System user), then the
  // base closing, which runs also when those fail; the first failure is
  // raised at the end.
  void CloseConfigurationFiles() override;

  TBRNSessionManager& Owner;
  // Owned by the session's database handles; nullptr while closed.
  TBRNLocalDatabaseManager* CacheDatabase = nullptr;
};

// The cached updates of one session: a cursor's rows copied into a
// temporary table of the private session, which logs every edit made
// through the cache cursor as a published-update record; applying replays
// the records against the source table by primary key in one table
// transaction.
//
// The stream of cached updates (SaveCachedUpdates, and what
// TBRNLocalCursor::ApplyUpdatesStream reads from a remote client) is a
// sequence of records, each an int32 length N (little-endian) and N bytes
// of one update record in the table manager's published-update form:
// int32 site count S and S site IDs, int32 operation (1 insert, 2 update,
// 3 delete), int64 timestamp, then for update and delete the key block
// (the primary-key columns of the row before the change) and for insert
// and update the column block (the new values of the modified columns); a
// block is an int32 column count, then per column its name, int32 data
// type, int32 subtype and the value's stream form; a string is an int32
// length and its characters. Records are not compressed. A reader takes
// the bytes as untrusted: a length that is negative or runs past the bytes
// given, and any damage inside a record, raise the table manager's update
// read error (1305) and nothing of the stream is applied.
//
// Life: made on a session's first cached-updates request (Get) and owned
// by that session, which frees it after its cursors are gone. The private
// session starts at once and ends with the manager. A remote session owns
// one too, for the caches of its remote cursors, which live on the client.
//
// Threads: used only on the owning session's thread.
class TBRNCachedUpdatesManager : public TBRNLocalSessionManager::TBRNCachedUpdatesHolder {
 public:
  TBRNCachedUpdatesManager(TBRNEngineManager* engine, TBRNSessionManager& session);
  // StopSession (failures dropped); the private session goes with it.
  ~TBRNCachedUpdatesManager() override;

  // The session's manager, made and started on first use; std::logic_error
  // for a session that keeps no cache.
  static TBRNCachedUpdatesManager& Get(TBRNLocalSessionManager& session);

  // Opens the private session with its configuration in private memory
  // and no log categories, the System user current. Nothing when started.
  void StartSession();
  // Closes the private session when started.
  void StopSession();

  // 1307 "Error caching updates for the cursor <name> (<reason>)".
  [[noreturn]] void RaiseCacheError(const TBRNCursor& cursor, const std::string& reason);
  // 1307 unless the cursor's indexes hold a primary key other than the
  // internal one on the row identifier.
  void CheckPrimaryKey(TBRNCursor& cursor);
  // The cache table for cursor (a temporary table of the cache database
  // with the cursor's table columns and indexes, publishing its changes)
  // and the cache cursor over it, with the cursor's columns and active
  // index. A failure leaves no table behind.
  std::unique_ptr<TBRNLocalCursor> BeginCachedUpdates(TBRNLocalCursor& cursor);
  // The same for a cursor whose table is known only by its column and
  // index lists (a remote cursor's descriptor).
  std::unique_ptr<TBRNLocalCursor> BeginCachedUpdates(TBRNCursor& cursor, TBRNColumns& columns,
                                                      TBRNIndexes& indexes);
  // Replaces the cache's rows with the cursor's visible rows, read through
  // its cursor stream; the copy is not logged as edits.
  void CopyRowsToCache(TBRNCursor& cursor, TBRNLocalCursor& cache);
  // Appends the cache's logged edits to stream in the form above. Flag is
  // reserved (no effect).
  void SaveCachedUpdates(TBRNLocalCursor& cache, TBRNMemoryStream& stream, bool flag);
  // Empties the cache's log: the edits so far will not be applied.
  void ClearCachedUpdates(TBRNLocalCursor& cache);
  // Closes the cache cursor and drops its table (the cursor that owned
  // the cache is closing).
  void EndCachedUpdates(std::unique_ptr<TBRNLocalCursor> cache);

  TBRNCachedUpdatesSessionManager& GetPrivateSession() const { return *privateSession_; }
  bool GetStarted() const { return started_; }

 private:
  TBRNEngineManager* engine_;
  std::unique_ptr<TBRNCachedUpdatesSessionManager> privateSession_;
  bool started_ = false;
};

}  // namespace brn
