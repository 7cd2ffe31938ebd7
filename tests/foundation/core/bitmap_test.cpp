#include "foundation/core/bitmap.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include "foundation/core/sparse_bitmap.h"

namespace brn {
namespace {

// ---------------------------------------------------------------------------
// TBRNBitmap

TBRNBitmap MakeBitmap(int32_t size, std::initializer_list<int32_t> bits) {
  TBRNBitmap bitmap;
  bitmap.SetSize(size);
  for (int32_t b : bits) bitmap.SetBit(b);
  return bitmap;
}

TEST(TBRNBitmapTest, SetAllInvertAndSearchesOnAPartialWord) {
  TBRNBitmap bitmap = MakeBitmap(10, {});
  bitmap.SetAll();
  EXPECT_EQ(bitmap.CountSet(), 10);
  int32_t n = 0;
  EXPECT_FALSE(bitmap.FindNextClear(n));
  EXPECT_EQ(n, 0);
  bitmap.Invert();
  EXPECT_EQ(bitmap.CountSet(), 0);
  EXPECT_FALSE(bitmap.FindNextSet(n));
  EXPECT_EQ(bitmap.Words[0], 0u) << "bits beyond Size must stay clear";
}

TEST(TBRNBitmapTest, FindPriorSet) {
  struct Case {
    int32_t size;
    std::vector<int32_t> bits;
    int32_t from;
    bool found;
    int32_t result;
  } cases[] = {
      {64, {1, 2}, 1, false, 1},  {64, {32}, 33, true, 32}, {64, {32, 33}, 33, true, 32},
      {64, {1}, 65, true, 1},     {64, {64}, 65, true, 64}, {64, {}, 65, false, 65},
      {70, {3, 40}, 40, true, 3},
  };
  for (const auto& c : cases) {
    TBRNBitmap bitmap;
    bitmap.SetSize(c.size);
    for (int32_t b : c.bits) bitmap.SetBit(b);
    int32_t n = c.from;
    EXPECT_EQ(bitmap.FindPriorSet(n), c.found) << c.from;
    EXPECT_EQ(n, c.result) << c.from;
  }
}

TEST(TBRNBitmapTest, CountSetRun) {
  struct Case {
    std::vector<int32_t> bits;
    int32_t from, count, limit;
    bool counted;
    int32_t endN, endCount;
  } cases[] = {
      {{1, 2, 3, 4, 5}, 0, 0, 3, true, 3, 3},     {{1, 2, 3, 4, 5}, 0, 0, 10, true, 5, 5},
      {{1, 2, 3, 4, 5}, 5, 0, 10, false, 5, 0},   {{2, 3}, 0, 0, 10, false, 0, 0},
      {{1, 2, 3, 4, 5}, 2, 7, 10, true, 5, 10},  // Count carries over from the caller
      {{1, 2, 3, 4, 5}, 0, 10, 10, false, 0, 10},
  };
  for (const auto& c : cases) {
    TBRNBitmap bitmap;
    bitmap.SetSize(100);
    for (int32_t b : c.bits) bitmap.SetBit(b);
    int32_t n = c.from, count = c.count;
    EXPECT_EQ(bitmap.CountSetRun(n, count, c.limit), c.counted);
    EXPECT_EQ(n, c.endN);
    EXPECT_EQ(count, c.endCount);
  }
  // A run across words stops at the end of the words.
  TBRNBitmap full = MakeBitmap(96, {});
  full.SetAll();
  int32_t n = 20, count = 0;
  EXPECT_TRUE(full.CountSetRun(n, count, 1000));
  EXPECT_EQ(n, 96);
  EXPECT_EQ(count, 76);
}

TEST(TBRNBitmapTest, CapacityGrowsInStepsOfEightWordsAndShrinks) {
  TBRNBitmap bitmap;
  EXPECT_EQ(bitmap.WordCapacity, 0);
  bitmap.SetSize(33);
  EXPECT_EQ(bitmap.WordCount, 2);
  EXPECT_EQ(bitmap.WordCapacity, 8);
  EXPECT_EQ(bitmap.RoundedSize, 64);
  EXPECT_EQ(bitmap.TailBits, 1);
  bitmap.SetSize(257);
  EXPECT_EQ(bitmap.WordCapacity, 16);
  bitmap.SetSize(1);
  EXPECT_EQ(bitmap.WordCapacity, 8);
}

// Small bitmaps keep their words inside the object, larger ones on the heap:
// copies and moves must never share or lose words.
TEST(TBRNBitmapTest, CopiesAndMovesOwnTheirWords) {
  for (int32_t size : {0, 200, 256, 257, 5000}) {
    TBRNBitmap source = MakeBitmap(size, {});
    if (size > 0) source.SetBit(size);
    TBRNBitmap copy(source);
    if (size > 0) copy.ClearBit(size);
    EXPECT_EQ(source.CountSet(), size > 0 ? 1 : 0) << size;
    TBRNBitmap moved(std::move(copy));
    moved = moved;  // self-assignment keeps the words
    EXPECT_EQ(moved.Size, size);
    TBRNBitmap target = MakeBitmap(300, {300});
    target = std::move(source);
    EXPECT_EQ(target.Size, size);
    EXPECT_EQ(target.CountSet(), size > 0 ? 1 : 0) << size;
    if (size > 0) {
      EXPECT_TRUE(target.IsBitSet(size));
    }
    target = moved;
    EXPECT_EQ(target.CountSet(), 0) << size;
  }
}

TEST(TBRNBitmapTest, ShrinkingClearsTheCutBitsForGood) {
  TBRNBitmap bitmap = MakeBitmap(100, {5, 40, 64, 65, 100});
  bitmap.SetSize(40);
  EXPECT_EQ(bitmap.CountSet(), 2);
  bitmap.SetSize(100);  // same capacity: old words must not come back
  EXPECT_EQ(bitmap.CountSet(), 2);
  int32_t n = 40;
  EXPECT_FALSE(bitmap.FindNextSet(n));
}

TEST(TBRNBitmapTest, AndOrKeepBitsBeyondSizeClearAndAcceptAShorterOther) {
  TBRNBitmap bitmap = MakeBitmap(40, {1, 33, 40});
  TBRNBitmap wide = MakeBitmap(64, {1, 2, 41, 64});
  bitmap.OrBitmap(wide);
  EXPECT_EQ(bitmap.CountSet(), 4);  // 1, 2, 33, 40: 41 and 64 lie beyond Size
  TBRNBitmap shorter = MakeBitmap(20, {2, 19});
  bitmap.AndBitmap(shorter);
  EXPECT_EQ(bitmap.CountSet(), 1);
  EXPECT_TRUE(bitmap.IsBitSet(2));
  bitmap.Assign(wide);
  EXPECT_EQ(bitmap.Size, 64);
  EXPECT_EQ(bitmap.CountSet(), 4);
}

TEST(TBRNBitmapTest, BitsOutsideTheSizeAreRefused) {
  TBRNBitmap bitmap = MakeBitmap(10, {});
  for (int32_t n : {0, -1, 11, INT32_MIN, INT32_MAX}) {
    EXPECT_THROW(bitmap.SetBit(n), std::out_of_range) << n;
    EXPECT_THROW((void)bitmap.IsBitSet(n), std::out_of_range) << n;
  }
  EXPECT_THROW(bitmap.SetSize(-1), std::invalid_argument);
}

// Every operation against a std::vector<bool>, over sizes around word edges.
TEST(TBRNBitmapTest, AgreesWithAVectorModel) {
  std::mt19937 random(17);
  const int32_t sizes[] = {1, 31, 32, 33, 255, 256, 1000};
  TBRNBitmap bitmap, other;
  std::vector<bool> model, otherModel;
  auto resize = [&](int32_t size) {
    bitmap.SetSize(size);
    model.resize(size);
    other.SetSize(size);
    otherModel.resize(size);
  };
  resize(100);
  for (int step = 0; step < 20000; ++step) {
    int32_t size = bitmap.Size;
    int32_t n = int32_t(random() % (size + 2));  // 0..Size+1
    int32_t bit = int32_t(random() % size) + 1;
    int op = int(random() % 16);
    switch (op) {
      case 0:
        resize(sizes[random() % 7]);
        break;
      case 1:
      case 2:
        bitmap.SetBit(bit);
        model[bit - 1] = true;
        break;
      case 3:
        bitmap.ClearBit(bit);
        model[bit - 1] = false;
        break;
      case 4:
        other.SetBit(bit);
        otherModel[bit - 1] = true;
        break;
      case 5:
        bitmap.AndBitmap(other);
        for (int32_t i = 0; i < size; ++i) model[i] = model[i] && otherModel[i];
        break;
      case 6:
        bitmap.OrBitmap(other);
        for (int32_t i = 0; i < size; ++i) model[i] = model[i] || otherModel[i];
        break;
      case 7:
        bitmap.Invert();
        model.flip();
        break;
      case 8:
        if (random() % 4 == 0) {
          bitmap.SetAll();
          model.assign(size, true);
        } else {
          other.ClearAll();
          otherModel.assign(size, false);
        }
        break;
      case 9:
      case 10: {  // the next set (9) or clear (10) bit
        bool wanted = op == 9;
        int32_t found = n, expected = n;
        bool any = false;
        for (int32_t i = std::max(n, 0); i < size && !any; ++i)
          if (model[i] == wanted) any = true, expected = i + 1;
        ASSERT_EQ(wanted ? bitmap.FindNextSet(found) : bitmap.FindNextClear(found), any) << step;
        ASSERT_EQ(found, expected) << step;
        break;
      }
      case 11: {
        int32_t found = n, expected = n;
        bool any = false;
        for (int32_t i = std::min(n - 1, size) - 1; i >= 0 && !any; --i)
          if (model[i]) any = true, expected = i + 1;
        ASSERT_EQ(bitmap.FindPriorSet(found), any) << step;
        ASSERT_EQ(found, expected) << step;
        break;
      }
      case 12: {
        int32_t limit = int32_t(random() % 70) + 1;
        int32_t start = std::min(n, size), endN = start, count = 0, expected = 0;
        while (start + expected < size && model[start + expected] && expected < limit) ++expected;
        ASSERT_EQ(bitmap.CountSetRun(endN, count, limit), expected > 0) << step;
        ASSERT_EQ(count, expected) << step;
        ASSERT_EQ(endN, start + expected) << step;
        break;
      }
      default:
        break;
    }
    ASSERT_EQ(bitmap.CountSet(), std::count(model.begin(), model.end(), true)) << step;
  }
}

// ---------------------------------------------------------------------------
// TBRNSparseBitmap

// An attached object that keeps count of the live instances.
class TCountedObject : public TBRNBitmapObject {
 public:
  TCountedObject() { ++Live; }
  ~TCountedObject() override { --Live; }
  static inline int Live = 0;
};

class TBRNSparseBitmapTest : public ::testing::Test {
 protected:
  void SetUp() override { TCountedObject::Live = 0; }
  void TearDown() override { EXPECT_EQ(TCountedObject::Live, 0) << "leaked or shared objects"; }
};

TEST_F(TBRNSparseBitmapTest, RowsOnBothSidesOfARootChildBoundary) {
  TBRNSparseBitmap set(true, true, 0);
  set.Size = INT32_MAX;
  set.SetBit(1 << 24);
  set.SetBit((1 << 24) + 1);
  EXPECT_TRUE(set.Root->Bits.IsBitSet(1));
  EXPECT_TRUE(set.Root->Bits.IsBitSet(2));
  int32_t n = 1 << 24;
  EXPECT_TRUE(set.FindNextSet(n));
  EXPECT_EQ(n, (1 << 24) + 1);
  EXPECT_TRUE(set.FindPriorSet(n));
  EXPECT_EQ(n, 1 << 24);
  EXPECT_EQ(set.CountNextRun((1 << 24) - 1, 100), 2);
  EXPECT_EQ(set.CountPriorRun((1 << 24) + 2, 100), 2);
}

TEST_F(TBRNSparseBitmapTest, RunsAcrossLeavesStopAtTheLimitOrAGap) {
  TBRNSparseBitmap set(true, true, 0);
  set.Size = 100000;
  for (int32_t r = 250; r <= 260; ++r) set.SetBit(r);
  struct Case {
    bool next;
    int32_t n, limit, expected;
  } cases[] = {
      {true, 249, 100, 11}, {true, 260, 100, 1}, {true, 249, 4, 4},     {true, 0, 100, 1},
      {false, 261, 5, 5},   {false, 250, 1, 1},  {false, 261, 100, 11}, {false, 0, 100, 1},
  };
  for (const auto& c : cases) {
    int32_t run = c.next ? set.CountNextRun(c.n, c.limit) : set.CountPriorRun(c.n, c.limit);
    EXPECT_EQ(run, c.expected) << (c.next ? "next " : "prior ") << c.n;
  }
}

TEST_F(TBRNSparseBitmapTest, AnEmptiedLeafAndItsAncestorsAreFreed) {
  TBRNSparseBitmap set(true, true, 0);
  set.SetBit(70000);
  set.SetBit(5);
  set.ClearBit(70000, true);
  EXPECT_FALSE(set.Root->Children[1]->Bits.IsBitSet(2));
  EXPECT_EQ(set.Root->Children[1]->Children[2], nullptr);
  set.ClearBit(5, true);
  EXPECT_EQ(set.Root->Children[1], nullptr);
  EXPECT_EQ(set.Root->Bits.CountSet(), 0);
}

TEST_F(TBRNSparseBitmapTest, AnEmptiedNodeKeptForReuseHoldsNoOldRows) {
  TBRNSparseBitmap set(false, true, 0);
  set.Size = 1000;
  set.SetBitObject(3, new TCountedObject, true);
  set.SetBit(4);
  TBRNSparseBitmapNode* leaf = set.Root->Children[1]->Children[1]->Children[1].get();
  set.ClearBit(3, true);
  set.ClearBit(4, true);
  EXPECT_EQ(TCountedObject::Live, 0);
  EXPECT_EQ(set.Root->Bits.CountSet(), 0);
  set.SetBit(200);
  EXPECT_EQ(set.Root->Children[1]->Children[1]->Children[1].get(), leaf);
  EXPECT_EQ(set.CountSet(), 1);
  TBRNBitmapObject* obj = nullptr;
  EXPECT_FALSE(set.GetBitObject(3, obj));
  EXPECT_TRUE(set.GetBitObject(200, obj));
  EXPECT_EQ(obj, nullptr);
}

TEST_F(TBRNSparseBitmapTest, ObjectsFollowTheirRows) {
  TBRNSparseBitmap set(true, true, 0);
  set.Size = 1000;
  auto* first = new TCountedObject;
  set.SetBitObject(7, first, true);
  auto* second = new TCountedObject;
  set.SetBitObject(7, second, false);  // the old one is only replaced
  EXPECT_EQ(TCountedObject::Live, 2);
  delete first;
  set.SetBitObject(7, second, true);  // attaching the same object again keeps it
  TBRNBitmapObject* obj = nullptr;
  EXPECT_TRUE(set.GetBitObject(7, obj));
  EXPECT_EQ(obj, second);
  auto* third = new TCountedObject;
  set.SetBitObject(7, third, true);  // frees the second one
  EXPECT_EQ(TCountedObject::Live, 1);
  set.ClearBit(7, false);  // detached, not freed
  EXPECT_FALSE(set.IsBitSet(7));
  EXPECT_EQ(TCountedObject::Live, 1);
  delete third;
}

TEST_F(TBRNSparseBitmapTest, SetOperationsFreeTheObjectsOfRemovedRows) {
  TBRNSparseBitmap set(true, true, 0);
  set.Size = 300;
  for (int32_t r : {10, 20, 500}) set.SetBitObject(r, new TCountedObject, true);
  TBRNSparseBitmap other(true, false, 0);
  other.SetBit(20);
  other.SetBit(250);
  EXPECT_TRUE(set.AndBitmap(other));
  EXPECT_EQ(set.CountSet(), 1);
  EXPECT_EQ(TCountedObject::Live, 1);  // 10 left with AND, 500 lies beyond Size
  EXPECT_TRUE(set.Invert());           // every row but 20
  EXPECT_EQ(set.CountSet(), 299);
  EXPECT_EQ(TCountedObject::Live, 0);
  set.SetAll();
  EXPECT_EQ(set.CountSet(), 300);
  set.SetBitObject(300, new TCountedObject, true);
  set.ClearAll();
  EXPECT_EQ(set.CountSet(), 0);
  EXPECT_EQ(set.Root->Bits.CountSet(), 0);
}

TEST_F(TBRNSparseBitmapTest, AssignSharesReferencesButRefusesTwoOwners) {
  TBRNSparseBitmap owner(true, true, 0);
  owner.Size = 5000;
  owner.SetBitObject(4000, new TCountedObject, true);
  TBRNSparseBitmap view(true, false, 0);
  view.SetBit(9);
  view.Assign(owner);
  EXPECT_EQ(view.Size, 5000);
  EXPECT_FALSE(view.IsBitSet(9));
  TBRNBitmapObject *a = nullptr, *b = nullptr;
  EXPECT_TRUE(owner.GetBitObject(4000, a));
  EXPECT_TRUE(view.GetBitObject(4000, b));
  EXPECT_EQ(a, b);

  TBRNSparseBitmap secondOwner(true, true, 0);
  secondOwner.SetBit(1);
  EXPECT_THROW(secondOwner.Assign(owner), std::logic_error);
  EXPECT_TRUE(secondOwner.IsBitSet(1));  // unchanged
}

// The references a view copied from an owner must not reach a second owner
// through the view: the objects would be freed twice. Rows alone still copy.
TEST_F(TBRNSparseBitmapTest, NoChainOfAssignsMakesASecondOwner) {
  TBRNSparseBitmap owner(true, true, 0);
  owner.Size = 5000;
  owner.SetBitObject(4000, new TCountedObject, true);
  owner.SetBit(12);
  TBRNSparseBitmap view(true, false, 0);
  view.Assign(owner);
  TBRNSparseBitmap viewOfView(true, false, 0);
  viewOfView.Assign(view);
  TBRNBitmapObject* obj = nullptr;
  EXPECT_TRUE(viewOfView.GetBitObject(4000, obj));
  EXPECT_NE(obj, nullptr);

  TBRNSparseBitmap secondOwner(false, true, 0);
  secondOwner.Size = 100;
  secondOwner.SetBitObject(1, new TCountedObject, true);
  for (const TBRNSparseBitmap* source : {&view, &viewOfView}) {
    EXPECT_THROW(secondOwner.Assign(*source), std::logic_error);
    EXPECT_EQ(secondOwner.Size, 100);  // unchanged, its own object kept
    EXPECT_TRUE(secondOwner.GetBitObject(1, obj));
    EXPECT_NE(obj, nullptr);
    EXPECT_FALSE(secondOwner.IsBitSet(4000));
  }
  // Not even the owner takes references back from its own view.
  EXPECT_THROW(owner.Assign(view), std::logic_error);

  // Views drop their references without freeing anything.
  view.ClearAll();
  viewOfView.ClearBit(4000, true);
  EXPECT_EQ(TCountedObject::Live, 2);
  EXPECT_TRUE(owner.GetBitObject(4000, obj));
  EXPECT_NE(obj, nullptr);

  // Once the view holds rows only, an owner may copy them.
  secondOwner.Assign(viewOfView);
  EXPECT_EQ(secondOwner.CountSet(), 1);
  EXPECT_TRUE(secondOwner.IsBitSet(12));
  EXPECT_EQ(TCountedObject::Live, 1);  // the second owner freed its own object
}

TEST_F(TBRNSparseBitmapTest, RowsAtTheTopOfTheInt32Range) {
  TBRNSparseBitmap set(true, true, 0);
  set.Size = INT32_MAX;
  for (int64_t r = INT32_MAX - 3; r <= INT32_MAX; ++r) set.SetBit(int32_t(r));
  EXPECT_EQ(set.CountSet(), 4);
  int32_t n = INT32_MAX - 1;
  EXPECT_FALSE(set.FindNextSet(n = INT32_MAX));
  EXPECT_TRUE(set.FindNextSet(n = INT32_MAX - 1));
  EXPECT_EQ(n, INT32_MAX);
  EXPECT_TRUE(set.FindPriorSet(n = INT32_MAX));
  EXPECT_EQ(n, INT32_MAX - 1);
  // Everything after INT32_MAX - 4 is set: there is no clear int32 row left.
  EXPECT_FALSE(set.FindNextClear(n = INT32_MAX - 4));
  EXPECT_TRUE(set.FindNextClear(n = INT32_MAX - 5));
  EXPECT_EQ(n, INT32_MAX - 4);
  EXPECT_EQ(set.CountNextRun(INT32_MAX - 4, INT32_MAX), 4);
  EXPECT_EQ(set.CountPriorRun(INT32_MAX, INT32_MAX), 3);
  set.Size = INT32_MAX - 1;
  EXPECT_TRUE(set.AndBitmap(set));
  EXPECT_FALSE(set.IsBitSet(INT32_MAX));
  EXPECT_EQ(set.CountSet(), 3);
}

TEST_F(TBRNSparseBitmapTest, RowsOutsideTheRangeAreNeverMembers) {
  TBRNSparseBitmap set(true, true, 0);
  set.Size = 10;
  for (int32_t n : {0, -1, INT32_MIN}) {
    EXPECT_THROW(set.SetBit(n), std::out_of_range) << n;
    EXPECT_FALSE(set.IsBitSet(n));
    set.ClearBit(n, true);
  }
  TBRNSparseBitmap leafOnly(true, true, 3);  // a single leaf: rows 1..256
  EXPECT_THROW(leafOnly.SetBit(257), std::out_of_range);
  leafOnly.Size = 1000;
  leafOnly.SetAll();
  EXPECT_EQ(leafOnly.CountSet(), 256);
  EXPECT_THROW(set.AndBitmap(leafOnly), std::invalid_argument);
  EXPECT_THROW(TBRNSparseBitmap(true, true, 4), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// Randomised agreement of the sparse bitmap with a std::set model.

class TRowModel {
 public:
  std::set<int32_t> rows;
  std::map<int32_t, TBRNBitmapObject*> objects;

  void Remove(int32_t r) {
    rows.erase(r);
    objects.erase(r);
  }
  void CutAbove(int64_t size) {
    while (!rows.empty() && *rows.rbegin() > size) Remove(*rows.rbegin());
  }
};

struct TModelCase {
  const char* name;
  bool freeEmptyNodes;
  bool huge;  // rows near 2^31-1 with Size up there (no INVERT/SET ALL there)
};

class TSparseModelTest : public ::testing::TestWithParam<TModelCase> {
 protected:
  void SetUp() override { TCountedObject::Live = 0; }
};

TEST_P(TSparseModelTest, AgreesWithASetModel) {
  const TModelCase& param = GetParam();
  std::mt19937 random(param.huge ? 2024 : 7);
  TBRNSparseBitmap set(param.freeEmptyNodes, true, 0);
  TBRNSparseBitmap other(true, false, 0);
  TRowModel model;
  std::set<int32_t> otherModel;

  const int64_t top = INT32_MAX;
  const std::vector<int64_t> hotSpots =
      param.huge ? std::vector<int64_t>{1, 1 << 16, 1 << 24, top - 70000, top - 300, top}
                 : std::vector<int64_t>{1, 256, 4000, 1 << 16};
  const std::vector<int32_t> sizes =
      param.huge ? std::vector<int32_t>{INT32_MAX,       INT32_MAX,     INT32_MAX - 1,
                                        INT32_MAX - 200, (1 << 24) + 5, 70000}
                 : std::vector<int32_t>{0, 1, 256, 257, 3000, 4100, (1 << 16) + 40};
  auto randomRow = [&]() -> int32_t {
    int64_t r = hotSpots[random() % hotSpots.size()] + int64_t(random() % 601) - 300;
    return int32_t(std::clamp<int64_t>(r, 1, top));
  };
  auto randomN = [&]() -> int32_t {
    switch (random() % 8) {
      case 0:
        return 0;
      case 1:
        return int32_t(random() % 3) - 1 + (random() % 2 ? 0 : INT32_MAX - 1);
      case 2:
        return int32_t(std::min<int64_t>(int64_t(set.Size) + int64_t(random() % 3) - 1, top));
      default:
        return randomRow();
    }
  };
  const int32_t limits[] = {1, 3, 100, 257, 600, INT32_MAX};
  set.Size = sizes[0];

  for (int step = 0; step < 30000; ++step) {
    int32_t r = randomRow();
    int64_t size = set.Size;
    switch (random() % 40) {
      case 0:
        set.Size = sizes[random() % sizes.size()];
        break;
      case 1:
      case 2:
      case 3:
      case 4:
        set.SetBit(r);
        model.rows.insert(r);
        break;
      case 5:
      case 6: {
        auto* obj = new TCountedObject;
        set.SetBitObject(r, obj, true);
        model.rows.insert(r);
        model.objects[r] = obj;
        break;
      }
      case 7:
      case 8:
      case 9:
        set.ClearBit(r, true);
        model.Remove(r);
        break;
      case 10:
      case 11:
        if (random() % 2) {
          other.SetBit(r);
          otherModel.insert(r);
        } else {
          other.ClearBit(r, true);
          otherModel.erase(r);
        }
        break;
      case 12: {
        bool self = random() % 8 == 0;
        bool remain = set.AndBitmap(self ? set : other);
        model.CutAbove(size);
        if (!self) {
          for (auto it = model.rows.begin(); it != model.rows.end();) {
            int32_t row = *it++;
            if (!otherModel.count(row)) model.Remove(row);
          }
        }
        ASSERT_EQ(remain, !model.rows.empty()) << step;
        break;
      }
      case 13: {
        bool remain = set.OrBitmap(other);
        model.CutAbove(size);
        for (int32_t row : otherModel)
          if (row <= size) model.rows.insert(row);
        ASSERT_EQ(remain, !model.rows.empty()) << step;
        break;
      }
      case 14:
        if (param.huge || random() % 6 != 0) break;
        if (random() % 3 == 0) {
          set.SetAll();
          model.CutAbove(size);
          for (int32_t row = 1; row <= size; ++row) model.rows.insert(row);
        } else {
          bool remain = set.Invert();
          model.CutAbove(size);
          std::set<int32_t> inverted;
          for (int32_t row = 1; row <= size; ++row)
            if (!model.rows.count(row)) inverted.insert(inverted.end(), row);
          model.objects.clear();  // every row that stays in was clear before
          model.rows.swap(inverted);
          ASSERT_EQ(remain, !model.rows.empty()) << step;
        }
        break;
      case 15:
        if (random() % 20 != 0) break;
        if (random() % 2) {
          set.ClearAll();
          model = TRowModel();
        } else {
          other.Size = set.Size;
          set.Assign(other);
          model = TRowModel();
          model.rows = otherModel;
        }
        break;
      case 16:
      case 17: {  // membership and objects
        TBRNBitmapObject* obj = reinterpret_cast<TBRNBitmapObject*>(1);
        bool member = model.rows.count(r) > 0;
        ASSERT_EQ(set.IsBitSet(r), member) << step;
        ASSERT_EQ(set.GetBitObject(r, obj), member) << step;
        auto it = model.objects.find(r);
        ASSERT_EQ(obj, it == model.objects.end() ? nullptr : it->second) << step;
        break;
      }
      case 18:
      case 19: {
        int32_t n = randomN(), found = n;
        TBRNBitmapObject* obj = nullptr;
        auto it = model.rows.upper_bound(n);
        bool any = n < size && it != model.rows.end() && *it <= size;
        ASSERT_EQ(set.FindNextSetObject(found, obj), any) << step << " n=" << n;
        ASSERT_EQ(found, any ? *it : n) << step;
        if (any) {
          auto o = model.objects.find(*it);
          ASSERT_EQ(obj, o == model.objects.end() ? nullptr : o->second) << step;
        }
        break;
      }
      case 20:
      case 21: {
        int32_t n = randomN(), found = n;
        auto it = model.rows.lower_bound(int32_t(std::min<int64_t>(n, size + 1)));
        bool any = n > 0 && it != model.rows.begin();
        int32_t expected = any ? *std::prev(it) : n;
        ASSERT_EQ(set.FindPriorSet(found), any) << step << " n=" << n;
        ASSERT_EQ(found, expected) << step;
        break;
      }
      case 22:
      case 23: {
        int32_t n = randomN(), found = n;
        int64_t expected = int64_t(std::max(n, 0)) + 1;
        for (auto it = model.rows.lower_bound(int32_t(std::min<int64_t>(expected, top)));
             it != model.rows.end() && *it == expected; ++it)
          ++expected;
        bool any = n < size && expected <= top;
        ASSERT_EQ(set.FindNextClear(found), any) << step << " n=" << n;
        ASSERT_EQ(found, any ? expected : n) << step;
        break;
      }
      case 24:
      case 25: {
        int32_t n = randomN(), limit = limits[random() % 6];
        int64_t count = 0;
        if (int64_t(n) + 1 >= 1 && n < size) {
          int64_t cap = std::min<int64_t>(limit, size - n);
          while (count < cap && model.rows.count(int32_t(n + 1 + count))) ++count;
        }
        ASSERT_EQ(set.CountNextRun(n, limit), std::max<int64_t>(count, 1)) << step << " n=" << n;
        break;
      }
      case 26:
      case 27: {
        int32_t n = randomN(), limit = limits[random() % 6];
        int64_t count = 0, row = int64_t(n) - 1;
        if (row >= 1 && row <= size) {
          int64_t cap = std::min<int64_t>(limit, row);
          while (count < cap && model.rows.count(int32_t(row - count))) ++count;
        }
        ASSERT_EQ(set.CountPriorRun(n, limit), std::max<int64_t>(count, 1)) << step << " n=" << n;
        break;
      }
      case 28: {  // walk both ways
        if (random() % 4 != 0) break;
        std::vector<int32_t> forward, backward, expected;
        for (int32_t row : model.rows)
          if (row <= size) expected.push_back(row);
        for (int32_t n = 0; set.FindNextSet(n);) forward.push_back(n);
        ASSERT_EQ(forward, expected) << step;
        // A backward walk starts after Size; row 2^31-1 cannot be passed as "after" and is
        // looked up on its own.
        if (size == top && set.IsBitSet(INT32_MAX)) backward.push_back(INT32_MAX);
        for (int32_t n = int32_t(std::min<int64_t>(size + 1, top)); set.FindPriorSet(n);)
          backward.insert(backward.begin(), n);
        ASSERT_EQ(backward, expected) << step;
        break;
      }
      default:
        break;
    }
    ASSERT_EQ(set.CountSet(), int32_t(model.rows.size())) << step;
    ASSERT_EQ(TCountedObject::Live, int(model.objects.size())) << step;
  }
}

INSTANTIATE_TEST_SUITE_P(Trees, TSparseModelTest,
                         ::testing::Values(TModelCase{"FreeNodes", true, false},
                                           TModelCase{"KeepNodes", false, false},
                                           TModelCase{"FreeNodesHugeRows", true, true},
                                           TModelCase{"KeepNodesHugeRows", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brn
