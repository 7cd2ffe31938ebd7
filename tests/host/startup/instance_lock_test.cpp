#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_test_support.h"

namespace brn {
namespace {

// The probe program started in a folder with arguments: its standard input
// stays open (the probe runs until it closes), its output is read back.
class Probe {
 public:
  Probe(const std::string& folder, std::vector<std::string> args) {
    args.insert(args.begin(), BRN_INSTANCE_PROBE);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      if (::chdir(folder.c_str()) != 0) ::_exit(126);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~Probe() {
    CloseInput();
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(stdout_);
  }

  // Output until the first line break, or all of it when the probe ends
  // first; waits at most 10 seconds.
  std::string ReadLine() {
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd wait{stdout_, POLLIN, 0};
      if (::poll(&wait, 1, 100) <= 0) continue;
      char buffer[256];
      ssize_t got = ::read(stdout_, buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, size_t(got));
    }
    return text;
  }

  // The exit code once the probe ends by itself within 10 seconds; -1 when
  // it is still running.
  int WaitExit() {
    for (int i = 0; i < 1000; ++i) {
      int status = 0;
      pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(10000);
    }
    return -1;
  }

  void CloseInput() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
};

class InstanceLockTest : public testing::HostSandbox {};

TEST_F(InstanceLockTest, OneProcessPerProgramFileAndInstanceName) {
  RequireSandbox(temp.Path);
  if (HasFatalFailure()) return;
  std::string one = temp.Path + "/one", two = temp.Path + "/two";
  std::filesystem::create_directories(one);
  std::filesystem::create_directories(two);

  Probe first(one, {});
  ASSERT_EQ(first.ReadLine(), "running host_instance_probe\n");

  // Later starts of the same program file end at once without output, also
  // from another folder and also when asked to install.
  struct Case {
    const char* folder;
    std::vector<std::string> args;
  } repeats[] = {{one.c_str(), {}}, {two.c_str(), {}}, {two.c_str(), {"/INSTALL"}}};
  for (const Case& c : repeats) {
    Probe again(c.folder, c.args);
    EXPECT_EQ(again.WaitExit(), 0) << c.folder;
    EXPECT_EQ(again.ReadLine(), "") << c.folder;
  }
  EXPECT_FALSE(std::filesystem::exists(temp.Path + "/root"));

  // Named instances differ by their name as written.
  Probe upper(two, {"-name=B"});
  Probe lower(two, {"/name=b"});
  EXPECT_EQ(upper.ReadLine(), "running B\n");
  EXPECT_EQ(lower.ReadLine(), "running b\n");
  Probe upperAgain(one, {"\\NAME=B"});
  EXPECT_EQ(upperAgain.WaitExit(), 0);
  EXPECT_EQ(upperAgain.ReadLine(), "");

  // The lock ends with its process.
  first.CloseInput();
  EXPECT_EQ(first.WaitExit(), 0);
  Probe next(two, {});
  EXPECT_EQ(next.ReadLine(), "running host_instance_probe\n");
}

}  // namespace
}  // namespace brn
