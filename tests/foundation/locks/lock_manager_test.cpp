#include "foundation/locks/lock_manager.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "foundation/file_test_support.h"
#include "foundation/files/fault_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/test_lockable.h"
#include "foundation/test_support.h"
#include "foundation/text/environment.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::ConfigurationObject;
using testing::TestLockable;
using testing::TestLockManager;

// A forked process with its own file manager (and so its own open file):
// it runs its part, reports one integer through a pipe and then waits to be
// told to exit or to be killed.
class ChildProcess {
 public:
  explicit ChildProcess(const std::function<int32_t()>& body) {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(up[0]);
      close(down[1]);
      int32_t result = body();
      if (write(up[1], &result, sizeof result) != sizeof result) _exit(2);
      char c;
      while (read(down[0], &c, 1) < 0) {
      }
      _exit(0);
    }
    close(up[1]);
    close(down[0]);
    fromChild_ = up[0];
    toChild_ = down[1];
  }
  ~ChildProcess() {
    Finish();
    close(fromChild_);
    close(toChild_);
  }
  int32_t Result() {
    int32_t result = -1;
    if (read(fromChild_, &result, sizeof result) != sizeof result) return -1;
    return result;
  }
  void Finish() {
    if (pid_ <= 0) return;
    char c = 'x';
    (void)!write(toChild_, &c, 1);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int fromChild_ = -1, toChild_ = -1;
};

// Opens a session in a forked child with its own file manager, and so its own
// open file. The objects stay alive until the child exits (it leaves with
// _exit, so nothing is freed or reported).
TestLockManager* openInChild(const std::string& lockFile) {
  auto* environment = new TBRNEnvironment;
  auto* files = new TBRNOSFileManager(environment);
  auto* owner = new TestLockable(ConfigurationObject());
  auto* manager = new TestLockManager(owner, files);
  manager->SetLockFileName(lockFile);
  manager->Open();
  return manager;
}

class LockManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { lockFile_ = temp_ / "config.BRNLck"; }

  std::unique_ptr<TestLockManager> openManager(TBRNFileManager& files, TestLockable& owner) {
    auto manager = std::make_unique<TestLockManager>(&owner, &files);
    manager->SetLockFileName(lockFile_);
    manager->Open();
    return manager;
  }

  TBRNEnvironment environment_;
  TBRNOSFileManager files_{&environment_};
  TestLockable config_ = ConfigurationObject();
  // An object with a shared range and a one-byte transaction range.
  TestLockable table_{"table", "Orders", 20000, 4096, 30000, 1};
  testing::TempDirectory temp_;
  std::string dir_ = temp_.Path, lockFile_;
};

TEST_F(LockManagerTest, SlotsAreHandedOutLowestFreeAcrossProcesses) {
  auto first = openManager(files_, config_);
  EXPECT_EQ(first->Slot, 1);
  EXPECT_TRUE(std::filesystem::exists(lockFile_));

  auto slotInChild = [this] { return openInChild(lockFile_)->Slot; };
  {
    ChildProcess second(slotInChild);
    EXPECT_EQ(second.Result(), 2);
    // Within this process too: a second session never shares a slot.
    auto third = openManager(files_, config_);
    EXPECT_EQ(third->Slot, 3);
    first->Close();
    ChildProcess fourth(slotInChild);
    EXPECT_EQ(fourth.Result(), 1);
  }
  // Both children are gone: their slots are free again without any clean-up.
  ChildProcess fifth(slotInChild);
  EXPECT_EQ(fifth.Result(), 1);
}

TEST_F(LockManagerTest, ASlotOfADeadProcessIsFreeAfterSigkill) {
  ChildProcess holder([this] {
    TestLockManager* manager = openInChild(lockFile_);
    auto* table = new TestLockable("table", "Orders", 20000, 4096, 30000, 1);
    manager->LockObject(table, ltExclusive, 0);
    return manager->Slot;
  });
  EXPECT_EQ(holder.Result(), 1);
  auto mine = openManager(files_, config_);
  EXPECT_EQ(mine->Slot, 2);
  table_.RetryCount = 0;
  EXPECT_THROW(mine->LockObject(&table_, ltShared, 0), EBRNException);
  holder.Kill();
  EXPECT_TRUE(mine->LockObject(&table_, ltShared, 0));
  auto again = openManager(files_, config_);
  EXPECT_EQ(again->Slot, 1);
}

TEST_F(LockManagerTest, HandedOverSlotThatIsTakenFailsInsteadOfSharing) {
  auto first = openManager(files_, config_);
  TestLockManager second(&config_, &files_);
  second.SetLockFileName(lockFile_);
  second.Slot = first->Slot;
  EXPECT_EQ(CaughtError([&] { second.Open(); }).ErrorCode, TBRNLockManager::kNoFreeSlotError)
      << "opened on a slot held by another session";
  EXPECT_FALSE(second.Opened);
  EXPECT_FALSE(second.LockFile);
}

TEST_F(LockManagerTest, AllSlotsTakenRaisesTheSessionsError) {
  auto first = openManager(files_, config_);
  first->MaxSlots = 2;
  auto second = std::make_unique<TestLockManager>(&config_, &files_);
  second->MaxSlots = 2;
  second->SetLockFileName(lockFile_);
  second->Open();
  TestLockManager third(&config_, &files_);
  third.MaxSlots = 2;
  third.SetLockFileName(lockFile_);
  EBRNException e = CaughtError([&] { third.Open(); });
  EXPECT_EQ(e.ErrorCode, 507);
  EXPECT_EQ(e.ErrorMessage, "All 2 session slots in the lock file " + lockFile_ + " are in use");
}

TEST_F(LockManagerTest, SharedHoldersBlockAnExclusiveRequestWithTheLockError) {
  auto a = openManager(files_, config_);
  auto b = openManager(files_, config_);
  auto c = openManager(files_, config_);
  TestLockable tableA = table_, tableB = table_, tableC = table_;  // each session's copy
  EXPECT_TRUE(a->LockObject(&tableA, ltShared, -1));
  EXPECT_TRUE(b->LockObject(&tableB, ltShared, -1));
  EXPECT_FALSE(a->LockObject(&tableA, ltShared, -1)) << "already held: nothing needed";
  EBRNException e = CaughtError([&] { c->LockObject(&tableC, ltExclusive, -1); });
  EXPECT_EQ(e.ErrorCode, 300);
  EXPECT_EQ(e.ErrorMessage, "Cannot lock the table Orders for exclusive access");
  EXPECT_EQ(tableC.HeldLocks, 0);
  a->UnlockObject(&tableA, ltShared);
  b->UnlockObject(&tableB, ltShared);
  EXPECT_TRUE(c->LockObject(&tableC, ltExclusive, -1));
  EXPECT_EQ(tableC.HeldLocks, LockTypeBit(ltExclusive));
  // Exclusive covers read, write and transaction.
  EXPECT_FALSE(c->LockObject(&tableC, ltRead, -1));
  EXPECT_FALSE(c->LockObject(&tableC, ltTransaction, -1));
  EXPECT_EQ(tableC.TransactionLockCount, 0);
  // A shared request of the holder itself is refused while it holds exclusive.
  EXPECT_THROW(c->LockObject(&tableC, ltShared, -1), EBRNException);
}

TEST_F(LockManagerTest, TransactionLocksNestAndWriteNeedsDepthOne) {
  auto a = openManager(files_, config_);
  auto b = openManager(files_, config_);
  TestLockable tableA = table_, tableB = table_;
  EXPECT_TRUE(a->LockObject(&tableA, ltTransaction, -1));
  EXPECT_TRUE(a->LockObject(&tableA, ltWrite, -1));
  a->UnlockObject(&tableA, ltWrite);
  EXPECT_FALSE(a->LockObject(&tableA, ltTransaction, -1));
  EXPECT_EQ(tableA.TransactionLockCount, 2);
  EXPECT_FALSE(a->LockObject(&tableA, ltWrite, -1)) << "write only at nesting depth 1";
  EXPECT_EQ(tableA.HeldLocks, LockTypeBit(ltTransaction));

  EXPECT_THROW(b->LockObject(&tableB, ltTransaction, 0), EBRNException);
  EXPECT_EQ(tableB.TransactionLockCount, 0) << "the count goes back down on failure";

  a->UnlockObject(&tableA, ltTransaction);
  EXPECT_EQ(tableA.TransactionLockCount, 1);
  EXPECT_THROW(b->LockObject(&tableB, ltTransaction, 0), EBRNException) << "still held";
  a->UnlockObject(&tableA, ltTransaction);
  EXPECT_EQ(tableA.TransactionLockCount, 0);
  EXPECT_EQ(tableA.HeldLocks, 0);
  EXPECT_TRUE(b->LockObject(&tableB, ltTransaction, 0));
}

TEST_F(LockManagerTest, WriteWaitsForReadersOfOtherSessions) {
  auto reader = openManager(files_, config_);
  auto writer = openManager(files_, config_);
  TestLockable readerCopy = table_, writerCopy = table_;
  EXPECT_TRUE(reader->LockObject(&readerCopy, ltRead, -1));
  EXPECT_TRUE(writer->LockObject(&writerCopy, ltTransaction, -1));
  EXPECT_THROW(writer->LockObject(&writerCopy, ltWrite, -1), EBRNException);
  reader->UnlockObject(&readerCopy, ltRead);
  EXPECT_TRUE(writer->LockObject(&writerCopy, ltWrite, -1));
}

TEST_F(LockManagerTest, RetriesFollowCountDelayAndTimeout) {
  auto a = openManager(files_, config_);
  auto b = openManager(files_, config_);
  TestLockable tableA = table_, tableB = table_;
  ASSERT_TRUE(a->LockObject(&tableA, ltExclusive, -1));
  tableB.RetryDelay = 20;
  tableB.RetryCount = 1000;

  using clock = std::chrono::steady_clock;
  auto start = clock::now();
  EXPECT_FALSE(b->LockObjectExclusive(&tableB, ltExclusive, 0)) << "timeout 0 tries once";
  EXPECT_LT(clock::now() - start, std::chrono::milliseconds(20));

  start = clock::now();
  EXPECT_FALSE(b->LockObjectExclusive(&tableB, ltExclusive, 60));
  auto waited = clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(60));
  EXPECT_LT(waited, std::chrono::seconds(5));

  tableB.RetryCount = 2;
  start = clock::now();
  EXPECT_FALSE(b->LockObjectExclusive(&tableB, ltExclusive, -1)) << "three attempts, two sleeps";
  waited = clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(40));
  EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST_F(LockManagerTest, ReadOnlyOrUnstoredObjectsTakeNoLocks) {
  auto a = openManager(files_, config_);
  auto b = openManager(files_, config_);
  TestLockable transient = table_, temporary = table_, readOnly = table_, other = table_;
  transient.Transient = true;
  temporary.Temporary = true;
  readOnly.ReadOnly = true;
  EXPECT_TRUE(a->LockObject(&transient, ltExclusive, 0));
  EXPECT_TRUE(a->LockObject(&temporary, ltExclusive, 0));
  EXPECT_EQ(transient.HeldLocks, LockTypeBit(ltExclusive));
  EXPECT_FALSE(a->LockObject(&readOnly, ltRead, 0));
  EXPECT_FALSE(a->LockObject(&readOnly, ltTransaction, 0));
  // None of that touched the file.
  EXPECT_TRUE(b->LockObject(&other, ltExclusive, 0));

  // A read-only owner switches every lock off.
  TestLockable readOnlyConfig = config_;
  readOnlyConfig.ReadOnly = true;
  auto c = openManager(files_, readOnlyConfig);
  TestLockable table = table_;
  EXPECT_TRUE(c->LockObject(&table, ltShared, 0));
  EXPECT_EQ(table.HeldLocks, LockTypeBit(ltShared));
}

TEST_F(LockManagerTest, LockFileThatCannotBeCreatedMakesTheOwnerReadOnly) {
  TestLockable owner = config_;
  TestLockManager manager(&owner, &files_);
  manager.SetLockFileName(dir_ + "/missing/folder/config.BRNLck");
  manager.Open();
  EXPECT_TRUE(owner.ReadOnly);
  EXPECT_TRUE(manager.Opened);
  TestLockable table = table_;
  EXPECT_TRUE(manager.LockObject(&table, ltShared, 0));
  EXPECT_EQ(table.HeldLocks, LockTypeBit(ltShared));
}

TEST_F(LockManagerTest, ReadOnlyLockFileMakesTheOwnerReadOnly) {
  { auto first = openManager(files_, config_); }
  ASSERT_EQ(chmod(lockFile_.c_str(), 0444), 0);
  TestLockable owner = config_;
  auto manager = openManager(files_, owner);
  EXPECT_TRUE(owner.ReadOnly);
}

TEST_F(LockManagerTest, ClosingASessionReleasesItsLocksButNotItsNeighbours) {
  auto a = openManager(files_, config_);
  auto b = openManager(files_, config_);
  TestLockable tableA = table_, tableB = table_;
  ASSERT_TRUE(a->LockObject(&tableA, ltShared, -1));
  ASSERT_TRUE(b->LockObject(&tableB, ltShared, -1));
  // The file stays open in this process for b; a's locks must still go.
  a.reset();
  TestLockable probe = table_;
  auto c = openManager(files_, config_);
  EXPECT_EQ(c->Slot, 1);
  EXPECT_THROW(c->LockObject(&probe, ltExclusive, 0), EBRNException) << "b still shares it";
  b->UnlockObject(&tableB, ltShared);
  EXPECT_TRUE(c->LockObject(&probe, ltExclusive, 0));
}

TEST_F(LockManagerTest, CloseAndDeleteRemovesTheFile) {
  auto a = openManager(files_, config_);
  a->CloseAndDelete();
  EXPECT_FALSE(std::filesystem::exists(lockFile_));
  EXPECT_FALSE(a->Opened);
}

// True when the manager's open lock file is the file its name leads to.
bool holdsTheNamedFile(const TBRNLockManager& manager, const std::string& name) {
  const auto* file = dynamic_cast<const TBRNOSFile*>(manager.LockFile->File);
  struct stat held, named;
  if (file == nullptr || fstat(file->Handle, &held) != 0) return false;
  if (stat(name.c_str(), &named) != 0) return false;
  return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Two processes open sessions on one configuration while each closes its
// last session and deletes the lock file. Opening between the other's open
// and delete must never end with a session holding a deleted file: it would
// take slot 1 of a file nobody else can see, beside the slot 1 of the next
// file under the name.
TEST_F(LockManagerTest, OpeningRacingADeleteAlwaysHoldsTheNamedFile) {
  auto race = [this]() -> int32_t {
    TBRNEnvironment environment;
    TBRNOSFileManager files(&environment);
    int32_t wrong = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < end) {
      TestLockable owner = ConfigurationObject();
      TestLockManager manager(&owner, &files);
      manager.SetLockFileName(lockFile_);
      try {
        manager.Open();
      } catch (const EBRNException&) {
        ++wrong;
        continue;
      }
      if (owner.ReadOnly || !holdsTheNamedFile(manager, lockFile_)) ++wrong;
      manager.CloseAndDelete();
    }
    return wrong;
  };
  ChildProcess other(race);
  EXPECT_EQ(race(), 0) << "sessions of this process";
  EXPECT_EQ(other.Result(), 0) << "sessions of the other process";
}

// Lock files are only ever locked, never written: with every write, flush
// and size change failing, sessions still get their slots and locks, and
// closing the last one deletes the file.
TEST(LockManagerFaultTest, DiskFaultsNeverReachALockFile) {
  TBRNFaultFileManager files(nullptr);
  files.FailWrite(1, ENOSPC, true);
  files.FailFlush(1, EIO, true);
  files.Arm({TBRNFaultAction::FailSetSize, 1, true, EFBIG, 0, ""});
  const std::string name = "/memory/config.BRNLck";
  TestLockable configA = ConfigurationObject(), configB = ConfigurationObject();
  TestLockable tableA("table", "Orders", 20000, 4096, 30000, 1), tableB = tableA;
  TestLockManager a(&configA, &files), b(&configB, &files);
  a.SetLockFileName(name);
  b.SetLockFileName(name);
  a.Open();
  b.Open();
  EXPECT_EQ(a.Slot, 1);
  EXPECT_EQ(b.Slot, 2);
  EXPECT_FALSE(configA.ReadOnly);
  EXPECT_TRUE(a.LockObject(&tableA, ltShared, 0));
  tableB.RetryCount = 0;
  EXPECT_EQ(CaughtError([&] { b.LockObject(&tableB, ltExclusive, 0); }).ErrorCode, 300);
  a.UnlockObject(&tableA, ltShared);
  EXPECT_TRUE(b.LockObject(&tableB, ltExclusive, 0));
  a.CloseAndDelete();
  EXPECT_TRUE(files.FileExists(name)) << "still open for b";
  b.CloseAndDelete();
  EXPECT_FALSE(files.FileExists(name));
  EXPECT_EQ(files.InjectedCount(), 0);
}

}  // namespace
}  // namespace brn
