#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/core/memory_stream.h"
#include "foundation/files/fault_file_manager.h"
#include "foundation/files/memory_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/test_support.h"
#include "storage/files/table_file_set.h"
#include "storage/files/table_file_test_support.h"

namespace brn::testing {
namespace {

// ---- The same behaviour over the disk and over memory ----

class TableFileOnBoth : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      files_ = std::make_unique<LimitedFiles<TBRNOSFileManager>>(nullptr);
      folder_ = temp_.Path;
    } else {
      files_ = std::make_unique<LimitedFiles<TBRNMemoryFileManager>>(nullptr);
      folder_ = "/mem/db/";
    }
    host_ = std::make_unique<FakeHost>(folder_, "Orders");
  }
  void SetLimit(int64_t limit) {
    if (GetParam()) {
      static_cast<LimitedFiles<TBRNOSFileManager>*>(files_.get())->Limit = limit;
    } else {
      static_cast<LimitedFiles<TBRNMemoryFileManager>*>(files_.get())->Limit = limit;
    }
  }

  TempFolder temp_;
  std::string folder_;
  std::unique_ptr<TBRNFileManager> files_;
  std::unique_ptr<FakeHost> host_;
};

TEST_P(TableFileOnBoth, NewFileHoldsOnlyItsHeaderRecordAndWarnsOnDisk) {
  TestBlockFile file(host_.get(), files_.get());
  file.OpenOrCreate();
  EXPECT_EQ(file.NextBlock, 1);
  EXPECT_EQ(file.FreeListHead, 0);
  EXPECT_EQ(file.ChangeCounter, 1);
  EXPECT_FALSE(file.WriteInProgress);
  EXPECT_EQ(files_->GetFileSize(folder_ + "Orders.BRNTst"), 56);
  EXPECT_EQ(host_->Warnings.size(), GetParam() ? 1u : 0u);
  file.Close();
  TestBlockFile again(host_.get(), files_.get());
  again.Open();
  EXPECT_EQ(again.NextBlock, 1);
  EXPECT_EQ(again.ChangeCounter, 1);
}

TEST_P(TableFileOnBoth, BlocksAreAllocatedFromTheFreeListBeforeTheEnd) {
  {
    TestBlockFile file(host_.get(), files_.get());
    file.OpenOrCreate();
    for (uint8_t value : {11, 12, 13}) {
      TBRNTableFileBuffer* buffer = file.Allocate();
      FillBlock(buffer, value);
      file.ReleaseBuffer(buffer);
    }
    file.Flush(true);
    EXPECT_EQ(file.NextBlock, 4);
    EXPECT_EQ(files_->GetFileSize(folder_ + "Orders.BRNTst"), 1024 + 3 * 256);
    TBRNTableFileBuffer* second = file.Get(2);
    file.Free(second);
    file.ReleaseBuffer(second);
    TBRNTableFileBuffer* first = file.Get(1);
    file.Free(first);
    file.ReleaseBuffer(first);
    file.Flush(false);
    EXPECT_EQ(file.FreeListHead, 1);
  }
  TestBlockFile file(host_.get(), files_.get());
  file.Open();
  EXPECT_EQ(file.FreeListHead, 1);
  std::vector<int32_t> numbers;
  for (int i = 0; i < 3; ++i) {
    TBRNTableFileBuffer* buffer = file.Allocate();
    numbers.push_back(buffer->BlockNumber);
    EXPECT_EQ(BlockValue(buffer), 0) << "an allocated block starts zeroed";
    FillBlock(buffer, uint8_t(20 + i));
    file.ReleaseBuffer(buffer);
  }
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 2, 4}));
  EXPECT_EQ(file.FreeListHead, 0);
  file.Flush(false);
  file.DropCache(false);
  for (auto [block, value] :
       std::vector<std::pair<int32_t, int32_t>>{{1, 20}, {2, 21}, {3, 13}, {4, 22}}) {
    TBRNTableFileBuffer* buffer = file.Get(block);
    EXPECT_EQ(BlockValue(buffer), value) << block;
    file.ReleaseBuffer(buffer);
  }
}

TEST_P(TableFileOnBoth, ABlockEndingAtTheSizeLimitIsAcceptedAndOneMoreIsFull) {
  SetLimit(1024 + 3 * 256);
  TestBlockFile file(host_.get(), files_.get());
  file.OpenOrCreate();
  for (int i = 0; i < 3; ++i) file.ReleaseBuffer(file.Allocate());
  EBRNException error = CaughtError([&] { file.Allocate(); });
  EXPECT_EQ(error.ErrorCode, 407);
  EXPECT_EQ(error.ErrorMessage, "The table Orders is full (" + folder_ + "Orders.BRNTst)");
  EXPECT_EQ(file.NextBlock, 4) << "nothing changes";
  file.Flush(false);
  EXPECT_EQ(files_->GetFileSize(folder_ + "Orders.BRNTst"), 1024 + 3 * 256);
}

TEST_P(TableFileOnBoth, TheChangeCounterWrapsToOne) {
  TestBlockFile file(host_.get(), files_.get());
  file.OpenOrCreate();
  file.ChangeCounter = INT32_MAX;
  file.ReleaseBuffer(file.Allocate());
  file.Flush(false);
  EXPECT_EQ(file.ChangeCounter, 1);
  file.Close();
  TestBlockFile again(host_.get(), files_.get());
  again.Open();
  EXPECT_EQ(again.ChangeCounter, 1);
}

TEST_P(TableFileOnBoth, HeaderMismatchesAreRefusedWithTheirMessages) {
  {
    TestBlockFile file(host_.get(), files_.get());
    file.OpenOrCreate();
  }
  struct Case {
    const char* name;
    void (*change)(FakeHost&);
    const char* message;
  };
  const Case cases[] = {
      {"encryption", [](FakeHost& h) { h.Encrypted = true; },
       "The encryption status does not match the encryption status in the configuration or "
       "catalog"},
      {"signature", [](FakeHost& h) { h.Signature = h.DefaultSignature = DigestOf("other"); },
       "The signature does not match the default or current engine signature"},
      {"structure", [](FakeHost& h) { h.StructureChecksum = 1; },
       "The internal structure does not match the structure in the catalog"},
  };
  for (const Case& c : cases) {
    FakeHost host(folder_, "Orders");
    c.change(host);
    TestBlockFile file(&host, files_.get());
    EBRNException error = CaughtError([&] { file.Open(); });
    EXPECT_EQ(error.ErrorCode, 100) << c.name;
    EXPECT_EQ(
        error.ErrorMessage,
        std::string("There is an error in the metadata for the table Orders (") + c.message + ")")
        << c.name;
    EXPECT_FALSE(file.IsOpen());
  }
  FakeHost skipping(folder_, "Orders");
  skipping.StructureChecksum = 1;
  skipping.SkipStructure = true;
  TestBlockFile file(&skipping, files_.get());
  file.Open();
  EXPECT_TRUE(file.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, TableFileOnBoth, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Disk" : "Memory"; });

// ---- The cache ----

// Memory files that record every write (with its position) and flush.
class WriteLoggingFileManager : public TBRNMemoryFileManager {
 public:
  using TBRNMemoryFileManager::TBRNMemoryFileManager;
  std::vector<std::string> Events;
  TBRNFile* CreateFileObject() override;
};

class WriteLoggingFile : public TBRNMemoryFile {
 public:
  explicit WriteLoggingFile(WriteLoggingFileManager* manager)
      : TBRNMemoryFile(manager), files_(manager) {}
  int32_t Write(const void* buffer, int32_t count) override {
    files_->Events.push_back("W" + std::to_string(Position) + ":" + std::to_string(count));
    return TBRNMemoryFile::Write(buffer, count);
  }
  void Flush() override {
    files_->Events.push_back("F");
    TBRNMemoryFile::Flush();
  }

 private:
  WriteLoggingFileManager* files_;
};

TBRNFile* WriteLoggingFileManager::CreateFileObject() {
  return new WriteLoggingFile(this);
}

class TableFileCache : public ::testing::Test {
 protected:
  WriteLoggingFileManager files_{nullptr};
  FakeHost host_{"/mem/", "Items"};
};

TEST_F(TableFileCache, BlockZeroAndBlocksBeyondTheFileAreRefused) {
  TestBlockFile file(&host_, &files_);
  file.OpenOrCreate();
  file.ReleaseBuffer(file.Allocate());
  file.Flush(false);
  for (int32_t n : {0, -3, 7}) {
    bool restart = false;
    EBRNException error = CaughtError([&] { file.GetBuffer(n, false, 0, 0, restart); });
    EXPECT_EQ(error.ErrorCode, 601) << n;
    EXPECT_EQ(error.ErrorMessage,
              "The table Items is corrupt (Invalid test block number specified for retrieval from "
              "cache)")
        << n;
  }
  EXPECT_EQ(host_.ReadDepth, 0);
}

TEST_F(TableFileCache, OnlyABlockReadFromTheFileTakesTheReadBracket) {
  TestBlockFile file(&host_, &files_);
  file.OpenOrCreate();
  for (int i = 0; i < 3; ++i) file.ReleaseBuffer(file.Allocate());
  file.Flush(false);
  file.DropCache(false);
  int32_t taken = host_.ReadBrackets;
  file.ReleaseBuffer(file.Get(2));
  EXPECT_GT(host_.ReadBrackets, taken) << "a miss";
  EXPECT_EQ(host_.ReadDepthInChangeCheck, 1) << "the change check runs inside the miss's bracket";
  taken = host_.ReadBrackets;
  for (int i = 0; i < 3; ++i) file.ReleaseBuffer(file.Get(2));
  EXPECT_EQ(host_.ReadBrackets, taken) << "hits";
  EXPECT_EQ(host_.ReadDepth, 0);
}

TEST_F(TableFileCache, DirtyBlocksAreWrittenInSortedRuns) {
  TestBlockFile file(&host_, &files_);
  file.OpenOrCreate();
  for (int i = 0; i < 10; ++i) file.ReleaseBuffer(file.Allocate());
  file.Flush(false);
  for (int32_t n : {9, 6, 5, 7}) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    FillBlock(buffer, uint8_t(n));
    file.ReleaseBuffer(buffer);
  }
  files_.Events.clear();
  file.Flush(false);
  auto at = [](int32_t block, int32_t blocks) {
    return "W" + std::to_string(1024 + (block - 1) * 256) + ":" + std::to_string(blocks * 256);
  };
  EXPECT_EQ(files_.Events, (std::vector<std::string>{"W0:56", at(5, 3), at(9, 1), "W0:56"}));
}

TEST_F(TableFileCache, WithOSFlushingEachStepReachesTheDiskBeforeTheNext) {
  TestBlockFile file(&host_, &files_);
  file.OpenOrCreate();
  file.ReleaseBuffer(file.Allocate());
  files_.Events.clear();
  file.Flush(true);
  EXPECT_EQ(files_.Events,
            (std::vector<std::string>{"W0:56", "F", "W1024:256", "F", "W0:56", "F"}));
  TBRNTableFileBuffer* buffer = file.Get(1);
  FillBlock(buffer, 3);
  file.ReleaseBuffer(buffer);
  files_.Events.clear();
  file.Flush(false);
  EXPECT_EQ(files_.Events, (std::vector<std::string>{"W0:56", "W1024:256", "W0:56"}));
}

TEST_F(TableFileCache, AFullCacheReusesCleanBuffersAndGrowsPastPinnedOnes) {
  TestBlockFile file(&host_, &files_, 256, 8);
  file.OpenOrCreate();
  for (int i = 0; i < 20; ++i) file.ReleaseBuffer(file.Allocate());
  file.Flush(false);
  EXPECT_EQ(file.GetBufferCount(), 20) << "appended blocks were all dirty";
  file.TrimCache(false);
  EXPECT_EQ(file.GetBufferCount(), 8);
  // Clean buffers are reused once the cache is full.
  for (int32_t n = 1; n <= 20; ++n) file.ReleaseBuffer(file.Get(n));
  EXPECT_EQ(file.GetBufferCount(), 8);
  // Pinned buffers are never evicted: the cache grows instead.
  std::vector<TBRNTableFileBuffer*> pinned;
  for (int32_t n = 1; n <= 12; ++n) pinned.push_back(file.Get(n));
  EXPECT_EQ(file.GetBufferCount(), 12);
  for (int32_t n = 1; n <= 12; ++n) EXPECT_EQ(pinned[size_t(n - 1)]->BlockNumber, n);
  for (TBRNTableFileBuffer* buffer : pinned) file.ReleaseBuffer(buffer);
}

TEST_F(TableFileCache, ReadAheadFillsTheRunInTheDirectionOfTravel) {
  TestBlockFile file(&host_, &files_, 256, 64);
  file.OpenOrCreate();
  for (int i = 0; i < 40; ++i) {
    TBRNTableFileBuffer* buffer = file.Allocate();
    FillBlock(buffer, uint8_t(i + 1));
    file.ReleaseBuffer(buffer);
  }
  file.Flush(false);
  file.DropCache(false);
  bool restart = false;
  TBRNTableFileBuffer* buffer = file.GetBuffer(3, true, 2, 64, restart);
  EXPECT_EQ(file.GetBufferCount(), 3) << "backwards from 3: blocks 1 to 3";
  file.ReleaseBuffer(buffer);
  int64_t reads = file.DiskReads;
  buffer = file.GetBuffer(10, true, 1, 16, restart);
  EXPECT_EQ(file.DiskReads, reads + 1);
  file.ReleaseBuffer(buffer);
  for (int32_t n = 10; n < 26; ++n) {
    buffer = file.Get(n);
    EXPECT_EQ(BlockValue(buffer), n);
    file.ReleaseBuffer(buffer);
  }
  EXPECT_EQ(file.DiskReads, reads + 1) << "blocks 10 to 25 came in one read";
}

TEST_F(TableFileCache, AMissReadsTheAlignedRunOfNeighboursAroundTheBlock) {
  TestBlockFile file(&host_, &files_, 256, 64);
  file.MissRunBytes = 4096;
  file.OpenOrCreate();
  for (int i = 1; i <= 40; ++i) {
    TBRNTableFileBuffer* buffer = file.Allocate();
    FillBlock(buffer, uint8_t(i));
    file.ReleaseBuffer(buffer);
  }
  file.Flush(false);
  file.DropCache(false);
  // 4096 bytes of 256-byte blocks: 16 blocks, aligned on block 1; only
  // the block asked for takes a buffer.
  int64_t reads = file.DiskReads;
  file.ReleaseBuffer(file.Get(10));
  EXPECT_EQ(file.DiskReads, reads + 1);
  EXPECT_EQ(file.GetBufferCount(), 1);
  for (int32_t n = 1; n <= 16; ++n) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    EXPECT_EQ(BlockValue(buffer), n);
    file.ReleaseBuffer(buffer);
  }
  EXPECT_EQ(file.DiskReads, reads + 1) << "blocks 1 to 16 came in one read";
  // A block appended in the cache lies in the run of block 35 but not yet
  // in the file: a shared reader still gets block 35.
  TBRNTableFileBuffer* appended = file.Allocate();
  FillBlock(appended, 41);
  file.ReleaseBuffer(appended);
  TBRNTableFileBuffer* buffer = file.Get(35);
  EXPECT_EQ(BlockValue(buffer), 35);
  file.ReleaseBuffer(buffer);
  EXPECT_EQ(file.DiskReads, reads + 2);
  EXPECT_EQ(BlockValue(file.FindBuffer(41)), 41) << "the appended block keeps its bytes";
}

// Dirty blocks a few clean cached blocks apart go out in one write, only
// where no other writer can change those clean blocks on disk.
TEST_F(TableFileCache, UnderAnExclusiveLockCleanCachedGapsJoinDirtyBlocksIntoOneRun) {
  struct Case {
    const char* name;
    bool exclusive;
    int32_t second;  // the other dirty block besides block 2
    int32_t pinned;  // a clean block held pinned, 0 none
    std::vector<std::string> writes;
    bool uncached = false;  // the cache dropped before the dirty blocks are read
  };
  auto at = [](int32_t block, int32_t blocks) {
    return "W" + std::to_string(1024 + (block - 1) * 256) + ":" + std::to_string(blocks * 256);
  };
  const Case cases[] = {
      {"exclusive", true, 5, 0, {at(2, 4)}},
      {"shared", false, 5, 0, {at(2, 1), at(5, 1)}},
      {"a pinned block in the gap", true, 5, 3, {at(2, 1), at(5, 1)}},
      {"a gap of more than 4096 bytes", true, 20, 0, {at(2, 1), at(20, 1)}},
      {"a gap of 4096 bytes", true, 19, 0, {at(2, 18)}},
      {"a gap only in the run read around a miss", true, 5, 0, {at(2, 4)}, true},
  };
  for (const Case& c : cases) {
    WriteLoggingFileManager files(nullptr);
    FakeHost host("/mem/", "Gaps");
    host.ExclusiveLock = c.exclusive;
    {
      TestBlockFile file(&host, &files, 256, 64);
      file.OpenOrCreate();
      for (int i = 1; i <= 20; ++i) {
        TBRNTableFileBuffer* buffer = file.Allocate();
        FillBlock(buffer, uint8_t(i));
        file.ReleaseBuffer(buffer);
      }
      file.Flush(false);
      if (c.uncached) {
        file.MissRunBytes = 4096;
        file.DropCache(false);
      }
      for (int32_t n : {2, c.second}) {
        TBRNTableFileBuffer* buffer = file.Get(n);
        FillBlock(buffer, uint8_t(100 + n));
        file.ReleaseBuffer(buffer);
      }
      TBRNTableFileBuffer* pinned = c.pinned != 0 ? file.Get(c.pinned) : nullptr;
      files.Events.clear();
      file.Flush(false);
      std::vector<std::string> writes(files.Events.begin() + 1, files.Events.end() - 1);
      EXPECT_EQ(writes, c.writes) << c.name;
      file.ReleaseBuffer(pinned);
      file.Close();
    }
    host.ExclusiveLock = false;
    TestBlockFile file(&host, &files, 256, 64);
    file.Open();
    for (int32_t n = 1; n <= 20; ++n) {
      TBRNTableFileBuffer* buffer = file.Get(n);
      EXPECT_EQ(BlockValue(buffer), n == 2 || n == c.second ? 100 + n : n) << c.name << " " << n;
      file.ReleaseBuffer(buffer);
    }
  }
}

TEST_F(TableFileCache, EmptyCutsTheFileToItsHeaderAreaBeforeNewBlocks) {
  TestBlockFile file(&host_, &files_);
  file.OpenOrCreate();
  for (int i = 0; i < 5; ++i) file.ReleaseBuffer(file.Allocate());
  file.Flush(false);
  file.Empty();
  TBRNTableFileBuffer* buffer = file.Allocate();
  EXPECT_EQ(buffer->BlockNumber, 1);
  FillBlock(buffer, 9);
  file.ReleaseBuffer(buffer);
  file.Flush(false);
  EXPECT_EQ(files_.GetFileSize("/mem/Items.BRNTst"), 1024 + 256);
}

TEST_F(TableFileCache, SharedModeReusesABufferOnlyWhileFewBlocksAreDirty) {
  struct Case {
    int32_t dirty;
    int32_t buffersAfter;
    bool oldestCleanEvicted;
  };
  for (const Case& c : {Case{200, 257, false}, Case{100, 256, true}}) {
    TBRNMemoryFileManager files(nullptr);
    FakeHost host("/mem/", "Wide");
    TestBlockFile file(&host, &files, 64, 256);
    file.OpenOrCreate();
    for (int i = 0; i < 300; ++i) file.ReleaseBuffer(file.Allocate());
    file.Flush(false);
    file.DropCache(false);
    for (int32_t n = 1; n <= 256; ++n) file.ReleaseBuffer(file.Get(n));
    for (int32_t n = 1; n <= c.dirty; ++n) {
      TBRNTableFileBuffer* buffer = file.Get(n);
      FillBlock(buffer, 1);
      file.ReleaseBuffer(buffer);
    }
    EXPECT_EQ(file.GetDirtyCount(), c.dirty);
    file.ReleaseBuffer(file.Get(257));
    EXPECT_EQ(file.GetBufferCount(), c.buffersAfter) << c.dirty;
    EXPECT_EQ(file.FindBuffer(c.dirty + 1) == nullptr, c.oldestCleanEvicted) << c.dirty;
  }
}

TEST_F(TableFileCache, ExclusiveModeFlushesWhenNoBufferCanBeEvictedAndOnClose) {
  host_.ExclusiveLock = true;
  {
    TestBlockFile file(&host_, &files_, 256, 8);
    file.OpenOrCreate();
    EXPECT_EQ(file.GetAccessMode(), TBRNTableFileAccess::Exclusive);
    for (int i = 1; i <= 20; ++i) {
      TBRNTableFileBuffer* buffer = file.Allocate();
      FillBlock(buffer, uint8_t(i));
      file.ReleaseBuffer(buffer);
    }
    EXPECT_LE(file.GetBufferCount(), 9) << "the cache flushed instead of growing";
    TBRNTableFileBuffer* buffer = file.Get(3);
    FillBlock(buffer, 33);
    file.ReleaseBuffer(buffer);
    file.Close();
  }
  host_.ExclusiveLock = false;
  TestBlockFile file(&host_, &files_, 256, 8);
  file.Open();
  EXPECT_EQ(file.NextBlock, 21);
  for (int32_t n = 1; n <= 20; ++n) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    EXPECT_EQ(BlockValue(buffer), n == 3 ? 33 : n) << n;
    file.ReleaseBuffer(buffer);
  }
}

// Inside an operation the cache grows instead of flushing for room; the
// next operation flushes before it begins, so a run of operations keeps
// the cache near its capacity and writes as it goes.
TEST_F(TableFileCache, ExclusiveOperationsFlushTheRoomTheyDeferredBeforeTheNextOne) {
  host_.ExclusiveLock = true;
  {
    TestBlockFile file(&host_, &files_, 256, 8);
    file.OpenOrCreate();
    for (int i = 1; i <= 40; ++i) {
      TBRNTableOperation operation(&file);
      for (int k = 0; k < 2; ++k) {
        TBRNTableFileBuffer* buffer = file.Allocate();
        FillBlock(buffer, uint8_t(i));
        file.ReleaseBuffer(buffer);
      }
      operation.Commit();
      EXPECT_LE(file.GetBufferCount(), 10) << i;
    }
    file.Close();
  }
  host_.ExclusiveLock = false;
  TestBlockFile file(&host_, &files_, 256, 8);
  file.Open();
  EXPECT_EQ(file.NextBlock, 81);
  for (int32_t n = 1; n <= 80; ++n) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    EXPECT_EQ(BlockValue(buffer), (n + 1) / 2) << n;
    file.ReleaseBuffer(buffer);
  }
}

// A flush for room skips a queued block that is pinned; it must stay
// counted, or its release does not count it again and the close finds
// nothing to write.
TEST_F(TableFileCache, ExclusiveModeKeepsAPinnedQueuedBlockForTheNextFlush) {
  {
    TestBlockFile setup(&host_, &files_, 256, 8);
    setup.OpenOrCreate();
    for (int i = 1; i <= 9; ++i) {
      TBRNTableFileBuffer* buffer = setup.Allocate();
      FillBlock(buffer, uint8_t(i));
      setup.ReleaseBuffer(buffer);
    }
    setup.Flush(false);
  }
  host_.ExclusiveLock = true;
  {
    TestBlockFile file(&host_, &files_, 256, 8);
    file.Open();
    for (int32_t n = 1; n <= 8; ++n) {
      TBRNTableFileBuffer* buffer = file.Get(n);
      FillBlock(buffer, uint8_t(100 + n));
      file.ReleaseBuffer(buffer);
    }
    TBRNTableFileBuffer* first = file.Get(1);
    first->Data()[4] = 200;
    first->MarkModified();
    TBRNTableFileBuffer* ninth = file.Get(9);
    EXPECT_GT(file.DiskWrites, 0) << "reading block 9 flushed for room";
    file.ReleaseBuffer(ninth);
    file.ReleaseBuffer(first);
    EXPECT_EQ(file.GetDirtyCount(), 1);
    file.Close();
  }
  host_.ExclusiveLock = false;
  TestBlockFile file(&host_, &files_, 256, 8);
  file.Open();
  TBRNTableFileBuffer* first = file.Get(1);
  EXPECT_EQ(first->Data()[4], 200) << "the change made while pinned";
  EXPECT_EQ(first->Data()[5], 101) << "the change made before";
  file.ReleaseBuffer(first);
  for (int32_t n = 2; n <= 9; ++n) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    EXPECT_EQ(BlockValue(buffer), n == 9 ? 9 : 100 + n) << n;
    file.ReleaseBuffer(buffer);
  }
}

// An open operation holds the blocks it changed: they are neither evicted
// nor written for room, and the cache grows past its capacity instead.
TEST_F(TableFileCache, HeldBlocksAreNeitherEvictedNorFlushedForRoom) {
  host_.ExclusiveLock = true;
  TestBlockFile file(&host_, &files_, 256, 4);
  file.OpenOrCreate();
  for (int i = 1; i <= 4; ++i) {
    TBRNTableFileBuffer* buffer = file.Allocate();
    FillBlock(buffer, uint8_t(i));
    file.HoldBuffer(buffer);
    file.ReleaseBuffer(buffer);
  }
  file.Flush(false);
  std::vector<TBRNTableFileBuffer*> held;
  for (int32_t n = 1; n <= 4; ++n) held.push_back(file.FindBuffer(n));
  // Held and clean: not evicted.
  for (int i = 5; i <= 6; ++i) file.ReleaseBuffer(file.Allocate());
  EXPECT_EQ(file.GetBufferCount(), 6);
  for (int32_t n = 1; n <= 4; ++n) EXPECT_EQ(file.FindBuffer(n), held[size_t(n - 1)]) << n;
  // Held and changed: no flush for room.
  for (TBRNTableFileBuffer* buffer : held) {
    FillBlock(buffer, 50);
    file.ReleaseBuffer(file.Get(buffer->BlockNumber));
  }
  files_.Events.clear();
  for (int i = 7; i <= 12; ++i) {
    TBRNTableFileBuffer* buffer = file.Allocate();
    FillBlock(buffer, uint8_t(i));
    file.ReleaseBuffer(buffer);
  }
  EXPECT_TRUE(files_.Events.empty()) << "nothing written while blocks are held";
  EXPECT_EQ(file.GetBufferCount(), 12);
  EXPECT_EQ(file.GetHeldCount(), 4);
  for (TBRNTableFileBuffer* buffer : held) file.UnholdBuffer(buffer);
  EXPECT_EQ(file.GetHeldCount(), 0);
  file.ReleaseBuffer(file.Allocate());
  EXPECT_FALSE(files_.Events.empty()) << "without holds a full cache flushes for room";
}

TEST_F(TableFileCache, RollbackDropsModifiedBlocksAndCommitFlushes) {
  TestBlockFile file(&host_, &files_);
  file.OpenOrCreate();
  for (int i = 1; i <= 3; ++i) {
    TBRNTableFileBuffer* buffer = file.Allocate();
    FillBlock(buffer, uint8_t(i));
    file.ReleaseBuffer(buffer);
  }
  file.Flush(false);
  int32_t counter = file.ChangeCounter;
  file.BeginTransaction();
  EXPECT_EQ(file.GetAccessMode(), TBRNTableFileAccess::InTransaction);
  TBRNTableFileBuffer* buffer = file.Get(1);
  FillBlock(buffer, 50);
  file.ReleaseBuffer(buffer);
  file.ReleaseBuffer(file.Allocate());
  file.RollbackTransaction();
  EXPECT_EQ(file.GetAccessMode(), TBRNTableFileAccess::Shared);
  EXPECT_EQ(file.NextBlock, 4);
  EXPECT_EQ(file.FindBuffer(1), nullptr);
  EXPECT_NE(file.FindBuffer(2), nullptr) << "clean blocks stay";
  buffer = file.Get(1);
  EXPECT_EQ(BlockValue(buffer), 1);
  file.ReleaseBuffer(buffer);

  file.BeginTransaction();
  buffer = file.Get(2);
  FillBlock(buffer, 60);
  file.ReleaseBuffer(buffer);
  file.CommitTransaction(false, true);
  EXPECT_EQ(file.ChangeCounter, counter + 1);
  EXPECT_EQ(file.GetDirtyCount(), 0);
  file.DropCache(false);
  buffer = file.Get(2);
  EXPECT_EQ(BlockValue(buffer), 60);
  file.ReleaseBuffer(buffer);
}

TEST_F(TableFileCache, ATransientFileSkipsTheBracketingHeaderAndVanishesOnClose) {
  host_.Transient = true;
  TestBlockFile file(&host_, &files_);
  file.OpenOrCreate();
  file.ReleaseBuffer(file.Allocate());
  files_.Events.clear();
  file.Flush(true);
  EXPECT_EQ(files_.Events, (std::vector<std::string>{"W1024:256", "W0:56"}));
  EXPECT_EQ(file.ChangeCounter, 0);
  file.Close();
  EXPECT_FALSE(files_.FileExists("/mem/Items.BRNTst"));
}

// ---- Two sessions sharing a file, in one process ----

class TwoSessions : public ::testing::Test {
 protected:
  void SetUp() override {
    TestBlockFile setup(&hostA_, &files_);
    setup.OpenOrCreate();
    for (int i = 0; i < 4; ++i) {
      TBRNTableFileBuffer* buffer = setup.Allocate();
      FillBlock(buffer, uint8_t(i + 1));
      setup.ReleaseBuffer(buffer);
    }
    setup.Flush(false);
  }
  TBRNMemoryFileManager files_{nullptr};
  FakeHost hostA_{"/mem/", "Shared"};
  FakeHost hostB_{"/mem/", "Shared"};
};

TEST_F(TwoSessions, AChangeByTheOtherMakesTheNextMissRestartOnceAndEmptiesTheCache) {
  TestBlockFile a(&hostA_, &files_);
  TestBlockFile b(&hostB_, &files_);
  a.Open();
  b.Open();
  b.ReleaseBuffer(b.Get(1));
  b.ReleaseBuffer(b.Get(2));
  TBRNTableFileBuffer* changed = a.Get(1);
  FillBlock(changed, 77);
  a.ReleaseBuffer(changed);
  a.Flush(false);

  bool restart = false;
  EXPECT_EQ(b.GetBuffer(3, false, 0, 0, restart), nullptr);
  EXPECT_TRUE(restart);
  EXPECT_EQ(b.GetBufferCount(), 0);
  TBRNTableFileBuffer* buffer = b.GetBuffer(1, false, 0, 0, restart);
  ASSERT_NE(buffer, nullptr);
  EXPECT_FALSE(restart) << "the restart comes once";
  EXPECT_EQ(BlockValue(buffer), 77);
  b.ReleaseBuffer(buffer);
}

TEST_F(TwoSessions, APinnedBufferDroppedByChangeDetectionDiesWhenReleased) {
  TestBlockFile a(&hostA_, &files_);
  TestBlockFile b(&hostB_, &files_);
  a.Open();
  b.Open();
  TBRNTableFileBuffer* held = b.Get(2);
  TBRNTableFileBuffer* changed = a.Get(3);
  FillBlock(changed, 99);
  a.ReleaseBuffer(changed);
  a.Flush(false);

  bool restart = false;
  EXPECT_EQ(b.GetBuffer(4, false, 0, 0, restart), nullptr);
  ASSERT_TRUE(restart);
  EXPECT_EQ(b.GetBufferCount(), 0);
  EXPECT_EQ(b.GetDeadCount(), 1);
  // Still a valid object (the sanitizer would see a freed one).
  EXPECT_TRUE(held->Dead);
  EXPECT_EQ(BlockValue(held), 2);
  b.ReleaseBuffer(held);
  EXPECT_EQ(b.GetDeadCount(), 0);
}

TEST_F(TwoSessions, EveryReadOperationReleasesTheReadBracketItTook) {
  TestBlockFile a(&hostA_, &files_);
  TestBlockFile b(&hostB_, &files_);
  a.Open();
  b.Open();
  EXPECT_EQ(hostB_.ReadDepth, 0);
  TBRNTableFileBuffer* changed = a.Get(1);
  FillBlock(changed, 5);
  a.ReleaseBuffer(changed);
  a.Flush(false);
  EXPECT_EQ(hostA_.ReadDepth, 0);
  EXPECT_EQ(hostA_.WriteDepth, 0);

  bool restart = false;
  b.GetBuffer(2, false, 0, 0, restart);
  EXPECT_TRUE(restart);
  EXPECT_EQ(hostB_.ReadDepthInChangeCheck, 1) << "change detection runs inside the read's bracket";
  EXPECT_EQ(hostB_.ReadDepth, 0);
  // An error inside the bracket releases it too: the header now claims more
  // blocks than the file holds.
  b.NextBlock = 9;
  CaughtError([&] { b.GetBuffer(7, false, 0, 0, restart); });
  EXPECT_EQ(hostB_.ReadDepth, 0);
  b.NextBlock = 5;
  EXPECT_FALSE(b.HasChanged());
  b.RefreshIfShared();
  b.BeginTransaction();
  b.RollbackTransaction();
  EXPECT_EQ(hostB_.ReadDepth, 0);
  EXPECT_EQ(hostB_.WriteDepth, 0);
}

// ---- Damaged headers and free lists ----

class DamagedFile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (files_.FileExists("/mem/Parts.BRNTst")) files_.DeleteFile("/mem/Parts.BRNTst");
    TestBlockFile file(&host_, &files_);
    file.OpenOrCreate();
    for (int i = 0; i < 3; ++i) file.ReleaseBuffer(file.Allocate());
    file.Flush(false);
  }
  void Poke(int64_t offset, int32_t value) {
    auto stream = files_.OpenFile("/mem/Parts.BRNTst", false, false, false);
    stream->Seek(0, offset);
    stream->WriteLongInt(value);
  }
  TBRNMemoryFileManager files_{nullptr};
  FakeHost host_{"/mem/", "Parts"};
};

TEST_F(DamagedFile, ADamagedHeaderIsRefusedWithTheVerificationMessage) {
  struct Case {
    int64_t offset;
    int32_t value;
    const char* message;
  };
  const Case cases[] = {
      {49, -5, "Invalid total test block count (-6)"},
      {49, 0, "Invalid total test block count (-1)"},
      {45, 4, "Invalid free test block list pointer (4)"},
      {45, -1, "Invalid free test block list pointer (-1)"},
  };
  for (const Case& c : cases) {
    SetUp();
    Poke(c.offset, c.value);
    TestBlockFile file(&host_, &files_);
    EBRNException error = CaughtError([&] { file.Open(); });
    EXPECT_EQ(error.ErrorCode, 601) << c.message;
    EXPECT_EQ(error.ErrorMessage, std::string("The table Parts is corrupt (") + c.message + ")");
  }
}

TEST_F(DamagedFile, AShortHeaderIsRefused) {
  {
    auto stream = files_.OpenFile("/mem/Parts.BRNTst", false, false, false);
    stream->SetSize(30);
  }
  TestBlockFile file(&host_, &files_);
  EBRNException error = CaughtError([&] { file.Open(); });
  EXPECT_EQ(error.ErrorCode, 601);
  EXPECT_EQ(error.ErrorMessage, "The table Parts is corrupt (Error reading header from disk)");
  EXPECT_EQ(host_.ReadDepth, 0);
}

TEST_F(DamagedFile, ADamagedFreeListLinkIsRefusedBeforeUse) {
  {
    TestBlockFile file(&host_, &files_);
    file.Open();
    TBRNTableFileBuffer* buffer = file.Get(2);
    file.Free(buffer);
    file.ReleaseBuffer(buffer);
    file.Flush(false);
  }
  for (int32_t link : {1000, -7, 2}) {
    Poke(1024 + 256, link);  // the next link of block 2
    TestBlockFile file(&host_, &files_);
    file.Open();
    EBRNException error = CaughtError([&] { file.Allocate(); });
    EXPECT_EQ(error.ErrorCode, 601) << link;
    EXPECT_EQ(error.ErrorMessage,
              "The table Parts is corrupt (Invalid free test block list pointer (" +
                  std::to_string(link) + "))");
    EXPECT_EQ(files_.GetFileSize("/mem/Parts.BRNTst"), 1024 + 3 * 256);
  }
}

TEST_F(DamagedFile, VerificationReportsAndRepairsTheHeader) {
  Poke(49, 7);
  Poke(45, 9);
  {
    auto stream = files_.OpenFile("/mem/Parts.BRNTst", false, false, false);
    stream->SetSize(1024 + 3 * 256 + 100);
  }
  host_.SkipWrite = true;
  {
    TestBlockFile file(&host_, &files_);
    file.Open();
    bool errors = false;
    EXPECT_TRUE(file.Verify(errors, false));
    EXPECT_TRUE(errors);
    const std::string prefix = "Verification error for the Parts table file /mem/Parts.BRNTst (";
    EXPECT_EQ(host_.Log, (std::vector<std::string>{
                             prefix + "Invalid test block boundary detected) - Not Fixed",
                             prefix + "Invalid total test block count (6)) - Not Fixed",
                             prefix + "Invalid free test block list pointer (9)) - Not Fixed"}));
    host_.Log.clear();
    errors = false;
    file.Verify(errors, true);
    EXPECT_EQ(host_.Log.size(), 3u);
    EXPECT_EQ(host_.Log[0].substr(host_.Log[0].size() - 7), "- Fixed");
    file.Flush(false);
  }
  host_.SkipWrite = false;
  TestBlockFile file(&host_, &files_);
  file.Open();
  EXPECT_EQ(file.NextBlock, 4);
  EXPECT_EQ(file.FreeListHead, 0);
  EXPECT_EQ(files_.GetFileSize("/mem/Parts.BRNTst"), 1024 + 3 * 256);
  bool errors = false;
  host_.Log.clear();
  file.Verify(errors, false);
  EXPECT_FALSE(errors);
  EXPECT_TRUE(host_.Log.empty());
  file.LogVerifyError("Invalid key", "index", "ByName", true);
  EXPECT_EQ(host_.Log, (std::vector<std::string>{
                           "Verification error for the index ByName in the Parts table file "
                           "/mem/Parts.BRNTst (Invalid key) - Fixed"}));
}

// ---- Encryption ----

TEST(TableFileEncryption, AnotherPasswordIsRefusedAndBlocksAreNotPlainOnDisk) {
  TBRNMemoryFileManager files(nullptr);
  FakeHost writer("/mem/", "Secret");
  writer.Encrypted = true;
  writer.Password = DigestOf("alpha");
  {
    TestBlockFile file(&writer, &files);
    file.OpenOrCreate();
    TBRNTableFileBuffer* buffer = file.Allocate();
    FillBlock(buffer, 0x41);
    file.ReleaseBuffer(buffer);
    file.Flush(false);
  }
  std::vector<uint8_t> raw = RawFile(files, "/mem/Secret.BRNTst");
  ASSERT_EQ(raw.size(), 1024u + 256u);
  std::vector<uint8_t> plainBlock(256, 0x41);
  plainBlock[0] = plainBlock[1] = plainBlock[2] = plainBlock[3] = 0;
  EXPECT_NE(std::vector<uint8_t>(raw.begin() + 1024, raw.end()), plainBlock);
  EXPECT_EQ(std::count(raw.begin() + 1024, raw.end(), uint8_t(0x41)) < 16, true);

  FakeHost reader("/mem/", "Secret");
  reader.Encrypted = true;
  reader.Password = DigestOf("beta");
  TestBlockFile wrong(&reader, &files);
  EBRNException error = CaughtError([&] { wrong.Open(); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_EQ(error.ErrorMessage,
            "There is an error in the metadata for the table Secret (The encryption password does "
            "not match the default or current engine encryption password, which may be caused by "
            "the character set not matching the character set in use by the engine)");

  TestBlockFile right(&writer, &files);
  right.Open();
  TBRNTableFileBuffer* buffer = right.Get(1);
  EXPECT_EQ(BlockValue(buffer), 0x41);
  right.ReleaseBuffer(buffer);
}

// ---- Backup streams and .Old copies ----

class TableFileCopies : public ::testing::Test {
 protected:
  void SetUp() override {
    TestBlockFile file(&host_, &files_, 4096, 16);
    file.OpenOrCreate();
    for (int i = 0; i < 256; ++i) {
      TBRNTableFileBuffer* buffer = file.Allocate();
      for (int32_t k = 4; k < 4096; ++k) buffer->Data()[k] = uint8_t(i * 7 + k * 13);
      buffer->MarkModified();
      file.ReleaseBuffer(buffer);
    }
    file.Flush(false);
  }
  TBRNMemoryFileManager files_{nullptr};
  FakeHost host_{"/mem/", "Big"};
  FakeHost copyHost_{"/mem/", "Copy"};
};

TEST_F(TableFileCopies, ABackupStreamRestoresByteIdentically) {
  std::vector<uint8_t> original = RawFile(files_, "/mem/Big.BRNTst");
  ASSERT_GT(original.size(), 1048576u);
  for (int32_t level : {0, 6}) {
    TestBlockFile source(&host_, &files_, 4096);
    source.Open();
    TBRNMemoryStream backup;
    int64_t done = 0;
    EXPECT_TRUE(source.WriteBackup(backup, done, int64_t(original.size()), level, false));
    EXPECT_EQ(done, int64_t(original.size()));
    EXPECT_EQ(host_.Progress.back(), 100);
    backup.SetPosition(0);
    if (level == 0) {
      EXPECT_EQ(backup.ReadInteger(), 65536);
    }
    backup.SetPosition(backup.GetSize() - 4);
    EXPECT_EQ(backup.ReadInteger(), 0);

    TestBlockFile target(&copyHost_, &files_, 4096);
    target.OpenOrCreate();
    backup.SetPosition(0);
    done = 0;
    EXPECT_TRUE(target.ReadBackup(backup, done, int64_t(original.size()), level));
    EXPECT_EQ(RawFile(files_, "/mem/Copy.BRNTst"), original) << level;
  }
  TestBlockFile source(&host_, &files_, 4096);
  source.Open();
  TBRNMemoryStream empty;
  int64_t done = 0;
  EXPECT_TRUE(source.WriteBackup(empty, done, 1, 0, true));
  EXPECT_EQ(empty.GetSize(), 4);
}

TEST_F(TableFileCopies, ACancelledRestoreStopsAfterTheCurrentChunk) {
  TestBlockFile source(&host_, &files_, 4096);
  source.Open();
  TBRNMemoryStream backup;
  int64_t done = 0;
  source.WriteBackup(backup, done, 1 << 20, 0, false);
  copyHost_.CancelAfter = 0;
  TestBlockFile target(&copyHost_, &files_, 4096);
  target.OpenOrCreate();
  backup.SetPosition(0);
  done = 0;
  EXPECT_FALSE(target.ReadBackup(backup, done, 1 << 20, 0));
  EXPECT_EQ(done, 65536);
  EXPECT_EQ(files_.GetFileSize("/mem/Copy.BRNTst"), 65536);
}

TEST_F(TableFileCopies, ADamagedBackupStreamIsARestoreError) {
  TestBlockFile target(&copyHost_, &files_, 4096);
  target.OpenOrCreate();
  for (int32_t length : {-1, 70000, 100}) {
    TBRNMemoryStream backup;
    backup.WriteInteger(length);
    backup.WriteInteger(7);  // far fewer bytes than announced
    backup.SetPosition(0);
    int64_t done = 0;
    EBRNException error = CaughtError([&] { target.ReadBackup(backup, done, 1, 0); });
    EXPECT_EQ(error.ErrorCode, 1301) << length;
    EXPECT_EQ(error.ErrorMessage,
              "Error restoring the table Copy (Error reading the file /mem/Copy.BRNTst from the "
              "backup)");
  }
}

TEST_F(TableFileCopies, AFailingBackupTargetIsABackupError) {
  TBRNFaultFileManager faulty(nullptr);
  auto target = faulty.CreateFile("/mem/backup.bin", false, false, false);
  faulty.FailWrite(3);
  TestBlockFile source(&host_, &files_, 4096);
  source.Open();
  int64_t done = 0;
  EBRNException error = CaughtError([&] { source.WriteBackup(*target, done, 1 << 20, 0, false); });
  EXPECT_EQ(error.ErrorCode, 1300);
  EXPECT_EQ(error.ErrorMessage.rfind(
                "Error backing up the table Big (Unknown error occurred with the file "
                "/mem/Big.BRNTst (",
                0),
            0u)
      << error.ErrorMessage;
  EXPECT_EQ(done, 65536) << "the first chunk went out";
}

TEST_F(TableFileCopies, OldCopiesByCopyStayAndByRenameAreConsumed) {
  std::vector<uint8_t> original = RawFile(files_, "/mem/Big.BRNTst");
  {
    TestBlockFile file(&host_, &files_, 4096);
    file.Open();
    file.MakeOldCopy(false);
    TBRNTableFileBuffer* buffer = file.Get(3);
    FillBlock(buffer, 1);
    file.ReleaseBuffer(buffer);
    file.ReleaseBuffer(file.Allocate());
    file.Flush(false);
    EXPECT_NE(RawFile(files_, "/mem/Big.BRNTst"), original);
    file.RestoreOldCopy(false);
    EXPECT_EQ(RawFile(files_, "/mem/Big.BRNTst"), original);
    EXPECT_TRUE(files_.FileExists("/mem/Big.BRNTst.Old"));
    EXPECT_EQ(file.NextBlock, 257) << "the header of the restored file is the one held";
    buffer = file.Get(3);
    EXPECT_NE(BlockValue(buffer), 1);
    file.ReleaseBuffer(buffer);
    file.DeleteOldCopy();
    EXPECT_FALSE(files_.FileExists("/mem/Big.BRNTst.Old"));
  }
  TestBlockFile file(&host_, &files_, 4096);
  file.MakeOldCopy(true);
  EXPECT_FALSE(files_.FileExists("/mem/Big.BRNTst"));
  EXPECT_TRUE(files_.FileExists("/mem/Big.BRNTst.Old"));
  file.RestoreOldCopy(true);
  EXPECT_FALSE(files_.FileExists("/mem/Big.BRNTst.Old"));
  EXPECT_EQ(RawFile(files_, "/mem/Big.BRNTst"), original);
  file.Rename("Huge");
  EXPECT_TRUE(files_.FileExists("/mem/Huge.BRNTst"));
  EXPECT_FALSE(files_.FileExists("/mem/Big.BRNTst"));
}

}  // namespace
}  // namespace brn::testing
