#include "foundation/runtime/handle_objects.h"

#include <stdexcept>

#include "foundation/core/numeric_helpers.h"
#include "foundation/runtime/interlocked.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

// Out of line, so that the checks leave the common paths lean.
[[noreturn, gnu::noinline, gnu::cold]] void RaiseMisuse(const char* prefix, int32_t handle,
                                                        const char* suffix) {
  throw std::logic_error(prefix + IntegerToString(handle) + suffix);
}

}  // namespace

TBRNHandleObjects::TBRNHandleObjects(int32_t Capacity, bool WithLocks) : WithLocks(WithLocks) {
  if (Capacity < 16) throw std::invalid_argument("Handle objects container capacity below 16");
  UsedHandles.SetSize(Capacity);
  GrowthStep = Capacity / 16;
  // The lock counters are made once for every possible handle: other threads
  // lock and unlock handles while the owner registers objects, so the
  // counters must never move when the object array grows.
  if (WithLocks) LockCounters = std::make_unique<std::atomic<int32_t>[]>(size_t(Capacity) + 1);
}

TBRNHandleObjects::~TBRNHandleObjects() {
  Clear();
}

void TBRNHandleObjects::EnsureCapacity(int32_t N) {
  if (N <= AllocatedLength) return;
  int32_t length = RoundUpToMultiple(N, GrowthStep);
  Objects.resize(size_t(length), nullptr);
  AllocatedLength = length;
}

void TBRNHandleObjects::ExtendCount(int32_t N) {
  if (N <= Count) return;
  EnsureCapacity(N);
  Count = N;
}

void TBRNHandleObjects::PutObject(int32_t Handle, TBRNHandleObject* Obj, bool FreeOld) {
  if (Handle < 0 || Handle > UsedHandles.Size) {
    throw std::out_of_range("Handle out of range: " + IntegerToString(Handle));
  }
  if (Obj != nullptr && Obj->Handle != Handle && FindObject(Obj->Handle) == Obj)
    RaiseMisuse("Handle object already registered under handle ", Obj->Handle, "");
  if (Handle < Count && FreeOld && Objects[size_t(Handle)] != Obj) {
    // Cleared before the old object's destructor runs, which may look here.
    DisposeAndNil(Objects[size_t(Handle)]);
  }
  if (Obj != nullptr) {
    ExtendCount(Handle + 1);
    Objects[size_t(Handle)] = Obj;
  } else if (Handle < Count) {
    Objects[size_t(Handle)] = nullptr;
  }
}

void TBRNHandleObjects::AddObject(TBRNHandleObject* Obj, bool Lock) {
  if (Obj == nullptr) throw std::invalid_argument("No handle object to add");
  if (Obj->Handle != 0) RaiseMisuse("Handle object already carries handle ", Obj->Handle, "");
  int32_t handle = 0;
  if (!UsedHandles.FindNextClear(handle)) {
    throw std::runtime_error(FormatText("Handle objects container capacity (%s) exceeded",
                                        {IntegerToString(UsedHandles.Size)}));
  }
  // A stale object left in the entry goes before the handle is marked, so
  // that its destructor, removing itself, finds its handle free.
  if (handle < Count) PutObject(handle, nullptr, true);
  UsedHandles.SetBit(handle);
  PutObject(handle, Obj, false);
  Obj->Handle = handle;
  if (Lock && WithLocks && !TryLockHandle(Obj, 1, 0)) {
    throw std::runtime_error(
        FormatText("Cannot lock new handle object (%s)", {IntegerToString(handle)}));
  }
}

void TBRNHandleObjects::AttachObject(TBRNHandleObject* Obj) {
  if (!IsValidHandle(Obj->Handle)) return;
  if (IsHandleUsed(Obj->Handle)) CheckEntry(Obj);
  UsedHandles.SetBit(Obj->Handle);
  PutObject(Obj->Handle, Obj, false);
}

void TBRNHandleObjects::DetachObject(TBRNHandleObject* Obj) {
  if (!IsHandleUsed(Obj->Handle)) return;
  CheckEntry(Obj);
  UsedHandles.ClearBit(Obj->Handle);
  PutObject(Obj->Handle, nullptr, false);
}

bool TBRNHandleObjects::RemoveObject(TBRNHandleObject* Obj, bool Unlock) {
  int32_t handle = Obj->Handle;
  if (handle == 0) return false;
  bool used = IsHandleUsed(handle);
  if (used) {
    CheckEntry(Obj);
    UsedHandles.ClearBit(handle);
    PutObject(handle, nullptr, false);
    if (Unlock && !Clearing && WithLocks) UnlockHandle(Obj);
  }
  Obj->Handle = 0;
  return used;
}

void TBRNHandleObjects::CheckEntry(const TBRNHandleObject* Obj) const {
  int32_t handle = Obj->Handle;
  if ((handle < Count ? Objects[size_t(handle)] : nullptr) != Obj)
    RaiseMisuse("Handle ", handle, " belongs to another handle object");
}

bool TBRNHandleObjects::IsHandleUsed(int32_t H) const {
  return IsValidHandle(H) && UsedHandles.IsBitSet(H);
}

TBRNHandleObject* TBRNHandleObjects::FindObject(int32_t H) const {
  return IsHandleUsed(H) && H < Count ? Objects[size_t(H)] : nullptr;
}

bool TBRNHandleObjects::NextObject(int32_t& H, TBRNHandleObject*& Obj) const {
  Obj = nullptr;
  if (H < 0) H = 0;
  if (!UsedHandles.FindNextSet(H)) return false;
  Obj = H < Count ? Objects[size_t(H)] : nullptr;
  return true;
}

bool TBRNHandleObjects::TryLockHandle(TBRNHandleObject* Obj, uint32_t Tries, int32_t WaitMs) {
  // Counters exist only for handles that have been stored.
  int32_t handle = Obj->Handle;
  if (!WithLocks || !IsValidHandle(handle)) return false;
  return TryBeginWriteCounter(LockCounters[size_t(handle)], Tries, WaitMs);
}

bool TBRNHandleObjects::UnlockHandle(TBRNHandleObject* Obj) {
  int32_t handle = Obj->Handle;
  if (!WithLocks || !IsValidHandle(handle)) return false;
  return EndWriteCounter(LockCounters[size_t(handle)]);
}

void TBRNHandleObjects::Clear() {
  struct ClearingFlag {
    bool& flag;
    explicit ClearingFlag(bool& flag) : flag(flag) { flag = true; }
    ~ClearingFlag() { flag = false; }
  } clearing(Clearing);
  int32_t handle = 0;
  while (UsedHandles.FindNextSet(handle)) {
    TBRNHandleObject* object = handle < Count ? Objects[size_t(handle)] : nullptr;
    UsedHandles.ClearBit(handle);
    PutObject(handle, nullptr, false);
    // A freed object's lock goes with it, so that the next object given this
    // handle starts unlocked.
    if (WithLocks) LockCounters[size_t(handle)].store(0, std::memory_order_release);
    delete object;
  }
}

}  // namespace brn
