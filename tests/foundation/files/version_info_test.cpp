#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/file_test_support.h"
#include "foundation/files/version_info.h"
#include "platform/os_version.h"

namespace brn {
namespace {

using testing::TempDirectory;
using testing::WriteWholeFile;

// A minimal ELF file: a null section, the section names and, when given, a
// section named name holding contents.
std::string MakeElf(bool is64, bool bigEndian, const std::string& name,
                    const std::vector<uint8_t>& contents) {
  std::string file(64, '\0');
  auto put = [&file, bigEndian](size_t offset, uint64_t value, int size) {
    if (file.size() < offset + size_t(size)) file.resize(offset + size_t(size));
    for (int i = 0; i < size; ++i) {
      file[offset + size_t(i)] = char(value >> (8 * (bigEndian ? size - 1 - i : i)));
    }
  };
  std::string names = std::string("\0.shstrtab\0", 11) + name + '\0';
  size_t namesOffset = 64, dataOffset = namesOffset + names.size();
  file += names;
  file.append(contents.begin(), contents.end());
  size_t table = (file.size() + 7) / 8 * 8;
  size_t entry = is64 ? 64 : 40;
  file.resize(table + 3 * entry);
  file[0] = 0x7F, file[1] = 'E', file[2] = 'L', file[3] = 'F';
  file[4] = is64 ? 2 : 1;
  file[5] = bigEndian ? 2 : 1;
  file[6] = 1;
  if (is64) {
    put(0x28, table, 8), put(0x3A, entry, 2), put(0x3C, 3, 2), put(0x3E, 1, 2);
  } else {
    put(0x20, table, 4), put(0x2E, entry, 2), put(0x30, 3, 2), put(0x32, 1, 2);
  }
  struct Section {
    uint64_t name, type, offset, size;
  };
  const Section sections[] = {
      {0, 0, 0, 0}, {1, 3, namesOffset, names.size()}, {11, 1, dataOffset, contents.size()}};
  for (size_t i = 0; i < 3; ++i) {
    size_t base = table + i * entry;
    put(base, sections[i].name, 4);
    put(base + 4, sections[i].type, 4);
    put(base + (is64 ? 0x18 : 0x10), sections[i].offset, is64 ? 8 : 4);
    put(base + (is64 ? 0x20 : 0x14), sections[i].size, is64 ? 8 : 4);
  }
  return file;
}

std::vector<uint8_t> SampleResource() {
  // Language 0409, code page 04E4 first; a second translation is ignored.
  std::string translations("\x09\x04\xE4\x04\x07\x04\xB0\x04", 8);
  std::string block = "\\StringFileInfo\\040904E4\\";
  return OSBuildVersionResource({
      {"\\VarFileInfo\\Translation", translations},
      {"\\StringFileInfo\\040704B0\\FileVersion", "wrong block"},
      {block + "FileDescription", "Sample module"},
      {block + "FileVersion", std::string("1.2.3.4\0junk", 12)},
      {block + "OriginalFilename", "sample.so"},
      {block + "CompanyName", "Brindle"},
      {block + "ProductName", "Brindle Modules"},
      {block + "ProductVersion", "1.2"},
      {block + "InternalName", "sample"},
      {block + "LegalCopyright", "(c) Brindle"},
  });
}

TEST(VersionInfoTest, ReadsTheStringsOfTheFirstTranslation) {
  TempDirectory dir;
  for (bool is64 : {true, false}) {
    std::string path = dir / (is64 ? "m64.so" : "m32.so");
    WriteWholeFile(path, MakeElf(is64, !is64, ".brn_version", SampleResource()));
    TBRNVersionInfo info(path);
    EXPECT_EQ(info.FileName, path);
    EXPECT_EQ(info.FileDescription, "Sample module");
    EXPECT_EQ(info.FileVersion, "1.2.3.4");
    EXPECT_EQ(info.OriginalFileName, "sample.so");
    EXPECT_EQ(info.CompanyName, "Brindle");
    EXPECT_EQ(info.ProductName, "Brindle Modules");
    EXPECT_EQ(info.ProductVersion, "1.2");
    EXPECT_EQ(info.InternalName, "sample");
    EXPECT_EQ(info.LegalNotice, "(c) Brindle");
  }
}

TEST(VersionInfoTest, FilesWithoutAUsableResourceReportOnlyTheirName) {
  TempDirectory dir;
  std::vector<uint8_t> resource = SampleResource();
  std::vector<uint8_t> cut(resource.begin(), resource.end() - 3);
  std::string elf = MakeElf(true, false, ".brn_version", resource);
  std::string truncated = elf.substr(0, 80);  // the section table is gone
  struct Case {
    const char* name;
    std::string contents;
  };
  const Case cases[] = {
      {"other-section.so", MakeElf(true, false, ".data", resource)},
      {"cut-entry.so", MakeElf(true, false, ".brn_version", cut)},
      {"truncated.so", truncated},
      {"text.txt", "not an executable at all"},
      {"empty.so", ""},
  };
  std::vector<std::string> paths = {"/proc/self/exe", dir / "missing.so"};
  for (const Case& c : cases) {
    WriteWholeFile(dir / c.name, c.contents);
    paths.push_back(dir / c.name);
  }
  for (const std::string& path : paths) {
    TBRNVersionInfo info(path);
    EXPECT_EQ(info.FileName, path);
    EXPECT_EQ(info.FileDescription + info.FileVersion + info.OriginalFileName + info.CompanyName +
                  info.ProductName + info.ProductVersion + info.InternalName + info.LegalNotice,
              "")
        << path;
  }
}

}  // namespace
}  // namespace brn
