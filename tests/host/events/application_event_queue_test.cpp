#include "host/events/application_event_queue.h"

#include <signal.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/events/main_loop.h"

namespace brn {
namespace {

struct Stamp {
  int thread;
  int sequence;
};

std::unique_ptr<TBRNApplicationEvent> MakeEvent(int thread, int sequence,
                                                TBRNServerSessionEventType type = seConnect) {
  return std::make_unique<TBRNApplicationEvent>(type,
                                                std::make_shared<Stamp>(Stamp{thread, sequence}));
}

const Stamp& StampOf(const TBRNApplicationEvent& event) {
  return *static_cast<const Stamp*>(event.Data.get());
}

TEST(ApplicationEventQueueTest, EventsFromManyThreadsAreHandledOnTheMainThreadInOrder) {
  constexpr int Threads = 8;
  constexpr int PerThread = 10000;
  TBRNMainLoop loop;
  TBRNApplicationEventQueue queue(&loop);
  std::thread::id mainThread = std::this_thread::get_id();
  std::vector<int> next(Threads, 0);
  int handled = 0, outOfOrder = 0, offMain = 0;
  queue.Handler = [&](TBRNApplicationEvent& event, bool& done) {
    const Stamp& stamp = StampOf(event);
    if (stamp.sequence != next[stamp.thread]) ++outOfOrder;
    next[stamp.thread] = stamp.sequence + 1;
    if (std::this_thread::get_id() != mainThread) ++offMain;
    done = true;
    if (++handled == Threads * PerThread) loop.PostQuit();
  };
  std::vector<std::thread> posters;
  for (int t = 0; t < Threads; ++t)
    posters.emplace_back([&queue, t] {
      for (int i = 0; i < PerThread; ++i) queue.Post(MakeEvent(t, i));
    });
  loop.Run();
  for (std::thread& poster : posters) poster.join();
  EXPECT_EQ(handled, Threads * PerThread);
  EXPECT_EQ(outOfOrder, 0);
  EXPECT_EQ(offMain, 0);
}

TEST(ApplicationEventQueueTest, MainThreadPostIsHandledBeforeReturnWithoutRecursion) {
  TBRNApplicationEventQueue queue(nullptr);
  std::vector<int> order;
  int depth = 0, deepest = 0;
  queue.Handler = [&](TBRNApplicationEvent& event, bool& done) {
    deepest = std::max(deepest, ++depth);
    int sequence = StampOf(event).sequence;
    order.push_back(sequence);
    // The handler posts: the new event waits for this loop.
    if (sequence == 0) queue.Post(MakeEvent(0, 1));
    if (sequence == 0) order.push_back(-1);
    done = true;
    --depth;
  };
  queue.Post(MakeEvent(0, 0));
  EXPECT_EQ(order, (std::vector<int>{0, -1, 1}));
  EXPECT_EQ(deepest, 1);
}

TEST(ApplicationEventQueueTest, FreeingTheQueueHandsQueuedEventsOverAndRestoresTheIdleHandler) {
  TBRNMainLoop loop;
  int idleRuns = 0;
  loop.SetIdleHandler([&] { ++idleRuns; });
  std::vector<int> handled;
  {
    TBRNApplicationEventQueue queue(&loop);
    queue.Handler = [&](TBRNApplicationEvent& event, bool& done) {
      handled.push_back(StampOf(event).sequence);
      done = true;
    };
    std::thread poster([&] {
      queue.Post(MakeEvent(1, 0));
      queue.Post(MakeEvent(1, 1));
    });
    poster.join();
    EXPECT_TRUE(handled.empty());
  }
  EXPECT_EQ(handled, (std::vector<int>{0, 1}));
  loop.Wake();
  loop.PostCall([&] { loop.PostQuit(); });
  loop.Run();
  EXPECT_GE(idleRuns, 1);
}

TEST(ApplicationEventQueueTest, AnEventLeftUnhandledIsOfferedOnceMoreThenDropped) {
  struct Case {
    int handledOnOffer;  // 0: never
    int offers;
    bool dropped;
  } cases[] = {{1, 1, false}, {2, 2, false}, {0, 2, true}};
  for (const Case& c : cases) {
    TBRNApplicationEventQueue queue(nullptr);
    int offers = 0;
    std::vector<int> after;
    std::vector<std::string> dropped;
    queue.OnDropped = [&](const std::string& text) { dropped.push_back(text); };
    queue.Handler = [&](TBRNApplicationEvent& event, bool& done) {
      if (StampOf(event).sequence == 1) {
        after.push_back(1);
        done = true;
        return;
      }
      ++offers;
      done = offers == c.handledOnOffer;
    };
    std::thread poster([&] {
      queue.Post(MakeEvent(0, 0));
      queue.Post(MakeEvent(0, 1));
    });
    poster.join();
    queue.ProcessEvents();
    EXPECT_EQ(offers, c.offers) << c.handledOnOffer;
    EXPECT_EQ(dropped.size(), c.dropped ? 1u : 0u) << c.handledOnOffer;
    EXPECT_EQ(after, std::vector<int>{1}) << c.handledOnOffer;
  }
}

TEST(MainLoopTest, CallsRunInOrderAndAStopSignalEndsTheLoop) {
  TBRNMainLoop loop;
  std::vector<int> calls;
  TBRNStopSignals signals(loop);
  std::thread other([&] {
    loop.PostCall([&] { calls.push_back(1); });
    loop.PostCall([&] { calls.push_back(2); });
    loop.PostCall([&] { ::kill(::getpid(), SIGTERM); });
  });
  loop.Run();
  other.join();
  EXPECT_TRUE(loop.Terminated());
  EXPECT_EQ(calls, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace brn
