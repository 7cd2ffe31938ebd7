#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace brn {
class TBRNEngineManager;
}

namespace brn::test {

// What a load run does: Threads client threads, each with a remote session
// of its own logged in to the server at Address:Port, work for Duration in
// a loop of transfers between accounts (in transactions), cursor inserts and
// filtered SELECTs. The database is created in memory on the server by the
// run and left there.
struct LoadOptions {
  std::string Address = "127.0.0.1";
  uint16_t Port = 0;
  std::string User = "Administrator";
  std::string Password = "GlenHarbor";
  std::string Database = "LoadTest";
  int32_t Threads = 64;
  std::chrono::milliseconds Duration{20000};
  int32_t Accounts = 64;
  int32_t InitialBalance = 1000;
  // How long a transfer waits for the table locks of its transaction.
  int32_t LockWaitMs = 2000;
  uint32_t Seed = 4917;
  // Sessions on the server that are not the run's (left alone by it).
  int32_t OtherSessions = 0;
};

// The outcome of a run. Failures lists every broken invariant (the balance
// sum changed, a client's rows differ from its counters, a session or a row
// lock left after logout, an unexpected error); a good run has none.
struct LoadReport {
  int64_t Operations = 0;
  int64_t Transfers = 0;
  int64_t Inserts = 0;
  int64_t Selects = 0;
  // Transfers that gave up (lock wait) and were rolled back, by error code.
  std::map<int32_t, int64_t> Refused;
  // Sum checks made while the clients worked.
  int64_t SumChecks = 0;
  double Seconds = 0;
  double Throughput = 0;  // operations per second
  double P99Ms = 0;
  double MaxMs = 0;
  int32_t Threads = 0;  // client threads
  // Peaks of the process while the run went on.
  int32_t PeakProcessThreads = 0;
  int32_t PeakDescriptors = 0;
  int64_t PeakResidentKiB = 0;
  std::vector<std::string> Failures;

  // One line per figure, for people.
  std::string Text() const;
};

// Runs the load against a started server; clientEngine hosts the remote
// sessions. Never raises for a failure of the server under load: it goes to
// Failures. Bounded: returns shortly after Duration (each request of a
// client has the session's time-out, 30 s).
LoadReport RunLoad(TBRNEngineManager& clientEngine, const LoadOptions& options);

}  // namespace brn::test
