#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "foundation/runtime/handle_objects.h"
#include "storage/rows/row_locks.h"

namespace brn {
namespace {

// Nodes of the tree below (and including) node.
int32_t CountNodes(const TBRNSparseBitmapNode* node) {
  if (node == nullptr) return 0;
  int32_t count = 1;
  for (const auto& child : node->Children) count += CountNodes(child.get());
  return count;
}

TEST(RowLocks, FirstHolderWinsAndRecordsMoveAsAsked) {
  TBRNHandleObject cursor, manager;
  TBRNRowLocks locks;
  locks.AddLock(&cursor, 7, 1);
  locks.AddLock(&manager, 7, 2);
  ASSERT_NE(locks.FindLock(7), nullptr);
  EXPECT_EQ(locks.FindLock(7)->Holder, &cursor);
  EXPECT_EQ(locks.FindLock(7)->Value, 1);
  EXPECT_EQ(locks.Count(), 1);
  EXPECT_FALSE(locks.IsLocked(0));
  EXPECT_FALSE(locks.IsLocked(-3));
  EXPECT_EQ(locks.FindLock(8), nullptr);

  // Detach hands the record over; PutLock gives it (to another set).
  TBRNRowLock* record = locks.DetachLock(7);
  ASSERT_NE(record, nullptr);
  EXPECT_FALSE(locks.IsLocked(7));
  TBRNRowLocks other;
  other.PutLock(9, record);
  EXPECT_EQ(other.FindLock(9), record);
  // PutLock over a record frees the old one (the leak check sees it).
  other.PutLock(9, new TBRNRowLock(&manager, 5));
  EXPECT_EQ(other.FindLock(9)->Holder, &manager);
  other.RemoveLock(9);
  other.RemoveLock(9);
  EXPECT_EQ(other.Count(), 0);
  EXPECT_EQ(locks.DetachLock(7), nullptr);
  EXPECT_THROW(locks.AddLock(&cursor, 0, 0), std::out_of_range);
  // A record handed to a row that cannot be locked is freed, not lost (the
  // leak check sees it).
  EXPECT_THROW(other.PutLock(0, new TBRNRowLock(&manager, 6)), std::out_of_range);
  EXPECT_EQ(other.Count(), 0);
}

TEST(RowLocks, IterationIsAscendingAndMemoryFollowsTheLockedRows) {
  TBRNHandleObject holder;
  TBRNRowLocks locks;
  const std::vector<int32_t> rows = {2147483647, 65536, 257, 1, 256, 255, 65537, 16777217};
  for (int32_t row : rows) locks.AddLock(&holder, row, row % 1000);
  int32_t nodesWithAll = CountNodes(locks.GetBitmap().Root.get());

  std::vector<std::pair<int32_t, int32_t>> seen;
  int32_t row = 0;
  TBRNRowLock* lock = nullptr;
  while (locks.NextLock(row, lock)) seen.emplace_back(row, lock->Value);
  const std::vector<std::pair<int32_t, int32_t>> expected = {
      {1, 1},       {255, 255},   {256, 256},      {257, 257},
      {65536, 536}, {65537, 537}, {16777217, 217}, {2147483647, 647}};
  EXPECT_EQ(seen, expected);
  std::vector<int32_t> plain;
  row = 256;
  while (locks.NextLockedRow(row)) plain.push_back(row);
  EXPECT_EQ(plain, (std::vector<int32_t>{257, 65536, 65537, 16777217, 2147483647}));

  // Removing rows frees their nodes; an empty set is its root alone.
  locks.RemoveLock(2147483647);
  locks.RemoveLock(16777217);
  EXPECT_LT(CountNodes(locks.GetBitmap().Root.get()), nodesWithAll);
  for (int32_t r : rows) locks.RemoveLock(r);
  EXPECT_EQ(CountNodes(locks.GetBitmap().Root.get()), 1);

  for (int32_t r : rows) locks.AddLock(&holder, r, 0);
  locks.Clear();
  EXPECT_EQ(locks.Count(), 0);
  EXPECT_EQ(CountNodes(locks.GetBitmap().Root.get()), 1);
  row = 0;
  EXPECT_FALSE(locks.NextLockedRow(row));
}

}  // namespace
}  // namespace brn
