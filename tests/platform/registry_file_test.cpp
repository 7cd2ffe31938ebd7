#include "platform/registry_file.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/file_test_support.h"

namespace brn {
namespace {

using testing::TempDirectory;

// Sets a variable for one test (an empty value removes it) and puts the old
// value back afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value.empty()) {
      ::unsetenv(name);
    } else {
      ::setenv(name, value.c_str(), 1);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class RegistryFileTest : public ::testing::Test {
 protected:
  TempDirectory temp;
  // Nothing here may reach the machine's own files.
  ScopedVariable systemdRoot{"BRN_SYSTEMD_ROOT", temp.Path + "/root"};
  ScopedVariable registryFile{"BRN_REGISTRY_FILE", temp.Path + "/registry.ini"};
};

TEST_F(RegistryFileTest, FileNameComesFromTheVariableOrTheKindOfProgram) {
  ASSERT_STREQ(std::getenv("BRN_REGISTRY_FILE"), (temp.Path + "/registry.ini").c_str());
  EXPECT_EQ(TBRNRegistryFile::DefaultFileName(true), temp.Path + "/registry.ini");
  EXPECT_EQ(TBRNRegistryFile::DefaultFileName(false), temp.Path + "/registry.ini");
  ScopedVariable noFile("BRN_REGISTRY_FILE", "");
  ScopedVariable home("HOME", temp.Path + "/home");
  EXPECT_EQ(TBRNRegistryFile::DefaultFileName(true), "/etc/brindle/registry.ini");
  EXPECT_EQ(TBRNRegistryFile::DefaultFileName(false),
            temp.Path + "/home/.config/brindle/registry.ini");
}

TEST_F(RegistryFileTest, ValuesLiveInSectionsNamedLikeTheKeysInAPrivateFile) {
  const std::string fileName = temp.Path + "/config/brindle/registry.ini";
  TBRNRegistryFile registry(fileName);
  EXPECT_EQ(registry.ReadString("\\SOFTWARE\\VORN\\VornDbServer", "Password"), "");

  registry.WriteString("\\SOFTWARE\\VORN\\VornDbServer", "Password", "abc");
  registry.WriteString("\\SOFTWARE\\Other", "Value", "x");
  TBRNRegistryFile again(fileName);
  EXPECT_EQ(again.ReadString("\\SOFTWARE\\VORN\\VornDbServer", "password"), "abc");
  EXPECT_EQ(again.ReadString("\\SOFTWARE\\VORN", "Password"), "");
  std::ifstream file(fileName);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"[SOFTWARE\\VORN\\VornDbServer]", "Password=abc", "",
                                             "[SOFTWARE\\Other]", "Value=x", ""}));
  struct stat status {};
  ASSERT_EQ(::stat(fileName.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((temp.Path + "/config/brindle").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace brn
