// brn_load_tool [--threads N] [--seconds S] [--address A --port P]
//               [--user U --password W]
// Runs the client load against a server and prints what it measured. Without
// --port it starts a server of its own on an ephemeral port of 127.0.0.1,
// with its configuration in a fresh folder under the system's temporary
// folder (removed at the end). Exit code 0 when no invariant broke, 1 when
// one did, 2 for bad arguments.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "clientserver/server/server_engine_manager.h"
#include "foundation/text/string_list.h"
#include "sessions/engine_manager.h"
#include "tools/load_tool.h"

int main(int argc, char** argv) {
  using namespace brn;
  test::LoadOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) {
      std::cerr << "missing value of " << name << "\n";
      return 2;
    }
    const std::string value = argv[++i];
    if (name == "--threads")
      options.Threads = std::atoi(value.c_str());
    else if (name == "--seconds")
      options.Duration = std::chrono::seconds(std::atoi(value.c_str()));
    else if (name == "--address")
      options.Address = value;
    else if (name == "--port")
      options.Port = uint16_t(std::atoi(value.c_str()));
    else if (name == "--user")
      options.User = value;
    else if (name == "--password")
      options.Password = value;
    else {
      std::cerr << "unknown option " << name << "\n";
      return 2;
    }
  }
  // Bounded: 1 to 256 clients for at most ten minutes.
  if (options.Threads < 1 || options.Threads > 256 || options.Duration.count() <= 0 ||
      options.Duration > std::chrono::minutes(10)) {
    std::cerr << "threads 1-256 and seconds 1-600 please\n";
    return 2;
  }

  std::filesystem::path folder;
  std::unique_ptr<TBRNServerEngineManager> server;
  if (options.Port == 0) {
    folder = std::filesystem::temp_directory_path() / ("brn-load-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    server = std::make_unique<TBRNServerEngineManager>();
    server->Settings->SetConfigPath(folder.string());
    server->ServerAddress = "127.0.0.1";
    server->ServerPort = 0;
    server->ServerAuthorizedAddresses->Add("*");
    server->JobTimerInterval = 0;
    server->Start();
    options.Port = server->GetListeningPort();
  }
  int result = 0;
  {
    TBRNEngineManager clientEngine;
    const test::LoadReport report = test::RunLoad(clientEngine, options);
    std::cout << report.Text();
    result = report.Failures.empty() ? 0 : 1;
  }
  if (server) {
    server->Stop();
    server.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  return result;
}
