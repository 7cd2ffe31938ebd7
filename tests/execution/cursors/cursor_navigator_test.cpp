// The cursor's navigators under user filters of a real session: only rows of
// the filter set are visited or found, an empty set shows no row, and the
// filter operations keep the row-filter callback and the logging frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "execution/cursors/indexed_local_cursor.h"
#include "execution/cursors/local_cursor_factory.h"
#include "execution/filters/filter_test_support.h"
#include "foundation/files/fault_file_manager.h"
#include "foundation/text/exception.h"
#include "storage/tables/child_process.h"

namespace brn::testing {
namespace {

struct CursorNavigatorTest : FilterTable {
  TBRNLocalCursorFactory Factory;
  std::unique_ptr<TBRNLocalCursor> Cursor;

  void SetUp() override {
    FilterTable::SetUp();
    SetTableObjectFactory(&Factory);
  }
  void TearDown() override {
    Cursor.reset();
    SetTableObjectFactory(nullptr);
    FilterTable::TearDown();
  }
  // A cursor on T with a user of its own on the manager; indexed, in the
  // order of IA.
  TBRNLocalCursor& MakeCursor(bool indexed) {
    Manager->Open(false);
    auto made = Manager->CreateCursor("T", false, false, indexed);
    Cursor.reset(dynamic_cast<TBRNLocalCursor*>(made.release()));
    // T has no primary key: the order is IA (on A).
    if (indexed) Cursor->SetActiveIndex(0);
    return *Cursor;
  }
  int32_t Column(int32_t index) {
    auto row = Cursor->CreateRow();
    Cursor->ReadRow(*row);
    return row->Values.GetItem(index)->GetAsInteger();
  }
  std::vector<int32_t> VisitedIDs() {
    std::vector<int32_t> ids;
    for (bool on = Cursor->FirstRow(); on && !Cursor->GetEof(); on = Cursor->NextRow()) {
      ids.push_back(Column(0));
    }
    return ids;
  }
  TBRNFilterHandle Activate(const std::string& condition) {
    TBRNFilterHandle handle = Cursor->CreateFilter(condition, false, false, true);
    Cursor->ActivateFilter(handle);
    return handle;
  }
};

TEST_F(CursorNavigatorTest, VisitsAndFindsOnlyTheFilterSetsRows) {
  CreateTable(false);
  FillStandard(70);  // B = ID % 7
  Delete(7);
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "key order" : "row order");
    TBRNLocalCursor& cursor = MakeCursor(indexed);
    TBRNFilterHandle filter = Activate("B = 0");
    EXPECT_TRUE(cursor.GetFiltered());
    std::vector<int32_t> expected;
    for (int32_t id = 14; id <= 70; id += 7) expected.push_back(id);
    EXPECT_EQ(VisitedIDs(), expected) << "the deleted row 7 is not in the set";
    EXPECT_EQ(cursor.GetRowCount(), int32_t(expected.size()));

    // Next on the last visible row keeps it, with EOF; Prior on the first
    // keeps it with BOF.
    cursor.LastRow();
    cursor.NextRow();
    EXPECT_TRUE(cursor.GetEof());
    EXPECT_EQ(Column(0), 70);
    cursor.FirstRow();
    cursor.PriorRow();
    EXPECT_TRUE(cursor.GetBof());
    EXPECT_EQ(Column(0), 14);

    // Row 15 (B = 1) matches these values but lies outside the set.
    auto probe = cursor.CreateRow();
    {
      auto copy = Manager->NewRowBuffer();
      TBRNRowsetRow* stored = Manager->GetRow(15, false);
      copy->AssignRow(*stored);
      Manager->ReleaseRow(stored);
      TBRNRowsetRowValues values(Manager->GetColumns(), Manager);
      values.SetRow(copy.get());
      probe->Values.Assign(values);
    }
    cursor.FirstRow();
    EXPECT_FALSE(cursor.SetToRowValues(*probe));
    EXPECT_NE(cursor.GetRowNumber(), 15);

    cursor.DeactivateFilter(filter);
    EXPECT_FALSE(cursor.GetFiltered());
    EXPECT_EQ(cursor.GetRowCount(), 69);
    cursor.DropFilter(filter);
    Cursor.reset();
  }
}

// A filter that keeps a few rows of a long key range (over several index
// pages): moves pass the keys whose rows the filter lacks, take equal keys
// in row order and stop at the range's edges in both directions; filter
// rows outside the range never show, and rows added or removed later show
// at the next walk.
TEST_F(CursorNavigatorTest, ASparseFilterInsideAKeyRangeStopsAtTheRangesEdges) {
  CreateTable(false);
  FillStandard(600);  // A = ID % 100
  auto& cursor = dynamic_cast<TBRNIndexedLocalCursor&>(MakeCursor(true));
  TBRNContainedCursorKeyValues start(&cursor);
  TBRNContainedCursorKeyValues end(&cursor);
  start.GetItem(0)->SetAsInteger(10);
  end.GetItem(0)->SetAsInteger(98);
  cursor.SetRange(start, end);
  // A of 7, 50, 33, 50 and 99: the first and the last lie outside the
  // range; 250 and 450 share a key value. 620 (A 20) comes only later.
  Activate("ID = 7 OR ID = 250 OR ID = 333 OR ID = 450 OR ID = 599 OR ID = 620");
  auto backward = [&] {
    std::vector<int32_t> ids;
    for (bool on = cursor.LastRow(); on && !cursor.GetBof(); on = cursor.PriorRow())
      ids.push_back(Column(0));
    return ids;
  };
  EXPECT_EQ(VisitedIDs(), (std::vector<int32_t>{333, 250, 450}));
  EXPECT_TRUE(cursor.GetEof());
  EXPECT_EQ(Column(0), 450) << "the edge keeps the last row";
  EXPECT_EQ(backward(), (std::vector<int32_t>{450, 250, 333}));
  EXPECT_EQ(Column(0), 333);

  // Rows added and removed by the table's manager: the next moves see them.
  for (int32_t i = 601; i <= 620; ++i) Insert(StandardRow(i));
  Manager->FlushFiles(true);
  EXPECT_EQ(VisitedIDs(), (std::vector<int32_t>{620, 333, 250, 450}));
  Delete(333);
  EXPECT_EQ(VisitedIDs(), (std::vector<int32_t>{620, 250, 450}));
  EXPECT_EQ(backward(), (std::vector<int32_t>{450, 250, 620}));
}
// Walks in the order of IA (A = ID % 100, equal keys in row order) over
// many index pages, against the rows the condition keeps: filters without
// a key range (whose moves pass over unshown keys leaf by leaf), a sparse
// filter whose shown keys lie next to each other, and sparse ones whose
// keys lie far apart (moves that jump), before and after rows are added
// and removed.
TEST_F(CursorNavigatorTest, FilteredWalksInKeyOrderMatchTheRowsBothWays) {
  CreateTable(false);
  constexpr int32_t kRows = 6400;
  FillStandard(kRows);
  struct Case {
    const char* Condition;
    std::function<bool(int32_t)> Keeps;  // by ID
  };
  const std::vector<Case> cases = {
      {"B = 3", [](int32_t id) { return id % 7 == 3; }},
      {"ID > 6272", [](int32_t id) { return id > 6272; }},
      {"B = 0 OR ID < 40", [](int32_t id) { return id % 7 == 0 || id < 40; }},
      {"A = 50", [](int32_t id) { return id % 100 == 50; }},
      {"A < 3 AND ID > 6000", [](int32_t id) { return id % 100 < 3 && id > 6000; }},
  };
  auto& cursor = dynamic_cast<TBRNIndexedLocalCursor&>(MakeCursor(true));
  std::vector<int32_t> live;  // IDs in ascending order
  std::map<int32_t, int32_t> rowOf;
  for (int32_t id = 1; id <= kRows; ++id) {
    live.push_back(id);
    rowOf[id] = id;
  }
  int32_t nextId = kRows + 1;
  auto backward = [&] {
    std::vector<int32_t> ids;
    for (bool on = cursor.LastRow(); on && !cursor.GetBof(); on = cursor.PriorRow())
      ids.push_back(Column(0));
    return ids;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Condition);
    TBRNFilterHandle filter = Activate(c.Condition);
    for (int32_t round = 0; round < 2; ++round) {
      std::vector<int32_t> expected;
      for (int32_t id : live)
        if (c.Keeps(id)) expected.push_back(id);
      std::stable_sort(expected.begin(), expected.end(),
                       [](int32_t x, int32_t y) { return x % 100 < y % 100; });
      ASSERT_FALSE(expected.empty());
      EXPECT_EQ(VisitedIDs(), expected);
      EXPECT_TRUE(cursor.GetEof());
      EXPECT_EQ(Column(0), expected.back()) << "the edge keeps the last row";
      std::vector<int32_t> reversed(expected.rbegin(), expected.rend());
      EXPECT_EQ(backward(), reversed);
      EXPECT_TRUE(cursor.GetBof());
      EXPECT_EQ(Column(0), expected.front());
      // The second round after the table changed: the first shown row and
      // the row after the middle one go, and rows are added.
      if (round == 0) {
        const int32_t middle = expected[expected.size() / 2];
        for (int32_t id : {expected.front(), middle + 1}) {
          auto found = rowOf.find(id);
          if (found == rowOf.end()) continue;
          Delete(found->second);
          rowOf.erase(found);
          live.erase(std::find(live.begin(), live.end(), id));
        }
        // New rows take the freed slots first: row numbers and IDs part.
        for (int32_t n = 0; n < 30; ++n, ++nextId) {
          rowOf[nextId] = Insert(StandardRow(nextId));
          live.push_back(nextId);
        }
        Manager->FlushFiles(true);
      }
    }
    cursor.DropFilter(filter);
  }
}

TEST_F(CursorNavigatorTest, AnEmptyFilterSetShowsNoRow) {
  CreateTable(false);
  FillStandard(30);
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "key order" : "row order");
    TBRNLocalCursor& cursor = MakeCursor(indexed);
    Activate("A = 1000");
    EXPECT_EQ(cursor.GetRowCount(), 0);
    cursor.FirstRow();
    EXPECT_TRUE(cursor.GetBof());
    EXPECT_TRUE(cursor.GetEof());
    EXPECT_EQ(cursor.GetRowNumber(), 0);
    cursor.LastRow();
    EXPECT_TRUE(cursor.GetBof() && cursor.GetEof());
    EXPECT_EQ(cursor.GetRowNumber(), 0);
    Cursor.reset();
  }
}

TEST_F(CursorNavigatorTest, AnUnknownFilterIsLoggedWithItsOperation) {
  CreateTable(false);
  FillStandard(5);
  TBRNLocalCursor& cursor = MakeCursor(false);
  TBRNFilterHandle filter = Activate("A > 2");
  EXPECT_EQ(VisitedIDs(), (std::vector<int32_t>{3, 4, 5}));
  for (auto [code, call] : std::vector<std::pair<int32_t, std::function<void()>>>{
           {kOpActivateFilter, [&] { cursor.ActivateFilter(filter + 1); }},
           {kOpDeactivateFilter, [&] { cursor.DeactivateFilter(filter + 1); }},
           {kOpDropFilter, [&] { cursor.DropFilter(filter + 1); }}}) {
    try {
      call();
      ADD_FAILURE() << code;
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 1001);
      EXPECT_EQ(e.ErrorMessage, "A filter error occurred (Filter not found)");
    }
  }
  // A condition that does not compile leaves no filter behind.
  EXPECT_THROW(cursor.CreateFilter("A >", false, false, true), EBRNException);
  EXPECT_EQ(VisitedIDs(), (std::vector<int32_t>{3, 4, 5}));
}

// A filter passing fewer than 2 rows in 100 (the share truncated) on a
// cursor with an active index becomes a key range from its rows' smallest
// to largest key, so walking the index reads only the keys between them;
// at 2 in 100 the walk goes over the index, and a table without rows
// derives none.
TEST_F(CursorNavigatorTest, ASmallFilterSetBecomesAKeyRange) {
  CreateTable(false);
  FillStandard(100);  // A = ID % 100: ID 100 has the first key
  TBRNLocalCursor& cursor = MakeCursor(true);
  TBRNCursorIndexNavigator& navigator = cursor.GetIndexNavigator(0);
  int64_t before = navigator.KeysVisited;
  ASSERT_EQ(VisitedIDs().size(), 100u);
  const int64_t fullWalk = navigator.KeysVisited - before;
  ASSERT_GE(fullWalk, 100);

  struct Case {
    const char* Condition;
    bool Derives;
    std::vector<int32_t> Shown;  // IDs in the order of A
  };
  const std::vector<Case> cases = {
      {"ID = 77", true, {77}},  // evaluated row by row
      {"A = 50", true, {50}},   // resolved through the active index
      {"S = 'xyz' AND B = 6 AND ID < 50", true, {20}},
      {"ID >= 99", false, {100, 99}},
      {"ID IN (40, 60)", false, {40, 60}},
      // No row passes: the share is 0, and a range over no row shows none.
      {"ID = 1000", true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Condition);
    TBRNFilterHandle filter = Activate(c.Condition);
    EXPECT_EQ(cursor.GetRanged(), c.Derives);
    if (c.Derives && cursor.GetRanged() && !c.Shown.empty()) {
      EXPECT_EQ(cursor.GetRangeStartValues()->GetItem(0)->GetAsInteger(), c.Shown.front() % 100);
      EXPECT_EQ(cursor.GetRangeEndValues()->GetItem(0)->GetAsInteger(), c.Shown.back() % 100);
    }
    before = navigator.KeysVisited;
    EXPECT_EQ(VisitedIDs(), c.Shown);
    const int64_t walked = navigator.KeysVisited - before;
    if (c.Derives) {
      EXPECT_LE(walked * 10, fullWalk) << walked << " keys against " << fullWalk;
    } else if (!c.Shown.empty()) {
      EXPECT_GE(walked, 50) << "the walk passes every key before the last row's";
    }
    cursor.DropFilter(filter);
    EXPECT_FALSE(cursor.GetRanged());
  }
}

TEST_F(CursorNavigatorTest, AnEmptyTableNeverDerivesAKeyRange) {
  CreateTable(false);
  TBRNLocalCursor& cursor = MakeCursor(true);
  Activate("A >= 0");
  EXPECT_TRUE(cursor.GetFiltered());
  EXPECT_FALSE(cursor.GetRanged());
  cursor.FirstRow();
  EXPECT_TRUE(cursor.GetBof());
  EXPECT_TRUE(cursor.GetEof());
  EXPECT_EQ(cursor.GetRowCount(), 0);
}

// A read failure injected into each filter operation in turn, the table's
// cache emptied first by another session's flush: the failure is logged
// with the operation's code and no Read byte of the table stays held. The
// operations read through key counts (estimates), index walks, row scans,
// the rebuild of the filters after the change, and the check for changes
// of a refresh. Another process's flush then proceeds at once.
TEST_F(CursorNavigatorTest, AFailedFilterReadLeavesNoReadLockAndIsLogged) {
  TBRNFileManager* files = Db->FileManager;
  // The table files live in memory files that both sessions share; the
  // catalog and the lock file stay on disk.
  TBRNFaultFileManager faults(files->Environment);
  Db->FileManager = &faults;
  // Everything opened through the memory files is closed before they go.
  struct Restore {
    CursorNavigatorTest& Test;
    TBRNFileManager* Files;
    ~Restore() {
      Test.Cursor.reset();
      if (Test.Manager != nullptr) Test.Manager->Close(false, true);
      Test.Manager = nullptr;
      Test.Db->FileManager = Files;
    }
  } restore{*this, files};
  CreateTable(false);
  FillStandard(100);
  // Shared from here on, so that reads take the table's Read lock and see
  // the other session's flushes.
  Manager->Close(false, true);
  Manager = nullptr;
  Manager =
      static_cast<TBRNTableManager*>(Db->TableManagers->OpenManager(Table, kBRNLockTypeShared));

  std::unique_ptr<TBRNLocalSessionManager> other = OtherSession("Administrator", "GlenHarbor");
  TBRNLocalDatabaseManager* otherDb =
      other->GetDatabaseManager(AddDatabase(*other, "Shop", Env.Folder.Path + "shop"));
  otherDb->OpenDatabase(kBRNLockShared);
  otherDb->FileManager = &faults;
  auto* otherTable = static_cast<TBRNBaseTable*>(
      otherDb->Catalog->DefaultSchema->BaseTables->FindByName("T", true));
  auto* otherManager = static_cast<TBRNTableManager*>(
      otherDb->TableManagers->OpenManager(otherTable, kBRNLockTypeShared));
  int32_t nextID = 1000;
  auto otherInserts = [&] {
    auto buffer = otherManager->NewRowBuffer();
    TBRNRowsetRowValues values(otherManager->GetColumns(), otherManager);
    values.SetRow(buffer.get());
    values.SetAllNull();
    values.GetItem(0)->SetAsInteger(++nextID);
    values.GetItem(1)->SetAsInteger(500);
    int32_t row = 0, version = 0, counter = 0;
    otherManager->InsertRow(values, row, version, counter, false);
  };
  auto readFree = [&] {
    auto stream = files->OpenFile(Db->LockManager->GetLockFileName(), false, false, true);
    int64_t offset = Table->GetLockOffset(ltRead) + Db->LockManager->GetSessionSlot() - 1;
    if (!stream->SetRangeLock(true, offset, 1)) return false;
    stream->SetRangeLock(false, offset, 1);
    return true;
  };

  // The probe sees a held Read byte.
  Manager->LockObject(kBRNLockTypeRead);
  EXPECT_FALSE(readFree());
  Manager->UnlockObject(kBRNLockTypeRead);
  ASSERT_TRUE(readFree());

  struct Case {
    const char* Name;
    TBRNOperationCode Code;
    bool Indexed;
    // Run before the other session's change; answers the filter to use.
    std::function<TBRNFilterHandle(TBRNLocalCursor&)> Prepare;
    std::function<void(TBRNLocalCursor&, TBRNFilterHandle)> Operation;
    // False: the change is noticed inside the operation (a refresh through
    // the table's HasChanged, which holds a Read lock of its own).
    bool Noticed = true;
  };
  auto none = [](TBRNLocalCursor&) { return TBRNFilterHandle(0); };
  auto created = [](const char* condition) {
    return
        [condition](TBRNLocalCursor& c) { return c.CreateFilter(condition, false, false, false); };
  };
  auto active = [](const char* condition) {
    return [condition](TBRNLocalCursor& c) {
      TBRNFilterHandle filter = c.CreateFilter(condition, false, false, false);
      c.ActivateFilter(filter);
      return filter;
    };
  };
  auto activate = [](TBRNLocalCursor& c, TBRNFilterHandle f) { c.ActivateFilter(f); };
  const std::vector<Case> cases = {
      {"CreateFilter counting keys", kOpCreateFilter, false, none,
       [](TBRNLocalCursor& c, TBRNFilterHandle) {
         c.CreateFilter("A < 30 AND N = 2", false, false, true);
       }},
      {"ActivateFilter walking an index", kOpActivateFilter, false, created("A BETWEEN 10 AND 40"),
       activate},
      {"ActivateFilter scanning rows", kOpActivateFilter, false, created("B + 0 = 3"), activate},
      {"ActivateFilter on an indexed cursor", kOpActivateFilter, true, created("ID = 77"),
       activate},
      {"DeactivateFilter rebuilding", kOpDeactivateFilter, false, active("B = 3"),
       [](TBRNLocalCursor& c, TBRNFilterHandle f) { c.DeactivateFilter(f); }},
      {"DropFilter rebuilding", kOpDropFilter, true, active("A = 5 OR B = 6"),
       [](TBRNLocalCursor& c, TBRNFilterHandle f) { c.DropFilter(f); }},
      {"FirstRow rebuilding", kOpFirstRow, true, active("ID = 50"),
       [](TBRNLocalCursor& c, TBRNFilterHandle) { c.FirstRow(); }},
      {"FirstRow checking for changes", kOpFirstRow, true, active("ID = 50"),
       [](TBRNLocalCursor& c, TBRNFilterHandle) { c.FirstRow(); }, false},
      {"RefreshCursor checking for changes", kOpRefreshCursor, false, active("B = 2"),
       [](TBRNLocalCursor& c, TBRNFilterHandle) { c.RefreshCursor(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TBRNLocalCursor& cursor = MakeCursor(c.Indexed);
    TBRNFilterHandle filter = c.Prepare(cursor);
    EXPECT_TRUE(readFree()) << "after the operations that succeeded";

    otherInserts();
    if (c.Noticed) {
      ASSERT_TRUE(Manager->HasChanged(false)) << "the cached blocks are gone";
    }
    const size_t loggedBefore = ReadLog(*Session).size();
    faults.FailRead(1);
    bool failed = false;
    try {
      c.Operation(cursor, filter);
    } catch (const EBRNException&) {
      failed = true;
    }
    faults.Disarm();
    EXPECT_TRUE(failed) << "the injected read failure must surface";
    std::vector<TBRNLogEvent> logged = ReadLog(*Session);
    ASSERT_GT(logged.size(), loggedBefore);
    EXPECT_EQ(logged.back().Function, c.Code);
    EXPECT_TRUE(readFree());

    // A forked process's flush of the table proceeds at once: its Write
    // lock waits for no Read byte. (The child has its own copy of the
    // memory files.)
    auto started = std::chrono::steady_clock::now();
    pid_t pid = Fork([&] {
      try {
        otherInserts();
        return 0;
      } catch (...) {
        return 1;
      }
    });
    EXPECT_EQ(Wait(pid), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    Cursor.reset();
  }
  otherManager->Close(false, true);
  otherDb->FileManager = files;
}

}  // namespace
}  // namespace brn::testing
