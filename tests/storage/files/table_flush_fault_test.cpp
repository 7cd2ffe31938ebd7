// A table's rows, index and BLOB files when the flush of a change fails at
// any write: the table stays exactly as it was and takes the next change.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "storage/files/indexed_table_test_support.h"
#include "storage/files/table_file_test_support.h"

namespace brn::testing {
namespace {

// Forty rows flushed; then forty inserts (index pages split, new BLOB
// chains), new BLOBs for every third old row and deletes of every fifth, so
// that the flush overwrites, appends and frees blocks of all three files.
// Its n-th write fails, for every n until one flush passes: the files are
// byte for byte as before, open without a repair mark, verify clean, hold
// the forty rows with their keys and BLOBs, and the next change succeeds.
// In a transaction and under the exclusive lock (flushed at the end).
TEST(TableFlushFaults, AFailedFlushAnywhereLeavesRowsKeysAndBlobsAsBefore) {
  auto columns = MakeColumns({{dtChar, 12}, {dtLob, 0}});
  for (bool exclusive : {false, true}) {
    bool passed = false;
    for (int32_t nth = 1; nth <= 300 && !passed; ++nth) {
      SCOPED_TRACE(std::string(exclusive ? "exclusive" : "transaction") + ", write " +
                   std::to_string(nth));
      TBRNFaultFileManager files(nullptr);
      RowModel before;
      {
        IndexedTable table(&files, columns.get(), exclusive);
        table.VariedBlobs = true;
        for (int32_t id = 1; id <= 40; ++id) table.Insert(id);
        table.Commit();
        before = table.Live;
        std::map<std::string, std::vector<uint8_t>> raw;
        for (TBRNTableFileManager* file : table.Host.Files) {
          raw[file->GetFileName()] = RawFile(files, file->GetFileName());
        }
        for (int32_t id = 41; id <= 80; ++id) table.Insert(id, id + 1000);
        for (int32_t id = 1; id <= 40; id += 3) table.Update(id, id + 2000);
        for (int32_t id = 5; id <= 40; id += 5) table.Delete(id);
        files.FailWrite(nth);
        try {
          table.Commit();
        } catch (const EBRNException& e) {
          EXPECT_EQ(e.ErrorCode, 600);
        }
        files.Disarm();
        passed = files.InjectedCount() == 0;
        if (!passed) {
          for (const auto& [name, bytes] : raw) EXPECT_EQ(RawFile(files, name), bytes) << name;
          // Under the exclusive lock the closing would flush the changes.
          for (TBRNTableFileManager* file : table.Host.Files) file->DiscardChanges();
        }
      }
      if (passed) break;
      IndexedTable table(&files, columns.get(), exclusive);
      table.VariedBlobs = true;
      EXPECT_EQ(table.Contents(), table.ContentsOf(before));
      table.ExpectVerified();
      table.Insert(500, 7);
      table.Delete(1);
      table.Commit();
      before[500] = 7;
      before.erase(1);
      EXPECT_EQ(table.Contents(), table.ContentsOf(before));
    }
    EXPECT_TRUE(passed) << "the flush writes fewer than 300 times";
  }
}

}  // namespace
}  // namespace brn::testing
