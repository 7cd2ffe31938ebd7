#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/core/bitmap.h"

namespace brn {

// An engine object that clients refer to by a small number. Handle is 0 while
// the object is not registered, else its number 1..capacity.
class TBRNHandleObject {
 public:
  TBRNHandleObject() = default;
  virtual ~TBRNHandleObject() = default;
  TBRNHandleObject(const TBRNHandleObject&) = delete;
  TBRNHandleObject& operator=(const TBRNHandleObject&) = delete;

  int32_t Handle = 0;
};

// A table of handle objects that hands out the lowest free handle from 1 up
// to a fixed capacity. It can keep one exclusive lock counter per handle. The
// table has no lock of its own: its owner serialises registration; only the
// per-handle locks may be taken from several threads at once.
//
// The table owns the objects registered in it (Clear and the destructor free
// them) and an object has one entry in one table: adding an object that
// carries a handle, storing a registered object under a second handle, or
// attaching, detaching or removing through a handle that holds another
// object is a misuse and raises std::logic_error, the table unchanged.
class TBRNHandleObjects {
 public:
  // Capacity at least 16 (the arrays grow by a sixteenth of it).
  TBRNHandleObjects(int32_t Capacity, bool WithLocks);
  virtual ~TBRNHandleObjects();
  TBRNHandleObjects(const TBRNHandleObjects&) = delete;
  TBRNHandleObjects& operator=(const TBRNHandleObjects&) = delete;

  void EnsureCapacity(int32_t N);
  void ExtendCount(int32_t N);
  // Stores Obj under Handle (0..capacity) without touching UsedHandles; with
  // FreeOld the object it replaces is freed. Obj nullptr clears the entry.
  void PutObject(int32_t Handle, TBRNHandleObject* Obj, bool FreeOld);
  bool IsValidHandle(int32_t H) const { return H >= 1 && H <= UsedHandles.Size; }
  // Registers Obj (not nullptr, Handle 0: registered nowhere) under the
  // lowest free handle and sets its Handle; the table takes it over. With Lock
  // (on a table with locks) also locks the new handle.
  void AddObject(TBRNHandleObject* Obj, bool Lock);
  // Registers Obj again under the Handle it carries (after DetachObject),
  // unless another object has been given that handle meanwhile.
  void AttachObject(TBRNHandleObject* Obj);
  // Unregisters Obj but leaves its Handle for AttachObject.
  void DetachObject(TBRNHandleObject* Obj);
  // Unregisters Obj (its Handle becomes 0) without freeing it; with Unlock
  // also releases its handle's lock. Returns whether its handle was in use.
  bool RemoveObject(TBRNHandleObject* Obj, bool Unlock);
  bool IsHandleUsed(int32_t H) const;
  TBRNHandleObject* FindObject(int32_t H) const;
  // The next handle in use after H with its object; false at the end.
  bool NextObject(int32_t& H, TBRNHandleObject*& Obj) const;
  bool TryLockHandle(TBRNHandleObject* Obj, uint32_t Tries, int32_t WaitMs);
  bool UnlockHandle(TBRNHandleObject* Obj);
  // Frees every registered object, lowest handle first.
  void Clear();

  int32_t Capacity() const { return UsedHandles.Size; }

  TBRNBitmap UsedHandles;
  bool WithLocks = false;
  bool Clearing = false;
  std::vector<TBRNHandleObject*> Objects;
  // 0 free, -1 locked; only with WithLocks.
  std::unique_ptr<std::atomic<int32_t>[]> LockCounters;
  int32_t Count = 0;
  int32_t GrowthStep = 0;
  int32_t AllocatedLength = 0;

 private:
  // Raises unless Obj's handle, which is in use, holds Obj.
  void CheckEntry(const TBRNHandleObject* Obj) const;
};

}  // namespace brn
