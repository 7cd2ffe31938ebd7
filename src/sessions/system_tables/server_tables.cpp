// The tables of a server's state in the "Configuration" database: the
// sessions that serve remote clients, their locks and their buffer
// statistics.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/local/session_snapshots.h"
#include "sessions/system_tables/system_table_rows.h"
#include "sessions/system_tables/system_tables.h"

namespace brn {

namespace {

// Another session's lock is tried this often, this far apart, before the
// lock and statistics tables give up with 506.
constexpr uint32_t kSessionLockTries = 3000;
constexpr int32_t kSessionLockWaitMs = 10;

constexpr TBRNSystemTableColumn sessionIdColumn{"SessionID", dtInteger};
constexpr TBRNSystemTableColumn sessionNameColumn{"SessionName", dtChar, stDefault, 40, 0, true};
constexpr TBRNSystemTableColumn databaseNameColumn{"DatabaseName", dtChar, stDefault, 40, 0, true};

const TBRNSystemTableDefinition serverSessionsTable{"ServerSessions",
                                                    {{"ID", dtInteger},
                                                     {"Name", dtChar, stDefault, 40, 0, true},
                                                     {"Description", dtLob, stClob},
                                                     {"Created", dtTimestamp},
                                                     {"LastConnected", dtTimestamp},
                                                     {"Connected", dtBoolean},
                                                     {"Encrypted", dtBoolean},
                                                     {"IPAddress", dtChar, stDefault, 16, 0, true},
                                                     {"User", dtChar, stDefault, 40, 0, true},
                                                     {"Process", dtChar, stDefault, 40, 0, true}},
                                                    {{"ID", {"ID"}}, {"Name", {"Name"}}}};

const TBRNSystemTableDefinition serverSessionLocksTable{
    "ServerSessionLocks",
    {sessionIdColumn,
     sessionNameColumn,
     databaseNameColumn,
     {"ObjectName", dtChar, stDefault, 40, 0, true},
     {"ObjectType", dtChar, stDefault, 15, 0, true},
     {"LockType", dtChar, stDefault, 15, 0, true},
     {"Number", dtInteger}},
    {{"SessionID", {"SessionID"}},
     {"SessionName", {"SessionName"}},
     {"DatabaseName", {"DatabaseName"}}}};

const TBRNSystemTableDefinition serverStatisticsTable{
    "ServerSessionStatistics",
    {sessionIdColumn,
     sessionNameColumn,
     databaseNameColumn,
     {"TableName", dtChar, stDefault, 40, 0, true},
     {"BufferMgr", dtChar, stDefault, 40, 0, true},
     {"MaxBufferSize", dtInteger},
     {"CurrentBufferSize", dtInteger},
     {"Hits", dtBigInt},
     {"Misses", dtBigInt},
     {"HitRatio", dtDecimal, stDefault, 0, 2},
     {"Reads", dtBigInt},
     {"BytesRead", dtBigInt},
     {"Writes", dtBigInt},
     {"BytesWritten", dtBigInt}},
    {{"SessionID", {"SessionID"}},
     {"SessionName", {"SessionName"}},
     {"DatabaseName", {"DatabaseName"}},
     {"TableName", {"TableName"}}}};

// Holds the engine's session table for reading: no session leaves it (and
// so none is freed) meanwhile.
class SessionTableRead {
 public:
  explicit SessionTableRead(TBRNEngineManager& engine) : engine_(engine) {
    engine_.BeginReadSessions();
  }
  ~SessionTableRead() { engine_.EndReadSessions(); }
  SessionTableRead(const SessionTableRead&) = delete;
  SessionTableRead& operator=(const SessionTableRead&) = delete;

 private:
  TBRNEngineManager& engine_;
};

struct ListedSession {
  int32_t ID = 0;
  TBRNSessionInfo Info;
};

// The published info of every session that serves a remote client, in
// session-table order. No session is locked: each info is copied under its
// own small lock, so a busy session neither delays nor fails the walk.
std::vector<ListedSession> listServerSessions(TBRNLocalSessionManager& session) {
  std::vector<ListedSession> listed;
  TBRNEngineManager& engine = *session.Engine;
  SessionTableRead read(engine);
  int32_t position = 0;
  TBRNEngineSessionManager* next = nullptr;
  while (engine.NextServerSession(position, next, session.Handle, false, 1, 0)) {
    if (!next->IsServerSession()) continue;
    std::shared_ptr<TBRNSessionInfoGuard> guard = FindSessionInfo(next);
    if (guard == nullptr) continue;
    listed.push_back({next->Handle, guard->Get()});
  }
  return listed;
}

void produceServerSessions(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  const std::vector<ListedSession> sessions = listServerSessions(session);
  TBRNSystemTableRowWriter writer(manager, serverSessionsTable);
  for (const ListedSession& listed : sessions) {
    const TBRNSessionInfo& info = listed.Info;
    writer.Start();
    writer.Column(1)->SetAsInteger(listed.ID);
    writer.Text(2, info.Name);
    writer.TextOrNull(3, info.Description);
    if (info.Created != 0) writer.Column(4)->SetAsTimestamp(info.Created);
    if (info.LastConnected != 0) writer.Column(5)->SetAsTimestamp(info.LastConnected);
    writer.Column(6)->SetAsBoolean(info.Connected);
    writer.Column(7)->SetAsBoolean(info.Encrypted);
    writer.Text(8, info.IPAddress);
    writer.TextOrNull(9, info.UserName);
    writer.Text(10, info.Identity);
    writer.Insert();
  }
}

// Calls visit for every session that serves a remote client, in
// session-table order, each other session locked for the time of the visit
// (the calling session is read unlocked: its request holds its lock).
// Exactly the locks taken here are released, also when visit raises.
template <typename TVisit>
void visitServerSessionsLocked(TBRNLocalSessionManager& session, TVisit visit) {
  TBRNEngineManager& engine = *session.Engine;
  int32_t position = 0;
  TBRNEngineSessionManager* next = nullptr;
  while (engine.NextServerSession(position, next, session.Handle, true, kSessionLockTries,
                                  kSessionLockWaitMs)) {
    if (!next->IsServerSession()) continue;
    const bool own = next == &session;
    struct Unlock {
      TBRNEngineManager& Engine;
      TBRNEngineSessionManager* Locked;
      ~Unlock() {
        if (Locked != nullptr) Engine.UnlockSessionEntry(Locked);
      }
    } unlock{engine, own ? nullptr : next};
    // Only a local session, once fully built, publishes its info: the
    // registry tells its kind without reading the object.
    if (!own && FindSessionInfo(next) == nullptr) continue;
    visit(own ? session : *static_cast<TBRNLocalSessionManager*>(next));
  }
}

const char* lockTypeName(int32_t lockType) {
  static const char* const names[] = {"Shared", "Exclusive", "Read", "Write", "Transaction", "Row"};
  if (lockType < 1 || lockType > kBRNLockEntryRow) return "";
  return names[lockType - 1];
}

struct ListedLock {
  int32_t SessionID = 0;
  std::string SessionName;
  TBRNLock Lock;
};

void produceServerSessionLocks(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  std::vector<ListedLock> locks;
  visitServerSessionsLocked(session, [&locks](TBRNLocalSessionManager& listed) {
    const std::string name = listed.SessionInfo->Get().Name;
    struct Clear {
      TBRNLocalSessionManager& Session;
      ~Clear() { Session.ClearLockList(); }
    } clear{listed};
    listed.BuildLockList();
    for (const TBRNLock& lock : listed.LockList) locks.push_back({listed.Handle, name, lock});
  });
  TBRNSystemTableRowWriter writer(manager, serverSessionLocksTable);
  for (const ListedLock& listed : locks) {
    writer.Start();
    writer.Column(1)->SetAsInteger(listed.SessionID);
    writer.Text(2, listed.SessionName);
    writer.Text(3, listed.Lock.DatabaseName);
    writer.Text(4, listed.Lock.ObjectName);
    writer.Text(5, listed.Lock.ObjectType);
    writer.Text(6, lockTypeName(listed.Lock.LockType));
    if (listed.Lock.LockType == kBRNLockEntryRow)
      writer.Column(7)->SetAsInteger(listed.Lock.RowNumber);
    writer.Insert();
  }
}

struct ListedStatistics {
  int32_t SessionID = 0;
  std::string SessionName;
  TBRNStatistics Statistics;
};

void produceServerStatistics(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  std::vector<ListedStatistics> entries;
  visitServerSessionsLocked(session, [&entries](TBRNLocalSessionManager& listed) {
    const std::string name = listed.SessionInfo->Get().Name;
    struct Clear {
      TBRNLocalSessionManager& Session;
      ~Clear() { Session.ClearStatistics(); }
    } clear{listed};
    listed.BuildStatistics();
    for (const TBRNStatistics& entry : listed.StatisticsList)
      entries.push_back({listed.Handle, name, entry});
  });
  TBRNSystemTableRowWriter writer(manager, serverStatisticsTable);
  for (const ListedStatistics& listed : entries) {
    const TBRNStatistics& entry = listed.Statistics;
    writer.Start();
    writer.Column(1)->SetAsInteger(listed.SessionID);
    writer.Text(2, listed.SessionName);
    writer.Text(3, entry.DatabaseName);
    writer.Text(4, entry.TableName);
    writer.Text(5, entry.BufferManager);
    writer.Column(6)->SetAsInteger(entry.MaxBufferSize);
    writer.Column(7)->SetAsInteger(entry.CurrentBufferSize);
    writer.Column(8)->SetAsBigInt(entry.Hits);
    writer.Column(9)->SetAsBigInt(entry.Misses);
    writer.Column(10)->SetAsDecimal(entry.HitRatio);
    writer.Column(11)->SetAsBigInt(entry.Reads);
    writer.Column(12)->SetAsBigInt(entry.BytesRead);
    writer.Column(13)->SetAsBigInt(entry.Writes);
    writer.Column(14)->SetAsBigInt(entry.BytesWritten);
    writer.Insert();
  }
}

void registerServerTable(TBRNLocalSessionManager& session,
                         const TBRNSystemTableDefinition& definition,
                         void (*produce)(TBRNLocalSessionManager&, TBRNVirtualTableManager&)) {
  TBRNLocalSessionManager* owner = &session;
  RegisterSystemTable(
      session, definition, true,
      [owner, produce](TBRNVirtualTableManager& manager) { produce(*owner, manager); });
}

}  // namespace

void RegisterServerSessionsTable(TBRNLocalSessionManager& session) {
  registerServerTable(session, serverSessionsTable, produceServerSessions);
}

void RegisterServerSessionLocksTable(TBRNLocalSessionManager& session) {
  registerServerTable(session, serverSessionLocksTable, produceServerSessionLocks);
}

void RegisterServerStatisticsTable(TBRNLocalSessionManager& session) {
  registerServerTable(session, serverStatisticsTable, produceServerStatistics);
}

}  // namespace brn
