#include "sessions/engine_manager.h"

#include <mutex>

#include "foundation/files/memory_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"

namespace brn {

namespace {

constexpr int32_t kReadWaitMs = 1;
constexpr int32_t kWriteWaitMs = 2;

// Leaves the session table's read bracket however the scope ends.
class ReadBracket {
 public:
  explicit ReadBracket(TBRNEngineManager& engine) : Engine(engine) { Engine.BeginReadSessions(); }
  ~ReadBracket() { leave(); }
  void leave() {
    if (Held) Engine.EndReadSessions();
    Held = false;
  }

 private:
  TBRNEngineManager& Engine;
  bool Held = true;
};

class WriteBracket {
 public:
  explicit WriteBracket(TBRNEngineManager& engine) : Engine(engine) { Engine.BeginWriteSessions(); }
  ~WriteBracket() { Engine.EndWriteSessions(); }

 private:
  TBRNEngineManager& Engine;
};

}  // namespace

TBRNEngineManager::TBRNEngineManager()
    : Environment(std::make_unique<TBRNEnvironment>()),
      MemoryDatabaseFileManager(std::make_unique<TBRNMemoryFileManager>(Environment.get())),
      InternalFileManager(std::make_unique<TBRNMemoryFileManager>(Environment.get())),
      Settings(std::make_unique<TBRNEngineManagerSettings>(this, Environment->GetTempPath())),
      LastTimestamp(CurrentTimestamp(false)) {
  CreateFileManagers();
  // Every handle 0..capacity gets its lock counter now.
  Sessions.ExtendCount(Sessions.Capacity() + 1);
}

TBRNEngineManager::~TBRNEngineManager() {
  try {
    Stop();
  } catch (...) {
    // A destructor cannot report; the sessions are freed below regardless.
  }
  ClearSessions();
}

void TBRNEngineManager::CreateFileManagers() {
  FileManager = CreateFileManager();
  LargeFileManager = CreateLargeFileManager();
}

std::unique_ptr<TBRNFileManager> TBRNEngineManager::CreateFileManager() {
  return std::make_unique<TBRNEngineOSFileManager>(Environment.get(), this);
}

std::unique_ptr<TBRNFileManager> TBRNEngineManager::CreateLargeFileManager() {
  return std::make_unique<TBRNEngineLargeOSFileManager>(Environment.get(), this);
}

void TBRNEngineManager::DoStop() {
  ClearSessions();
}

void TBRNEngineManager::RaiseSessionLockError(int32_t sessionId) {
  throw EBRNException(
      506, FormatText("Cannot lock the session manager (ID: %s)", {IntegerToString(sessionId)}));
}

void TBRNEngineManager::Start() {
  if (Active) return;
  try {
    DoStart();
  } catch (...) {
    try {
      DoStop();
    } catch (...) {
      // The start failure is the one to report.
    }
    throw;
  }
  Active = true;
}

void TBRNEngineManager::Stop() {
  if (!Active) return;
  struct Deactivate {
    std::atomic<bool>& Flag;
    ~Deactivate() { Flag = false; }
  } deactivate{Active};
  DoStop();
}

int64_t TBRNEngineManager::NextTimestamp() {
  std::lock_guard<TBRNCriticalSection> guard(TimestampSection);
  int64_t now = CurrentTimestamp(false);
  LastTimestamp = now > LastTimestamp ? now : LastTimestamp + 1;
  return LastTimestamp;
}

void TBRNEngineManager::AdvanceTimestamp(int64_t value) {
  std::lock_guard<TBRNCriticalSection> guard(TimestampSection);
  if (value > LastTimestamp) LastTimestamp = value;
}

bool TBRNEngineManager::GetExclusiveFileAccess() const {
  return Settings->GetExclusiveFileAccess();
}

void TBRNEngineManager::BeginReadSessions() {
  SessionsSection.BeginRead(kReadWaitMs);
}
void TBRNEngineManager::EndReadSessions() {
  SessionsSection.EndRead();
}
void TBRNEngineManager::BeginWriteSessions() {
  SessionsSection.BeginWrite(kWriteWaitMs);
}
void TBRNEngineManager::EndWriteSessions() {
  SessionsSection.EndWrite();
}

void TBRNEngineManager::RegisterSession(TBRNEngineSessionManager* session, bool locked) {
  WriteBracket bracket(*this);
  Sessions.AddObject(session, locked);
}

void TBRNEngineManager::UnregisterSession(TBRNEngineSessionManager* session, bool unlock) {
  WriteBracket bracket(*this);
  Sessions.RemoveObject(session, unlock);
}

void TBRNEngineManager::LockSessionEntry(TBRNEngineSessionManager* session, uint32_t tries,
                                         int32_t waitMs) {
  if (!Sessions.TryLockHandle(session, tries, waitMs)) RaiseSessionLockError(session->Handle);
}

bool TBRNEngineManager::TryLockSessionEntry(TBRNEngineSessionManager* session, uint32_t tries,
                                            int32_t waitMs) {
  return Sessions.TryLockHandle(session, tries, waitMs);
}

void TBRNEngineManager::UnlockSessionEntry(TBRNEngineSessionManager* session) {
  Sessions.UnlockHandle(session);
}

bool TBRNEngineManager::matchesClient(TBRNEngineSessionManager* session,
                                      const std::string& sessionName, const std::string& identity,
                                      uint32_t clientThreadId) {
  return TextEqualsIgnoreCase(session->Identity, identity) &&
         TextEqualsIgnoreCase(session->SessionName, sessionName) &&
         session->GetClientThreadID() == clientThreadId;
}

bool TBRNEngineManager::FindSession(int32_t sessionId, TBRNEngineSessionManager*& session,
                                    bool lock, uint32_t tries, int32_t waitMs, bool dropBusy,
                                    const std::string& sessionName, const std::string& identity,
                                    uint32_t clientThreadId, uint32_t longRunTries) {
  session = nullptr;
  uint32_t tried = 0;
  for (;;) {
    ReadBracket bracket(*this);
    auto* found = static_cast<TBRNEngineSessionManager*>(Sessions.FindObject(sessionId));
    if (found == nullptr) return false;
    if (!lock) {
      session = found;
      return true;
    }
    if (Sessions.TryLockHandle(found, 1, 0)) {
      if (!identity.empty() && !matchesClient(found, sessionName, identity, clientThreadId)) {
        Sessions.UnlockHandle(found);
        return false;
      }
      session = found;
      return true;
    }
    if (dropBusy &&
        (identity.empty() || matchesClient(found, sessionName, identity, clientThreadId)))
      found->DropConnection();
    const bool givenUp = longRunTries > 0 && tried >= longRunTries && found->HeldByLongRun();
    bracket.leave();
    if (givenUp) RaiseSessionLockError(sessionId);
    SleepMilliseconds(waitMs);
    if (++tried >= tries) RaiseSessionLockError(sessionId);
  }
}

bool TBRNEngineManager::NextServerSession(int32_t& position, TBRNEngineSessionManager*& session,
                                          int32_t ownSessionId, bool lock, uint32_t tries,
                                          int32_t waitMs) {
  session = nullptr;
  uint32_t tried = 0;
  for (;;) {
    int32_t remembered = position;
    ReadBracket bracket(*this);
    TBRNHandleObject* next = nullptr;
    if (!Sessions.NextObject(position, next)) return false;
    auto* found = static_cast<TBRNEngineSessionManager*>(next);
    bool locked = true;
    if (found->IsServerSession() && lock && found->Handle != ownSessionId)
      locked = Sessions.TryLockHandle(found, 1, 0);
    int32_t busyId = found->Handle;
    bracket.leave();
    if (locked) {
      session = found;
      return true;
    }
    // The same session is tried again.
    position = remembered;
    SleepMilliseconds(waitMs);
    if (++tried >= tries) RaiseSessionLockError(busyId);
  }
}

void TBRNEngineManager::ClearSessions() {
  // One session at a time: it leaves the table under the write bracket and
  // is freed outside it, since its destructor unregisters (a no-op by then).
  for (;;) {
    TBRNHandleObject* session = nullptr;
    {
      WriteBracket bracket(*this);
      int32_t position = 0;
      if (!Sessions.NextObject(position, session)) return;
      Sessions.RemoveObject(session, true);
    }
    delete session;
  }
}

int32_t TBRNEngineManager::GetSessionCount() {
  ReadBracket bracket(*this);
  int32_t count = 0;
  int32_t position = 0;
  TBRNHandleObject* session = nullptr;
  while (Sessions.NextObject(position, session)) ++count;
  return count;
}

void TBRNEngineManager::BuildCollationName(int32_t collationId, std::string& name) const {
  static const char* const kSuffixes[] = {"_CI", "_AI", "_KI", "_WI"};
  std::string suffix;
  for (int32_t bit = 20; bit <= 23; ++bit)
    if ((uint32_t(collationId) >> bit) & 1u) suffix += kSuffixes[bit - 20];
  int32_t locale = int32_t(uint32_t(collationId) & ~(uint32_t(0xF) << 20));
  name = Environment->GetLocaleAbbreviation(locale) + suffix;
}

TBRNFileManager* TBRNEngineManager::GetFileManager(bool inMemory, bool large) const {
  if (inMemory) return InternalFileManager.get();
  return large ? LargeFileManager.get() : FileManager.get();
}

TBRNFileManager* TBRNEngineManager::GetDatabaseFileManager(const std::string& databaseName,
                                                           bool inMemoryDatabase,
                                                           bool large) const {
  if (inMemoryDatabase) return MemoryDatabaseFileManager.get();
  if (TextEqualsIgnoreCase(databaseName, "Configuration") ||
      TextEqualsIgnoreCase(databaseName, "__Cursor__Cache"))
    return InternalFileManager.get();
  return large ? LargeFileManager.get() : FileManager.get();
}

TBRNFileManager* TBRNEngineManager::GetStoreFileManager(bool large) const {
  return large ? LargeFileManager.get() : FileManager.get();
}

TBRNEngineSessionManager::TBRNEngineSessionManager(TBRNEngineManager* engine, bool locked,
                                                   bool serverSession)
    : Engine(engine), ServerSession(serverSession) {
  Engine->RegisterSession(this, locked);
}

TBRNEngineSessionManager::~TBRNEngineSessionManager() {
  try {
    UnregisterFromEngine();
  } catch (...) {
    // Unregistering a session of this engine does not fail.
  }
}

void TBRNEngineSessionManager::UnregisterFromEngine() {
  if (Handle != 0) Engine->UnregisterSession(this, UnlockOnFree);
}

void TBRNEngineSessionManager::LockSession(uint32_t tries, int32_t waitMs) {
  Engine->LockSessionEntry(this, tries, waitMs);
}

bool TBRNEngineSessionManager::TryLockSession(uint32_t tries, int32_t waitMs) {
  return Engine->TryLockSessionEntry(this, tries, waitMs);
}

void TBRNEngineSessionManager::UnlockSession() {
  Engine->UnlockSessionEntry(this);
}

}  // namespace brn
