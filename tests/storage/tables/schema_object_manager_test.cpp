// Schema-object managers: opening, refreshing, keeping open and closing,
// the object locks they hold in a real database lock file, and the list of
// managers of a database.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/locks/lockable.h"
#include "foundation/text/exception.h"
#include "metadata/config/privileges.h"
#include "storage/tables/schema_object_manager.h"
#include "storage/tables/table_test_support.h"

namespace brn::testing {
namespace {

// What the managers of one test did, in order, and how they behave.
struct HookLog {
  std::vector<std::string> Calls;
  std::string FailIn;  // the hook that raises
  bool KeepOpen = false;
};

// A manager whose hooks only record themselves.
class RecordingManager : public TBRNSchemaObjectManager {
 public:
  RecordingManager(TBRNTableEnvironment& environment, TBRNPrivilegedSchemaObject* object,
                   HookLog& log)
      : TBRNSchemaObjectManager(environment, object), log_(log) {}

  bool GetKeepOpen() override { return log_.KeepOpen; }
  void DoOpen() override { hook("DoOpen"); }
  void DoRefresh() override { hook("DoRefresh"); }
  void DoOpenReferences() override { hook("DoOpenReferences"); }
  void DoPrepare() override { hook("DoPrepare"); }
  void DoUnprepare() override { hook("DoUnprepare"); }
  void DoCloseReferences() override { hook("DoCloseReferences"); }
  void DoClose() override { hook("DoClose"); }

 private:
  void hook(const std::string& name) {
    log_.Calls.push_back(name);
    if (log_.FailIn == name) throw EBRNException(600, name + " failed");
  }
  HookLog& log_;
};

class RecordingManagers : public TBRNSchemaObjectManagers {
 public:
  RecordingManagers(TBRNTableEnvironment& environment, HookLog& log)
      : TBRNSchemaObjectManagers(environment), log_(log) {}
  std::unique_ptr<TBRNSchemaObjectManager> CreateManager(
      TBRNPrivilegedSchemaObject* object) override {
    return std::make_unique<RecordingManager>(GetEnvironment(), object, log_);
  }
  int32_t GetCapacity() const override { return 16; }

 private:
  HookLog& log_;
};

using Calls = std::vector<std::string>;

struct ManagerTest : ::testing::Test {
  TestDatabaseFiles Database;
  TestTableEnvironment Environment{Database};
  HookLog Log;
  RecordingManagers Managers{Environment, Log};
  TBRNBaseTable* Items = Environment.AddItemsTable("Items", false);
  TBRNBaseTable* Orders = Environment.AddItemsTable("Orders", false);

  // The calls since the last look.
  Calls Taken() {
    Calls calls = Log.Calls;
    Log.Calls.clear();
    return calls;
  }
  bool Holds(uint8_t lockType) const { return (Items->HeldLocks & LockTypeBit(lockType)) != 0; }
  bool FreeForOthers(uint8_t lockType) { return Environment.LockByteFree(Items, lockType); }
};

TEST_F(ManagerTest, ReopeningAnIdleManagerRefreshesItUnlessItsObjectIsInATransaction) {
  Log.KeepOpen = true;
  TBRNSchemaObjectManager* manager = Managers.OpenManager(Items, ltShared);
  EXPECT_EQ(Taken(), (Calls{"DoOpen", "DoPrepare", "DoOpenReferences"}));
  manager->Close(false, true);
  EXPECT_EQ(Taken(), (Calls{"DoCloseReferences", "DoUnprepare"}));

  manager->Open(false);
  EXPECT_EQ(Taken(), (Calls{"DoRefresh", "DoPrepare"}));
  manager->Close(false, false);
  Taken();

  Items->SetInTransaction();
  manager->Open(false);
  EXPECT_EQ(Taken(), (Calls{"DoPrepare"}));
  // A manager with users is not refreshed either.
  manager->Open(false);
  EXPECT_EQ(Taken(), Calls{});
  EXPECT_EQ(manager->GetUserCount(), 2);
}

TEST_F(ManagerTest, AKeptOpenManagerKeepsItsSharedLockUntilAnExclusiveLockTakesItsPlace) {
  Log.KeepOpen = true;
  TBRNSchemaObjectManager* manager = Managers.OpenManager(Items, ltShared);
  EXPECT_TRUE(Holds(ltShared));
  EXPECT_FALSE(FreeForOthers(ltShared));

  manager->Close(false, true);
  EXPECT_TRUE(manager->GetOpen());
  EXPECT_FALSE(manager->GetPrepared());
  EXPECT_EQ(manager->GetUserCount(), 0);
  EXPECT_FALSE(FreeForOthers(ltShared));

  // Maintenance takes the Exclusive lock: the idle manager's own Shared
  // lock would refuse it, so it goes first.
  EXPECT_EQ(Managers.OpenManager(Items, ltExclusive), manager);
  EXPECT_TRUE(Holds(ltExclusive));
  EXPECT_FALSE(Holds(ltShared));
  EXPECT_FALSE(FreeForOthers(ltExclusive));
  // Holding the Exclusive lock the manager is no longer kept open.
  EXPECT_FALSE(manager->GetKeepOpenFlag());
  Taken();
  manager->Close(false, true);
  EXPECT_EQ(Taken(), (Calls{"DoCloseReferences", "DoUnprepare", "DoClose"}));
  EXPECT_FALSE(manager->GetOpen());
  EXPECT_EQ(Items->HeldLocks, 0);
  EXPECT_TRUE(FreeForOthers(ltExclusive));
  EXPECT_TRUE(FreeForOthers(ltShared));
}

TEST_F(ManagerTest, AnExclusiveLockOnAManagerInUseIsRefused) {
  Log.KeepOpen = true;
  Managers.OpenManager(Items, ltShared);
  EXPECT_EQ(CaughtError([&] { Managers.OpenManager(Items, ltExclusive); }).ErrorCode, 300);
  // The user it had keeps the manager and its lock.
  TBRNSchemaObjectManager* manager = Managers.GetManager(Items);
  EXPECT_EQ(manager->GetUserCount(), 1);
  EXPECT_TRUE(Holds(ltShared));
}

TEST_F(ManagerTest, AFailingOpenOrPrepareLeavesNothingBehind) {
  struct Case {
    const char* Hook;
    Calls Expected;
  };
  const Case cases[] = {
      {"DoOpen", {"DoOpen", "DoClose"}},
      {"DoPrepare", {"DoOpen", "DoPrepare", "DoUnprepare", "DoClose"}},
  };
  for (const Case& c : cases) {
    Log.FailIn = c.Hook;
    const EBRNException error = CaughtError([&] { Managers.OpenManager(Items, ltShared); });
    EXPECT_EQ(error.ErrorMessage, std::string(c.Hook) + " failed");
    EXPECT_EQ(Taken(), c.Expected) << c.Hook;
    // Released: no handle, no lock, no manager in the list.
    EXPECT_EQ(Items->ManagerHandle, 0) << c.Hook;
    EXPECT_EQ(Items->HeldLocks, 0) << c.Hook;
    EXPECT_TRUE(FreeForOthers(ltShared)) << c.Hook;
    int32_t handle = 0;
    TBRNSchemaObjectManager* next = nullptr;
    EXPECT_FALSE(Managers.NextManager(handle, next)) << c.Hook;

    // Opened directly, the manager stays registered, closed and unused.
    TBRNSchemaObjectManager* manager = Managers.GetManager(Items);
    EXPECT_THROW(manager->Open(true), EBRNException);
    EXPECT_FALSE(manager->GetOpen()) << c.Hook;
    EXPECT_FALSE(manager->GetPrepared()) << c.Hook;
    EXPECT_EQ(manager->GetUserCount(), 0) << c.Hook;
    EXPECT_EQ(manager->GetReferenceCount(), 0) << c.Hook;
    Managers.ReleaseManager(Items);
    Taken();
  }

  // An idle kept-open manager whose preparing fails closes and lets its
  // lock go.
  Log.FailIn.clear();
  Log.KeepOpen = true;
  TBRNSchemaObjectManager* manager = Managers.OpenManager(Items, ltShared);
  manager->Close(false, true);
  Log.FailIn = "DoPrepare";
  EXPECT_THROW(Managers.OpenManager(Items, ltShared), EBRNException);
  EXPECT_EQ(Items->ManagerHandle, 0);
  EXPECT_TRUE(FreeForOthers(ltShared));
}

TEST_F(ManagerTest, AFailureWhileClosingStillClosesAndUnlocks) {
  for (const char* hook : {"DoCloseReferences", "DoUnprepare", "DoClose"}) {
    Log.FailIn.clear();
    TBRNSchemaObjectManager* manager = Managers.OpenManager(Items, ltShared);
    Taken();
    Log.FailIn = hook;
    EXPECT_THROW(manager->Close(false, true), EBRNException) << hook;
    EXPECT_EQ(Taken(), (Calls{"DoCloseReferences", "DoUnprepare", "DoClose"})) << hook;
    EXPECT_FALSE(manager->GetOpen()) << hook;
    EXPECT_FALSE(manager->GetPrepared()) << hook;
    EXPECT_EQ(manager->GetUserCount(), 0) << hook;
    EXPECT_TRUE(FreeForOthers(ltShared)) << hook;
  }
}

TEST_F(ManagerTest, TheListMakesOneManagerPerObjectAndFreesItOnRelease) {
  TBRNSchemaObjectManager* items = Managers.OpenManager(Items, ltShared);
  EXPECT_NE(Items->ManagerHandle, 0);
  EXPECT_EQ(Items->ManagerHandle, items->Handle);
  EXPECT_EQ(Managers.OpenManager(Items, ltShared), items);
  EXPECT_EQ(items->GetUserCount(), 2);
  EXPECT_EQ(items->GetReferenceCount(), 2);
  TBRNSchemaObjectManager* orders = Managers.GetManager(Orders);
  EXPECT_NE(orders, items);
  EXPECT_FALSE(orders->GetOpen());

  std::vector<TBRNSchemaObjectManager*> seen;
  int32_t handle = 0;
  TBRNSchemaObjectManager* next = nullptr;
  while (Managers.NextManager(handle, next)) seen.push_back(next);
  EXPECT_EQ(seen, (std::vector<TBRNSchemaObjectManager*>{items, orders}));

  // A stale handle (another list's, or a freed manager's) makes a new one.
  Orders->ManagerHandle = items->Handle;
  TBRNSchemaObjectManager* again = Managers.GetManager(Orders);
  EXPECT_NE(again, items);
  EXPECT_EQ(Orders->ManagerHandle, again->Handle);

  Taken();
  Managers.ReleaseManager(Items);
  EXPECT_EQ(Taken(), (Calls{"DoCloseReferences", "DoUnprepare", "DoClose"}));
  EXPECT_EQ(Items->ManagerHandle, 0);
  EXPECT_TRUE(FreeForOthers(ltShared));
  Managers.ReleaseManager(Items);  // nothing left to release
  EXPECT_EQ(Taken(), Calls{});
}

TEST_F(ManagerTest, ClosingIdleManagersLeavesTheOnesInUse) {
  Log.KeepOpen = true;
  TBRNSchemaObjectManager* items = Managers.OpenManager(Items, ltShared);
  TBRNSchemaObjectManager* orders = Managers.OpenManager(Orders, ltShared);
  orders->Close(false, true);
  Taken();
  // Idle ones are closed once more, which a kept-open manager survives
  // (it is unprepared already).
  Managers.CloseIdleManagers();
  EXPECT_EQ(Taken(), Calls{});
  EXPECT_TRUE(orders->GetOpen());
  EXPECT_EQ(items->GetUserCount(), 1);

  // Closing all closes the kept-open one too, and uncounts one user of the
  // one in use (here its last).
  Managers.CloseAllManagers();
  EXPECT_EQ(Taken(), (Calls{"DoCloseReferences", "DoUnprepare", "DoClose", "DoClose"}));
  EXPECT_FALSE(items->GetOpen());
  EXPECT_FALSE(orders->GetOpen());
  EXPECT_EQ(Items->HeldLocks, 0);
  EXPECT_EQ(Orders->HeldLocks, 0);

  Managers.Clear();
  EXPECT_EQ(Items->ManagerHandle, 0);
  EXPECT_EQ(Orders->ManagerHandle, 0);
}

TEST_F(ManagerTest, CheckPrivilegeAsksTheSessionAboutTheObject) {
  TBRNSchemaObjectManager* manager = Managers.GetManager(Items);
  manager->CheckPrivilege(pkUpdate, "UPDATE");
  ASSERT_EQ(Environment.PrivilegeChecks.size(), 1u);
  EXPECT_EQ(Environment.PrivilegeChecks[0].Object, Items);
  EXPECT_EQ(Environment.PrivilegeChecks[0].Kind, pkUpdate);
  EXPECT_EQ(Environment.PrivilegeChecks[0].Statement, "UPDATE");
}

}  // namespace
}  // namespace brn::testing
