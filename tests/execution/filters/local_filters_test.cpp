#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "execution/filters/filter_test_support.h"
#include "foundation/text/exception.h"

namespace brn::testing {
namespace {

using LocalFiltersTest = FilterTable;

// A filter with a fixed set: Build puts its rows in (Mode 0) or keeps only
// those of the candidates (Mode 2), and records the mode.
class SetFilter : public TBRNLocalFilter {
 public:
  SetFilter(TBRNFilterCursor& cursor, int32_t kind, int32_t level, std::vector<int32_t> rows)
      : TBRNLocalFilter(cursor), rows_(std::move(rows)) {
    Kind = kind;
    Level = level;
  }
  void Build(int32_t Mode, int32_t) override {
    LastMode = Mode;
    TBRNSparseBitmap own(true, true, 0);
    own.Size = Rows->Size;
    for (int32_t n : rows_) own.SetBit(n);
    if (Mode == 2)
      Rows->AndBitmap(own);
    else
      Rows->Assign(own);
  }
  int32_t LastMode = -1;

 private:
  std::vector<int32_t> rows_;
};

TEST_F(LocalFiltersTest, AddOrdersByKindAndLevelAndWrapsHandles) {
  CreateTable(false);
  auto cursor = Cursor();
  TBRNLocalFilters list(*cursor);
  auto add = [&](int32_t kind, int32_t level, bool order) {
    return list.Add(std::make_unique<SetFilter>(*cursor, kind, level, std::vector<int32_t>{}),
                    order);
  };
  TBRNLocalFilter* level0 = add(1, 0, true);
  TBRNLocalFilter* level2 = add(1, 2, true);
  TBRNLocalFilter* level0b = add(1, 0, true);
  TBRNLocalFilter* unordered = add(1, 2, false);
  TBRNLocalFilter* range = add(0, 2, true);
  std::vector<TBRNLocalFilter*> order;
  for (int32_t i = 0; i < list.GetCount(); ++i) order.push_back(list.GetItem(i));
  EXPECT_EQ(order, (std::vector<TBRNLocalFilter*>{range, level2, level0, level0b, unordered}));
  EXPECT_EQ(level0->Handle, 1);
  EXPECT_EQ(range->Handle, 5);

  list.SetNextHandle(2147483647);
  EXPECT_EQ(add(3, 2, false)->Handle, 1);

  EXPECT_EQ(list.FindFilter(level0->Handle), level0);
  EXPECT_EQ(level0->Position, 2);
  try {
    list.FindFilter(12345);
    FAIL() << "no error";
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 1001);
    EXPECT_EQ(e.ErrorMessage, "A filter error occurred (Filter not found)");
  }
}

TEST_F(LocalFiltersTest, BuildOneStartsFromTheActiveFiltersBefore) {
  CreateTable(false);
  auto cursor = Cursor();
  TBRNLocalFilters list(*cursor);
  auto* first = static_cast<SetFilter*>(
      list.Add(std::make_unique<SetFilter>(*cursor, 1, 2, std::vector<int32_t>{1, 2, 3, 4}), true));
  auto* second = static_cast<SetFilter*>(
      list.Add(std::make_unique<SetFilter>(*cursor, 1, 0, std::vector<int32_t>{2, 4, 6}), true));
  first->SetActive(true);
  second->SetActive(true);

  // Size 0 changes nothing.
  second->Rows->Size = 10;
  second->Rows->SetBit(9);
  list.BuildOne(second, 0, -1);
  EXPECT_EQ(Members(*second->Rows), (std::vector<int32_t>{9}));
  EXPECT_EQ(second->LastMode, -1);

  list.BuildFrom(0, 10, -1);
  EXPECT_EQ(first->LastMode, 0);
  EXPECT_EQ(second->LastMode, 2);
  EXPECT_EQ(Members(*second->Rows), (std::vector<int32_t>{2, 4}));

  // A level-0 filter that is the first active one is built from nothing.
  first->SetActive(false);
  EXPECT_EQ(first->Rows->CountSet(), 0);
  list.BuildOne(second, 10, -1);
  EXPECT_EQ(second->LastMode, 0);
  EXPECT_EQ(Members(*second->Rows), (std::vector<int32_t>{2, 4, 6}));

  TBRNSparseBitmap target(true, true, 0);
  bool started = false, hasRange = false, hasFilter = false;
  first->SetActive(true);
  list.BuildFrom(0, 10, -1);
  list.Combine(target, nullptr, started, hasRange, hasFilter);
  EXPECT_TRUE(started);
  EXPECT_FALSE(hasRange);
  EXPECT_TRUE(hasFilter);
  EXPECT_EQ(Members(target), (std::vector<int32_t>{2, 4}));
}

TEST_F(LocalFiltersTest, RangesBuildFromKeysAndMergeIntoTheirSpan) {
  CreateTable(false);
  for (int32_t i = 1; i <= 40; ++i) {
    TestRow row;
    row.A = i;
    Insert(row);
  }
  auto cursor = Cursor();
  auto range = [&](int32_t low, int32_t high) {
    auto filter = std::make_unique<TBRNRangeFilter>(*cursor);
    filter->Prepare(0);
    filter->RangeStart->GetItem(0)->SetAsInteger(low);
    filter->RangeEnd->GetItem(0)->SetAsInteger(high);
    filter->SetActive(true);
    filter->Rows->Size = SlotCount();
    filter->Build(0, 0);
    return filter;
  };
  auto a = range(10, 20);
  auto b = range(15, 30);
  EXPECT_EQ(a->Rows->CountSet(), 11);
  EXPECT_EQ(b->Rows->CountSet(), 16);

  TBRNRangeFilter combined(*cursor);
  combined.SetActive(true);
  combined.MergeRange(b.get());
  combined.MergeRange(a.get());
  EXPECT_EQ(combined.RangeStart->GetItem(0)->GetAsInteger(), 10);
  EXPECT_EQ(combined.RangeEnd->GetItem(0)->GetAsInteger(), 30);
  std::vector<int32_t> both;
  for (int32_t i = 15; i <= 20; ++i) both.push_back(i);
  EXPECT_EQ(Members(*combined.Rows), both);
  // Deactivating clears the set and the merge.
  combined.SetActive(false);
  EXPECT_FALSE(combined.Merged);
  EXPECT_EQ(combined.Rows->CountSet(), 0);

  // An expression range takes its bounds from the keys of its rows.
  TBRNExprRangeFilter derived(*cursor);
  derived.SetActive(true);
  derived.Rows->Size = SlotCount();
  for (int32_t n : {12, 5, 33}) derived.Rows->SetBit(n);
  derived.Build(0, 0);
  EXPECT_EQ(derived.RangeStart->GetItem(0)->GetAsInteger(), 5);
  EXPECT_EQ(derived.RangeEnd->GetItem(0)->GetAsInteger(), 33);
  EXPECT_EQ(derived.Rows->CountSet(), 3);

  // RemoveDeletedRows in a Mode other than 2: every row 1 to the slot count.
  TBRNSparseBitmap all(true, true, 0);
  derived.GetScanNavigator().RemoveDeletedRows(all, 0);
  EXPECT_EQ(all.CountSet(), 40);

  // An index the table does not have.
  EXPECT_THROW(derived.GetKeyNavigator(99), std::logic_error);
}

// The bounds of an expression range come from live rows only, its set is
// left as given, and ranges need no index navigator to hold bounds.
TEST_F(LocalFiltersTest, ExpressionRangeBoundsSkipDeletedRowsAndKeepTheSet) {
  CreateTable(false);
  for (int32_t i = 1; i <= 40; ++i) {
    TestRow row;
    row.A = i;
    Insert(row);
  }
  Delete(3);
  Delete(38);
  auto cursor = Cursor();
  struct BoundsCase {
    std::vector<int32_t> Set;
    int32_t Low;
    int32_t High;
  };
  // The deleted rows 3 and 38 would widen the bounds if they counted.
  const BoundsCase cases[] = {
      {{3, 12, 20, 38}, 12, 20},
      {{7}, 7, 7},
      {{38, 39}, 39, 39},
  };
  for (const BoundsCase& c : cases) {
    TBRNExprRangeFilter derived(*cursor);
    derived.SetActive(true);
    derived.Rows->Size = SlotCount();
    for (int32_t n : c.Set) derived.Rows->SetBit(n);
    derived.Build(0, 0);
    EXPECT_EQ(derived.RangeStart->GetItem(0)->GetAsInteger(), c.Low) << c.Set.front();
    EXPECT_EQ(derived.RangeEnd->GetItem(0)->GetAsInteger(), c.High) << c.Set.front();
    EXPECT_EQ(Members(*derived.Rows), c.Set);
  }

  // A set of nothing but deleted rows leaves the bounds as they were.
  TBRNExprRangeFilter empty(*cursor);
  empty.SetActive(true);
  empty.Rows->Size = SlotCount();
  empty.Rows->SetBit(3);
  empty.Prepare(0);
  empty.RangeStart->GetItem(0)->SetAsInteger(-1);
  empty.RangeEnd->GetItem(0)->SetAsInteger(-2);
  empty.Build(0, 0);
  EXPECT_EQ(empty.RangeStart->GetItem(0)->GetAsInteger(), -1);
  EXPECT_EQ(empty.RangeEnd->GetItem(0)->GetAsInteger(), -2);

  // Preparing or merging on an index the table does not have.
  TBRNRangeFilter missing(*cursor);
  EXPECT_THROW(missing.Prepare(99), std::logic_error);
  EXPECT_THROW(missing.Prepare(-1), std::logic_error);
  EXPECT_FALSE(missing.KeysAllocated);
}

TEST_F(LocalFiltersTest, RowChangesKeepTheSetsCurrent) {
  CreateTable(false);
  FillStandard(20);
  auto cursor = Cursor();
  auto filter = Filter(*cursor, "A > 10");
  Build(*filter);
  EXPECT_EQ(filter->Rows->CountSet(), 10);
  auto values = [&](int32_t a) {
    auto buffer = std::shared_ptr<TBRNRowsetRow>(Manager->NewRowBuffer().release());
    auto result = std::make_shared<TBRNRowsetRowValues>(Manager->GetColumns(), Manager);
    result->SetRow(buffer.get());
    result->SetAllNull();
    result->GetItem(1)->SetAsInteger(a);
    return std::make_pair(buffer, result);
  };
  // A row beyond the set's size raises the size; a failing row stays out.
  auto [passBuffer, passing] = values(50);
  filter->AddRow(25, *passing);
  EXPECT_EQ(filter->Rows->Size, 25);
  EXPECT_TRUE(filter->Rows->IsBitSet(25));
  auto [failBuffer, failing] = values(3);
  filter->AddRow(26, *failing);
  EXPECT_EQ(filter->Rows->Size, 26);
  EXPECT_FALSE(filter->Rows->IsBitSet(26));
  // An update that no longer passes removes the row; RemoveRow removes.
  filter->UpdateRow(25, *failing);
  EXPECT_FALSE(filter->Rows->IsBitSet(25));
  filter->UpdateRow(12, *passing);
  EXPECT_TRUE(filter->Rows->IsBitSet(12));
  filter->RemoveRow(12);
  EXPECT_FALSE(filter->Rows->IsBitSet(12));

  TBRNLocalFilters list(*cursor);
  TBRNLocalFilter* listed = list.Add(std::move(filter), true);
  EXPECT_TRUE(list.AnyActive());
  EXPECT_TRUE(list.RowPassesAll(*passing));
  EXPECT_FALSE(list.RowPassesAll(*failing));
  list.UpdateRowAll(13, *passing);
  EXPECT_TRUE(listed->Rows->IsBitSet(13));
  list.RemoveRowAll(13);
  EXPECT_FALSE(listed->Rows->IsBitSet(13));
  list.Remove(listed);
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_FALSE(list.AnyActive());
}

}  // namespace
}  // namespace brn::testing
