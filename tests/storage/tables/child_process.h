#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

#include "foundation/files/os_file_manager.h"

namespace brn::testing {

// Runs work in a forked child, whose exit code is work's answer (99 when it
// threw); answers the child's pid. The child never returns into the test.
inline pid_t Fork(const std::function<int()>& work) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int rc = 99;
  try {
    rc = work();
  } catch (...) {
  }
  _exit(rc);
}

// OS files whose Nth write after arming kills the process (kill -9), to
// crash a forked child at a chosen write.
class KillingFiles : public TBRNOSFileManager {
 public:
  using TBRNOSFileManager::TBRNOSFileManager;
  int32_t WritesLeft = 0;  // 0: disarmed

  TBRNFile* CreateFileObject() override { return new KillingFile(this); }

 private:
  class KillingFile : public TBRNOSFile {
   public:
    explicit KillingFile(KillingFiles* owner) : TBRNOSFile(owner), owner_(owner) {}
    int32_t Write(const void* buffer, int32_t count) override {
      if (owner_->WritesLeft > 0 && --owner_->WritesLeft == 0) raise(SIGKILL);
      return TBRNOSFile::Write(buffer, count);
    }

   private:
    KillingFiles* owner_;
  };
};

// The exit code of a child, -1 when a signal ended it.
inline int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace brn::testing
