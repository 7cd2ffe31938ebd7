#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

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

// The exit code of a child, -1 when a signal ended it.
inline int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace brn::testing
