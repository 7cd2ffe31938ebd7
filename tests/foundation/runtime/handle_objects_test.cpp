#include "foundation/runtime/handle_objects.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/runtime/object_stack.h"

namespace brn {
namespace {

// Counts its own destruction; optionally removes itself from a table then,
// as engine objects do.
class CountedObject : public TBRNHandleObject {
 public:
  explicit CountedObject(int* freed = nullptr, TBRNHandleObjects* removeFrom = nullptr)
      : freed(freed), removeFrom(removeFrom) {}
  ~CountedObject() override {
    if (removeFrom != nullptr) removedWhileFreed = removeFrom->RemoveObject(this, true);
    if (freed != nullptr) ++*freed;
  }
  int* freed;
  TBRNHandleObjects* removeFrom;
  bool removedWhileFreed = false;
};

std::string messageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no exception";
}

TEST(HandleObjectsTest, HandsOutTheLowestFreeHandle) {
  TBRNHandleObjects table(16, false);
  CountedObject a, b, c, d;
  table.AddObject(&a, false);
  table.AddObject(&b, false);
  table.AddObject(&c, false);
  EXPECT_EQ(a.Handle, 1);
  EXPECT_EQ(b.Handle, 2);
  EXPECT_EQ(c.Handle, 3);
  EXPECT_TRUE(table.RemoveObject(&a, false));
  EXPECT_EQ(a.Handle, 0);
  EXPECT_FALSE(table.IsHandleUsed(1));
  EXPECT_EQ(table.FindObject(1), nullptr);
  table.AddObject(&d, false);
  EXPECT_EQ(d.Handle, 1);
  EXPECT_EQ(table.FindObject(1), &d);
  EXPECT_EQ(table.FindObject(2), &b);

  // Never-added and already-removed objects change nothing.
  EXPECT_FALSE(table.RemoveObject(&a, false));
  CountedObject stray;
  stray.Handle = 5;
  EXPECT_FALSE(table.RemoveObject(&stray, false));
  EXPECT_EQ(stray.Handle, 0);
  EXPECT_EQ(table.FindObject(3), &c);

  for (int32_t h : {-1, 0, 17, 1 << 30}) {
    EXPECT_FALSE(table.IsValidHandle(h)) << h;
    EXPECT_EQ(table.FindObject(h), nullptr) << h;
  }
  table.RemoveObject(&b, false);
  table.RemoveObject(&c, false);
  table.RemoveObject(&d, false);
}

TEST(HandleObjectsTest, RaisesTheCapacityErrorWhenFull) {
  for (int32_t capacity : {16, 4098}) {
    int freed = 0;
    TBRNHandleObjects table(capacity, capacity == 4098);
    for (int32_t i = 1; i <= capacity; ++i) {
      auto* object = new CountedObject(&freed);
      table.AddObject(object, false);
      ASSERT_EQ(object->Handle, i);
    }
    auto* extra = new CountedObject(&freed);
    EXPECT_EQ(messageOf([&] { table.AddObject(extra, false); }),
              "Handle objects container capacity (" + std::to_string(capacity) + ") exceeded");
    EXPECT_EQ(extra->Handle, 0);
    delete extra;
    EXPECT_LE(table.Count, capacity + 1);
    // A freed handle is handed out again.
    TBRNHandleObject* fifth = table.FindObject(5);
    table.RemoveObject(fifth, false);
    delete fifth;
    auto* again = new CountedObject(&freed);
    table.AddObject(again, false);
    EXPECT_EQ(again->Handle, 5);
    table.Clear();
    EXPECT_EQ(freed, capacity + 2);
  }
  EXPECT_THROW(TBRNHandleObjects(15, false), std::invalid_argument);
}

TEST(HandleObjectsTest, ArraysGrowBySixteenthsOfTheCapacity) {
  TBRNHandleObjects table(256, true);
  std::vector<CountedObject> objects(17);
  for (auto& object : objects) table.AddObject(&object, false);
  EXPECT_EQ(table.GrowthStep, 16);
  EXPECT_EQ(table.Count, 18);
  EXPECT_EQ(table.AllocatedLength, 32);
  for (auto& object : objects) table.RemoveObject(&object, false);
}

TEST(HandleObjectsTest, DetachAndAttachKeepTheHandle) {
  TBRNHandleObjects table(16, false);
  CountedObject a, b;
  table.AddObject(&a, false);
  table.AddObject(&b, false);
  table.DetachObject(&a);
  EXPECT_EQ(a.Handle, 1);
  EXPECT_FALSE(table.IsHandleUsed(1));
  EXPECT_EQ(table.FindObject(1), nullptr);
  table.AttachObject(&a);
  EXPECT_TRUE(table.IsHandleUsed(1));
  EXPECT_EQ(table.FindObject(1), &a);

  int32_t handle = 0;
  TBRNHandleObject* object = nullptr;
  std::vector<TBRNHandleObject*> walked;
  while (table.NextObject(handle, object)) walked.push_back(object);
  EXPECT_EQ(walked, (std::vector<TBRNHandleObject*>{&a, &b}));
  EXPECT_EQ(object, nullptr);
  table.RemoveObject(&a, false);
  table.RemoveObject(&b, false);
}

TEST(HandleObjectsTest, ClearFreesObjectsThatRemoveThemselves) {
  int freed = 0;
  auto* table = new TBRNHandleObjects(16, true);
  std::vector<CountedObject*> objects;
  for (int i = 0; i < 5; ++i) {
    objects.push_back(new CountedObject(&freed, table));
    table->AddObject(objects.back(), true);
  }
  table->Clear();
  EXPECT_EQ(freed, 5);
  EXPECT_EQ(table->Count, 6);
  EXPECT_FALSE(table->IsHandleUsed(1));
  EXPECT_FALSE(table->Clearing);
  // The table's destructor frees what is still registered.
  table->AddObject(new CountedObject(&freed), false);
  delete table;
  EXPECT_EQ(freed, 6);
}

TEST(HandleObjectsTest, PutObjectReplacesAndFreesTheOldObject) {
  int freed = 0;
  TBRNHandleObjects table(16, false);
  auto* first = new CountedObject(&freed);
  table.PutObject(3, first, true);
  EXPECT_EQ(table.Count, 4);
  // Storing the same object again must not free it.
  table.PutObject(3, first, true);
  EXPECT_EQ(freed, 0);
  table.PutObject(3, new CountedObject(&freed), true);
  EXPECT_EQ(freed, 1);
  table.PutObject(3, nullptr, true);
  EXPECT_EQ(freed, 2);
  EXPECT_THROW(table.PutObject(17, nullptr, false), std::out_of_range);
  // A stale object left under a free handle goes when the handle is reused.
  table.PutObject(1, new CountedObject(&freed), false);
  CountedObject fresh;
  table.AddObject(&fresh, false);
  EXPECT_EQ(fresh.Handle, 1);
  EXPECT_EQ(freed, 3);
  table.RemoveObject(&fresh, false);
}

// Each registered object has one entry: the table frees it once, and an
// object or a handle that belongs elsewhere is refused, leaving the table as
// it was.
TEST(HandleObjectsTest, AnObjectHasOneEntryAndOneTable) {
  int freed = 0;
  TBRNHandleObjects table(16, true), other(16, false);
  auto* a = new CountedObject(&freed);
  auto* b = new CountedObject(&freed);
  table.AddObject(a, false);
  table.AddObject(b, false);

  EXPECT_THROW(table.AddObject(a, false), std::logic_error);  // already registered here
  EXPECT_THROW(other.AddObject(b, false), std::logic_error);  // registered in another table
  EXPECT_THROW(table.AddObject(nullptr, false), std::invalid_argument);
  EXPECT_THROW(table.PutObject(5, a, false), std::logic_error);  // a second entry
  EXPECT_FALSE(other.IsHandleUsed(1));
  EXPECT_EQ(table.FindObject(3), nullptr);
  EXPECT_EQ(table.Count, 3);

  // A detached object keeps its handle for AttachObject; meanwhile the handle
  // may go to another object, and then it is not the detached one's to take.
  table.DetachObject(a);
  EXPECT_THROW(other.AddObject(a, false), std::logic_error);
  auto* c = new CountedObject(&freed);
  table.AddObject(c, false);
  ASSERT_EQ(c->Handle, 1);
  EXPECT_THROW(table.AttachObject(a), std::logic_error);
  EXPECT_EQ(table.FindObject(1), c);

  // A stranger naming a handle in use neither removes nor detaches its object.
  CountedObject stranger;
  stranger.Handle = 2;
  EXPECT_THROW(table.RemoveObject(&stranger, false), std::logic_error);
  EXPECT_THROW(table.DetachObject(&stranger), std::logic_error);
  EXPECT_EQ(table.FindObject(2), b);
  stranger.Handle = 0;

  table.Clear();
  EXPECT_EQ(freed, 2);  // b and c, each once
  delete a;
}

TEST(HandleObjectsTest, HandleLocksAreExclusive) {
  TBRNHandleObjects table(16, true);
  CountedObject a, b, c;
  table.AddObject(&a, true);
  EXPECT_FALSE(table.TryLockHandle(&a, 2, 1));
  EXPECT_TRUE(table.UnlockHandle(&a));
  EXPECT_FALSE(table.UnlockHandle(&a));
  EXPECT_TRUE(table.TryLockHandle(&a, 1, 0));

  // Removing without unlocking leaves handle 1 locked for its next object,
  // which stays registered although the lock fails.
  table.RemoveObject(&a, false);
  EXPECT_EQ(messageOf([&] { table.AddObject(&b, true); }), "Cannot lock new handle object (1)");
  EXPECT_EQ(table.FindObject(1), &b);
  // Removing with unlock frees the lock for the next object.
  EXPECT_TRUE(table.RemoveObject(&b, true));
  table.AddObject(&c, true);
  EXPECT_EQ(c.Handle, 1);
  EXPECT_TRUE(table.UnlockHandle(&c));
  table.RemoveObject(&c, false);

  TBRNHandleObjects plain(16, false);
  CountedObject d;
  plain.AddObject(&d, true);
  EXPECT_FALSE(plain.TryLockHandle(&d, 1, 0));
  EXPECT_FALSE(plain.UnlockHandle(&d));
  plain.RemoveObject(&d, true);
}

// Threads work on one session at a time: the holder of a handle's lock is
// alone with its object.
TEST(HandleObjectsTest, HandleLockSerialisesThreads) {
  TBRNHandleObjects table(16, true);
  CountedObject session;
  table.AddObject(&session, false);
  int64_t work = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(table.TryLockHandle(&session, 4294967295u, 0));
        ++work;
        ASSERT_TRUE(table.UnlockHandle(&session));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(work, 800);
  table.RemoveObject(&session, false);
}

// Sessions are locked by their handle while the owner registers others:
// growing the table must not move the lock a thread is holding or taking.
TEST(HandleObjectsTest, HandleLocksStayPutWhileTheTableGrows) {
  TBRNHandleObjects table(4096, true);
  auto* session = new CountedObject();
  table.AddObject(session, false);
  std::atomic<bool> done{false};
  std::atomic<int64_t> work{0};
  std::thread locker([&] {
    while (!done.load()) {
      ASSERT_TRUE(table.TryLockHandle(session, 4294967295u, 0));
      ++work;
      ASSERT_TRUE(table.UnlockHandle(session));
    }
  });
  while (work.load() == 0) std::this_thread::yield();
  for (int i = 0; i < 3000; ++i) table.AddObject(new CountedObject(), false);
  done = true;
  locker.join();
  EXPECT_TRUE(table.TryLockHandle(session, 1, 0));
  table.Clear();
}

// Clear frees the objects and their locks: the next object given a freed
// handle starts unlocked.
TEST(HandleObjectsTest, ClearReleasesTheLocksOfFreedObjects) {
  TBRNHandleObjects table(16, true);
  auto* first = new CountedObject();
  table.AddObject(first, true);
  table.Clear();
  auto* second = new CountedObject();
  table.AddObject(second, true);
  EXPECT_EQ(second->Handle, 1);
  EXPECT_TRUE(table.UnlockHandle(second));
  table.Clear();
}

struct Counted {
  explicit Counted(int* freed) : freed(freed) {}
  ~Counted() { ++*freed; }
  int* freed;
};

// Objects reach the stack only as std::unique_ptr: one raw pointer pushed
// twice would be freed twice.
template <typename Stack, typename Arg>
concept Pushable = requires(Stack& stack) {
  stack.Push(std::declval<Arg>());
};
static_assert(!Pushable<TBRNObjectStack<Counted>, Counted*>);
static_assert(Pushable<TBRNObjectStack<Counted>, std::unique_ptr<Counted>>);

TEST(ObjectStackTest, PushPopAndClear) {
  int freed = 0;
  {
    TBRNObjectStack<Counted> stack;
    EXPECT_EQ(stack.Pop(), nullptr);
    std::vector<Counted*> pushed;
    for (int i = 0; i < 9; ++i) {
      auto object = std::make_unique<Counted>(&freed);
      pushed.push_back(object.get());
      stack.Push(std::move(object));
    }
    EXPECT_EQ(stack.Count, 9);
    EXPECT_EQ(stack.Capacity, 16);
    EXPECT_EQ(stack.Items.size(), 16u);
    std::unique_ptr<Counted> top = stack.Pop();
    EXPECT_EQ(top.get(), pushed[8]);
    top.reset();
    EXPECT_EQ(freed, 1);
    std::unique_ptr<Counted> next = stack.Pop();
    EXPECT_EQ(next.get(), pushed[7]);
    stack.Push(std::move(next));
    stack.Clear();
    EXPECT_EQ(freed, 9);
    EXPECT_EQ(stack.Count, 0);
    EXPECT_EQ(stack.Pop(), nullptr);
    stack.Push(std::make_unique<Counted>(&freed));
  }
  EXPECT_EQ(freed, 10);  // the destructor frees what is left
}

}  // namespace
}  // namespace brn
