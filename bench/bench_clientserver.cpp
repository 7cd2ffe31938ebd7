// The remote client against a local session of the same engine, on the same
// in-memory database of a server on 127.0.0.1: point selects by key and
// single-row INSERTs per second with 1 and 8 clients (each client a session
// of its own on its own thread), and a fetch of 100,000 rows with 1, 100 and
// 1000 rows per block. Every remote operation is a real request over
// loopback TCP; the local side runs the same statements in process.
//
// T (ID INTEGER primary key, Name VARCHAR(20), Amount INTEGER), 100,000
// rows; the INSERTs go to Added (ID INTEGER primary key, Name VARCHAR(20)).
//
// PostgreSQL over loopback is the outside reference where Debian's
// postgresql-15 and libpq-dev are installed; without them its benchmark
// says so and is skipped.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "clientserver/remote/remote_cursor.h"
#include "clientserver/remote/remote_managers.h"
#include "clientserver/remote/remote_session_manager.h"
#include "clientserver/server/server_engine_manager.h"
#include "execution/handles/local_statement_manager.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/cursors/cursor.h"

namespace brn {
namespace {

constexpr int32_t kRows = 100000;
constexpr const char* kUser = "Administrator";
constexpr const char* kPassword = "GlenHarbor";

// The server, its data and the client engine, built once per process.
struct Fixture {
  Fixture() {
    Folder = (std::filesystem::temp_directory_path() /
              ("bench-clientserver-" + std::to_string(getpid())))
                 .string();
    std::filesystem::remove_all(Folder);
    std::filesystem::create_directories(Folder);
    Server.Settings->SetConfigPath(Folder);
    Server.ServerAddress = "127.0.0.1";
    Server.ServerPort = 0;
    Server.ServerAuthorizedAddresses->Add("*");
    Server.JobTimerInterval = 0;
    Server.SweepTimerEnabled = false;
    Server.ServerThreadCacheSize = 16;
    Server.Start();
    Port = Server.GetListeningPort();

    TBRNLocalSessionManager setup(&Server, false, false);
    setup.OpenSession("bench:setup", "setup", "");
    setup.Login(kUser, kPassword);
    TBRNDatabaseManager* configuration = setup.OpenDatabase("Configuration", kBRNLockShared);
    Run(configuration, "CREATE DATABASE Bench IN MEMORY");
    setup.CloseDatabase(configuration);
    TBRNDatabaseManager* database = setup.OpenDatabase("Bench", kBRNLockShared);
    Run(database, "CREATE TABLE T (ID INTEGER, Name VARCHAR(20), Amount INTEGER, PRIMARY KEY (ID))");
    Run(database, "CREATE TABLE Added (ID INTEGER, Name VARCHAR(20), PRIMARY KEY (ID))");
    TBRNStringsList all;
    database->StartTransaction(all, -1);
    auto* insert = static_cast<TBRNLocalStatementManager*>(
        database->PrepareStatement("INSERT INTO T (ID, Name, Amount) VALUES (?, ?, ?)"));
    for (int32_t id = 1; id <= kRows; ++id) {
      insert->Params->GetItem(0)->SetAsInteger(id);
      insert->Params->GetItem(1)->SetAsString("name " + std::to_string(id % 977));
      insert->Params->GetItem(2)->SetAsInteger(id % 1000);
      insert->ExecuteStatement();
    }
    TBRNLocalStatementManager::FreeStatement(insert);
    database->Commit(false, false);
    setup.CloseDatabase(database);
    setup.Logout();
    setup.CloseSession();
  }

  ~Fixture() {
    Server.Stop();
    std::filesystem::remove_all(Folder);
  }

  static void Run(TBRNDatabaseManager* database, const std::string& sql) {
    auto* statement = static_cast<TBRNLocalStatementManager*>(database->PrepareStatement(sql));
    statement->ExecuteStatement();
    TBRNLocalStatementManager::FreeStatement(statement);
  }

  std::string Folder;
  TBRNServerEngineManager Server;
  uint16_t Port = 0;
  TBRNEngineManager ClientEngine;
  std::atomic<int32_t> NextAdded{1};
  std::atomic<int32_t> NextClient{1};
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// One client: a session with the Bench database open, remote or local. The
// remote session opens on the thread that uses it.
class Client {
 public:
  explicit Client(bool remote) : remote_(remote) {
    Fixture& f = fixture();
    const std::string name = "bench" + std::to_string(f.NextClient++);
    if (remote) {
      auto session = std::make_unique<TBRNRemoteSessionManager>(&f.ClientEngine);
      session->RemotePort = f.Port;
      session->SetRemotePing(false);
      session->OpenSession("bench:" + std::to_string(getpid()), name, "");
      session_ = std::move(session);
    } else {
      auto session = std::make_unique<TBRNLocalSessionManager>(&f.Server, false, false);
      session->OpenSession("bench:local", name, "");
      session_ = std::move(session);
    }
    session_->Login(kUser, kPassword);
    Database = session_->OpenDatabase("Bench", kBRNLockShared);
  }

  ~Client() {
    session_->CloseDatabase(Database);
    session_->Logout();
    session_->CloseSession();
  }

  TBRNStatementManager* Prepare(const std::string& sql) { return Database->PrepareStatement(sql); }

  void Free(TBRNStatementManager* statement) {
    if (remote_) {
      delete statement;
    } else {
      auto* local = static_cast<TBRNLocalStatementManager*>(statement);
      TBRNLocalStatementManager::FreeStatement(local);
    }
  }

  void Free(TBRNCursor* cursor) {
    if (!remote_) Database->Cursors.RemoveObject(cursor, false);
    delete cursor;
  }

  TBRNDatabaseManager* Database = nullptr;

 private:
  bool remote_;
  std::unique_ptr<TBRNSessionManager> session_;
};

void PointSelect(benchmark::State& state, bool remote) {
  Client client(remote);
  TBRNStatementManager* select = client.Prepare("SELECT * FROM T WHERE ID = ?");
  std::mt19937 random(uint32_t(state.thread_index() + 1));
  std::uniform_int_distribution<int32_t> ids(1, kRows);
  int64_t found = 0;
  for (auto _ : state) {
    select->Params->GetItem(0)->SetAsInteger(ids(random));
    TBRNCursor* cursor = select->ExecuteStatement();
    std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
    if (cursor->FirstRow() && !cursor->GetEof()) {
      cursor->ReadRow(*row);
      ++found;
    }
    row.reset();
    client.Free(cursor);
  }
  client.Free(select);
  if (found != int64_t(state.iterations())) state.SkipWithError("a key was not found");
  state.SetItemsProcessed(state.iterations());
}

void BM_Remote_PointSelect(benchmark::State& state) {
  PointSelect(state, true);
}
void BM_Local_PointSelect(benchmark::State& state) {
  PointSelect(state, false);
}
BENCHMARK(BM_Remote_PointSelect)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_Local_PointSelect)->Threads(1)->Threads(8)->UseRealTime();

void Insert(benchmark::State& state, bool remote) {
  Client client(remote);
  TBRNStatementManager* insert = client.Prepare("INSERT INTO Added (ID, Name) VALUES (?, 'x')");
  Fixture& f = fixture();
  for (auto _ : state) {
    insert->Params->GetItem(0)->SetAsInteger(f.NextAdded++);
    insert->ExecuteStatement();
  }
  client.Free(insert);
  state.SetItemsProcessed(state.iterations());
}

void BM_Remote_Insert(benchmark::State& state) {
  Insert(state, true);
}
void BM_Local_Insert(benchmark::State& state) {
  Insert(state, false);
}
BENCHMARK(BM_Remote_Insert)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_Local_Insert)->Threads(1)->Threads(8)->UseRealTime();

// Every row of T read in order; the remote cursor fetches range(0) rows per
// request (the execution's reply brings the first block).
void Fetch(benchmark::State& state, bool remote) {
  Client client(remote);
  TBRNStatementManager* select = client.Prepare("SELECT * FROM T");
  int64_t rows = 0;
  for (auto _ : state) {
    TBRNCursor* cursor = select->ExecuteStatement();
    if (remote) static_cast<TBRNRemoteCursor*>(cursor)->RowsPerBlock = int32_t(state.range(0));
    std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
    rows = 0;
    for (bool on = cursor->FirstRow(); on && !cursor->GetEof(); on = cursor->NextRow()) {
      cursor->ReadRow(*row);
      ++rows;
    }
    row.reset();
    client.Free(cursor);
  }
  client.Free(select);
  if (rows != kRows) state.SkipWithError("not every row was read");
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_Remote_Fetch(benchmark::State& state) {
  Fetch(state, true);
}
void BM_Local_Fetch(benchmark::State& state) {
  Fetch(state, false);
}
BENCHMARK(BM_Remote_Fetch)->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Local_Fetch)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PostgreSQL(benchmark::State& state) {
  state.SkipWithError(
      "PostgreSQL 15 (postgresql-15 and libpq-dev) is not installed: no outside reference");
  for (auto _ : state) {
  }
}
BENCHMARK(BM_PostgreSQL);

}  // namespace
}  // namespace brn

BENCHMARK_MAIN();
