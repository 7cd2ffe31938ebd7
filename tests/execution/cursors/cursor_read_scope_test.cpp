// A read scope over a local cursor: one Read lock for a whole walk, which
// other processes' writers wait for and which a failed read inside the walk
// does not leave behind; and a batch of them, which lets writers in between
// batches.

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

  // Forks a process that, once a byte arrives on go, inserts row 6 through
  // a session of its own (waiting up to 20 s for the lock). The child is
  // forked before this process opens the lock file, so that it holds no copy
  // of this process's locks. go is left -1 when the pipe cannot be made.
  pid_t ForkWriterOfRow6(int& go) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    const pid_t writer = Fork([&] {
      close(pipeEnds[1]);
      char byte = 0;
      if (read(pipeEnds[0], &byte, 1) != 1) return 98;
      CursorSession b(Database);
      b.Session.Environment.LockTimeout = 20000;
      InsertItem(*b.Open(), 6);
      return 0;
    });
    close(pipeEnds[0]);
    go = pipeEnds[1];
    return writer;
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

    // Without a scope a step takes the byte only to read the files, and
    // gives it back before it returns: a walk over cached rows takes none.
    taken = 0;
    ASSERT_EQ(a.WalkForward(), all);
    EXPECT_TRUE(a.ReadFree());
    taken = 0;
    ASSERT_EQ(a.WalkForward(), all);
    EXPECT_EQ(taken, 0);

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

    // A bracket of the table itself, taken outside any cursor (an export
    // holds one): the cursor's operations nest in it and never give the
    // byte back before it ends.
    taken = 0;
    a.Manager->BeginRead();
    EXPECT_EQ(a.WalkForward(), all);
    EXPECT_FALSE(a.ReadFree()) << "a cursor operation dropped another holder's byte";
    a.Manager->EndRead();
    EXPECT_EQ(taken, 1);
    EXPECT_TRUE(a.ReadFree());
  }
}

// A walk ticking a batch per row: a few lock calls for many rows, the byte
// held between ticks and given back by Pause and End.
TEST_F(CursorReadScopeTest, ABatchTakesTheReadByteOncePerBatch) {
  constexpr int32_t kRows = 600;
  CreateItems(kRows);
  CursorSession a(Database);
  a.Open();
  TBRNLocalCursor& cursor = a.MakeCursor();
  int32_t& taken = a.Session.Environment.ReadLocksTaken;
  taken = 0;
  TBRNCursorReadBatch batch;
  batch.Add(cursor);
  batch.Add(cursor);
  int32_t rows = 0;
  for (bool on = cursor.FirstRow(); on && !cursor.GetEof(); on = cursor.NextRow()) {
    batch.Tick();
    ++rows;
    if (rows == 300) {
      EXPECT_FALSE(a.ReadFree());
      batch.Pause();
      EXPECT_TRUE(a.ReadFree()) << "Pause gives the byte back";
    }
  }
  EXPECT_EQ(rows, kRows);
  // One lock call per batch, and at most one of its own for the move right
  // after the pause, before the next tick took the batch up again (none when
  // that move found its row in the cache).
  EXPECT_GE(batch.GetBatchCount(), 2);
  EXPECT_GE(taken, batch.GetBatchCount());
  EXPECT_LE(taken, batch.GetBatchCount() + 1);
  EXPECT_LT(taken, kRows / 16);
  batch.End();
  EXPECT_TRUE(a.ReadFree());
  batch.End();
  EXPECT_NO_THROW(cursor.CloseCursor());
}

// A writer in another process waits while a batch holds the byte, gets in
// between two batches of a long walk, and the walk's cursor sees its row
// after the next batch begins.
TEST_F(CursorReadScopeTest, AnotherProcessesWriterGetsInBetweenBatches) {
  CreateItems(5);
  int go = -1;
  const pid_t writer = ForkWriterOfRow6(go);
  ASSERT_GE(go, 0);

  CursorSession a(Database);
  a.Open();
  TBRNLocalCursor& cursor = a.MakeCursor();
  TBRNCursorReadBatch batch;
  batch.Add(cursor);
  ASSERT_EQ(a.WalkForward(), (Ids{1, 2, 3, 4, 5}));
  ASSERT_EQ(write(go, "x", 1), 1);
  close(go);

  // The walk goes on, a tick now and then, until the writer is through.
  int status = 0;
  bool done = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done && std::chrono::steady_clock::now() < deadline) {
    for (int32_t row = 0; row < 64; ++row) {
      batch.Tick();
      cursor.FirstRow();
    }
    done = waitpid(writer, &status, WNOHANG) == writer;
  }
  ASSERT_TRUE(done) << "the writer never got in between two batches";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  // The next batch reads the change counters again: the walk sees the row
  // without a refresh of its own.
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  for (int32_t i = 0; i < TBRNCursorReadBatch::kClockRows; ++i) batch.Tick();
  EXPECT_FALSE(a.ReadFree());
  EXPECT_EQ(a.WalkForward(), (Ids{1, 2, 3, 4, 5, 6}));
  batch.End();
  EXPECT_TRUE(a.ReadFree());
}

// A writer in another process waits while a scope holds the byte and gets
// in once the scope ends.
TEST_F(CursorReadScopeTest, AnotherProcessesWriterWaitsForTheScopeToEnd) {
  CreateItems(5);
  int go = -1;
  const pid_t writer = ForkWriterOfRow6(go);
  ASSERT_GE(go, 0);

  CursorSession a(Database);
  a.Open();
  TBRNLocalCursor& cursor = a.MakeCursor();
  TBRNCursorReadScope scope(cursor);
  ASSERT_TRUE(cursor.FirstRow());
  ASSERT_EQ(write(go, "x", 1), 1);
  close(go);

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

// Without a scope a cursor holds the byte only while a move reads the
// files: another process's writer gets in while this process walks the
// cursor without pause, and a refresh shows its row.
TEST_F(CursorReadScopeTest, AnotherProcessesWriterGetsInWhileACursorIsWalkedWithoutAScope) {
  CreateItems(5);
  int go = -1;
  const pid_t writer = ForkWriterOfRow6(go);
  ASSERT_GE(go, 0);

  CursorSession a(Database);
  a.Open();
  a.MakeCursor(true);
  ASSERT_EQ(a.WalkForward(), (Ids{1, 2, 3, 4, 5}));
  ASSERT_EQ(write(go, "x", 1), 1);
  close(go);

  int status = 0;
  bool done = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done && std::chrono::steady_clock::now() < deadline) {
    for (int32_t walk = 0; walk < 16; ++walk) a.WalkBackward();
    done = waitpid(writer, &status, WNOHANG) == writer;
  }
  ASSERT_TRUE(done) << "the writer never got in while the cursor was walked";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  a.Cursor->RefreshCursor();
  EXPECT_EQ(a.WalkForward(), (Ids{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(a.WalkBackward(), (Ids{6, 5, 4, 3, 2, 1}));
  EXPECT_TRUE(a.ReadFree());
}

// A move that took the byte to read the files gives it back when the read
// fails, with or without an index.
TEST_F(CursorReadScopeTest, AFailedReadInAMoveLeavesNoReadByteAfterIt) {
  TBRNFaultFileManager faults(&Database.Environment);
  CreateItems(20, &faults);
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "indexed" : "row order");
    CursorSession a(Database, &faults);
    a.Open();
    TBRNLocalCursor& cursor = a.MakeCursor(indexed);
    ASSERT_TRUE(cursor.FirstRow());
    a.Manager->GetRowsetManager()->DropCache(false);
    a.Manager->GetIndexManager()->DropCache(false);
    faults.FailRead(1);
    EXPECT_THROW(a.WalkForward(), EBRNException);
    faults.Disarm();
    EXPECT_TRUE(a.ReadFree());
    EXPECT_EQ(a.WalkForward().size(), 20u);
    EXPECT_TRUE(a.ReadFree());
  }
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
