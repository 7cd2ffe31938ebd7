#include "metadata/core/lockable_config_object.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/files/file_manager.h"
#include "foundation/files/memory_file_manager.h"
#include "foundation/locks/lock_manager.h"
#include "foundation/text/environment.h"
#include "metadata/object_test_support.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::RecordBuilder;
using testing::StreamBytes;
using testing::TestConfiguration;
using testing::TestOwner;
using testing::TestRoot;
using testing::TestUser;

// A lock manager that keeps its own slot number.
class SlotLockManager : public TBRNLockManager {
 public:
  using TBRNLockManager::TBRNLockManager;
  int32_t Slot = 0;
  int32_t GetSessionSlot() override { return Slot; }
  void SetSessionSlot(int32_t slot) override { Slot = slot; }
};

// Two sessions on one configuration lock file, and a probe stream that
// tests single bytes of the file.
class ConfigLockFile : public ::testing::Test {
 protected:
  void SetUp() override {
    first_ = openSession();
    second_ = openSession();
    probe_ = files_.OpenFile(first_->GetLockFileName(), false, false, true);
  }
  std::unique_ptr<SlotLockManager> openSession() {
    auto manager = std::make_unique<SlotLockManager>(&config_, &files_);
    manager->SetLockFileName("brn.lock");
    manager->Open();
    return manager;
  }
  // True when another user could lock the byte now.
  bool ByteFree(int64_t offset) {
    if (!probe_->SetRangeLock(true, offset, 1)) return false;
    probe_->SetRangeLock(false, offset, 1);
    return true;
  }

  TBRNEnvironment environment_;
  TBRNMemoryFileManager files_{&environment_};
  TestRoot root_;
  TestConfiguration config_{&root_};
  std::unique_ptr<SlotLockManager> first_, second_;
  std::unique_ptr<TBRNFileStream> probe_;
};

TEST_F(ConfigLockFile, UserWithLockNumberOneLocksBytes12290To16385) {
  TestUser bob(&root_);
  bob.Name = "Bob";
  bob.LockNumber = 1;
  EXPECT_TRUE(first_->LockObject(&bob, ltExclusive, 0));
  EXPECT_EQ(bob.HeldLocks, 2);
  EXPECT_TRUE(ByteFree(12289));
  EXPECT_FALSE(ByteFree(12290));
  EXPECT_FALSE(ByteFree(16385));
  EXPECT_TRUE(ByteFree(16386));

  // Another session's copy of the same user cannot have it.
  TestUser bobElsewhere(&root_);
  bobElsewhere.Name = "Bob";
  EBRNException e = CaughtError([&] { second_->LockObject(&bobElsewhere, ltShared, 0); });
  EXPECT_EQ(e.ErrorCode, 300);
  EXPECT_EQ(e.ErrorMessage, "Cannot lock the user Bob for shared access");
  EXPECT_EQ(bobElsewhere.HeldLocks, 0);

  first_->UnlockObject(&bob, ltExclusive);
  EXPECT_EQ(bob.HeldLocks, 0);
  EXPECT_TRUE(ByteFree(12290));
  EXPECT_TRUE(ByteFree(16385));

  // A shared lock takes the session's own byte of the range.
  EXPECT_TRUE(second_->LockObject(&bobElsewhere, ltShared, 0));
  EXPECT_FALSE(ByteFree(12290 + second_->Slot - 1));
  EXPECT_TRUE(ByteFree(12290 + first_->Slot - 1));
  second_->UnlockObject(&bobElsewhere, ltShared);
}

TEST_F(ConfigLockFile, UsersTakeNoReadBytesAndTheRootAndLogRangesDoNotOverlap) {
  TestUser bob(&root_);
  EXPECT_EQ(bob.GetLockOffset(ltRead), 0);
  EXPECT_EQ(bob.GetLockLength(ltRead), 0);
  first_->LockObject(&bob, ltRead, 0);
  for (int64_t offset : {int64_t(12290), int64_t(12290 + first_->Slot - 1)}) {
    EXPECT_TRUE(ByteFree(offset));
  }
  first_->UnlockObject(&bob, ltRead);

  TBRNLog log(&root_);
  EXPECT_EQ(config_.GetLockOffset(ltRead) + config_.GetLockLength(ltRead) - 1, 8192);
  EXPECT_EQ(log.GetLockOffset(ltRead), 8194);
  EXPECT_EQ(log.GetLockOffset(ltTransaction), 8193);
  EXPECT_EQ(log.GetLockLength(ltTransaction), 1);
  EXPECT_EQ(log.GetLockLength(ltShared), 0);

  // The log's write lock covers its whole range and no byte of the root's.
  TBRNLog otherLog(&root_);
  otherLog.TransactionLockCount = 1;
  EXPECT_TRUE(first_->LockObject(&otherLog, ltWrite, 0));
  EXPECT_TRUE(ByteFree(8192));
  EXPECT_TRUE(ByteFree(8193));
  EXPECT_FALSE(ByteFree(8194));
  EXPECT_FALSE(ByteFree(8194 + 4095));
  EXPECT_TRUE(ByteFree(8194 + 4096));
  first_->UnlockObject(&otherLog, ltWrite);
}

TEST(LockableObject, RangesOfNumberedObjects) {
  struct Case {
    int32_t base;
    int32_t lockNumber;
    int32_t offset;
  };
  std::vector<Case> cases = {
      {kUserLockBase, 1, 12290},
      {kUserLockBase, 4096, 4096 * 4096 + 8194},
      {kJobLockBase, 2, 2 * 4096 + 16785410},
      {kStoreLockBase, 1, 4096 + 33562626},
      {kModuleLockBase, 3, 3 * 4096 + 50339842},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberedLockOffset(c.base, c.lockNumber), c.offset);
  EXPECT_THROW(NumberedLockOffset(kUserLockBase, 0), std::out_of_range);
  EXPECT_THROW(NumberedLockOffset(kModuleLockBase, 600000), std::out_of_range);
  EXPECT_EQ(kDatabaseTransactionLockOffset, 16789505);
  EXPECT_EQ(kDatabaseReadLockOffset, 16793601);
  EXPECT_EQ(kDatabaseReadLockLength, 16777216);
}

TEST(LockableObject, RetryBoundsByLockType) {
  TBRNLockableConfigObject object(nullptr);
  std::vector<std::pair<int32_t, int32_t>> expected = {{0, 0},     {256, 3},   {256, 3}, {32768, 3},
                                                       {32768, 3}, {32768, 3}, {0, 0}};
  for (uint8_t type = 0; type <= 6; ++type) {
    EXPECT_EQ(object.GetLockRetryCount(type), expected[type].first) << int(type);
    EXPECT_EQ(object.GetLockRetryDelay(type), expected[type].second) << int(type);
    EXPECT_EQ(object.GetLockOffset(type), 0);
  }
}

TEST(LockableObject, HeldLocksAndTransactionCount) {
  TBRNLockableConfigObject object(nullptr);
  object.MarkLocked(ltWrite);
  object.MarkLocked(ltTransaction);
  object.MarkLocked(9);
  object.MarkUnlocked(ltWrite);
  EXPECT_EQ(object.HeldLocks, 16);
  object.DecTransactionLockCount();
  EXPECT_EQ(object.TransactionLockCount, 0);
  object.IncTransactionLockCount();
  object.IncTransactionLockCount();
  object.DecTransactionLockCount();
  EXPECT_EQ(object.TransactionLockCount, 1);
}

TEST(LockableObject, LockErrorMessages) {
  TestRoot root;
  TestConfiguration config(&root);
  EBRNException e = CaughtError([&] { config.RaiseCannotLock(ltTransaction); });
  EXPECT_EQ(e.ErrorCode, 300);
  EXPECT_EQ(e.ErrorMessage, "Cannot lock the configuration Config for transaction access");

  TestOwner database(&root, "database", "Sales");
  TestUser user(&root);
  user.Name = "Bob";
  user.Owner = &database;
  e = CaughtError([&] { user.RaiseCannotUnlock(ltRead); });
  EXPECT_EQ(e.ErrorCode, 301);
  EXPECT_EQ(e.ErrorMessage, "Cannot unlock the user Bob in the database Sales for read access");
}

// Records of the format versions before 2.04 carry no Attributes field.
TEST(LockableObject, AttributesAreReadFromFormat204On) {
  struct Case {
    int64_t version;
    bool hasAttributes;
  };
  std::vector<Case> cases = {{10000, false}, {10200, false}, {10600, false}, {10700, false},
                             {20000, false}, {20300, false}, {20400, true},  {20500, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    TestRoot root;
    root.Version = c.version;
    RecordBuilder record;
    record.Int(9).Str("Bob").Str("").Bool(false).Bool(true);
    if (c.hasAttributes) record.Str("Dept=7");
    record.Int(0x5EED);  // what follows the record
    TBRNMemoryStream stream;
    record.Into(stream);

    TestUser user(&root);
    user.Attributes = "stale";
    user.LoadFromStream(stream);
    EXPECT_EQ(user.ID, 9);
    EXPECT_TRUE(user.ReadOnly);
    EXPECT_EQ(user.Attributes, c.hasAttributes ? "Dept=7" : "");
    EXPECT_EQ(stream.ReadInteger(), 0x5EED);
  }
}

TEST(LockableObject, AttributesRoundTripInFullModeOnly) {
  TestRoot root;
  TestUser user(&root);
  user.ID = 4;
  user.Name = "Ann";
  user.Attributes = "x";
  TBRNMemoryStream full, structure;
  user.SaveToStream(full, false);
  user.SaveToStream(structure, true);
  EXPECT_EQ(StreamBytes(full),
            RecordBuilder().Int(4).Str("Ann").Str("").Bool(false).Bool(false).Str("x").Bytes());
  EXPECT_EQ(StreamBytes(structure), RecordBuilder().Str("Ann").Bool(false).Bytes());

  TestUser copy(&root);
  full.SetPosition(0);
  copy.LoadFromStream(full);
  EXPECT_EQ(copy.Attributes, "x");
  EXPECT_TRUE(copy.IsEqual(&user, true));
  copy.Attributes = "X";
  EXPECT_TRUE(copy.IsEqual(&user, true));
  copy.Attributes = "y";
  EXPECT_FALSE(copy.IsEqual(&user, true));
  copy.Assign(&user, false);
  EXPECT_EQ(copy.Attributes, "x");

  // Without a root the version is unknown: the field is read, as written.
  TestUser loose(nullptr);
  full.SetPosition(0);
  loose.LoadFromStream(full);
  EXPECT_EQ(loose.Attributes, "x");

  // A root still at 2.03 writes the older layout and reads it back.
  TestRoot oldRoot;
  oldRoot.Version = 20300;
  TestUser oldUser(&oldRoot), oldCopy(&oldRoot);
  oldUser.Name = "Old";
  oldUser.Attributes = "lost";
  TBRNMemoryStream oldStream;
  oldUser.SaveToStream(oldStream, false);
  oldStream.WriteInteger(0x5EED);
  EXPECT_EQ(oldStream.GetSize(), 4 + 7 + 4 + 2 + 4);
  oldStream.SetPosition(0);
  oldCopy.LoadFromStream(oldStream);
  EXPECT_EQ(oldCopy.Name, "Old");
  EXPECT_EQ(oldStream.ReadInteger(), 0x5EED);
}

TEST(LockableObject, SetAttributesMarksOnlyAChange) {
  TestRoot root;
  TestOwner owner(&root, "configuration", "Config");
  TestUser user(&root);
  user.Owner = &owner;
  user.SetAttributes("");
  EXPECT_FALSE(root.Modified);
  user.SetAttributes("a");
  EXPECT_TRUE(root.Modified);
}

}  // namespace
}  // namespace brn
