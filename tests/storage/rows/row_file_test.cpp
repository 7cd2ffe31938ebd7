#include <algorithm>
#include <climits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/memory_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/text/exception.h"
#include "storage/rows/row_file_test_support.h"

namespace brn::testing {
namespace {

// A walk over live rows only, as the cursors built on the plain navigator
// walk.
class LiveRowNavigator : public TBRNRowsetNavigator {
 public:
  using TBRNRowsetNavigator::TBRNRowsetNavigator;
  bool AcceptRow(int32_t, TBRNDirection, bool& stop) override {
    stop = false;
    return GetCurrentRow()->Status != kRowDeleted;
  }
};

struct Inserted {
  int32_t RowNumber = 0;
  int32_t UpdateCounter = 0;
};

// Inserts (id, name, blob) as the table manager does: a new row ID and
// version from the header, then the row.
Inserted InsertRow(RowTable& table, int32_t id, const std::string& name, const TBRNBytes* blob) {
  NewRow row(table);
  row.Values.GetItem(0)->SetAsInteger(id);
  row.Values.GetItem(1)->SetAsString(name);
  if (blob != nullptr) row.Values.GetItem(2)->SetBytesData(*blob);
  Inserted done;
  table.Navigator->InsertRow(table.Rows->NextVersion(), row.Values, done.RowNumber,
                             done.UpdateCounter);
  return done;
}

// ---- Header record ----

TEST(RowFileHeader, RecordSizeIsFixedPlusFourBytesPerColumnRoundedToEight) {
  struct Case {
    int32_t extraColumns;
    int32_t size;
  };
  // 54 + 21 + 4 x columns, the row ID column included.
  for (Case c : {Case{0, 80}, Case{1, 88}, Case{9, 120}, Case{10, 120}, Case{11, 128}}) {
    std::vector<std::pair<TBRNDataTypeCode, int32_t>> types(size_t(c.extraColumns), {dtInteger, 0});
    auto columns = MakeColumns(types);
    TBRNMemoryFileManager files(nullptr);
    RowTable table(&files, "/mem/db/", columns.get());
    EXPECT_EQ(table.Rows->GetHeaderRecordSize(), c.size) << c.extraColumns + 1 << " columns";
    table.Open();
    EXPECT_EQ(files.GetFileSize("/mem/db/Rows.BRNTbl"), c.size);
  }
}

// The header record and the row header at their offsets on disk.
TEST(RowFileHeader, HeaderRecordAndRowHeaderFieldsLieAtTheirOffsets) {
  auto columns = MakeColumns({{dtInteger, 0}});
  columns->GetItem(1)->Identity = true;
  TBRNMemoryFileManager files(nullptr);
  RowTable table(&files, "/mem/db/", columns.get());
  table.Open();
  InsertRow(table, 5, "7", nullptr);
  table.Rows->SetRowCount(0x0A0B0C0D);
  table.Rows->ReservedByte = 0x42;
  table.Rows->SetIdentityValue(1, 0x01020304);
  table.Flush();
  std::vector<uint8_t> raw = RawFile(files, "/mem/db/Rows.BRNTbl");
  auto int32At = [&](size_t at) {
    return int32_t(uint32_t(raw[at]) | uint32_t(raw[at + 1]) << 8 | uint32_t(raw[at + 2]) << 16 |
                   uint32_t(raw[at + 3]) << 24);
  };
  EXPECT_EQ(int32At(54), 0x0A0B0C0D);
  EXPECT_EQ(int32At(58), 5);  // last row ID
  EXPECT_EQ(int32At(62), 1);  // last row version
  EXPECT_EQ(raw[66], 0x42);
  int64_t stamp = int64_t(uint32_t(int32At(67))) | int64_t(int32At(71)) << 32;
  EXPECT_EQ(stamp, table.Rows->Timestamp);
  EXPECT_EQ(int32At(75), 0);  // the row ID column's counter
  EXPECT_EQ(int32At(79), 0x01020304);
  // Row 1: next link, status, version, update counter, reserved, then the
  // row ID column (indicator and int32).
  size_t row = 16384;
  EXPECT_EQ(int32At(row), 0);
  EXPECT_EQ(raw[row + 4], kRowLive);
  EXPECT_EQ(int32At(row + 5), 1);
  EXPECT_EQ(int32At(row + 9), 1);
  EXPECT_EQ(int32At(row + 13), 0);
  EXPECT_EQ(raw[row + 17], 1);
  EXPECT_EQ(int32At(row + 18), 5);
}

TEST(RowFileHeader, FieldsSurviveReopenAndEmptyKeepsTheLastVersion) {
  auto columns = MakeColumns({{dtInteger, 0}, {dtInteger, 0}});
  columns->GetItem(2)->Identity = true;
  columns->GetItem(2)->IdentitySeed = 100;
  columns->GetItem(2)->IdentityIncrement = 5;
  TBRNMemoryFileManager files(nullptr);
  {
    RowTable table(&files, "/mem/db/", columns.get());
    table.Open();
    EXPECT_EQ(table.Rows->IdentityValues, (std::vector<int32_t>{0, 0, 100}));
    EXPECT_EQ(table.Rows->NextIdentityValue(2), 105);
    EXPECT_EQ(table.Rows->NextRowID(), 1);
    EXPECT_EQ(table.Rows->NextVersion(), 1);
    table.Rows->SetRowCount(7);
    table.Rows->ReservedByte = 9;
    table.Flush();
    EXPECT_GT(table.Rows->Timestamp, 0);
  }
  RowTable table(&files, "/mem/db/", columns.get());
  table.Open();
  EXPECT_EQ(table.Rows->RowCount, 7);
  EXPECT_EQ(table.Rows->LastRowID, 1);
  EXPECT_EQ(table.Rows->LastVersion, 1);
  EXPECT_EQ(table.Rows->ReservedByte, 9);
  EXPECT_EQ(table.Rows->IdentityValues[2], 105);

  table.Rows->Empty();
  EXPECT_EQ(table.Rows->LastVersion, 1);
  EXPECT_EQ(table.Rows->LastRowID, 0);
  EXPECT_EQ(table.Rows->RowCount, 0);
  EXPECT_EQ(table.Rows->IdentityValues[2], 100);
}

TEST(RowFileHeader, CopyHeaderFromTakesCountersOfColumnsThatWereIdentityColumns) {
  auto oldColumns = MakeColumns({{dtInteger, 0}, {dtInteger, 0}});
  oldColumns->GetItem(1)->Identity = true;
  oldColumns->GetItem(2)->Identity = true;
  auto newColumns = MakeColumns({{dtInteger, 0}, {dtInteger, 0}});
  newColumns->GetItem(1)->Identity = true;  // was an identity column
  newColumns->GetItem(2)->ID = 77;          // a new column
  newColumns->GetItem(2)->Identity = true;
  newColumns->GetItem(2)->IdentitySeed = 3;
  TBRNMemoryFileManager files(nullptr);
  RowTable oldTable(&files, "/mem/old/", oldColumns.get());
  oldTable.Open();
  oldTable.Rows->IdentityValues = {0, 40, 50};
  oldTable.Rows->LastRowID = 12;
  oldTable.Rows->LastVersion = 30;
  RowTable newTable(&files, "/mem/new/", newColumns.get());
  newTable.Open();
  newTable.Rows->CopyHeaderFrom(*oldTable.Rows);
  EXPECT_EQ(newTable.Rows->IdentityValues, (std::vector<int32_t>{0, 40, 3}));
  EXPECT_EQ(newTable.Rows->LastRowID, 12);
  EXPECT_EQ(newTable.Rows->LastVersion, 30);
  EXPECT_TRUE(newTable.Rows->GetHeaderModified());
}

// ---- Rows on disk ----

class RowFileOnDisk : public ::testing::Test {
 protected:
  RowFileOnDisk() : columns_(MakeColumns({{dtChar, 40}, {dtLob, 0}})) {}
  TempFolder temp_;
  TBRNOSFileManager files_{nullptr};
  std::unique_ptr<TBRNColumns> columns_;
};

TEST_F(RowFileOnDisk, TenThousandRowsWithBlobsSurviveReopen) {
  constexpr int32_t kRows = 10000;
  auto blobSize = [](int32_t i) { return (i * 7919) % 20481; };  // 0 to 20 KB
  {
    RowTable table(&files_, temp_.Path, columns_.get());
    table.Open();
    for (int32_t i = 1; i <= kRows; ++i) {
      TBRNBytes blob = BlobBytes(blobSize(i), i);
      Inserted done = InsertRow(table, table.Rows->NextRowID(), "name " + std::to_string(i), &blob);
      ASSERT_EQ(done.RowNumber, i);
      ASSERT_EQ(done.UpdateCounter, 1);
      if (i % 1000 == 0) table.Flush();
    }
    table.Flush();
  }
  RowTable table(&files_, temp_.Path, columns_.get());
  table.Open();
  EXPECT_EQ(table.Rows->RowCount, kRows);
  EXPECT_EQ(table.Rows->LastRowID, kRows);
  EXPECT_EQ(table.Rows->LastVersion, kRows);
  EXPECT_EQ(table.Rows->GetBlockCount(), kRows);
  LiveRowNavigator walk(table.Rows.get());
  bool restart = false;
  int32_t seen = 0;
  for (bool more = walk.First(restart); more; more = walk.Next(restart)) {
    ++seen;
    TBRNRowsetRowValues& values = walk.GetCurrentValues();
    ASSERT_EQ(walk.GetRowNumber(), seen);
    ASSERT_EQ(walk.GetCurrentRow()->Version, seen);
    ASSERT_EQ(values.GetItem(0)->GetAsInteger(), seen);
    ASSERT_EQ(values.GetItem(1)->GetAsString(), "name " + std::to_string(seen));
    TBRNBytes blob;
    values.GetItem(2)->GetBytesData(blob);
    ASSERT_EQ(blob, BlobBytes(blobSize(seen), seen)) << "row " << seen;
  }
  EXPECT_FALSE(restart);
  EXPECT_EQ(seen, kRows);
  bool errors = false;
  EXPECT_TRUE(table.Rows->Verify(errors, false));
  EXPECT_FALSE(errors) << (table.Host.Log.empty() ? "" : table.Host.Log.front());
}

TEST_F(RowFileOnDisk, DeleteThenInsertReusesTheBlockItsCounterAndItsBlobChains) {
  RowTable table(&files_, temp_.Path, columns_.get());
  table.Open();
  TBRNBytes big = BlobBytes(5000, 1);
  InsertRow(table, table.Rows->NextRowID(), "first", &big);
  Inserted second = InsertRow(table, table.Rows->NextRowID(), "second", &big);
  table.Flush();
  int32_t chain = 0;
  {
    TBRNRowsetRow* row = table.Rows->GetRow(second.RowNumber, false, 0, 0);
    TBRNRowsetRowValues values(columns_.get(), &table.Table);
    values.SetRow(row);
    chain = values.GetRowValue(2)->GetBlobBlock();
    values.SetRow(nullptr);
    table.Rows->ReleaseRow(row);
  }
  ASSERT_GT(chain, 0);
  int32_t blobBlocks = table.Blobs->GetBlockCount();

  int32_t counter = 0;
  table.Navigator->DeleteRow(second.RowNumber, counter);
  EXPECT_EQ(counter, 2);
  EXPECT_EQ(table.Rows->RowCount, 1);
  EXPECT_EQ(table.Rows->FreeListHead, second.RowNumber);
  // The highest row ID has gone, the last row ID stays.
  EXPECT_EQ(table.Rows->LastRowID, 2);
  table.Flush();

  TBRNRowsetRow* taken = table.Rows->AllocateRow();
  EXPECT_EQ(taken->BlockNumber, second.RowNumber);
  EXPECT_EQ(taken->Status, kRowReused);
  EXPECT_EQ(taken->UpdateCounter, 2);
  EXPECT_EQ(table.Rows->FreeListHead, 0);
  table.Rows->ReleaseRow(taken);
  table.Rows->DiscardChanges();
  EXPECT_EQ(table.Rows->FreeListHead, second.RowNumber);

  TBRNBytes other = BlobBytes(4000, 2);
  Inserted third = InsertRow(table, table.Rows->NextRowID(), "third", &other);
  EXPECT_EQ(third.RowNumber, second.RowNumber);
  EXPECT_EQ(third.UpdateCounter, 3);
  table.Flush();
  EXPECT_EQ(table.Blobs->GetBlockCount(), blobBlocks);

  TBRNRowsetRow* row = table.Rows->GetRow(third.RowNumber, false, 0, 0);
  EXPECT_EQ(row->Status, kRowLive);
  EXPECT_EQ(row->UpdateCounter, 3);
  EXPECT_EQ(row->Version, table.Rows->LastVersion);
  TBRNRowsetRowValues values(columns_.get(), &table.Table);
  values.SetRow(row);
  EXPECT_EQ(values.GetRowValue(2)->GetBlobBlock(), chain);
  EXPECT_EQ(values.GetItem(0)->GetAsInteger(), 3);
  EXPECT_EQ(values.GetItem(1)->GetAsString(), "third");
  TBRNBytes back;
  values.GetItem(2)->GetBytesData(back);
  EXPECT_EQ(back, other);
  values.SetRow(nullptr);
  table.Rows->ReleaseRow(row);
  EXPECT_EQ(table.Rows->RowCount, 2);
}

TEST_F(RowFileOnDisk, AFreshInsertNeverWritesIntoChainsItsValuesReferTo) {
  RowTable table(&files_, temp_.Path, columns_.get());
  table.Open();
  TBRNBytes first = BlobBytes(3000, 1);
  InsertRow(table, 1, "first", &first);
  // Values copied from row 1 still carry its chain; the new row gets its own.
  TBRNRowsetRow* source = table.Rows->GetRow(1, false, 0, 0);
  NewRow copy(table);
  copy.Buffer->AssignRow(*source);
  table.Rows->ReleaseRow(source);
  copy.Values.SetRow(copy.Buffer.get());
  copy.Values.GetItem(0)->SetAsInteger(2);
  TBRNBytes second = BlobBytes(3000, 2);
  copy.Values.GetItem(2)->SetBytesData(second);
  Inserted done;
  table.Navigator->InsertRow(table.Rows->NextVersion(), copy.Values, done.RowNumber,
                             done.UpdateCounter);
  bool restart = false;
  ASSERT_TRUE(table.Navigator->GotoRowNumber(1, kDirectionForward, restart));
  TBRNBytes back;
  table.Navigator->GetCurrentValues().GetItem(2)->GetBytesData(back);
  EXPECT_EQ(back, first);
}

// ---- A change that fails halfway ----

TEST(RowFileFailures, AFailedInsertLeavesNoDirtyBlockInAnyFileOfTheTable) {
  auto columns = MakeColumns({{dtChar, 40}, {dtLob, 0}});
  struct Case {
    const char* name;
    bool fullBlobFile;  // the BLOB file passes its size limit (407)
  };
  for (Case c :
       {Case{"injected failure after the BLOB write", false}, Case{"BLOB file full", true}}) {
    SCOPED_TRACE(c.name);
    LimitedFiles<TBRNMemoryFileManager> files(nullptr);
    RowTable table(&files, "/mem/db/", columns.get());
    table.Open();
    TBRNBytes small = BlobBytes(600, 1);
    InsertRow(table, table.Rows->NextRowID(), "kept", &small);
    table.Flush();
    int32_t blobBlocks = table.Blobs->GetBlockCount();
    std::vector<uint8_t> rowsBefore = RawFile(files, "/mem/db/Rows.BRNTbl");

    TBRNBytes big = BlobBytes(c.fullBlobFile ? 200000 : 2000, 2);
    if (c.fullBlobFile) {
      files.Limit = 4096 + 100 * 512;
    } else {
      table.Table.FailBlobWrite = [] { throw EBRNException(601, "injected"); };
    }
    try {
      InsertRow(table, table.Rows->NextRowID(), "lost", &big);
      ADD_FAILURE() << "the insert should fail";
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, c.fullBlobFile ? 407 : 601);
    }
    table.Table.FailBlobWrite = nullptr;
    files.Limit = 2000000000;
    EXPECT_EQ(table.Rows->GetDirtyCount(), 0);
    EXPECT_EQ(table.Blobs->GetDirtyCount(), 0);
    EXPECT_EQ(table.Rows->GetDeadCount(), 0);
    EXPECT_EQ(table.Rows->RowCount, 1);
    EXPECT_EQ(table.Rows->GetBlockCount(), 1);
    EXPECT_EQ(table.Blobs->GetBlockCount(), blobBlocks);
    table.Flush();
    EXPECT_EQ(RawFile(files, "/mem/db/Rows.BRNTbl"), rowsBefore);

    // The table goes on working.
    Inserted next = InsertRow(table, table.Rows->NextRowID(), "next", &small);
    EXPECT_EQ(next.RowNumber, 2);
    table.Flush();
    bool errors = false;
    EXPECT_TRUE(table.Rows->Verify(errors, false));
    EXPECT_FALSE(errors);
  }
}

TEST(RowFileFailures, ChangesOfRowsOutsideTheFileAreRefused) {
  auto columns = MakeColumns({{dtChar, 10}});
  TBRNMemoryFileManager files(nullptr);
  RowTable table(&files, "/mem/db/", columns.get());
  table.Open();
  InsertRow(table, 1, "one", nullptr);
  table.Flush();
  NewRow row(table);
  for (int32_t n : {0, 2, -1}) {
    int32_t counter = 0;
    EXPECT_THROW(table.Navigator->UpdateRow(row.Values, n, counter), EBRNException) << n;
    EXPECT_THROW(table.Navigator->DeleteRow(n, counter), EBRNException) << n;
  }
  EXPECT_EQ(table.Rows->GetBlockCount(), 1);
  // Deleting a deleted row does not link it into the free list again.
  int32_t counter = 0;
  table.Navigator->DeleteRow(1, counter);
  table.Navigator->DeleteRow(1, counter);
  EXPECT_EQ(counter, 2);
  TBRNRowsetRow* deleted = table.Rows->GetRow(1, false, 0, 0);
  EXPECT_EQ(deleted->NextLink, 0);
  table.Rows->ReleaseRow(deleted);
}

// ---- Navigation ----

class RowFileNavigation : public ::testing::Test {
 public:
  RowFileNavigation()
      : columns_(MakeColumns({{dtChar, 10}})), table_(&files_, "/mem/db/", columns_.get()) {
    table_.Open();
  }
  void Fill(int32_t rows) {
    for (int32_t i = 1; i <= rows; ++i) InsertRow(table_, i, "r" + std::to_string(i), nullptr);
  }
  void Delete(int32_t n) {
    int32_t counter = 0;
    table_.Navigator->DeleteRow(n, counter);
  }

  TBRNMemoryFileManager files_{nullptr};
  std::unique_ptr<TBRNColumns> columns_;
  RowTable table_;
};

TEST_F(RowFileNavigation, GotoRowNumberClampsToTheFileWithTheEdgeFlag) {
  Fill(5);
  struct Case {
    int32_t target;
    int32_t row;
    bool bof, eof, positioned;
  };
  for (Case c : {Case{0, 1, true, false, false}, Case{-3, 1, true, false, false},
                 Case{1, 1, false, false, true}, Case{5, 5, false, false, true},
                 Case{3, 3, false, false, true}, Case{6, 5, false, true, false},
                 Case{INT32_MAX, 5, false, true, false}}) {
    bool restart = false;
    EXPECT_EQ(table_.Navigator->GotoRowNumber(c.target, kDirectionForward, restart), c.positioned)
        << c.target;
    EXPECT_EQ(table_.Navigator->GetRowNumber(), c.row) << c.target;
    EXPECT_EQ(table_.Navigator->GetBof(), c.bof) << c.target;
    EXPECT_EQ(table_.Navigator->GetEof(), c.eof) << c.target;
    EXPECT_EQ(table_.Navigator->GetCurrentValues().GetItem(0)->GetAsInteger(), c.row);
  }
}

TEST_F(RowFileNavigation, EveryMoveOfAnEmptyFileLeavesNoRowWithBothFlags) {
  using Move = std::function<bool(TBRNRowsetNavigator&)>;
  bool restart = false;
  std::vector<std::pair<const char*, Move>> moves = {
      {"First", [&](TBRNRowsetNavigator& n) { return n.First(restart); }},
      {"Last", [&](TBRNRowsetNavigator& n) { return n.Last(restart); }},
      {"Next", [&](TBRNRowsetNavigator& n) { return n.Next(restart); }},
      {"Prior", [&](TBRNRowsetNavigator& n) { return n.Prior(restart); }},
      {"GotoRowNumber", [&](TBRNRowsetNavigator& n) { return n.GotoRowNumber(1); }}};
  for (auto& [name, move] : moves) {
    table_.Navigator->SetBof(false);
    table_.Navigator->SetEof(false);
    EXPECT_FALSE(move(*table_.Navigator)) << name;
    EXPECT_EQ(table_.Navigator->GetRowNumber(), 0) << name;
    EXPECT_TRUE(table_.Navigator->GetBof() && table_.Navigator->GetEof()) << name;
  }
}

TEST_F(RowFileNavigation, WalksSkipRowsTheNavigatorDoesNotAccept) {
  Fill(6);
  Delete(1);
  Delete(4);
  Delete(6);
  LiveRowNavigator walk(table_.Rows.get());
  bool restart = false;
  std::vector<int32_t> forward, backward;
  for (bool more = walk.First(restart); more; more = walk.Next(restart)) {
    forward.push_back(walk.GetRowNumber());
  }
  EXPECT_TRUE(walk.GetEof());
  EXPECT_EQ(walk.GetRowNumber(), 5);  // the last accepted row
  for (bool more = walk.Last(restart); more; more = walk.Prior(restart)) {
    backward.push_back(walk.GetRowNumber());
  }
  EXPECT_TRUE(walk.GetBof());
  EXPECT_EQ(forward, (std::vector<int32_t>{2, 3, 5}));
  EXPECT_EQ(backward, (std::vector<int32_t>{5, 3, 2}));
  EXPECT_FALSE(restart);
}

TEST_F(RowFileNavigation, FindKeySkipsDeletedRowsAndEndsOnTheLastBlockWhenMissing) {
  Fill(4);
  Delete(2);
  auto key = [&](int32_t id, const std::string& name) {
    auto values = std::make_unique<NewRow>(table_);
    values->Values.GetItem(0)->SetAsInteger(id);
    values->Values.GetItem(1)->SetAsString(name);
    return values;
  };
  bool restart = false;
  auto three = key(3, "r3");
  EXPECT_EQ(table_.Navigator->FindKey(three->Values, 0, restart, false), 0);
  EXPECT_EQ(table_.Navigator->GetRowNumber(), 3);
  EXPECT_FALSE(table_.Navigator->GetBof() || table_.Navigator->GetEof());
  auto upper = key(3, "R3");
  EXPECT_EQ(table_.Navigator->FindKey(upper->Values, 0, restart, true), 0);
  auto deleted = key(2, "r2");
  EXPECT_EQ(table_.Navigator->FindKey(deleted->Values, 0, restart, false), 1);
  EXPECT_EQ(table_.Navigator->GetRowNumber(), 4);
  EXPECT_TRUE(table_.Navigator->GetEof());
}

// A cursor's AcceptRow may raise (a filter that fails): the search leaves no
// block pinned behind it, and the next search works.
TEST_F(RowFileNavigation, ASearchThatRaisesReleasesTheBlockItStoodOn) {
  class FailingNavigator : public TBRNRowsetNavigator {
   public:
    using TBRNRowsetNavigator::TBRNRowsetNavigator;
    int32_t FailAt = 0;
    bool AcceptRow(int32_t row, TBRNDirection, bool& stop) override {
      stop = false;
      if (row == FailAt) throw EBRNException(601, "injected");
      return true;
    }
  };
  Fill(3);
  NewRow key(table_);
  key.Values.GetItem(0)->SetAsInteger(3);
  key.Values.GetItem(1)->SetAsString("r3");
  FailingNavigator search(table_.Rows.get());
  search.FailAt = 2;
  bool restart = false;
  EXPECT_THROW(search.FindKey(key.Values, 0, restart, false), EBRNException);
  ASSERT_NE(table_.Rows->FindBuffer(2), nullptr);
  EXPECT_EQ(table_.Rows->FindBuffer(2)->PinCount, 0);
  search.FailAt = 0;
  EXPECT_EQ(search.FindKey(key.Values, 0, restart, false), 0);
  EXPECT_EQ(search.GetRowNumber(), 3);
  for (int32_t n = 1; n <= 3; ++n) EXPECT_EQ(table_.Rows->FindBuffer(n)->PinCount, 0) << n;
}

TEST_F(RowFileNavigation, AnotherWritersFlushStopsAWalkWithRestart) {
  Fill(600);
  table_.Flush();
  RowTable other(&files_, "/mem/db/", columns_.get());
  other.Open();
  bool restart = false;
  ASSERT_TRUE(other.Navigator->First(restart));
  NewRow changed(table_);
  changed.Values.GetItem(0)->SetAsInteger(600);
  changed.Values.GetItem(1)->SetAsString("changed");
  int32_t counter = 0;
  table_.Navigator->UpdateRow(changed.Values, 600, counter);
  table_.Flush();

  int32_t walked = 1;
  while (other.Navigator->Next(restart)) ++walked;
  EXPECT_TRUE(restart);
  EXPECT_LT(walked, 600);  // stopped at the first read from disk
  EXPECT_EQ(other.Host.ReadDepthInChangeCheck, 2) << "inside the step's own Read bracket";
  EXPECT_EQ(other.Host.ReadDepth, 0);
  ASSERT_TRUE(other.Navigator->GotoRowNumber(600, kDirectionForward, restart));
  EXPECT_FALSE(restart);
  EXPECT_EQ(other.Navigator->GetCurrentValues().GetItem(1)->GetAsString(), "changed");
}

TEST_F(RowFileNavigation, TheCurrentRowIsACopyThatFollowsOnlyANewStateOfTheRow) {
  Fill(2);
  bool restart = false;
  ASSERT_TRUE(table_.Navigator->GotoRowNumber(2, kDirectionForward, restart));
  TBRNRowsetRowValues& current = table_.Navigator->GetCurrentValues();
  EXPECT_EQ(current.GetItem(1)->GetAsString(), "r2");
  NewRow changed(table_);
  changed.Values.GetItem(0)->SetAsInteger(2);
  changed.Values.GetItem(1)->SetAsString("changed");
  int32_t counter = 0;
  table_.Navigator->UpdateRow(changed.Values, 2, counter);
  EXPECT_EQ(counter, 2);
  // The copy still holds the state it was made from.
  EXPECT_EQ(current.GetItem(1)->GetAsString(), "r2");
  ASSERT_TRUE(table_.Navigator->GotoRowNumber(2, kDirectionForward, restart));
  EXPECT_EQ(current.GetItem(1)->GetAsString(), "changed");
  EXPECT_EQ(table_.Navigator->GetCurrentRow()->UpdateCounter, 2);
}

// ---- Verification and repair ----

class RowFileVerification : public RowFileNavigation {
 public:
  // Verifies and answers the findings (log lines).
  std::vector<std::string> Verify(bool repair) {
    table_.Host.Log.clear();
    bool errors = false;
    int32_t brackets = table_.Host.ProgressBrackets;
    EXPECT_TRUE(table_.Rows->Verify(errors, repair));
    EXPECT_EQ(errors, !table_.Host.Log.empty());
    EXPECT_EQ(table_.Host.ProgressBrackets, brackets + 1);
    EXPECT_EQ(table_.Host.ProgressDepth, 0);
    return table_.Host.Log;
  }
  // Changes a row block as damage would.
  void Damage(int32_t n, const std::function<void(TBRNRowsetRow&)>& change) {
    TBRNRowsetRow* row = table_.Rows->GetRow(n, false, 0, 0);
    change(*row);
    row->StoreHeader();
    row->MarkModified();
    table_.Rows->ReleaseRow(row);
    table_.Rows->Flush(true);
  }
  std::vector<int32_t> FreeList() {
    std::vector<int32_t> list;
    for (int32_t n = table_.Rows->FreeListHead; n != 0 && list.size() < 100;) {
      list.push_back(n);
      TBRNRowsetRow* row = table_.Rows->GetRow(n, false, 0, 0);
      n = row->NextLink;
      table_.Rows->ReleaseRow(row);
    }
    std::sort(list.begin(), list.end());
    return list;
  }
};

bool AnyContains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

TEST_F(RowFileVerification, AFreeListLoopIsReportedAndRebuiltFromTheDeletedRows) {
  Fill(8);
  for (int32_t n : {2, 5, 7}) Delete(n);
  table_.Flush();
  ASSERT_EQ(FreeList(), (std::vector<int32_t>{2, 5, 7}));
  EXPECT_TRUE(Verify(false).empty());
  // The list runs 7 -> 5 -> 2; the tail now points back to the head.
  Damage(2, [](TBRNRowsetRow& row) { row.NextLink = 7; });

  std::vector<std::string> found = Verify(false);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(AnyContains(found, "(Recursive next row pointer (7)) - Not Fixed")) << found[0];

  found = Verify(true);
  EXPECT_TRUE(AnyContains(found, "(Recursive next row pointer (7)) - Fixed"));
  table_.Rows->Flush(true);
  EXPECT_TRUE(Verify(false).empty());
  EXPECT_EQ(FreeList(), (std::vector<int32_t>{2, 5, 7}));
  // The rebuilt list serves inserts.
  Inserted reused = InsertRow(table_, 9, "r9", nullptr);
  EXPECT_TRUE(reused.RowNumber == 2 || reused.RowNumber == 5 || reused.RowNumber == 7);
}

// A free-list head the header check has to drop leaves the deleted rows off
// the list: the repair links them again, so that their blocks are reused.
TEST_F(RowFileVerification, DeletedRowsOffTheFreeListAreLinkedAgainByRepair) {
  // Verification holds the table exclusively (a shared reader would read
  // the damaged header again at its next cache miss).
  table_.Close();
  table_.Host.ExclusiveLock = true;
  table_.Open();
  Fill(5);
  for (int32_t n : {2, 4}) Delete(n);
  table_.Rows->SetFreeListHead(99);
  table_.Rows->Flush(true);
  std::vector<std::string> found = Verify(true);
  EXPECT_TRUE(AnyContains(found, "(Invalid free row list pointer (99)) - Fixed"))
      << (found.empty() ? "nothing found" : found[0]);
  table_.Rows->Flush(true);
  found = Verify(false);
  EXPECT_TRUE(found.empty()) << found[0];
  EXPECT_EQ(FreeList(), (std::vector<int32_t>{2, 4}));
  Inserted reused = InsertRow(table_, 6, "r6", nullptr);
  EXPECT_TRUE(reused.RowNumber == 2 || reused.RowNumber == 4) << reused.RowNumber;
  EXPECT_EQ(table_.Rows->GetBlockCount(), 5);
}

TEST_F(RowFileVerification, EachKindOfDamageIsReportedAndRepaired) {
  struct Case {
    const char* finding;
    std::function<void(RowFileVerification&)> damage;
  };
  std::vector<Case> cases = {
      {"Invalid next free row pointer (3)",
       [](RowFileVerification& t) { t.table_.Rows->SetFreeListHead(3); }},
      {"Invalid next free row pointer (99)",
       [](RowFileVerification& t) { t.Damage(2, [](TBRNRowsetRow& r) { r.NextLink = 99; }); }},
      {"Invalid next row pointer (4)",
       [](RowFileVerification& t) { t.Damage(3, [](TBRNRowsetRow& r) { r.NextLink = 4; }); }},
      {"Invalid row 3 version (-5)",
       [](RowFileVerification& t) { t.Damage(3, [](TBRNRowsetRow& r) { r.Version = -5; }); }},
      {"Invalid row 3 update counter (-1)",
       [](RowFileVerification& t) { t.Damage(3, [](TBRNRowsetRow& r) { r.UpdateCounter = -1; }); }},
      {"Invalid row 4 ID (3)",
       [](RowFileVerification& t) { t.Damage(4, [](TBRNRowsetRow& r) { r.SetRowID(3); }); }},
      {"Invalid row 4 ID (-8)",
       [](RowFileVerification& t) { t.Damage(4, [](TBRNRowsetRow& r) { r.SetRowID(-8); }); }},
      {"Invalid row count (9)", [](RowFileVerification& t) { t.table_.Rows->SetRowCount(9); }},
      {"Invalid last row ID (2)", [](RowFileVerification& t) { t.table_.Rows->SetLastRowID(2); }},
      {"Invalid last row version (1)",
       [](RowFileVerification& t) { t.table_.Rows->SetLastVersion(1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.finding);
    table_.Close();
    files_.DeleteFile("/mem/db/Rows.BRNTbl");
    table_.Open();
    Fill(4);
    Delete(2);
    table_.Flush();
    c.damage(*this);
    table_.Rows->Flush(true);
    std::vector<std::string> found = Verify(false);
    EXPECT_TRUE(AnyContains(found, std::string("(") + c.finding + ") - Not Fixed"))
        << (found.empty() ? "nothing found" : found[0]);
    found = Verify(true);
    EXPECT_TRUE(AnyContains(found, std::string("(") + c.finding + ") - Fixed"));
    table_.Rows->Flush(true);
    found = Verify(false);
    EXPECT_TRUE(found.empty()) << found[0];
    EXPECT_EQ(table_.Rows->RowCount, 3);
  }
}

// A repaired row ID or version comes after every one seen, even when the
// header's counter is damaged too (below the rows' values, or below zero).
TEST_F(RowFileVerification, RepairsTakeNewIDsAndVersionsEvenWithDamagedCounters) {
  struct Case {
    const char* finding;
    std::function<void(RowFileVerification&)> damage;
  };
  auto duplicateID = [](int32_t lastRowID) {
    return [lastRowID](RowFileVerification& t) {
      t.Damage(3, [](TBRNRowsetRow& r) { r.SetRowID(1); });
      t.table_.Rows->SetLastRowID(lastRowID);
    };
  };
  const std::vector<Case> cases = {
      {"Invalid row 3 ID (1)", duplicateID(0)},
      {"Invalid row 3 ID (1)", duplicateID(-5)},
      {"Invalid row 3 ID (1)", duplicateID(1)},
      {"Invalid row 3 version (-3)",
       [](RowFileVerification& t) {
         t.Damage(3, [](TBRNRowsetRow& r) { r.Version = -3; });
         t.table_.Rows->SetLastVersion(-10);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.finding);
    table_.Close();
    files_.DeleteFile("/mem/db/Rows.BRNTbl");
    table_.Open();
    Fill(4);
    c.damage(*this);
    table_.Rows->Flush(true);
    EXPECT_TRUE(AnyContains(Verify(true), std::string("(") + c.finding + ") - Fixed"));
    table_.Rows->Flush(true);
    std::vector<std::string> found = Verify(false);
    EXPECT_TRUE(found.empty()) << found[0];
    std::set<int32_t> ids;
    for (int32_t n = 1; n <= 4; ++n) {
      TBRNRowsetRow* row = table_.Rows->GetRow(n, false, 0, 0);
      ids.insert(row->GetRowID());
      EXPECT_GE(row->Version, 0) << n;
      table_.Rows->ReleaseRow(row);
    }
    EXPECT_EQ(ids.size(), 4u);
    EXPECT_GT(*ids.begin(), 0);
  }
}

TEST(RowFileRepair, ANewVersionForARowKeepsItsBlobValues) {
  auto columns = MakeColumns({{dtChar, 10}, {dtLob, 0}, {dtLob, 0}});
  TBRNMemoryFileManager files(nullptr);
  RowTable table(&files, "/mem/db/", columns.get());
  table.Open();
  TBRNBytes blob = BlobBytes(1500, 4);
  InsertRow(table, 1, "good", &blob);  // third column stays NULL
  // A row written under a damaged version: its chain carries it too.
  NewRow bad(table);
  bad.Values.GetItem(0)->SetAsInteger(2);
  bad.Values.GetItem(2)->SetBytesData(blob);
  Inserted done;
  table.Navigator->InsertRow(-5, bad.Values, done.RowNumber, done.UpdateCounter);
  table.Rows->SetLastVersion(1);
  table.Flush();
  int32_t blobBlocks = table.Blobs->GetBlockCount();

  table.Host.Log.clear();
  bool errors = false;
  EXPECT_TRUE(table.Rows->Verify(errors, true));
  ASSERT_EQ(table.Host.Log.size(), 1u);
  EXPECT_NE(table.Host.Log[0].find("(Invalid row 2 version (-5)) - Fixed"), std::string::npos);
  table.Flush();
  bool restart = false;
  ASSERT_TRUE(table.Navigator->GotoRowNumber(2, kDirectionForward, restart));
  EXPECT_EQ(table.Navigator->GetCurrentRow()->Version, 2);
  TBRNBytes back;
  table.Navigator->GetCurrentValues().GetItem(2)->GetBytesData(back);
  EXPECT_EQ(back, blob);
  EXPECT_TRUE(table.Navigator->GetCurrentValues().GetItem(3)->GetNull());
  // The chain was written again in place; a NULL value got none.
  EXPECT_EQ(table.Blobs->GetBlockCount(), blobBlocks);
}

// A damaged row whose BLOB reference leads into another row's chain reads
// that value as empty; giving the row a new version leaves the chain alone.
TEST(RowFileRepair, ANewVersionNeverRewritesAnotherRowsChain) {
  auto columns = MakeColumns({{dtChar, 10}, {dtLob, 0}});
  TBRNMemoryFileManager files(nullptr);
  RowTable table(&files, "/mem/db/", columns.get());
  table.Open();
  TBRNBytes good = BlobBytes(1500, 4);
  InsertRow(table, 1, "good", &good);
  NewRow bad(table);
  bad.Values.GetItem(0)->SetAsInteger(2);
  bad.Values.GetItem(2)->SetBytesData(BlobBytes(700, 5));
  Inserted done;
  table.Navigator->InsertRow(-5, bad.Values, done.RowNumber, done.UpdateCounter);
  table.Rows->SetLastVersion(1);
  auto blobBlockOf = [&](int32_t n, int32_t newBlock) {
    TBRNRowsetRow* row = table.Rows->GetRow(n, false, 0, 0);
    TBRNRowsetRowValues values(columns.get(), &table.Table);
    values.SetRow(row);
    int32_t block = values.GetRowValue(2)->GetBlobBlock();
    if (newBlock > 0) {
      values.GetRowValue(2)->SetBlobBlock(newBlock);
      row->MarkModified();
    }
    values.SetRow(nullptr);
    table.Rows->ReleaseRow(row);
    return block;
  };
  blobBlockOf(2, blobBlockOf(1, 0));
  table.Flush();

  bool errors = false;
  EXPECT_TRUE(table.Rows->Verify(errors, true));
  EXPECT_TRUE(errors);
  table.Flush();
  bool restart = false;
  ASSERT_TRUE(table.Navigator->GotoRowNumber(1, kDirectionForward, restart));
  TBRNBytes back;
  table.Navigator->GetCurrentValues().GetItem(2)->GetBytesData(back);
  EXPECT_EQ(back, good);
}

TEST_F(RowFileVerification, ACancelEndsTheWalkAndTheProgressBracket) {
  Fill(10);
  table_.Flush();
  table_.Host.CancelAfter = 2;
  bool errors = false;
  EXPECT_FALSE(table_.Rows->Verify(errors, false));
  EXPECT_EQ(table_.Host.ProgressBrackets, 1);
  EXPECT_EQ(table_.Host.ProgressDepth, 0);
  EXPECT_EQ(table_.Host.Progress, (std::vector<int32_t>{10, 20, 30}));
}

// ---- Row locks within one process ----

TEST(RowFileLocks, SessionsOfOneProcessExcludeEachOtherPerRow) {
  auto columns = MakeColumns({});
  for (bool onDisk : {false, true}) {
    SCOPED_TRACE(onDisk ? "disk" : "memory");
    TempFolder temp;
    std::unique_ptr<TBRNFileManager> files;
    if (onDisk) {
      files = std::make_unique<TBRNOSFileManager>(nullptr);
    } else {
      files = std::make_unique<TBRNMemoryFileManager>(nullptr);
    }
    std::string folder = onDisk ? temp.Path : "/mem/db/";
    RowTable a(files.get(), folder, columns.get());
    a.Open();
    RowTable b(files.get(), folder, columns.get());
    b.Open();
    EXPECT_TRUE(a.Rows->LockRow(7));
    EXPECT_FALSE(b.Rows->LockRow(7));
    EXPECT_FALSE(a.Rows->LockRow(7));
    EXPECT_TRUE(b.Rows->LockRow(8));
    EXPECT_TRUE(a.Rows->UnlockRow(7));
    EXPECT_FALSE(a.Rows->UnlockRow(7));
    EXPECT_TRUE(b.Rows->LockRow(7));
    EXPECT_TRUE(b.Rows->UnlockRow(7));
    EXPECT_TRUE(b.Rows->UnlockRow(8));
    EXPECT_FALSE(a.Rows->LockRow(0));
  }
}

TEST(RowFileLocks, TheLockOffsetLiesBeyondEveryRowFileLimit) {
  EXPECT_EQ(TBRNRowsetManager::RowLockOffset(1), kRowLockBase + 1);
  TBRNEngineLargeOSFileManager large(nullptr, nullptr);
  EXPECT_GE(kRowLockBase, large.GetMaxRowsetFileSize());
  // A file manager that would let data grow further is capped below the
  // locks: the last block may end at the first lock byte, not past it.
  auto columns = MakeColumns(std::vector<std::pair<TBRNDataTypeCode, int32_t>>(8, {dtChar, 1000}));
  LimitedFiles<TBRNMemoryFileManager> files(nullptr);
  files.Limit = INT64_MAX;
  RowTable table(&files, "/mem/db/", columns.get());
  table.Open();
  int64_t blockSize = table.Rows->GetBlockSize();
  int32_t lastFitting = int32_t((kRowLockBase - 16384) / blockSize);
  table.Rows->NextBlock = lastFitting;
  EXPECT_NO_THROW(table.Rows->CheckFileFull());
  table.Rows->NextBlock = lastFitting + 1;
  EXPECT_THROW(table.Rows->CheckFileFull(), EBRNException);
  table.Rows->NextBlock = 1;
}

}  // namespace
}  // namespace brn::testing
