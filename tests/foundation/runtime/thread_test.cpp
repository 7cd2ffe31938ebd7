#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include "foundation/runtime/event.h"
#include "foundation/runtime/interlocked.h"
#include "foundation/runtime/sections.h"
#include "foundation/runtime/thread.h"
#include "platform/system_info.h"
#include "platform/threads.h"
#include "foundation/wait_test_support.h"

namespace brn {
namespace {

using testing::Eventually;
using testing::LongWaitMs;

using Clock = std::chrono::steady_clock;

int64_t elapsedMs(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(InterlockedTest, CompareExchangeStoresOnlyOnMatch) {
  struct Case {
    int32_t start, newValue, comparand, expectedAfter;
  } cases[] = {{5, 7, 5, 7}, {5, 7, 6, 5}, {-1, 0, -1, 0}, {INT32_MAX, 1, INT32_MAX, 1}};
  for (const Case& c : cases) {
    std::atomic<int32_t> target{c.start};
    EXPECT_EQ(CompareExchangeInteger(target, c.newValue, c.comparand), c.start);
    EXPECT_EQ(target.load(), c.expectedAfter) << c.start << " " << c.comparand;
  }
}

TEST(InterlockedTest, IncrementCounterRestartsInsteadOfOverflowing) {
  struct Case {
    int32_t counter, step, expected;
  } cases[] = {
      {0, 1, 1},
      {10, 3, 13},
      {INT32_MAX, 1, 1},
      {INT32_MAX - 1, 1, INT32_MAX},
      {INT32_MAX, 5, 5},
      // Passing the top never turns the counter negative.
      {INT32_MAX - 1, 5, 5},
  };
  for (const Case& c : cases) {
    int32_t counter = c.counter;
    EXPECT_EQ(IncrementCounter(counter, c.step), c.expected) << c.counter << " + " << c.step;
    EXPECT_EQ(counter, c.expected);
  }
}

TEST(InterlockedTest, AtomicIncrementCounterRestartsAndLosesNoIncrement) {
  std::atomic<int32_t> top{INT32_MAX};
  EXPECT_EQ(AtomicIncrementCounter(top, 7), 7);
  EXPECT_EQ(top.load(), 7);

  std::atomic<int32_t> counter{0};
  constexpr int threads = 8, perThread = 500;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < perThread; ++i) AtomicIncrementCounter(counter, 1);
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(counter.load(), threads * perThread);
}

TEST(InterlockedTest, ReadAndWriteCountersFollowTheirStates) {
  std::atomic<int32_t> counter{-1};  // a writer holds it
  // One try never sleeps, however long the wait would be.
  auto start = Clock::now();
  EXPECT_FALSE(TryBeginReadCounter(counter, 1, LongWaitMs));
  EXPECT_LT(elapsedMs(start), LongWaitMs / 2);
  EXPECT_FALSE(TryBeginReadCounter(counter, 3, 1));
  EXPECT_FALSE(TryBeginReadCounter(counter, 0, 0));
  EXPECT_FALSE(EndReadCounter(counter));
  EXPECT_EQ(counter.load(), -1);

  counter = 0;
  EXPECT_TRUE(TryBeginReadCounter(counter, 1, 0));
  EXPECT_TRUE(TryBeginReadCounter(counter, 1, 0));
  EXPECT_EQ(counter.load(), 2);
  EXPECT_FALSE(TryBeginWriteCounter(counter, 2, 1));
  EXPECT_FALSE(EndWriteCounter(counter));
  EXPECT_TRUE(EndReadCounter(counter));
  EXPECT_TRUE(EndReadCounter(counter));
  EXPECT_FALSE(EndReadCounter(counter));
  EXPECT_EQ(counter.load(), 0);
  EXPECT_TRUE(TryBeginWriteCounter(counter, 1, 0));
  EXPECT_EQ(counter.load(), -1);
  EXPECT_FALSE(TryBeginWriteCounter(counter, 1, 0));
  EXPECT_TRUE(EndWriteCounter(counter));
  EXPECT_EQ(counter.load(), 0);
  EXPECT_FALSE(EndWriteCounter(counter));
}

// Writers change two plain fields that readers must always see equal; a lock
// that lets a reader or a second writer in shows up here (and under TSan).
TEST(ReadWriteSectionTest, ExcludesWritersFromReadersAndEachOther) {
  TBRNReadWriteSection section;
  int64_t first = 0, second = 0;
  std::atomic<bool> torn{false};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(section.BeginWrite(0));
        ++first;
        std::this_thread::yield();
        ++second;
        ASSERT_TRUE(section.EndWrite());
      }
    });
    workers.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(section.BeginRead(0));
        if (first != second) torn = true;
        ASSERT_TRUE(section.EndRead());
      }
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_FALSE(torn);
  EXPECT_EQ(first, 4 * 300);
  EXPECT_EQ(section.Counter.load(), 0);
}

TEST(ReadWriteSectionTest, WriterWaitsForTheLastReader) {
  TBRNReadWriteSection section;
  ASSERT_TRUE(section.BeginRead(1));
  std::atomic<bool> written{false};
  std::thread writer([&] {
    section.BeginWrite(1);
    written = true;
    section.EndWrite();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(written);  // never true while the reader holds it
  EXPECT_TRUE(section.EndRead());
  writer.join();
  EXPECT_TRUE(written);
}

TEST(CriticalSectionTest, IsReentrantAndExcludesOtherThreads) {
  TBRNCriticalSection section;
  section.Enter();
  section.Enter();
  section.Leave();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    section.Enter();
    entered = true;
    section.Leave();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(entered);  // still held once by this thread
  section.Leave();
  other.join();
  EXPECT_TRUE(entered);

  int64_t shared = 0;
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        std::lock_guard guard(section);
        std::lock_guard again(section);
        ++shared;
      }
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(shared, 4000);
}

TEST(EventTest, ResetsItselfAfterReleasingOneWait) {
  TBRNEvent event;
  EXPECT_FALSE(event.WaitFor(0));
  EXPECT_FALSE(event.WaitFor(5));
  event.Signal();
  event.Signal();  // signals do not accumulate
  EXPECT_TRUE(event.WaitFor(0));
  EXPECT_FALSE(event.WaitFor(0));

  std::thread signaller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    event.Signal();
  });
  EXPECT_TRUE(event.WaitFor(LongWaitMs));
  signaller.join();
  EXPECT_FALSE(event.WaitFor(0));
}

// A thread whose work and end are recorded for the test.
class RecordingThread : public TBRNThread {
 public:
  explicit RecordingThread(std::atomic<int>* executed = nullptr, bool raise = false,
                           bool loopUntilTerminated = false)
      : executed(executed), raise(raise), loopUntilTerminated(loopUntilTerminated) {}
  ~RecordingThread() override {
    TerminateAndWait();
    if (destroyed != nullptr) destroyed->Signal();
  }

  std::atomic<int>* executed;
  bool raise;
  bool loopUntilTerminated;
  TBRNEvent* destroyed = nullptr;

 protected:
  void Execute() override {
    if (executed != nullptr) ++*executed;
    while (loopUntilTerminated && !Terminated)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (raise) throw std::runtime_error("failed");
    ReturnValue = 42;
  }
};

TEST(ThreadTest, SuspendedThreadDestroyedWithoutResumeNeverStarts) {
  std::atomic<int> executed{0};
  {
    RecordingThread thread(&executed);
    EXPECT_TRUE(thread.Suspended);
    EXPECT_EQ(thread.SuspendCount, 1);
    EXPECT_EQ(thread.Priority, 3);
    EXPECT_FALSE(thread.Created);
    EXPECT_EQ(thread.Handle, nullptr);
  }
  EXPECT_EQ(executed.load(), 0);
}

TEST(ThreadTest, ResumeRunsExecuteAndWaitForGivesTheExitCode) {
  std::atomic<int> executed{0};
  std::atomic<uint32_t> terminateThreadId{0};
  RecordingThread thread(&executed);
  thread.OnTerminate = [&](TBRNThread* sender) {
    EXPECT_EQ(sender, &thread);
    terminateThreadId = SystemThreadId();
  };
  thread.Resume();
  EXPECT_FALSE(thread.Suspended);
  EXPECT_TRUE(thread.Created);
  EXPECT_NE(thread.ThreadID, 0u);
  EXPECT_EQ(thread.WaitFor(), 42);
  EXPECT_EQ(thread.WaitFor(), 42);  // a second wait reads the same result
  EXPECT_EQ(executed.load(), 1);
  EXPECT_TRUE(thread.Finished);
  // OnTerminate ran on the thread itself.
  EXPECT_EQ(terminateThreadId.load(), thread.ThreadID);
  EXPECT_NE(terminateThreadId.load(), SystemThreadId());
  thread.Resume();  // nothing more to resume
  EXPECT_EQ(executed.load(), 1);
}

TEST(ThreadTest, ExceptionInExecuteEndsTheThreadSilently) {
  std::atomic<int> executed{0};
  std::atomic<bool> terminated{false};
  RecordingThread thread(&executed, true);
  thread.OnTerminate = [&](TBRNThread*) { terminated = true; };
  thread.Resume();
  EXPECT_EQ(thread.WaitFor(), 0);
  EXPECT_TRUE(terminated);
  EXPECT_TRUE(thread.Finished);
}

TEST(ThreadTest, TerminatedBeforeStartSkipsExecute) {
  std::atomic<int> executed{0};
  std::atomic<bool> terminated{false};
  RecordingThread thread(&executed);
  thread.OnTerminate = [&](TBRNThread*) { terminated = true; };
  thread.Terminate();
  thread.Resume();
  thread.WaitFor();
  EXPECT_EQ(executed.load(), 0);
  EXPECT_TRUE(terminated);
}

TEST(ThreadTest, DestroyingARunningThreadTerminatesAndWaitsForIt) {
  std::atomic<int> executed{0};
  auto* thread = new RecordingThread(&executed, false, true);
  thread->Resume();
  ASSERT_TRUE(Eventually([&] { return executed.load() == 1; }));
  delete thread;  // returns only once the polling loop has seen Terminated
  EXPECT_EQ(executed.load(), 1);
}

TEST(ThreadTest, FreeOnTerminateThreadFreesItself) {
  TBRNEvent destroyed;
  std::atomic<int> executed{0};
  auto* thread = new RecordingThread(&executed);
  thread->FreeOnTerminate = true;
  thread->destroyed = &destroyed;
  thread->Resume();
  EXPECT_TRUE(destroyed.WaitFor(LongWaitMs));
  EXPECT_EQ(executed.load(), 1);
}

TEST(ThreadTest, BelowNormalPriorityRaisesTheNiceValue) {
  std::atomic<int> executed{0};
  RecordingThread thread(&executed, false, true);
  EXPECT_THROW(thread.SetPriority(7), std::invalid_argument);
  thread.SetPriority(1);  // stored, applied when the thread starts
  thread.Resume();
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, thread.ThreadID);
  ASSERT_EQ(errno, 0);
  errno = 0;
  int ownNice = getpriority(PRIO_PROCESS, 0);
  if (ownNice < 19) {
    EXPECT_GT(nice, ownNice);
  }
  thread.SetPriority(5);  // above normal is not granted; no error either
  thread.Terminate();
  thread.WaitFor();
}

// Priorities are relative to the process, not to the thread that creates the
// thread: a below-normal thread started by a below-normal timer thread is
// just below normal, not twice as low.
TEST(ThreadTest, PriorityIsRelativeToTheProcessNotToTheCreator) {
  class NiceReadingThread : public TBRNThread {
   public:
    explicit NiceReadingThread(uint8_t priority) { SetPriority(priority); }
    ~NiceReadingThread() override { TerminateAndWait(); }
    std::atomic<int> nice{0};
    std::atomic<int> childNice{0};
    bool spawnChild = false;

   protected:
    void Execute() override {
      nice = getpriority(PRIO_PROCESS, 0);
      if (!spawnChild) return;
      NiceReadingThread child(2);
      child.Resume();
      child.WaitFor();
      childNice = child.nice.load();
    }
  };
  int processNice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  if (processNice > 9) GTEST_SKIP() << "no room below this process's priority";
  NiceReadingThread parent(2);
  parent.spawnChild = true;
  parent.Resume();
  parent.WaitFor();
  EXPECT_GT(parent.nice.load(), processNice);
  EXPECT_EQ(parent.childNice.load(), parent.nice.load());
}

TEST(ThreadTest, ThreadErrorsRaiseWithTheSystemTextAndCode) {
  EXPECT_NO_THROW(TBRNThread::CheckThreadError(0));
  try {
    TBRNThread::CheckThreadError(EDEADLK);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    std::string message = e.what();
    EXPECT_EQ(message.rfind("Thread error: ", 0), 0u) << message;
    EXPECT_NE(message.find("(" + std::to_string(EDEADLK) + ")"), std::string::npos) << message;
  }

  // A thread that waits for itself gets the error instead of hanging.
  class SelfWaitingThread : public TBRNThread {
   public:
    std::atomic<bool> raised{false};

   protected:
    void Execute() override {
      try {
        WaitFor();
      } catch (const std::runtime_error&) {
        raised = true;
      }
    }
  } thread;
  thread.Resume();
  thread.WaitFor();
  EXPECT_TRUE(thread.raised);
}

TEST(PlatformThreadsTest, SuspendedPlatformThreadStartsAtFirstResume) {
  static std::atomic<int> runs{0};
  runs = 0;
  TPlatformThread* thread = nullptr;
  uint32_t threadId = 0;
  auto routine = [](void*) -> int32_t {
    ++runs;
    return 7;
  };
  ASSERT_EQ(PlatformCreateThread(routine, nullptr, true, thread, threadId), 0);
  EXPECT_NE(threadId, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(runs.load(), 0);  // never before the resume
  ASSERT_EQ(PlatformResumeThread(thread), 0);
  int32_t exitCode = 0;
  ASSERT_EQ(PlatformWaitForThread(thread, exitCode), 0);
  EXPECT_EQ(exitCode, 7);
  EXPECT_EQ(runs.load(), 1);
  PlatformCloseThread(thread);
}

}  // namespace
}  // namespace brn
