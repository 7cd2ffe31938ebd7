// Many remote clients at once against one server: transfers in
// transactions, cursor inserts and filtered SELECTs, with the invariants the
// load tool checks while they run and after they log out.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#include "clientserver/remote/remote_test_support.h"
#include "foundation/values/value.h"
#include "storage/cursors/cursor.h"
#include "tools/load_tool.h"

namespace brn {
namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif

class RemoteLoadTest : public test::RemoteTest {};

// Sessions share a database's folder: the working tables of their query
// results must not claim the same files.
TEST_F(RemoteLoadTest, SessionsHoldQueryResultsOfOneDatabaseAtOnce) {
  TBRNDatabaseManager* mine = OpenTestDatabase();
  Exec(mine, "CREATE TABLE T (K INTEGER PRIMARY KEY)");
  Exec(mine, "INSERT INTO T VALUES (1)");
  Exec(mine, "INSERT INTO T VALUES (2)");
  std::unique_ptr<TBRNRemoteSessionManager> other = NewSession();
  TBRNDatabaseManager* theirs = other->OpenDatabase("RemoteTest", kBRNLockShared);
  std::vector<std::unique_ptr<TBRNStatementManager>> statements;
  for (TBRNDatabaseManager* database : {mine, theirs, mine, theirs}) {
    statements.emplace_back(database->PrepareStatement("SELECT SUM(K) FROM T"));
    TBRNCursor* cursor = statements.back()->ExecuteStatement();
    ASSERT_NE(cursor, nullptr);
    std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
    ASSERT_TRUE(cursor->FirstRow());
    cursor->GetCurrentRow(*row, false);
    EXPECT_EQ(row->Values.GetItem(row->Values.GetCount() - 1)->GetAsInteger(), 3);
  }
  statements.clear();
  other->Logout();
}

TEST_F(RemoteLoadTest, ManyClientsKeepTheBalancesAndLeaveNothingBehind) {
  test::LoadOptions options;
  options.Port = Port;
  options.OtherSessions = 1;  // the fixture's
  // Under the thread sanitizer every access costs many times more; fewer
  // clients for a shorter time still interleave every kind of request.
  options.Threads = kThreadSanitizer ? 16 : 64;
  options.Duration = std::chrono::seconds(kThreadSanitizer ? 5 : 20);
  const test::LoadReport report = test::RunLoad(ClientEngine, options);
  std::cout << report.Text();
  RecordProperty("throughput", std::to_string(report.Throughput));
  RecordProperty("p99_ms", std::to_string(report.P99Ms));
  EXPECT_TRUE(report.Failures.empty()) << report.Text();
  EXPECT_GT(report.Transfers, 0);
  EXPECT_GT(report.Inserts, 0);
  EXPECT_GT(report.Selects, 0);
  EXPECT_GT(report.SumChecks, 0);
  EXPECT_GE(report.PeakProcessThreads, options.Threads);
  EXPECT_GT(report.PeakDescriptors, options.Threads) << "a connection per client";
  // Sessions end with their clients on the server too.
  int32_t connected = 0;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
       (connected = Server->GetConnectedSessionCount()) != 1 &&
       std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(connected, 1) << "only the fixture's session";
}

}  // namespace
}  // namespace brn
