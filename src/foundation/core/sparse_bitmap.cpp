#include "foundation/core/sparse_bitmap.h"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <string>

#include "foundation/core/numeric_helpers.h"

namespace brn {

using TNode = TBRNSparseBitmapNode;

namespace {

constexpr int32_t kNodeBits = 256;
constexpr int32_t kNodeWords = kNodeBits / 32;

// Rows covered by one child of a node: 2^24, 2^16, 2^8 at levels 0-2, one row
// per bit at a leaf.
inline int32_t ChildShift(const TNode* node) {
  return node->IsLeaf() ? 0 : 8 * (3 - node->Level);
}
inline int64_t ChildSpan(const TNode* node) {
  return int64_t{1} << ChildShift(node);
}
inline int64_t NodeRange(const TNode* node) {
  return ChildSpan(node) * kNodeBits;
}

// Unchecked access to bit `index` (0-based) of a node's 256 bits.
inline bool TestBit(const TNode* node, uint32_t index) {
  return (node->Bits.Words[index >> 5] >> (index & 31)) & 1u;
}
inline void MarkBit(TNode* node, uint32_t index) {
  node->Bits.Words[index >> 5] |= 1u << (index & 31);
}

inline bool IsEmpty(const TNode* node) {
  const uint32_t* words = node->Bits.Words;
  for (int32_t i = 0; i < kNodeWords; ++i)
    if (words[i] != 0) return false;
  return true;
}

inline TNode* ChildAt(const TNode* node, int32_t c) {
  return c < node->ChildCount ? node->Children[c].get() : nullptr;
}

// The child that holds rows, or nullptr when child c is not marked.
inline const TNode* MarkedChild(const TNode* node, int32_t c) {
  return TestBit(node, static_cast<uint32_t>(c - 1)) ? node->Children[c].get() : nullptr;
}

inline TBRNBitmapObject* ObjectAt(const TNode* leaf, int32_t r) {
  return r < leaf->ObjectCount ? leaf->Objects[r] : nullptr;
}

// Both tables grow in steps of 32 entries, exactly.
template <typename T>
void GrowTable(std::vector<T>& table, int32_t& count, int32_t& capacity, int32_t index) {
  if (index >= capacity) {
    int32_t newCapacity = RoundUpToMultiple(index + 1, 32);
    table.reserve(static_cast<size_t>(newCapacity));
    table.resize(static_cast<size_t>(newCapacity));
    capacity = newCapacity;
  }
  if (index >= count) count = index + 1;
}

void SetObject(TNode* leaf, int32_t r, TBRNBitmapObject* obj) {
  if (obj == nullptr && r >= leaf->ObjectCount) return;
  GrowTable(leaf->Objects, leaf->ObjectCount, leaf->ObjectCapacity, r);
  leaf->Objects[r] = obj;
}

// Detaches the objects of the leaf rows whose bit is set in `removed` (one
// word per 32 rows), freeing them when the bitmap owns objects.
void DropObjects(TNode* leaf, const uint32_t* removed) {
  if (leaf->ObjectCount == 0) return;
  for (int32_t w = 0; w < kNodeWords; ++w) {
    uint32_t bits = removed[w];
    while (bits != 0) {
      int32_t r = w * 32 + std::countr_zero(bits) + 1;
      bits &= bits - 1;
      if (r >= leaf->ObjectCount) return;
      TBRNBitmapObject* obj = leaf->Objects[r];
      leaf->Objects[r] = nullptr;
      if (leaf->OwnsObjects) delete obj;
    }
  }
}

void ReleaseChild(TNode* node, int32_t c);

// Empties a node kept for reuse: rows, objects and marked children go.
void ClearNode(TNode* node) {
  if (node->IsLeaf()) {
    DropObjects(node, node->Bits.Words);
  } else {
    int32_t c = 0;
    while (node->Bits.FindNextSet(c)) ReleaseChild(node, c);
  }
  node->Bits.ClearAll();
}

// Takes child c out of the set: freed, or cleared and kept for reuse.
void ReleaseChild(TNode* node, int32_t c) {
  node->Bits.ClearBit(c);
  if (c >= node->ChildCount || node->Children[c] == nullptr) return;
  if (node->FreeEmptyNodes)
    node->Children[c].reset();
  else
    ClearNode(node->Children[c].get());
}

// Child c ready to receive rows: an emptied node kept for reuse, or a new one
// with this node's flags. The caller marks it.
TNode* ProvideChild(TNode* node, int32_t c) {
  if (TNode* child = ChildAt(node, c)) return child;
  GrowTable(node->Children, node->ChildCount, node->ChildCapacity, c);
  node->Children[c] =
      std::make_unique<TNode>(node, node->Level + 1, node->FreeEmptyNodes, node->OwnsObjects);
  return node->Children[c].get();
}

// The leaf that holds 0-based row `index` of the tree below `node`, nullptr when a
// node on the way is not marked. `index` lies within the node's range.
const TNode* FindLeaf(const TNode* node, uint32_t index) {
  while (!node->IsLeaf()) {
    uint32_t c = (index >> ChildShift(node)) & 255u;
    if (!TestBit(node, c)) return nullptr;
    node = node->Children[c + 1].get();
  }
  return node;
}

// First set position after p (p = 0: from the start) below `node`, 0 when
// none; positions are 1-based within the node.
int64_t FindNext(const TNode* node, int64_t p, const TNode** leafOut) {
  if (p >= NodeRange(node)) return 0;
  if (node->IsLeaf()) {
    int32_t n = static_cast<int32_t>(p);
    if (!node->Bits.FindNextSet(n)) return 0;
    *leafOut = node;
    return n;
  }
  int32_t shift = ChildShift(node);
  int64_t span = ChildSpan(node);
  int32_t c = p == 0 ? 1 : static_cast<int32_t>(((p - 1) >> shift) + 1);
  if (const TNode* child = MarkedChild(node, c)) {
    int64_t q = FindNext(child, p - (c - 1) * span, leafOut);
    if (q != 0) return q + (c - 1) * span;
  }
  while (node->Bits.FindNextSet(c)) {
    int64_t q = FindNext(node->Children[c].get(), 0, leafOut);
    if (q != 0) return q + (c - 1) * span;
  }
  return 0;
}

// Last set position before p (p up to the node's range + 1) below `node`, 0
// when none.
int64_t FindPrior(const TNode* node, int64_t p) {
  if (node->IsLeaf()) {
    int32_t n = static_cast<int32_t>(p);
    return node->Bits.FindPriorSet(n) ? n : 0;
  }
  int32_t shift = ChildShift(node);
  int64_t span = ChildSpan(node);
  int32_t c = kNodeBits + 1;
  if (p <= NodeRange(node)) {
    c = static_cast<int32_t>(((p - 1) >> shift) + 1);
    if (const TNode* child = MarkedChild(node, c)) {
      int64_t q = FindPrior(child, p - (c - 1) * span);
      if (q != 0) return q + (c - 1) * span;
    }
  }
  while (node->Bits.FindPriorSet(c)) {
    int64_t q = FindPrior(node->Children[c].get(), span + 1);
    if (q != 0) return q + (c - 1) * span;
  }
  return 0;
}

// First clear position after p below `node`, 0 when every later one is set.
// Unmarked children count as entirely clear.
int64_t FindNextClearIn(const TNode* node, int64_t p) {
  if (p >= NodeRange(node)) return 0;
  if (node->IsLeaf()) {
    int32_t n = static_cast<int32_t>(p);
    return node->Bits.FindNextClear(n) ? n : 0;
  }
  int32_t shift = ChildShift(node);
  int64_t span = ChildSpan(node);
  int32_t c = p == 0 ? 1 : static_cast<int32_t>(((p - 1) >> shift) + 1);
  int64_t q = p - (c - 1) * span;
  for (; c <= kNodeBits; ++c, q = 0) {
    if (const TNode* child = MarkedChild(node, c)) {
      int64_t r = FindNextClearIn(child, q);
      if (r != 0) return r + (c - 1) * span;
    } else if (q < span) {
      return (c - 1) * span + q + 1;
    }
  }
  return 0;
}

// Consecutive set bits of a leaf from 0-based bit `from` downwards, at most
// `limit`.
int32_t CountRunDown(const TNode* leaf, int32_t from, int32_t limit) {
  const uint32_t* words = leaf->Bits.Words;
  int32_t counted = 0;
  int32_t pos = from;
  while (counted < limit) {
    int32_t bit = pos & 31;
    int32_t ones = std::countl_one(words[pos >> 5] << (31 - bit));
    int32_t take = MinInteger(ones, limit - counted);
    counted += take;
    if (ones < bit + 1 || pos < 32) break;  // a clear bit, or bit 1 reached
    pos -= take;
  }
  return counted;
}

enum class TSetOp { And, Or, Truncate, Invert, SetAll };

// Combines `node` with `other` (nullptr: no rows) over its first `limit`
// positions; positions beyond the limit are removed. true when rows remain.
bool Combine(TNode* node, const TNode* other, int64_t limit, TSetOp op) {
  if (node->IsLeaf()) {
    uint32_t* words = node->Bits.Words;
    const uint32_t* otherWords = other != nullptr ? other->Bits.Words : nullptr;
    uint32_t removed[kNodeWords];
    bool any = false;
    for (int32_t w = 0; w < kNodeWords; ++w) {
      int64_t below = limit - int64_t{w} * 32;  // positions of this word inside the limit
      uint32_t mask = below >= 32 ? ~0u : below <= 0 ? 0u : (1u << below) - 1u;
      uint32_t old = words[w];
      uint32_t theirs = otherWords != nullptr ? otherWords[w] : 0u;
      uint32_t result = 0;
      switch (op) {
        case TSetOp::And:
          result = old & theirs;
          break;
        case TSetOp::Or:
          result = old | theirs;
          break;
        case TSetOp::Truncate:
          result = old;
          break;
        case TSetOp::Invert:
          result = ~old;
          break;
        case TSetOp::SetAll:
          result = ~0u;
          break;
      }
      result &= mask;
      removed[w] = old & ~result;
      words[w] = result;
      any = any || result != 0;
    }
    DropObjects(node, removed);
    return any;
  }
  if (limit <= 0) {
    ClearNode(node);
    return false;
  }
  int64_t span = ChildSpan(node);
  int32_t last = static_cast<int32_t>((limit - 1) / span + 1);
  for (int32_t c = 1; c <= last; ++c) {
    int64_t childLimit = c < last ? span : limit - (c - 1) * span;
    bool marked = TestBit(node, static_cast<uint32_t>(c - 1));
    const TNode* theirs = other != nullptr ? MarkedChild(other, c) : nullptr;
    switch (op) {
      case TSetOp::And:
        if (!marked) continue;
        if (theirs == nullptr) {
          ReleaseChild(node, c);
          continue;
        }
        break;
      case TSetOp::Or:
      case TSetOp::Truncate:
        // A whole child of ours with nothing to add stays as it is.
        if (theirs == nullptr && (!marked || childLimit == span)) continue;
        break;
      case TSetOp::Invert:
      case TSetOp::SetAll:
        break;
    }
    TNode* child = marked ? node->Children[c].get() : ProvideChild(node, c);
    if (Combine(child, theirs, childLimit, op))
      MarkBit(node, static_cast<uint32_t>(c - 1));
    else
      ReleaseChild(node, c);
  }
  int32_t c = last;
  while (node->Bits.FindNextSet(c)) ReleaseChild(node, c);
  return !IsEmpty(node);
}

// Makes `node` a copy of `other`, sharing the object references.
void CopyNode(TNode* node, const TNode* other) {
  if (node->IsLeaf()) {
    std::copy_n(other->Bits.Words, kNodeWords, node->Bits.Words);
    int32_t count = MaxInteger(node->ObjectCount, other->ObjectCount);
    for (int32_t r = 1; r < count; ++r) {
      TBRNBitmapObject* old = ObjectAt(node, r);
      TBRNBitmapObject* theirs = ObjectAt(other, r);
      if (old == theirs) continue;
      SetObject(node, r, theirs);
      if (node->OwnsObjects) delete old;
    }
    return;
  }
  // Only the children marked in either node change: a set of a few rows
  // is copied at the cost of its own nodes, not of 256 children per level.
  for (int32_t w = 0; w < kNodeWords; ++w) {
    uint32_t pending = other->Bits.Words[w] | node->Bits.Words[w];
    while (pending != 0) {
      const int32_t c = w * 32 + std::countr_zero(pending) + 1;
      pending &= pending - 1;
      if (const TNode* theirs = MarkedChild(other, c)) {
        CopyNode(ProvideChild(node, c), theirs);
        MarkBit(node, static_cast<uint32_t>(c - 1));
      } else {
        ReleaseChild(node, c);
      }
    }
  }
}

bool HasObjects(const TNode* node) {
  if (node->IsLeaf()) {
    for (int32_t r = 1; r < node->ObjectCount; ++r)
      if (node->Objects[r] != nullptr) return true;
    return false;
  }
  int32_t c = 0;
  while (node->Bits.FindNextSet(c))
    if (HasObjects(node->Children[c].get())) return true;
  return false;
}

int64_t CountRows(const TNode* node) {
  if (node->IsLeaf()) return node->Bits.CountSet();
  int64_t count = 0;
  int32_t c = 0;
  while (node->Bits.FindNextSet(c)) count += CountRows(node->Children[c].get());
  return count;
}

}  // namespace

TBRNSparseBitmapNode::TBRNSparseBitmapNode(TBRNSparseBitmapNode* Parent, int32_t Level,
                                           bool FreeEmptyNodes, bool OwnsObjects)
    : Level(Level), Parent(Parent), FreeEmptyNodes(FreeEmptyNodes), OwnsObjects(OwnsObjects) {
  Bits.SetSize(kNodeBits);
}

// Children go with the vector; a leaf has none, only objects.
TBRNSparseBitmapNode::~TBRNSparseBitmapNode() {
  if (OwnsObjects)
    for (int32_t r = 0; r < ObjectCount; ++r) DisposeAndNil(Objects[r]);
}

TBRNSparseBitmap::TBRNSparseBitmap(bool FreeEmptyNodes, bool OwnsObjects, int32_t Level) {
  if (Level < 0 || Level > 3)
    throw std::invalid_argument("TBRNSparseBitmap: level " + std::to_string(Level) +
                                " outside 0..3");
  Root = std::make_unique<TNode>(nullptr, Level, FreeEmptyNodes, OwnsObjects);
}

TBRNSparseBitmap::~TBRNSparseBitmap() = default;

namespace {

// 0-based index of row N inside the root, or false when the row cannot be a
// member.
inline bool RowIndex(const TNode* root, int64_t N, uint32_t& index) {
  if (N < 1 || N > NodeRange(root)) return false;
  index = static_cast<uint32_t>(N - 1);
  return true;
}

// Positions at or below this bound are searched: Size, never beyond the tree.
inline int64_t SearchBound(const TBRNSparseBitmap& bitmap) {
  return std::min<int64_t>(MaxInteger(bitmap.Size, 0), NodeRange(bitmap.Root.get()));
}

}  // namespace

bool TBRNSparseBitmap::IsBitSet(int32_t N) const {
  uint32_t index;
  if (!RowIndex(Root.get(), N, index)) return false;
  const TNode* leaf = FindLeaf(Root.get(), index);
  return leaf != nullptr && TestBit(leaf, index & 255u);
}

bool TBRNSparseBitmap::GetBitObject(int32_t N, TBRNBitmapObject*& Obj) const {
  Obj = nullptr;
  uint32_t index;
  if (!RowIndex(Root.get(), N, index)) return false;
  const TNode* leaf = FindLeaf(Root.get(), index);
  if (leaf == nullptr || !TestBit(leaf, index & 255u)) return false;
  Obj = ObjectAt(leaf, static_cast<int32_t>(index & 255u) + 1);
  return true;
}

namespace {

// The leaf for row N with every node on the way marked, and room for the
// row's object when asked. Everything is allocated before anything is marked,
// so a failed allocation leaves no empty marked child.
TNode* ProvideLeaf(TNode* root, int32_t N, bool objectSlot) {
  uint32_t index;
  if (!RowIndex(root, N, index))
    throw std::out_of_range("TBRNSparseBitmap: row " + std::to_string(N) + " outside the set");
  TNode* path[4];
  uint32_t childBits[4];
  int32_t depth = 0;
  TNode* node = root;
  while (!node->IsLeaf()) {
    uint32_t c = (index >> ChildShift(node)) & 255u;
    path[depth] = node;
    childBits[depth++] = c;
    node = ProvideChild(node, static_cast<int32_t>(c + 1));
  }
  if (objectSlot)
    GrowTable(node->Objects, node->ObjectCount, node->ObjectCapacity,
              static_cast<int32_t>(index & 255u) + 1);
  for (int32_t i = 0; i < depth; ++i) MarkBit(path[i], childBits[i]);
  return node;
}

}  // namespace

void TBRNSparseBitmap::SetBit(int32_t N) {
  TNode* leaf = ProvideLeaf(Root.get(), N, false);
  MarkBit(leaf, static_cast<uint32_t>(N - 1) & 255u);
}

void TBRNSparseBitmap::SetBitObject(int32_t N, TBRNBitmapObject* Obj, bool FreeOld) {
  TNode* leaf = ProvideLeaf(Root.get(), N, true);
  uint32_t bit = static_cast<uint32_t>(N - 1) & 255u;
  int32_t r = static_cast<int32_t>(bit) + 1;
  TBRNBitmapObject* old = ObjectAt(leaf, r);
  SetObject(leaf, r, Obj);
  MarkBit(leaf, bit);
  if (old != Obj && FreeOld && leaf->OwnsObjects) delete old;
}

void TBRNSparseBitmap::ClearBit(int32_t N, bool FreeObject) {
  uint32_t index;
  if (!RowIndex(Root.get(), N, index)) return;
  TNode* node = Root.get();
  int32_t childNumbers[4];
  int32_t depth = 0;
  while (!node->IsLeaf()) {
    uint32_t c = (index >> ChildShift(node)) & 255u;
    if (!TestBit(node, c)) return;
    childNumbers[depth++] = static_cast<int32_t>(c + 1);
    node = node->Children[c + 1].get();
  }
  int32_t r = static_cast<int32_t>(index & 255u) + 1;
  if (!TestBit(node, static_cast<uint32_t>(r - 1))) return;
  if (TBRNBitmapObject* obj = ObjectAt(node, r)) {
    node->Objects[r] = nullptr;
    if (FreeObject && node->OwnsObjects) delete obj;
  }
  node->Bits.ClearBit(r);
  while (depth > 0 && IsEmpty(node)) {
    TNode* parent = node->Parent;
    ReleaseChild(parent, childNumbers[--depth]);
    node = parent;
  }
}

int32_t TBRNSparseBitmap::CountSet() const {
  return static_cast<int32_t>(CountRows(Root.get()));
}

bool TBRNSparseBitmap::FindNextSet(int32_t& N) const {
  TBRNBitmapObject* obj;
  return FindNextSetObject(N, obj);
}

bool TBRNSparseBitmap::FindNextSetObject(int32_t& N, TBRNBitmapObject*& Obj) const {
  Obj = nullptr;
  int64_t bound = SearchBound(*this);
  if (N >= bound) return false;
  int32_t from = MaxInteger(N, 0);
  // A walk mostly finds the next row in the leaf of the previous one.
  int64_t found = 0;
  const TNode* leaf = FindLeaf(Root.get(), static_cast<uint32_t>(from));
  int32_t bit = from & 255;
  if (leaf != nullptr && leaf->Bits.FindNextSet(bit)) found = from - (from & 255) + bit;
  if (found == 0) found = FindNext(Root.get(), from, &leaf);
  if (found == 0 || found > bound) return false;
  N = static_cast<int32_t>(found);
  Obj = ObjectAt(leaf, static_cast<int32_t>((found - 1) & 255) + 1);
  return true;
}

bool TBRNSparseBitmap::FindPriorSet(int32_t& N) const {
  if (N <= 0) return false;
  int64_t from = std::min<int64_t>(N, SearchBound(*this) + 1);
  if (from <= 1) return false;
  int64_t found = FindPrior(Root.get(), from);
  if (found == 0) return false;
  N = static_cast<int32_t>(found);
  return true;
}

bool TBRNSparseBitmap::FindNextClear(int32_t& N) const {
  if (N >= Size) return false;
  int64_t found = FindNextClearIn(Root.get(), MaxInteger(N, 0));
  // Past the last int32 row nothing can be clear that a caller could name.
  if (found == 0 || found > INT32_MAX) return false;
  N = static_cast<int32_t>(found);
  return true;
}

int32_t TBRNSparseBitmap::CountNextRun(int32_t N, int32_t Limit) const {
  int64_t bound = SearchBound(*this);
  int64_t row = int64_t{N} + 1;
  if (row < 1 || row > bound) return 1;
  int32_t limit = static_cast<int32_t>(std::min<int64_t>(Limit, bound - N));
  int32_t count = 0;
  while (count < limit) {
    const TNode* leaf = FindLeaf(Root.get(), static_cast<uint32_t>(row - 1));
    if (leaf == nullptr) break;
    int32_t bit = static_cast<int32_t>((row - 1) & 255);
    int32_t last = bit;
    if (!leaf->Bits.CountSetRun(last, count, limit) || last < kNodeBits) break;
    row += last - bit;  // the first row of the next leaf
    if (row > bound) break;
  }
  return MaxInteger(count, 1);
}

int32_t TBRNSparseBitmap::CountPriorRun(int32_t N, int32_t Limit) const {
  int64_t row = int64_t{N} - 1;
  if (row < 1 || row > SearchBound(*this)) return 1;
  int32_t limit = static_cast<int32_t>(std::min<int64_t>(Limit, row));
  int32_t count = 0;
  while (count < limit) {
    const TNode* leaf = FindLeaf(Root.get(), static_cast<uint32_t>(row - 1));
    if (leaf == nullptr) break;
    int32_t bit = static_cast<int32_t>((row - 1) & 255);
    int32_t run = CountRunDown(leaf, bit, limit - count);
    count += run;
    if (run <= bit) break;  // stopped inside this leaf
    row -= run;             // the last row of the previous leaf
    if (row < 1) break;
  }
  return MaxInteger(count, 1);
}

bool TBRNSparseBitmap::AndBitmap(const TBRNSparseBitmap& Other) {
  if (Other.Root->Level != Root->Level)
    throw std::invalid_argument("TBRNSparseBitmap.AndBitmap: trees of different levels");
  const TNode* other = &Other == this ? nullptr : Other.Root.get();
  return Combine(Root.get(), other, SearchBound(*this), other ? TSetOp::And : TSetOp::Truncate);
}

bool TBRNSparseBitmap::OrBitmap(const TBRNSparseBitmap& Other) {
  if (Other.Root->Level != Root->Level)
    throw std::invalid_argument("TBRNSparseBitmap.OrBitmap: trees of different levels");
  const TNode* other = &Other == this ? nullptr : Other.Root.get();
  return Combine(Root.get(), other, SearchBound(*this), other ? TSetOp::Or : TSetOp::Truncate);
}

bool TBRNSparseBitmap::Invert() {
  return Combine(Root.get(), nullptr, SearchBound(*this), TSetOp::Invert);
}

void TBRNSparseBitmap::ClearAll() {
  ClearNode(Root.get());
}

void TBRNSparseBitmap::SetAll() {
  Combine(Root.get(), nullptr, SearchBound(*this), TSetOp::SetAll);
}

void TBRNSparseBitmap::Assign(const TBRNSparseBitmap& Other) {
  if (&Other == this) return;
  if (Other.Root->Level != Root->Level)
    throw std::invalid_argument("TBRNSparseBitmap.Assign: trees of different levels");
  // Other's objects are owned by Other or, when it is a view, by the bitmap it
  // was copied from: taking the references would free them a second time.
  if (Root->OwnsObjects && HasObjects(Other.Root.get()))
    throw std::logic_error("TBRNSparseBitmap.Assign: an owner cannot share another set's objects");
  Size = Other.Size;
  CopyNode(Root.get(), Other.Root.get());
}

}  // namespace brn
