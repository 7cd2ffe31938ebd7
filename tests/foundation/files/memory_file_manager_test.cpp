#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "foundation/file_test_support.h"
#include "foundation/text/exception.h"
#include "foundation/files/memory_file_manager.h"

namespace brn {
namespace {

using testing::FileError;

class MemoryFileManagerTest : public ::testing::Test {
 protected:
  TBRNMemoryFileManager manager{nullptr};

  std::unique_ptr<TBRNFileStream> Create(const std::string& name) {
    return manager.CreateFile(name, false, false, false);
  }
  static TBRNMemoryFile& FileOf(TBRNFileStream& stream) {
    return dynamic_cast<TBRNMemoryFile&>(*stream.File);
  }
};

TEST_F(MemoryFileManagerTest, ContentsLiveInBlocksOf16K) {
  struct Case {
    int32_t written;
    size_t blocks;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {16384, 1}, {16385, 2}, {40000, 3}};
  for (const Case& c : cases) {
    auto stream = Create("/m/a.dat");
    std::string data(size_t(c.written), 'x');
    stream->Write(data.data(), c.written);
    EXPECT_EQ(FileOf(*stream).Blocks.size(), c.blocks) << c.written;
    EXPECT_EQ(FileOf(*stream).Allocated, int64_t(c.blocks) * 16384);
  }
  // Bytes that cross a block boundary come back in one read.
  auto stream = Create("/m/b.dat");
  std::string data(20000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7);
  stream->Write(data.data(), int32_t(data.size()));
  std::string back(300, '\0');
  stream->SetPosition(16384 - 150);
  EXPECT_EQ(stream->Read(back.data(), 300), 300);
  EXPECT_EQ(back, data.substr(16384 - 150, 300));
  stream->SetSize(0);
  EXPECT_EQ(FileOf(*stream).Allocated, 0);
  EXPECT_TRUE(FileOf(*stream).Blocks.empty());
}

TEST_F(MemoryFileManagerTest, NegativePositionsReadNothingAndRefuseWrites) {
  auto stream = Create("/m/a.dat");
  stream->Write("abc", 3);
  EXPECT_EQ(stream->Seek(0, -2), -2);
  char buffer[3];
  EXPECT_EQ(stream->Read(buffer, 3), 0);
  EXPECT_EQ(stream->GetPosition(), -2);
  EXPECT_THROW(stream->Write("z", 1), std::out_of_range);
  EXPECT_EQ(stream->GetSize(), 3);
  EXPECT_THROW(stream->Seek(1, INT64_MIN), std::out_of_range);
  EXPECT_THROW(stream->SetSize(-1), std::out_of_range);
}

TEST_F(MemoryFileManagerTest, PositionsAreSixtyFourBit) {
  auto stream = Create("/m/a.dat");
  EXPECT_EQ(stream->Seek(0, 5000000000), 5000000000);
  char buffer[1];
  EXPECT_EQ(stream->Read(buffer, 1), 0);
  EXPECT_EQ(stream->Seek(2, 5000000000), 5000000000);
}

TEST_F(MemoryFileManagerTest, NamesLiveOnlyInTheTable) {
  EXPECT_EQ(FileError([&] { manager.OpenFile("/m/never.dat", false, false, false); }),
            "File manager error (File /m/never.dat not found)");
  EXPECT_THROW(manager.RenameFile("/m/never.dat", "/m/other.dat"), EBRNException);
  {
    auto stream = Create("/m/a.dat");
    EXPECT_EQ(stream->GetFileCreated(), 0);
    EXPECT_EQ(stream->GetFileModified(), 0);
  }
  EXPECT_EQ(manager.Count(), 1);  // closed, still registered
  EXPECT_TRUE(manager.DirectoryExists("/anything"));
  EXPECT_TRUE(manager.ForceDirectory("/anything/else"));
  manager.DeleteFile("/m/a.dat");
  EXPECT_EQ(manager.Count(), 0);
}

}  // namespace
}  // namespace brn
