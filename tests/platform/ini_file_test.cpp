#include "platform/ini_file.h"

#include <filesystem>
#include <system_error>

#include <gtest/gtest.h>

#include "foundation/file_test_support.h"

namespace brn {
namespace {

using testing::ReadWholeFile;
using testing::TempDirectory;
using testing::WriteWholeFile;

TEST(IniFileTest, MissingFileIsEmptyAndKeysKeepTheirWriteOrder) {
  TempDirectory temp;
  std::string path = temp / "host.ini";
  TBRNIniFile ini(path);
  EXPECT_FALSE(ini.SectionExists("Server"));
  EXPECT_EQ(ini.ReadInteger("Server", "Server Port", 12010), 12010);

  ini.WriteString("Server_B", "Signature", "sig");
  ini.WriteBool("Server_B", "Configuration In Memory", false);
  ini.WriteInteger("Server_B", "Server Port", 12011);
  ini.WriteString("Layout", "Window State", "2");
  ini.WriteString("server_b", "SIGNATURE", "again");  // same key, other case
  ini.UpdateFile();
  EXPECT_EQ(ReadWholeFile(path),
            "[Server_B]\nSignature=again\nConfiguration In Memory=0\nServer Port=12011\n\n"
            "[Layout]\nWindow State=2\n\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));

  TBRNIniFile back(path);
  EXPECT_EQ(back.ReadSection("SERVER_B"),
            (std::vector<std::string>{"Signature", "Configuration In Memory", "Server Port"}));
  EXPECT_EQ(back.ReadString("server_b", "server port", ""), "12011");
  back.DeleteKey("Server_B", "server port");
  EXPECT_FALSE(back.ValueExists("Server_B", "Server Port"));
}

TEST(IniFileTest, NumbersAndBooleansReadTheDefaultWhenNotANumber) {
  TempDirectory temp;
  WriteWholeFile(temp / "host.ini",
                 "; comment\r\n[S]\r\nA=12\r\nB=-3\r\nC=abc\r\nD=\r\nE=12x\r\n F = 7 \r\n"
                 "T=1\r\nZ=0\r\nTwo=2\r\nYes=yes\r\n");
  TBRNIniFile ini(temp / "host.ini");
  struct Case {
    const char* key;
    int64_t value;
  } numbers[] = {{"A", 12}, {"B", -3}, {"C", 99}, {"D", 99}, {"E", 99}, {"F", 7}, {"Missing", 99}};
  for (const Case& c : numbers) EXPECT_EQ(ini.ReadInteger("S", c.key, 99), c.value) << c.key;
  struct BoolCase {
    const char* key;
    bool whenTrue, whenFalse;  // read with default true, with default false
  } bools[] = {{"T", true, true}, {"Z", false, false}, {"Two", true, true}, {"Yes", true, false}};
  for (const BoolCase& c : bools) {
    EXPECT_EQ(ini.ReadBool("S", c.key, true), c.whenTrue) << c.key;
    EXPECT_EQ(ini.ReadBool("S", c.key, false), c.whenFalse) << c.key;
  }
}

TEST(IniFileTest, LineBreaksAreStoredAsTheToken) {
  TempDirectory temp;
  std::string path = temp / "host.ini";
  {
    TBRNIniFile ini(path);
    ini.WriteText("Server", "Server Description", "One\r\nTwo\nThree");
    ini.WriteText("Server", "Server Authorized Addresses", "*\r\n10.0.0.1\r\n");
    ini.UpdateFile();
  }
  EXPECT_EQ(ReadWholeFile(path),
            "[Server]\nServer Description=One<#CR#><#LF#>Two<#CR#><#LF#>Three\n"
            "Server Authorized Addresses=*<#CR#><#LF#>10.0.0.1<#CR#><#LF#>\n\n");
  TBRNIniFile ini(path);
  EXPECT_EQ(ini.ReadText("Server", "Server Description", ""), "One\r\nTwo\r\nThree");
  EXPECT_EQ(ini.ReadText("Server", "Server Authorized Addresses", ""), "*\r\n10.0.0.1\r\n");
  EXPECT_EQ(ini.ReadString("Server", "Server Description", ""),
            "One<#CR#><#LF#>Two<#CR#><#LF#>Three");
}

TEST(IniFileTest, FailedSaveThrowsAndLeavesNothingBehind) {
  TempDirectory temp;
  TBRNIniFile ini(temp / "missing/host.ini");
  ini.WriteString("S", "K", "V");
  EXPECT_THROW(ini.UpdateFile(), std::system_error);
  EXPECT_FALSE(std::filesystem::exists(temp / "missing"));

  // A file that exists but cannot be read is an error, not an empty file.
  std::filesystem::create_directory(temp / "folder.ini");
  EXPECT_THROW(TBRNIniFile(temp / "folder.ini"), std::system_error);
}

}  // namespace
}  // namespace brn
