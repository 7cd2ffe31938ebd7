// Data changes seen from another process sharing the database: a row that
// process holds locked makes an UPDATE fail whole, and the edits of a cursor's
// cache reach a reader in another process all at once.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "execution/cursors/local_cursor.h"
#include "execution/queries/query_test_support.h"
#include "foundation/runtime/handle_objects.h"
#include "foundation/text/exception.h"

namespace brn::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Items(Id INTEGER primary key, Qty INTEGER) with rows 1 to 100, Qty = Id.
struct DmlProcessTest : QueryTest {
  DmlProcessTest() {
    CreateTable("Items", {{"Id", dtInteger}, {"Qty", dtInteger}});
    std::vector<CellRow> rows;
    for (int64_t id = 1; id <= 100; ++id) rows.push_back({id, id});
    Insert("Items", rows);
  }

  // The count and the sums of Id and Qty of Items, read through database.
  static std::string Summary(TBRNLocalDatabaseManager& database) {
    auto* statement = static_cast<TBRNLocalStatementManager*>(
        database.PrepareStatement("SELECT COUNT(*), SUM(Id), SUM(Qty) FROM Items"));
    Rows rows;
    try {
      rows = CursorRows(*statement->ExecuteStatement());
    } catch (...) {
      TBRNLocalStatementManager::FreeStatement(statement);
      throw;
    }
    TBRNLocalStatementManager::FreeStatement(statement);
    return rows.at(0).at(0) + "/" + rows.at(0).at(1) + "/" + rows.at(0).at(2);
  }
  std::string Summary() { return Summary(*Shop); }

  int32_t Run(const std::string& sql) {
    TBRNLocalStatementManager* statement = Prepare(sql);
    int32_t rows = 0;
    try {
      statement->ExecuteStatement();
      rows = statement->GetRowsAffected();
    } catch (...) {
      Free(statement);
      throw;
    }
    Free(statement);
    return rows;
  }

  // A session of its own in a forked child, on database Shop.
  struct ChildSession {
    explicit ChildSession(TestEngine& env) : Session(env.OpenSession("Child")) {
      Session->Login("Administrator", "GlenHarbor");
      Shop = static_cast<TBRNLocalDatabaseManager*>(Session->OpenDatabase("Shop", kBRNLockShared));
    }
    std::unique_ptr<TBRNLocalSessionManager> Session;
    TBRNLocalDatabaseManager* Shop;
  };

  // One byte through a pipe; false when the other end is gone.
  static bool Signal(int fd) { return write(fd, "x", 1) == 1; }
  static bool Await(int fd) {
    char byte = 0;
    return read(fd, &byte, 1) == 1;
  }
};

// The child holds row 50 locked; the pessimistic UPDATE reaches it after
// changing other rows, tries as often as set, fails with the lock error
// and leaves every row as it was. Once the child is gone the UPDATE runs.
TEST_F(DmlProcessTest, UpdateOfARowLockedByAnotherProcessFailsAndChangesNothing) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = Fork([&] {
    close(ready[0]);
    ChildSession child(Env);
    TBRNTableManager& manager = OpenTable(*child.Shop, "Items");
    struct Holder : TBRNHandleObject {
    } lockHolder;
    if (!manager.LockRow(&lockHolder, 50, 0)) return 1;
    if (!Signal(ready[1])) return 2;
    for (;;) pause();
  });
  close(ready[1]);
  ASSERT_TRUE(Await(ready[0])) << "the child locked row 50";
  close(ready[0]);

  const std::string before = Summary();
  ASSERT_EQ(Session->RecordLockProtocol, kBRNLockPessimistic);
  Session->RecordLockRetryCount = 3;
  Session->RecordLockWaitTime = 30;
  const auto start = std::chrono::steady_clock::now();
  int32_t error = 0;
  try {
    Run("UPDATE Items SET Qty = Qty + 1");
  } catch (const EBRNException& failure) {
    error = failure.ErrorCode;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(error, 1005) << "cannot lock the row";
  EXPECT_GE(elapsed.count(), 3 * 30) << "a wait between each of the 4 tries";
  EXPECT_EQ(Summary(), before) << "the rows before the locked one were rolled back";

  kill(holder, SIGKILL);
  EXPECT_EQ(Wait(holder), -1);
  EXPECT_EQ(Run("UPDATE Items SET Qty = Qty + 1"), 100);
  EXPECT_EQ(Summary(), "100/5050/5150");
}

// 50 edits made through a cursor's cache (30 updates, 10 inserts, 10
// deletes) applied while a child polls the table in a session of its own:
// every read shows the table before the apply or after it, never a part.
TEST_F(DmlProcessTest, AppliedCachedUpdatesReachAnotherProcessAllOrNone) {
  TBRNTableManager& manager = OpenTable("Items");
  std::unique_ptr<TBRNCursor> opened = manager.CreateCursor("Edit", false, false, false);
  auto* cursor = dynamic_cast<TBRNLocalCursor*>(opened.get());
  ASSERT_NE(cursor, nullptr);
  TBRNCursor& cache = *cursor->StartCachedUpdates();
  std::unique_ptr<TBRNCursorRow> row = cache.CreateRow();
  // Rows 1-30 get Qty + 1000, rows 91-100 go, rows 101-110 arrive.
  int32_t edits = 0;
  for (bool on = cache.FirstRow(); on && !cache.GetEof(); on = cache.NextRow()) {
    cache.ReadRow(*row);
    const int32_t id = row->Values.GetItem(1)->GetAsInteger();
    if (id <= 30) {
      cache.GetCurrentRow(*row, true);
      row->Values.GetItem(2)->SetAsInteger(id + 1000);
      ASSERT_TRUE(cache.UpdateRow(*row));
      ++edits;
    }
  }
  for (int32_t id = 91; id <= 100; ++id) {
    bool found = false;
    for (bool on = cache.FirstRow(); on && !cache.GetEof() && !found; on = cache.NextRow()) {
      cache.ReadRow(*row);
      found = row->Values.GetItem(1)->GetAsInteger() == id;
    }
    ASSERT_TRUE(found) << id;
    ASSERT_TRUE(cache.DeleteRow(*row));
    ++edits;
  }
  for (int32_t id = 101; id <= 110; ++id) {
    cache.InitializeRow(*row);
    row->Values.GetItem(1)->SetAsInteger(id);
    row->Values.GetItem(2)->SetAsInteger(id);
    ASSERT_TRUE(cache.InsertRow(*row));
    ++edits;
  }
  ASSERT_EQ(edits, 50);
  const std::string before = Summary();
  // 30 Qty up by 1000; 91..100 replaced by 101..110 (Id and Qty up by 100
  // in total).
  const std::string after = "100/5150/35150";
  ASSERT_EQ(before, "100/5050/5050");

  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t reader = Fork([&] {
    close(ready[0]);
    close(done[1]);
    ChildSession child(Env);
    std::set<std::string> seen;
    auto look = [&] {
      try {
        seen.insert(Summary(*child.Shop));
      } catch (const EBRNException&) {
        // A read the apply kept out (a lock that timed out): try again.
      }
    };
    look();
    if (!Signal(ready[1])) return 2;
    for (;;) {
      pollfd finished{done[0], POLLIN, 0};
      if (poll(&finished, 1, 0) != 0) break;
      look();
    }
    // The apply has returned: its rows must be there.
    const std::string last = Summary(*child.Shop);
    if (last != after) return 3;
    seen.erase(before);
    seen.erase(after);
    return seen.empty() ? 0 : 1;
  });
  close(ready[1]);
  close(done[0]);
  ASSERT_TRUE(Await(ready[0])) << "the reader started";
  close(ready[0]);
  cursor->ApplyCachedUpdates(false);
  Signal(done[1]);
  close(done[1]);
  EXPECT_EQ(Wait(reader), 0) << "1: a part of the edits was seen; 3: not all after the apply";
  EXPECT_EQ(Summary(), after);
  row.reset();
  opened.reset();
}

}  // namespace
}  // namespace brn::testing
