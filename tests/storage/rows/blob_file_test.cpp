#include "storage/rows/blob_file.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/os_file_manager.h"
#include "storage/rows/chain_file_test_support.h"

namespace brn::testing {
namespace {

using BlobFile = HostedFile<TBRNBlobManager>;

constexpr int64_t kHeaderArea = 4096;

class BlobFileTest : public ChainFileTest<TBRNBlobManager> {
 protected:
  BlobFileTest() : ChainFileTest("Pictures", ".BRNBlb", kHeaderArea) {}

  void Write(TBRNBlobManager& file, int32_t owner, int32_t& first,
             const std::vector<uint8_t>& value) {
    file.WriteBlob(owner, first, value.data(), int32_t(value.size()));
  }
  std::vector<uint8_t> Read(TBRNBlobManager& file, int32_t owner, int32_t first) {
    TBRNMemoryStream stream;
    file.ReadBlob(owner, first, stream);
    EXPECT_EQ(stream.GetPosition(), 0);
    return Bytes(stream);
  }
};

// With 4096-byte blocks the first block holds 4079 bytes and every further
// one 4087; a value takes as many blocks as that needs, at least one.
TEST_F(BlobFileTest, AValueTakesTheBlocksItsLengthNeedsAndReadsBackAfterReopening) {
  struct Case {
    int32_t size;
    int32_t blocks;
  };
  const std::vector<Case> cases = {
      {0, 1}, {1, 1}, {4079, 1}, {4080, 2}, {4079 + 4087, 2}, {4079 + 4087 + 1, 3}, {20480, 6},
  };
  std::vector<int32_t> firsts;
  {
    auto file = Open(4096);
    for (size_t i = 0; i < cases.size(); ++i) {
      int32_t before = file->GetBlockCount();
      int32_t first = 0;
      Write(*file, int32_t(i) + 1, first, Pattern(cases[i].size, uint32_t(i)));
      EXPECT_EQ(first, before + 1) << cases[i].size;
      EXPECT_EQ(file->GetBlockCount() - before, cases[i].blocks) << cases[i].size;
      firsts.push_back(first);
    }
    file->Flush(true);
  }
  auto file = Open(4096);
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(Read(*file, int32_t(i) + 1, firsts[i]), Pattern(cases[i].size, uint32_t(i)))
        << cases[i].size;
  }
}

// The block layout on disk: first block next, type, owner, total, used,
// data from 17; further blocks next, type, used, data from 9.
TEST_F(BlobFileTest, BlocksCarryTheirHeaderFieldsAtTheirOffsets) {
  std::vector<uint8_t> value = Pattern(600, 3);
  int32_t empty = 0;
  int32_t first = 0;
  {
    auto file = Open();
    Write(*file, 42, empty, {});
    Write(*file, 77, first, value);
    file->Flush(true);
  }
  std::vector<uint8_t> raw = RawFile(files_, Name());
  ASSERT_EQ(raw.size(), size_t(kHeaderArea + 3 * 512));
  auto at = [&](int32_t block, size_t offset) { return size_t(BlockAt(block)) + offset; };
  EXPECT_EQ(Int32At(raw, at(1, 0)), 0);
  EXPECT_EQ(raw[at(1, 4)], 1);
  EXPECT_EQ(Int32At(raw, at(1, 5)), 42);
  EXPECT_EQ(Int32At(raw, at(1, 9)), 0);
  EXPECT_EQ(Int32At(raw, at(1, 13)), 0);

  EXPECT_EQ(Int32At(raw, at(2, 0)), 3);
  EXPECT_EQ(raw[at(2, 4)], 1);
  EXPECT_EQ(Int32At(raw, at(2, 5)), 77);
  EXPECT_EQ(Int32At(raw, at(2, 9)), 600);
  EXPECT_EQ(Int32At(raw, at(2, 13)), 495);
  EXPECT_TRUE(std::equal(value.begin(), value.begin() + 495, raw.begin() + long(at(2, 17))));

  EXPECT_EQ(Int32At(raw, at(3, 0)), 0);
  EXPECT_EQ(raw[at(3, 4)], 0);
  EXPECT_EQ(Int32At(raw, at(3, 5)), 105);
  EXPECT_TRUE(std::equal(value.begin() + 495, value.end(), raw.begin() + long(at(3, 9))));
}

// A chain is rewritten in place: a shorter value keeps the later blocks
// linked, a longer one reuses them before it appends.
TEST_F(BlobFileTest, RewritingAChainKeepsItsBlocksAndReadsExactlyTheNewLength) {
  struct Step {
    int32_t size;
    int32_t blocksAfter;
  };
  // 495 in the first block, 503 in each further one.
  const std::vector<Step> steps = {
      {1500, 3}, {100, 3}, {0, 3}, {1501, 3}, {1502, 4}, {10, 4}, {2004, 4}, {2005, 5},
  };
  auto file = Open();
  int32_t other = 0;
  int32_t first = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    Write(*file, 5, first, Pattern(steps[i].size, uint32_t(i)));
    if (i == 0) Write(*file, 6, other, Pattern(50, 99));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(file->GetBlockCount(), steps[i].blocksAfter + 1) << i;
    EXPECT_EQ(Read(*file, 5, first), Pattern(steps[i].size, uint32_t(i))) << i;
  }
  file->Flush(true);
  file = Open();
  EXPECT_EQ(Read(*file, 5, first), Pattern(2005, 7));
  EXPECT_EQ(Read(*file, 6, other), Pattern(50, 99));
}

// The first block names the row version that wrote the chain; the value
// belongs to that row only.
TEST_F(BlobFileTest, AChainReadsEmptyForAnotherOwnerAndForNoChain) {
  auto file = Open();
  int32_t first = 0;
  Write(*file, 1000, first, Pattern(700, 1));
  EXPECT_EQ(Read(*file, 1000, first), Pattern(700, 1));
  EXPECT_TRUE(Read(*file, 1001, first).empty());
  EXPECT_TRUE(Read(*file, 0, first).empty());
  EXPECT_TRUE(Read(*file, 1000, 0).empty()) << "no chain";
  EXPECT_TRUE(Read(*file, 1000, 3).empty()) << "beyond the last block";
  EXPECT_EQ(file->GetBlockCount(), 2) << "a read appends nothing";
  // Rewritten for a new row version, the old version no longer owns it.
  Write(*file, 1002, first, Pattern(10, 2));
  EXPECT_TRUE(Read(*file, 1000, first).empty());
  EXPECT_EQ(Read(*file, 1002, first), Pattern(10, 2));
}

TEST_F(BlobFileTest, AValuePastTheFileSizeLimitIsRefused) {
  LimitedFiles<TBRNOSFileManager> files(nullptr);
  files.Limit = kHeaderArea + 2 * 512;
  BlobFile file(&host_, &files, 512);
  file.OpenOrCreate();
  int32_t first = 0;
  std::vector<uint8_t> fits = Pattern(495 + 503, 1);
  file.WriteBlob(1, first, fits.data(), int32_t(fits.size()));
  EXPECT_EQ(file.GetBlockCount(), 2);
  std::vector<uint8_t> grows = Pattern(495 + 503 + 1, 1);
  std::string error = ErrorOf([&] { file.WriteBlob(1, first, grows.data(), 999); });
  EXPECT_EQ(error.substr(0, 4), "407 ") << error;
}

// Numbers from the file that cannot be right raise the engine's corruption
// error instead of reading past the file, looping or allocating wildly.
TEST_F(BlobFileTest, DamagedChainsRaiseCorruptionOnReadAndWrite) {
  const std::string kType = "Invalid BLOB block type found";
  const std::string kMissing = "Cannot find BLOB block during retrieval from cache";
  const std::vector<DamageCase> cases = {
      {"first block of type 0", 1, 4, {0}, kType.c_str()},
      {"second block of type 1", 2, 4, {1}, kType.c_str()},
      {"total beyond the file", 1, 9, Int32Bytes(2147483647), kMissing.c_str()},
      {"negative total", 1, 9, Int32Bytes(-1), kMissing.c_str()},
      {"chain ends early", 2, 0, Int32Bytes(0), kMissing.c_str()},
      {"next beyond the file", 2, 0, Int32Bytes(99), "Invalid next BLOB block pointer (99)"},
      {"next equal to NextBlock", 2, 0, Int32Bytes(5), "Invalid next BLOB block pointer (5)"},
      {"negative next", 2, 0, Int32Bytes(-3), "Invalid next BLOB block pointer (-3)"},
      {"first used above the block", 1, 13, Int32Bytes(496),
       "Invalid BLOB block 1 size (496) for start BLOB block 1"},
      {"negative used", 2, 5, Int32Bytes(-1),
       "Invalid BLOB block 2 size (-1) for start BLOB block 1"},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t first = 0;
    int32_t other = 0;
    {
      auto file = Open();
      Write(*file, 7, first, Pattern(1200, 1));
      Write(*file, 8, other, Pattern(20, 2));
      file->Flush(true);
    }
    Patch(c.block, c.offset, c.bytes);
    {
      auto file = Open();
      std::string expected = std::string("601 The table Pictures is corrupt (") + c.message + ")";
      EXPECT_EQ(ErrorOf([&] { Read(*file, 7, first); }), expected);
      EXPECT_EQ(file->GetBlockCount(), 4);
      EXPECT_EQ(Read(*file, 8, other), Pattern(20, 2)) << "the other chain is unharmed";
    }
    std::filesystem::remove(Name());
  }

  // A loop of empty blocks ends once the chain has visited more blocks than
  // the file holds.
  int32_t first = 0;
  {
    auto file = Open();
    Write(*file, 7, first, Pattern(1200, 1));
    file->Flush(true);
  }
  Patch(2, 0, Int32Bytes(2));
  Patch(2, 5, Int32Bytes(0));
  auto file = Open();
  EXPECT_EQ(ErrorOf([&] { Read(*file, 7, first); }),
            "601 The table Pictures is corrupt (Recursive next BLOB block pointer (2))");
  EXPECT_EQ(ErrorOf([&] { Write(*file, 7, first, Pattern(5000, 1)); }),
            "601 The table Pictures is corrupt (Recursive next BLOB block pointer (2))");
  Patch(2, 0, Int32Bytes(99));
  file = Open();
  EXPECT_EQ(ErrorOf([&] { Write(*file, 7, first, Pattern(1200, 1)); }),
            "601 The table Pictures is corrupt (Invalid next BLOB block pointer (99))");
  int32_t beyond = 4;
  EXPECT_EQ(ErrorOf([&] { Write(*file, 7, beyond, Pattern(10, 1)); }),
            "601 The table Pictures is corrupt (Invalid BLOB block number specified for "
            "retrieval from cache)");
  EXPECT_EQ(file->GetBlockCount(), 3);
  Patch(1, 4, {0});
  file = Open();
  EXPECT_EQ(ErrorOf([&] { Write(*file, 7, first, Pattern(10, 1)); }),
            "601 The table Pictures is corrupt (Invalid BLOB block type found)");
  EXPECT_EQ(ErrorOf([&] { Read(*file, 7, -1); }),
            "601 The table Pictures is corrupt (Invalid BLOB block number specified for "
            "retrieval from cache)");
}

pid_t Fork(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    int rc = 90;
    try {
      rc = body();
    } catch (...) {
      rc = 91;
    }
    _exit(rc);
  }
  return pid;
}

// A reader that holds the first block of a chain in its cache meets the
// other writer's change at its next miss: it reads the whole value again
// instead of mixing the old first block with the new rest.
TEST_F(BlobFileTest, AChangeByAnotherWriterDuringAReadRepeatsTheRead) {
  for (bool otherProcess : {false, true}) {
    SCOPED_TRACE(otherProcess ? "another process" : "another manager");
    std::filesystem::remove(Name());
    int32_t first = 0;
    {
      auto file = Open();
      Write(*file, 3, first, Pattern(1200, 1));
      file->Flush(true);
    }
    ChainHost readerHost(temp_.Path, "Pictures");
    auto reader = Open(512, &readerHost);
    reader->ReleaseBlock(reader->GetBlock(first, false, 1));
    ASSERT_EQ(reader->GetBufferCount(), 1);

    auto change = [&] {
      ChainHost writerHost(temp_.Path, "Pictures");
      TBRNOSFileManager files(nullptr);
      BlobFile writer(&writerHost, &files, 512);
      writer.Open();
      int32_t at = first;
      std::vector<uint8_t> value = Pattern(1200, 2);
      writer.WriteBlob(3, at, value.data(), int32_t(value.size()));
      writer.Flush(true);
      return at == first ? 0 : 1;
    };
    if (otherProcess) {
      int status = 0;
      waitpid(Fork(change), &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      ASSERT_EQ(WEXITSTATUS(status), 0);
    } else {
      ASSERT_EQ(change(), 0);
    }
    EXPECT_EQ(Read(*reader, 3, first), Pattern(1200, 2));
    EXPECT_GE(readerHost.ChangeChecks, 1);
    EXPECT_EQ(reader->GetDeadCount(), 0) << "the block held at the restart was released";
  }
}

class BlobVerifyTest : public BlobFileTest {
 protected:
  // Blocks 1-3: a value of 1200 bytes of row version 7 (495 + 503 + 202);
  // block 4: 20 bytes of row version 8.
  void MakeFile() {
    std::filesystem::remove(Name());
    auto file = Open();
    first_ = other_ = 0;
    Write(*file, 7, first_, Pattern(1200, 1));
    Write(*file, 8, other_, Pattern(20, 2));
    file->Flush(true);
  }
  bool Verify(bool repair) {
    host_.Log.clear();
    auto file = Open();
    bool errors = false;
    bool result = file->VerifyContents(errors, repair);
    EXPECT_EQ(errors, !host_.Log.empty());
    file->Flush(true);
    return result;
  }

  int32_t first_ = 0;
  int32_t other_ = 0;
};

TEST_F(BlobVerifyTest, FindingsAreReportedAndRepairsKeepTheValuesReadable) {
  const std::vector<DamageCase> cases = {
      {"loop", 3, 0, Int32Bytes(2), "Recursive next BLOB block pointer (2)"},
      {"link into an earlier chain", 4, 0, Int32Bytes(1), "Recursive next BLOB block pointer (1)"},
      {"next beyond the file", 3, 0, Int32Bytes(99), "Invalid next BLOB block pointer (99)"},
      {"negative next", 3, 0, Int32Bytes(-5), "Invalid next BLOB block pointer (-5)"},
      {"start of type 0", 1, 4, {0}, "Invalid BLOB block 1 type (0) for start BLOB block 1"},
      {"start of type 9", 1, 4, {9}, "Invalid BLOB block 1 type (9) for start BLOB block 1"},
      {"later block of type 1", 2, 4, {1}, "Invalid BLOB block 2 type (1) for start BLOB block 1"},
      {"used above the block", 1, 13, Int32Bytes(600),
       "Invalid BLOB block 1 size (600) for start BLOB block 1"},
      {"later used above the block", 2, 5, Int32Bytes(504),
       "Invalid BLOB block 2 size (504) for start BLOB block 1"},
      {"total beyond the chain", 1, 9, Int32Bytes(5000),
       "Invalid total size (5000) for start BLOB block 1"},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    MakeFile();
    EXPECT_TRUE(Verify(false));
    EXPECT_TRUE(host_.Log.empty()) << host_.Log.front();
    Patch(c.block, c.offset, c.bytes);
    EXPECT_TRUE(Verify(false));
    EXPECT_TRUE(Logged(host_, c.message, false));
    EXPECT_TRUE(Verify(true));
    EXPECT_TRUE(Logged(host_, c.message, true));
    EXPECT_TRUE(Verify(false));
    EXPECT_TRUE(host_.Log.empty()) << "repaired for good";
    auto file = Open();
    EXPECT_EQ(Read(*file, 7, first_), Pattern(1200, 1));
    EXPECT_EQ(Read(*file, 8, other_), Pattern(20, 2));
  }
  EXPECT_EQ(host_.Statuses.back(), "Verifying BLOBs (structure-only)");
}

// A chain may run backwards through the file (a later block taken from the
// free list): it is walked from its first block, never taken apart from the
// middle.
TEST_F(BlobVerifyTest, AChainThatRunsBackwardsIsSound) {
  int32_t first = 0;
  {
    auto file = Open();
    TBRNBlobBlock* spare = file->AllocateBlock();
    file->ReleaseBlock(spare);
    Write(*file, 7, first, Pattern(100, 1));
    ASSERT_EQ(first, 2);
    spare = file->GetBlock(1, false, 1);
    file->FreeBlock(spare);
    file->ReleaseBlock(spare);
    Write(*file, 7, first, Pattern(900, 1));
    EXPECT_EQ(file->GetBlockCount(), 2) << "the second block came from the free list";
    file->Flush(true);
  }
  EXPECT_TRUE(Verify(true));
  EXPECT_TRUE(host_.Log.empty()) << host_.Log.front();
  auto file = Open();
  EXPECT_EQ(Read(*file, 7, first), Pattern(900, 1));
}

// The header check reports a block count beyond the file; the chain walk
// stays within the blocks the file holds.
TEST_F(BlobVerifyTest, AHeaderCountingBlocksBeyondTheFileKeepsTheWalkInside) {
  MakeFile();
  PatchFile(files_, Name(), 49, Int32Bytes(1000));
  EXPECT_TRUE(Verify(false));
  EXPECT_TRUE(host_.Log.empty()) << host_.Log.front();
}

TEST_F(BlobVerifyTest, ACancelEndsTheWalk) {
  MakeFile();
  host_.CancelAfter = 0;
  EXPECT_FALSE(Verify(false));
  EXPECT_EQ(host_.ProgressBrackets, 1);
  EXPECT_EQ(host_.ProgressDepth, 0) << "a cancelled walk closes its progress bracket";
  host_.CancelAfter = -1;
  host_.Progress.clear();
  EXPECT_TRUE(Verify(false));
  EXPECT_EQ(host_.Progress.front(), 25);
  EXPECT_EQ(host_.Progress.back(), 100);
}

}  // namespace
}  // namespace brn::testing
