// A read scope over a local cursor: one Read lock for a whole walk, which
// other processes' writers wait for and which a failed read inside the walk
// does not leave behind.

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "execution/cursors/cursor_read_scope.h"
#include "execution/cursors/cursor_test_support.h"
#include "foundation/files/fault_file_manager.h"
#include "foundation/text/exception.h"

namespace brn::testing {
namespace {

using Ids = std::vector<int32_t>;

struct CursorReadScopeTest : ::testing::Test {
  CursorFactoryScope Factory;
  TestDatabaseFiles Database;

  void CreateItems(int32_t count, TBRNFileManager* files = nullptr) {
    testing::CreateItems(Database, count, files);
  }
};

TEST_F(CursorReadScopeTest, AWalkInsideTheScopeTakesTheReadByteOnce) {
  constexpr int32_t kRows = 40;
  CreateItems(kRows);
  Ids all;
  for (int32_t id = 1; id <= kRows; ++id) all.push_back(id);
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "indexed" : "row order");
    CursorSession a(Database);
    a.Open();
    TBRNLocalCursor& cursor = a.MakeCursor(indexed);
    int32_t& taken = a.Session.Environment.ReadLocksTaken;

    // Without a scope every step takes and gives back the byte.
    taken = 0;
    ASSERT_EQ(a.WalkForward(), all);
    EXPECT_GE(taken, kRows);

    taken = 0;
    {
      TBRNCursorReadScope scope(cursor);
      EXPECT_EQ(a.WalkForward(), all);
      EXPECT_EQ(a.WalkBackward().size(), size_t(kRows));
      EXPECT_FALSE(a.ReadFree()) << "the operations leave the byte to the scope";
      {
        TBRNCursorReadScope inner(cursor);
        EXPECT_EQ(a.WalkForward(), all);
      }
      EXPECT_FALSE(a.ReadFree()) << "an inner scope leaves it to the outer one";
      EXPECT_THROW(cursor.CloseCursor(), std::logic_error);
      scope.End();
      EXPECT_TRUE(a.ReadFree());
      scope.End();
    }
    EXPECT_EQ(taken, 1);
    EXPECT_TRUE(a.ReadFree());

    // Operations after the scope release the byte again themselves.
    ASSERT_TRUE(cursor.FirstRow());
    EXPECT_TRUE(a.ReadFree());
  }
}

// The writer is forked before this process opens the lock file, so that it
// holds no copy of this process's locks; it starts on a byte from the pipe.
TEST_F(CursorReadScopeTest, AnotherProcessesWriterWaitsForTheScopeToEnd) {
  CreateItems(5);
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t writer = Fork([&] {
    close(go[1]);
    char byte = 0;
    if (read(go[0], &byte, 1) != 1) return 98;
    CursorSession b(Database);
    b.Session.Environment.LockTimeout = 20000;
    InsertItem(*b.Open(), 6);
    return 0;
  });
  close(go[0]);

  CursorSession a(Database);
  a.Open();
  TBRNLocalCursor& cursor = a.MakeCursor();
  TBRNCursorReadScope scope(cursor);
  ASSERT_TRUE(cursor.FirstRow());
  ASSERT_EQ(write(go[1], "x", 1), 1);
  close(go[1]);

  // Long enough for the writer to open the table and reach its flush.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  int status = 0;
  EXPECT_EQ(waitpid(writer, &status, WNOHANG), 0) << "the writer did not wait for the scope";
  EXPECT_EQ(a.WalkForward(), (Ids{1, 2, 3, 4, 5})) << "no flush lands inside the scope";
  scope.End();

  EXPECT_EQ(Wait(writer), 0);
  EXPECT_TRUE(cursor.RefreshCursor());
  EXPECT_EQ(a.WalkForward(), (Ids{1, 2, 3, 4, 5, 6}));
  EXPECT_TRUE(a.ReadFree());
}

// The table files are memory files of this process; the lock file is real.
TEST_F(CursorReadScopeTest, AFailedReadInsideTheScopeLeavesNoReadByteAfterIt) {
  TBRNFaultFileManager faults(&Database.Environment);
  CreateItems(20, &faults);
  CursorSession a(Database, &faults);
  a.Open();
  TBRNLocalCursor& cursor = a.MakeCursor();
  ASSERT_TRUE(cursor.FirstRow());
  // Another session's flush: once A notices it, its cached blocks are gone
  // and the walk reads the file.
  {
    CursorSession b(Database, &faults);
    InsertItem(*b.Open(), 21);
  }
  ASSERT_TRUE(a.Manager->HasChanged(false));

  bool failed = false;
  try {
    TBRNCursorReadScope scope(cursor);
    faults.FailRead(1);
    a.WalkForward();
  } catch (const EBRNException&) {
    failed = true;
  }
  faults.Disarm();
  ASSERT_TRUE(failed) << "the injected read failure must surface";
  EXPECT_TRUE(a.ReadFree());

  // The cursor goes on, inside a scope and out of it.
  cursor.RefreshCursor();
  Ids all;
  for (int32_t id = 1; id <= 21; ++id) all.push_back(id);
  {
    TBRNCursorReadScope scope(cursor);
    EXPECT_EQ(a.WalkForward(), all);
    scope.End();
  }
  EXPECT_EQ(a.WalkForward(), all);
  EXPECT_TRUE(a.ReadFree());
}

}  // namespace
}  // namespace brn::testing
