// Database transactions of several processes on one database: overlapping
// table sets named in opposite orders never deadlock and lose no committed
// row, and a process killed anywhere in its transaction loop leaves its
// locks free and every table with all or none of the killed transaction's
// rows (or asking for repair).
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "sessions/databases/database_test_support.h"
#include "storage/tables/child_process.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

std::pair<int32_t, std::string> ProcessOutcome(const std::function<void()>& call) {
  try {
    call();
  } catch (const EBRNException& e) {
    return {e.ErrorCode, e.ErrorMessage};
  }
  return {0, ""};
}

// One process's session of the database D in configPath, in its own engine.
struct Process {
  explicit Process(const std::string& configPath) {
    Engine.Settings->SetConfigPath(configPath);
    Session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    Session->OpenSession("host", "Tester", "");
    Database = Session->GetDatabaseManager(AddDatabase(*Session, "D", configPath + "D"));
    Database->OpenDatabase(kBRNLockShared);
  }
  TBRNTableManager* Open(const std::string& name) {
    auto* table = static_cast<TBRNBaseTable*>(
        Database->Catalog->DefaultSchema->BaseTables->FindByName(name, true));
    auto* manager = static_cast<TBRNTableManager*>(Database->TableManagers->GetManager(table));
    manager->SetCreatingFiles(true);
    Database->TableManagers->OpenManager(table, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    return manager;
  }
  // The rows of the table as they are on disk.
  int32_t Rows(const std::string& name) {
    TBRNTableManager* manager = Open(name);
    manager->HasChanged(true);
    int32_t count = manager->GetRowCount();
    manager->Close(false, true);
    return count;
  }

  TBRNEngineManager Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Database = nullptr;
};

TBRNStringsList Names(const std::string& first, const std::string& second) {
  TBRNStringsList list;
  list.Add(first);
  list.Add(second);
  return list;
}

// Makes the database with the empty tables T1 and T2.
void MakeDatabase(const std::string& configPath) {
  Process maker(configPath);
  maker.Database->CatalogManager->BeginUpdate();
  AddTable(*maker.Database->Catalog, "T1", false);
  AddTable(*maker.Database->Catalog, "T2", false);
  maker.Database->CatalogManager->CommitUpdate();
  for (const char* name : {"T1", "T2"}) maker.Open(name)->Close(false, true);
}

// count transactions over first and second (in this order of names), each
// inserting rowsPerTable rows into both tables; after each commit the
// number of commits so far goes to reportFd (when not -1).
int RunTransactions(const std::string& configPath, const std::string& first,
                    const std::string& second, int32_t count, int32_t rowsPerTable, int reportFd,
                    bool forceFlush) {
  Process process(configPath);
  process.Session->ForceBufferFlush = forceFlush;
  TBRNTableManager* managers[] = {process.Open(first), process.Open(second)};
  for (int32_t i = 1; i <= count; ++i) {
    process.Database->StartTransaction(Names(first, second), -1);
    for (TBRNTableManager* manager : managers)
      for (int32_t r = 0; r < rowsPerTable; ++r) InsertRawRow(*manager, i * 100 + r, false);
    process.Database->Commit(false, false);
    if (reportFd != -1 && write(reportFd, &i, sizeof(i)) != sizeof(i)) return 3;
  }
  return 0;
}

struct TransactionProcessTest : ::testing::Test {
  TempFolder Folder;
};

TEST_F(TransactionProcessTest, OppositeOrdersNeverDeadlockAndKeepEveryCommittedRow) {
  MakeDatabase(Folder.Path);
  const std::string path = Folder.Path;
  auto run = [path](const char* first, const char* second) {
    return Fork([=] {
      alarm(30);  // a deadlock ends the child and fails the test
      return RunTransactions(path, first, second, 100, 1, -1, false);
    });
  };
  pid_t a = run("T1", "T2");
  pid_t b = run("T2", "T1");
  EXPECT_EQ(Wait(a), 0);
  EXPECT_EQ(Wait(b), 0);

  Process reader(Folder.Path);
  EXPECT_EQ(reader.Rows("T1"), 200);
  EXPECT_EQ(reader.Rows("T2"), 200);
}

TEST_F(TransactionProcessTest, AKilledTransactionLeavesItsLocksFreeAndEachTableWhole) {
  constexpr int32_t kRows = 5;
  std::mt19937 random(20261211);
  int32_t repairs = 0;
  for (int32_t round = 0; round < 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TempFolder folder;
    MakeDatabase(folder.Path);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string path = folder.Path;
    bool forceFlush = round % 2 == 1;  // slower flushes: more kills inside them
    pid_t child = Fork([=] {
      close(fds[0]);
      return RunTransactions(path, "T1", "T2", 1000000, kRows, fds[1], forceFlush);
    });
    close(fds[1]);
    // Wait for the first commit, then let the loop run a random while.
    int32_t committed = 0;
    ASSERT_EQ(read(fds[0], &committed, sizeof(committed)), ssize_t(sizeof(committed)));
    timespec pause{0, long(std::uniform_int_distribution<int>(0, 20000)(random)) * 1000};
    nanosleep(&pause, nullptr);
    kill(child, SIGKILL);
    EXPECT_EQ(Wait(child), -1);
    for (int32_t report = 0; read(fds[0], &report, sizeof(report)) == ssize_t(sizeof(report));)
      committed = report;
    close(fds[0]);

    Process parent(folder.Path);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        ProcessOutcome([&] { parent.Database->StartTransaction(Names("T1", "T2"), 2000); }).first,
        0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    if (parent.Database->InTransaction()) parent.Database->Rollback();

    // The transaction being committed when the kill came may be in or out,
    // table by table; nothing uncommitted is ever there.
    for (const char* name : {"T1", "T2"}) {
      int32_t rows = -1;
      auto [code, text] = ProcessOutcome([&] { rows = parent.Rows(name); });
      if (code != 0) {
        EXPECT_EQ(code, 100) << name << ": " << text;
        ++repairs;
        continue;
      }
      EXPECT_EQ(rows % kRows, 0) << name << ": " << rows;
      EXPECT_TRUE(rows / kRows == committed || rows / kRows == committed + 1)
          << name << ": " << rows << " rows after " << committed << " commits";
    }
  }
  RecordProperty("TablesNeedingRepair", repairs);
}

}  // namespace
}  // namespace brn::testing
