// A client process killed (SIGKILL) in the middle of a transaction with
// locked rows: the server never shows its uncommitted changes, and once its
// session is swept or removed another session locks those rows.
//
// The client is this test executable started again with BRN_KILLED_CLIENT
// set ("port fd"): it runs only RemoteKilledClientChild.HoldsLocksUntilKilled, which holds
// the locks, writes its session ID to descriptor fd and waits to be killed.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "clientserver/remote/remote_test_support.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "foundation/values/value.h"
#include "storage/cursors/cursor.h"

namespace brn {
namespace {

constexpr const char* kChildVariable = "BRN_KILLED_CLIENT";
constexpr int32_t kAccounts = 5;
constexpr int32_t kBalance = 100;

int32_t columnOf(TBRNCursor& cursor, const std::string& name) {
  TBRNColumns& columns = cursor.GetTableColumns();
  for (int32_t i = 0; i < columns.Count(); ++i)
    if (columns.GetItem(i)->Name == name) return i;
  throw std::invalid_argument("no column " + name);
}

void usePrimaryKey(TBRNCursor& cursor) {
  TBRNCursorIndexes& indexes = cursor.GetIndexes();
  for (int32_t i = 0; i < indexes.Count(); ++i)
    if (indexes.GetItem(i)->IndexType == kIndexPrimaryKey) cursor.SetActiveIndex(i);
}

void exec(TBRNDatabaseManager* database, const std::string& sql) {
  std::unique_ptr<TBRNStatementManager> statement(database->PrepareStatement(sql));
  statement->ExecuteStatement();
}

// The child side; skipped unless started by the parent below.
TEST(RemoteKilledClientChild, HoldsLocksUntilKilled) {
  const char* setting = std::getenv(kChildVariable);
  if (setting == nullptr) GTEST_SKIP() << "runs only in the killed client's process";
  int port = 0;
  int fd = -1;
  ASSERT_EQ(std::sscanf(setting, "%d %d", &port, &fd), 2);
  TBRNEngineManager engine;
  auto session = std::make_unique<TBRNRemoteSessionManager>(&engine);
  session->RemoteAddress = "127.0.0.1";
  session->RemotePort = uint16_t(port);
  session->SetRemotePing(false);
  session->OpenSession("killed:" + std::to_string(getpid()), "killed", "killed client");
  session->Login(test::kRemoteAdministrator, test::kRemoteAdministratorPassword);
  TBRNDatabaseManager* database = session->OpenDatabase("RemoteTest", kBRNLockShared);
  TBRNStringsList tables;
  tables.Add("Accounts");
  database->StartTransaction(tables, 5000);
  exec(database, "UPDATE Accounts SET Balance = 0 WHERE ID <= 2");
  exec(database, "INSERT INTO Accounts VALUES (100, 1)");
  // Row 3 locked through a cursor as well.
  TBRNCursor* cursor = database->OpenTable("", "Accounts", false, false);
  usePrimaryKey(*cursor);
  std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
  const int32_t id = columnOf(*cursor, "ID");
  bool locked = false;
  for (cursor->FirstRow(); !locked && !cursor->GetEof(); cursor->NextRow()) {
    cursor->GetCurrentRow(*row, false);
    if (row->Values.GetItem(id)->GetAsInteger() == 3) {
      cursor->GetCurrentRow(*row, true);
      locked = true;
    }
  }
  ASSERT_TRUE(locked);
  const std::string sessionId = std::to_string(session->GetSessionID()) + "\n";
  ASSERT_EQ(write(fd, sessionId.data(), sessionId.size()), ssize_t(sessionId.size()));
  // Killed long before; bounded all the same.
  std::this_thread::sleep_for(std::chrono::seconds(60));
  _exit(3);
}

class RemoteKilledClientTest : public test::RemoteTest {
 protected:
  void SetUp() override {
    RemoteTest::SetUp();
    Direct = OpenTestDatabase();
    Exec(Direct, "CREATE TABLE Accounts (ID INTEGER PRIMARY KEY, Balance INTEGER)");
    for (int32_t id = 1; id <= kAccounts; ++id)
      Exec(Direct, "INSERT INTO Accounts VALUES (" + std::to_string(id) + ", " +
                       std::to_string(kBalance) + ")");
  }

  void TearDown() override {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    RemoteTest::TearDown();
  }

  // Starts the client process and waits until it holds its locks; its
  // session ID.
  int32_t StartKilledClient() {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe");
    const std::string setting = std::to_string(Port) + " " + std::to_string(pipeEnds[1]);
    child_ = fork();
    if (child_ == 0) {
      close(pipeEnds[0]);
      setenv(kChildVariable, setting.c_str(), 1);
      const int quiet = open("/dev/null", O_WRONLY);
      if (quiet >= 0) dup2(quiet, STDOUT_FILENO);
      const char* arguments[] = {
          "killed-client", "--gtest_filter=RemoteKilledClientChild.HoldsLocksUntilKilled", nullptr};
      execv("/proc/self/exe", const_cast<char* const*>(arguments));
      _exit(127);
    }
    close(pipeEnds[1]);
    if (child_ < 0) throw std::runtime_error("fork");
    // The child writes its ID once it holds the locks; EOF means it failed.
    std::string text;
    char c = 0;
    while (read(pipeEnds[0], &c, 1) == 1 && c != '\n') text += c;
    close(pipeEnds[0]);
    if (text.empty()) throw std::runtime_error("the killed client failed before locking");
    return std::stoi(text);
  }

  void KillClient() {
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
    child_ = -1;
  }

  // The balances as this session reads them: their sum, and the rows.
  void ReadBalances(int64_t& sum, int32_t& rows) {
    std::unique_ptr<TBRNStatementManager> statement(
        Direct->PrepareStatement("SELECT SUM(Balance), COUNT(*) FROM Accounts"));
    TBRNCursor* cursor = statement->ExecuteStatement();
    std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
    cursor->FirstRow();
    cursor->GetCurrentRow(*row, false);
    const int32_t count = row->Values.GetCount();
    sum = row->Values.GetItem(count - 2)->GetAsBigInt();
    rows = row->Values.GetItem(count - 1)->GetAsInteger();
  }

  // Whether this session can lock every row of Accounts (each let go
  // again); stops at the first row locked elsewhere, since each such
  // attempt waits out the lock retries.
  bool AllRowsLockable() {
    TBRNCursor* cursor = Direct->OpenTable("", "Accounts", false, false);
    usePrimaryKey(*cursor);
    std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
    int32_t locked = 0;
    try {
      for (cursor->FirstRow(); !cursor->GetEof(); cursor->NextRow()) {
        cursor->GetCurrentRow(*row, false);
        cursor->GetCurrentRow(*row, true);
        cursor->CancelRow(*row);
        ++locked;
      }
    } catch (const EBRNException&) {
      // Locked by another session.
    }
    delete cursor;
    return locked == kAccounts;
  }

  TBRNDatabaseManager* Direct = nullptr;

 private:
  pid_t child_ = -1;
};

TEST_F(RemoteKilledClientTest, ItsChangesNeverShowAndItsLocksAreFreed) {
  enum class Release { Sweep, RemoveServerSession };
  for (Release release : {Release::Sweep, Release::RemoveServerSession}) {
    SCOPED_TRACE(release == Release::Sweep ? "sweep" : "REMOVE SERVER SESSION");
    const int32_t sessionId = StartKilledClient();
    EXPECT_FALSE(AllRowsLockable()) << "the client holds row locks";
    KillClient();

    // Before the session is freed: its uncommitted changes do not show (or
    // the table cannot be read at all while its transaction holds it).
    try {
      int64_t sum = 0;
      int32_t rows = 0;
      ReadBalances(sum, rows);
      EXPECT_EQ(sum, kAccounts * kBalance);
      EXPECT_EQ(rows, kAccounts);
    } catch (const EBRNException&) {
      // Still locked by the dead session's transaction.
    }

    if (release == Release::RemoveServerSession) {
      Exec(Direct, "REMOVE SERVER SESSION " + std::to_string(sessionId));
    } else {
      // Any dead session is one too many. The server notices the killed
      // process's connection on its own thread, so the sweep is repeated.
      Server->ServerMaxDeadSessions = 0;
      for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
           !AllRowsLockable() && std::chrono::steady_clock::now() < end;) {
        Server->SweepDeadSessions();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    EXPECT_TRUE(AllRowsLockable()) << "every row lockable again";
    int64_t sum = 0;
    int32_t rows = 0;
    ReadBalances(sum, rows);
    EXPECT_EQ(sum, kAccounts * kBalance) << "the updates were rolled back";
    EXPECT_EQ(rows, kAccounts) << "the insert was rolled back";
    // And the table can be taken into a transaction of this session.
    TBRNStringsList tables;
    tables.Add("Accounts");
    Direct->StartTransaction(tables, 1000);
    Exec(Direct, "UPDATE Accounts SET Balance = Balance + 1 WHERE ID = 1");
    Direct->Commit(false, false);
    Exec(Direct, "UPDATE Accounts SET Balance = Balance - 1 WHERE ID = 1");
  }
}

}  // namespace
}  // namespace brn
