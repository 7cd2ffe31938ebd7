#pragma once

#include <cstdint>
#include <string>

namespace brn {

// Lock types taken in lock files.
enum TBRNLockType : uint8_t {
  ltNone = 0,
  ltShared = 1,
  ltExclusive = 2,
  ltRead = 3,
  ltWrite = 4,
  ltTransaction = 5,
};

// "none", "shared", "exclusive", "read", "write", "transaction"; empty for
// any other value.
const char* LockTypeName(uint8_t lockType);

// The bit a held lock type sets in an object's held-lock byte (0 for none).
inline uint8_t LockTypeBit(uint8_t lockType) {
  return lockType >= ltShared && lockType <= ltTransaction ? uint8_t(1u << (lockType - 1)) : 0;
}

// What the lock and log managers need of a lockable metadata object (the
// configuration, a database catalog, the log, users, jobs...). The metadata
// object model implements it; the foundation only calls it.
class TBRNLockable {
 public:
  virtual ~TBRNLockable() = default;

  // Flags: a read-only object takes no read, write or transaction locks; a
  // transient or temporary object takes no locks at all.
  virtual bool GetReadOnly() const = 0;
  virtual void SetReadOnly(bool value) = 0;
  virtual bool GetTransient() const = 0;
  virtual bool GetTemporary() const = 0;

  // Where the object's range for a lock type lies in its lock file (length 0:
  // the type does not apply), and how often and how long to retry.
  virtual int32_t GetLockOffset(uint8_t lockType) const = 0;
  virtual int32_t GetLockLength(uint8_t lockType) const = 0;
  virtual int32_t GetLockRetryCount(uint8_t lockType) const = 0;
  virtual int32_t GetLockRetryDelay(uint8_t lockType) const = 0;

  // The held-lock bits (LockTypeBit) and the nesting count of transaction locks.
  virtual uint8_t GetHeldLocks() const = 0;
  virtual void MarkLocked(uint8_t lockType) = 0;
  virtual void MarkUnlocked(uint8_t lockType) = 0;
  virtual int32_t GetTransactionLockCount() const = 0;
  virtual void IncTransactionLockCount() = 0;
  virtual void DecTransactionLockCount() = 0;

  // Raise the object's lock errors (300 and 301).
  [[noreturn]] virtual void RaiseCannotLock(uint8_t lockType) = 0;
  [[noreturn]] virtual void RaiseCannotUnlock(uint8_t lockType) = 0;

  // The kind word and name used in messages ("log", "configuration"...).
  virtual std::string GetObjectTypeName() const = 0;
  virtual std::string GetName() const = 0;
};

}  // namespace brn
