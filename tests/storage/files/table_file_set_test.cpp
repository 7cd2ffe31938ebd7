#include "storage/files/table_file_set.h"

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "foundation/test_support.h"
#include "storage/files/recording_file_manager.h"
#include "storage/files/table_file_test_support.h"

namespace brn::testing {
namespace {

constexpr const char* kWriteIncomplete =
    "A write operation did not complete and a repair is required";

// Block n takes value (appending it when n is the file's next block).
void SetBlock(TestBlockFile& file, int32_t n, uint8_t value) {
  TBRNTableFileBuffer* buffer = n == file.GetFreeOrNextBlock() ? file.Allocate() : file.Get(n);
  ASSERT_EQ(buffer->BlockNumber, n);
  FillBlock(buffer, value);
  file.ReleaseBuffer(buffer);
}

// The value of every block of the file, block 1 first.
std::vector<int32_t> Values(TestBlockFile& file) {
  std::vector<int32_t> values;
  for (int32_t n = 1; n < file.NextBlock; ++n) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    values.push_back(BlockValue(buffer));
    file.ReleaseBuffer(buffer);
  }
  return values;
}

std::vector<int32_t> Counting(int32_t blocks) {
  std::vector<int32_t> values;
  for (int32_t n = 1; n <= blocks; ++n) values.push_back(n);
  return values;
}

// Two block files of one table, each made with n blocks valued 1 .. n and
// flushed.
struct TwoFiles {
  TwoFiles(TBRNFileManager* files, int32_t blocks, int32_t capacity = 16)
      : HostA("/mem/", "A"),
        HostB("/mem/", "B"),
        A(&HostA, files, 256, capacity),
        B(&HostB, files, 256, capacity) {
    for (TestBlockFile* file : {&A, &B}) {
      file->OpenOrCreate();
      for (int32_t n = 1; n <= blocks; ++n) SetBlock(*file, n, uint8_t(n));
      Set.Add(file);
    }
    Set.Flush(true);
  }
  void Reopen() {
    A.Close();
    B.Close();
    A.Open();
    B.Open();
  }

  FakeHost HostA;
  FakeHost HostB;
  TestBlockFile A;
  TestBlockFile B;
  TBRNTableFileSet Set;
};

// ---- The operation bracket ----

// A completed change, then an outer operation around an inner one, each of
// which may fail: every failure restores exactly its own blocks and
// counters, in both files, and nothing before it.
TEST(TableOperation, NestedOperationsRestoreExactlyTheirOwnBlocksAndCounters) {
  struct Case {
    const char* name;
    bool innerFails;
    bool outerFails;
    std::vector<int32_t> a;  // block values; block 6 is free unless taken
    int32_t aFreeHead;
    std::vector<int32_t> b;
  };
  const std::vector<int32_t> aBefore = {100, 2, 3, 4, 5, 6, 107};
  const Case cases[] = {
      {"both succeed", false, false, {100, 122, 3, 4, 5, 106, 107}, 0, {1, 2, 203, 4, 5, 6, 207}},
      {"inner fails", true, false, {100, 102, 3, 4, 5, 6, 107}, 6, {1, 2, 3, 4, 5, 6, 207}},
      {"outer fails after the inner succeeded", false, true, aBefore, 6, Counting(6)},
      {"both fail", true, true, aBefore, 6, Counting(6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBRNMemoryFileManager files(nullptr);
    TwoFiles table(&files, 6);
    TestBlockFile& a = table.A;
    TestBlockFile& b = table.B;
    {
      TBRNTableOperation done(&a);
      SetBlock(a, 1, 100);
      SetBlock(a, 7, 107);
      TBRNTableFileBuffer* six = a.Get(6);
      a.Free(six);
      a.ReleaseBuffer(six);
      done.Commit();
    }
    try {
      TBRNTableOperation outer(&a);
      SetBlock(a, 2, 102);
      SetBlock(b, 7, 207);
      try {
        TBRNTableOperation inner(&b);
        TBRNTableFileBuffer* taken = a.Allocate();
        EXPECT_EQ(taken->BlockNumber, 6);
        FillBlock(taken, 106);
        a.ReleaseBuffer(taken);
        SetBlock(a, 2, 122);
        SetBlock(b, 3, 203);
        EXPECT_EQ(table.Set.GetOperationDepth(), 2);
        if (c.innerFails) throw std::runtime_error("inner");
        inner.Commit();
      } catch (const std::runtime_error&) {
      }
      if (c.outerFails) throw std::runtime_error("outer");
      outer.Commit();
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(table.Set.GetOperationDepth(), 0);
    for (int32_t pass = 0; pass < 2; ++pass) {
      SCOPED_TRACE(pass == 0 ? "in the cache" : "on disk");
      EXPECT_EQ(a.FreeListHead, c.aFreeHead);
      EXPECT_EQ(Values(a), c.a);
      EXPECT_EQ(Values(b), c.b);
      table.Set.Flush(true);
      table.Reopen();
    }
    for (TestBlockFile* file : {&a, &b}) {
      bool errors = false;
      EXPECT_TRUE(file->Verify(errors, false));
      EXPECT_FALSE(errors);
    }
  }
}

// Twelve completed allocations, each its own operation, then one that fails
// after three more: the file keeps all twelve, whether it stands alone or in
// a set, with a flush after the eighth (exclusive mode) or none (a
// transaction).
TEST(TableOperation, AFailedOperationNeverUndoesCompletedOnes) {
  for (bool inSet : {false, true}) {
    for (bool exclusive : {true, false}) {
      SCOPED_TRACE(std::string(inSet ? "in a set" : "alone") +
                   (exclusive ? ", exclusive" : ", in a transaction"));
      TBRNMemoryFileManager files(nullptr);
      FakeHost host("/mem/", "Alloc");
      host.ExclusiveLock = exclusive;
      TestBlockFile file(&host, &files, 256, 8);
      TBRNTableFileSet set;
      if (inSet) set.Add(&file);
      file.OpenOrCreate();
      if (!exclusive) file.BeginTransaction();
      for (int32_t n = 1; n <= 12; ++n) {
        TBRNTableOperation operation(&file);
        SetBlock(file, n, uint8_t(n));
        operation.Commit();
        if (exclusive && n == 8) file.Flush(false);
      }
      EXPECT_EQ(file.NextBlock, 13);
      EBRNException error = CaughtError([&] {
        TBRNTableOperation operation(&file);
        for (int32_t n = 13; n <= 15; ++n) SetBlock(file, n, 99);
        SetBlock(file, 1, 99);
        throw EBRNException(601, "injected");
      });
      EXPECT_EQ(error.ErrorMessage, "injected");
      EXPECT_EQ(file.NextBlock, 13);
      EXPECT_EQ(Values(file), Counting(12));
      if (!exclusive) file.CommitTransaction(true, false);
      file.Close();
      file.Open();
      EXPECT_EQ(Values(file), Counting(12));
    }
  }
}

// Under the exclusive lock a full cache flushes for room, but never inside
// an operation: there it grows, and no byte reaches the disk until the
// operation is over. The flush for room that follows covers every file of
// the table.
TEST(TableOperation, NoFlushForRoomWritesAnOperationsBlocks) {
  TBRNFaultFileManager files(nullptr);
  TwoFiles table(&files, 4, 8);
  table.HostA.ExclusiveLock = table.HostB.ExclusiveLock = true;
  table.Reopen();
  int32_t writes = files.WriteCount();
  {
    TBRNTableOperation operation(&table.A);
    for (int32_t n = 5; n <= 16; ++n) SetBlock(table.A, n, uint8_t(n));
    SetBlock(table.B, 1, 201);
    EXPECT_EQ(files.WriteCount(), writes);
    EXPECT_GE(table.A.GetBufferCount(), 12);
    operation.Commit();
  }
  EXPECT_EQ(files.WriteCount(), writes);
  TBRNTableFileBuffer* buffer = table.A.Get(1);
  table.A.ReleaseBuffer(buffer);
  EXPECT_GT(files.WriteCount(), writes);
  EXPECT_EQ(table.A.GetDirtyCount(), 0);
  EXPECT_EQ(table.B.GetDirtyCount(), 0);
  table.Reopen();
  std::vector<int32_t> expected = Counting(16);
  EXPECT_EQ(Values(table.A), expected);
  EXPECT_EQ(Values(table.B), (std::vector<int32_t>{201, 2, 3, 4}));
}

TEST(TableOperation, MisuseIsRefused) {
  TBRNMemoryFileManager files(nullptr);
  TwoFiles table(&files, 2);
  TBRNTableFileSet other;
  EXPECT_THROW(other.Add(&table.A), std::logic_error);
  EXPECT_THROW(table.Set.CommitOperation(), std::logic_error);
  EXPECT_THROW(table.Set.RollbackOperation(), std::logic_error);
  TBRNTableOperation operation(&table.A);
  SetBlock(table.A, 1, 50);
  SetBlock(table.B, 1, 50);
  EXPECT_THROW(table.Set.Flush(false), std::logic_error);
  EXPECT_THROW(table.B.Flush(false), std::logic_error);
  TestBlockFile late(&table.HostA, &files);
  EXPECT_THROW(table.Set.Add(&late), std::logic_error);
  operation.Commit();
  table.Set.Flush(false);
}

// A shared reader's miss asks whether another writer changed the table; when
// none did, the re-read header must not wipe out this session's own
// unflushed header changes (an appended block, a freed one).
TEST(TableOperation, AMissInSharedModeKeepsTheSessionsUnflushedHeader) {
  TBRNMemoryFileManager files(nullptr);
  TwoFiles table(&files, 4);
  table.Reopen();
  SetBlock(table.A, 5, 55);
  TBRNTableFileBuffer* two = table.A.Get(2);
  table.A.Free(two);
  table.A.ReleaseBuffer(two);
  TBRNTableFileBuffer* three = table.A.Get(3);  // a miss
  table.A.ReleaseBuffer(three);
  EXPECT_EQ(table.A.NextBlock, 6);
  EXPECT_EQ(table.A.FreeListHead, 2);
  EXPECT_TRUE(table.A.GetHeaderModified());
  table.Set.Flush(true);
  table.Reopen();
  EXPECT_EQ(table.A.NextBlock, 6);
  EXPECT_EQ(table.A.FreeListHead, 2);
}

// ---- The flush bracket ----

bool IsHeaderWrite(const RecordingFiles::Entry& entry) {
  return !entry.Sync && entry.Offset == 0;
}

// Every file's write-in-progress header comes before the first block of
// any file, with a sync in between, and every flag is cleared only after
// the last block of every file has been synced.
TEST(TableFlush, EveryFileIsFlaggedBeforeAnyBlockAndClearedAfterTheLast) {
  RecordingFiles files;
  TwoFiles table(&files, 3);
  SetBlock(table.A, 2, 22);
  SetBlock(table.A, 4, 24);
  SetBlock(table.B, 1, 31);
  files.Log.clear();
  table.Set.Flush(true);
  std::vector<std::string> shape;
  for (const RecordingFiles::Entry& entry : files.Log) {
    std::string file = entry.Name.substr(entry.Name.size() - 8, 1);
    if (entry.Sync) {
      shape.push_back(file + " sync");
    } else if (IsHeaderWrite(entry)) {
      shape.push_back(file + (entry.Bytes.at(53) != 0 ? " flagged" : " cleared"));
    } else {
      shape.push_back(file + " block " + std::to_string((entry.Offset - 1024) / 256 + 1) + "+" +
                      std::to_string(entry.Bytes.size() / 256));
    }
  }
  EXPECT_EQ(shape,
            (std::vector<std::string>{"A flagged", "A sync", "B flagged", "B sync", "A block 2+1",
                                      "A block 4+1", "A sync", "B block 1+1", "B sync", "A cleared",
                                      "A sync", "B cleared", "B sync"}));
}

// The power fails at every call of a flush of two files, and the disk keeps
// all, none or a random part of each file's writes since its last sync.
// After it every file opens clean or reports the interrupted write; a file
// that opens clean holds wholly the old or wholly the new contents, the
// files that open clean agree on which, and blocks the flush did not touch
// keep their synced values in every file.
TEST(TableFlush, APowerLossAnywhereLeavesSyncedDataAndAMarkedOrWholeTable) {
  const std::vector<int32_t> oldValues = Counting(5);
  const std::vector<int32_t> newA = {1, 22, 3, 24, 5, 26};
  const std::vector<int32_t> newB = {31, 2, 3, 4, 5};
  int32_t calls = 0;
  for (int32_t cut = 1; calls == 0 || cut <= calls + 1; ++cut) {
    for (int32_t mode = 0; mode < 5; ++mode) {
      SCOPED_TRACE("power cut at call " + std::to_string(cut) + ", loss mode " +
                   std::to_string(mode));
      RecordingFiles files;
      {
        TwoFiles table(&files, 5);
        SetBlock(table.A, 2, 22);
        SetBlock(table.A, 4, 24);
        SetBlock(table.A, 6, 26);
        SetBlock(table.B, 1, 31);
        int32_t before = files.Calls;
        files.CutAt = before + cut;
        try {
          table.Set.Flush(true);
          if (calls == 0) calls = files.Calls - before;
        } catch (const PowerCut&) {
        }
        files.CutAt = files.Calls + 1;  // the rest of the process dies with it
      }
      files.LosePower(mode, uint32_t(cut * 7 + mode));
      std::map<std::string, bool> clean;
      std::map<std::string, bool> isNew;
      for (const char* name : {"A", "B"}) {
        SCOPED_TRACE(name);
        FakeHost host("/mem/", name);
        bool opened = false;
        {
          TestBlockFile file(&host, &files);
          try {
            file.Open();
            opened = true;
          } catch (const EBRNException& e) {
            EXPECT_EQ(e.ErrorCode, 100);
            EXPECT_EQ(e.ErrorMessage, kWriteIncomplete);
          }
          if (opened) {
            std::vector<int32_t> values = Values(file);
            const std::vector<int32_t>& fresh = name[0] == 'A' ? newA : newB;
            EXPECT_TRUE(values == oldValues || values == fresh);
            isNew[name] = values == fresh;
          }
          clean[name] = opened;
        }
        if (!opened) {
          // Repair's view: the blocks the flush did not touch are intact.
          host.SkipWrite = true;
          TestBlockFile file(&host, &files);
          file.Open();
          for (int32_t n : {3, 5}) {
            if (n >= file.NextBlock) continue;
            TBRNTableFileBuffer* buffer = file.Get(n);
            EXPECT_EQ(BlockValue(buffer), n);
            file.ReleaseBuffer(buffer);
          }
        }
      }
      if (clean["A"] && clean["B"]) {
        EXPECT_EQ(isNew["A"], isNew["B"]);
      }
    }
  }
}

}  // namespace
}  // namespace brn::testing
