// One database opened by sessions of several processes: the forked child is
// a session of its own engine on the same configuration folder, so the two
// meet only in the lock files.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "sessions/databases/database_test_support.h"

namespace brn::testing {
namespace {

// A child that opens the database D with lockType in its own engine and
// session, reports through the pipe (1: open, 0: failed) and then waits to
// be killed.
pid_t ForkHolder(const std::string& configPath, uint8_t lockType, int pipeOut) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  char answer = 0;
  try {
    TBRNEngineManager engine;
    engine.Settings->SetConfigPath(configPath);
    TBRNLocalSessionManager session(&engine, false, false);
    session.OpenSession("child", "Holder", "");
    TBRNLocalDatabaseManager* database =
        session.GetDatabaseManager(AddDatabase(session, "D", configPath + "D"));
    database->OpenDatabase(lockType);
    answer = 1;
    if (write(pipeOut, &answer, 1) != 1) _exit(2);
    for (;;) pause();
  } catch (...) {
  }
  if (write(pipeOut, &answer, 1) != 1) _exit(2);
  _exit(1);
}

// Starts a holder and waits until it has the database open.
pid_t StartHolder(const std::string& configPath, uint8_t lockType) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = ForkHolder(configPath, lockType, fds[1]);
  close(fds[1]);
  char answer = 0;
  bool open = read(fds[0], &answer, 1) == 1 && answer == 1;
  close(fds[0]);
  if (!open) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

void KillHolder(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

// The code and text of what call raised; code 0 when it passed.
std::pair<int32_t, std::string> Outcome(const std::function<void()>& call) {
  try {
    call();
  } catch (const EBRNException& e) {
    return {e.ErrorCode, e.ErrorMessage};
  }
  return {0, ""};
}

struct DatabaseProcessTest : ::testing::Test {
  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
  TBRNLocalDatabaseManager* Database =
      Session->GetDatabaseManager(AddDatabase(*Session, "D", Env.Folder.Path + "D"));
};

TEST_F(DatabaseProcessTest, AnExclusiveHolderKeepsOthersOutUntilItIsKilled) {
  pid_t holder = StartHolder(Env.Folder.Path, kBRNLockExclusive);
  ASSERT_GT(holder, 0);
  EXPECT_EQ(Outcome([&] { Database->OpenDatabase(kBRNLockShared); }),
            std::make_pair(300, std::string("Cannot lock the database D for shared access")));
  EXPECT_FALSE(Database->Opened);
  EXPECT_FALSE(Database->LockManager->Opened);

  KillHolder(holder);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Outcome([&] { Database->OpenDatabase(kBRNLockExclusive); }).first, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500))
      << "the killed holder's locks went with it";
  EXPECT_TRUE(Database->Opened);
  Database->CloseDatabase(false);
}

TEST_F(DatabaseProcessTest, RenameAndDropFailWhileAnotherProcessHasTheDatabaseOpen) {
  pid_t holder = StartHolder(Env.Folder.Path, kBRNLockShared);
  ASSERT_GT(holder, 0);
  const auto refused =
      std::make_pair(300, std::string("Cannot lock the database D for exclusive access"));
  EXPECT_EQ(Outcome([&] { Database->RenameDatabase("E"); }), refused);
  EXPECT_EQ(Database->Database->Name, "D");
  EXPECT_EQ(Outcome([&] { Database->DropDatabase(false); }), refused);
  EXPECT_TRUE(PathExists(Env.Folder.Path + "D/BRNDatabase.BRNCat"));
  // Sharing is allowed.
  EXPECT_EQ(Outcome([&] { Database->OpenDatabase(kBRNLockShared); }).first, 0);
  Database->CloseDatabase(false);

  KillHolder(holder);
  Database->RenameDatabase("E");
  EXPECT_EQ(Database->Database->Name, "E");
  EXPECT_TRUE(PathExists(Env.Folder.Path + "D/BRNDatabase.BRNCat"));
}

}  // namespace
}  // namespace brn::testing
