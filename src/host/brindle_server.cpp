// brindle-server CONFIG_FOLDER [ADDRESS [PORT]]
//
// Runs a Brindle server in the foreground: its configuration in
// CONFIG_FOLDER (created when missing), listening on ADDRESS (default
// 127.0.0.1) and PORT (default 12010). Ctrl-C or SIGTERM stops the engine;
// the exit code is 0 after a clean stop, 1 when the engine failed to start
// or stop.

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "clientserver/server/server_engine_manager.h"
#include "foundation/text/string_list.h"
#include "sessions/engine_settings.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: brindle-server CONFIG_FOLDER [ADDRESS [PORT]]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) return usage();
  std::string folder = argv[1];
  std::string address = argc > 2 ? argv[2] : "127.0.0.1";
  int port = 12010;
  if (argc > 3) {
    char* end = nullptr;
    long value = std::strtol(argv[3], &end, 10);
    if (end == argv[3] || *end != '\0' || value < 1 || value > 65535) return usage();
    port = int(value);
  }

  // Every thread the engine starts inherits the blocked signals, so that
  // only sigwait below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  brn::TBRNServerEngineManager engine;
  try {
    std::filesystem::create_directories(folder);
    std::string path = std::filesystem::absolute(folder).string();
    if (!path.empty() && path.back() != '/') path += '/';
    engine.Settings->SetConfigPath(path);
    engine.ServerAddress = address;
    engine.ServerPort = port;
    engine.ServerAuthorizedAddresses->Add("*");
    engine.Start();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "brindle-server: %s\n", error.what());
    return 1;
  }
  std::printf("Brindle server listening on %s:%d, configuration in %s (Ctrl-C stops it)\n",
              address.c_str(), port, folder.c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stopSignals, &received);
  std::printf("Stopping the Brindle server...\n");
  std::fflush(stdout);
  try {
    engine.Stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "brindle-server: %s\n", error.what());
    return 1;
  }
  std::printf("Brindle server stopped.\n");
  return 0;
}
