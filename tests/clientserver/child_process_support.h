#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace brn::test {

// This test binary run again as a second process that executes one disabled
// test, with extra environment variables. The child's standard input is a
// pipe: closing it asks a child that serves to end. The child is waited for
// (and killed after a bound) when the object goes.
class ChildTestProcess {
 public:
  ChildTestProcess(const std::string& testName,
                   const std::vector<std::pair<std::string, std::string>>& environment) {
    // Everything the child needs is built before the fork: only exec-safe
    // calls happen in between.
    std::vector<std::string> envText;
    for (char** entry = environ; *entry != nullptr; ++entry) envText.emplace_back(*entry);
    for (const auto& [name, value] : environment) envText.push_back(name + "=" + value);
    std::vector<std::string> argText = {"/proc/self/exe", "--gtest_filter=" + testName,
                                        "--gtest_also_run_disabled_tests"};
    std::vector<char*> argv;
    for (std::string& arg : argText) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);
    int input[2];
    if (::pipe(input) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(input[0], 0);
      ::close(input[0]);
      ::close(input[1]);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(input[0]);
    input_ = input[1];
  }

  ~ChildTestProcess() {
    CloseInput();
    if (Wait(30000) == kNotEnded) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  ChildTestProcess(const ChildTestProcess&) = delete;
  ChildTestProcess& operator=(const ChildTestProcess&) = delete;

  bool Started() const { return pid_ > 0; }

  void CloseInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }

  // The child's exit code; kNotEnded when it is still running after
  // timeoutMs.
  int Wait(int timeoutMs) {
    if (pid_ <= 0) return -1;
    if (ended_) return exitCode_;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        ended_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return exitCode_;
      }
      if (std::chrono::steady_clock::now() > until) return kNotEnded;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  static constexpr int kNotEnded = -2;

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  bool ended_ = false;
  int exitCode_ = -1;
};

// In a serving child: blocks until the parent closes standard input (at most
// limitMs).
inline void WaitForParentToClose(int limitMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  char byte = 0;
  while (std::chrono::steady_clock::now() < until) {
    pollfd in{0, POLLIN, 0};
    if (::poll(&in, 1, 100) > 0 && ::read(0, &byte, 1) <= 0) return;
  }
}

// A file written whole under a temporary name, so the reader sees it complete
// or not at all.
inline void PublishText(const std::string& path, const std::string& text) {
  { std::ofstream(path + ".tmp") << text; }
  std::filesystem::rename(path + ".tmp", path);
}

// The text of a published file; empty when it did not appear in time.
inline std::string AwaitText(const std::string& path, int limitMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (std::chrono::steady_clock::now() < until) {
    if (std::filesystem::exists(path)) {
      std::ifstream in(path);
      std::string text;
      std::getline(in, text);
      return text;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::string();
}

}  // namespace brn::test
