#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/test_support.h"
#include "storage/files/table_file_test_support.h"

namespace brn::testing {
namespace {

constexpr const char* kWriteIncomplete =
    "A write operation did not complete and a repair is required";

// Runs body in a forked child and answers its wait status. The child never
// returns into the test framework.
pid_t StartChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    int rc = 90;
    try {
      rc = body();
    } catch (const EBRNException& e) {
      fprintf(stderr, "child: %s\n", e.what());
      rc = 91;
    } catch (...) {
      rc = 92;
    }
    _exit(rc);
  }
  return pid;
}

int WaitChild(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

int RunChild(const std::function<int()>& body) {
  return WaitChild(StartChild(body));
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A table file of n blocks, block i holding the value i.
void MakeFile(TBRNFileManager& files, FakeHost& host, int32_t blocks) {
  TestBlockFile file(&host, &files);
  file.OpenOrCreate();
  for (int32_t i = 1; i <= blocks; ++i) {
    TBRNTableFileBuffer* buffer = file.Allocate();
    FillBlock(buffer, uint8_t(i));
    file.ReleaseBuffer(buffer);
  }
  file.Flush(true);
}

class ProcessesSharingAFile : public ::testing::Test {
 protected:
  void SetUp() override {
    TBRNOSFileManager files(nullptr);
    FakeHost host(temp_.Path, "Shared");
    MakeFile(files, host, 4);
    lockName_ = temp_.Path + "Shared.lock";
  }
  // A host whose brackets lock a lock file shared by the processes; the
  // descriptor belongs to the calling process.
  std::unique_ptr<FakeHost> LockingHost() {
    auto host = std::make_unique<FakeHost>(temp_.Path, "Shared");
    host->LockFd = open(lockName_.c_str(), O_RDWR | O_CREAT, 0600);
    return host;
  }

  TempFolder temp_;
  std::string lockName_;
};

TEST_F(ProcessesSharingAFile, AFlushByOneMakesTheOthersNextMissRestartOnce) {
  TBRNOSFileManager files(nullptr);
  auto host = LockingHost();
  TestBlockFile b(host.get(), &files);
  b.Open();
  b.ReleaseBuffer(b.Get(1));
  b.ReleaseBuffer(b.Get(2));

  int status = RunChild([&] {
    TBRNOSFileManager childFiles(nullptr);
    auto childHost = LockingHost();
    TestBlockFile a(childHost.get(), &childFiles);
    a.Open();
    TBRNTableFileBuffer* buffer = a.Get(1);
    FillBlock(buffer, 77);
    a.ReleaseBuffer(buffer);
    a.Flush(true);
    return 0;
  });
  ASSERT_EQ(ExitCode(status), 0);

  bool restart = false;
  EXPECT_EQ(b.GetBuffer(3, false, 0, 0, restart), nullptr);
  EXPECT_TRUE(restart);
  EXPECT_EQ(b.GetBufferCount(), 0);
  TBRNTableFileBuffer* buffer = b.GetBuffer(1, false, 0, 0, restart);
  ASSERT_NE(buffer, nullptr);
  EXPECT_FALSE(restart);
  EXPECT_EQ(BlockValue(buffer), 77);
  b.ReleaseBuffer(buffer);
  close(host->LockFd);
}

// Disk files that linger after every header write, so that the window
// between the two header writes of a flush is wide.
class SlowHeaderFile : public TBRNOSFile {
 public:
  using TBRNOSFile::TBRNOSFile;
  int32_t Write(const void* buffer, int32_t count) override {
    bool header = Seek(1, 0) == 0;
    int32_t done = TBRNOSFile::Write(buffer, count);
    if (header) usleep(300);
    return done;
  }
};

class SlowHeaderFiles : public TBRNOSFileManager {
 public:
  using TBRNOSFileManager::TBRNOSFileManager;
  TBRNFile* CreateFileObject() override { return new SlowHeaderFile(this); }
};

// Each process rewrites its own block and reads the other's, many times; a
// header read between the other's two header writes would see the
// write-in-progress flag and fail.
TEST_F(ProcessesSharingAFile, NeitherReadsAHeaderBetweenTheOthersTwoHeaderWrites) {
  constexpr int32_t kRounds = 300;
  auto work = [&](int32_t own, int32_t other, int32_t& changes) {
    SlowHeaderFiles files(nullptr);
    auto host = LockingHost();
    TestBlockFile file(host.get(), &files);
    file.Open();
    int32_t failures = 0;
    for (int32_t round = 1; round <= kRounds; ++round) {
      try {
        host->BeginWrite();
        file.RefreshIfShared();
        TBRNTableFileBuffer* buffer = file.Get(own);
        FillBlock(buffer, uint8_t(round % 250 + 1));
        file.ReleaseBuffer(buffer);
        file.Flush(false);
        host->EndWrite();
        host->BeginRead();
        if (file.HasChanged()) ++changes;
        bool restart = false;
        buffer = file.GetBuffer(other, false, 0, 0, restart);
        if (buffer != nullptr && BlockValue(buffer) < 0) ++failures;
        file.ReleaseBuffer(buffer);
        host->EndRead();
      } catch (const EBRNException&) {
        ++failures;
        while (host->WriteDepth > 0) host->EndWrite();
        while (host->ReadDepth > 0) host->EndRead();
      }
    }
    close(host->LockFd);
    return failures;
  };
  pid_t child = StartChild([&] {
    int32_t changes = 0;
    return std::min(work(2, 1, changes), 50);
  });
  int32_t changes = 0;
  EXPECT_EQ(work(1, 2, changes), 0);
  EXPECT_EQ(ExitCode(WaitChild(child)), 0);

  TBRNOSFileManager files(nullptr);
  FakeHost host(temp_.Path, "Shared");
  TestBlockFile file(&host, &files);
  file.Open();
  EXPECT_EQ(file.ChangeCounter, 2 + 2 * kRounds) << "every flush counted once";
  for (int32_t n : {1, 2}) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    EXPECT_EQ(BlockValue(buffer), kRounds % 250 + 1);
    file.ReleaseBuffer(buffer);
  }
}

// Disk files that kill their process in the middle of the chosen write,
// after half of its bytes are stored.
class KillingFiles;

class KillingFile : public TBRNOSFile {
 public:
  KillingFile(TBRNFileManager* manager, KillingFiles* files) : TBRNOSFile(manager), files_(files) {}
  int32_t Write(const void* buffer, int32_t count) override;

 private:
  KillingFiles* files_;
};

class KillingFiles : public TBRNOSFileManager {
 public:
  using TBRNOSFileManager::TBRNOSFileManager;
  int32_t Writes = 0;
  int32_t KillAt = -1;
  TBRNFile* CreateFileObject() override { return new KillingFile(this, this); }
};

int32_t KillingFile::Write(const void* buffer, int32_t count) {
  if (++files_->Writes == files_->KillAt) {
    TBRNOSFile::Write(buffer, count / 2);
    kill(getpid(), SIGKILL);
  }
  return TBRNOSFile::Write(buffer, count);
}

TEST(TableFileCrash, AProcessKilledInsideAFlushLeavesAFileThatOnlyRepairOpens) {
  TempFolder temp;
  {
    TBRNOSFileManager files(nullptr);
    FakeHost host(temp.Path, "Crash");
    MakeFile(files, host, 4);
  }
  int status = RunChild([&] {
    KillingFiles files(nullptr);
    FakeHost host(temp.Path, "Crash");
    TestBlockFile file(&host, &files);
    file.Open();
    TBRNTableFileBuffer* buffer = file.Get(1);
    FillBlock(buffer, 77);
    file.ReleaseBuffer(buffer);
    buffer = file.Allocate();
    FillBlock(buffer, 55);
    file.ReleaseBuffer(buffer);
    // The flag header, block 1, then block 5 dies half written.
    files.KillAt = files.Writes + 3;
    file.Flush(false);
    return 0;
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  TBRNOSFileManager files(nullptr);
  std::string name = temp.Path + "Crash.BRNTst";
  EXPECT_EQ(files.GetFileSize(name), 1024 + 4 * 256 + 128);
  FakeHost host(temp.Path, "Crash");
  {
    TestBlockFile file(&host, &files);
    EBRNException error = CaughtError([&] { file.Open(); });
    EXPECT_EQ(error.ErrorCode, 100);
    EXPECT_EQ(error.ErrorMessage, kWriteIncomplete);
  }
  host.SkipWrite = true;
  {
    TestBlockFile file(&host, &files);
    file.Open();
    bool errors = false;
    EXPECT_TRUE(file.Verify(errors, true));
    EXPECT_TRUE(errors);
    const std::string prefix = "Verification error for the Crash table file " + name + " (";
    EXPECT_EQ(host.Log,
              (std::vector<std::string>{prefix + "Write interrupted) - Fixed",
                                        prefix + "Invalid test block boundary detected) - Fixed",
                                        prefix + "Invalid total test block count (5)) - Fixed"}));
    file.Flush(true);
  }
  host.SkipWrite = false;
  TestBlockFile file(&host, &files);
  file.Open();
  EXPECT_EQ(file.NextBlock, 5);
  EXPECT_EQ(files.GetFileSize(name), 1024 + 4 * 256);
  for (int32_t n = 2; n <= 4; ++n) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    EXPECT_EQ(BlockValue(buffer), n);
    file.ReleaseBuffer(buffer);
  }
}

// Disk files that kill their process at the chosen step of a file's
// creation: after the file is made, half-way through a write, before a flush
// to disk or before a rename.
class CreationKillingFiles : public TBRNOSFileManager {
 public:
  using TBRNOSFileManager::TBRNOSFileManager;
  int32_t Steps = 0;
  int32_t KillAt = -1;
  TBRNFile* CreateFileObject() override;
  bool Reached() { return ++Steps == KillAt; }
};

class CreationKillingFile : public TBRNOSFile {
 public:
  CreationKillingFile(CreationKillingFiles* files) : TBRNOSFile(files), files_(files) {}
  std::unique_ptr<TBRNFileStream> CreateNew() override {
    std::unique_ptr<TBRNFileStream> stream = TBRNOSFile::CreateNew();
    if (files_->Reached()) kill(getpid(), SIGKILL);
    return stream;
  }
  int32_t Write(const void* buffer, int32_t count) override {
    if (files_->Reached()) {
      TBRNOSFile::Write(buffer, count / 2);
      kill(getpid(), SIGKILL);
    }
    return TBRNOSFile::Write(buffer, count);
  }
  void Flush() override {
    if (files_->Reached()) kill(getpid(), SIGKILL);
    TBRNOSFile::Flush();
  }
  void Rename(const std::string& newName) override {
    if (files_->Reached()) kill(getpid(), SIGKILL);
    TBRNOSFile::Rename(newName);
  }

 private:
  CreationKillingFiles* files_;
};

TBRNFile* CreationKillingFiles::CreateFileObject() {
  return new CreationKillingFile(this);
}

// Whatever step of the creation a kill interrupts, the next opening finds
// either no file, and creates it, or a complete one; never a file that only
// repair could open, or one that not even repair can read.
TEST(TableFileCrash, AProcessKilledWhileCreatingAFileLeavesNoneOrAWholeOne) {
  constexpr int32_t kMaxSteps = 30;
  int32_t step = 1;
  for (; step <= kMaxSteps; ++step) {
    SCOPED_TRACE("killed at step " + std::to_string(step));
    TempFolder temp;
    int status = RunChild([&] {
      CreationKillingFiles files(nullptr);
      files.KillAt = step;
      FakeHost host(temp.Path, "Born");
      TestBlockFile file(&host, &files);
      file.OpenOrCreate();
      return files.Steps < step ? 0 : 93;
    });
    bool finished = WIFEXITED(status);
    if (finished) {
      ASSERT_EQ(ExitCode(status), 0);
    } else {
      ASSERT_TRUE(WIFSIGNALED(status));
      EXPECT_EQ(WTERMSIG(status), SIGKILL);
    }

    TBRNOSFileManager files(nullptr);
    FakeHost host(temp.Path, "Born");
    std::string name = temp.Path + "Born.BRNTst";
    bool existed = files.FileExists(name);
    {
      TestBlockFile file(&host, &files);
      ASSERT_NO_THROW(file.OpenOrCreate());
      EXPECT_EQ(host.Warnings.size(), existed ? 0u : 1u);
      EXPECT_EQ(file.NextBlock, 1);
      EXPECT_EQ(file.FreeListHead, 0);
      EXPECT_FALSE(file.WriteInProgress);
      bool errors = false;
      EXPECT_TRUE(file.Verify(errors, false));
      EXPECT_FALSE(errors) << ::testing::PrintToString(host.Log);
    }
    EXPECT_EQ(files.GetFileSize(name), 56);
    if (finished) break;
  }
  EXPECT_GT(step, 3) << "the creation was interrupted at more than one step";
  EXPECT_LE(step, kMaxSteps) << "the creation completed";
}

// ---- Faults at every position of a flush ----

struct FaultCase {
  TBRNFaultAction Action;
  int32_t Nth;
};

// Opens the file after a failed flush: it must be refused as needing repair
// or hold exactly its previous contents (or, when only a flush to disk
// failed, exactly its new ones).
void ExpectPreviousOrRefused(TBRNFileManager& files, FakeHost& host, bool newAllowed,
                             const std::string& what) {
  TestBlockFile file(&host, &files);
  try {
    file.Open();
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 100) << what;
    EXPECT_EQ(e.ErrorMessage, kWriteIncomplete) << what;
    return;
  }
  bool previous = file.NextBlock == 8;
  bool next = newAllowed && file.NextBlock == 9;
  ASSERT_TRUE(previous || next) << what << " NextBlock " << file.NextBlock;
  for (int32_t n = 1; n < file.NextBlock; ++n) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    int32_t expected = n;
    if (next && (n == 2 || n == 3 || n == 5)) expected = 200 + n;
    if (n == 8) expected = 208;
    EXPECT_EQ(BlockValue(buffer), expected) << what << " block " << n;
    file.ReleaseBuffer(buffer);
  }
}

TEST(TableFileFaults, AFailedOrShortWriteAnywhereInAFlushNeverOpensWithWrongContents) {
  auto attempt = [](TBRNFaultAction action, int32_t nth, int32_t& writes, int32_t& flushes) {
    TBRNFaultFileManager files(nullptr);
    FakeHost host("/mem/", "Faulty");
    MakeFile(files, host, 7);
    std::string what = "action " + std::to_string(int(action)) + " at " + std::to_string(nth);
    {
      TestBlockFile file(&host, &files);
      file.Open();
      for (int32_t n : {2, 3, 5}) {
        TBRNTableFileBuffer* buffer = file.Get(n);
        FillBlock(buffer, uint8_t(200 + n));
        file.ReleaseBuffer(buffer);
      }
      TBRNTableFileBuffer* appended = file.Allocate();
      FillBlock(appended, 208);
      file.ReleaseBuffer(appended);
      int32_t writesBefore = files.WriteCount();
      int32_t flushesBefore = files.FlushCount();
      if (nth > 0) {
        TBRNFileFault fault;
        fault.Action = action;
        fault.Nth = nth;
        fault.KeptBytes = 20;
        files.Arm(fault);
        EBRNException error = CaughtError([&] { file.Flush(true); });
        EXPECT_EQ(error.ErrorCode, 600) << what;
        EXPECT_EQ(files.InjectedCount(), 1) << what;
        files.Disarm();
      } else {
        file.Flush(true);
        writes = files.WriteCount() - writesBefore;
        flushes = files.FlushCount() - flushesBefore;
      }
    }
    if (nth > 0) {
      ExpectPreviousOrRefused(files, host, action == TBRNFaultAction::FailFlush, what);
    }
  };
  int32_t writes = 0, flushes = 0;
  attempt(TBRNFaultAction::FailWrite, 0, writes, flushes);
  ASSERT_EQ(writes, 5) << "header, runs 2-3, 5 and 8, header";
  ASSERT_EQ(flushes, 3);
  for (int32_t nth = 1; nth <= writes; ++nth) {
    attempt(TBRNFaultAction::FailWrite, nth, writes, flushes);
    attempt(TBRNFaultAction::ShortWrite, nth, writes, flushes);
  }
  for (int32_t nth = 1; nth <= flushes; ++nth) {
    attempt(TBRNFaultAction::FailFlush, nth, writes, flushes);
  }
}

// A creation that fails at any write or flush reports the file error and
// leaves nothing under the file's name or its building name; the next
// opening creates the file whole.
TEST(TableFileFaults, AFailedCreationLeavesNoFileAndTheNextOneCreatesIt) {
  const std::string name = "/mem/Born.BRNTst";
  for (TBRNFaultAction action :
       {TBRNFaultAction::FailWrite, TBRNFaultAction::ShortWrite, TBRNFaultAction::FailFlush}) {
    for (int32_t nth = 1; nth <= 3; ++nth) {
      std::string what = "action " + std::to_string(int(action)) + " at " + std::to_string(nth);
      TBRNFaultFileManager files(nullptr);
      FakeHost host("/mem/", "Born");
      TBRNFileFault fault;
      fault.Action = action;
      fault.Nth = nth;
      fault.KeptBytes = 20;
      files.Arm(fault);
      {
        TestBlockFile file(&host, &files);
        try {
          file.OpenOrCreate();
          EXPECT_EQ(files.InjectedCount(), 0) << what;
          continue;
        } catch (const EBRNException& e) {
          EXPECT_EQ(e.ErrorCode, 600) << what;
        }
        EXPECT_FALSE(file.IsOpen()) << what;
      }
      files.Disarm();
      EXPECT_FALSE(files.FileExists(name)) << what;
      EXPECT_FALSE(files.FileExists(name + ".New")) << what;
      TestBlockFile file(&host, &files);
      file.OpenOrCreate();
      EXPECT_EQ(file.NextBlock, 1) << what;
      EXPECT_EQ(RawFile(files, name).size(), 56u) << what;
    }
  }
}

// After a failed write the blocks stay dirty, so a retried flush completes
// the file.
TEST(TableFileFaults, ARetriedFlushWritesWhatTheFailedOneLeftOut) {
  TBRNFaultFileManager files(nullptr);
  FakeHost host("/mem/", "Retry");
  MakeFile(files, host, 7);
  {
    TestBlockFile file(&host, &files);
    file.Open();
    for (int32_t n : {2, 5}) {
      TBRNTableFileBuffer* buffer = file.Get(n);
      FillBlock(buffer, uint8_t(200 + n));
      file.ReleaseBuffer(buffer);
    }
    files.FailWrite(2);
    CaughtError([&] { file.Flush(false); });
    files.Disarm();
    EXPECT_EQ(file.GetDirtyCount(), 2);
    file.Flush(false);
  }
  TestBlockFile file(&host, &files);
  file.Open();
  for (int32_t n : {2, 5}) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    EXPECT_EQ(BlockValue(buffer), 200 + n);
    file.ReleaseBuffer(buffer);
  }
}

}  // namespace
}  // namespace brn::testing
