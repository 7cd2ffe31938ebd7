// BACKUP DATABASE and RESTORE DATABASE with other processes on the same
// database: a writer waits for the backup's Transaction locks, so its rows
// are wholly out of the backup; a restore is refused while another process
// has the database open.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "metadata/config/stores.h"
#include "sessions/databases/database_test_support.h"
#include "storage/tables/child_process.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

std::pair<int32_t, std::string> Outcome(const std::function<void()>& call) {
  try {
    call();
  } catch (const EBRNException& e) {
    return {e.ErrorCode, e.ErrorMessage};
  }
  return {0, ""};
}

// The entry D: the configuration file holds it once a configuration
// command of the first session committed.
TBRNDatabaseContainer* EntryD(TBRNLocalSessionManager& session, const std::string& path) {
  if (auto* found = session.Config->Databases->FindByName("D", false))
    return static_cast<TBRNDatabaseContainer*>(found);
  TBRNDatabaseContainer* entry = AddDatabase(session, "D", path + "D");
  entry->ApplyDefaultGrants();
  return entry;
}

// One process's session of the database D in configPath, logged in as the
// Administrator, in its own engine.
struct Process {
  explicit Process(const std::string& configPath) {
    Engine.Settings->SetConfigPath(configPath);
    Session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    Session->OpenSession("host", "Tester", "");
    Session->Login("Administrator", "GlenHarbor");
    Session->SetProgressTimeInterval(0);
    Database = Session->GetDatabaseManager(EntryD(*Session, configPath));
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
  // Appends rows first to first + count - 1 to the table in one commit of a
  // database transaction on it.
  void Append(const std::string& name, int32_t first, int32_t count) {
    TBRNStringsList names;
    names.Add(name);
    Database->StartTransaction(names, -1);
    TBRNTableManager* manager = Open(name);
    for (int32_t id = first; id < first + count; ++id) InsertRawRow(*manager, id, false);
    Database->Commit(false, false);
    manager->Close(false, true);
  }
  int32_t Rows(const std::string& name) {
    Database->OpenDatabase(kBRNLockShared);
    TBRNTableManager* manager = Open(name);
    manager->HasChanged(true);
    int32_t count = manager->GetRowCount();
    manager->Close(false, true);
    Database->CloseDatabase(false);
    return count;
  }

  TBRNEngineManager Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Database = nullptr;
};

struct BackupProcessTest : ::testing::Test {
  // D with T1 (2000 rows) and T2 (10 rows), and the store "Backups".
  void SetUp() override {
    TBRNStore* store = Main.Session->BeginCreateStore("Backups");
    store->SetStoreType(kLocalStore);
    store->SetPath(Folder.Path + "Backups");
    Main.Session->EndCreateStore(store);
    Main.Database->OpenDatabase(kBRNLockShared);
    Main.Database->CatalogManager->BeginUpdate();
    for (const char* name : {"T1", "T2"})
      AddTable(*Main.Database->Catalog, name, false)->ApplyDefaultGrants();
    Main.Database->CatalogManager->CommitUpdate();
    Main.Append("T1", 1, 2000);
    Main.Append("T2", 1, 10);
    Main.Database->CloseDatabase(false);
  }

  TempFolder Folder;
  Process Main{Folder.Path};
};

// The writer starts its commit while the backup copies: it waits for the
// backup's locks, and its rows are not in the backup.
TEST_F(BackupProcessTest, AWriterWaitsForTheBackupAndItsRowsStayOut) {
  int go[2], done[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(done), 0);
  const std::string path = Folder.Path;
  pid_t writer = Fork([&] {
    alarm(60);
    char byte = 0;
    if (read(go[0], &byte, 1) != 1) return 2;
    Process process(path);
    process.Database->OpenDatabase(kBRNLockShared);
    process.Append("T1", 5001, 100);
    process.Database->CloseDatabase(false);
    return write(done[1], &byte, 1) == 1 ? 0 : 3;
  });
  close(go[0]);
  close(done[1]);

  bool started = false;
  bool waited = true;
  Main.Session->Events.OnProgress = [&](int32_t, bool& proceed) {
    proceed = true;
    if (started) return;
    started = true;
    char byte = 1;
    ASSERT_EQ(write(go[1], &byte, 1), 1);
    // Long enough for the writer to open the database and reach its commit.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    pollfd check{done[0], POLLIN, 0};
    waited = poll(&check, 1, 0) == 0;
  };
  const bool completed = Main.Database->BackupDatabase("Locked", "Backups", {}, "", 9, false,
                                                       false, true);
  Main.Session->Events.OnProgress = nullptr;
  EXPECT_TRUE(completed);
  EXPECT_TRUE(started);
  EXPECT_TRUE(waited) << "the writer committed while the backup copied";
  char byte = 0;
  EXPECT_EQ(read(done[0], &byte, 1), 1);
  EXPECT_EQ(Wait(writer), 0);
  close(go[1]);
  close(done[0]);
  EXPECT_EQ(Main.Rows("T1"), 2100);

  ASSERT_TRUE(Main.Database->RestoreDatabase("Locked", "Backups", {}, false, false, false));
  EXPECT_EQ(Main.Rows("T1"), 2000);
  EXPECT_EQ(Main.Rows("T2"), 10);
}

// A child that opens D Shared, reports through the pipe and waits to be
// killed.
pid_t StartHolder(const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    char answer = 0;
    try {
      TBRNEngineManager engine;
      engine.Settings->SetConfigPath(path);
      TBRNLocalSessionManager session(&engine, false, false);
      session.OpenSession("child", "Holder", "");
      session.GetDatabaseManager(EntryD(session, path))->OpenDatabase(kBRNLockShared);
      answer = 1;
      if (write(fds[1], &answer, 1) != 1) _exit(2);
      for (;;) pause();
    } catch (...) {
    }
    if (write(fds[1], &answer, 1) != 1) _exit(2);
    _exit(1);
  }
  close(fds[1]);
  char answer = 0;
  const bool open = read(fds[0], &answer, 1) == 1 && answer == 1;
  close(fds[0]);
  if (!open) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

TEST_F(BackupProcessTest, ARestoreNeedsTheDatabaseExclusively) {
  ASSERT_TRUE(Main.Database->BackupDatabase("Full", "Backups", {}, "", 6, false, false, true));
  Main.Database->OpenDatabase(kBRNLockShared);
  Main.Append("T2", 100, 5);
  Main.Database->CloseDatabase(false);

  pid_t holder = StartHolder(Folder.Path);
  ASSERT_GT(holder, 0);
  EXPECT_EQ(Outcome([&] {
              Main.Database->RestoreDatabase("Full", "Backups", {}, false, false, false);
            }),
            std::make_pair(300, std::string("Cannot lock the database D for exclusive access")));
  EXPECT_EQ(Main.Rows("T2"), 15);

  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  ASSERT_TRUE(Main.Database->RestoreDatabase("Full", "Backups", {}, false, false, false));
  EXPECT_EQ(Main.Rows("T2"), 10);
}

}  // namespace
}  // namespace brn::testing
