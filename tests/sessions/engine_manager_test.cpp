#include "sessions/engine_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "foundation/files/file_manager.h"
#include "foundation/files/memory_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/test_support.h"
#include "foundation/text/environment.h"
#include "foundation/types/date_time.h"
#include "sessions/test_session.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::TestEngineSession;

// An engine whose start and stop hooks can fail and are counted.
class HookEngine : public TBRNEngineManager {
 public:
  void DoStart() override {
    ++Starts;
    if (FailStart) throw std::runtime_error("no listener");
  }
  void DoStop() override {
    ++Stops;
    TBRNEngineManager::DoStop();
    if (FailStop) throw std::runtime_error("stuck");
  }
  int Starts = 0, Stops = 0;
  bool FailStart = false, FailStop = false;
};

TEST(EngineManager, VersionsAndFileManagers) {
  TBRNEngineManager engine;
  EXPECT_EQ(engine.EngineVersion, 21400);
  EXPECT_EQ(engine.EngineBuild, 5);
  EXPECT_EQ(engine.MetadataVersion, 20500);
  EXPECT_FALSE(engine.Active);
  TBRNFileManager* normal = engine.GetFileManager(false, false);
  TBRNFileManager* large = engine.GetFileManager(false, true);
  EXPECT_NE(dynamic_cast<TBRNEngineOSFileManager*>(normal), nullptr);
  EXPECT_NE(dynamic_cast<TBRNEngineLargeOSFileManager*>(large), nullptr);
  EXPECT_EQ(engine.GetFileManager(true, true),
            static_cast<TBRNFileManager*>(engine.InternalFileManager.get()));
  EXPECT_EQ(engine.GetDatabaseFileManager("CONFIGURATION", false, false),
            static_cast<TBRNFileManager*>(engine.InternalFileManager.get()));
  EXPECT_EQ(engine.GetDatabaseFileManager("__cursor__cache", false, true),
            static_cast<TBRNFileManager*>(engine.InternalFileManager.get()));
  EXPECT_EQ(engine.GetDatabaseFileManager("Sales", true, false),
            static_cast<TBRNFileManager*>(engine.MemoryDatabaseFileManager.get()));
  EXPECT_EQ(engine.GetDatabaseFileManager("Sales", false, true), large);
  EXPECT_EQ(engine.GetStoreFileManager(false), normal);
}

TEST(EngineManager, FileManagersReadExclusiveAccessFromTheSettings) {
  TBRNEngineManager engine;
  TBRNFileManager* files = engine.GetFileManager(false, false);
  EXPECT_FALSE(files->GetExclusiveAccess());
  engine.Settings->SetExclusiveFileAccess(true);
  EXPECT_TRUE(files->GetExclusiveAccess());
  EXPECT_TRUE(engine.GetFileManager(false, true)->GetExclusiveAccess());
}

TEST(EngineManager, StartAndStopRunTheirHooksOnce) {
  HookEngine engine;
  engine.Stop();
  EXPECT_EQ(engine.Stops, 0);
  engine.Start();
  engine.Start();
  EXPECT_TRUE(engine.Active);
  EXPECT_EQ(engine.Starts, 1);
  engine.Stop();
  engine.Stop();
  EXPECT_FALSE(engine.Active);
  EXPECT_EQ(engine.Stops, 1);
}

TEST(EngineManager, FailedStartStopsAndStaysInactive) {
  HookEngine engine;
  engine.FailStart = true;
  EXPECT_THROW(engine.Start(), std::runtime_error);
  EXPECT_FALSE(engine.Active);
  EXPECT_EQ(engine.Stops, 1);
  engine.FailStart = false;
  engine.Start();
  engine.FailStop = true;
  EXPECT_THROW(engine.Stop(), std::runtime_error);
  EXPECT_FALSE(engine.Active);
}

TEST(EngineManager, StopFreesEverySession) {
  TBRNEngineManager engine;
  engine.Start();
  new TestEngineSession(&engine);
  new TestEngineSession(&engine, true);
  EXPECT_EQ(engine.GetSessionCount(), 2);
  engine.Stop();
  EXPECT_EQ(engine.GetSessionCount(), 0);
  // The locked session's lock went with it: its ID is usable locked again.
  auto* next = new TestEngineSession(&engine, true);
  EXPECT_EQ(next->Handle, 1);
}

TEST(EngineManager, TimestampsInOneMillisecondAreConsecutive) {
  TBRNEngineManager engine;
  bool sawSameMillisecond = false;
  for (int attempt = 0; attempt < 1000 && !sawSameMillisecond; ++attempt) {
    int64_t before = CurrentTimestamp(false);
    int64_t first = engine.NextTimestamp();
    int64_t second = engine.NextTimestamp();
    int64_t after = CurrentTimestamp(false);
    EXPECT_GT(second, first);
    if (before == after) {
      sawSameMillisecond = true;
      EXPECT_EQ(second, first + 1);
    }
  }
  EXPECT_TRUE(sawSameMillisecond);
}

TEST(EngineManager, AdvancedTimestampIsNeverGoneBack) {
  TBRNEngineManager engine;
  int64_t future = CurrentTimestamp(false) + 3600000;
  engine.AdvanceTimestamp(future);
  EXPECT_EQ(engine.NextTimestamp(), future + 1);
  EXPECT_EQ(engine.NextTimestamp(), future + 2);
  engine.AdvanceTimestamp(future - 10);  // a smaller value is ignored
  EXPECT_EQ(engine.NextTimestamp(), future + 3);
}

TEST(EngineManager, TimestampsFromSeveralThreadsAreUnique) {
  TBRNEngineManager engine;
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::vector<int64_t>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) seen[size_t(t)].push_back(engine.NextTimestamp());
    });
  for (auto& thread : threads) thread.join();
  std::set<int64_t> all;
  for (const auto& values : seen) all.insert(values.begin(), values.end());
  EXPECT_EQ(all.size(), size_t(kThreads * kEach));
}

TEST(EngineManager, SessionIdsAreTheLowestFreeAndTheTableHolds4098) {
  TBRNEngineManager engine;
  std::vector<TestEngineSession*> sessions;
  for (int i = 0; i < kBRNMaxSessions; ++i) sessions.push_back(new TestEngineSession(&engine));
  EXPECT_EQ(sessions.front()->Handle, 1);
  EXPECT_EQ(sessions.back()->Handle, 4098);
  try {
    new TestEngineSession(&engine);
    ADD_FAILURE() << "the 4099th session was registered";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Handle objects container capacity (4098) exceeded");
  }
  EXPECT_EQ(engine.GetSessionCount(), 4098);
  delete sessions[41];
  auto* again = new TestEngineSession(&engine);
  EXPECT_EQ(again->Handle, 42);
}

TEST(EngineManager, SessionLocksSerialiseAndFailWith506) {
  TBRNEngineManager engine;
  auto* session = new TestEngineSession(&engine, true);
  EXPECT_FALSE(session->TryLockSession(2, 1));
  EBRNException e = CaughtError([&] { session->LockSession(2, 1); });
  EXPECT_EQ(e.ErrorCode, 506);
  EXPECT_EQ(e.ErrorMessage, "Cannot lock the session manager (ID: 1)");
  session->UnlockSession();
  EXPECT_TRUE(session->TryLockSession(1, 0));
  session->UnlockSession();
  // Freed while locked, with the flag set: the ID is free and unlocked.
  session->LockSession(1, 0);
  session->UnlockOnFree = true;
  delete session;
  auto* next = new TestEngineSession(&engine);
  EXPECT_EQ(next->Handle, 1);
  EXPECT_TRUE(next->TryLockSession(1, 0));
  next->UnlockSession();
}

TEST(EngineManager, FindSessionLooksUpLocksAndMatchesTheClient) {
  TBRNEngineManager engine;
  auto* session = new TestEngineSession(&engine);
  session->OpenSession("Host-7", "Main", "");
  TBRNEngineSessionManager* found = nullptr;
  EXPECT_FALSE(engine.FindSession(99, found, false, 1, 0, false));
  EXPECT_EQ(found, nullptr);

  ASSERT_TRUE(engine.FindSession(1, found, true, 1, 0, false));
  EXPECT_EQ(found, session);
  // Held: a lookup without lock still finds it; with lock it fails with 506
  // after the tries, dropping the busy connection each time when asked.
  TBRNEngineSessionManager* again = nullptr;
  EXPECT_TRUE(engine.FindSession(1, again, false, 1, 0, false));
  EXPECT_EQ(again, session);
  EXPECT_EQ(CaughtError([&] { engine.FindSession(1, again, true, 3, 1, true); }).ErrorCode, 506);
  EXPECT_EQ(session->Drops, 3);
  EXPECT_EQ(CaughtError([&] {
              engine.FindSession(1, again, true, 2, 1, true, "Main", "other-host", 0);
            }).ErrorCode,
            506);
  EXPECT_EQ(session->Drops, 3);  // another client's session is not dropped
  session->UnlockSession();

  EXPECT_TRUE(engine.FindSession(1, found, true, 1, 0, false, "MAIN", "host-7", 0));
  session->UnlockSession();
  // A client that does not match finds nothing and leaves the lock free.
  EXPECT_FALSE(engine.FindSession(1, found, true, 1, 0, false, "Main", "Host-8", 0));
  EXPECT_TRUE(session->TryLockSession(1, 0));
  session->UnlockSession();
}

TEST(EngineManager, NextServerSessionWalksAndLocksServerSessions) {
  TBRNEngineManager engine;
  auto* own = new TestEngineSession(&engine, false, true);
  auto* plain = new TestEngineSession(&engine);
  auto* served = new TestEngineSession(&engine, false, true);
  int32_t position = 0;
  TBRNEngineSessionManager* next = nullptr;
  std::vector<TBRNEngineSessionManager*> walked;
  while (engine.NextServerSession(position, next, own->Handle, true, 1, 0)) walked.push_back(next);
  EXPECT_EQ(walked, (std::vector<TBRNEngineSessionManager*>{own, plain, served}));
  // Only the other server session was locked.
  EXPECT_TRUE(own->TryLockSession(1, 0));
  EXPECT_TRUE(plain->TryLockSession(1, 0));
  EXPECT_FALSE(served->TryLockSession(1, 0));
  // Still held: the walk stops at it with 506 naming it.
  position = 2;
  EBRNException e =
      CaughtError([&] { engine.NextServerSession(position, next, own->Handle, true, 2, 1); });
  EXPECT_EQ(e.ErrorMessage, "Cannot lock the session manager (ID: 3)");
  own->UnlockSession();
  plain->UnlockSession();
  served->UnlockSession();
}

TEST(EngineManager, CollationNameJoinsAbbreviationAndSuffixes) {
  TBRNEngineManager engine;
  ASSERT_FALSE(engine.Environment->Locales.empty());
  const TBRNLocale& locale = engine.Environment->Locales.front();
  std::string name;
  engine.BuildCollationName(locale.Id | (1 << 20) | (1 << 23), name);
  EXPECT_EQ(name, locale.Abbreviation + "_CI_WI");
  engine.BuildCollationName(locale.Id | (0xF << 20), name);
  EXPECT_EQ(name, locale.Abbreviation + "_CI_AI_KI_WI");
  engine.BuildCollationName(locale.Id, name);
  EXPECT_EQ(name, locale.Abbreviation);
}

// The session lock lets one thread at a time work on a session: a plain
// counter updated only under it ends exact (and race-free under TSan).
TEST(EngineManager, SessionLockSerialisesThreads) {
  TBRNEngineManager engine;
  auto* session = new TestEngineSession(&engine);
  constexpr int kThreads = 4, kRounds = 500;
  int64_t counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        TBRNEngineSessionManager* found = nullptr;
        if (i % 2 == 0) {
          session->LockSession(100000, 0);
        } else if (!engine.FindSession(1, found, true, 100000, 0, false)) {
          continue;
        }
        ++counter;
        session->UnlockSession();
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, kThreads * kRounds);
}

// Sessions registered, looked up, locked and freed from several threads at
// once: every ID is handed out once and the table ends empty.
TEST(EngineManager, RegistrationFromSeveralThreads) {
  TBRNEngineManager engine;
  constexpr int kThreads = 4, kRounds = 300;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        auto* session = new TestEngineSession(&engine, true);
        int32_t id = session->Handle;
        TBRNEngineSessionManager* found = nullptr;
        if (!engine.FindSession(id, found, false, 1, 0, false) || found != session) ++failures;
        session->UnlockSession();
        if (!engine.FindSession(id, found, true, 100, 1, false) || found != session) ++failures;
        session->UnlockOnFree = true;
        delete session;
      }
    });
  std::atomic<bool> done{false};
  std::thread walker([&] {
    while (!done) {
      int32_t position = 0;
      TBRNEngineSessionManager* next = nullptr;
      while (engine.NextServerSession(position, next, 0, false, 1, 0)) {
      }
    }
  });
  for (auto& thread : threads) thread.join();
  done = true;
  walker.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(engine.GetSessionCount(), 0);
}

}  // namespace
}  // namespace brn
