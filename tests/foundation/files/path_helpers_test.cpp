#include <gtest/gtest.h>

#include <string>

#include "foundation/files/path_helpers.h"

namespace brn {
namespace {

TEST(PathHelpersTest, TakingPathsApart) {
  struct Case {
    const char* path;
    bool relative;
    const char* directory;
    const char* fileName;
    const char* extension;
  };
  const Case cases[] = {
      {"C:\\Data\\file.dat", false, "C:\\Data", "file.dat", ".dat"},
      {"/srv/data/file.tar.gz", false, "/srv/data", "file.tar.gz", ".gz"},
      {"\\share\\x", false, "\\share", "x", ""},
      {"data/x.y", true, "data", "x.y", ".y"},
      {"plain", true, "plain", "plain", ""},
      // A dot in a directory name is no extension.
      {"C:\\a.b\\file", false, "C:\\a.b", "file", ""},
      {"D:/a", false, "D:", "a", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsRelativePath(c.path), c.relative) << c.path;
    EXPECT_EQ(ExtractPathDirectory(c.path), c.directory) << c.path;
    EXPECT_EQ(ExtractPathFileName(c.path), c.fileName) << c.path;
    EXPECT_EQ(ExtractPathExtension(c.path), c.extension) << c.path;
  }
}

TEST(PathHelpersTest, ChangingExtensions) {
  EXPECT_EQ(RemoveFileExtension("C:\\a.b\\file", ""), "C:\\a.b\\file");
  EXPECT_EQ(RemoveFileExtension("C:\\a\\file.DAT", ".dat"), "C:\\a\\file");
  EXPECT_EQ(RemoveFileExtension("C:\\a\\file.dat", ".idx"), "C:\\a\\file.dat");
  EXPECT_EQ(RemoveFileExtension("file.dat", ""), "file");
  EXPECT_EQ(ReplaceFileExtension("x/file.dat", ".idx"), "x/file.idx");
  EXPECT_EQ(ReplaceFileExtension("x.d/file", ".idx"), "x.d/file");
  EXPECT_EQ(AppendFileExtension("x.BRNBkp", ".brnbkp", ".Tmp"), "x.Tmp");
  EXPECT_EQ(AppendFileExtension(" x.dat ", ".brnbkp", ".Tmp"), "x.dat.Tmp");
  EXPECT_EQ(AppendFileExtension("x", "", ".Tmp"), "x.Tmp");
  EXPECT_EQ(ExtractBaseFileName("C:\\Data\\cat.BRNCat", ".brncat"), "cat");
  EXPECT_EQ(ExtractBaseFileName("/data/cat.x", ""), "cat");
}

TEST(PathHelpersTest, TrailingSeparators) {
  EXPECT_EQ(RemoveTrailingBackslash("C:\\Data\\"), "C:\\Data");
  EXPECT_EQ(RemoveTrailingBackslash(" /srv/ "), "/srv");
  EXPECT_EQ(AddTrailingBackslash(" C:\\Data "), "C:\\Data\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\Data\\"), "C:\\Data\\");
  EXPECT_EQ(AddTrailingBackslash("/srv/data"), "/srv/data/");
  EXPECT_EQ(AddTrailingBackslash("data"), "data\\");
  EXPECT_EQ(AddTrailingBackslash("  "), "");
}

}  // namespace
}  // namespace brn
