#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "platform/os_file.h"
#include "foundation/test_support.h"

namespace brn::testing {

// A fresh directory per test, removed afterwards.
class TempDirectory {
 public:
  TempDirectory() {
    static std::atomic<int> counter{0};
    const char* base = std::getenv("BRN_TEST_TMP");
    Path = std::string(base && *base ? base : "/tmp") + "/files-" + std::to_string(getpid()) + "-" +
           std::to_string(counter++);
    std::filesystem::remove_all(Path);
    std::filesystem::create_directories(Path);
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::permissions(Path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(Path, ignored);
  }
  std::string operator/(const std::string& name) const { return Path + "/" + name; }

  std::string Path;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

// Runs action and returns the message of the file error (600) it raises.
template <typename Action>
std::string FileError(Action action) {
  EBRNException e = CaughtError(action);
  EXPECT_EQ(e.ErrorCode, 600);
  return e.ErrorMessage;
}

// A second process of the engine that opens one file and takes range locks
// on command. The child only makes plain system calls between fork and exit
// (it allocates nothing), which keeps it safe under the sanitizers.
class OtherProcess {
 public:
  OtherProcess() {
    int commands[2], replies[2];
    if (pipe(commands) != 0 || pipe(replies) != 0) throw std::runtime_error("pipe");
    pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
      close(commands[1]);
      close(replies[0]);
      Serve(commands[0], replies[1]);
    }
    close(commands[0]);
    close(replies[1]);
    commandFd = commands[1];
    replyFd = replies[0];
  }
  ~OtherProcess() {
    if (pid > 0) {
      close(commandFd);  // the child ends when its command pipe closes
      int status;
      waitpid(pid, &status, 0);
    }
    close(replyFd);
  }
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;

  bool Open(const std::string& path, bool exclusive) { return Ask('O', exclusive, 0, path); }
  bool Lock(int64_t offset, int64_t length) { return Ask('L', offset, length); }
  bool Unlock(int64_t offset, int64_t length) { return Ask('U', offset, length); }
  bool Close() { return Ask('C', 0, 0); }
  // Ends the process at once, as a crash would.
  void Kill() {
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
    close(commandFd);
    pid = -1;
  }

 private:
  struct Command {
    char op;
    int64_t a;
    int64_t b;
    char path[1024];
  };

  [[noreturn]] static void Serve(int commands, int replies) {
    // Inherited descriptors share their open file (and its share mode and
    // range locks) with the parent; holding them would keep the parent's
    // locks alive after the parent closed its files.
    for (int fd = 3; fd < 4096; ++fd) {
      if (fd != commands && fd != replies) close(fd);
    }
    TOSFileHandle handle = InvalidOSFileHandle;
    Command command;
    while (read(commands, &command, sizeof command) == sizeof command) {
      char result = 0;
      switch (command.op) {
        case 'O':
          handle = OSOpenFile(command.path, false, false, command.a != 0);
          result = handle != InvalidOSFileHandle;
          break;
        case 'L':
          result = OSLockFileRange(handle, command.a, command.b);
          break;
        case 'U':
          result = OSUnlockFileRange(handle, command.a, command.b);
          break;
        case 'C':
          result = OSCloseFile(handle);
          handle = InvalidOSFileHandle;
          break;
      }
      if (write(replies, &result, 1) != 1) break;
    }
    _exit(0);
  }

  bool Ask(char op, int64_t a, int64_t b, const std::string& path = "") {
    Command command{};
    command.op = op;
    command.a = a;
    command.b = b;
    std::string native = OSNativePath(path);
    if (native.size() >= sizeof command.path) throw std::length_error("path too long");
    std::memcpy(command.path, native.c_str(), native.size() + 1);
    if (write(commandFd, &command, sizeof command) != sizeof command) {
      throw std::runtime_error("command");
    }
    char result;
    if (read(replyFd, &result, 1) != 1) throw std::runtime_error("reply");
    return result != 0;
  }

  pid_t pid = -1;
  int commandFd = -1;
  int replyFd = -1;
};

}  // namespace brn::testing
