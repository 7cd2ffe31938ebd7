#pragma once

#include <cstdint>

#include "foundation/core/sparse_bitmap.h"

namespace brn {

class TBRNHandleObject;

// One row lock held: the holder (a cursor or the table manager itself; not
// owned) and a value of the holder's choosing. Owned by the TBRNRowLocks
// that holds it (or by whoever detached it), used by that set's thread.
class TBRNRowLock : public TBRNBitmapObject {
 public:
  TBRNRowLock(TBRNHandleObject* Holder, int32_t Value) : Holder(Holder), Value(Value) {}

  TBRNHandleObject* Holder;
  int32_t Value;
};

// The row locks a cursor or a table manager holds, by row number
// (1..2147483647). The set owns the TBRNRowLock record of each row and frees
// the nodes it empties, so its memory follows the number of locked rows,
// not the highest row number. Rows outside 1..2147483647 are never locked;
// adding one is a misuse (std::out_of_range).
//
// Threads: one thread at a time (the owner's).
class TBRNRowLocks {
 public:
  TBRNRowLocks();
  ~TBRNRowLocks();
  TBRNRowLocks(const TBRNRowLocks&) = delete;
  TBRNRowLocks& operator=(const TBRNRowLocks&) = delete;

  // A new record for Row unless Row is present already (the first holder
  // keeps the row).
  void AddLock(TBRNHandleObject* Holder, int32_t Row, int32_t Value);
  // Attaches Lock (not owned by anything else; the set takes it over, and
  // frees it when Row cannot be locked) to Row; a record already there is
  // freed.
  void PutLock(int32_t Row, TBRNRowLock* Lock);
  bool IsLocked(int32_t Row) const;
  // The record of Row, or nullptr.
  TBRNRowLock* FindLock(int32_t Row) const;
  // The next locked row after Row in ascending order (start from 0).
  bool NextLockedRow(int32_t& Row) const;
  bool NextLock(int32_t& Row, TBRNRowLock*& Lock) const;
  // Removes Row and hands its record to the caller (nullptr when none).
  TBRNRowLock* DetachLock(int32_t Row);
  // Removes Row and frees its record.
  void RemoveLock(int32_t Row);
  // Removes and frees all.
  void Clear();
  int32_t Count() const;
  // The rows as a bitmap (for set operations that read it).
  const TBRNSparseBitmap& GetBitmap() const { return Bitmap; }

 private:
  TBRNSparseBitmap Bitmap;
};

}  // namespace brn
