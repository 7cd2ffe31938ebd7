#include "sessions/session_manager.h"

#include <cmath>
#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

constexpr int32_t kCopyChunkSize = 65536;

int32_t percentOf(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  return int32_t(std::llround(double(done) / double(total) * 100.0));
}

// Ends the progress bracket however the work between leaves it.
class ProgressBracket {
 public:
  explicit ProgressBracket(TBRNSessionManager& session) : Session(session) {
    Session.BeginProgress();
  }
  ~ProgressBracket() { end(); }
  void end() {
    if (Open) Session.EndProgress();
    Open = false;
  }

 private:
  TBRNSessionManager& Session;
  bool Open = true;
};

// Runs one store file copy: opens the store, reports the stages and runs
// copyChunks inside a progress bracket with a chunk-sized work stream, then
// closes the store. copyChunks returns false when the user stopped the
// progress, which ends the copy without error. A store that fails to close
// after a good copy fails the copy; after a failed copy the copy's error is
// the one that reaches the caller.
template <typename CopyChunks>
void copyStoreFile(TBRNSessionManager& session, const std::string& storeName,
                   const std::string& fileName, CopyChunks copyChunks) {
  TBRNStoreManager* store = session.OpenStore(storeName, kBRNLockShared, false);
  bool proceed = true;
  try {
    session.ReportStoreFileCopy(0, storeName, fileName);
    {
      ProgressBracket bracket(session);
      TBRNMemoryStream work;
      work.SetSize(kCopyChunkSize);
      proceed = copyChunks(store, work);
      bracket.end();
    }
  } catch (...) {
    try {
      session.CloseStore(store);
    } catch (...) {
      // Unwinding the copy's error, which is the one to report.
    }
    session.ReportStoreFileCopy(1, storeName, fileName);
    throw;
  }
  try {
    session.CloseStore(store);
  } catch (...) {
    session.ReportStoreFileCopy(1, storeName, fileName);
    throw;
  }
  session.ReportStoreFileCopy(proceed ? 2 : 1, storeName, fileName);
}

}  // namespace

TBRNSessionHandleIndex::TBRNSessionHandleIndex(int32_t capacity, TTable table) : table_(table) {
  if (capacity < 1) throw std::invalid_argument("Session handle index capacity below 1");
  used_.SetSize(capacity);
}

bool TBRNSessionHandleIndex::IsUsed(int32_t sessionHandle) const {
  return sessionHandle >= 1 && sessionHandle <= used_.Size && used_.IsBitSet(sessionHandle);
}

int32_t TBRNSessionHandleIndex::Add(TBRNDatabaseManager* database, int32_t handle) {
  if (database == nullptr || (database->*table_).FindObject(handle) == nullptr) {
    throw std::logic_error("No database object under handle " + IntegerToString(handle));
  }
  for (int32_t h = 1; h <= int32_t(targets_.size()); ++h) {
    const TBRNSessionHandleTarget& target = targets_[size_t(h - 1)];
    if (IsUsed(h) && target.Database == database && target.Handle == handle) {
      throw std::logic_error("Database object " + IntegerToString(handle) +
                             " already has the session handle " + IntegerToString(h));
    }
  }
  int32_t sessionHandle = 0;
  if (!used_.FindNextClear(sessionHandle)) {
    throw std::runtime_error(FormatText("Session handle capacity (%s) exceeded",
                                        {IntegerToString(used_.Size)}));
  }
  if (sessionHandle > int32_t(targets_.size())) targets_.resize(size_t(sessionHandle));
  targets_[size_t(sessionHandle - 1)] = {database, handle};
  used_.SetBit(sessionHandle);
  ++count_;
  return sessionHandle;
}

TBRNSessionHandleTarget TBRNSessionHandleIndex::GetTarget(int32_t sessionHandle) const {
  return IsUsed(sessionHandle) ? targets_[size_t(sessionHandle - 1)] : TBRNSessionHandleTarget{};
}

TBRNHandleObject* TBRNSessionHandleIndex::Find(int32_t sessionHandle) const {
  TBRNSessionHandleTarget target = GetTarget(sessionHandle);
  return target.Database == nullptr ? nullptr : (target.Database->*table_).FindObject(target.Handle);
}

TBRNSessionHandleTarget TBRNSessionHandleIndex::Remove(int32_t sessionHandle) {
  TBRNSessionHandleTarget target = GetTarget(sessionHandle);
  if (target.Database != nullptr) {
    used_.ClearBit(sessionHandle);
    targets_[size_t(sessionHandle - 1)] = {};
    --count_;
  }
  return target;
}

void TBRNSessionHandleIndex::RemoveDatabase(const TBRNDatabaseManager* database) {
  for (int32_t h = 1; h <= int32_t(targets_.size()); ++h) {
    if (IsUsed(h) && targets_[size_t(h - 1)].Database == database) Remove(h);
  }
}

TBRNSessionProgress::TBRNSessionProgress(TBRNSessionManager* session) : Session(session) {}

int32_t TBRNSessionProgress::GetTicks() {
  return Session->GetTicks();
}
int32_t TBRNSessionProgress::GetElapsedTicks(int32_t startTicks, int32_t stopTicks) {
  return Session->GetElapsedTicks(startTicks, stopTicks);
}
bool TBRNSessionProgress::DoProgress() {
  return Session->DoProgress(Info->PercentDone);
}
void TBRNSessionProgress::DoStatusMessage(const std::string& text) {
  Session->DoStatusMessage(text);
}
void TBRNSessionProgress::DoLogMessage(const std::string& text) {
  Session->DoLogMessage(text);
}

TBRNSessionManager::TBRNSessionManager() : Progress(std::make_unique<TBRNSessionProgress>(this)) {}

TBRNSessionManager::~TBRNSessionManager() = default;

bool TBRNSessionManager::PromptLogin(std::string& userName, std::string& password, bool& proceed) {
  bool handled = false;
  if (Events.OnLogin) Events.OnLogin(handled, userName, password, proceed);
  return handled;
}

bool TBRNSessionManager::DoProgress(int32_t percentDone) {
  bool proceed = true;
  if (Events.OnProgress) Events.OnProgress(percentDone, proceed);
  return proceed;
}

void TBRNSessionManager::DoStatusMessage(const std::string& text) {
  if (Events.OnStatusMessage) Events.OnStatusMessage(text);
}

void TBRNSessionManager::DoLogMessage(const std::string& text) {
  if (Events.OnLogMessage) Events.OnLogMessage(text);
}

void TBRNSessionManager::RaiseStoreError(const std::string& storeName, const std::string& message) {
  throw EBRNException(1306, FormatText("Error with the %s %s (%s)", {"store", storeName, message}));
}

void TBRNSessionManager::RaiseFileReadError(const std::string& storeName,
                                            const std::string& fileName) {
  RaiseStoreError(storeName, FormatText("Error reading from the file %s", {fileName}));
  throw std::logic_error("RaiseStoreError returned");
}

void TBRNSessionManager::RaiseFileWriteError(const std::string& storeName,
                                             const std::string& fileName) {
  RaiseStoreError(storeName, FormatText("Error writing to the file %s", {fileName}));
  throw std::logic_error("RaiseStoreError returned");
}

void TBRNSessionManager::RaiseStreamReadError(const std::string& storeName,
                                              const std::string& fileName) {
  RaiseStoreError(storeName,
                  FormatText("Error reading the file %s from the input stream", {fileName}));
  throw std::logic_error("RaiseStoreError returned");
}

void TBRNSessionManager::RaiseStreamWriteError(const std::string& storeName,
                                               const std::string& fileName) {
  RaiseStoreError(storeName,
                  FormatText("Error writing the file %s to the output stream", {fileName}));
  throw std::logic_error("RaiseStoreError returned");
}

void TBRNSessionManager::OpenSession(const std::string& identity, const std::string& sessionName,
                                     const std::string& description) {
  Opened = true;
  Identity = identity;
  SessionName = sessionName;
  SessionDescription = description;
}

void TBRNSessionManager::CloseSession() {
  Opened = false;
}

void TBRNSessionManager::CloseDatabase(TBRNDatabaseManager*& database) {
  if (database == nullptr) return;
  // The handles go first: should the close fail part-way, no session-wide
  // handle is left leading to an object it may have freed.
  for (TBRNSessionHandleIndex* index : {&Scripts, &Procedures, &Statements, &Cursors})
    index->RemoveDatabase(database);
  database->CloseDatabase(false);
}

void TBRNSessionManager::CloseStore(TBRNStoreManager*& store) {
  if (store != nullptr) store->CloseStore(false);
}

void TBRNSessionManager::BeginProgress() {
  Progress->BeginProgress();
}

bool TBRNSessionManager::UpdateProgress(int32_t percentDone) {
  Progress->Info->PercentDone = percentDone;
  return Progress->UpdateProgress();
}

bool TBRNSessionManager::CheckProgress() {
  return Progress->UpdateProgress();
}

bool TBRNSessionManager::ForceProgress(int32_t percentDone) {
  Progress->Info->PercentDone = percentDone;
  return Progress->ForceProgress();
}

void TBRNSessionManager::EndProgress() {
  Progress->EndProgress();
}

void TBRNSessionManager::StatusMessage(const std::string& text, bool insideOutermost) {
  Progress->StatusMessage(text, insideOutermost);
}

void TBRNSessionManager::LogMessage(const std::string& text) {
  Progress->LogMessage(text);
}

void TBRNSessionManager::DoScriptPause(int32_t line, const std::exception* error,
                                       bool atStatement) {
  // A pause raised while the application handles one reaches nobody.
  if (SuspendDepth != 0) return;
  SuspendEvents();
  struct Resume {
    TBRNSessionManager& Session;
    ~Resume() { Session.ResumeEvents(); }
  } resume{*this};
  // A copy: the callback stays alive whatever the application does meanwhile.
  TBRNScriptPauseEvent pause = SavedEvents.OnScriptPause;
  if (pause) pause(line, error, atStatement);
}

void TBRNSessionManager::DoScriptEnd(int32_t first, int32_t second) {
  if (Events.OnScriptEnd) Events.OnScriptEnd(first, second);
}

// Suspensions nest: only the outermost saves and restores the callbacks, so
// that a pause inside a pause cannot overwrite the saved ones with nothing.
void TBRNSessionManager::SuspendEvents() {
  if (SuspendDepth++ != 0) return;
  SavedEvents = std::move(Events);
  Events = TBRNSessionEvents();
}

void TBRNSessionManager::ResumeEvents() {
  if (SuspendDepth == 0 || --SuspendDepth != 0) return;
  Events = SavedEvents;
}

void TBRNSessionManager::ReportStoreFileCopy(int32_t stage, const std::string& storeName,
                                             const std::string& fileName) {
  switch (stage) {
    case 0:
      StatusMessage(
          FormatText("%s the file %s in the %s %s...", {"Copying", fileName, "store", storeName}),
          false);
      break;
    case 1:
      StatusMessage(FormatText("The %s of the file %s in the %s %s did not complete",
                               {"copy", fileName, "store", storeName}),
                    false);
      break;
    default:
      StatusMessage(FormatText("The file %s in the %s %s was %s successfully",
                               {fileName, "store", storeName, "copied"}),
                    false);
      break;
  }
}

void TBRNSessionManager::SaveStoreFileToStream(const std::string& storeName,
                                               const std::string& fileName, TBRNStream& target) {
  copyStoreFile(*this, storeName, fileName, [&](TBRNStoreManager* store, TBRNMemoryStream& work) {
    bool proceed = true;
    int64_t total = store->BeginReadFile(fileName);
    try {
      int64_t done = 0;
      while (proceed && done < total) {
        work.SetPosition(0);
        uint32_t n = store->ReadFile(work, kCopyChunkSize);
        if (n == 0 || n > uint32_t(kCopyChunkSize)) RaiseStreamReadError(storeName, fileName);
        done += n;
        proceed = UpdateProgress(percentOf(done, total));
        work.SetPosition(0);
        if (target.CopyFrom(work, n) != int64_t(n)) RaiseStreamWriteError(storeName, fileName);
      }
      store->EndReadFile();
    } catch (...) {
      try {
        store->CancelReadFile();
      } catch (...) {
      }
      throw;
    }
    return proceed;
  });
}

void TBRNSessionManager::SaveStreamToStoreFile(const std::string& storeName,
                                               const std::string& fileName, TBRNStream& source) {
  copyStoreFile(*this, storeName, fileName, [&](TBRNStoreManager* store, TBRNMemoryStream& work) {
    bool proceed = true;
    int64_t total = source.GetSize() - source.GetPosition();
    store->BeginWriteFile(fileName);
    try {
      int64_t done = 0;
      while (proceed && done < total) {
        work.SetPosition(0);
        int64_t want = std::min<int64_t>(kCopyChunkSize, total - done);
        int64_t n = work.CopyFrom(source, want);
        if (n <= 0) RaiseStreamReadError(storeName, fileName);
        done += n;
        proceed = UpdateProgress(percentOf(done, total));
        work.SetPosition(0);
        if (store->WriteFile(work, uint32_t(n)) != uint32_t(n))
          RaiseStreamWriteError(storeName, fileName);
      }
      store->EndWriteFile();
    } catch (...) {
      try {
        store->CancelWriteFile();
      } catch (...) {
      }
      throw;
    }
    return proceed;
  });
}

}  // namespace brn
