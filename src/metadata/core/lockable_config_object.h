#pragma once

#include <cstdint>
#include <string>

#include "foundation/locks/lockable.h"
#include "metadata/core/config_object.h"

namespace brn {

// Lock ranges in the configuration's lock file (bytes 0 to 4095 are the
// session slots) and in a database's lock file. A range of 4096 bytes holds
// one byte per session slot.
inline constexpr int32_t kLockRangeLength = 4096;
inline constexpr int32_t kConfigTransactionLockOffset = 4096;
inline constexpr int32_t kConfigTransactionLockLength = 1;
inline constexpr int32_t kConfigReadLockOffset = 4097;
inline constexpr int32_t kLogTransactionLockOffset = 8193;
inline constexpr int32_t kLogTransactionLockLength = 1;
inline constexpr int32_t kLogReadLockOffset = 8194;
// Shared and Exclusive ranges of numbered objects: base + LockNumber x 4096.
inline constexpr int32_t kUserLockBase = 0x2002;
inline constexpr int32_t kJobLockBase = 0x1002002;
inline constexpr int32_t kStoreLockBase = 0x2002002;
inline constexpr int32_t kModuleLockBase = 0x3002002;
// A database's ranges in its own lock file.
inline constexpr int32_t kDatabaseSharedLockOffset = 4096;
inline constexpr int32_t kDatabaseTransactionLockOffset = 0x1003001;
inline constexpr int32_t kDatabaseReadLockOffset = 0x1004001;
inline constexpr int32_t kDatabaseReadLockLength = 0x1000000;

// The lock number's range: base + lockNumber x 4096. Throws
// std::out_of_range for a lock number below 1 or one whose range would not
// fit in the lock file's 31-bit offsets (callers that read lock numbers from
// a stream check them first).
int32_t NumberedLockOffset(int32_t base, int32_t lockNumber);

// A metadata object that sessions and processes lock through byte ranges of
// a lock file. It implements the foundation's lockable interface, which the
// lock manager and the log manager call: the manager asks for the ranges and
// retry bounds, records what it took with MarkLocked / MarkUnlocked and
// raises through RaiseCannotLock / RaiseCannotUnlock.
//
// HeldLocks and TransactionLockCount belong to the session's own copy of the
// object; the lock file is the only shared state.
//
// Stored record: after the base part, a class with HasAttributes appends
// Attributes (int32 length and bytes) in the full mode only, from format 2.04
// on (and when the version is unknown, i.e. without a root). Written and read
// under the same gate.
class TBRNLockableConfigObject : public TBRNConfigObject, public TBRNLockable {
 public:
  explicit TBRNLockableConfigObject(TBRNConfigRoot* config);

  std::string Attributes;
  uint8_t HeldLocks = 0;             // bits 1 Shared, 2 Exclusive, 4 Read, 8 Write, 16 Transaction
  int32_t TransactionLockCount = 0;  // never below 0

  virtual bool HasAttributes() const;
  void SetAttributes(const std::string& value);

  // The lockable interface. The base answers no range for any type.
  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;
  // 256 for Shared and Exclusive, 32768 for Read, Write and Transaction.
  int32_t GetLockRetryCount(uint8_t lockType) const override;
  // 3 ms for the five types.
  int32_t GetLockRetryDelay(uint8_t lockType) const override;
  uint8_t GetHeldLocks() const override { return HeldLocks; }
  void MarkLocked(uint8_t lockType) override;
  void MarkUnlocked(uint8_t lockType) override;
  int32_t GetTransactionLockCount() const override { return TransactionLockCount; }
  void IncTransactionLockCount() override;
  void DecTransactionLockCount() override;
  // 300 "Cannot lock the %s %s[ in the %s %s] for %s access".
  [[noreturn]] void RaiseCannotLock(uint8_t lockType) override;
  // 301 "Cannot unlock the %s %s[ in the %s %s] for %s access".
  [[noreturn]] void RaiseCannotUnlock(uint8_t lockType) override;
  bool GetReadOnly() const override { return ReadOnly; }
  void SetReadOnly(bool value) override;
  bool GetTransient() const override { return Transient; }
  bool GetTemporary() const override { return Temporary; }
  std::string GetObjectTypeName() const override;
  std::string GetName() const override;

  // Overrides of the object base.
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  int64_t GetMemorySize() const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;

 private:
  bool storesAttributes() const;
};

// Stands for the log file in the configuration's lock file; no other state.
class TBRNLog : public TBRNLockableConfigObject {
 public:
  using TBRNLockableConfigObject::TBRNLockableConfigObject;

  std::string GetObjectTypeName() const override;
  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;
};

}  // namespace brn
