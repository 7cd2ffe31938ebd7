#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/locks/lockable.h"

namespace brn {

class TBRNFileManager;
class TBRNFileStream;

// Slots and object locks in a lock file. The file's bytes are never written,
// only locked: session slot N is the byte at N - 1, and every lockable object
// has a byte range per lock type above the slots. A shared-style lock is the
// session's own byte of the range (range start + slot - 1), an
// exclusive-style lock the whole range. The locks belong to the open file, so
// a process that dies loses them without any clean-up.
//
// Descendants supply the file name and keep the session's slot number.
// One manager is used by one thread at a time.
class TBRNLockManager {
 public:
  // The error raised when every session slot of a lock file is taken.
  static constexpr int32_t kNoFreeSlotError = 507;

  TBRNLockManager(TBRNLockable* owner, TBRNFileManager* fileManager);
  virtual ~TBRNLockManager();
  TBRNLockManager(const TBRNLockManager&) = delete;
  TBRNLockManager& operator=(const TBRNLockManager&) = delete;

  TBRNLockable* Owner;
  TBRNFileManager* FileManager;
  std::string LockFileName = "brn.lock";
  std::unique_ptr<TBRNFileStream> LockFile;
  bool Opened = false;

  virtual std::string GetLockFileName();
  // Ignored while the manager is open.
  void SetLockFileName(const std::string& name);
  // The session's slot (0 = none yet).
  virtual int32_t GetSessionSlot() = 0;
  virtual void SetSessionSlot(int32_t slot) = 0;
  virtual int32_t GetMaxSessionSlots();

  virtual void OpenLockFile();
  virtual void CloseLockFile();
  // Takes the lowest free slot; raises 507 when every slot is taken.
  virtual void AllocateSessionSlot();
  virtual void ReleaseSessionSlot();
  virtual bool LockSlot(int32_t slot);
  virtual bool UnlockSlot(int32_t slot);
  // Byte-range locks with the object's retry count and delay; timeoutMs -1
  // waits without a time limit, 0 tries once.
  virtual bool LockObjectShared(TBRNLockable* object, uint8_t lockType, int32_t timeoutMs);
  virtual bool UnlockObjectShared(TBRNLockable* object, uint8_t lockType);
  virtual bool LockObjectExclusive(TBRNLockable* object, uint8_t lockType, int32_t timeoutMs);
  virtual bool UnlockObjectExclusive(TBRNLockable* object, uint8_t lockType);

  void Open();
  void Close();
  // Closes and deletes the lock file, ignoring errors.
  void CloseAndDelete();

  // The rules of the lock types: true when a lock was taken, false when none
  // was needed; the object raises its lock error (300) when a needed lock
  // cannot be had and its unlock error (301) when one cannot be released.
  bool LockObject(TBRNLockable* object, uint8_t lockType, int32_t timeoutMs);
  void UnlockObject(TBRNLockable* object, uint8_t lockType);

 protected:
  // Locking is off for a read-only or transient owner, and for object locks
  // also on a transient or temporary object.
  bool SkipsLocking() const;
  bool SkipsObjectLocking(const TBRNLockable* object) const;

 private:
  struct HeldRange {
    int64_t Offset;
    int64_t Length;
  };

  bool lockRange(int64_t offset, int64_t length);
  bool unlockRange(int64_t offset, int64_t length);
  bool lockWithRetries(TBRNLockable* object, uint8_t lockType, int64_t offset, int64_t length,
                       int32_t timeoutMs);
  void closeFile();

  // Every range this manager holds. The lock file may be shared with other
  // managers of this process, so closing our stream does not by itself drop
  // our locks: they are released one by one.
  std::vector<HeldRange> held_;
};

}  // namespace brn
