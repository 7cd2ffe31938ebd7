// The index navigator: splits, walks in key order, ranges, positioning by
// key and sequence, missing keys, and another process changing the file.
#include <sys/wait.h>
#include <unistd.h>

#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/test_support.h"
#include "foundation/values/contained_value.h"
#include "storage/indexes/index_file_test_support.h"

namespace brn::testing {
namespace {

// A navigator over a range of keys from Start to End (inclusive).
class RangeNavigator : public TBRNIndexNavigator {
 public:
  RangeNavigator(TBRNIndexManager* file, int32_t index)
      : TBRNIndexNavigator(file, index), Start(GetLayout()), End(GetLayout()) {}

  TBRNContainedIndexKeyValues Start;
  TBRNContainedIndexKeyValues End;
  bool Ranged = true;

  bool GetRanged() override { return Ranged; }
  const TBRNKeyValues* GetRangeStartValues() override { return &Start; }
  const TBRNKeyValues* GetRangeEndValues() override { return &End; }
  int32_t CompareWithRange(const TBRNKeyValues& key) override {
    if (key.Compare(Start, 0, false) < 0) return -1;
    if (key.Compare(End, 0, false) > 0) return 1;
    return 0;
  }
};

class IndexNavigatorTest : public ::testing::Test {
 protected:
  void SetUp() override { host_.ExclusiveLock = true; }
  TestIndexFile& Open() {
    file_ = std::make_unique<TestIndexFile>(&host_, &indexHost_, &files_);
    file_->OpenOrCreate();
    return *file_;
  }
  // The keys as text, first to last or last to first.
  std::vector<std::string> Walk(TBRNIndexNavigator& navigator, bool backward = false) {
    std::vector<std::string> keys;
    bool restart = false;
    bool more = backward ? navigator.Last(restart) : navigator.First(restart);
    while (more) {
      keys.push_back(navigator.GetCurrentKey().GetItem(0)->GetAsString());
      more = backward ? navigator.Prior(restart) : navigator.Next(restart);
    }
    EXPECT_FALSE(restart);
    EXPECT_EQ(PinnedPages(*file_), 0);
    return keys;
  }
  void InsertTexts(TBRNIndexNavigator& navigator, const std::vector<std::string>& texts) {
    TestKey key(navigator.GetLayout());
    int32_t row = 0;
    for (const std::string& text : texts) {
      ++row;
      navigator.InsertKey(key.Text(text, row).Get(), row);
    }
  }

  TBRNMemoryFileManager files_{nullptr};
  FakeHost host_{"/mem/db/", "Orders"};
  FakeIndexHost indexHost_;
  std::unique_ptr<TestIndexFile> file_;
};

TEST_F(IndexNavigatorTest, AFullRootLeafSplitsIntoTwoLinkedLeavesUnderANewRoot) {
  // A unique key 10 bytes wide: (4096 - 11) div 14 = 291 entries a leaf.
  indexHost_.Add("Codes", 1, {CharColumn(9, 0, false, true)});
  TestIndexFile& file = Open();
  TBRNIndexNavigator navigator(&file, 0);
  TestKey key(navigator.GetLayout());
  auto code = [](int32_t i) {
    std::string text = std::to_string(100000 + i);
    return text;
  };
  for (int32_t i = 0; i < 291; ++i) navigator.InsertKey(key.Text(code(i)).Get(), i + 1);
  int32_t root = file.GetRootPage();
  TBRNIndexPage* page = file.GetPage(root);
  EXPECT_EQ(page->PageType, kIndexPageRootLeaf);
  EXPECT_EQ(page->EntryCount, 291);
  EXPECT_EQ(page->GetMaxItems(), 291);
  file.ReleasePage(page);

  navigator.InsertKey(key.Text(code(291)).Get(), 292);
  ASSERT_NE(file.GetRootPage(), root);
  page = file.GetPage(file.GetRootPage());
  EXPECT_EQ(page->PageType, kIndexPageRootInternal);
  EXPECT_EQ(page->EntryCount, 2);
  file.ReleasePage(page);
  TBRNIndexPage* left = file.GetPage(root);
  EXPECT_EQ(left->PageType, kIndexPageLeaf);
  EXPECT_EQ(left->EntryCount, 146);
  EXPECT_EQ(left->PriorLink, 0);
  TBRNIndexPage* right = file.GetPage(left->NextLink);
  EXPECT_EQ(right->PageType, kIndexPageLeaf);
  EXPECT_EQ(right->EntryCount, 146);
  EXPECT_EQ(right->PriorLink, root);
  EXPECT_EQ(right->NextLink, 0);
  file.ReleasePage(right);
  file.ReleasePage(left);
  EXPECT_EQ(file.GetLeafPageCount(), 2);
  EXPECT_EQ(file.GetInternalPageCount(), 0);
  EXPECT_EQ(file.GetKeyCount(), 292);
}

TEST_F(IndexNavigatorTest, WalksFollowTheCollationAndDirectionOfTheKey) {
  std::vector<std::string> texts = {"delta", "Bravo", "alpha", "Charlie", "echo", "ALPS"};
  struct Case {
    const char* Name;
    TBRNIndexKeyColumn Column;
    std::vector<std::string> Expected;
  };
  for (const Case& c : std::vector<Case>{
           {"binary", CharColumn(20), {"ALPS", "Bravo", "Charlie", "alpha", "delta", "echo"}},
           {"descending",
            CharColumn(20, 0, true),
            {"echo", "delta", "alpha", "Charlie", "Bravo", "ALPS"}},
           {"case-insensitive",
            CharColumn(20, kCaseInsensitive),
            {"alpha", "ALPS", "Bravo", "Charlie", "delta", "echo"}},
       }) {
    SCOPED_TRACE(c.Name);
    indexHost_.Layouts.clear();
    indexHost_.Rebuild.clear();
    indexHost_.Add("Names", 0, {c.Column});
    host_.Name = std::string("T") + c.Name;
    TestIndexFile& file = Open();
    TBRNIndexNavigator navigator(&file, 0);
    InsertTexts(navigator, texts);
    EXPECT_EQ(Walk(navigator), c.Expected);
    std::vector<std::string> reversed(c.Expected.rbegin(), c.Expected.rend());
    EXPECT_EQ(Walk(navigator, true), reversed);
  }
}

TEST_F(IndexNavigatorTest, ARangeBoundsEveryMoveAcrossLeaves) {
  indexHost_.Add("Numbers", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  RangeNavigator navigator(&file, 0);
  TestKey key(navigator.GetLayout());
  // 1 .. 3000 step 2, several leaves; B = 1001, D = 2001 (keys), each present
  // twice (rows n and n + 1).
  for (int32_t n = 1; n < 3000; n += 2) {
    navigator.InsertKey(key.Int(n, n).Get(), n);
    navigator.InsertKey(key.Int(n, n + 1).Get(), n + 1);
  }
  navigator.Start.GetItem(0)->SetAsInteger(1000);
  navigator.End.GetItem(0)->SetAsInteger(2001);
  bool restart = false;
  ASSERT_TRUE(navigator.First(restart));
  EXPECT_EQ(navigator.GetCurrentKey().GetItem(0)->GetAsInteger(), 1001)
      << "the first key not below the start";
  EXPECT_EQ(navigator.GetRowNumber(), 1001);
  int32_t count = 1;
  int32_t last = 0;
  while (navigator.Next(restart)) {
    ++count;
    last = navigator.GetCurrentKey().GetItem(0)->GetAsInteger();
  }
  EXPECT_TRUE(navigator.GetEof());
  EXPECT_EQ(count, 1002);
  EXPECT_EQ(last, 2001);
  EXPECT_EQ(navigator.GetCurrentKey().GetItem(0)->GetAsInteger(), 2001)
      << "EOF leaves the last key of the range current";

  ASSERT_TRUE(navigator.Last(restart));
  EXPECT_EQ(navigator.GetRowNumber(), 2002);
  count = 1;
  while (navigator.Prior(restart)) ++count;
  EXPECT_TRUE(navigator.GetBof());
  EXPECT_EQ(count, 1002);

  // Searches outside the range land on its ends; inside, on the first key
  // not below the values.
  TestKey probe(navigator.GetLayout());
  for (auto [value, expected, result] : std::vector<std::tuple<int32_t, int32_t, int32_t>>{
           {5, 1001, 1}, {2900, 2001, -1}, {1500, 1501, 1}, {1501, 1501, 0}}) {
    SCOPED_TRACE(value);
    EXPECT_EQ(navigator.FindKey(probe.Int(value).Get(), 0, restart, false), result);
    EXPECT_EQ(navigator.GetCurrentKey().GetItem(0)->GetAsInteger(), expected);
  }
  // An empty range: nothing is current.
  navigator.Start.GetItem(0)->SetAsInteger(1002);
  navigator.End.GetItem(0)->SetAsInteger(1002);
  EXPECT_FALSE(navigator.First(restart));
  EXPECT_TRUE(navigator.GetBof() && navigator.GetEof());
  EXPECT_EQ(navigator.GetRowNumber(), 0);
  EXPECT_EQ(PinnedPages(file), 0);
}

TEST_F(IndexNavigatorTest, PositionsBySequenceKeyAndRowAndEstimatesCounts) {
  indexHost_.Add("Numbers", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  TBRNIndexNavigator navigator(&file, 0);
  TestKey key(navigator.GetLayout());
  constexpr int32_t kKeys = 2000;
  for (int32_t n = 1; n <= kKeys; ++n) navigator.InsertKey(key.Int(n * 10, n).Get(), n);

  for (auto [sequence, expected] : std::vector<std::pair<int32_t, int32_t>>{
           {kKeys, kKeys * 10}, {1, 10}, {1500, 15000}, {7, 70}, {kKeys + 5, kKeys * 10}}) {
    SCOPED_TRACE(sequence);
    EXPECT_TRUE(navigator.GotoSequenceNumber(sequence));
    EXPECT_EQ(navigator.GetCurrentKey().GetItem(0)->GetAsInteger(), expected);
  }
  EXPECT_FALSE(navigator.GotoRowNumber(5));

  bool restart = false;
  EXPECT_EQ(navigator.GotoKey(key.Int(500, 50).Get(), restart), 0);
  EXPECT_EQ(navigator.GetRowNumber(), 50);
  EXPECT_EQ(navigator.GotoKey(key.Int(500, 49).Get(), restart), 1) << "row ID completes the key";
  EXPECT_TRUE(navigator.HasKey(key.Int(500, 50).Get(), 50));
  EXPECT_FALSE(navigator.HasKey(key.Int(500, 50).Get(), 51));
  EXPECT_FALSE(navigator.HasKey(key.Int(505, 50).Get(), 50));

  // Rows 1 .. 30 follow each other in key order: the read-ahead stops at
  // the end of the leaf or at the limit.
  navigator.First(restart);
  EXPECT_EQ(navigator.GetReadAheadCount(1, kDirectionForward, 20), 20);
  EXPECT_EQ(navigator.GetReadAheadCount(1, kDirectionNone, 20), 1);
  EXPECT_EQ(navigator.GetReadAheadCount(1, kDirectionBackward, 20), 1);

  // The estimates are exact in a tree of one page.
  indexHost_.Add("Small", 0, {IntegerColumn()});
  file.AddIndex(1);
  TBRNIndexNavigator small(&file, 1);
  for (int32_t n = 1; n <= 50; ++n) small.InsertKey(key.Int(n * 10, n).Get(), n);
  EXPECT_EQ(small.CountKeysBelow(key.Int(200).Get(), 0, false, restart), 19);
  EXPECT_EQ(small.CountKeysUpTo(key.Int(200).Get(), 0, false, restart), 20);
  EXPECT_EQ(small.CountKeysBelow(key.Int(1000).Get(), 0, false, restart), 50);
  EXPECT_EQ(small.CountKeysUpTo(key.Int(9999).Get(), 0, false, restart), 50);
  EXPECT_EQ(small.CountKeysBelow(key.Int(1).Get(), 0, false, restart), 0);
  // Across leaves the estimate stays near the truth.
  int32_t below = navigator.CountKeysBelow(key.Int(10000).Get(), 0, false, restart);
  EXPECT_NEAR(below, 999, 200);
  EXPECT_EQ(PinnedPages(file), 0);
}

TEST_F(IndexNavigatorTest, ResynchronizingSetsTheEdgeFlagsAroundTheCurrentKey) {
  indexHost_.Add("Numbers", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  TBRNIndexNavigator navigator(&file, 0);
  TestKey key(navigator.GetLayout());
  bool restart = false;
  navigator.Resynchronize(true, true, restart);
  EXPECT_TRUE(navigator.GetBof() && navigator.GetEof()) << "empty index";
  for (int32_t n = 1; n <= 3; ++n) navigator.InsertKey(key.Int(n, n).Get(), n);

  struct Case {
    int32_t Key;
    bool CheckBof;
    bool CheckEof;
    bool Bof;
    bool Eof;
  };
  for (const Case& c : std::vector<Case>{{3, false, true, false, true},
                                         {1, true, false, true, false},
                                         {2, true, true, false, false},
                                         {1, false, false, false, false}}) {
    SCOPED_TRACE(c.Key);
    navigator.GotoKey(key.Int(c.Key, c.Key).Get(), restart);
    navigator.Resynchronize(c.CheckBof, c.CheckEof, restart);
    EXPECT_FALSE(restart);
    EXPECT_EQ(navigator.GetBof(), c.Bof);
    EXPECT_EQ(navigator.GetEof(), c.Eof);
    EXPECT_EQ(navigator.GetRowNumber(), c.Key) << "the current key stays";
  }
}

TEST_F(IndexNavigatorTest, DeletingAMissingKeyRaisesExceptInATextIndex) {
  indexHost_.Add("Numbers", 0, {IntegerColumn()});
  indexHost_.Add("Words", 4, {CharColumn(30)});
  TestIndexFile& file = Open();
  TBRNIndexNavigator numbers(&file, 0);
  TBRNIndexNavigator words(&file, 1);
  TestKey number(numbers.GetLayout());
  TestKey word(words.GetLayout());
  for (TBRNIndexNavigator* navigator : {&numbers, &words}) {
    SCOPED_TRACE(navigator->GetLayout().GetIndexName());
    bool text = navigator == &words;
    auto remove = [&](int32_t value, int32_t row) {
      if (text) {
        words.DeleteKey(word.Text("w" + std::to_string(value), row).Get());
      } else {
        numbers.DeleteKey(number.Int(value, row).Get());
      }
    };
    for (auto [value, row] : std::vector<std::pair<int32_t, int32_t>>{{7, 3}, {8, 1}}) {
      // Empty index, then one holding another row of the key.
      if (text) {
        EXPECT_NO_THROW(remove(value, row));
      } else {
        EBRNException error = CaughtError([&] { remove(value, row); });
        EXPECT_EQ(error.ErrorCode, 601);
        EXPECT_EQ(error.ErrorMessage,
                  "The table Orders is corrupt (The index Numbers is missing a required key)")
            << error.ErrorMessage;
      }
      if (text) {
        words.InsertKey(word.Text("w" + std::to_string(value), row + 1).Get(), row + 1);
      } else {
        numbers.InsertKey(number.Int(value, row + 1).Get(), row + 1);
      }
    }
    EXPECT_EQ(navigator->GetRowCount(), 2);
  }
}

TEST_F(IndexNavigatorTest, AWalkGoesOnInKeyOrderAfterAnotherNavigatorReshapedTheLeaves) {
  // The walker's copy of its leaf names neighbours that a split, a merge or
  // a freed page of the upkeep navigator (same file) has replaced.
  struct Case {
    const char* Name;
    bool Forward;
    bool Insert;  // fill the gaps before the walker's key, else delete its leaf
  };
  for (const Case& c : std::vector<Case>{{"forward, own leaf split", true, true},
                                         {"forward, own leaf freed", true, false},
                                         {"backward, prior leaf split", false, true},
                                         {"backward, own leaf freed", false, false}}) {
    SCOPED_TRACE(c.Name);
    indexHost_.Layouts.clear();
    indexHost_.Rebuild.clear();
    indexHost_.Add("Numbers", 1, {IntegerColumn()});
    host_.Name = std::string("W") + std::to_string(c.Forward) + std::to_string(c.Insert);
    TestIndexFile& file = Open();
    TBRNIndexNavigator walker(&file, 0);
    TBRNIndexNavigator upkeep(&file, 0);
    TestKey key(walker.GetLayout());
    std::set<int32_t> keys;
    for (int32_t n = 1; n <= 2000; ++n) {
      upkeep.InsertKey(key.Int(n * 10).Get(), n);
      keys.insert(n * 10);
    }
    // The walker stands on the last key of the third leaf (forward) or on
    // the first key of it (backward).
    bool restart = false;
    ASSERT_TRUE(walker.First(restart));
    int32_t leaves = 1;
    auto current = [&] { return walker.GetCurrentKey().GetItem(0)->GetAsInteger(); };
    for (;;) {
      const TBRNIndexKey& at = walker.GetCurrentKey();
      int32_t item = at.GetItemNumber();
      if (leaves == 3 && (c.Forward ? item == at.GetPage()->ItemTotal - 1 : item == 0)) break;
      ASSERT_TRUE(walker.Next(restart));
      if (walker.GetCurrentKey().GetItemNumber() == 0) ++leaves;
    }
    int32_t here = current();
    int32_t leafFirst = here;
    if (c.Forward) leafFirst = here - (walker.GetCurrentKey().GetPage()->ItemTotal - 1) * 10;
    if (c.Insert) {
      for (int32_t v = here - 1; v > here - 400; --v) {
        if (v % 10 == 0) continue;
        upkeep.InsertKey(key.Int(v).Get(), 100000 + v);
        keys.insert(v);
      }
    } else {
      int32_t leafLast =
          c.Forward ? here : here + (walker.GetCurrentKey().GetPage()->ItemTotal - 1) * 10;
      for (int32_t v = leafFirst; v <= leafLast; v += 10) {
        upkeep.DeleteKey(key.Int(v).Get());
        keys.erase(v);
      }
    }
    std::vector<int32_t> expected;
    std::vector<int32_t> seen;
    if (c.Forward) {
      expected.assign(keys.upper_bound(here), keys.end());
      while (walker.Next(restart)) seen.push_back(current());
    } else {
      expected.assign(std::make_reverse_iterator(keys.lower_bound(here)), keys.rend());
      while (walker.Prior(restart)) seen.push_back(current());
    }
    EXPECT_FALSE(restart);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), expected.front());
    EXPECT_TRUE(seen == expected) << seen.size() << " keys seen, " << expected.size()
                                  << " expected";
    EXPECT_EQ(PinnedPages(file), 0);
  }
}

TEST_F(IndexNavigatorTest, RefilingAChangedFirstKeySplitsTheParentItFills) {
  // Small pages; every row of key 100 at first, so that the root holds one
  // entry whose items name the leaves. A smaller key then enters the first
  // leaf at its front: the root's item for that leaf is filed again under
  // the new key, as an entry of its own, which the full root cannot hold.
  indexHost_.PageSize = 512;
  indexHost_.Add("Groups", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  TBRNIndexNavigator navigator(&file, 0);
  TestKey key(navigator.GetLayout());
  const int32_t entrySize = navigator.GetLayout().GetEntrySize();
  int32_t rows = 0;
  for (;;) {
    ++rows;
    navigator.InsertKey(key.Int(100, rows).Get(), rows);
    TBRNIndexPage* root = file.GetPage(file.GetRootPage());
    bool full = root->PageType == kIndexPageRootInternal &&
                root->GetPageSize() - root->GetUsedBytes() < entrySize;
    bool split = root->PageType == kIndexPageRootInternal && root->EntryCount > 1;
    file.ReleasePage(root);
    ASSERT_FALSE(split);
    if (full) break;
  }
  navigator.InsertKey(key.Int(50, rows + 1).Get(), rows + 1);
  ++rows;

  TBRNIndexPage* root = file.GetPage(file.GetRootPage());
  EXPECT_FALSE(root->IsOverfull());
  file.ReleasePage(root);
  EXPECT_NO_THROW(file.Flush(true));
  host_.Log.clear();
  bool errors = false;
  EXPECT_TRUE(file.Verify(errors, false));
  EXPECT_FALSE(errors);
  EXPECT_EQ(host_.Log, std::vector<std::string>{});
  std::vector<std::string> walked = Walk(navigator);
  ASSERT_EQ(int32_t(walked.size()), rows);
  EXPECT_EQ(walked.front(), "50");
  EXPECT_EQ(walked.back(), "100");
}

TEST_F(IndexNavigatorTest, AFirstKeyThatCannotBeStoredLeavesTheIndexEmpty) {
  indexHost_.Add("Numbers", 1, {IntegerColumn()});
  TestIndexFile& file = Open();
  TBRNIndexNavigator navigator(&file, 0);
  TBRNContainedValue text;
  text.SetDataType(dtChar);
  text.SetAsString("twelve");
  TBRNIndexKeyValues bad(navigator.GetLayout());
  bad.Add(&text);
  EXPECT_ANY_THROW(navigator.InsertKey(bad, 1));
  EXPECT_EQ(file.GetRootPage(), 0);
  EXPECT_EQ(file.GetLeafPageCount(), 0);
  EXPECT_EQ(PinnedPages(file), 0);

  TestKey key(navigator.GetLayout());
  navigator.InsertKey(key.Int(12).Get(), 2);
  EXPECT_EQ(Walk(navigator), std::vector<std::string>{"12"});
  EXPECT_EQ(file.GetLeafPageCount(), 1);
}

TEST_F(IndexNavigatorTest, AnotherProcessChangingTheFileMakesTheNextPageReadRestart) {
  TempFolder temp;
  TBRNOSFileManager files(nullptr);
  FakeHost writer(temp.Path, "Shared");
  writer.ExclusiveLock = true;
  FakeIndexHost indexHost;
  indexHost.MaxBufferSize = 16 * 4096;
  indexHost.Add("Numbers", 0, {IntegerColumn()});
  {
    TestIndexFile file(&writer, &indexHost, &files);
    file.OpenOrCreate();
    TBRNIndexNavigator navigator(&file, 0);
    TestKey key(navigator.GetLayout());
    for (int32_t n = 1; n <= 20000; ++n) navigator.InsertKey(key.Int(n, n).Get(), n);
    file.Flush(true);
  }
  // A shared reader walks far enough for its cache of 16 pages to be full
  // of pages it has left behind.
  FakeHost reader(temp.Path, "Shared");
  TestIndexFile file(&reader, &indexHost, &files);
  file.OpenOrCreate();
  TBRNIndexNavigator navigator(&file, 0);
  bool restart = false;
  ASSERT_TRUE(navigator.First(restart));
  for (int32_t i = 1; i < 5000; ++i) ASSERT_TRUE(navigator.Next(restart));
  int32_t before = navigator.GetCurrentKey().GetItem(0)->GetAsInteger();
  EXPECT_EQ(before, 5000);

  pid_t child = fork();
  if (child == 0) {
    int rc = 0;
    try {
      FakeHost other(temp.Path, "Shared");
      other.ExclusiveLock = true;
      TestIndexFile changer(&other, &indexHost, &files);
      changer.OpenOrCreate();
      TBRNIndexNavigator upkeep(&changer, 0);
      TestKey key(upkeep.GetLayout());
      upkeep.InsertKey(key.Int(30000, 30000).Get(), 30000);
      changer.Flush(true);
    } catch (...) {
      rc = 1;
    }
    _exit(rc);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // Moves within the copy of the current leaf read nothing; the first page
  // read notices the change.
  bool restarted = false;
  for (int32_t i = 0; i < 1000 && !restarted; ++i) {
    navigator.Next(restart);
    restarted = restart;
  }
  EXPECT_TRUE(restarted);
  EXPECT_EQ(PinnedPages(file), 0);
  EXPECT_EQ(file.GetDeadCount(), 0);
  // Starting again sees the other process's key.
  EXPECT_EQ(navigator.GetRowCount(), 20001);
  ASSERT_TRUE(navigator.Last(restart));
  EXPECT_FALSE(restart);
  EXPECT_EQ(navigator.GetRowNumber(), 30000);
}

}  // namespace
}  // namespace brn::testing
