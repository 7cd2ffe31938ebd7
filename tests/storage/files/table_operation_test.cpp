// Row changes of a whole table as operations: a row file with a BLOB
// column, its BLOB file and an index file with two indexes in one file set,
// and a fault at every block a failing insert reads or appends.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "foundation/test_support.h"
#include "storage/files/indexed_table_test_support.h"

namespace brn::testing {
namespace {

// The number of rows after which the next insert splits the unique index
// the given number of times (a root leaf, then a leaf under its parent).
int32_t RowsBeforeSplit(TBRNColumns* columns, int32_t splits) {
  TBRNMemoryFileManager files(nullptr);
  IndexedTable table(&files, columns, true);
  int32_t seen = 0;
  for (int32_t id = 1;; ++id) {
    table.IndexFile->SelectIndex(0);
    int32_t leaves = table.IndexFile->GetLeafPageCount();
    table.Insert(id);
    table.IndexFile->SelectIndex(0);
    if (table.IndexFile->GetLeafPageCount() > leaves && leaves > 0 && ++seen == splits) {
      return id - 1;
    }
  }
}

// An insert of a row with a BLOB and two index keys fails at every block it
// reads from disk and at every block it appends, in each of the table's
// files, after an earlier change that completed in the same session (not
// flushed; an update, so that the insert's index pages are still on disk
// only): the earlier rows and that change stay, the failed row is wholly
// absent, the table goes on (the same row inserts afterwards), verification
// is clean, and all of it holds on disk.
TEST(TableOperationFaults, AnInsertFailingAtAnyBlockLeavesExactlyTheTableBeforeIt) {
  auto columns = MakeColumns({{dtChar, 12}, {dtLob, 0}});
  struct Split {
    const char* name;
    int32_t rows;  // rows on disk before the failing insert
  };
  const Split splits[] = {{"the root leaf splits", RowsBeforeSplit(columns.get(), 1)},
                          {"a leaf splits under its parent", RowsBeforeSplit(columns.get(), 2)}};
  for (const Split& split : splits) {
    for (bool exclusive : {true, false}) {
      for (bool reads : {true, false}) {
        int32_t attempts = 0;
        for (int32_t nth = 1;; ++nth) {
          std::string what = std::string(split.name) +
                             (exclusive ? ", exclusive" : ", in a transaction") +
                             (reads ? ", read " : ", append ") + std::to_string(nth);
          SCOPED_TRACE(what);
          TBRNFaultFileManager files(nullptr);
          {
            IndexedTable table(&files, columns.get(), true);
            for (int32_t id = 1; id <= split.rows; ++id) table.Insert(id);
            table.Files.Flush(true);
          }
          IndexedTable table(&files, columns.get(), exclusive);
          table.Update(1, 1000);
          int32_t failing = split.rows + 1;
          if (reads) {
            files.FailRead(nth);
          } else {
            table.Faults.Left = nth;
          }
          bool failed = false;
          try {
            table.Insert(failing);
          } catch (const EBRNException& e) {
            failed = true;
            EXPECT_EQ(e.ErrorCode, reads ? 600 : 407) << e.ErrorMessage;
          }
          files.Disarm();
          table.Faults.Left = 0;
          if (!failed) break;
          ++attempts;
          table.Expect(split.rows);
          table.Insert(failing);
          table.Expect(failing);
          table.Commit();
          table.ExpectVerified();
          for (TBRNTableFileManager* file : table.Host.Files) {
            file->Close();
            file->Open();
          }
          table.Expect(failing);
        }
        // The insert appends a row, two BLOB blocks and the split's pages,
        // and reads the index pages on its path.
        EXPECT_GE(attempts, reads ? 2 : 4);
      }
    }
  }
}

// A split whose page allocation fails leaves no overfull leaf behind: the
// next flush and close succeed with the table as it was.
TEST(TableOperationFaults, AFailedSplitAllocationLeavesAFlushableIndex) {
  auto columns = MakeColumns({{dtChar, 12}, {dtLob, 0}});
  int32_t rows = RowsBeforeSplit(columns.get(), 1);
  TBRNMemoryFileManager files(nullptr);
  IndexedTable table(&files, columns.get(), true);
  for (int32_t id = 1; id <= rows; ++id) table.Insert(id);
  int32_t indexPages = table.IndexFile->GetBlockCount();
  // The row and its two BLOB blocks append first; the index split's new
  // page is the fourth block appended.
  table.Faults.Left = 4;
  EBRNException error = CaughtError([&] { table.Insert(rows + 1); });
  EXPECT_EQ(error.ErrorCode, 407);
  EXPECT_EQ(table.Faults.Hits, 1);
  EXPECT_EQ(table.IndexFile->GetBlockCount(), indexPages);
  table.Files.Flush(true);
  for (TBRNTableFileManager* file : table.Host.Files) file->Close();
  for (TBRNTableFileManager* file : table.Host.Files) file->Open();
  table.Expect(rows);
  table.ExpectVerified();
}

// A statement holds one operation around its row changes: when its last
// change (an insert) fails, the four updates before it are undone with it,
// the statement before it stays, and the table (a transaction too) goes on.
TEST(TableOperationFaults, AFailedStatementUndoesItsOwnRowChangesOnly) {
  auto columns = MakeColumns({{dtChar, 12}, {dtLob, 0}});
  for (bool exclusive : {true, false}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "in a transaction");
    TBRNMemoryFileManager files(nullptr);
    IndexedTable table(&files, columns.get(), exclusive);
    for (int32_t id = 1; id <= 12; ++id) table.Insert(id);
    auto statement = [&](int32_t seed, bool fails) {
      TBRNTableOperation operation(table.Rows.get());
      for (int32_t id = 1; id <= 4; ++id) table.Update(id, seed + id);
      if (fails) table.Faults.Left = 1;
      table.Insert(100 + seed);
      operation.Commit();
    };
    statement(1000, false);
    RowModel kept = table.Live;
    EBRNException error = CaughtError([&] { statement(2000, true); });
    EXPECT_EQ(error.ErrorCode, 407);
    table.Faults.Left = 0;
    table.Live = kept;
    EXPECT_EQ(table.Contents(), table.ContentsOf(kept));
    statement(3000, false);
    table.Commit();
    table.ExpectVerified();
    table.Close();
    table.Open();
    EXPECT_EQ(table.Contents(), table.ContentsOf(table.Live));
  }
}

}  // namespace
}  // namespace brn::testing
