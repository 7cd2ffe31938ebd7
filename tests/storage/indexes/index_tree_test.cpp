// B-trees under load: random inserts and deletes in a unique and a
// non-unique index of one file, checked against the expected contents after
// a reopen.
#include <algorithm>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "storage/indexes/index_file_test_support.h"

namespace brn::testing {
namespace {

struct Entry {
  int32_t Key;
  int32_t Row;
  bool operator<(const Entry& other) const {
    return Key != other.Key ? Key < other.Key : Row < other.Row;
  }
  bool operator==(const Entry& other) const = default;
};

class IndexTree : public ::testing::Test {
 protected:
  void SetUp() override {
    // The writer holds the table exclusively: its header changes stay its
    // own until it flushes.
    host_.ExclusiveLock = true;
    indexHost_.Add("ByCode", 1, {IntegerColumn()});   // primary key: unique
    indexHost_.Add("ByGroup", 0, {IntegerColumn()});  // ordinary: items by row ID
    Open();
  }
  void Open() {
    file_ = std::make_unique<TestIndexFile>(&host_, &indexHost_, &files_);
    file_->OpenOrCreate();
    unique_ = std::make_unique<TBRNIndexNavigator>(file_.get(), 0);
    items_ = std::make_unique<TBRNIndexNavigator>(file_.get(), 1);
  }
  void Reopen() {
    unique_.reset();
    items_.reset();
    file_->Flush(true);
    file_->Close();
    file_.reset();
    Open();
  }
  // The index walked first to last.
  std::vector<Entry> Walk(TBRNIndexNavigator& navigator) {
    std::vector<Entry> seen;
    bool restart = false;
    bool more = navigator.First(restart);
    while (more) {
      const TBRNIndexKey& key = navigator.GetCurrentKey();
      seen.push_back({key.GetItem(0)->GetAsInteger(), navigator.GetRowNumber()});
      more = navigator.Next(restart);
    }
    EXPECT_FALSE(restart);
    return seen;
  }
  std::vector<std::string> Verify() {
    host_.Log.clear();
    bool errors = false;
    EXPECT_TRUE(file_->Verify(errors, false));
    EXPECT_FALSE(errors);
    return host_.Log;
  }

  TempFolder temp_;
  TBRNOSFileManager files_{nullptr};
  FakeHost host_{temp_.Path, "Orders"};
  FakeIndexHost indexHost_;
  std::unique_ptr<TestIndexFile> file_;
  std::unique_ptr<TBRNIndexNavigator> unique_;
  std::unique_ptr<TBRNIndexNavigator> items_;
};

TEST_F(IndexTree, RandomInsertsAndDeletesKeepBothTreesSoundAndCounted) {
  constexpr int32_t kRows = 200000;
  std::mt19937 random(20261210);
  std::vector<Entry> unique;
  std::vector<Entry> items;
  std::vector<int32_t> codes(kRows);
  for (int32_t i = 0; i < kRows; ++i) codes[size_t(i)] = i * 7 + 3;
  std::shuffle(codes.begin(), codes.end(), random);
  std::uniform_int_distribution<int32_t> group(0, 4999);
  for (int32_t row = 1; row <= kRows; ++row) {
    unique.push_back({codes[size_t(row - 1)], row});
    // One key holds 1,000 rows spread over the whole insert order.
    items.push_back({row % 200 == 0 ? 77777 : group(random), row});
  }
  std::vector<size_t> order(kRows);
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);

  TestKey key0(unique_->GetLayout());
  TestKey key1(items_->GetLayout());
  size_t half = order.size() / 2;
  for (size_t n = 0; n < order.size(); ++n) {
    if (n == half) Reopen();
    const Entry& u = unique[order[n]];
    unique_->InsertKey(key0.Int(u.Key).Get(), u.Row);
    const Entry& g = items[order[n]];
    items_->InsertKey(key1.Int(g.Key, g.Row).Get(), g.Row);
  }
  Reopen();

  EXPECT_EQ(Verify(), std::vector<std::string>{});
  std::sort(unique.begin(), unique.end());
  std::sort(items.begin(), items.end());
  EXPECT_TRUE(Walk(*unique_) == unique);
  EXPECT_TRUE(Walk(*items_) == items);
  EXPECT_EQ(
      std::count_if(items.begin(), items.end(), [](const Entry& e) { return e.Key == 77777; }),
      1000);
  for (int32_t i : {0, 1}) {
    file_->SelectIndex(i);
    EXPECT_EQ(file_->GetKeyCount(), kRows) << i;
    EXPECT_GT(file_->GetLeafPageCount(), 1) << i;
    EXPECT_GT(file_->GetInternalKeyCount(), 0) << i;
  }
  EXPECT_EQ(PinnedPages(*file_), 0);

  std::shuffle(order.begin(), order.end(), random);
  for (size_t n = 0; n < order.size(); ++n) {
    if (n == half) {
      Reopen();
      EXPECT_EQ(Verify(), std::vector<std::string>{}) << "half deleted";
    }
    const Entry& u = unique[order[n]];
    unique_->DeleteKey(key0.Int(u.Key).Get());
    const Entry& g = items[order[n]];
    items_->DeleteKey(key1.Int(g.Key, g.Row).Get());
  }
  Reopen();
  for (int32_t i : {0, 1}) {
    file_->SelectIndex(i);
    const TBRNIndexHeader& header = file_->GetHeaders()[size_t(i)];
    EXPECT_EQ(header.RootPage, 0) << i;
    EXPECT_EQ(header.KeyCount, 0) << i;
    EXPECT_EQ(header.LeafPageCount, 0) << i;
    EXPECT_EQ(header.InternalPageCount, 0) << i;
    EXPECT_EQ(header.InternalKeyCount, 0) << i;
  }
  EXPECT_GT(file_->GetBlockCount(), 100);
  EXPECT_EQ(FreeListLength(*file_), file_->GetBlockCount()) << "every page is free";
  EXPECT_EQ(Verify(), std::vector<std::string>{});
}

}  // namespace
}  // namespace brn::testing
