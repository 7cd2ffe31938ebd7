#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/files/engine_services.h"
#include "foundation/runtime/handle_objects.h"
#include "foundation/runtime/sections.h"
#include "sessions/engine_settings.h"
#include "sessions/session_manager.h"

namespace brn {

class TBRNEnvironment;
class TBRNFileManager;
class TBRNMemoryFileManager;
class TBRNEngineSessionManager;

inline constexpr int64_t kBRNEngineVersion = 21400;  // 2.14, fixed point x10000
inline constexpr int32_t kBRNEngineBuild = 5;
inline constexpr int64_t kBRNMetadataVersion = 20500;  // 2.05
inline constexpr int32_t kBRNMaxSessions = 4098;

// The one engine of the process: its settings, environment and file
// managers, the table of every live session and the engine's timestamps.
//
// Threads: RegisterSession, UnregisterSession, FindSession, NextServerSession,
// the session lock methods, NextTimestamp, AdvanceTimestamp, the file manager
// getters, GetExclusiveFileAccess and BuildCollationName may be called from
// several threads at once. Start, Stop, ClearSessions, the job switches and
// changes to Settings belong to the one thread that controls the engine, and
// Stop only while no other thread works on a session.
class TBRNEngineManager : public TBRNEngineServices {
 public:
  TBRNEngineManager();
  // Stops the engine first.
  ~TBRNEngineManager() override;
  TBRNEngineManager(const TBRNEngineManager&) = delete;
  TBRNEngineManager& operator=(const TBRNEngineManager&) = delete;

  virtual std::unique_ptr<TBRNFileManager> CreateFileManager();
  virtual std::unique_ptr<TBRNFileManager> CreateLargeFileManager();
  // The server starts its listener, system sessions and timers here.
  virtual void DoStart() {}
  // Frees every session.
  virtual void DoStop();
  // 506 "Cannot lock the session manager (ID: <id>)".
  [[noreturn]] virtual void RaiseSessionLockError(int32_t sessionId);
  // DoStart unless already active; a failed DoStart is followed by DoStop
  // and leaves the engine inactive.
  virtual void Start();
  // DoStop when active; inactive afterwards, also when DoStop raises.
  virtual void Stop();
  // Strictly increasing: never the same value twice, never backwards when
  // the clock is set back.
  virtual int64_t NextTimestamp();
  // Jobs run only in a server engine: here they are never enabled.
  virtual void EnableJob(const std::string&) {}
  virtual void EnableAllJobs() {}
  virtual void DisableJob(const std::string&) {}
  virtual void DisableAllJobs() {}
  virtual bool IsJobEnabled(const std::string&) { return false; }

  bool GetExclusiveFileAccess() const override;

  void BeginReadSessions();
  void EndReadSessions();
  void BeginWriteSessions();
  void EndWriteSessions();
  // Gives the session the lowest free session ID and takes it over; a full
  // table raises the handle table's capacity error. With locked the session
  // is locked at once.
  void RegisterSession(TBRNEngineSessionManager* session, bool locked);
  void UnregisterSession(TBRNEngineSessionManager* session, bool unlock);
  void LockSessionEntry(TBRNEngineSessionManager* session, uint32_t tries, int32_t waitMs);
  bool TryLockSessionEntry(TBRNEngineSessionManager* session, uint32_t tries, int32_t waitMs);
  void UnlockSessionEntry(TBRNEngineSessionManager* session);
  // Looks a session up by ID, with lock optionally locking it (single try
  // inside the read bracket, waiting outside it). An identity narrows the
  // match to the session of one client connection. With longRunTries above
  // 0, a session still busy after that many tries whose lock is held by a
  // long run (HeldByLongRun) is given up at once with the lock error.
  bool FindSession(int32_t sessionId, TBRNEngineSessionManager*& session, bool lock, uint32_t tries,
                   int32_t waitMs, bool dropBusy, const std::string& sessionName = std::string(),
                   const std::string& identity = std::string(), uint32_t clientThreadId = 0,
                   uint32_t longRunTries = 0);
  // The next session after position in ID order; server sessions other than
  // the caller's own are locked when lock is set.
  bool NextServerSession(int32_t& position, TBRNEngineSessionManager*& session,
                         int32_t ownSessionId, bool lock, uint32_t tries, int32_t waitMs);
  // Frees every session.
  void ClearSessions();
  int32_t GetSessionCount();
  void BuildCollationName(int32_t collationId, std::string& name) const;
  TBRNFileManager* GetFileManager(bool inMemory, bool large) const;
  TBRNFileManager* GetDatabaseFileManager(const std::string& databaseName, bool inMemoryDatabase,
                                          bool large) const;
  TBRNFileManager* GetStoreFileManager(bool large) const;
  void AdvanceTimestamp(int64_t value);

  std::atomic<bool> Active{false};
  const int64_t EngineVersion = kBRNEngineVersion;
  const int32_t EngineBuild = kBRNEngineBuild;
  const int64_t MetadataVersion = kBRNMetadataVersion;
  std::unique_ptr<TBRNEnvironment> Environment;
  std::unique_ptr<TBRNMemoryFileManager> MemoryDatabaseFileManager;
  std::unique_ptr<TBRNMemoryFileManager> InternalFileManager;
  std::unique_ptr<TBRNEngineManagerSettings> Settings;

 protected:
  // Builds the two OS file managers; every constructor of a derived engine
  // whose factories differ calls it again.
  void CreateFileManagers();

 private:
  bool matchesClient(TBRNEngineSessionManager* session, const std::string& sessionName,
                     const std::string& identity, uint32_t clientThreadId);

  std::unique_ptr<TBRNFileManager> FileManager;
  std::unique_ptr<TBRNFileManager> LargeFileManager;
  // Sized once for every session ID, so that the per-handle lock counters
  // never move while another thread takes a session's lock.
  TBRNHandleObjects Sessions{kBRNMaxSessions, true};
  TBRNReadWriteSection SessionsSection;
  int64_t LastTimestamp = 0;
  TBRNCriticalSection TimestampSection;
};

// A session registered in the engine; its handle there is its session ID.
// Its lock serialises the requests made on it.
//
// Other threads reach a registered session through the engine's lookups
// from the moment the base constructor registers it until it is
// unregistered: what they read of it (IsServerSession, GetClientThreadID)
// is therefore fixed before registration or atomic, not virtual. A derived
// class that overrides DropConnection, which a lookup may call from another
// thread, registers locked and unlocks when it is ready, and calls
// UnregisterFromEngine first in its destructor.
class TBRNEngineSessionManager : public TBRNSessionManager {
 public:
  // Registers the session (locked at once with locked); serverSession marks
  // a session that serves a remote client.
  TBRNEngineSessionManager(TBRNEngineManager* engine, bool locked, bool serverSession = false);
  // Unregisters the session, releasing its lock when UnlockOnFree is set.
  ~TBRNEngineSessionManager() override;

  // The thread ID the client gave at connect (0 for a local session).
  uint32_t GetClientThreadID() const { return ClientThreadID.load(); }
  void SetClientThreadID(uint32_t value) { ClientThreadID.store(value); }
  bool IsServerSession() const { return ServerSession; }
  // Leaves the engine's table now (once; the destructor then does nothing).
  void UnregisterFromEngine();

  void LockSession(uint32_t tries, int32_t waitMs) override;
  bool TryLockSession(uint32_t tries, int32_t waitMs) override;
  void UnlockSession() override;
  // Whether the session's lock is held by work that keeps it until that
  // work pauses or ends (a running debug run of a script), so that waiting
  // for it is pointless. Called by a lookup on another thread under the
  // engine's read bracket: an override reads atomics only.
  virtual bool HeldByLongRun() const { return false; }

  TBRNEngineManager* Engine;
  // Set by whoever frees a session that it holds locked.
  bool UnlockOnFree = false;

 private:
  const bool ServerSession;
  std::atomic<uint32_t> ClientThreadID{0};
};

}  // namespace brn
