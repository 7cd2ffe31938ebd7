#include "foundation/files/fault_file_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/file_test_support.h"
#include "foundation/text/environment.h"

namespace brn {
namespace {

using testing::FileError;

class FaultFileManagerTest : public ::testing::Test {
 protected:
  std::unique_ptr<TBRNFileStream> Create(const std::string& name = kName) {
    return manager.CreateFile(name, false, false, false);
  }
  std::string Contents(const std::string& name = kName) {
    auto stream = manager.OpenFile(name, false, false, false);
    std::string text(size_t(stream->GetSize()), '\0');
    EXPECT_EQ(stream->Read(text.data(), int32_t(text.size())), int32_t(text.size()));
    return text;
  }
  static std::string Message(const std::string& what, const std::string& reason) {
    return "File manager error (" + what + " " + kName + " (OS Error: " + reason + "))";
  }

  static inline const std::string kName = "/faults/a.dat";
  TBRNFaultFileManager manager{nullptr};
};

// Every way the engine writes through a file stream, and a read, each hit by
// a fault: the caller gets the file error with the system's reason, the stream
// position counts only the bytes that reached the file, and the file holds
// exactly those bytes.
TEST_F(FaultFileManagerTest, EveryInjectedFailureReachesTheCallerAsTheFileError) {
  using Action = std::function<void(TBRNFileStream&)>;
  const Action write = [](TBRNFileStream& s) { s.Write("abcdefgh", 8); };
  TBRNMemoryStream source;
  source.WriteString("abcd");  // 8 bytes: length and text
  struct Case {
    const char* what;
    TBRNFileFault fault;
    Action action;
    std::string message;
    std::string stored;
  };
  using A = TBRNFaultAction;
  const Case cases[] = {
      {"failing write",
       {A::FailWrite, 1, false, ENOSPC, 0, ""},
       write,
       Message("Cannot write to the file", OSErrorMessage(ENOSPC)),
       ""},
      {"short write",
       {A::ShortWrite, 1, false, ENOSPC, 3, ""},
       write,
       Message("Cannot write to the file", "Only 3 of 8 bytes were written"),
       "abc"},
      {"write of nothing kept",
       {A::ShortWrite, 1, false, ENOSPC, 0, ""},
       write,
       Message("Cannot write to the file", "Only 0 of 8 bytes were written"),
       ""},
      {"array write",
       {A::FailWrite, 1, false, EIO, 0, ""},
       [](TBRNFileStream& s) {
         s.WriteFromArray(TBRNBytes{1, 2, 3}, 0, 3);
       },
       Message("Cannot write to the file", OSErrorMessage(EIO)),
       ""},
      {"integer helper",
       {A::ShortWrite, 1, false, ENOSPC, 1, ""},
       [](TBRNFileStream& s) { s.WriteLongInt(0x64636261); },
       Message("Cannot write to the file", "Only 1 of 4 bytes were written"),
       "a"},
      {"memory stream saved",
       {A::ShortWrite, 1, false, ENOSPC, 5, ""},
       [&](TBRNFileStream& s) { source.SaveToStream(s, 0); },
       Message("Cannot write to the file", "Only 5 of 8 bytes were written"),
       std::string("\x04\0\0\0a", 5)},
      {"copy",
       {A::FailWrite, 1, false, EFBIG, 0, ""},
       [&](TBRNFileStream& s) { s.CopyFrom(source, 0); },
       Message("Cannot write to the file", OSErrorMessage(EFBIG)),
       ""},
      {"second write",
       {A::FailWrite, 2, false, ENOSPC, 0, ""},
       [&](TBRNFileStream& s) {
         s.Write("ab", 2);
         s.Write("cd", 2);
       },
       Message("Cannot write to the file", OSErrorMessage(ENOSPC)),
       "ab"},
      {"size change",
       {A::FailSetSize, 1, false, EFBIG, 0, ""},
       [](TBRNFileStream& s) { s.SetSize(100); },
       Message("Cannot write to the file", OSErrorMessage(EFBIG)),
       ""},
      {"flush",
       {A::FailFlush, 1, false, EIO, 0, ""},
       [&](TBRNFileStream& s) {
         write(s);
         s.Flush();
       },
       Message("Cannot flush the file", OSErrorMessage(EIO)),
       "abcdefgh"},
      {"read",
       {A::FailRead, 1, false, EIO, 0, ""},
       [&](TBRNFileStream& s) {
         write(s);
         char back[8];
         s.Read(back, 8);
       },
       Message("Cannot read from the file", OSErrorMessage(EIO)),
       "abcdefgh"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto stream = Create();
    manager.Arm(c.fault);
    int32_t injected = manager.InjectedCount();
    EXPECT_EQ(FileError([&] { c.action(*stream); }), c.message);
    EXPECT_EQ(manager.InjectedCount(), injected + 1);
    EXPECT_EQ(stream->GetPosition(), int64_t(c.stored.size()));
    manager.Disarm();
    stream.reset();
    EXPECT_EQ(Contents(), c.stored);
  }
}

TEST_F(FaultFileManagerTest, FaultsCountTheirOwnCallsOnTheirOwnFiles) {
  auto a = Create();
  auto b = Create("/faults/b.dat");
  manager.Arm({TBRNFaultAction::FailWrite, 2, false, EIO, 0, "/faults/b.dat"});
  manager.FailFlush(1, EIO, true);
  a->Write("1", 1);
  a->Write("2", 1);
  b->Write("1", 1);
  EXPECT_THROW(b->Write("2", 1), EBRNException) << "the second write on b";
  b->Write("3", 1);  // spent: one call only
  EXPECT_THROW(a->Flush(), EBRNException);
  EXPECT_THROW(b->Flush(), EBRNException) << "persistent";
  EXPECT_EQ(manager.WriteCount(), 5);
  EXPECT_EQ(manager.FlushCount(), 2);
  EXPECT_EQ(manager.InjectedCount(), 3);
  manager.Disarm();
  a->Flush();
  a.reset();
  b.reset();
  EXPECT_EQ(Contents(), "12");
  EXPECT_EQ(Contents("/faults/b.dat"), "13");
  EXPECT_THROW(manager.FailWrite(0), std::invalid_argument);
}

// A workload of records, each written and flushed, with a fault at every
// possible call in turn: whatever the fault, a record the workload was told
// was stored is in the file, and every failure reached it as the file error.
TEST_F(FaultFileManagerTest, NoFaultLosesARecordSilently) {
  constexpr int kRecords = 6;
  constexpr int32_t kRecordSize = 16;
  auto record = [](int i) { return std::string(size_t(kRecordSize), char('A' + i)); };
  using A = TBRNFaultAction;
  for (A action : {A::FailWrite, A::ShortWrite, A::FailFlush}) {
    for (int nth = 1; nth <= kRecords; ++nth) {
      SCOPED_TRACE(::testing::Message() << int(action) << " at call " << nth);
      auto stream = Create();
      manager.Arm({action, nth, false, ENOSPC, kRecordSize / 2, ""});
      int stored = 0, failures = 0;
      for (int i = 0; i < kRecords; ++i) {
        try {
          stream->SetPosition(int64_t(stored) * kRecordSize);
          std::string text = record(stored);
          stream->Write(text.data(), kRecordSize);
          stream->Flush();
          ++stored;
        } catch (const EBRNException& e) {
          EXPECT_EQ(e.ErrorCode, 600);
          ++failures;
        }
      }
      EXPECT_EQ(failures, 1);
      EXPECT_EQ(stored, kRecords - 1);
      manager.Disarm();
      stream.reset();
      std::string contents = Contents();
      ASSERT_GE(contents.size(), size_t(stored * kRecordSize));
      for (int i = 0; i < stored; ++i) {
        EXPECT_EQ(contents.substr(size_t(i * kRecordSize), kRecordSize), record(i));
      }
    }
  }
}

TEST_F(FaultFileManagerTest, ThreadsArmingAndWritingDoNotRace) {
  constexpr int kThreads = 4, kWrites = 200;
  std::vector<std::unique_ptr<TBRNFileStream>> streams;
  for (int t = 0; t < kThreads; ++t) streams.push_back(Create("/faults/" + std::to_string(t)));
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kWrites; ++i) {
        if (t == 0 && i % 10 == 0) manager.FailWrite(3);
        try {
          streams[size_t(t)]->Write("x", 1);
        } catch (const EBRNException&) {
          ++failures[size_t(t)];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  int total = 0;
  for (int f : failures) total += f;
  EXPECT_EQ(total, manager.InjectedCount());
  EXPECT_EQ(manager.WriteCount(), kThreads * kWrites);
}

}  // namespace
}  // namespace brn
