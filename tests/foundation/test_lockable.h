#pragma once

#include <string>

#include "foundation/text/exception.h"
#include "foundation/locks/lock_manager.h"
#include "foundation/text/string_helpers.h"

namespace brn::testing {

// A lockable object with the lock geometry chosen by the test: one range for
// the shared-style types and one for the exclusive-style types.
class TestLockable : public TBRNLockable {
 public:
  TestLockable(std::string kind, std::string name, int32_t sharedOffset, int32_t sharedLength,
               int32_t transactionOffset, int32_t transactionLength)
      : kind_(std::move(kind)),
        name_(std::move(name)),
        sharedOffset_(sharedOffset),
        sharedLength_(sharedLength),
        transactionOffset_(transactionOffset),
        transactionLength_(transactionLength) {}

  bool ReadOnly = false;
  bool Transient = false;
  bool Temporary = false;
  uint8_t HeldLocks = 0;
  int32_t TransactionLockCount = 0;
  int32_t RetryCount = 3;
  int32_t RetryDelay = 1;

  bool GetReadOnly() const override { return ReadOnly; }
  void SetReadOnly(bool value) override { ReadOnly = value; }
  bool GetTransient() const override { return Transient; }
  bool GetTemporary() const override { return Temporary; }
  int32_t GetLockOffset(uint8_t type) const override {
    return type == ltTransaction ? transactionOffset_ : type >= ltShared ? sharedOffset_ : 0;
  }
  int32_t GetLockLength(uint8_t type) const override {
    return type == ltTransaction ? transactionLength_ : type >= ltShared ? sharedLength_ : 0;
  }
  int32_t GetLockRetryCount(uint8_t type) const override {
    return type >= ltShared && type <= ltTransaction ? RetryCount : 0;
  }
  int32_t GetLockRetryDelay(uint8_t type) const override {
    return type >= ltShared && type <= ltTransaction ? RetryDelay : 0;
  }
  uint8_t GetHeldLocks() const override { return HeldLocks; }
  void MarkLocked(uint8_t type) override { HeldLocks |= LockTypeBit(type); }
  void MarkUnlocked(uint8_t type) override { HeldLocks &= uint8_t(~LockTypeBit(type)); }
  int32_t GetTransactionLockCount() const override { return TransactionLockCount; }
  void IncTransactionLockCount() override { ++TransactionLockCount; }
  void DecTransactionLockCount() override {
    if (TransactionLockCount > 0) --TransactionLockCount;
  }
  [[noreturn]] void RaiseCannotLock(uint8_t type) override {
    throw EBRNException(
        300, FormatText("Cannot lock the %s %s for %s access", {kind_, name_, LockTypeName(type)}));
  }
  [[noreturn]] void RaiseCannotUnlock(uint8_t type) override {
    throw EBRNException(301, FormatText("Cannot unlock the %s %s for %s access",
                                        {kind_, name_, LockTypeName(type)}));
  }
  std::string GetObjectTypeName() const override { return kind_; }
  std::string GetName() const override { return name_; }

 private:
  std::string kind_, name_;
  int32_t sharedOffset_, sharedLength_, transactionOffset_, transactionLength_;
};

// The configuration object: its lock file holds the session slots below
// 4096, a one-byte transaction range at 4096 and its shared range above that.
inline TestLockable ConfigurationObject() {
  return TestLockable("configuration", "Config", 4097, 4096, 4096, 1);
}

// A lock manager that keeps its slot number itself.
class TestLockManager : public TBRNLockManager {
 public:
  using TBRNLockManager::TBRNLockManager;
  int32_t Slot = 0;
  int32_t MaxSlots = 4096;
  int32_t GetSessionSlot() override { return Slot; }
  void SetSessionSlot(int32_t slot) override { Slot = slot; }
  int32_t GetMaxSessionSlots() override { return MaxSlots; }
};

}  // namespace brn::testing
