#include "foundation/runtime/thread_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "foundation/runtime/event.h"
#include "platform/system_info.h"
#include "foundation/wait_test_support.h"

namespace brn {
namespace {

using testing::Eventually;
using testing::LongWaitMs;

TEST(ThreadTimerTest, RunsAThreadOnlyWhileEnabledWithIntervalAndCallback) {
  TBRNThreadTimer timer;
  EXPECT_EQ(timer.GetInterval(), 1000);
  EXPECT_FALSE(timer.GetEnabled());
  timer.SetOnTimer([](TBRNThreadTimer*) {});
  timer.SetInterval(500);
  EXPECT_FALSE(timer.HasThread());
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.HasThread());
  timer.SetInterval(0);
  EXPECT_FALSE(timer.HasThread());
  timer.SetInterval(500);
  EXPECT_TRUE(timer.HasThread());
  timer.SetOnTimer(nullptr);
  EXPECT_FALSE(timer.HasThread());
}

TEST(ThreadTimerTest, FiresRepeatedlyOnItsOwnThread) {
  TBRNEvent thirdFire;
  std::atomic<int> fires{0};
  std::atomic<bool> onCallerThread{false};
  std::atomic<TBRNThreadTimer*> sender{nullptr};
  uint32_t callerId = SystemThreadId();
  TBRNThreadTimer timer;
  timer.SetInterval(5);
  timer.SetOnTimer([&](TBRNThreadTimer* s) {
    sender = s;
    if (SystemThreadId() == callerId) onCallerThread = true;
    if (++fires == 3) thirdFire.Signal();
  });
  timer.SetEnabled(true);
  ASSERT_TRUE(thirdFire.WaitFor(LongWaitMs));
  timer.SetEnabled(false);
  int firesAfterStop = fires.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(fires.load(), firesAfterStop);  // a disabled timer never fires again
  EXPECT_EQ(sender.load(), &timer);
  EXPECT_FALSE(onCallerThread);
}

TEST(ThreadTimerTest, DisabledFromItsOwnCallbackWithoutDeadlock) {
  TBRNEvent disabled;
  std::atomic<int> fires{0};
  TBRNThreadTimer timer;
  timer.SetInterval(5);
  timer.SetOnTimer([&](TBRNThreadTimer* sender) {
    ++fires;
    sender->SetEnabled(false);
    disabled.Signal();
  });
  timer.SetEnabled(true);
  ASSERT_TRUE(disabled.WaitFor(LongWaitMs));
  EXPECT_FALSE(timer.HasThread());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(fires.load(), 1);
  // Enabling again from outside reclaims the stopped thread and starts anew.
  timer.SetEnabled(true);
  ASSERT_TRUE(disabled.WaitFor(LongWaitMs));
  EXPECT_EQ(fires.load(), 2);
}

TEST(ThreadTimerTest, IntervalChangedFromItsOwnCallbackKeepsFiring) {
  TBRNEvent fifthFire;
  std::atomic<int> fires{0};
  std::atomic<bool> raised{false};
  TBRNThreadTimer timer;
  timer.SetInterval(5);
  timer.SetOnTimer([&](TBRNThreadTimer* sender) {
    int fire = ++fires;
    try {
      // Each change replaces the thread this callback runs on.
      sender->SetInterval(fire % 2 == 0 ? 5 : 6);
    } catch (...) {
      raised = true;
    }
    if (fire == 5) fifthFire.Signal();
  });
  timer.SetEnabled(true);
  ASSERT_TRUE(fifthFire.WaitFor(LongWaitMs));
  EXPECT_FALSE(raised);
}

TEST(ThreadTimerTest, DestroyedFromItsOwnCallback) {
  TBRNEvent destroyed;
  auto* timer = new TBRNThreadTimer;
  timer->SetInterval(5);
  timer->SetOnTimer([&](TBRNThreadTimer* sender) {
    delete sender;
    destroyed.Signal();
  });
  timer->SetEnabled(true);
  ASSERT_TRUE(destroyed.WaitFor(LongWaitMs));
}

TEST(ThreadTimerTest, DestructionWaitsForARunningCallback) {
  TBRNEvent entered;
  std::atomic<bool> inCallback{false};
  std::atomic<int> fires{0};
  {
    TBRNThreadTimer timer;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TBRNThreadTimer*) {
      inCallback = true;
      ++fires;
      entered.Signal();
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      inCallback = false;
    });
    timer.SetEnabled(true);
    ASSERT_TRUE(entered.WaitFor(LongWaitMs));
  }
  EXPECT_FALSE(inCallback);
  int firesAfterDestruction = fires.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(fires.load(), firesAfterDestruction);
}

// The owner changes the timer while its callback changes it too.
TEST(ThreadTimerTest, ChangesFromOwnerAndCallbackAtOnce) {
  std::atomic<int> fires{0};
  TBRNThreadTimer timer;
  timer.SetInterval(1);
  timer.SetOnTimer([&](TBRNThreadTimer* sender) {
    if (++fires % 3 == 0) sender->SetInterval(sender->GetInterval() == 1 ? 2 : 1);
  });
  for (int i = 0; i < 50; ++i) {
    timer.SetEnabled(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    timer.SetEnabled(false);
  }
  timer.SetEnabled(true);
  int before = fires.load();
  Eventually([&] { return fires.load() >= before + 5; });
  EXPECT_GE(fires.load(), before + 5);
}

}  // namespace
}  // namespace brn
