#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace brn {

class TBRNCatalog;
class TBRNEngineSessionManager;
class TBRNExpr;
class TBRNLockable;
class TBRNSchemaObjectManager;
class TBRNSchemaObjectManagers;
class TBRNTableFileManager;
class TBRNTableManager;

// The stage a status text reports: the operation starts, did not complete,
// or completed.
using TBRNOperationStage = int32_t;
inline constexpr TBRNOperationStage osStarting = 0;
inline constexpr TBRNOperationStage osNotCompleted = 1;
inline constexpr TBRNOperationStage osCompleted = 2;

// Lock types of a lock entry: the five object lock types (TBRNLockType)
// and one more for a row lock.
inline constexpr int32_t kBRNLockEntryRow = 6;

// One lock a session holds, as the server's monitoring tables list it. The
// object type is the object's type name with every word capitalised; the
// row number is set for row locks only.
struct TBRNLock {
  std::string DatabaseName;
  std::string ObjectName;
  std::string ObjectType;
  int32_t LockType = 0;
  int32_t RowNumber = 0;
};

// The buffer statistics of one file of one open table. Sizes are in bytes
// (block size times blocks); the hit ratio is hits / (hits + misses)
// rounded to two decimals and scaled by 10000 (0 without any access).
struct TBRNStatistics {
  std::string DatabaseName;
  std::string TableName;
  std::string BufferManager;
  int32_t MaxBufferSize = 0;
  int32_t CurrentBufferSize = 0;
  int64_t Hits = 0;
  int64_t Misses = 0;
  int64_t HitRatio = 0;
  int64_t Reads = 0;
  int64_t BytesRead = 0;
  int64_t Writes = 0;
  int64_t BytesWritten = 0;
};

// What the server's session list shows of a session. The session's thread
// keeps its own fields (SessionName, the logged-in user, ...) and copies
// them here whenever they change; other threads read only this copy.
struct TBRNSessionInfo {
  std::string Name;
  std::string Description;
  // The logged-in user's name; empty when nobody is logged in.
  std::string UserName;
  std::string IPAddress;
  std::string Identity;
  int64_t Created = 0;
  int64_t LastConnected = 0;
  bool Connected = false;
  bool Encrypted = false;
};

// A session's TBRNSessionInfo behind a small lock of its own, which is held
// only while the fields are copied in or out: a reader never waits for the
// session's requests (nor takes the session's lock), and never reads while
// the session writes. Every method may be called from several threads.
class TBRNSessionInfoGuard {
 public:
  TBRNSessionInfo Get() const;
  // Runs change on the fields under the lock; change must not call back
  // into the guard.
  void Update(const std::function<void(TBRNSessionInfo&)>& change);

 private:
  mutable std::mutex lock_;
  TBRNSessionInfo info_;
};

// The guards of the live local sessions of the process, by session object,
// so that a thread that found a session in the engine's table reaches its
// guard without touching the session object, which may be under
// construction or destruction at that moment. A local session publishes its
// guard at the end of its constructor and withdraws it first thing in its
// destructor; a guard found stays valid for its holder after that. Only a
// local session publishes one, so a session with a guard here is a
// TBRNLocalSessionManager. Every function may be called from several
// threads.
void PublishSessionInfo(const TBRNEngineSessionManager* session,
                        std::shared_ptr<TBRNSessionInfoGuard> guard);
void WithdrawSessionInfo(const TBRNEngineSessionManager* session);
// nullptr for a session that has published none (or withdrew it).
std::shared_ptr<TBRNSessionInfoGuard> FindSessionInfo(const TBRNEngineSessionManager* session);

// A snapshot list of a session: filled in one go, read, then cleared, which
// gives its memory back. Its room grows by 256 entries at a time. Used by
// the thread that holds the session's lock.
template <typename TEntry>
class TBRNSnapshotList {
 public:
  static constexpr size_t kGrowthStep = 256;

  void Add(TEntry entry) {
    if (entries_.size() == entries_.capacity()) entries_.reserve(entries_.capacity() + kGrowthStep);
    entries_.push_back(std::move(entry));
  }
  void Clear() {
    entries_.clear();
    entries_.shrink_to_fit();
  }
  int32_t Count() const { return int32_t(entries_.size()); }
  size_t Capacity() const { return entries_.capacity(); }
  const TEntry& operator[](int32_t index) const { return entries_.at(size_t(index)); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

 private:
  std::vector<TEntry> entries_;
};

using TBRNLockList = TBRNSnapshotList<TBRNLock>;
using TBRNStatisticsList = TBRNSnapshotList<TBRNStatistics>;

// The hit ratio of a buffer cache as a statistics entry keeps it.
int64_t BufferHitRatio(int64_t hits, int64_t misses);

// The pieces of a session's snapshots, one database at a time. Each reads
// the session's own objects only, so the caller is the session's thread or
// holds the session's lock.

// One entry per lock object holds, by its held-lock bits in the order
// Shared, Exclusive, Read, Write, Transaction.
void AddObjectLocks(TBRNLockList& list, const std::string& databaseName,
                    const TBRNLockable& object);
// The locks of one open database: those of its catalog and of its entry in
// the configuration (container may be nullptr), those of every table, view,
// temporary table and routine of the catalog's Default schema, and one row
// entry per row lock of each listed table manager (plus the rows kept for
// the table's transaction while it holds its Transaction lock).
void AddDatabaseLocks(TBRNLockList& list, const std::string& databaseName,
                      const TBRNLockable* container, const TBRNCatalog& catalog,
                      const TBRNSchemaObjectManagers* tableManagers);
// One entry for the row file and one for the index file of every listed
// table manager, one for its BLOB file while the table has BLOB or CLOB
// columns and one for its published-updates file while it is published.
void AddDatabaseStatistics(TBRNStatisticsList& list, const std::string& databaseName,
                           const TBRNSchemaObjectManagers* tableManagers);
// Sets the counters of every file AddDatabaseStatistics would list to 0.
void ResetDatabaseStatistics(const TBRNSchemaObjectManagers* tableManagers);
// The table manager behind manager when the snapshots list it: an open
// table manager whose table is neither in the Information schema nor
// transient; nullptr otherwise.
TBRNTableManager* ListedTableManager(TBRNSchemaObjectManager* manager);

}  // namespace brn
