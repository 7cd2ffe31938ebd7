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

constexpr const char* kWriteIncompleteMessage =
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
            EXPECT_EQ(e.ErrorMessage, kWriteIncompleteMessage);
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

// ---- A flush that fails ----

// The changes the failing flushes below make to TwoFiles(5): A's blocks 2
// and 4 and an appended 6 (or A emptied and given two new blocks), and B's
// block 1.
void ChangeBoth(TwoFiles& table, bool emptyA) {
  if (emptyA) {
    table.A.Empty();
    SetBlock(table.A, 1, 41);
    SetBlock(table.A, 2, 42);
  } else {
    SetBlock(table.A, 2, 22);
    SetBlock(table.A, 4, 24);
    SetBlock(table.A, 6, 26);
  }
  SetBlock(table.B, 1, 31);
}

const std::vector<int32_t> kNewA = {1, 22, 3, 24, 5, 26};
const std::vector<int32_t> kNewB = {31, 2, 3, 4, 5};

// A write, short write or sync failing anywhere in a flush of two files:
// the error reaches the caller, both files are back byte for byte as before
// (appended blocks cut off, an emptied file whole again, no flag), and the
// changes are still in the cache, so that a second flush writes them all.
TEST(TableFlush, AFailedWriteOrSyncAnywherePutsEveryFileBackByteForByte) {
  struct Case {
    const char* What;
    TBRNFaultAction Action;
    bool EmptyA;
  };
  const Case cases[] = {
      {"failed write", TBRNFaultAction::FailWrite, false},
      {"short write", TBRNFaultAction::ShortWrite, false},
      {"failed sync", TBRNFaultAction::FailFlush, false},
      {"failed write, A emptied", TBRNFaultAction::FailWrite, true},
      {"failed sync, A emptied", TBRNFaultAction::FailFlush, true},
  };
  for (const Case& c : cases) {
    bool passed = false;
    for (int32_t nth = 1; nth <= 40 && !passed; ++nth) {
      SCOPED_TRACE(std::string(c.What) + " at " + std::to_string(nth));
      TBRNFaultFileManager files(nullptr);
      TwoFiles table(&files, 5);
      const std::vector<uint8_t> rawA = RawFile(files, "/mem/A.BRNTst");
      const std::vector<uint8_t> rawB = RawFile(files, "/mem/B.BRNTst");
      ChangeBoth(table, c.EmptyA);
      TBRNFileFault fault;
      fault.Action = c.Action;
      fault.Nth = nth;
      fault.KeptBytes = 20;
      files.Arm(fault);
      int32_t code = 0;
      try {
        table.Set.Flush(true);
      } catch (const EBRNException& e) {
        code = e.ErrorCode;
      }
      files.Disarm();
      passed = files.InjectedCount() == 0;
      if (!passed) {
        EXPECT_EQ(code, 600);
        EXPECT_EQ(RawFile(files, "/mem/A.BRNTst"), rawA);
        EXPECT_EQ(RawFile(files, "/mem/B.BRNTst"), rawB);
        table.Set.Flush(true);
      }
      table.Reopen();
      const std::vector<int32_t> emptiedA = {41, 42};
      EXPECT_EQ(Values(table.A), c.EmptyA ? emptiedA : kNewA);
      EXPECT_EQ(Values(table.B), kNewB);
    }
    EXPECT_TRUE(passed) << c.What << ": the flush writes fewer than 40 times";
  }
}

// When putting the files back fails as well (the disk refuses every write
// from the n-th on), each file flagged by then stays flagged and asks for
// repair; a file that opens holds its old contents, or its new ones when
// its flag was cleared before the disk filled up. The writes of the flush:
// A flagged, B flagged, A's three blocks, B's block, A cleared, B cleared.
TEST(TableFlush, AFlushThatCannotBePutBackLeavesItsFlagsForRepair) {
  bool passed = false;
  for (int32_t nth = 1; nth <= 40 && !passed; ++nth) {
    SCOPED_TRACE("every write from " + std::to_string(nth) + " on fails");
    TBRNFaultFileManager files(nullptr);
    {
      TwoFiles table(&files, 5);
      ChangeBoth(table, false);
      files.FailWrite(nth, ENOSPC, true);
      try {
        table.Set.Flush(true);
      } catch (const EBRNException& e) {
        EXPECT_EQ(e.ErrorCode, 600);
      }
      files.Disarm();
      passed = files.InjectedCount() == 0;
    }
    if (passed) break;
    for (const char* name : {"A", "B"}) {
      FakeHost host("/mem/", name);
      TestBlockFile file(&host, &files);
      try {
        file.Open();
      } catch (const EBRNException& e) {
        EXPECT_EQ(e.ErrorMessage, kWriteIncomplete) << name;
        continue;
      }
      const bool isA = name[0] == 'A';
      const int32_t flagged = isA ? 1 : 2;
      const int32_t cleared = isA ? 7 : 8;
      EXPECT_FALSE(nth > flagged && nth <= cleared) << name << " stayed flagged";
      EXPECT_EQ(Values(file), nth <= flagged ? Counting(5) : (isA ? kNewA : kNewB)) << name;
    }
  }
  EXPECT_TRUE(passed);
}

// A write or sync fails, and then the power fails at any later call, in the
// middle of putting the files back as well: every file opens clean with
// wholly its old or wholly its new contents, or reports the interrupted
// write, and the files that open clean agree. Without the power loss both
// open with their old contents.
TEST(TableFlush, APowerLossWhileAFailedFlushIsPutBackLeavesAMarkedOrWholeTable) {
  const std::vector<int32_t> oldValues = Counting(5);
  int32_t flushCalls = 0;
  {
    RecordingFiles files;
    TwoFiles table(&files, 5);
    ChangeBoth(table, false);
    int32_t before = files.Calls;
    table.Set.Flush(true);
    flushCalls = files.Calls - before;
  }
  ASSERT_GT(flushCalls, 8);
  for (int32_t failAt = 1; failAt <= flushCalls; ++failAt) {
    bool putBack = false;
    for (int32_t cut = failAt + 1; !putBack; ++cut) {
      ASSERT_LE(cut, failAt + 4 * flushCalls) << "putting back never ends";
      for (int32_t mode = 0; mode < 5; ++mode) {
        SCOPED_TRACE("call " + std::to_string(failAt) + " fails, power cut at call " +
                     std::to_string(cut) + ", loss mode " + std::to_string(mode));
        RecordingFiles files;
        bool failed = false;
        {
          TwoFiles table(&files, 5);
          ChangeBoth(table, false);
          int32_t before = files.Calls;
          files.FailAt = before + failAt;
          files.CutAt = before + cut;
          try {
            table.Set.Flush(true);
          } catch (const PowerCut&) {
          } catch (const EBRNException& e) {
            EXPECT_EQ(e.ErrorCode, 600);
            // The way back swallows its own failures, the power cut too.
            failed = files.Calls < files.CutAt;
          }
          files.FailAt = -1;
          files.CutAt = files.Calls + 1;
        }
        files.LosePower(mode, uint32_t(failAt * 131 + cut * 7 + mode));
        putBack = putBack || failed;
        std::map<std::string, std::vector<int32_t>> clean;
        for (const char* name : {"A", "B"}) {
          FakeHost host("/mem/", name);
          TestBlockFile file(&host, &files);
          try {
            file.Open();
          } catch (const EBRNException& e) {
            EXPECT_EQ(e.ErrorMessage, kWriteIncomplete) << name;
            EXPECT_FALSE(failed) << name << " was not put back";
            continue;
          }
          std::vector<int32_t> values = Values(file);
          EXPECT_TRUE(values == oldValues || values == (name[0] == 'A' ? kNewA : kNewB))
              << name;
          if (failed) {
            EXPECT_EQ(values, oldValues) << name;
          }
          clean[name] = values;
        }
        if (clean.size() == 2) {
          EXPECT_EQ(clean["A"] == oldValues, clean["B"] == oldValues);
        }
      }
    }
  }
}

}  // namespace
}  // namespace brn::testing
