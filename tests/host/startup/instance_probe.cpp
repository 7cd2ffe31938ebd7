// Starts as the host program does, prints "running <server name>" when it
// gets to run and then waits until its standard input closes (at most 30
// seconds). It refuses to run, exit code 3, unless the service manager's
// and the registry's paths point away from the system, so that an install
// can never reach /etc.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/startup/host_startup.h"

namespace {

class ProbeRunner : public brn::TBRNHostRunner {
 public:
  int Run(const brn::TBRNHostRunOptions&) override {
    std::printf("running %s\n", brn::HostServerName.c_str());
    std::fflush(stdout);
    char buffer[64];
    while (::read(0, buffer, sizeof buffer) > 0) {
    }
    return 0;
  }
};

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

int main(int argc, char** argv) {
  if (!Set("BRN_SYSTEMD_ROOT") || !Set("BRN_REGISTRY_FILE") || !Set("XDG_RUNTIME_DIR")) return 3;
  ::alarm(30);
  std::vector<std::string> args(argv + 1, argv + argc);
  ProbeRunner runner;
  return brn::HostMain(args, brn::ResolvedProgramPath(), runner);
}
