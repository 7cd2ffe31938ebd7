// INSERT, UPDATE and DELETE statements and the cursor stream, each against
// SQLite on the same 1,000,000-row table in the same run. Both sides keep
// their files in the temporary folder (SQLite with synchronous=OFF, as the
// engine flushes without syncing); each side prepares its statement once
// and every iteration executes it.
//
//   InsertSelect: INSERT INTO U SELECT of every row of T into the emptied
//     table U of the same columns.
//   UpdateIndexed: UPDATE of the 10% of T's rows an indexed WHERE selects.
//   DeleteHalf: DELETE of half of D (a copy of T) by a range of its key.
//   StreamSave / StreamLoad: T's rows saved into a cursor stream in memory,
//     and that stream loaded into the emptied table U; SQLite reads the same
//     rows by stepping over SELECT * (every column), and inserts them,
//     read beforehand, through one prepared statement in one transaction.
//
// Each runs once per process (a second DELETE would find nothing, and a
// refill costs more than the statement): run the program a few times for
// a median.
//
// T, U and D: ID INTEGER primary key, A INTEGER indexed, B INTEGER,
// S CHAR(12); row i has A = i % 1000, B = i % 7, S = "k" + (i % 9973).
// SQLite's tables have a unique index on ID (not a row ID alias), so that
// both look a key up in an index and then reach the row.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "execution/cursors/local_cursor.h"
#include "execution/execution_test_support.h"
#include "foundation/core/memory_stream.h"
#include "session_bench_host.h"
#include "storage/cursors/cursor.h"
#include "storage/rows/row_file_navigator.h"

namespace brn {
namespace {

constexpr int64_t kRows = 1000000;

void Check(int rc, sqlite3* db, int expected = SQLITE_OK) {
  if (rc != expected) throw std::runtime_error(sqlite3_errmsg(db));
}

struct Fixture {
  Fixture() {
    Session->Login("Administrator", "GlenHarbor");
    testing::Execute(*Session, "CREATE DATABASE Bench PATH 'bench'");
    Db = static_cast<TBRNLocalDatabaseManager*>(Session->OpenDatabase("Bench", kBRNLockShared));
    Check(sqlite3_open((Lite.Path + "bench.db").c_str(), &Db3), Db3);
    exec("PRAGMA synchronous=OFF");
    for (const char* table : {"T", "U", "D"}) {
      brindle(std::string("CREATE TABLE ") + table +
              " (ID INTEGER PRIMARY KEY, A INTEGER, B INTEGER, S CHAR(12))");
      brindle(std::string("CREATE INDEX By") + table + "A ON " + table + " (A)");
      exec(std::string("CREATE TABLE ") + table + " (ID INTEGER, A INTEGER, B INTEGER, S TEXT)");
      exec(std::string("CREATE UNIQUE INDEX ") + table + "PK ON " + table + " (ID)");
      exec(std::string("CREATE INDEX By") + table + "A ON " + table + " (A)");
    }
    fill("T");
    fill("D");
  }

  // The rows of T on both sides, committed every 50,000 rows.
  void fill(const std::string& name) {
    auto* manager = dynamic_cast<TBRNTableManager*>(Db->OpenSchemaObjectManager("", name, false));
    if (manager == nullptr) throw std::logic_error("not a table manager");
    auto buffer = manager->NewRowBuffer();
    TBRNRowsetRowValues values(manager->GetColumns(), manager);
    values.SetRow(buffer.get());
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(Db3, ("INSERT INTO " + name + " VALUES (?, ?, ?, ?)").c_str(), -1,
                             &insert, nullptr),
          Db3);
    for (int64_t first = 1; first <= kRows; first += 50000) {
      manager->StartTransaction();
      exec("BEGIN");
      for (int64_t i = first; i < first + 50000 && i <= kRows; ++i) {
        const std::string s = "k" + std::to_string(i % 9973);
        values.SetAllNull();
        values.GetItem(1)->SetAsBigInt(i);
        values.GetItem(2)->SetAsBigInt(i % 1000);
        values.GetItem(3)->SetAsBigInt(i % 7);
        values.GetItem(4)->SetAsString(s);
        int32_t row = 0, version = 0, counter = 0;
        manager->InsertRow(values, row, version, counter, false);
        sqlite3_bind_int64(insert, 1, i);
        sqlite3_bind_int64(insert, 2, i % 1000);
        sqlite3_bind_int64(insert, 3, i % 7);
        sqlite3_bind_text(insert, 4, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
        Check(sqlite3_step(insert), Db3, SQLITE_DONE);
        sqlite3_reset(insert);
      }
      manager->CommitTransaction();
      exec("COMMIT");
    }
    sqlite3_finalize(insert);
    values.SetRow(nullptr);
    manager->Close(false, true);
  }

  void exec(const std::string& sql) {
    Check(sqlite3_exec(Db3, sql.c_str(), nullptr, nullptr, nullptr), Db3);
  }
  // Prepares, executes and frees sql on the Brindle side; the rows it
  // changed.
  int32_t brindle(const std::string& sql) {
    auto* statement = static_cast<TBRNLocalStatementManager*>(Db->PrepareStatement(sql));
    int32_t rows = 0;
    try {
      statement->ExecuteStatement();
      rows = statement->GetRowsAffected();
    } catch (...) {
      TBRNLocalStatementManager::FreeStatement(statement);
      throw;
    }
    TBRNLocalStatementManager::FreeStatement(statement);
    return rows;
  }

  testing::ExecutionInstaller Installer;
  testing::TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
  TBRNLocalDatabaseManager* Db = nullptr;
  BenchFolder Lite{"dml_sqlite"};
  sqlite3* Db3 = nullptr;
};

Fixture& fixture() {
  static Fixture* instance = new Fixture();
  return *instance;
}

// A statement both sides run, and the untimed preparation of its table
// before each iteration.
struct Statement {
  const char* Label;
  const char* Brindle;
  const char* SQLite;
  // The preparation of one side (Brindle's when brindle).
  void (*Before)(Fixture&, bool brindle);
  int32_t Rows;
};

const Statement kStatements[] = {
    {"INSERT ... SELECT of 1,000,000 rows", "INSERT INTO U SELECT ID, A, B, S FROM T",
     "INSERT INTO U SELECT ID, A, B, S FROM T", [](Fixture& f, bool brindle) {
       if (brindle)
         f.Db->EmptyTable("U", false);
       else
         f.exec("DELETE FROM U");
     },
     int32_t(kRows)},
    {"UPDATE of 10% by an indexed WHERE", "UPDATE T SET B = B + 1 WHERE A < 100",
     "UPDATE T SET B = B + 1 WHERE A < 100", nullptr, int32_t(kRows / 10)},
    {"DELETE of half by a key range", "DELETE FROM D WHERE ID <= 500000",
     "DELETE FROM D WHERE ID <= 500000",
     nullptr, int32_t(kRows / 2)},
};

void BM_Brindle_Dml(benchmark::State& state) {
  Fixture& f = fixture();
  const Statement& statement = kStatements[state.range(0)];
  auto* prepared = static_cast<TBRNLocalStatementManager*>(f.Db->PrepareStatement(statement.Brindle));
  for (auto _ : state) {
    if (statement.Before != nullptr) {
      state.PauseTiming();
      statement.Before(f, true);
      state.ResumeTiming();
    }
    prepared->ExecuteStatement();
    if (prepared->GetRowsAffected() != statement.Rows)
      throw std::runtime_error("unexpected row count " +
                               std::to_string(prepared->GetRowsAffected()));
  }
  TBRNLocalStatementManager::FreeStatement(prepared);
  state.SetLabel(statement.Label);
  state.SetItemsProcessed(state.iterations() * statement.Rows);
}

void BM_SQLite_Dml(benchmark::State& state) {
  Fixture& f = fixture();
  const Statement& statement = kStatements[state.range(0)];
  sqlite3_stmt* prepared = nullptr;
  Check(sqlite3_prepare_v2(f.Db3, statement.SQLite, -1, &prepared, nullptr), f.Db3);
  for (auto _ : state) {
    if (statement.Before != nullptr) {
      state.PauseTiming();
      statement.Before(f, false);
      state.ResumeTiming();
    }
    Check(sqlite3_step(prepared), f.Db3, SQLITE_DONE);
    sqlite3_reset(prepared);
    if (sqlite3_changes(f.Db3) != statement.Rows) throw std::runtime_error("unexpected row count");
  }
  sqlite3_finalize(prepared);
  state.SetLabel(statement.Label);
  state.SetItemsProcessed(state.iterations() * statement.Rows);
}

// Both engines statement by statement, so that each ratio reads off two
// lines.
void RegisterStatements() {
  for (int64_t i = 0; i < int64_t(std::size(kStatements)); ++i) {
    benchmark::RegisterBenchmark("BM_Brindle_Dml", BM_Brindle_Dml)
        ->Arg(i)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_SQLite_Dml", BM_SQLite_Dml)
        ->Arg(i)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
}

[[maybe_unused]] const bool kRegistered = (RegisterStatements(), true);

// A local cursor on a table of the fixture's database, freed with it.
struct TableCursor {
  TableCursor(Fixture& f, const std::string& table) : Db(f.Db) {
    Cursor = dynamic_cast<TBRNLocalCursor*>(f.Db->OpenTable("", table, false, false));
    if (Cursor == nullptr) throw std::logic_error("not a local cursor");
  }
  ~TableCursor() {
    Db->Cursors.RemoveObject(Cursor, false);
    delete Cursor;
  }
  TableCursor(const TableCursor&) = delete;
  TableCursor& operator=(const TableCursor&) = delete;

  TBRNLocalDatabaseManager* Db;
  TBRNLocalCursor* Cursor = nullptr;
};

// T's stream, saved once for the loads.
const TBRNMemoryStream& SavedStream() {
  static const TBRNMemoryStream* stream = [] {
    auto* saved = new TBRNMemoryStream();
    TableCursor t(fixture(), "T");
    t.Cursor->SaveToStream(*saved, false);
    return saved;
  }();
  return *stream;
}

void BM_Brindle_StreamSave(benchmark::State& state) {
  Fixture& f = fixture();
  TableCursor t(f, "T");
  int64_t bytes = 0;
  for (auto _ : state) {
    TBRNMemoryStream stream;
    t.Cursor->SaveToStream(stream, false);
    bytes = stream.GetSize();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  state.SetLabel(std::to_string(bytes) + " bytes");
}
BENCHMARK(BM_Brindle_StreamSave)->Unit(benchmark::kMillisecond)->Iterations(1);

// The rows of T as SQLite gives them, each column read.
void BM_SQLite_ReadRows(benchmark::State& state) {
  Fixture& f = fixture();
  sqlite3_stmt* select = nullptr;
  Check(sqlite3_prepare_v2(f.Db3, "SELECT ID, A, B, S FROM T", -1, &select, nullptr), f.Db3);
  int64_t sum = 0;
  for (auto _ : state) {
    int64_t rows = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      sum += sqlite3_column_int64(select, 0) + sqlite3_column_int64(select, 1) +
             sqlite3_column_int64(select, 2) + sqlite3_column_bytes(select, 3);
      ++rows;
    }
    sqlite3_reset(select);
    if (rows != kRows) throw std::runtime_error("SQLite lost rows");
  }
  sqlite3_finalize(select);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SQLite_ReadRows)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Brindle_StreamLoad(benchmark::State& state) {
  Fixture& f = fixture();
  const TBRNMemoryStream& saved = SavedStream();
  TBRNMemoryStream stream;
  stream.Write(saved.GetMemory(), int32_t(saved.GetSize()));
  for (auto _ : state) {
    state.PauseTiming();
    f.Db->EmptyTable("U", false);
    stream.SetPosition(0);
    TableCursor u(f, "U");
    state.ResumeTiming();
    u.Cursor->LoadFromStream(stream, 0);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_Brindle_StreamLoad)->Unit(benchmark::kMillisecond)->Iterations(1);

struct LiteRow {
  int64_t Id, A, B;
  std::string S;
};

void BM_SQLite_InsertRows(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<LiteRow> rows;
  rows.reserve(size_t(kRows));
  {
    sqlite3_stmt* select = nullptr;
    Check(sqlite3_prepare_v2(f.Db3, "SELECT ID, A, B, S FROM T", -1, &select, nullptr), f.Db3);
    while (sqlite3_step(select) == SQLITE_ROW)
      rows.push_back({sqlite3_column_int64(select, 0), sqlite3_column_int64(select, 1),
                      sqlite3_column_int64(select, 2),
                      reinterpret_cast<const char*>(sqlite3_column_text(select, 3))});
    sqlite3_finalize(select);
  }
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(f.Db3, "INSERT INTO U VALUES (?, ?, ?, ?)", -1, &insert, nullptr),
        f.Db3);
  for (auto _ : state) {
    state.PauseTiming();
    f.exec("DELETE FROM U");
    state.ResumeTiming();
    f.exec("BEGIN");
    for (const LiteRow& row : rows) {
      sqlite3_bind_int64(insert, 1, row.Id);
      sqlite3_bind_int64(insert, 2, row.A);
      sqlite3_bind_int64(insert, 3, row.B);
      sqlite3_bind_text(insert, 4, row.S.c_str(), int(row.S.size()), SQLITE_STATIC);
      Check(sqlite3_step(insert), f.Db3, SQLITE_DONE);
      sqlite3_reset(insert);
    }
    f.exec("COMMIT");
  }
  sqlite3_finalize(insert);
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SQLite_InsertRows)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace brn
