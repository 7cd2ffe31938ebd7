// Row changes of a whole table as operations: a row file with a BLOB
// column, its BLOB file and an index file with two indexes in one file set,
// and a fault at every block a failing insert reads or appends.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "foundation/test_support.h"
#include "metadata/catalog/indexes.h"
#include "storage/files/table_file_set.h"
#include "storage/indexes/index_file_test_support.h"
#include "storage/rows/row_file_test_support.h"

namespace brn::testing {
namespace {

// Appends that fail on command: the Nth block appended to any file of the
// table after arming raises 407, as a full disk would.
struct AppendFaults {
  int32_t Left = 0;  // appends before the failing one; 0: disarmed
  int32_t Hits = 0;
  void Check() {
    if (Left > 0 && --Left == 0) {
      ++Hits;
      throw EBRNException(407, "injected: file full");
    }
  }
};

class FaultyRows : public TBRNRowsetManager {
 public:
  FaultyRows(FakeHost* host, TBRNFileManager* files, const TBRNRowsetLayout& layout,
             TBRNRowsetHost* rows, AppendFaults* faults)
      : TBRNRowsetManager(host, files, layout, rows), faults_(faults) {}
  ~FaultyRows() override {
    try {
      Close();
    } catch (...) {
    }
  }
  void CheckFileFull() override {
    faults_->Check();
    TBRNRowsetManager::CheckFileFull();
  }

 private:
  AppendFaults* faults_;
};

class FaultyBlobs : public TBRNBlobManager {
 public:
  FaultyBlobs(FakeHost* host, TBRNFileManager* files, AppendFaults* faults)
      : TBRNBlobManager(host, files, 512, 65536), faults_(faults) {}
  ~FaultyBlobs() override {
    try {
      Close();
    } catch (...) {
    }
  }
  void CheckFileFull() override {
    faults_->Check();
    TBRNBlobManager::CheckFileFull();
  }

 private:
  AppendFaults* faults_;
};

class FaultyIndexes : public TBRNIndexManager {
 public:
  FaultyIndexes(FakeHost* host, FakeIndexHost* indexes, TBRNFileManager* files,
                AppendFaults* faults)
      : TBRNIndexManager(host, indexes, files), faults_(faults) {}
  ~FaultyIndexes() override {
    try {
      Close();
    } catch (...) {
    }
  }
  void CheckFileFull() override {
    faults_->Check();
    TBRNIndexManager::CheckFileFull();
  }

 private:
  AppendFaults* faults_;
};

class TableHost : public FakeHost {
 public:
  using FakeHost::FakeHost;
  std::string GetFileExtension(TBRNTableFileKind kind) const override {
    switch (kind) {
      case TBRNTableFileKind::Rows:
        return ".BRNTbl";
      case TBRNTableFileKind::Indexes:
        return ".BRNIdx";
      default:
        return ".BRNBlb";
    }
  }
};

std::string NameOf(int32_t id) {
  return "name" + std::to_string(id % 13);
}

// A table (ID, name CHAR(12), data BLOB) with a unique index on the ID and
// an ordinary one on the name, small pages so that inserts split them.
struct IndexedTable {
  IndexedTable(TBRNFileManager* files, TBRNColumns* columns, bool exclusive)
      : Host("/mem/db/", "Items") {
    Host.ExclusiveLock = exclusive;
    Host.TransactionLock = !exclusive;
    Indexes.PageSize = 256;
    Indexes.MaxBufferSize = 256 * 16;
    Indexes.Add("PK", kIndexPrimaryKey, {IntegerColumn()});
    Indexes.Add("ByName", kIndexOrdinary, {CharColumn(12)});
    TBRNRowsetLayout layout;
    layout.Columns = columns;
    layout.RowSize = RowSizeOf(*columns);
    Rows = std::make_unique<FaultyRows>(&Host, files, layout, &Table, &Faults);
    Blobs = std::make_unique<FaultyBlobs>(&Host, files, &Faults);
    IndexFile = std::make_unique<FaultyIndexes>(&Host, &Indexes, files, &Faults);
    Table.Rows = Rows.get();
    Table.Blobs = Blobs.get();
    Host.Files = {Rows.get(), IndexFile.get(), Blobs.get()};
    for (TBRNTableFileManager* file : Host.Files) {
      file->OpenOrCreate();
      Files.Add(file);
      if (!exclusive) file->BeginTransaction();
    }
    Navigator = std::make_unique<TBRNRowsetNavigator>(Rows.get());
    ByID = std::make_unique<TBRNIndexNavigator>(IndexFile.get(), 0);
    ByName = std::make_unique<TBRNIndexNavigator>(IndexFile.get(), 1);
  }
  ~IndexedTable() {
    Navigator.reset();
    ByID.reset();
    ByName.reset();
    Host.Files.clear();
  }

  // One row change: the row, its BLOB and both index keys.
  void Insert(int32_t id) {
    auto buffer = Rows->NewRowBuffer();
    TBRNRowsetRowValues values(Rows->GetColumns(), &Table);
    values.SetRow(buffer.get());
    values.SetAllNull();
    values.GetItem(0)->SetAsInteger(id);
    values.GetItem(1)->SetAsString(NameOf(id));
    values.GetItem(2)->SetBytesData(BlobBytes(700, SeedOf(id)));
    TBRNTableOperation operation(Rows.get());
    int32_t row = 0;
    int32_t counter = 0;
    Navigator->InsertRow(Rows->NextVersion(), values, row, counter);
    TBRNContainedIndexKeyValues idKey(ByID->GetLayout());
    idKey.GetItem(0)->SetAsInteger(id);
    idKey.SetRowID(id);
    ByID->InsertKey(idKey, row);
    TBRNContainedIndexKeyValues nameKey(ByName->GetLayout());
    nameKey.GetItem(0)->SetAsString(NameOf(id));
    nameKey.SetRowID(id);
    ByName->InsertKey(nameKey, row);
    operation.Commit();
  }
  // A new BLOB value for the row of id (rows are never deleted here, so
  // its row number is its ID).
  void Update(int32_t id, int32_t seed) {
    bool restart = false;
    ASSERT_TRUE(Navigator->GotoRowNumber(id, kDirectionForward, restart));
    auto buffer = Rows->NewRowBuffer();
    buffer->AssignRow(*Navigator->GetCurrentRow());
    TBRNRowsetRowValues values(Rows->GetColumns(), &Table);
    values.SetRow(buffer.get());
    values.GetItem(2)->SetBytesData(BlobBytes(700, seed));
    TBRNTableOperation operation(Rows.get());
    int32_t counter = 0;
    Navigator->UpdateRow(values, id, counter);
    operation.Commit();
    Seeds[id] = seed;
  }
  int32_t SeedOf(int32_t id) const {
    auto it = Seeds.find(id);
    return it != Seeds.end() ? it->second : id;
  }
  void Commit() {
    for (TBRNTableFileManager* file : Host.Files) {
      if (Host.TransactionLock) file->CommitTransaction(true, false);
    }
    Files.Flush(true);
  }

  // Every row (ID order by the unique index) with its name and BLOB, both
  // indexes pointing at it, and nothing else.
  void Expect(int32_t rows) {
    EXPECT_EQ(Rows->RowCount, rows);
    bool restart = false;
    std::vector<int32_t> ids;
    for (bool more = ByID->First(restart); more; more = ByID->Next(restart)) {
      int32_t id = ByID->GetCurrentKey().GetItem(0)->GetAsInteger();
      ids.push_back(id);
      bool moved = false;
      ASSERT_TRUE(Navigator->GotoRowNumber(ByID->GetRowNumber(), kDirectionForward, moved));
      TBRNRowsetRowValues& values = Navigator->GetCurrentValues();
      EXPECT_EQ(values.GetItem(0)->GetAsInteger(), id);
      EXPECT_EQ(values.GetItem(1)->GetAsString(), NameOf(id));
      TBRNBytes data;
      values.GetItem(2)->GetBytesData(data);
      EXPECT_EQ(data, BlobBytes(700, SeedOf(id))) << "row " << id;
    }
    std::vector<int32_t> expected;
    for (int32_t id = 1; id <= rows; ++id) expected.push_back(id);
    EXPECT_EQ(ids, expected);
    int32_t names = 0;
    for (bool more = ByName->First(restart); more; more = ByName->Next(restart)) ++names;
    EXPECT_EQ(names, rows);
    EXPECT_FALSE(restart);
  }
  void ExpectVerified() {
    for (TBRNTableFileManager* file : Host.Files) {
      bool errors = false;
      EXPECT_TRUE(file->Verify(errors, false)) << file->GetFileName();
      EXPECT_FALSE(errors) << file->GetFileName();
    }
    EXPECT_TRUE(Host.Log.empty()) << Host.Log.front();
    EXPECT_EQ(Indexes.Rebuild, (std::vector<bool>{false, false}));
  }

  TableHost Host;
  FakeIndexHost Indexes;
  AppendFaults Faults;
  std::map<int32_t, int32_t> Seeds;  // BLOB seeds of updated rows
  BlobRowsetHost Table;
  std::unique_ptr<FaultyRows> Rows;
  std::unique_ptr<FaultyBlobs> Blobs;
  std::unique_ptr<FaultyIndexes> IndexFile;
  TBRNTableFileSet Files;
  std::unique_ptr<TBRNRowsetNavigator> Navigator;
  std::unique_ptr<TBRNIndexNavigator> ByID;
  std::unique_ptr<TBRNIndexNavigator> ByName;
};

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

}  // namespace
}  // namespace brn::testing
