#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/catalog/indexes.h"
#include "storage/files/table_file_set.h"
#include "storage/indexes/index_file_test_support.h"
#include "storage/rows/row_file_test_support.h"

namespace brn::testing {

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

// The table's three files, each closed (errors swallowed) when destroyed
// and asking the append faults before every block appended.
template <typename File>
class FaultyFile : public File {
 public:
  template <typename... Args>
  FaultyFile(AppendFaults* faults, Args&&... args)
      : File(std::forward<Args>(args)...), faults_(faults) {}
  ~FaultyFile() override {
    try {
      this->Close();
    } catch (...) {
    }
  }
  void CheckFileFull() override {
    faults_->Check();
    File::CheckFileFull();
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

inline std::string NameOf(int32_t id) {
  return "name" + std::to_string(id % 13);
}

// Rows as a test sees them: ID -> the seed of its BLOB value.
using RowModel = std::map<int32_t, int32_t>;

// A table (ID, name CHAR(12), data BLOB) with a unique index on the ID and
// an ordinary one on the name, small pages so that inserts split them, all
// three files in one file set. A row's name follows from its ID, its BLOB
// from a seed.
struct IndexedTable {
  IndexedTable(TBRNFileManager* files, TBRNColumns* columns, bool exclusive,
               const std::string& folder = "/mem/db/", bool open = true)
      : Host(folder, "Items") {
    Host.ExclusiveLock = exclusive;
    Host.TransactionLock = !exclusive;
    Indexes.PageSize = 256;
    Indexes.MaxBufferSize = 256 * 16;
    Indexes.Add("PK", kIndexPrimaryKey, {IntegerColumn()});
    Indexes.Add("ByName", kIndexOrdinary, {CharColumn(12)});
    TBRNRowsetLayout layout;
    layout.Columns = columns;
    layout.RowSize = RowSizeOf(*columns);
    Rows = std::make_unique<FaultyFile<TBRNRowsetManager>>(&Faults, &Host, files, layout, &Table);
    Blobs = std::make_unique<FaultyFile<TBRNBlobManager>>(&Faults, &Host, files, 512, 65536);
    IndexFile = std::make_unique<FaultyFile<TBRNIndexManager>>(&Faults, &Host, &Indexes, files);
    Table.Rows = Rows.get();
    Table.Blobs = Blobs.get();
    Host.Files = {Rows.get(), IndexFile.get(), Blobs.get()};
    for (TBRNTableFileManager* file : Host.Files) Files.Add(file);
    Navigator = std::make_unique<TBRNRowsetNavigator>(Rows.get());
    ByID = std::make_unique<TBRNIndexNavigator>(IndexFile.get(), 0);
    ByName = std::make_unique<TBRNIndexNavigator>(IndexFile.get(), 1);
    if (open) Open();
  }
  ~IndexedTable() {
    Navigator.reset();
    ByID.reset();
    ByName.reset();
    Host.Files.clear();
  }

  // Opens (or creates) every file; in a transaction when not exclusive.
  void Open() {
    for (TBRNTableFileManager* file : Host.Files) {
      file->OpenOrCreate();
      if (!Host.ExclusiveLock) file->BeginTransaction();
    }
  }
  void Close() {
    for (TBRNTableFileManager* file : Host.Files) file->Close();
  }

  TBRNBytes BlobOf(int32_t seed) const {
    return BlobBytes(VariedBlobs ? 100 + seed * 389 % 1500 : 700, seed);
  }
  std::unique_ptr<TBRNContainedIndexKeyValues> IdKey(int32_t id) const {
    auto key = std::make_unique<TBRNContainedIndexKeyValues>(ByID->GetLayout());
    key->GetItem(0)->SetAsInteger(id);
    key->SetRowID(id);
    return key;
  }
  std::unique_ptr<TBRNContainedIndexKeyValues> NameKey(int32_t id, const std::string& name) const {
    auto key = std::make_unique<TBRNContainedIndexKeyValues>(ByName->GetLayout());
    key->GetItem(0)->SetAsString(name);
    key->SetRowID(id);
    return key;
  }
  // The row number of the row of id, through the unique index.
  int32_t RowOf(int32_t id) {
    bool restart = false;
    EXPECT_EQ(ByID->FindKey(*IdKey(id), 0, restart, false), 0) << "no row " << id;
    return ByID->GetRowNumber();
  }

  // Row changes, each one operation: the row, its BLOB and both index keys.
  void Insert(int32_t id, int32_t seed) {
    auto buffer = Rows->NewRowBuffer();
    TBRNRowsetRowValues values(Rows->GetColumns(), &Table);
    values.SetRow(buffer.get());
    values.SetAllNull();
    values.GetItem(0)->SetAsInteger(id);
    values.GetItem(1)->SetAsString(NameOf(id));
    values.GetItem(2)->SetBytesData(BlobOf(seed));
    TBRNTableOperation operation(Rows.get());
    int32_t row = 0;
    int32_t counter = 0;
    Navigator->InsertRow(Rows->NextVersion(), values, row, counter);
    ByID->InsertKey(*IdKey(id), row);
    ByName->InsertKey(*NameKey(id, NameOf(id)), row);
    operation.Commit();
    Live[id] = seed;
  }
  void Insert(int32_t id) { Insert(id, id); }
  // A new BLOB value for the row of id.
  void Update(int32_t id, int32_t seed) {
    int32_t row = RowOf(id);
    bool restart = false;
    ASSERT_TRUE(Navigator->GotoRowNumber(row, kDirectionForward, restart));
    auto buffer = Rows->NewRowBuffer();
    buffer->AssignRow(*Navigator->GetCurrentRow());
    TBRNRowsetRowValues values(Rows->GetColumns(), &Table);
    values.SetRow(buffer.get());
    values.GetItem(2)->SetBytesData(BlobOf(seed));
    TBRNTableOperation operation(Rows.get());
    int32_t counter = 0;
    Navigator->UpdateRow(values, row, counter);
    operation.Commit();
    Live[id] = seed;
  }
  void Delete(int32_t id) {
    int32_t row = RowOf(id);
    TBRNTableOperation operation(Rows.get());
    int32_t counter = 0;
    Navigator->DeleteRow(row, counter);
    ByID->DeleteKey(*IdKey(id));
    ByName->DeleteKey(*NameKey(id, NameOf(id)));
    operation.Commit();
    Live.erase(id);
  }
  void Commit() {
    for (TBRNTableFileManager* file : Host.Files) {
      if (Host.TransactionLock) file->CommitTransaction(true, false);
    }
    Files.Flush(true);
  }

  // The rows in ID order through the unique index, each checked against
  // its name and its place in the name index; the BLOB bytes of each.
  std::map<int32_t, TBRNBytes> Contents() {
    std::map<int32_t, TBRNBytes> rows;
    bool restart = false;
    for (bool more = ByID->First(restart); more; more = ByID->Next(restart)) {
      int32_t id = ByID->GetCurrentKey().GetItem(0)->GetAsInteger();
      int32_t row = ByID->GetRowNumber();
      bool moved = false;
      EXPECT_TRUE(Navigator->GotoRowNumber(row, kDirectionForward, moved));
      TBRNRowsetRowValues& values = Navigator->GetCurrentValues();
      EXPECT_EQ(values.GetItem(0)->GetAsInteger(), id);
      EXPECT_EQ(values.GetItem(1)->GetAsString(), NameOf(id));
      EXPECT_TRUE(ByName->HasKey(*NameKey(id, NameOf(id)), row)) << "row " << id;
      values.GetItem(2)->GetBytesData(rows[id]);
    }
    EXPECT_FALSE(restart);
    int32_t names = 0;
    for (bool more = ByName->First(restart); more; more = ByName->Next(restart)) ++names;
    EXPECT_EQ(names, int32_t(rows.size()));
    EXPECT_EQ(Rows->RowCount, int32_t(rows.size()));
    return rows;
  }
  std::map<int32_t, TBRNBytes> ContentsOf(const RowModel& model) const {
    std::map<int32_t, TBRNBytes> rows;
    for (const auto& [id, seed] : model) rows[id] = BlobOf(seed);
    return rows;
  }
  // Exactly the rows 1 .. count with the seeds of Live (their ID when not
  // there).
  void Expect(int32_t count) {
    RowModel model;
    for (int32_t id = 1; id <= count; ++id) model[id] = Live.count(id) != 0 ? Live[id] : id;
    EXPECT_EQ(Contents(), ContentsOf(model));
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

  // What REPAIR does to a table left by a flush cut short: opens the files
  // with the write check off, verifies and mends each, builds both indexes
  // again from the live rows (rows and keys may come from different
  // flushes), flushes, and opens them again as usual.
  void Repair() {
    Close();
    Host.SkipWrite = true;
    Open();
    for (TBRNTableFileManager* file : Host.Files) {
      bool errors = false;
      EXPECT_TRUE(file->Verify(errors, true)) << file->GetFileName();
    }
    for (int32_t i = 0; i < 2; ++i) IndexFile->EmptyIndex(i);
    bool restart = false;
    for (bool more = Navigator->First(restart); more; more = Navigator->Next(restart)) {
      if (Navigator->GetCurrentRow()->Status == kRowDeleted) continue;
      TBRNRowsetRowValues& values = Navigator->GetCurrentValues();
      int32_t id = values.GetItem(0)->GetAsInteger();
      int32_t row = Navigator->GetRowNumber();
      ByID->InsertKey(*IdKey(id), row);
      ByName->InsertKey(*NameKey(id, values.GetItem(1)->GetAsString()), row);
    }
    Files.Flush(true);
    Close();
    Host.SkipWrite = false;
    Host.Log.clear();
    Indexes.Rebuild = {false, false};
    Open();
  }

  TableHost Host;
  FakeIndexHost Indexes;
  AppendFaults Faults;
  bool VariedBlobs = false;  // BLOB sizes from 100 to 1599 bytes by seed
  RowModel Live;             // the rows this object changed, with their seeds
  BlobRowsetHost Table;
  std::unique_ptr<FaultyFile<TBRNRowsetManager>> Rows;
  std::unique_ptr<FaultyFile<TBRNBlobManager>> Blobs;
  std::unique_ptr<FaultyFile<TBRNIndexManager>> IndexFile;
  TBRNTableFileSet Files;
  std::unique_ptr<TBRNRowsetNavigator> Navigator;
  std::unique_ptr<TBRNIndexNavigator> ByID;
  std::unique_ptr<TBRNIndexNavigator> ByName;
};

}  // namespace brn::testing
