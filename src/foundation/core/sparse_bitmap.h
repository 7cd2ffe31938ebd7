#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/core/bitmap.h"

namespace brn {

// The base of objects attached to rows of a sparse bitmap (a row's lock
// object, an aggregate group): an owning bitmap frees them through the
// virtual destructor.
class TBRNBitmapObject {
 public:
  virtual ~TBRNBitmapObject() = default;
};

// One node of the four-level tree of a sparse bitmap. Levels 0-2 hold 256
// children of 2^24, 2^16 and 2^8 rows; a node of level 3 (or above) is a leaf
// whose bits are rows. A child marked in Bits holds at least one row; an
// unmarked child is absent or an emptied node kept for reuse.
//
// A node is owned by its parent's Children (the root by its bitmap) and freed
// there only. Whether the objects of a leaf are owned is fixed when the node
// is created: an owning leaf is the one place that frees them, a non-owning
// leaf (a view) never frees any.
class TBRNSparseBitmapNode {
 public:
  TBRNSparseBitmapNode(TBRNSparseBitmapNode* Parent, int32_t Level, bool FreeEmptyNodes,
                       bool OwnsObjects);
  ~TBRNSparseBitmapNode();
  TBRNSparseBitmapNode(const TBRNSparseBitmapNode&) = delete;
  TBRNSparseBitmapNode& operator=(const TBRNSparseBitmapNode&) = delete;

  bool IsLeaf() const { return Level > 2; }

  int32_t Level;
  TBRNBitmap Bits;               // 256 bits: marked children, or the rows of a leaf
  TBRNSparseBitmapNode* Parent;  // not owned; nullptr for the root
  bool FreeEmptyNodes;
  const bool OwnsObjects;
  // Indexed 1..256; entry 0 stays nullptr.
  std::vector<std::unique_ptr<TBRNSparseBitmapNode>> Children;
  int32_t ChildCount = 0;                  // highest child number + 1
  int32_t ChildCapacity = 0;               // a multiple of 32
  std::vector<TBRNBitmapObject*> Objects;  // leaf only, indexed by row 1..256
  int32_t ObjectCount = 0;
  int32_t ObjectCapacity = 0;
};

// A set of 1-based row numbers over the whole int32 range, so that a set of a
// few rows of a huge table costs a few nodes. Searches and set operations are
// bounded by Size, which the owner sets directly (the table's row count, or
// 2147483647 for row locks). Rows outside 1..2147483647 are never members;
// setting one is a misuse (std::out_of_range).
class TBRNSparseBitmap {
 public:
  // Callers pass true, true, 0; FreeEmptyNodes false keeps emptied nodes for
  // reuse instead of freeing them. OwnsObjects false makes a view: it refers
  // to objects owned elsewhere and frees none, valid while their owner keeps
  // them.
  TBRNSparseBitmap(bool FreeEmptyNodes, bool OwnsObjects, int32_t Level);
  ~TBRNSparseBitmap();
  TBRNSparseBitmap(const TBRNSparseBitmap&) = delete;
  TBRNSparseBitmap& operator=(const TBRNSparseBitmap&) = delete;

  bool IsBitSet(int32_t N) const;
  // true when row N is in the set; Obj is its object (nullptr when none).
  bool GetBitObject(int32_t N, TBRNBitmapObject*& Obj) const;
  void SetBit(int32_t N);
  // Attaches Obj to row N; an object already attached is freed first when
  // FreeOld is true and the bitmap owns objects, else merely replaced (and
  // the caller takes it back). An owning bitmap takes Obj over: the caller
  // passes an object that no other owner holds, or one it just detached with
  // ClearBit(N, false) from another set. A view only refers to Obj.
  void SetBitObject(int32_t N, TBRNBitmapObject* Obj, bool FreeOld);
  // Removes row N, freeing its object when FreeObject and the bitmap owns
  // objects; nodes left empty are released up the tree.
  void ClearBit(int32_t N, bool FreeObject);
  int32_t CountSet() const;

  // The first row after N in the set, at most Size.
  bool FindNextSet(int32_t& N) const;
  bool FindNextSetObject(int32_t& N, TBRNBitmapObject*& Obj) const;
  // The last row before N in the set (rows above Size are not searched).
  bool FindPriorSet(int32_t& N) const;
  // The first row after N not in the set; false when N >= Size. The result
  // can exceed Size when every row from N + 1 to Size is set.
  bool FindNextClear(int32_t& N) const;
  // Consecutive rows N + 1, N + 2, ... (N - 1, N - 2, ...) in the set within
  // 1..Size, at most Limit; 1 when there are none (the read-ahead minimum).
  int32_t CountNextRun(int32_t N, int32_t Limit) const;
  int32_t CountPriorRun(int32_t N, int32_t Limit) const;

  // Set operations over rows 1..Size; rows beyond Size are removed with their
  // nodes. They return true when rows remain.
  bool AndBitmap(const TBRNSparseBitmap& Other);
  bool OrBitmap(const TBRNSparseBitmap& Other);
  bool Invert();
  void ClearAll();
  void SetAll();
  // Copies Size, the rows and the object references (not the objects). A
  // bitmap that owns objects would become a second owner of Other's, whoever
  // owns them: it accepts rows only, and Other carrying any object raises
  // std::logic_error, leaving this bitmap unchanged.
  void Assign(const TBRNSparseBitmap& Other);

  int32_t Size = 0;
  std::unique_ptr<TBRNSparseBitmapNode> Root;
};

}  // namespace brn
