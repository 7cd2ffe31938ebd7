// One suite run against the disk manager, the in-memory manager and the
// fault-injecting manager with nothing armed: all must behave alike for
// everything they share.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/file_test_support.h"
#include "foundation/files/fault_file_manager.h"
#include "foundation/files/memory_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"

namespace brn {
namespace {

using testing::FileError;
using ::testing::HasSubstr;
using testing::TempDirectory;

template <typename Manager>
class FileManagerTest : public ::testing::Test {
 protected:
  TempDirectory dir;
  Manager manager{nullptr};

  std::string Name(const std::string& file) { return dir / file; }

  std::unique_ptr<TBRNFileStream> Create(const std::string& file, bool exclusive = false,
                                         bool temporary = false) {
    return manager.CreateFile(Name(file), exclusive, temporary, false);
  }
  std::unique_ptr<TBRNFileStream> Open(const std::string& file, bool exclusive = false) {
    return manager.OpenFile(Name(file), exclusive, false, false);
  }
  void CreateWith(const std::string& file, const std::string& contents) {
    auto stream = Create(file);
    Put(*stream, contents);
  }
  static void Put(TBRNFileStream& stream, const std::string& text) {
    ASSERT_EQ(stream.Write(text.data(), int32_t(text.size())), int32_t(text.size()));
  }
  static std::string Get(TBRNFileStream& stream, int32_t count) {
    std::string text(size_t(count), '\0');
    int32_t done = stream.Read(text.data(), count);
    text.resize(size_t(done < 0 ? 0 : done));
    return text;
  }
  std::string Contents(const std::string& file) {
    auto stream = Open(file);
    return Get(*stream, int32_t(stream->GetSize()));
  }
};

using Managers = ::testing::Types<TBRNOSFileManager, TBRNMemoryFileManager, TBRNFaultFileManager>;
TYPED_TEST_SUITE(FileManagerTest, Managers);

TYPED_TEST(FileManagerTest, WrittenBytesAreReadBackAfterReopening) {
  this->CreateWith("a.dat", "hello world");
  EXPECT_EQ(this->Contents("a.dat"), "hello world");
  EXPECT_EQ(this->manager.GetFileSize(this->Name("a.dat")), 11);
  EXPECT_TRUE(this->manager.FileExists(this->Name("a.dat")));
  EXPECT_FALSE(this->manager.FileExists(this->Name("b.dat")));
}

TYPED_TEST(FileManagerTest, StreamsKeepTheirOwnPositions) {
  this->CreateWith("a.dat", "0123456789");
  auto first = this->Open("a.dat");
  auto second = this->Open("a.dat");
  EXPECT_EQ(this->Get(*first, 3), "012");
  EXPECT_EQ(this->Get(*second, 2), "01");
  EXPECT_EQ(this->Get(*first, 2), "34");
  // A relative seek starts from the stream's own position, not from where
  // the other stream left the file.
  EXPECT_EQ(second->Seek(1, 3), 5);
  EXPECT_EQ(this->Get(*second, 1), "5");
  EXPECT_EQ(first->Seek(2, -1), 9);
  EXPECT_EQ(this->Get(*first, 5), "9");
  // Writing through one stream is seen by the other.
  second->SetPosition(0);
  this->Put(*second, "AB");
  first->SetPosition(0);
  EXPECT_EQ(this->Get(*first, 3), "AB2");
}

TYPED_TEST(FileManagerTest, ReadsStopAtTheEndAndWritesBeyondLeaveZeros) {
  this->CreateWith("a.dat", "abc");
  auto stream = this->Open("a.dat");
  stream->SetPosition(3);
  EXPECT_EQ(this->Get(*stream, 4), "");
  stream->SetPosition(1);
  EXPECT_EQ(this->Get(*stream, 10), "bc");
  stream->SetPosition(6);
  this->Put(*stream, "z");
  EXPECT_EQ(stream->GetSize(), 7);
  stream->SetPosition(0);
  EXPECT_EQ(this->Get(*stream, 7), std::string("abc\0\0\0z", 7));
}

TYPED_TEST(FileManagerTest, ShrinkingMovesThePositionAndGrowingAgainGivesZeros) {
  this->CreateWith("a.dat", "abcdefgh");
  auto stream = this->Open("a.dat");
  stream->SetPosition(8);
  stream->SetSize(2);
  EXPECT_EQ(stream->GetPosition(), 2);
  stream->SetSize(6);
  stream->SetPosition(0);
  EXPECT_EQ(this->Get(*stream, 6), std::string("ab\0\0\0\0", 6));
}

TYPED_TEST(FileManagerTest, ArrayTransfersUseTheGivenPartOfTheArray) {
  auto stream = this->Create("a.dat");
  TBRNBytes out = {'x', 'a', 'b', 'c', 'y'};
  EXPECT_EQ(stream->WriteFromArray(out, 1, 3), 3);
  stream->SetPosition(0);
  TBRNBytes in(5, '-');
  EXPECT_EQ(stream->ReadIntoArray(in, 2, 3), 3);
  EXPECT_EQ(in, (TBRNBytes{'-', '-', 'a', 'b', 'c'}));
  EXPECT_THROW(stream->ReadIntoArray(in, 3, 3), std::out_of_range);
  EXPECT_THROW(stream->WriteFromArray(out, -1, 1), std::out_of_range);
  EXPECT_THROW(stream->Read(in.data(), -1), std::out_of_range);
}

TYPED_TEST(FileManagerTest, CreatingOverAClosedFileTruncatesIt) {
  this->CreateWith("a.dat", "old contents");
  this->CreateWith("a.dat", "new");
  EXPECT_EQ(this->Contents("a.dat"), "new");
}

TYPED_TEST(FileManagerTest, SharingRules) {
  auto shared = this->Create("a.dat");
  // A second shared opening is fine; an exclusive one, or creating the open
  // file anew, is refused naming the file.
  EXPECT_NE(this->Open("a.dat"), nullptr);
  std::string denied = "File manager error (Access denied to the file " + this->Name("a.dat") + ")";
  EXPECT_EQ(FileError([&] { this->Open("a.dat", true); }), denied);
  EXPECT_EQ(FileError([&] { this->Create("a.dat"); }), denied);
  shared.reset();

  auto exclusive = this->Open("a.dat", true);
  EXPECT_TRUE(exclusive->Exclusive);
  EXPECT_EQ(FileError([&] { this->Open("a.dat"); }), denied);
  exclusive.reset();
  EXPECT_NE(this->Open("a.dat"), nullptr);
}

TYPED_TEST(FileManagerTest, OpenFilesCannotBeRenamedOrDeleted) {
  auto stream = this->Create("a.dat");
  EXPECT_THAT(
      FileError([&] { this->manager.RenameFile(this->Name("a.dat"), this->Name("b.dat")); }),
      HasSubstr("Access denied to the file " + this->Name("a.dat")));
  EXPECT_THAT(FileError([&] { this->manager.DeleteFile(this->Name("a.dat")); }),
              HasSubstr("Access denied to the file " + this->Name("a.dat")));
  EXPECT_TRUE(this->manager.FileExists(this->Name("a.dat")));
}

TYPED_TEST(FileManagerTest, RenamingKeepsTheContentsUnderTheNewName) {
  this->CreateWith("a.dat", "payload");
  this->manager.RenameFile(this->Name("a.dat"), this->Name("b.dat"));
  EXPECT_FALSE(this->manager.FileExists(this->Name("a.dat")));
  EXPECT_EQ(this->Contents("b.dat"), "payload");
}

TYPED_TEST(FileManagerTest, RenamingOntoAnOpenNameIsRefusedForTheNewName) {
  auto target = this->Create("b.dat");
  this->Put(*target, "target");
  // Even when the old name is not known at all.
  for (const char* source : {"a.dat", "missing.dat"}) {
    if (std::string(source) == "a.dat") this->CreateWith("a.dat", "source");
    EXPECT_EQ(FileError([&] { this->manager.RenameFile(this->Name(source), this->Name("b.dat")); }),
              "File manager error (Access denied to the file " + this->Name("b.dat") + ")");
  }
  target.reset();
  EXPECT_EQ(this->Contents("a.dat"), "source");
  EXPECT_EQ(this->Contents("b.dat"), "target");
}

TYPED_TEST(FileManagerTest, DeletedFilesAreGone) {
  this->CreateWith("a.dat", "x");
  this->manager.DeleteFile(this->Name("a.dat"));
  EXPECT_FALSE(this->manager.FileExists(this->Name("a.dat")));
  FileError([&] { this->Open("a.dat"); });
  FileError([&] { this->manager.DeleteFile(this->Name("a.dat")); });
  // A failed opening leaves nothing registered.
  EXPECT_EQ(this->manager.Count(), 0);
}

TYPED_TEST(FileManagerTest, TemporaryFilesDisappearWithTheirLastStream) {
  auto first = this->Create("t.tmp", false, true);
  auto second = this->Open("t.tmp");
  first.reset();
  EXPECT_TRUE(this->manager.FileExists(this->Name("t.tmp")));
  second.reset();
  EXPECT_FALSE(this->manager.FileExists(this->Name("t.tmp")));
  EXPECT_EQ(this->manager.Count(), 0);
}

TYPED_TEST(FileManagerTest, NamesCompareAsTheFileSystemDoes) {
  this->CreateWith("Upper.dat", "U");
  this->CreateWith("upper.dat", "l");
  EXPECT_EQ(this->Contents("Upper.dat"), "U");
  EXPECT_EQ(this->Contents("upper.dat"), "l");
  // Both separators name the same file.
  auto slash = this->manager.OpenFile(this->dir.Path + "/Upper.dat", true, false, false);
  EXPECT_THROW(this->manager.OpenFile(this->dir.Path + "\\Upper.dat", false, false, false),
               EBRNException);
}

TYPED_TEST(FileManagerTest, ListingMatchesTheMask) {
  for (const char* file : {"b.dat", "a.dat", "c.txt"}) this->CreateWith(file, "x");
  TBRNStringsList withExtensions, withoutExtensions;
  this->manager.ListFiles(this->Name("*.dat"), true, withExtensions);
  this->manager.ListFiles(this->Name("*.dat"), false, withoutExtensions);
  EXPECT_THAT(withExtensions.GetItems(), ::testing::ElementsAre("a.dat", "b.dat"));
  EXPECT_THAT(withoutExtensions.GetItems(), ::testing::ElementsAre("a", "b"));
  // Both separators name the same folder in a mask, as they do in names.
  TBRNStringsList backslashed;
  this->manager.ListFiles(this->dir.Path + "\\*.txt", true, backslashed);
  EXPECT_THAT(backslashed.GetItems(), ::testing::ElementsAre("c.txt"));
}

TYPED_TEST(FileManagerTest, RangeLocksRefuseOverlapsOnly) {
  auto stream = this->Create("a.dat");
  struct Case {
    int64_t offset, length;
    bool granted;
  };
  // Each tried alone against a lock of bytes 100..109.
  const Case cases[] = {{105, 1, false}, {110, 5, true},  {90, 10, true},
                        {90, 11, false}, {100, 1, false}, {109, 20, false}};
  ASSERT_TRUE(stream->SetRangeLock(true, 100, 10));
  for (const Case& c : cases) {
    EXPECT_EQ(stream->SetRangeLock(true, c.offset, c.length), c.granted)
        << c.offset << "," << c.length;
    if (c.granted) {
      EXPECT_TRUE(stream->SetRangeLock(false, c.offset, c.length));
    }
  }
  EXPECT_FALSE(stream->SetRangeLock(false, 101, 1));
  EXPECT_TRUE(stream->SetRangeLock(false, 100, 1));  // the length is not compared
  EXPECT_TRUE(stream->SetRangeLock(true, 105, 1));
  EXPECT_FALSE(stream->SetRangeLock(true, -1, 1));
  EXPECT_FALSE(stream->SetRangeLock(true, 0, -1));
}

TYPED_TEST(FileManagerTest, RangeLocksBelongToTheFileAndWorkFarBeyondItsEnd) {
  auto first = this->Create("a.dat");
  auto second = this->Open("a.dat");
  const int64_t rowLock = 128000000000 + 42;
  ASSERT_TRUE(first->SetRangeLock(true, rowLock, 1));
  EXPECT_FALSE(second->SetRangeLock(true, rowLock, 1));
  EXPECT_TRUE(second->SetRangeLock(true, rowLock + 1, 1));
  EXPECT_TRUE(second->SetRangeLock(false, rowLock, 1));  // any stream may release it
  EXPECT_TRUE(first->SetRangeLock(true, rowLock, 1));
  EXPECT_EQ(first->GetSize(), 0);
}

TYPED_TEST(FileManagerTest, AcquiredStreamWritesARunFromOnePositioning) {
  auto stream = this->Create("a.dat");
  auto other = this->Open("a.dat");
  stream->Acquire();
  stream->SetPosition(4);
  this->Put(*stream, "ab");
  this->Put(*stream, "cd");
  stream->Release();
  stream->Release();  // more releases than acquires do nothing
  EXPECT_EQ(stream->GetPosition(), 8);
  other->SetPosition(4);
  EXPECT_EQ(this->Get(*other, 4), "abcd");
}

TYPED_TEST(FileManagerTest, ThreadsWritingThroughTheirOwnStreamsDoNotMixUp) {
  constexpr int kThreads = 4, kPieces = 200, kPiece = 16;
  this->Create("a.dat");
  std::vector<std::unique_ptr<TBRNFileStream>> streams;
  for (int t = 0; t < kThreads; ++t) streams.push_back(this->Open("a.dat"));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      TBRNFileStream& stream = *streams[size_t(t)];
      std::string piece(kPiece, char('A' + t));
      for (int i = 0; i < kPieces; ++i) {
        stream.SetPosition(int64_t(i * kThreads + t) * kPiece);
        stream.Write(piece.data(), kPiece);
        stream.SetRangeLock(true, i * kThreads + t, 1);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  streams[0]->SetPosition(0);
  std::string all = this->Get(*streams[0], kThreads * kPieces * kPiece);
  ASSERT_EQ(all.size(), size_t(kThreads * kPieces * kPiece));
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(all[i], char('A' + (i / kPiece) % kThreads)) << i;
  }
  EXPECT_EQ(streams[0]->File->LockCount(), kThreads * kPieces);
}

TYPED_TEST(FileManagerTest, AStreamOutlivingItsManagerIsRefusedNotAUseAfterFree) {
  auto manager = std::make_unique<TypeParam>(nullptr);
  auto stream = manager->CreateFile(this->Name("a.dat"), false, false, false);
  auto pinned = manager->OpenFile(this->Name("a.dat"), false, false, false);
  this->Put(*stream, "abc");
  pinned->Acquire();
  pinned->Release();
  manager.reset();
  EXPECT_EQ(stream->File, nullptr);
  char byte;
  EXPECT_THROW(stream->Write("x", 1), std::logic_error);
  EXPECT_THROW(stream->Read(&byte, 1), std::logic_error);
  EXPECT_THROW(stream->GetSize(), std::logic_error);
  EXPECT_THROW(stream->SetRangeLock(true, 0, 1), std::logic_error);
  EXPECT_THROW(stream->Flush(), std::logic_error);
  EXPECT_THROW(pinned->Acquire(), std::logic_error);
  EXPECT_EQ(stream->GetPosition(), 3);
  stream.reset();  // nothing left to release
  pinned.reset();
}

}  // namespace
}  // namespace brn
