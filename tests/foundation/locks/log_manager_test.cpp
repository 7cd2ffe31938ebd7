#include "foundation/locks/log_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/file_test_support.h"
#include "foundation/files/fault_file_manager.h"
#include "foundation/files/file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/test_lockable.h"
#include "foundation/test_support.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::ConfigurationObject;
using testing::TestLockable;
using testing::TestLockManager;

TestLockable logObject() {
  TestLockable log("log", "Log", 8194, 4096, 8193, 1);
  log.RetryCount = 32768;
  log.RetryDelay = 1;
  return log;
}

// One session's view of the log: its lock manager, log object and manager.
struct LogSession {
  LogSession(TBRNFileManager& files, const std::string& dir, int32_t maxSize = 1048576)
      : config(ConfigurationObject()),
        log(logObject()),
        locks(&config, &files),
        manager(&log, &locks, &files) {
    locks.SetLockFileName(dir + "/config.BRNLck");
    locks.Open();
    manager.LogFileName = dir + "/config.BRNLog";
    manager.MaxSize = maxSize;
    manager.Open();
  }
  std::vector<TBRNLogEvent> readAll() {
    std::vector<TBRNLogEvent> events;
    manager.BeginRead();
    TBRNLogEvent event;
    for (bool more = manager.ReadFirstEvent(event); more; more = manager.ReadNextEvent(event)) {
      events.push_back(event);
    }
    manager.EndRead();
    return events;
  }
  void write(const std::string& description, int32_t errorCode = 0) {
    TBRNLogEvent event;
    event.Category = lcError;
    event.Function = 251;
    event.ErrorCode = errorCode;
    event.Description = description;
    manager.WriteEvent(event);
  }

  TestLockable config, log;
  TestLockManager locks;
  TBRNLogManager manager;
};

class LogManagerTest : public ::testing::Test {
 protected:
  std::string logPath() const { return dir_ + "/config.BRNLog"; }

  TBRNEnvironment environment_;
  TBRNOSFileManager files_{&environment_};
  testing::TempDirectory temp_;
  std::string dir_ = temp_.Path;
};

TEST_F(LogManagerTest, FirstEventIsRecordOneAndTheHeaderCountsOn) {
  LogSession session(files_, dir_);
  EXPECT_TRUE(session.readAll().empty());
  session.write("hello");
  std::string bytes = testing::ReadWholeFile(logPath());
  ASSERT_EQ(bytes.size(), 4u + 512u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x02\x00\x00\x00", 4));
  EXPECT_EQ(bytes.substr(4, 4), std::string("\x02\x00\x00\x00", 4)) << "category Error";
  auto events = session.readAll();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Description, "hello");
  EXPECT_EQ(events[0].GetKindName(), "Error");
  EXPECT_EQ(events[0].GetOperationName(), "Execute Statement");
}

TEST_F(LogManagerTest, WrapsAtTheMaximumAndReadsTheNewestEventsInOrder) {
  LogSession session(files_, dir_, 262144);
  for (int i = 1; i <= 511; ++i) session.write("event " + std::to_string(i), i);
  EXPECT_EQ(std::filesystem::file_size(logPath()), 4u + 511u * 512u);
  session.write("event 512", 512);
  // Record 512 would end past the maximum: it went to record 1.
  std::string bytes = testing::ReadWholeFile(logPath());
  EXPECT_EQ(bytes.size(), 4u + 511u * 512u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x02\x00\x00\x00", 4));
  auto events = session.readAll();
  ASSERT_EQ(events.size(), 511u);
  EXPECT_EQ(events.front().ErrorCode, 2);
  EXPECT_EQ(events.back().ErrorCode, 512);

  for (int i = 513; i <= 1200; ++i) session.write("event " + std::to_string(i), i);
  events = session.readAll();
  ASSERT_EQ(events.size(), 511u);
  for (size_t k = 0; k < events.size(); ++k) {
    EXPECT_EQ(events[k].ErrorCode, int32_t(1200 - 510 + k));
    EXPECT_EQ(events[k].Description, "event " + std::to_string(events[k].ErrorCode));
  }
  EXPECT_LE(std::filesystem::file_size(logPath()), 262144u);
}

TEST_F(LogManagerTest, LongFieldsAreCutButTheRecordKeepsItsTrailingFields) {
  LogSession session(files_, dir_);
  TBRNLogEvent event;
  event.Description = std::string(400, 'd');
  session.manager.WriteEvent(event);

  TBRNLogEvent full;
  full.Description = std::string(400, 'd');
  full.ProductType = std::string(20, 'p');
  full.User = std::string(40, 'u');
  full.Process = std::string(40, 'r');
  full.SessionName = std::string(40, 'n');
  full.SessionDescription = std::string(80, 's');
  full.IPAddress = "255.255.255.255.extra";
  full.ThreadID = 77;
  full.SessionID = 88;
  full.Encrypted = true;
  session.manager.WriteEvent(full);

  auto events = session.readAll();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Description, std::string(300, 'd'));
  const TBRNLogEvent& back = events[1];
  EXPECT_EQ(back.ProductType, std::string(10, 'p'));
  EXPECT_EQ(back.User, std::string(30, 'u'));
  EXPECT_EQ(back.Process, std::string(30, 'r'));
  EXPECT_EQ(back.SessionName, std::string(30, 'n'));
  EXPECT_EQ(back.SessionDescription, std::string(60, 's'));
  EXPECT_EQ(back.IPAddress, "255.255.255.255.");
  EXPECT_EQ(back.ThreadID, 77);
  EXPECT_EQ(back.SessionID, 88);
  EXPECT_TRUE(back.Encrypted);
  EXPECT_LT(back.Description.size(), 300u);
  EXPECT_EQ(back.Description, std::string(back.Description.size(), 'd'));
}

TEST_F(LogManagerTest, DamagedRecordsNeverReadIntoTheirNeighbours) {
  {
    LogSession session(files_, dir_);
    session.write("first", 1);
    session.write("second", 2);
  }
  // A huge description length in record 1.
  {
    std::fstream f(logPath(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4 + 12);
    f.write("\xFF\xFF\xFF\x7F", 4);
  }
  LogSession session(files_, dir_);
  auto events = session.readAll();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_LE(events[0].Description.size(), 512u - 16u);
  EXPECT_EQ(events[1].Description, "second");
  EXPECT_EQ(events[1].ErrorCode, 2);
}

TEST_F(LogManagerTest, DamagedHeaderDoesNotSendTheWriterBeyondTheFile) {
  {
    LogSession session(files_, dir_);
    session.write("first", 1);
  }
  {
    std::fstream f(logPath(), std::ios::in | std::ios::out | std::ios::binary);
    f.write("\x00\x00\x00\x40", 4);  // record 2^30
  }
  LogSession session(files_, dir_);
  session.write("second", 2);
  EXPECT_EQ(std::filesystem::file_size(logPath()), 4u + 2u * 512u);
  auto events = session.readAll();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].Description, "second");
}

TEST_F(LogManagerTest, ReadOnlyLogRefusesWritesAndStaysUntouched) {
  {
    LogSession session(files_, dir_);
    session.write("kept");
  }
  std::string before = testing::ReadWholeFile(logPath());
  ASSERT_EQ(chmod(logPath().c_str(), 0444), 0);
  LogSession session(files_, dir_);
  EXPECT_TRUE(session.log.ReadOnly);
  EBRNException e = CaughtError([&] { session.write("refused"); });
  EXPECT_EQ(e.ErrorCode, 101);
  EXPECT_EQ(e.ErrorMessage, "There was an error updating the log Log (The file is read-only)");
  EXPECT_EQ(testing::ReadWholeFile(logPath()), before);
  EXPECT_EQ(session.readAll().size(), 1u);
}

TEST_F(LogManagerTest, ReadersNoticeOtherWriters) {
  LogSession reader(files_, dir_);
  LogSession writer(files_, dir_);
  int changes = 0;
  reader.manager.OnChange = [&](TBRNLockable* object) {
    EXPECT_EQ(object, &reader.log);
    ++changes;
  };
  writer.write("from the other session");
  reader.manager.BeginRead();
  EXPECT_EQ(changes, 1);
  TBRNLogEvent event;
  ASSERT_TRUE(reader.manager.ReadFirstEvent(event));
  EXPECT_EQ(event.Description, "from the other session");
  EXPECT_FALSE(reader.manager.ReadNextEvent(event));
  reader.manager.EndRead();
  EXPECT_EQ(reader.manager.ReadNesting, 0);
}

TEST_F(LogManagerTest, ConcurrentWritersInTwoProcessesLoseNothing) {
  constexpr int kEach = 150;
  // Create the files first so that both processes open the same ones.
  { LogSession setup(files_, dir_); }
  pid_t child = fork();
  if (child == 0) {
    int status = 0;
    try {
      TBRNEnvironment environment;
      TBRNOSFileManager files(&environment);
      LogSession session(files, dir_);
      for (int i = 0; i < kEach; ++i) session.write("child " + std::to_string(i), 1);
    } catch (...) {
      status = 1;
    }
    _exit(status);
  }
  LogSession session(files_, dir_);
  for (int i = 0; i < kEach; ++i) session.write("parent " + std::to_string(i), 2);
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  auto events = session.readAll();
  ASSERT_EQ(events.size(), size_t(2 * kEach));
  int nextChild = 0, nextParent = 0;
  for (const auto& e : events) {
    if (e.ErrorCode == 1) {
      EXPECT_EQ(e.Description, "child " + std::to_string(nextChild++));
    } else {
      EXPECT_EQ(e.ErrorCode, 2);
      EXPECT_EQ(e.Description, "parent " + std::to_string(nextParent++));
    }
  }
  EXPECT_EQ(nextChild, kEach);
  EXPECT_EQ(nextParent, kEach);
}

TEST_F(LogManagerTest, AHeaderCutShortIsNeverUsed) {
  LogSession session(files_, dir_);
  for (int i = 1; i <= 3; ++i) session.write("old", i);
  ASSERT_EQ(truncate(logPath().c_str(), 2), 0);
  // Two bytes of a header and no record: the next event is record 1.
  session.write("new", 4);
  EXPECT_EQ(std::filesystem::file_size(logPath()), 4u + 512u);
  auto events = session.readAll();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Description, "new");
}

// A file-size limit stops the fourth record part-way: WriteEvent must fail
// with the file error instead of reporting the event logged, and the part of
// the record that got in must not be read back as an event.
TEST_F(LogManagerTest, AFileSizeLimitFailsTheWriteInsteadOfLosingTheEvent) {
  constexpr rlim_t kLimit = 4 + 3 * 512 + 100;
  { LogSession setup(files_, dir_); }
  pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {kLimit, kLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    int status = 0;
    try {
      TBRNEnvironment environment;
      TBRNOSFileManager files(&environment);
      LogSession session(files, dir_);
      int written = 0;
      bool failed = false;
      for (int i = 1; i <= 5 && !failed; ++i) {
        try {
          session.write("event " + std::to_string(i), i);
          ++written;
        } catch (const EBRNException& e) {
          failed = true;
          bool expected = e.ErrorCode == 600 &&
                          e.ErrorMessage.find("Cannot write to the file") != std::string::npos &&
                          e.ErrorMessage.find(OSErrorMessage(EFBIG)) != std::string::npos;
          if (!expected) status = 11;
        }
      }
      if (!failed) {
        status = 12;
      } else if (written != 3) {
        status = 13;
      } else if (session.readAll().size() != 3) {
        status = 14;
      }
    } catch (...) {
      status = 15;
    }
    _exit(status);
  }
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "11: another error, 12: no error at all, 13: failed at "
                                       "another event, 14: other events read back";
  EXPECT_EQ(std::filesystem::file_size(logPath()), 4u + 3u * 512u);
}

// The log over the fault-injecting manager, with a fault at each write and
// each flush of a run of events in turn (every event writes its record and
// the header, then flushes): exactly one event fails, with the file error;
// the log's locks are free again; and the log holds exactly the events that
// were reported written, plus one written after the fault.
TEST(LogManagerFaultTest, NoFaultLosesAnEventOrInventsOne) {
  constexpr int kEvents = 4;
  using A = TBRNFaultAction;
  struct Sweep {
    A action;
    int32_t calls;
  };
  for (Sweep sweep : {Sweep{A::FailWrite, 2 * kEvents}, Sweep{A::ShortWrite, 2 * kEvents},
                      Sweep{A::FailFlush, kEvents}}) {
    for (int32_t nth = 1; nth <= sweep.calls; ++nth) {
      SCOPED_TRACE(::testing::Message() << int(sweep.action) << " at call " << nth);
      TBRNFaultFileManager files(nullptr);
      LogSession session(files, "/memory");
      files.Arm({sweep.action, nth, false, ENOSPC, 2, ""});
      std::vector<std::string> written;
      int failures = 0;
      for (int i = 1; i <= kEvents; ++i) {
        std::string description = "event " + std::to_string(i);
        try {
          session.write(description, i);
          written.push_back(description);
        } catch (const EBRNException& e) {
          ++failures;
          EXPECT_EQ(e.ErrorCode, 600);
          EXPECT_THAT(e.ErrorMessage, ::testing::HasSubstr("/memory/config.BRNLog"));
        }
        EXPECT_EQ(session.log.HeldLocks, 0);
        EXPECT_EQ(session.log.TransactionLockCount, 0);
        EXPECT_FALSE(session.manager.WriteBegun);
      }
      EXPECT_EQ(failures, 1);
      EXPECT_EQ(files.InjectedCount(), 1);
      files.Disarm();
      LogSession other(files, "/memory");
      other.write("after");
      written.push_back("after");
      std::vector<std::string> read;
      for (const TBRNLogEvent& event : session.readAll()) read.push_back(event.Description);
      EXPECT_EQ(read, written);
    }
  }
}

// A lock manager whose unlocks fail, as when the lock file went away.
class FailingUnlockManager : public TestLockManager {
 public:
  using TestLockManager::TestLockManager;
  bool FailUnlocks = false;
  bool UnlockObjectExclusive(TBRNLockable* object, uint8_t lockType) override {
    return !FailUnlocks && TestLockManager::UnlockObjectExclusive(object, lockType);
  }
};

// The write lock is released by a guard; an unlock that raises there, on the
// way out of a failed write or of a good one, must neither end the process
// nor hide the write's own error.
TEST(LogManagerFaultTest, AFailingUnlockNeverEndsTheProcess) {
  struct Case {
    bool writeFails;
    int32_t expectedCode;
  };
  for (Case c : {Case{true, 600}, Case{false, 301}}) {
    SCOPED_TRACE(c.writeFails);
    TBRNFaultFileManager files(nullptr);
    TestLockable config = ConfigurationObject(), log = logObject();
    FailingUnlockManager locks(&config, &files);
    locks.SetLockFileName("/memory/config.BRNLck");
    locks.Open();
    TBRNLogManager manager(&log, &locks, &files);
    manager.LogFileName = "/memory/config.BRNLog";
    manager.Open();
    if (c.writeFails) files.FailWrite(1);
    locks.FailUnlocks = true;
    TBRNLogEvent event;
    event.Description = "guarded";
    EXPECT_EQ(CaughtError([&] { manager.WriteEvent(event); }).ErrorCode, c.expectedCode);
    EXPECT_FALSE(manager.WriteBegun);
    locks.FailUnlocks = false;
  }
}

}  // namespace
}  // namespace brn
