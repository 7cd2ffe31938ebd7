#include "storage/rows/published_updates_file.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/os_file_manager.h"
#include "storage/rows/chain_file_test_support.h"

namespace brn::testing {
namespace {

using LogFile = HostedFile<TBRNPublishedUpdatesManager>;

constexpr int64_t kPublishedHeaderArea = 16384;

class PublishedUpdatesTest : public ChainFileTest<TBRNPublishedUpdatesManager> {
 protected:
  PublishedUpdatesTest() : ChainFileTest("Orders", ".BRNPbl", kPublishedHeaderArea) {}

  void Append(TBRNPublishedUpdatesManager& file, const std::vector<uint8_t>& entry) {
    file.AppendEntry(entry.data(), int32_t(entry.size()));
  }
  // Reads the entry at block and moves block on.
  std::vector<uint8_t> Next(TBRNPublishedUpdatesManager& file, int32_t& block) {
    TBRNMemoryStream stream;
    file.ReadEntry(block, stream);
    EXPECT_EQ(stream.GetPosition(), 0);
    return Bytes(stream);
  }
};

// With 4096-byte blocks the first block of an entry holds 4083 bytes and
// every further one 4087.
TEST_F(PublishedUpdatesTest, EntriesOfTheBoundarySizesReadBackInOrderAfterReopening) {
  struct Case {
    int32_t size;
    int32_t blocks;
  };
  const std::vector<Case> cases = {
      {4083, 1}, {4084, 2}, {0, 1}, {1, 1}, {4083 + 4087, 2}, {4083 + 4087 + 1, 3}, {20000, 5},
  };
  {
    auto file = Open(4096);
    int32_t block = 1;
    EXPECT_TRUE(Next(*file, block).empty()) << "an empty log";
    EXPECT_EQ(block, 1);
    for (size_t i = 0; i < cases.size(); ++i) Append(*file, Pattern(cases[i].size, uint32_t(i)));
    file->Flush(true);
  }
  auto file = Open(4096);
  int32_t block = 1;
  for (size_t i = 0; i < cases.size(); ++i) {
    int32_t start = block;
    EXPECT_EQ(Next(*file, block), Pattern(cases[i].size, uint32_t(i))) << cases[i].size;
    EXPECT_EQ(block - start, cases[i].blocks) << cases[i].size;
  }
  EXPECT_EQ(block, file->GetBlockCount() + 1);
  EXPECT_TRUE(Next(*file, block).empty()) << "the end of the log";
  EXPECT_EQ(block, file->GetBlockCount() + 1);
}

// The log is read by block number, so an entry never lands in a block from
// the free list, between or before the entries.
TEST_F(PublishedUpdatesTest, EntriesAreAppendedAtTheEndEvenWithAFreeList) {
  auto file = Open();
  Append(*file, Pattern(600, 1));
  TBRNPublishedUpdatesBlock* spare = file->AllocateBlock();
  ASSERT_EQ(spare->BlockNumber, 3);
  file->FreeBlock(spare);
  file->ReleaseBlock(spare);
  ASSERT_EQ(file->FreeListHead, 3);
  Append(*file, Pattern(1200, 2));
  EXPECT_EQ(file->FreeListHead, 3);
  EXPECT_EQ(file->GetBlockCount(), 6);
  int32_t block = 4;
  EXPECT_EQ(Next(*file, block), Pattern(1200, 2));
  EXPECT_EQ(block, 7);
  block = 1;
  EXPECT_EQ(Next(*file, block), Pattern(600, 1));
  EXPECT_EQ(block, 3);
}

// The header keeps the whole last-update timestamp, and every header read
// hands it to the engine, so that timestamps never go back after a restart.
TEST_F(PublishedUpdatesTest, TheLastUpdateTimestampSurvivesReopeningAndReachesTheEngine) {
  const int64_t stamp = 0x0123456789ABCDEFll;
  {
    auto file = Open();
    EXPECT_EQ(file->GetLastUpdateTimestamp(), 0);
    file->SetLastUpdateTimestamp(stamp);
    EXPECT_TRUE(file->GetHeaderModified());
    file->Flush(true);
    file->SetLastUpdateTimestamp(stamp);
    EXPECT_FALSE(file->GetHeaderModified()) << "an unchanged value";
  }
  std::vector<uint8_t> raw = RawFile(files_, Name());
  ASSERT_GE(raw.size(), 64u);
  EXPECT_EQ(uint32_t(Int32At(raw, 54)), 0x89ABCDEFu);
  EXPECT_EQ(uint32_t(Int32At(raw, 58)), 0x01234567u);
  EXPECT_EQ(raw[62] | raw[63], 0) << "the record is rounded up to 64 bytes";

  host_.Timestamps.clear();
  auto file = Open();
  EXPECT_EQ(file->GetLastUpdateTimestamp(), stamp);
  EXPECT_EQ(host_.Timestamps, std::vector<int64_t>{stamp});
  file->SetLastUpdateTimestamp(stamp + 1);
  file->DiscardChanges();
  EXPECT_EQ(file->GetLastUpdateTimestamp(), stamp) << "the header as it stands on disk";

  // A rebuilt table's new log continues from the old one's timestamp.
  ChainHost rebuiltHost(temp_.Path, "Rebuilt");
  LogFile rebuilt(&rebuiltHost, &files_, 512);
  rebuilt.OpenOrCreate();
  rebuilt.CopyHeaderFrom(*file);
  EXPECT_EQ(rebuilt.GetLastUpdateTimestamp(), stamp);
  EXPECT_TRUE(rebuilt.GetHeaderModified());
}

TEST_F(PublishedUpdatesTest, AnEncryptedHeaderKeepsTheTimestampToo) {
  host_.Encrypted = true;
  {
    auto file = Open();
    file->SetLastUpdateTimestamp(-2);
    Append(*file, Pattern(700, 1));
    file->Flush(true);
  }
  auto file = Open();
  EXPECT_EQ(file->GetLastUpdateTimestamp(), -2);
  int32_t block = 1;
  EXPECT_EQ(Next(*file, block), Pattern(700, 1));
}

TEST_F(PublishedUpdatesTest, AChangeByAnotherWriterDuringAReadRepeatsTheRead) {
  {
    auto file = Open();
    Append(*file, Pattern(900, 1));
    file->Flush(true);
  }
  ChainHost readerHost(temp_.Path, "Orders");
  auto reader = Open(512, &readerHost);
  reader->ReleaseBlock(reader->GetBlock(1, false, 1));
  {
    // The log is saved and emptied, and a new entry of the same length is
    // appended.
    auto writer = Open();
    writer->Empty();
    Append(*writer, Pattern(900, 2));
    writer->Flush(true);
  }
  int32_t block = 1;
  EXPECT_EQ(Next(*reader, block), Pattern(900, 2));
  EXPECT_EQ(block, 3);
  EXPECT_GE(readerHost.ChangeChecks, 1);
  EXPECT_EQ(reader->GetDeadCount(), 0);
}

TEST_F(PublishedUpdatesTest, DamagedEntriesRaiseCorruption) {
  const std::string kType = "Invalid published updates log block type found";
  const std::string kMissing =
      "Cannot find published updates log block during retrieval from cache";
  const std::vector<DamageCase> cases = {
      {"first block of type 0", 1, 4, {0}, kType.c_str()},
      {"second block of type 1", 2, 4, {1}, kType.c_str()},
      {"total beyond the file", 1, 5, Int32Bytes(1 << 30), kMissing.c_str()},
      {"chain ends early", 2, 0, Int32Bytes(0), kMissing.c_str()},
      {"next beyond the file", 2, 0, Int32Bytes(4),
       "Invalid next published updates log block pointer (4)"},
      {"used above the block", 2, 5, Int32Bytes(504),
       "Invalid published updates log block 2 size (504) for start published updates log block "
       "1"},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(Name());
    {
      auto file = Open();
      Append(*file, Pattern(1200, 1));
      file->Flush(true);
    }
    Patch(c.block, c.offset, c.bytes);
    auto file = Open();
    int32_t block = 1;
    EXPECT_EQ(ErrorOf([&] { Next(*file, block); }),
              std::string("601 The table Orders is corrupt (") + c.message + ")");
    EXPECT_EQ(block, 1);
  }
}

// Entries follow one another, so a chain that runs back into an earlier
// entry's blocks is damage: a reader walking the log would otherwise read
// from there again, without end.
TEST_F(PublishedUpdatesTest, AnEntryChainedBackIntoAnEarlierEntryIsRefused) {
  {
    auto file = Open();
    Append(*file, Pattern(1200, 1));  // blocks 1-3
    Append(*file, Pattern(600, 2));   // blocks 4-5
    file->Flush(true);
  }
  Patch(4, 0, Int32Bytes(2));
  auto file = Open();
  int32_t block = 1;
  EXPECT_EQ(Next(*file, block), Pattern(1200, 1));
  ASSERT_EQ(block, 4);
  EXPECT_EQ(ErrorOf([&] { Next(*file, block); }),
            "601 The table Orders is corrupt (Invalid next published updates log block pointer "
            "(2))");
  EXPECT_EQ(block, 4);
}

TEST_F(PublishedUpdatesTest, VerificationFindsBrokenChainsAndRepairsThem) {
  const std::vector<DamageCase> cases = {
      {"loop", 3, 0, Int32Bytes(2), "Recursive next published updates log block pointer (2)"},
      {"next beyond the file", 3, 0, Int32Bytes(9),
       "Invalid next published updates log block pointer (9)"},
      {"start of type 0",
       1,
       4,
       {0},
       "Invalid published updates log block 1 type (0) for start published updates log block 1"},
      {"later block of type 1",
       2,
       4,
       {1},
       "Invalid published updates log block 2 type (1) for start published updates log block 1"},
      {"used above the block", 1, 9, Int32Bytes(500),
       "Invalid published updates log block 1 size (500) for start published updates log block "
       "1"},
      {"a total beyond the chain is not checked", 1, 5, Int32Bytes(5000), nullptr},
  };
  auto verify = [&](bool repair) {
    host_.Log.clear();
    auto file = Open();
    bool errors = false;
    int32_t brackets = host_.ProgressBrackets;
    EXPECT_TRUE(file->VerifyContents(errors, repair));
    EXPECT_EQ(errors, !host_.Log.empty());
    EXPECT_EQ(host_.ProgressBrackets, brackets + 1);
    EXPECT_EQ(host_.ProgressDepth, 0);
    file->Flush(true);
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(Name());
    {
      auto file = Open();
      Append(*file, Pattern(1200, 1));  // 499 + 503 + 198
      Append(*file, Pattern(10, 2));
      file->Flush(true);
    }
    Patch(c.block, c.offset, c.bytes);
    verify(false);
    if (c.message == nullptr) {
      EXPECT_TRUE(host_.Log.empty());
      continue;
    }
    EXPECT_TRUE(Logged(host_, c.message, false));
    verify(true);
    EXPECT_TRUE(Logged(host_, c.message, true));
    verify(false);
    EXPECT_TRUE(host_.Log.empty()) << "repaired for good";
    auto file = Open();
    int32_t block = 1;
    EXPECT_EQ(Next(*file, block), Pattern(1200, 1));
    EXPECT_EQ(Next(*file, block), Pattern(10, 2));
  }
  EXPECT_EQ(host_.Statuses.back(), "Verifying published updates (structure-only)");
}

}  // namespace
}  // namespace brn::testing
