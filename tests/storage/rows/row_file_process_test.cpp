#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "foundation/files/os_file_manager.h"
#include "storage/rows/row_file_test_support.h"

namespace brn::testing {
namespace {

// Row locks between real processes. Each process opens the row file itself,
// so each holds its own open file description (the owner of its locks).
class RowLocksBetweenProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    columns_ = MakeColumns({});
    TBRNOSFileManager files(nullptr);
    RowTable table(&files, temp_.Path, columns_.get());
    table.Open();
  }

  TempFolder temp_;
  std::unique_ptr<TBRNColumns> columns_;
};

// One byte through a pipe, or 0 when the other end has gone.
char ReadByte(int fd) {
  char byte = 0;
  return read(fd, &byte, 1) == 1 ? byte : 0;
}

TEST_F(RowLocksBetweenProcesses, ALockedRowIsFreedWhenItsProcessEndsHoweverItEnds) {
  struct Case {
    const char* name;
    bool killed;          // SIGKILL instead of a normal exit
    int64_t holderLimit;  // row file limits of the two processes' file
    int64_t waiterLimit;  // managers: the lock offset must not depend on them
  };
  for (Case c :
       {Case{"exit", false, 2000000000, 2000000000}, Case{"SIGKILL", true, 2000000000, 2000000000},
        Case{"exit, different size settings", false, 128000000000, 2000000000},
        Case{"SIGKILL, different size settings", true, 4000000000, 128000000000}}) {
    SCOPED_TRACE(c.name);
    int toParent[2];
    int toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(toParent[0]);
      close(toChild[1]);
      int rc = 90;
      try {
        LimitedFiles<TBRNOSFileManager> files(nullptr);
        files.Limit = c.holderLimit;
        RowTable a(&files, temp_.Path, columns_.get());
        a.Open();
        char answer = a.Rows->LockRow(7) ? 'L' : 'F';
        if (write(toParent[1], &answer, 1) != 1) _exit(93);
        // Hold the lock until told to end (or killed).
        ReadByte(toChild[0]);
        rc = 0;
      } catch (...) {
        rc = 91;
      }
      _exit(rc);
    }
    close(toParent[1]);
    close(toChild[0]);
    ASSERT_EQ(ReadByte(toParent[0]), 'L');

    LimitedFiles<TBRNOSFileManager> files(nullptr);
    files.Limit = c.waiterLimit;
    RowTable b(&files, temp_.Path, columns_.get());
    b.Open();
    EXPECT_FALSE(b.Rows->LockRow(7));
    EXPECT_TRUE(b.Rows->LockRow(8));

    if (c.killed) {
      kill(pid, SIGKILL);
    } else {
      char end = 'E';
      EXPECT_EQ(write(toChild[1], &end, 1), 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (c.killed) {
      EXPECT_TRUE(WIFSIGNALED(status));
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    close(toParent[0]);
    close(toChild[1]);

    EXPECT_TRUE(b.Rows->LockRow(7));
    EXPECT_TRUE(b.Rows->UnlockRow(7));
    EXPECT_TRUE(b.Rows->UnlockRow(8));
  }
}

}  // namespace
}  // namespace brn::testing
