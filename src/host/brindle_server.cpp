// brindle-server [-name=NAME] [-desc=DESCRIPTION] [-INSTALL | -UNINSTALL] [-NOINTERACT]
//
// The Brindle database server. Its settings are in the file named after the
// program with ".ini", beside it. Without a display, as a service or with
// "No User Interface"=1 it runs headless until SIGINT or SIGTERM; else it
// shows its window. A second start of the same instance ends at once.

#include <signal.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "host/main/host_panels.h"
#include "host/main/host_program.h"
#include "host/startup/host_startup.h"

#ifdef BRN_HOST_UI
#include "host/ui/host_panels_window.h"
#include "host/ui/main_window.h"
#endif

int main(int argc, char** argv) {
  // A client that goes away mid-answer must not end the server.
  ::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string program = brn::ResolvedProgramPath();
  if (program.empty()) program = argv[0];
  brn::TBRNHostProgram host(program);
  host.MakePanels = [](brn::TMainForm& form) -> std::unique_ptr<brn::TBRNMainFormPanels> {
    return std::make_unique<brn::TBRNHostPanels>(form, nullptr);
  };
#ifdef BRN_HOST_UI
  host.MakeDesktop = [&]() -> std::unique_ptr<brn::TBRNHostDesktop> {
    auto desktop = std::make_unique<brn::TBRNQtDesktop>(program, argc, argv);
    desktop->MakePanels = [](brn::TMainForm& form, brn::TBRNMainWindow& window)
        -> std::unique_ptr<brn::TBRNMainFormPanels> {
      return std::make_unique<brn::TBRNQtHostPanels>(form, window);
    };
    return desktop;
  };
#endif
  try {
    return brn::HostMain(args, program, host);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "brindle-server: %s\n", error.what());
    return 1;
  }
}
