#include "storage/rows/row_locks.h"

#include <memory>

namespace brn {

namespace {

constexpr int32_t kMaxLockedRow = 2147483647;

bool isRow(int32_t Row) {
  return Row >= 1;
}

}  // namespace

TBRNRowLocks::TBRNRowLocks() : Bitmap(true, true, 0) {
  Bitmap.Size = kMaxLockedRow;
}

TBRNRowLocks::~TBRNRowLocks() = default;

void TBRNRowLocks::AddLock(TBRNHandleObject* Holder, int32_t Row, int32_t Value) {
  if (isRow(Row) && Bitmap.IsBitSet(Row)) return;
  auto lock = std::make_unique<TBRNRowLock>(Holder, Value);
  Bitmap.SetBitObject(Row, lock.get(), true);
  lock.release();
}

void TBRNRowLocks::PutLock(int32_t Row, TBRNRowLock* Lock) {
  // The set owns Lock from the call on, also when attaching it fails.
  std::unique_ptr<TBRNRowLock> owned(Lock);
  Bitmap.SetBitObject(Row, Lock, true);
  owned.release();
}

bool TBRNRowLocks::IsLocked(int32_t Row) const {
  return isRow(Row) && Bitmap.IsBitSet(Row);
}

TBRNRowLock* TBRNRowLocks::FindLock(int32_t Row) const {
  TBRNBitmapObject* object = nullptr;
  if (!isRow(Row) || !Bitmap.GetBitObject(Row, object)) return nullptr;
  return static_cast<TBRNRowLock*>(object);
}

bool TBRNRowLocks::NextLockedRow(int32_t& Row) const {
  return Bitmap.FindNextSet(Row);
}

bool TBRNRowLocks::NextLock(int32_t& Row, TBRNRowLock*& Lock) const {
  TBRNBitmapObject* object = nullptr;
  bool found = Bitmap.FindNextSetObject(Row, object);
  Lock = found ? static_cast<TBRNRowLock*>(object) : nullptr;
  return found;
}

TBRNRowLock* TBRNRowLocks::DetachLock(int32_t Row) {
  TBRNRowLock* lock = FindLock(Row);
  if (IsLocked(Row)) Bitmap.ClearBit(Row, false);
  return lock;
}

void TBRNRowLocks::RemoveLock(int32_t Row) {
  if (IsLocked(Row)) Bitmap.ClearBit(Row, true);
}

void TBRNRowLocks::Clear() {
  Bitmap.ClearAll();
}

int32_t TBRNRowLocks::Count() const {
  return Bitmap.CountSet();
}

}  // namespace brn
