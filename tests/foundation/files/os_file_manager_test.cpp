#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "foundation/file_test_support.h"
#include "foundation/files/engine_services.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "foundation/types/date_time.h"

namespace brn {
namespace {

using ::testing::ElementsAre;
using testing::FileError;
using ::testing::HasSubstr;
using testing::OtherProcess;
using testing::ReadWholeFile;
using testing::TempDirectory;
using testing::WriteWholeFile;

class FakeEngine : public TBRNEngineServices {
 public:
  bool GetExclusiveFileAccess() const override { return ExclusiveFileAccess; }
  bool ExclusiveFileAccess = false;
};

class OSFileManagerTest : public ::testing::Test {
 protected:
  TempDirectory dir;
  FakeEngine engine;
  TBRNEngineOSFileManager manager{nullptr, &engine};

  std::unique_ptr<TBRNFileStream> Create(const std::string& name, bool exclusive = false) {
    return manager.CreateFile(dir / name, exclusive, false, false);
  }
  std::unique_ptr<TBRNFileStream> Open(const std::string& name, bool exclusive = false) {
    return manager.OpenFile(dir / name, exclusive, false, false);
  }
};

TEST_F(OSFileManagerTest, ARangeHeldByAnotherProcessIsRefusedUntilItIsKilled) {
  auto stream = Create("a.dat");
  OtherProcess other;
  ASSERT_TRUE(other.Open(dir / "a.dat", false));
  ASSERT_TRUE(other.Lock(100, 10));
  EXPECT_FALSE(stream->SetRangeLock(true, 105, 1));
  EXPECT_FALSE(stream->SetRangeLock(true, 90, 11));
  EXPECT_TRUE(stream->SetRangeLock(true, 110, 5));  // adjacent ranges do not conflict
  EXPECT_TRUE(stream->SetRangeLock(true, 90, 10));
  EXPECT_FALSE(other.Lock(110, 1));
  // A refused range leaves nothing behind in this process either.
  EXPECT_EQ(stream->File->LockCount(), 2);

  other.Kill();
  EXPECT_TRUE(stream->SetRangeLock(true, 100, 10));
}

TEST_F(OSFileManagerTest, RowLocksFarBeyondTheEndConflictBetweenProcesses) {
  const int64_t rowLock = 128000000000 + 7;
  auto stream = Create("a.dat");
  ASSERT_TRUE(stream->SetRangeLock(true, rowLock, 1));
  OtherProcess other;
  ASSERT_TRUE(other.Open(dir / "a.dat", false));
  EXPECT_FALSE(other.Lock(rowLock, 1));
  EXPECT_TRUE(other.Lock(rowLock + 1, 1));
  EXPECT_FALSE(stream->SetRangeLock(true, rowLock + 1, 1));
  EXPECT_TRUE(stream->SetRangeLock(false, rowLock, 1));
  EXPECT_TRUE(other.Lock(rowLock, 1));
}

TEST_F(OSFileManagerTest, UnlockingARangeNeverFreesItsNeighbour) {
  auto stream = Create("a.dat");
  ASSERT_TRUE(stream->SetRangeLock(true, 0, 10));
  ASSERT_TRUE(stream->SetRangeLock(true, 10, 10));
  EXPECT_FALSE(stream->SetRangeLock(true, 5, 10));  // overlaps both
  // Released by its first byte: exactly the range locked there goes.
  EXPECT_TRUE(stream->SetRangeLock(false, 0, 20));
  OtherProcess other;
  ASSERT_TRUE(other.Open(dir / "a.dat", false));
  EXPECT_TRUE(other.Lock(0, 10));
  EXPECT_FALSE(other.Lock(10, 1));
  EXPECT_FALSE(other.Lock(19, 1));
  EXPECT_TRUE(other.Lock(20, 1));
}

TEST_F(OSFileManagerTest, LocksBelongToTheOpeningNotToTheProcess) {
  // Two managers in one process hold two openings of the file.
  TBRNOSFileManager second(nullptr);
  auto mine = Create("a.dat");
  auto theirs = second.OpenFile(dir / "a.dat", false, false, false);
  ASSERT_TRUE(mine->SetRangeLock(true, 0, 10));
  EXPECT_FALSE(theirs->SetRangeLock(true, 5, 1));
  ASSERT_TRUE(theirs->SetRangeLock(true, 10, 1));
  // Closing one opening drops its own locks only.
  theirs.reset();
  EXPECT_TRUE(mine->SetRangeLock(true, 10, 1));
  auto again = second.OpenFile(dir / "a.dat", false, false, false);
  EXPECT_FALSE(again->SetRangeLock(true, 0, 1));
}

TEST_F(OSFileManagerTest, AnExclusiveOpeningKeepsOtherProcessesOut) {
  Create("a.dat")->Write("keep", 4);
  {
    auto exclusive = Open("a.dat", true);
    OtherProcess other;
    EXPECT_FALSE(other.Open(dir / "a.dat", false));
    EXPECT_FALSE(other.Open(dir / "a.dat", true));
  }
  OtherProcess other;
  ASSERT_TRUE(other.Open(dir / "a.dat", true));
  std::string cannotOpen = "File manager error (Cannot open file " + (dir / "a.dat") +
                           " (OS Error: " + OSErrorMessage(EBUSY) + "))";
  EXPECT_EQ(FileError([&] { Open("a.dat"); }), cannotOpen);
  EXPECT_THAT(FileError([&] { Create("a.dat"); }), HasSubstr("Cannot create file"));
  // Neither the refused creation nor deleting and renaming touch the file.
  EXPECT_THAT(FileError([&] { manager.DeleteFile(dir / "a.dat"); }),
              HasSubstr("Cannot delete the file " + (dir / "a.dat")));
  EXPECT_THAT(FileError([&] { manager.RenameFile(dir / "a.dat", dir / "b.dat"); }),
              HasSubstr("Cannot rename the file " + (dir / "a.dat") + " to " + (dir / "b.dat")));
  EXPECT_EQ(ReadWholeFile(dir / "a.dat"), "keep");
  EXPECT_EQ(manager.Count(), 0);
  ASSERT_TRUE(other.Close());
  // A shared opening elsewhere is enough to keep the file from going away.
  ASSERT_TRUE(other.Open(dir / "a.dat", false));
  EXPECT_THAT(FileError([&] { manager.DeleteFile(dir / "a.dat"); }), HasSubstr("Cannot delete"));
  ASSERT_TRUE(other.Close());
  manager.DeleteFile(dir / "a.dat");
  EXPECT_FALSE(manager.FileExists(dir / "a.dat"));
}

TEST_F(OSFileManagerTest, RenamingOntoAnExistingFileFailsAndBothKeepTheirContents) {
  WriteWholeFile(dir / "a.dat", "first");
  WriteWholeFile(dir / "b.dat", "second");
  EXPECT_EQ(FileError([&] { manager.RenameFile(dir / "a.dat", dir / "b.dat"); }),
            "File manager error (Cannot rename the file " + (dir / "a.dat") + " to " +
                (dir / "b.dat") + " (OS Error: " + OSErrorMessage(EEXIST) + "))");
  EXPECT_EQ(ReadWholeFile(dir / "a.dat"), "first");
  EXPECT_EQ(ReadWholeFile(dir / "b.dat"), "second");
}

TEST_F(OSFileManagerTest, MissingFilesGiveTheSystemsText) {
  EXPECT_EQ(FileError([&] { Open("none.dat"); }),
            "File manager error (Cannot open file " + (dir / "none.dat") +
                " (OS Error: " + OSErrorMessage(ENOENT) + "))");
  EXPECT_THAT(FileError([&] { manager.DeleteFile(dir / "none.dat"); }),
              HasSubstr("Cannot delete the file"));
  EXPECT_THAT(FileError([&] { manager.CreateFile(dir / "no/such/dir.dat", false, false, false); }),
              HasSubstr("Cannot create file"));
}

TEST_F(OSFileManagerTest, AFileWithoutWriteBitsOpensReadOnly) {
  WriteWholeFile(dir / "r.dat", "data");
  chmod((dir / "r.dat").c_str(), 0444);
  auto stream = Open("r.dat");
  EXPECT_TRUE(stream->IsFileReadOnly());
  EXPECT_TRUE(stream->ReadOnly);
  EXPECT_THAT(FileError([&] { stream->Write("x", 1); }),
              HasSubstr("Cannot write to the file " + (dir / "r.dat") + " (OS Error: "));
  char buffer[4];
  EXPECT_EQ(stream->Read(buffer, 4), 4);
  // Range locks still work on a read-only opening.
  EXPECT_TRUE(stream->SetRangeLock(true, 0, 1));
  auto writable = Create("w.dat");
  EXPECT_FALSE(writable->IsFileReadOnly());
  EXPECT_FALSE(manager.OpenFile(dir / "w.dat", false, false, false)->ReadOnly);
  EXPECT_TRUE(manager.OpenFile(dir / "w.dat", false, true, false)->ReadOnly);
}

TEST_F(OSFileManagerTest, SizesAreSixtyFourBit) {
  const int64_t size = 5000000000;  // sparse on disk
  auto stream = Create("big.dat");
  stream->SetSize(size);
  EXPECT_EQ(stream->GetSize(), size);
  stream->SetPosition(size - 1);
  ASSERT_EQ(stream->Write("z", 1), 1);
  stream->SetPosition(size - 2);
  char bytes[3] = {};
  EXPECT_EQ(stream->Read(bytes, 3), 2);
  EXPECT_EQ(std::string(bytes, 2), std::string("\0z", 2));
  EXPECT_EQ(manager.GetFileSize(dir / "big.dat"), size);
}

TEST_F(OSFileManagerTest, ExclusiveAccessKeepsFilesAndLocksInTheProcess) {
  engine.ExclusiveFileAccess = true;
  EXPECT_TRUE(manager.GetExclusiveAccess());
  auto stream = Create("a.dat");
  OtherProcess other;
  // Share mode none: another process cannot even open it.
  EXPECT_FALSE(other.Open(dir / "a.dat", false));
  ASSERT_TRUE(stream->SetRangeLock(true, 0, 10));
  stream.reset();
  // The closed file stays registered with its locks...
  EXPECT_EQ(manager.Count(), 1);
  EXPECT_FALSE(Open("a.dat")->SetRangeLock(true, 5, 1));
  // ...which the system never saw.
  ASSERT_TRUE(other.Open(dir / "a.dat", false));
  EXPECT_TRUE(other.Lock(0, 10));
  ASSERT_TRUE(other.Close());

  // The setting is read at every call: files opened afterwards are shared.
  engine.ExclusiveFileAccess = false;
  auto b = Create("b.dat");
  EXPECT_TRUE(other.Open(dir / "b.dat", false));
}

TEST_F(OSFileManagerTest, AFailedRenameOfARegisteredFileKeepsItInTheTable) {
  engine.ExclusiveFileAccess = true;
  Create("a.dat").reset();  // closed, but registered
  WriteWholeFile(dir / "b.dat", "on disk only");
  EXPECT_THAT(FileError([&] { manager.RenameFile(dir / "a.dat", dir / "b.dat"); }),
              HasSubstr("Cannot rename the file"));
  int32_t index;
  EXPECT_TRUE(manager.FindFile(dir / "a.dat", index));
  EXPECT_EQ(manager.Count(), 1);
  EXPECT_NE(Open("a.dat"), nullptr);
}

TEST_F(OSFileManagerTest, LimitsOfTheManagers) {
  TBRNOSFileManager plain(nullptr);
  TBRNEngineLargeOSFileManager large(nullptr, &engine);
  EXPECT_EQ(plain.GetMaxTableFileSize(), 2000000000);
  EXPECT_EQ(manager.GetMaxRowsetFileSize(), 4000000000);
  EXPECT_EQ(large.GetMaxRowsetFileSize(), 128000000000);
  EXPECT_EQ(large.GetMaxTableFileSize(), 1000000000000);
  EXPECT_FALSE(plain.GetExclusiveAccess());
}

TEST_F(OSFileManagerTest, DirectoriesAreCreatedAndRemoved) {
  std::string deep = dir.Path + "\\a\\b\\c\\";
  EXPECT_TRUE(manager.ForceDirectory(deep));
  EXPECT_TRUE(manager.DirectoryExists(dir.Path + "/a/b/c"));
  EXPECT_TRUE(manager.ForceDirectory(deep));  // existing
  EXPECT_TRUE(manager.ForceDirectory(""));
  EXPECT_TRUE(manager.ForceDirectory("/"));
  EXPECT_FALSE(manager.RemoveDirectory(dir.Path + "/a"));  // not empty
  EXPECT_TRUE(manager.RemoveDirectory(dir.Path + "/a/b/c/"));
  EXPECT_FALSE(manager.DirectoryExists(dir.Path + "/a/b/c"));
  EXPECT_TRUE(manager.RemoveDirectory(""));
  WriteWholeFile(dir / "file", "x");
  EXPECT_FALSE(manager.ForceDirectory(dir.Path + "/file/sub"));
}

TEST_F(OSFileManagerTest, ARelativeDirectoryWithoutSeparatorIsCreated) {
  // Only "/" and drives count as roots; a bare name is a directory to make.
  std::string previous = std::filesystem::current_path();
  ASSERT_EQ(chdir(dir.Path.c_str()), 0);
  bool created = manager.ForceDirectory("rel");
  bool exists = std::filesystem::is_directory(dir / "rel");
  ASSERT_EQ(chdir(previous.c_str()), 0);
  EXPECT_TRUE(created);
  EXPECT_TRUE(exists);
}

TEST_F(OSFileManagerTest, NamesOnTheDisk) {
  WriteWholeFile(dir / "f.dat", "12345");
  std::filesystem::create_directory(dir / "sub.dat");
  EXPECT_TRUE(manager.FileExists(dir / "f.dat"));
  EXPECT_TRUE(manager.FileExists(dir / "sub.dat"));  // a directory counts
  EXPECT_EQ(manager.GetFileSize(dir / "f.dat"), 5);
  EXPECT_EQ(manager.GetFileSize(dir / "sub.dat"), 0);
  EXPECT_EQ(manager.GetFileSize(dir / "none"), 0);
  EXPECT_EQ(manager.GetFileModified(dir / "none"), 0);
  int64_t now = CurrentTimestamp(false);
  int64_t modified = manager.GetFileModified(dir / "f.dat");
  EXPECT_LE(std::abs(now - modified), 60000) << now << " " << modified;
  EXPECT_LE(std::abs(Open("f.dat")->GetFileModified() - modified), 1000);
}

TEST_F(OSFileManagerTest, MasksMatchAsOnThePlatform) {
  for (const char* file : {"a.dat", "B.DAT", "c.txt", "noext", "ab.dat"}) {
    WriteWholeFile(dir / file, "x");
  }
  std::filesystem::create_directory(dir / "d.dat");
  struct Case {
    const char* mask;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"*.dat", {"B.DAT", "a.dat", "ab.dat"}},
      {"?.dat", {"B.DAT", "a.dat"}},
      {"*.*", {"B.DAT", "a.dat", "ab.dat", "c.txt", "noext"}},
      {"noext.*", {"noext"}},
      {"A*", {"a.dat", "ab.dat"}},
  };
  for (const Case& c : cases) {
    TBRNStringsList list;
    manager.ListFiles(dir.Path + "\\" + c.mask, true, list);
    EXPECT_EQ(list.GetItems(), c.names) << c.mask;
  }
  TBRNStringsList missing;
  manager.ListFiles(dir / "none/*", true, missing);
  EXPECT_EQ(missing.GetCount(), 0);
}

// The folder sync shows itself only where it cannot be done: with the
// folder moved away, the flush that owes it fails, and once it is done no
// later flush syncs the folder again.
TEST_F(OSFileManagerTest, TheFirstFlushOfANewFileAlsoSyncsItsFolder) {
  std::filesystem::create_directory(dir / "sub");
  auto stream = manager.CreateFile(dir / "sub/a.dat", false, false, false);
  auto temporary = manager.CreateFile(dir / "sub/t.tmp", false, true, false);
  ASSERT_EQ(stream->Write("x", 1), 1);
  std::filesystem::rename(dir / "sub", dir / "moved");
  EXPECT_EQ(FileError([&] { stream->Flush(); }),
            "File manager error (Cannot flush the file " + (dir / "sub/a.dat") +
                " (OS Error: " + OSErrorMessage(ENOENT) + "))");
  temporary->Flush();  // a temporary file never needs its name after a crash
  std::filesystem::rename(dir / "moved", dir / "sub");
  stream->Flush();
  std::filesystem::rename(dir / "sub", dir / "moved");
  stream->Flush();
  std::filesystem::rename(dir / "moved", dir / "sub");
}

TEST(OSFileLayerTest, FolderSyncFindsTheFolderOfAnyPath) {
  TempDirectory dir;
  struct Case {
    std::string path;
    bool synced;
  };
  const Case cases[] = {{dir / "a.dat", true},
                        {"a.dat", true},  // the current folder
                        {"/a.dat", true},
                        {dir / "none/a.dat", false}};
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_EQ(OSSyncDirectoryOf(c.path.c_str()), c.synced) << c.path;
    if (!c.synced) {
      EXPECT_EQ(errno, ENOENT) << c.path;
    }
  }
}

TEST(OSFileLayerTest, EmptyRangesAndBadRangesNeverReachTheSystem) {
  TempDirectory dir;
  std::string path = dir / "a.dat";
  TOSFileHandle handle = OSOpenFile(path.c_str(), true, false, false);
  ASSERT_NE(handle, InvalidOSFileHandle);
  // A length of 0 would lock to infinity.
  EXPECT_TRUE(OSLockFileRange(handle, 5, 0));
  OtherProcess other;
  ASSERT_TRUE(other.Open(path, false));
  EXPECT_TRUE(other.Lock(5, 1000));
  EXPECT_FALSE(OSLockFileRange(handle, -1, 1));
  EXPECT_FALSE(OSLockFileRange(handle, INT64_MAX, 2));
  EXPECT_TRUE(OSLockFileRange(handle, INT64_MAX, 1));
  EXPECT_TRUE(OSCloseFile(handle));
}

// A read-only opening holds a shared lock, a writable one an exclusive lock;
// a closed handle locks nothing.
TEST(OSFileLayerTest, ReadOnlyOpeningsShareARangeAndWritableOnesExcludeThem) {
  TempDirectory dir;
  std::string path = dir / "a.dat";
  TOSFileHandle writable = OSOpenFile(path.c_str(), true, false, false);
  TOSFileHandle reader = OSOpenFile(path.c_str(), false, true, false);
  TOSFileHandle otherReader = OSOpenFile(path.c_str(), false, true, false);
  ASSERT_NE(writable, InvalidOSFileHandle);
  ASSERT_NE(reader, InvalidOSFileHandle);
  ASSERT_NE(otherReader, InvalidOSFileHandle);
  EXPECT_TRUE(OSLockFileRange(reader, 0, 10));
  EXPECT_TRUE(OSLockFileRange(otherReader, 5, 10));
  EXPECT_FALSE(OSLockFileRange(writable, 9, 1));
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_TRUE(OSLockFileRange(writable, 15, 5));
  EXPECT_FALSE(OSLockFileRange(reader, 19, 1));
  EXPECT_TRUE(OSUnlockFileRange(reader, 0, 10));
  EXPECT_TRUE(OSUnlockFileRange(otherReader, 5, 10));
  EXPECT_TRUE(OSLockFileRange(writable, 0, 10));
  EXPECT_TRUE(OSCloseFile(otherReader));
  EXPECT_FALSE(OSLockFileRange(otherReader, 30, 1));
  EXPECT_EQ(errno, EBADF);
  EXPECT_TRUE(OSCloseFile(reader));
  EXPECT_TRUE(OSCloseFile(writable));
}

}  // namespace
}  // namespace brn
