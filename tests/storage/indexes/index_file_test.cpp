// The index file: header records per index, page accounting on the shared
// free list, adding, emptying and dropping indexes, and verification of
// damaged files.
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/core/byte_order.h"
#include "foundation/test_support.h"
#include "storage/indexes/index_file_test_support.h"

namespace brn::testing {
namespace {

class IndexFileTest : public ::testing::Test {
 protected:
  void SetUp() override { host_.ExclusiveLock = true; }
  TestIndexFile& Open() {
    navigators_.clear();
    if (file_ != nullptr) {
      file_->Flush(true);
      file_->Close();
    }
    file_ = std::make_unique<TestIndexFile>(&host_, &indexHost_, &files_);
    file_->OpenOrCreate();
    return *file_;
  }
  TBRNIndexNavigator& Navigator(int32_t i) {
    while (int32_t(navigators_.size()) <= i) navigators_.push_back(nullptr);
    if (navigators_[size_t(i)] == nullptr) {
      navigators_[size_t(i)] = std::make_unique<TBRNIndexNavigator>(file_.get(), i);
    }
    return *navigators_[size_t(i)];
  }
  void Fill(int32_t i, int32_t count, int32_t first = 1) {
    TBRNIndexNavigator& navigator = Navigator(i);
    TestKey key(navigator.GetLayout());
    for (int32_t row = first; row < first + count; ++row) {
      navigator.InsertKey(key.Int(row, row).Get(), row);
    }
  }
  std::vector<std::string> Verify(bool repair, bool expectErrors) {
    file_->Flush(true);
    host_.Log.clear();
    bool errors = false;
    int32_t brackets = host_.ProgressBrackets;
    EXPECT_TRUE(file_->Verify(errors, repair));
    EXPECT_EQ(errors, expectErrors);
    EXPECT_EQ(host_.ProgressBrackets, brackets + 1);
    EXPECT_EQ(host_.ProgressDepth, 0);
    return host_.Log;
  }
  std::string Finding(const std::string& index, const std::string& message, bool repair) {
    std::string where = index.empty() ? "" : "index " + index + " in the ";
    return "Verification error for the " + where + "Orders table file /mem/db/Orders.BRNTst (" +
           message + ") - " + (repair ? "Fixed" : "Not Fixed");
  }
  // Writes the int32 value at offset of page n on disk, as damage would
  // leave it; answers the value it replaced.
  int32_t Patch(int32_t page, int32_t offset, int32_t value) {
    file_->Flush(true);
    file_->DropCache(false);
    bool restart = false;
    TBRNTableFileBuffer* buffer = file_->GetBuffer(page, false, 0, 0, restart);
    EXPECT_NE(buffer, nullptr);
    int32_t old = LoadLittleEndian<int32_t>(buffer->Data() + offset);
    StoreLittleEndian<int32_t>(buffer->Data() + offset, value);
    buffer->HeaderRead = false;
    buffer->MarkModified();
    file_->ReleaseBuffer(buffer);
    file_->Flush(true);
    file_->DropCache(false);
    return old;
  }

  // Writes the int32 value at offset of the header record on disk.
  void PatchHeader(int32_t offset, int32_t value) {
    Open();
    std::string name = file_->GetFileName();
    navigators_.clear();
    file_.reset();
    auto stream = files_.OpenFile(name, false, false, false);
    stream->Seek(0, offset);
    stream->Write(&value, 4);
  }
  // The child pages that the items of internal page n of the current index
  // name.
  std::vector<int32_t> Children(int32_t n) {
    TBRNIndexPage* page = file_->GetPage(n);
    std::vector<int32_t> children;
    for (int32_t item = 0; item < page->ItemTotal; ++item) {
      children.push_back(
          LoadLittleEndian<int32_t>(page->Data() + page->GetItemsOffset() + 8 * item + 4));
    }
    file_->ReleasePage(page);
    return children;
  }
  int32_t ItemsOffset(int32_t n) {
    TBRNIndexPage* page = file_->GetPage(n);
    int32_t offset = page->GetItemsOffset();
    file_->ReleasePage(page);
    return offset;
  }
  // The next link of block n.
  int32_t LinkOf(int32_t n) {
    bool restart = false;
    TBRNTableFileBuffer* buffer = file_->GetBuffer(n, false, 0, 0, restart);
    int32_t link = buffer->NextLink;
    file_->ReleaseBuffer(buffer);
    return link;
  }
  // The pages of index i's tree, counted as its header record counts them
  // plus an internal root.
  int32_t TreePages(int32_t i) {
    file_->SelectIndex(i);
    const TBRNIndexHeader& record = file_->GetHeaders()[size_t(i)];
    if (record.RootPage == 0) return 0;
    TBRNIndexPage* root = file_->GetPage(record.RootPage);
    bool internalRoot = root->PageType == kIndexPageRootInternal;
    file_->ReleasePage(root);
    return record.InternalPageCount + record.LeafPageCount + (internalRoot ? 1 : 0);
  }
  // The keys of index i, walked from the first.
  int32_t WalkKeys(int32_t i) {
    TBRNIndexNavigator& navigator = Navigator(i);
    bool restart = false;
    int32_t count = 0;
    for (bool more = navigator.First(restart); more; more = navigator.Next(restart)) ++count;
    return count;
  }

  TBRNMemoryFileManager files_{nullptr};
  FakeHost host_{"/mem/db/", "Orders"};
  FakeIndexHost indexHost_;
  std::unique_ptr<TestIndexFile> file_;
  std::vector<std::unique_ptr<TBRNIndexNavigator>> navigators_;
};

TEST_F(IndexFileTest, TheHeaderRecordHoldsTwentyBytesPerIndexRoundedToEight) {
  for (const char* name : {"A", "B", "C"}) indexHost_.Add(name, 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  EXPECT_EQ(file.GetHeaderRecordSize(), 120);  // 54 + 60 = 114
  EXPECT_EQ(file.GetHeaderAreaSize(), 8192);
  EXPECT_EQ(file.GetCacheCapacity(), 256);
  Fill(2, 10);

  indexHost_.Add("D", 0, {IntegerColumn()});
  file.AddIndex(3);
  EXPECT_EQ(file.GetHeaderRecordSize(), 136);  // 54 + 80 = 134
  EXPECT_EQ(RawFile(files_, file.GetFileName()).size(), 8192u + 4096u);
  Fill(3, 5);
  Open();
  ASSERT_EQ(file_->GetIndexCount(), 4);
  EXPECT_EQ(file_->GetHeaders()[2].KeyCount, 10);
  EXPECT_EQ(file_->GetHeaders()[3].KeyCount, 5);
  EXPECT_EQ(file_->GetHeaders()[3].RootPage, 2);

  // A System table keeps a small header area; the cache never has fewer
  // than 16 pages.
  indexHost_.SystemTable = true;
  indexHost_.MaxBufferSize = 4096;
  EXPECT_EQ(file_->GetHeaderAreaSize(), 1024);
  EXPECT_EQ(file_->GetCacheCapacity(), 16);
}

TEST_F(IndexFileTest, PagesAreCountedByTypeAndFreedOntoOneListSharedByTheIndexes) {
  indexHost_.Add("A", 0, {IntegerColumn()});
  indexHost_.Add("B", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  file.SelectIndex(0);
  std::vector<TBRNIndexPage*> pages;
  for (uint8_t type :
       {kIndexPageRootInternal, kIndexPageInternal, kIndexPageLeaf, kIndexPageRootLeaf}) {
    pages.push_back(file.AllocatePage(type));
    EXPECT_EQ(pages.back()->PageType, type);
  }
  EXPECT_EQ(file.GetInternalPageCount(), 1) << "a root internal page is not counted";
  EXPECT_EQ(file.GetLeafPageCount(), 2);
  for (TBRNIndexPage* page : pages) {
    file.FreePage(page);
    file.ReleasePage(page);
  }
  EXPECT_EQ(file.GetInternalPageCount(), 0);
  EXPECT_EQ(file.GetLeafPageCount(), 0);
  EXPECT_EQ(file.FreeListHead, 4);
  EXPECT_EQ(FreeListLength(file), 4);

  // Emptying an index hands its pages to the list; the other index takes
  // them before the file grows.
  Fill(0, 3000);
  int32_t pagesBefore = file.GetBlockCount();
  file.EmptyIndex(0);
  EXPECT_EQ(file.GetHeaders()[0].RootPage, 0);
  EXPECT_EQ(file.GetHeaders()[0].KeyCount, 0);
  EXPECT_EQ(FreeListLength(file), pagesBefore);
  Fill(1, 3000);
  EXPECT_EQ(file.GetBlockCount(), pagesBefore);
  EXPECT_EQ(Verify(false, false), std::vector<std::string>{});
}

TEST_F(IndexFileTest, DroppingAnIndexMovesTheLaterRecordsDownAndACancelKeepsIt) {
  for (const char* name : {"A", "B", "C"}) indexHost_.Add(name, 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  Fill(0, 10);
  Fill(1, 2000);
  Fill(2, 30);
  int32_t root2 = file.GetHeaders()[2].RootPage;
  file.Flush(true);

  host_.CancelAfter = 0;
  EXPECT_FALSE(file.DropIndex(1));
  EXPECT_EQ(file.GetIndexCount(), 3);
  EXPECT_EQ(file.GetHeaders()[1].KeyCount, 2000);
  EXPECT_EQ(file.FreeListHead, 0) << "the cancelled drop freed nothing";

  host_.CancelAfter = -1;
  int32_t pages = file.GetBlockCount();
  EXPECT_TRUE(file.DropIndex(1));
  navigators_.clear();
  indexHost_.Remove(1);
  EXPECT_EQ(file.GetIndexCount(), 2);
  Open();
  ASSERT_EQ(file_->GetIndexCount(), 2);
  EXPECT_EQ(file_->GetHeaders()[0].KeyCount, 10);
  EXPECT_EQ(file_->GetHeaders()[1].KeyCount, 30);
  EXPECT_EQ(file_->GetHeaders()[1].RootPage, root2);
  EXPECT_EQ(FreeListLength(*file_), pages - 2);
  EXPECT_EQ(Verify(false, false), std::vector<std::string>{});
}

// A cancel comes before the drop changed anything, so it leaves alone the
// changes of earlier operations that are not flushed yet.
TEST_F(IndexFileTest, ACancelledDropKeepsEarlierChangesNotYetFlushed) {
  indexHost_.Add("A", 0, {IntegerColumn()});
  indexHost_.Add("B", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  Fill(0, 10);
  Fill(1, 2000);
  file.Flush(true);
  Fill(0, 5, 100);
  ASSERT_GT(file.GetDirtyCount(), 0);

  host_.CancelAfter = 0;
  EXPECT_FALSE(file.DropIndex(1));
  host_.CancelAfter = -1;
  EXPECT_EQ(file.GetHeaders()[0].KeyCount, 15);
  Open();
  EXPECT_EQ(WalkKeys(0), 15);
  EXPECT_EQ(WalkKeys(1), 2000);
  EXPECT_EQ(Verify(false, false), std::vector<std::string>{});
}

// After a cut-short flush an index's tree may name a page that is also on
// the free list or in another index's tree, and the free list may loop:
// verification reports it. Emptying or dropping the index never follows
// those links: the free list is rebuilt from the pages the other trees hold,
// so the file comes out sound and the next inserts reuse the pages.
TEST_F(IndexFileTest, EmptyingOrDroppingAnIndexAfterDamageLeavesASoundFreeList) {
  enum class Damage { LeafOnFreeList, LoopingFreeList, ChildInAnotherTree };
  struct Case {
    const char* Name;
    Damage What;
    bool Drop;
  };
  for (const Case& c : std::vector<Case>{
           {"leaf on the free list, emptied", Damage::LeafOnFreeList, false},
           {"leaf on the free list, dropped", Damage::LeafOnFreeList, true},
           {"looping free list, emptied", Damage::LoopingFreeList, false},
           {"looping free list, dropped", Damage::LoopingFreeList, true},
           {"child in another tree, emptied", Damage::ChildInAnotherTree, false},
           {"child in another tree, dropped", Damage::ChildInAnotherTree, true},
       }) {
    SCOPED_TRACE(c.Name);
    navigators_.clear();
    file_.reset();
    if (files_.FileExists("/mem/db/Orders.BRNTst")) files_.DeleteFile("/mem/db/Orders.BRNTst");
    indexHost_ = FakeIndexHost();
    for (const char* name : {"A", "B", "C"}) indexHost_.Add(name, 0, {IntegerColumn()});
    Open();
    Fill(0, 3000);
    Fill(1, 3000);
    Fill(2, 3000);
    file_->EmptyIndex(2);
    Fill(2, 20);
    ASSERT_GT(FreeListLength(*file_), 2);
    file_->SelectIndex(0);
    int32_t rootA = file_->GetRootPage();
    std::vector<int32_t> childrenA = Children(rootA);
    file_->SelectIndex(1);
    int32_t firstLeafB = Children(file_->GetRootPage()).front();
    switch (c.What) {
      case Damage::LeafOnFreeList:
        PatchHeader(45, childrenA.back());
        break;
      case Damage::LoopingFreeList: {
        int32_t head = file_->FreeListHead;
        int32_t last = head;
        while (LinkOf(last) != 0) last = LinkOf(last);
        Patch(last, 0, head);
        break;
      }
      case Damage::ChildInAnotherTree:
        file_->SelectIndex(0);
        Patch(rootA, ItemsOffset(rootA) + 4, firstLeafB);
        break;
    }
    Open();
    EXPECT_FALSE(Verify(false, true).empty());

    Open();
    if (c.Drop) {
      ASSERT_TRUE(file_->DropIndex(0));
      navigators_.clear();
      indexHost_.Remove(0);
    } else {
      file_->EmptyIndex(0);
    }
    Open();
    int32_t b = c.Drop ? 0 : 1;
    int32_t others = TreePages(b) + TreePages(b + 1);
    EXPECT_EQ(FreeListLength(*file_), file_->GetBlockCount() - others);
    EXPECT_EQ(Verify(false, false), std::vector<std::string>{});
    EXPECT_EQ(WalkKeys(b), 3000);
    EXPECT_EQ(WalkKeys(b + 1), 20);

    // The freed pages serve the next inserts before the file grows.
    int32_t pages = file_->GetBlockCount();
    Fill(b + 1, 2000, 100);
    if (!c.Drop) Fill(0, 500);
    EXPECT_EQ(file_->GetBlockCount(), pages);
    EXPECT_EQ(Verify(false, false), std::vector<std::string>{});
  }
}

// The pages another tree holds must be known before any page is freed: a
// tree that cannot be read stops the emptying with 601 before anything
// changed.
TEST_F(IndexFileTest, AnUnreadableOtherTreeStopsEmptyingBeforeAnyChange) {
  indexHost_.Add("A", 0, {IntegerColumn()});
  indexHost_.Add("B", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  Fill(0, 3000);
  Fill(1, 3000);
  file.SelectIndex(1);
  int32_t rootB = file.GetRootPage();
  TBRNIndexPage* root = file.GetPage(rootB);
  int32_t countOffset = root->HeaderSize - 2;
  file.ReleasePage(root);
  int32_t old = Patch(rootB, countOffset, 0xFFFF);
  TBRNIndexHeaders headers = file.GetHeaders();
  int32_t head = file.FreeListHead;

  EXPECT_EQ(CaughtError([&] { file.EmptyIndex(0); }).ErrorCode, 601);
  EXPECT_EQ(file.GetHeaders()[0].RootPage, headers[0].RootPage);
  EXPECT_EQ(file.GetHeaders()[0].KeyCount, 3000);
  EXPECT_EQ(file.FreeListHead, head);
  EXPECT_EQ(file.GetDirtyCount(), 0);
  Patch(rootB, countOffset, old);
  EXPECT_EQ(WalkKeys(0), 3000);
}

TEST_F(IndexFileTest, ALoopingFreeListIsReportedOnceAndMarksEveryIndexForRebuild) {
  indexHost_.Add("A", 0, {IntegerColumn()});
  indexHost_.Add("B", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  Fill(0, 3000);
  Fill(1, 10);
  file.EmptyIndex(0);
  int32_t head = file.FreeListHead;
  ASSERT_GT(FreeListLength(file), 2);
  // The last page of the list points back at the head.
  int32_t last = head;
  for (;;) {
    bool restart = false;
    TBRNTableFileBuffer* buffer = file.GetBuffer(last, false, 0, 0, restart);
    int32_t next = buffer->NextLink;
    file.ReleaseBuffer(buffer);
    if (next == 0) break;
    last = next;
  }
  Patch(last, 0, head);

  std::string finding = "Recursive next index page pointer (" + std::to_string(head) + ")";
  EXPECT_EQ(Verify(false, true), std::vector<std::string>{Finding("", finding, false)});
  EXPECT_EQ(Verify(true, true), std::vector<std::string>{Finding("", finding, true)});
  EXPECT_EQ(indexHost_.Rebuild, (std::vector<bool>{true, true}));
  EXPECT_EQ(Verify(false, false), std::vector<std::string>{}) << "the loop was cut";
  EXPECT_EQ(indexHost_.Rebuild, (std::vector<bool>{false, false}));
}

TEST_F(IndexFileTest, AChildPointingBackToAnAncestorIsReportedWithoutCheckingTheCounts) {
  indexHost_.Add("A", 0, {IntegerColumn()});
  indexHost_.Add("B", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  Fill(0, 20);
  Fill(1, 3000);
  file.SelectIndex(1);
  int32_t root = file.GetRootPage();
  // The last item of the root points at a child; make the first item of
  // that child's parent chain point at the root.
  TBRNIndexPage* page = file.GetPage(root);
  ASSERT_EQ(page->PageType, kIndexPageRootInternal);
  int32_t itemOffset = page->GetItemsOffset();
  int32_t child = LoadLittleEndian<int32_t>(page->Data() + itemOffset + 4);
  file.ReleasePage(page);
  ASSERT_NE(child, root);
  Patch(root, itemOffset + 4 + 8, root);  // item 1 of the root -> the root

  std::string finding = "Invalid recursive index page " + std::to_string(root) +
                        " key page pointer (" + std::to_string(root) + ")";
  std::vector<std::string> log = Verify(true, true);
  EXPECT_EQ(log, std::vector<std::string>{Finding("B", finding, true)});
  EXPECT_EQ(indexHost_.Rebuild, (std::vector<bool>{false, true}));

  // Walking such a tree ends with 601 instead of going round.
  Open();
  TBRNIndexNavigator& navigator = Navigator(1);
  TestKey key(navigator.GetLayout());
  EBRNException error = CaughtError([&] {
    for (int32_t row = 1; row <= 3000; ++row) navigator.DeleteKey(key.Int(row, row).Get());
  });
  EXPECT_EQ(error.ErrorCode, 601);
}

TEST_F(IndexFileTest, CountsAndRootsThatDisagreeWithTheTreesAreReportedAndRepaired) {
  indexHost_.Add("A", 0, {IntegerColumn()});
  indexHost_.Add("B", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  Fill(0, 3000);
  file.SelectIndex(0);
  TBRNIndexHeader sound = file.GetHeaders()[0];
  file.IncKeyCount(5);
  file.DecLeafPageCount(2);
  file.IncInternalKeyCount(1);
  file.SelectIndex(1);
  file.SetRootPage(file.NextBlock + 100);

  std::vector<std::string> log = Verify(true, true);
  EXPECT_EQ(
      log,
      (std::vector<std::string>{
          Finding("B",
                  "Invalid root index page pointer (" + std::to_string(file.NextBlock + 100) + ")",
                  true),
          Finding("A",
                  "Invalid internal index page key count (" +
                      std::to_string(sound.InternalKeyCount + 1) + ")",
                  true),
          Finding(
              "A",
              "Invalid external index page count (" + std::to_string(sound.LeafPageCount - 2) + ")",
              true),
          Finding("A", "Invalid external index page key count (3005)", true),
      }));
  EXPECT_EQ(indexHost_.Rebuild, (std::vector<bool>{false, false})) << "counts are mended in place";
  EXPECT_EQ(Verify(false, false), std::vector<std::string>{});
  file.SelectIndex(0);
  EXPECT_EQ(file.GetKeyCount(), 3000);
  EXPECT_EQ(file.GetLeafPageCount(), sound.LeafPageCount);
  EXPECT_EQ(file.GetHeaders()[1].RootPage, 0);
}

TEST_F(IndexFileTest, CountsAtTheEndsOfTheirRangeNeitherOverflowNorMisleadAWalk) {
  indexHost_.Add("A", 0, {IntegerColumn()});
  Open();
  Fill(0, 3000);
  std::string name = file_->GetFileName();
  navigators_.clear();
  file_.reset();
  {
    auto stream = files_.OpenFile(name, false, false, false);
    stream->Seek(0, TBRNIndexManager::kCommonHeaderSize + 4);
    for (int32_t count : {INT_MIN, INT_MAX, -1, INT_MAX}) stream->Write(&count, 4);
  }
  TestIndexFile& file = Open();
  file.SelectIndex(0);
  EXPECT_EQ(file.GetKeyCount(), INT_MAX);
  EXPECT_EQ(file.GetAverageLeafKeys(), 0);
  EXPECT_EQ(file.EstimateReadBytes(1000), 4096);
  TBRNIndexNavigator& navigator = Navigator(0);
  TestKey key(navigator.GetLayout());
  EXPECT_TRUE(navigator.GotoSequenceNumber(5));
  EXPECT_EQ(navigator.GetRowNumber(), 5);
  EXPECT_TRUE(navigator.GotoSequenceNumber(INT_MAX));
  EXPECT_EQ(navigator.GetRowNumber(), 3000);
  bool restart = false;
  EXPECT_GE(navigator.CountKeysUpTo(key.Int(2000).Get(), 0, false, restart), 0);
  navigator.InsertKey(key.Int(5000, 5000).Get(), 5000);
  EXPECT_EQ(file.GetKeyCount(), INT_MIN) << "wraps";
  navigator.DeleteKey(key.Int(5000, 5000).Get());

  std::vector<std::string> log = Verify(true, true);
  EXPECT_EQ(log.size(), 4u);
  EXPECT_EQ(Verify(false, false), std::vector<std::string>{});
  EXPECT_EQ(file.GetKeyCount(), 3000);
}

// Page numbers read from the file are followed only after a check: a root,
// a child or a leaf link that is out of range or loops ends in 601.
TEST_F(IndexFileTest, DamagedLinksRaiseCorruptionInsteadOfCrashingOrLooping) {
  indexHost_.Add("A", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  Fill(0, 3000);
  file.SelectIndex(0);
  int32_t root = file.GetRootPage();
  TBRNIndexPage* page = file.GetPage(root);
  int32_t itemOffset = page->GetItemsOffset();
  int32_t firstLeaf = LoadLittleEndian<int32_t>(page->Data() + itemOffset + 4);
  file.ReleasePage(page);
  file.Flush(true);

  struct Damage {
    const char* Name;
    int32_t Page;
    int32_t Offset;
    int32_t Value;
  };
  // The second walk step reads the first leaf's next page.
  for (const Damage& damage : std::vector<Damage>{
           {"child beyond the file", root, itemOffset + 4, 1 << 30},
           {"negative child", root, itemOffset + 4, -7},
           {"child is the root", root, itemOffset + 4, root},
           {"leaf links to itself", firstLeaf, 0, firstLeaf},
           {"leaf links beyond the file", firstLeaf, 0, INT_MAX},
       }) {
    SCOPED_TRACE(damage.Name);
    Open();
    file_->SelectIndex(0);
    int32_t old = Patch(damage.Page, damage.Offset, damage.Value);
    TBRNIndexNavigator& navigator = Navigator(0);
    EBRNException error = CaughtError([&] {
      bool restart = false;
      for (bool more = navigator.First(restart); more; more = navigator.Next(restart)) {
      }
    });
    EXPECT_EQ(error.ErrorCode, 601);
    EXPECT_EQ(PinnedPages(*file_), 0);
    navigators_.clear();
    Patch(damage.Page, damage.Offset, old);
  }
}

// A damaged leaf chain met in the middle of a delete raises 601 and leaves
// no page pinned, the prior leaf being merged into included.
TEST_F(IndexFileTest, ADamagedChainMetWhileRemovingALeafLeavesNoPagePinned) {
  indexHost_.Add("A", 0, {IntegerColumn()});
  TestIndexFile& file = Open();
  Fill(0, 3000);
  file.SelectIndex(0);
  // The second and third items of the root name the second and third leaf;
  // their row IDs are the keys those leaves start with.
  TBRNIndexPage* root = file.GetPage(file.GetRootPage());
  ASSERT_GE(root->ItemTotal, 3);
  const uint8_t* items = root->Data() + root->GetItemsOffset();
  int32_t secondLeaf = LoadLittleEndian<int32_t>(items + 8 + 4);
  int32_t first = LoadLittleEndian<int32_t>(items + 8);
  int32_t end = LoadLittleEndian<int32_t>(items + 16);
  file.ReleasePage(root);
  Patch(secondLeaf, 0, INT_MAX);

  TBRNIndexNavigator& navigator = Navigator(0);
  TestKey key(navigator.GetLayout());
  EBRNException error = CaughtError([&] {
    for (int32_t row = end - 1; row >= first; --row) navigator.DeleteKey(key.Int(row, row).Get());
  });
  EXPECT_EQ(error.ErrorCode, 601);
  EXPECT_EQ(PinnedPages(*file_), 0);
}

}  // namespace
}  // namespace brn::testing
