#include "tools/load_tool.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "clientserver/remote/remote_session_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "foundation/values/value.h"
#include "sessions/manager_interfaces.h"
#include "storage/cursors/cursor.h"

namespace brn::test {

namespace {

using Clock = std::chrono::steady_clock;

// Failures are shared by every thread of a run; the first few are kept.
class FailureList {
 public:
  void Add(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (items_.size() < 50) items_.push_back(text);
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::move(items_);
  }

 private:
  std::mutex lock_;
  std::vector<std::string> items_;
};

std::unique_ptr<TBRNRemoteSessionManager> openSession(TBRNEngineManager& engine,
                                                      const LoadOptions& options,
                                                      const std::string& name) {
  auto session = std::make_unique<TBRNRemoteSessionManager>(&engine);
  session->RemoteAddress = options.Address;
  session->RemotePort = options.Port;
  session->SetRemotePing(false);
  session->SetRemoteTimeout(30);
  session->OpenSession("load:" + std::to_string(getpid()), name, "load client");
  session->Login(options.User, options.Password);
  return session;
}

void exec(TBRNDatabaseManager* database, const std::string& sql) {
  std::unique_ptr<TBRNStatementManager> statement(database->PrepareStatement(sql));
  statement->ExecuteStatement();
}

// The single value of a one-row, one-column SELECT (an empty result is -1).
int64_t queryInteger(TBRNDatabaseManager* database, const std::string& sql) {
  std::unique_ptr<TBRNStatementManager> statement(database->PrepareStatement(sql));
  TBRNCursor* cursor = statement->ExecuteStatement();  // freed with the statement
  if (cursor == nullptr || !cursor->FirstRow() || cursor->GetEof()) return -1;
  std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
  cursor->GetCurrentRow(*row, false);
  TBRNValue* value = row->Values.GetItem(row->Values.GetCount() - 1);
  return value->GetNull() ? -1 : value->GetAsBigInt();
}

int32_t columnOf(TBRNCursor& cursor, const std::string& name) {
  TBRNColumns& columns = cursor.GetTableColumns();
  for (int32_t i = 0; i < columns.Count(); ++i)
    if (columns.GetItem(i)->Name == name) return i;
  throw std::invalid_argument("no column " + name);
}

// Orders cursor by its primary key, so that its moves follow the key.
void usePrimaryKey(TBRNCursor& cursor) {
  TBRNCursorIndexes& indexes = cursor.GetIndexes();
  for (int32_t i = 0; i < indexes.Count(); ++i)
    if (indexes.GetItem(i)->IndexType == kIndexPrimaryKey) cursor.SetActiveIndex(i);
}

int32_t countDescriptors() {
  std::error_code error;
  int32_t count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error))
    ++count;
  return count;
}

// Threads and resident memory (KiB) of the process, from /proc/self/status.
void readStatus(int32_t& threads, int64_t& residentKiB) {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "Threads:")
      status >> threads;
    else if (key == "VmRSS:")
      status >> residentKiB;
    status.ignore(1 << 16, '\n');
  }
}

std::string describe(const std::exception& error) {
  if (const auto* engine = dynamic_cast<const EBRNException*>(&error))
    return std::to_string(engine->ErrorCode) + " " + engine->what();
  return error.what();
}

// What one client did; compared with its rows at the end.
struct ClientTally {
  int64_t Transfers = 0;
  int64_t Inserts = 0;
  int64_t Selects = 0;
  std::map<int32_t, int64_t> Refused;
  std::vector<float> LatenciesMs;
};

class LoadRun {
 public:
  LoadRun(TBRNEngineManager& engine, const LoadOptions& options)
      : engine_(engine), options_(options), tallies_(size_t(options.Threads)) {}

  LoadReport Run() {
    LoadReport report;
    report.Threads = options_.Threads;
    std::unique_ptr<TBRNRemoteSessionManager> admin = openSession(engine_, options_, "load admin");
    TBRNDatabaseManager* database = prepare(*admin);
    expectedSum_ = int64_t(options_.Accounts) * options_.InitialBalance;

    const Clock::time_point start = Clock::now();
    deadline_ = start + options_.Duration;
    std::vector<std::thread> clients;
    clients.reserve(size_t(options_.Threads));
    for (int32_t i = 0; i < options_.Threads; ++i) clients.emplace_back([this, i] { client(i); });
    checkWhileRunning(database, report);
    for (std::thread& thread : clients) thread.join();
    report.Seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<float> latencies;
    for (ClientTally& tally : tallies_) {
      report.Transfers += tally.Transfers;
      report.Inserts += tally.Inserts;
      report.Selects += tally.Selects;
      for (const auto& [code, count] : tally.Refused) report.Refused[code] += count;
      latencies.insert(latencies.end(), tally.LatenciesMs.begin(), tally.LatenciesMs.end());
    }
    report.Operations = int64_t(latencies.size());
    report.Throughput = report.Seconds > 0 ? double(report.Operations) / report.Seconds : 0;
    if (!latencies.empty()) {
      const size_t at = std::min(latencies.size() - 1, latencies.size() * 99 / 100);
      std::nth_element(latencies.begin(), latencies.begin() + ptrdiff_t(at), latencies.end());
      report.P99Ms = latencies[at];
      report.MaxMs = *std::max_element(latencies.begin(), latencies.end());
    }
    checkAfterLogout(*admin, database);
    admin->Logout();
    report.Failures = failures_.Take();
    return report;
  }

 private:
  TBRNDatabaseManager* prepare(TBRNRemoteSessionManager& admin) {
    TBRNDatabaseManager* configuration = admin.OpenDatabase("Configuration", kBRNLockShared);
    try {
      exec(configuration, "DROP DATABASE " + options_.Database);
    } catch (const EBRNException&) {
      // No such database yet.
    }
    exec(configuration, "CREATE DATABASE " + options_.Database + " IN MEMORY");
    admin.CloseDatabase(configuration);
    TBRNDatabaseManager* database = admin.OpenDatabase(options_.Database, kBRNLockShared);
    exec(database, "CREATE TABLE Accounts (ID INTEGER PRIMARY KEY, Balance INTEGER)");
    exec(database,
         "CREATE TABLE Transfers (Client INTEGER, Seq INTEGER, Amount INTEGER, "
         "PRIMARY KEY (Client, Seq))");
    exec(database,
         "CREATE TABLE Entries (Client INTEGER, Seq INTEGER, Note VARCHAR(40), "
         "PRIMARY KEY (Client, Seq))");
    for (int32_t id = 1; id <= options_.Accounts; ++id) {
      exec(database, "INSERT INTO Accounts VALUES (" + std::to_string(id) + ", " +
                         std::to_string(options_.InitialBalance) + ")");
    }
    return database;
  }

  // One client: a session of its own and a mix of operations until the
  // deadline, then logout.
  void client(int32_t index) {
    ClientTally& tally = tallies_[size_t(index)];
    const int32_t id = index + 1;
    std::mt19937 random(options_.Seed + uint32_t(index));
    std::unique_ptr<TBRNRemoteSessionManager> session;
    try {
      session = openSession(engine_, options_, "load " + std::to_string(id));
      TBRNDatabaseManager* database = session->OpenDatabase(options_.Database, kBRNLockShared);
      std::unique_ptr<TBRNCursor> entries(database->OpenTable("", "Entries", false, false));
      const int32_t clientColumn = columnOf(*entries, "Client");
      const int32_t seqColumn = columnOf(*entries, "Seq");
      const int32_t noteColumn = columnOf(*entries, "Note");
      std::unique_ptr<TBRNCursorRow> row = entries->CreateRow();
      TBRNStringsList lockedTables;
      lockedTables.Add("Accounts");
      lockedTables.Add("Transfers");

      while (Clock::now() < deadline_) {
        const Clock::time_point begun = Clock::now();
        const uint32_t pick = random() % 10;
        if (pick < 5) {
          transfer(*database, lockedTables, id, random, tally);
        } else if (pick < 8) {
          entries->InitializeRow(*row);
          row->Values.GetItem(clientColumn)->SetAsInteger(id);
          row->Values.GetItem(seqColumn)->SetAsInteger(int32_t(tally.Inserts + 1));
          row->Values.GetItem(noteColumn)
              ->SetAsString("entry " + std::to_string(tally.Inserts + 1));
          if (!entries->InsertRow(*row))
            failures_.Add("client " + std::to_string(id) + ": insert refused");
          ++tally.Inserts;
        } else {
          const int64_t seen = queryInteger(
              database, "SELECT COUNT(*) FROM Entries WHERE Client = " + std::to_string(id));
          if (seen != tally.Inserts) {
            failures_.Add("client " + std::to_string(id) + " sees " + std::to_string(seen) +
                          " of its " + std::to_string(tally.Inserts) + " entries");
          }
          ++tally.Selects;
        }
        tally.LatenciesMs.push_back(
            std::chrono::duration<float, std::milli>(Clock::now() - begun).count());
      }
      entries.reset();
      session->CloseDatabase(database);
    } catch (const std::exception& error) {
      failures_.Add("client " + std::to_string(id) + ": " + describe(error));
    }
    if (session) session->Logout();
  }

  void transfer(TBRNDatabaseManager& database, const TBRNStringsList& tables, int32_t id,
                std::mt19937& random, ClientTally& tally) {
    const int32_t from = 1 + int32_t(random() % uint32_t(options_.Accounts));
    int32_t to = 1 + int32_t(random() % uint32_t(options_.Accounts - 1));
    if (to >= from) ++to;
    const int32_t amount = 1 + int32_t(random() % 50);
    try {
      database.StartTransaction(tables, options_.LockWaitMs);
    } catch (const EBRNException& error) {
      ++tally.Refused[error.ErrorCode];
      return;
    }
    try {
      exec(&database, "UPDATE Accounts SET Balance = Balance - " + std::to_string(amount) +
                          " WHERE ID = " + std::to_string(from));
      exec(&database, "UPDATE Accounts SET Balance = Balance + " + std::to_string(amount) +
                          " WHERE ID = " + std::to_string(to));
      exec(&database, "INSERT INTO Transfers VALUES (" + std::to_string(id) + ", " +
                          std::to_string(tally.Transfers + 1) + ", " + std::to_string(amount) +
                          ")");
    } catch (...) {
      database.Rollback();
      throw;
    }
    database.Commit(false, false);
    ++tally.Transfers;
  }

  // The checker: the sum of the balances, and the process's peaks, until the
  // clients are done.
  void checkWhileRunning(TBRNDatabaseManager* database, LoadReport& report) {
    while (Clock::now() < deadline_) {
      try {
        const int64_t sum = queryInteger(database, "SELECT SUM(Balance) FROM Accounts");
        if (sum != expectedSum_) failures_.Add("balance sum " + std::to_string(sum));
        ++report.SumChecks;
      } catch (const std::exception& error) {
        failures_.Add("sum check: " + describe(error));
      }
      int32_t threads = 0;
      int64_t resident = 0;
      readStatus(threads, resident);
      report.PeakProcessThreads = std::max(report.PeakProcessThreads, threads);
      report.PeakResidentKiB = std::max(report.PeakResidentKiB, resident);
      report.PeakDescriptors = std::max(report.PeakDescriptors, countDescriptors());
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  // Every client has logged out: its rows match its counters, no server
  // session but the admin's is left, and every account row can be locked.
  void checkAfterLogout(TBRNRemoteSessionManager& admin, TBRNDatabaseManager* database) {
    try {
      const int64_t sum = queryInteger(database, "SELECT SUM(Balance) FROM Accounts");
      if (sum != expectedSum_) failures_.Add("final balance sum " + std::to_string(sum));
      for (int32_t i = 0; i < options_.Threads; ++i) {
        const ClientTally& tally = tallies_[size_t(i)];
        const std::string client = std::to_string(i + 1);
        const int64_t transfers =
            queryInteger(database, "SELECT COUNT(*) FROM Transfers WHERE Client = " + client);
        const int64_t entries =
            queryInteger(database, "SELECT COUNT(*) FROM Entries WHERE Client = " + client);
        if (transfers != tally.Transfers || entries != tally.Inserts) {
          failures_.Add("client " + client + ": " + std::to_string(transfers) + "/" +
                        std::to_string(entries) + " rows for " + std::to_string(tally.Transfers) +
                        "/" + std::to_string(tally.Inserts) + " counted");
        }
      }
      TBRNDatabaseManager* configuration = admin.OpenDatabase("Configuration", kBRNLockShared);
      // A logout needs no reply: the server may still be freeing the last
      // sessions for a moment.
      const int64_t expected = 1 + options_.OtherSessions;
      int64_t sessions = 0;
      for (const Clock::time_point end = Clock::now() + std::chrono::seconds(5);;) {
        sessions = queryInteger(configuration, "SELECT COUNT(*) FROM ServerSessions");
        if (sessions == expected || Clock::now() > end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (sessions != expected) {
        failures_.Add(std::to_string(sessions) + " server sessions after logout, not " +
                      std::to_string(expected));
      }
      admin.CloseDatabase(configuration);

      std::unique_ptr<TBRNCursor> accounts(database->OpenTable("", "Accounts", false, false));
      usePrimaryKey(*accounts);
      std::unique_ptr<TBRNCursorRow> row = accounts->CreateRow();
      int32_t locked = 0;
      for (accounts->FirstRow(); !accounts->GetEof(); accounts->NextRow()) {
        accounts->GetCurrentRow(*row, false);
        accounts->GetCurrentRow(*row, true);
        accounts->CancelRow(*row);
        ++locked;
      }
      if (locked != options_.Accounts) {
        failures_.Add(std::to_string(locked) + " account rows locked of " +
                      std::to_string(options_.Accounts));
      }
    } catch (const std::exception& error) {
      failures_.Add("after logout: " + describe(error));
    }
  }

  TBRNEngineManager& engine_;
  const LoadOptions options_;
  std::vector<ClientTally> tallies_;  // one per client, written only by its thread until joined
  FailureList failures_;
  Clock::time_point deadline_;
  int64_t expectedSum_ = 0;
};

}  // namespace

std::string LoadReport::Text() const {
  std::ostringstream out;
  out << "threads " << Threads << ", " << Seconds << " s\n"
      << "operations " << Operations << " (transfers " << Transfers << ", inserts " << Inserts
      << ", selects " << Selects << "), " << Throughput << " per second\n"
      << "latency p99 " << P99Ms << " ms, max " << MaxMs << " ms\n"
      << "sum checks " << SumChecks << "\n"
      << "process peaks: threads " << PeakProcessThreads << ", descriptors " << PeakDescriptors
      << ", resident " << PeakResidentKiB / 1024 << " MiB\n";
  for (const auto& [code, count] : Refused)
    out << "transfers refused with " << code << ": " << count << "\n";
  for (const std::string& failure : Failures) out << "FAILURE " << failure << "\n";
  return out.str();
}

LoadReport RunLoad(TBRNEngineManager& clientEngine, const LoadOptions& options) {
  if (options.Threads < 1 || options.Accounts < 2)
    throw std::invalid_argument("load: too few threads or accounts");
  return LoadRun(clientEngine, options).Run();
}

}  // namespace brn::test
