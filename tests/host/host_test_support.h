#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "foundation/file_test_support.h"

namespace brn::testing {

// Points every system path the host may touch into a temporary folder and
// makes it the current folder; the old values come back afterwards. Tests
// that install services call RequireSandbox first, so that a fixture that
// failed to set the paths fails rather than writes into /etc.
class HostSandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    oldFolder_ = std::filesystem::current_path().string();
    Save("BRN_SYSTEMD_ROOT", temp.Path + "/root");
    Save("BRN_REGISTRY_FILE", temp.Path + "/registry.ini");
    Save("XDG_RUNTIME_DIR", temp.Path + "/run");
    Save("NOTIFY_SOCKET", "");
    Save("DISPLAY", "");
    Save("WAYLAND_DISPLAY", "");
    std::filesystem::create_directories(temp.Path + "/work");
    std::filesystem::current_path(temp.Path + "/work");
  }
  void TearDown() override {
    std::filesystem::current_path(oldFolder_);
    for (int i = count_ - 1; i >= 0; --i) {
      if (saved_[i].had) {
        ::setenv(saved_[i].name, saved_[i].value.c_str(), 1);
      } else {
        ::unsetenv(saved_[i].name);
      }
    }
  }

  // Sets (or with an empty value removes) a variable for this test.
  void Save(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    bool known = false;
    for (int i = 0; i < count_; ++i) known = known || std::string(saved_[i].name) == name;
    if (!known) saved_[count_++] = {name, old != nullptr, old != nullptr ? old : ""};
    if (value.empty()) {
      ::unsetenv(name);
    } else {
      ::setenv(name, value.c_str(), 1);
    }
  }

  static void RequireSandbox(const std::string& folder) {
    for (const char* name : {"BRN_SYSTEMD_ROOT", "BRN_REGISTRY_FILE"}) {
      const char* value = std::getenv(name);
      ASSERT_NE(value, nullptr) << name << " must be set";
      ASSERT_EQ(std::string(value).rfind(folder, 0), 0u) << name << " outside the test folder";
    }
  }

  TempDirectory temp;

 private:
  struct Saved {
    const char* name;
    bool had;
    std::string value;
  };
  Saved saved_[8];
  int count_ = 0;
  std::string oldFolder_;
};

}  // namespace brn::testing
