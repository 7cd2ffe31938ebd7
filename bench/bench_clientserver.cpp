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

#include "clientserver_bench_host.h"

namespace brn {
namespace {

using bench::Client;
using bench::fixture;
using bench::Fixture;
using bench::kRows;

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
